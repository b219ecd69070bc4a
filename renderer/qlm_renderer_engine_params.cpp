// The stored parameters of the pen, marker, fill, distortion, shadow, text,
// clipping and transformation groups: their getters, the setters that only
// store, and the group resets. What a group's setters do beyond storing
// (stroke converters, dash and pattern building, gradients, clip masks)
// comes with that group's drawing code.
#include <cmath>

#include "qlm_2D.h"
#include "qlm_renderer_engine.h"

namespace {
// A setter given a non-finite double keeps the previous value.
bool usable(double v) { return std::isfinite(v); }
}  // namespace

void cRendererSurface::ApplyFillRule() {
  const agg::filling_rule_e rule = mFill.even_odd ? agg::fill_even_odd : agg::fill_non_zero;
  mRas.filling_rule(rule);
  mRas2.filling_rule(rule);
}

// --- Pen --------------------------------------------------------------------------

void cRendererSurface::PenSolid() { mPen.kind = mPen.saved_kind = ePenKind::solid; }
bool cRendererSurface::IsPenSolid() { return mPen.kind == ePenKind::solid; }
void cRendererSurface::SetLineCap(uint8_t cap) { mPen.line_cap = (cap == 1 || cap == 2) ? cap : 0; }
uint8_t cRendererSurface::GetLineCap() { return mPen.line_cap; }
// The operations number joins 0 miter, 1 round, 2 bevel; AGG 0, 2, 3.
void cRendererSurface::SetLineJoin(uint8_t join) { mPen.line_join = join == 1 ? 2 : (join == 2 ? 3 : 0); }
uint8_t cRendererSurface::GetLineJoin() { return mPen.line_join == 2 ? 1 : (mPen.line_join == 3 ? 2 : 0); }
void cRendererSurface::SetMiterLimit(double limit) {
  if (usable(limit)) mPen.miter_limit = limit;
}
double cRendererSurface::GetMiterLimit() { return mPen.miter_limit; }
void cRendererSurface::SetPenWidth(double width) {
  if (!usable(width)) return;
  mPen.width = width;
  // width^0.7 of a negative width would be NaN.
  mPen.auto_marker_scale = std::pow(std::max(width, 0.0), 0.7);
}
double cRendererSurface::GetPenWidth() { return mPen.width; }
void cRendererSurface::SetPenUnderFill(bool flag) { mPen.under_fill = flag; }
bool cRendererSurface::IsPenUnderFill() { return mPen.under_fill; }
void cRendererSurface::SetPenDeviceSpace(bool flag) {
  const bool changed = mPen.device_space != flag;
  mPen.device_space = flag;
  if (!flag) mPen.outline = false;
  if (changed) RebuildPipeline();
}
bool cRendererSurface::IsPenDeviceSpace() { return mPen.device_space; }
void cRendererSurface::SetPenOutline(bool flag) {
  mPen.outline = flag;
  if (flag && !mPen.device_space) {
    mPen.device_space = true;
    RebuildPipeline();
  }
}
bool cRendererSurface::IsPenOutline() { return mPen.outline; }
void cRendererSurface::SetDistortPenGradient(bool flag) { mPen.distort_gradient = flag; }
bool cRendererSurface::IsDistortPenGradient() { return mPen.distort_gradient; }
void cRendererSurface::SetPenEvenOdd(bool flag) { mPen.even_odd = flag; }
bool cRendererSurface::IsPenEvenOdd() { return mPen.even_odd; }
uint32_t cRendererSurface::GetPenColor() { return mPen.color.Get(); }
void cRendererSurface::SetPenColor(uint32_t color) {
  mPen.color.Set(color, mMaster.master_alpha, mMaster.anti_aliasing);
  mPen.gradient_active = false;
  if (mPen.kind != ePenKind::solid && mPen.kind != ePenKind::dashed) PenSolid();
}
bool cRendererSurface::IsPenPlainColor() { return is_line_pen(mPen.kind) && !mPen.gradient_active; }
void cRendererSurface::ResetPenColor(bool) {
  mPen.color.Set(renderer_color(0, 0, 0, 255), mMaster.master_alpha, mMaster.anti_aliasing);
}
double cRendererSurface::GetAutoMarkerScale() { return mPen.auto_marker_scale; }
void cRendererSurface::PenOn() { mPen.kind = mPen.saved_kind; }
void cRendererSurface::PenOff() {
  mPen.saved_kind = mPen.kind;
  mPen.kind = ePenKind::off;
}
bool cRendererSurface::IsPenOn() { return mPen.kind != ePenKind::off; }
void cRendererSurface::ResetPen(bool) {
  mPen = PenState{};
  mMaster.pen_render_mode = eRenderMode::normal;
  ResetPenColor(false);
  ResetPenGradient(false);
  ResetDash(false);
  ResetMarkers(false);
  ResetVertexMarkers(false);
  ResetPenPattern(false);
}
bool cRendererSurface::IsPenDashed() { return mPen.kind == ePenKind::dashed; }
void cRendererSurface::ResetDash(bool makeSolid) {
  mPen.dashes.clear();
  mPen.dash_start = 0.0;
  if (makeSolid) mPen.kind = mPen.saved_kind = ePenKind::solid;
}
// The requested size, or the tile's in user units when none was requested.
double cRendererSurface::GetPenPatternWidth() {
  if (!float_equal(mPen.pattern_width, 0.0) || !mPen.pattern_valid) return mPen.pattern_width;
  return InverseTransformLength(mPen.pattern_pixels_width);
}
double cRendererSurface::GetPenPatternHeight() {
  if (!float_equal(mPen.pattern_height, 0.0) || !mPen.pattern_valid) return mPen.pattern_height;
  return InverseTransformLength(mPen.pattern_pixels_height);
}
double cRendererSurface::GetPenPatternStart() { return mPen.pattern_start; }
bool cRendererSurface::IsPenPattern() { return mPen.kind == ePenKind::pattern; }
void cRendererSurface::ResetPenPattern(bool makeSolid) {
  mPen.pattern_pixels.clear();
  mPen.pattern_pixels_width = 0;
  mPen.pattern_pixels_height = 0;
  mPen.pattern_valid = false;
  mPen.pattern_serial = 0;
  mPen.pattern_width = 0.0;
  mPen.pattern_height = 0.0;
  mPen.pattern_start = 0.0;
  mPen.pattern_scale = 1.0;
  if (makeSolid) mPen.kind = mPen.saved_kind = ePenKind::solid;
}
cGradient* cRendererSurface::GetPenGradient() { return mPen.gradient; }
void cRendererSurface::ResetPenGradient(bool) {
  mPen.gradient = nullptr;
  mPen.gradient_kind = eGradientKind::none;
  mPen.gradient_active = false;
}

// --- Markers ------------------------------------------------------------------------

uint32_t cRendererSurface::GetVertexMarkerColor() { return mPen.vertex_color.Get(); }
void cRendererSurface::SetVertexMarkerColor(uint32_t color) {
  mPen.vertex_color.Set(color, mMaster.master_alpha, mMaster.anti_aliasing);
}
void cRendererSurface::ResetVertexMarkerColor(bool) {
  mPen.vertex_color.Set(renderer_color(0, 0, 255, 255), mMaster.master_alpha, mMaster.anti_aliasing);
}
bool cRendererSurface::IsVertexMarkerAtFirst() { return mPen.vertex_at_first; }
bool cRendererSurface::IsVertexMarkerAtLast() { return mPen.vertex_at_last; }
bool cRendererSurface::IsVertexMarkerOriented() { return mPen.vertex_oriented; }
bool cRendererSurface::IsVertexMarkers() { return mPen.vertex_markers; }
void cRendererSurface::ResetVertexMarkers(bool) {
  mPen.vertex_markers = false;
  mPen.vertex_path.clear();
  mPen.vertex_at_first = false;
  mPen.vertex_at_last = false;
  mPen.vertex_oriented = true;
  ResetVertexMarkerColor(false);
  ResetVertexMarkerScale(false);
}
double cRendererSurface::GetVertexMarkerScale() { return mPen.vertex_marker_scale; }
bool cRendererSurface::IsVertexMarkerScale() { return mPen.vertex_marker_scale_on; }
void cRendererSurface::ResetVertexMarkerScale(bool) {
  mPen.vertex_marker_scale = 0.0;
  mPen.vertex_marker_scale_on = false;
}
bool cRendererSurface::IsEndMarker() { return mPen.end_marker; }
void cRendererSurface::ResetEndMarker(bool) {
  mPen.end_marker = false;
  mPen.end_path.clear();
  mPen.line_markers = mPen.start_marker;
}
bool cRendererSurface::IsStartMarker() { return mPen.start_marker; }
void cRendererSurface::ResetStartMarker(bool) {
  mPen.start_marker = false;
  mPen.start_path.clear();
  mPen.line_markers = mPen.end_marker;
}
void cRendererSurface::ResetMarkers(bool) {
  ResetMarkerScale(false);
  ResetEndMarker(false);
  ResetStartMarker(false);
}
double cRendererSurface::GetMarkerScale() { return mPen.marker_scale; }
bool cRendererSurface::IsMarkerScale() { return mPen.marker_scale_on; }
void cRendererSurface::ResetMarkerScale(bool) {
  mPen.marker_scale = 0.0;
  mPen.marker_scale_on = false;
}

// --- Fill ---------------------------------------------------------------------------

void cRendererSurface::FillSolid() { mFill.kind = mFill.saved_kind = eFillKind::solid; }
bool cRendererSurface::IsFillSolid() { return mFill.kind == eFillKind::solid; }
void cRendererSurface::SetFillEvenOdd(bool flag) {
  mFill.even_odd = flag;
  ApplyFillRule();
}
bool cRendererSurface::IsFillEvenOdd() { return mFill.even_odd; }
uint32_t cRendererSurface::GetFillColor() { return mFill.color.Get(); }
void cRendererSurface::SetFillColor(uint32_t color) {
  mFill.color.Set(color, mMaster.master_alpha, mMaster.anti_aliasing);
  mFill.kind = mFill.saved_kind = eFillKind::solid;
}
void cRendererSurface::ResetFillColor(bool) {
  mFill.color.Set(renderer_color(255, 255, 255, 255), mMaster.master_alpha, mMaster.anti_aliasing);
}
void cRendererSurface::FillOn() { mFill.kind = mFill.saved_kind; }
void cRendererSurface::FillOff() {
  mFill.saved_kind = mFill.kind;
  mFill.kind = eFillKind::off;
}
bool cRendererSurface::IsFillOn() { return mFill.kind != eFillKind::off; }
void cRendererSurface::ResetFill(bool) {
  mFill.saved_kind = eFillKind::solid;
  mFill.kind = eFillKind::solid;
  mFill.even_odd = false;
  mMaster.fill_render_mode = eRenderMode::normal;
  ApplyFillRule();
  ResetFillColor(false);
  ResetFillGradient(false);
  ResetFillPattern(false);
  ResetDistortions(false);
}
int32_t cRendererSurface::GetFillPatternWidth() { return mFillTile.IsValid() ? int32_t(mFillTile.width()) : 0; }
int32_t cRendererSurface::GetFillPatternHeight() { return mFillTile.IsValid() ? int32_t(mFillTile.height()) : 0; }
int32_t cRendererSurface::GetFillPatternOffsetX() { return mFill.pattern_x; }
int32_t cRendererSurface::GetFillPatternOffsetY() { return mFill.pattern_y; }
uint8_t cRendererSurface::GetFillPatternWrap() { return mFill.pattern_wrap; }
bool cRendererSurface::IsFillPatternAbsolute() { return mFill.pattern_absolute; }
bool cRendererSurface::IsFillPattern() { return mFill.kind == eFillKind::pattern; }
void cRendererSurface::ResetFillPattern(bool makeSolid) {
  mFill.pattern_valid = false;
  mFill.pattern_absolute = true;
  mFill.pattern_x = 0;
  mFill.pattern_y = 0;
  mFill.pattern_wrap = 1;
  if (makeSolid) mFill.kind = mFill.saved_kind = eFillKind::solid;
}
cGradient* cRendererSurface::GetFillGradient() { return mFill.gradient; }
void cRendererSurface::ResetFillGradient(bool) {
  mFill.gradient = nullptr;
  mFill.gradient_kind = eGradientKind::none;
}

// --- Distortions -------------------------------------------------------------------

uint8_t cRendererSurface::GetWaveMode() { return mFill.wave_mode; }
uint8_t cRendererSurface::GetSwirlMode() { return mFill.swirl_mode; }
double cRendererSurface::GetDistortionCenterX() { return mFill.distortion_x; }
double cRendererSurface::GetDistortionCenterY() { return mFill.distortion_y; }
double cRendererSurface::GetDistortionPeriod() { return mFill.distortion_period; }
double cRendererSurface::GetDistortionAmplitude() { return mFill.distortion_amplitude; }
double cRendererSurface::GetDistortionPhase() { return mFill.distortion_phase; }
bool cRendererSurface::IsDistortions() { return mFill.distortions; }
void cRendererSurface::ResetDistortions(bool) {
  const FillState d{};
  mFill.distortions = d.distortions;
  mFill.wave_mode = d.wave_mode;
  mFill.swirl_mode = d.swirl_mode;
  mFill.distortion_x = d.distortion_x;
  mFill.distortion_y = d.distortion_y;
  mFill.distortion_period = d.distortion_period;
  mFill.distortion_amplitude = d.distortion_amplitude;
  mFill.distortion_phase = d.distortion_phase;
}

// --- Shadows ------------------------------------------------------------------------

void cRendererSurface::SetOffsetShadow(double distance) {
  mShadow.kind = mShadow.saved_kind = eShadowKind::offset;
  if (usable(distance)) mShadow.distance = distance;
}
bool cRendererSurface::IsOffsetShadow() { return mShadow.kind == eShadowKind::offset; }
void cRendererSurface::SetPerspectiveShadow(double angle1, double length1, double angle2, double length2,
                                            double distance) {
  mShadow.kind = mShadow.saved_kind = eShadowKind::perspective;
  // A zero (or unusable) argument keeps the stored value.
  auto take = [](double& field, double v) {
    if (usable(v) && std::fabs(v) >= 1e-14) field = v;
  };
  take(mShadow.angle1, angle1);
  take(mShadow.length1, length1);
  take(mShadow.angle2, angle2);
  take(mShadow.length2, length2);
  take(mShadow.perspective_distance, distance);
}
bool cRendererSurface::IsPerspectiveShadow() { return mShadow.kind == eShadowKind::perspective; }
void cRendererSurface::SetGrowShadow(double size) {
  mShadow.kind = mShadow.saved_kind = eShadowKind::grow;
  if (usable(size)) mShadow.distance = size;
}
bool cRendererSurface::IsGrowShadow() { return mShadow.kind == eShadowKind::grow; }
void cRendererSurface::SetShadowDistance(double distance) {
  if (usable(distance)) mShadow.distance = distance;
}
double cRendererSurface::GetShadowDistance() {
  return mShadow.kind == eShadowKind::perspective ? mShadow.perspective_distance : mShadow.distance;
}
double cRendererSurface::GetPerspectiveShadowAngle1() { return mShadow.angle1; }
double cRendererSurface::GetPerspectiveShadowLength1() { return mShadow.length1; }
double cRendererSurface::GetPerspectiveShadowAngle2() { return mShadow.angle2; }
double cRendererSurface::GetPerspectiveShadowLength2() { return mShadow.length2; }
void cRendererSurface::SetShadowDirection(uint8_t direction) { mShadow.direction = direction; }
uint8_t cRendererSurface::GetShadowDirection() { return mShadow.direction; }
void cRendererSurface::SetShadowBlurred(bool flag) { mShadow.blurred = flag; }
bool cRendererSurface::IsShadowBlurred() { return mShadow.blurred; }
void cRendererSurface::SetShadowBlur(double radius) {
  if (usable(radius)) mShadow.blur = std::fabs(radius);
}
double cRendererSurface::GetShadowBlur() { return mShadow.blur; }
void cRendererSurface::SetFillShadow(bool flag) { mShadow.fill_shadow = flag; }
bool cRendererSurface::IsFillShadow() { return mShadow.fill_shadow; }
uint32_t cRendererSurface::GetShadowColor() { return mShadow.color.Get(); }
void cRendererSurface::SetShadowColor(uint32_t color) {
  mShadow.color.Set(color, mMaster.master_alpha, mMaster.anti_aliasing);
}
void cRendererSurface::ResetShadowColor(bool) {
  mShadow.color.Set(renderer_color(127, 127, 127, 255), mMaster.master_alpha, mMaster.anti_aliasing);
}
void cRendererSurface::ShadowOn() { mShadow.kind = mShadow.saved_kind; }
void cRendererSurface::ShadowOff() {
  if (mShadow.kind != eShadowKind::off) mShadow.saved_kind = mShadow.kind;
  mShadow.kind = eShadowKind::off;
}
void cRendererSurface::ResetShadow(bool) {
  mShadow = ShadowState{};
  mMaster.shadow_render_mode = eRenderMode::normal;
  ResetShadowColor(false);
}
cGradientColorRamp* cRendererSurface::GetShadowColorRamp() { return mShadow.ramp; }
void cRendererSurface::ClearShadowColorRamp() { mShadow.ramp = nullptr; }

// --- Text parameters ---------------------------------------------------------------

uint32_t cRendererSurface::GetTextColor() { return mText.color.Get(); }
void cRendererSurface::SetTextColor(uint32_t color) {
  mText.color.Set(color, mMaster.master_alpha, mMaster.anti_aliasing);
}
void cRendererSurface::ResetTextColor(bool) {
  mText.color.Set(renderer_color(0, 0, 0, 255), mMaster.master_alpha, mMaster.anti_aliasing);
}
void cRendererSurface::SetTextAlign(eAlign horizontal, eAlign vertical) {
  mText.align_x = horizontal;
  mText.align_y = vertical;
}
eAlign cRendererSurface::GetTextAlignX() { return mText.align_x; }
eAlign cRendererSurface::GetTextAlignY() { return mText.align_y; }
void cRendererSurface::SetTextAngle(double angle) {
  if (usable(angle)) mText.angle = normalize_angle(angle);
}
double cRendererSurface::GetTextAngle() { return mText.angle; }
bool cRendererSurface::GetTextHinting() { return mText.hinting; }
void cRendererSurface::SetTextKerning(bool flag) { mText.kerning = flag; }
bool cRendererSurface::GetTextKerning() { return mText.kerning; }
uint32_t cRendererSurface::GetTextBackColor() { return mText.back_color.Get(); }
void cRendererSurface::SetTextBackColor(uint32_t color) {
  mText.back_color.Set(color, mMaster.master_alpha, mMaster.anti_aliasing);
  mText.back_on = true;
}
void cRendererSurface::TextBackOff() { mText.back_on = false; }
bool cRendererSurface::IsTextBack() { return mText.back_on; }
void cRendererSurface::ResetTextBackColor(bool) {
  mText.back_color.Set(renderer_color(255, 255, 0, 255), mMaster.master_alpha, mMaster.anti_aliasing);
}
void cRendererSurface::SetTextBackFitGlyphs(bool flag) { mText.back_fit_glyphs = flag; }
bool cRendererSurface::IsTextBackFitGlyphs() { return mText.back_fit_glyphs; }
cFont* cRendererSurface::GetFont() { return mText.font; }
void cRendererSurface::SetUnderline(uint8_t kind, uint8_t style) {
  mText.underline = kind;
  mText.underline_style = style;
}
uint8_t cRendererSurface::IsUnderline() { return mText.underline; }
void cRendererSurface::SetUnderlineStyle(uint8_t style) { mText.underline_style = style; }
uint8_t cRendererSurface::GetUnderlineStyle() { return mText.underline_style; }
void cRendererSurface::SetUnderlinePosition(uint8_t position) { mText.underline_position = position; }
uint8_t cRendererSurface::GetUnderlinePosition() { return mText.underline_position; }
void cRendererSurface::SetUnderlinePen(cPen* pen) {
  if (pen != nullptr) mText.underline_pen = pen;
}
void cRendererSurface::ClearUnderlinePen() { mText.underline_pen = nullptr; }
cPen* cRendererSurface::GetUnderlinePen() { return mText.underline_pen; }
void cRendererSurface::SetStrikeOut(uint8_t kind, uint8_t style) {
  mText.strike_out = kind;
  mText.strike_out_style = style;
}
uint8_t cRendererSurface::IsStrikeOut() { return mText.strike_out; }
void cRendererSurface::SetStrikeOutStyle(uint8_t style) { mText.strike_out_style = style; }
uint8_t cRendererSurface::GetStrikeOutStyle() { return mText.strike_out_style; }
void cRendererSurface::SetStrikeOutPosition(uint8_t position) { mText.strike_out_position = position; }
uint8_t cRendererSurface::GetStrikeOutPosition() { return mText.strike_out_position; }
void cRendererSurface::SetStrikeOutPen(cPen* pen) {
  if (pen != nullptr) mText.strike_out_pen = pen;
}
void cRendererSurface::ClearStrikeOutPen() { mText.strike_out_pen = nullptr; }
cPen* cRendererSurface::GetStrikeOutPen() { return mText.strike_out_pen; }
void cRendererSurface::ResetText(bool) {
  mText = TextState{};  // the font is forgotten
  ResetTextColor(false);
  ResetTextBackColor(false);
}
