#include "kvn_form_wait.h"

#include "kvn_form_dlg.h"
#include "kvn_forms.h"
#include "qlm_platform_ui.h"
#include "ui_app.h"

TFormWait::TFormWait(ui::TComponent* owner) : ui::TForm(owner) {
  SetBorderStyle(ui::bsToolWindow);
  SetBorderIcons(0);
  SetCaption("Wait Please ...");
  SetFormStyle(ui::fsStayOnTop);
  SetClientSize(400, 42);

  KVNHeading1 = dialog_heading(this, 400, CT_VIOLET, CLR_ORANGE, true);
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
