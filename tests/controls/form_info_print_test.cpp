// The print preview over the recording print backend: page, text-area,
// thumbnail and preview sizes; the form's handlers (font size, margin,
// keys, Configure Printer); the print pass page by page; a burst of
// changes while the worker renders.
#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "controls_support.h"
#include "cups_server.h"
#include "kvn_form_dlg.h"
#include "kvn_form_info_print.h"
#include "pdf_tools.h"
#include "plat_print_fake.h"
#include "plat_print_host.h"
#include "qlm_bitmap.h"
#include "sandbox.h"

using namespace ui;
namespace pp = plat::print;

namespace {

// A4 at 100 dpi with a 5-mm-ish unprintable border, portrait or landscape.
pp::DeviceCaps a4(bool landscape, int32_t dpi = 100) {
  pp::DeviceCaps c;
  c.dpi_x = c.dpi_y = dpi;
  c.physical_width = landscape ? 1169 : 827;
  c.physical_height = landscape ? 827 : 1169;
  c.offset_x = 20;
  c.offset_y = 20;
  c.printable_width = c.physical_width - 40;
  c.printable_height = c.physical_height - 40;
  return c;
}

std::string long_text(int paragraphs) {
  std::string s;
  for (int i = 0; i < paragraphs; ++i)
    s += "Paragraph " + std::to_string(i) +
         ": the licence grants the use of the program on one computer, with no warranty of any kind.~(p) ";
  return s;
}

class PrintTest : public ctest::FormTest {
 protected:
  PrintTest() {
    gPrintFontSize = 16;
    Fresh();
  }
  // The previews go before the backends their printers use.
  ~PrintTest() override {
    for (int i = form->ComponentCount() - 1; i >= 0; --i)
      if (auto* f = dynamic_cast<TFormInfoPrint*>(form->Components(i))) TObject::Free(f);
    gPrintFontSize = 16;
  }
  void Printer(const std::string& name, std::optional<pp::DeviceCaps> caps) {
    fake->caps = caps;
    pp::PrinterSettings s;
    s.device_name = name;
    s.device_name_given = true;
    fake->printers[name] = s;
    fake->default_answer = pp::DefaultPrinter{true, {name, "cups", ""}, ""};
  }
  TFormInfoPrint* Open(const std::string& markup) {
    auto* f = Create<TFormInfoPrint>(form, fake);
    f->SetDocument(nullptr, markup, "Agreement", false);
    f->Show();
    test::Snapshot(f);
    return f;
  }
  // Waits until the worker has drawn everything queued.
  // The worker clears its busy flag before the GUI thread has shown its frame
  // (the repaint is a call the loop serves next): idle also waits for that,
  // which the shared count of running renders says (it drops only once the
  // repaint has been served).
  static bool Idle(TInfoPrintScene* s) {
    return test::PumpUntil([s] { return !s->HasPendingOrders() && !s->IsBusy() && gRenderingBusy.load() == 0; }, 10000);
  }
  // A new backend (the old ones stay alive for the objects made on them).
  void Fresh() {
    fakes.push_back(std::make_unique<pp::FakeBackend>());
    fake = fakes.back().get();
  }
  std::vector<std::unique_ptr<pp::FakeBackend>> fakes;
  pp::FakeBackend* fake = nullptr;
};

TEST_F(PrintTest, PageTextAreaAndPreviewSizes) {
  struct Row {
    const char* name;
    std::optional<pp::DeviceCaps> caps;  // nullopt: no printer
    bool landscape;
    int margin;
    int viewerHeight;
    double pageW, pageH;  // font pixels (96 dpi)
    double areaWmm, areaHmm;
  };
  const double a4w = 827 * 96.0 / 100, a4h = 1169 * 96.0 / 100;
  const Row rows[] = {
      {"margin 0: the whole page width", a4(false), false, 0, 392, a4w, a4h, 210.0, 297.0},
      {"margin 100 on A4", a4(false), false, 100, 392, a4w, a4h, 10.0, 96.9},
      {"landscape, margin 100", a4(true), true, 100, 392, a4h, a4w, 96.9, 10.0},
      {"no printer: A4 paper", std::nullopt, false, 20, 392, 2100 * 96.0 / 254, 2970 * 96.0 / 254, 170, 257},
      {"0 dpi counts as no printer", pp::DeviceCaps{}, false, 20, 392, 2100 * 96.0 / 254, 2970 * 96.0 / 254, 170, 257},
      {"a 120-pixel viewer", a4(false), false, 20, 120, a4w, a4h, 170.0, 257.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    if (row.caps) Printer(row.landscape ? "Wide" : "Office", row.caps);
    TInfoPrintScene scene(fake);
    scene.LoadText(long_text(3));
    scene.PreparePages(row.margin);
    EXPECT_NEAR(scene.PageWidth(), row.pageW, 0.6);
    EXPECT_NEAR(scene.PageHeight(), row.pageH, 0.6);
    EXPECT_NEAR(scene.TextAreaWidth() * 25.4 / 96, row.areaWmm, 0.6);
    EXPECT_NEAR(scene.TextAreaHeight() * 25.4 / 96, row.areaHmm, 0.6);
    scene.LayoutPreview(400, row.viewerHeight);
    const double thumbH = std::max(10, row.viewerHeight - 110);
    EXPECT_DOUBLE_EQ(scene.ThumbHeight(), thumbH);
    EXPECT_NEAR(scene.ThumbWidth(), thumbH * row.pageW / row.pageH, 0.01);
    if (row.landscape) {
      EXPECT_GT(scene.ThumbWidth(), scene.ThumbHeight());
    }
    const int pages = scene.PageCount();
    EXPECT_GE(pages, 1);
    EXPECT_EQ(scene.PreviewWidth(), int32_t(std::ceil((scene.ThumbWidth() + 15) * pages + 15)));
    EXPECT_EQ(scene.PreviewHeight(), int32_t(std::ceil(thumbH + 110)));
  }
}

TEST_F(PrintTest, ThreePagesAndATinyTextArea) {
  Printer("Office", a4(false));
  TInfoPrintScene scene(fake);
  scene.LoadText(long_text(8));
  // A font so large that the text needs several pages.
  gPrintFontSize = 60;
  scene.ResetFont();
  scene.PreparePages(20);
  scene.LayoutPreview(400, 392);
  const int pages = scene.PageCount();
  EXPECT_GE(pages, 3);
  EXPECT_EQ(scene.PreviewWidth(), int32_t(std::ceil(pages * (scene.ThumbWidth() + 15) + 15)));
  // Too large a margin: no pages, the preview of one empty slot.
  EXPECT_TRUE(scene.PreparePages(106));
  scene.LayoutPreview(400, 392);
  EXPECT_EQ(scene.PageCount(), 0);
  EXPECT_EQ(scene.PreviewWidth(), int32_t(std::ceil(scene.ThumbWidth() + 30)));
  // No text at all.
  TInfoPrintScene empty(fake);
  EXPECT_FALSE(empty.PreparePages(20));
}

TEST_F(PrintTest, PrinterLine) {
  struct Row {
    std::optional<pp::DeviceCaps> caps;
    bool landscape;
    const char* line;
  };
  const Row rows[] = {
      {a4(false), false, "Office (210 x 297 mm), Portrait"},
      {std::nullopt, false, "No Printer Found, Portrait"},
  };
  for (const Row& row : rows) {
    Fresh();
    if (row.caps) Printer("Office", row.caps);
    auto* f = Open("Text");
    EXPECT_EQ(f->Viewer()->PrinterLine(), row.line);
    TObject::Free(f);
  }
}

// On queues of a print server of our own that list their sizes: the
// printer line, the preview's pages and the job that Print sends all have
// the queue's own default paper.
TEST_F(PrintTest, OnRealQueuesTheLineThePagesAndTheJobShareOnePaper) {
  static constexpr const char* kCupsPdf = "/usr/share/ppd/cups-pdf/CUPS-PDF_noopt.ppd";
  static constexpr const char* kGenericPdf = "/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd";
  for (const char* ppd : {kCupsPdf, kGenericPdf})
    if (::access(ppd, R_OK) != 0) GTEST_SKIP() << ppd << " is not installed (tools/setup.sh installs it)";
  testenv::SavedEnv saved({"PRINTER", "LPDEST", "CUPS_SERVERROOT", "PAPERSIZE"});
  unsetenv("PRINTER");
  unsetenv("LPDEST");
  setenv("PAPERSIZE", "a4", 1);
  const std::string folder = testenv::sandbox_dir("preview-cupsd");
  setenv("CUPS_SERVERROOT", folder.c_str(), 1);
  testenv::PrivateCupsServer server(folder);
  if (!server.Ok()) GTEST_SKIP() << server.Why();
  ASSERT_TRUE(server.AddQueue("Generic", kGenericPdf, {"PageSize=A4"}));
  ASSERT_TRUE(server.AddQueue("Letter", kGenericPdf));
  ASSERT_TRUE(server.AddQueue("CupsPdf", kCupsPdf));
  struct Row {
    const char* queue;
    const char* line;
    const char* media;
    double width_pt, height_pt;
  };
  const Row rows[] = {
      {"Generic", "Generic, A4 (210 x 297 mm), Portrait", "iso_a4_210x297mm", 595.28, 841.89},
      {"Letter", "Letter, Letter (216 x 279 mm), Portrait", "na_letter_8.5x11in", 612, 792},
      {"CupsPdf", "CupsPdf, A4 (210 x 297 mm), Portrait", "iso_a4_210x297mm", 595.28, 841.89},
  };
  gPrintFontSize = 40;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.queue);
    ASSERT_TRUE(server.SetDefault(row.queue));
    auto* f = Create<TFormInfoPrint>(form, &pp::cups_backend());
    f->SetDocument(nullptr, long_text(12), "Agreement", false);
    EXPECT_EQ(f->Viewer()->PrinterLine(), row.line);
    EXPECT_NEAR(f->Scene()->PageWidth() / f->Scene()->PageHeight(), row.width_pt / row.height_pt, 0.002);
    const int pages = f->Scene()->PageCount();
    EXPECT_GE(pages, 2);
    f->KVNButton2Click();
    EXPECT_TRUE(f->LastPrintOk()) << f->LastPrintMessage();
    const std::vector<testenv::CupsJob> jobs = server.Jobs(row.queue);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].media, row.media);
    testenv::PdfInfo info;
    ASSERT_TRUE(testenv::pdf_info(jobs[0].document, info)) << jobs[0].document;
    EXPECT_EQ(info.pages, pages);
    EXPECT_NEAR(info.width_pt, row.width_pt, 0.5);
    EXPECT_NEAR(info.height_pt, row.height_pt, 0.5);
    TObject::Free(f);
  }
}

// The printer line is gold with a black shadow offset by 3 pixels and
// blurred with radius 3, over the viewer's grey. Measured on the pixels of
// the line's band: the shadow's weight (how much darker than the grey a
// pixel is) has its centre about 3 pixels right of and below the centre of
// the gold, and is spread wider than the gold by the blur.
TEST_F(PrintTest, PrinterLineHasItsBlurredShadow) {
  Printer("Office", a4(false));
  auto* f = Open("Text");
  const ui::TBitmap& b = test::Snapshot(f);
  const ui::TRect v = f->Viewer()->FormRect();
  struct Moments {
    double w = 0, x = 0, y = 0, yy = 0;
    void Add(double weight, int px, int py) {
      w += weight;
      x += weight * px;
      y += weight * py;
      yy += weight * py * py;
    }
    double Cx() const { return x / w; }
    double Cy() const { return y / w; }
    double VarY() const { return yy / w - Cy() * Cy(); }
  } gold, shadow;
  for (int y = v.Top + 2; y < v.Top + 45; ++y)
    for (int x = v.Left + (v.Right - v.Left) / 3; x < v.Right - 2; ++x) {
      const uint32_t c = ctest::argb_at(b, x, y);
      const int r = int(c >> 16 & 0xFF), g = int(c >> 8 & 0xFF), bl = int(c & 0xFF);
      // Gold (255, 215, 0) over grey (128, 128, 128): red above blue.
      if (r - bl > 8) gold.Add(r - bl, x, y);
      // Darker than the grey in every channel: the shadow alone.
      else if (std::max({r, g, bl}) < 124)
        shadow.Add(128 - std::max({r, g, bl}), x, y);
    }
  ASSERT_GT(gold.w, 0) << "no printer line";
  ASSERT_GT(shadow.w, gold.w * 0.2) << "no shadow";
  EXPECT_NEAR(shadow.Cx() - gold.Cx(), 3.0, 1.5);
  EXPECT_NEAR(shadow.Cy() - gold.Cy(), 3.0, 1.5);
  // A blur of radius 3 spreads the shadow well beyond the glyphs' rows.
  EXPECT_GT(shadow.VarY(), gold.VarY() + 1.0) << shadow.VarY() << " " << gold.VarY();
  TObject::Free(f);
}

TEST_F(PrintTest, FontSizeMarginAndKeys) {
  Printer("Office", a4(false));
  auto* f = Open(long_text(4));
  TInfoPrintScene* s = f->Scene();
  const double area = s->TextAreaWidth();
  // 3 is below the minimum: ignored.
  test::TypeText(&f->SpinEdit2->Edit(), "3");
  EXPECT_EQ(gPrintFontSize.load(), 16);
  test::TypeText(&f->SpinEdit2->Edit(), "60");
  EXPECT_EQ(gPrintFontSize.load(), 60);
  // The margin re-paginates with the new size kept.
  f->SpinEdit1->SetValue(0);
  EXPECT_GT(s->TextAreaWidth(), area);
  EXPECT_EQ(gPrintFontSize.load(), 60);
  TObject::Free(f);
  // A later preview in the same run starts at 60.
  auto* g = Open(long_text(4));
  EXPECT_EQ(gPrintFontSize.load(), 60);
  EXPECT_TRUE(Idle(g->Scene()));
  TObject::Free(g);

  // Enter neither prints nor closes; Esc gives 2.
  auto* h = Create<TFormInfoPrint>(form, fake);
  h->SetDocument(nullptr, "Text", "T", false);
  test::Script([&] {
    test::SetForeground(h);
    EXPECT_EQ(h->ActiveControl(), h->KVNButton2);
    test::Key(h, VK_RETURN);
    EXPECT_EQ(h->ModalResult, mrNone);
    EXPECT_TRUE(fake->pages.empty());
    test::Key(h, VK_ESCAPE);
  });
  EXPECT_EQ(h->ShowModal(), mrCancel);
  TObject::Free(h);
}

TEST_F(PrintTest, ConfigurePrinterAnswersAndCancel) {
  Printer("Office", a4(false));
  auto* f = Open(long_text(4));
  const std::string before = f->Viewer()->PrinterLine();
  const double width = f->Scene()->PageWidth();
  // Cancelled: nothing changes.
  fake->dialog_answer.reset();
  f->KVNButton3Click();
  EXPECT_EQ(f->Viewer()->PrinterLine(), before);
  EXPECT_DOUBLE_EQ(f->Scene()->PageWidth(), width);
  // A landscape printer: new line, wide pages.
  pp::PrinterSettings wide;
  wide.device_name = "Wide";
  wide.device_name_given = true;
  fake->printers["Wide"] = wide;
  fake->caps = a4(true);
  fake->dialog_answer = wide;
  f->KVNButton3Click();
  EXPECT_NE(f->Viewer()->PrinterLine(), before);
  EXPECT_NE(f->Viewer()->PrinterLine().find("Wide"), std::string::npos);
  EXPECT_GT(f->Scene()->PageWidth(), f->Scene()->PageHeight());
  TObject::Free(f);
}

TEST_F(PrintTest, PrintsEveryPageOnceInOrder) {
  Printer("Office", a4(false));
  gPrintFontSize = 40;
  auto* f = Open(long_text(12));
  const int pages = f->Scene()->PageCount();
  ASSERT_GE(pages, 2);
  f->KVNButton2Click();
  EXPECT_TRUE(f->LastPrintOk());
  ASSERT_EQ(int(fake->pages.size()), pages);
  for (const pp::FakePage& p : fake->pages) {
    EXPECT_EQ(p.width, 827);
    EXPECT_EQ(p.height, 1169);
  }
  EXPECT_NE(fake->LogText().find("start_doc Agreement"), std::string::npos);
  // Some ink on the first page, within the margins.
  int ink = 0;
  for (int32_t y = 0; y < fake->pages[0].height; ++y)
    for (int32_t x = 0; x < fake->pages[0].width; ++x) ink += fake->pages[0].At(x, y) != 0xFFFFFF;
  EXPECT_GT(ink, 100);
  TObject::Free(f);

  // A document without pages: nothing sent, true.
  fake->pages.clear();
  auto* g = Open("Text");
  g->SpinEdit1->SetValue(100);
  g->Scene()->PreparePages(106);
  EXPECT_EQ(g->Scene()->PageCount(), 0);
  EXPECT_TRUE(g->Scene()->PrintDocument("Empty"));
  EXPECT_TRUE(fake->pages.empty());
  TObject::Free(g);

  // No printer: printing fails and says so, with the reason the printing
  // layer gave.
  Fresh();
  fake->failure_text = "the print server does not answer";
  auto* h = Open("Text");
  bool dialogSeen = false;
  test::Script([&] {
    dialogSeen = true;
    for (int i = h->ComponentCount() - 1; i >= 0; --i)
      if (auto* d = dynamic_cast<TFormDlg*>(h->Components(i)); d != nullptr && d->Modal()) {
        EXPECT_EQ(d->Heading->HeadingScene()->CaptionText(), "Print");
        d->SetModalResult(mrOk);
      }
  });
  h->KVNButton2Click();
  EXPECT_FALSE(h->LastPrintOk());
  EXPECT_TRUE(dialogSeen);
  EXPECT_EQ(h->LastPrintMessage(), "Printing failed or interrupted. The print server does not answer.");
  TObject::Free(h);
}

// The message of a failed print: the fixed sentence, then the reason as a
// sentence of its own, its mark-up escaped.
TEST(PrintFailure, TheMessageCarriesTheReason) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "Printing failed or interrupted."},
      {"the print server does not answer", "Printing failed or interrupted. The print server does not answer."},
      {"the print file /x/out.pdf cannot be created: No such file or directory",
       "Printing failed or interrupted. The print file /x/out.pdf cannot be created: No such file or directory."},
      {"Already a sentence.", "Printing failed or interrupted. Already a sentence."},
      {"the printer ~Office does not exist", "Printing failed or interrupted. The printer ~(~)Office does not exist."},
  };
  for (const auto& [reason, message] : cases) EXPECT_EQ(print_failure_message(reason), message) << reason;
}

// Landscape with a 100 mm margin leaves a text area one line tall: the first
// page still carries text, none of the pages is blank.
TEST_F(PrintTest, LandscapeWithAWideMarginPrintsNoBlankPage) {
  Printer("Wide", a4(true));
  auto* f = Open(long_text(2));
  f->Scene()->PreparePages(100);
  const int pages = f->Scene()->PageCount();
  ASSERT_GE(pages, 2);
  // Printing draws with the worker's renderer: only once the worker is idle.
  ASSERT_TRUE(Idle(f->Scene()));
  ASSERT_TRUE(f->Scene()->PrintDocument("Landscape"));
  ASSERT_EQ(int(fake->pages.size()), pages);
  for (const pp::FakePage& p : fake->pages) {
    EXPECT_EQ(p.width, 1169);
    int ink = 0;
    for (int32_t y = 0; y < p.height; ++y)
      for (int32_t x = 0; x < p.width; ++x) ink += p.At(x, y) != 0xFFFFFF;
    EXPECT_GT(ink, 20);
  }
  TObject::Free(f);
}

// Through the PDF file printer: a three-page document is a three-page PDF.
TEST_F(PrintTest, ThreePagesToAPdfFile) {
  if (!testenv::have_program("pdfinfo")) GTEST_SKIP() << "poppler-utils (pdfinfo) not installed";
  const std::string path = testenv::sandbox_dir("preview-pdf") + "/out.pdf";
  pp::PrinterSettings settings;
  settings.device_name = "PDF";
  settings.device_name_given = true;
  settings.paper_width_given = settings.paper_length_given = true;  // A4
  settings.resolution = 100;
  pp::PdfFileBackend file(path, settings);
  auto* f = Create<TFormInfoPrint>(form, &file);
  gPrintFontSize = 60;
  f->SetDocument(nullptr, long_text(8), "Agreement", false);
  const int pages = f->Scene()->PageCount();
  ASSERT_GE(pages, 3);
  f->KVNButton2Click();
  EXPECT_TRUE(f->LastPrintOk());
  testenv::PdfInfo info;
  ASSERT_TRUE(testenv::pdf_info(path, info));
  EXPECT_EQ(info.pages, pages);
  TObject::Free(f);
}

// The page labels shrink to the thumbnail width - 10, and are drawn
// unscaled when that room is not positive.
TEST_F(PrintTest, PageLabelsFitTheirThumbnails) {
  Printer("Office", a4(false));
  struct Row {
    int viewerHeight;
    bool scaled;
  };
  for (const Row& row : {Row{120, false}, Row{170, true}, Row{392, false}}) {
    SCOPED_TRACE(row.viewerHeight);
    auto* f = Open("Text");
    f->Viewer()->SetAlign(alNone);
    f->Viewer()->SetBounds(0, 0, 400, row.viewerHeight);
    EXPECT_DOUBLE_EQ(f->Scene()->ThumbHeight(), std::max(10, row.viewerHeight - 110));
    TInfoPrintScene* s = f->Scene();
    ASSERT_TRUE(Idle(s));
    test::Snapshot(f);
    ASSERT_TRUE(Idle(s));
    const double room = s->ThumbWidth() - 10;
    if (row.scaled) {
      EXPECT_GT(room, 0);
      EXPECT_LT(s->LastLabelScale(), 1.0);
    } else {
      EXPECT_DOUBLE_EQ(s->LastLabelScale(), 1.0);
    }
    TObject::Free(f);
  }
}

// Settings change while the worker renders; the preview ends as a fresh
// preview of the same settings would be.
TEST_F(PrintTest, BurstOfChangesWhileTheWorkerRenders) {
  Printer("Office", a4(false));
  pp::PrinterSettings wide;
  wide.device_name = "Office";
  wide.device_name_given = true;
  auto* f = Open(long_text(6));
  std::mt19937 rng(7);
  for (int i = 0; i < 500; ++i) {
    switch (rng() % 5) {
      case 0: f->SpinEdit1->SetValue(int(rng() % 101)); break;
      case 1: f->SpinEdit2->SetValue(int(4 + rng() % 57)); break;
      case 2: f->SetClientSize(int(509 + rng() % 300), int(300 + rng() % 300)); break;
      case 3:
        fake->dialog_answer = (rng() % 2) ? std::optional<pp::PrinterSettings>(wide) : std::nullopt;
        f->KVNButton3Click();
        break;
      case 4: Application->ProcessMessages(); break;
    }
  }
  f->SetDocument(nullptr, long_text(5), "Again", false);
  f->Hide();
  f->Show();
  ASSERT_TRUE(Idle(f->Scene()));
  test::Snapshot(f);
  // A fresh preview of the same settings.
  auto* g = Create<TFormInfoPrint>(form, fake);
  g->SpinEdit1->SetValue(f->SpinEdit1->Value());
  g->SetClientSize(f->ClientWidth(), f->ClientHeight());
  g->SetDocument(nullptr, long_text(5), "Again", false);
  g->Show();
  ASSERT_TRUE(Idle(g->Scene()));
  EXPECT_EQ(g->Scene()->PreviewWidth(), f->Scene()->PreviewWidth());
  EXPECT_EQ(g->Scene()->PreviewHeight(), f->Scene()->PreviewHeight());
  EXPECT_EQ(g->Scene()->PageCount(), f->Scene()->PageCount());
  // The same picture: the viewers' compositions agree pixel for pixel.
  test::Snapshot(g);
  test::Snapshot(f);
  const TBitmap& a = f->Viewer()->Composite();
  const TBitmap& b = g->Viewer()->Composite();
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  int differ = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) differ += ctest::argb_at(a, x, y) != ctest::argb_at(b, x, y);
  EXPECT_EQ(differ, 0);
  TObject::Free(g);
  TObject::Free(f);
}

}  // namespace
