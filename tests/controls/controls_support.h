// Shared by the control-kit tests: a headless session with the renderer
// started and one shown form, and bounded waits on another thread's work.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "kvn_scene.h"

#include "qlm_renderer_ids.h"
#include "ui_app.h"
#include "ui_headless.h"

namespace ctest {

class FormTest : public ::testing::Test {
 protected:
  FormTest() {
    qlm_renderer_start();
    form = ui::Create<ui::TForm>(ui::Application);
    form->SetClientSize(400, 300);
    form->SetColor(ui::clWhite);
    form->Show();
  }
  ui::test::Session session;
  ui::TForm* form = nullptr;
};

// Waits (without serving the GUI loop) until pred holds; false after
// timeoutMs of real time.
inline bool SpinUntil(const std::function<bool()>& pred, unsigned timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// The pixel of a pf32bit bitmap as 0xAARRGGBB.
inline uint32_t argb_at(const ui::TBitmap& b, int x, int y) {
  const uint8_t* p = b.ScanLine(y) + size_t(x) * 4;
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// Every byte of a bitmap's rows, the padding at their ends included.
inline std::vector<uint8_t> bytes_of(const ui::TBitmap& b) {
  return std::vector<uint8_t>(b.ScanLine(0), b.ScanLine(0) + size_t(b.RowStep()) * b.Height());
}

// What `draw` returns with no scene keeping its pictures: everything drawn
// afresh, the reference for a kept picture.
template <class F>
auto drawn_afresh(F&& draw) {
  gScenePixelsKept = false;
  auto result = draw();
  gScenePixelsKept = true;
  return result;
}

}  // namespace ctest
