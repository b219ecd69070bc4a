// The installer window's status panel: a direct scene that draws a
// checkered ground, the status picture and the status text placed in the
// clock's drawing rectangle (swinging and turning once the installation has
// finished), and below them the mode texts and the progress. Its 25 ms
// timer also starts an update the user chose before the window was shown.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kvn_clock.h"
#include "kvn_control.h"
#include "kvn_scene.h"
#include "qlm_complex_text.h"
#include "qlm_font.h"
#include "qlm_platform.h"

class cBitmap;
class cImage;
class cRenderer;

// Set by the installer window once it has been shown; the status panel's
// next tick clears it and, for an update, starts the update.
extern bool gFormShown;

// The local date and time the status panel reads; tests pin it.
extern std::function<void(rDate&, rTime&)> gAnimLocalNow;

// The installer window's pages (its current-page field): 0 while the window
// is created; 6 only for the one call of the Continue handler with which the
// status panel starts a chosen update.
constexpr uint8_t cnPageCreating = 0, cnPageIntroduction = 1, cnPageAgreement = 2, cnPageOptions = 3,
                  cnPageInstalling = 4, cnPageFinished = 5, cnPageUpdate = 6;

// What the status panel needs of the installer window: starting a chosen
// update is showing cnPageUpdate, then running the Continue handler.
class TAnimSceneHost {
 public:
  virtual ~TAnimSceneHost() = default;
  virtual void SetPage(int32_t page) = 0;
  virtual void Continue() = 0;
};

// The status panel's texts below the clock square: the three mode lines,
// then the two progress lines and the progress ("100 %").
struct rAnimTexts {
  std::string mode[3];
  std::string progress[3];
};
rAnimTexts anim_texts(bool update, int32_t progress);

class TAnimScene : public TRenderingSceneDirect {
 public:
  // The clock's size: its space is S x S.
  static constexpr double cnClockSize = 380;

  explicit TAnimScene(TAnimSceneHost* owner);
  ~TAnimScene() override;

  void SetStatusText(const std::string& markup);
  void SetProgress(int32_t progress);
  void SetAnimate(bool animate);
  // Reads the local time and date into the hand angles and the clock state.
  void UpdateHands();

  void TimerTick() override;
  void RenderFrame(int32_t width, int32_t height) override;

  bool Animate() const { return mAnimate; }
  int32_t Progress() const { return mProgress; }
  const std::string& StatusText() const { return mStatusText; }
  double Swing() const { return mSwing; }
  double Rotation() const { return mRotation; }
  double HourAngle() const { return mHour; }
  double MinuteAngle() const { return mMinute; }
  double SecondAngle() const { return mSecond; }
  double WholeSecondAngle() const { return mWholeSecond; }
  const rClockCommons& Clock() const { return *mClock; }
  bool HasPicture() const { return mPicture != nullptr; }
  // Test seam: false draws the animated frames from the picture itself
  // (true, the default: from its copy at the size it is shown at).
  static void SetShownPictureEnabled(bool on);
  // Test seam: false draws every frame whole (true, the default: the
  // ground and the texts kept from the first frame and copied).
  static void SetFrameCacheEnabled(bool on);
  // Whether the last picture drawn is kept for the next repaint.
  bool StillKept() const { return mStill.Kept(); }

 private:
  // The picture drawn once at the size it takes in a panel of width w (nil
  // when it cannot be made).
  cBitmap* ShownPicture(int32_t w);
  void DrawGround(cRenderer& r, int32_t w, int32_t h, bool paint);
  void DrawModeTexts(cRenderer& r, int32_t w, int32_t h);

  // What the frames for a size, progress and install mode keep: the
  // ground, the ground with the texts (empty until a frame drew them over
  // the ground alone), and the first row the texts change.
  struct rFrameCache {
    int32_t width = -1, height = -1, progress = -1;
    uint8_t mode = 0;
    std::vector<uint8_t> ground, texted;
    int32_t text_top = 0;
  };
  rFrameCache mFrameCache;

  cFontWinTT mStatusFont;
  cFontWinTT mModeFont;
  rClockCommons* mClock = nullptr;
  TAnimSceneHost* mOwner;
  cComplexText mDocument;
  std::unique_ptr<cImage> mPicture;
  std::unique_ptr<cBitmap> mShownPicture;
  int32_t mShownPictureWidth = -1;  // the panel width it was made for
  // The whole still picture (not animating), kept while its inputs stay.
  cScenePixels mStill;
  bool mRotationUp = false;
  bool mSwingUp = true;
  double mRotation = 360.0;
  double mSwing = 0.0;
  double mHour = 0, mMinute = 0, mSecond = 0, mWholeSecond = 0;
  double mLastRepaint = 0.0;
  uint16_t mMillisecond = 0;  // of the time the hands were set from
  int32_t mProgress = 0;
  bool mAnimate = false;
  std::string mStatusText;
};

// The control that shows the status panel; double clicks are not
// delivered to it. The window creates and frees the scene.
class TAnimControl : public TKVNCustomControl {
 public:
  TAnimControl(ui::TComponent* owner, TAnimSceneHost* window, TAnimScene* scene);
  TAnimSceneHost* Window() const { return mWindow; }

 private:
  TAnimSceneHost* mWindow;
};
