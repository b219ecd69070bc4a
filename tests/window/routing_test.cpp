// Mouse routing, capture, enter/leave and the wheel.
#include <gtest/gtest.h>

#include "ui_probe.h"

using namespace ui;
using uitest::Probe;

namespace {

struct RoutingFixture : uitest::FormFixture {
  Probe* a;
  Probe* b;
  RoutingFixture() {
    a = new Probe(form, form, "A", &log, Bounds(10, 10, 50, 30));
    b = new Probe(form, form, "B", &log, Bounds(100, 10, 50, 30));
    form->Show();
    log.clear();  // the first control took the focus
  }
};

}  // namespace

// Press on A, drag over B and out of the window, release there.
TEST(UiRouting, PressDragOutsideReleaseWithAndWithoutCapture) {
  struct Case {
    const char* name;
    bool capture;
    std::vector<std::string> expected;
  } cases[] = {
      {"with capture",
       true,
       {"enter A", "move A 10,10", "down A 10,10", "leave A", "enter B", "move A 110,10", "leave B", "move A 240,10",
        "up A 240,10", "capture-changed A"}},
      {"without capture",
       false,
       {"enter A", "move A 10,10", "down A 10,10", "leave A", "enter B", "move B 20,10", "leave B"}},
  };
  for (auto& c : cases) {
    RoutingFixture f;
    f.a->CaptureOnDown = f.a->ReleaseOnUp = c.capture;
    test::MouseMove(f.form, 20, 20);
    test::MouseDown(f.form, 20, 20);
    test::MouseMove(f.form, 120, 20, ssLeft);
    test::MouseMove(f.form, 250, 20, ssLeft);
    test::MouseUp(f.form, 250, 20);
    EXPECT_EQ(f.log, c.expected) << c.name;
    EXPECT_EQ(GetCapture(), nullptr) << c.name;
  }
}

TEST(UiRouting, CaptureChangedGoesToTheLoser) {
  {
    RoutingFixture f;
    f.a->CaptureOnDown = true;
    test::MouseMove(f.form, 20, 20);
    test::MouseDown(f.form, 20, 20);
    SetCapture(f.b);
    SetCapture(f.b);                  // no change, no notice
    test::MouseMove(f.form, 30, 20);  // over A, but B holds the capture
    EXPECT_EQ(f.log, (std::vector<std::string>{"enter A", "move A 10,10", "down A 10,10", "capture-changed A",
                                               "move B -70,10"}));
  }
  {
    // A modal form takes the capture before it shows.
    RoutingFixture f;
    f.a->CaptureOnDown = true;
    test::MouseMove(f.form, 20, 20);
    test::MouseDown(f.form, 20, 20);
    auto* dlg = Create<TForm>(Application);
    dlg->OnShow = [&](TObject*) { f.log.push_back("modal shown"); };
    test::Script([&] { dlg->ModalResult = mrOk; });
    EXPECT_EQ(dlg->ShowModal(), mrOk);
    EXPECT_EQ(f.log, (std::vector<std::string>{"enter A", "move A 10,10", "down A 10,10", "capture-changed A",
                                               "modal shown"}));
  }
}

TEST(UiRouting, HiddenDisabledAndNestedControlsInHitTests) {
  RoutingFixture f;
  auto* panel = new TPanel(f.form);
  panel->SetBounds(0, 50, 200, 50);
  panel->SetParent(f.form);
  auto* inner = new Probe(f.form, panel, "C", &f.log, Bounds(10, 10, 20, 20));
  EXPECT_EQ(f.form->ControlAtPos({15, 65}), inner);
  inner->SetEnabled(false);
  EXPECT_EQ(f.form->ControlAtPos({15, 65}), panel);
  inner->SetEnabled(true);
  inner->Hide();
  EXPECT_EQ(f.form->ControlAtPos({15, 65}), panel);
  EXPECT_EQ(f.form->ControlAtPos({5, 5}), f.form);
  // The later sibling lies on top.
  auto* over = new Probe(f.form, f.form, "D", &f.log, Bounds(0, 0, 40, 40));
  EXPECT_EQ(f.form->ControlAtPos({20, 20}), over);
}

TEST(UiRouting, WheelGoesUpTheParentsUntilHandled) {
  uitest::FormFixture f;
  auto* outer = new Probe(f.form, f.form, "outer", &f.log, Bounds(0, 0, 200, 100));
  auto* inner = new Probe(f.form, outer, "inner", &f.log, Bounds(10, 10, 50, 50));
  f.form->Show();
  f.log.clear();
  outer->HandleWheel = true;
  test::Wheel(f.form, 20, 20, -120, ssShift);
  EXPECT_EQ(f.log, (std::vector<std::string>{"wheel inner -120", "wheel outer -120"}));
  f.log.clear();
  inner->HandleWheel = true;
  test::Wheel(f.form, 20, 20, 240);
  EXPECT_EQ(f.log, (std::vector<std::string>{"wheel inner 240"}));
}

TEST(UiRouting, ClickNeedsPressAndReleaseOnTheControl) {
  RoutingFixture f;
  test::Click(f.form, 20, 20);
  f.log.clear();
  test::MouseDown(f.form, 20, 20);
  test::MouseUp(f.form, 120, 20);  // released over B: no click anywhere
  test::MouseDown(f.form, 120, 20);
  test::MouseUp(f.form, 121, 20);
  EXPECT_EQ(f.log, (std::vector<std::string>{"down A 10,10", "leave A", "enter B", "up B 20,10", "down B 20,10",
                                             "up B 21,10", "click B"}));
}

// A click is a press and a release on one control in one gesture: halves
// of two gestures never make one.
TEST(UiRouting, NoClickFromTheHalvesOfTwoGestures) {
  struct Step {
    bool down;
    int x;  // 20: over A, 120: over B, 250: outside the window
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> clicks;
  } cases[] = {
      {"A to B, then B to A", {{true, 20}, {false, 120}, {true, 120}, {false, 20}}, {}},
      {"A to outside, then B to A", {{true, 20}, {false, 250}, {true, 120}, {false, 20}}, {}},
      {"A to B, then A to A", {{true, 20}, {false, 120}, {true, 20}, {false, 20}}, {"click A"}},
  };
  for (auto& c : cases) {
    RoutingFixture f;
    for (const Step& s : c.steps) {
      test::MouseMove(f.form, s.x, 20, s.down ? 0 : ssLeft);
      if (s.down)
        test::MouseDown(f.form, s.x, 20);
      else
        test::MouseUp(f.form, s.x, 20);
    }
    std::vector<std::string> clicks;
    for (auto& line : f.log)
      if (line.rfind("click", 0) == 0) clicks.push_back(line);
    EXPECT_EQ(clicks, c.clicks) << c.name;
  }
}

// Both backends report the state after the event: a press holds its
// button, a release no longer does, whatever state the window system
// passed along (GTK gives the state before the event).
TEST(UiRouting, MouseStatesAreTheStatesAfterTheEvent) {
  RoutingFixture f;
  std::vector<std::string> seen;
  auto record = [&](const char* what) {
    return [&seen, what](TObject*, TMouseButton, TShiftState shift, int, int) {
      seen.push_back(std::string(what) + " " + std::to_string(shift));
    };
  };
  f.a->OnMouseDown = record("down");
  f.a->OnMouseUp = record("up");
  test::MouseMove(f.form, 20, 20);
  f.form->InputMouseButton(mbLeft, true, 20, 20, ssShift);
  f.form->InputMouseButton(mbRight, true, 20, 20, ssLeft | ssShift);
  f.form->InputMouseButton(mbLeft, false, 20, 20, ssLeft | ssRight | ssShift);
  f.form->InputMouseButton(mbRight, false, 20, 20, ssRight);
  EXPECT_EQ(seen, (std::vector<std::string>{"down " + std::to_string(ssShift | ssLeft),
                                            "down " + std::to_string(ssShift | ssLeft | ssRight),
                                            "up " + std::to_string(ssShift | ssRight), "up 0"}));
}

TEST(UiRouting, CursorAndHintFollowTheHoveredControl) {
  RoutingFixture f;
  TCursorImage img;
  img.Pixels.assign(32 * 32, 0xFF000000u);
  img.HotX = 3;
  Screen->SetCursors(99, img);
  f.a->SetCursor(99);
  f.b->SetCursor(crHandPoint);
  f.b->SetHint("help");
  f.b->SetShowHint(true);
  auto& hb = test::Headless();
  test::MouseMove(f.form, 20, 20);
  EXPECT_EQ(hb.FindWindow(f.form->Handle())->Cursor, 99);
  test::MouseMove(f.form, 120, 20);
  EXPECT_EQ(hb.FindWindow(f.form->Handle())->Cursor, crHandPoint);
  EXPECT_EQ(hb.FindWindow(f.form->Handle())->Tooltip, "help");
  f.b->SetHint("other");  // changed while shown
  EXPECT_EQ(hb.FindWindow(f.form->Handle())->Tooltip, "other");
  Application->CancelHint();
  EXPECT_EQ(hb.FindWindow(f.form->Handle())->Tooltip, "");
  test::MouseMove(f.form, 5, 5);
  EXPECT_EQ(hb.FindWindow(f.form->Handle())->Cursor, crArrow);
  f.a->SetCursor(77);  // an empty slot shows the arrow
  test::MouseMove(f.form, 20, 20);
  EXPECT_EQ(hb.FindWindow(f.form->Handle())->Cursor, crArrow);
  img.HotX = 32;
  EXPECT_THROW(Screen->SetCursors(5, img), std::invalid_argument);
  EXPECT_THROW(Screen->SetCursors(0, TCursorImage{}), std::invalid_argument);
}
