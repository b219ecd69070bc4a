// Scenes: the objects that draw one picture for a window. A scene owns a
// renderer, the binding of a window-side bitmap as its render target and the
// bitmap itself, and draws through one overridden operation, RenderFrame.
// A direct scene renders on the GUI thread when its control paints; a
// threaded scene renders on a worker of its own and hands out the last
// finished picture.
//
// Scenes are freed with ui::TObject::Free: a threaded scene stops its worker
// in BeforeDestruction, while the derived scene (whose RenderFrame the
// worker may be running) is still whole.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "kvn_surface_tbitmap.h"
#include "qlm_base_array.h"
#include "qlm_base_object.h"
#include "ui_app.h"

class cRenderer;
class TKVNCustomControl;
class TKVNCompositeCustomControl;
class TRenderingScene;
class TRenderingSceneThread;

// Orders being rendered by worker threads, process-wide; the banner shows a
// busy indicator while it is above 0.
extern std::atomic<int32_t> gRenderingBusy;
// A background render begins (+1) or ends (-1). The first one to begin
// wakes the sleeping timers (the banner's sleeps while nothing renders):
// at once on the GUI thread, else through the layer's queue.
void rendering_busy_add(int32_t delta);

// A layer of a composite control: its place and size in content pixels, the
// scene drawn there (not owned) and the composite it belongs to.
struct rCompositeLayer {
  rCompositeLayer* next = nullptr;
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  TRenderingScene* scene = nullptr;
  TKVNCompositeCustomControl* composite = nullptr;
};

// Sets every pixel of a pf24bit or pf32bit bitmap to the framework colour
// (0xAARRGGBB): blue, green, red in memory order and, for pf32bit, alpha. A
// missing or empty bitmap, or another format, is left alone.
void bitmap_fill_color(ui::TBitmap* bitmap, uint32_t color);
// Framework colour to window colour: red | green << 8 | blue << 16.
ui::TColor color_to_tcolor(uint32_t color);
// Window colour (system colours resolved) to an opaque framework colour.
uint32_t color_from_tcolor(ui::TColor color);

// Whether scenes keep the pictures of their still states (cScenePixels)
// between renders; on unless turned off, which draws every frame afresh
// (tests compare both).
extern bool gScenePixelsKept;

// The ticks of `interval` ms a sleeping hover timer missed since it went to
// sleep at `sleptAt` (nothing when it did not sleep). Read from the tick
// that ends the sleep (`inTick`), the sleep ends and that tick's own step is
// left out; read while it still sleeps, the missed ticks are counted up to
// now, so the next reading counts only the ones after.
uint64_t sleep_missed_ticks(std::optional<uint64_t>& sleptAt, unsigned interval, bool inTick);

// The inputs a still picture is drawn from, as bytes in a fixed order: two
// keys are equal exactly when every input is.
class cSceneKey {
 public:
  template <class T>
  requires std::is_arithmetic_v<T> cSceneKey& operator<<(T v) {
    mBytes.append(reinterpret_cast<const char*>(&v), sizeof v);
    return *this;
  }
  // A text with its length first, so that neighbouring texts cannot trade
  // bytes.
  cSceneKey& operator<<(std::string_view text) {
    *this << uint64_t(text.size());
    mBytes.append(text);
    return *this;
  }
  bool operator==(const cSceneKey&) const = default;

 private:
  std::string mBytes;
};

// The pixels of a scene's whole picture, kept with the inputs it was drawn
// from: while they stay the same the scene copies the pixels back into its
// bitmap instead of drawing them again. The scene builds a key of
// everything its picture depends on (size included); a key that differs in
// any input draws afresh.
class cScenePixels {
 public:
  // Copies the kept pixels into bitmap when they were kept for this key
  // and a bitmap of the same size and format; false (bitmap untouched)
  // otherwise, or while gScenePixelsKept is off.
  bool Restore(const cSceneKey& key, ui::TBitmap* bitmap) const;
  // Keeps the bitmap's pixels for the key (nothing while gScenePixelsKept
  // is off; what was kept before is dropped either way).
  void Keep(cSceneKey key, const ui::TBitmap* bitmap);
  void Drop();
  bool Kept() const { return mKept; }

 private:
  cSceneKey mKey;
  ui::TBitmap mPixels;
  bool mKept = false;
};

// The pictures of a scene that cycles through a small, fixed set of states
// (the phases of a pulse, say) while its other inputs stay: for one key,
// one picture per slot. The first picture kept (the base) is kept whole,
// every other one as the rectangle of bytes where it differs from the
// base, so that restoring copies the base and the rectangle. A key that
// differs drops them all. What is kept never exceeds `budget` bytes: a
// picture beyond it is simply drawn every time.
class cSceneFrames {
 public:
  cSceneFrames(size_t slots, size_t budget);
  // Copies the picture kept for the key and slot into bitmap (same size
  // and format as kept); false (bitmap untouched) when there is none, or
  // while gScenePixelsKept is off.
  bool Restore(const cSceneKey& key, size_t slot, ui::TBitmap* bitmap) const;
  // Keeps the bitmap's picture for the key and slot (nothing while
  // gScenePixelsKept is off, for a slot out of range or past the budget).
  void Keep(const cSceneKey& key, size_t slot, const ui::TBitmap* bitmap);
  void Drop();
  // The pictures kept, and the bytes they hold.
  size_t KeptCount() const;
  size_t KeptBytes() const { return mBytes; }

 private:
  struct rPatch {
    bool kept = false;
    int32_t x = 0, y = 0, width = 0, height = 0;  // in pixels
    std::vector<uint8_t> bytes;                   // its rows, packed
  };
  cSceneKey mKey;
  ui::TBitmap mBase;
  bool mHasBase = false;
  std::vector<rPatch> mPatches;
  size_t mBudget;
  size_t mBytes = 0;
};

class TRenderingScene : public ui::TObject {
 public:
  TRenderingScene();
  ~TRenderingScene() override;
  void BeforeDestruction() override;

  virtual TRenderingScene* CreateTileRenderer(TRenderingScene* scene) { return scene; }
  virtual void FillBackground(uint32_t) {}
  virtual void Invalidate(bool, int32_t width, int32_t height) { RenderFrame(width, height); }
  virtual ui::TBitmap* AcquireBitmap() { return nullptr; }
  virtual double LastRenderTime() { return 0; }
  virtual bool IsBusy() { return false; }
  virtual bool IsThreaded() { return false; }
  virtual bool HasPendingOrders() { return false; }
  virtual void SetWaitComplete(bool) {}
  virtual bool GetWaitComplete() { return false; }
  // Draws the whole picture at width x height; called only by the scene
  // itself (or its worker) with the renderer attached to the bitmap.
  virtual void RenderFrame(int32_t, int32_t) {}
  virtual void TimerTick() {}
  // A direct scene that answers true, shown as a layer of a composite, is
  // rendered only over the part of its layer that shows (Window, in layer
  // pixels): its bitmap is that part's size and RenderFrame draws in layer
  // coordinates through the renderer's origin. Otherwise the whole layer
  // is rendered.
  virtual bool RendersWindowed() { return false; }
  void SetWindow(const ui::TRect& window) { mWindow = window; }
  const ui::TRect& Window() const { return mWindow; }

  // Runs TimerTick every interval on the GUI thread. The scene alone owns
  // its timer, whatever control shows it.
  void StartTimer(unsigned interval);
  ui::TTimer* Timer() const { return mTimer.get(); }
  // Called from TimerTick when the scene has nothing to animate and no
  // hover to watch: no tick comes until the pointer, a window's activation
  // or the layout changes (ui::TTimer::Sleep) or the scene is invalidated.
  void SleepTimer();
  void WakeTimer();

  cRenderer* Renderer() const { return mRenderer.get(); }
  cSurfaceTBitmap* SurfaceBinding() const { return mSurface.get(); }
  ui::TPixelFormat PixelFormat() const { return mPixelFormat; }
  TKVNCustomControl* OwnerControl() const { return mOwnerControl; }
  void SetOwnerControl(TKVNCustomControl* control) { mOwnerControl = control; }
  rCompositeLayer* Layer() const { return mLayer; }
  void SetLayer(rCompositeLayer* layer) { mLayer = layer; }
  // The scene's own log: a RenderFrame that raised, a bitmap size refused.
  // The first of a run of failures also reaches the program's log and its
  // user (LogException).
  const cException& Errors() const { return mErrors; }

 protected:
  // The size of the control showing the scene (the owner control's, else
  // the layer's); false when nothing shows it.
  bool ShownSize(int32_t& width, int32_t& height);
  // Shown through a layer that renders only its visible part.
  bool Windowed() { return mOwnerControl == nullptr && mLayer != nullptr && RendersWindowed(); }
  // Repaints the owner control now, else the composite of the layer.
  void RepaintShown();
  // Binds the bitmap, attaches the renderer, runs RenderFrame and detaches;
  // false when binding or attaching failed. An exception in RenderFrame is
  // logged and the pass still counts as done.
  bool RenderPass(ui::TBitmap& bitmap, int32_t width, int32_t height, double& ms);
  // Appends the exception to the scene's log (under mLogLock when set) and,
  // when the scene's last render did not fail already, reports it through
  // the window layer (TApplication::ReportLater).
  void LogException(std::exception_ptr e);
  // A render ended without an exception: the next failure is reported again.
  void RenderSucceeded();
  std::mutex* mLogLock = nullptr;

 private:
  struct TimerFree {
    void operator()(ui::TTimer* t) const;
  };
  std::unique_ptr<cSurfaceTBitmap> mSurface;
  std::unique_ptr<cRenderer> mRenderer;
  std::unique_ptr<ui::TTimer, TimerFree> mTimer;
  TKVNCustomControl* mOwnerControl = nullptr;
  rCompositeLayer* mLayer = nullptr;
  ui::TRect mWindow;
  ui::TPixelFormat mPixelFormat = ui::pf32bit;
  cException mErrors;
  bool mFailing = false;  // the last render failed (under mLogLock when set)
};

class TRenderingSceneDirect : public TRenderingScene {
 public:
  TRenderingSceneDirect() = default;
  void FillBackground(uint32_t color) override;
  void Invalidate(bool force, int32_t width, int32_t height) override;
  ui::TBitmap* AcquireBitmap() override;
  double LastRenderTime() override { return mLastRenderTime; }
  int32_t CachedWidth() const { return mCachedWidth; }
  int32_t CachedHeight() const { return mCachedHeight; }
  // The current bitmap without rendering (none before the first render).
  ui::TBitmap* Bitmap() const { return mBitmap.get(); }

 private:
  std::unique_ptr<ui::TBitmap> mBitmap;
  int32_t mCachedWidth = -1;
  int32_t mCachedHeight = -1;
  ui::TPoint mCachedOrigin;  // the window's top-left when windowed
  double mLastRenderTime = 0;
};

// A render order: a size in pixels.
struct rRenderingOrder {
  rRenderingOrder* next = nullptr;
  int32_t width = 0;
  int32_t height = 0;
};

// The queue of render orders, linked in queue order.
class cRenderingOrders : public cArrayOf<rRenderingOrder, 1> {
 public:
  cRenderingOrders() : cArrayOf<rRenderingOrder, 1>(5) {}
  // False when no entry could be had.
  bool Add(int32_t width, int32_t height);
  // Copies the newest order and drops all of them; false when empty.
  bool TakeNewest(int32_t& width, int32_t& height);
};

// The worker of a threaded scene.
class TRenderingThread : public ui::TThread {
 public:
  explicit TRenderingThread(TRenderingSceneThread* scene) : TThread(true), mScene(scene) {}
  // Runs fn on the GUI thread and waits until it ran.
  void SynchronizeCall(const std::function<void()>& fn) { Synchronize(fn); }

 protected:
  void Execute() override;

 private:
  TRenderingSceneThread* mScene;
};

class TRenderingSceneThread : public TRenderingScene {
 public:
  TRenderingSceneThread();
  ~TRenderingSceneThread() override;
  // Stops the worker and waits for it, serving its repaint requests.
  void BeforeDestruction() override;

  // Fills the front bitmap only: the worker resizes and draws the back one
  // without the lock, and its next render clears it anyway.
  void FillBackground(uint32_t color) override;
  void Invalidate(bool force, int32_t width, int32_t height) override;
  ui::TBitmap* AcquireBitmap() override;
  double LastRenderTime() override;
  bool IsBusy() override;
  bool IsThreaded() override { return true; }
  bool HasPendingOrders() override;
  void SetWaitComplete(bool flag) override { mWaitComplete = flag; }
  bool GetWaitComplete() override { return mWaitComplete; }

  // The worker's loop (TRenderingThread::Execute).
  void Work(TRenderingThread& worker);
  // Renders finished (swapped to the front), for tests and statistics.
  int64_t FinishedRenders() const { return mFinished.load(); }

 private:
  bool ShouldStop(TRenderingThread& worker) const { return mStop || worker.Terminated(); }
  void StopWorker();

  std::mutex mLock;
  std::condition_variable mWake;
  cRenderingOrders mOrders;
  TRenderingThread* mWorker = nullptr;
  std::unique_ptr<ui::TBitmap> mBitmaps[2];
  bool mValid[2] = {false, false};
  double mRenderTime[2] = {0, 0};
  int32_t mLastQueuedWidth = -1;
  int32_t mLastQueuedHeight = -1;
  uint8_t mBack = 0;
  uint8_t mFront = 1;
  std::atomic<bool> mWaitComplete{false};
  std::atomic<bool> mBusy{false};
  bool mStop = false;  // under mLock
  std::atomic<int64_t> mFinished{0};
};
