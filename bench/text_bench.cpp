// Cost of measuring text: TextWidth, TextBounds and TextExtents of 1,000
// characters whose glyphs are cached (the rich-text layout measures every
// run of the install log each second). With kerning off (the default) each
// should stay under 20 µs. The baseline is the bare AGG loop over the same
// glyph cache (lookup, kerning when on, advance) with nothing of the
// renderer around it. With kerning on, FreeType's pair lookup for every
// pair costs more than the rest together, in both.
//
// A page of 50 lines of 90 characters at 12 px beside cairo's show_text
// with the same font file, in Liberation Sans (the Arial substitute) and in
// DejaVu Sans, of install-log lines and of licence-agreement prose (more
// distinct letters and so more glyph phases): at least 1.2x cairo's
// throughput. Ours paints each glyph from
// its kept coverage through the solid-colour BGRA mask blend; cairo
// composites its cached A8 glyph masks.
//
// Drawing: DrawText of the same 1,000 characters against a raw AGG glyph
// loop that rasterises and paints each glyph outline at its pen position
// onto the same kind of surface; at least 0.5x the raw loop's throughput,
// and under 5 ms. Plain text paints kept coverage, which the raw loop does
// not keep: the ratio shows what keeping gains, it is not like for like
// (the page against cairo is).
#include <benchmark/benchmark.h>
#include <cairo-ft.h>
#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "agreement_text.h"
#include "bench_ratio.h"
#include "qlm_bitmap.h"
#include "qlm_font_engine.h"
#include "qlm_font_resolver.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"

namespace {

// 1,000 characters of install-log text.
const std::string& log_text() {
  static const std::string text = [] {
    const std::string line = "Copying file C:\\Program Files\\Vendor\\App\\data\\AV-Tables.dat (12,345 bytes) ";
    std::string t;
    while (t.size() < 1000) t += line;
    t.resize(1000);
    return t;
  }();
  return text;
}

struct Measuring {
  Measuring() {
    qlm_renderer_start();
    font.SetFace("Arial", 0, 16);
    r.SetFont(&font);
    r.SetTextAlign(ALIGN_CENTER, ALIGN_CENTER);
    r.SetTextAngle(30);
    r.TextWidth(log_text());  // every glyph cached
  }
  cFontWinTT font;
  cRendererSurface r;
};

Measuring& measuring() {
  static Measuring m;
  return m;
}

// Argument: kerning off (0) or on (1).
void BM_TextWidth(benchmark::State& state) {
  Measuring& m = measuring();
  m.r.SetTextKerning(state.range(0) != 0);
  for (auto _ : state) benchmark::DoNotOptimize(m.r.TextWidth(log_text()));
}

void BM_TextBounds(benchmark::State& state) {
  Measuring& m = measuring();
  m.r.SetTextKerning(state.range(0) != 0);
  rRectD b;
  for (auto _ : state) {
    m.r.TextBounds(log_text(), b);
    benchmark::DoNotOptimize(b);
  }
}

void BM_TextExtentsRotated(benchmark::State& state) {
  Measuring& m = measuring();
  m.r.SetTextKerning(state.range(0) != 0);
  rRectD b;
  for (auto _ : state) {
    m.r.TextExtents(log_text(), false, 100, 15, b);
    benchmark::DoNotOptimize(b);
  }
}

// The bare AGG loop: glyph lookup, kerning and advance.
void BM_RawGlyphLoop(benchmark::State& state) {
  Measuring& m = measuring();
  tFontCacheManager& cache = *m.font.GetCacheManager();
  const std::string& text = log_text();
  const bool kerning = state.range(0) != 0;
  for (auto _ : state) {
    cache.reset_last_glyph();
    double x = 0, y = 0;
    for (unsigned char c : text) {
      const agg::glyph_cache* g = cache.glyph(c);
      if (g == nullptr) continue;
      if (kerning) cache.add_kerning(&x, &y);
      x += g->advance_x;
      y += g->advance_y;
    }
    benchmark::DoNotOptimize(x);
  }
}

// A white BGRA surface as wide as the text, and a renderer drawing on it.
struct Drawing {
  Drawing() : bitmap(8192, 24, cnBitmap32BGRA) {
    qlm_renderer_start();
    bitmap.Create();
    std::memset(bitmap.Data(), 0xFF, size_t(bitmap.Stride()) * size_t(bitmap.Height()));
    surface.Attach(&bitmap, true);
    r.AttachSurface(&surface);
    font.SetFace("Arial", 0, 16);
    r.SetFont(&font);
    r.TextWidth(log_text());
  }
  cBitmap bitmap;
  cSurfaceBitmap surface;
  cFontWinTT font;
  cRendererSurface r;
};

Drawing& drawing() {
  static Drawing d;
  return d;
}

void BM_DrawText(benchmark::State& state) {
  Drawing& d = drawing();
  for (auto _ : state) d.r.DrawText(log_text(), 2, 18, nullptr);
}

// The raw loop: for each glyph its outline at the pen, its curves
// flattened, rasterised and painted in solid black.
void BM_RawGlyphDrawLoop(benchmark::State& state) {
  Drawing& d = drawing();
  tFontCacheManager& cache = *d.font.GetCacheManager();
  agg::rendering_buffer buf(d.bitmap.Data(), unsigned(d.bitmap.Width()), unsigned(d.bitmap.Height()),
                            d.bitmap.Stride());
  agg::pixfmt_bgra32 pf(buf);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  agg::rasterizer_scanline_aa<> ras;
  agg::scanline_u8 sl;
  agg::conv_curve<tFontCacheManager::path_adaptor_type> curves(cache.path_adaptor());
  const std::string& text = log_text();
  for (auto _ : state) {
    cache.reset_last_glyph();
    double x = 2, y = 18;
    for (unsigned char c : text) {
      const agg::glyph_cache* g = cache.glyph(c);
      if (g == nullptr) continue;
      cache.init_embedded_adaptors(g, x, y);
      ras.reset();
      ras.add_path(curves);
      agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(0, 0, 0, 255));
      x += g->advance_x;
      y += g->advance_y;
    }
  }
}

// A page: 50 lines of 90 characters at 12 px, black on white, on a BGRA
// surface; ours through DrawText, cairo's show_text with the same font file
// (the file the resolver gives for the name) at the same pixel size.
constexpr int kPageLines = 50;
constexpr int kLineChars = 90;
constexpr int kPageWidth = 1000;
constexpr int kPageHeight = 720;

// The agreement's section bodies one after the other, as plain prose.
const std::string& prose_text() {
  static const std::string text = [] {
    std::string t;
    for (const char* body : bench::kAgreementBodies) t += body;
    return t;
  }();
  return text;
}

// Argument of the page benchmarks: bit 0 the face (0 Liberation Sans, asked
// for as "Arial"; 1 DejaVu Sans), bit 1 the text (0 install-log lines, 1
// prose). Log lines start 7 characters apart in the log; prose runs on
// from line to line.
std::vector<std::string> page_lines(int64_t which) {
  std::vector<std::string> lines;
  const bool prose = (which & 2) != 0;
  const std::string& text = prose ? prose_text() : log_text();
  for (int i = 0; i < kPageLines; ++i) {
    std::string line;
    const int start = prose ? i * kLineChars : i * 7;
    for (int k = 0; k < kLineChars; ++k) line += text[size_t(start + k) % text.size()];
    lines.push_back(line);
  }
  return lines;
}

const char* page_face(int64_t which) { return (which & 1) == 0 ? "Arial" : "DejaVu Sans"; }
const char* page_text(int64_t which) { return (which & 2) != 0 ? "prose" : "log lines"; }

// cairo's glyphs as ours: outlines unhinted, advances unrounded, grey
// coverage.
void unhinted(cairo_t* cr) {
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
}

// cairo's font face over the FreeType face of the file the resolver gives
// for `which`'s face, or nil. cairo keeps a face in its caches after the
// last reference to it goes (keyed on the FT_Face's address), so the FT_Face
// lives as long as cairo's face does: freed by cairo through the face's user
// data, never by the caller. Freed earlier, a later face opened at the same
// address would be drawn with the old one's glyphs.
cairo_font_face_t* cairo_page_face(int64_t which) {
  static FT_Library library = [] {
    FT_Library l = nullptr;
    return FT_Init_FreeType(&l) == 0 ? l : nullptr;
  }();
  static const cairo_user_data_key_t key{};
  rFontFace face;
  FT_Face ft = nullptr;
  if (library == nullptr || !font_resolve(page_face(which), 0, face) ||
      FT_New_Face(library, face.file.c_str(), FT_Long(face.index), &ft) != 0)
    return nullptr;
  cairo_font_face_t* cairo_face = cairo_ft_font_face_create_for_ft_face(ft, 0);
  if (cairo_font_face_set_user_data(cairo_face, &key, ft, [](void* f) { FT_Done_Face(static_cast<FT_Face>(f)); }) !=
      CAIRO_STATUS_SUCCESS) {
    cairo_font_face_destroy(cairo_face);
    FT_Done_Face(ft);
    return nullptr;
  }
  return cairo_face;
}

void BM_DrawPage(benchmark::State& state) {
  qlm_renderer_start();
  cBitmap bitmap(kPageWidth, kPageHeight, cnBitmap32BGRA);
  bitmap.Create();
  std::memset(bitmap.Data(), 0xFF, size_t(bitmap.Stride()) * size_t(bitmap.Height()));
  cSurfaceBitmap surface;
  cRendererSurface r;
  cFontWinTT font;
  if (!surface.Attach(&bitmap, true) || !r.AttachSurface(&surface)) {
    state.SkipWithError("surface");
    return;
  }
  font.SetFace(page_face(state.range(0)), 0, 12);
  r.SetFont(&font);
  r.SetTextColor(0xFF000000u);
  const std::vector<std::string> lines = page_lines(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < kPageLines; ++i) r.DrawText(lines[size_t(i)], 2, 12 + 14 * i, nullptr);
    benchmark::DoNotOptimize(bitmap.Data());
  }
  r.DetachSurface();
}

void BM_CairoPage(benchmark::State& state) {
  cairo_font_face_t* cairo_face = cairo_page_face(state.range(0));
  if (cairo_face == nullptr) {
    state.SkipWithError("font");
    return;
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kPageWidth, kPageHeight);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_font_face(cr, cairo_face);
  cairo_set_font_size(cr, 12);
  cairo_set_source_rgb(cr, 0, 0, 0);
  const std::vector<std::string> lines = page_lines(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < kPageLines; ++i) {
      cairo_move_to(cr, 2, 12 + 14 * i);
      cairo_show_text(cr, lines[size_t(i)].c_str());
    }
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  cairo_font_face_destroy(cairo_face);
}

// Both pages drawn once on white, side by side: the ink each lays down
// (the sum of 255 - green over the page, in full pixels) and the mean
// difference per pixel, so that the ratio is seen to compare the same work.
// The timed cairo page uses cairo's defaults (hinted outlines and advances,
// its faster setting); unhinted, as ours, its ink is within a per cent of
// ours. cairo places glyphs on its own sub-pixel grid, so the pictures are
// alike, not equal.
void compare_pages() {
  qlm_renderer_start();
  for (int64_t which : {0, 1, 2, 3})
    for (int hinting : {0, 1}) {
      const std::vector<std::string> lines = page_lines(which);
      cBitmap bitmap(kPageWidth, kPageHeight, cnBitmap32BGRA);
      bitmap.Create();
      std::memset(bitmap.Data(), 0xFF, size_t(bitmap.Stride()) * size_t(bitmap.Height()));
      cSurfaceBitmap surface;
      cRendererSurface r;
      cFontWinTT font;
      if (!surface.Attach(&bitmap, true) || !r.AttachSurface(&surface)) return;
      font.SetFace(page_face(which), 0, 12);
      r.SetFont(&font);
      r.SetTextColor(0xFF000000u);
      for (int i = 0; i < kPageLines; ++i) r.DrawText(lines[size_t(i)], 2, 12 + 14 * i, nullptr);
      r.DetachSurface();

      cairo_font_face_t* cairo_face = cairo_page_face(which);
      if (cairo_face == nullptr) return;
      cairo_surface_t* page = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kPageWidth, kPageHeight);
      cairo_t* cr = cairo_create(page);
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_paint(cr);
      cairo_set_font_face(cr, cairo_face);
      cairo_set_font_size(cr, 12);
      if (hinting == 1) unhinted(cr);
      cairo_set_source_rgb(cr, 0, 0, 0);
      for (int i = 0; i < kPageLines; ++i) {
        cairo_move_to(cr, 2, 12 + 14 * i);
        cairo_show_text(cr, lines[size_t(i)].c_str());
      }
      cairo_surface_flush(page);
      const uint8_t* theirs = cairo_image_surface_get_data(page);
      const int their_stride = cairo_image_surface_get_stride(page);
      double ink_ours = 0, ink_theirs = 0, difference = 0;
      for (int y = 0; y < kPageHeight; ++y)
        for (int x = 0; x < kPageWidth; ++x) {
          const int a = bitmap.Data()[int64_t(y) * bitmap.Stride() + 4 * x + 1];
          const int b = theirs[int64_t(y) * their_stride + 4 * x + 1];
          ink_ours += 255 - a;
          ink_theirs += 255 - b;
          difference += std::abs(a - b);
        }
      std::printf("page %s %s, cairo %s: ink %.0f pixels ours, %.0f cairo's; mean difference %.2f/255 a pixel\n",
                  page_face(which), page_text(which), hinting == 0 ? "as timed" : "unhinted", ink_ours / 255,
                  ink_theirs / 255, difference / (double(kPageWidth) * kPageHeight));
      cairo_destroy(cr);
      cairo_surface_destroy(page);
      cairo_font_face_destroy(cairo_face);
    }
}

BENCHMARK(BM_DrawPage)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CairoPage)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawText)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawGlyphDrawLoop)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextWidth)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextBounds)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextExtentsRotated)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawGlyphLoop)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  compare_pages();
  return bench::run_with_ratios(argc, argv,
                                {{"BM_DrawPage/0", "BM_CairoPage/0"},
                                 {"BM_DrawPage/1", "BM_CairoPage/1"},
                                 {"BM_DrawPage/2", "BM_CairoPage/2"},
                                 {"BM_DrawPage/3", "BM_CairoPage/3"},
                                 {"BM_DrawText", "BM_RawGlyphDrawLoop"},
                                 {"BM_TextWidth/0", "BM_RawGlyphLoop/0"},
                                 {"BM_TextBounds/0", "BM_RawGlyphLoop/0"},
                                 {"BM_TextExtentsRotated/0", "BM_RawGlyphLoop/0"},
                                 {"BM_TextWidth/1", "BM_RawGlyphLoop/1"},
                                 {"BM_TextBounds/1", "BM_RawGlyphLoop/1"},
                                 {"BM_TextExtentsRotated/1", "BM_RawGlyphLoop/1"}});
}
