// Gradient classes: colour stops, the colour table against AGG's, the
// matrix operations and the kinds the renderer finds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "agg_reference.h"
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

// AGG's own table comes from the reference library built apart (at -O2):
// the same code compiled here at -O3 gets inner segments wrong.
TEST_F(GradientTest, TableEqualsAggsAndDefinesShortRamps) {
  auto agg_lut = [](const std::vector<rColorStop>& stops) {
    std::vector<aggref::rStop> ref;
    for (const rColorStop& s : stops)
      ref.push_back(
          {s.offset, {uint8_t(s.colour), uint8_t(s.colour >> 8), uint8_t(s.colour >> 16), uint8_t(s.colour >> 24)}});
    return aggref::gradient_lut256(ref);
  };
  auto same = [](const std::vector<uint8_t>& lut, unsigned i, const agg::rgba8& c) {
    return lut[i * 4] == c.r && lut[i * 4 + 1] == c.g && lut[i * 4 + 2] == c.b && lut[i * 4 + 3] == c.a;
  };
  std::mt19937 rng(20261210);
  std::uniform_int_distribution<int> count(2, 6), byte(0, 255), grid(0, 8);
  std::uniform_real_distribution<double> real(0.0, 1.0);
  for (int list = 0; list < 50; ++list) {
    std::vector<rColorStop> stops;
    const int n = count(rng);
    for (int i = 0; i < n; ++i) {
      // Some offsets on a coarse grid, so exact duplicates occur.
      const double offs = grid(rng) < 3 ? grid(rng) / 8.0 : real(rng);
      stops.push_back(
          {offs, renderer_color(uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng)))});
    }
    const std::vector<uint8_t> lut = agg_lut(stops);
    gradient_color_table own;
    ASSERT_TRUE(own.build(stops, 256));
    // AGG leaves its table unset when duplicates leave fewer than two stops.
    double first = stops[0].offset;
    bool distinct = false;
    for (const rColorStop& s : stops) distinct |= s.offset != first;
    if (!distinct) continue;
    for (unsigned i = 0; i < 256; ++i) ASSERT_TRUE(same(lut, i, own[i])) << "list " << list << " entry " << i;
    // Through a gradient: the table is built from the ramp's order.
    cGradientLinearY g(0, 100);
    for (const rColorStop& s : stops) g.AddStop(s.colour, s.offset);
    const std::vector<uint8_t> ramp_lut = agg_lut(stops_of(g));
    const gradient_color_table* table = g.GetColorTable();
    ASSERT_NE(table, nullptr);
    for (unsigned i = 0; i < 256; ++i) ASSERT_TRUE(same(ramp_lut, i, (*table)[i])) << list << " " << i;
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

// The table by its formula, in plain integer arithmetic: stops ordered by
// offset (the first of equal offsets kept), stop i at entry
// floor(offset x size + 0.5), the ends padded with the end colours, and
// between stops a and b (entries s..e) entry s + k of each channel
// a + floor(k x trunc((b - a) x 16384 / (e - s + 1)) / 16384).
std::vector<agg::rgba8> table_by_formula(std::vector<rColorStop> stops, uint32_t size) {
  std::stable_sort(stops.begin(), stops.end(),
                   [](const rColorStop& x, const rColorStop& y) { return x.offset < y.offset; });
  std::vector<rColorStop> kept;
  for (const rColorStop& s : stops)
    if (kept.empty() || kept.back().offset != s.offset) kept.push_back(s);
  auto channel = [](uint32_t colour, int c) { return int64_t(colour >> (8 * c) & 255); };
  std::vector<agg::rgba8> t(size);
  auto put = [&](uint32_t at, const int64_t(&v)[4]) {
    t[at] = agg::rgba8(unsigned(v[0]), unsigned(v[1]), unsigned(v[2]), unsigned(v[3]));
  };
  auto entry = [&](double offset) { return uint32_t(int64_t(offset * size + 0.5)); };
  for (uint32_t i = 0; i < size; ++i) {
    const rColorStop& end = i < entry(kept.front().offset) ? kept.front() : kept.back();
    const int64_t v[4] = {channel(end.colour, 0), channel(end.colour, 1), channel(end.colour, 2),
                          channel(end.colour, 3)};
    put(i, v);
  }
  for (size_t j = 1; j < kept.size(); ++j) {
    const uint32_t s = entry(kept[j - 1].offset), e = entry(kept[j].offset);
    for (uint32_t k = 0; s + k < e; ++k) {
      int64_t v[4];
      for (int c = 0; c < 4; ++c) {
        const int64_t a = channel(kept[j - 1].colour, c), b = channel(kept[j].colour, c);
        const int64_t step = (b - a) * 16384 / int64_t(e - s + 1);  // truncated toward zero
        const int64_t p = int64_t(k) * step;
        v[c] = a + (p >= 0 ? p / 16384 : -((-p + 16383) / 16384));  // floored
      }
      put(s + k, v);
    }
  }
  return t;
}

// Three or more stops put inner stops at entries that leave short segments;
// the table of the Release build held wrong blue and alpha there.
TEST_F(GradientTest, TableFollowsTheInterpolationFormulaForTwoToEightStops) {
  std::mt19937 rng(79);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_real_distribution<double> real(0.0, 1.0);
  const uint32_t sizes[] = {256, 256, 256, 100, 1000, 4096};
  int checked = 0;
  for (int n = 2; n <= 8; ++n) {
    for (int list = 0; list < 60; ++list) {
      std::vector<rColorStop> stops;
      for (int i = 0; i < n; ++i) {
        // Ends at 0 and 1 in most lists, as ramps usually have them.
        double offs = real(rng);
        if (list % 3 != 0 && i == 0) offs = 0.0;
        if (list % 3 != 0 && i == n - 1) offs = 1.0;
        stops.push_back(
            {offs, renderer_color(uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng)), uint8_t(byte(rng)))});
      }
      const uint32_t size = sizes[list % std::size(sizes)];
      gradient_color_table own;
      ASSERT_TRUE(own.build(stops, size));
      const std::vector<agg::rgba8> want = table_by_formula(stops, size);
      for (uint32_t i = 0; i < size; ++i) {
        const agg::rgba8 a = own[i], b = want[i];
        ASSERT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a)
            << n << " stops, list " << list << ", entry " << i << " of " << size << ": " << int(a.r) << "," << int(a.g)
            << "," << int(a.b) << "," << int(a.a) << " for " << int(b.r) << "," << int(b.g) << "," << int(b.b) << ","
            << int(b.a);
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, 7 * 60);
  // The ramp seen in the wild: yellow, blue, red, green at thirds.
  cGradientLinearX g(0, 100);
  g.AddStopRGBA(255, 255, 0, 255, 0.0);
  g.AddStopRGBA(0, 0, 255, 255, 0.33);
  g.AddStopRGBA(255, 0, 0, 255, 0.66);
  g.AddStopRGBA(0, 255, 0, 255, 1.0);
  const std::vector<agg::rgba8> want = table_by_formula(stops_of(g), 256);
  for (uint32_t i = 0; i < 256; ++i) {
    const agg::rgba8* c = g.GetColor(i);
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(c->r == want[i].r && c->g == want[i].g && c->b == want[i].b && c->a == want[i].a) << i;
  }
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
  EXPECT_EQ(y.GetSpread(), uint8_t(eGradientSpread::pad));
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
    eGradientKind kind;
  } cases[] = {{&lx, eGradientKind::linear_x},  {&ly, eGradientKind::linear_y},  {&rf, eGradientKind::radial_focus},
               {&unknown, eGradientKind::none}, {&invalid, eGradientKind::none}, {nullptr, eGradientKind::none}};
  for (const auto& c : cases) {
    EXPECT_EQ(gradient_kind_of(c.g), c.kind);
    cRendererSurface r;
    r.SetFillGradient(&lx);
    r.SetPenGradient(&lx);
    r.SetPenColor(renderer_color(0, 0, 0, 255));  // pen gradient inactive
    r.SetFillGradient(c.g);
    r.SetPenGradient(c.g);
    // A refused gradient leaves the earlier one stored, with no kind.
    const bool taken = c.kind != eGradientKind::none;
    EXPECT_EQ(r.GetFillGradient(), taken ? c.g : &lx);
    EXPECT_EQ(r.GetPenGradient(), taken ? c.g : &lx);
    EXPECT_EQ(r.IsFillOn(), true);
    EXPECT_EQ(r.IsPenPlainColor(), !taken);
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
