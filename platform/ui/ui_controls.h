// The control tree: components with owners, controls with parents, bounds,
// align and anchors, painting into the form's back buffer, mouse and key
// messages, focus and Tab order, and forms with modality.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui_backend.h"
#include "ui_graphics.h"

namespace ui {

class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  // Run by Create<T> once the object is fully built, and by Free before the
  // destructors: the places where virtual calls reach the whole object.
  virtual void AfterConstruction() {}
  virtual void BeforeDestruction() {}
  // BeforeDestruction, then delete. Safe on nullptr.
  static void Free(TObject* object);
};

// Builds an object and runs its AfterConstruction (forms fire OnCreate,
// threads not created suspended start).
template <class T, class... A>
T* Create(A&&... args) {
  T* object = new T(std::forward<A>(args)...);
  try {
    object->AfterConstruction();
  } catch (...) {
    TObject::Free(object);
    throw;
  }
  return object;
}

using TNotifyEvent = std::function<void(TObject* Sender)>;

// Components own components: freeing the owner frees them, the last first.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent* Owner() const { return mOwner; }
  int ComponentCount() const { return int(mComponents.size()); }
  TComponent* Components(int i) const { return mComponents.at(size_t(i)); }
  std::string Name;
  // Expires when the component starts being destroyed; queued calls bound to
  // it are dropped from then on.
  std::weak_ptr<void> AliveToken() const { return mAlive; }
  bool Destroying() const { return !mAlive; }
  void BeforeDestruction() override;

 private:
  TComponent* mOwner = nullptr;
  std::vector<TComponent*> mComponents;
  std::shared_ptr<int> mAlive = std::make_shared<int>(0);
};

enum TShiftFlag : uint16_t {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
};
using TShiftState = uint16_t;
enum class TMouseButton { mbLeft, mbRight, mbMiddle };
using enum TMouseButton;

// Key codes as the system numbers them. Letters and digits are their
// upper-case ASCII codes ('A', '0'); a key is numbered by its place, not by
// what Shift makes of it ('1' also for "!").
constexpr uint16_t VK_BACK = 8, VK_TAB = 9, VK_CLEAR = 12, VK_RETURN = 13, VK_SHIFT = 16, VK_CONTROL = 17, VK_MENU = 18,
                   VK_PAUSE = 19, VK_CAPITAL = 20, VK_ESCAPE = 27, VK_SPACE = 32, VK_PRIOR = 33, VK_NEXT = 34,
                   VK_END = 35, VK_HOME = 36, VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39, VK_DOWN = 40, VK_SNAPSHOT = 44,
                   VK_INSERT = 45, VK_DELETE = 46, VK_LWIN = 91, VK_RWIN = 92, VK_APPS = 93, VK_NUMPAD0 = 96,
                   VK_MULTIPLY = 106, VK_ADD = 107, VK_SEPARATOR = 108, VK_SUBTRACT = 109, VK_DECIMAL = 110,
                   VK_DIVIDE = 111, VK_F1 = 112, VK_F24 = 135, VK_NUMLOCK = 144, VK_SCROLL = 145,
                   VK_OEM_1 = 186 /* ; : */, VK_OEM_PLUS = 187 /* = + */, VK_OEM_COMMA = 188, VK_OEM_MINUS = 189,
                   VK_OEM_PERIOD = 190, VK_OEM_2 = 191 /* / ? */, VK_OEM_3 = 192 /* ` ~ */, VK_OEM_4 = 219 /* [ { */,
                   VK_OEM_5 = 220 /* \ | */, VK_OEM_6 = 221 /* ] } */, VK_OEM_7 = 222 /* ' " */,
                   VK_OEM_102 = 226 /* < > beside the left Shift */;

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
using enum TAlign;
enum TAnchorKind : uint8_t { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = uint8_t;
enum TControlStyleFlag : uint32_t { csAcceptsControls = 1, csOpaque = 2, csDoubleClicks = 4, csClickEvents = 8 };

using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;
using TMouseWheelEvent =
    std::function<void(TObject* Sender, TShiftState Shift, int WheelDelta, TPoint MousePos, bool& Handled)>;
using TKeyEvent = std::function<void(TObject* Sender, uint16_t& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;

// A mouse message in the receiving control's client pixels.
struct TMouseMsg {
  int X = 0;
  int Y = 0;
  TShiftState Keys = 0;
};
// A wheel message: 120 per notch, positive away from the user; the point
// is in screen pixels.
struct TWheelMsg {
  int Delta = 0;
  TPoint Pos;
  TShiftState Keys = 0;
};

class TWinControl;
class TForm;

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  TWinControl* Parent() const { return mParent; }
  virtual void SetParent(TWinControl* parent);
  // The form this control sits on (itself for a form), or nullptr.
  TForm* ParentForm() const;

  int Left() const { return mLeft; }
  int Top() const { return mTop; }
  int Width() const { return mWidth; }
  int Height() const { return mHeight; }
  void SetLeft(int v) { SetBounds(v, mTop, mWidth, mHeight); }
  void SetTop(int v) { SetBounds(mLeft, v, mWidth, mHeight); }
  void SetWidth(int v) { SetBounds(mLeft, mTop, v, mHeight); }
  void SetHeight(int v) { SetBounds(mLeft, mTop, mWidth, v); }
  // Positions are kept within +-kMaxCoord and sizes within 0..kMaxCoord, so
  // that no sum of bounds (nested offsets, anchors, aligned sides)
  // overflows; no back buffer comes near either.
  static constexpr int kMaxCoord = 1 << 24;
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return Bounds(mLeft, mTop, mWidth, mHeight); }
  virtual int ClientWidth() const { return mWidth; }
  virtual int ClientHeight() const { return mHeight; }
  TRect ClientRect() const { return {0, 0, ClientWidth(), ClientHeight()}; }
  void SetClientSize(int w, int h);
  void SetClientWidth(int w) { SetClientSize(w, ClientHeight()); }
  void SetClientHeight(int h) { SetClientSize(ClientWidth(), h); }

  bool Visible() const { return mVisible; }
  virtual void SetVisible(bool v);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible here and in every parent up to and including the form.
  bool Showing() const;
  bool Enabled() const { return mEnabled; }
  virtual void SetEnabled(bool v);

  TColor Color() const { return mColor; }
  void SetColor(TColor c);  // also turns ParentColor off
  bool ParentColor() const { return mParentColor; }
  void SetParentColor(bool v);
  TAlign Align() const { return mAlign; }
  void SetAlign(TAlign a);
  TAnchors Anchors() const { return mAnchors; }
  void SetAnchors(TAnchors a);
  TCursor Cursor() const { return mCursor; }
  void SetCursor(TCursor c);
  const std::string& Hint() const { return mHint; }
  void SetHint(const std::string& h);
  bool ShowHint() const { return mShowHint; }
  void SetShowHint(bool v);
  uint32_t ControlStyle = csClickEvents;

  // Marks the control's area for painting at the next idle moment.
  void Invalidate();
  // Paints what is marked on the control's form now and puts it on the
  // screen before returning (nothing during a paint).
  void Update();
  void Repaint() {
    Invalidate();
    Update();
  }

  TPoint ClientToScreen(TPoint p) const;
  TPoint ScreenToClient(TPoint p) const;
  // The control's rectangle in its form's client pixels.
  TRect FormRect() const;

  TNotifyEvent OnClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;
  TMouseWheelEvent OnMouseWheel;
  TNotifyEvent OnResize;

  // Message handlers. Each answers the message's result; the defaults fire
  // the matching events and answer 0. A subclass that calls the inherited
  // handler can read what it answered.
  virtual intptr_t WmMouseMove(const TMouseMsg& m);
  virtual intptr_t WmLButtonDown(const TMouseMsg& m);
  virtual intptr_t WmLButtonUp(const TMouseMsg& m);
  virtual intptr_t WmOtherButton(TMouseButton b, bool down, const TMouseMsg& m);
  // Nonzero when the wheel was handled; otherwise it goes to the parent.
  virtual intptr_t WmMouseWheel(const TWheelMsg& m);
  // The control lost the mouse capture.
  virtual intptr_t WmCaptureChanged();
  // The size changed (new width and height).
  virtual intptr_t WmSize(int width, int height);
  virtual void MouseEnter();
  virtual void MouseLeave();
  virtual void Click();
  virtual void Paint() {}

 protected:
  TCanvas mCanvas;
  bool mClicked = false;
  // True for controls shown by a native overlay instead of painting.
  virtual bool IsOverlay() const { return false; }
  // The colour the control paints its background with.
  TColor EffectiveColor() const;
  virtual void BoundsChanged(bool sized);
  virtual void ParentColorChanged() {}
  void UpdateAnchorDistances();

 private:
  friend class TWinControl;
  friend class TForm;
  TWinControl* mParent = nullptr;
  int mLeft = 0, mTop = 0, mWidth = 0, mHeight = 0;
  // Distances to the parent's right and bottom client edges, kept for
  // right and bottom anchors.
  int mAnchorRight = 0, mAnchorBottom = 0;
  bool mVisible = true;
  bool mEnabled = true;
  TColor mColor = clBtnFace;
  bool mParentColor = false;
  TAlign mAlign = alNone;
  TAnchors mAnchors = akLeft | akTop;
  TCursor mCursor = crDefault;
  std::string mHint;
  bool mShowHint = false;
  // The last paint raised: the next failure is not reported again until a
  // paint succeeds.
  bool mPaintFailed = false;
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* owner);
  ~TWinControl() override;

  int ControlCount() const { return int(mControls.size()); }
  TControl* Controls(int i) const { return mControls.at(size_t(i)); }
  void InsertControl(TControl* c);
  void RemoveControl(TControl* c);
  void BringToFront(TControl* c);

  bool TabStop() const { return mTabStop; }
  void SetTabStop(bool v) { mTabStop = v; }
  int TabOrder() const;
  void SetTabOrder(int order);
  // Showing and enabled up to the form.
  bool CanFocus() const;
  // Moves the keyboard focus here; a control that cannot take it is left
  // as it is.
  virtual void SetFocus();
  bool Focused() const;
  // A control that handles Tab itself.
  virtual bool WantTabs() const { return false; }

  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;
  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;

  // Key messages: the default fires the events; a key set to 0 is handled.
  virtual intptr_t WmKeyDown(uint16_t& key, TShiftState shift);
  virtual intptr_t WmKeyUp(uint16_t& key, TShiftState shift);
  virtual intptr_t WmChar(char& ch);
  virtual void WmSetFocus() {}
  virtual void WmKillFocus() {}

  // Applies Align and Anchors to the children for the current client size.
  void AlignControls();
  // The deepest showing, enabled control under a point of the client area
  // (this control when no child is there).
  TControl* ControlAtPos(TPoint p);
  // Every focusable control below this one, in Tab order.
  void TabList(std::vector<TWinControl*>& out) const;
  // Passes the place, visibility and state of every native overlay below
  // this control to its widget (they follow their parents).
  void SyncOverlays();

 protected:
  intptr_t WmSize(int width, int height) override;
  void BoundsChanged(bool sized) override;

 private:
  friend class TControl;
  friend class TForm;
  std::vector<TControl*> mControls;     // z-order, the last on top
  std::vector<TWinControl*> mTabOrder;  // Tab order of the windowed children
  bool mTabStop = false;
  bool mAligning = false;
};

// A windowed control that paints itself on its canvas.
class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* owner) : TWinControl(owner) {}
  TCanvas& Canvas() { return mCanvas; }
};

// A control without a window of its own (drawn by its parent's paint).
class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(TComponent* owner) : TControl(owner) { ControlStyle |= csOpaque; }
  TCanvas& Canvas() { return mCanvas; }
};

enum class TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
using enum TBevelCut;

class TPanel : public TCustomControl {
 public:
  explicit TPanel(TComponent* owner);
  TBevelCut BevelOuter() const { return mBevelOuter; }
  void SetBevelOuter(TBevelCut v);
  void Paint() override;

 private:
  TBevelCut mBevelOuter = bvRaised;
};

enum class TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
using enum TBevelShape;
enum class TBevelStyle { bsLowered, bsRaised };
using enum TBevelStyle;

class TBevel : public TGraphicControl {
 public:
  explicit TBevel(TComponent* owner);
  TBevelShape Shape() const { return mShape; }
  void SetShape(TBevelShape s);
  TBevelStyle Style() const { return mStyle; }
  void SetStyle(TBevelStyle s);
  void Paint() override;

 private:
  TBevelShape mShape = bsBox;
  TBevelStyle mStyle = bsLowered;
};

enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
using enum TFormBorderStyle;

// A control shown by a native widget laid over the form's canvas.
class TOverlayControl : public TWinControl {
 public:
  TOverlayControl(TComponent* owner, OverlayKind kind);
  ~TOverlayControl() override;
  void SetParent(TWinControl* parent) override;
  void SetVisible(bool v) override;
  void SetEnabled(bool v) override;
  void SetFocus() override;
  const TFont& Font() const { return mState.Font; }
  void SetFont(const TFont& f);
  OverlayId Overlay() const { return mOverlay; }
  const OverlayState& State() const { return mState; }
  // Creates the native widget once the control sits on a form, and passes
  // the control's state to it.
  void Sync();

 protected:
  bool IsOverlay() const override { return true; }
  void BoundsChanged(bool sized) override;
  void ParentColorChanged() override { Sync(); }
  void SetText(const std::string& text);
  const std::string& GetText() const { return mState.Text; }
  virtual void NativeChanged(const std::string& text);
  // The native widget exists now, or the font changed.
  virtual void Realized() {}
  virtual void FontChanged() {}
  OverlayState mState;

 private:
  void Realize();
  void Unrealize();
  OverlayKind mKind;
  OverlayId mOverlay = 0;
  WindowId mWindow = 0;
};

class TLabel : public TOverlayControl {
 public:
  explicit TLabel(TComponent* owner);
  const std::string& Caption() const { return GetText(); }
  void SetCaption(const std::string& c);
  bool AutoSize() const { return mAutoSize; }
  void SetAutoSize(bool v);

 protected:
  void Realized() override { AdjustSize(); }
  void FontChanged() override { AdjustSize(); }

 private:
  void AdjustSize();
  bool mAutoSize = true;
};

class TEdit : public TOverlayControl {
 public:
  explicit TEdit(TComponent* owner);
  const std::string& Text() const { return GetText(); }
  void SetText(const std::string& t);  // from code: OnChange too
  TFormBorderStyle BorderStyle() const { return mState.Border ? bsSingle : bsNone; }
  void SetBorderStyle(TFormBorderStyle s);
  int MaxLength() const { return mState.MaxLength; }
  void SetMaxLength(int n);
  // The native widget takes digits (and a leading minus) only.
  void SetNumbersOnly(bool v);
  TNotifyEvent OnChange;

 protected:
  void NativeChanged(const std::string& text) override;
};

enum class TFormStyle { fsNormal, fsStayOnTop };
using enum TFormStyle;
enum class TPosition { poDesigned, poDefault, poDefaultPosOnly, poScreenCenter };
using enum TPosition;
enum TBorderIcon : uint8_t { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };
using enum TCloseAction;

using TModalResult = int;
constexpr TModalResult mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7;

struct TSizeConstraints {
  int MinWidth = 0;
  int MinHeight = 0;
};

class TForm : public TWinControl {
 public:
  // The largest client side: a back buffer of 16384 x 16384 pixels is the
  // bitmap's byte cap.
  static constexpr int kMaxClientSide = 16384;

  explicit TForm(TComponent* owner);
  ~TForm() override;
  void AfterConstruction() override;  // OnCreate
  void BeforeDestruction() override;  // OnDestroy

  const std::string& Caption() const { return mCaption; }
  void SetCaption(const std::string& c);
  int ClientWidth() const override;
  int ClientHeight() const override;
  void SetBounds(int left, int top, int width, int height) override;
  TFormBorderStyle BorderStyle() const { return mBorderStyle; }
  void SetBorderStyle(TFormBorderStyle s);
  uint8_t BorderIcons() const { return mBorderIcons; }
  void SetBorderIcons(uint8_t icons);
  TFormStyle FormStyle() const { return mFormStyle; }
  void SetFormStyle(TFormStyle s);
  TPosition Position = poDesigned;
  TSizeConstraints Constraints;
  void SetConstraints(const TSizeConstraints& c);
  bool KeyPreview = false;
  bool AutoSize() const { return mAutoSize; }
  void SetAutoSize(bool v);
  TWinControl* ActiveControl() const { return mActive; }
  void SetActiveControl(TWinControl* c);
  TModalResult ModalResult = mrNone;
  void SetModalResult(TModalResult r) { ModalResult = r; }
  bool Modal() const { return mModalLevel > 0; }

  void SetVisible(bool v) override;
  void Close();
  // Frees the form once the events being handled are over.
  void Release();
  // Shows the form and runs a nested loop until ModalResult is set (the
  // close box sets 2); other forms take no input meanwhile.
  TModalResult ShowModal();
  bool IsForeground() const;
  void SetFocus() override;
  // Moves the focus to the next (or previous) control of the Tab order.
  void SelectNext(TWinControl* current, bool forward);

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  std::function<void(TObject* Sender, TCloseAction& Action)> OnClose;
  std::function<void(TObject* Sender, bool& CanClose)> OnCloseQuery;

  // The back buffer: client-sized, pf32bit.
  const TBitmap& BackBuffer() const { return mBuffer; }
  WindowId Handle() const { return mWindow; }
  bool PaintPending() const { return !mDirty.IsEmpty(); }
  // Paints every marked area and presents it; with presentNow the screen
  // shows it (and whatever was presented before) when this returns.
  void PaintDirty(bool presentNow = false);
  bool InputEnabled() const { return mModalDisabled == 0 && Enabled(); }

  // Input from the backend, in client pixels. The key entry points answer
  // true when the layer handled the key (the native widget must not).
  void InputMouseMove(int x, int y, TShiftState shift);
  void InputMouseButton(TMouseButton button, bool down, int x, int y, TShiftState shift);
  void InputWheel(int delta, int x, int y, TShiftState shift);
  void InputMouseLeave();
  bool InputKeyDown(uint16_t key, TShiftState shift);
  bool InputKeyUp(uint16_t key, TShiftState shift);
  bool InputChar(char ch);
  void InputCloseRequest();
  void InputClientResized(int width, int height);
  void InputMoved(int left, int top);
  void InputActivated(bool active);
  void InputFocusOverlay(TWinControl* c);
  // The control under the pointer now (nullptr when the pointer is away).
  TControl* HoverControl() const { return mHover; }
  void ApplyCursor();

 private:
  friend class TControl;
  friend class TWinControl;
  friend class TOverlayControl;
  void EnsureWindow();
  void ApplyStyle();
  void SyncClientBounds();
  void MarkDirty(const TRect& r);
  void PaintTree(TWinControl* c, TPoint origin, const TRect& clip);
  void PaintReported(TControl* c);
  bool CloseQuery();
  void ForgetControl(TControl* c);
  void SetHover(TControl* c);
  void DoAutoSize();
  void FocusControl(TWinControl* c);
  void FocusFirst();
  TControl* MouseTarget(TControl* under) const;
  TMouseMsg ToLocal(TControl* c, int x, int y, TShiftState shift) const;

  std::string mCaption;
  TFormBorderStyle mBorderStyle = bsSizeable;
  uint8_t mBorderIcons = biSystemMenu | biMinimize | biMaximize;
  TFormStyle mFormStyle = fsNormal;
  bool mAutoSize = false;
  bool mInAutoSize = false;
  TWinControl* mActive = nullptr;
  TControl* mHover = nullptr;
  // The control that took the last left press, until its release.
  TControl* mPressed = nullptr;
  // Tab moved the focus on its key down: its key up is the layer's too.
  bool mTabMoved = false;
  WindowId mTransient = 0;
  bool mFromBackend = false;
  WindowId mWindow = 0;
  FrameExtents mFrame;
  TBitmap mBuffer;
  TRect mDirty;
  bool mPainting = false;
  int mModalLevel = 0;
  int mModalDisabled = 0;
  bool mReleasing = false;
  bool mReleaseAfterModal = false;
  bool mActiveWindow = false;
  bool mShowing = false;
};

// Mouse capture: the holder receives every mouse message; the one losing it
// gets WmCaptureChanged.
void SetCapture(TControl* c);
void ReleaseCapture();
TControl* GetCapture();

}  // namespace ui
