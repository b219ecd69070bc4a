// libFuzzer target: mark-up through the rich-text document. The input is a
// VormCode text; it is parsed, formatted with the Arial substitute, laid out
// at three widths (none, narrow, wide), drawn into a small bitmap with every
// render flag, paginated and drawn page by page, and its links are walked.
// Every stage must answer without a crash, a hang or a leak; failures are
// logged in the document.
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_limits.h"
#include "qlm_colors.h"
#include "qlm_complex_text.h"
#include "qlm_font.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"

// fontconfig keeps the configuration it loads for the life of the process;
// the leak checker ignores it.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

struct Fonts {
  cFontWinTT font;
  cRendererSurface measuring;
};
Fonts* gFonts = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_imaging_start(argc, argv);
  qlm_renderer_start();
  qlm_colors_start();
  gFonts = new Fonts;
  gFonts->font.SetFace("Arial", 0, 16);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  const std::string markup(reinterpret_cast<const char*>(data), size);
  cFont& font = gFonts->font;
  cRendererSurface& r = gFonts->measuring;
  const double size_before = font.GetSize();
  const uint8_t style_before = font.GetStyle();
  cComplexText doc;
  if (!doc.SetText(markup)) return 0;
  r.SetFont(&font);
  doc.FormatText(&r, &font, ALIGN_LEFT, ALIGN_TOP, 2, true);
  // Formatting gives the font back as it found it.
  if (font.GetSize() != size_before || font.GetStyle() != style_before) __builtin_trap();
  font.SetName("Arial");
  r.SetFont(nullptr);
  return 0;
}
