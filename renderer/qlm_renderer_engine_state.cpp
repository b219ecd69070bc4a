// The render record as a whole: construction order, ResetAll, and the
// snapshots that carry groups out and back.
#include <cmath>
#include <cstring>

#include "qlm_renderer_engine.h"

void rStoredColor::Set(uint32_t rgba, uint8_t master_alpha, bool anti_aliasing) {
  color.r = uint8_t(rgba);
  color.g = uint8_t(rgba >> 8);
  color.b = uint8_t(rgba >> 16);
  given_alpha = uint8_t(rgba >> 24);
  grey = qlm_agg::grey_of(color.r, color.g, color.b);
  Rescale(master_alpha, anti_aliasing);
}

void rStoredColor::Rescale(uint8_t master_alpha, bool anti_aliasing) {
  if (anti_aliasing || master_alpha == 255)
    color.a = given_alpha;
  else
    color.a = uint8_t(std::trunc(given_alpha / 255.0 * master_alpha / 255.0 * 255.0 + 0.5));
}

rColor8::operator agg::rgba8() const { return agg::rgba8(r, g, b, a); }

cFill::cFill(bool) {}
cFill::~cFill() = default;

bool cTransformations::Identify(uint32_t id) const {
  return (id != 0 && id == id_cTransformations) || cBase::Identify(id);
}

void cRendererSurface::ResetRecord() {
  // The construction order of the record's resets.
  ResetMaster(false);
  ResetMasterColor(false);
  ResetOverrideColor(false);
  ResetTransformations(false);
  ResetClipping(false);
  ResetImageParameters(false);
  ResetImageTintColor(false);
  ResetPen(false);
  ResetDash(false);
  ResetPenColor(false);
  ResetPenGradient(false);
  ResetMarkerScale(false);
  ResetStartMarker(false);
  ResetEndMarker(false);
  ResetVertexMarkers(false);
  ResetVertexMarkerColor(false);
  ResetVertexMarkerScale(false);
  ResetPenPattern(false);
  ResetFill(false);
  ResetFillColor(false);
  ResetFillGradient(false);
  ResetFillPattern(false);
  ResetDistortions(false);
  ResetShadow(false);
  ResetShadowColor(false);
  ResetText(false);
  ResetTextColor(false);
  ResetTextBackColor(false);
}

void cRendererSurface::ResetAll() {
  ResetMaster(false);
  ResetTransformations(false);
  ResetMatrix(false);
  ResetClipping(false);
  ResetImageParameters(false);
  ResetText(false);
  ResetPen(false);
  ResetFill(false);
  ResetShadow(false);
  RebuildPipeline();
  UpdateApproximation();
}

// --- Group snapshots --------------------------------------------------------------

std::unique_ptr<cPen> cRendererSurface::GetPen() {
  auto s = std::make_unique<cPen>(false);
  s->pen = mPen;
  s->render_mode = mMaster.pen_render_mode;
  return s;
}
void cRendererSurface::SetPen(const cPen* pen, bool flag) {
  if (pen == nullptr) return;
  mPen = pen->pen;
  mMaster.pen_render_mode = pen->render_mode;
  // Stored alphas follow the master group in force.
  mPen.color.Rescale(mMaster.master_alpha, mMaster.anti_aliasing);
  mPen.vertex_color.Rescale(mMaster.master_alpha, mMaster.anti_aliasing);
  if (flag) {
    RebuildPipeline();
    UpdateApproximation();
  }
}

std::unique_ptr<cFill> cRendererSurface::GetFill() {
  auto s = std::make_unique<cFill>(false);
  s->fill = mFill;
  s->render_mode = mMaster.fill_render_mode;
  if (mFillTile.IsValid()) s->tile = mFillTile.Clone();
  return s;
}
void cRendererSurface::SetFill(const cFill* fill, bool flag) {
  if (fill == nullptr) return;
  mFill = fill->fill;
  mMaster.fill_render_mode = fill->render_mode;
  mFill.color.Rescale(mMaster.master_alpha, mMaster.anti_aliasing);
  if (fill->tile != nullptr && fill->tile->IsValid()) {
    // The renderer's tile takes the snapshot's pixels.
    if (mFillTile.Init(int32_t(fill->tile->width()), int32_t(fill->tile->height())))
      for (unsigned y = 0; y < fill->tile->height(); ++y)
        std::memcpy(mFillTile.row_ptr(int(y)), fill->tile->row_ptr(int(y)), size_t(fill->tile->width()) * 4);
    else
      mFill.pattern_valid = false;
  } else {
    mFill.pattern_valid = false;
  }
  ApplyFillRule();
  // The gradient is re-applied only while it is the fill in force: a solid
  // or pattern snapshot that still remembers a gradient stays what it was.
  if (mFill.kind == eFillKind::gradient && mFill.gradient_kind != eGradientKind::none) ReapplyFillGradient();
  if (flag) {
    RebuildPipeline();
    UpdateApproximation();
  }
}

std::unique_ptr<cShadow> cRendererSurface::GetShadow() {
  auto s = std::make_unique<cShadow>(false);
  s->shadow = mShadow;
  s->render_mode = mMaster.shadow_render_mode;
  return s;
}
void cRendererSurface::SetShadow(const cShadow* shadow, bool) {
  if (shadow == nullptr) return;
  mShadow = shadow->shadow;
  mMaster.shadow_render_mode = shadow->render_mode;
  mShadow.color.Rescale(mMaster.master_alpha, mMaster.anti_aliasing);
}

std::unique_ptr<cClipping> cRendererSurface::GetClipping() {
  auto s = std::make_unique<cClipping>(false);
  s->clip = mClip;  // recorded paths are shared: they never change
  return s;
}
void cRendererSurface::SetClipping(const cClipping* clipping, bool) {
  if (clipping == nullptr) return;
  WriteBackClip();
  const bool stale = clipping->clip.on ? true : clipping->clip.mask_stale;
  mClip = clipping->clip;
  mClip.mask_stale = stale;
  mRasClip.filling_rule(mClip.even_odd ? agg::fill_even_odd : agg::fill_non_zero);
}

std::unique_ptr<cMasterParameters> cRendererSurface::GetMasterParameters() {
  auto s = std::make_unique<cMasterParameters>(false);
  s->master = mMaster;
  return s;
}
void cRendererSurface::SetMasterParameters(const cMasterParameters* parameters, bool) {
  if (parameters == nullptr) return;
  const eRenderMode modes[3] = {mMaster.pen_render_mode, mMaster.fill_render_mode, mMaster.shadow_render_mode};
  mMaster = parameters->master;
  // The render modes travel with their groups' snapshots.
  mMaster.pen_render_mode = modes[0];
  mMaster.fill_render_mode = modes[1];
  mMaster.shadow_render_mode = modes[2];
  UpdateDerived();
  mSnap.set(mMaster.pixel_snap ? mMaster.snap_x : -1, mMaster.pixel_snap ? mMaster.snap_y : -1);
  SetCompOp(mMaster.comp_op);
}

std::unique_ptr<cBitmapParameters> cRendererSurface::GetBitmapParameters() {
  auto s = std::make_unique<cBitmapParameters>(false);
  s->image = mImage;
  return s;
}
void cRendererSurface::SetBitmapParameters(const cBitmapParameters* parameters, bool) {
  if (parameters == nullptr) return;
  mImage = parameters->image;
  SetImageFilter(mImage.filter);
}

std::unique_ptr<cTextParameters> cRendererSurface::GetTextParameters() {
  auto s = std::make_unique<cTextParameters>(false);
  s->text = mText;
  return s;
}
void cRendererSurface::SetTextParameters(const cTextParameters* parameters, bool) {
  if (parameters == nullptr) return;
  mText = parameters->text;
  mText.color.Rescale(mMaster.master_alpha, mMaster.anti_aliasing);
  mText.back_color.Rescale(mMaster.master_alpha, mMaster.anti_aliasing);
}

std::unique_ptr<cTransformations> cRendererSurface::GetTransformations() {
  auto s = std::make_unique<cTransformations>(false);
  s->stages = mTransform.stages;
  s->matrix = rMatrix{mDevice.sx, mDevice.shy, mDevice.shx, mDevice.sy, mDevice.tx, mDevice.ty};
  return s;
}
void cRendererSurface::SetTransformations(const cTransformations* transformations, bool flag) {
  if (transformations == nullptr) return;
  mTransform.stages = transformations->stages;
  const rMatrix& m = transformations->matrix;
  mDevice = agg::trans_affine(m.sx, m.shy, m.shx, m.sy, m.tx, m.ty);
  if (flag) {
    RebuildPipeline();
    UpdateApproximation();
  }
}
void cRendererSurface::AddTransformations(const cTransformations* transformations) {
  if (transformations == nullptr) return;
  mTransform.stages.insert(mTransform.stages.end(), transformations->stages.begin(), transformations->stages.end());
  const rMatrix& m = transformations->matrix;
  mDevice = agg::trans_affine(m.sx, m.shy, m.shx, m.sy, m.tx, m.ty);
  RebuildPipeline();
}

// --- The whole state ---------------------------------------------------------------

std::unique_ptr<cState> cRendererSurface::SaveState() {
  auto s = std::make_unique<cState>(false);
  s->pen.pen = mPen;
  s->pen.render_mode = mMaster.pen_render_mode;
  s->fill.fill = mFill;
  s->fill.render_mode = mMaster.fill_render_mode;
  if (mFillTile.IsValid()) s->fill.tile = mFillTile.Clone();
  s->shadow.shadow = mShadow;
  s->shadow.render_mode = mMaster.shadow_render_mode;
  s->clipping.clip = mClip;
  s->master.master = mMaster;
  s->image.image = mImage;
  s->text.text = mText;
  s->transformations = GetTransformations();
  return s;
}

void cRendererSurface::RestoreState(const cState* state) {
  if (state == nullptr) return;
  // Clipping first: it writes back a pending clipped drawing.
  SetClipping(&state->clipping, false);
  SetMasterParameters(&state->master, false);
  SetPen(&state->pen, false);
  SetFill(&state->fill, false);
  SetShadow(&state->shadow, false);
  SetBitmapParameters(&state->image, false);
  SetTextParameters(&state->text, false);
  if (state->transformations != nullptr) SetTransformations(state->transformations.get(), false);
  RebuildPipeline();
  UpdateApproximation();
}
