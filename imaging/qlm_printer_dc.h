// cPrinterDC: one printer device context. It finds the default printer,
// offers the print dialog, keeps the chosen settings (copies, collation,
// orientation, paper, colour), reads the page metrics of the device, tracks
// the document and page states, and prints cBitmap pixels onto the page.
//
// The printers come from the process-wide print backend
// (plat::print::backend(), platform/print/plat_print.h) unless one is given
// at construction. Metrics are device pixels; the device's origin is the
// corner of the printable area, whose offsets are the unprintable margins.
//
// States: 0 no device context, 1 ready, 2 document started, 3 page started.
// Nothing here raises: the operations answer false and keep the state when
// the device refuses, and drawing does nothing when its conditions are not
// met. Why printing cannot start or go on ("no printer is set up", "the
// print server does not answer", "the printer Office does not exist", a
// file that cannot be written) is appended to the object's exception log
// (code errRunTime, the reason as its text), for the dialogs to show:
// LastErrorText(). Window thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "plat_print.h"
#include "qlm_base_object.h"
#include "qlm_base_util.h"

class cBitmap;

// The print-dialog record kept between dialogs: the current device context,
// the dialog's flags, copies and page range.
struct rPrintDialog {
  std::unique_ptr<plat::print::Device> dc;
  uint32_t flags = 0;
  uint16_t copies = 0;
  uint16_t from_page = 0;
  uint16_t to_page = 0;
  uint16_t min_page = 0;
  uint16_t max_page = 0;
};

// Dialog flags: return a device context, take copies and collation from the
// settings, show only the set-up.
constexpr uint32_t cnPDReturnDC = 0x100;
constexpr uint32_t cnPDUseDevModeCopiesAndCollate = 0x40000;
constexpr uint32_t cnPDPrintSetup = 0x40;

class cPrinterDC : public cException {
 public:
  // Construct: Reset, then Select with the default printer; a failed
  // selection leaves the defaults and state 0. A nil backend means the
  // process-wide one; a given backend must outlive the object.
  explicit cPrinterDC(plat::print::Backend* backend = nullptr);
  // Destroy: Release.
  ~cPrinterDC() override;

  uint8_t State() const { return mState; }

  // Shows the print dialog pre-filled from the current settings; true when
  // the user confirmed and the new device context is in place (state 1).
  // Refused (false, no dialog) while a document is open.
  bool PrintDialog(bool setup_only);
  // Opens the printer of the device name (after reading the default printer
  // when asked) and makes its device context; a failure runs Release and
  // Reset and answers false.
  bool Select(bool use_default);

  bool StartDoc(const std::string& name);  // 1 -> 2
  bool EndDoc();                           // 2 or 3 -> 1, ending an open page first
  bool StartPage();                        // 2 -> 3
  bool EndPage();                          // 3 -> 2

  // Draws the whole bitmap with its top-left corner at (x, y) of the
  // printable area; DrawBitmapPart draws width x height pixels from (source
  // x, source y). Only in state 3, for an opened bitmap in one of the 24-bit
  // or 32-bit byte orders; the part is clipped to the bitmap and the
  // printable area. True when pixels went to the device.
  bool DrawBitmap(cBitmap* bitmap, int32_t x, int32_t y);
  bool DrawBitmapPart(cBitmap* bitmap, int32_t x, int32_t y, int32_t source_x, int32_t source_y, int32_t width,
                      int32_t height);

  // The sheet in device pixels; without a device context (state 0) the
  // paper size in tenths of a millimetre (A4 2100 x 2970 by default).
  int32_t PhysicalWidth() const;
  int32_t PhysicalHeight() const;
  int32_t DpiX() const { return mDpiX; }
  int32_t DpiY() const { return mDpiY; }
  // y1 top offset, x1 left offset, x2 = x1 + printable width, y2 = y1 +
  // printable height, device pixels.
  const rRect& PrintableArea() const { return mPrintableArea; }
  const std::string& PrinterName() const { return mDeviceName; }
  const std::string& FormName() const { return mFormName; }
  bool Landscape() const { return mLandscape; }

  // The defaults: state 0, A4 portrait, one collated copy in colour, no
  // names, metrics 0.
  void Reset();
  // Ends an open document (which sends what was printed) and deletes the
  // device context; state 0.
  void Release();

  // Internal steps, public for the dialog and for tests.
  // Clears the three names and reads them from the default printer; false
  // when there is none.
  bool ReadDefaultPrinter();
  void ReadDeviceCaps(const plat::print::Device& dc);
  void ReadDevMode(const plat::print::PrinterSettings& settings);

 private:
  friend struct cPrinterDCProbe;  // tests read the fields without accessors

  // The settings handed to the dialog: the printer's own when it opens, else
  // a blank record with the device name; the current choices marked given.
  plat::print::PrinterSettings DialogSettings();
  plat::print::Backend& Host() const;
  void ResetDialogRecord();
  // Appends the reason to the log: `reason`, or `fallback` when it is empty.
  void Fail(const std::string& reason, const std::string& fallback);

  plat::print::Backend* mBackend = nullptr;
  rPrintDialog mPrintDialog;
  uint8_t mState = 0;
  std::string mDriverName;
  std::string mDeviceName;
  std::string mPortName;
  std::string mFormName;
  bool mColour = true;
  int16_t mPaperSize = 9;
  int32_t mPaperWidth = 2100;
  int32_t mPaperLength = 2970;
  int32_t mPrintableWidth = 0;
  int32_t mPrintableHeight = 0;
  int32_t mDpiX = 0;
  int32_t mDpiY = 0;
  int32_t mPhysicalWidth = 0;
  int32_t mPhysicalHeight = 0;
  uint32_t mCopies = 1;
  bool mLandscape = false;
  bool mCollate = true;
  rRect mPrintableArea;
  // Why the last selection found no printer; StartDoc in state 0 logs it.
  std::string mNoPrinter;
};
