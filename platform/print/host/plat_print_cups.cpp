#include <cups/cups.h>
#include <cups/pwg.h>
#include <dirent.h>
#include <fcntl.h>
#include <paper.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "plat_print_host.h"
#include "plat_print_pdf.h"

namespace plat::print {

namespace {

// How long connecting to the print server may take.
constexpr int kConnectMs = 3000;

constexpr const char* kNoServer = "the print server does not answer";
constexpr const char* kPrintFilePrefix = "qlm-print-";

std::mutex g_seam_lock;
SubmitFunction g_submit;
LookupFunction g_lookup;

template <typename F>
F seam_of(const F& f) {
  std::lock_guard<std::mutex> lock(g_seam_lock);
  return f;
}

// "queue/instance" splits at the first "/" (queue names cannot hold one).
void split_queue(const std::string& name, std::string& queue, std::string& instance) {
  const size_t slash = name.find('/');
  queue = name.substr(0, slash);
  instance = slash == std::string::npos ? std::string() : name.substr(slash + 1);
}

// A connection of our own to the print server, its waits bounded: libcups'
// shared connection waits for minutes on a server that accepts and never
// answers.
struct Connection {
  http_t* http = nullptr;
  Connection() {
    http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kConnectMs, nullptr);
    if (http != nullptr) httpSetTimeout(http, kServerWaitSeconds, nullptr, nullptr);
  }
  ~Connection() {
    if (http != nullptr) httpClose(http);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  // True when the server failed to answer (or the connection broke), as
  // against answering "no".
  bool Broken() const {
    if (http == nullptr || httpError(http) != 0) return true;
    const ipp_status_t status = cupsLastError();
    return status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || status == IPP_STATUS_ERROR_INTERNAL;
  }
};

CupsMedia media_of(const cups_size_t& size) {
  CupsMedia m;
  m.name = size.media;
  // libcups names a size it lists only without margins "<pwg>_borderless",
  // a name no server takes back and no look-up knows: the PWG name it is.
  static constexpr std::string_view kBorderless = "_borderless";
  if (m.name.size() > kBorderless.size() && m.name.ends_with(kBorderless))
    m.name.resize(m.name.size() - kBorderless.size());
  m.width = size.width;
  m.length = size.length;
  m.margins.left = size.left;
  m.margins.top = size.top;
  m.margins.right = size.right;
  m.margins.bottom = size.bottom;
  return m;
}

// The printer's address on the server and the resource requests go to.
std::string printer_uri(const std::string& queue) {
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                   queue.c_str());
  return uri;
}

// The user's and the system's lpoptions lines for the destination ("Dest
// name[/instance] options" or "Default ..."), the user's last; `default_name`
// receives the name of a "Default" line.
void read_lpoptions(const std::string& queue, const std::string& instance, JobOptions& options,
                    std::string& default_name) {
  const char* root = std::getenv("CUPS_SERVERROOT");
  const char* home = std::getenv("HOME");
  std::vector<std::string> files{std::string(root != nullptr && root[0] != '\0' ? root : "/etc/cups") + "/lpoptions"};
  if (home != nullptr && home[0] != '\0') files.push_back(std::string(home) + "/.cups/lpoptions");
  for (const std::string& file : files) {
    FILE* f = std::fopen(file.c_str(), "re");
    if (f == nullptr) continue;
    char line[8192];
    while (std::fgets(line, sizeof line, f) != nullptr) {
      std::string text(line);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      const size_t sp1 = text.find(' ');
      if (sp1 == std::string::npos) continue;
      const std::string kind = text.substr(0, sp1);
      if (strcasecmp(kind.c_str(), "Dest") != 0 && strcasecmp(kind.c_str(), "Default") != 0) continue;
      const size_t sp2 = text.find(' ', sp1 + 1);
      const std::string dest = text.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1);
      std::string q, i;
      split_queue(dest, q, i);
      if (strcasecmp(kind.c_str(), "Default") == 0) default_name = dest;
      if (queue.empty() || strcasecmp(q.c_str(), queue.c_str()) != 0 || i != instance) continue;
      cups_option_t* parsed = nullptr;
      const int n = cupsParseOptions(sp2 == std::string::npos ? "" : text.c_str() + sp2 + 1, 0, &parsed);
      for (int k = 0; k < n; ++k) {
        const std::string key = parsed[k].name;
        auto same = [&](const auto& o) { return o.first == key; };
        options.erase(std::remove_if(options.begin(), options.end(), same), options.end());
        options.emplace_back(key, parsed[k].value);
      }
      cupsFreeOptions(n, parsed);
    }
    std::fclose(f);
  }
}

// The default destination as the user named it, as the client library
// finds it: LPDEST, PRINTER (but not "lp"), the lpoptions default; "" when
// none is named (the server's default is then asked for).
std::string default_destination_name() {
  const char* env = std::getenv("LPDEST");
  if (env == nullptr || env[0] == '\0') {
    env = std::getenv("PRINTER");
    if (env != nullptr && std::strcmp(env, "lp") == 0) env = nullptr;
  }
  if (env != nullptr && env[0] != '\0') return env;
  std::string wanted;
  JobOptions none;
  read_lpoptions("", "", none, wanted);
  return wanted;
}

// The entry the server lists for the paper: by name, else by size (within
// half a millimetre); with margins first, then without.
const CupsMedia* listed(const CupsDestination& d, const pwg_media_t& paper) {
  for (const auto* list : {&d.media, &d.borderless}) {
    for (const CupsMedia& m : *list)
      if (m.name == paper.pwg) return &m;
    for (const CupsMedia& m : *list)
      if (std::abs(m.width - paper.width) <= 50 && std::abs(m.length - paper.length) <= 50) return &m;
  }
  return nullptr;
}

// The entry the server lists for a PWG name ("iso_a4_210x297mm"); nil when
// the name is not one or its size is not listed.
const CupsMedia* listed_size(const CupsDestination& d, const char* pwg) {
  const pwg_media_t* paper = pwgMediaForPWG(pwg);
  return paper != nullptr ? listed(d, *paper) : nullptr;
}

// The look-up on the server, on a connection of our own, through IPP
// requests that go nowhere else: libcups' own look-ups fall back to its
// shared connection, which waits for minutes.
CupsLookup server_lookup(const std::string& name, bool capabilities, CupsDestination& out) {
  out = CupsDestination();
  std::string wanted = name.empty() ? default_destination_name() : name;
  Connection c;
  if (c.http == nullptr) return CupsLookup::NoServer;
  if (wanted.empty()) {
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-name");
    ipp_t* response = cupsDoRequest(c.http, request, "/");
    ipp_attribute_t* attr = response != nullptr ? ippFindAttribute(response, "printer-name", IPP_TAG_NAME) : nullptr;
    if (attr != nullptr && ippGetString(attr, 0, nullptr) != nullptr) wanted = ippGetString(attr, 0, nullptr);
    ippDelete(response);
    if (wanted.empty()) return c.Broken() ? CupsLookup::NoServer : CupsLookup::NoDefault;
  }
  std::string queue, instance;
  split_queue(wanted, queue, instance);
  out.name = queue;
  out.instance = instance;
  if (queue.empty()) return CupsLookup::NotFound;

  const std::string uri = printer_uri(queue);
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  static const char* const kWanted[] = {"printer-name", "device-uri", "printer-uri-supported"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, kWanted);
  ipp_t* response = cupsDoRequest(c.http, request, ("/printers/" + queue).c_str());
  if (response == nullptr || ippGetStatusCode(response) > IPP_STATUS_OK_EVENTS_COMPLETE) {
    ippDelete(response);
    return c.Broken() ? CupsLookup::NoServer : CupsLookup::NotFound;
  }
  for (const char* attr_name : {"printer-name", "device-uri", "printer-uri-supported"}) {
    ipp_attribute_t* attr = ippFindAttribute(response, attr_name, IPP_TAG_ZERO);
    const char* value = attr != nullptr ? ippGetString(attr, 0, nullptr) : nullptr;
    if (value == nullptr) continue;
    if (std::strcmp(attr_name, "printer-name") == 0)
      out.name = value;  // the server's spelling of the name
    else
      out.options.emplace_back(attr_name, value);
  }
  ippDelete(response);
  std::string unused;
  read_lpoptions(out.name, out.instance, out.options, unused);
  if (!capabilities) return CupsLookup::Found;

  // The capabilities through a destination record of the client library.
  cups_dest_t* dest = nullptr;
  const int count = cupsAddDest(out.name.c_str(), out.instance.empty() ? nullptr : out.instance.c_str(), 0, &dest);
  cups_dest_t* d = cupsGetDest(out.name.c_str(), out.instance.empty() ? nullptr : out.instance.c_str(), count, dest);
  if (d == nullptr) {
    cupsFreeDests(count, dest);
    return CupsLookup::Found;
  }
  for (const auto& [n, v] : out.options)
    d->num_options = cupsAddOption(n.c_str(), v.c_str(), d->num_options, &d->options);
  cups_dinfo_t* info = cupsCopyDestInfo(c.http, d);
  bool broken = false;
  if (info != nullptr) {
    out.has_info = true;
    cups_size_t size;
    for (const unsigned flags : {unsigned(CUPS_MEDIA_FLAGS_DEFAULT), unsigned(CUPS_MEDIA_FLAGS_BORDERLESS)}) {
      auto& list = flags == CUPS_MEDIA_FLAGS_DEFAULT ? out.media : out.borderless;
      const int n = cupsGetDestMediaCount(c.http, d, info, flags);
      for (int i = 0; i < n; ++i) {
        std::memset(&size, 0, sizeof size);
        if (cupsGetDestMediaByIndex(c.http, d, info, i, flags, &size)) list.push_back(media_of(size));
      }
    }
    // The queue's own default paper ("media-default", as the PPD or lpadmin
    // set it), as the server lists it. cupsGetDestMediaDefault is only the
    // last resort: without a "media" option it answers Letter whatever the
    // queue's default is.
    ipp_attribute_t* paper = cupsFindDestDefault(c.http, d, info, "media");
    const char* paper_name = paper != nullptr ? ippGetString(paper, 0, nullptr) : nullptr;
    if (paper_name != nullptr) {
      if (const CupsMedia* entry = listed_size(out, paper_name)) {
        out.has_default_media = true;
        out.default_media = *entry;
      }
    }
    for (const unsigned flags : {unsigned(CUPS_MEDIA_FLAGS_DEFAULT), unsigned(CUPS_MEDIA_FLAGS_BORDERLESS)}) {
      cups_size_t size;
      std::memset(&size, 0, sizeof size);
      if (!out.has_default_media && cupsGetDestMediaDefault(c.http, d, info, flags, &size)) {
        out.has_default_media = true;
        out.default_media = media_of(size);
      }
    }
    ipp_attribute_t* color = cupsFindDestDefault(c.http, d, info, "print-color-mode");
    if (color != nullptr && ippGetString(color, 0, nullptr) != nullptr)
      out.default_color = ippGetString(color, 0, nullptr);
    ipp_attribute_t* res = cupsFindDestDefault(c.http, d, info, "printer-resolution");
    if (res != nullptr) {
      ipp_res_t units = IPP_RES_PER_INCH;
      int yres = 0;
      const int xres = ippGetResolution(res, 0, &yres, &units);
      int dpi = std::min(xres, yres);
      if (units == IPP_RES_PER_CM) dpi = int(std::nearbyint(dpi * 2.54));
      if (dpi > 0) out.resolution = dpi;
    }
    cupsFreeDestInfo(info);
  } else {
    broken = c.Broken();
  }
  cupsFreeDests(count, dest);
  return broken ? CupsLookup::NoServer : CupsLookup::Found;
}

CupsLookup lookup(const std::string& name, bool capabilities, CupsDestination& out) {
  const LookupFunction seam = seam_of(g_lookup);
  return seam ? seam(name, capabilities, out) : server_lookup(name, capabilities, out);
}

const std::string* option(const CupsDestination& d, const char* name) {
  for (const auto& [n, v] : d.options)
    if (n == name) return &v;
  return nullptr;
}

bool parse_int(const std::string* text, int32_t& value) {
  if (text == nullptr) return false;
  const char* end = text->data() + text->size();
  auto [p, ec] = std::from_chars(text->data(), end, value);
  return ec == std::errc() && p == end;
}

int32_t tenths_of(int32_t hundredths) { return int32_t(std::nearbyint(hundredths / 10.0)); }

// The paper of the settings: its size, margins, the media name sent with a
// job (only a name the server gave; empty otherwise), the form name (the
// PPD name such as "A4" when the size is a standard one) and the code.
void take_paper(const CupsMedia& m, bool from_server, PrinterSettings& s) {
  const pwg_media_t* known = pwgMediaForPWG(m.name.c_str());
  if (known == nullptr) known = pwgMediaForSize(m.width, m.length);
  const std::string pwg = !m.name.empty() ? m.name : known != nullptr ? known->pwg : std::string();
  s.media = from_server ? m.name : std::string();
  // A standard size as it stands in the table: servers list sizes from
  // whole points (A4 as 209.9 x 297.04 mm), which its name says exactly.
  const bool standard =
      known != nullptr && std::abs(known->width - m.width) <= 50 && std::abs(known->length - m.length) <= 50;
  s.paper_width = tenths_of(standard ? known->width : m.width);
  s.paper_length = tenths_of(standard ? known->length : m.length);
  s.paper_width_given = s.paper_length_given = true;
  s.margins = m.margins;
  s.paper_size = paper_code_of(known != nullptr ? known->pwg : pwg);
  s.paper_size_given = true;
  s.form_name = (known != nullptr && known->ppd != nullptr) ? known->ppd : pwg;
  s.form_name_given = !s.form_name.empty();
}

// A paper name in any of the forms users give ("na_letter_8.5x11in",
// "na-letter", "Letter", "A4.Borderless", "Custom.8x10in"), or one that
// libpaper knows in any case ("a4", "letter").
const pwg_media_t* paper_named(const std::string& name) {
  if (name.empty()) return nullptr;
  const pwg_media_t* m = pwgMediaForPWG(name.c_str());
  if (m == nullptr) m = pwgMediaForLegacy(name.c_str());
  if (m == nullptr) m = pwgMediaForPPD(name.c_str());
  const size_t dot = name.find('.');
  if (m == nullptr && dot != std::string::npos && dot > 0)
    m = pwgMediaForPPD(name.substr(0, dot).c_str());  // "A4.Borderless"
  if (m == nullptr) {
    paperinit();
    const struct paper* p = paperinfo(name.c_str());
    if (p != nullptr) m = pwgMediaForSize(PWG_FROM_POINTS(paperpswidth(p)), PWG_FROM_POINTS(paperpsheight(p)));
    paperdone();
  }
  return m;
}

// The system's paper as libpaper answers it (PAPERSIZE, PAPERCONF,
// /etc/papersize, else its default); A4 when it names nothing it knows.
CupsMedia system_paper() {
  CupsMedia m;
  m.width = 21000;
  m.length = 29700;
  paperinit();
  char* name = systempapername();
  const struct paper* p = paperinfo(name != nullptr ? name : defaultpapername());
  if (p != nullptr && paperpswidth(p) > 0 && paperpsheight(p) > 0) {
    m.width = PWG_FROM_POINTS(paperpswidth(p));
    m.length = PWG_FROM_POINTS(paperpsheight(p));
  }
  std::free(name);
  paperdone();
  const pwg_media_t* known = pwgMediaForSize(m.width, m.length);
  if (known != nullptr) {
    m.name = known->pwg;
    m.width = known->width;
    m.length = known->length;
  }
  return m;
}

// Reads "qlm-print-<pid>-XXXXXX" (mkostemp's six characters): the process id.
bool print_file_pid(std::string_view name, pid_t& pid) {
  if (!name.starts_with(kPrintFilePrefix)) return false;
  name.remove_prefix(std::strlen(kPrintFilePrefix));
  const size_t dash = name.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash > 9 || name.size() - dash - 1 != 6) return false;
  int64_t value = 0;
  for (const char c : name.substr(0, dash)) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value <= 0) return false;
  pid = pid_t(value);
  return true;
}

// The temporary PDF of a CUPS job, sent with cupsPrintFile2 (or the seam)
// over a connection of its own.
class CupsSink final : public PdfSink {
 public:
  CupsSink(std::string queue, JobOptions options) : mQueue(std::move(queue)), mOptions(std::move(options)) {}
  ~CupsSink() override { discard(); }

  bool open() override {
    const char* dir = std::getenv("TMPDIR");
    const std::string folder = (dir != nullptr && dir[0] == '/') ? dir : "/tmp";
    // What a print killed halfway left there goes first, as the file
    // device's leftovers do; the name carries our process id for the next.
    cups_print_files_remove_stale(folder);
    std::string name = folder + "/" + kPrintFilePrefix + std::to_string(::getpid()) + "-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      reason = "the print file in " + name.substr(0, name.rfind('/')) + " cannot be created: " + std::strerror(err);
      return false;
    }
    temp = name;
    return true;
  }

  bool deliver(const std::string& title) override {
    if (!close_fd()) {
      reason = "the print file " + temp + " cannot be written: " + std::strerror(errno);
      return false;
    }
    std::string queue, instance;
    split_queue(mQueue, queue, instance);
    const SubmitFunction seam = seam_of(g_submit);
    if (seam) {
      if (seam(queue, temp, title, mOptions) > 0) return true;
      reason = "the print server refused the job for the printer " + mQueue;
      return false;
    }
    Connection c;
    if (c.http == nullptr) {
      reason = kNoServer;
      return false;
    }
    const int job = Send(c, queue, title);
    if (job > 0) return true;
    if (reason.empty()) {
      const char* text = cupsLastErrorString();
      reason = c.Broken() ? std::string(kNoServer) : "the print server refused the job for the printer " + mQueue;
      if (!c.Broken() && text != nullptr && text[0] != '\0') reason += std::string(": ") + text;
    }
    return false;
  }

 private:
  // Create-Job, the document, and its end, all on the one connection; the
  // job is cancelled when the document does not arrive whole. Answers the
  // job id, 0 on failure.
  int Send(Connection& c, const std::string& queue, const std::string& title) {
    const std::string uri = printer_uri(queue), resource = "/printers/" + queue;
    cups_option_t* options = nullptr;
    int count = 0;
    for (const auto& [n, v] : mOptions) count = cupsAddOption(n.c_str(), v.c_str(), count, &options);
    ipp_t* request = ippNewRequest(IPP_OP_CREATE_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    if (!title.empty()) ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
    cupsEncodeOptions2(request, count, options, IPP_TAG_OPERATION);
    cupsEncodeOptions2(request, count, options, IPP_TAG_JOB);
    cupsFreeOptions(count, options);
    ipp_t* response = cupsDoRequest(c.http, request, resource.c_str());
    ipp_attribute_t* id = response != nullptr ? ippFindAttribute(response, "job-id", IPP_TAG_INTEGER) : nullptr;
    const int job = id != nullptr ? ippGetInteger(id, 0) : 0;
    ippDelete(response);
    if (job <= 0) return 0;

    bool sent =
        cupsStartDocument(c.http, queue.c_str(), job, title.c_str(), CUPS_FORMAT_PDF, 1) == HTTP_STATUS_CONTINUE;
    const int in = sent ? ::open(temp.c_str(), O_RDONLY | O_CLOEXEC) : -1;
    sent = in >= 0;
    std::vector<char> buffer(size_t(1) << 16);
    while (sent) {
      const ssize_t n = ::read(in, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        sent = n == 0;
        break;
      }
      sent = cupsWriteRequestData(c.http, buffer.data(), size_t(n)) == HTTP_STATUS_CONTINUE;
    }
    if (in >= 0) ::close(in);
    const bool finished = cupsFinishDocument(c.http, queue.c_str()) <= IPP_STATUS_OK_EVENTS_COMPLETE;
    if (sent && finished) return job;
    if (!c.Broken()) cupsCancelJob2(c.http, queue.c_str(), job, 0);
    return 0;
  }

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
  bool settings_for_paper(const std::string& device, const std::string& media, int32_t width, int32_t length,
                          PrinterSettings& out) {
    CupsDestination d;
    if (!Find(device, true, d)) return false;
    auto paper = [](const auto& o) { return o.first == "media" || o.first == "PageSize" || o.first == "PageRegion"; };
    d.options.erase(std::remove_if(d.options.begin(), d.options.end(), paper), d.options.end());
    const pwg_media_t* chosen = paper_named(media);
    if (width > 0 && length > 0 &&
        (chosen == nullptr || std::abs(chosen->width - width) > 50 || std::abs(chosen->length - length) > 50))
      chosen = pwgMediaForSize(width, length);  // a name of the table, else "custom_<w>x<l>mm"
    // Copied at once: libcups answers a custom size in a buffer that the
    // next look-up reuses.
    const std::string pwg = chosen != nullptr ? chosen->pwg : "";
    if (!pwg.empty()) d.options.emplace_back("media", pwg);
    out = cups_destination_settings(device, d);
    // A size the server does not list still goes with the job by its PWG
    // name: left out, the server would print on its default paper.
    if (out.media.empty()) out.media = pwg;
    return true;
  }

  bool default_printer(DefaultPrinter& out) override {
    CupsDestination d;
    if (!Find("", false, d)) return false;
    out = DefaultPrinter();
    out.has_fields = true;
    out.id.device = d.name;
    if (!d.instance.empty()) out.id.device += "/" + d.instance;
    out.id.driver = "cups";
    const std::string* uri = option(d, "device-uri");
    out.id.port = uri != nullptr ? *uri : "";
    return true;
  }

  bool printer_settings(const std::string& device, PrinterSettings& out) override {
    CupsDestination d;
    if (!Find(device, true, d)) return false;
    out = cups_destination_settings(device, d);
    return true;
  }

  std::unique_ptr<Device> create_device(const PrinterId& printer, const PrinterSettings& settings) override {
    CupsDestination d;
    if (!Find(printer.device, false, d)) return nullptr;
    JobOptions options;
    for (auto& [n, v] : d.options)
      if (!is_printer_attribute(n)) options.emplace_back(n, v);
    return make_cups_device(printer.device, settings, std::move(options));
  }

  std::string failure() const override { return mFailure; }

 private:
  // Looks the destination up; on failure the reason is kept.
  bool Find(const std::string& name, bool capabilities, CupsDestination& d) {
    mFailure.clear();
    switch (lookup(name, capabilities, d)) {
      case CupsLookup::Found: return true;
      case CupsLookup::NoServer: mFailure = kNoServer; return false;
      case CupsLookup::NoDefault: {
        // An unknown PRINTER or LPDEST is what the user has to mend.
        const std::string wanted = default_destination_name();
        mFailure = wanted.empty() ? std::string("no printer is set up") : "the printer " + wanted + " does not exist";
        return false;
      }
      case CupsLookup::NotFound: break;
    }
    // The printer asked for; for the default, the one the user named, else
    // the one the server named as its default.
    std::string what = name.empty() ? default_destination_name() : name;
    if (what.empty() && !d.name.empty()) what = d.instance.empty() ? d.name : d.name + "/" + d.instance;
    mFailure =
        what.empty() ? std::string("the default printer does not exist") : "the printer " + what + " does not exist";
    return false;
  }

  std::string mFailure;
};

CupsBackend& the_cups_backend() {
  static CupsBackend backend;
  return backend;
}

}  // namespace

Backend& cups_backend() { return the_cups_backend(); }

bool cups_printer_settings_for_paper(const std::string& device, const std::string& media, PrinterSettings& out,
                                     int32_t width, int32_t length) {
  return the_cups_backend().settings_for_paper(device, media, width, length, out);
}

PrinterSettings cups_destination_settings(const std::string& device, const CupsDestination& d) {
  PrinterSettings s;
  s.device_name = device;
  s.device_name_given = true;

  int32_t copies = 1;
  if (parse_int(option(d, "copies"), copies) && copies >= 1) s.copies = copies;
  s.copies_given = true;
  const std::string* handling = option(d, "multiple-document-handling");
  const std::string* collate = option(d, "collate");
  s.collate = ((handling != nullptr && *handling == "separate-documents-uncollated-copies") ||
               (collate != nullptr && *collate == "false"))
                  ? 0
                  : 1;
  s.collate_given = true;
  const std::string* orientation = option(d, "orientation-requested");
  s.orientation = ((orientation != nullptr && *orientation == "4") || option(d, "landscape") != nullptr)
                      ? kOrientLandscape
                      : kOrientPortrait;
  s.orientation_given = true;
  const std::string* color = option(d, "print-color-mode");
  const std::string mode = color != nullptr ? *color : d.default_color;
  s.color = mode.find("monochrome") != std::string::npos ? kColorMonochrome : kColorColor;
  s.color_given = true;
  s.resolution = d.resolution;

  // The paper the user chose: "media" (which may list a source or type
  // beside the size: "Letter,tray-2"), else "PageSize".
  const pwg_media_t* chosen = nullptr;
  for (const char* name : {"media", "PageSize"}) {
    const std::string* value = option(d, name);
    if (value == nullptr) continue;
    size_t start = 0;
    while (chosen == nullptr && start <= value->size()) {
      const size_t comma = std::min(value->find(',', start), value->size());
      chosen = paper_named(value->substr(start, comma - start));
      start = comma + 1;
    }
    if (chosen != nullptr) break;
  }
  const CupsMedia* entry = chosen != nullptr ? listed(d, *chosen) : nullptr;
  if (entry != nullptr) {
    take_paper(*entry, true, s);
  } else if (chosen != nullptr) {
    // A size the server does not list: laid out as chosen, without margins
    // and without a media name of ours (the user's own option goes with the
    // job, as it would with lp).
    CupsMedia m;
    m.name = chosen->pwg;
    m.width = chosen->width;
    m.length = chosen->length;
    take_paper(m, false, s);
  } else if (d.has_default_media) {
    take_paper(d.default_media, true, s);
  } else {
    // A queue that names no size (a raw queue): the system's paper.
    take_paper(system_paper(), false, s);
  }
  return s;
}

JobOptions job_options(const PrinterSettings& s) {
  JobOptions o;
  // Copies travel as a 16-bit count.
  const int32_t copies = std::clamp<int32_t>(s.copies, 1, 32767);
  o.emplace_back("copies", std::to_string(copies));
  o.emplace_back("multiple-document-handling",
                 s.collate != 0 ? "separate-documents-collated-copies" : "separate-documents-uncollated-copies");
  if (!s.media.empty()) o.emplace_back("media", s.media);
  // Always named: the server gives a job without it the queue's default,
  // which need not be the colour the settings (and the dialog) show.
  o.emplace_back("print-color-mode", s.color == kColorMonochrome ? "monochrome" : "color");
  if (!s.sides.empty()) o.emplace_back("sides", s.sides);
  return o;
}

std::unique_ptr<Device> make_cups_device(const std::string& queue, const PrinterSettings& settings,
                                         JobOptions destination_options) {
  if (queue.empty()) return nullptr;
  // The settings decide copies, collation and colour, whatever the
  // destination's own options say, and the paper when they name one;
  // orientation is never sent, because the pages are already shaped for it.
  static const char* const kDecided[] = {"copies",           "multiple-document-handling", "collate",
                                         "print-color-mode", "orientation-requested",      "landscape"};
  static const char* const kPaper[] = {"media", "PageSize", "PageRegion"};
  JobOptions options;
  const JobOptions own = job_options(settings);
  for (auto& [n, v] : destination_options) {
    bool decided = false;
    for (const char* d : kDecided) decided = decided || n == d;
    if (!settings.media.empty())
      for (const char* d : kPaper) decided = decided || n == d;
    decided = decided || (!settings.sides.empty() && n == "sides");
    if (!decided) options.emplace_back(std::move(n), std::move(v));
  }
  options.insert(options.end(), own.begin(), own.end());
  return make_pdf_device(settings, std::make_unique<CupsSink>(queue, std::move(options)));
}

int32_t cups_print_files_remove_stale(const std::string& folder) {
  const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return 0;
  DIR* dir = ::fdopendir(dfd);
  if (dir == nullptr) {
    ::close(dfd);
    return 0;
  }
  int32_t removed = 0;
  const pid_t self = ::getpid();
  for (const dirent* e; (e = ::readdir(dir)) != nullptr;) {
    pid_t pid = 0;
    if (!print_file_pid(e->d_name, pid) || pid == self) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // its process still runs (or may)
    // Only a file of ours: the folder is shared with every user.
    struct stat st {};
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
      continue;
    if (::unlinkat(dfd, e->d_name, 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

void cups_set_submit_seam(SubmitFunction submit) {
  std::lock_guard<std::mutex> lock(g_seam_lock);
  g_submit = std::move(submit);
}

void cups_set_lookup_seam(LookupFunction lookup) {
  std::lock_guard<std::mutex> lock(g_seam_lock);
  g_lookup = std::move(lookup);
}

}  // namespace plat::print
