// The font resolver: the substitution table in front of fontconfig, the
// answer cache, and fontconfig's synthetic slant applied the right way round.
#include <gtest/gtest.h>

#include <string>

#include "font_test_support.h"
#include "qlm_font_engine.h"
#include "qlm_font_resolver.h"

namespace {

class FontResolverTest : public ::testing::Test {
 protected:
  void SetUp() override { qlm_font_start(); }
};

TEST_F(FontResolverTest, WindowsNamesResolveToTheirSubstitutesOncePerKey) {
  QLM_REQUIRE_FONTS();
  struct Case {
    const char* name;
    uint8_t style;
    const char* file;
  };
  const Case cases[] = {
      {"Arial", 0, "LiberationSans-Regular.ttf"},
      {"Arial", cnFontBold, "LiberationSans-Bold.ttf"},
      {"Arial", cnFontBold | cnFontItalic, "LiberationSans-BoldItalic.ttf"},
      {"arial", cnFontItalic, "LiberationSans-Italic.ttf"},
      {"Verdana", cnFontItalic, "DejaVuSans-Oblique.ttf"},
      {"Verdana", cnFontBold, "DejaVuSans-Bold.ttf"},
      {"Tahoma", cnFontBold, "DejaVuSans-Bold.ttf"},
      {"MS Sans Serif", 0, "LiberationSans-Regular.ttf"},
      {"Times New Roman", 0, "LiberationSerif-Regular.ttf"},
      {"Courier New", cnFontBold, "LiberationMono-Bold.ttf"},
      {"No Such Face At All", 0, "DejaVuSans.ttf"},
  };
  font_resolver_clear_cache();
  const uint64_t runs = font_resolver_runs();
  for (int pass = 0; pass < 2; ++pass) {
    for (const Case& c : cases) {
      rFontFace face;
      ASSERT_TRUE(font_resolve(c.name, c.style, face)) << c.name;
      EXPECT_EQ(testenv::base_name(face.file), c.file) << c.name << " style " << int(c.style);
      EXPECT_FALSE(face.HasMatrix()) << c.name;
    }
    // The second pass is served from the cache.
    EXPECT_EQ(font_resolver_runs() - runs, std::size(cases));
  }
  // Bits above italic do not make another key.
  rFontFace face;
  ASSERT_TRUE(font_resolve("Arial", 0xFC, face));
  EXPECT_EQ(font_resolver_runs() - runs, std::size(cases));
}

// Every distinct name asked for is kept only up to the cache's capacity: a
// full cache starts again empty, and a name resolves the same either way.
TEST_F(FontResolverTest, TheAnswerCacheIsBounded) {
  testenv::ResolverHookScope hook("/fonts/any.ttf");
  const uint64_t runs = font_resolver_runs();
  const size_t names = cnFontResolverCacheEntries + 10;
  for (size_t i = 0; i < names; ++i) {
    rFontFace face;
    ASSERT_TRUE(font_resolve("Face " + std::to_string(i), 0, face));
    EXPECT_EQ(face.file, "/fonts/any.ttf");
    EXPECT_EQ(font_resolver_cache_size(), i % cnFontResolverCacheEntries + 1);
    // A name already kept comes from the cache.
    ASSERT_TRUE(font_resolve("Face " + std::to_string(i), 0, face));
  }
  EXPECT_EQ(font_resolver_runs() - runs, names);
  // The first names were dropped with the full cache: resolved again.
  rFontFace face;
  ASSERT_TRUE(font_resolve("Face 0", 0, face));
  EXPECT_EQ(face.file, "/fonts/any.ttf");
  EXPECT_EQ(font_resolver_runs() - runs, names + 1);
}

TEST_F(FontResolverTest, AnEmptyNameResolvesToNothing) {
  rFontFace face;
  EXPECT_FALSE(font_resolve("", 0, face));
  EXPECT_EQ(font_substitute_family("Segoe UI"), "DejaVu Sans");
  EXPECT_EQ(font_substitute_family("Liberation Sans"), "Liberation Sans");
}

// A family without an italic face gets fontconfig's slant matrix. In the
// y-down outlines of an ordinary font the top of "I" must lean to the right:
// the foot stays where the upright glyph's foot is, the head moves right.
// In a flipped (y-up) font the same holds with y turned over.
TEST_F(FontResolverTest, SyntheticSlantLeansToTheRightInBothOrientations) {
  rFontFace face;
  if (!font_resolve("DejaVu Math TeX Gyre", cnFontItalic, face) || !face.HasMatrix())
    GTEST_SKIP() << "no installed family gets a synthetic slant here";
  for (double size : {100.0, -100.0}) {
    cFontWinTT upright, slanted;
    upright.SetFace("DejaVu Math TeX Gyre", 0, size);
    slanted.SetFace("DejaVu Math TeX Gyre", cnFontItalic, size);
    ASSERT_EQ(slanted.CurrentFace().file, upright.CurrentFace().file);
    const agg::glyph_cache* a = upright.GetCacheManager()->glyph('I');
    const agg::glyph_cache* b = slanted.GetCacheManager()->glyph('I');
    ASSERT_TRUE(a && b);
    const int cap = a->bounds.y2 - a->bounds.y1;
    EXPECT_NEAR(b->bounds.x1, a->bounds.x1, 1) << size;
    EXPECT_NEAR(b->bounds.x2 - a->bounds.x2, face.xy * cap, 2) << size;
    EXPECT_DOUBLE_EQ(b->advance_x, a->advance_x);
  }
}

}  // namespace
