// The raw AGG pipelines of agg_reference.h.
#include "agg_reference.h"

#include <agg_conv_dash.h>
#include <agg_conv_stroke.h>
#include <agg_gradient_lut.h>
#include <agg_path_storage.h>
#include <agg_pixfmt_rgba.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_rendering_buffer.h>
#include <agg_scanline_u.h>
#include <agg_span_allocator.h>
#include <agg_span_gradient.h>
#include <agg_span_interpolator_linear.h>
#include <agg_trans_affine.h>

namespace aggref {

namespace {

using lut_t = agg::gradient_lut<agg::color_interpolator<agg::rgba8>, 256>;

void build(lut_t& lut, const std::vector<rStop>& stops) {
  for (const rStop& s : stops) lut.add_color(s.offset, agg::rgba8(s.colour.r, s.colour.g, s.colour.b, s.colour.a));
  lut.build_lut();
}

template <class Source, class Paint>
void render(rPicture& p, Source& source, Paint&& paint) {
  agg::rendering_buffer rb(p.bgra.data(), unsigned(p.width), unsigned(p.height), p.width * 4);
  agg::pixfmt_bgra32 pf(rb);
  agg::renderer_base<agg::pixfmt_bgra32> base(pf);
  agg::rasterizer_scanline_aa<> ras;
  agg::scanline_u8 sl;
  ras.add_path(source);
  paint(ras, sl, base);
}

agg::path_storage polyline(const std::vector<double>& xy, bool close) {
  agg::path_storage ps;
  for (size_t i = 0; i + 1 < xy.size(); i += 2) i == 0 ? ps.move_to(xy[i], xy[i + 1]) : ps.line_to(xy[i], xy[i + 1]);
  if (close) ps.close_polygon();
  return ps;
}

}  // namespace

rPicture blank(int width, int height, rColour background) {
  rPicture p;
  p.width = width;
  p.height = height;
  p.bgra.resize(size_t(width) * size_t(height) * 4);
  for (size_t i = 0; i < p.bgra.size(); i += 4) {
    p.bgra[i] = background.b;
    p.bgra[i + 1] = background.g;
    p.bgra[i + 2] = background.r;
    p.bgra[i + 3] = background.a;
  }
  return p;
}

std::vector<uint8_t> gradient_lut256(const std::vector<rStop>& stops) {
  lut_t lut;
  build(lut, stops);
  std::vector<uint8_t> out(256 * 4);
  for (unsigned i = 0; i < 256; ++i) {
    out[i * 4] = lut[i].r;
    out[i * 4 + 1] = lut[i].g;
    out[i * 4 + 2] = lut[i].b;
    out[i * 4 + 3] = lut[i].a;
  }
  return out;
}

void fill_polygon(rPicture& p, const std::vector<double>& xy, rColour c) {
  agg::path_storage ps = polyline(xy, true);
  render(p, ps, [&](auto& ras, auto& sl, auto& base) {
    agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(c.r, c.g, c.b, c.a));
  });
}

void stroke_dashed(rPicture& p, const std::vector<double>& xy, const std::vector<std::pair<double, double>>& dashes,
                   double dash_start, double width, rColour c) {
  agg::path_storage ps = polyline(xy, false);
  agg::conv_dash<agg::path_storage> dash(ps);
  for (const auto& [d, g] : dashes) dash.add_dash(d, g);
  dash.dash_start(dash_start);
  agg::conv_stroke<agg::conv_dash<agg::path_storage>> stroke(dash);
  stroke.width(width);
  stroke.line_cap(agg::butt_cap);
  stroke.line_join(agg::miter_join);
  stroke.miter_limit(4.0);
  render(p, stroke, [&](auto& ras, auto& sl, auto& base) {
    agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(c.r, c.g, c.b, c.a));
  });
}

void fill_rect_gradient(rPicture& p, double x1, double y1, double x2, double y2, const std::vector<rStop>& stops,
                        bool along_y) {
  lut_t lut;
  build(lut, stops);
  agg::path_storage ps = polyline({x1, y1, x2, y1, x2, y2, x1, y2}, true);
  // Device space onto the gradient's frame: the rectangle onto (0, 0)-(100, 100).
  const double parl[6] = {x1, y1, x2, y1, x2, y2};
  agg::trans_affine mtx(parl, 0, 0, 100, 100);
  agg::span_interpolator_linear<> interp(mtx);
  agg::span_allocator<agg::rgba8> alloc;
  auto paint = [&](auto& function) {
    using span_t =
        agg::span_gradient<agg::rgba8, agg::span_interpolator_linear<>, std::decay_t<decltype(function)>, lut_t>;
    span_t sg(interp, function, lut, 0, 100);
    render(p, ps, [&](auto& ras, auto& sl, auto& base) { agg::render_scanlines_aa(ras, sl, base, alloc, sg); });
  };
  if (along_y) {
    agg::gradient_y fy;
    paint(fy);
  } else {
    agg::gradient_x fx;
    paint(fx);
  }
}

}  // namespace aggref
