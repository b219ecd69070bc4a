// The fill group: distortion modes and functions, pattern tiles from a
// callback and from a bitmap.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

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
      {"W", 1, 0, true},   {"WS", 1, 2, true},  {"WSw", 0, 1, true}, {"SW", 2, 1, true},
      {"SWs", 1, 0, true}, {"Ww", 0, 0, false}, {"WSd", 1, 2, false}, {"WSdD", 1, 2, true},
      {"D", 0, 0, false},
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
  // SetFillColor switches back to solid.
  r.SetFillColor(renderer_color(1, 2, 3, 255));
  EXPECT_TRUE(r.IsFillSolid());
}

}  // namespace
