// Shadows: the parts of a shape that are painted (stroke, fill, start/end
// markers) drawn in grey into the shadow mask, moved and shaped by the
// shadow kind, blurred with AGG's stack blur, and blended in the shadow
// colour or through the colour table; the same for a whole path group.
#include <algorithm>
#include <cmath>
#include <functional>

#include "qlm_2D.h"
#include "qlm_gradient.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"
#include "qlm_renderer_paint.h"

namespace {

// Device coordinates beyond this are not drawn (as in the drawing core).
constexpr double kAbsurd = 1099511627776.0;  // 2^40

// The shadow transformation: none, affine (offset, grow) or perspective.
struct shadow_transform {
  uint8_t kind = 0;
  agg::trans_affine affine;
  qlm_agg::perspective persp;
  void transform(double* x, double* y) const {
    if (kind == 1)
      affine.transform(x, y);
    else if (kind == 2)
      persp.transform(x, y);
  }
};

double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }

// Offset directions 0-7; 8 and above leave the shadow under the shape.
void direction_offset(uint8_t direction, double d, double& dx, double& dy) {
  static const int8_t table[8][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}, {0, -1}, {-1, 0}, {1, 0}, {0, 1}};
  dx = dy = 0;
  if (direction < 8) {
    dx = table[direction][0] * d;
    dy = table[direction][1] * d;
  }
}

// The pen pattern's tile (RGBA rows) as a source of line_image_pattern.
struct tile_source {
  const uint8_t* pixels;
  int w, h;
  unsigned width() const { return unsigned(w); }
  unsigned height() const { return unsigned(h); }
  agg::rgba8 pixel(int x, int y) const {
    const uint8_t* p = pixels + (int64_t(y) * w + x) * 4;
    return agg::rgba8(p[0], p[1], p[2], p[3]);
  }
};

// A pixel format over the shadow mask that takes the pattern renderer's
// colour spans: each pixel blends the mask's grey value at the pattern
// pixel's alpha (not its luminance: a black pattern casts a full shadow,
// transparent pixels leave the mask as it is).
struct pattern_alpha_to_grey {
  typedef agg::rgba8 color_type;
  typedef agg::const_row_info<agg::int8u> row_data;
  agg::pixfmt_gray8* mask;
  agg::int8u value;
  unsigned width() const { return mask->width(); }
  unsigned height() const { return mask->height(); }
  void put(int x, int y, const agg::rgba8& c, unsigned cover) {
    const unsigned a = (unsigned(c.a) * cover + 127) / 255;
    if (a != 0) mask->blend_pixel(x, y, agg::gray8(value, 255), agg::int8u(a));
  }
  void blend_color_hspan(int x, int y, unsigned len, const agg::rgba8* colors, const agg::int8u* covers,
                         agg::int8u cover) {
    for (unsigned i = 0; i < len; ++i) put(x + int(i), y, colors[i], covers != nullptr ? covers[i] : cover);
  }
  void blend_color_vspan(int x, int y, unsigned len, const agg::rgba8* colors, const agg::int8u* covers,
                         agg::int8u cover) {
    for (unsigned i = 0; i < len; ++i) put(x, y + int(i), colors[i], covers != nullptr ? covers[i] : cover);
  }
};

// The parts of one shape the shadow draws.
enum : uint8_t { kPartStroke = 1, kPartFill = 2, kPartMarkers = 4 };

}  // namespace

// --- Flags ------------------------------------------------------------------------

bool cRendererSurface::ReduceShadowFlags(bool& withStroke, bool& withFill, bool& withMarkers) const {
  const uint8_t pen_alpha = mPen.color.color.a;
  if (withStroke) {
    if (mPen.kind == ePenKind::off)
      withStroke = false;
    else if (is_line_pen(mPen.kind)) {
      if (mPen.outline)
        withStroke = pen_alpha != 0;
      else
        withStroke = mPen.gradient_active || (pen_alpha != 0 && mPen.width > 0);
    } else if (mPen.kind == ePenKind::pattern) {
      withStroke = mPen.pattern_valid;
    }
  }
  if (withFill) {
    const eRenderMode fm = mMaster.fill_render_mode;
    if (is_outline_mode(fm) || !mShadow.fill_shadow || mFill.kind == eFillKind::off)
      withFill = false;
    else if (mFill.kind == eFillKind::solid)
      withFill = mFill.color.color.a != 0;
    else if (mFill.kind == eFillKind::pattern)
      withFill = mFill.pattern_valid;
    else if (mFill.kind == eFillKind::gradient)
      withFill = mFill.gradient != nullptr && mFill.gradient_kind != eGradientKind::none;
  }
  if (withMarkers)
    withMarkers =
        (mPen.start_marker || mPen.end_marker) && (mPen.gradient_active || (pen_alpha != 0 && mPen.width > 0));
  return withStroke || withFill || withMarkers;
}

// --- The shared steps ----------------------------------------------------------------

// What one shadow carries from step to step: the parts drawn (cleared for
// those no shape contributed to), the shadow transformation, the parts' box
// in device pixels, the mask's area and origin, and how the parts are drawn
// into it.
struct cRendererSurface::rShadowPass {
  // A part's vertices through the shadow transformation, the chain and the
  // move into the mask.
  using shaped_t = agg::conv_transform<rVertexRef, shadow_transform>;
  using mapped_t = agg::conv_transform<shaped_t, rTransformChain>;
  using masked_t = agg::conv_transform<mapped_t, agg::trans_affine>;
  bool withStroke;
  bool withFill;
  bool withMarkers;
  shadow_transform t;
  double bx1 = 0, by1 = 0, bx2 = 0, by2 = 0;  // the parts' box
  unsigned radius = 0;                        // the blur radius in pixels
  bool pattern_pen = false;                   // the pen's pattern is drawn
  double x1 = 0, y1 = 0;                      // the mask's device origin
  int64_t w = 0, h = 0;                       // and its size
  int32_t ox = 0, oy = 0;
  agg::pixfmt_gray8* grey = nullptr;
  bool aa = false;
  agg::gray8 solid_grey;
  agg::gray8 outline_grey;
  agg::trans_affine to_mask;
  bool cut_lines = false;
  bool cut_pattern = false;
  double min_width = 1.6;  // of a stroke drawn as outlines
};

// One shadow over a set of shapes. `bounds` (x1, y1, x2, y2, or nil) place
// the perspective and grow transformations; `each` calls its argument once
// per shape with that shape's sources and the parts it may contribute.
void cRendererSurface::RenderShadowCore(bool withStroke, bool withFill, bool withMarkers, const double* bounds,
                                        const tShadowShapes& each) {
  rShadowPass p{withStroke, withFill, withMarkers};
  ShadowTransform(p, bounds);
  if (!ShadowPartsBox(p, each) || !ShadowMaskArea(p)) return;
  DrawShadowParts(p, each);
  BlendShadow(p);
}

// The shadow transformation, in user units before the chain: a move in the
// shadow's direction, the perspective quadrilateral on the bounds, or the
// bounds grown by the distance on every side.
void cRendererSurface::ShadowTransform(rShadowPass& p, const double* bounds) {
  shadow_transform& t = p.t;
  const double d = finite_or_zero(mShadow.distance);
  if (mShadow.kind == eShadowKind::offset) {
    double dx, dy;
    direction_offset(mShadow.direction, d, dx, dy);
    t.kind = 1;
    t.affine = agg::trans_affine_translation(dx, dy);
  } else if (mShadow.kind == eShadowKind::perspective && bounds != nullptr) {
    const double x1 = bounds[0], y1 = bounds[1], x2 = bounds[2], y2 = bounds[3];
    // Stored zeros stand for the defaults; they are substituted before the
    // direction turns or mirrors the angles.
    double a1 = mShadow.angle1 == 0 ? 45.0 : mShadow.angle1;
    double a2 = mShadow.angle2 == 0 ? 45.0 : mShadow.angle2;
    const double len1 = mShadow.length1 == 0 ? 50.0 : mShadow.length1;
    double len2 = mShadow.length2;
    auto turn = [&](double a) {
      a = normalize_angle(a);
      switch (mShadow.direction) {
        case 0: a += 180; break;
        case 1: a = 360 - a; break;
        case 2: a = 180 - a; break;
        default: return a;
      }
      return normalize_angle(a);
    };
    a1 = turn(a1);
    a2 = turn(a2);
    const double l1 = (y2 - y1) * len1 / 100.0;
    const double dist = finite_or_zero(mShadow.perspective_distance);
    double q[8];
    point_on_circle(q[0], q[1], x1, y2, a1, l1 + dist);  // P1
    q[6] = x1, q[7] = y2;                                // P4
    if (dist > 0) point_on_circle(q[6], q[7], x1, y2, a1, dist);
    q[4] = x2, q[5] = y2;  // P3
    bool crossed = false;
    if (len2 == 0) {
      double qx, qy;
      const double reach = 2 * (l1 + dist);
      point_on_circle(qx, qy, x2, y2, a2, reach);
      double p2x, p2y, p3x, p3y;
      const bool c2 = segments_intersection(p2x, p2y, x1 - reach, q[1], x2 + reach, q[1], x2, y2, qx, qy);
      const bool c3 = segments_intersection(p3x, p3y, x1 - reach, q[7], x2 + reach, q[7], x2, y2, qx, qy);
      if (c2 && c3) {
        q[2] = p2x, q[3] = p2y, q[4] = p3x, q[5] = p3y;
        crossed = true;
      } else {
        len2 = 50.0;
      }
    }
    if (!crossed) {
      const double l2 = (y2 - y1) * len2 / 100.0;
      point_on_circle(q[2], q[3], x2, y2, a2, l2 + dist);
      if (dist > 0) point_on_circle(q[4], q[5], x2, y2, a2, dist);
    }
    if (t.persp.rect_to_quad(x1, y1, x2, y2, q) && t.persp.is_valid()) t.kind = 2;
  } else if (mShadow.kind == eShadowKind::grow && bounds != nullptr && std::fabs(d) >= 1e-14) {
    const double x1 = bounds[0], y1 = bounds[1], w = bounds[2] - bounds[0], h = bounds[3] - bounds[1];
    // A flat outline keeps its flat axis (it would collapse to a hair).
    const double sx = w > 0 ? (w + 2 * d) / w : 1.0;
    const double sy = h > 0 ? (h + 2 * d) / h : 1.0;
    t.kind = 1;
    t.affine = agg::trans_affine_translation(-x1, -y1);
    t.affine *= agg::trans_affine_scaling(sx, sy);
    t.affine *= agg::trans_affine_translation(w > 0 ? x1 - d : x1, h > 0 ? y1 - d : y1);
  }
}

// The pixel box: the union of the parts' boxes through the transformation
// and the chain; a flag no shape contributed to is cleared. False when
// there is nothing to draw, or a vertex is thrown out of reach.
bool cRendererSurface::ShadowPartsBox(rShadowPass& p, const tShadowShapes& each) {
  double bx1 = 0, by1 = 0, bx2 = 0, by2 = 0;
  bool any = false, hostile = false, got_stroke = false, got_fill = false, got_markers = false;
  // Every vertex is looked at: a shadow transformation can throw points far
  // away (a perspective near its vanishing line), and such a shadow is not
  // drawn at all.
  auto unite = [&](rVertexRef& ref, const rTransformChain& chain, bool& got) {
    if (!ref.valid() || hostile) return;
    rShadowPass::shaped_t shaped(ref, p.t);
    rTransformChain c = chain;
    rShadowPass::mapped_t mapped(shaped, c);
    mapped.rewind(0);
    double x, y;
    unsigned cmd;
    while (!agg::is_stop(cmd = mapped.vertex(&x, &y))) {
      if (!agg::is_vertex(cmd)) continue;
      if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > kAbsurd || std::fabs(y) > kAbsurd) {
        hostile = true;
        return;
      }
      got = true;
      if (!any) {
        bx1 = bx2 = x, by1 = by2 = y;
        any = true;
      } else {
        bx1 = std::min(bx1, x), by1 = std::min(by1, y);
        bx2 = std::max(bx2, x), by2 = std::max(by2, y);
      }
    }
  };
  each([&](rShadowSources& s, uint8_t parts) {
    if (p.withStroke && (parts & kPartStroke)) unite(s.stroke, s.chain, got_stroke);
    if (p.withFill && (parts & kPartFill)) unite(s.fill, s.chain, got_fill);
    if (p.withMarkers && (parts & kPartMarkers)) unite(s.markers, s.chain, got_markers);
  });
  p.withStroke = p.withStroke && got_stroke;
  p.withFill = p.withFill && got_fill;
  p.withMarkers = p.withMarkers && got_markers;
  p.bx1 = bx1, p.by1 = by1, p.bx2 = bx2, p.by2 = by2;
  return !hostile && any && bx1 < bx2 && by1 < by2;
}

// The mask's area: the box grown by the blur radius (and by a pattern
// pen's tile), kept to what can reach the surface; the mask made at that
// size. False when nothing is left or the mask cannot be made.
bool cRendererSurface::ShadowMaskArea(rShadowPass& p) {
  double r = finite_or_zero(TransformLength(finite_or_zero(mShadow.blur)));
  r = std::clamp(r, 0.0, 255.0);
  double m = r;
  p.pattern_pen = mPen.kind == ePenKind::pattern && mPen.pattern_valid && mPen.pattern_pixels_width > 0 &&
                  mPen.pattern_pixels_height > 0 &&
                  mPen.pattern_pixels.size() >= size_t(mPen.pattern_pixels_width) * mPen.pattern_pixels_height * 4;
  if (p.withStroke && mPen.kind == ePenKind::pattern && mPen.pattern_valid) {
    const double tile = std::max(finite_or_zero(GetPenPatternTileHeight()), double(mPen.pattern_pixels_height));
    if (tile > m) m = std::min(tile, 65536.0);
  }
  double x1 = std::floor(p.bx1 - m), y1 = std::floor(p.by1 - m), x2 = p.bx2 + m, y2 = p.by2 + m;
  // Only what can reach the surface is kept: the surface grown by the blur
  // radius, all the blur reads around a visible pixel, so every visible
  // pixel blurs as on the whole mask (and no replicated mask edge reaches
  // it).
  p.radius = unsigned(r + 0.5);
  const double grow = p.radius;
  x1 = std::max(x1, mBoundsX1 - grow);
  y1 = std::max(y1, mBoundsY1 - grow);
  x2 = std::min(x2, mBoundsX2 + grow);
  y2 = std::min(y2, mBoundsY2 + grow);
  if (!(x1 < x2) || !(y1 < y2)) return false;
  const int64_t w = int64_t(std::ceil(x2 - x1)), h = int64_t(std::ceil(y2 - y1));
  if (w < 1 || h < 1 || w > INT32_MAX || h > INT32_MAX) return false;

  if (mShadowMask == nullptr) mShadowMask.reset(new (std::nothrow) gray8_buffer());
  if (mShadowMask == nullptr || !mShadowMask->Init(int32_t(w), int32_t(h), true)) return false;
  p.grey = mShadowMask->GreyAccessor();
  if (p.grey == nullptr) return false;
  p.x1 = x1, p.y1 = y1, p.w = w, p.h = h;
  p.ox = int32_t(x1), p.oy = int32_t(y1);
  mShadowBox[0] = p.ox, mShadowBox[1] = p.oy, mShadowBox[2] = int32_t(w), mShadowBox[3] = int32_t(h);
  ++mShadowCount;
  return true;
}

// The parts drawn into the mask through a move by (-x1, -y1): the stroke
// (filled, as outlines, or as the pen's pattern line by the render modes),
// the fill, then the start and end markers.
void cRendererSurface::DrawShadowParts(rShadowPass& p, const tShadowShapes& each) {
  p.aa = mMaster.anti_aliasing;
  p.solid_grey = agg::gray8(p.aa ? 255 : mMaster.master_alpha, 255);
  p.outline_grey = agg::gray8(mMaster.master_alpha, 255);
  p.to_mask = agg::trans_affine_translation(-p.x1, -p.y1);
  mRas2.clip_box(0, 0, double(p.w), double(p.h));
  // The outline renderers work in 24.8 fixed point and multiply
  // coordinate differences in int: a line or join reaching a few thousand
  // pixels beyond the mask overflows them (and beyond 8 million pixels the
  // coordinates themselves). Lines of a shape reaching more than 64 pixels
  // out are cut to the mask (with a margin) first. A cut pattern starts
  // anew where its line enters, so pattern lines are cut only from 1024
  // pixels out (their phase holds for shapes nearer than that).
  const double reach =
      std::max({p.x1 - p.bx1, p.bx2 - (p.x1 + double(p.w)), p.y1 - p.by1, p.by2 - (p.y1 + double(p.h))});
  p.cut_lines = reach > 64.0;
  p.cut_pattern = reach > 1024.0;
  // Outlines: anti-aliased lines of the width-1 profile, the stroke widened
  // for a moment so both sides of a thin stroke stay apart; aliased
  // one-pixel lines without anti-aliasing.
  double unit = LengthMeasure(1.0, [this](double& px, double& py) { MapForward(px, py, true, true, true); });
  if (!std::isfinite(unit) || unit <= 0) unit = 1.0;
  p.min_width = unit >= 1 ? 1.6 : 1.6 / unit;
  const eRenderMode mode = mMaster.shadow_render_mode;
  if (p.withStroke) {
    each([&](rShadowSources& s, uint8_t parts) {
      if (!(parts & kPartStroke)) return;
      const bool pen_outline = is_line_pen(mPen.kind) && mPen.outline;
      if (mode == eRenderMode::path_outline)
        ShadowOutlinePart(p, s.fill, s.chain, nullptr);
      else if (mode == eRenderMode::outline || pen_outline)
        ShadowOutlinePart(p, s.stroke, s.chain, &s.stroker);
      else if (mode != eRenderMode::plain && p.pattern_pen)
        ShadowPatternPart(p, s.fill, s.chain);
      else
        ShadowFillPart(p, s.stroke, s.chain, true);
    });
  }
  if (p.withFill) {
    each([&](rShadowSources& s, uint8_t parts) {
      if (parts & kPartFill) ShadowFillPart(p, s.fill, s.chain, false);
    });
  }
  if (p.withMarkers) {
    each([&](rShadowSources& s, uint8_t parts) {
      if (!(parts & kPartMarkers)) return;
      if (is_outline_mode(mode))
        ShadowOutlinePart(p, s.markers, s.chain, nullptr);
      else
        ShadowFillPart(p, s.markers, s.chain, true);
    });
  }
  mRas2.clip_box(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2, mUpdateRect.y2);
}

// One part rasterised into the mask, by the pen's filling rule when
// `pen_rule` is set.
void cRendererSurface::ShadowFillPart(rShadowPass& p, rVertexRef& ref, const rTransformChain& chain, bool pen_rule) {
  if (!ref.valid()) return;
  agg::renderer_base<agg::pixfmt_gray8> base(*p.grey);
  rShadowPass::shaped_t shaped(ref, p.t);
  rTransformChain c = chain;
  rShadowPass::mapped_t mapped(shaped, c);
  agg::trans_affine move = p.to_mask;
  rShadowPass::masked_t masked(mapped, move);
  const bool switch_rule = pen_rule && mPen.even_odd != mFill.even_odd;
  if (switch_rule) mRas2.filling_rule(mPen.even_odd ? agg::fill_even_odd : agg::fill_non_zero);
  mRas2.reset();
  mRas2.add_path(masked, 0);
  if (p.aa)
    agg::render_scanlines_aa_solid(mRas2, mScanline, base, p.solid_grey);
  else
    agg::render_scanlines_bin_solid(mRas2, mScanlineBin, base, p.solid_grey);
  if (switch_rule) ApplyFillRule();
}

// One part drawn as outlines into the mask; a stroke (`stroker` set)
// thinner than the minimum width is widened for the drawing.
void cRendererSurface::ShadowOutlinePart(rShadowPass& p, rVertexRef& ref, const rTransformChain& chain,
                                         rStrokerRef* stroker) {
  if (!ref.valid()) return;
  agg::renderer_base<agg::pixfmt_gray8> base(*p.grey);
  const double w = double(p.w), h = double(p.h);
  double saved = 0;
  const bool widen =
      p.aa && stroker != nullptr && stroker->obj != nullptr && (saved = stroker->get_fn(stroker->obj)) < p.min_width;
  if (widen) stroker->set_fn(stroker->obj, p.min_width);
  rShadowPass::shaped_t shaped(ref, p.t);
  rTransformChain c = chain;
  rShadowPass::mapped_t mapped(shaped, c);
  agg::trans_affine move = p.to_mask;
  rShadowPass::masked_t masked(mapped, move);
  if (p.aa) {
    agg::line_profile_aa profile;
    profile.width(1.0);
    agg::renderer_outline_aa<agg::renderer_base<agg::pixfmt_gray8>> ren(base, profile);
    ren.clip_box(-1, -1, w + 1, h + 1);  // long lines are walked only inside
    ren.color(p.outline_grey);
    agg::rasterizer_outline_aa<agg::renderer_outline_aa<agg::renderer_base<agg::pixfmt_gray8>>> ras(ren);
    ras.round_cap(true);
    if (p.cut_lines) {
      agg::conv_clip_polyline<rShadowPass::masked_t> clipped(masked);
      clipped.clip_box(-4, -4, w + 4, h + 4);
      ras.add_path(clipped, 0);
    } else {
      ras.add_path(masked, 0);
    }
  } else {
    agg::renderer_primitives<agg::renderer_base<agg::pixfmt_gray8>> prim(base);
    prim.line_color(p.outline_grey);
    agg::rasterizer_outline<agg::renderer_primitives<agg::renderer_base<agg::pixfmt_gray8>>> ras(prim);
    // The primitives walk every pixel of a line: clip the lines first.
    agg::conv_clip_polyline<rShadowPass::masked_t> clipped(masked);
    clipped.clip_box(-1, -1, w + 1, h + 1);
    ras.add_path(clipped, 0);
  }
  if (widen) stroker->set_fn(stroker->obj, saved);
}

// The pen's image pattern laid along the fill outline, as the pattern pen
// paints it (from its start, at its scale), with the bilinear or the
// nearest-neighbour pattern filter.
void cRendererSurface::ShadowPatternPart(rShadowPass& p, rVertexRef& ref, const rTransformChain& chain) {
  if (!ref.valid()) return;
  const double w = double(p.w), h = double(p.h);
  rShadowPass::shaped_t shaped(ref, p.t);
  rTransformChain c = chain;
  rShadowPass::mapped_t mapped(shaped, c);
  agg::trans_affine move = p.to_mask;
  rShadowPass::masked_t masked(mapped, move);
  pattern_alpha_to_grey adaptor{p.grey, p.solid_grey.v};
  agg::renderer_base<pattern_alpha_to_grey> pbase(adaptor);
  const tile_source tile{mPen.pattern_pixels.data(), mPen.pattern_pixels_width, mPen.pattern_pixels_height};
  // AGG's image-outline interpolator steps 256 / scale per subpixel in
  // int: a scale far below 1 overflows it along a line as long as the
  // mask's diagonal, so the scale stays where that length fits (a tile
  // squeezed below that is finer than a pixel there anyway).
  const double min_scale = (std::hypot(w, h) + 16) / 24576.0;
  const double scale =
      std::max(std::isfinite(mPen.pattern_scale) && mPen.pattern_scale > 0 ? mPen.pattern_scale : 1.0, min_scale);
  // The start is a phase along the tile: taken modulo the tile's width it
  // lays the same pattern and stays inside AGG's 24.8 fixed point (a far
  // start wrapped there and read before the pattern's rows).
  double start = std::fmod(finite_or_zero(mPen.pattern_start), double(mPen.pattern_pixels_width));
  if (start < 0) start += mPen.pattern_pixels_width;
  auto draw = [&](auto& filter) {
    agg::line_image_pattern<std::remove_reference_t<decltype(filter)>> pattern(filter);
    pattern.create(tile);
    agg::renderer_outline_image<agg::renderer_base<pattern_alpha_to_grey>, decltype(pattern)> ren(pbase, pattern);
    ren.clip_box(-1, -1, w + 1, h + 1);
    ren.scale_x(scale);
    ren.start_x(start);
    agg::rasterizer_outline_aa<decltype(ren)> ras(ren);
    ras.round_cap(true);
    if (p.cut_pattern) {
      // The pattern then starts where the line enters (its phase along a
      // line that far out is not kept).
      agg::conv_clip_polyline<rShadowPass::masked_t> clipped(masked);
      clipped.clip_box(-4, -4, w + 4, h + 4);
      ras.add_path(clipped, 0);
    } else {
      ras.add_path(masked, 0);
    }
  };
  if (p.aa) {
    agg::pattern_filter_bilinear_rgba8 filter;
    draw(filter);
  } else {
    agg::pattern_filter_nn_rgba8 filter;
    draw(filter);
  }
}

// The mask blurred (when the shadow is blurred), then blended in the
// shadow's colour or through the colour table into the surface, or the
// clip layer during a clip pass; never into a filter layer.
void cRendererSurface::BlendShadow(rShadowPass& p) {
  const eRenderMode mode = mMaster.shadow_render_mode;
  if (mShadow.blurred && p.radius > 0) qlm_agg::stack_blur_gray8(*p.grey, p.radius);

  // An outline render mode with a master colour draws in that colour.
  auto pick = [&](eRenderMode render_mode) {
    const agg::rgba8& master = mMaster.master_color.color;
    return is_outline_mode(render_mode) && master.a != 0 ? master : mShadow.color.color;
  };
  const agg::rgba8 colour = p.withStroke ? pick(mMaster.pen_render_mode)
                            : p.withFill ? pick(mMaster.fill_render_mode)
                                         : pick(mode);

  qlm_agg::renderer_any& target = BeginDraw();
  if (mode == eRenderMode::normal && mShadow.ramp != nullptr && mShadowLut != nullptr)
    target.blend_from_lut(*p.grey, mShadowLut.get(), nullptr, p.ox, p.oy, 255);
  else
    target.blend_from_color(*p.grey, colour, nullptr, p.ox, p.oy, 255);
  EndDraw();
}

// --- The shadow of one shape ----------------------------------------------------------

void cRendererSurface::RenderShadow(bool withStroke, bool withFill, bool withMarkers, rShadowSources& sources) {
  if (mMaster.shadow_render_mode == eRenderMode::off) return;
  if (!ReduceShadowFlags(withStroke, withFill, withMarkers)) return;
  double b[4];
  const double* bounds = nullptr;
  if (sources.fill.valid() && agg::bounding_rect_single(sources.fill, 0, &b[0], &b[1], &b[2], &b[3])) bounds = b;
  RenderShadowCore(withStroke, withFill, withMarkers, bounds,
                   [&](const tShadowVisit& visit) { visit(sources, kPartStroke | kPartFill | kPartMarkers); });
}

// --- The shadow of a path group ---------------------------------------------------------

void cRendererSurface::RenderGroupShadow(cPathGroup* group) {
  if (mMaster.shadow_render_mode == eRenderMode::off || group == nullptr) return;
  bool withStroke = true, withFill = true, withMarkers = true;
  if (!ReduceShadowFlags(withStroke, withFill, withMarkers)) return;
  const bool copy = !mPen.device_space;
  // The bounds of what the entries replay (the pre-mapped copies when the
  // pen works outside device space), so the perspective and grow shadows sit
  // on the shapes drawn.
  double b[4];
  const double* bounds = nullptr;
  if (!copy) {
    rRectD u;
    group->GetBounds(u);
    b[0] = u.x1, b[1] = u.y1, b[2] = u.x2, b[3] = u.y2;
    if (u.x1 != 0 || u.y1 != 0 || u.x2 != 0 || u.y2 != 0) bounds = b;
  } else {
    bool first = true;
    for (rPathGroupEntry* e = group->First(); e != nullptr; e = e->mNext) {
      agg::conv_curve<agg::path_storage> curve(*e->mSource);
      double x1, y1, x2, y2;
      if (!agg::bounding_rect_single(curve, 0, &x1, &y1, &x2, &y2)) continue;
      if (first) {
        b[0] = x1, b[1] = y1, b[2] = x2, b[3] = y2;
        first = false;
      } else {
        b[0] = std::min(b[0], x1), b[1] = std::min(b[1], y1);
        b[2] = std::max(b[2], x2), b[3] = std::max(b[3], y2);
      }
    }
    if (!first) bounds = b;
  }
  const agg::trans_affine saved_position = mPosition;
  agg::path_storage* const saved_path = mCurrentPath;
  // Every entry made current in turn; its pipeline built as the drawing core
  // builds it.
  auto each = [&](const tShadowVisit& visit) {
    for (rPathGroupEntry* e = group->First(); e != nullptr; e = e->mNext) {
      if (e->mMode < 1 || e->mMode > 3) continue;
      SelectGroupEntry(e);
      agg::path_storage* path = &e->mPath;
      if (copy) {
        path = e->mSource;
        mPosition.reset();
      }
      const rTransformChain chain = Chain(!copy);
      // The control points through the whole mapping: an entry the drawing
      // core would refuse casts no shadow; the box bounds the flattening.
      double extent = 0;
      {
        rTransformChain c = chain;
        agg::conv_transform<agg::path_storage, rTransformChain> control(*path, c);
        control.rewind(0);
        double x, y, cx1 = 0, cy1 = 0, cx2 = 0, cy2 = 0;
        bool first = true, bad = false;
        unsigned cmd;
        while (!agg::is_stop(cmd = control.vertex(&x, &y))) {
          if (!agg::is_vertex(cmd)) continue;
          if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > kAbsurd || std::fabs(y) > kAbsurd) {
            bad = true;
            break;
          }
          if (first) cx1 = cx2 = x, cy1 = cy2 = y, first = false;
          cx1 = std::min(cx1, x), cy1 = std::min(cy1, y), cx2 = std::max(cx2, x), cy2 = std::max(cy2, y);
        }
        if (bad || first) continue;
        extent = std::max(cx2 - cx1, cy2 - cy1);
      }
      const double approx = qlm_agg::approximation_scale_for(mApproxScale, extent);
      snap_source snapped{path, &mSnap, mMaster.pixel_snap};
      agg::conv_curve<snap_source> curve(snapped);
      curve.approximation_scale(approx);
      agg::conv_stroke<agg::conv_curve<snap_source>> stroke(curve);
      stroke.width(mPen.width);
      stroke.line_cap(agg::line_cap_e(mPen.line_cap <= 2 ? mPen.line_cap : 0));
      stroke.line_join(agg::line_join_e(mPen.line_join <= 4 ? mPen.line_join : 0));
      stroke.miter_limit(qlm_agg::stroke_miter_limit(mPen.miter_limit));
      stroke.approximation_scale(approx);
      rShadowSources s;
      s.fill = rVertexRef::Of(curve);
      s.stroke = rVertexRef::Of(stroke);
      s.stroker = rStrokerRef::Of(stroke);
      s.chain = chain;
      uint8_t parts = 0;
      if (e->mMode == 1 || e->mMode == 3) parts |= kPartFill;
      if (e->mMode == 2 || e->mMode == 3) parts |= kPartStroke | kPartMarkers;
      visit(s, parts);
    }
  };
  RenderShadowCore(withStroke, withFill, withMarkers, bounds, each);
  mGroupSource = nullptr;
  mPosition = saved_position;
  mCurrentPath = saved_path;
}

// --- The colour table ----------------------------------------------------------------

bool cRendererSurface::BuildShadowLut(const agg::rgba8* colours, size_t n) {
  if (mShadowLut == nullptr) mShadowLut.reset(new (std::nothrow) agg::rgba8[256]);
  if (mShadowLut == nullptr) return false;
  if (colours == nullptr) n = 0;
  for (size_t i = 0; i < 256; ++i) {
    agg::rgba8 c = i < n ? colours[i] : mShadow.color.color;
    // The first quarter of the mask's grey range fades in; the ramp's own
    // alpha is never used.
    c.a = i < 64 ? agg::int8u(4 * i) : agg::int8u(255);
    mShadowLut[i] = c;
  }
  return true;
}

// The ramp's colours as they are now (later edits of the ramp need a new
// call); only ramps of at least 256 colours, and only their first 256.
void cRendererSurface::SetShadowColorRamp(cGradientColorRamp* ramp) {
  mShadow.ramp = nullptr;
  if (!object_identify(ramp, id_cGradientColorRamp) || ramp->GetMaxColors() < 256) return;
  const gradient_color_table* table = ramp->GetColorTable();
  agg::rgba8 colours[256];
  size_t n = 0;
  if (table != nullptr) {
    n = std::min<size_t>(table->size(), 256);
    for (size_t i = 0; i < n; ++i) colours[i] = (*table)[unsigned(i)];
  }
  if (!BuildShadowLut(colours, n)) return;
  mShadow.ramp = ramp;
}
