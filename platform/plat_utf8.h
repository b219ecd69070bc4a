// Decoding one UTF-8 sequence: the one reader of multi-byte characters that
// the install log, the shell helpers, the PDF writer and the link files share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace plat {

// The length (2 to 4) of the multi-byte sequence at `at` and its code point
// in `cp`; 0 when the byte there is ASCII or cannot lead a sequence (C0, C1,
// F5 to FF, a continuation byte), or the sequence is cut short by the end of
// the text or by a byte that cannot continue it. Overlong forms, surrogates
// and values beyond U+10FFFF pass: utf8_decode refuses them.
size_t utf8_sequence(std::string_view s, size_t at, uint32_t& cp);

// utf8_sequence for well-formed UTF-8 only: 0 also for an overlong form, a
// surrogate or a value beyond U+10FFFF.
size_t utf8_decode(std::string_view s, size_t at, uint32_t& cp);

}  // namespace plat
