// The host's printing: CUPS queues and PDF files, both written as PDF
// documents whose pages hold the printed pixels. A document goes into a
// temporary file; at the end a CUPS device sends it with cupsPrintFile2 and
// a file device renames it over the chosen name.
// The temporary file is deleted on every path.
//
// Programs that print install cups_backend() with plat::print::set_backend.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "plat_print.h"

namespace plat::print {

// Job options as name and value.
using JobOptions = std::vector<std::pair<std::string, std::string>>;

// The backend over the CUPS client library: the default destination
// (lpoptions, PRINTER and LPDEST honoured), the settings of a queue from its
// options and the media the server lists, and devices that print to the
// queue. Every call to the server goes through a connection of its own
// whose waits are bounded (kServerWaitSeconds); a server that does not
// answer in time is a failure, with the reason in failure().
Backend& cups_backend();

// The longest a call waits for the print server without hearing from it: a
// look-up fails after this long without an answer, an upload after this
// long without the server taking data (so a large document takes as long as
// it needs while the server keeps reading).
constexpr double kServerWaitSeconds = 3.0;

// One paper size as the server lists it for a queue, in hundredths of a
// millimetre: its PWG name ("na_letter_8.5x11in"), size and margins.
struct CupsMedia {
  std::string name;
  int32_t width = 0;
  int32_t length = 0;
  Margins margins;
};

// What the server tells of one destination.
struct CupsDestination {
  std::string name;      // the queue
  std::string instance;  // empty for the queue itself
  // The destination's options: the user's (lpoptions: "media",
  // "PageSize", "copies", ...) and the printer's attributes
  // ("printer-*", "device-uri", ...).
  JobOptions options;
  // Whether the server described the printer's capabilities (the rest).
  bool has_info = false;
  std::vector<CupsMedia> media;       // the sizes it lists
  std::vector<CupsMedia> borderless;  // the sizes it lists without margins
  bool has_default_media = false;
  CupsMedia default_media;
  std::string default_color;  // "print-color-mode" default, when named
  int32_t resolution = 0;     // the default resolution in dpi, 0 when unknown
};

// The answer to a look-up of a destination.
enum class CupsLookup : uint8_t { Found, NoDefault, NotFound, NoServer };

// Test seam: replaces the look-up of a destination on the server. `name`
// is "queue" or "queue/instance", or empty for the default destination;
// `capabilities` asks for has_info and what follows it. An empty function
// restores the server.
using LookupFunction = std::function<CupsLookup(const std::string& name, bool capabilities, CupsDestination& out)>;
void cups_set_lookup_seam(LookupFunction lookup);

// The settings of a destination as read_settings makes them: the user's
// paper ("media", else "PageSize", in PWG, legacy or PPD names) as the
// server lists it, with or without margins; a paper the server does not
// list keeps its size without a media name; without a choice the server's
// default; on a queue that lists no sizes the system's paper (libpaper:
// PAPERSIZE, PAPERCONF, /etc/papersize).
PrinterSettings cups_destination_settings(const std::string& device, const CupsDestination& d);

// The settings of the CUPS printer `device` with a paper chosen instead of
// the user's own: `media` by name (PWG, legacy or PPD) and, when `width` and
// `length` (hundredths of a millimetre) are above 0, by that size, which
// decides when the name is not one libcups knows or names another size (the
// print dialog's "iso_a4", "na_letter" and custom sizes). The margins and
// media name are the server's for the size it lists; a size it does not
// list keeps its PWG name ("custom_200x250mm"), so the job still names the
// paper chosen. False (with cups_backend().failure() saying why) when the
// printer cannot be found.
bool cups_printer_settings_for_paper(const std::string& device, const std::string& media, PrinterSettings& out,
                                     int32_t width = 0, int32_t length = 0);

// The options a job carries for the settings, in this order: "copies",
// "multiple-document-handling" (collated or not), "media" (the PWG name the
// server gave, when there is one), "print-color-mode" ("color" or
// "monochrome") and "sides" when the settings name it.
JobOptions job_options(const PrinterSettings& settings);

// A device that prints to the CUPS queue `queue` ("queue" or
// "queue/instance"): the document is written as PDF into a temporary file
// "qlm-print-<pid>-XXXXXX" made with mkostemp (mode 0600) in $TMPDIR (else
// /tmp), after cups_print_files_remove_stale of that folder, and sent at
// end_doc with the destination's own options, overridden by
// job_options(settings); when the settings name a media, the destination's
// "media", "PageSize" and "PageRegion" give way to it, so the job names one
// size. The job succeeds when the server answers a job id above 0.
std::unique_ptr<Device> make_cups_device(const std::string& queue, const PrinterSettings& settings,
                                         JobOptions destination_options = {});

// Removes from the folder the CUPS devices' temporary files
// ("qlm-print-<pid>-XXXXXX") that processes which no longer run left (a
// print killed halfway): only regular files of this user, never those of a
// running process (this one included). Answers how many were removed.
int32_t cups_print_files_remove_stale(const std::string& folder);

// Test seam: replaces cupsPrintFile2 (queue without the instance, file,
// title, options) and answers its job id; an empty function restores it.
using SubmitFunction = std::function<int(const std::string& queue, const std::string& file, const std::string& title,
                                         const JobOptions& options)>;
void cups_set_submit_seam(SubmitFunction submit);

// A device that writes the document as a PDF file at the host path `path`:
// into a new file beside it (mode 0666 less the umask), synced and renamed
// over `path` at end_doc, so `path` holds either its old content or the
// whole document.
std::unique_ptr<Device> make_pdf_file_device(const std::string& path, const PrinterSettings& settings);

// A backend with one printer, `settings.device_name`, which prints into the
// PDF file at `path` (driver "pdf", port the path). Its settings are the
// ones given here; the device name is the only one it knows.
class PdfFileBackend : public Backend {
 public:
  PdfFileBackend(std::string path, PrinterSettings settings);
  bool default_printer(DefaultPrinter& out) override;
  bool printer_settings(const std::string& device, PrinterSettings& out) override;
  std::unique_ptr<Device> create_device(const PrinterId& printer, const PrinterSettings& settings) override;

 private:
  std::string mPath;
  PrinterSettings mSettings;
};

}  // namespace plat::print
