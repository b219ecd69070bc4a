#include "qlm_ui_start.h"

#include <cstdlib>
#include <memory>

#include "plat_print.h"
#include "qlm_platform_ui.h"
#include "qlm_print_dialog.h"
#include "qlm_startup.h"
#include "ui_app.h"
#include "ui_gtk.h"
#include "ui_headless.h"

namespace {

// The display the environment names ("" for none), Wayland's first.
std::string named_display() {
  for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v && *v) return v;
  }
  return std::string();
}

// The screen metrics of the GTK backend, which keeps them for every thread.
// The screen device context stays the framework's token: nothing above the
// platform reads it.
const rScreenProvider kGtkScreen = [] {
  rScreenProvider p;
  p.dpi = [] { return ui::GtkBackend::CurrentScreen().dpi; };
  p.width = [] { return ui::GtkBackend::CurrentScreen().width; };
  p.height = [] { return ui::GtkBackend::CurrentScreen().height; };
  return p;
}();

bool g_provider_installed = false;

}  // namespace

bool qlm_ui_start(std::string* reason) {
  if (reason) reason->clear();
  if (ui::Started()) return true;
  bool gtk = false;
  try {
    std::unique_ptr<ui::Backend> backend;
    const std::string display = named_display();
    if (!display.empty()) {
      backend = ui::GtkBackend::Create();
      if (!backend && reason) *reason = "the display \"" + display + "\" cannot be opened";
    }
    gtk = backend != nullptr;
    if (!backend) backend = std::make_unique<ui::HeadlessBackend>();
    ui::Start(std::move(backend));
  } catch (...) {
    if (reason) *reason = ui::exception_text(std::current_exception());
    return false;
  }
  // Headless there is no screen: the framework's defaults stand.
  if (gtk) {
    screen_set_provider(&kGtkScreen);
    plat::print::set_backend(&qlm_gtk_print_backend());
    g_provider_installed = true;
  }
  qlm_base_add_stop_hook(qlm_ui_stop);
  return true;
}

void qlm_ui_stop() {
  if (g_provider_installed) {
    screen_set_provider(nullptr);
    plat::print::set_backend(nullptr);
    g_provider_installed = false;
  }
  ui::Stop();
}
