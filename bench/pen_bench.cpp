// The pen painters, each beside its raw AGG twin on a 1024 x 768 BGRA
// surface:
// - strokes of width 3 around seeded 10-vertex polygons of 8, 32 and
//   128 px (RenderPath, mode 2) beside raw conv_stroke + scan lines;
// - a 10,000-segment dashed polyline beside raw conv_dash + conv_stroke;
// - a 1,000-segment hairline (the pen's outline flag) beside raw
//   rasterizer_outline_aa over the same stroke;
// - a 1,000-px patterned line beside raw renderer_outline_image;
// - the 32-px strokes with start and end arrows beside the raw strokes plus
//   the raw arrows (what markers cost beyond their own shapes).
#include <random>
#include <vector>

#include "bench_ratio.h"
#include "bench_renderer.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"

namespace {

constexpr int kW = 1024;
constexpr int kH = 768;
const double kApprox = std::hypot(1.0, 1.0) * 0.7071068 * 2.0;
const agg::rgba8 kPen(30, 90, 200, 255);

struct Fixture : rBenchTarget {
  Fixture() : rBenchTarget(kW, kH) {}
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

class cPenBench : public cRendererSurface {
 public:
  void Stroke(agg::path_storage& p) {
    SetCurrentPath(&p, 0, 0);
    RenderPath(2, nullptr, true, true, nullptr);
  }
};

// A renderer bound to the fixture's bitmap.
struct Bound {
  Bound() {
    surface.Attach(fixture().bitmap.get(), true);
    r.AttachSurface(&surface);
    r.FillOff();
    r.SetPenColor(renderer_color(kPen.r, kPen.g, kPen.b, kPen.a));
  }
  ~Bound() { r.DetachSurface(); }
  cSurfaceBitmap surface;
  cPenBench r;
};

// The raw twin's pixel format over the same bitmap.
struct Raw {
  Raw() : rb(fixture().bitmap->Data(), kW, kH, fixture().bitmap->Stride()), pf(rb), base(pf) {
    ras.clip_box(0, 0, kW, kH);
  }
  agg::rendering_buffer rb;
  agg::pixfmt_bgra32 pf;
  agg::renderer_base<agg::pixfmt_bgra32> base;
  qlm_agg::rasterizer ras;
  agg::scanline_u8 sl;
  template <class VS>
  void Fill(VS& vs) {
    ras.reset();
    ras.add_path(vs);
    agg::render_scanlines_aa_solid(ras, sl, base, kPen);
  }
};

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

// A zig-zag polyline of `segments` segments across the surface.
agg::path_storage zigzag(int segments, double step) {
  agg::path_storage p;
  std::mt19937 rng(77);
  std::uniform_real_distribution<double> dy(-40, 40);
  double x = 10, y = kH / 2.0;
  p.move_to(x, y);
  for (int i = 0; i < segments; ++i) {
    x += step;
    if (x > kW - 10) x = 10 + std::fmod(x, 7.0);
    y = std::clamp(y + dy(rng), 20.0, kH - 20.0);
    p.line_to(x, y);
  }
  return p;
}

// --- Strokes ---------------------------------------------------------------------

void BM_Stroke(benchmark::State& state) {
  std::vector<agg::path_storage> shapes = polygons(double(state.range(0)));
  Bound b;
  b.r.SetPenWidth(3);
  for (auto _ : state)
    for (agg::path_storage& p : shapes) b.r.Stroke(p);
}
BENCHMARK(BM_Stroke)->Arg(8)->Arg(32)->Arg(128);

void BM_RawStroke(benchmark::State& state) {
  std::vector<agg::path_storage> shapes = polygons(double(state.range(0)));
  Raw raw;
  for (auto _ : state)
    for (agg::path_storage& p : shapes) {
      agg::conv_curve<agg::path_storage> curve(p);
      agg::conv_stroke<agg::conv_curve<agg::path_storage>> stroke(curve);
      stroke.width(3);
      stroke.approximation_scale(kApprox);
      raw.Fill(stroke);
    }
}
BENCHMARK(BM_RawStroke)->Arg(8)->Arg(32)->Arg(128);

// --- Dashes ----------------------------------------------------------------------

void BM_Dashed(benchmark::State& state) {
  agg::path_storage p = zigzag(10000, 9);
  Bound b;
  b.r.SetPenWidth(1.5);
  b.r.AddDash(6, 3);
  for (auto _ : state) b.r.Stroke(p);
}
BENCHMARK(BM_Dashed);

void BM_RawDashed(benchmark::State& state) {
  agg::path_storage p = zigzag(10000, 9);
  Raw raw;
  for (auto _ : state) {
    agg::conv_curve<agg::path_storage> curve(p);
    agg::conv_dash<agg::conv_curve<agg::path_storage>> dash(curve);
    dash.add_dash(6, 3);
    agg::conv_stroke<decltype(dash)> stroke(dash);
    stroke.width(1.5);
    stroke.approximation_scale(kApprox);
    raw.Fill(stroke);
  }
}
BENCHMARK(BM_RawDashed);

// --- Hairline outlines -------------------------------------------------------------------

void BM_Hairline(benchmark::State& state) {
  agg::path_storage p = zigzag(1000, 11);
  Bound b;
  b.r.SetPenOutline(true);
  for (auto _ : state) b.r.Stroke(p);
}
BENCHMARK(BM_Hairline);

void BM_RawHairline(benchmark::State& state) {
  agg::path_storage p = zigzag(1000, 11);
  Raw raw;
  agg::line_profile_aa profile(1.0, agg::gamma_none());
  for (auto _ : state) {
    agg::conv_curve<agg::path_storage> curve(p);
    agg::conv_stroke<agg::conv_curve<agg::path_storage>> stroke(curve);
    stroke.width(1.6);
    stroke.approximation_scale(kApprox);
    agg::renderer_outline_aa<decltype(raw.base)> ren(raw.base, profile);
    ren.color(kPen);
    agg::rasterizer_outline_aa<decltype(ren)> ras(ren);
    ras.add_path(stroke);
  }
}
BENCHMARK(BM_RawHairline);

// --- Pen patterns -------------------------------------------------------------------

void stripes(cRenderer* r, void*) {
  r->PenOff();
  r->SetFillColor(renderer_color(250, 250, 250, 255));
  r->DrawRectangle(nullptr, 0, 0, 64, 64);
  r->SetFillColor(renderer_color(200, 10, 10, 255));
  r->DrawRectangle(nullptr, 0, 0, 4, 64);
}

agg::path_storage long_line() {
  agg::path_storage p;
  p.move_to(12, 100.5);
  p.line_to(1012, 700.5);  // 1,166 px
  return p;
}

void BM_PatternLine(benchmark::State& state) {
  agg::path_storage p = long_line();
  Bound b;
  b.r.SetPenPatternCallback(stripes, nullptr, 12, 8);
  for (auto _ : state) b.r.Stroke(p);
}
BENCHMARK(BM_PatternLine);

void BM_RawPatternLine(benchmark::State& state) {
  agg::path_storage p = long_line();
  Raw raw;
  // The same tile, made once.
  rgba8_tile tile(12, 8);
  cSurfacePatternRGBA surface;
  surface.Attach(&tile);
  cRendererSurface nested;
  nested.AttachSurface(&surface);
  stripes(&nested, nullptr);
  nested.DetachSurface();
  struct src_t {
    const rgba8_tile* t;
    double width() const { return t->Width(); }
    double height() const { return t->Height(); }
    agg::rgba8 pixel(int x, int y) const {
      const uint32_t v = t->Pixel(x, y);
      return agg::rgba8(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, v >> 24);
    }
  } src{&tile};
  agg::pattern_filter_bilinear_rgba8 filter;
  agg::line_image_pattern<agg::pattern_filter_bilinear_rgba8> pattern(filter, src);
  for (auto _ : state) {
    agg::renderer_outline_image<decltype(raw.base), decltype(pattern)> ren(raw.base, pattern);
    agg::rasterizer_outline_aa<decltype(ren)> ras(ren);
    ras.round_cap(true);
    ras.add_path(p);
  }
}
BENCHMARK(BM_RawPatternLine);

// --- Markers ---------------------------------------------------------------------------

void BM_StrokeWithMarkers(benchmark::State& state) {
  std::vector<agg::path_storage> shapes = polygons(32);
  for (agg::path_storage& p : shapes) p.end_poly(agg::path_flags_none);  // open: both ends marked
  Bound b;
  b.r.SetPenWidth(3);
  b.r.StartMarkerOn();
  b.r.EndMarkerOn();
  for (auto _ : state)
    for (agg::path_storage& p : shapes) b.r.Stroke(p);
}
BENCHMARK(BM_StrokeWithMarkers);

void BM_RawStrokeAndArrows(benchmark::State& state) {
  std::vector<agg::path_storage> shapes = polygons(32);
  Raw raw;
  // The arrows of width 3: scale 3^0.7.
  const double s = std::pow(3.0, 0.7);
  agg::path_storage arrow;
  arrow.move_to(-4 * s, 0), arrow.line_to(4 * s, -3 * s), arrow.line_to(2 * s, 0), arrow.line_to(4 * s, 3 * s);
  arrow.close_polygon();
  for (auto _ : state)
    for (agg::path_storage& p : shapes) {
      agg::conv_curve<agg::path_storage> curve(p);
      agg::conv_stroke<agg::conv_curve<agg::path_storage>, agg::vcgen_markers_term> stroke(curve);
      stroke.width(3);
      stroke.approximation_scale(kApprox);
      raw.Fill(stroke);
      agg::conv_curve<agg::path_storage> shape(arrow);
      agg::conv_marker<agg::vcgen_markers_term, agg::conv_curve<agg::path_storage>> placed(stroke.markers(), shape);
      raw.Fill(placed);
    }
}
BENCHMARK(BM_RawStrokeAndArrows);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(argc, argv,
                                {{"BM_Stroke/8", "BM_RawStroke/8"},
                                 {"BM_Stroke/32", "BM_RawStroke/32"},
                                 {"BM_Stroke/128", "BM_RawStroke/128"},
                                 {"BM_Dashed", "BM_RawDashed"},
                                 {"BM_Hairline", "BM_RawHairline"},
                                 {"BM_PatternLine", "BM_RawPatternLine"},
                                 {"BM_StrokeWithMarkers", "BM_RawStrokeAndArrows"}});
}
