#include <gtest/gtest.h>

#include <string>

#include "plat_utf8.h"

// Each row: the bytes from `at` on, what utf8_sequence answers (its length,
// 0 for none) and what utf8_decode answers, with the code point when it
// answers a length.
struct rUtf8Case {
  const char* name;
  std::string bytes;
  size_t sequence;
  size_t decoded;
  uint32_t cp;
};

TEST(Utf8, SequenceAndDecodeOverTheEdges) {
  const rUtf8Case cases[] = {
      {"ascii", "A", 0, 0, 0},
      {"two bytes", "\xC3\xA9", 2, 2, 0xE9},
      {"three bytes", "\xE2\x82\xAC", 3, 3, 0x20AC},
      {"four bytes", "\xF0\x9F\x98\x80", 4, 4, 0x1F600},
      {"last code point", "\xF4\x8F\xBF\xBF", 4, 4, 0x10FFFF},
      {"C0 never leads", "\xC0\x80", 0, 0, 0},
      {"F5 never leads", "\xF5\x80\x80\x80", 0, 0, 0},
      {"continuation alone", "\x80", 0, 0, 0},
      {"cut by the end", "\xE2\x82", 0, 0, 0},
      {"cut by a byte", "\xE2\x41\xAC", 0, 0, 0},
      {"overlong three", "\xE0\x80\x80", 3, 0, 0},
      {"overlong four", "\xF0\x80\x80\x80", 4, 0, 0},
      {"surrogate", "\xED\xA0\x80", 3, 0, 0},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", 4, 0, 0},
  };
  for (const rUtf8Case& c : cases) {
    SCOPED_TRACE(c.name);
    // After a prefix, so that `at` is honoured and the end is the text's.
    const std::string text = "xy" + c.bytes;
    uint32_t cp = 0;
    EXPECT_EQ(plat::utf8_sequence(text, 2, cp), c.sequence);
    cp = 0;
    EXPECT_EQ(plat::utf8_decode(text, 2, cp), c.decoded);
    if (c.decoded != 0) {
      EXPECT_EQ(cp, c.cp);
    }
  }
}
