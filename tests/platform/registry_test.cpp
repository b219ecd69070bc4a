#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "plat_registry.h"
#include "sandbox.h"
#include "test_files.h"

namespace {

using testenv::read_file;
using testenv::write_file;

using plat::RegKey;
using plat::RegRoot;

constexpr const char* kRun = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// Each test gets its own config home and machine-hive folder.
class PlatRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    config_ = testenv::sandbox_dir("reg-" + name);
    old_config_ = std::getenv("XDG_CONFIG_HOME");
    old_machine_ = std::filesystem::path(plat::reg_hive_file(RegRoot::LocalMachine)).parent_path().string();
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    plat::reg_set_machine_folder(config_ + "/machine");
    hive_ = plat::reg_hive_file(RegRoot::CurrentUser);
  }
  void TearDown() override {
    setenv("XDG_CONFIG_HOME", old_config_.c_str(), 1);
    plat::reg_set_machine_folder(old_machine_);
  }
  RegKey Create(const std::string& path) {
    RegKey key;
    EXPECT_EQ(plat::reg_create_key(RegRoot::CurrentUser, path, key), plat::kRegOk) << path;
    return key;
  }
  std::string Query(const RegKey& key, const std::string& name) {
    std::string data;
    EXPECT_EQ(plat::reg_query_string(key, name, data), plat::kRegOk) << name;
    return data;
  }

  std::string config_, old_config_, old_machine_, hive_;
};

TEST(PlatRegistrySandbox, MachineHiveStaysInTheSandbox) {
  EXPECT_EQ(plat::reg_hive_file(RegRoot::LocalMachine),
            testenv::sandbox_root() + "/machine-registry/HKEY_LOCAL_MACHINE.reg");
}

TEST_F(PlatRegistry, HiveFileSitsInTheConfigHome) {
  EXPECT_EQ(hive_, config_ + "/korvane-registry/HKEY_CURRENT_USER.reg");
  EXPECT_EQ(plat::reg_hive_file(RegRoot::LocalMachine), config_ + "/machine/HKEY_LOCAL_MACHINE.reg");
}

TEST_F(PlatRegistry, NewHiveIsSeededAndWritesTheExportFormat) {
  RegKey run;
  ASSERT_EQ(plat::reg_open_key(RegRoot::CurrentUser, std::string("\\") + kRun, run), plat::kRegOk);
  ASSERT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", run),
            plat::kRegOk);
  EXPECT_FALSE(std::filesystem::exists(hive_)) << "reading must not write";

  RegKey key = Create("Software\\Test");
  const std::pair<std::string, std::string> values[] = {
      {"Plain", "text"},
      {"", "default value"},
      {"Quote\"d", "say \"hi\""},
      {"Back\\slash", "C:\\Program Files\\x\\"},
      {"Empty", ""},
      {"Utf8 \xC3\xA9", "\xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"@", "a value named @"},
  };
  for (const auto& [name, data] : values) ASSERT_EQ(plat::reg_set_string(key, name, data), plat::kRegOk) << name;
  for (const auto& [name, data] : values) EXPECT_EQ(Query(key, name), data) << name;

  EXPECT_EQ(read_file(hive_),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER]\r\n\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE]\r\n\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Microsoft]\r\n\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows]\r\n\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\r\n\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Test]\r\n"
            "\"Plain\"=\"text\"\r\n"
            "@=\"default value\"\r\n"
            "\"Quote\\\"d\"=\"say \\\"hi\\\"\"\r\n"
            "\"Back\\\\slash\"=\"C:\\\\Program Files\\\\x\\\\\"\r\n"
            "\"Empty\"=\"\"\r\n"
            "\"Utf8 \xC3\xA9\"=\"\xE2\x82\xAC \xF0\x9F\x98\x80\"\r\n"
            "\"@\"=\"a value named @\"\r\n\r\n");
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(hive_).parent_path()))
    EXPECT_NE(e.path().filename().string().substr(0, 2), ".~") << e.path();
  EXPECT_TRUE(std::filesystem::exists(hive_ + ".lock"));
}

TEST_F(PlatRegistry, LookupsIgnoreCaseAndKeepStoredCase) {
  RegKey key = Create("Software\\MixedCase\\Sub");
  RegKey again;
  bool created = true;
  ASSERT_EQ(plat::reg_create_key(RegRoot::CurrentUser, "SOFTWARE\\mixedcase\\SUB", again, &created), plat::kRegOk);
  EXPECT_FALSE(created);
  EXPECT_EQ(again.path, "SOFTWARE\\MixedCase\\Sub");  // the seeded SOFTWARE keeps its case too

  ASSERT_EQ(plat::reg_set_string(key, "UninstallString", "one"), plat::kRegOk);
  ASSERT_EQ(plat::reg_set_string(again, "UNINSTALLSTRING", "two"), plat::kRegOk);
  EXPECT_EQ(Query(key, "uninstallstring"), "two");
  std::vector<std::string> names;
  ASSERT_EQ(plat::reg_enum_values(key, names), plat::kRegOk);
  EXPECT_EQ(names, std::vector<std::string>{"UninstallString"});

  RegKey parent;
  ASSERT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "software\\MIXEDCASE", parent), plat::kRegOk);
  ASSERT_EQ(plat::reg_enum_subkeys(parent, names), plat::kRegOk);
  EXPECT_EQ(names, std::vector<std::string>{"Sub"});
  RegKey missing;
  EXPECT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "Software\\MixedCas", missing), plat::kRegNotFound);
  EXPECT_FALSE(missing.open);
}

TEST_F(PlatRegistry, ValueNameMayHoldABackslash) {
  RegKey run;
  ASSERT_EQ(plat::reg_open_key(RegRoot::CurrentUser, kRun, run), plat::kRegOk);
  const std::string name = "Korvane-Snaprill\\Korvane-Snaprill";
  const std::string data = "\"C:\\home\\u\\Korvane-Snaprill\\app.exe\"";
  ASSERT_EQ(plat::reg_set_string(run, name, data), plat::kRegOk);
  ASSERT_EQ(plat::reg_set_string(run, "Korvane-Snaprill", "other"), plat::kRegOk);
  EXPECT_EQ(Query(run, name), data);
  EXPECT_EQ(Query(run, "korvane-snaprill\\KORVANE-SNAPRILL"), data);
  std::vector<std::string> names;
  ASSERT_EQ(plat::reg_enum_values(run, names), plat::kRegOk);
  EXPECT_EQ(names, (std::vector<std::string>{name, "Korvane-Snaprill"}));
  EXPECT_NE(read_file(hive_).find("\"Korvane-Snaprill\\\\Korvane-Snaprill\"=\"\\\"C:\\\\home"), std::string::npos);
  // No key was made from the name's parts.
  RegKey sub;
  EXPECT_EQ(plat::reg_open_key(RegRoot::CurrentUser, std::string(kRun) + "\\Korvane-Snaprill", sub),
            plat::kRegNotFound);
}

TEST_F(PlatRegistry, BadNamesAndDataAreRefused) {
  RegKey key = Create("Software\\Test");
  ASSERT_EQ(plat::reg_set_string(key, "Kept", "value"), plat::kRegOk);
  const std::string before = read_file(hive_);
  const std::string bad[] = {std::string("a\0b", 3), "line\nbreak", "cr\r", "tab\t", "del\x7F"};
  for (const std::string& s : bad) {
    EXPECT_EQ(plat::reg_set_string(key, s, "x"), plat::kRegInvalidParameter);
    EXPECT_EQ(plat::reg_set_string(key, "name", s), plat::kRegInvalidParameter);
    RegKey k;
    EXPECT_EQ(plat::reg_create_key(RegRoot::CurrentUser, "Software\\" + s, k), plat::kRegInvalidParameter);
  }
  for (const char* path : {"Software\\\\Test", "\\\\Software", "Software\\Test\\\\"}) {
    RegKey k;
    EXPECT_EQ(plat::reg_create_key(RegRoot::CurrentUser, path, k), plat::kRegInvalidParameter) << path;
  }
  RegKey closed;
  EXPECT_EQ(plat::reg_set_string(closed, "a", "b"), plat::kRegInvalidHandle);
  EXPECT_EQ(read_file(hive_), before);
}

TEST_F(PlatRegistry, DeletesValuesAndLeafKeys) {
  RegKey key = Create("Software\\Vendor\\App");
  ASSERT_EQ(plat::reg_set_string(key, "A", "1"), plat::kRegOk);
  ASSERT_EQ(plat::reg_set_string(key, "B", "2"), plat::kRegOk);
  EXPECT_EQ(plat::reg_delete_value(key, "a"), plat::kRegOk);
  EXPECT_EQ(plat::reg_delete_value(key, "A"), plat::kRegNotFound);
  std::string data;
  EXPECT_EQ(plat::reg_query_string(key, "A", data), plat::kRegNotFound);
  EXPECT_EQ(Query(key, "B"), "2");

  EXPECT_EQ(plat::reg_delete_key(RegRoot::CurrentUser, "Software\\Vendor"), plat::kRegAccessDenied);
  EXPECT_EQ(plat::reg_delete_key(RegRoot::CurrentUser, "software\\vendor\\app"), plat::kRegOk);
  EXPECT_EQ(plat::reg_delete_key(RegRoot::CurrentUser, "Software\\Vendor\\App"), plat::kRegNotFound);
  EXPECT_EQ(plat::reg_delete_key(RegRoot::CurrentUser, "Software\\Vendor"), plat::kRegOk);
  EXPECT_EQ(plat::reg_delete_key(RegRoot::CurrentUser, ""), plat::kRegInvalidParameter);
  // The handle outlived its key.
  EXPECT_EQ(plat::reg_set_string(key, "B", "3"), plat::kRegKeyDeleted);
  EXPECT_EQ(plat::reg_query_string(key, "B", data), plat::kRegKeyDeleted);
  EXPECT_EQ(read_file(hive_).find("Vendor"), std::string::npos);
}

TEST_F(PlatRegistry, ReadsHandWrittenHives) {
  std::filesystem::create_directories(config_ + "/korvane-registry");
  write_file(hive_,
             "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
             "; a comment\n"
             "[hkey_current_user\\Software\\A\\B]\n"
             "\"x\"=\"1\"\n\n"
             "[HKEY_CURRENT_USER\\SOFTWARE\\a\\b]\r\n"
             "\"X\"=\"2\"\r\n"
             "\"y\"=\"3\"\r\n");
  RegKey key;
  ASSERT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "software\\a\\b", key), plat::kRegOk);
  EXPECT_EQ(key.path, "Software\\A\\B");
  EXPECT_EQ(Query(key, "x"), "2");
  EXPECT_EQ(Query(key, "Y"), "3");
  // A hand-written hive without the seeded keys is taken as it is.
  RegKey run;
  EXPECT_EQ(plat::reg_open_key(RegRoot::CurrentUser, kRun, run), plat::kRegNotFound);
}

TEST_F(PlatRegistry, CorruptHiveIsReportedAndNeverOverwritten) {
  std::filesystem::create_directories(config_ + "/korvane-registry");
  const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n";
  struct Case {
    std::string text;
    const char* detail;
  };
  const Case cases[] = {
      {"", "empty"},
      {"REGEDIT4\r\n", "line 1"},
      {head + "\"dw\"=dword:00000001\r\n", "line 4: only string values"},
      {head + "\"bad\"=\"a\\nb\"\r\n", "line 4"},
      {head + "\"open\"=\"abc\r\n", "unterminated"},
      {head + "\"x\"=\"1\" junk\r\n", "unexpected text"},
      {head + "name=\"1\"\r\n", "line 4"},
      {"Windows Registry Editor Version 5.00\r\n\"x\"=\"1\"\r\n", "before any key"},
      {head + "[HKEY_LOCAL_MACHINE\\Software]\r\n", "not under HKEY_CURRENT_USER"},
      {head + "[-HKEY_CURRENT_USER\\Software]\r\n", "deletions"},
      {head + "[HKEY_CURRENT_USER\\Software\\\\x]\r\n", "empty or invalid"},
      {head + "[HKEY_CURRENT_USER\\Software\\]\r\n", "empty or invalid"},
      {head + "[HKEY_CURRENT_USER\\Software\r\n", "must end with ']'"},
      {head + std::string("\"x\"=\"a\0b\"\r\n", 11), "control character"},
  };
  for (const Case& c : cases) {
    write_file(hive_, c.text);
    RegKey key;
    EXPECT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "Software", key), plat::kRegCorrupt) << c.detail;
    const std::string detail = plat::reg_last_error_detail();
    EXPECT_NE(detail.find(c.detail), std::string::npos) << detail;
    EXPECT_NE(detail.find(hive_), std::string::npos) << detail;
    EXPECT_EQ(plat::reg_create_key(RegRoot::CurrentUser, "Software\\New", key), plat::kRegCorrupt);
    EXPECT_EQ(plat::reg_delete_key(RegRoot::CurrentUser, "Software"), plat::kRegCorrupt);
    EXPECT_EQ(read_file(hive_), c.text) << c.detail;
  }
  // A folder where the hive file belongs is no hive either.
  std::filesystem::remove(hive_);
  std::filesystem::create_directory(hive_);
  RegKey key;
  EXPECT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "Software", key), plat::kRegCorrupt);
  EXPECT_EQ(plat::reg_create_key(RegRoot::CurrentUser, "Software", key), plat::kRegCorrupt);
}

// A key path of `depth` names below the root, "a\a\...".
std::string deep_path(size_t depth) {
  std::string path;
  for (size_t i = 0; i < depth; ++i) path += i == 0 ? "a" : "\\a";
  return path;
}

TEST_F(PlatRegistry, DeepKeysAreBoundedAndHandledWithoutRecursion) {
  std::filesystem::create_directories(config_ + "/korvane-registry");
  const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\";
  // One key a million levels deep (2 MB): freeing it one frame per level
  // overflowed the stack. It is refused as corrupt and left as it is.
  const std::string bomb = head + deep_path(1000000) + "]\r\n";
  write_file(hive_, bomb);
  RegKey key;
  EXPECT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "a", key), plat::kRegCorrupt);
  EXPECT_NE(plat::reg_last_error_detail().find("deeper than 512 levels"), std::string::npos)
      << plat::reg_last_error_detail();
  EXPECT_EQ(plat::reg_create_key(RegRoot::CurrentUser, "b", key), plat::kRegCorrupt);
  EXPECT_EQ(read_file(hive_), bomb);
  std::string canonical;
  EXPECT_EQ(plat::reg_parse_hive(RegRoot::CurrentUser, bomb, canonical), plat::kRegCorrupt);

  // The deepest key the limit allows reads, takes a value and is written back.
  const std::string deepest = deep_path(plat::kRegMaxKeyDepth);
  write_file(hive_, head + deepest + "]\r\n");
  ASSERT_EQ(plat::reg_open_key(RegRoot::CurrentUser, deepest, key), plat::kRegOk);
  ASSERT_EQ(plat::reg_set_string(key, "v", "1"), plat::kRegOk);
  EXPECT_EQ(Query(key, "v"), "1");
  const std::string written = read_file(hive_);
  EXPECT_NE(written.find("[HKEY_CURRENT_USER\\" + deepest + "]\r\n\"v\"=\"1\""), std::string::npos);
  ASSERT_EQ(plat::reg_parse_hive(RegRoot::CurrentUser, written, canonical), plat::kRegOk);
  EXPECT_EQ(canonical, written);
  // One level more is refused before anything is written.
  EXPECT_EQ(plat::reg_create_key(RegRoot::CurrentUser, deepest + "\\a", key), plat::kRegInvalidParameter);
  EXPECT_EQ(read_file(hive_), written);
}

// 100,000 sibling keys and a key of 100,000 values: every section walked
// the siblings before it and every value line the values before it, and the
// hive took minutes to read. Lookups keep ignoring case, and a deleted key
// or value leaves the others found.
TEST_F(PlatRegistry, ManySiblingKeysAndValuesReadInLinearTime) {
  std::filesystem::create_directories(config_ + "/korvane-registry");
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (int i = 0; i < 100000; ++i) text += "[HKEY_CURRENT_USER\\Key" + std::to_string(i) + "]\r\n";
  text += "[HKEY_CURRENT_USER\\KEY77]\r\n\"v\"=\"x\"\r\n";
  for (int i = 0; i < 100000; ++i) text += "\"n" + std::to_string(i) + "\"=\"" + std::to_string(i) + "\"\r\n";
  text += "\"N99\"=\"again\"\r\n";
  write_file(hive_, text);
  const auto start = std::chrono::steady_clock::now();
  RegKey key;
  ASSERT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "key99999", key), plat::kRegOk);
  EXPECT_EQ(key.path, "Key99999");
  ASSERT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "kEy77", key), plat::kRegOk);
  EXPECT_EQ(Query(key, "v"), "x");
  EXPECT_EQ(Query(key, "n99"), "again");
  EXPECT_EQ(Query(key, "N99999"), "99999");
  EXPECT_EQ(plat::reg_delete_value(key, "n5"), plat::kRegOk);
  std::string data;
  EXPECT_EQ(plat::reg_query_string(key, "n5", data), plat::kRegNotFound);
  EXPECT_EQ(Query(key, "n6"), "6");
  ASSERT_EQ(plat::reg_set_string(key, "N5", "new"), plat::kRegOk);
  EXPECT_EQ(Query(key, "n5"), "new");
  EXPECT_EQ(plat::reg_delete_key(RegRoot::CurrentUser, "Key5"), plat::kRegOk);
  EXPECT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "Key5", key), plat::kRegNotFound);
  EXPECT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "key6", key), plat::kRegOk);
  ASSERT_EQ(plat::reg_create_key(RegRoot::CurrentUser, "KEY5", key), plat::kRegOk);
  EXPECT_EQ(key.path, "KEY5");
  std::vector<std::string> names;
  ASSERT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "", key), plat::kRegOk);
  ASSERT_EQ(plat::reg_enum_subkeys(key, names), plat::kRegOk);
  EXPECT_EQ(names.size(), 100000u);
  EXPECT_EQ(names.back(), "KEY5");
  // A hang bound, not a speed check: each of the steps above reads and
  // durably rewrites a 4 MB hive, which takes tens of seconds on a loaded
  // two-core machine under the sanitizers; the quadratic reading took
  // minutes for each.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(150));
}

TEST_F(PlatRegistry, ConcurrentWritersKeepEveryUpdate) {
  Create("Software\\Shared");
  constexpr int kChildren = 4, kValues = 25;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      RegKey key;
      int bad = plat::reg_open_key(RegRoot::CurrentUser, "Software\\Shared", key) != plat::kRegOk;
      for (int i = 0; i < kValues; ++i) {
        const std::string n = std::to_string(c) + "-" + std::to_string(i);
        bad += plat::reg_set_string(key, "v" + n, "data " + n) != plat::kRegOk;
        RegKey own;  // keys made by several processes at once
        bad += plat::reg_create_key(RegRoot::CurrentUser, "Software\\Shared\\k" + n, own) != plat::kRegOk;
      }
      _exit(bad == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  RegKey key;
  ASSERT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "Software\\Shared", key), plat::kRegOk);
  std::vector<std::string> values, keys;
  ASSERT_EQ(plat::reg_enum_values(key, values), plat::kRegOk);
  ASSERT_EQ(plat::reg_enum_subkeys(key, keys), plat::kRegOk);
  EXPECT_EQ(values.size(), size_t(kChildren * kValues));
  EXPECT_EQ(keys.size(), size_t(kChildren * kValues));
  for (int c = 0; c < kChildren; ++c)
    for (int i = 0; i < kValues; ++i) {
      const std::string n = std::to_string(c) + "-" + std::to_string(i);
      EXPECT_EQ(Query(key, "v" + n), "data " + n);
    }
}

TEST_F(PlatRegistry, FailedWriteLeavesTheOldHive) {
  RegKey key = Create("Software\\Test");
  ASSERT_EQ(plat::reg_set_string(key, "Kept", "old value"), plat::kRegOk);
  const std::string before = read_file(hive_);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The file-size limit lets the temporary file grow only a little.
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{before.size() + 16, before.size() + 16};
    setrlimit(RLIMIT_FSIZE, &lim);
    const int32_t rc = plat::reg_set_string(key, "Big", std::string(4096, 'x'));
    const bool named = plat::reg_last_error_detail().find("cannot write") != std::string::npos;
    _exit(rc == plat::kRegIoFailed && named ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(read_file(hive_), before);
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(hive_).parent_path()))
    EXPECT_NE(e.path().filename().string().substr(0, 2), ".~") << e.path();
  EXPECT_EQ(Query(key, "Kept"), "old value");
}

// A change waits a bounded time for a lock that another process (here: another
// open file description of the lock file) holds, then fails and says why; once
// the lock is free it goes through.
TEST_F(PlatRegistry, AHeldHiveLockEndsTheWaitWithAReason) {
  RegKey key = Create("Software\\Test");
  const int held = open((hive_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  plat::reg_set_lock_wait_ms(300);
  const auto start = std::chrono::steady_clock::now();
  auto write = std::async(std::launch::async, [&] {
    const int32_t rc = plat::reg_set_string(key, "Late", "value");
    return std::make_pair(rc, plat::reg_last_error_detail());
  });
  const bool ended = write.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  close(held);  // frees a writer that would otherwise wait for ever
  const auto [rc, detail] = write.get();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  plat::reg_set_lock_wait_ms(-1);
  ASSERT_TRUE(ended) << "the write waited for the lock without an end";
  EXPECT_EQ(rc, plat::kRegIoFailed);
  EXPECT_NE(detail.find("stayed locked by another process for 300 ms"), std::string::npos) << detail;
  EXPECT_GE(seconds, 0.29);
  std::string data;
  EXPECT_EQ(plat::reg_query_string(key, "Late", data), plat::kRegNotFound);
  ASSERT_EQ(plat::reg_set_string(key, "Late", "value"), plat::kRegOk);
  EXPECT_EQ(Query(key, "Late"), "value");
}

TEST_F(PlatRegistry, UnusableFolderGivesAnError) {
  write_file(config_ + "/korvane-registry", "a file where the folder belongs");
  RegKey key;
  EXPECT_EQ(plat::reg_create_key(RegRoot::CurrentUser, "Software\\X", key), plat::kRegPathNotFound);
  EXPECT_FALSE(key.open);
  EXPECT_EQ(read_file(config_ + "/korvane-registry"), "a file where the folder belongs");
}

TEST_F(PlatRegistry, MachineHiveIsSeparate) {
  RegKey machine, user;
  ASSERT_EQ(plat::reg_create_key(RegRoot::LocalMachine, "Software\\Only", machine), plat::kRegOk);
  ASSERT_EQ(plat::reg_set_string(machine, "Where", "machine"), plat::kRegOk);
  EXPECT_EQ(plat::reg_open_key(RegRoot::CurrentUser, "Software\\Only", user), plat::kRegNotFound);
  const std::string text = read_file(plat::reg_hive_file(RegRoot::LocalMachine));
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Only]\r\n\"Where\"=\"machine\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]"), std::string::npos);
}

}  // namespace
