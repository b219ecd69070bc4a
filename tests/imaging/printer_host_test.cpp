// cPrinterDC printing real pages through the PDF file backend, read back
// with poppler-utils: no display and no print server are needed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "bitmap_builders.h"
#include "pdf_tools.h"
#include "plat_print_host.h"
#include "print_server_standin.h"
#include "qlm_base_array.h"
#include "qlm_bitmap.h"
#include "qlm_printer_dc.h"
#include "sandbox.h"

namespace pp = plat::print;

namespace {

bool is_red(uint32_t rgb) { return (rgb >> 16 & 0xFF) > 200 && (rgb >> 8 & 0xFF) < 60 && (rgb & 0xFF) < 60; }

TEST(PrinterPdf, RedSquaresLandAtTheirPlaceOnA4Pages) {
  if (!testenv::have_program("pdfinfo") || !testenv::have_program("pdftoppm"))
    GTEST_SKIP() << "poppler-utils (pdfinfo, pdftoppm) not installed";
  qlm_bitmap_start();
  struct Case {
    const char* name;
    int16_t orientation;
    int32_t physical_width, physical_height;
    double width_pt, height_pt;
  } cases[] = {
      {"portrait", pp::kOrientPortrait, 2480, 3508, 595.28, 841.89},
      {"landscape", pp::kOrientLandscape, 3508, 2480, 841.89, 595.28},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = testenv::sandbox_dir(std::string("pdf-") + c.name);
    const std::string path = dir + "/out.pdf";
    pp::PrinterSettings s;
    s.device_name = "PDF";
    s.device_name_given = true;
    s.paper_width_given = s.paper_length_given = true;  // A4
    s.orientation = c.orientation;
    s.orientation_given = true;
    s.resolution = 300;
    s.margins = {1000, 1000, 1000, 1000};  // 10 mm: 118 pixels at 300 dpi
    pp::PdfFileBackend backend(path, s);

    cPrinterDC dc(&backend);
    ASSERT_EQ(dc.State(), 1);
    EXPECT_EQ(dc.PhysicalWidth(), c.physical_width);
    EXPECT_EQ(dc.PhysicalHeight(), c.physical_height);
    EXPECT_EQ(dc.PrintableArea(), rRect::Construct(118, 118, c.physical_width - 118, c.physical_height - 118));

    auto red = testenv::make_bitmap(100, 100, cnBitmap24BGR, [](int32_t, int32_t) { return 0xFFFF0000u; });
    ASSERT_TRUE(dc.StartDoc("Red squares"));
    for (int page = 0; page < 2; ++page) {
      ASSERT_TRUE(dc.StartPage());
      ASSERT_TRUE(dc.DrawBitmap(red.get(), 50, 80));
      ASSERT_TRUE(dc.EndPage());
    }
    ASSERT_TRUE(dc.EndDoc());

    EXPECT_EQ(testenv::file_head(path, 5), "%PDF-");
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u) << "a temporary file was left";

    testenv::PdfInfo info;
    ASSERT_TRUE(testenv::pdf_info(path, info));
    EXPECT_EQ(info.pages, 2);
    if (testenv::have_program("qpdf")) {  // the document's structure, object by object
      bool clean = false;
      const std::string report = testenv::run_capture("qpdf --check " + testenv::shell_quote(path) + " 2>&1", clean);
      EXPECT_TRUE(clean) << report;
    }
    EXPECT_NEAR(info.width_pt, c.width_pt, 0.01);
    EXPECT_NEAR(info.height_pt, c.height_pt, 0.01);

    // At 75 dpi one rendered pixel is four device pixels. The square's
    // centre lies at the printable corner (118, 118) plus (50, 80) plus half
    // its side; where it would be without the margins, the paper is white.
    for (int page = 1; page <= 2; ++page) {
      testenv::RenderedPage image;
      ASSERT_TRUE(testenv::pdf_render_page(path, page, 75, image));
      const int cx = (118 + 50 + 50) / 4, cy = (118 + 80 + 50) / 4;
      EXPECT_TRUE(is_red(image.At(cx, cy))) << testenv::argb_text(image.At(cx, cy));
      EXPECT_TRUE(is_red(image.At((118 + 52) / 4, (118 + 82) / 4)));
      EXPECT_TRUE(is_red(image.At((118 + 148) / 4, (118 + 178) / 4)));
      EXPECT_EQ(image.At((50 + 50) / 4, (80 + 50) / 4), 0xFFFFFFu);
      EXPECT_EQ(image.At((118 + 160) / 4, cy), 0xFFFFFFu);
    }
  }
}

}  // namespace

namespace {

// The CUPS backend without a print server: whatever printers the machine
// has, none is found, and the device context keeps its defaults.
TEST(PrinterCups, WithoutAPrintServerThereIsNoPrinter) {
  testenv::SavedEnv saved({"CUPS_SERVER", "PRINTER", "LPDEST"});
  setenv("CUPS_SERVER", (testenv::sandbox_root() + "/no-cupsd.sock").c_str(), 1);
  unsetenv("PRINTER");
  unsetenv("LPDEST");
  cPrinterDC dc(&pp::cups_backend());
  EXPECT_EQ(dc.State(), 0);
  EXPECT_EQ(dc.PrinterName(), "");
  EXPECT_EQ(dc.PhysicalWidth(), 2100);
  EXPECT_EQ(dc.PhysicalHeight(), 2970);
  EXPECT_FALSE(dc.StartDoc("Nothing"));
  EXPECT_EQ(dc.LastErrorText(), "the print server does not answer");
}

// Why printing cannot start goes into the device context's log (the
// backend's own words, tested with the backend), once when the printer is
// looked for and again when a document is refused for it.
TEST(PrinterCups, TheLogSaysWhyPrintingCannotStart) {
  testenv::SavedEnv saved({"PRINTER", "LPDEST"});
  unsetenv("LPDEST");
  setenv("PRINTER", "Ghost", 1);
  pp::cups_set_lookup_seam([](const std::string&, bool, pp::CupsDestination&) { return pp::CupsLookup::NoDefault; });
  cPrinterDC dc(&pp::cups_backend());
  pp::cups_set_lookup_seam(nullptr);
  EXPECT_EQ(dc.State(), 0);
  EXPECT_EQ(dc.LastErrorText(), "the printer Ghost does not exist");
  EXPECT_EQ(dc.LastErrorCode(), errRunTime);
  EXPECT_FALSE(dc.StartDoc("Doc"));
  ASSERT_NE(dc.Log(), nullptr);
  EXPECT_EQ(dc.Log()->Count(), 2);
  EXPECT_EQ(dc.LastErrorText(), "the printer Ghost does not exist");
}

// A print server that accepts and never answers: the device context gives
// up within the bounded wait instead of holding the window thread.
TEST(PrinterCups, ASilentServerDoesNotHoldTheWindowThread) {
  testenv::SavedEnv saved({"PRINTER", "LPDEST"});
  unsetenv("PRINTER");
  unsetenv("LPDEST");
  testenv::SilentPrintServer server;
  ASSERT_TRUE(server.Ok());
  const auto start = std::chrono::steady_clock::now();
  cPrinterDC dc(&pp::cups_backend());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::duration<double>(2 * pp::kServerWaitSeconds + 1));
  EXPECT_EQ(dc.State(), 0);
  EXPECT_EQ(dc.LastErrorText(), "the print server does not answer");
}

// A file that cannot be made: the document does not start, and the log
// names the file and the system's reason.
TEST(PrinterPdf, AFileThatCannotBeMadeIsNamedInTheLog) {
  const std::string path = testenv::sandbox_dir("pdf-missing") + "/missing/out.pdf";
  pp::PrinterSettings s;
  s.device_name = "PDF";
  s.device_name_given = true;
  pp::PdfFileBackend backend(path, s);
  cPrinterDC dc(&backend);
  ASSERT_EQ(dc.State(), 1);
  EXPECT_FALSE(dc.StartDoc("Doc"));
  EXPECT_EQ(dc.State(), 1);
  EXPECT_EQ(dc.LastErrorText(), "the print file " + path + " cannot be created: No such file or directory");
}

}  // namespace
