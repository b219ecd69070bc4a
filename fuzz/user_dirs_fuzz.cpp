// libFuzzer target: the user-dirs.dirs reader on any text, with a home
// folder and without one. The desktop it finds is an absolute path; without
// a valid line the fallback stays.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "plat_shell_folders.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const std::string home : {"/home/fuzz", ""}) {
    const std::string fallback = "/fallback";
    std::string desktop = fallback;
    const bool found = plat::user_dirs_desktop(text, home, desktop);
    if (!found && desktop != fallback) std::abort();
    if (desktop.empty() || desktop[0] != '/') std::abort();
  }
  return 0;
}
