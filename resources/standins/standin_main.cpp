// A stand-in program carried by the install container in place of the
// application and of its uninstaller: it says what it is and exits cleanly.
//
// The application's build (STANDIN_SERVES) can also play a running copy of
// the application, for the installer's checks and their tests:
//   --serve          hold the named mutex "Korvane-Snaprill", serve the window
//                    "TForm1"/"Korvane-Snaprill" and print "ready"; on message
//                    1123 reply 0 and exit; exit also on SIGTERM or at the
//                    time limit
//   --ignore         reply to 1123 but keep running
//   --no-endpoint    hold the mutex but serve no window
//   --no-reply       take requests but never answer them
//   --time-limit=MS  the time limit (default 60000 ms)
//   --token=T        the name token of the caller's IPC names
// Without --serve it only prints its name, so that starting it after an
// installation returns at once.
#include <cstdio>
#include <string>

#ifdef STANDIN_SERVES
#include <time.h>

#include <charconv>
#include <chrono>
#include <optional>

#include "plat_ipc.h"
#endif

#ifndef STANDIN_NAME
#define STANDIN_NAME "stand-in"
#endif

#ifdef STANDIN_SERVES
namespace {

constexpr uint32_t kExitRequest = 1123;

struct Options {
  bool serve = false, ignore = false, no_endpoint = false, no_reply = false;
  int32_t limit_ms = 60000;
};

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--serve") {
      o.serve = true;
    } else if (a == "--ignore") {
      o.ignore = true;
    } else if (a == "--no-endpoint") {
      o.no_endpoint = true;
    } else if (a == "--no-reply") {
      o.no_reply = true;
    } else if (a.rfind("--token=", 0) == 0) {
      plat::ipc_set_name_token(a.substr(8));
    } else if (a.rfind("--time-limit=", 0) == 0) {
      const char* first = a.data() + 13;
      const char* last = a.data() + a.size();
      const auto r = std::from_chars(first, last, o.limit_ms);
      if (r.ec != std::errc() || r.ptr != last || o.limit_ms < 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

int serve(const Options& o) {
  plat::AppWindowEndpoint endpoint;
  // The window first, so that whoever sees the mutex can find the window.
  if (!o.no_endpoint && !endpoint.Listen("TForm1", "Korvane-Snaprill")) {
    std::fprintf(stderr, "the window cannot be served\n");
    return 2;
  }
  plat::NamedMutex mutex;
  if (mutex.Create("Korvane-Snaprill") != plat::MutexState::Created) {
    std::fprintf(stderr, "another copy is running\n");
    return 3;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(o.limit_ms);
  bool quit = false;
  const auto handler = [&](const plat::AppMessage& m) -> std::optional<int64_t> {
    if (o.no_reply) return std::nullopt;
    if (m.message == kExitRequest && !o.ignore) quit = true;
    return 0;
  };
  while (!quit) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (o.no_endpoint) {
      struct timespec ts = {0, 50 * 1000 * 1000};
      nanosleep(&ts, nullptr);
      continue;
    }
    endpoint.ServeOne(int32_t(left.count() < 200 ? left.count() : 200), handler);
  }
  return 0;
}

}  // namespace
#endif

int main([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#ifdef STANDIN_SERVES
  Options o;
  if (!parse(argc, argv, o)) {
    std::fprintf(stderr, "unknown or bad switch\n");
    return 2;
  }
  if (o.serve) return serve(o);
#endif
  std::printf("%s\n", STANDIN_NAME);
  return 0;
}
