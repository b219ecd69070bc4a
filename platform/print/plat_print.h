// Printing on the host: the printers the system can find, their settings, and
// a device that takes page output as pixels.
//
// A Backend answers the default printer, the settings of a printer, makes a
// Device for a printer and runs the print dialog. A Device has the metrics of
// one sheet (resolution, sheet size, printable corner and size, all in device
// pixels) and takes a document page by page as rectangles of 32-bit pixels.
//
// This library holds the interface, the page arithmetic, the process-wide
// backend and the recording fake; it needs nothing beyond the C++ library, so
// code that only may print links it without cairo or CUPS. The CUPS and file
// backends live in print/host (library plat_print_host).
//
// Every call answers failure by false or nil; nothing raises.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace plat::print {

// The three names of a printer as the profile value "device,driver,port"
// gives them: the printer (for CUPS its queue, "queue/instance" for an
// instance), its driver ("cups") and its port (the device address).
struct PrinterId {
  std::string device;
  std::string driver;
  std::string port;
};

// The default printer as a backend knows it: the three names, or, when
// `has_fields` is false, the profile value that the caller splits at commas.
struct DefaultPrinter {
  bool has_fields = false;
  PrinterId id;
  std::string profile;
};

// Unprintable margins of the sheet in hundredths of a millimetre, for the
// portrait sheet.
struct Margins {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

constexpr int16_t kOrientPortrait = 1;
constexpr int16_t kOrientLandscape = 2;
constexpr int16_t kColorMonochrome = 1;
constexpr int16_t kColorColor = 2;
constexpr int16_t kPaperLetter = 1;
constexpr int16_t kPaperA4 = 9;
constexpr int16_t kPaperUser = 256;  // a size without a code of its own

// The paper code of a PWG media name ("iso_a4_210x297mm" 9), kPaperUser for
// a size without a code of its own; and the other way round, "" for a code
// without a size.
int16_t paper_code_of(const std::string& pwg);
std::string pwg_of_paper_code(int16_t code);

// A printer's settings record: the fields the system reads and writes, each
// with a flag that says whether the record gives it, plus what the host
// knows beyond the record (media name, margins, resolution).
struct PrinterSettings {
  std::string device_name;
  bool device_name_given = false;
  int32_t copies = 1;
  bool copies_given = false;
  int16_t collate = 1;  // 1 collated, 0 not
  bool collate_given = false;
  int16_t orientation = kOrientPortrait;
  bool orientation_given = false;
  std::string form_name;
  bool form_name_given = false;
  int16_t color = kColorColor;
  bool color_given = false;
  int16_t paper_size = kPaperA4;
  bool paper_size_given = false;
  int32_t paper_width = 2100;  // tenths of a millimetre, portrait
  bool paper_width_given = false;
  int32_t paper_length = 2970;
  bool paper_length_given = false;

  // Host side: the media's PWG name ("iso_a4_210x297mm", empty when not
  // known), its margins, and the printer's default resolution in dots per
  // inch (0 when not known).
  std::string media;
  Margins margins;
  int32_t resolution = 0;
  // The job's two-sided printing as the dialog showed it ("one-sided",
  // "two-sided-long-edge", "two-sided-short-edge"); empty leaves it to the
  // printer's own options.
  std::string sides;
};

// The metrics of one sheet in device pixels, and the sheet in points.
struct DeviceCaps {
  int32_t dpi_x = 0;
  int32_t dpi_y = 0;
  int32_t physical_width = 0;
  int32_t physical_height = 0;
  int32_t offset_x = 0;  // the printable corner: the left and top margins
  int32_t offset_y = 0;
  int32_t printable_width = 0;
  int32_t printable_height = 0;
  double sheet_width_pt = 0;
  double sheet_height_pt = 0;
};

// The highest resolution a device takes, and the one used when the printer
// names none. A page is printed as one bitmap of the whole sheet: at 300 dpi
// an A4 sheet is 2480 x 3508 pixels (26 MB in 24 bits), at 600 dpi four
// times as much.
constexpr int32_t kMaxDpi = 300;
// The largest sheet side taken, in tenths of a millimetre (10 m); sizes
// beyond are cut to it, sizes of 0 or below give A4.
constexpr int32_t kMaxPaperSide = 100000;

// The sheet's metrics at the settings' paper size and orientation, the
// settings' resolution (capped at kMaxDpi, kMaxDpi when unknown) and margins:
// sizes are round(mm / 25.4 x dpi), ties to even; width and height (and the
// margins) are turned for landscape, the landscape sheet's top being the
// portrait sheet's left edge; margins below 0 count as 0, and margins that
// leave no printable area give a printable size of 0.
DeviceCaps compute_caps(const PrinterSettings& settings);

// One device context: a sheet's metrics and a document's pages.
//
// States: idle, document started, page started. start_doc (idle), start_page
// (document), end_page (page) and end_doc (document) move between them and
// answer false without a change from any other state. A failed end_doc
// leaves the device idle with the job dropped. abort drops a started job in
// any state. Destroying a device with a started job drops it.
class Device {
 public:
  virtual ~Device() = default;
  Device() = default;
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  virtual DeviceCaps caps() const = 0;
  virtual bool start_doc(const std::string& title) = 0;
  virtual bool start_page() = 0;
  virtual bool end_page() = 0;
  virtual bool end_doc() = 0;
  virtual void abort() = 0;
  // Writes row `row` (0 at the top) of a rectangle being drawn as its w
  // 32-bit words 0x00RRGGBB in host byte order (the top byte is not read).
  using RowSource = std::function<void(int32_t row, uint32_t* out)>;
  // Draws w x h pixels with their top-left corner at (x, y) of the printable
  // area (device pixels), asking `source` for each row once, top to bottom,
  // into a buffer of the device: no copy of the whole rectangle is made.
  // Only on a started page; false for an empty rectangle or no source.
  virtual bool draw_rows(int32_t x, int32_t y, int32_t w, int32_t h, const RowSource& source) = 0;
  // draw_rows over `rows`: h rows `stride` bytes apart, each of w words as
  // above; false also for a nil pointer or a stride below 4 x w.
  bool blit_xrgb(int32_t x, int32_t y, int32_t w, int32_t h, const uint8_t* rows, int64_t stride);
  // Why the last call that failed failed, in words for the user ("the file
  // ... cannot be written: No space left on device"); empty when not known.
  virtual std::string failure() const { return {}; }
};

// What the print dialog starts from: the settings to show (each given field
// pre-filled; none at all without `has_settings`, when the dialog starts from
// the default printer) and whether only the set-up is asked.
struct DialogRequest {
  bool has_settings = false;
  PrinterSettings settings;
  bool setup_only = false;
  uint16_t copies = 1;
  uint16_t from_page = 0xFFFF;
  uint16_t to_page = 0xFFFF;
  uint16_t min_page = 1;
  uint16_t max_page = 0xFFFF;
};

// What a confirmed dialog hands back: the chosen printer's settings, its
// device, and the copies and page range the user set.
struct DialogResult {
  PrinterSettings settings;
  std::unique_ptr<Device> device;
  uint16_t copies = 1;
  uint16_t from_page = 0xFFFF;
  uint16_t to_page = 0xFFFF;
};

class Backend {
 public:
  virtual ~Backend() = default;
  Backend() = default;
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  // The default printer; false when none is configured.
  virtual bool default_printer(DefaultPrinter& out) = 0;
  // The current settings of the printer named `device`; false when there is
  // no such printer.
  virtual bool printer_settings(const std::string& device, PrinterSettings& out) = 0;
  // A device for the printer with the settings; nil when it cannot be made.
  virtual std::unique_ptr<Device> create_device(const PrinterId& printer, const PrinterSettings& settings) = 0;
  // Shows the print dialog; true when the user confirmed and `out` holds a
  // device. This default has no dialog and answers false.
  virtual bool run_dialog(const DialogRequest& request, DialogResult& out);
  // Why the last call that failed failed, in words for the user ("no
  // printer is set up", "the print server does not answer", "the printer
  // Office does not exist"); empty when not known.
  virtual std::string failure() const { return {}; }
};

// The process-wide backend that printer device contexts use. Until a program
// installs one it is a backend without printers (no default printer, no
// settings, no device, no dialog). `set_backend(nullptr)` goes back to it.
// The backend installed must outlive its use; window thread only.
Backend& backend();
void set_backend(Backend* backend);

}  // namespace plat::print
