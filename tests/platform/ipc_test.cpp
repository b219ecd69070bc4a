#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "plat_ipc.h"

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

TEST(NamedMutex, CreatedOnceHeldUntilClosedAndApartByTokenAndUser) {
  const std::string token = plat::ipc_name_token();
  ASSERT_FALSE(token.empty()) << "the sandbox sets a token";
  EXPECT_EQ(plat::ipc_abstract_name("mutex", "M"), "kvn-mutex:" + std::to_string(geteuid()) + ":" + token + ":M");

  plat::NamedMutex a, b;
  EXPECT_EQ(a.Create("Korvane-Snaprill"), plat::MutexState::Created);
  EXPECT_TRUE(a.Holds());
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
  EXPECT_EQ(b.Create("Korvane-Snaprill"), plat::MutexState::Created);
}

TEST(NamedMutex, NamesThatDoNotFitFailClearly) {
  plat::NamedMutex m;
  for (const std::string& name : {std::string(), std::string(200, 'x')}) {
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
  Served(plat::AppWindowEndpoint::Handler handler, int requests = 1) {
    EXPECT_TRUE(endpoint_.Listen("TForm1", "Caption"));
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

// A server running under another user id is no window of ours. Needs root
// to take another id.
TEST(AppWindow, AServerOfAnotherUserIsNotFound) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to serve under another user id";
  // Our name, served by a socket that listens under another user id (the
  // peer credentials are those of the listening call).
  const pid_t child = child_holding([] {
    const std::string name = plat::ipc_abstract_name("wnd", "TForm1:Caption");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    return fd >= 0 && setresuid(65534, 65534, 65534) == 0 &&
           bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 && listen(fd, 4) == 0;
  });
  ASSERT_GT(child, 0);
  EXPECT_FALSE(plat::app_window_find("TForm1", "Caption").Valid());
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace
