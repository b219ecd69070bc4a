// Scenes: direct rendering on demand, the threaded worker with its order
// queue, teardown while the worker sleeps, renders or waits for a repaint,
// and the binding of window bitmaps as render targets.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <vector>

#include "controls_support.h"
#include "kvn_control.h"
#include "kvn_scene.h"
#include "qlm_base_array.h"
#include "qlm_renderer.h"

using namespace ui;
using Size = std::pair<int32_t, int32_t>;

namespace {

constexpr uint32_t kFirst = 0xFF2040C0;
constexpr uint32_t kSecond = 0xFF30A050;

// Records every frame; clears to kFirst and, unless told to raise halfway,
// then to kSecond.
class RecordingScene : public TRenderingSceneDirect {
 public:
  std::vector<Size> renders;
  bool raiseHalfway = false;
  void RenderFrame(int32_t w, int32_t h) override {
    renders.push_back({w, h});
    Renderer()->ClearARGB(kFirst);
    if (raiseHalfway) throw std::runtime_error("halfway");
    Renderer()->ClearARGB(kSecond);
  }
};

// A threaded scene whose frames can be held at their start, so that a test
// decides what happens while the worker renders.
class GatedScene : public TRenderingSceneThread {
 public:
  void RenderFrame(int32_t w, int32_t h) override {
    std::unique_lock lock(mGate);
    mRenders.push_back({w, h});
    mChanged.notify_all();
    mChanged.wait_for(lock, std::chrono::seconds(10), [&] { return !mHold; });
    Renderer()->ClearARGB(mColor);
  }
  void Hold(bool hold) {
    std::lock_guard lock(mGate);
    mHold = hold;
    mChanged.notify_all();
  }
  void SetColor(uint32_t c) {
    std::lock_guard lock(mGate);
    mColor = c;
  }
  // Waits until n frames have started (bounded).
  bool WaitStarted(size_t n) {
    std::unique_lock lock(mGate);
    return mChanged.wait_for(lock, std::chrono::seconds(5), [&] { return mRenders.size() >= n; });
  }
  std::vector<Size> Renders() {
    std::lock_guard lock(mGate);
    return mRenders;
  }

 private:
  std::mutex mGate;
  std::condition_variable mChanged;
  std::vector<Size> mRenders;
  bool mHold = false;
  uint32_t mColor = kFirst;
};

class SceneTest : public ctest::FormTest {
 protected:
  TKVNCustomControl* AddControl(int w, int h) {
    auto* c = new TKVNCustomControl(form);
    c->SetBounds(10, 20, w, h);
    c->SetParent(form);
    return c;
  }
};

}  // namespace

TEST_F(SceneTest, DirectSceneRendersOnlyWhenStaleOrResized) {
  struct Case {
    const char* name;
    std::function<void(RecordingScene&, TKVNCustomControl&)> act;
    std::vector<Size> renders;  // after the act
    bool bitmap;                // a bitmap is held afterwards
  };
  const std::vector<Case> cases = {
      {"asked twice without a change", [](auto& s, auto&) { s.AcquireBitmap(), s.AcquireBitmap(); }, {{60, 40}}, true},
      {"Invalidate(false) at the cached size", [](auto& s, auto&) { s.Invalidate(false, 60, 40); }, {{60, 40}}, true},
      {"Invalidate(false) at another size",
       [](auto& s, auto&) { s.Invalidate(false, 61, 40); },
       {{60, 40}, {60, 40}},
       true},
      // clang-format off
      {"Invalidate(true) at the cached size", [](auto& s, auto&) { s.Invalidate(true, 60, 40); },
       {{60, 40}, {60, 40}}, true},
      {"a resize renders at the new size", [](auto&, auto& c) { c.SetBounds(10, 20, 30, 50); },
       {{60, 40}, {30, 50}}, true},
      // clang-format on
      {"width 0 gives no bitmap",
       [](auto& s, auto& c) {
         c.SetWidth(0);
         EXPECT_EQ(s.AcquireBitmap(), nullptr);
       },
       {{60, 40}},
       false},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    RecordingScene scene;
    auto* control = AddControl(60, 40);
    control->SetScene(&scene);
    // SetScene repainted the control at once: the picture is on the form.
    ASSERT_EQ(scene.renders, (std::vector<Size>{{60, 40}}));
    EXPECT_EQ(ctest::argb_at(form->BackBuffer(), 15, 25) & 0xFFFFFF, kSecond & 0xFFFFFF);
    tc.act(scene, *control);
    test::Snapshot(form);
    scene.AcquireBitmap();
    EXPECT_EQ(scene.renders, tc.renders);
    EXPECT_EQ(scene.Bitmap() != nullptr, tc.bitmap);
    EXPECT_EQ(scene.Errors().Log(), nullptr);
    TObject::Free(control);
    EXPECT_EQ(scene.OwnerControl(), nullptr);
  }
}

TEST_F(SceneTest, RaisingFrameKeepsItsPartialPictureAndLogsInTheScene) {
  RecordingScene scene;
  scene.raiseHalfway = true;
  auto* control = AddControl(20, 10);
  control->SetScene(&scene);
  ASSERT_NE(scene.Bitmap(), nullptr);
  EXPECT_EQ(ctest::argb_at(*scene.Bitmap(), 5, 5), kFirst);
  EXPECT_EQ(ctest::argb_at(test::Snapshot(form), 15, 25) & 0xFFFFFF, kFirst & 0xFFFFFF);
  EXPECT_EQ(scene.CachedWidth(), 20);  // used as if complete: not rendered again
  scene.AcquireBitmap();
  EXPECT_EQ(scene.renders.size(), 1u);
  ASSERT_NE(scene.Errors().Log(), nullptr);
  EXPECT_EQ(scene.Errors().Log()->Count(), 1u);
}

// Beyond the scene's own log, a failing render reaches the program's log
// and its user through the window layer, once per run of failures: a scene
// that fails at every frame is reported once, until a frame succeeds.
TEST_F(SceneTest, RaisingFramesReachTheProgramOncePerRunOfFailures) {
  std::vector<std::string> reported;
  Application->OnException = [&](std::exception_ptr e) { reported.push_back(exception_text(e)); };
  RecordingScene scene;
  scene.raiseHalfway = true;
  auto* control = AddControl(20, 10);
  testing::internal::CaptureStderr();
  control->SetScene(&scene);
  Application->ProcessMessages();
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(reported, std::vector<std::string>{"halfway"});
  EXPECT_NE(log.find("error in a scene's drawing: halfway"), std::string::npos) << log;
  const auto render = [&] {
    scene.Invalidate(true, 0, 0);
    test::Snapshot(form);
    Application->ProcessMessages();
  };
  render();
  EXPECT_EQ(scene.renders.size(), 2u);
  EXPECT_EQ(reported.size(), 1u);
  scene.raiseHalfway = false;
  render();
  scene.raiseHalfway = true;
  render();
  EXPECT_EQ(scene.renders.size(), 4u);
  EXPECT_EQ(reported.size(), 2u);
  EXPECT_EQ(scene.Errors().Log()->Count(), 3u);
  control->SetScene(nullptr);
}

TEST_F(SceneTest, SceneAndControlForgetEachOtherWhicheverGoesFirst) {
  auto* control = AddControl(20, 10);
  auto* scene = new RecordingScene;
  control->SetScene(scene);
  TObject::Free(scene);
  EXPECT_EQ(control->Scene(), nullptr);
  control->Invalidate();
  test::Snapshot(form);  // paints the sceneless control: no freed scene read
  EXPECT_EQ(test::Snapshot(form).Pixel(10, 20), clRed);
  EXPECT_EQ(test::Snapshot(form).Pixel(15, 25), clWhite);
}

TEST_F(SceneTest, SceneTimerIsTheScenesAloneAndTicksOnTheGuiThread) {
  struct Ticking : RecordingScene {
    int ticks = 0;
    void TimerTick() override { ++ticks; }
  };
  auto* control = AddControl(20, 10);
  auto* scene = new Ticking;
  control->SetScene(scene);
  scene->StartTimer(10);  // started after the scene has an owner control
  test::Advance(35);
  EXPECT_EQ(scene->ticks, 3);
  // The control goes first; the scene's timer is not freed with it.
  TObject::Free(control);
  test::Advance(10);
  EXPECT_EQ(scene->ticks, 4);
  TObject::Free(scene);
  test::Advance(50);
}

TEST(SceneHelpers, ColourConversionsAndFill) {
  test::Session session;
  EXPECT_EQ(color_to_tcolor(0x80112233u), RGB(0x11, 0x22, 0x33));
  EXPECT_EQ(color_from_tcolor(RGB(0x11, 0x22, 0x33)), 0xFF112233u);
  EXPECT_EQ(color_from_tcolor(clBtnFace), 0xFFF0F0F0u);
  struct Case {
    TPixelFormat format;
    int w, h;
    std::vector<uint8_t> first;  // bytes of pixel (0, 0) afterwards
  };
  for (const Case& tc : std::vector<Case>{{pf32bit, 3, 2, {0x33, 0x22, 0x11, 0x80}},
                                          {pf24bit, 3, 2, {0x33, 0x22, 0x11}},
                                          {pf8bit, 3, 2, {}},
                                          {pf32bit, 0, 2, {}}}) {
    TBitmap b;
    b.SetPixelFormat(tc.format);
    b.SetSize(tc.w, tc.h);
    bitmap_fill_color(&b, 0x80112233u);
    if (tc.first.empty()) continue;  // left alone, and nothing raised
    for (int y = 0; y < tc.h; ++y)
      for (int x = 0; x < tc.w; ++x)
        EXPECT_EQ(
            std::vector<uint8_t>(b.ScanLine(y) + x * b.BytesPerPixel(), b.ScanLine(y) + (x + 1) * b.BytesPerPixel()),
            tc.first);
  }
  bitmap_fill_color(nullptr, 0);
}

// Pictures kept per slot over random sizes, formats and changes (single
// bytes up to whole pictures, at the edges too) restore to exactly what was
// kept; another key restores nothing, and the budget is never exceeded.
TEST(SceneHelpers, SceneFramesRestoreExactlyWhatWasKept) {
  test::Session session;
  std::mt19937 rng(11);
  const auto pixels_of = [](const TBitmap& b) {
    std::vector<uint8_t> v;
    for (int y = 0; y < b.Height(); ++y)
      v.insert(v.end(), b.ScanLine(y), b.ScanLine(y) + size_t(b.Width()) * b.BytesPerPixel());
    return v;
  };
  const auto make = [](TPixelFormat format, int w, int h, const std::vector<uint8_t>& bytes) {
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(format);
    b->SetSize(w, h);
    const size_t n = size_t(w) * b->BytesPerPixel();
    for (int y = 0; y < h; ++y) std::memcpy(b->ScanLine(y), bytes.data() + y * n, n);
    return b;
  };
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const TPixelFormat format = round % 2 != 0 ? pf24bit : pf32bit;
    const int w = 1 + int(rng() % 40), h = 1 + int(rng() % 30), bpp = format == pf32bit ? 4 : 3;
    const size_t slots = 1 + rng() % 6, size = size_t(w) * h * bpp;
    std::vector<uint8_t> base(size);
    for (uint8_t& v : base) v = uint8_t(rng());
    cSceneFrames frames(slots, size_t(-1));
    cSceneKey key;
    key << round;
    std::vector<std::vector<uint8_t>> pictures;
    for (size_t s = 0; s < slots; ++s) {
      std::vector<uint8_t> p = base;
      // Bytes changed at random in a random rectangle (none for some).
      const int x0 = int(rng() % w), y0 = int(rng() % h);
      const int x1 = x0 + int(rng() % (w - x0)), y1 = y0 + int(rng() % (h - y0));
      const int changes = s == 0 ? 0 : 1 + int(rng() % 20);
      for (int i = 0; i < changes; ++i) {
        const int x = x0 + int(rng() % (x1 - x0 + 1)), y = y0 + int(rng() % (y1 - y0 + 1));
        p[(size_t(y) * w + x) * bpp + rng() % bpp] ^= uint8_t(1 + rng() % 255);
      }
      frames.Keep(key, s, make(format, w, h, p).get());
      pictures.push_back(std::move(p));
    }
    EXPECT_EQ(frames.KeptCount(), slots);
    std::vector<uint8_t> noise(size);
    for (uint8_t& v : noise) v = uint8_t(rng());
    for (size_t s = slots; s-- > 0;) {
      auto target = make(format, w, h, noise);
      ASSERT_TRUE(frames.Restore(key, s, target.get()));
      EXPECT_EQ(pixels_of(*target), pictures[s]) << "slot " << s;
    }
    cSceneKey other;
    other << round + 1;
    auto target = make(format, w, h, noise);
    EXPECT_FALSE(frames.Restore(other, 0, target.get()));
    EXPECT_FALSE(frames.Restore(key, slots, target.get()));
    EXPECT_EQ(pixels_of(*target), noise);
  }

  // A budget of one picture and a row: the first (whole) and a change of
  // one pixel are kept, a change across two whole rows is not.
  const int w = 8, h = 4;
  std::vector<uint8_t> bytes(size_t(w) * h * 4, 0x40);
  cSceneFrames frames(3, bytes.size() + size_t(w) * 4);
  cSceneKey key;
  frames.Keep(key, 0, make(pf32bit, w, h, bytes).get());
  bytes[0] = bytes[w * 4 * 2 - 1] = 0x41;  // rows 0 and 1
  frames.Keep(key, 1, make(pf32bit, w, h, bytes).get());
  bytes[w * 4 * 2 - 1] = 0x40;  // row 0 only
  frames.Keep(key, 2, make(pf32bit, w, h, bytes).get());
  EXPECT_EQ(frames.KeptCount(), 2u);
  EXPECT_EQ(frames.KeptBytes(), bytes.size() + 4);
  auto target = make(pf32bit, w, h, std::vector<uint8_t>(bytes.size()));
  EXPECT_FALSE(frames.Restore(key, 1, target.get()));
  ASSERT_TRUE(frames.Restore(key, 2, target.get()));
  EXPECT_EQ(pixels_of(*target), bytes);
}

TEST(SurfaceTBitmap, BindsRowsAndRefusesWhatHasNone) {
  qlm_renderer_start();
  struct Case {
    TPixelFormat format;
    int w, h;
    bool ok;
    const char* text;
    uint8_t code;
  };
  for (const Case& tc : std::vector<Case>{{pf32bit, 5, 4, true, "", px32BGRA},
                                          {pf24bit, 5, 4, true, "", px24BGR},
                                          {pf8bit, 5, 4, false, "{bitmap.PixelFormat}", 0},
                                          {pf32bit, 0, 4, false, "{bitmap.Empty}", 0}}) {
    SCOPED_TRACE(tc.text);
    TBitmap b;
    b.SetPixelFormat(tc.format);
    b.SetSize(tc.w, tc.h);
    cSurfaceTBitmap s;
    EXPECT_EQ(s.AttachBitmap(&b, true), tc.ok);
    EXPECT_EQ(s.IsAssigned(), tc.ok);
    if (!tc.ok) {
      EXPECT_NE(s.LastErrorText().find(tc.text), std::string::npos) << s.LastErrorText();
      EXPECT_EQ(s.LastErrorCode(), errPreCondition);
      continue;
    }
    EXPECT_EQ(s.FormatCode(), tc.code);
    EXPECT_EQ(s.Data(), b.ScanLine(0));
    EXPECT_EQ(s.Stride(), int32_t(b.RowStep()));
    EXPECT_TRUE(s.IsTopDown());
    // Bottom-up: the step is negated.
    ASSERT_TRUE(s.AttachBitmap(&b, false));
    EXPECT_FALSE(s.IsTopDown());
    EXPECT_EQ(s.Stride(), -int32_t(b.RowStep()));
  }
  cSurfaceTBitmap s;
  EXPECT_FALSE(s.AttachBitmap(nullptr, true));
  EXPECT_NE(s.LastErrorText().find("{bitmap=NIL}"), std::string::npos);

  // A failure after a good binding leaves the surface unassigned.
  TBitmap good, bad;
  good.SetPixelFormat(pf32bit);
  good.SetSize(4, 4);
  bad.SetPixelFormat(pf8bit);
  bad.SetSize(4, 4);
  ASSERT_TRUE(s.AttachBitmap(&good, true));
  EXPECT_FALSE(s.AttachBitmap(&bad, true));
  EXPECT_FALSE(s.IsAssigned());
}

// ---------------------------------------------------------------------------
// Threaded scenes

class ThreadSceneTest : public SceneTest {
 protected:
  void SetUp() override { busyBefore = gRenderingBusy.load(); }
  void TearDown() override { EXPECT_EQ(gRenderingBusy.load(), busyBefore); }
  // Serves the GUI loop until the scene is idle with n renders finished.
  // Settled: the renders finished, and the worker's repaint request served
  // (busy clears before the worker asks the GUI thread to repaint, and a test
  // that then blocks the GUI thread would hold the worker there).
  bool Settle(GatedScene& s, int64_t finished) {
    return test::PumpUntil(
        [&] { return !s.IsBusy() && s.FinishedRenders() >= finished && gRenderingBusy.load() == busyBefore; }, 5000);
  }
  // A gated scene shown by a 50 x 30 control, its first render finished.
  GatedScene* ShownScene(TKVNCustomControl*& control) {
    auto* scene = new GatedScene;
    control = AddControl(50, 30);
    control->SetScene(scene);
    EXPECT_TRUE(Settle(*scene, 1));
    return scene;
  }
  int32_t busyBefore = 0;
};

TEST_F(ThreadSceneTest, OrdersQueuedDuringARenderFoldIntoOneAtTheLastSize) {
  auto* scene = new GatedScene;
  auto* control = AddControl(50, 30);
  EXPECT_EQ(scene->AcquireBitmap(), nullptr);
  scene->Hold(true);
  control->SetScene(scene);  // queues 50 x 30
  ASSERT_TRUE(scene->WaitStarted(1));
  // Before the first finished render there is no picture.
  EXPECT_EQ(scene->AcquireBitmap(), nullptr);
  EXPECT_TRUE(scene->IsBusy());
  EXPECT_EQ(gRenderingBusy.load(), busyBefore + 1);
  scene->Invalidate(true, 20, 10);
  scene->Invalidate(true, 21, 11);
  scene->Invalidate(true, 22, 12);
  EXPECT_TRUE(scene->HasPendingOrders());
  scene->Hold(false);
  ASSERT_TRUE(Settle(*scene, 2));
  EXPECT_EQ(scene->Renders(), (std::vector<Size>{{50, 30}, {22, 12}}));
  ASSERT_NE(scene->AcquireBitmap(), nullptr);
  EXPECT_EQ(scene->AcquireBitmap()->Width(), 22);
  // The worker had the owner control repainted with the new picture.
  EXPECT_EQ(ctest::argb_at(form->BackBuffer(), 15, 25) & 0xFFFFFF, kFirst & 0xFFFFFF);
  // Invalidate(false) at the last queued size queues nothing.
  scene->Invalidate(false, 22, 12);
  EXPECT_FALSE(scene->HasPendingOrders());
  TObject::Free(scene);
  TObject::Free(control);
}

TEST_F(ThreadSceneTest, FrontPictureStaysDuringARenderUnlessWaitCompleteIsSet) {
  TKVNCustomControl* control = nullptr;
  auto* scene = ShownScene(control);
  TBitmap* first = scene->AcquireBitmap();
  ASSERT_NE(first, nullptr);
  EXPECT_GE(scene->LastRenderTime(), 0.0);
  scene->Hold(true);
  scene->SetColor(kSecond);
  scene->Invalidate(true, 0, 0);
  ASSERT_TRUE(scene->WaitStarted(2));
  EXPECT_EQ(scene->AcquireBitmap(), first);
  EXPECT_EQ(ctest::argb_at(*first, 1, 1), kFirst);
  scene->SetWaitComplete(true);
  EXPECT_EQ(scene->AcquireBitmap(), nullptr);
  // Filling the background touches the front picture only.
  scene->FillBackground(0x00000000);
  EXPECT_EQ(ctest::argb_at(*first, 1, 1), 0u);
  scene->Hold(false);
  ASSERT_TRUE(Settle(*scene, 2));
  ASSERT_NE(scene->AcquireBitmap(), nullptr);
  EXPECT_EQ(ctest::argb_at(*scene->AcquireBitmap(), 1, 1), kSecond);
  TObject::Free(scene);
  TObject::Free(control);
}

TEST_F(ThreadSceneTest, RefusedBitmapSizeFailsThePassAndKeepsThePicture) {
  TKVNCustomControl* control = nullptr;
  auto* scene = ShownScene(control);
  scene->Invalidate(true, TBitmap::kMaxSide + 1, 10);
  ASSERT_TRUE(test::PumpUntil([&] { return !scene->IsBusy(); }, 5000));
  EXPECT_EQ(scene->FinishedRenders(), 1);
  ASSERT_NE(scene->AcquireBitmap(), nullptr);
  EXPECT_EQ(scene->AcquireBitmap()->Width(), 50);
  EXPECT_EQ(scene->Errors().LastErrorCode(), 260);  // std::invalid_argument
  // The next order renders again.
  scene->Invalidate(true, 40, 20);
  ASSERT_TRUE(Settle(*scene, 2));
  TObject::Free(scene);
  TObject::Free(control);
}

TEST_F(ThreadSceneTest, DestroyedWhileAsleepRenderingOrWaitingForTheRepaint) {
  enum class When { neverStarted, asleep, rendering, waitingForRepaint };
  for (When when : {When::neverStarted, When::asleep, When::rendering, When::waitingForRepaint}) {
    SCOPED_TRACE(int(when));
    auto* scene = new GatedScene;
    auto* control = AddControl(50, 30);
    if (when != When::neverStarted) {
      scene->Hold(when == When::rendering);
      control->SetScene(scene);
      switch (when) {
        case When::asleep: ASSERT_TRUE(Settle(*scene, 1)); break;
        case When::rendering: ASSERT_TRUE(scene->WaitStarted(1)); break;
        case When::waitingForRepaint:
          // Swapped, and asking the GUI thread (not served here) to repaint.
          ASSERT_TRUE(ctest::SpinUntil([&] { return scene->FinishedRenders() == 1; }));
          break;
        default: break;
      }
    }
    // Free waits for the worker while serving its repaint; a held frame is
    // let go from another thread, as a slow render would end by itself.
    std::thread release([&] {
      if (when == When::rendering) {
        ctest::SpinUntil([&] { return gRenderingBusy.load() == busyBefore + 1; });
        scene->Hold(false);
      }
    });
    const auto start = std::chrono::steady_clock::now();
    TObject::Free(scene);
    release.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(gRenderingBusy.load(), busyBefore);
    EXPECT_EQ(control->Scene(), nullptr);
    TObject::Free(control);
  }
}

TEST_F(ThreadSceneTest, StressInvalidatesAndFillsWhileTheWorkerRenders) {
  auto* scene = new GatedScene;
  auto* control = AddControl(50, 30);
  control->SetScene(scene);
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> side(1, 300);
  Size last{50, 30};
  for (int i = 0; i < 1000; ++i) {
    last = {side(random), side(random)};
    scene->Invalidate(true, last.first, last.second);
    if (i % 7 == 0) scene->FillBackground(0xFF000000u | uint32_t(random()));
    if (i % 13 == 0) Application->ProcessMessages();  // serves the worker's repaints
    scene->AcquireBitmap();
  }
  ASSERT_TRUE(test::PumpUntil([&] { return !scene->IsBusy(); }, 10000));
  EXPECT_EQ(scene->Renders().back(), last);
  ASSERT_NE(scene->AcquireBitmap(), nullptr);
  EXPECT_EQ(scene->AcquireBitmap()->Width(), last.first);
  EXPECT_EQ(scene->Errors().Log(), nullptr);
  TObject::Free(scene);
  TObject::Free(control);
}

TEST_F(ThreadSceneTest, MovedBetweenControlsWhileTheWorkerRenders) {
  // The GUI thread hands the scene from control to control while the worker
  // renders; the worker reads neither (a thread sanitizer sees a race if it
  // does).
  auto* scene = new GatedScene;
  TKVNCustomControl* controls[2] = {AddControl(50, 30), AddControl(40, 20)};
  for (int i = 0; i < 400; ++i) {
    controls[i % 2]->SetScene(scene);
    controls[(i + 1) % 2]->SetScene(nullptr);
    if (i % 13 == 0) Application->ProcessMessages();  // serves the worker's repaints
  }
  ASSERT_TRUE(Settle(*scene, 1));
  EXPECT_EQ(scene->Renders().back(), (Size{40, 20}));
  EXPECT_EQ(scene->Errors().Log(), nullptr);
  TObject::Free(scene);
  for (auto* c : controls) TObject::Free(c);
}

TEST(RenderingOrders, OnlyTheNewestIsTaken) {
  cRenderingOrders orders;
  int32_t w = 0, h = 0;
  EXPECT_FALSE(orders.TakeNewest(w, h));
  ASSERT_TRUE(orders.Add(1, 2));
  ASSERT_TRUE(orders.Add(3, 4));
  EXPECT_TRUE(orders.TakeNewest(w, h));
  EXPECT_EQ(Size(w, h), Size(3, 4));
  EXPECT_EQ(orders.Count(), 0u);
}
