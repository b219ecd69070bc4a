// Start-up of the benchmarks that draw with the control kit: the framework,
// the renderer (its fonts) and the window layer on its headless backend,
// once per process; `more` (the pictures or resources a benchmark needs)
// runs once after them.
#pragma once

#include <memory>

#include "qlm_renderer_ids.h"
#include "qlm_startup.h"
#include "ui_app.h"
#include "ui_headless.h"

inline void bench_start_headless(void (*more)() = nullptr) {
  static const bool started = [more] {
    framework_start(0, nullptr);
    qlm_renderer_start();
    ui::Start(std::make_unique<ui::HeadlessBackend>());
    if (more != nullptr) more();
    return true;
  }();
  (void)started;
}
