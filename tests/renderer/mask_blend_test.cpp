// The solid-colour mask blend over straight BGRA against AGG's pixel rule
// written out here in plain integers: every cover over every channel value,
// for colours opaque, translucent and nearly clear, over row lengths that
// end on and off a whole step, with rows of zero and full covers.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "qlm_mask_blend.h"

namespace {

// AGG's straight-alpha blend of one channel: lerp(p, q, a) =
// p + ((t >> 8) + t) >> 8 with t = (q - p) * a + 128 - (p > q), signed.
int lerp(int p, int q, int a) {
  const int t = (q - p) * a + 128 - (p > q ? 1 : 0);
  return p + (((t >> 8) + t) >> 8);
}
// a * b / 255 rounded, as AGG's multiply.
int multiply(int a, int b) {
  const int t = a * b + 128;
  return ((t >> 8) + t) >> 8;
}
// The pixel (b, g, r, a) after the colour at `cover`; alpha is prelerp.
void reference(uint8_t* p, int cover, const qlm_agg::solid_bgra& c) {
  if (c.a == 255 && cover == 255) {
    p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 255;
    return;
  }
  const int a = multiply(c.a, cover);
  p[0] = uint8_t(lerp(p[0], c.b, a));
  p[1] = uint8_t(lerp(p[1], c.g, a));
  p[2] = uint8_t(lerp(p[2], c.r, a));
  p[3] = uint8_t(p[3] + a - multiply(p[3], a));
}

TEST(MaskBlend, EveryCoverOverEveryChannelValue) {
  const qlm_agg::solid_bgra colours[] = {{0, 0, 0, 255},  {255, 255, 255, 255}, {30, 200, 90, 255}, {10, 120, 250, 128},
                                         {255, 0, 17, 1}, {77, 150, 29, 254},   {0, 0, 0, 40},      {200, 30, 60, 0}};
  for (const auto& c : colours) {
    SCOPED_TRACE(testing::Message() << "colour " << int(c.b) << "," << int(c.g) << "," << int(c.r) << "," << int(c.a));
    // Row n of 256 pixels: pixel i has channels i, 255 - i, i * 7 and
    // i * 13 (mod 256), and cover (i + 37 * n) mod 256; so every cover meets
    // every value of every channel across the rows.
    for (int n = 0; n < 256; ++n) {
      std::vector<uint8_t> got(256 * 4), want;
      std::vector<uint8_t> covers(256);
      for (int i = 0; i < 256; ++i) {
        got[size_t(4 * i)] = uint8_t(i);
        got[size_t(4 * i + 1)] = uint8_t(255 - i);
        got[size_t(4 * i + 2)] = uint8_t(i * 7);
        got[size_t(4 * i + 3)] = uint8_t(i * 13);
        covers[size_t(i)] = uint8_t(i + 37 * n);
      }
      want = got;
      for (int i = 0; i < 256; ++i) reference(&want[size_t(4 * i)], covers[size_t(i)], c);
      qlm_agg::blend_solid_bgra(got.data(), covers.data(), 256, c);
      ASSERT_EQ(got, want) << "row " << n;
    }
  }
}

TEST(MaskBlend, RowLengthsStridesAndBlocksOfOneCover) {
  const qlm_agg::solid_bgra c{40, 80, 160, 255};
  const qlm_agg::solid_bgra translucent{40, 80, 160, 100};
  // Covers in blocks: zero, full, and mixed, so that whole steps of zeros
  // and of full covers are met as well as the pixels after a step.
  const uint8_t pattern[] = {0, 0, 0, 0, 255, 255, 255, 255, 1, 128, 255, 0, 255, 255, 255, 254, 0, 0, 0, 9};
  for (const auto& colour : {c, translucent})
    for (size_t n = 1; n <= 19; ++n)
      for (size_t rows = 1; rows <= 3; ++rows) {
        SCOPED_TRACE(testing::Message() << "alpha " << int(colour.a) << " length " << n << " rows " << rows);
        const size_t stride = 24 * 4 + 8;  // guard bytes past every row
        std::vector<uint8_t> got(stride * rows), want;
        for (size_t i = 0; i < got.size(); ++i) got[i] = uint8_t(i * 31 + 5);
        std::vector<uint8_t> covers(20 * rows);
        for (size_t r = 0; r < rows; ++r)
          for (size_t i = 0; i < 20; ++i) covers[r * 20 + i] = pattern[(i + r) % 20];
        want = got;
        for (size_t r = 0; r < rows; ++r)
          for (size_t i = 0; i < n; ++i) reference(&want[r * stride + 4 * i], covers[r * 20 + i], colour);
        qlm_agg::blend_solid_bgra_rows(got.data(), ptrdiff_t(stride), covers.data(), 20, n, rows, colour);
        EXPECT_EQ(got, want);
        // Bottom-up rows (a negative stride).
        std::vector<uint8_t> up = want;
        for (size_t i = 0; i < up.size(); ++i) up[i] = uint8_t(i * 31 + 5);
        std::vector<uint8_t> up_want = up;
        for (size_t r = 0; r < rows; ++r)
          for (size_t i = 0; i < n; ++i)
            reference(&up_want[(rows - 1 - r) * stride + 4 * i], covers[r * 20 + i], colour);
        qlm_agg::blend_solid_bgra_rows(up.data() + (rows - 1) * stride, -ptrdiff_t(stride), covers.data(), 20, n, rows,
                                       colour);
        EXPECT_EQ(up, up_want);
      }
}

// The full-cover fill against the pixel rule at cover 255: every alpha over
// every channel value, row lengths 1 to 40 (whole steps of 16, 8 and 4 and
// the pixels after them), two rows either way round, rows that start one
// pixel off the 16-byte grid, and the bytes around each row untouched.
TEST(MaskBlend, FullCoverFillsOverEveryAlphaAndLength) {
  for (int alpha = 0; alpha < 256; ++alpha) {
    const qlm_agg::solid_bgra c{uint8_t(alpha * 7 + 3), uint8_t(255 - alpha), uint8_t(alpha * 13), uint8_t(alpha)};
    for (size_t n = 1; n <= 40; ++n)
      for (const bool up : {false, true}) {
        const size_t stride = 44 * 4, rows = 2;
        std::vector<uint8_t> got(stride * rows);
        for (size_t i = 0; i < got.size(); ++i) got[i] = uint8_t(i * 37 + alpha);
        std::vector<uint8_t> want = got;
        for (size_t r = 0; r < rows; ++r)
          for (size_t i = 0; i < n; ++i) reference(&want[r * stride + 4 + 4 * i], 255, c);
        uint8_t* first = got.data() + 4 + (up ? stride : 0);
        qlm_agg::fill_solid_bgra_rows(first, up ? -ptrdiff_t(stride) : ptrdiff_t(stride), n, rows, c);
        ASSERT_EQ(got, want) << "alpha " << alpha << " length " << n << " up " << up;
      }
  }
}

}  // namespace
