// Surfaces: the six formats, the accessor slots, orientation, and copying
// rows out and back through a mask.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "renderer_support.h"

namespace {

using testenv::RendererTest;

struct rFormatCase {
  int32_t kind;
  uint8_t code;
  int bpp;
  std::array<int, 4> offsets;  // R, G, B, A (-1: none)
};
// clang-format off
const rFormatCase kFormats[] = {
    {cnBitmap24RGB, 53, 3, {0, 1, 2, -1}},  {cnBitmap24BGR, 54, 3, {2, 1, 0, -1}},
    {cnBitmap32RGBA, 78, 4, {0, 1, 2, 3}},  {cnBitmap32BGRA, 79, 4, {2, 1, 0, 3}},
    {cnBitmap32ARGB, 80, 4, {1, 2, 3, 0}},  {cnBitmap32ABGR, 81, 4, {3, 2, 1, 0}},
};
// clang-format on

class SurfaceTest : public RendererTest {};

TEST_F(SurfaceTest, EachFormatPutsChannelsAtItsOffsetsAndAnswersItsSlots) {
  for (const auto& f : kFormats) {
    SCOPED_TRACE(int(f.code));
    auto bitmap = testenv::solid_bitmap(3, 2, f.kind, 0);
    cSurfaceBitmap surface;
    ASSERT_TRUE(surface.Attach(bitmap.get(), true));
    EXPECT_EQ(surface.FormatCode(), f.code);
    surface.GetPixelFormat(0)->copy_pixel(1, 1, agg::rgba8(10, 20, 30, 40));
    const uint8_t* p = bitmap->Data() + bitmap->Stride() + f.bpp;
    for (int c = 0; c < 4; ++c) {
      if (f.offsets[c] < 0) continue;
      EXPECT_EQ(p[f.offsets[c]], (c + 1) * 10) << "channel " << c;
    }

    // Slots before and after a second buffer: 1, 3, 5 wait for it, 2 needs
    // alpha, any other index is slot 0.
    const bool alpha = f.bpp == 4;
    const bool before[8] = {true, false, alpha, false, true, false, true, true};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(surface.GetPixelFormat(i) != nullptr, before[i]) << "index " << i;
    EXPECT_EQ(surface.GetPixelFormat(7), surface.GetPixelFormat(0));
    EXPECT_EQ(surface.GetPixelFormat(-1), surface.GetPixelFormat(0));
    std::vector<uint8_t> second(size_t(3 * 2 * f.bpp));
    agg::rendering_buffer rb(second.data(), 3, 2, 3 * f.bpp);
    surface.BindSecondBuffer(rb);
    const bool after[8] = {true, true, alpha, alpha, true, true, true, true};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(surface.GetPixelFormat(i) != nullptr, after[i]) << "index " << i;
    surface.GetPixelFormat(cnSurfaceStraightSecond)->copy_pixel(2, 0, agg::rgba8(10, 20, 30, 40));
    EXPECT_EQ(second[size_t(2 * f.bpp + f.offsets[0])], 10);
  }
}

TEST_F(SurfaceTest, RefusalsAreLoggedAndKeepTheBinding) {
  auto good = testenv::solid_bitmap(4, 4, cnBitmap32BGRA, 0xFF102030u);
  cSurfaceBitmap surface;
  ASSERT_TRUE(surface.Attach(good.get(), true));
  // An opened cBitmap is always in one of the six formats, so the third
  // refusal ("{bitmap.PixelGeometry.pixel_format is Unsupported}") cannot be
  // reached from here.
  cBitmap closed(4, 4, cnBitmap32BGRA);
  struct {
    cBitmap* bitmap;
    const char* text;
  } cases[] = {{nullptr, "{bitmap=NIL}"}, {&closed, "{not bitmap.IsOpened}"}};
  for (const auto& c : cases) {
    EXPECT_FALSE(surface.Attach(c.bitmap, true));
    EXPECT_EQ(surface.LastErrorCode(), 279);
    EXPECT_NE(surface.LastErrorText().find(c.text), std::string::npos) << surface.LastErrorText();
    EXPECT_TRUE(surface.IsAssigned());
  }
  EXPECT_EQ(surface.Data(), good->Data());
  EXPECT_EQ(surface.Bitmap(), good.get());
}

TEST_F(SurfaceTest, OrientationAndRebinding) {
  auto bitmap = testenv::solid_bitmap(5, 3, cnBitmap32RGBA, 0);
  cSurfaceBitmap surface;
  ASSERT_TRUE(surface.Attach(bitmap.get(), false));
  EXPECT_FALSE(surface.IsTopDown());
  EXPECT_EQ(surface.Stride(), -bitmap->Stride());
  // Row 0 is the last memory row; writing every row stays inside the bitmap.
  {
    qlm_agg::renderer_any base(*surface.GetPixelFormat(0));
    base.clear(agg::rgba8(1, 2, 3, 4));
    base.copy_pixel(0, 0, agg::rgba8(9, 9, 9, 9));
  }
  const uint8_t* last = bitmap->Data() + int64_t(2) * bitmap->Stride();
  EXPECT_EQ(last[0], 9);
  EXPECT_EQ(bitmap->Data()[0], 1);

  // The same binding again rebuilds nothing; the other orientation does.
  const uint8_t* row0 = surface.RenderingBuffer().row_ptr(0);
  ASSERT_TRUE(surface.Attach(bitmap.get(), false));
  EXPECT_EQ(surface.RenderingBuffer().row_ptr(0), row0);
  ASSERT_TRUE(surface.Attach(bitmap.get(), true));
  EXPECT_EQ(surface.RenderingBuffer().row_ptr(0), bitmap->Data());
  EXPECT_EQ(surface.Stride(), bitmap->Stride());

  // Detach unbinds, keeps the orientation and counts a change.
  ASSERT_TRUE(surface.Attach(bitmap.get(), false));
  const int32_t changes = bitmap->ChangeCount();
  surface.Detach();
  EXPECT_FALSE(surface.IsAssigned());
  EXPECT_FALSE(surface.IsTopDown());
  EXPECT_EQ(surface.GetWidth(), 0);
  EXPECT_EQ(surface.GetPixelFormat(0), nullptr);
  EXPECT_EQ(bitmap->ChangeCount(), changes + 1);
}

TEST_F(SurfaceTest, IdentifyAcceptsSurfacesOnly) {
  cSurfaceBitmap sb;
  cSurfacePatternRGBA sp;
  cBitmap bitmap;
  EXPECT_TRUE(object_identify(&sb, id_cSurface));
  EXPECT_TRUE(object_identify(&sb, id_cSurfaceBitmap));
  EXPECT_TRUE(object_identify(&sp, id_cSurface));
  EXPECT_FALSE(object_identify(&sp, id_cSurfaceBitmap));
  EXPECT_FALSE(object_identify(&bitmap, id_cSurface));
}

// MaskedCopyIn on a 1 x 1 BGRA surface: surface bytes s, layer bytes l.
TEST_F(SurfaceTest, MaskedCopyInTable) {
  // clang-format off
  struct {
    uint8_t mask;
    bool blend;
    uint8_t s, l, expect;
  } cases[] = {
      // mask 0 never touches; 255 copies exactly in both modes.
      {0, false, 10, 200, 10},   {0, true, 10, 200, 10},    {255, false, 10, 200, 200}, {255, true, 10, 200, 200},
      {255, true, 0, 255, 255},  {255, true, 255, 0, 0},
      // other masks: nothing without blend; s + floor((256 - m)(s - l) / 256) with it.
      {1, false, 10, 200, 10},   {128, false, 200, 10, 200},
      {1, true, 10, 200, 10},    // 200 + floor(255 x -190 / 256) = 200 - 190 = 10
      {1, true, 200, 10, 199},   // 10 + floor(255 x 190 / 256) = 10 + 189
      {128, true, 10, 200, 105}, // 200 + floor(128 x -190 / 256) = 200 - 95
      {128, true, 200, 10, 105}, // 10 + floor(128 x 190 / 256) = 10 + 95
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.mask) << (c.blend ? " blend " : " copy ") << int(c.s) << "<-" << int(c.l));
    auto bitmap = testenv::solid_bitmap(1, 1, cnBitmap32BGRA, color_rgba(c.s, c.s, c.s, c.s));
    cSurfaceBitmap surface;
    ASSERT_TRUE(surface.Attach(bitmap.get(), true));
    const uint8_t layer[4] = {c.l, c.l, c.l, c.l};
    surface.MaskedCopyIn(layer, &c.mask, 1, c.blend);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(bitmap->Data()[i], c.expect) << "byte " << i;  // alpha mixes too
  }
}

TEST_F(SurfaceTest, RowsOutAndBackThroughLongerRows) {
  auto bitmap = testenv::make_pattern(3, 4, cnBitmap24BGR);
  auto copy = bitmap->Clone(3, 4, cnResizeCopy);
  cSurfaceBitmap surface;
  ASSERT_TRUE(surface.Attach(bitmap.get(), false));
  std::vector<uint8_t> layer(size_t(5 * 4 * 3), 0xEE);
  surface.CopyRowsOut(layer.data(), 5);
  // Row y of the surface (bottom-up: memory row 3 - y) at layer row y; the
  // two pixels past each row untouched.
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(std::memcmp(&layer[size_t(y * 15)], bitmap->Data() + (3 - y) * bitmap->Stride(), 9), 0);
    EXPECT_EQ(layer[size_t(y * 15 + 9)], 0xEE);
  }
  // Clear the bitmap, write back at mask 255: the picture returns.
  bitmap->Clear(0, 255);
  std::vector<uint8_t> mask(5 * 4, 255);
  surface.MaskedCopyIn(layer.data(), mask.data(), 5, false);
  EXPECT_TRUE(testenv::bitmaps_equal(*bitmap, *copy));
}

TEST_F(SurfaceTest, RgbaBuffersAndTilesBindAsSurfaces) {
  rgba8_buffer buffer;
  ASSERT_TRUE(buffer.Init(4, 3));
  cSurfaceBitmapRGBA surface;
  ASSERT_TRUE(surface.Attach(&buffer));
  EXPECT_EQ(surface.FormatCode(), px32RGBA);
  qlm_agg::renderer_any base(*surface.GetPixelFormat(0));
  base.clear(agg::rgba8(1, 2, 3, 4));
  EXPECT_EQ(buffer.row_ptr(2)[4 * 3 + 3], 4);
  // The surface's own rows are the buffer's, so a clipped drawing can be
  // copied out and written back.
  std::vector<uint8_t> rows(4 * 3 * 4, 0);
  surface.CopyRowsOut(rows.data(), 4);
  EXPECT_EQ(rows[0], 1);
  rows[0] = 77;
  std::vector<uint8_t> mask(12, 255);
  surface.MaskedCopyIn(rows.data(), mask.data(), 4, false);
  EXPECT_EQ(buffer.row_ptr(0)[0], 77);

  rgba8_buffer invalid;
  EXPECT_FALSE(surface.Attach(&invalid));
  EXPECT_FALSE(surface.IsAssigned());
  EXPECT_FALSE(surface.Attach(nullptr));

  rgba8_tile tile(3, 0);
  EXPECT_EQ(tile.Height(), 1);
  cSurfacePatternRGBA pattern;
  ASSERT_TRUE(pattern.Attach(&tile));
  pattern.GetPixelFormat(0)->copy_pixel(2, 0, agg::rgba8(1, 2, 3, 4));
  EXPECT_EQ(tile.Pixel(2, 0), 0x04030201u);
  EXPECT_EQ(tile.Pixel(3, 0), 0u);
  EXPECT_FALSE(pattern.Attach(nullptr));
}

}  // namespace
