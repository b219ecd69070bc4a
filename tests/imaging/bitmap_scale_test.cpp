#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap_builders.h"
#include "qlm_bitmap.h"

using testenv::bitmap_matches;
using testenv::bitmaps_equal;
using testenv::coord_argb;
using testenv::make_bitmap;
using testenv::make_pattern;
using testenv::pixel_argb;
using testenv::red_row;

namespace {

class BitmapScale : public ::testing::Test {
 protected:
  void SetUp() override { qlm_bitmap_start(); }
  void TearDown() override { mem_alloc_fail_at(0); }
};

std::unique_ptr<cBitmap> coords(int32_t w, int32_t h, int32_t kind = cnBitmap32RGBA) {
  return make_bitmap(w, h, kind, [](int32_t x, int32_t y) { return coord_argb(x, y); });
}

// The nearest rescale, byte by byte as the plain rule writes it: enlarging,
// each source pixel copied to its columns into a row buffer that starts zeroed
// and is copied whole (padding too) to its rows; otherwise each target pixel
// from its 16.16 source position. Rows and padding the rule leaves alone keep
// what the target held.
void nearest_by_the_rule(const cBitmap& source, uint8_t* target, int64_t stride, int64_t tw, int64_t th) {
  const int64_t sw = source.Width(), sh = source.Height(), bpp = source.BytesPerPixel();
  const double sx = double(tw) / double(sw), sy = double(th) / double(sh);
  auto src = [&](int64_t x, int64_t y) { return source.Data() + y * source.Stride() + x * bpp; };
  if (sx >= 1 && sy >= 1) {
    const int64_t rx = int64_t(std::nearbyint(sx + 0.5)), ry = int64_t(std::nearbyint(sy + 0.5));
    std::vector<uint8_t> row(size_t(stride), 0);
    for (int64_t y = 0; y < sh; ++y) {
      for (int64_t x = 0; x < sw; ++x) {
        const int64_t c0 = int64_t(double(x) * sx);
        for (int64_t c = c0; c <= std::min(c0 + rx - 1, tw - 1); ++c)
          std::memcpy(&row[size_t(c * bpp)], src(x, y), size_t(bpp));
      }
      const int64_t r0 = int64_t(double(y) * sy);
      for (int64_t r = r0; r <= std::min(r0 + ry - 1, th - 1); ++r)
        std::memcpy(target + r * stride, row.data(), size_t(stride));
    }
    return;
  }
  const int64_t step_x = (sw << 16) / tw, step_y = (sh << 16) / th;
  for (int64_t y = 0; y < th; ++y)
    for (int64_t x = 0; x < tw; ++x)
      std::memcpy(target + y * stride + x * bpp, src((x * step_x) >> 16, (y * step_y) >> 16), size_t(bpp));
}

}  // namespace

// A random sweep of sizes, enlarging and shrinking on either axis (whole,
// half and odd factors), both pixel sizes and padded rows: every byte of the
// target, padding included, is the plain rule's.
TEST_F(BitmapScale, NearestMatchesThePlainRule) {
  uint32_t v = 88172645u;
  auto next = [&v] {
    v ^= v << 13, v ^= v >> 17, v ^= v << 5;
    return v;
  };
  int enlarged = 0;
  for (int round = 0; round < 400; ++round) {
    const int32_t kind = round % 2 ? cnBitmap24BGR : cnBitmap32RGBA;
    const int32_t sw = int32_t(1 + next() % 37), sh = int32_t(1 + next() % 23);
    const int32_t factors[][2] = {{1, 1}, {2, 1}, {3, 2}, {1, 2}, {3, 1}, {7, 3}, {2, 5}, {5, 2}};
    const auto& fx = factors[next() % 8];
    const auto& fy = factors[next() % 8];
    const int32_t tw = std::max(1, int32_t(sw * fx[0] / fx[1] + int32_t(next() % 3) - 1));
    const int32_t th = std::max(1, int32_t(sh * fy[0] / fy[1] + int32_t(next() % 3) - 1));
    SCOPED_TRACE(std::to_string(kind) + ": " + std::to_string(sw) + "x" + std::to_string(sh) + " -> " +
                 std::to_string(tw) + "x" + std::to_string(th));
    auto source = make_bitmap(sw, sh, kind, [&](int32_t, int32_t) { return next(); });
    cBitmap target(tw, th, kind);
    ASSERT_TRUE(target.Create());
    for (int64_t i = 0; i < target.DataSize(); ++i) target.Data()[i] = uint8_t(next());
    std::vector<uint8_t> expected(target.Data(), target.Data() + target.DataSize());
    nearest_by_the_rule(*source, expected.data(), target.Stride(), tw, th);
    ASSERT_TRUE(bitmap_resize(source.get(), &target));
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), target.Data()));
    enlarged += tw >= sw && th >= sh;
  }
  EXPECT_GT(enlarged, 50);
}

// The rows that scaling, cropping and tiling give, as the source columns each
// target column shows (coordinate pixels: red = source x).
TEST_F(BitmapScale, RowsOfNearestCropAndTile) {
  struct Case {
    const char* name;
    int32_t source_width, width;
    uint16_t flags;
    int32_t x, y, w, h;
    std::vector<int> row;  // -1: fill
  };
  const Case cases[] = {
      {"nearest 2 -> 6 (rx = 4, later pixels overwrite)", 2, 6, cnResizeNearest, 0, 0, 0, 0, {0, 0, 0, 1, 1, 1}},
      {"nearest 3 -> 7 (sx 2.33, rx 3)", 3, 7, cnResizeNearest, 0, 0, 0, 0, {0, 0, 1, 1, 2, 2, 2}},
      {"nearest 2 -> 4 (sx 2, rx round(2.5) = 2)", 2, 4, cnResizeNearest, 0, 0, 0, 0, {0, 0, 1, 1}},
      {"nearest shrink 6 -> 3 (16.16)", 6, 3, cnResizeNearest, 0, 0, 0, 0, {0, 2, 4}},
      {"nearest shrink 7 -> 3", 7, 3, cnResizeNearest, 0, 0, 0, 0, {0, 2, 4}},
      {"crop centre 10 -> 7", 10, 7, cnResizeCrop, 0, 0, 0, 0, {1, 2, 3, 4, 5, 6, 7}},
      {"crop left 10 -> 7", 10, 7, cnResizeCrop | cnResizeLeft, 0, 0, 0, 0, {0, 1, 2, 3, 4, 5, 6}},
      {"crop right 10 -> 7", 10, 7, cnResizeCrop | cnResizeRight, 0, 0, 0, 0, {3, 4, 5, 6, 7, 8, 9}},
      {"place 3 centred in 8", 10, 8, cnResizeCrop, 4, 0, 3, 0, {-1, -1, 4, 5, 6, -1, -1, -1}},
      {"place 3 right in 5", 10, 5, cnResizeCrop | cnResizeRight, 4, 0, 3, 0, {-1, -1, 4, 5, 6}},
      {"crop from x 8 to the edge", 10, 4, cnResizeCrop | cnResizeLeft, 8, 0, 0, 0, {8, 9, -1, -1}},
      {"crop beyond the source: all fill", 10, 3, cnResizeCrop, 12, 0, 5, 0, {-1, -1, -1}},
      {"crop x below 0 starts at 0", 10, 3, cnResizeCrop | cnResizeLeft, -5, 0, 2, 0, {0, 1, -1}},
      {"tile offset -1", 4, 6, cnResizeTile, -1, 0, 0, 0, {3, 0, 1, 2, 3, 0}},
      {"tile offset 6", 4, 6, cnResizeTile, 6, 0, 0, 0, {2, 3, 0, 1, 2, 3}},
      {"tile offset -9", 4, 5, cnResizeTile, -9, 0, 0, 0, {3, 0, 1, 2, 3}},
      {"tile offset INT32_MIN", 3, 4, cnResizeTile, INT32_MIN, 0, 0, 0, {1, 2, 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto source = coords(c.source_width, 1);
    source->SetBackground(0x7F0000FFu);  // red 0 is a column, so fill shows as blue
    auto made = source->Clone(c.width, 1, c.flags, c.x, c.y, c.w, c.h);
    ASSERT_NE(made, nullptr) << source->LastErrorText();
    std::vector<int> got;
    for (int32_t x = 0; x < made->Width(); ++x) {
      const uint32_t v = pixel_argb(*made, x, 0);
      got.push_back(v == 0x7F0000FFu ? -1 : int(v >> 16 & 0xFF));
    }
    EXPECT_EQ(got, c.row);
  }
}

TEST_F(BitmapScale, CropAndTileInTwoDimensions) {
  auto source = coords(5, 4);
  source->SetBackground(0xFF00FF00u);
  // Bottom-centre placement of the 2 x 2 rectangle at (1, 1) in 4 x 3, alpha 0 fill.
  auto placed = source->Clone(4, 3, cnResizeCrop | cnResizeBottom | cnResizeAlphaZero, 1, 1, 2, 2);
  ASSERT_NE(placed, nullptr);
  EXPECT_TRUE(bitmap_matches(*placed, [](int32_t x, int32_t y) {
    if (y >= 1 && x >= 1 && x <= 2) return coord_argb(x, y);  // source (x, y) lands at (x, y)
    return 0x0000FF00u;
  }));
  // Tiling (ox, oy) = (-2, 5): target (X, Y) shows source ((X - 2) mod 5, (Y + 5) mod 4).
  auto tiled = source->Clone(11, 9, cnResizeTile, -2, 5);
  ASSERT_NE(tiled, nullptr);
  EXPECT_TRUE(bitmap_matches(*tiled, [](int32_t x, int32_t y) { return coord_argb((x + 3) % 5, (y + 1) % 4); }));
}

TEST_F(BitmapScale, CloneChoosesTheOperation) {
  auto source = make_pattern(10, 10, cnBitmap32BGRA);
  auto palette = std::make_unique<cPalette>();
  const uint8_t entries[8] = {1, 2, 3, 0, 4, 5, 6, 0};
  palette->Open(entries, 2);
  source->SetPalette(std::move(palette));
  source->SetBackground(0xFF010203u);
  source->SetTransparentColor(0xFF040506u);
  source->Changed();
  source->Changed();

  // Nearest at 0 x 0 is an exact copy, palette included, counters carried.
  auto copy = source->Clone(0, 0, cnResizeNearest);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->DataSize(), source->DataSize());
  EXPECT_EQ(std::memcmp(copy->Data(), source->Data(), size_t(source->DataSize())), 0);
  ASSERT_NE(copy->Palette(), nullptr);
  EXPECT_NE(copy->Palette(), source->Palette());
  EXPECT_EQ(std::memcmp(copy->Palette()->Entries(), entries, 8), 0);
  EXPECT_EQ(copy->Background(), 0xFF010203u);
  EXPECT_EQ(copy->TransparentColor(), 0xFF040506u);
  EXPECT_EQ(copy->ChangeCount(), 2);
  EXPECT_EQ(copy->ShareCount(), 0);

  // Flag 0x1 with another size rescales bilinearly; only copies carry a palette.
  auto bigger = source->Clone(20, 20, cnResizeCopy);
  ASSERT_NE(bigger, nullptr);
  EXPECT_EQ(bigger->Width(), 20);
  EXPECT_EQ(bigger->Palette(), nullptr);
  auto bilinear = source->Clone(20, 20, cnResizeBilinear);
  EXPECT_TRUE(bitmaps_equal(*bigger, *bilinear));
  auto blank = source->Clone(3, 4, cnResizeBlank | cnResizeTile);  // 0x10 before 0x20
  ASSERT_NE(blank, nullptr);
  EXPECT_TRUE(bitmap_matches(*blank, [&](int32_t x, int32_t y) { return pixel_argb(*source, x, y); }));
  auto crop = source->Clone(0, -4, cnResizeCrop);  // sizes below 1 become 1
  ASSERT_NE(crop, nullptr);
  EXPECT_EQ(crop->Width(), 1);
  EXPECT_EQ(crop->Height(), 1);

  struct Case {
    int32_t w, h;
    uint16_t flags;
    const char* text;
  };
  const Case errors[] = {
      {5, 5, 0, "{wrong_resize_operation}"}, {5, 5, 0x4000 | 0x2000 | 0x40, "{wrong_resize_operation}"},
      {0, 5, cnResizeNearest, "{width<1}"},  {5, -1, cnResizeBilinear, "{height<1}"},
      {-2, 5, cnResizeBlank, "{width<1}"},   {5, 0, cnResizeCopy, "{height<1}"},
  };
  for (const Case& e : errors) {
    SCOPED_TRACE(e.text);
    EXPECT_EQ(source->Clone(e.w, e.h, e.flags), nullptr);
    EXPECT_EQ(source->LastErrorCode(), errPreCondition);
    EXPECT_NE(source->LastErrorText().find(e.text), std::string::npos) << source->LastErrorText();
  }
  cBitmap closed(2, 2, cnBitmap24RGB);
  EXPECT_EQ(closed.Clone(0, 0, cnResizeCopy), nullptr);
  EXPECT_EQ(closed.LastErrorCode(), errInvariant);
}

TEST_F(BitmapScale, ResizeInPlace) {
  auto b = make_pattern(8, 6, cnBitmap24BGR);
  auto palette = std::make_unique<cPalette>();
  palette->Create(1);
  b->SetPalette(std::move(palette));
  const uint8_t* data = b->Data();

  // The same size does nothing, whatever the operation.
  for (uint16_t flags : {uint16_t(0), cnResizeTile, cnResizeCrop, cnResizeBlank}) {
    EXPECT_TRUE(b->Resize(8, 6, flags));
    EXPECT_EQ(b->Data(), data);
    EXPECT_EQ(b->ResizeCount(), 0);
  }
  // No operation flag: bilinear, as Clone's bilinear gives.
  auto expected = b->Clone(5, 4, cnResizeBilinear);
  ASSERT_TRUE(b->Resize(5, 4, 0));
  EXPECT_TRUE(bitmaps_equal(*b, *expected));
  EXPECT_EQ(b->Stride(), 16);
  EXPECT_EQ(b->DataSize(), 64);
  EXPECT_EQ(b->Palette(), nullptr);
  EXPECT_EQ(b->ResizeCount(), 1);
  ASSERT_TRUE(b->Resize(9, 9, cnResizeNearest | cnResizeNoCount));
  EXPECT_EQ(b->ResizeCount(), 1);
  EXPECT_FALSE(b->Resize(0, 9, cnResizeNearest));
  EXPECT_NE(b->LastErrorText().find("{width<1}"), std::string::npos);
  EXPECT_EQ(b->Width(), 9);
}

TEST_F(BitmapScale, BilinearWeightsSumTo32768) {
  // A flat bitmap stays flat at any size only when the four weights sum to
  // 32768 (with a smaller sum the shift would lose a step).
  struct Case {
    int32_t sw, sh, tw, th;
  };
  const Case cases[] = {{1, 1, 3, 3}, {2, 2, 7, 5}, {7, 3, 2, 9}, {13, 11, 29, 4}, {64, 1, 3, 1}, {3, 50, 3, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.sw) + "x" + std::to_string(c.sh) + " -> " + std::to_string(c.tw) + "x" +
                 std::to_string(c.th));
    auto flat = make_bitmap(c.sw, c.sh, cnBitmap32ARGB, [](int32_t, int32_t) { return 0xFDFEFFFCu; });
    auto scaled = flat->Clone(c.tw, c.th, cnResizeBilinear);
    ASSERT_NE(scaled, nullptr);
    EXPECT_TRUE(bitmap_matches(*scaled, [](int32_t, int32_t) { return 0xFDFEFFFCu; }));
  }
  // A horizontal ramp 0, 255 to 4 columns: step (1 << 15) / 4 = 8192, so
  // fractions 0, 1/4, 1/2, 3/4 of 255, floored.
  auto ramp = make_bitmap(2, 1, cnBitmap24RGB, [](int32_t x, int32_t) { return x == 0 ? 0xFF000000u : 0xFFFF0000u; });
  auto wide = ramp->Clone(4, 1, cnResizeBilinear);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(red_row(*wide, 0), (std::vector<int>{0, 63, 127, 191}));
}

// The rescale reads the channels of four pixels with the weights of the
// fixed-point rule; the fast paths (eight pixels at a time for 32-bit pixels
// where the processor has AVX2, two at a time with SSE2, one at a time at a
// row's end and for 24-bit ones) must give every byte the rule gives, over
// odd and even widths, single rows and columns, shrinking and enlarging, and
// every ordered format, with the widest kernels and with SSE2 alone.
// Allowed difference: none.
TEST_F(BitmapScale, BilinearMatchesTheFixedPointRule) {
  struct Case {
    int32_t sw, sh, tw, th;
  };
  const Case cases[] = {{1, 1, 3, 3},  {2, 2, 7, 5},     {7, 3, 2, 9},    {13, 11, 29, 4},  {64, 1, 3, 1},
                        {1, 9, 5, 17}, {9, 1, 17, 5},    {33, 17, 16, 8}, {31, 19, 62, 38}, {100, 80, 33, 41},
                        {5, 5, 1, 1},  {257, 3, 129, 2}, {2, 3, 45, 4},   {61, 5, 8, 3},    {1, 4, 19, 6}};
  const int32_t kinds[] = {cnBitmap32RGBA, cnBitmap32BGRA, cnBitmap32ARGB,
                           cnBitmap32ABGR, cnBitmap24RGB,  cnBitmap24BGR};
  for (const bool baseline : {false, true})
    for (const int32_t kind : kinds)
      for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(kind) + ": " + std::to_string(c.sw) + "x" + std::to_string(c.sh) + " -> " +
                     std::to_string(c.tw) + "x" + std::to_string(c.th) + (baseline ? " SSE2 alone" : ""));
        bitmap_bilinear_baseline_only(baseline);
        uint32_t v = 2463534242u;
        auto source = make_bitmap(c.sw, c.sh, kind, [&v](int32_t, int32_t) {
          v ^= v << 13, v ^= v >> 17, v ^= v << 5;
          return v;
        });
        auto scaled = source->Clone(c.tw, c.th, cnResizeBilinear);
        bitmap_bilinear_baseline_only(false);
        ASSERT_NE(scaled, nullptr);
        const int64_t step_x = (int64_t(c.sw - 1) << 15) / c.tw, step_y = (int64_t(c.sh - 1) << 15) / c.th;
        const int shifts = source->HasAlpha() ? 32 : 24;
        EXPECT_TRUE(bitmap_matches(*scaled, [&](int32_t X, int32_t Y) {
          const int64_t fx = X * step_x, fy = Y * step_y;
          const int32_t x0 = int32_t(fx >> 15), y0 = int32_t(fy >> 15);
          const int32_t x1 = c.sw > 1 ? x0 + 1 : x0, y1 = c.sh > 1 ? y0 + 1 : y0;
          const int64_t ax = fx & 0x7FFF, ay = fy & 0x7FFF;
          const int64_t w01 = ((32768 - ay) * ax) >> 15, w00 = 32768 - ay - w01;
          const int64_t w11 = (ay * ax) >> 15, w10 = ay - w11;
          const uint32_t p00 = pixel_argb(*source, x0, y0), p01 = pixel_argb(*source, x1, y0);
          const uint32_t p10 = pixel_argb(*source, x0, y1), p11 = pixel_argb(*source, x1, y1);
          uint32_t out = shifts == 24 ? 0xFF000000u : 0;
          for (int shift = 0; shift < shifts; shift += 8) {
            auto ch = [shift](uint32_t p) { return int64_t(p >> shift & 0xFF); };
            out |= uint32_t((w00 * ch(p00) + w01 * ch(p01) + w10 * ch(p10) + w11 * ch(p11)) >> 15) << shift;
          }
          return out;
        }));
      }
}

// --- CopyBitmap -----------------------------------------------------------

namespace {

// What CopyBitmap must do, pixel by pixel: destination pixel (X, Y) shows
// source pixel (X - x + sx, Y - y + sy) when that pixel lies in the source,
// in the requested rectangle, and (X, Y) in the destination.
uint32_t reference_pixel(const cBitmap& dest_before, const cBitmap& from, int32_t X, int32_t Y, int32_t x, int32_t y,
                         int32_t opacity, int32_t sx, int32_t sy, int32_t w, int32_t h) {
  const uint32_t d = pixel_argb(dest_before, X, Y);
  const int64_t i = int64_t(X) - x, j = int64_t(Y) - y;
  const int64_t w_eff = w == 0 ? from.Width() : w, h_eff = h == 0 ? from.Height() : h;
  const int64_t px = sx + i, py = sy + j;
  if (i < 0 || j < 0 || i >= w_eff || j >= h_eff || px < 0 || py < 0 || px >= from.Width() || py >= from.Height())
    return d;
  const uint32_t s = pixel_argb(from, int32_t(px), int32_t(py));
  if (from.TransparentColor() != rgb_none && (s & 0xFFFFFF) == (from.TransparentColor() & 0xFFFFFF)) return d;
  int32_t weight = -1;  // the source's weight in 256ths; -1: copy
  if (opacity == cnOpacityAlpha && from.HasAlpha()) weight = int32_t(s >> 24);
  if (opacity >= 0 && opacity <= 254) weight = opacity;
  if (weight < 0) {
    const uint32_t alpha = from.HasAlpha() && dest_before.HasAlpha() ? s >> 24 : d >> 24;
    return alpha << 24 | (s & 0xFFFFFF);
  }
  uint32_t out = d & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const int64_t sc = s >> shift & 0xFF, dc = d >> shift & 0xFF;
    // Floor division, written out without shifts.
    const int64_t num = (256 - weight) * (dc - sc);
    const int64_t q = num >= 0 ? num / 256 : -((-num + 255) / 256);
    out |= uint32_t((sc + q) & 0xFF) << shift;
  }
  return out;
}

}  // namespace

TEST_F(BitmapScale, CopyBitmapMatchesAPerPixelReference) {
  struct Mode {
    const char* name;
    int32_t opacity;
    bool key;
  };
  const Mode modes[] = {{"copy", -1, false},          {"copy 255", 255, false},           {"constant 1", 1, false},
                        {"constant 100", 100, false}, {"alpha", cnOpacityAlpha, false},   {"key copy", -1, true},
                        {"key constant", 77, true},   {"key alpha", cnOpacityAlpha, true}};
  const int32_t offsets[] = {-7, -2, 0, 3, 9};
  const int32_t sizes[] = {0, 4};
  const std::pair<int32_t, int32_t> kinds[] = {
      {cnBitmap32RGBA, cnBitmap32RGBA}, {cnBitmap32ARGB, cnBitmap24BGR}, {cnBitmap24RGB, cnBitmap32ABGR}};
  int runs = 0;
  for (const auto& [from_kind, dest_kind] : kinds)
    for (const Mode& m : modes) {
      auto from = make_pattern(6, 5, from_kind, 7);
      if (m.key) from->SetTransparentColor(pixel_argb(*from, 2, 1) | 0xFF000000u);
      // Several source pixels share the key colour.
      if (m.key)
        for (int32_t x = 0; x < 6; ++x) testenv::set_pixel_argb(*from, x, 3, pixel_argb(*from, 2, 1));
      for (int32_t x : offsets)
        for (int32_t y : offsets)
          for (int32_t sx : offsets)
            for (int32_t sy : offsets)
              for (int32_t size : sizes) {
                auto dest = make_pattern(8, 7, dest_kind, 3);
                auto before = make_pattern(8, 7, dest_kind, 3);
                const int32_t changes = dest->ChangeCount();
                ASSERT_TRUE(dest->CopyBitmap(from.get(), x, y, m.opacity, sx, sy, size, size));
                ++runs;
                ASSERT_TRUE(bitmap_matches(*dest,
                                           [&](int32_t X, int32_t Y) {
                                             return reference_pixel(*before, *from, X, Y, x, y, m.opacity, sx, sy, size,
                                                                    size);
                                           }))
                    << m.name << " kinds " << from_kind << "/" << dest_kind << " at " << x << "," << y << " from " << sx
                    << "," << sy << " size " << size;
                EXPECT_EQ(dest->ChangeCount(), changes);
              }
    }
  EXPECT_EQ(runs, 3 * 8 * 625 * 2);
}

TEST_F(BitmapScale, CopyBitmapEdgeCases) {
  auto from = coords(10, 2);
  auto dest = make_bitmap(10, 2, cnBitmap32RGBA, [](int32_t, int32_t) { return 0x11223344u; });
  // Opacity 0 leaves the destination; -1 copies.
  ASSERT_TRUE(dest->CopyBitmap(from.get(), 0, 0, 0));
  EXPECT_TRUE(bitmap_matches(*dest, [](int32_t, int32_t) { return 0x11223344u; }));
  ASSERT_TRUE(dest->CopyBitmap(from.get(), -5, 0, -1));
  EXPECT_EQ(red_row(*dest, 0), (std::vector<int>{5, 6, 7, 8, 9, 0x22, 0x22, 0x22, 0x22, 0x22}));
  // A source x at or beyond from's width, or offsets that pass INT32 limits, draw nothing.
  ASSERT_TRUE(dest->CopyBitmap(from.get(), 0, 0, -1, 10, 0));
  ASSERT_TRUE(dest->CopyBitmap(from.get(), INT32_MIN, INT32_MIN, -1, INT32_MAX, INT32_MAX, INT32_MIN, -1));
  ASSERT_TRUE(dest->CopyBitmap(from.get(), INT32_MAX, 0, -1, INT32_MIN, 0));
  ASSERT_TRUE(dest->CopyBitmap(from.get(), 20, 0, INT32_MIN));  // any opacity outside 0..254 copies
  EXPECT_EQ(red_row(*dest, 0), (std::vector<int>{5, 6, 7, 8, 9, 0x22, 0x22, 0x22, 0x22, 0x22}));
  // The blend floors: source 255 over 0 at opacity 1 gives 0.
  auto white = make_bitmap(1, 1, cnBitmap24RGB, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
  auto black = make_bitmap(1, 1, cnBitmap24RGB, [](int32_t, int32_t) { return 0xFF000000u; });
  ASSERT_TRUE(black->CopyBitmap(white.get(), 0, 0, 1));
  EXPECT_EQ(black->GetPixel(0, 0), 0xFF000000u);
  // The bitmap into itself, overlapping.
  auto self = coords(6, 1);
  ASSERT_TRUE(self->CopyBitmap(self.get(), 2, 0, -1));
  EXPECT_EQ(red_row(*self, 0), (std::vector<int>{0, 1, 0, 1, 2, 3}));

  struct Case {
    cBitmap* from;
    int32_t code;
    const char* text;
  };
  cBitmap closed(2, 2, cnBitmap24RGB);
  const Case errors[] = {{nullptr, errPreCondition, "{from=NIL}"}, {&closed, errPreCondition, "{not from.IsOpened}"}};
  for (const Case& e : errors) {
    EXPECT_FALSE(dest->CopyBitmap(e.from, 0, 0, -1));
    EXPECT_EQ(dest->LastErrorCode(), e.code);
    EXPECT_NE(dest->LastErrorText().find(e.text), std::string::npos);
  }
  EXPECT_FALSE(closed.CopyBitmap(from.get(), 0, 0, -1));
  EXPECT_NE(closed.LastErrorText().find("{not IsOpened}"), std::string::npos);
}

TEST_F(BitmapScale, WorkersRefuseMismatchedBitmaps) {
  auto a = make_pattern(3, 3, cnBitmap24RGB);
  auto b = make_pattern(4, 4, cnBitmap24BGR);
  cBitmap closed(4, 4, cnBitmap24RGB);
  EXPECT_FALSE(bitmap_resize(a.get(), b.get()));
  EXPECT_FALSE(bitmap_bilinear(a.get(), &closed));
  EXPECT_FALSE(bitmap_crop(nullptr, b.get(), 0, 0, 0, 0, cnAlignNear, cnAlignNear, false));
  EXPECT_FALSE(bitmap_tile(a.get(), nullptr, 0, 0));
  auto c = make_pattern(5, 2, cnBitmap24RGB);
  EXPECT_TRUE(bitmap_tile(a.get(), c.get(), INT64_MIN, INT64_MAX));
}
