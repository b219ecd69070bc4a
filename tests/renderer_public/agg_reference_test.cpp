// The renderer's pictures through its public interface against raw AGG
// pipelines built apart (the -O2 reference library, agg_reference.h):
// rectangles, stars, dashed lines and gradients of two and four stops. The
// largest difference of each scene is printed with the scene's name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "agg_reference.h"
#include "bitmap_builders.h"
#include "qlm_bitmap.h"
#include "qlm_gradient.h"
#include "qlm_renderer.h"
#include "qlm_renderer_surface.h"

namespace {

constexpr int32_t kW = 320;
constexpr int32_t kH = 120;
const aggref::rColour kWhite{255, 255, 255, 255};

uint32_t colour_of(const aggref::rColour& c) { return renderer_color(c.r, c.g, c.b, c.a); }

// The renderer's picture of a scene on an opaque white BGRA bitmap, as
// top-down rows of kW x 4 bytes.
std::vector<uint8_t> ours(const std::function<void(cRenderer&)>& scene) {
  auto bitmap = testenv::make_bitmap(kW, kH, cnBitmap32BGRA, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
  cSurfaceBitmap surface;
  EXPECT_TRUE(surface.Attach(bitmap.get(), true));
  std::unique_ptr<cRenderer> r(renderer_create());
  EXPECT_TRUE(r->AttachSurface(&surface));
  scene(*r);
  r->DetachSurface();
  surface.Detach();
  std::vector<uint8_t> rows(size_t(kW) * kH * 4);
  for (int32_t y = 0; y < kH; ++y)
    std::copy_n(bitmap->Data() + int64_t(y) * bitmap->Stride(), kW * 4, rows.data() + size_t(y) * kW * 4);
  return rows;
}

int largest_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int worst = a.size() == b.size() ? 0 : 256;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

// A star of `points` tips about (cx, cy): tips at radius r1, the inner
// corners at r2, the first tip straight up.
std::vector<double> star(double cx, double cy, double r1, double r2, int points) {
  std::vector<double> xy;
  for (int i = 0; i < 2 * points; ++i) {
    const double a = std::numbers::pi * i / points - std::numbers::pi / 2;
    const double r = i % 2 == 0 ? r1 : r2;
    xy.push_back(cx + r * std::cos(a));
    xy.push_back(cy + r * std::sin(a));
  }
  return xy;
}

// A pentagram: five tips joined every second one, the middle filled by the
// non-zero rule.
std::vector<double> pentagram(double cx, double cy, double r) {
  std::vector<double> xy;
  for (int i = 0; i < 5; ++i) {
    const double a = std::numbers::pi * 4 * i / 5 - std::numbers::pi / 2;
    xy.push_back(cx + r * std::cos(a));
    xy.push_back(cy + r * std::sin(a));
  }
  return xy;
}

struct rScene {
  const char* name;
  std::function<void(cRenderer&)> draw;
  std::function<void(aggref::rPicture&)> reference;
  int tolerance;
};

TEST(AggReference, PublicPicturesEqualRawAggBuiltApart) {
  qlm_renderer_start();
  struct rRect {
    double x1, y1, x2, y2;
    aggref::rColour c;
  };
  const rRect rects[] = {{10.25, 5.5, 90.75, 60.125, {200, 40, 30, 255}},
                         {40.5, 30.3, 150.2, 110.9, {20, 90, 220, 140}},
                         {3.1, 70.6, 300.4, 74.2, {10, 200, 60, 77}},
                         {160, 10, 310, 100, {250, 250, 10, 255}}};
  const std::vector<double> star8 = star(60, 60, 55, 22, 8), star5 = star(180, 60, 50, 19.5, 5),
                            penta = pentagram(265.3, 62.7, 52.4);
  const std::vector<double> zigzag = {8.5, 100.2, 60.3, 15.7, 120.1, 100.8, 200.6, 12.4, 310.2, 90.9};
  const std::vector<std::pair<double, double>> dashes = {{12, 5}, {3.5, 4.25}};
  const std::vector<aggref::rStop> two = {{0.0, {0, 0, 0, 255}}, {1.0, {255, 40, 0, 255}}};
  const std::vector<aggref::rStop> four = {
      {0.0, {255, 255, 0, 255}}, {0.33, {0, 0, 255, 255}}, {0.66, {255, 0, 0, 255}}, {1.0, {0, 255, 0, 255}}};
  const std::vector<aggref::rStop> four_translucent = {
      {0.0, {255, 255, 0, 200}}, {0.2, {0, 0, 255, 90}}, {0.7, {255, 0, 0, 255}}, {1.0, {0, 255, 0, 30}}};

  auto fill_with = [](cRenderer& r, const aggref::rColour& c) {
    r.PenOff();
    r.SetFillColor(colour_of(c));
  };
  auto gradient_scene = [&](const std::vector<aggref::rStop>& stops, bool along_y, double x1, double y1, double x2,
                            double y2) {
    return rScene{nullptr,
                  [=](cRenderer& r) {
                    std::unique_ptr<cGradientColorRamp> g;
                    if (along_y)
                      g = std::make_unique<cGradientLinearY>(0, 100);
                    else
                      g = std::make_unique<cGradientLinearX>(0, 100);
                    for (const aggref::rStop& s : stops) g->AddStop(colour_of(s.colour), s.offset);
                    r.PenOff();
                    r.SetFillGradient(g.get());
                    r.DrawRectangle(nullptr, x1, y1, x2, y2);
                    r.ResetFillGradient(false);
                  },
                  [=](aggref::rPicture& p) { aggref::fill_rect_gradient(p, x1, y1, x2, y2, stops, along_y); }, 0};
  };
  std::vector<rScene> scenes = {
      {"rectangles",
       [&](cRenderer& r) {
         for (const rRect& q : rects) {
           fill_with(r, q.c);
           r.DrawRectangle(nullptr, q.x1, q.y1, q.x2, q.y2);
         }
       },
       [&](aggref::rPicture& p) {
         for (const rRect& q : rects) aggref::fill_polygon(p, {q.x1, q.y1, q.x2, q.y1, q.x2, q.y2, q.x1, q.y2}, q.c);
       },
       0},
      {"stars",
       [&](cRenderer& r) {
         fill_with(r, {180, 30, 160, 255});
         r.DrawPolygon(star8.data(), int32_t(star8.size() / 2), nullptr);
         fill_with(r, {30, 160, 180, 170});
         r.DrawPolygon(star5.data(), int32_t(star5.size() / 2), nullptr);
         fill_with(r, {90, 90, 20, 255});
         r.DrawPolygon(penta.data(), int32_t(penta.size() / 2), nullptr);
       },
       [&](aggref::rPicture& p) {
         aggref::fill_polygon(p, star8, {180, 30, 160, 255});
         aggref::fill_polygon(p, star5, {30, 160, 180, 170});
         aggref::fill_polygon(p, penta, {90, 90, 20, 255});
       },
       0},
      {"dashes",
       [&](cRenderer& r) {
         r.FillOff();
         r.SetPenColor(renderer_color(20, 30, 200, 220));
         r.SetPenWidth(3.5);
         r.SetLineCap(0);
         r.SetLineJoin(0);
         for (const auto& [d, g] : dashes) r.AddDash(d, g);
         r.SetDashStart(2.5);
         r.DrawPolyline(zigzag.data(), int32_t(zigzag.size() / 2), nullptr);
       },
       [&](aggref::rPicture& p) {
         aggref::stroke_dashed(p, zigzag, dashes, 2.5, 3.5, {20, 30, 200, 220});
       },
       0},
  };
  rScene g2 = gradient_scene(two, false, 10.5, 8.25, 300.75, 50.5);
  g2.name = "2-stop gradient";
  rScene g4 = gradient_scene(four, false, 0, 0, 320, 60);
  g4.name = "4-stop gradient";
  rScene g4y = gradient_scene(four_translucent, true, 20.25, 2.5, 290.5, 117.75);
  g4y.name = "4-stop gradient, translucent, along y";
  scenes.push_back(g2);
  scenes.push_back(g4);
  scenes.push_back(g4y);

  for (const rScene& s : scenes) {
    SCOPED_TRACE(s.name);
    aggref::rPicture reference = aggref::blank(kW, kH, kWhite);
    s.reference(reference);
    const std::vector<uint8_t> drawn = ours(s.draw);
    const int worst = largest_difference(drawn, reference.bgra);
    std::printf("largest difference from raw AGG (-O2), %s: %d\n", s.name, worst);
    EXPECT_LE(worst, s.tolerance);
    // The scene draws something.
    EXPECT_NE(reference.bgra, aggref::blank(kW, kH, kWhite).bgra);
  }
}

}  // namespace
