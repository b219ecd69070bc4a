// GTK's print dialog as the print backend's dialog, on a real X server: it
// opens over the active form with the request's settings, the form's timers
// keep ticking inside its loop, and the choice comes back as settings and a
// device that prints.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtk/gtkunixprint.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pdf_tools.h"
#include "plat_print.h"
#include "qlm_print_dialog.h"
#include "qlm_ui_start.h"
#include "sandbox.h"
#include "ui_app.h"
#include "ui_controls.h"

namespace pp = plat::print;
using namespace ui;

namespace {

// What the test's hook does while the dialog runs: it points the file
// printer's output into the sandbox, waits (bounded) until the printer list
// has the pre-selected printer, lets the owner's timer tick a while, and
// answers OK (Cancel when the wait runs out).
struct Driver {
  GtkWidget* dialog = nullptr;
  std::string uri;
  const int* ticks = nullptr;
  int ticks_at_show = 0;
  int ticks_at_answer = 0;
  bool printer_found = false;
  std::chrono::steady_clock::time_point deadline;

  // The hook's part: the output goes to uri (GTK's own proposal when it is
  // empty), and the poll starts.
  void Start(void* dialog_widget, void* settings) {
    dialog = static_cast<GtkWidget*>(dialog_widget);
    ticks_at_show = *ticks;
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    auto* s = static_cast<GtkPrintSettings*>(settings);
    if (!uri.empty()) gtk_print_settings_set(s, GTK_PRINT_SETTINGS_OUTPUT_URI, uri.c_str());
    gtk_print_settings_set(s, GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
    g_timeout_add(20, &Driver::Poll, this);
  }

  static gboolean Poll(gpointer data) {
    auto* d = static_cast<Driver*>(data);
    GtkPrinter* printer = gtk_print_unix_dialog_get_selected_printer(GTK_PRINT_UNIX_DIALOG(d->dialog));
    d->printer_found = printer != nullptr && gtk_printer_is_virtual(printer);
    const bool late = std::chrono::steady_clock::now() > d->deadline;
    if (!late && !(d->printer_found && *d->ticks - d->ticks_at_show >= 8)) return G_SOURCE_CONTINUE;
    d->ticks_at_answer = *d->ticks;
    gtk_dialog_response(GTK_DIALOG(d->dialog), d->printer_found ? GTK_RESPONSE_OK : GTK_RESPONSE_CANCEL);
    return G_SOURCE_REMOVE;
  }
};

TEST(GuiPrint, TheDialogPrintsToAFileWithTheSettingsItWasGiven) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no X display (run through xvfb-run)";
  testenv::SavedEnv saved({"CUPS_SERVER", "PRINTER", "LPDEST"});
  setenv("CUPS_SERVER", (testenv::sandbox_root() + "/no-cupsd.sock").c_str(), 1);
  unsetenv("PRINTER");
  unsetenv("LPDEST");
  ASSERT_TRUE(qlm_ui_start());
  if (std::string(Application->GetBackend().Name()) != "gtk") {
    qlm_ui_stop();
    GTEST_SKIP() << "GTK cannot open the display";
  }
  // The process's print backend is the dialog's now.
  EXPECT_EQ(&pp::backend(), &qlm_gtk_print_backend());

  TForm* form = Create<TForm>(Application);
  form->SetBounds(100, 100, 300, 200);
  form->Show();
  int ticks = 0;
  auto* timer = new TTimer(form);  // the form frees it
  timer->SetInterval(25);
  timer->SetOnTimer([&](TObject*) { ++ticks; });

  const std::string path = testenv::sandbox_dir("gui-print") + "/out.pdf";
  Driver driver;
  driver.ticks = &ticks;
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  driver.uri = uri;
  g_free(uri);
  qlm_gtk_print_dialog_set_hook([&](void* dialog, void* settings) { driver.Start(dialog, settings); });

  pp::DialogRequest request;
  request.has_settings = true;
  pp::PrinterSettings& s = request.settings;
  s.device_name = "Print to File";
  s.device_name_given = true;
  s.copies = 2;
  s.copies_given = true;
  s.collate = 0;
  s.collate_given = true;
  s.orientation = pp::kOrientLandscape;
  s.orientation_given = true;
  s.color = pp::kColorMonochrome;
  s.color_given = true;
  s.paper_size = 5;  // Legal
  s.paper_size_given = true;
  pp::DialogResult result;
  const bool confirmed = pp::backend().run_dialog(request, result);
  qlm_gtk_print_dialog_set_hook(nullptr);
  ASSERT_TRUE(driver.printer_found) << "the printer list never showed \"Print to File\"";
  ASSERT_TRUE(confirmed);
  EXPECT_GE(driver.ticks_at_answer - driver.ticks_at_show, 8) << "the owner's timer stopped inside the dialog";

  EXPECT_EQ(result.settings.device_name, "Print to File");
  EXPECT_EQ(result.settings.copies, 2);
  EXPECT_EQ(result.settings.collate, 0);
  EXPECT_EQ(result.settings.orientation, pp::kOrientLandscape);
  EXPECT_EQ(result.settings.color, pp::kColorMonochrome);
  EXPECT_EQ(result.settings.paper_size, 5);
  EXPECT_EQ(result.settings.paper_width, 2159);
  EXPECT_EQ(result.settings.paper_length, 3556);
  EXPECT_EQ(result.settings.margins.left, 0);
  ASSERT_NE(result.device, nullptr);

  std::vector<uint32_t> red(16, 0xFF0000u);
  pp::Device& device = *result.device;
  bool printed = device.start_doc("Two pages");
  for (int page = 0; printed && page < 2; ++page)
    printed = device.start_page() && device.blit_xrgb(0, 0, 4, 4, reinterpret_cast<const uint8_t*>(red.data()), 16) &&
              device.end_page();
  EXPECT_TRUE(printed && device.end_doc());
  if (testenv::have_program("pdfinfo")) {
    testenv::PdfInfo info;
    ASSERT_TRUE(testenv::pdf_info(path, info));
    EXPECT_EQ(info.pages, 2);
    EXPECT_NEAR(info.width_pt, 1008, 0.5);  // Legal, landscape
    EXPECT_NEAR(info.height_pt, 612, 0.5);
  }
  result.device.reset();
  qlm_ui_stop();
  EXPECT_NE(&pp::backend(), &qlm_gtk_print_backend());
}

// "Print to File" proposes output.pdf in the user's documents folder (XDG),
// or in the home folder when none is set: never in the program's current
// folder, where the installer runs from.
TEST(GuiPrint, PrintToFileProposesTheDocumentsFolder) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no X display (run through xvfb-run)";
  testenv::SavedEnv saved({"CUPS_SERVER", "PRINTER", "LPDEST", "HOME", "XDG_CONFIG_HOME"});
  setenv("CUPS_SERVER", (testenv::sandbox_root() + "/no-cupsd.sock").c_str(), 1);
  unsetenv("PRINTER");
  unsetenv("LPDEST");
  const std::string home = testenv::sandbox_dir("print-home");
  const std::string config = home + "/.config";
  const std::string documents = home + "/My Documents";
  const std::string current = testenv::sandbox_dir("print-current");
  ASSERT_EQ(g_mkdir_with_parents(config.c_str(), 0700), 0);
  ASSERT_EQ(g_mkdir_with_parents(documents.c_str(), 0700), 0);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  struct BackHome {
    char* cwd = g_get_current_dir();
    ~BackHome() {
      if (chdir(cwd) != 0) ADD_FAILURE() << "cannot go back to " << cwd;
      g_free(cwd);
      g_reload_user_special_dirs_cache();
    }
  } back_home;
  ASSERT_EQ(chdir(current.c_str()), 0);
  ASSERT_TRUE(qlm_ui_start());
  if (std::string(Application->GetBackend().Name()) != "gtk") {
    qlm_ui_stop();
    GTEST_SKIP() << "GTK cannot open the display";
  }
  TForm* form = Create<TForm>(Application);
  form->SetBounds(100, 100, 300, 200);
  form->Show();
  int ticks = 0;
  auto* timer = new TTimer(form);  // the form frees it
  timer->SetInterval(25);
  timer->SetOnTimer([&](TObject*) { ++ticks; });

  const struct {
    const char* what;
    const char* user_dirs;  // user-dirs.dirs, nullptr for none
    std::string folder;     // where the file must be
  } cases[] = {
      // GLib reads its folders once and again on a reload, which keeps a
      // folder once set: the case without one comes first.
      {"no documents folder", nullptr, home},
      {"a documents folder", "XDG_DOCUMENTS_DIR=\"$HOME/My Documents\"\n", documents},
      {"a documents folder that is not there", "XDG_DOCUMENTS_DIR=\"$HOME/Gone\"\n", home},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string dirs = config + "/user-dirs.dirs";
    if (c.user_dirs)
      ASSERT_TRUE(g_file_set_contents(dirs.c_str(), c.user_dirs, -1, nullptr));
    else
      std::remove(dirs.c_str());
    g_reload_user_special_dirs_cache();
    Driver driver;
    driver.ticks = &ticks;
    qlm_gtk_print_dialog_set_hook([&](void* dialog, void* settings) { driver.Start(dialog, settings); });
    pp::DialogRequest request;
    request.has_settings = true;
    request.settings.device_name = "Print to File";
    request.settings.device_name_given = true;
    pp::DialogResult result;
    const bool confirmed = pp::backend().run_dialog(request, result);
    qlm_gtk_print_dialog_set_hook(nullptr);
    ASSERT_TRUE(driver.printer_found) << "the printer list never showed \"Print to File\"";
    ASSERT_TRUE(confirmed) << pp::backend().failure();
    ASSERT_NE(result.device, nullptr);
    std::vector<uint32_t> red(16, 0xFF0000u);
    pp::Device& device = *result.device;
    EXPECT_TRUE(device.start_doc("One page") && device.start_page() &&
                device.blit_xrgb(0, 0, 4, 4, reinterpret_cast<const uint8_t*>(red.data()), 16) &&
                device.end_page() && device.end_doc());
    result.device.reset();
    const std::string expected = c.folder + "/output.pdf";
    EXPECT_TRUE(g_file_test(expected.c_str(), G_FILE_TEST_IS_REGULAR)) << expected;
    EXPECT_FALSE(g_file_test((current + "/output.pdf").c_str(), G_FILE_TEST_EXISTS));
    std::remove(expected.c_str());
  }
  qlm_ui_stop();
}

}  // namespace
