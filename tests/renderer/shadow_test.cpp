// Shadows: the parameters, the offset table, grow and perspective shapes, the
// blur against AGG's stack blur, cutting the mask to the surface, the colour
// table, culling, clipping and the shadow of a path group.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "font_test_support.h"
#include "qlm_font_engine.h"
#include "qlm_gradient.h"
#include "qlm_renderer_engine.h"
#include "renderer_support.h"

namespace {

using testenv::pixel_argb;
using testenv::RendererTest;

class cShadowProbe : public cRendererSurface {
 public:
  // The last shadow's mask, row by row (width x height bytes).
  std::vector<uint8_t> Mask() const {
    std::vector<uint8_t> out;
    if (mShadowMask == nullptr) return out;
    for (int32_t y = 0; y < mShadowBox[3]; ++y)
      out.insert(out.end(), mShadowMask->row_ptr(y), mShadowMask->row_ptr(y) + mShadowBox[2]);
    return out;
  }
  const int32_t* Box() const { return mShadowBox; }
  int64_t Shadows() const { return mShadowCount; }
  int64_t Paints() const { return mPaintCount; }
  bool Lut(const agg::rgba8* colours, size_t n) { return BuildShadowLut(colours, n); }
  const agg::rgba8* LutEntries() const { return mShadowLut.get(); }
  // A pattern pen from tile pixels (RGBA rows), as the pen painters store it.
  void PatternPen(int w, int h, const std::vector<uint8_t>& rgba) {
    mPen.kind = mPen.saved_kind = ePenKind::pattern;
    mPen.pattern_valid = true;
    mPen.pattern_pixels = rgba;
    mPen.pattern_pixels_width = w;
    mPen.pattern_pixels_height = h;
    mPen.pattern_scale = 1.0;
  }
  void ScalePattern(double scale) { mPen.pattern_scale = scale; }
  void StartPattern(double start) { mPen.pattern_start = start; }
  // The shadow of a stroked path alone.
  void StrokeShadow(agg::path_storage& p) {
    agg::conv_curve<agg::path_storage> curve(p);
    agg::conv_stroke<agg::conv_curve<agg::path_storage>> stroke(curve);
    stroke.width(mPen.width);
    rShadowSources s;
    s.fill = rVertexRef::Of(curve);
    s.stroke = rVertexRef::Of(stroke);
    s.stroker = rStrokerRef::Of(stroke);
    s.chain = Chain(true);
    RenderShadow(true, false, false, s);
  }
};

struct Scene {
  explicit Scene(int w = 32, int h = 32, uint32_t bg = 0xFFFFFFFFu)
      : bitmap(testenv::solid_bitmap(w, h, cnBitmap32BGRA, bg)) {
    EXPECT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_TRUE(r.AttachSurface(&surface));
    r.PenOff();
    r.SetFillColor(renderer_color(255, 255, 255, 255));
    r.SetShadowColor(renderer_color(0, 0, 0, 255));
  }
  std::vector<uint8_t> Bytes() const {
    return std::vector<uint8_t>(bitmap->Data(), bitmap->Data() + int64_t(bitmap->Stride()) * bitmap->Height());
  }
  // The box of pixels that differ from white: x1, y1, x2, y2 (exclusive);
  // all zero when there is none.
  std::array<int, 4> Ink() const {
    int x1 = 1 << 30, y1 = 1 << 30, x2 = -1, y2 = -1;
    for (int y = 0; y < bitmap->Height(); ++y)
      for (int x = 0; x < bitmap->Width(); ++x)
        if (pixel_argb(*bitmap, x, y) != color_rgba(255, 255, 255, 255)) {
          x1 = std::min(x1, x), y1 = std::min(y1, y), x2 = std::max(x2, x + 1), y2 = std::max(y2, y + 1);
        }
    if (x2 < 0) return {0, 0, 0, 0};
    return {x1, y1, x2, y2};
  }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cShadowProbe r;
};

class ShadowTest : public RendererTest {};

TEST_F(ShadowTest, Parameters) {
  Scene s;
  cShadowProbe& r = s.r;
  EXPECT_FALSE(r.IsOffsetShadow());
  r.ShadowOn();  // after a reset the saved kind is 0
  EXPECT_FALSE(r.IsOffsetShadow() || r.IsPerspectiveShadow() || r.IsGrowShadow());
  r.SetOffsetShadow(7);
  EXPECT_TRUE(r.IsOffsetShadow());
  EXPECT_EQ(r.GetShadowDistance(), 7);
  r.ShadowOff();
  EXPECT_FALSE(r.IsOffsetShadow());
  r.ShadowOff();  // a second Off keeps the saved kind
  r.ShadowOn();
  EXPECT_TRUE(r.IsOffsetShadow());
  r.SetPerspectiveShadow(30, 60, 20, 70, 4);
  r.SetPerspectiveShadow(0, 0, 25, 0, 0);  // zeros keep the stored values
  EXPECT_TRUE(r.IsPerspectiveShadow());
  EXPECT_EQ(r.GetPerspectiveShadowAngle1(), 30);
  EXPECT_EQ(r.GetPerspectiveShadowLength1(), 60);
  EXPECT_EQ(r.GetPerspectiveShadowAngle2(), 25);
  EXPECT_EQ(r.GetPerspectiveShadowLength2(), 70);
  EXPECT_EQ(r.GetShadowDistance(), 4);  // the perspective distance for kind 2
  r.SetGrowShadow(3);
  EXPECT_TRUE(r.IsGrowShadow());
  EXPECT_EQ(r.GetShadowDistance(), 3);
  r.SetShadowBlur(-3);
  EXPECT_EQ(r.GetShadowBlur(), 3);
  r.SetShadowBlur(std::nan(""));
  EXPECT_EQ(r.GetShadowBlur(), 3);
  // The alpha in effect carries the master alpha only without anti-aliasing.
  r.SetMasterAlpha(128);
  r.SetAntiAliasing(false);
  r.SetShadowColor(renderer_color(10, 20, 30, 128));
  EXPECT_EQ(r.GetShadowColor() >> 24, 64u);
  r.SetAntiAliasing(true);
  EXPECT_EQ(r.GetShadowColor() >> 24, 128u);
  r.ResetShadow(false);
  EXPECT_FALSE(r.IsGrowShadow());
  EXPECT_EQ(r.GetShadowBlur(), 5);
  EXPECT_EQ(r.GetShadowDistance(), 5);
  EXPECT_EQ(r.GetShadowDirection(), 3);
  EXPECT_EQ(r.GetShadowColor(), renderer_color(127, 127, 127, 255));
}

// A white 4 x 4 square at (10, 10) with a hard black shadow at distance 5:
// the ink is the square moved by the direction table.
TEST_F(ShadowTest, DirectionTable) {
  const int moves[10][2] = {{-5, -5}, {5, -5}, {-5, 5}, {5, 5}, {0, -5}, {-5, 0}, {5, 0}, {0, 5}, {0, 0}, {0, 0}};
  for (uint8_t dir = 0; dir < 10; ++dir) {
    Scene s;
    s.r.SetOffsetShadow(5);
    s.r.SetShadowBlurred(false);
    s.r.SetShadowDirection(dir);
    s.r.DrawRectangle(nullptr, 10, 10, 14, 14);
    const std::array<int, 4> want =
        dir >= 8 ? std::array<int, 4>{0, 0, 0, 0}
                 : std::array<int, 4>{10 + moves[dir][0], 10 + moves[dir][1], 14 + moves[dir][0], 14 + moves[dir][1]};
    EXPECT_EQ(s.Ink(), want) << int(dir);
  }
}

TEST_F(ShadowTest, GrowAndRenderModes) {
  Scene s;
  s.r.SetGrowShadow(3);
  s.r.SetShadowBlurred(false);
  s.r.DrawRectangle(nullptr, 10, 10, 20, 20);
  EXPECT_EQ(s.Ink(), (std::array<int, 4>{7, 7, 23, 23}));
  // Render mode 0: no shadow, whatever the kind.
  Scene z;
  z.r.SetGrowShadow(3);
  z.r.SetShadowRenderMode(0);
  z.r.DrawRectangle(nullptr, 10, 10, 20, 20);
  EXPECT_EQ(z.Ink(), (std::array<int, 4>{0, 0, 0, 0}));
  EXPECT_EQ(z.r.Shadows(), 0);
  // Fill shadow off and no pen: nothing casts a shadow.
  Scene f;
  f.r.SetGrowShadow(3);
  f.r.SetFillShadow(false);
  f.r.DrawRectangle(nullptr, 10, 10, 20, 20);
  EXPECT_EQ(f.r.Shadows(), 0);
  // A flat outline (a horizontal line) grows along its length only... and
  // its stroke still casts a shadow.
  Scene l;
  l.r.PenSolid();
  l.r.SetPenWidth(2);
  l.r.SetGrowShadow(3);
  l.r.SetShadowBlurred(false);
  l.r.SetPenColor(renderer_color(255, 255, 255, 255));
  l.r.DrawLine(nullptr, 10, 16, 20, 16);
  EXPECT_EQ(l.Ink(), (std::array<int, 4>{7, 15, 23, 17}));
}

// The blurred mask is AGG's stack blur of the hard mask, byte for byte.
TEST_F(ShadowTest, BlurEqualsStackBlurOfHardMask) {
  for (double blur : {1.0, 4.0, 7.3}) {
    Scene s(64, 48);
    s.r.SetOffsetShadow(4);
    s.r.SetShadowBlur(blur);
    s.r.SetShadowBlurred(false);
    s.r.DrawEllipse(nullptr, 30, 20, 12, 8);
    std::vector<uint8_t> hard = s.r.Mask();
    const int32_t w = s.r.Box()[2], h = s.r.Box()[3];
    ASSERT_EQ(hard.size(), size_t(w) * h);
    s.r.SetShadowBlurred(true);
    s.r.DrawEllipse(nullptr, 30, 20, 12, 8);
    ASSERT_EQ(s.r.Box()[2], w);
    agg::rendering_buffer rb(hard.data(), unsigned(w), unsigned(h), w);
    agg::pixfmt_gray8 pf(rb);
    qlm_agg::stack_blur_gray8(pf, unsigned(blur + 0.5));
    EXPECT_EQ(s.r.Mask(), hard) << blur;
  }
}

// A shape partly left of the surface: the mask is cut to the surface (plus
// what the blur reads), and the visible pixels equal the same scene drawn on
// a wider surface and cropped.
TEST_F(ShadowTest, CutMaskIsPixelExact) {
  for (double blur : {3.0, 10.0}) {
    Scene small(40, 40, 0xFFE0F0FFu), wide(100, 40, 0xFFE0F0FFu);
    for (Scene* s : {&small, &wide}) {
      s->r.SetOffsetShadow(3);
      s->r.SetShadowBlur(blur);
      s->r.SetShadowColor(renderer_color(20, 0, 90, 200));
    }
    small.r.DrawRectangle(nullptr, -15, 10, 5, 30);
    wide.r.DrawRectangle(nullptr, 15, 10, 35, 30);
    EXPECT_EQ(small.r.Box()[0], -int32_t(blur));  // cut at the blur radius
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x)
        ASSERT_EQ(pixel_argb(*small.bitmap, x, y), pixel_argb(*wide.bitmap, x + 30, y)) << x << "," << y;
  }
}

TEST_F(ShadowTest, HugeShapeStaysBounded) {
  Scene s(120, 90);
  s.r.SetOffsetShadow(5);
  s.r.SetShadowBlur(20);
  const auto t0 = std::chrono::steady_clock::now();
  s.r.DrawRectangle(nullptr, -1e7, -1e7, 1e7, 1e7);
  // A bound for a hang (a blur over the whole shape would not end), far
  // above any scheduling pause; the benches measure the speed.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_EQ(s.r.Shadows(), 1);
  const int64_t m = 20;  // the blur radius
  EXPECT_LE(int64_t(s.r.Box()[2]) * s.r.Box()[3], (120 + 2 * m) * (90 + 2 * m));
  // Hostile offsets draw no shadow and do not hang.
  s.r.SetOffsetShadow(1e300);
  s.r.DrawRectangle(nullptr, 1, 1, 5, 5);
  EXPECT_EQ(s.r.Shadows(), 1);
}

TEST_F(ShadowTest, ColourTable) {
  Scene s;
  std::vector<agg::rgba8> ramp(256);
  for (int i = 0; i < 256; ++i) ramp[i] = agg::rgba8(i, 255 - i, 7, 99);
  ASSERT_TRUE(s.r.Lut(ramp.data(), ramp.size()));
  const agg::rgba8* lut = s.r.LutEntries();
  EXPECT_EQ(lut[10].a, 40);
  EXPECT_EQ(lut[63].a, 252);
  EXPECT_EQ(lut[64].a, 255);
  EXPECT_EQ(lut[10].r, 10);
  EXPECT_EQ(lut[200].g, 55);
  // Without ramp colours every entry is the shadow colour.
  ASSERT_TRUE(s.r.Lut(nullptr, 0));
  EXPECT_EQ(lut[100].r, 0);
  EXPECT_EQ(lut[100].a, 255);
}

// A ramp of 256 colours colours the shadow through its table (shadow render
// mode 1 only); 255 colours set no ramp.
TEST_F(ShadowTest, ColourRampTable) {
  Scene s;
  cGradientColorRamp small(255), ramp(256);
  for (cGradientColorRamp* g : {&small, &ramp}) {
    g->AddStopARGB(0xFFFF0000u, 0);
    g->AddStopARGB(0xFF0000FFu, 1);
  }
  s.r.SetShadowColorRamp(&small);
  EXPECT_EQ(s.r.GetShadowColorRamp(), nullptr);
  s.r.SetShadowColorRamp(&ramp);
  ASSERT_EQ(s.r.GetShadowColorRamp(), &ramp);
  const agg::rgba8* lut = s.r.LutEntries();
  EXPECT_EQ(lut[10].a, 40);
  EXPECT_EQ(lut[63].a, 252);
  EXPECT_EQ(lut[64].a, 255);
  // The colours are the ramp's table entries (its alpha is never used).
  const gradient_color_table* table = ramp.GetColorTable();
  ASSERT_NE(table, nullptr);
  for (unsigned i : {0u, 10u, 128u, 255u}) {
    EXPECT_EQ(lut[i].r, (*table)[i].r) << i;
    EXPECT_EQ(lut[i].b, (*table)[i].b) << i;
  }
  EXPECT_GT(lut[255].b, 250);
  // A hard shadow's inside is mask value 255: the last table entry (blue).
  s.r.SetOffsetShadow(5);
  s.r.SetShadowBlurred(false);
  s.r.DrawRectangle(nullptr, 10, 10, 14, 14);
  EXPECT_EQ(pixel_argb(*s.bitmap, 17, 17), color_rgba(lut[255].r, lut[255].g, lut[255].b, 255));
  // Other render modes use the shadow colour (black here).
  s.r.SetShadowRenderMode(2);
  s.r.DrawRectangle(nullptr, 20, 10, 24, 14);
  EXPECT_EQ(pixel_argb(*s.bitmap, 27, 17), color_rgba(0, 0, 0, 255));
  s.r.ClearShadowColorRamp();
  EXPECT_EQ(s.r.GetShadowColorRamp(), nullptr);
  s.r.SetShadowColorRamp(nullptr);
  EXPECT_EQ(s.r.GetShadowColorRamp(), nullptr);
}

// With culling on, a shape just outside the surface whose blurred shadow
// reaches in is drawn, and so is any shape with a perspective shadow.
TEST_F(ShadowTest, CullingKeepsShadowsThatReachIn) {
  Scene s;
  s.r.SetCulling(true);
  s.r.SetOffsetShadow(2);
  s.r.SetShadowBlur(4);
  s.r.DrawRectangle(nullptr, -10, 5, -1, 15);  // 1 unit outside, the shadow reaches 5 in
  EXPECT_EQ(s.r.Shadows(), 1);
  EXPECT_NE(s.Ink(), (std::array<int, 4>{0, 0, 0, 0}));
  s.r.DrawRectangle(nullptr, -30, 5, -10, 15);  // too far
  EXPECT_EQ(s.r.Shadows(), 1);
  s.r.SetPerspectiveShadow(0, 0, 0, 0, 0);
  const int64_t paints = s.r.Paints();
  s.r.DrawRectangle(nullptr, -300, 5, -280, 15);
  EXPECT_GT(s.r.Paints(), paints);
}

// Perspective defaults are taken before the direction mirrors the angles.
TEST_F(ShadowTest, PerspectiveDefaultsBeforeMirroring) {
  for (uint8_t dir : {0, 1, 2, 3}) {
    Scene a(64, 64), b(64, 64);
    a.r.SetPerspectiveShadow(0, 0, 0, 0, 0);
    b.r.SetPerspectiveShadow(45, 50, 45, 0, 0);
    for (Scene* s : {&a, &b}) {
      s->r.SetShadowDirection(dir);
      s->r.DrawRectangle(nullptr, 22, 22, 42, 42);
    }
    EXPECT_EQ(a.Bytes(), b.Bytes()) << int(dir);
    EXPECT_NE(a.Ink(), (std::array<int, 4>{22, 22, 42, 42})) << int(dir);  // a shadow shows
  }
}

// The shadow goes through the clip like any drawing.
TEST_F(ShadowTest, ClippedShadow) {
  Scene s;
  s.r.SetOffsetShadow(5);
  s.r.SetShadowBlurred(false);
  s.r.ClipRect(0, 0, 17, 32);
  s.r.DrawRectangle(nullptr, 10, 10, 14, 14);
  s.r.ClipOff();
  EXPECT_EQ(s.Ink(), (std::array<int, 4>{15, 15, 17, 19}));
}

// A one-entry group casts the shadow its shape casts when drawn directly,
// also replayed elsewhere; stroked entries and grow shadows included.
TEST_F(ShadowTest, GroupShadowEqualsShapeShadow) {
  struct Case {
    bool grow;
    double x, y;
    bool device_space;
  };
  for (const Case c : {Case{false, 0, 0, true}, Case{true, 0, 0, true}, Case{true, 20, 8, true},
                       Case{false, 13, 3, true}, Case{true, 20, 8, false}, Case{false, 13, 3, false}}) {
    Scene a(64, 48, 0xFFF0F0F0u), b(64, 48, 0xFFF0F0F0u);
    cPathGroup g;
    for (Scene* s : {&a, &b}) {
      s->r.SetPenDeviceSpace(c.device_space);
      s->r.Scale(1.1, 1.05);
      s->r.PenSolid();
      s->r.SetPenWidth(3);
      s->r.SetPenColor(renderer_color(200, 30, 30, 255));
      if (c.grow)
        s->r.SetGrowShadow(4);
      else
        s->r.SetOffsetShadow(4);
      s->r.SetShadowColor(renderer_color(0, 0, 60, 160));
    }
    a.r.SetCaptureGroup(&g, true);
    a.r.DrawRoundRect(nullptr, 6, 6, 30, 24, 5);
    a.r.ClearCaptureGroup();
    a.r.DrawPathGroup(&g, nullptr, c.x, c.y);
    const double dx = (c.x == 0 && c.y == 0) ? 0 : c.x - 6, dy = (c.x == 0 && c.y == 0) ? 0 : c.y - 6;
    b.r.DrawRoundRect(nullptr, 6 + dx, 6 + dy, 30 + dx, 24 + dy, 5);
    EXPECT_EQ(a.Bytes(), b.Bytes()) << c.grow << " " << c.x << " " << c.device_space;
    EXPECT_EQ(a.r.Shadows(), 1);
  }
}

// Shadow render mode 3: a stroked shape's shadow is the thin outline of its
// stroke (the middle of the band stays clear); mode 1 fills the band.
TEST_F(ShadowTest, OutlineModeDrawsTheStrokeOutline) {
  for (uint8_t mode : {1, 3}) {
    Scene s(48, 48);
    s.r.FillOff();
    s.r.PenSolid();
    s.r.SetPenWidth(8);
    s.r.SetPenColor(renderer_color(255, 255, 255, 255));
    s.r.SetOffsetShadow(20);
    s.r.SetShadowDirection(7);  // straight down
    s.r.SetShadowBlurred(false);
    s.r.SetShadowRenderMode(mode);
    s.r.DrawLine(nullptr, 8, 8, 40, 8);
    // The band of the shadow: y 24..32; its middle row and its edges.
    const bool middle_inked = pixel_argb(*s.bitmap, 24, 28) != color_rgba(255, 255, 255, 255);
    const bool edge_inked = pixel_argb(*s.bitmap, 24, 24) != color_rgba(255, 255, 255, 255);
    EXPECT_EQ(middle_inked, mode == 1) << int(mode);
    EXPECT_TRUE(edge_inked) << int(mode);
  }
}

// Outline and pattern-pen shadows of a line reaching millions of pixels
// beyond the surface look as those of a line just beyond it (the outline
// renderers' fixed-point coordinates cannot hold the far ends).
TEST_F(ShadowTest, OutlineShadowsOfFarReachingLines) {
  const int w = 4, h = 8;
  std::vector<uint8_t> tile(size_t(w) * h * 4, 0);
  for (int y = 2; y < 6; ++y)
    for (int x = 0; x < w; ++x) tile[(size_t(y) * w + x) * 4 + 3] = 255;
  for (uint8_t mode : {3, 4, 1})
    for (bool pattern : {false, true}) {
      if (pattern && mode != 1) continue;
      Scene near(64, 48), far(64, 48);
      for (Scene* s : {&near, &far}) {
        s->r.FillOff();
        s->r.PenSolid();
        s->r.SetPenWidth(6);
        s->r.SetPenColor(renderer_color(255, 255, 255, 255));
        if (pattern) s->r.PatternPen(w, h, tile);
        s->r.SetOffsetShadow(10);
        s->r.SetShadowDirection(7);
        s->r.SetShadowBlurred(false);
        s->r.SetShadowRenderMode(mode);
      }
      const double reach = 100;
      agg::path_storage a, b;
      a.move_to(-reach, 20.5);
      a.line_to(64 + reach, 20.5);
      b.move_to(-reach * 1e6, 20.5);
      b.line_to(64 + reach * 1e6, 20.5);
      near.r.StrokeShadow(a);
      far.r.StrokeShadow(b);
      EXPECT_NE(near.Ink(), (std::array<int, 4>{0, 0, 0, 0})) << int(mode) << pattern;
      if (pattern)  // the pattern starts where the far line enters: the same band, its own phase
        EXPECT_EQ(far.Ink(), near.Ink());
      else
        EXPECT_EQ(far.Bytes(), near.Bytes()) << int(mode);
    }
}

// A pattern-pen line reaching past the surface keeps its pattern's phase
// in the shadow: the same as the whole line drawn on a wider surface.
TEST_F(ShadowTest, PatternShadowPhaseOffTheSurface) {
  const int w = 8, h = 8;
  std::vector<uint8_t> tile(size_t(w) * h * 4, 0);
  for (int y = 2; y < 6; ++y)
    for (int x = 0; x < w; x += 3) tile[(size_t(y) * w + x) * 4 + 3] = 255;  // columns 0, 3, 6
  Scene small(64, 48), wide(400, 48);
  for (Scene* s : {&small, &wide}) {
    s->r.SetAntiAliasing(false);
    s->r.PatternPen(w, h, tile);
    s->r.SetOffsetShadow(20);
    s->r.SetShadowDirection(7);
    s->r.SetShadowBlurred(false);
  }
  agg::path_storage a, b;
  a.move_to(-100, 8.5);
  a.line_to(164, 8.5);
  b.move_to(50, 8.5);
  b.line_to(314, 8.5);
  small.r.StrokeShadow(a);
  wide.r.StrokeShadow(b);
  EXPECT_NE(small.Ink(), (std::array<int, 4>{0, 0, 0, 0}));
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x)
      ASSERT_EQ(pixel_argb(*small.bitmap, x, y), pixel_argb(*wide.bitmap, x + 150, y)) << x << "," << y;
}

// Outline shadows of a polygon whose corners lie a few thousand pixels out
// on a slant: AGG's outline renderer multiplies such coordinate differences
// in int (the sanitizer build stops on the overflow); cut to the mask, the
// visible edges still cast their outlines.
TEST_F(ShadowTest, OutlineShadowOfAPolygonWithFarCorners) {
  for (uint8_t mode : {3, 4})
    for (double far : {5000.0, 50000.0}) {
      Scene s(64, 48);
      s.r.FillOff();
      s.r.PenSolid();
      s.r.SetPenWidth(3);
      s.r.SetPenColor(renderer_color(255, 255, 255, 255));
      s.r.SetOffsetShadow(5);
      s.r.SetShadowBlurred(false);
      s.r.SetShadowRenderMode(mode);
      agg::path_storage p;
      p.move_to(10, 10);
      p.line_to(10.004, 10.002);
      p.line_to(far, far);
      p.line_to(-far, -far);
      p.line_to(10, 30);
      p.close_polygon();
      s.r.StrokeShadow(p);
      // The diagonal edges cross the whole surface, moved by (5, 5).
      const std::array<int, 4> ink = s.Ink();
      EXPECT_LE(ink[0], 6) << int(mode) << " " << far;
      EXPECT_LE(ink[1], 6) << int(mode) << " " << far;
      EXPECT_GE(ink[2], 48) << int(mode) << " " << far;
      EXPECT_EQ(ink[3], 48) << int(mode) << " " << far;
    }
}

// The shadow is blended straight into the surface: a filter callback never
// sees it.
TEST_F(ShadowTest, ShadowBypassesTheFilterLayer) {
  Scene s;
  s.r.SetOffsetShadow(5);
  s.r.SetShadowBlurred(false);
  struct Seen {
    bool shadow_in_layer = false;
  } seen;
  s.r.SetFilterCallback(
      [](cBitmap* layer, bool&, void* user) {
        for (int y = 0; y < layer->Height(); ++y)
          for (int x = 0; x < layer->Width(); ++x) {
            const uint8_t* p = layer->Data() + int64_t(y) * layer->Stride() + x * 4;
            if (p[3] != 0 && p[0] == 0 && p[1] == 0 && p[2] == 0) static_cast<Seen*>(user)->shadow_in_layer = true;
          }
      },
      0, &seen);
  s.r.DrawRectangle(nullptr, 10, 10, 14, 14);
  EXPECT_FALSE(seen.shadow_in_layer);
  EXPECT_EQ(s.Ink(), (std::array<int, 4>{15, 15, 19, 19}));
}

// A pattern pen's shadow follows the pattern's alpha: an opaque black
// pattern casts a full shadow, its transparent rows leave the mask alone.
TEST_F(ShadowTest, PatternPenShadowFollowsAlpha) {
  const int w = 4, h = 8;
  std::vector<uint8_t> tile(size_t(w) * h * 4, 0);
  for (int y = 2; y < 6; ++y)
    for (int x = 0; x < w; ++x) tile[(size_t(y) * w + x) * 4 + 3] = 255;  // black, opaque
  for (bool aa : {true, false}) {
    Scene s(48, 48);
    s.r.SetAntiAliasing(aa);
    s.r.PatternPen(w, h, tile);
    s.r.SetOffsetShadow(20);
    s.r.SetShadowDirection(7);
    s.r.SetShadowBlurred(false);
    agg::path_storage line;
    line.move_to(8, 8.5);
    line.line_to(40, 8.5);
    s.r.StrokeShadow(line);
    const std::array<int, 4> ink = s.Ink();
    EXPECT_GE(ink[3] - ink[1], 3) << aa;
    EXPECT_LE(ink[3] - ink[1], 5) << aa;  // the transparent rows cast nothing
    EXPECT_GE(ink[0], 5) << aa;
    EXPECT_LE(ink[2], 44) << aa;
    // Fully covered pixels in the middle of the band are the full shadow colour.
    EXPECT_EQ(pixel_argb(*s.bitmap, 24, 28), color_rgba(0, 0, 0, 255)) << aa;
  }
}

// A pattern squeezed far below a pixel (a pattern pen made for a width of a
// billionth) still casts its band: the scale AGG's pattern stepping gets is
// kept where its integers hold.
TEST_F(ShadowTest, PatternPenShadowWithATinyScale) {
  const int w = 4, h = 8;
  std::vector<uint8_t> tile(size_t(w) * h * 4, 0);
  for (int y = 2; y < 6; ++y)
    for (int x = 0; x < w; ++x) tile[(size_t(y) * w + x) * 4 + 3] = 255;
  for (double scale : {1e-9, 1e-300}) {
    Scene s(48, 48);
    s.r.PatternPen(w, h, tile);
    s.r.ScalePattern(scale);
    s.r.SetOffsetShadow(20);
    s.r.SetShadowDirection(7);
    s.r.SetShadowBlurred(false);
    agg::path_storage line;
    line.move_to(8, 8.5);
    line.line_to(40, 8.5);
    s.r.StrokeShadow(line);
    const std::array<int, 4> ink = s.Ink();
    EXPECT_GE(ink[3] - ink[1], 3) << scale;
    EXPECT_LE(ink[3] - ink[1], 5) << scale;
    EXPECT_EQ(pixel_argb(*s.bitmap, 24, 28), color_rgba(0, 0, 0, 255)) << scale;
  }
}

// The pattern's start is a phase: a start a whole number of tiles away
// (here 2^24 tiles, beyond AGG's fixed-point start) lays the pattern as a
// start of 0 does.
TEST_F(ShadowTest, PatternPenShadowWithAFarStart) {
  const int w = 8, h = 8;
  std::vector<uint8_t> tile(size_t(w) * h * 4, 0);
  for (int y = 2; y < 6; ++y)
    for (int x = 0; x < w; x += 3) tile[(size_t(y) * w + x) * 4 + 3] = 255;  // columns 0, 3, 6
  for (bool aa : {true, false}) {
    Scene near(48, 48), far(48, 48);
    for (Scene* s : {&near, &far}) {
      s->r.SetAntiAliasing(aa);
      s->r.PatternPen(w, h, tile);
      s->r.SetOffsetShadow(20);
      s->r.SetShadowDirection(7);
      s->r.SetShadowBlurred(false);
    }
    near.r.StartPattern(0);
    far.r.StartPattern(double(w) * 16777216.0);
    agg::path_storage line;
    line.move_to(8, 8.5);
    line.line_to(40, 8.5);
    near.r.StrokeShadow(line);
    far.r.StrokeShadow(line);
    EXPECT_NE(near.Ink(), (std::array<int, 4>{0, 0, 0, 0})) << aa;
    EXPECT_EQ(far.Bytes(), near.Bytes()) << aa;
  }
}

// "II" with an offset shadow that falls from the second glyph onto the
// first: all shadows come first, so the glyphs keep their pure colour.
TEST_F(ShadowTest, GlyphShadowsStayUnderTheGlyphs) {
  QLM_REQUIRE_FONTS();
  for (bool blurred : {false, true}) {
    Scene plain(120, 80), shadowed(120, 80);
    cFontWinTT font;
    font.SetFace("Arial", cnFontBold, 48);
    const double advance = font.GetCacheManager()->glyph('I')->advance_x;
    for (Scene* s : {&plain, &shadowed}) {
      s->r.SetFont(&font);
      s->r.SetTextColor(renderer_color(200, 0, 0, 255));
    }
    shadowed.r.SetOffsetShadow(advance);
    shadowed.r.SetShadowDirection(5);  // left: onto the glyph before
    shadowed.r.SetShadowBlurred(blurred);
    shadowed.r.SetShadowBlur(3);
    plain.r.DrawText(std::string("II"), 40, 60, nullptr);
    shadowed.r.DrawText(std::string("II"), 40, 60, nullptr);
    int pure = 0;
    for (int y = 0; y < 80; ++y)
      for (int x = 0; x < 120; ++x)
        if (pixel_argb(*plain.bitmap, x, y) == color_rgba(200, 0, 0, 255)) {
          ++pure;
          ASSERT_EQ(pixel_argb(*shadowed.bitmap, x, y), color_rgba(200, 0, 0, 255)) << x << "," << y << " " << blurred;
        }
    EXPECT_GT(pure, 100);
    EXPECT_LT(shadowed.Ink()[0], plain.Ink()[0]);  // the first glyph's shadow shows on its left
  }
}

}  // namespace
