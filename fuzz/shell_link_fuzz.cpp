// libFuzzer target: the link-file reader on any bytes. Every input ends with
// an answer: a refusal gives a reason, and a link that parses has texts of
// valid UTF-8 where it stores them in UTF-16 (the string data of a link
// flagged Unicode); code-page texts stay as bytes. (The target is not
// checked: the code-page common path suffix is appended to it even after a
// Unicode base path.)
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plat_shell_link.h"

namespace {

bool valid_utf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  plat::ShellLinkData link;
  std::string error;
  if (!plat::shell_link_parse(bytes, link, error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  if ((link.flags & plat::kLinkIsUnicode) != 0)
    for (const std::string* text :
         {&link.description, &link.relative_path, &link.working_dir, &link.arguments, &link.icon_location})
      if (!valid_utf8(*text)) std::abort();
  return 0;
}
