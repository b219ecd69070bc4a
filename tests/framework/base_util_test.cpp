#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "qlm_base_util.h"

using namespace std::string_literals;

TEST(BaseUtil, TrimsCaseAndQuoting) {
  EXPECT_EQ(string_trim("  a  b  "), "a  b");
  EXPECT_EQ(string_trim("     "), "");
  EXPECT_EQ(string_trim("\ta \0"s), "\ta \0"s);  // tabs and NULs are ordinary
  EXPECT_EQ(string_trim_right("ab\0 "s), "ab");
  EXPECT_EQ(string_trim_right(" a\0b \0"s), " a\0b"s);
  EXPECT_EQ(string_upper("abc\xe9z\0q"s), "ABC\xe9Z\0Q"s);  // ASCII letters only
  EXPECT_EQ(string_trim_upper("Name \0 "s), "NAME");
  EXPECT_EQ(string_remove_char("a-b--c", '-'), "abc");
  EXPECT_EQ(string_double_quotes("say \"hi\""), "say \"\"hi\"\"");
  EXPECT_EQ(string_add_backslash(""), "");
  EXPECT_EQ(string_add_backslash("C:\\x"), "C:\\x\\");
  EXPECT_EQ(string_add_backslash("C:\\x\\"), "C:\\x\\");
  EXPECT_EQ(string_fill('z', 3), "zzz");
  EXPECT_EQ(string_fill('z', 0), "");
  EXPECT_EQ(string_fill('z', -4), "");
  EXPECT_EQ(char_trim_upper("  ab c  "), "  AB C");
  EXPECT_EQ(char_trim_upper(nullptr), "");
  EXPECT_TRUE(char_is_empty(""));
  EXPECT_TRUE(char_is_empty(nullptr));
  EXPECT_FALSE(char_is_empty("x"));
}

TEST(BaseUtil, LongStringsAreWalkedWhole) {
  std::string s(300, 'a');
  s[150] = '-';
  s[299] = 'b';
  EXPECT_EQ(string_trim("  " + s + "  "), s);
  EXPECT_EQ(string_upper(s).substr(290), "AAAAAAAAAB");
  EXPECT_EQ(string_remove_char(s, '-').size(), 299u);
}

TEST(BaseUtil, Grouping) {
  EXPECT_EQ(string_group_thousands("1234567", false), "1,234,567");
  EXPECT_EQ(string_group_thousands("1234567", true), "1.234.567");
  EXPECT_EQ(string_group_thousands("123", false), "123");
  EXPECT_EQ(string_group_thousands("", false), "");
  EXPECT_EQ(string_group_by_four("12345"), "1 2345");
  EXPECT_EQ(string_group_by_four("12345678"), "1234 5678");
}

TEST(BaseUtil, NulTerminatedHelpers) {
  EXPECT_EQ(char_length(nullptr), 0);
  EXPECT_EQ(char_length("abc"), 3);
  EXPECT_EQ(widechar_length(u"abcd"), 4);
  EXPECT_EQ(widechar_length(nullptr), 0);
  const int32_t full[] = {0x1F600, 65, 0};
  EXPECT_EQ(fullchar_length(full), 2);
  EXPECT_EQ(fullchar_length(nullptr), 0);

  char* copy = reinterpret_cast<char*>(1);
  EXPECT_TRUE(copy_char(nullptr, copy));
  EXPECT_EQ(copy, nullptr);
  ASSERT_TRUE(copy_char("hello", copy));
  EXPECT_STREQ(copy, "hello");
  EXPECT_TRUE(mem_free(copy));
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(string_from_char(nullptr), "");

  mem_alloc_fail_at(1);
  EXPECT_FALSE(copy_char("x", copy));
  EXPECT_EQ(copy, nullptr);
  mem_alloc_fail_at(0);
}

struct IntCase {
  uint16_t flags;
  uint32_t width;
  int64_t value;
  const char* text;
};

TEST(BaseUtil, IntToStr) {
  const IntCase cases[] = {
      {0, 0, 0, "0"},
      {cnFmtGroup, 0, -1234567, "-1,234,567"},
      {cnFmtGroup | cnFmtContinental, 0, 1234567, "1.234.567"},
      {cnFmtPad, 5, 42, "00042"},
      {cnFmtPad | cnFmtGroup, 6, 1234, "001,234"},
      {cnFmtPad, 3, -5, "-005"},
      {cnFmtPad, 2, 12345, "12345"},
      {0, 0, INT64_MIN, "-9223372036854775808"},
      {0, 0, INT64_MAX, "9223372036854775807"},
  };
  for (const auto& c : cases) EXPECT_EQ(int_to_str(c.flags, c.width, c.value), c.text) << c.value;
}

TEST(BaseUtil, IntToHex) {
  const IntCase cases[] = {
      {0, 0, -255, "-FF"},
      {cnFmtHex32, 0, -1, "FFFFFFFF"},
      {cnFmtHex32, 0, 0x1234567890, "34567890"},
      {cnFmtPad, 4, 10, "000A"},
      {cnFmtPad | cnFmtGroup, 8, 0xABCDE, "000A BCDE"},
      {0, 0, INT64_MIN, "-8000000000000000"},
      {0, 0, 0, "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(int_to_hex(c.flags, c.width, c.value), c.text) << c.value;
  EXPECT_EQ(int64_to_hex_bytes(0x0102030405060708ull), "0807060504030201");
}

struct FloatCase {
  uint8_t decimals;
  uint16_t flags;
  uint32_t width;
  double value;
  const char* text;
};

TEST(BaseUtil, FloatToStr) {
  const FloatCase cases[] = {
      {2, 0, 0, 3.14159, "3.14"},
      {0, 0, 0, 2.5, "2"},       // exact tie: to even
      {2, 0, 0, 0.125, "0.12"},  // exact binary tie: to even
      {2, 0, 0, 0.375, "0.38"},
      {2, 0, 0, -1.5, "-1.50"},
      {3, cnFmtContinental, 0, 1.5, "1.500"},  // flag 8 has no effect on the plain path
      {0, cnFmtAutoDecimals, 0, 1.25, "1.25"},
      {0, cnFmtAutoDecimals, 0, 3.0, "3"},
      {0, cnFmtAutoDecimals, 0, 0.123456, "0.1235"},
      {2, cnFmtPad, 0, 1.996, "2.00"},
      {2, cnFmtGroup, 0, 1234567.891, "1,234,567.89"},
      {2, cnFmtGroup | cnFmtContinental, 0, 1234567.891, "1.234.567,89"},
      {1, cnFmtPad, 4, -3.25, "-0003.2"},
      {0, cnFmtPad, 3, 7.6, "008"},
      {2, 0, 0, std::nan(""), "NAN"},
      {2, cnFmtAutoDecimals, 0, std::numeric_limits<double>::infinity(), "INF"},
      {2, cnFmtPad, 0, -std::numeric_limits<double>::infinity(), "-INF"},
      {2, cnFmtAutoDecimals | cnFmtPad, 0, std::nan(""), "NAN"},
  };
  for (const auto& c : cases) EXPECT_EQ(float_to_str(c.decimals, c.flags, c.width, c.value), c.text) << c.value;
  // Huge values finish and keep every digit.
  EXPECT_EQ(float_to_str(0, cnFmtAutoDecimals, 0, 1e20), "100000000000000000000");
  EXPECT_EQ(float_to_str(1, cnFmtPad, 0, 1e20), "100000000000000000000.0");
}

// A width is cut to cnFmtMaxWidth: a caller's 0xFFFFFFFF (a -1 gone
// unsigned) gives a bounded text instead of asking for 4 GiB.
TEST(BaseUtil, HugeWidthsAreCut) {
  // The cut width's zeros, then the text.
  auto padded = [](std::string_view head, std::string_view text) {
    return std::string(head).append(cnFmtMaxWidth - 1, '0').append(text);
  };
  for (const uint32_t width : {cnFmtMaxWidth + 1, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(width);
    EXPECT_EQ(int_to_str(cnFmtPad, width, 0), padded("", "0"));
    EXPECT_EQ(int_to_str(cnFmtPad, width, -7), padded("-", "7"));
    EXPECT_EQ(int_to_hex(cnFmtPad, width, 0xA), padded("", "A"));
    EXPECT_EQ(float_to_str(1, cnFmtPad, width, 2.5), padded("", "2.5"));
    // Grouping works on the cut digits.
    EXPECT_EQ(int_to_str(cnFmtPad | cnFmtGroup, width, 1).size(), cnFmtMaxWidth + (cnFmtMaxWidth - 1) / 3);
  }
  EXPECT_EQ(int_to_str(cnFmtPad, cnFmtMaxWidth, 5), padded("", "5"));  // the cap itself is honoured
}

TEST(BaseUtil, BoolText) {
  EXPECT_EQ(bool_to_str(true, 8), "yes");
  EXPECT_EQ(bool_to_str(false, 8), "no");
  EXPECT_EQ(bool_to_str(true, 9), "on");
  EXPECT_EQ(bool_to_str(false, 9), "off");
  EXPECT_EQ(bool_to_str(true, 0), "true");
  EXPECT_EQ(bool_to_str(false, 77), "false");
  EXPECT_TRUE(string_to_bool("YES"));
  EXPECT_TRUE(string_to_bool("On"));
  EXPECT_TRUE(string_to_bool("true"));
  EXPECT_FALSE(string_to_bool(" yes"));
  EXPECT_FALSE(string_to_bool("yes "));
  EXPECT_FALSE(string_to_bool("1"));
}

struct ParseCase {
  const char* text;
  uint8_t type;
  uint8_t mode;
  int64_t value;
};

TEST(BaseUtil, StringToInt) {
  const ParseCase cases[] = {
      {"1 234", 0, 0, 1234},
      {"12abc3", 0, 0, 123},
      {"+17", 0, 0, 17},
      {"-42", 1, 0, -42},
      {"99999999999", 1, 0, 0},
      {"99999999999", 1, 10, 2147483647},
      {"-99999999999", 1, 10, -2147483648LL},
      {"-5", 4, 0, 0},
      {"-5", 4, 10, 0},
      {"300", 4, 10, 255},
      {"300", 4, 0, 0},
      {"-200", 3, 10, -128},
      {"70000", 6, 10, 65535},
      {"4294967295", 8, 0, 4294967295LL},
      {"", 0, 0, 0},
      {"abc", 0, 0, 0},
      {"-", 0, 0, 0},
      {"5-", 0, 0, 0},
      {"--5", 0, 0, 0},
      {"12345678901234567890", 0, 0, 0},  // beyond 64 bits: conversion fails
      {"-9223372036854775808", 9, 10, INT64_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(string_to_int(c.text, c.type, c.mode), c.value) << c.text;
}

TEST(BaseUtil, HexToInt) {
  const ParseCase cases[] = {
      {"ff", 0, 0, 255},
      {"-1F", 0, 0, -31},
      {"1 F", 0, 0, 31},
      {"0x1F", 0, 0, 0},
      {"", 0, 0, 0},
      {"FG", 0, 0, 0},
      {"-", 0, 0, 0},
      {"FFFFFFFF", 1, 0, 0},
      {"FFFFFFFF", 1, 4, -1},
      {"FFFFFFFF", 1, 10, 2147483647},
      {"FFFFFFFFFFFFFFFF", 0, 0, -1},
      {"1FFFFFFFFFFFFFFFF", 0, 0, -1},  // modulo 2^64
      {"100", 4, 10, 255},
  };
  for (const auto& c : cases) EXPECT_EQ(hex_to_int(c.text, c.type, c.mode), c.value) << c.text;
}

TEST(BaseUtil, StringToFloat) {
  struct {
    const char* text;
    uint8_t type;
    uint16_t flags;
    double value;
  } cases[] = {
      {"  -1.5e3", 0, 0, -1500},
      {"1.5x", 0, 0, 0},
      {"1e10", 11, 0, 0},
      {"1e10", 11, 4, 2147483647.0},
      {"-1e10", 11, 4, -2147483648.0},
      {"1e30", 12, 4, 9223372036854775808.0},
      {"1e10", 0, 0, 1e10},
      {"1,234.5", 0, 0, 1234.5},
      {"1.234,5", 0, 0, 1234.5},
      {"3,75", 0, 0, 3.75},
      {"1,234,567", 0, 0, 1234567},
      {"1,5", 0, 8, 1.5},
      {"+5", 0, 0, 0},  // a leading "+" is not a number start
      {"5e+2", 0, 0, 500},
      {"", 0, 0, 0},
      {"   ", 0, 0, 0},
      {"inf", 0, 0, 0},
      {"1e999", 0, 0, 0},
      {"1 000", 0, 0, 1000},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(string_to_float(c.text, c.type, c.flags), c.value) << c.text;
  EXPECT_EQ(range_high(11), 2147483647.0);
  EXPECT_EQ(range_low(12), -9223372036854775808.0);
  EXPECT_EQ(range_high(3), 0);
}

TEST(BaseUtil, BufferComparisons) {
  EXPECT_LT(buf_compare("abc", 3, "ABD", 3, cnFmtIgnoreCase), 0);
  EXPECT_EQ(buf_compare("ab", 2, "abc", 3, 0), -1);
  EXPECT_EQ(buf_compare("abc", 3, "ab", 2, 0), 1);
  EXPECT_EQ(buf_compare("abc", 3, "abc", 3, 0), 0);
  EXPECT_GT(buf_compare("b", 1, "a", 1, 0), 0);
  EXPECT_EQ(buf_compare(nullptr, 3, "abc", 3, 0), 0);
  EXPECT_GT(buf_compare("\xff", 1, "a", 1, 0), 0);  // bytes compare unsigned

  EXPECT_TRUE(buf_equal("aBc", 3, "AbC", 3, cnFmtIgnoreCase));
  EXPECT_FALSE(buf_equal("aBc", 3, "AbC", 3, 0));
  EXPECT_FALSE(buf_equal("abc", 3, "abcd", 4, 0));
  EXPECT_TRUE(buf_equal(nullptr, 0, nullptr, -1 + 1, 0));
  EXPECT_TRUE(buf_equal("x", -2, "y", -2, 0));
  EXPECT_FALSE(buf_equal(nullptr, 2, "ab", 2, 0));

  EXPECT_TRUE(buf_equal_char("abc", 3, "abc", 0));
  EXPECT_TRUE(buf_equal_char("ABC", 3, "abc", cnFmtIgnoreCase));
  EXPECT_FALSE(buf_equal_char("abc", 3, "abcd", 0));
  EXPECT_FALSE(buf_equal_char("abcd", 4, "abc", 0));
  EXPECT_FALSE(buf_equal_char("abc", 0, "", 0));
  EXPECT_FALSE(buf_equal_char(nullptr, 3, "abc", 0));
}

TEST(BaseUtil, Numbers) {
  EXPECT_TRUE(float_equal(0.1 + 0.2, 0.3));
  EXPECT_FALSE(float_equal(1.0, 1.0 + 1e-13));
  EXPECT_EQ(float_power(2, 0), 1);
  EXPECT_EQ(float_power(0, 3), 0);
  EXPECT_EQ(float_power(0, 0), 1);
  EXPECT_NEAR(float_power(2, 10), 1024, 1e-9);
  EXPECT_EQ(swap32(0x11223344u), 0x44332211u);
  EXPECT_EQ(swap16(0xAABB1234u), 0x3412u);
  EXPECT_EQ(int_clamp(5, 0, 3), 3);
  EXPECT_EQ(int_clamp(-5, 0, 3), 0);
  EXPECT_EQ(int_clamp(2, 0, 3), 2);
  EXPECT_EQ(int_clamp(5, 10, 3), 3);  // high is tested first
}

TEST(BaseUtil, Rectangles) {
  rRect r = rRect::Construct(9, 5, 1, 2);  // x1, y1, x2, y2
  EXPECT_EQ(r.y1, 5);
  EXPECT_EQ(r.x1, 9);
  rRect n = rect_normalize(r);
  EXPECT_EQ(n, rRect::Construct(1, 2, 9, 5));

  rRectD a = rRectD::Construct();
  a.x1 = 0, a.y1 = 0, a.x2 = 10, a.y2 = 10;
  rRectD touching = a;
  touching.x1 = 10, touching.x2 = 20;
  rRectD c = a;
  EXPECT_FALSE(c.Clip(touching));
  rRectD overlap = a;
  overlap.x1 = 5, overlap.y1 = 2, overlap.x2 = 15, overlap.y2 = 8;
  c = a;
  EXPECT_TRUE(c.Clip(overlap));
  EXPECT_EQ(c.x1, 5);
  EXPECT_EQ(c.x2, 10);
  EXPECT_EQ(c.y1, 2);
  EXPECT_EQ(c.y2, 8);
}

TEST(BaseUtil, Memory) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_FALSE(mem_alloc(p, 0));
  EXPECT_EQ(p, nullptr);
  EXPECT_FALSE(mem_alloc(p, -1));
  EXPECT_FALSE(mem_alloc(p, int64_t(1) << 31));
  EXPECT_EQ(p, nullptr);
  ASSERT_TRUE(mem_alloc(p, 16));
  EXPECT_TRUE(mem_free(p));
  EXPECT_EQ(p, nullptr);
  EXPECT_FALSE(mem_free(p));

  // The fault seam fails exactly the k-th allocation (or all from k on).
  mem_alloc_fail_at(2);
  void* a = nullptr;
  void* b = nullptr;
  void* c = nullptr;
  EXPECT_TRUE(mem_alloc(a, 8));
  EXPECT_FALSE(mem_alloc(b, 8));
  EXPECT_TRUE(mem_alloc(c, 8));
  mem_free(a);
  mem_free(c);
  mem_alloc_fail_at(1, true);
  EXPECT_FALSE(mem_alloc(a, 8));
  EXPECT_FALSE(mem_alloc(a, 8));
  mem_alloc_fail_at(0);
  EXPECT_TRUE(mem_alloc(a, 8));
  mem_free(a);
  no_op();
}
