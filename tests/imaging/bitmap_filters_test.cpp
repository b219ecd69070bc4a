#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "bitmap_builders.h"
#include "image_test_util.h"
#include "qlm_base_array.h"
#include "qlm_bitmap_filters.h"

using testenv::bitmap_matches;
using testenv::bitmaps_equal;
using testenv::make_bitmap;
using testenv::make_pattern;
using testenv::pixel_argb;
using testenv::ProgressRecorder;

namespace {

class BitmapFilters : public ::testing::Test {
 protected:
  void SetUp() override { qlm_bitmap_start(); }
};

// A bitmap of one grey value per pixel, from a table of rows.
std::unique_ptr<cBitmap> grey(const std::vector<std::vector<int>>& rows, int32_t kind = cnBitmap24BGR) {
  return make_bitmap(int32_t(rows[0].size()), int32_t(rows.size()), kind, [&](int32_t x, int32_t y) {
    const uint8_t v = uint8_t(rows[size_t(y)][size_t(x)]);
    return color_rgba(v, v, v, uint8_t(255 - v));
  });
}

std::vector<std::vector<int>> red_rows(const cBitmap& b) {
  std::vector<std::vector<int>> out;
  for (int32_t y = 0; y < b.Height(); ++y) out.push_back(testenv::red_row(b, y));
  return out;
}

// The value one channel maps to under a filter, on a one-pixel bitmap.
uint8_t map_value(const std::function<bool(cBitmap*)>& filter, uint8_t v) {
  auto b = make_bitmap(1, 1, cnBitmap32ARGB, [v](int32_t, int32_t) { return color_rgba(v, v, v, 0x5A); });
  EXPECT_TRUE(filter(b.get())) << b->LastErrorText();
  EXPECT_EQ(pixel_argb(*b, 0, 0) >> 24, 0x5Au);  // alpha kept
  return uint8_t(pixel_argb(*b, 0, 0) >> 16);
}

}  // namespace

TEST_F(BitmapFilters, ValueMaps) {
  struct Case {
    const char* name;
    std::function<bool(cBitmap*)> filter;
    std::vector<std::pair<int, int>> spots;  // value -> result
  };
  // clang-format off
  const Case cases[] = {
      {"invert", [](cBitmap* b) { return bf_invert(b, 0, nullptr); }, {{0, 255}, {255, 0}, {100, 155}}},
      {"darkness 0", [](cBitmap* b) { return bf_darkness(b, 0, 0, nullptr); }, {{0, 0}, {77, 77}, {255, 255}}},
      {"darkness 255", [](cBitmap* b) { return bf_darkness(b, 255, 0, nullptr); }, {{255, 0}, {1, 0}}},
      {"darkness 128", [](cBitmap* b) { return bf_darkness(b, 128, 0, nullptr); }, {{255, 127}, {2, 1}, {3, 2}}},
      // Negative amounts brighten; div truncates toward zero: 1 - (-100 / 255) = 1.
      {"darkness -100", [](cBitmap* b) { return bf_darkness(b, -100, 0, nullptr); }, {{1, 1}, {200, 255}, {100, 139}}},
      {"darkness INT32_MAX", [](cBitmap* b) { return bf_darkness(b, INT32_MAX, 0, nullptr); }, {{0, 0}, {1, 0}, {255, 0}}},
      {"darkness INT32_MIN", [](cBitmap* b) { return bf_darkness(b, INT32_MIN, 0, nullptr); }, {{0, 0}, {1, 255}}},
      {"lightness 100", [](cBitmap* b) { return bf_lightness(b, 100, 0, nullptr); }, {{0, 99}, {128, 177}, {255, 255}}},
      {"lightness -100", [](cBitmap* b) { return bf_lightness(b, -100, 0, nullptr); }, {{255, 156}, {0, 0}}},
      {"lightness 0", [](cBitmap* b) { return bf_lightness(b, 0, 0, nullptr); }, {{0, 0}, {128, 128}, {255, 255}}},
      {"lightness 256", [](cBitmap* b) { return bf_lightness(b, 256, 0, nullptr); }, {{0, 255}, {200, 255}}},
      {"lightness -256", [](cBitmap* b) { return bf_lightness(b, -256, 0, nullptr); }, {{255, 0}, {1, 0}}},
      // Products wrap in 32 bits (no signed overflow): 255 x 2^31 wraps to
      // 2^31, shr 8 is 2^23, so 0 becomes 255.
      {"lightness INT32_MAX", [](cBitmap* b) { return bf_lightness(b, INT32_MAX, 0, nullptr); }, {{0, 255}, {255, 255}}},
      {"lightness INT32_MIN", [](cBitmap* b) { return bf_lightness(b, INT32_MIN, 0, nullptr); }, {{0, 0}, {255, 0}, {1, 0}}},
  };
  // clang-format on
  for (const Case& c : cases)
    for (const auto& [v, want] : c.spots) EXPECT_EQ(map_value(c.filter, uint8_t(v)), want) << c.name << " " << v;
}

TEST_F(BitmapFilters, InvertAndKeepChannels) {
  auto b = make_pattern(7, 5, cnBitmap32BGRA);
  auto ref = make_pattern(7, 5, cnBitmap32BGRA);
  ASSERT_TRUE(bf_invert(b.get(), 0, nullptr));
  EXPECT_TRUE(bitmap_matches(*b, [&](int32_t x, int32_t y) { return pixel_argb(*ref, x, y) ^ 0x00FFFFFFu; }));
  ASSERT_TRUE(bf_invert(b.get(), 0, nullptr));
  EXPECT_TRUE(bitmaps_equal(*b, *ref));

  struct Case {
    bool (*filter)(cBitmap*, uint8_t, ProgressCallback, double);
    int shift;  // where the kept channel lies in 0xAARRGGBB
  };
  const Case keeps[] = {{&bf_keep_red, 16}, {&bf_keep_green, 8}, {&bf_keep_blue, 0}};
  for (const Case& k : keeps) {
    struct Factor {
      double factor;
      int value, result;
    };
    const Factor factors[] = {{1.0, 200, 200},
                              {0.5, 5, 2},
                              {0.5, 3, 2},             // ties to even
                              {2.0, 200, 400 & 0xFF},  // low 8 bits
                              {std::numeric_limits<double>::quiet_NaN(), 9, 0},
                              {1e300, 7, 0}};
    for (const Factor& f : factors) {
      auto p = make_bitmap(1, 1, cnBitmap24RGB,
                           [&](int32_t, int32_t) { return 0xFF000000u | uint32_t(f.value) * 0x010101u; });
      ASSERT_TRUE(k.filter(p.get(), 0, nullptr, f.factor));
      EXPECT_EQ(pixel_argb(*p, 0, 0), 0xFF000000u | uint32_t(f.result) << k.shift) << k.shift << " " << f.factor;
    }
  }
}

TEST_F(BitmapFilters, BlurPassesWorkInPlace) {
  // Rows 50 12 53 / 15 25 16 / 10 10 12: later pixels see earlier results.
  auto b = grey({{0, 0, 0}, {0, 200, 0}, {0, 0, 0}});
  ASSERT_TRUE(bf_gaussian_blur(b.get(), 1, 0, nullptr));
  EXPECT_EQ(red_rows(*b), (std::vector<std::vector<int>>{{50, 12, 53}, {15, 25, 16}, {10, 10, 12}}));

  // Alpha is blurred in formats with alpha (255 - 200 in the middle).
  auto a = grey({{0, 0, 0}, {0, 200, 0}, {0, 0, 0}}, cnBitmap32RGBA);
  ASSERT_TRUE(bf_gaussian_blur(a.get(), 1, 0, nullptr));
  EXPECT_EQ(red_rows(*a), red_rows(*b));
  EXPECT_EQ(pixel_argb(*a, 0, 0) >> 24, (255u * 3 + 55) >> 2);

  // One pixel, radius 0 and a distance-0 pass change nothing.
  auto one = grey({{123}});
  ASSERT_TRUE(bf_gaussian_blur(one.get(), 5, 0, nullptr));
  EXPECT_EQ(red_rows(*one), (std::vector<std::vector<int>>{{123}}));
  auto p = make_pattern(6, 4, cnBitmap32ABGR);
  auto ref = make_pattern(6, 4, cnBitmap32ABGR);
  ASSERT_TRUE(bf_gaussian_blur(p.get(), 0, 0, nullptr));
  ASSERT_TRUE(bf_gaussian_blur(p.get(), -3, 0, nullptr));
  bf_split_blur(*p->Order(), p.get(), 0, nullptr);
  EXPECT_TRUE(bitmaps_equal(*p, *ref));
  // A distance far beyond the bitmap clamps to its corners.
  ASSERT_TRUE(bf_gaussian_blur(p.get(), 2, 0, nullptr));
  bf_split_blur(*p->Order(), p.get(), INT32_MAX, nullptr);
}

TEST_F(BitmapFilters, ProgressReportsAndCounting) {
  auto b = make_pattern(3, 4, cnBitmap24RGB);
  {
    ProgressRecorder rec;
    ASSERT_TRUE(bf_invert(b.get(), 0, &ProgressRecorder::Callback));
    EXPECT_EQ(rec.reports, (std::vector<double>{0, 25, 50, 75, 100}));
    EXPECT_EQ(rec.objects.front(), b.get());
  }
  {
    ProgressRecorder rec;
    ASSERT_TRUE(bf_gaussian_blur(b.get(), 3, 0, &ProgressRecorder::Callback));
    ASSERT_EQ(rec.reports.size(), 4u);
    EXPECT_DOUBLE_EQ(rec.reports[0], 100.0 / 3);
    EXPECT_DOUBLE_EQ(rec.reports[1], 200.0 / 3);
    EXPECT_EQ(rec.reports[2], 100);
    EXPECT_EQ(rec.reports[3], 100);
  }
  {
    ProgressRecorder rec;
    const int32_t changes = b->ChangeCount();
    ASSERT_TRUE(bf_gaussian_blur(b.get(), 0, 0, &ProgressRecorder::Callback));
    EXPECT_EQ(rec.reports, (std::vector<double>{100}));
    EXPECT_EQ(b->ChangeCount(), changes + 1);
    ASSERT_TRUE(bf_lightness(b.get(), 60, cnFilterNoChange, &ProgressRecorder::Callback));
    EXPECT_EQ(b->ChangeCount(), changes + 1);
  }
  // The split-blur pass reports (y + 1) / height and stops on false.
  {
    ProgressRecorder rec(3);
    try {
      bf_split_blur(*b->Order(), b.get(), 1, &ProgressRecorder::Callback);
      ADD_FAILURE() << "no break";
    } catch (const exError& e) {
      EXPECT_EQ(e.Code(), errProgressBreak);
      EXPECT_NE(e.Message().find("{bf_split_blur}"), std::string::npos);
    }
    EXPECT_EQ(rec.reports, (std::vector<double>{25, 50, 75}));
  }
}

TEST_F(BitmapFilters, CancelAtTheFirstReportChangesNothing) {
  struct Case {
    const char* text;
    std::function<bool(cBitmap*, ProgressCallback)> run;
  };
  const Case cases[] = {
      {"{bf_invert}", [](cBitmap* b, ProgressCallback p) { return bf_invert(b, 0, p); }},
      {"{bf_keep_red}", [](cBitmap* b, ProgressCallback p) { return bf_keep_red(b, 0, p, 1.0); }},
      {"{bf_keep_green}", [](cBitmap* b, ProgressCallback p) { return bf_keep_green(b, 0, p, 1.0); }},
      {"{bf_keep_blue}", [](cBitmap* b, ProgressCallback p) { return bf_keep_blue(b, 0, p, 1.0); }},
      {"{bf_darkness}", [](cBitmap* b, ProgressCallback p) { return bf_darkness(b, 100, 0, p); }},
      {"{bf_lightness}", [](cBitmap* b, ProgressCallback p) { return bf_lightness(b, 100, 0, p); }},
      {"{bf_gaussian_blur}", [](cBitmap* b, ProgressCallback p) { return bf_gaussian_blur(b, 2, 0, p); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto b = make_pattern(5, 6, cnBitmap32RGBA);
    auto ref = make_pattern(5, 6, cnBitmap32RGBA);
    const int32_t changes = b->ChangeCount();
    {
      ProgressRecorder rec(1);
      EXPECT_FALSE(c.run(b.get(), &ProgressRecorder::Callback));
      EXPECT_EQ(rec.reports.size(), 1u);
    }
    EXPECT_TRUE(bitmaps_equal(*b, *ref));
    EXPECT_EQ(b->ChangeCount(), changes);
    EXPECT_EQ(b->LastErrorCode(), errProgressBreak);
    EXPECT_NE(b->LastErrorText().find(c.text), std::string::npos) << b->LastErrorText();

    // A cancel at the final report: the pixels are done, the counter stays.
    {
      ProgressRecorder all;
      ASSERT_TRUE(c.run(ref.get(), &ProgressRecorder::Callback));
      ProgressRecorder last(int32_t(all.reports.size()));
      EXPECT_FALSE(c.run(b.get(), &ProgressRecorder::Callback));
    }
    EXPECT_EQ(b->ChangeCount(), changes);

    // Nil: false without a log anywhere; a closed bitmap: 279.
    EXPECT_FALSE(c.run(nullptr, nullptr));
    cBitmap closed(2, 2, cnBitmap32RGBA);
    EXPECT_FALSE(c.run(&closed, nullptr));
    EXPECT_EQ(closed.LastErrorCode(), errPreCondition);
    EXPECT_NE(closed.LastErrorText().find("{not bitmap_has_order}"), std::string::npos);
    ASSERT_NE(closed.Log(), nullptr);
    EXPECT_EQ(closed.Log()->Count(), 1u);
  }
}
