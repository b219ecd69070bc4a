// The one seam between the window layer and a window system. The layer owns
// the control tree, the back buffers, routing, focus, layout and modality; a
// backend only shows windows, presents back-buffer rectangles, passes input
// in (through the TForm::Input* entry points), hosts native edit and label
// overlays, answers queries and runs timers and the wait for events.
#pragma once
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui_graphics.h"

namespace ui {

// The backend itself cannot go on: the headless backend asked to wait with
// nothing scripted, due or queued, or a dialog with no scripted answer. It is
// no event handler's error, so the loop passes it on to its caller instead of
// reporting it (TApplication::HandleException).
class EBackendFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TForm;
class TControl;

using WindowId = uint64_t;   // 0 = none
using OverlayId = uint64_t;  // 0 = none
using TimerId = uint64_t;    // 0 = none

// Cursor numbers: the stock shapes are negative, 0 means "the parent's",
// positive numbers are slots of TScreen::Cursors.
using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crHandPoint = -21;

// A platform-neutral cursor picture: 32x32 pixels 0xAARRGGBB, rows top-down.
struct TCursorImage {
  static constexpr int kSide = 32;
  std::vector<uint32_t> Pixels;  // kSide * kSide
  int HotX = 0;
  int HotY = 0;
};

struct WindowStyle {
  bool Resizable = true;
  int MinClientWidth = 0;
  int MinClientHeight = 0;
  bool KeepAbove = false;
  bool ToolWindow = false;
  bool Deletable = true;    // has a close box
  bool Minimizable = true;  // has a minimise box
  bool Maximizable = true;  // has a maximise box
  // The window system chooses where the window first shows: the position
  // of SetClientBounds is not applied before the window was shown once.
  bool DefaultPosition = false;
  bool Decorated = true;
  bool Modal = false;
  WindowId Transient = 0;  // owner window kept below this one
};

// Border sizes around the client area.
struct FrameExtents {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
};

enum class OverlayKind { Edit, Label };

// What a native overlay shows; bounds are in the form's client pixels.
struct OverlayState {
  TRect Bounds;
  std::string Text;
  TFont Font;
  TColor Color = clWindow;
  bool Visible = true;
  bool Enabled = true;
  bool Border = true;
  bool NumbersOnly = false;
  int MaxLength = 0;
};

// Callbacks from a native overlay into its control.
struct OverlayEvents {
  std::function<void(const std::string&)> Changed;  // the user changed the text
  std::function<void()> GotFocus;                   // the native widget took the focus
};

struct TPageSetup {
  std::string PrinterName;
  std::string FormName;
  bool Landscape = false;
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual const char* Name() const = 0;

  // Windows. Positions are screen pixels of the client area's top-left.
  virtual WindowId CreateWindow(TForm* form) = 0;
  virtual void DestroyWindow(WindowId w) = 0;
  virtual void SetTitle(WindowId w, const std::string& title) = 0;
  virtual void SetClientBounds(WindowId w, const TRect& r) = 0;
  virtual TRect ClientBounds(WindowId w) = 0;
  virtual void SetStyle(WindowId w, const WindowStyle& style) = 0;
  virtual void Show(WindowId w) = 0;  // shows and raises; painted before it returns
  virtual void Hide(WindowId w) = 0;
  virtual FrameExtents Frame(WindowId w) = 0;
  virtual bool IsForeground(WindowId w) = 0;

  // Drawing: the form's back buffer (pf32bit) changed inside r; the window
  // shows it when the loop next runs.
  virtual void Present(WindowId w, const TBitmap& buffer, const TRect& r) = 0;
  // The same, but the screen shows r, and every area presented before, when
  // this returns (r may be empty: then only the earlier areas).
  virtual void PresentNow(WindowId w, const TBitmap& buffer, const TRect& r) = 0;
  virtual void SetCursor(WindowId w, TCursor cursor, const TCursorImage* image) = 0;
  virtual void SetTooltip(WindowId w, const std::string& text) = 0;

  // Native overlays.
  virtual OverlayId CreateOverlay(WindowId w, OverlayKind kind, OverlayEvents events) = 0;
  virtual void UpdateOverlay(OverlayId o, const OverlayState& state) = 0;
  virtual void FocusOverlay(OverlayId o) = 0;
  // Gives the keyboard focus back to the window's own canvas.
  virtual void FocusCanvas(WindowId w) = 0;
  // The natural size of an overlay's content (labels size themselves).
  virtual TPoint OverlayNaturalSize(OverlayId o) = 0;
  virtual void DestroyOverlay(OverlayId o) = 0;

  // Queries.
  virtual TPoint PointerPos() = 0;
  virtual std::vector<TRect> Monitors() = 0;  // in order, the primary first
  virtual uint64_t NowMs() = 0;               // a monotonic millisecond clock

  // The loop. Timer ticks and input run inside PumpOne; Wakeup may be
  // called from any thread and makes a waiting (or the next) PumpOne return.
  // A backend that cannot go on (the headless one waiting with nothing
  // scripted) throws EBackendFault, which the loop passes on.
  virtual TimerId StartTimer(unsigned ms, std::function<void()> tick) = 0;
  virtual void StopTimer(TimerId t) = 0;
  virtual bool PumpOne(bool wait) = 0;
  virtual void Wakeup() = 0;

  // Dialogs: false when cancelled.
  virtual bool BrowseFolder(WindowId owner, const std::string& title, const std::string& initial, bool allowNew,
                            std::string& path) = 0;
  virtual bool PageSetupDialog(WindowId owner, TPageSetup& setup) = 0;
};

}  // namespace ui
