// The rich-text document on the agreement page: the mark-up walk beside the
// VormCode parse of the same text alone (the walk is to cost at most twice
// the parse), and its layout at 470 pixels (under 5 ms).
#include <benchmark/benchmark.h>

#include "agreement_text.h"
#include "bench_ratio.h"
#include "qlm_colors.h"
#include "qlm_complex_text.h"
#include "qlm_encoding.h"
#include "qlm_font.h"
#include "qlm_renderer.h"
#include "qlm_renderer_surface.h"
#include "qlm_renderer_ids.h"
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

BENCHMARK(BM_ParseAgreement)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LayoutAgreement)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetFormatLayoutAgreement)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InterpretAgreement)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  framework_start(argc, argv);
  return bench::run_with_ratios(argc, argv, {{"BM_InterpretAgreement", "BM_ParseAgreement"}});
}
