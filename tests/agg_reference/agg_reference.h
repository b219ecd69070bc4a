// Raw AGG pictures and colour tables, built apart from the code under test:
// a shared library compiled at -O2 whose AGG code (the header templates as
// well as libagg) stays hidden inside it, so that the test binaries' own
// -O3 copies of the same inline code can never stand in for it. The tests
// hold the renderer's pictures and tables to these. No AGG type appears
// here: pictures are top-down BGRA rows of width x 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#define QLM_AGG_REFERENCE_API __attribute__((visibility("default")))

namespace aggref {

struct rColour {
  uint8_t r = 0, g = 0, b = 0, a = 255;
};

struct rStop {
  double offset = 0;
  rColour colour;
};

// A picture of one colour.
struct rPicture {
  int width = 0, height = 0;
  std::vector<uint8_t> bgra;
};
QLM_AGG_REFERENCE_API rPicture blank(int width, int height, rColour background);

// AGG's 256-entry colour table (gradient_lut over the rgba8 colour
// interpolator) of the stops added in this order: 256 x (r, g, b, a).
QLM_AGG_REFERENCE_API std::vector<uint8_t> gradient_lut256(const std::vector<rStop>& stops);

// The polygon (x, y pairs, closed) filled anti-aliased, non-zero rule.
QLM_AGG_REFERENCE_API void fill_polygon(rPicture& p, const std::vector<double>& xy, rColour c);

// The polyline (x, y pairs, open) dashed (dash, gap pairs from dash_start)
// and stroked with butt caps and miter joins (limit 4) at the width.
QLM_AGG_REFERENCE_API void stroke_dashed(rPicture& p, const std::vector<double>& xy,
                                         const std::vector<std::pair<double, double>>& dashes, double dash_start,
                                         double width, rColour c);

// The rectangle filled with a linear gradient along x (y when `along_y`)
// fitted to it: its left (top) edge is offset 0 of the stops' ramp, its
// right (bottom) edge offset 1, padded beyond; the colours from
// gradient_lut256 through AGG's span_gradient.
QLM_AGG_REFERENCE_API void fill_rect_gradient(rPicture& p, double x1, double y1, double x2, double y2,
                                              const std::vector<rStop>& stops, bool along_y);

}  // namespace aggref
