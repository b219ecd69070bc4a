// Drawing cost is bounded by what can show: a glyph far larger than the
// surface and a word far longer than a line both draw in a fraction of a
// second. The bounds are hang bounds (seconds), not speed measurements.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "qlm_renderer_hittest.h"
#include "richtext_support.h"

namespace {

using richtest::Page;

// The hang bound in seconds: the sanitizer build runs the walks several
// times slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kBound = 15.0;
#else
constexpr double kBound = 3.0;
#endif

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// 17 bytes of mark-up make a glyph of 65,536 pixels (the font's limit),
// and a size of a billion per cent as well; drawn on 200 x 100 pixels.
TEST(DrawCost, HugeGlyphsCostWhatTheSurfaceShows) {
  QLM_REQUIRE_FONTS();
  for (const char* markup : {"~<fs:px=65536>W~>", "~<fs=\"+1000000000%\">Big~>", "~<fs:px=40000>W~>"}) {
    SCOPED_TRACE(markup);
    Page p(200, 100);
    ASSERT_TRUE(p.doc.SetText(markup));
    ASSERT_TRUE(p.doc.FormatText(p.renderer.get(), &p.font, ALIGN_LEFT, ALIGN_TOP, 0, true));
    ASSERT_TRUE(p.doc.LayoutText(0));
    // At offsets that show different parts of the first glyph, each drawn
    // twice (a glyph that size is drawn afresh each time).
    const auto start = std::chrono::steady_clock::now();
    int64_t inked = 0;
    for (const double at : {0.0, -300.0, -8000.0})
      for (int i = 0; i < 2; ++i) {
        p.bitmap = richtest::white_bitmap(200, 100);
        ASSERT_TRUE(p.Attach());
        ASSERT_TRUE(p.doc.RenderText(p.renderer.get(), 2, at, at, nullptr));
        p.renderer->DetachSurface();
        inked += p.Inked();
      }
    EXPECT_LT(seconds_since(start), kBound);
    EXPECT_GT(inked, 0);
  }
}

// One word of 20 MB on one line of a 400 x 600 surface, where some 30
// glyphs show: drawn, and drawn with a hit test (which takes the outline
// painter), each in well under a second (the walk over the word's 20
// million characters is what remains: 0.4 s in the optimised build).
TEST(DrawCost, ALongWordCostsTheGlyphsThatShow) {
  QLM_REQUIRE_FONTS();
  const std::string word(size_t(20) << 20, 'm');
  Page p(400, 600);
  ASSERT_TRUE(p.doc.SetText(word));
  ASSERT_TRUE(p.doc.FormatText(p.renderer.get(), &p.font, ALIGN_LEFT, ALIGN_TOP, 0, true));
  ASSERT_TRUE(p.doc.LayoutText(380));
  ASSERT_TRUE(p.Attach());
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(p.doc.RenderText(p.renderer.get(), 2, 10, 10, nullptr));
  const double drawn = seconds_since(start);
  EXPECT_LT(drawn, kBound);
  EXPECT_GT(p.Inked(), 0);
  cHitTest hit;
  start = std::chrono::steady_clock::now();
  ASSERT_TRUE(p.doc.RenderText(p.renderer.get(), 8, 10, 10, &hit));
  const double registered = seconds_since(start);
  EXPECT_LT(registered, kBound);
  int hits = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 100; ++x) hits += hit.HitTest(x, y) != 0;
  EXPECT_GT(hits, 100);
}

}  // namespace
