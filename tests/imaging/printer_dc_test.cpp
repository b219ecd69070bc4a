// cPrinterDC over the recording backend: default printer and settings,
// refused and failing state changes, the dialog's part, and bitmap output
// with its clipping and channel orders.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "bitmap_builders.h"
#include "plat_print_fake.h"
#include "qlm_bitmap.h"
#include "qlm_printer_dc.h"

namespace pp = plat::print;

// Reads the fields that have no accessor.
struct cPrinterDCProbe {
  const cPrinterDC& dc;
  uint32_t Copies() const { return dc.mCopies; }
  bool Colour() const { return dc.mColour; }
  bool Collate() const { return dc.mCollate; }
  int16_t PaperSize() const { return dc.mPaperSize; }
  const std::string& Driver() const { return dc.mDriverName; }
  const std::string& Port() const { return dc.mPortName; }
};

namespace {

using testenv::make_bitmap;

// A small sheet: 200 x 300 pixels at 100 dpi, printable corner at (10, 20),
// printable area 170 x 250.
pp::DeviceCaps small_caps() {
  pp::DeviceCaps c;
  c.dpi_x = c.dpi_y = 100;
  c.physical_width = 200;
  c.physical_height = 300;
  c.offset_x = 10;
  c.offset_y = 20;
  c.printable_width = 170;
  c.printable_height = 250;
  return c;
}

pp::PrinterSettings named(const std::string& name) {
  pp::PrinterSettings s;
  s.device_name = name;
  s.device_name_given = true;
  return s;
}

class PrinterDCTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qlm_bitmap_start();
    fake.caps = small_caps();
    fake.printers["Office"] = named("Office");
    pp::DefaultPrinter d;
    d.has_fields = true;
    d.id = {"Office", "cups", "ipp://office/"};
    fake.default_answer = d;
  }
  // A device context in state 1, 2 or 3.
  std::unique_ptr<cPrinterDC> InState(uint8_t state) {
    auto dc = std::make_unique<cPrinterDC>(&fake);
    EXPECT_EQ(dc->State(), 1);
    if (state >= 2) {
      EXPECT_TRUE(dc->StartDoc("Doc"));
    }
    if (state >= 3) {
      EXPECT_TRUE(dc->StartPage());
    }
    return dc;
  }
  pp::FakeBackend fake;
};

void expect_defaults(const cPrinterDC& dc) {
  cPrinterDCProbe p{dc};
  EXPECT_EQ(dc.State(), 0);
  EXPECT_EQ(dc.PrinterName(), "");
  EXPECT_EQ(dc.FormName(), "");
  EXPECT_EQ(dc.PhysicalWidth(), 2100);
  EXPECT_EQ(dc.PhysicalHeight(), 2970);
  EXPECT_EQ(dc.DpiX(), 0);
  EXPECT_EQ(dc.DpiY(), 0);
  EXPECT_EQ(dc.PrintableArea(), rRect());
  EXPECT_FALSE(dc.Landscape());
  EXPECT_EQ(p.Copies(), 1u);
  EXPECT_TRUE(p.Colour());
  EXPECT_TRUE(p.Collate());
  EXPECT_EQ(p.PaperSize(), 9);
}

TEST_F(PrinterDCTest, WithoutPrinterTheDefaultsStayAndThePaperIsA4) {
  {
    SCOPED_TRACE("no backend installed");
    cPrinterDC dc;
    expect_defaults(dc);
    EXPECT_EQ(dc.LastErrorText(), "no printer is set up");
  }
  {
    SCOPED_TRACE("no default printer");
    fake.default_answer.reset();
    cPrinterDC dc(&fake);
    expect_defaults(dc);
  }
  {
    SCOPED_TRACE("the default printer refuses a device");
    fake.default_answer = pp::DefaultPrinter{true, {"Office", "cups", ""}, ""};
    fake.refuse_device = true;
    cPrinterDC dc(&fake);
    expect_defaults(dc);
    EXPECT_EQ(cPrinterDCProbe{dc}.Driver(), "");
    EXPECT_EQ(dc.LastErrorText(), "the printer Office cannot be used");
    fake.failure_text = "the printer Office is out of paper";
    EXPECT_FALSE(dc.Select(true));
    EXPECT_EQ(dc.LastErrorText(), "the printer Office is out of paper");
  }
}

TEST_F(PrinterDCTest, ProfileValueSplitsAtCommas) {
  struct Case {
    const char* profile;
    const char* device;
    const char* driver;
    const char* port;
  } cases[] = {
      {"Printer1,winspool,LPT1:", "Printer1", "winspool", "LPT1:"},
      {"Printer1", "Printer1", "", ""},
      {"Printer1,winspool,LPT1:,extra,more", "Printer1", "winspool", "LPT1:"},
      {"Printer1,,", "Printer1", "", ""},
  };
  fake.printers["Printer1"] = named("Printer1");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.profile);
    fake.default_answer = pp::DefaultPrinter{false, {}, c.profile};
    cPrinterDC dc(&fake);
    cPrinterDCProbe p{dc};
    EXPECT_EQ(dc.State(), 1);
    EXPECT_EQ(dc.PrinterName(), c.device);
    EXPECT_EQ(p.Driver(), c.driver);
    EXPECT_EQ(p.Port(), c.port);
  }
  // Only commas: no name, no printer.
  fake.default_answer = pp::DefaultPrinter{false, {}, ",,,"};
  cPrinterDC none(&fake);
  EXPECT_EQ(none.State(), 0);
}

TEST_F(PrinterDCTest, LongQueueNamesAreKeptWhole) {
  const std::string name(80, 'q');
  fake.printers[name] = named(name);
  fake.default_answer = pp::DefaultPrinter{true, {name, "cups", ""}, ""};
  cPrinterDC dc(&fake);
  EXPECT_EQ(dc.PrinterName(), name);
  EXPECT_TRUE(dc.Select(false));  // a second selection finds the same printer
  EXPECT_EQ(dc.PrinterName(), name);
}

TEST_F(PrinterDCTest, SelectReadsTheSettingsAndTheMetrics) {
  pp::PrinterSettings s = named("Office");
  s.copies = 3;
  s.copies_given = true;
  s.collate = 0;
  s.collate_given = true;
  s.orientation = pp::kOrientLandscape;
  s.orientation_given = true;
  s.form_name = "Letter";
  s.form_name_given = true;
  s.color = pp::kColorMonochrome;
  s.color_given = true;
  s.paper_size = 1;
  s.paper_size_given = true;
  s.paper_width = 2159;
  s.paper_width_given = true;
  s.paper_length = 2794;
  s.paper_length_given = true;
  fake.printers["Office"] = s;

  cPrinterDC dc(&fake);
  cPrinterDCProbe p{dc};
  ASSERT_EQ(dc.State(), 1);
  EXPECT_EQ(dc.PrinterName(), "Office");
  EXPECT_EQ(p.Driver(), "cups");
  EXPECT_EQ(p.Port(), "ipp://office/");
  EXPECT_EQ(dc.FormName(), "Letter");
  EXPECT_TRUE(dc.Landscape());
  EXPECT_EQ(p.Copies(), 3u);
  EXPECT_FALSE(p.Collate());
  EXPECT_FALSE(p.Colour());
  EXPECT_EQ(p.PaperSize(), 1);
  EXPECT_EQ(dc.PhysicalWidth(), 200);
  EXPECT_EQ(dc.PhysicalHeight(), 300);
  EXPECT_EQ(dc.DpiX(), 100);
  EXPECT_EQ(dc.DpiY(), 100);
  EXPECT_EQ(dc.PrintableArea(), rRect::Construct(10, 20, 180, 270));  // x1, y1, x2, y2

  // Selecting again (not the default) hands the chosen copies to the printer.
  fake.printers["Office"] = named("Office");
  ASSERT_TRUE(dc.Select(false));
  EXPECT_TRUE(fake.created_with.back().copies_given);
  EXPECT_EQ(fake.created_with.back().copies, 3);
  EXPECT_EQ(p.Copies(), 3u);
  // Fields the settings do not give take their defaults.
  EXPECT_TRUE(p.Collate());
  EXPECT_TRUE(p.Colour());
  EXPECT_FALSE(dc.Landscape());
  EXPECT_EQ(dc.FormName(), "");
  EXPECT_EQ(p.PaperSize(), 1);  // kept when not given
  EXPECT_EQ(fake.live_devices, 1);

  // A printer that is gone: Release and Reset.
  fake.printers.clear();
  EXPECT_FALSE(dc.Select(false));
  expect_defaults(dc);
  EXPECT_EQ(fake.live_devices, 0);
}

TEST_F(PrinterDCTest, RefusedTransitionsChangeNothing) {
  struct Case {
    uint8_t state;
    const char* call;
  } cases[] = {{1, "StartPage"}, {1, "EndPage"},  {1, "EndDoc"},   {2, "EndPage"},
               {2, "StartDoc"},  {3, "StartDoc"}, {3, "StartPage"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.state) + " " + c.call);
    auto dc = InState(c.state);
    const size_t calls = fake.log.size();
    const std::string call = c.call;
    bool answer = true;
    if (call == "StartDoc") answer = dc->StartDoc("Again");
    if (call == "StartPage") answer = dc->StartPage();
    if (call == "EndPage") answer = dc->EndPage();
    if (call == "EndDoc") answer = dc->EndDoc();
    EXPECT_FALSE(answer);
    EXPECT_EQ(dc->State(), c.state);
    EXPECT_EQ(fake.log.size(), calls) << fake.LogText();
  }
  fake.default_answer.reset();
  cPrinterDC none(&fake);
  EXPECT_FALSE(none.StartDoc("Doc"));
  EXPECT_FALSE(none.EndDoc());
  EXPECT_EQ(none.State(), 0);
}

TEST_F(PrinterDCTest, EndDocInState3EndsThePageAndTheDocument) {
  auto dc = InState(3);
  fake.log.clear();
  EXPECT_TRUE(dc->EndDoc());
  EXPECT_EQ(dc->State(), 1);
  EXPECT_EQ(fake.LogText(), "end_page; end_doc");
  // And the next document runs.
  EXPECT_TRUE(dc->StartDoc("Next"));
}

TEST_F(PrinterDCTest, HostFailuresKeepTheStateAndAFailedEndDropsTheJob) {
  {
    auto dc = InState(1);
    fake.fail_start_doc = true;
    EXPECT_FALSE(dc->StartDoc("Doc"));
    EXPECT_EQ(dc->State(), 1);
    // A device that gives no reason still leaves one in the log.
    EXPECT_EQ(dc->LastErrorText(), "the print job could not be started");
    fake.fail_start_doc = false;
  }
  {
    auto dc = InState(2);
    fake.fail_start_page = true;
    EXPECT_FALSE(dc->StartPage());
    EXPECT_EQ(dc->State(), 2);
    fake.fail_start_page = false;
  }
  struct Case {
    uint8_t state;
    bool fail_end_page;
    bool fail_end_doc;
  } cases[] = {{3, true, false}, {3, false, true}, {2, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.state) + (c.fail_end_page ? " end_page fails" : " end_doc fails"));
    auto dc = InState(c.state);
    fake.fail_end_page = c.fail_end_page;
    fake.fail_end_doc = c.fail_end_doc;
    if (c.state == 3 && c.fail_end_page) {
      EXPECT_FALSE(dc->EndPage());
      EXPECT_EQ(dc->State(), 3);
    }
    EXPECT_FALSE(dc->EndDoc());
    EXPECT_EQ(dc->State(), 1);
    EXPECT_EQ(dc->LastErrorText(), "the document could not be printed");
    fake.fail_end_page = fake.fail_end_doc = false;
    // Nothing stays stuck: the dialog is offered and a new document starts.
    fake.dialogs.clear();
    EXPECT_FALSE(dc->PrintDialog(true));
    EXPECT_EQ(fake.dialogs.size(), 1u);
    EXPECT_TRUE(dc->StartDoc("Again"));
  }
  EXPECT_NE(fake.LogText().find("end_page refused; abort"), std::string::npos) << fake.LogText();
}

TEST_F(PrinterDCTest, ReleaseSendsWhatWasPrinted) {
  auto dc = InState(3);
  fake.log.clear();
  dc.reset();
  EXPECT_EQ(fake.LogText(), "end_page; end_doc; destroy");
  EXPECT_EQ(fake.live_devices, 0);
}

TEST_F(PrinterDCTest, PrintDialogIsRefusedDuringADocument) {
  for (uint8_t state : {2, 3}) {
    auto dc = InState(state);
    fake.dialog_answer = named("Office");
    EXPECT_FALSE(dc->PrintDialog(false));
    EXPECT_FALSE(dc->PrintDialog(true));
    EXPECT_EQ(dc->State(), state);
    EXPECT_TRUE(fake.dialogs.empty());
  }
}

TEST_F(PrinterDCTest, PrintDialogStartsFromTheChoicesAndReplacesTheDevice) {
  pp::PrinterSettings office = named("Office");
  office.copies = 2;
  office.copies_given = true;
  office.form_name = "A4";
  office.form_name_given = true;
  office.color = pp::kColorMonochrome;
  office.color_given = true;
  office.media = "iso_a4_210x297mm";
  fake.printers["Office"] = office;
  cPrinterDC dc(&fake);
  ASSERT_EQ(dc.State(), 1);

  // Cancelled: nothing changes.
  EXPECT_FALSE(dc.PrintDialog(true));
  EXPECT_EQ(dc.State(), 1);
  EXPECT_EQ(dc.PrinterName(), "Office");
  ASSERT_EQ(fake.dialogs.size(), 1u);
  const pp::DialogRequest& asked = fake.dialogs[0];
  EXPECT_TRUE(asked.has_settings);
  EXPECT_TRUE(asked.setup_only);
  EXPECT_EQ(asked.settings.media, "iso_a4_210x297mm");  // the printer's own record
  EXPECT_TRUE(asked.settings.copies_given && asked.settings.collate_given && asked.settings.orientation_given &&
              asked.settings.color_given && asked.settings.paper_size_given && asked.settings.form_name_given);
  EXPECT_EQ(asked.settings.copies, 2);
  EXPECT_EQ(asked.settings.collate, 1);
  EXPECT_EQ(asked.settings.orientation, pp::kOrientPortrait);
  EXPECT_EQ(asked.settings.color, pp::kColorMonochrome);
  EXPECT_EQ(asked.settings.paper_size, 9);
  EXPECT_EQ(asked.settings.form_name, "A4");

  // Confirmed on another printer.
  pp::PrinterSettings lab = named("Lab");
  lab.orientation = pp::kOrientLandscape;
  lab.orientation_given = true;
  lab.resolution = 100;
  fake.printers["Lab"] = lab;
  fake.dialog_answer = lab;
  fake.caps.reset();
  ASSERT_TRUE(dc.PrintDialog(false));
  EXPECT_EQ(dc.State(), 1);
  EXPECT_EQ(dc.PrinterName(), "Lab");
  EXPECT_TRUE(dc.Landscape());
  EXPECT_GT(dc.PhysicalWidth(), dc.PhysicalHeight());
  EXPECT_EQ(fake.live_devices, 1);
  EXPECT_TRUE(dc.StartDoc("On the lab printer"));

  // The printer of the name does not open: a blank record with its name.
  fake.dialogs.clear();
  fake.dialog_answer.reset();
  EXPECT_TRUE(dc.EndDoc());
  fake.printers.erase("Lab");
  EXPECT_FALSE(dc.PrintDialog(true));
  ASSERT_EQ(fake.dialogs.size(), 1u);
  EXPECT_EQ(fake.dialogs[0].settings.device_name, "Lab");
  EXPECT_TRUE(fake.dialogs[0].settings.media.empty());
  EXPECT_EQ(fake.dialogs[0].settings.orientation, pp::kOrientLandscape);
}

TEST_F(PrinterDCTest, PrintDialogWithoutPrinterStartsFromTheDefault) {
  fake.default_answer.reset();
  cPrinterDC dc(&fake);
  ASSERT_EQ(dc.State(), 0);
  fake.dialog_answer = named("Office");
  ASSERT_TRUE(dc.PrintDialog(true));
  ASSERT_EQ(fake.dialogs.size(), 1u);
  EXPECT_FALSE(fake.dialogs[0].has_settings);
  EXPECT_FALSE(fake.dialogs[0].setup_only);
  EXPECT_EQ(dc.State(), 1);
  EXPECT_EQ(dc.PrinterName(), "Office");
  EXPECT_EQ(dc.PhysicalWidth(), 200);
}

// --- Bitmap output -----------------------------------------------------

// Pixels coded by position: red = x, green = y, blue 7.
uint32_t coded(int32_t x, int32_t y) { return color_rgba(uint8_t(x), uint8_t(y), 7, 255); }

TEST_F(PrinterDCTest, DrawBitmapPartClipsToTheBitmapAndThePrintableArea) {
  struct Case {
    const char* name;
    int32_t x, y, sx, sy, w, h;
    const char* blit;  // the device call, "" for none
    int32_t first_source_x, first_source_y;
  } cases[] = {
      {"whole", 5, 6, 0, 0, 40, 30, "blit 5 6 40 30", 0, 0},
      {"x = -10", -10, 0, 0, 0, 40, 30, "blit 0 0 30 30", 10, 0},
      {"x = -10, narrow part", -10, 0, 0, 0, 20, 30, "blit 0 0 10 30", 10, 0},
      {"y = -5, short part", 0, -5, 0, 0, 40, 10, "blit 0 0 40 5", 0, 5},
      {"source x = width", 0, 0, 40, 0, 10, 10, "", 0, 0},
      {"source x beyond", 0, 0, 41, 0, 10, 10, "", 0, 0},
      {"source y = height", 0, 0, 0, 30, 10, 10, "", 0, 0},
      {"negative source x", 0, 0, -1, 0, 10, 10, "", 0, 0},
      {"right edge", 150, 0, 0, 0, 40, 30, "blit 150 0 20 30", 0, 0},
      {"at printable width", 170, 0, 0, 0, 40, 30, "", 0, 0},
      {"beyond printable height", 0, 251, 0, 0, 40, 30, "", 0, 0},
      {"bottom edge", 0, 240, 3, 4, 40, 30, "blit 0 240 37 10", 3, 4},
      {"far left", INT32_MIN, 0, 0, 0, INT32_MAX, 30, "", 0, 0},
  };
  auto bitmap = make_bitmap(40, 30, cnBitmap24BGR, coded);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto dc = InState(3);
    fake.log.clear();
    const bool drawn = dc->DrawBitmapPart(bitmap.get(), c.x, c.y, c.sx, c.sy, c.w, c.h);
    EXPECT_EQ(drawn, *c.blit != 0);
    EXPECT_EQ(fake.LogText(), c.blit);
    if (!drawn) continue;
    // The first pixel drawn shows the expected source pixel, at the target
    // position plus the printable corner.
    int32_t tx = 0, ty = 0;
    ASSERT_EQ(std::sscanf(c.blit, "blit %d %d", &tx, &ty), 2);
    const uint32_t got = fake.pages.back().At(10 + tx, 20 + ty);
    EXPECT_EQ(got, coded(c.first_source_x, c.first_source_y) & 0xFFFFFFu) << testenv::argb_text(got);
  }
}

TEST_F(PrinterDCTest, DrawBitmapNeedsAStartedPageAndAnOpenedBitmap) {
  auto bitmap = make_bitmap(4, 4, cnBitmap24BGR, coded);
  for (uint8_t state : {1, 2}) {
    auto dc = InState(state);
    EXPECT_FALSE(dc->DrawBitmap(bitmap.get(), 0, 0));
  }
  auto dc = InState(3);
  cBitmap closed(4, 4, cnBitmap24BGR);
  EXPECT_FALSE(dc->DrawBitmap(&closed, 0, 0));
  EXPECT_FALSE(dc->DrawBitmap(nullptr, 0, 0));
  EXPECT_EQ(fake.LogText().find("blit"), std::string::npos);
}

TEST_F(PrinterDCTest, EveryDrawableOrderPrintsItsColours) {
  const int32_t kinds[] = {cnBitmap24RGB,  cnBitmap24BGR,  cnBitmap32RGBA,
                           cnBitmap32BGRA, cnBitmap32ARGB, cnBitmap32ABGR};
  for (int32_t kind : kinds) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    // Odd widths give padded rows in 24 bits: each row is read with the
    // bitmap's own stride.
    auto red = make_bitmap(7, 5, kind, [](int32_t, int32_t) { return 0xFFFF0000u; });
    auto pattern =
        make_bitmap(13, 9, kind, [](int32_t x, int32_t y) { return testenv::pattern_argb(x, y) | 0xFF000000u; });
    auto dc = InState(3);
    ASSERT_TRUE(dc->DrawBitmap(red.get(), 0, 0));
    ASSERT_TRUE(dc->DrawBitmap(pattern.get(), 50, 60));
    const pp::FakePage& page = fake.pages.back();
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 7; ++x) ASSERT_EQ(page.At(10 + x, 20 + y), 0xFF0000u) << x << "," << y;
    for (int32_t y = 0; y < 9; ++y)
      for (int32_t x = 0; x < 13; ++x)
        ASSERT_EQ(page.At(60 + x, 80 + y), testenv::pattern_argb(x, y) & 0xFFFFFFu) << x << "," << y;
    EXPECT_EQ(page.At(9, 19), 0xFFFFFFu);  // untouched paper
  }
}

TEST_F(PrinterDCTest, TransparentPixelsShowThePaper) {
  struct Case {
    uint32_t argb;
    uint32_t printed;
  } cases[] = {{0xFFFF0000u, 0xFF0000u},
               {0x00FF0000u, 0xFFFFFFu},
               {0x00000000u, 0xFFFFFFu},
               {0x80FF0000u, 0xFF7F7Fu},
               {0x80000000u, 0x7F7F7Fu}};
  for (int32_t kind : {cnBitmap32RGBA, cnBitmap32ARGB}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testenv::argb_text(c.argb));
      auto b = make_bitmap(2, 2, kind, [&](int32_t, int32_t) { return c.argb; });
      auto dc = InState(3);
      ASSERT_TRUE(dc->DrawBitmap(b.get(), 0, 0));
      EXPECT_EQ(fake.pages.back().At(11, 21), c.printed) << testenv::argb_text(fake.pages.back().At(11, 21));
    }
  }
}

}  // namespace
