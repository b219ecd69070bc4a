// The heap a formatted and laid-out document holds for mark-up-dense texts:
// many short paragraphs, a long tag table and deeply nested style scopes.
// Every paragraph, tag cell and style switch is a list of its own, so what
// a list costs with its first entry is paid once per item; the bounds
// below are per item, beyond what the parse of the same text holds.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "qlm_encoding.h"
#include "qlm_parser_vormcode.h"
#include "richtext_support.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (its header does not come with g++).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace {

// Bytes of heap in use by the process.
int64_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__)
  return int64_t(__sanitizer_get_current_allocated_bytes());
#else
  return int64_t(mallinfo2().uordblks);
#endif
}

std::string repeat(const std::string& piece, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += piece;
  return s;
}

// Heap held by the document after formatting and layout at 470 pixels, less
// what the parse of the same text alone holds.
int64_t held_beyond_parse(const std::string& markup) {
  int64_t parse = 0;
  {
    const int64_t before = heap_in_use();
    cEncoding enc;
    EXPECT_GE(enc.AttachCharString(markup, 0), 0);
    auto parser = cParserVormCode::Construct(false);
    EXPECT_TRUE(parser->OpenEncoding(&enc, nullptr));
    parse = heap_in_use() - before;
  }
  cFontWinTT font;
  font.SetFace("Arial", 0, 16);
  std::unique_ptr<cRenderer> renderer{renderer_create()};
  renderer->SetFont(&font);
  const int64_t before = heap_in_use();
  auto doc = std::make_unique<cComplexText>();
  EXPECT_TRUE(doc->SetText(markup));
  EXPECT_TRUE(doc->FormatText(renderer.get(), &font, ALIGN_LEFT, ALIGN_TOP, 0, true)) << doc->LastErrorText();
  EXPECT_TRUE(doc->LayoutText(470));
  return heap_in_use() - before - parse;
}

}  // namespace

TEST(RichTextMemory, MarkupDenseDocumentsHoldABoundedHeapPerItem) {
  QLM_REQUIRE_FONTS();
  qlm_renderer_start();
  // Per item with glibc's allocator: 1,218 bytes a short paragraph, 6,747 a
  // tag row and 1,387 a nested scope while every list reserved a whole pool
  // block (and a tag cell's entries a class-6 directory) with its first
  // entry; 706, 2,539 and 1,193 with small pools; 594, 2,203 and 969 once
  // a list of one entry has a one-slot directory in a single block; 562,
  // 2,043 and 905 with runs of 136 bytes instead of 168; 562, 2,011 and
  // 873 with array objects of 88 bytes instead of 96; 323, 883 and 326
  // with lists that hold their first entry inside themselves, runs that
  // hold only what their kind needs, and boxes that hold their runs; 308
  // a paragraph with layout entries of three pointers.
  struct Case {
    const char* name;
    std::string markup;
    int items;
    int64_t bound;  // bytes per item
  } cases[] = {
      {"short paragraphs", repeat("ab~(p)", 20000), 20000, 325},
      {"tag rows", "~[tags]" + repeat("~{tag}-~}row abc ", 20000) + "~]", 20000, 930},
      {"nested scopes", repeat("~<b>", 10000) + "x" + repeat("~>", 10000), 10000, 345},
  };
  for (const Case& c : cases) {
    const int64_t held = held_beyond_parse(c.markup);
    const int64_t per_item = held / c.items;
    EXPECT_LE(per_item, c.bound) << c.name << ": " << held << " bytes for " << c.markup.size() << " bytes of mark-up";
  }
}
