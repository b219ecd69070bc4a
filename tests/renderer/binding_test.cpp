// Binding a renderer to surfaces: the refusals, the update rectangle across
// attaches, Clear on every format, the override colour, and the
// non-virtual conveniences.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "qlm_renderer_engine.h"
#include "renderer_support.h"

namespace {

using testenv::RendererTest;

// A renderer that can paint its whole clip box (through the rasteriser the
// primitives use) and records what the conveniences forward.
class cProbeRenderer : public cRendererSurface {
 public:
  // Fills a rectangle far larger than any surface: only the rasteriser's
  // clip box (the update rectangle) limits it.
  void FillEverything(const agg::rgba8& c) {
    agg::path_storage p;
    p.move_to(-1e6, -1e6);
    p.line_to(1e6, -1e6);
    p.line_to(1e6, 1e6);
    p.line_to(-1e6, 1e6);
    p.close_polygon();
    mRas.reset();
    mRas.add_path(p);
    mSolid.color(c);
    agg::render_scanlines(mRas, mScanline, mSolid);
  }
  void SetMasterAlpha(uint32_t alpha) override { lastAlpha = alpha; }
  void DrawRoundedRectangle(cHitTest*, double x1, double y1, double x2, double y2, double rx1, double ry1, double rx2,
                            double ry2, double rx3, double ry3, double rx4, double ry4) override {
    rounded = {x1, y1, x2, y2, rx1, ry1, rx2, ry2, rx3, ry3, rx4, ry4};
  }
  void DrawImage(cBase*, bool flag, double x1, double y1, double x2, double y2, cHitTest*) override {
    image = {flag ? 1.0 : 0.0, x1, y1, x2, y2};
  }
  uint32_t lastAlpha = 9999;
  std::vector<double> rounded;
  std::vector<double> image;
};

class BindingTest : public RendererTest {};

TEST_F(BindingTest, RefusedSurfacesLeaveTheRendererUnattached) {
  auto bitmap = testenv::solid_bitmap(4, 4, cnBitmap32BGRA, 0);
  cSurfaceBitmap bound;
  ASSERT_TRUE(bound.Attach(bitmap.get(), true));
  cSurfaceBitmap unbound;
  // Wider than AGG's scanlines can hold (their spans keep 16-bit lengths).
  auto wide_bitmap = testenv::solid_bitmap(40000, 1, cnBitmap32BGRA, 0);
  cSurfaceBitmap wide;
  ASSERT_TRUE(wide.Attach(wide_bitmap.get(), true));
  // An object that is no cSurface cannot be passed: the argument is typed,
  // so "{not surface.Identify(id_cSurface )}" is the compiler's to refuse.
  struct {
    cSurface* surface;
    const char* text;
  } cases[] = {{nullptr, "{surface=NIL}"}, {&unbound, "{not surface.IsAssigned}"}, {&wide, "{surface side > 32767}"}};
  for (const auto& c : cases) {
    cRendererSurface r;
    ASSERT_TRUE(r.AttachSurface(&bound));
    EXPECT_FALSE(r.AttachSurface(c.surface));
    EXPECT_FALSE(r.IsAttached());
    EXPECT_EQ(r.Surface(), nullptr);
    EXPECT_EQ(r.GetWidth(), 0);
    EXPECT_EQ(r.LastErrorCode(), 279);
    EXPECT_NE(r.LastErrorText().find(c.text), std::string::npos) << r.LastErrorText();
    r.ClearARGB(0xFFFFFFFFu);  // unattached: nothing
    EXPECT_EQ(testenv::pixel_argb(*bitmap, 0, 0), 0u);
  }
}

TEST_F(BindingTest, EachAttachCoversTheWholeNewSurface) {
  auto small = testenv::solid_bitmap(8, 6, cnBitmap32BGRA, 0xFF000000u);
  auto large = testenv::solid_bitmap(20, 15, cnBitmap32BGRA, 0xFF000000u);
  cSurfaceBitmap s1, s2;
  ASSERT_TRUE(s1.Attach(small.get(), true));
  ASSERT_TRUE(s2.Attach(large.get(), true));
  cProbeRenderer r;
  ASSERT_TRUE(r.AttachSurface(&s1));
  r.DetachSurface();
  EXPECT_FALSE(s1.IsAssigned());  // the surface let its bitmap go
  ASSERT_TRUE(r.AttachSurface(&s2));
  EXPECT_EQ(r.GetWidth(), 20);
  r.FillEverything(agg::rgba8(255, 0, 0, 255));
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(testenv::pixel_argb(*large, x, y), 0xFFFF0000u) << x << "," << y;

  // A rectangle of its own bounds every drawing until it changes; neither it
  // nor the origin changes while attached.
  r.DetachSurface();
  ASSERT_TRUE(s2.Attach(large.get(), true));
  r.SetUpdateRect(2, 3, 5, 4);
  r.SetOrigin(7, 8);
  ASSERT_TRUE(r.AttachSurface(&s2));
  r.SetUpdateRect(0, 0, 20, 15);
  r.SetOrigin(1, 1);
  r.ClearOrigin();
  int32_t ox = 0, oy = 0;
  r.GetOrigin(ox, oy);
  EXPECT_EQ(ox, 7);
  EXPECT_EQ(oy, 8);
  EXPECT_TRUE(r.IsOriginSet());
  EXPECT_EQ(r.GetUpdateRect(), rRect::Construct(2, 3, 5, 4));
  r.ClearARGB(0xFF000000u);
  r.FillEverything(agg::rgba8(0, 255, 0, 255));
  int painted = 0;
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 20; ++x) {
      const bool inside = x >= 2 && x < 5 && y >= 3 && y < 4;  // the rasteriser clips the geometry
      painted += inside;
      EXPECT_EQ(testenv::pixel_argb(*large, x, y), inside ? 0xFF00FF00u : 0xFF000000u) << x << "," << y;
    }
  EXPECT_GT(painted, 0);
  r.DetachSurface();
  r.ClearOrigin();
  EXPECT_FALSE(r.IsOriginSet());
}

TEST_F(BindingTest, ClearWritesStoredBytesOnEveryFormat) {
  struct {
    int32_t kind;
    int offsets[4];  // R, G, B, A (-1 none)
  } formats[] = {{cnBitmap24RGB, {0, 1, 2, -1}}, {cnBitmap24BGR, {2, 1, 0, -1}}, {cnBitmap32RGBA, {0, 1, 2, 3}},
                 {cnBitmap32BGRA, {2, 1, 0, 3}}, {cnBitmap32ARGB, {1, 2, 3, 0}}, {cnBitmap32ABGR, {3, 2, 1, 0}}};
  for (const auto& f : formats) {
    SCOPED_TRACE(f.kind);
    auto bitmap = testenv::solid_bitmap(3, 2, f.kind, 0xFFFFFFFFu);
    cSurfaceBitmap surface;
    ASSERT_TRUE(surface.Attach(bitmap.get(), false));
    cRendererSurface r;
    ASSERT_TRUE(r.AttachSurface(&surface));
    const int bpp = bitmap->BytesPerPixel();
    for (uint32_t argb : {0xFF102030u, 0x80102030u}) {
      r.ClearARGB(argb);
      const int want[4] = {0x10, 0x20, 0x30, int(argb >> 24)};
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
          for (int c = 0; c < 4; ++c) {
            if (f.offsets[c] < 0) continue;
            EXPECT_EQ(bitmap->Data()[y * bitmap->Stride() + x * bpp + f.offsets[c]], want[c]);
          }
    }
    r.ClearRGBA(1, 2, 3, 4);
    EXPECT_EQ(bitmap->Data()[f.offsets[2]], 3);
  }
}

TEST_F(BindingTest, OverrideColourOutlivesAttaches) {
  auto bitmap = testenv::solid_bitmap(2, 2, cnBitmap32RGBA, 0);
  cSurfaceBitmap surface;
  ASSERT_TRUE(surface.Attach(bitmap.get(), true));
  cRendererSurface r;
  EXPECT_EQ(r.GetOverrideColor(), 0u);
  r.SetOverrideColor(renderer_color(1, 2, 3, 200));
  ASSERT_TRUE(r.AttachSurface(&surface));
  EXPECT_TRUE(r.ResetState());
  EXPECT_EQ(r.GetOverrideColor(), renderer_color(1, 2, 3, 200));
  r.DetachSurface();
  EXPECT_FALSE(r.ResetState());
  r.ResetOverrideColor(true);
  EXPECT_EQ(r.GetOverrideColor(), 0u);
}

TEST_F(BindingTest, ConveniencesForwardTheirArguments) {
  cProbeRenderer r;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct {
    double opacity;
    uint32_t alpha;
  } opacities[] = {{0.5, 128}, {1, 255}, {0, 0}, {-0.1, 0}, {2, 255}, {nan, 0}, {-1e300, 0}};
  for (const auto& o : opacities) {
    r.SetMasterOpacity(o.opacity);
    EXPECT_EQ(r.lastAlpha, o.alpha) << o.opacity;
  }

  r.DrawRoundRectXYWH(nullptr, 5, 5, 10, 10, 3);
  EXPECT_EQ(r.rounded, (std::vector<double>{5, 5, 15, 15, 3, 3, 3, 3, 3, 3, 3, 3}));
  r.DrawRoundRectElliptic(nullptr, 1, 2, 3, 4, 5, 6);
  EXPECT_EQ(r.rounded, (std::vector<double>{1, 2, 3, 4, 5, 6, 5, 6, 5, 6, 5, 6}));
  // (rx2, ry2) on the smaller-y edge, whichever way the corners were given.
  r.DrawRoundRectTopBottom(nullptr, 0, 10, 20, 0, 1, 2, 3, 4);
  EXPECT_EQ(r.rounded, (std::vector<double>{0, 0, 20, 10, 3, 4, 3, 4, 1, 2, 1, 2}));
  r.DrawImageXYWH(nullptr, 1, 2, 3, 4, true, nullptr);
  EXPECT_EQ(r.image, (std::vector<double>{1, 1, 2, 4, 6}));

  EXPECT_EQ(renderer_color_from_argb(0x80102030u), renderer_color(0x10, 0x20, 0x30, 0x80));
}

TEST_F(BindingTest, TextViewsCoverEveryStringKind) {
  const int32_t full_cells[] = {3, 'a', 'b', 'c', 0};
  // clang-format off
  struct {
    rTextView view;
    int64_t length;
    uint8_t unit;
  } cases[] = {
      {rTextView(std::string("ab\0c", 4)), 4, 1}, {rTextView(std::u16string(u"xy")), 2, 2},
      {rTextView("abc"), 3, 1},                   {rTextView(u"abcd"), 4, 2},
      {rTextView(U"a"), 1, 4},                    {rTextView(static_cast<const char*>(nullptr)), 0, 1},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(c.view.length, c.length);
    EXPECT_EQ(c.view.unit, c.unit);
  }
  (void)full_cells;
}

}  // namespace
