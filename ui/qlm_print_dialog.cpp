#include "qlm_print_dialog.h"

#include <gtk/gtk.h>
#include <gtk/gtkunixprint.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "plat_print_host.h"
#include "ui_app.h"
#include "ui_controls.h"
#include "ui_gtk.h"

namespace pp = plat::print;

namespace {

std::function<void(void*, void*)> g_dialog_hook;

// The confirm button of a set-up dialog.
constexpr const char* kSetupConfirm = "_Select";

// GTK's paper for the settings: the size of the paper code, else a custom
// size from the tenths of a millimetre; nil when the settings give neither.
GtkPaperSize* paper_of(const pp::PrinterSettings& s) {
  const std::string pwg = s.paper_size_given ? pp::pwg_of_paper_code(s.paper_size) : std::string();
  if (!pwg.empty()) return gtk_paper_size_new(pwg.c_str());
  if (s.paper_width_given && s.paper_length_given && s.paper_width > 0 && s.paper_length > 0) {
    const std::string name = s.form_name_given && !s.form_name.empty() ? s.form_name : "custom";
    return gtk_paper_size_new_custom("custom", name.c_str(), s.paper_width / 10.0, s.paper_length / 10.0, GTK_UNIT_MM);
  }
  return nullptr;
}

int32_t tenths(double mm) { return int32_t(std::nearbyint(mm * 10.0)); }
int32_t hundredths(double mm) { return int32_t(std::nearbyint(mm * 100.0)); }

// Where "Print to File" proposes its file: the user's documents folder (XDG)
// when it is set and exists, else the home folder. GTK's own choice without
// a documents folder is the program's current folder.
std::string proposed_output_dir() {
  const char* documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
  if (documents != nullptr && g_file_test(documents, G_FILE_TEST_IS_DIR)) return documents;
  return g_get_home_dir();
}

// The colour a printer's own colour option names: its grey, greyscale,
// mono and black-and-white choices are monochrome, the rest colour.
bool is_colour_choice(const char* value) {
  std::string v = value != nullptr ? value : "";
  for (char& c : v) c = char(g_ascii_tolower(c));
  for (const char* grey : {"gray", "grey", "mono", "black"})
    if (v.find(grey) != std::string::npos) return false;
  return true;
}

// The settings the user confirmed, over `s`, the chosen printer's own. The
// colour is the dialog's when it shows one (GTK's colour setting, else the
// printer's colour option); without one it stays the printer's own, or, on
// the printer the request named, as asked (the file printer offers no
// choice of it). The request described its printer: a printer chosen in
// its place starts from its own defaults.
void read_back(GtkPrintSettings* gs, GtkPageSetup* page, const pp::DialogRequest& request, bool duplex_shown,
               pp::PrinterSettings& s) {
  s.copies = std::max(1, gtk_print_settings_get_n_copies(gs));
  s.copies_given = true;
  s.collate = gtk_print_settings_get_collate(gs) ? 1 : 0;
  s.collate_given = true;
  const GtkPageOrientation o =
      page != nullptr ? gtk_page_setup_get_orientation(page) : gtk_print_settings_get_orientation(gs);
  s.orientation = (o == GTK_PAGE_ORIENTATION_LANDSCAPE || o == GTK_PAGE_ORIENTATION_REVERSE_LANDSCAPE)
                      ? pp::kOrientLandscape
                      : pp::kOrientPortrait;
  s.orientation_given = true;
  const bool same_printer = request.has_settings && request.settings.device_name == s.device_name;
  if (gtk_print_settings_has_key(gs, GTK_PRINT_SETTINGS_USE_COLOR))
    s.color = gtk_print_settings_get_use_color(gs) ? pp::kColorColor : pp::kColorMonochrome;
  else if (const char* model = gtk_print_settings_get(gs, "cups-ColorModel"))
    s.color = is_colour_choice(model) ? pp::kColorColor : pp::kColorMonochrome;
  else if (same_printer && request.settings.color_given)
    s.color = request.settings.color;
  s.color_given = true;
  // Two-sided printing as the dialog showed it; not shown (the printer has
  // no such option), the printer's own options decide.
  if (duplex_shown && gtk_print_settings_has_key(gs, GTK_PRINT_SETTINGS_DUPLEX)) {
    const GtkPrintDuplex duplex = gtk_print_settings_get_duplex(gs);
    s.sides = duplex == GTK_PRINT_DUPLEX_HORIZONTAL ? "two-sided-long-edge"
              : duplex == GTK_PRINT_DUPLEX_VERTICAL ? "two-sided-short-edge"
                                                    : "one-sided";
  }
  const int dpi = gtk_print_settings_get_resolution(gs);
  if (dpi > 0) s.resolution = dpi;
  GtkPaperSize* paper = page != nullptr ? gtk_page_setup_get_paper_size(page) : nullptr;
  if (paper != nullptr) {
    s.paper_width = tenths(gtk_paper_size_get_width(paper, GTK_UNIT_MM));
    s.paper_length = tenths(gtk_paper_size_get_height(paper, GTK_UNIT_MM));
    s.paper_width_given = s.paper_length_given = true;
    const char* display = gtk_paper_size_get_display_name(paper);
    s.form_name = display != nullptr ? display : "";
    s.form_name_given = !s.form_name.empty();
    const char* name = gtk_paper_size_get_name(paper);
    s.paper_size = pp::paper_code_of(name != nullptr ? name : "");
    s.paper_size_given = true;
  }
}

// What the dialog would offer that printing here does not do: a range of
// pages, pages in reverse, only odd or even sheets, scaling, several pages
// per side and their order. Every page laid out is printed, one a sheet, so
// these are hidden rather than shown and dropped. They are found by their
// names in GTK's dialog; GTK shows some again when another printer is
// chosen, so they are hidden again whenever they are shown.
constexpr const char* kNotOffered[] = {"page_range_radio", "page_range_entry", "current_page_radio", "selection_radio",
                                       "all_pages_radio", "reverse_check", "page_set_combo", "scale_spin",
                                       "pages_per_sheet", "number_up_layout",
                                       // Their labels ("Only print:", "Scale:", "%", "Pages per side:", "Page
                                       // ordering:") and the heading "Range" of the page range.
                                       "label_widget1", "label6", "label7", "label8", "label9", "label10"};

// The widget of GTK's dialog named `name`; nil when there is none.
GtkWidget* find_named(GtkWidget* widget, const char* name) {
  if (GTK_IS_BUILDABLE(widget)) {
    const char* n = gtk_buildable_get_name(GTK_BUILDABLE(widget));
    if (n != nullptr && std::strcmp(n, name) == 0) return widget;
  }
  GtkWidget* found = nullptr;
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c != nullptr && found == nullptr; c = c->next)
      found = find_named(static_cast<GtkWidget*>(c->data), name);
    g_list_free(children);
  }
  return found;
}

void keep_hidden(GtkWidget* widget) {
  gtk_widget_hide(widget);
  g_signal_connect_after(widget, "show", G_CALLBACK(gtk_widget_hide), nullptr);
}

void hide_not_offered(GtkWidget* dialog) {
  for (const char* name : kNotOffered)
    if (GtkWidget* widget = find_named(dialog, name)) keep_hidden(widget);
}

class DialogBackend final : public pp::Backend {
 public:
  // The printers are CUPS's.
  bool default_printer(pp::DefaultPrinter& out) override {
    mFailure.clear();
    return pp::cups_backend().default_printer(out);
  }
  bool printer_settings(const std::string& device, pp::PrinterSettings& out) override {
    mFailure.clear();
    return pp::cups_backend().printer_settings(device, out);
  }
  std::unique_ptr<pp::Device> create_device(const pp::PrinterId& printer,
                                            const pp::PrinterSettings& settings) override {
    mFailure.clear();
    return pp::cups_backend().create_device(printer, settings);
  }
  std::string failure() const override { return mFailure.empty() ? pp::cups_backend().failure() : mFailure; }

  bool run_dialog(const pp::DialogRequest& request, pp::DialogResult& out) override {
    mFailure.clear();
    if (!ui::Started()) return false;
    auto* gtk = dynamic_cast<ui::GtkBackend*>(&ui::Application->GetBackend());
    if (gtk == nullptr) return false;
    ui::TForm* owner = ui::Screen != nullptr ? ui::Screen->ActiveForm() : nullptr;
    GtkWindow* parent = owner != nullptr ? GTK_WINDOW(gtk->NativeWindow(owner->Handle())) : nullptr;

    GtkWidget* dialog = gtk_print_unix_dialog_new(nullptr, parent);
    GtkPrintUnixDialog* unix_dialog = GTK_PRINT_UNIX_DIALOG(dialog);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    GtkPrintSettings* settings = gtk_print_settings_new();
    GtkPageSetup* page = gtk_page_setup_new();
    gtk_print_settings_set_n_copies(settings, std::max<int>(1, request.copies));
    if (request.has_settings) {
      const pp::PrinterSettings& s = request.settings;
      if (!s.device_name.empty()) gtk_print_settings_set_printer(settings, s.device_name.c_str());
      if (s.copies_given) gtk_print_settings_set_n_copies(settings, std::max(1, s.copies));
      if (s.collate_given) gtk_print_settings_set_collate(settings, s.collate != 0);
      if (s.orientation_given) {
        const GtkPageOrientation o =
            s.orientation == pp::kOrientLandscape ? GTK_PAGE_ORIENTATION_LANDSCAPE : GTK_PAGE_ORIENTATION_PORTRAIT;
        gtk_print_settings_set_orientation(settings, o);
        gtk_page_setup_set_orientation(page, o);
      }
      if (s.color_given) gtk_print_settings_set_use_color(settings, s.color == pp::kColorColor);
      if (GtkPaperSize* paper = paper_of(s)) {
        gtk_print_settings_set_paper_size(settings, paper);
        gtk_page_setup_set_paper_size(page, paper);
        gtk_paper_size_free(paper);
      }
    }
    gtk_print_settings_set(settings, GTK_PRINT_SETTINGS_OUTPUT_DIR, proposed_output_dir().c_str());
    if (g_dialog_hook) g_dialog_hook(dialog, settings);
    gtk_print_unix_dialog_set_embed_page_setup(unix_dialog, TRUE);
    gtk_print_unix_dialog_set_settings(unix_dialog, settings);
    gtk_print_unix_dialog_set_page_setup(unix_dialog, page);
    // The file printer writes PDF only, so PDF is the one format offered.
    gtk_print_unix_dialog_set_manual_capabilities(
        unix_dialog, GtkPrintCapabilities(GTK_PRINT_CAPABILITY_COPIES | GTK_PRINT_CAPABILITY_COLLATE |
                                          GTK_PRINT_CAPABILITY_GENERATE_PDF));
    g_object_unref(settings);
    g_object_unref(page);
    hide_not_offered(dialog);
    // A set-up confirms the printer and its settings; nothing is printed
    // when the dialog closes, so its button does not say "Print".
    if (request.setup_only)
      if (GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK))
        gtk_button_set_label(GTK_BUTTON(ok), kSetupConfirm);

    gtk_widget_show(dialog);
    const bool confirmed = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK;
    bool made = false;
    if (confirmed) made = Confirm(unix_dialog, request, out);
    gtk_widget_destroy(dialog);
    return made;
  }

 private:
  // Reads the dialog's choice and makes the device; false when it cannot be
  // made (the reason in failure()).
  bool Confirm(GtkPrintUnixDialog* dialog, const pp::DialogRequest& request, pp::DialogResult& out) {
    GtkPrinter* printer = gtk_print_unix_dialog_get_selected_printer(dialog);
    GtkPrintSettings* gs = gtk_print_unix_dialog_get_settings(dialog);
    GtkPageSetup* page = gtk_print_unix_dialog_get_page_setup(dialog);
    if (printer == nullptr || gs == nullptr) {
      if (gs != nullptr) g_object_unref(gs);
      mFailure = "no printer was chosen";
      return false;
    }
    const std::string name = gtk_printer_get_name(printer);
    GtkWidget* duplex = find_named(GTK_WIDGET(dialog), "duplex");
    const bool duplex_shown = duplex != nullptr && gtk_widget_is_visible(duplex);
    pp::PrinterSettings s;
    std::unique_ptr<pp::Device> device;
    if (gtk_printer_is_virtual(printer)) {
      // "Print to File": where GTK's settings put the file, no margins.
      const char* uri = gtk_print_settings_get(gs, GTK_PRINT_SETTINGS_OUTPUT_URI);
      gchar* path = uri != nullptr ? g_filename_from_uri(uri, nullptr, nullptr) : nullptr;
      s.device_name = name;
      s.device_name_given = true;
      read_back(gs, page, request, duplex_shown, s);
      if (path != nullptr) device = pp::make_pdf_file_device(path, s);
      if (!device) mFailure = "the print file cannot be written: " + std::string(uri != nullptr ? uri : "no file");
      g_free(path);
    } else {
      // A CUPS queue: the margins the server lists for the chosen paper.
      GtkPaperSize* paper = page != nullptr ? gtk_page_setup_get_paper_size(page) : nullptr;
      const char* pwg = paper != nullptr ? gtk_paper_size_get_name(paper) : nullptr;
      // GTK's names ("iso_a4", "custom_...") are not all names libcups
      // knows: the size, in hundredths of a millimetre, decides.
      const int32_t width = paper != nullptr ? hundredths(gtk_paper_size_get_width(paper, GTK_UNIT_MM)) : 0;
      const int32_t length = paper != nullptr ? hundredths(gtk_paper_size_get_height(paper, GTK_UNIT_MM)) : 0;
      if (pp::cups_printer_settings_for_paper(name, pwg != nullptr ? pwg : "", s, width, length)) {
        read_back(gs, page, request, duplex_shown, s);
        device = pp::cups_backend().create_device({name, "cups", ""}, s);
      }
      if (!device) mFailure = pp::cups_backend().failure();
    }
    g_object_unref(gs);
    if (!device) return false;
    out.settings = s;
    out.device = std::move(device);
    out.copies = uint16_t(std::clamp(s.copies, 1, 0xFFFF));
    return true;
  }

  std::string mFailure;
};

}  // namespace

pp::Backend& qlm_gtk_print_backend() {
  static DialogBackend backend;
  return backend;
}

void qlm_gtk_print_dialog_set_hook(std::function<void(void*, void*)> hook) { g_dialog_hook = std::move(hook); }

void* qlm_gtk_print_dialog_widget(void* dialog, const char* name) {
  return find_named(static_cast<GtkWidget*>(dialog), name);
}
