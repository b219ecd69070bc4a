// The master and image groups: render modes, master colour, anti-aliasing,
// gamma, master alpha, culling, pixel snap, compositing, the filter
// callback, the image tint and the image filter; and what is derived from
// them (coverage functions, alphas in effect, compositing accessors).
#include <cmath>

#include "qlm_base_util.h"
#include "qlm_renderer_engine.h"

namespace {

// The image filter of a kind; 0 and kinds above 16 are bilinear.
void build_image_filter(agg::image_filter_lut& lut, uint8_t kind) {
  switch (kind) {
    case 2: lut.calculate(agg::image_filter_hanning(), true); break;
    case 3: lut.calculate(agg::image_filter_hermite(), true); break;
    case 4: lut.calculate(agg::image_filter_quadric(), true); break;
    case 5: lut.calculate(agg::image_filter_bicubic(), true); break;
    case 6: lut.calculate(agg::image_filter_catrom(), true); break;
    case 7: lut.calculate(agg::image_filter_spline16(), true); break;
    case 8: lut.calculate(agg::image_filter_spline36(), true); break;
    case 9: lut.calculate(agg::image_filter_blackman(6), true); break;
    case 10: lut.calculate(agg::image_filter_lanczos(3), true); break;
    case 11: lut.calculate(agg::image_filter_hamming(), true); break;
    case 12: lut.calculate(agg::image_filter_kaiser(6.33), true); break;
    case 13: lut.calculate(agg::image_filter_mitchell(1.0 / 3.0, 1.0 / 3.0), true); break;
    case 14: lut.calculate(agg::image_filter_gaussian(), true); break;
    case 15: lut.calculate(agg::image_filter_bessel(), true); break;
    case 16: lut.calculate(agg::image_filter_sinc(3), true); break;
    default: lut.calculate(agg::image_filter_bilinear(), true); break;
  }
}

template <class Ras>
void set_coverage(Ras& ras, const MasterState& m) {
  if (m.master_alpha == 255 && float_equal(m.gamma, 1.0)) {
    if (m.anti_aliasing)
      ras.gamma(agg::gamma_none());
    else
      ras.gamma(agg::gamma_threshold(0.5));
    return;
  }
  const double mult = m.master_alpha / 255.0;
  if (m.anti_aliasing)
    ras.gamma(qlm_agg::gamma_power_multiply(m.gamma, mult));
  else
    ras.gamma(qlm_agg::gamma_threshold_power_multiply(m.gamma, mult));
}

}  // namespace

void cRendererSurface::UpdateDerived() {
  set_coverage(mRas, mMaster);
  set_coverage(mRas2, mMaster);
  const uint8_t a = mMaster.master_alpha;
  const bool aa = mMaster.anti_aliasing;
  for (rStoredColor* c :
       {&mFill.color, &mPen.color, &mPen.vertex_color, &mShadow.color, &mText.back_color, &mText.color})
    c->Rescale(a, aa);
  // The pen pattern's filter (bilinear or nearest) follows anti-aliasing; it
  // is chosen when the pattern is built from its tile pixels.
}

void cRendererSurface::ApplyCompOp() {
  if (mSurface == nullptr) return;
  qlm_agg::any_rgba_target* custom = mMaster.comp_op != 0 ? mSurface->GetPixelFormat(cnSurfaceCustom) : nullptr;
  if (custom == nullptr) {
    mMaster.comp_op = 0;
    mBase.attach(*mSurface->GetPixelFormat(cnSurfaceStraight));
    if (qlm_agg::any_rgba_target* second = mSurface->GetPixelFormat(cnSurfaceStraightSecond)) mClipBase.attach(*second);
  } else {
    custom->comp_op(mMaster.comp_op);
    mBase.attach(*custom);
    if (qlm_agg::any_rgba_target* second = mSurface->GetPixelFormat(cnSurfaceCustomSecond)) {
      second->comp_op(mMaster.comp_op);
      mClipBase.attach(*second);
    }
  }
  if (qlm_agg::any_rgba_target* pre_second = mSurface->GetPixelFormat(cnSurfacePreSecond))
    mClipBasePre.attach(*pre_second);
}

// --- Render modes -------------------------------------------------------------

void cRendererSurface::SetRenderMode(uint8_t mode) {
  const uint8_t m = (mode >= 2 && mode <= 4) ? mode : 1;
  SetPenRenderMode(m);
  SetFillRenderMode(m);
  SetShadowRenderMode(m);
}
void cRendererSurface::SetPenRenderMode(uint8_t mode) { mMaster.pen_render_mode = eRenderMode(mode > 1 ? mode : 1); }
uint8_t cRendererSurface::GetPenRenderMode() { return uint8_t(mMaster.pen_render_mode); }
void cRendererSurface::SetFillRenderMode(uint8_t mode) { mMaster.fill_render_mode = eRenderMode(mode > 1 ? mode : 1); }
uint8_t cRendererSurface::GetFillRenderMode() { return uint8_t(mMaster.fill_render_mode); }
void cRendererSurface::SetShadowRenderMode(uint8_t mode) { mMaster.shadow_render_mode = eRenderMode(mode); }
uint8_t cRendererSurface::GetShadowRenderMode() { return uint8_t(mMaster.shadow_render_mode); }
void cRendererSurface::SetTextRenderMode(uint8_t mode) { mText.render_mode = mode; }
uint8_t cRendererSurface::GetTextRenderMode() { return mText.render_mode; }

// --- Master colour, anti-aliasing, gamma, alpha ---------------------------------

uint32_t cRendererSurface::GetMasterColor() { return mMaster.master_color.Get(); }
void cRendererSurface::SetMasterColor(uint32_t color) {
  // The alpha in effect is fixed now; later master changes leave it.
  mMaster.master_color.Set(color, mMaster.master_alpha, mMaster.anti_aliasing);
}
void cRendererSurface::ResetMasterColor(bool) { mMaster.master_color = rStoredColor{}; }

void cRendererSurface::SetAntiAliasing(bool flag) {
  mMaster.anti_aliasing = flag;
  UpdateDerived();
}
bool cRendererSurface::IsAntiAliasing() { return mMaster.anti_aliasing; }

void cRendererSurface::SetGamma(double gamma) {
  if (std::isnan(gamma)) return;  // a NaN would reach every coverage value
  mMaster.gamma = gamma;
  UpdateDerived();
}
double cRendererSurface::GetGamma() { return mMaster.gamma; }

void cRendererSurface::SetMasterAlpha(uint32_t alpha) {
  mMaster.master_alpha = uint8_t(alpha > 255 ? 255 : alpha);
  UpdateDerived();
}
uint8_t cRendererSurface::GetMasterAlpha() { return mMaster.master_alpha; }

void cRendererSurface::SetCulling(bool flag) { mMaster.culling = flag; }
bool cRendererSurface::IsCulling() { return mMaster.culling; }

// --- Pixel snap -------------------------------------------------------------------

void cRendererSurface::SetPixelSnap(double fx, double fy) {
  if (!std::isfinite(fx) || !std::isfinite(fy)) return;
  mMaster.pixel_snap = true;
  mMaster.snap_x = fx;
  mMaster.snap_y = fy;
  mSnap.set(fx, fy);
}
double cRendererSurface::GetPixelSnapX() { return mMaster.snap_x; }
double cRendererSurface::GetPixelSnapY() { return mMaster.snap_y; }
bool cRendererSurface::IsPixelSnap() { return mMaster.pixel_snap; }
void cRendererSurface::PixelSnapOff() {
  mMaster.pixel_snap = false;
  mSnap.set(-1, -1);
}

// --- Compositing ------------------------------------------------------------------

void cRendererSurface::SetCompOp(uint8_t op) {
  // Numbers above 28 mean normal: AGG's own table would be indexed beyond
  // its end.
  mMaster.comp_op = op <= qlm_agg::cnCompOpCount ? op : 0;
  ApplyCompOp();
}
uint8_t cRendererSurface::GetCompOp() { return mMaster.comp_op; }
bool cRendererSurface::IsCompOp() { return mMaster.comp_op != 0; }
void cRendererSurface::ResetCompOp() { SetCompOp(0); }

// --- Filter callback -------------------------------------------------------------

bool cRendererSurface::SetFilterCallback(tRendererFilterCallback callback, int32_t margin, void* user) {
  if (callback != nullptr && margin >= 0) {
    mMaster.filter = callback;
    mMaster.filter_margin = margin;
    mMaster.filter_user = user;
    mMaster.filter_on = true;
  } else {
    mMaster.filter_on = false;
  }
  return mMaster.filter_on;
}
bool cRendererSurface::IsFilterCallback() { return mMaster.filter_on; }
bool cRendererSurface::FilterCallbackOn() {
  if (mMaster.filter != nullptr && mMaster.filter_margin >= 0) mMaster.filter_on = true;
  return mMaster.filter_on;
}
void cRendererSurface::FilterCallbackOff() { mMaster.filter_on = false; }

void cRendererSurface::ResetMaster(bool) {
  const rStoredColor override_color = mMaster.override_color;
  const eRenderMode modes[3] = {mMaster.pen_render_mode, mMaster.fill_render_mode, mMaster.shadow_render_mode};
  mMaster = MasterState{};
  mMaster.override_color = override_color;  // no group reset touches it
  // The render modes are reset with their own groups.
  mMaster.pen_render_mode = modes[0];
  mMaster.fill_render_mode = modes[1];
  mMaster.shadow_render_mode = modes[2];
  mSnap.set(-1, -1);
  ResetMasterColor(false);
  // Derived settings follow the record at once, so a reset renderer never
  // draws with a stale gamma, alpha or compositing operation.
  UpdateDerived();
  ApplyCompOp();
}

// --- Image group ------------------------------------------------------------------

void cRendererSurface::SetImageTintOp(uint8_t op) { mImage.tint_op = op == 0 ? 3 : op; }
uint8_t cRendererSurface::GetImageTintOp() { return mImage.tint_op; }
bool cRendererSurface::IsImageTint() { return mImage.tint_op != 3; }
void cRendererSurface::ImageTintOff() { mImage.tint_op = 3; }
uint32_t cRendererSurface::GetImageTintColor() { return mImage.tint_color; }
void cRendererSurface::SetImageTintColor(uint32_t color) { mImage.tint_color = color; }
void cRendererSurface::ResetImageTintColor(bool) { mImage.tint_color = renderer_color(0, 0, 0, 255); }
void cRendererSurface::SetImageFilter(uint8_t filter) {
  mImage.filter = filter;
  build_image_filter(mImageLut, filter);
}
uint8_t cRendererSurface::GetImageFilter() { return mImage.filter; }
void cRendererSurface::ResetImageParameters(bool) {
  mImage = ImageState{};
  SetImageFilter(0);
  ResetImageTintColor(false);
}
