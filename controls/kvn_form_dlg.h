// The message dialog: a coloured heading with an icon and a title, a
// mark-up message in a scrolling document viewer, up to four buttons (Yes,
// No, OK, Cancel) that callers can restyle and give handlers through a
// linked list of cButton definitions, and an optional "don't show again"
// box. Opened modally through dialog_show, for one use; it answers the
// window layer's modal results 1 OK, 2 Cancel, 6 Yes, 7 No.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "kvn_button.h"
#include "kvn_checkbox.h"
#include "kvn_forms.h"
#include "kvn_heading.h"
#include "kvn_info.h"
#include "ui_controls.h"

class TFormDlg;

// A custom button's click handler; it receives the dialog.
using TDlgButtonHandler = std::function<void(TFormDlg* dialog)>;

// The button ids of the definitions.
constexpr uint8_t cnDlgYes = 0, cnDlgNo = 1, cnDlgOK = 2, cnDlgCancel = 3;
// The bits of dialog_show's button set.
constexpr uint16_t cnDlgBitYes = 1, cnDlgBitNo = 2, cnDlgBitOK = 4, cnDlgBitCancel = 8;
// dialog_show's kinds: the heading's theme and icon. Any other kind is
// custom (blue-grey, its own icon).
constexpr uint8_t cnDlgKindWarning = 0, cnDlgKindError = 1, cnDlgKindInformation = 2, cnDlgKindConfirmation = 3,
                  cnDlgKindCustom = 4;

// One custom button: restyling and an optional handler for the button with
// its id. The caller builds the list; the dialog frees it.
class cButton {
 public:
  // Type BTN_ROUND and font size 9.0 are fixed; a width of 0 (or less)
  // becomes 87.
  static cButton* Construct(uint8_t id, const std::string& caption, TColorIndex colorIndex, int32_t width,
                            cButton* next, TDlgButtonHandler handler);
  // Frees the definition and every one after it.
  static void FreeList(cButton* first);

  uint8_t id = 0;
  std::string caption;  // "~}" first: mark-up
  TColorIndex colorIndex = CLR_BLUE;
  TButtonType buttonType = BTN_ROUND;
  double fontSize = 9.0;
  int32_t width = 87;
  TDlgButtonHandler handler;
  cButton* next = nullptr;
};

// What a caller may watch the dialog through (no caller in the installer
// gives one): the dialog calls the three notifications and fills the two
// slots, which the watcher may call while the dialog is open.
class cDialogMonitor {
 public:
  virtual ~cDialogMonitor() = default;
  virtual void Shown(bool shown) = 0;
  virtual void Cancelled() = 0;
  virtual std::string Title() = 0;
  // Filled by the dialog: the title changed (re-read it), close (result 2).
  std::function<void()> TitleChangedSlot;
  std::function<void()> CloseRequestSlot;
};

class TFormDlg : public ui::TForm {
 public:
  explicit TFormDlg(ui::TComponent* owner);
  ~TFormDlg() override;

  // Configures the dialog from dialog_show's arguments 2 to 17, shows it
  // modally, frees the button definitions and answers the modal result.
  int32_t Execute(uint8_t kind, const std::string& title, const std::string& icon, const std::string& message,
                  uint16_t buttons, int32_t clientWidth, int32_t clientHeight, const ui::TForm* reference,
                  uint8_t placement, int32_t defaultResult, int32_t left, int32_t top, cButton* definitions,
                  bool* dontShow, cDialogMonitor* monitor, const std::string& caption);
  // A custom handler asks to close the dialog with this result (above 0).
  void SetResult(int32_t result);
  void TitleChanged();
  void CloseRequested();

  void BtYesClick(ui::TObject* sender);
  void BtNoClick(ui::TObject* sender);
  void BtOKClick(ui::TObject* sender);
  void BtCancelClick(ui::TObject* sender);

  TKVNHeading* Heading = nullptr;
  TKVNButton* BtYes = nullptr;
  TKVNButton* BtNo = nullptr;
  TKVNButton* BtOK = nullptr;
  TKVNButton* BtCancel = nullptr;
  ui::TPanel* Panel1 = nullptr;
  TKVNCheckBox* ChDont = nullptr;

  TInfoScene* MessageScene() const { return mScene; }
  TInfoControl* MessageViewer() const { return mViewer; }

 private:
  void FormCreate();
  void FormDestroy();
  void FormShow();
  void FormKeyDown(uint16_t& key);
  void ChDontClick();
  // The rule of the four buttons: the definition's handler, else the
  // button's own result.
  void ButtonClick(uint8_t id, int32_t ownResult);
  TKVNButton* ButtonOf(uint8_t id) const;

  TInfoScene* mScene = nullptr;
  TInfoSceneHRefs* mHRefs = nullptr;
  TInfoControl* mViewer = nullptr;
  bool mSettingUp = false;
  bool* mDontShow = nullptr;
  cDialogMonitor* mMonitor = nullptr;
  cButton* mButtons = nullptr;
  std::string mCaption;
  int32_t mResult = 0;
};

// A button of the kit's dialogs on the form: BTN_ROUND, no shadow, clipped
// bold "Verdana" caption, animated, anchored right and bottom.
TKVNButton* dialog_button(ui::TForm* form, int left, int top, int width, int height, const std::string& caption,
                          double fontSize, TColorIndex color);

// The title bar of the kit's dialogs on the form: 0, 0, width x 42, caption
// "Verdana" 13.0 bold, a BTN_CANDY help button in "Verdana" 8.0 bold, the
// theme and button colour given.
TKVNHeading* dialog_heading(ui::TForm* form, int width, TColorTheme theme, TColorIndex buttonColor, bool fullHeight);

// Creates a dialog owned by owner (the application when nil), runs it and
// releases it: the modal result, or -1 when the dialog cannot be created.
// kind: cnDlgKind*; buttons: cnDlgBit*; a client size of 0 or less is
// 450 x 200; placement: cnPlaceCentre .. cnPlaceTopRight through form_place
// on the reference form, cnPlaceAt at (left, top); the button whose result
// is defaultResult takes the focus. Title, message and custom captions are
// mark-up: text from outside (paths) is escaped by the caller.
int32_t dialog_show(ui::TForm* owner, uint8_t kind, const std::string& title, const std::string& icon,
                    const std::string& message, uint16_t buttons, int32_t clientWidth, int32_t clientHeight,
                    const ui::TForm* reference, uint8_t placement, int32_t defaultResult, int32_t left, int32_t top,
                    cButton* definitions, bool* dontShow, cDialogMonitor* monitor, const std::string& caption);

// dialog_show's arguments by name, for C++ callers: only what differs from
// the defaults is written.
struct rDialogOptions {
  ui::TForm* owner = nullptr;
  uint8_t kind = cnDlgKindInformation;
  std::string title;
  std::string icon;
  std::string message;
  uint16_t buttons = cnDlgBitOK;
  int32_t clientWidth = 0;
  int32_t clientHeight = 0;
  const ui::TForm* reference = nullptr;
  uint8_t placement = cnPlaceCentre;
  int32_t defaultResult = 0;
  int32_t left = 0;
  int32_t top = 0;
  cButton* definitions = nullptr;
  bool* dontShow = nullptr;
  cDialogMonitor* monitor = nullptr;
  std::string caption;
};
int32_t dialog_show(const rDialogOptions& o);
