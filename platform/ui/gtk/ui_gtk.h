// The window layer's native backend on GTK 3: one top-level window per form
// whose client area shows the form's back buffer through a cairo image
// surface over its rows, native entries and labels laid over it, timers and
// the wake-up on the GLib main context.
#pragma once
#include <cstdint>
#include <memory>

#include "ui_backend.h"

namespace ui {

class GtkBackend : public Backend {
 public:
  // Starts GTK; nullptr when no display can be opened.
  static std::unique_ptr<GtkBackend> Create();
  ~GtkBackend() override;
  const char* Name() const override { return "gtk"; }

  WindowId CreateWindow(TForm* form) override;
  void DestroyWindow(WindowId w) override;
  void SetTitle(WindowId w, const std::string& title) override;
  void SetClientBounds(WindowId w, const TRect& r) override;
  TRect ClientBounds(WindowId w) override;
  void SetStyle(WindowId w, const WindowStyle& style) override;
  void Show(WindowId w) override;
  void Hide(WindowId w) override;
  FrameExtents Frame(WindowId w) override;
  bool IsForeground(WindowId w) override;
  void Present(WindowId w, const TBitmap& buffer, const TRect& r) override;
  void PresentNow(WindowId w, const TBitmap& buffer, const TRect& r) override;
  void SetCursor(WindowId w, TCursor cursor, const TCursorImage* image) override;
  void SetTooltip(WindowId w, const std::string& text) override;
  OverlayId CreateOverlay(WindowId w, OverlayKind kind, OverlayEvents events) override;
  void UpdateOverlay(OverlayId o, const OverlayState& state) override;
  void FocusOverlay(OverlayId o) override;
  void FocusCanvas(WindowId w) override;
  TPoint OverlayNaturalSize(OverlayId o) override;
  void DestroyOverlay(OverlayId o) override;
  TPoint PointerPos() override;
  std::vector<TRect> Monitors() override;
  uint64_t NowMs() override;
  TimerId StartTimer(unsigned ms, std::function<void()> tick) override;
  void StopTimer(TimerId t) override;
  bool PumpOne(bool wait) override;
  void Wakeup() override;
  bool BrowseFolder(WindowId owner, const std::string& title, const std::string& initial, bool allowNew,
                    std::string& path) override;
  bool PageSetupDialog(WindowId owner, TPageSetup& setup) override;

  // The screen as the window system describes it, for callers on any
  // thread: read on the GUI thread when the backend starts and again when
  // the screen's resolution or its monitors change. dpi is the screen's
  // resolution rounded, 96 when it gives none; width and height are the
  // primary monitor's (the first monitor's when none is primary), in the
  // logical pixels the layer works in. All 0 while no GTK backend runs.
  struct ScreenInfo {
    int32_t dpi = 0, width = 0, height = 0;
  };
  static ScreenInfo CurrentScreen();

  // For tests: what the window system shows.
  TRect OverlayAllocation(OverlayId o);  // in client pixels
  TCursor CurrentCursor(WindowId w);
  unsigned long NativeWindowId(WindowId w);  // the X window, 0 elsewhere
  // The form's GtkWindow (as a GtkWidget*), nil for none: the parent of
  // dialogs made above this layer (the print dialog).
  void* NativeWindow(WindowId w);

  struct Impl;

 private:
  GtkBackend();
  std::unique_ptr<Impl> d;
};

}  // namespace ui
