// The drawing core: RenderPath and its painters (solid, pattern), the
// per-primitive filter layer and the hit masks. The outline, pen-pattern,
// marker, shadow and gradient painters it calls live with their families.
#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <vector>

#include "qlm_renderer_engine.h"
#include "qlm_renderer_paint.h"

namespace {

// Device coordinates beyond this are not drawn: the rasteriser's double
// clipping multiplies coordinate differences, which overflows long before
// the range of a double ends.
constexpr double kAbsurdCoordinate = 1099511627776.0;  // 2^40
// The largest filter layer, in pixels.
constexpr int64_t kLayerAreaCap = int64_t(64) * 1024 * 1024;

// The path to draw through the snap transform (when on), then its curves.
using curve_source = agg::conv_curve<snap_source>;
using fill_source = agg::conv_transform<curve_source, rTransformChain>;
// The pen's stroke, chosen from the pen kind at each draw: solid strokes
// stroke the curves, dashed ones dash them first. Both collect the start and
// end marker positions of every subpath while they are generated. A pass
// ends after the stroke budget of vertices (and the dashes after theirs):
// dashes far shorter than their path, each with round caps, would
// otherwise make billions.
using solid_stroke = agg::conv_stroke<curve_source, agg::vcgen_markers_term>;
using dash_core = agg::conv_dash<curve_source, agg::vcgen_markers_term>;
using dash_limited = vertex_budget<dash_core>;
using dash_stroke = agg::conv_stroke<dash_limited>;
struct pen_stroke {
  solid_stroke solid;
  dash_core dash;
  dash_limited limited;
  dash_stroke dashed;
  bool use_dash;
  size_t left = 0;
  pen_stroke(curve_source& c, bool dashes)
      : solid(c), dash(c), limited{&dash, pen_dash_vertex_budget()}, dashed(limited), use_dash(dashes) {}
  pen_stroke(const pen_stroke&) = delete;
  pen_stroke& operator=(const pen_stroke&) = delete;
  void rewind(unsigned id) {
    left = pen_stroke_vertex_budget();
    use_dash ? dashed.rewind(id) : solid.rewind(id);
  }
  unsigned vertex(double* x, double* y) {
    if (left == 0) return agg::path_cmd_stop;
    --left;
    return use_dash ? dashed.vertex(x, y) : solid.vertex(x, y);
  }
  agg::vcgen_markers_term& markers() { return use_dash ? dash.markers() : solid.markers(); }
  void width(double w) { use_dash ? dashed.width(w) : solid.width(w); }
  double width() const { return use_dash ? dashed.width() : solid.width(); }
  template <class F>
  void both(F&& f) {
    f(solid);
    f(dashed);
  }
};
using stroke_source = agg::conv_transform<pen_stroke, rTransformChain>;
// The start and end marker shapes placed at the collected positions.
using marker_shapes = agg::conv_curve<marker_vertex_source>;
using marker_placed = agg::conv_marker<agg::vcgen_markers_term, marker_shapes>;
using marker_source = agg::conv_transform<marker_placed, rTransformChain>;

bool usable(double v) { return std::isfinite(v) && std::fabs(v) <= kAbsurdCoordinate; }

// The inverse of a point mapping, for pattern spans under non-linear stages.
struct inverse_mapper {
  std::function<void(double*, double*)> map;
  void transform(double* x, double* y) const { map(x, y); }
};

// The rectangle an outline draws when it is one closed run of four corners
// whose sides lie on the device axes (a fifth vertex repeating the first is
// the same rectangle), moved by `shift` when given as the rasteriser would
// be given it. Anything else (curves, more sub-paths, other corners, sides
// off the axes, a side without length, coordinates that are not finite) is
// left to the rasteriser.
template <class Source>
bool axis_box_of(Source& source, unsigned path_id, const agg::trans_affine* shift, rAxisBox& box) {
  double px[5], py[5];
  int n = 0;
  bool closed = false;
  double x = 0, y = 0;
  unsigned cmd;
  source.rewind(path_id);
  while (!agg::is_stop(cmd = source.vertex(&x, &y))) {
    if (agg::is_end_poly(cmd)) {
      closed = true;
      continue;
    }
    if (closed || n == 5) return false;
    if (agg::is_move_to(cmd) ? n != 0 : !agg::is_line_to(cmd) || n == 0) return false;
    if (shift != nullptr) shift->transform(&x, &y);
    if (!std::isfinite(x) || !std::isfinite(y)) return false;
    px[n] = x;
    py[n] = y;
    ++n;
  }
  if (n == 5 && (px[4] != px[0] || py[4] != py[0])) return false;
  if (n < 4) return false;
  const bool across_first = py[0] == py[1] && px[1] == px[2] && py[2] == py[3] && px[3] == px[0];
  const bool down_first = px[0] == px[1] && py[1] == py[2] && px[2] == px[3] && py[3] == py[0];
  if (!across_first && !down_first) return false;
  box.x1 = std::min(px[0], px[2]);
  box.x2 = std::max(px[0], px[2]);
  box.y1 = std::min(py[0], py[2]);
  box.y2 = std::max(py[0], py[2]);
  if (!(box.x1 < box.x2) || !(box.y1 < box.y2)) return false;
  // The left side: the side between two corners on x1.
  for (int i = 0; i < 4; ++i) {
    const int j = (i + 1) % 4;
    if (px[i] == box.x1 && px[j] == box.x1) box.down = py[j] > py[i];
  }
  return true;
}

// A rectangle's outline as the scratch path holds it, from its four
// corners: a move, three lines, the close.
struct rectangle_corners {
  double x[4], y[4];
  unsigned at = 0;
  void rewind(unsigned) { at = 0; }
  unsigned vertex(double* px, double* py) {
    if (at < 4) {
      *px = x[at];
      *py = y[at];
      return at++ == 0 ? agg::path_cmd_move_to : agg::path_cmd_line_to;
    }
    if (at++ == 4) {
      *px = *py = 0;
      return unsigned(agg::path_cmd_end_poly) | unsigned(agg::path_flags_close);
    }
    return agg::path_cmd_stop;
  }
};

// The box of a path's control points through `chain`, and whether it has
// curves; false when a point is not finite and sane or there is none.
bool control_box(agg::path_storage& path, const rTransformChain& chain, double& x1, double& y1, double& x2, double& y2,
                 bool& curved) {
  agg::conv_transform<agg::path_storage, rTransformChain> control(path, const_cast<rTransformChain&>(chain));
  control.rewind(0);
  double x, y;
  bool first = true;
  unsigned cmd;
  while (!agg::is_stop(cmd = control.vertex(&x, &y))) {
    if (!agg::is_vertex(cmd)) continue;
    if (agg::is_curve(cmd)) curved = true;
    if (!usable(x) || !usable(y)) return false;
    if (first) {
      x1 = x2 = x;
      y1 = y2 = y;
      first = false;
    }
    x1 = std::min(x1, x);
    y1 = std::min(y1, y);
    x2 = std::max(x2, x);
    y2 = std::max(y2, y);
  }
  return !first;
}

// The pen's width, caps, joins, miter limit and dashes on the stroke
// pipeline, curves approximated at `approx`.
void set_up_stroke(pen_stroke& stroke, const PenState& pen, double approx) {
  // Round joins and caps of enormous strokes are coarser, so that none
  // makes more than some thousands of vertices.
  const double half = std::fabs(pen.width) / 2;
  const double stroke_approx = half > 0 ? std::min(approx, cnStrokeArcLimit / half) : approx;
  stroke.both([&](auto& s) {
    s.width(pen.width);
    s.line_cap(agg::line_cap_e(pen.line_cap <= 2 ? pen.line_cap : 0));
    s.line_join(agg::line_join_e(pen.line_join <= 4 ? pen.line_join : 0));
    s.miter_limit(qlm_agg::stroke_miter_limit(pen.miter_limit));
    s.approximation_scale(stroke_approx);
  });
  if (pen.kind != ePenKind::dashed) return;
  // AGG keeps the first 16 pairs, and walks the dash start dash by dash:
  // the start is taken within one period of those (0 when the period is
  // not positive or a length is negative).
  double period = 0;
  bool sane = true;
  size_t pairs = 0;
  for (const rDashSegment& d : pen.dashes) {
    if (pairs++ == 16) break;
    stroke.dash.add_dash(d.dash, d.gap);
    if (d.dash < 0 || d.gap < 0) sane = false;
    period += d.dash + d.gap;
  }
  const bool walkable = sane && period > 0 && std::isfinite(period);
  stroke.dash.dash_start(walkable ? std::fmod(pen.dash_start, period) : 0.0);
}

}  // namespace

// What RenderPath's painters share: the pipelines it built for one path,
// the call's arguments, and what the painters have done so far (the stroke
// generated, which collects the marker positions; the shadow cast).
struct cRendererSurface::rPathPipes {
  uint8_t mode;
  cHitTest* hit;
  bool draw;
  bool shadow;
  agg::path_storage* path;
  curve_source& curve;
  fill_source& fill;
  pen_stroke& stroke_core_src;
  stroke_source& stroke;
  marker_placed& placed;
  marker_source& markers;
  rTransformChain& chain;
  double approx;
  bool line_markers;
  bool stroke_paints;
  bool fill_box_known;
  double control_box[4];
  bool layer_wanted;
  agg::rgba8 fill_colour;
  agg::rgba8 master_colour;
  eRenderMode fill_mode;
  eRenderMode pen_mode;
  rWidthHook width_hook;
  bool stroke_generated = false;
  bool shadow_done = false;
};

// --- Current path ----------------------------------------------------------------

void cRendererSurface::SetCurrentPath(agg::path_storage* path, double x, double y) {
  mCurrentPath = path;
  mCurrentX = x;
  mCurrentY = y;
  mPosition.reset();
  if (path == nullptr || (x == 0 && y == 0)) return;
  if (!std::isfinite(x) || !std::isfinite(y)) {
    // A position that cannot be reached: the control-point test of
    // RenderPath then refuses the path.
    mPosition = agg::trans_affine_translation(std::numeric_limits<double>::quiet_NaN(), 0);
    return;
  }
  double x1, y1, x2, y2;
  // The control points first: a curve through a point that is not finite
  // or enormous (its midpoints overflow) would be subdivided to AGG's
  // recursion limit.
  // Every point is looked at: a box skips NaN.
  constexpr double kFlattenable = 1e100;
  bool flattenable = true;
  {
    double px, py;
    unsigned cmd;
    path->rewind(0);
    while (!agg::is_stop(cmd = path->vertex(&px, &py)))
      if (agg::is_vertex(cmd) && !(std::fabs(px) <= kFlattenable && std::fabs(py) <= kFlattenable)) flattenable = false;
  }
  if (!agg::bounding_rect_single(*path, 0, &x1, &y1, &x2, &y2)) return;
  if (!flattenable) {
    mPosition = agg::trans_affine_translation(std::numeric_limits<double>::quiet_NaN(), 0);
    return;
  }
  agg::conv_curve<agg::path_storage> curve(*path);
  curve.approximation_scale(qlm_agg::approximation_scale_for(1.0, std::max(x2 - x1, y2 - y1)));
  if (!agg::bounding_rect_single(curve, 0, &x1, &y1, &x2, &y2)) return;
  if (!std::isfinite(x1) || !std::isfinite(y1)) return;
  mPosition = agg::trans_affine_translation(x - x1, y - y1);
}

// --- Painters ----------------------------------------------------------------------

template <class VertexSource>
void cRendererSurface::LayerSafeHitMask(VertexSource& source, cHitTest* hit, bool fill) {
  if (hit == nullptr) {
    mRasterReusable = false;
    return;
  }
  RenderHitMask(source, 0, hit, fill);
  if (mLayer != nullptr) mRas.clip_box(0, 0, mLayer->Width(), mLayer->Height());
}

void cRendererSurface::SweepIntoMask(agg::pixfmt_gray8& mask, int32_t ox, int32_t oy) {
  if (!mRas.rewind_scanlines()) return;
  const int w = int(mask.width()), h = int(mask.height());
  const agg::gray8 value(mMaster.master_alpha, 255);
  mScanline.reset(mRas.min_x(), mRas.max_x());
  while (mRas.sweep_scanline(mScanline)) {
    const int y = mScanline.y() - oy;
    if (y < 0 || y >= h) continue;
    unsigned n = mScanline.num_spans();
    auto span = mScanline.begin();
    for (; n > 0; --n, ++span) {
      int x = span->x - ox;
      if (span->len > 0) {
        int len = span->len;
        const agg::int8u* covers = span->covers;
        if (x < 0) {
          len += x;
          covers -= x;
          x = 0;
        }
        if (x + len > w) len = w - x;
        if (len > 0) mask.blend_solid_hspan(x, y, unsigned(len), value, covers);
      } else {
        int x2 = x - span->len - 1;
        if (x < 0) x = 0;
        if (x2 >= w) x2 = w - 1;
        if (x <= x2) mask.blend_hline(x, y, unsigned(x2 - x + 1), value, *span->covers);
      }
    }
  }
}

template <class VertexSource>
void cRendererSurface::RenderSolid(VertexSource& source, bool fill, const agg::rgba8& colour, unsigned path_id) {
  ++mPaintCount;
  mRasterReusable = false;
  // A filled rectangle on the device axes is painted as boxes, without the
  // rasteriser (the hit mask then rasterises the shape itself).
  if (fill && mMaster.anti_aliasing && axis_box_path_enabled()) {
    const agg::trans_affine layer_shift = agg::trans_affine_translation(-mLayerX, -mLayerY);
    rAxisBox box;
    if (axis_box_of(source, path_id, mLayer != nullptr ? &layer_shift : nullptr, box)) {
      PaintSolidBox(box, colour);
      return;
    }
  }
  const bool pen_rule = !fill && mPen.even_odd != mFill.even_odd;
  if (pen_rule) mRas.filling_rule(mPen.even_odd ? agg::fill_even_odd : agg::fill_non_zero);
  if (mLayer != nullptr) {
    agg::trans_affine shift = agg::trans_affine_translation(-mLayerX, -mLayerY);
    agg::conv_transform<VertexSource> moved(source, shift);
    mRas.reset();
    mRas.add_path(moved, path_id);
    agg::pixfmt_bgra32 pf(mLayerBuf);
    agg::renderer_base<agg::pixfmt_bgra32> base(pf);
    paint_solid(mRas, mScanline, mScanlineBin, base, colour, mMaster.anti_aliasing);
  } else {
    qlm_agg::renderer_any& base = BeginDraw();
    mRas.reset();
    mRas.add_path(source, path_id);
    paint_solid_target(mRas, mScanline, mScanlineBin, base, colour, mMaster.anti_aliasing);
    EndDraw();
    // The mask sweep uses the rasteriser's rule in force, the fill's: cells
    // painted under the pen's other rule must be rasterised again.
    mRasterReusable = !pen_rule;
  }
  if (pen_rule) ApplyFillRule();
}

void cRendererSurface::PaintSolidBox(const rAxisBox& box, const agg::rgba8& colour) {
  thread_local std::vector<agg::int8u> covers;
  box_rows rows(covers);
  // The rasteriser's clip box: the layer's, or the update rectangle.
  const double clip[4] = {mLayer != nullptr ? 0.0 : double(mUpdateRect.x1),
                          mLayer != nullptr ? 0.0 : double(mUpdateRect.y1),
                          mLayer != nullptr ? double(mLayer->Width()) : double(mUpdateRect.x2),
                          mLayer != nullptr ? double(mLayer->Height()) : double(mUpdateRect.y2)};
  if (mLayer != nullptr) {
    if (rows.build(box, clip, mRas))
      paint_box_solid_bgra(rows, mLayerBuf, 0, 0, int(mLayerBuf.width()) - 1, int(mLayerBuf.height()) - 1, colour);
    return;
  }
  // The surface is begun and ended as for the rasteriser's paint, also
  // when no pixel is covered.
  qlm_agg::renderer_any& base = BeginDraw();
  if (rows.build(box, clip, mRas)) {
    qlm_agg::any_rgba_target& target = base.ren();
    if (target.kind() == qlm_agg::target_kind::straight && target.code() == px32BGRA)
      paint_box_solid_bgra(rows, target.rbuf(), base.xmin(), base.ymin(), base.xmax(), base.ymax(), colour);
    else
      paint_box_solid(rows, base, colour);
  }
  EndDraw();
}

template <class VertexSource>
void cRendererSurface::RenderPatternFill(VertexSource& source, const double* bounds, unsigned path_id) {
  const int tw = int(mFillTile.width()), th = int(mFillTile.height());
  if (!mFill.pattern_valid || tw < 1 || th < 1) return;
  ++mPaintCount;
  mRasterReusable = false;
  // Phase of the pattern at the bounds' corner.
  double ox = mFill.pattern_x, oy = mFill.pattern_y;
  if (!mFill.pattern_absolute) {
    const double px = mFill.pattern_wrap == 1 ? tw : 2.0 * tw;
    const double py = mFill.pattern_wrap == 1 ? th : 2.0 * th;
    ox = std::fmod(std::floor(bounds[0]) + mFill.pattern_x, px);
    oy = std::fmod(std::floor(bounds[1]) + mFill.pattern_y, py);
    if (ox < 0) ox += px;
    if (oy < 0) oy += py;
  }
  // Device pixel -> path point -> pattern pixel. The path point is the
  // current path before its move: the pattern is laid on the path itself.
  const agg::trans_affine to_pattern = agg::trans_affine_translation(ox - bounds[0], oy - bounds[1]);
  bool affine = true;
  agg::trans_affine forward = mPosition;
  for (const rTransformStage& s : mTransform.stages) {
    if (s.kind != 0) {
      affine = false;
      break;
    }
    forward *= agg::trans_affine(s.affine[0], s.affine[1], s.affine[2], s.affine[3], s.affine[4], s.affine[5]);
  }
  forward *= mDevice;
  if (mLayer != nullptr) forward *= agg::trans_affine_translation(-mLayerX, -mLayerY);

  agg::trans_affine shift = agg::trans_affine_translation(mLayer ? -mLayerX : 0, mLayer ? -mLayerY : 0);
  agg::conv_transform<VertexSource> moved(source, shift);
  mRas.reset();
  mRas.add_path(moved, path_id);

  agg::pixfmt_rgba32& tile = mFillTile.Accessor();
  auto paint = [&](auto& accessor) {
    auto run = [&](auto& base) {
      if (affine) {
        agg::trans_affine inverse = forward;
        if (std::fabs(inverse.determinant()) < 1e-300) return;
        inverse.invert();
        inverse *= to_pattern;
        agg::span_interpolator_linear<> interp(inverse);
        agg::span_image_filter_rgba_nn<std::remove_reference_t<decltype(accessor)>, agg::span_interpolator_linear<>> sg(
            accessor, interp);
        agg::render_scanlines_aa(mRas, mScanline, base, mSpanAlloc, sg);
      } else {
        const double lx = mLayer ? mLayerX : 0, ly = mLayer ? mLayerY : 0;
        const agg::trans_affine position = mPosition;
        inverse_mapper back{[this, lx, ly, position, to_pattern](double* x, double* y) {
          *x += lx;
          *y += ly;
          MapInverse(*x, *y, true, true, true);
          agg::trans_affine undo = position;
          if (std::fabs(undo.determinant()) > 1e-300) undo.invert();
          undo.transform(x, y);
          to_pattern.transform(x, y);
        }};
        agg::span_interpolator_trans<inverse_mapper> interp(back);
        agg::span_image_filter_rgba_nn<std::remove_reference_t<decltype(accessor)>,
                                       agg::span_interpolator_trans<inverse_mapper>>
            sg(accessor, interp);
        agg::render_scanlines_aa(mRas, mScanline, base, mSpanAlloc, sg);
      }
    };
    if (mLayer != nullptr) {
      agg::pixfmt_bgra32 pf(mLayerBuf);
      agg::renderer_base<agg::pixfmt_bgra32> base(pf);
      run(base);
    } else {
      qlm_agg::renderer_any& base = BeginDraw();
      run(base);
      EndDraw();
    }
  };
  if (mFill.pattern_wrap == 1) {
    agg::image_accessor_wrap<agg::pixfmt_rgba32, agg::wrap_mode_repeat_auto_pow2, agg::wrap_mode_repeat_auto_pow2> acc(
        tile);
    paint(acc);
  } else {
    agg::image_accessor_wrap<agg::pixfmt_rgba32, agg::wrap_mode_reflect_auto_pow2, agg::wrap_mode_reflect_auto_pow2>
        acc(tile);
    paint(acc);
  }
}

template <class Outline, class FrameSource>
void cRendererSurface::RenderGradientSpans(Outline& outline, FrameSource& frame, bool fill, unsigned path_id,
                                           const rTransformChain& chain) {
  mRasterReusable = false;
  cGradient* g = fill ? mFill.gradient : mPen.gradient;
  if (g == nullptr) return;
  double box[4];
  const bool boxed = g->IsRelative() && agg::bounding_rect_single(frame, path_id, &box[0], &box[1], &box[2], &box[3]);
  if (!PrepareGradientPaint(fill, boxed ? box : nullptr, chain)) return;
  PaintGradientShape(outline, path_id, !fill && mPen.even_odd != mFill.even_odd);
}

template <class Outline>
void cRendererSurface::PaintGradientShape(Outline& outline, unsigned path_id, bool pen_rule) {
  ++mPaintCount;
  mRasterReusable = false;
  // A rectangle on the device axes is painted as boxes. The rasteriser is
  // not used, so the hit mask rasterises the shape itself.
  if (axis_box_path_enabled()) {
    const agg::trans_affine layer_shift = agg::trans_affine_translation(-mLayerX, -mLayerY);
    rAxisBox box;
    if (axis_box_of(outline, path_id, mLayer != nullptr ? &layer_shift : nullptr, box)) {
      if (mLayer != nullptr) {
        RenderGradientPaint(nullptr, &box);
      } else {
        qlm_agg::renderer_any& base = BeginDraw();
        RenderGradientPaint(&base, &box);
        EndDraw();
      }
      return;
    }
  }
  if (pen_rule) mRas.filling_rule(mPen.even_odd ? agg::fill_even_odd : agg::fill_non_zero);
  if (mLayer != nullptr) {
    agg::trans_affine shift = agg::trans_affine_translation(-mLayerX, -mLayerY);
    agg::conv_transform<Outline> moved(outline, shift);
    mRas.reset();
    mRas.add_path(moved, path_id);
    RenderGradientPaint(nullptr);
  } else {
    qlm_agg::renderer_any& base = BeginDraw();
    mRas.reset();
    mRas.add_path(outline, path_id);
    RenderGradientPaint(&base);
    EndDraw();
    // The cells serve the hit mask unless they were swept with the pen's
    // own rule (the mask sweeps with the fill's).
    mRasterReusable = !pen_rule;
  }
  if (pen_rule) ApplyFillRule();
}

// --- Filter layer -------------------------------------------------------------------

bool cRendererSurface::BeginFilterLayer(const double* rect) {
  if (mLayer != nullptr || rect == nullptr) return false;
  double x1 = rect[0], y1 = rect[1], x2 = rect[2], y2 = rect[3];
  if (!(x1 < x2) || !(y1 < y2)) return false;
  double pad = TransformLength(mMaster.filter_margin);
  if (!std::isfinite(pad) || pad < 0) pad = 0;
  pad = std::min(pad, kAbsurdCoordinate);
  if (mPen.kind == ePenKind::pattern && mPen.pattern_valid) pad = std::max(pad, GetPenPatternTileHeight());
  x1 = std::floor(x1 - pad);
  y1 = std::floor(y1 - pad);
  x2 += pad;
  y2 += pad;
  // Only the part that can reach the surface (grown by the pad, which a
  // blurring filter reads) is kept: the blend clips to the surface anyway.
  x1 = std::max(x1, std::floor(mBoundsX1 - pad));
  y1 = std::max(y1, std::floor(mBoundsY1 - pad));
  x2 = std::min(x2, mBoundsX2 + pad);
  y2 = std::min(y2, mBoundsY2 + pad);
  if (!(x1 < x2) || !(y1 < y2)) return false;
  const double w = std::ceil(x2 - x1), h = std::ceil(y2 - y1);
  if (w > 2147483647.0 || h > 2147483647.0 || int64_t(w) * int64_t(h) > kLayerAreaCap) return false;
  // The last layer the callback gave back is used again when it has the
  // size wanted (text opens one layer per glyph, mostly of a few sizes).
  std::unique_ptr<cBitmap> layer;
  if (mLayerSpare != nullptr && mLayerSpare->Width() == int32_t(w) && mLayerSpare->Height() == int32_t(h))
    layer = std::move(mLayerSpare);
  else
    layer.reset(new (std::nothrow) cBitmap(int32_t(w), int32_t(h), cnBitmap32BGRA));
  if (layer == nullptr || (layer->Data() == nullptr && !layer->Create()) || layer->Data() == nullptr) return false;
  for (int32_t y = 0; y < layer->Height(); ++y)
    std::memset(layer->Data() + int64_t(y) * layer->Stride(), 0, size_t(layer->Width()) * 4);
  mLayerBuf.attach(layer->Data(), unsigned(layer->Width()), unsigned(layer->Height()), layer->Stride());
  mLayerX = int32_t(x1);
  mLayerY = int32_t(y1);
  mLayer = std::move(layer);
  mRas.clip_box(0, 0, mLayer->Width(), mLayer->Height());
  return true;
}

void cRendererSurface::EndFilterLayer() {
  if (mLayer == nullptr) return;
  bool keep = false;
  if (mMaster.filter != nullptr) mMaster.filter(mLayer.get(), keep, mMaster.filter_user);
  mRas.clip_box(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2, mUpdateRect.y2);
  // The callback may have replaced nothing but the pixels; the size is the
  // one it was given.
  agg::pixfmt_bgra32 pf(mLayerBuf);
  qlm_agg::renderer_any& base = BeginDraw();
  base.blend_from(pf, nullptr, mLayerX, mLayerY, 255);
  EndDraw();
  mLayerBuf.attach(nullptr, 0, 0, 0);
  if (keep)
    (void)mLayer.release();  // the callback's owner has it now
  else
    mLayerSpare = std::move(mLayer);
}

// --- RenderPath ---------------------------------------------------------------------

void cRendererSurface::DropInterruptedLayer() {
  if (mLayer == nullptr) return;
  mLayer.reset();
  mLayerBuf.attach(nullptr, 0, 0, 0);
  mRas.clip_box(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2, mUpdateRect.y2);
}

bool cRendererSurface::StartRenderPath(uint8_t mode) {
  DropInterruptedLayer();
  mRasterReusable = false;
  // No path (or no surface).
  if (!mAttached || mCurrentPath == nullptr || mode < 1 || mode > 3) return false;
  // Capture into a path group (never while a group is being replayed).
  if (mCaptureGroup != nullptr && mGroupPass == kGroupNone) {
    CaptureCurrentPath(mode);
    if (mCaptureOnly) return false;
  }
  return true;
}

agg::path_storage* cRendererSurface::PathToDraw(bool copy) {
  if (!copy) return mCurrentPath;
  if (mGroupSource != nullptr) {
    // A path-group entry's replay copy: moved and mapped already.
    mPosition.reset();
    return mGroupSource;
  }
  mScratchStroke.remove_all();
  mScratchStroke.concat_path(*mCurrentPath);
  mScratchStroke.transform_all_paths(mPosition);
  TransformPathByList(mScratchStroke);
  mPosition.reset();
  return &mScratchStroke;
}

bool cRendererSurface::CullsPath(rPathPipes& p) {
  // A perspective shadow is never culled: the drawing box is not worked out
  // for it.
  if (!mMaster.culling || mGroupPass != kGroupNone) return false;
  const bool perspective = mMaster.shadow_render_mode != eRenderMode::off && mShadow.kind == eShadowKind::perspective;
  double box[4];
  return !perspective && PathDrawingBox(p, box) &&
         CullsDrawingBox(box, p.mode != 1 && mPen.kind == ePenKind::pattern && mPen.pattern_valid);
}

void cRendererSurface::RenderPath(uint8_t mode, cHitTest* hit, bool draw, bool shadow, const rStoredColor* fillColour) {
  // 1. to 3. An interrupted call's layer dropped, no path, group capture.
  if (!StartRenderPath(mode)) return;

  // 4. The path to draw: with the pen outside device space, a moved and
  // mapped copy, used for fills as well (both then agree).
  const agg::trans_affine saved_position = mPosition;
  const bool copy = !mPen.device_space;
  agg::path_storage* path = PathToDraw(copy);
  struct restore_position {
    agg::trans_affine& target;
    agg::trans_affine value;
    ~restore_position() { target = value; }
  } restore{mPosition, saved_position};
  const rTransformChain chain = Chain(!copy);
  // The chain is built; the pattern painter still needs the draw-position
  // move of the path itself.
  mPosition = saved_position;

  // Hostile geometry ends here, before any AGG rasterisation: the control
  // points through the whole mapping must be finite and sane.
  double cx1 = 0, cy1 = 0, cx2 = 0, cy2 = 0;
  bool curved = false;
  if (!control_box(*path, chain, cx1, cy1, cx2, cy2, curved)) return;
  const bool stroking = mode != 1;
  if (stroking && !usable(TransformLength(mPen.width))) return;

  // 5. Pixel snapping, then curves and strokes.
  rTransformChain chain_copy = chain;
  snap_source snapped{path, &mSnap, mMaster.pixel_snap};
  curve_source curve(snapped);
  const double approx = qlm_agg::approximation_scale_for(mApproxScale, std::max(cx2 - cx1, cy2 - cy1));
  curve.approximation_scale(approx);
  fill_source fill(curve, chain_copy);
  pen_stroke stroke_core_src(curve, mPen.kind == ePenKind::dashed);
  set_up_stroke(stroke_core_src, mPen, approx);
  stroke_source stroke(stroke_core_src, chain_copy);
  marker_vertex_source shapes;
  shapes.SetStartPath(&mPen.start_path);
  shapes.SetEndPath(&mPen.end_path);
  marker_shapes shape_curve(shapes);
  shape_curve.approximation_scale(qlm_agg::approximation_scale_checked(mApproxScale));
  marker_placed placed(stroke_core_src.markers(), shape_curve);
  marker_source markers(placed, chain_copy);
  // The box that culling and the filter layer use: the stroke source's when
  // a stroke is drawn, else the fill source's (a pen that paints nothing
  // must not widen the box by its width). Without curves or snapping the
  // fill's vertices are the control points already walked above, and so is
  // their box.
  rPathPipes p{.mode = mode,
               .hit = hit,
               .draw = draw,
               .shadow = shadow,
               .path = path,
               .curve = curve,
               .fill = fill,
               .stroke_core_src = stroke_core_src,
               .stroke = stroke,
               .placed = placed,
               .markers = markers,
               .chain = chain_copy,
               .approx = approx,
               .line_markers = mPen.line_markers && stroking,
               .stroke_paints = stroking && mPen.kind != ePenKind::off && mPen.width > 0,
               .fill_box_known = !curved && !mMaster.pixel_snap,
               .control_box = {cx1, cy1, cx2, cy2},
               .layer_wanted = draw && mMaster.filter_on && mMaster.filter != nullptr && mGroupPass == kGroupNone,
               .fill_colour = mFill.color.color,
               .master_colour = mMaster.master_color.color,
               .fill_mode = mMaster.fill_render_mode,
               .pen_mode = mMaster.pen_render_mode,
               .width_hook = {}};
  p.width_hook.obj = &stroke_core_src;
  p.width_hook.set = [](void* o, double w) { static_cast<pen_stroke*>(o)->width(w); };
  p.width_hook.width = mPen.width;

  // 6. Culling.
  if (CullsPath(p)) return;

  // Registrations are cut by the clip mask also when nothing is painted
  // (painting is what otherwise builds it).
  if (!draw && hit != nullptr && mClip.on && mClip.mask_stale) BuildClipMask();

  // 7. The painters the kinds and render modes choose.
  PaintPath(p, fillColour);
  // 8. The rasteriser holds no cells to reuse; an open filter layer ends.
  mRasterReusable = false;
  EndFilterLayer();
}

bool cRendererSurface::CullsDrawingBox(const double* box, bool pen_pattern) {
  double margin = 0;
  if (pen_pattern) margin = GetPenPatternTileHeight();
  if (mMaster.shadow_render_mode != eRenderMode::off) {
    if (mShadow.kind == eShadowKind::offset || mShadow.kind == eShadowKind::grow)
      margin = std::max(margin, TransformLength(mShadow.distance + mShadow.blur));
    else if (mShadow.kind == eShadowKind::perspective)
      return false;
  }
  double bx1 = box[0], by1 = box[1], bx2 = box[2], by2 = box[3];
  if (!float_equal(margin, 0.0)) {
    bx1 -= margin;
    by1 -= margin;
    bx2 += margin;
    by2 += margin;
  }
  bx1 = std::max(bx1, mBoundsX1);
  by1 = std::max(by1, mBoundsY1);
  bx2 = std::min(bx2, mBoundsX2);
  by2 = std::min(by2, mBoundsY2);
  return !(bx1 < bx2) || !(by1 < by2);
}

// --- Rectangles filled without the pipelines ---------------------------------------

bool cRendererSurface::FillRectangleDirect(cHitTest* hit, double x1, double y1, double x2, double y2) {
  // Only a solid fill alone: no pen, no markers, no shadow, no filter
  // layer, no group capture or replay, no pixel snapping. The pen's kind
  // off leaves the stroke painters idle in RenderPath as well.
  if (!rectangle_route_enabled() || !mAttached || mLayer != nullptr || mCaptureGroup != nullptr ||
      mGroupPass != kGroupNone || mGroupSource != nullptr)
    return false;
  if (mPen.kind != ePenKind::off || mPen.line_markers || mPen.vertex_markers || mShadow.kind != eShadowKind::off ||
      mMaster.pixel_snap || (mMaster.filter_on && mMaster.filter != nullptr))
    return false;
  const eRenderMode fill_mode = mMaster.fill_render_mode;
  if (is_outline_mode(fill_mode) ||
      !(mFill.kind == eFillKind::solid || (mFill.kind == eFillKind::gradient && fill_mode == eRenderMode::plain)))
    return false;

  // The primitive's state as RenderPath leaves it: no current path, the
  // position matrix the identity. The matrix is written only when it is not
  // the identity to the bit already: the chain reads it back at once, and a
  // read of values still waiting to be stored waits behind every store of
  // the previous fill.
  mCurrentPath = nullptr;
  mCurrentX = mCurrentY = 0;
  auto is = [](double v, double want) { return std::bit_cast<uint64_t>(v) == std::bit_cast<uint64_t>(want); };
  if (!is(mPosition.sx, 1) || !is(mPosition.shy, 0) || !is(mPosition.shx, 0) || !is(mPosition.sy, 1) ||
      !is(mPosition.tx, 0) || !is(mPosition.ty, 0))
    mPosition.reset();
  mRasterReusable = false;
  // The corners in the order the rectangle's outline runs, mapped as
  // RenderPath maps the vertices of its path: with the pen outside device
  // space through the position and the list's stages into a copy, then
  // through the chain.
  rectangle_corners corners{{x1, x2, x2, x1}, {y1, y1, y2, y2}};
  const bool copy = !mPen.device_space;
  const rTransformChain chain = Chain(!copy);
  for (int i = 0; i < 4; ++i) {
    double& x = corners.x[i];
    double& y = corners.y[i];
    if (copy) {
      mPosition.transform(&x, &y);
      for (const rTransformStage& s : mTransform.stages) s.Forward(x, y);
    }
    chain.transform(&x, &y);
    if (!usable(x) || !usable(y)) return true;
  }
  // The outline is filled and stroked: an unusable pen width draws nothing,
  // also with the pen off.
  if (!usable(TransformLength(mPen.width))) return true;
  if (mMaster.culling) {
    const double box[4] = {std::min({corners.x[0], corners.x[1], corners.x[2], corners.x[3]}),
                           std::min({corners.y[0], corners.y[1], corners.y[2], corners.y[3]}),
                           std::max({corners.x[0], corners.x[1], corners.x[2], corners.x[3]}),
                           std::max({corners.y[0], corners.y[1], corners.y[2], corners.y[3]})};
    if (CullsDrawingBox(box, false)) return true;
  }
  const agg::rgba8 colour = mFill.color.color;
  if (colour.a != 0) {
    RenderSolid(corners, true, colour, 0);
    LayerSafeHitMask(corners, hit, true);
  }
  mRasterReusable = false;
  return true;
}

// --- RenderPath's painters -------------------------------------------------------------

bool cRendererSurface::PathDrawingBox(rPathPipes& p, double* r) {
  if (p.stroke_paints) return agg::bounding_rect_single(p.stroke, 0, &r[0], &r[1], &r[2], &r[3]);
  if (!p.fill_box_known) return agg::bounding_rect_single(p.fill, 0, &r[0], &r[1], &r[2], &r[3]);
  std::copy(p.control_box, p.control_box + 4, r);
  return true;
}

// Generating the stroke is what collects the marker positions.
void cRendererSurface::GenerateStroke(rPathPipes& p) {
  double x, y;
  p.stroke_core_src.rewind(0);
  while (!agg::is_stop(p.stroke_core_src.vertex(&x, &y))) {
  }
  p.stroke_generated = true;
}

void cRendererSurface::OpenPathLayer(rPathPipes& p) {
  if (!p.layer_wanted) return;
  double r[4];
  const bool box = PathDrawingBox(p, r);
  if (p.line_markers) {
    // The box generated the stroke: the marker shapes widen it.
    if (!box) GenerateStroke(p);
    p.stroke_generated = true;
    double m[4];
    if (agg::bounding_rect_single(p.markers, 0, &m[0], &m[1], &m[2], &m[3])) {
      if (box) {
        r[0] = std::min(r[0], m[0]);
        r[1] = std::min(r[1], m[1]);
        r[2] = std::max(r[2], m[2]);
        r[3] = std::max(r[3], m[3]);
      } else {
        std::copy(m, m + 4, r);
      }
      BeginFilterLayer(r);
      return;
    }
  }
  if (box) BeginFilterLayer(r);
}

// The shadow, cast once per shape from the pipelines before their mapping.
void cRendererSurface::CastPathShadow(rPathPipes& p, bool withStroke, bool withFill, bool withMarkers) {
  if (!p.shadow || mShadow.kind == eShadowKind::off || p.shadow_done) return;
  p.shadow_done = true;
  // A filled and stroked shape casts one shadow of all its parts, whichever
  // painter comes first.
  if (p.mode == 3) withStroke = withFill = withMarkers = true;
  rShadowSources sources;
  sources.stroke = rVertexRef::Of(p.stroke_core_src);
  sources.fill = rVertexRef::Of(p.curve);
  if (withMarkers && p.line_markers) {
    // The marker shapes stand where generating the stroke puts them.
    if (!p.stroke_generated) GenerateStroke(p);
    sources.markers = rVertexRef::Of(p.placed);
  }
  sources.stroker = rStrokerRef::Of(p.stroke_core_src);
  sources.chain = p.chain;
  RenderShadow(withStroke, withFill, withMarkers, sources);
}

void cRendererSurface::PaintSolidFill(rPathPipes& p, const agg::rgba8& c) {
  if (c.a == 0) return;
  CastPathShadow(p, false, true, false);
  if (p.draw) RenderSolid(p.fill, true, c, 0);
  LayerSafeHitMask(p.fill, p.hit, true);
}

void cRendererSurface::PaintPatternFill(rPathPipes& p) {
  if (!mFill.pattern_valid) return;
  CastPathShadow(p, false, true, false);
  if (p.draw) {
    // The current path's own bounds: the pattern is laid on them.
    double pb[4] = {0, 0, 0, 0};
    agg::conv_curve<agg::path_storage> own(*mCurrentPath);
    own.approximation_scale(p.approx);
    if (!agg::bounding_rect_single(own, 0, &pb[0], &pb[1], &pb[2], &pb[3])) pb[0] = pb[1] = pb[2] = pb[3] = 0;
    RenderPatternFill(p.fill, pb, 0);
    LayerSafeHitMask(p.fill, p.hit, true);
  }
}

void cRendererSurface::PaintGradientFill(rPathPipes& p) {
  if (mFill.gradient_kind == eGradientKind::none) return;
  CastPathShadow(p, false, true, false);
  if (p.draw) RenderGradientSpans(p.fill, p.curve, true, 0, p.chain);
  LayerSafeHitMask(p.fill, p.hit, true);
}

void cRendererSurface::PaintInterior(rPathPipes& p) {
  if (p.hit != nullptr && p.hit->IsHitInterior()) LayerSafeHitMask(p.fill, p.hit, true);
}

// The outline and pen-pattern painters: the marker shapes made first when
// markers are on, the shadow, then the lines (only when drawing).
bool cRendererSurface::BeforePenPainter(rPathPipes& p, bool withStroke, bool withFill, bool withMarkers) {
  if (!p.stroke_generated && p.line_markers) GenerateStroke(p);
  CastPathShadow(p, withStroke, withFill, withMarkers);
  return p.draw;
}

template <class VertexSource>
void cRendererSurface::PaintOutlines(rPathPipes& p, VertexSource& source, const agg::rgba8& c, bool of_stroke,
                                     bool withStroke, bool withFill, bool withMarkers) {
  if (!BeforePenPainter(p, withStroke, withFill, withMarkers)) return;
  RenderOutlines(rVertexSourceRef::Of(source), c, 0, p.hit, of_stroke ? &p.width_hook : nullptr);
}

void cRendererSurface::PaintPenPattern(rPathPipes& p) {
  if (!BeforePenPainter(p, true, false, true)) return;
  RenderPenPattern(rVertexSourceRef::Of(p.fill), p.hit);
}

void cRendererSurface::PaintSolidStroke(rPathPipes& p) {
  const agg::rgba8 c = mPen.color.color;
  if (c.a == 0 || !(mPen.width > 0)) return;
  p.stroke_generated = true;
  CastPathShadow(p, true, false, true);
  if (p.draw) RenderSolid(p.stroke, false, c, 0);
  LayerSafeHitMask(p.stroke, p.hit, false);
}

// The stroke block.
void cRendererSurface::PaintStroke(rPathPipes& p) {
  if (mPen.kind == ePenKind::off) return;
  const agg::rgba8 pen_colour = mPen.color.color;
  const agg::rgba8 mode_colour = p.master_colour.a != 0 ? p.master_colour : pen_colour;
  if (p.pen_mode == eRenderMode::plain) {
    if (is_line_pen(mPen.kind) && mPen.outline) {
      if (pen_colour.a != 0) PaintOutlines(p, p.stroke, mode_colour, true, true, false, true);
      return;
    }
    PaintSolidStroke(p);
  } else if (p.pen_mode == eRenderMode::outline) {
    // The stroked polygon's outline.
    if (pen_colour.a != 0) PaintOutlines(p, p.stroke, mode_colour, true, true, false, true);
  } else if (p.pen_mode == eRenderMode::path_outline) {
    // The path's own centre line.
    if (pen_colour.a != 0) PaintOutlines(p, p.fill, mode_colour, false, true, false, true);
  } else if (is_line_pen(mPen.kind)) {
    if (mPen.outline) {
      if (pen_colour.a != 0) PaintOutlines(p, p.stroke, pen_colour, true, true, false, true);
      return;
    }
    if (mPen.gradient_active && mPen.gradient_kind != eGradientKind::none) {
      p.stroke_generated = true;
      CastPathShadow(p, true, false, true);
      if (p.draw) RenderGradientSpans(p.stroke, p.stroke_core_src, false, 0, p.chain);
      LayerSafeHitMask(p.stroke, p.hit, false);
    } else {
      PaintSolidStroke(p);
    }
  } else if (mPen.kind == ePenKind::pattern && mPen.pattern_valid) {
    PaintPenPattern(p);
  }
}

// Start and end markers (they never cast a shadow of their own).
void cRendererSurface::PaintStartEndMarkers(rPathPipes& p) {
  if (!p.draw || !p.line_markers) return;
  if (!p.stroke_generated) GenerateStroke(p);
  p.stroke_generated = true;
  p.shadow_done = true;
  const agg::rgba8 pen_colour = mPen.color.color;
  const bool paints = pen_colour.a != 0 && mPen.width > 0;
  if (is_outline_mode(p.pen_mode)) {
    if (pen_colour.a != 0)
      RenderOutlines(rVertexSourceRef::Of(p.markers), p.master_colour.a != 0 ? p.master_colour : pen_colour, 0, p.hit,
                     nullptr);
    return;
  }
  if (p.pen_mode == eRenderMode::plain) {
    if (!paints) return;
    RenderSolid(p.markers, false, pen_colour, 0);
  } else if (mPen.gradient_active && mPen.gradient_kind != eGradientKind::none) {
    // The pen's gradient laid on the stroke's frame, as the stroke has it.
    RenderGradientSpans(p.markers, p.stroke_core_src, false, 0, p.chain);
  } else if (paints) {
    RenderSolid(p.markers, false, pen_colour, 0);
  }
  LayerSafeHitMask(p.markers, p.hit, false);
}

// Vertex markers, placed on the path to draw through the same chain.
void cRendererSurface::PaintVertexMarkers(rPathPipes& p) {
  if (mPen.vertex_markers) RenderVertexMarkers(*p.path, p.chain, p.hit, p.draw);
}

// The fill block of mode 3 (fillColour is not used).
void cRendererSurface::PaintFill(rPathPipes& p) {
  if (mFill.kind == eFillKind::off) return;
  if (is_outline_mode(p.fill_mode)) {
    if (p.fill_colour.a != 0)
      PaintOutlines(p, p.fill, p.master_colour.a != 0 ? p.master_colour : p.fill_colour, false, true, true, true);
    return;
  }
  if (mFill.kind == eFillKind::solid || (mFill.kind == eFillKind::gradient && p.fill_mode == eRenderMode::plain))
    PaintSolidFill(p, p.fill_colour);
  else if (mFill.kind == eFillKind::pattern)
    PaintPatternFill(p);
  else if (mFill.kind == eFillKind::gradient)
    PaintGradientFill(p);
}

// Mode 1: the fill alone, in `fillColour` when one is given.
void cRendererSurface::PaintFillOnly(rPathPipes& p, const rStoredColor* fillColour) {
  if (p.fill_mode == eRenderMode::plain) {
    if (mFill.kind != eFillKind::off) {
      if (fillColour != nullptr)
        PaintSolidFill(p, fillColour->color);
      else if (mFill.kind == eFillKind::pattern)
        PaintPatternFill(p);
      else
        PaintSolidFill(p, p.fill_colour);
    }
  } else if (is_outline_mode(p.fill_mode)) {
    if (mFill.kind != eFillKind::off && fillColour != nullptr) {
      const agg::rgba8 master = mMaster.master_color.color;
      PaintSolidFill(p, master.a != 0 ? master : agg::rgba8(fillColour->color));
    } else if (mFill.kind != eFillKind::off && p.fill_colour.a != 0) {
      PaintOutlines(p, p.fill, p.master_colour.a != 0 ? p.master_colour : p.fill_colour, false, false, true, false);
    }
  } else if (fillColour != nullptr) {
    PaintSolidFill(p, fillColour->color);
  } else if (mFill.kind == eFillKind::solid) {
    PaintSolidFill(p, p.fill_colour);
  } else if (mFill.kind == eFillKind::pattern) {
    PaintPatternFill(p);
  } else if (mFill.kind == eFillKind::gradient) {
    PaintGradientFill(p);
  }
  if (mFill.kind == eFillKind::off) PaintInterior(p);
}

// A group pass paints its one part; otherwise mode 1 fills, mode 2 strokes
// (with the markers), mode 3 does both, the stroke under the fill when the
// pen asks for it.
void cRendererSurface::PaintPath(rPathPipes& p, const rStoredColor* fillColour) {
  if (mGroupPass == kGroupStroke) {
    PaintStroke(p);
    return;
  }
  if (mGroupPass == kGroupMarkers) {
    PaintStartEndMarkers(p);
    return;
  }
  if (mGroupPass == kGroupHit) {
    PaintInterior(p);
    return;
  }
  OpenPathLayer(p);
  if (p.mode == 1) {
    PaintFillOnly(p, fillColour);
  } else if (p.mode == 2) {
    PaintStroke(p);
    PaintStartEndMarkers(p);
    PaintVertexMarkers(p);
    PaintInterior(p);
  } else {
    if (mPen.under_fill) {
      PaintStroke(p);
      PaintStartEndMarkers(p);
    }
    PaintFill(p);
    if (mFill.kind == eFillKind::off) PaintInterior(p);
    if (!mPen.under_fill) {
      PaintStroke(p);
      PaintStartEndMarkers(p);
    }
    PaintVertexMarkers(p);
  }
}

// The pen painters (qlm_renderer_engine_pen.cpp) paint through these.
template void cRendererSurface::RenderSolid<rVertexSourceRef>(rVertexSourceRef&, bool, const agg::rgba8&, unsigned);
// The SVG engine paints its gradients through this.
template void cRendererSurface::PaintGradientShape<rVertexSourceRef>(rVertexSourceRef&, unsigned, bool);
