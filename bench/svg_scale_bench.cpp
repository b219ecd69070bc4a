// How loading and drawing an SVG document grow with its size: nesting depth
// of groups (20,000 and 40,000), stops of one gradient (4,000 and 8,000) and
// the length of one path attribute (1 MB and 2 MB). Each benchmark loads the
// document and draws it on a 64 x 64 bitmap. At the end, for each pair, the
// time at the larger size divided by the time at the smaller one: about 2
// when the work is linear in the size (4 when quadratic).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_ratio.h"
#include "qlm_base_flow.h"
#include "qlm_colors.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"
#include "qlm_svg.h"

namespace {

const char* kHead = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\">";

std::string nested_groups(int depth) {
  std::string text = kHead;
  text += "<g fill=\"#ff0000\">";
  for (int i = 1; i < depth; ++i) text += "<g>";
  text += "<rect x=\"10\" y=\"10\" width=\"40\" height=\"40\"/>";
  for (int i = 0; i < depth; ++i) text += "</g>";
  return text + "</svg>";
}

std::string many_stops(int stops) {
  std::string text = kHead;
  text += "<defs><linearGradient id=\"g\" gradientUnits=\"userSpaceOnUse\" x1=\"0\" x2=\"64\">";
  for (int i = 0; i < stops; ++i)
    text += "<stop offset=\"" + std::to_string(double(i) / (stops - 1)) + "\" stop-color=\"" +
            (i % 2 != 0 ? "#0000ff" : "#00ff00") + "\"/>";
  return text + "</linearGradient></defs><rect width=\"64\" height=\"64\" fill=\"url(#g)\"/></svg>";
}

std::string long_path(size_t bytes) {
  std::string text = kHead;
  text += "<path fill=\"#00ff00\" d=\"M10 10";
  while (text.size() < bytes) text += " l1 0 l-1 0";
  return text + " H50 V50 H10 Z\"/></svg>";
}

void load_and_draw(benchmark::State& state, const std::string& text) {
  auto bitmap = std::make_unique<cBitmap>(64, 64, cnBitmap32BGRA);
  bitmap->Create();
  cSurfaceBitmap surface;
  surface.Attach(bitmap.get(), true);
  cRendererSurface r;
  r.AttachSurface(&surface);
  for (auto _ : state) {
    cImageSVG svg;
    auto flow = cMemoryFlow::ConstructReadOnly(true, text.data(), int64_t(text.size()));
    flow->Open();
    if (!svg.Open(flow.get(), nullptr)) {
      state.SkipWithError("load failed");
      return;
    }
    r.DrawSVG(&svg, nullptr, 0, 0, nullptr);
    benchmark::DoNotOptimize(bitmap->Data());
  }
}

void BM_NestedGroups(benchmark::State& state) { load_and_draw(state, nested_groups(int(state.range(0)))); }
BENCHMARK(BM_NestedGroups)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);

void BM_GradientStops(benchmark::State& state) { load_and_draw(state, many_stops(int(state.range(0)))); }
BENCHMARK(BM_GradientStops)->Arg(4000)->Arg(8000)->Unit(benchmark::kMillisecond);

void BM_PathAttribute(benchmark::State& state) { load_and_draw(state, long_path(size_t(state.range(0)))); }
BENCHMARK(BM_PathAttribute)->Arg(1 << 20)->Arg(2 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  framework_start(argc, argv);
  qlm_renderer_start();
  qlm_colors_start();
  qlm_svg_start();
  // Interleaved repetitions by default, as every benchmark program runs.
  std::vector<char*> args = bench::with_default_repetitions(argc, argv);
  int count = int(args.size()) - 1;
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\nCPU time at the doubled size / CPU time at the size (2 = linear, 4 = quadratic):\n");
  const char* pairs[][2] = {{"BM_NestedGroups/20000", "BM_NestedGroups/40000"},
                            {"BM_GradientStops/4000", "BM_GradientStops/8000"},
                            {"BM_PathAttribute/1048576", "BM_PathAttribute/2097152"}};
  for (const auto& [small, large] : pairs) {
    const auto a = reporter.times.find(small);
    const auto b = reporter.times.find(large);
    if (a == reporter.times.end() || b == reporter.times.end() || a->second.cpu.empty() || b->second.cpu.empty())
      continue;
    const double ta = bench::median(a->second.cpu), tb = bench::median(b->second.cpu);
    if (ta <= 0) continue;
    std::printf("%-26s %9.3f ms  %-26s %9.3f ms  ratio %.2f\n", small, ta, large, tb, tb / ta);
  }
  return 0;
}
