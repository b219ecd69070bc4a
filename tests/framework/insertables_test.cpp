#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qlm_encoding.h"

namespace {

// Everything the feed delivers with expansion on, up to the end.
std::vector<int32_t> expand(const std::string& text) {
  std::vector<int32_t> out;
  rCharFeed feed;
  for (int32_t c = feed_open_charstring(text, feed, true); c != errEncoding_NoDataAtThatPosition; c = feed_read(feed)) {
    out.push_back(c);
    if (out.size() > 1000) break;
  }
  EXPECT_EQ(feed_read(feed), errEncoding_NoDataAtThatPosition);
  feed_close(feed);
  return out;
}

std::vector<int32_t> cps(const std::string& text) { return std::vector<int32_t>(text.begin(), text.end()); }

}  // namespace

TEST(Insertables, Expansion) {
  struct {
    const char* input;
    std::vector<int32_t> reads;
  } cases[] = {
      {"a~(%65)b", {'a', 'A', 'b'}},
      {"~($41 $42)", {'A', 'B'}},
      {"~(nbsp)", {0xA0}},
      {"~(NBSP)", {0xA0}},
      {"~(nbsp;%65)", {0xA0, 'A'}},
      {"~(%65;%66)", {'A', 'B'}},
      {"~( %65 ; ; %66 )", {'A', 'B'}},
      {"~()", {}},
      {"~(\"\")x", {'x'}},
      {"~~", {'~', '~'}},
      {"abc~", {'a', 'b', 'c', '~'}},
      {"~x", {'~', 'x'}},
      {"~~(%65)", {'~', 'A'}},
      {"~(~)", {'~'}},
      {"~(\"a\"\"b\"+$41 %66)", {'a', '"', 'b', 'A', 'B'}},
      {"~($)", {0}},
      {"~(%2147483647)", {0x7FFFFFFF}},
      {"~($FFFFFFFF)", {0}},
      {"~(%65+)", {'A'}},
      {"~(\"open)", {'o', 'p', 'e', 'n'}},
      {"caf~(%233)", {'c', 'a', 'f', 233}},
  };
  for (const auto& c : cases) EXPECT_EQ(expand(c.input), c.reads) << c.input;
}

TEST(Insertables, FailedItemsAreDeliveredAsWritten) {
  struct {
    const char* input;
    const char* reads;
  } cases[] = {
      {"~(foo)x", "~(foo)x"},
      {"~( foo )x", "~(foo)x"},
      {"~($123456789)", "~($123456789)"},
      {"~(%12345678901)", "~(%12345678901)"},
      {"~(foo;%65)", "~(foo)A"},
      {"~(\")\")", "\")"},
      {"~(nbsp x)", "~(nbsp x)"},
      {"~(a<b>)", "~(a<b>)"},
      {"~(+$41)", "~(+$41)"},
      {"~($41++$42)", "~($41++$42)"},
      {"~($4G)", "~($4G)"},
      {"~(f(o;o))z", "~(f(o;o))z"},
  };
  for (const auto& c : cases) EXPECT_EQ(expand(c.input), cps(c.reads)) << c.input;
}

TEST(Insertables, UnclosedAndRawReads) {
  EXPECT_EQ(expand("x~(%65"), cps("x"));
  EXPECT_EQ(expand("x~( "), cps("x"));
  rCharFeed feed;
  std::string s = "~(%65)";
  std::vector<int32_t> raw;
  for (int32_t c = feed_open_charstring(s, feed, false); c >= 0; c = feed_read(feed)) raw.push_back(c);
  EXPECT_EQ(raw, cps(s));
  EXPECT_EQ(feed_rewind(feed), '~');
  const char16_t omega[] = {0x3A9, 0};
  EXPECT_EQ(feed_open_pwidechar(omega, feed, false), 937);
  const char16_t empty[] = {0};
  EXPECT_EQ(feed_open_pwidechar(empty, feed, true), errEncoding_NoDataAtThatPosition);
  const uint8_t block[10] = {};
  feed_open_buffer(block, 4, 10, feed, false);
  EXPECT_EQ(feed_length(feed), 2);
  feed_close(feed);
}

TEST(Insertables, AdoptionExpands) {
  cEncoding e;
  EXPECT_EQ(e.AdoptCharString("caf~(%233)", 0, true), 4);
  EXPECT_EQ(e.CodePageTag(), "~{cp<#ASCII>}");
  EXPECT_EQ(e.Get(4), 233);
  // `from` counts code points after expansion.
  EXPECT_EQ(e.AdoptCharString("~($41 $42)c", 1, true), 2);
  EXPECT_EQ(encoding_to_charstring(&e), "Bc");
  EXPECT_EQ(e.AdoptCharString("~($1F600)", 0, true), 1);
  EXPECT_EQ(e.CodePageTag(), "~{cp<#UCS-4>}");
}
