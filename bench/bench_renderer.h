// What the renderer's benchmarks share: the framework and the renderer
// started once per program, and a drawing target, a 32-bit BGRA bitmap with
// a surface bound to it.
#pragma once
#include <cstdint>
#include <memory>

#include "qlm_bitmap.h"
#include "qlm_renderer_surface.h"
#include "qlm_startup.h"

inline void bench_renderer_start() {
  static const bool started = [] {
    framework_start(0, nullptr);
    qlm_renderer_start();
    return true;
  }();
  (void)started;
}

struct rBenchTarget {
  rBenchTarget(int32_t width, int32_t height) {
    bench_renderer_start();
    bitmap = std::make_unique<cBitmap>(width, height, cnBitmap32BGRA);
    bitmap->Create();
    surface.Attach(bitmap.get(), true);
  }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
};
