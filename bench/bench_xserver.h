// What the benches that start programs under a private X server share: a
// monotonic clock, a bounded read of a pipe, and Xvfb started on a display it
// picks itself (ended with the object), and a sandboxed environment.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace qlm_bench_x {

inline int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Reads what is there on fd into text, waiting at most ms; false at the end
// of the stream or on time-out.
inline bool ReadSome(int fd, std::string& text, int ms) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return false;
  char buf[4096];
  ssize_t n = read(fd, buf, sizeof buf);
  if (n <= 0) return false;
  text.append(buf, size_t(n));
  return true;
}

struct XServer {
  pid_t pid = -1;
  std::string display;

  // Xvfb picks a free display itself and writes its number to -displayfd.
  bool Start() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      close(fds[0]);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string text;
    int64_t end = NowNs() + 10'000'000'000;
    while (text.find('\n') == std::string::npos && NowNs() < end)
      if (!ReadSome(fds[0], text, 200) && waitpid(pid, nullptr, WNOHANG) == pid) {
        pid = -1;
        break;
      }
    close(fds[0]);
    if (text.find('\n') == std::string::npos) return false;
    display.assign(1, ':');
    display.append(text, 0, text.find('\n'));
    return true;
  }
  ~XServer() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

// The environment of a program started in a fresh sandbox folder `box` (its
// home and XDG folders made there) on `display`, GTK kept off the session
// bus and settings.
inline std::vector<std::string> sandbox_env(const std::filesystem::path& box, const std::string& display) {
  const std::filesystem::path home = box / "home";
  std::filesystem::create_directories(home / ".config");
  std::filesystem::create_directories(home / ".local/share");
  std::filesystem::create_directories(home / ".cache");
  const char* path = std::getenv("PATH");
  return {
      "HOME=" + home.string(),
      "XDG_CONFIG_HOME=" + (home / ".config").string(),
      "XDG_DATA_HOME=" + (home / ".local/share").string(),
      "XDG_CACHE_HOME=" + (home / ".cache").string(),
      "XDG_DESKTOP_DIR=" + (home / "Desktop").string(),
      "XDG_RUNTIME_DIR=" + box.string(),
      "DISPLAY=" + display,
      "NO_AT_BRIDGE=1",
      "GSETTINGS_BACKEND=memory",
      std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin"),
  };
}

}  // namespace qlm_bench_x
