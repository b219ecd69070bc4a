#include <cups/cups.h>
#include <cups/pwg.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <mutex>

#include "plat_print_host.h"
#include "plat_print_pdf.h"

namespace plat::print {

namespace {

// How long a query may wait for the printer's server.
constexpr int kConnectMs = 5000;

std::mutex g_seam_lock;
SubmitFunction g_submit;

// "queue/instance" splits at the first "/" (queue names cannot hold one).
void split_queue(const std::string& name, std::string& queue, std::string& instance) {
  const size_t slash = name.find('/');
  queue = name.substr(0, slash);
  instance = slash == std::string::npos ? std::string() : name.substr(slash + 1);
}

// A destination of the CUPS client library, freed with the object.
struct Dest {
  cups_dest_t* dest = nullptr;
  explicit Dest(const std::string& name) {
    if (name.empty()) return;
    std::string queue, instance;
    split_queue(name, queue, instance);
    if (queue.empty()) return;
    dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.c_str(), instance.empty() ? nullptr : instance.c_str());
  }
  Dest() : dest(cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr)) {}
  ~Dest() {
    if (dest != nullptr) cupsFreeDests(1, dest);
  }
  Dest(const Dest&) = delete;
  Dest& operator=(const Dest&) = delete;
  const char* Option(const char* name) const { return cupsGetOption(name, dest->num_options, dest->options); }
};

bool parse_int(const char* text, int32_t& value) {
  if (text == nullptr) return false;
  const char* end = text + std::strlen(text);
  auto [p, ec] = std::from_chars(text, end, value);
  return ec == std::errc() && p == end;
}

// The paper codes of the common sizes; others are "user" sizes.
int16_t paper_code_of(const std::string& pwg) {
  static const struct {
    const char* prefix;
    int16_t code;
  } kCodes[] = {
      {"na_letter_", 1},   {"na_ledger_", 3},    {"na_legal_", 5}, {"na_executive_", 7}, {"iso_a3_", 8},
      {"iso_a4_", 9},      {"iso_a5_", 11},      {"jis_b4_", 12},  {"jis_b5_", 13},      {"na_number-10_", 20},
      {"iso_dl_", 27},     {"iso_c5_", 28},      {"iso_b5_", 34},  {"iso_a6_", 70},
  };
  for (const auto& c : kCodes)
    if (pwg.rfind(c.prefix, 0) == 0) return c.code;
  return kPaperUser;
}

int32_t tenths_of(int hundredths) { return int32_t(std::nearbyint(hundredths / 10.0)); }

void take_media(const cups_size_t& size, PrinterSettings& s) {
  s.media = size.media;
  s.paper_width = tenths_of(size.width);
  s.paper_length = tenths_of(size.length);
  s.paper_width_given = s.paper_length_given = true;
  s.margins.left = size.left;
  s.margins.top = size.top;
  s.margins.right = size.right;
  s.margins.bottom = size.bottom;
  s.paper_size = paper_code_of(s.media);
  s.paper_size_given = true;
  const pwg_media_t* known = pwgMediaForPWG(size.media);
  s.form_name = (known != nullptr && known->ppd != nullptr) ? known->ppd : s.media;
  s.form_name_given = !s.form_name.empty();
}

// Fills the settings from the destination's options (lpoptions) and, where
// they say nothing, the printer's defaults.
bool read_settings(const std::string& name, PrinterSettings& s) {
  Dest d(name);
  if (d.dest == nullptr) return false;
  s = PrinterSettings();
  s.device_name = name;
  s.device_name_given = true;

  int32_t copies = 1;
  if (parse_int(d.Option("copies"), copies) && copies >= 1) s.copies = copies;
  s.copies_given = true;
  const char* handling = d.Option("multiple-document-handling");
  const char* collate = d.Option("collate");
  s.collate = ((handling != nullptr && std::strcmp(handling, "separate-documents-uncollated-copies") == 0) ||
               (collate != nullptr && std::strcmp(collate, "false") == 0))
                  ? 0
                  : 1;
  s.collate_given = true;
  const char* orientation = d.Option("orientation-requested");
  s.orientation = ((orientation != nullptr && std::strcmp(orientation, "4") == 0) || d.Option("landscape") != nullptr)
                      ? kOrientLandscape
                      : kOrientPortrait;
  s.orientation_given = true;

  http_t* http = cupsConnectDest(d.dest, CUPS_DEST_FLAGS_NONE, kConnectMs, nullptr, nullptr, 0, nullptr, nullptr);
  cups_dinfo_t* info = http != nullptr ? cupsCopyDestInfo(http, d.dest) : nullptr;

  const char* color = d.Option("print-color-mode");
  if (color == nullptr && info != nullptr) {
    ipp_attribute_t* attr = cupsFindDestDefault(http, d.dest, info, "print-color-mode");
    if (attr != nullptr) color = ippGetString(attr, 0, nullptr);
  }
  s.color = (color != nullptr && std::strstr(color, "monochrome") != nullptr) ? kColorMonochrome : kColorColor;
  s.color_given = true;

  if (info != nullptr) {
    cups_size_t size;
    std::memset(&size, 0, sizeof size);
    const char* media = d.Option("media");
    if ((media != nullptr && cupsGetDestMediaByName(http, d.dest, info, media, CUPS_MEDIA_FLAGS_DEFAULT, &size)) ||
        cupsGetDestMediaDefault(http, d.dest, info, CUPS_MEDIA_FLAGS_DEFAULT, &size))
      take_media(size, s);
    ipp_attribute_t* res = cupsFindDestDefault(http, d.dest, info, "printer-resolution");
    if (res != nullptr) {
      ipp_res_t units = IPP_RES_PER_INCH;
      int yres = 0;
      int xres = ippGetResolution(res, 0, &yres, &units);
      int dpi = std::min(xres, yres);
      if (units == IPP_RES_PER_CM) dpi = int(std::nearbyint(dpi * 2.54));
      if (dpi > 0) s.resolution = dpi;
    }
  }
  if (!s.paper_size_given) {
    // Nothing known of the media: A4, the system's default sheet.
    s.media = "iso_a4_210x297mm";
    s.paper_size = kPaperA4;
    s.paper_size_given = s.paper_width_given = s.paper_length_given = true;
    s.form_name = "A4";
    s.form_name_given = true;
  }
  if (info != nullptr) cupsFreeDestInfo(info);
  if (http != nullptr) httpClose(http);
  return true;
}

// The temporary PDF of a CUPS job, sent with cupsPrintFile2 (or the seam).
class CupsSink final : public PdfSink {
 public:
  CupsSink(std::string queue, JobOptions options) : mQueue(std::move(queue)), mOptions(std::move(options)) {}
  ~CupsSink() override { discard(); }

  bool open() override {
    const char* dir = std::getenv("TMPDIR");
    std::string name = (dir != nullptr && dir[0] == '/') ? dir : "/tmp";
    name += "/qlm-print-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    temp = name;
    return true;
  }

  bool deliver(const std::string& title) override {
    if (!close_fd()) return false;
    std::string queue, instance;
    split_queue(mQueue, queue, instance);
    int job = 0;
    SubmitFunction seam;
    {
      std::lock_guard<std::mutex> lock(g_seam_lock);
      seam = g_submit;
    }
    if (seam) {
      job = seam(queue, temp, title, mOptions);
    } else {
      cups_option_t* options = nullptr;
      int count = 0;
      for (const auto& [n, v] : mOptions) count = cupsAddOption(n.c_str(), v.c_str(), count, &options);
      job = cupsPrintFile2(CUPS_HTTP_DEFAULT, queue.c_str(), temp.c_str(), title.c_str(), count, options);
      cupsFreeOptions(count, options);
    }
    return job > 0;
  }

 private:
  std::string mQueue;
  JobOptions mOptions;
};

// Destination options that describe the printer, not a job.
bool is_printer_attribute(const std::string& name) {
  return name.rfind("printer-", 0) == 0 || name.rfind("marker-", 0) == 0 || name == "device-uri" ||
         name == "member-uris";
}

class CupsBackend final : public Backend {
 public:
  bool default_printer(DefaultPrinter& out) override {
    Dest d;
    if (d.dest == nullptr || d.dest->name == nullptr) return false;
    out = DefaultPrinter();
    out.has_fields = true;
    out.id.device = d.dest->name;
    if (d.dest->instance != nullptr) out.id.device += std::string("/") + d.dest->instance;
    out.id.driver = "cups";
    const char* uri = d.Option("device-uri");
    out.id.port = uri != nullptr ? uri : "";
    return true;
  }

  bool printer_settings(const std::string& device, PrinterSettings& out) override {
    return read_settings(device, out);
  }

  std::unique_ptr<Device> create_device(const PrinterId& printer, const PrinterSettings& settings) override {
    Dest d(printer.device);
    if (d.dest == nullptr) return nullptr;
    JobOptions options;
    for (int i = 0; i < d.dest->num_options; ++i) {
      const std::string name = d.dest->options[i].name;
      if (!is_printer_attribute(name)) options.emplace_back(name, d.dest->options[i].value);
    }
    return make_cups_device(printer.device, settings, std::move(options));
  }
};

}  // namespace

Backend& cups_backend() {
  static CupsBackend backend;
  return backend;
}

JobOptions job_options(const PrinterSettings& s) {
  JobOptions o;
  // Copies travel as a 16-bit count.
  const int32_t copies = std::clamp<int32_t>(s.copies, 1, 32767);
  o.emplace_back("copies", std::to_string(copies));
  o.emplace_back("multiple-document-handling",
                 s.collate != 0 ? "separate-documents-collated-copies" : "separate-documents-uncollated-copies");
  if (!s.media.empty()) o.emplace_back("media", s.media);
  if (s.color == kColorMonochrome) o.emplace_back("print-color-mode", "monochrome");
  return o;
}

std::unique_ptr<Device> make_cups_device(const std::string& queue, const PrinterSettings& settings,
                                         JobOptions destination_options) {
  if (queue.empty()) return nullptr;
  // The settings decide copies, collation, media and colour, whatever the
  // destination's own options say; orientation is never sent, because the
  // pages are already shaped for it.
  static const char* const kDecided[] = {"copies", "multiple-document-handling", "collate", "media",
                                         "print-color-mode", "orientation-requested", "landscape"};
  JobOptions options;
  const JobOptions own = job_options(settings);
  for (auto& [n, v] : destination_options) {
    bool decided = false;
    for (const char* d : kDecided) decided = decided || n == d;
    if (!decided) options.emplace_back(std::move(n), std::move(v));
  }
  options.insert(options.end(), own.begin(), own.end());
  return make_pdf_device(settings, std::make_unique<CupsSink>(queue, std::move(options)));
}

void cups_set_submit_seam(SubmitFunction submit) {
  std::lock_guard<std::mutex> lock(g_seam_lock);
  g_submit = std::move(submit);
}

}  // namespace plat::print
