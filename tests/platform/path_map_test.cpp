#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "plat_path_map.h"
#include "sandbox.h"

using plat::PathUse;

TEST(PathMap, WindowsNamesToHostPaths) {
  struct {
    std::string win;
    PathUse use;
    int32_t code;
    std::string host;
  } cases[] = {
      {"C:\\home\\u\\x.txt", PathUse::Name, 0, "/home/u/x.txt"},
      {"c:\\Home\\U", PathUse::Name, 0, "/Home/U"},  // no case folding
      {"C:\\", PathUse::Name, 0, "/"},
      {"C:", PathUse::Name, 0, "."},
      {"C:rest\\f", PathUse::Name, 0, "rest/f"},
      {"C:/a/b", PathUse::Name, 0, "/a/b"},
      {"\\rest", PathUse::Name, 0, "/rest"},
      {"\\", PathUse::Name, 0, "/"},
      {"rest\\f", PathUse::Name, 0, "rest/f"},
      {"a/b\\c", PathUse::Name, 0, "a/b/c"},
      {"..\\x\\.\\y", PathUse::Name, 0, "../x/./y"},  // the kernel resolves levels
      {"abc. ", PathUse::Name, 0, "abc. "},           // trailing dots and blanks stay
      {"C:\\a\\abc.", PathUse::Name, 0, "/a/abc."},
      {"\\\\?\\C:\\x\\y.z", PathUse::Name, 0, "/x/y.z"},
      {"\\\\?\\rel\\f", PathUse::Name, 0, "rel/f"},
      {"UNC\\x", PathUse::Name, 0, "UNC/x"},                        // without the prefix a folder named UNC
      {"caf\xc3\xa9\\\xff", PathUse::Name, 0, "caf\xc3\xa9/\xff"},  // bytes pass unchanged
      {"C:\\d\\*.*", PathUse::Pattern, 0, "/d/*.*"},
      {"C:\\d\\a?c", PathUse::Pattern, 0, "/d/a?c"},
      // Other drives and network names.
      {"D:\\x", PathUse::Name, 15, ""},
      {"z:", PathUse::Name, 15, ""},
      {"a:b", PathUse::Name, 15, ""},
      {"\\\\host\\share\\f", PathUse::Name, 15, ""},
      {"//host/share", PathUse::Name, 15, ""},
      {"\\\\?\\\\\\host\\share\\f", PathUse::Name, 15, ""},
      {"\\\\?\\UNC\\host\\share", PathUse::Name, 15, ""},
      {"\\\\?\\unc", PathUse::Name, 15, ""},
      {"\\\\?\\D:\\x", PathUse::Name, 15, ""},
      {"\\\\.\\pipe\\x", PathUse::Name, 15, ""},
      // Names Windows itself refuses.
      {"", PathUse::Name, 3, ""},
      {"\\\\?\\", PathUse::Name, 3, ""},
      {"ab:c", PathUse::Name, 3, ""},
      {"C:\\a:b", PathUse::Name, 3, ""},
      {"a<b", PathUse::Name, 3, ""},
      {"a>b", PathUse::Name, 3, ""},
      {"a\"b", PathUse::Name, 3, ""},
      {"a|b", PathUse::Name, 3, ""},
      {"a\tb", PathUse::Name, 3, ""},
      {std::string("a\0b", 3), PathUse::Name, 3, ""},
      {"C:\\d\\*.*", PathUse::Name, 3, ""},
      {"C:\\d?\\x", PathUse::Name, 3, ""},
      {"C:\\*\\x", PathUse::Pattern, 3, ""},
      {"C:\\d\\a|*", PathUse::Pattern, 3, ""},
  };
  for (const auto& c : cases) {
    std::string host = "stale";
    EXPECT_EQ(plat::to_posix(c.win, host, c.use), c.code) << c.win;
    EXPECT_EQ(host, c.host) << c.win;
  }
}

TEST(PathMap, HostPathsToWindowsNames) {
  struct {
    std::string host;
    bool ok;
    std::string win;
  } cases[] = {
      {"/", true, "C:\\"},
      {"/a/b", true, "C:\\a\\b"},
      {"/a/b/", true, "C:\\a\\b\\"},
      {"//a///b", true, "C:\\a\\b"},
      {"/home/u/.local/share", true, "C:\\home\\u\\.local\\share"},
      {"/x/abc. /CON", true, "C:\\x\\abc. \\CON"},
      {"/caf\xc3\xa9", true, "C:\\caf\xc3\xa9"},
      {"", false, ""},
      {"a/b", false, ""},
      {"./a", false, ""},
      {"/a\\b", false, ""},
      {"/a:b", false, ""},
      {"/x/p|q", false, ""},
      {"/x/a<b", false, ""},
      {"/x/a>b", false, ""},
      {"/x/a\"b", false, ""},
      {"/x/a*b", false, ""},
      {"/x/a?b", false, ""},
      {"/x/a\nb", false, ""},
  };
  for (const auto& c : cases) {
    std::string win = "stale";
    EXPECT_EQ(plat::from_posix(c.host, win), c.ok) << c.host;
    EXPECT_EQ(win, c.win) << c.host;
    if (c.ok) {
      // Every name that can be written as a Windows name maps back.
      std::string back;
      ASSERT_EQ(plat::to_posix(win, back), 0) << win;
      EXPECT_EQ(std::filesystem::path(back).lexically_normal(), std::filesystem::path(c.host).lexically_normal())
          << c.host;
    }
  }
}

class CurrentDir : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = std::filesystem::current_path(); }
  void TearDown() override { std::filesystem::current_path(saved_); }
  std::filesystem::path saved_;
};

TEST_F(CurrentDir, RoundTripsThroughTheMapping) {
  const std::string dir = testenv::sandbox_dir("cwd round trip");
  std::filesystem::current_path(dir);
  const std::string win = plat::current_dir();
  ASSERT_EQ(win.rfind("C:\\", 0), 0u) << win;
  EXPECT_EQ(win.find('/'), std::string::npos) << win;
  std::string host;
  ASSERT_EQ(plat::to_posix(win, host), 0);
  EXPECT_TRUE(std::filesystem::equivalent(host, dir)) << host;

  std::filesystem::current_path("/");
  EXPECT_EQ(plat::current_dir(), "C:\\");
}

TEST_F(CurrentDir, UnwritableFolderGivesEmpty) {
  const std::string dir = testenv::sandbox_dir("p|q");
  std::filesystem::current_path(dir);
  EXPECT_EQ(plat::current_dir(), "");
}
