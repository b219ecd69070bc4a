// Printing a document of 20 A4 pages at 300 dpi into a PDF file through the
// printer device context, as the print preview prints: each page is one
// 24-bit BGR bitmap of the whole sheet, drawn at the printable corner.
// The page holds lines of text-like strokes, a few filled shapes and a
// picture. The baseline is cairo alone: the same pixels, already in cairo's
// own layout, painted onto a cairo PDF surface written to a file; it is the
// least any cairo PDF output of those pages can cost. Everything cairo does
// is timed, its copy of the page image when the page is drawn again
// (cairo_surface_flush) included; only the bench's own conversion of the
// page into cairo's pixel layout is not (a cairo program would draw in it).
//
// The two sides do not compress alike: ours deflates at zlib's fastest
// level, cairo at zlib's default level (cairo offers no choice). So ours
// also runs with its level raised to the default (a stand-in for zlib's
// deflateInit_ in this program turns level 1 into 6 while that run lasts),
// giving a ratio at equal levels beside the other; every run reports the
// size of its document (MB_per_doc), and the sizes are printed at the end.
//
// Reports the time per page; peak memory is the process's maximum resident
// size, so run one benchmark per process to read it
// (--benchmark_filter=ours or =cairo): it is printed at the end.
#include <benchmark/benchmark.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_ratio.h"
#include "plat_print_host.h"
#include "qlm_bitmap.h"
#include "qlm_printer_dc.h"
#include "qlm_startup.h"

// Set while ours runs at the default level: deflateInit_ below then turns
// level 1 into zlib's default level 6.
bool g_default_level = false;

// zlib's deflateInit_ (what the deflateInit macro calls), defined here so
// that every caller in this program comes through it; the same as zlib's
// own, save the level while g_default_level is set.
extern "C" int deflateInit_(z_streamp stream, int level, const char* version, int stream_size) {
  if (g_default_level && level == Z_BEST_SPEED) level = 6;
  return deflateInit2_(stream, level, Z_DEFLATED, MAX_WBITS, 8, Z_DEFAULT_STRATEGY, version, stream_size);
}

namespace {

constexpr int kPages = 20;

// The size of each side's document (ours, ours-level6, cairo), for the
// summary.
std::map<std::string, double> g_sizes;

std::string target_path() { return "/tmp/qlm-print-bench-" + std::to_string(::getpid()) + ".pdf"; }

double file_megabytes(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? double(st.st_size) / 1e6 : 0.0;
}

void set_counters(benchmark::State& state, double megabytes) {
  state.counters["ms_per_page"] = benchmark::Counter(
      double(kPages) * 1e-3, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["MB_per_doc"] = benchmark::Counter(megabytes);
}

plat::print::PrinterSettings a4_settings() {
  plat::print::PrinterSettings s;
  s.device_name = "PDF";
  s.device_name_given = true;
  s.paper_width = 2100;
  s.paper_length = 2970;
  s.paper_width_given = s.paper_length_given = true;
  s.resolution = 300;
  s.margins = {500, 500, 500, 500};
  return s;
}

// One page in 24-bit BGR: white, 60 lines of dark strokes of varying length
// (words), three filled shapes and a 600 x 400 picture with a gradient.
void paint_page(uint8_t* data, int64_t stride, int32_t w, int32_t h, int page) {
  for (int32_t y = 0; y < h; ++y) std::fill(data + y * stride, data + y * stride + int64_t(w) * 3, uint8_t(255));
  auto fill = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t b, uint8_t g, uint8_t r) {
    for (int32_t y = std::max(0, y0); y < std::min(h, y1); ++y)
      for (int32_t x = std::max(0, x0); x < std::min(w, x1); ++x) {
        uint8_t* p = data + y * stride + int64_t(x) * 3;
        p[0] = b, p[1] = g, p[2] = r;
      }
  };
  uint32_t seed = 12345u + uint32_t(page);
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
  for (int line = 0; line < 60; ++line) {
    const int32_t y = 300 + line * 50;
    int32_t x = 250;
    while (x < w - 400) {
      const int32_t word = 40 + int32_t(next() % 160);
      for (int32_t k = 0; k < word; k += 9) fill(x + k, y + int32_t(next() % 6), x + k + 5, y + 28, 20, 20, 20);
      x += word + 25;
    }
  }
  fill(300, 3200, 900, 3300, 200, 60, 20);
  fill(1000, 3150, 1400, 3350, 30, 160, 30);
  fill(1500, 3100, 2200, 3400, 20, 20, 200);
  for (int32_t y = 0; y < 400; ++y)
    for (int32_t x = 0; x < 600; ++x) {
      uint8_t* p = data + (100 + y) * stride + int64_t(1700 + x) * 3;
      p[0] = uint8_t(x * 255 / 600), p[1] = uint8_t(y * 255 / 400), p[2] = uint8_t((x + y + page * 20) & 255);
    }
}

void run_ours(benchmark::State& state, bool default_level) {
  g_default_level = default_level;
  const std::string path = target_path();
  plat::print::PdfFileBackend backend(path, a4_settings());
  for (auto _ : state) {
    cPrinterDC dc(&backend);
    auto page = std::make_unique<cBitmap>(dc.PhysicalWidth(), dc.PhysicalHeight(), cnBitmap24BGR);
    if (dc.State() != 1 || !page->Create()) {
      state.SkipWithError("no device context or no page bitmap");
      break;
    }
    bool ok = dc.StartDoc("Benchmark");
    for (int i = 0; ok && i < kPages; ++i) {
      paint_page(page->Data(), page->Stride(), page->Width(), page->Height(), i);
      ok = dc.StartPage() && dc.DrawBitmap(page.get(), -dc.PrintableArea().x1, -dc.PrintableArea().y1) && dc.EndPage();
    }
    ok = dc.EndDoc() && ok;
    if (!ok) state.SkipWithError("printing failed");
  }
  g_default_level = false;
  const double megabytes = file_megabytes(path);
  ::unlink(path.c_str());
  set_counters(state, megabytes);
  g_sizes[default_level ? "ours-level6" : "ours"] = megabytes;
}

cairo_status_t write_file(void* closure, const unsigned char* data, unsigned int length) {
  return std::fwrite(data, 1, length, static_cast<FILE*>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                             : CAIRO_STATUS_WRITE_ERROR;
}

void run_cairo(benchmark::State& state) {
  const std::string path = target_path();
  const int32_t w = 2480, h = 3508;
  std::vector<uint8_t> bgr(size_t(w) * 3 * h);
  for (auto _ : state) {
    // The page image per document, as ours makes its page bitmap.
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    uint8_t* rows = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
      cairo_surface_destroy(image);
      state.SkipWithError("cannot write the document");
      break;
    }
    cairo_surface_t* pdf = cairo_pdf_surface_create_for_stream(write_file, f, 595.28, 841.89);
    cairo_t* cr = cairo_create(pdf);
    for (int i = 0; i < kPages; ++i) {
      paint_page(bgr.data(), int64_t(w) * 3, w, h, i);
      // cairo's PDF page still refers to the image: the flush makes cairo
      // copy it before it is drawn again, which is cairo's work.
      cairo_surface_flush(image);
      // The same pixels in cairo's layout, outside the timed part of ours
      // too: ours pays for its conversion, this does not.
      state.PauseTiming();
      for (int32_t y = 0; y < h; ++y) {
        const uint8_t* s = bgr.data() + int64_t(y) * w * 3;
        auto* d = reinterpret_cast<uint32_t*>(rows + int64_t(y) * stride);
        for (int32_t x = 0; x < w; ++x, s += 3) d[x] = uint32_t(s[2]) << 16 | uint32_t(s[1]) << 8 | s[0];
      }
      cairo_surface_mark_dirty(image);
      state.ResumeTiming();
      cairo_save(cr);
      cairo_scale(cr, 72.0 / 300, 72.0 / 300);
      cairo_set_source_surface(cr, image, 0, 0);
      cairo_paint(cr);
      cairo_restore(cr);
      cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_finish(pdf);
    if (cairo_surface_status(pdf) != CAIRO_STATUS_SUCCESS) state.SkipWithError("cairo failed");
    cairo_surface_destroy(pdf);
    cairo_surface_destroy(image);
    std::fclose(f);
  }
  const double megabytes = file_megabytes(path);
  ::unlink(path.c_str());
  set_counters(state, megabytes);
  g_sizes["cairo"] = megabytes;
}

}  // namespace

int main(int argc, char** argv) {
  framework_start(argc, argv);
  qlm_bitmap_start();
  const char* ours = "ours/a4_300dpi_20_pages";
  const char* ours_level6 = "ours-level6/a4_300dpi_20_pages";
  const char* cairo = "cairo/a4_300dpi_20_pages";
  benchmark::RegisterBenchmark(ours, run_ours, false)->Unit(benchmark::kMillisecond)->Iterations(1);
  benchmark::RegisterBenchmark(ours_level6, run_ours, true)->Unit(benchmark::kMillisecond)->Iterations(1);
  benchmark::RegisterBenchmark(cairo, run_cairo)->Unit(benchmark::kMillisecond)->Iterations(1);
  const int rc = bench::run_with_ratios(argc, argv, {{ours, cairo}, {ours_level6, cairo}});
  std::printf("document sizes:");
  for (const auto& [side, megabytes] : g_sizes) std::printf(" %s %.1f MB;", side.c_str(), megabytes);
  std::printf(" (ours at zlib level 1, ours-level6 and cairo at level 6)\n");
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak resident size: %ld MB\n", usage.ru_maxrss / 1024);
  framework_stop();
  return rc;
}
