// String and number utilities of the base module: NUL-terminated string
// helpers, trimming, case mapping, quoting, number formatting and tolerant
// parsing, range clamps, buffer comparison, byte swaps, rectangles, and the
// raw memory routines through which the framework allocates blocks.
//
// Nothing here raises. 8-bit strings are std::string holding bytes (they may
// contain NUL). Number text never depends on the C locale.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// ---------------------------------------------------------------------------
// Case table: ASCII letters only; every other byte maps to itself.
constexpr std::array<uint8_t, 256> make_upper_case_table() {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) t[size_t(c)] = uint8_t(c >= 'a' && c <= 'z' ? c - 32 : c);
  return t;
}
inline constexpr std::array<uint8_t, 256> gUpperCaseTable = make_upper_case_table();

inline uint8_t upper_byte(char c) { return gUpperCaseTable[uint8_t(c)]; }

// ---------------------------------------------------------------------------
// Type codes for range checks.
constexpr uint8_t cnTypeNone = 0;
constexpr uint8_t cnTypeInt32 = 1;
constexpr uint8_t cnTypeUInt32 = 2;
constexpr uint8_t cnTypeInt8 = 3;
constexpr uint8_t cnTypeUInt8 = 4;
constexpr uint8_t cnTypeInt16 = 5;
constexpr uint8_t cnTypeUInt16 = 6;
constexpr uint8_t cnTypeInteger = 7;
constexpr uint8_t cnTypeCardinal = 8;
constexpr uint8_t cnTypeInt64 = 9;
constexpr uint8_t cnTypeUInt64 = 10;
constexpr uint8_t cnTypeRealInt32 = 11;
constexpr uint8_t cnTypeRealInt64 = 12;

// Clamp modes: 10 saturates; every other mode makes an out-of-range value 0.
// hex_to_int also knows mode 4 (low 32 bits read as signed).
constexpr uint8_t cnClampZero = 0;
constexpr uint8_t cnClampLow32 = 4;
constexpr uint8_t cnClampSaturate = 10;

// Formatting flags (bits may be combined).
constexpr uint16_t cnFmtGroup = 2;
constexpr uint16_t cnFmtPad = 4;  // also: clamp to bounds in string_to_float
constexpr uint16_t cnFmtContinental = 8;
constexpr uint16_t cnFmtHex32 = 16;
constexpr uint16_t cnFmtAutoDecimals = 128;
constexpr uint16_t cnFmtIgnoreCase = 0x800;

// ---------------------------------------------------------------------------
// Rectangles. Fields are stored y1, x1, x2, y2; Construct takes x1, y1, x2, y2.
// Build them through Construct (or by field name), never by position.
struct rRect {
  int32_t y1 = 0;
  int32_t x1 = 0;
  int32_t x2 = 0;
  int32_t y2 = 0;
  static rRect Construct(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    rRect r;
    r.x1 = x1;
    r.y1 = y1;
    r.x2 = x2;
    r.y2 = y2;
    return r;
  }
  bool operator==(const rRect&) const = default;
};

struct rRectD {
  double y1 = 0;
  double x1 = 0;
  double x2 = 0;
  double y2 = 0;
  static rRectD Construct() { return rRectD{}; }
  // Intersects in place with `other`; answers IsValid.
  bool Clip(const rRectD& other);
  bool IsValid() const { return x1 < x2 && y1 < y2; }
};

rRect rect_normalize(const rRect& source);

// ---------------------------------------------------------------------------
// NUL-terminated strings (nil counts as empty where a length is asked).
int32_t char_length(const char* text);
int32_t widechar_length(const char16_t* text);
int32_t fullchar_length(const int32_t* text);
// New block from mem_alloc holding the text and its NUL; nil for nil text or
// when memory fails. Release with mem_free.
char* char_duplicate(const char* text);
// copy := char_duplicate(text); nil text gives nil copy and true; false when
// memory fails.
bool copy_char(const char* text, char*& copy);
std::string string_from_char(const char* text);
// True when the first byte is NUL; a nil text counts as empty.
bool char_is_empty(const char* text);
// The text up to its last non-blank, upper-cased; nil gives the empty string.
std::string char_trim_upper(const char* text);

// ---------------------------------------------------------------------------
// String transformations. Each walks the whole input and returns a new string.
// A negative count gives the empty string. (A huge count builds a huge string:
// callers pass small counts.)
std::string string_fill(char c, int32_t count);
std::string string_trim_right(std::string_view s);  // trailing blanks and NULs
std::string string_trim(std::string_view s);        // leading and trailing blanks only
std::string string_remove_char(std::string_view s, char c);
std::string string_upper(std::string_view s);
std::string string_trim_upper(std::string_view s);
std::string string_double_quotes(std::string_view s);
std::string string_add_backslash(std::string_view s);
std::string string_group_thousands(std::string_view digits, bool dot);
std::string string_group_by_four(std::string_view digits);

// ---------------------------------------------------------------------------
// Formatting. The width counts digits only (never the sign) and is cut to
// cnFmtMaxWidth, so a width such as 0xFFFFFFFF never asks for gigabytes.
constexpr uint32_t cnFmtMaxWidth = 1024;
std::string int_to_str(uint16_t flags, uint32_t width, int64_t value);
std::string int_to_hex(uint16_t flags, uint32_t width, int64_t value);
std::string int64_to_hex_bytes(uint64_t value);
// Non-finite values give "NAN", "INF" or "-INF".
std::string float_to_str(uint8_t decimals, uint16_t flags, uint32_t width, double value);
std::string bool_to_str(bool value, uint8_t style);

// ---------------------------------------------------------------------------
// Parsing: none raises; unreadable text gives 0 or false.
int64_t string_to_int(std::string_view s, uint8_t type, uint8_t mode);
int64_t hex_to_int(std::string_view s, uint8_t type, uint8_t mode);
double string_to_float(std::string_view s, uint8_t type, uint16_t flags);
bool string_to_bool(std::string_view s);
double range_high(uint8_t type);
double range_low(uint8_t type);
int64_t int_clamp_to_type(uint8_t type, uint8_t mode, int64_t value);

// ---------------------------------------------------------------------------
// Comparison and numbers. A nil buffer with a positive length never matches.
bool buf_equal(const void* a, int32_t len_a, const void* b, int32_t len_b, uint16_t flags);
bool buf_equal_char(const void* buf, int32_t count, const char* text, uint16_t flags);
int32_t buf_compare(const void* a, int32_t len_a, const void* b, int32_t len_b, uint16_t flags);
bool float_equal(double a, double b);
double float_power(double base, double exponent);
uint32_t swap32(uint32_t v);
uint32_t swap16(uint32_t v);
int32_t int_clamp(int32_t value, int32_t low, int32_t high);

// ---------------------------------------------------------------------------
// Memory. mem_alloc: block := nil; for 0 < size < 2^31 a new block of that
// many bytes (malloc, so realloc may grow it); answers block != nil.
// mem_free: false for nil; else frees, sets nil and answers true.
bool mem_alloc(void*& block, int64_t size);
bool mem_free(void*& block);
// mem_realloc: for 0 < size < 2^31 resizes a block from mem_alloc (nil: a
// new one) in place where the allocator can, keeping its bytes up to the
// smaller size; answers true and sets block. On false the block stays as it
// was. Counts as an allocation for the test seam below.
bool mem_realloc(void*& block, int64_t size);
template <typename T>
bool mem_alloc(T*& block, int64_t size) {
  void* p = nullptr;
  bool ok = mem_alloc(p, size);
  block = static_cast<T*>(p);
  return ok;
}
template <typename T>
bool mem_free(T*& block) {
  void* p = const_cast<void*>(static_cast<const void*>(block));
  bool ok = mem_free(p);
  if (ok) block = nullptr;
  return ok;
}
void no_op();

// Test seam: make the k-th allocation from now (1 = the next one) fail; with
// `sticky` every allocation from the k-th on fails. 0 switches the seam off.
// Only tests call these.
void mem_alloc_fail_at(int64_t k, bool sticky = false);
// Counts allocations made through mem_alloc since the seam was last set.
int64_t mem_alloc_count();
