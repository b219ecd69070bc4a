// Images: the eight image operations and the image engine RenderImage, which
// draws a bitmap transformed, filtered, tinted and clipped by an outline, and
// registers it in hit tests.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "qlm_bilinear_rows.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"

namespace {

// Device coordinates beyond this are not drawn (as in the drawing core).
constexpr double kAbsurdCoordinate = 1099511627776.0;  // 2^40
// Source positions the interpolators may reach: x 256 they must stay an int.
constexpr double kSourceReach = 2097152.0;  // 2^21

bool usable(double v) { return std::isfinite(v) && std::fabs(v) <= kAbsurdCoordinate; }

// The bitmap of an image argument: a cBitmap, or a cImage's current frame.
cBitmap* bitmap_of(cBase* image) {
  if (object_identify(image, id_cBitmap)) return static_cast<cBitmap*>(image);
  if (object_identify(image, id_cImage)) return static_cast<cImage*>(image)->Bitmap(0);
  return nullptr;
}

// A span generator drawing into a target whose pixel (0, 0) is device pixel
// (dx, dy): the filter layer and hit masks. The generator still works in
// device pixels, so the image lands where it does on the surface, bit for bit.
template <class Generator>
struct offset_span {
  using color_type = typename Generator::color_type;
  Generator& gen;
  int dx, dy;
  void prepare() { gen.prepare(); }
  template <class Color>
  void generate(Color* span, int x, int y, unsigned len) {
    gen.generate(span, x + dx, y + dy, len);
  }
};

// AGG's bilinear image filter (span_image_filter_rgba_bilinear over a
// clipping accessor with a transparent surround) for a mapping that is a
// plain scale and move: a source column depends on the device column alone
// and a source row on the device row alone. The columns' source positions
// are stepped out as the general filter steps them, but once for all the
// rows whose span is the same (every row of a rectangle), a row's once per
// scan line. Each source row is filtered across those columns once and kept
// while the rows below read it (qlm_bilinear_rows.h); a device row blends
// two kept rows.
class scaled_bilinear_span {
 public:
  using color_type = agg::rgba8;
  // `bgra`: the bytes of each span pixel come out in the order B, G, R, A
  // (for render_opaque_runs) instead of R, G, B, A.
  scaled_bilinear_span(const agg::pixfmt_rgba32& source, const agg::trans_affine& inverse, int x0, int x1,
                       bool bgra = false)
      : mSource(source), mInverse(inverse), mBgra(bgra) {
    mColumns.reserve(size_t(x1 - x0 + 1));
  }
  void prepare() {}
  void generate(agg::rgba8* span, int x, int y, unsigned len) {
    agg::span_interpolator_linear<> interpolator(mInverse);
    if (x != mSpanX || len != mColumns.size()) {
      // A span unlike the last: its columns stepped out as the general
      // filter steps them, then kept for the rows that have the same span
      // (every row of a rectangle). Rows filtered for other columns go.
      mColumns.resize(len);
      mSpanX = x;
      interpolator.begin(x + 0.5, y + 0.5, len);
      for (unsigned i = 0; i < len; ++i, ++interpolator) {
        int cx, cy;
        interpolator.coordinates(&cx, &cy);
        mColumns[i] = cx - agg::image_subpixel_scale / 2;
      }
      mColumnSet.assign(mColumns.data(), len, int(mSource.width()));
      for (kept_row& k : mKept) k.valid = false;
    }
    interpolator.begin(x + 0.5, y + 0.5, 1);
    int xh, yh;
    interpolator.coordinates(&xh, &yh);
    yh -= agg::image_subpixel_scale / 2;
    const int y_lr = yh >> agg::image_subpixel_shift;
    const unsigned fy = unsigned(yh) & agg::image_subpixel_mask;
    const int16_t* upper = filtered(y_lr, y_lr + 1);
    const int16_t* lower = filtered(y_lr + 1, y_lr);
    qlm_agg::bilinear_blend_rows(upper, lower, fy, len, reinterpret_cast<uint8_t*>(span));
  }

 private:
  // A source row filtered across the span's columns.
  struct kept_row {
    int row = 0;
    bool valid = false;
    std::vector<int16_t> h;
  };
  // Source row `row` filtered, kept in the slot that does not hold `keep`
  // (the other row the device row reads) when it is not kept yet.
  const int16_t* filtered(int row, int keep) {
    for (kept_row& k : mKept)
      if (k.valid && k.row == row) return k.h.data();
    kept_row& slot = mKept[0].valid && mKept[0].row == keep ? mKept[1] : mKept[0];
    slot.h.resize(size_t(mColumnSet.size()) * 4);
    const bool inside = row >= 0 && row < int(mSource.height());
    qlm_agg::bilinear_filter_row(inside ? mSource.pix_ptr(0, row) : nullptr, mColumnSet, mBgra, slot.h.data());
    slot.row = row;
    slot.valid = true;
    return slot.h.data();
  }
  const agg::pixfmt_rgba32& mSource;
  agg::trans_affine mInverse;
  int mSpanX = 0;
  std::vector<int> mColumns;  // per column of the last span: the source x in 1/256, less half a pixel
  qlm_agg::bilinear_columns mColumnSet;
  kept_row mKept[2];
  bool mBgra = false;
};

// AGG's scan-line rendering of an image span generator (render_scanlines_aa
// over renderer_base::blend_color_hspan) into a BGRA surface, for a
// generator whose span bytes come out as B, G, R, A. Where four pixels in a
// row are fully covered and opaque their bytes are stored as they are:
// that is what the straight and the pre-multiplied blend both do with an
// opaque colour at full coverage. Every other pixel is blended by the
// target, as AGG would blend it (copy_or_blend_pix with its cover).
template <class Rasterizer, class Scanline, class Generator>
void render_opaque_runs(Rasterizer& ras, Scanline& sl, qlm_agg::renderer_any& base,
                        agg::span_allocator<agg::rgba8>& alloc, Generator& gen) {
  if (!ras.rewind_scanlines()) return;
  qlm_agg::any_rgba_target& target = base.ren();
  sl.reset(ras.min_x(), ras.max_x());
  gen.prepare();
  while (ras.sweep_scanline(sl)) {
    const int y = sl.y();
    const bool row_visible = y >= base.ymin() && y <= base.ymax();
    unsigned num_spans = sl.num_spans();
    typename Scanline::const_iterator span = sl.begin();
    for (;; ++span) {
      const int x = span->x;
      const int len = span->len;  // scanline_u8: always a run of covers
      const agg::int8u* covers = span->covers;
      agg::rgba8* colors = alloc.allocate(unsigned(len));
      gen.generate(colors, x, y, unsigned(len));
      const int i0 = std::max(0, base.xmin() - x), i1 = std::min(len, base.xmax() + 1 - x);
      if (row_visible && i0 < i1) {
        uint8_t* row = target.row_ptr(y) + int64_t(x) * 4;
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(colors);
        auto blend_one = [&](int i) {
          const uint8_t* p = bytes + i * 4;
          target.blend_pixel(x + i, y, agg::rgba8(p[2], p[1], p[0], p[3]), covers[i]);
        };
        // Groups of four stored as they are, up to one that must be
        // blended; that one pixel by pixel, and on.
        int i = i0;
        for (;;) {
          i = int(qlm_agg::store_opaque_groups(row, bytes, covers, unsigned(i), unsigned(i1)));
          if (i + 4 > i1) break;
          for (const int k : {i, i + 1, i + 2, i + 3}) blend_one(k);
          i += 4;
        }
        for (; i < i1; ++i) blend_one(i);
      }
      if (--num_spans == 0) break;
    }
  }
}

// AGG's general resampler (span_image_resample_rgba: the filter's taps over
// the local scale the interpolator answers per pixel) with the limits its
// affine sibling applies: alpha at most full, each colour at most alpha.
// AGG's own version compares each colour with itself there, so a filter
// with negative lobes (bicubic and the like) pushes a colour past 255 or
// past its alpha at sharp edges: the byte wraps (white turns black), or a
// pre-multiplied blend overflows into a wrong hue.
// It also asks the accessor for every column it reads (see len_x_lr).
template <class Source, class Interpolator>
class span_image_resample_rgba_held : public agg::span_image_resample<Source, Interpolator> {
 public:
  using base_type = agg::span_image_resample<Source, Interpolator>;
  using color_type = typename Source::color_type;
  using order_type = typename Source::order_type;
  using value_type = typename color_type::value_type;
  using long_type = typename color_type::long_type;

  span_image_resample_rgba_held(Source& src, Interpolator& inter, agg::image_filter_lut& filter)
      : base_type(src, inter, filter) {}

  void generate(color_type* span, int x, int y, unsigned len) {
    base_type::interpolator().begin(x + base_type::filter_dx_dbl(), y + base_type::filter_dy_dbl(), len);
    const int diameter = int(base_type::filter().diameter());
    const int filter_scale = diameter << agg::image_subpixel_shift;
    const agg::int16* weight_array = base_type::filter().weight_array();
    do {
      int rx, ry;
      base_type::interpolator().coordinates(&x, &y);
      base_type::interpolator().local_scale(&rx, &ry);
      base_type::adjust_scale(&rx, &ry);
      const int rx_inv = agg::image_subpixel_scale * agg::image_subpixel_scale / rx;
      const int ry_inv = agg::image_subpixel_scale * agg::image_subpixel_scale / ry;
      const int radius_x = (diameter * rx) >> 1;
      const int radius_y = (diameter * ry) >> 1;
      x += base_type::filter_dx_int() - radius_x;
      y += base_type::filter_dy_int() - radius_y;

      long_type fg[4] = {0, 0, 0, 0};
      const int y_lr = y >> agg::image_subpixel_shift;
      int y_hr = ((agg::image_subpixel_mask - (y & agg::image_subpixel_mask)) * ry_inv) >> agg::image_subpixel_shift;
      int total_weight = 0;
      const int x_lr = x >> agg::image_subpixel_shift;
      const int x_hr2 =
          ((agg::image_subpixel_mask - (x & agg::image_subpixel_mask)) * rx_inv) >> agg::image_subpixel_shift;
      // The columns the loop below reads. AGG asks the accessor for
      // (diameter x rx) / 256 of them, rounded up, but steps through the
      // table by the truncated rx_inv, which can take one column more: read
      // straight from the row, that one lay past the span asked for (the
      // next row's first pixel, past the buffer on the last row).
      const int len_x_lr = (filter_scale - x_hr2 + rx_inv - 1) / rx_inv;
      const value_type* fg_ptr =
          reinterpret_cast<const value_type*>(base_type::source().span(x_lr, y_lr, unsigned(len_x_lr)));
      for (;;) {
        const int weight_y = weight_array[y_hr];
        int x_hr = x_hr2;
        for (;;) {
          const int weight = (weight_y * weight_array[x_hr] + agg::image_filter_scale / 2) >> agg::image_filter_shift;
          fg[0] += *fg_ptr++ * weight;
          fg[1] += *fg_ptr++ * weight;
          fg[2] += *fg_ptr++ * weight;
          fg[3] += *fg_ptr++ * weight;
          total_weight += weight;
          x_hr += rx_inv;
          if (x_hr >= filter_scale) break;
          fg_ptr = reinterpret_cast<const value_type*>(base_type::source().next_x());
        }
        y_hr += ry_inv;
        if (y_hr >= filter_scale) break;
        fg_ptr = reinterpret_cast<const value_type*>(base_type::source().next_y());
      }
      for (long_type& c : fg) {
        c /= total_weight;
        if (c < 0) c = 0;
      }
      const long_type full = color_type::full_value();
      if (fg[order_type::A] > full) fg[order_type::A] = full;
      for (const int c : {int(order_type::R), int(order_type::G), int(order_type::B)})
        if (fg[c] > fg[order_type::A]) fg[c] = fg[order_type::A];
      span->r = value_type(fg[order_type::R]);
      span->g = value_type(fg[order_type::G]);
      span->b = value_type(fg[order_type::B]);
      span->a = value_type(fg[order_type::A]);
      ++span;
      ++base_type::interpolator();
    } while (--len);
  }
};

// The same resampling (span_image_resample_rgba_held over
// perspective_interpolator, transparent black around the picture), or the
// same filtering (AGG's span_image_filter_rgba over it), to the same bytes,
// at a fraction of the cost: the mapping and its local scale
// are evaluated inline with the interpolator's own arithmetic (no call and
// matrix copy per point), the source is read straight from its rows where
// the taps lie inside it, and the taps are summed four channels and two
// taps per SSE2 multiply-add, each tap's weight rounded as AGG rounds it.
class persp_resample_span {
 public:
  using color_type = agg::rgba8;
  // `unscaled`: AGG's span_image_filter_rgba instead (the filter at its own
  // size, for pictures that are not shrunk): diameter x diameter taps
  // around the position, the sums shifted down rather than divided.
  persp_resample_span(const agg::rendering_buffer& source, const qlm_agg::perspective& direct,
                      const agg::image_filter_lut& filter, bool unscaled = false)
      : mSource(source), mFilter(filter), mUnscaled(unscaled) {
    direct.store_to(mDir);
    qlm_agg::perspective inverse = direct;
    inverse.invert();
    inverse.store_to(mInv);
    // Taps per axis at the largest scale AGG's resampler allows (20: a step
    // of 65536 / 5120 = 12 through the table), and room for the zeros that
    // pad them to groups of eight.
    const size_t taps = (size_t(mFilter.diameter()) << agg::image_subpixel_shift) / 12 + 1;
    mWx.assign(taps + 16, 0);
    mWy.assign(mWx.size(), 0);
    mRow.assign(mWx.size() * 4, 0);
  }
  void prepare() {}

  void generate(agg::rgba8* span, int x, int y, unsigned len) {
    const int diameter = int(mFilter.diameter());
    const int filter_scale = diameter << agg::image_subpixel_shift;
    const agg::int16* weight_array = mFilter.weight_array();
    const int w = int(mSource.width()), h = int(mSource.height());
    const double dy = y + 0.5;
    double dx = x + 0.5;
    for (; len > 0; --len, ++span, dx += 1.0) {
      double sx = dx, sy = dy;
      project(mDir, sx, sy);
      int cx = held(sx * kSubpixel), cy = held(sy * kSubpixel);
      int x_lr, y_lr, nx = 0, ny = 0;
      if (mUnscaled) {
        // span_image_filter_rgba: the taps from `start` around the pixel
        // under the position less half a pixel, a whole pixel apart.
        cx -= agg::image_subpixel_scale / 2, cy -= agg::image_subpixel_scale / 2;
        x_lr = (cx >> agg::image_subpixel_shift) + mFilter.start();
        y_lr = (cy >> agg::image_subpixel_shift) + mFilter.start();
        for (int x_hr = agg::image_subpixel_mask - (cx & agg::image_subpixel_mask); nx < diameter;
             x_hr += agg::image_subpixel_scale)
          mWx[size_t(nx++)] = weight_array[x_hr];
        for (int y_hr = agg::image_subpixel_mask - (cy & agg::image_subpixel_mask); ny < diameter;
             y_hr += agg::image_subpixel_scale)
          mWy[size_t(ny++)] = weight_array[y_hr];
      } else {
        int rx = scale_of(sx + 1.0 / kSubpixel, sy, dx, dy);
        int ry = scale_of(sx, sy + 1.0 / kSubpixel, dx, dy);
        adjust_scale(rx), adjust_scale(ry);
        const int rx_inv = agg::image_subpixel_scale * agg::image_subpixel_scale / rx;
        const int ry_inv = agg::image_subpixel_scale * agg::image_subpixel_scale / ry;
        cx += agg::image_subpixel_scale / 2 - ((diameter * rx) >> 1);
        cy += agg::image_subpixel_scale / 2 - ((diameter * ry) >> 1);
        x_lr = cx >> agg::image_subpixel_shift, y_lr = cy >> agg::image_subpixel_shift;
        // The taps' weights along each axis, as the general loops step them.
        for (int x_hr =
                 ((agg::image_subpixel_mask - (cx & agg::image_subpixel_mask)) * rx_inv) >> agg::image_subpixel_shift;
             x_hr < filter_scale; x_hr += rx_inv)
          mWx[size_t(nx++)] = weight_array[x_hr];
        for (int y_hr =
                 ((agg::image_subpixel_mask - (cy & agg::image_subpixel_mask)) * ry_inv) >> agg::image_subpixel_shift;
             y_hr < filter_scale; y_hr += ry_inv)
          mWy[size_t(ny++)] = weight_array[y_hr];
      }
      const int groups = (nx + 3) / 4;  // of four taps
      for (int i = nx; i < groups * 4 + 4; ++i) mWx[size_t(i)] = 0;
      const bool columns_inside = x_lr >= 0 && x_lr + groups * 4 <= w;
      int32_t fg[4] = {0, 0, 0, 0};
      int32_t total_weight = 0;
#if defined(__SSE2__)
      const __m128i zero = _mm_setzero_si128();
      if (columns_inside) {
        // Every tap transparent black (around a picture, in its transparent
        // parts): every sum is 0, and so is the colour.
        __m128i any = zero;
        for (int j = 0; j < ny; ++j) {
          if (y_lr + j < 0 || y_lr + j >= h) continue;
          const uint8_t* row = mSource.row_ptr(y_lr + j) + int64_t(x_lr) * 4;
          for (int g = 0; g < groups; ++g)
            any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + g * 16)));
        }
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, zero)) == 0xFFFF) {
          *span = agg::rgba8(0, 0, 0, 0);
          continue;
        }
      }
      __m128i acc = _mm_setzero_si128(), total = _mm_setzero_si128();
      const __m128i ones = _mm_set1_epi16(1), round = _mm_set1_epi32(8192);
      for (int j = 0; j < ny; ++j) {
        const uint8_t* row = row_of(y_lr + j, x_lr, groups, columns_inside, w, h);
        const __m128i wy = _mm_set1_epi16(mWy[size_t(j)]);
        for (int g = 0; g < groups; g += 2) {
          // Eight taps' weights (weight_y x weight_x + 8192) >> 14, as AGG
          // computes each.
          const __m128i wx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mWx.data() + g * 4));
          const __m128i lo = _mm_mullo_epi16(wx, wy), hi = _mm_mulhi_epi16(wx, wy);
          const __m128i p0 = _mm_srai_epi32(_mm_add_epi32(_mm_unpacklo_epi16(lo, hi), round), 14);
          const __m128i p1 = _mm_srai_epi32(_mm_add_epi32(_mm_unpackhi_epi16(lo, hi), round), 14);
          const __m128i weights = _mm_packs_epi32(p0, p1);
          total = _mm_add_epi32(total, _mm_madd_epi16(weights, ones));
          if (row == nullptr) continue;  // a row outside the picture adds weight alone
          auto taps4 = [&](const uint8_t* px, __m128i pair_lo, __m128i pair_hi) {
            const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px));
            const __m128i a = _mm_unpacklo_epi8(four, zero), b = _mm_unpackhi_epi8(four, zero);
            // (c0, c1) pairs of two neighbouring taps per channel.
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi16(a, _mm_srli_si128(a, 8)), pair_lo));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi16(b, _mm_srli_si128(b, 8)), pair_hi));
          };
          taps4(row + g * 16, _mm_shuffle_epi32(weights, 0x00), _mm_shuffle_epi32(weights, 0x55));
          if (g + 1 < groups)
            taps4(row + g * 16 + 16, _mm_shuffle_epi32(weights, 0xAA), _mm_shuffle_epi32(weights, 0xFF));
        }
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(fg), acc);
      int32_t sums[4];
      _mm_storeu_si128(reinterpret_cast<__m128i*>(sums), total);
      total_weight = sums[0] + sums[1] + sums[2] + sums[3];
#else
      for (int j = 0; j < ny; ++j) {
        const uint8_t* row = row_of(y_lr + j, x_lr, groups, columns_inside, w, h);
        for (int i = 0; i < nx; ++i) {
          const int weight = (mWy[size_t(j)] * mWx[size_t(i)] + agg::image_filter_scale / 2) >> agg::image_filter_shift;
          total_weight += weight;
          if (row != nullptr)
            for (int c = 0; c < 4; ++c) fg[c] += row[i * 4 + c] * weight;
        }
      }
#endif
      if (mUnscaled) {
        for (int32_t& c : fg) {
          c >>= agg::image_filter_shift;
          if (c < 0) c = 0;
        }
      } else if (total_weight == 0) {
        *span = agg::rgba8(0, 0, 0, 0);
        continue;
      } else {
        for (int32_t& c : fg) {
          c /= total_weight;
          if (c < 0) c = 0;
        }
      }
      if (fg[3] > 255) fg[3] = 255;
      for (int c = 0; c < 3; ++c)
        if (fg[c] > fg[3]) fg[c] = fg[3];
      *span = agg::rgba8(uint8_t(fg[0]), uint8_t(fg[1]), uint8_t(fg[2]), uint8_t(fg[3]));
    }
  }

 private:
  static constexpr double kSubpixel = 256.0;  // agg::image_subpixel_scale
  // AGG's trans_perspective::transform on the stored matrix (sx, shy, w0,
  // shx, sy, w1, tx, ty, w2), the same operations in the same order.
  static void project(const double* m, double& x, double& y) {
    const double px = x, py = y;
    const double d = 1.0 / (px * m[2] + py * m[5] + m[8]);
    x = d * (px * m[0] + py * m[3] + m[6]);
    y = d * (px * m[1] + py * m[4] + m[7]);
  }
  // perspective_interpolator's holding and local scale; the rounding is
  // lround's (halves away from zero) without the call: the truncation and
  // the fraction left, exact at these magnitudes.
  static int held(double v) {
    if (!(v > -1073741824.0)) return -1073741824;
    if (v > 1073741824.0) return 1073741824;
    int i = int(v);
    const double fraction = v - double(i);
    if (fraction >= 0.5) ++i;
    if (fraction <= -0.5) --i;
    return i;
  }
  int scale_of(double sx, double sy, double dx, double dy) const {
    project(mInv, sx, sy);
    const double ex = sx - dx, ey = sy - dy;
    double d = std::sqrt(ex * ex + ey * ey);
    if (!(d < HUGE_VAL)) d = std::hypot(ex, ey);  // overflow, infinity or NaN: as hypot answers
    if (!(d > 1.0 / 1073741824.0)) return 1073741824;
    return int(1.0 / d);
  }
  // span_image_resample::adjust_scale with its defaults (limit 20, no blur).
  static void adjust_scale(int& r) {
    r = std::clamp(r, int(agg::image_subpixel_scale), int(agg::image_subpixel_scale) * 20);
  }
  // The source row y from column x on, `groups` x 4 pixels: straight from
  // the picture when they all lie in it, else copied with transparent black
  // for those outside; nil for a row outside the picture.
  const uint8_t* row_of(int y, int x, int groups, bool columns_inside, int w, int h) {
    if (y < 0 || y >= h) return nullptr;
    const uint8_t* src = mSource.row_ptr(y);
    if (columns_inside) return src + int64_t(x) * 4;
    uint8_t* out = mRow.data();
    for (int i = 0; i < groups * 4; ++i) {
      const int sx = x + i;
      if (sx >= 0 && sx < w)
        std::memcpy(out + i * 4, src + int64_t(sx) * 4, 4);
      else
        std::memset(out + i * 4, 0, 4);
    }
    return out;
  }

  const agg::rendering_buffer& mSource;
  const agg::image_filter_lut& mFilter;
  double mDir[9], mInv[9];
  std::vector<int16_t> mWx, mWy;  // the taps' weights along x and y, x padded with zeros
  std::vector<uint8_t> mRow;      // a source row partly outside the picture
  bool mUnscaled;
};

// The widest shape the scaled filter steps its columns out for; a wider one
// (only without a clip box) takes the general filter.
constexpr int kScaledRowLimit = 1 << 16;

std::atomic<bool> g_scaled_bilinear{true};
std::atomic<bool> g_fast_perspective{true};

agg::rgba8 rgba_of(uint32_t c) { return agg::rgba8(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), uint8_t(c >> 24)); }

using curve_outline = agg::conv_curve<agg::path_storage>;
using device_outline = agg::conv_transform<curve_outline, rTransformChain>;

// How a perspective stage acts on a picture whose corners enter it at `q`
// (four points): as the affine matrix `a` when its divisor (w0 x + w1 y +
// w2) varies by no more than 1e-12 of w2 over the corners, and so over
// everything between them, or as nothing when that matrix moves none of the
// corners by more than 1e-12 of their size. AGG solves a rectangle mapped
// onto itself with a projective part of rounding size (its test for a
// parallelogram asks for exact zeros), so such a stage is told by its
// effect on the picture, not by its numbers.
enum class eStageEffect { bends, affine, none };

eStageEffect perspective_effect(const double* m9, const double* q, agg::trans_affine& a) {
  const double w0 = m9[2], w1 = m9[5], w2 = m9[8];
  if (!(std::fabs(w2) > 0) || !std::isfinite(w2)) return eStageEffect::bends;
  for (int i = 0; i < 4; ++i)
    if (!(std::fabs(w0 * q[2 * i] + w1 * q[2 * i + 1]) <= 1e-12 * std::fabs(w2))) return eStageEffect::bends;
  a = agg::trans_affine(m9[0] / w2, m9[1] / w2, m9[3] / w2, m9[4] / w2, m9[6] / w2, m9[7] / w2);
  for (int i = 0; i < 4; ++i) {
    double x = q[2 * i], y = q[2 * i + 1];
    a.transform(&x, &y);
    const double size = std::max({1.0, std::fabs(q[2 * i]), std::fabs(q[2 * i + 1])});
    if (!(std::fabs(x - q[2 * i]) <= 1e-12 * size) || !(std::fabs(y - q[2 * i + 1]) <= 1e-12 * size))
      return eStageEffect::affine;
  }
  return eStageEffect::none;
}

}  // namespace

void image_scaled_bilinear_enable(bool on) { g_scaled_bilinear.store(on); }
void image_fast_perspective_enable(bool on) { g_fast_perspective.store(on); }

// --- Outline -----------------------------------------------------------------------

bool cRendererSurface::ImageOutlineBox(double* box) {
  if (mCurrentPath == nullptr) return false;
  rTransformChain chain = Chain(true);
  // Hostile geometry ends here: every control point through the mapping
  // must be finite and sane.
  double cx1 = 0, cy1 = 0, cx2 = 0, cy2 = 0;
  bool first = true;
  {
    agg::conv_transform<agg::path_storage, rTransformChain> control(*mCurrentPath, chain);
    control.rewind(0);
    double x, y;
    unsigned cmd;
    while (!agg::is_stop(cmd = control.vertex(&x, &y))) {
      if (!agg::is_vertex(cmd)) continue;
      if (!usable(x) || !usable(y)) return false;
      if (first) {
        cx1 = cx2 = x;
        cy1 = cy2 = y;
        first = false;
      }
      cx1 = std::min(cx1, x), cy1 = std::min(cy1, y);
      cx2 = std::max(cx2, x), cy2 = std::max(cy2, y);
    }
  }
  if (first) return false;
  curve_outline curve(*mCurrentPath);
  curve.approximation_scale(qlm_agg::approximation_scale_for(mApproxScale, std::max(cx2 - cx1, cy2 - cy1)));
  device_outline outline(curve, chain);
  return agg::bounding_rect_single(outline, 0, &box[0], &box[1], &box[2], &box[3]);
}

// --- The engine ----------------------------------------------------------------------

// What one image carries from step to step: the call's arguments, the
// outline's device box and the part of it that can be drawn, the source
// rectangle, the mapping from device to source pixels, the span generator
// and tint, and the target.
struct cRendererSurface::rImagePass {
  cBitmap* bitmap;
  int32_t sx1, sy1, sx2, sy2;
  const double* corners;
  bool premultiplied;
  cHitTest* hit;
  double box[4] = {0, 0, 0, 0};
  double dx1 = 0, dy1 = 0, dx2 = 0, dy2 = 0;
  int sw = 0, sh = 0;
  agg::rendering_buffer source;  // the source rectangle alone
  bool perspective = false;
  agg::trans_affine inverse;
  qlm_agg::perspective persp;
  double scale_x = 1, scale_y = 1;  // source pixels per device pixel
  qlm_agg::distortion_dispatch distortion;
  bool distorted = false;
  eImageSpan span = eImageSpan::none;
  bool mode4 = false;  // fill render mode 4: inverted through the master colour
  image_tint_converter tint{qlm_agg::cnCompOpDst, agg::rgba8(0, 0, 0, 0), nullptr};
  qlm_agg::any_rgba_target layer_target;
  qlm_agg::renderer_any layer_base;
  qlm_agg::renderer_any* base = nullptr;
  int ox = 0, oy = 0;   // the target's device origin
  bool direct = false;  // opaque runs may be stored as they are
};

void cRendererSurface::RenderImage(cBitmap* bitmap, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2,
                                   const double* corners, bool premultiplied, cHitTest* hit) {
  mRasterReusable = false;
  // Pattern fills paint their tile directly and keep no canvas, so without
  // a bitmap there is nothing to draw.
  if (bitmap == nullptr || corners == nullptr || mSurface == nullptr || !bitmap->IsOpened()) return;
  rImagePass p{bitmap, sx1, sy1, sx2, sy2, corners, premultiplied, hit};
  if (!ImageArea(p) || !ImageSource(p) || !ImageMapping(p)) return;
  ImageGenerator(p);
  if (!ImageTarget(p)) return;

  rTransformChain chain = Chain(true);
  curve_outline curve(*mCurrentPath);
  curve.approximation_scale(
      qlm_agg::approximation_scale_for(mApproxScale, std::max(p.box[2] - p.box[0], p.box[3] - p.box[1])));
  device_outline outline(curve, chain);
  auto draw = [&](auto& interp) {
    PaintImage(p, interp, outline);
    if (mLayer == nullptr) EndDraw();  // the clip pass has been used
    ImageHitMask(p, interp, outline);
  };
  qlm_agg::distortion_dispatch dist = p.distortion;
  if (!p.perspective) {
    if (p.distorted) {
      qlm_agg::distortion_interpolator interp(p.inverse, dist);
      draw(interp);
    } else {
      agg::span_interpolator_linear<> interp(p.inverse);
      draw(interp);
    }
  } else if (p.distorted) {
    agg::span_interpolator_adaptor<perspective_interpolator, qlm_agg::distortion_dispatch> interp(p.persp, dist);
    draw(interp);
  } else {
    perspective_interpolator interp(p.persp);
    draw(interp);
  }
}

// The source rectangle, limited to the bitmap, and the part of the
// outline's device box that can be drawn (the open layer's or the update
// rectangle). False for a source or parallelogram without area, hostile
// corners or an outline with nothing to draw.
bool cRendererSurface::ImageArea(rImagePass& p) {
  p.sx2 = std::min(p.sx2, p.bitmap->Width());
  p.sy2 = std::min(p.sy2, p.bitmap->Height());
  p.sx1 = std::max(p.sx1, 0);
  p.sy1 = std::max(p.sy1, 0);
  if (p.sx1 >= p.sx2 || p.sy1 >= p.sy2) return false;
  const double* corners = p.corners;
  for (int i = 0; i < 6; ++i)
    if (!usable(corners[i])) return false;
  // A parallelogram without area has no inverse mapping.
  const double ax = corners[2] - corners[0], ay = corners[3] - corners[1];
  const double bx = corners[4] - corners[2], by = corners[5] - corners[3];
  if (!(std::fabs(ax * by - ay * bx) > 0)) return false;

  if (!ImageOutlineBox(p.box)) return false;
  double lim[4] = {double(mUpdateRect.x1), double(mUpdateRect.y1), double(mUpdateRect.x2), double(mUpdateRect.y2)};
  if (mLayer != nullptr) {
    lim[0] = mLayerX, lim[1] = mLayerY;
    lim[2] = double(mLayerX) + mLayer->Width(), lim[3] = double(mLayerY) + mLayer->Height();
  }
  p.dx1 = std::max(std::floor(p.box[0]) - 1, lim[0]), p.dy1 = std::max(std::floor(p.box[1]) - 1, lim[1]);
  p.dx2 = std::min(std::ceil(p.box[2]) + 1, lim[2]), p.dy2 = std::min(std::ceil(p.box[3]) + 1, lim[3]);
  return p.dx1 < p.dx2 && p.dy1 < p.dy2;
}

// The bitmap as RGBA in the image buffer, and its source rectangle.
bool cRendererSurface::ImageSource(rImagePass& p) {
  // The bitmap the surface draws into changes without its change counter
  // moving (the surface counts the change when it lets go of it): drawn
  // onto itself, it is converted afresh, never taken from an older copy.
  if (object_identify(mSurface, id_cSurfaceBitmap) && static_cast<cSurfaceBitmap*>(mSurface)->Bitmap() == p.bitmap)
    mImageBuffer.Init(1, 1);
  if (!mImageBuffer.LoadBitmap(p.bitmap)) return false;
  p.sw = p.sx2 - p.sx1, p.sh = p.sy2 - p.sy1;
  p.source.attach(mImageBuffer.row_ptr(p.sy1) + int64_t(p.sx1) * 4, unsigned(p.sw), unsigned(p.sh),
                  mImageBuffer.stride());
  return true;
}

// The image transformation, device pixel -> source pixel: the perspective
// of the quadrilateral the stages make, or the inverse of the affine
// mapping; and how many source pixels a device pixel spans. False when it
// cannot be inverted or reaches beyond the interpolators' range.
bool cRendererSurface::ImageMapping(rImagePass& p) {
  const double* corners = p.corners;
  const int sw = p.sw, sh = p.sh;
  // clang-format off
  const double quad[8] = {corners[0], corners[1], corners[2], corners[3], corners[4], corners[5],
                          corners[0] + corners[4] - corners[2], corners[1] + corners[5] - corners[3]};
  // clang-format on
  double parl[6] = {corners[0], corners[1], corners[2], corners[3], corners[4], corners[5]};
  agg::trans_affine m(0, 0, sw, sh, parl);
  {
    // The stages in order, the picture's corners going through them: affine
    // ones, and perspective ones that do not bend the picture, are folded
    // into the affine mapping (one that leaves the corners where they are
    // is left out, so the picture is what it is without it, bit for bit).
    double q[8];
    std::copy(quad, quad + 8, q);
    for (const rTransformStage& s : mTransform.stages) {
      if (s.kind == 0) {
        m *= agg::trans_affine(s.affine[0], s.affine[1], s.affine[2], s.affine[3], s.affine[4], s.affine[5]);
      } else {
        agg::trans_affine a;
        const eStageEffect effect = s.kind == 1 ? perspective_effect(s.persp, q, a) : eStageEffect::bends;
        if (effect == eStageEffect::bends) {
          p.perspective = true;
          break;
        }
        if (effect == eStageEffect::affine) m *= a;
      }
      for (int i = 0; i < 4; ++i) s.Forward(q[2 * i], q[2 * i + 1]);
    }
  }
  if (p.perspective) {
    double q[8];
    std::copy(quad, quad + 8, q);
    for (int i = 0; i < 4; ++i) {
      MapForward(q[2 * i], q[2 * i + 1], true, true, true);
      if (!usable(q[2 * i]) || !usable(q[2 * i + 1])) return false;
    }
    if (!p.persp.quad_to_rect(q, 0, 0, sw, sh)) return false;
    double m9[9];  // sx, shy, w0, shx, sy, w1, tx, ty, w2
    p.persp.store_to(m9);
    if (m9[2] == 0 && m9[5] == 0 && m9[8] != 0) {
      // The stages leave the picture a parallelogram (AGG solves that case
      // without a projective part): the affine mapping draws it, so that it
      // looks as it does without the stages.
      p.inverse =
          agg::trans_affine(m9[0] / m9[8], m9[1] / m9[8], m9[3] / m9[8], m9[4] / m9[8], m9[6] / m9[8], m9[7] / m9[8]);
      p.perspective = false;
    } else {
      // Shrinking: source pixels per device pixel along the quadrilateral's
      // shorter opposite edges.
      auto edge = [&](int a, int b) { return std::hypot(q[2 * b] - q[2 * a], q[2 * b + 1] - q[2 * a + 1]); };
      const double top = edge(0, 1), bottom = edge(3, 2), left = edge(0, 3), right = edge(1, 2);
      p.scale_x = sw / std::max(std::min(top, bottom), 1e-300);
      p.scale_y = sh / std::max(std::min(left, right), 1e-300);
    }
  } else {
    if (!mDevice.is_identity(1e-14)) m *= mDevice;
    const double det = m.determinant();
    if (!std::isfinite(det) || det == 0) return false;
    p.inverse = m;
    p.inverse.invert();
  }
  if (!p.perspective) {
    const double det = p.inverse.determinant();
    if (!std::isfinite(det) || det == 0) return false;
    // The interpolator works in 24.8 integers: every device pixel it can be
    // asked for must map to a source position that fits.
    const double px[4] = {p.dx1, p.dx2, p.dx2, p.dx1}, py[4] = {p.dy1, p.dy1, p.dy2, p.dy2};
    for (int i = 0; i < 4; ++i) {
      double x = px[i], y = py[i];
      p.inverse.transform(&x, &y);
      if (!(std::fabs(x) < kSourceReach) || !(std::fabs(y) < kSourceReach)) return false;
    }
    p.inverse.scaling_abs(&p.scale_x, &p.scale_y);
  }
  return true;
}

// The distortions (fill render mode 1), the span generator for the scale
// and the tint (fill render mode 4 inverts through the master colour).
void cRendererSurface::ImageGenerator(rImagePass& p) {
  p.distortion = mMaster.fill_render_mode == eRenderMode::normal ? Distortion() : qlm_agg::distortion_dispatch{};
  p.distorted = p.distortion.kind != qlm_agg::distortion_kind::none;
  p.span = choose_image_span(mMaster.anti_aliasing, mImage.filter, mImageLut.diameter(), p.scale_x, p.scale_y,
                             p.perspective, p.distorted);
  mLastImageSpan = p.span;
  p.mode4 = mMaster.fill_render_mode == eRenderMode::path_outline;
  p.tint = image_tint_converter(p.mode4 ? qlm_agg::cnCompOpInvertRgb : mImage.tint_op,
                                p.mode4 ? mMaster.master_color.color : rgba_of(mImage.tint_color),
                                qlm_agg::comp_op_table<agg::order_rgba>::funcs);
}

// The target: the layer, or the surface (through the clip layer while
// clipping), pre-multiplied or straight. False when the layer cannot be
// drawn into.
bool cRendererSurface::ImageTarget(rImagePass& p) {
  if (mLayer != nullptr) {
    if (!p.layer_target.attach(px32BGRA,
                               p.premultiplied ? qlm_agg::target_kind::premultiplied : qlm_agg::target_kind::straight,
                               mLayerBuf))
      return false;
    p.layer_base.attach(p.layer_target);
    p.base = &p.layer_base;
    p.ox = mLayerX;
    p.oy = mLayerY;
  } else {
    qlm_agg::renderer_any& plain = BeginDraw();
    p.base = ClipPassActive() ? (p.premultiplied ? &mClipBasePre : &plain) : (p.premultiplied ? &mBasePre : &plain);
  }
  // Untinted pictures drawn straight onto a BGRA surface (no layer, no clip
  // pass, no compositing operation) may skip the tint pass and have their
  // opaque fully covered pixels stored as they are (render_opaque_runs).
  const bool untinted = !p.mode4 && p.tint.is_identity();
  p.direct = untinted && mLayer == nullptr && !ClipPassActive() && p.base->ren().code() == px32BGRA &&
             p.base->ren().kind() != qlm_agg::target_kind::custom_blend;
  return true;
}

// The image through the outline into the target, by the chosen span
// generator, tinted.
template <class Interpolator, class Outline>
void cRendererSurface::PaintImage(rImagePass& p, Interpolator& interp, Outline& outline) {
  agg::pixfmt_rgba32 source_pf(p.source);
  using accessor_type = agg::image_accessor_clip<agg::pixfmt_rgba32>;
  accessor_type accessor(source_pf, agg::rgba8(0, 0, 0, 0));
  const int ox = p.ox, oy = p.oy;
  agg::trans_affine shift = agg::trans_affine_translation(-ox, -oy);
  agg::conv_transform<Outline> moved(outline, shift);
  mRas.reset();
  mRas.add_path(moved);
  auto run = [&](auto& gen) {
    offset_span<std::remove_reference_t<decltype(gen)>> placed{gen, ox, oy};
    agg::span_converter<decltype(placed), image_tint_converter> tinted(placed, p.tint);
    agg::render_scanlines_aa(mRas, mScanline, *p.base, mSpanAlloc, tinted);
  };
  switch (p.span) {
    case eImageSpan::nearest: {
      agg::span_image_filter_rgba_nn<accessor_type, Interpolator> gen(accessor, interp);
      run(gen);
      break;
    }
    case eImageSpan::bilinear: {
      if constexpr (std::is_same_v<Interpolator, agg::span_interpolator_linear<>>) {
        if (g_scaled_bilinear.load(std::memory_order_relaxed) && p.inverse.shx == 0 && p.inverse.shy == 0 &&
            mRas.rewind_scanlines() && mRas.max_x() - mRas.min_x() < kScaledRowLimit) {
          if (p.direct) {
            scaled_bilinear_span gen(source_pf, p.inverse, mRas.min_x(), mRas.max_x(), true);
            render_opaque_runs(mRas, mScanline, *p.base, mSpanAlloc, gen);
          } else {
            scaled_bilinear_span gen(source_pf, p.inverse, mRas.min_x() + ox, mRas.max_x() + ox);
            run(gen);
          }
          break;
        }
      }
      agg::span_image_filter_rgba_bilinear<accessor_type, Interpolator> gen(accessor, interp);
      run(gen);
      break;
    }
    case eImageSpan::filter_2x2: {
      agg::span_image_filter_rgba_2x2<accessor_type, Interpolator> gen(accessor, interp, mImageLut);
      run(gen);
      break;
    }
    case eImageSpan::resample_affine:
      if constexpr (std::is_same_v<Interpolator, agg::span_interpolator_linear<>>) {
        qlm_agg::image_accessor_clip_resample<agg::pixfmt_rgba32> resample_accessor(source_pf, agg::rgba8(0, 0, 0, 0));
        qlm_agg::span_image_resample_rgba_affine_clip<decltype(resample_accessor)> gen(resample_accessor, interp,
                                                                                       mImageLut);
        run(gen);
      }
      break;
    case eImageSpan::resample_perspective:
      if constexpr (std::is_same_v<Interpolator, perspective_interpolator>) {
        if (g_fast_perspective.load(std::memory_order_relaxed)) {
          persp_resample_span gen(p.source, p.persp, mImageLut);
          run(gen);
        } else {
          span_image_resample_rgba_held<accessor_type, Interpolator> gen(accessor, interp, mImageLut);
          run(gen);
        }
      }
      break;
    default: {
      if constexpr (std::is_same_v<Interpolator, perspective_interpolator>) {
        if (g_fast_perspective.load(std::memory_order_relaxed)) {
          persp_resample_span gen(p.source, p.persp, mImageLut, true);
          run(gen);
          break;
        }
      }
      agg::span_image_filter_rgba<accessor_type, Interpolator> gen(accessor, interp, mImageLut);
      run(gen);
      break;
    }
  }
}

// The hit test: the image's grey at its alpha, through the outline, in the
// box of the outline on the update rectangle (a zoomed image would
// otherwise grow the mask to its whole size).
template <class Interpolator, class Outline>
void cRendererSurface::ImageHitMask(rImagePass& p, Interpolator& interp, Outline& outline) {
  cHitTest* hit = p.hit;
  if (hit == nullptr) return;
  auto to_int = [](double v) { return int32_t(std::clamp(v, -2147483648.0, 2147483647.0)); };
  const int32_t hx1 = to_int(std::max(std::floor(p.box[0]), double(mUpdateRect.x1)));
  const int32_t hy1 = to_int(std::max(std::floor(p.box[1]), double(mUpdateRect.y1)));
  const int32_t hx2 = to_int(std::min(std::ceil(p.box[2]), double(mUpdateRect.x2)));
  const int32_t hy2 = to_int(std::min(std::ceil(p.box[3]), double(mUpdateRect.y2)));
  if (hx1 >= hx2 || hy1 >= hy2) return;
  if (!hit->Extend(hx1, hy1, hx2, hy2, 0, mUpdateRect, mOriginX, mOriginY)) return;
  agg::pixfmt_gray8* grey = hit->GreyAccessor();
  if (grey == nullptr) return;
  const int mx = hit->MaskOriginX(), my = hit->MaskOriginY();
  mRas.clip_box(0, 0, hit->MaskWidth(), hit->MaskHeight());
  agg::trans_affine to_mask = agg::trans_affine_translation(-mx, -my);
  agg::conv_transform<Outline> in_mask(outline, to_mask);
  mRas.reset();
  mRas.add_path(in_mask);
  agg::renderer_base<agg::pixfmt_gray8> mask_base(*grey);
  const agg::rgba8 surround(0, 0, 0, 0);
  if (mMaster.anti_aliasing) {
    span_image_grey_bilinear_clip<Interpolator> gen(p.source, interp, surround);
    offset_span<decltype(gen)> placed{gen, mx, my};
    agg::render_scanlines_aa(mRas, mScanline, mask_base, mGreyAlloc, placed);
  } else {
    span_image_grey_nn_clip<Interpolator> gen(p.source, interp, surround);
    offset_span<decltype(gen)> placed{gen, mx, my};
    agg::render_scanlines_aa(mRas, mScanline, mask_base, mGreyAlloc, placed);
  }
  if (mClip.on && !mClip.mask_stale && mClipLayer != nullptr) hit->ClipToMask(*mClipMask.GreyAccessor());
  if (mLayer != nullptr)
    mRas.clip_box(0, 0, mLayer->Width(), mLayer->Height());
  else
    mRas.clip_box(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2, mUpdateRect.y2);
}

// --- Operations ----------------------------------------------------------------------

void cRendererSurface::DrawImageScratch(cBase* image, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2,
                                        const double* corners, bool premultiplied, cHitTest* hit) {
  cBitmap* bitmap = bitmap_of(image);
  if (bitmap == nullptr) return;
  // A layer left by an interrupted call.
  if (mLayer != nullptr) {
    mLayer.reset();
    mLayerBuf.attach(nullptr, 0, 0, 0);
    mRas.clip_box(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2, mUpdateRect.y2);
  }
  SetCurrentPath(&mScratch.GetStorage(), 0, 0);
  bool layer = false;
  if (mMaster.filter_on && mMaster.filter != nullptr) {
    double box[4];
    if (ImageOutlineBox(box)) layer = BeginFilterLayer(box);
  }
  RenderImage(bitmap, sx1, sy1, sx2, sy2, corners, premultiplied, AsHitTest(hit));
  if (layer) EndFilterLayer();
  SetCurrentPath(nullptr, 0, 0);
}

namespace {
void closed_polygon(cPath& path, const double* xy, int n) {
  path.Clear();
  path.MoveTo(xy[0], xy[1]);
  for (int i = 1; i < n; ++i) path.LineTo(xy[2 * i], xy[2 * i + 1]);
  path.ClosePolygon();
}
}  // namespace

void cRendererSurface::DrawImage(cBase* image, bool flag, double x1, double y1, double x2, double y2, cHitTest* hit) {
  DrawImageRect(image, 0, 0, INT32_MAX, INT32_MAX, x1, y1, x2, y2, flag, hit);
}

void cRendererSurface::DrawImageRect(cBase* image, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2, double x1,
                                     double y1, double x2, double y2, bool flag, cHitTest* hit) {
  const double outline[8] = {x1, y1, x2, y1, x2, y2, x1, y2};
  closed_polygon(mScratch, outline, 4);
  DrawImageScratch(image, sx1, sy1, sx2, sy2, outline, flag, hit);
}

void cRendererSurface::DrawImageParallelogram(cBase* image, double x1, double y1, double x2, double y2, double x3,
                                              double y3, bool flag, cHitTest* hit) {
  DrawImageRectParallelogram(image, 0, 0, INT32_MAX, INT32_MAX, x1, y1, x2, y2, x3, y3, flag, hit);
}

void cRendererSurface::DrawImageRectParallelogram(cBase* image, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2,
                                                  double x1, double y1, double x2, double y2, double x3, double y3,
                                                  bool flag, cHitTest* hit) {
  const double outline[8] = {x1, y1, x2, y2, x3, y3, x1 + x3 - x2, y1 + y3 - y2};
  closed_polygon(mScratch, outline, 4);
  DrawImageScratch(image, sx1, sy1, sx2, sy2, outline, flag, hit);
}

void cRendererSurface::DrawImageInPath(cBase* image, cPath* path, bool flag, cHitTest* hit) {
  DrawImageRectInPath(image, path, 0, 0, INT32_MAX, INT32_MAX, flag, hit);
}

void cRendererSurface::DrawImageRectInPath(cBase* image, cPath* path, int32_t sx1, int32_t sy1, int32_t sx2,
                                           int32_t sy2, bool flag, cHitTest* hit) {
  if (!object_identify(path, id_cPath)) return;
  mScratch.Assign(path);
  const rPathBounds& b = mScratch.GetBounds();
  const double corners[6] = {b.x1, b.y1, b.x2, b.y1, b.x2, b.y2};
  DrawImageScratch(image, sx1, sy1, sx2, sy2, corners, flag, hit);
}

void cRendererSurface::DrawImageInPathAt(cBase* image, cPath* path, double x, double y, bool flag, cHitTest* hit) {
  DrawImageRectInPathAt(image, path, x, y, 0, 0, INT32_MAX, INT32_MAX, flag, hit);
}

void cRendererSurface::DrawImageRectInPathAt(cBase* image, cPath* path, double x, double y, int32_t sx1, int32_t sy1,
                                             int32_t sx2, int32_t sy2, bool flag, cHitTest* hit) {
  if (!object_identify(path, id_cPath)) return;
  mScratch.Assign(path);
  const rPathBounds& own = mScratch.GetBounds();
  rMatrix move;
  matrix_identity(move);
  matrix_translate(move, x - own.x1, y - own.y1);
  mScratch.Transform(move);
  const rPathBounds& b = mScratch.GetBounds();
  const double corners[6] = {b.x1, b.y1, b.x2, b.y1, b.x2, b.y2};
  DrawImageScratch(image, sx1, sy1, sx2, sy2, corners, flag, hit);
}
