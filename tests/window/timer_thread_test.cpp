// Timers under the virtual clock, worker threads, Synchronize and WaitFor.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "ui_probe.h"

using namespace ui;

TEST(UiTimer, DueOrderRearmingAndDisablingInsideOnTimer) {
  test::Session s;
  std::vector<std::string> log;
  auto make = [&](const char* name, unsigned ms) {
    auto* t = new TTimer;
    t->SetInterval(ms);
    t->SetOnTimer([&log, name](TObject*) { log.push_back(std::string(name) + "@" + std::to_string(TickCount())); });
    return std::unique_ptr<TTimer>(t);
  };
  auto t1 = make("t1", 30);
  auto t2 = make("t2", 20);
  auto t3 = make("t3", 20);
  test::Advance(60);
  EXPECT_EQ(log, (std::vector<std::string>{"t2@20", "t3@20", "t1@30", "t2@40", "t3@40", "t1@60", "t2@60", "t3@60"}));

  // A timer that stops itself in its handler; a new interval counts from now.
  log.clear();
  int ticks = 0;
  t1->SetOnTimer([&](TObject* sender) {
    if (++ticks == 2) static_cast<TTimer*>(sender)->SetEnabled(false);
  });
  t2->SetEnabled(false);
  t3->SetInterval(50);
  test::Advance(1000);
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](auto& s) { return s.rfind("t3", 0) == 0; }), 20);
  EXPECT_EQ(log.front(), "t3@110");
  // A timer without handler or interval never runs; a freed one stops.
  auto t4 = std::make_unique<TTimer>();
  t4->SetInterval(0);
  t3.reset();
  log.clear();
  test::Advance(500);
  EXPECT_TRUE(log.empty());
}

TEST(UiTimer, ASleepingTimerWaitsForPointerActivationOrLayout) {
  uitest::FormFixture f;
  f.form->Show();
  auto* other = Create<TForm>(Application);
  auto* c = new uitest::Probe(f.form, f.form, "c", &f.log, Bounds(10, 10, 50, 30));
  TTimer timer;
  timer.SetInterval(10);
  int ticks = 0;
  bool sleep = true;
  timer.SetOnTimer([&](TObject* sender) {
    ++ticks;
    if (sleep) static_cast<TTimer*>(sender)->Sleep();
  });
  test::Advance(100);
  EXPECT_EQ(ticks, 1);  // asleep after its first tick
  EXPECT_TRUE(timer.Sleeping());
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(test::Headless().RunningTimers(), 0u);

  // Whatever a hover test reads wakes it: the next tick comes one interval
  // later, and it sleeps again.
  struct Case {
    const char* name;
    std::function<void()> act;
  } cases[] = {
      {"move", [&] { test::MouseMove(f.form, 20, 20); }},
      {"press", [&] { test::MouseDown(f.form, 20, 20); }},
      {"release", [&] { test::MouseUp(f.form, 20, 20); }},
      {"leave", [&] { test::MouseLeave(f.form); }},
      {"other window in front", [&] { other->Show(); }},
      {"form in front", [&] { test::SetForeground(f.form); }},
      {"moved", [&] { f.form->InputMoved(30, 40); }},
      {"resized", [&] { test::ResizeClient(f.form, 220, 110); }},
      {"control hidden", [&] { c->SetVisible(false); }},
      {"control shown", [&] { c->SetVisible(true); }},
      {"control moved", [&] { c->SetBounds(12, 10, 50, 30); }},
      {"control taken out", [&] { c->SetParent(nullptr); }},
      {"control put back", [&] { c->SetParent(f.form); }},
      {"busy", [] { WakeSleepingTimers(); }},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const int before = ticks;
    tc.act();
    test::Advance(9);
    EXPECT_EQ(ticks, before);
    test::Advance(1);
    EXPECT_EQ(ticks, before + 1);
    test::Advance(100);
    EXPECT_EQ(ticks, before + 1);
  }
  // Keys, paints and time alone do not wake it.
  test::Key(f.form, 'A');
  f.form->Invalidate();
  test::Snapshot(f.form);
  const int before = ticks;
  test::Advance(1000);
  EXPECT_EQ(ticks, before);

  // Waking it alone; disabling ends the sleep, and enabled it ticks again.
  timer.Wake();
  test::Advance(10);
  EXPECT_EQ(ticks, before + 1);
  sleep = false;
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Sleeping());
  timer.Sleep();  // a disabled timer does not sleep
  EXPECT_FALSE(timer.Sleeping());
  timer.SetEnabled(true);
  test::Advance(50);
  EXPECT_EQ(ticks, before + 6);

  // A sleeping timer freed leaves no trace for the next wake-up.
  auto* gone = new TTimer;
  gone->SetInterval(10);
  gone->SetOnTimer([](TObject* sender) { static_cast<TTimer*>(sender)->Sleep(); });
  test::Advance(10);
  EXPECT_TRUE(gone->Sleeping());
  TObject::Free(gone);
  WakeSleepingTimers();
  test::Advance(10);
  TObject::Free(other);
}

TEST(UiTimer, ModalFormFromATimerDoesNotReenterTheTimer) {
  uitest::FormFixture f;
  f.form->Show();
  auto* dlg = Create<TForm>(Application);
  TTimer timer(f.form);
  int ticks = 0;
  timer.SetInterval(10);
  timer.SetOnTimer([&](TObject*) {
    ++ticks;
    if (ticks > 1) return;
    test::Script([&] { test::Advance(100); });  // time passes inside the modal loop
    test::Script([&] { dlg->ModalResult = mrOk; });
    EXPECT_EQ(dlg->ShowModal(), mrOk);
  });
  test::Advance(10);
  EXPECT_EQ(ticks, 1);
  test::Advance(10);
  EXPECT_EQ(ticks, 2);
}

namespace {

class Worker : public TThread {
 public:
  explicit Worker(std::function<void(Worker&)> body, bool suspended = true)
      : TThread(suspended), mBody(std::move(body)) {}
  ~Worker() override {
    if (Destroyed) *Destroyed = true;
  }
  using TThread::Synchronize;
  std::atomic<bool>* Destroyed = nullptr;

 protected:
  void Execute() override { mBody(*this); }

 private:
  std::function<void(Worker&)> mBody;
};

}  // namespace

TEST(UiThread, WaitForServesSynchronizeWithoutDeadlock) {
  test::Session s;
  auto gui = std::this_thread::get_id();
  int ran = 0;
  bool on_gui = true;
  auto* w = Create<Worker>(
      [&](Worker& self) {
        for (int i = 0; i < 3; ++i)
          self.Synchronize([&] {
            ++ran;
            on_gui = on_gui && std::this_thread::get_id() == gui;
          });
        self.ReturnValue = 42;
      },
      false);
  EXPECT_EQ(w->WaitFor(), 42);
  EXPECT_EQ(ran, 3);
  EXPECT_TRUE(on_gui);
  TObject::Free(w);
}

TEST(UiThread, DestructorStopsAndWaitsWhileServingSynchronize) {
  test::Session s;
  std::atomic<int> rounds{0};
  auto* w = Create<Worker>(
      [&](Worker& self) {
        while (!self.Terminated()) {
          self.Synchronize([&] { ++rounds; });
        }
        // One more call after the stop request: the waiting destructor serves it.
        self.Synchronize([&] { ++rounds; });
      },
      false);
  ASSERT_TRUE(test::PumpUntil([&] { return rounds > 2; }, 10000));
  TObject::Free(w);
  EXPECT_GT(rounds.load(), 2);
}

TEST(UiThread, EndHandlerRunsOnTheGuiThreadAndFreesTheThread) {
  test::Session s;
  auto* form = Create<TForm>(Application);
  auto gui = std::this_thread::get_id();
  std::atomic<bool> destroyed{false};
  bool handled_on_gui = false;
  auto* w = Create<Worker>([](Worker&) {});
  w->Destroyed = &destroyed;
  w->FreeOnTerminate = true;
  w->SetOnTerminate(form, [&](TObject*) { handled_on_gui = std::this_thread::get_id() == gui; });
  w->Start();
  ASSERT_TRUE(test::PumpUntil([&] { return destroyed.load(); }, 10000));
  EXPECT_TRUE(handled_on_gui);
}

TEST(UiThread, DestroyedReceiverNeverGetsTheEndHandler) {
  test::Session s;
  auto* form = Create<TForm>(Application);
  std::atomic<bool> release{false};
  bool called = false;
  auto* w = Create<Worker>([&](Worker&) {
    while (!release) std::this_thread::yield();
  });
  w->SetOnTerminate(form, [&](TObject*) { called = true; });
  w->Start();
  TObject::Free(form);
  release = true;
  ASSERT_TRUE(test::PumpUntil([&] { return w->Finished(); }, 10000));
  Application->ProcessMessages();
  EXPECT_FALSE(called);
  TObject::Free(w);
}

TEST(UiThread, DeletingARunningThreadDropsItsEndHandler) {
  test::Session s;
  bool called = false;
  auto* w = Create<Worker>([](Worker& self) {
    while (!self.Terminated()) std::this_thread::yield();
  });
  w->SetOnTerminate(nullptr, [&](TObject*) { called = true; });
  w->Start();
  TObject::Free(w);  // stops it and waits; its end handler is queued after that
  Application->ProcessMessages();
  EXPECT_FALSE(called);
}

TEST(UiThread, ModalLoopWaitsForAWorkerAndExceptionsComeBack) {
  uitest::FormFixture f;
  f.form->Show();
  auto* dlg = Create<TForm>(Application);
  std::string error;
  auto* w = Create<Worker>([&](Worker& self) {
    try {
      self.Synchronize([] { throw std::runtime_error("from the GUI side"); });
    } catch (const std::exception& e) {
      error = e.what();
    }
  });
  w->FreeOnTerminate = true;
  w->SetOnTerminate(dlg, [&](TObject*) { dlg->ModalResult = mrOk; });
  w->Start();
  EXPECT_EQ(dlg->ShowModal(), mrOk);  // the pump waits for the worker instead of throwing
  EXPECT_EQ(error, "from the GUI side");
}

namespace {

// A worker held between queueing its end and leaving the running count.
class HeldAtTheEnd : public TThread {
 public:
  HeldAtTheEnd() : TThread(true) {}
  std::atomic<bool> holding{false};

 protected:
  void Execute() override {}
  void Ending() override {
    holding = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
};

}  // namespace

// A loop that looks while a worker ends finds its end handler queued: the
// modal loop waiting for it runs the handler instead of giving up.
TEST(UiThread, AWorkersEndIsNeverMissedByTheLoop) {
  uitest::FormFixture f;
  f.form->Show();
  auto* dlg = Create<TForm>(Application);
  auto* w = new HeldAtTheEnd;
  w->FreeOnTerminate = true;
  w->SetOnTerminate(dlg, [&](TObject*) { dlg->ModalResult = mrOk; });
  w->Start();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!w->holding && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_TRUE(w->holding);
  EXPECT_EQ(dlg->ShowModal(), mrOk);
}

TEST(UiThread, QueueCallFromWorkersKeepsOrderAndDropsDeadTargets) {
  test::Session s;
  auto* form = Create<TForm>(Application);
  std::vector<int> seen;
  std::thread t([&] {
    for (int i = 0; i < 50; ++i) Application->QueueCall([&seen, i] { seen.push_back(i); });
    Application->QueueCall([&seen] { seen.push_back(-1); }, form->AliveToken());
  });
  t.join();
  TObject::Free(form);
  Application->ProcessMessages();
  ASSERT_EQ(seen.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[size_t(i)], i);
  TMutex m;
  m.Acquire();
  EXPECT_TRUE(m.TryAcquire());  // the owner may take it again
  m.Release();
  m.Release();
}
