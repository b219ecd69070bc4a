// Images: the eight image operations and the image engine RenderImage, which
// draws a bitmap transformed, filtered, tinted and clipped by an outline, and
// registers it in hit tests.
#include <algorithm>
#include <cmath>
#include <type_traits>

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

agg::rgba8 rgba_of(uint32_t c) {
  return agg::rgba8(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), uint8_t(c >> 24));
}

using curve_outline = agg::conv_curve<agg::path_storage>;
using device_outline = agg::conv_transform<curve_outline, rTransformChain>;

}  // namespace

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

void cRendererSurface::RenderImage(cBitmap* bitmap, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2,
                                   const double* corners, bool premultiplied, cHitTest* hit) {
  mRasterReusable = false;
  // Pattern fills paint their tile directly and keep no canvas, so without
  // a bitmap there is nothing to draw.
  if (bitmap == nullptr || corners == nullptr || mSurface == nullptr || !bitmap->IsOpened()) return;

  // 1. The source rectangle, limited to the bitmap; no area draws nothing.
  sx2 = std::min(sx2, bitmap->Width());
  sy2 = std::min(sy2, bitmap->Height());
  sx1 = std::max(sx1, 0);
  sy1 = std::max(sy1, 0);
  if (sx1 >= sx2 || sy1 >= sy2) return;
  for (int i = 0; i < 6; ++i)
    if (!usable(corners[i])) return;
  // A parallelogram without area has no inverse mapping.
  const double ax = corners[2] - corners[0], ay = corners[3] - corners[1];
  const double bx = corners[4] - corners[2], by = corners[5] - corners[3];
  if (!(std::fabs(ax * by - ay * bx) > 0)) return;

  double box[4];
  if (!ImageOutlineBox(box)) return;
  // The part of the box that can be drawn: the open layer's or the update
  // rectangle.
  double lim[4] = {double(mUpdateRect.x1), double(mUpdateRect.y1), double(mUpdateRect.x2), double(mUpdateRect.y2)};
  if (mLayer != nullptr) {
    lim[0] = mLayerX, lim[1] = mLayerY;
    lim[2] = double(mLayerX) + mLayer->Width(), lim[3] = double(mLayerY) + mLayer->Height();
  }
  const double dx1 = std::max(std::floor(box[0]) - 1, lim[0]), dy1 = std::max(std::floor(box[1]) - 1, lim[1]);
  const double dx2 = std::min(std::ceil(box[2]) + 1, lim[2]), dy2 = std::min(std::ceil(box[3]) + 1, lim[3]);
  if (!(dx1 < dx2) || !(dy1 < dy2)) return;

  // The bitmap the surface draws into changes without its change counter
  // moving (the surface counts the change when it lets go of it): drawn
  // onto itself, it is converted afresh, never taken from an older copy.
  if (object_identify(mSurface, id_cSurfaceBitmap) && static_cast<cSurfaceBitmap*>(mSurface)->Bitmap() == bitmap)
    mImageBuffer.Init(1, 1);
  if (!mImageBuffer.LoadBitmap(bitmap)) return;
  const int sw = sx2 - sx1, sh = sy2 - sy1;
  // The source rectangle alone is the image: outside it is transparent black.
  agg::rendering_buffer source(mImageBuffer.row_ptr(sy1) + int64_t(sx1) * 4, unsigned(sw), unsigned(sh),
                               mImageBuffer.stride());
  agg::pixfmt_rgba32 source_pf(source);
  using accessor_type = agg::image_accessor_clip<agg::pixfmt_rgba32>;
  accessor_type accessor(source_pf, agg::rgba8(0, 0, 0, 0));

  // 3. The image transformation: device pixel -> source pixel.
  bool perspective = false;
  for (const rTransformStage& s : mTransform.stages)
    if (s.kind != 0) perspective = true;
  agg::trans_affine inverse;
  qlm_agg::perspective persp;
  double scale_x = 1, scale_y = 1;
  if (!perspective) {
    double parl[6] = {corners[0], corners[1], corners[2], corners[3], corners[4], corners[5]};
    agg::trans_affine m(0, 0, sw, sh, parl);
    for (const rTransformStage& s : mTransform.stages)
      m *= agg::trans_affine(s.affine[0], s.affine[1], s.affine[2], s.affine[3], s.affine[4], s.affine[5]);
    if (!mDevice.is_identity(1e-14)) m *= mDevice;
    const double det = m.determinant();
    if (!std::isfinite(det) || det == 0) return;
    inverse = m;
    inverse.invert();
    // The interpolator works in 24.8 integers: every device pixel it can be
    // asked for must map to a source position that fits.
    const double px[4] = {dx1, dx2, dx2, dx1}, py[4] = {dy1, dy1, dy2, dy2};
    for (int i = 0; i < 4; ++i) {
      double x = px[i], y = py[i];
      inverse.transform(&x, &y);
      if (!(std::fabs(x) < kSourceReach) || !(std::fabs(y) < kSourceReach)) return;
    }
    inverse.scaling_abs(&scale_x, &scale_y);
  } else {
    double q[8] = {corners[0], corners[1], corners[2], corners[3], corners[4], corners[5],
                   corners[0] + corners[4] - corners[2], corners[1] + corners[5] - corners[3]};
    for (int i = 0; i < 4; ++i) {
      MapForward(q[2 * i], q[2 * i + 1], true, true, true);
      if (!usable(q[2 * i]) || !usable(q[2 * i + 1])) return;
    }
    if (!persp.quad_to_rect(q, 0, 0, sw, sh)) return;
    // Shrinking: source pixels per device pixel along the quadrilateral's
    // shorter opposite edges.
    auto edge = [&](int a, int b) { return std::hypot(q[2 * b] - q[2 * a], q[2 * b + 1] - q[2 * a + 1]); };
    const double top = edge(0, 1), bottom = edge(3, 2), left = edge(0, 3), right = edge(1, 2);
    scale_x = sw / std::max(std::min(top, bottom), 1e-300);
    scale_y = sh / std::max(std::min(left, right), 1e-300);
  }

  // 5.-6. Distortions (fill render mode 1) and the generator.
  const qlm_agg::distortion_dispatch distortion =
      mMaster.fill_render_mode == eRenderMode::normal ? Distortion() : qlm_agg::distortion_dispatch{};
  const bool distorted = distortion.kind != qlm_agg::distortion_kind::none;
  const eImageSpan span = choose_image_span(mMaster.anti_aliasing, mImage.filter, mImageLut.diameter(), scale_x,
                                            scale_y, perspective, distorted);
  mLastImageSpan = span;

  // 7. Tint: fill render mode 4 inverts through the master colour.
  const bool mode4 = mMaster.fill_render_mode == eRenderMode::path_outline;
  image_tint_converter tint(mode4 ? qlm_agg::cnCompOpInvertRgb : mImage.tint_op,
                            mode4 ? mMaster.master_color.color : rgba_of(mImage.tint_color),
                            qlm_agg::comp_op_table<agg::order_rgba>::funcs);

  // 8. The target: the layer, or the surface (through the clip layer while
  // clipping), pre-multiplied or straight.
  qlm_agg::any_rgba_target layer_target;
  qlm_agg::renderer_any layer_base;
  qlm_agg::renderer_any* base = nullptr;
  int ox = 0, oy = 0;
  if (mLayer != nullptr) {
    if (!layer_target.attach(px32BGRA,
                             premultiplied ? qlm_agg::target_kind::premultiplied : qlm_agg::target_kind::straight,
                             mLayerBuf))
      return;
    layer_base.attach(layer_target);
    base = &layer_base;
    ox = mLayerX;
    oy = mLayerY;
  } else {
    qlm_agg::renderer_any& plain = BeginDraw();
    base = ClipPassActive() ? (premultiplied ? &mClipBasePre : &plain) : (premultiplied ? &mBasePre : &plain);
  }

  rTransformChain chain = Chain(true);
  curve_outline curve(*mCurrentPath);
  curve.approximation_scale(qlm_agg::approximation_scale_for(mApproxScale, std::max(box[2] - box[0], box[3] - box[1])));
  device_outline outline(curve, chain);

  auto draw = [&](auto& interp) {
    using interp_type = std::remove_reference_t<decltype(interp)>;
    agg::trans_affine shift = agg::trans_affine_translation(-ox, -oy);
    agg::conv_transform<device_outline> moved(outline, shift);
    mRas.reset();
    mRas.add_path(moved);
    auto run = [&](auto& gen) {
      offset_span<std::remove_reference_t<decltype(gen)>> placed{gen, ox, oy};
      agg::span_converter<decltype(placed), image_tint_converter> tinted(placed, tint);
      agg::render_scanlines_aa(mRas, mScanline, *base, mSpanAlloc, tinted);
    };
    switch (span) {
      case eImageSpan::nearest: {
        agg::span_image_filter_rgba_nn<accessor_type, interp_type> gen(accessor, interp);
        run(gen);
        break;
      }
      case eImageSpan::bilinear: {
        agg::span_image_filter_rgba_bilinear<accessor_type, interp_type> gen(accessor, interp);
        run(gen);
        break;
      }
      case eImageSpan::filter_2x2: {
        agg::span_image_filter_rgba_2x2<accessor_type, interp_type> gen(accessor, interp, mImageLut);
        run(gen);
        break;
      }
      case eImageSpan::resample_affine:
        if constexpr (std::is_same_v<interp_type, agg::span_interpolator_linear<>>) {
          agg::span_image_resample_rgba_affine<accessor_type> gen(accessor, interp, mImageLut);
          run(gen);
        }
        break;
      case eImageSpan::resample_perspective:
        if constexpr (std::is_same_v<interp_type, perspective_interpolator>) {
          agg::span_image_resample_rgba<accessor_type, interp_type> gen(accessor, interp, mImageLut);
          run(gen);
        }
        break;
      default: {
        agg::span_image_filter_rgba<accessor_type, interp_type> gen(accessor, interp, mImageLut);
        run(gen);
        break;
      }
    }
    if (mLayer == nullptr) EndDraw();  // 10. the clip pass has been used

    // 9. Hit test: the image's grey at its alpha, through the outline, in
    // the box of the outline on the update rectangle (a zoomed image would
    // otherwise grow the mask to its whole size).
    if (hit == nullptr) return;
    auto to_int = [](double v) { return int32_t(std::clamp(v, -2147483648.0, 2147483647.0)); };
    const int32_t hx1 = to_int(std::max(std::floor(box[0]), double(mUpdateRect.x1)));
    const int32_t hy1 = to_int(std::max(std::floor(box[1]), double(mUpdateRect.y1)));
    const int32_t hx2 = to_int(std::min(std::ceil(box[2]), double(mUpdateRect.x2)));
    const int32_t hy2 = to_int(std::min(std::ceil(box[3]), double(mUpdateRect.y2)));
    if (hx1 >= hx2 || hy1 >= hy2) return;
    if (!hit->Extend(hx1, hy1, hx2, hy2, 0, mUpdateRect, mOriginX, mOriginY)) return;
    agg::pixfmt_gray8* grey = hit->GreyAccessor();
    if (grey == nullptr) return;
    const int mx = hit->MaskOriginX(), my = hit->MaskOriginY();
    mRas.clip_box(0, 0, hit->MaskWidth(), hit->MaskHeight());
    agg::trans_affine to_mask = agg::trans_affine_translation(-mx, -my);
    agg::conv_transform<device_outline> in_mask(outline, to_mask);
    mRas.reset();
    mRas.add_path(in_mask);
    agg::renderer_base<agg::pixfmt_gray8> mask_base(*grey);
    const agg::rgba8 surround(0, 0, 0, 0);
    if (mMaster.anti_aliasing) {
      span_image_grey_bilinear_clip<interp_type> gen(source, interp, surround);
      offset_span<decltype(gen)> placed{gen, mx, my};
      agg::render_scanlines_aa(mRas, mScanline, mask_base, mGreyAlloc, placed);
    } else {
      span_image_grey_nn_clip<interp_type> gen(source, interp, surround);
      offset_span<decltype(gen)> placed{gen, mx, my};
      agg::render_scanlines_aa(mRas, mScanline, mask_base, mGreyAlloc, placed);
    }
    if (mClip.on && !mClip.mask_stale && mClipLayer != nullptr) hit->ClipToMask(*mClipMask.GreyAccessor());
    if (mLayer != nullptr)
      mRas.clip_box(0, 0, mLayer->Width(), mLayer->Height());
    else
      mRas.clip_box(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2, mUpdateRect.y2);
  };

  qlm_agg::distortion_dispatch dist = distortion;
  if (!perspective) {
    if (distorted) {
      qlm_agg::distortion_interpolator interp(inverse, dist);
      draw(interp);
    } else {
      agg::span_interpolator_linear<> interp(inverse);
      draw(interp);
    }
  } else if (distorted) {
    agg::span_interpolator_adaptor<perspective_interpolator, qlm_agg::distortion_dispatch> interp(persp, dist);
    draw(interp);
  } else {
    perspective_interpolator interp(persp);
    draw(interp);
  }
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

void cRendererSurface::DrawImage(cBase* image, bool flag, double x1, double y1, double x2, double y2,
                                 cHitTest* hit) {
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

void cRendererSurface::DrawImageRectInPathAt(cBase* image, cPath* path, double x, double y, int32_t sx1,
                                             int32_t sy1, int32_t sx2, int32_t sy2, bool flag, cHitTest* hit) {
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
