// libFuzzer target: cImageSVG::Open on whole documents. A load ends in
// success or in a logged failure. After a success every record's index lies
// inside the path storage, no two records with vertices share an index, and
// the bounds are finite.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <set>

#include "fuzz_flags.h"
#include "qlm_base_flow.h"
#include "qlm_colors.h"
#include "qlm_startup.h"
#include "qlm_svg.h"

// Documents of a few MiB: deep nesting and long runs of elements only show
// in large inputs, so -max_len defaults to 4 MiB.
constexpr size_t cnSvgOpenMaxInput = size_t(4) << 20;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzz_default_flags(argc, argv, {"-max_len=4194304"});
  framework_start(*argc, *argv);
  qlm_colors_start();
  qlm_svg_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > cnSvgOpenMaxInput) return 0;
  auto flow = cMemoryFlow::ConstructReadOnly(true, data, int64_t(size));
  if (!flow || !flow->Open()) std::abort();
  cImageSVG image;
  if (!image.Open(flow.get(), nullptr)) {
    if (image.Log() == nullptr || image.IsOpened()) std::abort();
    return 0;
  }
  agg::path_storage& ps = *image.PathStorage();
  std::set<uint32_t> used;
  for (const rSVGPathAttr* a = image.Attributes()->First(); a != nullptr; a = image.Attributes()->Next(a)) {
    if (a->index > ps.total_vertices()) std::abort();
    double x = 0, y = 0;
    const bool empty = a->index == ps.total_vertices() || agg::is_stop(ps.vertex(a->index, &x, &y));
    if (!empty && !used.insert(a->index).second) std::abort();
  }
  rRectD b;
  image.Bounds(b);
  if (!std::isfinite(b.x1) || !std::isfinite(b.y1) || !std::isfinite(b.x2) || !std::isfinite(b.y2)) std::abort();
  if (b.x1 > b.x2 || b.y1 > b.y2) std::abort();
  return 0;
}
