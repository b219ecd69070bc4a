// SVG drawings: sizing and bounds, the override colour, the drawing's own
// gradients (ramp kept in the definition, zero extents, radial centre), hit
// registration, svg_load, and every SVG file of the external corpora drawn.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bitmap_builders.h"
#include "corpora.h"
#include "qlm_base_flow.h"
#include "qlm_base_lists.h"
#include "qlm_colors.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_svg.h"
#include "qlm_svg.h"
#include "renderer_support.h"
#include "sandbox.h"
#include "test_files.h"

namespace {

using testenv::pixel_argb;

constexpr uint32_t kWhite = 0xFFFFFFFFu;

class SvgDrawTest : public testenv::RendererTest {
 protected:
  void SetUp() override {
    RendererTest::SetUp();
    qlm_colors_start();
    qlm_svg_start();
  }
};

std::string doc(const std::string& body) { return "<svg xmlns=\"http://www.w3.org/2000/svg\">" + body + "</svg>"; }

std::unique_ptr<cImageSVG> parse(const std::string& text) {
  auto svg = std::make_unique<cImageSVG>();
  auto flow = cMemoryFlow::ConstructReadOnly(true, text.data(), int64_t(text.size()));
  EXPECT_TRUE(flow->Open());
  EXPECT_TRUE(svg->Open(flow.get(), nullptr)) << text;
  return svg;
}

struct Canvas {
  explicit Canvas(int w = 200, int h = 120) : bitmap(testenv::solid_bitmap(w, h, cnBitmap32BGRA, kWhite)) {
    EXPECT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_TRUE(r.AttachSurface(&surface));
  }
  uint32_t At(int x, int y) const { return pixel_argb(*bitmap, x, y); }
  // The box of pixels that are not the background: x1, y1, x2, y2 (ends
  // exclusive); all 0 without ink.
  std::vector<int> Ink() const {
    int x1 = INT32_MAX, y1 = INT32_MAX, x2 = 0, y2 = 0;
    for (int y = 0; y < bitmap->Height(); ++y)
      for (int x = 0; x < bitmap->Width(); ++x)
        if (At(x, y) != kWhite) {
          x1 = std::min(x1, x), y1 = std::min(y1, y);
          x2 = std::max(x2, x + 1), y2 = std::max(y2, y + 1);
        }
    if (x2 == 0) return {0, 0, 0, 0};
    return {x1, y1, x2, y2};
  }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cRendererSurface r;
};

const std::string kRect50x20 = doc("<rect x=\"10\" y=\"5\" width=\"50\" height=\"20\" fill=\"#204080\"/>");

TEST_F(SvgDrawTest, SizedDrawingsInkTheirBoundsBox) {
  auto svg = parse(kRect50x20);
  struct Case {
    double w, h;
    std::vector<int> ink;
  } cases[] = {
      {100, 0, {20, 30, 120, 70}},  // height from the aspect
      {0, 40, {20, 30, 120, 70}},   // width from the aspect
      {0, 0, {20, 30, 70, 50}},     // natural size
      {25, 60, {20, 30, 45, 90}},   // both given
      {-5, 0, {20, 30, 70, 50}},    // not above 0: natural size
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
    Canvas canvas;
    canvas.r.DrawSVGSized(svg.get(), nullptr, 20, 30, c.w, c.h);
    EXPECT_EQ(canvas.Ink(), c.ink);
    EXPECT_EQ(canvas.At(c.ink[0], c.ink[1]), 0xFF204080u);
    rRectD b;
    canvas.r.GetSVGSizedBounds(svg.get(), 1, 20, 30, c.w, c.h, b);
    EXPECT_EQ(std::vector<double>({b.x1, b.y1, b.x2, b.y2}), std::vector<double>(c.ink.begin(), c.ink.end()));
  }
  // Nil and unopened drawings: nothing drawn, the zero box.
  Canvas canvas;
  cImageSVG unopened;
  rRectD b{1, 2, 3, 4};
  canvas.r.DrawSVGSized(nullptr, nullptr, 0, 0, 10, 10);
  canvas.r.DrawSVG(&unopened, nullptr, 0, 0, nullptr);
  canvas.r.GetSVGSizedBounds(&unopened, 1, 5, 5, 10, 0, b);
  EXPECT_EQ(canvas.Ink(), std::vector<int>({0, 0, 0, 0}));
  EXPECT_EQ(b.x1 + b.x2 + b.y1 + b.y2, 0.0);
}

TEST_F(SvgDrawTest, BoundsFollowTheTransformationsOnlyInDeviceSpace) {
  auto svg = parse(kRect50x20);
  Canvas canvas;
  canvas.r.Rotate(90);
  canvas.r.Translate(3, 0);  // after the rotation: device x + 3
  rRectD user, device;
  canvas.r.GetSVGBounds(svg.get(), nullptr, 20, 30, 0, user);
  canvas.r.GetSVGBounds(svg.get(), nullptr, 20, 30, 1, device);
  EXPECT_DOUBLE_EQ(user.x1, 20);
  EXPECT_DOUBLE_EQ(user.y1, 30);
  EXPECT_DOUBLE_EQ(user.x2, 70);
  EXPECT_DOUBLE_EQ(user.y2, 50);
  // (x, y) -> (-y, x), then moved by 3.
  EXPECT_NEAR(device.x1, -47, 1e-9);
  EXPECT_NEAR(device.x2, -27, 1e-9);
  EXPECT_NEAR(device.y1, 20, 1e-9);
  EXPECT_NEAR(device.y2, 70, 1e-9);
  // A given matrix applies before the placement: scaled by 2 about the origin.
  rMatrix twice{2, 0, 0, 2, 0, 0};
  canvas.r.GetSVGBounds(svg.get(), &twice, 20, 30, 0, user);
  EXPECT_DOUBLE_EQ(user.x1, 30);
  EXPECT_DOUBLE_EQ(user.x2, 130);
  EXPECT_DOUBLE_EQ(user.y1, 35);
  EXPECT_DOUBLE_EQ(user.y2, 75);
}

const std::string kGradientDefs =
    "<defs>"
    "<linearGradient id=\"lin\" gradientUnits=\"userSpaceOnUse\" x1=\"0\" y1=\"0\" x2=\"100\" y2=\"0\">"
    "<stop offset=\"0\" stop-color=\"#000000\"/><stop offset=\"1\" stop-color=\"#ffffff\"/></linearGradient>"
    "<linearGradient id=\"flat\" gradientUnits=\"userSpaceOnUse\" x1=\"50\" y1=\"5\" x2=\"50\" y2=\"5\" "
    "spreadMethod=\"repeat\">"
    "<stop offset=\"0\" stop-color=\"#ff0000\"/><stop offset=\"1\" stop-color=\"#0000ff\"/></linearGradient>"
    "<radialGradient id=\"dot\" gradientUnits=\"userSpaceOnUse\" cx=\"0\" cy=\"0\" r=\"0\" spreadMethod=\"reflect\">"
    "<stop offset=\"0\" stop-color=\"#ff0000\"/><stop offset=\"1\" stop-color=\"#00ff00\"/></radialGradient>"
    "<radialGradient id=\"rad\" gradientUnits=\"userSpaceOnUse\" cx=\"60\" cy=\"40\" r=\"30\" fx=\"60\" fy=\"40\">"
    "<stop offset=\"0\" stop-color=\"#00ff00\"/><stop offset=\"1\" stop-color=\"#0000ff\"/></radialGradient>"
    "<radialGradient id=\"foc\" gradientUnits=\"userSpaceOnUse\" cx=\"60\" cy=\"40\" r=\"30\" fx=\"200\" fy=\"40\">"
    "<stop offset=\"0\" stop-color=\"#00ff00\"/><stop offset=\"1\" stop-color=\"#0000ff\"/></radialGradient>"
    "</defs>";

TEST_F(SvgDrawTest, LinearGradientRunsFromFirstToLastStopAndKeepsItsRamp) {
  auto svg = parse(doc(kGradientDefs + "<rect x=\"0\" y=\"0\" width=\"100\" height=\"10\" fill=\"url(#lin)\"/>"));
  Canvas canvas;
  canvas.r.DrawSVG(svg.get(), nullptr, 0, 0, nullptr);
  // Each column within 3 of the ideal value at its centre (the 256-entry
  // table and the 1/16 steps of AGG's gradient lag by up to 2.5), never
  // falling; the ends within 2 of the stops' ideal values.
  EXPECT_LE(canvas.At(0, 5) & 0xFF, 2u);
  EXPECT_GE(canvas.At(99, 5) & 0xFF, 252u);
  for (int x = 0; x < 100; ++x) {
    EXPECT_NEAR(double(canvas.At(x, 5) & 0xFF), 255.0 * (x + 0.5) / 100.0, 3.0) << x;
    if (x > 0) {
      EXPECT_GE(canvas.At(x, 5) & 0xFF, canvas.At(x - 1, 5) & 0xFF) << x;
    }
  }
  EXPECT_EQ(canvas.At(100, 5), kWhite);
  rSVGGradient* lin = svg->Gradients()->FindByRef("lin");
  ASSERT_NE(lin, nullptr);
  cSVGGradientCache* ramp = lin->cache;
  ASSERT_NE(ramp, nullptr);
  canvas.r.DrawSVG(svg.get(), nullptr, 0, 20, nullptr);
  EXPECT_EQ(lin->cache, ramp);
  EXPECT_EQ(canvas.At(50, 25), canvas.At(50, 5));
  // Under a scaled placement the gradient follows the shape.
  Canvas sized;
  sized.r.DrawSVGSized(svg.get(), nullptr, 0, 0, 200, 0);
  EXPECT_NEAR(double(sized.At(100, 10) & 0xFF), double(canvas.At(50, 5) & 0xFF), 2.0);
}

// Two render threads draw one drawing: the first use of each gradient makes
// its ramp under the lock, and both pictures come out alike.
TEST_F(SvgDrawTest, OneDrawingDrawnFromTwoThreads) {
  auto svg = parse(doc(kGradientDefs + "<rect x=\"0\" y=\"0\" width=\"100\" height=\"10\" fill=\"url(#lin)\"/>"
                                       "<rect x=\"0\" y=\"20\" width=\"120\" height=\"80\" fill=\"url(#rad)\"/>"));
  Canvas a, b;
  auto run = [&svg](Canvas* c) {
    for (int i = 0; i < 20; ++i) c->r.DrawSVG(svg.get(), nullptr, 0, 0, nullptr);
  };
  std::thread ta(run, &a), tb(run, &b);
  ta.join();
  tb.join();
  EXPECT_EQ(0, std::memcmp(a.bitmap->Data(), b.bitmap->Data(), size_t(a.bitmap->Stride()) * a.bitmap->Height()));
  EXPECT_NE(svg->Gradients()->FindByRef("rad")->cache, nullptr);
}

TEST_F(SvgDrawTest, GradientsWithoutExtentPaintTheirLastStop) {
  auto svg = parse(doc(kGradientDefs + "<rect x=\"0\" y=\"0\" width=\"100\" height=\"10\" fill=\"url(#flat)\"/>"
                                       "<rect x=\"0\" y=\"20\" width=\"100\" height=\"10\" fill=\"url(#dot)\"/>"));
  Canvas canvas;
  canvas.r.DrawSVG(svg.get(), nullptr, 0, 0, nullptr);
  for (int x : {0, 50, 99}) {
    EXPECT_EQ(canvas.At(x, 5), 0xFF0000FFu) << x;
    EXPECT_EQ(canvas.At(x, 25), 0xFF00FF00u) << x;
  }
}

// Stops that share an offset switch colour there, the later one deciding
// from that offset on: a 200-unit vector across a 200-pixel rectangle, red
// left of the middle and blue right of it, where only the edge pixels may
// mix.
TEST_F(SvgDrawTest, StopsAtOneOffsetSwitchColourThere) {
  const char* red = "#ff0000";
  const char* green = "#00ff00";
  const char* blue = "#0000ff";
  const std::vector<std::vector<std::pair<const char*, const char*>>> cases = {
      {{"0", red}, {".5", red}, {".5", blue}, {"1", blue}},
      {{".5", red}, {".5", green}, {".5", blue}},  // the middle stop has no width
      {{"0", red}, {".5", red}, {".5", green}, {".5", blue}, {"1", blue}},
  };
  for (const auto& list : cases) {
    std::string stops;
    for (const auto& [offset, colour] : list)
      stops += std::string("<stop offset=\"") + offset + "\" stop-color=\"" + colour + "\"/>";
    SCOPED_TRACE(stops);
    auto svg = parse(doc("<defs><linearGradient id=\"h\" gradientUnits=\"userSpaceOnUse\" x1=\"0\" x2=\"200\">" +
                         stops + "</linearGradient></defs><rect width=\"200\" height=\"10\" fill=\"url(#h)\"/>"));
    Canvas canvas;
    canvas.r.DrawSVG(svg.get(), nullptr, 0, 0, nullptr);
    for (int x : {0, 50, 90, 98}) EXPECT_EQ(canvas.At(x, 5), 0xFFFF0000u) << x;
    for (int x : {101, 110, 150, 190, 199}) EXPECT_EQ(canvas.At(x, 5), 0xFF0000FFu) << x;
  }
  // At the ends: from offset 0 on the later stop paints everything; at
  // offset 1 it is the colour padded beyond the vector's end.
  auto ends =
      parse(doc("<defs><linearGradient id=\"a\" gradientUnits=\"userSpaceOnUse\" x1=\"0\" x2=\"100\">"
                "<stop offset=\"0\" stop-color=\"#ff0000\"/><stop offset=\"0\" stop-color=\"#0000ff\"/>"
                "<stop offset=\"1\" stop-color=\"#0000ff\"/></linearGradient>"
                "<linearGradient id=\"z\" gradientUnits=\"userSpaceOnUse\" x1=\"0\" x2=\"100\">"
                "<stop offset=\"0\" stop-color=\"#ff0000\"/><stop offset=\"1\" stop-color=\"#ff0000\"/>"
                "<stop offset=\"1\" stop-color=\"#0000ff\"/></linearGradient></defs>"
                "<rect width=\"200\" height=\"10\" fill=\"url(#a)\"/><rect y=\"20\" width=\"200\" height=\"10\" "
                "fill=\"url(#z)\"/>"));
  Canvas canvas;
  canvas.r.DrawSVG(ends.get(), nullptr, 0, 0, nullptr);
  for (int x : {0, 1, 50, 150}) EXPECT_EQ(canvas.At(x, 5), 0xFF0000FFu) << x;
  for (int x : {0, 50, 97}) EXPECT_EQ(canvas.At(x, 25), 0xFFFF0000u) << x;
  for (int x : {101, 150, 199}) EXPECT_EQ(canvas.At(x, 25), 0xFF0000FFu) << x;
}

// A W3C test file with its three-digit colour values ("#f48") written out in
// six (the loader reads only the six-digit form), parsed.
std::unique_ptr<cImageSVG> parse_w3c(const std::string& path) {
  const std::string text = testenv::read_file(path);
  std::string out;
  auto hex = [&](size_t k) { return k < text.size() && std::isxdigit(static_cast<unsigned char>(text[k])); };
  for (size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] != '#' || !hex(i + 1) || !hex(i + 2) || !hex(i + 3) || i + 4 >= text.size() || text[i + 4] != '"')
      continue;
    for (size_t k = i + 1; k <= i + 3; ++k) out += std::string(2, text[k]);
    i += 3;
  }
  return parse(out);
}

// The W3C file drawn at its own coordinates on its 480 x 360 canvas.
std::unique_ptr<Canvas> draw_w3c(const std::string& path) {
  auto svg = parse_w3c(path);
  auto canvas = std::make_unique<Canvas>(480, 360);
  rRectD b{};
  svg->Bounds(b);
  canvas->r.DrawSVG(svg.get(), nullptr, b.x1, b.y1, nullptr);
  return canvas;
}

// The W3C stop rules: a stop below the earlier ones counts at the largest
// earlier offset, and there the later stop decides: the lower rectangle's
// right half is blue.
TEST_F(SvgDrawTest, W3CStopRulesFile) {
  QLM_CORPUS_FILE(file, "w3c-svg", "pservers-grad-16-b.svg");
  const auto drawn = draw_w3c(file);
  const Canvas& canvas = *drawn;
  for (int x : {243, 300, 400, 455}) EXPECT_EQ(canvas.At(x, 250), 0xFF0000FFu) << x;
  EXPECT_LT(canvas.At(236, 250) & 0xFF, 40u);  // the ramp towards green ends left of the middle
}

// Path data with an error is drawn up to its last good command: of the
// W3C file's pairs of strokes, the black one of "H 40#90" ends where its red
// twin "H 40" ends (x 380), and no red shows anywhere.
TEST_F(SvgDrawTest, W3CPathDataErrorFile) {
  QLM_CORPUS_FILE(file, "w3c-svg", "paths-data-18-f.svg");
  const auto drawn = draw_w3c(file);
  const Canvas& canvas = *drawn;
  EXPECT_EQ(canvas.At(300, 290), 0xFF000000u);
  for (int x : {385, 420, 470}) EXPECT_EQ(canvas.At(x, 290), kWhite) << x;
  int red = 0;
  for (int y = 0; y < 360; ++y)
    for (int x = 0; x < 480; ++x) {
      const uint32_t c = canvas.At(x, y);
      red += (c >> 16 & 0xFF) > 160 && (c >> 8 & 0xFF) < 96 && (c & 0xFF) < 96;
    }
  EXPECT_EQ(red, 0);
}

TEST_F(SvgDrawTest, RadialGradientIsCentredOnItsCentre) {
  auto svg = parse(doc(kGradientDefs + "<rect x=\"0\" y=\"0\" width=\"120\" height=\"80\" fill=\"url(#rad)\"/>"));
  Canvas canvas;
  canvas.r.DrawSVG(svg.get(), nullptr, 0, 0, nullptr);
  const uint32_t centre = canvas.At(60, 40);
  EXPECT_NEAR(double((centre >> 8) & 0xFF), 255.0, 12.0);
  EXPECT_NEAR(double(centre & 0xFF), 0.0, 12.0);
  // Symmetric about the centre (pixel centres 14.5 away on each side), the
  // last stop from the radius on (pad).
  auto near = [](uint32_t a, uint32_t b) {
    for (int shift : {0, 8, 16})
      if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 2) return false;
    return true;
  };
  EXPECT_TRUE(near(canvas.At(45, 40), canvas.At(74, 40)));
  EXPECT_TRUE(near(canvas.At(60, 25), canvas.At(60, 54)));
  EXPECT_TRUE(near(canvas.At(45, 40), canvas.At(60, 25)));
  EXPECT_FALSE(near(canvas.At(45, 40), centre));
  for (uint32_t far : {canvas.At(95, 40), canvas.At(2, 2)}) EXPECT_TRUE(near(far, 0xFF0000FFu)) << std::hex << far;

  // A focus outside the circle is moved inside it, towards where it lay:
  // stop 0 near the right edge, the circle's colours still within it.
  auto focal = parse(doc(kGradientDefs + "<rect x=\"0\" y=\"0\" width=\"120\" height=\"80\" fill=\"url(#foc)\"/>"));
  Canvas f;
  f.r.DrawSVG(focal.get(), nullptr, 0, 0, nullptr);
  EXPECT_GT((f.At(88, 40) >> 8) & 0xFF, 200u);
  EXPECT_GT(f.At(33, 40) & 0xFF, 200u);
  EXPECT_TRUE(near(f.At(95, 40), 0xFF0000FFu));
}

TEST_F(SvgDrawTest, OpaqueOverrideColourPaintsEveryPathIncludingGradients) {
  auto svg = parse(doc(kGradientDefs +
                       "<rect x=\"0\" y=\"0\" width=\"100\" height=\"10\" fill=\"url(#lin)\"/>"
                       "<rect x=\"0\" y=\"20\" width=\"50\" height=\"10\" fill=\"#00ff00\" stroke=\"url(#rad)\" "
                       "stroke-width=\"4\"/>"));
  Canvas canvas;
  canvas.r.SetOverrideColor(0xFF0000FFu);  // opaque red
  canvas.r.DrawSVG(svg.get(), nullptr, 5, 5, nullptr);
  int ink = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 200; ++x) {
      const uint32_t px = canvas.At(x, y);
      if (px == kWhite) continue;
      ++ink;
      // Full-coverage pixels are pure red; edge pixels mix red with white.
      EXPECT_EQ(px & 0xFFFF0000u, 0xFFFF0000u) << x << "," << y;
      EXPECT_EQ((px >> 8) & 0xFF, px & 0xFF) << x << "," << y;
    }
  EXPECT_GT(ink, 1000);
  EXPECT_EQ(canvas.At(50, 10), 0xFFFF0000u);  // gradient fill
  EXPECT_EQ(canvas.At(30, 30), 0xFFFF0000u);  // solid fill
  EXPECT_EQ(canvas.At(4, 30), 0xFFFF0000u);   // gradient stroke
}

TEST_F(SvgDrawTest, FillAndStrokeRegisterSeparatelyInTheHitTest) {
  auto svg =
      parse(doc("<rect x=\"10\" y=\"10\" width=\"40\" height=\"20\" fill=\"#ff0000\" stroke=\"#0000ff\" "
                "stroke-width=\"6\"/>"
                "<rect x=\"80\" y=\"10\" width=\"20\" height=\"20\" fill=\"none\" stroke=\"#0000ff\" "
                "stroke-width=\"2\"/>"));
  Canvas canvas;
  cHitTest hit;
  rRectD b;
  svg->Bounds(b);
  canvas.r.DrawSVG(svg.get(), nullptr, b.x1, b.y1, &hit);
  EXPECT_EQ(hit.HitTest(30, 20), 255);    // fill
  EXPECT_EQ(hit.HitTest(8.5, 20), 255);   // stroke, outside the fill
  EXPECT_EQ(hit.HitTest(80.5, 20), 255);  // stroke-only path
  EXPECT_EQ(hit.HitTest(90, 20), 0);      // its unfilled interior
  EXPECT_EQ(hit.HitTest(65, 20), 0);
}

TEST_F(SvgDrawTest, HostileDrawingsDrawWithoutFault) {
  const char* bodies[] = {
      "<rect x=\"0\" y=\"0\" width=\"10\" height=\"10\" transform=\"scale(1e300,1e300)\"/>",
      "<path d=\"M0,0 C1e15,0 1e15,1e15 0,1e15z\" stroke=\"#000000\" stroke-width=\"1e12\"/>",
      "<path d=\"M0,0 L10,10\" stroke=\"#000000\" stroke-width=\"1e300\"/>",
      "<g transform=\"scale(1e-300,1e-300)\"><circle cx=\"5\" cy=\"5\" r=\"5\"/></g>",
      "<path d=\"M0,0\"/><path d=\"\"/><rect width=\"0\" height=\"5\"/>",
  };
  // A hugely wide stroke with 200 round joins: each join is held to a few
  // thousand points (unheld, about 3 million each).
  std::string zigzag = "<path d=\"M0,0";
  for (int i = 1; i <= 200; ++i) zigzag += " L" + std::to_string(10 * (i % 2)) + "," + std::to_string(10 * i);
  zigzag += "\" stroke=\"#000000\" stroke-width=\"1e11\" stroke-linejoin=\"round\" stroke-linecap=\"round\"/>";
  std::vector<std::string> all(std::begin(bodies), std::end(bodies));
  all.push_back(zigzag);
  for (const std::string& body : all) {
    SCOPED_TRACE(body);
    const auto start = std::chrono::steady_clock::now();
    auto svg = parse(doc(body));
    Canvas canvas;
    cHitTest hit;
    canvas.r.DrawSVG(svg.get(), nullptr, 0, 0, &hit);
    canvas.r.DrawSVGSized(svg.get(), &hit, 0, 0, 100, 0);
    rRectD b;
    canvas.r.GetSVGSizedBounds(svg.get(), 1, 0, 0, 100, 0, b);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  }
}

TEST_F(SvgDrawTest, SvgLoadTable) {
  const std::string host = testenv::sandbox_dir("svg_load");
  const std::string dir = testenv::win_of(host);
  auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(host + "/" + name, std::ios::binary) << text;
  };
  const std::string wide = doc("<rect width=\"50\" height=\"20\"/>");
  write("a.SVG", wide);
  write("b.svgz", wide);
  write("c.svg.bak", wide);
  write("d.svg", "<svg><rect width=\"5\"");  // unfinished
  write("e.svg", wide);
  ASSERT_EQ(chmod((host + "/e.svg").c_str(), 0444), 0);
  write("reg.svg", wide);
  static const std::string narrow = doc("<rect width=\"30\" height=\"20\"/>");
  resource_register(dir + "\\reg.svg", narrow.data(), int32_t(narrow.size()));
  resource_register("embedded.svg", narrow.data(), int32_t(narrow.size()));
  resource_register("embedded.png", narrow.data(), int32_t(narrow.size()));
  struct Case {
    std::string name;
    double width;  // 0: nil
  } cases[] = {
      {dir + "\\a.SVG", 50}, {dir + "\\b.svgz", 0},   {dir + "\\c.svg.bak", 0},   {dir + "\\d.svg", 0},
      {dir + "\\e.svg", 50}, {dir + "\\reg.svg", 30}, {dir + "\\missing.svg", 0}, {"embedded.svg", 30},
      {"embedded.png", 0},   {dir + "\\a", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<cImageSVG> svg = svg_load(c.name);
    if (c.width == 0) {
      EXPECT_EQ(svg, nullptr);
      continue;
    }
    ASSERT_NE(svg, nullptr);
    EXPECT_TRUE(svg->IsOpened());
    rRectD b;
    svg->Bounds(b);
    EXPECT_DOUBLE_EQ(b.x2 - b.x1, c.width);
  }
}

// Every W3C test file and crash fixture of the external corpora that loads
// also draws (plain, sized, with a hit test, and through a filter layer)
// without a fault.
TEST_F(SvgDrawTest, CorpusFilesDraw) {
  std::vector<std::filesystem::path> files;
  const std::string root_dir = testenv::corpora_dir();
  for (const char* corpus : {"w3c-svg", "rsvg-crash"}) {
    if (root_dir.empty()) break;
    const std::filesystem::path root = std::filesystem::path(root_dir) / corpus;
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) continue;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      if (it->path().extension() == ".svg") files.push_back(it->path());
  }
  if (files.empty()) {
    if (testenv::corpora_required()) FAIL() << "no SVG corpus files: run tools/fetch_corpora.sh";
    GTEST_SKIP() << "the SVG corpora are not fetched (tools/fetch_corpora.sh)";
  }
  std::sort(files.begin(), files.end());
  auto filter = [](cBitmap*, bool&, void*) {};
  int drawn = 0;
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    const std::string text = testenv::read_file(file.string());
    auto svg = std::make_unique<cImageSVG>();
    auto flow = cMemoryFlow::ConstructReadOnly(true, text.data(), int64_t(text.size()));
    if (!flow->Open() || !svg->Open(flow.get(), nullptr)) continue;
    Canvas canvas(64, 64);
    cHitTest hit;
    canvas.r.DrawSVG(svg.get(), nullptr, 0, 0, &hit);
    canvas.r.DrawSVGSized(svg.get(), nullptr, 2, 2, 60, 0);
    canvas.r.SetFilterCallback(filter, 2, nullptr);
    canvas.r.DrawSVGSized(svg.get(), nullptr, 0, 0, 0, 64);
    ++drawn;
  }
  EXPECT_GT(drawn, 0);
}

}  // namespace

namespace {
// A renderer without a surface (never attached, or detached) draws nothing
// and does not crash, whatever engine the operation goes through.
TEST_F(SvgDrawTest, UnattachedRenderersDrawNothing) {
  auto svg = parse(doc(kGradientDefs + "<rect x=\"0\" y=\"0\" width=\"100\" height=\"10\" fill=\"url(#lin)\" "
                                       "stroke=\"#000000\"/>"));
  auto picture = testenv::solid_bitmap(8, 8, cnBitmap32BGRA, 0xFF00FF00u);
  for (bool detached : {false, true}) {
    Canvas c;
    cRendererSurface fresh;
    cRendererSurface& r = detached ? c.r : fresh;
    if (detached) r.DetachSurface();
    cHitTest hit;
    r.DrawSVG(svg.get(), nullptr, 5, 5, &hit);
    r.DrawSVGSized(svg.get(), &hit, 0, 0, 50, 0);
    r.DrawRectangle(&hit, 0, 0, 30, 30);
    r.DrawImage(picture.get(), false, 0, 0, 20, 20, &hit);
    if (detached) {
      EXPECT_TRUE(c.surface.Attach(c.bitmap.get(), true));
    }
    EXPECT_EQ(c.Ink(), (std::vector<int>{0, 0, 0, 0})) << detached;
  }
}
}  // namespace
