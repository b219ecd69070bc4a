// Small helpers shared by tests that look at files and bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "plat_path_map.h"

namespace testenv {

// The whole file as bytes ("" when it cannot be read).
inline std::string read_file(const std::string& host_path) {
  std::ifstream in(host_path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Replaces the file with the bytes.
inline void write_file(const std::string& host_path, std::string_view bytes) {
  std::ofstream out(host_path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

// The drive-mapped Windows name of a host path (the test fails when it has none).
inline std::string win_of(const std::string& host_path) {
  std::string win;
  EXPECT_TRUE(plat::from_posix(host_path, win)) << host_path;
  return win;
}

// Bytes from pairs of hexadecimal digits ("0a1B..."); a trailing odd digit is ignored.
inline std::vector<uint8_t> from_hex(std::string_view hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(uint8_t(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

}  // namespace testenv
