// The host's printing: CUPS queues and PDF files, both written as PDF
// documents whose pages hold the printed pixels. A document goes into a temporary file; at the end a CUPS device sends
// it with cupsPrintFile2 and a file device renames it over the chosen name.
// The temporary file is deleted on every path.
//
// Programs that print install cups_backend() with plat::print::set_backend.
#pragma once

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
// defaults and its default media, and devices that print to the queue.
Backend& cups_backend();

// The options a job carries for the settings, in this order: "copies",
// "multiple-document-handling" (collated or not), "media" (the PWG name,
// when known) and "print-color-mode" "monochrome" when colour is off.
JobOptions job_options(const PrinterSettings& settings);

// A device that prints to the CUPS queue `queue` ("queue" or
// "queue/instance"): the document is written as PDF into a temporary file
// made with mkstemp in $TMPDIR (else /tmp) and sent at end_doc with the
// destination's own options, overridden by job_options(settings). The job
// succeeds when the server answers a job id above 0.
std::unique_ptr<Device> make_cups_device(const std::string& queue, const PrinterSettings& settings,
                                         JobOptions destination_options = {});

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
