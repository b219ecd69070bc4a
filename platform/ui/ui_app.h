// The application object and its loop, the screen, the mouse, timers,
// threads and mutexes, and the layer's start and stop.
#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui_backend.h"
#include "ui_controls.h"

namespace ui {

class TThread;

// The text of an exception (what() of a standard one) for an error line or
// a dialog.
std::string exception_text(std::exception_ptr error);

class TApplication : public TComponent {
 public:
  explicit TApplication(Backend* backend);
  ~TApplication() override;

  Backend& GetBackend() const { return *mBackend; }
  void Initialize() {}
  // Creates a form owned by the application; the first one is the main form.
  template <class T, class... A>
  T* CreateForm(A&&... args) {
    T* form = Create<T>(this, std::forward<A>(args)...);
    if (!MainForm) MainForm = form;
    return form;
  }
  // Shows the main form and runs the loop until Terminate.
  void Run();
  void Terminate() { mTerminated = true; }
  bool Terminated() const { return mTerminated; }
  // Serves everything ready now without waiting.
  void ProcessMessages();
  // Serves one round (the queued calls, the ready input and timers, then
  // the paints), waiting for an event when none of them had anything. An
  // exception that leaves an event handler in the round ends there: it goes
  // to HandleException and the loop goes on. Only EBackendFault passes.
  void HandleMessage();
  // Reports an exception that left an event handler: a line on stderr
  // ("<Title>: <what>: <text>"), then OnException when set (the program
  // shows it to the user in a dialog). A reporter that throws is logged and
  // otherwise ignored; an error that comes while OnException runs is only
  // logged. Never throws.
  void HandleException(std::exception_ptr error, const char* what = "error in an event handler");
  // The same report made by the loop's next round on the GUI thread:
  // callable from any thread, and from code that must finish what it does
  // first (a paint, a scene's render). `what` must be a literal.
  void ReportLater(std::exception_ptr error, const char* what);
  std::function<void(std::exception_ptr)> OnException;
  std::string Title;
  TForm* MainForm = nullptr;
  void CancelHint();

  // Runs fn on the GUI thread from the loop; callable from any thread. A
  // call bound to an alive token is dropped once the token expired (an
  // empty token counts as expired).
  void QueueCall(std::function<void()> fn);
  void QueueCall(std::function<void()> fn, std::weak_ptr<void> alive);
  bool IsGuiThread() const { return std::this_thread::get_id() == mGuiThread; }
  // Worker side of TThread::Synchronize.
  void SynchronizeCall(const std::function<void()>& fn);
  // Waits on the GUI thread for a worker to finish, serving only its (and
  // other workers') Synchronize calls meanwhile.
  void WaitForThread(TThread* t);
  int RunningThreads() const { return mRunningThreads.load(); }
  // At the stop: asks every started thread to stop, waits for each
  // (serving their Synchronize calls), frees those that free themselves and
  // detaches the rest from the application.
  void StopThreads();

  // Runs the queued calls now: for backends whose own nested loops (native
  // dialogs) must keep serving them.
  void ServeQueued() { RunQueued(); }
  // Marks that some form has areas to paint.
  void PaintPending() { mPaintPending = true; }
  void PaintAll();

 private:
  friend class TThread;
  struct SyncRequest {
    const std::function<void()>* fn = nullptr;
    bool done = false;
    std::exception_ptr error;
  };
  struct QueuedCall {
    std::function<void()> fn;
    std::weak_ptr<void> alive;
    bool bound = false;
  };
  bool RunQueued();
  bool RunOneSync(std::unique_lock<std::mutex>& lock);
  void ThreadFinished();

  Backend* mBackend;
  std::thread::id mGuiThread;
  bool mTerminated = false;
  bool mPaintPending = false;
  bool mReporting = false;  // inside OnException: a second error is only logged
  std::mutex mLock;
  std::condition_variable mCv;
  std::deque<SyncRequest*> mSync;
  std::deque<QueuedCall> mQueue;
  std::atomic<int> mRunningThreads{0};
  std::vector<TThread*> mThreads;  // started and not yet freed
};

struct TMonitor {
  int MonitorNum = 0;
  TRect BoundsRect;
  int Left() const { return BoundsRect.Left; }
  int Top() const { return BoundsRect.Top; }
  int Width() const { return BoundsRect.Width(); }
  int Height() const { return BoundsRect.Height(); }
};

class TScreen {
 public:
  // The cursor picture in a slot (1 and up), or nullptr.
  const TCursorImage* Cursors(int slot) const;
  void SetCursors(int slot, TCursorImage image);
  // A cursor other than crDefault overrides every control's.
  TCursor Cursor() const { return mCursor; }
  void SetCursor(TCursor c);
  int Width() const;
  int Height() const;
  int MonitorCount() const;
  TMonitor Monitors(int i) const;
  int FormCount() const { return int(mForms.size()); }
  TForm* Forms(int i) const { return mForms.at(size_t(i)); }
  TForm* ActiveForm() const;

 private:
  friend class TForm;
  std::vector<std::pair<int, TCursorImage>> mCursors;
  TCursor mCursor = crDefault;
  std::vector<TForm*> mForms;
};

class TMouse {
 public:
  TPoint CursorPos() const;
};

// The layer's globals, valid between Start and Stop.
extern TApplication* Application;
extern TScreen* Screen;
extern TMouse* Mouse;

// Starts the layer on a backend (the calling thread becomes the GUI
// thread); Stop frees every form still alive, then the backend.
void Start(std::unique_ptr<Backend> backend);
void Stop();
bool Started();

// Sets the cursor of the window under the pointer at once, as it stays
// until the pointer moves.
void SetCursorNow(TCursor c);
// The folder dialog: false when cancelled.
bool BrowseFolder(const std::string& title, const std::string& initial, bool allowNew, std::string& path);
bool PageSetupDialog(TPageSetup& setup);
// The layer's millisecond clock (the virtual clock under the headless
// backend).
uint64_t TickCount();
// Wakes every sleeping timer (TTimer::Sleep). The layer calls it on pointer
// input, a window's activation, move or resize, and a control shown,
// hidden, moved or re-parented: what the hover timers read (the pointer's
// last position, the foreground window, where controls are) changes only
// then. Anything else that such a timer watches calls it when it changes.
void WakeSleepingTimers();

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner = nullptr);
  ~TTimer() override;
  unsigned Interval() const { return mInterval; }
  void SetInterval(unsigned ms);
  bool Enabled() const { return mEnabled; }
  void SetEnabled(bool v);
  const TNotifyEvent& OnTimer() const { return mOnTimer; }
  void SetOnTimer(TNotifyEvent fn);
  // Stops the ticks of an enabled timer until something that a hover test
  // reads may have changed (WakeSleepingTimers); the next tick then comes
  // one interval after that. A hover timer whose control shows no hover and
  // runs no animation sleeps, so a still window wakes nobody. With upToMs
  // above 0 one tick comes at the latest that long after (for a clock),
  // and the timer is awake again from it. The timer stays Enabled; a new
  // interval or handler, or disabling it, ends the sleep too.
  void Sleep(unsigned upToMs = 0);
  bool Sleeping() const { return mSleeping; }
  // Ends this timer's sleep alone.
  void Wake() {
    if (mSleeping) Restart();
  }

 private:
  friend void WakeSleepingTimers();
  void Restart();
  void Tick();
  unsigned mInterval = 1000;
  bool mEnabled = true;
  bool mSleeping = false;
  bool mFiring = false;
  TNotifyEvent mOnTimer;
  TimerId mId = 0;
};

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest };
using enum TThreadPriority;

// A worker thread: Execute runs on its own thread; OnTerminate runs later on
// the GUI thread (dropped when its receiver was destroyed).
class TThread : public TObject {
 public:
  explicit TThread(bool createSuspended);
  ~TThread() override;
  void AfterConstruction() override;
  // A running thread is stopped and waited for here, while the object is
  // still whole: free threads with TObject::Free.
  void BeforeDestruction() override;
  void Start();
  void Resume() { Start(); }
  void Terminate() { mTerminated = true; }
  bool Terminated() const { return mTerminated; }
  bool Finished() const { return mFinished; }
  // Waits for Execute to end; on the GUI thread Synchronize calls are
  // served meanwhile. Answers ReturnValue.
  int WaitFor();
  bool FreeOnTerminate = false;
  TThreadPriority Priority = tpNormal;
  int ReturnValue = 0;
  std::exception_ptr FatalException;
  void SetOnTerminate(TComponent* receiver, TNotifyEvent fn);

 protected:
  virtual void Execute() = 0;
  // Runs fn on the GUI thread and waits until it ran; an exception it
  // raises comes back here.
  void Synchronize(const std::function<void()>& fn);
  // Runs on the worker after Execute, once the end handler is queued and
  // before the thread counts as finished: a seam for tests of that order.
  virtual void Ending() {}

 private:
  friend class TApplication;
  void Run();
  void DoTerminate();
  void Join();
  // Leaves the application's list of threads.
  void Forget();
  std::thread mThread;
  std::mutex mJoinLock;
  std::atomic<bool> mTerminated{false};
  std::atomic<bool> mFinished{false};
  bool mStarted = false;
  bool mCreateSuspended = false;
  TNotifyEvent mOnTerminate;
  std::weak_ptr<void> mReceiver;
  bool mHasReceiver = false;
  std::shared_ptr<int> mAlive = std::make_shared<int>(0);
  std::weak_ptr<void> mAliveToken;  // taken at Start, before any destruction
  TApplication* mApp = nullptr;
};

// A mutex that the owning thread may take again, as the system's mutexes.
class TMutex {
 public:
  void Acquire() { mMutex.lock(); }
  void Release() { mMutex.unlock(); }
  bool TryAcquire() { return mMutex.try_lock(); }

 private:
  std::recursive_mutex mMutex;
};

}  // namespace ui
