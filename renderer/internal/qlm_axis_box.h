// Rectangles on the device axes painted as boxes of whole rows, without the
// rasteriser, with the coverage the rasteriser would give each pixel. The
// gradient painter and the solid fill both paint such shapes this way.
#pragma once

#include <vector>

#include "qlm_agg_extensions.h"

// A shape that is one rectangle with its sides on the device axes (in the
// painter's device space, the layer's when one is open), as its outline
// gives it. `down`: its left side runs downwards (the outline's direction,
// which decides how the rasteriser rounds the coverage of edge pixels).
struct rAxisBox {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool down = true;
};

// Test seam: false sends rectangles through the rasteriser as every other
// shape, so that tests can compare the box painters with it; true (the
// default) restores it.
void axis_box_path_enable(bool on);
bool axis_box_path_enabled();
// Test seam: false sends DrawRectangle's plain fills through the drawing
// core's general route (the path built, every pipeline set up); true (the
// default) restores the short route.
void rectangle_route_enable(bool on);
bool rectangle_route_enabled();

// The scan lines the rasteriser would sweep for an rAxisBox, worked out
// without it: at most three sets of rows (a partly covered top row, the
// wholly covered rows, a partly covered bottom row), each with the spans and
// covers every one of its rows has.
//
// The rasteriser clips the sides to its clip box in double precision and
// then rounds them to 1/256 pixel; a pixel's value is its covered area
// (columns cx times rows cy, in 1/256) as the rasteriser's cells add it up:
// (2 cx cy) >> 9 with an arithmetic shift, signed by the direction of the
// left side (a rectangle drawn the other way round rounds the edge pixels
// up), then its gamma. Both filling rules agree on one rectangle. The spans
// are joined as agg::scanline_u8 joins cells that touch.
struct box_rows {
  struct span {
    int x;
    unsigned len;
    unsigned at;  // its first cover in `covers`
    bool full;    // every cover is cover_full
  };
  struct row_set {
    int y1, y2;  // the rows, both included
    unsigned count = 0;
    span spans[3];
  };
  row_set sets[3];
  unsigned set_count = 0;
  int min_x = 0, max_x = 0;
  std::vector<agg::int8u>& covers;  // memory the caller keeps between calls

  explicit box_rows(std::vector<agg::int8u>& memory) : covers(memory) {}

  // False when no pixel is covered. `clip`: the rasteriser's clip box (x1,
  // y1, x2, y2); `ras` gives the gamma.
  bool build(const rAxisBox& b, const double* clip, const qlm_agg::rasterizer& ras);
};

// A box's rows painted in one colour as AGG's render_scanlines_aa_solid
// paints the rasteriser's scan lines: the same blend_solid_hspan calls on
// `base`, clipped by its clip box.
template <class Base>
void paint_box_solid(const box_rows& rows, Base& base, const agg::rgba8& colour) {
  for (unsigned k = 0; k < rows.set_count; ++k) {
    const box_rows::row_set& set = rows.sets[k];
    for (int y = set.y1; y <= set.y2; ++y)
      for (unsigned i = 0; i < set.count; ++i) {
        const box_rows::span& s = set.spans[i];
        base.blend_solid_hspan(s.x, y, s.len, colour, rows.covers.data() + s.at);
      }
  }
}

// The same on straight BGRA pixels (AGG's pixfmt_bgra32) in `rbuf`, clipped
// to columns cx1 .. cx2 and rows cy1 .. cy2 (all included): byte for byte
// what the template above writes there, each set's rows at once through the
// SSE2 mask blend; wholly covered spans are filled (an opaque colour) or
// blended at the colour's own alpha without covers.
void paint_box_solid_bgra(const box_rows& rows, agg::rendering_buffer& rbuf, int cx1, int cy1, int cx2, int cy2,
                          const agg::rgba8& colour);
