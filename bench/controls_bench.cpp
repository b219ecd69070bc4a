// The control kit: a direct scene's render pass (bind, clear, an empty
// frame, detach) beside a plain memset of the same bitmap plus the
// renderer's own attach and detach.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench_ratio.h"
#include "kvn_scene.h"
#include "qlm_renderer.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"

namespace {

constexpr int kW = 699;
constexpr int kH = 476;

void start() {
  static bool started = [] {
    framework_start(0, nullptr);
    qlm_renderer_start();
    return true;
  }();
  (void)started;
}

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

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(argc, argv, {{"BM_DirectScenePass", "BM_MemsetAttachDetach"}});
}
