// cHitTest: registration bounds, the hit query and the drag state.
#include "qlm_renderer_hittest.h"

#include <algorithm>
#include <cmath>

#include "qlm_renderer_buffers.h"
#include "qlm_renderer_state.h"

cHitTest::cHitTest() : mMask(std::make_unique<gray8_mask_buffer>()) {}
cHitTest::~cHitTest() = default;

void cHitTest::ClipToMask(const agg::pixfmt_gray8& clip) { mMask->And(clip); }
int32_t cHitTest::MaskOriginX() const { return mMask->OriginX(); }
int32_t cHitTest::MaskOriginY() const { return mMask->OriginY(); }
int32_t cHitTest::MaskWidth() const { return int32_t(mMask->width()); }
int32_t cHitTest::MaskHeight() const { return int32_t(mMask->height()); }
agg::pixfmt_gray8* cHitTest::GreyAccessor() { return mMask->GreyAccessor(); }

bool cHitTest::Identify(uint32_t id) const { return (id != 0 && id == id_cHitTest) || cBase::Identify(id); }

void cHitTest::Reset() {
  mMask->Reset();
  mX1 = mY1 = mX2 = mY2 = 0;
  mOriginX = mOriginY = 0;
  mWidth = mHeight = 0;
  mEmpty = true;
}

bool cHitTest::Extend(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t fill, const rRect& update, int32_t ox,
                      int32_t oy) {
  if (x1 >= x2 || y1 >= y2) return false;
  // Origin-free bounds in 64 bits: the subtraction must not wrap.
  const int64_t bx1 = int64_t(x1) - ox, by1 = int64_t(y1) - oy, bx2 = int64_t(x2) - ox, by2 = int64_t(y2) - oy;
  int64_t nx1 = bx1, ny1 = by1, nx2 = bx2, ny2 = by2;
  if (!mEmpty) {
    nx1 = std::min<int64_t>(mX1, bx1), ny1 = std::min<int64_t>(mY1, by1);
    nx2 = std::max<int64_t>(mX2, bx2), ny2 = std::max<int64_t>(mY2, by2);
  }
  if (nx1 < INT32_MIN || ny1 < INT32_MIN || nx2 > INT32_MAX || ny2 > INT32_MAX) return false;
  // The bounds' width and height are 32-bit as well.
  if (nx2 - nx1 > INT32_MAX || ny2 - ny1 > INT32_MAX) return false;
  const int32_t cx1 = std::max(x1, update.x1), cy1 = std::max(y1, update.y1);
  const int32_t cx2 = std::min(x2, update.x2), cy2 = std::min(y2, update.y2);
  // A shape wholly outside the update rectangle grows nothing; earlier
  // registrations keep answering.
  if (!mMask->Grow(cx1, cy1, cx2, cy2, fill)) return false;
  mX1 = int32_t(nx1), mY1 = int32_t(ny1), mX2 = int32_t(nx2), mY2 = int32_t(ny2);
  mOriginX = ox;
  mOriginY = oy;
  mWidth = int32_t(nx2 - nx1);
  mHeight = int32_t(ny2 - ny1);
  mEmpty = false;
  return true;
}

uint8_t cHitTest::HitTest(double x, double y) const {
  if (!mMask->IsValid() || !std::isfinite(x) || !std::isfinite(y)) return 0;
  const double rx = std::nearbyint(x), ry = std::nearbyint(y);
  if (rx < mX1 || rx > mX2 || ry < mY1 || ry > mY2) return 0;  // both ends included
  const int64_t col = int64_t(rx) + mOriginX - mMask->OriginX();
  const int64_t row = int64_t(ry) + mOriginY - mMask->OriginY();
  if (col < 0 || row < 0 || col >= int64_t(mMask->width()) || row >= int64_t(mMask->height())) return 0;
  const uint8_t v = mMask->row_ptr(int(row))[col];
  return v >= mThreshold ? v : 0;
}

uint8_t cHitTest::Anchor(double x, double y, const cTransformations* transformations) {
  double ax = x, ay = y;
  if (transformations != nullptr) transformations->MapPoint(ax, ay, true);
  mAnchorX = ax;
  mAnchorY = ay;
  mDeltaX = mDeltaY = 0;
  const uint8_t r = HitTest(x, y);
  mDragging = r > 0;
  return r;
}

void cHitTest::DragTo(double x, double y, const cTransformations* transformations) {
  double px = x, py = y;
  if (transformations != nullptr) transformations->MapPoint(px, py, true);
  mDeltaX = px - mAnchorX;
  mDeltaY = py - mAnchorY;
}

void cHitTest::EndDrag(bool keep) {
  mDragging = false;
  if (keep) {
    mAccX += mDeltaX;
    mAccY += mDeltaY;
  }
  mDeltaX = mDeltaY = 0;
}
