// Shared by the renderer tests: the module start, and small bitmaps bound
// as surfaces.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bitmap_builders.h"
#include "qlm_renderer_buffers.h"
#include "qlm_renderer_ids.h"

namespace testenv {

class RendererTest : public ::testing::Test {
 protected:
  void SetUp() override { qlm_renderer_start(); }
};

// A created bitmap of the kind, every pixel the colour (0xAARRGGBB).
inline std::unique_ptr<cBitmap> solid_bitmap(int32_t w, int32_t h, int32_t kind, uint32_t argb) {
  return make_bitmap(w, h, kind, [argb](int32_t, int32_t) { return argb; });
}

// How two pictures of the same size differ, byte by byte: the largest
// difference and how many bytes differ at all.
struct rByteDifference {
  int worst = 0;
  size_t differing = 0;
};
inline rByteDifference byte_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  rByteDifference d;
  EXPECT_EQ(a.size(), b.size());
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    const int e = std::abs(int(a[i]) - int(b[i]));
    d.worst = std::max(d.worst, e);
    d.differing += e != 0;
  }
  return d;
}

}  // namespace testenv
