#include "qlm_base_util.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Groups `digits` with `sep` after every `group`-th character from the right.
std::string group_digits(std::string_view digits, size_t group, char sep) {
  std::string out;
  out.reserve(digits.size() + digits.size() / group);
  const size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % group == 0) out.push_back(sep);
    out.push_back(digits[i]);
  }
  return out;
}

std::string pad_left(std::string digits, uint32_t width) {
  width = std::min(width, cnFmtMaxWidth);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

std::string unsigned_to_decimal(uint64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string unsigned_to_hex(uint64_t v) {
  char buf[20];
  char* p = buf + sizeof buf;
  do {
    *--p = kHexDigits[v & 15];
    v >>= 4;
  } while (v != 0);
  return std::string(p, buf + sizeof buf);
}

bool is_hex_digit(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

std::atomic<int64_t> g_alloc_count{0};
std::atomic<int64_t> g_fail_at{0};
std::atomic<bool> g_fail_sticky{false};

}  // namespace

// ---------------------------------------------------------------------------
// Rectangles

bool rRectD::Clip(const rRectD& other) {
  if (other.x2 < x2) x2 = other.x2;
  if (other.y2 < y2) y2 = other.y2;
  if (other.x1 > x1) x1 = other.x1;
  if (other.y1 > y1) y1 = other.y1;
  return IsValid();
}

rRect rect_normalize(const rRect& s) {
  rRect r;
  r.y1 = s.y1 < s.y2 ? s.y1 : s.y2;
  r.y2 = s.y1 < s.y2 ? s.y2 : s.y1;
  r.x1 = s.x1 < s.x2 ? s.x1 : s.x2;
  r.x2 = s.x1 < s.x2 ? s.x2 : s.x1;
  return r;
}

// ---------------------------------------------------------------------------
// NUL-terminated strings

int32_t char_length(const char* text) {
  if (text == nullptr) return 0;
  return int32_t(std::strlen(text));
}

int32_t widechar_length(const char16_t* text) {
  if (text == nullptr) return 0;
  int32_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

int32_t fullchar_length(const int32_t* text) {
  if (text == nullptr) return 0;
  int32_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

char* char_duplicate(const char* text) {
  if (text == nullptr) return nullptr;
  const size_t n = std::strlen(text) + 1;
  char* block = nullptr;
  if (!mem_alloc(block, int64_t(n))) return nullptr;
  std::memcpy(block, text, n);
  return block;
}

bool copy_char(const char* text, char*& copy) {
  copy = nullptr;
  if (text == nullptr) return true;
  copy = char_duplicate(text);
  return copy != nullptr;
}

std::string string_from_char(const char* text) { return text == nullptr ? std::string() : std::string(text); }

bool char_is_empty(const char* text) { return text == nullptr || text[0] == 0; }

std::string char_trim_upper(const char* text) {
  if (text == nullptr) return {};
  std::string_view v(text);
  size_t end = v.size();
  while (end > 0 && v[end - 1] == ' ') --end;
  std::string out(v.substr(0, end));
  for (char& c : out) c = char(upper_byte(c));
  return out;
}

// ---------------------------------------------------------------------------
// String transformations

std::string string_fill(char c, int32_t count) {
  if (count <= 0) return {};
  return std::string(size_t(count), c);
}

std::string string_trim_right(std::string_view s) {
  size_t end = s.size();
  while (end > 0 && (s[end - 1] == ' ' || s[end - 1] == '\0')) --end;
  return std::string(s.substr(0, end));
}

std::string string_trim(std::string_view s) {
  size_t begin = 0, end = s.size();
  while (begin < end && s[begin] == ' ') ++begin;
  while (end > begin && s[end - 1] == ' ') --end;
  return std::string(s.substr(begin, end - begin));
}

std::string string_remove_char(std::string_view s, char c) {
  std::string out;
  out.reserve(s.size());
  for (char x : s)
    if (x != c) out.push_back(x);
  return out;
}

std::string string_upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(upper_byte(c));
  return out;
}

std::string string_trim_upper(std::string_view s) { return string_upper(string_trim_right(s)); }

std::string string_double_quotes(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  return out;
}

std::string string_add_backslash(std::string_view s) {
  std::string out(s);
  if (!out.empty() && out.back() != '\\') out.push_back('\\');
  return out;
}

std::string string_group_thousands(std::string_view digits, bool dot) {
  return group_digits(digits, 3, dot ? '.' : ',');
}

std::string string_group_by_four(std::string_view digits) { return group_digits(digits, 4, ' '); }

// ---------------------------------------------------------------------------
// Formatting

std::string int_to_str(uint16_t flags, uint32_t width, int64_t value) {
  const bool negative = value < 0;
  const uint64_t magnitude = negative ? 0 - uint64_t(value) : uint64_t(value);
  std::string digits = unsigned_to_decimal(magnitude);
  if (flags & cnFmtPad) digits = pad_left(std::move(digits), width);
  if (flags & cnFmtGroup) digits = string_group_thousands(digits, (flags & cnFmtContinental) != 0);
  return negative ? "-" + digits : digits;
}

std::string int_to_hex(uint16_t flags, uint32_t width, int64_t value) {
  bool negative = false;
  uint64_t magnitude;
  if (flags & cnFmtHex32) {
    magnitude = uint64_t(value) & 0xFFFFFFFFu;
  } else {
    negative = value < 0;
    magnitude = negative ? 0 - uint64_t(value) : uint64_t(value);
  }
  std::string digits = unsigned_to_hex(magnitude);
  if (flags & cnFmtPad) digits = pad_left(std::move(digits), width);
  if (flags & cnFmtGroup) digits = string_group_by_four(digits);
  return negative ? "-" + digits : digits;
}

std::string int64_to_hex_bytes(uint64_t value) {
  std::string out;
  out.reserve(16);
  for (int i = 0; i < 8; ++i) out += int_to_hex(cnFmtPad, 2, int64_t((value >> (8 * i)) & 0xFF));
  return out;
}

// Real formatting. Fixed notation comes from std::to_chars, which writes the
// exact decimal value of the double rounded to the requested decimals, ties
// to even (0.125 with 2 decimals gives "0.12"; 0.375 gives "0.38").
std::string float_to_str(uint8_t decimals, uint16_t flags, uint32_t width, double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  const bool negative = !(value >= 0);
  const double magnitude = negative ? -value : value;

  if (flags & cnFmtAutoDecimals) {
    // The fewest decimals (0..4) that show the magnitude rounded to 4
    // decimals without loss.
    double a = std::nearbyint(magnitude * 10000.0);
    decimals = 0;
    while (decimals < 4) {
      double q = a / 10000.0;
      if (float_equal(q - std::trunc(q), 0)) break;
      a = std::nearbyint(a * 10.0);
      ++decimals;
    }
  }

  char buf[400];
  if (!(flags & (cnFmtPad | cnFmtGroup))) {
    auto r = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::fixed, int(decimals));
    std::string text(buf, r.ptr);
    return negative ? "-" + text : text;
  }

  // Round to 4 decimals, then to the requested decimals; a carry reaches the
  // integer part. Very large magnitudes are already whole numbers.
  double rounded = magnitude;
  if (magnitude < 1e15) {
    rounded = std::nearbyint(magnitude * 10000.0) / 10000.0;
    if (decimals < 15) {
      const double scale = std::pow(10.0, decimals);
      rounded = std::nearbyint(rounded * scale) / scale;
    }
  }
  auto r = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed, int(decimals));
  std::string_view text(buf, size_t(r.ptr - buf));
  const size_t point = text.find('.');
  std::string digits(text.substr(0, point));
  if (flags & cnFmtPad) digits = pad_left(std::move(digits), width);
  if (flags & cnFmtGroup) digits = string_group_thousands(digits, (flags & cnFmtContinental) != 0);
  std::string out = negative ? "-" + digits : digits;
  if (decimals > 0 && point != std::string_view::npos) {
    out.push_back((flags & cnFmtContinental) ? ',' : '.');
    out.append(text.substr(point + 1));
  }
  return out;
}

std::string bool_to_str(bool value, uint8_t style) {
  switch (style) {
    case 8: return value ? "yes" : "no";
    case 9: return value ? "on" : "off";
    default: return value ? "true" : "false";
  }
}

// ---------------------------------------------------------------------------
// Parsing

int64_t int_clamp_to_type(uint8_t type, uint8_t mode, int64_t value) {
  int64_t lo, hi;
  bool is_unsigned = false;
  switch (type) {
    // clang-format off
    case 1: case 7: lo = INT32_MIN; hi = INT32_MAX; break;
    case 2: case 8: lo = 0; hi = UINT32_MAX; is_unsigned = true; break;
    case 3: lo = INT8_MIN; hi = INT8_MAX; break;
    case 4: lo = 0; hi = UINT8_MAX; is_unsigned = true; break;
    case 5: lo = INT16_MIN; hi = INT16_MAX; break;
    case 6: lo = 0; hi = UINT16_MAX; is_unsigned = true; break;
    // clang-format on
    default: return value;
  }
  const bool saturate = mode == cnClampSaturate;
  if (value > hi) return saturate ? hi : 0;
  if (value < lo) return (saturate && !is_unsigned) ? lo : 0;
  return value;
}

int64_t string_to_int(std::string_view s, uint8_t type, uint8_t mode) {
  std::string kept;
  kept.reserve(s.size());
  for (char c : s)
    if (c == '-' || (c >= '0' && c <= '9')) kept.push_back(c);
  int64_t value = 0;
  const char* first = kept.data();
  const char* last = first + kept.size();
  auto r = std::from_chars(first, last, value);
  if (kept.empty() || r.ec != std::errc() || r.ptr != last) return 0;
  return int_clamp_to_type(type, mode, value);
}

int64_t hex_to_int(std::string_view s, uint8_t type, uint8_t mode) {
  std::string t;
  t.reserve(s.size());
  for (char c : s)
    if (c != ' ') t.push_back(char(upper_byte(c)));
  uint64_t value = 0;
  if (!t.empty() && is_hex_digit(uint8_t(t.back()))) {
    const bool negative = t[0] == '-';
    const size_t start = negative ? 1 : 0;
    bool valid = true;
    uint64_t place = 1;
    for (size_t i = t.size(); i > start; --i) {
      const uint8_t c = uint8_t(t[i - 1]);
      if (!is_hex_digit(c)) {
        valid = false;
        break;
      }
      const uint64_t digit = c <= '9' ? uint64_t(c - '0') : uint64_t(c - 'A' + 10);
      value += digit * place;  // modulo 2^64 beyond 16 digits
      place *= 16;
    }
    if (!valid)
      value = 0;
    else if (negative)
      value = 0 - value;
  }
  int64_t result = int64_t(value);
  if (mode == cnClampLow32) result = int32_t(uint32_t(value));
  return int_clamp_to_type(type, mode, result);
}

double range_high(uint8_t type) {
  if (type == cnTypeRealInt32) return 2147483647.0;
  if (type == cnTypeRealInt64) return 9223372036854775808.0;
  return 0;
}

double range_low(uint8_t type) {
  if (type == cnTypeRealInt32) return -2147483648.0;
  if (type == cnTypeRealInt64) return -9223372036854775808.0;
  return 0;
}

double string_to_float(std::string_view s, uint8_t type, uint16_t flags) {
  // Validation pass.
  bool in_number = false, comma_last = false;
  int commas = 0;
  for (char c : s) {
    if (!in_number) {
      if (c == ' ') continue;
      if (c == '-' || (c >= '0' && c <= '9')) {
        in_number = true;
        continue;
      }
      return 0;
    }
    if (c == ' ' || c == '+' || c == '-' || (c >= '0' && c <= '9') || c == 'E' || c == 'e') continue;
    if (c == '.') {
      comma_last = false;
      continue;
    }
    if (c == ',') {
      ++commas;
      comma_last = commas == 1;
      continue;
    }
    return 0;
  }
  if (!in_number) return 0;
  // Exactly one comma with no "." after it reads as a decimal comma.
  const bool comma_mode = (flags & cnFmtContinental) || comma_last;

  // Conversion pass.
  std::string text;
  text.reserve(s.size());
  for (char c : s) {
    if (c == ',') {
      if (comma_mode) text.push_back('.');
    } else if (c == '.') {
      if (!comma_mode) text.push_back('.');
    } else if (c != ' ') {
      text.push_back(c);
    }
  }
  double value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  auto r = std::from_chars(first, last, value, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != last) return 0;
  if (type == cnTypeRealInt32 || type == cnTypeRealInt64) {
    const bool clamp = (flags & cnFmtPad) != 0;
    if (value > range_high(type)) return clamp ? range_high(type) : 0;
    if (value < range_low(type)) return clamp ? range_low(type) : 0;
  }
  return value;
}

bool string_to_bool(std::string_view s) {
  const std::string u = string_upper(s);
  return u == "TRUE" || u == "ON" || u == "YES";
}

// ---------------------------------------------------------------------------
// Comparison and numbers

bool buf_equal(const void* a, int32_t len_a, const void* b, int32_t len_b, uint16_t flags) {
  if (len_a != len_b) return false;
  if (len_a <= 0) return true;
  if (a == nullptr || b == nullptr) return false;
  const uint8_t* pa = static_cast<const uint8_t*>(a);
  const uint8_t* pb = static_cast<const uint8_t*>(b);
  if (!(flags & cnFmtIgnoreCase)) return std::memcmp(pa, pb, size_t(len_a)) == 0;
  for (int32_t i = 0; i < len_a; ++i)
    if (gUpperCaseTable[pa[i]] != gUpperCaseTable[pb[i]]) return false;
  return true;
}

bool buf_equal_char(const void* buf, int32_t count, const char* text, uint16_t flags) {
  if (buf == nullptr || text == nullptr || count <= 0) return false;
  const uint8_t* p = static_cast<const uint8_t*>(buf);
  const bool fold = (flags & cnFmtIgnoreCase) != 0;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t t = uint8_t(text[i]);
    if (t == 0) return false;
    const uint8_t b = p[i];
    if (fold ? gUpperCaseTable[b] != gUpperCaseTable[t] : b != t) return false;
  }
  return text[count] == 0;
}

int32_t buf_compare(const void* a, int32_t len_a, const void* b, int32_t len_b, uint16_t flags) {
  if (a == nullptr || b == nullptr) return 0;
  const uint8_t* pa = static_cast<const uint8_t*>(a);
  const uint8_t* pb = static_cast<const uint8_t*>(b);
  const bool fold = (flags & cnFmtIgnoreCase) != 0;
  int64_t ra = len_a, rb = len_b;
  while (ra > 0 && rb > 0) {
    int32_t ca = *pa++, cb = *pb++;
    if (fold) {
      ca = gUpperCaseTable[size_t(ca)];
      cb = gUpperCaseTable[size_t(cb)];
    }
    if (ca != cb) return ca - cb;
    --ra;
    --rb;
  }
  const int64_t d = ra - rb;
  return d > INT32_MAX ? INT32_MAX : d < INT32_MIN ? INT32_MIN : int32_t(d);
}

bool float_equal(double a, double b) { return std::fabs(a - b) < 1e-14; }

double float_power(double base, double exponent) {
  if (exponent == 0) return 1;
  if (base == 0) return 0;
  return std::exp(exponent * std::log(base));
}

uint32_t swap32(uint32_t v) { return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24); }

uint32_t swap16(uint32_t v) { return ((v >> 8) & 0xFFu) | ((v & 0xFFu) << 8); }

int32_t int_clamp(int32_t value, int32_t low, int32_t high) {
  if (value > high) return high;
  if (value < low) return low;
  return value;
}

// ---------------------------------------------------------------------------
// Memory

bool mem_alloc(void*& block, int64_t size) {
  block = nullptr;
  if (size <= 0 || size >= (int64_t(1) << 31)) return false;
  const int64_t n = g_alloc_count.fetch_add(1) + 1;
  const int64_t fail_at = g_fail_at.load();
  if (fail_at > 0 && (n == fail_at || (g_fail_sticky.load() && n > fail_at))) return false;
  block = std::malloc(size_t(size));
  return block != nullptr;
}

bool mem_realloc(void*& block, int64_t size) {
  if (size <= 0 || size >= (int64_t(1) << 31)) return false;
  const int64_t n = g_alloc_count.fetch_add(1) + 1;
  const int64_t fail_at = g_fail_at.load();
  if (fail_at > 0 && (n == fail_at || (g_fail_sticky.load() && n > fail_at))) return false;
  void* grown = std::realloc(block, size_t(size));
  if (grown == nullptr) return false;
  block = grown;
  return true;
}

bool mem_free(void*& block) {
  if (block == nullptr) return false;
  std::free(block);
  block = nullptr;
  return true;
}

void no_op() {}

void mem_alloc_fail_at(int64_t k, bool sticky) {
  g_alloc_count.store(0);
  g_fail_sticky.store(sticky);
  g_fail_at.store(k);
}

int64_t mem_alloc_count() { return g_alloc_count.load(); }
