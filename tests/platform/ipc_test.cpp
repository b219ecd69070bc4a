#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "plat_ipc.h"
#include "sandbox.h"

namespace {

using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point t) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Restores the process's name token when a test changed it.
struct TokenGuard {
  std::string saved = plat::ipc_name_token();
  ~TokenGuard() { plat::ipc_set_name_token(saved); }
};

// A child process that runs `setup` (true: it worked) and then waits to be
// killed; answers its id once it has said how the setup went, -1 when it
// failed.
pid_t child_holding(const std::function<bool()>& setup) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    const char ok = setup() ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char ok = 0;
  const bool said = child > 0 && read(ready[0], &ok, 1) == 1;
  close(ready[0]);
  if (said && ok == 'y') return child;
  if (child > 0) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  return -1;
}

// The mode bits of a path (not following a link), -1 when there is none.
int mode_of(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

TEST(NamedMutex, CreatedOnceHeldUntilClosedAndApartByTokenAndUser) {
  const std::string token = plat::ipc_name_token();
  ASSERT_FALSE(token.empty()) << "the sandbox sets a token";
  const std::string runtime = testenv::sandbox_root() + "/runtime";
  EXPECT_EQ(plat::ipc_name_path("mutex", "M"), runtime + "/kvn-mutex:" + token + ":M");
  EXPECT_EQ(plat::ipc_name_path("wnd", "TForm1:A/b%"), runtime + "/kvn-wnd:" + token + ":TForm1:A%2Fb%25");

  plat::NamedMutex a, b;
  EXPECT_EQ(a.Create("Korvane-Snaprill"), plat::MutexState::Created);
  EXPECT_TRUE(a.Holds());
  const std::string file = plat::ipc_name_path("mutex", "Korvane-Snaprill");
  EXPECT_EQ(mode_of(file), 0600) << "the lock file, private";
  EXPECT_EQ(b.Create("Korvane-Snaprill"), plat::MutexState::AlreadyExists);
  EXPECT_FALSE(b.Holds());
  EXPECT_EQ(b.Create("korvane-snaprill"), plat::MutexState::Created) << "names are exact";
  b.Close();
  {
    TokenGuard guard;
    plat::ipc_set_name_token("another-run");
    plat::NamedMutex c;
    EXPECT_EQ(c.Create("Korvane-Snaprill"), plat::MutexState::Created) << "another token, another name";
  }
  a.Close();
  EXPECT_EQ(mode_of(file), -1) << "the holder removes its file when it lets go";
  EXPECT_EQ(b.Create("Korvane-Snaprill"), plat::MutexState::Created);
  EXPECT_EQ(a.Create("Global/Korvane"), plat::MutexState::Created) << "a \"/\" stays inside the name";
  EXPECT_EQ(mode_of(runtime + "/kvn-mutex:" + token + ":Global%2FKorvane"), 0600);
}

TEST(NamedMutex, NamesThatDoNotFitFailClearly) {
  plat::NamedMutex m;
  for (const std::string& name : {std::string(), std::string(300, 'x'), std::string("a\0b", 3)}) {
    EXPECT_EQ(m.Create(name), plat::MutexState::Failed) << name.size();
    EXPECT_EQ(m.Error(), ENAMETOOLONG);
    EXPECT_FALSE(m.Holds());
  }
  plat::AppWindowEndpoint e;
  EXPECT_FALSE(e.Listen(std::string(200, 'c'), "x"));
  EXPECT_FALSE(plat::app_window_find(std::string(200, 'c'), "x").Valid());
}

TEST(NamedMutex, AHolderKilledBySigkillFreesTheNameAtOnce) {
  const pid_t child = child_holding([] {
    static plat::NamedMutex held;
    return held.Create("held") == plat::MutexState::Created;
  });
  ASSERT_GT(child, 0);
  plat::NamedMutex m;
  EXPECT_EQ(m.Create("held"), plat::MutexState::AlreadyExists);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(m.Create("held"), plat::MutexState::Created);
}

// An endpoint served on a thread of the test; the handler decides the reply.
class Served {
 public:
  Served(plat::AppWindowEndpoint::Handler handler, int requests = 1, const char* caption = "Caption") {
    EXPECT_TRUE(endpoint_.Listen("TForm1", caption));
    thread_ = std::thread([this, handler, requests] {
      for (int served = 0; served < requests && !stop_;)
        if (endpoint_.ServeOne(50, handler) == plat::AppWindowEndpoint::eServe::Served) ++served;
      while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      endpoint_.Close();
    });
  }
  ~Served() {
    stop_ = true;
    thread_.join();
  }

 private:
  plat::AppWindowEndpoint endpoint_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(AppWindow, FindSendAndTheBoundedWait) {
  EXPECT_FALSE(plat::app_window_find("TForm1", "Caption").Valid()) << "nothing serves it";
  int64_t reply = 0;
  plat::AppWindow none;
  EXPECT_EQ(plat::app_window_send(none, 1, 0, 0, 100, &reply), plat::SendResult::Failed);

  struct Case {
    const char* what;
    plat::AppWindowEndpoint::Handler handler;
    plat::SendResult result;
    int64_t reply;
  } cases[] = {
      {"the message comes through whole and the reply goes back",
       [](const plat::AppMessage& m) -> std::optional<int64_t> {
         return m.message == 0xFFFFFFFFu && m.wparam == 0x8000000000000001u && m.lparam == -2 ? -7 : 1;
       },
       plat::SendResult::Replied, -7},
      {"no reply: the wait ends at its limit", [](const plat::AppMessage&) { return std::optional<int64_t>(); },
       plat::SendResult::TimedOut, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Served served(c.handler);
    plat::AppWindow w = plat::app_window_find("TForm1", "Caption");
    ASSERT_TRUE(w.Valid());
    EXPECT_FALSE(plat::app_window_find("TForm1", "Other").Valid());
    reply = 0;
    const auto t0 = Clock::now();
    EXPECT_EQ(plat::app_window_send(w, 0xFFFFFFFFu, 0x8000000000000001u, -2, 300, &reply), c.result);
    EXPECT_EQ(reply, c.reply);
    EXPECT_LT(ms_since(t0), 3000);
  }
}

TEST(AppWindow, AWindowThatGoesAwayWithoutAReplyIsSeenAtOnce) {
  plat::AppWindowEndpoint e;
  ASSERT_TRUE(e.Listen("TForm1", "Caption"));
  plat::AppWindowEndpoint twice;
  EXPECT_FALSE(twice.Listen("TForm1", "Caption")) << "one endpoint per name";
  plat::AppWindow w = plat::app_window_find("TForm1", "Caption");
  ASSERT_TRUE(w.Valid());
  e.Close();  // the pending connection is dropped with the endpoint
  const auto t0 = Clock::now();
  const plat::SendResult r = plat::app_window_send(w, 1123, 0, 0, 5000);
  EXPECT_TRUE(r == plat::SendResult::Closed || r == plat::SendResult::Failed) << int(r);
  EXPECT_LT(ms_since(t0), 2000);
  EXPECT_EQ(e.ServeOne(10, nullptr), plat::AppWindowEndpoint::eServe::Failed);
}

TEST(AppWindow, APeerThatSendsNothingIsTurnedAwayAndServingGoesOn) {
  plat::AppWindowEndpoint e;
  ASSERT_TRUE(e.Listen("TForm1", "Caption"));
  plat::AppWindow silent = plat::app_window_find("TForm1", "Caption");
  ASSERT_TRUE(silent.Valid());
  const auto t0 = Clock::now();
  EXPECT_EQ(e.ServeOne(100, nullptr), plat::AppWindowEndpoint::eServe::Idle);
  EXPECT_LT(ms_since(t0), 3000);
  EXPECT_EQ(e.ServeOne(20, nullptr), plat::AppWindowEndpoint::eServe::Idle) << "nothing else waits";
}

// ---- Stale files and the runtime folder -----------------------------------------

// A holder killed by SIGKILL leaves its files; they hold nothing, and the
// next holder of the name takes them over.
TEST(AppWindow, AServerKilledBySigkillLeavesNothingThatHoldsTheName) {
  const pid_t child = child_holding([] {
    static plat::AppWindowEndpoint endpoint;
    static plat::NamedMutex mutex;
    return endpoint.Listen("TForm1", "Caption") && mutex.Create("Killed") == plat::MutexState::Created;
  });
  ASSERT_GT(child, 0);
  kill(child, SIGKILL);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  const std::string socket_file = plat::ipc_name_path("wnd", "TForm1:Caption");
  EXPECT_NE(mode_of(socket_file), -1) << "the dead server's socket file is still there";
  const auto t0 = Clock::now();
  EXPECT_FALSE(plat::app_window_find("TForm1", "Caption").Valid()) << "but nobody answers on it";
  EXPECT_LT(ms_since(t0), 1000);
  plat::NamedMutex m;
  EXPECT_EQ(m.Create("Killed"), plat::MutexState::Created);
  Served served([](const plat::AppMessage& msg) { return std::optional<int64_t>(msg.message + 1); });
  plat::AppWindow w = plat::app_window_find("TForm1", "Caption");
  int64_t reply = 0;
  EXPECT_EQ(plat::app_window_send(w, 41, 0, 0, 1000, &reply), plat::SendResult::Replied);
  EXPECT_EQ(reply, 42);
}

// Puts the runtime folder's settings back.
struct RuntimeGuard {
  testenv::SavedEnv env{"XDG_RUNTIME_DIR"};
  ~RuntimeGuard() { plat::ipc_set_runtime_fallback_parent(""); }
};

// The session's folder when it is private and ours; otherwise the fallback,
// made private, never a link or a file in its place.
TEST(IpcRuntimeFolder, TheSessionFolderWhenPrivateElseAFallbackMadeSafely) {
  RuntimeGuard guard;
  namespace fs = std::filesystem;
  const std::string dir = testenv::sandbox_dir("runtime-folder");
  const std::string fallback = dir + "/parent/kvn-" + std::to_string(geteuid());
  const std::string elsewhere = dir + "/elsewhere";
  struct Case {
    const char* what;
    std::function<std::optional<std::string>()> setup;  // makes the files; answers XDG_RUNTIME_DIR (none: unset)
    std::string folder;                                 // the answer, "" when none
    int error;
  } cases[] = {
      {"the session's private folder",
       [&] {
         fs::create_directories(dir + "/session");
         chmod((dir + "/session").c_str(), 0700);
         return dir + "/session";
       },
       dir + "/session", 0},
      {"no session folder: the fallback is made, private", [] { return std::nullopt; }, fallback, 0},
      {"a relative session folder is not used", [] { return "relative/run"; }, fallback, 0},
      {"a session folder others may enter is not used, nor changed",
       [&] {
         fs::create_directories(dir + "/open");
         chmod((dir + "/open").c_str(), 0755);
         return dir + "/open";
       },
       fallback, 0},
      {"a session folder that is a link is not used",
       [&] {
         fs::create_directories(elsewhere);
         chmod(elsewhere.c_str(), 0700);
         fs::create_directory_symlink(elsewhere, dir + "/session-link");
         return dir + "/session-link";
       },
       fallback, 0},
      {"a fallback of ours that others may enter is made private",
       [&] {
         fs::create_directories(fallback);
         chmod(fallback.c_str(), 0777);
         return std::nullopt;
       },
       fallback, 0},
      {"a link in the fallback's place is refused",
       [&] {
         fs::create_directories(elsewhere);
         chmod(elsewhere.c_str(), 0700);
         fs::create_directories(dir + "/parent");
         fs::create_directory_symlink(elsewhere, fallback);
         return std::nullopt;
       },
       "", ELOOP},
      {"a file in the fallback's place is refused",
       [&] {
         fs::create_directories(dir + "/parent");
         std::fclose(std::fopen(fallback.c_str(), "w"));
         return std::nullopt;
       },
       "", ENOTDIR},
      {"a parent others may write to without the sticky bit is refused",
       [&] {
         fs::create_directories(dir + "/parent");
         chmod((dir + "/parent").c_str(), 0777);
         return std::nullopt;
       },
       "", EPERM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir);
    fs::create_directories(dir);
    plat::ipc_set_runtime_fallback_parent(dir + "/parent");
    fs::create_directories(dir + "/parent");
    chmod((dir + "/parent").c_str(), 01777);
    const std::optional<std::string> xdg = c.setup();
    if (xdg)
      setenv("XDG_RUNTIME_DIR", xdg->c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
    std::string folder;
    EXPECT_EQ(plat::ipc_runtime_folder(folder), c.error);
    EXPECT_EQ(folder, c.folder);
    if (!c.folder.empty()) {
      EXPECT_EQ(mode_of(c.folder), 0700);
    }
    plat::NamedMutex m;
    EXPECT_EQ(m.Create("M"), c.error == 0 ? plat::MutexState::Created : plat::MutexState::Failed);
    EXPECT_EQ(m.Error(), c.error);
    if (c.error != 0) {
      plat::AppWindowEndpoint e;
      EXPECT_FALSE(e.Listen("TForm1", "Caption"));
      EXPECT_EQ(e.Error(), c.error);
    }
    EXPECT_EQ(mode_of(dir + "/open"), fs::exists(dir + "/open") ? 0755 : -1);
    if (fs::exists(elsewhere)) {
      EXPECT_TRUE(fs::is_empty(elsewhere)) << "nothing is made through a link";
    }
  }
}

// ---- Another local user -----------------------------------------------------

// A user id without an account (so that nothing is left on the system), or
// 0 when none is free.
uid_t unused_uid() {
  for (uid_t uid = 2000000000u; uid < 2000000100u; ++uid)
    if (getpwuid(uid) == nullptr) return uid;
  return 0;
}

// Runs `body` in a child process under another user id and group; the child
// says how many of its attacks worked and then waits to be killed (or, with
// `forever`, keeps running `body`). Answers the child's id, -1 when it could
// not be made.
pid_t as_other_user(uid_t uid, const std::function<int()>& body, int& worked) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    int n = -1;
    if (setgroups(0, nullptr) == 0 && setresgid(uid, uid, uid) == 0 && setresuid(uid, uid, uid) == 0) n = body();
    if (write(ready[1], &n, sizeof n) != ssize_t(sizeof n)) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  worked = -1;
  const bool said = child > 0 && read(ready[0], &worked, sizeof worked) == ssize_t(sizeof worked);
  close(ready[0]);
  if (said && worked >= 0) return child;
  if (child > 0) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  return -1;
}

void end_child(pid_t child) {
  if (child <= 0) return;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

// Binds (and listens on) a socket address: an abstract name when `abstract`,
// else a path. True when it worked.
bool bind_name(const std::string& name, bool abstract) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (name.empty() || name.size() + 2 > sizeof(addr.sun_path)) return false;
  std::memcpy(addr.sun_path + (abstract ? 1 : 0), name.data(), name.size());
  const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + name.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  return fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 && listen(fd, 4) == 0;
}

// Connects to a socket address without waiting; the descriptor or -1.
int connect_name(const std::string& name, bool abstract) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (name.empty() || name.size() + 2 > sizeof(addr.sun_path)) return -1;
  std::memcpy(addr.sun_path + (abstract ? 1 : 0), name.data(), name.size());
  const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + name.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// Every name another user could try for ours: the names this user's
// programs would once have used in the abstract socket namespace (which
// carries no permissions), and the paths in our runtime folder.
struct OurNames {
  std::vector<std::pair<std::string, bool>> mutex, window;  // name, abstract
  OurNames() {
    const std::string tail = std::to_string(geteuid()) + ":" + plat::ipc_name_token() + ":";
    mutex = {{"kvn-mutex:" + tail + "Korvane-Snaprill", true},
             {plat::ipc_name_path("mutex", "Korvane-Snaprill"), false}};
    window = {{"kvn-wnd:" + tail + "TForm1:Korvane-Snaprill", true},
              {plat::ipc_name_path("wnd", "TForm1:Korvane-Snaprill"), false},
              {plat::ipc_name_path("wnd", "TForm1:Korvane-Snaprill") + ".lock", false}};
  }
};

// The runtime folder in a shared folder like /tmp (sticky, everyone may
// write), so that another user can reach it: the fallback under a folder of
// this test outside the private sandbox, removed at the end.
class SharedFallback {
 public:
  SharedFallback() {
    std::string templ = (std::filesystem::temp_directory_path() / "qlm-ipc-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr || chmod(templ.c_str(), 01777) != 0) return;
    dir_ = templ;
    unsetenv("XDG_RUNTIME_DIR");
    plat::ipc_set_runtime_fallback_parent(dir_);
  }
  ~SharedFallback() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  const std::string& dir() const { return dir_; }

 private:
  RuntimeGuard guard_;
  std::string dir_;
};

// The named mutex and the window of the running copy, checked as the
// installer does: taken or found, and the window answers.
void expect_names_are_ours() {
  plat::NamedMutex m;
  EXPECT_EQ(m.Create("Korvane-Snaprill"), plat::MutexState::Created) << "errno " << m.Error();
  m.Close();
  plat::AppWindowEndpoint e;
  ASSERT_TRUE(e.Listen("TForm1", "Korvane-Snaprill")) << "errno " << e.Error();
  std::thread serve([&e] { e.ServeOne(2000, nullptr); });
  plat::AppWindow w = plat::app_window_find("TForm1", "Korvane-Snaprill");
  EXPECT_TRUE(w.Valid());
  EXPECT_EQ(plat::app_window_send(w, 1123, 0, 0, 1000), plat::SendResult::Replied);
  serve.join();
}

// Another local user takes every name of ours it can reach first: it takes
// none that counts, neither in the session's folder nor in a fallback in a
// shared folder, and cannot move our folder away.
TEST(IpcOtherUser, CannotTakeOurNamesFirst) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a child under another user id";
  const uid_t other = unused_uid();
  if (other == 0) GTEST_SKIP() << "no free user id";
  for (const bool shared : {false, true}) {
    SCOPED_TRACE(shared ? "the fallback in a shared folder" : "the session's folder");
    std::optional<SharedFallback> fallback;
    if (shared) {
      fallback.emplace();
      ASSERT_FALSE(fallback->dir().empty());
    }
    std::string folder;
    ASSERT_EQ(plat::ipc_runtime_folder(folder), 0);
    const OurNames names;
    int worked = 0;
    const pid_t child = as_other_user(
        other,
        [&] {
          int n = 0;
          for (const auto& [name, abstract] : names.mutex) {
            if (bind_name(name, abstract) && !abstract) ++n;
            const int fd = abstract ? -1 : open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ++n;
          }
          for (const auto& [name, abstract] : names.window)
            if (bind_name(name, abstract) && !abstract) ++n;
          if (rename(folder.c_str(), (folder + ".moved").c_str()) == 0) ++n;
          return n;
        },
        worked);
    ASSERT_GT(child, 0);
    EXPECT_EQ(worked, 0) << "nothing in our folder is reachable";
    expect_names_are_ours();
    end_child(child);
  }
}

// Another user makes the fallback folder (or a link in its place) before
// we do: it is not used, and the names fail plainly (no copy is taken to
// be running), rather than being taken.
TEST(IpcOtherUser, AFallbackMadeByAnotherUserIsNotUsed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a child under another user id";
  const uid_t other = unused_uid();
  if (other == 0) GTEST_SKIP() << "no free user id";
  for (const bool link : {false, true}) {
    SCOPED_TRACE(link ? "a link to a folder of the other user" : "a folder of the other user");
    SharedFallback fallback;
    ASSERT_FALSE(fallback.dir().empty());
    const std::string ours = fallback.dir() + "/kvn-" + std::to_string(geteuid());
    const std::string theirs = fallback.dir() + "/theirs";
    int worked = 0;
    const pid_t child = as_other_user(
        other,
        [&] {
          if (mkdir(link ? theirs.c_str() : ours.c_str(), 0777) != 0 ||
              chmod(link ? theirs.c_str() : ours.c_str(), 0777) != 0)
            return -1;
          if (link && symlink(theirs.c_str(), ours.c_str()) != 0) return -1;
          return 0;
        },
        worked);
    ASSERT_GT(child, 0);
    plat::NamedMutex m;
    EXPECT_EQ(m.Create("Korvane-Snaprill"), plat::MutexState::Failed);
    EXPECT_EQ(m.Error(), link ? ELOOP : EPERM);
    plat::AppWindowEndpoint e;
    EXPECT_FALSE(e.Listen("TForm1", "Korvane-Snaprill"));
    EXPECT_FALSE(plat::app_window_find("TForm1", "Korvane-Snaprill").Valid());
    EXPECT_TRUE(std::filesystem::is_empty(link ? theirs : ours)) << "nothing of ours goes into it";
    end_child(child);
  }
}

// Our fallback folder was left open to others (mode 0777), and another user
// planted files under the names of our mutex and our window in it. Once we
// use the folder again it is private and what they planted is gone: the
// mutex is taken and the window listens (both failed for ever while the
// planted files stayed). Our side runs as a user of its own, as root would
// pass over the planted files' permissions.
TEST(IpcOtherUser, WhatAnotherUserPlantedInOurOpenFallbackGoes) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run children under other user ids";
  const uid_t us = unused_uid();
  uid_t them = 0;
  for (uid_t uid = us + 1; uid < us + 100 && them == 0; ++uid)
    if (getpwuid(uid) == nullptr) them = uid;
  if (us == 0 || them == 0) GTEST_SKIP() << "no free user ids";
  SharedFallback fallback;
  ASSERT_FALSE(fallback.dir().empty());
  const std::string ours = fallback.dir() + "/kvn-" + std::to_string(us);
  ASSERT_EQ(mkdir(ours.c_str(), 0777), 0);
  ASSERT_EQ(chmod(ours.c_str(), 0777), 0);
  ASSERT_EQ(chown(ours.c_str(), us, us), 0);
  // The leaves of our names, as any user's folder holds them.
  namespace fs = std::filesystem;
  const std::string mutex_leaf = fs::path(plat::ipc_name_path("mutex", "Korvane-Snaprill")).filename().string();
  const std::string window_leaf = fs::path(plat::ipc_name_path("wnd", "TForm1:Korvane-Snaprill")).filename().string();
  ASSERT_FALSE(mutex_leaf.empty());
  ASSERT_FALSE(window_leaf.empty());
  int planted = 0;
  const pid_t attacker = as_other_user(
      them,
      [&] {
        int n = 0;
        for (const std::string& leaf : {mutex_leaf, window_leaf, window_leaf + ".lock"}) {
          const int fd = open((ours + "/" + leaf).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
          if (fd >= 0) ++n;
          if (fd >= 0) close(fd);
        }
        // A folder of theirs with a file in it cannot be emptied by us.
        if (mkdir((ours + "/theirs").c_str(), 0755) != 0) return n;
        const int inner = open((ours + "/theirs/inner").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (inner < 0) return n;
        close(inner);
        return n == 3 ? 4 : n;
      },
      planted);
  ASSERT_GT(attacker, 0);
  end_child(attacker);
  ASSERT_EQ(planted, 4) << "the other user could not plant its files";
  int failures = -1;
  const pid_t user = as_other_user(
      us,
      [&] {
        int bad = 0;
        std::string folder;
        bad += plat::ipc_runtime_folder(folder) != 0 || folder != ours;
        plat::NamedMutex m;
        bad += m.Create("Korvane-Snaprill") != plat::MutexState::Created;
        plat::AppWindowEndpoint e;
        bad += !e.Listen("TForm1", "Korvane-Snaprill");
        return bad;
      },
      failures);
  ASSERT_GT(user, 0);
  end_child(user);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(mode_of(ours), 0700);
  for (const auto& entry : fs::directory_iterator(ours)) {
    struct stat st {};
    ASSERT_EQ(lstat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, us) << entry.path() << " of another user is still there";
  }
}

// A process that connects to every name of our window as fast as it can,
// sending nothing, and holds the last `hold` connections; under another
// user id when `other` is not 0. Answers its id once it runs, -1 when it
// could not be made.
pid_t flooder(uid_t other, const OurNames& names, size_t hold) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    if (other != 0 &&
        (setgroups(0, nullptr) != 0 || setresgid(other, other, other) != 0 || setresuid(other, other, other) != 0))
      _exit(1);
    const char ok = 'y';
    if (write(ready[1], &ok, 1) != 1) _exit(1);
    std::vector<int> held;
    for (;;) {
      for (const auto& [name, abstract] : names.window) {
        const int fd = connect_name(name, abstract);
        if (fd < 0) continue;
        held.push_back(fd);
        if (held.size() > hold) {
          close(held.front());
          held.erase(held.begin());
        }
      }
    }
  }
  close(ready[1]);
  char ok = 0;
  const bool said = child > 0 && read(ready[0], &ok, 1) == 1;
  close(ready[0]);
  if (said) return child;
  end_child(child);
  return -1;
}

// Three processes flood the window's endpoint while the installer's check
// runs ten times: each check finds the window and gets its reply.
void expect_checks_pass_a_flood(uid_t other, size_t hold) {
  const OurNames names;
  std::vector<pid_t> flooders;
  for (int i = 0; i < 3; ++i) {
    const pid_t child = flooder(other, names, hold);
    if (child > 0) flooders.push_back(child);
  }
  ASSERT_EQ(flooders.size(), 3u);
  {
    Served served([](const plat::AppMessage& m) { return std::optional<int64_t>(m.message == 1123 ? 0 : 1); }, 10,
                  "Korvane-Snaprill");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the flood is under way
    int answered = 0;
    std::string missed;
    for (int check = 0; check < 10; ++check) {
      plat::AppWindow w = plat::app_window_find("TForm1", "Korvane-Snaprill");
      const plat::SendResult r = w.Valid() ? plat::app_window_send(w, 1123, 0, 0, 1000) : plat::SendResult::Failed;
      if (r == plat::SendResult::Replied)
        ++answered;
      else
        missed += w.Valid() ? " (no reply: " + std::to_string(int(r)) + ")" : " (not found)";
    }
    EXPECT_EQ(answered, 10) << missed;
  }
  for (const pid_t child : flooders) end_child(child);
}

TEST(IpcOtherUser, AFloodOfConnectionsDoesNotHideTheWindow) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a child under another user id";
  const uid_t other = unused_uid();
  if (other == 0) GTEST_SKIP() << "no free user id";
  expect_checks_pass_a_flood(other, 0);
}

// Peers of our own that connect and send nothing, holding their
// connections, cost the endpoint nothing but a descriptor each.
TEST(AppWindow, PeersOfOurOwnThatSendNothingDoNotHideTheWindow) { expect_checks_pass_a_flood(0, 200); }

// A server running under another user id is no window of ours, whatever
// name it takes. Needs root to take another id.
TEST(AppWindow, AServerOfAnotherUserIsNotFound) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to serve under another user id";
  // Our names, served by sockets that listen under another user id (the
  // peer credentials are those of the listening call): made by root, then
  // listening after the id changed.
  const OurNames names;
  const pid_t child = child_holding([&] {
    std::vector<int> fds;
    for (const auto& [name, abstract] : names.window) {
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::memcpy(addr.sun_path + (abstract ? 1 : 0), name.data(), name.size());
      const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + name.size() + 1);
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) return false;
      fds.push_back(fd);
    }
    if (setresuid(65534, 65534, 65534) != 0) return false;
    for (const int fd : fds)
      if (listen(fd, 4) != 0) return false;
    return true;
  });
  ASSERT_GT(child, 0);
  EXPECT_FALSE(plat::app_window_find("TForm1", "Korvane-Snaprill").Valid());
  end_child(child);
}

}  // namespace
