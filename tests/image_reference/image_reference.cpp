// Raw AGG pictures for the renderer's image tests (see image_reference.h).
#include "image_reference.h"

#include <algorithm>
#include <cmath>
#include <vector>

// agg_trans_perspective.h defines member functions outside its class
// without `inline`; the renderer compiles it too, and this library is
// linked beside it. Renamed here, the two copies cannot meet.
#define trans_perspective image_reference_trans_perspective
#include <agg_basics.h>
#include <agg_color_rgba.h>
#include <agg_image_accessors.h>
#include <agg_image_filters.h>
#include <agg_path_storage.h>
#include <agg_pixfmt_rgba.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_rendering_buffer.h>
#include <agg_scanline_u.h>
#include <agg_span_allocator.h>
#include <agg_span_image_filter_rgba.h>
#include <agg_trans_perspective.h>
#undef trans_perspective

namespace image_reference {
namespace {

using source_format = agg::pixfmt_rgba128_pre;
using accessor = agg::image_accessor_clip<source_format>;
// The exact perspective interpolator of AGG (span_interpolator_persp_exact)
// with its local scale taken at every pixel, as it takes it at the ends of
// a span, instead of stepped between the ends: a quadrilateral turned far
// aside changes its scale along a span faster than a straight step follows.
class interpolator {
 public:
  static constexpr int subpixel_shift = 8, subpixel_scale = 1 << subpixel_shift;
  interpolator(const double* quad, double x1, double y1, double x2, double y2) {
    const double rect[8] = {x1, y1, x2, y1, x2, y2, x1, y2};
    m_dir.quad_to_quad(quad, rect);
    m_inv.quad_to_quad(rect, quad);
  }
  void begin(double x, double y, unsigned) { m_x = x, m_y = y; }
  void operator++() { m_x += 1; }
  void coordinates(int* x, int* y) const {
    double tx = m_x, ty = m_y;
    m_dir.transform(&tx, &ty);
    *x = agg::iround(tx * subpixel_scale);
    *y = agg::iround(ty * subpixel_scale);
  }
  void local_scale(int* x, int* y) const {
    double tx = m_x, ty = m_y;
    m_dir.transform(&tx, &ty);
    *x = scale(tx + 1.0 / subpixel_scale, ty);
    *y = scale(tx, ty + 1.0 / subpixel_scale);
  }

 private:
  int scale(double sx, double sy) const {
    m_inv.transform(&sx, &sy);
    const double dx = sx - m_x, dy = sy - m_y;
    return int(agg::uround(subpixel_scale / std::sqrt(dx * dx + dy * dy)) >> subpixel_shift);
  }
  agg::image_reference_trans_perspective m_dir, m_inv;  // AGG's trans_perspective, renamed above
  double m_x = 0, m_y = 0;
};
using resampler = agg::span_image_resample_rgba<accessor, interpolator>;

// The float resampler's colours, held and made bytes.
class held_bytes {
 public:
  using color_type = agg::rgba8;
  explicit held_bytes(resampler& gen) : mGen(gen) {}
  void prepare() { mGen.prepare(); }
  void generate(agg::rgba8* span, int x, int y, unsigned len) {
    mFloat.resize(len);
    mGen.generate(mFloat.data(), x, y, len);
    for (unsigned i = 0; i < len; ++i) {
      const double a = std::clamp(double(mFloat[i].a), 0.0, 1.0);
      auto byte = [a](double c) { return agg::int8u(std::lround(std::clamp(c, 0.0, a) * 255.0)); };
      span[i] = agg::rgba8(byte(mFloat[i].r), byte(mFloat[i].g), byte(mFloat[i].b), agg::int8u(std::lround(a * 255)));
    }
  }

 private:
  resampler& mGen;
  std::vector<agg::rgba32> mFloat;
};

}  // namespace

void draw_perspective_resampled(const uint8_t* rgba, int w, int h, const double* quad, eFilter filter, uint8_t* bgra,
                                int tw, int th, int stride) {
  std::vector<float> pixels(size_t(w) * h * 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = float(rgba[i] / 255.0);
  agg::rendering_buffer source(reinterpret_cast<agg::int8u*>(pixels.data()), unsigned(w), unsigned(h),
                               w * int(sizeof(float)) * 4);
  source_format source_pf(source);
  accessor acc(source_pf, agg::rgba32(0, 0, 0, 0));
  interpolator interp(quad, 0, 0, w, h);

  agg::image_filter_lut lut;
  switch (filter) {
    case eFilter::bicubic: lut.calculate(agg::image_filter_bicubic(), true); break;
    case eFilter::hanning: lut.calculate(agg::image_filter_hanning(), true); break;
    case eFilter::spline16: lut.calculate(agg::image_filter_spline16(), true); break;
    case eFilter::lanczos3: lut.calculate(agg::image_filter_lanczos(3), true); break;
  }
  resampler gen(acc, interp, lut);
  held_bytes bytes(gen);

  agg::rendering_buffer target(bgra, unsigned(tw), unsigned(th), stride);
  agg::pixfmt_bgra32_pre target_pf(target);
  agg::renderer_base<agg::pixfmt_bgra32_pre> base(target_pf);
  agg::rasterizer_scanline_aa<> ras;
  agg::scanline_u8 sl;
  agg::span_allocator<agg::rgba8> alloc;
  agg::path_storage outline;
  outline.move_to(quad[0], quad[1]);
  for (int i = 1; i < 4; ++i) outline.line_to(quad[2 * i], quad[2 * i + 1]);
  outline.close_polygon();
  ras.add_path(outline);
  agg::render_scanlines_aa(ras, sl, base, alloc, bytes);
}

}  // namespace image_reference
