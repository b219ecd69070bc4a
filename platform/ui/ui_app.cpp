#include "ui_app.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace ui {

TApplication* Application = nullptr;
TScreen* Screen = nullptr;
TMouse* Mouse = nullptr;

namespace {
Backend* gBackend = nullptr;
}  // namespace

void Start(std::unique_ptr<Backend> backend) {
  if (!backend) throw std::invalid_argument("ui::Start: no backend");
  if (Application) throw std::logic_error("ui::Start: the window layer is already started");
  gBackend = backend.release();
  Screen = new TScreen;
  Mouse = new TMouse;
  Application = new TApplication(gBackend);
}

void Stop() {
  if (!Application) return;
  ReleaseCapture();
  // Every form goes while the application is whole (the latest first;
  // freeing one may free others it owns), then the application with what
  // else it owns.
  while (Screen->FormCount() > 0) TObject::Free(Screen->Forms(Screen->FormCount() - 1));
  // Workers still running would call into the application after it went.
  Application->StopThreads();
  TApplication* app = Application;
  Application = nullptr;
  TObject::Free(app);
  delete Mouse;
  Mouse = nullptr;
  delete Screen;
  Screen = nullptr;
  delete gBackend;
  gBackend = nullptr;
}

bool Started() { return Application != nullptr; }

uint64_t TickCount() { return gBackend ? gBackend->NowMs() : 0; }

void SetCursorNow(TCursor c) {
  if (!Application || !Screen) return;
  for (int i = 0; i < Screen->FormCount(); ++i) {
    TForm* f = Screen->Forms(i);
    if (!f->HoverControl() || !f->Handle()) continue;
    const TCursorImage* image = c > 0 ? Screen->Cursors(c) : nullptr;
    if (c > 0 && !image) c = crArrow;
    if (c == crDefault) c = crArrow;
    gBackend->SetCursor(f->Handle(), c, image);
  }
}

bool BrowseFolder(const std::string& title, const std::string& initial, bool allowNew, std::string& path) {
  if (!Application) return false;
  TForm* owner = Screen->ActiveForm();
  ReleaseCapture();
  return gBackend->BrowseFolder(owner ? owner->Handle() : 0, title, initial, allowNew, path);
}

bool PageSetupDialog(TPageSetup& setup) {
  if (!Application) return false;
  TForm* owner = Screen->ActiveForm();
  ReleaseCapture();
  return gBackend->PageSetupDialog(owner ? owner->Handle() : 0, setup);
}

// ---- TApplication ----

TApplication::TApplication(Backend* backend)
    : TComponent(nullptr), mBackend(backend), mGuiThread(std::this_thread::get_id()) {}

TApplication::~TApplication() {
  std::lock_guard lock(mLock);
  mQueue.clear();
}

void TApplication::Run() {
  if (MainForm && !MainForm->Visible()) MainForm->Show();
  while (!mTerminated && MainForm) HandleMessage();
}

void TApplication::QueueCall(std::function<void()> fn) {
  {
    std::lock_guard lock(mLock);
    mQueue.push_back({std::move(fn), {}, false});
  }
  mCv.notify_all();
  mBackend->Wakeup();
}

void TApplication::QueueCall(std::function<void()> fn, std::weak_ptr<void> alive) {
  {
    std::lock_guard lock(mLock);
    mQueue.push_back({std::move(fn), std::move(alive), true});
  }
  mCv.notify_all();
  mBackend->Wakeup();
}

bool TApplication::RunOneSync(std::unique_lock<std::mutex>& lock) {
  if (mSync.empty()) return false;
  SyncRequest* req = mSync.front();
  mSync.pop_front();
  lock.unlock();
  try {
    (*req->fn)();
  } catch (...) {
    req->error = std::current_exception();
  }
  lock.lock();
  req->done = true;
  mCv.notify_all();
  return true;
}

bool TApplication::RunQueued() {
  bool any = false;
  std::unique_lock lock(mLock);
  while (RunOneSync(lock)) any = true;
  // Only the calls queued so far: a call that queues another leaves it
  // for the next round.
  size_t n = mQueue.size();
  for (size_t i = 0; i < n && !mQueue.empty(); ++i) {
    QueuedCall call = std::move(mQueue.front());
    mQueue.pop_front();
    lock.unlock();
    any = true;
    if (!call.bound || !call.alive.expired()) call.fn();
    lock.lock();
  }
  return any;
}

void TApplication::PaintAll() {
  if (!mPaintPending) return;
  mPaintPending = false;
  for (int i = 0; Screen && i < Screen->FormCount(); ++i) {
    TForm* f = Screen->Forms(i);
    if (f->PaintPending()) f->PaintDirty();
  }
}

void TApplication::ProcessMessages() {
  for (int rounds = 0; rounds < 10000; ++rounds) {
    bool any = RunQueued();
    any = mBackend->PumpOne(false) || any;
    if (!any) break;
  }
  PaintAll();
}

void TApplication::HandleMessage() {
  // One round: the calls queued so far, then the input and timers the
  // backend has ready, then the paints, as the system's paint messages come
  // after the others. It waits only when none of them had anything, so
  // neither a paint that marks again nor a call that queues the next one
  // keeps input and timers waiting. With no call and no paint waiting, one
  // waiting pump is the round: it returns at once when input or a timer is
  // ready (a pump that does not wait before it would only ask again).
  try {
    bool any = RunQueued();
    if (!any && !mPaintPending) {
      mBackend->PumpOne(true);
      return;
    }
    any = mBackend->PumpOne(false) || any;
    if (mPaintPending) {
      PaintAll();
      any = true;
    }
    if (!any) mBackend->PumpOne(true);
  } catch (const EBackendFault&) {
    throw;
  } catch (...) {
    HandleException(std::current_exception());
  }
}

std::string exception_text(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

namespace {

// One line on stderr; logging never throws, a line that cannot be built is
// lost.
void log_error(const std::string& title, const char* what, std::exception_ptr error) noexcept {
  try {
    const std::string text = exception_text(error);
    std::fprintf(stderr, "%s: %s: %s\n", title.empty() ? "application" : title.c_str(), what, text.c_str());
  } catch (...) {
  }
}

}  // namespace

void TApplication::HandleException(std::exception_ptr error, const char* what) {
  if (!error) return;
  log_error(Title, what, error);
  if (!OnException || mReporting) return;
  mReporting = true;
  try {
    OnException(error);
  } catch (...) {
    log_error(Title, "the error could not be reported", std::current_exception());
  }
  mReporting = false;
}

void TApplication::ReportLater(std::exception_ptr error, const char* what) {
  if (!error) return;
  try {
    QueueCall([this, error, what] { HandleException(error, what); });
  } catch (...) {
    // The queue cannot take it (memory): the line at least is written.
    log_error(std::string(), what, error);
  }
}

void TApplication::CancelHint() {
  for (int i = 0; Screen && i < Screen->FormCount(); ++i)
    if (TForm* f = Screen->Forms(i); f->Handle()) mBackend->SetTooltip(f->Handle(), std::string());
}

void TApplication::SynchronizeCall(const std::function<void()>& fn) {
  if (IsGuiThread()) {
    fn();
    return;
  }
  SyncRequest req;
  req.fn = &fn;
  {
    std::unique_lock lock(mLock);
    mSync.push_back(&req);
    mCv.notify_all();
  }
  mBackend->Wakeup();
  {
    std::unique_lock lock(mLock);
    mCv.wait(lock, [&] { return req.done; });
  }
  if (req.error) std::rethrow_exception(req.error);
}

void TApplication::WaitForThread(TThread* t) {
  std::unique_lock lock(mLock);
  while (!t->Finished()) {
    if (RunOneSync(lock)) continue;
    mCv.wait(lock);
  }
}

void TApplication::StopThreads() {
  std::vector<TThread*> threads;
  {
    std::lock_guard lock(mLock);
    threads = mThreads;
  }
  for (TThread* t : threads) t->Terminate();
  for (TThread* t : threads) {
    WaitForThread(t);
    t->Join();  // its last steps touch the application
  }
  {
    std::lock_guard lock(mLock);
    threads = mThreads;
    mThreads.clear();
  }
  // Their end handlers do not run any more; those that free themselves are
  // freed here, the others stay their owners' to free.
  for (TThread* t : threads) t->mApp = nullptr;
  for (TThread* t : threads)
    if (t->FreeOnTerminate) TObject::Free(t);
}

void TApplication::ThreadFinished() {
  std::lock_guard lock(mLock);
  mCv.notify_all();
}

// ---- TScreen, TMouse ----

const TCursorImage* TScreen::Cursors(int slot) const {
  for (auto& [n, image] : mCursors)
    if (n == slot) return &image;
  return nullptr;
}

void TScreen::SetCursors(int slot, TCursorImage image) {
  if (slot < 1) throw std::invalid_argument("TScreen.Cursors: slot below 1");
  if (image.Pixels.size() != size_t(TCursorImage::kSide) * TCursorImage::kSide || image.HotX < 0 || image.HotY < 0 ||
      image.HotX >= TCursorImage::kSide || image.HotY >= TCursorImage::kSide)
    throw std::invalid_argument("TScreen.Cursors: not a 32x32 picture with its hot spot inside");
  for (auto& [n, img] : mCursors)
    if (n == slot) {
      img = std::move(image);
      return;
    }
  mCursors.emplace_back(slot, std::move(image));
}

void TScreen::SetCursor(TCursor c) {
  mCursor = c;
  for (TForm* f : mForms) f->ApplyCursor();
}

int TScreen::Width() const {
  auto m = gBackend ? gBackend->Monitors() : std::vector<TRect>{};
  int w = 0;
  for (auto& r : m) w = std::max(w, r.Right);
  return w;
}

int TScreen::Height() const {
  auto m = gBackend ? gBackend->Monitors() : std::vector<TRect>{};
  int h = 0;
  for (auto& r : m) h = std::max(h, r.Bottom);
  return h;
}

int TScreen::MonitorCount() const { return gBackend ? int(gBackend->Monitors().size()) : 0; }

TMonitor TScreen::Monitors(int i) const {
  auto m = gBackend ? gBackend->Monitors() : std::vector<TRect>{};
  if (i < 0 || size_t(i) >= m.size()) throw std::out_of_range("TScreen.Monitors: index out of range");
  return {i, m[size_t(i)]};
}

TForm* TScreen::ActiveForm() const {
  // The foreground form, else the last shown form still visible.
  for (TForm* f : mForms)
    if (f->Visible() && f->IsForeground()) return f;
  for (auto it = mForms.rbegin(); it != mForms.rend(); ++it)
    if ((*it)->Visible() && (*it)->InputEnabled()) return *it;
  return nullptr;
}

TPoint TMouse::CursorPos() const { return gBackend ? gBackend->PointerPos() : TPoint{}; }

// ---- TTimer ----

namespace {
// The sleeping timers, in the order they went to sleep (GUI thread only).
std::vector<TTimer*> gSleepingTimers;

void ForgetSleeper(TTimer* t) { std::erase(gSleepingTimers, t); }
}  // namespace

TTimer::TTimer(TComponent* owner) : TComponent(owner) {}

TTimer::~TTimer() {
  if (mSleeping) ForgetSleeper(this);
  if (mId && gBackend) gBackend->StopTimer(mId);
}

void TTimer::SetInterval(unsigned ms) {
  if (ms == mInterval) return;
  mInterval = ms;
  Restart();
}

void TTimer::SetEnabled(bool v) {
  if (v == mEnabled) return;
  mEnabled = v;
  Restart();
}

void TTimer::SetOnTimer(TNotifyEvent fn) {
  mOnTimer = std::move(fn);
  Restart();
}

void TTimer::Sleep(unsigned upToMs) {
  if (!mEnabled) return;
  if (!mSleeping) gSleepingTimers.push_back(this);
  mSleeping = true;
  if (mId && gBackend) gBackend->StopTimer(mId);
  mId = 0;
  if (upToMs > 0 && mOnTimer && gBackend) {
    auto alive = AliveToken();
    mId = gBackend->StartTimer(upToMs, [this, alive] {
      if (!alive.expired()) Tick();
    });
  }
}

void WakeSleepingTimers() {
  if (gSleepingTimers.empty()) return;
  // Restarting a timer runs no handler, so the list cannot change meanwhile.
  std::vector<TTimer*> sleepers;
  sleepers.swap(gSleepingTimers);
  for (TTimer* t : sleepers) {
    t->mSleeping = false;
    t->Restart();
  }
}

void TTimer::Restart() {
  if (mSleeping) {
    mSleeping = false;
    ForgetSleeper(this);
  }
  if (mId && gBackend) gBackend->StopTimer(mId);
  mId = 0;
  if (mEnabled && mInterval > 0 && mOnTimer && gBackend) {
    auto alive = AliveToken();
    mId = gBackend->StartTimer(mInterval, [this, alive] {
      if (!alive.expired()) Tick();
    });
  }
}

void TTimer::Tick() {
  // A handler that runs a nested loop does not get the next tick inside it.
  if (mFiring || !mOnTimer) return;
  // The deadline of a sleep came: awake again at the own interval.
  if (mSleeping) Restart();
  mFiring = true;
  auto alive = AliveToken();
  TNotifyEvent fn = mOnTimer;
  try {
    fn(this);
  } catch (...) {
    if (!alive.expired()) mFiring = false;
    throw;
  }
  if (!alive.expired()) mFiring = false;
}

// ---- TThread ----

TThread::TThread(bool createSuspended) : mCreateSuspended(createSuspended) {}

void TThread::AfterConstruction() {
  if (!mCreateSuspended) Start();
}

void TThread::BeforeDestruction() {
  mAlive.reset();
  if (mStarted && !mFinished) {
    Terminate();
    WaitFor();
  }
  Forget();
}

void TThread::Forget() {
  if (!mApp) return;
  std::lock_guard lock(mApp->mLock);
  auto& list = mApp->mThreads;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

TThread::~TThread() {
  // Reached without BeforeDestruction (a plain delete) the derived parts
  // are gone already; stopping here is the last resort.
  mAlive.reset();
  if (mStarted && !mFinished) {
    Terminate();
    WaitFor();
  }
  Join();
  Forget();
}

void TThread::SetOnTerminate(TComponent* receiver, TNotifyEvent fn) {
  mOnTerminate = std::move(fn);
  mHasReceiver = receiver != nullptr;
  mReceiver = receiver ? receiver->AliveToken() : std::weak_ptr<void>();
}

void TThread::Start() {
  if (mStarted) return;
  if (!Application) throw std::logic_error("TThread: the window layer is not started");
  mStarted = true;
  mApp = Application;
  mAliveToken = mAlive;
  ++mApp->mRunningThreads;
  {
    std::lock_guard lock(mApp->mLock);
    mApp->mThreads.push_back(this);
  }
  try {
    mThread = std::thread([this] { Run(); });
  } catch (...) {
    --mApp->mRunningThreads;
    Forget();
    mStarted = false;
    throw;
  }
}

void TThread::Run() {
  if (Priority <= tpLowest) {
    // Background work yields to everything else on the machine.
    sched_param param{};
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) != 0) (void)setpriority(PRIO_PROCESS, 0, 19);
  }
  try {
    Execute();
  } catch (...) {
    FatalException = std::current_exception();
  }
  // After mFinished the GUI thread may start destroying this object; it
  // joins this thread first, so the members below stay readable, and the
  // end handler is bound to the token taken at Start.
  TApplication* app = mApp;
  std::weak_ptr<void> alive = mAliveToken;
  // The end handler is queued (and the loop woken) before the thread stops
  // counting as running: a loop that looks in between finds one or the
  // other, never neither (the headless pump would give up, a native loop
  // could sleep past the end). Running it joins this thread first.
  app->QueueCall([this] { DoTerminate(); }, std::move(alive));
  Ending();
  mFinished = true;
  --app->mRunningThreads;
  app->ThreadFinished();
}

void TThread::DoTerminate() {
  Join();
  // The handler may free this thread (and with it the handler): it runs
  // from a copy, and nothing of the object is read after it when it did.
  std::weak_ptr<void> self = mAlive;
  if (mOnTerminate && (!mHasReceiver || !mReceiver.expired())) {
    TNotifyEvent fn = mOnTerminate;
    fn(this);
  }
  if (!self.expired() && FreeOnTerminate) TObject::Free(this);
}

void TThread::Join() {
  std::lock_guard lock(mJoinLock);
  if (mThread.joinable()) mThread.join();
}

int TThread::WaitFor() {
  if (mThread.joinable() && std::this_thread::get_id() == mThread.get_id())
    throw std::logic_error("TThread.WaitFor: a thread cannot wait for itself");
  if (!mStarted) return ReturnValue;
  if (mApp && mApp->IsGuiThread()) mApp->WaitForThread(this);
  Join();
  return ReturnValue;
}

void TThread::Synchronize(const std::function<void()>& fn) {
  if (!Application) throw std::logic_error("TThread: the window layer is not started");
  Application->SynchronizeCall(fn);
}

}  // namespace ui
