// cHitTest: an 8-bit coverage mask of everything drawn with it, in device
// pixels, growing over the bounds of the registered shapes; it answers
// whether a point hits a registered shape, and keeps a small drag state.
#pragma once

#include <cstdint>

#include <memory>

#include "qlm_agg_forward.h"
#include "qlm_base_object.h"
#include "qlm_base_util.h"
#include "qlm_renderer_ids.h"

class cTransformations;
class gray8_mask_buffer;

class cHitTest : public cBase {
 public:
  cHitTest();
  ~cHitTest() override;
  cHitTest(const cHitTest&) = delete;
  cHitTest& operator=(const cHitTest&) = delete;
  bool Identify(uint32_t id) const override;

  // Empties the mask and the bounds; the drag state stays.
  void Reset();
  // The mask byte under the point (rounded to nearest, ties to even) when it
  // reaches the threshold, else 0.
  uint8_t HitTest(double x, double y) const;
  uint8_t HitTestInt(int32_t x, int32_t y) const { return HitTest(x, y); }

  // Drag state: the anchor and the point are mapped back into user space
  // through the transformations when given.
  uint8_t Anchor(double x, double y, const cTransformations* transformations);
  uint8_t AnchorInt(int32_t x, int32_t y, const cTransformations* t) { return Anchor(x, y, t); }
  void DragTo(double x, double y, const cTransformations* transformations);
  void DragToInt(int32_t x, int32_t y, const cTransformations* t) { DragTo(x, y, t); }
  void EndDrag(bool keep);
  bool IsDragging() const { return mDragging; }
  double GetDragX() const { return mAccX + mDeltaX; }
  double GetDragY() const { return mAccY + mDeltaY; }
  void SetHitInterior(bool flag) { mHitInterior = flag; }
  bool IsHitInterior() const { return mHitInterior; }

  // For the renderer: grows the mask over a device rectangle (fill byte for
  // a first registration) within the update rectangle, with the renderer's
  // origin; false when the rectangle is empty or memory fails, and then
  // nothing changes.
  bool Extend(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t fill, const rRect& update, int32_t ox,
              int32_t oy);
  // Clears the mask bytes where the clip mask holds 0.
  void ClipToMask(const agg::pixfmt_gray8& clip);
  int32_t MaskOriginX() const;
  int32_t MaskOriginY() const;
  int32_t MaskWidth() const;
  int32_t MaskHeight() const;
  agg::pixfmt_gray8* GreyAccessor();
  bool IsEmpty() const { return mEmpty; }

 private:
  uint8_t mThreshold = 1;
  bool mDragging = false;
  bool mHitInterior = false;
  double mAnchorX = 0, mAnchorY = 0;
  double mDeltaX = 0, mDeltaY = 0;
  double mAccX = 0, mAccY = 0;
  std::unique_ptr<gray8_mask_buffer> mMask;
  int32_t mX1 = 0, mY1 = 0, mX2 = 0, mY2 = 0;  // origin-free bounds
  int32_t mOriginX = 0, mOriginY = 0;
  int32_t mWidth = 0, mHeight = 0;
  bool mEmpty = true;
};
