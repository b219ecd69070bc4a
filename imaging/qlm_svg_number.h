// SVG's number grammar, shared by the attribute, transform and path readers:
//   number ::= [+-] (digits ["." digits*] | "." digits) [(e|E) [+-] digits]
// An "e" that no digit follows is not part of the number ("1e" is 1 and the
// letter), so the readers see it as the next character.
#pragma once

#include <charconv>
#include <cstddef>
#include <string_view>

#include "qlm_base_util.h"

namespace svg_number {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// XML's white space: blank, tab, carriage return, line feed.
inline bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Whether a number can start at text[i].
inline bool starts(std::string_view text, size_t i) {
  if (i >= text.size()) return false;
  const char c = text[i];
  if (is_digit(c)) return true;
  if (c == '.') return i + 1 < text.size() && is_digit(text[i + 1]);
  if (c == '+' || c == '-') return starts(text, i + 1) && text[i + 1] != '+' && text[i + 1] != '-';
  return false;
}

// The end of the number that starts at text[i]; i itself when none does.
inline size_t scan(std::string_view text, size_t i) {
  if (!starts(text, i)) return i;
  const size_t n = text.size();
  size_t k = i;
  if (text[k] == '+' || text[k] == '-') ++k;
  while (k < n && is_digit(text[k])) ++k;
  if (k < n && text[k] == '.') {
    ++k;
    while (k < n && is_digit(text[k])) ++k;
  }
  if (k < n && (text[k] == 'e' || text[k] == 'E')) {
    size_t e = k + 1;
    if (e < n && (text[e] == '+' || text[e] == '-')) ++e;
    if (e < n && is_digit(text[e])) {
      while (e < n && is_digit(text[e])) ++e;
      k = e;
    }
  }
  return k;
}

// The value of a run that scan found (or of any text): the number, and 0 for
// a run that does not convert completely or lies outside the 64-bit integer
// range, as the framework's own conversion (type 12) answers.
inline double value(std::string_view run) {
  if (!run.empty() && run.front() == '+') run.remove_prefix(1);
  double v = 0;
  const char* first = run.data();
  const char* last = first + run.size();
  auto r = std::from_chars(first, last, v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != last) return 0;
  static const double high = range_high(cnTypeRealInt64);
  static const double low = range_low(cnTypeRealInt64);
  if (v > high || v < low) return 0;
  return v;
}

// An attribute's number: white space, one number, an optional "px" (user
// units), white space. Any other text (another unit, a percentage, two
// numbers) reads as 0.
inline double attribute(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && is_space(text[i])) ++i;
  const size_t end = scan(text, i);
  if (end == i) return 0;
  size_t k = end;
  if (k + 1 < n && text[k] == 'p' && text[k + 1] == 'x') k += 2;
  while (k < n && is_space(text[k])) ++k;
  return k == n ? value(text.substr(i, end - i)) : 0;
}

}  // namespace svg_number
