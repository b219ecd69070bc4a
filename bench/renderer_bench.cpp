// The renderer's surfaces and AGG layer, each case beside its yardstick:
// - MaskedCopyIn and CopyRowsOut of a 1024 x 768 BGRA surface beside memcpy
//   of the same bytes (the clip layer's write-back and copy-out);
// - a clip pass of a button-sized clip;
// - a long path through the drawing chain beside raw conv_transform chains;
// - attaching and detaching a renderer (a scene does it every frame);
// - filling shapes through the type-erased target beside the same scene
//   through AGG's concrete pixel format (the cost of one indirect call per
//   span);
// - RenderPath filling seeded 10-vertex polygons of 8, 32 and 128 px beside
//   a raw AGG fill of the same polygons; a 200 x 50 filter layer round trip;
//   a pattern fill beside a raw span pattern; 1,000 glyph-sized shapes
//   registered in a hit test beside the same shapes drawn without one;
// - 1,000 anti-aliased circles (opaque and at alpha 128) and 1,000 width-3
//   polylines beside cairo drawing the same shapes (at least 1.2x cairo);
// - rectangle fills beside cairo's: 1,000 at fractional positions, 1,000 on
//   whole pixels, one opaque over the whole surface and one at alpha 128
//   (at least 1.2x cairo).
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "bench_ratio.h"
#include "bench_renderer.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_surface.h"
#include "qlm_startup.h"

namespace {

constexpr int kW = 1024;
constexpr int kH = 768;

struct Fixture : rBenchTarget {
  Fixture() : rBenchTarget(kW, kH) {
    layer.assign(size_t(kW) * kH * 4, 0x80);
    // A clip mask as the renderer makes them: an ellipse, 255 inside, 0
    // outside, anti-aliased along the edge.
    mask.assign(size_t(kW) * kH, 0);
    agg::rendering_buffer rb(mask.data(), kW, kH, kW);
    agg::pixfmt_gray8 pf(rb);
    agg::renderer_base<agg::pixfmt_gray8> base(pf);
    qlm_agg::rasterizer ras;
    agg::scanline_u8 sl;
    agg::ellipse e(kW / 2.0, kH / 2.0, kW * 0.45, kH * 0.45, 256);
    ras.add_path(e);
    agg::render_scanlines_aa_solid(ras, sl, base, agg::gray8(255));
  }
  std::vector<uint8_t> layer;
  std::vector<uint8_t> mask;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_MaskedCopyIn(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    f.surface.MaskedCopyIn(f.layer.data(), f.mask.data(), kW, true);
    benchmark::DoNotOptimize(f.bitmap->Data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_MaskedCopyIn);

void BM_CopyRowsOut(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    f.surface.CopyRowsOut(f.layer.data(), kW);
    benchmark::DoNotOptimize(f.layer.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_CopyRowsOut);

void BM_Memcpy(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    std::memcpy(f.bitmap->Data(), f.layer.data(), size_t(kW) * kH * 4);
    benchmark::DoNotOptimize(f.bitmap->Data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kW * kH * 4);
}
BENCHMARK(BM_Memcpy);

// A scene of many small anti-aliased shapes plus one large one.
template <class RenBase>
void fill_scene(RenBase& base) {
  qlm_agg::rasterizer ras;
  ras.clip_box(0, 0, kW, kH);
  agg::scanline_u8 sl;
  for (int i = 0; i < 200; ++i) {
    agg::ellipse e(20 + (i * 37) % (kW - 40), 20 + (i * 53) % (kH - 40), 18, 12);
    ras.reset();
    ras.add_path(e);
    agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(i & 255, 128, 40, 200));
  }
  agg::ellipse big(kW / 2.0, kH / 2.0, kW * 0.4, kH * 0.4, 200);
  ras.reset();
  ras.add_path(big);
  agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(20, 80, 200, 160));
}

void BM_FillErased(benchmark::State& state) {
  Fixture& f = fixture();
  qlm_agg::renderer_any base(*f.surface.GetPixelFormat(0));
  for (auto _ : state) fill_scene(base);
}
BENCHMARK(BM_FillErased);

void BM_FillRawAgg(benchmark::State& state) {
  Fixture& f = fixture();
  agg::rendering_buffer rb(f.bitmap->Data(), kW, kH, f.bitmap->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  for (auto _ : state) fill_scene(base);
}
BENCHMARK(BM_FillRawAgg);

// A scene's frame without drawing: bind the bitmap, attach (which resets all
// drawing state), detach. Target: well below 20 us.
void BM_AttachDetach500x360(benchmark::State& state) {
  fixture();
  cBitmap bitmap(500, 360, cnBitmap32BGRA);
  bitmap.Create();
  cSurfaceBitmap surface;
  cRendererSurface renderer;
  for (auto _ : state) {
    surface.Attach(&bitmap, true);
    renderer.AttachSurface(&surface);
    renderer.DetachSurface();
  }
}
BENCHMARK(BM_AttachDetach500x360);

// One clip pass of a 200 x 50 button clip on a 1024 x 768 surface: mask,
// copy-in and write-back (the drawing itself excluded). Target: < 0.1 ms.
class cClipBench : public cRendererSurface {
 public:
  void Pass() {
    ClipRect(100.5, 100.5, 300.5, 150.5);
    BeginDraw();
    EndDraw();
    ResetClipping(true);  // writes back and forgets the shape
  }
};

void BM_ClipPass200x50(benchmark::State& state) {
  Fixture& f = fixture();
  cClipBench r;
  r.AttachSurface(&f.surface);
  for (auto _ : state) r.Pass();
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_ClipPass200x50);

// A 10,000-vertex path through the drawing chain with 0, 1 and 3 stages
// (affine; affine, perspective, affine) beside raw conv_transform chains of
// the same mappings.
agg::path_storage& long_path() {
  static agg::path_storage p = [] {
    agg::path_storage s;
    s.move_to(0, 0);
    for (int i = 1; i < 10000; ++i) s.line_to(i % 97, (i * 31) % 89);
    return s;
  }();
  return p;
}

agg::path_storage& curve_path() {
  static agg::path_storage p = [] {
    agg::path_storage s;
    for (int i = 0; i < 10000; ++i) {
      const double a = i * 2 * 3.14159265358979323846 / 10000;
      const double r = 40 + 8 * std::sin(a * 7);
      if (i == 0)
        s.move_to(50 + r * std::cos(a), 50 + r * std::sin(a));
      else
        s.line_to(50 + r * std::cos(a), 50 + r * std::sin(a));
    }
    return s;
  }();
  return p;
}

class cChainBench : public cRendererSurface {
 public:
  explicit cChainBench(int stages) {
    if (stages >= 1) Rotate(30);
    if (stages >= 3) {
      const double quad[8] = {0, 0, 110, 5, 100, 95, 3, 100};
      AddPerspective(quad, 0, 0, 100, 100);
      Scale(1.5, 1.5);
    }
    SetMatrix({1, 0, 0, 1, 0.5, 0.5}, false);
  }
  double Run() {
    rTransformChain chain = Chain(true);
    agg::conv_transform<agg::path_storage, rTransformChain> t(long_path(), chain);
    double x, y, sum = 0;
    t.rewind(0);
    while (!agg::is_stop(t.vertex(&x, &y))) sum += x + y;
    return sum;
  }
  unsigned Rasterise(agg::rasterizer_scanline_aa<>& ras) {
    rTransformChain chain = Chain(true);
    agg::conv_transform<agg::path_storage, rTransformChain> t(curve_path(), chain);
    ras.reset();
    ras.add_path(t);
    return unsigned(ras.max_x() - ras.min_x());
  }
};

template <class Source>
double drain(Source& s) {
  double x, y, sum = 0;
  s.rewind(0);
  while (!agg::is_stop(s.vertex(&x, &y))) sum += x + y;
  return sum;
}

void BM_Chain(benchmark::State& state) {
  cChainBench r(int(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(r.Run());
}
BENCHMARK(BM_Chain)->Arg(0)->Arg(1)->Arg(3);

void BM_RawChain(benchmark::State& state) {
  agg::trans_affine device = agg::trans_affine_translation(0.5, 0.5);
  agg::trans_affine rot = agg::trans_affine_rotation(30 * 3.14159265358979323846 / 180);
  agg::trans_affine scale = agg::trans_affine_scaling(1.5, 1.5);
  const double quad[8] = {0, 0, 110, 5, 100, 95, 3, 100};
  qlm_agg::perspective persp;
  persp.rect_to_quad(0, 0, 100, 100, quad);
  for (auto _ : state) {
    if (state.range(0) == 0) {
      agg::conv_transform<agg::path_storage> d(long_path(), device);
      benchmark::DoNotOptimize(drain(d));
    } else if (state.range(0) == 1) {
      agg::conv_transform<agg::path_storage> a(long_path(), rot);
      agg::conv_transform<decltype(a)> d(a, device);
      benchmark::DoNotOptimize(drain(d));
    } else {
      agg::conv_transform<agg::path_storage> a(long_path(), rot);
      agg::conv_transform<decltype(a), qlm_agg::perspective> p(a, persp);
      agg::conv_transform<decltype(p)> s2(p, scale);
      agg::conv_transform<decltype(s2)> d(s2, device);
      benchmark::DoNotOptimize(drain(d));
    }
  }
}
BENCHMARK(BM_RawChain)->Arg(0)->Arg(1)->Arg(3);

// The same chains feeding a rasteriser, as drawing uses them, with a
// flattened curve of 10,000 short steps (about one cell per vertex, so the
// mapping is a visible share of the work). The bare drain above sums the
// vertices in a loop whose only other work is the mapping: any call in it
// (the perspective step, or the general step loop) makes the compiler keep
// the sum in memory, which a consumer that does real work per vertex never
// notices.
template <class Source>
unsigned rasterise(agg::rasterizer_scanline_aa<>& ras, Source& s) {
  ras.reset();
  ras.add_path(s);
  return unsigned(ras.max_x() - ras.min_x());
}

void BM_ChainRaster(benchmark::State& state) {
  cChainBench r(int(state.range(0)));
  agg::rasterizer_scanline_aa<> ras;
  for (auto _ : state) benchmark::DoNotOptimize(r.Rasterise(ras));
}
BENCHMARK(BM_ChainRaster)->Arg(0)->Arg(1)->Arg(3);

void BM_RawChainRaster(benchmark::State& state) {
  agg::trans_affine device = agg::trans_affine_translation(0.5, 0.5);
  agg::trans_affine rot = agg::trans_affine_rotation(30 * 3.14159265358979323846 / 180);
  agg::trans_affine scale = agg::trans_affine_scaling(1.5, 1.5);
  const double quad[8] = {0, 0, 110, 5, 100, 95, 3, 100};
  qlm_agg::perspective persp;
  persp.rect_to_quad(0, 0, 100, 100, quad);
  agg::rasterizer_scanline_aa<> ras;
  for (auto _ : state) {
    if (state.range(0) == 0) {
      agg::conv_transform<agg::path_storage> d(curve_path(), device);
      benchmark::DoNotOptimize(rasterise(ras, d));
    } else if (state.range(0) == 1) {
      agg::conv_transform<agg::path_storage> a(curve_path(), rot);
      agg::conv_transform<decltype(a)> d(a, device);
      benchmark::DoNotOptimize(rasterise(ras, d));
    } else {
      agg::conv_transform<agg::path_storage> a(curve_path(), rot);
      agg::conv_transform<decltype(a), qlm_agg::perspective> p(a, persp);
      agg::conv_transform<decltype(p)> s2(p, scale);
      agg::conv_transform<decltype(s2)> d(s2, device);
      benchmark::DoNotOptimize(rasterise(ras, d));
    }
  }
}
BENCHMARK(BM_RawChainRaster)->Arg(0)->Arg(1)->Arg(3);

// --- The drawing core ---------------------------------------------------------------

std::vector<agg::path_storage> polygons(double size, int count = 64) {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<double> pos(0, kW - size), off(0, size);
  std::vector<agg::path_storage> out(static_cast<size_t>(count));
  for (agg::path_storage& p : out) {
    const double x = pos(rng), y = pos(rng) * kH / kW;
    p.move_to(x + off(rng), y + off(rng));
    for (int i = 1; i < 10; ++i) p.line_to(x + off(rng), y + off(rng));
    p.close_polygon();
  }
  return out;
}

class cDrawBench : public cRendererSurface {
 public:
  void Fill(agg::path_storage& p, cHitTest* hit = nullptr) {
    SetCurrentPath(&p, 0, 0);
    RenderPath(1, hit, true, true, nullptr);
  }
  void Layer() {
    const double r[4] = {100, 100, 300, 150};
    BeginFilterLayer(r);
    EndFilterLayer();
  }
};

void noop_filter(cBitmap*, bool&, void*) {}

void BM_RenderPathFill(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<agg::path_storage> shapes = polygons(double(state.range(0)));
  cDrawBench r;
  r.AttachSurface(&f.surface);
  r.PenOff();
  r.SetFillColor(renderer_color(200, 90, 30, 200));
  for (auto _ : state)
    for (agg::path_storage& p : shapes) r.Fill(p);
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_RenderPathFill)->Arg(8)->Arg(32)->Arg(128);

void BM_RawFill(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<agg::path_storage> shapes = polygons(double(state.range(0)));
  agg::rendering_buffer rb(f.bitmap->Data(), kW, kH, f.bitmap->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  qlm_agg::rasterizer ras;
  ras.clip_box(0, 0, kW, kH);
  agg::scanline_u8 sl;
  for (auto _ : state)
    for (agg::path_storage& p : shapes) {
      ras.reset();
      ras.add_path(p);
      agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(200, 90, 30, 200));
    }
}
BENCHMARK(BM_RawFill)->Arg(8)->Arg(32)->Arg(128);

// A 200 x 50 filter layer: made, cleared, handed to the callback and blended
// back. Target: < 0.1 ms.
void BM_FilterLayer200x50(benchmark::State& state) {
  Fixture& f = fixture();
  cDrawBench r;
  r.AttachSurface(&f.surface);
  r.SetFilterCallback(noop_filter, 0, nullptr);
  for (auto _ : state) r.Layer();
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_FilterLayer200x50);

void pattern_tile(cRenderer* r, void*) {
  r->Clear(renderer_color(0, 0, 0, 255));
  r->ClipRect(0, 0, 8, 8);
  r->ClearClipArea(renderer_color(255, 0, 0, 255));
  r->ResetClipping(true);
}

void BM_PatternFill(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<agg::path_storage> shapes = polygons(128);
  cDrawBench r;
  r.AttachSurface(&f.surface);
  r.PenOff();
  r.SetFillPatternCallback(16, 16, pattern_tile, nullptr);
  for (auto _ : state)
    for (agg::path_storage& p : shapes) r.Fill(p);
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_PatternFill);

void BM_RawSpanPattern(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<agg::path_storage> shapes = polygons(128);
  std::vector<uint8_t> tile(16 * 16 * 4, 0x7F);
  agg::rendering_buffer tb(tile.data(), 16, 16, 64);
  agg::pixfmt_rgba32 tpf(tb);
  agg::rendering_buffer rb(f.bitmap->Data(), kW, kH, f.bitmap->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  qlm_agg::rasterizer ras;
  ras.clip_box(0, 0, kW, kH);
  agg::scanline_u8 sl;
  agg::span_allocator<agg::rgba8> alloc;
  using acc_t =
      agg::image_accessor_wrap<agg::pixfmt_rgba32, agg::wrap_mode_repeat_auto_pow2, agg::wrap_mode_repeat_auto_pow2>;
  acc_t acc(tpf);
  for (auto _ : state)
    for (agg::path_storage& p : shapes) {
      agg::span_pattern_rgba<acc_t> sg(acc, 3, 5);
      ras.reset();
      ras.add_path(p);
      agg::render_scanlines_aa(ras, sl, base, alloc, sg);
    }
}
BENCHMARK(BM_RawSpanPattern);

// 1,000 glyph-sized shapes (8 px) laid out as text (25 lines of 40, 10 px
// advance, 14 px line height) with and without a hit test.
std::vector<agg::path_storage> glyph_lines() {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> off(0, 8);
  std::vector<agg::path_storage> out(static_cast<size_t>(1000));
  for (size_t i = 0; i < out.size(); ++i) {
    const double x = 20.0 + double(i % 40) * 10, y = 20.0 + double(i / 40) * 14;
    out[i].move_to(x + off(rng), y + off(rng));
    for (int k = 1; k < 10; ++k) out[i].line_to(x + off(rng), y + off(rng));
    out[i].close_polygon();
  }
  return out;
}

void BM_HitRegistration(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<agg::path_storage> shapes = glyph_lines();
  cDrawBench r;
  r.AttachSurface(&f.surface);
  r.PenOff();
  for (auto _ : state) {
    cHitTest hit;
    for (agg::path_storage& p : shapes) r.Fill(p, state.range(0) ? &hit : nullptr);
  }
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_HitRegistration)->Arg(0)->Arg(1);

// DrawCircle at r = 10 beside raw AGG: arc, rasteriser, solid fill.
void BM_DrawCircle(benchmark::State& state) {
  Fixture& f = fixture();
  cRendererSurface r;
  r.AttachSurface(&f.surface);
  r.PenOff();
  for (auto _ : state)
    for (int i = 0; i < 64; ++i) r.DrawCircle(nullptr, 20 + i * 15, 300, 10);
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_DrawCircle);

void BM_RawCircle(benchmark::State& state) {
  Fixture& f = fixture();
  agg::rendering_buffer rb(f.bitmap->Data(), kW, kH, f.bitmap->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  qlm_agg::rasterizer ras;
  ras.clip_box(0, 0, kW, kH);
  agg::scanline_u8 sl;
  for (auto _ : state)
    for (int i = 0; i < 64; ++i) {
      agg::arc a(20 + i * 15, 300, 10, 10, 2 * 3.14159265358979323846, 0, false);
      a.approximation_scale(2.0);
      ras.reset();
      ras.add_path(a);
      agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(255, 255, 255, 255));
    }
}
BENCHMARK(BM_RawCircle);

// 1,000 anti-aliased circles (r = 10, opaque, then at alpha 128) and 1,000
// polylines of 10 points at width 3, ours beside cairo filling or stroking
// the same shapes on an ARGB32 image surface of the same size.
struct Shapes {
  std::vector<double> circles;    // x, y
  std::vector<double> polylines;  // 10 points x, y each
};
const Shapes& shapes() {
  static const Shapes s = [] {
    Shapes out;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> px(15, kW - 15), py(15, kH - 15), step(-30, 30);
    for (int i = 0; i < 1000; ++i) out.circles.insert(out.circles.end(), {px(rng), py(rng)});
    for (int i = 0; i < 1000; ++i) {
      double x = px(rng), y = py(rng);
      for (int k = 0; k < 10; ++k) {
        out.polylines.insert(out.polylines.end(), {x, y});
        x = std::clamp(x + step(rng), 0.0, double(kW)), y = std::clamp(y + step(rng), 0.0, double(kH));
      }
    }
    return out;
  }();
  return s;
}

// 0: opaque circles, 1: circles at alpha 128, 2: polylines.
void BM_Shapes(benchmark::State& state) {
  Fixture& f = fixture();
  const Shapes& s = shapes();
  cRendererSurface r;
  r.AttachSurface(&f.surface);
  const int kind = int(state.range(0));
  if (kind == 2) {
    r.FillOff();
    r.SetPenWidth(3);
    r.SetPenColor(renderer_color(20, 40, 200, 255));
  } else {
    r.PenOff();
    r.SetFillColor(renderer_color(200, 40, 20, kind == 1 ? 128 : 255));
  }
  for (auto _ : state) {
    if (kind == 2)
      for (size_t i = 0; i < s.polylines.size(); i += 20) r.DrawPolyline(&s.polylines[i], 10, nullptr);
    else
      for (size_t i = 0; i < s.circles.size(); i += 2) r.DrawCircle(nullptr, s.circles[i], s.circles[i + 1], 10);
    benchmark::DoNotOptimize(f.bitmap->Data());
  }
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_Shapes)->Arg(0)->Arg(1)->Arg(2);

void BM_CairoShapes(benchmark::State& state) {
  const Shapes& s = shapes();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
  cairo_t* cr = cairo_create(surface);
  const int kind = int(state.range(0));
  if (kind == 2) {
    cairo_set_source_rgb(cr, 20 / 255.0, 40 / 255.0, 200 / 255.0);
    cairo_set_line_width(cr, 3);
    // Our pen's joins: mitred, cut at 4 times the width (cairo's own
    // default limit is 10, which mitres more of the polylines' sharp turns).
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cr, cRendererSurface().GetMiterLimit());
  } else {
    cairo_set_source_rgba(cr, 200 / 255.0, 40 / 255.0, 20 / 255.0, kind == 1 ? 128 / 255.0 : 1.0);
  }
  for (auto _ : state) {
    if (kind == 2) {
      for (size_t i = 0; i < s.polylines.size(); i += 20) {
        cairo_move_to(cr, s.polylines[i], s.polylines[i + 1]);
        for (size_t k = 2; k < 20; k += 2) cairo_line_to(cr, s.polylines[i + k], s.polylines[i + k + 1]);
        cairo_stroke(cr);
      }
    } else {
      for (size_t i = 0; i < s.circles.size(); i += 2) {
        cairo_arc(cr, s.circles[i], s.circles[i + 1], 10, 0, 2 * 3.14159265358979323846);
        cairo_fill(cr);
      }
    }
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}
BENCHMARK(BM_CairoShapes)->Arg(0)->Arg(1)->Arg(2);

// Rectangle fills, ours beside cairo's on a surface of the same size, the
// same rectangles in the same colours on both sides:
// 0: 1,000 opaque rectangles (5 to 60 px a side) at fractional positions,
// 1: the same rectangles moved onto whole pixels,
// 2: one opaque rectangle over the whole surface,
// 3: one over the whole surface at alpha 128.
struct Rects {
  std::vector<double> fractional;  // x1, y1, x2, y2
  std::vector<double> whole;
};
const Rects& rects() {
  static const Rects r = [] {
    Rects out;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> px(0, kW - 60), py(0, kH - 60), side(5, 60);
    for (int i = 0; i < 1000; ++i) {
      const double x = px(rng), y = py(rng), w = side(rng), h = side(rng);
      out.fractional.insert(out.fractional.end(), {x, y, x + w, y + h});
      out.whole.insert(out.whole.end(), {std::floor(x), std::floor(y), std::floor(x + w), std::floor(y + h)});
    }
    return out;
  }();
  return r;
}

// The list of rectangles of a case and the alpha of its colour.
const std::vector<double>& rect_list(int kind) {
  static const std::vector<double> full = {0, 0, double(kW), double(kH)};
  return kind == 0 ? rects().fractional : kind == 1 ? rects().whole : full;
}
constexpr uint8_t rect_alpha(int kind) { return kind == 3 ? 128 : 255; }

void BM_Rects(benchmark::State& state) {
  Fixture& f = fixture();
  const int kind = int(state.range(0));
  const std::vector<double>& list = rect_list(kind);
  cRendererSurface r;
  r.AttachSurface(&f.surface);
  r.PenOff();
  r.SetFillColor(renderer_color(40, 120, 200, rect_alpha(kind)));
  for (auto _ : state) {
    for (size_t i = 0; i < list.size(); i += 4)
      r.DrawRectangle(nullptr, list[i], list[i + 1], list[i + 2], list[i + 3]);
    benchmark::DoNotOptimize(f.bitmap->Data());
  }
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_Rects)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

void BM_CairoRects(benchmark::State& state) {
  const int kind = int(state.range(0));
  const std::vector<double>& list = rect_list(kind);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kW, kH);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgba(cr, 40 / 255.0, 120 / 255.0, 200 / 255.0, rect_alpha(kind) / 255.0);
  for (auto _ : state) {
    for (size_t i = 0; i < list.size(); i += 4) {
      cairo_rectangle(cr, list[i], list[i + 1], list[i + 2] - list[i], list[i + 3] - list[i + 1]);
      cairo_fill(cr);
    }
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}
BENCHMARK(BM_CairoRects)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(argc, argv,
                                {{"BM_MaskedCopyIn", "BM_Memcpy"},
                                 {"BM_CopyRowsOut", "BM_Memcpy"},
                                 {"BM_FillErased", "BM_FillRawAgg"},
                                 {"BM_Chain/0", "BM_RawChain/0"},
                                 {"BM_Chain/1", "BM_RawChain/1"},
                                 {"BM_Chain/3", "BM_RawChain/3"},
                                 {"BM_ChainRaster/0", "BM_RawChainRaster/0"},
                                 {"BM_ChainRaster/1", "BM_RawChainRaster/1"},
                                 {"BM_ChainRaster/3", "BM_RawChainRaster/3"},
                                 {"BM_RenderPathFill/8", "BM_RawFill/8"},
                                 {"BM_RenderPathFill/32", "BM_RawFill/32"},
                                 {"BM_RenderPathFill/128", "BM_RawFill/128"},
                                 {"BM_PatternFill", "BM_RawSpanPattern"},
                                 {"BM_HitRegistration/1", "BM_HitRegistration/0"},
                                 {"BM_DrawCircle", "BM_RawCircle"},
                                 {"BM_Shapes/0", "BM_CairoShapes/0"},
                                 {"BM_Shapes/1", "BM_CairoShapes/1"},
                                 {"BM_Shapes/2", "BM_CairoShapes/2"},
                                 {"BM_Rects/0", "BM_CairoRects/0"},
                                 {"BM_Rects/1", "BM_CairoRects/1"},
                                 {"BM_Rects/2", "BM_CairoRects/2"},
                                 {"BM_Rects/3", "BM_CairoRects/3"}});
}
