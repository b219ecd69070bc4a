// cRendererSurface: construction, binding a surface, clearing it, and the
// override colour.
#include <cmath>
#include <new>

#include "qlm_base_codes.h"
#include "qlm_base_util.h"
#include "qlm_renderer_engine.h"

cRendererSurface::cRendererSurface() : mSolid(mBase), mSolidBin(mBase) { ResetRecord(); }

cRenderer* renderer_create() { return new (std::nothrow) cRendererSurface(); }

cRendererSurface::~cRendererSurface() { mem_free(mClipLayer); }

bool cRendererSurface::AttachSurface(cSurface* surface) {
  mAttached = false;
  mSurface = nullptr;
  return log_and_fail(this, false, [&] {
    if (surface == nullptr) raise_condition_error(errPreCondition, "{surface=NIL}");
    if (!object_identify(surface, id_cSurface))
      raise_condition_error(errPreCondition, "{not surface.Identify(id_cSurface )}");
    if (!surface->IsAssigned()) raise_condition_error(errPreCondition, "{not surface.IsAssigned}");
    if (surface->GetWidth() > qlm_agg::cnMaxSurfaceSide || surface->GetHeight() > qlm_agg::cnMaxSurfaceSide)
      raise_condition_error(errPreCondition, "{surface side > 32767}");
    qlm_agg::any_rgba_target* straight = surface->GetPixelFormat(cnSurfaceStraight);
    qlm_agg::any_rgba_target* pre = surface->GetPixelFormat(cnSurfacePre);
    if (straight == nullptr || pre == nullptr) raise_condition_error(errInvariant, "{surface.GetPixelFormat}");

    mSurface = surface;
    mBoundsX1 = 0;
    mBoundsY1 = 0;
    mBoundsX2 = surface->GetWidth();
    mBoundsY2 = surface->GetHeight();

    mBase.attach(*straight);
    mBasePre.attach(*pre);
    mSolid.attach(mBase);
    mSolidBin.attach(mBase);
    mClipBase = qlm_agg::renderer_any();
    mClipBasePre = qlm_agg::renderer_any();
    mClipBuffersStale = true;

    // Without an update rectangle of its own, the renderer may touch the
    // whole surface, whatever size the previous one had.
    if (!mUpdateRectSet) mUpdateRect = rRect::Construct(0, 0, surface->GetWidth(), surface->GetHeight());
    mRas.clip_box(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2, mUpdateRect.y2);
    mRasClip.clip_box(mUpdateRect.x1, mUpdateRect.y1, mUpdateRect.x2, mUpdateRect.y2);

    ResetAll();
    // ResetAll rebuilt the coverage functions, the alphas in effect and the
    // compositing accessors from the defaults.
    ClearCaptureGroup();
    mCaptureOnly = false;
    mAttached = true;
    return true;
  });
}

void cRendererSurface::DetachSurface() {
  ClipOff();  // writes back a pending clipped drawing
  if (mSurface != nullptr) mSurface->Detach();
  mAttached = false;
  mSurface = nullptr;
  mLayerSpare.reset();  // sized for the surface that was attached
}

bool cRendererSurface::ResetState() {
  if (mAttached) ResetAll();
  return mAttached;
}

void cRendererSurface::Clear(uint32_t color) {
  if (!mAttached) return;
  // Stored bytes: no blending, clipping, update rectangle or master alpha.
  const agg::rgba8 c(uint8_t(color), uint8_t(color >> 8), uint8_t(color >> 16), uint8_t(color >> 24));
  // The straight and pre-multiplied accessors store the colour's bytes as
  // they are, so whole rows can be filled; a compositing accessor keeps
  // AGG's per-pixel clear.
  if (mBase.ren().kind() != qlm_agg::target_kind::custom_blend)
    qlm_agg::clear_whole(mBase.ren(), c);
  else
    mBase.clear(c);
}

uint32_t cRendererSurface::GetOverrideColor() { return mMaster.override_color.Get(); }

void cRendererSurface::SetOverrideColor(uint32_t color) {
  mMaster.override_color.Set(color, mMaster.master_alpha, mMaster.anti_aliasing);
}

void cRendererSurface::ResetOverrideColor(bool) { mMaster.override_color = rStoredColor{}; }
