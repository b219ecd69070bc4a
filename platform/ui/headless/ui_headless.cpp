#include "ui_headless.h"

#include <chrono>
#include <stdexcept>

namespace ui {

HeadlessBackend::HeadlessBackend() : mMonitors{{0, 0, 1024, 768}} {}

WindowId HeadlessBackend::CreateWindow(TForm* form) {
  WindowId id = mNextId++;
  mWindows[id].Form = form;
  return id;
}

void HeadlessBackend::DestroyWindow(WindowId w) {
  mWindows.erase(w);
  for (auto it = mOverlays.begin(); it != mOverlays.end();)
    it = it->second.Window == w ? mOverlays.erase(it) : std::next(it);
  if (mForeground == w) mForeground = 0;
}

void HeadlessBackend::SetTitle(WindowId w, const std::string& title) {
  if (auto it = mWindows.find(w); it != mWindows.end()) it->second.Title = title;
}

void HeadlessBackend::SetClientBounds(WindowId w, const TRect& r) {
  if (auto it = mWindows.find(w); it != mWindows.end()) it->second.Client = r;
}

TRect HeadlessBackend::ClientBounds(WindowId w) {
  auto it = mWindows.find(w);
  return it == mWindows.end() ? TRect{} : it->second.Client;
}

void HeadlessBackend::SetStyle(WindowId w, const WindowStyle& style) {
  if (auto it = mWindows.find(w); it != mWindows.end()) it->second.Style = style;
}

void HeadlessBackend::Show(WindowId w) {
  auto it = mWindows.find(w);
  if (it == mWindows.end()) return;
  it->second.Shown = true;
  WindowId old = mForeground;
  mForeground = w;
  if (old != w) {
    if (auto o = mWindows.find(old); o != mWindows.end()) o->second.Form->InputActivated(false);
    // The deactivation handler may have destroyed the window being shown.
    it = mWindows.find(w);
    if (it != mWindows.end() && mForeground == w) it->second.Form->InputActivated(true);
  }
}

void HeadlessBackend::Hide(WindowId w) {
  auto it = mWindows.find(w);
  if (it == mWindows.end()) return;
  it->second.Shown = false;
  if (mForeground == w) {
    mForeground = 0;
    it->second.Form->InputActivated(false);
    // The window below takes the foreground: the latest shown one.
    for (auto r = mWindows.rbegin(); r != mWindows.rend(); ++r)
      if (r->second.Shown && r->second.Form->InputEnabled()) {
        mForeground = r->first;
        r->second.Form->InputActivated(true);
        break;
      }
  }
}

void HeadlessBackend::Present(WindowId w, const TBitmap&, const TRect&) {
  if (auto it = mWindows.find(w); it != mWindows.end()) ++it->second.Presents;
}

void HeadlessBackend::PresentNow(WindowId w, const TBitmap&, const TRect& r) {
  auto it = mWindows.find(w);
  if (it == mWindows.end()) return;
  ++it->second.PresentsNow;
  if (!r.IsEmpty()) ++it->second.Presents;
}

void HeadlessBackend::SetCursor(WindowId w, TCursor cursor, const TCursorImage*) {
  if (auto it = mWindows.find(w); it != mWindows.end()) it->second.Cursor = cursor;
}

void HeadlessBackend::SetTooltip(WindowId w, const std::string& text) {
  if (auto it = mWindows.find(w); it != mWindows.end()) it->second.Tooltip = text;
}

OverlayId HeadlessBackend::CreateOverlay(WindowId w, OverlayKind kind, OverlayEvents events) {
  if (!mWindows.count(w)) return 0;
  OverlayId id = mNextId++;
  mOverlays[id] = {w, kind, {}, std::move(events)};
  return id;
}

void HeadlessBackend::UpdateOverlay(OverlayId o, const OverlayState& state) {
  if (auto it = mOverlays.find(o); it != mOverlays.end()) it->second.State = state;
}

TPoint HeadlessBackend::OverlayNaturalSize(OverlayId o) {
  auto it = mOverlays.find(o);
  if (it == mOverlays.end()) return {};
  // Without fonts: half the font's pixel height per byte, one line high.
  return PlainTextSize(it->second.State.Font, it->second.State.Text.size());
}

void HeadlessBackend::UserEdit(OverlayId o, const std::string& text) {
  auto it = mOverlays.find(o);
  if (it == mOverlays.end()) return;
  it->second.State.Text = text;
  auto changed = it->second.Events.Changed;  // the notice may destroy the overlay
  if (changed) changed(text);
}

void HeadlessBackend::DestroyOverlay(OverlayId o) {
  mOverlays.erase(o);
  if (mFocusedOverlay == o) mFocusedOverlay = 0;
}

TimerId HeadlessBackend::StartTimer(unsigned ms, std::function<void()> tick) {
  TimerId id = mNextId++;
  mTimers[id] = {mNow + ms, ms, std::make_shared<std::function<void()>>(std::move(tick))};
  return id;
}

void HeadlessBackend::StopTimer(TimerId t) { mTimers.erase(t); }

bool HeadlessBackend::FireDue(uint64_t target) {
  bool any = false;
  for (;;) {
    auto next = mTimers.end();
    for (auto it = mTimers.begin(); it != mTimers.end(); ++it)
      if (it->second.Due <= target && (next == mTimers.end() || it->second.Due < next->second.Due)) next = it;
    if (next == mTimers.end()) return any;
    mNow = std::max(mNow, next->second.Due);
    next->second.Due = mNow + std::max(next->second.Interval, 1u);
    auto tick = next->second.Tick;  // the handler may stop its own timer
    any = true;
    (*tick)();
  }
}

void HeadlessBackend::Advance(uint64_t ms) {
  uint64_t target = mNow + ms;
  FireDue(target);
  mNow = std::max(mNow, target);
}

bool HeadlessBackend::WaitWakeup(unsigned ms) {
  std::unique_lock lock(mWakeLock);
  mWakeCv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return mWoken; });
  bool woken = mWoken;
  mWoken = false;
  return woken;
}

void HeadlessBackend::Wakeup() {
  {
    std::lock_guard lock(mWakeLock);
    mWoken = true;
  }
  mWakeCv.notify_all();
}

bool HeadlessBackend::PumpOne(bool wait) {
  bool any = false;
  {
    std::lock_guard lock(mWakeLock);
    any = mWoken;
    mWoken = false;
  }
  // Timers that fell due while the clock moved without the loop (Elapse).
  any = FireDue(mNow) || any;
  if (any || !wait) return any;
  if (!mScript.empty()) {
    auto action = std::move(mScript.front());
    mScript.pop_front();
    action();
    return true;
  }
  // Only a worker thread can still bring something: wait for it, bounded.
  if (Application && Application->RunningThreads() > 0 && WaitWakeup(kWorkerWaitMs)) return true;
  throw EBackendFault("headless pump: the program waits but nothing is scripted, due or queued");
}

bool HeadlessBackend::BrowseFolder(WindowId, const std::string& title, const std::string& initial, bool allowNew,
                                   std::string& path) {
  if (mFolderAnswers.empty()) throw EBackendFault("headless folder dialog: no answer scripted");
  FolderAnswer a = std::move(mFolderAnswers.front());
  mFolderAnswers.pop_front();
  mFolderAsked.push_back({a.Path, title, initial, allowNew});
  if (!a.Path) return false;
  path = *a.Path;
  return true;
}

bool HeadlessBackend::PageSetupDialog(WindowId, TPageSetup& setup) {
  if (mPageAnswers.empty()) throw EBackendFault("headless page setup dialog: no answer scripted");
  auto a = std::move(mPageAnswers.front());
  mPageAnswers.pop_front();
  if (!a) return false;
  setup = *a;
  return true;
}

const HeadlessBackend::Window* HeadlessBackend::FindWindow(WindowId w) const {
  auto it = mWindows.find(w);
  return it == mWindows.end() ? nullptr : &it->second;
}

const HeadlessBackend::Overlay* HeadlessBackend::FindOverlay(OverlayId o) const {
  auto it = mOverlays.find(o);
  return it == mOverlays.end() ? nullptr : &it->second;
}

namespace test {

Session::Session() { Start(std::make_unique<HeadlessBackend>()); }
Session::~Session() { Stop(); }

HeadlessBackend& Headless() {
  auto* b = Application ? dynamic_cast<HeadlessBackend*>(&Application->GetBackend()) : nullptr;
  if (!b) throw std::logic_error("ui::test: the layer does not run on the headless backend");
  return *b;
}

namespace {
void MovePointer(TForm* f, int x, int y) { Headless().SetPointer(f->ClientToScreen({x, y})); }
uint16_t ButtonFlag(TMouseButton b) { return b == mbLeft ? ssLeft : b == mbRight ? ssRight : ssMiddle; }
}  // namespace

void MouseMove(TForm* f, int x, int y, TShiftState shift) {
  MovePointer(f, x, y);
  f->InputMouseMove(x, y, shift);
}

void MouseDown(TForm* f, int x, int y, TMouseButton b, TShiftState shift) {
  MovePointer(f, x, y);
  f->InputMouseButton(b, true, x, y, shift | ButtonFlag(b));
}

void MouseUp(TForm* f, int x, int y, TMouseButton b, TShiftState shift) {
  MovePointer(f, x, y);
  f->InputMouseButton(b, false, x, y, shift);
}

void Click(TForm* f, int x, int y) {
  MouseMove(f, x, y);
  MouseDown(f, x, y);
  MouseUp(f, x, y);
}

void Wheel(TForm* f, int x, int y, int delta, TShiftState shift) {
  MovePointer(f, x, y);
  f->InputWheel(delta, x, y, shift);
}

void MouseLeave(TForm* f) {
  Headless().SetPointer({-10000, -10000});
  f->InputMouseLeave();
}

void Key(TForm* f, uint16_t key, TShiftState shift) {
  auto alive = f->AliveToken();
  f->InputKeyDown(key, shift);
  char ch = 0;
  if (key == VK_BACK || key == VK_RETURN || key == VK_ESCAPE || key == VK_SPACE) ch = char(key);
  if (key >= '0' && key <= '9') ch = char(key);
  if (key >= 'A' && key <= 'Z') ch = char((shift & ssShift) ? key : key + 32);
  if (ch && !alive.expired() && !f->InputChar(ch) && !alive.expired()) {
    // The native edit's own handling of the character.
    if (auto* e = dynamic_cast<TEdit*>(f->ActiveControl()); e && ch >= 32) {
      if (auto* o = Headless().FindOverlay(e->Overlay())) Headless().UserEdit(e->Overlay(), o->State.Text + ch);
    }
  }
  if (!alive.expired()) f->InputKeyUp(key, shift);
}

void TypeText(TEdit* e, const std::string& text) {
  auto* o = Headless().FindOverlay(e->Overlay());
  if (!o) throw std::logic_error("ui::test::TypeText: the edit has no native widget");
  if (o->Events.GotFocus) o->Events.GotFocus();
  Headless().UserEdit(e->Overlay(), text);
}

void CloseBox(TForm* f) { f->InputCloseRequest(); }

void ResizeClient(TForm* f, int w, int h) {
  f->InputClientResized(w, h);
  Headless().SetClientBounds(
      f->Handle(), Bounds(Headless().ClientBounds(f->Handle()).Left, Headless().ClientBounds(f->Handle()).Top, w, h));
}

void SetForeground(TForm* f) { Headless().SetForeground(f ? f->Handle() : 0); }

void Advance(uint64_t ms) { Headless().Advance(ms); }

void Elapse(uint64_t ms) { Headless().Elapse(ms); }

void Script(std::function<void()> action) { Headless().Script(std::move(action)); }

const TBitmap& Snapshot(TForm* f) {
  Application->PaintAll();
  if (f->PaintPending()) f->PaintDirty();
  return f->BackBuffer();
}

bool PumpUntil(const std::function<bool()>& pred, unsigned timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    Application->ProcessMessages();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Headless().WaitWakeup(5);
  }
}

}  // namespace test
}  // namespace ui
