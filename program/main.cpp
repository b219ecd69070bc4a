#include <cstdint>
#include <cstdio>
#include <string>

#include "form_install.h"
#include "installer_errors.h"
#include "installs.h"
#include "installs_container.h"
#include "kvn_cursors.h"
#include "qlm_base_lists.h"
#include "qlm_platform.h"
#include "qlm_renderer_ids.h"
#include "qlm_startup.h"
#include "qlm_ui_start.h"
#include "ui_app.h"

// The install container, embedded by the build.
extern "C" const uint8_t qlm_install_data[];
extern "C" const uint64_t qlm_install_data_size;

namespace {

int stop(int code) {
  installs_stop();
  framework_stop();
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  framework_start(argc, argv);
  installs_start();
  qlm_renderer_start();
  std::string reason;
  if (!qlm_ui_start(&reason)) {
    std::fprintf(stderr, "Korvane Snaprill 1.31 Installer: the window system cannot be started: %s.\n", reason.c_str());
    return stop(cnExitCannotRun);
  }
  // Without a display the window layer runs on its test backend, which has
  // no user to answer it: the installer needs a desktop session.
  if (ui::Application->GetBackend().Name() == std::string("headless")) {
    if (reason.empty()) reason = "no display";
    std::fprintf(stderr, "Korvane Snaprill 1.31 Installer: %s; run it in a desktop session.\n", reason.c_str());
    return stop(cnExitCannotRun);
  }
  // The embedded data blocks: the pictures of the banner, the dialogs and
  // the cursors, then the install container.
  controls_register_pictures();
  if (qlm_install_data_size > uint64_t(INT32_MAX) ||
      resource_register(cnInstallDataName, qlm_install_data, int32_t(qlm_install_data_size)) == nullptr) {
    std::fprintf(stderr, "Korvane Snaprill 1.31 Installer: the installation data cannot be registered.\n");
    return stop(cnExitCannotRun);
  }
  cursors_load();

  ui::Application->Initialize();
  // An exception that leaves an event handler is logged by the loop, shown
  // to the user in an error dialog, and the installer goes on.
  ui::Application->OnException = installer_report_exception;
  auto* form = ui::Application->CreateForm<TFormInstall>();
  const auto alive = form->AliveToken();
  ui::Application->Run();
  // The status says how the installation ended (form_install.h).
  const int status = alive.expired() ? cnExitFailed : form->ExitStatus();
  return stop(status);
}
