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
      {5, 5, RGB(240, 240, 240)},    {10, 10, clRed},   {59, 39, clRed},  {60, 40, RGB(240, 240, 240)},
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

// Work that renews itself on the GUI thread (a paint that marks its control
// again, the plainest animation; a call that queues its next part) leaves
// the timers their turn in every round of the loop, and the paints theirs.
// Each frame or part takes 5 ms of the virtual clock; a 25 ms timer.
TEST(UiLoop, RenewedWorkLeavesTimersAndPaintsTheirTurn) {
  for (bool by_paint : {true, false}) {
    SCOPED_TRACE(by_paint ? "a paint that marks again" : "a call that queues the next");
    uitest::FormFixture f;
    auto* p = new Probe(f.form, f.form, "P", nullptr, Bounds(0, 0, 50, 50));
    TTimer timer(f.form);
    int ticks = 0;
    timer.SetInterval(25);
    timer.SetOnTimer([&](TObject*) { ++ticks; });
    f.form->Show();
    int parts = 0;
    std::function<void()> part = [&] {
      ++parts;
      test::Elapse(5);
      Application->QueueCall(part);
    };
    if (by_paint) {
      p->DuringPaint = [&] {
        test::Elapse(5);
        p->Invalidate();
      };
    } else {
      Application->QueueCall(part);
    }
    int paints = p->Paints;
    p->Invalidate();
    for (int round = 0; round < 100; ++round) Application->HandleMessage();
    EXPECT_GE(ticks, 15);  // about 100 rounds of 5 ms
    EXPECT_GE(p->Paints, by_paint ? paints + 100 : paints + 1);
    if (!by_paint) {
      EXPECT_EQ(parts, 100);
    }
    p->DuringPaint = nullptr;
  }
}

// Update and Repaint put the picture on the screen before they return: also
// an area the loop painted earlier and only presented for later.
TEST(UiPaint, UpdateAndRepaintPresentAtOnce) {
  uitest::FormFixture f;
  auto* p = new Probe(f.form, f.form, "P", nullptr, Bounds(0, 0, 50, 50));
  f.form->Show();
  const auto* window = test::Headless().FindWindow(f.form->Handle());
  int now = window->PresentsNow, all = window->Presents;
  p->Fill = clRed;
  p->Repaint();
  EXPECT_EQ(window->PresentsNow, now + 1);
  EXPECT_EQ(window->Presents, all + 1);
  EXPECT_EQ(f.form->BackBuffer().Pixel(10, 10), clRed);
  p->Invalidate();
  Application->ProcessMessages();  // painted and presented for later
  EXPECT_EQ(window->PresentsNow, now + 1);
  p->Update();  // nothing marked, but the screen must catch up
  EXPECT_EQ(window->PresentsNow, now + 2);
}
