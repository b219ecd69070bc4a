// The control kit: a direct scene's render pass (bind, clear, an empty
// frame, detach) beside a plain memset of the same bitmap plus the
// renderer's own attach and detach; a composite's composition of two layers
// and both bars beside two plain alpha blends; a wheel step over a tall
// windowed layer beside one over a short layer; a message dialog from the
// call to its first composed back buffer; a print preview's margin change
// until the new thumbnails are finished on the worker.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>

#include "agreement_text.h"
#include "bench_headless.h"
#include "bench_ratio.h"
#include "kvn_banner.h"
#include "kvn_button.h"
#include "kvn_composite.h"
#include "kvn_cursors.h"
#include "kvn_form_dlg.h"
#include "kvn_form_info_print.h"
#include "kvn_scene.h"
#include "plat_print_fake.h"
#include "qlm_renderer.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"
#include "ui_headless.h"

namespace {

constexpr int kW = 699;
constexpr int kH = 476;

void start() { bench_start_headless(); }

class ClearScene : public TRenderingSceneDirect {
 public:
  void RenderFrame(int32_t, int32_t) override { Renderer()->ClearARGB(0xFFFFFFFF); }
};

void BM_DirectScenePass(benchmark::State& state) {
  start();
  ClearScene scene;
  rCompositeLayer layer;
  layer.width = kW;
  layer.height = kH;
  layer.scene = &scene;
  scene.SetLayer(&layer);
  for (auto _ : state) {
    scene.Invalidate(true, 0, 0);
    benchmark::DoNotOptimize(scene.AcquireBitmap());
  }
}
BENCHMARK(BM_DirectScenePass);

void BM_MemsetAttachDetach(benchmark::State& state) {
  start();
  ClearScene scene;  // for its renderer
  ui::TBitmap bitmap;
  bitmap.SetPixelFormat(ui::pf32bit);
  bitmap.SetSize(kW, kH);
  cSurfaceTBitmap surface;
  surface.AttachBitmap(&bitmap, true);
  for (auto _ : state) {
    scene.Renderer()->AttachSurface(&surface);
    std::memset(bitmap.ScanLine(0), 0xFF, size_t(bitmap.RowStep()) * kH);
    scene.Renderer()->DetachSurface();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemsetAttachDetach);

// A layer of half-transparent grey, pre-multiplied.
class HalfScene : public TRenderingSceneDirect {
 public:
  void RenderFrame(int32_t, int32_t) override { Renderer()->ClearARGB(0x80404040); }
};

constexpr int kCW = 520;
constexpr int kCH = 273;

void BM_ComposeTwoLayersAndBars(benchmark::State& state) {
  start();
  TKVNCompositeCustomControl c(nullptr);
  c.SetBounds(0, 0, kCW, kCH);
  HalfScene a, b;
  // Larger than the client, so that both bars are drawn.
  c.AddLayer(0, 0, 600, 400, &a);
  c.AddLayer(0, 0, 600, 400, &b);
  c.Bars = uint8_t(state.range(0));
  for (auto _ : state) {
    c.Repaint();
    c.Paint();
  }
}
BENCHMARK(BM_ComposeTwoLayersAndBars)->Arg(3)->Arg(0);

void plain_blend(ui::TBitmap& t, const ui::TBitmap& s) {
  for (int y = 0; y < t.Height(); ++y) {
    uint8_t* d = t.ScanLine(y);
    const uint8_t* p = s.ScanLine(y);
    for (int x = 0; x < t.Width() * 4; x += 4) {
      const unsigned g = 256 - p[x + 3];
      d[x] = uint8_t(((g * d[x]) >> 8) + p[x]);
      d[x + 1] = uint8_t(((g * d[x + 1]) >> 8) + p[x + 1]);
      d[x + 2] = uint8_t(((g * d[x + 2]) >> 8) + p[x + 2]);
      d[x + 3] = uint8_t(255 - (((255 - d[x + 3]) * g) >> 8));
    }
  }
}

void BM_TwoPlainBlends(benchmark::State& state) {
  start();
  // The sources as large as the composite's layers; their top-left
  // 520 x 273 pixels are blended.
  ui::TBitmap t, s1, s2;
  for (ui::TBitmap* b : {&t, &s1, &s2}) {
    b->SetPixelFormat(ui::pf32bit);
    b->SetSize(b == &t ? kCW : 600, b == &t ? kCH : 400);
  }
  bitmap_fill_color(&s1, 0x80404040);
  bitmap_fill_color(&s2, 0x80404040);
  for (auto _ : state) {
    plain_blend(t, s1);
    plain_blend(t, s2);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TwoPlainBlends);

// Circles down a layer, drawn only where the window shows.
class TallScene : public TRenderingSceneDirect {
 public:
  bool RendersWindowed() override { return true; }
  void RenderFrame(int32_t, int32_t h) override {
    cRenderer& r = *Renderer();
    r.ClearARGB(0xFFFFFFFF);
    r.SetFillColorARGB(0xFF3060A0);
    const int32_t top = Window().Top, bottom = top + h;
    for (int y = 0; y < Layer()->height; y += 40)
      if (y + 40 >= top && y < bottom) r.DrawCircle(nullptr, 100 + y % 300, y + 20, 18);
  }
};

// One wheel step (alternately down and up) and the composition it causes.
void BM_WheelStep(benchmark::State& state) {
  start();
  TKVNCompositeCustomControl c(nullptr);
  c.SetBounds(0, 0, kCW, kCH);
  TallScene scene;
  c.AddLayer(0, 0, kCW - 40, int32_t(state.range(0)), &scene);
  c.Paint();
  int delta = -120;
  for (auto _ : state) {
    ui::TWheelMsg m;
    m.Delta = delta;
    delta = -delta;
    c.WmMouseWheel(m);
    c.Paint();
  }
}
BENCHMARK(BM_WheelStep)->Arg(500)->Arg(20000);

// A banner frame at 699 x 69 with the product logo hovered (its glow
// drawn): the banner ticks every 10 ms and must stay well inside that.
void BM_BannerFrameHovered(benchmark::State& state) {
  start();
  controls_register_pictures();
  auto* form = ui::Create<ui::TForm>(ui::Application);
  form->SetClientSize(720, 100);
  form->Show();
  auto* banner = new TKorvaneBanner;
  banner->SetLogoMargin(60);
  banner->SetShowFrame(true);
  auto* control = new TKorvaneControl(form);
  control->SetBounds(0, 0, 699, 69);
  control->SetParent(form);
  control->SetScene(banner);
  ui::test::MouseMove(form, 100, 34);
  if (!banner->ProductHover()) state.SkipWithError("the product logo is not hovered");
  for (auto _ : state) {
    banner->Invalidate(true, 0, 0);
    benchmark::DoNotOptimize(banner->AcquireBitmap());
  }
  ui::TObject::Free(banner);
  ui::TObject::Free(form);
}
BENCHMARK(BM_BannerFrameHovered)->Unit(benchmark::kMillisecond);

// One animated frame of a 105 x 35 GEL button with shadow and focus glow,
// hovered (wave and swirl over the face): a hovered button redraws on every
// 80 ms tick, so the frame must stay far below that.
void BM_ButtonGelFrameHovered(benchmark::State& state) {
  start();
  auto* form = ui::Create<ui::TForm>(ui::Application);
  form->SetClientSize(200, 100);
  form->Show();
  auto* button = new TKVNButton(form);
  button->SetBounds(10, 10, 105, 35);
  button->SetParent(form);
  button->SetButtonType(BTN_GEL);
  button->SetFocus();
  TButtonScene* scene = button->ButtonScene();
  scene->Invalidate(true, 105, 35);
  ui::test::MouseMove(form, 10 + 45, 10 + 12);
  if (!scene->Hovered() || !scene->Focused()) state.SkipWithError("the button is not hovered and focused");
  for (auto _ : state) {
    scene->TimerTick();  // advances the phase and redraws
    benchmark::DoNotOptimize(scene->AcquireBitmap());
  }
  ui::TObject::Free(form);
}
BENCHMARK(BM_ButtonGelFrameHovered)->Unit(benchmark::kMicrosecond);

// The "Can't Install" message of a root destination, from the call of
// dialog_show to the dialog's first composed back buffer (the target is
// well under 30 ms); closing it is not timed.
void BM_DialogShowCantInstall(benchmark::State& state) {
  start();
  controls_register_pictures();
  auto* owner = ui::Create<ui::TForm>(ui::Application);
  owner->SetClientSize(699, 476);
  owner->Show();
  const std::string message =
      "Selected destination folder ~<ct=dodgerblue>\"C:\\\"~> is the root folder of a given drive (or path not "
      "allowed).~(p) This installation prevents You from installing application into the root folder of any "
      "drive.~(p) ~<ct=Green>Please select some subfolder to continue with installation.~> ";
  for (auto _ : state) {
    using clock = std::chrono::steady_clock;
    clock::time_point composed;
    ui::test::Script([&] {
      for (int i = owner->ComponentCount() - 1; i >= 0; --i)
        if (auto* d = dynamic_cast<TFormDlg*>(owner->Components(i)); d != nullptr && d->Modal()) {
          benchmark::DoNotOptimize(ui::test::Snapshot(d).ScanLine(0));
          composed = clock::now();
          d->SetModalResult(ui::mrOk);
        }
    });
    const clock::time_point begin = clock::now();
    if (dialog_show(owner, 0, "Can't Install", "", message, 4, 400, 280, owner, 1, 1, 0, 0, nullptr, nullptr, nullptr,
                    "") != ui::mrOk)
      state.SkipWithError("the dialog did not open");
    state.SetIterationTime(std::chrono::duration<double>(composed - begin).count());
    ui::Application->ProcessMessages();  // frees the released dialog
  }
  ui::TObject::Free(owner);
}
BENCHMARK(BM_DialogShowCantInstall)->UseManualTime()->Unit(benchmark::kMillisecond);

// A margin change on the agreement page (A4 at 300 dpi), from the spin
// edit's change to the new preview finished on the worker (the target is
// well under 100 ms).
void BM_PrintPreviewMarginChange(benchmark::State& state) {
  start();
  plat::print::FakeBackend fake;
  plat::print::DeviceCaps caps;
  caps.dpi_x = caps.dpi_y = 300;
  caps.physical_width = 2480;
  caps.physical_height = 3508;
  caps.printable_width = 2480;
  caps.printable_height = 3508;
  fake.caps = caps;
  plat::print::PrinterSettings office;
  office.device_name = "Office";
  office.device_name_given = true;
  fake.printers["Office"] = office;
  fake.default_answer = plat::print::DefaultPrinter{true, {"Office", "cups", ""}, ""};
  auto* owner = ui::Create<ui::TForm>(ui::Application);
  {
    auto* f = ui::Create<TFormInfoPrint>(owner, &fake);
    f->SetDocument(nullptr, bench::agreement_text(), "Agreement", false);
    f->Show();
    TInfoPrintScene* s = f->Scene();
    auto idle = [s] { return !s->HasPendingOrders() && !s->IsBusy(); };
    int margin = 10;
    for (auto _ : state) {
      const int64_t before = s->FinishedRenders();
      f->SpinEdit1->SetValue(margin = margin == 10 ? 11 : 10);
      ui::test::PumpUntil([&] { return idle() && s->FinishedRenders() > before; }, 10000);
    }
    ui::TObject::Free(f);
  }
  ui::TObject::Free(owner);
}
BENCHMARK(BM_PrintPreviewMarginChange)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(argc, argv,
                                {{"BM_DirectScenePass", "BM_MemsetAttachDetach"},
                                 {"BM_ComposeTwoLayersAndBars/3", "BM_TwoPlainBlends"},
                                 {"BM_WheelStep/20000", "BM_WheelStep/500"}});
}
