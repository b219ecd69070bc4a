// The heading: the title bar of the dialogs. A vertical gradient bar in one
// of eight themes with a gloss over its upper half, an optional icon, the
// caption shrunk to fit the room left, and an optional help button drawn by
// a button painter that fires the heading's OnClick.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kvn_button.h"

class cFontWinTT;
class cHitTest;
class cImage;

enum TColorTheme : uint8_t {
  CT_BLUE = 0,
  CT_GREEN = 1,
  CT_RED = 2,
  CT_ORANGE = 3,
  CT_YELLOW = 4,
  CT_VIOLET = 5,
  CT_GRAY = 6,
  CT_BLUEGRAY = 7
};

// The hint over the help button.
extern const char* const cnHeadingHelpHint;

class THeadingScene : public TRenderingSceneDirect {
 public:
  THeadingScene();
  ~THeadingScene() override;

  bool MasterColor() const { return mMasterColor; }
  void SetMasterColor(bool v) { Set(mMasterColor, v); }
  const std::string& FontFace() const { return mFontFace; }
  void SetFontFace(const std::string& v) { Set(mFontFace, v); }
  double FontSize() const { return mFontSize; }
  void SetFontSize(double v) { Set(mFontSize, v); }
  sTextStyle FontStyle() const { return mFontStyle; }
  void SetFontStyle(sTextStyle v) { Set(mFontStyle, v); }
  const std::string& CaptionText() const { return mCaptionText; }
  void SetCaptionText(const std::string& v) { Set(mCaptionText, v); }
  uint32_t CaptionColor() const { return mCaptionColor; }
  void SetCaptionColor(uint32_t v) { Set(mCaptionColor, v); }
  TButtonType ButtonType() const { return mButtonType; }
  void SetButtonType(TButtonType v) { Set(mButtonType, v); }
  const std::string& ButtonText() const { return mButtonText; }
  void SetButtonText(const std::string& v) { Set(mButtonText, v); }
  uint32_t ButtonColor() const { return mButtonColor; }
  void SetButtonColor(uint32_t v) { Set(mButtonColor, v); }
  const std::string& ButtonFace() const { return mButtonFace; }
  void SetButtonFace(const std::string& v) { Set(mButtonFace, v); }
  double ButtonSize() const { return mButtonSize; }
  void SetButtonSize(double v) { Set(mButtonSize, v); }
  sTextStyle ButtonStyle() const { return mButtonStyle; }
  void SetButtonStyle(sTextStyle v) { Set(mButtonStyle, v); }
  TColorTheme ColorHeading() const { return mColorHeading; }
  void SetColorHeading(TColorTheme v) { Set(mColorHeading, v); }
  TColorIndex ColorButton() const { return mColorButton; }
  void SetColorButton(TColorIndex v) { Set(mColorButton, v); }
  bool FullHeight() const { return mFullHeight; }
  void SetFullHeight(bool v) { Set(mFullHeight, v); }
  bool Enabled() const { return mEnabled; }
  void SetEnabled(bool v) { Set(mEnabled, v); }

  // Takes the icon (nil: none).
  void SetIcon(std::unique_ptr<cImage> icon);
  cImage* Icon() const { return mIcon.get(); }

  void RenderFrame(int32_t width, int32_t height) override;
  // Every 100 ms while the help button is hovered: advances its wave and
  // drops the hover once the pointer is off it.
  void TimerTick() override;

  bool HelpHovered() const { return mHelpHovered; }
  bool HelpPressed() const { return mHelpPressed; }
  void SetHelpPressed(bool v) { Set(mHelpPressed, v); }
  bool Focused() const { return mFocused; }
  double Phase() const { return mPhase; }
  cHitTest* HitTest() const { return mHitTest.get(); }
  // The last frame's caption placement: left edge, room, and the scale it
  // was drawn at (0 when no caption was drawn).
  double CaptionLeft() const { return mCaptionLeft; }
  double CaptionRoom() const { return mCaptionRoom; }
  double CaptionScale() const { return mCaptionScale; }

 private:
  friend class TKVNHeading;
  template <class T>
  void Set(T& field, const T& v) {
    field = v;
    Invalidate(true, 0, 0);
  }
  void SelectFont(const std::string& face, double size, sTextStyle style);

  std::unique_ptr<cFontWinTT> mFont;
  std::unique_ptr<cHitTest> mHitTest;
  bool mMasterColor = true;
  bool mHelpHovered = false;
  bool mHelpPressed = false;
  bool mEnabled = true;
  bool mFocused = false;
  std::string mFontFace = "Verdana";
  double mFontSize = 13.0;
  sTextStyle mFontStyle = TEXT_BOLD;
  std::string mCaptionText = "Dialog Title";
  uint32_t mCaptionColor = 0xFFFFFFFF;
  std::unique_ptr<cImage> mIcon;
  TButtonType mButtonType = BTN_CANDY;
  std::string mButtonText;
  uint32_t mButtonColor = 0xFFFFFFFF;
  std::string mButtonFace = "Verdana";
  double mButtonSize = 8.0;
  sTextStyle mButtonStyle = TEXT_BOLD;
  TColorTheme mColorHeading = CT_GRAY;
  TColorIndex mColorButton = CLR_ORANGE;
  bool mFullHeight = false;
  double mPhase = 1.0;
  double mCaptionLeft = 0, mCaptionRoom = 0, mCaptionScale = 0;
};

// Its Enabled is the scene's flag (SceneEnabled): the control itself stays
// enabled and keeps its input; a disabled heading only withholds OnClick
// (by mouse and Enter).
class TKVNHeading : public TKVNPressControl {
 public:
  explicit TKVNHeading(ui::TComponent* owner);
  ~TKVNHeading() override;

  THeadingScene* HeadingScene() const { return mScene; }

  // Loads the icon (resource registry first, then the file); a name that
  // neither supplies keeps the icon there was.
  void SetIcon(const std::string& fileName);
  void SetColorHeading(TColorTheme v) { mScene->SetColorHeading(v); }
  TColorTheme ColorHeading() const { return mScene->ColorHeading(); }
  // The kit's Enabled: the scene's flag, apart from the window layer's
  // Enabled(), which stays true so that the control keeps its input.
  bool SceneEnabled() const { return mScene->Enabled(); }
  void SetSceneEnabled(bool v) { mScene->SetEnabled(v); }

  // Help-button hover at the client point; answers whether it changed.
  bool TrackHover(int32_t x, int32_t y);

  // Hover, then the help hint of the button under the pointer.
  intptr_t WmMouseMove(const ui::TMouseMsg& m) override;

 private:
  // Every press takes the focus; the release alone decides: over the help
  // button it clicks, wherever the press began.
  void HoverAt(int32_t x, int32_t y) override { TrackHover(x, y); }
  bool OverFace() const override { return mScene->HelpHovered(); }
  bool PressHeld() const override { return mScene->HelpPressed(); }
  void SetPressHeld(bool held) override { mScene->Set(mScene->mHelpPressed, held); }
  void PressAction() override { FireClick(); }
  // The scene records the focus; Enter clicks like the mouse.
  void FocusLook(bool focused) override { mScene->Set(mScene->mFocused, focused); }
  uint16_t ClickKey() const override { return ui::VK_RETURN; }
  void FireClick();
  THeadingScene* mScene = nullptr;
  std::string mHelpHint = cnHeadingHelpHint;
};
