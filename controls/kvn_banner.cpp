#include "kvn_banner.h"

#include <algorithm>

#include "kvn_cursors.h"
#include "kvn_shell.h"
#include "qlm_base_flow.h"
#include "qlm_base_lists.h"
#include "qlm_bitmap_filters.h"
#include "qlm_font.h"
#include "qlm_jpeg.h"
#include "qlm_platform_file_flow.h"
#include "qlm_renderer.h"
#include "qlm_renderer_hittest.h"
#include "qlm_renderer_state.h"
#include "qlm_renderer_svg.h"
#include "qlm_svg_image.h"

const char* const cnProductPage = "https://www.korvane.example/snaprill";
const char* const cnMakerPage = "https://www.korvane.example/";

namespace {

// The page picture: the registered bytes of the name, else the file; none
// when neither decodes.
std::unique_ptr<cImage> load_jpeg(std::string_view name) {
  std::unique_ptr<cFlow> flow;
  if (const rResourceEntry* entry = resource_find(name); entry != nullptr)
    flow = cMemoryFlow::ConstructOnData(entry->data, entry->size);
  else
    flow = std::make_unique<cFileFlow>(name, 1);
  if (flow == nullptr || !flow->Open()) return nullptr;
  auto image = std::make_unique<cImageJPEG>(cnJPEGDctIntSlow, 85, nullptr);
  if (!image->Open(flow.get())) return nullptr;
  return image;
}

// The pulse's phases: -110 to 160 in steps of 10.
constexpr int32_t kPhaseLow = -110, kPhaseHigh = 160, kPhaseStep = 10;
constexpr size_t kPhases = (kPhaseHigh - kPhaseLow) / kPhaseStep + 1;
// The pictures of a lit logo or the busy text, one per phase and press, are
// kept up to this many bytes. The installer's banner (703 x 71) needs at
// most 4.8 MB: the product logo's 56 pictures, about 85 KB each beside the
// first one, which is kept whole.
constexpr size_t kPulseFramesBudget = size_t(16) << 20;

double width_of(const rRectD& b) { return b.x2 - b.x1; }
double height_of(const rRectD& b) { return b.y2 - b.y1; }

}  // namespace

// ---------------------------------------------------------------------------
// TKorvaneBanner

TKorvaneBanner::TKorvaneBanner()
    : mProductLogo(svg_load("..\\kvn-beta.svg")),
      mMakerBackground(svg_load("..\\zoback.svg")),
      mMakerLogo(svg_load("..\\zo-logo-co+slog.svg")),
      mPagePicture(load_jpeg("..\\page-back-kvn.jpg")),
      mFont(std::make_unique<cFontWinTT>()),
      mProductHit(std::make_unique<cHitTest>()),
      mMakerHit(std::make_unique<cHitTest>()),
      mPulseFrames(2 * kPhases, kPulseFramesBudget) {
  mFont->SetFace("Verdana", cnFontItalic, 10.0);
  StartTimer(10);
}

TKorvaneBanner::~TKorvaneBanner() = default;

void TKorvaneBanner::SetBackgroundRect(int32_t x, int32_t y, int32_t width, int32_t height) {
  mPictureX = x;
  mPictureY = y;
  mPictureWidth = width;
  mPictureHeight = height;
}

int32_t TKorvaneBanner::ProductLogoWidth(int32_t w) const {
  // Room for the full-size logo beside the maker's area, else what is left.
  const int64_t p = int64_t(w) - mLogoMargin - 564 - 236;
  return int32_t(p < 0 ? int64_t(w) - mLogoMargin - 236 : 564);
}

void TKorvaneBanner::Pulse(cBitmap* layer, int32_t phase) {
  if (phase < 0)
    bf_darkness(layer, -phase, 0, nullptr);
  else
    bf_lightness(layer, phase, 0, nullptr);
}

void TKorvaneBanner::LogoGlow(cBitmap* layer, bool&, void* user) {
  const auto* banner = static_cast<const TKorvaneBanner*>(user);
  bf_invert(layer, 0, nullptr);
  if (banner->mPressed)
    bf_keep_green(layer, 0, nullptr, 1.0);
  else
    bf_keep_red(layer, 0, nullptr, 1.0);
  Pulse(layer, banner->mPulsePhase);
  bf_gaussian_blur(layer, 2, 0, nullptr);
}

void TKorvaneBanner::TextGlow(cBitmap* layer, bool&, void* user) {
  const auto* banner = static_cast<const TKorvaneBanner*>(user);
  bf_invert(layer, 0, nullptr);
  bf_keep_blue(layer, 0, nullptr, 1.0);
  Pulse(layer, banner->mPulsePhase);
  bf_gaussian_blur(layer, 1, 0, nullptr);
}

void TKorvaneBanner::RenderFrame(int32_t w, int32_t h) {
  cRenderer& r = *Renderer();
  // At rest (no logo lit, nothing busy) the picture depends on the size and
  // the layout only. It is copied back while they stay; the logos' hit
  // areas then are those of the render that drew it, as only the last
  // render's picture is ever kept.
  const bool resting = !mProductHover && !mMakerHover && !mBusy;
  const bool lit = mProductHover || mMakerHover;
  mGlowDrawn.reset();
  if (lit) mGlowDrawn.emplace(mPulsePhase, mPressed);
  cSceneKey still;
  still << w << h << mPictureX << mPictureY << mPictureWidth << mPictureHeight << mShowFrame << mLogoMargin;
  if (resting) {
    if (mStill.Restore(still, Bitmap())) return;
  } else {
    mStill.Drop();
  }
  // Lit or busy, the picture is one of a fixed set for the same inputs: one
  // per phase of the pulse and, with a lit logo, press. The hit areas are
  // again those of the render that drew the inputs' first picture.
  const int32_t phase = mPulsePhase - kPhaseLow;
  const bool inSet = !resting && phase >= 0 && phase % kPhaseStep == 0 && size_t(phase / kPhaseStep) < kPhases;
  const size_t slot = size_t(phase / kPhaseStep) * 2 + (lit && mPressed ? 1 : 0);
  if (inSet) {
    still << mProductHover << mMakerHover << mBusy;
    if (mPulseFrames.Restore(still, slot, Bitmap())) return;
  }
  r.ClearARGB(0xFFFFFFFF);
  mProductHit->Reset();
  mMakerHit->Reset();
  // Hover tests map the pointer through what the logos were drawn with.
  mTransformations = r.GetTransformations();

  if (mPagePicture) {
    r.SetMasterOpacity(0.8);
    if (cBitmap* picture = mPagePicture->Bitmap(0))
      r.DrawImageXYWH(picture, mPictureX, mPictureY, mPictureWidth, mPictureHeight, true, nullptr);
  }
  r.SetMasterOpacity(1.0);
  r.FillOff();

  if (mShowFrame) {
    r.DrawRectangle(nullptr, 0.5, 0.5, w - 0.5, h - 0.5);
    r.DrawLine(nullptr, 0.5, h - 0.5, w - 0.5, h - 0.5);
  }

  if (mMakerBackground) {
    // Right-aligned, mostly above and below the banner.
    rRectD b;
    r.GetSVGSizedBounds(mMakerBackground.get(), 0, 0, -24, 368, 0, b);
    r.SetMasterOpacity(0.15);
    r.DrawSVGSized(mMakerBackground.get(), nullptr, w - width_of(b), -24, 368, 0);
    r.SetMasterOpacity(1.0);
  }

  // An invisible, clickable rectangle over a logo's bounds.
  auto clickable = [&](cImageSVG* logo, double x, double y, double width, cHitTest* hit) {
    rRectD b;
    r.GetSVGSizedBounds(logo, 0, x, y, width, 0, b);
    r.PenOff();
    r.FillSolid();
    r.SetFillColorRGB(0xFFFFFFFF, 1);
    r.DrawRectangle(hit, b.x1, b.y1, b.x2, b.y2);
  };

  const int32_t p = ProductLogoWidth(w);
  if (p > 1 && mProductLogo) {
    rRectD b;
    r.GetSVGSizedBounds(mProductLogo.get(), 0, 10, 15, p, 0, b);
    const double t = (h - height_of(b)) / 2;  // vertically centred
    if (mProductHover && r.SetFilterCallback(&LogoGlow, 10, this)) {
      r.DrawSVGSized(mProductLogo.get(), nullptr, 10, t + 0.5, p, 0);
      r.FilterCallbackOff();
    }
    r.DrawSVGSized(mProductLogo.get(), nullptr, 10, t, p, 0);
    clickable(mProductLogo.get(), 10, t, p, mProductHit.get());
  }

  if (mMakerLogo) {
    rRectD b;
    r.GetSVGSizedBounds(mMakerLogo.get(), 0, 10, 17, 236, 0, b);
    const double x = w - width_of(b) - 10;
    if (mMakerHover && r.SetFilterCallback(&LogoGlow, 15, this)) {
      r.DrawSVGSized(mMakerLogo.get(), nullptr, x, 17.5, 236, 0);
      r.FilterCallbackOff();
    }
    r.DrawSVGSized(mMakerLogo.get(), mMakerHit.get(), x, 17, 236, 0);
    clickable(mMakerLogo.get(), x, 17, 236, mMakerHit.get());
  }

  if (mBusy) {
    r.SetFont(mFont.get());
    r.SetTextAlign(ALIGN_LEFT, ALIGN_BOTTOM);
    if (r.SetFilterCallback(&TextGlow, 10, this)) {
      r.DrawText("Rendering ...", w - 245, h - 10, nullptr);
      r.FilterCallbackOff();
    }
    r.DrawText("Rendering ...", w - 245, h - 10, nullptr);
  }
  if (resting)
    mStill.Keep(std::move(still), Bitmap());
  else if (inSet)
    mPulseFrames.Keep(still, slot, Bitmap());
}

void TKorvaneBanner::StepPulse() {
  // The phase swings between -110 and 160.
  mPulsePhase += mPulseStep;
  if (mPulsePhase < -100 || mPulsePhase > 150) mPulseStep = -mPulseStep;
}

void TKorvaneBanner::CatchUp(bool inTick) {
  const uint64_t missed = sleep_missed_ticks(mSleptAt, 10, inTick);
  // The pulse comes back to the same phase every 54 steps.
  for (uint64_t i = missed % 54; i > 0; --i) StepPulse();
}

void TKorvaneBanner::TimerTick() {
  CatchUp(true);
  const bool wasBusy = mBusy;
  if (auto* control = dynamic_cast<TKorvaneControl*>(OwnerControl()); control != nullptr && ui::Mouse != nullptr) {
    const ui::TPoint p = control->ScreenToClient(ui::Mouse->CursorPos());
    banner_track_hover(control, this, p.X, p.Y, true);
  }
  StepPulse();
  mBusy = gRenderingBusy.load() > 0;
  const bool lit = mProductHover || mMakerHover;
  // A lit logo is drawn again when its glow changes: with every step of the
  // pulse, and when it turns green or red with the press.
  const bool glowChanged = lit && mGlowDrawn != std::pair(mPulsePhase, mPressed);
  if (glowChanged || mBusy || mBusy != wasBusy) Invalidate(true, 0, 0);
  // Nothing glows, pulses or is held: the pointer is tracked again when it
  // moves (or the window's activation or layout changes), and a background
  // render wakes the timer when it starts.
  if (!lit && !mBusy && !mPressed && Timer() != nullptr) {
    mSleptAt = ui::TickCount();
    SleepTimer();
  }
}

// ---------------------------------------------------------------------------
// Hover

void banner_track_hover(ui::TControl* control, TKorvaneBanner* scene, int32_t x, int32_t y, bool setCursorNow) {
  if (control == nullptr || scene == nullptr) return;
  scene->CatchUp(false);
  const ui::TForm* form = control->ParentForm();
  const bool inFront = form != nullptr && form->IsForeground();
  if (!scene->SurfaceBinding()->IsTopDown()) y = control->Height() - y;
  const bool product = inFront && scene->mProductHit->AnchorInt(x, y, scene->mTransformations.get()) > 0;
  const bool maker = inFront && scene->mMakerHit->AnchorInt(x, y, scene->mTransformations.get()) > 0;
  if (product != scene->mProductHover || maker != scene->mMakerHover) {
    // Coming onto a logo from neither restarts the pulse.
    if (!scene->mProductHover && !scene->mMakerHover) {
      scene->mPulsePhase = 0;
      scene->mPulseStep = 10;
    }
    scene->mProductHover = product;
    scene->mMakerHover = maker;
    scene->Invalidate(true, 0, 0);
  }
  if (inFront && x > 0 && x < control->Width() && y > 0 && y < control->Height()) {
    const ui::TCursor cursor = product || maker ? link_cursor() : ui::crArrow;
    control->SetCursor(cursor);
    if (setCursorNow) ui::SetCursorNow(cursor);
  }
}

// ---------------------------------------------------------------------------
// TKorvaneControl

TKorvaneControl::TKorvaneControl(ui::TComponent* owner) : TKVNPressControl(owner, kPressAnywhere) {
  ControlStyle &= ~uint32_t(ui::csDoubleClicks);
}

TKorvaneBanner* TKorvaneControl::Banner() const { return dynamic_cast<TKorvaneBanner*>(Scene()); }

void TKorvaneControl::HoverAt(int32_t x, int32_t y) {
  if (TKorvaneBanner* b = Banner()) banner_track_hover(this, b, x, y, false);
}

bool TKorvaneControl::OverFace() const {
  const TKorvaneBanner* b = Banner();
  return b != nullptr && (b->ProductHover() || b->MakerHover());
}

bool TKorvaneControl::PressHeld() const {
  const TKorvaneBanner* b = Banner();
  return b != nullptr && b->Pressed();
}

void TKorvaneControl::SetPressHeld(bool held) {
  if (TKorvaneBanner* b = Banner()) b->SetPressed(held);
}

void TKorvaneControl::PressAction() {
  const TKorvaneBanner* b = Banner();
  if (b->ProductHover())
    open_web_page(cnProductPage);
  else
    open_web_page(cnMakerPage);
}
