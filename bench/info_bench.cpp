// The document viewer: loading the agreement page and its first
// composition at the installer's size, and appending 20 lines to a long
// install log and composing at its end beside the same on a short log.
#include <benchmark/benchmark.h>

#include <string>

#include "agreement_text.h"
#include "bench_headless.h"
#include "bench_ratio.h"
#include "kvn_info.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"
#include "ui_headless.h"

namespace {

constexpr int kW = 520;
constexpr int kH = 273;

void start() { bench_start_headless(); }

struct Viewer {
  Viewer() : links(&text), control(nullptr) {
    control.SetBounds(0, 0, kW, kH);
    control.SetScenes(&text, &links);
  }
  void Load(const std::string& markup) {
    control.ClearLayers(true);
    text.LoadText(markup, kW - 50, true);
    control.AddDocumentLayers();
  }
  void Compose() {
    control.Repaint();
    control.Paint();
  }
  TInfoScene text;
  TInfoSceneHRefs links;
  TInfoControl control;
};

void BM_InfoLoadAgreement(benchmark::State& state) {
  start();
  const std::string agreement = bench::agreement_text();
  Viewer v;
  for (auto _ : state) {
    v.Load(agreement);
    v.Compose();
  }
  state.counters["height"] = v.text.GetTextHeight();
}
BENCHMARK(BM_InfoLoadAgreement)->Unit(benchmark::kMillisecond);

std::string log_line(int i) {
  return "Copying ~<b>file " + std::to_string(i) + "~> to the program folder~(p <count=0>)";
}

// 20 lines appended one by one, then one composition at the end of the
// log. The log is loaded again (untimed) every 5 iterations, so it stays
// within 100 lines of its starting length.
void BM_InfoAppend(benchmark::State& state) {
  start();
  const int lines = int(state.range(0));
  std::string log;
  for (int i = 0; i < lines; ++i) log += log_line(i);
  Viewer v;
  int n = 0;
  for (auto _ : state) {
    if (n++ % 5 == 0) {
      state.PauseTiming();
      v.Load(log);
      v.control.ScrollToEnd();
      v.Compose();
      state.ResumeTiming();
    }
    for (int i = 0; i < 20; ++i) v.control.AppendText(log_line(i));
    v.Compose();
  }
  int64_t pixels = 0;
  for (TRenderingSceneDirect* s :
       {static_cast<TRenderingSceneDirect*>(&v.text), static_cast<TRenderingSceneDirect*>(&v.links)})
    if (s->Bitmap() != nullptr) pixels += int64_t(s->Bitmap()->Width()) * s->Bitmap()->Height();
  state.counters["scene_pixels"] = double(pixels);
}
BENCHMARK(BM_InfoAppend)->Arg(100)->Arg(5000)->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(argc, argv, {{"BM_InfoAppend/5000", "BM_InfoAppend/100"}});
}
