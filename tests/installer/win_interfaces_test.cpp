#include "win_interfaces.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "plat_path_map.h"
#include "plat_registry.h"
#include "plat_security.h"
#include "plat_shell_link.h"
#include "qlm_platform_file.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;
using plat::RegRoot;

const std::string kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string win_of(const std::string& host) {
  std::string win;
  EXPECT_TRUE(plat::from_posix(host, win)) << host;
  return win;
}

std::vector<std::string> folder_names(const std::string& host) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(host)) names.push_back(e.path().filename().string());
  return names;
}

// Each test runs in a home of its own (special folders and both registry
// hives inside it) with the engine settings at their initial values.
class WinInterfaces : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    home_ = testenv::sandbox_dir("win-" + name);
    setenv("HOME", home_.c_str(), 1);
    setenv("XDG_DATA_HOME", (home_ + "/.local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ + "/.config").c_str(), 1);
    old_machine_ = fs::path(plat::reg_hive_file(RegRoot::LocalMachine)).parent_path().string();
    plat::reg_set_machine_folder(home_ + "/machine");
    install_settings_reset();
  }
  void TearDown() override {
    plat::reg_set_machine_folder(old_machine_);
    plat::security_pin_identity(std::nullopt);
    plat::security_pin_version(std::nullopt);
    install_settings_reset();
  }
  static plat::ShellLinkData ReadLink(const std::string& win) {
    std::string host, error;
    EXPECT_EQ(plat::to_posix(win, host), plat::kPathOk) << win;
    plat::ShellLinkData d;
    EXPECT_TRUE(plat::shell_link_read(host, d, error)) << win << ": " << error;
    return d;
  }
  static std::string Value(RegRoot root, const std::string& key_path, const std::string& name) {
    plat::RegKey key;
    std::string data;
    if (plat::reg_open_key(root, key_path, key) != plat::kRegOk) return "<no key>";
    if (plat::reg_query_string(key, name, data) != plat::kRegOk) data = "<no value>";
    plat::reg_close_key(key);
    return data;
  }
  static std::vector<std::string> ValueNames(RegRoot root, const std::string& key_path) {
    plat::RegKey key;
    std::vector<std::string> names;
    if (plat::reg_open_key(root, key_path, key) == plat::kRegOk) plat::reg_enum_values(key, names);
    return names;
  }
  static void SetRunValue(const std::string& name, const std::string& data) {
    plat::RegKey key;
    ASSERT_EQ(plat::reg_open_key(RegRoot::CurrentUser, kRunKey, key), plat::kRegOk);
    ASSERT_EQ(plat::reg_set_string(key, name, data), plat::kRegOk);
  }

  std::string home_, old_machine_;
  testenv::SavedEnv saved_{"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"};
};

TEST(WinHelpers, HiveNames) {
  EXPECT_EQ(hive_name(true), "CURRENT");
  EXPECT_EQ(hive_name(false), "LOCAL");
  const std::pair<const char*, bool> cases[] = {
      {"LOCAL", false}, {"local", true}, {"", true}, {"CURRENT", true}, {"LOCAL ", true}, {" LOCAL", true},
  };
  for (const auto& [text, current] : cases) EXPECT_EQ(hive_is_current(text), current) << '"' << text << '"';
  EXPECT_EQ(windows_current_version_key(), "SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
}

TEST(WinHelpers, LastDelimiter) {
  struct Case {
    std::string_view delimiters, text;
    int32_t index;
  } cases[] = {
      {"\\:", "C:\\dir\\file", 7},
      {".\\:", "C:\\a.b\\c", 7},
      {".", "C:\\a.b\\c", 5},
      {".", "abc", 0},
      {"", "a.b", 0},
      {".", "", 0},
      {"\xC3\xA9", "a\xC3\xA9.\xC3\xA9x", 5},  // a whole two-byte character: its first byte
      {"\xA9", "\xC3\xA9", 0},                 // a byte of a longer character never matches alone
      {"\xA9", "x\xA9", 2},                    // a stray byte is a character of its own
      {std::string_view("\0", 1), std::string_view("a\0b", 3), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(last_delimiter(c.delimiters, c.text), c.index) << c.text;
}

TEST(WinHelpers, ChangeFileExt) {
  const char* cases[][3] = {
      {"C:\\dir\\App.lnk", ".pif", "C:\\dir\\App.pif"},
      {"C:\\dir.d\\App", ".pif", "C:\\dir.d\\App.pif"},
      {"a.b.c", ".x", "a.b.x"},
      {"C:x", ".pif", "C:x.pif"},
      {"C:.lnk", ".pif", "C:.pif"},
      {"name.", ".pif", "name.pif"},
      {"", ".pif", ".pif"},
      {"a.lnk", "", "a"},
      {"\xC3\xBC.lnk", ".pif", "\xC3\xBC.pif"},
  };
  for (const auto& c : cases) EXPECT_EQ(change_file_ext(c[0], c[1]), c[2]) << c[0];
}

TEST_F(WinInterfaces, ReportedTargetFallbacks) {
  const std::string dir = win_of(home_);
  const std::string link_file = dir + "\\App.lnk";
  plat::ShellLink unsaved;
  EXPECT_EQ(shell_link_target(unsaved, link_file), link_file);  // nothing exists
  std::ofstream(home_ + "/App.pif") << "pif";
  EXPECT_EQ(shell_link_target(unsaved, link_file), dir + "\\App.pif");
  fs::create_directory(home_ + "/App.lnk");  // a folder is not the link file
  EXPECT_EQ(shell_link_target(unsaved, link_file), dir + "\\App.pif");
  fs::remove(home_ + "/App.lnk");
  std::ofstream(home_ + "/App.lnk") << "lnk";
  EXPECT_EQ(shell_link_target(unsaved, link_file), link_file);

  plat::ShellLink saved;
  ASSERT_EQ(saved.Save(dir + "\\Other.lnk", true), plat::kHrOk);
  EXPECT_EQ(shell_link_target(saved, link_file), dir + "\\Other.lnk");
}

TEST_F(WinInterfaces, LinkFieldsParseBack) {
  const std::string dir = win_of(home_);
  const std::string app = dir + "\\Korvane-Snaprill\\KorvaneSnaprill.exe";
  const std::string link_file = dir + "\\Full.lnk";
  const std::string long_args(400, 'a');  // texts are never cut to 255 characters
  std::string link_name, reported;
  ASSERT_TRUE(shell_link_create(link_file,
                                {.target = app,
                                 .working_dir = dir + "\\Korvane-Snaprill",
                                 .arguments = long_args,
                                 .description = " Starts it ",
                                 .icon_file = app,
                                 .icon_index = 2},
                                link_name, reported));
  EXPECT_EQ(link_name, link_file);
  EXPECT_EQ(reported, link_file);
  const plat::ShellLinkData d = ReadLink(link_file);
  EXPECT_EQ(d.target, app);
  EXPECT_EQ(d.working_dir, dir + "\\Korvane-Snaprill");
  EXPECT_EQ(d.arguments, long_args);
  EXPECT_EQ(d.description, " Starts it ");  // set untrimmed
  EXPECT_EQ(d.icon_location, app);
  EXPECT_EQ(d.icon_index, 2);
}

TEST_F(WinInterfaces, BlankTextsAreNotSet) {
  const std::string link_file = win_of(home_) + "\\Blank.lnk";
  std::string link_name, reported;
  ASSERT_TRUE(shell_link_create(link_file,
                                {.target = "C:\\x\\app.exe",
                                 .working_dir = "   ",
                                 .arguments = std::string(" \0 ", 3),
                                 .description = "  ",
                                 .icon_file = "   ",
                                 .icon_index = 7},
                                link_name, reported));
  const plat::ShellLinkData d = ReadLink(link_file);
  EXPECT_EQ(d.flags, plat::kLinkHasLinkInfo | plat::kLinkHasRelativePath | plat::kLinkIsUnicode);
  EXPECT_EQ(d.target, "C:\\x\\app.exe");
  EXPECT_EQ(d.icon_index, 0);

  // No target at all: a link without LinkInfo.
  ASSERT_TRUE(shell_link_create(link_file, {.target = " "}, link_name, reported));
  EXPECT_EQ(ReadLink(link_file).flags, plat::kLinkIsUnicode);
}

TEST_F(WinInterfaces, LinkFailuresWriteNothing) {
  const std::string dir = win_of(home_);
  std::string link_name = "old name", reported = "old target";
  // A text the link cannot hold fails the link instead of leaving it out.
  EXPECT_FALSE(shell_link_create(dir + "\\Bad.lnk", {.target = "C:\\x\\app.exe", .description = "bad \xFF"}, link_name,
                                 reported));
  EXPECT_FALSE(fs::exists(home_ + "/Bad.lnk"));
  // A missing folder, a name that cannot be mapped.
  EXPECT_FALSE(shell_link_create(dir + "\\missing\\A.lnk", {.target = "C:\\x"}, link_name, reported));
  EXPECT_FALSE(shell_link_create("D:\\A.lnk", {.target = "C:\\x"}, link_name, reported));
  EXPECT_EQ(link_name, "old name");
  EXPECT_EQ(reported, "old target");
}

TEST_F(WinInterfaces, GroupLinkIsCreatedAndReplaced) {
  const std::string group_host = home_ + "/.local/share/applications/Korvane Snaprill";
  const std::string expected = win_of(group_host) + "\\Korvane Snaprill.lnk";
  std::string link_name, reported;
  ASSERT_TRUE(shortcut_group_create(
      "Korvane Snaprill", "Korvane Snaprill",
      {.target = "C:\\opt\\app.exe", .working_dir = "C:\\opt", .icon_file = "C:\\opt\\app.exe"}, link_name, reported));
  EXPECT_EQ(link_name, expected);
  EXPECT_EQ(reported, expected);
  EXPECT_EQ(ReadLink(expected).arguments, "");

  // The existing group is reused and the link replaced.
  ASSERT_TRUE(shortcut_group_create("Korvane Snaprill", "Korvane Snaprill",
                                    {.target = "C:\\opt\\app.exe", .arguments = "-second"}, link_name, reported));
  EXPECT_EQ(ReadLink(expected).arguments, "-second");
  EXPECT_EQ(ReadLink(expected).working_dir, "");
  EXPECT_EQ(folder_names(group_host), std::vector<std::string>{"Korvane Snaprill.lnk"});

  // One level only; a file in the group's place.
  EXPECT_FALSE(shortcut_group_create("a\\b", "L", {.target = "C:\\x"}, link_name, reported));
  std::ofstream(home_ + "/.local/share/applications/Blocked") << "x";
  EXPECT_FALSE(shortcut_group_create("Blocked", "L", {.target = "C:\\x"}, link_name, reported));
  EXPECT_EQ(link_name, expected);
}

TEST_F(WinInterfaces, DesktopLink) {
  fs::create_directories(home_ + "/.config");
  std::ofstream(home_ + "/.config/user-dirs.dirs") << "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n";
  std::string link_name, reported;
  ASSERT_TRUE(shortcut_desktop_create("Korvane Snaprill", {.target = "C:\\opt\\app.exe"}, link_name, reported));
  EXPECT_EQ(link_name, win_of(home_ + "/Bureau") + "\\Korvane Snaprill.lnk");
  EXPECT_EQ(ReadLink(link_name).target, "C:\\opt\\app.exe");

  fs::remove_all(home_ + "/Bureau");
  std::ofstream(home_ + "/Bureau") << "x";  // a file where the desktop should be
  EXPECT_FALSE(shortcut_desktop_create("K", {.target = "C:\\opt\\app.exe"}, link_name, reported));
}

TEST_F(WinInterfaces, UninstallEntry) {
  const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane Snaprill";
  const std::string command = "C:\\Users\\u\\Korvane-Snaprill\\" + std::string(300, 'd') + "\\uninstall.exe";
  std::string key_path;
  ASSERT_TRUE(uninstall_entry_create(true, "Korvane Snaprill", command, "korvane.example", key_path));
  EXPECT_EQ(key_path, key);
  EXPECT_EQ(ValueNames(RegRoot::CurrentUser, key),
            (std::vector<std::string>{"UninstallString", "DisplayName", "Publisher"}));
  EXPECT_EQ(Value(RegRoot::CurrentUser, key, "UninstallString"), command);
  EXPECT_EQ(Value(RegRoot::CurrentUser, key, "DisplayName"), "Korvane Snaprill");
  EXPECT_EQ(Value(RegRoot::CurrentUser, key, "Publisher"), "korvane.example");
  EXPECT_EQ(Value(RegRoot::LocalMachine, key, "DisplayName"), "<no key>");

  // The local machine's hive, and a later value failing: the first values stay.
  ASSERT_FALSE(uninstall_entry_create(false, "Korvane Snaprill", "C:\\k\\uninstall.exe", "bad\x01", key_path));
  EXPECT_EQ(Value(RegRoot::LocalMachine, key, "UninstallString"), "C:\\k\\uninstall.exe");
  EXPECT_EQ(Value(RegRoot::LocalMachine, key, "DisplayName"), "Korvane Snaprill");
  EXPECT_EQ(Value(RegRoot::LocalMachine, key, "Publisher"), "<no value>");

  // An empty name would write into the Uninstall key itself.
  const std::string uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  EXPECT_FALSE(uninstall_entry_create(true, "", "C:\\k\\uninstall.exe", "p", key_path));
  EXPECT_EQ(key_path, uninstall + "\\");
  EXPECT_TRUE(ValueNames(RegRoot::CurrentUser, uninstall).empty());

  // Another process holding the hive's lock: the wait ends, and the reason
  // says so (the install log shows it after "Cannot create uninstallation
  // entry ...").
  const int held =
      open((plat::reg_hive_file(RegRoot::CurrentUser) + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  plat::reg_set_lock_wait_ms(200);
  std::string reason;
  EXPECT_FALSE(uninstall_entry_create(true, "Korvane Snaprill", command, "korvane.example", key_path, &reason));
  plat::reg_set_lock_wait_ms(-1);
  close(held);
  EXPECT_NE(reason.find("stayed locked by another process"), std::string::npos) << reason;
}

TEST_F(WinInterfaces, RunValueOfTheDefaultFolder) {
  gAppPath = win_of(home_ + "/.local/share") + "\\Korvane-Snaprill\\KorvaneSnaprill.exe";
  gRunValuePrefix = cFileName(gAppPath).LastDirectory();  // as the window sets it
  EXPECT_FALSE(autorun_is_set(gAppPath, true));
  ASSERT_TRUE(autorun_set(gAppPath, true));
  EXPECT_EQ(ValueNames(RegRoot::CurrentUser, kRunKey), std::vector<std::string>{"Korvane-Snaprill\\Korvane-Snaprill"});
  EXPECT_EQ(Value(RegRoot::CurrentUser, kRunKey, "Korvane-Snaprill\\Korvane-Snaprill"), "\"" + gAppPath + "\"");
  EXPECT_TRUE(autorun_is_set(gAppPath, true));
  EXPECT_FALSE(autorun_is_set(gAppPath, false));  // the other hive

  EXPECT_TRUE(autorun_remove(true));
  EXPECT_TRUE(ValueNames(RegRoot::CurrentUser, kRunKey).empty());
  EXPECT_FALSE(autorun_is_set(gAppPath, true));
  EXPECT_TRUE(autorun_remove(true));  // nothing there: still success
}

TEST_F(WinInterfaces, AutorunIsSetComparesDataLooselyAndNamesExactly) {
  gRunValuePrefix = "Korvane-Snaprill\\";
  const std::string app = "C:\\Apps\\Korvane-Snaprill\\KorvaneSnaprill.exe";
  const std::string name = "Korvane-Snaprill\\Korvane-Snaprill";
  struct Case {
    std::string name, data;
    bool is_set;
  } cases[] = {
      {name, "\"" + app + "\"", true},
      {name, "\"C:\\APPS\\korvane-snaprill\\KORVANESNAPRILL.EXE\"", true},
      {name, "\"" + app + "\"   ", true},
      {name, " \"" + app + "\"", false},
      {name, app, false},
      {name, "\"C:\\Apps\\Other\\KorvaneSnaprill.exe\"", false},
      {"korvane-snaprill\\Korvane-Snaprill", "\"" + app + "\"", false},
      {"Korvane-Snaprill", "\"" + app + "\"", false},
  };
  for (const Case& c : cases) {
    SetRunValue(c.name, c.data);
    EXPECT_EQ(autorun_is_set(app, true), c.is_set) << c.name << " = " << c.data;
    plat::RegKey key;
    ASSERT_EQ(plat::reg_open_key(RegRoot::CurrentUser, kRunKey, key), plat::kRegOk);
    ASSERT_EQ(plat::reg_delete_value(key, c.name), plat::kRegOk);
  }
}

TEST_F(WinInterfaces, AutorunNeedsTheRunKeyAndReportsTheWrite) {
  gRunValuePrefix = "Korvane-Snaprill\\";
  // The seeded local machine hive has the key too.
  EXPECT_TRUE(autorun_set("C:\\a\\app.exe", false));
  EXPECT_TRUE(autorun_is_set("C:\\a\\app.exe", false));
  EXPECT_FALSE(autorun_is_set("C:\\a\\app.exe", true));

  // Data the registry refuses: the write fails, and so does the call.
  EXPECT_FALSE(autorun_set("C:\\a\\app\n.exe", true));
  EXPECT_TRUE(ValueNames(RegRoot::CurrentUser, kRunKey).empty());

  // Without the Run key nothing is created and every call fails.
  ASSERT_EQ(plat::reg_delete_key(RegRoot::CurrentUser, kRunKey), plat::kRegOk);
  EXPECT_FALSE(autorun_set("C:\\a\\app.exe", true));
  EXPECT_FALSE(autorun_is_set("C:\\a\\app.exe", true));
  EXPECT_FALSE(autorun_remove(true));
  plat::RegKey key;
  EXPECT_EQ(plat::reg_open_key(RegRoot::CurrentUser, kRunKey, key), plat::kRegNotFound);
}

TEST_F(WinInterfaces, PrivilegeAnswersFollowThePinnedIdentity) {
  struct Case {
    uint32_t platform_id, euid;
    std::vector<std::string> groups;
    bool admin, power_user;
  } cases[] = {
      {plat::kPlatformWin32NT, 0, {"root"}, true, false},
      {plat::kPlatformWin32NT, 1000, {"users", "wheel"}, false, true},
      {plat::kPlatformWin32NT, 1000, {"sudo"}, false, true},
      {plat::kPlatformWin32NT, 1000, {"users", "Wheel", "sudoers"}, false, false},
      {plat::kPlatformWin32NT, 0, {"sudo"}, true, true},
      {plat::kPlatformWin32Windows, 1000, {"users"}, true, true},  // outside NT: always true
  };
  for (const Case& c : cases) {
    plat::PlatformVersion version;
    version.platform_id = c.platform_id;
    version.major = c.platform_id == plat::kPlatformWin32NT ? 10 : 4;
    plat::security_pin_version(version);
    plat::security_pin_identity(plat::HostIdentity{c.euid, c.groups});
    EXPECT_EQ(user_is_admin(), c.admin) << c.euid;
    EXPECT_EQ(user_is_power_user(), c.power_user) << c.euid;
    EXPECT_EQ(user_in_group(545), c.platform_id != plat::kPlatformWin32NT);  // Users: never asked
  }
}

TEST_F(WinInterfaces, Folders) {
  EXPECT_EQ(folder_local_app_data(), win_of(home_ + "/.local/share"));
  EXPECT_EQ(folder_program_files(), "");
  fs::remove_all(home_ + "/.local");
  EXPECT_EQ(folder_local_app_data(), win_of(home_ + "/.local/share"));
  EXPECT_TRUE(fs::is_directory(home_ + "/.local/share"));
  setenv("XDG_DATA_HOME", (home_ + "/file").c_str(), 1);
  std::ofstream(home_ + "/file") << "x";
  EXPECT_EQ(folder_local_app_data(), "");
}

}  // namespace
