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
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cups_server.h"
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
                device.blit_xrgb(0, 0, 4, 4, reinterpret_cast<const uint8_t*>(red.data()), 16) && device.end_page() &&
                device.end_doc());
    result.device.reset();
    const std::string expected = c.folder + "/output.pdf";
    EXPECT_TRUE(g_file_test(expected.c_str(), G_FILE_TEST_IS_REGULAR)) << expected;
    EXPECT_FALSE(g_file_test((current + "/output.pdf").c_str(), G_FILE_TEST_EXISTS));
    std::remove(expected.c_str());
  }
  qlm_ui_stop();
}

// A widget of GTK's dialog by its name there; nil when there is none.
GtkWidget* find_named(GtkWidget* w, const char* name) {
  return static_cast<GtkWidget*>(qlm_gtk_print_dialog_widget(w, name));
}

// The set-up dialog on a print server of our own, driven as a user would:
// the queue is chosen in the printer list, a paper (when asked) in the
// paper list, and OK pressed once the dialog has settled. It also asks for
// page 2 only, which the dialog must not offer.
struct QueueDriver {
  GtkWidget* dialog = nullptr;
  std::string queue;
  const char* paper = nullptr;  // GTK's name, nullptr to keep the one shown
  bool two_sided = false;       // long-edge two-sided printing chosen
  int polls = 0;
  int selected_at = -1;
  bool paper_chosen = false;
  bool printer_found = false;
  std::vector<std::string> offered;  // the page-range and n-up widgets shown
  std::string ok_label;
  std::chrono::steady_clock::time_point deadline;

  void Start(void* dialog_widget, void* settings) {
    dialog = static_cast<GtkWidget*>(dialog_widget);
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    auto* s = static_cast<GtkPrintSettings*>(settings);
    gtk_print_settings_set_printer(s, queue.c_str());
    gtk_print_settings_set_print_pages(s, GTK_PRINT_PAGES_RANGES);
    GtkPageRange page2{1, 1};
    gtk_print_settings_set_page_ranges(s, &page2, 1);
    if (two_sided) gtk_print_settings_set_duplex(s, GTK_PRINT_DUPLEX_HORIZONTAL);
    g_timeout_add(25, &QueueDriver::Poll, this);
  }

  // Chooses the paper named `paper` in the dialog's paper list.
  bool ChoosePaper() {
    GtkWidget* combo = find_named(dialog, "paper_size_combo");
    if (combo == nullptr) return false;
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(combo));
    GtkTreeIter it;
    for (bool more = gtk_tree_model_get_iter_first(model, &it); more; more = gtk_tree_model_iter_next(model, &it)) {
      GObject* object = nullptr;
      gtk_tree_model_get(model, &it, 0, &object, -1);
      const bool match =
          object != nullptr && GTK_IS_PAGE_SETUP(object) &&
          std::strcmp(gtk_paper_size_get_name(gtk_page_setup_get_paper_size(GTK_PAGE_SETUP(object))), paper) == 0;
      if (object != nullptr) g_object_unref(object);
      if (match) {
        gtk_combo_box_set_active_iter(GTK_COMBO_BOX(combo), &it);
        return true;
      }
    }
    return false;
  }

  static gboolean Poll(gpointer data) {
    auto* d = static_cast<QueueDriver*>(data);
    ++d->polls;
    GtkPrinter* printer = gtk_print_unix_dialog_get_selected_printer(GTK_PRINT_UNIX_DIALOG(d->dialog));
    bool late = std::chrono::steady_clock::now() > d->deadline;
    if (!d->printer_found && printer != nullptr && d->queue == gtk_printer_get_name(printer) &&
        gtk_printer_has_details(printer)) {
      d->printer_found = true;
      d->selected_at = d->polls;
    }
    // Settled: the printer's options are in place a while after its details came.
    if (!late && (!d->printer_found || d->polls < d->selected_at + 8)) return G_SOURCE_CONTINUE;
    if (!late && d->paper != nullptr && !d->paper_chosen) {
      d->paper_chosen = d->ChoosePaper();
      if (!d->paper_chosen)
        late = true;
      else
        return G_SOURCE_CONTINUE;
    }
    for (const char* name : {"page_range_radio", "page_range_entry", "pages_per_sheet"}) {
      GtkWidget* w = find_named(d->dialog, name);
      if (w != nullptr && gtk_widget_is_visible(w)) d->offered.push_back(name);
    }
    GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(d->dialog), GTK_RESPONSE_OK);
    d->ok_label =
        ok != nullptr && gtk_button_get_label(GTK_BUTTON(ok)) != nullptr ? gtk_button_get_label(GTK_BUTTON(ok)) : "";
    gtk_dialog_response(GTK_DIALOG(d->dialog), d->printer_found && !late ? GTK_RESPONSE_OK : GTK_RESPONSE_CANCEL);
    return G_SOURCE_REMOVE;
  }
};

// Configure Printer on queues that list their sizes. The request describes
// the raw queue (no colour, A4); the queue chosen instead starts from its
// own defaults, the paper chosen is the job's, and what is printed is the
// whole document: the dialog offers no page range and no pages per side,
// and its button says that it selects.
TEST(GuiPrint, TheSetupOnRealQueuesGivesTheChosenQueueAndPaper) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no X display (run through xvfb-run)";
  static constexpr const char* kCupsPdf = "/usr/share/ppd/cups-pdf/CUPS-PDF_noopt.ppd";
  static constexpr const char* kGenericPdf = "/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd";
  for (const char* ppd : {kCupsPdf, kGenericPdf})
    if (::access(ppd, R_OK) != 0) GTEST_SKIP() << ppd << " is not installed (tools/setup.sh installs it)";
  testenv::SavedEnv saved({"CUPS_SERVER", "PRINTER", "LPDEST", "CUPS_SERVERROOT", "PAPERSIZE"});
  unsetenv("PRINTER");
  unsetenv("LPDEST");
  setenv("PAPERSIZE", "a4", 1);
  const std::string folder = testenv::sandbox_dir("gui-cupsd");
  setenv("CUPS_SERVERROOT", folder.c_str(), 1);
  testenv::PrivateCupsServer server(folder);
  if (!server.Ok()) GTEST_SKIP() << server.Why();
  ASSERT_TRUE(server.AddQueue("Raw"));
  ASSERT_TRUE(server.AddQueue("CupsPdf", kCupsPdf));
  ASSERT_TRUE(server.AddQueue("Generic", kGenericPdf, {"PageSize=A4"}));
  ASSERT_TRUE(server.SetDefault("Raw"));
  ASSERT_TRUE(qlm_ui_start());
  if (std::string(Application->GetBackend().Name()) != "gtk") {
    qlm_ui_stop();
    GTEST_SKIP() << "GTK cannot open the display";
  }
  TForm* form = Create<TForm>(Application);
  form->SetBounds(100, 100, 300, 200);
  form->Show();

  struct Case {
    const char* what;
    const char* queue;
    const char* paper;  // chosen in the dialog, nullptr for none
    const char* media;  // the job's
    double width_pt, height_pt;
    bool two_sided;     // chosen in the dialog
    const char* sides;  // the job's
  } cases[] = {
      {"the CUPS-PDF queue, colour by its own default", "CupsPdf", nullptr, "iso_a4_210x297mm", 595.28, 841.89, false,
       ""},
      {"the generic queue, A5 chosen", "Generic", "iso_a5", "iso_a5_148x210mm", 419.53, 595.28, false, "one-sided"},
      {"the CUPS-PDF queue, Letter chosen", "CupsPdf", "na_letter", "na_letter_8.5x11in", 612, 792, false, ""},
      {"the generic queue, two-sided", "Generic", nullptr, "iso_a4_210x297mm", 595.28, 841.89, true,
       "two-sided-long-edge"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QueueDriver driver;
    driver.queue = c.queue;
    driver.paper = c.paper;
    driver.two_sided = c.two_sided;
    qlm_gtk_print_dialog_set_hook([&](void* dialog, void* settings) { driver.Start(dialog, settings); });
    pp::DialogRequest request;  // as the raw queue's device context asks
    request.has_settings = true;
    request.setup_only = true;
    pp::PrinterSettings& s = request.settings;
    s.device_name = "Raw";
    s.device_name_given = true;
    s.color = pp::kColorMonochrome;
    s.color_given = true;
    s.paper_size = pp::kPaperA4;
    s.paper_size_given = true;
    pp::DialogResult result;
    const bool confirmed = pp::backend().run_dialog(request, result);
    qlm_gtk_print_dialog_set_hook(nullptr);
    ASSERT_TRUE(driver.printer_found) << "the printer list never showed " << c.queue;
    ASSERT_TRUE(c.paper == nullptr || driver.paper_chosen) << "the paper list has no " << c.paper;
    ASSERT_TRUE(confirmed) << pp::backend().failure();
    EXPECT_EQ(driver.offered, std::vector<std::string>{});
    EXPECT_EQ(driver.ok_label, "_Select");
    EXPECT_EQ(result.settings.device_name, c.queue);
    EXPECT_EQ(result.settings.color, pp::kColorColor);
    ASSERT_NE(result.device, nullptr);
    std::vector<uint32_t> green(16, 0x00FF00u);
    pp::Device& device = *result.device;
    bool printed = device.start_doc("Three pages");
    for (int page = 0; printed && page < 3; ++page)
      printed = device.start_page() &&
                device.blit_xrgb(0, 0, 4, 4, reinterpret_cast<const uint8_t*>(green.data()), 16) && device.end_page();
    EXPECT_TRUE(printed && device.end_doc()) << device.failure();
    result.device.reset();
    const std::vector<testenv::CupsJob> jobs = server.Jobs(c.queue);
    ASSERT_FALSE(jobs.empty());
    const testenv::CupsJob& job = jobs.back();
    EXPECT_EQ(job.media, c.media);
    EXPECT_EQ(job.print_color_mode, "color");
    EXPECT_EQ(job.page_ranges, "");
    EXPECT_EQ(job.sides, c.sides);
    testenv::PdfInfo info;
    ASSERT_TRUE(testenv::pdf_info(job.document, info)) << job.document;
    EXPECT_EQ(info.pages, 3);
    EXPECT_NEAR(info.width_pt, c.width_pt, 0.5);
    EXPECT_NEAR(info.height_pt, c.height_pt, 0.5);
  }
  qlm_ui_stop();
}

}  // namespace
