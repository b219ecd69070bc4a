// A folder of the fuzz target's own for inputs written as files: made once
// (in /dev/shm when there is one, else /tmp), removed when the process ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

inline const std::string& fuzz_temp_dir() {
  // Never destroyed, so the exit handler still has the name.
  static const std::string* const dir = [] {
    std::string pattern =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm/qlm-fuzz-XXXXXX" : "/tmp/qlm-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    auto* made = new std::string(pattern);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(fuzz_temp_dir(), ec);
    });
    return made;
  }();
  return *dir;
}

// Writes the bytes as the file `name` of the folder; answers its host path.
inline std::string fuzz_write_file(const std::string& name, const void* data, size_t size) {
  const std::string path = fuzz_temp_dir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), std::streamsize(size));
  if (!out) std::abort();
  return path;
}
