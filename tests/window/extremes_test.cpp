// Drawing and bounds at the ends of the int range: clipped and kept in
// range, no overflow, no walk over billions of pixels outside the bitmap.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>

#include "ui_probe.h"

using namespace ui;

TEST(UiCanvasExtremes, OutlinesLinesAndFillsAtTheEndsOfTheRange) {
  TBitmap b;
  b.SetPixelFormat(pf32bit);
  b.SetSize(8, 8);
  TCanvas& c = b.Canvas();
  c.Brush.Color = clWhite;
  c.FillRect({0, 0, 8, 8});
  c.Brush.Style = bsClear;
  c.Pen.Color = clRed;
  auto start = std::chrono::steady_clock::now();
  for (TPenStyle style : {psSolid, psDash, psDot}) {
    c.Pen.Style = style;
    c.Rectangle(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
    c.Rectangle(-1, -1, INT_MAX, INT_MAX);
    c.Rectangle(2, 2, INT_MAX, 6);
  }
  c.MoveTo(INT_MAX, 3);
  c.LineTo(INT_MIN, 3);
  c.MoveTo(3, INT_MIN);
  c.LineTo(3, INT_MAX);
  c.Brush.Style = bsSolid;
  c.FillRect({INT_MIN, INT_MIN, INT_MAX, INT_MAX});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(b.Pixel(0, 0), clWhite);
}

TEST(UiCanvasExtremes, ClippedOutlineMatchesTheWholeWalk) {
  // Every pixel of the outline walked one by one (the path as one dash
  // pattern) against the canvas, for rectangles partly outside the bitmap
  // and a canvas with an origin and a clip.
  for (TPenStyle style : {psSolid, psDash, psDot})
    for (int x1 : {-13, -1, 0, 3})
      for (int y1 : {-9, 0, 2})
        for (int x2 : {x1 + 1, 5, 17, 31})
          for (int y2 : {y1 + 1, 4, 15, 29}) {
            TBitmap got, want;
            for (TBitmap* b : {&got, &want}) {
              b->SetPixelFormat(pf32bit);
              b->SetSize(20, 20);
            }
            TCanvas c(&got);
            c.Bind(&got, {2, 1}, {1, 1, 18, 17});
            c.Brush.Style = bsClear;
            c.Pen.Style = style;
            c.Pen.Color = clWhite;
            c.Rectangle(x1, y1, x2, y2);
            if (x2 <= x1 || y2 <= y1) continue;
            int on = style == psDash ? 6 : 1, period = style == psDash ? 8 : 2, step = 0;
            auto plot = [&](int x, int y) {
              int bx = x + 2, by = y + 1;
              if ((style == psSolid || step % period < on) && bx >= 1 && bx < 18 && by >= 1 && by < 17)
                want.SetPixel(bx, by, clWhite);
              ++step;
            };
            for (int x = x1; x < x2 - 1; ++x) plot(x, y1);
            for (int y = y1; y < y2 - 1; ++y) plot(x2 - 1, y);
            for (int x = x2 - 1; x > x1; --x) plot(x, y2 - 1);
            for (int y = y2 - 1; y > y1; --y) plot(x1, y);
            if (x2 - x1 == 1 && y2 - y1 == 1) plot(x1, y1);
            for (int y = 0; y < 20; ++y)
              for (int x = 0; x < 20; ++x)
                ASSERT_EQ(got.Pixel(x, y), want.Pixel(x, y))
                    << int(style) << " " << x1 << "," << y1 << "," << x2 << "," << y2 << " at " << x << "," << y;
          }
}

TEST(UiBoundsExtremes, BoundsAtTheEndsOfTheRangeStayInRange) {
  uitest::FormFixture f;
  f.form->Show();
  auto* p = new TPanel(f.form);
  p->SetParent(f.form);
  p->SetAnchors(akLeft | akTop | akRight | akBottom);
  p->SetBounds(10, 10, INT_MAX, INT_MAX);
  EXPECT_EQ(p->Width(), TControl::kMaxCoord);
  test::ResizeClient(f.form, 150, 120);
  test::Snapshot(f.form);
  test::MouseMove(f.form, 50, 50);
  EXPECT_EQ(f.form->HoverControl(), p);
  p->SetBounds(INT_MAX, INT_MIN, 10, 10);
  EXPECT_EQ(p->Left(), TControl::kMaxCoord);
  EXPECT_EQ(p->Top(), -TControl::kMaxCoord);
  p->ClientToScreen({INT_MAX / 2, 0});
  // Aligned controls taking more room than the int range holds.
  p->SetAnchors(akLeft | akTop);
  for (TAlign a : {alTop, alBottom, alLeft, alRight})
    for (int i = 0; i < 200; ++i) {
      auto* c = new TPanel(f.form);
      c->SetBounds(0, 0, INT_MAX, INT_MAX);
      c->SetAlign(a);
      c->SetParent(f.form);
    }
  test::ResizeClient(f.form, 100, 100);
  test::Snapshot(f.form);
  test::MouseMove(f.form, 5, 5);
}

TEST(UiBoundsExtremes, LabelWithAFontAtTheEndsOfTheRange) {
  uitest::FormFixture f;
  auto* label = new TLabel(f.form);
  label->SetCaption(std::string(1000, 'x'));
  for (int height : {INT_MIN, INT_MAX, -12}) {
    TFont font;
    font.Height = height;
    label->SetFont(font);
    EXPECT_GE(label->Width(), 0);
  }
  TFont font;
  font.Size = INT_MAX;
  label->SetFont(font);
  font.Size = INT_MIN;
  label->SetFont(font);
  EXPECT_GE(label->Height(), 0);
  label->SetParent(f.form);  // the headless widget sizes it now
  font.Height = INT_MIN;
  label->SetFont(font);
  font.Height = 0;
  font.Size = INT_MAX;
  label->SetFont(font);
  EXPECT_EQ(label->Height(), TControl::kMaxCoord);
}

TEST(UiBoundsExtremes, MaxLengthNeverCutsACharacterInTwo) {
  uitest::FormFixture f;
  auto* edit = new TEdit(f.form);
  edit->SetParent(f.form);
  edit->SetMaxLength(4);
  edit->SetText("ab\xC3\xA9\xC3\xA9");  // "abéé": the limit falls inside the second é
  EXPECT_EQ(edit->Text(), "ab\xC3\xA9");
  edit->SetMaxLength(3);
  edit->SetText("a\xE2\x82\xAC");  // "a€": the limit falls inside the euro sign
  EXPECT_EQ(edit->Text(), "a");
}
