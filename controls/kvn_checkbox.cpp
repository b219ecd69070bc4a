#include "kvn_checkbox.h"

#include "qlm_font.h"
#include "qlm_renderer.h"
#include "qlm_renderer_hittest.h"

// ---------------------------------------------------------------------------
// TCheckBoxScene

TCheckBoxScene::TCheckBoxScene() : mHitTest(std::make_unique<cHitTest>()), mFont(std::make_unique<cFontWinTT>()) {
  mFont->SetFace(mFontFace, mFontStyle, 0);
  mFont->SetSizePt(mFontSize);
  StartTimer(100);
}

TCheckBoxScene::~TCheckBoxScene() = default;

void TCheckBoxScene::SetFontFace(const std::string& v) {
  mFont->SetName(v);
  Set(mFontFace, v);
}

void TCheckBoxScene::SetFontSize(double v) {
  mFont->SetSizePt(v);
  Set(mFontSize, v);
}

void TCheckBoxScene::SetFontStyle(sTextStyle v) {
  mFont->SetStyle(v);
  Set(mFontStyle, v);
}

void TCheckBoxScene::RenderFrame(int32_t width, int32_t height) {
  cRenderer& r = *Renderer();
  const double W = width, H = height;
  r.ClearARGB(control_background(OwnerControl(), mMasterColor));
  mHitTest->Reset();
  r.SetFont(mFont.get());

  // A nearly invisible rectangle makes the whole control clickable.
  r.PenOff();
  r.SetFillColorRGB(0xFFFFFF, 1);
  r.DrawRectangle(mHitTest.get(), 0, 0, W, H);

  if (!mEnabled) r.SetTextColorARGB(cnCheckDarkGrey);
  r.SetPenColorARGB(!mEnabled ? cnCheckDarkGrey : mFocused ? cnCheckDodgerBlue : cnCheckGoldenrod);
  r.SetPenWidth(2.0);
  r.FillOff();
  r.PenOn();
  if (mIsRadio)
    r.DrawCircle(nullptr, 6, (H - 10) / 2 + 5, 5);
  else
    r.DrawRoundRectXYWH(nullptr, 1, (H - 10) / 2, 10, 10, 3);

  if (mChecked) {
    r.PenOff();
    r.SetFillColorARGB(mEnabled ? cnCheckGoldenrod : cnCheckDarkGrey);
    if (mIsRadio)
      r.DrawCircle(nullptr, 6, (H - 5) / 2 + 2.5, 2.5);
    else
      r.DrawRoundRectXYWH(nullptr, 3.5, (H - 5) / 2, 5, 5, 1);
  }

  // The caption, shrunk about its anchor to the room right of the box; no
  // room, or nothing to draw, draws nothing.
  const double ax = 19, ay = H / 2, room = W - 19;
  const double tw = r.TextWidth(mCaption);
  mCaptionScale = 0;
  if (!(room > 0) || !(tw > 0)) return;
  mCaptionScale = 1;
  if (tw > room) {
    mCaptionScale = room / tw;
    r.Translate(-ax, -ay);
    r.Scale(mCaptionScale, mCaptionScale);
    r.Translate(ax, ay);
  }
  r.SetTextAlign(ALIGN_LEFT, ALIGN_CENTER);
  if (mHovered && mEnabled) {
    r.PenOn();
    r.FillOn();
    r.SetGrowShadow(1.0);
    r.SetShadowBlurred(true);
    r.SetShadowBlur(5.0);
    r.SetShadowColorARGB(mPressed ? cnCheckLimeGreen : cnCheckDodgerBlue);
  }
  r.DrawText(mCaption, ax, ay, nullptr);
}

void TCheckBoxScene::TimerTick() {
  // Only a hover needs watching; a mouse message that brings one
  // invalidates the scene, which wakes the timer.
  if (!mHovered) {
    SleepTimer();
    return;
  }
  const TKVNCustomControl* control = OwnerControl();
  bool still = false;
  if (control != nullptr && ui::Mouse != nullptr) {
    const ui::TPoint p = control->ScreenToClient(ui::Mouse->CursorPos());
    still = scene_hits(this, mHitTest.get(), control, p.X, p.Y);
  }
  if (!still) Set(mHovered, false);
}

// ---------------------------------------------------------------------------
// TKVNCheckBox

TKVNCheckBox::TKVNCheckBox(ui::TComponent* owner)
    : TKVNPressControl(owner, kPressFocusOnFace | kReleaseDecides | kTrackOnRelease) {
  ControlStyle &= ~uint32_t(ui::csDoubleClicks);
  SetBounds(Left(), Top(), 97, 17);
  SetColor(ui::clBtnFace);
  SetTabStop(true);
  mScene = new TCheckBoxScene;
  SetScene(mScene);
}

TKVNCheckBox::~TKVNCheckBox() { ui::TObject::Free(mScene); }

void TKVNCheckBox::SetChecked(bool v) {
  if (v == mScene->Checked()) return;
  mScene->SetChecked(v);
  if (OnClick) OnClick(this);
}

void TKVNCheckBox::Toggle() {
  if (!mScene->Enabled()) return;
  mScene->SetChecked(!mScene->Checked());
  if (OnClick) OnClick(this);
}

bool TKVNCheckBox::TrackHover(int32_t x, int32_t y) {
  const bool hovered = control_in_front(this) && scene_hits(mScene, mScene->HitTest(), this, x, y);
  if (hovered == mScene->mHovered) return false;
  mScene->Set(mScene->mHovered, hovered);
  return true;
}
