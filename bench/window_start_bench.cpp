// The installer program on GTK under a private X server (Xvfb, started
// here): the time from exec to the first presented frame and the peak
// resident size with its first page shown, beside an empty window of the
// window layer (empty_window_bench). Each run starts the program in a fresh
// sandbox (HOME, the XDG folders and so the registry inside a temporary
// folder) with QLM_REPORT_FIRST_PRESENT set, reads the program's line
// "qlm-first-present <CLOCK_MONOTONIC ns>", lets the page settle, ends the
// program and reads its ru_maxrss from wait4. Prints the median and range of
// each figure. Prints SKIPPED and exits 0 where no X server can be started.
// Usage: window_start_bench [runs]   (default 11)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_xserver.h"

namespace {

namespace fs = std::filesystem;

using namespace qlm_bench_x;

struct Run {
  double first_present_ms = 0;
  double peak_mb = 0;
};

// One start of program in a fresh sandbox; false (with a message) when it
// printed no first-present line within ten seconds.
bool RunOnce(const char* program, const std::string& display, Run& out) {
  char tmpl[] = "/tmp/qlm_window_start_XXXXXX";
  if (!mkdtemp(tmpl)) return false;
  const fs::path box = tmpl;
  std::vector<std::string> env = sandbox_env(box, display);
  env.push_back("QLM_REPORT_FIRST_PRESENT=1");
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int fds[2];
  if (pipe(fds) != 0) return false;
  const int64_t start = NowNs();
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 2);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    if (chdir(box.c_str()) != 0) _exit(126);
    char* argv[] = {const_cast<char*>(program), nullptr};
    execve(program, argv, envp.data());
    _exit(127);
  }
  close(fds[1]);
  std::string text;
  const std::string key = "qlm-first-present ";
  size_t at = std::string::npos;
  int64_t end = start + 10'000'000'000;
  while (NowNs() < end) {
    at = text.find(key);
    if (at != std::string::npos && text.find('\n', at) != std::string::npos) break;
    if (!ReadSome(fds[0], text, 100) && waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      break;
    }
  }
  bool ok = at != std::string::npos && text.find('\n', at) != std::string::npos;
  if (ok) {
    out.first_present_ms = double(std::strtoll(text.c_str() + at + key.size(), nullptr, 10) - start) / 1e6;
    // The first page settles: its timers and idle work run a while.
    const int64_t settle = NowNs() + 500'000'000;
    while (NowNs() < settle) ReadSome(fds[0], text, 50);
  } else {
    std::fprintf(stderr, "%s: no first-present line; it wrote:\n%s\n", program, text.c_str());
  }
  if (pid > 0) {
    kill(pid, SIGKILL);
    rusage usage{};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    out.peak_mb = double(usage.ru_maxrss) / 1024.0;
  }
  close(fds[0]);
  std::error_code ec;
  fs::remove_all(box, ec);
  return ok;
}

struct Figures {
  double median, low, high;
};

Figures Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  return {median, v.front(), v.back()};
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
  XServer x;
  if (!x.Start()) {
    std::printf("SKIPPED: no X server could be started (Xvfb, package xvfb)\n");
    return 0;
  }
  const char* programs[2] = {QLM_INSTALLER_PROGRAM, QLM_EMPTY_WINDOW_PROGRAM};
  const char* names[2] = {"installer", "empty window"};
  std::vector<double> present[2], peak[2];
  // One start of each first, not counted: the files come into the page
  // cache and fontconfig's cache is read once.
  for (const char* p : programs) {
    Run r;
    if (!RunOnce(p, x.display, r)) return 1;
  }
  // The two programs alternate so that a change of the machine's load
  // reaches both.
  for (int i = 0; i < runs; ++i)
    for (int k = 0; k < 2; ++k) {
      Run r;
      if (!RunOnce(programs[k], x.display, r)) return 1;
      present[k].push_back(r.first_present_ms);
      peak[k].push_back(r.peak_mb);
    }
  std::printf("%d runs each, Xvfb %s, load average: ", runs, x.display.c_str());
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3)
    std::printf("%.1f %.1f %.1f\n", load[0], load[1], load[2]);
  else
    std::printf("unknown\n");
  for (int k = 0; k < 2; ++k) {
    Figures t = Summarise(present[k]), m = Summarise(peak[k]);
    std::printf("%-13s exec to first present: median %6.1f ms (%.1f-%.1f); peak RSS: median %5.1f MB (%.1f-%.1f)\n",
                names[k], t.median, t.low, t.high, m.median, m.low, m.high);
  }
  std::vector<double> above;
  for (int i = 0; i < runs; ++i) above.push_back(peak[0][size_t(i)] - peak[1][size_t(i)]);
  Figures a = Summarise(above);
  Figures t = Summarise(present[0]);
  std::printf("installer above the empty window: median %.1f MB (%.1f-%.1f); target at most 40 MB: %s\n", a.median,
              a.low, a.high, a.median <= 40 ? "met" : "missed");
  std::printf("installer exec to first present: median %.1f ms; target under 150 ms: %s\n", t.median,
              t.median < 150 ? "met" : "missed");
  return 0;
}
