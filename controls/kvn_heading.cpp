#include "kvn_heading.h"

#include <numbers>

#include "qlm_base_util.h"
#include "qlm_font.h"
#include "qlm_gradient.h"
#include "qlm_image_load.h"
#include "qlm_renderer.h"
#include "qlm_renderer_hittest.h"

const char* const cnHeadingHelpHint = "Get Help about This Window";

namespace {

// The bar's top and bottom colours per theme, 0xRRGGBB.
struct rThemeRow {
  uint32_t top, bottom;
};
constexpr rThemeRow kThemes[8] = {
    {0x103969, 0x1795CE}, {0x215E43, 0x72985C}, {0x981515, 0xD82D2D}, {0xA24800, 0xF7984D},
    {0xFF9615, 0xFEE179}, {0x58008B, 0x9B39D8}, {0x292929, 0x494949}, {0xB6BECB, 0xE5EFF1},
};

constexpr double kPi = std::numbers::pi;
constexpr double kHelpMargin = 10;

}  // namespace

// ---------------------------------------------------------------------------
// THeadingScene

THeadingScene::THeadingScene() : mFont(std::make_unique<cFontWinTT>()), mHitTest(std::make_unique<cHitTest>()) {
  SelectFont(mFontFace, mFontSize, mFontStyle);
  StartTimer(100);
}

THeadingScene::~THeadingScene() = default;

void THeadingScene::SetIcon(std::unique_ptr<cImage> icon) {
  mIcon = std::move(icon);
  Invalidate(true, 0, 0);
}

void THeadingScene::SelectFont(const std::string& face, double size, sTextStyle style) {
  mFont->SetFace(face, style, 0);
  mFont->SetSizePt(size);
}

void THeadingScene::RenderFrame(int32_t width, int32_t height) {
  cRenderer& r = *Renderer();
  const double W = width, H = height;
  r.ClearARGB(control_background(OwnerControl(), mMasterColor));
  mHitTest->Reset();
  r.SetFont(mFont.get());

  const double hb = mFullHeight ? H : H - 8, half = hb / 2;
  const rThemeRow& theme = kThemes[mColorHeading < 8 ? mColorHeading : CT_GRAY];
  r.PenOff();
  {
    cGradientLinearY g(0, 100);
    g.AddStopRGB(theme.top, 255, 0);
    g.AddStopRGB(theme.bottom, 255, 1);
    r.SetFillGradient(&g);
    r.DrawRectangle(nullptr, 0, 0, W, hb);
    r.ResetFillGradient(false);
  }
  {
    cGradientLinearY g(0, 100);
    g.AddStopRGB(0xFFFFFF, 255, 0);
    g.AddStopRGB(0xFFFFFF, 220, 0.2);
    g.AddStopRGB(0x696969, 200, 1);
    r.SetCompOp(16);
    r.SetMasterOpacity(0.8);
    r.SetFillGradient(&g);
    r.DrawRectangle(nullptr, 0, 0, W, half);
    r.ResetFillGradient(false);
    r.SetCompOp(0);
    r.SetMasterOpacity(1.0);
  }
  r.FillSolid();

  double iw = 0;
  if (cBitmap* frame = mIcon ? mIcon->Bitmap(0) : nullptr; frame != nullptr && frame->Height() > 0) {
    const double ih = mFullHeight ? H - 10 : H - 5;
    iw = ih * frame->Width() / frame->Height();
    r.SetImageFilter(3);
    r.DrawImageXYWH(frame, 5, 5, iw, ih, false, nullptr);
  }

  double bw = -5;
  if (!string_trim_right(mButtonText).empty()) {
    SelectFont(mButtonFace, mButtonSize, mButtonStyle);
    r.SetFont(mFont.get());
    r.SetTextColorARGB(mButtonColor);
    const double p = mHelpPressed ? 1 : 0, bh = 20;
    if (mButtonType == BTN_CANDY) {
      bw = 25;
      if (mHelpHovered) {
        r.WaveOn();
        r.SetDistortionPeriod(mHelpPressed ? 0.5 : 1.5);
        r.SetDistortionAmplitude(50);
        r.SetDistortionPhase(mPhase);
        r.SetDistortionCenter(1, 1);
      }
      button_draw_candy(&r, "?", false, W - bw - kHelpMargin - p, half - bh / 2 - p, bw + 2 * p, bh + 2 * p,
                        mColorButton, mHelpHovered, true, mHitTest.get(), nullptr);
      if (mHelpHovered) r.DistortionsOff();
    } else {
      bw = r.TextWidth(mButtonText) + 30;
      button_draw(mButtonType, &r, mButtonText, false, W - bw - kHelpMargin - p, half - bh / 2 - p, bw + 2 * p,
                  bh + 2 * p, mColorButton, mHelpHovered, false, mHitTest.get(), nullptr);
    }
  }

  // The caption, shrunk (never cut) to the room left; no room, or nothing
  // to draw, draws nothing.
  r.ResetShadow(true);
  r.SetGrowShadow(1.0);
  r.SetShadowBlurred(true);
  r.SetShadowBlur(5.0);
  r.SetShadowColorRGBA(0, 0, 50, 200);
  SelectFont(mFontFace, mFontSize, mFontStyle);
  r.SetFont(mFont.get());
  r.SetTextColorARGB(mCaptionColor);
  r.SetTextAlign(ALIGN_LEFT, ALIGN_CENTER);
  const double tx = 5 + iw + 10;
  const double room = W - 5 - iw - 10 - 10 - bw - 10;
  const double tw = r.TextWidth(mCaptionText);
  mCaptionLeft = tx;
  mCaptionRoom = room;
  mCaptionScale = 0;
  if (!(room > 0) || !(tw > 0)) return;
  mCaptionScale = 1;
  if (tw > room) {
    mCaptionScale = room / tw;
    r.Translate(-tx, -half);
    r.Scale(mCaptionScale, mCaptionScale);
    r.Translate(tx, half);
  }
  r.DrawText(mCaptionText, tx, half, nullptr);
}

void THeadingScene::TimerTick() {
  // Only a hovered help button moves; a mouse message that brings the
  // hover invalidates the scene, which wakes the timer.
  if (!mHelpHovered) {
    SleepTimer();
    return;
  }
  mPhase += kPi / 12;
  if (mPhase > 200 * kPi) mPhase -= 200 * kPi;
  const TKVNCustomControl* control = OwnerControl();
  if (control != nullptr && ui::Mouse != nullptr) {
    const ui::TPoint p = control->ScreenToClient(ui::Mouse->CursorPos());
    if (!scene_hits(this, mHitTest.get(), control, p.X, p.Y)) mHelpHovered = false;
  } else {
    mHelpHovered = false;
  }
  Invalidate(true, 0, 0);
}

// ---------------------------------------------------------------------------
// TKVNHeading

TKVNHeading::TKVNHeading(ui::TComponent* owner)
    : TKVNPressControl(owner, kPressFocusFirst | kReleaseDecides | kTrackOnRelease) {
  SetBounds(Left(), Top(), 400, 42);
  ControlStyle &= ~uint32_t(ui::csDoubleClicks);
  SetColor(ui::clBtnFace);
  SetTabStop(true);
  mScene = new THeadingScene;
  SetShowHint(true);
  SetScene(mScene);
}

TKVNHeading::~TKVNHeading() { ui::TObject::Free(mScene); }

void TKVNHeading::SetIcon(const std::string& fileName) {
  if (std::unique_ptr<cImage> icon = image_load(fileName)) mScene->SetIcon(std::move(icon));
}

void TKVNHeading::FireClick() {
  if (mScene->Enabled() && OnClick) OnClick(this);
}

bool TKVNHeading::TrackHover(int32_t x, int32_t y) {
  const bool hovered = control_in_front(this) && scene_hits(mScene, mScene->HitTest(), this, x, y);
  if (hovered == mScene->mHelpHovered) return false;
  mScene->Set(mScene->mHelpHovered, hovered);
  return true;
}

intptr_t TKVNHeading::WmMouseMove(const ui::TMouseMsg& m) {
  TKVNPressControl::WmMouseMove(m);
  if (ShowHint()) {
    // The shown hint goes first, so that the new text can appear.
    const std::string hint = mScene->HelpHovered() ? mHelpHint : std::string();
    if (hint != Hint()) {
      if (ui::Application != nullptr) ui::Application->CancelHint();
      SetHint(hint);
    }
  }
  return 0;
}
