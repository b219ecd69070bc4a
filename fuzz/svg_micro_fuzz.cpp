// libFuzzer target: the SVG parser's string readers on raw text, each on a
// fresh image and parser. The first byte picks the reader: path data,
// points, style (with the presentation-attribute handler), transform,
// colour or url. None may crash or hang; a reader that answers false has
// logged why, and path data leaves every vertex finite.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "qlm_colors.h"
#include "qlm_startup.h"
#include "qlm_svg.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  framework_start(*argc, *argv);
  qlm_colors_start();
  qlm_svg_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 65536) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  cImageSVG image;
  cSVGParser parser(&image, nullptr);
  if (!parser.AttrPush()) std::abort();
  bool ok = true;
  switch (data[0] % 6) {
    case 0: ok = parser.ParsePathData(text); break;
    case 1: ok = parser.ParsePoints(text); break;
    case 2: ok = parser.ParseStyle(text, &cSVGParser::ParseAttr); break;
    case 3: {
      agg::trans_affine m;
      ok = parser.ParseTransform(text, m);
      break;
    }
    case 4: ok = parser.ParseColor(text) != nullptr; break;
    default: {
      rSVGGradient* g = nullptr;
      parser.ParseUrl(text, g);
      if (g != nullptr) std::abort();  // the image has no gradients
      break;
    }
  }
  if (!ok && image.Log() == nullptr) std::abort();
  agg::path_storage& ps = *image.PathStorage();
  for (unsigned i = 0; i < ps.total_vertices(); ++i) {
    double x = 0, y = 0;
    ps.vertex(i, &x, &y);
    if (!std::isfinite(x) || !std::isfinite(y)) std::abort();
  }
  return 0;
}
