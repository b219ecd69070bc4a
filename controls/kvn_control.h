// TKVNCustomControl: a window control that shows one scene. It paints
// nothing of its own: it copies the scene's bitmap to its canvas.
#pragma once

#include "kvn_scene.h"
#include "ui_controls.h"

class TKVNCustomControl : public ui::TCustomControl {
 public:
  explicit TKVNCustomControl(ui::TComponent* owner);
  // A scene still shown by this control forgets it.
  ~TKVNCustomControl() override;

  // Shows the scene (not owned: whoever made it frees it). The scene is
  // told this control is its owner and is invalidated.
  void SetScene(TRenderingScene* scene);
  TRenderingScene* Scene() const { return mScene; }
  // The scene's bitmap at (0, 0); without a scene a red dashed rectangle
  // over the client area; nothing while the scene hands out no bitmap.
  void Paint() override;
  // The scene is invalidated at the new size; OnResize is not raised.
  intptr_t WmSize(int width, int height) override;

 private:
  TRenderingScene* mScene = nullptr;
};

// The kit's one press behaviour under every clickable control: hover, press,
// capture and release. A control supplies its hit test (HoverAt, which
// updates its hover state, and OverFace, which reads it), its pressed flag
// and its action; the flags choose the variants. Every handler answers 0.
//   down:    kPressFocusFirst takes the focus first. A press on the face
//            (anywhere with kPressAnywhere) holds the control and captures
//            the mouse; kPressFocusOnFace takes the focus with it.
//   up:      with kTrackOnRelease the release point is hit-tested anew,
//            else the hover of the last move stands. Over the face a held
//            press acts (with kReleaseDecides, any release there acts,
//            wherever the press began). The capture is released unless the
//            action freed the control.
//   capture lost: PressLost, by default the press is let go.
//   focus:   the focus look (FocusLook) follows the window layer's focus.
//   key:     the control's click key (ClickKey) runs KeyAction, by default
//            the action. The form's own OnKeyDown runs first; a key it sets
//            to 0 does not click.
// The form's OnEnter, OnExit and OnKeyDown stay the form's: the behaviour
// above sits in the layer's hooks, and the layer fires those events beside
// them.
// A disabled scene does nothing: its action checks the scene's flag.
class TKVNPressControl : public TKVNCustomControl {
 public:
  enum : uint32_t {
    kPressFocusFirst = 1,
    kPressFocusOnFace = 2,
    kPressAnywhere = 4,
    kReleaseDecides = 8,
    kTrackOnRelease = 16,
  };
  intptr_t WmMouseMove(const ui::TMouseMsg& m) override;
  intptr_t WmLButtonDown(const ui::TMouseMsg& m) override;
  intptr_t WmLButtonUp(const ui::TMouseMsg& m) override;
  intptr_t WmCaptureChanged() override;
  void WmSetFocus() override { FocusLook(true); }
  void WmKillFocus() override { FocusLook(false); }
  intptr_t WmKeyDown(uint16_t& key, ui::TShiftState shift) override;

 protected:
  TKVNPressControl(ui::TComponent* owner, uint32_t pressFlags);
  virtual void HoverAt(int32_t x, int32_t y) = 0;
  virtual bool OverFace() const = 0;
  virtual bool PressHeld() const = 0;
  virtual void SetPressHeld(bool held) = 0;
  virtual void PressAction() = 0;
  virtual void PressLost() { SetPressHeld(false); }
  virtual void FocusLook(bool) {}
  // The key that clicks the control; 0: none.
  virtual uint16_t ClickKey() const { return 0; }
  virtual void KeyAction() { PressAction(); }

 private:
  uint32_t mPressFlags = 0;
};
