// Gradient fills of a 500 x 500 square on a BGRA surface, linear along y and
// radial with a focus (the button faces' two gradients), through the
// renderer (DrawRectangle with the fill gradient) beside the raw AGG
// gradient pipeline of the same picture (span_gradient with AGG's
// 256-entry table, span_interpolator_linear, the concrete pixel format).
//
// Linear gradients along x, along y and along a diagonal over a 500 x 360
// rectangle, the same three stops (and along x with translucent stops,
// blended over what the surface holds), beside cairo filling the same
// rectangle with a linear pattern on an ARGB32 image surface.
#include <cairo.h>

#include <memory>

#include "bench_ratio.h"
#include "bench_renderer.h"
#include "cairo_fill.h"
#include "qlm_gradient.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"

namespace {

constexpr int kSize = 500;
constexpr int kWide = 500;
constexpr int kHigh = 360;

struct Fixture : rBenchTarget {
  Fixture() : rBenchTarget(kSize, kSize) {}
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

// The same three colours at alpha 0x80, 0xC0 and 0x40.
template <class G>
void translucent_stops(G& g) {
  g.AddStopARGB(0x803060C0, 0.0);
  g.AddStopARGB(0xC0FFFFFF, 0.5);
  g.AddStopARGB(0x40102040, 1.0);
}

// The diagonal: the axis of the rectangle's diagonal, (0, 0) to (500, 360).
constexpr double kDiagonalDegrees = 35.75;

// A renderer's detach detaches its surface too: each run binds both again.
bool bind(benchmark::State& state, Fixture& f, cRendererSurface& r) {
  if (f.surface.Attach(f.bitmap.get(), true) && r.AttachSurface(&f.surface)) return true;
  state.SkipWithError(r.LastErrorText().c_str());
  return false;
}

// 0: linear y; 1: radial focus (radius 100, d1 40).
void BM_GradientFill(benchmark::State& state) {
  Fixture& f = fixture();
  cRendererSurface r;
  if (!bind(state, f, r)) return;
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

// 500 x 360, 0: linear along x; 1: linear along y; 2: linear along the
// diagonal; 3: linear along x with translucent stops.
void BM_GradientLinear(benchmark::State& state) {
  Fixture& f = fixture();
  cRendererSurface r;
  if (!bind(state, f, r)) return;
  r.PenOff();
  cGradientLinearX along_x(0, 100);
  cGradientLinearY along_y(0, 100);
  if (state.range(0) == 3)
    translucent_stops(along_x);
  else
    stops(along_x);
  stops(along_y);
  if (state.range(0) == 2) along_x.Rotate(kDiagonalDegrees);
  if (state.range(0) == 1)
    r.SetFillGradient(&along_y);
  else
    r.SetFillGradient(&along_x);
  for (auto _ : state) {
    r.DrawRectangle(nullptr, 0, 0, kWide, kHigh);
    benchmark::DoNotOptimize(f.bitmap->Data());
  }
  r.ResetFillGradient(false);
  r.DetachSurface();
}
BENCHMARK(BM_GradientLinear)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

void BM_CairoLinear(benchmark::State& state) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kSize, kSize);
  cairo_t* cr = cairo_create(surface);
  const int64_t which = state.range(0);
  cairo_pattern_t* pattern = which == 1   ? cairo_pattern_create_linear(0, 0, 0, kHigh)
                             : which == 2 ? cairo_pattern_create_linear(0, 0, kWide, kHigh)
                                          : cairo_pattern_create_linear(0, 0, kWide, 0);
  const double alpha[3] = {which == 3 ? 0x80 / 255.0 : 1.0, which == 3 ? 0xC0 / 255.0 : 1.0,
                           which == 3 ? 0x40 / 255.0 : 1.0};
  cairo_pattern_add_color_stop_rgba(pattern, 0.0, 0x30 / 255.0, 0x60 / 255.0, 0xC0 / 255.0, alpha[0]);
  cairo_pattern_add_color_stop_rgba(pattern, 0.5, 1, 1, 1, alpha[1]);
  cairo_pattern_add_color_stop_rgba(pattern, 1.0, 0x10 / 255.0, 0x20 / 255.0, 0x40 / 255.0, alpha[2]);
  cairo_set_source(cr, pattern);
  bench::time_cairo_fill(state, cr, surface, kWide, kHigh);
  cairo_pattern_destroy(pattern);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}
BENCHMARK(BM_CairoLinear)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(argc, argv,
                                {{"BM_GradientFill/0", "BM_RawGradient/0"},
                                 {"BM_GradientFill/1", "BM_RawGradient/1"},
                                 {"BM_GradientLinear/0", "BM_CairoLinear/0"},
                                 {"BM_GradientLinear/1", "BM_CairoLinear/1"},
                                 {"BM_GradientLinear/2", "BM_CairoLinear/2"},
                                 {"BM_GradientLinear/3", "BM_CairoLinear/3"}});
}
