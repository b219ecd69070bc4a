// The fill group: distortion modes and functions, pattern tiles from a
// callback and from a bitmap, rectangles painted as boxes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "qlm_renderer_engine.h"
#include "renderer_support.h"

namespace {

using testenv::RendererTest;

class FillTest : public RendererTest {};

TEST_F(FillTest, WaveAndSwirlModes) {
  struct {
    std::string ops;  // W/w wave on/off, S/s swirl on/off, D/d distortions on/off
    int wave, swirl;
    bool on;
  } cases[] = {
      {"W", 1, 0, true},   {"WS", 1, 2, true},   {"WSw", 0, 1, true},  {"SW", 2, 1, true}, {"SWs", 1, 0, true},
      {"Ww", 0, 0, false}, {"WSd", 1, 2, false}, {"WSdD", 1, 2, true}, {"D", 0, 0, false},
  };
  for (const auto& c : cases) {
    cRendererSurface r;
    for (char op : c.ops) switch (op) {
        case 'W': r.WaveOn(); break;
        case 'w': r.WaveOff(); break;
        case 'S': r.SwirlOn(); break;
        case 's': r.SwirlOff(); break;
        case 'D': r.DistortionsOn(); break;
        case 'd': r.DistortionsOff(); break;
      }
    EXPECT_EQ(r.GetWaveMode(), c.wave) << c.ops;
    EXPECT_EQ(r.GetSwirlMode(), c.swirl) << c.ops;
    EXPECT_EQ(r.IsDistortions(), c.on) << c.ops;
  }
  cRendererSurface r;
  r.SetDistortionAmplitude(0);
  r.SetDistortionPeriod(0);
  EXPECT_EQ(r.GetDistortionAmplitude(), 0.01);
  EXPECT_EQ(r.GetDistortionPeriod(), 0.01);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  r.SetDistortionAmplitude(nan);
  r.SetDistortionPeriod(std::numeric_limits<double>::infinity());
  r.SetDistortionCenter(nan, 1);
  r.SetDistortionPhase(nan);
  EXPECT_EQ(r.GetDistortionAmplitude(), 0.01);
  EXPECT_EQ(r.GetDistortionPeriod(), 0.01);
  EXPECT_EQ(r.GetDistortionCenterY(), 0);
  EXPECT_EQ(r.GetDistortionPhase(), 0);
}

TEST_F(FillTest, DistortionFunctions) {
  qlm_agg::distortion_params p;
  p.cx = 10;
  p.cy = 20;
  p.period = 1.0;
  p.inv_amplitude = 1.0 / 10.0;
  p.phase = 0.75;
  // The wave leaves the centre's neighbourhood alone.
  double x = 10.5, y = 20.5;
  qlm_agg::wave_point(p, x, y);
  EXPECT_EQ(x, 10.5);
  EXPECT_EQ(y, 20.5);
  // Further out it moves along the ray: a = cos(d / 16 - phase) x 10 / d + 1.
  x = 13, y = 24;  // d = 5
  qlm_agg::wave_point(p, x, y);
  const double a = std::cos(5.0 / 16 - 0.75) * 10 / 5 + 1;
  EXPECT_DOUBLE_EQ(x, 10 + 3 * a);
  EXPECT_DOUBLE_EQ(y, 20 + 4 * a);
  // The swirl turns points at distance 100 by -phase / 25 only.
  x = 110, y = 20;
  qlm_agg::swirl_point(p, x, y);
  EXPECT_NEAR(x, 10 + 100 * std::cos(-0.03), 1e-9);
  EXPECT_NEAR(y, 20 + 100 * std::sin(-0.03), 1e-9);

  // The composed kinds apply in their order, in 1/256 units.
  struct {
    qlm_agg::distortion_kind kind;
    bool wave_first;
  } kinds[] = {{qlm_agg::distortion_kind::wave_swirl, true}, {qlm_agg::distortion_kind::swirl_wave, false}};
  for (const auto& k : kinds) {
    qlm_agg::distortion_dispatch d;
    d.kind = k.kind;
    d.params = p;
    int ix = 40 * 256, iy = 50 * 256;
    d.calculate(&ix, &iy);
    double ex = 40, ey = 50;
    if (k.wave_first) {
      qlm_agg::wave_point(p, ex, ey);
      qlm_agg::swirl_point(p, ex, ey);
    } else {
      qlm_agg::swirl_point(p, ex, ey);
      qlm_agg::wave_point(p, ex, ey);
    }
    EXPECT_EQ(ix, int(ex * 256));
    EXPECT_EQ(iy, int(ey * 256));
  }
  // Results far away or undefined are held inside the integer range.
  qlm_agg::distortion_dispatch far;
  far.kind = qlm_agg::distortion_kind::wave;
  far.params = p;
  far.params.inv_amplitude = 1e-300;
  int ix = 2000000000, iy = -2000000000;
  far.calculate(&ix, &iy);
  EXPECT_LE(std::abs(ix), 1073741824);
  far.kind = qlm_agg::distortion_kind::swirl;
  far.params.cx = std::numeric_limits<double>::quiet_NaN();
  far.calculate(&ix, &iy);  // NaN results become the lowest value, never UB
  EXPECT_EQ(ix, -1073741824);
  EXPECT_EQ(iy, -1073741824);
}

TEST_F(FillTest, PatternFromACallback) {
  cRendererSurface r;
  int calls = 0;
  struct Ctx {
    int* calls;
  } ctx{&calls};
  auto paint = [](cRenderer* nested, void* user) {
    ++*static_cast<Ctx*>(user)->calls;
    nested->ClearRGBA(10, 20, 30, 40);
  };
  r.SetFillPatternCallback(0, 0, paint, &ctx);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(r.IsFillPattern());
  EXPECT_EQ(r.GetFillPatternWidth(), 1);
  EXPECT_EQ(r.GetFillPatternHeight(), 1);

  r.SetFillPatternCallback(3, 2, paint, &ctx);
  EXPECT_EQ(r.GetFillPatternWidth(), 3);
  auto fill = r.GetFill();
  ASSERT_NE(fill->tile, nullptr);
  const uint8_t* px = fill->tile->row_ptr(1) + 2 * 4;
  EXPECT_EQ(px[0], 10);
  EXPECT_EQ(px[3], 40);

  // A failure leaves the fill off until FillOn brings back the kind before.
  r.FillSolid();
  mem_alloc_fail_at(1, true);
  r.SetFillPatternCallback(64, 64, paint, &ctx);
  mem_alloc_fail_at(0);
  EXPECT_FALSE(r.IsFillOn());
  r.FillOn();
  EXPECT_TRUE(r.IsFillSolid());
  r.FillPatternOn();  // no valid pattern: nothing
  EXPECT_TRUE(r.IsFillSolid());
  // Hostile sizes fail the same way.
  r.SetFillPatternCallback(0xFFFFFFFFu, 0xFFFFFFFFu, paint, &ctx);
  EXPECT_FALSE(r.IsFillOn());
}

TEST_F(FillTest, PatternFromABitmap) {
  auto bitmap = testenv::make_pattern(4, 3, cnBitmap32BGRA);
  cRendererSurface r;
  r.SetFillPatternBitmap(bitmap.get(), 0, 0);  // its own size: an exact copy
  ASSERT_TRUE(r.IsFillPattern());
  EXPECT_EQ(r.GetFillPatternWidth(), 4);
  auto fill = r.GetFill();
  ASSERT_NE(fill->tile, nullptr);
  const uint8_t* px = fill->tile->row_ptr(2) + 3 * 4;
  EXPECT_EQ(color_rgba(px[0], px[1], px[2], px[3]), testenv::pixel_argb(*bitmap, 3, 2));

  // (0, 6) keeps the aspect: 8 x 6, a scaled tile (drawn as an image).
  r.FillSolid();
  r.SetFillPatternBitmap(bitmap.get(), 0, 6);
  EXPECT_TRUE(r.IsFillPattern());
  EXPECT_EQ(r.GetFillPatternWidth(), 8);
  EXPECT_EQ(r.GetFillPatternHeight(), 6);
  r.SetFillPatternBitmap(nullptr, 1, 1);
  EXPECT_TRUE(r.IsFillPattern());
  // A scaled tile wider than a surface may be (it is drawn on one of its
  // own) is refused before anything is made, and the pattern stays; a tile
  // of ten million pixels once wrapped AGG's 16-bit span lengths.
  r.SetFillPatternBitmap(bitmap.get(), 10000000, 16);
  EXPECT_TRUE(r.IsFillPattern());
  EXPECT_EQ(r.GetFillPatternWidth(), 8);
  r.SetFillPatternBitmap(bitmap.get(), 32767, 2);
  EXPECT_EQ(r.GetFillPatternWidth(), 32767);
  // SetFillColor switches back to solid.
  r.SetFillColor(renderer_color(1, 2, 3, 255));
  EXPECT_TRUE(r.IsFillSolid());
}

// Solid rectangles on the device axes are painted as boxes without the
// rasteriser; this sweep draws the same random scenes through the rasteriser
// and through the boxes and wants the same bytes and the same hit masks.
// Each scene: a surface of 1 to 70 x 1 to 50 pixels of random bytes, row
// steps with up to 12 bytes to spare, top-down or bottom-up, straight BGRA
// or another byte order; up to four rectangles at fractional or whole
// positions, inside, across and beyond the edges, some thinner than a
// pixel, either direction round, in random colours (transparent, faint,
// half, nearly and fully opaque); sometimes a translation, a scale, a clip
// rectangle, a filter layer, an update rectangle, a compositing operation,
// a gamma or a master alpha.
TEST_F(FillTest, RectanglesAsBoxesPaintWhatTheRasteriserPaints) {
  std::mt19937 rng(20261211);
  auto uniform = [&rng](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const uint8_t formats[] = {px32BGRA, px32BGRA, px32BGRA, px32RGBA, px32ARGB};
  const uint8_t alphas[] = {0, 1, 128, 200, 254, 255, 255};
  for (int scene = 0; scene < 600; ++scene) {
    const int w = pick(1, 70), h = pick(1, 50);
    const int32_t step = w * 4 + 4 * pick(0, 3);
    const bool top_down = pick(0, 3) != 0;
    const uint8_t format = formats[pick(0, 4)];
    std::vector<uint8_t> background(size_t(step) * size_t(h));
    for (uint8_t& b : background) b = uint8_t(pick(0, 255));
    struct Rect {
      double x1, y1, x2, y2;
      bool reversed;
      uint32_t colour;
    };
    std::vector<Rect> rects(size_t(pick(1, 4)));
    for (Rect& r : rects) {
      r.x1 = uniform(-8, w + 4);
      r.y1 = uniform(-8, h + 4);
      r.x2 = r.x1 + (pick(0, 4) == 0 ? uniform(0.01, 0.9) : uniform(0.5, w + 8));
      r.y2 = r.y1 + (pick(0, 4) == 0 ? uniform(0.01, 0.9) : uniform(0.5, h + 8));
      if (pick(0, 2) == 0)
        r.x1 = std::floor(r.x1), r.y1 = std::floor(r.y1), r.x2 = std::ceil(r.x2), r.y2 = std::ceil(r.y2);
      r.reversed = pick(0, 1) == 1;
      r.colour = uint32_t(alphas[pick(0, 6)]) << 24 | uint32_t(pick(0, 0xFFFFFF));
    }
    // 0 translate, 1 scale, 2 clip, 3 layer, 4 update rectangle, 5 compositing, else none
    const int frame = pick(0, 9);
    const uint8_t comp_op = uint8_t(pick(1, 28));
    const double gamma = pick(0, 5) == 0 ? uniform(0.5, 2.0) : 1.0;
    const uint32_t master = pick(0, 5) == 0 ? uint32_t(pick(0, 255)) : 255u;
    const double dx = uniform(-3, 3), dy = uniform(-3, 3);
    const int ux1 = pick(0, w - 1), uy1 = pick(0, h - 1), ux2 = pick(ux1 + 1, w), uy2 = pick(uy1 + 1, h);
    SCOPED_TRACE(testing::Message() << "scene " << scene << " size " << w << "x" << h << " step " << step
                                    << " top-down " << top_down << " format " << int(format) << " frame " << frame
                                    << " operation " << int(comp_op));
    struct Drawn {
      std::vector<uint8_t> bytes;
      std::vector<uint8_t> hits;
    };
    auto draw = [&](bool boxes) {
      axis_box_path_enable(boxes);
      Drawn d{background, {}};
      cSurfaceMemory surface;
      EXPECT_TRUE(surface.Attach(d.bytes.data(), w, h, step, format, top_down));
      cRendererSurface r;
      EXPECT_TRUE(r.AttachSurface(&surface));
      if (frame == 4) r.SetUpdateRect(ux1, uy1, ux2, uy2);
      r.PenOff();
      r.SetGamma(gamma);
      r.SetMasterAlpha(master);
      if (frame == 0) r.Translate(dx, dy);
      if (frame == 1) r.Scale(1.5, 0.75);
      if (frame == 2) r.ClipRect(w * 0.2, h * 0.3, w * 0.9 + 0.5, h * 0.7);
      if (frame == 3) r.SetFilterCallback([](cBitmap*, bool&, void*) {}, 2, nullptr);
      if (frame == 5) r.SetCompOp(comp_op);
      cHitTest hit;
      for (const Rect& rc : rects) {
        r.SetFillColorARGB(rc.colour);
        if (!rc.reversed) {
          r.DrawRectangle(&hit, rc.x1, rc.y1, rc.x2, rc.y2);
        } else {
          cPath path;
          path.MoveTo(rc.x1, rc.y1);
          path.LineTo(rc.x1, rc.y2);
          path.LineTo(rc.x2, rc.y2);
          path.LineTo(rc.x2, rc.y1);
          path.ClosePolygon();
          r.DrawPath(&path, &hit, 0, 0);
        }
      }
      if (frame == 2) r.ResetClipping(true);
      r.DetachSurface();
      for (int y = -1; y <= h; ++y)
        for (int x = -1; x <= w; ++x) d.hits.push_back(hit.HitTestInt(x, y));
      return d;
    };
    const Drawn general = draw(false);
    const Drawn boxed = draw(true);
    axis_box_path_enable(true);
    EXPECT_EQ(testenv::byte_difference(general.bytes, boxed.bytes).differing, 0u);
    EXPECT_EQ(general.hits, boxed.hits);
  }
}

// DrawRectangle's plain fills skip the path and the pipelines of the
// drawing core: pictures and hit masks must come out as the general route
// paints them, over random surfaces, rectangles (some with coordinates
// that are not finite or enormous), colours, hit tests and drawing state,
// including the states that send a rectangle back to the general route
// (a pen, a shadow, a filter layer, pixel snapping).
TEST_F(FillTest, RectanglesDrawnDirectlyMatchTheDrawingCore) {
  // Culling is seen in the count of painters that ran.
  struct Counted : cRendererSurface {
    int64_t Paints() const { return mPaintCount; }
  };
  std::mt19937 rng(20261212);
  auto uniform = [&rng](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto chance = [&pick](int in) { return pick(0, in - 1) == 0; };
  const uint8_t formats[] = {px32BGRA, px32BGRA, px32BGRA, px32RGBA, px32ARGB};
  const uint8_t alphas[] = {0, 1, 128, 200, 254, 255, 255};
  const double odd[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e300,
                        -3e12};
  for (int scene = 0; scene < 800; ++scene) {
    const int w = pick(1, 60), h = pick(1, 40);
    const int32_t step = w * 4 + 4 * pick(0, 3);
    const bool top_down = pick(0, 3) != 0;
    const uint8_t format = formats[pick(0, 4)];
    std::vector<uint8_t> background(size_t(step) * size_t(h));
    for (uint8_t& b : background) b = uint8_t(pick(0, 255));
    struct Rect {
      double c[4];
      uint32_t colour;
      bool hit;
    };
    std::vector<Rect> rects(size_t(pick(1, 5)));
    for (Rect& r : rects) {
      r.c[0] = uniform(-8, w + 4);
      r.c[1] = uniform(-8, h + 4);
      r.c[2] = r.c[0] + (chance(5) ? uniform(0.01, 0.9) : uniform(0.5, w + 8)) * (chance(4) ? -1 : 1);
      r.c[3] = r.c[1] + (chance(5) ? uniform(0.01, 0.9) : uniform(0.5, h + 8)) * (chance(4) ? -1 : 1);
      if (chance(3))
        for (double& v : r.c) v = std::round(v);
      if (chance(20)) r.c[pick(0, 3)] = odd[pick(0, 3)];
      r.colour = uint32_t(alphas[pick(0, 6)]) << 24 | uint32_t(pick(0, 0xFFFFFF));
      r.hit = chance(2);
    }
    // The mapping: 0 translate, 1 scale (maybe mirrored), 2 quarter turn,
    // 3 a turn off the axes, 4 skew, 5 perspective, else none.
    const int mapping = pick(0, 9);
    const double dx = uniform(-3, 3), dy = uniform(-3, 3);
    const double sx = uniform(0.3, 2) * (chance(3) ? -1 : 1), sy = uniform(0.3, 2) * (chance(3) ? -1 : 1);
    const double quad[8] = {2, 1, w - 1.0, 3, w + 2.0, h - 1.0, -1, h + 0.5};
    const bool device_space = chance(2);
    // The frame: 0 clip rectangle, 1 clip ellipse, 2 update rectangle, else none.
    const int frame = pick(0, 5);
    const int ux1 = pick(0, w - 1), uy1 = pick(0, h - 1), ux2 = pick(ux1 + 1, w), uy2 = pick(uy1 + 1, h);
    const bool comp = chance(6), aa_off = chance(8), culling = chance(2), snap = chance(10), pen = chance(6),
               shadow = chance(6), layer = chance(8), even_odd = chance(4);
    const uint8_t comp_op = uint8_t(pick(1, 28));
    const double pen_width = chance(20) ? odd[pick(0, 3)] : uniform(0.5, 3);
    const double gamma = chance(5) ? uniform(0.5, 2.0) : 1.0;
    const uint32_t master = chance(5) ? uint32_t(pick(0, 255)) : 255u;
    const bool boxes = chance(4);
    SCOPED_TRACE(testing::Message() << "scene " << scene << " size " << w << "x" << h << " step " << step << " format "
                                    << int(format) << " mapping " << mapping << " frame " << frame << " device "
                                    << device_space << " aa " << !aa_off << " pen " << pen << " shadow " << shadow
                                    << " layer " << layer << " snap " << snap << " culling " << culling << " operation "
                                    << (comp ? int(comp_op) : 0) << " boxes " << boxes);
    struct Drawn {
      std::vector<uint8_t> bytes;
      std::vector<uint8_t> hits;
      int64_t paints;
    };
    auto draw = [&](bool direct) {
      rectangle_route_enable(direct);
      axis_box_path_enable(boxes);
      Drawn d{background, {}, 0};
      cSurfaceMemory surface;
      EXPECT_TRUE(surface.Attach(d.bytes.data(), w, h, step, format, top_down));
      Counted r;
      EXPECT_TRUE(r.AttachSurface(&surface));
      if (frame == 2) r.SetUpdateRect(ux1, uy1, ux2, uy2);
      if (pen) {
        r.PenSolid();
        r.SetPenColor(0x80FF0000u);
      } else {
        r.PenOff();
      }
      r.SetPenWidth(pen_width);
      r.SetPenDeviceSpace(device_space);
      r.SetGamma(gamma);
      r.SetMasterAlpha(master);
      r.SetAntiAliasing(!aa_off);
      r.SetCulling(culling);
      r.SetFillEvenOdd(even_odd);
      if (snap) r.SetPixelSnap(0.5, 0.5);
      if (shadow) r.SetOffsetShadow(2);
      if (layer) r.SetFilterCallback([](cBitmap*, bool&, void*) {}, 2, nullptr);
      if (comp) r.SetCompOp(comp_op);
      if (mapping == 0) r.Translate(dx, dy);
      if (mapping == 1) r.Scale(sx, sy);
      if (mapping == 2) r.Rotate(90);
      if (mapping == 3) r.Rotate(30);
      if (mapping == 4) r.Skew(10, 0);
      if (mapping == 5) r.AddPerspective(quad, 0, 0, w, h);
      if (frame == 0) r.ClipRect(w * 0.2, h * 0.3, w * 0.9 + 0.5, h * 0.7);
      if (frame == 1) r.ClipEllipse(w * 0.5, h * 0.5, w * 0.4, h * 0.3);
      cHitTest hit;
      for (const Rect& rc : rects) {
        r.SetFillColorARGB(rc.colour);
        r.DrawRectangle(rc.hit ? &hit : nullptr, rc.c[0], rc.c[1], rc.c[2], rc.c[3]);
      }
      if (frame <= 1) r.ResetClipping(true);
      r.DetachSurface();
      for (int y = -1; y <= h; ++y)
        for (int x = -1; x <= w; ++x) d.hits.push_back(hit.HitTestInt(x, y));
      d.paints = r.Paints();
      return d;
    };
    const Drawn general = draw(false);
    const Drawn direct = draw(true);
    EXPECT_EQ(general.paints, direct.paints);
    rectangle_route_enable(true);
    axis_box_path_enable(true);
    EXPECT_EQ(testenv::byte_difference(general.bytes, direct.bytes).differing, 0u);
    EXPECT_EQ(general.hits, direct.hits);
  }
}

}  // namespace
