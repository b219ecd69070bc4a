// cRendererSurface: the renderer over a cSurface, drawing through AGG.
//
// The operations are declared family by family in the slot order of
// cRenderer; each family's behaviour lives in its own source file
// (qlm_renderer_engine_<family>.cpp).
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>

#include "qlm_agg_extensions.h"
#include "qlm_axis_box.h"
#include "qlm_bitmap.h"
#include "qlm_gradient_paint.h"
#include "qlm_path.h"
#include "qlm_path_group_entry.h"
#include "qlm_renderer.h"
#include "qlm_renderer_buffers.h"
#include "qlm_renderer_hittest.h"
#include "qlm_renderer_image.h"
#include "qlm_renderer_pen.h"
#include "qlm_renderer_state.h"
#include "qlm_renderer_surface.h"

// Test seam: false makes every image go through AGG's general filters, so
// that tests can compare the scaled bilinear filter with them; true (the
// default) restores it.
void image_scaled_bilinear_enable(bool on);

class cFontCacheManager;
namespace agg {
struct glyph_cache;
}

struct rSVGGradient;          // an SVG gradient definition (qlm_svg.h)
struct rSVGGradientGeometry;  // where a gradient lies on one record (qlm_renderer_engine_svg.cpp)

// One step of a drawing's mapping, prepared for speed: adjacent affine
// matrices (position, affine stages, device) are folded into one.
struct rChainOp {
  uint8_t kind = 0;  // 0 affine, 1 perspective, 2 bilinear, 3 warp magnifier
  agg::trans_affine affine;
  qlm_agg::perspective persp;
  agg::trans_bilinear bilinear;
  agg::trans_warp_magnifier warp;
};

// The whole mapping of a drawing as one AGG transformer: the position
// matrix, the stages of the list (when the pen works in device space) and
// the device matrix. Drawing chains are conv_transform<source,
// rTransformChain>, so rebuilding the pipeline is only preparing the steps.
struct rTransformChain {
  const rChainOp* ops = nullptr;
  size_t count = 0;
  // A chain of nothing but one affine step (the common case) keeps that step
  // here: the step loop stays out of line so that this path inlines into
  // the converters.
  bool only_affine = false;
  agg::trans_affine affine;
  void transform(double* x, double* y) const {
    if (only_affine)
      affine.transform(x, y);
    else
      transform_steps(x, y);
  }
  void transform_steps(double* x, double* y) const;
};

class cRendererSurface : public cRenderer {
 public:
  cRendererSurface();
  ~cRendererSurface() override;

  // --- Binding and capture ---------------------------------------------------
  bool AttachSurface(cSurface* surface) override;
  void DetachSurface() override;
  bool ResetState() override;
  void Clear(uint32_t color) override;
  bool SetCaptureGroup(cPathGroup* group, bool captureOnly) override;
  void ClearCaptureGroup() override;
  cPathGroup* GetCaptureGroup() override;
  bool IsCaptureOnly() override;

  // --- Transformations -------------------------------------------------------
  void SetViewport(uint8_t align, double wx1, double wy1, double wx2, double wy2, double dx1, double dy1, double dx2,
                   double dy2) override;
  void Translate(double dx, double dy) override;
  void Rotate(double angle) override;
  void Scale(double sx, double sy) override;
  void Skew(double x, double y) override;
  void Reflect(double x, double y) override;
  void AddPerspective(const double* quad, double x1, double y1, double x2, double y2) override;
  void AddBilinear(const double* quad, double x1, double y1, double x2, double y2) override;
  void AddWarpMagnifier(double cx, double cy, double magnification, double radius) override;
  void MultiplyMatrix(const rMatrix& matrix) override;
  void TransformPoint(double& x, double& y, bool all) override;
  void InverseTransformPoint(double& x, double& y, bool all) override;
  double TransformLength(double length) override;
  double InverseTransformLength(double length) override;
  void TransformPointNonLinear(double& x, double& y) override;
  void InverseTransformPointNonLinear(double& x, double& y) override;
  double TransformLengthNonLinear(double length) override;
  double InverseTransformLengthNonLinear(double length) override;
  bool IsTransformed() override;
  void ResetTransformations(bool reapply) override;
  void SetMatrix(const rMatrix& matrix, bool reapply) override;
  const rMatrix& GetMatrix() override;
  void TransformPointAffine(double& x, double& y) override;
  void InverseTransformPointAffine(double& x, double& y) override;
  double TransformLengthAffine(double length) override;
  double InverseTransformLengthAffine(double length) override;
  void ResetMatrix(bool reapply) override;

  // --- Clipping --------------------------------------------------------------
  void ClipRect(double x1, double y1, double x2, double y2) override;
  void ClipRectXYWH(double x, double y, double width, double height) override;
  void ClipEllipse(double cx, double cy, double rx, double ry) override;
  void ClipPath(cPath* path, double dx, double dy) override;
  void ClipPathGroup(cPathGroup* group, double dx, double dy) override;
  void SetClipEvenOdd(bool flag) override;
  bool IsClipEvenOdd() override;
  void SetClipInside(bool flag) override;
  bool IsClipInside() override;
  void SetClipSeparate(bool flag) override;
  bool IsClipSeparate() override;
  void ClearClipArea(uint32_t color) override;
  void GetClipBounds(rRectD& bounds) override;
  void ClipOn() override;
  void ClipOff() override;
  bool IsClipOn() override;
  void ResetClipping(bool writeBack) override;

  // --- Master and image parameters -------------------------------------------
  void SetRenderMode(uint8_t mode) override;
  void SetPenRenderMode(uint8_t mode) override;
  uint8_t GetPenRenderMode() override;
  void SetFillRenderMode(uint8_t mode) override;
  uint8_t GetFillRenderMode() override;
  void SetShadowRenderMode(uint8_t mode) override;
  uint8_t GetShadowRenderMode() override;
  void SetTextRenderMode(uint8_t mode) override;
  uint8_t GetTextRenderMode() override;
  uint32_t GetMasterColor() override;
  void SetMasterColor(uint32_t color) override;
  void ResetMasterColor(bool flag) override;
  void SetAntiAliasing(bool flag) override;
  bool IsAntiAliasing() override;
  void SetGamma(double gamma) override;
  double GetGamma() override;
  void SetMasterAlpha(uint32_t alpha) override;
  uint8_t GetMasterAlpha() override;
  void SetCulling(bool flag) override;
  bool IsCulling() override;
  void SetPixelSnap(double fx, double fy) override;
  double GetPixelSnapX() override;
  double GetPixelSnapY() override;
  bool IsPixelSnap() override;
  void PixelSnapOff() override;
  void SetCompOp(uint8_t op) override;
  uint8_t GetCompOp() override;
  bool IsCompOp() override;
  void ResetCompOp() override;
  bool SetFilterCallback(tRendererFilterCallback callback, int32_t margin, void* user) override;
  bool IsFilterCallback() override;
  bool FilterCallbackOn() override;
  void FilterCallbackOff() override;
  void ResetMaster(bool flag) override;
  void SetImageTintOp(uint8_t op) override;
  uint8_t GetImageTintOp() override;
  bool IsImageTint() override;
  void ImageTintOff() override;
  uint32_t GetImageTintColor() override;
  void SetImageTintColor(uint32_t color) override;
  void ResetImageTintColor(bool flag) override;
  void SetImageFilter(uint8_t filter) override;
  uint8_t GetImageFilter() override;
  void ResetImageParameters(bool flag) override;

  // --- Pen -------------------------------------------------------------------
  void PenSolid() override;
  bool IsPenSolid() override;
  void SetLineCap(uint8_t cap) override;
  uint8_t GetLineCap() override;
  void SetLineJoin(uint8_t join) override;
  uint8_t GetLineJoin() override;
  void SetMiterLimit(double limit) override;
  double GetMiterLimit() override;
  void SetPenWidth(double width) override;
  double GetPenWidth() override;
  void SetPenUnderFill(bool flag) override;
  bool IsPenUnderFill() override;
  void SetPenDeviceSpace(bool flag) override;
  bool IsPenDeviceSpace() override;
  void SetPenOutline(bool flag) override;
  bool IsPenOutline() override;
  void SetDistortPenGradient(bool flag) override;
  bool IsDistortPenGradient() override;
  void SetPenEvenOdd(bool flag) override;
  bool IsPenEvenOdd() override;
  uint32_t GetPenColor() override;
  void SetPenColor(uint32_t color) override;
  bool IsPenPlainColor() override;
  void ResetPenColor(bool flag) override;
  double GetAutoMarkerScale() override;
  void PenOn() override;
  void PenOff() override;
  bool IsPenOn() override;
  void ResetPen(bool flag) override;
  void SetDashStart(double start) override;
  void AddDash(double dash, double gap) override;
  void PenDashed() override;
  void PenDashOff() override;
  bool IsPenDashed() override;
  void ResetDash(bool flag) override;
  void SetPenPatternCallback(tRendererPatternCallback callback, void* user, double width, double height) override;
  void SetPenPatternBitmap(cBitmap* bitmap, double width, double height) override;
  double GetPenPatternWidth() override;
  double GetPenPatternHeight() override;
  double GetPenPatternScaledWidth() override;
  double GetPenPatternTileHeight() override;
  void SetPenPatternStart(double start) override;
  double GetPenPatternStart() override;
  void PenPatternFromColor() override;
  bool IsPenPattern() override;
  void ResetPenPattern(bool flag) override;
  void ReapplyPenGradient() override;
  void SetPenGradient(cGradient* gradient) override;
  cGradient* GetPenGradient() override;
  void ResetPenGradient(bool flag) override;

  // --- Markers ---------------------------------------------------------------
  void AddVertexMarkerCommand(uint8_t command, double x1, double y1, double x2, double y2, double x3,
                              double y3) override;
  uint32_t GetVertexMarkerColor() override;
  void SetVertexMarkerColor(uint32_t color) override;
  void ResetVertexMarkerColor(bool flag) override;
  void SetVertexMarkers(bool atFirst, bool atLast, bool oriented) override;
  bool IsVertexMarkerAtFirst() override;
  bool IsVertexMarkerAtLast() override;
  bool IsVertexMarkerOriented() override;
  void VertexMarkersOff() override;
  bool IsVertexMarkers() override;
  void ResetVertexMarkers(bool flag) override;
  void SetVertexMarkerScale(double scale) override;
  double GetVertexMarkerScale() override;
  void VertexMarkerScaleOff() override;
  bool IsVertexMarkerScale() override;
  void ResetVertexMarkerScale(bool flag) override;
  void AddEndMarkerCommand(uint8_t command, double x1, double y1, double x2, double y2, double x3, double y3) override;
  void EndMarkerOn() override;
  bool EndMarkerOff() override;
  bool IsEndMarker() override;
  void ResetEndMarker(bool flag) override;
  void AddStartMarkerCommand(uint8_t command, double x1, double y1, double x2, double y2, double x3,
                             double y3) override;
  void StartMarkerOn() override;
  bool StartMarkerOff() override;
  bool IsStartMarker() override;
  void ResetStartMarker(bool flag) override;
  void ResetMarkers(bool flag) override;
  void SetMarkerScale(double scale) override;
  double GetMarkerScale() override;
  void MarkerScaleOff() override;
  bool IsMarkerScale() override;
  void ResetMarkerScale(bool flag) override;

  // --- Fill ------------------------------------------------------------------
  void FillSolid() override;
  bool IsFillSolid() override;
  void SetFillEvenOdd(bool flag) override;
  bool IsFillEvenOdd() override;
  uint32_t GetFillColor() override;
  void SetFillColor(uint32_t color) override;
  void ResetFillColor(bool flag) override;
  void FillOn() override;
  void FillOff() override;
  bool IsFillOn() override;
  void ResetFill(bool flag) override;
  void SetFillPatternCallback(uint32_t width, uint32_t height, tRendererPatternCallback callback, void* user) override;
  void SetFillPatternBitmap(cBitmap* bitmap, int32_t width, int32_t height) override;
  int32_t GetFillPatternWidth() override;
  int32_t GetFillPatternHeight() override;
  void SetFillPatternOffset(int32_t x, int32_t y) override;
  int32_t GetFillPatternOffsetX() override;
  int32_t GetFillPatternOffsetY() override;
  void SetFillPatternWrap(uint8_t wrap) override;
  uint8_t GetFillPatternWrap() override;
  void SetFillPatternAbsolute(bool flag) override;
  bool IsFillPatternAbsolute() override;
  void FillPatternOn() override;
  bool IsFillPattern() override;
  void ResetFillPattern(bool flag) override;
  void ReapplyFillGradient() override;
  void SetFillGradient(cGradient* gradient) override;
  cGradient* GetFillGradient() override;
  void ResetFillGradient(bool flag) override;

  // --- Distortions -----------------------------------------------------------
  void WaveOn() override;
  uint8_t GetWaveMode() override;
  void WaveOff() override;
  void SwirlOn() override;
  uint8_t GetSwirlMode() override;
  void SwirlOff() override;
  void SetDistortionCenter(double x, double y) override;
  double GetDistortionCenterX() override;
  double GetDistortionCenterY() override;
  void SetDistortionPeriod(double period) override;
  double GetDistortionPeriod() override;
  void SetDistortionAmplitude(double amplitude) override;
  double GetDistortionAmplitude() override;
  void SetDistortionPhase(double phase) override;
  double GetDistortionPhase() override;
  void DistortionsOn() override;
  void DistortionsOff() override;
  bool IsDistortions() override;
  void ResetDistortions(bool flag) override;

  // --- Shadows ---------------------------------------------------------------
  void SetOffsetShadow(double distance) override;
  bool IsOffsetShadow() override;
  void SetPerspectiveShadow(double angle1, double length1, double angle2, double length2, double distance) override;
  bool IsPerspectiveShadow() override;
  void SetGrowShadow(double size) override;
  bool IsGrowShadow() override;
  void SetShadowDistance(double distance) override;
  double GetShadowDistance() override;
  double GetPerspectiveShadowAngle1() override;
  double GetPerspectiveShadowLength1() override;
  double GetPerspectiveShadowAngle2() override;
  double GetPerspectiveShadowLength2() override;
  void SetShadowDirection(uint8_t direction) override;
  uint8_t GetShadowDirection() override;
  void SetShadowBlurred(bool flag) override;
  bool IsShadowBlurred() override;
  void SetShadowBlur(double radius) override;
  double GetShadowBlur() override;
  void SetFillShadow(bool flag) override;
  bool IsFillShadow() override;
  uint32_t GetShadowColor() override;
  void SetShadowColor(uint32_t color) override;
  void ResetShadowColor(bool flag) override;
  void ShadowOn() override;
  void ShadowOff() override;
  void ResetShadow(bool flag) override;
  void SetShadowColorRamp(cGradientColorRamp* ramp) override;
  cGradientColorRamp* GetShadowColorRamp() override;
  void ClearShadowColorRamp() override;

  // --- Text parameters -------------------------------------------------------
  uint32_t GetTextColor() override;
  void SetTextColor(uint32_t color) override;
  void ResetTextColor(bool flag) override;
  void SetTextAlign(eAlign horizontal, eAlign vertical) override;
  eAlign GetTextAlignX() override;
  eAlign GetTextAlignY() override;
  void SetTextAngle(double angle) override;
  double GetTextAngle() override;
  void SetTextHinting(bool flag) override;
  bool GetTextHinting() override;
  void SetTextKerning(bool flag) override;
  bool GetTextKerning() override;
  uint32_t GetTextBackColor() override;
  void SetTextBackColor(uint32_t color) override;
  void TextBackOff() override;
  bool IsTextBack() override;
  void ResetTextBackColor(bool flag) override;
  void SetTextBackFitGlyphs(bool flag) override;
  bool IsTextBackFitGlyphs() override;
  void SetFont(cFont* font) override;
  cFont* GetFont() override;
  void SetUnderline(uint8_t kind, uint8_t style) override;
  uint8_t IsUnderline() override;
  void SetUnderlineStyle(uint8_t style) override;
  uint8_t GetUnderlineStyle() override;
  void SetUnderlinePosition(uint8_t position) override;
  uint8_t GetUnderlinePosition() override;
  void SetUnderlinePen(cPen* pen) override;
  void ClearUnderlinePen() override;
  cPen* GetUnderlinePen() override;
  void SetStrikeOut(uint8_t kind, uint8_t style) override;
  uint8_t IsStrikeOut() override;
  void SetStrikeOutStyle(uint8_t style) override;
  uint8_t GetStrikeOutStyle() override;
  void SetStrikeOutPosition(uint8_t position) override;
  uint8_t GetStrikeOutPosition() override;
  void SetStrikeOutPen(cPen* pen) override;
  void ClearStrikeOutPen() override;
  cPen* GetStrikeOutPen() override;
  void ResetText(bool flag) override;

  // --- Snapshots -------------------------------------------------------------
  void ResetAll() override;
  std::unique_ptr<cState> SaveState() override;
  void RestoreState(const cState* state) override;
  std::unique_ptr<cPen> GetPen() override;
  void SetPen(const cPen* pen, bool flag) override;
  std::unique_ptr<cFill> GetFill() override;
  void SetFill(const cFill* fill, bool flag) override;
  std::unique_ptr<cShadow> GetShadow() override;
  void SetShadow(const cShadow* shadow, bool flag) override;
  std::unique_ptr<cTransformations> GetTransformations() override;
  void SetTransformations(const cTransformations* transformations, bool flag) override;
  void AddTransformations(const cTransformations* transformations) override;
  std::unique_ptr<cClipping> GetClipping() override;
  void SetClipping(const cClipping* clipping, bool flag) override;
  std::unique_ptr<cMasterParameters> GetMasterParameters() override;
  void SetMasterParameters(const cMasterParameters* parameters, bool flag) override;
  std::unique_ptr<cBitmapParameters> GetBitmapParameters() override;
  void SetBitmapParameters(const cBitmapParameters* parameters, bool flag) override;
  std::unique_ptr<cTextParameters> GetTextParameters() override;
  void SetTextParameters(const cTextParameters* parameters, bool flag) override;

  // --- Primitives and paths --------------------------------------------------
  void DrawLine(cHitTest* hit, double x1, double y1, double x2, double y2) override;
  void DrawPolyline(const double* points, int32_t count, cHitTest* hit) override;
  void DrawPolygon(const double* points, int32_t count, cHitTest* hit) override;
  void DrawTriangle(cHitTest* hit, double x1, double y1, double x2, double y2, double x3, double y3) override;
  void DrawRegularPolygon(int32_t count, cHitTest* hit, double cx, double cy, double radius, double rotation) override;
  void DrawStar(int32_t count, cHitTest* hit, double cx, double cy, double r1, double r2, double rotation) override;
  void DrawBSpline(const double* points, int32_t count, bool closed, int32_t steps, cHitTest* hit) override;
  void DrawCurve3(cHitTest* hit, double x1, double y1, double cx, double cy, double x2, double y2) override;
  void DrawCurve4(cHitTest* hit, double x1, double y1, double cx1, double cy1, double cx2, double cy2, double x2,
                  double y2) override;
  void DrawRectangle(cHitTest* hit, double x1, double y1, double x2, double y2) override;
  void DrawRoundedRectangle(cHitTest* hit, double x1, double y1, double x2, double y2, double rx1, double ry1,
                            double rx2, double ry2, double rx3, double ry3, double rx4, double ry4) override;
  void DrawCircle(cHitTest* hit, double cx, double cy, double radius) override;
  void DrawEllipse(cHitTest* hit, double cx, double cy, double rx, double ry) override;
  void DrawArc(cHitTest* hit, double cx, double cy, double rx, double ry, double angle1, double angle2) override;
  void DrawChord(cHitTest* hit, double cx, double cy, double rx, double ry, double angle1, double angle2) override;
  void DrawPie(cHitTest* hit, double cx, double cy, double rx, double ry, double angle1, double angle2) override;
  void DrawSpiral(cHitTest* hit, double cx, double cy, double r1, double r2, double step, double startAngle) override;
  void DrawPath(cPath* path, cHitTest* hit, double x, double y) override;
  void DrawPathGroup(cPathGroup* group, cHitTest* hit, double x, double y) override;

  // --- Text ------------------------------------------------------------------
  void DrawText(const rTextView& text, double x, double y, cHitTest* hit) override;
  double TextWidth(const rTextView& text) override;
  void TextBounds(const rTextView& text, rRectD& bounds) override;
  void TextExtents(const rTextView& text, bool unrotated, double x, double y, rRectD& bounds) override;
  // clang-format off
  void DrawTextOnPath(cPath* path, const rTextView& text, bool baseLengthSet, double baseLength, bool stopAtEnd, bool preserveXScale, cHitTest* hit) override;
  void TextOnPathBounds(cPath* path, const rTextView& text, bool baseLengthSet, double baseLength, bool stopAtEnd, bool preserveXScale, rRectD& bounds) override;
  void DrawTextBetweenPaths(cPath* path1, cPath* path2, const rTextView& text, bool baseLengthSet, double baseLength, bool stopAtEnd, bool preserveXScale, cHitTest* hit) override;
  void TextBetweenPathsBounds(cPath* path1, cPath* path2, const rTextView& text, bool baseLengthSet, double baseLength, bool stopAtEnd, bool preserveXScale, rRectD& bounds) override;

  // --- Images ----------------------------------------------------------------
  void DrawImage(cBase* image, bool flag, double x1, double y1, double x2, double y2, cHitTest* hit) override;
  void DrawImageRect(cBase* image, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2, double x1, double y1, double x2, double y2, bool flag, cHitTest* hit) override;
  void DrawImageParallelogram(cBase* image, double x1, double y1, double x2, double y2, double x3, double y3, bool flag, cHitTest* hit) override;
  void DrawImageRectParallelogram(cBase* image, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2, double x1, double y1, double x2, double y2, double x3, double y3, bool flag, cHitTest* hit) override;
  // clang-format on
  void DrawImageInPath(cBase* image, cPath* path, bool flag, cHitTest* hit) override;
  void DrawImageInPathAt(cBase* image, cPath* path, double x, double y, bool flag, cHitTest* hit) override;
  void DrawImageRectInPath(cBase* image, cPath* path, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2, bool flag,
                           cHitTest* hit) override;
  void DrawImageRectInPathAt(cBase* image, cPath* path, double x, double y, int32_t sx1, int32_t sy1, int32_t sx2,
                             int32_t sy2, bool flag, cHitTest* hit) override;

  // --- SVG -------------------------------------------------------------------
  void DrawSVG(cImageSVG* drawing, const rMatrix* matrix, double x, double y, cHitTest* hit) override;
  void DrawSVGSized(cImageSVG* drawing, cHitTest* hit, double x, double y, double width, double height) override;
  void GetSVGBounds(cImageSVG* drawing, const rMatrix* matrix, double x, double y, uint8_t device,
                    rRectD& bounds) override;
  void GetSVGSizedBounds(cImageSVG* drawing, uint8_t device, double x, double y, double width, double height,
                         rRectD& bounds) override;

  // --- Override colour -------------------------------------------------------
  uint32_t GetOverrideColor() override;
  void SetOverrideColor(uint32_t color) override;
  void ResetOverrideColor(bool flag) override;

  // --- Gouraud meshes --------------------------------------------------------
  void DrawGouraudMesh(cBase* mesh, cHitTest* hit) override;
  void DrawGouraudMeshAt(cBase* mesh, cHitTest* hit, double x, double y) override;

 protected:
  // --- Binding ---------------------------------------------------------------
  // Surface bounds (0, 0, width, height), set at attach.
  double mBoundsX1 = 0;
  double mBoundsY1 = 0;
  double mBoundsX2 = 0;
  double mBoundsY2 = 0;

  // --- AGG machinery ---------------------------------------------------------
  // The main rasteriser, the clip-mask rasteriser and the second rasteriser
  // (shadow masks; same coverage and filling rule as the main one).
  qlm_agg::rasterizer mRas;
  qlm_agg::rasterizer mRasClip;
  qlm_agg::rasterizer mRas2;
  agg::scanline_u8 mScanline;
  agg::scanline_bin mScanlineBin;
  agg::span_allocator<agg::rgba8> mSpanAlloc;
  // Over the surface's straight (0) and pre-multiplied (4) accessors.
  qlm_agg::renderer_any mBase;
  qlm_agg::renderer_any mBasePre;
  agg::renderer_scanline_aa_solid<qlm_agg::renderer_any> mSolid;
  agg::renderer_scanline_bin_solid<qlm_agg::renderer_any> mSolidBin;
  // Over the clipping layer (bound by clipping); unbound at attach.
  qlm_agg::renderer_any mClipBase;
  qlm_agg::renderer_any mClipBasePre;
  bool mClipBuffersStale = true;

  // --- The render state ------------------------------------------------------
  MasterState mMaster;
  ImageState mImage;
  PenState mPen;
  FillState mFill;
  ShadowState mShadow;
  TextState mText;
  ClipState mClip;
  TransformState mTransform;
  agg::trans_affine mDevice;  // the device matrix (not part of the record)
  rgba8_buffer mFillTile;     // the fill-pattern tile
  rMatrix mMatrixCopy;        // what GetMatrix hands out

  // --- Derived from the master group ------------------------------------------
  qlm_agg::trans_pixel_snap mSnap;
  agg::image_filter_lut mImageLut;

  // Recomputes what follows from anti-aliasing, gamma and master alpha: the
  // coverage function of the main and second rasterisers and the alphas in
  // effect of the stored colours (not the master and override colours).
  void UpdateDerived();
  // Binds the main and clip-layer bases to the plain or custom-blend
  // accessors for the stored compositing operation.
  void ApplyCompOp();
  // The reset of the record at construction, in its fixed order.
  void ResetRecord();
  // The filling rule of the fill group handed to the main and second
  // rasterisers.
  void ApplyFillRule();

  // --- Transformations ---------------------------------------------------------
  // Multiplies an affine stage into the last stage when that is affine, or
  // appends it (rebuilding the pipeline); updates the approximation scales
  // when asked.
  void AddAffine(const agg::trans_affine& m, bool update_scales);
  // Appends a non-linear stage, rebuilds and updates.
  void AddStage(const rTransformStage& stage);
  // Maps a point through the list (non-linear stages when `all`) and the
  // device matrix (when `device`), or back in reverse order.
  void MapForward(double& x, double& y, bool list, bool all, bool device) const;
  void MapInverse(double& x, double& y, bool list, bool all, bool device) const;
  // |T(v, v) - T(0, 0)| x 0.7071068 for a point mapping T.
  template <class F>
  static double LengthMeasure(double v, F&& map) {
    double x0 = 0, y0 = 0, x1 = v, y1 = v;
    map(x0, y0);
    map(x1, y1);
    // The plain root is several times faster than hypot, which it equals
    // unless the squares overflow or lose their precision.
    const double dx = x1 - x0, dy = y1 - y0;
    double d = std::sqrt(dx * dx + dy * dy);
    if (!(d < 1e150 && d > 1e-150)) d = std::hypot(dx, dy);
    return d * 0.7071068;
  }
  // The length measure through the viewport and device matrices (clip
  // shapes follow only these).
  double TransformLengthForClip(double v) const;
  // Moves every vertex of a path through each stage of the list, in place.
  void TransformPathByList(agg::path_storage& path) const;
  // The chain of the current drawing (`list`: with the stages); valid until
  // the next call.
  rTransformChain Chain(bool list) const;
  mutable std::vector<rChainOp> mChainOps;
  // Recomputes the pipeline's flags from the list (the chains themselves are
  // built per draw from the stages).
  void RebuildPipeline();
  // Approximation scale of curves and strokes: TransformLength(1) x 2.
  void UpdateApproximation();

  agg::trans_affine mPosition;    // places the path being drawn
  double mDrawX = 0, mDrawY = 0;  // draw position
  double mPendingDX = 0, mPendingDY = 0;
  bool mNonLinear = false;
  double mApproxScale = 1.0;
  int64_t mRebuildCount = 0;  // counts for the tests of the folding rule
  int64_t mScaleUpdateCount = 0;

  // --- Hit testing -----------------------------------------------------------------
  // Registers one shape (path `path_id` of `source`) in the hit test: the
  // mask grows over its pixel box and its coverage is painted in the master
  // alpha; a stroke whose pen rule differs from the fill rule uses the pen's
  // for this pass; clipping applies as it does to drawing.
  template <class VertexSource>
  void RenderHitMask(VertexSource& source, unsigned path_id, cHitTest* hit, bool fill) {
    if (hit == nullptr) return;
    double bx1, by1, bx2, by2;
    if (!agg::bounding_rect_single(source, path_id, &bx1, &by1, &bx2, &by2)) return;
    if (!std::isfinite(bx1) || !std::isfinite(by1) || !std::isfinite(bx2) || !std::isfinite(by2)) return;
    auto to_int = [](double v) { return v < -2147483648.0 ? INT32_MIN : (v > 2147483647.0 ? INT32_MAX : int32_t(v)); };
    if (!hit->Extend(to_int(std::floor(bx1)), to_int(std::floor(by1)), to_int(std::ceil(bx2)), to_int(std::ceil(by2)),
                     0, mUpdateRect, mOriginX, mOriginY))
      return;
    agg::pixfmt_gray8* grey = hit->GreyAccessor();
    if (grey == nullptr) return;
    const bool scaled = mMaster.master_alpha != 255 || !float_equal(mMaster.gamma, 1.0);
    if (mRasterReusable && !scaled && mMaster.anti_aliasing) {
      // The main rasteriser still holds this shape's cells from painting it
      // (same rule, plain coverage): sweep them again into the mask.
      mRasterReusable = false;
      SweepIntoMask(*grey, hit->MaskOriginX(), hit->MaskOriginY());
      if (mClip.on && !mClip.mask_stale && mClipLayer != nullptr) hit->ClipToMask(*mClipMask.GreyAccessor());
      return;
    }
    mRasterReusable = false;
    mRas.clip_box(0, 0, hit->MaskWidth(), hit->MaskHeight());
    agg::trans_affine shift = agg::trans_affine_translation(-hit->MaskOriginX(), -hit->MaskOriginY());
    agg::conv_transform<VertexSource> moved(source, shift);
    const bool pen_rule = !fill && mPen.even_odd != mFill.even_odd;
    if (pen_rule) mRas.filling_rule(mPen.even_odd ? agg::fill_even_odd : agg::fill_non_zero);
    // Plain coverage for the mask: the master alpha enters once, as the
    // value painted, so a fully covered pixel holds the master alpha.
    if (scaled) mRas.gamma(agg::gamma_none());
    mRas.reset();
    mRas.add_path(moved, path_id);
    agg::renderer_base<agg::pixfmt_gray8> base(*grey);
    const agg::gray8 value(mMaster.master_alpha, 255);
    if (mMaster.anti_aliasing)
      agg::render_scanlines_aa_solid(mRas, mScanline, base, value);
    else
      agg::render_scanlines_bin_solid(mRas, mScanlineBin, base, value);
    if (pen_rule) ApplyFillRule();
    if (scaled) UpdateDerived();
    mRas.clip_box(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2, mUpdateRect.y2);
    if (mClip.on && !mClip.mask_stale && mClipLayer != nullptr) hit->ClipToMask(*mClipMask.GreyAccessor());
  }
  // Set by RenderSolid when the main rasteriser holds the painted shape's
  // cells in device pixels; any later use of the rasteriser clears it.
  bool mRasterReusable = false;
  // Sweeps the main rasteriser's cells into a mask whose (0, 0) is device
  // pixel (ox, oy), in the master alpha, clipped to the mask.
  void SweepIntoMask(agg::pixfmt_gray8& mask, int32_t ox, int32_t oy);
  // The object as a hit test, or nil.
  static cHitTest* AsHitTest(cBase* object) {
    return object_identify(object, id_cHitTest) ? static_cast<cHitTest*>(object) : nullptr;
  }

  // --- Drawing core ------------------------------------------------------------------
  // The path the next RenderPath draws and its draw position: when (x, y) is
  // not (0, 0) the path is moved so that the lowest corner of its bounding
  // box lies there. The path stays the caller's.
  void SetCurrentPath(agg::path_storage* path, double x, double y);
  // Paints the current path: mode 1 fill, 2 stroke, 3 both; `draw` false
  // makes only the shadow and the hit masks; `fillColour` (or nil) replaces
  // the fill paint. Raises nothing; hostile geometry draws nothing.
  void RenderPath(uint8_t mode, cHitTest* hit, bool draw, bool shadow, const rStoredColor* fillColour);
  // RenderPath's first steps: an interrupted call's filter layer dropped,
  // false when there is nothing to draw or the path was only captured into
  // a group; then the path to draw (the moved and mapped copy when `copy`).
  bool StartRenderPath(uint8_t mode);
  // A filter layer left open by an interrupted call, dropped with the
  // rasteriser's clip box back on the update rectangle.
  void DropInterruptedLayer();
  agg::path_storage* PathToDraw(bool copy);
  // RenderPath's painters over the pipelines it built (rPathPipes, in the
  // drawing core's source): PaintPath chooses them from the group pass, the
  // mode, the kinds and the render modes.
  struct rPathPipes;
  void PaintPath(rPathPipes& p, const rStoredColor* fillColour);
  void PaintFillOnly(rPathPipes& p, const rStoredColor* fillColour);
  void PaintFill(rPathPipes& p);
  void PaintStroke(rPathPipes& p);
  void PaintStartEndMarkers(rPathPipes& p);
  void PaintVertexMarkers(rPathPipes& p);
  void PaintInterior(rPathPipes& p);
  void PaintSolidFill(rPathPipes& p, const agg::rgba8& c);
  void PaintPatternFill(rPathPipes& p);
  void PaintGradientFill(rPathPipes& p);
  void PaintSolidStroke(rPathPipes& p);
  void PaintPenPattern(rPathPipes& p);
  template <class VertexSource>
  void PaintOutlines(rPathPipes& p, VertexSource& source, const agg::rgba8& c, bool of_stroke, bool withStroke,
                     bool withFill, bool withMarkers);
  bool BeforePenPainter(rPathPipes& p, bool withStroke, bool withFill, bool withMarkers);
  void CastPathShadow(rPathPipes& p, bool withStroke, bool withFill, bool withMarkers);
  void OpenPathLayer(rPathPipes& p);
  void GenerateStroke(rPathPipes& p);
  bool PathDrawingBox(rPathPipes& p, double* r);
  // The path's drawing box lies outside the bounds (culling on, no group
  // pass, no perspective shadow).
  bool CullsPath(rPathPipes& p);
  // Culling: true when a shape whose drawing box is `box` (device space)
  // paints nothing within the bounds, widened by what the pen pattern
  // (`pen_pattern`) and the shadow may add. A perspective shadow is never
  // culled.
  bool CullsDrawingBox(const double* box, bool pen_pattern);
  // DrawRectangle's fill alone painted without RenderPath's pipelines; false
  // leaves the call to RenderPath.
  bool FillRectangleDirect(cHitTest* hit, double x1, double y1, double x2, double y2);
  // The per-primitive filter layer (open between the two calls).
  bool BeginFilterLayer(const double* rect);
  void EndFilterLayer();
  bool FilterLayerOpen() const { return mLayer != nullptr; }
  // One vertex source painted in one colour into the layer, the clip layer
  // or the surface; a stroke (`fill` false) uses the pen's filling rule.
  template <class VertexSource>
  void RenderSolid(VertexSource& source, bool fill, const agg::rgba8& colour, unsigned path_id);
  // Paints an axis-aligned rectangle fill in one colour as boxes of rows.
  void PaintSolidBox(const rAxisBox& box, const agg::rgba8& colour);
  // The fill pattern through the rasterised source; `bounds` are the
  // current path's own (unmoved, unmapped) bounds.
  template <class VertexSource>
  void RenderPatternFill(VertexSource& source, const double* bounds, unsigned path_id);
  // The hit mask of a source, keeping an open layer's clip box.
  template <class VertexSource>
  void LayerSafeHitMask(VertexSource& source, cHitTest* hit, bool fill);
  // Paints a Gouraud mesh (a cGouraudMesh, else nothing), placed with its
  // box corner at (x, y) when asked.
  void RenderGouraudMesh(cBase* mesh, bool placeAt, double x, double y);
  // The primitives' common end: the scratch path drawn in the mode.
  void DrawScratch(uint8_t mode, cHitTest* hit);
  // An arc's approximation scale: `base` held so that an arc of the radius
  // makes at most about a million vertices.
  static double ArcScale(double base, double radius);
  // The arc of DrawArc, DrawChord and DrawPie in the scratch path; false
  // (and an empty path) for coordinates that are not finite.
  bool BuildArc(double cx, double cy, double rx, double ry, double angle1, double angle2, double scale);
  // Counts painters that ran (solid, pattern), for the culling tests.
  int64_t mPaintCount = 0;

  agg::path_storage* mCurrentPath = nullptr;
  double mCurrentX = 0, mCurrentY = 0;
  cPath mScratch;                        // where primitives build their path
  agg::path_storage mScratchStroke;      // the moved and mapped copy (pen device space off)
  std::unique_ptr<cBitmap> mLayer;       // the filter layer, px32BGRA
  std::unique_ptr<cBitmap> mLayerSpare;  // the last layer given back, used again at its size
  agg::rendering_buffer mLayerBuf;
  int32_t mLayerX = 0, mLayerY = 0;  // its device origin

  // --- Text drawing ------------------------------------------------------------------
  // The settings of path text: one path (path2 nil) or two.
  struct rTextPathArgs {
    cPath* path1 = nullptr;
    cPath* path2 = nullptr;
    bool base_length_set = false;
    double base_length = 0;
    bool stop_at_end = false;
    bool preserve_x_scale = true;
  };
  // The text engine: the text at (x, y) with the text settings, or along
  // the path(s) of `paths` (then x and y are 0). Each glyph, the background
  // box and the underline and strike-out lines are primitives of their own.
  void RenderText(const rTextView& text, double x, double y, const rTextPathArgs* paths, cHitTest* hit);
  // The same over one string kind's feed (qlm_renderer_engine_textdraw.cpp).
  template <class Feed>
  void RenderTextFeed(const Feed& feed, double x, double y, const rTextPathArgs* paths, cHitTest* hit);
  // RenderTextFeed's steps over one text's state (rTextRun, in the text
  // drawing's source): the glyph box, the placement and the mapping along
  // the path(s) or the turn (false: nothing to draw); the run length; the
  // background box; the pieces of underline and strike-out; the shadow
  // pass and the shape pass, each drawing the underline, the glyphs (from
  // kept coverage, or each outline through RenderPath) and the strike-out.
  struct rTextRun;
  template <class Feed>
  bool PlaceText(rTextRun& t, const Feed& feed, double x, double y, const rTextPathArgs* paths);
  template <class Feed>
  void TextRunLength(rTextRun& t, const Feed& feed);
  void TextBackground(const rTextRun& t);
  template <class Feed>
  void TextLinePieces(rTextRun& t, const Feed& feed);
  template <class Feed>
  void TextPasses(rTextRun& t, const Feed& feed, cHitTest* hit);
  template <class Feed>
  void TextPass(rTextRun& t, const Feed& feed, cHitTest* hit, bool draw, bool shadow);
  void TextLines(const rTextRun& t, bool strike_out, cHitTest* hit, bool draw, bool shadow);
  template <class Feed>
  void TextGlyphsKept(rTextRun& t, const Feed& feed, double dx, double dy);
  template <class Feed>
  void TextGlyphOutlines(rTextRun& t, const Feed& feed, cHitTest* hit, bool draw, bool shadow);
  // The bounds of path text, in the paths' coordinates; all zero when
  // nothing would be drawn.
  void TextPathBounds(const rTextView& text, const rTextPathArgs& paths, rRectD& bounds);
  // Fills a path with one colour through the transformations and pixel
  // snapping, without culling, layer, shadow, hit test or capture (the
  // background box of a text).
  void FillSolidOnly(agg::path_storage& path, const agg::rgba8& colour);
  // Strokes the lines in the scratch path as a pen-only primitive, with
  // `pen` in place of the current pen when it is set.
  void DrawTextLines(const cPen* pen, cHitTest* hit, bool draw, bool shadow);
  // Solid text that nothing turns, maps, shades, registers or records (the
  // common case of every label) is painted from kept coverage: each glyph's
  // outline is rasterised once per font, glyph and sub-pixel phase of its
  // pen position, and its covers are painted at the pen's whole-pixel
  // offset. The coverage is the outline painter's own (the same outline,
  // curves and rasteriser, moved by whole pixels). GlyphCoverageFits tells
  // whether the text at device offset (dx, dy) may go that way.
  //
  // What is painted is bounded by the drawing's clip box: a glyph that
  // cannot reach it is skipped before anything else. A glyph too large to
  // keep, or one that reaches over the edge of the rasteriser's clip box
  // (the update rectangle), is rasterised where it is drawn, cut by that box
  // as the outline painter cuts it, each time it is drawn.
  struct rGlyphCoverage;
  struct rGlyphRun;
  bool GlyphCoverageFits(cHitTest* hit, double& dx, double& dy);
  // Sets a run of glyphs up: the kept coverage of the cache's font, the
  // target and its clip box, the colour. GlyphCoverageEnd closes the run.
  void GlyphCoverageBegin(cFontCacheManager& cache, const agg::rgba8& colour, rGlyphRun& run);
  void GlyphCoverageEnd(rGlyphRun& run);
  // Paints the glyph whose origin is at page (x, y), at device (x + dx,
  // y + dy), from kept coverage.
  void PaintGlyphCoverage(rGlyphRun& run, cFontCacheManager& cache, const agg::glyph_cache* glyph, double x, double y,
                          double dx, double dy);
  // The outline painter's culling of glyphs: the device box beyond which a
  // glyph of straight or turned text can neither paint nor register in a
  // hit test, and the mapping from page to device; false when glyphs are
  // not culled one by one (records, shadows, render modes with a pen, a
  // mapping that is not affine).
  bool TextCullBox(const agg::trans_affine* turn, agg::trans_affine& map, double* box);
  struct rGlyphCoverageFree {
    void operator()(rGlyphCoverage* kept) const;
  };
  std::unique_ptr<rGlyphCoverage, rGlyphCoverageFree> mGlyphCoverage;

  // --- Fill ------------------------------------------------------------------------
  // The renderer that draws pattern tiles (made on first use).
  std::unique_ptr<cRendererSurface> mNested;
  // The distortion of gradient and image spans for the fill group in force.
  qlm_agg::distortion_dispatch Distortion() const;

  // --- Images ----------------------------------------------------------------------
  // Draws a bitmap's source rectangle (sx1, sy1)-(sx2, sy2) onto the
  // parallelogram of `corners` (x0, y0, x1, y1, x2, y2: the source's top-left,
  // top-right and bottom-right), clipped by the current path, into the open
  // filter layer or the surface, and registers it in the hit test. A nil
  // bitmap, a source or parallelogram of no area, or hostile geometry draw
  // nothing.
  void RenderImage(cBitmap* bitmap, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2, const double* corners,
                   bool premultiplied, cHitTest* hit);
  // RenderImage's steps over one image's state (rImagePass, in the images'
  // source): the source rectangle and the drawable device area (false:
  // nothing to draw); the bitmap loaded; the mapping from device to source
  // pixels (false: none usable); the span generator and tint; the target
  // (false: none); the image painted through the outline; its hit mask.
  struct rImagePass;
  bool ImageArea(rImagePass& p);
  bool ImageSource(rImagePass& p);
  bool ImageMapping(rImagePass& p);
  void ImageGenerator(rImagePass& p);
  bool ImageTarget(rImagePass& p);
  template <class Interpolator, class Outline>
  void PaintImage(rImagePass& p, Interpolator& interp, Outline& outline);
  template <class Interpolator, class Outline>
  void ImageHitMask(rImagePass& p, Interpolator& interp, Outline& outline);
  // The image operations' common end: the scratch path is the outline; a
  // filter layer is opened around it while the filter callback is on.
  void DrawImageScratch(cBase* image, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2, const double* corners,
                        bool premultiplied, cHitTest* hit);
  // The current path's vertices through the drawing chain (device pixels):
  // their box, false for an empty path or hostile coordinates.
  bool ImageOutlineBox(double* box);
  rgba8_buffer mImageBuffer;                     // the bitmap being drawn, as RGBA
  agg::span_allocator<agg::gray8> mGreyAlloc;    // image spans into hit masks
  eImageSpan mLastImageSpan = eImageSpan::none;  // the generator of the last image drawn

  // --- Gradients -----------------------------------------------------------------
  // The gradient painter of fills (`fill` true) and pens: `outline` (device
  // space) is painted with the fill or pen gradient; `frame` is the same
  // shape before the drawing chain, whose box is a relative gradient's
  // frame; `chain` carries the frame's corners as it carries the outline.
  // Paints nothing when anything it needs is missing.
  template <class Outline, class FrameSource>
  void RenderGradientSpans(Outline& outline, FrameSource& frame, bool fill, unsigned path_id,
                           const rTransformChain& chain);
  rGradientPaint mGradientPaint;  // the paint of the current call
  // Prepares mGradientPaint; `box` is the frame's box or nil (the surface).
  // False when nothing is to be painted.
  bool PrepareGradientPaint(bool fill, const double* box, const rTransformChain& chain);
  // Renders the rasterised shape with the prepared paint into `base`, or
  // into the filter layer when `base` is nil; with `box`, that rectangle
  // instead of the rasteriser's cells.
  void RenderGradientPaint(qlm_agg::renderer_any* base, const rAxisBox* box = nullptr);
  // Rasterises `outline` (device space) and paints it with the prepared
  // paint into the layer or the surface; `pen_rule`: under the pen's own
  // filling rule.
  template <class Outline>
  void PaintGradientShape(Outline& outline, unsigned path_id, bool pen_rule);

  // --- Pen and markers -------------------------------------------------------------
  // The active stroke converter as the outline painter sees it: it gets a
  // temporary width while outlines are made and `width` back afterwards.
  struct rWidthHook {
    void* obj = nullptr;
    void (*set)(void*, double) = nullptr;
    double width = 0;
  };
  // Draws `source` (device pixels, path `pathId`) as thin lines into the
  // layer, the clip layer or the surface, in `colour` with its alpha times
  // the master alpha: anti-aliased through renderer_outline_aa with the
  // width-1 profile, else aliased. With `hit` the same lines go into its
  // mask. `width` (or nil) is the stroke converter behind `source`.
  void RenderOutlines(rVertexSourceRef source, const agg::rgba8& colour, unsigned pathId, cHitTest* hit,
                      const rWidthHook* width);
  // Lays the pen pattern along `source` (the path itself, device pixels).
  void RenderPenPattern(rVertexSourceRef source, cHitTest* hit);
  // Vertex markers at the own vertices of `path` (control points skipped),
  // each shape placed and then mapped through `chain`.
  void RenderVertexMarkers(agg::path_storage& path, const rTransformChain& chain, cHitTest* hit, bool draw);
  void PlaceVertexMarker(int& counter, bool isLast, double x1, double y1, double x2, double y2,
                         const rTransformChain& chain, cHitTest* hit, bool draw);
  // Appends a marker command, its coordinates scaled as the list's scale
  // flag says; commands that are unknown, not finite or too large, and
  // lists at their limit, take nothing.
  void AddMarkerCommand(cCustomPath& list, bool scaleOn, double scale, uint8_t command, const double* xy);
  // |P(v, v) - P(0, 0)| x 0.7071068 through every stage and the matrix.
  double TransformLengthFull(double v) const;
  // Makes tile pixels the pen pattern (kind 3) or leaves the pen off.
  void StorePenPattern(std::vector<uint8_t>&& pixels, int32_t w, int32_t h, double width, double height, double scale);
  void PenPatternFailed();
  // AGG's line patterns, rebuilt from the pen's tile pixels when they or
  // the anti-aliasing setting change (qlm_renderer_engine_pen.cpp).
  struct rPenPatterns;
  struct rPenPatternsFree {
    void operator()(rPenPatterns* p) const;
  };
  std::unique_ptr<rPenPatterns, rPenPatternsFree> mPenPatterns;
  // Counts pen-pattern builds, for the tests.
  int64_t mPenPatternBuilds = 0;

  // --- Clipping ------------------------------------------------------------------
  // Starts a clip pass: the mask from the clip shapes and a copy of the
  // surface in the layer. Drawing engines call it while clip on and mask out
  // of date are both true.
  void BuildClipMask();
  // Ends a clip pass: the layer goes back into the surface through the mask.
  void WriteBackClip();
  // The base every drawing goes through: the clip layer's during a clip
  // pass, else the surface's. Call BeginDraw first and EndDraw after.
  qlm_agg::renderer_any& BeginDraw();
  void EndDraw();
  bool ClipPassActive() const { return mClip.on && mClipLayer != nullptr && !mClipBuffersStale; }

  gray8_buffer mClipMask;               // one byte per surface pixel
  uint8_t* mClipLayer = nullptr;        // allocated width x height x 4 bytes
  agg::rendering_buffer mClipLayerBuf;  // pitch: allocated width x bytes per pixel
  int32_t mClipAllocW = 0, mClipAllocH = 0;
  int32_t mClipStoredW = 0, mClipStoredH = 0;
  bool mWriteBackPending = false;
  int32_t mClipBox[4] = {0, 0, 0, 0};  // device pixels copied in and written back
  void FreeClipBuffers();

  // --- Path groups, capture and shadows ------------------------------------------
  // The shadow reads the drawing core's pipelines through the pen painters'
  // type-erased vertex source, whatever their types.
  using rVertexRef = rVertexSourceRef;
  // The width of a stroke converter (outline shadows widen it for a moment).
  struct rStrokerRef {
    void* obj = nullptr;
    double (*get_fn)(const void*) = nullptr;
    void (*set_fn)(void*, double) = nullptr;
    template <class S>
    static rStrokerRef Of(S& s) {
      return {&s, [](const void* o) { return static_cast<const S*>(o)->width(); },
              [](void* o, double w) { static_cast<S*>(o)->width(w); }};
    }
  };
  // What one shape gives the shadow: its stroke outline, fill outline and
  // start/end marker shapes before the mapping, the stroke converter, and
  // the chain that maps them (position, stages when the pen works in device
  // space, device matrix).
  struct rShadowSources {
    rVertexRef stroke;
    rVertexRef fill;
    rVertexRef markers;
    rStrokerRef stroker;
    rTransformChain chain;
  };
  // The passes of DrawPathGroup run through RenderPath with one of these
  // set: no capture, no culling, no filter layer; the stroke pass paints
  // only the stroke block, the marker pass only the start/end markers, the
  // hit pass only the interior registration.
  enum : uint8_t { kGroupNone = 0, kGroupFill, kGroupStroke, kGroupMarkers, kGroupHit };
  uint8_t mGroupPass = kGroupNone;
  // With the pen outside device space: the selected entry's replay copy,
  // already moved and mapped (RenderPath then maps it by the device matrix
  // only); nil otherwise.
  agg::path_storage* mGroupSource = nullptr;
  cPathGroup* mCaptureGroup = nullptr;
  bool mCaptureOnly = false;
  // Records the current path into the capture group (RenderPath step 3).
  void CaptureCurrentPath(uint8_t mode);
  // Makes an entry the current path, placed by its replay offset.
  void SelectGroupEntry(rPathGroupEntry* entry);
  // The stroke pass of DrawPathGroup: every entry with mode 2 or 3, then
  // their start and end markers.
  void RenderGroupStrokes(cPathGroup* group, cHitTest* hit);

  // The shadow of the current shape (RenderPath calls it through its
  // pipelines) and of a whole path group.
  void RenderShadow(bool withStroke, bool withFill, bool withMarkers, rShadowSources& sources);
  void RenderGroupShadow(cPathGroup* group);
  // The flags reduced to what is really painted (false: nothing is).
  bool ReduceShadowFlags(bool& withStroke, bool& withFill, bool& withMarkers) const;
  // The steps both share: `each` hands every shape's sources (and the parts,
  // 1 stroke, 2 fill, 4 markers, it may add) to its argument; `bounds`
  // (x1, y1, x2, y2, or nil) place the perspective and grow shadows.
  using tShadowVisit = std::function<void(rShadowSources&, uint8_t)>;
  using tShadowShapes = std::function<void(const tShadowVisit&)>;
  void RenderShadowCore(bool withStroke, bool withFill, bool withMarkers, const double* bounds,
                        const tShadowShapes& each);
  // RenderShadowCore's steps over one shadow's state (rShadowPass, in the
  // shadows' source): the shadow transformation; the parts' pixel box
  // through it (false: nothing to draw); the mask's area, the mask made
  // (false: nothing reaches the surface); the parts drawn into the mask,
  // each part filled, as outlines or as the pen's pattern line; the blur,
  // the colour and the blend.
  struct rShadowPass;
  void ShadowTransform(rShadowPass& p, const double* bounds);
  bool ShadowPartsBox(rShadowPass& p, const tShadowShapes& each);
  bool ShadowMaskArea(rShadowPass& p);
  void DrawShadowParts(rShadowPass& p, const tShadowShapes& each);
  void ShadowFillPart(rShadowPass& p, rVertexRef& ref, const rTransformChain& chain, bool pen_rule);
  void ShadowOutlinePart(rShadowPass& p, rVertexRef& ref, const rTransformChain& chain, rStrokerRef* stroker);
  void ShadowPatternPart(rShadowPass& p, rVertexRef& ref, const rTransformChain& chain);
  void BlendShadow(rShadowPass& p);
  // Fills the 256-entry colour table: the first `n` colours from a ramp's
  // table, the rest in the shadow colour; the alpha of entry i is 4i up to
  // 63 and 255 from 64 on. False when the table cannot be made.
  bool BuildShadowLut(const agg::rgba8* colours, size_t n);
  // The shadow's own mask (made on first use), its colour table (made by
  // the first SetShadowColorRamp) and the box of the last shadow drawn
  // (device pixels), for the tests.
  std::unique_ptr<gray8_buffer> mShadowMask;
  std::unique_ptr<agg::rgba8[]> mShadowLut;
  int32_t mShadowBox[4] = {0, 0, 0, 0};
  int64_t mShadowCount = 0;

  // --- SVG drawings --------------------------------------------------------------------
  // Prepares mGradientPaint for an SVG gradient definition painted on one
  // record: `chain` maps the record's path coordinates (its transform, the
  // placement, the list and the device matrix) to device space. False when
  // nothing is to be painted; `solid` then holds the colour to paint instead
  // when `use_solid` is set (a gradient without length or radius).
  bool PrepareSVGGradient(rSVGGradient* gradient, const rSVGGradientGeometry& geometry, const rTransformChain& chain,
                          bool& use_solid, agg::rgba8& solid);
  // DrawSVG's steps over what its paints share (rSVGDraw, in the SVG
  // drawing's source): the scale of the list and the device matrix, one
  // record's fill or stroke painted, and its hit registration.
  struct rSVGDraw;
  double SVGListScale() const;
  template <class Source>
  void PaintSVGShape(rSVGDraw& d, Source& source, rSVGGradient* gradient, const agg::rgba8& colour);
  template <class Source>
  void RegisterSVGHit(const rSVGDraw& d, Source& source);
  // The corners of the drawing's box as GetSVGBounds maps them; false for a
  // nil or unopened drawing.
  bool SVGCorners(cImageSVG* drawing, const rMatrix* matrix, double x, double y, bool device, double* q);
  // The matrix of DrawSVGSized; false at natural size (or nil drawing).
  static bool SVGSizedMatrix(cImageSVG* drawing, double& width, double& height, rMatrix& matrix);
};
