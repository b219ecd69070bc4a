// Shared by the control-kit tests on the GTK backend: serving the real
// loop until something holds, and reading the screen's pixels.
#pragma once

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "sandbox.h"
#include "ui_app.h"

namespace guitest {

inline bool Pump(const std::function<bool()>& pred, int ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    ui::Application->ProcessMessages();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// The screen's pixels in a rectangle, R, G, B per pixel (empty when the
// capture failed). Touches no window of ours: safe from any thread.
inline std::vector<uint8_t> Screenshot(const ui::TRect& r, const std::string& name = "shot") {
  const std::string file = testenv::sandbox_dir(name) + "/shot.rgb";
  const std::string cmd = "import -window root -crop " + std::to_string(r.Width()) + "x" + std::to_string(r.Height()) +
                          "+" + std::to_string(r.Left) + "+" + std::to_string(r.Top) + " -depth 8 rgb:" + file;
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Pixels of the shot that differ from the form's back buffer at (x, y) of
// its client area, over the shot's width and height.
inline int Mismatches(const std::vector<uint8_t>& shot, const ui::TBitmap& b, int x0, int y0, int w, int h) {
  int mismatches = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t want = ui::ColorToRGB(b.Pixel(x0 + x, y0 + y));
      const uint8_t* p = &shot[(size_t(y) * size_t(w) + size_t(x)) * 3];
      if (p[0] != (want & 0xFF) || p[1] != ((want >> 8) & 0xFF) || p[2] != (want >> 16)) ++mismatches;
    }
  return mismatches;
}

}  // namespace guitest
