#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qlm_encoding.h"
#include "qlm_encoding_blocks.h"

namespace {

// All code points of an encoding through Get.
std::vector<int32_t> points(cEncoding& e) {
  std::vector<int32_t> out;
  for (int32_t t = 1; t <= e.Length(); ++t) out.push_back(e.Get(t));
  return out;
}

std::string text8(cEncoding& e) { return encoding_to_charstring(&e); }

}  // namespace

TEST(Encoding, AttachedStringReadingRules) {
  std::string s = "hello";
  cEncoding e;
  EXPECT_EQ(e.Length(), errEncoding_NotAssociated);
  EXPECT_EQ(e.First(), errEncoding_NoDataAtThatPosition);
  ASSERT_EQ(e.AttachCharString(s, 0), 5);
  EXPECT_EQ(e.Get(1), 104);
  EXPECT_EQ(e.Next(), 101);
  EXPECT_EQ(e.Prev(), 101);
  EXPECT_EQ(e.Get(6), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(e.Get(0), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(e.Last(), 'o');
  EXPECT_EQ(e.Next(), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(e.First(), 'h');
  EXPECT_EQ(e.Prev(), 'h');
  EXPECT_EQ(e.Prev(), errEncoding_NoDataAtThatPosition);
  // GoTo: within, negative, beyond, zero.
  EXPECT_EQ(e.GoTo(3), 3);
  EXPECT_EQ(e.Next(), 'l');
  EXPECT_EQ(e.GoTo(-7), 1);
  EXPECT_EQ(e.GoTo(99), 5);
  EXPECT_EQ(e.Next(), 'o');
  EXPECT_EQ(e.GoTo(0), 0);
  EXPECT_EQ(e.Curr(), 0);
  EXPECT_EQ(e.Next(), 'h');  // before the first text point, Next reads the first

  ASSERT_EQ(e.AttachCharString(s, 2), 3);
  EXPECT_EQ(e.Get(1), 108);
  EXPECT_EQ(e.Modify(1, 'x'), errEncoding_DataWriteFailure);
  EXPECT_EQ(e.SetLength(1, 'x'), errEncoding_DataWriteFailure);
  EXPECT_EQ(e.Insert(1, 1, 'x'), errEncoding_DataWriteFailure);
  EXPECT_EQ(e.Delete(1, 1), errEncoding_DataWriteFailure);
  EXPECT_EQ(s, "hello");
  // The variable is read at each access.
  s = "HELLO";
  EXPECT_EQ(e.Get(1), 'L');
  EXPECT_EQ(e.AttachCharString(s, 6), errEncoding_WrongInputParameters);
  EXPECT_EQ(e.AttachCharString(s, -1), errEncoding_WrongInputParameters);
}

TEST(Encoding, AttachEveryBufferKind) {
  const char16_t wide[] = u"w\u03A9x";
  const int32_t full[] = {0x10348, 65, 0};
  const uint8_t block[] = {0x41, 0x00, 0xA9, 0x03, 0xFF};
  cEncoding e;
  EXPECT_EQ(e.AttachPChar("abc", 1), 2);
  EXPECT_EQ(points(e), (std::vector<int32_t>{'b', 'c'}));
  EXPECT_EQ(e.AttachPWideChar(wide, 0), 3);
  EXPECT_EQ(points(e), (std::vector<int32_t>{'w', 0x3A9, 'x'}));
  EXPECT_EQ(e.AttachPFullChar(full, 0), 2);
  EXPECT_EQ(e.Get(1), 0x10348);
  EXPECT_EQ(e.AttachBuffer(block, 2, 5, 0), 2);  // the odd byte is not a unit
  EXPECT_EQ(points(e), (std::vector<int32_t>{0x41, 0x3A9}));
  EXPECT_EQ(e.AttachBuffer(block, 3, 5, 0), errEncoding_WrongInputParameters);
  EXPECT_EQ(e.AttachBuffer(nullptr, 1, 5, 0), errEncoding_WrongInputParameters);
  EXPECT_EQ(e.AttachPChar(nullptr, 0), errEncoding_WrongInputParameters);
  std::u16string ws = u"\u0100z";
  EXPECT_EQ(e.AttachWideString(ws, 0), 2);
  EXPECT_EQ(e.CodePageTag(), "~{cp<#UCS-2>}");

  cEncoding outer;
  EXPECT_EQ(outer.AttachEncoding(&e), 2);
  EXPECT_EQ(points(outer), (std::vector<int32_t>{0x100, 'z'}));
  EXPECT_EQ(outer.AttachEncoding(&outer), errEncoding_WrongInputParameters);
  EXPECT_EQ(outer.AttachEncoding(nullptr), errEncoding_WrongInputParameters);
}

TEST(Encoding, AdoptNarrowsToTheLargestCodePoint) {
  cEncoding e;
  EXPECT_EQ(e.AdoptWideString(u"plain", 0, false), 5);
  EXPECT_EQ(e.CodePageTag(), "~{cp<#ASCII>}");
  EXPECT_TRUE(e.IsResizable());
  EXPECT_EQ(text8(e), "plain");

  const int32_t full[] = {'a', 0x10348, 0};
  EXPECT_EQ(e.AdoptPFullChar(full, 0, false), 2);
  EXPECT_EQ(e.CodePageTag(), "~{cp<#UCS-4>}");
  EXPECT_EQ(e.Get(2), 0x10348);

  EXPECT_EQ(e.AdoptCharString("abc", 3, false), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(e.AdoptCharString("abc", 2, false), 1);
  EXPECT_EQ(text8(e), "c");
  EXPECT_EQ(e.AdoptCharString("", 0, false), 0);
  EXPECT_TRUE(e.IsAssociated());
  EXPECT_EQ(e.Length(), 0);
  EXPECT_EQ(e.AdoptPChar(nullptr, 0, false), errEncoding_WrongInputParameters);

  // Adopting itself keeps the text.
  EXPECT_EQ(e.AdoptCharString("self", 0, false), 4);
  EXPECT_EQ(e.AdoptEncoding(&e, false), 4);
  EXPECT_EQ(text8(e), "self");
}

TEST(Encoding, OwnedStorageWidensAndEdits) {
  cEncoding e;
  ASSERT_EQ(e.AdoptBuffer(nullptr, 2, 0, 0, false), 0);
  EXPECT_EQ(e.SetLength(1, 0x41), 1);
  EXPECT_EQ(e.SetLength(2, 0x10348), 2);
  EXPECT_EQ(e.CodePageTag(), "~{cp<#UCS-4>}");
  EXPECT_EQ(points(e), (std::vector<int32_t>{0x41, 0x10348}));
  EXPECT_EQ(e.AdoptBuffer(nullptr, 2, 3, 0, false), errEncoding_WrongInputParameters);

  ASSERT_EQ(e.AdoptCharString("abc", 0, false), 3);
  EXPECT_EQ(e.Modify(1, 0x3A9), 97);
  EXPECT_EQ(e.CodePageTag(), "~{cp<#UCS-2>}");
  EXPECT_EQ(e.Get(2), 98);
  EXPECT_EQ(e.Modify(4, 'x'), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(e.Modify(1, -5), errEncoding_TextPointOutOfRange);

  struct {
    const char* text;
    int op;  // 0 insert, 1 delete
    int32_t t, count;
    int32_t result;
    const char* after;
  } cases[] = {
      {"abc", 0, 1, 2, 2, "--abc"},
      {"abc", 0, 3, 1, 1, "ab-c"},
      {"abc", 0, 4, 1, errEncoding_NoDataAtThatPosition, "abc"},
      {"abc", 0, 1, 0, errEncoding_WrongInputParameters, "abc"},
      {"abcdef", 1, 2, 10, 5, "a"},
      {"abcdef", 1, 2, 2, 2, "adef"},
      {"abcdef", 1, 7, 1, errEncoding_NoDataAtThatPosition, "abcdef"},
      {"abcdef", 1, 1, -1, errEncoding_WrongInputParameters, "abcdef"},
  };
  for (const auto& c : cases) {
    ASSERT_GE(e.AdoptCharString(c.text, 0, false), 0);
    const int32_t r = c.op == 0 ? e.Insert(c.t, c.count, '-') : e.Delete(c.t, c.count);
    EXPECT_EQ(r, c.result) << c.text << " " << c.op << " " << c.t;
    EXPECT_EQ(text8(e), c.after) << c.text;
  }

  ASSERT_EQ(e.AdoptCharString("abcdef", 0, false), 6);
  EXPECT_EQ(e.Get(5), 'e');
  EXPECT_EQ(e.SetLength(2, 0), 2);
  EXPECT_EQ(e.Next(), 98);
  EXPECT_EQ(e.SetLength(-1, 0), errEncoding_DataWriteFailure);
  EXPECT_EQ(e.SetLength(4, 0x2603), 4);  // grows 8-bit text with a wide fill
  EXPECT_EQ(points(e), (std::vector<int32_t>{'a', 'b', 0x2603, 0x2603}));
  EXPECT_EQ(e.SetLength(0, 0), 0);
  EXPECT_EQ(e.Curr(), 0);
  EXPECT_EQ(e.SetLength(1, 'q'), 1);
  EXPECT_EQ(e.Next(), 'q');
  // Inserting an astral code point into 16-bit text widens to 4 bytes.
  ASSERT_EQ(e.AdoptWideString(u"\u0100\u0101", 0, false), 2);
  EXPECT_EQ(e.Insert(2, 1, 0x1F600), 1);
  EXPECT_EQ(points(e), (std::vector<int32_t>{0x100, 0x1F600, 0x101}));
}

TEST(Encoding, GetBufferAndTags) {
  cEncoding e;
  ASSERT_EQ(e.AdoptCharString("ab", 0, false), 2);
  char buf[32] = {};
  int32_t size = 0;
  EXPECT_EQ(e.GetBuffer(buf, size, true), 15);
  EXPECT_EQ(size, 0);
  size = sizeof buf;
  EXPECT_EQ(e.GetBuffer(buf, size, true), 15);
  EXPECT_EQ(std::string(buf, 15), "~{cp<#ASCII>}ab");
  EXPECT_EQ(e.GetBuffer(nullptr, size, false), errEncoding_WrongInputParameters);
  size = -1;
  EXPECT_EQ(e.GetBuffer(buf, size, false), errEncoding_WrongInputParameters);

  ASSERT_EQ(e.AdoptWideString(u"\u03A9A", 0, false), 2);
  size = sizeof buf;
  EXPECT_EQ(e.GetBuffer(buf, size, false), 4);
  EXPECT_EQ(std::string(buf, 4), std::string("\xA9\x03\x41\x00", 4));

  cEncoding none;
  size = sizeof buf;
  EXPECT_EQ(none.GetBuffer(buf, size, true), 0);
  EXPECT_EQ(none.CodePageTag(), "");
  EXPECT_EQ(e.Signature(), "UCS");
  EXPECT_NE(e.Description().find("ISO/IEC 10646"), std::string::npos);
}

TEST(Encoding, CloneShallowAndDeep) {
  std::string s = "var";
  cEncoding e;
  ASSERT_EQ(e.AttachCharString(s, 1), 2);
  auto shallow = e.Clone(false);
  ASSERT_TRUE(shallow);
  EXPECT_FALSE(shallow->IsResizable());
  s = "VAR";
  EXPECT_EQ(text8(*shallow), "AR");  // attached to the same variable
  auto deep = e.Clone(true);
  ASSERT_TRUE(deep);
  EXPECT_TRUE(deep->IsResizable());
  s = "xyz";
  EXPECT_EQ(text8(*deep), "AR");

  cEncoding owned;
  ASSERT_EQ(owned.AdoptCharString("copy", 0, false), 4);
  auto c = owned.Clone(false);
  ASSERT_TRUE(c);
  owned.Modify(1, 'K');
  EXPECT_EQ(text8(*c), "copy");

  cEncoding none;
  auto n = none.Clone(true);
  ASSERT_TRUE(n);
  EXPECT_FALSE(n->IsAssociated());

  // An empty attached range clones to empty owned text.
  ASSERT_EQ(e.AttachCharString(s, 3), 0);
  auto empty = e.Clone(true);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->Length(), 0);
  EXPECT_EQ(encoding_to_charstring(nullptr), "");
  ASSERT_EQ(owned.AdoptWideString(u"\u03A9", 0, false), 1);
  EXPECT_EQ(encoding_to_charstring(&owned), "");
}

TEST(Encoding, DataFeedDeliversEveryCodePointOnce) {
  cEncoding e;
  ASSERT_EQ(e.AdoptCharString("ab", 0, false), 2);
  EXPECT_EQ(e.DFPosition(), 0);
  EXPECT_EQ(e.DFTextPoint(), 0);
  EXPECT_EQ(e.DFOpen(), 'a');
  EXPECT_EQ(e.DFTextPoint(), 1);
  EXPECT_EQ(e.DFRead(), 'b');
  EXPECT_EQ(e.DFRead(), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(e.DFRead(), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(e.DFOpen(), errEncoding_ExistingSession);
  // Moving the cursor at the end must not bring the last code point back.
  EXPECT_EQ(e.Get(1), 'a');
  EXPECT_EQ(e.DFRead(), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(e.DFTextPoint(), 2);
  EXPECT_EQ(e.DFRead(), errEncoding_NoDataAtThatPosition);

  // Interleaved reads and edits do not disturb the feed.
  cEncoding f;
  ASSERT_EQ(f.AdoptCharString("wxyz", 0, false), 4);
  EXPECT_EQ(f.DFOpen(), 'w');
  EXPECT_EQ(f.Get(4), 'z');
  EXPECT_EQ(f.DFRead(), 'x');
  EXPECT_EQ(f.Modify(1, 'W'), 'w');
  EXPECT_EQ(f.DFRead(), 'y');
  EXPECT_EQ(f.DFRead(), 'z');
  EXPECT_EQ(f.DFRead(), errEncoding_NoDataAtThatPosition);
  uint8_t raw[2];
  EXPECT_TRUE(f.DFRawRead(0, 0, raw));   // not a flow: only a count of 0
  EXPECT_FALSE(f.DFRawRead(0, 2, raw));

  cEncoding empty;
  EXPECT_EQ(empty.DFOpen(), errEncoding_NoDataAtThatPosition);
  ASSERT_EQ(empty.AdoptCharString("q", 0, false), 1);
  EXPECT_EQ(empty.DFOpen(), 'q');
}

TEST(Encoding, MessageFunction) {
  auto m = qlm_encoding_exception_string(uint32_t(-2));
  ASSERT_TRUE(m->Valid());
  EXPECT_EQ(m->Name(), "errEncoding_NoDataAtThatPosition");
  EXPECT_EQ(m->Message(), "Reading of data past the end of the range (not error).");
  EXPECT_EQ(qlm_encoding_exception_string(uint32_t(-17))->Name(), "errEncoding_ExistingSession");
  auto base = qlm_encoding_exception_string(203);
  EXPECT_EQ(base->Name(), "errNEnoughMem");
  EXPECT_FALSE(qlm_encoding_exception_string(uint32_t(-18))->Valid());
  cEncoding e;
  EXPECT_TRUE(e.Identify(id_cEncoding));
  EXPECT_TRUE(e.Identify(id_cBase));
  EXPECT_FALSE(e.Identify(id_cArray));
}

TEST(CodePointBlocks, TableAndWalk) {
  EXPECT_EQ(codepoint_count(), 115670);
  int32_t count = 0;
  int32_t last = -1;
  for (int32_t c = 0; c >= 0; c = codepoint_next(c)) {
    ASSERT_GT(c, last);
    last = c;
    ++count;
  }
  EXPECT_EQ(count, 115670);
  EXPECT_EQ(last, 0xE01EF);
  for (const auto& b : gCodePointBlocks) {
    EXPECT_EQ(codepoint_block(b.first), &b);
    EXPECT_EQ(codepoint_block(b.last), &b);
  }
  cEncoding e;
  EXPECT_EQ(e.NextCodePoint(0x7F), 0x80);
  EXPECT_EQ(e.NextCodePoint(0x7FF), 0x900);
  EXPECT_EQ(e.PrevCodePoint(0x900), 0x7FF);
  EXPECT_EQ(e.NextCodePoint(0xE01EF), -3);
  EXPECT_EQ(e.PrevCodePoint(0), -3);
  EXPECT_EQ(e.NextCodePoint(0xD800), -3);
  EXPECT_EQ(e.NextCodePoint(0x800), -3);
  EXPECT_EQ(e.CodePointCount(), 115670);
  EXPECT_EQ(std::string(gCodePointBlocks[0].name), "C0 CONTROLS");
  EXPECT_EQ(std::string(gCodePointBlocks[3].name), "LATIN-1 SUPPLEMENT");
}
