// Text settings and measuring: the setters that act on the font, the stored
// colours, the six string kinds, widths with advances and kerning, the
// glyph box, and the placement table of TextExtents.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "font_test_support.h"
#include "qlm_base_fullstring.h"
#include "qlm_font_engine.h"
#include "qlm_renderer_engine.h"
#include "renderer_support.h"

namespace {

using testenv::RendererTest;

class TextMeasureTest : public RendererTest {};

// A renderer measuring with the Arial substitute at 16 pixels, unhinted.
struct Measuring {
  explicit Measuring(double size = 16) {
    font.SetFace("Arial", 0, size);
    r.SetFont(&font);
  }
  const agg::glyph_cache& Glyph(uint32_t code) {
    const agg::glyph_cache* g = font.GetCacheManager()->glyph(code);
    EXPECT_NE(g, nullptr) << code;
    return *g;
  }
  double Advance(uint32_t code) { return Glyph(code).advance_x; }
  cFontWinTT font;
  cRendererSurface r;
};

// The kerning of a pair as FreeType gives it for the font's face, in pixels.
double freetype_kerning(const cFontWinTT& font, char32_t a, char32_t b, uint32_t ppem) {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  double kern = std::numeric_limits<double>::quiet_NaN();
  if (FT_Init_FreeType(&lib) == 0) {
    if (FT_New_Face(lib, font.CurrentFace().file.c_str(), FT_Long(font.CurrentFace().index), &face) == 0) {
      FT_Vector d{};
      if (FT_Set_Pixel_Sizes(face, 0, ppem) == 0 &&
          FT_Get_Kerning(face, FT_Get_Char_Index(face, a), FT_Get_Char_Index(face, b), FT_KERNING_DEFAULT, &d) == 0)
        kern = double(d.x) / 64.0;
      FT_Done_Face(face);
    }
    FT_Done_FreeType(lib);
  }
  return kern;
}

void expect_rect(const rRectD& got, const rRectD& want, const std::string& what, double tolerance = 0) {
  EXPECT_NEAR(got.x1, want.x1, tolerance) << what;
  EXPECT_NEAR(got.y1, want.y1, tolerance) << what;
  EXPECT_NEAR(got.x2, want.x2, tolerance) << what;
  EXPECT_NEAR(got.y2, want.y2, tolerance) << what;
}

rRectD garbage() { return rRectD{7, 7, 9, 9}; }

TEST_F(TextMeasureTest, FontAndHintingSettersRecreateTheFontOnlyOnChange) {
  QLM_REQUIRE_FONTS();
  cFontWinTT font;
  font.SetFace("Arial", 0, 16);  // the engine starts hinted, the renderer does not
  ASSERT_TRUE(font.GetHinting());
  cRendererSurface r;
  const uint64_t made = font.CreationCount();
  r.SetFont(&font);
  EXPECT_EQ(r.GetFont(), &font);
  EXPECT_FALSE(font.GetHinting());
  EXPECT_EQ(font.CreationCount(), made + 1);
  r.SetFont(&font);  // hinting agrees: nothing to make
  EXPECT_EQ(font.CreationCount(), made + 1);
  r.SetFont(nullptr);
  EXPECT_EQ(r.GetFont(), &font);

  struct Step {
    bool hinting;
    uint64_t creations;  // after the call, counted from the SetFont above
  };
  const Step steps[] = {{true, 1}, {true, 0}, {false, 1}, {false, 0}};
  for (const Step& s : steps) {
    const uint64_t before = font.CreationCount();
    r.SetTextHinting(s.hinting);
    EXPECT_EQ(r.GetTextHinting(), s.hinting);
    EXPECT_EQ(font.GetHinting(), s.hinting);
    EXPECT_EQ(font.CreationCount() - before, s.creations) << s.hinting;
    EXPECT_FALSE(font.mRecreate);
  }
  EXPECT_EQ(font.GetName(), "Arial");

  // Without a font only the flag is stored; a font without a face measures 0.
  cRendererSurface bare;
  bare.SetTextHinting(true);
  EXPECT_TRUE(bare.GetTextHinting());
  cFontWinTT faceless;
  bare.SetFont(&faceless);
  EXPECT_EQ(bare.TextWidth("abc"), 0.0);

  r.SetTextColor(renderer_color(1, 2, 3, 4));
  r.SetTextBackColor(renderer_color(5, 6, 7, 8));
  r.SetTextHinting(true);
  r.ResetText(false);
  EXPECT_EQ(r.GetFont(), nullptr);
  EXPECT_FALSE(r.GetTextHinting());
  EXPECT_EQ(r.GetTextColor(), renderer_color(0, 0, 0, 255));
  EXPECT_EQ(r.GetTextBackColor(), renderer_color(255, 255, 0, 255));
  EXPECT_FALSE(r.IsTextBack());
  EXPECT_EQ(r.TextWidth("abc"), 0.0);
}

TEST_F(TextMeasureTest, ColoursKeepTheMasterAlphaWhileAntiAliasingIsOffAndAnglesStayInOneTurn) {
  struct ColorRow {
    uint8_t master;
    bool anti_aliasing;
    uint8_t given;
    uint8_t in_effect;
  };
  const ColorRow colors[] = {
      {128, false, 255, 128}, {128, true, 255, 255}, {255, false, 200, 200}, {128, false, 100, 50}, {0, false, 255, 0},
  };
  for (const ColorRow& c : colors) {
    cRendererSurface r;
    r.SetMasterAlpha(c.master);
    r.SetAntiAliasing(c.anti_aliasing);
    r.SetTextColor(renderer_color(10, 20, 30, c.given));
    EXPECT_EQ(r.GetTextColor(), renderer_color(10, 20, 30, c.in_effect)) << int(c.master) << " " << c.anti_aliasing;
    EXPECT_FALSE(r.IsTextBack());
    r.SetTextBackColor(renderer_color(40, 50, 60, c.given));
    EXPECT_EQ(r.GetTextBackColor(), renderer_color(40, 50, 60, c.in_effect));
    EXPECT_TRUE(r.IsTextBack());
    r.TextBackOff();
    EXPECT_FALSE(r.IsTextBack());
  }

  struct AngleRow {
    double given;
    double stored;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const AngleRow angles[] = {{-90, 270}, {450, 90}, {360, 360}, {-720, 0}, {1e300, 360}, {inf, 0}, {NAN, 0}};
  cRendererSurface r;
  for (const AngleRow& a : angles) {
    r.SetTextAngle(30);
    r.SetTextAngle(a.given);
    // A non-finite angle keeps the previous one; 1e300 is a whole number of turns.
    EXPECT_NEAR(r.GetTextAngle(), std::isfinite(a.given) ? a.stored : 30.0, 1e-9) << a.given;
  }
}

TEST_F(TextMeasureTest, SixStringKindsMeasureAlike) {
  QLM_REQUIRE_FONTS();
  Measuring m;
  m.r.SetTextKerning(true);
  m.r.SetTextAlign(ALIGN_CENTER, ALIGN_CENTER);
  m.r.SetTextAngle(30);
  const std::u16string wide = u"Hello, w\u00F6rld";
  const std::string narrow = "Hello, w\xF6rld";  // an 8-bit unit is its own code point
  const std::u32string full32 = U"Hello, w\u00F6rld";
  int32_t* full = fullstring_create(int32_t(full32.size()));
  ASSERT_NE(full, nullptr);
  ASSERT_TRUE(fullstring_setlength(full, int32_t(full32.size()), 1));
  for (size_t i = 0; i < full32.size(); ++i) ASSERT_TRUE(fullstring_set(full, int32_t(i) + 1, int32_t(full32[i])));

  const double width = m.r.TextWidth(wide);
  rRectD bounds, extents;
  m.r.TextBounds(wide, bounds);
  m.r.TextExtents(wide, false, 100, 15, extents);
  EXPECT_GT(width, m.r.TextWidth(u"Hello, wrld"));

  struct Kind {
    const char* name;
    rTextView text;
  };
  const Kind kinds[] = {{"8-bit string", rTextView(narrow)},
                        {"full string", rTextView::Full(full)},
                        {"8-bit buffer", narrow.c_str()},
                        {"16-bit buffer", wide.c_str()},
                        {"32-bit buffer", full32.c_str()}};
  for (const Kind& k : kinds) {
    EXPECT_EQ(m.r.TextWidth(k.text), width) << k.name;
    rRectD b = garbage(), e = garbage();
    m.r.TextBounds(k.text, b);
    m.r.TextExtents(k.text, false, 100, 15, e);
    expect_rect(b, bounds, k.name);
    expect_rect(e, extents, k.name);
  }
  fullstring_free(full);
}

TEST_F(TextMeasureTest, WidthsAreAdvancesWithKerningAndNeverKernAcrossCalls) {
  QLM_REQUIRE_FONTS();
  Measuring m;
  const double a = m.Advance('A'), v = m.Advance('V');
  const double kern = freetype_kerning(m.font, 'A', 'V', 16);
  ASSERT_LT(kern, 0);  // the face kerns this pair
  EXPECT_EQ(m.r.TextWidth("AV"), a + v);
  rRectD plain;
  m.r.TextBounds("AV", plain);

  m.r.SetTextKerning(true);
  EXPECT_EQ(m.r.TextWidth("AV"), a + v + kern);
  rRectD kerned;
  m.r.TextBounds("AV", kerned);
  EXPECT_EQ(kerned.x2, plain.x2 + kern);
  // A character without a glyph (no CJK in the face; nothing above U+FFFF)
  // neither advances nor breaks the pair around it.
  EXPECT_EQ(m.r.TextWidth(u"A\u4E00V"), a + v + kern);
  EXPECT_EQ(m.r.TextWidth(U"A\U0001F600V"), a + v + kern);
  // The previous call's last glyph is forgotten: "V" after a glyph-less
  // first character does not kern against the "A" measured before.
  EXPECT_EQ(m.r.TextWidth("A"), a);
  EXPECT_EQ(m.r.TextWidth(u"\u4E00V"), v);
  rRectD b;
  m.r.TextWidth("A");
  m.r.TextBounds(u"\u4E00V", b);
  EXPECT_EQ(b.x2, m.Glyph('V').bounds.x2);  // a kern against "A" would pull it left

  // Nothing to measure: 0 and all-zero rectangles, whatever the alignment.
  m.r.SetTextAlign(ALIGN_CENTER, ALIGN_CENTER);
  for (const rTextView& t : {rTextView(u"\u4E00\u4E01"), rTextView(""), rTextView(static_cast<const char*>(nullptr))}) {
    EXPECT_EQ(m.r.TextWidth(t), 0.0);
    rRectD z = garbage(), e = garbage();
    m.r.TextBounds(t, z);
    m.r.TextExtents(t, false, 100, 15, e);
    expect_rect(z, rRectD{}, "bounds");
    expect_rect(e, rRectD{}, "extents");
  }
  cRendererSurface fontless;
  rRectD z = garbage();
  fontless.TextExtents("AV", true, 1, 2, z);
  expect_rect(z, rRectD{}, "no font");
}

TEST_F(TextMeasureTest, BoundsAreTheGlyphBoxFromTheOrigin) {
  QLM_REQUIRE_FONTS();
  Measuring m;
  rRectD b;
  m.r.TextBounds(" ", b);  // an empty outline spans its advance
  expect_rect(b, rRectD{0, 0, m.Advance(' '), 0}, "space");

  const agg::rect_i h = m.Glyph('H').bounds;
  const agg::rect_i g = m.Glyph('g').bounds;
  ASSERT_GT(h.x1, 0);  // "H" starts right of the origin
  m.r.TextBounds("H", b);
  // The width counts the first left bearing twice (right + |left|): the
  // layout's line breaking is built on these widths.
  expect_rect(b, rRectD{0, 0, double(h.x2 + h.x1), double(h.y2 - h.y1)}, "H");
  m.r.TextBounds("Hg", b);
  const double adv_h = m.Advance('H');
  expect_rect(b, rRectD{0, 0, adv_h + g.x2 + h.x1, double(g.y2 - h.y1)}, "Hg");
  // Trailing blanks add only where they start.
  m.r.TextBounds("H  ", b);
  EXPECT_EQ(b.x2, adv_h + m.Advance(' ') + h.x1);
}

// TextExtents at (100, 15): the glyph box moved by the alignment offsets,
// and with the angle turned about the point.
TEST_F(TextMeasureTest, ExtentsFollowTheAlignmentTableAndTurnAboutThePoint) {
  QLM_REQUIRE_FONTS();
  for (const double size : {16.0, -16.0}) {
    Measuring m(size);
    const bool flipped = size < 0;
    ASSERT_EQ(m.font.IsFlipped(), flipped);
    const agg::rect_i hb = m.Glyph('H').bounds;
    const agg::rect_i gb = m.Glyph('g').bounds;
    const double adv_h = m.Advance('H');
    // The glyph box of "Hg" in the font's own y direction.
    const double left = hb.x1, right = adv_h + gb.x2;
    const double top = std::min(hb.y1, gb.y1), bottom = std::max(hb.y2, gb.y2);
    const double w = right - left;
    const double height = m.font.GetHeight(), descent = m.font.GetDescent();
    const double x = 100, y = 15;

    struct Row {
      eAlign ax, ay;
      double x1;        // the box's left edge
      double baseline;  // where the pen runs
    };
    // Ordinary font: top puts the highest ink at y, centre puts the middle
    // of the ascent-plus-descent band at y. A flipped font's glyphs are
    // y-up: top puts its highest ink (largest y) at y, centre the band's
    // middle, mirrored.
    const double top_base = flipped ? y - bottom : y - top;
    const double centre_base = flipped ? y - (height / 2 - descent) : y + (height / 2 - descent);
    const Row rows[] = {
        {ALIGN_LEFT, ALIGN_BOTTOM, x + left, y},
        {ALIGN_NONE, ALIGN_NONE, x + left, y},
        {ALIGN_JUSTIFY, ALIGN_WIDTH, x + left, y},
        {ALIGN_TOP, ALIGN_RIGHT, x + left, y},  // values of the other axis place nothing
        {ALIGN_RIGHT, ALIGN_TOP, x - w + left, top_base},
        {ALIGN_CENTER, ALIGN_CENTER, x - w / 2 + left, centre_base},
        {ALIGN_CENTER, ALIGN_BOTTOM, x - w / 2 + left, y},
    };
    for (const Row& row : rows) {
      const std::string what =
          std::string(flipped ? "flipped " : "") + std::to_string(row.ax) + "/" + std::to_string(row.ay);
      m.r.SetTextAlign(row.ax, row.ay);
      const rRectD box{row.baseline + top, row.x1, row.x1 + w, row.baseline + bottom};
      rRectD e;
      m.r.SetTextAngle(0);
      m.r.TextExtents("Hg", false, x, y, e);
      expect_rect(e, box, what);
      m.r.SetTextAngle(90);
      m.r.TextExtents("Hg", true, x, y, e);
      expect_rect(e, box, what + " unrotated");
      // Turned by 90 degrees about (x, y): (dx, dy) -> (-dy, dx).
      m.r.TextExtents("Hg", false, x, y, e);
      expect_rect(e, rRectD{y + (box.x1 - x), x - (box.y2 - y), x - (box.y1 - y), y + (box.x2 - x)}, what + " at 90",
                  1e-9);
    }
    // The worked example: right and top at (100, 15) put the ink's right
    // edge at 100 plus the first glyph's left bearing, and its top at 15.
    if (!flipped) {
      m.r.SetTextAngle(0);
      m.r.SetTextAlign(ALIGN_RIGHT, ALIGN_TOP);
      rRectD e;
      m.r.TextExtents("Hg", false, 100, 15, e);
      EXPECT_EQ(e.x2, 100 + left);
      EXPECT_EQ(e.y1, 15);
    }
  }
}

}  // namespace
