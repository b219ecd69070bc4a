#include "qlm_parser_vormcode_escape.h"

#include <cstdint>

namespace {

// The code point of the UTF-8 sequence at `at` and its length; 0 when the
// bytes there do not form a valid, shortest-form sequence of 2 to 4 bytes.
size_t utf8_decode(std::string_view s, size_t at, uint32_t& cp) {
  const unsigned char lead = static_cast<unsigned char>(s[at]);
  size_t n;
  uint32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (at + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char c = static_cast<unsigned char>(s[at + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string markup_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '~') {
      out += "~(~)";
      ++i;
    } else if (c >= 0x20 && c < 0x7F) {
      out += char(c);
      ++i;
    } else {
      uint32_t cp = c;
      size_t n = c >= 0x80 ? utf8_decode(text, i, cp) : 0;
      if (n == 0) {
        cp = c;
        n = 1;
      }
      out += "~(%" + std::to_string(cp) + ")";
      i += n;
    }
  }
  return out;
}
