#include "plat_process.h"

#include <unistd.h>

#include <climits>
#include <vector>

namespace plat {

std::string process_exe_path() {
  std::vector<char> buf(PATH_MAX);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (size_t(n) < buf.size()) return std::string(buf.data(), size_t(n));
    buf.resize(buf.size() * 2);
  }
}

}  // namespace plat
