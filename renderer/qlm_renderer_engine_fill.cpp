// The fill group beyond plain storing: pattern tiles made by a callback or
// from a bitmap, the gradient slot, and the wave and swirl distortions.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "qlm_base_util.h"
#include "qlm_gradient.h"
#include "qlm_renderer_engine.h"
#include "qlm_renderer_ids.h"

namespace {
bool usable(double v) { return std::isfinite(v); }
}  // namespace

// --- Pattern tiles ---------------------------------------------------------------------

void cRendererSurface::SetFillPatternCallback(uint32_t width, uint32_t height, tRendererPatternCallback callback,
                                              void* user) {
  // The fill is off while the tile is made; a failure leaves it off until
  // FillOn brings back the saved kind.
  mFill.saved_kind = mFill.kind;
  mFill.kind = eFillKind::off;
  mFill.pattern_valid = false;
  const int64_t w = width == 0 ? 1 : width;
  const int64_t h = height == 0 ? 1 : height;
  if (w > qlm_agg::cnMaxSurfaceSide || h > qlm_agg::cnMaxSurfaceSide || !mFillTile.Init(int32_t(w), int32_t(h))) return;
  if (mNested == nullptr) {
    mNested.reset(new (std::nothrow) cRendererSurface());
    if (mNested == nullptr) return;
  }
  cSurfaceBitmapRGBA surface;
  if (!surface.Attach(&mFillTile) || !mNested->AttachSurface(&surface)) return;
  if (callback != nullptr) callback(mNested.get(), user);
  // Detached before the temporary surface goes: a later detach or write-back
  // must not reach it.
  mNested->DetachSurface();
  mFill.kind = mFill.saved_kind = eFillKind::pattern;
  mFill.pattern_valid = true;
}

void cRendererSurface::SetFillPatternBitmap(cBitmap* bitmap, int32_t width, int32_t height) {
  if (bitmap == nullptr || !bitmap->IsOpened()) return;
  const int64_t bw = bitmap->Width(), bh = bitmap->Height();
  int64_t w = width < 0 ? 0 : width;
  int64_t h = height < 0 ? 0 : height;
  // Round to nearest, ties to even; a computed 0 becomes 1.
  if (w == 0 && h == 0) {
    w = bw;
    h = bh;
  } else if (w == 0) {
    w = std::max<int64_t>(1, int64_t(std::nearbyint(double(bw) * double(h) / double(bh))));
  } else if (h == 0) {
    h = std::max<int64_t>(1, int64_t(std::nearbyint(double(bh) * double(w) / double(bw))));
  }
  // The tile is made in a buffer of its own: a failure leaves the pattern
  // as it was.
  rgba8_buffer made;
  if (w != bw || h != bh) {
    // A scaled tile: the nested renderer draws the bitmap as an image,
    // stretched half a tile pixel beyond each edge.
    // The tile is drawn on a surface of its own, whose sides the renderer
    // holds to cnMaxSurfaceSide.
    if (w > qlm_agg::cnMaxSurfaceSide || h > qlm_agg::cnMaxSurfaceSide || !made.Init(int32_t(w), int32_t(h))) return;
    if (mNested == nullptr) {
      mNested.reset(new (std::nothrow) cRendererSurface());
      if (mNested == nullptr) return;
    }
    cSurfaceBitmapRGBA surface;
    if (!surface.Attach(&made) || !mNested->AttachSurface(&surface)) return;
    // The image drawing reports nothing: the bitmap is converted into the
    // nested renderer's image buffer here, so that a conversion that fails
    // leaves the pattern as it was instead of making a transparent tile.
    // The drawing then finds the pixels already converted. The bitmap this
    // renderer draws into counts its changes only when it is let go: it is
    // converted afresh, never taken from an older copy.
    if (object_identify(mSurface, id_cSurfaceBitmap) && static_cast<cSurfaceBitmap*>(mSurface)->Bitmap() == bitmap)
      mNested->mImageBuffer.Init(1, 1);
    if (!mNested->mImageBuffer.LoadBitmap(bitmap)) {
      mNested->DetachSurface();
      return;
    }
    const double sx = double(w) / double(bw), sy = double(h) / double(bh);
    mNested->DrawImage(bitmap, false, -sx / 2, -sy / 2, double(w) + sx / 2, double(h) + sy / 2, nullptr);
    // Detached before the temporary surface goes.
    mNested->DetachSurface();
  } else if (!made.LoadBitmap(bitmap)) {
    return;
  }
  // The tile made aside takes the pattern's place: nothing to allocate, so
  // nothing that can fail after the old tile is gone.
  mFillTile.Swap(made);
  mFill.kind = mFill.saved_kind = eFillKind::pattern;
  mFill.pattern_valid = true;
}

void cRendererSurface::SetFillPatternOffset(int32_t x, int32_t y) {
  mFill.pattern_x = x;
  mFill.pattern_y = y;
}
void cRendererSurface::SetFillPatternWrap(uint8_t wrap) { mFill.pattern_wrap = wrap; }
void cRendererSurface::SetFillPatternAbsolute(bool flag) { mFill.pattern_absolute = flag; }
void cRendererSurface::FillPatternOn() {
  if (mFill.pattern_valid) mFill.kind = mFill.saved_kind = eFillKind::pattern;
}

// --- Gradients ----------------------------------------------------------------------------

void cRendererSurface::SetFillGradient(cGradient* gradient) {
  // A nil, invalid or unknown gradient leaves no kind and keeps the stored
  // object (a gradient fill then paints nothing).
  mFill.gradient_kind = eGradientKind::none;
  const eGradientKind kind = gradient_kind_of(gradient);
  if (kind == eGradientKind::none) return;
  mFill.gradient = gradient;
  mFill.gradient_kind = kind;
  mFill.kind = mFill.saved_kind = eFillKind::gradient;
}

void cRendererSurface::ReapplyFillGradient() {
  // The gradient is borrowed: a caller frees it only after resetting it.
  if (mFill.gradient != nullptr) SetFillGradient(mFill.gradient);
}

// --- Distortions ----------------------------------------------------------------------------

void cRendererSurface::WaveOn() {
  mFill.wave_mode = mFill.swirl_mode > 0 ? 2 : 1;
  mFill.distortions = true;
}
void cRendererSurface::WaveOff() {
  mFill.wave_mode = 0;
  if (mFill.swirl_mode == 2) mFill.swirl_mode = 1;
  mFill.distortions = mFill.swirl_mode > 0;
}
void cRendererSurface::SwirlOn() {
  mFill.swirl_mode = mFill.wave_mode > 0 ? 2 : 1;
  mFill.distortions = true;
}
void cRendererSurface::SwirlOff() {
  mFill.swirl_mode = 0;
  if (mFill.wave_mode == 2) mFill.wave_mode = 1;
  mFill.distortions = mFill.wave_mode > 0;
}
void cRendererSurface::SetDistortionCenter(double x, double y) {
  if (!usable(x) || !usable(y)) return;
  mFill.distortion_x = x;
  mFill.distortion_y = y;
}
void cRendererSurface::SetDistortionPeriod(double period) {
  if (usable(period)) mFill.distortion_period = float_equal(period, 0) ? 0.01 : period;
}
void cRendererSurface::SetDistortionAmplitude(double amplitude) {
  if (usable(amplitude)) mFill.distortion_amplitude = float_equal(amplitude, 0) ? 0.01 : amplitude;
}
void cRendererSurface::SetDistortionPhase(double phase) {
  if (usable(phase)) mFill.distortion_phase = phase;
}
void cRendererSurface::DistortionsOn() { mFill.distortions = mFill.wave_mode > 0 || mFill.swirl_mode > 0; }
void cRendererSurface::DistortionsOff() { mFill.distortions = false; }

qlm_agg::distortion_dispatch cRendererSurface::Distortion() const {
  qlm_agg::distortion_dispatch d;
  if (!mFill.distortions) return d;
  const bool wave = mFill.wave_mode > 0, swirl = mFill.swirl_mode > 0;
  if (wave && !swirl)
    d.kind = qlm_agg::distortion_kind::wave;
  else if (swirl && !wave)
    d.kind = qlm_agg::distortion_kind::swirl;
  else if (wave && swirl)
    d.kind = mFill.wave_mode == 1 ? qlm_agg::distortion_kind::wave_swirl : qlm_agg::distortion_kind::swirl_wave;
  d.params.cx = mFill.distortion_x;
  d.params.cy = mFill.distortion_y;
  d.params.period = mFill.distortion_period;
  d.params.inv_amplitude = 1.0 / mFill.distortion_amplitude;
  d.params.phase = mFill.distortion_phase;
  return d;
}
