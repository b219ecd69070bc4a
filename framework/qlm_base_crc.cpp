#include "qlm_base_crc.h"

#include <zlib.h>

uint32_t crc32_update(uint32_t reg, const void* data, int32_t length) {
  if (length <= 0 || data == nullptr) return reg;
  // zlib's CRC-32 inverts on entry and exit; undo both to get the bare
  // register update.
  return ~uint32_t(crc32(uLong(~reg), static_cast<const Bytef*>(data), uInt(length)));
}

void crc32_init_table() {}

void xor_buffer(void* buffer, int32_t count, std::string_view key) {
  if (key.empty() || count <= 0 || buffer == nullptr) return;
  uint8_t* p = static_cast<uint8_t*>(buffer);
  size_t k = 0;
  for (int32_t i = 0; i < count; ++i) {
    p[i] ^= uint8_t(key[k]);
    if (++k == key.size()) k = 0;
  }
}

std::string xor_string(std::string_view key, std::string_view text) {
  std::string result(text);
  if (result.size() > size_t(INT32_MAX)) return {};
  xor_buffer(result.data(), int32_t(result.size()), key);
  return result;
}
