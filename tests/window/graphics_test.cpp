// Colours, bitmaps and the canvas.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "ui_graphics.h"

using namespace ui;

TEST(UiColor, SystemColoursComeFromTheFixedTable) {
  struct Case {
    TColor color;
    uint32_t rgb;
  } cases[] = {
      {clBtnFace, 0xF0F0F0},    {clBtnShadow, 0xA0A0A0},  {clBtnHighlight, 0xFFFFFF}, {clWindow, 0xFFFFFF},
      {clWindowText, 0x000000}, {RGB(1, 2, 3), 0x030201}, {clRed, 0x0000FF},          {clNone, 0},
      {TColor(0x800000FF), 0},  // unknown system index
      {TColor(0x80001005), 0},  // stray bits beside the index
  };
  for (auto& c : cases) EXPECT_EQ(ColorToRGB(c.color), c.rgb) << std::hex << c.color;
}

TEST(UiBitmap, RowsAreTopDownInBgraOrder) {
  TBitmap b;
  b.SetPixelFormat(pf32bit);
  b.SetSize(3, 2);
  EXPECT_EQ(b.RowStep(), 12);
  EXPECT_EQ(b.ScanLine(1) - b.ScanLine(0), b.RowStep());
  b.SetPixel(1, 1, RGB(10, 20, 30));
  const uint8_t* p = b.ScanLine(1) + 4;
  EXPECT_EQ(p[0], 30);  // blue first
  EXPECT_EQ(p[1], 20);
  EXPECT_EQ(p[2], 10);
  EXPECT_EQ(p[3], 255);

  TBitmap c;
  c.SetPixelFormat(pf24bit);
  c.SetSize(3, 2);
  EXPECT_EQ(c.RowStep(), 12);  // 9 bytes padded to 4
  c.SetPixel(2, 0, RGB(1, 2, 3));
  EXPECT_EQ(c.ScanLine(0)[6], 3);
  // Growing keeps the overlapping pixels.
  c.SetSize(5, 5);
  EXPECT_EQ(c.Pixel(2, 0), RGB(1, 2, 3));
  EXPECT_EQ(c.Pixel(4, 4), RGB(0, 0, 0));
  // Down to no pixels on one side and back: nothing is copied into the empty
  // block, and the regrown bitmap starts black.
  for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
    c.SetSize(w, h);
    EXPECT_FALSE(c.HasRows());
    c.SetSize(5, 5);
    EXPECT_EQ(c.Pixel(2, 0), RGB(0, 0, 0));
    c.SetPixel(2, 0, RGB(1, 2, 3));
  }
}

TEST(UiBitmap, OtherFormatsAndBadSizesFail) {
  TBitmap b;
  b.SetPixelFormat(pf8bit);
  b.SetSize(4, 4);
  EXPECT_FALSE(b.Empty());
  EXPECT_FALSE(b.HasRows());
  EXPECT_THROW(b.ScanLine(0), std::out_of_range);
  b.Canvas().FillRect({0, 0, 4, 4});  // draws nothing, fails nothing
  EXPECT_EQ(b.Pixel(0, 0), clNone);

  TBitmap c;
  c.SetPixelFormat(pf32bit);
  EXPECT_TRUE(c.Empty());
  EXPECT_THROW(c.SetSize(-1, 4), std::invalid_argument);
  EXPECT_THROW(c.SetSize(TBitmap::kMaxSide + 1, 1), std::invalid_argument);
  EXPECT_THROW(c.SetSize(TBitmap::kMaxSide, TBitmap::kMaxSide), std::invalid_argument);  // over the byte cap
  EXPECT_TRUE(c.Empty());  // a refused size changes nothing
  c.SetSize(2, 2);
  EXPECT_THROW(c.ScanLine(2), std::out_of_range);
  EXPECT_THROW(c.ScanLine(-1), std::out_of_range);
}

TEST(UiCanvas, ClipOriginDashedRectangleAndDraw) {
  TBitmap b;
  b.SetPixelFormat(pf32bit);
  b.SetSize(20, 10);
  TCanvas& cv = b.Canvas();
  cv.Brush.Color = clWhite;
  cv.FillRect({0, 0, 20, 10});

  // Bound with an origin and a clip, drawing outside the clip is dropped.
  TCanvas sub;
  sub.Bind(&b, {5, 2}, {5, 2, 15, 8});
  sub.Brush.Color = clRed;
  sub.FillRect({-5, -5, 100, 100});
  EXPECT_EQ(b.Pixel(4, 2), clWhite);
  EXPECT_EQ(b.Pixel(5, 2), clRed);
  EXPECT_EQ(b.Pixel(14, 7), clRed);
  EXPECT_EQ(b.Pixel(15, 7), clWhite);
  EXPECT_EQ(sub.Pixel(0, 0), clRed);

  // A dashed outline: 6 pixels on, 2 off along the top edge; the inside
  // stays when the brush is clear.
  cv.Brush.Color = clWhite;
  cv.FillRect({0, 0, 20, 10});
  cv.Brush.Style = bsClear;
  cv.Pen.Color = clBlue;
  cv.Pen.Style = psDash;
  cv.Rectangle(0, 0, 20, 10);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(b.Pixel(x, 0), x < 6 ? clBlue : clWhite) << x;
  EXPECT_EQ(b.Pixel(5, 5), clWhite);

  // Draw copies a 24-bit picture, clipped at the target's edge.
  TBitmap src;
  src.SetPixelFormat(pf24bit);
  src.SetSize(4, 4);
  src.Canvas().Brush.Color = clLime;
  src.Canvas().FillRect({0, 0, 4, 4});
  cv.Draw(18, 8, src);
  EXPECT_EQ(b.Pixel(19, 9), clLime);
  EXPECT_EQ(b.Pixel(17, 9), clWhite);
  cv.Draw(-100, -100, src);  // wholly outside: nothing
}

// Fills and copies, byte for byte against a formula: every pixel of the
// rectangle (cut to the clip and the bitmap) takes the colour, alpha 255 in
// 32-bit rows, and nothing else changes, the pad bytes of 24-bit rows
// included; a 32-bit copy takes the colour bytes and sets alpha to 255.
TEST(UiCanvas, FillsAndCopiesTouchExactlyTheirPixels) {
  struct Case {
    TPixelFormat format;
    int width, height;
    TRect fill;
    TRect clip;  // empty: none
  };
  const Case cases[] = {
      {pf32bit, 37, 9, {3, 2, 36, 8}, {}},
      {pf24bit, 37, 9, {3, 2, 36, 8}, {}},
      {pf32bit, 5, 4, {-10, -10, 100, 100}, {}},
      {pf24bit, 5, 4, {-10, -10, 100, 100}, {}},
      {pf32bit, 64, 3, {0, 1, 1, 2}, {}},
      {pf24bit, 31, 6, {2, 0, 29, 6}, {4, 1, 27, 5}},
      {pf32bit, 31, 6, {2, 0, 29, 6}, {4, 1, 27, 5}},
  };
  const uint8_t kOld = 0x5A;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.format == pf32bit ? 32 : 24) << " bit " << c.width << "x" << c.height
                                    << " fill " << c.fill.Left << "," << c.fill.Top << " " << c.fill.Right << ","
                                    << c.fill.Bottom);
    TBitmap b;
    b.SetPixelFormat(c.format);
    b.SetSize(c.width, c.height);
    for (int y = 0; y < c.height; ++y) std::memset(b.ScanLine(y), kOld, size_t(b.RowStep()));
    TCanvas cv;
    cv.Bind(&b, {0, 0}, c.clip);
    cv.Brush.Color = RGB(0x11, 0x22, 0x33);
    cv.FillRect(c.fill);
    TRect in = c.fill.Intersect({0, 0, c.width, c.height});
    if (!c.clip.IsEmpty()) in = in.Intersect(c.clip);
    const int bpp = c.format == pf32bit ? 4 : 3;
    int wrong = 0;
    for (int y = 0; y < c.height; ++y)
      for (int i = 0; i < int(b.RowStep()); ++i) {
        const int x = i / bpp, k = i % bpp;
        const bool inside = x < c.width && in.Contains(x, y);
        const uint8_t want = !inside ? kOld : k == 0 ? 0x33 : k == 1 ? 0x22 : k == 2 ? 0x11 : 0xFF;
        if (b.ScanLine(y)[i] != want) ++wrong;
      }
    EXPECT_EQ(wrong, 0);
  }

  // A 32-bit copy onto a 32-bit target, alpha 0 in the source.
  TBitmap src, dst;
  src.SetPixelFormat(pf32bit);
  src.SetSize(19, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 19; ++x) {
      uint8_t* p = src.ScanLine(y) + x * 4;
      p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = uint8_t(x + y), p[3] = 0;
    }
  dst.SetPixelFormat(pf32bit);
  dst.SetSize(30, 5);
  for (int y = 0; y < 5; ++y) std::memset(dst.ScanLine(y), kOld, size_t(dst.RowStep()));
  dst.Canvas().Draw(14, 1, src);  // cut at the right edge: 16 columns
  int wrong = 0;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 30; ++x) {
      const uint8_t* p = dst.ScanLine(y) + x * 4;
      const bool inside = x >= 14 && y >= 1 && y < 4;
      const int sx = x - 14, sy = y - 1;
      const uint8_t want[4] = {inside ? uint8_t(sx) : kOld, inside ? uint8_t(sy) : kOld,
                               inside ? uint8_t(sx + sy) : kOld, inside ? uint8_t(0xFF) : kOld};
      if (std::memcmp(p, want, 4) != 0) ++wrong;
    }
  EXPECT_EQ(wrong, 0);
}
