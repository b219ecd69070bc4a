#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "svg_support.h"

namespace {

using svgtest::doc;
using svgtest::dump;
using svgtest::load;
using svgtest::log_text;

class SvgParser : public ::testing::Test {
 protected:
  void SetUp() override { svgtest::start_modules(); }
};

std::string rgba(const tSVGColor& c) {
  return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + "," + std::to_string(c.a);
}

// The single record a one-element document gives, as a compact text of the
// paint fields; or the log when the load fails.
std::string paint_of(const std::string& element) {
  auto l = load(doc(element));
  if (!l.ok) return "fail: " + log_text(*l.image);
  const rSVGPathAttr* a = l.image->Attributes()->Last();
  if (a == nullptr) return "no record";
  std::string out = "fill " + (a->fill_flag ? rgba(a->fill_color) : std::string("off"));
  out += " stroke " + (a->stroke_flag ? rgba(a->stroke_color) : std::string("off"));
  out += " w" + svgtest::num(a->stroke_width) + " cap" + std::to_string(a->line_cap) + " join" +
         std::to_string(a->line_join) + " miter" + svgtest::num(a->miter_limit);
  return out;
}

TEST_F(SvgParser, StylesAndPresentationAttributes) {
  const std::pair<const char*, const char*> cases[] = {
      {"<path d='M0 0' style='fill:#ff0000; stroke : blue ;stroke-width:2'/>",
       "fill 255,0,0,255 stroke 0,0,255,255 w2 cap0 join0 miter4"},
      {"<path d='M0 0' style='fill:red;;stroke:blue'/>", "fill 255,0,0,255 stroke off w1 cap0 join0 miter4"},
      {"<path d='M0 0' style='fill:red;;'/>", "fail: 299 {cSVGParser.ParseStyle} | 300 {at line 1}"},
      {"<path d='M0 0' style='fill'/>", "fail: 299 {cSVGParser.ParseStyle} | 300 {at line 1}"},
      {"<path d='M0 0' style='fill :'/>", "fail: 299 {cSVGParser.ParseStyle} | 300 {at line 1}"},
      {"<path d='M0 0' style='  '/>", "fill 0,0,0,255 stroke off w1 cap0 join0 miter4"},
      {"<path d='M0 0' style='stroke:none;stroke-width:1'/>", "fill 0,0,0,255 stroke 0,0,0,255 w1 cap0 join0 miter4"},
      {"<path d='M0 0' fill-opacity='0.5' fill='red'/>", "fill 255,0,0,255 stroke off w1 cap0 join0 miter4"},
      {"<path d='M0 0' fill='red' fill-opacity='0.5'/>", "fill 255,0,0,128 stroke off w1 cap0 join0 miter4"},
      {"<path d='M0 0' fill='none' stroke-opacity='2' stroke='lime' style='stroke-opacity:-1'/>",
       "fill off stroke 0,255,0,0 w1 cap0 join0 miter4"},
      {"<path d='M0 0' stroke-linecap='square' stroke-linejoin='bevel' stroke-miterlimit='9'/>",
       "fill 0,0,0,255 stroke off w1 cap1 join3 miter9"},
      {"<path d='M0 0' stroke-linecap='ROUND ' stroke-linejoin='round' stroke-width='2px'/>",
       "fill 0,0,0,255 stroke 0,0,0,255 w2 cap2 join2 miter4"},
      // Numbers by SVG's grammar: a leading "." or "+", exponents, "px";
      // other units, percentages and other texts read as 0.
      {"<path d='M0 0' stroke-width='.5' stroke-miterlimit='+1e1'/>",
       "fill 0,0,0,255 stroke 0,0,0,255 w0.5 cap0 join0 miter10"},
      {"<path d='M0 0' stroke-width=' 2.5E-1 ' stroke-miterlimit='-.5e+1'/>",
       "fill 0,0,0,255 stroke 0,0,0,255 w0.25 cap0 join0 miter-5"},
      {"<path d='M0 0' stroke-width='2mm' stroke-miterlimit='1,5'/>",
       "fill 0,0,0,255 stroke 0,0,0,255 w0 cap0 join0 miter0"},
      {"<path d='M0 0' stroke-width='50%' stroke-miterlimit='1 2'/>",
       "fill 0,0,0,255 stroke 0,0,0,255 w0 cap0 join0 miter0"},
      {"<path d='M0 0' fill='red' fill-opacity='.5' stroke-width='1e'/>",
       "fill 255,0,0,128 stroke 0,0,0,255 w0 cap0 join0 miter4"},
      {"<path d='M0 0' stroke-linecap='wide' stroke-linejoin='?'/>", "fill 0,0,0,255 stroke off w1 cap0 join0 miter4"},
      {"<g fill='blue' stroke-width='3'><path d='M0 0' fill-opacity='0'/></g>",
       "fill 0,0,255,0 stroke 0,0,0,255 w3 cap0 join0 miter4"},
      {"<path d='M0 0' style='style:fill:red'/>", "fill 255,0,0,255 stroke off w1 cap0 join0 miter4"},
      // Colours.
      {"<path d='M0 0' fill='#FFF'/>", "fail: 301 {Length(cv)<>6} | 300 {at line 1}"},
      {"<path d='M0 0' fill='#ffcc00'/>", "fill 255,204,0,255 stroke off w1 cap0 join0 miter4"},
      {"<path d='M0 0' fill=' #ffcc00ff'/>", "fail: 301 {Length(cv)<>6} | 300 {at line 1}"},
      {"<path d='M0 0' fill='Red'/>", "fill 255,0,0,255 stroke off w1 cap0 join0 miter4"},
      {"<path d='M0 0' fill='transparent'/>", "fail: 301 {not color_find_by_name(\"transparent\")} | 300 {at line 1}"},
      {"<path d='M0 0' fill='currentColor'/>",
       "fail: 301 {not color_find_by_name(\"currentColor\")} | 300 {at line 1}"},
      {"<path d='M0 0' fill='rgb(1,2,3)'/>", "fail: 301 {not color_find_by_name(\"rgb\")} | 300 {at line 1}"},
      {"<path d='M0 0' fill='zzzzzzzzzzz'/>", "fill 0,0,0,0 stroke off w1 cap0 join0 miter4"},
      {"<path d='M0 0' stroke='1 2'/>", "fail: 301 {case ph of else} | 300 {at line 1}"},
      // The shapes name the attribute that failed.
      {"<rect width='1' height='1' fill='#12'/>", "fail: 301 {Length(cv)<>6} | 299 {not ParseAttr} | 300 {at line 1}"},
      {"<circle r='1' style='fill:#12'/>",
       "fail: 301 {Length(cv)<>6} | 299 {cSVGParser.paircall} | 299 {not ParseStyle} | 300 {at line 1}"},
  };
  for (const auto& [element, expected] : cases) {
    SCOPED_TRACE(element);
    EXPECT_EQ(paint_of(element), expected);
  }
}

TEST_F(SvgParser, StyleNestingIsCapped) {
  std::string style;
  for (int i = 0; i < 100000; ++i) style += "style:";
  style += "fill:red";
  auto l = load(doc("<path d='M0 0' style='" + style + "'/>"));
  EXPECT_FALSE(l.ok);
  EXPECT_NE(log_text(*l.image).find("299 {cSVGParser.ParseStyle}"), std::string::npos);
  // Seven levels inside the attribute's own style are allowed.
  EXPECT_EQ(paint_of("<path d='M0 0' style='style:style:style:style:style:style:style:fill:red'/>"),
            "fill 255,0,0,255 stroke off w1 cap0 join0 miter4");
}

// A transform attribute on a path at the origin, shown by where it sends
// three points; or the log.
std::string transform_of(const std::string& transform) {
  auto l = load(doc("<path d='M0 0' transform='" + transform + "'/>"));
  if (!l.ok) return "fail: " + log_text(*l.image);
  const agg::trans_affine& m = l.image->Attributes()->Last()->transform;
  std::string out;
  for (auto [x, y] : {std::pair{0.0, 0.0}, std::pair{1.0, 0.0}, std::pair{0.0, 1.0}}) {
    m.transform(&x, &y);
    if (!out.empty()) out += " ";
    out += svgtest::num(std::round(x * 1e9) / 1e9 + 0.0) + "," + svgtest::num(std::round(y * 1e9) / 1e9 + 0.0);
  }
  return out;
}

TEST_F(SvgParser, Transforms) {
  const std::pair<const char*, const char*> cases[] = {
      {"translate (10,20)", "10,20 11,20 10,21"},
      {"translate(10 20)", "10,20 11,20 10,21"},
      {"translate(10)", "10,0 11,0 10,1"},
      {"translate()", "0,0 1,0 0,1"},
      // A list applies from right to left: the last function first.
      {"translate(10,10) scale(2)", "10,10 12,10 10,12"},
      {"translate(-560,0) scale(2.5)", "-560,0 -557.5,0 -560,2.5"},
      {"scale(2.5) translate(-560,0)", "-1400,0 -1397.5,0 -1400,2.5"},
      {"translate(10)translate(5) , rotate(90)", "15,0 15,1 14,0"},
      {" matrix(0 1 -1 0 450 0) ", "450,0 450,1 449,0"},
      {"translate(.5,-.5e1)", "0.5,-5 1.5,-5 0.5,-4"},
      {"translate(+3)", "3,0 4,0 3,1"},
      {"scale(2) foo(1)", "fail: 299 {cSVGParser.ParseTransform,trid=\"FOO\"} | 300 {at line 1}"},
      {"scale(2),scale(3)", "0,0 6,0 0,6"},
      {"rotate(90,10,10)", "20,0 20,1 19,0"},
      {"rotate(90 10 10)", "20,0 20,1 19,0"},
      {"rotate(90,10)", "fail: 299 {cSVGParser.ParseTransform,count<>1 or 3} | 300 {at line 1}"},
      {"scale(2)", "0,0 2,0 0,2"},
      {"scale(2,3)", "0,0 2,0 0,3"},
      {"scale()", "fail: 299 {cSVGParser.ParseTransform,count=0} | 300 {at line 1}"},
      {"skewX(45)", "0,0 1,0 1,1"},
      {"skewY(45)", "0,0 1,1 0,1"},
      {"matrix(1,2,3,4,5,6)", "5,6 6,8 8,10"},
      {"matrix(1,2,3,4,5)", "fail: 299 {cSVGParser.ParseTransform,count<>6} | 300 {at line 1}"},
      {"matrix(1,2,3,4,5,6,7)", "fail: 299 {cSVGParser.ParseTransform,count>6} | 300 {at line 1}"},
      {"foo(1)", "fail: 299 {cSVGParser.ParseTransform,trid=\"FOO\"} | 300 {at line 1}"},
      {"", "fail: 299 {cSVGParser.ParseTransform,trid=\"\"} | 300 {at line 1}"},
      {"rotate(90", "0,0 0,1 -1,0"},
      {"scale(2px,3)", "0,0 2,0 0,3"},
      // Exponents, with or without a sign.
      {"scale(1e-5)", "0,0 0.00001,0 0,0.00001"},
      {"translate(2.5E-1,1e+1)", "0.25,10 1.25,10 0.25,11"},
      {"matrix(1,0,0,1,-2e-1,3E2)", "-0.2,300 0.8,300 -0.2,301"},
      {"rotate(9e1)", "0,0 0,1 -1,0"},
      {"translate(10-20,5)", "10,-20 11,-20 10,-19"},  // a sign starts the next number
      {"translate(1e-,5)", "1,5 2,5 1,6"},             // "e-" without digits is no exponent
  };
  for (const auto& [transform, expected] : cases) {
    SCOPED_TRACE(transform);
    EXPECT_EQ(transform_of(transform), expected);
  }
}

// A list with an unsound function changes nothing; a sound one changes the
// matrix once, as a whole.
TEST_F(SvgParser, TransformListsApplyOnlyWhenSound) {
  cImageSVG image;
  cSVGParser parser(&image, nullptr);
  agg::trans_affine m = agg::trans_affine_translation(1, 2);
  EXPECT_FALSE(parser.ParseTransform("scale(2) rotate(1,2)", m));
  EXPECT_TRUE(m == agg::trans_affine_translation(1, 2));
  EXPECT_EQ(log_text(image), "299 {cSVGParser.ParseTransform,count<>1 or 3}");
  ASSERT_TRUE(parser.ParseTransform("scale(2) translate(3)", m));
  double x = 0, y = 0;
  m.transform(&x, &y);  // translated by 3, scaled by 2, then the matrix handed down
  EXPECT_EQ(x, 7);
  EXPECT_EQ(y, 2);
}

void expect_bounds(cImageSVG& image, double y1, double x1, double x2, double y2) {
  rRectD b;
  image.Bounds(b);
  EXPECT_NEAR(b.y1, y1, 1e-9);
  EXPECT_NEAR(b.x1, x1, 1e-9);
  EXPECT_NEAR(b.x2, x2, 1e-9);
  EXPECT_NEAR(b.y2, y2, 1e-9);
}

TEST_F(SvgParser, ShapesAndTheirBounds) {
  struct Case {
    const char* body;
    double y1, x1, x2, y2;
  };
  const Case cases[] = {
      {"<rect x='10' y='20' width='30' height='40'/>", 20, 10, 40, 60},
      {"<rect x='10' y='20' width='30' height='40' transform='translate(5,0)'/>", 20, 15, 45, 60},
      {"<g transform='scale(2)'><rect width='5' height='5' transform='translate(10,0)'/></g>", 0, 20, 30, 10},
      {"<circle cx='50' cy='50' r='10' stroke-width='8' stroke='red'/>", 40, 40, 60, 60},
      {"<ellipse cx='50' cy='50' rx='10' ry='5'/>", 45, 40, 60, 55},
      {"<line x1='1' y1='2' x2='-3' y2='4'/>", 2, -3, 1, 4},
      {"<polygon points='0,0 10,0 5,8'/>", 0, 0, 10, 8},
      {"<rect width='0' height='5'/><circle cx='50' cy='50' r='10'/>", 40, 40, 60, 60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    auto l = load(doc(c.body));
    ASSERT_TRUE(l.ok) << log_text(*l.image);
    expect_bounds(*l.image, c.y1, c.x1, c.x2, c.y2);
    svgtest::expect_model_invariants(*l.image);
  }
}

// The outline each shape writes into the path storage; or the log.
TEST_F(SvgParser, ShapeOutlines) {
  const std::pair<const char*, const char*> cases[] = {
      {"<rect width='10' height='10' rx='3'/>", "M0,0 L10,0 L10,10 L0,10 L0,0 Z"},
      {"<rect width='-1' height='10'/>", "fail: 299 {cSVGParser.ParseRect,Rect.width<0} | 300 {at line 1}"},
      {"<rect width='1' height='-10'/>", "fail: 299 {cSVGParser.ParseRect,Rect.height<0} | 300 {at line 1}"},
      {"<rect width='1' height='1' ry='-1'/>", "fail: 299 {cSVGParser.ParseRect,Rect.ry<0} | 300 {at line 1}"},
      {"<rect width='0' height='10'/>", ""},
      {"<circle r='0'/>", ""},
      {"<circle r='-2'/>", "fail: 299 {cSVGParser.ParseCircle,Circle.r<0} | 300 {at line 1}"},
      {"<ellipse rx='2' ry='-2'/>", "fail: 299 {cSVGParser.ParseEllipse,Ellipse.ry<0} | 300 {at line 1}"},
      {"<line/>", "M0,0 L0,0"},
      {"<polyline points='1,2 3,4 5,6'/>", "M1,2 L3,4 L5,6"},
      {"<polygon points='1,2 3,4'/>", "M1,2 L3,4 Z"},
      {"<polyline/>", ""},
      {"<polyline points='1,2 3,4 5'/>", "fail: 299 {cSVGParser.ParsePoly,mArgs.Count mod 2 <> 0} | 300 {at line 1}"},
  };
  for (const auto& [element, expected] : cases) {
    SCOPED_TRACE(element);
    auto l = load(doc(element));
    if (!l.ok) {
      EXPECT_EQ("fail: " + log_text(*l.image), expected);
      continue;
    }
    ASSERT_EQ(l.image->Attributes()->Count(), 1u);
    EXPECT_EQ(dump(*l.image->PathStorage(), l.image->Attributes()->First()->index), expected);
  }
  // Both radii round the corners.
  auto rounded = load(doc("<rect width='10' height='10' rx='3' ry='3'/>"));
  ASSERT_TRUE(rounded.ok);
  EXPECT_NE(dump(*rounded.image->PathStorage()).find('C'), std::string::npos);
}

TEST_F(SvgParser, ZeroSizedShapeDrawsNothing) {
  auto l = load(doc("<rect width=\"0\"/><circle cx=\"50\" cy=\"50\" r=\"10\"/>"));
  ASSERT_TRUE(l.ok) << log_text(*l.image);
  cSVGAttributes& attrs = *l.image->Attributes();
  ASSERT_EQ(attrs.Count(), 2u);
  EXPECT_NE(attrs.Get(1)->index, attrs.Get(2)->index);
  EXPECT_EQ(dump(*l.image->PathStorage(), attrs.Get(1)->index), "");
  EXPECT_NE(dump(*l.image->PathStorage(), attrs.Get(2)->index), "");
}

TEST_F(SvgParser, DefsMasksGroupsAndTitle) {
  struct Case {
    const char* body;
    uint32_t records;
    const char* log;
  };
  const Case cases[] = {
      {"<defs><g fill='red'><rect width='5' height='5'/></g><path d='M0 0'/></defs><rect width='1' height='1'/>", 1,
       ""},
      {"<defs><defs/></defs>", 0, "299 {this.mInDefs=TRUE} | 300 {at line 1}"},
      {"<mask><rect width='1' height='1'/></mask>", 1, ""},
      {"<mask><mask/></mask>", 0, "299 {this.mInMask=TRUE} | 300 {at line 1}"},
      {"<path d='M0 0'><path d='M1 1'/></path>", 1, "299 {this.mInPath=TRUE} | 300 {at line 1}"},
      {"<g><g><path d='M0 0'/></g><rect width='1' height='1'/></g><use/><text>x</text>", 2, ""},
      {"<linearGradient><linearGradient/></linearGradient>", 0,
       "299 {this.mInGrad<>GR_NONE} | 299 {this.mInGrad<>GR_LINEAR} | 300 {at line 1}"},
      {"<mask><linearGradient id='m'/></mask><rect width='1' height='1' fill='url(#m)'/>", 1,
       "301 {not gradient_find_by_ref(\"m\")} | 301 {not color_find_by_name(\"url\")} | 299 {not ParseAttr} | 300 {at "
       "line 1}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    auto l = load(doc(c.body));
    EXPECT_EQ(l.ok, *c.log == 0);
    EXPECT_EQ(log_text(*l.image), c.log);
    EXPECT_EQ(l.image->Attributes()->Count(), c.records);
    if (l.ok) {
      for (const rSVGPathAttr* a = l.image->Attributes()->First(); a != nullptr; a = l.image->Attributes()->Next(a))
        EXPECT_EQ(rgba(a->fill_color), "0,0,0,255");
    }
  }
  auto titled = load(doc("<title>Wood</title><g><title> &amp; Stone</title></g>"));
  ASSERT_TRUE(titled.ok);
  EXPECT_EQ(titled.image->Title(), "Wood & Stone");
}

// Gradients: defaults, coordinates, href inheritance and references.
TEST_F(SvgParser, Gradients) {
  auto l =
      load(doc("<defs>"
               "<linearGradient id='plain'/>"
               "<linearGradient id='half' x2='50%' y2='4'/>"
               "<linearGradient id='down' x1='0' y1='0' x2='0' y2='10'/>"
               "<linearGradient id='back' x1='10' x2='0'/>"
               "<radialGradient id='round' r='20'/>"
               "<linearGradient id='base' spreadMethod='reflect' gradientUnits='userSpaceOnUse' "
               "gradientTransform='scale(2)' x1='5' y2='30%'><stop offset='0.5' stop-color='red'/></linearGradient>"
               "<linearGradient id='child' xlink:href='#base' x2='7'/>"
               "<linearGradient id='own' xlink:href='#child' y2='1'><stop offset='1'/></linearGradient>"
               "<radialGradient id='other' xlink:href='#base'/>"
               "<linearGradient id='lost' xlink:href='#nowhere'/>"
               "<linearGradient id='self' xlink:href='#self'/>"
               "<linearGradient id='p' xlink:href='#q'/><linearGradient id='q' xlink:href='#p'/>"
               "</defs>"
               "<rect width='1' height='1' fill='url(#BASE )' stroke='url( #own)'/>"
               "<g fill='url(#plain)'><rect width='1' height='1'/><rect width='1' height='1' fill='red'/></g>"));
  ASSERT_TRUE(l.ok) << log_text(*l.image);
  cSVGGradients* list = l.image->Gradients();
  ASSERT_NE(list, nullptr);
  auto find = [&](const char* id) {
    rSVGGradient* g = gradient_find_by_ref(list, id);
    EXPECT_NE(g, nullptr) << id;
    return g;
  };
  const uint16_t linear = cnSVGGradX1 | cnSVGGradY1 | cnSVGGradX2 | cnSVGGradY2;
  const uint16_t radial = cnSVGGradCX | cnSVGGradCY | cnSVGGradR | cnSVGGradFX | cnSVGGradFY;

  rSVGGradient* plain = find("plain");
  EXPECT_EQ(plain->kind, GR_LINEAR);
  EXPECT_EQ(plain->units, cnSVGUnitsObjectBoundingBox);
  EXPECT_EQ(plain->spread, cnSVGSpreadPad);
  EXPECT_EQ(plain->x2, 100);
  EXPECT_EQ(plain->given, linear);
  EXPECT_EQ(plain->percent, linear);
  EXPECT_EQ(plain->length, 100);
  EXPECT_EQ(plain->angle, 0);
  EXPECT_TRUE(plain->transform.is_identity());
  EXPECT_EQ(plain->stops, nullptr);

  rSVGGradient* half = find("half");
  EXPECT_EQ(half->x2, 50);
  EXPECT_EQ(half->y2, 4);
  EXPECT_EQ(half->percent, cnSVGGradX1 | cnSVGGradY1 | cnSVGGradX2);
  EXPECT_EQ(find("down")->angle, 90);
  EXPECT_EQ(find("down")->length, 10);
  EXPECT_EQ(find("back")->angle, 180);

  rSVGGradient* round = find("round");
  EXPECT_EQ(round->kind, GR_RADIAL);
  EXPECT_EQ(round->r, 20);
  EXPECT_EQ(round->cx, 50);
  EXPECT_EQ(round->given, radial);
  EXPECT_EQ(round->percent, radial & ~cnSVGGradR);

  // A focus not given lies on the centre, as written.
  auto focused = load(doc("<radialGradient id='c' cx='10' cy='20%' fy='3'/>"));
  ASSERT_TRUE(focused.ok);
  rSVGGradient* c = gradient_find_by_ref(focused.image->Gradients(), "c");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->fx, 10);
  EXPECT_EQ(c->fy, 3);
  EXPECT_EQ(c->percent & (cnSVGGradCX | cnSVGGradCY | cnSVGGradFX | cnSVGGradFY), cnSVGGradCY);

  rSVGGradient* base = find("base");
  ASSERT_NE(base->stops, nullptr);
  EXPECT_TRUE(base->owns_stops);
  ASSERT_EQ(base->stops->Count(), 1u);
  EXPECT_EQ(base->stops->First()->offset, 0.5);

  rSVGGradient* child = find("child");
  EXPECT_EQ(child->href_target, base);
  EXPECT_EQ(child->stops, base->stops);
  EXPECT_FALSE(child->owns_stops);
  EXPECT_EQ(child->units, cnSVGUnitsUserSpaceOnUse);
  EXPECT_EQ(child->spread, cnSVGSpreadReflect);
  EXPECT_TRUE(child->transform_given);
  EXPECT_EQ(child->transform.sx, 2);
  EXPECT_EQ(child->x1, 5);
  EXPECT_EQ(child->x2, 7);
  EXPECT_EQ(child->y2, 30);
  EXPECT_EQ(child->percent & (cnSVGGradX1 | cnSVGGradX2 | cnSVGGradY2), cnSVGGradY2);

  // Stops of its own make a list of its own; the borrowed one is untouched.
  rSVGGradient* own = find("own");
  ASSERT_NE(own->stops, nullptr);
  EXPECT_NE(own->stops, base->stops);
  EXPECT_TRUE(own->owns_stops);
  EXPECT_EQ(own->stops->Count(), 1u);
  EXPECT_EQ(base->stops->Count(), 1u);
  EXPECT_EQ(own->x1, 5);  // from base, two steps along the chain
  EXPECT_EQ(own->y2, 1);

  rSVGGradient* other = find("other");  // a radial gradient takes no linear coordinates
  EXPECT_EQ(other->stops, base->stops);
  EXPECT_EQ(other->spread, cnSVGSpreadReflect);
  EXPECT_EQ(other->given & cnSVGGradX1, 0);
  EXPECT_EQ(find("lost")->href_target, nullptr);
  EXPECT_EQ(find("self")->href_target, find("self"));
  EXPECT_EQ(find("p")->href_target, nullptr);  // q is defined later
  EXPECT_EQ(find("q")->href_target, find("p"));

  cSVGAttributes& attrs = *l.image->Attributes();
  ASSERT_EQ(attrs.Count(), 3u);
  EXPECT_EQ(attrs.Get(1)->fill_gradient, base);
  EXPECT_EQ(attrs.Get(1)->stroke_gradient, own);
  EXPECT_TRUE(attrs.Get(1)->stroke_flag);
  EXPECT_EQ(attrs.Get(2)->fill_gradient, plain);
  // A colour replaces the gradient the group handed down.
  EXPECT_EQ(attrs.Get(3)->fill_gradient, nullptr);
  EXPECT_EQ(rgba(attrs.Get(3)->fill_color), "255,0,0,255");
}

// The direction of a linear gradient's vector in degrees (y grows
// downwards), as the drawing side rotates the gradient by it.
TEST_F(SvgParser, LinearGradientAngles) {
  const struct {
    const char* coordinates;
    double angle;
  } cases[] = {
      {"", 0},
      {"x1='0' y1='0' x2='0' y2='10'", 90},
      {"x1='0' y1='10' x2='0' y2='0'", 270},  // up, not down
      {"x1='0%' y1='100%' x2='0%' y2='0%'", 270},
      {"x1='3' y1='-2' x2='3' y2='-9'", 270},
      {"x1='5' y1='5' x2='5' y2='5'", 90},  // no length: unchanged
      {"x1='10' x2='0'", 180},
      {"x1='0' y1='0' x2='10' y2='10'", 45},
      {"x1='0' y1='10' x2='10' y2='0'", 315},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.coordinates);
    auto l = load(doc(std::string("<defs><linearGradient id='g' ") + c.coordinates + "/></defs>"));
    ASSERT_TRUE(l.ok) << log_text(*l.image);
    const rSVGGradient* g = gradient_find_by_ref(l.image->Gradients(), "g");
    ASSERT_NE(g, nullptr);
    EXPECT_NEAR(g->angle, c.angle, 1e-9);
  }
}

TEST_F(SvgParser, UrlBeforeDefinitionFails) {
  auto l = load(doc("<path d='M0 0' fill='url(#g)'/><defs><linearGradient id='g'/></defs>"));
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(log_text(*l.image),
            "301 {not gradient_find_by_ref(\"g\")} | 301 {not color_find_by_name(\"url\")} | 300 {at line 1}");
  // Texts that are no reference are tried as colours.
  EXPECT_EQ(paint_of("<path d='M0 0' fill='url(g)'/>"),
            "fail: 301 {not color_find_by_name(\"url\")} | 300 {at line 1}");
}

TEST_F(SvgParser, Stops) {
  struct Case {
    const char* attrs;
    double offset;
    const char* color;
  };
  const Case cases[] = {
      {"offset='150%'", 1.0, "0,0,0,255"},
      {"offset='-1'", 0, "0,0,0,255"},
      {"offset='0.25'", 0.25, "0,0,0,255"},
      {"offset='50%'", 0.5, "0,0,0,255"},
      {"offset='2'", 1, "0,0,0,255"},
      {"style='stop-color:#00ff00;stop-opacity:0.5'", 0, "0,255,0,128"},
      {"stop-opacity='0.5' stop-color='navy' id='s'", 0, "0,0,128,255"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attrs);
    auto l = load(doc(std::string("<radialGradient id='g'><stop ") + c.attrs + "/></radialGradient>"));
    ASSERT_TRUE(l.ok) << log_text(*l.image);
    const rSVGStop* stop = gradient_find_by_ref(l.image->Gradients(), "g")->stops->First();
    EXPECT_EQ(stop->offset, c.offset);
    EXPECT_EQ(rgba(stop->color), c.color);
  }
  auto bad = load(doc("<linearGradient><stop stop-color='#1'/></linearGradient><stop/>"));
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(log_text(*bad.image), "301 {Length(cv)<>6} | 300 {at line 1}");
}

TEST_F(SvgParser, HugeTransformsKeepTheBoundsFinite) {
  std::string body;
  for (int i = 0; i < 20; ++i) body += "<g transform='scale(1e18)'>";
  body += "<path d='M0 0 C0 1 1 1 1 0'/>";
  for (int i = 0; i < 20; ++i) body += "</g>";
  body += "<path d='M1 2 L3 4'/>";
  auto l = load(doc(body));
  ASSERT_TRUE(l.ok) << log_text(*l.image);
  expect_bounds(*l.image, 2, 1, 3, 4);
}

}  // namespace

namespace {

// A long chain of gradients, each naming the one before: linear work, and
// the last still gets what the first defines.
TEST_F(SvgParser, LongHrefChainsStayLinear) {
  std::string body = "<defs><linearGradient id='g0' spreadMethod='repeat'><stop offset='1'/></linearGradient>";
  for (int i = 1; i < 5000; ++i)
    body += "<linearGradient id='g" + std::to_string(i) + "' xlink:href='#g" + std::to_string(i - 1) + "'/>";
  body += "</defs>";
  auto l = load(doc(body));
  ASSERT_TRUE(l.ok) << log_text(*l.image);
  const rSVGGradient* first = gradient_find_by_ref(l.image->Gradients(), "g0");
  const rSVGGradient* last = gradient_find_by_ref(l.image->Gradients(), "g4999");
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->stops, first->stops);
  EXPECT_EQ(last->spread, cnSVGSpreadRepeat);
}

}  // namespace
