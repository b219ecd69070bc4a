// Plain text spliced into mark-up: escaped so that it reads back as typed.
#include <gtest/gtest.h>

#include <string>

#include "qlm_parser_vormcode_escape.h"

namespace {

TEST(MarkupEscape, Table) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"C:\\plain path\\a.exe", "C:\\plain path\\a.exe"},
      {"~", "~(~)"},
      {"a~<b>~\\c", "a~(~)<b>~(~)\\c"},
      {"caf\xC3\xA9", "caf~(%233)"},
      {"\xE2\x82\xAC \xF0\x9F\x98\x80", "~(%8364) ~(%128512)"},
      {"\xFF\xC3", "~(%255)~(%195)"},             // not UTF-8: byte values
      {"\xC0\xAF", "~(%192)~(%175)"},             // an overlong form is no character
      {"\xED\xA0\x80", "~(%237)~(%160)~(%128)"},  // a surrogate neither
      {"a\tb\x7F", "a~(%9)b~(%127)"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(markup_escape(c.in), c.out) << c.in;
}

}  // namespace
