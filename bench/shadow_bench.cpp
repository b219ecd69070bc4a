// Shadows and path groups, each case beside its yardstick:
// - the shadow of a 200 x 60 rounded rectangle (offset 5, blur 5 and 50) on
//   a 500 x 360 BGRA surface beside the raw AGG twin: a grey mask of the
//   shape plus margins, AGG's stack blur, blend_from_color;
// - a 1e7-sized rectangle with a blurred shadow (the mask is cut to the
//   surface);
// - capture-only recording of a rounded rectangle and its replay.
#include <vector>

#include "bench_ratio.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"

namespace {

constexpr int kW = 500;
constexpr int kH = 360;

struct Fixture {
  Fixture() {
    static bool started = [] {
      framework_start(0, nullptr);
      qlm_renderer_start();
      return true;
    }();
    (void)started;
    bitmap = std::make_unique<cBitmap>(kW, kH, cnBitmap32BGRA);
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

// Casts only the shadow of the current path (draw false paints nothing
// else).
class cShadowBench : public cRendererSurface {
 public:
  void Shadow(agg::path_storage& p) {
    SetCurrentPath(&p, 0, 0);
    RenderPath(1, nullptr, false, true, nullptr);
  }
};

agg::path_storage round_rect(double x1, double y1, double x2, double y2, double r) {
  agg::rounded_rect rr(x1, y1, x2, y2, r);
  rr.normalize_radius();
  agg::path_storage p;
  p.concat_path(rr);
  return p;
}

void BM_Shadow(benchmark::State& state) {
  Fixture& f = fixture();
  cShadowBench r;
  r.AttachSurface(&f.surface);
  r.PenOff();
  r.SetOffsetShadow(5);
  r.SetShadowBlur(double(state.range(0)));
  r.SetShadowColor(renderer_color(0, 0, 0, 128));
  agg::path_storage p = round_rect(150, 150, 350, 210, 8);
  for (auto _ : state) r.Shadow(p);
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_Shadow)->Arg(5)->Arg(50);

void BM_RawShadow(benchmark::State& state) {
  Fixture& f = fixture();
  const double m = double(state.range(0));
  agg::path_storage p = round_rect(150, 150, 350, 210, 8);
  agg::rendering_buffer rb(f.bitmap->Data(), kW, kH, f.bitmap->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  qlm_agg::rasterizer ras;
  agg::scanline_u8 sl;
  std::vector<uint8_t> mask;
  for (auto _ : state) {
    // The shape's box moved by the offset, grown by the margin.
    const int x1 = int(150 + 5 - m), y1 = int(150 + 5 - m);
    const int w = int(200 + 2 * m), h = int(60 + 2 * m);
    mask.assign(size_t(w) * h, 0);
    agg::rendering_buffer mb(mask.data(), unsigned(w), unsigned(h), w);
    agg::pixfmt_gray8 mpf(mb);
    agg::renderer_base<agg::pixfmt_gray8> mbase(mpf);
    agg::trans_affine move = agg::trans_affine_translation(5 - x1, 5 - y1);
    agg::conv_transform<agg::path_storage> moved(p, move);
    ras.clip_box(0, 0, w, h);
    ras.reset();
    ras.add_path(moved);
    agg::render_scanlines_aa_solid(ras, sl, mbase, agg::gray8(255));
    qlm_agg::stack_blur_gray8(mpf, unsigned(m));
    base.blend_from_color(mpf, agg::rgba8(0, 0, 0, 128), nullptr, x1, y1, 255);
  }
}
BENCHMARK(BM_RawShadow)->Arg(5)->Arg(50);

void BM_HugeShadow(benchmark::State& state) {
  Fixture& f = fixture();
  cShadowBench r;
  r.AttachSurface(&f.surface);
  r.PenOff();
  r.SetOffsetShadow(5);
  r.SetShadowBlur(20);
  agg::path_storage p = round_rect(-1e7, -1e7, 1e7, 1e7, 0);
  for (auto _ : state) r.Shadow(p);
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_HugeShadow)->Unit(benchmark::kMillisecond);

void BM_CaptureAndReplay(benchmark::State& state) {
  Fixture& f = fixture();
  cRendererSurface r;
  r.AttachSurface(&f.surface);
  for (auto _ : state) {
    cPathGroup g;
    r.SetCaptureGroup(&g, true);
    r.DrawRoundRect(nullptr, 20, 20, 180, 60, 8);
    r.ClearCaptureGroup();
    r.DrawPathGroup(&g, nullptr, 0, 0);
  }
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_CaptureAndReplay);

void BM_DirectRoundRect(benchmark::State& state) {
  Fixture& f = fixture();
  cRendererSurface r;
  r.AttachSurface(&f.surface);
  for (auto _ : state) r.DrawRoundRect(nullptr, 20, 20, 180, 60, 8);
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_DirectRoundRect);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(argc, argv,
                                {{"BM_Shadow/5", "BM_RawShadow/5"},
                                 {"BM_Shadow/50", "BM_RawShadow/50"},
                                 {"BM_CaptureAndReplay", "BM_DirectRoundRect"}});
}
