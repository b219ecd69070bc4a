// The pen and marker families: the setter and kind table, strokes, dashes
// and outlines against raw AGG, start/end and vertex markers, pen patterns,
// the pen snapshot round trip, hit masks and hostile input.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "qlm_renderer_engine.h"
#include "renderer_support.h"

namespace {

using testenv::pixel_argb;
using testenv::RendererTest;

constexpr int kW = 120, kH = 48;
constexpr uint32_t kBg = 0xFF102030u;

class cPenProbe : public cRendererSurface {
 public:
  const PenState& Pen() const { return mPen; }
  int64_t PatternBuilds() const { return mPenPatternBuilds; }
  int64_t Paints() const { return mPaintCount; }
  void Render(agg::path_storage& p, uint8_t mode) {
    SetCurrentPath(&p, 0, 0);
    RenderPath(mode, nullptr, true, true, nullptr);
    SetCurrentPath(nullptr, 0, 0);
  }
};

struct Bound {
  explicit Bound(int w = kW, int h = kH) : bitmap(testenv::solid_bitmap(w, h, cnBitmap32BGRA, kBg)) {
    EXPECT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_TRUE(r.AttachSurface(&surface));
    r.FillOff();
    r.SetPenColor(renderer_color(250, 200, 20, 255));
  }
  std::vector<uint8_t> Bytes() const {
    return std::vector<uint8_t>(bitmap->Data(), bitmap->Data() + int64_t(bitmap->Stride()) * bitmap->Height());
  }
  uint32_t Pixel(int x, int y) const { return pixel_argb(*bitmap, x, y); }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cPenProbe r;
};

// The approximation scale the renderer gives curves and strokes without
// transformations: TransformLength(1) x 2.
const double kApprox = std::hypot(1.0, 1.0) * 0.7071068 * 2.0;

// A raw AGG picture over the same background.
struct Raw {
  Raw(int w = kW, int h = kH)
      : bm(testenv::solid_bitmap(w, h, cnBitmap32BGRA, kBg)), rb(bm->Data(), w, h, bm->Stride()), pf(rb), base(pf) {
    ras.clip_box(0, 0, w, h);
  }
  template <class VS>
  void Fill(VS& vs, const agg::rgba8& c, bool aa = true) {
    ras.reset();
    if (!aa) ras.gamma(agg::gamma_threshold(0.5));
    ras.add_path(vs);
    agg::scanline_u8 sl;
    agg::render_scanlines_aa_solid(ras, sl, base, c);
  }
  std::vector<uint8_t> Bytes() const {
    return std::vector<uint8_t>(bm->Data(), bm->Data() + int64_t(bm->Stride()) * bm->Height());
  }
  std::unique_ptr<cBitmap> bm;
  agg::rendering_buffer rb;
  agg::pixfmt_bgra32 pf;
  agg::renderer_base<agg::pixfmt_bgra32> base;
  agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> ras;
};

const double kLine[] = {10.5, 30.25, 40, 8.5, 70.75, 36, 108, 12.5};
agg::path_storage line_path() {
  agg::path_storage p;
  p.move_to(kLine[0], kLine[1]);
  for (int i = 2; i < 8; i += 2) p.line_to(kLine[i], kLine[i + 1]);
  return p;
}
const agg::rgba8 kPen(250, 200, 20, 255);

class PenTest : public RendererTest {};

TEST_F(PenTest, SetterAndKindTable) {
  Bound b;
  cPenProbe& r = b.r;
  // Joins: 1 round (AGG 2), 2 bevel (AGG 3), anything else miter.
  for (auto [join, agg_join, back] : {std::tuple{1, 2, 1}, {2, 3, 2}, {0, 0, 0}, {7, 0, 0}}) {
    r.SetLineJoin(uint8_t(join));
    EXPECT_EQ(r.Pen().line_join, agg_join) << join;
    EXPECT_EQ(r.GetLineJoin(), back) << join;
  }
  for (auto [cap, back] : {std::pair{1, 1}, {2, 2}, {0, 0}, {9, 0}}) {
    r.SetLineCap(uint8_t(cap));
    EXPECT_EQ(r.GetLineCap(), back) << cap;
  }
  // SetPenColor: a pattern pen and a pen that is off become solid, a dashed
  // pen stays dashed.
  r.PenPatternFromColor();
  EXPECT_TRUE(r.IsPenPattern());
  r.SetPenColor(renderer_color(1, 2, 3, 255));
  EXPECT_TRUE(r.IsPenSolid());
  r.PenOff();
  r.SetPenColor(renderer_color(1, 2, 3, 255));
  EXPECT_TRUE(r.IsPenSolid() && r.IsPenOn());
  r.AddDash(3, 2);
  r.SetPenColor(renderer_color(1, 2, 3, 255));
  EXPECT_TRUE(r.IsPenDashed());
  EXPECT_TRUE(r.IsPenPlainColor());
  // PenDashOff makes the pen solid, not off; PenOn brings back the dashes.
  r.PenDashOff();
  EXPECT_TRUE(r.IsPenSolid());
  r.PenOn();
  EXPECT_TRUE(r.IsPenDashed());
  // PenDashed on an empty list adds (1, 1).
  r.ResetDash(true);
  EXPECT_TRUE(r.IsPenSolid());
  r.PenDashed();
  ASSERT_EQ(r.Pen().dashes.size(), 1u);
  EXPECT_EQ(r.Pen().dashes[0].dash, 1.0);
  EXPECT_EQ(r.Pen().dashes[0].gap, 1.0);
  // Device space and outlines.
  r.SetPenOutline(true);
  r.SetPenDeviceSpace(false);
  EXPECT_FALSE(r.IsPenOutline());
  r.SetPenOutline(true);
  EXPECT_TRUE(r.IsPenDeviceSpace() && r.IsPenOutline());
  // Markers: the default arrow scaled by the automatic scale (width^0.7),
  // or 1 with the scale flag on (the add multiplies by the scale).
  r.SetPenWidth(2);
  r.EndMarkerOn();
  ASSERT_EQ(r.Pen().end_path.size(), 5u);
  EXPECT_DOUBLE_EQ(r.Pen().end_path[0].x1, -4 * std::pow(2.0, 0.7));
  r.SetMarkerScale(3);
  r.StartMarkerOn();
  EXPECT_DOUBLE_EQ(r.Pen().start_path[1].y1, -9.0);
  EXPECT_TRUE(r.StartMarkerOff());  // the end marker is still on
  EXPECT_FALSE(r.EndMarkerOff());
  // Hostile commands take nothing: unknown, non-finite, too large.
  r.ResetMarkers(false);
  r.AddEndMarkerCommand(9, 0, 0, 0, 0, 0, 0);
  r.AddEndMarkerCommand(cnPathLineTo, std::nan(""), 0, 0, 0, 0, 0);
  r.AddEndMarkerCommand(cnPathLineTo, 1e300, 0, 0, 0, 0, 0);
  EXPECT_TRUE(r.Pen().end_path.empty());
  EXPECT_TRUE(r.IsEndMarker());
  // The vertex marker default square.
  r.SetVertexMarkers(false, false, true);
  EXPECT_EQ(r.Pen().vertex_path.size(), 5u);
  EXPECT_DOUBLE_EQ(r.Pen().vertex_path[2].x1, 3 * std::pow(2.0, 0.7));
}

TEST_F(PenTest, StrokesEqualRawAgg) {
  struct Case {
    const char* name;
    std::function<void(cPenProbe&)> setup;
    std::function<void(Raw&)> raw;
  };
  auto stroke_raw = [](double width, agg::line_join_e join, agg::line_cap_e cap, std::vector<double> dashes,
                       double start) {
    return [=](Raw& raw) {
      agg::path_storage p = line_path();
      agg::conv_curve<agg::path_storage> curve(p);
      if (dashes.empty()) {
        agg::conv_stroke<agg::conv_curve<agg::path_storage>> s(curve);
        s.width(width), s.line_join(join), s.line_cap(cap), s.approximation_scale(kApprox);
        raw.Fill(s, kPen);
      } else {
        agg::conv_dash<agg::conv_curve<agg::path_storage>> d(curve);
        for (size_t i = 0; i + 1 < dashes.size(); i += 2) d.add_dash(dashes[i], dashes[i + 1]);
        d.dash_start(start);
        agg::conv_stroke<decltype(d)> s(d);
        s.width(width), s.line_join(join), s.line_cap(cap), s.approximation_scale(kApprox);
        raw.Fill(s, kPen);
      }
    };
  };
  auto outline_raw = [](bool of_stroke, double width, bool aa) {
    return [=](Raw& raw) {
      agg::path_storage p = line_path();
      agg::conv_curve<agg::path_storage> curve(p);
      agg::conv_stroke<agg::conv_curve<agg::path_storage>> s(curve);
      s.width(width), s.approximation_scale(kApprox);
      auto draw = [&](auto& src) {
        if (aa) {
          agg::line_profile_aa profile(1.0, agg::gamma_none());
          agg::renderer_outline_aa<decltype(raw.base)> ren(raw.base, profile);
          ren.color(kPen);
          agg::rasterizer_outline_aa<decltype(ren)> ras(ren);
          ras.add_path(src);
        } else {
          agg::renderer_primitives<decltype(raw.base)> ren(raw.base);
          ren.line_color(kPen);
          agg::rasterizer_outline<decltype(ren)> ras(ren);
          ras.add_path(src);
        }
      };
      if (of_stroke)
        draw(s);
      else
        draw(curve);
    };
  };
  const Case cases[] = {
      {"width 3, round join, square cap", [](cPenProbe& r) { r.SetPenWidth(3), r.SetLineJoin(1), r.SetLineCap(1); },
       stroke_raw(3, agg::round_join, agg::square_cap, {}, 0)},
      {"PenDashed is a (1, 1) dash", [](cPenProbe& r) { r.PenDashed(); },
       stroke_raw(1, agg::miter_join, agg::butt_cap, {1, 1}, 0)},
      {"dashes with a start of 0.5",
       [](cPenProbe& r) { r.SetPenWidth(2), r.AddDash(6, 3), r.AddDash(2, 3), r.SetDashStart(0.5); },
       stroke_raw(2, agg::miter_join, agg::butt_cap, {6, 3, 2, 3}, 0.5)},
      {"pen render mode 2 strokes a pattern pen in its colour",
       [](cPenProbe& r) { r.SetPenWidth(2.5), r.PenPatternFromColor(), r.SetPenRenderMode(2); },
       stroke_raw(2.5, agg::miter_join, agg::butt_cap, {}, 0)},
      {"pen render mode 2 keeps dashes", [](cPenProbe& r) { r.AddDash(5, 2), r.SetPenRenderMode(2); },
       stroke_raw(1, agg::miter_join, agg::butt_cap, {5, 2}, 0)},
      {"outline flag: the stroke's outline at the minimum width 1.6", [](cPenProbe& r) { r.SetPenOutline(true); },
       outline_raw(true, 1.6, true)},
      {"outline of a wide stroke keeps its width", [](cPenProbe& r) { r.SetPenWidth(5), r.SetPenOutline(true); },
       outline_raw(true, 5, true)},
      {"aliased outline", [](cPenProbe& r) { r.SetAntiAliasing(false), r.SetPenOutline(true); },
       outline_raw(true, 1, false)},
      {"pen render mode 3 outlines the stroked polygon", [](cPenProbe& r) { r.SetPenWidth(4), r.SetPenRenderMode(3); },
       outline_raw(true, 4, true)},
      {"pen render mode 4 outlines the path itself", [](cPenProbe& r) { r.SetPenWidth(4), r.SetPenRenderMode(4); },
       outline_raw(false, 4, true)},
  };
  for (const Case& c : cases) {
    Bound b;
    c.setup(b.r);
    b.r.DrawPolyline(kLine, 4, nullptr);
    Raw raw;
    c.raw(raw);
    EXPECT_EQ(b.Bytes(), raw.Bytes()) << c.name;
  }
  // Render modes 3 and 4 take the master colour when its alpha is not 0.
  Bound m;
  m.r.SetPenRenderMode(4);
  m.r.SetMasterColor(renderer_color(0, 255, 0, 255));
  m.r.DrawPolyline(kLine, 4, nullptr);
  int changed = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint32_t px = m.Pixel(x, y);
      if (px == kBg) continue;
      ++changed;
      EXPECT_LE((px >> 16) & 0xFF, 0x10u);  // no red of the pen: green over the background
      EXPECT_GT((px >> 8) & 0xFF, 0x20u);
    }
  EXPECT_GT(changed, 100);
}

TEST_F(PenTest, FillRenderModesOutlineTheFill) {
  // Fill render modes 3 and 4 outline the filled shape in the fill colour,
  // when filling only (RenderPath mode 1) and with the stroke (mode 3; the
  // pen is off here).
  const agg::rgba8 fill(40, 220, 120, 255);
  for (uint8_t path_mode : {uint8_t(1), uint8_t(3)})
    for (uint8_t mode : {uint8_t(3), uint8_t(4)}) {
      Bound b;
      b.r.PenOff();
      b.r.SetFillColor(renderer_color(fill.r, fill.g, fill.b, fill.a));
      b.r.SetFillRenderMode(mode);
      agg::path_storage shape = line_path();
      shape.close_polygon();
      b.r.Render(shape, path_mode);
      Raw raw;
      agg::path_storage p = line_path();
      p.close_polygon();
      agg::line_profile_aa profile(1.0, agg::gamma_none());
      agg::renderer_outline_aa<decltype(raw.base)> ren(raw.base, profile);
      ren.color(fill);
      agg::rasterizer_outline_aa<decltype(ren)> ras(ren);
      ras.add_path(p);
      EXPECT_EQ(b.Bytes(), raw.Bytes()) << int(path_mode) << " " << int(mode);
    }
}

// Pixels of the picture that differ from the background.
bool painted(const Bound& b, int x, int y) { return b.Pixel(x, y) != kBg; }

TEST_F(PenTest, StartAndEndMarkers) {
  const double line[] = {20, 20.5, 100, 20.5};
  {
    // Default arrows point outwards: tips at (16, 20.5) and (104, 20.5).
    Bound b;
    b.r.StartMarkerOn();
    b.r.EndMarkerOn();
    b.r.DrawPolyline(line, 2, nullptr);
    EXPECT_TRUE(painted(b, 16, 20));
    EXPECT_FALSE(painted(b, 15, 20));
    EXPECT_TRUE(painted(b, 103, 20));
    EXPECT_FALSE(painted(b, 104, 20));
  }
  // A square at the start, an arrow at the end: each at its own end.
  auto square = [](cPenProbe& r) {
    r.AddStartMarkerCommand(cnPathMoveTo, -3, -3, 0, 0, 0, 0);
    r.AddStartMarkerCommand(cnPathLineTo, 3, -3, 0, 0, 0, 0);
    r.AddStartMarkerCommand(cnPathLineTo, 3, 3, 0, 0, 0, 0);
    r.AddStartMarkerCommand(cnPathLineTo, -3, 3, 0, 0, 0, 0);
    r.AddStartMarkerCommand(cnPathClose, 0, 0, 0, 0, 0, 0);
  };
  Bound both;
  square(both.r);
  both.r.EndMarkerOn();
  both.r.DrawPolyline(line, 2, nullptr);
  EXPECT_TRUE(painted(both, 18, 18));    // the square around (20, 20.5)
  EXPECT_FALSE(painted(both, 102, 18));  // the arrow is narrow near its tip
  EXPECT_TRUE(painted(both, 97, 18));
  // StartMarkerOff while the end marker is on still draws the start
  // commands; ResetStartMarker removes them.
  Bound off;
  square(off.r);
  off.r.EndMarkerOn();
  off.r.StartMarkerOff();
  off.r.DrawPolyline(line, 2, nullptr);
  EXPECT_EQ(off.Bytes(), both.Bytes());
  Bound reset;
  square(reset.r);
  reset.r.EndMarkerOn();
  reset.r.ResetStartMarker(false);
  reset.r.DrawPolyline(line, 2, nullptr);
  EXPECT_FALSE(painted(reset, 18, 18));
  EXPECT_TRUE(painted(reset, 97, 18));
  // Markers sit on the ends of the path, not of every dash.
  Bound dashed;
  square(dashed.r);
  dashed.r.EndMarkerOn();
  dashed.r.AddDash(7, 5);
  dashed.r.DrawPolyline(line, 2, nullptr);
  EXPECT_TRUE(painted(dashed, 18, 18));
  EXPECT_FALSE(painted(dashed, 40, 18));
}

// Start and end markers take the pen's gradient as the stroke does, and
// they are part of the shadow the stroke casts.
TEST_F(PenTest, MarkersTakeThePenGradientAndCastShadows) {
  const double line[] = {20, 20.5, 100, 20.5};
  auto square = [](cPenProbe& r) {
    r.AddStartMarkerCommand(cnPathMoveTo, -3, -3, 0, 0, 0, 0);
    r.AddStartMarkerCommand(cnPathLineTo, 3, -3, 0, 0, 0, 0);
    r.AddStartMarkerCommand(cnPathLineTo, 3, 3, 0, 0, 0, 0);
    r.AddStartMarkerCommand(cnPathLineTo, -3, 3, 0, 0, 0, 0);
    r.AddStartMarkerCommand(cnPathClose, 0, 0, 0, 0, 0, 0);
  };
  cGradientLinearX ramp(0, 120);
  ramp.AddStopARGB(0xFFFF0000u, 0);
  ramp.AddStopARGB(0xFF0000FFu, 1);
  {
    Bound b;
    square(b.r);
    b.r.SetPenGradient(&ramp);
    b.r.DrawPolyline(line, 2, nullptr);
    const uint32_t corner = b.Pixel(18, 18);  // inside the square, off the line
    EXPECT_NE(corner, kBg);
    EXPECT_GT((corner >> 16) & 0xFF, 150u);  // near the red end of the ramp
    b.r.ResetPenGradient(false);
  }
  // A hard shadow 8 px down: the square's shadow lies below the square,
  // apart from the line's.
  Bound s;
  square(s.r);
  s.r.SetOffsetShadow(8);
  s.r.SetShadowBlurred(false);
  s.r.SetShadowDirection(7);
  s.r.DrawPolyline(line, 2, nullptr);
  EXPECT_TRUE(painted(s, 18, 26));
  EXPECT_FALSE(painted(s, 18, 33));
}

TEST_F(PenTest, VertexMarkersAgainstRawSquares) {
  const double pts[] = {10, 10, 40, 30, 70, 10};
  const double repeated[] = {10, 10, 10, 10, 40, 30, 40, 30, 70, 10};
  const agg::rgba8 blue(0, 0, 255, 255);
  auto raw_square = [&](Raw& raw, double x, double y, double angle) {
    agg::path_storage sq;
    sq.move_to(-3, -3), sq.line_to(3, -3), sq.line_to(3, 3), sq.line_to(-3, 3), sq.close_polygon();
    agg::trans_affine m = agg::trans_affine_rotation(angle);
    m *= agg::trans_affine_translation(x, y);
    agg::conv_transform<agg::path_storage> placed(sq, m);
    raw.Fill(placed, blue);
  };
  const double a_first = std::atan2(10 - 30.0, 10 - 40.0), a_next = std::atan2(30 - 10.0, 40 - 70.0);
  struct {
    bool first, last;
    const double* points;
    int count;
    int markers;
  } cases[] = {{false, false, pts, 3, 1}, {true, true, pts, 3, 3}, {true, true, repeated, 5, 3}};
  for (const auto& c : cases) {
    Bound b;
    b.r.PenOff();  // only the markers
    b.r.SetVertexMarkers(c.first, c.last, true);
    b.r.DrawPolyline(c.points, c.count, nullptr);
    Raw raw;
    if (c.markers == 3) raw_square(raw, 10, 10, a_first);
    raw_square(raw, 40, 30, a_next);
    if (c.markers == 3) raw_square(raw, 70, 10, a_next);
    EXPECT_EQ(b.Bytes(), raw.Bytes()) << c.first << c.last << " of " << c.count;
  }
  // A single vertex: one marker, unrotated.
  Bound one;
  one.r.PenOff();
  one.r.SetVertexMarkers(true, true, true);
  agg::path_storage dot;
  dot.move_to(30, 20);
  cPath path;
  path.MoveTo(30, 20);
  one.r.DrawPath(&path, nullptr, 0, 0);
  Raw raw_one;
  raw_square(raw_one, 30, 20, 0);
  EXPECT_EQ(one.Bytes(), raw_one.Bytes());
}

// A pattern callback: vertical stripes, 3 columns red, the rest white.
void stripes(cRenderer* r, void*) {
  r->SetFillColor(renderer_color(255, 255, 255, 255));
  r->PenOff();
  r->DrawRectangle(nullptr, 0, 0, 64, 64);
  r->SetFillColor(renderer_color(220, 20, 20, 255));
  r->DrawRectangle(nullptr, 0, 0, 3, 64);
}

TEST_F(PenTest, PenPatternsAgainstRawAgg) {
  for (bool aa : {true, false}) {
    Bound b;
    b.r.SetAntiAliasing(aa);
    b.r.SetPenPatternCallback(stripes, nullptr, 8, 6);
    ASSERT_TRUE(b.r.IsPenPattern());
    EXPECT_EQ(b.r.GetPenPatternTileHeight(), 6);
    EXPECT_NEAR(b.r.GetPenPatternScaledWidth(), 8, 1e-6);
    b.r.SetPenPatternStart(2.5);
    b.r.DrawPolyline(kLine, 4, nullptr);
    // The raw twin: the same tile pixels through AGG's line pattern.
    const PenState& pen = b.r.Pen();
    struct src_t {
      const PenState* pen;
      double width() const { return pen->pattern_pixels_width; }
      double height() const { return pen->pattern_pixels_height; }
      agg::rgba8 pixel(int x, int y) const {
        const uint8_t* p = pen->pattern_pixels.data() + (y * pen->pattern_pixels_width + x) * 4;
        return agg::rgba8(p[0], p[1], p[2], p[3]);
      }
    } src{&pen};
    Raw raw;
    agg::path_storage p = line_path();
    auto run = [&](auto& filter) {
      agg::line_image_pattern<std::remove_reference_t<decltype(filter)>> pattern(filter, src);
      agg::renderer_outline_image<decltype(raw.base), decltype(pattern)> ren(raw.base, pattern);
      ren.scale_x(1.0);
      ren.start_x(2.5);
      agg::rasterizer_outline_aa<decltype(ren)> ras(ren);
      ras.round_cap(true);
      ras.add_path(p);
    };
    if (aa) {
      agg::pattern_filter_bilinear_rgba8 f;
      run(f);
    } else {
      agg::pattern_filter_nn_rgba8 f;
      run(f);
    }
    EXPECT_EQ(b.Bytes(), raw.Bytes()) << "anti-aliasing " << aa;
  }
}

TEST_F(PenTest, PenPatternSizesAndRebuilds) {
  Bound b;
  // Width 0.3: a one-pixel tile at scale 0.3.
  b.r.SetPenPatternCallback(stripes, nullptr, 0.3, 4);
  EXPECT_EQ(b.r.Pen().pattern_pixels_width, 1);
  EXPECT_NEAR(b.r.Pen().pattern_scale, 0.3, 1e-6);
  EXPECT_NEAR(b.r.GetPenPatternScaledWidth(), 0.3, 1e-6);
  // Width 0 (and negative): scale 1, drawn without dividing by zero.
  for (double w : {0.0, -5.0, std::nan("")}) {
    b.r.SetPenPatternCallback(stripes, nullptr, w, 4);
    EXPECT_TRUE(b.r.IsPenPattern());
    EXPECT_EQ(b.r.Pen().pattern_scale, 1.0);
    b.r.DrawPolyline(kLine, 4, nullptr);
  }
  // Tiles beyond the cap leave the pen off.
  b.r.SetPenPatternCallback(stripes, nullptr, 1e9, 4);
  EXPECT_FALSE(b.r.IsPenOn());
  b.r.PenOn();
  EXPECT_FALSE(b.r.IsPenOn());
  // A bitmap with sizes 0 is taken as it is, at scale 1.
  auto bm = testenv::solid_bitmap(5, 3, cnBitmap32BGRA, 0xFF00FF00u);
  b.r.SetPenPatternBitmap(bm.get(), 0, 0);
  EXPECT_TRUE(b.r.IsPenPattern());
  EXPECT_EQ(b.r.GetPenPatternScaledWidth(), 5);
  EXPECT_EQ(b.r.GetPenPatternTileHeight(), 3);
  EXPECT_NEAR(b.r.GetPenPatternWidth(), 5, 1e-6);  // the tile in user units
  // Resized: at least 2 pixels.
  b.r.SetPenPatternBitmap(bm.get(), 10, 1);
  EXPECT_EQ(b.r.Pen().pattern_pixels_width, 10);
  EXPECT_EQ(b.r.Pen().pattern_pixels_height, 2);
  b.r.SetPenPatternBitmap(nullptr, 0, 0);
  EXPECT_FALSE(b.r.IsPenOn());
  // Toggling anti-aliasing rebuilds the line pattern with the other filter:
  // the pictures differ, and each is stable.
  b.r.SetPenPatternCallback(stripes, nullptr, 7, 5);
  std::vector<uint8_t> pictures[3];
  const int64_t builds = b.r.PatternBuilds();
  for (int i = 0; i < 3; ++i) {
    b.r.SetAntiAliasing(i != 1);
    b.r.Clear(kBg);
    b.r.DrawPolyline(kLine, 4, nullptr);
    pictures[i] = b.Bytes();
  }
  EXPECT_EQ(b.r.PatternBuilds() - builds, 3);
  EXPECT_NE(pictures[0], pictures[1]);
  EXPECT_EQ(pictures[0], pictures[2]);
  b.r.Clear(kBg);
  b.r.DrawPolyline(kLine, 4, nullptr);
  EXPECT_EQ(b.r.PatternBuilds() - builds, 3);  // nothing changed: no build
  // From a colour: a one-pixel line in the pen colour; an existing pattern
  // stays.
  b.r.ResetPenPattern(true);
  b.r.PenPatternFromColor();
  EXPECT_EQ(b.r.GetPenPatternTileHeight(), 1);
  b.r.SetPenPatternCallback(stripes, nullptr, 7, 5);
  b.r.PenPatternFromColor();
  EXPECT_EQ(b.r.GetPenPatternTileHeight(), 5);
}

TEST_F(PenTest, CullingKeepsLinesWhosePatternReachesIn) {
  // A line 3 px above the surface: culled with a thin solid pen, drawn
  // when the pattern (8 px thick) reaches in.
  const double above[] = {10, -3, 100, -3};
  Bound solid;
  solid.r.SetCulling(true);
  const int64_t before = solid.r.Paints();
  solid.r.DrawPolyline(above, 2, nullptr);
  EXPECT_EQ(solid.r.Paints(), before);
  Bound culled, free;
  for (Bound* b : {&culled, &free}) {
    b->r.SetCulling(b == &culled);
    b->r.SetPenPatternCallback(stripes, nullptr, 6, 8);
    b->r.DrawPolyline(above, 2, nullptr);
  }
  EXPECT_EQ(culled.Bytes(), free.Bytes());
  EXPECT_TRUE(painted(culled, 50, 0));
}

TEST_F(PenTest, PenSnapshotRoundTripByRendering) {
  auto scene = [](cPenProbe& r) {
    r.Clear(kBg);
    r.DrawPolyline(kLine, 4, nullptr);
  };
  Bound b;
  b.r.SetPenWidth(2.5);
  b.r.SetLineJoin(1);
  b.r.AddDash(5, 3);
  b.r.SetDashStart(1.5);
  b.r.EndMarkerOn();
  b.r.SetVertexMarkers(true, false, true);
  b.r.SetPenPatternCallback(stripes, nullptr, 9, 5);
  b.r.SetPenPatternStart(3);
  for (int kind : {3, 2}) {
    if (kind == 2) b.r.PenDashed();
    scene(b.r);
    const std::vector<uint8_t> expected = b.Bytes();
    std::unique_ptr<cPen> snapshot = b.r.GetPen();
    b.r.ResetPen(false);
    b.r.SetPenWidth(7);
    b.r.SetPenPatternCallback(stripes, nullptr, 3, 2);
    scene(b.r);
    EXPECT_NE(b.Bytes(), expected);
    b.r.SetPen(snapshot.get(), true);
    scene(b.r);
    EXPECT_EQ(b.Bytes(), expected) << kind;
    snapshot.reset();
    scene(b.r);
    EXPECT_EQ(b.Bytes(), expected) << kind;
  }
}

TEST_F(PenTest, HitMasksOfStrokesOutlinesAndPatterns) {
  // A stroke-only rectangle answers 0 inside unless hit interior is set.
  for (bool interior : {false, true}) {
    Bound b;
    b.r.SetPenWidth(3);
    cHitTest hit;
    hit.SetHitInterior(interior);
    b.r.DrawRectangle(&hit, 20, 10, 80, 40);
    EXPECT_EQ(hit.HitTest(20, 25), 255);
    EXPECT_EQ(hit.HitTest(50, 25), interior ? 255 : 0);
  }
  // Outlines register their lines, not the area inside.
  Bound o;
  o.r.SetPenOutline(true);
  cHitTest hit;
  o.r.DrawRectangle(&hit, 20, 10, 80, 40);
  EXPECT_GT(hit.HitTest(20.5, 25), 0);
  EXPECT_EQ(hit.HitTest(50, 25), 0);
  EXPECT_EQ(o.r.GetPenRenderMode(), 1);
  // Pen patterns register the pattern line, its thickness the tile height.
  Bound p;
  p.r.SetPenPatternCallback(stripes, nullptr, 8, 6);
  cHitTest phit;
  const double flat[] = {10, 20, 100, 20};
  p.r.DrawPolyline(flat, 2, &phit);
  EXPECT_EQ(phit.HitTest(50, 21), 255);
  EXPECT_EQ(phit.HitTest(50, 27), 0);
  // Markers register their shapes.
  Bound m;
  m.r.EndMarkerOn();
  cHitTest mhit;
  m.r.DrawPolyline(flat, 2, &mhit);
  EXPECT_GT(mhit.HitTest(97, 21.5), 0);
}

// A miter limit at or below 1 strokes as the least limit AGG handles, 1.01.
// AGG's miter join divided zero by zero where a straight continuation passes
// such a limit and put a vertex at NaN, which the rasteriser turned into a
// line to the far corner. Closed outlines with points on their straight
// sides (a rectangle, and a triangle whose midpoints are off the line by
// rounding), miter joins, under several limits.
TEST_F(PenTest, MiterLimitsAtOrBelowOneStrokeAsTheLeastLimit) {
  const double rectangle[] = {10, 40, 30, 40, 50, 40, 50, 10, 30, 10, 10, 10};
  const double triangle[] = {92.240381056766580, 10.5, 79.25, 33,  66.259618943233420,  10.500000000000005,
                             53.269237886466826, -12,  79.25, -12, 105.230762113533139, -12.000000000000037};
  auto stroke = [&](double limit, bool closed) {
    Bound b;
    b.r.SetPenWidth(6);
    b.r.SetLineJoin(0);
    b.r.SetMiterLimit(limit);
    if (closed) {
      b.r.DrawPolygon(rectangle, 6, nullptr);
      b.r.DrawPolygon(triangle, 6, nullptr);
    } else {
      b.r.DrawPolyline(rectangle, 6, nullptr);
    }
    EXPECT_EQ(b.r.GetMiterLimit(), limit) << "the limit set is the limit read back";
    return b.Bytes();
  };
  for (const bool closed : {true, false}) {
    const std::vector<uint8_t> least = stroke(1.01, closed);
    for (const double limit : {-48.0, 0.0, 0.5, 1.0}) EXPECT_EQ(stroke(limit, closed), least) << limit << " " << closed;
  }
}

TEST_F(PenTest, HostileInputEndsPromptly) {
  using clock = std::chrono::steady_clock;
  const double far_line[] = {-1e9, 5, 1e9, 30, -1e9, 40};
  struct Case {
    const char* name;
    std::function<void(cPenProbe&)> setup;
  };
  const Case cases[] = {
      {"zero dashes", [](cPenProbe& r) { r.AddDash(0, 0); }},
      {"negative dashes", [](cPenProbe& r) { r.AddDash(-1, -1); }},
      {"a far dash start", [](cPenProbe& r) { r.AddDash(1e-3, 2e-3), r.SetDashStart(1e300); }},
      {"a dash start over zero dashes", [](cPenProbe& r) { r.AddDash(0, 0), r.SetDashStart(1e9); }},
      {"tiny dashes on a huge line", [](cPenProbe& r) { r.AddDash(1e-6, 1e-6); }},
      {"enormous round stroke", [](cPenProbe& r) { r.SetPenWidth(1e11), r.SetLineJoin(1), r.SetLineCap(2); }},
      {"outline under a zero scale", [](cPenProbe& r) { r.Scale(0, 0), r.SetPenOutline(true); }},
      {"aliased outline far away", [](cPenProbe& r) { r.SetAntiAliasing(false), r.SetPenRenderMode(4); }},
      {"pattern with a tiny width",
       [](cPenProbe& r) { r.SetPenPatternCallback(stripes, nullptr, 1e-9, 3), r.SetPenPatternStart(1e300); }},
      {"markers everywhere",
       [](cPenProbe& r) {
         r.EndMarkerOn(), r.StartMarkerOn(), r.SetVertexMarkers(true, true, true), r.SetMarkerScale(1e5);
       }},
  };
  for (const Case& c : cases) {
    Bound b;
    c.setup(b.r);
    const auto t0 = clock::now();
    b.r.DrawPolyline(far_line, 3, nullptr);
    cHitTest hit;
    b.r.DrawPolyline(kLine, 4, &hit);
    EXPECT_LT(std::chrono::duration<double>(clock::now() - t0).count(), 2.0) << c.name;
  }
  // The outline of a 360-pixel stroke dashed in billionths: some hundred
  // thousand pieces crossing the surface, drawn over each other and into a
  // hit mask (seconds before the outlines' cost had a bound).
  for (const bool aa : {true, false}) {
    Bound b(64, 48);
    b.r.SetAntiAliasing(aa);
    b.r.SetPenWidth(360);
    b.r.AddDash(1e-9, 1e-9);
    b.r.SetPenOutline(true);
    cHitTest hit;
    const auto t0 = clock::now();
    b.r.DrawCircle(&hit, 6, 20.25, 45);
    EXPECT_LT(std::chrono::duration<double>(clock::now() - t0).count(), 2.0) << aa;
    EXPECT_NE(b.Bytes(), Bound(64, 48).Bytes()) << aa;
  }
  // Lines longer than AGG's outline arithmetic takes (some 2,900 px) are
  // drawn in pieces: outlines, aliased outlines and a pattern pen.
  for (int kind = 0; kind < 3; ++kind) {
    Bound wide(3200, 40);
    if (kind == 0) wide.r.SetPenOutline(true);
    if (kind == 1) wide.r.SetAntiAliasing(false), wide.r.SetPenRenderMode(4);
    if (kind == 2) wide.r.SetPenPatternCallback(stripes, nullptr, 6, 5);
    const double across[] = {5, 5, 3190, 30, 5, 35};
    cHitTest hit;
    wide.r.DrawPolyline(across, 3, &hit);
    EXPECT_TRUE(wide.Pixel(1600, 17) != kBg || wide.Pixel(1600, 18) != kBg) << kind;
    EXPECT_GT(hit.HitTest(3000, 28.5), 0) << kind;
  }
  // A curve through an infinite, enormous or NaN point, placed at a draw
  // position: refused
  // before its bounds are flattened.
  for (int kind = 0; kind < 3; ++kind) {
    Bound c;
    cPath path;
    path.MoveTo(3, 3);
    if (kind == 0) path.Curve4(20, 1, 0, -std::numeric_limits<double>::infinity(), -90, 40);
    if (kind == 1) path.Curve3(std::numeric_limits<double>::max(), 1, -std::numeric_limits<double>::max(), 8);
    if (kind == 2) path.Curve4(39.75, 20.25, 20.25, std::nan(""), std::nan(""), std::nan(""));
    const auto t0 = clock::now();
    c.r.DrawPath(&path, nullptr, 5, 5);
    EXPECT_LT(std::chrono::duration<double>(clock::now() - t0).count(), 2.0);
    EXPECT_EQ(c.Bytes(), Bound().Bytes());
  }
  // Setters keep their values on non-finite input.
  Bound b;
  b.r.SetDashStart(2);
  b.r.SetDashStart(std::nan(""));
  b.r.AddDash(std::numeric_limits<double>::infinity(), 1);
  b.r.SetMarkerScale(std::nan(""));
  EXPECT_EQ(b.r.Pen().dash_start, 2);
  EXPECT_TRUE(b.r.Pen().dashes.empty());
  EXPECT_FALSE(b.r.IsMarkerScale());
}

}  // namespace
