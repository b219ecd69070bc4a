// Transformations (folding, mappings, viewports, hostile values) and
// clipping (masks against raw AGG, clip passes, write-back, clearing).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "qlm_renderer_engine.h"
#include "renderer_support.h"

namespace {

using testenv::RendererTest;

class cTransformProbe : public cRendererSurface {
 public:
  std::vector<int> Kinds() const {
    std::vector<int> k;
    for (const auto& s : mTransform.stages) k.push_back(s.kind);
    return k;
  }
  int64_t Rebuilds() const { return mRebuildCount; }
  int64_t ScaleUpdates() const { return mScaleUpdateCount; }
  double ApproxScale() const { return mApproxScale; }
  void ThroughChain(double& x, double& y) const { Chain(true).transform(&x, &y); }
  // The clip mask as built for the next drawing.
  std::vector<uint8_t> Mask() {
    BuildClipMask();
    std::vector<uint8_t> out;
    for (unsigned y = 0; y < mClipMask.height(); ++y)
      for (unsigned x = 0; x < mClipMask.width(); ++x) out.push_back(mClipMask.row_ptr(int(y))[x]);
    return out;
  }
  // Fills far beyond the surface through the current target.
  void FillEverything(const agg::rgba8& c) {
    qlm_agg::renderer_any& base = BeginDraw();
    agg::path_storage p;
    p.move_to(-1e4, -1e4);
    p.line_to(1e4, -1e4);
    p.line_to(1e4, 1e4);
    p.line_to(-1e4, 1e4);
    p.close_polygon();
    mRas.reset();
    mRas.add_path(p);
    agg::renderer_scanline_aa_solid<qlm_agg::renderer_any> solid(base);
    solid.color(c);
    agg::render_scanlines(mRas, mScanline, solid);
    EndDraw();
  }
};

class TransformTest : public RendererTest {};

TEST_F(TransformTest, AffineStagesFold) {
  const double quad[8] = {0, 0, 10, 1, 9, 9, 1, 10};
  struct {
    const char* name;
    std::function<void(cRendererSurface&)> ops;
    std::vector<int> kinds;
    int rebuilds;  // pipeline rebuilds of the sequence
  } cases[] = {
      {"translate, rotate", [](cRendererSurface& r) { r.Translate(1, 2), r.Rotate(30); }, {0}, 1},
      {"perspective, translate",
       [&](cRendererSurface& r) { r.AddPerspective(quad, 0, 0, 10, 10), r.Translate(1, 1); },
       {1, 0},
       2},
      {"translate, perspective, translate",
       [&](cRendererSurface& r) { r.Translate(1, 1), r.AddPerspective(quad, 0, 0, 10, 10), r.Translate(2, 2); },
       {0, 1, 0},
       3},
      {"scale, skew, reflect, matrix",
       // clang-format off
       [](cRendererSurface& r) { r.Scale(2, 3), r.Skew(0.1, 0.2), r.Reflect(1, 1), r.MultiplyMatrix({1, 0, 0, 1, 5, 5}); },
       {0}, 1},
      {"warp, bilinear", [&](cRendererSurface& r) { r.AddWarpMagnifier(5, 5, 2, 3), r.AddBilinear(quad, 0, 0, 10, 10); },
       {3, 2}, 2},
      // clang-format on
  };
  for (const auto& c : cases) {
    cTransformProbe r;
    const int64_t before = r.Rebuilds();
    c.ops(r);
    EXPECT_EQ(r.Kinds(), c.kinds) << c.name;
    EXPECT_EQ(r.Rebuilds() - before, c.rebuilds) << c.name;
    EXPECT_TRUE(r.IsTransformed()) << c.name;
  }
  // Translate and Rotate leave the approximation scale alone; Scale updates it.
  cTransformProbe r;
  const int64_t updates = r.ScaleUpdates();
  r.Translate(3, 3);
  r.Rotate(45);
  EXPECT_EQ(r.ScaleUpdates(), updates);
  r.Scale(2, 2);
  EXPECT_EQ(r.ScaleUpdates(), updates + 1);
  EXPECT_NEAR(r.ApproxScale(), std::hypot(2.0, 2.0) * 0.7071068 * 2, 1e-12);
}

TEST_F(TransformTest, PointsMapForthAndBack) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int round = 0; round < 50; ++round) {
    cTransformProbe r;
    r.Translate(u(rng) * 20, u(rng) * 20);
    r.Rotate(u(rng) * 360);
    const double quad[8] = {u(rng),           u(rng),           100 + u(rng) * 5, u(rng) * 5,
                            100 + u(rng) * 5, 100 + u(rng) * 5, u(rng) * 5,       100 + u(rng) * 5};
    r.AddPerspective(quad, 0, 0, 100, 100);
    r.Scale(1.5 + u(rng), 1.5 + u(rng));
    r.AddWarpMagnifier(50, 50, 1.5 + u(rng), 20);
    r.SetMatrix({1.2, 0.1, -0.2, 0.9, 3, 4}, true);
    for (int i = 0; i < 20; ++i) {
      const double x0 = u(rng) * 100, y0 = u(rng) * 100;
      double x = x0, y = y0;
      r.TransformPoint(x, y, true);
      r.InverseTransformPoint(x, y, true);
      ASSERT_NEAR(x, x0, 1e-9) << round;
      ASSERT_NEAR(y, y0, 1e-9) << round;
      // The drawing chain (folded steps) maps as TransformPoint does.
      double cx = x0, cy = y0, tx = x0, ty = y0;
      r.ThroughChain(cx, cy);
      r.TransformPoint(tx, ty, true);
      ASSERT_NEAR(cx, tx, 1e-9);
      ASSERT_NEAR(cy, ty, 1e-9);
      // The snapshot maps back the same way.
      double sx = x0, sy = y0;
      r.TransformPoint(sx, sy, true);
      r.GetTransformations()->MapPoint(sx, sy, true);
      ASSERT_NEAR(sx, x0, 1e-9);
      ASSERT_NEAR(sy, y0, 1e-9);
    }
  }
}

TEST_F(TransformTest, LengthsMatricesAndOrigin) {
  cRendererSurface r;
  r.Scale(2, 2);
  EXPECT_EQ(r.TransformLength(10), std::hypot(20.0, 20.0) * 0.7071068);
  EXPECT_GT(r.TransformLength(10), 20);

  cRendererSurface m;
  m.SetMatrix({2, 0, 0, 2, 0, 0}, true);
  EXPECT_FALSE(m.IsTransformed());
  double x = 1, y = 1;
  m.TransformPointAffine(x, y);
  EXPECT_EQ(x, 2);
  m.SetMatrix({0, 0, 0, 0, 0, 0}, true);  // singular: inverses leave points
  x = 3, y = 4;
  m.InverseTransformPointAffine(x, y);
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 4);

  auto bitmap = testenv::solid_bitmap(4, 4, cnBitmap32BGRA, 0);
  cSurfaceBitmap surface;
  ASSERT_TRUE(surface.Attach(bitmap.get(), true));
  cRendererSurface o;
  o.SetOrigin(100, 50);
  ASSERT_TRUE(o.AttachSurface(&surface));
  o.ResetMatrix(true);
  x = 0, y = 0;
  o.TransformPointAffine(x, y);
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 50);
}

TEST_F(TransformTest, ViewportAlignments) {
  // A 100 x 50 world into a 200 x 200 device rectangle.
  for (int align = 0; align <= 10; ++align) {
    SCOPED_TRACE(align);
    cRendererSurface r;
    r.SetViewport(uint8_t(align), 0, 0, 100, 50, 0, 0, 200, 200);
    double x0 = 0, y0 = 0, x1 = 100, y1 = 50;
    r.TransformPoint(x0, y0, false);
    r.TransformPoint(x1, y1, false);
    if (align == 0 || align == 10) {  // stretched
      EXPECT_DOUBLE_EQ(x0, 0);
      EXPECT_DOUBLE_EQ(y0, 0);
      EXPECT_DOUBLE_EQ(x1, 200);
      EXPECT_DOUBLE_EQ(y1, 200);
    } else {  // scale 2 both ways; the free 100 pixels by the vertical alignment
      const double ay = ((align - 1) / 3) * 0.5;
      EXPECT_DOUBLE_EQ(x1 - x0, 200);
      EXPECT_DOUBLE_EQ(y1 - y0, 100);
      EXPECT_DOUBLE_EQ(x0, 0);
      EXPECT_DOUBLE_EQ(y0, ay * 100);
    }
  }
}

TEST_F(TransformTest, HostileValuesLeaveAUsableRenderer) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  auto bitmap = testenv::solid_bitmap(16, 16, cnBitmap32BGRA, 0xFF000000u);
  cSurfaceBitmap surface;
  ASSERT_TRUE(surface.Attach(bitmap.get(), true));
  cTransformProbe r;
  ASSERT_TRUE(r.AttachSurface(&surface));
  for (double v : {nan, inf, -inf, 1e300, -1e300}) {
    const double quad[8] = {v, 0, 10, 0, 10, 10, 0, 10};
    r.Translate(v, 1);
    r.Rotate(v);
    r.Scale(v, v);
    r.Scale(v, v);
    r.Skew(v, 0);
    r.Reflect(v, v);
    r.Reflect(0, 0);
    r.MultiplyMatrix({v, 0, 0, v, v, 0});
    r.AddPerspective(quad, 0, 0, v, 10);
    r.AddBilinear(quad, 0, 0, 10, 10);
    r.AddWarpMagnifier(v, 0, v, v);
    r.AddWarpMagnifier(0, 0, 0, 0);
    r.SetViewport(5, 0, 0, v, 10, 0, 0, 10, v);
    r.SetMatrix({v, 0, 0, 1, 0, 0}, true);
    r.ClipRect(v, 0, 8, 8);
    r.ClipEllipse(4, 4, v, 2);
    r.ClipRectXYWH(0, 0, v, v);
    // Non-finite values are refused; 1e300 is a (huge) transformation like
    // any other, which may overflow points but must not stall or crash.
    double x = 1, y = 1;
    r.TransformPoint(x, y, true);
    if (!std::isfinite(v)) {
      EXPECT_TRUE(std::isfinite(x) && std::isfinite(y)) << v;
    }
    r.InverseTransformPoint(x, y, true);
    (void)r.TransformLength(1);
    r.FillEverything(agg::rgba8(255, 255, 255, 255));
    r.ClipOff();
    r.ResetTransformations(true);
    r.ResetMatrix(true);
  }
  r.Scale(1e300, 1e300);
  r.ClipEllipse(4, 4, 1e300, 1e300);
  r.FillEverything(agg::rgba8(255, 255, 255, 255));
  r.ClipOff();
  r.ResetTransformations(true);
  double x = 1, y = 2;
  r.TransformPoint(x, y, true);
  EXPECT_EQ(x, 1);
  EXPECT_EQ(y, 2);
}

// --------------------------------------------------------------------------
// Clipping

class ClipTest : public RendererTest {};

// A mask drawn by raw AGG: the shapes at the clip's approximation scale.
std::vector<uint8_t> raw_mask(int w, int h, bool inside, bool separate, bool even_odd,
                              const std::vector<agg::path_storage>& shapes) {
  std::vector<uint8_t> mask(size_t(w * h));
  agg::rendering_buffer rb(mask.data(), unsigned(w), unsigned(h), w);
  agg::pixfmt_gray8 pf(rb);
  agg::renderer_base<agg::pixfmt_gray8> base(pf);
  base.clear(agg::gray8(inside ? 0 : 255));
  agg::rasterizer_scanline_aa<> ras;
  ras.filling_rule(even_odd ? agg::fill_even_odd : agg::fill_non_zero);
  agg::scanline_u8 sl;
  for (const auto& s : shapes) {
    agg::path_storage copy = s;
    agg::conv_curve<agg::path_storage> curve(copy);
    curve.approximation_scale(std::hypot(1.0, 1.0) * 0.7071068 * 2);
    ras.add_path(curve);
    if (separate) {
      agg::render_scanlines_aa_solid(ras, sl, base, agg::gray8(inside ? 255 : 0));
      ras.reset();
    }
  }
  if (!separate) agg::render_scanlines_aa_solid(ras, sl, base, agg::gray8(inside ? 255 : 0));
  return mask;
}

TEST_F(ClipTest, MasksEqualRawAgg) {
  agg::path_storage rect, ellipse;
  rect.move_to(3.5, 4.25);
  rect.line_to(20.75, 4.25);
  rect.line_to(20.75, 15.5);
  rect.line_to(3.5, 15.5);
  rect.close_polygon();
  agg::bezier_arc arc(16, 14, 9.5, 6.25, 0, 2 * 3.14159265358979323846);
  ellipse.concat_path(arc);
  ellipse.close_polygon();
  for (bool inside : {true, false})
    for (bool separate : {true, false})
      for (bool even_odd : {false, true}) {
        SCOPED_TRACE(testing::Message() << "inside " << inside << " separate " << separate << " even-odd " << even_odd);
        auto bitmap = testenv::solid_bitmap(32, 24, cnBitmap32BGRA, 0);
        cSurfaceBitmap surface;
        ASSERT_TRUE(surface.Attach(bitmap.get(), true));
        cTransformProbe r;
        ASSERT_TRUE(r.AttachSurface(&surface));
        r.SetClipInside(inside);
        r.SetClipSeparate(separate);
        r.SetClipEvenOdd(even_odd);
        r.ClipRect(3.5, 4.25, 20.75, 15.5);
        r.ClipEllipse(16, 14, 9.5, 6.25);
        EXPECT_EQ(r.Mask(), raw_mask(32, 24, inside, separate, even_odd, {rect, ellipse}));
      }
}

TEST_F(ClipTest, ClipPassesWriteBackThroughTheMask) {
  for (bool aa : {true, false}) {
    SCOPED_TRACE(aa);
    auto bitmap = testenv::solid_bitmap(24, 24, cnBitmap32BGRA, 0xFF000000u);
    cSurfaceBitmap surface;
    ASSERT_TRUE(surface.Attach(bitmap.get(), true));
    cTransformProbe r;
    ASSERT_TRUE(r.AttachSurface(&surface));
    r.SetAntiAliasing(aa);
    r.ClipRect(4.5, 4.5, 15.5, 15.5);
    r.FillEverything(agg::rgba8(255, 255, 255, 255));
    // Until the pass ends the surface does not show it.
    EXPECT_EQ(testenv::pixel_argb(*bitmap, 10, 10), 0xFF000000u);
    r.ClipOff();
    EXPECT_EQ(testenv::pixel_argb(*bitmap, 10, 10), 0xFFFFFFFFu);
    EXPECT_EQ(testenv::pixel_argb(*bitmap, 2, 2), 0xFF000000u);
    EXPECT_EQ(testenv::pixel_argb(*bitmap, 20, 10), 0xFF000000u);
    const uint32_t edge = testenv::pixel_argb(*bitmap, 4, 10) & 0xFF;
    if (aa) {
      EXPECT_GT(edge, 0u);
      EXPECT_LT(edge, 255u);
    } else {
      EXPECT_TRUE(edge == 0 || edge == 255) << edge;
    }

    // Inverted: the same fill covers what lies outside.
    r.ClearARGB(0xFF000000u);
    r.SetClipInside(false);
    r.ClipOn();
    r.FillEverything(agg::rgba8(255, 255, 255, 255));
    r.ClipOff();
    EXPECT_EQ(testenv::pixel_argb(*bitmap, 10, 10), 0xFF000000u);
    EXPECT_EQ(testenv::pixel_argb(*bitmap, 2, 2), 0xFFFFFFFFu);
    EXPECT_EQ(testenv::pixel_argb(*bitmap, 23, 23), 0xFFFFFFFFu);
  }
}

TEST_F(ClipTest, ResettingWithoutWriteBackDiscardsThePass) {
  auto bitmap = testenv::solid_bitmap(16, 16, cnBitmap32BGRA, 0xFF000000u);
  cSurfaceBitmap surface;
  ASSERT_TRUE(surface.Attach(bitmap.get(), true));
  cTransformProbe r;
  ASSERT_TRUE(r.AttachSurface(&surface));
  r.ClipRect(2, 2, 10, 10);
  r.FillEverything(agg::rgba8(255, 0, 0, 255));
  r.ResetClipping(false);
  r.DetachSurface();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(testenv::pixel_argb(*bitmap, x, y), 0xFF000000u);
}

TEST_F(ClipTest, ClearClipAreaAndBounds) {
  auto bitmap = testenv::solid_bitmap(12, 10, cnBitmap32BGRA, 0xFF000000u);
  cSurfaceBitmap surface;
  ASSERT_TRUE(surface.Attach(bitmap.get(), true));
  cTransformProbe r;
  ASSERT_TRUE(r.AttachSurface(&surface));
  rRectD b;
  r.GetClipBounds(b);
  EXPECT_FALSE(b.IsValid());
  r.ClipRect(8, 6, 2, 1);
  r.ClipEllipse(5, 5, 1, 4);
  r.GetClipBounds(b);
  EXPECT_EQ(b.x1, 2);
  EXPECT_EQ(b.y1, 1);
  EXPECT_EQ(b.x2, 8);
  EXPECT_EQ(b.y2, 9);

  // Outside the shapes, the whole surface is cleared, last row and column too.
  r.ResetClipping(false);
  r.SetClipInside(false);
  r.ClipRect(4, 4, 6, 6);
  r.ClearClipArea(renderer_color(0, 0, 255, 255));
  r.ClipOff();
  EXPECT_EQ(testenv::pixel_argb(*bitmap, 11, 9), 0xFF0000FFu);
  EXPECT_EQ(testenv::pixel_argb(*bitmap, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(testenv::pixel_argb(*bitmap, 5, 5), 0xFF000000u);
}

}  // namespace
