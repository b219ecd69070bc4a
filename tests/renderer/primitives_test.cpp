// Paths, matrices and the primitives: equivalent shapes drawn alike, arcs
// against raw AGG strokes, degenerate and hostile input, path bounds, the
// matrix procedures against their formulas, clipping to a path.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "qlm_2D.h"
#include "qlm_path.h"
#include "qlm_renderer_engine.h"
#include "renderer_support.h"

namespace {

using testenv::pixel_argb;
using testenv::RendererTest;

class cPrimProbe : public cRendererSurface {
 public:
  agg::path_storage& Scratch() { return mScratch.GetStorage(); }
};

struct Bound {
  explicit Bound(int w = 60, int h = 50) : bitmap(testenv::solid_bitmap(w, h, cnBitmap32BGRA, 0xFF203040u)) {
    EXPECT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_TRUE(r.AttachSurface(&surface));
    r.SetPenWidth(1.5);
    r.SetPenColor(renderer_color(250, 240, 10, 255));
    r.SetFillColor(renderer_color(30, 120, 220, 200));
  }
  std::vector<uint8_t> Bytes() const {
    return std::vector<uint8_t>(bitmap->Data(), bitmap->Data() + int64_t(bitmap->Stride()) * bitmap->Height());
  }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cPrimProbe r;
};

using Painter = std::function<void(cPrimProbe&)>;
std::vector<uint8_t> paint(const Painter& p) {
  Bound b;
  p(b.r);
  return b.Bytes();
}

class PrimitivesTest : public RendererTest {};

TEST_F(PrimitivesTest, EquivalentShapesDrawAlike) {
  const double rect[8] = {5.5, 6.25, 40.75, 6.25, 40.75, 30.5, 5.5, 30.5};
  const double tri[6] = {10, 40, 30.5, 3.25, 52, 44};
  struct {
    const char* name;
    Painter a, b;
  } pairs[] = {
      {"rectangle = polygon", [](cPrimProbe& r) { r.DrawRectangle(nullptr, 5.5, 6.25, 40.75, 30.5); },
       [&](cPrimProbe& r) { r.DrawPolygon(rect, 4, nullptr); }},
      {"circle = ellipse", [](cPrimProbe& r) { r.DrawCircle(nullptr, 30, 25, 17.5); },
       [](cPrimProbe& r) { r.DrawEllipse(nullptr, 30, 25, 17.5, 17.5); }},
      {"triangle = polygon", [](cPrimProbe& r) { r.DrawTriangle(nullptr, 10, 40, 30.5, 3.25, 52, 44); },
       [&](cPrimProbe& r) { r.DrawPolygon(tri, 3, nullptr); }},
      {"path = rectangle", [](cPrimProbe& r) { r.DrawRectangle(nullptr, 5.5, 6.25, 40.75, 30.5); },
       [](cPrimProbe& r) {
         cPath p;
         p.MoveTo(5.5, 6.25);
         p.LineTo(40.75, 6.25);
         p.LineTo(40.75, 30.5);
         p.LineTo(5.5, 30.5);
         p.ClosePolygon();
         r.DrawPath(&p, nullptr, 0, 0);
       }},
  };
  for (const auto& c : pairs) EXPECT_EQ(paint(c.a), paint(c.b)) << c.name;
}

TEST_F(PrimitivesTest, DrawPathPlacesTheBoxCorner) {
  cPath p;
  p.MoveTo(100, 100);
  p.LineTo(130.5, 104);
  p.LineTo(112, 125.25);
  p.ClosePolygon();
  Bound placed, moved;
  cHitTest hit;
  placed.r.DrawPath(&p, &hit, 10, 20);
  moved.r.Translate(-90, -80);
  moved.r.DrawPath(&p, nullptr, 0, 0);
  EXPECT_EQ(placed.Bytes(), moved.Bytes());
  EXPECT_GT(hit.HitTest(20, 25), 0);
  EXPECT_EQ(hit.HitTest(105, 105), 0);
  // (0, 0) draws the path where it is, even off its box corner.
  Bound in_place;
  in_place.r.DrawPath(&p, nullptr, 0, 0);
  EXPECT_EQ(in_place.Bytes(), Bound().Bytes());
  // Nil draws nothing.
  in_place.r.DrawPath(nullptr, nullptr, 0, 0);
  EXPECT_EQ(in_place.Bytes(), Bound().Bytes());
}

TEST_F(PrimitivesTest, ArcsAgainstRawAggStrokes) {
  // DrawArc(0, 90) is the stroke of AGG's arc from pi/2 back to 0 clockwise.
  Bound b;
  b.r.FillOff();
  b.r.DrawArc(nullptr, 30, 25, 20, 15, 0, 90);
  auto raw = testenv::solid_bitmap(60, 50, cnBitmap32BGRA, 0xFF203040u);
  agg::rendering_buffer rb(raw->Data(), 60, 50, raw->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  const double scale = std::hypot(1.0, 1.0) * 0.7071068 * 2.0;
  agg::arc arc(30, 25, 20, 15, 3.14159265358979323846 / 2, 0, false);
  arc.approximation_scale(scale);
  agg::path_storage ps;
  ps.concat_path(arc);
  agg::conv_curve<agg::path_storage> curve(ps);
  agg::conv_stroke<agg::conv_curve<agg::path_storage>> stroke(curve);
  stroke.width(1.5);
  stroke.approximation_scale(scale);
  agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> ras;
  ras.clip_box(0, 0, 60, 50);
  ras.add_path(stroke);
  agg::scanline_u8 sl;
  agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(250, 240, 10, 255));
  EXPECT_EQ(b.Bytes(), std::vector<uint8_t>(raw->Data(), raw->Data() + raw->Stride() * 50));
  // It starts at the bottom point (angle 90) and ends at the right one.
  double x, y;
  b.r.Scratch().rewind(0);
  b.r.Scratch().vertex(&x, &y);
  EXPECT_NEAR(x, 30, 1e-9);
  EXPECT_NEAR(y, 40, 1e-9);
  b.r.Scratch().last_vertex(&x, &y);
  EXPECT_NEAR(x, 50, 1e-9);
  EXPECT_NEAR(y, 25, 1e-9);
  // Chords and pies keep the default approximation scale: under a 10 x
  // magnification they have far fewer facets than the arc.
  b.r.Scale(10, 10);
  b.r.DrawArc(nullptr, 3, 2.5, 2, 1.5, 0, 270);
  const unsigned arc_vertices = b.r.Scratch().total_vertices();
  b.r.DrawChord(nullptr, 3, 2.5, 2, 1.5, 0, 270);
  const unsigned chord_vertices = b.r.Scratch().total_vertices();
  b.r.DrawPie(nullptr, 3, 2.5, 2, 1.5, 0, 270);
  EXPECT_LT(chord_vertices * 2, arc_vertices);
  EXPECT_EQ(b.r.Scratch().total_vertices(), chord_vertices + 1);  // and the centre
}

TEST_F(PrimitivesTest, FillAndStrokeOrderAgainstRawAgg) {
  // Mode 3 paints the fill, then the stroke; with the pen under the fill the
  // other way round. The raw twin paints the same two layers in AGG.
  for (bool under : {false, true}) {
    Bound b;
    b.r.SetPenWidth(5);
    b.r.SetPenUnderFill(under);
    b.r.DrawRectangle(nullptr, 10.5, 8.25, 45.75, 38.5);
    auto raw = testenv::solid_bitmap(60, 50, cnBitmap32BGRA, 0xFF203040u);
    agg::rendering_buffer rb(raw->Data(), 60, 50, raw->Stride());
    agg::pixfmt_bgra32 pf(rb);
    agg::renderer_base<agg::pixfmt_bgra32> base(pf);
    agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> ras;
    ras.clip_box(0, 0, 60, 50);
    agg::scanline_u8 sl;
    agg::path_storage rect;
    rect.move_to(10.5, 8.25);
    rect.line_to(45.75, 8.25);
    rect.line_to(45.75, 38.5);
    rect.line_to(10.5, 38.5);
    rect.close_polygon();
    agg::conv_stroke<agg::path_storage> stroke(rect);
    stroke.width(5);
    stroke.approximation_scale(std::hypot(1.0, 1.0) * 0.7071068 * 2.0);
    auto fill = [&] {
      ras.reset();
      ras.add_path(rect);
      agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(30, 120, 220, 200));
    };
    auto pen = [&] {
      ras.reset();
      ras.add_path(stroke);
      agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(250, 240, 10, 255));
    };
    if (under) {
      pen();
      fill();
    } else {
      fill();
      pen();
    }
    EXPECT_EQ(b.Bytes(), std::vector<uint8_t>(raw->Data(), raw->Data() + raw->Stride() * 50)) << under;
  }
}

TEST_F(PrimitivesTest, DegenerateInput) {
  const std::vector<uint8_t> blank = Bound().Bytes();
  const double two[4] = {10, 10, 40, 30};
  const double one[2] = {10, 10};
  const double pts[8] = {5, 40, 20, 5, 40, 45, 55, 10};
  struct {
    const char* name;
    Painter draw;
    bool changes;
  } cases[] = {
      {"polygon of 1", [&](cPrimProbe& r) { r.DrawPolygon(one, 1, nullptr); }, false},
      {"polygon of 2", [&](cPrimProbe& r) { r.DrawPolygon(two, 2, nullptr); }, true},
      {"polyline nil", [&](cPrimProbe& r) { r.DrawPolyline(nullptr, 5, nullptr); }, false},
      {"regular polygon of 2", [](cPrimProbe& r) { r.DrawRegularPolygon(2, nullptr, 30, 25, 10, 0); }, false},
      {"star of 1", [](cPrimProbe& r) { r.DrawStar(1, nullptr, 30, 25, 5, 10, 0); }, false},
      {"spiral r1 > r2", [](cPrimProbe& r) { r.DrawSpiral(nullptr, 30, 25, 20, 10, 1, 0); }, false},
      {"spiral step 0", [](cPrimProbe& r) { r.DrawSpiral(nullptr, 30, 25, 1, 20, 0, 0); }, false},
      {"spiral step -1", [](cPrimProbe& r) { r.DrawSpiral(nullptr, 30, 25, 1, 20, -1, 0); }, false},
      {"spiral tiny step", [](cPrimProbe& r) { r.DrawSpiral(nullptr, 30, 25, 1, 20, 1e-300, 0); }, false},
      {"spiral", [](cPrimProbe& r) { r.DrawSpiral(nullptr, 30, 25, 1, 20, 1, 0); }, true},
      {"bspline of 1", [&](cPrimProbe& r) { r.DrawBSpline(one, 1, false, 5, nullptr); }, false},
      {"huge polygon count", [](cPrimProbe& r) { r.DrawRegularPolygon(INT32_MAX, nullptr, 30, 25, 10, 0); }, false},
      {"huge star count", [](cPrimProbe& r) { r.DrawStar(INT32_MAX, nullptr, 30, 25, 5, 10, 0); }, false},
      // Placing a path measures it: a control point that is not a number
      // slips past the bounding box and would be subdivided without end.
      {"placed curve through NaN",
       [](cPrimProbe& r) {
         cPath p;
         p.MoveTo(10, 10);
         p.Curve4(std::nan(""), 20, 30, std::nan(""), 40, 40);
         r.DrawPath(&p, nullptr, 5, 5);
       },
       false},
      {"NaN circle", [](cPrimProbe& r) { r.DrawCircle(nullptr, 30, 25, std::nan("")); }, false},
      {"infinite ellipse", [](cPrimProbe& r) { r.DrawEllipse(nullptr, 30, 25, INFINITY, 3); }, false},
      {"NaN arc", [](cPrimProbe& r) { r.DrawArc(nullptr, std::nan(""), 25, 3, 3, 0, 90); }, false},
      {"NaN rounded rectangle",
       [](cPrimProbe& r) { r.DrawRoundedRectangle(nullptr, 1, 1, 20, 20, std::nan(""), 1, 1, 1, 1, 1, 1, 1); }, false},
      {"huge circle", [](cPrimProbe& r) { r.DrawCircle(nullptr, 30, 25, 1e15); }, false},
      {"rounded rectangle with negative radii, one side 1e300 long",
       [](cPrimProbe& r) {
         r.DrawRoundedRectangle(nullptr, -11.25, 1e300, -5.25, -24, -10.5, 9, -8.25, -24, -10.5, 9, -8.25, -24);
       },
       false},
      {"far circle", [](cPrimProbe& r) { r.DrawCircle(nullptr, 1e300, 25, 1e300); }, false},
  };
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const bool changed = paint(c.draw) != blank;
    EXPECT_EQ(changed, c.changes) << c.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.name;
  }
  // Radii count by their size.
  EXPECT_EQ(paint([](cPrimProbe& r) { r.DrawRoundedRectangle(nullptr, 5, 5, 50, 40, -6, 4, 8, -3, 5, 5, -7, 2); }),
            paint([](cPrimProbe& r) { r.DrawRoundedRectangle(nullptr, 5, 5, 50, 40, 6, 4, 8, 3, 5, 5, 7, 2); }));
  // B-spline steps below 1 count as 1.
  EXPECT_EQ(paint([&](cPrimProbe& r) { r.DrawBSpline(pts, 4, false, 0, nullptr); }),
            paint([&](cPrimProbe& r) { r.DrawBSpline(pts, 4, false, 1, nullptr); }));
  EXPECT_NE(paint([&](cPrimProbe& r) { r.DrawBSpline(pts, 4, false, 8, nullptr); }),
            paint([&](cPrimProbe& r) { r.DrawBSpline(pts, 4, false, 1, nullptr); }));
  // A line of equal end points is a zero-length path: with butt caps it
  // shows nothing (AGG's stroker drops coincident points, caps included).
  EXPECT_EQ(paint([](cPrimProbe& r) { r.DrawLine(nullptr, 20, 20, 20, 20); }), blank);
  // Count 3, rotation -90: the first corner straight above the centre.
  Bound b;
  b.r.DrawRegularPolygon(3, nullptr, 30, 25, 10, -90);
  double x, y;
  b.r.Scratch().rewind(0);
  b.r.Scratch().vertex(&x, &y);
  EXPECT_NEAR(x, 30, 1e-9);
  EXPECT_NEAR(y, 15, 1e-9);
  // Star: tips on the second radius, corners between on the first.
  b.r.DrawStar(5, nullptr, 30, 25, 4, 12, 0);
  b.r.Scratch().rewind(0);
  b.r.Scratch().vertex(&x, &y);
  EXPECT_NEAR(std::hypot(x - 30, y - 25), 12, 1e-9);
  b.r.Scratch().vertex(&x, &y);
  EXPECT_NEAR(std::hypot(x - 30, y - 25), 4, 1e-9);
  EXPECT_EQ(b.r.Scratch().total_vertices(), 11u);  // 10 corners and the close
}

TEST_F(PrimitivesTest, PathBoundsAreCachedAndFlattened) {
  cPath p;
  const rPathBounds& empty = p.GetBounds();
  EXPECT_EQ(empty.x1, 0);
  EXPECT_EQ(empty.x2, 0);
  EXPECT_EQ(empty.y2, 0);
  p.MoveTo(0, 0);
  p.Curve3(50, 100, 100, 0);
  const rPathBounds* first = &p.GetBounds();
  EXPECT_EQ(first, &p.GetBounds());  // the same record until a change
  EXPECT_NEAR(first->y2, 50, 0.5);   // the curve's own top, not the control point
  EXPECT_EQ(first->x2, 100);
  p.LineTo(120, 70);
  EXPECT_EQ(p.GetBounds().x2, 120);
  EXPECT_EQ(p.GetBounds().y2, 70);
  p.Transform(rMatrix{2, 0, 0, 2, 1, 1});
  EXPECT_EQ(p.GetBounds().x2, 241);
  cPath q;
  q.Assign(&p);
  EXPECT_EQ(q.GetBounds().x2, 241);
  q.Assign(nullptr);
  q.Assign(&q);
  EXPECT_EQ(q.GetBounds().x2, 241);
  EXPECT_EQ(q.GetStorage().total_vertices(), p.GetStorage().total_vertices());
  q.Clear();
  EXPECT_EQ(q.GetBounds().x2, 0);
  q.MoveTo(0, 0);
  q.ArcTo(10, 10, 0, false, true, 20, 0);
  EXPECT_NEAR(q.GetBounds().y1, -10, 0.5);  // sweep true turns through negative y
  // Radii far too small for the chord grow until the arc spans it: half a
  // circle of radius 50 over a chord of 100, whatever the radius given.
  for (double radius : {15.0, 1.0, 49.0}) {
    q.Clear();
    q.MoveTo(40, 200);
    q.ArcTo(radius, radius, 0, false, true, 140, 200);
    EXPECT_NEAR(q.GetBounds().y1, 150, 0.5) << radius;
    EXPECT_NEAR(q.GetBounds().x1, 40, 1e-6) << radius;
  }
}

// What a user hangs on a path lives as long as the path, through changes.
TEST_F(PrimitivesTest, PathBoundsOfACurveThroughNaNAreEmpty) {
  // Flattening a curve through a point that is not a number never meets
  // AGG's flatness test: the bounds are refused instead of subdivided.
  cPath p;
  p.MoveTo(10, 10);
  p.Curve3(std::nan(""), 20, 40, 40);
  const auto start = std::chrono::steady_clock::now();
  const rPathBounds& b = p.GetBounds();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(b.x1, 0);
  EXPECT_EQ(b.x2, 0);
  Bound page;
  auto tile = testenv::solid_bitmap(4, 4, cnBitmap32BGRA, 0xFF00FF00u);
  page.r.DrawImageRectInPath(tile.get(), &p, 0, 0, 4, 4, false, nullptr);
  EXPECT_EQ(page.Bytes(), Bound().Bytes());
}

TEST_F(PrimitivesTest, PathCacheSlotsAreFreedWithThePath) {
  struct cCounted : cBase {
    explicit cCounted(int& n) : alive(n) { ++alive; }
    ~cCounted() override { --alive; }
    int& alive;
  };
  int alive = 0;
  {
    cPath p;
    EXPECT_EQ(p.GetCacheObject(), nullptr);
    EXPECT_EQ(p.GetCacheBlock(), nullptr);
    p.SetCacheObject(std::make_unique<cCounted>(alive));
    p.SetCacheBlock(std::make_unique<uint8_t[]>(64), 64);
    p.MoveTo(1, 2);
    p.Clear();
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(p.GetCacheBlockSize(), 64u);
    p.SetCacheObject(std::make_unique<cCounted>(alive));  // the old one goes
    EXPECT_EQ(alive, 1);
  }
  EXPECT_EQ(alive, 0);
}

// The matrix procedures against their formulas (old values on the right).
TEST_F(PrimitivesTest, MatrixProceduresFollowTheirFormulas) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> d(-3, 3);
  auto random = [&] { return rMatrix{d(rng), d(rng), d(rng), d(rng), d(rng), d(rng)}; };
  auto near = [](const rMatrix& a, const rMatrix& b) {
    return std::fabs(a.sx - b.sx) < 1e-12 && std::fabs(a.shy - b.shy) < 1e-12 && std::fabs(a.shx - b.shx) < 1e-12 &&
           std::fabs(a.sy - b.sy) < 1e-12 && std::fabs(a.tx - b.tx) < 1e-12 && std::fabs(a.ty - b.ty) < 1e-12;
  };
  auto mul = [](const rMatrix& m, const rMatrix& n) {
    return rMatrix{m.sx * n.sx + m.shy * n.shx, m.sx * n.shy + m.shy * n.sy,       m.shx * n.sx + m.sy * n.shx,
                   m.shx * n.shy + m.sy * n.sy, m.tx * n.sx + m.ty * n.shx + n.tx, m.tx * n.shy + m.ty * n.sy + n.ty};
  };
  for (int i = 0; i < 50; ++i) {
    const rMatrix m = random(), n = random();
    const double a = d(rng) * 100, kx = d(rng), ky = d(rng);
    rMatrix r = m;
    matrix_multiply(r, n);
    EXPECT_TRUE(near(r, mul(m, n)));
    r = m;
    matrix_rotate(r, a);
    const double rad = normalize_angle(a) * 3.14159265358979323846 / 180;
    EXPECT_TRUE(near(r, mul(m, rMatrix{std::cos(rad), std::sin(rad), -std::sin(rad), std::cos(rad), 0, 0})));
    r = m;
    matrix_scale(r, kx, ky);
    EXPECT_TRUE(near(r, rMatrix{m.sx * kx, m.shy * ky, m.shx * kx, m.sy * ky, m.tx * kx, m.ty * ky}));
    r = m;
    matrix_skew(r, kx / 3, ky / 3);
    EXPECT_TRUE(near(r, mul(m, rMatrix{1, std::tan(ky / 3), std::tan(kx / 3), 1, 0, 0})));
    r = m;
    matrix_translate(r, kx, ky);
    EXPECT_TRUE(near(r, rMatrix{m.sx, m.shy, m.shx, m.sy, m.tx + kx, m.ty + ky}));
    double x = kx, y = ky;
    matrix_transform(m, x, y);
    EXPECT_NEAR(x, kx * m.sx + ky * m.shx + m.tx, 1e-12);
    EXPECT_NEAR(y, kx * m.shy + ky * m.sy + m.ty, 1e-12);
  }
  rMatrix r90, r450;
  matrix_identity(r90);
  matrix_identity(r450);
  matrix_rotate(r90, 90);
  matrix_rotate(r450, 450);
  EXPECT_EQ(r90, r450);
  double x = 1, y = 0;
  matrix_transform(r90, x, y);
  EXPECT_NEAR(x, 0, 1e-15);
  EXPECT_NEAR(y, 1, 1e-15);
}

TEST_F(PrimitivesTest, ClipPathClipsLikeTheSameRectangle) {
  cPath p;
  p.MoveTo(0, 0);
  p.LineTo(20, 0);
  p.LineTo(20, 15);
  p.LineTo(0, 15);
  p.ClosePolygon();
  const std::vector<uint8_t> by_path = paint([&](cPrimProbe& r) {
    r.ClipPath(&p, 10.5, 8.25);
    r.DrawCircle(nullptr, 30, 25, 20);
    r.ResetClipping(true);
  });
  const std::vector<uint8_t> by_rect = paint([](cPrimProbe& r) {
    r.ClipRect(10.5, 8.25, 30.5, 23.25);
    r.DrawCircle(nullptr, 30, 25, 20);
    r.ResetClipping(true);
  });
  EXPECT_EQ(by_path, by_rect);
  Bound b;
  b.r.ClipPath(&p, 10.5, 8.25);
  rRectD bounds;
  b.r.GetClipBounds(bounds);
  EXPECT_EQ(bounds.x1, 10.5);
  EXPECT_EQ(bounds.y2, 23.25);
  // Nil and offsets that are not finite add nothing.
  Bound c;
  c.r.ClipPath(nullptr, 0, 0);
  c.r.ClipPath(&p, std::nan(""), 0);
  EXPECT_FALSE(c.r.IsClipOn());
}

}  // namespace
