// Characters a face cannot draw, and font files that cannot be used.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "font_test_support.h"
#include "qlm_font_engine.h"

namespace {

class FontMissingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qlm_font_start();
    QLM_REQUIRE_FONTS();
  }
};

TEST_F(FontMissingTest, UnmappedAndAstralCharactersHaveNoGlyph) {
  cFontWinTT arial, verdana;
  arial.SetFace("Arial", 0, 16);
  verdana.SetFace("Verdana", 0, 16);
  tFontCacheManager* a = arial.GetCacheManager();
  // Liberation Sans has no snowman; DejaVu Sans has one.
  EXPECT_EQ(a->glyph(0x2603), nullptr);
  EXPECT_NE(verdana.GetCacheManager()->glyph(0x2603), nullptr);
  // Asked twice: a missing glyph is not cached as something else.
  EXPECT_EQ(a->glyph(0x2603), nullptr);
  // Astral codes share the cache's slots with BMP characters: U+10041 would
  // come back as the "A" already cached.
  ASSERT_NE(a->glyph('A'), nullptr);
  EXPECT_EQ(a->glyph(0x10041), nullptr);
  EXPECT_EQ(a->glyph(0x1F600), nullptr);
  EXPECT_EQ(verdana.GetCacheManager()->glyph(0x1F600), nullptr);
  EXPECT_EQ(a->glyph(0), nullptr);
}

// A resolved file that cannot be opened as a font leaves the font as it
// was: name, size, style, flip and metrics, and it still draws.
TEST_F(FontMissingTest, AnUnusableResolvedFileKeepsThePreviousFont) {
  const std::string tiny = testenv::TinyFont{}.Build();
  struct Case {
    const char* what;
    std::string bytes;  // written to the file; "-" leaves no file
  };
  const Case cases[] = {
      {"missing file", "-"},
      {"empty file", ""},
      {"text file", "this is not a font\n"},
      {"truncated font", tiny.substr(0, tiny.size() / 2)},
      {"folder", "/"},
  };
  for (const Case& c : cases) {
    cFontWinTT f;
    f.SetFace("Arial", cnFontBold, -16);
    const rFontFace before = f.CurrentFace();
    const double ascent = f.GetAscent(), line_height = f.GetLineHeight();

    std::string path = (std::filesystem::current_path() / "broken.ttf").string();
    std::filesystem::remove_all(path);
    if (c.bytes == "/")
      std::filesystem::create_directory(path);
    else if (c.bytes != "-")
      testenv::write_file(path, c.bytes);
    {
      testenv::ResolverHookScope hook(path);
      f.SetName("Broken");
      f.SetFace("Broken", 0, 30);
    }
    EXPECT_EQ(f.GetName(), "Arial") << c.what;
    EXPECT_DOUBLE_EQ(f.GetSize(), 16) << c.what;
    EXPECT_EQ(f.GetStyle(), cnFontBold) << c.what;
    EXPECT_TRUE(f.IsFlipped()) << c.what;
    EXPECT_EQ(f.GetAscent(), ascent) << c.what;
    EXPECT_EQ(f.GetLineHeight(), line_height) << c.what;
    EXPECT_EQ(f.CurrentFace().file, before.file) << c.what;
    EXPECT_EQ(f.CreationCount(), 1u) << c.what;
    // A glyph not drawn before still comes from the old face.
    const agg::glyph_cache* g = f.GetCacheManager()->glyph('B');
    ASSERT_NE(g, nullptr) << c.what;
    EXPECT_GT(g->data_size, 0u) << c.what;
    EXPECT_GT(g->bounds.y2, 10) << c.what;  // y-up: "B" rises above the baseline
    std::filesystem::remove_all(path);
  }
}

// The engine's own load fails after the file was checked (it went away in
// between): the engine drops its face, and the font takes the previous one
// back. When even that fails, the font has no glyph source left.
TEST_F(FontMissingTest, AFailedEngineLoadTakesThePreviousFaceBack) {
  cFontWinTT f;
  f.SetFace("Arial", 0, 16);
  font_engine_fail_load_at(1);
  f.SetFace("Verdana", cnFontBold, 20);
  font_engine_fail_load_at(0);
  EXPECT_EQ(f.GetName(), "Arial");
  EXPECT_DOUBLE_EQ(f.GetSize(), 16);
  EXPECT_EQ(f.CreationCount(), 1u);
  ASSERT_NE(f.GetCacheManager(), nullptr);
  cFontWinTT reference;
  reference.SetFace("Arial", 0, 16);
  const agg::glyph_cache* g = f.GetCacheManager()->glyph('B');
  const agg::glyph_cache* r = reference.GetCacheManager()->glyph('B');
  ASSERT_TRUE(g && r);
  EXPECT_EQ(g->bounds.y1, r->bounds.y1);  // the 16-pixel Arial "B"
  EXPECT_EQ(g->advance_x, r->advance_x);

  // Both loads fail: no glyph source until the next good creation.
  font_engine_fail_load_at(1, true);
  f.SetFace("Verdana", cnFontBold, 20);
  font_engine_fail_load_at(0);
  EXPECT_EQ(f.GetName(), "Arial");
  EXPECT_EQ(f.GetCacheManager(), nullptr);
  f.SetFace("Verdana", cnFontBold, 20);
  EXPECT_EQ(f.CreationCount(), 2u);
  ASSERT_NE(f.GetCacheManager(), nullptr);
  EXPECT_NE(f.GetCacheManager()->glyph('B'), nullptr);
}

// A font that never had a face has no glyph source and measures nothing.
TEST_F(FontMissingTest, AFontWithoutAFaceHasNoGlyphs) {
  cFontWinTT f;
  EXPECT_EQ(f.GetCacheManager(), nullptr);
  f.UpdateMetrics();
  EXPECT_EQ(f.GetLineHeight(), 0);
  testenv::ResolverHookScope hook("/nonexistent/font.ttf");
  f.SetFace("Nothing", 0, 12);
  EXPECT_EQ(f.GetName(), "");
  EXPECT_EQ(f.GetCacheManager(), nullptr);
}

}  // namespace
