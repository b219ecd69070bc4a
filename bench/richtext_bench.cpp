// The rich-text document on the agreement page: parsed, formatted and laid
// out at 470 pixels (under 5 ms), beside pango laying out the same text with
// the same styles (pango's own mark-up, a layout per paragraph as each
// paragraph has its own alignment, wrapped at 470 pixels: the work a GTK
// program would hand to pango). Then two of our own steps: the mark-up walk
// beside the VormCode parse of the same text alone (the walk is to cost at
// most twice the parse).
#include <benchmark/benchmark.h>
#include <pango/pangocairo.h>

#include <string>
#include <vector>

#include "agreement_text.h"
#include "bench_ratio.h"
#include "qlm_colors.h"
#include "qlm_complex_text.h"
#include "qlm_encoding.h"
#include "qlm_font.h"
#include "qlm_renderer.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_surface.h"
#include "qlm_startup.h"

namespace {

struct Setup {
  Setup() {
    qlm_renderer_start();
    qlm_colors_start();
    font.SetFace("Arial", 0, 16);
    renderer->SetFont(&font);
  }
  cFontWinTT font;
  std::unique_ptr<cRenderer> renderer{renderer_create()};
  std::string text = bench::agreement_text();
};

Setup& setup() {
  static Setup s;
  return s;
}

void BM_ParseAgreement(benchmark::State& state) {
  Setup& s = setup();
  for (auto _ : state) {
    cEncoding enc;
    enc.AttachCharString(s.text, 0);
    auto parser = cParserVormCode::Construct(false);
    benchmark::DoNotOptimize(parser->OpenEncoding(&enc, nullptr));
  }
  state.counters["chars"] = double(s.text.size());
}

// The walk alone: paragraphs are handed to a sink that drops them, so no
// run is measured.
void BM_InterpretAgreement(benchmark::State& state) {
  Setup& s = setup();
  cComplexText doc;
  doc.SetText(s.text);
  doc.mParagraphSink = [](std::unique_ptr<cTextBits>& bits) { bits.reset(); };
  for (auto _ : state)
    benchmark::DoNotOptimize(doc.FormatText(s.renderer.get(), &s.font, ALIGN_LEFT, ALIGN_TOP, 0, true));
}

// Laying the formatted agreement out at 470 pixels (limit 5 ms).
void BM_LayoutAgreement(benchmark::State& state) {
  Setup& s = setup();
  cComplexText doc;
  doc.SetText(s.text);
  doc.FormatText(s.renderer.get(), &s.font, ALIGN_LEFT, ALIGN_TOP, 0, true);
  for (auto _ : state) benchmark::DoNotOptimize(doc.LayoutText(470));
  state.counters["height"] = doc.GetHeight();
}

// Everything a page change costs: parse, format (measuring every run) and
// layout.
void BM_SetFormatLayoutAgreement(benchmark::State& state) {
  Setup& s = setup();
  for (auto _ : state) {
    cComplexText doc;
    doc.SetText(s.text);
    doc.FormatText(s.renderer.get(), &s.font, ALIGN_LEFT, ALIGN_TOP, 0, true);
    benchmark::DoNotOptimize(doc.LayoutText(470));
  }
}

// The agreement as pango paragraphs: alignment, justification and pango
// mark-up. The header is at 10 points with a bold title two points larger;
// the body font is Arial at 16 pixels, as ours.
struct PangoParagraph {
  PangoAlignment align = PANGO_ALIGN_LEFT;
  bool justify = false;
  std::string markup;
};

std::vector<PangoParagraph> agreement_pango() {
  std::vector<PangoParagraph> out;
  out.push_back({PANGO_ALIGN_CENTER, false,
                 "<span size=\"10240\"> <span weight=\"bold\" size=\"12288\">End User Software License "
                 "Agreement</span></span>"});
  for (const bench::AgreementSection& a : bench::agreement_sections()) {
    out.push_back({PANGO_ALIGN_CENTER, false, "<b>" + a.title + "</b>"});
    std::string body = a.first;
    if (a.link) body += "Read the <span foreground=\"RoyalBlue\">full licence</span> online. ";
    if (a.important) body += "<span weight=\"bold\" foreground=\"green\" size=\"larger\">Important</span> ";
    body += a.second;
    out.push_back({PANGO_ALIGN_LEFT, true, body});
  }
  return out;
}

void BM_PangoLayoutAgreement(benchmark::State& state) {
  const std::vector<PangoParagraph> paragraphs = agreement_pango();
  PangoFontMap* map = pango_cairo_font_map_get_default();
  PangoContext* context = pango_font_map_create_context(map);
  PangoFontDescription* font = pango_font_description_from_string("Arial");
  pango_font_description_set_absolute_size(font, 16 * PANGO_SCALE);
  pango_context_set_font_description(context, font);
  int height = 0;
  for (auto _ : state) {
    height = 0;
    for (const PangoParagraph& p : paragraphs) {
      PangoLayout* layout = pango_layout_new(context);
      pango_layout_set_width(layout, 470 * PANGO_SCALE);
      pango_layout_set_wrap(layout, PANGO_WRAP_WORD);
      pango_layout_set_alignment(layout, p.align);
      pango_layout_set_justify(layout, p.justify);
      pango_layout_set_markup(layout, p.markup.data(), int(p.markup.size()));
      int w = 0, h = 0;
      pango_layout_get_pixel_size(layout, &w, &h);
      height += h;
      g_object_unref(layout);
    }
    benchmark::DoNotOptimize(height);
  }
  state.counters["height"] = height;
  pango_font_description_free(font);
  g_object_unref(context);
}

BENCHMARK(BM_ParseAgreement)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PangoLayoutAgreement)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LayoutAgreement)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetFormatLayoutAgreement)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InterpretAgreement)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  framework_start(argc, argv);
  return bench::run_with_ratios(argc, argv, {{"BM_SetFormatLayoutAgreement", "BM_PangoLayoutAgreement"}},
                                {{"BM_InterpretAgreement", "BM_ParseAgreement"}});
}
