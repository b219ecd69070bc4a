#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "plat_file.h"
#include "plat_path_map.h"
#include "qlm_base_lists.h"
#include "qlm_base_util.h"
#include "qlm_platform_file_flow.h"
#include "qlm_platform_file_io.h"
#include "sandbox.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

using testenv::win_of;
const auto& put = testenv::write_file;
const auto& get = testenv::read_file;

// Bytes that show where each one came from.
std::string pattern_bytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char('A' + (i * 7 + i / 251) % 26);
  return s;
}

// An open record on a file holding `bytes`.
struct OpenFile {
  OpenFile(const std::string& dir, const std::string& bytes, int32_t access = 3) : host(dir + "/f") {
    put(host, bytes);
    name.Assign(win_of(host));
    file_clear(&rec);
    EXPECT_TRUE(file_open(&rec, &name, access)) << rec.lastError;
  }
  ~OpenFile() {
    if (rec.mode != eFileMode::Closed) file_close(&rec);
  }
  std::string host;
  cFileName name;
  rFileRecord rec;
};

}  // namespace

TEST(FileRecord, InsertMovesTheTailUpAndZeroFills) {
  const std::string small = "0123456789";
  const std::string big = pattern_bytes(200000);
  // clang-format off
  struct {
    const std::string* data;
    int64_t offs, count;
    int64_t pos;  // position afterwards (the adjusted offset)
  } cases[] = {
      {&small, 4, 10, 4},         {&small, 12, 5, 10},        {&small, -1, 5, 10},
      {&small, 0, 3, 0},          {&small, 10, 0, 10},        {&small, 3, 0, 3},
      {&big, 1000, 70000, 1000},  {&big, 150000, 3, 150000},  {&big, -1, 140000, 200000},
      {&big, 0, 65520, 0},        {&big, 200010, 131041, 200000},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.data->size()) + " " + std::to_string(c.offs) + " " + std::to_string(c.count));
    OpenFile f(testenv::sandbox_dir("ins"), *c.data);
    ASSERT_TRUE(file_insert(&f.rec, c.offs, c.count)) << f.rec.lastError;
    std::string want = *c.data;
    const size_t at = c.offs == -1 ? want.size() : size_t(c.offs);
    if (at > want.size()) want.resize(at, '\0');
    want.insert(at, size_t(c.count), '\0');
    EXPECT_EQ(file_offs(&f.rec), c.pos);
    EXPECT_EQ(f.rec.lastCount, int64_t(want.size() - c.data->size()));
    file_close(&f.rec);
    EXPECT_TRUE(get(f.host) == want);
  }
}

TEST(FileRecord, DeleteAndCropTables) {
  const std::string small = "0123456789";
  const std::string big = pattern_bytes(200000);
  // clang-format off
  struct {
    const std::string* data;
    int64_t offs, count;
    int32_t error;
  } deletes[] = {
      {&small, 2, 3, 0},    {&small, 7, 3, 0},   {&small, 0, 10, 0},     {&small, 10, 0, 0},
      {&big, 5, 140000, 0}, {&big, 100, 3, 0},   {&big, 60000, 131040, 0},
      {&small, 8, 3, 281},  {&small, 11, 0, 281}, {&small, 5, -2, 279},  {&small, -1, 3, 279},
      {&small, 2, INT64_MAX, 281},
  };
  // clang-format on
  for (const auto& c : deletes) {
    SCOPED_TRACE("delete " + std::to_string(c.offs) + " " + std::to_string(c.count));
    OpenFile f(testenv::sandbox_dir("del"), *c.data);
    EXPECT_EQ(file_delete(&f.rec, c.offs, c.count), c.error == 0);
    EXPECT_EQ(f.rec.lastError, c.error);
    std::string want = *c.data;
    if (c.error == 0) {
      want.erase(size_t(c.offs), size_t(c.count));
      EXPECT_EQ(file_offs(&f.rec), c.offs);
      EXPECT_EQ(f.rec.lastCount, c.count);
    }
    file_close(&f.rec);
    EXPECT_TRUE(get(f.host) == want);
  }

  struct {
    int64_t count;
    int32_t error;
  } crops[] = {{0, 0}, {3, 0}, {10, 0}, {11, 281}, {-1, 279}};
  for (const auto& c : crops) {
    SCOPED_TRACE("crop " + std::to_string(c.count));
    OpenFile f(testenv::sandbox_dir("crop"), small, 2);
    EXPECT_EQ(file_crop(&f.rec, c.count), c.error == 0);
    EXPECT_EQ(f.rec.lastError, c.error);
    const std::string want = c.error == 0 ? small.substr(0, size_t(10 - c.count)) : small;
    if (c.error == 0) {
      EXPECT_EQ(file_offs(&f.rec), int64_t(want.size()));
    }
    file_close(&f.rec);
    EXPECT_EQ(get(f.host), want);
  }

  // Insertion and deletion read, so they need read and write access.
  OpenFile w(testenv::sandbox_dir("modes"), small, 2);
  EXPECT_FALSE(file_insert(&w.rec, 0, 1));
  EXPECT_EQ(w.rec.lastError, errAccessDenied);
  EXPECT_FALSE(file_delete(&w.rec, 0, 1));
  EXPECT_EQ(w.rec.lastError, errAccessDenied);
  OpenFile r(testenv::sandbox_dir("modes"), small, 1);
  EXPECT_FALSE(file_crop(&r.rec, 1));
  EXPECT_EQ(r.rec.lastError, errAccessDenied);
  EXPECT_EQ(get(r.host), small);
}

TEST(FileRecord, NegativeCountsAndOffsetsLeaveTheFileAlone) {
  OpenFile f(testenv::sandbox_dir("neg"), "0123456789");
  char buf[4] = {};
  EXPECT_FALSE(file_read(&f.rec, buf, -1));
  EXPECT_EQ(f.rec.lastError, errPreCondition);
  EXPECT_FALSE(file_write(&f.rec, buf, -5));
  EXPECT_EQ(f.rec.lastError, errPreCondition);
  EXPECT_FALSE(file_insert(&f.rec, 2, -3));
  EXPECT_EQ(f.rec.lastError, errPreCondition);
  EXPECT_FALSE(file_insert(&f.rec, -2, 3));
  EXPECT_EQ(f.rec.lastError, errPreCondition);
  EXPECT_FALSE(file_insert(&f.rec, INT64_MAX, 1));
  EXPECT_EQ(f.rec.lastError, errPreCondition);
  EXPECT_FALSE(file_seek(&f.rec, -2));
  file_close(&f.rec);
  EXPECT_EQ(get(f.host), "0123456789");
}

TEST(FileRecord, OpenCreateTransferSeek) {
  const std::string dir = testenv::sandbox_dir("rec");
  const std::string w = win_of(dir);
  put(dir + "/keep", "keep");
  rFileRecord rec;
  file_clear(&rec);
  cFileName missing(w + "\\missing");
  EXPECT_FALSE(file_open(&rec, &missing, 3));
  EXPECT_EQ(rec.lastError, errFileNF);
  EXPECT_FALSE(file_open(&rec, nullptr, 3));
  EXPECT_EQ(rec.lastError, errPreCondition);
  cFileName blank("   ");
  EXPECT_FALSE(file_open(&rec, &blank, 3));
  EXPECT_EQ(rec.lastError, errPreCondition);
  cFileName in_file(w + "\\keep\\x");
  EXPECT_FALSE(file_create(&rec, &in_file, 1));
  EXPECT_EQ(rec.lastError, errPathNF);

  // Creation that must not replace refuses and leaves the file untouched.
  cFileName keep(w + "\\keep");
  EXPECT_FALSE(file_create(&rec, &keep, 0));
  EXPECT_EQ(rec.lastError, errInvariant);
  EXPECT_EQ(get(dir + "/keep"), "keep");

  cFileName fresh(w + "\\fresh");
  ASSERT_TRUE(file_create(&rec, &fresh, 0));
  EXPECT_EQ(rec.mode, eFileMode::InOut);
  EXPECT_EQ(rec.name, w + "\\fresh");
  EXPECT_FALSE(file_open(&rec, &keep, 3));  // the record is open
  EXPECT_EQ(rec.lastError, errAccessDenied);
  EXPECT_FALSE(file_write(&rec, nullptr, 3));
  EXPECT_EQ(rec.lastError, errPreCondition);
  EXPECT_TRUE(file_write(&rec, nullptr, 0));
  ASSERT_TRUE(file_write(&rec, "abcdefghij", 10));
  EXPECT_EQ(rec.lastCount, 10);
  EXPECT_TRUE(file_eof(&rec));
  EXPECT_EQ(file_size(&rec), 10);
  EXPECT_TRUE(file_seek(&rec, -1));
  EXPECT_EQ(file_offs(&rec), 10);
  EXPECT_TRUE(file_seek(&rec, 10));
  EXPECT_FALSE(file_seek(&rec, 11));
  EXPECT_EQ(rec.lastError, errInvariant);
  ASSERT_TRUE(file_seek(&rec, 7));
  EXPECT_FALSE(file_eof(&rec));
  char buf[8] = {};
  EXPECT_FALSE(file_read(&rec, buf, 5));  // only 3 are left
  EXPECT_EQ(rec.lastError, errDiskRead);
  EXPECT_EQ(rec.lastCount, 3);
  EXPECT_EQ(std::string(buf, 3), "hij");
  EXPECT_FALSE(file_read(&rec, nullptr, 1));
  EXPECT_EQ(rec.lastError, errPreCondition);
  EXPECT_TRUE(file_close(&rec));
  EXPECT_FALSE(file_close(&rec));
  EXPECT_EQ(rec.lastError, errAccessDenied);
  EXPECT_EQ(file_size(&rec), -1);
  EXPECT_EQ(file_size(nullptr), -1);
  EXPECT_EQ(file_offs(nullptr), -1);
  EXPECT_FALSE(file_eof(nullptr));

  // Read only cannot write, write only cannot read.
  ASSERT_TRUE(file_open(&rec, &fresh, 1));
  EXPECT_FALSE(file_write(&rec, "x", 1));
  EXPECT_EQ(rec.lastError, errAccessDenied);
  file_close(&rec);
  ASSERT_TRUE(file_open(&rec, &fresh, 2));
  EXPECT_FALSE(file_read(&rec, buf, 1));
  EXPECT_EQ(rec.lastError, errAccessDenied);
  file_close(&rec);

  // Truncating creation empties; only regular files are opened.
  ASSERT_TRUE(file_create(&rec, &fresh, 1));
  EXPECT_EQ(file_size(&rec), 0);
  file_close(&rec);
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  cFileName fifo(w + "\\fifo");
  EXPECT_FALSE(file_open(&rec, &fifo, 1));
  EXPECT_EQ(rec.lastError, errAccessDenied);
  EXPECT_EQ(rec.mode, eFileMode::Closed);

  // A name longer than the system's path limit is kept whole.
  const std::string long_dir = dir + "/" + std::string(200, 'd');
  fs::create_directories(long_dir);
  cFileName long_name(win_of(long_dir) + "\\" + std::string(100, 'n'));
  ASSERT_TRUE(file_create(&rec, &long_name, 0));
  file_close(&rec);
  EXPECT_TRUE(fs::exists(long_dir + "/" + std::string(100, 'n')));
}

TEST(FileRecord, FailedInsertionsRestoreTheFile) {
  const std::string dir = testenv::sandbox_dir("roll");
  // No buffer: nothing was touched.
  {
    OpenFile f(dir, "0123456789");
    mem_alloc_fail_at(1);
    EXPECT_FALSE(file_insert(&f.rec, 4, 10));
    mem_alloc_fail_at(0);
    EXPECT_EQ(f.rec.lastError, errNEnoughMem);
    file_close(&f.rec);
    EXPECT_EQ(get(f.host), "0123456789");
  }
  // A write that fails half-way in any step. Appending and moving the tail
  // are undone completely; a failed zero fill is reported (the size is the
  // new one, the inserted range undefined). A small count makes each moved
  // chunk overlap its own source, so a half-done write damages it.
  const std::string data = pattern_bytes(200000);
  struct {
    int64_t offs, count;
    int32_t restoring_writes;  // writes of the append and move steps
  } cases[] = {{1000, 1000, 1 + 4}, {1000, 70000, 2 + 4}, {150000, 3, 1 + 1}};
  for (const auto& c : cases) {
    for (int32_t k = 1;; ++k) {
      SCOPED_TRACE(std::to_string(c.count) + " write " + std::to_string(k));
      OpenFile f(dir, data);
      plat::write_at_fail_at(k);
      const bool ok = file_insert(&f.rec, c.offs, c.count);
      plat::write_at_fail_at(0);
      const int32_t error = f.rec.lastError;
      const int64_t size = file_size(&f.rec);
      file_close(&f.rec);
      if (ok) {
        EXPECT_GT(k, c.restoring_writes);
        break;
      }
      EXPECT_EQ(error, errInvariant);
      if (k <= c.restoring_writes) {
        EXPECT_TRUE(get(f.host) == data);
      } else {
        EXPECT_EQ(size, 200000 + c.count);
      }
      ASSERT_LT(k, 20);
    }
  }

  // A deletion that cannot move the tail is reported, never hidden.
  {
    OpenFile f(dir, data);
    plat::write_at_fail_at(2);
    EXPECT_FALSE(file_delete(&f.rec, 10, 5));
    plat::write_at_fail_at(0);
    EXPECT_EQ(f.rec.lastError, errInvariant);
  }

  // The file may not grow past 100 bytes: appending fails part way, the
  // appended bytes are cut off again and the content is unchanged.
  const std::string big = pattern_bytes(90);
  put(dir + "/f", big);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = {100, 100};
    setrlimit(RLIMIT_FSIZE, &lim);
    cFileName name(win_of(dir + "/f"));
    rFileRecord rec;
    if (!file_open(&rec, &name, 3)) _exit(10);
    const bool ok = file_insert(&rec, 4, 50);
    _exit(!ok && rec.lastError == errInvariant && rec.lastCount == 10 && file_size(&rec) == 90 ? 0 : 11);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(get(dir + "/f") == big);
}

TEST(FileNames, ExistenceAndRemoval) {
  const std::string dir = testenv::sandbox_dir("names");
  const std::string w = win_of(dir);
  put(dir + "/f.txt", "x");
  fs::create_directory(dir + "/sub");
  cFileName file(w + "\\f.txt");
  cFileName in_sub(w + "\\sub\\nothing.txt");
  cFileName sub_as_file(w + "\\sub");
  EXPECT_TRUE(file_exists(&file));
  EXPECT_TRUE(file_exists(w + "\\f.txt"));
  EXPECT_FALSE(file_exists(&sub_as_file));
  EXPECT_FALSE(file_exists(&in_sub));
  EXPECT_FALSE(file_exists(static_cast<cFileName*>(nullptr)));
  EXPECT_TRUE(dir_exists(w + "\\sub"));
  EXPECT_TRUE(dir_exists(&in_sub));       // tests the name's Path
  EXPECT_TRUE(dir_exists(&sub_as_file));  // whose Path is the parent
  EXPECT_FALSE(dir_exists(w + "\\f.txt"));

  EXPECT_FALSE(file_remove(&sub_as_file));
  EXPECT_EQ(sub_as_file.LastError(), errAccessDenied);
  EXPECT_TRUE(file_remove(&file));
  EXPECT_EQ(file.LastError(), 0);
  EXPECT_FALSE(file_remove(&file));
  EXPECT_EQ(file.LastError(), errFileNF);

  EXPECT_TRUE(dir_set_current(w + "\\sub"));
  EXPECT_EQ(fs::current_path(), fs::path(dir + "/sub"));
  EXPECT_FALSE(dir_set_current(w + "\\missing"));
  EXPECT_TRUE(dir_set_current(win_of(testenv::sandbox_root())));

  EXPECT_GE(disk_free_space(w + "\\not\\made\\yet"), 0);
  EXPECT_EQ(disk_free_space("Q:"), -1);
}

TEST(FileFolders, MakeLevelByLevelWithRollBack) {
  const std::string dir = testenv::sandbox_dir("mk");
  const std::string w = win_of(dir);
  fs::create_directory(dir + "/a");

  cFileName deep(w + "\\a\\b\\c\\");
  EXPECT_FALSE(mk_dir(&deep, 0));  // the parent is missing
  EXPECT_TRUE(mk_dir(&deep, cnDirRecursive));
  EXPECT_TRUE(fs::is_directory(dir + "/a/b/c"));
  EXPECT_TRUE(mk_dir(&deep, cnDirRecursive));  // already there

  // The last level cannot be made: a file stands at its name. The levels
  // made on the way are removed again, the ones that were there stay.
  fs::create_directories(dir + "/x");
  cFileName blocked(w + "\\x\\p\\q\\" + std::string(300, 'n') + "\\");
  EXPECT_FALSE(mk_dir(&blocked, cnDirRecursive));
  EXPECT_NE(blocked.LastError(), 0);
  EXPECT_TRUE(fs::is_directory(dir + "/x"));
  EXPECT_FALSE(fs::exists(dir + "/x/p"));
  // A file where a parent level should be: nothing is created.
  put(dir + "/x/f", "");
  cFileName through_file(w + "\\x\\f\\q\\r\\");
  EXPECT_FALSE(mk_dir(&through_file, cnDirRecursive));
  EXPECT_TRUE(fs::is_regular_file(dir + "/x/f"));

  // A relative name stays relative to the current folder.
  ASSERT_TRUE(dir_set_current(w));
  cFileName rel("r1\\r2\\r3\\");
  EXPECT_TRUE(mk_dir(&rel, cnDirRecursive));
  EXPECT_TRUE(fs::is_directory(dir + "/r1/r2/r3"));
  ASSERT_TRUE(dir_set_current(win_of(testenv::sandbox_root())));

  // The string form takes the text as a folder.
  EXPECT_TRUE(mk_dir(w + "\\s", 0));
  EXPECT_TRUE(fs::is_directory(dir + "/s"));
  // The name form creates the folder of the Path: "t" names a file in "a".
  cFileName file_in(w + "\\a\\t");
  EXPECT_TRUE(mk_dir(&file_in, 0));
  EXPECT_FALSE(fs::exists(dir + "/a/t"));
}

namespace {
// The texts of a list, in order.
struct TestList {
  cCharStringsList list;
  std::vector<std::string> items() const {
    std::vector<std::string> out;
    for (uint32_t i = 1; i <= list.Count(); ++i) out.push_back(list.Get(i)->text);
    return out;
  }
};
}  // namespace

TEST(FileFolders, MakeAllListsWhatItCreated) {
  const std::string dir = testenv::sandbox_dir("mkall");
  const std::string w = win_of(dir);
  TestList list;
  EXPECT_TRUE(mk_dir_all(w + "\\a\\b", 0, &list.list));
  ASSERT_EQ(list.items().size(), 2u);
  EXPECT_EQ(list.items()[0], w + "\\a\\");
  EXPECT_EQ(list.items()[1], w + "\\a\\b\\");

  list.list.Clear();
  cFileName existing(w + "\\a\\b\\file.txt");
  EXPECT_TRUE(mk_dir_all(&existing, 0, &list.list));
  EXPECT_TRUE(list.items().empty());

  // A level the system refuses (too long): what was made before stays, and
  // stays listed.
  list.list.Clear();
  EXPECT_FALSE(mk_dir_all(w + "\\a\\k\\" + std::string(300, 'x') + "\\d", 0, &list.list));
  ASSERT_EQ(list.items().size(), 1u);
  EXPECT_EQ(list.items()[0], w + "\\a\\k\\");
  EXPECT_TRUE(fs::is_directory(dir + "/a/k"));
}

TEST(FileFolders, RemoveTreesWithoutLeavingThem) {
  const std::string dir = testenv::sandbox_dir("rm");
  const std::string w = win_of(dir);
  fs::create_directories(dir + "/outside/deep");
  put(dir + "/outside/deep/keep", "keep");
  fs::create_directories(dir + "/t/a/b");
  put(dir + "/t/f", "1");
  put(dir + "/t/a/b/g", "2");
  fs::create_directory_symlink(dir + "/outside", dir + "/t/a/link");
  fs::create_directories(dir + "/t/odd");
  put(dir + "/t/odd/a<b", "");

  // rm_dir catches and keeps the caller's name.
  cFileName name(w + "\\t\\");
  EXPECT_FALSE(rm_dir(&name, cnDirRecursive));
  EXPECT_EQ(name.LastError(), errSubFnCall);
  EXPECT_EQ(name.FullName(), w + "\\t\\");
  EXPECT_TRUE(fs::exists(dir + "/t/odd/a<b"));
  EXPECT_FALSE(fs::exists(dir + "/t/a"));
  EXPECT_EQ(get(dir + "/outside/deep/keep"), "keep");

  // rm_dir_all raises and turns the name into a pattern.
  try {
    rm_dir_all(&name, 0);
    ADD_FAILURE() << "no exception";
  } catch (const exError& e) {
    EXPECT_EQ(e.Code(), errSubFnCall);
  }
  EXPECT_EQ(name.FullName(), w + "\\t\\*.*");
  fs::remove(dir + "/t/odd/a<b");
  cFileName again(w + "\\t\\");
  EXPECT_TRUE(rm_dir_all(&again, 0));
  EXPECT_FALSE(fs::exists(dir + "/t"));
  EXPECT_EQ(get(dir + "/outside/deep/keep"), "keep");

  // A name without a folder part never means the current folder.
  put(dir + "/bare.txt", "");
  ASSERT_TRUE(dir_set_current(w));
  cFileName bare("bare.txt");
  EXPECT_THROW(rm_dir_all(&bare, 0), exError);
  EXPECT_TRUE(fs::exists(dir + "/bare.txt"));
  ASSERT_TRUE(dir_set_current(win_of(testenv::sandbox_root())));

  // Without flag 8 only an empty folder goes.
  fs::create_directories(dir + "/e/full");
  cFileName full(w + "\\e\\");
  EXPECT_FALSE(rm_dir(&full, 0));
  EXPECT_NE(full.LastError(), 0);
  cFileName empty(w + "\\e\\full\\");
  EXPECT_TRUE(rm_dir(&empty, 0));
  EXPECT_TRUE(rm_dir(&full, 0));
  EXPECT_FALSE(fs::exists(dir + "/e"));
}

TEST(FileSearch, FindsEntriesWithFolderMarksAndSizes) {
  const std::string dir = testenv::sandbox_dir("find");
  const std::string w = win_of(dir);
  put(dir + "/a.txt", "12345");
  fs::create_directory(dir + "/sub");
  fs::create_directory(dir + "/empty");
  fs::create_directory_symlink(dir + "/sub", dir + "/link");
  { std::ofstream big(dir + "/big.bin"); }
  fs::resize_file(dir + "/big.bin", (uint64_t(1) << 32) + 4);  // sparse

  cFileName pattern(w + "\\*.*");
  std::map<std::string, std::pair<uint16_t, uint64_t>> seen;
  rFileFind* ff = find_first(&pattern);
  ASSERT_NE(ff, nullptr);
  do seen[ff->found->FullName()] = {ff->attributes, (uint64_t(ff->sizeHigh) << 32) | ff->sizeLow};
  while (find_next(ff));
  find_close(ff);
  std::map<std::string, std::pair<uint16_t, uint64_t>> want = {
      {w + "\\a.txt", {faNormal, 5}},
      {w + "\\sub\\", {faDirectory, 0}},
      {w + "\\empty\\", {faDirectory, 0}},
      {w + "\\link", {faNormal, seen[w + "\\link"].second}},  // a link is a file
      {w + "\\big.bin", {faNormal, (uint64_t(1) << 32) + 4}},
  };
  EXPECT_EQ(seen, want);

  cFileName txt(w + "\\*.txt");
  ff = find_first(&txt);
  ASSERT_NE(ff, nullptr);
  EXPECT_EQ(ff->found->FullName(), w + "\\a.txt");
  EXPECT_GE(ff->written.year, 2020);
  EXPECT_FALSE(find_next(ff));
  find_close(ff);

  cFileName in_empty(w + "\\empty\\*.*");
  EXPECT_EQ(find_first(&in_empty), nullptr);
  cFileName relative("*.*");  // the current folder, expanded
  ASSERT_TRUE(dir_set_current(w + "\\sub"));
  put(dir + "/sub/r", "");
  ff = find_first(&relative);
  ASSERT_NE(ff, nullptr);
  EXPECT_EQ(ff->found->FullName(), w + "\\sub\\r");
  find_close(ff);
  ASSERT_TRUE(dir_set_current(win_of(testenv::sandbox_root())));

  // Drive mode.
  ff = find_first(nullptr);
  ASSERT_NE(ff, nullptr);
  EXPECT_TRUE(ff->driveMode);
  EXPECT_EQ(ff->found->FullName(), "C:\\");
  EXPECT_FALSE(find_next(ff));
  find_close(ff);
  cFileName blank("  ");
  ff = find_first(&blank);
  ASSERT_NE(ff, nullptr);
  EXPECT_TRUE(ff->driveMode);
  find_close(ff);
  find_close(nullptr);
}

// The long form of a network name, "\\?\UNC\host\share\...", in any case:
// the name's parts drop the prefix, and what is left would be a folder
// "UNC" under the current one. Every operation refuses it with 15, and
// nothing is created, opened or deleted, even where a folder UNC exists.
TEST(FileNames, LongNetworkNamesAreRefused) {
  const std::string dir = testenv::sandbox_dir("unc");
  const std::string w = win_of(dir);
  for (const char* unc : {"UNC", "unc", "Unc"}) {
    fs::create_directories(dir + "/" + unc + "/fileserver/share/data");
    put(dir + "/" + unc + "/fileserver/share/data/keep.txt", "keep");
  }
  ASSERT_TRUE(dir_set_current(w));

  struct Op {
    const char* what;
    const char* tail;  // after "\\?\<UNC>\fileserver\share\"
    // The outcome and the code kept (-1: the operation keeps none).
    std::function<std::pair<bool, int32_t>(const std::string& name)> run;
  };
  const Op ops[] = {
      {"file_create", "new\\f.txt",
       [](const std::string& n) {
         cFileName fn(n);
         rFileRecord rec;
         const bool ok = file_create(&rec, &fn, 1);
         if (ok) file_close(&rec);
         return std::pair(ok, rec.lastError);
       }},
      {"file_create without truncation", "data\\new.txt",
       [](const std::string& n) {
         cFileName fn(n);
         rFileRecord rec;
         const bool ok = file_create(&rec, &fn, 0);
         if (ok) file_close(&rec);
         return std::pair(ok, rec.lastError);
       }},
      {"file_open", "data\\keep.txt",
       [](const std::string& n) {
         cFileName fn(n);
         rFileRecord rec;
         const bool ok = file_open(&rec, &fn, 3);
         if (ok) file_close(&rec);
         return std::pair(ok, rec.lastError);
       }},
      {"file_remove", "data\\keep.txt",
       [](const std::string& n) {
         cFileName fn(n);
         const bool ok = file_remove(&fn);
         return std::pair(ok, fn.LastError());
       }},
      {"mk_dir", "new\\deeper\\",
       [](const std::string& n) {
         cFileName fn(n);
         const bool ok = mk_dir(&fn, cnDirRecursive);
         return std::pair(ok, fn.LastError());
       }},
      {"mk_dir_all", "new\\deeper\\", [](const std::string& n) { return std::pair(mk_dir_all(n), -1); }},
      {"rm_dir", "data\\",
       [](const std::string& n) {
         cFileName fn(n);
         const bool ok = rm_dir(&fn, cnDirRecursive);
         return std::pair(ok, fn.LastError());
       }},
      {"rm_dir_all", "data\\",
       [](const std::string& n) {
         cFileName fn(n);
         try {
           return std::pair(rm_dir_all(&fn, 0), 0);
         } catch (const exError& e) {
           return std::pair(false, e.Code());
         }
       }},
      {"file_exists", "data\\keep.txt",
       [](const std::string& n) {
         cFileName fn(n);
         return std::pair(file_exists(&fn) || file_exists(n), -1);
       }},
      {"dir_exists", "data\\keep.txt",
       [](const std::string& n) {
         cFileName fn(n);
         return std::pair(dir_exists(&fn), -1);
       }},
      {"find_first", "data\\*.*",
       [](const std::string& n) {
         cFileName fn(n);
         rFileFind* ff = find_first(&fn);
         find_close(ff);
         return std::pair(ff != nullptr, -1);
       }},
      {"string forms with dot levels", "x\\..\\data\\keep.txt",
       [](const std::string& n) {
         const std::string folder = n.substr(0, n.size() - 9);
         const bool any =
             file_exists(n) || dir_exists(folder) || disk_free_space(folder) >= 0 || dir_set_current(folder);
         return std::pair(any, -1);
       }},
      {"cFileFlow.Create", "new\\f.txt",
       [](const std::string& n) {
         cFileName fn(n);
         cFileFlow flow(&fn, 3);
         return std::pair(flow.Create(), -1);
       }},
  };
  for (const char* unc : {"UNC", "unc", "Unc"}) {
    for (const Op& op : ops) {
      const std::string name = std::string("\\\\?\\") + unc + "\\fileserver\\share\\" + op.tail;
      SCOPED_TRACE(std::string(op.what) + " " + name);
      const auto [ok, code] = op.run(name);
      EXPECT_FALSE(ok);
      if (code != -1) {
        EXPECT_EQ(code, errBadDrive);
      }
      for (const char* any : {"UNC", "unc", "Unc"}) {
        EXPECT_EQ(get(dir + "/" + any + "/fileserver/share/data/keep.txt"), "keep");
        EXPECT_FALSE(fs::exists(dir + "/" + any + "/fileserver/share/new"));
        EXPECT_FALSE(fs::exists(dir + "/" + any + "/fileserver/share/data/new.txt"));
      }
    }
  }
  // The flow refuses when it is given the name.
  cFileName fn("\\\\?\\UNC\\fileserver\\share\\new\\f.txt");
  cFileFlow flow(std::string_view(), 3);
  EXPECT_FALSE(flow.Assign(&fn, 3));
  EXPECT_EQ(flow.LastErrorCode(), errBadDrive);
  // Without the prefix "UNC" is an ordinary relative folder.
  cFileName plain("UNC\\fileserver\\share\\data\\keep.txt");
  EXPECT_TRUE(file_exists(&plain));
  ASSERT_TRUE(dir_set_current(win_of(testenv::sandbox_root())));
}

// A ".." after a symbolic link: the system resolves the name on its text, as
// Expand and the search do, so s\lnk\..\y is s\y whatever lnk points at.
// No operation may act on the folder the host would reach through the link
// (s\real\y, beside the link's target s\real\inner).
TEST(FileFolders, DotDotAfterALinkIsResolvedOnTheText) {
  const std::string base = testenv::sandbox_dir("dotdot");
  int round = 0;
  struct Op {
    const char* what;
    const char* tail;  // after "<s>\lnk\..\"
    std::function<bool(const std::string& name)> run;
    const char* gone;  // under s/y: what the operation removed ("" none)
    const char* made;  // under s/y: what it created ("" none)
  };
  const Op ops[] = {
      {"rm_dir_all", "y\\",
       [](const std::string& n) {
         cFileName fn(n);
         return rm_dir_all(&fn, 0);
       },
       "", ""},
      {"rm_dir recursive", "y\\",
       [](const std::string& n) {
         cFileName fn(n);
         return rm_dir(&fn, cnDirRecursive);
       },
       "", ""},
      {"rm_dir", "y\\empty\\",
       [](const std::string& n) {
         cFileName fn(n);
         return rm_dir(&fn, 0);
       },
       "empty", ""},
      {"file_remove", "y\\file",
       [](const std::string& n) {
         cFileName fn(n);
         return file_remove(&fn);
       },
       "file", ""},
      {"file_create truncating", "y\\file",
       [](const std::string& n) {
         cFileName fn(n);
         rFileRecord rec;
         const bool ok = file_create(&rec, &fn, 1);
         return ok && file_close(&rec);
       },
       "", ""},
      {"file_open and write", "y\\file",
       [](const std::string& n) {
         cFileName fn(n);
         rFileRecord rec;
         const bool ok = file_open(&rec, &fn, 2) && file_write(&rec, "XY", 2);
         return ok && file_close(&rec);
       },
       "", ""},
      {"mk_dir", "y\\made\\",
       [](const std::string& n) {
         cFileName fn(n);
         return mk_dir(&fn, 0);
       },
       "", "made"},
      {"mk_dir_all", "y\\made\\deeper\\", [](const std::string& n) { return mk_dir_all(n); }, "", "made"},
      {"file_exists", "y\\file",
       [](const std::string& n) {
         cFileName fn(n);
         return file_exists(&fn) && file_exists(n);
       },
       "", ""},
      {"exists, only through the link", "y\\only-here",
       [](const std::string& n) {
         cFileName fn(n);
         return !file_exists(&fn) && !file_exists(n);
       },
       "", ""},
      {"dir_set_current", "y",
       [](const std::string& n) {
         const bool ok = dir_set_current(n) && file_exists(std::string_view("other")) &&
                         !file_exists(std::string_view("only-here"));
         return dir_set_current(win_of(testenv::sandbox_root())) && ok;
       },
       "", ""},
      {"find_first", "y\\fi*",
       [](const std::string& n) {
         cFileName fn(n);
         rFileFind* ff = find_first(&fn);
         const bool ok = ff != nullptr && ff->found->FullName().ends_with("\\y\\file") && !find_next(ff);
         find_close(ff);
         return ok;
       },
       "", ""},
  };
  // The long prefix changes nothing: the name is still resolved on its text.
  for (const std::string prefix : {"", "\\\\?\\"})
    for (const Op& op : ops) {
      SCOPED_TRACE(prefix + op.what);
      const std::string s = base + "/" + std::to_string(++round);
      // Both candidates hold the same entries; only the other one must stay.
      for (const std::string& y : {s + "/y", s + "/real/y"}) {
        fs::create_directories(y + "/empty");
        put(y + "/file", "content");
        put(y + "/other", "other");
      }
      put(s + "/real/y/only-here", "");  // so a search there would find more
      fs::create_directories(s + "/real/inner");
      fs::create_directory_symlink(s + "/real/inner", s + "/lnk");
      ASSERT_TRUE(fs::exists(s + "/lnk/../y/only-here"));  // the host's own reading

      EXPECT_TRUE(op.run(prefix + win_of(s) + "\\lnk\\..\\" + op.tail));
      // The folder through the link is untouched.
      EXPECT_EQ(get(s + "/real/y/file"), "content");
      EXPECT_TRUE(fs::is_directory(s + "/real/y/empty"));
      EXPECT_FALSE(fs::exists(s + "/real/y/made"));
      EXPECT_TRUE(fs::exists(s + "/real/inner"));
      // The named folder took the effect.
      const std::string what = op.what;
      if (what.starts_with("rm_dir") && *op.gone == '\0') {
        EXPECT_FALSE(fs::exists(s + "/y"));
      } else if (*op.gone != '\0') {
        EXPECT_FALSE(fs::exists(s + "/y/" + op.gone));
        EXPECT_TRUE(fs::exists(s + "/y/other"));
      } else if (*op.made != '\0') {
        EXPECT_TRUE(fs::is_directory(s + "/y/" + op.made));
      } else if (what == "file_create truncating") {
        EXPECT_EQ(get(s + "/y/file"), "");
      } else if (what == "file_open and write") {
        EXPECT_EQ(get(s + "/y/file"), "XYntent");
      }
    }

  // A Path that ends in ".." or "." names a folder the caller did not spell
  // out: rm_dir_all refuses it, as before.
  const std::string s = base + "/guard";
  fs::create_directories(s + "/a/b");
  ASSERT_TRUE(dir_set_current(win_of(s)));
  for (const std::string& name : {win_of(s) + "\\a\\b\\..\\", std::string("a\\..\\"), std::string("a\\b\\..\\..\\")}) {
    SCOPED_TRACE(name);
    cFileName fn(name);
    EXPECT_THROW(rm_dir_all(&fn, 0), exError);
    EXPECT_TRUE(fs::is_directory(s + "/a/b"));
  }
  ASSERT_TRUE(dir_set_current(win_of(testenv::sandbox_root())));
}
