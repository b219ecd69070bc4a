#include "kvn_form_wait.h"

#include "kvn_commons.h"
#include "qlm_platform_ui.h"
#include "ui_app.h"

TFormWait::TFormWait(ui::TComponent* owner) : ui::TForm(owner) {
  SetBorderStyle(ui::bsToolWindow);
  SetBorderIcons(0);
  SetCaption("Wait Please ...");
  SetFormStyle(ui::fsStayOnTop);
  SetClientSize(400, 42);

  KVNHeading1 = new TKVNHeading(this);
  KVNHeading1->SetBounds(0, 0, 400, 42);
  THeadingScene* hs = KVNHeading1->HeadingScene();
  hs->SetFontFace("Verdana");
  hs->SetFontSize(13.0);
  hs->SetFontStyle(TEXT_BOLD);
  hs->SetButtonType(BTN_CANDY);
  hs->SetButtonFace("Verdana");
  hs->SetButtonSize(8.0);
  hs->SetButtonStyle(TEXT_BOLD);
  hs->SetColorHeading(CT_VIOLET);
  hs->SetColorButton(CLR_ORANGE);
  hs->SetFullHeight(true);
  KVNHeading1->SetParent(this);
  SetAutoSize(true);

  OnShow = [this](ui::TObject*) { FormShow(); };
}

void TFormWait::FormShow() {
  KVNHeading1->HeadingScene()->SetCaptionText(Text);
  if (OwnerForm != nullptr) {
    form_place(this, OwnerForm, 1);
  } else {
    form_clamp_to_monitor(this, (screen_width() - Width()) / 2, (screen_height() - Height()) / 2);
  }
}

TFormWait* wait_show(const std::string& text, ui::TForm* ownerForm) {
  TFormWait* wait = nullptr;
  if (ui::Application == nullptr) return nullptr;  // forms exist only while the window layer runs
  try {
    wait = ui::Create<TFormWait>(ui::Application);
    wait->Text = text;
    wait->OwnerForm = ownerForm;
    wait->Show();
  } catch (...) {
    ui::TObject::Free(wait);
    return nullptr;
  }
  return wait;
}
