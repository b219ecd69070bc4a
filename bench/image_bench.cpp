// Image drawing beside raw AGG: a 1024 x 768 picture drawn with DrawImage
// onto a 1024 x 768 BGRA surface at scale 1 (filter kind 0: bilinear) and at
// scale 0.25 (filter kind 5: the affine resampler), each beside the raw AGG
// pipeline of the same generator over the picture already in RGBA. The
// renderer's runs count the bitmap conversions: an unchanged bitmap is
// converted once, whatever the number of draws (counter "conversions").
// A 512 x 384 picture drawn at 2x with the bilinear filter beside cairo
// doing the same (goal: 1.2x cairo's throughput or more), and the 1024 x 768
// picture drawn at 0.5x with the bilinear filter beside cairo (goal: as fast
// as cairo or faster).
#include <cairo.h>

#include <cstring>
#include <vector>

#include "bench_ratio.h"
#include "bench_renderer.h"
#include "cairo_fill.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_surface.h"
#include "qlm_startup.h"

namespace {

constexpr int kW = 1024;
constexpr int kH = 768;

class cCountingRenderer : public cRendererSurface {
 public:
  int64_t Conversions() const { return mImageBuffer.ConversionCount(); }
};

struct Fixture : rBenchTarget {
  Fixture() : rBenchTarget(kW, kH) {
    picture = std::make_unique<cBitmap>(kW, kH, cnBitmap32BGRA);
    picture->Create();
    rgba.resize(size_t(kW) * kH * 4);
    uint32_t v = 12345;
    for (int y = 0; y < kH; ++y) {
      uint8_t* p = picture->Data() + int64_t(y) * picture->Stride();
      for (int x = 0; x < kW * 4; ++x) {
        v = v * 1103515245u + 12345u;
        p[x] = uint8_t(v >> 16);
      }
      for (int x = 0; x < kW; ++x) {  // opaque, as photographs are
        p[x * 4 + 3] = 255;
        uint8_t* q = &rgba[(size_t(y) * kW + x) * 4];
        q[0] = p[x * 4 + 2], q[1] = p[x * 4 + 1], q[2] = p[x * 4], q[3] = 255;
      }
    }
  }
  std::unique_ptr<cBitmap> picture;
  std::vector<uint8_t> rgba;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// state.range(0): 1 for scale 1 (bilinear), 4 for scale 0.25 (filter 5).
void BM_DrawImage(benchmark::State& state) {
  Fixture& f = fixture();
  const double shrink = double(state.range(0));
  cCountingRenderer r;
  // A renderer's detach detaches its surface too: bound again per run.
  if (!f.surface.Attach(f.bitmap.get(), true) || !r.AttachSurface(&f.surface)) {
    state.SkipWithError(r.LastErrorText().c_str());
    return;
  }
  if (shrink > 1) r.SetImageFilter(5);
  for (auto _ : state) {
    r.DrawImage(f.picture.get(), false, 0, 0, kW / shrink, kH / shrink, nullptr);
    benchmark::DoNotOptimize(f.bitmap->Data());
  }
  state.counters["conversions"] = double(r.Conversions());
  r.DetachSurface();
}
BENCHMARK(BM_DrawImage)->Arg(1)->Arg(4);

void BM_RawImage(benchmark::State& state) {
  Fixture& f = fixture();
  const double shrink = double(state.range(0));
  agg::rendering_buffer src(f.rgba.data(), kW, kH, kW * 4);
  agg::pixfmt_rgba32 src_pf(src);
  using accessor_type = agg::image_accessor_clip<agg::pixfmt_rgba32>;
  accessor_type acc(src_pf, agg::rgba8(0, 0, 0, 0));
  agg::rendering_buffer rb(f.bitmap->Data(), kW, kH, f.bitmap->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> ras;
  ras.clip_box(0, 0, kW, kH);
  agg::scanline_u8 sl;
  agg::span_allocator<agg::rgba8> alloc;
  agg::image_filter_lut lut(agg::image_filter_bicubic(), true);
  for (auto _ : state) {
    const double x2 = kW / shrink, y2 = kH / shrink;
    double parl[6] = {0, 0, x2, 0, x2, y2};
    agg::trans_affine m(0, 0, kW, kH, parl);
    m.invert();
    agg::span_interpolator_linear<> interp(m);
    agg::path_storage p;
    p.move_to(0, 0), p.line_to(x2, 0), p.line_to(x2, y2), p.line_to(0, y2), p.close_polygon();
    ras.reset();
    ras.add_path(p);
    if (shrink > 1) {
      agg::span_image_resample_rgba_affine<accessor_type> gen(acc, interp, lut);
      agg::render_scanlines_aa(ras, sl, base, alloc, gen);
    } else {
      agg::span_image_filter_rgba_bilinear<accessor_type, agg::span_interpolator_linear<>> gen(acc, interp);
      agg::render_scanlines_aa(ras, sl, base, alloc, gen);
    }
    benchmark::DoNotOptimize(f.bitmap->Data());
  }
}
BENCHMARK(BM_RawImage)->Arg(1)->Arg(4);

// A 512 x 384 picture (the top left quarter of the fixture's) drawn at 2x
// onto the 1024 x 768 surface with the bilinear filter, beside cairo
// painting the same pixels through a 2x scale with its bilinear filter.
constexpr int kSmallW = kW / 2;
constexpr int kSmallH = kH / 2;

void BM_DrawImageDouble(benchmark::State& state) {
  Fixture& f = fixture();
  cBitmap small(kSmallW, kSmallH, cnBitmap32BGRA);
  small.Create();
  for (int y = 0; y < kSmallH; ++y)
    std::memcpy(small.Data() + int64_t(y) * small.Stride(), f.picture->Data() + int64_t(y) * f.picture->Stride(),
                size_t(kSmallW) * 4);
  cCountingRenderer r;
  if (!f.surface.Attach(f.bitmap.get(), true) || !r.AttachSurface(&f.surface)) {
    state.SkipWithError(r.LastErrorText().c_str());
    return;
  }
  for (auto _ : state) {
    r.DrawImage(&small, false, 0, 0, kW, kH, nullptr);
    benchmark::DoNotOptimize(f.bitmap->Data());
  }
  r.DetachSurface();
}
BENCHMARK(BM_DrawImageDouble);

// Cairo drawing the top left w x h of the picture through a scale with its
// bilinear filter onto a 1024 x 768 surface, timed as the benches time it.
void cairo_picture_scaled(benchmark::State& state, int w, int h, double scale) {
  Fixture& f = fixture();
  cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
  cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_surface_flush(picture);
  for (int y = 0; y < h; ++y)
    std::memcpy(cairo_image_surface_get_data(picture) + int64_t(y) * cairo_image_surface_get_stride(picture),
                f.picture->Data() + int64_t(y) * f.picture->Stride(), size_t(w) * 4);
  cairo_surface_mark_dirty(picture);
  cairo_t* cr = cairo_create(target);
  cairo_scale(cr, scale, scale);
  cairo_set_source_surface(cr, picture, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
  bench::time_cairo_fill(state, cr, target, w, h);
  cairo_destroy(cr);
  cairo_surface_destroy(picture);
  cairo_surface_destroy(target);
}

void BM_CairoImageDouble(benchmark::State& state) { cairo_picture_scaled(state, kSmallW, kSmallH, 2); }
BENCHMARK(BM_CairoImageDouble);

// The whole 1024 x 768 picture drawn at 0.5x onto the surface's top left
// quarter with the bilinear filter (kind 0), beside cairo drawing it
// through a 0.5 scale with its bilinear filter.
void BM_DrawImageHalf(benchmark::State& state) {
  Fixture& f = fixture();
  cCountingRenderer r;
  if (!f.surface.Attach(f.bitmap.get(), true) || !r.AttachSurface(&f.surface)) {
    state.SkipWithError(r.LastErrorText().c_str());
    return;
  }
  for (auto _ : state) {
    r.DrawImage(f.picture.get(), false, 0, 0, kW / 2.0, kH / 2.0, nullptr);
    benchmark::DoNotOptimize(f.bitmap->Data());
  }
  r.DetachSurface();
}
BENCHMARK(BM_DrawImageHalf);

void BM_CairoImageHalf(benchmark::State& state) { cairo_picture_scaled(state, kW, kH, 0.5); }
BENCHMARK(BM_CairoImageHalf);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(argc, argv,
                                {{"BM_DrawImage/1", "BM_RawImage/1"},
                                 {"BM_DrawImage/4", "BM_RawImage/4"},
                                 {"BM_DrawImageDouble", "BM_CairoImageDouble"},
                                 {"BM_DrawImageHalf", "BM_CairoImageHalf"}});
}
