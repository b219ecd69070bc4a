#include "plat_utf8.h"

namespace plat {

size_t utf8_sequence(std::string_view s, size_t at, uint32_t& cp) {
  const unsigned char lead = static_cast<unsigned char>(s[at]);
  size_t n;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, cp = lead & 0x07;
  } else {
    return 0;
  }
  if (s.size() - at < n) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char c = static_cast<unsigned char>(s[at + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  return n;
}

size_t utf8_decode(std::string_view s, size_t at, uint32_t& cp) {
  static constexpr uint32_t kShortest[5] = {0, 0, 0x80, 0x800, 0x10000};
  const size_t n = utf8_sequence(s, at, cp);
  if (n == 0 || cp < kShortest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace plat
