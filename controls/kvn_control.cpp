#include "kvn_control.h"

TKVNCustomControl::TKVNCustomControl(ui::TComponent* owner) : TCustomControl(owner) { ControlStyle |= ui::csOpaque; }

TKVNCustomControl::~TKVNCustomControl() {
  if (mScene != nullptr && mScene->OwnerControl() == this) mScene->SetOwnerControl(nullptr);
}

void TKVNCustomControl::SetScene(TRenderingScene* scene) {
  if (mScene != nullptr && mScene != scene && mScene->OwnerControl() == this) mScene->SetOwnerControl(nullptr);
  mScene = scene;
  if (scene == nullptr) return;
  scene->SetOwnerControl(this);
  scene->Invalidate(true, 0, 0);
}

void TKVNCustomControl::Paint() {
  ui::TCanvas& canvas = Canvas();
  if (mScene == nullptr) {
    canvas.Pen.Color = ui::clRed;
    canvas.Pen.Style = ui::psDash;
    canvas.Rectangle(0, 0, Width(), Height());
    return;
  }
  // No new paint is asked for from here: a scene without a bitmap shows
  // nothing until the next paint, when it tries again.
  if (ui::TBitmap* bitmap = mScene->AcquireBitmap()) canvas.Draw(0, 0, *bitmap);
}

intptr_t TKVNCustomControl::WmSize(int width, int height) {
  AlignControls();
  if (mScene != nullptr) mScene->Invalidate(true, width, height);
  return 1;
}

// ---------------------------------------------------------------------------
// TKVNPressControl

TKVNPressControl::TKVNPressControl(ui::TComponent* owner, uint32_t pressFlags)
    : TKVNCustomControl(owner), mPressFlags(pressFlags) {}

intptr_t TKVNPressControl::WmMouseMove(const ui::TMouseMsg& m) {
  HoverAt(m.X, m.Y);
  return 0;
}

intptr_t TKVNPressControl::WmLButtonDown(const ui::TMouseMsg& m) {
  if (mPressFlags & kPressFocusFirst) SetFocus();
  if (mPressFlags & kPressAnywhere) {
    SetPressHeld(true);
    HoverAt(m.X, m.Y);
  } else {
    HoverAt(m.X, m.Y);
    if (!OverFace()) return 0;
    if (mPressFlags & kPressFocusOnFace) SetFocus();
    SetPressHeld(true);
  }
  if (PressHeld()) ui::SetCapture(this);
  return 0;
}

intptr_t TKVNPressControl::WmLButtonUp(const ui::TMouseMsg& m) {
  if (mPressFlags & kTrackOnRelease) HoverAt(m.X, m.Y);
  if (OverFace() && (PressHeld() || (mPressFlags & kReleaseDecides))) {
    auto alive = AliveToken();
    PressAction();
    if (alive.expired()) return 0;
  }
  if (ui::GetCapture() == this) ui::ReleaseCapture();
  return 0;
}

intptr_t TKVNPressControl::WmCaptureChanged() {
  PressLost();
  return 0;
}

intptr_t TKVNPressControl::WmKeyDown(uint16_t& key, ui::TShiftState shift) {
  auto alive = AliveToken();
  TKVNCustomControl::WmKeyDown(key, shift);
  if (!alive.expired() && key != 0 && key == ClickKey()) KeyAction();
  return 0;
}
