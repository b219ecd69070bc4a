#include <algorithm>
#include <stdexcept>

#include "ui_app.h"
#include "ui_controls.h"

namespace ui {

namespace {

bool IsInside(const TControl* ancestor, const TControl* c) {
  for (; c; c = c->Parent())
    if (c == ancestor) return true;
  return false;
}

struct FlagGuard {
  bool& flag;
  explicit FlagGuard(bool& f) : flag(f) { flag = true; }
  ~FlagGuard() { flag = false; }
};

}  // namespace

TForm::TForm(TComponent* owner) : TWinControl(owner) {
  mVisible = false;
  mColor = clBtnFace;
  mWidth = 320;
  mHeight = 240;
  if (Screen) Screen->mForms.push_back(this);
}

void TForm::AfterConstruction() {
  if (OnCreate) OnCreate(this);
}

void TForm::BeforeDestruction() {
  if (OnDestroy) OnDestroy(this);
  TWinControl::BeforeDestruction();
}

TForm::~TForm() {
  // The children go while the form is still whole, so that they can leave
  // its focus, hover and native window properly.
  while (!mControls.empty()) {
    TControl* c = mControls.back();
    RemoveControl(c);
    TObject::Free(c);
  }
  if (TControl* cap = GetCapture(); cap && IsInside(this, cap)) ReleaseCapture();
  if (Screen) {
    auto& forms = Screen->mForms;
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
  }
  if (Application && Application->MainForm == this) Application->MainForm = nullptr;
  if (mWindow && Application) Application->GetBackend().DestroyWindow(mWindow);
  mWindow = 0;
}

void TForm::EnsureWindow() {
  if (mWindow || !Application) return;
  mWindow = Application->GetBackend().CreateWindow(this);
  Application->GetBackend().SetTitle(mWindow, mCaption);
  ApplyStyle();
  mFrame = Application->GetBackend().Frame(mWindow);
  SyncClientBounds();
}

void TForm::ApplyStyle() {
  if (!mWindow) return;
  WindowStyle s;
  s.Resizable = mBorderStyle == bsSizeable || mBorderStyle == bsSizeToolWin;
  s.MinClientWidth = std::max(Constraints.MinWidth - mFrame.Left - mFrame.Right, 0);
  s.MinClientHeight = std::max(Constraints.MinHeight - mFrame.Top - mFrame.Bottom, 0);
  s.KeepAbove = mFormStyle == fsStayOnTop;
  s.ToolWindow = mBorderStyle == bsToolWindow || mBorderStyle == bsSizeToolWin;
  s.Deletable = (mBorderIcons & biSystemMenu) != 0;
  s.Decorated = mBorderStyle != bsNone;
  // As the system draws its frames: the minimise and maximise boxes need the
  // system menu, and dialog and tool-window borders have neither.
  const bool boxes = s.Deletable && s.Decorated && mBorderStyle != bsDialog && !s.ToolWindow;
  s.Minimizable = boxes && (mBorderIcons & biMinimize) != 0;
  s.Maximizable = boxes && (mBorderIcons & biMaximize) != 0;
  s.DefaultPosition = Position == poDefault || Position == poDefaultPosOnly;
  s.Modal = mModalLevel > 0;
  s.Transient = mTransient;
  Application->GetBackend().SetStyle(mWindow, s);
}

void TForm::SyncClientBounds() {
  if (!mWindow || mFromBackend) return;
  Application->GetBackend().SetClientBounds(
      mWindow, Bounds(Left() + mFrame.Left, Top() + mFrame.Top, ClientWidth(), ClientHeight()));
}

void TForm::SetCaption(const std::string& c) {
  mCaption = c;
  if (mWindow) Application->GetBackend().SetTitle(mWindow, c);
}

int TForm::ClientWidth() const { return std::max(Width() - mFrame.Left - mFrame.Right, 0); }
int TForm::ClientHeight() const { return std::max(Height() - mFrame.Top - mFrame.Bottom, 0); }

void TForm::SetBounds(int left, int top, int width, int height) {
  width = std::max(width, Constraints.MinWidth);
  height = std::max(height, Constraints.MinHeight);
  width = std::min(width, kMaxClientSide + mFrame.Left + mFrame.Right);
  height = std::min(height, kMaxClientSide + mFrame.Top + mFrame.Bottom);
  auto alive = AliveToken();
  TWinControl::SetBounds(left, top, width, height);
  if (!alive.expired()) SyncClientBounds();  // a resize handler may free the form
}

void TForm::SetBorderStyle(TFormBorderStyle s) {
  mBorderStyle = s;
  ApplyStyle();
}

void TForm::SetBorderIcons(uint8_t icons) {
  mBorderIcons = icons;
  ApplyStyle();
}

void TForm::SetFormStyle(TFormStyle s) {
  mFormStyle = s;
  ApplyStyle();
}

void TForm::SetConstraints(const TSizeConstraints& c) {
  Constraints = c;
  ApplyStyle();
  SetBounds(Left(), Top(), Width(), Height());
}

void TForm::SetAutoSize(bool v) {
  mAutoSize = v;
  DoAutoSize();
}

void TForm::DoAutoSize() {
  if (!mAutoSize || mInAutoSize) return;
  FlagGuard guard(mInAutoSize);
  int w = 0, h = 0;
  for (TControl* c : mControls) {
    if (!c->Visible() || c->Align() != alNone) continue;
    w = std::max(w, c->Left() + c->Width());
    h = std::max(h, c->Top() + c->Height());
  }
  if (w > 0 && h > 0) SetClientSize(w, h);
}

void TForm::SetActiveControl(TWinControl* c) {
  if (c && c->ParentForm() != this) return;
  if (!mVisible || !c) {
    mActive = c;
    return;
  }
  c->SetFocus();
}

void TForm::FocusControl(TWinControl* c) {
  if (c == mActive) return;
  TWinControl* old = mActive;
  mActive = c;
  auto form_alive = AliveToken();
  if (old) {
    auto alive = old->AliveToken();
    old->WmKillFocus();
    if (!alive.expired() && old->OnExit) old->OnExit(old);
  }
  // An exit handler freed the form or moved the focus elsewhere.
  if (form_alive.expired() || mActive != c) return;
  if (c) {
    if (mWindow && !c->IsOverlay()) Application->GetBackend().FocusCanvas(mWindow);
    c->WmSetFocus();
    if (c->OnEnter) c->OnEnter(c);
  }
}

void TForm::FocusFirst() {
  if (mActive) {
    if (mActive->CanFocus()) {
      TWinControl* c = mActive;
      mActive = nullptr;
      c->SetFocus();
    }
    return;
  }
  std::vector<TWinControl*> list;
  TabList(list);
  if (!list.empty()) list.front()->SetFocus();
}

void TForm::SelectNext(TWinControl* current, bool forward) {
  std::vector<TWinControl*> list;
  TabList(list);
  if (list.empty()) return;
  auto it = std::find(list.begin(), list.end(), current);
  size_t n = list.size(), next;
  if (it == list.end())
    next = forward ? 0 : n - 1;
  else {
    size_t i = size_t(it - list.begin());
    next = forward ? (i + 1) % n : (i + n - 1) % n;
  }
  list[next]->SetFocus();
}

void TForm::InputFocusOverlay(TWinControl* c) {
  if (c && c->CanFocus()) FocusControl(c);
}

void TForm::SetFocus() {
  if (mVisible && mWindow) Application->GetBackend().Show(mWindow);
}

bool TForm::IsForeground() const { return mWindow && Application && Application->GetBackend().IsForeground(mWindow); }

void TForm::SetVisible(bool v) {
  if (v == mVisible) return;
  if (!Application) throw std::logic_error("TForm: the window layer is not started");
  WakeSleepingTimers();
  if (v) {
    EnsureWindow();
    ApplyStyle();
    mVisible = true;
    DoAutoSize();
    AlignControls();
    auto alive = AliveToken();
    if (OnShow) OnShow(this);
    if (alive.expired() || !mVisible) return;
    SyncOverlays();
    FocusFirst();
    if (alive.expired() || !mVisible) return;  // an enter handler freed or hid the form
    MarkDirty(ClientRect());
    PaintDirty();
    Application->GetBackend().Show(mWindow);
  } else {
    if (TControl* cap = GetCapture(); cap && IsInside(this, cap)) ReleaseCapture();
    auto alive = AliveToken();
    if (OnHide) OnHide(this);
    if (alive.expired()) return;
    mVisible = false;
    mHover = nullptr;
    SyncOverlays();
    if (mWindow) Application->GetBackend().Hide(mWindow);
  }
}

bool TForm::CloseQuery() {
  bool can = true;
  if (OnCloseQuery) OnCloseQuery(this, can);
  return can;
}

void TForm::Close() {
  if (mModalLevel > 0) {
    ModalResult = mrCancel;
    return;
  }
  auto alive = AliveToken();
  if (!CloseQuery() || alive.expired()) return;
  TCloseAction action = caHide;
  if (OnClose) OnClose(this, action);
  if (alive.expired() || action == caNone) return;
  if (Application && Application->MainForm == this) {
    Application->Terminate();
    Hide();
    return;
  }
  if (action == caFree)
    Release();
  else
    Hide();
}

void TForm::Release() {
  if (mReleasing || Destroying()) return;
  if (mModalLevel > 0) {
    // Freed when its modal loop has returned, never under it.
    mReleaseAfterModal = true;
    return;
  }
  mReleasing = true;
  Application->QueueCall([this] { TObject::Free(this); }, AliveToken());
}

TModalResult TForm::ShowModal() {
  if (!Application) throw std::logic_error("TForm: the window layer is not started");
  if (mVisible || mModalLevel > 0) throw std::logic_error("TForm.ShowModal: cannot make a visible window modal");
  ReleaseCapture();
  TForm* previous = Screen ? Screen->ActiveForm() : nullptr;
  std::vector<std::pair<TForm*, std::weak_ptr<void>>> disabled;
  for (int i = 0; Screen && i < Screen->FormCount(); ++i) {
    TForm* f = Screen->Forms(i);
    if (f == this || !f->Visible()) continue;
    ++f->mModalDisabled;
    disabled.emplace_back(f, f->AliveToken());
  }
  auto alive = AliveToken();
  mTransient = previous && previous != this ? previous->Handle() : 0;
  ++mModalLevel;
  ModalResult = mrNone;
  struct Restore {
    TForm* self;
    std::weak_ptr<void> alive;
    std::vector<std::pair<TForm*, std::weak_ptr<void>>>& disabled;
    ~Restore() {
      // The other forms take input again first, so that the foreground can
      // go back to them when this one hides.
      for (auto& [f, token] : disabled)
        if (!token.expired()) --f->mModalDisabled;
      if (!alive.expired()) {
        --self->mModalLevel;
        self->mTransient = 0;
        try {
          self->Hide();
        } catch (...) {
        }
        // An OnHide handler may have freed the form.
        if (!alive.expired()) self->ApplyStyle();
      }
    }
  };
  TModalResult result = mrNone;
  {
    // clang-format off
  Restore restore{this, alive, disabled};
  auto check_alive = [&alive] {
    if (alive.expired()) throw std::logic_error("TForm.ShowModal: the form was destroyed inside its modal loop");
  };
  Show();
  for (;;) {
    Application->HandleMessage();
    check_alive();
    if (Application->Terminated()) {
      ModalResult = mrCancel;
        // clang-format on
        break;
      }
      if (ModalResult == mrNone) continue;
      bool can_close = CloseQuery();
      check_alive();
      if (!can_close) {
        ModalResult = mrNone;
        continue;
      }
      TCloseAction action = caHide;
      if (OnClose) OnClose(this, action);
      check_alive();
      if (action == caNone) {
        ModalResult = mrNone;
        continue;
      }
      if (action == caFree) mReleaseAfterModal = true;
      break;
    }
    result = ModalResult;
  }
  if (alive.expired()) return result;
  if (mReleaseAfterModal) {
    mReleaseAfterModal = false;
    Release();
  }
  return result;
}

void TForm::ForgetControl(TControl* c) {
  if (mHover && IsInside(c, mHover)) mHover = nullptr;
  if (mPressed && IsInside(c, mPressed)) mPressed = nullptr;
  if (mActive && IsInside(c, mActive)) mActive = nullptr;
  if (TControl* cap = GetCapture(); cap && IsInside(c, cap)) ReleaseCapture();
}

void TForm::MarkDirty(const TRect& r) {
  TRect clipped = r.Intersect(ClientRect());
  if (clipped.IsEmpty()) return;
  mDirty = mDirty.Union(clipped);
  if (Application) Application->PaintPending();
}

void TForm::PaintDirty(bool presentNow) {
  if (mPainting) return;
  TRect r = mDirty.Intersect(ClientRect());
  mDirty = {};
  if (r.IsEmpty()) {
    if (presentNow && mWindow && mVisible) Application->GetBackend().PresentNow(mWindow, mBuffer, r);
    return;
  }
  mBuffer.SetPixelFormat(pf32bit);
  mBuffer.SetSize(ClientWidth(), ClientHeight());
  {
    FlagGuard guard(mPainting);
    mCanvas.Bind(&mBuffer, {0, 0}, r);
    mCanvas.Brush.Style = bsSolid;
    mCanvas.Brush.Color = mColor;
    mCanvas.FillRect(ClientRect());
    PaintReported(this);
    mCanvas.Unbind();
    PaintTree(this, {0, 0}, r);
  }
  if (mWindow && mVisible) {
    if (presentNow)
      Application->GetBackend().PresentNow(mWindow, mBuffer, r);
    else
      Application->GetBackend().Present(mWindow, mBuffer, r);
  }
  if (!mDirty.IsEmpty() && Application) Application->PaintPending();
}

// A paint that fails leaves its area as far as it got and the rest of the
// form still paints; its error is reported by the loop's next round, as a
// handler's is, once per run of failures of that control (an animation
// would otherwise report it at every frame).
void TForm::PaintReported(TControl* c) {
  try {
    c->Paint();
    c->mPaintFailed = false;
  } catch (...) {
    if (!c->mPaintFailed && Application) Application->ReportLater(std::current_exception(), "error in a paint");
    c->mPaintFailed = true;
  }
}

void TForm::PaintTree(TWinControl* container, TPoint origin, const TRect& clip) {
  for (TControl* c : std::vector<TControl*>(container->mControls)) {
    if (!c->mVisible || c->IsOverlay()) continue;
    TRect rect = c->BoundsRect().Offset(origin.X, origin.Y);
    TRect ci = rect.Intersect(clip);
    if (ci.IsEmpty()) continue;
    auto* w = dynamic_cast<TWinControl*>(c);
    TCanvas& canvas = c->mCanvas;
    canvas.Bind(&mBuffer, {rect.Left, rect.Top}, ci);
    if (w && !(c->ControlStyle & csOpaque)) {
      canvas.Brush.Style = bsSolid;
      canvas.Brush.Color = c->EffectiveColor();
      canvas.FillRect(c->ClientRect());
    }
    PaintReported(c);
    canvas.Unbind();
    if (w) PaintTree(w, {rect.Left, rect.Top}, ci);
  }
}

// ---- input ----

TControl* TForm::MouseTarget(TControl* under) const {
  if (TControl* cap = GetCapture()) return cap;
  return under;
}

TMouseMsg TForm::ToLocal(TControl* c, int x, int y, TShiftState shift) const {
  if (c->ParentForm() == this) {
    TRect r = c == this ? TRect{} : c->FormRect();
    return {x - r.Left, y - r.Top, shift};
  }
  TPoint p = c->ScreenToClient(ClientToScreen({x, y}));
  return {p.X, p.Y, shift};
}

void TForm::SetHover(TControl* c) {
  if (c == mHover) return;
  TControl* old = mHover;
  mHover = c;
  // The leave and enter handlers may free the form itself.
  auto alive = AliveToken();
  if (old) old->MouseLeave();
  if (alive.expired()) return;
  if (mHover == c && c) c->MouseEnter();
  if (alive.expired()) return;
  ApplyCursor();
  if (mWindow)
    Application->GetBackend().SetTooltip(mWindow, mHover && mHover->ShowHint() ? mHover->Hint() : std::string());
}

void TForm::ApplyCursor() {
  if (!mWindow || !Application) return;
  TCursor cursor = Screen ? Screen->Cursor() : crDefault;
  for (TControl* c = mHover; c && cursor == crDefault; c = c->Parent()) cursor = c->Cursor();
  if (cursor == crDefault) cursor = crArrow;
  const TCursorImage* image = cursor > 0 && Screen ? Screen->Cursors(cursor) : nullptr;
  if (cursor > 0 && !image) cursor = crArrow;
  Application->GetBackend().SetCursor(mWindow, cursor, image);
}

void TForm::InputMouseMove(int x, int y, TShiftState shift) {
  WakeSleepingTimers();
  if (!InputEnabled() || !mVisible) return;
  TControl* under = ClientRect().Contains(x, y) ? ControlAtPos({x, y}) : nullptr;
  auto alive = AliveToken();
  SetHover(under);
  if (alive.expired()) return;
  if (under && mHover != under) under = mHover;  // an enter/leave handler changed the tree
  if (TControl* target = MouseTarget(under)) target->WmMouseMove(ToLocal(target, x, y, shift));
}

void TForm::InputMouseButton(TMouseButton button, bool down, int x, int y, TShiftState shift) {
  WakeSleepingTimers();
  if (!InputEnabled() || !mVisible) return;
  // The state after the event, as the system reports it: a press holds its
  // button, a release no longer does.
  TShiftState flag = button == mbLeft ? ssLeft : button == mbRight ? ssRight : ssMiddle;
  shift = down ? shift | flag : shift & ~flag;
  TControl* under = ClientRect().Contains(x, y) ? ControlAtPos({x, y}) : nullptr;
  auto alive = AliveToken();
  SetHover(under);
  if (alive.expired()) return;
  TControl* target = MouseTarget(mHover);
  if (button == mbLeft) {
    // A click is a press and a release on one control in one gesture: the
    // control pressed before loses its half when the press or the release
    // goes elsewhere.
    if (mPressed && mPressed != target) mPressed->mClicked = false;
    mPressed = down ? target : nullptr;
  }
  if (!target) return;
  TMouseMsg m = ToLocal(target, x, y, shift);
  try {
    if (button == mbLeft)
      down ? target->WmLButtonDown(m) : target->WmLButtonUp(m);
    else
      target->WmOtherButton(button, down, m);
  } catch (...) {
    // A release ends the gesture whatever its handler did: a capture the
    // failed handler did not get to release would take the next click.
    if (!down && !alive.expired() && GetCapture() == target) ReleaseCapture();
    throw;
  }
}

void TForm::InputWheel(int delta, int x, int y, TShiftState shift) {
  if (!InputEnabled() || !mVisible) return;
  TControl* under = ClientRect().Contains(x, y) ? ControlAtPos({x, y}) : nullptr;
  TWheelMsg m{delta, ClientToScreen({x, y}), shift};
  // The control under the pointer first, then its parents, until one
  // handles it.
  for (TControl* c = under; c;) {
    TWinControl* parent = c->Parent();
    auto parent_alive = parent ? parent->AliveToken() : std::weak_ptr<void>();
    if (c->WmMouseWheel(m) != 0) return;
    // The handler may have freed the control, the parent or both (or moved
    // the control elsewhere first): the parent goes on only while it lives.
    if (parent_alive.expired()) return;
    c = parent;
  }
}

void TForm::InputMouseLeave() {
  WakeSleepingTimers();
  SetHover(nullptr);
}

namespace {

// The state after the event, as the system reports it: the key down of a
// modifier holds it, its key up no longer does.
TShiftState StateAfter(uint16_t key, bool down, TShiftState shift) {
  TShiftState flag = key == VK_SHIFT ? ssShift : key == VK_CONTROL ? ssCtrl : key == VK_MENU ? ssAlt : 0;
  return down ? shift | flag : shift & ~flag;
}

}  // namespace

bool TForm::InputKeyDown(uint16_t key, TShiftState shift) {
  if (!InputEnabled() || !mVisible) return true;
  shift = StateAfter(key, true, shift);
  TWinControl* target = mActive ? mActive : this;
  // Only the key up of a Tab that moved the focus is the layer's (a key up
  // missed while another window had the keys must not take a later one).
  if (key == VK_TAB) mTabMoved = false;
  if (key == VK_TAB && !(shift & (ssCtrl | ssAlt)) && !target->WantTabs()) {
    mTabMoved = true;
    SelectNext(mActive, !(shift & ssShift));
    return true;
  }
  auto target_alive = target->AliveToken();
  if (KeyPreview && target != this) {
    WmKeyDown(key, shift);
    if (key == 0 || target_alive.expired()) return true;
  }
  target->WmKeyDown(key, shift);
  return key == 0;
}

bool TForm::InputKeyUp(uint16_t key, TShiftState shift) {
  if (!InputEnabled() || !mVisible) return true;
  shift = StateAfter(key, false, shift);
  if (key == VK_TAB && mTabMoved) {
    // Its key down moved the focus: no key handler sees Tab, also not the
    // control that took the focus.
    mTabMoved = false;
    return true;
  }
  TWinControl* target = mActive ? mActive : this;
  auto target_alive = target->AliveToken();
  if (KeyPreview && target != this) {
    WmKeyUp(key, shift);
    if (key == 0 || target_alive.expired()) return true;
  }
  target->WmKeyUp(key, shift);
  return key == 0;
}

bool TForm::InputChar(char ch) {
  if (!InputEnabled() || !mVisible) return true;
  if (ch == '\t') return true;  // Tab moved the focus on key down
  TWinControl* target = mActive ? mActive : this;
  auto target_alive = target->AliveToken();
  if (KeyPreview && target != this) {
    WmChar(ch);
    if (ch == 0 || target_alive.expired()) return true;
  }
  target->WmChar(ch);
  return ch == 0;
}

void TForm::InputCloseRequest() {
  if (!InputEnabled() || !(mBorderIcons & biSystemMenu)) return;
  Close();
}

void TForm::InputClientResized(int width, int height) {
  WakeSleepingTimers();
  width = std::clamp(width, 0, kMaxClientSide);
  height = std::clamp(height, 0, kMaxClientSide);
  // A resize handler may free the form: the flag is cleared only while it
  // lives (also when a handler throws).
  struct Guard {
    TForm* form;
    std::weak_ptr<void> alive;
    ~Guard() {
      if (!alive.expired()) form->mFromBackend = false;
    }
  } guard{this, AliveToken()};
  mFromBackend = true;
  TWinControl::SetBounds(Left(), Top(), width + mFrame.Left + mFrame.Right, height + mFrame.Top + mFrame.Bottom);
}

void TForm::InputMoved(int left, int top) {
  WakeSleepingTimers();
  mLeft = left - mFrame.Left;
  mTop = top - mFrame.Top;
}

void TForm::InputActivated(bool active) {
  if (active == mActiveWindow) return;
  WakeSleepingTimers();
  mActiveWindow = active;
  if (!active) {
    if (TControl* cap = GetCapture(); cap && IsInside(this, cap)) ReleaseCapture();
    if (OnDeactivate) OnDeactivate(this);
  } else if (OnActivate) {
    OnActivate(this);
  }
}

}  // namespace ui
