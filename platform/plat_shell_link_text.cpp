#include "plat_shell_link_text.h"

namespace plat::link_text {

bool utf8_to_utf16(const std::string& in, std::u16string& out) {
  out.clear();
  size_t i = 0;
  while (i < in.size()) {
    const unsigned char b = (unsigned char)in[i];
    char32_t cp = 0;
    size_t extra = 0;
    if (b < 0x80) {
      cp = b;
    } else if (b >= 0xC2 && b <= 0xDF) {
      cp = b & 0x1Fu, extra = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      cp = b & 0x0Fu, extra = 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      cp = b & 0x07u, extra = 3;
    } else {
      return false;
    }
    if (in.size() - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char c = (unsigned char)in[i + k];
      if ((c & 0xC0u) != 0x80u) return false;
      cp = (cp << 6) | (c & 0x3Fu);
    }
    // Overlong three- and four-byte forms, surrogates, beyond U+10FFFF.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
    i += extra + 1;
  }
  return true;
}

bool utf16_to_utf8(const std::u16string& in, std::string& out) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (char32_t(in[i + 1]) - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out.push_back(char(cp));
    } else if (cp < 0x800) {
      out.push_back(char(0xC0 | (cp >> 6)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(char(0xE0 | (cp >> 12)));
      out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (cp >> 18)));
      out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    }
  }
  return true;
}

}  // namespace plat::link_text
