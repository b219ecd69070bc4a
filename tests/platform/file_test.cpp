#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "plat_file.h"
#include "plat_path_map.h"
#include "sandbox.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

using testenv::win_of;
const auto& put = testenv::write_file;
const auto& get = testenv::read_file;

}  // namespace

TEST(PlatFile, OpenAndCreateRefuseWhatTheyMust) {
  const std::string dir = testenv::sandbox_dir("open");
  put(dir + "/f", "0123456789");
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  fs::create_directory(dir + "/d");
  const std::string w = win_of(dir);

  struct {
    std::string name;
    int32_t access;
    int32_t code;
  } cases[] = {
      {w + "\\f", 1, 0},
      {w + "\\f", 3, 0},
      {w + "\\missing", 1, plat::kFileErrNotFound},
      {w + "\\nodir\\f", 1, plat::kFileErrNotFound},
      {w + "\\f\\x", 1, plat::kFileErrPathNotFound},  // a file where a folder is expected
      {w + "\\fifo", 1, plat::kFileErrAccess},        // never blocks on a FIFO
      {w + "\\fifo", 2, plat::kFileErrAccess},
      {w + "\\d", 1, plat::kFileErrAccess},
      {"D:\\x", 1, plat::kFileErrBadDrive},
      {w + "\\a|b", 1, plat::kFileErrPathNotFound},
  };
  for (const auto& c : cases) {
    int32_t error = -1;
    const int fd = plat::open_file(c.name, c.access, error);
    EXPECT_EQ(error, c.code) << c.name;
    EXPECT_EQ(fd >= 0, c.code == 0) << c.name;
    if (fd >= 0) {
      EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
      EXPECT_FALSE(fcntl(fd, F_GETFL) & O_NONBLOCK);
      plat::close_file(fd);
    }
  }

  // Creation that must not replace is refused and leaves the file alone.
  int32_t error = -1;
  EXPECT_EQ(plat::create_file(w + "\\f", false, error), -1);
  EXPECT_EQ(error, plat::kFileErrExists);
  EXPECT_EQ(get(dir + "/f"), "0123456789");
  // A dangling symbolic link is an existing name too.
  fs::create_symlink(dir + "/nowhere", dir + "/dangling");
  EXPECT_EQ(plat::create_file(w + "\\dangling", false, error), -1);
  EXPECT_FALSE(fs::exists(dir + "/nowhere"));
  // Truncating creation empties the file; a fresh one is created empty.
  int fd = plat::create_file(w + "\\f", true, error);
  ASSERT_GE(fd, 0);
  plat::close_file(fd);
  EXPECT_EQ(fs::file_size(dir + "/f"), 0u);
  EXPECT_EQ(plat::create_file(w + "\\fifo", true, error), -1);
  EXPECT_EQ(error, plat::kFileErrAccess);

  const mode_t mask = umask(022);
  fd = plat::create_file(w + "\\run.EXE", false, error);
  ASSERT_GE(fd, 0);
  plat::close_file(fd);
  fd = plat::create_file(w + "\\data.bin", false, error);
  ASSERT_GE(fd, 0);
  plat::close_file(fd);
  umask(mask);
  EXPECT_EQ(fs::status(dir + "/run.EXE").permissions(), fs::perms(0755));
  EXPECT_EQ(fs::status(dir + "/data.bin").permissions(), fs::perms(0644));
}

TEST(PlatFile, TransfersPositionsAndTruncationOnTheDescriptor) {
  const std::string dir = testenv::sandbox_dir("io");
  const std::string w = win_of(dir);
  int32_t error = -1;
  const int fd = plat::create_file(w + "\\f", false, error);
  ASSERT_GE(fd, 0);
  int64_t done = -1;
  EXPECT_EQ(plat::write_full(fd, "abcdefghij", 10, done), 0);
  EXPECT_EQ(done, 10);
  int64_t pos = -1, size = -1;
  EXPECT_EQ(plat::file_position(fd, pos), 0);
  EXPECT_EQ(pos, 10);
  // Positions beyond 4 GiB travel unchanged (a sparse file).
  const int64_t far = (int64_t(1) << 32) + 4;
  EXPECT_EQ(plat::write_at(fd, far, "Z", 1, done), 0);
  EXPECT_EQ(plat::file_size_of(fd, size), 0);
  EXPECT_EQ(size, far + 1);
  EXPECT_EQ(plat::file_position(fd, pos), 0);
  EXPECT_EQ(pos, 10);  // the _at forms leave the position alone
  char buf[8] = {};
  EXPECT_EQ(plat::read_at(fd, far - 1, buf, 4, done), plat::kFileErrRead);
  EXPECT_EQ(done, 2);
  EXPECT_EQ(std::string(buf, 2), std::string("\0Z", 2));

  // Truncation works on the open file even after its name was taken over.
  fs::rename(dir + "/f", dir + "/moved");
  put(dir + "/f", "other");
  EXPECT_EQ(plat::file_truncate(fd, 3), 0);
  EXPECT_EQ(get(dir + "/moved"), "abc");
  EXPECT_EQ(get(dir + "/f"), "other");
  EXPECT_EQ(plat::file_set_position(fd, 1), 0);
  EXPECT_EQ(plat::read_full(fd, buf, 3, done), plat::kFileErrRead);
  EXPECT_EQ(done, 2);
  EXPECT_EQ(plat::close_file(fd), 0);

  // A read-only descriptor cannot write.
  const int ro = plat::open_file(w + "\\f", 1, error);
  ASSERT_GE(ro, 0);
  EXPECT_EQ(plat::write_full(ro, "x", 1, done), plat::kFileErrWrite);
  EXPECT_EQ(done, 0);
  plat::close_file(ro);
  EXPECT_EQ(get(dir + "/f"), "other");
}

TEST(PlatFile, AShortWriteUnderAFileSizeLimitIsReported) {
  const std::string dir = testenv::sandbox_dir("limit");
  const std::string w = win_of(dir);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = {100, 100};
    setrlimit(RLIMIT_FSIZE, &lim);
    int32_t error = -1;
    const int fd = plat::create_file(w + "\\f", false, error);
    if (fd < 0) _exit(10);
    char block[150] = {};
    int64_t done = -1;
    const int32_t code = plat::write_full(fd, block, 150, done);
    _exit(code == plat::kFileErrWrite && done == 100 ? 0 : 11);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(fs::file_size(dir + "/f"), 100u);
}

TEST(PlatFile, NamesAndFolders) {
  const std::string dir = testenv::sandbox_dir("names");
  const std::string w = win_of(dir);
  put(dir + "/f", "x");
  fs::create_directory(dir + "/full");
  put(dir + "/full/x", "x");

  EXPECT_TRUE(plat::file_exists(w + "\\f"));
  EXPECT_FALSE(plat::file_exists(w + "\\full"));
  EXPECT_FALSE(plat::file_exists(w + "\\missing"));
  EXPECT_TRUE(plat::dir_exists(w + "\\full"));
  EXPECT_TRUE(plat::dir_exists(w + "\\full\\"));
  EXPECT_FALSE(plat::dir_exists(w + "\\f"));
  EXPECT_FALSE(plat::dir_exists("D:\\"));

  EXPECT_EQ(plat::make_dir(w + "\\new"), 0);
  EXPECT_EQ(plat::make_dir(w + "\\new"), 0);  // already there
  EXPECT_EQ(plat::make_dir(w + "\\f"), plat::kFileErrExists);
  EXPECT_EQ(plat::make_dir(w + "\\a\\b"), plat::kFileErrNotFound);
  EXPECT_EQ(plat::make_dir(w + "\\f\\b"), plat::kFileErrPathNotFound);

  EXPECT_EQ(plat::remove_dir(w + "\\full"), plat::kFileErrNotEmpty);
  EXPECT_EQ(plat::remove_dir(w + "\\new"), 0);
  EXPECT_EQ(plat::remove_file(w + "\\full"), plat::kFileErrAccess);
  EXPECT_EQ(plat::remove_file(w + "\\full\\x"), 0);
  EXPECT_EQ(plat::remove_file(w + "\\full\\x"), plat::kFileErrNotFound);

  const std::string cwd = fs::current_path();
  EXPECT_EQ(plat::set_current_dir(w + "\\full"), 0);
  EXPECT_EQ(fs::current_path(), fs::path(dir + "/full"));
  EXPECT_EQ(plat::set_current_dir(w + "\\f"), plat::kFileErrPathNotFound);
  fs::current_path(cwd);
}

TEST(PlatFile, FreeSpaceIsAskedOfTheDeepestExistingFolder) {
  const std::string dir = testenv::sandbox_dir("space");
  const std::string w = win_of(dir);
  put(dir + "/f", "x");
  struct statvfs sv {};
  ASSERT_EQ(statvfs(dir.c_str(), &sv), 0);
  const int64_t expect = int64_t(sv.f_bavail) * int64_t(sv.f_frsize);
  // Free space moves while the tests run; allow a little slack.
  auto near = [&](int64_t got) { return got >= 0 && std::llabs(got - expect) < (int64_t(64) << 20); };
  EXPECT_TRUE(near(plat::free_space(w)));
  EXPECT_TRUE(near(plat::free_space(w + "\\not\\yet\\made\\")));
  EXPECT_TRUE(near(plat::free_space(w + "\\f\\under\\a\\file")));
  EXPECT_GE(plat::free_space("C:"), 0);  // the current folder
  EXPECT_EQ(plat::free_space("Q:\\"), -1);
  EXPECT_EQ(plat::free_space("\\\\host\\share\\"), -1);
}

TEST(PlatFile, WildcardMasks) {
  // clang-format off
  struct {
    const char* mask;
    const char* name;
    bool match;
  } cases[] = {
      {"*.*", "noext", true},  {"*", ".hidden", true},    {"*.txt", "a.txt", true},
      {"*.txt", "a.TXT", false}, {"*.txt", "a.txt.bak", false}, {"a?c", "abc", true},
      {"a?c", "ac", false},    {"a?c", "a\xc3\xa9" "c", true},  // one character, two bytes
      {"*b*b", "abxbb", true}, {"exact", "exact", true}, {"exact", "exactly", false},
      {"**", "", true},        {"?", "", false},
  };
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(plat::wildcard_match(c.mask, c.name), c.match) << c.mask << " " << c.name;
}

TEST(PlatFile, SearchListsEntriesWithAttributesAndTimes) {
  const std::string dir = testenv::sandbox_dir("search");
  const std::string w = win_of(dir);
  put(dir + "/a.txt", "12345");
  put(dir + "/ro.dat", "1");
  chmod((dir + "/ro.dat").c_str(), 0444);
  put(dir + "/.hidden", "");
  fs::create_directory(dir + "/sub");
  fs::create_directory(dir + "/outside");
  fs::create_directory_symlink(dir + "/outside", dir + "/link");
  put(dir + "/odd\\name", "");  // cannot be written as a Windows name
  put(dir + "/co:lon", "");
  // 2001-09-09 01:46:40 UTC, 0.5 s: a known file time.
  struct timespec times[2] = {{1000000000, 500000000}, {1000000000, 500000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir + "/a.txt").c_str(), times, 0), 0);

  std::map<std::string, plat::DirEntry> seen;
  plat::DirSearch search;
  plat::DirEntry e;
  ASSERT_EQ(search.Start(w + "\\*.*", e), 0);
  do seen[e.name] = e;
  while (search.Next(e));
  search.Stop();

  std::map<std::string, std::pair<bool, uint16_t>> want = {
      {"a.txt", {false, 1024}}, {"ro.dat", {false, 2}},  {".hidden", {false, 4}},
      {"sub", {true, 32}},      {"outside", {true, 32}}, {"link", {false, 1024}},
  };
  ASSERT_EQ(seen.size(), want.size());
  for (const auto& [name, w2] : want) {
    ASSERT_TRUE(seen.count(name)) << name;
    EXPECT_EQ(seen[name].is_dir, w2.first) << name;
    EXPECT_EQ(seen[name].attributes, w2.second) << name;
  }
  EXPECT_EQ(seen["a.txt"].size, 5u);
  const uint64_t ft = (uint64_t(1000000000) + 11644473600u) * 10000000u + 5000000u;
  EXPECT_EQ(seen["a.txt"].written, ft);
  EXPECT_EQ(seen["a.txt"].accessed, ft);
  EXPECT_NE(seen["a.txt"].created, 0u);

  ASSERT_EQ(search.Start(w + "\\*.txt", e), 0);
  EXPECT_EQ(e.name, "a.txt");
  EXPECT_FALSE(search.Next(e));
  EXPECT_EQ(search.Start(w + "\\*.none", e), plat::kFileErrNotFound);
  EXPECT_EQ(search.Start(w + "\\missing\\*.*", e), plat::kFileErrNotFound);
  EXPECT_EQ(search.Start(w + "\\a.txt\\*.*", e), plat::kFileErrPathNotFound);
  EXPECT_EQ(search.Start("D:\\*.*", e), plat::kFileErrBadDrive);
}

// A tree deeper than any host name can reach (made level by level with
// mkdirat): the removal must not recurse without bound. What lies below the
// reachable depth is left alone, like an entry of an unreachable name, and
// the removal fails.
TEST(PlatFile, RemoveTreeOfAnUnreachableDepthFailsCleanly) {
  const std::string dir = testenv::sandbox_dir("deep-tree");
  fs::create_directories(dir + "/t");
  constexpr int kDepth = 10000;
  int fd = open((dir + "/t").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < kDepth; ++i) {
    ASSERT_EQ(mkdirat(fd, "d", 0755), 0);
    const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
    ASSERT_GE(fd, 0);
  }
  close(fd);
  const plat::TreeRemoval r = plat::remove_tree(win_of(dir) + "\\t");
  EXPECT_NE(r.code, plat::kFileOk);
  EXPECT_EQ(r.stage, 2);
  EXPECT_TRUE(fs::is_directory(dir + "/t/d"));
  // Taken apart from the top without long names, so that the sandbox's own
  // clean-up meets a flat folder.
  const std::string top = dir + "/t/d";
  while (fs::exists(top + "/d")) {
    ASSERT_EQ(rename((top + "/d").c_str(), (dir + "/t/next").c_str()), 0);
    ASSERT_EQ(rmdir(top.c_str()), 0);
    ASSERT_EQ(rename((dir + "/t/next").c_str(), top.c_str()), 0);
  }
}

TEST(PlatFile, RemoveTreeStaysInsideItsTree) {
  const std::string dir = testenv::sandbox_dir("tree");
  const std::string w = win_of(dir);
  // Outside the tree: a folder and a file that links point at.
  fs::create_directories(dir + "/outside/deep");
  put(dir + "/outside/deep/keep", "keep");
  put(dir + "/outside-file", "keep");
  // The tree.
  fs::create_directories(dir + "/t/a/b");
  put(dir + "/t/f", "1");
  put(dir + "/t/a/b/g", "2");
  fs::create_directory_symlink(dir + "/outside", dir + "/t/a/to-outside");
  fs::create_symlink(dir + "/outside-file", dir + "/t/to-file");
  fs::create_directories(dir + "/t/odd");
  put(dir + "/t/odd/x|y", "unreachable");
  put(dir + "/t/odd/plain", "");

  plat::TreeRemoval r = plat::remove_tree(w + "\\t");
  // The folder with the unreachable name stays, and so does the name.
  EXPECT_EQ(r.code, plat::kFileErrNotEmpty);
  EXPECT_EQ(r.stage, 2);
  EXPECT_TRUE(fs::exists(dir + "/t/odd/x|y"));
  EXPECT_FALSE(fs::exists(dir + "/t/odd/plain"));
  EXPECT_EQ(get(dir + "/outside/deep/keep"), "keep");
  EXPECT_EQ(get(dir + "/outside-file"), "keep");

  fs::remove(dir + "/t/odd/x|y");
  r = plat::remove_tree(w + "\\t\\");
  EXPECT_EQ(r.code, 0);
  EXPECT_FALSE(fs::exists(dir + "/t"));
  EXPECT_EQ(get(dir + "/outside/deep/keep"), "keep");

  // A link as the top folder is refused; its target stays.
  fs::create_directory_symlink(dir + "/outside", dir + "/top-link");
  r = plat::remove_tree(w + "\\top-link");
  EXPECT_NE(r.code, 0);
  EXPECT_EQ(r.stage, 3);
  EXPECT_EQ(get(dir + "/outside/deep/keep"), "keep");
  EXPECT_EQ(plat::remove_tree(w + "\\missing").code, plat::kFileErrNotFound);
  EXPECT_EQ(plat::remove_tree(w + "\\outside-file").code, plat::kFileErrPathNotFound);
  EXPECT_EQ(plat::remove_tree(w + "\\outside\\..").code, plat::kFileErrAccess);
}
