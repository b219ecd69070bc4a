// Cost of the bitmap's nearest and bilinear rescale of 32-bit bitmaps of
// 1 MP (1024 x 1024) and 2 MP, shrunk to half and enlarged by 3/2 and by 2 on
// each axis, beside pixman's nearest and bilinear filters scaling the same
// pixels into the same size (operator SRC, edges padded). Both write into
// memory allocated beforehand. The sampling positions differ (pixman samples
// at pixel centres, the bitmap code at its fixed-point steps from the
// corner) but the work per target pixel is the same kind: one source pixel
// copied, or four mixed. Prints the ratios at the end (1.0 = as fast as
// pixman).
#include <benchmark/benchmark.h>
#include <pixman.h>

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
constexpr Size cnSizes[] = {{"1MP", 1024, 1024}, {"2MP", 1632, 1224}};
struct Scale {
  const char* name;
  int32_t num, den;
};
constexpr Scale cnScales[] = {{"down", 1, 2}, {"up", 3, 2}, {"up2", 2, 1}};

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

void run_pixman(benchmark::State& state, const Size& s, const Scale& k, bool bilinear) {
  auto source = source_bitmap(s);
  const int32_t tw = s.w * k.num / k.den, th = s.h * k.num / k.den;
  std::vector<uint32_t> out(size_t(tw) * size_t(th));
  if (source == nullptr) {
    state.SkipWithError("no memory");
    return;
  }
  pixman_image_t* from = pixman_image_create_bits(PIXMAN_a8b8g8r8, s.w, s.h,
                                                  reinterpret_cast<uint32_t*>(source->Data()), int(source->Stride()));
  pixman_image_t* to = pixman_image_create_bits(PIXMAN_a8b8g8r8, tw, th, out.data(), tw * 4);
  pixman_transform_t scale;
  pixman_transform_init_scale(&scale, pixman_double_to_fixed(double(s.w) / tw),
                              pixman_double_to_fixed(double(s.h) / th));
  pixman_image_set_transform(from, &scale);
  pixman_image_set_filter(from, bilinear ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST, nullptr, 0);
  pixman_image_set_repeat(from, PIXMAN_REPEAT_PAD);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, to, 0, 0, 0, 0, 0, 0, tw, th);
    benchmark::DoNotOptimize(out.data());
  }
  pixman_image_unref(to);
  pixman_image_unref(from);
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
        benchmark::RegisterBenchmark(("pixman/" + base).c_str(), run_pixman, s, k, bilinear)
            ->Unit(benchmark::kMillisecond);
        pairs.emplace_back("ours/" + base, "pixman/" + base);
      }
  const int rc = bench::run_with_ratios(argc, argv, pairs);
  framework_stop();
  return rc;
}
