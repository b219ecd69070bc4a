// libFuzzer target: DrawSVG and its sized form on whole documents. The first
// byte picks the drawing state (anti-aliasing, a rotation, a perspective, a
// filter layer, clipping, the override colour, a hit test, master alpha); the
// rest is the SVG document. A document that loads is drawn on a 64 x 64
// surface at its natural size and sized, and its bounds must be finite
// unless a transformation makes them so. The sanitizers find the faults.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fuzz_limits.h"
#include "fuzz_renderer_start.h"
#include "qlm_base_flow.h"
#include "qlm_colors.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_surface.h"
#include "qlm_svg.h"

namespace {
void blur_free_filter(cBitmap*, bool&, void*) {}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_drawing_start(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 262144) return 0;
  const uint8_t options = data[0];
  auto flow = cMemoryFlow::ConstructReadOnly(true, data + 1, int64_t(size - 1));
  if (!flow || !flow->Open()) std::abort();
  cImageSVG svg;
  if (!svg.Open(flow.get(), nullptr)) return 0;

  cBitmap bitmap(64, 64, cnBitmap32BGRA);
  if (!bitmap.Create()) std::abort();
  cSurfaceBitmap surface;
  if (!surface.Attach(&bitmap, true)) std::abort();
  cRendererSurface r;
  if (!r.AttachSurface(&surface)) std::abort();
  r.SetAntiAliasing((options & 1) == 0);
  if (options & 2) r.Rotate(33);
  if (options & 4) {
    const double quad[8] = {4, 2, 60, 8, 50, 60, 2, 50};
    r.AddPerspective(quad, 0, 0, 64, 64);
  }
  if (options & 8) r.SetFilterCallback(blur_free_filter, 3, nullptr);
  if (options & 16) r.ClipEllipse(32, 32, 20, 14);
  if (options & 32) r.SetOverrideColor(0xFF0000FFu);
  if (options & 128) r.SetMasterOpacity(0.5);
  std::unique_ptr<cHitTest> hit;
  if (options & 64) hit = std::make_unique<cHitTest>();

  r.DrawSVG(&svg, nullptr, 0, 0, hit.get());
  r.DrawSVGSized(&svg, hit.get(), 2, 2, 60, 0);
  rRectD b;
  r.GetSVGSizedBounds(&svg, 0, 0, 0, 0, 0, b);
  if (!std::isfinite(b.x1) || !std::isfinite(b.y1) || !std::isfinite(b.x2) || !std::isfinite(b.y2)) std::abort();
  r.GetSVGBounds(&svg, nullptr, 0, 0, 1, b);
  r.DetachSurface();
  return 0;
}
