// Colours, bitmaps and the canvas.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ui_graphics.h"

using namespace ui;

TEST(UiColor, SystemColoursComeFromTheFixedTable) {
  struct Case {
    TColor color;
    uint32_t rgb;
  } cases[] = {
      {clBtnFace, 0xF0F0F0},  {clBtnShadow, 0xA0A0A0},   {clBtnHighlight, 0xFFFFFF},
      {clWindow, 0xFFFFFF},   {clWindowText, 0x000000},  {RGB(1, 2, 3), 0x030201},
      {clRed, 0x0000FF},      {clNone, 0},               {TColor(0x800000FF), 0},  // unknown system index
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
