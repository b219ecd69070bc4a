// libFuzzer target: the mapping between Windows names and host paths on any
// text. The first byte picks the use (bit 0: a search pattern). Answers are
// 0, 3 or 15, with a host path exactly on 0; a host path that maps back to
// a Windows name maps to itself again (from_posix and to_posix are inverse
// on what they accept), and so does any host text from_posix takes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "plat_path_map.h"

namespace {

// A Windows name from from_posix maps to a host path and back to itself.
void check_round_trip(const std::string& win) {
  if (win.compare(0, 3, "C:\\") != 0) std::abort();
  std::string host, again;
  if (plat::to_posix(win, host) != plat::kPathOk || host.empty() || host[0] != '/') std::abort();
  if (!plat::from_posix(host, again) || again != win) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const plat::PathUse use = (data[0] & 1) != 0 ? plat::PathUse::Pattern : plat::PathUse::Name;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string host;
  const int32_t rc = plat::to_posix(text, host, use);
  if (rc != plat::kPathOk && rc != plat::kPathErrNotFound && rc != plat::kPathErrBadDrive) std::abort();
  if ((rc == plat::kPathOk) == host.empty()) std::abort();
  for (const char c : host)
    if (static_cast<unsigned char>(c) < 32) std::abort();
  std::string win;
  if (rc == plat::kPathOk && host[0] == '/' && plat::from_posix(host, win)) check_round_trip(win);
  if (plat::from_posix(text, win))
    check_round_trip(win);
  else if (!win.empty())
    std::abort();
  return 0;
}
