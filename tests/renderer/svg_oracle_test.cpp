// SVG pictures against the renderer itself: each small document is drawn
// with DrawSVG, and the same shapes are drawn directly through the renderer
// with the transform, gradient vector or line join that SVG prescribes for
// them. The two pictures must agree pixel for pixel (gradients within one
// colour level: the two mappings of a gradient reach the same value through
// different floating-point products).
#include <gtest/gtest.h>

#include <agg_conv_curve.h>
#include <agg_path_storage.h>
#include <agg_trans_affine.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "bitmap_builders.h"
#include "qlm_base_flow.h"
#include "qlm_colors.h"
#include "qlm_gradient.h"
#include "qlm_path.h"
#include "qlm_renderer_engine.h"
#include "qlm_svg.h"
#include "renderer_support.h"

namespace {

using testenv::pixel_argb;

constexpr int kW = 140, kH = 90;

class SvgOracleTest : public testenv::RendererTest {
 protected:
  void SetUp() override {
    RendererTest::SetUp();
    qlm_colors_start();
    qlm_svg_start();
  }
};

struct Canvas {
  Canvas() : bitmap(testenv::solid_bitmap(kW, kH, cnBitmap32BGRA, 0xFFFFFFFFu)) {
    EXPECT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_TRUE(r.AttachSurface(&surface));
  }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cRendererSurface r;
};

// The document drawn at its own coordinates (its box placed where it lies).
std::unique_ptr<Canvas> draw_svg(const std::string& body, const std::string& root = "") {
  const std::string text = "<svg xmlns=\"http://www.w3.org/2000/svg\"" + root + ">" + body + "</svg>";
  cImageSVG svg;
  auto flow = cMemoryFlow::ConstructReadOnly(true, text.data(), int64_t(text.size()));
  EXPECT_TRUE(flow->Open());
  EXPECT_TRUE(svg.Open(flow.get(), nullptr)) << text;
  auto canvas = std::make_unique<Canvas>();
  rRectD b;
  svg.Bounds(b);
  canvas->r.DrawSVG(&svg, nullptr, b.x1, b.y1, nullptr);
  return canvas;
}

// The renderer set up as SVG paints: fill on in a colour, pen off.
std::unique_ptr<Canvas> draw_direct(const std::function<void(cRenderer&)>& draw) {
  auto canvas = std::make_unique<Canvas>();
  canvas->r.FillOn();
  canvas->r.FillSolid();
  canvas->r.PenOff();
  draw(canvas->r);
  return canvas;
}

// The largest difference of a colour channel between the two pictures, and
// whether anything was drawn at all.
int max_difference(const Canvas& a, const Canvas& b, int& ink) {
  int worst = 0;
  ink = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint32_t pa = pixel_argb(*a.bitmap, x, y), pb = pixel_argb(*b.bitmap, x, y);
      if (pa != 0xFFFFFFFFu) ++ink;
      for (int shift = 0; shift < 32; shift += 8)
        worst = std::max(worst, std::abs(int((pa >> shift) & 0xFF) - int((pb >> shift) & 0xFF)));
    }
  return worst;
}

void expect_same(const Canvas& svg, const Canvas& direct, int tolerance = 0) {
  int ink = 0;
  EXPECT_LE(max_difference(svg, direct, ink), tolerance);
  EXPECT_GT(ink, 100);
}

rMatrix matrix_of(const agg::trans_affine& m) { return rMatrix{m.sx, m.shy, m.shx, m.sy, m.tx, m.ty}; }

// The outline an SVG rect writes: move, the four sides, close.
void add_rect(cPath& path, double x, double y, double w, double h) {
  path.MoveTo(x, y);
  path.LineTo(x + w, y);
  path.LineTo(x + w, y + h);
  path.LineTo(x, y + h);
  path.LineTo(x, y);
  path.ClosePolygon();
}

constexpr double kDegree = 3.14159265358979323846 / 180;

// A transform list applies as a whole, from right to left, with commas or
// white space between functions and numbers.
TEST_F(SvgOracleTest, TransformListsApplyWhole) {
  struct Case {
    const char* transform;
    agg::trans_affine matrix;  // what SVG prescribes (AGG order: first applied first)
  };
  const Case cases[] = {
      {"translate(30,10) scale(2.5) rotate(10)", agg::trans_affine_rotation(10 * kDegree) *
                                                     agg::trans_affine_scaling(2.5) *
                                                     agg::trans_affine_translation(30, 10)},
      {"matrix(0 1 -1 0 90 5)", agg::trans_affine(0, 1, -1, 0, 90, 5)},
      {"translate(100 , 80)rotate(180) skewX(20)", agg::trans_affine_skewing(20 * kDegree, 0) *
                                                       agg::trans_affine_rotation(180 * kDegree) *
                                                       agg::trans_affine_translation(100, 80)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.transform);
    auto svg = draw_svg(std::string("<rect x=\"2\" y=\"3\" width=\"20\" height=\"10\" fill=\"#204080\" transform=\"") +
                        c.transform + "\"/>");
    auto direct = draw_direct([&](cRenderer& r) {
      r.SetFillColorARGB(0xFF204080u);
      r.SetMatrix(matrix_of(c.matrix), true);
      cPath path;
      add_rect(path, 2, 3, 20, 10);
      r.DrawPath(&path, nullptr, 0, 0);
    });
    expect_same(*svg, *direct);
  }
}

// Numbers by SVG's grammar (leading "." or "+", exponents, "px"), arc flags
// without separators, and the current point after a close.
TEST_F(SvgOracleTest, NumbersArcFlagsAndCloses) {
  struct Case {
    const char* body;
    std::function<void(cPath&)> outline;
  };
  const Case cases[] = {
      {"<rect x=\".5e1\" y=\"+10\" width=\"2e1px\" height=\"40.\" fill=\"#204080\"/>",
       [](cPath& p) { add_rect(p, 5, 10, 20, 40); }},
      {"<path d=\"M20 50 a25,25 0 10 50,0z\" fill=\"#204080\"/>",
       [](cPath& p) {
         // The arc, flattened as the SVG drawing flattens it at scale 1 (the
         // renderer's own paths are flattened twice as finely).
         agg::path_storage arc;
         arc.move_to(20, 50);
         arc.arc_to(25, 25, 0, true, false, 70, 50);
         agg::conv_curve<agg::path_storage> flat(arc);
         flat.rewind(0);
         double x, y;
         for (unsigned cmd; !agg::is_stop(cmd = flat.vertex(&x, &y));) {
           if (agg::is_move_to(cmd))
             p.MoveTo(x, y);
           else if (agg::is_vertex(cmd))
             p.LineTo(x, y);
         }
         p.ClosePolygon();
       }},
      // The second square counts from the first one's start, not the origin.
      {"<path d=\"M10 10 h30 v30 h-30 z m 50 .5e1 h20 v20 h-20 z\" fill=\"#204080\"/>",
       [](cPath& p) {
         p.MoveTo(10, 10);
         p.LineTo(40, 10);
         p.LineTo(40, 40);
         p.LineTo(10, 40);
         p.ClosePolygon();
         p.MoveTo(60, 15);
         p.LineTo(80, 15);
         p.LineTo(80, 35);
         p.LineTo(60, 35);
         p.ClosePolygon();
       }},
      // A line after a close starts a new subpath at the closed one's start.
      {"<path d=\"M90 10 h30 v30 z l -20 40\" fill=\"#204080\"/>",
       [](cPath& p) {
         p.MoveTo(90, 10);
         p.LineTo(120, 10);
         p.LineTo(120, 40);
         p.ClosePolygon();
         p.MoveTo(90, 10);
         p.LineTo(70, 50);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    auto svg = draw_svg(c.body);
    auto direct = draw_direct([&](cRenderer& r) {
      r.SetFillColorARGB(0xFF204080u);
      cPath path;
      c.outline(path);
      r.DrawPath(&path, nullptr, 0, 0);
    });
    expect_same(*svg, *direct);
  }
}

// SVG's miter join bevels where the miter would pass the limit; within it,
// it is a miter. The renderer's own pen keeps AGG's miter, cut at the limit.
TEST_F(SvgOracleTest, MiterJoinsBevelBeyondTheLimit) {
  struct Case {
    const char* limit;
    uint8_t join;  // the renderer's join that SVG prescribes here: 0 miter, 2 bevel
  };
  // A right angle: the miter is sqrt(2) = 1.41 times the stroke width.
  const Case cases[] = {{"1.2", 2}, {"1.5", 0}, {"4", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    auto svg = draw_svg(std::string("<path d=\"M20 70 L60 30 L100 70\" fill=\"none\" stroke=\"#000080\" "
                                    "stroke-width=\"12\" stroke-miterlimit=\"") +
                        c.limit + "\"/>");
    auto stroke = [&](uint8_t join) {
      return draw_direct([&](cRenderer& r) {
        r.FillOff();
        r.PenOn();
        r.PenSolid();
        r.SetPenColorARGB(0xFF000080u);
        r.SetPenWidth(12);
        r.SetLineCap(0);
        r.SetLineJoin(join);
        r.SetMiterLimit(std::stod(c.limit));
        const double points[] = {20, 70, 60, 30, 100, 70};
        r.DrawPolyline(points, 3, nullptr);
      });
    };
    expect_same(*svg, *stroke(c.join));
    if (c.join == 2) {
      // The renderer's miter join (0) is cut at the limit: another picture.
      int ink = 0;
      EXPECT_GT(max_difference(*svg, *stroke(0), ink), 100);
    }
  }
}

// Gradient units: an objectBoundingBox gradient (SVG's default) spans the
// shape's box, a userSpaceOnUse percentage is a share of the viewport.
TEST_F(SvgOracleTest, GradientUnitsAndPercentages) {
  const std::string stops = "<stop offset=\"0\" stop-color=\"#000000\"/><stop offset=\"1\" stop-color=\"#ffffff\"/>";
  const std::string rect = "<rect x=\"10\" y=\"20\" width=\"100\" height=\"50\" fill=\"url(#g)\"/>";
  struct Case {
    std::string body;
    std::string root;
    std::function<std::unique_ptr<cGradientColorRamp>()> gradient;  // over the rect's box
  };
  auto linear_x = [] {
    auto g = std::make_unique<cGradientLinearX>(0, 100);
    g->SetFitToBounds(false);
    return std::unique_ptr<cGradientColorRamp>(std::move(g));
  };
  const Case cases[] = {
      // Across the box: the default vector (0, 0)-(100%, 0), fractions, percentages.
      {"<linearGradient id=\"g\">" + stops + "</linearGradient>" + rect, "", linear_x},
      {"<linearGradient id=\"g\" x1=\"0\" x2=\"1\">" + stops + "</linearGradient>" + rect, "", linear_x},
      {"<linearGradient id=\"g\" gradientUnits=\"objectBoundingBox\" x1=\"0%\" y1=\"50%\" x2=\"100%\" y2=\".5\">" +
           stops + "</linearGradient>" + rect,
       "", linear_x},
      // Down the box: y from 0 to 1 of its height.
      {"<linearGradient id=\"g\" x2=\"0\" y2=\"1\">" + stops + "</linearGradient>" + rect, "",
       [] {
         auto g = std::make_unique<cGradientLinearY>(0, 50);
         g->SetFitToBounds(false);
         return std::unique_ptr<cGradientColorRamp>(std::move(g));
       }},
      // userSpaceOnUse percentages of a viewport 200 wide: 5% to 55% is 10 to 110.
      {"<linearGradient id=\"g\" gradientUnits=\"userSpaceOnUse\" x1=\"5%\" x2=\"55%\">" + stops + "</linearGradient>" +
           rect,
       " width=\"200\" height=\"100\"", linear_x},
      {"<linearGradient id=\"g\" gradientUnits=\"userSpaceOnUse\" x1=\"2.5%\" x2=\"27.5%\">" + stops +
           "</linearGradient>" + rect,
       " width=\"1\" height=\"1\" viewBox=\"0 0 400 300\"", linear_x},
      // Without a size on the root, the drawing's bounds (the rect: 100 wide) stand in.
      {"<linearGradient id=\"g\" gradientUnits=\"userSpaceOnUse\" x1=\"10%\" x2=\"110%\">" + stops +
           "</linearGradient>" + rect,
       "", linear_x},
      // A radial gradient with its defaults fills the box as an ellipse.
      {"<radialGradient id=\"g\">" + stops + "</radialGradient>" + rect, "",
       [] {
         auto g = std::make_unique<cGradientRadialFocus>(false, 50, 0, 0);
         g->SetD2(50);
         return std::unique_ptr<cGradientColorRamp>(std::move(g));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    auto svg = draw_svg(c.body, c.root);
    std::unique_ptr<cGradientColorRamp> gradient = c.gradient();
    gradient->AddStopRGBA(0, 0, 0, 255, 0);
    gradient->AddStopRGBA(255, 255, 255, 255, 1);
    auto direct = draw_direct([&](cRenderer& r) {
      r.SetFillGradient(gradient.get());
      cPath path;
      add_rect(path, 10, 20, 100, 50);
      r.DrawPath(&path, nullptr, 0, 0);
      r.ResetFillGradient(true);
    });
    expect_same(*svg, *direct, 1);
  }
}

}  // namespace
