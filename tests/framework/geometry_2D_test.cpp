#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "qlm_2D.h"

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kHalfRoot2 = std::numbers::sqrt2 / 2;
}  // namespace

TEST(Geometry2D, PointOnCircle) {
  struct Case {
    double angle, x, y;
    bool exact;
  };
  // clang-format off
  const Case cases[] = {
      {0, 15, 20, true},     {90, 10, 25, true},    {180, 5, 20, true},   {270, 10, 15, true},
      {360, 15, 20, false},  {45, 10 + 5 * kHalfRoot2, 20 + 5 * kHalfRoot2, false},
      {135, 10 - 5 * kHalfRoot2, 20 + 5 * kHalfRoot2, false},
      {315, 10 + 5 * kHalfRoot2, 20 - 5 * kHalfRoot2, false},
      // Outside 0..360 (and NaN): the centre itself.
      {-10, 10, 20, true},   {400, 10, 20, true},   {360.5, 10, 20, true}, {kNaN, 10, 20, true},
      {kInf, 10, 20, true},  {-kInf, 10, 20, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.angle);
    double x = -1, y = -1;
    point_on_circle(x, y, 10, 20, c.angle, 5);
    if (c.exact) {
      EXPECT_EQ(x, c.x);
      EXPECT_EQ(y, c.y);
    } else {
      EXPECT_NEAR(x, c.x, 1e-12);
      EXPECT_NEAR(y, c.y, 1e-12);
    }
  }
}

TEST(Geometry2D, SegmentsIntersection) {
  struct Case {
    double s[8];
    bool meet;
    double x, y;
  };
  const Case cases[] = {
      {{0, 0, 10, 10, 0, 10, 10, 0}, true, 5, 5},   // crossing diagonals
      {{0, 0, 10, 0, 10, 0, 20, 5}, true, 10, 0},   // end points touch
      {{0, 0, 10, 0, 0, 1, 10, 1}, false, 0, 0},    // parallel, boxes apart
      {{0, 0, 10, 0, 5, 0, 15, 0}, true, 5, 0},     // collinear overlap
      {{0, 0, 10, 0, 15, 0, 5, 0}, true, 15, 0},    // start of 2 is not on 1
      {{0, 0, 10, 10, 10, 0, 6, 4}, false, 0, 0},   // boxes overlap, lines meet outside
      {{10, 10, 0, 0, 10, 0, 0, 10}, true, 5, 5},   // both reversed
      {{0, 0, 4, 0, 5, 0, 9, 0}, false, 0, 0},      // collinear, apart
      {{0, 0, 10, 0, 3, -2, 3, 0}, true, 3, 0},     // T: end of 2 on 1
      {{5, 0, 5, 0, 0, 0, 10, 0}, true, 0, 0},      // degenerate 1 on 2: start of 2
      {{5, 1, 5, 1, 0, 0, 10, 0}, false, 0, 0},     // degenerate 1 off 2
      {{2, 2, 2, 2, 2, 2, 2, 2}, true, 2, 2},       // two equal points
      {{0, 0, 10, 0, kNaN, 0, 5, 0}, false, 0, 0},  // NaN never meets
      {{0, 0, kInf, 0, 5, -1, 5, 1}, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.s[0] << "," << c.s[1] << "-" << c.s[2] << "," << c.s[3] << " / " << c.s[4]
                                      << "," << c.s[5] << "-" << c.s[6] << "," << c.s[7]);
    double x = -99, y = -99;
    ASSERT_EQ(segments_intersection(x, y, c.s[0], c.s[1], c.s[2], c.s[3], c.s[4], c.s[5], c.s[6], c.s[7]), c.meet);
    if (c.meet) {
      EXPECT_DOUBLE_EQ(x, c.x);
      EXPECT_DOUBLE_EQ(y, c.y);
    } else {  // outputs untouched
      EXPECT_EQ(x, -99);
      EXPECT_EQ(y, -99);
    }
  }
}

TEST(Geometry2D, NormalizeAngle) {
  struct Case {
    double in, out;
  };
  // clang-format off
  const Case cases[] = {
      {370, 10},     {720, 360},   {-90, 270},         {-360, 0},    {360, 360},  {0, 0},
      {359.5, 359.5}, {-720.25, 359.75}, {1081, 1},
      // Large magnitudes return at once, in range.
      {3.6e9, 360},  {3.6e9 + 90, 90}, {-3.6e9 - 90, 270}, {-3.6e9, 0},
      // Not finite: 0.
      {kInf, 0},     {-kInf, 0},   {kNaN, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(normalize_angle(c.in), c.out);
  }
  for (double big : {1e300, -1e300, 0x1p62, -0x1p62, 1e12, -1e12, 1e6 + 0.5}) {
    SCOPED_TRACE(big);
    const double r = normalize_angle(big);
    if (big > 0) {
      EXPECT_GT(r, 0);
      EXPECT_LE(r, 360);
    } else {
      EXPECT_GE(r, 0);
      EXPECT_LT(r, 360);
    }
  }
}
