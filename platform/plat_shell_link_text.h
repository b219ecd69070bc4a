// UTF-8 and UTF-16 conversions of the shell-link writer and reader.
#pragma once
#include <string>

namespace plat::link_text {

// Strict conversions: false for ill-formed input (overlong forms,
// surrogates in UTF-8, unpaired surrogates in UTF-16, values beyond U+10FFFF).
bool utf8_to_utf16(const std::string& in, std::u16string& out);
bool utf16_to_utf8(const std::u16string& in, std::string& out);

}  // namespace plat::link_text
