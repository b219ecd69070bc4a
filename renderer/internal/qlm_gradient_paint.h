// What the renderer's gradient paints take from a gradient: the colour
// lookup table and the prepared paint record. Inside the renderer only.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "qlm_agg_extensions.h"
#include "qlm_gradient.h"

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
uint8_t gradient_kind_of(const cGradient* gradient);

// What one gradient paint of the renderer needs, prepared from the gradient,
// its frame and the drawing's chain.
struct rGradientPaint {
  uint8_t kind = 0;                           // an eGradientKind
  uint8_t spread = 0;                         // an eGradientSpread
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

// Test seam: false makes every gradient go through the pixel-by-pixel
// painter, so that tests can compare the linear gradients' row and column
// painter with it; true (the default) restores it.
void gradient_axis_painter_enable(bool on);

// A shape that is one rectangle with its sides on the device axes (in the
// painter's device space, the layer's when one is open), as its outline
// gives it. `down`: its left side runs downwards (the outline's direction,
// which decides how the rasteriser rounds the coverage of edge pixels).
// Such a shape is painted as boxes of whole rows, without the rasteriser,
// with the coverage the rasteriser would give each pixel.
struct rGradientBox {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool down = true;
};

// Test seam: false sends rectangles through the rasteriser as every other
// shape, so that tests can compare the box painter with it; true (the
// default) restores it.
void gradient_box_path_enable(bool on);
bool gradient_box_path_enabled();
