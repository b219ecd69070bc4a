#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "bitmap_builders.h"
#include "qlm_base_array.h"
#include "qlm_bitmap.h"

using testenv::bitmap_matches;
using testenv::BitmapState;
using testenv::make_bitmap;
using testenv::make_pattern;
using testenv::pixel_argb;

namespace {

class Bitmap : public ::testing::Test {
 protected:
  void SetUp() override { qlm_bitmap_start(); }
  void TearDown() override { mem_alloc_fail_at(0); }
};

// The last row of the bitmap's log: code and text.
struct LastError {
  int32_t code = 0;
  std::string text;
};
LastError last_error(const cException& object) { return {object.LastErrorCode(), object.LastErrorText()}; }
uint32_t log_rows(const cException& object) { return object.Log() == nullptr ? 0 : object.Log()->Count(); }

}  // namespace

// --- Formats ------------------------------------------------------------

static_assert(cnPixelFormats[px24BGR].pixel_format == px24BGR);
static_assert(pixel_stride(cnPixelFormats[px24BGR], 10) == 32);
static_assert(pixel_stride(cnPixelFormats[px32ARGB], 10) == 40);

TEST_F(Bitmap, FormatTableIsIndexedByCodeWithTellingRows) {
  for (int code = 0; code <= cnPixelFormatLast; ++code) {
    const rPixelGeometry& g = cnPixelFormats[code];
    EXPECT_EQ(g.pixel_format, code);
    if (code == 0) continue;
    EXPECT_GT(std::strlen(g.name), 2u) << code;
    EXPECT_LT(std::strlen(g.name), sizeof g.name) << code;
    EXPECT_GE(g.pixels_per_group, 1) << g.name;
    EXPECT_GE(g.bytes_per_group, 1) << g.name;
    // Row alignment 4 for the codes that carry it, 0 elsewhere.
    const bool aligned = code == 23 || code == 53 || code == 54 || (code >= 89 && code <= 108);
    EXPECT_EQ(g.row_alignment, aligned ? 4 : 0) << g.name;
  }
  struct Row {
    uint8_t code;
    const char* name;
    uint8_t v[8];
  };
  // clang-format off
  const Row rows[] = {
      {1, "px1BW", {1, 1, 1, 0, 0, 1, 8, 0}},           {5, "px3RGB", {3, 1, 3, 0, 0, 1, 2, 0}},
      {17, "px8YUV_4_0_0", {3, 8, 8, 0, 0, 4, 4, 0}},   {23, "px12YUV_4_2_0", {3, 8, 12, 0, 4, 6, 4, 4}},
      {34, "px16RGB_5_5_5", {3, 5, 15, 1, 0, 2, 1, 0}}, {38, "px16YUV_4_2_2", {3, 8, 16, 0, 8, 8, 4, 0}},
      {53, "px24RGB", {3, 8, 24, 0, 0, 3, 1, 4}},       {54, "px24BGR", {3, 8, 24, 0, 0, 3, 1, 4}},
      {62, "px32RGBW", {3, 8, 24, 8, 0, 4, 1, 0}},      {66, "px32RGBE_Half", {3, 16, 48, 0, 8, 4, 1, 0}},
      {78, "px32RGBA", {4, 8, 32, 0, 0, 4, 1, 0}},      {79, "px32BGRA", {4, 8, 32, 0, 0, 4, 1, 0}},
      {80, "px32ARGB", {4, 8, 32, 0, 0, 4, 1, 0}},      {81, "px32ABGR", {4, 8, 32, 0, 0, 4, 1, 0}},
      {82, "px32RGBT", {4, 8, 25, 7, 0, 4, 1, 0}},      {89, "px36RGB", {3, 12, 36, 4, 0, 5, 1, 4}},
      {150, "px96PixelHLSA", {4, 32, 104, 0, 0, 13, 1, 0}}, {187, "px136PixelCMYKA", {5, 32, 136, 0, 0, 17, 1, 0}},
  };
  // clang-format on
  for (const Row& r : rows) {
    const rPixelGeometry& g = cnPixelFormats[r.code];
    EXPECT_STREQ(g.name, r.name);
    const uint8_t got[8] = {g.channels,   g.bits_per_channel, g.bits_per_pixel,   g.unused_bits,
                            g.extra_bits, g.bytes_per_group,  g.pixels_per_group, g.row_alignment};
    EXPECT_EQ(std::memcmp(got, r.v, 8), 0) << r.name;
  }
}

TEST_F(Bitmap, StrideRuleAndKinds) {
  struct Case {
    uint8_t code;
    int64_t width, stride;
  };
  // clang-format off
  const Case cases[] = {
      {px24BGR, 10, 32}, {px24RGB, 1, 4},   {px32RGBA, 10, 40}, {px32ARGB, 10, 40}, {px1BW, 10, 2},
      {px1BW, 8, 1},     {px3RGB, 3, 2},    {px12YUV_4_2_0, 10, 16}, {px36RGB, 3, 16}, {px24BGR, 0, 0},
      {0, 10, 0},        {px24BGR, 65537, 196612},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(pixel_stride(pixel_geometry(c.code), c.width), c.stride) << int(c.code);

  const uint8_t kinds[] = {0, px24BGR, px24RGB, px24BGR, px32RGBA, px32BGRA, px32ARGB, px32ABGR, 0, 0};
  for (int32_t kind = 0; kind < 10; ++kind) EXPECT_EQ(bitmap_kind_format(kind), kinds[kind]) << kind;
  EXPECT_EQ(platform_pixel_format(), px24BGR);
  EXPECT_EQ(*pixel_order(px32ARGB), (rChannelOrder{1, 2, 3, 0}));
  EXPECT_EQ(*pixel_order(px24BGR), (rChannelOrder{2, 1, 0, 0}));
  EXPECT_EQ(pixel_order(px32RGBT), nullptr);
}

// --- Life ---------------------------------------------------------------

TEST_F(Bitmap, ConstructCreateClose) {
  cBitmap small(0, 0, cnBitmap24RGB);
  EXPECT_EQ(small.Width(), 1);
  EXPECT_EQ(small.Height(), 1);
  EXPECT_EQ(small.PixelFormat(), px24RGB);
  EXPECT_EQ(small.Stride(), 4);
  EXPECT_EQ(small.DataSize(), 4);
  EXPECT_FALSE(small.IsOpened());
  EXPECT_TRUE(object_identify(&small, id_cBitmap));
  EXPECT_TRUE(object_identify(&small, id_cException));

  cBitmap none(10, 10, 9);
  EXPECT_EQ(none.PixelFormat(), 0);
  EXPECT_EQ(none.Stride(), 0);
  EXPECT_EQ(none.DataSize(), 0);
  EXPECT_EQ(none.Order(), nullptr);
  ASSERT_TRUE(none.Create());
  EXPECT_EQ(none.PixelFormat(), px24BGR);
  EXPECT_EQ(none.Stride(), 32);
  EXPECT_EQ(none.DataSize(), 320);

  cBitmap b(4, 3, cnBitmap32ARGB);
  b.SetBackground(0x80102030u);
  ASSERT_TRUE(b.Create(5, 0));  // a new width, the old height
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.Height(), 3);
  EXPECT_TRUE(bitmap_matches(b, [](int32_t, int32_t) { return 0x80102030u; }));
  EXPECT_EQ(b.GetPixel(0, 0), 0xFF102030u);
  EXPECT_EQ(b.GetAlpha(4, 2), 0x80);
  EXPECT_EQ(b.ColorsCount(), 1);

  EXPECT_FALSE(b.Create());
  EXPECT_EQ(last_error(b).code, errInvariant);
  EXPECT_NE(last_error(b).text.find("{IsOpened}"), std::string::npos);
  rChannelOrder order;
  EXPECT_TRUE(bitmap_has_order(&b, order));
  EXPECT_EQ(order, cnOrder32ARGB);

  EXPECT_TRUE(b.Close());
  EXPECT_FALSE(b.IsOpened());
  EXPECT_EQ(b.Order(), nullptr);
  EXPECT_FALSE(bitmap_has_order(&b, order));
  EXPECT_FALSE(b.Close());
  EXPECT_NE(last_error(b).text.find("{not IsOpened}"), std::string::npos);
  ASSERT_TRUE(b.Create(-3, -3));  // values below 1 become 1; the order comes back
  EXPECT_EQ(b.Width(), 1);
  EXPECT_EQ(b.Order(), &cnOrder32ARGB);
  EXPECT_FALSE(bitmap_has_order(nullptr, order));
}

// CreateUnfilled leaves the background fill to the caller: cleared with
// the background without counting a change, the bitmap is byte for byte
// (padding included) what Create makes, for 24- and 32-bit formats; the
// size checks and the refusal of an open bitmap are Create's.
TEST_F(Bitmap, CreateUnfilledThenClearedIsCreate) {
  for (int32_t kind : {cnBitmap24BGR, cnBitmap24RGB, cnBitmap32ARGB, cnBitmap32BGRA}) {
    SCOPED_TRACE(kind);
    cBitmap made(7, 5, kind), unfilled(7, 5, kind);
    made.SetBackground(0x80102030u);
    unfilled.SetBackground(0x80102030u);
    ASSERT_TRUE(made.Create());
    ASSERT_TRUE(unfilled.CreateUnfilled());
    std::memset(unfilled.Data(), 0xA5, size_t(unfilled.Width() * unfilled.BytesPerPixel()));  // stale pixels
    ASSERT_TRUE(unfilled.Clear(rgb_none, cnOpacityAlpha, nullptr, cnBitmapNoCount));
    const BitmapState a = BitmapState::Of(made), b = BitmapState::Of(unfilled);
    EXPECT_EQ(a.bytes, b.bytes);
    EXPECT_EQ(a.stride, b.stride);
    EXPECT_EQ(a.changes, b.changes);
    EXPECT_EQ(a.format, b.format);
    EXPECT_FALSE(unfilled.CreateUnfilled());
    EXPECT_EQ(last_error(unfilled).code, errInvariant);
  }
  cBitmap huge(65500, 65500, cnBitmap32BGRA);
  EXPECT_FALSE(huge.CreateUnfilled());
  EXPECT_EQ(last_error(huge).code, errNEnoughMem);
  EXPECT_FALSE(huge.IsOpened());
}

TEST_F(Bitmap, SizesBeyondTheLimitFailBeforeAllocating) {
  struct Case {
    int32_t w, h, kind;
  };
  // 65537 x 21846 at 3 bytes: 196,612 x 21846 wraps 32 bits to 218,456.
  const Case cases[] = {{65537, 21846, cnBitmap24BGR},
                        {65500, 65500, cnBitmap32BGRA},
                        {INT32_MAX, INT32_MAX, cnBitmap32RGBA},
                        {INT32_MAX, 1, cnBitmap32RGBA}};
  // What logging one failure allocates: a failure that allocates nothing else.
  cBitmap opened(1, 1, cnBitmap24BGR);
  ASSERT_TRUE(opened.Create());
  mem_alloc_fail_at(0);
  EXPECT_FALSE(opened.Create());
  const int64_t logging = mem_alloc_count();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    cBitmap b(c.w, c.h, c.kind);
    EXPECT_EQ(b.DataSize(), 0);  // not representable: no wrapped size is kept
    mem_alloc_fail_at(0);
    EXPECT_FALSE(b.Create());
    EXPECT_EQ(mem_alloc_count(), logging);
    EXPECT_EQ(last_error(b).code, errNEnoughMem);
    EXPECT_NE(last_error(b).text.find("{mem_alloc}"), std::string::npos);
    EXPECT_FALSE(b.IsOpened());
  }
  cBitmap one(1, 1, cnBitmap24BGR);
  EXPECT_TRUE(one.Create());

  // A lowered cap refuses the same way; Clone and Resize use it too.
  bitmap_set_size_limit(4096);
  cBitmap big(32, 33, cnBitmap32RGBA);  // 4224 bytes
  EXPECT_FALSE(big.Create());
  EXPECT_EQ(last_error(big).code, errNEnoughMem);
  cBitmap fits(32, 32, cnBitmap32RGBA);
  ASSERT_TRUE(fits.Create());
  EXPECT_EQ(fits.Clone(32, 33, cnResizeNearest), nullptr);
  EXPECT_FALSE(fits.Resize(33, 32, cnResizeBilinear));
  EXPECT_EQ(fits.Width(), 32);
  bitmap_set_size_limit(0);
  EXPECT_EQ(bitmap_size_limit(), cnBitmapSizeLimit);
}

TEST_F(Bitmap, SharingAndUnique) {
  auto* b = new cBitmap(2, 2, cnBitmap32RGBA);
  ASSERT_TRUE(b->Create());
  EXPECT_EQ(b->Unique(), b);
  EXPECT_EQ(b->AddRef(), b);
  EXPECT_EQ(b->ShareCount(), 1);
  b->SetPixel(1, 1, 0xFF123456u);
  cBitmap* own = b->Unique();
  ASSERT_NE(own, nullptr);
  ASSERT_NE(own, b);
  EXPECT_EQ(b->ShareCount(), 0);
  EXPECT_EQ(own->ShareCount(), 0);
  EXPECT_TRUE(testenv::bitmaps_equal(*own, *b));

  // A failed copy keeps the count.
  b->AddRef();
  mem_alloc_fail_at(1);
  EXPECT_EQ(b->Unique(), nullptr);
  mem_alloc_fail_at(0);
  EXPECT_EQ(b->ShareCount(), 1);
  b->Release();  // count 1 -> 0
  EXPECT_EQ(b->ShareCount(), 0);
  b->Release();  // deletes (ASan reports a leak otherwise)
  own->Release();
}

// --- Pixel access -------------------------------------------------------

TEST_F(Bitmap, PixelAccessChecks) {
  cBitmap b(3, 2, cnBitmap24BGR);
  EXPECT_FALSE(b.SetPixel(0, 0, 0xFFFFFFFFu));
  EXPECT_EQ(last_error(b).text.find("{not IsOpened}") != std::string::npos, true);
  EXPECT_EQ(b.GetPixel(0, 0), 0u);
  EXPECT_EQ(b.GetAlpha(0, 0), 255);
  EXPECT_EQ(b.ScanLine(0), nullptr);
  ASSERT_TRUE(b.Create());

  struct Case {
    int32_t x, y;
    uint32_t color;
    const char* text;  // nil: success
  };
  // clang-format off
  const Case cases[] = {
      {2, 1, 0xFF010203u, nullptr},         {3, 0, 0xFF010203u, "{x>mWidth-1}"}, {-1, 0, 0xFF010203u, "{x>mWidth-1}"},
      {0, 2, 0xFF010203u, "{y>mHeight-1}"}, {0, -5, 0xFF010203u, "{y>mHeight-1}"}, {0, 0, rgb_none, "{clr=rgb_none}"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    const uint32_t rows = log_rows(b);
    EXPECT_EQ(b.SetPixel(c.x, c.y, c.color), c.text == nullptr);
    if (c.text != nullptr) {
      EXPECT_EQ(log_rows(b), rows + 1);
      EXPECT_EQ(last_error(b).code, errPreCondition);
      EXPECT_NE(last_error(b).text.find(c.text), std::string::npos) << last_error(b).text;
    }
  }
  // Written through the order: blue, green, red in memory; alpha untouched.
  const uint8_t* p = b.ScanLine(1) + 2 * 3;
  EXPECT_EQ(p[0], 0x03);
  EXPECT_EQ(p[2], 0x01);
  EXPECT_EQ(b.GetPixel(2, 1), 0xFF010203u);
  EXPECT_TRUE(b.SetAlpha(2, 1, 7));  // no alpha: nothing written
  EXPECT_EQ(b.GetAlpha(2, 1), 255);
  EXPECT_EQ(b.GetPixel(3, 1), 0u);
  EXPECT_EQ(b.ScanLine(2), nullptr);
  EXPECT_EQ(b.ScanLine(1), b.Data() + b.Stride());

  cBitmap a(2, 1, cnBitmap32ABGR);
  ASSERT_TRUE(a.Create());
  EXPECT_TRUE(a.SetPixel(1, 0, 0x00AABBCCu));  // colour alpha ignored
  EXPECT_TRUE(a.SetAlpha(1, 0, 0x44));
  EXPECT_EQ(pixel_argb(a, 1, 0), 0x44AABBCCu);
  EXPECT_EQ(a.Data()[4], 0x44);  // ABGR: alpha first
  EXPECT_EQ(a.Data()[7], 0xAA);
  EXPECT_EQ(a.GetAlpha(1, 0), 0x44);
  EXPECT_EQ(a.GetAlpha(5, 0), 255);
}

// --- Rows as floats -----------------------------------------------------

TEST_F(Bitmap, PackAndUnpackRows) {
  cBitmap a(1, 1, cnBitmap32BGRA);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float value;
    uint8_t byte;
  };
  // clang-format off
  const Case cases[] = {
      {0.0f, 0},   {1.0f, 255}, {0.5f, 128},  // 127.5: ties to even
      {1.5f, 382 & 0xFF},                    // 382.5 -> 382, not clamped
      {-1.0f, 1},                            // -255, low 8 bits
      {nan, 0},    {inf, 0},    {-inf, 0},    {1e30f, 0},  // 1e30 x 255 is a multiple of 256
      {3.0e9f, uint8_t(int64_t(std::nearbyint(3.0e9 * 255.0)) & 0xFF)},
  };
  // clang-format on
  for (const Case& c : cases) {
    const float values[4] = {c.value, 0.0f, 1.0f, c.value};
    uint8_t pixel[4] = {9, 9, 9, 9};
    a.PackRow(1, values, pixel);
    EXPECT_EQ(pixel[2], c.byte) << c.value;  // BGRA: red at 2
    EXPECT_EQ(pixel[3], c.byte) << c.value;
    EXPECT_EQ(pixel[1], 0);
    EXPECT_EQ(pixel[0], 255);
  }
  cBitmap rgb(2, 1, cnBitmap24RGB);
  const uint8_t pixels[6] = {0, 51, 255, 102, 153, 204};
  float out[8];
  rgb.UnpackRow(2, pixels, out);
  const float want[8] = {0.0f, 0.2f, 1.0f, 1.0f, 0.4f, 0.6f, 0.8f, 1.0f};
  for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(out[i], want[i]) << i;
  uint8_t back[6] = {};
  rgb.PackRow(2, out, back);
  EXPECT_EQ(std::memcmp(back, pixels, 6), 0);
}

// --- Clearing -----------------------------------------------------------

TEST_F(Bitmap, ClearBlendsWithFloor) {
  // c + floor((256 - opacity) x (old - c) / 256) per channel.
  struct Case {
    uint8_t c, old;
    int32_t opacity;
    uint8_t result;
  };
  // clang-format off
  const Case cases[] = {
      {200, 100, 128, 150}, {100, 200, 128, 150}, {200, 100, 0, 100}, {255, 0, 1, 0},  // floor, not truncation
      {0, 255, 1, 254},     {255, 0, 254, 253},   {10, 11, 200, 10},  {77, 77, 60, 77},
      {200, 100, -1, 200},  {200, 100, 255, 200}, {200, 100, -255, 200}, {200, 100, INT32_MIN, 200},
      {200, 100, INT32_MAX, 200},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.c) + " over " + std::to_string(c.old) + " at " + std::to_string(c.opacity));
    cBitmap b(1, 1, cnBitmap32RGBA);
    b.SetBackground(color_rgba(c.old, c.old, c.old, 0x11));
    ASSERT_TRUE(b.Create());
    ASSERT_TRUE(b.Clear(color_rgba(c.c, c.c, c.c, 0x99), c.opacity));
    const uint32_t alpha = c.opacity == cnOpacityAlpha ? 0x99 : 0x11;
    EXPECT_EQ(pixel_argb(b, 0, 0), alpha << 24 | uint32_t(c.result) * 0x010101u);
  }
}

TEST_F(Bitmap, ClearRectangleAndCounting) {
  auto b = make_pattern(6, 5, cnBitmap24RGB);
  auto ref = make_pattern(6, 5, cnBitmap24RGB);
  const int32_t changes = b->ChangeCount();
  // Reversed corners, partly outside: rows 2..4, columns 3..5.
  const rRect r = rRect::Construct(9, 7, 3, 2);
  ASSERT_TRUE(b->Clear(0xFF0A0B0Cu, cnOpacityAlpha, &r));
  EXPECT_TRUE(bitmap_matches(
      *b, [&](int32_t x, int32_t y) { return x >= 3 && y >= 2 ? 0xFF0A0B0Cu : pixel_argb(*ref, x, y); }));
  EXPECT_EQ(b->ChangeCount(), changes + 1);
  const rRect outside = rRect::Construct(-9, -9, -1, -1);
  ASSERT_TRUE(b->Clear(0xFF000000u, -1, &outside, cnBitmapNoCount));
  EXPECT_EQ(b->ChangeCount(), changes + 1);
  b->SetBackground(0xFF445566u);
  ASSERT_TRUE(b->Clear(rgb_none, 300));  // rgb_none: the background
  EXPECT_TRUE(bitmap_matches(*b, [](int32_t, int32_t) { return 0xFF445566u; }));
  cBitmap closed(1, 1, cnBitmap24RGB);
  EXPECT_FALSE(closed.Clear(0xFF000000u, -1));
}

// --- Converting ---------------------------------------------------------

TEST_F(Bitmap, ConvertBetweenOrders) {
  const int32_t kinds[] = {cnBitmap24RGB,  cnBitmap24BGR,  cnBitmap32RGBA,
                           cnBitmap32BGRA, cnBitmap32ARGB, cnBitmap32ABGR};
  for (int32_t from : kinds)
    for (int32_t to : kinds) {
      SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
      auto b = make_pattern(5, 3, from);
      auto ref = make_pattern(5, 3, from);
      b->SetTransparentColor(0xFF010101u);
      b->Changed();
      const uint8_t* data = b->Data();
      ASSERT_TRUE(b->Convert(to));
      EXPECT_EQ(b->PixelFormat(), bitmap_kind_format(to));
      EXPECT_EQ(b->Order(), pixel_order(bitmap_kind_format(to)));
      EXPECT_EQ(b->Stride(), pixel_stride(b->PixelGeometry(), 5));
      if (from == to) {
        EXPECT_EQ(b->Data(), data);
      }
      // Colour kept; alpha carried between alpha formats, 255 from 24-bit.
      const bool keep_alpha = ref->HasAlpha() && b->HasAlpha();
      EXPECT_TRUE(bitmap_matches(*b, [&](int32_t x, int32_t y) {
        const uint32_t v = pixel_argb(*ref, x, y);
        return keep_alpha ? v : v | 0xFF000000u;
      }));
      EXPECT_EQ(b->ChangeCount(), 1);
      EXPECT_EQ(b->TransparentColor(), 0xFF010101u);
    }
}

TEST_F(Bitmap, TransparencyToAlpha) {
  // 24-bit BGR with a key: becomes BGRA, alpha 0 exactly where the key is.
  auto b = make_bitmap(4, 2, cnBitmap24BGR, [](int32_t x, int32_t y) {
    return x == y ? 0xFF102030u : color_rgb(uint8_t(0x10 + x), 0x20, 0x30);
  });
  b->SetTransparentColor(0xFF102030u);
  ASSERT_TRUE(b->ConvertTransparencyToAlpha(0, 0));
  EXPECT_EQ(b->PixelFormat(), px32BGRA);
  EXPECT_EQ(b->TransparentColor(), rgb_none);
  EXPECT_EQ(b->ChangeCount(), 1);
  EXPECT_TRUE(bitmap_matches(*b, [](int32_t x, int32_t y) {
    return x == 0 ? 0x00102030u : x == y ? 0x00102030u : color_rgb(uint8_t(0x10 + x), 0x20, 0x30);
  }));
  EXPECT_FALSE(b->ConvertTransparencyToAlpha(0, 0));
  EXPECT_NE(last_error(*b).text.find("{mTransparentColor=rgb_none}"), std::string::npos);

  // Tolerances: key - lower .. key + upper, inclusive, without wrapping.
  struct Case {
    uint8_t key, value, upper, lower;
    bool transparent;
  };
  // clang-format off
  const Case cases[] = {
      {100, 100, 0, 0, true}, {100, 103, 3, 0, true},  {100, 104, 3, 0, false}, {100, 97, 0, 3, true},
      {100, 96, 0, 3, false}, {250, 4, 10, 0, false},  // 250 + 10 does not wrap to 4
      {5, 251, 0, 10, false},                          // 5 - 10 does not wrap to 251
      {0, 0, 0, 255, true},   {255, 255, 255, 0, true}, {255, 0, 255, 255, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.key) + " ~ " + std::to_string(c.value));
    cBitmap t(1, 1, cnBitmap32ARGB);
    t.SetBackground(color_rgba(c.value, c.value, c.value, 0x33));
    ASSERT_TRUE(t.Create());
    t.SetTransparentColor(color_rgb(c.key, c.key, c.key));
    ASSERT_TRUE(t.ConvertTransparencyToAlpha(c.upper, c.lower, cnBitmapNoCount));
    EXPECT_EQ(t.GetAlpha(0, 0), c.transparent ? 0 : 255);
    EXPECT_EQ(t.ChangeCount(), 0);
    EXPECT_EQ(t.PixelFormat(), px32ARGB);
  }
}

// --- Colours and palettes -----------------------------------------------

TEST_F(Bitmap, ColorsCountAndPaletteInFirstSeenOrder) {
  cBitmap fresh(7, 7, cnBitmap32RGBA);
  ASSERT_TRUE(fresh.Create());
  EXPECT_EQ(fresh.ColorsCount(), 1);

  // Alpha does not make a colour; rows from the top, pixels from the left.
  const uint32_t colors[3][3] = {{0xFF000005u, 0x00000005u, 0xFFFFFFFFu},
                                 {0xFF000006u, 0xFFFFFFFFu, 0xFF000007u},
                                 {0xFF000005u, 0xFF000007u, 0xFF000000u}};
  auto b = make_bitmap(3, 3, cnBitmap32ABGR, [&](int32_t x, int32_t y) { return colors[y][x]; });
  EXPECT_EQ(b->ColorsCount(), 5);
  ASSERT_TRUE(b->MakePalette());
  ASSERT_NE(b->Palette(), nullptr);
  ASSERT_EQ(b->Palette()->Count(), 5);
  const uint8_t want[20] = {0, 0, 5, 0, 255, 255, 255, 0, 0, 0, 6, 0, 0, 0, 7, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(b->Palette()->Entries(), want, 20), 0);

  // Every triple counted once, even the extremes of the bit set.
  auto wide = make_bitmap(256, 2, cnBitmap24RGB, [](int32_t x, int32_t y) {
    return y == 0 ? color_rgb(uint8_t(x), 255, uint8_t(255 - x)) : 0xFFFFFFFFu;
  });
  EXPECT_EQ(wide->ColorsCount(), 257);  // row 0 and white
  cBitmap closed(2, 2, cnBitmap24RGB);
  EXPECT_EQ(closed.ColorsCount(), -1);
  EXPECT_FALSE(closed.MakePalette());
}

// --- Mapping foreign rows -----------------------------------------------

namespace {
// A foreign 16-bit grey format: the high byte of each little-endian value.
void import_gray16(int32_t width, const uint8_t* row, float* values, void* user) {
  ++*static_cast<int*>(user);
  for (int32_t i = 0; i < width; ++i) {
    const float g = float(row[2 * i + 1]) / 255.0f;
    values[4 * i] = values[4 * i + 1] = values[4 * i + 2] = g;
    values[4 * i + 3] = 0.5f;
  }
}
}  // namespace

TEST_F(Bitmap, MapForeignRows) {
  // Same format: rows copied as they stand.
  auto src = make_pattern(5, 4, cnBitmap24BGR);
  cBitmap same(1, 1, cnBitmap24BGR);
  same.Changed();
  ASSERT_TRUE(same.Map(src->Data(), nullptr, 5, 4, &cnPixelFormats[px24BGR], nullptr));
  EXPECT_TRUE(testenv::bitmaps_equal(same, *src));
  EXPECT_EQ(same.ChangeCount(), 0);

  // Another format: through the callback and PackRow; a grey row of 3 pixels
  // of 16 bits has a stride of 6 (no alignment).
  const uint8_t gray[2][6] = {{0, 10, 0, 20, 0, 30}, {0, 40, 0, 50, 0, 60}};
  int calls = 0;
  cBitmap b(1, 1, cnBitmap32RGBA);
  float buffer[12];
  ASSERT_TRUE(b.Map(gray, &calls, 3, 2, &cnPixelFormats[px16GRAY], &import_gray16, buffer, sizeof buffer));
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(bitmap_matches(b, [&](int32_t x, int32_t y) {
    const uint8_t g = gray[y][2 * x + 1];
    return color_rgba(g, g, g, 128);
  }));
  // A buffer of the wrong size is replaced by one of the bitmap's own.
  cBitmap c(1, 1, cnBitmap24RGB);
  ASSERT_TRUE(c.Map(gray, &calls, 3, 2, &cnPixelFormats[px16GRAY], &import_gray16, buffer, 8));
  EXPECT_EQ(c.GetPixel(2, 1), 0xFF3C3C3Cu);

  struct Case {
    const void* data;
    int32_t w, h;
    const rPixelGeometry* pixel;
    tBitmapMapImport import;
    const char* text;
  };
  const Case cases[] = {
      {nullptr, 3, 2, &cnPixelFormats[px16GRAY], &import_gray16, "{map_data=NIL}"},
      {gray, 3, 2, nullptr, &import_gray16, "{map_pixel=NIL}"},
      {gray, 0, 2, &cnPixelFormats[px16GRAY], &import_gray16, "{map_width<1}"},
      {gray, 3, -1, &cnPixelFormats[px16GRAY], &import_gray16, "{map_height<1}"},
      {gray, 3, 2, &cnPixelFormats[px16GRAY], nullptr, "{map_import=NIL}"},
  };
  for (const Case& k : cases) {
    cBitmap m(7, 7, cnBitmap24RGB);
    const BitmapState before = BitmapState::Of(m);
    EXPECT_FALSE(m.Map(k.data, &calls, k.w, k.h, k.pixel, k.import));
    EXPECT_EQ(last_error(m).code, errPreCondition);
    EXPECT_NE(last_error(m).text.find(k.text), std::string::npos) << last_error(m).text;
    EXPECT_EQ(BitmapState::Of(m), before);
  }
  EXPECT_FALSE(same.Map(gray, &calls, 3, 2, &cnPixelFormats[px24BGR], nullptr));
  EXPECT_NE(last_error(same).text.find("{IsOpened}"), std::string::npos);
}

// --- Failed allocations ---------------------------------------------------

TEST_F(Bitmap, EveryFailedAllocationLeavesTheBitmapAlone) {
  struct Op {
    const char* name;
    std::function<std::unique_ptr<cBitmap>()> make;
    std::function<bool(cBitmap&)> run;
  };
  auto palette_bitmap = [] {
    auto b = make_pattern(9, 7, cnBitmap24RGB);
    auto p = std::make_unique<cPalette>();
    p->Create(3);
    b->SetPalette(std::move(p));
    b->SetTransparentColor(pixel_argb(*b, 2, 2));
    return b;
  };
  auto closed = [] { return std::make_unique<cBitmap>(9, 7, cnBitmap32BGRA); };
  const Op ops[] = {
      {"Create", closed, [](cBitmap& b) { return b.Create(); }},
      {"Map", closed,
       [](cBitmap& b) {
         static const uint8_t rows[4] = {1, 2, 3, 4};
         return b.Map(rows, nullptr, 2, 1, &cnPixelFormats[px16GRAY],
                      [](int32_t, const uint8_t*, float* v, void*) { std::fill(v, v + 8, 0.5f); });
       }},
      {"Clone copy", palette_bitmap, [](cBitmap& b) { return b.Clone(0, 0, cnResizeCopy) != nullptr; }},
      {"Clone nearest up", palette_bitmap, [](cBitmap& b) { return b.Clone(20, 15, cnResizeNearest) != nullptr; }},
      {"Clone nearest down", palette_bitmap, [](cBitmap& b) { return b.Clone(4, 3, cnResizeNearest) != nullptr; }},
      {"Clone bilinear", palette_bitmap, [](cBitmap& b) { return b.Clone(5, 5, cnResizeBilinear) != nullptr; }},
      {"Clone crop", palette_bitmap, [](cBitmap& b) { return b.Clone(5, 5, cnResizeCrop, 1, 1, 3, 3) != nullptr; }},
      {"Clone tile", palette_bitmap, [](cBitmap& b) { return b.Clone(20, 5, cnResizeTile, -3, 2) != nullptr; }},
      {"Clone blank", palette_bitmap, [](cBitmap& b) { return b.Clone(2, 2, cnResizeBlank) != nullptr; }},
      {"Resize nearest up", palette_bitmap, [](cBitmap& b) { return b.Resize(30, 20, cnResizeNearest); }},
      {"Resize bilinear", palette_bitmap, [](cBitmap& b) { return b.Resize(3, 2, 0); }},
      {"Resize crop", palette_bitmap, [](cBitmap& b) { return b.Resize(3, 2, cnResizeCrop | cnResizeRight); }},
      {"Resize tile", palette_bitmap, [](cBitmap& b) { return b.Resize(12, 12, cnResizeTile); }},
      {"Convert", palette_bitmap, [](cBitmap& b) { return b.Convert(cnBitmap32ABGR); }},
      {"ConvertTransparencyToAlpha", palette_bitmap, [](cBitmap& b) { return b.ConvertTransparencyToAlpha(4, 4); }},
      {"ColorsCount", palette_bitmap, [](cBitmap& b) { return b.ColorsCount() > 0; }},
      {"MakePalette", palette_bitmap, [](cBitmap& b) { return b.MakePalette(); }},
  };
  for (const Op& op : ops) {
    SCOPED_TRACE(op.name);
    auto probe = op.make();
    mem_alloc_fail_at(0);
    ASSERT_TRUE(op.run(*probe)) << probe->LastErrorText();
    const int64_t allocations = mem_alloc_count();
    ASSERT_GT(allocations, 0);
    for (int64_t k = 1; k <= allocations; ++k) {
      SCOPED_TRACE(k);
      auto b = op.make();
      const BitmapState before = BitmapState::Of(*b);
      const uint32_t rows = log_rows(*b);
      mem_alloc_fail_at(k);
      EXPECT_FALSE(op.run(*b));
      mem_alloc_fail_at(0);
      EXPECT_EQ(log_rows(*b), rows + 1);
      EXPECT_TRUE(last_error(*b).code == errNEnoughMem || last_error(*b).code == errQLMCall ||
                  last_error(*b).code == errSubFnCall)
          << last_error(*b).text;
      EXPECT_TRUE(BitmapState::Of(*b) == before);
    }
  }
}
