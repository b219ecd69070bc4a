// A number entry: a native edit that takes digits, with two arrow halves
// of our own beside it that step the value and repeat while held.
#pragma once
#include "ui_app.h"
#include "ui_controls.h"

namespace ui {

class TSpinEdit : public TCustomControl {
 public:
  static constexpr int kArrowWidth = 13;
  static constexpr unsigned kRepeatDelayMs = 400;
  static constexpr unsigned kRepeatMs = 100;

  explicit TSpinEdit(TComponent* owner);
  int MinValue() const { return mMin; }
  void SetMinValue(int v);
  int MaxValue() const { return mMax; }
  void SetMaxValue(int v);
  int Increment = 1;
  // The typed number as it stands (limits are applied when the focus
  // leaves, by the arrows and by SetValue); MinValue for a text that is no
  // number.
  int Value() const;
  // Sets the text to v limited to MinValue..MaxValue (when they differ).
  void SetValue(int v);
  TEdit& Edit() { return *mEdit; }
  // Fires on every change of the text, typed or stepped.
  TNotifyEvent OnChange;

  void SetFocus() override { mEdit->SetFocus(); }
  void Paint() override;
  intptr_t WmLButtonDown(const TMouseMsg& m) override;
  intptr_t WmLButtonUp(const TMouseMsg& m) override;
  intptr_t WmCaptureChanged() override;
  intptr_t WmMouseWheel(const TWheelMsg& m) override;

 protected:
  void BoundsChanged(bool sized) override;

 private:
  int Clamp(int v) const;
  void Step(int direction);
  void StopRepeat();
  TEdit* mEdit;
  TTimer* mRepeat;
  int mMin = 0, mMax = 0;
  int mPressed = 0;  // +1 up arrow, -1 down arrow, 0 none
};

}  // namespace ui
