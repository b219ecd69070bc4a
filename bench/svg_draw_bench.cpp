// SVG drawings: a logo-like drawing (filled and stroked curved paths, each
// with its own transform) drawn with DrawSVG beside raw AGG over the same
// path storage and attribute records (curve, transform, stroke, the solid
// scanline renderer over the concrete BGRA pixel format), and the page
// scene: a cleared page with the logo drawn sized through a glow filter
// (the filter layer blurred with AGG's stack blur).
#include <random>
#include <string>

#include "bench_ratio.h"
#include "bench_renderer.h"
#include "qlm_base_flow.h"
#include "qlm_colors.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_surface.h"
#include "qlm_startup.h"
#include "qlm_svg.h"

// After the renderer headers: AGG's blur header uses renderer_base without
// including it.
#include <agg_blur.h>

namespace {

constexpr int kW = 800;
constexpr int kH = 600;

// About 40 closed curved shapes of 20-60 px, half of them stroked.
std::string logo_document() {
  std::mt19937 rng(47);
  std::uniform_real_distribution<double> u(0, 1);
  auto n = [&](double lo, double hi) { return std::to_string(int(lo + (hi - lo) * u(rng))); };
  std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\">";
  const char* colours[] = {"#1f4e79", "#c00000", "#70ad47", "#ffc000", "#7030a0"};
  for (int i = 0; i < 40; ++i) {
    const int x = int(20 + 260 * u(rng)), y = int(20 + 160 * u(rng)), r = int(10 + 20 * u(rng));
    s += "<path transform=\"translate(" + std::to_string(x) + "," + std::to_string(y) + ")\" d=\"M" +
         std::to_string(-r) + ",0 C" + std::to_string(-r) + "," + n(-40, -10) + " " + std::to_string(r) + "," +
         n(-40, -10) + " " + std::to_string(r) + ",0 C" + std::to_string(r) + "," + n(10, 40) + " " +
         std::to_string(-r) + "," + n(10, 40) + " " + std::to_string(-r) + ",0 Z\" fill=\"" + colours[i % 5] + "\"";
    if (i % 2 == 0) s += " stroke=\"#000000\" stroke-width=\"2\"";
    s += "/>";
  }
  return s + "</svg>";
}

struct Fixture : rBenchTarget {
  Fixture() : rBenchTarget(kW, kH) {
    static const bool started = [] {
      qlm_colors_start();
      qlm_svg_start();
      return true;
    }();
    (void)started;
    r.AttachSurface(&surface);
    const std::string text = logo_document();
    auto flow = cMemoryFlow::ConstructReadOnly(true, text.data(), int64_t(text.size()));
    flow->Open();
    svg = std::make_unique<cImageSVG>();
    if (!svg->Open(flow.get(), nullptr)) std::abort();
  }
  cRendererSurface r;
  std::unique_ptr<cImageSVG> svg;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_DrawSVG(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    f.r.DrawSVG(f.svg.get(), nullptr, 100, 100, nullptr);
    benchmark::DoNotOptimize(f.bitmap->Data());
  }
}
BENCHMARK(BM_DrawSVG);

void BM_RawAggSVG(benchmark::State& state) {
  Fixture& f = fixture();
  agg::rendering_buffer rb(f.bitmap->Data(), kW, kH, f.bitmap->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> ras;
  ras.clip_box(0, 0, kW, kH);
  agg::scanline_u8 sl;
  rRectD b;
  f.svg->Bounds(b);
  agg::path_storage& storage = *f.svg->PathStorage();
  agg::conv_curve<agg::path_storage> curve(storage);
  agg::conv_stroke<agg::conv_curve<agg::path_storage>> stroke(curve);
  for (auto _ : state) {
    for (rSVGPathAttr* a = f.svg->Attributes()->First(); a != nullptr; a = f.svg->Attributes()->Next(a)) {
      agg::trans_affine m = a->transform;
      m *= agg::trans_affine_translation(100 - b.x1, 100 - b.y1);
      curve.approximation_scale(m.scale());
      curve.angle_tolerance(0.0);
      if (a->fill_flag) {
        agg::conv_transform<agg::conv_curve<agg::path_storage>> t(curve, m);
        ras.reset();
        ras.filling_rule(a->even_odd ? agg::fill_even_odd : agg::fill_non_zero);
        ras.add_path(t, a->index);
        agg::render_scanlines_aa_solid(ras, sl, base, a->fill_color);
      }
      if (a->stroke_flag) {
        stroke.width(a->stroke_width);
        stroke.line_join(agg::line_join_e(a->line_join));
        stroke.line_cap(agg::line_cap_e(a->line_cap));
        stroke.miter_limit(a->miter_limit);
        stroke.approximation_scale(m.scale());
        // As AGG's SVG example renders strokes wider than a pixel.
        if (a->stroke_width * m.scale() > 1) curve.angle_tolerance(0.2);
        agg::conv_transform<decltype(stroke)> t(stroke, m);
        ras.reset();
        ras.filling_rule(agg::fill_non_zero);
        ras.add_path(t, a->index);
        agg::render_scanlines_aa_solid(ras, sl, base, a->stroke_color);
      }
    }
    benchmark::DoNotOptimize(f.bitmap->Data());
  }
}
BENCHMARK(BM_RawAggSVG);

// The page: cleared, the logo sized to 240 px wide with a glow of radius 6.
void glow(cBitmap* layer, bool&, void*) {
  agg::rendering_buffer rb(layer->Data(), unsigned(layer->Width()), unsigned(layer->Height()), layer->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::stack_blur_rgba32(pf, 6, 6);
}

void BM_PageWithLogoGlow(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    f.r.Clear(0xFFFFFFFFu);
    f.r.SetFilterCallback(glow, 6, nullptr);
    f.r.DrawSVGSized(f.svg.get(), nullptr, 40, 40, 240, 0);
    f.r.SetFilterCallback(nullptr, 0, nullptr);
    f.r.DrawSVGSized(f.svg.get(), nullptr, 40, 40, 240, 0);
    benchmark::DoNotOptimize(f.bitmap->Data());
  }
}
BENCHMARK(BM_PageWithLogoGlow)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::run_with_ratios(argc, argv, {{"BM_DrawSVG", "BM_RawAggSVG"}}); }
