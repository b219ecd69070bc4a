// The VormCode parser's driver: running text, escapes, control runs, names,
// labels, comments, generic pairing, errors, progress and re-opening.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "qlm_base_array.h"
#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_encoding.h"
#include "qlm_parser_vormcode.h"
#include "qlm_parser_vormcode_run.h"

namespace {

const char* kind_name(uint8_t kind) {
  static const char* const kNames[] = {"NONE",         "CONTROL",     "DATA",          "SPACE",          "NBSP",
                                       "SECTION",      "SECTION_END", "PROPERTIES",    "PROPERTIES_END", "METADATA",
                                       "METADATA_END", "STRUCTURE",   "STRUCTURE_END", "INSERTABLE",     "PAREN_CLOSE",
                                       "BRACE_CLOSE",  "EMBEDDED",    "DELIMITER"};
  return kind < 18 ? kNames[kind] : "?";
}

// The code points of an encoding as text: bytes as they are, larger code
// points as <hex>.
std::string codepoints(cEncoding* en) {
  std::string s;
  for (int32_t t = 1; en != nullptr && t <= en->Length(); ++t) {
    const int32_t c = en->Get(t);
    if (c < 256) {
      s.push_back(char(uint8_t(c)));
    } else {
      s += '<';
      s += int_to_hex(0, 0, c);
      s += '>';
    }
  }
  return s;
}

// One line per token: kind and payload.
std::string describe(const rTCToken* t) {
  std::string s = kind_name(t->kind);
  switch (t->kind) {
    case TCT_DATA: s += " \"" + codepoints(t->Data()) + "\""; break;
    case TCT_SPACE:
    case TCT_NBSP: s += " " + int_to_str(0, 0, t->Count()); break;
    case TCT_CONTROL: {
      const rTCT_CONTROL* c = t->Control();
      std::string text;
      for (char ch : c->text) text += ch == '\t' ? "T" : ch == '\r' ? "R" : ch == '\n' ? "L" : "?";
      s += "{" + int_to_str(0, 0, c->kind) + "," + text + "," + int_to_str(0, 0, c->count) + "}";
      break;
    }
    default: break;
  }
  return s;
}

std::vector<std::string> describe_all(const cParserVormCode& p) {
  std::vector<std::string> out;
  for (const rTCToken* t = p.FirstToken(); t != nullptr; t = t->next) out.push_back(describe(t));
  return out;
}

using Tokens = std::vector<std::string>;

struct Parsed {
  std::unique_ptr<cParserVormCode> parser;
  bool ok = false;
};

// Parses an 8-bit text (each byte one code point).
Parsed parse(const std::string& text, tVormCodeProgress progress = nullptr) {
  Parsed r;
  r.parser = cParserVormCode::Construct(false);
  cEncoding en;
  EXPECT_GE(en.AttachCharString(text, 0), 0);
  r.ok = r.parser->OpenEncoding(&en, progress);
  return r;
}

// The error of a failed parse: code, brace text and the position.
struct ErrorSeen {
  int32_t code;
  std::string text;
  int32_t position;
};
ErrorSeen error_of(const cParserVormCode& p) {
  ErrorSeen e{p.LastErrorCode(), {}, p.ErrorPosition()};
  if (p.Log() != nullptr && p.Log()->Count() > 0) e.text = p.Log()->Last()->message;
  return e;
}

TEST(VormCodeRunningText, TextsGiveTheirRuns) {
  const std::string nbsp = "\xA0";
  struct Case {
    std::string text;
    Tokens tokens;
  } cases[] = {
      {"", {}},
      {"a~~b~xc~", {"DATA \"a\"", "DATA \"~~b\"", "DATA \"~xc\"", "DATA \"~\""}},
      // All code points below 32 are one class: TAB TAB CR LF CR LF is one
      // mixed run (TAB TAB alone is kind 1, CR LF CR LF alone kind 4).
      {"x " + nbsp + " y\t\t\r\n\r\n",
       {"DATA \"x\"", "SPACE 1", "NBSP 1", "SPACE 1", "DATA \"y\"", "CONTROL{0,TTRLRL,6}"}},
      {"y\t\t z\r\n\r\n", {"DATA \"y\"", "CONTROL{1,TT,2}", "SPACE 1", "DATA \"z\"", "CONTROL{4,RLRL,2}"}},
      {"x  y", {"DATA \"x\"", "SPACE 2", "DATA \"y\""}},
      {nbsp + nbsp + nbsp + "z", {"NBSP 3", "DATA \"z\""}},
      {"~>~)~}~]", {"PROPERTIES_END", "PAREN_CLOSE", "BRACE_CLOSE", "STRUCTURE_END"}},
      {"a~)b", {"DATA \"a\"", "PAREN_CLOSE", "DATA \"b\""}},
      // After "~" a control, a space or a no-break space starts its own run.
      {"~ x", {"DATA \"~\"", "SPACE 1", "DATA \"x\""}},
      {"~\tx", {"DATA \"~\"", "CONTROL{1,T,1}", "DATA \"x\""}},
      {"~" + nbsp, {"DATA \"~\"", "NBSP 1"}},
      {"~~~x", {"DATA \"~~\"", "DATA \"~x\""}},
      {"~", {"DATA \"~\""}},
      {"a~\r\n", {"DATA \"a\"", "DATA \"~\"", "CONTROL{4,RL,1}"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Parsed r = parse(c.text);
    EXPECT_TRUE(r.ok) << r.parser->LastErrorText();
    EXPECT_EQ(describe_all(*r.parser), c.tokens);
  }
}

TEST(VormCodeRunningText, ControlRunKindsAndCounts) {
  struct Case {
    std::string text;
    std::string control;
  } cases[] = {
      {"\t\t", "CONTROL{1,TT,2}"},     {"\r\r", "CONTROL{2,RR,2}"},       {"\n\n\n", "CONTROL{3,LLL,3}"},
      {"\r\n", "CONTROL{4,RL,1}"},     {"\r\n\r\n", "CONTROL{4,RLRL,2}"}, {"\r\r\n", "CONTROL{0,RRL,3}"},
      {"\r\n\r", "CONTROL{0,RLR,3}"},   // a lone CR at the end
      {"\r\n\rx", "CONTROL{0,RLR,3}"},  // ended by a character
      {"\r\n\t", "CONTROL{0,RLT,3}"},  {"\r\n\r\t", "CONTROL{0,RLRT,4}"}, {"\r\n\r\r", "CONTROL{0,RLRR,4}"},
      {"\t\n", "CONTROL{0,TL,2}"},     {"\n\r", "CONTROL{0,LR,2}"},       {"\x01\x02", "CONTROL{0,??,2}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    Parsed r = parse(c.text);
    ASSERT_TRUE(r.ok);
    ASSERT_NE(r.parser->FirstToken(), nullptr);
    EXPECT_EQ(describe(r.parser->FirstToken()), c.control);
  }
  // The text keeps the low byte of each code point.
  Parsed r = parse("\x1F\t");
  EXPECT_EQ(r.parser->FirstToken()->Control()->text, std::string("\x1F\t"));
}

// The control token a run of control characters must give: kinds 1-3 for
// runs of one character, 4 for CR LF pairs, 0 for anything else.
std::string expected_control(const std::string& run) {
  auto all = [&](char c) { return run.find_first_not_of(c) == std::string::npos; };
  bool pairs = run.size() % 2 == 0;
  for (size_t k = 0; pairs && k < run.size(); k += 2) pairs = run[k] == '\r' && run[k + 1] == '\n';
  const int kind = all('\t') ? 1 : all('\r') ? 2 : all('\n') ? 3 : pairs ? 4 : 0;
  const size_t count = kind == 4 ? run.size() / 2 : run.size();
  std::string text;
  for (char ch : run) text += ch == '\t' ? "T" : ch == '\r' ? "R" : ch == '\n' ? "L" : "?";
  std::string out = "CONTROL{";
  out += std::to_string(kind);
  out += ',';
  out += text;
  out += ',';
  out += std::to_string(count);
  out += '}';
  return out;
}

TEST(VormCodeRunningText, RandomTextsAreCutIntoMaximalRunsAndKeepEveryCharacter) {
  // Texts without tag openers: the tokens give the text back exactly, runs
  // are maximal, and each control run has the kind and count of its
  // characters.
  const char alphabet[] = {'a', 'b', '~', '~', '>', ']', ')', '}', ' ', char(0xA0), '\t', '\r', '\n', '\x01'};
  std::mt19937 random(20261210);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const size_t n = random() % 24;
    for (size_t k = 0; k < n; ++k) text.push_back(alphabet[random() % sizeof alphabet]);
    SCOPED_TRACE(::testing::PrintToString(text));
    Parsed r = parse(text);
    ASSERT_TRUE(r.ok);
    std::string back;
    uint8_t previous = 255;
    for (const rTCToken* t = r.parser->FirstToken(); t != nullptr; t = t->next) {
      switch (t->kind) {
        case TCT_DATA: {
          const std::string data = codepoints(t->Data());
          // A data token follows another only when it starts with "~".
          if (previous == TCT_DATA) {
            EXPECT_EQ(data[0], '~');
          }
          back += data;
          break;
        }
        case TCT_SPACE: back += std::string(size_t(t->Count()), ' '); break;
        case TCT_NBSP: back += std::string(size_t(t->Count()), char(0xA0)); break;
        case TCT_CONTROL:
          EXPECT_EQ(describe(t), expected_control(t->Control()->text));
          back += t->Control()->text;
          break;
        case TCT_PROPERTIES_END: back += "~>"; break;
        case TCT_STRUCTURE_END: back += "~]"; break;
        case TCT_PAREN_CLOSE: back += "~)"; break;
        case TCT_BRACE_CLOSE: back += "~}"; break;
        default: ADD_FAILURE() << "token kind " << int(t->kind);
      }
      if (t->kind == TCT_SPACE || t->kind == TCT_NBSP || t->kind == TCT_CONTROL) {
        EXPECT_NE(t->kind, previous);
      }
      previous = t->kind;
    }
    EXPECT_EQ(back, text);
  }
}

TEST(VormCodeRunningText, DataWidensForLargeCodePoints) {
  // Code units of 4 bytes, little-endian: a, U+0100, U+10000, b.
  const int32_t units[] = {'a', 0x100, 0x10000, 'b', ' ', 0x41};
  std::vector<uint8_t> bytes;
  for (int32_t u : units)
    for (int k = 0; k < 4; ++k) bytes.push_back(uint8_t(uint32_t(u) >> (8 * k)));
  cEncoding en;
  ASSERT_EQ(en.AttachBuffer(bytes.data(), 4, int32_t(bytes.size()), 0), 6);
  auto p = cParserVormCode::Construct(false);
  ASSERT_TRUE(p->OpenEncoding(&en, nullptr));
  EXPECT_EQ(describe_all(*p), (Tokens{"DATA \"a<100><10000>b\"", "SPACE 1", "DATA \"A\""}));
  EXPECT_EQ(p->FirstToken()->Data()->DataSource().enunit, 4);
  EXPECT_EQ(p->FirstToken()->next->next->Data()->DataSource().enunit, 1);
}

// ---------------------------------------------------------------------------
// Errors.

TEST(VormCodeErrors, UnexpectedAndUnfinished) {
  struct Case {
    std::string text;
    int32_t code;
    std::string message;
    int32_t position;
  } cases[] = {
      // A character a tag cannot start with: phase, state, the next text
      // point and the ordinal of the character.
      {"~\\=", 300, "{SECTION,OPEN,TextPoint:4,ByteOffs:3}", 3},
      {"ab ~{=", 300, "{METADATA,OPEN,TextPoint:7,ByteOffs:6}", 6},
      {"~[=", 300, "{STRUCTURE,OPEN,TextPoint:4,ByteOffs:3}", 3},
      {"~(=", 300, "{INSERTABLE,OPEN,TextPoint:4,ByteOffs:3}", 3},
      // The text ends inside a tag.
      {"~\\", 301, "{ph_main=SECTION}", 3},
      {"x~<", 301, "{ph_main=PROPERTY}", 4},
      {"~{", 301, "{ph_main=METADATA}", 3},
      {"~[", 301, "{ph_main=STRUCTURE}", 3},
      {"~(", 301, "{ph_main=INSERTABLE}", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Parsed r = parse(c.text);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.parser->Opened());
    const ErrorSeen e = error_of(*r.parser);
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.message);
    EXPECT_EQ(e.position, c.position);
    ASSERT_NE(r.parser->Log(), nullptr);
    EXPECT_EQ(r.parser->Log()->Last()->function, &qlm_parser_vormcode_exception_string);
  }
  // The tokens made before the error stay; the tag's token is still empty.
  Parsed r = parse("ab ~{=");
  EXPECT_EQ(describe_all(*r.parser), (Tokens{"DATA \"ab\"", "SPACE 1", "NONE"}));
}

TEST(VormCodeErrors, BadArguments) {
  auto p = cParserVormCode::Construct(false);
  EXPECT_FALSE(p->OpenEncoding(nullptr, nullptr));
  EXPECT_EQ(error_of(*p).text, "{en=NIL}");
  EXPECT_EQ(p->LastErrorCode(), 299);
  cEncoding unattached;
  EXPECT_FALSE(p->OpenEncoding(&unattached, nullptr));
  EXPECT_EQ(error_of(*p).text, "{not en.IsAssociated}");
  EXPECT_FALSE(p->OpenFlow(nullptr, nullptr));
  EXPECT_EQ(error_of(*p).text, "{flow=NIL}");
  auto closed = cMemoryFlow::ConstructOnData("ab", 2);
  EXPECT_FALSE(p->OpenFlow(closed.get(), nullptr));
  EXPECT_EQ(error_of(*p).text, "{not flow.IsOpened}");
  EXPECT_EQ(p->FirstToken(), nullptr);
}

TEST(VormCodeErrors, MessageFunction) {
  struct Case {
    uint32_t code;
    const char* name;
    const char* message;
  } cases[] = {
      {299, "errVormCodeParser", "VormCode parser failure."},
      {300, "errVormCodeSyntaxError", "Unexpected syntax input."},
      {301, "errVormCodeUnfinishedTag", "Encountered an unfinished VormCode Tag."},
      {297, "errProgressBreak", "Processing stopped by user (not error)."},
  };
  for (const Case& c : cases) {
    auto s = qlm_parser_vormcode_exception_string(c.code);
    EXPECT_TRUE(s->Valid());
    EXPECT_EQ(s->Name(), c.name);
    EXPECT_EQ(s->Message(), c.message);
  }
  EXPECT_EQ(qlm_parser_vormcode_exception_string(300)->Function(), &qlm_parser_vormcode_exception_string);
  EXPECT_FALSE(qlm_parser_vormcode_exception_string(302)->Valid());
  EXPECT_GE(qlm_parser_vormcode_start_count(), 1u);  // the framework started it
}

// An encoding whose data feed answers a scripted sequence of results.
class cScriptedEncoding : public cEncoding {
 public:
  explicit cScriptedEncoding(std::vector<int32_t> script) : mScript(std::move(script)) {
    mText.assign(mScript.size(), 'x');
    EXPECT_GE(AttachCharString(mText, 0), 0);
  }
  int32_t DFRead() override { return mNext < mScript.size() ? mScript[mNext++] : errEncoding_NoDataAtThatPosition; }

 private:
  std::vector<int32_t> mScript;
  std::string mText;
  size_t mNext = 0;
};

TEST(VormCodeErrors, NegativeFeedResultsAreReadErrors) {
  // The feed fails at the second code point of three. A -2 there must not
  // pass for the end of the text.
  struct Case {
    int32_t result;
    int32_t code;
    std::string text;
  } cases[] = {
      {-2, errEncoding_NoDataAtThatPosition, "{cParserVormCode.Open}"},
      {-3, 299, "{ch=errEncoding_TextPointOutOfRange}"},
      {-4, errEncoding_IllegalSourceData, "{cParserVormCode.Open}"},
      {-5, errEncoding_DataReadFailure, "{cParserVormCode.Open}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    cScriptedEncoding en({'a', c.result, 'b'});
    auto p = cParserVormCode::Construct(false);
    EXPECT_FALSE(p->OpenEncoding(&en, nullptr));
    const ErrorSeen e = error_of(*p);
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
    EXPECT_EQ(e.position, 2);
    EXPECT_EQ(describe_all(*p), (Tokens{"DATA \"a\""}));
    if (c.code < 0) {
      EXPECT_EQ(p->Log()->Last()->function, &qlm_encoding_exception_string);
    }
  }
  // A 32-bit unit of -2 in a buffer is refused by the encoding itself.
  const int32_t units[] = {'a', -2, 'b'};
  cEncoding buffer;
  ASSERT_EQ(buffer.AttachBuffer(units, 4, int32_t(sizeof units), 0), 3);
  auto p = cParserVormCode::Construct(false);
  EXPECT_FALSE(p->OpenEncoding(&buffer, nullptr));
  EXPECT_EQ(p->ErrorPosition(), 2);
}

// ---------------------------------------------------------------------------
// Progress.

struct ProgressLog {
  cParserVormCode* parser = nullptr;
  std::vector<double> percents;
  int stop_at = 0;  // 1-based call that answers false; 0 never
};
ProgressLog* g_progress = nullptr;

bool record_progress(cParserVormCode* parser, double percent) {
  EXPECT_EQ(parser, g_progress->parser);
  g_progress->percents.push_back(percent);
  return g_progress->stop_at == 0 || int(g_progress->percents.size()) < g_progress->stop_at;
}

// Parses with the recording callback.
std::vector<double> progress_of(const std::string& text, int stop_at, bool& ok, std::unique_ptr<cParserVormCode>& p) {
  ProgressLog log;
  log.stop_at = stop_at;
  g_progress = &log;
  p = cParserVormCode::Construct(false);
  log.parser = p.get();
  cEncoding en;
  EXPECT_GE(en.AttachCharString(text, 0), 0);
  ok = p->OpenEncoding(&en, &record_progress);
  g_progress = nullptr;
  return log.percents;
}

TEST(VormCodeProgress, CalledAtFirstLastAndEverySteps) {
  bool ok = false;
  std::unique_ptr<cParserVormCode> p;
  // 10 code points: the step is 0, so only the first and the last report.
  EXPECT_EQ(progress_of("abcdefghij", 0, ok, p), (std::vector<double>{10.0, 100.0}));
  EXPECT_TRUE(ok);
  // 30 code points: step 2, so 1, 2, 4, ..., 30.
  std::vector<double> expected{100.0 / 30.0};
  for (int i = 2; i <= 30; i += 2) expected.push_back(i * 100.0 / 30.0);
  const std::vector<double> seen = progress_of(std::string(30, 'x'), 0, ok, p);
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t k = 0; k < seen.size(); ++k) EXPECT_DOUBLE_EQ(seen[k], expected[k]);
  // An empty text reports nothing.
  EXPECT_TRUE(progress_of("", 0, ok, p).empty());
  EXPECT_TRUE(ok);
}

TEST(VormCodeProgress, FalseStopsTheParse) {
  bool ok = true;
  std::unique_ptr<cParserVormCode> p;
  // At the first call: nothing was made.
  EXPECT_EQ(progress_of("abc def", 1, ok, p).size(), 1u);
  EXPECT_FALSE(ok);
  EXPECT_EQ(p->LastErrorCode(), errProgressBreak);
  EXPECT_EQ(p->Log()->Last()->function, &qlm_base_exception_string);
  EXPECT_EQ(error_of(*p).text, "{cParserVormCode.Open}");
  EXPECT_EQ(p->FirstToken(), nullptr);
  EXPECT_EQ(p->ErrorPosition(), 1);
  // At the third call (code point 4 of 30): the runs made so far stay.
  progress_of("ab " + std::string(27, 'y'), 3, ok, p);
  EXPECT_FALSE(ok);
  EXPECT_EQ(p->ErrorPosition(), 4);
  EXPECT_EQ(describe_all(*p), (Tokens{"DATA \"ab\"", "SPACE 1"}));
}

// ---------------------------------------------------------------------------
// Re-opening and flows.

TEST(VormCodeOpen, ReopenAfterSuccessAndAfterFailure) {
  auto p = cParserVormCode::Construct(false);
  cEncoding first;
  std::string t1 = "a ~{=";
  ASSERT_GE(first.AttachCharString(t1, 0), 0);
  EXPECT_FALSE(p->OpenEncoding(&first, nullptr));
  // After a failure the next text's tokens go behind the old ones.
  cEncoding second;
  std::string t2 = "b";
  ASSERT_GE(second.AttachCharString(t2, 0), 0);
  EXPECT_TRUE(p->OpenEncoding(&second, nullptr));
  EXPECT_TRUE(p->Opened());
  EXPECT_EQ(describe_all(*p), (Tokens{"DATA \"a\"", "SPACE 1", "NONE", "DATA \"b\""}));
  // After a success nothing is read.
  cEncoding third;
  std::string t3 = "c";
  ASSERT_GE(third.AttachCharString(t3, 0), 0);
  EXPECT_TRUE(p->OpenEncoding(&third, nullptr));
  EXPECT_TRUE(p->OpenEncoding(nullptr, nullptr));
  EXPECT_TRUE(p->OpenFlow(nullptr, nullptr));
  EXPECT_EQ(describe_all(*p).size(), 4u);
  EXPECT_EQ(third.DFPosition(), 0);  // its feed was never opened

  // The same encoding a second time: its feed is still open (-17).
  auto q = cParserVormCode::Construct(false);
  EXPECT_FALSE(q->OpenEncoding(&first, nullptr));
  EXPECT_EQ(q->LastErrorCode(), errEncoding_ExistingSession);
  EXPECT_EQ(q->Log()->Last()->function, &qlm_encoding_exception_string);
  EXPECT_EQ(error_of(*q).text, "{cParserVormCode.Open}");
}

TEST(VormCodeOpen, Flows) {
  // An empty flow has no encoding to attach.
  auto empty = cMemoryFlow::ConstructOnData(nullptr, 0);
  ASSERT_TRUE(empty->Open());
  auto p = cParserVormCode::Construct(false);
  EXPECT_FALSE(p->OpenFlow(empty.get(), nullptr));
  EXPECT_EQ(p->LastErrorCode(), 299);
  EXPECT_EQ(error_of(*p).text, "{not encoding_attach(flow,1)}");
  // Bytes of a flow are code points.
  const std::string text = "a~~b \xA0\r\n";
  auto flow = cMemoryFlow::ConstructOnData(text.data(), int64_t(text.size()));
  ASSERT_TRUE(flow->Open());
  EXPECT_TRUE(p->OpenFlow(flow.get(), nullptr));
  EXPECT_EQ(describe_all(*p), (Tokens{"DATA \"a\"", "DATA \"~~b\"", "SPACE 1", "NBSP 1", "CONTROL{4,RL,1}"}));
  // An empty string parses to nothing.
  Parsed r = parse("");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.parser->FirstToken(), nullptr);
}

// ---------------------------------------------------------------------------
// Generic pairing. Openings are made by hand here (the tag phases make
// them from text); the closes come from text appended behind them.

rTCToken* add_token(cParserVormCode& p, uint8_t kind) {
  rTCToken* t = p.Tokens()->Append(1);
  t->kind = kind;
  return t;
}

TEST(VormCodePairing, GenericClosesPairTheNearestUnpairedOpening) {
  auto p = cParserVormCode::Construct(false);
  rTCToken* p1 = add_token(*p, TCT_PROPERTIES);
  rTCToken* s1 = add_token(*p, TCT_STRUCTURE);
  rTCToken* p2 = add_token(*p, TCT_PROPERTIES);
  add_token(*p, TCT_SECTION_END);  // does not stop the search
  cEncoding en;
  std::string text = "~>x~>~>~]~]";
  ASSERT_GE(en.AttachCharString(text, 0), 0);
  ASSERT_TRUE(p->OpenEncoding(&en, nullptr));
  std::vector<rTCToken*> t;
  for (rTCToken* k = p->FirstToken(); k != nullptr; k = k->next) t.push_back(k);
  ASSERT_EQ(t.size(), 10u);
  EXPECT_EQ(t[4]->partner, p2);
  EXPECT_EQ(p2->partner, t[4]);
  EXPECT_EQ(t[6]->partner, p1);
  EXPECT_EQ(p1->partner, t[6]);
  EXPECT_EQ(t[7]->partner, nullptr);  // nothing left to close
  EXPECT_EQ(t[8]->partner, s1);
  EXPECT_EQ(s1->partner, t[8]);
  EXPECT_EQ(t[9]->partner, nullptr);
  EXPECT_EQ(t[5]->partner, nullptr);
}

TEST(VormCodePairing, SearchStopsAtASection) {
  auto p = cParserVormCode::Construct(false);
  rTCToken* before = add_token(*p, TCT_PROPERTIES);
  add_token(*p, TCT_SECTION);
  rTCToken* after = add_token(*p, TCT_STRUCTURE);
  cEncoding en;
  std::string text = "~>~]~]";
  ASSERT_GE(en.AttachCharString(text, 0), 0);
  ASSERT_TRUE(p->OpenEncoding(&en, nullptr));
  rTCToken* close_p = after->next;
  EXPECT_EQ(close_p->partner, nullptr);
  EXPECT_EQ(before->partner, nullptr);
  EXPECT_EQ(close_p->next->partner, after);
  EXPECT_EQ(close_p->next->next->partner, nullptr);
}

TEST(VormCodePairing, ManyClosesTakeLinearTime) {
  // 200,000 closes with nothing to pair: a search that walked back over the
  // list for each close would take about 2*10^10 steps.
  std::string text;
  for (int k = 0; k < 100000; ++k) text += "~]~>";
  Parsed r = parse(text);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.parser->Tokens()->Count(), 200000u);
}

// ---------------------------------------------------------------------------
// Names, labels and comments, driven through a run started in their phase.

struct PhaseRun {
  std::unique_ptr<cParserVormCode> parser;
  cEncoding en;
  std::string source;
  std::string target;
  std::unique_ptr<cVormCodeRun> run;

  PhaseRun(const std::string& text, bool record_map) : source(text) {
    parser = cParserVormCode::Construct(record_map);
    EXPECT_GE(en.AttachCharString(source, 0), 0);
    run = std::make_unique<cVormCodeRun>(parser.get(), &en, nullptr);
  }
  // Runs to the end; the error text, or "" on success.
  std::string Go() {
    try {
      run->Run();
      return {};
    } catch (const exError& e) {
      return int_to_str(0, 0, e.Code()) + " " + e.Message();
    }
  }
};

TEST(VormCodeNames, IdTakesNameCharactersAndHandsTheRestBack) {
  PhaseRun r("bc1_ x", true);
  static const uint8_t kinds[] = {0, 0};
  r.run->NewToken();
  r.run->MapStart("~\\", kinds, 2, "{map}");
  r.run->current = 'a';
  r.target = "a";
  r.run->EnterId(&r.target, 5);
  EXPECT_EQ(r.Go(), "");
  EXPECT_EQ(r.target, "abc1_");
  // The handed-back blank went to running text.
  EXPECT_EQ(describe_all(*r.parser), (Tokens{"NONE", "SPACE 1", "DATA \"x\""}));
  const rTCTagMap* map = r.parser->FirstToken()->map;
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(encoding_to_charstring(map->text), "~\\abc1_");
  std::vector<std::vector<int32_t>> entries;
  for (const rTCTagMapEntry* e = map->entries->First(); e != nullptr; e = e->next)
    entries.push_back({e->kind, e->first, e->length});
  EXPECT_EQ(entries, (std::vector<std::vector<int32_t>>{{0, 1, 2}, {5, 3, 5}}));
}

TEST(VormCodeNames, Labels) {
  struct Case {
    std::string text;
    std::string label;  // stored label
    std::string after;  // first token of the handed-back rest, or the error
  } cases[] = {
      {"a.b:c x", "a.b:c", "SPACE 1"},
      {"a:b.c", "a:b", "DATA \".c\""},
      {"a:b:c", "a:b", "DATA \":c\""},
      {"1st.2nd ", "1st.2nd", "SPACE 1"},
      {"\"x\"\"y\".z ", "x\"y.z", "SPACE 1"},
      {"\"a b!\" ", "a b!", "SPACE 1"},
      {"\"a\":\"b\".c", "a:b", "DATA \".c\""},
      {"a.\"q\"x", "a.q", "DATA \"x\""},
      {"a::b", "", "300 {LABEL,NEST_END,TextPoint:4,ByteOffs:3}"},
      {".a", "", "300 {LABEL,OPEN,TextPoint:2,ByteOffs:1}"},
      {"\"a\x01\"", "", "300 {LABEL,STRING,TextPoint:4,ByteOffs:3}"},
      {"\"ab", "", "301 {ph_main=LABEL}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PhaseRun r(c.text, false);
    r.run->phases.Push(cnPhaseText);
    r.run->phase = cnPhaseLabel;
    r.run->value_substate = 10;
    r.run->target = &r.target;
    const std::string error = r.Go();
    if (c.after.rfind("30", 0) == 0) {
      EXPECT_EQ(error, c.after);
      continue;
    }
    EXPECT_EQ(error, "");
    EXPECT_EQ(r.target, c.label);
    const Tokens tokens = describe_all(*r.parser);
    EXPECT_EQ(tokens.empty() ? std::string() : tokens.front(), c.after);
  }
}

TEST(VormCodeNames, LabelRefusesCodePointsAbove255InQuotes) {
  const std::u16string text = u"\"a\u0100\"";
  auto p = cParserVormCode::Construct(false);
  cEncoding en;
  ASSERT_GE(en.AttachWideString(text, 0), 0);
  cVormCodeRun run(p.get(), &en, nullptr);
  std::string target;
  run.phases.Push(cnPhaseText);
  run.phase = cnPhaseLabel;
  run.value_substate = 10;
  run.target = &target;
  try {
    run.Run();
    ADD_FAILURE() << "no error";
  } catch (const exError& e) {
    EXPECT_EQ(e.Code(), 300);
    EXPECT_EQ(e.Message(), "{LABEL,STRING,TextPoint:4,ByteOffs:3}");
  }
}

TEST(VormCodeNames, CommentIsRecordedAndEndsAtTheBrace) {
  PhaseRun r(" x\r\n}y", true);
  static const uint8_t kinds[] = {0, 15};
  r.run->NewToken();
  r.run->MapStart("~<", kinds, 2, "{map}");
  r.run->current = '{';
  r.run->EnterComment();
  EXPECT_EQ(r.Go(), "");
  EXPECT_EQ(describe_all(*r.parser), (Tokens{"NONE", "DATA \"y\""}));
  const rTCTagMap* map = r.parser->FirstToken()->map;
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(encoding_to_charstring(map->text), "~<{ x\r\n}");
  std::vector<std::vector<int32_t>> entries;
  for (const rTCTagMapEntry* e = map->entries->First(); e != nullptr; e = e->next)
    entries.push_back({e->kind, e->first, e->length});
  EXPECT_EQ(entries, (std::vector<std::vector<int32_t>>{{0, 1, 1}, {15, 2, 1}, {4, 3, 3}, {3, 6, 2}, {4, 8, 1}}));
  // A comment that does not end before the text does.
  PhaseRun open(" x", false);
  open.run->phases.Push(cnPhaseText);
  open.run->phase = cnPhaseComment;
  EXPECT_EQ(open.Go(), "301 {ph_main=COMMENT}");
}

TEST(VormCodeNames, EmptyPhaseStackIsAPhaseError) {
  PhaseRun r("a b", false);
  r.run->phase = cnPhaseId;
  r.run->target = &r.target;
  // ID pops an empty stack at the blank, then the blank is examined in
  // PHASE_ERROR.
  EXPECT_EQ(r.Go(), "300 {ph_main=PHASE_ERROR}");
  EXPECT_EQ(r.target, "a");
}

TEST(VormCodeNames, SameNameIsExact) {
  EXPECT_TRUE(cParserVormCode::SameName("abc", "abc"));
  EXPECT_FALSE(cParserVormCode::SameName("abc", "ABC"));
  EXPECT_FALSE(cParserVormCode::SameName("abc", "abc "));
  EXPECT_TRUE(cParserVormCode::SameName("", ""));
}

}  // namespace
