// cRenderer's non-virtual operations.
#include "qlm_renderer.h"

#include <algorithm>

#include "qlm_renderer_surface.h"

int32_t cRenderer::GetWidth() const { return mSurface != nullptr ? mSurface->GetWidth() : 0; }
int32_t cRenderer::GetHeight() const { return mSurface != nullptr ? mSurface->GetHeight() : 0; }

void cRenderer::SetUpdateRect(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (mAttached) return;
  mUpdateRect = rRect::Construct(x1, y1, x2, y2);
  mUpdateRectSet = true;
}

void cRenderer::SetOrigin(int32_t x, int32_t y) {
  if (mAttached) return;
  mOriginX = x;
  mOriginY = y;
  mOriginSet = x != 0 || y != 0;
}

void cRenderer::ClearOrigin() {
  if (mAttached) return;
  mOriginX = 0;
  mOriginY = 0;
  mOriginSet = false;
}

void cRenderer::SetMasterOpacity(double opacity) {
  // Held to 0..1 first: trunc(-0.1 x 255 + 0.5) would be negative and, as an
  // unsigned alpha, become opaque.
  if (!(opacity > 0)) opacity = 0;
  if (opacity > 1) opacity = 1;
  SetMasterAlpha(uint32_t(std::trunc(opacity * 255 + 0.5)));
}

void cRenderer::DrawRoundRectTopBottom(cHitTest* hit, double x1, double y1, double x2, double y2, double rx1,
                                       double ry1, double rx2, double ry2) {
  const double top = std::min(y1, y2);
  const double bottom = std::max(y1, y2);
  DrawRoundedRectangle(hit, x1, top, x2, bottom, rx2, ry2, rx2, ry2, rx1, ry1, rx1, ry1);
}
