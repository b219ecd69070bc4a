// When a font is created, with which size and orientation, and what a
// refused creation leaves.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "font_test_support.h"
#include "qlm_font_engine.h"

namespace {

class FontCreationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qlm_font_start();
    QLM_REQUIRE_FONTS();
  }
};

// The height of "H" in whole pixels, whichever way the font is turned.
int h_height(cFontWinTT& f) {
  const agg::glyph_cache* g = f.GetCacheManager()->glyph('H');
  return g ? g->bounds.y2 - g->bounds.y1 : -1;
}

TEST_F(FontCreationTest, SizesInPointsAndTheDefaultSize) {
  cFontWinTT f;
  EXPECT_EQ(f.SetSizePt(9), &f);
  EXPECT_DOUBLE_EQ(f.GetSize(), 12);
  EXPECT_DOUBLE_EQ(f.GetSizePt(), 9);
  EXPECT_EQ(f.CreationCount(), 0u);  // no name yet: only stored

  f.SetFace("Arial", 0, 0);
  EXPECT_EQ(f.GetName(), "Arial");
  EXPECT_DOUBLE_EQ(f.GetSize(), 16);
  EXPECT_EQ(f.CreationCount(), 1u);
  f.SetFace("Arial", 0, 0);  // the stored size is 16, not 0
  EXPECT_EQ(f.CreationCount(), 2u);

  // 13 points are 17.33 pixels; the glyphs and metrics are those of 17.
  f.SetSizePt(13);
  EXPECT_NEAR(f.GetSize(), 17.3333333, 1e-6);
  EXPECT_NEAR(f.GetSizePt(), 13, 1e-12);
  cFontWinTT g;
  g.SetFace("Arial", 0, 17);
  EXPECT_EQ(f.GetAscent(), g.GetAscent());
  EXPECT_EQ(f.GetLineHeight(), g.GetLineHeight());
  EXPECT_EQ(f.GetCacheManager()->glyph('W')->advance_x, g.GetCacheManager()->glyph('W')->advance_x);
}

TEST_F(FontCreationTest, OnlyChangesOrTheRecreateFlagCreate) {
  cFontWinTT f;
  f.SetFace("Arial", 0, 12);
  f.SetFace("Arial", 0, 12);
  EXPECT_EQ(f.CreationCount(), 1u);
  f.mRecreate = true;
  f.SetFace("Arial", 0, 12);
  EXPECT_EQ(f.CreationCount(), 2u);
  EXPECT_FALSE(f.mRecreate);

  f.SetName("Arial");
  f.SetSize(12);
  f.SetStyle(0);
  f.SetName("");
  EXPECT_EQ(f.CreationCount(), 2u);
  EXPECT_EQ(f.GetName(), "Arial");

  f.SetStyle(cnFontBold);
  EXPECT_EQ(f.CreationCount(), 3u);
  EXPECT_EQ(testenv::base_name(f.CurrentFace().file), "LiberationSans-Bold.ttf");
  f.SetName("Verdana");
  EXPECT_EQ(testenv::base_name(f.CurrentFace().file), "DejaVuSans-Bold.ttf");
  EXPECT_DOUBLE_EQ(f.GetSize(), 12);
  f.SetSize(20);
  EXPECT_EQ(f.CreationCount(), 5u);

  // The flag is cleared by every call, also one that creates nothing.
  f.mRecreate = true;
  f.SetName("");
  EXPECT_FALSE(f.mRecreate);
}

TEST_F(FontCreationTest, WithoutANameSizeAndStyleAreOnlyStored) {
  cFontWinTT f;
  f.SetSize(-20);
  f.SetStyle(cnFontBold);
  EXPECT_DOUBLE_EQ(f.GetSize(), 20);
  EXPECT_TRUE(f.IsFlipped());
  EXPECT_EQ(f.GetStyle(), cnFontBold);
  EXPECT_EQ(f.CreationCount(), 0u);
  f.SetSize(0);
  EXPECT_DOUBLE_EQ(f.GetSize(), 0);  // the default applies only when creating
  f.SetFace("", cnFontItalic, 14);
  EXPECT_DOUBLE_EQ(f.GetSize(), 14);
  EXPECT_EQ(f.GetStyle(), cnFontItalic);
  EXPECT_EQ(f.CreationCount(), 0u);
}

// A negative size turns the outlines y-up; the em size stays the same.
TEST_F(FontCreationTest, AFlippedFontHasTheSameEmSizeAndKeepsItsFlip) {
  cFontWinTT up, down;
  down.SetFace("Arial", 0, 20);
  up.SetFace("Arial", cnFontBold, -20);
  EXPECT_TRUE(up.IsFlipped());
  EXPECT_FALSE(down.IsFlipped());
  EXPECT_DOUBLE_EQ(up.GetSize(), 20);
  EXPECT_EQ(up.GetStyle(), cnFontBold);
  up.SetStyle(0);
  ASSERT_TRUE(up.IsFlipped());

  const agg::glyph_cache* a = up.GetCacheManager()->glyph('H');
  const agg::glyph_cache* b = down.GetCacheManager()->glyph('H');
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->bounds.y2, -b->bounds.y1);  // above the baseline: y > 0 when flipped
  EXPECT_EQ(a->bounds.y1, -b->bounds.y2);
  EXPECT_EQ(up.GetAscent(), down.GetAscent());
  EXPECT_EQ(up.GetLineHeight(), down.GetLineHeight());

  // Re-applying the name (as the renderer does when hinting changes) and
  // the same negative size keep the flip and create nothing new.
  const uint64_t n = up.CreationCount();
  up.SetFace("Arial", 0, -20);
  EXPECT_EQ(up.CreationCount(), n);
  up.mRecreate = true;
  up.SetName("Arial");
  EXPECT_TRUE(up.IsFlipped());
  up.SetSize(20);
  EXPECT_FALSE(up.IsFlipped());
  EXPECT_EQ(h_height(up), h_height(down));
}

TEST_F(FontCreationTest, SizesAreClampedAndNonFiniteSizesRefused) {
  struct Case {
    double size;
    double stored;
  };
  const Case cases[] = {{0.25, 1}, {-0.5, 1}, {1e9, 65535}, {70000.5, 65535}};
  for (const Case& c : cases) {
    cFontWinTT f;
    f.SetFace("Arial", 0, c.size);
    EXPECT_DOUBLE_EQ(f.GetSize(), c.stored) << c.size;
    EXPECT_EQ(f.IsFlipped(), c.size < 0) << c.size;
    EXPECT_EQ(f.CreationCount(), 1u) << c.size;
  }
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {std::nan(""), inf, -inf}) {
    cFontWinTT f;
    f.SetFace("Arial", 0, 12);
    const double ascent = f.GetAscent();
    f.SetFace("Verdana", 0, bad);
    f.SetSize(bad);
    EXPECT_EQ(f.GetName(), "Arial");
    EXPECT_DOUBLE_EQ(f.GetSize(), 12);
    EXPECT_EQ(f.GetAscent(), ascent);
    EXPECT_EQ(f.CreationCount(), 1u);
    EXPECT_EQ(f.IsFlipped(), false);
    cFontWinTT unnamed;
    unnamed.SetSize(bad);
    EXPECT_DOUBLE_EQ(unnamed.GetSize(), 0);
  }
}

// Unhinted advances are fractional: FreeType's 26.6 advance, not rounded.
TEST_F(FontCreationTest, HintingSwitchesBetweenWholeAndFractionalAdvances) {
  cFontWinTT f;
  f.SetFace("Arial", 0, 12);
  f.SetHinting(false);
  EXPECT_FALSE(f.GetHinting());
  EXPECT_DOUBLE_EQ(f.GetCacheManager()->glyph('C')->advance_x, 555.0 / 64);  // 1479 × 12 / 2048 in 26.6
  f.SetHinting(true);
  EXPECT_TRUE(f.GetHinting());
  const double hinted = f.GetCacheManager()->glyph('C')->advance_x;
  EXPECT_EQ(hinted, std::floor(hinted));
}

// More sizes and styles through one font than its glyph cache pool holds:
// the pool is emptied once full instead of letting AGG drop its oldest font
// (an overlapping memcpy the sanitizer build reports), and every glyph is
// still the one a fresh font of that size and style gives.
TEST_F(FontCreationTest, MoreSignaturesThanThePoolHoldsStartAnEmptyPool) {
  struct Signature {
    uint8_t style;
    int size;
  };
  std::vector<Signature> signatures;
  for (uint8_t style : {uint8_t(0), cnFontBold, cnFontItalic})
    for (int size = 9; size < 9 + 25; ++size) signatures.push_back({style, size});
  ASSERT_GT(signatures.size(), 2 * cnFontCachePoolFonts);
  cFontWinTT f;
  for (int pass = 0; pass < 2; ++pass)
    for (size_t i = 0; i < signatures.size(); ++i) {
      const Signature& sig = signatures[i];
      SCOPED_TRACE(::testing::Message() << "pass " << pass << " style " << int(sig.style) << " size " << sig.size);
      f.SetFace("Arial", sig.style, sig.size);
      const agg::glyph_cache* got = f.GetCacheManager()->glyph('g');
      ASSERT_NE(got, nullptr);
      cFontWinTT fresh;
      fresh.SetFace("Arial", sig.style, sig.size);
      const agg::glyph_cache* want = fresh.GetCacheManager()->glyph('g');
      ASSERT_NE(want, nullptr);
      EXPECT_EQ(got->glyph_index, want->glyph_index);
      EXPECT_EQ(got->advance_x, want->advance_x);
      EXPECT_EQ(got->data_size, want->data_size);
      EXPECT_TRUE(got->bounds.x1 == want->bounds.x1 && got->bounds.y1 == want->bounds.y1 &&
                  got->bounds.x2 == want->bounds.x2 && got->bounds.y2 == want->bounds.y2);
      // The pool is emptied only by a signature beyond the ones it holds.
      EXPECT_EQ(f.CachePoolRenewals(), (pass * signatures.size() + i) / cnFontCachePoolFonts);
    }
}

// The manager on its own never looks a glyph up under a signature beyond
// its capacity: it answers none and says it is full; signatures it holds
// keep working.
TEST_F(FontCreationTest, AFullCacheManagerRefusesNewSignatures) {
  rFontFace face;
  ASSERT_TRUE(font_resolve("Arial", 0, face));
  cFontEngine engine;
  ASSERT_TRUE(engine.LoadOutlines(face.file, face.index));
  cFontCacheManager cache(engine, 2);
  for (double size : {10.0, 11.0}) {
    engine.height(size);
    EXPECT_NE(cache.glyph('H'), nullptr);
    EXPECT_FALSE(cache.Full());
  }
  engine.height(12);
  EXPECT_TRUE(cache.Full());
  EXPECT_EQ(cache.glyph('H'), nullptr);
  engine.height(10);
  EXPECT_FALSE(cache.Full());
  EXPECT_NE(cache.glyph('H'), nullptr);
}

TEST_F(FontCreationTest, ScriptFacesChangeNothing) {
  cFontWinTT f;
  f.SetFace("Arial", 0, 12);
  f.SetScriptFace("Latn", "Verdana");
  f.AddScriptFace("Latn", "Verdana");
  f.ClearScriptFaces();
  std::string face = "x";
  font_face_for_script(&f, "Latn", face);
  EXPECT_EQ(face, "");
  EXPECT_EQ(f.GetName(), "Arial");
  EXPECT_EQ(f.CreationCount(), 1u);
}

}  // namespace
