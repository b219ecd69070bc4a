// Gradients in the renderer: the pen's gradient operations and the gradient
// painter (RenderGradientSpans) of fills and pens.
#include "qlm_gradient.h"
#include "qlm_renderer_engine.h"

// --- The pen's gradient ------------------------------------------------------------

void cRendererSurface::SetPenGradient(cGradient* gradient) {
  // A nil, invalid or unknown gradient leaves the kind 0: the pen strokes in
  // its colour. The pen's kind is not changed.
  mPen.gradient_kind = 0;
  const uint8_t kind = gradient_kind_of(gradient);
  if (kind == 0) return;
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
// Colour ranges and radial geometry are held so that their 1/16 values fit.
constexpr double kRangeLimit = 16777216.0;  // 2^24

inline double held(double v, double limit) {
  if (!(v > -limit)) return -limit;  // NaN too
  return v > limit ? limit : v;
}

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
    *x = held(*x, kSpanLimit);
    *y = held(*y, kSpanLimit);
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
    *x = held(*x, kSpanLimit);
    *y = held(*y, kSpanLimit);
  }
};

using affine_interpolator = agg::span_interpolator_linear<affine_map, 8>;
using affine_distorted = agg::span_interpolator_adaptor<affine_interpolator, qlm_agg::distortion_dispatch>;
using gradient_persp_interpolator = agg::span_interpolator_linear<perspective_map, 8>;
using perspective_distorted =
    agg::span_interpolator_adaptor<gradient_persp_interpolator, qlm_agg::distortion_dispatch>;

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
      case 1: run(span, x, y, len, [](int px, int) { return px; }); break;
      case 2: run(span, x, y, len, [](int, int py) { return py; }); break;
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
    const int64_t size = table.size();
    const int64_t d1 = mPaint.d1, d = mPaint.d2;
    int64_t dd = d - d1;
    if (dd < 1) dd = 1;
    const uint8_t spread = mPaint.spread;
    mInterpolator.begin(x + 0.5, y + 0.5, len);
    do {
      mInterpolator.coordinates(&x, &y);
      int64_t v = function(x >> kShift, y >> kShift);
      if (spread == 1) {
        v %= d;
        if (v < 0) v += d;
      } else if (spread == 2) {
        const int64_t d2 = d * 2;
        v %= d2;
        if (v < 0) v += d2;
        if (v >= d) v = d2 - v;
      }
      int64_t i = (v - d1) * size / dd;
      if (i < 0) i = 0;
      if (i >= size) i = size - 1;
      *span++ = table[unsigned(i)];
      ++mInterpolator;
    } while (--len);
  }

  Interpolator& mInterpolator;
  const paint_type& mPaint;
};

}  // namespace

bool cRendererSurface::PrepareGradientPaint(bool fill, const double* box, const rTransformChain& chain) {
  cGradient* g = fill ? mFill.gradient : mPen.gradient;
  const uint8_t kind = fill ? mFill.gradient_kind : mPen.gradient_kind;
  // Only kinds 1, 2 and 9 have classes; any other kind paints nothing.
  if (g == nullptr || (kind != 1 && kind != 2 && kind != 9)) return false;
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
  const bool centred = kind >= 3 && kind <= 9;
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

  if (!p.perspective) {
    const double area = (q[2] - q[0]) * (q[5] - q[3]) - (q[3] - q[1]) * (q[4] - q[2]);
    if (!(std::fabs(area) > 1e-12)) return false;
    p.mapping = agg::trans_affine(q, rx1, ry1, rx2, ry2);
    p.mapping *= own;
  } else {
    qlm_agg::perspective persp;
    if (!persp.quad_to_rect(q, rx1, ry1, rx2, ry2) || !persp.is_valid()) return false;
    persp.store_to(p.persp);
    for (double v : p.persp)
      if (!std::isfinite(v)) return false;
    p.mapping = own;
  }
  double m[6];
  p.mapping.store_to(m);
  for (double v : m)
    if (!std::isfinite(v)) return false;

  // The colour range, the spread (repeat and reflect need a range of at
  // least one 1/16 unit: below it they pad) and the radial function.
  p.d1 = agg::iround(held(g->GetD1(), kRangeLimit) * double(agg::gradient_subpixel_scale));
  p.d2 = agg::iround(held(g->GetD2(), kRangeLimit) * double(agg::gradient_subpixel_scale));
  p.spread = g->GetSpread() == 1 || g->GetSpread() == 2 ? g->GetSpread() : 0;
  if (p.d2 < 1) p.spread = 0;
  if (kind == 9) {
    const cGradientRadialFocus* rf = static_cast<const cGradientRadialFocus*>(g);
    if (!std::isfinite(rf->GetRadius()) || !std::isfinite(rf->GetFocusX()) || !std::isfinite(rf->GetFocusY()))
      return false;
    // AGG's gradient_radial_focus set-up, with the focus nudged off the
    // circle as AGG does; a function without any extent answers 0.
    p.focus_r = agg::iround(held(rf->GetRadius(), kRangeLimit) * double(agg::gradient_subpixel_scale));
    p.focus_x = agg::iround(held(rf->GetFocusX(), kRangeLimit) * double(agg::gradient_subpixel_scale));
    p.focus_y = agg::iround(held(rf->GetFocusY(), kRangeLimit) * double(agg::gradient_subpixel_scale));
    p.focus_r2 = double(p.focus_r) * double(p.focus_r);
    double d = p.focus_r2 - (double(p.focus_x) * p.focus_x + double(p.focus_y) * p.focus_y);
    if (d == 0) {
      if (p.focus_x != 0) p.focus_x += p.focus_x < 0 ? 1 : -1;
      if (p.focus_y != 0) p.focus_y += p.focus_y < 0 ? 1 : -1;
      d = p.focus_r2 - (double(p.focus_x) * p.focus_x + double(p.focus_y) * p.focus_y);
    }
    p.focus_mul = d != 0 ? p.focus_r / d : 0.0;
  }

  // Wave and swirl act on fill gradients, and on pen gradients when asked,
  // in the plain fill render mode.
  p.distort = mFill.distortions && mMaster.fill_render_mode == eRenderMode::normal && (fill || mPen.distort_gradient);
  if (p.distort) p.distortion = Distortion();
  return true;
}

void cRendererSurface::RenderGradientPaint(qlm_agg::renderer_any* base) {
  const rGradientPaint& p = mGradientPaint;
  auto render = [&](auto& target) {
    auto with = [&](auto& interpolator) {
      gradient_span<std::remove_reference_t<decltype(interpolator)>> span(interpolator, p);
      agg::render_scanlines_aa(mRas, mScanline, target, mSpanAlloc, span);
    };
    qlm_agg::distortion_dispatch distortion = p.distortion;
    if (!p.perspective) {
      affine_map map{&p.mapping};
      if (p.distort) {
        affine_distorted i(map, distortion);
        with(i);
      } else {
        affine_interpolator i(map);
        with(i);
      }
    } else {
      perspective_map map{p.persp, &p.mapping};
      if (p.distort) {
        perspective_distorted i(map, distortion);
        with(i);
      } else {
        gradient_persp_interpolator i(map);
        with(i);
      }
    }
  };
  if (base != nullptr) {
    render(*base);
  } else {
    agg::pixfmt_bgra32 pf(mLayerBuf);
    agg::renderer_base<agg::pixfmt_bgra32> layer(pf);
    render(layer);
  }
}
