#include "kvn_scrollbox.h"

#include <algorithm>

// ---------------------------------------------------------------------------
// cControlScrollBar

cControlScrollBar::cControlScrollBar(cScrollingWinControl* control, TScrollBarKind kind)
    : mControl(control), mKind(kind) {}

void cControlScrollBar::SetColor(ui::TColor c) {
  mColor = c;
  mParentColor = false;
}

void cControlScrollBar::SetParentColor(bool v) {
  mParentColor = v;
  if (v) mColor = ui::clBtnHighlight;
}

void cControlScrollBar::SetIncrement(int32_t v) { mIncrement = std::clamp(v, 1, 32767); }

void cControlScrollBar::SetMargin(uint16_t v) {
  mMargin = v;
  mControl->UpdateScrollBars();
}

void cControlScrollBar::SetVisible(bool v) {
  mVisible = v;
  mControl->UpdateScrollBars();
}

void cControlScrollBar::SetRange(int32_t v) {
  mRangeSet = true;
  mRange = std::max(v, 0);
  Update();
}

int32_t cControlScrollBar::ControlExtent() const {
  return mKind == sbHorizontal ? mControl->ClientWidth() : mControl->ClientHeight();
}

void cControlScrollBar::SetPosition(int32_t v) {
  v = std::clamp(v, 0, std::max(mMaxPosition, 0));
  const int32_t delta = mPosition - v;
  if (delta == 0) return;
  mPosition = v;
  if (mKind == sbHorizontal)
    mControl->ScrollChildren(delta, 0);
  else
    mControl->ScrollChildren(0, delta);
}

void cControlScrollBar::CalcAutoRange() {
  int64_t extent = 0;
  for (int i = 0; i < mControl->ControlCount(); ++i) {
    const ui::TControl* c = mControl->Controls(i);
    if (!c->Visible()) continue;
    // Controls aligned to the far side or the whole client follow the
    // client; they do not extend the range on that axis.
    const ui::TAlign a = c->Align();
    if (a == ui::alClient || a == (mKind == sbHorizontal ? ui::alRight : ui::alBottom)) continue;
    const int64_t edge = mKind == sbHorizontal ? int64_t(c->Left()) + c->Width() : int64_t(c->Top()) + c->Height();
    extent = std::max(extent, edge + mPosition);
  }
  mRange = int32_t(std::clamp<int64_t>(extent + mMargin, 0, INT32_MAX));
}

void cControlScrollBar::Update() {
  const int32_t client = ControlExtent();
  mPageIncrement = client * 9 / 10;
  mMaxPosition = mVisible ? std::max(mRange - client, 0) : 0;
  SetPosition(mPosition);
}

void cControlScrollBar::Step(int32_t total, int32_t steps) {
  // Equal steps, the remainder with the last; the control is painted after
  // each so the content glides.
  const int32_t each = total / steps;
  for (int32_t i = 0; i < steps; ++i) {
    SetPosition(mPosition + each + (i == steps - 1 ? total - each * steps : 0));
    mControl->Update();
  }
}

void cControlScrollBar::ScrollMessage(TScrollCode code, int32_t pos) {
  const int32_t client = ControlExtent();
  switch (code) {
    case scLineUp: mSmooth ? Step(-mIncrement, mLineDiv) : SetPosition(mPosition - mIncrement); break;
    case scLineDown: mSmooth ? Step(mIncrement, mLineDiv) : SetPosition(mPosition + mIncrement); break;
    case scPageUp: mSmooth ? Step(-mPageIncrement, mPageDiv) : SetPosition(mPosition - client); break;
    case scPageDown: mSmooth ? Step(mPageIncrement, mPageDiv) : SetPosition(mPosition + client); break;
    case scTrack:
      if (mTracking) SetPosition(pos);
      break;
    case scPosition: SetPosition(pos); break;
    case scTop: SetPosition(0); break;
    case scBottom: SetPosition(mMaxPosition); break;
    case scEndScroll: break;
  }
}

// ---------------------------------------------------------------------------
// cScrollingWinControl

cScrollingWinControl::cScrollingWinControl(ui::TComponent* owner)
    : TWinControl(owner),
      mHorz(std::make_unique<cControlScrollBar>(this, sbHorizontal)),
      mVert(std::make_unique<cControlScrollBar>(this, sbVertical)) {}

cScrollingWinControl::~cScrollingWinControl() = default;

void cScrollingWinControl::SetAutoScroll(bool v) {
  mAutoScroll = v;
  UpdateScrollBars();
}

void cScrollingWinControl::ScrollChildren(int32_t dx, int32_t dy) {
  for (int i = 0; i < ControlCount(); ++i) {
    ui::TControl* c = Controls(i);
    c->SetBounds(c->Left() + dx, c->Top() + dy, c->Width(), c->Height());
  }
  Invalidate();
}

void cScrollingWinControl::UpdateScrollBars() {
  if (mUpdatingScrollBars || mAutoRangeHeld > 0) return;
  mUpdatingScrollBars = true;
  for (cControlScrollBar* bar : {mHorz.get(), mVert.get()}) {
    if (mAutoScroll && AutoScrollEnabled() && !bar->mRangeSet) bar->CalcAutoRange();
    bar->Update();
  }
  mUpdatingScrollBars = false;
}

void cScrollingWinControl::ScrollInView(ui::TControl* control) {
  if (control == nullptr || control->Parent() != this) return;
  // Left/top edges first, then the far edges, each only when outside.
  if (control->Left() < 0)
    mHorz->SetPosition(mHorz->Position() + control->Left());
  else if (control->Left() + control->Width() > ClientWidth())
    mHorz->SetPosition(mHorz->Position() + control->Left() + control->Width() - ClientWidth());
  if (control->Top() < 0)
    mVert->SetPosition(mVert->Position() + control->Top());
  else if (control->Top() + control->Height() > ClientHeight())
    mVert->SetPosition(mVert->Position() + control->Top() + control->Height() - ClientHeight());
}

void cScrollingWinControl::AutoScrollInView(ui::TControl* control) {
  if (mAutoScroll) ScrollInView(control);
}

intptr_t cScrollingWinControl::WmSize(int width, int height) {
  ++mAutoRangeHeld;
  const intptr_t result = TWinControl::WmSize(width, height);
  Resizing(wsNormal);
  --mAutoRangeHeld;
  UpdateScrollBars();
  return result;
}

// ---------------------------------------------------------------------------
// cScrollBox

cScrollBox::cScrollBox(ui::TComponent* owner) : cScrollingWinControl(owner) {
  ControlStyle |= ui::csAcceptsControls | ui::csClickEvents | ui::csDoubleClicks;
  SetBounds(Left(), Top(), 185, 41);
  SetAutoScroll(true);
}
