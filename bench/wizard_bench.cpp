// The installer window: each page painted and composed into the window's
// back buffer at 699 x 476 (the introduction, the agreement, the options
// page and a log of 60 lines), with the pictures the scenes keep and drawn
// all afresh, and the log's tick on a long log beside the
// same tick on a short one (one new entry per tick).
#include <benchmark/benchmark.h>

#include <string>

#include "bench_headless.h"
#include "form_install.h"
#include "form_install_anim.h"
#include "installs_container.h"
#include "installs_settings.h"
#include "kvn_button.h"
#include "kvn_checkbox.h"
#include "kvn_control.h"
#include "kvn_cursors.h"
#include "kvn_info.h"
#include "qlm_base_lists.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"
#include "ui_headless.h"

extern "C" const uint8_t qlm_bench_install_data[];
extern "C" const uint64_t qlm_bench_install_data_size;

namespace {

void start() {
  bench_start_headless([] {
    controls_register_pictures();
    resource_register(cnInstallDataName, qlm_bench_install_data, int32_t(qlm_bench_install_data_size));
  });
}

TFormInstall* open_window() {
  auto* form = ui::Create<TFormInstall>(ui::Application);
  form->Show();
  ui::test::Snapshot(form);
  return form;
}

void fill_log(TFormInstall* form, int entries) {
  form->ClearLog();
  std::shared_ptr<cWorkEntries> log = form->InstallLog();
  log->AddText("~{text <ff=\"Arial\";fs:pt=12;alignx=LEFT;spacing=6>} ");
  for (int i = 0; i < entries; ++i)
    log->AddText("~<fs:pt=\"-3\">C:\\home\\user\\.local\\share\\Korvane-Snaprill\\Images\\picture" + std::to_string(i) +
                 ".jpg~>~)");
  form->RenderLog();
}

// Arg: 1 introduction, 2 agreement, 3 options, 4 a log of 60 lines. With
// kept, the scenes copy the pictures they keep while their inputs stay (as
// the window does); without, every scene draws its whole picture again.
void page_paint_and_compose(benchmark::State& state, bool kept) {
  start();
  gScenePixelsKept = kept;
  install_settings_reset();
  form_install_globals_reset();
  TFormInstall* form = open_window();
  const int page = int(state.range(0));
  if (page >= 2) form->KVNButton2Click(nullptr);
  if (page >= 3) {
    form->PageCheckBox->SetChecked(true);
    form->AgreeBoxClick(nullptr);
    form->KVNButton2Click(nullptr);
  }
  if (page == 4) fill_log(form, 60);
  for (auto _ : state) {
    // Every scene drawn again, then the whole client composed.
    form->PageScene()->Invalidate(true, 0, 0);
    form->Viewer()->LinkScene()->Invalidate(true, 0, 0);
    form->StatusScene()->Invalidate(true, 0, 0);
    for (int i = 0; i < form->ComponentCount(); ++i) {
      auto* c = dynamic_cast<TKVNCustomControl*>(form->Components(i));
      if (c != nullptr && c->Scene() != nullptr) c->Scene()->Invalidate(true, 0, 0);
    }
    form->Invalidate();
    benchmark::DoNotOptimize(&ui::test::Snapshot(form));
  }
  ui::TObject::Free(form);
  gScenePixelsKept = true;
}
void BM_PagePaintAndCompose(benchmark::State& state) { page_paint_and_compose(state, true); }
void BM_PagePaintAndComposeAfresh(benchmark::State& state) { page_paint_and_compose(state, false); }
BENCHMARK(BM_PagePaintAndCompose)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagePaintAndComposeAfresh)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

// Arg: the entries already shown. Each iteration adds one and ticks.
void BM_LogTimerTick(benchmark::State& state) {
  start();
  TFormInstall* form = open_window();
  fill_log(form, int(state.range(0)));
  std::shared_ptr<cWorkEntries> log = form->InstallLog();
  int n = 0;
  for (auto _ : state) {
    log->AddText("~<fs:pt=\"-3\">C:\\home\\user\\.local\\share\\Korvane-Snaprill\\added" + std::to_string(n++) +
                 ".jpg~>~)");
    form->LogTimerTick(nullptr);
  }
  ui::TObject::Free(form);
}
BENCHMARK(BM_LogTimerTick)->Arg(100)->Arg(5000)->Iterations(200)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
