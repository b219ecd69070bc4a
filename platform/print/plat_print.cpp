#include "plat_print.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string_view>

namespace plat::print {

namespace {

// The backend of a host without printers.
class NoPrinters final : public Backend {
 public:
  bool default_printer(DefaultPrinter&) override { return false; }
  bool printer_settings(const std::string&, PrinterSettings&) override { return false; }
  std::unique_ptr<Device> create_device(const PrinterId&, const PrinterSettings&) override { return nullptr; }
};

NoPrinters g_no_printers;
std::atomic<Backend*> g_backend{nullptr};

// round(v), ties to even, as a 32-bit value; v stays far inside the range
// because sides and resolutions are capped.
int32_t round_to_int(double v) { return int32_t(std::nearbyint(v)); }

// The common sizes that have a paper code of their own.
constexpr struct {
  int16_t code;
  const char* pwg;
} kPaperCodes[] = {
    {1, "na_letter_8.5x11in"},        {3, "na_ledger_11x17in"}, {5, "na_legal_8.5x14in"},
    {7, "na_executive_7.25x10.5in"},  {8, "iso_a3_297x420mm"},  {9, "iso_a4_210x297mm"},
    {11, "iso_a5_148x210mm"},         {12, "jis_b4_257x364mm"}, {13, "jis_b5_182x257mm"},
    {20, "na_number-10_4.125x9.5in"}, {27, "iso_dl_110x220mm"}, {28, "iso_c5_162x229mm"},
    {34, "iso_b5_176x250mm"},         {70, "iso_a6_105x148mm"},
};

}  // namespace

int16_t paper_code_of(const std::string& pwg) {
  // By the name up to its size: "na_letter" (GTK's spelling) and
  // "na_letter_" with any size after it.
  for (const auto& c : kPaperCodes) {
    const std::string_view name(c.pwg);
    const std::string_view base = name.substr(0, name.rfind('_'));
    if (pwg == base ||
        (pwg.size() > base.size() + 1 && pwg.compare(0, base.size() + 1, name.substr(0, base.size() + 1)) == 0))
      return c.code;
  }
  return kPaperUser;
}

std::string pwg_of_paper_code(int16_t code) {
  for (const auto& c : kPaperCodes)
    if (c.code == code) return c.pwg;
  return {};
}

bool Backend::run_dialog(const DialogRequest&, DialogResult&) { return false; }

bool Device::blit_xrgb(int32_t x, int32_t y, int32_t w, int32_t h, const uint8_t* rows, int64_t stride) {
  if (w <= 0 || h <= 0 || rows == nullptr || stride < int64_t(w) * 4) return false;
  return draw_rows(x, y, w, h, [rows, stride, w](int32_t r, uint32_t* out) {
    std::memcpy(out, rows + int64_t(r) * stride, size_t(w) * 4);
  });
}

Backend& backend() {
  Backend* b = g_backend.load();
  return b != nullptr ? *b : g_no_printers;
}

void set_backend(Backend* b) { g_backend.store(b); }

DeviceCaps compute_caps(const PrinterSettings& s) {
  DeviceCaps c;
  const int32_t dpi = (s.resolution > 0 && s.resolution <= kMaxDpi) ? s.resolution : kMaxDpi;
  c.dpi_x = c.dpi_y = dpi;

  // A size of 0 or below on either side means the record has no usable size.
  int32_t w = s.paper_width, h = s.paper_length;
  if (w <= 0 || h <= 0) w = 2100, h = 2970;
  w = std::min(w, kMaxPaperSide);
  h = std::min(h, kMaxPaperSide);
  auto margin = [](int32_t m) { return std::clamp(m, 0, kMaxPaperSide * 10); };
  int32_t left = margin(s.margins.left), top = margin(s.margins.top);
  int32_t right = margin(s.margins.right), bottom = margin(s.margins.bottom);
  if (s.orientation == kOrientLandscape) {
    std::swap(w, h);
    // The landscape sheet's top is the portrait sheet's left edge, its left
    // the portrait bottom.
    const int32_t l = bottom, t = left, r = top, b = right;
    left = l, top = t, right = r, bottom = b;
  }

  // Tenths of a millimetre to pixels: / 254 x dpi; hundredths: / 2540 x dpi.
  c.physical_width = round_to_int(double(w) * dpi / 254.0);
  c.physical_height = round_to_int(double(h) * dpi / 254.0);
  const int32_t ox = round_to_int(double(left) * dpi / 2540.0);
  const int32_t oy = round_to_int(double(top) * dpi / 2540.0);
  const int32_t ex = round_to_int(double(right) * dpi / 2540.0);
  const int32_t ey = round_to_int(double(bottom) * dpi / 2540.0);
  c.offset_x = std::min(ox, c.physical_width);
  c.offset_y = std::min(oy, c.physical_height);
  c.printable_width = std::max(0, c.physical_width - c.offset_x - ex);
  c.printable_height = std::max(0, c.physical_height - c.offset_y - ey);
  c.sheet_width_pt = double(w) * 72.0 / 254.0;
  c.sheet_height_pt = double(h) * 72.0 / 254.0;
  return c;
}

}  // namespace plat::print
