#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "plat_path_map.h"
#include "plat_shell_folders.h"
#include "sandbox.h"
#include "test_files.h"

namespace {

namespace fs = std::filesystem;

// Each test gets a home of its own; the variables are put back afterwards.
class PlatSpecialFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    home_ = testenv::sandbox_dir("folders-" + name);
    setenv("HOME", home_.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
  }
  static std::string Win(const std::string& host) { return testenv::win_of(host); }
  void WriteUserDirs(const std::string& text) {
    fs::create_directories(home_ + "/.config");
    std::ofstream(home_ + "/.config/user-dirs.dirs") << text;
  }
  // The folder's Windows form, checking that it now exists as a folder.
  std::string Folder(int32_t id) {
    std::string win;
    EXPECT_EQ(plat::special_folder_path(id, win), plat::kFolderOk) << id;
    std::string host;
    EXPECT_EQ(plat::to_posix(win, host), plat::kPathOk) << win;
    EXPECT_TRUE(fs::is_directory(host)) << host;
    return win;
  }

  std::string home_;
  testenv::SavedEnv saved_{"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"};
};

TEST_F(PlatSpecialFolders, DefaultsUnderHomeAreCreatedPrivate) {
  EXPECT_EQ(Folder(plat::kFolderLocalAppData), Win(home_ + "/.local/share"));
  EXPECT_EQ(Folder(plat::kFolderPrograms), Win(home_ + "/.local/share/applications"));
  EXPECT_EQ(Folder(plat::kFolderDesktopDirectory), Win(home_ + "/Desktop"));
  EXPECT_EQ(Win(home_ + "/Desktop").rfind("C:\\", 0), 0u);
  struct stat st {};
  ASSERT_EQ(stat((home_ + "/.local/share/applications").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(PlatSpecialFolders, ProgramFilesAndUnknownIdsHaveNoFolder) {
  for (int32_t id : {plat::kFolderProgramFiles, 0, 5, 0x1A}) {
    std::string win = "stale";
    EXPECT_EQ(plat::special_folder_path(id, win), plat::kFolderNone) << id;
    EXPECT_EQ(win, "");
  }
}

TEST_F(PlatSpecialFolders, DataHomeVariable) {
  const std::string data = home_ + "/deep/data";
  setenv("XDG_DATA_HOME", (data + "//").c_str(), 1);
  EXPECT_EQ(Folder(plat::kFolderLocalAppData), Win(data));
  EXPECT_EQ(Folder(plat::kFolderPrograms), Win(data + "/applications"));
  // A relative or empty value is ignored.
  for (const char* value : {"relative/data", ""}) {
    setenv("XDG_DATA_HOME", value, 1);
    EXPECT_EQ(Folder(plat::kFolderLocalAppData), Win(home_ + "/.local/share")) << value;
  }
}

TEST_F(PlatSpecialFolders, DesktopFromUserDirs) {
  const std::string abs = home_ + "/abs desk";
  struct Case {
    std::string file;
    std::string expected;
  } cases[] = {
      {"# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\nXDG_DESKTOP_DIR=\"$HOME/Bureau\"\n", home_ + "/Bureau"},
      {"  XDG_DESKTOP_DIR = \"" + abs + "\"\n", abs},
      {"XDG_DESKTOP_DIR=\"$HOME/\"\n", home_},
      {"XDG_DESKTOP_DIR=\"$HOME/Esc\\$aped\"\n", home_ + "/Esc$aped"},
      {"XDG_DESKTOP_DIR=\"$HOME/First\"\nXDG_DESKTOP_DIR=\"$HOME/Second\"\n", home_ + "/Second"},
      // Lines that are not valid leave the default.
      {"XDG_DESKTOP_DIR=$HOME/Unquoted\n", home_ + "/Desktop"},
      {"XDG_DESKTOP_DIR=\"relative\"\n", home_ + "/Desktop"},
      {"XDG_DESKTOP_DIR=\"$HOMEWORK\"\n", home_ + "/Desktop"},
      {"XDG_DESKTOP_DIR=\"$HOME/open\n", home_ + "/Desktop"},
      {"XDG_DESKTOP_DIRS=\"$HOME/Other\"\n", home_ + "/Desktop"},
      {"", home_ + "/Desktop"},
  };
  for (const Case& c : cases) {
    WriteUserDirs(c.file);
    EXPECT_EQ(Folder(plat::kFolderDesktopDirectory), Win(c.expected)) << c.file;
  }
}

TEST_F(PlatSpecialFolders, ConfigHomeVariableLocatesUserDirs) {
  const std::string config = home_ + "/cfg";
  fs::create_directories(config);
  std::ofstream(config + "/user-dirs.dirs") << "XDG_DESKTOP_DIR=\"$HOME/FromCfg\"\n";
  WriteUserDirs("XDG_DESKTOP_DIR=\"$HOME/FromHome\"\n");
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  EXPECT_EQ(Folder(plat::kFolderDesktopDirectory), Win(home_ + "/FromCfg"));
}

TEST_F(PlatSpecialFolders, UnusableFolders) {
  // A file where the folder should be, a file as a parent, and a name that
  // cannot be written as a Windows name.
  std::ofstream(home_ + "/Desktop") << "x";
  std::ofstream(home_ + "/blocker") << "x";
  setenv("XDG_DATA_HOME", (home_ + "/blocker/data").c_str(), 1);
  std::string win = "stale";
  EXPECT_EQ(plat::special_folder_path(plat::kFolderDesktopDirectory, win), plat::kFolderUnusable);
  EXPECT_EQ(win, "");
  EXPECT_EQ(plat::special_folder_path(plat::kFolderLocalAppData, win), plat::kFolderUnusable);
  EXPECT_EQ(plat::special_folder_path(plat::kFolderPrograms, win), plat::kFolderUnusable);
  WriteUserDirs("XDG_DESKTOP_DIR=\"$HOME/a:b\"\n");
  EXPECT_EQ(plat::special_folder_path(plat::kFolderDesktopDirectory, win), plat::kFolderUnusable);
}

}  // namespace
