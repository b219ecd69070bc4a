#include "kvn_button.h"

#include <numbers>

#include "kvn_drawing.h"
#include "qlm_complex_text.h"
#include "qlm_font.h"
#include "qlm_renderer.h"
#include "qlm_renderer_hittest.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr uint64_t kFlashMs = 100;

bool is_grey(TColorIndex index) { return button_color_row(index) == CLR_GRAY; }

}  // namespace

uint32_t control_background(const ui::TControl* control, bool masterColor) {
  uint32_t background = 0xFFFFFFFF;
  if (control == nullptr) return background;
  if (masterColor)
    container_color(control->Parent(), background);
  else
    background = color_from_tcolor(control->Color());
  return background;
}

bool control_in_front(const ui::TControl* control) {
  const ui::TForm* form = control != nullptr ? control->ParentForm() : nullptr;
  return form != nullptr && form->IsForeground();
}

bool scene_hits(TRenderingScene* scene, cHitTest* hit, const ui::TControl* control, int32_t x, int32_t y) {
  if (scene == nullptr || hit == nullptr || control == nullptr) return false;
  if (!scene->SurfaceBinding()->IsTopDown()) y = control->Height() - y;
  return hit->AnchorInt(x, y, nullptr) != 0;
}

// ---------------------------------------------------------------------------
// TButtonScene

TButtonScene::TButtonScene() : mFont(std::make_unique<cFontWinTT>()), mHitTest(std::make_unique<cHitTest>()) {
  mFont->SetFace(mFontFace, mFontStyle, 0);
  mFont->SetSizePt(mFontSize);
  StartTimer(80);
}

TButtonScene::~TButtonScene() = default;

void TButtonScene::SetMasterColor(bool v) {
  mMasterColor = v;
  Changed();
}

void TButtonScene::SetButtonText(const std::string& v) {
  mButtonText = v;
  ParseCaption();
  Changed();
}

void TButtonScene::SetButtonType(TButtonType v) {
  mButtonType = v;
  Changed();
}

void TButtonScene::SetButtonShadow(bool v) {
  mButtonShadow = v;
  Changed();
}

void TButtonScene::SetClipText(bool v) {
  mClipText = v;
  Changed();
}

void TButtonScene::SetFontFace(const std::string& v) {
  mFontFace = v;
  mFont->SetName(v);
  ParseCaption();
  Changed();
}

void TButtonScene::SetFontSize(double v) {
  mFontSize = v;
  mFont->SetSizePt(v);
  ParseCaption();
  Changed();
}

void TButtonScene::SetFontStyle(sTextStyle v) {
  mFontStyle = v;
  mFont->SetStyle(v);
  ParseCaption();
  Changed();
}

void TButtonScene::SetFontColor(uint32_t v) {
  mFontColor = v;
  Changed();
}

void TButtonScene::SetColorIndex(TColorIndex v) {
  mColorIndex = v;
  Changed();
}

void TButtonScene::SetAnisotropic(bool v) {
  mAnisotropic = v;
  Changed();
}

void TButtonScene::SetAnimate(bool v) {
  mAnimate = v;
  Changed();
}

void TButtonScene::SetFocused(bool v) {
  mFocused = v;
  Changed();
}

void TButtonScene::ParseCaption() {
  mCaption.reset();
  if (mButtonText.size() < 2 || mButtonText.compare(0, 2, "~}") != 0) return;
  auto doc = std::make_unique<cComplexText>();
  if (!doc->SetText(mButtonText)) return;
  mFont->SetScriptFace("Xxxx", mFontFace);
  mFont->AddScriptFace("Xxxx", mFontFace);
  mFont->SetStyle(mFontStyle);
  mFont->SetSizePt(mFontSize);
  if (!doc->FormatText(Renderer(), mFont.get(), ALIGN_LEFT, ALIGN_CENTER, 0.0, false)) return;
  if (!doc->LayoutText(0.0)) return;
  mCaption = std::move(doc);
}

void TButtonScene::KeyClick() {
  if (mFlash) return;
  CatchUp(false);
  mFlash = true;
  mFlashStamp = ui::TickCount();
  Changed();
  if (auto* button = dynamic_cast<TKVNButton*>(OwnerControl()); button != nullptr && button->OnClick)
    button->OnClick(button);
}

void TButtonScene::ConfigureDistortion(bool pressed, double mx, double my, int32_t height) {
  cRenderer& r = *Renderer();
  struct rWave {
    bool swirl;
    double period, amplitude;
  };
  rWave wave{false, 1.0, 50};
  double cx = mx, cy = my;
  const double px = mPointerX, py = mPointerY;
  switch (mButtonType) {
    case BTN_BOX:
    case BTN_GLASS:
      wave = {true, 5.0, 50};
      if (!pressed) cx = cy = 0;
      break;
    case BTN_GEL:
      if (pressed) {
        wave = {false, 40.0, 50};
        cx = cy = 0;
      } else {
        wave = {true, 2.0, 20};
        cx = px;
        cy = (height - 12) / 2.0;
      }
      break;
    case BTN_CANDY:
      if (pressed) {
        wave = {false, 0.5, 50};
      } else {
        wave = {false, 1.5, 50};
        cx = px;
        cy = py;
      }
      break;
    default:  // BTN_ROUND
      if (!pressed) {
        wave = {false, 1.0, 10};
        cx = cy = 50;
      }
      break;
  }
  r.WaveOn();
  if (wave.swirl) r.SwirlOn();
  r.SetDistortionPeriod(wave.period);
  r.SetDistortionAmplitude(wave.amplitude);
  r.SetDistortionPhase(mPhase);
  r.SetDistortionCenter(cx, cy);
}

void TButtonScene::RenderFrame(int32_t width, int32_t height) {
  cRenderer& r = *Renderer();
  r.ClearARGB(control_background(OwnerControl(), mMasterColor));
  mHitTest->Reset();
  r.SetFont(mFont.get());

  double x = 3, y = 3;
  double w = width - (mButtonShadow ? 12 : 8);
  double h = height - 12;
  if (mPressed || mFlash) {
    // The face moves onto its shadow, which is not drawn.
    if (mButtonShadow) {
      x = y = 5;
    } else {
      x = y = 2;
      w += 2;
      h += 2;
    }
    const double mx = mFlash ? 1 : mPointerX, my = mFlash ? 1 : mPointerY;
    if (mAnimate) ConfigureDistortion(true, mx, my, height);
  } else {
    if (mButtonShadow) {
      r.SetOffsetShadow(5.0);
      r.SetShadowBlurred(true);
      r.SetShadowBlur(5.0);
      r.SetShadowDirection(3);
      r.SetShadowColorRGBA(127, 127, 127, 255);
      r.SetFillShadow(true);
    }
    if (mHovered && mAnimate) ConfigureDistortion(false, 0, 0, height);
  }
  r.SetTextColorARGB(mFontColor);

  bool glow = false, greyFilter = false;
  if (is_grey(mColorIndex))
    greyFilter = r.SetFilterCallback(&button_filter_grey, 10, this);
  else
    glow = mFocused;

  // The glass face sits 3 pixels further in at the top-left.
  const double in = mButtonType == BTN_GLASS ? 3 : 0;
  button_draw(mButtonType, &r, mButtonText, mClipText, x + in, y + in, w - in, h - in, mColorIndex, glow, mAnisotropic,
              mHitTest.get(), mCaption.get());
  if (greyFilter) r.FilterCallbackOff();
}

void TButtonScene::StepPhase() {
  mPhase += kPi / 12;
  if (mPhase > 200 * kPi) mPhase -= 200 * kPi;
}

void TButtonScene::CatchUp(bool inTick) {
  const uint64_t missed = sleep_missed_ticks(mSleptAt, 80, inTick);
  // The phase comes back to about the same value every 2400 steps.
  if (mAnimate)
    for (uint64_t i = missed % 2400; i > 0; --i) StepPhase();
}

void TButtonScene::TimerTick() {
  CatchUp(true);
  bool changed = mHovered;
  if (mAnimate) {
    StepPhase();
    if (auto* button = dynamic_cast<TKVNButton*>(OwnerControl()); button != nullptr && ui::Mouse != nullptr) {
      const ui::TPoint p = button->ScreenToClient(ui::Mouse->CursorPos());
      if (button_track_hover(button, p.X, p.Y, false)) changed = false;  // it has invalidated already
    }
  }
  if (mFlash && ui::TickCount() - mFlashStamp > kFlashMs) {
    mFlash = false;
    changed = true;
  }
  if (changed) Changed();
  // Nothing hovered, held or flashing: the next pointer move (or a change
  // of activation, layout or of the scene) wakes the timer.
  if (!mHovered && !mPressed && !mFlash && Timer() != nullptr) {
    mSleptAt = ui::TickCount();
    SleepTimer();
  }
}

// ---------------------------------------------------------------------------
// Hover

bool button_track_hover(TKVNButton* control, int32_t x, int32_t y, bool press) {
  TButtonScene* s = control != nullptr ? control->ButtonScene() : nullptr;
  if (s == nullptr) return false;
  s->CatchUp(false);
  s->mPointerX = x;
  s->mPointerY = y;
  const bool wasHovered = s->mHovered, wasPressed = s->mPressed;
  s->mHovered =
      control_in_front(control) && !is_grey(s->mColorIndex) && scene_hits(s, s->mHitTest.get(), control, x, y);
  if (press) s->mPressed = s->mHovered;
  if (s->mHovered == wasHovered && s->mPressed == wasPressed) return false;
  if (!wasHovered && !wasPressed) s->mPhase = 1.0;  // a hover or press begins
  s->Changed();
  return true;
}

// ---------------------------------------------------------------------------
// TKVNButton

TKVNButton::TKVNButton(ui::TComponent* owner) : TKVNPressControl(owner, kPressFocusOnFace) {
  SetBounds(Left(), Top(), 160, 40);
  ControlStyle &= ~uint32_t(ui::csDoubleClicks);
  SetColor(ui::clBtnFace);
  SetTabStop(true);
  mScene = new TButtonScene;
  SetScene(mScene);
}

TKVNButton::~TKVNButton() { ui::TObject::Free(mScene); }

void TKVNButton::SetPressHeld(bool held) {
  button_track_hover(this, mScene->mPointerX, mScene->mPointerY, held);
  if (mScene->Hovered()) mScene->Invalidate(true, 0, 0);
}

void TKVNButton::KeyAction() {
  if (Enabled()) mScene->KeyClick();
}

void TKVNButton::PressAction() {
  mScene->SetPressed(false);
  mScene->Invalidate(true, 0, 0);
  if (OnClick) OnClick(this);
}

void TKVNButton::PressLost() {
  if (ui::Mouse == nullptr) return;
  const ui::TPoint p = ScreenToClient(ui::Mouse->CursorPos());
  button_track_hover(this, p.X, p.Y, !mScene->Hovered());
}
