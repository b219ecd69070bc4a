// Gradient painting: fills and pens against raw AGG gradient pipelines, the
// frame geometry, spreads, transformations, layers and hostile gradients.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "qlm_gradient.h"
#include "qlm_renderer_engine.h"
#include "renderer_support.h"

namespace {

using testenv::pixel_argb;
using testenv::RendererTest;

class cGradientProbe : public cRendererSurface {
 public:
  void Draw(agg::path_storage& p, uint8_t mode = 1, cHitTest* hit = nullptr, bool draw = true) {
    SetCurrentPath(&p, 0, 0);
    RenderPath(mode, hit, draw, true, nullptr);
    SetCurrentPath(nullptr, 0, 0);
  }
};

agg::path_storage rect(double x1, double y1, double x2, double y2) {
  agg::path_storage p;
  p.move_to(x1, y1);
  p.line_to(x2, y1);
  p.line_to(x2, y2);
  p.line_to(x1, y2);
  p.close_polygon();
  return p;
}

struct Canvas {
  explicit Canvas(int w = 64, int h = 64, uint32_t bg = 0xFF000000u)
      : bitmap(testenv::solid_bitmap(w, h, cnBitmap32BGRA, bg)) {
    EXPECT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_TRUE(r.AttachSurface(&surface));
    r.PenOff();
  }
  ~Canvas() { r.DetachSurface(); }
  std::vector<uint8_t> Bytes() const {
    return std::vector<uint8_t>(bitmap->Data(), bitmap->Data() + int64_t(bitmap->Stride()) * bitmap->Height());
  }
  int Red(int x, int y) const { return int(pixel_argb(*bitmap, x, y) >> 16 & 0xFF); }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cGradientProbe r;
};

// Black to red, opaque.
template <class G>
void black_to_red(G& g) {
  g.AddStopRGBA(0, 0, 0, 255, 0.0);
  g.AddStopRGBA(255, 0, 0, 255, 1.0);
}

// The table's last entry: AGG's table stops one step short of the last
// stop (253 for a ramp to 255 over 256 entries).
int last_red(cGradient& g) { return (*g.GetColorTable())[g.GetMaxColors() - 1].r; }

// The raw AGG twin of a gradient fill: the shape over a black BGRA bitmap,
// device pixels mapped by the parallelogram of the box onto (rx1, ry1)-(rx2,
// ry2), AGG's span_gradient with its 256-entry table.
template <class GradientF>
std::vector<uint8_t> raw_gradient(agg::path_storage shape, const double* box, double rx1, double ry1, double rx2,
                                  double ry2, GradientF& function, double d1, double d2) {
  auto bm = testenv::solid_bitmap(64, 64, cnBitmap32BGRA, 0xFF000000u);
  agg::rendering_buffer rb(bm->Data(), 64, 64, bm->Stride());
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  const double parl[6] = {box[0], box[1], box[2], box[1], box[2], box[3]};
  agg::trans_affine mtx(parl, rx1, ry1, rx2, ry2);
  agg::span_interpolator_linear<> interp(mtx);
  agg::gradient_lut<agg::color_interpolator<agg::rgba8>, 256> lut;
  lut.add_color(0.0, agg::rgba8(0, 0, 0, 255));
  lut.add_color(1.0, agg::rgba8(255, 0, 0, 255));
  lut.build_lut();
  using span_t = agg::span_gradient<agg::rgba8, agg::span_interpolator_linear<>, GradientF, decltype(lut)>;
  span_t sg(interp, function, lut, d1, d2);
  agg::span_allocator<agg::rgba8> alloc;
  agg::rasterizer_scanline_aa<> ras;
  agg::scanline_u8 sl;
  ras.add_path(shape);
  agg::render_scanlines_aa(ras, sl, base, alloc, sg);
  return std::vector<uint8_t>(bm->Data(), bm->Data() + int64_t(bm->Stride()) * 64);
}

class GradientPaintTest : public RendererTest {};

TEST_F(GradientPaintTest, FillsEqualRawAggPipelines) {
  const double box[4] = {10.25, 20.5, 50.75, 44.0};
  agg::path_storage shape = rect(box[0], box[1], box[2], box[3]);
  const double w = box[2] - box[0], h = box[3] - box[1];
  {
    // Linear y, fitted: the frame (w, h) scaled by (w, h) / d2.
    Canvas c;
    cGradientLinearY g(0, 100);
    black_to_red(g);
    c.r.SetFillGradient(&g);
    c.r.Draw(shape);
    agg::gradient_y fy;
    EXPECT_EQ(c.Bytes(), raw_gradient(shape, box, 0, 0, w * 100 / w, h * 100 / h, fy, 0, 100));
  }
  {
    // Radial focus, fitted about the centre: (0, 0)-(w, h) maps to
    // (-d2, -d2)-(d2, d2).
    Canvas c;
    cGradientRadialFocus g(false, 80, 20, -10);
    black_to_red(g);
    g.SetD1(10);
    g.SetD2(90);
    c.r.SetFillGradient(&g);
    c.r.Draw(shape);
    agg::gradient_radial_focus fr(80, 20, -10);
    const double sx = (w / 2) / 90, sy = (h / 2) / 90;
    EXPECT_EQ(c.Bytes(),
              raw_gradient(shape, box, -(w / 2) / sx, -(h / 2) / sy, (w / 2) / sx, (h / 2) / sy, fr, 10, 90));
  }
}

// Linear gradients whose axis stays on a device axis are painted a row or a
// column of colours at a time; they must draw what the pixel-by-pixel
// painter draws, over sizes, sub-pixel placements, opaque and translucent
// stops, gradient and master opacities, spreads, both kinds, and with and
// without a clip rectangle that cuts the spans written whole. Allowed
// difference: none (each scan line's colour, and each span's colours, are
// the values the general painter reads).
TEST_F(GradientPaintTest, AxisPainterDrawsWhatThePixelPainterDraws) {
  struct Box {
    double x1, y1, x2, y2;
  };
  const Box boxes[] = {{0, 0, 64, 64},       {3, 4, 10, 9},          {10.25, 20.5, 50.75, 44},
                       {0.5, 0.5, 1.5, 1.5}, {-8.3, 30.1, 80, 31.9}, {5.7, 2.2, 61.1, 60.6}};
  struct Paint {
    uint32_t from, middle, to;  // 0xAARRGGBB
    uint8_t opacity, master;
  };
  const Paint paints[] = {{0xFF3060C0u, 0xFFFFFFFFu, 0xFF102040u, 255, 255},
                          {0x80FF0000u, 0x4000FF00u, 0xFF0000FFu, 255, 255},
                          {0xFF3060C0u, 0xFFFFFFFFu, 0xFF102040u, 100, 255},
                          {0xFF000000u, 0xFFFF8000u, 0x00FFFFFFu, 255, 150}};
  for (int kind = 1; kind <= 2; ++kind)
    for (uint8_t spread = 0; spread <= 2; ++spread)
      for (const bool fit : {true, false})
        for (const bool clip : {false, true})
          for (const Box& b : boxes)
            for (const Paint& paint : paints) {
              SCOPED_TRACE(testing::Message() << "kind " << kind << " spread " << int(spread) << " fit " << fit
                                              << " clip " << clip << " box " << b.x1 << "," << b.y1 << " " << b.x2
                                              << "," << b.y2 << " stops " << std::hex << paint.from << " opacity "
                                              << std::dec << int(paint.opacity) << " master " << int(paint.master));
              auto draw = [&](bool axis_painter) {
                gradient_axis_painter_enable(axis_painter);
                Canvas c(64, 64, 0xFF204060u);
                cGradientLinearX gx(0, 40);
                cGradientLinearY gy(0, 40);
                cGradientColorRamp& g = kind == 1 ? static_cast<cGradientColorRamp&>(gx) : gy;
                g.SetOpacity(paint.opacity);
                g.AddStopARGB(paint.from, 0.0);
                g.AddStopARGB(paint.middle, 0.5);
                g.AddStopARGB(paint.to, 1.0);
                g.SetSpread(spread);
                g.SetFitToBounds(fit);
                g.SetD1(5);
                c.r.SetMasterAlpha(paint.master);
                c.r.SetFillGradient(&g);
                if (clip) c.r.ClipRect(7, 5, 41, 50);
                agg::path_storage shape = rect(b.x1, b.y1, b.x2, b.y2);
                c.r.Draw(shape);
                if (clip) c.r.ResetClipping(true);
                c.r.ResetFillGradient(false);
                return c.Bytes();
              };
              const std::vector<uint8_t> general = draw(false);
              const std::vector<uint8_t> fast = draw(true);
              gradient_axis_painter_enable(true);
              EXPECT_EQ(testenv::byte_difference(general, fast).worst, 0);
            }
}

// A rectangle on the device axes is painted from its rows without the
// rasteriser; it must draw, and register in the hit mask, what the
// rasteriser and the pixel-by-pixel painter give: whole-pixel and
// fractional sides, both sides in one pixel, sides cut by the surface, a
// clip rectangle or a filter layer, either direction round (the rasteriser
// rounds edge pixels by it), every gradient kind (x, y, diagonal, radial),
// 2, 3 and 8 stops, translucent stops, master alpha and gamma. Allowed
// difference: none.
TEST_F(GradientPaintTest, BoxPainterDrawsWhatTheRasteriserDraws) {
  struct Box {
    double x1, y1, x2, y2;
  };
  const Box boxes[] = {
      {0, 0, 64, 64},        {3, 4, 10, 9},          {10.25, 20.5, 50.75, 44.3}, {5.1, 5.2, 5.7, 9.9},
      {5.1, 7.3, 30.6, 7.8}, {-8.3, 30.1, 80, 31.9}, {-20, -20, -5, 10},         {0.004, 0.002, 63.998, 10.001},
      {20.5, -3, 40.5, 100}, {7.0, 6.6, 39.37, 50.2}};
  struct Paint {
    std::vector<uint32_t> stops;  // 0xAARRGGBB, evenly spread
    uint8_t master;
    double gamma;
    double d2 = 40;  // the colour range's end (a wide one strains the table index)
  };
  const Paint paints[] = {
      {{0xFF3060C0u, 0xFFFFFFFFu}, 255, 1.0},
      {{0xFF3060C0u, 0xFFFFFFFFu, 0xFF102040u}, 255, 1.0},
      {{0x80FF0000u, 0x4000FF00u, 0xFF0000FFu}, 255, 1.0},
      {{0xFF000000u, 0xFFFF8000u, 0x00FFFFFFu}, 150, 1.0},
      {{0xFF101010u, 0xC0FF0000u, 0xFF00FF00u, 0x200000FFu, 0xFFFFFF00u, 0xFF00FFFFu, 0x80FF00FFu, 0xFFFFFFFFu},
       255,
       1.0},
      {{0xFF3060C0u, 0xFFFFFFFFu, 0xFF102040u}, 200, 1.8},
      {{0xFF3060C0u, 0xFFFFFFFFu, 0xFF102040u}, 255, 1.0, 5.0e6}};
  enum class Kind { along_x, along_y, diagonal, radial };
  enum class Frame { surface, clip, layer };
  for (const Kind kind : {Kind::along_x, Kind::along_y, Kind::diagonal, Kind::radial})
    for (const Frame frame : {Frame::surface, Frame::clip, Frame::layer})
      for (const bool reversed : {false, true})
        for (const Box& b : boxes)
          for (const Paint& paint : paints) {
            SCOPED_TRACE(testing::Message()
                         << "kind " << int(kind) << " frame " << int(frame) << " reversed " << reversed << " box "
                         << b.x1 << "," << b.y1 << " " << b.x2 << "," << b.y2 << " stops " << paint.stops.size()
                         << " first " << std::hex << paint.stops[0] << std::dec << " master " << int(paint.master)
                         << " gamma " << paint.gamma << " d2 " << paint.d2);
            struct Drawn {
              std::vector<uint8_t> bytes;
              std::vector<uint8_t> hits;
            };
            auto draw = [&](bool box_path, bool axis_painter) {
              axis_box_path_enable(box_path);
              gradient_axis_painter_enable(axis_painter);
              Canvas c(64, 64, 0xFF204060u);
              cGradientLinearX gx(0, paint.d2);
              cGradientLinearY gy(0, paint.d2);
              cGradientRadialFocus gr(false, 30, 5, -4);
              cGradientColorRamp& g = kind == Kind::along_y  ? static_cast<cGradientColorRamp&>(gy)
                                      : kind == Kind::radial ? static_cast<cGradientColorRamp&>(gr)
                                                             : gx;
              for (size_t i = 0; i < paint.stops.size(); ++i)
                g.AddStopARGB(paint.stops[i], double(i) / double(paint.stops.size() - 1));
              if (kind == Kind::diagonal) g.Rotate(30);
              c.r.SetMasterAlpha(paint.master);
              c.r.SetGamma(paint.gamma);
              c.r.SetFillGradient(&g);
              int calls = 0;
              if (frame == Frame::clip) c.r.ClipRect(7, 5, 41, 50);
              if (frame == Frame::layer)
                c.r.SetFilterCallback([](cBitmap*, bool&, void* user) { ++*static_cast<int*>(user); }, 2, &calls);
              agg::path_storage shape;
              if (!reversed) {
                shape = rect(b.x1, b.y1, b.x2, b.y2);
              } else {
                shape.move_to(b.x1, b.y1);
                shape.line_to(b.x1, b.y2);
                shape.line_to(b.x2, b.y2);
                shape.line_to(b.x2, b.y1);
                shape.close_polygon();
              }
              cHitTest hit;
              c.r.Draw(shape, 1, &hit);
              if (frame == Frame::clip) c.r.ResetClipping(true);
              c.r.ResetFillGradient(false);
              Drawn d{c.Bytes(), {}};
              for (int y = -2; y < 66; ++y)
                for (int x = -2; x < 66; ++x) d.hits.push_back(hit.HitTestInt(x, y));
              return d;
            };
            const Drawn general = draw(false, false);
            const Drawn boxed = draw(true, false);
            const Drawn fast = draw(true, true);
            axis_box_path_enable(true);
            gradient_axis_painter_enable(true);
            EXPECT_EQ(testenv::byte_difference(general.bytes, boxed.bytes).worst, 0);
            EXPECT_EQ(testenv::byte_difference(general.bytes, fast.bytes).worst, 0);
            EXPECT_EQ(general.hits, fast.hits);
          }
}

TEST_F(GradientPaintTest, LinearFrameFitAndPad) {
  // Fitted, relative: the whole 200-wide rectangle spans the range.
  {
    Canvas c(220, 4);
    cGradientLinearX g(0, 100);
    black_to_red(g);
    c.r.SetFillGradient(&g);
    agg::path_storage p = rect(10, 0, 210, 4);
    c.r.Draw(p);
    EXPECT_LE(c.Red(10, 1), 1);
    EXPECT_EQ(last_red(g), 253);
    EXPECT_NEAR(c.Red(209, 1), last_red(g), 1);
    for (int x = 11; x < 210; ++x) EXPECT_GE(c.Red(x, 1), c.Red(x - 1, 1)) << x;
    EXPECT_NEAR(c.Red(110, 1), 128, 2);
  }
  // Not fitted: 100 units from the left edge, then the end colour.
  {
    Canvas c(220, 4);
    cGradientLinearX g(0, 100);
    black_to_red(g);
    g.SetFitToBounds(false);
    c.r.SetFillGradient(&g);
    agg::path_storage p = rect(10, 0, 210, 4);
    c.r.Draw(p);
    EXPECT_NEAR(c.Red(60, 1), 128, 2);
    for (int x = 110; x < 210; ++x) EXPECT_EQ(c.Red(x, 1), last_red(g)) << x;
    EXPECT_LT(c.Red(106, 1), last_red(g));
  }
  // Not relative: the frame is the surface, whatever the shape.
  {
    Canvas c(100, 4);
    cGradientLinearX g(0, 100);
    black_to_red(g);
    g.SetRelative(false);
    c.r.SetFillGradient(&g);
    agg::path_storage p = rect(50, 0, 100, 4);
    c.r.Draw(p);
    EXPECT_NEAR(c.Red(50, 1), 128, 2);
  }
}

TEST_F(GradientPaintTest, RadialFocusIsCentredOnTheBox) {
  // The candy face: radius 100, d1 40, relative and fitted.
  Canvas c(140, 80);
  cGradientRadialFocus g(true, 100, 0, 0);
  black_to_red(g);
  g.SetD1(40);
  c.r.SetFillGradient(&g);
  agg::path_storage p = rect(20, 10, 120, 60);
  c.r.Draw(p);
  EXPECT_EQ(c.Red(69, 34), 0);
  EXPECT_EQ(c.Red(70, 35), 0);
  EXPECT_GE(c.Red(20, 35), 245);  // the pixel centre lies half a pixel inside
  for (int k = 0; k < 50; ++k) {
    EXPECT_NEAR(c.Red(69 - k, 35), c.Red(70 + k, 35), 1) << k;
    if (k < 25) {
      EXPECT_NEAR(c.Red(70, 34 - k), c.Red(70, 35 + k), 1) << k;
    }
  }
}

TEST_F(GradientPaintTest, SpreadsOnAStrip) {
  auto strip = [](uint8_t spread, double d2) {
    auto c = std::make_unique<Canvas>(60, 1);
    cGradientLinearX g(0, d2);
    black_to_red(g);
    g.SetFitToBounds(false);
    g.SetSpread(spread);
    c->r.SetFillGradient(&g);
    agg::path_storage p = rect(0, 0, 60, 1);
    c->r.Draw(p);
    std::vector<int> reds;
    for (int x = 0; x < 60; ++x) reds.push_back(c->Red(x, 0));
    c->r.ResetFillGradient(false);
    return reds;
  };
  const std::vector<int> pad = strip(0, 10), repeat = strip(1, 10), reflect = strip(2, 10);
  for (int x = 0; x < 10; ++x) {
    EXPECT_EQ(repeat[x], pad[x]);
    EXPECT_EQ(reflect[x], pad[x]);
  }
  for (int x = 10; x < 60; ++x) {
    EXPECT_EQ(pad[x], 253) << x;
    EXPECT_EQ(repeat[x], repeat[x - 10]) << x;
  }
  for (int x = 0; x < 20; ++x) EXPECT_EQ(reflect[x + 20], reflect[x]) << x;
  // Pixel centres x + 0.5 mirror about 10: pixel 10 + k shows 9 - k.
  for (int k = 0; k < 10; ++k) EXPECT_NEAR(reflect[10 + k], reflect[9 - k], 1) << k;
  // A range below 1/16 unit cannot repeat or reflect: both pad.
  for (double d2 : {0.0, 0.01}) {
    for (uint8_t spread : {1, 2}) EXPECT_EQ(strip(spread, d2), strip(0, d2)) << d2 << " " << int(spread);
  }
}

TEST_F(GradientPaintTest, RotationTurnsTheFrameWithTheShape) {
  auto paint = [](bool rotated) {
    auto c = std::make_unique<Canvas>(64, 64);
    if (rotated) {
      c->r.Rotate(90);
      c->r.Translate(64, 0);
    }
    cGradientLinearX g(0, 100);
    black_to_red(g);
    c->r.SetFillGradient(&g);
    agg::path_storage p = rect(8, 16, 56, 40);
    c->r.Draw(p);
    c->r.ResetFillGradient(false);
    return c;
  };
  auto plain = paint(false), turned = paint(true);
  // (x, y) -> (64 - y, x): pixel (i, j) lands on (63 - j, i).
  for (int j = 0; j < 64; ++j)
    for (int i = 0; i < 64; ++i) ASSERT_NEAR(plain->Red(i, j), turned->Red(63 - j, i), 1) << i << "," << j;
}

TEST_F(GradientPaintTest, RenderModeTwoPaintsTheFillColour) {
  Canvas a, b;
  cGradientLinearY g(0, 100);
  black_to_red(g);
  agg::path_storage p = rect(5, 5, 40, 30);
  a.r.SetFillColor(renderer_color(10, 200, 30, 255));
  a.r.SetFillGradient(&g);
  a.r.SetFillRenderMode(2);
  a.r.Draw(p);
  b.r.SetFillColor(renderer_color(10, 200, 30, 255));
  b.r.Draw(p);
  EXPECT_EQ(a.Bytes(), b.Bytes());
  a.r.ResetFillGradient(false);
}

TEST_F(GradientPaintTest, PenGradientsPaintAndRegister) {
  Canvas c(100, 20);
  cGradientLinearX g(0, 100);
  black_to_red(g);
  c.r.PenOn();
  c.r.SetPenWidth(10);
  c.r.SetPenGradient(&g);
  cHitTest hit;
  agg::path_storage line;
  line.move_to(10, 10);
  line.line_to(90, 10);
  c.r.Draw(line, 2, &hit);
  // The frame is the stroke's box (10, 5)-(90, 15).
  EXPECT_LE(c.Red(10, 10), 2);
  EXPECT_GE(c.Red(89, 10), 250);
  EXPECT_NEAR(c.Red(50, 10), 128, 2);
  EXPECT_EQ(c.Red(50, 2), 0);
  EXPECT_NE(hit.HitTest(50, 10), 0);
  EXPECT_EQ(hit.HitTest(50, 2), 0);
  // A pen with its own even-odd rule: where two strokes cross is a hole, in
  // the picture and in the hit mask alike.
  {
    Canvas e(100, 60);
    e.r.PenOn();
    e.r.SetPenWidth(10);
    e.r.SetPenEvenOdd(true);
    e.r.SetPenGradient(&g);
    cHitTest cross_hit;
    agg::path_storage cross;
    cross.move_to(10, 30);
    cross.line_to(90, 30);
    cross.move_to(50, 10);
    cross.line_to(50, 50);
    e.r.Draw(cross, 2, &cross_hit);
    EXPECT_EQ(pixel_argb(*e.bitmap, 50, 30), 0xFF000000u);
    EXPECT_EQ(cross_hit.HitTest(50, 30), 0);
    EXPECT_NE(cross_hit.HitTest(30, 30), 0);
    EXPECT_NE(pixel_argb(*e.bitmap, 70, 30), 0xFF000000u);
    e.r.ResetPenGradient(false);
  }
  // The pen colour takes over again after SetPenColor.
  c.r.SetPenColor(renderer_color(0, 255, 0, 255));
  c.r.Draw(line, 2);
  EXPECT_EQ(pixel_argb(*c.bitmap, 50, 10), 0xFF00FF00u);
  c.r.ResetPenGradient(false);
}

TEST_F(GradientPaintTest, ClipLayerFilterLayerAndHits) {
  cGradientLinearY g(0, 100);
  black_to_red(g);
  agg::path_storage p = rect(4, 4, 60, 60);
  Canvas plain, clipped, layered;
  for (Canvas* c : {&plain, &clipped, &layered}) c->r.SetFillGradient(&g);
  plain.r.Draw(p);
  clipped.r.ClipRect(0, 0, 32, 64);
  cHitTest hit;
  clipped.r.Draw(p, 1, &hit);
  clipped.r.ResetClipping(true);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      ASSERT_EQ(pixel_argb(*clipped.bitmap, x, y), x < 32 ? pixel_argb(*plain.bitmap, x, y) : 0xFF000000u)
          << x << "," << y;
  EXPECT_NE(hit.HitTest(20, 40), 0);
  EXPECT_EQ(hit.HitTest(40, 40), 0);
  // An identity filter gives the picture drawn without a layer.
  int calls = 0;
  layered.r.SetFilterCallback([](cBitmap*, bool&, void* user) { ++*static_cast<int*>(user); }, 2, &calls);
  layered.r.Draw(p);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(layered.Bytes(), plain.Bytes());
  // draw false paints nothing but still registers.
  Canvas unpainted;
  unpainted.r.SetFillGradient(&g);
  cHitTest hit2;
  unpainted.r.Draw(p, 1, &hit2, false);
  EXPECT_EQ(pixel_argb(*unpainted.bitmap, 30, 50), 0xFF000000u);
  EXPECT_NE(hit2.HitTest(30, 50), 0);
  for (Canvas* c : {&plain, &clipped, &layered, &unpainted}) {
    c->r.ResetFillGradient(false);
  }
}

TEST_F(GradientPaintTest, DistortionsAndPerspectivePaint) {
  cGradientRadialFocus g(false, 100, 0, 0);
  black_to_red(g);
  agg::path_storage p = rect(4, 4, 60, 60);
  Canvas plain, waved, persp;
  for (Canvas* c : {&plain, &waved, &persp}) c->r.SetFillGradient(&g);
  plain.r.Draw(p);
  waved.r.SetDistortionCenter(50, 50);
  waved.r.SetDistortionAmplitude(20);
  waved.r.WaveOn();
  waved.r.Draw(p);
  EXPECT_NE(waved.Bytes(), plain.Bytes());
  // A perspective stage that changes nothing gives the same picture (±1).
  const double quad[8] = {0, 0, 64, 0, 64, 64, 0, 64};
  persp.r.AddPerspective(quad, 0, 0, 64, 64);
  persp.r.Draw(p);
  for (int y = 4; y < 60; ++y)
    for (int x = 4; x < 60; ++x) ASSERT_NEAR(persp.Red(x, y), plain.Red(x, y), 1) << x << "," << y;
  for (Canvas* c : {&plain, &waved, &persp}) c->r.ResetFillGradient(false);
}

TEST_F(GradientPaintTest, HostileGradientsPaintNothingOrStayInRange) {
  static const double nan = std::numeric_limits<double>::quiet_NaN();
  struct {
    const char* name;
    void (*setup)(cGradientRadialFocus&);
    bool paints;
  } cases[] = {
      {"scale 0", [](cGradientRadialFocus& g) { g.Scale(0, 1); }, false},
      {"matrix NaN", [](cGradientRadialFocus& g) { g.Translate(nan, 0); }, false},
      {"tiny scale", [](cGradientRadialFocus& g) { g.Scale(1e-300, 1e-300); }, true},
      {"huge scale", [](cGradientRadialFocus& g) { g.Scale(1e300, 1e300); }, true},
      {"huge range", [](cGradientRadialFocus& g) { g.SetD2(1e300); }, true},
      {"d2 0",
       [](cGradientRadialFocus& g) {
         g.SetD2(0);
         g.SetSpread(2);
       },
       true},
      {"no stops", [](cGradientRadialFocus& g) { g.Clear(); }, true},
  };
  for (const auto& c : cases) {
    Canvas cv;
    cGradientRadialFocus g(false, 100, 99.9, 0);
    black_to_red(g);
    c.setup(g);
    cv.r.SetFillGradient(&g);
    agg::path_storage p = rect(4, 4, 60, 60);
    cv.r.Draw(p);
    const bool painted = cv.Bytes() != Canvas().Bytes();
    if (!c.paints) {
      EXPECT_FALSE(painted) << c.name;
    }
    cv.r.ResetFillGradient(false);
  }
  // Radial geometry beyond any sane size, a zero radius, a non-finite one.
  for (double r : {1e300, 0.0, nan}) {
    Canvas cv;
    cGradientRadialFocus g(false, r, r, 0);
    black_to_red(g);
    cv.r.SetFillGradient(&g);
    agg::path_storage p = rect(4, 4, 60, 60);
    cv.r.Draw(p);
    cv.r.ResetFillGradient(false);
  }
  // An empty frame (a line filled) falls back to nothing painted.
  Canvas cv;
  cGradientLinearX g(0, 100);
  black_to_red(g);
  cv.r.SetFillGradient(&g);
  agg::path_storage flat = rect(4, 10, 60, 10);
  cv.r.Draw(flat);
  EXPECT_EQ(cv.Bytes(), Canvas().Bytes());
  cv.r.ResetFillGradient(false);
}

TEST_F(GradientPaintTest, BorrowedGradientResetBeforeFree) {
  // The order button painters follow: draw, reset, free. Reapplying and
  // drawing afterwards never reach the freed gradient.
  Canvas c;
  agg::path_storage p = rect(4, 4, 60, 60);
  {
    auto g = std::make_unique<cGradientLinearY>(0, 100);
    black_to_red(*g);
    c.r.SetFillGradient(g.get());
    c.r.SetPenGradient(g.get());
    c.r.Draw(p);
    c.r.ResetFillGradient(false);
    c.r.ResetPenGradient(false);
  }
  c.r.ReapplyFillGradient();
  c.r.ReapplyPenGradient();
  c.r.PenOn();
  c.r.Draw(p, 3);
  EXPECT_EQ(c.r.GetFillGradient(), nullptr);
}

}  // namespace
