#include <gtest/gtest.h>

#include <memory>
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
  // A chain that leads back is refused too.
  EXPECT_EQ(e.AttachEncoding(&outer), errEncoding_WrongInputParameters);
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

// Adopting an encoding that reads through the adopting one (attached to it,
// directly or along a chain) copies the text first: nothing is lost.
TEST(Encoding, AdoptingThroughAnAttachedEncodingKeepsTheText) {
  for (int depth = 1; depth <= 3; ++depth) {
    SCOPED_TRACE(depth);
    cEncoding a;
    ASSERT_EQ(a.AdoptCharString("abc\xc3\xa9", 0, false), 5);
    std::vector<std::unique_ptr<cEncoding>> chain;
    cEncoding* below = &a;
    for (int i = 0; i < depth; ++i) {
      chain.push_back(std::make_unique<cEncoding>());
      ASSERT_EQ(chain.back()->AttachEncoding(below), 5);
      below = chain.back().get();
    }
    EXPECT_EQ(a.AdoptEncoding(below, false), 5);
    EXPECT_EQ(text8(a), "abc\xc3\xa9");
    EXPECT_EQ(text8(*below), "abc\xc3\xa9");  // the attached ones read the adopted text
  }
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
  EXPECT_TRUE(f.DFRawRead(0, 0, raw));  // not a flow: only a count of 0
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

#include "qlm_base_flow.h"
#include "qlm_base_fullstring.h"

namespace {
std::unique_ptr<cMemoryFlow> open_flow(const std::string& bytes) {
  auto flow = cMemoryFlow::ConstructOnData(bytes.data(), int64_t(bytes.size()));
  EXPECT_TRUE(flow->Open());
  return flow;
}
}  // namespace

TEST(Encoding, FlowSources) {
  auto flow = open_flow(std::string("\x41\x00\xA9\x03\x42\x00\x7F", 7));
  cEncoding e;
  EXPECT_EQ(e.AttachFlow(flow.get(), 2, 0), 3);  // the odd byte is not a unit
  EXPECT_EQ(points(e), (std::vector<int32_t>{0x41, 0x3A9, 0x42}));
  EXPECT_EQ(e.AttachFlow(flow.get(), 1, 4), 3);
  EXPECT_EQ(points(e), (std::vector<int32_t>{0x42, 0, 0x7F}));
  EXPECT_EQ(e.AttachFlowRange(flow.get(), 1, 2, 3, 1), 2);
  EXPECT_EQ(points(e), (std::vector<int32_t>{0x03, 0x42}));
  EXPECT_EQ(e.AttachFlowRange(flow.get(), 1, 5, 3, 0), errEncoding_WrongInputParameters);  // beyond the end
  EXPECT_EQ(e.AttachFlow(flow.get(), 3, 0), errEncoding_WrongInputParameters);
  EXPECT_EQ(e.AttachFlow(nullptr, 1, 0), errEncoding_WrongInputParameters);
  auto closed = cMemoryFlow::Construct();
  EXPECT_EQ(e.AttachFlow(closed.get(), 1, 0), errEncoding_WrongInputParameters);

  // Adoption narrows: the 16-bit units of "A\u03A9B" need two bytes.
  EXPECT_EQ(e.AdoptFlow(flow.get(), 2, 0, 6, 0, false), 3);
  EXPECT_EQ(e.CodePageTag(), "~{cp<#UCS-2>}");
  EXPECT_EQ(e.AdoptFlow(flow.get(), 2, 0, 6, 4, false), 1);
  EXPECT_EQ(e.CodePageTag(), "~{cp<#ASCII>}");
  EXPECT_EQ(e.AdoptFlow(flow.get(), 1, 0, 99, 0, false), errEncoding_WrongInputParameters);

  // GetBuffer over a flow range copies the stored units.
  ASSERT_EQ(e.AttachFlowRange(flow.get(), 2, 0, 6, 2), 2);
  char buf[8];
  int32_t size = sizeof buf;
  EXPECT_EQ(e.GetBuffer(buf, size, false), 4);
  EXPECT_EQ(std::string(buf, 4), std::string("\xA9\x03\x42\x00", 4));
}

TEST(Encoding, RawReadAtTheEndOfAFlowDoesNotRepeatTheLastCodePoint) {
  // A reader takes the last bytes raw; the feed must then report the end,
  // not deliver the last code point again and again.
  auto flow = open_flow("head:xy");
  cEncoding e;
  ASSERT_EQ(e.AttachFlow(flow.get(), 1, 0), 7);
  std::string seen;
  for (int32_t c = e.DFOpen(); c != ':'; c = e.DFRead()) seen.push_back(char(c));
  EXPECT_EQ(seen, "head");
  char raw[2];
  ASSERT_TRUE(e.DFRawRead(5, 2, raw));
  EXPECT_EQ(std::string(raw, 2), "xy");
  EXPECT_FALSE(e.DFRawRead(7, 0, raw));  // from must lie inside the text
  // The feed itself moves on from where it stopped.
  EXPECT_EQ(e.DFRead(), 'x');
  EXPECT_EQ(e.DFRead(), 'y');
  for (int i = 0; i < 3; ++i) EXPECT_EQ(e.DFRead(), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(e.DFTextPoint(), 7);
  EXPECT_EQ(e.DFRead(), errEncoding_NoDataAtThatPosition);
}

TEST(Encoding, FullStringSources) {
  int32_t* h = fullstring_create(4);
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(fullstring_setlength(h, 3, 4));
  fullstring_set(h, 1, 'x');
  fullstring_set(h, 2, 0x10348);
  fullstring_set(h, 3, 'z');
  cEncoding e;
  EXPECT_EQ(e.AttachFullString(h, 1), 2);
  EXPECT_EQ(points(e), (std::vector<int32_t>{0x10348, 'z'}));
  EXPECT_EQ(e.AdoptFullString(h, 2, false), 1);
  EXPECT_EQ(text8(e), "z");
  EXPECT_EQ(e.AdoptFullString(h, 0, false), 3);
  EXPECT_EQ(e.CodePageTag(), "~{cp<#UCS-4>}");
  EXPECT_EQ(e.AttachFullString(nullptr, 0), errEncoding_WrongInputParameters);
  fullstring_free(h);
}

TEST(CharFeed, ReadsEverySourceKind) {
  rCharFeed feed;
  std::string s = "ab";
  EXPECT_EQ(feed_open_charstring(s, feed, false), 'a');
  EXPECT_EQ(feed_read(feed), 'b');
  EXPECT_EQ(feed_read(feed), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(feed_read(feed), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(feed_rewind(feed), 'a');
  EXPECT_EQ(feed_length(feed), 2);
  EXPECT_TRUE(feed_close(feed));
  EXPECT_EQ(feed.length, 0);

  std::u16string w = u"\u0100";
  EXPECT_EQ(feed_open_widestring(w, feed, false), 0x100);
  const int32_t full[] = {-7, 0};
  EXPECT_EQ(feed_open_pfullchar(full, feed, false), errEncoding_IllegalSourceData);  // not a code point
  EXPECT_EQ(feed_open_pchar("", feed, false), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(feed_open_pchar(nullptr, feed, false), errEncoding_WrongInputParameters);
  const uint8_t block[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(feed_open_buffer(block, 4, 5, feed, false), 0x04030201);
  EXPECT_EQ(feed_read(feed), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(feed_open_buffer(block, 3, 5, feed, false), errEncoding_WrongInputParameters);

  auto flow = open_flow("xyz");
  EXPECT_EQ(feed_open_flow(flow.get(), 1, feed, 1, 2, false), 'y');
  EXPECT_EQ(feed_read(feed), 'z');
  EXPECT_EQ(feed_read(feed), errEncoding_NoDataAtThatPosition);
  EXPECT_EQ(feed_rewind(feed), 'y');
  EXPECT_EQ(feed_open_flow(flow.get(), 1, feed, 2, 2, false), errEncoding_WrongInputParameters);

  cEncoding e;
  ASSERT_EQ(e.AdoptCharString("qr", 0, false), 2);
  EXPECT_EQ(feed_open_encoding(&e, feed, false), 'q');
  EXPECT_EQ(feed_read(feed), 'r');
  feed_close(feed);
}

#include "qlm_encoding_registry.h"

TEST(EncodingRegistry, AttachWithTheEmptyRegistry) {
  auto ten = open_flow("0123456789");
  int32_t error = 99;
  auto e = encoding_attach(ten.get(), 1, "", error);
  ASSERT_TRUE(e);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(e->Length(), 10);
  EXPECT_EQ(e->Get(1), '0');

  auto five = open_flow("abcde");
  e = encoding_attach(five.get(), 2, "", error);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Length(), 2);

  EXPECT_FALSE(encoding_attach(ten.get(), 1, "UTF8", error));
  EXPECT_EQ(error, errEncoding_NotFound);
  auto empty = cMemoryFlow::Construct();
  ASSERT_TRUE(empty->Open());
  EXPECT_FALSE(encoding_attach(empty.get(), 1, "", error));
  EXPECT_EQ(error, errEncoding_NoDataAtThatPosition);
  auto closed = cMemoryFlow::Construct();
  EXPECT_FALSE(encoding_attach(closed.get(), 1, "", error));
  EXPECT_EQ(error, errEncoding_WrongInputParameters);
  EXPECT_FALSE(encoding_attach(nullptr, 1, "", error));
  EXPECT_EQ(error, errEncoding_WrongInputParameters);
  EXPECT_FALSE(encoding_attach(ten.get(), 3, "", error));
  EXPECT_EQ(error, errEncoding_WrongInputParameters);

  EXPECT_FALSE(encoding_create_by_uid(1));
  EXPECT_EQ(encoding_default_uid(), 0);
}

TEST(EncodingRegistry, DetectionFindsTheLongestRegisteredSignature) {
  // Two signatures where one is a prefix of the other: both are found.
  EXPECT_EQ(encoding_register_for_test("AB", [] { return new cEncoding(); }), 1);
  EXPECT_EQ(encoding_register_for_test("ABC!", [] { return new cEncoding(); }), 2);
  EXPECT_EQ(encoding_register_for_test("AB", [] { return new cEncoding(); }), errEncoding_SignatureExists);
  EXPECT_TRUE(encoding_create_by_uid(2));
  int32_t error = 0;
  auto flow = open_flow("ABC!text");
  auto e = encoding_attach(flow.get(), 1, "", error);
  ASSERT_TRUE(e);
  // "AB" is registered and matches first: the text starts after it.
  EXPECT_EQ(e->Length(), 6);
  EXPECT_EQ(e->Get(1), 'C');
  auto other = open_flow("ABX");
  e = encoding_attach(other.get(), 1, "", error);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Get(1), 'X');
  auto none = open_flow("XYZ");
  e = encoding_attach(none.get(), 1, "", error);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Length(), 3);
  e = encoding_attach(none.get(), 1, "ABC!", error);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Length(), 3);  // by name the text starts at byte 0
  cFlowByteReader reader(flow.get());
  int32_t consumed = 7;
  EXPECT_FALSE(encoding_detect('Q', reader, consumed));
  EXPECT_EQ(consumed, 0);
}
