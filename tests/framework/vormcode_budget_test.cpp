// The VormCode parser's memory budget: a text that needs exactly the budget
// parses, one byte less fails cleanly with 299 wherever the cut falls, and
// the estimate the budget counts keeps the real heap use bounded.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qlm_base_flow.h"
#include "qlm_base_util.h"
#include "qlm_encoding.h"
#include "qlm_parser_vormcode.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (its header does not come with g++).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace {

// Bytes of heap in use by the process.
uint64_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

struct Parsed {
  std::unique_ptr<cParserVormCode> parser;
  bool ok = false;
};

// Parses `text` (each byte one code point) with the budget; through a
// memory flow when `flow` is set (embedded data needs one).
Parsed parse(const std::string& text, bool map, uint64_t budget, bool flow = false) {
  Parsed r;
  r.parser = cParserVormCode::Construct(map);
  r.parser->SetBudget(budget);
  if (flow) {
    auto f = cMemoryFlow::ConstructReadOnly(true, text.data(), int64_t(text.size()));
    EXPECT_TRUE(f->Open());
    r.ok = r.parser->OpenFlow(f.get(), nullptr);
  } else {
    cEncoding en;
    EXPECT_GE(en.AttachCharString(text, 0), 0);
    r.ok = r.parser->OpenEncoding(&en, nullptr);
  }
  return r;
}

std::vector<uint8_t> kinds(const cParserVormCode& p) {
  std::vector<uint8_t> out;
  for (const rTCToken* t = p.FirstToken(); t != nullptr; t = t->next) out.push_back(t->kind);
  return out;
}

// The failure a budget of `budget` bytes must give.
void expect_over_budget(const cParserVormCode& p, uint64_t budget, size_t length) {
  EXPECT_EQ(p.LastErrorCode(), errVormCodeParser);
  EXPECT_NE(p.LastErrorText().find("{memory budget exceeded,budget:" + int_to_str(0, 0, int64_t(budget)) + "}"),
            std::string::npos)
      << p.LastErrorText();
  EXPECT_GE(p.ErrorPosition(), 1);
  EXPECT_LE(p.ErrorPosition(), int32_t(length));
  EXPECT_LE(p.Spent(), budget);
}

struct Case {
  std::string text;
  bool map;
  bool flow;
};

const Case kCases[] = {
    {"a b~~c\r\n\t\xA0x", false, false},
    {"~<a=[[[1]],[[2,0x1F]],-1.5e+3]>", false, false},
    {"~<a=((1),(b=(c=2)),x)>", false, false},
    {"~(;;;;)", true, false},
    {"~<a=&t(1,2);b=#v.x[1,#w[2]];c=\"q\"\"r\"+$41%66;d=@l:\"m\";e=id@\"k\";f=*>", true, false},
    {"~{m[1,\"x\",@l]}~{&t(u)=e[2,3]}~{&r=&e(n)}~{#v:&t[4]=(p=1)}", true, false},
    {"~\\s@n<p:t[2,3]=1;q:&t(e)=2>\\ ~\\~s@n\\ ~[s@n<a=1>]x~[~s@n] ~<x=1;#y=2>~<~x;~#y> ~>~]", true, false},
    {"~{d<delimiter=\"END\">}dataEND~{c<delimiter=3>}xyz~(~~~;#v[1].w;&c(1,2);\"t\")", true, true},
};

TEST(VormCodeBudget, StartsAtTheDefaultWithNothingSpent) {
  auto p = cParserVormCode::Construct(false);
  EXPECT_EQ(p->Budget(), cnVormCodeDefaultBudget);
  EXPECT_EQ(cnVormCodeDefaultBudget, uint64_t(256) << 20);
  EXPECT_EQ(p->Spent(), 0u);
}

// A text parses under a budget of exactly what it spends, with the same
// tokens; one byte less fails with 299 and its text, and a further open of
// the failed parser counts on from what it holds, so it fails again.
TEST(VormCodeBudget, ExactBudgetParsesAndOneByteLessFails) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    Parsed full = parse(c.text, c.map, cnVormCodeDefaultBudget, c.flow);
    ASSERT_TRUE(full.ok) << full.parser->LastErrorText();
    const uint64_t spent = full.parser->Spent();
    ASSERT_GT(spent, 0u);

    Parsed exact = parse(c.text, c.map, spent, c.flow);
    EXPECT_TRUE(exact.ok) << exact.parser->LastErrorText();
    EXPECT_EQ(exact.parser->Spent(), spent);
    EXPECT_EQ(kinds(*exact.parser), kinds(*full.parser));

    Parsed under = parse(c.text, c.map, spent - 1, c.flow);
    EXPECT_FALSE(under.ok);
    expect_over_budget(*under.parser, spent - 1, c.text.size());
    cEncoding en;
    ASSERT_GE(en.AttachCharString(c.text, 0), 0);
    EXPECT_FALSE(under.parser->OpenEncoding(&en, nullptr));
    expect_over_budget(*under.parser, spent - 1, c.text.size());
  }
}

// Every budget below what the text spends stops the parse at another
// point; the half-built tokens stay readable and are freed cleanly (the
// sanitizer build checks the frees).
TEST(VormCodeBudget, EveryCutPointFailsCleanly) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    const uint64_t spent = parse(c.text, c.map, cnVormCodeDefaultBudget, c.flow).parser->Spent();
    uint64_t last_spent = 0;
    int distinct = 0;
    for (uint64_t budget = 0; budget < spent; ++budget) {
      Parsed r = parse(c.text, c.map, budget, c.flow);
      ASSERT_FALSE(r.ok);
      expect_over_budget(*r.parser, budget, c.text.size());
      for (const rTCToken* t = r.parser->FirstToken(); t != nullptr; t = t->next) {
        if (t->map != nullptr) {
          EXPECT_NE(t->map->text, nullptr);
          EXPECT_NE(t->map->entries, nullptr);
        }
      }
      if (r.parser->Spent() != last_spent) ++distinct;
      last_spent = r.parser->Spent();
    }
    EXPECT_GT(distinct, 5);
  }
}

// Texts that cost hundreds of bytes per byte (deep lists and records, a
// run of empty statements with syntax maps) and plain short words stop at
// the budget, and the real heap they hold stays within it.
TEST(VormCodeBudget, HostileTextsStopAtTheBudgetAndTheHeapStaysWithinIt) {
  const auto nested = [](const std::string& head, const std::string& open, const std::string& close,
                         const std::string& tail, size_t bytes) {
    std::string block;
    for (int k = 0; k < 100; ++k) block += open;
    block += "1";
    for (int k = 0; k < 100; ++k) block += close;
    block += ",";
    std::string s = head;
    while (s.size() + block.size() + tail.size() <= bytes) s += block;
    return s + tail;
  };
  constexpr size_t kBytes = 1 << 20;
  constexpr uint64_t kBudget = uint64_t(4) << 20;
  std::string words;
  while (words.size() < kBytes) words += "a ";
  const Case hostile[] = {
      {nested("~<a=[", "[", "]", "1]>", kBytes), false, false},
      {nested("~<a=(", "(", ")", "1)>", kBytes), false, false},
      {nested("~<a=(", "(a=", ")", "1)>", kBytes), false, false},
      {"~(" + std::string(kBytes, ';') + ")", true, false},
      {words, false, false},
  };
  for (const Case& c : hostile) {
    SCOPED_TRACE(c.text.substr(0, 8));
    const uint64_t before = heap_in_use();
    Parsed r = parse(c.text, c.map, kBudget);
    const uint64_t held = heap_in_use() - before;
    EXPECT_FALSE(r.ok);
    expect_over_budget(*r.parser, kBudget, c.text.size());
    EXPECT_GT(r.parser->Spent(), kBudget - kBudget / 16);
    EXPECT_LT(r.parser->ErrorPosition(), int32_t(c.text.size() / 4));
    EXPECT_LE(held, kBudget + kBudget / 8) << "held " << held;
  }
}

// The estimate follows the real heap: what a parser holds after a
// successful parse stays within about an eighth above what it counted.
TEST(VormCodeBudget, EstimateCoversTheRealHeap) {
  std::string text;
  while (text.size() < 200000) {
    for (const Case& c : kCases)
      if (!c.flow) text += c.text;
  }
  for (bool map : {false, true}) {
    SCOPED_TRACE(map);
    const uint64_t before = heap_in_use();
    Parsed r = parse(text, map, cnVormCodeDefaultBudget);
    const uint64_t held = heap_in_use() - before;
    ASSERT_TRUE(r.ok) << r.parser->LastErrorText();
    EXPECT_LE(held, r.parser->Spent() + r.parser->Spent() / 8) << "held " << held;
  }
}

}  // namespace
