// What a window costs while nobody touches it: the installer on GTK under a
// private X server (Xvfb, started here) showing its first page, still, then
// with the pointer resting on the banner's product logo (whose glow pulses
// as long as it stays), then animating (its Animate box clicked),
// beside an empty window of the
// window layer (empty_window_bench), still. Each program runs in a fresh
// sandbox (HOME and the XDG folders inside a temporary folder), pinned to
// one processor; after a settling time the benchmark counts, over each
// phase:
// - the CPU time of the whole process (every thread, from /proc: the tasks'
//   schedstat run times, nanoseconds, with the process's utime + stime in
//   clock ticks beside them), as a share of one core over the phase's wall
//   time;
// - the area the program drew on its window, from the X server's damage
//   reports (XDamage, raw rectangles), in pixels per second and as windows
//   per second, and the number of reports.
// Usage: idle_window_bench [seconds per phase] [installer]   (default 20 s;
// another build of the installer, to compare builds, in place of this one's)
// Prints SKIPPED and exits 0 where no X server can be started.
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_xserver.h"

namespace {

namespace fs = std::filesystem;
using namespace qlm_bench_x;

void SleepMs(int ms) {
  timespec t{ms / 1000, long(ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

// The CPU time of a process so far: the run time of its live tasks in
// nanoseconds (schedstat) and utime + stime of the whole process (dead
// threads included) in nanoseconds from clock ticks.
struct CpuTime {
  int64_t run_ns = 0;
  int64_t ticks_ns = 0;
};

CpuTime ReadCpu(pid_t pid) {
  CpuTime t;
  const std::string base = "/proc/" + std::to_string(pid);
  if (DIR* dir = opendir((base + "/task").c_str())) {
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      std::ifstream in(base + "/task/" + e->d_name + "/schedstat");
      long long ns = 0;
      if (in >> ns) t.run_ns += ns;
    }
    closedir(dir);
  }
  std::ifstream stat(base + "/stat");
  std::string line;
  std::getline(stat, line);
  // Fields after the command (which may hold blanks) in parentheses.
  const size_t close = line.rfind(')');
  if (close != std::string::npos) {
    std::istringstream fields(line.substr(close + 2));
    std::string f;
    long long utime = 0, stime = 0;
    for (int i = 3; fields >> f; ++i) {
      if (i == 14) utime = std::atoll(f.c_str());
      if (i == 15) {
        stime = std::atoll(f.c_str());
        break;
      }
    }
    t.ticks_ns = (utime + stime) * (1000000000LL / sysconf(_SC_CLK_TCK));
  }
  return t;
}

// The top-level window whose name is name, 0 when there is none yet.
Window FindWindow(Display* d, Window root, const std::string& name) {
  Window parent = 0, r = 0;
  Window* children = nullptr;
  unsigned n = 0;
  if (!XQueryTree(d, root, &r, &parent, &children, &n)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < n && !found; ++i) {
    char* title = nullptr;
    if (XFetchName(d, children[i], &title) && title) {
      if (name == title) found = children[i];
      XFree(title);
    }
  }
  if (children) XFree(children);
  return found;
}

struct Program {
  pid_t pid = -1;
  fs::path box;
};

// Starts program in a fresh sandbox on display, pinned to processor cpu.
bool Launch(const char* program, const std::string& display, int cpu, Program& out) {
  char tmpl[] = "/tmp/qlm_idle_window_XXXXXX";
  if (!mkdtemp(tmpl)) return false;
  out.box = tmpl;
  std::vector<std::string> env = sandbox_env(out.box, display);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  out.pid = fork();
  if (out.pid < 0) return false;
  if (out.pid == 0) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(out.box.c_str()) != 0) _exit(126);
    char* argv[] = {const_cast<char*>(program), nullptr};
    execve(program, argv, envp.data());
    _exit(127);
  }
  return true;
}

void End(Program& p) {
  if (p.pid > 0) {
    kill(p.pid, SIGKILL);
    waitpid(p.pid, nullptr, 0);
  }
  std::error_code ec;
  fs::remove_all(p.box, ec);
}

struct Phase {
  double seconds = 0;
  double cpu_share = 0;        // from the run times, percent of one core
  double cpu_share_ticks = 0;  // from utime + stime
  double damage_px_per_s = 0;
  double damage_reports_per_s = 0;
};

// Counts the window's damage and the process's CPU time for seconds.
Phase Measure(Display* d, Window w, pid_t pid, int seconds, int damage_event) {
  Damage damage = XDamageCreate(d, w, XDamageReportRawRectangles);
  XSync(d, False);
  while (XPending(d)) {  // reports from before the phase
    XEvent e;
    XNextEvent(d, &e);
  }
  const CpuTime c0 = ReadCpu(pid);
  const int64_t t0 = NowNs(), end = t0 + int64_t(seconds) * 1000000000;
  double area = 0;
  long reports = 0;
  const int fd = ConnectionNumber(d);
  for (int64_t now = t0; now < end; now = NowNs()) {
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, int(std::min<int64_t>((end - now) / 1000000 + 1, 200)));
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      if (e.type == damage_event + XDamageNotify) {
        const auto* n = reinterpret_cast<const XDamageNotifyEvent*>(&e);
        area += double(n->area.width) * double(n->area.height);
        ++reports;
      }
    }
  }
  const int64_t t1 = NowNs();
  const CpuTime c1 = ReadCpu(pid);
  XDamageDestroy(d, damage);
  XSync(d, False);
  Phase r;
  r.seconds = double(t1 - t0) / 1e9;
  r.cpu_share = 100.0 * double(c1.run_ns - c0.run_ns) / double(t1 - t0);
  r.cpu_share_ticks = 100.0 * double(c1.ticks_ns - c0.ticks_ns) / double(t1 - t0);
  r.damage_px_per_s = area / r.seconds;
  r.damage_reports_per_s = double(reports) / r.seconds;
  return r;
}

void Print(const char* who, const char* phase, const Phase& p, double window_px) {
  std::printf(
      "%-12s %-9s CPU %6.2f %% of a core (ticks %6.2f %%)  damage %9.0f px/s = %5.2f windows/s, %6.1f reports/s\n", who,
      phase, p.cpu_share, p.cpu_share_ticks, p.damage_px_per_s, p.damage_px_per_s / window_px, p.damage_reports_per_s);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const int cpu = int(sysconf(_SC_NPROCESSORS_ONLN)) - 1;
  XServer x;
  if (!x.Start()) {
    std::printf("SKIPPED: no X server could be started (Xvfb, package xvfb)\n");
    return 0;
  }
  Display* d = nullptr;
  for (int i = 0; i < 50 && !d; ++i) {
    d = XOpenDisplay(x.display.c_str());
    if (!d) SleepMs(100);
  }
  int damage_event = 0, damage_error = 0;
  if (!d || !XDamageQueryExtension(d, &damage_event, &damage_error)) {
    std::printf("SKIPPED: the X server has no damage extension\n");
    if (d) XCloseDisplay(d);
    return 0;
  }
  std::printf("%d s per phase, Xvfb %s, programs pinned to CPU %d, load average: ", seconds, x.display.c_str(), cpu);
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3)
    std::printf("%.1f %.1f %.1f\n", load[0], load[1], load[2]);
  else
    std::printf("unknown\n");

  const struct {
    const char* program;
    const char* who;
    const char* title;
    bool animate;
  } runs[] = {
      {argc > 2 ? argv[2] : QLM_INSTALLER_PROGRAM, "installer", "Korvane Snaprill 1.31 Installer", true},
      {QLM_EMPTY_WINDOW_PROGRAM, "empty window", "Empty Window", false},
  };
  for (const auto& run : runs) {
    Program p;
    if (!Launch(run.program, x.display, cpu, p)) return 1;
    Window w = 0;
    for (int i = 0; i < 200 && !w; ++i) {
      w = FindWindow(d, DefaultRootWindow(d), run.title);
      if (!w) SleepMs(50);
    }
    if (!w) {
      std::fprintf(stderr, "%s: no window \"%s\"\n", run.program, run.title);
      End(p);
      return 1;
    }
    XWindowAttributes a{};
    XGetWindowAttributes(d, w, &a);
    const double window_px = double(a.width) * double(a.height);
    // Runs xdotool on the private display; false (the program ended) when
    // it fails.
    const auto xdotool = [&](const std::string& args) {
      const std::string command = "DISPLAY=" + x.display + " xdotool " + args;
      if (std::system(command.c_str()) == 0) return true;
      std::fprintf(stderr, "xdotool failed (package xdotool)\n");
      End(p);
      return false;
    };
    const std::string inWindow = "mousemove --window " + std::to_string(w) + " ";
    // The pointer away from the window (Xvfb starts it at the screen's
    // middle, over the page), then the first page settles.
    if (!xdotool("mousemove 1023 767")) return 1;
    SleepMs(3000);
    Print(run.who, "still", Measure(d, w, p.pid, seconds, damage_event), window_px);
    if (run.animate) {
      // The pointer on the product logo, at the banner's left; its glow
      // pulses, the banner drawn again every 10 ms.
      if (!xdotool(inWindow + "100 34")) return 1;
      SleepMs(3000);
      Print(run.who, "on logo", Measure(d, w, p.pid, seconds, damage_event), window_px);
      // The Animate box at the window's bottom left.
      if (!xdotool(inWindow + "30 451 click 1 " + inWindow + "350 300")) return 1;
      SleepMs(1000);
      Print(run.who, "animating", Measure(d, w, p.pid, seconds, damage_event), window_px);
    }
    End(p);
  }
  XCloseDisplay(d);
  std::printf(
      "goals: the installer still or with the pointer resting on a logo at most 0.5 %% of a core, animating at most "
      "6 %%\n");
  return 0;
}
