#include "qlm_ui_start.h"

#include <memory>

#include "qlm_startup.h"
#include "ui_app.h"
#include "ui_headless.h"

bool qlm_ui_start() {
  if (ui::Started()) return true;
  try {
    ui::Start(std::make_unique<ui::HeadlessBackend>());
  } catch (...) {
    return false;
  }
  qlm_base_add_stop_hook(qlm_ui_stop);
  return true;
}

void qlm_ui_stop() { ui::Stop(); }
