#include "qlm_ui_start.h"

#include <cstdlib>
#include <memory>

#include "qlm_startup.h"
#include "ui_app.h"
#include "ui_gtk.h"
#include "ui_headless.h"

namespace {

bool display_present() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v && *v) return true;
  }
  return false;
}

}  // namespace

bool qlm_ui_start() {
  if (ui::Started()) return true;
  try {
    std::unique_ptr<ui::Backend> backend;
    if (display_present()) backend = ui::GtkBackend::Create();
    if (!backend) backend = std::make_unique<ui::HeadlessBackend>();
    ui::Start(std::move(backend));
  } catch (...) {
    return false;
  }
  qlm_base_add_stop_hook(qlm_ui_stop);
  return true;
}

void qlm_ui_stop() { ui::Stop(); }
