// The page banner: a direct scene with the product and maker logos over a
// faint page picture, glowing and pulsing while the pointer is over a logo,
// and "Rendering ..." while a background render runs; and the control that
// shows it and opens the product's or the maker's web page when a logo is
// clicked.
#pragma once

#include <memory>
#include <optional>
#include <utility>

#include "kvn_control.h"
#include "kvn_scene.h"

class cFontWinTT;
class cHitTest;
class cImage;
class cImageSVG;
class cTransformations;

// The two web pages the banner opens.
extern const char* const cnProductPage;
extern const char* const cnMakerPage;

class TKorvaneBanner : public TRenderingSceneDirect {
 public:
  TKorvaneBanner();
  ~TKorvaneBanner() override;

  void SetShowFrame(bool on) { mShowFrame = on; }
  // The rectangle the page picture is stretched into.
  void SetBackgroundRect(int32_t x, int32_t y, int32_t width, int32_t height);
  void SetLogoMargin(int32_t margin) { mLogoMargin = margin; }
  // The product logo's width in a banner w pixels wide; 1 or less: no logo.
  int32_t ProductLogoWidth(int32_t w) const;

  void RenderFrame(int32_t w, int32_t h) override;
  void TimerTick() override;

  bool ProductHover() const { return mProductHover; }
  bool MakerHover() const { return mMakerHover; }
  bool Pressed() const { return mPressed; }
  void SetPressed(bool v) { mPressed = v; }
  bool Busy() const { return mBusy; }
  // The phase now (with the steps of a sleeping timer counted).
  int32_t PulsePhase() {
    CatchUp(false);
    return mPulsePhase;
  }
  // Whether the last picture drawn is kept for the next repaint.
  bool StillKept() const { return mStill.Kept(); }
  // The lit or busy pictures kept, and their bytes.
  size_t PulseFramesKept() const { return mPulseFrames.KeptCount(); }
  size_t PulseFramesBytes() const { return mPulseFrames.KeptBytes(); }

 private:
  friend void banner_track_hover(ui::TControl* control, TKorvaneBanner* scene, int32_t x, int32_t y, bool setCursorNow);
  static void LogoGlow(cBitmap* layer, bool& keep, void* user);
  static void TextGlow(cBitmap* layer, bool& keep, void* user);
  static void Pulse(cBitmap* layer, int32_t phase);
  void StepPulse();
  // After the timer slept, the pulse steps it missed (as if it had kept
  // ticking), before anything reads or restarts the pulse.
  void CatchUp(bool inTick);

  std::unique_ptr<cImageSVG> mProductLogo, mMakerBackground, mMakerLogo;
  std::unique_ptr<cImage> mPagePicture;
  std::unique_ptr<cFontWinTT> mFont;
  std::unique_ptr<cTransformations> mTransformations;
  std::unique_ptr<cHitTest> mProductHit, mMakerHit;
  // The resting picture (no glow, no busy text), kept with its inputs.
  cScenePixels mStill;
  // The pictures of a lit logo or the busy text, one per phase of the pulse
  // and press, kept with the same inputs as the resting one plus the hover
  // and busy flags.
  cSceneFrames mPulseFrames;
  bool mBusy = false;
  bool mPressed = false;
  bool mProductHover = false;
  bool mMakerHover = false;
  bool mShowFrame = false;
  int32_t mPulsePhase = 0;
  int32_t mPulseStep = 10;
  // The lit logo's glow in the last picture drawn: its phase and whether
  // it was the pressed (green) one; none without a lit logo.
  std::optional<std::pair<int32_t, bool>> mGlowDrawn;
  // When the timer went to sleep (ui::TickCount), while it sleeps.
  std::optional<uint64_t> mSleptAt;
  int32_t mLogoMargin = 30;
  int32_t mPictureX = 0, mPictureY = -78, mPictureWidth = 582, mPictureHeight = 620;
};

// Tracks the pointer over the banner's logos: the hover flags (only while
// the control's form is in front), a restarted pulse when the pointer
// comes onto a logo, a repaint when a flag changed, and over the control
// the link cursor above a logo, else the arrow (shown at once with
// setCursorNow).
void banner_track_hover(ui::TControl* control, TKorvaneBanner* scene, int32_t x, int32_t y, bool setCursorNow);

// The control that shows the banner (its scene, set with SetScene, stays
// the creator's).
class TKorvaneControl : public TKVNPressControl {
 public:
  explicit TKorvaneControl(ui::TComponent* owner);

 private:
  // A press anywhere on the banner holds it; the release over the product
  // logo opens the product's page, over the maker logo the maker's.
  void HoverAt(int32_t x, int32_t y) override;
  bool OverFace() const override;
  bool PressHeld() const override;
  void SetPressHeld(bool held) override;
  void PressAction() override;
  TKorvaneBanner* Banner() const;
};
