#include <algorithm>

#include "ui_app.h"
#include "ui_controls.h"

namespace ui {

namespace {
TControl* gCapture = nullptr;

// True when c is the control or sits (at any depth) inside it.
bool IsWithin(const TControl* control, const TControl* c) {
  for (; c; c = c->Parent())
    if (c == control) return true;
  return false;
}
}  // namespace

// ---- TObject, TComponent ----

void TObject::Free(TObject* object) {
  if (!object) return;
  object->BeforeDestruction();
  delete object;
}

TComponent::TComponent(TComponent* owner) : mOwner(owner) {
  if (mOwner) mOwner->mComponents.push_back(this);
}

void TComponent::BeforeDestruction() { mAlive.reset(); }

TComponent::~TComponent() {
  mAlive.reset();
  while (!mComponents.empty()) TObject::Free(mComponents.back());
  if (mOwner) {
    auto& list = mOwner->mComponents;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

// ---- capture ----

void SetCapture(TControl* c) {
  TControl* old = gCapture;
  if (old == c) return;
  gCapture = c;
  if (old) old->WmCaptureChanged();
}

void ReleaseCapture() { SetCapture(nullptr); }

TControl* GetCapture() { return gCapture; }

// ---- TControl ----

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() {
  if (gCapture == this) gCapture = nullptr;
  if (mParent) mParent->RemoveControl(this);
}

TForm* TControl::ParentForm() const {
  const TControl* c = this;
  while (c->mParent) c = c->mParent;
  return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == mParent) return;
  // The control itself or a control inside it would make a loop of parents.
  if (IsWithin(this, parent)) return;
  WakeSleepingTimers();
  if (mParent) mParent->RemoveControl(this);
  if (parent) parent->InsertControl(this);
}

bool TControl::Showing() const {
  for (const TControl* c = this; c; c = c->mParent)
    if (!c->mVisible) return false;
  return true;
}

void TControl::SetBounds(int left, int top, int width, int height) {
  left = std::clamp(left, -kMaxCoord, kMaxCoord);
  top = std::clamp(top, -kMaxCoord, kMaxCoord);
  width = std::clamp(width, 0, kMaxCoord);
  height = std::clamp(height, 0, kMaxCoord);
  if (left == mLeft && top == mTop && width == mWidth && height == mHeight) return;
  WakeSleepingTimers();
  bool sized = width != mWidth || height != mHeight;
  if (mVisible) Invalidate();
  mLeft = left;
  mTop = top;
  mWidth = width;
  mHeight = height;
  // Bounds set by code (not by the parent's layout) are the new reference
  // for the anchors.
  if (!mParent || !mParent->mAligning) UpdateAnchorDistances();
  BoundsChanged(sized);
  if (mVisible) Invalidate();
  if (sized) {
    auto alive = AliveToken();
    WmSize(width, height);
    if (alive.expired()) return;  // a resize handler freed the control
  }
  if (mParent && !mParent->mAligning && (mAlign != alNone || sized)) {
    if (mAlign != alNone) mParent->AlignControls();
    if (TForm* f = ParentForm(); f && f->AutoSize()) f->DoAutoSize();
  }
}

void TControl::BoundsChanged(bool) {}

void TControl::UpdateAnchorDistances() {
  if (!mParent) return;
  mAnchorRight = mParent->ClientWidth() - (mLeft + mWidth);
  mAnchorBottom = mParent->ClientHeight() - (mTop + mHeight);
}

void TControl::SetClientSize(int w, int h) {
  SetBounds(mLeft, mTop, mWidth + (w - ClientWidth()), mHeight + (h - ClientHeight()));
}

void TControl::SetVisible(bool v) {
  if (v == mVisible) return;
  WakeSleepingTimers();
  if (!v) Invalidate();
  mVisible = v;
  if (v) Invalidate();
  if (auto* w = dynamic_cast<TWinControl*>(this)) w->SyncOverlays();
  if (!v) {
    if (TForm* f = ParentForm(); f && f != this) f->ForgetControl(this);
  }
  if (mParent && mAlign != alNone) mParent->AlignControls();
}

void TControl::SetEnabled(bool v) {
  if (v == mEnabled) return;
  mEnabled = v;
  if (!v) {
    if (TForm* f = ParentForm(); f && f != this) f->ForgetControl(this);
  }
  if (auto* w = dynamic_cast<TWinControl*>(this)) w->SyncOverlays();
  Invalidate();
}

TColor TControl::EffectiveColor() const {
  const TControl* c = this;
  while (c->mParentColor && c->mParent) c = c->mParent;
  return c->mColor;
}

void TControl::SetColor(TColor c) {
  bool changed = c != mColor || mParentColor;
  mColor = c;
  mParentColor = false;
  if (changed) {
    ParentColorChanged();
    Invalidate();
  }
}

void TControl::SetParentColor(bool v) {
  if (v == mParentColor) return;
  mParentColor = v;
  ParentColorChanged();
  Invalidate();
}

void TControl::SetAlign(TAlign a) {
  if (a == mAlign) return;
  mAlign = a;
  if (mParent) mParent->AlignControls();
}

void TControl::SetAnchors(TAnchors a) {
  mAnchors = a;
  UpdateAnchorDistances();
}

void TControl::SetCursor(TCursor c) {
  if (c == mCursor) return;
  mCursor = c;
  if (TForm* f = ParentForm(); f && f->HoverControl() == this) f->ApplyCursor();
}

void TControl::SetHint(const std::string& h) {
  mHint = h;
  if (TForm* f = ParentForm(); f && f->HoverControl() == this && f->Handle() && Application)
    Application->GetBackend().SetTooltip(f->Handle(), mShowHint ? mHint : std::string());
}

void TControl::SetShowHint(bool v) {
  mShowHint = v;
  SetHint(mHint);
}

TRect TControl::FormRect() const {
  TRect r = Bounds(0, 0, mWidth, mHeight);
  const TControl* c = this;
  while (c->mParent) {
    r = r.Offset(c->mLeft, c->mTop);
    c = c->mParent;
  }
  return r;
}

void TControl::Invalidate() {
  TForm* f = ParentForm();
  if (!f) return;
  if (f == this)
    f->MarkDirty(ClientRect());
  else if (Showing())
    f->MarkDirty(FormRect());
}

void TControl::Update() {
  TForm* f = ParentForm();
  // Also with nothing marked: an area painted by the loop may not be on the
  // screen yet, and a caller that blocks next must find it there.
  if (f && !f->mPainting) f->PaintDirty(true);
}

TPoint TControl::ClientToScreen(TPoint p) const {
  TForm* f = ParentForm();
  TPoint origin;
  if (f && f->Handle() && Application) {
    TRect b = Application->GetBackend().ClientBounds(f->Handle());
    origin = {b.Left, b.Top};
  }
  TRect r = f == this ? TRect{} : FormRect();
  return {p.X + origin.X + r.Left, p.Y + origin.Y + r.Top};
}

TPoint TControl::ScreenToClient(TPoint p) const {
  TPoint zero = ClientToScreen({0, 0});
  return {p.X - zero.X, p.Y - zero.Y};
}

intptr_t TControl::WmMouseMove(const TMouseMsg& m) {
  if (OnMouseMove) OnMouseMove(this, m.Keys, m.X, m.Y);
  return 0;
}

intptr_t TControl::WmLButtonDown(const TMouseMsg& m) {
  if (ControlStyle & csClickEvents) mClicked = true;
  if (OnMouseDown) OnMouseDown(this, mbLeft, m.Keys | ssLeft, m.X, m.Y);
  return 0;
}

intptr_t TControl::WmLButtonUp(const TMouseMsg& m) {
  bool clicked = mClicked;
  mClicked = false;
  auto alive = AliveToken();
  if (OnMouseUp) OnMouseUp(this, mbLeft, m.Keys, m.X, m.Y);
  if (clicked && !alive.expired() && ClientRect().Contains(m.X, m.Y)) Click();
  return 0;
}

intptr_t TControl::WmOtherButton(TMouseButton b, bool down, const TMouseMsg& m) {
  if (down && OnMouseDown) OnMouseDown(this, b, m.Keys, m.X, m.Y);
  if (!down && OnMouseUp) OnMouseUp(this, b, m.Keys, m.X, m.Y);
  return 0;
}

intptr_t TControl::WmMouseWheel(const TWheelMsg& m) {
  bool handled = false;
  if (OnMouseWheel) OnMouseWheel(this, m.Keys, m.Delta, m.Pos, handled);
  return handled ? 1 : 0;
}

intptr_t TControl::WmCaptureChanged() {
  mClicked = false;
  return 0;
}

intptr_t TControl::WmSize(int, int) {
  if (OnResize) OnResize(this);
  return 0;
}

void TControl::MouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
}

void TControl::MouseLeave() {
  if (OnMouseLeave) OnMouseLeave(this);
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

// ---- TWinControl ----

TWinControl::TWinControl(TComponent* owner) : TControl(owner) { ControlStyle |= csAcceptsControls; }

TWinControl::~TWinControl() {
  // Children still parented here go with their parent (the last first).
  while (!mControls.empty()) {
    TControl* c = mControls.back();
    RemoveControl(c);
    TObject::Free(c);
  }
}

void TWinControl::InsertControl(TControl* c) {
  if (!c || c->mParent == this || IsWithin(c, this)) return;
  if (c->mParent) c->mParent->RemoveControl(c);
  c->mParent = this;
  mControls.push_back(c);
  if (auto* w = dynamic_cast<TWinControl*>(c)) mTabOrder.push_back(w);
  c->UpdateAnchorDistances();
  if (c->mAlign != alNone) AlignControls();
  c->Invalidate();
}

void TWinControl::RemoveControl(TControl* c) {
  if (!c || c->mParent != this) return;
  c->Invalidate();
  if (TForm* f = ParentForm()) f->ForgetControl(c);
  mControls.erase(std::remove(mControls.begin(), mControls.end(), c), mControls.end());
  mTabOrder.erase(std::remove(mTabOrder.begin(), mTabOrder.end(), c), mTabOrder.end());
  c->mParent = nullptr;
  if (c->mAlign != alNone) AlignControls();
}

void TWinControl::BringToFront(TControl* c) {
  auto it = std::find(mControls.begin(), mControls.end(), c);
  if (it == mControls.end()) return;
  mControls.erase(it);
  mControls.push_back(c);
  c->Invalidate();
}

int TWinControl::TabOrder() const {
  if (!Parent()) return -1;
  auto& list = Parent()->mTabOrder;
  return int(std::find(list.begin(), list.end(), this) - list.begin());
}

void TWinControl::SetTabOrder(int order) {
  if (!Parent()) return;
  auto& list = Parent()->mTabOrder;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  order = std::clamp(order, 0, int(list.size()));
  list.insert(list.begin() + order, this);
}

bool TWinControl::CanFocus() const {
  const TControl* c = this;
  while (c) {
    if (!c->Visible() || !c->Enabled()) return false;
    if (dynamic_cast<const TForm*>(c)) break;
    c = c->Parent();
  }
  return c != nullptr;
}

void TWinControl::SetFocus() {
  TForm* f = ParentForm();
  if (!f || f == this || !CanFocus()) return;
  f->FocusControl(this);
}

bool TWinControl::Focused() const {
  TForm* f = ParentForm();
  return f && f->ActiveControl() == this;
}

intptr_t TWinControl::WmKeyDown(uint16_t& key, TShiftState shift) {
  if (OnKeyDown) OnKeyDown(this, key, shift);
  return 0;
}

intptr_t TWinControl::WmKeyUp(uint16_t& key, TShiftState shift) {
  if (OnKeyUp) OnKeyUp(this, key, shift);
  return 0;
}

intptr_t TWinControl::WmChar(char& ch) {
  if (OnKeyPress) OnKeyPress(this, ch);
  return 0;
}

void TWinControl::BoundsChanged(bool sized) {
  TControl::BoundsChanged(sized);
  SyncOverlays();
}

void TWinControl::SyncOverlays() {
  for (TControl* c : mControls) {
    if (auto* o = dynamic_cast<TOverlayControl*>(c))
      o->Sync();
    else if (auto* w = dynamic_cast<TWinControl*>(c))
      w->SyncOverlays();
  }
}

intptr_t TWinControl::WmSize(int width, int height) {
  AlignControls();
  return TControl::WmSize(width, height);
}

void TWinControl::AlignControls() {
  if (mAligning) return;
  mAligning = true;
  // A resize handler may free any control being placed, or this one: each
  // is looked at only while it lives, and the pass ends when this one went.
  auto self = AliveToken();
  struct Reset {
    bool& flag;
    const std::weak_ptr<void>& self;
    ~Reset() {
      if (!self.expired()) flag = false;
    }
  } reset{mAligning, self};
  using Entry = std::pair<TControl*, std::weak_ptr<void>>;
  TRect r = ClientRect();
  auto pick = [&](TAlign a) {
    std::vector<Entry> list;
    for (TControl* c : mControls)
      if (c->mAlign == a && c->mVisible) list.emplace_back(c, c->AliveToken());
    // Controls of one side keep the order of their positions.
    std::stable_sort(list.begin(), list.end(), [a](const Entry& ex, const Entry& ey) {
      TControl *x = ex.first, *y = ey.first;
      switch (a) {
        case alTop: return x->mTop < y->mTop;
        case alBottom: return x->mTop + x->mHeight > y->mTop + y->mHeight;
        case alLeft: return x->mLeft < y->mLeft;
        case alRight: return x->mLeft + x->mWidth > y->mLeft + y->mWidth;
        default: return false;
      }
    });
    return list;
  };
  // The free area's sides stay within the bounds' range however many
  // controls take room.
  auto step = [](int side, int by) { return std::clamp(side + by, -kMaxCoord, kMaxCoord); };
  // Places c; false when it is gone afterwards (a control freed by its own
  // handler takes no room).
  auto place = [&](TControl* c, const std::weak_ptr<void>& alive, int l, int t, int w, int h) {
    c->SetBounds(l, t, w, h);
    return !alive.expired();
  };
  for (auto& [c, alive] : pick(alTop)) {
    if (self.expired()) return;
    if (!alive.expired() && place(c, alive, r.Left, r.Top, r.Width(), c->mHeight)) r.Top = step(r.Top, c->mHeight);
  }
  for (auto& [c, alive] : pick(alBottom)) {
    if (self.expired()) return;
    if (!alive.expired() && place(c, alive, r.Left, r.Bottom - c->mHeight, r.Width(), c->mHeight))
      r.Bottom = step(r.Bottom, -c->mHeight);
  }
  for (auto& [c, alive] : pick(alLeft)) {
    if (self.expired()) return;
    if (!alive.expired() && place(c, alive, r.Left, r.Top, c->mWidth, std::max(r.Height(), 0)))
      r.Left = step(r.Left, c->mWidth);
  }
  for (auto& [c, alive] : pick(alRight)) {
    if (self.expired()) return;
    if (!alive.expired() && place(c, alive, r.Right - c->mWidth, r.Top, c->mWidth, std::max(r.Height(), 0)))
      r.Right = step(r.Right, -c->mWidth);
  }
  for (auto& [c, alive] : pick(alClient)) {
    if (self.expired()) return;
    if (!alive.expired()) place(c, alive, r.Left, r.Top, std::max(r.Width(), 0), std::max(r.Height(), 0));
  }
  if (self.expired()) return;
  // Anchors: a right (bottom) anchor keeps the distance to the right
  // (bottom) edge; with the opposite anchor too the control stretches.
  int cw = ClientWidth(), ch = ClientHeight();
  std::vector<Entry> all;
  for (TControl* c : mControls) all.emplace_back(c, c->AliveToken());
  for (auto& [c, alive] : all) {
    if (self.expired()) return;
    if (alive.expired() || c->mAlign != alNone) continue;
    int l = c->mLeft, t = c->mTop, w = c->mWidth, h = c->mHeight;
    if (c->mAnchors & akRight) {
      if (c->mAnchors & akLeft)
        w = std::max(cw - c->mAnchorRight - l, 0);
      else
        l = cw - c->mAnchorRight - w;
    }
    if (c->mAnchors & akBottom) {
      if (c->mAnchors & akTop)
        h = std::max(ch - c->mAnchorBottom - t, 0);
      else
        t = ch - c->mAnchorBottom - h;
    }
    c->SetBounds(l, t, w, h);
  }
}

TControl* TWinControl::ControlAtPos(TPoint p) {
  for (auto it = mControls.rbegin(); it != mControls.rend(); ++it) {
    TControl* c = *it;
    if (!c->mVisible || !c->mEnabled || !c->BoundsRect().Contains(p.X, p.Y)) continue;
    if (auto* w = dynamic_cast<TWinControl*>(c)) return w->ControlAtPos({p.X - c->mLeft, p.Y - c->mTop});
    return c;
  }
  return this;
}

void TWinControl::TabList(std::vector<TWinControl*>& out) const {
  for (TWinControl* c : mTabOrder) {
    if (!c->Visible() || !c->Enabled()) continue;
    if (c->mTabStop) out.push_back(c);
    c->TabList(out);
  }
}

// ---- TPanel, TBevel ----

TPanel::TPanel(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 185, 41);
  SetColor(clBtnFace);
}

void TPanel::SetBevelOuter(TBevelCut v) {
  mBevelOuter = v;
  Invalidate();
}

void TPanel::Paint() {
  mCanvas.Brush.Color = EffectiveColor();
  mCanvas.Brush.Style = bsSolid;
  mCanvas.FillRect(ClientRect());
  if (mBevelOuter != bvLowered && mBevelOuter != bvRaised) return;
  TColor top_left = mBevelOuter == bvRaised ? clBtnHighlight : clBtnShadow;
  TColor bottom_right = mBevelOuter == bvRaised ? clBtnShadow : clBtnHighlight;
  int w = Width(), h = Height();
  mCanvas.Pen.Style = psSolid;
  mCanvas.Pen.Color = top_left;
  mCanvas.MoveTo(0, h - 1);
  mCanvas.LineTo(0, 0);
  mCanvas.LineTo(w - 1, 0);
  mCanvas.Pen.Color = bottom_right;
  mCanvas.LineTo(w - 1, h - 1);
  mCanvas.LineTo(0, h - 1);
}

TBevel::TBevel(TComponent* owner) : TGraphicControl(owner) { SetBounds(0, 0, 50, 50); }

void TBevel::SetShape(TBevelShape s) {
  mShape = s;
  Invalidate();
}

void TBevel::SetStyle(TBevelStyle s) {
  mStyle = s;
  Invalidate();
}

void TBevel::Paint() {
  // A line is two pixels: a shadow and a highlight, the raised style
  // showing the highlight first.
  TColor first = mStyle == bsRaised ? clBtnHighlight : clBtnShadow;
  TColor second = mStyle == bsRaised ? clBtnShadow : clBtnHighlight;
  int w = Width(), h = Height();
  auto hline = [&](int y) {
    mCanvas.Brush.Style = bsSolid;
    mCanvas.Brush.Color = first;
    mCanvas.FillRect({0, y, w, y + 1});
    mCanvas.Brush.Color = second;
    mCanvas.FillRect({0, y + 1, w, y + 2});
  };
  auto vline = [&](int x) {
    mCanvas.Brush.Style = bsSolid;
    mCanvas.Brush.Color = first;
    mCanvas.FillRect({x, 0, x + 1, h});
    mCanvas.Brush.Color = second;
    mCanvas.FillRect({x + 1, 0, x + 2, h});
  };
  switch (mShape) {
    case bsTopLine: hline(0); break;
    case bsBottomLine: hline(h - 2); break;
    case bsLeftLine: vline(0); break;
    case bsRightLine: vline(w - 2); break;
    case bsBox:
    case bsFrame:
      mCanvas.Brush.Style = bsClear;
      mCanvas.Pen.Style = psSolid;
      mCanvas.Pen.Color = first;
      mCanvas.Rectangle(0, 0, w, h);
      break;
    case bsSpacer: break;
  }
}

// ---- native overlays ----

TOverlayControl::TOverlayControl(TComponent* owner, OverlayKind kind) : TWinControl(owner), mKind(kind) {
  ControlStyle &= ~uint32_t(csAcceptsControls);
  mState.Font.Name = "Tahoma";
}

TOverlayControl::~TOverlayControl() { Unrealize(); }

void TOverlayControl::Realize() {
  TForm* f = ParentForm();
  if (!f || !Application) return;
  f->EnsureWindow();
  if (mOverlay && mWindow == f->Handle()) return;
  Unrealize();
  mWindow = f->Handle();
  auto alive = AliveToken();
  OverlayEvents events;
  events.Changed = [this, alive](const std::string& text) {
    if (!alive.expired()) NativeChanged(text);
  };
  events.GotFocus = [this, alive]() {
    if (alive.expired()) return;
    if (TForm* form = ParentForm()) form->InputFocusOverlay(this);
  };
  mOverlay = Application->GetBackend().CreateOverlay(mWindow, mKind, std::move(events));
  if (mOverlay) {
    Sync();
    Realized();
  }
}

void TOverlayControl::Unrealize() {
  if (mOverlay && Application) Application->GetBackend().DestroyOverlay(mOverlay);
  mOverlay = 0;
  mWindow = 0;
}

void TOverlayControl::Sync() {
  if (!Application) return;
  if (!mOverlay) {
    if (ParentForm()) Realize();
    return;  // Realize syncs
  }
  mState.Bounds = FormRect();
  mState.Visible = Showing();
  bool enabled = true;
  for (const TControl* c = this; c; c = c->Parent()) enabled = enabled && c->Enabled();
  mState.Enabled = enabled;
  mState.Color = EffectiveColor();
  Application->GetBackend().UpdateOverlay(mOverlay, mState);
}

void TOverlayControl::SetParent(TWinControl* parent) {
  TWinControl::SetParent(parent);
  if (parent && ParentForm())
    Realize();
  else
    Unrealize();
}

void TOverlayControl::SetVisible(bool v) {
  TWinControl::SetVisible(v);
  Sync();
}

void TOverlayControl::SetEnabled(bool v) {
  TWinControl::SetEnabled(v);
  Sync();
}

void TOverlayControl::SetFocus() {
  auto alive = AliveToken();
  TWinControl::SetFocus();
  if (alive.expired()) return;  // an enter handler freed the control
  if (Focused() && mOverlay && Application) Application->GetBackend().FocusOverlay(mOverlay);
}

void TOverlayControl::BoundsChanged(bool sized) {
  TWinControl::BoundsChanged(sized);
  Sync();
}

void TOverlayControl::SetFont(const TFont& f) {
  mState.Font = f;
  Sync();
  FontChanged();
}

void TOverlayControl::SetText(const std::string& text) {
  mState.Text = text;
  Sync();
}

void TOverlayControl::NativeChanged(const std::string& text) { mState.Text = text; }

TLabel::TLabel(TComponent* owner) : TOverlayControl(owner, OverlayKind::Label) {
  SetBounds(0, 0, 65, 13);
  SetParentColor(true);
  mState.Border = false;
}

void TLabel::SetCaption(const std::string& c) {
  SetText(c);
  AdjustSize();
}

void TLabel::SetAutoSize(bool v) {
  mAutoSize = v;
  AdjustSize();
}

void TLabel::AdjustSize() {
  if (!mAutoSize) return;
  if (Overlay() && Application) {
    TPoint size = Application->GetBackend().OverlayNaturalSize(Overlay());
    SetBounds(Left(), Top(), size.X, size.Y);
    return;
  }
  // A label's natural size: about half the font's pixel height per byte,
  // one line high; the native backend sizes the widget itself.
  TPoint size = PlainTextSize(mState.Font, mState.Text.size());
  SetBounds(Left(), Top(), size.X, size.Y);
}

TEdit::TEdit(TComponent* owner) : TOverlayControl(owner, OverlayKind::Edit) {
  SetBounds(0, 0, 121, 21);
  SetTabStop(true);
  SetColor(clWindow);
  mState.Color = clWindow;
  SetCursor(crIBeam);
}

void TEdit::SetText(const std::string& t) {
  std::string text = t;
  if (mState.MaxLength > 0 && text.size() > size_t(mState.MaxLength)) {
    // Cut at the limit, but never inside a UTF-8 sequence: the native widget
    // takes whole characters only.
    size_t cut = size_t(mState.MaxLength);
    while (cut > 0 && (uint8_t(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  if (text == mState.Text) return;
  TOverlayControl::SetText(text);
  if (OnChange) OnChange(this);
}

void TEdit::SetBorderStyle(TFormBorderStyle s) {
  mState.Border = s != bsNone;
  Sync();
}

void TEdit::SetMaxLength(int n) {
  mState.MaxLength = std::max(n, 0);
  Sync();
}

void TEdit::SetNumbersOnly(bool v) {
  mState.NumbersOnly = v;
  Sync();
}

void TEdit::NativeChanged(const std::string& text) {
  if (text == mState.Text) return;
  mState.Text = text;
  if (OnChange) OnChange(this);
}

}  // namespace ui
