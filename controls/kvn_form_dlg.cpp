#include "kvn_form_dlg.h"

#include <stdexcept>

#include "kvn_button_make.h"
#include "kvn_forms.h"
#include "ui_app.h"

namespace {

// The dialog's designed client size, for which the buttons are placed.
constexpr int kDesignWidth = 580, kDesignHeight = 317;
constexpr int32_t kDefaultButtonWidth = 87;

// Heading theme and icon by kind: warning, error, information,
// confirmation; any other kind is custom.
struct rDlgKind {
  TColorTheme theme;
  const char* icon;
};
constexpr rDlgKind cnKinds[cnDlgKindCustom + 1] = {
    {CT_YELLOW, "..\\dlg_warning.png"},     {CT_RED, "..\\dlg_error.png"},       {CT_BLUE, "..\\dlg_information.png"},
    {CT_GREEN, "..\\dlg_confirmation.png"}, {CT_BLUEGRAY, "..\\dlg_custom.png"},
};

// The buttons in placing order (right to left), with their bit and result.
struct rDlgButton {
  uint8_t id;
  uint16_t bit;
  int32_t result;
};
constexpr rDlgButton cnPlacing[4] = {
    {cnDlgCancel, cnDlgBitCancel, ui::mrCancel},
    {cnDlgOK, cnDlgBitOK, ui::mrOk},
    {cnDlgNo, cnDlgBitNo, ui::mrNo},
    {cnDlgYes, cnDlgBitYes, ui::mrYes},
};

const cButton* find_definition(const cButton* first, uint8_t id) {
  for (const cButton* b = first; b != nullptr; b = b->next)
    if (b->id == id) return b;
  return nullptr;
}

}  // namespace

TKVNButton* dialog_button(ui::TForm* form, int left, int top, int width, int height, const std::string& caption,
                          double fontSize, TColorIndex color) {
  TKVNButton* b = make_text_button(form, form, caption, BTN_ROUND, fontSize, color);
  b->SetBounds(left, top, width, height);
  b->SetAnchors(ui::akRight | ui::akBottom);
  return b;
}

TKVNHeading* dialog_heading(ui::TForm* form, int width, TColorTheme theme, TColorIndex buttonColor, bool fullHeight) {
  auto* h = new TKVNHeading(form);
  h->SetBounds(0, 0, width, 42);
  THeadingScene* s = h->HeadingScene();
  s->SetFontFace("Verdana");
  s->SetFontSize(13.0);
  s->SetFontStyle(TEXT_BOLD);
  s->SetButtonType(BTN_CANDY);
  s->SetButtonFace("Verdana");
  s->SetButtonSize(8.0);
  s->SetButtonStyle(TEXT_BOLD);
  s->SetColorHeading(theme);
  s->SetColorButton(buttonColor);
  s->SetFullHeight(fullHeight);
  h->SetParent(form);
  return h;
}

// ---------------------------------------------------------------------------
// cButton

cButton* cButton::Construct(uint8_t id, const std::string& caption, TColorIndex colorIndex, int32_t width,
                            cButton* next, TDlgButtonHandler handler) {
  auto* b = new cButton;
  b->id = id;
  b->caption = caption;
  b->colorIndex = colorIndex;
  b->width = width > 0 ? width : kDefaultButtonWidth;
  b->next = next;
  b->handler = std::move(handler);
  return b;
}

void cButton::FreeList(cButton* first) {
  while (first != nullptr) {
    cButton* next = first->next;
    delete first;
    first = next;
  }
}

// ---------------------------------------------------------------------------
// TFormDlg

TFormDlg::TFormDlg(ui::TComponent* owner) : ui::TForm(owner) {
  SetBorderStyle(ui::bsDialog);
  SetCaption("");
  KeyPreview = true;
  SetClientSize(kDesignWidth, kDesignHeight);

  Heading = dialog_heading(this, kDesignWidth, CT_GRAY, CLR_RED, false);
  Heading->SetAlign(ui::alTop);
  Heading->HeadingScene()->SetCaptionText("Dialog Title");

  BtYes = dialog_button(this, 221, 281, kDefaultButtonWidth, 32, "Yes", 9.0, CLR_GREEN);
  BtNo = dialog_button(this, 309, 281, kDefaultButtonWidth, 32, "No", 9.0, CLR_RED);
  BtOK = dialog_button(this, 397, 281, kDefaultButtonWidth, 32, "OK", 9.0, CLR_GREEN);
  BtCancel = dialog_button(this, 485, 281, kDefaultButtonWidth, 32, "Cancel", 9.0, CLR_YELLOW);
  BtYes->OnClick = [this](ui::TObject* s) { BtYesClick(s); };
  BtNo->OnClick = [this](ui::TObject* s) { BtNoClick(s); };
  BtOK->OnClick = [this](ui::TObject* s) { BtOKClick(s); };
  BtCancel->OnClick = [this](ui::TObject* s) { BtCancelClick(s); };

  Panel1 = new ui::TPanel(this);
  Panel1->SetBounds(9, 48, 563, 225);
  Panel1->SetBevelOuter(ui::bvNone);
  Panel1->SetColor(ui::clBtnShadow);
  Panel1->SetAnchors(ui::akLeft | ui::akTop | ui::akRight | ui::akBottom);
  Panel1->SetParent(this);

  ChDont = new TKVNCheckBox(this);
  ChDont->SetBounds(16, 286, 201, 17);
  TCheckBoxScene* cs = ChDont->CheckBoxScene();
  cs->SetFontFace("Arial");
  cs->SetFontSize(9.0);
  ChDont->SetCaption("Don't show this dialog next time");
  ChDont->SetChecked(false);
  ChDont->SetAnchors(ui::akLeft | ui::akBottom);
  ChDont->SetParent(this);
  ChDont->OnClick = [this](ui::TObject*) { ChDontClick(); };

  OnCreate = [this](ui::TObject*) { FormCreate(); };
  OnDestroy = [this](ui::TObject*) { FormDestroy(); };
  OnShow = [this](ui::TObject*) { FormShow(); };
  OnKeyDown = [this](ui::TObject*, uint16_t& key, ui::TShiftState) { FormKeyDown(key); };
}

// FormDestroy has run from OnDestroy when the form went through Free; a
// second run finds nothing left to free.
TFormDlg::~TFormDlg() { FormDestroy(); }

void TFormDlg::FormCreate() {
  SetCaption(gDialogCaption);
  mResult = 0;
  mScene = new TInfoScene;
  mHRefs = new TInfoSceneHRefs(mScene);
  mViewer = new TInfoControl(this);
  mViewer->SetAlign(ui::alClient);
  mViewer->SetParent(Panel1);
  mViewer->SetScenes(mScene, mHRefs);
}

void TFormDlg::FormDestroy() {
  // The viewer lets go of the scenes before they are freed.
  if (mViewer != nullptr) {
    mViewer->ClearLayers(true);
    mViewer->SetScenes(nullptr, nullptr);
  }
  ui::TObject::Free(mHRefs);
  ui::TObject::Free(mScene);
  mHRefs = nullptr;
  mScene = nullptr;
  cButton::FreeList(mButtons);
  mButtons = nullptr;
}

TKVNButton* TFormDlg::ButtonOf(uint8_t id) const {
  switch (id) {
    case cnDlgYes: return BtYes;
    case cnDlgNo: return BtNo;
    case cnDlgOK: return BtOK;
    default: return BtCancel;
  }
}

int32_t TFormDlg::Execute(uint8_t kind, const std::string& title, const std::string& icon, const std::string& message,
                          uint16_t buttons, int32_t clientWidth, int32_t clientHeight, const ui::TForm* reference,
                          uint8_t placement, int32_t defaultResult, int32_t left, int32_t top, cButton* definitions,
                          bool* dontShow, cDialogMonitor* monitor, const std::string& caption) {
  cButton::FreeList(mButtons);
  mMonitor = monitor;
  mDontShow = dontShow;
  mButtons = definitions;
  mCaption = caption;
  mSettingUp = false;
  struct FreeDefinitions {
    TFormDlg* dialog;
    ~FreeDefinitions() {
      cButton::FreeList(dialog->mButtons);
      dialog->mButtons = nullptr;
      // The watcher outlives the dialog: its slots must not call a freed one.
      if (dialog->mMonitor != nullptr) {
        dialog->mMonitor->TitleChangedSlot = nullptr;
        dialog->mMonitor->CloseRequestSlot = nullptr;
      }
    }
  } guard{this};

  const rDlgKind& k = cnKinds[kind < cnDlgKindCustom ? kind : cnDlgKindCustom];
  Heading->SetColorHeading(k.theme);
  Heading->SetIcon(icon.empty() ? std::string(k.icon) : icon);
  Heading->HeadingScene()->SetCaptionText(title);

  // Placed for the current client width, before the client is resized: the
  // right and bottom anchors then carry them along.
  TKVNButton* focus = nullptr;
  TKVNButton* previous = nullptr;
  for (const rDlgButton& p : cnPlacing) {
    TKVNButton* b = ButtonOf(p.id);
    if ((buttons & p.bit) == 0) {
      b->Hide();
      continue;
    }
    int32_t width = b->Width();
    if (const cButton* d = find_definition(mButtons, p.id)) {
      b->SetButtonText(d->caption);
      b->SetColorIndex(d->colorIndex);
      b->SetButtonType(d->buttonType);
      b->SetFontSize(d->fontSize);
      width = d->width;
    }
    const int x = previous == nullptr ? ClientWidth() - width - 8 : previous->Left() - (width + 1);
    b->SetBounds(x, b->Top(), width, b->Height());
    b->Show();
    if (previous == nullptr || p.result == defaultResult) focus = b;
    previous = b;
  }

  if (mDontShow != nullptr) {
    ChDont->Show();
    mSettingUp = true;
    ChDont->SetChecked(*mDontShow);
    mSettingUp = false;
  } else {
    ChDont->Hide();
  }

  SetClientSize(clientWidth > 0 ? clientWidth : 450, clientHeight > 0 ? clientHeight : 200);

  if (placement == cnPlaceAt) {
    form_clamp_to_monitor(this, left, top);
  } else {
    form_place(this, reference, placement);
    form_clamp_to_monitor(this, Left(), Top());
  }

  mViewer->ClearLayers(true);
  int32_t width = mViewer->Width() - 50;
  if (width < 1) width = Panel1->ClientWidth() - 50;
  if (width < 1) width = 0;
  mScene->LoadText(message + "~(p) ", width, true);
  mViewer->AddDocumentLayers();

  SetActiveControl(focus != nullptr ? static_cast<ui::TWinControl*>(focus) : Heading);

  if (mMonitor != nullptr) {
    mMonitor->TitleChangedSlot = [this] { TitleChanged(); };
    mMonitor->CloseRequestSlot = [this] { CloseRequested(); };
  }

  return ShowModal();
}

void TFormDlg::SetResult(int32_t result) {
  if (result > 0) mResult = result;
}

void TFormDlg::TitleChanged() {
  const std::string title = mMonitor != nullptr ? mMonitor->Title() : std::string();
  if (!title.empty()) Heading->HeadingScene()->SetCaptionText(title);
}

void TFormDlg::CloseRequested() { SetModalResult(ui::mrCancel); }

void TFormDlg::ButtonClick(uint8_t id, int32_t ownResult) {
  const cButton* d = find_definition(mButtons, id);
  if (d != nullptr && d->handler) {
    // A copy: the handler may not outlive its definition otherwise.
    TDlgButtonHandler handler = d->handler;
    handler(this);
    if (mResult > 0) SetModalResult(mResult);
    return;
  }
  if (id == cnDlgCancel && mMonitor != nullptr) {
    mMonitor->TitleChangedSlot = nullptr;
    mMonitor->CloseRequestSlot = nullptr;
    mMonitor->Cancelled();
  }
  SetModalResult(ownResult);
}

void TFormDlg::BtYesClick(ui::TObject*) { ButtonClick(cnDlgYes, ui::mrYes); }
void TFormDlg::BtNoClick(ui::TObject*) { ButtonClick(cnDlgNo, ui::mrNo); }
void TFormDlg::BtOKClick(ui::TObject*) { ButtonClick(cnDlgOK, ui::mrOk); }
void TFormDlg::BtCancelClick(ui::TObject*) { ButtonClick(cnDlgCancel, ui::mrCancel); }

void TFormDlg::FormShow() {
  if (!mCaption.empty()) SetCaption(mCaption);
  if (mMonitor != nullptr) mMonitor->Shown(true);
}

void TFormDlg::FormKeyDown(uint16_t& key) {
  if (key != ui::VK_ESCAPE) return;
  key = 0;
  SetModalResult(ui::mrCancel);
}

void TFormDlg::ChDontClick() {
  if (!mSettingUp && mDontShow != nullptr) *mDontShow = ChDont->Checked();
}

// ---------------------------------------------------------------------------
// dialog_show

int32_t dialog_show(ui::TForm* owner, uint8_t kind, const std::string& title, const std::string& icon,
                    const std::string& message, uint16_t buttons, int32_t clientWidth, int32_t clientHeight,
                    const ui::TForm* reference, uint8_t placement, int32_t defaultResult, int32_t left, int32_t top,
                    cButton* definitions, bool* dontShow, cDialogMonitor* monitor, const std::string& caption) {
  TFormDlg* dialog = nullptr;
  try {
    // Forms exist only while the window layer runs.
    if (ui::Application == nullptr) throw std::logic_error("dialog_show: the window layer is not started");
    ui::TComponent* o = owner != nullptr ? static_cast<ui::TComponent*>(owner) : ui::Application;
    dialog = ui::Create<TFormDlg>(o);
  } catch (...) {
    // The definitions are the dialog's to free, also when there is none.
    cButton::FreeList(definitions);
    return -1;
  }
  struct ReleaseAfter {
    TFormDlg* dialog;
    ~ReleaseAfter() { dialog->Release(); }
  } release{dialog};
  return dialog->Execute(kind, title, icon, message, buttons, clientWidth, clientHeight, reference, placement,
                         defaultResult, left, top, definitions, dontShow, monitor, caption);
}

int32_t dialog_show(const rDialogOptions& o) {
  return dialog_show(o.owner, o.kind, o.title, o.icon, o.message, o.buttons, o.clientWidth, o.clientHeight, o.reference,
                     o.placement, o.defaultResult, o.left, o.top, o.definitions, o.dontShow, o.monitor, o.caption);
}
