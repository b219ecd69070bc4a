#include "kvn_scene.h"

#include <algorithm>
#include <cstring>

#include "kvn_composite.h"
#include "kvn_control.h"
#include "qlm_platform.h"
#include "qlm_renderer.h"

std::atomic<int32_t> gRenderingBusy{0};

void rendering_busy_add(int32_t delta) {
  if (gRenderingBusy.fetch_add(delta) != 0 || delta <= 0 || ui::Application == nullptr) return;
  if (ui::Application->IsGuiThread())
    ui::WakeSleepingTimers();
  else
    ui::Application->QueueCall([] { ui::WakeSleepingTimers(); });
}

uint64_t sleep_missed_ticks(std::optional<uint64_t>& sleptAt, unsigned interval, bool inTick) {
  if (!sleptAt) return 0;
  uint64_t missed = (ui::TickCount() - *sleptAt) / interval;
  if (inTick) {
    if (missed > 0) --missed;  // the tick makes its own step
    sleptAt.reset();
  } else {
    *sleptAt += missed * interval;  // still asleep: counted up to here
  }
  return missed;
}

// ---------------------------------------------------------------------------
// Colour helpers

void bitmap_fill_color(ui::TBitmap* bitmap, uint32_t color) {
  if (bitmap == nullptr || bitmap->Empty() || !bitmap->HasRows()) return;
  const ui::TPixelFormat format = bitmap->PixelFormat();
  if (format != ui::pf24bit && format != ui::pf32bit) return;
  const uint8_t pixel[4] = {uint8_t(color), uint8_t(color >> 8), uint8_t(color >> 16), uint8_t(color >> 24)};
  const int bpp = format == ui::pf32bit ? 4 : 3;
  const size_t rowBytes = size_t(bitmap->Width()) * size_t(bpp);
  // The first row is filled pixel by pixel, the others are copies of it.
  uint8_t* first = bitmap->ScanLine(0);
  for (size_t x = 0; x < rowBytes; x += size_t(bpp)) std::memcpy(first + x, pixel, size_t(bpp));
  for (int y = 1; y < bitmap->Height(); ++y) std::memcpy(bitmap->ScanLine(y), first, rowBytes);
}

ui::TColor color_to_tcolor(uint32_t color) {
  return ui::TColor(((color >> 16) & 0xFF) | (color & 0xFF00) | ((color & 0xFF) << 16));
}

uint32_t color_from_tcolor(ui::TColor color) {
  const uint32_t rgb = ui::ColorToRGB(color);  // 0x00BBGGRR
  return 0xFF000000u | (rgb & 0xFF) << 16 | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

// ---------------------------------------------------------------------------
// cScenePixels

bool gScenePixelsKept = true;

namespace {

bool same_shape(const ui::TBitmap& a, const ui::TBitmap& b) {
  return a.Width() == b.Width() && a.Height() == b.Height() && a.PixelFormat() == b.PixelFormat();
}

// Rows of a pf24bit or pf32bit bitmap, in bytes; 0 for another format.
size_t row_bytes(const ui::TBitmap& b) {
  const int bpp = b.PixelFormat() == ui::pf32bit ? 4 : b.PixelFormat() == ui::pf24bit ? 3 : 0;
  return size_t(b.Width()) * size_t(bpp);
}

void copy_rows(ui::TBitmap& target, const ui::TBitmap& source) {
  const size_t n = row_bytes(source);
  for (int y = 0; y < source.Height(); ++y) std::memcpy(target.ScanLine(y), source.ScanLine(y), n);
}

}  // namespace

bool cScenePixels::Restore(const cSceneKey& key, ui::TBitmap* bitmap) const {
  if (!gScenePixelsKept || !mKept || bitmap == nullptr || !(key == mKey) || !same_shape(*bitmap, mPixels)) return false;
  copy_rows(*bitmap, mPixels);
  return true;
}

void cScenePixels::Keep(cSceneKey key, const ui::TBitmap* bitmap) {
  Drop();
  if (!gScenePixelsKept || bitmap == nullptr || bitmap->Empty() || !bitmap->HasRows() || row_bytes(*bitmap) == 0)
    return;
  try {
    if (!same_shape(mPixels, *bitmap)) {
      mPixels.SetPixelFormat(bitmap->PixelFormat());
      mPixels.SetSize(bitmap->Width(), bitmap->Height());
    }
  } catch (...) {
    // No memory for the copy: the scene just draws every time.
    return;
  }
  copy_rows(mPixels, *bitmap);
  mKey = std::move(key);
  mKept = true;
}

void cScenePixels::Drop() { mKept = false; }

// ---------------------------------------------------------------------------
// cSceneFrames

cSceneFrames::cSceneFrames(size_t slots, size_t budget) : mPatches(slots), mBudget(budget) {}

bool cSceneFrames::Restore(const cSceneKey& key, size_t slot, ui::TBitmap* bitmap) const {
  if (!gScenePixelsKept || !mHasBase || bitmap == nullptr || slot >= mPatches.size() || !mPatches[slot].kept ||
      !(key == mKey) || !same_shape(*bitmap, mBase))
    return false;
  // The base's rows, and within the rectangle's the slot's own bytes
  // (each byte is copied once).
  const rPatch& p = mPatches[slot];
  const size_t n = row_bytes(mBase), bpp = n / size_t(mBase.Width());
  const size_t left = size_t(p.x) * bpp, width = size_t(p.width) * bpp;
  for (int32_t y = 0; y < mBase.Height(); ++y) {
    uint8_t* target = bitmap->ScanLine(y);
    const uint8_t* base = mBase.ScanLine(y);
    if (y < p.y || y >= p.y + p.height) {
      std::memcpy(target, base, n);
      continue;
    }
    std::memcpy(target, base, left);
    std::memcpy(target + left, p.bytes.data() + size_t(y - p.y) * width, width);
    std::memcpy(target + left + width, base + left + width, n - left - width);
  }
  return true;
}

void cSceneFrames::Keep(const cSceneKey& key, size_t slot, const ui::TBitmap* bitmap) {
  if (!gScenePixelsKept || slot >= mPatches.size() || bitmap == nullptr || bitmap->Empty() || !bitmap->HasRows() ||
      row_bytes(*bitmap) == 0)
    return;
  if (!mHasBase || !(key == mKey) || !same_shape(*bitmap, mBase)) {
    Drop();
    const size_t size = row_bytes(*bitmap) * size_t(bitmap->Height());
    if (size > mBudget) return;
    try {
      mBase.SetPixelFormat(bitmap->PixelFormat());
      mBase.SetSize(bitmap->Width(), bitmap->Height());
    } catch (...) {
      // No memory for the copy: the scene just draws every time.
      return;
    }
    copy_rows(mBase, *bitmap);
    mKey = key;
    mHasBase = true;
    mBytes = size;
    mPatches[slot].kept = true;  // the base itself, an empty rectangle
    return;
  }
  rPatch& p = mPatches[slot];
  if (p.kept) return;
  // The rectangle of the bytes that differ from the base: rows first, then
  // the columns within them, in whole pixels.
  const size_t n = row_bytes(mBase), bpp = n / size_t(mBase.Width());
  int32_t top = -1, bottom = -1;
  size_t left = n, right = 0;
  for (int32_t y = 0; y < mBase.Height(); ++y) {
    const uint8_t* a = bitmap->ScanLine(y);
    const uint8_t* b = mBase.ScanLine(y);
    if (std::memcmp(a, b, n) == 0) continue;
    if (top < 0) top = y;
    bottom = y;
    size_t l = 0, r = n;
    while (a[l] == b[l]) ++l;
    while (a[r - 1] == b[r - 1]) --r;
    left = std::min(left, l / bpp * bpp);
    right = std::max(right, (r + bpp - 1) / bpp * bpp);
  }
  rPatch next;
  next.kept = true;
  if (top >= 0) {
    next.x = int32_t(left / bpp);
    next.y = top;
    next.width = int32_t((right - left) / bpp);
    next.height = bottom - top + 1;
    const size_t w = right - left;
    if (mBytes + w * size_t(next.height) > mBudget) return;
    try {
      next.bytes.resize(w * size_t(next.height));
    } catch (...) {
      return;
    }
    for (int32_t y = 0; y < next.height; ++y)
      std::memcpy(next.bytes.data() + size_t(y) * w, bitmap->ScanLine(top + y) + left, w);
  }
  mBytes += next.bytes.size();
  p = std::move(next);
}

void cSceneFrames::Drop() {
  mHasBase = false;
  mBytes = 0;
  for (rPatch& p : mPatches) p = rPatch();
}

size_t cSceneFrames::KeptCount() const {
  return size_t(std::count_if(mPatches.begin(), mPatches.end(), [](const rPatch& p) { return p.kept; }));
}

// ---------------------------------------------------------------------------
// TRenderingScene

void TRenderingScene::TimerFree::operator()(ui::TTimer* t) const { ui::TObject::Free(t); }

TRenderingScene::TRenderingScene() : mSurface(std::make_unique<cSurfaceTBitmap>()), mRenderer(renderer_create()) {}

TRenderingScene::~TRenderingScene() {
  // Reached by a plain delete too: the control or layer must not keep a
  // freed scene.
  if (mOwnerControl != nullptr && mOwnerControl->Scene() == this) mOwnerControl->SetScene(nullptr);
  if (mLayer != nullptr && mLayer->scene == this) mLayer->scene = nullptr;
  if (mRenderer) mRenderer->DetachSurface();
}

void TRenderingScene::BeforeDestruction() {
  mTimer.reset();
  if (mOwnerControl != nullptr && mOwnerControl->Scene() == this) mOwnerControl->SetScene(nullptr);
  mOwnerControl = nullptr;
  if (mLayer != nullptr && mLayer->scene == this) mLayer->scene = nullptr;
  mLayer = nullptr;
}

void TRenderingScene::StartTimer(unsigned interval) {
  // Never owned by the control: a control freeing it too would free it twice.
  if (!mTimer) mTimer.reset(new ui::TTimer(nullptr));
  mTimer->SetInterval(interval);
  mTimer->SetOnTimer([this](ui::TObject*) { TimerTick(); });
  mTimer->SetEnabled(true);
}

void TRenderingScene::SleepTimer() {
  if (mTimer) mTimer->Sleep();
}

void TRenderingScene::WakeTimer() {
  if (mTimer) mTimer->Wake();
}

bool TRenderingScene::ShownSize(int32_t& width, int32_t& height) {
  if (mOwnerControl != nullptr) {
    width = mOwnerControl->Width();
    height = mOwnerControl->Height();
    return true;
  }
  if (mLayer != nullptr && mLayer->scene == this && RendersWindowed() && !IsThreaded()) {
    width = std::max(mWindow.Width(), 0);
    height = std::max(mWindow.Height(), 0);
    return true;
  }
  if (mLayer != nullptr) {
    width = mLayer->width;
    height = mLayer->height;
    return true;
  }
  width = height = 0;
  return false;
}

void TRenderingScene::RepaintShown() {
  if (mOwnerControl != nullptr)
    mOwnerControl->Repaint();
  else if (mLayer != nullptr && mLayer->composite != nullptr)
    mLayer->composite->Repaint();
}

void TRenderingScene::LogException(std::exception_ptr e) {
  bool first = false;
  {
    std::unique_lock<std::mutex> lock;
    if (mLogLock != nullptr) lock = std::unique_lock(*mLogLock);
    exception_log_append(e, &mErrors);
    first = !mFailing;
    mFailing = true;
  }
  // The program's log and its user get the first failure of a run (an
  // animation would repeat it at every frame), from the loop's next round
  // (this may be the scene's worker). No lock is held meanwhile.
  if (first && ui::Application != nullptr) ui::Application->ReportLater(e, "error in a scene's drawing");
}

void TRenderingScene::RenderSucceeded() {
  std::unique_lock<std::mutex> lock;
  if (mLogLock != nullptr) lock = std::unique_lock(*mLogLock);
  mFailing = false;
}

bool TRenderingScene::RenderPass(ui::TBitmap& bitmap, int32_t width, int32_t height, double& ms) {
  if (!mRenderer) return false;  // its memory failed at construction
  int64_t start = 0;
  timer_counter(start);
  if (!mSurface->AttachBitmap(&bitmap, true)) return false;
  // A windowed layer draws in layer coordinates, moved so that the window's
  // top-left lands on the bitmap's (0, 0); hit tests stay in layer pixels.
  // The update rectangle is the whole layer, so that shapes are rasterised
  // unclipped (the bitmap's own bounds cut their spans) and the window
  // holds the same bytes as the whole layer rendered at once would.
  // A threaded scene is never windowed; it is asked first, as its worker
  // must not read the owner control or layer that the GUI thread changes.
  if (!IsThreaded() && Windowed()) {
    mRenderer->SetOrigin(-mWindow.Left, -mWindow.Top);
    mRenderer->SetUpdateRect(-mWindow.Left, -mWindow.Top, mLayer->width - mWindow.Left, mLayer->height - mWindow.Top);
  } else if (mRenderer->IsOriginSet() || mRenderer->IsUpdateRectSet()) {
    // The renderer keeps both between passes: a scene rendered windowed
    // before would otherwise draw shifted and cut to the old window.
    mRenderer->ClearOrigin();
    mRenderer->SetUpdateRect(0, 0, bitmap.Width(), bitmap.Height());
  }
  if (!mRenderer->AttachSurface(mSurface.get())) return false;
  try {
    RenderFrame(width, height);
    RenderSucceeded();
  } catch (...) {
    // What was drawn stays and is used as if complete.
    LogException(std::current_exception());
  }
  mRenderer->DetachSurface();
  ms = timer_elapsed_ms(start);
  return true;
}

// ---------------------------------------------------------------------------
// TRenderingSceneDirect

void TRenderingSceneDirect::FillBackground(uint32_t color) { bitmap_fill_color(mBitmap.get(), color); }

void TRenderingSceneDirect::Invalidate(bool force, int32_t width, int32_t height) {
  if (!force && width == mCachedWidth && height == mCachedHeight) return;
  // What the scene shows changed: its hover test may now answer otherwise.
  WakeTimer();
  mCachedWidth = mCachedHeight = -1;
  RepaintShown();
}

ui::TBitmap* TRenderingSceneDirect::AcquireBitmap() {
  int32_t w = 0, h = 0;
  if (!ShownSize(w, h)) return mBitmap.get();
  if (w <= 0 || h <= 0) {
    // Nothing to show; the bitmap is dropped rather than resized to nothing.
    mBitmap.reset();
    mCachedWidth = mCachedHeight = -1;
    return nullptr;
  }
  bool due = false;
  try {
    if (!mBitmap) {
      auto bitmap = std::make_unique<ui::TBitmap>();
      bitmap->SetPixelFormat(PixelFormat());
      bitmap->SetSize(w, h);
      mBitmap = std::move(bitmap);
      due = true;
    } else if (mCachedWidth != w || mCachedHeight != h) {
      mBitmap->SetSize(w, h);
      due = true;
    }
    if (Windowed() && (mCachedOrigin.X != Window().Left || mCachedOrigin.Y != Window().Top)) due = true;
  } catch (...) {
    // A size the bitmap refuses: nothing to show, tried again next time.
    LogException(std::current_exception());
    mBitmap.reset();
    mCachedWidth = mCachedHeight = -1;
    return nullptr;
  }
  if (mBitmap->Empty()) {
    mBitmap.reset();
    mCachedWidth = mCachedHeight = -1;
    return nullptr;
  }
  if (!due && mCachedWidth == -1) due = true;
  if (due) {
    double ms = 0;
    if (!RenderPass(*mBitmap, w, h, ms)) {
      mBitmap.reset();
      mCachedWidth = mCachedHeight = -1;
      return nullptr;
    }
    mLastRenderTime = ms;
    mCachedWidth = w;
    mCachedHeight = h;
    mCachedOrigin = {Window().Left, Window().Top};
  }
  return mBitmap.get();
}

// ---------------------------------------------------------------------------
// cRenderingOrders

bool cRenderingOrders::Add(int32_t width, int32_t height) {
  rRenderingOrder* order = Append(1);
  if (order == nullptr) return false;
  order->width = width;
  order->height = height;
  return true;
}

bool cRenderingOrders::TakeNewest(int32_t& width, int32_t& height) {
  rRenderingOrder* order = Last();
  if (order == nullptr) return false;
  width = order->width;
  height = order->height;
  RemoveAll();
  return true;
}

// ---------------------------------------------------------------------------
// TRenderingSceneThread

void TRenderingThread::Execute() { mScene->Work(*this); }

TRenderingSceneThread::TRenderingSceneThread() {
  mLogLock = &mLock;
  for (auto& b : mBitmaps) b = std::make_unique<ui::TBitmap>();
  mWorker = new TRenderingThread(this);
}

TRenderingSceneThread::~TRenderingSceneThread() {
  // A plain delete skipped BeforeDestruction: stopping here is the last
  // resort (the derived scene is gone already).
  StopWorker();
}

void TRenderingSceneThread::BeforeDestruction() {
  StopWorker();
  TRenderingScene::BeforeDestruction();
}

void TRenderingSceneThread::StopWorker() {
  if (mWorker == nullptr) return;
  {
    // The stop is asked for before the wake-up, so the worker never takes an
    // order on the way out.
    std::lock_guard lock(mLock);
    mStop = true;
    mWorker->Terminate();
  }
  mWake.notify_all();
  // Waits for the worker while serving its repaint requests.
  ui::TObject::Free(mWorker);
  mWorker = nullptr;
}

void TRenderingSceneThread::FillBackground(uint32_t color) {
  std::lock_guard lock(mLock);
  bitmap_fill_color(mBitmaps[mFront].get(), color);
}

void TRenderingSceneThread::Invalidate(bool force, int32_t width, int32_t height) {
  int32_t shownW = 0, shownH = 0;
  ShownSize(shownW, shownH);
  if (width < 1) width = shownW;
  if (height < 1) height = shownH;
  if (width < 1 || height < 1) return;
  {
    std::lock_guard lock(mLock);
    if (mStop || mWorker == nullptr) return;
    if (!force && width == mLastQueuedWidth && height == mLastQueuedHeight) return;
  }
  // The worker is created suspended; the first order starts it.
  try {
    mWorker->Start();
  } catch (...) {
    LogException(std::current_exception());
    return;
  }
  {
    std::lock_guard lock(mLock);
    if (!mOrders.Add(width, height)) return;
    mLastQueuedWidth = width;
    mLastQueuedHeight = height;
  }
  mWake.notify_one();
}

ui::TBitmap* TRenderingSceneThread::AcquireBitmap() {
  std::lock_guard lock(mLock);
  if (!mValid[mFront]) return nullptr;
  if (mWaitComplete && (mOrders.Count() > 0 || mBusy)) return nullptr;
  return mBitmaps[mFront].get();
}

double TRenderingSceneThread::LastRenderTime() {
  std::lock_guard lock(mLock);
  return mValid[mFront] ? mRenderTime[mFront] : 0;
}

bool TRenderingSceneThread::IsBusy() {
  std::lock_guard lock(mLock);
  return mOrders.Count() > 0 || mBusy;
}

bool TRenderingSceneThread::HasPendingOrders() {
  std::lock_guard lock(mLock);
  return mOrders.Count() > 0;
}

void TRenderingSceneThread::Work(TRenderingThread& worker) {
  // A stop of the whole layer (ui::Stop) only sets Terminated without a
  // wake-up, so the sleep looks at it every 100 ms.
  constexpr auto kStopPoll = std::chrono::milliseconds(100);
  for (;;) {
    int32_t w = 0, h = 0;
    uint8_t back = 0;
    {
      std::unique_lock lock(mLock);
      while (!ShouldStop(worker) && mOrders.Count() == 0) mWake.wait_for(lock, kStopPoll);
      if (ShouldStop(worker)) return;
      // Only the newest order counts; older ones are dropped unrendered.
      mOrders.TakeNewest(w, h);
      rendering_busy_add(1);
      mBusy = true;
      back = mBack;
    }
    bool rendered = false;
    double ms = 0;
    ui::TBitmap& bitmap = *mBitmaps[back];
    try {
      bool valid = false;
      {
        std::lock_guard lock(mLock);
        valid = mValid[back];
      }
      if (!valid) {
        bitmap.SetPixelFormat(PixelFormat());
        bitmap.SetSize(w, h);
        valid = !bitmap.Empty();
        std::lock_guard lock(mLock);
        mValid[back] = valid;
      } else if (bitmap.Width() != w || bitmap.Height() != h) {
        bitmap.SetSize(w, h);
      }
      if (valid) rendered = RenderPass(bitmap, w, h, ms);
    } catch (...) {
      // A size the bitmap refuses fails this pass only.
      LogException(std::current_exception());
    }
    bool repaint = false;
    {
      std::lock_guard lock(mLock);
      mBusy = false;
      if (rendered && !ShouldStop(worker)) {
        std::swap(mBack, mFront);
        mRenderTime[mFront] = ms;
        ++mFinished;
        repaint = true;
      }
    }
    if (repaint) {
      try {
        // On the GUI thread, which reads the owner control or layer only
        // there; this thread waits and touches no bitmap meanwhile.
        worker.SynchronizeCall([this] { RepaintShown(); });
      } catch (...) {
        LogException(std::current_exception());
      }
    }
    {
      std::lock_guard lock(mLock);
      rendering_busy_add(-1);
    }
  }
}
