// Operations of the families still to be built: they do nothing and answer
// neutral values. Each moves to its family's source file when that family
// is built.
#include "qlm_renderer_engine.h"
#include "qlm_renderer_state.h"

// --- Binding and capture -----------------------------------------------------
bool cRendererSurface::SetCaptureGroup(cPathGroup*, bool) { return false; }
void cRendererSurface::ClearCaptureGroup() {}
cPathGroup* cRendererSurface::GetCaptureGroup() { return nullptr; }
bool cRendererSurface::IsCaptureOnly() { return false; }

// --- Transformations ---------------------------------------------------------
void cRendererSurface::SetViewport(uint8_t, double, double, double, double, double, double, double, double) {}
void cRendererSurface::Translate(double, double) {}
void cRendererSurface::Rotate(double) {}
void cRendererSurface::Scale(double, double) {}
void cRendererSurface::Skew(double, double) {}
void cRendererSurface::Reflect(double, double) {}
void cRendererSurface::AddPerspective(const double*, double, double, double, double) {}
void cRendererSurface::AddBilinear(const double*, double, double, double, double) {}
void cRendererSurface::AddWarpMagnifier(double, double, double, double) {}
void cRendererSurface::MultiplyMatrix(const rMatrix&) {}
void cRendererSurface::TransformPoint(double&, double&, bool) {}
void cRendererSurface::InverseTransformPoint(double&, double&, bool) {}
double cRendererSurface::TransformLength(double length) { return length; }
double cRendererSurface::InverseTransformLength(double length) { return length; }
void cRendererSurface::TransformPointNonLinear(double&, double&) {}
void cRendererSurface::InverseTransformPointNonLinear(double&, double&) {}
double cRendererSurface::TransformLengthNonLinear(double length) { return length; }
double cRendererSurface::InverseTransformLengthNonLinear(double length) { return length; }
bool cRendererSurface::IsTransformed() { return false; }
void cRendererSurface::ResetTransformations(bool) {}
void cRendererSurface::SetMatrix(const rMatrix&, bool) {}
void cRendererSurface::TransformPointAffine(double&, double&) {}
void cRendererSurface::InverseTransformPointAffine(double&, double&) {}
double cRendererSurface::TransformLengthAffine(double length) { return length; }
double cRendererSurface::InverseTransformLengthAffine(double length) { return length; }
void cRendererSurface::ResetMatrix(bool) {}

// --- Clipping ----------------------------------------------------------------
void cRendererSurface::ClipRect(double, double, double, double) {}
void cRendererSurface::ClipRectXYWH(double, double, double, double) {}
void cRendererSurface::ClipEllipse(double, double, double, double) {}
void cRendererSurface::ClipPath(cPath*, double, double) {}
void cRendererSurface::ClipPathGroup(cPathGroup*, double, double) {}
void cRendererSurface::SetClipEvenOdd(bool) {}
bool cRendererSurface::IsClipEvenOdd() { return false; }
void cRendererSurface::SetClipInside(bool) {}
bool cRendererSurface::IsClipInside() { return true; }
void cRendererSurface::SetClipSeparate(bool) {}
bool cRendererSurface::IsClipSeparate() { return false; }
void cRendererSurface::ClearClipArea(uint32_t) {}
void cRendererSurface::GetClipBounds(rRectD&) {}
void cRendererSurface::ClipOn() {}
void cRendererSurface::ClipOff() {}
bool cRendererSurface::IsClipOn() { return false; }
void cRendererSurface::ResetClipping(bool) {}

// --- Master and image parameters ---------------------------------------------
void cRendererSurface::SetRenderMode(uint8_t) {}
void cRendererSurface::SetPenRenderMode(uint8_t) {}
uint8_t cRendererSurface::GetPenRenderMode() { return 1; }
void cRendererSurface::SetFillRenderMode(uint8_t) {}
uint8_t cRendererSurface::GetFillRenderMode() { return 1; }
void cRendererSurface::SetShadowRenderMode(uint8_t) {}
uint8_t cRendererSurface::GetShadowRenderMode() { return 1; }
void cRendererSurface::SetTextRenderMode(uint8_t) {}
uint8_t cRendererSurface::GetTextRenderMode() { return 1; }
uint32_t cRendererSurface::GetMasterColor() { return 0; }
void cRendererSurface::SetMasterColor(uint32_t) {}
void cRendererSurface::ResetMasterColor(bool) {}
void cRendererSurface::SetAntiAliasing(bool) {}
bool cRendererSurface::IsAntiAliasing() { return true; }
void cRendererSurface::SetGamma(double) {}
double cRendererSurface::GetGamma() { return 1.0; }
void cRendererSurface::SetMasterAlpha(uint32_t) {}
uint8_t cRendererSurface::GetMasterAlpha() { return 255; }
void cRendererSurface::SetCulling(bool) {}
bool cRendererSurface::IsCulling() { return false; }
void cRendererSurface::SetPixelSnap(double, double) {}
double cRendererSurface::GetPixelSnapX() { return -1.0; }
double cRendererSurface::GetPixelSnapY() { return -1.0; }
bool cRendererSurface::IsPixelSnap() { return false; }
void cRendererSurface::PixelSnapOff() {}
void cRendererSurface::SetCompOp(uint8_t) {}
uint8_t cRendererSurface::GetCompOp() { return 0; }
bool cRendererSurface::IsCompOp() { return false; }
void cRendererSurface::ResetCompOp() {}
bool cRendererSurface::SetFilterCallback(tRendererFilterCallback, int32_t, void*) { return false; }
bool cRendererSurface::IsFilterCallback() { return false; }
bool cRendererSurface::FilterCallbackOn() { return false; }
void cRendererSurface::FilterCallbackOff() {}
void cRendererSurface::ResetMaster(bool) {}
void cRendererSurface::SetImageTintOp(uint8_t) {}
uint8_t cRendererSurface::GetImageTintOp() { return 0; }
bool cRendererSurface::IsImageTint() { return false; }
void cRendererSurface::ImageTintOff() {}
uint32_t cRendererSurface::GetImageTintColor() { return 0; }
void cRendererSurface::SetImageTintColor(uint32_t) {}
void cRendererSurface::ResetImageTintColor(bool) {}
void cRendererSurface::SetImageFilter(uint8_t) {}
uint8_t cRendererSurface::GetImageFilter() { return 1; }
void cRendererSurface::ResetImageParameters(bool) {}

// --- Pen ---------------------------------------------------------------------
void cRendererSurface::PenSolid() {}
bool cRendererSurface::IsPenSolid() { return true; }
void cRendererSurface::SetLineCap(uint8_t) {}
uint8_t cRendererSurface::GetLineCap() { return 0; }
void cRendererSurface::SetLineJoin(uint8_t) {}
uint8_t cRendererSurface::GetLineJoin() { return 0; }
void cRendererSurface::SetMiterLimit(double) {}
double cRendererSurface::GetMiterLimit() { return 4.0; }
void cRendererSurface::SetPenWidth(double) {}
double cRendererSurface::GetPenWidth() { return 1.0; }
void cRendererSurface::SetPenUnderFill(bool) {}
bool cRendererSurface::IsPenUnderFill() { return false; }
void cRendererSurface::SetPenDeviceSpace(bool) {}
bool cRendererSurface::IsPenDeviceSpace() { return false; }
void cRendererSurface::SetPenOutline(bool) {}
bool cRendererSurface::IsPenOutline() { return false; }
void cRendererSurface::SetDistortPenGradient(bool) {}
bool cRendererSurface::IsDistortPenGradient() { return false; }
void cRendererSurface::SetPenEvenOdd(bool) {}
bool cRendererSurface::IsPenEvenOdd() { return false; }
uint32_t cRendererSurface::GetPenColor() { return 0; }
void cRendererSurface::SetPenColor(uint32_t) {}
bool cRendererSurface::IsPenPlainColor() { return true; }
void cRendererSurface::ResetPenColor(bool) {}
double cRendererSurface::GetAutoMarkerScale() { return 1.0; }
void cRendererSurface::PenOn() {}
void cRendererSurface::PenOff() {}
bool cRendererSurface::IsPenOn() { return true; }
void cRendererSurface::ResetPen(bool) {}
void cRendererSurface::SetDashStart(double) {}
void cRendererSurface::AddDash(double, double) {}
void cRendererSurface::PenDashed() {}
void cRendererSurface::PenDashOff() {}
bool cRendererSurface::IsPenDashed() { return false; }
void cRendererSurface::ResetDash(bool) {}
void cRendererSurface::SetPenPatternCallback(tRendererPatternCallback, void*, double, double) {}
void cRendererSurface::SetPenPatternBitmap(cBitmap*, double, double) {}
double cRendererSurface::GetPenPatternWidth() { return 0.0; }
double cRendererSurface::GetPenPatternHeight() { return 0.0; }
double cRendererSurface::GetPenPatternScaledWidth() { return 0.0; }
double cRendererSurface::GetPenPatternTileHeight() { return 0.0; }
void cRendererSurface::SetPenPatternStart(double) {}
double cRendererSurface::GetPenPatternStart() { return 0.0; }
void cRendererSurface::PenPatternFromColor() {}
bool cRendererSurface::IsPenPattern() { return false; }
void cRendererSurface::ResetPenPattern(bool) {}
void cRendererSurface::ReapplyPenGradient() {}
void cRendererSurface::SetPenGradient(cGradient*) {}
cGradient* cRendererSurface::GetPenGradient() { return nullptr; }
void cRendererSurface::ResetPenGradient(bool) {}

// --- Markers -----------------------------------------------------------------
void cRendererSurface::AddVertexMarkerCommand(uint8_t, double, double, double, double, double, double) {}
uint32_t cRendererSurface::GetVertexMarkerColor() { return 0; }
void cRendererSurface::SetVertexMarkerColor(uint32_t) {}
void cRendererSurface::ResetVertexMarkerColor(bool) {}
void cRendererSurface::SetVertexMarkers(bool, bool, bool) {}
bool cRendererSurface::IsVertexMarkerAtFirst() { return false; }
bool cRendererSurface::IsVertexMarkerAtLast() { return false; }
bool cRendererSurface::IsVertexMarkerOriented() { return false; }
void cRendererSurface::VertexMarkersOff() {}
bool cRendererSurface::IsVertexMarkers() { return false; }
void cRendererSurface::ResetVertexMarkers(bool) {}
void cRendererSurface::SetVertexMarkerScale(double) {}
double cRendererSurface::GetVertexMarkerScale() { return 1.0; }
void cRendererSurface::VertexMarkerScaleOff() {}
bool cRendererSurface::IsVertexMarkerScale() { return false; }
void cRendererSurface::ResetVertexMarkerScale(bool) {}
void cRendererSurface::AddEndMarkerCommand(uint8_t, double, double, double, double, double, double) {}
void cRendererSurface::EndMarkerOn() {}
bool cRendererSurface::EndMarkerOff() { return false; }
bool cRendererSurface::IsEndMarker() { return false; }
void cRendererSurface::ResetEndMarker(bool) {}
void cRendererSurface::AddStartMarkerCommand(uint8_t, double, double, double, double, double, double) {}
void cRendererSurface::StartMarkerOn() {}
bool cRendererSurface::StartMarkerOff() { return false; }
bool cRendererSurface::IsStartMarker() { return false; }
void cRendererSurface::ResetStartMarker(bool) {}
void cRendererSurface::ResetMarkers(bool) {}
void cRendererSurface::SetMarkerScale(double) {}
double cRendererSurface::GetMarkerScale() { return 1.0; }
void cRendererSurface::MarkerScaleOff() {}
bool cRendererSurface::IsMarkerScale() { return false; }
void cRendererSurface::ResetMarkerScale(bool) {}

// --- Fill --------------------------------------------------------------------
void cRendererSurface::FillSolid() {}
bool cRendererSurface::IsFillSolid() { return true; }
void cRendererSurface::SetFillEvenOdd(bool) {}
bool cRendererSurface::IsFillEvenOdd() { return false; }
uint32_t cRendererSurface::GetFillColor() { return 0; }
void cRendererSurface::SetFillColor(uint32_t) {}
void cRendererSurface::ResetFillColor(bool) {}
void cRendererSurface::FillOn() {}
void cRendererSurface::FillOff() {}
bool cRendererSurface::IsFillOn() { return true; }
void cRendererSurface::ResetFill(bool) {}
void cRendererSurface::SetFillPatternCallback(uint32_t, uint32_t, tRendererPatternCallback, void*) {}
void cRendererSurface::SetFillPatternBitmap(cBitmap*, int32_t, int32_t) {}
int32_t cRendererSurface::GetFillPatternWidth() { return 0; }
int32_t cRendererSurface::GetFillPatternHeight() { return 0; }
void cRendererSurface::SetFillPatternOffset(int32_t, int32_t) {}
int32_t cRendererSurface::GetFillPatternOffsetX() { return 0; }
int32_t cRendererSurface::GetFillPatternOffsetY() { return 0; }
void cRendererSurface::SetFillPatternWrap(uint8_t) {}
uint8_t cRendererSurface::GetFillPatternWrap() { return 0; }
void cRendererSurface::SetFillPatternAbsolute(bool) {}
bool cRendererSurface::IsFillPatternAbsolute() { return false; }
void cRendererSurface::FillPatternOn() {}
bool cRendererSurface::IsFillPattern() { return false; }
void cRendererSurface::ResetFillPattern(bool) {}
void cRendererSurface::ReapplyFillGradient() {}
void cRendererSurface::SetFillGradient(cGradient*) {}
cGradient* cRendererSurface::GetFillGradient() { return nullptr; }
void cRendererSurface::ResetFillGradient(bool) {}

// --- Distortions -------------------------------------------------------------
void cRendererSurface::WaveOn() {}
uint8_t cRendererSurface::GetWaveMode() { return 0; }
void cRendererSurface::WaveOff() {}
void cRendererSurface::SwirlOn() {}
uint8_t cRendererSurface::GetSwirlMode() { return 0; }
void cRendererSurface::SwirlOff() {}
void cRendererSurface::SetDistortionCenter(double, double) {}
double cRendererSurface::GetDistortionCenterX() { return 0.0; }
double cRendererSurface::GetDistortionCenterY() { return 0.0; }
void cRendererSurface::SetDistortionPeriod(double) {}
double cRendererSurface::GetDistortionPeriod() { return 0.0; }
void cRendererSurface::SetDistortionAmplitude(double) {}
double cRendererSurface::GetDistortionAmplitude() { return 0.0; }
void cRendererSurface::SetDistortionPhase(double) {}
double cRendererSurface::GetDistortionPhase() { return 0.0; }
void cRendererSurface::DistortionsOn() {}
void cRendererSurface::DistortionsOff() {}
bool cRendererSurface::IsDistortions() { return false; }
void cRendererSurface::ResetDistortions(bool) {}

// --- Shadows -----------------------------------------------------------------
void cRendererSurface::SetOffsetShadow(double) {}
bool cRendererSurface::IsOffsetShadow() { return false; }
void cRendererSurface::SetPerspectiveShadow(double, double, double, double, double) {}
bool cRendererSurface::IsPerspectiveShadow() { return false; }
void cRendererSurface::SetGrowShadow(double) {}
bool cRendererSurface::IsGrowShadow() { return false; }
void cRendererSurface::SetShadowDistance(double) {}
double cRendererSurface::GetShadowDistance() { return 0.0; }
double cRendererSurface::GetPerspectiveShadowAngle1() { return 0.0; }
double cRendererSurface::GetPerspectiveShadowLength1() { return 0.0; }
double cRendererSurface::GetPerspectiveShadowAngle2() { return 0.0; }
double cRendererSurface::GetPerspectiveShadowLength2() { return 0.0; }
void cRendererSurface::SetShadowDirection(uint8_t) {}
uint8_t cRendererSurface::GetShadowDirection() { return 0; }
void cRendererSurface::SetShadowBlurred(bool) {}
bool cRendererSurface::IsShadowBlurred() { return false; }
void cRendererSurface::SetShadowBlur(double) {}
double cRendererSurface::GetShadowBlur() { return 0.0; }
void cRendererSurface::SetFillShadow(bool) {}
bool cRendererSurface::IsFillShadow() { return false; }
uint32_t cRendererSurface::GetShadowColor() { return 0; }
void cRendererSurface::SetShadowColor(uint32_t) {}
void cRendererSurface::ResetShadowColor(bool) {}
void cRendererSurface::ShadowOn() {}
void cRendererSurface::ShadowOff() {}
void cRendererSurface::ResetShadow(bool) {}
void cRendererSurface::SetShadowColorRamp(cGradientColorRamp*) {}
cGradientColorRamp* cRendererSurface::GetShadowColorRamp() { return nullptr; }
void cRendererSurface::ClearShadowColorRamp() {}

// --- Text parameters ---------------------------------------------------------
uint32_t cRendererSurface::GetTextColor() { return 0; }
void cRendererSurface::SetTextColor(uint32_t) {}
void cRendererSurface::ResetTextColor(bool) {}
void cRendererSurface::SetTextAlign(eAlign, eAlign) {}
eAlign cRendererSurface::GetTextAlignX() { return ALIGN_NONE; }
eAlign cRendererSurface::GetTextAlignY() { return ALIGN_NONE; }
void cRendererSurface::SetTextAngle(double) {}
double cRendererSurface::GetTextAngle() { return 0.0; }
void cRendererSurface::SetTextHinting(bool) {}
bool cRendererSurface::GetTextHinting() { return false; }
void cRendererSurface::SetTextKerning(bool) {}
bool cRendererSurface::GetTextKerning() { return false; }
uint32_t cRendererSurface::GetTextBackColor() { return 0; }
void cRendererSurface::SetTextBackColor(uint32_t) {}
void cRendererSurface::TextBackOff() {}
bool cRendererSurface::IsTextBack() { return false; }
void cRendererSurface::ResetTextBackColor(bool) {}
void cRendererSurface::SetTextBackFitGlyphs(bool) {}
bool cRendererSurface::IsTextBackFitGlyphs() { return false; }
void cRendererSurface::SetFont(cFont*) {}
cFont* cRendererSurface::GetFont() { return nullptr; }
void cRendererSurface::SetUnderline(uint8_t, uint8_t) {}
uint8_t cRendererSurface::IsUnderline() { return 0; }
void cRendererSurface::SetUnderlineStyle(uint8_t) {}
uint8_t cRendererSurface::GetUnderlineStyle() { return 0; }
void cRendererSurface::SetUnderlinePosition(uint8_t) {}
uint8_t cRendererSurface::GetUnderlinePosition() { return 0; }
void cRendererSurface::SetUnderlinePen(cPen*) {}
void cRendererSurface::ClearUnderlinePen() {}
cPen* cRendererSurface::GetUnderlinePen() { return nullptr; }
void cRendererSurface::SetStrikeOut(uint8_t, uint8_t) {}
uint8_t cRendererSurface::IsStrikeOut() { return 0; }
void cRendererSurface::SetStrikeOutStyle(uint8_t) {}
uint8_t cRendererSurface::GetStrikeOutStyle() { return 0; }
void cRendererSurface::SetStrikeOutPosition(uint8_t) {}
uint8_t cRendererSurface::GetStrikeOutPosition() { return 0; }
void cRendererSurface::SetStrikeOutPen(cPen*) {}
void cRendererSurface::ClearStrikeOutPen() {}
cPen* cRendererSurface::GetStrikeOutPen() { return nullptr; }
void cRendererSurface::ResetText(bool) {}

// --- Snapshots ---------------------------------------------------------------
void cRendererSurface::ResetAll() {}
std::unique_ptr<cState> cRendererSurface::SaveState() { return {}; }
void cRendererSurface::RestoreState(const cState*) {}
std::unique_ptr<cPen> cRendererSurface::GetPen() { return {}; }
void cRendererSurface::SetPen(const cPen*, bool) {}
std::unique_ptr<cFill> cRendererSurface::GetFill() { return {}; }
void cRendererSurface::SetFill(const cFill*, bool) {}
std::unique_ptr<cShadow> cRendererSurface::GetShadow() { return {}; }
void cRendererSurface::SetShadow(const cShadow*, bool) {}
std::unique_ptr<cTransformations> cRendererSurface::GetTransformations() { return {}; }
void cRendererSurface::SetTransformations(const cTransformations*, bool) {}
void cRendererSurface::AddTransformations(const cTransformations*) {}
std::unique_ptr<cClipping> cRendererSurface::GetClipping() { return {}; }
void cRendererSurface::SetClipping(const cClipping*, bool) {}
std::unique_ptr<cMasterParameters> cRendererSurface::GetMasterParameters() { return {}; }
void cRendererSurface::SetMasterParameters(const cMasterParameters*, bool) {}
std::unique_ptr<cBitmapParameters> cRendererSurface::GetBitmapParameters() { return {}; }
void cRendererSurface::SetBitmapParameters(const cBitmapParameters*, bool) {}
std::unique_ptr<cTextParameters> cRendererSurface::GetTextParameters() { return {}; }
void cRendererSurface::SetTextParameters(const cTextParameters*, bool) {}

// --- Primitives and paths ----------------------------------------------------
void cRendererSurface::DrawLine(cHitTest*, double, double, double, double) {}
void cRendererSurface::DrawPolyline(const double*, int32_t, cHitTest*) {}
void cRendererSurface::DrawPolygon(const double*, int32_t, cHitTest*) {}
void cRendererSurface::DrawTriangle(cHitTest*, double, double, double, double, double, double) {}
void cRendererSurface::DrawRegularPolygon(int32_t, cHitTest*, double, double, double, double) {}
void cRendererSurface::DrawStar(int32_t, cHitTest*, double, double, double, double, double) {}
void cRendererSurface::DrawBSpline(const double*, int32_t, bool, int32_t, cHitTest*) {}
void cRendererSurface::DrawCurve3(cHitTest*, double, double, double, double, double, double) {}
void cRendererSurface::DrawCurve4(cHitTest*, double, double, double, double, double, double, double, double) {}
void cRendererSurface::DrawRectangle(cHitTest*, double, double, double, double) {}
void cRendererSurface::DrawRoundedRectangle(cHitTest*, double, double, double, double, double, double, double, double, double, double, double, double) {}
void cRendererSurface::DrawCircle(cHitTest*, double, double, double) {}
void cRendererSurface::DrawEllipse(cHitTest*, double, double, double, double) {}
void cRendererSurface::DrawArc(cHitTest*, double, double, double, double, double, double) {}
void cRendererSurface::DrawChord(cHitTest*, double, double, double, double, double, double) {}
void cRendererSurface::DrawPie(cHitTest*, double, double, double, double, double, double) {}
void cRendererSurface::DrawSpiral(cHitTest*, double, double, double, double, double, double) {}
void cRendererSurface::DrawPath(cPath*, cHitTest*, double, double) {}
void cRendererSurface::DrawPathGroup(cPathGroup*, cHitTest*, double, double) {}

// --- Text --------------------------------------------------------------------
void cRendererSurface::DrawText(const rTextView&, double, double, cHitTest*) {}
double cRendererSurface::TextWidth(const rTextView&) { return 0.0; }
void cRendererSurface::TextBounds(const rTextView&, rRectD&) {}
void cRendererSurface::TextExtents(const rTextView&, bool, double, double, rRectD&) {}
void cRendererSurface::DrawTextOnPath(cPath*, const rTextView&, bool, double, bool, bool, cHitTest*) {}
void cRendererSurface::TextOnPathBounds(cPath*, const rTextView&, bool, double, bool, bool, rRectD&) {}
void cRendererSurface::DrawTextBetweenPaths(cPath*, cPath*, const rTextView&, bool, double, bool, bool, cHitTest*) {}
void cRendererSurface::TextBetweenPathsBounds(cPath*, cPath*, const rTextView&, bool, double, bool, bool, rRectD&) {}

// --- Images ------------------------------------------------------------------
void cRendererSurface::DrawImage(cBase*, bool, double, double, double, double, cHitTest*) {}
void cRendererSurface::DrawImageRect(cBase*, int32_t, int32_t, int32_t, int32_t, double, double, double, double, bool, cHitTest*) {}
void cRendererSurface::DrawImageParallelogram(cBase*, double, double, double, double, double, double, bool, cHitTest*) {}
void cRendererSurface::DrawImageRectParallelogram(cBase*, int32_t, int32_t, int32_t, int32_t, double, double, double, double, double, double, bool, cHitTest*) {}
void cRendererSurface::DrawImageInPath(cBase*, cPath*, bool, cHitTest*) {}
void cRendererSurface::DrawImageInPathAt(cBase*, cPath*, double, double, bool, cHitTest*) {}
void cRendererSurface::DrawImageRectInPath(cBase*, cPath*, int32_t, int32_t, int32_t, int32_t, bool, cHitTest*) {}
void cRendererSurface::DrawImageRectInPathAt(cBase*, cPath*, double, double, int32_t, int32_t, int32_t, int32_t, bool, cHitTest*) {}

// --- SVG ---------------------------------------------------------------------
void cRendererSurface::DrawSVG(cImageSVG*, const rMatrix*, double, double, cHitTest*) {}
void cRendererSurface::DrawSVGSized(cImageSVG*, cHitTest*, double, double, double, double) {}
void cRendererSurface::GetSVGBounds(cImageSVG*, const rMatrix*, double, double, uint8_t, rRectD&) {}
void cRendererSurface::GetSVGSizedBounds(cImageSVG*, uint8_t, double, double, double, double, rRectD&) {}

// --- Override colour ---------------------------------------------------------

// --- Gouraud meshes ----------------------------------------------------------
void cRendererSurface::DrawGouraudMesh(cBase*, cHitTest*) {}
void cRendererSurface::DrawGouraudMeshAt(cBase*, cHitTest*, double, double) {}
