#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "plat_durable.h"
#include "plat_shell_link.h"
#include "sandbox.h"
#include "test_files.h"

namespace {

using testenv::read_file;
using testenv::write_file;

namespace fs = std::filesystem;

std::vector<std::string> folder_names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Test mapper: "C:\" names live under the folder in g_drive.
std::string g_drive;
bool map_c_drive(const std::string& name, std::string& host) {
  if (name.size() < 3 || name.compare(0, 3, "C:\\") != 0) return false;
  host = g_drive;
  for (size_t i = 2; i < name.size(); ++i) host.push_back(name[i] == '\\' ? '/' : name[i]);
  return true;
}

class PlatShellLink : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testenv::sandbox_dir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override { plat::shell_link_set_path_mapper(nullptr); }
  plat::ShellLinkData Read(const std::string& file) {
    plat::ShellLinkData data;
    std::string error;
    EXPECT_TRUE(plat::shell_link_read(file, data, error)) << error;
    return data;
  }
  std::string dir_;
};

TEST_F(PlatShellLink, EveryFieldParsesBack) {
  g_drive = dir_;
  plat::shell_link_set_path_mapper(map_c_drive);
  fs::create_directories(dir_ + "/apps/Korvane");
  write_file(dir_ + "/apps/Korvane/app.exe", std::string(1234, 'x'));
  fs::create_directories(dir_ + "/menu/Group");

  plat::ShellLink link;
  EXPECT_EQ(link.SetPath("C:\\apps\\Korvane\\app.exe"), plat::kHrOk);
  EXPECT_EQ(link.SetWorkingDirectory("C:\\apps\\Korvane\\"), plat::kHrOk);
  EXPECT_EQ(link.SetArguments("-x \"quoted arg\""), plat::kHrOk);
  EXPECT_EQ(link.SetDescription("Starts the application"), plat::kHrOk);
  EXPECT_EQ(link.SetIconLocation("C:\\apps\\Korvane\\app.exe", -3), plat::kHrOk);
  EXPECT_EQ(link.SetShowCmd(plat::kShowMaximized), plat::kHrOk);
  std::string cur;
  EXPECT_EQ(link.GetCurFile(cur), plat::kHrFalse);
  EXPECT_EQ(cur, "");
  ASSERT_EQ(link.Save("C:\\menu\\Group\\App.lnk", true), plat::kHrOk);
  EXPECT_EQ(link.GetCurFile(cur), plat::kHrOk);
  EXPECT_EQ(cur, "C:\\menu\\Group\\App.lnk");

  const std::string bytes = read_file(dir_ + "/menu/Group/App.lnk");
  ASSERT_GE(bytes.size(), 0x4Cu);
  EXPECT_EQ(bytes.substr(0, 20), std::string("\x4C\0\0\0\x01\x14\x02\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 20));
  EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string(4, '\0'));

  const plat::ShellLinkData d = Read(dir_ + "/menu/Group/App.lnk");
  EXPECT_EQ(d.flags, plat::kLinkHasLinkInfo | plat::kLinkHasName | plat::kLinkHasRelativePath |
                         plat::kLinkHasWorkingDir | plat::kLinkHasArguments | plat::kLinkHasIconLocation |
                         plat::kLinkIsUnicode);
  EXPECT_EQ(d.target, "C:\\apps\\Korvane\\app.exe");
  EXPECT_EQ(d.target_ansi, "C:\\apps\\Korvane\\app.exe");
  EXPECT_FALSE(d.unicode_base_path);
  EXPECT_EQ(d.drive_type, 3u);
  EXPECT_EQ(d.relative_path, "..\\..\\apps\\Korvane\\app.exe");
  EXPECT_EQ(d.working_dir, "C:\\apps\\Korvane\\");
  EXPECT_EQ(d.arguments, "-x \"quoted arg\"");
  EXPECT_EQ(d.description, "Starts the application");
  EXPECT_EQ(d.icon_location, "C:\\apps\\Korvane\\app.exe");
  EXPECT_EQ(d.icon_index, -3);
  EXPECT_EQ(d.show_command, 3u);
  EXPECT_EQ(d.attributes, 0x20u);
  EXPECT_EQ(d.file_size, 1234u);
  EXPECT_EQ(d.hot_key, 0);
  EXPECT_EQ(folder_names(dir_ + "/menu/Group"), std::vector<std::string>{"App.lnk"});
}

TEST_F(PlatShellLink, UnsetAndEmptyFieldsAreLeftOut) {
  plat::ShellLink link;
  link.SetDescription("dropped again");
  link.SetDescription("");
  link.SetArguments(std::string("\0hidden", 7));  // a C string ends at its NUL
  const std::string file = dir_ + "/bare.lnk";
  ASSERT_EQ(link.Save(file, false), plat::kHrOk);
  std::string cur;
  EXPECT_EQ(link.GetCurFile(cur), plat::kHrFalse);  // not remembered
  const plat::ShellLinkData d = Read(file);
  EXPECT_EQ(d.flags, plat::kLinkIsUnicode);
  EXPECT_EQ(d.target, "");
  EXPECT_EQ(d.show_command, 1u);
  EXPECT_EQ(read_file(file).size(), 0x4Cu + 4);
}

TEST_F(PlatShellLink, NonAsciiTextsGoThroughUnicode) {
  plat::ShellLink link;
  const std::string target = "C:\\Users\\J\xC3\xB6rg\\\xF0\x9F\x98\x80.exe";  // ö and an emoji
  ASSERT_EQ(link.SetPath(target), plat::kHrOk);
  ASSERT_EQ(link.SetDescription("\xE2\x82\xAC \xF0\x9F\x98\x80"), plat::kHrOk);
  const std::string file = dir_ + "/u.lnk";
  ASSERT_EQ(link.Save(file, true), plat::kHrOk);
  const plat::ShellLinkData d = Read(file);
  EXPECT_TRUE(d.unicode_base_path);
  EXPECT_EQ(d.target, target);
  EXPECT_EQ(d.target_ansi, "C:\\Users\\J?rg\\?.exe");
  EXPECT_EQ(d.description, "\xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(d.attributes, 0u);     // the target is not on this host
  EXPECT_EQ(d.relative_path, "");  // the link file is a host path, not a drive path
}

TEST_F(PlatShellLink, RelativePathFromTheLinkFolder) {
  g_drive = dir_;
  plat::shell_link_set_path_mapper(map_c_drive);
  struct Case {
    const char* link;
    const char* target;
    const char* relative;  // "" when none is written
  };
  const Case cases[] = {
      {"C:\\a\\b\\x.lnk", "C:\\a\\c\\app.exe", "..\\c\\app.exe"},
      {"C:\\a\\x.lnk", "C:\\A\\app.exe", ".\\app.exe"},
      {"C:\\x.lnk", "C:\\app.exe", ".\\app.exe"},
      {"C:\\x.lnk", "C:\\a\\b\\app.exe", ".\\a\\b\\app.exe"},
      {"C:\\a\\b\\c\\x.lnk", "C:\\app.exe", "..\\..\\..\\app.exe"},
      {"C:\\a\\x.lnk", "D:\\a\\app.exe", ""},
      {"C:\\a\\x.lnk", "app.exe", ""},
  };
  for (const Case& c : cases) {
    std::string host;
    map_c_drive(c.link, host);
    fs::create_directories(fs::path(host).parent_path());
    plat::ShellLink link;
    link.SetPath(c.target);
    ASSERT_EQ(link.Save(c.link, true), plat::kHrOk) << c.link;
    const plat::ShellLinkData d = Read(host);
    EXPECT_EQ(d.relative_path, c.relative) << c.link << " " << c.target;
    EXPECT_EQ((d.flags & plat::kLinkHasRelativePath) != 0, c.relative[0] != '\0');
  }
}

TEST_F(PlatShellLink, SettersRefuseBadTextAndKeepTheOld) {
  plat::ShellLink link;
  ASSERT_EQ(link.SetDescription("kept"), plat::kHrOk);
  const std::string bad[] = {
      "\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xFF", std::string(plat::kLinkMaxText + 1, 'x')};
  for (const std::string& s : bad) {
    EXPECT_EQ(link.SetDescription(s), plat::kHrInvalidArg) << s.size();
    EXPECT_EQ(link.SetIconLocation(s, 1), plat::kHrInvalidArg);
  }
  EXPECT_EQ(link.SetDescription(std::string(plat::kLinkMaxText, 'x')), plat::kHrOk);
  EXPECT_EQ(link.SetDescription("kept"), plat::kHrOk);
  EXPECT_EQ(link.SetShowCmd(0), plat::kHrInvalidArg);
  EXPECT_EQ(link.Save("", true), plat::kHrInvalidArg);
  ASSERT_EQ(link.Save(dir_ + "/k.lnk", true), plat::kHrOk);
  EXPECT_EQ(Read(dir_ + "/k.lnk").description, "kept");
  EXPECT_EQ(Read(dir_ + "/k.lnk").icon_index, 0);
}

TEST_F(PlatShellLink, SaveReplacesOrFailsCleanly) {
  const std::string file = dir_ + "/App.lnk";
  write_file(file, "an older link");
  plat::ShellLink link;
  link.SetPath("C:\\new.exe");
  ASSERT_EQ(link.Save(file, true), plat::kHrOk);
  EXPECT_EQ(Read(file).target, "C:\\new.exe");
  EXPECT_EQ(folder_names(dir_), std::vector<std::string>{"App.lnk"});

  plat::ShellLink other;
  std::string cur;
  EXPECT_EQ(other.Save(dir_ + "/missing/App.lnk", true), plat::kHrPathNotFound);
  EXPECT_EQ(other.GetCurFile(cur), plat::kHrFalse);
  fs::create_directory(dir_ + "/folder.lnk");
  EXPECT_NE(other.Save(dir_ + "/folder.lnk", true), plat::kHrOk);
  EXPECT_TRUE(fs::is_directory(dir_ + "/folder.lnk"));
  plat::shell_link_set_path_mapper(map_c_drive);
  EXPECT_EQ(other.Save("D:\\elsewhere.lnk", true), plat::kHrPathNotFound);
  EXPECT_EQ(folder_names(dir_), (std::vector<std::string>{"App.lnk", "folder.lnk"}));

  // A write cut short by the file-size limit keeps the old link.
  const std::string before = read_file(file);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{64, 64};
    setrlimit(RLIMIT_FSIZE, &lim);
    plat::shell_link_set_path_mapper(nullptr);
    plat::ShellLink big;
    big.SetDescription(std::string(1000, 'd'));
    _exit(big.Save(file, true) == plat::kHrDiskFull ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(read_file(file), before);
  EXPECT_EQ(folder_names(dir_), (std::vector<std::string>{"App.lnk", "folder.lnk"}));
}

// Link names the host takes: up to 255 bytes, and folders whose names are
// not UTF-8 (only the texts inside the link must be). Nothing is left beside
// the link.
TEST_F(PlatShellLink, SavesUnderEveryNameTheHostTakes) {
  const std::string odd = dir_ + "/caf\xE9 \xFF";  // Latin-1 bytes, not UTF-8
  fs::create_directories(odd);
  const struct {
    std::string folder;
    size_t name_size;
  } cases[] = {{dir_, 244}, {dir_, 250}, {dir_, 255}, {odd, 8}, {odd, 255}};
  for (const auto& c : cases) {
    const std::string name = std::string(c.name_size - 4, 'n') + ".lnk";
    plat::ShellLink link;
    link.SetPath("C:\\app.exe");
    EXPECT_EQ(link.Save(c.folder + "/" + name, true), plat::kHrOk) << c.folder << " " << c.name_size;
    EXPECT_EQ(Read(c.folder + "/" + name).target, "C:\\app.exe");
    std::string cur;
    EXPECT_EQ(link.GetCurFile(cur), plat::kHrOk);
    EXPECT_EQ(cur, c.folder + "/" + name);
  }
  // A temporary file that a killed save left goes with the next save there.
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  waitpid(dead, nullptr, 0);
  write_file(odd + "/" + plat::durable_temp_prefix(dead, 0) + "k.lnk", "half a link");
  plat::ShellLink again;
  ASSERT_EQ(again.Save(odd + "/k.lnk", false), plat::kHrOk);
  for (const std::string& folder : {dir_, odd})
    for (const std::string& name : folder_names(folder)) EXPECT_NE(name.substr(0, 2), ".~") << name;
  plat::ShellLink link;
  EXPECT_EQ(link.Save(dir_ + "/a" + std::string(1, '\0') + "b.lnk", true), plat::kHrInvalidArg);
  EXPECT_EQ(link.Save(dir_ + "/" + std::string(252, 'n') + ".lnk", true), plat::kHrFail);  // 256 bytes
}

TEST_F(PlatShellLink, ReaderRefusesDamagedFiles) {
  plat::ShellLink link;
  link.SetPath("C:\\Users\\J\xC3\xB6rg\\app.exe");
  link.SetDescription("d");
  link.SetWorkingDirectory("w");
  link.SetArguments("a");
  link.SetIconLocation("i", 1);
  const std::string file = dir_ + "/full.lnk";
  ASSERT_EQ(link.Save(file, true), plat::kHrOk);
  const std::string bytes = read_file(file);
  plat::ShellLinkData d;
  std::string error;
  ASSERT_TRUE(plat::shell_link_parse(bytes, d, error)) << error;
  // Every shorter prefix is refused with a reason, never read past its end.
  for (size_t n = 0; n < bytes.size(); ++n) {
    error.clear();
    EXPECT_FALSE(plat::shell_link_parse(bytes.substr(0, n), d, error)) << n;
    EXPECT_FALSE(error.empty());
  }
  // Offsets and sizes pointing outside their structure.
  const std::pair<size_t, unsigned char> damage[] = {
      {0, 0x4D},          // header size
      {4, 0x02},          // class id
      {0x4C, 0xFF},       // link info size beyond the file
      {0x4C + 12, 0xF0},  // volume id offset
      {0x4C + 16, 0xF0},  // local base path offset
      {0x4C + 24, 0xF0},  // suffix offset
      {0x4C + 28, 0xF0},  // Unicode base path offset
  };
  for (const auto& [at, value] : damage) {
    std::string broken = bytes;
    broken[at] = char(value);
    EXPECT_FALSE(plat::shell_link_parse(broken, d, error)) << at;
  }
  EXPECT_FALSE(plat::shell_link_read(dir_, d, error));  // a folder is no link
}

}  // namespace
