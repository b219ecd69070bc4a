// Cost of making fonts. The first SetFace of the process starts fontconfig,
// runs its first match and opens the face: it is timed once, before the
// benchmarks, and should stay under 50 ms. After that a face change that the
// resolver's cache serves (the engine keeps the faces open) should stay under
// 50 µs; a fresh font object and a resolver run without the cache are timed
// beside it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "bench_ratio.h"
#include "qlm_font_engine.h"
#include "qlm_font_resolver.h"
#include "qlm_startup.h"

namespace {

// Two faces in turn on one font: each call re-creates the font.
void BM_SetFaceCached(benchmark::State& state) {
  cFontWinTT font;
  bool flip = false;
  for (auto _ : state) {
    font.SetFace(flip ? "Arial" : "Verdana", 0, 12);
    flip = !flip;
  }
  if (font.CreationCount() != uint64_t(state.iterations())) state.SkipWithError("a face change created nothing");
}

// Three faces, styles and sizes in turn (a page's heading, body and
// monospace): each call re-creates the font from kept answers.
void BM_SetFaceMixed(benchmark::State& state) {
  struct Face {
    const char* name;
    uint8_t style;
    double size;
  };
  static const Face faces[] = {{"Verdana", 0, 12}, {"Arial", cnFontBold, 18}, {"DejaVu Sans Mono", 0, 13}};
  cFontWinTT font;
  size_t i = 0;
  for (auto _ : state) {
    const Face& f = faces[i++ % 3];
    font.SetFace(f.name, f.style, f.size);
  }
  if (font.CreationCount() != uint64_t(state.iterations())) state.SkipWithError("a face change created nothing");
}

// The renderer's hinting change: the same name re-applied with the flag set.
void BM_SetNameRecreate(benchmark::State& state) {
  cFontWinTT font;
  font.SetFace("Arial", 0, 16);
  for (auto _ : state) {
    font.mRecreate = true;
    font.SetName("Arial");
  }
}

// A new font object each time (its FreeType library and engine included).
void BM_NewFontSetFace(benchmark::State& state) {
  for (auto _ : state) {
    auto font = std::make_unique<cFontWinTT>();
    font->SetFace("Arial", cnFontBold, 32);
    benchmark::DoNotOptimize(font->GetAscent());
  }
}

// fontconfig's match alone, the cache cleared before each.
void BM_ResolveUncached(benchmark::State& state) {
  rFontFace face;
  for (auto _ : state) {
    font_resolver_clear_cache();
    benchmark::DoNotOptimize(font_resolve("Tahoma", cnFontBold, face));
  }
}

BENCHMARK(BM_SetFaceCached)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetFaceMixed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetNameRecreate)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NewFontSetFace)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ResolveUncached)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  framework_start(argc, argv);
  const auto t0 = std::chrono::steady_clock::now();
  qlm_font_start();
  {
    cFontWinTT first;
    first.SetFace("Verdana", 0, 12);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("first SetFace of the process (fontconfig start included): %.2f ms (limit 50 ms)%s\n", ms,
                first.CreationCount() == 1 ? "" : " FAILED to create");
  }
  const int rc = bench::run_with_ratios(argc, argv, {});
  framework_stop();
  return rc;
}
