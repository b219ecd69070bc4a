#include "qlm_parser_vormcode_escape.h"

#include <cstdint>

#include "plat_utf8.h"

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
      size_t n = c >= 0x80 ? plat::utf8_decode(text, i, cp) : 0;
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
