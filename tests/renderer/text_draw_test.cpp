// Text drawing: ink against the measured extents, the background box,
// underline and strike-out, render modes and colours, hit tests, the six
// string kinds, and text along and between paths. Checks are metric (ink
// boxes, rows and columns), not pixel goldens.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "font_test_support.h"
#include "qlm_base_fullstring.h"
#include "qlm_font_engine.h"
#include "qlm_gradient.h"
#include "qlm_path.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_text.h"
#include "renderer_support.h"

namespace {

using testenv::RendererTest;

constexpr uint32_t kWhite = 0xFFFFFFFFu;

struct rInk {
  int x1 = 0, y1 = 0, x2 = -1, y2 = -1;  // inclusive pixel box
  bool Empty() const { return x2 < x1; }
};

// A white BGRA surface and a renderer drawing black text in the Arial
// substitute, unhinted.
struct Page {
  explicit Page(double size = 16, int w = 220, int h = 160)
      : bitmap(testenv::solid_bitmap(w, h, cnBitmap32BGRA, kWhite)) {
    EXPECT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_TRUE(r.AttachSurface(&surface));
    font.SetFace("Arial", 0, size);
    r.SetFont(&font);
  }
  const uint8_t* Px(int x, int y) const { return bitmap->Data() + int64_t(y) * bitmap->Stride() + int64_t(x) * 4; }
  // Red, green, blue of a pixel as 0xRRGGBB.
  uint32_t Rgb(int x, int y) const {
    const uint8_t* p = Px(x, y);
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  bool Inked(int x, int y) const { return Rgb(x, y) != 0xFFFFFF; }
  rInk Ink() const {
    rInk k;
    bool any = false;
    for (int y = 0; y < bitmap->Height(); ++y)
      for (int x = 0; x < bitmap->Width(); ++x)
        if (Inked(x, y)) {
          if (!any) k = rInk{x, y, x, y};
          any = true;
          k.x1 = std::min(k.x1, x);
          k.y1 = std::min(k.y1, y);
          k.x2 = std::max(k.x2, x);
          k.y2 = std::max(k.y2, y);
        }
    return k;
  }
  // The rows of column x that hold ink.
  std::vector<int> InkedRows(int x) const {
    std::vector<int> rows;
    for (int y = 0; y < bitmap->Height(); ++y)
      if (Inked(x, y)) rows.push_back(y);
    return rows;
  }
  std::vector<uint8_t> Bytes() const {
    return std::vector<uint8_t>(bitmap->Data(), bitmap->Data() + int64_t(bitmap->Stride()) * bitmap->Height());
  }
  double Advance(uint32_t code) { return font.GetCacheManager()->glyph(code)->advance_x; }
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
  cFontWinTT font;
  cRendererSurface r;
};

// The ink lies inside the rectangle grown by one pixel, and reaches within
// `slack` pixels of each of its edges.
void expect_ink_in(const rInk& ink, const rRectD& e, const std::string& what, double slack = 1.5) {
  ASSERT_FALSE(ink.Empty()) << what;
  EXPECT_GE(ink.x1, e.x1 - 1) << what;
  EXPECT_GE(ink.y1, e.y1 - 1) << what;
  EXPECT_LE(ink.x2 + 1, e.x2 + 1) << what;
  EXPECT_LE(ink.y2 + 1, e.y2 + 1) << what;
  EXPECT_NEAR(ink.x1, e.x1, slack) << what;
  EXPECT_NEAR(ink.y1, e.y1, slack) << what;
  EXPECT_NEAR(ink.x2 + 1, e.x2, slack) << what;
  EXPECT_NEAR(ink.y2 + 1, e.y2, slack) << what;
}

// A rectangle by its corners (rRectD keeps y1 first).
rRectD rect(double x1, double y1, double x2, double y2) {
  rRectD r;
  r.x1 = x1;
  r.y1 = y1;
  r.x2 = x2;
  r.y2 = y2;
  return r;
}

class TextDrawTest : public RendererTest {};

TEST_F(TextDrawTest, InkLiesInsideTheExtents) {
  QLM_REQUIRE_FONTS();
  const struct {
    eAlign x, y;
  } aligns[] = {{ALIGN_LEFT, ALIGN_BOTTOM}, {ALIGN_CENTER, ALIGN_CENTER}, {ALIGN_RIGHT, ALIGN_TOP}};
  for (const auto& a : aligns)
    for (double angle : {0.0, 90.0, -1.0}) {
      // -1: a flipped font (y up) at angle 0.
      Page p(angle < 0 ? -16 : 16);
      if (angle < 0) angle = 0;
      p.r.SetTextAlign(a.x, a.y);
      p.r.SetTextAngle(angle);
      rRectD e;
      p.r.TextExtents("Hgjx AV", false, 110, 80, e);
      p.r.DrawText("Hgjx AV", 110, 80, nullptr);
      const std::string what =
          "align " + std::to_string(a.x) + "/" + std::to_string(a.y) + " angle " + std::to_string(angle);
      expect_ink_in(p.Ink(), e, what);
      if (a.y == ALIGN_TOP && angle == 0 && !p.font.IsFlipped()) {
        EXPECT_NEAR(p.Ink().y1, 80, 1) << "top-aligned ink starts at y";
      }
    }
}

TEST_F(TextDrawTest, SixStringKindsDrawAlike) {
  QLM_REQUIRE_FONTS();
  const std::u16string u16 = u"Hello, w\u00F6rld";
  const char32_t u32[] = U"Hello, w\u00F6rld";
  const std::u32string text32 = u32;
  int32_t* full = fullstring_create(int32_t(text32.size()));
  ASSERT_NE(full, nullptr);
  ASSERT_TRUE(fullstring_setlength(full, int32_t(text32.size()), 1));
  for (size_t i = 0; i < text32.size(); ++i) ASSERT_TRUE(fullstring_set(full, int32_t(i) + 1, int32_t(text32[i])));
  const std::vector<std::function<void(cRendererSurface&)>> kinds = {
      [](cRendererSurface& r) { r.DrawText(std::string("Hello, w\xF6rld"), 10, 50, nullptr); },
      [&](cRendererSurface& r) { r.DrawText(u16, 10, 50, nullptr); },
      [&](cRendererSurface& r) { r.DrawText(rTextView::Full(full), 10, 50, nullptr); },
      [](cRendererSurface& r) { r.DrawText("Hello, w\xF6rld", 10, 50, nullptr); },
      [&](cRendererSurface& r) { r.DrawText(u16.c_str(), 10, 50, nullptr); },
      [&](cRendererSurface& r) { r.DrawText(u32, 10, 50, nullptr); },
  };
  std::vector<uint8_t> first;
  for (size_t i = 0; i < kinds.size(); ++i) {
    Page p;
    kinds[i](p.r);
    if (i == 0) {
      first = p.Bytes();
      EXPECT_FALSE(p.Ink().Empty());
    } else {
      EXPECT_EQ(p.Bytes(), first) << "kind " << i;
    }
  }
  fullstring_free(full);
}

// Solid text that nothing turns or shades is painted from kept glyph
// coverage; it must draw what the outline painter draws, over sizes, hinting,
// sub-pixel pen positions, colours with and without alpha, whole-pixel and
// fractional translations, clipping, text running off the surface, and
// repeats that reuse the kept coverage, text running off every edge, and
// glyphs too large to keep (drawn clipped to the surface each time): byte
// for byte.
TEST_F(TextDrawTest, KeptGlyphCoverageDrawsWhatTheOutlinePainterDraws) {
  struct Case {
    double size;
    bool hinting;
    double x, y;
    uint32_t colour;  // renderer colour
    double tx, ty;    // a translation in force
    bool clip;
  };
  const Case cases[] = {
      {16, false, 10, 40, renderer_color(0, 0, 0, 255), 0, 0, false},
      {12, true, 10, 40, renderer_color(0, 0, 0, 255), 0, 0, false},
      {12, false, 10.25, 40.5, renderer_color(200, 30, 60, 255), 0, 0, false},
      {9, false, 3.73, 20.1, renderer_color(10, 120, 250, 128), 0, 0, false},
      {17.5, true, 0.5, 60.9, renderer_color(0, 0, 0, 40), 0, 0, false},
      {24, false, -30.3, 30, renderer_color(0, 90, 0, 255), 0, 0, false},
      {14, false, 150, 158, renderer_color(0, 0, 0, 255), 0, 0, false},
      {13, false, 5, 50, renderer_color(0, 0, 0, 255), 7, -3, false},
      {13, false, 5, 50, renderer_color(0, 0, 0, 200), 2.5, 0.25, false},
      {16, false, 10, 40, renderer_color(90, 0, 90, 255), 0, 0, true},
      {24, false, 40.6, 7.3, renderer_color(0, 0, 0, 255), 0, 0, false},
      {20, true, 170.2, 30, renderer_color(0, 0, 160, 255), 0, 0, false},
      {400, false, -40.5, 300.25, renderer_color(0, 0, 0, 255), 0, 0, false},
      {400, false, -40.5, 300.25, renderer_color(0, 0, 0, 200), 0, 0, true},
      {3000, false, -300.25, 2200.5, renderer_color(30, 60, 90, 255), 3, 1, false},
  };
  const std::string text = "Kept coverage: WAVY glyphs, j g y, 0123 & @ %";
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "size " << c.size << " hinting " << c.hinting << " at " << c.x << "," << c.y
                                    << " colour " << std::hex << c.colour << std::dec << " translation " << c.tx << ","
                                    << c.ty << " clip " << c.clip);
    auto draw = [&](bool kept) {
      glyph_coverage_enable(kept);
      Page p(c.size);
      p.r.SetTextHinting(c.hinting);
      p.r.SetTextColor(c.colour);
      if (c.tx != 0 || c.ty != 0) p.r.Translate(c.tx, c.ty);
      if (c.clip) p.r.ClipRect(20, 25, 120, 45);
      for (int twice = 0; twice < 2; ++twice) p.r.DrawText(text, c.x, c.y + 50 * twice, nullptr);
      if (c.clip) p.r.ClipOff();  // writes the clipped drawing back
      glyph_coverage_enable(true);
      return p.Bytes();
    };
    const std::vector<uint8_t> outline = draw(false);
    const testenv::rByteDifference d = testenv::byte_difference(outline, draw(true));
    EXPECT_EQ(d.worst, 0) << d.differing << " bytes differ";
    EXPECT_NE(outline, Page(c.size).Bytes());  // something was drawn
  }
}

// The same over random draws: faces, styles, sizes, fill rules, hinting,
// pens at whole pixels, on the 1/64 grid and anywhere, translations, and
// text running over every edge of the surface. Kept coverage once differed
// by 2 levels at glyphs cut by the surface's edge (among them Arial 20.3 px
// and Courier New 104 px even-odd, Times New Roman 54 px bold italic, the
// first draws here) and by 1 at whole-pixel pens.
TEST_F(TextDrawTest, KeptGlyphCoverageEqualsTheOutlinePainterOverRandomDraws) {
  QLM_REQUIRE_FONTS();
  struct Draw {
    const char* face;
    uint8_t style;
    double size;
    bool even_odd, hinting;
    double x, y, tx, ty;
    std::string text;
  };
  std::vector<Draw> draws = {
      {"Arial", 0, 20.3, true, false, 37.31, 9.47, 0, 0, "WAVY@%"},
      {"Courier New", 0, 104, true, false, -21.5, 70.25, 0, 0, "QgM&"},
      {"Times New Roman", cnFontBold | cnFontItalic, 54, false, false, 380.7, 190.4, 0, 0, "fjNd"},
  };
  const char* faces[] = {"Arial", "Courier New", "Times New Roman"};
  const std::string chars = "AWVgjy@%&0123abcdefMNOQRS";
  std::mt19937 rng(20261211);
  std::uniform_real_distribution<double> u(0, 1);
  auto pen = [&](double v) {
    switch (rng() % 3) {
      case 0: return std::floor(v);
      case 1: return std::floor(v * 64) / 64;
      default: return v;
    }
  };
  while (draws.size() < 400) {
    // clang-format off
    Draw d{faces[rng() % 3], uint8_t(rng() % 4), std::round(60 + u(rng) * 1140) / 10, rng() % 2 == 0,
           rng() % 4 == 0, 0, 0, 0, 0, ""};
    // clang-format on
    d.x = pen(u(rng) * 400 - 60);
    d.y = pen(u(rng) * 240 - 20);
    if (rng() % 2 == 0) d.tx = u(rng) * 20 - 10, d.ty = u(rng) * 20 - 10;
    for (int k = 0; k < 4; ++k) d.text += chars[rng() % chars.size()];
    draws.push_back(d);
  }
  for (const Draw& d : draws) {
    SCOPED_TRACE(testing::Message() << d.face << " style " << int(d.style) << " " << d.size << " px even-odd "
                                    << d.even_odd << " hinting " << d.hinting << " at " << d.x << "," << d.y
                                    << " translated " << d.tx << "," << d.ty << " \"" << d.text << "\"");
    auto draw = [&](bool kept) {
      glyph_coverage_enable(kept);
      Page p(d.size, 420, 200);
      p.font.SetFace(d.face, d.style, d.size);
      p.r.SetFont(&p.font);
      p.r.SetFillEvenOdd(d.even_odd);
      p.r.SetTextHinting(d.hinting);
      if (d.tx != 0 || d.ty != 0) p.r.Translate(d.tx, d.ty);
      p.r.DrawText(d.text, d.x, d.y, nullptr);
      glyph_coverage_enable(true);
      return p.Bytes();
    };
    const testenv::rByteDifference diff = testenv::byte_difference(draw(false), draw(true));
    ASSERT_EQ(diff.worst, 0) << diff.differing << " bytes differ";
  }
}

TEST_F(TextDrawTest, NothingToDraw) {
  QLM_REQUIRE_FONTS();
  Page p;
  const std::vector<uint8_t> blank = p.Bytes();
  p.r.DrawText("", 10, 50, nullptr);
  p.r.DrawText(static_cast<const char*>(nullptr), 10, 50, nullptr);
  p.r.DrawText(U"\U0001F600", 10, 50, nullptr);  // no glyph
  p.r.SetTextColor(renderer_color(0, 0, 0, 0));
  p.r.DrawText("Hg", 10, 50, nullptr);  // text colour without alpha: no glyphs
  p.r.SetTextColor(renderer_color(0, 0, 0, 255));
  p.r.SetTextBackColor(renderer_color(0, 0, 255, 0));  // box without alpha: no box
  p.r.DrawText("Hg", std::numeric_limits<double>::quiet_NaN(), 50, nullptr);
  p.r.DrawText("Hg", 1e300, 50, nullptr);
  EXPECT_EQ(p.Bytes(), blank);
  cRendererSurface fontless;
  fontless.AttachSurface(&p.surface);
  fontless.DrawText("Hg", 10, 50, nullptr);
  cRendererSurface unattached;
  unattached.SetFont(&p.font);
  unattached.DrawText("Hg", 10, 50, nullptr);
  EXPECT_EQ(p.Bytes(), blank);
}

TEST_F(TextDrawTest, BackgroundBox) {
  QLM_REQUIRE_FONTS();
  const double x = 20, y = 60;
  for (bool fit : {false, true})
    for (double angle : {0.0, 90.0}) {
      Page p;
      p.r.SetTextColor(renderer_color(0, 0, 0, 0));  // the box alone
      p.r.SetTextBackColor(renderer_color(0, 0, 255, 255));
      p.r.SetTextBackFitGlyphs(fit);
      p.r.SetTextAngle(angle);
      rRectD glyphs;
      p.r.TextExtents("Hg", true, x, y, glyphs);
      p.r.DrawText("Hg", x, y, nullptr);
      const double top = fit ? y - glyphs.y1 : p.font.GetAscent();
      const double bottom = fit ? glyphs.y2 - y : p.font.GetDescent() + p.font.GetLineGap();
      // The box spans the glyph box's width from the pen start (x here).
      rRectD want = rect(x, y - top, x + (glyphs.x2 - glyphs.x1), y + bottom);
      if (angle == 90)  // turned about (x, y): y-down, so +90 turns clockwise
        want = rect(x - bottom, y, x + top, y + (glyphs.x2 - glyphs.x1));
      const std::string what = std::string(fit ? "fitted" : "font") + " angle " + std::to_string(angle);
      expect_ink_in(p.Ink(), want, what, 1.0);
      EXPECT_EQ(p.Rgb(int(want.x1 + want.x2) / 2, int(want.y1 + want.y2) / 2), 0x0000FFu) << what;
    }
}

// Recording with drawing suppressed paints no box; once the group is
// cleared the capture-only flag left behind suppresses nothing.
TEST_F(TextDrawTest, BackgroundBoxAndCapture) {
  QLM_REQUIRE_FONTS();
  Page plain, captured;
  cPathGroup group;
  for (Page* p : {&plain, &captured}) p->r.SetTextBackColor(renderer_color(0, 0, 255, 255));
  const std::vector<uint8_t> blank = captured.Bytes();
  ASSERT_TRUE(captured.r.SetCaptureGroup(&group, true));
  captured.r.DrawText("Hg", 20, 60, nullptr);
  EXPECT_EQ(captured.Bytes(), blank);
  captured.r.ClearCaptureGroup();
  captured.r.DrawText("Hg", 20, 60, nullptr);
  plain.r.DrawText("Hg", 20, 60, nullptr);
  EXPECT_EQ(captured.Bytes(), plain.Bytes());
}

// A text drawn with a shadow while recording is recorded once: one entry
// per line and glyph, not one more for each shadow; replayed, the glyphs'
// entries paint what the text painted (not every edge twice).
TEST_F(TextDrawTest, ShadowedTextIsRecordedOnce) {
  QLM_REQUIRE_FONTS();
  for (bool only : {false, true}) {
    Page recorder;
    cPathGroup group;
    recorder.r.SetOffsetShadow(3);
    recorder.r.SetUnderline(1, 0);
    ASSERT_TRUE(recorder.r.SetCaptureGroup(&group, only));
    recorder.r.DrawText("Hi", 20, 60, nullptr);
    recorder.r.ClearCaptureGroup();
    EXPECT_EQ(group.Count(), 3u) << only;  // the underline and two glyphs
    // The glyphs were fills in the text colour: replayed with a black fill
    // and the pen off (the underline's entry is a stroke and stays out).
    Page replayed, plain;
    replayed.r.PenOff();
    replayed.r.SetFillColor(renderer_color(0, 0, 0, 255));
    replayed.r.DrawPathGroup(&group, nullptr, 0, 0);
    plain.r.DrawText("Hi", 20, 60, nullptr);
    EXPECT_EQ(replayed.Bytes(), plain.Bytes()) << only;
  }
}

// Underline and strike-out rows in a column, for the decoration table.
TEST_F(TextDrawTest, UnderlineAndStrikeOutRows) {
  QLM_REQUIRE_FONTS();
  const double baseline = 60.5;  // a one-pixel line on the baseline fills one row
  Page probe;
  const double descent = probe.font.GetDescent(), height = probe.font.GetHeight();
  const struct {
    const char* name;
    uint8_t under, under_pos, strike, strike_pos;
    std::vector<double> offsets;  // line centres below the baseline
  } cases[] = {
      {"underline at 0", 1, 0, 0, 50, {0}},
      {"underline at 30", 1, 30, 0, 50, {descent * 0.3}},
      {"double underline at 100", 2, 100, 0, 50, {0, descent}},
      {"strike-out at 50", 0, 30, 1, 50, {-(height / 2 - descent)}},
      {"strike-out at 0", 0, 30, 1, 0, {0}},
  };
  for (const auto& c : cases) {
    Page p;
    p.r.SetTextColor(renderer_color(0, 0, 0, 0));  // lines alone
    p.r.SetPenColor(renderer_color(255, 0, 0, 255));
    p.r.SetUnderline(c.under, 0);
    p.r.SetUnderlinePosition(c.under_pos);
    p.r.SetStrikeOut(c.strike, 0);
    p.r.SetStrikeOutPosition(c.strike_pos);
    p.r.DrawText("ab cd", 10, baseline, nullptr);
    std::vector<int> want;
    for (double o : c.offsets) {
      // A pen of width 1 centred on the line: the rows it touches.
      for (int row = int(std::floor(baseline + o - 0.5)); row < baseline + o + 0.5; ++row)
        if (want.empty() || want.back() < row) want.push_back(row);
    }
    EXPECT_EQ(p.InkedRows(20), want) << c.name;
    EXPECT_EQ(p.Rgb(20, int(std::floor(baseline + c.offsets[0]))) >> 16, 0xFFu) << c.name << ": the pen's red";
  }
}

TEST_F(TextDrawTest, WordOnlyUnderlineSkipsTheBlank) {
  QLM_REQUIRE_FONTS();
  const double x = 10, baseline = 60.5;
  for (uint8_t style : {0, 1}) {
    Page p;
    p.r.SetTextColor(renderer_color(0, 0, 0, 0));
    p.r.SetUnderline(1, style);
    p.r.SetUnderlinePosition(0);
    p.r.DrawText("ab cd", x, baseline, nullptr);
    const double a = p.Advance('a'), b = p.Advance('b'), sp = p.Advance(' ');
    const double blank1 = x + a + b, blank2 = blank1 + sp;
    const int row = 60;
    // Ink across each word; under the blank only for the whole-run style.
    EXPECT_TRUE(p.Inked(int(x + 1), row)) << int(style);
    EXPECT_TRUE(p.Inked(int(blank1) - 1, row)) << int(style);
    EXPECT_TRUE(p.Inked(int(blank2) + 1, row)) << int(style);
    for (int col = int(std::ceil(blank1)) + 1; col < int(blank2) - 1; ++col)
      EXPECT_EQ(p.Inked(col, row), style == 0) << "column " << col << " style " << int(style);
    EXPECT_FALSE(p.Inked(int(x) - 2, row));
  }
}

TEST_F(TextDrawTest, TurnedTextTurnsItsLines) {
  QLM_REQUIRE_FONTS();
  Page p;
  p.r.SetTextColor(renderer_color(0, 0, 0, 0));
  p.r.SetUnderline(1, 0);
  p.r.SetUnderlinePosition(0);
  p.r.SetTextAngle(90);
  rRectD e;
  p.r.TextExtents("ab cd", true, 60.5, 20, e);
  p.r.DrawText("ab cd", 60.5, 20, nullptr);
  // The baseline from (x, y) along +x turns to run down from (x, y).
  expect_ink_in(p.Ink(), rect(60, 20, 61, 20 + (e.x2 - e.x1)), "underline at 90", 1.0);
}

TEST_F(TextDrawTest, DecorationPensAreBorrowedForTheLine) {
  QLM_REQUIRE_FONTS();
  Page p;
  p.r.SetPenColor(renderer_color(0, 200, 0, 255));
  p.r.SetPenWidth(3);
  std::unique_ptr<cPen> green = p.r.GetPen();
  p.r.SetPenColor(renderer_color(255, 0, 0, 255));
  p.r.SetPenWidth(1);
  p.r.SetTextColor(renderer_color(0, 0, 0, 0));
  p.r.SetUnderline(1, 0);
  p.r.SetUnderlinePosition(0);
  p.r.SetUnderlinePen(green.get());
  p.r.SetStrikeOut(1, 0);
  p.r.DrawText("ab cd", 10, 60.5, nullptr);
  // The strike-out in the current pen (red, one pixel) above.
  const double strike_y = 60.5 - (p.font.GetHeight() / 2 - p.font.GetDescent());
  const int strike_row = int(std::floor(strike_y));
  EXPECT_NEAR(p.InkedRows(20).front(), strike_y - 0.5, 1);
  EXPECT_EQ(p.Rgb(20, strike_row) >> 16, 0xFFu);
  EXPECT_NE(p.Rgb(20, strike_row), 0xFFFFFFu);
  EXPECT_EQ(p.Rgb(20, 59), 0x00C800u);  // three rows of green at the baseline
  EXPECT_EQ(p.Rgb(20, 60), 0x00C800u);
  EXPECT_EQ(p.Rgb(20, 61), 0x00C800u);
  EXPECT_EQ(p.r.GetPenColor(), renderer_color(255, 0, 0, 255));
  EXPECT_EQ(p.r.GetPenWidth(), 1.0);
}

// Text render modes and the fill render modes a glyph follows.
TEST_F(TextDrawTest, GlyphPaintFollowsTheRenderModes) {
  QLM_REQUIRE_FONTS();
  const uint32_t text = 0x102030, fill = 0x3070F0, pen = 0xF01010, master = 0x00A000;
  const struct {
    const char* name;
    uint8_t text_mode;
    bool fill_on;
    uint8_t fill_mode;
    bool master_set;
    uint32_t centre;  // the colour inside the stem; 0xFFFFFF: nothing drawn
  } cases[] = {
      {"text colour", 0, true, 1, false, text},
      {"text colour with the fill off", 0, false, 1, false, text},
      {"fill mode 2, fill off", 0, false, 2, false, 0xFFFFFF},
      {"fill mode 2, fill on", 0, true, 2, false, text},
      {"fill mode 3, master colour", 0, true, 3, true, master},
      {"fill mode 3, no master colour", 0, true, 3, false, text},
      {"shape mode: fill", 1, true, 1, false, fill},
      {"shape mode, fill off: nothing inside", 1, false, 1, false, 0xFFFFFF},
  };
  for (const auto& c : cases) {
    Page p(80);
    p.r.SetTextColor(renderer_color(0x10, 0x20, 0x30, 255));
    p.r.SetFillColor(renderer_color(0x30, 0x70, 0xF0, 255));
    p.r.SetPenColor(renderer_color(0xF0, 0x10, 0x10, 255));
    p.r.SetPenWidth(2);
    if (!c.fill_on) p.r.FillOff();
    p.r.SetFillRenderMode(c.fill_mode);
    if (c.master_set) p.r.SetMasterColor(renderer_color(0, 0xA0, 0, 255));
    p.r.SetTextRenderMode(c.text_mode);
    rRectD e;
    p.r.TextExtents("I", true, 40, 120, e);
    p.r.DrawText("I", 40, 120, nullptr);
    EXPECT_EQ(p.Rgb(int((e.x1 + e.x2) / 2), int((e.y1 + e.y2) / 2)), c.centre) << c.name;
    int pen_pixels = 0;
    for (int y = 0; y < p.bitmap->Height(); ++y)
      for (int x = 0; x < p.bitmap->Width(); ++x) pen_pixels += p.Rgb(x, y) == pen;
    EXPECT_EQ(pen_pixels > 0, c.text_mode != 0) << c.name << ": the outline in the pen colour";
  }
}

// With a fill gradient, text render mode 0 still paints the text colour;
// mode 1 fills each glyph with the gradient and outlines it with the pen.
TEST_F(TextDrawTest, GradientFillInRenderModesZeroAndOne) {
  QLM_REQUIRE_FONTS();
  for (uint8_t mode : {0, 1}) {
    Page p(80);
    cGradientLinearX g(0, 100);
    g.AddStopRGBA(0, 0, 0, 255, 0.0);
    g.AddStopRGBA(255, 0, 0, 255, 1.0);
    p.r.SetFillGradient(&g);
    p.r.SetTextColor(renderer_color(0x10, 0x20, 0x30, 255));
    p.r.SetPenColor(renderer_color(0, 200, 0, 255));
    p.r.SetPenWidth(2);
    p.r.SetTextRenderMode(mode);
    rRectD e;
    p.r.TextExtents("I", true, 40, 120, e);
    p.r.DrawText("I", 40, 120, nullptr);
    const int row = int((e.y1 + e.y2) / 2);
    const uint32_t left = p.Rgb(int(e.x1 + 2.5), row), right = p.Rgb(int(e.x2 - 3.5), row);
    int pen_pixels = 0;
    for (int y = 0; y < p.bitmap->Height(); ++y)
      for (int x = 0; x < p.bitmap->Width(); ++x) pen_pixels += p.Rgb(x, y) == 0x00C800u;
    if (mode == 0) {
      EXPECT_EQ(left, 0x102030u);
      EXPECT_EQ(right, 0x102030u);
      EXPECT_EQ(pen_pixels, 0);
    } else {
      // Black to red from the glyph's left to its right: pure reds rising.
      EXPECT_EQ(left & 0xFFFFu, 0u) << std::hex << left;
      EXPECT_EQ(right & 0xFFFFu, 0u) << std::hex << right;
      EXPECT_LT(left >> 16, right >> 16);
      EXPECT_GT(right >> 16, 0x80u);
      EXPECT_GT(pen_pixels, 0);
    }
  }
}

// Glyphs that cannot reach the surface are skipped one by one, by the
// outline painter too (a hit test sends text there): text drawn on a small
// surface equals the same text drawn on a large one where the small one is
// a window of it, moved by whole pixels, in pixels and in hit-test answers.
// Pixels near the small surface's edges, where the rasteriser clips
// outlines, may differ by a level (a glyph left out would differ by far
// more).
TEST_F(TextDrawTest, GlyphsOffTheSurfaceAreSkippedUnseen) {
  QLM_REQUIRE_FONTS();
  constexpr int kLeft = 150, kTop = 90, kW = 70, kH = 50;
  const std::string text = "Skipped glyphs: WAVY j g y 0123 & @ % Skipped glyphs: WAVY j g y";
  for (double angle : {0.0, 30.0, -10.0})
    for (bool with_hit : {true, false}) {
      SCOPED_TRACE(testing::Message() << "angle " << angle << " hit " << with_hit);
      auto draw = [&](Page& p, cHitTest* hit, double dx, double dy) {
        if (!with_hit) glyph_coverage_enable(false);
        p.r.SetTextColor(renderer_color(20, 40, 200, 220));
        p.r.SetTextAngle(angle);
        for (int line = 0; line < 6; ++line) p.r.DrawText(text, 20.3 + dx - 40 * line, 60.6 + 30 * line + dy, hit);
        glyph_coverage_enable(true);
      };
      Page big(18, 400, 300);
      cHitTest big_hit;
      draw(big, with_hit ? &big_hit : nullptr, 0, 0);
      Page small(18, kW, kH);
      cHitTest small_hit;
      draw(small, with_hit ? &small_hit : nullptr, -kLeft, -kTop);
      int worst = 0, inked = 0, hits = 0;
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
          for (int c = 0; c < 4; ++c)
            worst = std::max(worst, std::abs(int(small.Px(x, y)[c]) - int(big.Px(x + kLeft, y + kTop)[c])));
          inked += small.Inked(x, y);
          if (with_hit) {
            const int e = std::abs(int(small_hit.HitTest(x, y)) - int(big_hit.HitTest(x + kLeft, y + kTop)));
            EXPECT_LE(e, 1) << x << "," << y;
            hits += small_hit.HitTest(x, y) != 0;
          }
        }
      EXPECT_LE(worst, 1);
      EXPECT_GT(inked, 100);
      if (with_hit) {
        EXPECT_GT(hits, 50);
      }
    }
}

TEST_F(TextDrawTest, GlyphsRegisterInTheHitTest) {
  QLM_REQUIRE_FONTS();
  Page p(60);
  cHitTest hit;
  rRectD e;
  p.r.TextExtents("I I", true, 20, 100, e);
  p.r.SetTextBackColor(renderer_color(0, 0, 255, 255));  // the box never registers
  p.r.DrawText("I I", 20, 100, &hit);
  EXPECT_EQ(hit.HitTest(e.x1 + 3, (e.y1 + e.y2) / 2), 255);
  EXPECT_EQ(hit.HitTest(e.x2 - 3, (e.y1 + e.y2) / 2), 255);
  EXPECT_EQ(hit.HitTest((e.x1 + e.x2) / 2, (e.y1 + e.y2) / 2), 0) << "the blank";
  EXPECT_EQ(hit.HitTest(e.x1 + 3, e.y1 - 4), 0) << "above the glyph, inside the box";
}

// With a shadow on, the shadows of all glyphs come before any glyph: the
// glyphs keep the pure text colour where a neighbour's shadow reaches.
TEST_F(TextDrawTest, ShadowsGoUnderEveryGlyph) {
  QLM_REQUIRE_FONTS();
  Page p(60);
  p.r.SetTextColor(renderer_color(0x10, 0x20, 0x30, 255));
  p.r.SetOffsetShadow(8);
  p.r.SetShadowBlurred(false);
  cHitTest hit;
  rRectD e;
  p.r.TextExtents("II", true, 20, 100, e);
  p.r.DrawText("II", 20, 100, &hit);
  const double a = p.Advance('I');
  const double mid = (e.y1 + e.y2) / 2;
  const double stem = (e.x1 + e.x1 + (e.x2 - e.x1 - a)) / 2;  // the first stem's middle
  EXPECT_EQ(p.Rgb(int(stem), int(mid)), 0x102030u);
  EXPECT_EQ(p.Rgb(int(stem + a), int(mid)), 0x102030u);
  EXPECT_EQ(hit.HitTest(stem, mid), 255);
  EXPECT_EQ(hit.HitTest(stem + a, mid), 255);
}

// --- Path text ---------------------------------------------------------------------

void straight_path(cPath& path, double x1, double y1, double x2, double y2) {
  path.MoveTo(x1, y1);
  path.LineTo(x2, y2);
}

TEST_F(TextDrawTest, TextOnAStraightPathMatchesStraightText) {
  QLM_REQUIRE_FONTS();
  cPath path;
  straight_path(path, 10, 70, 200, 70);
  Page p;
  rRectD e, b;
  p.r.TextExtents("Hgjx AV", true, 10, 70, e);
  p.r.TextOnPathBounds(&path, "Hgjx AV", false, 0, false, true, b);
  EXPECT_NEAR(b.x1, e.x1, 1);
  EXPECT_NEAR(b.y1, e.y1, 1);
  EXPECT_NEAR(b.x2, e.x2, 1);
  EXPECT_NEAR(b.y2, e.y2, 1);
  p.r.DrawTextOnPath(&path, "Hgjx AV", false, 0, false, true, nullptr);
  expect_ink_in(p.Ink(), b, "on the path");
  // The base length stretches the path: text of the same length covers
  // twice the width on a path given half its length.
  rRectD stretched;
  p.r.TextOnPathBounds(&path, "Hgjx AV", true, 95, false, true, stretched);
  EXPECT_NEAR(stretched.x2 - 10, 2 * (b.x2 - 10), 2.5);
}

TEST_F(TextDrawTest, StopAtEndKeepsTheGlyphsThatStartOnThePath) {
  QLM_REQUIRE_FONTS();
  Page probe;
  const double adv = probe.Advance('H');
  cPath path;
  straight_path(path, 10, 70, 10 + 2.5 * adv, 70);
  for (bool stop : {true, false}) {
    Page p;
    rRectD want, got;
    p.r.TextExtents(stop ? "HHH" : "HHHHHH", true, 10, 70, want);
    p.r.TextOnPathBounds(&path, "HHHHHH", false, 0, stop, true, got);
    EXPECT_NEAR(got.x2, want.x2, 1) << stop;
    p.r.SetUnderline(1, 0);
    p.r.SetUnderlinePosition(0);
    p.r.DrawTextOnPath(&path, "HHHHHH", false, 0, stop, true, nullptr);
    const rInk ink = p.Ink();
    EXPECT_NEAR(ink.x2 + 1, want.x2, 1.5) << stop;
    // The underline runs as far as the glyphs drawn.
    EXPECT_TRUE(p.Inked(int(10 + (stop ? 3 : 6) * adv) - 2, 70)) << stop;
  }
}

TEST_F(TextDrawTest, TextBetweenTwoPathsScalesToTheSecond) {
  QLM_REQUIRE_FONTS();
  Page p;
  const double ascent = p.font.GetAscent();
  cPath base;
  straight_path(base, 10, 120, 200, 120);
  cPath same;
  straight_path(same, 10, 120 - ascent, 200, 120 - ascent);
  cPath twice;
  straight_path(twice, 10, 120 - 2 * ascent, 200, 120 - 2 * ascent);
  rRectD e, one, two;
  p.r.TextExtents("Hx", true, 10, 120, e);
  p.r.TextBetweenPathsBounds(&base, &same, "Hx", false, 0, false, true, one);
  p.r.TextBetweenPathsBounds(&base, &twice, "Hx", false, 0, false, true, two);
  EXPECT_NEAR(one.y1, e.y1, 1);
  EXPECT_NEAR(one.x2, e.x2, 1);
  EXPECT_NEAR(120 - two.y1, 2 * (120 - e.y1), 1.5) << "twice as tall";
  p.r.DrawTextBetweenPaths(&base, &twice, "Hx", false, 0, false, true, nullptr);
  expect_ink_in(p.Ink(), two, "between the paths");
}

// A face without an ascent: the em size stands in as the height that maps
// onto the second path (a zero height would divide by zero).
TEST_F(TextDrawTest, TextBetweenPathsWithoutAFontAscent) {
  testenv::TinyFont tiny;
  tiny.with_os2 = false;
  tiny.hhea_ascender = 0;
  testenv::ResolverHookScope hook(tiny.Write("tiny_flat_hhea.ttf"));
  Page p(16);
  p.font.SetFace("Tiny", 0, 16);
  p.r.SetFont(&p.font);
  ASSERT_EQ(p.font.GetAscent(), 0);
  cPath base, top;
  straight_path(base, 10, 120, 200, 120);
  straight_path(top, 10, 88, 200, 88);  // 32 pixels: twice the em
  rRectD b;
  p.r.TextBetweenPathsBounds(&base, &top, "H", false, 0, false, true, b);
  EXPECT_NEAR(b.y1, 120 - 2 * 11, 0.5) << "the 11-pixel H doubled";
  EXPECT_NEAR(b.y2, 120, 0.5);
  p.r.DrawTextBetweenPaths(&base, &top, "H", false, 0, false, true, nullptr);
  expect_ink_in(p.Ink(), b, "drawn");
}

// A path that ends exactly where the glyph's outline ends: on a straight
// path the mapping with and without x-scale preservation is the same, also
// for the outline's last point (the mapping without preservation once read
// past the path's last vertex there).
TEST_F(TextDrawTest, GlyphEndingAtThePathEnd) {
  QLM_REQUIRE_FONTS();
  Page probe;
  tFontCacheManager* cache = probe.font.GetCacheManager();
  cache->init_embedded_adaptors(cache->glyph('H'), 0, 0, 1.0);
  double right = 0, x, y;
  unsigned cmd;
  auto& outline = cache->path_adaptor();
  outline.rewind(0);
  while (!agg::is_stop(cmd = outline.vertex(&x, &y)))
    if (agg::is_vertex(cmd)) right = std::max(right, x);
  cPath base, top;
  straight_path(base, 0, 70, right, 70);
  straight_path(top, 0, 70 - 2 * probe.font.GetAscent(), right, 70 - 2 * probe.font.GetAscent());
  for (bool two : {false, true})
    for (bool base_length : {false, true}) {
      const std::string what = std::string(two ? "two paths" : "one path") + (base_length ? ", base length" : "");
      rRectD want, got;
      Page a, b;
      if (two) {
        a.r.TextBetweenPathsBounds(&base, &top, "H", base_length, right, false, true, want);
        a.r.TextBetweenPathsBounds(&base, &top, "H", base_length, right, false, false, got);
        a.r.DrawTextBetweenPaths(&base, &top, "H", base_length, right, false, true, nullptr);
        b.r.DrawTextBetweenPaths(&base, &top, "H", base_length, right, false, false, nullptr);
      } else {
        a.r.TextOnPathBounds(&base, "H", base_length, right, false, true, want);
        a.r.TextOnPathBounds(&base, "H", base_length, right, false, false, got);
        a.r.DrawTextOnPath(&base, "H", base_length, right, false, true, nullptr);
        b.r.DrawTextOnPath(&base, "H", base_length, right, false, false, nullptr);
      }
      EXPECT_NEAR(got.x1, want.x1, 1e-6) << what;
      EXPECT_NEAR(got.y1, want.y1, 1e-6) << what;
      EXPECT_NEAR(got.x2, want.x2, 1e-6) << what;
      EXPECT_NEAR(got.y2, want.y2, 1e-6) << what;
      EXPECT_EQ(a.Bytes(), b.Bytes()) << what;
    }
}

TEST_F(TextDrawTest, PathsThatCannotCarryTextDrawNothing) {
  QLM_REQUIRE_FONTS();
  Page p;
  const std::vector<uint8_t> blank = p.Bytes();
  cPath point;
  straight_path(point, 50, 50, 50, 50);
  cPath lone;
  lone.MoveTo(50, 50);
  cPath empty;
  cPath hostile;
  straight_path(hostile, 0, 0, std::numeric_limits<double>::quiet_NaN(), 5);
  cPath tiny;
  straight_path(tiny, 50, 50, 50 + 1e-12, 50);
  cPath good;
  straight_path(good, 10, 70, 200, 70);
  cPath* bad[] = {&point, &lone, &empty, &hostile, &tiny, nullptr};
  for (cPath* path : bad) {
    rRectD b = rect(1, 2, 3, 4);
    p.r.SetUnderline(1, 0);
    p.r.SetTextBackColor(renderer_color(0, 0, 255, 255));
    p.r.DrawTextOnPath(path, "Hg", false, 0, true, true, nullptr);
    p.r.TextOnPathBounds(path, "Hg", false, 0, true, true, b);
    EXPECT_EQ(b.x1 == 0 && b.y1 == 0 && b.x2 == 0 && b.y2 == 0, true);
    p.r.DrawTextBetweenPaths(&good, path, "Hg", false, 0, false, true, nullptr);
    p.r.DrawTextBetweenPaths(path, &good, "Hg", false, 0, false, true, nullptr);
    b = rect(1, 2, 3, 4);
    p.r.TextBetweenPathsBounds(path, &good, "Hg", false, 0, false, true, b);
    EXPECT_EQ(b.x1 == 0 && b.y1 == 0 && b.x2 == 0 && b.y2 == 0, true);
  }
  EXPECT_EQ(p.Bytes(), blank);
}

}  // namespace
