// Cost of measuring text: TextWidth, TextBounds and TextExtents of 1,000
// characters whose glyphs are cached (the rich-text layout measures every
// run of the install log each second). With kerning off (the default) each
// should stay under 20 µs. The baseline is the bare AGG loop over the same
// glyph cache (lookup, kerning when on, advance) with nothing of the
// renderer around it. With kerning on, FreeType's pair lookup for every
// pair costs more than the rest together, in both.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_ratio.h"
#include "qlm_font.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"

namespace {

// 1,000 characters of install-log text.
const std::string& log_text() {
  static const std::string text = [] {
    const std::string line = "Copying file C:\\Program Files\\Vendor\\App\\data\\AV-Tables.dat (12,345 bytes) ";
    std::string t;
    while (t.size() < 1000) t += line;
    t.resize(1000);
    return t;
  }();
  return text;
}

struct Measuring {
  Measuring() {
    qlm_renderer_start();
    font.SetFace("Arial", 0, 16);
    r.SetFont(&font);
    r.SetTextAlign(ALIGN_CENTER, ALIGN_CENTER);
    r.SetTextAngle(30);
    r.TextWidth(log_text());  // every glyph cached
  }
  cFontWinTT font;
  cRendererSurface r;
};

Measuring& measuring() {
  static Measuring m;
  return m;
}

// Argument: kerning off (0) or on (1).
void BM_TextWidth(benchmark::State& state) {
  Measuring& m = measuring();
  m.r.SetTextKerning(state.range(0) != 0);
  for (auto _ : state) benchmark::DoNotOptimize(m.r.TextWidth(log_text()));
}

void BM_TextBounds(benchmark::State& state) {
  Measuring& m = measuring();
  m.r.SetTextKerning(state.range(0) != 0);
  rRectD b;
  for (auto _ : state) {
    m.r.TextBounds(log_text(), b);
    benchmark::DoNotOptimize(b);
  }
}

void BM_TextExtentsRotated(benchmark::State& state) {
  Measuring& m = measuring();
  m.r.SetTextKerning(state.range(0) != 0);
  rRectD b;
  for (auto _ : state) {
    m.r.TextExtents(log_text(), false, 100, 15, b);
    benchmark::DoNotOptimize(b);
  }
}

// The bare AGG loop: glyph lookup, kerning and advance.
void BM_RawGlyphLoop(benchmark::State& state) {
  Measuring& m = measuring();
  tFontCacheManager& cache = *m.font.GetCacheManager();
  const std::string& text = log_text();
  const bool kerning = state.range(0) != 0;
  for (auto _ : state) {
    cache.reset_last_glyph();
    double x = 0, y = 0;
    for (unsigned char c : text) {
      const agg::glyph_cache* g = cache.glyph(c);
      if (g == nullptr) continue;
      if (kerning) cache.add_kerning(&x, &y);
      x += g->advance_x;
      y += g->advance_y;
    }
    benchmark::DoNotOptimize(x);
  }
}

BENCHMARK(BM_TextWidth)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextBounds)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextExtentsRotated)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawGlyphLoop)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(argc, argv,
                                {{"BM_TextWidth/0", "BM_RawGlyphLoop/0"},
                                 {"BM_TextBounds/0", "BM_RawGlyphLoop/0"},
                                 {"BM_TextExtentsRotated/0", "BM_RawGlyphLoop/0"},
                                 {"BM_TextWidth/1", "BM_RawGlyphLoop/1"},
                                 {"BM_TextBounds/1", "BM_RawGlyphLoop/1"},
                                 {"BM_TextExtentsRotated/1", "BM_RawGlyphLoop/1"}});
}
