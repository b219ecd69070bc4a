// Gradients in the renderer: the pen's gradient operations and the gradient
// painter (RenderGradientSpans) of fills and pens.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>
#include <vector>

#include "qlm_axis_box.h"
#include "qlm_gradient.h"
#include "qlm_renderer_engine.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// --- The pen's gradient ------------------------------------------------------------

void cRendererSurface::SetPenGradient(cGradient* gradient) {
  // A nil, invalid or unknown gradient leaves no kind: the pen strokes in
  // its colour. The pen's kind is not changed.
  mPen.gradient_kind = eGradientKind::none;
  const eGradientKind kind = gradient_kind_of(gradient);
  if (kind == eGradientKind::none) return;
  mPen.gradient = gradient;
  mPen.gradient_kind = kind;
  mPen.gradient_active = true;
}

void cRendererSurface::ReapplyPenGradient() {
  // The gradient is borrowed: a caller frees it only after resetting it.
  if (mPen.gradient != nullptr) SetPenGradient(mPen.gradient);
}

// --- The gradient painter ------------------------------------------------------------

namespace {

// Gradient-space coordinates are held within +-2^21 units before the span
// interpolator makes 1/256 integers of them, so its steps and every later
// product stay inside their integers however far a mapping throws a pixel.
constexpr double kSpanLimit = 2097152.0;

// AGG's iround for values that may leave the range of an int.
inline int held_round(double v) {
  constexpr double limit = 1073741824.0;  // 2^30
  if (!(v > -limit)) return -int(limit);
  if (v > limit) return int(limit);
  return agg::iround(v);
}

// Device pixel to gradient space: the affine mapping.
struct affine_map {
  const agg::trans_affine* m;
  void transform(double* x, double* y) const {
    m->transform(x, y);
    *x = gradient_held(*x, kSpanLimit);
    *y = gradient_held(*y, kSpanLimit);
  }
};

// Device pixel to gradient space through a perspective (AGG's
// trans_perspective formula over its stored matrix), then the affine part.
struct perspective_map {
  const double* p;  // sx, shy, w0, shx, sy, w1, tx, ty, w2
  const agg::trans_affine* post;
  void transform(double* x, double* y) const {
    const double px = *x, py = *y;
    const double m = 1.0 / (px * p[2] + py * p[5] + p[8]);
    *x = m * (px * p[0] + py * p[3] + p[6]);
    *y = m * (px * p[1] + py * p[4] + p[7]);
    post->transform(x, y);
    *x = gradient_held(*x, kSpanLimit);
    *y = gradient_held(*y, kSpanLimit);
  }
};

using affine_interpolator = agg::span_interpolator_linear<affine_map, 8>;
using affine_distorted = agg::span_interpolator_adaptor<affine_interpolator, qlm_agg::distortion_dispatch>;
using gradient_persp_interpolator = agg::span_interpolator_linear<perspective_map, 8>;
using perspective_distorted = agg::span_interpolator_adaptor<gradient_persp_interpolator, qlm_agg::distortion_dispatch>;

// The colour table index of a function value v (1/16 units): the spread
// applied, then the place between d1 and d2; pad clamps to the table's ends.
unsigned gradient_index(const rGradientPaint& p, int64_t v) {
  const int64_t size = p.table->size();
  const int64_t d1 = p.d1, d = p.d2;
  int64_t dd = d - d1;
  if (dd < 1) dd = 1;
  if (p.spread == eGradientSpread::repeat) {
    v %= d;
    if (v < 0) v += d;
  } else if (p.spread == eGradientSpread::reflect) {
    const int64_t d2 = d * 2;
    v %= d2;
    if (v < 0) v += d2;
    if (v >= d) v = d2 - v;
  }
  int64_t i = (v - d1) * size / dd;
  if (i < 0) i = 0;
  if (i >= size) i = size - 1;
  return unsigned(i);
}

// gradient_index with the divisor's reciprocal worked out once, for loops
// over many pixels, so that the index is gradient_index's own without a
// 64-bit division (which costs several multiplications). Where every
// numerator below the table's end is under 2^31 the quotient is a
// multiplication and a shift: with l = ceil(log2 d) and m = ceil(2^(31+l) /
// d), floor(n / d) = (n m) >> (31 + l) for every n < 2^31 (Granlund and
// Montgomery's rounding bound: m d - 2^(31+l) < d <= 2^l), and n m < 2^63.
// Otherwise the quotient comes from a double multiplication, set right
// where its rounding went one over or under.
class index_map {
 public:
  explicit index_map(const rGradientPaint& p)
      : mSize(p.table->size()),
        mD1(p.d1),
        mD(p.d2),
        mDd(std::max<int64_t>(int64_t(p.d2) - p.d1, 1)),
        mLimit(mSize * mDd),
        mInverse(1.0 / double(mDd)),
        mSpread(p.spread) {
    mExact = mLimit <= (int64_t(1) << 31);
    if (mExact) {
      int l = 0;
      while ((int64_t(1) << l) < mDd) ++l;
      mShift = 31 + l;
      mMultiplier = ((uint64_t(1) << mShift) + uint64_t(mDd) - 1) / uint64_t(mDd);
    }
  }
  unsigned operator()(int64_t v) const {
    if (mSpread == eGradientSpread::repeat) return at<eGradientSpread::repeat>(v);
    if (mSpread == eGradientSpread::reflect) return at<eGradientSpread::reflect>(v);
    return at<eGradientSpread::pad>(v);
  }
  // The index under spread `Spread` (the paint's own).
  template <eGradientSpread Spread>
  unsigned at(int64_t v) const {
    if constexpr (Spread == eGradientSpread::repeat) {
      v %= mD;
      if (v < 0) v += mD;
    } else if constexpr (Spread == eGradientSpread::reflect) {
      const int64_t d2 = mD * 2;
      v %= d2;
      if (v < 0) v += d2;
      if (v >= mD) v = d2 - v;
    }
    const int64_t n = (v - mD1) * mSize;
    if (n <= 0) return 0;
    if (n >= mLimit) return unsigned(mSize - 1);
    if (mExact) return unsigned((uint64_t(n) * mMultiplier) >> mShift);
    // Without branches: which way the rounding went follows no pattern.
    int64_t i = int64_t(double(n) * mInverse);
    i -= int64_t(i * mDd > n);
    i += int64_t((i + 1) * mDd <= n);
    return unsigned(i);
  }

 private:
  int64_t mSize, mD1, mD, mDd, mLimit;
  double mInverse;
  eGradientSpread mSpread;
  bool mExact = false;
  int mShift = 0;
  uint64_t mMultiplier = 0;
};

// AGG's span_gradient with one gradient function chosen at run time (kind
// and spread), integer products in 64 bits and the run-time-sized colour
// table. The function value of a pixel between d1 and d2 becomes an index
// of the table; pad clamps to its ends.
template <class Interpolator>
class gradient_span {
 public:
  using paint_type = rGradientPaint;
  gradient_span(Interpolator& interpolator, const paint_type& paint) : mInterpolator(interpolator), mPaint(paint) {}
  void prepare() {}
  void generate(agg::rgba8* span, int x, int y, unsigned len) {
    switch (mPaint.kind) {
      case eGradientKind::linear_x: run(span, x, y, len, [](int px, int) { return px; }); break;
      case eGradientKind::linear_y: run(span, x, y, len, [](int, int py) { return py; }); break;
      default: {
        const paint_type& p = mPaint;
        run(span, x, y, len, [&p](int px, int py) {
          // AGG's gradient_radial_focus.
          const double dx = px - p.focus_x;
          const double dy = py - p.focus_y;
          const double d2 = dx * p.focus_y - dy * p.focus_x;
          const double d3 = p.focus_r2 * (dx * dx + dy * dy) - d2 * d2;
          return held_round((dx * p.focus_x + dy * p.focus_y + std::sqrt(std::fabs(d3))) * p.focus_mul);
        });
        break;
      }
    }
  }

 private:
  static constexpr int kShift = int(Interpolator::subpixel_shift) - int(agg::gradient_subpixel_shift);

  template <class F>
  void run(agg::rgba8* span, int x, int y, unsigned len, F function) {
    const gradient_color_table& table = *mPaint.table;
    mInterpolator.begin(x + 0.5, y + 0.5, len);
    do {
      mInterpolator.coordinates(&x, &y);
      *span++ = table[gradient_index(mPaint, function(x >> kShift, y >> kShift))];
      ++mInterpolator;
    } while (--len);
  }

  Interpolator& mInterpolator;
  const paint_type& mPaint;
};

}  // namespace

bool cRendererSurface::PrepareGradientPaint(bool fill, const double* box, const rTransformChain& chain) {
  cGradient* g = fill ? mFill.gradient : mPen.gradient;
  const eGradientKind kind = fill ? mFill.gradient_kind : mPen.gradient_kind;
  // Only the linear and radial focus kinds have classes; any other kind
  // paints nothing.
  if (g == nullptr ||
      (kind != eGradientKind::linear_x && kind != eGradientKind::linear_y && kind != eGradientKind::radial_focus))
    return false;
  rGradientPaint& p = mGradientPaint;
  p = rGradientPaint{};
  p.kind = kind;
  p.table = g->GetColorTable();
  if (p.table == nullptr || p.table->size() == 0) return false;

  // The frame: the shape's box, or the surface.
  double x1 = 0, y1 = 0, x2 = mBoundsX2 - mBoundsX1, y2 = mBoundsY2 - mBoundsY1;
  if (g->IsRelative() && box != nullptr) {
    x1 = box[0], y1 = box[1], x2 = box[2], y2 = box[3];
  }
  const double w = x2 - x1, h = y2 - y1;
  if (!std::isfinite(w) || !std::isfinite(h) || !(w > 0) || !(h > 0)) return false;

  // Its corners in device space (of the layer when one is open).
  double q[8] = {x1, y1, x2, y1, x2, y2, x1, y2};
  for (int i = 0; i < 8; i += 2) {
    chain.transform(&q[i], &q[i + 1]);
    if (mLayer != nullptr) {
      q[i] -= mLayerX;
      q[i + 1] -= mLayerY;
    }
    if (!std::isfinite(q[i]) || !std::isfinite(q[i + 1])) return false;
  }
  for (size_t i = 0; i < chain.count; ++i) p.perspective |= chain.ops[i].kind != 0;

  // Origin and extent, the fit, and the frame rectangle in gradient space.
  const bool centred = kind >= eGradientKind::kind3 && kind <= eGradientKind::radial_focus;
  const double ox = centred ? w / 2 : 0, oy = centred ? h / 2 : 0;
  const double ex = centred ? w / 2 : w, ey = centred ? h / 2 : h;
  agg::trans_affine u;
  if (g->IsFitToBounds()) {
    const double gx = g->GetExtentX(), gy = g->GetExtentY();
    u *= agg::trans_affine_scaling(gx > 0 ? ex / gx : 0.0001, gy > 0 ? ey / gy : 0.0001);
  }
  u *= agg::trans_affine_translation(ox, oy);
  if (!(std::fabs(u.determinant()) > 1e-12)) return false;
  u.invert();
  double rx1 = 0, ry1 = 0, rx2 = w, ry2 = h;
  u.transform(&rx1, &ry1);
  u.transform(&rx2, &ry2);

  // The gradient's own matrix, undone after the frame mapping.
  agg::trans_affine own = matrix_to_affine(g->GetMatrix());
  const double own_det = own.determinant();
  if (!std::isfinite(own_det) || !(std::fabs(own_det) > 1e-12)) return false;
  own.invert();

  if (!gradient_frame_mapping(p, q, rx1, ry1, rx2, ry2, &own)) return false;

  // The colour range, the spread (repeat and reflect need a range of at
  // least one 1/16 unit: below it they pad) and the radial function.
  p.d1 = gradient_units(g->GetD1());
  p.d2 = gradient_units(g->GetD2());
  const eGradientSpread spread = eGradientSpread(g->GetSpread());
  p.spread = spread == eGradientSpread::repeat || spread == eGradientSpread::reflect ? spread : eGradientSpread::pad;
  if (p.d2 < 1) p.spread = eGradientSpread::pad;
  if (kind == eGradientKind::radial_focus) {
    const cGradientRadialFocus* rf = static_cast<const cGradientRadialFocus*>(g);
    if (!std::isfinite(rf->GetRadius()) || !std::isfinite(rf->GetFocusX()) || !std::isfinite(rf->GetFocusY()))
      return false;
    gradient_radial_focus(p, rf->GetRadius(), rf->GetFocusX(), rf->GetFocusY());
  }

  // Wave and swirl act on fill gradients, and on pen gradients when asked,
  // in the plain fill render mode.
  p.distort = mFill.distortions && mMaster.fill_render_mode == eRenderMode::normal && (fill || mPen.distort_gradient);
  if (p.distort) p.distortion = Distortion();
  return true;
}

namespace {

// A linear gradient whose device-to-gradient mapping is affine and keeps
// the gradient's axis on a device axis: its value depends on the device x
// alone (a column gradient) or on the device y alone (a row gradient). The
// colours are then worked out once per scan line for a row, or once for all
// the scan lines whose span is the same for columns, instead of once per
// pixel; the values are the general painter's own.
enum class axis_gradient { none, columns, rows };

std::atomic<bool> g_axis_painter{true};

axis_gradient axis_of(const rGradientPaint& p) {
  if (!g_axis_painter.load(std::memory_order_relaxed)) return axis_gradient::none;
  if (p.perspective || p.distort || (p.kind != eGradientKind::linear_x && p.kind != eGradientKind::linear_y))
    return axis_gradient::none;
  const agg::trans_affine& m = p.mapping;
  // Along x reads x' = sx x + shx y + tx, along y y' = shy x + sy y + ty.
  const bool along_x = p.kind == eGradientKind::linear_x;
  const double on_x = along_x ? m.sx : m.shy;
  const double on_y = along_x ? m.shx : m.sy;
  if (on_y == 0) return axis_gradient::columns;
  if (on_x == 0) return axis_gradient::rows;
  return axis_gradient::none;
}

// Scan lines as agg::scanline_u8 builds them (the same spans, so the span
// interpolator steps along each exactly as for the pixel-by-pixel painter)
// that also know, for each span, whether every one of its pixels is wholly
// covered: the inside of a shape then skips the per-pixel cover test.
class scanline_u8_full : public agg::scanline_u8 {
 public:
  void reset(int min_x, int max_x) {
    agg::scanline_u8::reset(min_x, max_x);
    const size_t spans = size_t(max_x - min_x) + 3;
    if (mFull.size() < spans) mFull.resize(spans);
  }
  void add_cell(int x, unsigned cover) {
    const unsigned before = num_spans();
    agg::scanline_u8::add_cell(x, cover);
    note(before, cover == agg::cover_full);
  }
  void add_cells(int x, unsigned len, const cover_type* covers) {
    const unsigned before = num_spans();
    agg::scanline_u8::add_cells(x, len, covers);
    note(before, std::all_of(covers, covers + len, [](cover_type c) { return c == agg::cover_full; }));
  }
  void add_span(int x, unsigned len, unsigned cover) {
    const unsigned before = num_spans();
    agg::scanline_u8::add_span(x, len, cover);
    note(before, cover == agg::cover_full);
  }
  // Span i of the scan line (0 is begin()) is wholly covered.
  bool full(unsigned i) const { return mFull[i + 1] != 0; }

 private:
  // A call either opened span n or extended it.
  void note(unsigned before, bool full) {
    const unsigned n = num_spans();
    mFull[n] = n != before ? full : (mFull[n] != 0 && full);
  }
  std::vector<uint8_t> mFull;
};

// A run of pixels on a straight BGRA target (the format of windows and of
// the standard surface) cut to the renderer's clip box as its span functions
// cut it: the first pixel written, how many of the run lie before it, and
// how many are written (0: none).
struct bgra_run {
  agg::pixfmt_bgra32 format;
  uint32_t* pixels = nullptr;
  unsigned skip = 0, count = 0;
};

bool is_straight_bgra(qlm_agg::renderer_any& target) {
  qlm_agg::any_rgba_target& any = target.ren();
  return any.kind() == qlm_agg::target_kind::straight && any.code() == px32BGRA;
}

bgra_run clip_run(qlm_agg::renderer_any& target, int x, int y, unsigned len) {
  bgra_run run{agg::pixfmt_bgra32(target.ren().rbuf())};
  if (y < target.ymin() || y > target.ymax() || x > target.xmax() || x + int(len) <= target.xmin()) return run;
  int from = x;
  unsigned n = len;
  if (from < target.xmin()) {
    n -= unsigned(target.xmin() - from);
    from = target.xmin();
  }
  if (from + int(n) - 1 > target.xmax()) n = unsigned(target.xmax() - from + 1);
  run.pixels = reinterpret_cast<uint32_t*>(run.format.pix_ptr(from, y));
  run.skip = unsigned(from - x);
  run.count = n;
  return run;
}

// The stored word of a colour in straight BGRA.
uint32_t bgra_word(const agg::rgba8& c) {
  if constexpr (std::endian::native == std::endian::little) {
    // R, G, B, A in memory: R and B swap places.
    uint32_t rgba;
    std::memcpy(&rgba, &c, 4);
    return (rgba & 0xFF00FF00u) | (rgba >> 16 & 0xFFu) | (rgba & 0xFFu) << 16;
  } else {
    const agg::int8u bgra[4] = {c.b, c.g, c.r, c.a};
    uint32_t word;
    std::memcpy(&word, bgra, 4);
    return word;
  }
}

// Runs `paint` on `base`, or on the filter layer's buffer when it is nil.
template <class Paint>
void into_target(qlm_agg::renderer_any* base, agg::rendering_buffer& layer_buffer, Paint&& paint) {
  if (base != nullptr) {
    paint(*base);
    return;
  }
  agg::pixfmt_bgra32 pf(layer_buffer);
  agg::renderer_base<agg::pixfmt_bgra32> layer(pf);
  paint(layer);
}

// The widest run of columns whose colours are worked out ahead; a wider
// shape (only without a clip box) takes the pixel-by-pixel painter.
constexpr int kAxisRowLimit = 1 << 16;

// --- Boxes ------------------------------------------------------------------------------

// AGG's render_scanlines_aa over a box's rows: each span's colours made by
// `span` and blended with the span's covers.
template <class Target, class Allocator, class Span>
void render_box(const box_rows& rows, Target& target, Allocator& alloc, Span& span) {
  span.prepare();
  for (unsigned k = 0; k < rows.set_count; ++k) {
    const box_rows::row_set& set = rows.sets[k];
    for (int y = set.y1; y <= set.y2; ++y)
      for (unsigned i = 0; i < set.count; ++i) {
        const box_rows::span& s = set.spans[i];
        agg::rgba8* colours = alloc.allocate(s.len);
        span.generate(colours, s.x, y, s.len);
        const agg::int8u* covers = rows.covers.data() + s.at;
        target.blend_color_hspan(s.x, y, s.len, colours, covers, *covers);
      }
  }
}

// The weights of one column's colour for blend_straight_row: per channel
// (in the target's byte order) the colour's value times its alpha a, and
// 255 - a; the alpha channel's value is taken as 255.
struct straight_weights {
  uint16_t colour[4];
  uint16_t keep[4];
};

straight_weights weights_of(const agg::rgba8& c) {
  const unsigned value[4] = {c.b, c.g, c.r, 255};  // the bytes of straight BGRA
  straight_weights w;
  for (int k = 0; k < 4; ++k) {
    w.colour[k] = uint16_t(value[k] * c.a);
    w.keep[k] = uint16_t(255 - c.a);
  }
  return w;
}

// Memory the gradient painters reuse from one call to the next on the same
// thread (a call never runs inside another): covers of a box's rows and the
// words of a kept span.
struct gradient_scratch {
  std::vector<agg::int8u> covers;
  std::vector<uint32_t> words;
};

gradient_scratch& scratch_of() {
  thread_local gradient_scratch scratch;
  return scratch;
}

// Straight BGRA pixels blended at full coverage with colours of alpha a, as
// pixfmt_bgra32 blends them: every channel becomes d + round((s - d) a /
// 255) = round((d (255 - a) + s a) / 255), the alpha channel's s being 255
// (which is the blender's a + d - a d / 255). The rounding (t = u + 128,
// (t + (t >> 8)) >> 8) is the blender's exactly for every input, and every
// sum stays within 16 bits.
void blend_straight_row(uint32_t* pixels, const straight_weights* weights, unsigned n) {
  unsigned i = 0;
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi16(128);
  auto blend = [&](__m128i d, const straight_weights* w) {
    // Two pixels: their colour and keep weights side by side.
    const __m128i colour = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w[0].colour)),
                                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w[1].colour)));
    const __m128i keep = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w[0].keep)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w[1].keep)));
    const __m128i t = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(d, keep), colour), half);
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  };
  for (; i + 4 <= n; i += 4) {
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + i));
    const __m128i lo = blend(_mm_unpacklo_epi8(d, zero), weights + i);
    const __m128i hi = blend(_mm_unpackhi_epi8(d, zero), weights + i + 2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + i), _mm_packus_epi16(lo, hi));
  }
#endif
  for (; i < n; ++i) {
    agg::int8u d[4];
    std::memcpy(d, pixels + i, 4);
    for (int k = 0; k < 4; ++k) {
      const unsigned t = unsigned(d[k]) * weights[i].keep[k] + weights[i].colour[k] + 128;
      d[k] = agg::int8u((t + (t >> 8)) >> 8);
    }
    std::memcpy(pixels + i, d, 4);
  }
}

// --- Axis painters ------------------------------------------------------------------------

// What the row and column painters share: the affine mapping as the span
// interpolator steps it, the colour table with its index and the row of
// colours the call allocated (one per column of the shape's extent).
class axis_values {
 public:
  axis_values(const rGradientPaint& p, agg::rgba8* row)
      : mPaint(p),
        mMap{&p.mapping},
        mInterpolator(mMap),
        mTable(&(*p.table)[0]),
        mIndex(p),
        mAlongX(p.kind == eGradientKind::linear_x),
        mRow(row) {}
  // The interpolator points at the map inside the same object.
  axis_values(const axis_values&) = delete;
  axis_values& operator=(const axis_values&) = delete;

 protected:
  static constexpr int kShift = int(affine_interpolator::subpixel_shift) - int(agg::gradient_subpixel_shift);

  // The colour of the pixel centre (x, y) through the span interpolator, as
  // the general painter reads it.
  agg::rgba8 colour_at(int x, int y) {
    mInterpolator.begin(x + 0.5, y + 0.5, 1);
    int gx = 0, gy = 0;
    mInterpolator.coordinates(&gx, &gy);
    return mTable[mIndex(mAlongX ? gx >> kShift : gy >> kShift)];
  }

  const rGradientPaint& mPaint;
  affine_map mMap;
  affine_interpolator mInterpolator;
  const agg::rgba8* mTable;
  index_map mIndex;
  bool mAlongX;
  agg::rgba8* mRow;
};

// Rows: one colour per scan line, the value at the row's first column x0
// (every column's is the same). Packed scan lines bring a run of whole
// coverage as one cover value: the blender's line of one colour, or on
// straight BGRA with an opaque colour the colour's word repeated.
class row_painter : axis_values {
 public:
  row_painter(const rGradientPaint& p, agg::rgba8* row, int x0) : axis_values(p, row), mX0(x0) {}

  // The rows of a box.
  template <class Target>
  void paint(Target& target, const box_rows& rows) {
    for (unsigned k = 0; k < rows.set_count; ++k) {
      const box_rows::row_set& set = rows.sets[k];
      for (int y = set.y1; y <= set.y2; ++y) {
        const agg::rgba8 c = colour_at(mX0, y);
        for (unsigned i = 0; i < set.count; ++i) {
          const box_rows::span& span = set.spans[i];
          const agg::int8u* covers = rows.covers.data() + span.at;
          if (span.full) {
            paint_run(target, c, span.x, y, span.len, agg::cover_full);
          } else {
            std::fill(mRow, mRow + span.len, c);
            target.blend_color_hspan(span.x, y, span.len, mRow, covers, *covers);
          }
        }
      }
    }
  }

  // The rasteriser's scan lines.
  template <class Target>
  void paint(Target& target, qlm_agg::rasterizer& ras) {
    agg::scanline_p8 packed;
    packed.reset(ras.min_x(), ras.max_x());
    while (ras.sweep_scanline(packed)) {
      const int y = packed.y();
      const agg::rgba8 c = colour_at(mX0, y);
      auto span = packed.begin();
      for (unsigned n = packed.num_spans(); n > 0; --n, ++span) {
        const int x = span->x;
        if (span->len > 0) {  // partly covered pixels, each with its cover
          std::fill(mRow, mRow + span->len, c);
          target.blend_color_hspan(x, y, unsigned(span->len), mRow, span->covers, *span->covers);
          continue;
        }
        paint_run(target, c, x, y, unsigned(-span->len), *span->covers);
      }
    }
  }

 private:
  // A run of one colour and one cover.
  template <class Target>
  static void paint_run(Target& target, const agg::rgba8& c, int x, int y, unsigned len, agg::int8u cover) {
    if constexpr (std::is_same_v<Target, qlm_agg::renderer_any>) {
      if (c.a == 255 && cover == agg::cover_full && is_straight_bgra(target)) {
        const bgra_run run = clip_run(target, x, y, len);
        std::fill_n(run.pixels, run.count, bgra_word(c));
        return;
      }
    }
    target.blend_hline(x, y, x + int(len) - 1, c, cover);
  }

  int mX0;
};

// Columns: the colours of a span stepped out as the general painter steps
// them along it, and kept for every later span with the same start and
// length (every row of a rectangle). Into straight BGRA a wholly covered
// span of opaque colours is its words copied, a wholly covered span with
// translucent colours one blend of the row, and in any other span a
// whole-coverage opaque pixel is one word written and every other pixel
// AGG's own blend of that pixel; elsewhere the target's span function.
class column_painter : axis_values {
 public:
  column_painter(const rGradientPaint& p, agg::rgba8* row, unsigned width, gradient_scratch& scratch)
      : axis_values(p, row), mWidth(width) {
    if (scratch.words.size() < width) scratch.words.resize(width);
    mWords = scratch.words.data();
  }

  // The rows of a box: each set's spans are worked out once and painted on
  // all its rows.
  template <class Target>
  void paint(Target& target, const box_rows& rows) {
    for (unsigned k = 0; k < rows.set_count; ++k) {
      const box_rows::row_set& set = rows.sets[k];
      for (unsigned i = 0; i < set.count; ++i) {
        const box_rows::span& span = set.spans[i];
        colours_of(span.x, set.y1, span.len);
        if constexpr (std::is_same_v<Target, qlm_agg::renderer_any>) {
          if (span.full && is_straight_bgra(target)) {
            paint_full_rows(target, span.x, set.y1, set.y2, span.len);
            continue;
          }
        }
        for (int y = set.y1; y <= set.y2; ++y)
          paint_span(target, span.x, y, span.len, rows.covers.data() + span.at, span.full);
      }
    }
  }

  // The rasteriser's scan lines.
  template <class Target>
  void paint(Target& target, qlm_agg::rasterizer& ras) {
    scanline_u8_full line;
    line.reset(ras.min_x(), ras.max_x());
    while (ras.sweep_scanline(line)) {
      const int y = line.y();
      auto span = line.begin();
      for (unsigned i = 0, n = line.num_spans(); i < n; ++i, ++span) {
        colours_of(span->x, y, unsigned(span->len));
        paint_span(target, span->x, y, unsigned(span->len), span->covers, line.full(i));
      }
    }
  }

 private:
  // The kept span's colours, words and (when a colour is translucent)
  // weights for the span at x of length len on row y.
  void colours_of(int x, int y, unsigned len) {
    if (x == mSpanX && len == mSpanLen) return;
    // The span interpolator's steps along the one coordinate that is read
    // (its begin() and dda, the other coordinate's left out), and
    // everything the loop reads held in locals of its own, which the stores
    // of colour bytes cannot alias.
    const double bx = x + 0.5, by = y + 0.5;
    double tx = bx, ty = by;
    mMap.transform(&tx, &ty);
    const int from = agg::iround((mAlongX ? tx : ty) * double(affine_interpolator::subpixel_scale));
    tx = bx + len;
    ty = by;
    mMap.transform(&tx, &ty);
    const int to = agg::iround((mAlongX ? tx : ty) * double(affine_interpolator::subpixel_scale));
    agg::dda2_line_interpolator dda(from, to, int(len));
    const index_map ix = mIndex;
    const agg::rgba8* const colours = mTable;
    agg::rgba8* const out = mRow;
    uint32_t* const out_words = mWords;
    unsigned all_alpha = 255;
    auto step = [&](auto spread) {
      for (unsigned k = 0; k < len; ++k, ++dda) {
        const agg::rgba8 c = colours[ix.at<spread>(dda.y() >> kShift)];
        out[k] = c;
        out_words[k] = bgra_word(c);
        all_alpha &= c.a;
      }
    };
    if (mPaint.spread == eGradientSpread::repeat)
      step(std::integral_constant<eGradientSpread, eGradientSpread::repeat>());
    else if (mPaint.spread == eGradientSpread::reflect)
      step(std::integral_constant<eGradientSpread, eGradientSpread::reflect>());
    else
      step(std::integral_constant<eGradientSpread, eGradientSpread::pad>());
    mSpanOpaque = all_alpha == 255;
    if (!mSpanOpaque) {
      mWeights.resize(mWidth);
      for (unsigned k = 0; k < len; ++k) mWeights[k] = weights_of(out[k]);
    }
    mSpanX = x;
    mSpanLen = len;
  }

  // The kept span on rows y1 to y2 of straight BGRA, wholly covered: the
  // run cut to the clip box once, then each row's words copied or blended.
  void paint_full_rows(qlm_agg::renderer_any& target, int x, int y1, int y2, unsigned len) {
    const int ya = std::max(y1, target.ymin()), yb = std::min(y2, target.ymax());
    if (ya > yb) return;
    bgra_run run = clip_run(target, x, ya, len);
    if (run.count == 0) return;
    const int from = x + int(run.skip);
    for (int y = ya; y <= yb; ++y) {
      uint32_t* pixels = reinterpret_cast<uint32_t*>(run.format.pix_ptr(from, y));
      store_kept(pixels, run.skip, run.count);
    }
  }

  // count pixels of the kept span from its pixel skip, wholly covered.
  void store_kept(uint32_t* pixels, unsigned skip, unsigned count) const {
    if (mSpanOpaque)
      std::memcpy(pixels, mWords + skip, size_t(count) * 4);
    else
      blend_straight_row(pixels, mWeights.data() + skip, count);
  }

  // The kept span at (x, y) with its covers.
  template <class Target>
  void paint_span(Target& target, int x, int y, unsigned len, const agg::int8u* covers, bool full) {
    if constexpr (std::is_same_v<Target, qlm_agg::renderer_any>) {
      if (is_straight_bgra(target)) {
        bgra_run run = clip_run(target, x, y, len);
        if (run.count == 0) return;
        if (full) {
          store_kept(run.pixels, run.skip, run.count);
          return;
        }
        for (unsigned i = 0; i < run.count; ++i) {
          const agg::rgba8& c = mRow[run.skip + i];
          const agg::int8u cover = covers[run.skip + i];
          if (cover == agg::cover_full && c.a == 255)
            run.pixels[i] = mWords[run.skip + i];
          else
            run.format.blend_pixel(x + int(run.skip + i), y, c, cover);
        }
        return;
      }
    }
    target.blend_color_hspan(x, y, len, mRow, covers, *covers);
  }

  unsigned mWidth;
  uint32_t* mWords = nullptr;
  std::vector<straight_weights> mWeights;  // made when a span has translucent colours
  bool mSpanOpaque = false;                // every colour of the kept span opaque
  int mSpanX = 0;
  unsigned mSpanLen = 0;
};

// An axis painter over a box's rows, or over the rasteriser's scan lines
// when there is no box.
template <class Painter>
void paint_axis(Painter& painter, qlm_agg::renderer_any* base, agg::rendering_buffer& layer_buffer,
                const box_rows* rows, qlm_agg::rasterizer& ras) {
  into_target(base, layer_buffer, [&](auto& target) {
    if (rows != nullptr)
      painter.paint(target, *rows);
    else
      painter.paint(target, ras);
  });
}

// --- The pixel-by-pixel painter ----------------------------------------------------------

// Where the pixel-by-pixel painter reads its scan lines and keeps its spans.
struct pixel_sweep {
  const box_rows* rows;  // nil: the rasteriser's cells
  qlm_agg::rasterizer& ras;
  agg::scanline_u8& scanline;
  agg::span_allocator<agg::rgba8>& alloc;
};

// AGG's scan-line renderer over the rasteriser's cells, or the same span
// calls over a box's rows, with the gradient's spans through `interpolator`.
template <class Target, class Interpolator>
void paint_spans(Target& target, const rGradientPaint& p, const pixel_sweep& sweep, Interpolator& interpolator) {
  gradient_span<Interpolator> span(interpolator, p);
  if (sweep.rows == nullptr)
    agg::render_scanlines_aa(sweep.ras, sweep.scanline, target, sweep.alloc, span);
  else
    render_box(*sweep.rows, target, sweep.alloc, span);
}

// The pixel-by-pixel painter through the interpolator the paint's mapping
// needs: affine or perspective, each with or without the distortion.
template <class Target>
void paint_pixels(Target& target, const rGradientPaint& p, const pixel_sweep& sweep) {
  qlm_agg::distortion_dispatch distortion = p.distortion;
  if (!p.perspective) {
    affine_map map{&p.mapping};
    if (p.distort) {
      affine_distorted i(map, distortion);
      paint_spans(target, p, sweep, i);
    } else {
      affine_interpolator i(map);
      paint_spans(target, p, sweep, i);
    }
  } else {
    perspective_map map{p.persp, &p.mapping};
    if (p.distort) {
      perspective_distorted i(map, distortion);
      paint_spans(target, p, sweep, i);
    } else {
      gradient_persp_interpolator i(map);
      paint_spans(target, p, sweep, i);
    }
  }
}

}  // namespace

void gradient_axis_painter_enable(bool on) { g_axis_painter.store(on); }

void cRendererSurface::RenderGradientPaint(qlm_agg::renderer_any* base, const rAxisBox* box) {
  const rGradientPaint& p = mGradientPaint;
  // A box is swept from its rows; the rasteriser's clip box is the layer's
  // or the update rectangle.
  gradient_scratch& scratch = scratch_of();
  box_rows rows(scratch.covers);
  if (box != nullptr) {
    const double clip[4] = {mLayer != nullptr ? 0.0 : double(mUpdateRect.x1),
                            mLayer != nullptr ? 0.0 : double(mUpdateRect.y1),
                            mLayer != nullptr ? double(mLayer->Width()) : double(mUpdateRect.x2),
                            mLayer != nullptr ? double(mLayer->Height()) : double(mUpdateRect.y2)};
    if (!rows.build(*box, clip, mRas)) return;
  }
  const box_rows* boxed = box != nullptr ? &rows : nullptr;
  const axis_gradient axis = axis_of(p);
  const bool axis_ready = axis != axis_gradient::none &&
                          (boxed != nullptr ? rows.max_x - rows.min_x < kAxisRowLimit
                                            : mRas.rewind_scanlines() && mRas.max_x() - mRas.min_x() < kAxisRowLimit);
  if (axis_ready) {
    const int x0 = boxed != nullptr ? rows.min_x : mRas.min_x();
    const unsigned width = unsigned((boxed != nullptr ? rows.max_x : mRas.max_x()) - x0 + 1);
    agg::rgba8* row = mSpanAlloc.allocate(width);
    if (axis == axis_gradient::rows) {
      row_painter painter(p, row, x0);
      paint_axis(painter, base, mLayerBuf, boxed, mRas);
    } else {
      column_painter painter(p, row, width, scratch);
      paint_axis(painter, base, mLayerBuf, boxed, mRas);
    }
    return;
  }
  const pixel_sweep sweep{boxed, mRas, mScanline, mSpanAlloc};
  into_target(base, mLayerBuf, [&](auto& target) { paint_pixels(target, p, sweep); });
}
