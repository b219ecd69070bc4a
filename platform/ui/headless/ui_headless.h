// The headless backend: windows are records, the back buffer is the
// picture, time is a virtual clock and input is injected by the ui::test
// helpers. Every control and dialog runs under plain CTest with it.
#pragma once
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

#include "ui_app.h"
#include "ui_backend.h"

namespace ui {

class HeadlessBackend : public Backend {
 public:
  // How long a waiting pump waits for a worker thread's call before it
  // gives up (only while worker threads run).
  static constexpr unsigned kWorkerWaitMs = 10000;

  struct Window {
    TForm* Form = nullptr;
    std::string Title;
    TRect Client;
    WindowStyle Style;
    bool Shown = false;
    TCursor Cursor = crArrow;
    std::string Tooltip;
    int Presents = 0;     // every present of a painted area
    int PresentsNow = 0;  // those that had to reach the screen at once
  };
  struct Overlay {
    WindowId Window = 0;
    OverlayKind Kind = OverlayKind::Edit;
    OverlayState State;
    OverlayEvents Events;
  };

  HeadlessBackend();
  const char* Name() const override { return "headless"; }

  WindowId CreateWindow(TForm* form) override;
  void DestroyWindow(WindowId w) override;
  void SetTitle(WindowId w, const std::string& title) override;
  void SetClientBounds(WindowId w, const TRect& r) override;
  TRect ClientBounds(WindowId w) override;
  void SetStyle(WindowId w, const WindowStyle& style) override;
  void Show(WindowId w) override;
  void Hide(WindowId w) override;
  FrameExtents Frame(WindowId) override { return {}; }
  bool IsForeground(WindowId w) override { return w != 0 && w == mForeground; }
  void Present(WindowId w, const TBitmap& buffer, const TRect& r) override;
  void PresentNow(WindowId w, const TBitmap& buffer, const TRect& r) override;
  void SetCursor(WindowId w, TCursor cursor, const TCursorImage* image) override;
  void SetTooltip(WindowId w, const std::string& text) override;
  OverlayId CreateOverlay(WindowId w, OverlayKind kind, OverlayEvents events) override;
  void UpdateOverlay(OverlayId o, const OverlayState& state) override;
  void FocusOverlay(OverlayId o) override { mFocusedOverlay = o; }
  void FocusCanvas(WindowId) override { mFocusedOverlay = 0; }
  TPoint OverlayNaturalSize(OverlayId o) override;
  void DestroyOverlay(OverlayId o) override;
  TPoint PointerPos() override { return mPointer; }
  std::vector<TRect> Monitors() override { return mMonitors; }
  uint64_t NowMs() override { return mNow; }
  TimerId StartTimer(unsigned ms, std::function<void()> tick) override;
  void StopTimer(TimerId t) override;
  bool PumpOne(bool wait) override;
  void Wakeup() override;
  bool BrowseFolder(WindowId owner, const std::string& title, const std::string& initial, bool allowNew,
                    std::string& path) override;
  bool PageSetupDialog(WindowId owner, TPageSetup& setup) override;

  // Test side.
  const Window* FindWindow(WindowId w) const;
  const Overlay* FindOverlay(OverlayId o) const;
  OverlayId FocusedOverlay() const { return mFocusedOverlay; }
  // The user changes a native edit's text (the widget's own text first,
  // then the notice).
  void UserEdit(OverlayId o, const std::string& text);
  // The foreground window or the pointer changes: what a real window
  // system reports with an event, so sleeping hover timers wake.
  void SetForeground(WindowId w) {
    mForeground = w;
    WakeSleepingTimers();
  }
  void SetPointer(TPoint p) {
    mPointer = p;
    WakeSleepingTimers();
  }
  void SetMonitors(std::vector<TRect> m) { mMonitors = std::move(m); }
  // Timers started and not stopped (a sleeping TTimer has none).
  size_t RunningTimers() const { return mTimers.size(); }
  // Fires every timer due up to now + ms in due order (ties in the order
  // the timers were started); a timer re-arms before its handler runs.
  void Advance(uint64_t ms);
  // Time passes without the loop running (a long paint, work on the GUI
  // thread): the clock moves and the timers that fell due fire when the
  // loop next pumps, each once however many intervals it missed.
  void Elapse(uint64_t ms) { mNow += ms; }
  void Script(std::function<void()> action) { mScript.push_back(std::move(action)); }
  size_t ScriptLeft() const { return mScript.size(); }
  struct FolderAnswer {
    std::optional<std::string> Path;  // nullopt: cancelled
    std::string Title, Initial;
    bool AllowNew = false;
  };
  void ScriptFolder(std::optional<std::string> path) { mFolderAnswers.push_back({std::move(path), {}, {}, false}); }
  const std::vector<FolderAnswer>& FolderAsked() const { return mFolderAsked; }
  void ScriptPageSetup(std::optional<TPageSetup> answer) { mPageAnswers.push_back(std::move(answer)); }
  // Waits up to ms of real time for a Wakeup; true when one came.
  bool WaitWakeup(unsigned ms);

 private:
  // Fires every timer due up to target in due order; true when one fired.
  bool FireDue(uint64_t target);
  struct Timer {
    uint64_t Due = 0;
    unsigned Interval = 0;
    std::shared_ptr<std::function<void()>> Tick;
  };
  std::map<WindowId, Window> mWindows;
  std::map<OverlayId, Overlay> mOverlays;
  std::map<TimerId, Timer> mTimers;
  uint64_t mNextId = 1;
  WindowId mForeground = 0;
  OverlayId mFocusedOverlay = 0;
  TPoint mPointer{-10000, -10000};
  std::vector<TRect> mMonitors;
  uint64_t mNow = 0;
  std::deque<std::function<void()>> mScript;
  std::deque<FolderAnswer> mFolderAnswers;
  std::vector<FolderAnswer> mFolderAsked;
  std::deque<std::optional<TPageSetup>> mPageAnswers;
  std::mutex mWakeLock;
  std::condition_variable mWakeCv;
  bool mWoken = false;
};

namespace test {

// Starts the layer on a fresh headless backend for one test and stops it
// (freeing every form left) at the end.
class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
};

HeadlessBackend& Headless();

// Input at form client pixels; the pointer moves there first.
void MouseMove(TForm* f, int x, int y, TShiftState shift = 0);
void MouseDown(TForm* f, int x, int y, TMouseButton b = mbLeft, TShiftState shift = 0);
void MouseUp(TForm* f, int x, int y, TMouseButton b = mbLeft, TShiftState shift = 0);
void Click(TForm* f, int x, int y);
void Wheel(TForm* f, int x, int y, int delta, TShiftState shift = 0);
void MouseLeave(TForm* f);
// Key down, its character (when it has one) and key up; a focused native
// edit takes the character when the layer left it.
void Key(TForm* f, uint16_t key, TShiftState shift = 0);
// The user types into a native edit.
void TypeText(TEdit* e, const std::string& text);
void CloseBox(TForm* f);
void ResizeClient(TForm* f, int w, int h);
void SetForeground(TForm* f);
void Advance(uint64_t ms);
void Elapse(uint64_t ms);
// Runs an action when the program next waits (one per wait).
void Script(std::function<void()> action);
// The form's back buffer after every pending paint.
const TBitmap& Snapshot(TForm* f);
// Serves the loop in real time until pred holds: false after timeout.
bool PumpUntil(const std::function<bool()>& pred, unsigned timeoutMs);

}  // namespace test
}  // namespace ui
