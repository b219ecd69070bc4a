#include "form_install_anim.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "installs_settings.h"
#include "kvn_drawing.h"
#include "qlm_2D.h"
#include "qlm_image.h"
#include "qlm_image_load.h"
#include "qlm_path.h"
#include "qlm_renderer.h"
#include "qlm_renderer_surface.h"

bool gFormShown = false;
std::function<void(rDate&, rTime&)> gAnimLocalNow = [](rDate& d, rTime& t) { datetime_now(d, t); };

namespace {

constexpr uint32_t kBase = renderer_color(41, 108, 149, 255);
constexpr double kSwingLimit = 50;
bool gShownPictureEnabled = true;
bool gFrameCacheEnabled = true;
// Rows above the texts' first visible row that their shadow's fringe may
// still reach (blur radius 3, grown by 1): kept free of the clock space too.
constexpr int32_t kTextFringe = 8;

// The picture's place in clock space: at (10, 10), S - 20 high, as wide as
// its proportions make it.
void picture_place(const cImage& picture, double& x, double& y, double& w, double& h) {
  const double S = TAnimScene::cnClockSize;
  x = y = 10;
  h = S - 20;
  w = h * picture.Width() / picture.Height();
}

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

void TAnimScene::SetShownPictureEnabled(bool on) { gShownPictureEnabled = on; }

// The panel shows the picture shrunk about 0.6 times (the viewport maps
// clock space by w / S). Swung and turned, each frame would resample the
// whole picture with the bicubic filter widened by the shrink (some fifty
// to a hundred taps per pixel); drawn from this copy, made once at the size
// it is shown at, the swing resamples a source of its own size (sixteen
// taps and a few more where the swing shrinks it). The copy samples the
// picture at its pixel centres (bilinear, no filter of its own): the
// frame's bicubic filter does the smoothing, and the frames come closest to
// those drawn from the picture itself (a filtered copy would be filtered
// twice and look soft). The still panel draws the picture itself.
cBitmap* TAnimScene::ShownPicture(int32_t w) {
  if (mShownPictureWidth == w) return mShownPicture.get();
  mShownPicture.reset();
  mShownPictureWidth = w;
  double px, py, pw, ph;
  picture_place(*mPicture, px, py, pw, ph);
  const double scale = w / cnClockSize;
  const int32_t bw = int32_t(std::lround(pw * scale)), bh = int32_t(std::lround(ph * scale));
  if (bw <= 0 || bh <= 0 || bw > 4096 || bh > 4096) return nullptr;
  auto shown = std::make_unique<cBitmap>(bw, bh, cnBitmap32BGRA);
  std::unique_ptr<cRenderer> r(renderer_create());
  cSurfaceBitmap surface;
  if (r == nullptr || !shown->Create(bw, bh) || !surface.Attach(shown.get(), true) || !r->AttachSurface(&surface))
    return nullptr;
  r->ClearARGB(0);
  r->SetImageFilter(0);
  r->DrawImageXYWH(mPicture.get(), 0, 0, bw, bh, true, nullptr);
  r->DetachSurface();
  surface.Detach();
  mShownPicture = std::move(shown);
  return mShownPicture.get();
}

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
  mMillisecond = t.millisecond;
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
    // Still, the picture shows no time: the panel repaints its last frame
    // (a setter that changes what it shows invalidates it itself).
    if (mAnimate)
      Invalidate(true, 0, 0);
    else
      RepaintShown();
  }
  // Still, nothing changes before the next whole second: no tick before
  // then, unless a setter invalidates the scene or the window is shown
  // (for gFormShown), which wake the timer.
  if (!mAnimate && !gFormShown && Timer() != nullptr) Timer()->Sleep(1000u - std::min<unsigned>(mMillisecond, 999));
  if (gFormShown) {
    // Cleared first: a dialog the update opens cannot start it again.
    gFormShown = false;
    if (gInstallMode == cnModeUpdate && mOwner != nullptr) {
      mOwner->SetPage(cnPageUpdate);
      mOwner->Continue();
    }
  }
}

// The checkered ground: white, then the pattern over the whole panel. The
// state it leaves (pen on, solid fill) is what the clock space is drawn
// with; `paint` false sets that state alone.
void TAnimScene::DrawGround(cRenderer& r, int32_t w, int32_t h, bool paint) {
  if (paint) r.ClearARGB(0xFFFFFFFF);
  r.PenOff();
  r.SetFillPatternCallback(16, 16, checker_tile, nullptr);
  if (paint) r.DrawRectangle(nullptr, 0, 0, w, h);
  r.PenOn();
  r.FillSolid();
}

// The mode and progress texts in panel pixels, with their white shadow;
// the shadow is off and the pen reset afterwards.
void TAnimScene::DrawModeTexts(cRenderer& r, int32_t w, int32_t h) {
  const rAnimTexts texts = anim_texts(gInstallMode == cnModeUpdate, mProgress);
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
  r.ShadowOff();
  r.ResetPen(false);
}

void TAnimScene::SetFrameCacheEnabled(bool on) { gFrameCacheEnabled = on; }

// Animating, the panel redraws 40 times a second, and only the clock space
// moves: the ground and the texts below it (a shadow blur each) stay. The
// first frame for a size, progress and mode draws and keeps the ground;
// the first whose texts are drawn over the ground alone (the clock space
// left their rows as the ground) keeps those rows. Later frames copy the
// ground, draw the clock space, and copy the texts' rows where the clock
// space left those rows as the ground, else draw the texts over it as
// before. The bytes are those of drawing it all: the same texts over the
// same pixels in the same renderer state.
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
  ui::TBitmap* target = Bitmap();
  const bool cached = gFrameCacheEnabled && target != nullptr && target->PixelFormat() == ui::pf32bit &&
                      target->Width() == w && target->Height() == h && w > 0 && h > 0;
  const size_t row_bytes = size_t(w) * 4;
  auto save = [&](std::vector<uint8_t>& to) {
    to.resize(row_bytes * size_t(h));
    for (int32_t y = 0; y < h; ++y) std::memcpy(to.data() + row_bytes * size_t(y), target->ScanLine(y), row_bytes);
  };
  auto restore = [&](const std::vector<uint8_t>& from, int32_t y0) {
    for (int32_t y = y0; y < h; ++y) std::memcpy(target->ScanLine(y), from.data() + row_bytes * size_t(y), row_bytes);
  };
  const uint8_t mode = gInstallMode;
  if (cached && (mFrameCache.width != w || mFrameCache.height != h || mFrameCache.progress != mProgress ||
                 mFrameCache.mode != mode)) {
    DrawGround(r, w, h, true);
    save(mFrameCache.ground);
    mFrameCache.texted.clear();
    mFrameCache.width = w, mFrameCache.height = h, mFrameCache.progress = mProgress, mFrameCache.mode = mode;
  } else if (cached) {
    restore(mFrameCache.ground, 0);
    DrawGround(r, w, h, false);
  } else {
    DrawGround(r, w, h, true);
  }
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
    double px, py, pw, ph;
    picture_place(*mPicture, px, py, pw, ph);
    cBitmap* shown = mAnimate && gShownPictureEnabled ? ShownPicture(w) : nullptr;
    if (shown != nullptr)
      r.DrawImageXYWH(shown, px, py, pw, ph, true, nullptr);
    else
      r.DrawImageXYWH(mPicture.get(), px, py, pw, ph, true, nullptr);
  }
  r.SetFont(&mStatusFont);
  r.SetTextColor(kBase);
  if (mDocument.HasLayout()) mDocument.RenderText(&r, cnRenderPlain, 55, 80, nullptr);
  // The rest in panel pixels.
  r.ResetMatrix(false);
  r.ResetTransformations(false);
  // Rows from `y0` on as the ground shows them.
  auto ground_from = [&](int32_t y0) {
    for (int32_t y = std::max(y0, 0); y < h; ++y)
      if (std::memcmp(target->ScanLine(y), mFrameCache.ground.data() + row_bytes * size_t(y), row_bytes) != 0)
        return false;
    return true;
  };
  if (cached && !mFrameCache.texted.empty() && ground_from(mFrameCache.text_top - kTextFringe)) {
    restore(mFrameCache.texted, mFrameCache.text_top);
  } else if (cached && mFrameCache.texted.empty()) {
    // The texts drawn as always; kept when they were drawn over the ground
    // alone. Their first changed row is where their shadow first shows;
    // its fringe may reach a few rows higher without showing on the ground.
    std::vector<uint8_t> before;
    save(before);
    DrawModeTexts(r, w, h);
    int32_t top = 0;
    while (top < h && std::memcmp(target->ScanLine(top), before.data() + row_bytes * size_t(top), row_bytes) == 0)
      ++top;
    bool over_ground = top < h;
    for (int32_t y = std::max(top - kTextFringe, 0); y < h && over_ground; ++y)
      over_ground = std::memcmp(before.data() + row_bytes * size_t(y),
                                mFrameCache.ground.data() + row_bytes * size_t(y), row_bytes) == 0;
    if (over_ground) {
      save(mFrameCache.texted);
      mFrameCache.text_top = top;
    }
  } else {
    DrawModeTexts(r, w, h);
  }
  // A crisp black frame.
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
