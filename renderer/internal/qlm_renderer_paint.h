// Pieces the drawing engines share: the path fed through the pixel-snap
// transform, and the solid paint of a rasterised shape.
#pragma once

#include "qlm_agg_extensions.h"
#include "qlm_bitmap_formats.h"

// A path with the pixel-snap transform in front of the curve converter
// when snapping is on.
struct snap_source {
  agg::path_storage* path;
  const qlm_agg::trans_pixel_snap* snap;
  bool on;
  void rewind(unsigned id) { path->rewind(id); }
  unsigned vertex(double* x, double* y) {
    const unsigned c = path->vertex(x, y);
    if (on && agg::is_vertex(c)) snap->transform(x, y);
    return c;
  }
};

template <class Base>
inline void paint_solid(qlm_agg::rasterizer& ras, agg::scanline_u8& sl, agg::scanline_bin& bin, Base& base,
                        const agg::rgba8& c, bool aa) {
  if (aa)
    agg::render_scanlines_aa_solid(ras, sl, base, c);
  else
    agg::render_scanlines_bin_solid(ras, bin, base, c);
}

// Solid paint into a surface target. Straight BGRA, the format of windows
// and of the standard surface, is painted through AGG's concrete pixel
// format, the very type the target's span table calls, so short spans are
// not an indirect call each; every other format goes through the table.
inline void paint_solid_target(qlm_agg::rasterizer& ras, agg::scanline_u8& sl, agg::scanline_bin& bin,
                               qlm_agg::renderer_any& base, const agg::rgba8& c, bool aa) {
  qlm_agg::any_rgba_target& target = base.ren();
  if (target.kind() != qlm_agg::target_kind::straight || target.code() != px32BGRA) {
    paint_solid(ras, sl, bin, base, c, aa);
    return;
  }
  agg::pixfmt_bgra32 pf(target.rbuf());
  agg::renderer_base<agg::pixfmt_bgra32> direct(pf);
  direct.clip_box(base.xmin(), base.ymin(), base.xmax(), base.ymax());
  paint_solid(ras, sl, bin, direct, c, aa);
}
