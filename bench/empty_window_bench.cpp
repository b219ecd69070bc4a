// The yardstick of the installer's start-up benchmark (window_start_bench):
// the smallest program of the window layer on GTK, an empty form of the
// installer's client size shown by the main loop. It prints the first
// present line of QLM_REPORT_FIRST_PRESENT like the installer; the benchmark
// ends it once that line came and reads its peak resident size.
#include <cstdio>
#include <string>

#include "qlm_startup.h"
#include "qlm_ui_start.h"
#include "ui_app.h"

int main(int argc, char** argv) {
  framework_start(argc, argv);
  if (!qlm_ui_start() || ui::Application->GetBackend().Name() == std::string("headless")) {
    std::fprintf(stderr, "empty_window_bench: no display\n");
    framework_stop();
    return 1;
  }
  ui::Application->Initialize();
  auto* form = ui::Application->CreateForm<ui::TForm>();
  form->SetBorderStyle(ui::bsDialog);
  form->SetClientSize(699, 476);
  form->SetCaption("Empty Window");
  ui::Application->Run();
  framework_stop();
  return 0;
}
