// cRenderer: the drawing interface of the whole system. An abstract class
// with one virtual operation per slot, in slot order, family by family; the
// behaviour of each family lives with its implementation in
// cRendererSurface. Beside the virtual operations stand the non-virtual
// conveniences: framework-colour forms of the colour setters, rounded
// rectangles, and the update rectangle and device origin, which are fixed
// while a surface is attached. The text operations take every string kind
// through rTextView's conversions (full strings: rTextView::Full).
//
// Colours are renderer colours (red in bits 0-7 ... alpha in bits 24-31);
// the ...ARGB helpers take the framework's 0xAARRGGBB. Angles are degrees
// except skew angles (radians). Arguments are typed: a hit test is a
// cHitTest or nil; images (a cBitmap or a cImage) and Gouraud meshes are
// tested with Identify.
//
// Ownership: the renderer keeps but never frees the surfaces, fonts,
// gradients, pens, hit tests, path groups, bitmaps, drawings and callbacks
// it is given; the snapshots it makes belong to the caller.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "qlm_base_object.h"
#include "qlm_base_util.h"
#include "qlm_renderer_types.h"

class cSurface;
class cBitmap;
class cImageSVG;
class cHitTest;
class cPath;
class cPathGroup;
class cFont;
class cGradient;
class cGradientColorRamp;
class cPen;
class cFill;
class cShadow;
class cState;
class cTransformations;
class cClipping;
class cMasterParameters;
class cBitmapParameters;
class cTextParameters;

// A new renderer (the one implementation, over AGG); the caller frees it.
// Nil when memory fails.
cRenderer* renderer_create();

class cRenderer : public cException {
 public:
  cRenderer() = default;
  ~cRenderer() override = default;

  // --- Binding and capture ---------------------------------------------------
  virtual bool AttachSurface(cSurface* surface) = 0;
  virtual void DetachSurface() = 0;
  virtual bool ResetState() = 0;
  virtual void Clear(uint32_t color) = 0;
  virtual bool SetCaptureGroup(cPathGroup* group, bool captureOnly) = 0;
  virtual void ClearCaptureGroup() = 0;
  virtual cPathGroup* GetCaptureGroup() = 0;
  virtual bool IsCaptureOnly() = 0;

  // --- Transformations -------------------------------------------------------
  virtual void SetViewport(uint8_t align, double wx1, double wy1, double wx2, double wy2, double dx1, double dy1,
                           double dx2, double dy2) = 0;
  virtual void Translate(double dx, double dy) = 0;
  virtual void Rotate(double angle) = 0;
  virtual void Scale(double sx, double sy) = 0;
  virtual void Skew(double x, double y) = 0;
  virtual void Reflect(double x, double y) = 0;
  virtual void AddPerspective(const double* quad, double x1, double y1, double x2, double y2) = 0;
  virtual void AddBilinear(const double* quad, double x1, double y1, double x2, double y2) = 0;
  virtual void AddWarpMagnifier(double cx, double cy, double magnification, double radius) = 0;
  virtual void MultiplyMatrix(const rMatrix& matrix) = 0;
  virtual void TransformPoint(double& x, double& y, bool all) = 0;
  virtual void InverseTransformPoint(double& x, double& y, bool all) = 0;
  virtual double TransformLength(double length) = 0;
  virtual double InverseTransformLength(double length) = 0;
  virtual void TransformPointNonLinear(double& x, double& y) = 0;
  virtual void InverseTransformPointNonLinear(double& x, double& y) = 0;
  virtual double TransformLengthNonLinear(double length) = 0;
  virtual double InverseTransformLengthNonLinear(double length) = 0;
  virtual bool IsTransformed() = 0;
  virtual void ResetTransformations(bool reapply) = 0;
  virtual void SetMatrix(const rMatrix& matrix, bool reapply) = 0;
  virtual const rMatrix& GetMatrix() = 0;
  virtual void TransformPointAffine(double& x, double& y) = 0;
  virtual void InverseTransformPointAffine(double& x, double& y) = 0;
  virtual double TransformLengthAffine(double length) = 0;
  virtual double InverseTransformLengthAffine(double length) = 0;
  virtual void ResetMatrix(bool reapply) = 0;

  // --- Clipping --------------------------------------------------------------
  virtual void ClipRect(double x1, double y1, double x2, double y2) = 0;
  virtual void ClipRectXYWH(double x, double y, double width, double height) = 0;
  virtual void ClipEllipse(double cx, double cy, double rx, double ry) = 0;
  virtual void ClipPath(cPath* path, double dx, double dy) = 0;
  virtual void ClipPathGroup(cPathGroup* group, double dx, double dy) = 0;
  virtual void SetClipEvenOdd(bool flag) = 0;
  virtual bool IsClipEvenOdd() = 0;
  virtual void SetClipInside(bool flag) = 0;
  virtual bool IsClipInside() = 0;
  virtual void SetClipSeparate(bool flag) = 0;
  virtual bool IsClipSeparate() = 0;
  virtual void ClearClipArea(uint32_t color) = 0;
  virtual void GetClipBounds(rRectD& bounds) = 0;
  virtual void ClipOn() = 0;
  virtual void ClipOff() = 0;
  virtual bool IsClipOn() = 0;
  virtual void ResetClipping(bool writeBack) = 0;

  // --- Master and image parameters -------------------------------------------
  virtual void SetRenderMode(uint8_t mode) = 0;
  virtual void SetPenRenderMode(uint8_t mode) = 0;
  virtual uint8_t GetPenRenderMode() = 0;
  virtual void SetFillRenderMode(uint8_t mode) = 0;
  virtual uint8_t GetFillRenderMode() = 0;
  virtual void SetShadowRenderMode(uint8_t mode) = 0;
  virtual uint8_t GetShadowRenderMode() = 0;
  virtual void SetTextRenderMode(uint8_t mode) = 0;
  virtual uint8_t GetTextRenderMode() = 0;
  virtual uint32_t GetMasterColor() = 0;
  virtual void SetMasterColor(uint32_t color) = 0;
  virtual void ResetMasterColor(bool flag) = 0;
  virtual void SetAntiAliasing(bool flag) = 0;
  virtual bool IsAntiAliasing() = 0;
  virtual void SetGamma(double gamma) = 0;
  virtual double GetGamma() = 0;
  virtual void SetMasterAlpha(uint32_t alpha) = 0;
  virtual uint8_t GetMasterAlpha() = 0;
  virtual void SetCulling(bool flag) = 0;
  virtual bool IsCulling() = 0;
  virtual void SetPixelSnap(double fx, double fy) = 0;
  virtual double GetPixelSnapX() = 0;
  virtual double GetPixelSnapY() = 0;
  virtual bool IsPixelSnap() = 0;
  virtual void PixelSnapOff() = 0;
  virtual void SetCompOp(uint8_t op) = 0;
  virtual uint8_t GetCompOp() = 0;
  virtual bool IsCompOp() = 0;
  virtual void ResetCompOp() = 0;
  virtual bool SetFilterCallback(tRendererFilterCallback callback, int32_t margin, void* user) = 0;
  virtual bool IsFilterCallback() = 0;
  virtual bool FilterCallbackOn() = 0;
  virtual void FilterCallbackOff() = 0;
  virtual void ResetMaster(bool flag) = 0;
  virtual void SetImageTintOp(uint8_t op) = 0;
  virtual uint8_t GetImageTintOp() = 0;
  virtual bool IsImageTint() = 0;
  virtual void ImageTintOff() = 0;
  virtual uint32_t GetImageTintColor() = 0;
  virtual void SetImageTintColor(uint32_t color) = 0;
  virtual void ResetImageTintColor(bool flag) = 0;
  virtual void SetImageFilter(uint8_t filter) = 0;
  virtual uint8_t GetImageFilter() = 0;
  virtual void ResetImageParameters(bool flag) = 0;

  // --- Pen -------------------------------------------------------------------
  virtual void PenSolid() = 0;
  virtual bool IsPenSolid() = 0;
  virtual void SetLineCap(uint8_t cap) = 0;
  virtual uint8_t GetLineCap() = 0;
  virtual void SetLineJoin(uint8_t join) = 0;
  virtual uint8_t GetLineJoin() = 0;
  virtual void SetMiterLimit(double limit) = 0;
  virtual double GetMiterLimit() = 0;
  virtual void SetPenWidth(double width) = 0;
  virtual double GetPenWidth() = 0;
  virtual void SetPenUnderFill(bool flag) = 0;
  virtual bool IsPenUnderFill() = 0;
  virtual void SetPenDeviceSpace(bool flag) = 0;
  virtual bool IsPenDeviceSpace() = 0;
  virtual void SetPenOutline(bool flag) = 0;
  virtual bool IsPenOutline() = 0;
  virtual void SetDistortPenGradient(bool flag) = 0;
  virtual bool IsDistortPenGradient() = 0;
  virtual void SetPenEvenOdd(bool flag) = 0;
  virtual bool IsPenEvenOdd() = 0;
  virtual uint32_t GetPenColor() = 0;
  virtual void SetPenColor(uint32_t color) = 0;
  virtual bool IsPenPlainColor() = 0;
  virtual void ResetPenColor(bool flag) = 0;
  virtual double GetAutoMarkerScale() = 0;
  virtual void PenOn() = 0;
  virtual void PenOff() = 0;
  virtual bool IsPenOn() = 0;
  virtual void ResetPen(bool flag) = 0;
  virtual void SetDashStart(double start) = 0;
  virtual void AddDash(double dash, double gap) = 0;
  virtual void PenDashed() = 0;
  virtual void PenDashOff() = 0;
  virtual bool IsPenDashed() = 0;
  virtual void ResetDash(bool flag) = 0;
  virtual void SetPenPatternCallback(tRendererPatternCallback callback, void* user, double width, double height) = 0;
  virtual void SetPenPatternBitmap(cBitmap* bitmap, double width, double height) = 0;
  virtual double GetPenPatternWidth() = 0;
  virtual double GetPenPatternHeight() = 0;
  virtual double GetPenPatternScaledWidth() = 0;
  virtual double GetPenPatternTileHeight() = 0;
  virtual void SetPenPatternStart(double start) = 0;
  virtual double GetPenPatternStart() = 0;
  virtual void PenPatternFromColor() = 0;
  virtual bool IsPenPattern() = 0;
  virtual void ResetPenPattern(bool flag) = 0;
  virtual void ReapplyPenGradient() = 0;
  virtual void SetPenGradient(cGradient* gradient) = 0;
  virtual cGradient* GetPenGradient() = 0;
  virtual void ResetPenGradient(bool flag) = 0;

  // --- Markers ---------------------------------------------------------------
  virtual void AddVertexMarkerCommand(uint8_t command, double x1, double y1, double x2, double y2, double x3,
                                      double y3) = 0;
  virtual uint32_t GetVertexMarkerColor() = 0;
  virtual void SetVertexMarkerColor(uint32_t color) = 0;
  virtual void ResetVertexMarkerColor(bool flag) = 0;
  virtual void SetVertexMarkers(bool atFirst, bool atLast, bool oriented) = 0;
  virtual bool IsVertexMarkerAtFirst() = 0;
  virtual bool IsVertexMarkerAtLast() = 0;
  virtual bool IsVertexMarkerOriented() = 0;
  virtual void VertexMarkersOff() = 0;
  virtual bool IsVertexMarkers() = 0;
  virtual void ResetVertexMarkers(bool flag) = 0;
  virtual void SetVertexMarkerScale(double scale) = 0;
  virtual double GetVertexMarkerScale() = 0;
  virtual void VertexMarkerScaleOff() = 0;
  virtual bool IsVertexMarkerScale() = 0;
  virtual void ResetVertexMarkerScale(bool flag) = 0;
  virtual void AddEndMarkerCommand(uint8_t command, double x1, double y1, double x2, double y2, double x3,
                                   double y3) = 0;
  virtual void EndMarkerOn() = 0;
  virtual bool EndMarkerOff() = 0;
  virtual bool IsEndMarker() = 0;
  virtual void ResetEndMarker(bool flag) = 0;
  virtual void AddStartMarkerCommand(uint8_t command, double x1, double y1, double x2, double y2, double x3,
                                     double y3) = 0;
  virtual void StartMarkerOn() = 0;
  virtual bool StartMarkerOff() = 0;
  virtual bool IsStartMarker() = 0;
  virtual void ResetStartMarker(bool flag) = 0;
  virtual void ResetMarkers(bool flag) = 0;
  virtual void SetMarkerScale(double scale) = 0;
  virtual double GetMarkerScale() = 0;
  virtual void MarkerScaleOff() = 0;
  virtual bool IsMarkerScale() = 0;
  virtual void ResetMarkerScale(bool flag) = 0;

  // --- Fill ------------------------------------------------------------------
  virtual void FillSolid() = 0;
  virtual bool IsFillSolid() = 0;
  virtual void SetFillEvenOdd(bool flag) = 0;
  virtual bool IsFillEvenOdd() = 0;
  virtual uint32_t GetFillColor() = 0;
  virtual void SetFillColor(uint32_t color) = 0;
  virtual void ResetFillColor(bool flag) = 0;
  virtual void FillOn() = 0;
  virtual void FillOff() = 0;
  virtual bool IsFillOn() = 0;
  virtual void ResetFill(bool flag) = 0;
  virtual void SetFillPatternCallback(uint32_t width, uint32_t height, tRendererPatternCallback callback,
                                      void* user) = 0;
  virtual void SetFillPatternBitmap(cBitmap* bitmap, int32_t width, int32_t height) = 0;
  virtual int32_t GetFillPatternWidth() = 0;
  virtual int32_t GetFillPatternHeight() = 0;
  virtual void SetFillPatternOffset(int32_t x, int32_t y) = 0;
  virtual int32_t GetFillPatternOffsetX() = 0;
  virtual int32_t GetFillPatternOffsetY() = 0;
  virtual void SetFillPatternWrap(uint8_t wrap) = 0;
  virtual uint8_t GetFillPatternWrap() = 0;
  virtual void SetFillPatternAbsolute(bool flag) = 0;
  virtual bool IsFillPatternAbsolute() = 0;
  virtual void FillPatternOn() = 0;
  virtual bool IsFillPattern() = 0;
  virtual void ResetFillPattern(bool flag) = 0;
  virtual void ReapplyFillGradient() = 0;
  virtual void SetFillGradient(cGradient* gradient) = 0;
  virtual cGradient* GetFillGradient() = 0;
  virtual void ResetFillGradient(bool flag) = 0;

  // --- Distortions -----------------------------------------------------------
  virtual void WaveOn() = 0;
  virtual uint8_t GetWaveMode() = 0;
  virtual void WaveOff() = 0;
  virtual void SwirlOn() = 0;
  virtual uint8_t GetSwirlMode() = 0;
  virtual void SwirlOff() = 0;
  virtual void SetDistortionCenter(double x, double y) = 0;
  virtual double GetDistortionCenterX() = 0;
  virtual double GetDistortionCenterY() = 0;
  virtual void SetDistortionPeriod(double period) = 0;
  virtual double GetDistortionPeriod() = 0;
  virtual void SetDistortionAmplitude(double amplitude) = 0;
  virtual double GetDistortionAmplitude() = 0;
  virtual void SetDistortionPhase(double phase) = 0;
  virtual double GetDistortionPhase() = 0;
  virtual void DistortionsOn() = 0;
  virtual void DistortionsOff() = 0;
  virtual bool IsDistortions() = 0;
  virtual void ResetDistortions(bool flag) = 0;

  // --- Shadows ---------------------------------------------------------------
  virtual void SetOffsetShadow(double distance) = 0;
  virtual bool IsOffsetShadow() = 0;
  virtual void SetPerspectiveShadow(double angle1, double length1, double angle2, double length2, double distance) = 0;
  virtual bool IsPerspectiveShadow() = 0;
  virtual void SetGrowShadow(double size) = 0;
  virtual bool IsGrowShadow() = 0;
  virtual void SetShadowDistance(double distance) = 0;
  virtual double GetShadowDistance() = 0;
  virtual double GetPerspectiveShadowAngle1() = 0;
  virtual double GetPerspectiveShadowLength1() = 0;
  virtual double GetPerspectiveShadowAngle2() = 0;
  virtual double GetPerspectiveShadowLength2() = 0;
  virtual void SetShadowDirection(uint8_t direction) = 0;
  virtual uint8_t GetShadowDirection() = 0;
  virtual void SetShadowBlurred(bool flag) = 0;
  virtual bool IsShadowBlurred() = 0;
  virtual void SetShadowBlur(double radius) = 0;
  virtual double GetShadowBlur() = 0;
  virtual void SetFillShadow(bool flag) = 0;
  virtual bool IsFillShadow() = 0;
  virtual uint32_t GetShadowColor() = 0;
  virtual void SetShadowColor(uint32_t color) = 0;
  virtual void ResetShadowColor(bool flag) = 0;
  virtual void ShadowOn() = 0;
  virtual void ShadowOff() = 0;
  virtual void ResetShadow(bool flag) = 0;
  virtual void SetShadowColorRamp(cGradientColorRamp* ramp) = 0;
  virtual cGradientColorRamp* GetShadowColorRamp() = 0;
  virtual void ClearShadowColorRamp() = 0;

  // --- Text parameters -------------------------------------------------------
  virtual uint32_t GetTextColor() = 0;
  virtual void SetTextColor(uint32_t color) = 0;
  virtual void ResetTextColor(bool flag) = 0;
  virtual void SetTextAlign(eAlign horizontal, eAlign vertical) = 0;
  virtual eAlign GetTextAlignX() = 0;
  virtual eAlign GetTextAlignY() = 0;
  virtual void SetTextAngle(double angle) = 0;
  virtual double GetTextAngle() = 0;
  virtual void SetTextHinting(bool flag) = 0;
  virtual bool GetTextHinting() = 0;
  virtual void SetTextKerning(bool flag) = 0;
  virtual bool GetTextKerning() = 0;
  virtual uint32_t GetTextBackColor() = 0;
  virtual void SetTextBackColor(uint32_t color) = 0;
  virtual void TextBackOff() = 0;
  virtual bool IsTextBack() = 0;
  virtual void ResetTextBackColor(bool flag) = 0;
  virtual void SetTextBackFitGlyphs(bool flag) = 0;
  virtual bool IsTextBackFitGlyphs() = 0;
  virtual void SetFont(cFont* font) = 0;
  virtual cFont* GetFont() = 0;
  virtual void SetUnderline(uint8_t kind, uint8_t style) = 0;
  virtual uint8_t IsUnderline() = 0;
  virtual void SetUnderlineStyle(uint8_t style) = 0;
  virtual uint8_t GetUnderlineStyle() = 0;
  virtual void SetUnderlinePosition(uint8_t position) = 0;
  virtual uint8_t GetUnderlinePosition() = 0;
  virtual void SetUnderlinePen(cPen* pen) = 0;
  virtual void ClearUnderlinePen() = 0;
  virtual cPen* GetUnderlinePen() = 0;
  virtual void SetStrikeOut(uint8_t kind, uint8_t style) = 0;
  virtual uint8_t IsStrikeOut() = 0;
  virtual void SetStrikeOutStyle(uint8_t style) = 0;
  virtual uint8_t GetStrikeOutStyle() = 0;
  virtual void SetStrikeOutPosition(uint8_t position) = 0;
  virtual uint8_t GetStrikeOutPosition() = 0;
  virtual void SetStrikeOutPen(cPen* pen) = 0;
  virtual void ClearStrikeOutPen() = 0;
  virtual cPen* GetStrikeOutPen() = 0;
  virtual void ResetText(bool flag) = 0;

  // --- Snapshots -------------------------------------------------------------
  virtual void ResetAll() = 0;
  virtual std::unique_ptr<cState> SaveState() = 0;
  virtual void RestoreState(const cState* state) = 0;
  virtual std::unique_ptr<cPen> GetPen() = 0;
  virtual void SetPen(const cPen* pen, bool flag) = 0;
  virtual std::unique_ptr<cFill> GetFill() = 0;
  virtual void SetFill(const cFill* fill, bool flag) = 0;
  virtual std::unique_ptr<cShadow> GetShadow() = 0;
  virtual void SetShadow(const cShadow* shadow, bool flag) = 0;
  virtual std::unique_ptr<cTransformations> GetTransformations() = 0;
  virtual void SetTransformations(const cTransformations* transformations, bool flag) = 0;
  virtual void AddTransformations(const cTransformations* transformations) = 0;
  virtual std::unique_ptr<cClipping> GetClipping() = 0;
  virtual void SetClipping(const cClipping* clipping, bool flag) = 0;
  virtual std::unique_ptr<cMasterParameters> GetMasterParameters() = 0;
  virtual void SetMasterParameters(const cMasterParameters* parameters, bool flag) = 0;
  virtual std::unique_ptr<cBitmapParameters> GetBitmapParameters() = 0;
  virtual void SetBitmapParameters(const cBitmapParameters* parameters, bool flag) = 0;
  virtual std::unique_ptr<cTextParameters> GetTextParameters() = 0;
  virtual void SetTextParameters(const cTextParameters* parameters, bool flag) = 0;

  // --- Primitives and paths --------------------------------------------------
  virtual void DrawLine(cHitTest* hit, double x1, double y1, double x2, double y2) = 0;
  virtual void DrawPolyline(const double* points, int32_t count, cHitTest* hit) = 0;
  virtual void DrawPolygon(const double* points, int32_t count, cHitTest* hit) = 0;
  virtual void DrawTriangle(cHitTest* hit, double x1, double y1, double x2, double y2, double x3, double y3) = 0;
  virtual void DrawRegularPolygon(int32_t count, cHitTest* hit, double cx, double cy, double radius,
                                  double rotation) = 0;
  virtual void DrawStar(int32_t count, cHitTest* hit, double cx, double cy, double r1, double r2, double rotation) = 0;
  virtual void DrawBSpline(const double* points, int32_t count, bool closed, int32_t steps, cHitTest* hit) = 0;
  virtual void DrawCurve3(cHitTest* hit, double x1, double y1, double cx, double cy, double x2, double y2) = 0;
  virtual void DrawCurve4(cHitTest* hit, double x1, double y1, double cx1, double cy1, double cx2, double cy2,
                          double x2, double y2) = 0;
  virtual void DrawRectangle(cHitTest* hit, double x1, double y1, double x2, double y2) = 0;
  virtual void DrawRoundedRectangle(cHitTest* hit, double x1, double y1, double x2, double y2, double rx1, double ry1,
                                    double rx2, double ry2, double rx3, double ry3, double rx4, double ry4) = 0;
  virtual void DrawCircle(cHitTest* hit, double cx, double cy, double radius) = 0;
  virtual void DrawEllipse(cHitTest* hit, double cx, double cy, double rx, double ry) = 0;
  virtual void DrawArc(cHitTest* hit, double cx, double cy, double rx, double ry, double angle1, double angle2) = 0;
  virtual void DrawChord(cHitTest* hit, double cx, double cy, double rx, double ry, double angle1, double angle2) = 0;
  virtual void DrawPie(cHitTest* hit, double cx, double cy, double rx, double ry, double angle1, double angle2) = 0;
  virtual void DrawSpiral(cHitTest* hit, double cx, double cy, double r1, double r2, double step,
                          double startAngle) = 0;
  virtual void DrawPath(cPath* path, cHitTest* hit, double x, double y) = 0;
  virtual void DrawPathGroup(cPathGroup* group, cHitTest* hit, double x, double y) = 0;

  // --- Text ------------------------------------------------------------------
  virtual void DrawText(const rTextView& text, double x, double y, cHitTest* hit) = 0;
  virtual double TextWidth(const rTextView& text) = 0;
  virtual void TextBounds(const rTextView& text, rRectD& bounds) = 0;
  virtual void TextExtents(const rTextView& text, bool unrotated, double x, double y, rRectD& bounds) = 0;
  // clang-format off
  virtual void DrawTextOnPath(cPath* path, const rTextView& text, bool baseLengthSet, double baseLength, bool stopAtEnd, bool preserveXScale, cHitTest* hit) = 0;
  virtual void TextOnPathBounds(cPath* path, const rTextView& text, bool baseLengthSet, double baseLength, bool stopAtEnd, bool preserveXScale, rRectD& bounds) = 0;
  virtual void DrawTextBetweenPaths(cPath* path1, cPath* path2, const rTextView& text, bool baseLengthSet, double baseLength, bool stopAtEnd, bool preserveXScale, cHitTest* hit) = 0;
  virtual void TextBetweenPathsBounds(cPath* path1, cPath* path2, const rTextView& text, bool baseLengthSet, double baseLength, bool stopAtEnd, bool preserveXScale, rRectD& bounds) = 0;

  // --- Images ----------------------------------------------------------------
  virtual void DrawImage(cBase* image, bool flag, double x1, double y1, double x2, double y2, cHitTest* hit) = 0;
  virtual void DrawImageRect(cBase* image, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2, double x1, double y1, double x2, double y2, bool flag, cHitTest* hit) = 0;
  virtual void DrawImageParallelogram(cBase* image, double x1, double y1, double x2, double y2, double x3, double y3, bool flag, cHitTest* hit) = 0;
  virtual void DrawImageRectParallelogram(cBase* image, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2, double x1, double y1, double x2, double y2, double x3, double y3, bool flag, cHitTest* hit) = 0;
  // clang-format on
  virtual void DrawImageInPath(cBase* image, cPath* path, bool flag, cHitTest* hit) = 0;
  virtual void DrawImageInPathAt(cBase* image, cPath* path, double x, double y, bool flag, cHitTest* hit) = 0;
  virtual void DrawImageRectInPath(cBase* image, cPath* path, int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2,
                                   bool flag, cHitTest* hit) = 0;
  virtual void DrawImageRectInPathAt(cBase* image, cPath* path, double x, double y, int32_t sx1, int32_t sy1,
                                     int32_t sx2, int32_t sy2, bool flag, cHitTest* hit) = 0;

  // --- SVG -------------------------------------------------------------------
  virtual void DrawSVG(cImageSVG* drawing, const rMatrix* matrix, double x, double y, cHitTest* hit) = 0;
  virtual void DrawSVGSized(cImageSVG* drawing, cHitTest* hit, double x, double y, double width, double height) = 0;
  virtual void GetSVGBounds(cImageSVG* drawing, const rMatrix* matrix, double x, double y, uint8_t device,
                            rRectD& bounds) = 0;
  virtual void GetSVGSizedBounds(cImageSVG* drawing, uint8_t device, double x, double y, double width, double height,
                                 rRectD& bounds) = 0;

  // --- Override colour -------------------------------------------------------
  virtual uint32_t GetOverrideColor() = 0;
  virtual void SetOverrideColor(uint32_t color) = 0;
  virtual void ResetOverrideColor(bool flag) = 0;

  // --- Gouraud meshes --------------------------------------------------------
  virtual void DrawGouraudMesh(cBase* mesh, cHitTest* hit) = 0;
  virtual void DrawGouraudMeshAt(cBase* mesh, cHitTest* hit, double x, double y) = 0;

  // --- Non-virtual conveniences --------------------------------------------
  void ClearARGB(uint32_t argb) { Clear(renderer_color_from_argb(argb)); }
  void ClearRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a) { Clear(renderer_color(r, g, b, a)); }
  int32_t GetWidth() const;
  int32_t GetHeight() const;
  bool IsAttached() const { return mAttached; }
  cSurface* Surface() const { return mSurface; }
  // Update rectangle and origin: ignored while a surface is attached.
  void SetUpdateRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  bool IsUpdateRectSet() const { return mUpdateRectSet; }
  rRect GetUpdateRect() const { return mUpdateRect; }
  void SetOrigin(int32_t x, int32_t y);
  void GetOrigin(int32_t& x, int32_t& y) const {
    x = mOriginX;
    y = mOriginY;
  }
  bool IsOriginSet() const { return mOriginSet; }
  void ClearOrigin();

  void SetPenColorARGB(uint32_t argb) { SetPenColor(renderer_color_from_argb(argb)); }
  void SetFillColorARGB(uint32_t argb) { SetFillColor(renderer_color_from_argb(argb)); }
  void SetShadowColorARGB(uint32_t argb) { SetShadowColor(renderer_color_from_argb(argb)); }
  void SetTextColorARGB(uint32_t argb) { SetTextColor(renderer_color_from_argb(argb)); }
  void SetTextBackColorARGB(uint32_t argb) { SetTextBackColor(renderer_color_from_argb(argb)); }
  // The framework colour's red, green and blue with the given alpha.
  void SetPenColorRGB(uint32_t argb, uint8_t alpha) {
    SetPenColor((renderer_color_from_argb(argb) & 0x00FFFFFFu) | uint32_t(alpha) << 24);
  }
  void SetFillColorRGB(uint32_t argb, uint8_t alpha) {
    SetFillColor((renderer_color_from_argb(argb) & 0x00FFFFFFu) | uint32_t(alpha) << 24);
  }
  void SetPenColorRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a) { SetPenColor(renderer_color(r, g, b, a)); }
  void SetFillColorRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a) { SetFillColor(renderer_color(r, g, b, a)); }
  void SetShadowColorRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a) { SetShadowColor(renderer_color(r, g, b, a)); }
  // Opacity 0..1 as master alpha trunc(opacity x 255 + 0.5); the opacity is
  // first held to 0..1 (NaN: 0), so a negative one cannot become opaque.
  void SetMasterOpacity(double opacity);

  void DrawRoundRect(cHitTest* hit, double x1, double y1, double x2, double y2, double r) {
    DrawRoundedRectangle(hit, x1, y1, x2, y2, r, r, r, r, r, r, r, r);
  }
  void DrawRoundRectXYWH(cHitTest* hit, double x, double y, double width, double height, double r) {
    DrawRoundRect(hit, x, y, x + width, y + height, r);
  }
  void DrawRoundRectElliptic(cHitTest* hit, double x1, double y1, double x2, double y2, double rx, double ry) {
    DrawRoundedRectangle(hit, x1, y1, x2, y2, rx, ry, rx, ry, rx, ry, rx, ry);
  }
  // (rx2, ry2) at the two corners of the smaller-y edge, (rx1, ry1) at the
  // larger-y edge. The corners run (x1, y1), (x2, y1), (x2, y2), (x1, y2).
  void DrawRoundRectTopBottom(cHitTest* hit, double x1, double y1, double x2, double y2, double rx1, double ry1,
                              double rx2, double ry2);
  void DrawImageXYWH(cBase* image, double x, double y, double width, double height, bool flag, cHitTest* hit) {
    DrawImage(image, flag, x, y, x + width, y + height, hit);
  }

 protected:
  bool mAttached = false;
  cSurface* mSurface = nullptr;
  rRect mUpdateRect;
  bool mUpdateRectSet = false;
  int32_t mOriginX = 0;
  int32_t mOriginY = 0;
  bool mOriginSet = false;
};
