// SVG drawings: DrawSVG paints a loaded cImageSVG record by record (fill,
// stroke, solid colours and the drawing's own gradients), DrawSVGSized
// scales it to a box, GetSVGBounds and GetSVGSizedBounds answer the box they
// cover, and svg_load makes a drawing from a registered resource or a file.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "qlm_base_flow.h"
#include "qlm_base_lists.h"
#include "qlm_base_util.h"
#include "qlm_image_load.h"
#include "qlm_platform_file.h"
#include "qlm_platform_file_flow.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_image.h"
#include "qlm_renderer_paint.h"
#include "qlm_renderer_svg.h"
#include "qlm_svg.h"

namespace {

// Device coordinates beyond this are not drawn (as for every other shape).
constexpr double kAbsurdCoordinate = 1099511627776.0;  // 2^40
// The largest stroke width times approximation scale.
constexpr double kStrokeScaleLimit = 1048576.0;  // 2^20
// A gradient vector or radius at or below this has no extent.
constexpr double kNoExtent = 1e-9;

bool usable(double v) { return std::isfinite(v) && std::fabs(v) <= kAbsurdCoordinate; }

// The per-definition colour ramp: a colour-ramp gradient of 256 colours that
// the SVG definition keeps (and frees) through its cache pointer. Stops of
// one offset switch colour there, the later one deciding from it on.
class cSVGGradientRamp final : public cGradientColorRamp, public cSVGGradientCache {
 public:
  cSVGGradientRamp() : cGradientColorRamp(256) { mHardStops = true; }
  // As the colour ramp's AddStop, the ramp kept in the same order, but
  // without sorting the whole ramp for every stop (quadratic in the number
  // of stops): a stop that does not come before the last one is appended,
  // any other one is inserted after the last stop that does not come after
  // it, as a stable sort would place it.
  bool AddStop(uint32_t colour, double offs) override {
    if (!(offs >= 0 && offs <= 1)) return false;  // below 0, above 1, NaN
    if (mOpacity < 255) {
      const double a = double(colour >> 24);
      const uint32_t scaled = uint32_t(std::trunc(a / 255.0 * double(mOpacity) / 255.0 * 255.0 + 0.5));
      colour = (colour & 0x00FFFFFFu) | scaled << 24;
    }
    const rColorStop key{offs, colour};
    const uint32_t n = mRamp.Count();
    uint32_t at = n + 1;
    if (n > 0 && color_stop_compare(mRamp.Last(), &key) > 0) {
      uint32_t lo = 1, hi = n;
      while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (color_stop_compare(mRamp.Get(mid), &key) > 0)
          hi = mid;
        else
          lo = mid + 1;
      }
      at = lo;
    }
    rColorStop* stop = at > n ? mRamp.Append(1) : mRamp.Insert(at, 1);
    if (stop == nullptr) return false;
    *stop = key;
    mRampIterator.Reset();
    mColorTable.reset();
    return true;
  }
  // The colour of the last stop in ramp order (transparent without stops).
  agg::rgba8 last{0, 0, 0, 0};
};

// Ramps are made and their colour tables built under this lock, so one
// drawing can be drawn from two render threads at once.
std::mutex& ramp_lock() {
  static std::mutex lock;
  return lock;
}

// The colour table of a definition, its ramp made on first use from the
// definition's stops. Nil when it cannot be made; `last` is the last stop's
// colour.
const gradient_color_table* ramp_table(rSVGGradient* g, agg::rgba8& last) {
  std::lock_guard<std::mutex> guard(ramp_lock());
  cSVGGradientRamp* ramp = dynamic_cast<cSVGGradientRamp*>(g->cache);
  if (ramp == nullptr) {
    if (g->cache != nullptr) return nullptr;  // someone else's cache: leave it
    auto made = std::unique_ptr<cSVGGradientRamp>(new (std::nothrow) cSVGGradientRamp());
    if (made == nullptr) return nullptr;
    // A stop's offset below an earlier one is raised to the largest earlier
    // offset (stops are never reordered): the ramp is only appended to.
    double reached = 0.0;
    if (g->stops != nullptr)
      for (rSVGStop* s = g->stops->First(); s != nullptr; s = g->stops->Next(s)) {
        reached = std::max(reached, std::clamp(s->offset, 0.0, 1.0));
        made->AddStopRGBA(s->color.r, s->color.g, s->color.b, s->color.a, reached);
      }
    for (const rColorStop* stop = made->FirstStop(); stop != nullptr; stop = made->NextStop()) {
      const uint32_t c = stop->colour;
      made->last = agg::rgba8(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), uint8_t(c >> 24));
    }
    ramp = made.release();
    g->cache = ramp;
  }
  last = ramp->last;
  const gradient_color_table* table = ramp->GetColorTable();
  return table != nullptr && table->size() > 0 ? table : nullptr;
}

// The SVG spread numbering (1 pad, 2 reflect, 3 repeat) as the gradient
// painter's spread; anything else pads.
eGradientSpread paint_spread_of_svg(uint8_t spread) {
  switch (spread) {
    case cnSVGSpreadReflect: return eGradientSpread::reflect;
    case cnSVGSpreadRepeat: return eGradientSpread::repeat;
    default: return eGradientSpread::pad;
  }
}

// A reader of the drawing's path storage with an iterator of its own: the
// storage's own iterator is shared state, and two threads drawing one
// drawing would move each other's. Reads as path_storage's rewind/vertex.
struct svg_path_reader {
  const agg::path_storage* path;
  unsigned at = 0;
  void rewind(unsigned id) { at = id; }
  unsigned vertex(double* x, double* y) {
    if (at >= path->total_vertices()) return agg::path_cmd_stop;
    return path->vertex(at++, x, y);
  }
};
using svg_curve = agg::conv_curve<svg_path_reader>;

bool is_identity(const agg::trans_affine& m) { return m.is_identity(1e-14); }

// The stroker's join for a record's join (AGG's numbering). SVG's miter
// join turns into a bevel beyond the miter limit: AGG's miter_join_revert;
// AGG's miter_join would cut the miter off at the limit instead.
agg::line_join_e svg_line_join(uint32_t join) {
  if (join == agg::miter_join || join > 4) return agg::miter_join_revert;
  return agg::line_join_e(join);
}

agg::rgba8 scaled_alpha(agg::rgba8 c, double f) {
  if (f < 1.0) c.a = uint8_t(double(c.a) * f + 0.5);
  return c;
}

}  // namespace

// Where a gradient definition lies on one record: its coordinates with
// their units resolved (fractions of the record's box for
// objectBoundingBox, percentages of the viewport for userSpaceOnUse), the
// mapping from gradient space to the record's path coordinates (the
// gradient transform, then the box for objectBoundingBox), and the factor k
// by which gradient-space lengths become the colour range (the box's longer
// side for objectBoundingBox, whose coordinates are fractions; 1 else).
struct rSVGGradientGeometry {
  double x1 = 0, y1 = 0, length = 0, angle = 0;  // linear
  double cx = 0, cy = 0, r = 0, fx = 0, fy = 0;  // radial
  agg::trans_affine units;
  double k = 1;
};

namespace {

// The geometry of `g` on a record whose path box (in its own coordinates:
// x1, y1, x2, y2) is `box` (nil when it has none), in a drawing whose
// viewport is vw x vh. False when an objectBoundingBox gradient meets a box
// without width or height: SVG then paints nothing.
bool svg_gradient_geometry(const rSVGGradient& g, double vw, double vh, const double* box, rSVGGradientGeometry& out) {
  const bool on_box = g.units != cnSVGUnitsUserSpaceOnUse;  // objectBoundingBox is the default
  double bw = 0, bh = 0;
  if (on_box) {
    if (box == nullptr) return false;
    bw = box[2] - box[0];
    bh = box[3] - box[1];
    if (!(bw > 0) || !(bh > 0) || !std::isfinite(bw) || !std::isfinite(bh)) return false;
  }
  // axis: 0 x, 1 y, 2 a length (against the viewport's normalised diagonal).
  auto coord = [&](double v, uint16_t bit, int axis) {
    if ((g.percent & bit) == 0) return v;
    if (on_box) return v / 100;
    const double size = axis == 0 ? vw : axis == 1 ? vh : std::sqrt((vw * vw + vh * vh) / 2);
    return v / 100 * size;
  };
  out = rSVGGradientGeometry{};
  out.units = g.transform;
  if (on_box) {
    out.units *= agg::trans_affine(bw, 0, 0, bh, box[0], box[1]);
    out.k = std::max(bw, bh);
  }
  if (g.kind == GR_LINEAR) {
    out.x1 = coord(g.x1, cnSVGGradX1, 0);
    out.y1 = coord(g.y1, cnSVGGradY1, 1);
    // As the loader computes a definition's length and angle.
    svg_linear_vector(coord(g.x2, cnSVGGradX2, 0) - out.x1, coord(g.y2, cnSVGGradY2, 1) - out.y1, out.length,
                      out.angle);
  } else {
    out.cx = coord(g.cx, cnSVGGradCX, 0);
    out.cy = coord(g.cy, cnSVGGradCY, 1);
    out.r = coord(g.r, cnSVGGradR, 2);
    out.fx = coord(g.fx, cnSVGGradFX, 0);
    out.fy = coord(g.fy, cnSVGGradFY, 1);
  }
  return true;
}

// The box of a record's flattened outline in its own coordinates; false
// when it has no vertex.
bool svg_path_box(const agg::path_storage* storage, unsigned id, double approx, double* box) {
  svg_path_reader reader{storage};
  agg::conv_curve<svg_path_reader> curve(reader);
  curve.approximation_scale(approx);
  curve.rewind(id);
  double x, y;
  bool any = false;
  unsigned cmd;
  while (!agg::is_stop(cmd = curve.vertex(&x, &y))) {
    if (!agg::is_vertex(cmd)) continue;
    if (!any) {
      box[0] = box[2] = x;
      box[1] = box[3] = y;
      any = true;
    }
    box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
    box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
  }
  return any;
}

}  // namespace

// --- Gradient paint ---------------------------------------------------------------

bool cRendererSurface::PrepareSVGGradient(rSVGGradient* g, const rSVGGradientGeometry& geo,
                                          const rTransformChain& chain, bool& use_solid, agg::rgba8& solid) {
  use_solid = false;
  agg::rgba8 last;
  const gradient_color_table* table = ramp_table(g, last);
  if (table == nullptr) return false;
  rGradientPaint& p = mGradientPaint;
  p = rGradientPaint{};
  p.table = table;

  const bool linear = g->kind == GR_LINEAR;
  const double extent = linear ? geo.length : geo.r;
  const double k = geo.k;
  if (!std::isfinite(extent) || !std::isfinite(k)) return false;
  if (!(extent > kNoExtent)) {
    // No vector or no radius: the area takes the last stop's colour (the
    // colour functions would divide by the zero range).
    solid = last;
    use_solid = true;
    return false;
  }

  // The frame in gradient coordinates and the rectangle it maps onto (its
  // lengths times k).
  double q[8];
  double rx1, ry1, rx2, ry2;
  if (linear) {
    const double x = geo.x1, y = geo.y1, L = geo.length;
    q[0] = x, q[1] = y - L / 2, q[2] = x + L, q[3] = y - L / 2;
    q[4] = x + L, q[5] = y + L / 2, q[6] = x, q[7] = y + L / 2;
    if (!(std::fabs(geo.angle) < 1e-14)) {
      const agg::trans_affine turn = agg::trans_affine_translation(-x, -y) *
                                     agg::trans_affine_rotation(agg::deg2rad(geo.angle)) *
                                     agg::trans_affine_translation(x, y);
      for (int i = 0; i < 8; i += 2) turn.transform(&q[i], &q[i + 1]);
    }
    rx1 = 0, ry1 = 0, rx2 = L * k, ry2 = L * k;
  } else {
    // Centred on (cx, cy): gradient space has its origin at the centre.
    const double cx = geo.cx, cy = geo.cy, r = geo.r;
    q[0] = cx - r, q[1] = cy - r, q[2] = cx + r, q[3] = cy - r;
    q[4] = cx + r, q[5] = cy + r, q[6] = cx - r, q[7] = cy + r;
    rx1 = -r * k, ry1 = -r * k, rx2 = r * k, ry2 = r * k;
  }
  const bool own = !is_identity(geo.units);
  for (int i = 0; i < 8; i += 2) {
    if (own) geo.units.transform(&q[i], &q[i + 1]);
    chain.transform(&q[i], &q[i + 1]);
    if (mLayer != nullptr) {
      q[i] -= mLayerX;
      q[i + 1] -= mLayerY;
    }
    if (!usable(q[i]) || !usable(q[i + 1])) return false;
  }
  for (size_t i = 0; i < chain.count; ++i) p.perspective |= chain.ops[i].kind != 0;
  if (!gradient_frame_mapping(p, q, rx1, ry1, rx2, ry2, nullptr)) return false;

  p.kind = linear ? eGradientKind::linear_x : eGradientKind::radial_focus;
  p.d1 = 0;
  p.d2 = gradient_units(extent * k);
  p.spread = paint_spread_of_svg(g->spread);
  if (p.d2 < 1) p.spread = eGradientSpread::pad;
  if (!linear) {
    // The focus relative to the centre, kept inside 0.99 r.
    double fx = (geo.fx - geo.cx) * k, fy = (geo.fy - geo.cy) * k;
    if (!std::isfinite(fx) || !std::isfinite(fy)) fx = fy = 0;
    const double limit = 0.99 * geo.r * k;
    const double d = std::hypot(fx, fy);
    if (d > limit) {
      fx *= limit / d;
      fy *= limit / d;
    }
    gradient_radial_focus(p, geo.r * k, fx, fy);
  }
  return true;
}

// --- DrawSVG ------------------------------------------------------------------------

namespace {

// The box of a record's control points through `chain` (only its extent is
// wanted); false when a point is not finite and sane or there is none.
bool svg_control_extent(agg::path_storage* storage, unsigned id, rTransformChain& chain, double& extent) {
  double cx1 = 0, cy1 = 0, cx2 = 0, cy2 = 0;
  svg_path_reader raw{storage};
  agg::conv_transform<svg_path_reader, rTransformChain> control(raw, chain);
  control.rewind(id);
  double px, py;
  bool first = true;
  unsigned cmd;
  while (!agg::is_stop(cmd = control.vertex(&px, &py))) {
    if (!agg::is_vertex(cmd)) continue;
    if (!usable(px) || !usable(py)) return false;
    if (first) {
      cx1 = cx2 = px, cy1 = cy2 = py;
      first = false;
    }
    cx1 = std::min(cx1, px), cy1 = std::min(cy1, py);
    cx2 = std::max(cx2, px), cy2 = std::max(cy2, py);
  }
  if (first) return false;
  extent = std::max(cx2 - cx1, cy2 - cy1);
  return true;
}

// The record's stroke on `stroker` (its curves at `approx`); false when
// its width, at the record's scale t and the list's g, draws nothing.
bool set_up_svg_stroke(agg::conv_stroke<svg_curve>& stroker, svg_curve& curve, const rSVGPathAttr& rec, double approx,
                       double t, double g) {
  const double w = rec.stroke_width;
  if (!std::isfinite(w) || !(w > 0) || !usable(w * t * g)) return false;
  stroker.width(w);
  stroker.line_join(svg_line_join(rec.line_join));
  stroker.line_cap(agg::line_cap_e(rec.line_cap <= 2 ? rec.line_cap : 0));
  stroker.miter_limit(qlm_agg::stroke_miter_limit(rec.miter_limit));
  // Round joins and caps take about pi x sqrt(width x scale) points each:
  // held to about 3,200 however wide the stroke is (the chord error of a
  // 2^20-pixel radius stays near 0.1 pixel).
  stroker.approximation_scale(std::min(approx, kStrokeScaleLimit / w));
  if (w * t * g > 1) curve.angle_tolerance(0.2);
  return true;
}

}  // namespace

// What the paints of one DrawSVG call share, and the record being drawn.
struct cRendererSurface::rSVGDraw {
  agg::path_storage* storage;
  cHitTest* hit;
  double alpha_scale;  // the master alpha on record colours (1 when it is not applied)
  double viewport_w, viewport_h;
  agg::rgba8 override_colour;  // transparent: no override
  // The record: its path id, curve approximation and mapping.
  unsigned id = 0;
  double approx = 0;
  const rTransformChain* chain = nullptr;
  // The record's box in its own coordinates, for objectBoundingBox
  // gradients: made on first use.
  double box[4] = {0, 0, 0, 0};
  int box_state = 0;  // 0 not made, 1 made, 2 none

  void start_record(unsigned record_id, double record_approx, const rTransformChain& record_chain) {
    id = record_id;
    approx = record_approx;
    chain = &record_chain;
    box_state = 0;
  }
  const double* record_box() {
    if (box_state == 0) box_state = svg_path_box(storage, id, approx, box) ? 1 : 2;
    return box_state == 1 ? box : nullptr;
  }
};

double cRendererSurface::SVGListScale() const {
  // The scale of every list entry and of the device matrix.
  double g = 1.0;
  for (const rTransformStage& s : mTransform.stages)
    if (s.kind == 0)
      g *= agg::trans_affine(s.affine[0], s.affine[1], s.affine[2], s.affine[3], s.affine[4], s.affine[5]).scale();
  if (!is_identity(mDevice)) g *= mDevice.scale();
  return g;
}

template <class Source>
void cRendererSurface::PaintSVGShape(rSVGDraw& d, Source& source, rSVGGradient* gradient, const agg::rgba8& colour) {
  // The override colour, else the gradient, else the colour.
  agg::rgba8 solid = scaled_alpha(colour, d.alpha_scale);
  if (d.override_colour.a != 0) {
    solid = d.override_colour;
  } else if (gradient != nullptr) {
    bool use_solid = false;
    rSVGGradientGeometry geometry;
    const bool on_box = gradient->units != cnSVGUnitsUserSpaceOnUse;
    if (!svg_gradient_geometry(*gradient, d.viewport_w, d.viewport_h, on_box ? d.record_box() : nullptr, geometry))
      return;  // objectBoundingBox on a shape without width or height
    if (PrepareSVGGradient(gradient, geometry, *d.chain, use_solid, solid)) {
      rVertexSourceRef ref = rVertexSourceRef::Of(source);
      PaintGradientShape(ref, d.id, false);
      return;
    }
    if (!use_solid) return;  // a gradient that cannot be set up paints nothing
  }
  if (solid.a != 0) {
    rVertexSourceRef ref = rVertexSourceRef::Of(source);
    RenderSolid(ref, true, solid, d.id);
  }
}

template <class Source>
void cRendererSurface::RegisterSVGHit(const rSVGDraw& d, Source& source) {
  if (d.hit == nullptr) {
    mRasterReusable = false;
    return;
  }
  RenderHitMask(source, d.id, d.hit, true);
  if (mLayer != nullptr) mRas.clip_box(0, 0, mLayer->Width(), mLayer->Height());
}

void cRendererSurface::DrawSVG(cImageSVG* drawing, const rMatrix* matrix, double x, double y, cHitTest* hit) {
  if (!mAttached || drawing == nullptr || !drawing->IsOpened()) return;  // nothing to draw into
  cSVGAttributes* records = drawing->Attributes();
  agg::path_storage* storage = drawing->PathStorage();
  if (records == nullptr || storage == nullptr) return;
  DropInterruptedLayer();
  mRasterReusable = false;
  if (mMaster.filter_on && mMaster.filter != nullptr) {
    rRectD box;
    GetSVGBounds(drawing, matrix, x, y, 1, box);
    const double r[4] = {box.x1, box.y1, box.x2, box.y2};
    BeginFilterLayer(r);
  }

  rRectD b;
  drawing->Bounds(b);
  const agg::trans_affine placement = agg::trans_affine_translation(x - b.x1, y - b.y1);
  const agg::trans_affine given = matrix != nullptr ? matrix_to_affine(*matrix) : agg::trans_affine();
  const bool with_matrix = matrix != nullptr;
  const double g = SVGListScale();
  rSVGDraw d{.storage = storage,
             .hit = hit,
             .alpha_scale = (mMaster.master_alpha == 255 || mMaster.anti_aliasing) ? 1.0 : mMaster.master_alpha / 255.0,
             .viewport_w = 0,
             .viewport_h = 0,
             .override_colour = mMaster.override_color.color};
  drawing->Viewport(d.viewport_w, d.viewport_h);

  const agg::trans_affine saved_position = mPosition;
  svg_path_reader reader{storage};
  svg_curve curve(reader);
  agg::conv_stroke<svg_curve> stroker(curve);

  for (rSVGPathAttr* rec = records->First(); rec != nullptr; rec = records->Next(rec)) {
    if (!rec->fill_flag && !rec->stroke_flag) continue;
    agg::trans_affine m = rec->transform;
    if (with_matrix) m *= given;
    const double t = m.scale();
    mPosition = m * placement;
    const rTransformChain chain = Chain(true);
    rTransformChain chain_copy = chain;

    // Hostile geometry: every control point through the whole mapping must
    // be finite and sane, else the record draws nothing.
    double extent = 0;
    if (!svg_control_extent(storage, rec->index, chain_copy, extent)) continue;
    const double approx = qlm_agg::approximation_scale_for(t * g, extent);
    curve.approximation_scale(approx);
    curve.angle_tolerance(0.0);
    d.start_record(rec->index, approx, chain);
    agg::conv_transform<svg_curve, rTransformChain> fill(curve, chain_copy);
    agg::conv_transform<decltype(stroker), rTransformChain> stroke(stroker, chain_copy);

    if (rec->fill_flag) {
      mRas.reset();
      mRas.filling_rule(rec->even_odd ? agg::fill_even_odd : agg::fill_non_zero);
      PaintSVGShape(d, fill, rec->fill_gradient, rec->fill_color);
      RegisterSVGHit(d, fill);
    }
    if (rec->stroke_flag && set_up_svg_stroke(stroker, curve, *rec, approx, t, g)) {
      mRas.reset();
      mRas.filling_rule(agg::fill_non_zero);
      PaintSVGShape(d, stroke, rec->stroke_gradient, rec->stroke_color);
      RegisterSVGHit(d, stroke);
    }
  }
  mPosition = saved_position;
  mRasterReusable = false;
  ApplyFillRule();
  EndFilterLayer();
}

// --- Sizing and bounds ----------------------------------------------------------------

bool cRendererSurface::SVGSizedMatrix(cImageSVG* drawing, double& width, double& height, rMatrix& matrix) {
  rRectD b;
  drawing->Bounds(b);
  if (!b.IsValid()) width = height = 0;
  const double bw = b.x2 - b.x1, bh = b.y2 - b.y1;
  if (width > 0 && std::fabs(height) < 1e-14)
    height = bh * width / bw;
  else if (height > 0 && std::fabs(width) < 1e-14)
    width = bw * height / bh;
  if (!(width > 0) || !(height > 0) || !std::isfinite(width) || !std::isfinite(height)) return false;
  agg::trans_affine m = agg::trans_affine_translation(-b.x1, -b.y1);
  m *= agg::trans_affine_scaling(width / bw, height / bh);
  m *= agg::trans_affine_translation(b.x1, b.y1);
  matrix = matrix_from_affine(m);
  return true;
}

void cRendererSurface::DrawSVGSized(cImageSVG* drawing, cHitTest* hit, double x, double y, double width,
                                    double height) {
  if (drawing == nullptr || !drawing->IsOpened()) return;
  rMatrix m;
  if (SVGSizedMatrix(drawing, width, height, m))
    DrawSVG(drawing, &m, x, y, hit);
  else
    DrawSVG(drawing, nullptr, x, y, hit);
}

bool cRendererSurface::SVGCorners(cImageSVG* drawing, const rMatrix* matrix, double x, double y, bool device,
                                  double* q) {
  if (drawing == nullptr || !drawing->IsOpened()) return false;
  rRectD b;
  drawing->Bounds(b);
  q[0] = b.x1, q[1] = b.y1, q[2] = b.x2, q[3] = b.y1;
  q[4] = b.x1, q[5] = b.y2, q[6] = b.x2, q[7] = b.y2;
  const agg::trans_affine m = matrix != nullptr ? matrix_to_affine(*matrix) : agg::trans_affine();
  for (int i = 0; i < 8; i += 2) {
    if (matrix != nullptr) m.transform(&q[i], &q[i + 1]);
    q[i] += x - b.x1;
    q[i + 1] += y - b.y1;
    if (device) MapForward(q[i], q[i + 1], true, true, true);
  }
  return true;
}

void cRendererSurface::GetSVGBounds(cImageSVG* drawing, const rMatrix* matrix, double x, double y, uint8_t device,
                                    rRectD& bounds) {
  bounds = rRectD{};
  double q[8];
  if (!SVGCorners(drawing, matrix, x, y, device != 0, q)) return;
  bounds.x1 = bounds.x2 = q[0];
  bounds.y1 = bounds.y2 = q[1];
  for (int i = 2; i < 8; i += 2) {
    if (q[i] < bounds.x1) bounds.x1 = q[i];
    if (q[i] > bounds.x2) bounds.x2 = q[i];
    if (q[i + 1] < bounds.y1) bounds.y1 = q[i + 1];
    if (q[i + 1] > bounds.y2) bounds.y2 = q[i + 1];
  }
}

void cRendererSurface::GetSVGSizedBounds(cImageSVG* drawing, uint8_t device, double x, double y, double width,
                                         double height, rRectD& bounds) {
  bounds = rRectD{};
  if (drawing == nullptr || !drawing->IsOpened()) return;
  rMatrix m;
  if (SVGSizedMatrix(drawing, width, height, m))
    GetSVGBounds(drawing, &m, x, y, device, bounds);
  else
    GetSVGBounds(drawing, nullptr, x, y, device, bounds);
}

// --- svg_load -------------------------------------------------------------------------

std::unique_ptr<cImageSVG> svg_load(std::string_view file_name) {
  try {
    cFileName name(file_name);
    const std::string ext = string_trim_upper(name.Extension());
    image_load_check_name(file_name, ext, ext == ".SVG");
    std::unique_ptr<cFlow> flow = image_load_open(file_name);
    auto drawing = std::make_unique<cImageSVG>();
    if (!drawing->Open(flow.get(), nullptr)) raise_base_error(errQLMCall, "{svg.Open: ", drawing->LastErrorText(), "}");
    return drawing;
  } catch (...) {
    // Every failure answers nil, with its reason in the load log; the flow
    // and the drawing are freed on the way.
    image_load_log_failure(std::current_exception());
    return nullptr;
  }
}
