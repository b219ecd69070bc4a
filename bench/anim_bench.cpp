// The installer's status panel: one frame of the 152 x 328 panel, still,
// animated in one pose (swung and turned), and animated as it runs: a tick
// before each frame, so the frames pass through every swing and rotation
// (the cost of a frame depends on the pose), against the 25 ms tick.
#include <benchmark/benchmark.h>

#include "bench_headless.h"
#include "form_install_anim.h"
#include "kvn_cursors.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"
#include "ui_headless.h"

namespace {

void start() { bench_start_headless(&controls_register_pictures); }

void BM_AnimFrame(benchmark::State& state) {
  start();
  TAnimScene scene(nullptr);
  scene.SetStatusText("Installing ...");
  scene.SetProgress(50);
  rCompositeLayer layer;
  layer.width = 152;
  layer.height = 328;
  layer.scene = &scene;
  scene.SetLayer(&layer);
  if (state.range(0) != 0) {
    scene.SetAnimate(true);
    for (int i = 0; i < 100; ++i) scene.TimerTick();  // swung and turned
  }
  const bool running = state.range(0) == 2;
  for (auto _ : state) {
    if (running) scene.TimerTick();
    scene.Invalidate(true, 0, 0);
    benchmark::DoNotOptimize(scene.AcquireBitmap());
  }
  scene.SetLayer(nullptr);
}
BENCHMARK(BM_AnimFrame)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
