// Clipping: the clip shapes and flags, the mask and the layer of a clip
// pass, writing the layer back, clearing the clip area and its bounds.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "qlm_base_util.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

bool finite4(double a, double b, double c, double d) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
}

// The outline of a clip shape in its own coordinates.
void shape_outline(const rClipSegment& e, agg::path_storage& out) {
  switch (e.kind) {
    case 0:
    case 1: {
      const double x2 = e.kind == 0 ? e.c : e.a + e.c;
      const double y2 = e.kind == 0 ? e.d : e.b + e.d;
      out.move_to(e.a, e.b);
      out.line_to(x2, e.b);
      out.line_to(x2, y2);
      out.line_to(e.a, y2);
      out.close_polygon();
      break;
    }
    case 2: {
      agg::bezier_arc arc(e.a, e.b, e.c, e.d, 0, 2 * kPi);
      out.concat_path(arc);
      out.close_polygon();
      break;
    }
    case 3:
      if (e.path != nullptr) out.concat_path(const_cast<agg::path_storage&>(*e.path));
      break;
    default: break;
  }
}

}  // namespace

void cRendererSurface::FreeClipBuffers() {
  mem_free(mClipLayer);
  mClipMask.Init(0, 0, false);  // keeps the mask's memory; sized again on use
  mClipAllocW = mClipAllocH = 0;
  mClipStoredW = mClipStoredH = 0;
  mClipLayerBuf = agg::rendering_buffer();
}

void cRendererSurface::BuildClipMask() {
  if (mSurface == nullptr) return;
  const int32_t w = mSurface->GetWidth();
  const int32_t h = mSurface->GetHeight();
  const int32_t bpp = mSurface->BytesPerPixel();
  // 1. Buffers for the surface's size; memory grows, never shrinks.
  if (w != mClipStoredW || h != mClipStoredH || mClipLayer == nullptr || mClipBuffersStale) {
    mClipBuffersStale = false;
    if (mClipAllocW < w || mClipAllocH < h) {
      mem_free(mClipLayer);
      mClipAllocW = mClipAllocH = 0;
    }
    if (mClipLayer == nullptr) {
      const int64_t bytes = int64_t(w) * h * 4;
      if (bytes > cnRendererBufferLimit || !mem_alloc(mClipLayer, bytes)) {
        mClipLayer = nullptr;
      } else {
        mClipAllocW = w;
        mClipAllocH = h;
      }
    }
    // The mask's row pitch is the layer's: both are the allocated width.
    if (mClipLayer == nullptr || !mClipMask.Init(mClipAllocW, mClipAllocH, false)) {
      FreeClipBuffers();  // clipping then has no effect
    } else {
      mClipStoredW = w;
      mClipStoredH = h;
      mClipMask.attach(mClipMask.row_ptr(0), unsigned(w), unsigned(h), mClipAllocW);
      mClipLayerBuf.attach(mClipLayer, unsigned(w), unsigned(h), mClipAllocW * bpp);
      mSurface->BindSecondBuffer(mClipLayerBuf);
      ApplyCompOp();  // the layer's bases, with the compositing operation
    }
  }
  // 2.-3. The mask from the shapes and the surface's picture in the layer.
  mClip.on = false;
  if (mClipLayer != nullptr) {
    // With clip-inside, only the shapes' device box can change on write-back
    // (the mask is 0 elsewhere): copy-in and write-back stay inside it.
    double ux1 = std::numeric_limits<double>::infinity(), uy1 = ux1, ux2 = -ux1, uy2 = -ux1;
    agg::pixfmt_gray8 grey(mClipMask);
    agg::renderer_base<agg::pixfmt_gray8> base(grey);
    agg::renderer_scanline_aa_solid<agg::renderer_base<agg::pixfmt_gray8>> solid(base);
    base.clear(agg::gray8(mClip.inside ? 0 : 255));
    solid.color(agg::gray8(mClip.inside ? 255 : 0));
    mRasClip.reset();
    mRasClip.clip_box(0, 0, w, h);
    mRasClip.filling_rule(mClip.even_odd ? agg::fill_even_odd : agg::fill_non_zero);
    const double scale = qlm_agg::approximation_scale_checked(TransformLengthForClip(1.0) * 2.0);
    agg::trans_affine place = matrix_to_affine(mTransform.viewport) * mDevice;
    for (const rClipSegment& e : mClip.shapes) {
      agg::path_storage outline;
      shape_outline(e, outline);
      // The device box of the control points bounds the flattening work.
      // Beyond 2^30 pixels (or with a non-finite box) curves are not
      // flattened: their control polygon stands for them, since AGG's
      // subdivision would run to 2^32 pieces or on NaN.
      double extent = std::numeric_limits<double>::infinity();
      {
        agg::conv_transform<agg::path_storage> corners(outline, place);
        // A shape with a point that is not a finite number (a recorded path
        // the drawing refused, a path built from NaN) takes no part in the
        // mask: AGG's clipper and cells would turn it into integer overflow.
        bool finite = true;
        corners.rewind(0);
        double vx, vy;
        for (unsigned cmd; finite && !agg::is_stop(cmd = corners.vertex(&vx, &vy));)
          if (agg::is_vertex(cmd)) finite = std::isfinite(vx) && std::isfinite(vy);
        if (!finite) continue;
        double bx1, by1, bx2, by2;
        if (agg::bounding_rect_single(corners, 0, &bx1, &by1, &bx2, &by2)) {
          extent = std::max(bx2 - bx1, by2 - by1);
          ux1 = std::min(ux1, bx1), uy1 = std::min(uy1, by1);
          ux2 = std::max(ux2, bx2), uy2 = std::max(uy2, by2);
        }
      }
      if (extent <= qlm_agg::cnMaxFlattenExtent) {
        agg::conv_curve<agg::path_storage> curve(outline);
        curve.approximation_scale(qlm_agg::approximation_scale_for(scale, extent));
        agg::conv_transform<agg::conv_curve<agg::path_storage>> placed(curve, place);
        mRasClip.add_path(placed);
      } else {
        agg::conv_transform<agg::path_storage> placed(outline, place);
        mRasClip.add_path(placed);
      }
      if (mClip.separate) {
        agg::render_scanlines(mRasClip, mScanline, solid);
        mRasClip.reset();
      }
    }
    if (!mClip.separate) agg::render_scanlines(mRasClip, mScanline, solid);
    mClipBox[0] = 0, mClipBox[1] = 0, mClipBox[2] = w, mClipBox[3] = h;
    if (mClip.inside) {
      // One pixel of margin around the box of the control points.
      auto cut = [](double v, int32_t hi) { return !(v > 0) ? 0 : (v >= hi ? hi : int32_t(v)); };
      mClipBox[0] = cut(std::floor(ux1) - 1, w);
      mClipBox[1] = cut(std::floor(uy1) - 1, h);
      mClipBox[2] = cut(std::ceil(ux2) + 1, w);
      mClipBox[3] = cut(std::ceil(uy2) + 1, h);
    }
    mSurface->CopyRowsOut(mClipLayer, mClipAllocW, mClipBox[0], mClipBox[1], mClipBox[2], mClipBox[3]);
    mClip.on = true;
  }
  mClip.mask_stale = false;
}

void cRendererSurface::WriteBackClip() {
  if (!mWriteBackPending) return;
  mWriteBackPending = false;
  if (mSurface == nullptr || mClipLayer == nullptr || mClipStoredW != mSurface->GetWidth() ||
      mClipStoredH != mSurface->GetHeight())
    return;
  mSurface->MaskedCopyIn(mClipLayer, mClipMask.row_ptr(0), mClipAllocW, mMaster.anti_aliasing, mClipBox[0], mClipBox[1],
                         mClipBox[2], mClipBox[3]);
}

qlm_agg::renderer_any& cRendererSurface::BeginDraw() {
  if (mClip.on && mClip.mask_stale) BuildClipMask();
  return ClipPassActive() ? mClipBase : mBase;
}

void cRendererSurface::EndDraw() {
  if (ClipPassActive()) mWriteBackPending = true;
}

// --- Shapes ---------------------------------------------------------------------------

namespace {
void add_shape(ClipState& clip, uint8_t kind, double a, double b, double c, double d) {
  rClipSegment e;
  e.kind = kind;
  e.a = a;
  e.b = b;
  e.c = c;
  e.d = d;
  clip.shapes.push_back(e);
  clip.on = true;
  clip.mask_stale = true;
}
}  // namespace

void cRendererSurface::ClipRect(double x1, double y1, double x2, double y2) {
  if (!finite4(x1, y1, x2, y2)) return;
  WriteBackClip();
  add_shape(mClip, 0, x1, y1, x2, y2);
}

void cRendererSurface::ClipRectXYWH(double x, double y, double width, double height) {
  if (!finite4(x, y, width, height)) return;
  WriteBackClip();
  add_shape(mClip, 1, x, y, width, height);
}

void cRendererSurface::ClipEllipse(double cx, double cy, double rx, double ry) {
  if (!finite4(cx, cy, rx, ry)) return;
  WriteBackClip();
  add_shape(mClip, 2, cx, cy, rx, ry);
}

// The entry keeps its own copy of the vertices, already moved by (dx, dy),
// and the offsets.
void cRendererSurface::ClipPath(cPath* path, double dx, double dy) {
  if (!object_identify(path, id_cPath) || !std::isfinite(dx) || !std::isfinite(dy)) return;
  auto copy = std::make_shared<agg::path_storage>();
  copy->concat_path(path->GetStorage());
  if (dx != 0 || dy != 0) copy->translate_all_paths(dx, dy);
  WriteBackClip();
  add_shape(mClip, 3, dx, dy, 0, 0);
  mClip.shapes.back().path = std::move(copy);
}

// One entry per recorded path of the group, each with its own copy moved by
// the offset a replay at (dx, dy) gives it (the group's union box at (dx, dy),
// each path further by its own draw position); zero offsets and draw
// positions keep every path where it was recorded.
void cRendererSurface::ClipPathGroup(cPathGroup* group, double dx, double dy) {
  if (!object_identify(group, id_cPathGroup) || !std::isfinite(dx) || !std::isfinite(dy)) return;
  WriteBackClip();
  rRectD bounds;
  bool have_bounds = false;
  for (rPathGroupEntry* e = group->First(); e != nullptr; e = e->mNext) {
    double ox = 0, oy = 0;
    if (dx != 0 || dy != 0 || e->mAtX != 0 || e->mAtY != 0) {
      if (!have_bounds) {
        group->GetBounds(bounds);
        have_bounds = true;
      }
      ox = dx + e->mAtX - bounds.x1;
      oy = dy + e->mAtY - bounds.y1;
      if (!std::isfinite(ox) || !std::isfinite(oy)) continue;
    }
    auto copy = std::make_shared<agg::path_storage>();
    copy->concat_path(e->mPath);
    if (ox != 0 || oy != 0) copy->translate_all_paths(ox, oy);
    add_shape(mClip, 3, ox, oy, 0, 0);
    mClip.shapes.back().path = std::move(copy);
  }
  mClip.on = true;
  mClip.mask_stale = true;
}

// --- Flags ----------------------------------------------------------------------------

void cRendererSurface::SetClipEvenOdd(bool flag) {
  mRasClip.filling_rule(flag ? agg::fill_even_odd : agg::fill_non_zero);
  if (flag == mClip.even_odd) return;
  WriteBackClip();
  mClip.even_odd = flag;
  mClip.mask_stale = true;
}
bool cRendererSurface::IsClipEvenOdd() { return mClip.even_odd; }

void cRendererSurface::SetClipInside(bool flag) {
  if (flag == mClip.inside) return;
  WriteBackClip();
  mClip.inside = flag;
  mClip.mask_stale = true;
}
bool cRendererSurface::IsClipInside() { return mClip.inside; }

void cRendererSurface::SetClipSeparate(bool flag) {
  if (flag == mClip.separate) return;
  WriteBackClip();
  mClip.separate = flag;
  mClip.mask_stale = true;
}
bool cRendererSurface::IsClipSeparate() { return mClip.separate; }

void cRendererSurface::ClipOn() {
  WriteBackClip();
  mClip.on = true;
  mClip.mask_stale = true;
}

void cRendererSurface::ClipOff() {
  WriteBackClip();
  mClip.on = false;
}

bool cRendererSurface::IsClipOn() { return mClip.on; }

void cRendererSurface::ResetClipping(bool writeBack) {
  // Without write-back the pending pass is discarded: the layer may belong
  // to a surface of another size by now.
  if (writeBack)
    WriteBackClip();
  else
    mWriteBackPending = false;
  mClip = ClipState{};
  mRasClip.filling_rule(agg::fill_non_zero);
}

void cRendererSurface::GetClipBounds(rRectD& bounds) {
  bounds = rRectD{};
  if (!mClip.on) return;
  bool first = true;
  for (const rClipSegment& e : mClip.shapes) {
    double x1, y1, x2, y2;
    switch (e.kind) {
      case 0: x1 = std::min(e.a, e.c), y1 = std::min(e.b, e.d), x2 = std::max(e.a, e.c), y2 = std::max(e.b, e.d); break;
      case 1:
        x1 = std::min(e.a, e.a + e.c), y1 = std::min(e.b, e.b + e.d);
        x2 = std::max(e.a, e.a + e.c), y2 = std::max(e.b, e.b + e.d);
        break;
      case 2:
        x1 = e.a - std::fabs(e.c), y1 = e.b - std::fabs(e.d), x2 = e.a + std::fabs(e.c), y2 = e.b + std::fabs(e.d);
        break;
      default: {
        if (e.path == nullptr) continue;
        agg::path_storage copy = *e.path;
        agg::conv_curve<agg::path_storage> curve(copy);
        if (!agg::bounding_rect_single(curve, 0, &x1, &y1, &x2, &y2)) continue;
        break;
      }
    }
    if (first) {
      bounds.x1 = x1, bounds.y1 = y1, bounds.x2 = x2, bounds.y2 = y2;
      first = false;
    } else {
      bounds.x1 = std::min(bounds.x1, x1);
      bounds.y1 = std::min(bounds.y1, y1);
      bounds.x2 = std::max(bounds.x2, x2);
      bounds.y2 = std::max(bounds.y2, y2);
    }
  }
}

void cRendererSurface::ClearClipArea(uint32_t color) {
  if (!mAttached) return;
  rRectD b;
  GetClipBounds(b);
  if (!b.IsValid()) return;
  agg::path_storage rect;
  if (mClip.inside) {
    // The clip bounds through the fill chain: every stage, then the device
    // matrix. (The clip shapes themselves follow only the viewports and the
    // device matrix, so with other stages in force the two can differ; the
    // drawing is masked either way.)
    const double xs[4] = {b.x1, b.x2, b.x2, b.x1};
    const double ys[4] = {b.y1, b.y1, b.y2, b.y2};
    for (int i = 0; i < 4; ++i) {
      double x = xs[i], y = ys[i];
      MapForward(x, y, true, true, true);
      if (i == 0)
        rect.move_to(x, y);
      else
        rect.line_to(x, y);
    }
  } else {
    // The whole surface in device pixels, its last row and column included.
    const double w = mSurface->GetWidth(), h = mSurface->GetHeight();
    rect.move_to(0, 0);
    rect.line_to(w, 0);
    rect.line_to(w, h);
    rect.line_to(0, h);
  }
  rect.close_polygon();
  rStoredColor c;
  c.Set(color, mMaster.master_alpha, mMaster.anti_aliasing);
  qlm_agg::renderer_any& base = BeginDraw();
  mRasterReusable = false;
  mRas.reset();
  mRas.add_path(rect);
  agg::renderer_scanline_aa_solid<qlm_agg::renderer_any> solid(base);
  solid.color(c.color);
  agg::render_scanlines(mRas, mScanline, solid);
  EndDraw();
}
