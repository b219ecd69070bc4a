// Gradient fills of a 500 x 500 square on a BGRA surface, linear along y and
// radial with a focus (the button faces' two gradients), through the
// renderer (DrawRectangle with the fill gradient) beside the raw AGG
// gradient pipeline of the same picture (span_gradient with AGG's
// 256-entry table, span_interpolator_linear, the concrete pixel format).
#include <memory>

#include "bench_ratio.h"
#include "qlm_gradient.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"

namespace {

constexpr int kSize = 500;

struct Fixture {
  Fixture() {
    static bool started = [] {
      framework_start(0, nullptr);
      qlm_renderer_start();
      return true;
    }();
    (void)started;
    bitmap = std::make_unique<cBitmap>(kSize, kSize, cnBitmap32BGRA);
    bitmap->Create();
    surface.Attach(bitmap.get(), true);
  }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

template <class G>
void stops(G& g) {
  g.AddStopARGB(0xFF3060C0, 0.0);
  g.AddStopARGB(0xFFFFFFFF, 0.5);
  g.AddStopARGB(0xFF102040, 1.0);
}

// 0: linear y; 1: radial focus (radius 100, d1 40).
void BM_GradientFill(benchmark::State& state) {
  Fixture& f = fixture();
  cRendererSurface r;
  r.AttachSurface(&f.surface);
  r.PenOff();
  cGradientLinearY linear(0, 100);
  cGradientRadialFocus radial(true, 100, 0, 0);
  stops(linear);
  stops(radial);
  radial.SetD1(40);
  if (state.range(0) == 0)
    r.SetFillGradient(&linear);
  else
    r.SetFillGradient(&radial);
  for (auto _ : state) r.DrawRectangle(nullptr, 0, 0, kSize, kSize);
  r.ResetFillGradient(false);
  r.DetachSurface();
}
BENCHMARK(BM_GradientFill)->Arg(0)->Arg(1);

template <class GradientF>
void raw_fill(benchmark::State& state, GradientF& function, const double* rect, double d1) {
  Fixture& f = fixture();
  agg::rendering_buffer rb(f.bitmap->Data(), kSize, kSize, f.bitmap->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  agg::gradient_lut<agg::color_interpolator<agg::rgba8>, 256> lut;
  lut.add_color(0.0, agg::rgba8(0x30, 0x60, 0xC0));
  lut.add_color(0.5, agg::rgba8(0xFF, 0xFF, 0xFF));
  lut.add_color(1.0, agg::rgba8(0x10, 0x20, 0x40));
  lut.build_lut();
  const double parl[6] = {0, 0, kSize, 0, kSize, kSize};
  agg::trans_affine mtx(parl, rect[0], rect[1], rect[2], rect[3]);
  agg::span_interpolator_linear<> interp(mtx);
  agg::span_gradient<agg::rgba8, agg::span_interpolator_linear<>, GradientF, decltype(lut)> sg(interp, function, lut,
                                                                                                 d1, 100);
  agg::span_allocator<agg::rgba8> alloc;
  agg::rasterizer_scanline_aa<> ras;
  agg::scanline_u8 sl;
  for (auto _ : state) {
    ras.reset();
    ras.move_to_d(0, 0);
    ras.line_to_d(kSize, 0);
    ras.line_to_d(kSize, kSize);
    ras.line_to_d(0, kSize);
    agg::render_scanlines_aa(ras, sl, base, alloc, sg);
  }
}

void BM_RawGradient(benchmark::State& state) {
  if (state.range(0) == 0) {
    agg::gradient_y fy;
    const double rect[4] = {0, 0, 100, 100};
    raw_fill(state, fy, rect, 0);
  } else {
    agg::gradient_radial_focus fr(100, 0, 0);
    const double rect[4] = {-100, -100, 100, 100};
    raw_fill(state, fr, rect, 40);
  }
}
BENCHMARK(BM_RawGradient)->Arg(0)->Arg(1);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(argc, argv,
                                {{"BM_GradientFill/0", "BM_RawGradient/0"}, {"BM_GradientFill/1", "BM_RawGradient/1"}});
}
