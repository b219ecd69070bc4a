// What the renderer's gradient paints take from a gradient: the colour
// lookup table and the prepared paint record. Inside the renderer only.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <span>

#include "qlm_agg_extensions.h"
#include "qlm_gradient.h"
#include "qlm_renderer_state.h"

// The colour lookup table of a colour-ramp gradient, sized at run time. It is
// built as AGG's gradient_lut builds its fixed-size table (stops sorted
// stably by their exact offsets, later duplicates of an offset dropped, the
// boundaries uround(offset x size), AGG's rgba8 colour interpolator between
// them, the ends padded), so at 256 entries it equals AGG's table byte for
// byte. Fewer than two distinct stops, where AGG leaves the table unset: none
// gives transparent black everywhere, one gives its colour everywhere.
// With `hard_stops` every stop is kept: where stops share an offset the
// colour switches at its boundary entry, the last of them deciding from
// there on (SVG's rule), and when they share offset 1 the last entry takes
// the last colour, so that padding beyond the end shows it.
// Usable as the colour function of AGG's span generators.
class gradient_color_table {
 public:
  // False (and an empty table) when the memory cannot be had or size is 0.
  bool build(std::span<const rColorStop> stops, uint32_t size, bool hard_stops = false);
  unsigned size() const { return mSize; }
  const agg::rgba8& operator[](unsigned i) const { return mColors[i]; }

 private:
  std::unique_ptr<agg::rgba8[]> mColors;
  unsigned mSize = 0;
};

// The renderer's kind of a gradient (an eGradientKind: the type tests in the
// renderer's fixed order, reserved kinds included); none for nil, an invalid
// gradient or one that answers no kind id.
eGradientKind gradient_kind_of(const cGradient* gradient);

// What one gradient paint of the renderer needs, prepared from the gradient,
// its frame and the drawing's chain.
struct rGradientPaint {
  eGradientKind kind = eGradientKind::none;
  eGradientSpread spread = eGradientSpread::pad;
  int focus_r = 0, focus_x = 0, focus_y = 0;  // radial focus, 1/16 units
  double focus_r2 = 0, focus_mul = 0;
  int d1 = 0, d2 = 0;  // the colour range, 1/16 units
  const gradient_color_table* table = nullptr;
  bool perspective = false;
  agg::trans_affine mapping;  // device to gradient space (after the perspective)
  double persp[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  bool distort = false;
  qlm_agg::distortion_dispatch distortion;
};

// Colour ranges and radial geometry are held so that their 1/16 values fit.
inline constexpr double kGradientRangeLimit = 16777216.0;  // 2^24

// v within -limit .. limit; NaN gives -limit.
inline double gradient_held(double v, double limit) {
  if (!(v > -limit)) return -limit;
  return v > limit ? limit : v;
}

// A length of gradient space in 1/16 units, held within the range limit.
inline int gradient_units(double v) {
  return agg::iround(gradient_held(v, kGradientRangeLimit) * double(agg::gradient_subpixel_scale));
}

// AGG's gradient_radial_focus set-up from the radius and the focus relative
// to the centre (gradient space), with the focus nudged off the circle as
// AGG does; a function without any extent answers 0.
inline void gradient_radial_focus(rGradientPaint& p, double r, double fx, double fy) {
  p.focus_r = gradient_units(r);
  p.focus_x = gradient_units(fx);
  p.focus_y = gradient_units(fy);
  p.focus_r2 = double(p.focus_r) * double(p.focus_r);
  auto rest = [&p] { return p.focus_r2 - (double(p.focus_x) * p.focus_x + double(p.focus_y) * p.focus_y); };
  double d = rest();
  if (d == 0) {
    if (p.focus_x != 0) p.focus_x += p.focus_x < 0 ? 1 : -1;
    if (p.focus_y != 0) p.focus_y += p.focus_y < 0 ? 1 : -1;
    d = rest();
  }
  p.focus_mul = d != 0 ? p.focus_r / d : 0.0;
}

// The mapping of device space onto the gradient's rectangle (rx1, ry1) -
// (rx2, ry2) from the device corners q of its frame: affine without
// p.perspective (a frame without area answers false), else the perspective
// into p.persp; `own` (the gradient's own matrix inverted, or nil) follows.
// False when any value of the mapping is not finite.
inline bool gradient_frame_mapping(rGradientPaint& p, const double (&q)[8], double rx1, double ry1, double rx2,
                                   double ry2, const agg::trans_affine* own) {
  if (!p.perspective) {
    const double area = (q[2] - q[0]) * (q[5] - q[3]) - (q[3] - q[1]) * (q[4] - q[2]);
    if (!(std::fabs(area) > 1e-12)) return false;
    p.mapping = agg::trans_affine(q, rx1, ry1, rx2, ry2);
    if (own != nullptr) p.mapping *= *own;
  } else {
    qlm_agg::perspective persp;
    if (!persp.quad_to_rect(q, rx1, ry1, rx2, ry2) || !persp.is_valid()) return false;
    persp.store_to(p.persp);
    for (double v : p.persp)
      if (!std::isfinite(v)) return false;
    if (own != nullptr) p.mapping = *own;
  }
  double m[6];
  p.mapping.store_to(m);
  for (double v : m)
    if (!std::isfinite(v)) return false;
  return true;
}

// Test seam: false makes every gradient go through the pixel-by-pixel
// painter, so that tests can compare the linear gradients' row and column
// painter with it; true (the default) restores it.
void gradient_axis_painter_enable(bool on);
