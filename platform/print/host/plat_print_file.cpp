#include <cstring>
#include <string>

#include "plat_durable.h"
#include "plat_print_host.h"
#include "plat_print_pdf.h"

namespace plat::print {

namespace {

// A PDF file replaced durably: the document goes to a temporary file beside
// the target, which takes its place only once the whole document was
// written and synced; until then the target stays as it was.
class FileSink final : public PdfSink {
 public:
  explicit FileSink(std::string path) : mPath(std::move(path)) {}

  bool open() override {
    if (mPath.empty() || mPath.back() == '/') {
      reason = "the print file " + mPath + " is not a file name";
      return false;
    }
    // Temporary files that a print killed halfway left beside its target go
    // first, as the installed files' leftovers do.
    const size_t slash = mPath.rfind('/');
    durable_remove_stale(slash == std::string::npos ? std::string(".")
                         : slash == 0               ? std::string("/")
                                                    : mPath.substr(0, slash));
    if (mFile.Open(mPath, 0666)) return true;  // the usual mode, 0666 less the umask
    Explain();
    return false;
  }
  bool write(const unsigned char* data, size_t size) override {
    if (mFile.Write(data, int64_t(size))) return true;
    Explain();
    return false;
  }
  bool deliver(const std::string&) override {
    if (mFile.Commit()) return true;
    Explain();
    return false;
  }
  void discard() override { mFile.Abandon(); }

 private:
  void Explain() {
    const DurableFailure& f = mFile.Failure();
    static const char* const kStage[] = {"cannot be written", "cannot be created",      "cannot be written",
                                         "cannot be saved",   "cannot be put in place", "cannot be saved"};
    reason = "the print file " + mPath + " " + kStage[size_t(f.stage) < 6 ? size_t(f.stage) : 0];
    if (f.err != 0) reason += std::string(": ") + std::strerror(f.err);
  }

  std::string mPath;
  DurableFile mFile;
};

}  // namespace

std::unique_ptr<Device> make_pdf_file_device(const std::string& path, const PrinterSettings& settings) {
  if (path.empty()) return nullptr;
  return make_pdf_device(settings, std::make_unique<FileSink>(path));
}

PdfFileBackend::PdfFileBackend(std::string path, PrinterSettings settings)
    : mPath(std::move(path)), mSettings(std::move(settings)) {}

bool PdfFileBackend::default_printer(DefaultPrinter& out) {
  out = DefaultPrinter();
  out.has_fields = true;
  out.id.device = mSettings.device_name;
  out.id.driver = "pdf";
  out.id.port = mPath;
  return !mSettings.device_name.empty();
}

bool PdfFileBackend::printer_settings(const std::string& device, PrinterSettings& out) {
  if (device.empty() || device != mSettings.device_name) return false;
  out = mSettings;
  return true;
}

std::unique_ptr<Device> PdfFileBackend::create_device(const PrinterId& printer, const PrinterSettings& settings) {
  if (printer.device.empty() || printer.device != mSettings.device_name) return nullptr;
  return make_pdf_file_device(mPath, settings);
}

}  // namespace plat::print
