#include "installer_errors.h"

#include <string>

#include "form_install.h"
#include "kvn_form_dlg.h"
#include "qlm_parser_vormcode_escape.h"
#include "ui_app.h"

void installer_report_exception(std::exception_ptr error) {
  if (!error || ui::Application == nullptr) return;
  // The texts come from outside the mark-up (paths, library messages): escaped.
  const std::string title = ui::Application->Title.empty() ? cnInstallerCaption : ui::Application->Title;
  ui::TForm* over = ui::Screen != nullptr ? ui::Screen->ActiveForm() : nullptr;
  dialog_show({.owner = over,
               .kind = cnDlgKindError,
               .title = markup_escape(title),
               .message = markup_escape(ui::exception_text(error)),
               .reference = over,
               .defaultResult = ui::mrOk});
}
