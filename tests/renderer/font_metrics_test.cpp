// Font metrics: from the face's tables, and the measured fallback; advance
// widths of the Arial substitute.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include "font_test_support.h"
#include "qlm_font_engine.h"

namespace {

class FontMetricsTest : public ::testing::Test {
 protected:
  void SetUp() override { qlm_font_start(); }
};

struct MetricRow {
  const char* name;
  double size;
  double ascent, descent, gap, height, line_height;
};

void expect_metrics(const cFont& f, const MetricRow& r) {
  EXPECT_EQ(f.GetAscent(), r.ascent) << r.name << " " << r.size;
  EXPECT_EQ(f.GetDescent(), r.descent) << r.name << " " << r.size;
  EXPECT_EQ(f.GetLineGap(), r.gap) << r.name << " " << r.size;
  EXPECT_EQ(f.GetHeight(), r.height) << r.name << " " << r.size;
  EXPECT_EQ(f.GetLineHeight(), r.line_height) << r.name << " " << r.size;
}

TEST_F(FontMetricsTest, MetricsOfTheSubstitutesFollowTheWindowsTables) {
  QLM_REQUIRE_FONTS();
  const MetricRow rows[] = {
      {"Arial", 10, 10, 3, 0, 13, 13},   {"Arial", 12, 11, 3, 0, 14, 14},   {"Arial", 13, 12, 3, 0, 15, 15},
      {"Arial", 16, 15, 4, 1, 19, 20},   {"Arial", 17, 16, 4, 1, 20, 21},   {"Arial", 32, 29, 7, 1, 36, 37},
      {"Verdana", 12, 12, 3, 0, 15, 15}, {"Verdana", 17, 16, 5, 0, 21, 21},
  };
  cFontWinTT f;  // one font switched between the rows, as the scenes do
  for (const MetricRow& r : rows) {
    f.SetFace(r.name, 0, r.size);
    expect_metrics(f, r);
  }
}

// Liberation Sans carries Arial's advance widths: the pen positions of a
// caption at 16 pixels, unhinted, are Arial's font units × 16 / 2048 to the
// 26.6 rounding of each glyph.
TEST_F(FontMetricsTest, AdvancesOfTheArialSubstituteAreArials) {
  QLM_REQUIRE_FONTS();
  struct Advance {
    char c;
    int units;
  };
  // Arial's published advance widths (2048 units per em).
  constexpr Advance arial[] = {{'C', 1479}, {'o', 1139}, {'n', 1139}, {'t', 569},  {'i', 455},
                               {'u', 1139}, {'e', 1139}, {' ', 569},  {'P', 1366}, {'r', 682},
                               {'v', 1024}, {'s', 1024}, {'I', 569},  {'a', 1139}, {'l', 455}};
  cFontWinTT f;
  f.SetFace("Arial", 0, 16);
  f.SetHinting(false);
  const std::string_view text = "Continue Previous Installation";
  double width = 0, expected = 0;
  for (char c : text) {
    const Advance* a = std::find_if(std::begin(arial), std::end(arial), [c](const Advance& x) { return x.c == c; });
    ASSERT_NE(a, std::end(arial)) << c;
    const agg::glyph_cache* g = f.GetCacheManager()->glyph(static_cast<unsigned char>(c));
    ASSERT_NE(g, nullptr) << c;
    EXPECT_NEAR(g->advance_x, a->units * 16.0 / 2048, 1.0 / 64) << c;
    width += g->advance_x;
    expected += a->units * 16.0 / 2048;
  }
  EXPECT_NEAR(width, expected, text.size() / 64.0);
}

// The table rule by itself: the OS/2 values with the external leading, the
// hhea values without an OS/2 table, nothing without either.
TEST_F(FontMetricsTest, TheTableRule) {
  rFontTables liberation;
  liberation.units_per_em = 2048;
  liberation.has_os2 = true;
  liberation.win_ascent = 1854;
  liberation.win_descent = 434;
  liberation.has_hhea = true;
  liberation.hhea_ascender = 1854;
  liberation.hhea_descender = -434;
  liberation.hhea_line_gap = 67;
  rFontMetrics m;
  ASSERT_TRUE(font_metrics_from_tables(liberation, 16, m));
  EXPECT_EQ(m.ascent, 15);
  EXPECT_EQ(m.line_gap, 1);
  EXPECT_EQ(m.line_height, 20);

  // Exactly whole products stay whole: 1024 × 16 / 2048 = 8.
  rFontTables whole = liberation;
  whole.win_ascent = 1024;
  whole.win_descent = 512;
  ASSERT_TRUE(font_metrics_from_tables(whole, 16, m));
  EXPECT_EQ(m.ascent, 8);
  EXPECT_EQ(m.descent, 4);

  rFontTables hhea_only = liberation;
  hhea_only.has_os2 = false;
  hhea_only.hhea_ascender = 1900;   // 14.84 at 16
  hhea_only.hhea_descender = -500;  // 3.9
  hhea_only.hhea_line_gap = 200;    // 1.56
  ASSERT_TRUE(font_metrics_from_tables(hhea_only, 16, m));
  EXPECT_EQ(m.ascent, 15);
  EXPECT_EQ(m.descent, 4);
  EXPECT_EQ(m.line_gap, 2);
  EXPECT_EQ(m.line_height, 21);

  rFontTables none;
  none.units_per_em = 2048;
  EXPECT_FALSE(font_metrics_from_tables(none, 16, m));
  EXPECT_EQ(m.line_height, 0);
}

// The same through a face: a font file without an OS/2 table uses hhea.
TEST_F(FontMetricsTest, AFaceWithoutOS2UsesItsHheaValues) {
  struct Case {
    bool os2;
    MetricRow row;
  };
  // hhea 900 / -200 / 100 and win 1000 / 300 at 1024 units per em, 16 px.
  const Case cases[] = {{false, {"tiny, hhea", 16, 15, 4, 2, 19, 21}}, {true, {"tiny, OS/2", 16, 16, 5, 0, 21, 21}}};
  for (const Case& c : cases) {
    testenv::TinyFont tiny;
    tiny.with_os2 = c.os2;
    testenv::ResolverHookScope hook(tiny.Write(c.os2 ? "tiny_os2.ttf" : "tiny_hhea.ttf"));
    cFontWinTT f;
    f.SetFace("Tiny", 0, 16);
    ASSERT_EQ(f.CreationCount(), 1u);
    expect_metrics(f, c.row);
  }
}

// A font over the tiny face that measures its metrics from the glyphs: "H"
// rises 11 pixels and "g" descends 3 at 16 pixels, whatever size the font
// reports.
class MeasuredFont : public cFont {
 public:
  MeasuredFont(const std::string& file, double reported_size, bool flipped) : mReported(reported_size) {
    mEngine.load_font(file.c_str(), 0, agg::glyph_ren_outline);
    mEngine.height(16);
    mEngine.flip_y(!flipped);
    mFlipped = flipped;
  }
  void SetName(std::string_view) override {}
  std::string GetName() const override { return "Measured"; }
  double GetSize() const override { return mReported; }
  uint8_t GetStyle() const override { return 0; }
  tFontCacheManager* GetCacheManager() override { return &mCache; }

 private:
  double mReported;
  cFontEngine mEngine;
  tFontCacheManager mCache{mEngine};
};

class NoGlyphsFont : public MeasuredFont {
 public:
  using MeasuredFont::MeasuredFont;
  tFontCacheManager* GetCacheManager() override { return nullptr; }
};

TEST_F(FontMetricsTest, MeasuredFallback) {
  const std::string file = testenv::TinyFont{}.Write("tiny.ttf");
  const MetricRow rows[] = {{"16", 16, 11, 3, 2, 14, 16}, {"12", 12, 11, 3, 0, 14, 14}};
  for (bool flipped : {false, true}) {
    for (const MetricRow& r : rows) {
      MeasuredFont f(file, r.size, flipped);
      f.UpdateMetrics();
      expect_metrics(f, r);
    }
  }
  NoGlyphsFont none(file, 16, false);
  none.UpdateMetrics();
  expect_metrics(none, {"no cache manager", 16, 0, 0, 0, 0, 0});

  // A face without "H" has ascent 0; "g" is the only descender it has.
  testenv::TinyFont no_h;
  no_h.h_top = 0;
  no_h.h_bottom = 0;
  MeasuredFont flat(no_h.Write("tiny_flat.ttf"), 16, false);
  flat.UpdateMetrics();
  expect_metrics(flat, {"flat H", 16, 0, 3, 13, 3, 16});
}

}  // namespace
