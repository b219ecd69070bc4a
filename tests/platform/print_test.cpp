// The printing layer of the host: sheet metrics, the PDF file device and the
// CUPS device with its submission behind the seam.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cups_server.h"
#include "pdf_tools.h"
#include "plat_print.h"
#include "plat_print_host.h"
#include "print_server_standin.h"
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
      {"landscape turns the margins", sheet(2100, 2970, 300, {500, 1000, 1500, 2000}, pp::kOrientLandscape), 300, 3508,
       2480, 236, 59, 3154, 2244},
      {"no size is A4", sheet(0, 2970, 300), 300, 2480, 3508, 0, 0, 2480, 3508},
      {"negative size is A4", sheet(-5, -5, 300), 300, 2480, 3508, 0, 0, 2480, 3508},
      {"huge size is cut", sheet(2100, 2000000000, 10), 10, 83, 3937, 0, 0, 83, 3937},
      {"margins over the sheet", sheet(2100, 2970, 300, {30000, 40000, 30000, 40000}), 300, 2480, 3508, 2480, 3508, 0,
       0},
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

// Paper codes by PWG name, in the spellings of CUPS and of GTK, and back.
TEST(PrintPaper, CodesOfTheCommonSizes) {
  const std::pair<const char*, int16_t> cases[] = {
      // clang-format off
      {"iso_a4_210x297mm", 9}, {"iso_a4", 9},          {"na_letter_8.5x11in", 1}, {"na_letter", 1},
      {"na_legal_8.5x14in", 5}, {"na_number-10_4.125x9.5in", 20}, {"iso_a4-extra_235.5x322.3mm", pp::kPaperUser},
      {"iso_a", pp::kPaperUser}, {"custom_100x100mm", pp::kPaperUser}, {"", pp::kPaperUser},
      // clang-format on
  };
  for (const auto& [name, code] : cases) EXPECT_EQ(pp::paper_code_of(name), code) << name;
  for (const int16_t code : {1, 3, 5, 7, 8, 9, 11, 12, 13, 20, 27, 28, 34, 70})
    EXPECT_EQ(pp::paper_code_of(pp::pwg_of_paper_code(code)), code) << code;
  EXPECT_EQ(pp::pwg_of_paper_code(pp::kPaperUser), "");
  EXPECT_EQ(pp::pwg_of_paper_code(2), "");
}

// One red 4 x 4 block on each of `pages` pages.
bool print_pages(pp::Device& d, int pages) {
  std::vector<uint32_t> red(16, 0xFF0000u);
  if (!d.start_doc("Test")) return false;
  for (int p = 0; p < pages; ++p)
    if (!d.start_page() || !d.blit_xrgb(0, 0, 4, 4, reinterpret_cast<const uint8_t*>(red.data()), 16) || !d.end_page())
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
       {{"copies", "1"},
        {"multiple-document-handling", "separate-documents-collated-copies"},
        {"print-color-mode", "color"}}},
      // clang-format off
      {"copies are 16 bits", 70000, 1, "", pp::kColorColor,
       // clang-format on
       {{"copies", "32767"},
        {"multiple-document-handling", "separate-documents-collated-copies"},
        {"print-color-mode", "color"}}},
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
                                     {"media", "iso_a4_210x297mm"},
                                     {"print-color-mode", "color"}};
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

// The paper of a queue: the user's choice in any of its names, as the
// server lists it (with margins, or only without), else the server's
// default, else on a queue that lists no sizes the system's paper.
pp::CupsMedia size(const char* name, int32_t w, int32_t l, int32_t margin) {
  return pp::CupsMedia{name, w, l, {margin, margin, margin, margin}};
}

pp::CupsDestination office(pp::JobOptions options, bool letter_default = true) {
  pp::CupsDestination d;
  d.name = "Office";
  d.options = std::move(options);
  d.has_info = true;
  d.media = {size("iso_a4_210x297mm", 21000, 29700, 420), size("na_letter_8.5x11in", 21590, 27940, 635)};
  d.borderless = {size("iso_a4_210x297mm", 21000, 29700, 0), size("na_letter_8.5x11in", 21590, 27940, 0)};
  d.has_default_media = true;
  d.default_media = letter_default ? d.media[1] : d.media[0];
  return d;
}

TEST(PrintCupsSettings, ThePaperTheUserChose) {
  testenv::SavedEnv saved({"PAPERSIZE", "PAPERCONF"});
  pp::CupsDestination photo;  // lists its sizes only without margins
  photo.name = "Photo";
  photo.has_info = true;
  photo.borderless = {size("na_index-4x6_4x6in", 10160, 15240, 0), size("na_letter_8.5x11in", 21590, 27940, 0)};
  pp::CupsDestination raw;  // names no size at all
  raw.name = "Raw";
  struct Case {
    const char* name;
    pp::CupsDestination dest;
    const char* papersize;
    const char* media;  // what a job would send
    int32_t width, length;
    const char* form;
    int16_t code;
    int32_t margin;
  } cases[] = {
      {"ordinary name", office({{"media", "A4"}}), "letter", "iso_a4_210x297mm", 2100, 2970, "A4", 9, 420},
      {"lower-case name", office({{"media", "a4"}}), "letter", "iso_a4_210x297mm", 2100, 2970, "A4", 9, 420},
      {"legacy name", office({{"media", "iso-a4"}}, false), "letter", "iso_a4_210x297mm", 2100, 2970, "A4", 9, 420},
      {"PWG name", office({{"media", "na_letter_8.5x11in"}}, false), "a4", "na_letter_8.5x11in", 2159, 2794, "Letter",
       1, 635},
      {"name with a source", office({{"media", "tray-2,Letter"}}, false), "a4", "na_letter_8.5x11in", 2159, 2794,
       "Letter", 1, 635},
      {"PageSize", office({{"PageSize", "A4"}}), "letter", "iso_a4_210x297mm", 2100, 2970, "A4", 9, 420},
      {"PPD name with a variant", office({{"PageSize", "Letter.Borderless"}}, false), "a4", "na_letter_8.5x11in", 2159,
       2794, "Letter", 1, 635},
      {"media before PageSize", office({{"PageSize", "A4"}, {"media", "Letter"}}, false), "a4", "na_letter_8.5x11in",
       2159, 2794, "Letter", 1, 635},
      {"borderless only",
       [&] {
         pp::CupsDestination d = photo;
         d.options = {{"media", "Letter"}};
         return d;
       }(),
       "a4", "na_letter_8.5x11in", 2159, 2794, "Letter", 1, 0},
      {"borderless only, chosen",
       [&] {
         pp::CupsDestination d = photo;
         d.options = {{"media", "4x6"}};
         return d;
       }(),
       "a4", "na_index-4x6_4x6in", 1016, 1524, "4x6", pp::kPaperUser, 0},
      {"not listed: the size without a name", office({{"media", "Legal"}}), "a4", "", 2159, 3556, "Legal", 5, 0},
      {"no choice: the server's default", office({}), "a4", "na_letter_8.5x11in", 2159, 2794, "Letter", 1, 635},
      {"unknown name: the server's default", office({{"media", "Napkin"}}, false), "letter", "iso_a4_210x297mm", 2100,
       2970, "A4", 9, 420},
      {"raw queue: the system's paper", raw, "letter", "", 2159, 2794, "Letter", 1, 0},
      {"raw queue, A4 system", raw, "a4", "", 2100, 2970, "A4", 9, 0},
      {"raw queue, the user's paper",
       [&] {
         pp::CupsDestination d = raw;
         d.options = {{"PageSize", "Legal"}};
         return d;
       }(),
       "a4", "", 2159, 3556, "Legal", 5, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    setenv("PAPERSIZE", c.papersize, 1);
    const pp::PrinterSettings s = pp::cups_destination_settings("Office", c.dest);
    EXPECT_EQ(s.media, c.media);
    EXPECT_EQ(s.paper_width, c.width);
    EXPECT_EQ(s.paper_length, c.length);
    EXPECT_EQ(s.form_name, c.form);
    EXPECT_EQ(s.paper_size, c.code);
    EXPECT_EQ(s.margins.left, c.margin);
    EXPECT_TRUE(s.paper_width_given && s.paper_length_given && s.paper_size_given);
  }
}

// A job names one paper: the settings' media replaces the destination's
// media, PageSize and PageRegion; without a media of the settings the
// user's own options travel as they are.
TEST_F(PrintCupsSubmit, AJobNamesOnePaper) {
  testenv::SavedEnv env({"PAPERSIZE"});
  setenv("PAPERSIZE", "a4", 1);
  pp::CupsDestination dest = office({{"PageSize", "A4"}, {"PageRegion", "A4"}, {"sides", "one-sided"}});
  pp::cups_set_lookup_seam([&](const std::string& name, bool, pp::CupsDestination& out) {
    if (name != "Office") return pp::CupsLookup::NotFound;
    out = dest;
    return pp::CupsLookup::Found;
  });
  pp::Backend& cups = pp::cups_backend();
  for (const bool listed : {true, false}) {
    SCOPED_TRACE(listed ? "listed" : "not listed");
    sent.clear();
    if (!listed) dest.media.clear(), dest.borderless.clear();
    pp::PrinterSettings s;
    ASSERT_TRUE(cups.printer_settings("Office", s));
    EXPECT_EQ(s.paper_width, 2100);
    auto d = cups.create_device({"Office", "cups", ""}, s);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(print_pages(*d, 1));
    ASSERT_EQ(sent.size(), 1u);
    std::vector<std::string> paper;
    for (const auto& [n, v] : sent[0].options)
      if (n == "media" || n == "PageSize" || n == "PageRegion") paper.push_back(n + "=" + v);
    const std::vector<std::string> expected = listed ? std::vector<std::string>{"media=iso_a4_210x297mm"}
                                                     : std::vector<std::string>{"PageSize=A4", "PageRegion=A4"};
    EXPECT_EQ(paper, expected);
  }
  pp::cups_set_lookup_seam(nullptr);
}

// The paper a dialog chose replaces the user's own, with the server's
// margins for it.
TEST(PrintCups, APaperChosenInTheDialogTakesTheServersMargins) {
  pp::cups_set_lookup_seam([](const std::string& name, bool, pp::CupsDestination& out) {
    if (name != "Office") return pp::CupsLookup::NotFound;
    out = office({{"PageSize", "A4"}, {"media", "A4"}});
    return pp::CupsLookup::Found;
  });
  pp::PrinterSettings s;
  ASSERT_TRUE(pp::cups_printer_settings_for_paper("Office", "na_letter", s));
  EXPECT_EQ(s.media, "na_letter_8.5x11in");
  EXPECT_EQ(s.paper_width, 2159);
  EXPECT_EQ(s.margins.left, 635);
  EXPECT_FALSE(pp::cups_printer_settings_for_paper("Ghost", "na_letter", s));
  EXPECT_EQ(pp::cups_backend().failure(), "the printer Ghost does not exist");
  pp::cups_set_lookup_seam(nullptr);
}

// Why no printer can be had, in words the user can act on: every reason
// names the printer that was looked for.
TEST(PrintCups, FailuresSayWhy) {
  testenv::SavedEnv saved({"PRINTER", "LPDEST", "HOME", "CUPS_SERVERROOT"});
  const std::string home = testenv::sandbox_dir("cups-home");
  setenv("HOME", home.c_str(), 1);
  setenv("CUPS_SERVERROOT", (home + "/no-system-options").c_str(), 1);
  fs::create_directories(home + "/.cups");
  struct Case {
    const char* name;
    pp::CupsLookup answer;
    const char* printer_env;
    const char* lpdest_env;
    const char* lpoptions;       // the user's lpoptions; nullptr: none
    const char* server_default;  // the name the look-up found as the server's default
    const char* reason;
  } cases[] = {
      {"no printer", pp::CupsLookup::NoDefault, nullptr, nullptr, nullptr, nullptr, "no printer is set up"},
      {"no server", pp::CupsLookup::NoServer, nullptr, nullptr, nullptr, nullptr, "the print server does not answer"},
      {"unknown PRINTER", pp::CupsLookup::NoDefault, "Ghost", nullptr, nullptr, nullptr,
       "the printer Ghost does not exist"},
      {"PRINTER the server does not know", pp::CupsLookup::NotFound, "nosuch", nullptr, nullptr, nullptr,
       "the printer nosuch does not exist"},
      {"LPDEST before PRINTER", pp::CupsLookup::NotFound, "nosuch", "Other/draft", nullptr, nullptr,
       "the printer Other/draft does not exist"},
      {"PRINTER=lp names none: the lpoptions default", pp::CupsLookup::NotFound, "lp", nullptr, "Default Gone/x\n",
       nullptr, "the printer Gone/x does not exist"},
      {"the server's default", pp::CupsLookup::NotFound, nullptr, nullptr, nullptr, "Queue",
       "the printer Queue does not exist"},
      {"no name at all", pp::CupsLookup::NotFound, nullptr, nullptr, nullptr, nullptr,
       "the default printer does not exist"},
  };
  pp::Backend& cups = pp::cups_backend();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [var, value] : {std::pair{"PRINTER", c.printer_env}, std::pair{"LPDEST", c.lpdest_env}}) {
      if (value != nullptr)
        setenv(var, value, 1);
      else
        unsetenv(var);
    }
    fs::remove(home + "/.cups/lpoptions");
    if (c.lpoptions != nullptr) write_text(home + "/.cups/lpoptions", c.lpoptions);
    pp::cups_set_lookup_seam([&](const std::string&, bool, pp::CupsDestination& out) {
      if (c.server_default != nullptr) out.name = c.server_default;
      return c.answer;
    });
    pp::DefaultPrinter d;
    EXPECT_FALSE(cups.default_printer(d));
    EXPECT_EQ(cups.failure(), c.reason);
  }
  pp::cups_set_lookup_seam([](const std::string&, bool, pp::CupsDestination&) { return pp::CupsLookup::NotFound; });
  pp::PrinterSettings s;
  EXPECT_FALSE(cups.printer_settings("Office", s));
  EXPECT_EQ(cups.failure(), "the printer Office does not exist");
  EXPECT_EQ(cups.create_device({"Office/draft", "cups", ""}, s), nullptr);
  EXPECT_EQ(cups.failure(), "the printer Office/draft does not exist");
  pp::cups_set_lookup_seam(nullptr);
}

// A job that cannot be made or is refused names the folder or the printer.
TEST_F(PrintCupsSubmit, JobFailuresNameWhatFailed) {
  const pp::PrinterSettings s = sheet(2100, 2970, 72);
  job_id = 0;
  auto refused = pp::make_cups_device("Office/draft", s);
  EXPECT_FALSE(print_pages(*refused, 1));
  EXPECT_EQ(refused->failure(), "the print server refused the job for the printer Office/draft");
  setenv("TMPDIR", (tmp + "/missing").c_str(), 1);
  auto nowhere = pp::make_cups_device("Office", s);
  EXPECT_FALSE(print_pages(*nowhere, 1));
  EXPECT_EQ(nowhere->failure(), "the print file in " + tmp + "/missing cannot be created: No such file or directory");
  EXPECT_TRUE(names_in(tmp).empty());
}

// Begins a document on the device `make` builds in a forked child and kills
// the child with SIGKILL once its first page is written: the child's process
// id once it is reaped (-1 when it could not run), `begun` 'y' when the
// document was begun.
template <class Make>
pid_t print_killed_halfway(const Make& make, char& begun) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    auto d = make();
    std::vector<uint32_t> px(16, 0);
    const bool ok = d->start_doc("Killed") && d->start_page() &&
                    d->blit_xrgb(0, 0, 4, 4, reinterpret_cast<const uint8_t*>(px.data()), 16);
    const char c = ok ? 'y' : 'n';
    if (::write(ready[1], &c, 1) != 1) _exit(1);
    for (;;) pause();
  }
  ::close(ready[1]);
  const bool said = child > 0 && ::read(ready[0], &begun, 1) == 1;
  ::close(ready[0]);
  if (child <= 0) return -1;
  ::kill(child, SIGKILL);
  if (waitpid(child, nullptr, 0) != child || !said) return -1;
  return child;
}

// A CUPS print killed halfway leaves its temporary file, named with its
// process id; the next CUPS print into that folder removes it, and leaves
// what is not such a file of an ended process of this user.
TEST_F(PrintCupsSubmit, APrintKilledHalfwayLeavesNothingOnceTheNextHasRun) {
  const pp::PrinterSettings s = sheet(2100, 2970, 72);
  char c = 0;
  const pid_t child = print_killed_halfway([&] { return pp::make_cups_device("Office", s); }, c);
  ASSERT_GT(child, 0);
  EXPECT_EQ(c, 'y');
  const std::vector<std::string> left = names_in(tmp);
  ASSERT_EQ(left.size(), 1u) << "the killed print's file is there";
  EXPECT_EQ(left[0].rfind("qlm-print-" + std::to_string(child) + "-", 0), 0u) << left[0];
  EXPECT_EQ(left[0].size(), std::string("qlm-print--XXXXXX").size() + std::to_string(child).size());

  // Beside it: the file of a running process, one without a process id,
  // a link and a folder with the name of an ended process's file, and (as
  // root) a file of another user.
  const std::string dead = "qlm-print-" + std::to_string(child) + "-";
  std::vector<std::string> kept = {"qlm-print-" + std::to_string(getppid()) + "-abcdef", "qlm-print-abcdef",
                                   dead + "link00", dead + "dir000"};
  write_text(tmp + "/" + kept[0], "running");
  write_text(tmp + "/" + kept[1], "unknown");
  fs::create_symlink(tmp + "/" + kept[0], tmp + "/" + kept[2]);
  fs::create_directory(tmp + "/" + kept[3]);
  if (geteuid() == 0) {
    kept.push_back(dead + "theirs");
    write_text(tmp + "/" + kept.back(), "another user's");
    ASSERT_EQ(chown((tmp + "/" + kept.back()).c_str(), 65534, 65534), 0);
  }
  std::sort(kept.begin(), kept.end());
  auto d = pp::make_cups_device("Office", s);
  EXPECT_TRUE(print_pages(*d, 1));
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(names_in(tmp), kept);
}

// A server that accepts and never answers: every call gives up within the
// bounded wait, with the reason.
TEST(PrintCups, ASilentServerIsAFailureNotAHang) {
  testenv::SavedEnv saved({"PRINTER", "LPDEST", "TMPDIR"});
  unsetenv("PRINTER");
  unsetenv("LPDEST");
  const std::string tmp = testenv::sandbox_dir("cups-silent");
  setenv("TMPDIR", tmp.c_str(), 1);
  testenv::SilentPrintServer server;
  ASSERT_TRUE(server.Ok());
  pp::Backend& cups = pp::cups_backend();
  using Clock = std::chrono::steady_clock;
  const auto bound = std::chrono::duration<double>(2 * pp::kServerWaitSeconds + 1);

  auto start = Clock::now();
  pp::DefaultPrinter d;
  EXPECT_FALSE(cups.default_printer(d));
  EXPECT_EQ(cups.failure(), "the print server does not answer");
  EXPECT_LT(Clock::now() - start, bound);

  start = Clock::now();
  auto device = pp::make_cups_device("Office", sheet(2100, 2970, 72));
  EXPECT_FALSE(print_pages(*device, 1));
  EXPECT_EQ(device->failure(), "the print server does not answer");
  EXPECT_LT(Clock::now() - start, bound);
  EXPECT_TRUE(names_in(tmp).empty());
}

// A print killed halfway leaves its temporary file beside the target; the
// next print into that folder removes it.
TEST(PrintFile, APrintKilledHalfwayLeavesNothingOnceTheNextHasRun) {
  const std::string dir = testenv::sandbox_dir("print-file-killed");
  const std::string target = dir + "/doc.pdf";
  char c = 0;
  const pid_t child = print_killed_halfway([&] { return pp::make_pdf_file_device(target, sheet(2100, 2970, 72)); }, c);
  ASSERT_GT(child, 0);
  EXPECT_EQ(c, 'y');
  ASSERT_EQ(names_in(dir).size(), 1u) << "the killed print left no temporary file";
  EXPECT_NE(names_in(dir)[0], "doc.pdf");

  auto d = pp::make_pdf_file_device(dir + "/other.pdf", sheet(2100, 2970, 72));
  EXPECT_TRUE(print_pages(*d, 1));
  EXPECT_EQ(names_in(dir), std::vector<std::string>{"other.pdf"});
}

// Queues of a print server of our own that list their sizes, as a user sets
// them up: raw, the CUPS-PDF driver (its default A4), the generic PDF
// driver with its default Letter and with A4 made its default. Each job is
// read back as the server received it: its media and colour mode, and the
// pages of the document it keeps.
class PrintCupsQueues : public ::testing::Test {
 protected:
  static constexpr const char* kCupsPdf = "/usr/share/ppd/cups-pdf/CUPS-PDF_noopt.ppd";
  static constexpr const char* kGenericPdf = "/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd";

  void SetUp() override {
    for (const char* ppd : {kCupsPdf, kGenericPdf})
      if (::access(ppd, R_OK) != 0) GTEST_SKIP() << ppd << " is not installed (tools/setup.sh installs it)";
    saved_.emplace(std::initializer_list<const char*>{"PRINTER", "LPDEST", "CUPS_SERVERROOT", "PAPERSIZE"});
    unsetenv("PRINTER");
    unsetenv("LPDEST");
    setenv("PAPERSIZE", "a4", 1);
    const std::string folder = testenv::sandbox_dir("cupsd");
    setenv("CUPS_SERVERROOT", folder.c_str(), 1);  // no lpoptions of the machine
    server_.emplace(folder);
    if (!server_->Ok()) GTEST_SKIP() << server_->Why();
    ASSERT_TRUE(server_->AddQueue("Raw"));
    ASSERT_TRUE(server_->AddQueue("CupsPdf", kCupsPdf));
    ASSERT_TRUE(server_->AddQueue("Letter", kGenericPdf));
    ASSERT_TRUE(server_->AddQueue("Generic", kGenericPdf, {"PageSize=A4"}));
  }
  void TearDown() override {
    server_.reset();
    saved_.reset();
  }

  // Prints three pages to `queue` with the settings; the job as the server
  // holds it.
  testenv::CupsJob Print(const std::string& queue, const pp::PrinterSettings& s) {
    auto device = pp::cups_backend().create_device({queue, "cups", ""}, s);
    EXPECT_NE(device, nullptr) << pp::cups_backend().failure();
    if (device == nullptr) return {};
    EXPECT_TRUE(print_pages(*device, 3)) << device->failure();
    const std::vector<testenv::CupsJob> jobs = server_->Jobs(queue);
    EXPECT_FALSE(jobs.empty());
    return jobs.empty() ? testenv::CupsJob() : jobs.back();
  }

  std::optional<testenv::SavedEnv> saved_;
  std::optional<testenv::PrivateCupsServer> server_;
};

struct QueuePaper {
  const char* queue;
  const char* form;  // the printer line's paper
  int32_t width, length;
  const char* media;  // what the job carries, "" for none
  double width_pt, length_pt;
  const char* color = nullptr;  // the job's colour mode, when checked
};

// Without a choice: the queue's own default paper, the same on the printer
// line, on the pages and in the job.
TEST_F(PrintCupsQueues, TheDefaultQueuesOwnPaperEverywhere) {
  const QueuePaper cases[] = {
      {"Generic", "A4", 2100, 2970, "iso_a4_210x297mm", 595.28, 841.89, "monochrome"},
      {"Letter", "Letter", 2159, 2794, "na_letter_8.5x11in", 612, 792, "monochrome"},
      {"CupsPdf", "A4", 2100, 2970, "iso_a4_210x297mm", 595.28, 841.89, "color"},
      {"Raw", "A4", 2100, 2970, "", 595.28, 841.89, "monochrome"},  // the system's paper
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.queue);
    ASSERT_TRUE(server_->SetDefault(c.queue));
    pp::DefaultPrinter printer;
    ASSERT_TRUE(pp::cups_backend().default_printer(printer)) << pp::cups_backend().failure();
    EXPECT_EQ(printer.id.device, c.queue);
    pp::PrinterSettings s;
    ASSERT_TRUE(pp::cups_backend().printer_settings(printer.id.device, s));
    EXPECT_EQ(s.form_name, c.form);
    EXPECT_EQ(s.paper_width, c.width);
    EXPECT_EQ(s.paper_length, c.length);
    const testenv::CupsJob job = Print(c.queue, s);
    EXPECT_EQ(job.media, c.media);
    EXPECT_EQ(job.print_color_mode, c.color);  // the queue's own, as the server says it
    testenv::PdfInfo info;
    ASSERT_TRUE(testenv::pdf_info(job.document, info)) << job.document;
    EXPECT_EQ(info.pages, 3);
    EXPECT_NEAR(info.width_pt, c.width_pt, 0.5);
    EXPECT_NEAR(info.height_pt, c.length_pt, 0.5);
  }
}

// A paper the print dialog chose, by its name there ("iso_a4", "na_letter")
// and its size in hundredths of a millimetre: exactly that paper, listed or
// not, on every queue.
TEST_F(PrintCupsQueues, ThePaperChosenInTheDialogIsThePaperOfTheJob) {
  struct Case {
    const char* name;
    const char* gtk;
    int32_t w, l;
    QueuePaper expected;
  } cases[] = {
      {"A4 on a Letter queue",
       "iso_a4",
       21000,
       29700,
       {"Letter", "A4", 2100, 2970, "iso_a4_210x297mm", 595.28, 841.89}},
      {"Letter on an A4 queue",
       "na_letter",
       21590,
       27940,
       {"Generic", "Letter", 2159, 2794, "na_letter_8.5x11in", 612, 792}},
      {"Letter on the CUPS-PDF queue",
       "na_letter",
       21590,
       27940,
       {"CupsPdf", "Letter", 2159, 2794, "na_letter_8.5x11in", 612, 792}},
      {"A5 on the CUPS-PDF queue, which lists another size",
       "iso_a5",
       14800,
       21000,
       {"CupsPdf", "A5", 1480, 2100, "iso_a5_148x210mm", 419.53, 595.28}},
      {"a size no queue lists",
       "custom_200x250mm",
       20000,
       25000,
       {"Generic", "200x250mm", 2000, 2500, "custom_200x250mm_200x250mm", 566.93, 708.66}},
      {"A4 on the raw queue", "iso_a4", 21000, 29700, {"Raw", "A4", 2100, 2970, "iso_a4_210x297mm", 595.28, 841.89}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pp::PrinterSettings s;
    ASSERT_TRUE(pp::cups_printer_settings_for_paper(c.expected.queue, c.gtk, s, c.w, c.l));
    EXPECT_EQ(s.form_name, c.expected.form);
    EXPECT_EQ(s.paper_width, c.expected.width);
    EXPECT_EQ(s.paper_length, c.expected.length);
    const testenv::CupsJob job = Print(c.expected.queue, s);
    EXPECT_EQ(job.media, c.expected.media);
    testenv::PdfInfo info;
    ASSERT_TRUE(testenv::pdf_info(job.document, info)) << job.document;
    EXPECT_NEAR(info.width_pt, c.expected.width_pt, 0.5);
    EXPECT_NEAR(info.height_pt, c.expected.length_pt, 0.5);
  }
}

}  // namespace
