// The installation thread, headless: real installations from real
// containers into the sandbox, checked file by file, link by link, value by
// value, manifest line by line and log line by line.
#include "installs_thread.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "installs.h"
#include "installs_container.h"
#include "installs_local_files.h"
#include "installs_manifest.h"
#include "installs_settings.h"
#include "kvn_crypt.h"
#include "plat_durable.h"
#include "plat_path_map.h"
#include "plat_registry.h"
#include "plat_shell_link.h"
#include "qlm_base_lists.h"
#include "qlm_parser_vormcode_escape.h"
#include "qlm_platform.h"
#include "qlm_platform_file.h"
#include "qlm_platform_file_io.h"
#include "sandbox.h"

extern "C" const uint8_t qlm_real_install_data[];
extern "C" const uint64_t qlm_real_install_data_size;

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const std::string kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane Snaprill";

std::string win_of(const std::string& host) {
  std::string win;
  EXPECT_TRUE(plat::from_posix(host, win)) << host;
  return win;
}

std::string host_of(const std::string& win) {
  std::string host;
  EXPECT_EQ(plat::to_posix(win, host), plat::kPathOk) << win;
  return host;
}

std::string read_file(const std::string& host) {
  std::ifstream in(host, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::string& host, const std::string& bytes) {
  std::ofstream(host, std::ios::binary | std::ios::trunc) << bytes;
}

// Every file and folder below the host folder, relative, sorted; folders end in "/".
std::vector<std::string> tree(const std::string& host) {
  std::vector<std::string> names;
  if (!fs::exists(host)) return names;
  for (const auto& e : fs::recursive_directory_iterator(host))
    names.push_back(fs::relative(e.path(), host).string() + (e.is_directory() ? "/" : ""));
  std::sort(names.begin(), names.end());
  return names;
}

// The decrypted manifest split into its CR LF lines, without its check line
// (which must be there and match); the text must end with CR LF.
Lines manifest_lines(const std::string& host_file) {
  std::string bytes = read_file(host_file);
  if (bytes.empty()) return {"<no manifest>"};
  EXPECT_TRUE(crypt_decrypt_buffer(bytes.data(), int64_t(bytes.size()), manifest_passphrase()));
  EXPECT_EQ(manifest_check(bytes), 1) << "the check line is missing or does not match";
  const size_t check = bytes.rfind(cnManifestCheckTag);
  if (check != std::string::npos) bytes.resize(check);
  Lines lines;
  size_t at = 0;
  for (size_t end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(bytes.substr(at, end - at));
  EXPECT_EQ(at, bytes.size()) << "text after the last CR LF";
  return lines;
}

// A container for cases the builder refuses to make.
struct Spec {
  uint8_t kind = 1;
  std::string name, path, plain;
  uint8_t main = 0;
  int32_t size_delta = 0;  // added to the unpacked size written in the header
  bool damaged = false;    // a byte in the middle of the stream changed (checks still match)
};

void put(std::string& b, size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b[at + size_t(i)] = char(uint8_t(v >> (8 * i)));
}

uint32_t check_of(const std::string& s) {
  return ~uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
}

std::string assemble(const std::vector<Spec>& specs) {
  std::string out = "IDF100";
  for (const Spec& s : specs) {
    std::string payload;
    if (s.kind == 1) {
      uLongf n = compressBound(uLong(s.plain.size()));
      payload.resize(n);
      compress2(reinterpret_cast<Bytef*>(payload.data()), &n, reinterpret_cast<const Bytef*>(s.plain.data()),
                uLong(s.plain.size()), 6);
      payload.resize(n);
      if (s.damaged) payload[payload.size() / 2] ^= 0x55;
    }
    const size_t at = out.size();
    out.resize(at + 32 + s.name.size() + s.path.size());
    std::memcpy(&out[at], "ientry", 6);
    out[at + 6] = char(s.kind);
    put(out, at + 7, uint32_t(s.name.size()), 2);
    std::memcpy(&out[at + 9], s.name.data(), s.name.size());
    const size_t p = at + 9 + s.name.size();
    put(out, p, uint32_t(s.path.size()), 2);
    std::memcpy(&out[p + 2], s.path.data(), s.path.size());
    const size_t f = p + 2 + s.path.size();
    if (s.kind == 1) {
      put(out, f, uint32_t(int64_t(s.plain.size()) + s.size_delta), 4);
      put(out, f + 4, check_of(s.plain), 4);
      put(out, f + 8, uint32_t(payload.size()), 4);
      put(out, f + 12, check_of(payload), 4);
    }
    put(out, f + 16, s.kind == 4 ? 0xFFFFFFFFu : uint32_t(out.size() + payload.size()), 4);
    out[f + 20] = char(s.main);
    out += payload;
  }
  return out;
}

// The window, reduced to what the installation needs of it.
class cTestWindow : public iInstallWindow {
 public:
  std::shared_ptr<cWorkEntries> InstallLog() override { return log; }
  void SetInstallSuccess(bool value) override { success = value; }
  void InstallThreadTerminate(TInstallThread&) override {
    success_at_end = success.load();
    ended.set_value();
  }
  Lines LogLines() {
    Lines lines;
    std::lock_guard<std::mutex> lock(log->Mutex());
    for (const rWorkEntry* e = log->First(); e != nullptr; e = e->next) lines.push_back(e->text);
    return lines;
  }

  std::shared_ptr<cWorkEntries> log = std::make_shared<cWorkEntries>();
  std::atomic<bool> success{true};
  bool success_at_end = false;
  std::promise<void> ended;
};

const std::string kFailureNote =
    "~(p)~<fs:pt=\"-2\">Note: Press ~<b>Print~> button to print this for later reference.~> ";

// Each test installs into a home of its own: special folders, both hives and
// the destination D inside it, with the settings as the window leaves them
// for a per-user installation by a user without privileges.
class InstallThread : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    home_ = testenv::sandbox_dir("inst-" + name);
    setenv("HOME", home_.c_str(), 1);
    setenv("XDG_DATA_HOME", (home_ + "/.local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ + "/.config").c_str(), 1);
    old_machine_ = fs::path(plat::reg_hive_file(plat::RegRoot::LocalMachine)).parent_path().string();
    plat::reg_set_machine_folder(home_ + "/machine");
    install_settings_reset();
    dest_host_ = home_ + "/.local/share/Korvane-Snaprill";
    fs::create_directories(dest_host_);  // the window creates the destination
    gDestination = win_of(dest_host_);
    D_ = gDestination + "\\";
    gNotPrivileged = true;
    UseContainer(std::string(reinterpret_cast<const char*>(qlm_real_install_data), qlm_real_install_data_size));
  }
  void TearDown() override {
    plat::reg_set_machine_folder(old_machine_);
    install_settings_reset();
  }

  // Makes the bytes the registered container (the first registration of a
  // name wins, so later tests point the same entry at their own bytes).
  void UseContainer(std::string bytes) {
    container_ = std::move(bytes);
    rResourceEntry* e = resource_register(cnInstallDataName, container_.data(), int32_t(container_.size()));
    ASSERT_NE(e, nullptr);
    e->data = container_.data();
    e->size = int32_t(container_.size());
  }

  // One installation on the calling thread.
  Lines Install(cTestWindow& window) {
    std::unique_ptr<TInstallThread> thread(TInstallThread::Create(&window));
    thread->Execute();
    return window.LogLines();
  }

  std::string FileLine(const std::string& target) { return "~<fs:pt=\"-3\">" + markup_escape(target) + "~>~)"; }

  static std::string Value(const std::string& name) {
    plat::RegKey key;
    std::string data;
    if (plat::reg_open_key(plat::RegRoot::CurrentUser, kUninstallKey, key) != plat::kRegOk) return "<no key>";
    if (plat::reg_query_string(key, name, data) != plat::kRegOk) data = "<no value>";
    return data;
  }
  static std::vector<std::string> ValueNames(plat::RegRoot root) {
    plat::RegKey key;
    std::vector<std::string> names;
    if (plat::reg_open_key(root, kUninstallKey, key) == plat::kRegOk) plat::reg_enum_values(key, names);
    return names;
  }
  static plat::ShellLinkData ReadLink(const std::string& win) {
    std::string error;
    plat::ShellLinkData d;
    EXPECT_TRUE(plat::shell_link_read(host_of(win), d, error)) << win << ": " << error;
    return d;
  }

  std::string home_, old_machine_, dest_host_, D_, container_;
  testenv::SavedEnv saved_{"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"};
};

// The new installation of the installer's own container, with the desktop
// icon: every file, folder, link, registry value, manifest line and log line.
TEST_F(InstallThread, NewInstallationOfTheShippedContainer) {
  cTestWindow window;
  const Lines log = Install(window);
  EXPECT_TRUE(window.success);
  EXPECT_EQ(gAppPath, D_ + "Korvane-Snaprill.exe");

  const std::string src = QLM_INSTALL_DATA_DIR;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"Korvane-Snaprill-EULA.txt", src + "/Korvane-Snaprill-EULA.txt"},
      {"Korvane-Snaprill.exe", QLM_STANDIN_APP},
      {"uninstall.exe", QLM_STANDIN_UNINSTALLER},
      {"Images/snr300.png", src + "/snr300.png"},
      {"Images/water16_9.jpg", src + "/water16_9.jpg"},
      {"Images/water3_2.jpg", src + "/water3_2.jpg"},
      {"Images/water4_3.jpg", src + "/water4_3.jpg"}};
  for (const auto& [rel, source] : files) {
    const std::string bytes = read_file(source);
    ASSERT_FALSE(bytes.empty()) << source;
    EXPECT_EQ(read_file(dest_host_ + "/" + rel), bytes) << rel;
  }
  EXPECT_EQ(tree(dest_host_),
            (std::vector<std::string>{"Captured/", "Compositions/", "Data/", "Images/", "Images/snr300.png",
                                      "Images/water16_9.jpg", "Images/water3_2.jpg", "Images/water4_3.jpg",
                                      "Korvane-Snaprill-EULA.txt", "Korvane-Snaprill.exe", "uninstall.config",
                                      "uninstall.exe"}));
  // The programs can be started.
  EXPECT_EQ(::access((dest_host_ + "/Korvane-Snaprill.exe").c_str(), X_OK), 0);
  EXPECT_EQ(std::system(("'" + dest_host_ + "/Korvane-Snaprill.exe' > /dev/null").c_str()), 0);

  // Links.
  const std::string group = win_of(home_ + "/.local/share/applications") + "\\Korvane Snaprill\\";
  const std::string app_link = group + "Korvane Snaprill.lnk";
  const std::string uninstall_link = group + "Uninstall.lnk";
  const std::string desktop_link = win_of(home_ + "/Desktop") + "\\Korvane Snaprill.lnk";
  const struct {
    std::string link, target;
  } links[] = {{app_link, gAppPath}, {uninstall_link, D_ + "uninstall.exe"}, {desktop_link, gAppPath}};
  for (const auto& l : links) {
    const plat::ShellLinkData d = ReadLink(l.link);
    EXPECT_EQ(d.target, l.target) << l.link;
    EXPECT_EQ(d.working_dir, gDestination) << l.link;
    EXPECT_EQ(d.icon_location, l.target) << l.link;
    EXPECT_EQ(d.icon_index, 0);
    EXPECT_EQ(d.description, "");
    EXPECT_EQ(d.arguments, "");
  }

  // The Uninstall entry: three values in the current user's hive only.
  EXPECT_EQ(ValueNames(plat::RegRoot::CurrentUser),
            (std::vector<std::string>{"UninstallString", "DisplayName", "Publisher"}));
  EXPECT_EQ(Value("UninstallString"), D_ + "uninstall.exe");
  EXPECT_EQ(Value("DisplayName"), "Korvane Snaprill");
  EXPECT_EQ(Value("Publisher"), "korvane.example");
  EXPECT_TRUE(ValueNames(plat::RegRoot::LocalMachine).empty());

  // The manifest, and its length: the text's own.
  const auto item = [](const std::string& k, const std::string& v) { return "  ~<" + k + "=\"" + v + "\">"; };
  // clang-format off
  const Lines expected = {
      "~\\application@uninstall\\", "",
      item("ext", ".capture-config"), item("ext", ".profiles"), item("ext", ".Vexmora"), item("ext", ".jpg"),
      item("ext", ".png"), item("ext", ".jng"), item("ext", ".bmp"), item("ext", ".~"), "",
      item("file", "Korvane-Snaprill-EULA.txt"), item("file", "Korvane-Snaprill.exe"), item("file", "uninstall.exe"),
      item("path", D_ + "Captured\\"), item("path", D_ + "Compositions\\"), item("path", D_ + "Data\\"),
      item("file", "Images\\snr300.png"), item("path", D_ + "Images\\"), item("file", "Images\\water16_9.jpg"),
      item("file", "Images\\water3_2.jpg"), item("file", "Images\\water4_3.jpg"), item("file", "uninstall.config"),
      "", "",
      item("link", app_link), item("link", app_link), item("link", uninstall_link), item("link", uninstall_link),
      item("group", group), item("group", group), item("link", desktop_link), item("link", desktop_link), "",
      "  ~<reg=\"" + kUninstallKey + "\";hk=CURRENT>", "",
      "  ~<DesktopIcon=yes>", "  ~<OnlyCurrent=yes>", item("Application", gAppPath), "  ~<IsPowerUser=no>", "",
      "~\\\\"};
  // clang-format on
  ASSERT_EQ(expected.size(), 42u);
  EXPECT_EQ(manifest_lines(dest_host_ + "/uninstall.config"), expected);

  Lines expected_log = {"Checking integrity of installation files ...~) ", "Extracting installation files:~(p) "};
  for (const char* f : {"Korvane-Snaprill-EULA.txt", "Korvane-Snaprill.exe", "uninstall.exe", "Images\\snr300.png",
                        "Images\\water16_9.jpg", "Images\\water3_2.jpg", "Images\\water4_3.jpg"})
    expected_log.push_back(FileLine(D_ + f));
  for (const char* l :
       {"~(p)Creating Programs Group Folder ...~) ", "Creating Desktop Icon ...~) ",
        "Registering Uninstallation ...~) ", "~(p)~<b;ct=green>Installation successfuly completed.~> ",
        "~(p)~<fs:pt=\"-2\">Note: By pressing the ~<b>Print~> button You can print this for later reference.~> ",
        "~(p)"})
    expected_log.push_back(l);
  EXPECT_EQ(log, expected_log);
}

// Without the desktop icon: no desktop link, its two manifest lines and its
// log line are gone; a second run over the first replaces everything and
// takes over the first one's record: the folders it made (which the second
// finds made) are listed still, every other line once.
TEST_F(InstallThread, WithoutDesktopIconAndOverAnEarlierInstallation) {
  gDesktopIcon = false;
  cTestWindow first;
  Install(first);
  ASSERT_TRUE(first.success);
  const Lines lines = manifest_lines(dest_host_ + "/uninstall.config");
  const auto count = [&lines](const std::string& key) {
    return std::count_if(lines.begin(), lines.end(),
                         [&key](const std::string& l) { return l.rfind("  ~<" + key + "=", 0) == 0; });
  };
  EXPECT_EQ(count("link"), 4);
  EXPECT_EQ(count("group"), 2);
  EXPECT_EQ(count("path"), 4);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  ~<DesktopIcon=no>"), lines.end());
  EXPECT_FALSE(fs::exists(home_ + "/Desktop/Korvane Snaprill.lnk"));
  const Lines log = first.LogLines();
  EXPECT_EQ(std::find(log.begin(), log.end(), "Creating Desktop Icon ...~) "), log.end());

  write_file(dest_host_ + "/Korvane-Snaprill.exe", "an older application");
  cTestWindow second;
  Install(second);
  ASSERT_TRUE(second.success);
  EXPECT_EQ(read_file(dest_host_ + "/Korvane-Snaprill.exe"), read_file(QLM_STANDIN_APP));
  Lines again = manifest_lines(dest_host_ + "/uninstall.config");
  Lines sorted = lines;
  std::sort(again.begin(), again.end());
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(again, sorted);
}

// Hostile containers: nothing is written, inside D or outside it, and the
// log ends with the failure line and the note.
TEST_F(InstallThread, HostileContainersWriteNothing) {
  const std::vector<Spec> good = {
      {3, ".txt", "", "", 0}, {1, "a.exe", "", "hello", 1}, {1, "b.txt", "Sub\\", "x", 0}, {4, "", "", "", 0}};
  const std::string sound = assemble(good);
  const size_t a_payload = 6 + 32 + 4 + 32 + 5;    // first byte of a.exe's payload
  const size_t a_fields = 6 + 32 + 4 + 9 + 5 + 2;  // a.exe's unpacked size field
  struct Case {
    const char* what;
    std::string bytes;
    std::string text;
  };
  std::vector<Case> cases;
  // Payloads that do not inflate to their size, or not at all: found by
  // the extraction, after a.exe was inflated, and still nothing is written.
  const std::string b_txt = "\"" + markup_escape(D_ + "Sub\\b.txt") + "\" ...";
  for (const int32_t delta : {1, -1, -5}) {
    std::vector<Spec> s = good;
    s[2].plain = "some text";
    s[2].size_delta = delta;
    cases.push_back({"unpacked size", assemble(s), "Error decompressing (B) " + b_txt});
  }
  {
    std::vector<Spec> s = good;
    s[2].plain = std::string(3000, 'q');
    s[2].damaged = true;
    cases.push_back({"damaged stream", assemble(s), "Error decompressing (A) " + b_txt});
  }
  {
    std::string b = sound;
    b[5] = 'X';
    cases.push_back({"signature", b, "Installation file is corrupted (C) ..."});
  }
  {
    std::string b = sound;
    b[a_payload + 3] ^= 1;
    cases.push_back({"payload byte", b, "Installation file is corrupted (E) ..."});
  }
  {
    std::string b = sound;
    put(b, a_fields + 8, uint32_t(b.size()), 4);  // stored size past the end
    cases.push_back({"stored size", b, "Installation file is corrupted (E) ..."});
  }
  {
    std::string b = sound;
    put(b, a_fields + 16, 6 + 32 + 4, 4);  // next-entry offset at its own header
    cases.push_back({"offset back", b, "Installation file is corrupted (F) ..."});
  }
  {
    std::vector<Spec> s = good;
    s[2].path = "..\\evil\\";
    cases.push_back({"path with ..", assemble(s), "Installation file is corrupted (D) ..."});
  }
  {
    std::vector<Spec> s = good;
    s[2].name = "/tmp/evil";
    cases.push_back({"absolute name", assemble(s), "Installation file is corrupted (D) ..."});
  }
  // Names the platform refuses: the check pass stops before a.exe is written.
  for (const std::string& name :
       std::vector<std::string>{"b<.txt", "b>.txt", "b\".txt", "b|.txt", "b?.txt", "b*.txt", std::string(256, 'b')}) {
    std::vector<Spec> s = good;
    s[2].name = name;
    cases.push_back({"refused name", assemble(s), "Installation file is corrupted (D) ..."});
    s = good;
    s[2].path = "Su" + name + "\\";
    cases.push_back({"refused folder", assemble(s), "Installation file is corrupted (D) ..."});
  }
  {
    std::vector<Spec> s = good;
    s[1].main = 0;
    cases.push_back({"no main program", assemble(s), "Installation file is corrupted (D) ..."});
  }
  {
    std::string b = sound;
    b.resize(b.size() - 1);  // the end entry cut short
    cases.push_back({"truncated", b, "Installation file is corrupted (D) ..."});
  }
  cases.push_back({"empty block", "", "Installation file is corrupted (C) ..."});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseContainer(c.bytes);
    cTestWindow window;
    const Lines log = Install(window);
    EXPECT_FALSE(window.success);
    EXPECT_TRUE(tree(dest_host_).empty());
    EXPECT_TRUE(tree(home_ + "/evil").empty());
    EXPECT_FALSE(fs::exists("/tmp/evil"));
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "Checking integrity of installation files ...~) ");
    EXPECT_EQ(log[log.size() - 2], "~(p)~<b;ct=red>Installation Failure: " + c.text + "~>");
    EXPECT_EQ(log.back(), kFailureNote);
  }
}

// Entries of an unknown kind are passed over by both passes (the payloads
// after them are still checked), and a zero-length file installs.
TEST_F(InstallThread, UnknownKindsAndEmptyFiles) {
  std::vector<Spec> s = {{7, "odd", "", "", 0},
                         {1, "a.exe", "", "hello", 1},
                         {1, "empty.dat", "Deep\\Er\\", "", 0},
                         {3, ".late", "", "", 0},
                         {4, "", "", "", 0}};
  UseContainer(assemble(s));
  cTestWindow window;
  Install(window);
  EXPECT_TRUE(window.success);
  EXPECT_EQ(read_file(dest_host_ + "/a.exe"), "hello");
  EXPECT_TRUE(fs::is_regular_file(dest_host_ + "/Deep/Er/empty.dat"));
  EXPECT_EQ(fs::file_size(dest_host_ + "/Deep/Er/empty.dat"), 0u);
  const Lines lines = manifest_lines(dest_host_ + "/uninstall.config");
  // The ext line of an entry after the unknown one, before every file line;
  // two path lines for the file two levels deep, outermost first.
  ASSERT_GE(lines.size(), 9u);
  EXPECT_EQ(lines[2], "  ~<ext=\".late\">");
  EXPECT_EQ(lines[5], "  ~<file=\"Deep\\Er\\empty.dat\">");
  EXPECT_EQ(lines[6], "  ~<path=\"" + D_ + "Deep\\\">");
  EXPECT_EQ(lines[7], "  ~<path=\"" + D_ + "Deep\\Er\\\">");

  // A payload changed after the unknown entry is caught by the check pass.
  std::string b = assemble(s);
  b[6 + 35 + 32 + 5 + 2] ^= 1;
  UseContainer(b);
  fs::remove_all(dest_host_);
  fs::create_directories(dest_host_);
  cTestWindow second;
  const Lines log = Install(second);
  EXPECT_EQ(log[log.size() - 2], "~(p)~<b;ct=red>Installation Failure: Installation file is corrupted (E) ...~>");
  EXPECT_TRUE(tree(dest_host_).empty());
}

// Paths with "~" and characters outside ASCII: the log shows them as typed
// (escaped mark-up), the manifest keeps them as they are.
TEST_F(InstallThread, UnusualDestinationNames) {
  dest_host_ = home_ + "/a~(b)~c caf\xC3\xA9";
  fs::create_directories(dest_host_);
  gDestination = win_of(dest_host_);
  D_ = gDestination + "\\";
  UseContainer(assemble({{1, "a.exe", "", "hello", 1}, {4, "", "", "", 0}}));
  cTestWindow window;
  const Lines log = Install(window);
  ASSERT_TRUE(window.success);
  EXPECT_EQ(log[2], "~<fs:pt=\"-3\">" + win_of(home_) + "\\a~(~)(b)~(~)c caf~(%233)\\a.exe~>~)");
  const Lines lines = manifest_lines(dest_host_ + "/uninstall.config");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  ~<Application=\"" + D_ + "a.exe\">"), lines.end());
}

// A destination spelled with ".." levels is the folder its text
// resolves to, as the file layer resolves it: after a symbolic link, ".."
// is not where the host would go. Every file and the manifest land there,
// and an update finds them again.
TEST_F(InstallThread, DestinationWithDotLevelsAfterALink) {
  fs::create_directories(home_ + "/s/real/inner");
  fs::create_directories(home_ + "/s/real/App");  // where the host would go
  fs::create_directory_symlink(home_ + "/s/real/inner", home_ + "/s/lnk");
  UseContainer(assemble({{1, "a.exe", "", "hello", 1}, {1, "b.txt", "Sub\\", "x", 0}, {4, "", "", "", 0}}));
  gDestination = win_of(home_) + "\\s\\lnk\\..\\App";
  cTestWindow window;
  Lines log = Install(window);
  ASSERT_TRUE(window.success) << log[log.size() - 2];
  EXPECT_EQ(tree(home_ + "/s/App"), (std::vector<std::string>{"Sub/", "Sub/b.txt", "a.exe", "uninstall.config"}));
  EXPECT_TRUE(tree(home_ + "/s/real/App").empty());
  gInstallMode = cnModeUpdate;
  cTestWindow update;
  log = Install(update);
  EXPECT_TRUE(update.success) << log[log.size() - 2];
  EXPECT_TRUE(tree(home_ + "/s/real/App").empty());
}

// An update whose old manifest cannot be read (garbage, or made with
// another passphrase) stops before it writes anything: the old installation
// and its manifest stay byte for byte.
TEST_F(InstallThread, UpdateWithAnUnreadableManifestStopsBeforeWriting) {
  std::string other = std::string(cnManifestHeader) + "\r\n\r\n  ~<file=\"a.exe\">\r\n~\\\\\r\n";
  const char kOther[7] = {'a', 'b', 'c', 1, 2, 3, 4};
  ASSERT_TRUE(crypt_encrypt_buffer(other.data(), int64_t(other.size()), std::string_view(kOther, 7)));
  for (const std::string& old : {std::string("old manifest"), other}) {
    write_file(dest_host_ + "/uninstall.config", old);
    gInstallMode = cnModeUpdate;
    cTestWindow window;
    const Lines log = Install(window);
    EXPECT_FALSE(window.success);
    EXPECT_EQ(log, (Lines{"~(p)~<b;ct=red>Update Failure: Cannot update or upgrade (G2). Reinstallation is required.~>",
                          kFailureNote}));
    EXPECT_EQ(tree(dest_host_), std::vector<std::string>{"uninstall.config"});
    EXPECT_EQ(read_file(dest_host_ + "/uninstall.config"), old);
  }
}

void write_manifest_text(const std::string& host, std::string text) {
  ASSERT_TRUE(crypt_encrypt_buffer(text.data(), int64_t(text.size()), manifest_passphrase()));
  write_file(host, text);
}

// An update over a new installation whose manifest was edited: what the run
// lists again appears once, every other old item (folders, links, groups,
// the registry key, an old file and extension) is carried in the old order,
// the old DesktopIcon stays, and nothing is integrated again. A second
// update gives the same manifest.
TEST_F(InstallThread, UpdateCarriesTheOldItemsOver) {
  cTestWindow first;
  Install(first);
  ASSERT_TRUE(first.success);
  const std::string manifest = dest_host_ + "/uninstall.config";
  Lines old = manifest_lines(manifest);
  const auto reg =
      std::find_if(old.begin(), old.end(), [](const std::string& l) { return l.rfind("  ~<reg=", 0) == 0; });
  ASSERT_NE(reg, old.end());
  old.insert(reg + 1, {"  ~<file=\"old.dll\">", "  ~<ext=\".old\">"});
  std::replace(old.begin(), old.end(), std::string("  ~<DesktopIcon=yes>"), std::string("  ~<DesktopIcon=no>"));
  std::string text;
  for (const std::string& l : old) text += l + "\r\n";
  write_manifest_text(manifest, text);
  const std::string hive = read_file(plat::reg_hive_file(plat::RegRoot::CurrentUser));
  write_file(dest_host_ + "/Korvane-Snaprill.exe", "an older application");

  gInstallMode = cnModeUpdate;
  gDestination = D_;  // as the update dialog sets it, with the trailing "\"
  gDesktopIcon = true;
  cTestWindow window;
  const Lines log = Install(window);
  ASSERT_TRUE(window.success) << log.back();
  EXPECT_FALSE(gDesktopIcon);
  EXPECT_EQ(read_file(dest_host_ + "/Korvane-Snaprill.exe"), read_file(QLM_STANDIN_APP));
  EXPECT_EQ(read_file(plat::reg_hive_file(plat::RegRoot::CurrentUser)), hive);

  Lines expected_log = {"Checking integrity of update files ...~) ", "Extracting update files:~(p) "};
  for (const char* f : {"Korvane-Snaprill-EULA.txt", "Korvane-Snaprill.exe", "uninstall.exe", "Images\\snr300.png",
                        "Images\\water16_9.jpg", "Images\\water3_2.jpg", "Images\\water4_3.jpg"})
    expected_log.push_back(FileLine(D_ + f));
  expected_log.push_back("~(p)~<b;ct=green>Update successfuly completed.~> ");
  expected_log.push_back(
      "~(p)~<fs:pt=\"-2\">Note: By pressing the ~<b>Print~> button You can print this for later reference.~> ");
  expected_log.push_back("~(p)");
  EXPECT_EQ(log, expected_log);

  const auto item = [](const std::string& k, const std::string& v) { return "  ~<" + k + "=\"" + v + "\">"; };
  const std::string group = win_of(home_ + "/.local/share/applications") + "\\Korvane Snaprill\\";
  const std::string desktop_link = win_of(home_ + "/Desktop") + "\\Korvane Snaprill.lnk";
  // clang-format off
  const Lines expected = {
      "~\\application@uninstall\\", "",
      item("ext", ".capture-config"), item("ext", ".profiles"), item("ext", ".Vexmora"), item("ext", ".jpg"),
      item("ext", ".png"), item("ext", ".jng"), item("ext", ".bmp"), item("ext", ".~"), "",
      item("file", "Korvane-Snaprill-EULA.txt"), item("file", "Korvane-Snaprill.exe"), item("file", "uninstall.exe"),
      item("file", "Images\\snr300.png"), item("file", "Images\\water16_9.jpg"), item("file", "Images\\water3_2.jpg"),
      item("file", "Images\\water4_3.jpg"), item("file", "uninstall.config"), "",
      item("path", D_ + "Captured\\"), item("path", D_ + "Compositions\\"), item("path", D_ + "Data\\"),
      item("path", D_ + "Images\\"),
      item("link", group + "Korvane Snaprill.lnk"), item("link", group + "Korvane Snaprill.lnk"),
      item("link", group + "Uninstall.lnk"), item("link", group + "Uninstall.lnk"), item("group", group),
      item("group", group), item("link", desktop_link), item("link", desktop_link),
      "  ~<reg=\"" + kUninstallKey + "\";hk=CURRENT>", item("file", "old.dll"), item("ext", ".old"), "",
      "  ~<DesktopIcon=no>", "  ~<OnlyCurrent=yes>", item("Application", D_ + "Korvane-Snaprill.exe"),
      "  ~<IsPowerUser=no>", "", "~\\\\"};
  // clang-format on
  EXPECT_EQ(manifest_lines(manifest), expected);

  cTestWindow again;
  Install(again);
  ASSERT_TRUE(again.success);
  EXPECT_EQ(manifest_lines(manifest), expected);
}

// Runs one installation in a forked child whose files may not grow beyond
// `limit` bytes; answers the child's last failure line ("" on success).
std::string install_with_file_limit(rlim_t limit) {
  int fds[2];
  if (pipe(fds) != 0) return "<pipe>";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    // The engine's start-up must ignore SIGXFSZ itself.
    signal(SIGXFSZ, SIG_DFL);
    installs_start();
    const rlimit r{limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
    cTestWindow window;
    std::unique_ptr<TInstallThread> thread(TInstallThread::Create(&window));
    thread->Execute();
    const Lines log = window.LogLines();
    const std::string last = window.success ? "" : log.size() >= 2 ? log[log.size() - 2] : "<no log>";
    (void)!write(fds[1], last.data(), last.size());
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return out;
}

// A write that fails half-way leaves the earlier application and manifest
// byte for byte, and no temporary file behind.
TEST_F(InstallThread, WriteFailuresKeepTheOldInstallation) {
  // A file too large to be written.
  cTestWindow first;
  Install(first);
  ASSERT_TRUE(first.success);
  const std::string old_app(20000, 'A'), old_manifest = read_file(dest_host_ + "/uninstall.config");
  write_file(dest_host_ + "/Korvane-Snaprill.exe", old_app);
  const std::vector<std::string> before = tree(dest_host_);
  ASSERT_GT(fs::file_size(QLM_STANDIN_APP), 4096u);
  gInstallMode = cnModeUpdate;  // an update, which reads the old manifest first
  // The failure says the reason the system gave, after the text.
  EXPECT_EQ(install_with_file_limit(4096), "~(p)~<b;ct=red>Update Failure: Error writing to \"" +
                                               markup_escape(D_ + "Korvane-Snaprill.exe") +
                                               "\" ... (File too large)~>");
  EXPECT_EQ(read_file(dest_host_ + "/Korvane-Snaprill.exe"), old_app);
  EXPECT_EQ(read_file(dest_host_ + "/uninstall.config"), old_manifest);
  EXPECT_EQ(tree(dest_host_), before);
  gInstallMode = cnModeNewInstallation;
  const std::string old_text(3000, 'M');

  // A manifest too large to be written: every other file (links and hive
  // included) stays below the limit.
  UseContainer(assemble({{1, "a.exe", "", "hello", 1}, {4, "", "", "", 0}}));
  cTestWindow small;
  Install(small);
  ASSERT_TRUE(small.success);
  uintmax_t largest = 0;
  for (const std::string& f :
       {home_ + "/.local/share/applications/Korvane Snaprill/Korvane Snaprill.lnk",
        home_ + "/.local/share/applications/Korvane Snaprill/Uninstall.lnk", home_ + "/Desktop/Korvane Snaprill.lnk",
        plat::reg_hive_file(plat::RegRoot::CurrentUser)})
    largest = std::max(largest, fs::file_size(f));
  const uintmax_t manifest_size = fs::file_size(dest_host_ + "/uninstall.config");
  ASSERT_GT(manifest_size, largest + 1);
  write_file(dest_host_ + "/uninstall.config", old_text);
  const std::vector<std::string> before_small = tree(dest_host_);
  EXPECT_EQ(install_with_file_limit(rlim_t(largest + 1)),
            "~(p)~<b;ct=red>Installation Failure: Finalization error (E1) ... (File too large)~>");
  EXPECT_EQ(read_file(dest_host_ + "/uninstall.config"), old_text);
  // Besides the journal of what the run made, for the next run's record.
  std::vector<std::string> with_journal = before_small;
  with_journal.push_back("uninstall.journal");
  std::sort(with_journal.begin(), with_journal.end());
  EXPECT_EQ(tree(dest_host_), with_journal);
}

// The manifest's own name belongs to the engine: a container entry named
// like it would be put in place with the other files, before the manifest
// is written, so a run that fails after that (or a crash in between) would
// leave the container's file as the manifest. The check pass refuses it.
TEST_F(InstallThread, AnEntryNamedLikeTheManifestIsRefused) {
  UseContainer(assemble({{1, "a.exe", "", "hello", 1}, {4, "", "", "", 0}}));
  cTestWindow first;
  Install(first);
  ASSERT_TRUE(first.success);
  const std::string old_manifest = read_file(dest_host_ + "/uninstall.config");
  const std::vector<std::string> before = tree(dest_host_);
  UseContainer(assemble({{1, "a.exe", "", "hello", 1}, {1, "uninstall.config", "", "foreign", 0}, {4, "", "", "", 0}}));
  gInstallMode = cnModeUpdate;
  // The manifest cannot be written; every other file can.
  const std::string last = install_with_file_limit(rlim_t(old_manifest.size() - 1));
  EXPECT_EQ(last, "~(p)~<b;ct=red>Update Failure: Installation file is corrupted (D) ...~>");
  EXPECT_EQ(read_file(dest_host_ + "/uninstall.config"), old_manifest);
  EXPECT_EQ(tree(dest_host_), before);
  gInstallMode = cnModeNewInstallation;
  // A folder of that name, by a folder entry or for a file below it, is
  // refused before anything is written.
  for (const Spec& folder :
       {Spec{2, "", "uninstall.config\\", "", 0}, Spec{1, "b.txt", "uninstall.config\\", "x", 0}}) {
    fs::remove_all(dest_host_);
    fs::create_directories(dest_host_);
    UseContainer(assemble({{1, "a.exe", "", "hello", 1}, folder, {4, "", "", "", 0}}));
    cTestWindow window;
    const Lines log = Install(window);
    EXPECT_FALSE(window.success);
    EXPECT_EQ(log[log.size() - 2], "~(p)~<b;ct=red>Installation Failure: Installation file is corrupted (D) ...~>");
    EXPECT_TRUE(tree(dest_host_).empty());
  }
  // In a folder below the destination the name is an ordinary file.
  UseContainer(assemble({{1, "a.exe", "", "hello", 1}, {1, "uninstall.config", "Sub\\", "x", 0}, {4, "", "", "", 0}}));
  cTestWindow sub;
  Install(sub);
  EXPECT_TRUE(sub.success);
  EXPECT_EQ(read_file(dest_host_ + "/Sub/uninstall.config"), "x");
}

// Runs one installation in a forked child that the kernel kills (SIGXFSZ)
// at its first write past `limit` bytes: what a killed run leaves behind.
void install_killed_at_file_limit(rlim_t limit) {
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_DFL);
    const rlimit r{limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
    cTestWindow window;
    std::unique_ptr<TInstallThread> thread(TInstallThread::Create(&window));
    thread->Execute();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
}

// After any sequence of runs into one destination, removing what the last
// manifest lists (files, links, keys, then the folders it lists and the
// groups, innermost first, when empty) leaves nothing of the installer's:
// only the folders the user made before any installation.
TEST_F(InstallThread, TheRecordListsEverythingAfterAnySequenceOfRuns) {
  const std::string big(9000, 'z');  // past the kill limit below
  const std::vector<Spec> a = {
      {1, "a.exe", "", "hello", 1}, {2, "", "", "Data\\", 0}, {1, "b.txt", "Sub\\", "x", 0}, {4, "", "", "", 0}};
  std::vector<Spec> b = a;
  b.insert(b.end() - 1, {{2, "", "Extra\\One\\", "", 0}, {1, "c.txt", "New\\Deep\\", big, 0}});
  std::vector<Spec> bad = b;  // fails after every folder is made
  bad.insert(bad.end() - 1, Spec{1, "z.bin", "", std::string(3000, 'q'), 0, 0, true});
  enum Step { New, Update, NewFails, UpdateFails, NewKilled, UpdateKilled };
  const struct {
    const char* what;
    std::vector<std::pair<Step, const std::vector<Spec>*>> runs;
  } cases[] = {
      {"new", {{New, &b}}},
      {"new over old", {{New, &a}, {New, &b}}},
      {"update", {{New, &a}, {Update, &b}}},
      {"update then new", {{New, &a}, {Update, &b}, {New, &b}}},
      {"failed new, rerun", {{NewFails, &bad}, {New, &b}}},
      {"failed update, rerun", {{New, &a}, {UpdateFails, &bad}, {Update, &b}}},
      {"killed new, rerun", {{NewKilled, &b}, {New, &b}}},
      {"killed update, rerun", {{New, &a}, {UpdateKilled, &b}, {Update, &b}}},
      {"killed update, new", {{New, &a}, {UpdateKilled, &b}, {New, &a}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dest_host_);
    fs::create_directories(dest_host_ + "/Data");  // the user's own, before any installation
    fs::create_directories(dest_host_ + "/Mine");
    for (const auto& [step, specs] : c.runs) {
      UseContainer(assemble(*specs));
      gInstallMode =
          step == Update || step == UpdateFails || step == UpdateKilled ? cnModeUpdate : cnModeNewInstallation;
      if (step == NewKilled || step == UpdateKilled) {
        install_killed_at_file_limit(4096);
        continue;
      }
      cTestWindow window;
      const Lines log = Install(window);
      EXPECT_EQ(window.success, step == New || step == Update) << log[log.size() - 2];
    }
    gInstallMode = cnModeNewInstallation;
    cLocalFiles record;
    ASSERT_TRUE(local_files_load(&record, gDestination));
    std::vector<std::string> folders;
    for (const rLocalFile* e = record.First(); e != nullptr; e = e->next) {
      switch (e->kind) {
        case cnLocalFile: fs::remove(host_of(D_ + e->value)); break;
        case cnLocalLink: fs::remove(host_of(e->value)); break;
        case cnLocalReg: plat::reg_delete_key(plat::RegRoot::CurrentUser, e->value); break;
        case cnLocalPath:
        case cnLocalGroup: folders.push_back(host_of(e->value)); break;
        default: break;
      }
    }
    std::sort(folders.rbegin(), folders.rend());  // innermost first
    for (const std::string& f : folders) ::rmdir(f.c_str());
    EXPECT_EQ(tree(dest_host_), (std::vector<std::string>{"Data/", "Mine/"}));
    EXPECT_FALSE(fs::exists(home_ + "/.local/share/applications/Korvane Snaprill"));
    EXPECT_FALSE(fs::exists(home_ + "/Desktop/Korvane Snaprill.lnk"));
    EXPECT_EQ(Value("UninstallString"), "<no key>");
  }
}

// Folders that cannot be made, and a file that cannot be created: the
// failure names it.
TEST_F(InstallThread, FolderAndFileFailures) {
  write_file(dest_host_ + "/Sub", "a file where the folder goes");
  UseContainer(assemble({{1, "a.exe", "", "hello", 1}, {1, "b.txt", "Sub\\", "x", 0}, {4, "", "", "", 0}}));
  cTestWindow window;
  Lines log = Install(window);
  EXPECT_FALSE(window.success);
  EXPECT_EQ(log[log.size() - 2], "~(p)~<b;ct=red>Installation Failure: Cannot create directory of \"" +
                                     markup_escape(D_ + "Sub\\") + "\" ...~>");
  EXPECT_FALSE(fs::exists(dest_host_ + "/uninstall.config"));

  // A missing destination: the file cannot be created.
  fs::remove_all(dest_host_);
  write_file(home_ + "/.local/share/Korvane-Snaprill", "x");  // a file where D goes
  UseContainer(assemble({{1, "a.exe", "", "hello", 1}, {4, "", "", "", 0}}));
  cTestWindow second;
  log = Install(second);
  EXPECT_EQ(log[log.size() - 2],
            "~(p)~<b;ct=red>Installation Failure: Cannot create directory of \"" + markup_escape(D_) + "\" ...~>");
}

// A destination the platform cannot name: the failure names it as typed.
TEST_F(InstallThread, RefusedDestinationsAreNamed) {
  UseContainer(assemble({{1, "a.exe", "", "hello", 1}, {4, "", "", "", 0}}));
  for (const std::string& leaf : {std::string("a\"b"), std::string("a\nb"), std::string("a|b")}) {
    SCOPED_TRACE(leaf);
    gDestination = win_of(home_) + "\\" + leaf;
    cTestWindow window;
    const Lines log = Install(window);
    EXPECT_FALSE(window.success);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "~(p)~<b;ct=red>Installation Failure: Cannot create directory of \"" +
                                       markup_escape(gDestination + "\\") + "\" ...~>");
  }
  EXPECT_TRUE(tree(dest_host_).empty());
}

// The items of a loaded manifest, in order, or nothing when it fails.
std::optional<std::vector<std::string>> parsed_items(std::string bytes) {
  if (bytes.empty() || !crypt_decrypt_buffer(bytes.data(), int64_t(bytes.size()), manifest_passphrase()))
    return std::nullopt;
  cLocalFiles list;
  if (!local_files_parse(&list, bytes.data(), int64_t(bytes.size()))) return std::nullopt;
  std::vector<std::string> items;
  for (const rLocalFile* e = list.First(); e != nullptr; e = e->next)
    items.push_back(std::to_string(e->kind) + (e->current ? "+" : "-") + e->value);
  return items;
}

// A damaged manifest never reads as another list: every truncation and
// every single-bit flip of a real one either loads the same items or
// fails, and an update over a failing one stops with (G2), leaving the
// manifest and the installation as they were.
TEST_F(InstallThread, DamagedManifestsNeverLoadAsAnotherList) {
  cTestWindow first;
  Install(first);
  ASSERT_TRUE(first.success);
  const std::string manifest = dest_host_ + "/uninstall.config";
  const std::string bytes = read_file(manifest);
  const auto items = parsed_items(bytes);
  ASSERT_TRUE(items);
  ASSERT_GT(items->size(), 20u);
  int32_t loaded = 0, failed = 0;
  for (size_t n = 0; n < bytes.size(); ++n) {
    const auto got = parsed_items(bytes.substr(0, n));
    if (got) {
      EXPECT_EQ(*got, *items) << "cut to " << n;
    }
    ++(got ? loaded : failed);
  }
  for (size_t bit = 0; bit < bytes.size() * 8; ++bit) {
    std::string flipped = bytes;
    flipped[bit / 8] = char(flipped[bit / 8] ^ (1 << (bit % 8)));
    const auto got = parsed_items(flipped);
    if (got) {
      EXPECT_EQ(*got, *items) << "bit " << bit;
    }
    ++(got ? loaded : failed);
  }
  EXPECT_GT(failed, loaded);

  const std::string cut = bytes.substr(0, 80);
  write_file(manifest, cut);
  const std::vector<std::string> before = tree(dest_host_);
  gInstallMode = cnModeUpdate;
  cTestWindow update;
  const Lines log = Install(update);
  EXPECT_FALSE(update.success);
  EXPECT_EQ(log, (Lines{"~(p)~<b;ct=red>Update Failure: Cannot update or upgrade (G2). Reinstallation is required.~>",
                        kFailureNote}));
  EXPECT_EQ(read_file(manifest), cut);
  EXPECT_EQ(tree(dest_host_), before);
}

// A manifest shorter than the write flow's first block is stored at its
// own length, with nothing after the closing.
TEST_F(InstallThread, ShortManifestsKeepTheirLength) {
  UseContainer(assemble({{1, "a.exe", "", "hello", 1}, {4, "", "", "", 0}}));
  write_manifest_text(dest_host_ + "/uninstall.config", std::string(cnManifestHeader) + "\r\n~\\\\\r\n");
  gInstallMode = cnModeUpdate;
  cTestWindow window;
  Install(window);
  ASSERT_TRUE(window.success);
  const Lines lines = manifest_lines(dest_host_ + "/uninstall.config");
  EXPECT_LT(fs::file_size(dest_host_ + "/uninstall.config"), 1024u);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "~\\\\");
}

// Temporary files that a killed run left behind are removed by the next
// run in the folders it writes; those of a running process stay.
TEST_F(InstallThread, StaleTemporaryFilesAreRemoved) {
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  waitpid(dead, nullptr, 0);
  const std::string stale = plat::durable_temp_prefix(dead, 3);
  const std::string live = plat::durable_temp_prefix(getppid(), 3) + "a.exe";
  fs::create_directories(dest_host_ + "/Sub");
  fs::create_directories(dest_host_ + "/Other");
  for (const std::string& f : {stale + "a.exe", stale + "uninstall.config", "Sub/" + stale + "b.txt",
                               "Other/" + stale + "c.txt", live, std::string(".~notatemp")})
    write_file(dest_host_ + "/" + f, "left behind");
  UseContainer(assemble({{1, "a.exe", "", "hello", 1}, {1, "b.txt", "Sub\\", "x", 0}, {4, "", "", "", 0}}));
  cTestWindow window;
  Install(window);
  ASSERT_TRUE(window.success);
  EXPECT_EQ(tree(dest_host_), (std::vector<std::string>{live, ".~notatemp", "Other/", "Other/" + stale + "c.txt",
                                                        "Sub/", "Sub/b.txt", "a.exe", "uninstall.config"}));
}

// An update killed at random points (SIGKILL: no handler runs) leaves every
// file wholly old or wholly new, and the old manifest, unless the run got as
// far as putting the new manifest in place, when every file is new. The next
// update completes and leaves no temporary file behind.
TEST_F(InstallThread, KilledUpdatesLeaveEveryFileOldOrNew) {
  constexpr int kFiles = 120;
  std::vector<Spec> old_specs, new_specs;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "f" + std::to_string(i) + (i == 0 ? ".exe" : ".dat");
    const std::string path = i % 3 == 0 ? "" : "D" + std::to_string(i % 3) + "\\";
    std::string old_text = "old " + std::to_string(i) + " ", new_text = "new " + std::to_string(i) + " ";
    for (int k = 0; k < 2000 + 37 * i; ++k) {
      old_text += char('a' + (k * 7 + i) % 26);
      new_text += char('A' + (k * 11 + i) % 26);
    }
    old_specs.push_back({1, name, path, old_text, uint8_t(i == 0)});
    new_specs.push_back({1, name, path, new_text + new_text, uint8_t(i == 0)});
  }
  old_specs.push_back({4, "", "", "", 0});
  new_specs.push_back({4, "", "", "", 0});
  const std::string old_container = assemble(old_specs), new_container = assemble(new_specs);
  const auto host_of_spec = [this](const Spec& s) {
    std::string rel = s.path;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    return dest_host_ + "/" + rel + s.name;
  };
  // Runs the update in a child; kills it after `delay` unless negative.
  // Answers true when the child ran to its end.
  const auto update_in_child = [&](std::chrono::microseconds delay) {
    const pid_t pid = fork();
    if (pid == 0) {
      UseContainer(new_container);
      gInstallMode = cnModeUpdate;
      cTestWindow window;
      Install(window);
      _exit(window.success ? 0 : 3);
    }
    if (delay.count() >= 0) {
      std::this_thread::sleep_for(delay);
      kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  // The same old state each time: a new installation into an empty folder.
  const auto install_old = [&] {
    fs::remove_all(dest_host_);
    fs::create_directories(dest_host_);
    UseContainer(old_container);
    gInstallMode = cnModeNewInstallation;
    cTestWindow window;
    Install(window);
    ASSERT_TRUE(window.success);
  };

  // One whole update, timed, gives the range of the kill points.
  install_old();
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(update_in_child(std::chrono::microseconds(-1)));
  const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
  const std::string new_manifest = read_file(dest_host_ + "/uninstall.config");

  int32_t mixed = 0;
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(seed);
    install_old();
    const std::string old_manifest = read_file(dest_host_ + "/uninstall.config");
    std::mt19937 random(seed);
    const auto delay = std::chrono::microseconds(random() % uint64_t(whole.count() + 1));
    const bool finished = update_in_child(delay);
    const std::string manifest = read_file(dest_host_ + "/uninstall.config");
    const bool manifest_new = manifest == new_manifest;
    EXPECT_TRUE(manifest == old_manifest || manifest_new);
    int32_t new_files = 0;
    for (int i = 0; i < kFiles; ++i) {
      const std::string bytes = read_file(host_of_spec(new_specs[size_t(i)]));
      const bool is_new = bytes == new_specs[size_t(i)].plain;
      EXPECT_TRUE(is_new || bytes == old_specs[size_t(i)].plain) << i;
      new_files += is_new ? cnModeUpdate : cnModeNewInstallation;
    }
    if (manifest_new || finished) {
      EXPECT_EQ(new_files, kFiles);
    }
    if (new_files > 0 && new_files < kFiles) ++mixed;

    // The next update completes and sweeps what the killed one left.
    ASSERT_TRUE(update_in_child(std::chrono::microseconds(-1)));
    for (const std::string& f : tree(dest_host_)) EXPECT_EQ(f.find(".~"), std::string::npos) << f;
    for (int i = 0; i < kFiles; ++i)
      EXPECT_EQ(read_file(host_of_spec(new_specs[size_t(i)])), new_specs[size_t(i)].plain) << i;
  }
  RecordProperty("kills_between_renames", mixed);
}

// On a thread of its own: the end handler runs after the last step, the
// thread frees itself, and the log outlives a window that let go of it.
TEST_F(InstallThread, RunsOnItsOwnThread) {
  cTestWindow window;
  std::weak_ptr<cWorkEntries> log = window.log;
  TInstallThread* thread = TInstallThread::Create(&window);
  ASSERT_NE(thread, nullptr);
  window.log.reset();  // the window keeps no reference; the thread does
  ASSERT_TRUE(thread->Resume());
  ASSERT_EQ(window.ended.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
  EXPECT_TRUE(window.success_at_end);
  for (int i = 0; i < 6000 && TInstallThread::Running() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(TInstallThread::Running(), 0);
  EXPECT_TRUE(log.expired());
  EXPECT_TRUE(fs::exists(dest_host_ + "/uninstall.config"));
  EXPECT_EQ(TInstallThread::Create(nullptr), nullptr);
}

// An end handler that raises does not take the process down: the thread
// writes the failure to the log on stderr, ends and frees itself.
TEST(InstallThreadEnd, AnEndHandlerThatRaisesIsLoggedAndTheThreadEnds) {
  struct cRaisingWindow : cTestWindow {
    void InstallThreadTerminate(TInstallThread&) override { throw std::runtime_error("the window is gone"); }
  } window;
  window.log.reset();  // no log: the work ends at once
  TInstallThread* thread = TInstallThread::Create(&window);
  ASSERT_NE(thread, nullptr);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(thread->Resume());
  for (int i = 0; i < 6000 && TInstallThread::Running() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(TInstallThread::Running(), 0);
  EXPECT_NE(log.find("the end of the installation failed: the window is gone"), std::string::npos) << log;
}

}  // namespace

// ---- The log channel ----------------------------------------------------------

TEST(WorkEntries, ChangedFlag) {
  cWorkEntries log;
  EXPECT_TRUE(log.TakeChanged());  // true after construction
  EXPECT_FALSE(log.TakeChanged());
  rWorkEntry* e = log.AddText("one");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->kind, 0);
  EXPECT_EQ(e->text, "one");
  log.AddText("two");
  EXPECT_TRUE(log.TakeChanged());
  EXPECT_FALSE(log.TakeChanged());
  EXPECT_EQ(log.Joined(), "onetwo");
  EXPECT_EQ(log.Count(), 2u);
}

// A writer appends while a poller alternates taking the flag and walking the
// entries under the mutex: after the writer ends, one more take sees every
// line, so no change was lost.
TEST(WorkEntries, NoChangeIsLostBetweenThreads) {
  cWorkEntries log;
  constexpr int kLines = 10000;
  std::atomic<bool> done{false};
  uint32_t seen = 0;
  auto poll = [&] {
    if (!log.TakeChanged()) return;
    std::lock_guard<std::mutex> lock(log.Mutex());
    uint32_t n = 0;
    for (const rWorkEntry* e = log.First(); e != nullptr; e = e->next) ++n;
    seen = n;
  };
  std::thread writer([&] {
    for (int i = 0; i < kLines; ++i) ASSERT_NE(log.AddText("line " + std::to_string(i)), nullptr);
    done = true;
  });
  while (!done) poll();
  writer.join();
  poll();
  EXPECT_EQ(seen, uint32_t(kLines));
}

// ---- Manifest lines and the atomic replacement ---------------------------------

TEST(ManifestLines, Forms) {
  EXPECT_EQ(manifest_item_line("file", "Images\\water3_2.jpg"), "  ~<file=\"Images\\water3_2.jpg\">");
  EXPECT_EQ(manifest_item_line("path", "C:\\a \"b\"\\"), "  ~<path=\"C:\\a \"\"b\"\"\\\">");
  EXPECT_EQ(manifest_reg_line("SOFTWARE\\X", true), "  ~<reg=\"SOFTWARE\\X\";hk=CURRENT>");
  EXPECT_EQ(manifest_reg_line("SOFTWARE\\X", false), "  ~<reg=\"SOFTWARE\\X\";hk=LOCAL>");
  EXPECT_EQ(manifest_option_line("DesktopIcon", true), "  ~<DesktopIcon=yes>");
  EXPECT_EQ(manifest_option_line("IsPowerUser", false), "  ~<IsPowerUser=no>");
  EXPECT_EQ(manifest_option_line("Application", std::string_view("C:\\k\\a.exe")), "  ~<Application=\"C:\\k\\a.exe\">");
}

TEST(FileReplaceAtomic, ReplacesOrLeavesAlone) {
  const std::string dir = testenv::sandbox_dir("atomic");
  const std::string win = win_of(dir);
  write_file(dir + "/t.exe", "old");
  EXPECT_EQ(file_replace_atomic(win + "\\t.exe", "new bytes", 9), 0);
  EXPECT_EQ(read_file(dir + "/t.exe"), "new bytes");
  EXPECT_EQ(::access((dir + "/t.exe").c_str(), X_OK), 0);  // an .exe stays executable
  EXPECT_EQ(file_replace_atomic(win + "\\empty", "", 0), 0);
  EXPECT_EQ(fs::file_size(dir + "/empty"), 0u);

  fs::create_directories(dir + "/folder/inside");
  EXPECT_EQ(file_replace_atomic(win + "\\folder", "x", 1), 2);  // a folder is never replaced
  EXPECT_TRUE(fs::is_directory(dir + "/folder/inside"));
  EXPECT_EQ(file_replace_atomic(win + "\\missing\\t", "x", 1), 1);
  EXPECT_EQ(tree(dir), (std::vector<std::string>{"empty", "folder/", "folder/inside/", "t.exe"}));
}

// A write killed halfway (the capture configuration in the Data folder, say)
// leaves its temporary file; the next write of that file removes it, and
// leaves those of other files and of running processes alone.
TEST(FileReplaceAtomic, AWriteKilledHalfwayLeavesNothingOnceTheNextHasRun) {
  for (const std::string& name : {std::string("capture.config"), std::string(240, 'n') + ".config"}) {
    SCOPED_TRACE(name.size());
    const std::string dir = testenv::sandbox_dir("atomic-killed");
    const std::string target = dir + "/" + name;
    write_file(target, "old");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Writing past the size limit raises SIGXFSZ, which kills the writer
      // there with SIGKILL, no handler of the engine running.
      signal(SIGXFSZ, [](int) { raise(SIGKILL); });
      rlimit r{4096, 4096};
      setrlimit(RLIMIT_FSIZE, &r);
      const std::string big(1 << 16, 'x');
      file_replace_atomic(win_of(target), big.data(), int64_t(big.size()));
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    std::vector<std::string> left = tree(dir);
    ASSERT_EQ(left.size(), 2u) << "the killed write's temporary file is there";
    const std::string killed = left[0] == name ? left[1] : left[0];
    pid_t pid = 0;
    ASSERT_TRUE(plat::durable_temp_pid(killed, pid));
    EXPECT_EQ(pid, child);
    EXPECT_EQ(fs::file_size(dir + "/" + killed), 4096u);

    // Beside it: a temporary file of another file, one of a running process
    // for this file, and a name that only looks like one.
    const std::string other = plat::durable_temp_prefix(child, 5) + "other.config";
    const std::string prefix = plat::durable_temp_prefix(getppid(), 5);
    const std::string running = prefix + name.substr(name.size() - std::min(name.size(), 255 - prefix.size()));
    for (const std::string& f : {other, running, std::string(".~x-") + "capture.config"})
      write_file(dir + "/" + f, "left");
    EXPECT_EQ(file_replace_atomic(win_of(target), "new", 3), 0);
    EXPECT_EQ(read_file(target), "new");
    std::vector<std::string> expected{name, other, running, ".~x-capture.config"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(tree(dir), expected);
  }
}
