// Shadows and path groups, each case beside its yardstick:
// - the shadow of a 200 x 60 rounded rectangle (offset 5, blur 5 and 50) on
//   a 500 x 360 BGRA surface beside the raw AGG twin: a grey mask of the
//   shape plus margins, AGG's stack blur, blend_from_color;
// - a 1e7-sized rectangle with a blurred shadow (the mask is cut to the
//   surface);
// - capture-only recording of a rounded rectangle and its replay;
// - a 10-glyph bold caption with a grow halo (each glyph casts its own
//   blurred shadow), limit 1 ms;
// - a wizard-page frame on 500 x 360 BGRA: a heading bar (linear gradient,
//   bold caption with a grow halo), about 1,500 glyphs of 12 px body text,
//   three gradient buttons with drop shadows and captions, a check box and
//   a rounded frame clipped to its captured outline; limit 16 ms; the same
//   page with a 150 x 150 picture drawn bilinear, limit 16 ms;
// - a status-panel frame on 500 x 360 BGRA: the 16 x 16 checker pattern
//   over the whole panel, a 150 x 150 picture under perspective and three
//   lines of text with halos; limit 10 ms.
#include <string>
#include <vector>

#include "bench_ratio.h"
#include "bench_renderer.h"
#include "qlm_font_engine.h"
#include "qlm_gradient.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"

namespace {

constexpr int kW = 500;
constexpr int kH = 360;

struct Fixture : rBenchTarget {
  Fixture() : rBenchTarget(kW, kH) {}
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

// --- Text with halos and the page scene ------------------------------------------------

struct Fonts {
  Fonts() {
    fixture();
    caption.SetFace("Arial", cnFontBold, 18);
    body.SetFace("Arial", 0, 12);
    button.SetFace("Arial", cnFontBold, 12);
  }
  cFontWinTT caption, body, button;
};
Fonts& fonts() {
  static Fonts f;
  return f;
}

void halo(cRenderer& r) {
  r.SetGrowShadow(2);
  r.SetShadowBlur(2);
  r.SetShadowColor(renderer_color(255, 255, 255, 220));
}

void BM_CaptionWithHalo(benchmark::State& state) {
  Fixture& f = fixture();
  Fonts& fo = fonts();
  cRendererSurface r;
  r.AttachSurface(&f.surface);
  r.SetFont(&fo.caption);
  r.SetTextColor(renderer_color(20, 40, 90, 255));
  halo(r);
  for (auto _ : state) r.DrawText(std::string("Next Step!"), 40, 60, nullptr);
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_CaptionWithHalo)->Unit(benchmark::kMicrosecond);

// One frame of the page: what a scene draws on every repaint.
void draw_page(cRendererSurface& r, Fonts& fo, const std::vector<std::string>& body) {
  r.ResetState();
  r.Clear(renderer_color(240, 240, 240, 255));
  // Heading bar.
  cGradientLinearY bar(0, 48);
  bar.AddStopARGB(0xFF3060C0u, 0);
  bar.AddStopARGB(0xFF90B8F0u, 1);
  r.PenOff();
  r.SetFillGradient(&bar);
  r.DrawRectangle(nullptr, 0, 0, 500, 48);
  r.ResetFill(false);
  r.SetFont(&fo.caption);
  r.SetTextColor(renderer_color(10, 20, 60, 255));
  halo(r);
  r.DrawText(std::string("Destination Installation Folder"), 16, 32, nullptr);
  r.ShadowOff();
  // Body text: about 1,500 glyphs.
  r.SetFont(&fo.body);
  r.SetTextColor(renderer_color(0, 0, 0, 255));
  double y = 66;
  for (const std::string& line : body) {
    r.DrawText(line, 16, y, nullptr);
    y += 11;
  }
  // A clipped rounded frame: the outline captured, clipped to, filled.
  cPathGroup frame;
  r.PenSolid();  // recorded as filled and stroked
  r.SetCaptureGroup(&frame, true);
  r.DrawRoundRect(nullptr, 330, 70, 484, 180, 10);
  r.ClearCaptureGroup();
  r.ClipPathGroup(&frame, 0, 0);
  cGradientLinearY panel(70, 180);
  panel.AddStopARGB(0xFFFFFFFFu, 0);
  panel.AddStopARGB(0xFFD0D8E8u, 1);
  r.SetFillGradient(&panel);
  r.DrawRectangle(nullptr, 320, 60, 494, 190);
  r.ClipOff();
  r.ResetFill(false);
  r.FillOff();
  r.PenSolid();
  r.SetPenColor(renderer_color(90, 110, 150, 255));
  r.DrawPathGroup(&frame, nullptr, 0, 0);
  // Check box.
  r.FillSolid();
  r.SetFillColor(renderer_color(255, 255, 255, 255));
  r.DrawRectangle(nullptr, 16, 290, 30, 304);
  r.FillOff();
  r.SetPenWidth(2);
  const double tick[6] = {19, 297, 22, 301, 28, 292};
  r.DrawPolyline(tick, 3, nullptr);
  r.SetPenWidth(1);
  r.SetFont(&fo.body);
  r.DrawText(std::string("Create a desktop icon"), 38, 302, nullptr);
  // Three gradient buttons with drop shadows and captions.
  const char* captions[3] = {"< Back", "Next >", "Cancel"};
  for (int i = 0; i < 3; ++i) {
    const double x = 190 + i * 102;
    cGradientLinearY face(318, 346);
    face.AddStopARGB(0xFFF8FBFFu, 0);
    face.AddStopARGB(0xFF8FB0E0u, 1);
    r.FillSolid();
    r.SetFillGradient(&face);
    r.PenSolid();
    r.SetPenColor(renderer_color(40, 70, 130, 255));
    r.SetOffsetShadow(3);
    r.SetShadowBlur(4);
    r.SetShadowColor(renderer_color(0, 0, 0, 110));
    r.DrawRoundRect(nullptr, x, 318, x + 92, 346, 8);
    r.ShadowOff();
    r.ResetFill(false);
    r.SetFont(&fo.button);
    r.SetTextColor(renderer_color(10, 20, 60, 255));
    halo(r);
    r.DrawText(std::string(captions[i]), x + 22, 337, nullptr);
    r.ShadowOff();
  }
}

std::vector<std::string> page_body() {
  std::vector<std::string> body;
  const std::string words =
      "Application being installed requires free disk space on the destination installation drive. ";
  std::string all;
  while (all.size() < 1500) all += words;
  for (size_t i = 0; i < 1500; i += 75) body.push_back(all.substr(i, 75));  // 20 lines
  return body;
}

void BM_PageScene(benchmark::State& state) {
  Fixture& f = fixture();
  Fonts& fo = fonts();
  const std::vector<std::string> body = page_body();
  cRendererSurface r;
  r.AttachSurface(&f.surface);
  for (auto _ : state) draw_page(r, fo, body);
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_PageScene)->Unit(benchmark::kMillisecond);

// A 150 x 150 picture: a colour ramp with an opaque frame.
std::unique_ptr<cBitmap> picture() {
  auto b = std::make_unique<cBitmap>(150, 150, cnBitmap32BGRA);
  b->Create();
  for (int y = 0; y < 150; ++y) {
    uint8_t* row = b->Data() + ptrdiff_t(y) * b->Stride();
    for (int x = 0; x < 150; ++x) {
      const bool frame = x < 4 || y < 4 || x >= 146 || y >= 146;
      row[x * 4 + 0] = frame ? 40 : uint8_t(x * 255 / 149);
      row[x * 4 + 1] = frame ? 40 : uint8_t(y * 255 / 149);
      row[x * 4 + 2] = frame ? 40 : uint8_t((x + y) * 255 / 298);
      row[x * 4 + 3] = 255;
    }
  }
  b->Changed();
  return b;
}

void BM_PageSceneWithPicture(benchmark::State& state) {
  Fixture& f = fixture();
  Fonts& fo = fonts();
  const std::vector<std::string> body = page_body();
  std::unique_ptr<cBitmap> pic = picture();
  cRendererSurface r;
  r.AttachSurface(&f.surface);
  for (auto _ : state) {
    draw_page(r, fo, body);
    r.DrawImage(pic.get(), false, 330, 196, 480, 346, nullptr);
  }
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_PageSceneWithPicture)->Unit(benchmark::kMillisecond);

void checker16(cRenderer* r, void*) {
  r->Clear(renderer_color(255, 255, 255, 255));
  r->PenOff();
  r->FillSolid();
  r->SetFillColor(renderer_color(204, 204, 204, 255));
  r->DrawRectangle(nullptr, 0, 0, 8, 8);
  r->DrawRectangle(nullptr, 8, 8, 16, 16);
}

void BM_StatusPanelFrame(benchmark::State& state) {
  Fixture& f = fixture();
  Fonts& fo = fonts();
  std::unique_ptr<cBitmap> pic = picture();
  const double quad[8] = {300, 40, 470, 70, 460, 250, 310, 300};
  cRendererSurface r;
  r.AttachSurface(&f.surface);
  for (auto _ : state) {
    r.ResetState();
    r.PenOff();
    r.SetFillPatternCallback(16, 16, checker16, nullptr);
    r.DrawRectangle(nullptr, 0, 0, kW, kH);
    r.ResetFillPattern(false);
    r.AddPerspective(quad, 0, 0, 150, 150);
    r.DrawImage(pic.get(), false, 0, 0, 150, 150, nullptr);
    r.ResetTransformations(false);
    r.SetFont(&fo.caption);
    r.SetTextColor(renderer_color(10, 20, 60, 255));
    halo(r);
    r.DrawText(std::string("Installing"), 20, 60, nullptr);
    r.SetFont(&fo.body);
    r.DrawText(std::string("Copying files to the destination folder"), 20, 100, nullptr);
    r.DrawText(std::string("Time remaining: about 2 minutes"), 20, 120, nullptr);
    r.ShadowOff();
  }
  r.DetachSurface();
  f.surface.Attach(f.bitmap.get(), true);
}
BENCHMARK(BM_StatusPanelFrame)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(argc, argv,
                                {{"BM_Shadow/5", "BM_RawShadow/5"},
                                 {"BM_Shadow/50", "BM_RawShadow/50"},
                                 {"BM_CaptureAndReplay", "BM_DirectRoundRect"}});
}
