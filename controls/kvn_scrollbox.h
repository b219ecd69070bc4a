// cScrollBox: the kit's scrolling container, with its two scroll bars
// described by cControlScrollBar. Nothing in the system creates one; the
// parent-colour routine recognises it as a container. The window layer
// draws no scroll bars of its own, so the bars here are the model: range,
// position and steps, with the children moved as the position changes.
#pragma once

#include <cstdint>
#include <memory>

#include "ui_controls.h"

class cScrollingWinControl;

enum class TScrollBarKind { sbHorizontal, sbVertical };
using enum TScrollBarKind;
enum class TScrollBarStyle { ssRegular, ssFlat, ssHotTrack };
using enum TScrollBarStyle;
enum class TWindowState { wsNormal, wsMinimized, wsMaximized };
using enum TWindowState;
// clang-format off
enum class TScrollCode { scLineUp, scLineDown, scPageUp, scPageDown, scPosition, scTrack, scTop, scBottom, scEndScroll };
// clang-format on
using enum TScrollCode;

class cControlScrollBar {
 public:
  cControlScrollBar(cScrollingWinControl* control, TScrollBarKind kind);
  cControlScrollBar(const cControlScrollBar&) = delete;
  cControlScrollBar& operator=(const cControlScrollBar&) = delete;

  TScrollBarKind Kind() const { return mKind; }
  int32_t ButtonSize() const { return mButtonSize; }
  void SetButtonSize(int32_t v) { mButtonSize = v; }
  ui::TColor Color() const { return mColor; }
  void SetColor(ui::TColor c);  // clears ParentColor
  bool ParentColor() const { return mParentColor; }
  void SetParentColor(bool v);  // true resets Color to clBtnHighlight
  int32_t Increment() const { return mIncrement; }
  void SetIncrement(int32_t v);  // held within 1..32767
  uint16_t Margin() const { return mMargin; }
  void SetMargin(uint16_t v);
  int32_t Position() const { return mPosition; }
  // Kept within 0..MaxPosition; the children move by the change.
  void SetPosition(int32_t v);
  int32_t Range() const { return mRange; }
  // A range set here is no longer computed from the children.
  void SetRange(int32_t v);
  bool Smooth() const { return mSmooth; }
  void SetSmooth(bool v) { mSmooth = v; }
  int32_t Size() const { return mSize; }
  void SetSize(int32_t v) { mSize = v; }
  TScrollBarStyle Style() const { return mStyle; }
  void SetStyle(TScrollBarStyle s) { mStyle = s; }
  int32_t ThumbSize() const { return mThumbSize; }
  void SetThumbSize(int32_t v) { mThumbSize = v; }
  bool Tracking() const { return mTracking; }
  void SetTracking(bool v) { mTracking = v; }
  bool Visible() const { return mVisible; }
  void SetVisible(bool v);

  int32_t PageIncrement() const { return mPageIncrement; }
  int32_t MaxPosition() const { return mMaxPosition; }
  bool IsScrollBarVisible() const { return mVisible && mMaxPosition > 0; }
  // A scroll message: a line moves Increment, a page the client extent; in
  // Smooth mode a line moves Increment in 4 steps and a page the page
  // increment in 12, the remainder with the last step, each step painted.
  void ScrollMessage(TScrollCode code, int32_t pos = 0);

 private:
  friend class cScrollingWinControl;
  int32_t ControlExtent() const;
  // Range from the visible children's far edges plus Margin.
  void CalcAutoRange();
  void Update();
  void Step(int32_t total, int32_t steps);

  cScrollingWinControl* mControl;
  TScrollBarKind mKind;
  int32_t mButtonSize = 0;
  ui::TColor mColor = ui::clBtnHighlight;
  bool mParentColor = true;
  int32_t mIncrement = 8;
  uint16_t mMargin = 0;
  int32_t mPosition = 0;
  int32_t mRange = 0;
  bool mRangeSet = false;
  bool mSmooth = false;
  int32_t mSize = 0;
  TScrollBarStyle mStyle = ssRegular;
  int32_t mThumbSize = 0;
  bool mTracking = false;
  bool mVisible = true;
  int32_t mPageIncrement = 80;
  int32_t mMaxPosition = 0;
  int32_t mLineDiv = 4;
  int32_t mPageDiv = 12;
};

class cScrollingWinControl : public ui::TWinControl {
 public:
  explicit cScrollingWinControl(ui::TComponent* owner);
  ~cScrollingWinControl() override;

  cControlScrollBar& HorzScrollBar() { return *mHorz; }
  cControlScrollBar& VertScrollBar() { return *mVert; }
  bool AutoScroll() const { return mAutoScroll; }
  void SetAutoScroll(bool v);
  virtual bool AutoScrollEnabled() const { return true; }
  // Scrolls the control into view.
  virtual void AutoScrollInView(ui::TControl* control);
  virtual void Resizing(TWindowState) {}
  void ScrollInView(ui::TControl* control);
  // Recomputes the automatic ranges and the bars.
  void UpdateScrollBars();
  intptr_t WmSize(int width, int height) override;

 private:
  friend class cControlScrollBar;
  // Moves every child by (dx, dy).
  void ScrollChildren(int32_t dx, int32_t dy);
  std::unique_ptr<cControlScrollBar> mHorz, mVert;
  bool mAutoScroll = false;
  int mAutoRangeHeld = 0;
  bool mUpdatingScrollBars = false;
};

class cScrollBox : public cScrollingWinControl {
 public:
  explicit cScrollBox(ui::TComponent* owner);
  ui::TFormBorderStyle BorderStyle() const { return mBorderStyle; }
  void SetBorderStyle(ui::TFormBorderStyle s) { mBorderStyle = s; }
  // The box paints nothing of its own; its children paint themselves.
  void Paint() override {}

 private:
  ui::TFormBorderStyle mBorderStyle = ui::bsSingle;
};
