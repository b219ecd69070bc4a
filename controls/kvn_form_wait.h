// The wait window: a small stay-on-top tool window with one heading that
// says what the installer waits for. Opened through wait_show, non-modal;
// it shows its text and does nothing else. The window layer presents a
// form when it is shown, so the text is on screen even while the caller
// then blocks without serving the message loop.
#pragma once

#include <string>

#include "kvn_heading.h"
#include "ui_controls.h"

class TFormWait : public ui::TForm {
 public:
  explicit TFormWait(ui::TComponent* owner);

  TKVNHeading* KVNHeading1 = nullptr;
  std::string Text;
  ui::TForm* OwnerForm = nullptr;

 private:
  void FormShow();
};

// Creates a wait window owned by the application, shows it with the text
// (centred on the owner form, else on the screen) and answers it; the
// caller releases it (Release) when the wait is over. Nil when the window
// cannot be created.
TFormWait* wait_show(const std::string& text, ui::TForm* ownerForm);
