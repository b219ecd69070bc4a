#include "form_install_anim.h"

#include <cmath>
#include <numbers>

#include "installs_settings.h"
#include "kvn_commons.h"
#include "qlm_2D.h"
#include "qlm_image.h"
#include "qlm_image_load.h"
#include "qlm_path.h"
#include "qlm_renderer.h"

bool gFormShown = false;
std::function<void(rDate&, rTime&)> gAnimLocalNow = [](rDate& d, rTime& t) { datetime_now(d, t); };

namespace {

constexpr uint32_t kBase = renderer_color(41, 108, 149, 255);
constexpr double kSwingLimit = 50;

// The checkered tile: white with two blue squares.
void checker_tile(cRenderer* r, void*) {
  r->ClearARGB(0xFFFFFFFF);
  r->PenOff();
  r->FillSolid();
  r->FillOn();
  r->SetFillColorRGBA(192, 192, 255, 192);
  r->DrawRectangle(nullptr, 0, 0, 8, 8);
  r->DrawRectangle(nullptr, 8, 8, 16, 16);
}

}  // namespace

rAnimTexts anim_texts(bool update, int32_t progress) {
  rAnimTexts t;
  t.mode[0] = update ? "Updating" : "Installing";
  t.mode[1] = update ? "existing" : "";
  t.mode[2] = "version";
  t.progress[0] = update ? "Update" : "Installation";
  t.progress[1] = "progress:";
  t.progress[2] = std::to_string(progress) + " %";
  return t;
}

// ---------------------------------------------------------------------------
// TAnimScene

TAnimScene::TAnimScene(TAnimSceneHost* owner) : mOwner(owner) {
  mStatusFont.SetFace("Arial", 1, 32.0);
  mModeFont.SetFace("Tahoma", 1, 17.0);
  mPicture = image_load("..\\tran_inst.png");
  mClock = rClockCommons::New();
  if (mClock != nullptr) {
    mClock->settings.flags2[4] = 1;
    mClock->style.flags[2] = 0;
    mClock->style.colors[11] = 0xFFFFFFFF;
    // The face is the clock square turned by 45 degrees: the distance
    // between the x of its right and top corners after the turn.
    const double S = cnClockSize;
    double xs[4] = {S / 2, 0, S / 2, S}, ys[4] = {0, S / 2, S, S / 2};
    rMatrix m;
    matrix_identity(m);
    matrix_rotate(m, -45);
    for (int i = 0; i < 4; ++i) matrix_transform(m, xs[i], ys[i]);
    mClock->SetSize(S, xs[3] - xs[0]);
  }
  UpdateHands();
  StartTimer(25);
}

TAnimScene::~TAnimScene() { rClockCommons::Free(mClock); }

void TAnimScene::SetStatusText(const std::string& markup) {
  mStatusText = markup;
  if (!mDocument.SetText(markup))
    mDocument.ClearFormat();  // the earlier text is not drawn any more
  else if (mDocument.FormatText(Renderer(), &mStatusFont, ALIGN_CENTER, ALIGN_BOTTOM, 15.0, true))
    mDocument.LayoutText(245);
  Invalidate(true, 0, 0);
}

void TAnimScene::SetProgress(int32_t progress) {
  mProgress = progress;
  Invalidate(true, 0, 0);
}

void TAnimScene::SetAnimate(bool animate) {
  mAnimate = animate;
  Invalidate(true, 0, 0);
}

void TAnimScene::UpdateHands() {
  rDate d;
  rTime t;
  if (gAnimLocalNow) gAnimLocalNow(d, t);
  mWholeSecond = normalize_angle(90.0 - 6.0 * t.second);
  mSecond = mWholeSecond - 0.006 * t.millisecond;
  mMinute = normalize_angle(90.0 - 6.0 * t.minute) - 0.1 * t.second;
  const int h = t.hour > 12 ? t.hour - 12 : t.hour;
  mHour = normalize_angle(90.0 - 30.0 * h) - 0.5 * t.minute;
  if (mClock != nullptr) {
    mClock->hour = t.hour;
    mClock->minute = t.minute;
    mClock->second = t.second;
    mClock->millisecond = t.millisecond;
    mClock->day = d.day;
    mClock->month = d.month;
    mClock->year = d.year;
    mClock->weekday = d.weekday;
  }
}

void TAnimScene::TimerTick() {
  UpdateHands();
  if (mAnimate) {
    mSwing += mSwingUp ? std::numbers::pi / 12 : -std::numbers::pi / 12;
    if (mSwing > kSwingLimit) mSwingUp = false;
    if (mSwing < -kSwingLimit) mSwingUp = true;
    if (mRotationUp) {
      mRotation += 0.5;
      if (mRotation >= 360) {
        mRotation = 360;
        mRotationUp = false;
      }
    } else {
      mRotation -= 0.5;
      if (mRotation <= 0) {
        mRotation = 0;
        mRotationUp = true;
      }
    }
  }
  if (mAnimate || mWholeSecond != mLastRepaint) {
    mLastRepaint = mWholeSecond;
    Invalidate(true, 0, 0);
  }
  if (gFormShown) {
    // Cleared first: a dialog the update opens cannot start it again.
    gFormShown = false;
    if (gInstallMode == 1 && mOwner != nullptr) {
      mOwner->SetPage(cnPageUpdate);
      mOwner->Continue();
    }
  }
}

void TAnimScene::RenderFrame(int32_t w, int32_t h) {
  // Not animating, the panel shows the same pixels for the same size,
  // status text, progress and mode: they are drawn once and copied after.
  cSceneKey still;
  if (!mAnimate) {
    still << w << h << mStatusText << mProgress << gInstallMode;
    if (mStill.Restore(still, Bitmap())) return;
  }
  cRenderer& r = *Renderer();
  const double S = cnClockSize;
  r.ClearARGB(0xFFFFFFFF);
  // The checkered ground.
  r.PenOff();
  r.SetFillPatternCallback(16, 16, checker_tile, nullptr);
  r.DrawRectangle(nullptr, 0, 0, w, h);
  r.PenOn();
  r.FillSolid();
  // The clock space: swung, fitted to the top square, turned.
  if (mAnimate && mClock != nullptr) {
    const rRectD& d = mClock->drawing;
    const double s = mSwing;
    const double quad[8] = {d.x1 - s, d.y1 + s, d.x2 - s, d.y1 + s, d.x2 + s, d.y2 - s, d.x1 + s, d.y2 - s};
    r.AddPerspective(quad, d.x1, d.y1, d.x2, d.y2);
  }
  r.SetViewport(5, 0, 0, S, S, 0, 0, w, w);
  if (mAnimate) {
    r.Translate(-w / 2.0, -w / 2.0);
    r.Rotate(mRotation);
    r.Translate(w / 2.0, w / 2.0);
  }
  if (mPicture != nullptr && mPicture->Height() > 0) {
    r.SetImageFilter(5);
    const double ph = S - 20;
    r.DrawImageXYWH(mPicture.get(), 10, 10, ph * mPicture->Width() / mPicture->Height(), ph, true, nullptr);
  }
  r.SetFont(&mStatusFont);
  r.SetTextColor(kBase);
  if (mDocument.HasLayout()) mDocument.RenderText(&r, cnRenderPlain, 55, 80, nullptr);
  // The rest in panel pixels.
  r.ResetMatrix(false);
  r.ResetTransformations(false);
  const rAnimTexts texts = anim_texts(gInstallMode == 1, mProgress);
  r.SetFont(&mModeFont);
  r.SetTextAlign(ALIGN_CENTER, ALIGN_TOP);
  mModeFont.SetSizePt(13);
  r.ResetShadow(false);
  r.SetGrowShadow(1.0);
  r.SetShadowBlurred(true);
  r.SetShadowBlur(3.0);
  r.SetShadowColorARGB(0xFFFFFFFF);
  r.ShadowOn();
  r.SetTextColorARGB(0xFF008000);
  double y = h / 15.0 * 8;
  for (const std::string& line : texts.mode) {
    if (!line.empty()) r.DrawText(line, w / 2.0, y, nullptr);
    y += mModeFont.GetLineHeight();
  }
  r.SetTextColor(kBase);
  mModeFont.SetSizePt(10);
  y = h / 15.0 * 12;
  for (int i = 0; i < 3; ++i) {
    if (i == 2) mModeFont.SetSizePt(14);
    r.DrawText(texts.progress[i], w / 2.0, y, nullptr);
    y += mModeFont.GetLineHeight();
  }
  // A crisp black frame.
  r.ShadowOff();
  r.ResetPen(false);
  draw_crisp_frame(r, w, h, 0xFF000000);
  if (mAnimate)
    mStill.Drop();
  else
    mStill.Keep(std::move(still), Bitmap());
}

// ---------------------------------------------------------------------------
// TAnimControl

TAnimControl::TAnimControl(ui::TComponent* owner, TAnimSceneHost* window, TAnimScene* scene)
    : TKVNCustomControl(owner), mWindow(window) {
  ControlStyle &= ~uint32_t(ui::csDoubleClicks);
  SetScene(scene);
}
