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
    if (mPath.empty() || mPath.back() == '/') return false;
    return mFile.Open(mPath, 0666);  // the usual mode, 0666 less the umask
  }
  bool write(const unsigned char* data, size_t size) override { return mFile.Write(data, int64_t(size)); }
  bool deliver(const std::string&) override { return mFile.Commit(); }
  void discard() override { mFile.Abandon(); }

 private:
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
