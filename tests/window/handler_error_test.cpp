// An exception that leaves an event handler ends in the loop: it is logged
// and reported through OnException, and the loop, its timers and the other
// controls go on. Only the backend's own fault passes out of the loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui_probe.h"

using namespace ui;

namespace {

// Serves loop rounds until pred holds (a scripted action runs only when the
// loop waits, after what was ready); a handler's exception must not leave.
void serve_until(const std::function<bool()>& pred) {
  for (int round = 0; round < 20 && !pred(); ++round) ASSERT_NO_THROW(Application->HandleMessage());
  ASSERT_TRUE(pred());
}

TEST(UiHandlerError, AThrowingClickIsReportedAndTheLoopGoesOn) {
  uitest::FormFixture f;
  auto* left = new uitest::Probe(f.form, f.form, "left", &f.log, Bounds(0, 0, 100, 100));
  auto* right = new uitest::Probe(f.form, f.form, "right", &f.log, Bounds(100, 0, 100, 100));
  left->OnClick = [](TObject*) { throw std::runtime_error("the handler failed"); };
  int rightClicks = 0;
  right->OnClick = [&](TObject*) { ++rightClicks; };
  int ticks = 0;
  TTimer timer(f.form);
  timer.SetInterval(10);
  timer.SetOnTimer([&](TObject*) {
    ++ticks;
    if (ticks == 1) throw std::logic_error("the tick failed");
  });
  std::vector<std::string> reported;
  Application->OnException = [&](std::exception_ptr e) { reported.push_back(exception_text(e)); };
  f.form->Show();

  // Each handler's exception is caught by the round that ran it.
  test::Script([&] { test::Click(f.form, 50, 50); });
  serve_until([&] { return reported.size() == 1; });
  test::Elapse(10);
  serve_until([&] { return reported.size() == 2; });
  EXPECT_EQ(reported, (std::vector<std::string>{"the handler failed", "the tick failed"}));

  // The window still works: the other control takes its click, the timer
  // that threw ticks again, the control that threw takes the next press.
  test::Script([&] { test::Click(f.form, 150, 50); });
  serve_until([&] { return rightClicks == 1; });
  test::Elapse(10);
  serve_until([&] { return ticks == 2; });
  left->OnClick = nullptr;
  test::Script([&] { test::Click(f.form, 50, 50); });
  serve_until([&] { return std::count(f.log.begin(), f.log.end(), "click left") == 2; });
  EXPECT_EQ(reported.size(), 2u);
}

// A release whose handler raises ends the gesture all the same: the
// capture taken at the press is released, so the next click reaches the
// control under the pointer.
TEST(UiHandlerError, AThrowingReleaseLetsTheCaptureGo) {
  uitest::FormFixture f;
  auto* left = new uitest::Probe(f.form, f.form, "left", &f.log, Bounds(0, 0, 100, 100));
  auto* right = new uitest::Probe(f.form, f.form, "right", &f.log, Bounds(100, 0, 100, 100));
  left->OnMouseDown = [left](TObject*, TMouseButton, TShiftState, int, int) { SetCapture(left); };
  left->OnMouseUp = [](TObject*, TMouseButton, TShiftState, int, int) { throw std::runtime_error("release failed"); };
  int rightClicks = 0;
  right->OnClick = [&](TObject*) { ++rightClicks; };
  std::vector<std::string> reported;
  Application->OnException = [&](std::exception_ptr e) { reported.push_back(exception_text(e)); };
  f.form->Show();
  test::Script([&] { test::Click(f.form, 50, 50); });
  serve_until([&] { return reported.size() == 1; });
  EXPECT_EQ(GetCapture(), nullptr);
  test::Script([&] { test::Click(f.form, 150, 50); });
  serve_until([&] { return rightClicks == 1; });
}

TEST(UiHandlerError, AThrowingReporterIsLoggedAndTheBackendFaultPasses) {
  uitest::FormFixture f;
  auto* probe = new uitest::Probe(f.form, f.form, "p", &f.log, Bounds(0, 0, 200, 100));
  probe->OnClick = [](TObject*) { throw 42; };
  int calls = 0;
  Application->OnException = [&](std::exception_ptr) {
    ++calls;
    throw std::runtime_error("the reporter failed too");
  };
  f.form->Show();
  test::Script([&] { test::Click(f.form, 10, 10); });
  serve_until([&] { return calls == 1; });
  // Nothing scripted, due or queued: the headless backend's own fault is
  // not a handler's and leaves the loop.
  EXPECT_THROW(Application->HandleMessage(), EBackendFault);
}

// A paint that raises is reported as a handler's error is (stderr, then
// OnException), by the loop's round after the paint; a control that keeps
// failing is reported once, until it paints without failing again.
TEST(UiHandlerError, AFailingPaintIsReportedOncePerRunOfFailures) {
  uitest::FormFixture f;
  auto* a = new uitest::Probe(f.form, f.form, "A", nullptr, Bounds(0, 0, 50, 50));
  auto* b = new uitest::Probe(f.form, f.form, "B", nullptr, Bounds(100, 0, 50, 50));
  b->Fill = clRed;
  std::vector<std::string> reported;
  Application->OnException = [&](std::exception_ptr e) { reported.push_back(exception_text(e)); };
  a->DuringPaint = [] { throw std::runtime_error("broken paint"); };
  testing::internal::CaptureStderr();
  f.form->Show();
  Application->ProcessMessages();
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(reported, std::vector<std::string>{"broken paint"});
  EXPECT_NE(log.find("error in a paint: broken paint"), std::string::npos) << log;
  EXPECT_EQ(test::Snapshot(f.form).Pixel(120, 20), clRed);  // the rest still painted

  // Painted again, by the loop and at once: the same run, not reported again.
  a->Invalidate();
  Application->ProcessMessages();
  a->Repaint();
  Application->ProcessMessages();
  EXPECT_EQ(reported.size(), 1u);

  // A paint that works ends the run; the next failure is a new one.
  a->DuringPaint = nullptr;
  a->Repaint();
  a->DuringPaint = [] { throw std::runtime_error("broken again"); };
  a->Repaint();
  Application->ProcessMessages();
  EXPECT_EQ(reported, (std::vector<std::string>{"broken paint", "broken again"}));
}

}  // namespace
