// The push button: a control of the kit whose face one of the button
// painters draws through the button's own direct scene. Five looks in six
// colours, an optional drop shadow, a focus glow, a plain or mark-up
// caption, hover and press tracked against the painted face, a wave or
// swirl distortion while hovered or pressed, and a short pressed flash when
// Enter clicks it. CLR_GRAY is the inactive look: drawn lightened, never
// hovered, not clickable with the mouse (Enter still clicks it).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "kvn_button_paint.h"
#include "kvn_control.h"
#include "kvn_scene.h"

class cComplexText;
class cFontWinTT;
class cHitTest;
class TKVNButton;

// Shared by the kit's own controls: the background a scene clears to
// (opaque white; with masterColor the parent container's colour, else the
// control's own Color), whether the control's form is in front, and whether
// a scene's hit test holds the control's client point (x, y).
uint32_t control_background(const ui::TControl* control, bool masterColor);
bool control_in_front(const ui::TControl* control);
bool scene_hits(TRenderingScene* scene, cHitTest* hit, const ui::TControl* control, int32_t x, int32_t y);

// Caption style flags (bit 0 bold, bit 1 italic, as the renderer's fonts).
using sTextStyle = uint8_t;
constexpr sTextStyle TEXT_BOLD = 1;
constexpr sTextStyle TEXT_ITALIC = 2;

class TButtonScene : public TRenderingSceneDirect {
 public:
  TButtonScene();
  ~TButtonScene() override;

  bool MasterColor() const { return mMasterColor; }
  void SetMasterColor(bool v);
  const std::string& ButtonText() const { return mButtonText; }
  void SetButtonText(const std::string& v);
  TButtonType ButtonType() const { return mButtonType; }
  void SetButtonType(TButtonType v);
  bool ButtonShadow() const { return mButtonShadow; }
  void SetButtonShadow(bool v);
  bool ClipText() const { return mClipText; }
  void SetClipText(bool v);
  const std::string& FontFace() const { return mFontFace; }
  void SetFontFace(const std::string& v);
  double FontSize() const { return mFontSize; }
  void SetFontSize(double v);
  sTextStyle FontStyle() const { return mFontStyle; }
  void SetFontStyle(sTextStyle v);
  uint32_t FontColor() const { return mFontColor; }
  void SetFontColor(uint32_t v);
  TColorIndex ColorIndex() const { return mColorIndex; }
  void SetColorIndex(TColorIndex v);
  bool Anisotropic() const { return mAnisotropic; }
  void SetAnisotropic(bool v);
  bool Animate() const { return mAnimate; }
  void SetAnimate(bool v);

  // Rebuilds the caption document: a caption of two or more characters
  // that starts with "~}" is mark-up, laid out on one line; one that cannot
  // be parsed, formatted or laid out is drawn as plain text.
  void ParseCaption();
  // The keyboard click: starts the pressed flash and fires the owner
  // button's OnClick, unless a flash is already running.
  void KeyClick();

  void RenderFrame(int32_t width, int32_t height) override;
  // Every 80 ms: advances the distortion phase, tracks the pointer, ends a
  // flash older than 100 ms and redraws a hovered button.
  void TimerTick() override;

  // State, for the control and for tests.
  bool Hovered() const { return mHovered; }
  bool Pressed() const { return mPressed; }
  void SetPressed(bool v) { mPressed = v; }
  bool Flash() const { return mFlash; }
  bool Focused() const { return mFocused; }
  void SetFocused(bool v);
  // The phase now (with the steps of a sleeping timer counted).
  double Phase() {
    CatchUp(false);
    return mPhase;
  }
  cHitTest* HitTest() const { return mHitTest.get(); }
  cComplexText* CaptionDocument() const { return mCaption.get(); }
  cFontWinTT* Font() const { return mFont.get(); }

 private:
  friend bool button_track_hover(TKVNButton* control, int32_t x, int32_t y, bool press);
  friend class TKVNButton;
  void Changed() { Invalidate(true, 0, 0); }
  void StepPhase();
  // After the timer slept, the phase steps it missed (as if it had kept
  // ticking), before anything reads or restarts it.
  void CatchUp(bool inTick);
  void ConfigureDistortion(bool pressed, double mx, double my, int32_t height);

  std::unique_ptr<cFontWinTT> mFont;
  std::unique_ptr<cHitTest> mHitTest;
  int32_t mPointerX = 0;
  int32_t mPointerY = 0;
  double mPhase = 1.0;
  uint64_t mFlashStamp = 0;          // the window layer's clock, in ms
  std::optional<uint64_t> mSleptAt;  // when the timer went to sleep
  bool mMasterColor = true;
  bool mFlash = false;
  bool mHovered = false;
  bool mPressed = false;
  bool mFocused = false;
  std::string mFontFace = "Verdana";
  double mFontSize = 9.0;
  sTextStyle mFontStyle = TEXT_BOLD;
  uint32_t mFontColor = 0xFFFFFFFF;
  TColorIndex mColorIndex = CLR_BLUE;
  bool mAnisotropic = false;
  bool mClipText = true;
  bool mAnimate = true;
  TButtonType mButtonType = BTN_ROUND;
  std::string mButtonText = "Korvane Button";
  bool mButtonShadow = true;
  std::unique_ptr<cComplexText> mCaption;
};

// Hover tracking shared by the mouse handlers and the timer: hovered while
// the button's form is in front, the colour is not CLR_GRAY and the painted
// face is under (x, y); with press, pressed follows hovered. A hover or
// press that begins restarts the distortion phase. Answers whether hovered
// or pressed changed (the scene is then invalidated).
bool button_track_hover(TKVNButton* control, int32_t x, int32_t y, bool press);

class TKVNButton : public TKVNPressControl {
 public:
  explicit TKVNButton(ui::TComponent* owner);
  ~TKVNButton() override;

  TButtonScene* ButtonScene() const { return mScene; }

  bool MasterColor() const { return mScene->MasterColor(); }
  void SetMasterColor(bool v) { mScene->SetMasterColor(v); }
  const std::string& ButtonText() const { return mScene->ButtonText(); }
  void SetButtonText(const std::string& v) { mScene->SetButtonText(v); }
  TButtonType ButtonType() const { return mScene->ButtonType(); }
  void SetButtonType(TButtonType v) { mScene->SetButtonType(v); }
  bool ButtonShadow() const { return mScene->ButtonShadow(); }
  void SetButtonShadow(bool v) { mScene->SetButtonShadow(v); }
  bool ClipText() const { return mScene->ClipText(); }
  void SetClipText(bool v) { mScene->SetClipText(v); }
  const std::string& FontFace() const { return mScene->FontFace(); }
  void SetFontFace(const std::string& v) { mScene->SetFontFace(v); }
  double FontSize() const { return mScene->FontSize(); }
  void SetFontSize(double v) { mScene->SetFontSize(v); }
  sTextStyle FontStyle() const { return mScene->FontStyle(); }
  void SetFontStyle(sTextStyle v) { mScene->SetFontStyle(v); }
  uint32_t FontColor() const { return mScene->FontColor(); }
  void SetFontColor(uint32_t v) { mScene->SetFontColor(v); }
  TColorIndex ColorIndex() const { return mScene->ColorIndex(); }
  void SetColorIndex(TColorIndex v) { mScene->SetColorIndex(v); }
  bool Anisotropic() const { return mScene->Anisotropic(); }
  void SetAnisotropic(bool v) { mScene->SetAnisotropic(v); }
  bool Animate() const { return mScene->Animate(); }
  void SetAnimate(bool v) { mScene->SetAnimate(v); }

 private:
  // A press on the face takes the focus; the button clicks when the press
  // began on the face and the release is over it (the hover of the last
  // move).
  void HoverAt(int32_t x, int32_t y) override { button_track_hover(this, x, y, false); }
  bool OverFace() const override { return mScene->Hovered(); }
  bool PressHeld() const override { return mScene->Pressed(); }
  void SetPressHeld(bool held) override;
  void PressAction() override;
  // Re-evaluates pressed at the pointer: a button the pointer left is no
  // longer pressed.
  void PressLost() override;
  // The focus glows; Enter clicks with the pressed flash.
  void FocusLook(bool focused) override { mScene->SetFocused(focused); }
  uint16_t ClickKey() const override { return ui::VK_RETURN; }
  void KeyAction() override;
  TButtonScene* mScene = nullptr;
};
