// Image drawing helpers: the choice of span generator, the perspective
// interpolator of images, the two generators with a transparent surround
// that paint images into hit masks, and the image loader.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>

#include "qlm_agg_extensions.h"
#include "qlm_image.h"

// --- Span generators ----------------------------------------------------------------
// The generators an image can be drawn with.
enum class eImageSpan : uint8_t {
  none,                  // nothing drawn yet
  nearest,               // span_image_filter_rgba_nn
  bilinear,              // span_image_filter_rgba_bilinear
  resample_affine,       // span_image_resample_rgba_affine (affine shrink)
  resample_perspective,  // AGG's span_image_resample_rgba, colours held to alpha, over the perspective interpolator
  filter_2x2,            // span_image_filter_rgba_2x2
  filter_general,        // span_image_filter_rgba
};

// An image counts as shrunk when the interpolator's scale (source pixels
// per device pixel) passes this on either axis.
constexpr double cnImageShrinkScale = 1.125;

// The generator for anti-aliasing, the image filter kind, the diameter of
// its lookup table, the scale of the mapping (source per device pixel),
// whether the image is mapped in perspective and whether it is distorted.
// Kind 0 never resamples; distortions never resample either (AGG's affine
// resampler takes only the plain linear interpolator, and the distortion
// adaptor is not one).
constexpr eImageSpan choose_image_span(bool aa, uint8_t filter, unsigned diameter, double scale_x, double scale_y,
                                       bool perspective, bool distorted) {
  if (!aa) return eImageSpan::nearest;
  if (filter == 0) return eImageSpan::bilinear;
  const bool shrunk = scale_x > cnImageShrinkScale || scale_y > cnImageShrinkScale;
  if (shrunk && !distorted) return perspective ? eImageSpan::resample_perspective : eImageSpan::resample_affine;
  if (filter == 1) return eImageSpan::bilinear;
  return diameter == 2 ? eImageSpan::filter_2x2 : eImageSpan::filter_general;
}

// --- Perspective interpolator ------------------------------------------------------------
// Maps every device pixel exactly through a perspective transformation
// (device -> source) and answers the local scale that AGG's general
// resampler asks for. Coordinates are held within +-2^30 (1/256 pixel)
// before they become integers, so a point near the horizon of the mapping
// cannot overflow.
class perspective_interpolator {
 public:
  using trans_type = qlm_agg::perspective;
  static constexpr int subpixel_shift = 8;
  static constexpr int subpixel_scale = 1 << subpixel_shift;

  perspective_interpolator() = default;
  explicit perspective_interpolator(trans_type& direct) { transformer(direct); }

  const trans_type& transformer() const { return *m_direct; }
  void transformer(trans_type& direct) {
    m_direct = &direct;
    m_inverse = direct;
    m_inverse.invert();
  }

  void begin(double x, double y, unsigned) {
    m_x = x;
    m_y = y;
  }
  void operator++() { m_x += 1.0; }

  void coordinates(int* x, int* y) const {
    double tx = m_x, ty = m_y;
    m_direct->transform(&tx, &ty);
    *x = held(tx * subpixel_scale);
    *y = held(ty * subpixel_scale);
  }

  // Source pixels per device pixel along the source axes, in 1/256: the
  // device length of a 1/256 step along the axis from the pixel's source
  // position, inverted (the derivative, as AGG's exact perspective
  // interpolator takes it at the ends of its spans).
  void local_scale(int* x, int* y) const {
    double sx = m_x, sy = m_y;
    m_direct->transform(&sx, &sy);
    *x = scale_of(sx + 1.0 / subpixel_scale, sy);
    *y = scale_of(sx, sy + 1.0 / subpixel_scale);
  }

 private:
  static int held(double v) {
    if (!(v > -1073741824.0)) return -1073741824;
    if (v > 1073741824.0) return 1073741824;
    return int(std::lround(v));
  }
  int scale_of(double sx, double sy) const {
    m_inverse.transform(&sx, &sy);
    const double d = std::hypot(sx - m_x, sy - m_y);
    if (!(d > 1.0 / 1073741824.0)) return 1073741824;  // NaN too
    return int(1.0 / d);
  }

  trans_type* m_direct = nullptr;
  trans_type m_inverse;
  double m_x = 0, m_y = 0;
};

// Test seam: false draws pictures in perspective with AGG's general
// resampler and filter over perspective_interpolator, so that tests can
// compare the fast ones with them; true (the default) restores those.
void image_fast_perspective_enable(bool on);

// --- Generators with a transparent surround (hit masks) -----------------------------------
// Both read an RGBA source (bytes R, G, B, A) through an interpolator and
// deliver grey colours: value (77 R + 150 G + 29 B) / 256, alpha the
// pixel's. So transparent pixels register nothing, and the darker a pixel
// the lower its mask value (opaque black registers 0).

// Bilinear: the four taps weighted by the sub-pixel position, a tap outside
// the image taking the surround colour.
template <class Interpolator>
class span_image_grey_bilinear_clip {
 public:
  using color_type = agg::gray8;
  span_image_grey_bilinear_clip(const agg::rendering_buffer& source, Interpolator& interp, const agg::rgba8& surround)
      : m_src(&source), m_interp(&interp), m_back(surround) {}
  void prepare() {}
  void generate(agg::gray8* span, int x, int y, unsigned len) {
    m_interp->begin(x + 0.5, y + 0.5, len);
    const int w = int(m_src->width()), h = int(m_src->height());
    do {
      int xh, yh;
      m_interp->coordinates(&xh, &yh);
      xh -= agg::image_subpixel_scale / 2;
      yh -= agg::image_subpixel_scale / 2;
      const int xi = xh >> agg::image_subpixel_shift, yi = yh >> agg::image_subpixel_shift;
      const unsigned fx = unsigned(xh) & agg::image_subpixel_mask, fy = unsigned(yh) & agg::image_subpixel_mask;
      unsigned c[4];
      if (xi >= 0 && yi >= 0 && xi < w - 1 && yi < h - 1) {
        const uint8_t* p0 = m_src->row_ptr(yi) + xi * 4;
        const uint8_t* p1 = m_src->row_ptr(yi + 1) + xi * 4;
        mix(c, p0, p0 + 4, p1, p1 + 4, fx, fy);
      } else if (xi < -1 || yi < -1 || xi > w - 1 || yi > h - 1) {
        c[0] = m_back.r, c[1] = m_back.g, c[2] = m_back.b, c[3] = m_back.a;
      } else {
        mix(c, tap(xi, yi), tap(xi + 1, yi), tap(xi, yi + 1), tap(xi + 1, yi + 1), fx, fy);
      }
      *span++ = agg::gray8(qlm_agg::grey_of(uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2])), agg::int8u(c[3]));
      ++*m_interp;
    } while (--len);
  }

 private:
  const uint8_t* tap(int x, int y) const {
    if (x < 0 || y < 0 || x >= int(m_src->width()) || y >= int(m_src->height())) return &m_back.r;
    return m_src->row_ptr(y) + x * 4;
  }
  static void mix(unsigned* c, const uint8_t* a, const uint8_t* b, const uint8_t* d, const uint8_t* e, unsigned fx,
                  unsigned fy) {
    const unsigned s = agg::image_subpixel_scale;
    const unsigned w0 = (s - fx) * (s - fy), w1 = fx * (s - fy), w2 = (s - fx) * fy, w3 = fx * fy;
    for (int i = 0; i < 4; ++i) c[i] = (0x8000u + a[i] * w0 + b[i] * w1 + d[i] * w2 + e[i] * w3) >> 16;
  }

  const agg::rendering_buffer* m_src;
  Interpolator* m_interp;
  agg::rgba8 m_back;
};

// Nearest neighbour: the pixel under the position, outside the image the
// surround colour.
template <class Interpolator>
class span_image_grey_nn_clip {
 public:
  using color_type = agg::gray8;
  span_image_grey_nn_clip(const agg::rendering_buffer& source, Interpolator& interp, const agg::rgba8& surround)
      : m_src(&source), m_interp(&interp), m_back(surround) {}
  void prepare() {}
  void generate(agg::gray8* span, int x, int y, unsigned len) {
    m_interp->begin(x + 0.5, y + 0.5, len);
    const int w = int(m_src->width()), h = int(m_src->height());
    do {
      int xh, yh;
      m_interp->coordinates(&xh, &yh);
      const int xi = xh >> agg::image_subpixel_shift, yi = yh >> agg::image_subpixel_shift;
      const uint8_t* p = (xi < 0 || yi < 0 || xi >= w || yi >= h) ? &m_back.r : m_src->row_ptr(yi) + xi * 4;
      *span++ = agg::gray8(qlm_agg::grey_of(p[0], p[1], p[2]), p[3]);
      ++*m_interp;
    } while (--len);
  }

 private:
  const agg::rendering_buffer* m_src;
  Interpolator* m_interp;
  agg::rgba8 m_back;
};

// --- Loading ----------------------------------------------------------------------------
// image_load is declared in qlm_image_load.h.
// The opened flow of a registered resource of that name, else of the file
// opened for reading only (a read-only picture or drawing must load); nil
// when neither opens. Shared by image_load and svg_load.
std::unique_ptr<cFlow> open_registered_or_file(std::string_view file_name);
