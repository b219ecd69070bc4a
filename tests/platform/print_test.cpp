// The printing layer of the host: sheet metrics, the PDF file device and the
// CUPS device with its submission behind the seam.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pdf_tools.h"
#include "plat_print.h"
#include "plat_print_host.h"
#include "sandbox.h"

namespace pp = plat::print;
namespace fs = std::filesystem;

namespace {

pp::PrinterSettings sheet(int32_t width, int32_t length, int32_t dpi, pp::Margins margins = {},
                          int16_t orientation = pp::kOrientPortrait) {
  pp::PrinterSettings s;
  s.paper_width = width;
  s.paper_length = length;
  s.resolution = dpi;
  s.margins = margins;
  s.orientation = orientation;
  return s;
}

TEST(PrintCaps, SheetMetricsInDevicePixels) {
  struct Case {
    const char* name;
    pp::PrinterSettings settings;
    int32_t dpi, pw, ph, ox, oy, w, h;
  } cases[] = {
      {"A4 at 300", sheet(2100, 2970, 300), 300, 2480, 3508, 0, 0, 2480, 3508},
      {"600 is capped", sheet(2100, 2970, 600), 300, 2480, 3508, 0, 0, 2480, 3508},
      {"unknown is 300", sheet(2100, 2970, 0), 300, 2480, 3508, 0, 0, 2480, 3508},
      {"A4 at 150", sheet(2100, 2970, 150), 150, 1240, 1754, 0, 0, 1240, 1754},
      {"Letter", sheet(2159, 2794, 300), 300, 2550, 3300, 0, 0, 2550, 3300},
      {"10 mm margins", sheet(2100, 2970, 300, {1000, 1000, 1000, 1000}), 300, 2480, 3508, 118, 118, 2244, 3272},
      {"uneven margins", sheet(2100, 2970, 300, {500, 1000, 1500, 2000}), 300, 2480, 3508, 59, 118, 2244, 3154},
      {"landscape turns the margins", sheet(2100, 2970, 300, {500, 1000, 1500, 2000}, pp::kOrientLandscape), 300,
       3508, 2480, 236, 59, 3154, 2244},
      {"no size is A4", sheet(0, 2970, 300), 300, 2480, 3508, 0, 0, 2480, 3508},
      {"negative size is A4", sheet(-5, -5, 300), 300, 2480, 3508, 0, 0, 2480, 3508},
      {"huge size is cut", sheet(2100, 2000000000, 10), 10, 83, 3937, 0, 0, 83, 3937},
      {"margins over the sheet", sheet(2100, 2970, 300, {30000, 40000, 30000, 40000}), 300, 2480, 3508, 2480, 3508,
       0, 0},
      {"negative margins", sheet(2100, 2970, 300, {-100, -100, -100, -100}), 300, 2480, 3508, 0, 0, 2480, 3508},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const pp::DeviceCaps caps = pp::compute_caps(c.settings);
    EXPECT_EQ(caps.dpi_x, c.dpi);
    EXPECT_EQ(caps.dpi_y, c.dpi);
    EXPECT_EQ(caps.physical_width, c.pw);
    EXPECT_EQ(caps.physical_height, c.ph);
    EXPECT_EQ(caps.offset_x, c.ox);
    EXPECT_EQ(caps.offset_y, c.oy);
    EXPECT_EQ(caps.printable_width, c.w);
    EXPECT_EQ(caps.printable_height, c.h);
  }
  const pp::DeviceCaps a4 = pp::compute_caps(sheet(2100, 2970, 300));
  EXPECT_NEAR(a4.sheet_width_pt, 595.2756, 1e-4);
  EXPECT_NEAR(a4.sheet_height_pt, 841.8898, 1e-4);
}

// One red 4 x 4 block on each of `pages` pages.
bool print_pages(pp::Device& d, int pages) {
  std::vector<uint32_t> red(16, 0xFF0000u);
  if (!d.start_doc("Test")) return false;
  for (int p = 0; p < pages; ++p)
    if (!d.start_page() || !d.blit_xrgb(0, 0, 4, 4, reinterpret_cast<const uint8_t*>(red.data()), 16) ||
        !d.end_page())
      return false;
  return d.end_doc();
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void write_text(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PrintFile, ReplacesTheTargetOnlyWithAWholeDocument) {
  const std::string dir = testenv::sandbox_dir("print-file");
  const std::string target = dir + "/doc.pdf";
  const pp::PrinterSettings s = sheet(2100, 2970, 72);
  write_text(target, "old");

  {  // Dropped halfway: the old file stays, nothing else is left.
    auto d = pp::make_pdf_file_device(target, s);
    ASSERT_TRUE(d->start_doc("Dropped"));
    ASSERT_TRUE(d->start_page());
    d->abort();
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"doc.pdf"});
    EXPECT_EQ(read_text(target), "old");
  }
  {  // Destroyed with a document open: the same.
    auto d = pp::make_pdf_file_device(target, s);
    ASSERT_TRUE(d->start_doc("Destroyed"));
    d.reset();
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"doc.pdf"});
  }
  {  // No pages: nothing to write.
    auto d = pp::make_pdf_file_device(target, s);
    EXPECT_TRUE(print_pages(*d, 0));
    EXPECT_EQ(read_text(target), "old");
  }
  {  // A whole document replaces it.
    auto d = pp::make_pdf_file_device(target, s);
    EXPECT_TRUE(print_pages(*d, 3));
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"doc.pdf"});
    EXPECT_EQ(testenv::file_head(target, 5), "%PDF-");
    testenv::PdfInfo info;
    if (testenv::have_program("pdfinfo")) {
      ASSERT_TRUE(testenv::pdf_info(target, info));
      EXPECT_EQ(info.pages, 3);
    }
  }
}

TEST(PrintFile, FailuresLeaveNoTemporaryFile) {
  const std::string dir = testenv::sandbox_dir("print-file-fail");
  const pp::PrinterSettings s = sheet(2100, 2970, 72);
  {  // A missing folder: the document cannot start.
    auto d = pp::make_pdf_file_device(dir + "/missing/doc.pdf", s);
    EXPECT_FALSE(d->start_doc("Doc"));
    EXPECT_FALSE(d->start_page());
  }
  {  // The target is a folder: the rename fails at the end.
    fs::create_directory(dir + "/taken");
    auto d = pp::make_pdf_file_device(dir + "/taken", s);
    EXPECT_FALSE(print_pages(*d, 1));
    EXPECT_TRUE(fs::is_directory(dir + "/taken"));
    // The device is idle again and can print elsewhere afterwards.
    EXPECT_FALSE(d->end_doc());
  }
  EXPECT_EQ(names_in(dir), std::vector<std::string>{"taken"});
  EXPECT_EQ(pp::make_pdf_file_device("", s), nullptr);
}

// The file device goes through the platform's durable replacement: its
// temporary name fits whatever the target's name, and a write that fails
// halfway leaves the old document.
TEST(PrintFile, LongNamesAndFailedWritesKeepTheOldDocument) {
  const std::string dir = testenv::sandbox_dir("print-file-durable");
  const pp::PrinterSettings s = sheet(2100, 2970, 72);
  const std::string name = std::string(251, 'n') + ".pdf";  // 255 bytes, the most a name may have
  {
    auto d = pp::make_pdf_file_device(dir + "/" + name, s);
    EXPECT_TRUE(print_pages(*d, 1));
    EXPECT_EQ(names_in(dir), std::vector<std::string>{name});
    EXPECT_EQ(testenv::file_head(dir + "/" + name, 5), "%PDF-");
  }

  const std::string target = dir + "/doc.pdf";
  write_text(target, "old");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // under a file-size limit of 200 bytes
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = {200, 200};
    setrlimit(RLIMIT_FSIZE, &lim);
    auto d = pp::make_pdf_file_device(target, s);
    _exit(print_pages(*d, 2) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the document was reported as printed";
  EXPECT_EQ(read_text(target), "old");
  EXPECT_EQ(names_in(dir), (std::vector<std::string>{"doc.pdf", name}));
}

TEST(PrintDevice, CallsOutOfOrderAreRefused) {
  const std::string dir = testenv::sandbox_dir("print-order");
  auto d = pp::make_pdf_file_device(dir + "/doc.pdf", sheet(2100, 2970, 72));
  std::vector<uint32_t> px(4, 0);
  const auto* rows = reinterpret_cast<const uint8_t*>(px.data());
  EXPECT_FALSE(d->start_page());
  EXPECT_FALSE(d->end_page());
  EXPECT_FALSE(d->end_doc());
  EXPECT_FALSE(d->blit_xrgb(0, 0, 2, 2, rows, 8));
  ASSERT_TRUE(d->start_doc("Doc"));
  EXPECT_FALSE(d->start_doc("Doc"));
  EXPECT_FALSE(d->end_page());
  EXPECT_FALSE(d->blit_xrgb(0, 0, 2, 2, rows, 8));
  ASSERT_TRUE(d->start_page());
  EXPECT_FALSE(d->end_doc());
  EXPECT_FALSE(d->blit_xrgb(0, 0, 2, 2, rows, 7));  // stride below the row
  EXPECT_FALSE(d->blit_xrgb(0, 0, 0, 2, rows, 8));
  EXPECT_FALSE(d->blit_xrgb(0, 0, 2, 2, nullptr, 8));
  EXPECT_TRUE(d->blit_xrgb(0, 0, 2, 2, rows, 8));
  EXPECT_TRUE(d->end_page());
  EXPECT_TRUE(d->end_doc());
}

TEST(PrintCups, JobOptionsFollowTheSettings) {
  struct Case {
    const char* name;
    int32_t copies;
    int16_t collate;
    const char* media;
    int16_t color;
    pp::JobOptions expected;
  } cases[] = {
      {"monochrome letter",
       2,
       0,
       "na_letter_8.5x11in",
       pp::kColorMonochrome,
       {{"copies", "2"},
        {"multiple-document-handling", "separate-documents-uncollated-copies"},
        {"media", "na_letter_8.5x11in"},
        {"print-color-mode", "monochrome"}}},
      {"colour, no media, no copies",
       0,
       1,
       "",
       pp::kColorColor,
       {{"copies", "1"}, {"multiple-document-handling", "separate-documents-collated-copies"}}},
      {"copies are 16 bits", 70000, 1, "", pp::kColorColor,
       {{"copies", "32767"}, {"multiple-document-handling", "separate-documents-collated-copies"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pp::PrinterSettings s;
    s.copies = c.copies;
    s.collate = c.collate;
    s.media = c.media;
    s.color = c.color;
    EXPECT_EQ(pp::job_options(s), c.expected);
  }
}

class PrintCupsSubmit : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TMPDIR", tmp.c_str(), 1);
    pp::cups_set_submit_seam([this](const std::string& queue, const std::string& file, const std::string& title,
                                    const pp::JobOptions& options) {
      Sent s{queue, file, title, options, testenv::file_head(file, 5)};
      sent.push_back(s);
      return job_id;
    });
  }
  void TearDown() override { pp::cups_set_submit_seam(nullptr); }

  struct Sent {
    std::string queue, file, title;
    pp::JobOptions options;
    std::string head;
  };
  testenv::SavedEnv saved{"TMPDIR"};
  std::string tmp = testenv::sandbox_dir("cups-tmp");
  std::vector<Sent> sent;
  int job_id = 7;
};

TEST_F(PrintCupsSubmit, SendsTheDocumentWithItsOptionsAndDeletesIt) {
  pp::PrinterSettings s = sheet(2100, 2970, 72);
  s.copies = 2;
  s.collate = 1;
  s.media = "iso_a4_210x297mm";
  const pp::JobOptions destination = {{"sides", "two-sided-long-edge"},
                                      {"orientation-requested", "4"},
                                      {"copies", "5"},
                                      {"print-color-mode", "monochrome"},
                                      {"collate", "false"}};
  for (int answer : {7, 0}) {
    SCOPED_TRACE("job id " + std::to_string(answer));
    job_id = answer;
    sent.clear();
    auto d = pp::make_cups_device("Office/draft", s, destination);
    EXPECT_EQ(print_pages(*d, 2), answer > 0);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].queue, "Office");
    EXPECT_EQ(sent[0].title, "Test");
    EXPECT_EQ(sent[0].head, "%PDF-");
    EXPECT_EQ(fs::path(sent[0].file).parent_path(), fs::path(tmp));
    const pp::JobOptions expected = {{"sides", "two-sided-long-edge"},
                                     {"copies", "2"},
                                     {"multiple-document-handling", "separate-documents-collated-copies"},
                                     {"media", "iso_a4_210x297mm"}};
    EXPECT_EQ(sent[0].options, expected);
    EXPECT_TRUE(names_in(tmp).empty());
  }
}

TEST_F(PrintCupsSubmit, DroppedOrEmptyDocumentsAreNotSent) {
  const pp::PrinterSettings s = sheet(2100, 2970, 72);
  {
    auto d = pp::make_cups_device("Office", s);
    ASSERT_TRUE(d->start_doc("Dropped"));
    ASSERT_TRUE(d->start_page());
    d->abort();
  }
  {
    auto d = pp::make_cups_device("Office", s);
    ASSERT_TRUE(d->start_doc("Destroyed"));
  }
  {
    auto d = pp::make_cups_device("Office", s);
    EXPECT_TRUE(print_pages(*d, 0));
  }
  EXPECT_TRUE(sent.empty());
  EXPECT_TRUE(names_in(tmp).empty());
  EXPECT_EQ(pp::make_cups_device("", s), nullptr);
}

TEST(PrintCups, WithoutAPrintServerNoPrinterIsFound) {
  testenv::SavedEnv saved({"CUPS_SERVER", "PRINTER", "LPDEST"});
  setenv("CUPS_SERVER", (testenv::sandbox_root() + "/no-cupsd.sock").c_str(), 1);
  unsetenv("PRINTER");
  unsetenv("LPDEST");
  pp::Backend& cups = pp::cups_backend();
  pp::DefaultPrinter d;
  EXPECT_FALSE(cups.default_printer(d));
  pp::PrinterSettings s;
  EXPECT_FALSE(cups.printer_settings("Office", s));
  EXPECT_FALSE(cups.printer_settings("", s));
  EXPECT_EQ(cups.create_device({"Office", "cups", ""}, s), nullptr);
  pp::DialogResult r;
  EXPECT_FALSE(cups.run_dialog(pp::DialogRequest(), r));
}

TEST(PrintBackend, TheProcessBackendHasNoPrintersUntilOneIsInstalled) {
  pp::DefaultPrinter d;
  EXPECT_FALSE(pp::backend().default_printer(d));
  pp::PdfFileBackend file(testenv::sandbox_dir("backend") + "/x.pdf", [] {
    pp::PrinterSettings s;
    s.device_name = "PDF";
    return s;
  }());
  pp::set_backend(&file);
  EXPECT_TRUE(pp::backend().default_printer(d));
  EXPECT_EQ(d.id.device, "PDF");
  EXPECT_EQ(d.id.driver, "pdf");
  pp::set_backend(nullptr);
  EXPECT_FALSE(pp::backend().default_printer(d));
}

}  // namespace
