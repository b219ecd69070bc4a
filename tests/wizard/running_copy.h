// The application's stand-in playing a running copy of the installed
// application (holding its mutex and serving its window), for the tests of
// closing it.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "plat_ipc.h"

extern char** environ;

using Clock = std::chrono::steady_clock;

// The application's stand-in playing a running copy, started with the
// sandbox's name token; killed when still running at the end.
class RunningCopy {
 public:
  explicit RunningCopy(const std::vector<std::string>& switches, int limit_ms = 20000) {
    std::vector<std::string> args = {QLM_STANDIN_APP, "--serve", "--time-limit=" + std::to_string(limit_ms),
                                     "--token=" + plat::ipc_name_token()};
    args.insert(args.end(), switches.begin(), switches.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // It says "ready" once it holds the mutex and serves its window.
    std::string said;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && said.find('\n') == std::string::npos && Clock::now() < deadline) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[64];
      const ssize_t n = read(out[0], buf, sizeof(buf));
      if (n <= 0) break;
      said.append(buf, size_t(n));
    }
    close(out[0]);
    ready_ = said == "ready\n";
  }
  ~RunningCopy() { Kill(); }

  bool Ready() const { return ready_; }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // The exit status once it has ended by itself within the time; -1 when it
  // is still running.
  int Ended(std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    do {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < deadline);
    return -1;
  }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};
