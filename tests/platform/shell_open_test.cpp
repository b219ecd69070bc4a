// Links and programs are started with their text as one argument.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/stat.h>

#include "plat_path_map.h"
#include "plat_shell_open.h"
#include "sandbox.h"

namespace {

// Writes a stand-in program that records its arguments, one per line.
std::string write_recorder(const std::string& dir, const std::string& name) {
  std::string path = dir + "/" + name;
  std::ofstream(path) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" << dir
                      << "/argv.tmp\"\nmv \"" << dir << "/argv.tmp\" \"" << dir << "/argv\"\n";
  chmod(path.c_str(), 0755);
  return path;
}

std::string wait_for_file(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream in(path);
    if (in) {
      std::stringstream ss;
      ss << in.rdbuf();
      return ss.str();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "<none>";
}

}  // namespace

TEST(ShellOpen, UrlIsOneArgumentOfTheOpener) {
  std::string dir = testenv::sandbox_dir("opener");
  write_recorder(dir, "xdg-open");
  testenv::SavedEnv env({"PATH"});
  setenv("PATH", (dir + ":" + getenv("PATH")).c_str(), 1);
  std::string url = "https://example.org/a b?q=\"x\";rm -rf $HOME 'y'`z`";
  ASSERT_TRUE(plat::shell_open_url(url));
  EXPECT_EQ(wait_for_file(dir + "/argv"), url + "\n");
  EXPECT_FALSE(plat::shell_open_url(""));
}

TEST(ShellOpen, ProgramStartsByItsWindowsName) {
  std::string dir = testenv::sandbox_dir("program");
  std::string host = write_recorder(dir, "installed app");
  std::string win;
  ASSERT_TRUE(plat::from_posix(host, win));
  ASSERT_TRUE(plat::shell_run_program(win, {"--first run", "a;b"}));
  EXPECT_EQ(wait_for_file(dir + "/argv"), "--first run\na;b\n");
  EXPECT_FALSE(plat::shell_run_program("D:\\elsewhere.exe"));
  EXPECT_FALSE(plat::shell_run_program(win + "-missing"));
}

TEST(ShellOpen, TextWithANulIsRefusedNotCut) {
  // A NUL would end the C string early: the child would get another link
  // or argument than the one asked for.
  std::string dir = testenv::sandbox_dir("nul");
  write_recorder(dir, "xdg-open");
  std::string host = write_recorder(dir, "app");
  testenv::SavedEnv env({"PATH"});
  setenv("PATH", (dir + ":" + getenv("PATH")).c_str(), 1);
  using namespace std::string_literals;
  EXPECT_FALSE(plat::shell_open_url("https://example.org/\0.evil"s));
  std::string win;
  ASSERT_TRUE(plat::from_posix(host, win));
  EXPECT_FALSE(plat::shell_run_program(win, {"--ok", "a\0b"s}));
  EXPECT_FALSE(plat::shell_run_program(win + "\0x"s));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(std::ifstream(dir + "/argv").good(), false);
}
