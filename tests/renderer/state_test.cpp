// The render state: defaults after attach, alphas in effect, coverage
// functions, compositing through the bound accessors, the master and image
// setters, pixel snapping, and snapshots.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "qlm_renderer_engine.h"
#include "qlm_renderer_state.h"
#include "renderer_support.h"

namespace {

using testenv::RendererTest;

class cStateProbe : public cRendererSurface {
 public:
  unsigned Coverage(unsigned i) const { return mRas.apply_gamma(i); }
  unsigned Coverage2(unsigned i) const { return mRas2.apply_gamma(i); }
  // Blends one pixel through the main base (plain or custom-blend).
  void BlendPixel(int x, int y, const agg::rgba8& c) { mBase.blend_pixel(x, y, c, agg::cover_full); }
  double Snap(double v) const {
    double x = v, y = v;
    mSnap.transform(&x, &y);
    return x;
  }
  size_t Stages() const { return mTransform.stages.size(); }
  void AddStage() { mTransform.stages.push_back(rTransformStage{}); }
  void SetDevice(const agg::trans_affine& m) { mDevice = m; }
};

struct Attached {
  Attached(int32_t kind = cnBitmap32BGRA) : bitmap(testenv::solid_bitmap(4, 4, kind, color_rgba(30, 60, 90, 200))) {
    EXPECT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_TRUE(renderer.AttachSurface(&surface));
  }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cStateProbe renderer;
};

class StateTest : public RendererTest {};

struct rDefaultRow {
  rDefaultRow(const char* n, auto g, auto w) : name(n), got(double(g)), want(double(w)) {}
  const char* name;
  double got, want;
};

// Every default, checked on a fresh renderer and again after a
// re-attach that follows changes to every group.
void expect_defaults(cRendererSurface& r) {
  const rDefaultRow values[] = {
      {"pen width", r.GetPenWidth(), 1.0},
      {"miter limit", r.GetMiterLimit(), 4.0},
      {"anti-aliasing", double(r.IsAntiAliasing()), 1},
      {"master alpha", r.GetMasterAlpha(), 255},
      {"gamma", r.GetGamma(), 1.0},
      {"snap x", r.GetPixelSnapX(), -1},
      {"snap y", r.GetPixelSnapY(), -1},
      {"snap", double(r.IsPixelSnap()), 0},
      {"culling", double(r.IsCulling()), 0},
      {"comp op", r.GetCompOp(), 0},
      {"filter", double(r.IsFilterCallback()), 0},
      {"master colour", r.GetMasterColor(), 0},
      {"pen render mode", r.GetPenRenderMode(), 1},
      {"fill render mode", r.GetFillRenderMode(), 1},
      {"shadow render mode", r.GetShadowRenderMode(), 1},
      {"text render mode", r.GetTextRenderMode(), 0},
      {"fill colour", r.GetFillColor(), 0xFFFFFFFFu},
      {"pen colour", r.GetPenColor(), 0xFF000000u},
      {"pen solid", double(r.IsPenSolid()), 1},
      {"pen on", double(r.IsPenOn()), 1},
      {"pen plain", double(r.IsPenPlainColor()), 1},
      {"line cap", r.GetLineCap(), 0},
      {"line join", r.GetLineJoin(), 0},
      {"pen device space", double(r.IsPenDeviceSpace()), 1},
      {"auto marker scale", r.GetAutoMarkerScale(), 1.0},
      {"vertex marker colour", r.GetVertexMarkerColor(), double(renderer_color(0, 0, 255, 255))},
      {"vertex oriented", double(r.IsVertexMarkerOriented()), 1},
      {"marker scale", r.GetMarkerScale(), 0},
      {"fill on", double(r.IsFillOn()), 1},
      {"fill solid", double(r.IsFillSolid()), 1},
      {"pattern wrap", r.GetFillPatternWrap(), 1},
      {"pattern absolute", double(r.IsFillPatternAbsolute()), 1},
      {"distortion period", r.GetDistortionPeriod(), 1.0},
      {"distortion amplitude", r.GetDistortionAmplitude(), 10.0},
      {"shadow off", double(r.IsOffsetShadow() || r.IsPerspectiveShadow() || r.IsGrowShadow()), 0},
      {"shadow distance", r.GetShadowDistance(), 5.0},
      {"shadow blur", r.GetShadowBlur(), 5.0},
      {"shadow blurred", double(r.IsShadowBlurred()), 1},
      {"shadow direction", r.GetShadowDirection(), 3},
      {"shadow colour", r.GetShadowColor(), double(renderer_color(127, 127, 127, 255))},
      {"fill shadow", double(r.IsFillShadow()), 1},
      {"text colour", r.GetTextColor(), 0xFF000000u},
      {"text back colour", r.GetTextBackColor(), double(renderer_color(255, 255, 0, 255))},
      {"text back", double(r.IsTextBack()), 0},
      {"align x", r.GetTextAlignX(), ALIGN_LEFT},
      {"align y", r.GetTextAlignY(), ALIGN_BOTTOM},
      {"underline position", r.GetUnderlinePosition(), 30},
      {"strike-out position", r.GetStrikeOutPosition(), 50},
      {"tint op", r.GetImageTintOp(), 3},
      {"tint", double(r.IsImageTint()), 0},
      {"tint colour", r.GetImageTintColor(), 0xFF000000u},
      {"image filter", r.GetImageFilter(), 0},
      {"clip on", double(r.IsClipOn()), 0},
      {"clip inside", double(r.IsClipInside()), 1},
      {"clip separate", double(r.IsClipSeparate()), 1},
  };
  for (const auto& v : values) EXPECT_EQ(v.got, v.want) << v.name;
}

// Changes every group away from its defaults.
void change_everything(cRendererSurface& r) {
  r.SetPenWidth(3);
  r.SetLineJoin(1);
  r.SetPenColor(renderer_color(1, 2, 3, 4));
  r.PenOff();
  r.SetFillColor(renderer_color(5, 6, 7, 8));
  r.SetFillEvenOdd(true);
  r.SetGrowShadow(7);
  r.SetShadowBlur(-2);
  r.SetTextAlign(ALIGN_CENTER, ALIGN_TOP);
  r.SetTextAngle(-90);
  r.SetUnderline(2, 1);
  r.SetTextBackColor(renderer_color(9, 9, 9, 9));
  r.SetImageTintOp(16);
  r.SetImageFilter(9);
  r.SetMasterAlpha(100);
  r.SetGamma(2.2);
  r.SetCompOp(16);
  r.SetPixelSnap(0.5, 0.5);
  r.SetMasterColor(renderer_color(4, 4, 4, 4));
  r.SetRenderMode(3);
  r.SetTextRenderMode(1);
}

TEST_F(StateTest, DefaultsHoldFreshAndAfterEveryAttach) {
  cRendererSurface fresh;
  expect_defaults(fresh);
  Attached a;
  a.renderer.SetOverrideColor(renderer_color(1, 1, 1, 1));
  change_everything(a.renderer);
  a.renderer.DetachSurface();
  ASSERT_TRUE(a.surface.Attach(a.bitmap.get(), true));
  ASSERT_TRUE(a.renderer.AttachSurface(&a.surface));
  expect_defaults(a.renderer);
  EXPECT_EQ(a.renderer.GetOverrideColor(), renderer_color(1, 1, 1, 1));
  change_everything(a.renderer);
  a.renderer.ResetAll();
  expect_defaults(a.renderer);
}

TEST_F(StateTest, AlphaInEffectFollowsMasterAlphaWithoutAntiAliasing) {
  struct {
    bool aa;
    uint32_t master;
    uint8_t fill_alpha;
  } cases[] = {{true, 255, 255}, {true, 128, 255}, {false, 255, 255}, {false, 128, 128}, {false, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.aa << " " << c.master);
    cRendererSurface r;
    r.SetAntiAliasing(c.aa);
    r.SetMasterAlpha(c.master);
    r.SetFillColor(renderer_color(10, 20, 30, 255));
    r.SetImageTintColor(renderer_color(1, 2, 3, 255));
    EXPECT_EQ(r.GetFillColor() >> 24, c.fill_alpha);
    EXPECT_EQ(r.GetImageTintColor() >> 24, 255u);  // tint: never scaled
  }
  // Stored colours follow later master changes; the master colour keeps
  // the alpha of its own time.
  cRendererSurface r;
  r.SetAntiAliasing(false);
  r.SetMasterAlpha(128);
  r.SetPenColor(renderer_color(0, 0, 0, 255));
  r.SetMasterColor(renderer_color(0, 0, 0, 255));
  EXPECT_EQ(r.GetPenColor() >> 24, 128u);
  r.SetAntiAliasing(true);
  EXPECT_EQ(r.GetPenColor() >> 24, 255u);
  EXPECT_EQ(r.GetMasterColor() >> 24, 128u);
  r.SetAntiAliasing(false);
  r.SetMasterAlpha(64);
  EXPECT_EQ(r.GetPenColor() >> 24, 64u);  // trunc(255/255 x 64/255 x 255 + 0.5)
}

TEST_F(StateTest, CoverageFunctionsMatchTheirFormula) {
  const double gammas[] = {1.0, 2.2, 0.0, -1.0};
  for (bool aa : {true, false})
    for (double g : gammas)
      for (uint32_t master : {255u, 128u}) {
        SCOPED_TRACE(testing::Message() << "aa " << aa << " gamma " << g << " master " << master);
        Attached a;
        a.renderer.SetAntiAliasing(aa);
        a.renderer.SetGamma(g);
        a.renderer.SetMasterAlpha(master);
        const double m = master / 255.0;
        for (unsigned i = 0; i < 256; ++i) {
          const double x = i / 255.0;
          double f;
          if (master == 255 && g == 1.0) {
            f = aa ? x : (x < 0.5 ? 0 : 1);
          } else {
            double base = aa ? x : (x < 0.5 ? 0 : 1);
            if (base == 0) {
              f = 0;  // no coverage stays none, whatever the gamma
            } else {
              double p = std::pow(base, g);
              if (!std::isfinite(p)) p = 1;
              f = std::min(1.0, p * m);
            }
          }
          const unsigned want = unsigned(std::lround(f * 255));
          ASSERT_EQ(a.renderer.Coverage(i), want) << i;
          ASSERT_EQ(a.renderer.Coverage2(i), want) << i;
        }
      }
}

TEST_F(StateTest, ScreenThroughTheBoundAccessorIsAggScreen) {
  Attached a;
  a.renderer.SetCompOp(16);
  EXPECT_EQ(a.renderer.GetCompOp(), 16);
  a.renderer.BlendPixel(1, 1, agg::rgba8(200, 100, 50, 180));
  agg::int8u raw[4] = {90, 60, 30, 200};
  agg::comp_op_adaptor_rgba<agg::rgba8, agg::order_bgra>::blend_pix(agg::comp_op_screen, raw, 200, 100, 50, 180,
                                                                    agg::cover_full);
  const uint8_t* p = a.bitmap->Data() + a.bitmap->Stride() + 4;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(p[i], raw[i]) << i;

  // 0, 29 and 255 are normal: plain source-over through the straight accessor.
  for (uint8_t op : {uint8_t(0), uint8_t(29), uint8_t(255)}) {
    a.renderer.SetCompOp(op);
    EXPECT_EQ(a.renderer.GetCompOp(), 0);
    EXPECT_FALSE(a.renderer.IsCompOp());
    a.renderer.BlendPixel(0, 0, agg::rgba8(200, 100, 50, 180));
  }
  // A 24-bit surface cannot composite.
  Attached rgb(cnBitmap24BGR);
  rgb.renderer.SetCompOp(16);
  EXPECT_EQ(rgb.renderer.GetCompOp(), 0);
}

TEST_F(StateTest, MasterAndImageSetters) {
  cStateProbe r;
  struct {
    uint8_t all, pen, fill, shadow;
  } modes[] = {{5, 1, 1, 1}, {0, 1, 1, 1}, {3, 3, 3, 3}, {4, 4, 4, 4}, {2, 2, 2, 2}};
  for (const auto& m : modes) {
    r.SetRenderMode(m.all);
    EXPECT_EQ(r.GetPenRenderMode(), m.pen) << int(m.all);
    EXPECT_EQ(r.GetFillRenderMode(), m.fill);
    EXPECT_EQ(r.GetShadowRenderMode(), m.shadow);
  }
  r.SetShadowRenderMode(0);
  EXPECT_EQ(r.GetShadowRenderMode(), 0);
  r.SetPenRenderMode(9);
  EXPECT_EQ(r.GetPenRenderMode(), 9);
  r.SetMasterAlpha(300);
  EXPECT_EQ(r.GetMasterAlpha(), 255);
  r.SetImageTintOp(0);
  EXPECT_EQ(r.GetImageTintOp(), 3);
  EXPECT_FALSE(r.IsImageTint());
  r.SetImageFilter(20);
  EXPECT_EQ(r.GetImageFilter(), 20);
  r.SetGamma(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(r.GetGamma(), 1.0);

  auto filter = [](cBitmap*, bool&, void*) {};
  EXPECT_FALSE(r.SetFilterCallback(filter, -1, nullptr));
  EXPECT_FALSE(r.FilterCallbackOn());
  int user = 0;
  EXPECT_TRUE(r.SetFilterCallback(filter, 10, &user));
  r.FilterCallbackOff();
  EXPECT_FALSE(r.IsFilterCallback());
  EXPECT_TRUE(r.FilterCallbackOn());  // the callback stayed
  EXPECT_FALSE(r.SetFilterCallback(nullptr, 5, nullptr));

  // Pixel snap: fractions inside (0, 1) snap, others leave vertices alone.
  r.SetPixelSnap(0.5, 0.5);
  EXPECT_EQ(r.Snap(10.2), 10.5);
  EXPECT_EQ(r.Snap(-0.2), -0.5);
  r.SetPixelSnap(1.0, 0);
  EXPECT_TRUE(r.IsPixelSnap());
  EXPECT_EQ(r.Snap(10.2), 10.2);
  r.SetPixelSnap(0.25, 0.25);
  r.PixelSnapOff();
  EXPECT_FALSE(r.IsPixelSnap());
  EXPECT_EQ(r.GetPixelSnapX(), 0.25);
  EXPECT_EQ(r.Snap(10.2), 10.2);

  // Pen width: a negative width gives marker scale 0, not NaN; NaN keeps.
  r.SetPenWidth(-4);
  EXPECT_EQ(r.GetAutoMarkerScale(), 0.0);
  r.SetPenWidth(std::numeric_limits<double>::infinity());
  EXPECT_EQ(r.GetPenWidth(), -4);
  r.SetLineJoin(2);
  EXPECT_EQ(r.GetLineJoin(), 2);
  r.SetLineJoin(7);
  EXPECT_EQ(r.GetLineJoin(), 0);
  r.SetTextAngle(-90);
  EXPECT_EQ(r.GetTextAngle(), 270);
}

TEST_F(StateTest, SnapshotsPutEveryGroupBack) {
  Attached a;
  cStateProbe& r = a.renderer;
  change_everything(r);
  r.AddStage();
  r.SetDevice(agg::trans_affine_rotation(0.5));
  auto state = r.SaveState();
  auto pen = r.GetPen();
  auto master = r.GetMasterParameters();
  const uint32_t pen_color = r.GetPenColor();
  const uint32_t fill_color = r.GetFillColor();
  const uint32_t text_back = r.GetTextBackColor();
  const rMatrix device = r.GetMatrix();
  r.ResetAll();
  r.ResetTransformations(false);
  expect_defaults(r);

  r.RestoreState(state.get());
  state.reset();  // the renderer keeps nothing of it
  EXPECT_EQ(r.GetPenWidth(), 3);
  EXPECT_EQ(r.GetLineJoin(), 1);
  EXPECT_EQ(r.GetPenColor(), pen_color);
  EXPECT_FALSE(r.IsPenOn());
  EXPECT_EQ(r.GetFillColor(), fill_color);
  EXPECT_TRUE(r.IsFillEvenOdd());
  EXPECT_TRUE(r.IsGrowShadow());
  EXPECT_EQ(r.GetShadowDistance(), 7);
  EXPECT_EQ(r.GetShadowBlur(), 2);
  EXPECT_EQ(r.GetTextAlignX(), ALIGN_CENTER);
  EXPECT_EQ(r.GetTextAngle(), 270);
  EXPECT_EQ(r.IsUnderline(), 2);
  EXPECT_EQ(r.GetTextBackColor(), text_back);
  EXPECT_EQ(r.GetImageTintOp(), 16);
  EXPECT_EQ(r.GetImageFilter(), 9);
  EXPECT_EQ(r.GetMasterAlpha(), 100);
  EXPECT_EQ(r.GetGamma(), 2.2);
  EXPECT_EQ(r.GetCompOp(), 16);
  EXPECT_EQ(r.GetPixelSnapX(), 0.5);
  EXPECT_EQ(r.GetMasterColor(), renderer_color(4, 4, 4, 4));
  EXPECT_EQ(r.GetPenRenderMode(), 3);
  EXPECT_EQ(r.GetShadowRenderMode(), 3);
  EXPECT_EQ(r.GetTextRenderMode(), 1);
  EXPECT_EQ(r.Stages(), 1u);
  EXPECT_EQ(r.GetMatrix(), device);

  // One group at a time, by value.
  r.ResetAll();
  r.SetPen(pen.get(), false);
  EXPECT_EQ(r.GetPenWidth(), 3);
  EXPECT_EQ(r.GetFillColor(), 0xFFFFFFFFu);  // other groups untouched
  r.SetMasterParameters(master.get(), false);
  EXPECT_EQ(r.GetCompOp(), 16);
  EXPECT_EQ(r.GetMasterAlpha(), 100);
  r.SetPen(nullptr, false);
  r.RestoreState(nullptr);
  EXPECT_EQ(r.GetPenWidth(), 3);
}

}  // namespace
