// The renderer's one door to AGG. Every renderer source includes AGG through
// this header, which adds what the AGG that Debian ships lacks or does
// differently from what the renderer needs:
//
// - the compositing table: the renderer's operation numbers 1..28 mapped by
//   name onto AGG's 24 operations plus minus, contrast, invert and
//   invert_rgb (AGG's own table stops at 24 entries and ends in a null
//   pointer). Numbers outside 1..28 mean 0, normal (source over);
// - `grey_of`: the renderer's grey weights (77, 150, 29), which differ from
//   AGG's gray8 conversion;
// - `rasterizer`: the scan-line rasteriser with double-precision clipping,
//   so far-away coordinates cannot overflow AGG's integer clipper;
// - `any_rgba_target`: the one pixel-format type that painters draw through.
//   It wraps any of the surface formats (six byte orders in the straight,
//   pre-multiplied and custom-blend kinds) behind a table of span
//   functions, so every painter is instantiated once, over
//   agg::renderer_base<any_rgba_target>, instead of once per format.
//
// Not included here: agg_trans_perspective.h defines member functions outside
// its class without `inline`, so two sources of one program that include it
// fail to link. `qlm_agg::perspective` below wraps it; its one source file
// (qlm_agg_persp.cpp) is the only place that includes AGG's header.
//
// The AGG headers are system includes (see renderer/CMakeLists.txt): they
// warn under C++20.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include <agg_alpha_mask_u8.h>
#include <agg_arc.h>
#include <agg_basics.h>
#include <agg_bezier_arc.h>
#include <agg_bounding_rect.h>
#include <agg_color_gray.h>
#include <agg_color_rgba.h>
#include <agg_conv_bspline.h>
#include <agg_conv_clip_polyline.h>
#include <agg_conv_curve.h>
#include <agg_conv_dash.h>
#include <agg_conv_marker.h>
#include <agg_conv_segmentator.h>
#include <agg_conv_stroke.h>
#include <agg_conv_transform.h>
#include <agg_ellipse.h>
#include <agg_gamma_functions.h>
#include <agg_gradient_lut.h>
#include <agg_image_accessors.h>
#include <agg_image_filters.h>
#include <agg_path_storage.h>
#include <agg_pattern_filters_rgba.h>
#include <agg_pixfmt_gray.h>
#include <agg_pixfmt_rgb.h>
#include <agg_pixfmt_rgba.h>
#include <agg_rasterizer_outline.h>
#include <agg_rasterizer_outline_aa.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_rasterizer_sl_clip.h>
#include <agg_renderer_base.h>
#include <agg_renderer_outline_aa.h>
#include <agg_renderer_outline_image.h>
#include <agg_renderer_primitives.h>
#include <agg_renderer_scanline.h>
#include <agg_rendering_buffer.h>
#include <agg_rounded_rect.h>
#include <agg_scanline_bin.h>
#include <agg_scanline_p.h>
#include <agg_scanline_u.h>
#include <agg_span_allocator.h>
#include <agg_span_converter.h>
#include <agg_span_gouraud_rgba.h>
#include <agg_span_gradient.h>
#include <agg_span_image_filter_rgba.h>
#include <agg_span_interpolator_adaptor.h>
#include <agg_span_interpolator_linear.h>
#include <agg_span_interpolator_trans.h>
#include <agg_span_pattern_rgba.h>
#include <agg_trans_affine.h>
#include <agg_trans_bilinear.h>
#include <agg_trans_viewport.h>
#include <agg_trans_warp_magnifier.h>
// After renderer_base, which it uses without including it.
#include <agg_blur.h>
#include <agg_vcgen_markers_term.h>

#include <type_traits>

#include "qlm_agg_forward.h"

// The public headers' declarations name AGG's own types.
static_assert(std::is_same_v<agg::rgba8, agg::rgba8T<agg::linear>>);
static_assert(std::is_same_v<agg::rendering_buffer, agg::row_accessor<agg::int8u>>);
static_assert(std::is_same_v<agg::path_storage, agg::path_base<agg::vertex_block_storage<double>>>);
static_assert(
    std::is_same_v<agg::pixfmt_gray8, agg::pixfmt_alpha_blend_gray<agg::blender_gray8, agg::rendering_buffer>>);

namespace qlm_agg {

using agg::int8u;

// ---------------------------------------------------------------------------
// Grey of a colour with the renderer's weights (never AGG's gray8(rgba8),
// which uses other weights).
constexpr uint8_t grey_of(uint8_t r, uint8_t g, uint8_t b) { return uint8_t((77u * r + 150u * g + 29u * b) >> 8); }

// The scan-line rasteriser of every renderer pass: clipping in doubles, so
// coordinates beyond AGG's 24.8 fixed-point range are clipped before they
// are converted. That holds only while the clip box itself is small: a
// clipped point lands on the box and is then converted, and AGG's scanlines
// keep a span's start and length in 16 bits. So the box is held within
// +-cnRasterClipLimit whatever it is set to (surfaces are refused beyond that
// side, cnMaxSurfaceSide): a huge update rectangle, or a nested surface of
// millions of pixels, can no longer wrap a span's length (a span of 0 with
// no buffer behind it was then written pixel by pixel).
constexpr int32_t cnMaxSurfaceSide = 32767;
constexpr double cnRasterClipLimit = 32767.0;
class rasterizer : public agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl> {
 public:
  void clip_box(double x1, double y1, double x2, double y2) {
    agg::rasterizer_scanline_aa<agg::rasterizer_sl_clip_dbl>::clip_box(held(x1), held(y1), held(x2), held(y2));
  }

 private:
  static double held(double v) {
    if (!(v > -cnRasterClipLimit)) return -cnRasterClipLimit;
    return v < cnRasterClipLimit ? v : cnRasterClipLimit;
  }
};

// The approximation scale handed to curve flatteners and strokers: a
// non-finite or non-positive scale counts as 1, and scales are capped at
// 256. AGG subdivides a curve until its segments are within 0.5 / scale of
// it (up to 2^32 pieces), so a huge scale from a degenerate matrix would
// stall the drawing; at 256 the error is far below a pixel already.
constexpr double cnMaxApproximationScale = 256.0;
inline double approximation_scale_checked(double s) {
  if (!(s > 0) || !std::isfinite(s)) return 1.0;
  return s < cnMaxApproximationScale ? s : cnMaxApproximationScale;
}

// The miter limit handed to AGG's strokers: at least 1.01 (the limit AGG
// itself uses for inner joins), and 4 (the default) for a value that is not
// a number. AGG cuts a miter longer than limit x half the width by moving
// the bevel's ends by (limit - bevel) / (miter - bevel), where bevel is the
// distance to the bevel's middle. At a straight or nearly straight join
// (points on one line, give or take rounding) miter and bevel are both the
// half width, equal to the last bit: with a limit of 1 or below AGG divides
// zero by zero there and places a vertex at NaN. From 1.01 on, such a join
// is inside the limit; the cut of any other join moves by at most 1 % of the
// half width.
constexpr double cnMinStrokeMiterLimit = 1.01;
inline double stroke_miter_limit(double limit) {
  if (!std::isfinite(limit)) return 4.0;
  return limit < cnMinStrokeMiterLimit ? cnMinStrokeMiterLimit : limit;
}

// Curves of shapes larger than this (device pixels) are not flattened.
constexpr double cnMaxFlattenExtent = 1073741824.0;

// The scale for a shape whose device extent (the larger side of the box of
// its control points) is `extent` pixels: beyond 2^30 pixels of extent the
// flattening tolerance grows with it, so no curve yields more than some
// ten thousand segments. Shapes that large are only ever seen in part.
inline double approximation_scale_for(double scale, double extent) {
  scale = approximation_scale_checked(scale);
  if (!(extent > 0)) return scale;
  const double limit = 1073741824.0 / extent;  // 0 for an infinite extent
  if (!(limit > 0)) return 1e-300;
  return scale < limit ? scale : limit;
}

// AGG's stack blur of a grey image with both radii r. Compiled in one place:
// g++ 12 warns falsely (use after free) inside AGG's pod_vector when it
// inlines the blur.
void stack_blur_gray8(agg::pixfmt_gray8& image, unsigned r);

// ---------------------------------------------------------------------------
// Coverage functions (the rasterisers' gamma). Both keep coverage 0 at 0,
// whatever the gamma: with a gamma of 0 or below, 0^g is 1 or infinite and
// would fill the empty spans between shapes.

// min(1, x^g x m); a power that cannot be computed counts as 1.
struct gamma_power_multiply {
  double gamma = 1.0;
  double multiplier = 1.0;
  gamma_power_multiply() = default;
  gamma_power_multiply(double g, double m) : gamma(g), multiplier(m) {}
  double operator()(double x) const {
    if (!(x > 0)) return 0;
    double p = std::pow(x, gamma);
    if (!std::isfinite(p)) p = 1;
    const double v = p * multiplier;
    return v < 1 ? v : 1;
  }
};

// 0 below half coverage; from there min(1, 1^g x m) = min(1, m).
struct gamma_threshold_power_multiply {
  double gamma = 1.0;
  double multiplier = 1.0;
  gamma_threshold_power_multiply() = default;
  gamma_threshold_power_multiply(double g, double m) : gamma(g), multiplier(m) {}
  double operator()(double x) const {
    if (!(x >= 0.5)) return 0;
    double p = std::pow(1.0, gamma);
    if (!std::isfinite(p)) p = 1;
    const double v = p * multiplier;
    return v < 1 ? v : 1;
  }
};

// Pixel snapping for conv_transform: x' = floor(x) + fx when 0 < fx < 1,
// else x unchanged; the same for y.
struct trans_pixel_snap {
  double fx = -1.0;
  double fy = -1.0;
  void set(double x, double y) {
    fx = x;
    fy = y;
  }
  void transform(double* x, double* y) const {
    if (fx > 0 && fx < 1) *x = std::floor(*x) + fx;
    if (fy > 0 && fy < 1) *y = std::floor(*y) + fy;
  }
};

// ---------------------------------------------------------------------------
// A perspective (projective) transform: AGG's trans_perspective behind a
// header of our own (see above). Usable wherever AGG wants a transformer
// (conv_transform, span_interpolator_trans).
class perspective {
 public:
  perspective();  // the identity
  // Maps the rectangle (x1, y1)-(x2, y2) onto the quadrilateral q (four
  // points, x then y); false (and invalid) when that has no solution.
  bool rect_to_quad(double x1, double y1, double x2, double y2, const double* q);
  bool quad_to_rect(const double* q, double x1, double y1, double x2, double y2);
  bool is_valid() const;
  bool invert();
  void transform(double* x, double* y) const;
  void inverse_transform(double* x, double* y) const;
  void store_to(double* m9) const;
  void load_from(const double* m9);

 private:
  double m[9];
};

// ---------------------------------------------------------------------------
// Distortions of gradient and image spans: a wave and a swirl around a
// centre, in the span's own space. Coordinates arrive in 1/256 units; the
// results are held inside the range an int of 24.8 fixed point can take
// before they become integers.
struct distortion_params {
  double cx = 0;
  double cy = 0;
  double period = 0.5;
  double inv_amplitude = 0.5;  // the reciprocal of the amplitude
  double phase = 0;
};

// The 1/256 integer of a coordinate, held within +-2^30.
inline int distortion_to_int(double v) {
  v *= 256.0;
  if (!(v > -1073741824.0)) return -1073741824;  // NaN too
  if (v > 1073741824.0) return 1073741824;
  return int(v);
}

inline void wave_point(const distortion_params& p, double& x, double& y) {
  const double dx = x - p.cx, dy = y - p.cy;
  const double d = std::sqrt(dx * dx + dy * dy);
  if (!(d > 1)) return;
  const double a = std::cos(d / (16.0 * p.period) - p.phase) / p.inv_amplitude / d + 1;
  x = p.cx + dx * a;
  y = p.cy + dy * a;
}

inline void swirl_point(const distortion_params& p, double& x, double& y) {
  const double dx = x - p.cx, dy = y - p.cy;
  const double d = std::sqrt(dx * dx + dy * dy);
  const double angle = (100.0 - d) / 100.0 * (-0.1 / p.inv_amplitude) - p.phase / 25.0;
  const double c = std::cos(angle), s = std::sin(angle);
  x = p.cx + dx * c - dy * s;
  y = p.cy + dx * s + dy * c;
}

// Which distortions apply, in order.
enum class distortion_kind : uint8_t { none, wave, swirl, wave_swirl, swirl_wave };

// The distortion of AGG's span_interpolator_adaptor: one type whose kind is
// chosen at run time.
struct distortion_dispatch {
  distortion_kind kind = distortion_kind::none;
  distortion_params params;
  void calculate(int* x, int* y) const {
    if (kind == distortion_kind::none) return;
    double fx = *x / 256.0, fy = *y / 256.0;
    switch (kind) {
      case distortion_kind::wave: wave_point(params, fx, fy); break;
      case distortion_kind::swirl: swirl_point(params, fx, fy); break;
      case distortion_kind::wave_swirl:
        wave_point(params, fx, fy);
        swirl_point(params, fx, fy);
        break;
      case distortion_kind::swirl_wave:
        swirl_point(params, fx, fy);
        wave_point(params, fx, fy);
        break;
      default: break;
    }
    *x = distortion_to_int(fx);
    *y = distortion_to_int(fy);
  }
};

// The interpolator that replaces a span's plain one while distortions are on.
using distortion_interpolator =
    agg::span_interpolator_adaptor<agg::span_interpolator_linear<agg::trans_affine, 8>, distortion_dispatch>;

// ---------------------------------------------------------------------------
// Compositing. The renderer numbers its operations 1..28; 0 is normal.

constexpr unsigned cnCompOpNormal = 0;
constexpr unsigned cnCompOpCount = 28;
constexpr unsigned cnCompOpClear = 1;
constexpr unsigned cnCompOpDst = 3;
constexpr unsigned cnCompOpSrcOver = 4;
constexpr unsigned cnCompOpMinus = 14;
constexpr unsigned cnCompOpScreen = 16;
constexpr unsigned cnCompOpContrast = 26;
constexpr unsigned cnCompOpInvert = 27;
constexpr unsigned cnCompOpInvertRgb = 28;

// Any number outside 1..28 is 0 (normal).
constexpr unsigned comp_op_checked(unsigned n) { return n <= cnCompOpCount ? n : cnCompOpNormal; }

// AGG's source-atop mixes the blue channel with the destination's green
// (d.b = s.b.Da + d.g.(1 - Sa)); this is the formula it means.
template <class ColorT, class Order>
struct comp_op_rgba_src_atop : agg::blender_base<ColorT, Order> {
  using value_type = typename ColorT::value_type;
  using agg::blender_base<ColorT, Order>::get;
  using agg::blender_base<ColorT, Order>::set;
  // Dca' = Sca.Da + Dca.(1 - Sa); Da' = Da
  static void blend_pix(value_type* p, value_type r, value_type g, value_type b, value_type a, agg::cover_type cover) {
    agg::rgba s = get(r, g, b, a, cover);
    agg::rgba d = get(p);
    const double s1a = 1 - s.a;
    d.r = s.r * d.a + d.r * s1a;
    d.g = s.g * d.a + d.g * s1a;
    d.b = s.b * d.a + d.b * s1a;
    set(p, d);
  }
};

// The three operations AGG dropped after 2.4, in the same double-precision
// form as AGG's other operations (pre-multiplied source, pre-multiplied
// destination).
template <class ColorT, class Order>
struct comp_op_rgba_contrast : agg::blender_base<ColorT, Order> {
  using value_type = typename ColorT::value_type;
  using agg::blender_base<ColorT, Order>::get;
  using agg::blender_base<ColorT, Order>::set;
  // Dca' = (Dca - Da/2).(2.(Sca - Sa/2) + 1) + Da/2, within 0..Da; Da' = Da
  static void blend_pix(value_type* p, value_type r, value_type g, value_type b, value_type a, agg::cover_type cover) {
    agg::rgba s = get(r, g, b, a, cover);
    agg::rgba d = get(p);
    const double d2a = d.a / 2;
    const double s2a = s.a / 2;
    auto one = [&](double dc, double sc) {
      double v = (dc - d2a) * (2 * (sc - s2a) + 1) + d2a;
      return v < 0 ? 0.0 : (v > d.a ? d.a : v);
    };
    d.r = one(d.r, s.r);
    d.g = one(d.g, s.g);
    d.b = one(d.b, s.b);
    set(p, agg::clip(d));
  }
};

template <class ColorT, class Order>
struct comp_op_rgba_invert : agg::blender_base<ColorT, Order> {
  using value_type = typename ColorT::value_type;
  using agg::blender_base<ColorT, Order>::get;
  using agg::blender_base<ColorT, Order>::set;
  // Dca' = (Da - Dca).Sa + Dca.(1 - Sa); Da' = Sa + Da - Sa.Da
  static void blend_pix(value_type* p, value_type r, value_type g, value_type b, value_type a, agg::cover_type cover) {
    agg::rgba s = get(r, g, b, a, cover);
    if (s.a > 0) {
      agg::rgba d = get(p);
      const double s1a = 1 - s.a;
      d.r = (d.a - d.r) * s.a + d.r * s1a;
      d.g = (d.a - d.g) * s.a + d.g * s1a;
      d.b = (d.a - d.b) * s.a + d.b * s1a;
      d.a += s.a - s.a * d.a;
      set(p, agg::clip(d));
    }
  }
};

template <class ColorT, class Order>
struct comp_op_rgba_invert_rgb : agg::blender_base<ColorT, Order> {
  using value_type = typename ColorT::value_type;
  using agg::blender_base<ColorT, Order>::get;
  using agg::blender_base<ColorT, Order>::set;
  // Dca' = (Da - Dca).Sca + Dca.(1 - Sa); Da' = Sa + Da - Sa.Da
  static void blend_pix(value_type* p, value_type r, value_type g, value_type b, value_type a, agg::cover_type cover) {
    agg::rgba s = get(r, g, b, a, cover);
    if (s.a > 0) {
      agg::rgba d = get(p);
      const double s1a = 1 - s.a;
      d.r = (d.a - d.r) * s.r + d.r * s1a;
      d.g = (d.a - d.g) * s.g + d.g * s1a;
      d.b = (d.a - d.b) * s.b + d.b * s1a;
      d.a += s.a - s.a * d.a;
      set(p, agg::clip(d));
    }
  }
};

// One blend function per renderer operation number; entry 0 is normal.
template <class Order>
struct comp_op_table {
  using color_type = agg::rgba8;
  using value_type = color_type::value_type;
  using func_type = void (*)(value_type* p, value_type r, value_type g, value_type b, value_type a,
                             agg::cover_type cover);
  static constexpr func_type funcs[cnCompOpCount + 1] = {
      agg::comp_op_rgba_src_over<color_type, Order>::blend_pix,     // 0 normal
      agg::comp_op_rgba_clear<color_type, Order>::blend_pix,        // 1
      agg::comp_op_rgba_src<color_type, Order>::blend_pix,          // 2
      agg::comp_op_rgba_dst<color_type, Order>::blend_pix,          // 3
      agg::comp_op_rgba_src_over<color_type, Order>::blend_pix,     // 4
      agg::comp_op_rgba_dst_over<color_type, Order>::blend_pix,     // 5
      agg::comp_op_rgba_src_in<color_type, Order>::blend_pix,       // 6
      agg::comp_op_rgba_dst_in<color_type, Order>::blend_pix,       // 7
      agg::comp_op_rgba_src_out<color_type, Order>::blend_pix,      // 8
      agg::comp_op_rgba_dst_out<color_type, Order>::blend_pix,      // 9
      comp_op_rgba_src_atop<color_type, Order>::blend_pix,          // 10 (repaired)
      agg::comp_op_rgba_dst_atop<color_type, Order>::blend_pix,     // 11
      agg::comp_op_rgba_xor<color_type, Order>::blend_pix,          // 12
      agg::comp_op_rgba_plus<color_type, Order>::blend_pix,         // 13
      agg::comp_op_rgba_minus<color_type, Order>::blend_pix,        // 14
      agg::comp_op_rgba_multiply<color_type, Order>::blend_pix,     // 15
      agg::comp_op_rgba_screen<color_type, Order>::blend_pix,       // 16
      agg::comp_op_rgba_overlay<color_type, Order>::blend_pix,      // 17
      agg::comp_op_rgba_darken<color_type, Order>::blend_pix,       // 18
      agg::comp_op_rgba_lighten<color_type, Order>::blend_pix,      // 19
      agg::comp_op_rgba_color_dodge<color_type, Order>::blend_pix,  // 20
      agg::comp_op_rgba_color_burn<color_type, Order>::blend_pix,   // 21
      agg::comp_op_rgba_hard_light<color_type, Order>::blend_pix,   // 22
      agg::comp_op_rgba_soft_light<color_type, Order>::blend_pix,   // 23
      agg::comp_op_rgba_difference<color_type, Order>::blend_pix,   // 24
      agg::comp_op_rgba_exclusion<color_type, Order>::blend_pix,    // 25
      comp_op_rgba_contrast<color_type, Order>::blend_pix,          // 26
      comp_op_rgba_invert<color_type, Order>::blend_pix,            // 27
      comp_op_rgba_invert_rgb<color_type, Order>::blend_pix,        // 28
  };
  // The blend function of operation n; numbers outside 1..28 give normal.
  static func_type get(unsigned n) { return funcs[comp_op_checked(n)]; }
};

// The blender of the custom-blend pixel formats: takes a straight colour,
// pre-multiplies it as AGG's comp_op_adaptor_rgba does and dispatches by the
// renderer's operation number.
template <class Order>
struct comp_op_adaptor {
  using color_type = agg::rgba8;
  using order_type = Order;
  using value_type = color_type::value_type;
  static void blend_pix(unsigned op, value_type* p, value_type r, value_type g, value_type b, value_type a,
                        agg::cover_type cover) {
    comp_op_table<Order>::get(op)(p, color_type::multiply(r, a), color_type::multiply(g, a), color_type::multiply(b, a),
                                  a, cover);
  }
};

// ---------------------------------------------------------------------------
// Pixel formats of the surfaces.

template <class Order>
using pixfmt_custom = agg::pixfmt_custom_blend_rgba<comp_op_adaptor<Order>, agg::rendering_buffer>;
using pixfmt_cb_rgba = pixfmt_custom<agg::order_rgba>;
using pixfmt_cb_bgra = pixfmt_custom<agg::order_bgra>;
using pixfmt_cb_argb = pixfmt_custom<agg::order_argb>;
using pixfmt_cb_abgr = pixfmt_custom<agg::order_abgr>;

// The three accessor kinds of a surface.
enum class target_kind : uint8_t { straight, premultiplied, custom_blend };

class any_rgba_target;

// The span functions of one concrete pixel format.
struct target_ops {
  unsigned pix_width;  // bytes per pixel
  agg::rgba8 (*pixel)(const any_rgba_target&, int x, int y);
  void (*copy_pixel)(any_rgba_target&, int x, int y, const agg::rgba8& c);
  void (*blend_pixel)(any_rgba_target&, int x, int y, const agg::rgba8& c, int8u cover);
  void (*copy_hline)(any_rgba_target&, int x, int y, unsigned len, const agg::rgba8& c);
  void (*copy_vline)(any_rgba_target&, int x, int y, unsigned len, const agg::rgba8& c);
  void (*blend_hline)(any_rgba_target&, int x, int y, unsigned len, const agg::rgba8& c, int8u cover);
  void (*blend_vline)(any_rgba_target&, int x, int y, unsigned len, const agg::rgba8& c, int8u cover);
  void (*blend_solid_hspan)(any_rgba_target&, int x, int y, unsigned len, const agg::rgba8& c, const int8u* covers);
  void (*blend_solid_vspan)(any_rgba_target&, int x, int y, unsigned len, const agg::rgba8& c, const int8u* covers);
  void (*copy_color_hspan)(any_rgba_target&, int x, int y, unsigned len, const agg::rgba8* colors);
  void (*copy_color_vspan)(any_rgba_target&, int x, int y, unsigned len, const agg::rgba8* colors);
  void (*blend_color_hspan)(any_rgba_target&, int x, int y, unsigned len, const agg::rgba8* colors, const int8u* covers,
                            int8u cover);
  void (*blend_color_vspan)(any_rgba_target&, int x, int y, unsigned len, const agg::rgba8* colors, const int8u* covers,
                            int8u cover);
  void (*copy_from)(any_rgba_target&, const agg::rendering_buffer& from, int xdst, int ydst, int xsrc, int ysrc,
                    unsigned len);
  void (*blend_from_rgba)(any_rgba_target&, const agg::pixfmt_rgba32& from, int xdst, int ydst, int xsrc, int ysrc,
                          unsigned len, int8u cover);
  void (*blend_from_bgra)(any_rgba_target&, const agg::pixfmt_bgra32& from, int xdst, int ydst, int xsrc, int ysrc,
                          unsigned len, int8u cover);
  void (*blend_from_color)(any_rgba_target&, const agg::pixfmt_gray8& from, const agg::rgba8& color, int xdst, int ydst,
                           int xsrc, int ysrc, unsigned len, int8u cover);
  void (*blend_from_lut)(any_rgba_target&, const agg::pixfmt_gray8& from, const agg::rgba8* lut, int xdst, int ydst,
                         int xsrc, int ysrc, unsigned len, int8u cover);
};

// A pixel format over a rendering buffer whose concrete format is chosen at
// run time. It holds no pixels and owns nothing: a pointer to the span
// functions, the rendering buffer and the compositing operation of the
// custom-blend kind. Unattached (nil ops) it must not be drawn into; the
// surfaces answer nil for such slots.
class any_rgba_target {
 public:
  using color_type = agg::rgba8;
  using value_type = color_type::value_type;
  using row_data = agg::rendering_buffer::row_data;

  any_rgba_target() = default;

  // Attaches the format of pixel-format code `code` (53, 54, 78-81) and
  // kind to the buffer; false (and detached) for a code outside the six or
  // the custom-blend kind of a 24-bit code.
  bool attach(uint8_t code, target_kind kind, agg::rendering_buffer& rb);
  void detach() {
    m_ops = nullptr;
    m_rbuf = nullptr;
  }
  bool is_attached() const { return m_ops != nullptr; }
  uint8_t code() const { return m_code; }
  target_kind kind() const { return m_kind; }

  // The renderer's compositing operation (custom-blend kind only).
  void comp_op(unsigned n) { m_comp_op = comp_op_checked(n); }
  unsigned comp_op() const { return m_comp_op; }

  agg::rendering_buffer& rbuf() const { return *m_rbuf; }
  unsigned width() const { return m_rbuf->width(); }
  unsigned height() const { return m_rbuf->height(); }
  int stride() const { return m_rbuf->stride(); }
  unsigned pix_width() const { return m_ops->pix_width; }
  int8u* row_ptr(int y) { return m_rbuf->row_ptr(y); }
  const int8u* row_ptr(int y) const { return m_rbuf->row_ptr(y); }
  row_data row(int y) const { return m_rbuf->row(y); }
  int8u* pix_ptr(int x, int y) { return m_rbuf->row_ptr(y) + int64_t(x) * m_ops->pix_width; }

  agg::rgba8 pixel(int x, int y) const { return m_ops->pixel(*this, x, y); }
  void copy_pixel(int x, int y, const agg::rgba8& c) { m_ops->copy_pixel(*this, x, y, c); }
  void blend_pixel(int x, int y, const agg::rgba8& c, int8u cover) { m_ops->blend_pixel(*this, x, y, c, cover); }
  void copy_hline(int x, int y, unsigned len, const agg::rgba8& c) { m_ops->copy_hline(*this, x, y, len, c); }
  void copy_vline(int x, int y, unsigned len, const agg::rgba8& c) { m_ops->copy_vline(*this, x, y, len, c); }
  void blend_hline(int x, int y, unsigned len, const agg::rgba8& c, int8u cover) {
    m_ops->blend_hline(*this, x, y, len, c, cover);
  }
  void blend_vline(int x, int y, unsigned len, const agg::rgba8& c, int8u cover) {
    m_ops->blend_vline(*this, x, y, len, c, cover);
  }
  void blend_solid_hspan(int x, int y, unsigned len, const agg::rgba8& c, const int8u* covers) {
    m_ops->blend_solid_hspan(*this, x, y, len, c, covers);
  }
  void blend_solid_vspan(int x, int y, unsigned len, const agg::rgba8& c, const int8u* covers) {
    m_ops->blend_solid_vspan(*this, x, y, len, c, covers);
  }
  void copy_color_hspan(int x, int y, unsigned len, const agg::rgba8* colors) {
    m_ops->copy_color_hspan(*this, x, y, len, colors);
  }
  void copy_color_vspan(int x, int y, unsigned len, const agg::rgba8* colors) {
    m_ops->copy_color_vspan(*this, x, y, len, colors);
  }
  void blend_color_hspan(int x, int y, unsigned len, const agg::rgba8* colors, const int8u* covers, int8u cover) {
    m_ops->blend_color_hspan(*this, x, y, len, colors, covers, cover);
  }
  void blend_color_vspan(int x, int y, unsigned len, const agg::rgba8* colors, const int8u* covers, int8u cover) {
    m_ops->blend_color_vspan(*this, x, y, len, colors, covers, cover);
  }
  // Rows of another buffer in the same pixel format.
  void copy_from(const agg::rendering_buffer& from, int xdst, int ydst, int xsrc, int ysrc, unsigned len) {
    m_ops->copy_from(*this, from, xdst, ydst, xsrc, ysrc, len);
  }
  // An RGBA layer (rgba8_buffer) blended over the target.
  void blend_from(const agg::pixfmt_rgba32& from, int xdst, int ydst, int xsrc, int ysrc, unsigned len, int8u cover) {
    m_ops->blend_from_rgba(*this, from, xdst, ydst, xsrc, ysrc, len, cover);
  }
  // A BGRA layer (the filter layer's bitmap) blended over the target.
  void blend_from(const agg::pixfmt_bgra32& from, int xdst, int ydst, int xsrc, int ysrc, unsigned len, int8u cover) {
    m_ops->blend_from_bgra(*this, from, xdst, ydst, xsrc, ysrc, len, cover);
  }
  // A grey mask painted in one colour, or through a colour table.
  void blend_from_color(const agg::pixfmt_gray8& from, const agg::rgba8& color, int xdst, int ydst, int xsrc, int ysrc,
                        unsigned len, int8u cover) {
    m_ops->blend_from_color(*this, from, color, xdst, ydst, xsrc, ysrc, len, cover);
  }
  void blend_from_lut(const agg::pixfmt_gray8& from, const agg::rgba8* lut, int xdst, int ydst, int xsrc, int ysrc,
                      unsigned len, int8u cover) {
    m_ops->blend_from_lut(*this, from, lut, xdst, ydst, xsrc, ysrc, len, cover);
  }

 private:
  const target_ops* m_ops = nullptr;
  agg::rendering_buffer* m_rbuf = nullptr;
  unsigned m_comp_op = cnCompOpNormal;
  uint8_t m_code = 0;
  target_kind m_kind = target_kind::straight;
};

// The base renderer every painter uses.
using renderer_any = agg::renderer_base<any_rgba_target>;

// Every pixel of the target set to the colour's stored bytes: what
// renderer_any::clear writes, without its per-pixel span call. The first
// pixel is written by the target's own copy_hline (so the bytes are the
// format's), then replicated along the first row and copied to the others
// (a memset per row when all of the pixel's bytes are equal), honouring the
// row step. Bytes past a row's last pixel are not touched.
void clear_whole(any_rgba_target& target, const agg::rgba8& c);

// The span functions of the concrete format `PF`: each builds the format
// over the target's buffer (a pointer and, for custom blend, the operation)
// and forwards.
template <class PF>
struct target_ops_of {
  static PF make(const any_rgba_target& t) {
    PF pf(t.rbuf());
    if constexpr (requires(PF & f) { f.comp_op(0u); }) pf.comp_op(t.comp_op());
    return pf;
  }
  static const target_ops ops;
};

template <class PF>
const target_ops target_ops_of<PF>::ops = {
    PF::pix_width,
    [](const any_rgba_target& t, int x, int y) { return agg::rgba8(make(t).pixel(x, y)); },
    [](any_rgba_target& t, int x, int y, const agg::rgba8& c) { make(t).copy_pixel(x, y, c); },
    [](any_rgba_target& t, int x, int y, const agg::rgba8& c, int8u cover) { make(t).blend_pixel(x, y, c, cover); },
    [](any_rgba_target& t, int x, int y, unsigned len, const agg::rgba8& c) { make(t).copy_hline(x, y, len, c); },
    [](any_rgba_target& t, int x, int y, unsigned len, const agg::rgba8& c) { make(t).copy_vline(x, y, len, c); },
    [](any_rgba_target& t, int x, int y, unsigned len, const agg::rgba8& c, int8u cover) {
      make(t).blend_hline(x, y, len, c, cover);
    },
    [](any_rgba_target& t, int x, int y, unsigned len, const agg::rgba8& c, int8u cover) {
      make(t).blend_vline(x, y, len, c, cover);
    },
    [](any_rgba_target& t, int x, int y, unsigned len, const agg::rgba8& c, const int8u* covers) {
      make(t).blend_solid_hspan(x, y, len, c, covers);
    },
    [](any_rgba_target& t, int x, int y, unsigned len, const agg::rgba8& c, const int8u* covers) {
      make(t).blend_solid_vspan(x, y, len, c, covers);
    },
    [](any_rgba_target& t, int x, int y, unsigned len, const agg::rgba8* colors) {
      make(t).copy_color_hspan(x, y, len, colors);
    },
    [](any_rgba_target& t, int x, int y, unsigned len, const agg::rgba8* colors) {
      make(t).copy_color_vspan(x, y, len, colors);
    },
    [](any_rgba_target& t, int x, int y, unsigned len, const agg::rgba8* colors, const int8u* covers, int8u cover) {
      make(t).blend_color_hspan(x, y, len, colors, covers, cover);
    },
    [](any_rgba_target& t, int x, int y, unsigned len, const agg::rgba8* colors, const int8u* covers, int8u cover) {
      make(t).blend_color_vspan(x, y, len, colors, covers, cover);
    },
    [](any_rgba_target& t, const agg::rendering_buffer& from, int xd, int yd, int xs, int ys, unsigned len) {
      make(t).copy_from(from, xd, yd, xs, ys, len);
    },
    [](any_rgba_target& t, const agg::pixfmt_rgba32& from, int xd, int yd, int xs, int ys, unsigned len, int8u cover) {
      make(t).blend_from(from, xd, yd, xs, ys, len, cover);
    },
    [](any_rgba_target& t, const agg::pixfmt_bgra32& from, int xd, int yd, int xs, int ys, unsigned len, int8u cover) {
      make(t).blend_from(from, xd, yd, xs, ys, len, cover);
    },
    [](any_rgba_target& t, const agg::pixfmt_gray8& from, const agg::rgba8& color, int xd, int yd, int xs, int ys,
       unsigned len, int8u cover) { make(t).blend_from_color(from, color, xd, yd, xs, ys, len, cover); },
    [](any_rgba_target& t, const agg::pixfmt_gray8& from, const agg::rgba8* lut, int xd, int yd, int xs, int ys,
       unsigned len, int8u cover) { make(t).blend_from_lut(from, lut, xd, yd, xs, ys, len, cover); },
};

// The span functions for a code and kind; nil for a code outside the six and
// for the custom-blend kind of the 24-bit codes.
const target_ops* target_ops_for(uint8_t code, target_kind kind);

inline bool any_rgba_target::attach(uint8_t code, target_kind kind, agg::rendering_buffer& rb) {
  m_ops = target_ops_for(code, kind);
  m_rbuf = m_ops ? &rb : nullptr;
  m_code = m_ops ? code : 0;
  m_kind = kind;
  return m_ops != nullptr;
}

// AGG's affine resampler reads, for each pixel, the columns at x_hr =
// x_hr0 + k x rx_inv while x_hr < diameter x 256 (x_hr0 >= 0): at most
// ceil(diameter x 256 / rx_inv) of them. It asks its accessor for
// ceil(diameter x rx / 256) columns only, and rx_inv (rounded 256 / scale)
// is not 65536 / rx: at some scales the loop reads past the run it asked
// for (2 columns at a uniform shrink of 12.5 with bicubic; up to 336 at a
// one-axis shrink of 200 with a diameter-6 filter). AGG's clip accessor
// hands a run out in place when the asked columns lie in the row, so those
// reads landed on the next row or past the picture's last byte.
//
// This accessor hands a run out in place only when `reach` columns from
// its start lie in the row, `reach` being at least the asked length; any
// other run goes pixel by pixel through the clip (the background outside
// the picture). `span_image_resample_rgba_affine_clip` sets the reach from
// the resampler's own steps. Until it is set, no run is read in place.
template <class PixFmt>
class image_accessor_clip_resample {
 public:
  using pixfmt_type = PixFmt;
  using color_type = typename PixFmt::color_type;
  using order_type = typename PixFmt::order_type;
  using value_type = typename PixFmt::value_type;
  enum pix_width_e { pix_width = PixFmt::pix_width };

  image_accessor_clip_resample(PixFmt& pixf, const color_type& bk) : m_pixf(&pixf) { PixFmt::make_pix(m_bk_buf, bk); }

  // The most columns the reader steps through from a run's start.
  void reach(unsigned columns) { m_reach = columns; }

  const agg::int8u* span(int x, int y, unsigned len) {
    m_x = m_x0 = x;
    m_y = y;
    const unsigned w = m_pixf->width(), columns = std::max(len, m_reach);
    if (y >= 0 && y < int(m_pixf->height()) && x >= 0 && columns <= w && unsigned(x) <= w - columns)
      return m_pix_ptr = m_pixf->pix_ptr(x, y);
    m_pix_ptr = nullptr;
    return pixel();
  }
  const agg::int8u* next_x() {
    if (m_pix_ptr != nullptr) return m_pix_ptr += pix_width;
    ++m_x;
    return pixel();
  }
  const agg::int8u* next_y() {
    ++m_y;
    m_x = m_x0;
    if (m_pix_ptr != nullptr && m_y >= 0 && m_y < int(m_pixf->height())) return m_pix_ptr = m_pixf->pix_ptr(m_x, m_y);
    m_pix_ptr = nullptr;
    return pixel();
  }

 private:
  const agg::int8u* pixel() const {
    if (m_y >= 0 && m_y < int(m_pixf->height()) && m_x >= 0 && m_x < int(m_pixf->width()))
      return m_pixf->pix_ptr(m_x, m_y);
    return m_bk_buf;
  }
  const PixFmt* m_pixf;
  agg::int8u m_bk_buf[pix_width];
  int m_x = 0, m_x0 = 0, m_y = 0;
  const agg::int8u* m_pix_ptr = nullptr;
  unsigned m_reach = ~0u;
};

// AGG's affine resampler that tells its accessor (an
// `image_accessor_clip_resample`, or one with the same `reach`) how many
// columns one pixel's loop can read, once its steps are known.
template <class Accessor>
class span_image_resample_rgba_affine_clip : public agg::span_image_resample_rgba_affine<Accessor> {
  using base_type = agg::span_image_resample_rgba_affine<Accessor>;

 public:
  using base_type::base_type;
  void prepare() {
    base_type::prepare();
    const unsigned scale = unsigned(base_type::filter().diameter()) << agg::image_subpixel_shift;
    const unsigned asked =
        (unsigned(base_type::filter().diameter()) * unsigned(this->m_rx) + agg::image_subpixel_mask) >>
        agg::image_subpixel_shift;
    const int step = this->m_rx_inv;
    base_type::source().reach(step > 0 ? std::max(asked, (scale + unsigned(step) - 1) / unsigned(step)) : ~0u);
  }
};

}  // namespace qlm_agg
