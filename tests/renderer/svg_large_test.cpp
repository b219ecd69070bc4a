// Large SVG documents load and draw in time linear in their size: deep
// nesting of groups, gradients of very many stops (in order, in reverse
// order, all at one offset) and path attributes of megabytes. A quadratic
// cost takes minutes at these sizes; CTest's per-test timeout bounds them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bitmap_builders.h"
#include "qlm_base_flow.h"
#include "qlm_colors.h"
#include "qlm_renderer_engine.h"
#include "qlm_svg.h"
#include "renderer_support.h"

namespace {

using testenv::pixel_argb;

class SvgLargeTest : public testenv::RendererTest {
 protected:
  void SetUp() override {
    RendererTest::SetUp();
    qlm_colors_start();
    qlm_svg_start();
  }
};

// Loads the document and draws it at its own place on a 64 x 64 white
// bitmap; the pixels at the points as 0xAARRGGBB (none when the load failed).
std::vector<uint32_t> load_and_draw(const std::string& text, std::initializer_list<std::pair<int, int>> points) {
  cImageSVG svg;
  auto flow = cMemoryFlow::ConstructReadOnly(true, text.data(), int64_t(text.size()));
  EXPECT_TRUE(flow->Open());
  if (!svg.Open(flow.get(), nullptr)) return {};
  auto bitmap = testenv::solid_bitmap(64, 64, cnBitmap32BGRA, 0xFFFFFFFFu);
  cSurfaceBitmap surface;
  EXPECT_TRUE(surface.Attach(bitmap.get(), true));
  cRendererSurface r;
  EXPECT_TRUE(r.AttachSurface(&surface));
  rRectD b;
  svg.Bounds(b);
  r.DrawSVG(&svg, nullptr, b.x1, b.y1, nullptr);
  std::vector<uint32_t> out;
  for (auto [x, y] : points) out.push_back(pixel_argb(*bitmap, x, y));
  return out;
}

const char* kHead = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\">";

TEST_F(SvgLargeTest, HundredThousandNestedGroups) {
  const int depth = 100000;
  std::string text = kHead;
  text.reserve(size_t(depth) * 8 + 200);
  text += "<g fill=\"#ff0000\">";
  for (int i = 1; i < depth; ++i) text += "<g>";
  text += "<rect x=\"10\" y=\"10\" width=\"40\" height=\"40\"/>";
  for (int i = 0; i < depth; ++i) text += "</g>";
  text += "</svg>";
  EXPECT_EQ(load_and_draw(text, {{30, 30}}), std::vector<uint32_t>{0xFFFF0000u});
}

TEST_F(SvgLargeTest, HundredThousandStops) {
  const int stops = 100000;
  // Offsets rising: green below the middle, blue from it on. Falling: each
  // offset below the first (1) counts as 1, so the first stop (blue) paints
  // everywhere before it. All at the middle: the first stop (blue) before
  // it, the last (green) from it on.
  for (int order = 0; order < 3; ++order) {
    SCOPED_TRACE(order);
    std::string text = kHead;
    text += "<defs><linearGradient id=\"g\" gradientUnits=\"userSpaceOnUse\" x1=\"0\" x2=\"64\">";
    for (int i = 0; i < stops; ++i) {
      const int k = order == 1 ? stops - 1 - i : i;
      const double offset = order == 2 ? 0.5 : double(k) / (stops - 1);
      const bool blue = order == 2 ? i == 0 : offset >= 0.5;
      text += "<stop offset=\"" + std::to_string(offset) + "\" stop-color=\"" + (blue ? "#0000ff" : "#00ff00") + "\"/>";
    }
    text += "</linearGradient></defs><rect x=\"0\" y=\"0\" width=\"64\" height=\"64\" fill=\"url(#g)\"/></svg>";
    const std::vector<uint32_t> want = order == 0   ? std::vector<uint32_t>{0xFF00FF00u, 0xFF0000FFu}
                                       : order == 1 ? std::vector<uint32_t>{0xFF0000FFu, 0xFF0000FFu}
                                                    : std::vector<uint32_t>{0xFF0000FFu, 0xFF00FF00u};
    EXPECT_EQ(load_and_draw(text, {{10, 30}, {54, 30}}), want);
  }
}

// The whole 64 x 64 picture of a document drawn at its own place, and the
// seconds the drawing took (the colour ramps are made on first use).
std::vector<uint8_t> picture(const std::string& text, double* seconds = nullptr) {
  cImageSVG svg;
  auto flow = cMemoryFlow::ConstructReadOnly(true, text.data(), int64_t(text.size()));
  EXPECT_TRUE(flow->Open());
  if (!svg.Open(flow.get(), nullptr)) return {};
  auto bitmap = testenv::solid_bitmap(64, 64, cnBitmap32BGRA, 0xFFFFFFFFu);
  cSurfaceBitmap surface;
  EXPECT_TRUE(surface.Attach(bitmap.get(), true));
  cRendererSurface r;
  EXPECT_TRUE(r.AttachSurface(&surface));
  const auto start = std::chrono::steady_clock::now();
  r.DrawSVG(&svg, nullptr, 0, 0, nullptr);
  if (seconds != nullptr) *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return std::vector<uint8_t>(bitmap->Data(), bitmap->Data() + size_t(bitmap->Stride()) * 64);
}

// A square under a horizontal gradient of the stops (offset, colour).
std::string gradient_square(const std::vector<std::pair<double, uint32_t>>& stops) {
  std::string text = kHead;
  text += "<defs><linearGradient id=\"g\" gradientUnits=\"userSpaceOnUse\" x1=\"0\" x2=\"64\">";
  char colour[8];
  for (const auto& [offset, rgb] : stops) {
    std::snprintf(colour, sizeof colour, "#%06x", rgb & 0xFFFFFFu);
    text += "<stop offset=\"" + std::to_string(offset) + "\" stop-color=\"" + colour + "\"/>";
  }
  text += "</linearGradient></defs><rect x=\"0\" y=\"0\" width=\"64\" height=\"64\" fill=\"url(#g)\"/></svg>";
  return text;
}

// Stops are never reordered: an offset below an earlier one counts as the
// largest earlier offset. Out-of-order lists draw as the same list with the
// offsets so raised, and 100,000 stops in random order cost what stops in
// order cost (they took seconds when each out-of-order stop was sorted in).
TEST_F(SvgLargeTest, StopsOutOfOrderTakeTheLargestEarlierOffset) {
  std::mt19937 rng(6);
  std::uniform_real_distribution<double> real(0.0, 1.0);
  std::uniform_int_distribution<uint32_t> rgb(0, 0xFFFFFF);
  for (int count : {4, 9, 100000}) {
    SCOPED_TRACE(count);
    std::vector<std::pair<double, uint32_t>> given, raised;
    double largest = 0;
    for (int i = 0; i < count; ++i) {
      // Three decimals, as written into the document and compared by the ramp.
      const double offset =
          count == 4 ? std::vector<double>{0.0, 0.7, 0.3, 1.0}[size_t(i)] : std::round(real(rng) * 1000) / 1000;
      given.push_back({offset, rgb(rng)});
      largest = std::max(largest, offset);
      raised.push_back({largest, given.back().second});
    }
    double seconds = 0;
    const std::vector<uint8_t> drawn = picture(gradient_square(given), &seconds);
    ASSERT_EQ(drawn.size(), size_t(64 * 64 * 4));
    EXPECT_TRUE(drawn == picture(gradient_square(raised)));
    EXPECT_LT(seconds, 5.0);
  }
}

TEST_F(SvgLargeTest, EightMegabytePathAttribute) {
  std::string text = kHead;
  text += "<path fill=\"#00ff00\" d=\"M10 10";
  // Back and forth along the top edge, then round the square.
  while (text.size() < (size_t(8) << 20)) text += " l1 0 l-1 0";
  text += " H50 V50 H10 Z\"/></svg>";
  EXPECT_EQ(load_and_draw(text, {{30, 30}, {30, 8}}), (std::vector<uint32_t>{0xFF00FF00u, 0xFFFFFFFFu}));
}

}  // namespace
