#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "plat_print_host.h"
#include "plat_print_pdf.h"

namespace plat::print {

namespace {

std::atomic<uint32_t> g_temp_counter{0};

// The folder part of a host path ("." for a bare name).
std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A PDF written beside its final name and renamed over it at the end.
class FileSink final : public PdfSink {
 public:
  explicit FileSink(std::string path) : mPath(std::move(path)) {}
  ~FileSink() override { discard(); }

  bool open() override {
    if (mPath.empty() || mPath.back() == '/') return false;
    // A name of our own instead of mkstemp, so the file gets the usual mode
    // (0666 less the umask) rather than 0600.
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = mPath + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(++g_temp_counter);
      fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        temp = name;
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }

  bool deliver(const std::string&) override {
    int rc = 0;
    do rc = ::fsync(fd);
    while (rc != 0 && errno == EINTR);
    if (rc != 0 || !close_fd()) return false;
    if (::rename(temp.c_str(), mPath.c_str()) != 0) return false;
    temp.clear();  // it is the document now
    const int dir = ::open(folder_of(mPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
    return true;
  }

 private:
  std::string mPath;
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
