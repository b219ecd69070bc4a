// Text runs: merging, widening and ownership, as one table of operation
// sequences.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "qlm_encoding.h"
#include "richtext_support.h"

namespace {

using Op = std::function<void(cTextBits&)>;

// Text given as code points, through AddEncodedText.
Op text(std::u32string s) {
  return [s](cTextBits& bits) {
    cEncoding enc;
    ASSERT_GE(enc.AttachBuffer(s.data(), 4, int32_t(s.size() * 4), 0), 0);
    bits.AddEncodedText(&enc);
  };
}
Op chars(std::string s) {
  return [s](cTextBits& bits) { bits.AddCharString(s); };
}
Op nbsp(int32_t n) {
  return [n](cTextBits& bits) { bits.AddNoBreakSpaces(n); };
}
Op spaces(int32_t n) {
  return [n](cTextBits& bits) { bits.AddSpaces(n); };
}
Op breaks(int32_t n) {
  return [n](cTextBits& bits) { bits.AddLineBreaks(n); };
}
Op break_space() {
  return [](cTextBits& bits) { bits.AddBreakSpace(); };
}
Op style() {
  return [](cTextBits& bits) {
    auto list = std::make_unique<cPropertyEntries>();
    list->Add(std::make_unique<cPropertyStatus>(cnPropBold, true));
    bits.AddStyleSwitch(list);
    EXPECT_EQ(list, nullptr);
  };
}

struct Case {
  const char* name;
  std::vector<Op> ops;
  const char* runs;
};

TEST(TextBits, MergingAndWidening) {
  const Case cases[] = {
      {"text after text extends the run", {text(U"ab"), text(U"cd")}, "'abcd'"},
      {"no-break spaces stick to the text before and after", {text(U"ab"), nbsp(2), text(U"cd")}, "'ab\\xA0\\xA0cd'"},
      {"leading no-break spaces become blanks of an 8-bit run", {nbsp(2), text(U"cd")}, "'  cd'"},
      {"leading no-break spaces before an 8-bit string", {nbsp(2), chars("cd")}, "'  cd'"},
      {"leading no-break spaces before wide text", {nbsp(1), text(U"\u0394x")}, "W2' \\u0394x'"},
      {"no-break runs add up", {nbsp(1), nbsp(3)}, "~4"},
      {"no-break spaces after wide text", {text(U"\u0394"), nbsp(1)}, "W2'\\u0394\\xA0'"},
      {"spaces: 0 on an empty list counts 1, then adds", {spaces(0), spaces(0), spaces(3)}, "_4"},
      {"spaces after text start at 1", {text(U"a"), spaces(3)}, "'a' _1"},
      {"break space only after text", {text(U"a"), break_space(), break_space()}, "'a' _1"},
      {"break space after a line break, a style or nothing",
       {break_space(), breaks(1), break_space(), style(), break_space()},
       "/1 {b=1}"},
      {"line breaks add up", {breaks(1), breaks(2)}, "/3"},
      {"8-bit text widened by code point 300", {text(U"ab"), text(U"\u012C")}, "W2'ab\\u012C'"},
      {"an 8-bit string widened by wide text", {chars("ab"), text(U"\u012C"), chars("c")}, "W2'ab\\u012Cc'"},
      {"a code point above 65535 gives unit 4", {text(U"\U00011170")}, "W4'\\u11170'"},
      {"a wide run grows to unit 4", {text(U"\u0394"), text(U"\U00011170")}, "W4'\\u0394\\u11170'"},
      {"an empty string adds nothing", {chars("")}, ""},
      {"style switches separate text", {text(U"a"), style(), text(U"b")}, "'a' {b=1} 'b'"},
      {"counts saturate", {breaks(INT32_MAX), breaks(5)}, "/2147483647"},
  };
  for (const Case& c : cases) {
    cTextBits bits;
    for (const Op& op : c.ops) op(bits);
    EXPECT_EQ(richtest::describe(bits), c.runs) << c.name;
  }
}

TEST(TextBits, HelpersWithoutTranslator) {
  cTextBits bits;
  EXPECT_EQ(bits.Translator(), nullptr);
  EXPECT_EQ(bits.UnitWidthOfString("a\xFF"), 1);
  EXPECT_EQ(bits.TranslateString("a\xA0"), "a\xA0");
  const std::u32string wide = U"a\u0100";
  cEncoding enc;
  ASSERT_GE(enc.AttachBuffer(wide.data(), 4, int32_t(wide.size() * 4), 0), 0);
  EXPECT_EQ(bits.UnitWidthOfEncoding(&enc), 2);
}

}  // namespace

TEST(TextBits, TakeOverMovesTheRunsAndTheirWordEnds) {
  const std::vector<std::vector<Op>> cases = {
      {},
      {chars("ab")},
      {style(), chars("ab")},
      {spaces(1), chars("ab")},
      {nbsp(2)},
      {chars("ab"), spaces(1), chars("cd"), style(), text(U"\u0394"), breaks(2), chars("e")},
  };
  for (const auto& ops : cases) {
    cTextBits from;
    for (const Op& op : ops) op(from);
    const std::string before = richtest::describe(from);
    const rTextBit* second = from.First() != nullptr ? from.First()->next : nullptr;
    if (from.First() != nullptr) from.First()->word_end = from.First();
    cTextBits to;
    to.AddCharString("dropped");
    to.TakeOver(from);
    EXPECT_EQ(from.First(), nullptr);
    EXPECT_EQ(from.Last(), nullptr);
    EXPECT_EQ(richtest::describe(from), "");
    EXPECT_EQ(richtest::describe(to), before);
    if (to.First() == nullptr) continue;
    EXPECT_EQ(to.First()->word_end, to.First()) << before;
    EXPECT_EQ(to.First()->next, second) << "later runs stay where they are: " << before;
    const rTextBit* last = to.First();
    while (last->next != nullptr) last = last->next;
    EXPECT_EQ(to.Last(), last) << before;
    to.AddCharString("z");  // appends after the moved runs
    EXPECT_EQ(richtest::describe(to).back(), '\'');
  }
}
