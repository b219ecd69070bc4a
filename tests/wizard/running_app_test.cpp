#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "form_install_checks.h"
#include "plat_ipc.h"
#include "running_copy.h"
#include "wizard_host.h"

namespace {

constexpr rExitWaits kShortWaits{300, 600};

TEST(CloseRunningApplication, AskedOnceThenBlockedWithTheMessage) {
  const struct {
    const char* what;
    bool runs;  // a copy is started, with the switches
    std::vector<std::string> switches;
    bool kill_first;  // the copy dies by SIGKILL before the check
    bool blocked;
    int requests;  // wait windows shown
    bool still_running;
  } cases[] = {
      {"a copy that exits when asked", true, {}, false, false, 1, false},
      {"a copy that ignores the request", true, {"--ignore"}, false, true, 1, true},
      {"a mutex without a window", true, {"--no-endpoint"}, false, true, 0, true},
      {"a copy that never replies", true, {"--no-reply"}, false, true, 1, true},
      {"nothing running", false, {}, false, false, 0, false},
      {"a copy killed by SIGKILL", true, {}, true, false, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<RunningCopy> copy;
    if (c.runs) {
      copy.emplace(c.switches);
      ASSERT_TRUE(copy->Ready());
      if (c.kill_first) copy->Kill();
    }
    FakeChecksHost host;
    const auto t0 = Clock::now();
    EXPECT_EQ(CloseRunningApplication(host, "update", kShortWaits), c.blocked);
    // At most one request: the reply wait and the sleep once, and a margin.
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(kShortWaits.reply_ms + kShortWaits.sleep_ms + 1500));
    EXPECT_EQ(int(host.waits.size()), c.requests);
    for (const std::string& w : host.waits) EXPECT_EQ(w, "    Exiting Running Application ... ");
    EXPECT_EQ(host.open_waits, 0) << "every wait window is released";
    if (c.blocked) {
      ASSERT_EQ(host.messages.size(), 1u);
      const rCheckMessage& m = host.messages[0];
      EXPECT_EQ(m.title, "Exit Application First");
      EXPECT_EQ(m.kind, 0);
      EXPECT_EQ(m.width, 420);
      EXPECT_EQ(m.height, 240);
      EXPECT_EQ(m.placement, 1);
      EXPECT_EQ(m.markup,
                "Application You are going to ~<b>update ~)is running now~>.~(p) ~<ct=Green>Please exit the running "
                "application to continue with update.~> ");
    } else {
      EXPECT_TRUE(host.messages.empty());
    }
    if (copy && !c.kill_first) {
      if (c.still_running)
        EXPECT_EQ(copy->Ended(std::chrono::milliseconds(0)), -1);
      else
        EXPECT_EQ(copy->Ended(std::chrono::seconds(5)), 0);
    }
    // The check leaves the name free behind it.
    if (!c.still_running) {
      plat::NamedMutex m;
      EXPECT_EQ(m.Create(cnAppMutexName), plat::MutexState::Created);
    }
  }
}

// The stand-in never outlives its time limit, and a bad switch is refused.
TEST(ApplicationStandIn, EndsAtItsTimeLimitAndRefusesBadSwitches) {
  RunningCopy copy({"--ignore"}, 200);
  ASSERT_TRUE(copy.Ready());
  EXPECT_EQ(copy.Ended(std::chrono::seconds(5)), 0);
  plat::NamedMutex m;
  EXPECT_EQ(m.Create(cnAppMutexName), plat::MutexState::Created);
  m.Close();
  for (const char* bad : {"--time-limit=x", "--time-limit=-1", "--bogus"}) {
    RunningCopy refused({bad});
    EXPECT_FALSE(refused.Ready()) << bad;
    EXPECT_EQ(refused.Ended(std::chrono::seconds(5)), 2) << bad;
  }
}

}  // namespace
