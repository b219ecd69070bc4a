// Durable replacement: single files, batches, temporary names and the sweep
// of stale temporary files.
#include "plat_durable.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "sandbox.h"
#include "test_files.h"

namespace {

namespace fs = std::filesystem;
using testenv::read_file;
using testenv::write_file;

std::vector<std::string> names(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Durable, TemporaryNamesStayShortAndKeepTheEnd) {
  for (const size_t n : {size_t(1), size_t(200), size_t(240), size_t(255)}) {
    const std::string name = std::string(n - 1, 'a') + "Z";
    const std::string temp = plat::durable_temp_name("/some/folder/" + name);
    ASSERT_EQ(temp.rfind("/some/folder/.~kvn", 0), 0u) << temp;
    const std::string leaf = temp.substr(13);
    EXPECT_LE(leaf.size(), 255u);
    EXPECT_EQ(leaf.back(), 'Z');
    pid_t pid = 0;
    ASSERT_TRUE(plat::durable_temp_pid(leaf, pid)) << leaf;
    EXPECT_EQ(pid, getpid());
  }
  EXPECT_EQ(plat::durable_temp_name("a.exe").substr(0, 5), ".~kvn");
  EXPECT_NE(plat::durable_temp_name("/x/a"), plat::durable_temp_name("/x/a"));
  pid_t pid = 0;
  for (const char* name : {".~", ".~12-3-a", ".~kvn", ".~kvn1-12", ".~kvn1-12-3", ".~kvnx-12-3-a", ".~kvn1-x-3-a",
                           ".~kvn1-12-y-a", "~kvn1-12-3-a", ".~kvn1-0-1-a", ".~kvn-12-3-a"})
    EXPECT_FALSE(plat::durable_temp_pid(name, pid)) << name;
  plat::DurableTempName parts;
  ASSERT_TRUE(plat::durable_temp_parse(".~kvn7-12-3-", parts));
  EXPECT_EQ(parts.pid_namespace, 7u);
  EXPECT_EQ(parts.pid, 12);
  EXPECT_EQ(parts.number, 3u);
  EXPECT_EQ(parts.tail, 12u);
}

// A batch writes every file under its temporary name, puts none in place
// before Commit, and leaves nothing behind: a failed staging or a batch
// dropped uncommitted removes its temporary files; a rename that fails
// keeps the files renamed before it new and the others old.
TEST(Durable, BatchesCommitTogetherOrLeaveTheOldFiles) {
  const std::string dir = testenv::sandbox_dir("durable-batch");
  fs::create_directories(dir + "/sub");
  write_file(dir + "/a", "old a");
  write_file(dir + "/sub/b", "old b");
  {
    plat::DurableBatch batch;
    ASSERT_TRUE(batch.Stage(dir + "/a", "new a", 5, 0644));
    ASSERT_TRUE(batch.Stage(dir + "/sub/b", "new b", 5, 0644));
    ASSERT_TRUE(batch.Stage(dir + "/c.exe", "", 0, 0777));
    EXPECT_EQ(read_file(dir + "/a"), "old a");
    EXPECT_EQ(names(dir).size(), 4u);  // a, sub and two temporary files
  }                                    // dropped: nothing changes
  EXPECT_EQ(names(dir), (std::vector<std::string>{"a", "sub"}));
  EXPECT_EQ(names(dir + "/sub"), std::vector<std::string>{"b"});

  plat::DurableBatch batch;
  ASSERT_TRUE(batch.Stage(dir + "/a", "new a", 5, 0644));
  ASSERT_TRUE(batch.Stage(dir + "/sub/b", "new b", 5, 0644));
  ASSERT_TRUE(batch.Stage(dir + "/c.exe", "", 0, 0777));
  EXPECT_FALSE(batch.Stage(dir + "/missing/d", "x", 1, 0644));
  EXPECT_EQ(batch.Failure().stage, plat::DurableStage::Create);
  EXPECT_EQ(batch.Failure().item, 3);
  batch.SyncFolder(dir);  // the folder holding "sub"
  ASSERT_TRUE(batch.Commit());
  EXPECT_EQ(read_file(dir + "/a"), "new a");
  EXPECT_EQ(read_file(dir + "/sub/b"), "new b");
  EXPECT_EQ(fs::file_size(dir + "/c.exe"), 0u);
  EXPECT_EQ(::access((dir + "/c.exe").c_str(), X_OK), 0);
  EXPECT_EQ(names(dir), (std::vector<std::string>{"a", "c.exe", "sub"}));

  // A folder where the second target goes: the first is new, the third old.
  fs::create_directories(dir + "/sub/b2");
  write_file(dir + "/z", "old z");
  plat::DurableBatch failing;
  ASSERT_TRUE(failing.Stage(dir + "/a", "newer a", 7, 0644));
  ASSERT_TRUE(failing.Stage(dir + "/sub/b2", "x", 1, 0644));
  ASSERT_TRUE(failing.Stage(dir + "/z", "new z", 5, 0644));
  EXPECT_FALSE(failing.Commit());
  EXPECT_EQ(failing.Failure().stage, plat::DurableStage::Rename);
  EXPECT_EQ(failing.Failure().item, 1);
  EXPECT_EQ(failing.Failure().target, dir + "/sub/b2");
  EXPECT_EQ(read_file(dir + "/a"), "newer a");
  EXPECT_EQ(read_file(dir + "/z"), "old z");
  EXPECT_TRUE(fs::is_directory(dir + "/sub/b2"));
  EXPECT_EQ(names(dir), (std::vector<std::string>{"a", "c.exe", "sub", "z"}));
  EXPECT_EQ(names(dir + "/sub"), (std::vector<std::string>{"b", "b2"}));

  // A folder to sync that is gone fails the commit after the renames.
  plat::DurableBatch gone;
  ASSERT_TRUE(gone.Stage(dir + "/z", "newer z", 7, 0644));
  gone.SyncFolder(dir + "/gone");
  EXPECT_FALSE(gone.Commit());
  EXPECT_EQ(gone.Failure().stage, plat::DurableStage::Folder);
  EXPECT_EQ(read_file(dir + "/z"), "newer z");
}

TEST(Durable, SingleReplacement) {
  const std::string dir = testenv::sandbox_dir("durable-one");
  plat::DurableFailure f;
  ASSERT_TRUE(plat::durable_replace(dir + "/h", "text", 4, 0600, f));
  EXPECT_EQ(read_file(dir + "/h"), "text");
  struct stat st {};
  ASSERT_EQ(stat((dir + "/h").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(plat::durable_replace(dir + "/no/h", "x", 1, 0600, f));
  EXPECT_EQ(f.stage, plat::DurableStage::Create);
  fs::create_directories(dir + "/folder");
  EXPECT_FALSE(plat::durable_replace(dir + "/folder", "x", 1, 0600, f));
  EXPECT_EQ(f.stage, plat::DurableStage::Rename);
  EXPECT_EQ(names(dir), (std::vector<std::string>{"folder", "h"}));
}

TEST(Durable, FileWrittenInPieces) {
  const std::string dir = testenv::sandbox_dir("durable-pieces");
  write_file(dir + "/doc", "old");
  {
    plat::DurableFile file;
    ASSERT_TRUE(file.Open(dir + "/doc", 0644));
    ASSERT_TRUE(file.Write("new ", 4));
    ASSERT_TRUE(file.Write("text", 4));
    EXPECT_EQ(read_file(dir + "/doc"), "old");
    EXPECT_EQ(names(dir).size(), 2u);
  }  // dropped: the old file stays, the temporary one goes
  EXPECT_EQ(names(dir), std::vector<std::string>{"doc"});
  EXPECT_EQ(read_file(dir + "/doc"), "old");

  plat::DurableFile file;
  EXPECT_FALSE(file.Write("x", 1));  // nothing open
  EXPECT_EQ(file.Failure().stage, plat::DurableStage::Write);
  ASSERT_TRUE(file.Open(dir + "/doc", 0644));
  ASSERT_TRUE(file.Write("new ", 4));
  ASSERT_TRUE(file.Write("text", 4));
  ASSERT_TRUE(file.Commit());
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(read_file(dir + "/doc"), "new text");
  EXPECT_FALSE(file.Commit());

  fs::create_directories(dir + "/folder");
  ASSERT_TRUE(file.Open(dir + "/folder", 0644));
  ASSERT_TRUE(file.Write("x", 1));
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(file.Failure().stage, plat::DurableStage::Rename);
  EXPECT_EQ(file.Failure().target, dir + "/folder");
  EXPECT_EQ(names(dir), (std::vector<std::string>{"doc", "folder"}));
}

// The sweep removes only what this writer left: files of its marked pattern,
// regular, of this user, whose writer provably ended (a process of this
// namespace that is gone) or, for a writer it cannot ask, older than the
// bound. Look-alike names, links, folders, other users' files and the live
// temporary files of a writer in another namespace stay.
TEST(Durable, SweepRemovesOnlyItsOwnStaleTemporaryFiles) {
  const std::string dir = testenv::sandbox_dir("durable-sweep");
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  waitpid(dead, nullptr, 0);
  const std::string gone = plat::durable_temp_prefix(dead, 0);
  plat::DurableTempName own;
  ASSERT_TRUE(plat::durable_temp_parse(gone, own));
  // The same process id in another namespace: its writer may still run.
  const std::string elsewhere = ".~kvn" + std::to_string(own.pid_namespace + 1) + "-" + std::to_string(dead) + "-0-";
  const std::string mine = plat::durable_temp_name(dir + "/mine").substr(dir.size() + 1);
  const timespec two_days_ago{time(nullptr) - 2 * plat::kDurableStaleSeconds, 0};
  struct Case {
    std::string name;
    bool removed;
  };
  const std::vector<Case> cases = {
      {gone + "a", true},                                     // its writer ended
      {gone + "b.exe", true},                                 //
      {elsewhere + "young.pdf", false},                       // another namespace, written just now
      {elsewhere + "old.pdf", true},                          // another namespace, two days old
      {mine, false},                                          // this process's own
      {".~" + std::to_string(dead) + "-1-notes.txt", false},  // a user's file that only looks alike
      {".~99999999-0-report.pdf", false},                     //
      {".~other", false},                                     //
      {"a", false},                                           //
      {gone + "theirs.txt", false},                           // another user's (made so below, when root)
      {gone + "link", false},                                 // a link to a file of the pattern
  };
  for (const Case& c : cases) {
    if (c.name == gone + "link") continue;
    write_file(dir + "/" + c.name, "x");
  }
  ASSERT_EQ(symlink((dir + "/" + gone + "a").c_str(), (dir + "/" + gone + "link").c_str()), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, (dir + "/" + elsewhere + "old.pdf").c_str(),
                      std::vector<timespec>{two_days_ago, two_days_ago}.data(), 0),
            0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown((dir + "/" + gone + "theirs.txt").c_str(), 65534, 65534), 0);
  }
  fs::create_directories(dir + "/" + gone + "folder");
  std::vector<std::string> kept = {gone + "folder"};
  int removed = 0;
  for (const Case& c : cases) {
    const bool goes = c.removed || (!root && c.name == gone + "theirs.txt");
    if (goes) {
      ++removed;
    } else {
      kept.push_back(c.name);
    }
  }
  EXPECT_EQ(plat::durable_remove_stale(dir), removed);
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(names(dir), kept);
  EXPECT_EQ(plat::durable_remove_stale(dir + "/missing"), 0);
}

}  // namespace

namespace {

// Process ids are reused (a program started first in its own process
// namespace always has the same one): a temporary file that an ended run
// with this process's id left behind must not block a replacement.
TEST(Durable, TemporaryFilesOfAnEarlierRunWithThisIdDoNotBlock) {
  const std::string dir = testenv::sandbox_dir("durable-reused-id");
  write_file(dir + "/a", "old a");
  write_file(dir + "/b", "old b");
  // The counter's next values, as an earlier run with this id used them.
  plat::DurableTempName probe;
  ASSERT_TRUE(plat::durable_temp_parse(plat::durable_temp_name(dir + "/a").substr(dir.size() + 1), probe));
  const uint64_t next = probe.number + 1;
  for (uint64_t n = next; n < next + 8; ++n)
    for (const char* leaf : {"a", "b"}) write_file(dir + "/" + plat::durable_temp_prefix(getpid(), n) + leaf, "stale");
  plat::DurableBatch batch;
  ASSERT_TRUE(batch.Stage(dir + "/a", "new a", 5, 0644)) << batch.Failure().err;
  ASSERT_TRUE(batch.Commit());
  EXPECT_EQ(read_file(dir + "/a"), "new a");
  plat::DurableFailure f;
  ASSERT_TRUE(plat::durable_replace(dir + "/b", "new b", 5, 0644, f)) << f.err;
  EXPECT_EQ(read_file(dir + "/b"), "new b");
  // The stale files were left untouched, not written over.
  for (const std::string& name : names(dir)) {
    if (name == "a" || name == "b") continue;
    EXPECT_EQ(read_file(dir + "/" + name), "stale") << name;
  }
}

}  // namespace
