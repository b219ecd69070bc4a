// Shared by the renderer tests: the module start, and small bitmaps bound
// as surfaces.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "bitmap_builders.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_buffers.h"

namespace testenv {

class RendererTest : public ::testing::Test {
 protected:
  void SetUp() override { qlm_renderer_start(); }
};

// A created bitmap of the kind, every pixel the colour (0xAARRGGBB).
inline std::unique_ptr<cBitmap> solid_bitmap(int32_t w, int32_t h, int32_t kind, uint32_t argb) {
  return make_bitmap(w, h, kind, [argb](int32_t, int32_t) { return argb; });
}

}  // namespace testenv
