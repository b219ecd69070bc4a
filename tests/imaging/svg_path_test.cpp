#include <agg_conv_curve.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "svg_support.h"

namespace {

using svgtest::dump;

class SvgPath : public ::testing::Test {
 protected:
  void SetUp() override { svgtest::start_modules(); }
};

// Path data on a fresh path: the commands it leaves, or the error text.
struct PathCase {
  const char* data;
  const char* path;   // expected vertices
  const char* error;  // expected log text, "" when it succeeds
};

TEST_F(SvgPath, CommandsNumbersAndErrors) {
  const PathCase cases[] = {
      {"M 10 20 L 30 40 50 60 z", "M10,20 L30,40 L50,60 Z", ""},
      {"m 10 20 30 40", "M10,20 L40,60", ""},
      // After a close the current point is the subpath's start.
      {"M 0 0 L 10 0 z l 5 5", "M0,0 L10,0 Z M0,0 L5,5", ""},
      {"M 10 10 L 20 10 z l 5 5", "M10,10 L20,10 Z M10,10 L15,15", ""},
      {"M 10 10 L 20 10 Z m 5 5 l 1 0", "M10,10 L20,10 Z M15,15 L16,15", ""},
      {"m 10 10 l 10 0 z h 5 z v 2", "M10,10 L20,10 Z M10,10 L15,10 Z M10,10 L10,12", ""},
      {"M 10 10 L 20 10 Z M 1 1 l 1 0", "M10,10 L20,10 Z M1,1 L2,1", ""},
      {"M 10", "", "302 {mArgs.Count mod 2 <> 0,cmd=M}"},
      {"L", "", "302 {mArgs.Count=0,cmd=L}"},
      {"M 0 0 c 1 2 3 4 5", "M0,0", "302 {mArgs.Count mod 6 <> 0,cmd=c}"},
      {"M 0 0 Q 1 2 3", "M0,0", "302 {mArgs.Count mod 4 <> 0,cmd=Q}"},
      {"M 0 0 a 1 2 3 4 5 6", "M0,0", "302 {mArgs.Count mod 7 <> 0,cmd=a}"},
      {"M0 0 H 10 20 30", "M0,0 L10,0 L20,0 L30,0", ""},
      {"M0 0 v 5 5", "M0,0 L0,5 L0,10", ""},
      {"M0 0 L1 1 Z 5 5", "M0,0 L1,1 Z", ""},
      {"10 20 M 0 0", "M0,0", ""},
      {"M0,0L10,10", "M0,0 L10,10", ""},
      {"M 0 0 L 10 10", "M0,0 L10,10", ""},
      {"M0 0,L10 10", "M0,0 L10,10", ""},
      {"M10-20L30,40", "M10,-20 L30,40", ""},
      {"M1.5.5", "M1.5,0.5", ""},
      {"M10+5", "M10,5", ""},
      {"M1.5e-3 0", "M0.0015,0", ""},
      // A character outside path data's grammar ends it: the path keeps the
      // whole operations before it, the error is logged, and the path stands.
      {"M 1 2 x y 3 4", "M1,2", "302 {char=x,cmd=M}"},
      {"M 20 100 H 40#90", "M20,100 L40,100", "302 {char=#,cmd=H}"},
      {"M 0 0 L 1 1 2#3", "M0,0 L1,1", "302 {char=#,cmd=L}"},
      {"M 0 0 L # 1 1", "M0,0", "302 {char=#,cmd=L}"},
      {"M 0 0 L 1 1 z%", "M0,0 L1,1 Z", "302 {char=%,cmd=z}"},
      {"M 0 0 e 1", "M0,0", "302 {char=e,cmd=M}"},
      {"M 0 0\x01 1 1", "M0,0", "302 {char=0x01,cmd=M}"},
      {"M 0\t0\r\nL 1,1", "M0,0 L1,1", ""},
      // The SVG number grammar where the system's old reader differed.
      {"M.5,.5", "M0.5,0.5", ""},
      {"M1e5 0", "M100000,0", ""},
      {"M1.5e5 2e-3", "M150000,0.002", ""},
      {"M-.5-.5", "M-0.5,-0.5", ""},
      {"M1e5.5 0", "", "302 {mArgs.Count mod 2 <> 0,cmd=M}"},
      // Out of the 64-bit integer range, and texts that do not convert, read as 0.
      {"M1e300 1e", "M0,0", ""},
      // Curves, smooth forms and relative forms.
      {"M0 0 C1 2 3 4 5 6 S 9 10 11 12", "M0,0 C1,2 C3,4 C5,6 C7,8 C9,10 C11,12", ""},
      {"M0 0 Q1 1 2 0 T 4 0", "M0,0 Q1,1 Q2,0 Q3,-1 Q4,0", ""},
      {"M1 1 q1 1 2 0 t 2 0", "M1,1 Q2,2 Q3,1 Q4,0 Q5,1", ""},
      {"M1 1 c1 0 1 1 0 1", "M1,1 C2,1 C2,2 C1,2", ""},
      // A smooth curve on an empty path adds nothing.
      {"S 1 2 3 4", "", ""},
      {"Z", "", ""},
      {"", "", ""},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.data);
    cImageSVG image;
    cSVGParser parser(&image, nullptr);
    const bool ok = parser.ParsePathData(c.data);
    EXPECT_EQ(ok, *c.error == 0 || std::strstr(c.error, "{char=") != nullptr);
    EXPECT_EQ(dump(*image.PathStorage()), c.path);
    EXPECT_EQ(svgtest::log_text(image), c.error);
  }
}

TEST_F(SvgPath, ArcsRotateTheirAxesAndEndOnTheEndPoint) {
  cImageSVG image;
  cSVGParser parser(&image, nullptr);
  ASSERT_TRUE(parser.ParsePathData("M 0 0 A 10 5 90 0 1 20 0"));
  agg::path_storage& ps = *image.PathStorage();
  double x = 0, y = 0;
  ps.last_vertex(&x, &y);
  EXPECT_NEAR(x, 20, 1e-9);
  EXPECT_NEAR(y, 0, 1e-9);
  // Rotated by 90 degrees, the 10-unit radius lies along y: the ellipse
  // (scaled up to reach the end point) bulges by 20 on that axis, not 5.
  double lowest = 0, highest = 0;
  for (unsigned i = 0; i < ps.total_vertices(); ++i) {
    ps.vertex(i, &x, &y);
    lowest = std::min(lowest, y);
    highest = std::max(highest, y);
  }
  EXPECT_GT(highest - lowest, 15.0);
  // Radii below 1e-30 draw a line; an arc onto the current point adds nothing.
  cImageSVG flat;
  cSVGParser flat_parser(&flat, nullptr);
  ASSERT_TRUE(flat_parser.ParsePathData("M 0 0 A 0 5 0 0 1 7 7 A 3 3 0 0 0 7 7"));
  EXPECT_EQ(dump(*flat.PathStorage()), "M0,0 L7,7");
}

// Radii too small for the chord grow, both by one factor, until the ellipse
// just spans it: the arc is then half of that ellipse, centred on the
// chord's middle, however small the radii were (a line only for radii of 0).
TEST_F(SvgPath, ArcRadiiTooSmallForTheChordGrowUntilTheArcFits) {
  struct {
    const char* data;
    double x0, y0, x, y, rx, ry, degrees;
  } cases[] = {
      {"M 40 200 A 15 15 0 0 1 140 200", 40, 200, 140, 200, 15, 15, 0},
      {"M 40 200 A 16 16 0 0 1 140 200", 40, 200, 140, 200, 16, 16, 0},
      {"M 40 200 a 1 1 0 1 0 100 0", 40, 200, 140, 200, 1, 1, 0},
      {"M 10 10 A 2 1 30 0 0 90 60", 10, 10, 90, 60, 2, 1, 30},
      {"M 0 0 A 1e-6 1e-6 0 0 1 50 0", 0, 0, 50, 0, 1e-6, 1e-6, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data);
    cImageSVG image;
    cSVGParser parser(&image, nullptr);
    ASSERT_TRUE(parser.ParsePathData(c.data));
    // The grown radii, by SVG's rule for out-of-range radii.
    const double a = c.degrees * std::numbers::pi / 180;
    const double hx = (c.x0 - c.x) / 2, hy = (c.y0 - c.y) / 2;
    const double x1 = std::cos(a) * hx + std::sin(a) * hy, y1 = -std::sin(a) * hx + std::cos(a) * hy;
    const double k = std::sqrt(x1 * x1 / (c.rx * c.rx) + y1 * y1 / (c.ry * c.ry));
    ASSERT_GT(k, 1.0);
    const double rx = c.rx * k, ry = c.ry * k, cx = (c.x0 + c.x) / 2, cy = (c.y0 + c.y) / 2;
    agg::conv_curve<agg::path_storage> flat(*image.PathStorage());
    flat.rewind(0);
    double x = 0, y = 0, far = 0;
    int points = 0;
    for (unsigned cmd; !agg::is_stop(cmd = flat.vertex(&x, &y));) {
      // Every point on the ellipse: its own-axes coordinates at distance 1
      // (within AGG's Bezier approximation of the arc).
      const double u = (std::cos(a) * (x - cx) + std::sin(a) * (y - cy)) / rx;
      const double v = (-std::sin(a) * (x - cx) + std::cos(a) * (y - cy)) / ry;
      EXPECT_NEAR(std::hypot(u, v), 1.0, 5e-3) << x << "," << y;
      far = std::max(far, std::fabs(v));
      ++points;
    }
    // Half an ellipse: it reaches the end of its own y half-axis.
    EXPECT_GT(points, 4);
    EXPECT_NEAR(far, 1.0, 1e-2);
    EXPECT_NEAR(x, c.x, 1e-9);
    EXPECT_NEAR(y, c.y, 1e-9);
  }
}

// An arc's flags are single digits that need no separators: each compact
// form gives the path of its spaced form.
TEST_F(SvgPath, ArcFlagsWithoutSeparators) {
  const std::pair<const char*, const char*> cases[] = {
      {"M50 50 a25,25 0 10 -25,25", "M50 50 a25,25 0 1 0 -25,25"},
      {"M50 50 a25 25 0 1,0-25 25", "M50 50 a25,25 0 1 0 -25,25"},
      {"M0 0 A10 10 0 0120 0", "M0 0 A10 10 0 0 1 20 0"},
      {"M0 0 A10 10 0 11.5 0 a1 1 0 00 2 2", "M0 0 A10 10 0 1 1 .5 0 a1 1 0 0 0 2 2"},
      // Other numbers at a flag's place read as numbers (not 0: true).
      {"M0 0 A10 10 0 2 -1 20 0", "M0 0 A10 10 0 1 1 20 0"},
  };
  for (const auto& [compact, spaced] : cases) {
    SCOPED_TRACE(compact);
    cImageSVG a, b;
    cSVGParser pa(&a, nullptr), pb(&b, nullptr);
    ASSERT_TRUE(pa.ParsePathData(compact));
    ASSERT_TRUE(pb.ParsePathData(spaced));
    EXPECT_EQ(dump(*a.PathStorage()), dump(*b.PathStorage()));
    EXPECT_GT(a.PathStorage()->total_vertices(), 2u);
  }
}

TEST_F(SvgPath, PointsReadNumbersOnly) {
  cImageSVG image;
  cSVGParser parser(&image, nullptr);
  ASSERT_TRUE(parser.ParsePoints("1,2 3,4 5 M 6e1 .5"));
  std::vector<double> got;
  for (const rDouble* d = parser.Args()->First(); d != nullptr; d = parser.Args()->Next(d)) got.push_back(d->value);
  EXPECT_EQ(got, (std::vector<double>{1, 2, 3, 4, 5, 60, 0.5}));
  EXPECT_EQ(image.PathStorage()->total_vertices(), 0u);
}

}  // namespace
