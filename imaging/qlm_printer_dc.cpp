#include "qlm_printer_dc.h"

#include <algorithm>

#include "qlm_bitmap.h"
#include "qlm_bitmap_internal.h"

namespace pp = plat::print;

cPrinterDC::cPrinterDC(pp::Backend* backend) : mBackend(backend) {
  Reset();
  Select(true);
}

cPrinterDC::~cPrinterDC() {
  try {
    Release();
  } catch (...) {
  }
}

pp::Backend& cPrinterDC::Host() const { return mBackend != nullptr ? *mBackend : pp::backend(); }

namespace {
constexpr const char* kNoPrinter = "no printer is set up";
}

void cPrinterDC::Fail(const std::string& reason, const std::string& fallback) {
  try {
    const exError error(errRunTime, &qlm_base_exception_string, reason.empty() ? fallback : reason,
                        rCodeAddress::From(std::source_location::current()));
    exception_log_append(std::make_exception_ptr(error), this);
  } catch (...) {
    // The row is lost.
  }
}

void cPrinterDC::Reset() {
  mPrintDialog = rPrintDialog();
  mState = 0;
  mPaperWidth = 2100;
  mPaperLength = 2970;
  mPrintableWidth = mPrintableHeight = 0;
  mDpiX = mDpiY = 0;
  mPhysicalWidth = mPhysicalHeight = 0;
  mCopies = 1;
  mLandscape = false;
  mCollate = true;
  mPrintableArea = rRect();
  mDriverName.clear();
  mDeviceName.clear();
  mPortName.clear();
  mFormName.clear();
  mColour = true;
  mPaperSize = 9;
}

void cPrinterDC::Release() {
  if (mState == 2 || mState == 3) EndDoc();
  if (mState >= 1 && mState <= 3) mPrintDialog.dc.reset();
  mState = 0;
}

void cPrinterDC::ResetDialogRecord() {
  mPrintDialog = rPrintDialog();
  mPrintDialog.flags = cnPDUseDevModeCopiesAndCollate;
  mPrintDialog.copies = uint16_t(mCopies);
  mPrintDialog.from_page = 0xFFFF;
  mPrintDialog.to_page = 0xFFFF;
  mPrintDialog.min_page = 1;
  mPrintDialog.max_page = 0xFFFF;
}

bool cPrinterDC::ReadDefaultPrinter() {
  mDriverName.clear();
  mDeviceName.clear();
  mPortName.clear();
  pp::DefaultPrinter found;
  if (!Host().default_printer(found)) return false;
  if (found.has_fields) {
    // Names are kept whole: a name cut short would select another printer.
    mDeviceName = found.id.device;
    mDriverName = found.id.driver;
    mPortName = found.id.port;
    return true;
  }
  // The profile form "device,driver,port": anything after a third comma is
  // ignored.
  const std::string& value = found.profile;
  if (value.empty()) return false;
  std::string* parts[3] = {&mDeviceName, &mDriverName, &mPortName};
  size_t start = 0;
  for (std::string* part : parts) {
    const size_t comma = value.find(',', start);
    *part = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

void cPrinterDC::ReadDeviceCaps(const pp::Device& dc) {
  const pp::DeviceCaps caps = dc.caps();
  mDpiX = caps.dpi_x;
  mDpiY = caps.dpi_y;
  mPrintableWidth = caps.printable_width;
  mPrintableHeight = caps.printable_height;
  mPhysicalWidth = caps.physical_width;
  mPhysicalHeight = caps.physical_height;
  mPrintableArea.y1 = caps.offset_y;
  mPrintableArea.x1 = caps.offset_x;
  mPrintableArea.x2 = caps.offset_x + caps.printable_width;
  mPrintableArea.y2 = caps.offset_y + caps.printable_height;
}

void cPrinterDC::ReadDevMode(const pp::PrinterSettings& s) {
  mDeviceName = s.device_name;
  mCopies = s.copies_given ? uint32_t(s.copies) : 1;
  mCollate = !(s.collate_given && s.collate != 1);
  mLandscape = s.orientation_given && s.orientation == pp::kOrientLandscape;
  mPaperWidth = s.paper_width_given ? s.paper_width : 2100;
  mPaperLength = s.paper_length_given ? s.paper_length : 2970;
  mFormName = s.form_name_given ? s.form_name : std::string();
  mColour = !(s.color_given && s.color != pp::kColorColor);
  if (s.paper_size_given) mPaperSize = s.paper_size;
}

bool cPrinterDC::Select(bool use_default) {
  std::string reason;
  bool logged = false;
  try {
    if (use_default && !ReadDefaultPrinter()) reason = Host().failure();
    pp::PrinterSettings settings;
    if (mDeviceName.empty()) {
      if (reason.empty()) reason = kNoPrinter;
    } else if (!Host().printer_settings(mDeviceName, settings)) {
      reason = Host().failure();
      if (reason.empty()) reason = "the printer " + mDeviceName + " does not exist";
    } else {
      if (!use_default) {
        // Copies are a 16-bit count in the settings record.
        settings.copies = int32_t(mCopies & 0xFFFF);
        settings.copies_given = true;
      }
      pp::PrinterId id;
      id.device = mDeviceName;
      id.driver = mDriverName;
      id.port = mPortName;
      std::unique_ptr<pp::Device> dc = Host().create_device(id, settings);
      if (dc) {
        Release();
        ReadDeviceCaps(*dc);
        ReadDevMode(settings);
        ResetDialogRecord();
        mPrintDialog.dc = std::move(dc);
        mState = 1;
        mNoPrinter.clear();
        return true;
      }
      reason = Host().failure();
      if (reason.empty()) reason = "the printer " + mDeviceName + " cannot be used";
    }
  } catch (...) {
    exception_log_append(std::current_exception(), this);
    reason = LastErrorText();
    logged = true;
  }
  try {
    Release();
  } catch (...) {
  }
  Reset();
  mNoPrinter = reason.empty() ? kNoPrinter : reason;
  if (!logged) Fail(mNoPrinter, kNoPrinter);
  return false;
}

pp::PrinterSettings cPrinterDC::DialogSettings() {
  pp::PrinterSettings s;
  if (!Host().printer_settings(mDeviceName, s)) {
    s = pp::PrinterSettings();
    s.device_name = mDeviceName;
    s.device_name_given = true;
  }
  s.copies = int32_t(mCopies & 0xFFFF);
  s.copies_given = true;
  s.collate = mCollate ? 1 : 0;
  s.collate_given = true;
  s.orientation = mLandscape ? pp::kOrientLandscape : pp::kOrientPortrait;
  s.orientation_given = true;
  if (!mFormName.empty()) {
    s.form_name = mFormName;
    s.form_name_given = true;
  }
  s.color = mColour ? pp::kColorColor : pp::kColorMonochrome;
  s.color_given = true;
  s.paper_size = mPaperSize;
  s.paper_size_given = true;
  return s;
}

bool cPrinterDC::PrintDialog(bool setup_only) {
  if (mState == 2 || mState == 3) return false;
  try {
    pp::DialogRequest request;
    // Without a printer name the dialog starts from the default printer and
    // has no settings to show, so it cannot be the set-up alone.
    request.has_settings = !mDeviceName.empty();
    if (request.has_settings) request.settings = DialogSettings();
    request.setup_only = setup_only && request.has_settings;
    request.copies = uint16_t(mCopies);
    pp::DialogResult result;
    if (!Host().run_dialog(request, result) || !result.device) return false;
    ReadDeviceCaps(*result.device);
    ReadDevMode(result.settings);
    mPrintDialog.dc.reset();
    mPrintDialog = rPrintDialog();
    mPrintDialog.flags = cnPDReturnDC | cnPDUseDevModeCopiesAndCollate | (request.setup_only ? cnPDPrintSetup : 0);
    mPrintDialog.copies = result.copies;
    mPrintDialog.from_page = result.from_page;
    mPrintDialog.to_page = result.to_page;
    mPrintDialog.min_page = 1;
    mPrintDialog.max_page = 0xFFFF;
    mPrintDialog.dc = std::move(result.device);
    mState = 1;
    return true;
  } catch (...) {
    return false;
  }
}

bool cPrinterDC::StartDoc(const std::string& name) {
  if (mState == 0) Fail(mNoPrinter, kNoPrinter);
  if (mState != 1 || !mPrintDialog.dc) return false;
  if (!mPrintDialog.dc->start_doc(name)) {
    Fail(mPrintDialog.dc->failure(), "the print job could not be started");
    return false;
  }
  mState = 2;
  return true;
}

bool cPrinterDC::StartPage() {
  if (mState != 2 || !mPrintDialog.dc) return false;
  if (!mPrintDialog.dc->start_page()) {
    Fail(mPrintDialog.dc->failure(), "the page could not be started");
    return false;
  }
  mState = 3;
  return true;
}

bool cPrinterDC::EndPage() {
  if (mState != 3 || !mPrintDialog.dc) return false;
  if (!mPrintDialog.dc->end_page()) {
    Fail(mPrintDialog.dc->failure(), "the page could not be ended");
    return false;
  }
  mState = 2;
  return true;
}

bool cPrinterDC::EndDoc() {
  if ((mState != 2 && mState != 3) || !mPrintDialog.dc) return false;
  pp::Device& dc = *mPrintDialog.dc;
  bool ok = true;
  if (mState == 3) ok = dc.end_page();
  ok = ok && dc.end_doc();
  // A document that could not be ended is dropped: staying in state 2 or 3
  // would refuse the dialog and every later print pass.
  if (!ok) {
    Fail(dc.failure(), "the document could not be printed");
    dc.abort();
  }
  mState = 1;
  return ok;
}

bool cPrinterDC::DrawBitmap(cBitmap* bitmap, int32_t x, int32_t y) {
  if (bitmap == nullptr) return false;
  return DrawBitmapPart(bitmap, x, y, 0, 0, bitmap->Width(), bitmap->Height());
}

bool cPrinterDC::DrawBitmapPart(cBitmap* bitmap, int32_t x, int32_t y, int32_t source_x, int32_t source_y,
                                int32_t width, int32_t height) {
  if (mState != 3 || !mPrintDialog.dc || bitmap == nullptr || !bitmap->IsOpened() || bitmap->Order() == nullptr)
    return false;
  const uint8_t format = bitmap->PixelFormat();
  if (format != px24RGB && format != px24BGR && format != px32RGBA && format != px32BGRA && format != px32ARGB &&
      format != px32ABGR)
    return false;

  // A negative source start is refused: only the target position is
  // clipped into the printable area.
  bitmap_detail::rBlitPart part{x, y, source_x, source_y, width, height};
  if (!bitmap_detail::blit_clip(part, mPrintableWidth, mPrintableHeight, bitmap->Width(), bitmap->Height(), false))
    return false;
  const auto [dx, dy, sx, sy, w, h] = part;

  try {
    // Every drawable order becomes the device's 0x00RRGGBB words, row by
    // row with the bitmap's own stride, as the device asks for each row: no
    // copy of the part is made. Alpha is the paper's white showing through:
    // an opaque pixel prints as it is, a transparent one as white.
    const rChannelOrder order = *bitmap->Order();
    const bool alpha = bitmap->HasAlpha();
    const int64_t bpp = bitmap->BytesPerPixel(), stride = bitmap->Stride();
    const uint8_t* first = bitmap->Data() + sy * stride + sx * bpp;
    auto row = [&](int32_t r, uint32_t* dst) {
      const uint8_t* src = first + r * stride;
      for (int64_t c = 0; c < w; ++c, src += bpp) {
        uint32_t red = src[order.red], green = src[order.green], blue = src[order.blue];
        if (alpha) {
          const uint32_t a = src[order.alpha], white = 255 * (255 - a) + 127;
          red = (red * a + white) / 255;
          green = (green * a + white) / 255;
          blue = (blue * a + white) / 255;
        }
        dst[c] = red << 16 | green << 8 | blue;
      }
    };
    if (!mPrintDialog.dc->draw_rows(int32_t(dx), int32_t(dy), int32_t(w), int32_t(h), row)) {
      Fail(mPrintDialog.dc->failure(), "the page could not be drawn");
      return false;
    }
    return true;
  } catch (...) {
    return false;
  }
}

int32_t cPrinterDC::PhysicalWidth() const {
  if (mState == 0) return mLandscape ? mPaperLength : mPaperWidth;
  return mPhysicalWidth;
}

int32_t cPrinterDC::PhysicalHeight() const {
  if (mState == 0) return mLandscape ? mPaperWidth : mPaperLength;
  return mPhysicalHeight;
}
