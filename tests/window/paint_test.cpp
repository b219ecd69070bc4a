// Painting into the back buffer: order, clipping, re-entry and presenting.
#include <gtest/gtest.h>

#include "ui_probe.h"

using namespace ui;
using uitest::Probe;

TEST(UiPaint, BackBufferHoldsTheTreeBackToFront) {
  uitest::FormFixture f;
  auto* a = new Probe(f.form, f.form, "A", nullptr, Bounds(10, 10, 50, 30));
  a->Fill = clRed;
  auto* panel = new TPanel(f.form);
  panel->SetBevelOuter(bvNone);
  panel->SetColor(clBtnShadow);
  panel->SetBounds(100, 0, 100, 100);
  panel->SetParent(f.form);
  auto* inner = new Probe(f.form, panel, "B", nullptr, Bounds(90, 90, 50, 50));  // sticks out of the panel
  inner->Fill = clBlue;
  auto* bevel = new TBevel(f.form);
  bevel->SetShape(bsTopLine);
  bevel->SetStyle(bsRaised);
  bevel->SetBounds(0, 60, 100, 2);
  bevel->SetParent(f.form);
  f.form->Show();
  const TBitmap& b = test::Snapshot(f.form);
  ASSERT_EQ(b.PixelFormat(), pf32bit);
  ASSERT_EQ(b.Width(), 200);
  struct Case {
    int x, y;
    TColor color;
  } cases[] = {
      {5, 5, RGB(240, 240, 240)},  {10, 10, clRed},  {59, 39, clRed},   {60, 40, RGB(240, 240, 240)},
      {150, 50, RGB(160, 160, 160)}, {195, 95, clBlue}, {5, 60, clWhite}, {5, 61, RGB(160, 160, 160)},
  };
  for (auto& c : cases) EXPECT_EQ(b.Pixel(c.x, c.y), c.color) << c.x << "," << c.y;
  EXPECT_EQ(test::Headless().FindWindow(f.form->Handle())->Presents, 1);
}

TEST(UiPaint, RepaintDuringAPaintOnlyMarksTheArea) {
  uitest::FormFixture f;
  auto* a = new Probe(f.form, f.form, "A", nullptr, Bounds(0, 0, 50, 50));
  auto* b = new Probe(f.form, f.form, "B", nullptr, Bounds(100, 0, 50, 50));
  f.form->Show();
  int a_paints = a->Paints, b_paints = b->Paints;
  a->DuringPaint = [&] {
    b->Repaint();
    EXPECT_EQ(b->Paints, b_paints);  // not painted inside A's paint
  };
  a->Repaint();  // paints now
  EXPECT_EQ(a->Paints, a_paints + 1);
  EXPECT_EQ(b->Paints, b_paints);
  EXPECT_TRUE(f.form->PaintPending());
  a->DuringPaint = nullptr;
  Application->ProcessMessages();  // the idle paint takes the rest
  EXPECT_EQ(b->Paints, b_paints + 1);
  EXPECT_EQ(a->Paints, a_paints + 1);
  EXPECT_FALSE(f.form->PaintPending());

  // Invalidate alone paints nothing until the loop is idle; Update paints.
  a->Invalidate();
  EXPECT_EQ(a->Paints, a_paints + 1);
  a->Update();
  EXPECT_EQ(a->Paints, a_paints + 2);
}

TEST(UiPaint, AFailingPaintDoesNotStopTheRest) {
  uitest::FormFixture f;
  auto* a = new Probe(f.form, f.form, "A", nullptr, Bounds(0, 0, 50, 50));
  auto* b = new Probe(f.form, f.form, "B", nullptr, Bounds(100, 0, 50, 50));
  b->Fill = clRed;
  a->DuringPaint = [] { throw std::runtime_error("broken paint"); };
  f.form->Show();
  EXPECT_EQ(test::Snapshot(f.form).Pixel(120, 20), clRed);
  // A resize gives a new buffer of the new size, painted whole.
  test::ResizeClient(f.form, 300, 150);
  const TBitmap& snap = test::Snapshot(f.form);
  EXPECT_EQ(snap.Width(), 300);
  EXPECT_EQ(snap.Pixel(299, 149), RGB(240, 240, 240));
}

TEST(UiPaint, AHugeFormIsHeldAtTheBufferCap) {
  uitest::FormFixture f;
  f.form->SetClientSize(100000, 20);
  EXPECT_EQ(f.form->ClientWidth(), TForm::kMaxClientSide);
  f.form->SetClientSize(30, 20);
  f.form->Show();
  test::ResizeClient(f.form, -5, 1 << 30);
  EXPECT_EQ(f.form->ClientWidth(), 0);
  EXPECT_EQ(f.form->ClientHeight(), TForm::kMaxClientSide);
}
