// Hit tests: registration against a mask drawn by raw AGG, queries, the
// update rectangle, clipping, and the drag state.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "qlm_renderer_engine.h"
#include "renderer_support.h"

namespace {

using testenv::RendererTest;

class cHitProbe : public cRendererSurface {
 public:
  void Register(agg::path_storage& p, cHitTest* hit, bool fill = true) { RenderHitMask(p, 0, hit, fill); }
  void Begin() { BeginDraw(); }
  void End() { EndDraw(); }
  using cRendererSurface::AsHitTest;
};

agg::path_storage ring(double cx, double cy, double r1, double r2) {
  agg::path_storage p;
  agg::ellipse outer(cx, cy, r1, r1, 64), inner(cx, cy, r2, r2, 64, true);
  p.concat_path(outer);
  p.concat_path(inner);
  return p;
}

struct Bound {
  explicit Bound(int w = 40, int h = 30) : bitmap(testenv::solid_bitmap(w, h, cnBitmap32BGRA, 0xFF000000u)) {
    EXPECT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_TRUE(r.AttachSurface(&surface));
  }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cHitProbe r;
};

class HitTestTest : public RendererTest {};

TEST_F(HitTestTest, RegisteredCoverageEqualsRawAgg) {
  Bound b;
  cHitTest hit;
  agg::path_storage shape = ring(20, 15, 10.5, 4.25);
  b.r.SetFillEvenOdd(true);
  b.r.Register(shape, &hit);
  // Raw AGG: the same ring over a 40 x 30 grey plane, even-odd.
  std::vector<uint8_t> plane(40 * 30, 0);
  agg::rendering_buffer rb(plane.data(), 40, 30, 40);
  agg::pixfmt_gray8 pf(rb);
  agg::renderer_base<agg::pixfmt_gray8> base(pf);
  agg::rasterizer_scanline_aa<> ras;
  ras.filling_rule(agg::fill_even_odd);
  agg::scanline_u8 sl;
  agg::path_storage copy = ring(20, 15, 10.5, 4.25);
  ras.add_path(copy);
  agg::render_scanlines_aa_solid(ras, sl, base, agg::gray8(255, 255));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(hit.HitTestInt(x, y), plane[size_t(y * 40 + x)]) << x << "," << y;
  EXPECT_EQ(hit.HitTest(20, 15), 0);  // the hole
  EXPECT_EQ(hit.HitTest(12.4, 15), 255);
  EXPECT_EQ(hit.HitTest(std::nan(""), 1), 0);
}

TEST_F(HitTestTest, RegistrationsGrowMergeAndObeyTheUpdateRectangle) {
  Bound b;
  cHitTest hit;
  agg::path_storage a, c, far;
  a.move_to(2, 2), a.line_to(8, 2), a.line_to(8, 8), a.line_to(2, 8), a.close_polygon();
  c.move_to(30, 20), c.line_to(36, 20), c.line_to(36, 26), c.close_polygon();
  far.move_to(500, 500), far.line_to(600, 500), far.line_to(600, 600), far.close_polygon();
  b.r.Register(a, &hit);
  b.r.Register(c, &hit);
  EXPECT_EQ(hit.HitTest(5, 5), 255);
  EXPECT_EQ(hit.HitTest(35, 21), 255);
  EXPECT_EQ(hit.HitTest(20, 15), 0);
  // A shape wholly outside the surface registers nothing and the earlier
  // ones still answer.
  b.r.Register(far, &hit);
  EXPECT_EQ(hit.HitTest(5, 5), 255);
  EXPECT_EQ(hit.HitTest(550, 520), 0);
  hit.Reset();
  EXPECT_EQ(hit.HitTest(5, 5), 0);
  EXPECT_TRUE(hit.IsEmpty());

  // Master alpha is the registered value; anti-aliasing off gives hard edges.
  b.r.SetMasterAlpha(128);
  b.r.Register(a, &hit);
  EXPECT_EQ(hit.HitTest(5, 5), 128);
  b.r.SetMasterAlpha(255);
  b.r.SetAntiAliasing(false);
  cHitTest hard;
  agg::path_storage half;
  half.move_to(2.5, 2.5), half.line_to(9.5, 2.5), half.line_to(9.5, 9.5), half.line_to(2.5, 9.5), half.close_polygon();
  b.r.Register(half, &hard);
  for (int x = 1; x < 11; ++x) {
    const uint8_t v = hard.HitTestInt(x, 5);
    EXPECT_TRUE(v == 0 || v == 255) << x << ": " << int(v);
  }
}

TEST_F(HitTestTest, ClippingAppliesToRegistrations) {
  Bound b;
  cHitTest hit;
  agg::path_storage all;
  all.move_to(0, 0), all.line_to(40, 0), all.line_to(40, 30), all.line_to(0, 30), all.close_polygon();
  b.r.ClipRect(10, 10, 20, 20);
  b.r.Begin();  // builds the mask as a drawing would
  b.r.Register(all, &hit);
  b.r.End();
  EXPECT_EQ(hit.HitTest(15, 15), 255);
  EXPECT_EQ(hit.HitTest(5, 5), 0);
  EXPECT_EQ(hit.HitTest(25, 25), 0);
}

TEST_F(HitTestTest, DragsMapBackThroughTheTransformations) {
  Bound b;
  cHitTest hit;
  agg::path_storage a;
  a.move_to(0, 0), a.line_to(40, 0), a.line_to(40, 30), a.line_to(0, 30), a.close_polygon();
  b.r.Register(a, &hit);
  // Translate, perspective, translate: mapping back must undo them from the
  // last to the first.
  b.r.Translate(3, 4);
  const double quad[8] = {0, 0, 50, 2, 48, 40, 1, 38};
  b.r.AddPerspective(quad, 0, 0, 40, 30);
  b.r.Translate(-2, 1);
  auto t = b.r.GetTransformations();
  double ux = 10, uy = 8, dx = ux, dy = uy;
  b.r.TransformPoint(dx, dy, true);
  EXPECT_EQ(hit.Anchor(dx, dy, t.get()), 255);
  EXPECT_TRUE(hit.IsDragging());
  double ux2 = 14, uy2 = 5, dx2 = ux2, dy2 = uy2;
  b.r.TransformPoint(dx2, dy2, true);
  hit.DragTo(dx2, dy2, t.get());
  EXPECT_NEAR(hit.GetDragX(), 4, 1e-9);
  EXPECT_NEAR(hit.GetDragY(), -3, 1e-9);
  hit.EndDrag(true);
  EXPECT_FALSE(hit.IsDragging());
  EXPECT_NEAR(hit.GetDragX(), 4, 1e-9);
  hit.Anchor(1, 1, nullptr);
  hit.DragTo(2, 3, nullptr);
  hit.EndDrag(false);
  EXPECT_NEAR(hit.GetDragY(), -3, 1e-9);
  EXPECT_EQ(hit.Anchor(500, 500, nullptr), 0);
  EXPECT_FALSE(hit.IsDragging());
  // Only hit tests are hit tests.
  cBitmap bitmap;
  EXPECT_EQ(cHitProbe::AsHitTest(&hit), &hit);
  EXPECT_EQ(cHitProbe::AsHitTest(&bitmap), nullptr);
  EXPECT_EQ(cHitProbe::AsHitTest(nullptr), nullptr);
}

}  // namespace
