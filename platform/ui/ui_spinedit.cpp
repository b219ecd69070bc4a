#include "ui_spinedit.h"

#include <charconv>

namespace ui {

TSpinEdit::TSpinEdit(TComponent* owner) : TCustomControl(owner) {
  mEdit = new TEdit(this);
  mEdit->SetParent(this);
  mEdit->SetAnchors(akLeft | akTop | akRight | akBottom);
  mEdit->SetNumbersOnly(true);
  mEdit->OnChange = [this](TObject*) {
    if (OnChange) OnChange(this);
  };
  // A number typed outside the limits is corrected when the focus leaves.
  mEdit->OnExit = [this](TObject*) {
    if (Clamp(Value()) != Value() || mEdit->Text() != std::to_string(Value())) SetValue(Value());
  };
  mRepeat = new TTimer(this);
  mRepeat->SetEnabled(false);
  mRepeat->SetOnTimer([this](TObject*) {
    mRepeat->SetInterval(kRepeatMs);
    if (mPressed) Step(mPressed);
  });
  SetBounds(0, 0, 121, 22);
  SetValue(0);
}

void TSpinEdit::BoundsChanged(bool sized) {
  TCustomControl::BoundsChanged(sized);
  mEdit->SetBounds(0, 0, std::max(Width() - kArrowWidth, 0), Height());
}

int TSpinEdit::Clamp(int v) const {
  if (mMax == mMin) return v;
  return std::min(std::max(v, mMin), mMax);
}

void TSpinEdit::SetMinValue(int v) { mMin = v; }
void TSpinEdit::SetMaxValue(int v) { mMax = v; }

int TSpinEdit::Value() const {
  const std::string& t = mEdit->Text();
  int v = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size() || t.empty()) return mMin;
  return v;
}

void TSpinEdit::SetValue(int v) { mEdit->SetText(std::to_string(Clamp(v))); }

void TSpinEdit::Step(int direction) {
  long long v = (long long)Value() + (long long)direction * Increment;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  SetValue(int(v));
}

void TSpinEdit::Paint() {
  int x = Width() - kArrowWidth, h = Height(), mid = h / 2;
  auto& cv = Canvas();
  cv.Brush.Style = bsSolid;
  cv.Pen.Style = psSolid;
  cv.Pen.Color = clBtnShadow;
  for (int half = 0; half < 2; ++half) {
    TRect r = half == 0 ? TRect{x, 0, Width(), mid} : TRect{x, mid, Width(), h};
    bool pressed = mPressed == (half == 0 ? 1 : -1);
    cv.Brush.Color = pressed ? clBtnShadow : clBtnFace;
    cv.Rectangle(r);
    // A small triangle: 5 pixels wide at its base.
    cv.Brush.Color = clWindowText;
    int cx = (r.Left + r.Right) / 2, cy = (r.Top + r.Bottom) / 2;
    for (int i = 0; i < 3; ++i) {
      int y = half == 0 ? cy - 1 + i : cy + 1 - i;
      cv.FillRect({cx - i, y, cx + i + 1, y + 1});
    }
  }
}

intptr_t TSpinEdit::WmLButtonDown(const TMouseMsg& m) {
  // The mouse and change handlers may free the spin edit.
  auto alive = AliveToken();
  TCustomControl::WmLButtonDown(m);
  if (alive.expired() || m.X < Width() - kArrowWidth) return 0;
  mPressed = m.Y < Height() / 2 ? 1 : -1;
  SetCapture(this);
  Step(mPressed);
  if (alive.expired()) return 0;
  mRepeat->SetInterval(kRepeatDelayMs);
  mRepeat->SetEnabled(true);
  Repaint();
  return 0;
}

intptr_t TSpinEdit::WmLButtonUp(const TMouseMsg& m) {
  auto alive = AliveToken();
  TCustomControl::WmLButtonUp(m);
  if (alive.expired()) return 0;
  if (GetCapture() == this) ReleaseCapture();
  StopRepeat();
  return 0;
}

intptr_t TSpinEdit::WmCaptureChanged() {
  TCustomControl::WmCaptureChanged();
  StopRepeat();
  return 0;
}

intptr_t TSpinEdit::WmMouseWheel(const TWheelMsg& m) {
  if (m.Delta == 0) return 0;
  Step(m.Delta > 0 ? 1 : -1);
  return 1;
}

void TSpinEdit::StopRepeat() {
  mRepeat->SetEnabled(false);
  if (mPressed) {
    mPressed = 0;
    Invalidate();
  }
}

}  // namespace ui
