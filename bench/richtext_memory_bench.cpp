// Heap held by rich-text documents full of mark-up, against their size: a
// plain text of the same size, 200,000 short paragraphs, a tag table of
// 200,000 rows and 100,000 nested style scopes. Each document is set,
// formatted with a 16-pixel Arial and laid out at 470 pixels; the program
// counts every heap block (malloc and its kin are wrapped below, so the
// figures are exact and do not depend on the allocator's arenas) and prints
// per document, in multiples of its size:
//   - the peak of the whole (parser, walk, boxes);
//   - the rich-text share: the peak less the peak of the VormCode parse of
//     the same text alone, the part this library's containers account for;
//     for the mark-up documents also in bytes per paragraph, row or scope.
// Not a timing benchmark: one pass per document.
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "qlm_colors.h"
#include "qlm_complex_text.h"
#include "qlm_encoding.h"
#include "qlm_font.h"
#include "qlm_parser_vormcode.h"
#include "qlm_renderer.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"

// ---------------------------------------------------------------------------
// Counting heap: every block's usable size while it lives.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace {
std::atomic<int64_t> g_in_use{0};
std::atomic<int64_t> g_peak{0};

void count(int64_t delta) {
  const int64_t now = g_in_use.fetch_add(delta, std::memory_order_relaxed) + delta;
  int64_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}
void* counted(void* p) {
  if (p != nullptr) count(int64_t(malloc_usable_size(p)));
  return p;
}
}  // namespace

extern "C" {
void* malloc(size_t n) { return counted(__libc_malloc(n)); }
void* calloc(size_t n, size_t size) { return counted(__libc_calloc(n, size)); }
void free(void* p) {
  if (p != nullptr) count(-int64_t(malloc_usable_size(p)));
  __libc_free(p);
}
void* realloc(void* p, size_t n) {
  const int64_t before = p != nullptr ? int64_t(malloc_usable_size(p)) : 0;
  void* q = __libc_realloc(p, n);
  if (q == nullptr) return nullptr;
  count(int64_t(malloc_usable_size(q)) - before);
  return q;
}
void* memalign(size_t alignment, size_t n) { return counted(__libc_memalign(alignment, n)); }
void* aligned_alloc(size_t alignment, size_t n) { return counted(__libc_memalign(alignment, n)); }
int posix_memalign(void** out, size_t alignment, size_t n) {
  void* p = counted(__libc_memalign(alignment, n));
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}

namespace {

// Heap above `base` at its peak since the peak was last reset.
int64_t peak_above(int64_t base) { return g_peak.load() - base; }
int64_t reset_peak() {
  const int64_t now = g_in_use.load();
  g_peak.store(now);
  return now;
}

struct Document {
  const char* name;
  std::string text;
  int items;  // paragraphs, rows or scopes (0: plain text)
};

std::string repeat(const std::string& piece, int n) {
  std::string s;
  s.reserve(piece.size() * size_t(n));
  for (int i = 0; i < n; ++i) s += piece;
  return s;
}

// Words and line breaks, no mark-up, about 1 MB.
std::string plain_text() {
  std::string s;
  const char* words[] = {"the ", "software ", "is ", "licensed ", "not ", "sold ", "and ", "may "};
  for (int i = 0; s.size() < 1000000; ++i) {
    s += words[i % 8];
    if (i % 13 == 12) s += "\n";
  }
  return s;
}

struct Figures {
  int64_t whole = 0;
  int64_t parse = 0;
};

Figures measure(const std::string& text, cRenderer* renderer, cFont* font) {
  Figures f;
  {
    const int64_t base = reset_peak();
    cEncoding enc;
    enc.AttachCharString(text, 0);
    auto parser = cParserVormCode::Construct(false);
    if (!parser->OpenEncoding(&enc, nullptr)) std::printf("  (the parse failed)\n");
    f.parse = peak_above(base);
  }
  {
    const int64_t base = reset_peak();
    auto doc = std::make_unique<cComplexText>();
    const bool ok =
        doc->SetText(text) && doc->FormatText(renderer, font, ALIGN_LEFT, ALIGN_TOP, 0, true) && doc->LayoutText(470);
    if (!ok) std::printf("  (formatting failed: %s)\n", doc->LastErrorText().c_str());
    f.whole = peak_above(base);
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  framework_start(argc, argv);
  qlm_renderer_start();
  qlm_colors_start();
  cFontWinTT font;
  font.SetFace("Arial", 0, 16);
  std::unique_ptr<cRenderer> renderer{renderer_create()};
  renderer->SetFont(&font);
  const Document docs[] = {
      {"plain text", plain_text(), 0},
      {"200,000 short paragraphs", repeat("ab~(p)", 200000), 200000},
      {"200,000 tag rows", "~[tags]" + repeat("~{tag}-~}row abc ", 200000) + "~]", 200000},
      {"100,000 nested scopes", repeat("~<b>", 100000) + "x" + repeat("~>", 100000), 100000},
  };
  std::printf("%-26s %10s %12s %8s %12s %8s %9s\n", "document", "input", "peak", "x input", "rich text", "x input",
              "per item");
  for (const Document& d : docs) {
    const Figures f = measure(d.text, renderer.get(), &font);
    const double in = double(d.text.size());
    std::printf("%-26s %8.2f MB %9.1f MB %8.1f %9.1f MB %8.1f", d.name, in / 1e6, double(f.whole) / 1e6,
                double(f.whole) / in, double(f.whole - f.parse) / 1e6, double(f.whole - f.parse) / in);
    if (d.items > 0)
      std::printf(" %9.1f\n", double(f.whole - f.parse) / d.items);
    else
      std::printf(" %9s\n", "-");
  }
  renderer.reset();
  framework_stop();
  return 0;
}
