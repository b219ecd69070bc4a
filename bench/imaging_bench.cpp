// Cost of the bitmap's nearest and bilinear rescale of 32-bit bitmaps of
// 2 MP and 12 MP, shrunk to half and enlarged by 3/2 on each axis, beside
// stb_image_resize at the same sizes (box filter beside nearest, triangle
// beside bilinear). Both write into memory allocated beforehand. The filters
// differ, so this compares cost only, not quality. Prints the ratios at the
// end (1.0 = as fast as stb).
#include <benchmark/benchmark.h>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench_ratio.h"
#include "qlm_bitmap.h"
#include "qlm_startup.h"

namespace {

struct Size {
  const char* name;
  int32_t w, h;
};
constexpr Size cnSizes[] = {{"2MP", 1632, 1224}, {"12MP", 4000, 3000}};
struct Scale {
  const char* name;
  int32_t num, den;
};
constexpr Scale cnScales[] = {{"down", 1, 2}, {"up", 3, 2}};

std::unique_ptr<cBitmap> source_bitmap(const Size& s) {
  auto b = std::make_unique<cBitmap>(s.w, s.h, cnBitmap32RGBA);
  if (!b->Create()) return nullptr;
  uint8_t* p = b->Data();
  for (int64_t i = 0; i < b->DataSize(); ++i) p[i] = uint8_t(i * 131 + (i >> 12) * 7);
  return b;
}

void run_ours(benchmark::State& state, const Size& s, const Scale& k, bool bilinear) {
  auto source = source_bitmap(s);
  auto target = std::make_unique<cBitmap>(s.w * k.num / k.den, s.h * k.num / k.den, cnBitmap32RGBA);
  if (source == nullptr || !target->Create()) {
    state.SkipWithError("no memory");
    return;
  }
  for (auto _ : state) {
    const bool ok = bilinear ? bitmap_bilinear(source.get(), target.get()) : bitmap_resize(source.get(), target.get());
    if (!ok) state.SkipWithError("resize failed");
    benchmark::DoNotOptimize(target->Data());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(target->Width()) * target->Height());
}

void run_stb(benchmark::State& state, const Size& s, const Scale& k, bool bilinear) {
  auto source = source_bitmap(s);
  const int32_t tw = s.w * k.num / k.den, th = s.h * k.num / k.den;
  std::vector<uint8_t> out(size_t(tw) * size_t(th) * 4);
  if (source == nullptr) {
    state.SkipWithError("no memory");
    return;
  }
  for (auto _ : state) {
    const int ok = stbir_resize_uint8_generic(source->Data(), s.w, s.h, source->Stride(), out.data(), tw, th, tw * 4,
                                              4, 3, 0, STBIR_EDGE_CLAMP,
                                              bilinear ? STBIR_FILTER_TRIANGLE : STBIR_FILTER_BOX,
                                              STBIR_COLORSPACE_LINEAR, nullptr);
    if (!ok) state.SkipWithError("stbir failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(tw) * th);
}

}  // namespace

int main(int argc, char** argv) {
  framework_start(argc, argv);
  qlm_bitmap_start();
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const Size& s : cnSizes)
    for (const Scale& k : cnScales)
      for (const bool bilinear : {false, true}) {
        const std::string base = std::string(bilinear ? "bilinear" : "nearest") + "/" + s.name + "/" + k.name;
        benchmark::RegisterBenchmark(("ours/" + base).c_str(), run_ours, s, k, bilinear)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("stb/" + base).c_str(), run_stb, s, k, bilinear)->Unit(benchmark::kMillisecond);
        pairs.emplace_back("ours/" + base, "stb/" + base);
      }
  const int rc = bench::run_with_ratios(argc, argv, pairs);
  framework_stop();
  return rc;
}
