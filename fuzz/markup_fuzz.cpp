// libFuzzer target: mark-up through the rich-text document. The input is a
// VormCode text; it is parsed, formatted with the Arial substitute, laid out
// at three widths (none, narrow, wide), drawn into a small bitmap with every
// render flag, paginated and drawn page by page, and its links are walked.
// Every stage must answer without a crash, a hang or a leak; failures are
// logged in the document.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_limits.h"
#include "qlm_colors.h"
#include "qlm_complex_text.h"
#include "qlm_font.h"
#include "qlm_renderer.h"
#include "qlm_renderer_hittest.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_surface.h"

// fontconfig keeps the configuration it loads for the life of the process;
// the leak checker ignores it.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

struct Fonts {
  std::unique_ptr<cRenderer> measuring{renderer_create()};
  std::unique_ptr<cBitmap> bitmap;
  cSurfaceBitmap surface;
};
Fonts* gFonts = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_imaging_start(argc, argv);
  qlm_renderer_start();
  qlm_colors_start();
  gFonts = new Fonts;
  gFonts->bitmap = std::make_unique<cBitmap>(64, 48, 5);
  if (!gFonts->bitmap->Create()) return 1;
  gFonts->surface.Attach(gFonts->bitmap.get(), true);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  const std::string markup(reinterpret_cast<const char*>(data), size);
  // A font of its own per input: AGG's font cache pool copies its entries
  // with overlapping memcpy once a font has seen more than 32 faces and
  // sizes (a fault of the renderer's font layer, left to it), and one
  // font shared by every input would reach that on ordinary inputs.
  cFontWinTT font;
  font.SetFace("Arial", 0, 16);
  cRenderer& r = *gFonts->measuring;
  const double size_before = font.GetSize();
  const uint8_t style_before = font.GetStyle();
  cComplexText doc;
  if (!doc.SetText(markup)) return 0;
  r.SetFont(&font);
  // The last byte picks ForceAscii, so single-style paragraphs are laid
  // out too.
  const bool force_ascii = size == 0 || (data[size - 1] & 1) == 0;
  if (doc.FormatText(&r, &font, ALIGN_LEFT, ALIGN_TOP, 2, force_ascii)) {
    // Formatting gives the font back as it found it.
    if (font.GetSize() != size_before || font.GetStyle() != style_before) __builtin_trap();
    for (double width : {0.0, 37.0, 400.0}) {
      if (!doc.LayoutText(width)) continue;
      if (!std::isfinite(doc.GetHeight()) || !std::isfinite(doc.GetWidth())) __builtin_trap();
      if (!r.AttachSurface(&gFonts->surface)) continue;
      r.SetFont(&font);
      cHitTest hit;
      doc.RenderText(&r, 8, 3, -5, &hit);
      doc.RenderText(&r, 2, 0, 0, nullptr);
      doc.RenderText(&r, 4, 0, 0, nullptr);
      for (rHyperLink* link = doc.FirstLink(); link != nullptr; link = doc.NextLink()) link->hit->HitTest(1, 1);
      if (doc.Paginate(30)) {
        const int32_t pages = doc.PageCount();
        if (pages < 1) __builtin_trap();
        for (int32_t page = 1; page <= pages && page <= 4; ++page) doc.RenderPage(&r, page, 0, 0, 8, nullptr);
        doc.RenderPage(&r, pages, 0, 0, 8, nullptr);
      }
      r.DetachSurface();
    }
  }
  r.SetFont(nullptr);
  return 0;
}
