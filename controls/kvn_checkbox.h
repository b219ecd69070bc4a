// The check box, also usable as a radio item: a small rounded square (or a
// circle) with a filled mark when checked and a plain caption shrunk to fit
// the width. The whole control is its hit area; hovering lights a halo
// around the caption (another colour while pressed), the focus colours the
// outline. A click or the space bar toggles Checked and fires OnClick.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kvn_button.h"

class cFontWinTT;
class cHitTest;

// The check box's colours (opaque framework colours).
constexpr uint32_t cnCheckDarkGrey = 0xFFA9A9A9;
constexpr uint32_t cnCheckGoldenrod = 0xFFDAA520;
constexpr uint32_t cnCheckDodgerBlue = 0xFF1E90FF;
constexpr uint32_t cnCheckLimeGreen = 0xFF32CD32;

class TCheckBoxScene : public TRenderingSceneDirect {
 public:
  TCheckBoxScene();
  ~TCheckBoxScene() override;

  bool MasterColor() const { return mMasterColor; }
  void SetMasterColor(bool v) { Set(mMasterColor, v); }
  const std::string& FontFace() const { return mFontFace; }
  void SetFontFace(const std::string& v);
  double FontSize() const { return mFontSize; }
  void SetFontSize(double v);
  sTextStyle FontStyle() const { return mFontStyle; }
  void SetFontStyle(sTextStyle v);
  const std::string& Caption() const { return mCaption; }
  void SetCaption(const std::string& v) { Set(mCaption, v); }
  bool Checked() const { return mChecked; }
  void SetChecked(bool v) { Set(mChecked, v); }
  bool IsRadio() const { return mIsRadio; }
  void SetIsRadio(bool v) { Set(mIsRadio, v); }
  bool Enabled() const { return mEnabled; }
  void SetEnabled(bool v) { Set(mEnabled, v); }

  void RenderFrame(int32_t width, int32_t height) override;
  // Every 100 ms while hovered: drops the hover once the pointer is off the
  // control.
  void TimerTick() override;

  bool Hovered() const { return mHovered; }
  bool Pressed() const { return mPressed; }
  bool Focused() const { return mFocused; }
  cHitTest* HitTest() const { return mHitTest.get(); }
  // The last frame's caption scale (0 when no caption was drawn).
  double CaptionScale() const { return mCaptionScale; }

 private:
  friend class TKVNCheckBox;
  template <class T>
  void Set(T& field, const T& v) {
    field = v;
    Invalidate(true, 0, 0);
  }

  std::unique_ptr<cHitTest> mHitTest;
  std::unique_ptr<cFontWinTT> mFont;
  bool mMasterColor = true;
  bool mHovered = false;
  bool mPressed = false;
  bool mEnabled = true;
  bool mFocused = false;
  bool mIsRadio = false;
  std::string mFontFace = "Arial";
  double mFontSize = 9.0;
  sTextStyle mFontStyle = 0;
  std::string mCaption = "Check Box";
  bool mChecked = false;
  double mCaptionScale = 0;
};

// Its Enabled is the scene's flag (SceneEnabled): the control itself stays
// enabled and keeps its input; a disabled box is drawn dark grey and does
// not toggle.
class TKVNCheckBox : public TKVNPressControl {
 public:
  explicit TKVNCheckBox(ui::TComponent* owner);
  ~TKVNCheckBox() override;

  TCheckBoxScene* CheckBoxScene() const { return mScene; }
  const std::string& Caption() const { return mScene->Caption(); }
  void SetCaption(const std::string& v) { mScene->SetCaption(v); }
  bool Checked() const { return mScene->Checked(); }
  // Fires OnClick only when the value changes.
  void SetChecked(bool v);
  bool IsRadio() const { return mScene->IsRadio(); }
  void SetIsRadio(bool v) { mScene->SetIsRadio(v); }
  // The kit's Enabled: the scene's flag, apart from the window layer's
  // Enabled(), which stays true so that the control keeps its input.
  bool SceneEnabled() const { return mScene->Enabled(); }
  void SetSceneEnabled(bool v) { mScene->SetEnabled(v); }

  // Hover over the control while its form is in front; answers whether it
  // changed.
  bool TrackHover(int32_t x, int32_t y);

 private:
  // A press on the box takes the focus; a release over the box toggles,
  // wherever the press began.
  void HoverAt(int32_t x, int32_t y) override { TrackHover(x, y); }
  bool OverFace() const override { return mScene->Hovered(); }
  bool PressHeld() const override { return mScene->Pressed(); }
  void SetPressHeld(bool held) override { mScene->Set(mScene->mPressed, held); }
  void PressAction() override { Toggle(); }
  // The focus colours the box's outline; the space bar toggles.
  void FocusLook(bool focused) override { mScene->Set(mScene->mFocused, focused); }
  uint16_t ClickKey() const override { return ui::VK_SPACE; }
  // Toggles Checked and fires OnClick, when enabled.
  void Toggle();
  TCheckBoxScene* mScene = nullptr;
};
