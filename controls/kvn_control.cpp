#include "kvn_control.h"

TKVNCustomControl::TKVNCustomControl(ui::TComponent* owner) : TCustomControl(owner) {
  ControlStyle |= ui::csOpaque;
}

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
