#include "plat_shell_open.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

#include "plat_path_map.h"

extern char** environ;

namespace plat {

namespace {

// Spawns argv[0] (searched on PATH when it holds no "/") in a session of its
// own, and reaps it from a detached thread so it never stays a zombie.
bool spawn_detached(const std::vector<std::string>& args) {
  if (args.empty() || args[0].empty()) return false;
  // A NUL would end the argument early: the child would get another text
  // than the one asked for.
  for (auto& a : args)
    if (a.find('\0') != std::string::npos) return false;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return false;
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  try {
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (...) {
    // Without a reaper the child is still started; it stays a zombie until
    // the program ends.
  }
  return true;
}

}  // namespace

bool shell_open_url(const std::string& url) {
  if (url.empty()) return false;
  return spawn_detached({"xdg-open", url});
}

bool shell_run_program(const std::string& win_path, const std::vector<std::string>& args) {
  std::string host;
  if (to_posix(win_path, host) != kPathOk) return false;
  std::vector<std::string> argv{host};
  argv.insert(argv.end(), args.begin(), args.end());
  return spawn_detached(argv);
}

}  // namespace plat
