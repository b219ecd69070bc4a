// Gradient classes: colour stops, the colour table against AGG's, the
// matrix operations and the kinds the renderer finds.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "qlm_gradient.h"
#include "qlm_path.h"
#include "qlm_renderer_engine.h"
#include "renderer_support.h"

namespace {

using testenv::RendererTest;

class GradientTest : public RendererTest {};

std::vector<rColorStop> stops_of(cGradientColorRamp& g) {
  std::vector<rColorStop> v;
  for (const rColorStop* s = g.FirstStop(); s != nullptr; s = g.NextStop()) v.push_back(*s);
  return v;
}

// A gradient that answers no kind id, valid or not.
class cPlainGradient : public cGradient {
 public:
  explicit cPlainGradient(bool valid) { mValid = valid; }
};

TEST_F(GradientTest, StopsOffsetsOpacityAndSizes) {
  cGradientLinearX g(0, 100);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct {
    double offs;
    bool taken;
  } offsets[] = {{-0.0001, false}, {1.0001, false}, {nan, false}, {0.0, true}, {1.0, true}};
  for (const auto& c : offsets) EXPECT_EQ(g.AddStop(renderer_color(1, 2, 3, 255), c.offs), c.taken) << c.offs;
  EXPECT_EQ(g.StopCount(), 2u);
  // Thousandths: 0.2004 and 0.2 are equal in ramp order, so the first added
  // stays first; 0.199 sorts before them.
  g.Clear();
  EXPECT_EQ(g.FirstStop(), nullptr);
  g.AddStopRGBA(1, 0, 0, 255, 0.2004);
  g.AddStopRGBA(2, 0, 0, 255, 0.2);
  g.AddStopRGBA(3, 0, 0, 255, 0.199);
  std::vector<rColorStop> s = stops_of(g);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].offset, 0.199);
  EXPECT_EQ(s[1].offset, 0.2004);
  EXPECT_EQ(s[2].offset, 0.2);
  // Opacity acts on stops added after it only.
  g.Clear();
  g.AddStopARGB(0xFF102030, 0.0);
  g.SetOpacity(128);
  g.AddStopARGB(0xFF405060, 1.0);
  g.AddStopRGB(0x708090, 100, 0.5);
  s = stops_of(g);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].colour, renderer_color(0x10, 0x20, 0x30, 255));
  EXPECT_EQ(s[1].colour, renderer_color(0x70, 0x80, 0x90, 50));  // trunc(100 x 128 / 255 + 0.5)
  EXPECT_EQ(s[2].colour, renderer_color(0x40, 0x50, 0x60, 128));
  // Table sizes.
  for (uint32_t n : {0u, 1u}) {
    g.SetMaxColors(n);
    EXPECT_EQ(g.GetMaxColors(), 2u);
  }
  g.SetMaxColors(1u << 30);
  EXPECT_EQ(g.GetMaxColors(), cnGradientMaxColors);
  EXPECT_EQ(g.GetColor(cnGradientMaxColors), nullptr);
  ASSERT_NE(g.GetColor(cnGradientMaxColors - 1), nullptr);
  EXPECT_EQ(g.GetColor(0)->g, 0x20);
  EXPECT_EQ(g.GetColorTable()->size(), cnGradientMaxColors);
  cGradientColorRamp none(0);
  EXPECT_EQ(none.GetMaxColors(), 2u);
  EXPECT_FALSE(none.IsValid());
  // The colour range is stored absolute; non-finite values are ignored.
  g.SetD2(-50);
  g.SetD1(-5);
  g.SetD1(nan);
  EXPECT_EQ(g.GetD2(), 50);
  EXPECT_EQ(g.GetD1(), 5);
  EXPECT_EQ(g.GetExtentX(), 50);
  // The base class answers transparent black and has no table.
  cPlainGradient plain(true);
  EXPECT_EQ(plain.GetMaxColors(), 0u);
  EXPECT_EQ(plain.GetColor(7)->a, 0);
  EXPECT_EQ(plain.GetColorTable(), nullptr);
}

TEST_F(GradientTest, TableEqualsAggsAndDefinesShortRamps) {
  using agg_lut = agg::gradient_lut<agg::color_interpolator<agg::rgba8>, 256>;
  std::mt19937 rng(20261210);
  std::uniform_int_distribution<int> count(2, 6), byte(0, 255), grid(0, 8);
  std::uniform_real_distribution<double> real(0.0, 1.0);
  for (int list = 0; list < 50; ++list) {
    std::vector<rColorStop> stops;
    const int n = count(rng);
    for (int i = 0; i < n; ++i) {
      // Some offsets on a coarse grid, so exact duplicates occur.
      const double offs = grid(rng) < 3 ? grid(rng) / 8.0 : real(rng);
      stops.push_back({offs, renderer_color(uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng)),
                                            uint8_t(byte(rng)))});
    }
    agg_lut lut;
    for (const rColorStop& s : stops)
      lut.add_color(s.offset, agg::rgba8(s.colour & 255, s.colour >> 8 & 255, s.colour >> 16 & 255, s.colour >> 24));
    lut.build_lut();
    gradient_color_table own;
    ASSERT_TRUE(own.build(stops, 256));
    // AGG leaves its table unset when duplicates leave fewer than two stops.
    double first = stops[0].offset;
    bool distinct = false;
    for (const rColorStop& s : stops) distinct |= s.offset != first;
    if (!distinct) continue;
    for (unsigned i = 0; i < 256; ++i) {
      const agg::rgba8 a = lut[i], b = own[i];
      ASSERT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a) << "list " << list << " entry " << i;
    }
    // Through a gradient: the table is built from the ramp's order.
    cGradientLinearY g(0, 100);
    for (const rColorStop& s : stops) g.AddStop(s.colour, s.offset);
    agg_lut ramp_lut;
    for (const rColorStop& s : stops_of(g))
      ramp_lut.add_color(s.offset,
                         agg::rgba8(s.colour & 255, s.colour >> 8 & 255, s.colour >> 16 & 255, s.colour >> 24));
    ramp_lut.build_lut();
    const gradient_color_table* table = g.GetColorTable();
    ASSERT_NE(table, nullptr);
    for (unsigned i = 0; i < 256; ++i) ASSERT_EQ((*table)[i].r, ramp_lut[i].r) << list << " " << i;
  }
  // No stop: transparent; one stop (or one offset twice): its colour.
  gradient_color_table t;
  ASSERT_TRUE(t.build({}, 16));
  EXPECT_EQ(t[0].a, 0);
  EXPECT_EQ(t[15].a, 0);
  const rColorStop one[] = {{0.3, renderer_color(9, 8, 7, 200)}, {0.3, renderer_color(1, 1, 1, 1)}};
  ASSERT_TRUE(t.build(one, 16));
  for (unsigned i : {0u, 15u}) EXPECT_TRUE(t[i].r == 9 && t[i].g == 8 && t[i].b == 7 && t[i].a == 200);
  // A two-entry table and a large one keep their ends.
  const rColorStop two[] = {{0.0, renderer_color(0, 0, 0, 255)}, {1.0, renderer_color(255, 0, 0, 255)}};
  ASSERT_TRUE(t.build(two, 2));
  EXPECT_EQ(t[0].r, 0);
  EXPECT_EQ(t.size(), 2u);
  ASSERT_TRUE(t.build(two, cnGradientMaxColors));
  EXPECT_EQ(t[0].r, 0);
  // AGG's 14-bit colour steps fall a few levels short over 65536 entries.
  EXPECT_GE(t[cnGradientMaxColors - 1].r, 250);
  EXPECT_FALSE(t.build(two, 0));
}

TEST_F(GradientTest, MatrixOperations) {
  // The linear gradients turn about (d2/2, d2/2); the radial one about the
  // origin.
  cGradientLinearX x(0, 100);
  x.Rotate(90);
  double px = 50, py = 50;
  matrix_transform(x.GetMatrix(), px, py);
  EXPECT_NEAR(px, 50, 1e-9);
  EXPECT_NEAR(py, 50, 1e-9);
  px = 100, py = 50;
  matrix_transform(x.GetMatrix(), px, py);
  EXPECT_NEAR(px, 50, 1e-9);
  EXPECT_NEAR(py, 100, 1e-9);
  cGradientRadialFocus r(true, 100, 10, 20);
  r.Rotate(90);
  px = 10, py = 0;
  matrix_transform(r.GetMatrix(), px, py);
  EXPECT_NEAR(px, 0, 1e-9);
  EXPECT_NEAR(py, 10, 1e-9);
  EXPECT_EQ(r.GetRadiusX(), 100);
  EXPECT_EQ(r.GetRadiusY(), 100);
  EXPECT_EQ(r.GetFocusY(), 20);
  EXPECT_TRUE(r.IsExtended());
  EXPECT_EQ(r.GetD1(), 0);
  EXPECT_EQ(r.GetD2(), 100);
  r.Translate(3, 4);
  r.Scale(2, 2);
  px = 0, py = 0;
  matrix_transform(r.GetMatrix(), px, py);
  EXPECT_NEAR(px, 6, 1e-9);
  EXPECT_NEAR(py, 8, 1e-9);
  // Defaults.
  cGradientLinearY y(-10, -200);
  EXPECT_EQ(y.GetD1(), 10);
  EXPECT_EQ(y.GetD2(), 200);
  EXPECT_TRUE(y.IsValid() && y.IsRelative() && y.IsFitToBounds());
  EXPECT_EQ(y.GetSpread(), 0);
  EXPECT_EQ(y.GetMaxColors(), 256u);
}

TEST_F(GradientTest, KindsForFillAndPen) {
  cGradientLinearX lx(0, 1);
  cGradientLinearY ly(0, 1);
  cGradientRadialFocus rf(false, 1, 0, 0);
  cPlainGradient unknown(true), invalid(false);
  EXPECT_TRUE(rf.Identify(id_cGradientColorRamp) && rf.Identify(id_cGradient));
  EXPECT_FALSE(rf.Identify(id_cGradientLinearX));
  struct {
    cGradient* g;
    uint8_t kind;
  } cases[] = {{&lx, 1}, {&ly, 2}, {&rf, 9}, {&unknown, 0}, {&invalid, 0}, {nullptr, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(gradient_kind_of(c.g), c.kind);
    cRendererSurface r;
    r.SetFillGradient(&lx);
    r.SetPenGradient(&lx);
    r.SetPenColor(renderer_color(0, 0, 0, 255));  // pen gradient inactive
    r.SetFillGradient(c.g);
    r.SetPenGradient(c.g);
    // A refused gradient leaves the earlier one stored, with kind 0.
    EXPECT_EQ(r.GetFillGradient(), c.kind != 0 ? c.g : &lx);
    EXPECT_EQ(r.GetPenGradient(), c.kind != 0 ? c.g : &lx);
    EXPECT_EQ(r.IsFillOn(), true);
    EXPECT_EQ(r.IsPenPlainColor(), c.kind == 0);
  }
  // Reapplying: a gradient made invalid in between is refused then.
  cRendererSurface r;
  r.SetFillGradient(&rf);
  r.SetPenGradient(&ly);
  r.ReapplyFillGradient();
  r.ReapplyPenGradient();
  EXPECT_FALSE(r.IsFillSolid());
  EXPECT_FALSE(r.IsPenPlainColor());
  // A fill snapshot re-applies its gradient only while it is the fill: a
  // solid snapshot that remembers one stays solid.
  std::unique_ptr<cFill> gradient_fill = r.GetFill();
  r.SetFillColor(renderer_color(1, 2, 3, 255));
  std::unique_ptr<cFill> solid_fill = r.GetFill();
  r.SetFill(gradient_fill.get(), false);
  EXPECT_EQ(r.GetFillGradient(), &rf);
  EXPECT_FALSE(r.IsFillSolid());
  r.SetFill(solid_fill.get(), false);
  EXPECT_TRUE(r.IsFillSolid());
  r.ResetFillGradient(false);
  r.ResetPenGradient(false);
  EXPECT_EQ(r.GetFillGradient(), nullptr);
  EXPECT_EQ(r.GetPenGradient(), nullptr);
  EXPECT_TRUE(r.IsPenPlainColor());
}

}  // namespace
