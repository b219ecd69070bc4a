// TKVNCompositeCustomControl: several scenes as layers of a scrollable
// content area, blended into one 32-bit bitmap under the control's own
// anti-aliased scroll bars. The document viewer and the print preview
// derive from it.
#pragma once

#include <memory>

#include "kvn_scene.h"
#include "qlm_base_array.h"
#include "ui_app.h"
#include "ui_controls.h"

class cHitTest;

// The layer records of a composite, linked in the order they were added.
class cCompositeLayers : public cArrayOf<rCompositeLayer, 1> {
 public:
  cCompositeLayers() : cArrayOf<rCompositeLayer, 1>(5) {}
};

// Blends the overlap of source (placed at sourceLeft, sourceTop) into
// target (at targetLeft, targetTop), both positions in one space. A 32-bit
// source is taken as pre-multiplied: t = (256 - a) x t / 256 + s per colour
// byte, held at 255 for a source that is not; alpha 255 copies. A 24-bit
// source copies. A 32-bit target's alpha becomes 255 - (255 - t.a) x
// (256 - a) / 256. False, and nothing changes, without overlap or when
// either bitmap is not pf24bit or pf32bit.
bool bitmap_blend_argb(ui::TBitmap* target, int32_t targetLeft, int32_t targetTop, const ui::TBitmap* source,
                       int32_t sourceLeft, int32_t sourceTop);

class TKVNCompositeCustomControl : public ui::TCustomControl {
 public:
  // Hover parts.
  enum : uint8_t { hpNone, hpOutside, hpUp, hpVThumb, hpDown, hpLeft, hpHThumb, hpRight };
  // The bits of Bars: which scroll bars may show.
  enum : uint8_t { sbHorizontal = 1, sbVertical = 2, sbBoth = sbHorizontal | sbVertical };

  explicit TKVNCompositeCustomControl(ui::TComponent* owner);
  ~TKVNCompositeCustomControl() override;

  // Appends a layer (content pixels) showing the scene and invalidates the
  // scene; none without a scene. The content extent is known at once.
  rCompositeLayer* AddLayer(int32_t x, int32_t y, int32_t width, int32_t height, TRenderingScene* scene);
  // Removes every layer (the scenes stay their owners'); with resetScroll
  // the offsets go back to 0.
  void ClearLayers(bool resetScroll);
  void BeginUpdate() { mUpdating = true; }
  void EndUpdate();
  // Marks the composition dirty and, unless updates are held back,
  // invalidates and paints now.
  void Repaint();
  void SetScrollBarColor(uint32_t color) { BarColor = color; }
  void ScrollBy(int32_t dx, int32_t dy);
  void ScrollToEnd();
  // Starts dragging the content from a client point inside the bitmap
  // (and captures the mouse).
  void BeginDragScroll(int32_t x, int32_t y);

  virtual void UpdateHover(int32_t x, int32_t y, bool& handled);
  virtual void TimerHook(bool&) {}
  virtual void DrawScrollbars(int32_t width, int32_t height);

  void Paint() override;
  intptr_t WmMouseMove(const ui::TMouseMsg& m) override;
  intptr_t WmLButtonDown(const ui::TMouseMsg& m) override;
  intptr_t WmLButtonUp(const ui::TMouseMsg& m) override;
  intptr_t WmCaptureChanged() override;
  intptr_t WmMouseWheel(const ui::TWheelMsg& m) override;
  intptr_t WmSize(int width, int height) override;

  // Fields subclasses set.
  uint8_t Bars = sbBoth;
  uint32_t BackgroundColor = 0xFFFFFFFF;
  uint32_t BarColor = 0xFFC0C0C0;
  int32_t BarSize = 20;
  int32_t Step = 20;
  bool HideWhenOutside = false;

  int32_t ScrollX() const { return mScrollX; }
  int32_t ScrollY() const { return mScrollY; }
  int32_t ContentWidth() const { return mContentWidth; }
  int32_t ContentHeight() const { return mContentHeight; }
  // The height scrolled over at the control's width: the content, and
  // below it the rows the horizontal bar covers while that bar shows, so
  // that the content scrolled to its end ends above the bar.
  int64_t ScrollHeight() const { return ScrollHeightAt(Width()); }
  uint8_t HoverPart() const { return mHoverPart; }
  bool FormInFront() const { return mFormInFront; }
  bool Dirty() const { return mDirty; }
  const ui::TBitmap& Composite() const { return mBitmap; }
  const cCompositeLayers& Layers() const { return mLayers; }
  ui::TTimer* BarTimer() const { return mBarTimer.get(); }
  // Thumb geometry of the last drawing (vertical, then horizontal).
  double VThumbOffset() const { return mVThumbOffset; }
  double VFreeTrack() const { return mVFreeTrack; }
  double VScale() const { return mVScale; }
  double VThumbLength() const { return mVThumbLength; }
  double HThumbOffset() const { return mHThumbOffset; }
  double HFreeTrack() const { return mHFreeTrack; }
  double HScale() const { return mHScale; }
  double HThumbLength() const { return mHThumbLength; }

 protected:
  cRenderer* Renderer() const { return mRenderer.get(); }
  cHitTest* PressedPart() const { return mPressed; }
  std::unique_ptr<cHitTest> mLeftArrow, mRightArrow, mHThumb, mUpArrow, mDownArrow, mVThumb;

 private:
  struct TimerFree {
    void operator()(ui::TTimer* t) const { ui::TObject::Free(t); }
  };
  void ComputeExtent();
  bool ShowsHorizontalBar(int32_t width) const;
  int64_t ScrollHeightAt(int32_t width) const;
  // Holds the offsets to the content less the bitmap size (and not below 0);
  // answers whether they changed.
  bool Clamp(int32_t width, int32_t height);
  void SetScroll(int64_t x, int64_t y);
  void BarTick();
  bool ArrowHeld() const;
  void DrawBar(bool vertical, int32_t width, int32_t height);

  std::unique_ptr<cSurfaceTBitmap> mSurface;
  std::unique_ptr<cRenderer> mRenderer;
  cCompositeLayers mLayers;
  ui::TBitmap mBitmap;
  bool mDirty = true;
  bool mUpdating = false;
  int32_t mScrollX = 0, mScrollY = 0;
  int32_t mContentWidth = 0, mContentHeight = 0;
  uint8_t mHoverPart = hpNone;
  std::unique_ptr<ui::TTimer, TimerFree> mBarTimer;
  cHitTest* mPressed = nullptr;
  double mVDragStart = 0, mVThumbOffset = 0, mVFreeTrack = 0, mVScale = 0, mVThumbLength = 0;
  double mHDragStart = 0, mHThumbOffset = 0, mHFreeTrack = 0, mHScale = 0, mHThumbLength = 0;
  bool mDragScrolling = false;
  ui::TPoint mDragStartPoint;
  ui::TPoint mDragStartScroll;
  bool mFormInFront = false;
};
