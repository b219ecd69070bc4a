#include "kvn_composite.h"

#include <algorithm>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "qlm_renderer.h"
#include "qlm_renderer_hittest.h"

// ---------------------------------------------------------------------------
// bitmap_blend_argb

namespace {

int bytes_per_pixel(const ui::TBitmap* b) {
  if (b == nullptr || b->Empty() || !b->HasRows()) return 0;
  return b->PixelFormat() == ui::pf32bit ? 4 : b->PixelFormat() == ui::pf24bit ? 3 : 0;
}

// Held at 255: a sum above it (bit 8 set) becomes 255.
inline uint8_t saturate(unsigned v) { return uint8_t(v | (0u - (v >> 8))); }

// One row of 32-bit pixels. With SSE2 four pixels at a time, in 16-bit
// lanes: g x t and (255 - t.a) x g stay below 65536, and the colour sum
// (at most 510) packs to 255 with unsigned saturation, which is what
// saturate gives. The remaining pixels take the scalar formula.
void blend_row_32(uint8_t* __restrict t, const uint8_t* __restrict s, int64_t n) {
  int64_t i = 0;
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  const __m128i k256 = _mm_set1_epi16(256);
  const __m128i k255 = _mm_set1_epi16(255);
  const __m128i alpha_lanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
  // Two pixels in 16-bit lanes.
  auto half = [&](__m128i tw, __m128i sw) {
    __m128i a = _mm_shufflelo_epi16(sw, _MM_SHUFFLE(3, 3, 3, 3));
    a = _mm_shufflehi_epi16(a, _MM_SHUFFLE(3, 3, 3, 3));
    const __m128i g = _mm_sub_epi16(k256, a);
    const __m128i colour = _mm_add_epi16(_mm_srli_epi16(_mm_mullo_epi16(g, tw), 8), sw);
    const __m128i alpha = _mm_sub_epi16(k255, _mm_srli_epi16(_mm_mullo_epi16(_mm_sub_epi16(k255, tw), g), 8));
    return _mm_or_si128(_mm_andnot_si128(alpha_lanes, colour), _mm_and_si128(alpha_lanes, alpha));
  };
  for (; i + 4 <= n; i += 4) {
    const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i * 4));
    // Four clear source pixels (every byte 0) leave the target as it is:
    // g is 256, so each byte comes back unchanged. Layers of text are
    // mostly clear.
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(sv, zero)) == 0xFFFF) continue;
    const __m128i tv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i * 4));
    const __m128i lo = half(_mm_unpacklo_epi8(tv, zero), _mm_unpacklo_epi8(sv, zero));
    const __m128i hi = half(_mm_unpackhi_epi8(tv, zero), _mm_unpackhi_epi8(sv, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t + i * 4), _mm_packus_epi16(lo, hi));
  }
#endif
  for (i *= 4; i < n * 4; i += 4) {
    const unsigned g = 256u - s[i + 3];
    t[i] = saturate(((g * t[i]) >> 8) + s[i]);
    t[i + 1] = saturate(((g * t[i + 1]) >> 8) + s[i + 1]);
    t[i + 2] = saturate(((g * t[i + 2]) >> 8) + s[i + 2]);
    t[i + 3] = uint8_t(255 - (((255u - t[i + 3]) * g) >> 8));
  }
}

}  // namespace

bool bitmap_blend_argb(ui::TBitmap* target, int32_t targetLeft, int32_t targetTop, const ui::TBitmap* source,
                       int32_t sourceLeft, int32_t sourceTop) {
  const int tb = bytes_per_pixel(target), sb = bytes_per_pixel(source);
  if (tb == 0 || sb == 0) return false;
  // The overlap in the shared space, in 64 bits: positions and sizes may
  // sum past the int range.
  const int64_t x1 = std::max<int64_t>(targetLeft, sourceLeft);
  const int64_t x2 = std::min<int64_t>(int64_t(targetLeft) + target->Width(), int64_t(sourceLeft) + source->Width());
  const int64_t y1 = std::max<int64_t>(targetTop, sourceTop);
  const int64_t y2 = std::min<int64_t>(int64_t(targetTop) + target->Height(), int64_t(sourceTop) + source->Height());
  if (x1 >= x2 || y1 >= y2) return false;
  const int64_t n = x2 - x1;
  for (int64_t y = y1; y < y2; ++y) {
    uint8_t* t = target->ScanLine(int(y - targetTop)) + (x1 - targetLeft) * tb;
    const uint8_t* s = source->ScanLine(int(y - sourceTop)) + (x1 - sourceLeft) * sb;
    if (sb == 3) {
      for (int64_t i = 0; i < n; ++i, t += tb, s += 3) {
        t[0] = s[0], t[1] = s[1], t[2] = s[2];
        if (tb == 4) t[3] = 255;
      }
      continue;
    }
    // One formula for every alpha: with a = 255, g is 1 and the target
    // becomes the source exactly; a = 0 adds nothing to pre-multiplied 0.
    // Pre-multiplied input never passes 255; anything else is held there
    // instead of wrapping around.
    if (tb == 4) {
      blend_row_32(t, s, n);
    } else {
      for (int64_t i = 0; i < n; ++i, t += 3, s += 4) {
        const unsigned g = 256u - s[3];
        const unsigned b = ((g * t[0]) >> 8) + s[0], gr = ((g * t[1]) >> 8) + s[1], r = ((g * t[2]) >> 8) + s[2];
        t[0] = uint8_t(b > 255 ? 255 : b);
        t[1] = uint8_t(gr > 255 ? 255 : gr);
        t[2] = uint8_t(r > 255 ? 255 : r);
      }
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// TKVNCompositeCustomControl

namespace {

// The gap between a scroll bar and the control's edge.
constexpr int32_t kBarMargin = 5;

}  // namespace

TKVNCompositeCustomControl::TKVNCompositeCustomControl(ui::TComponent* owner)
    : TCustomControl(owner), mSurface(std::make_unique<cSurfaceTBitmap>()), mRenderer(renderer_create()) {
  ControlStyle = (ControlStyle | ui::csOpaque) & ~uint32_t(ui::csDoubleClicks);
  SetTabStop(true);
  mBitmap.SetPixelFormat(ui::pf32bit);
  if (Bars & sbHorizontal) {
    mLeftArrow = std::make_unique<cHitTest>();
    mRightArrow = std::make_unique<cHitTest>();
    mHThumb = std::make_unique<cHitTest>();
  }
  if (Bars & sbVertical) {
    mUpArrow = std::make_unique<cHitTest>();
    mDownArrow = std::make_unique<cHitTest>();
    mVThumb = std::make_unique<cHitTest>();
  }
}

TKVNCompositeCustomControl::~TKVNCompositeCustomControl() {
  mBarTimer.reset();
  // The scenes stay their owners'; they forget the freed layer records.
  for (rCompositeLayer* l = mLayers.First(); l != nullptr; l = mLayers.Next(l))
    if (l->scene != nullptr && l->scene->Layer() == l) l->scene->SetLayer(nullptr);
  if (mRenderer) mRenderer->DetachSurface();
}

void TKVNCompositeCustomControl::ComputeExtent() {
  int64_t w = 0, h = 0;
  for (rCompositeLayer* l = mLayers.First(); l != nullptr; l = mLayers.Next(l)) {
    w = std::max(w, int64_t(l->x) + l->width);
    h = std::max(h, int64_t(l->y) + l->height);
  }
  mContentWidth = int32_t(std::clamp<int64_t>(w, 0, INT32_MAX));
  mContentHeight = int32_t(std::clamp<int64_t>(h, 0, INT32_MAX));
}

bool TKVNCompositeCustomControl::ShowsHorizontalBar(int32_t width) const {
  return (Bars & sbHorizontal) && mLeftArrow && width < mContentWidth;
}

int64_t TKVNCompositeCustomControl::ScrollHeightAt(int32_t width) const {
  return int64_t(mContentHeight) + (ShowsHorizontalBar(width) ? int64_t(BarSize) + kBarMargin : 0);
}

bool TKVNCompositeCustomControl::Clamp(int32_t width, int32_t height) {
  const int32_t x = std::max(std::min(mScrollX, mContentWidth - width), 0);
  const int32_t y =
      int32_t(std::clamp<int64_t>(std::min<int64_t>(mScrollY, ScrollHeightAt(width) - height), 0, INT32_MAX));
  const bool changed = x != mScrollX || y != mScrollY;
  mScrollX = x;
  mScrollY = y;
  return changed;
}

void TKVNCompositeCustomControl::SetScroll(int64_t x, int64_t y) {
  const int32_t oldX = mScrollX, oldY = mScrollY;
  mScrollX = int32_t(std::clamp<int64_t>(x, 0, INT32_MAX));
  mScrollY = int32_t(std::clamp<int64_t>(y, 0, INT32_MAX));
  // Against the control's size, which the composite bitmap takes at its next
  // paint: a control not painted yet scrolls right too.
  Clamp(Width(), Height());
  if (mScrollX != oldX || mScrollY != oldY) Repaint();
}

rCompositeLayer* TKVNCompositeCustomControl::AddLayer(int32_t x, int32_t y, int32_t width, int32_t height,
                                                      TRenderingScene* scene) {
  if (scene == nullptr) return nullptr;
  rCompositeLayer* layer = mLayers.Append(1);
  if (layer == nullptr) return nullptr;
  layer->x = x;
  layer->y = y;
  layer->width = std::max(width, 0);
  layer->height = std::max(height, 0);
  layer->scene = scene;
  layer->composite = this;
  scene->SetLayer(layer);
  ComputeExtent();
  scene->Invalidate(true, 0, 0);
  return layer;
}

void TKVNCompositeCustomControl::ClearLayers(bool resetScroll) {
  for (rCompositeLayer* l = mLayers.First(); l != nullptr; l = mLayers.Next(l))
    if (l->scene != nullptr && l->scene->Layer() == l) l->scene->SetLayer(nullptr);
  mLayers.Clear();
  mContentWidth = mContentHeight = 0;
  if (resetScroll) mScrollX = mScrollY = 0;
  mDirty = true;
}

void TKVNCompositeCustomControl::EndUpdate() {
  mUpdating = false;
  if (mDirty) TControl::Repaint();
}

void TKVNCompositeCustomControl::Repaint() {
  mDirty = true;
  if (!mUpdating) TControl::Repaint();
}

void TKVNCompositeCustomControl::ScrollBy(int32_t dx, int32_t dy) {
  SetScroll(int64_t(mScrollX) + dx, int64_t(mScrollY) + dy);
}

void TKVNCompositeCustomControl::ScrollToEnd() { SetScroll(mScrollX, ScrollHeight() - Height()); }

void TKVNCompositeCustomControl::BeginDragScroll(int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x > mBitmap.Width() || y > mBitmap.Height()) return;
  mDragScrolling = true;
  mDragStartPoint = {x, y};
  mDragStartScroll = {mScrollX, mScrollY};
  ui::SetCapture(this);
}

// ---- composition ----

void TKVNCompositeCustomControl::Paint() {
  // The bar timer starts with the first paint.
  if (!mBarTimer && Bars != 0) {
    mBarTimer.reset(new ui::TTimer(nullptr));
    mBarTimer->SetInterval(25);
    mBarTimer->SetOnTimer([this](ui::TObject*) { BarTick(); });
  }
  const int w = Width(), h = Height();
  if (w <= 0 || h <= 0) return;  // nothing shows; the bitmap keeps its size
  if (mBitmap.Width() != w || mBitmap.Height() != h) {
    mBitmap.SetSize(w, h);
    mDirty = true;
  }
  if (mDirty) {
    mDirty = false;
    // The bars and links may have moved under the pointer.
    if (mBarTimer) mBarTimer->Wake();
    bitmap_fill_color(&mBitmap, BackgroundColor);
    ComputeExtent();
    Clamp(w, h);
    const ui::TRect view = ui::Bounds(mScrollX, mScrollY, w, h);
    for (rCompositeLayer* l = mLayers.First(); l != nullptr; l = mLayers.Next(l)) {
      TRenderingScene* scene = l->scene;
      if (scene == nullptr) continue;
      if (scene->RendersWindowed() && !scene->IsThreaded()) {
        // Only the visible part of the layer is rendered, in layer pixels.
        const ui::TRect shown = ui::Bounds(l->x, l->y, l->width, l->height).Intersect(view);
        if (!shown.IsEmpty()) {
          scene->SetWindow(shown.Offset(-l->x, -l->y));
          if (ui::TBitmap* b = scene->AcquireBitmap())
            bitmap_blend_argb(&mBitmap, mScrollX, mScrollY, b, shown.Left, shown.Top);
        }
      } else if (ui::TBitmap* b = scene->AcquireBitmap()) {
        bitmap_blend_argb(&mBitmap, mScrollX, mScrollY, b, l->x, l->y);
      }
      // A layer still rendering hides the ones above it for this pass.
      if (l->scene != nullptr && l->scene->IsBusy()) break;
    }
    // No renderer (its memory failed): no bars, the layers still show.
    if (mRenderer && mSurface->AttachBitmap(&mBitmap, true)) {
      if (mRenderer->AttachSurface(mSurface.get())) {
        DrawScrollbars(w, h);
        mRenderer->DetachSurface();
      }
    }
  }
  Canvas().Draw(0, 0, mBitmap);
}

// ---- scroll bars ----

void TKVNCompositeCustomControl::DrawScrollbars(int32_t width, int32_t height) {
  // Every part's shape is cleared first, so a bar that is not drawn any more
  // takes no clicks.
  for (cHitTest* h :
       {mUpArrow.get(), mDownArrow.get(), mVThumb.get(), mLeftArrow.get(), mRightArrow.get(), mHThumb.get()})
    if (h != nullptr) h->Reset();
  if ((Bars & sbVertical) && mUpArrow && height < ScrollHeightAt(width)) DrawBar(true, width, height);
  if (ShowsHorizontalBar(width)) DrawBar(false, width, height);
  mRenderer->SetCompOp(0);
}

void TKVNCompositeCustomControl::DrawBar(bool vertical, int32_t width, int32_t height) {
  const double S = BarSize, m = kBarMargin;
  const double size = vertical ? height : width;
  const double content = vertical ? double(ScrollHeightAt(width)) : mContentWidth;
  const double scroll = vertical ? mScrollY : mScrollX;
  const double L = size - 2 * m - 3 * S;
  const double thumb = std::max(L * size / content, 2 * S / 3);
  const double p = std::min(scroll, content - size);
  const double F = L - thumb;
  const double q = p / ((content - size) / 100);
  const double offset = q > 0 ? F / 100 * q : 0;
  const double scale = F > 0 ? (content - size) / F : 0;
  (vertical ? mVThumbLength : mHThumbLength) = thumb;
  (vertical ? mVFreeTrack : mHFreeTrack) = F;
  (vertical ? mVThumbOffset : mHThumbOffset) = offset;
  (vertical ? mVScale : mHScale) = scale;
  if (HideWhenOutside && mHoverPart == hpOutside && mPressed == nullptr) return;
  if (!(F > 0)) return;

  cRenderer& r = *mRenderer;
  r.SetPenWidth(1.5);
  auto strength = [&](cHitTest* part, uint8_t hover) {
    // Pen and fill alpha: pressed, hovered, resting.
    if (mPressed == part) {
      r.SetPenColorRGB(BarColor, 178);
      r.SetFillColorRGB(BarColor, 115);
    } else if (mHoverPart == hover) {
      r.SetPenColorRGB(BarColor, 128);
      r.SetFillColorRGB(BarColor, 82);
    } else {
      r.SetPenColorRGB(BarColor, 76);
      r.SetFillColorRGB(BarColor, 49);
    }
  };
  auto chevron = [&](double x1, double y1, double x2, double y2, double x3, double y3) {
    r.SetPenColorRGB(BarColor, 204);
    r.DrawLine(nullptr, x1, y1, x2, y2);
    r.DrawLine(nullptr, x2, y2, x3, y3);
  };
  const double radius = 2 * (BarSize / 3);
  if (vertical) {
    const double X = width - m - S, Y1 = height - m - 2 * S, T = m + S + offset;
    strength(mUpArrow.get(), hpUp);
    r.DrawCircle(mUpArrow.get(), X + S / 2, m + S / 2, S / 2);
    chevron(X + 5, m + S - 7, X + S / 2, m + 7, X + S - 5, m + S - 7);
    strength(mDownArrow.get(), hpDown);
    r.DrawCircle(mDownArrow.get(), X + S / 2, Y1 + S / 2, S / 2);
    chevron(X + 5, Y1 + 7, X + S / 2, Y1 + S - 7, X + S - 5, Y1 + 7);
    strength(mVThumb.get(), hpVThumb);
    r.ResetDash(false);
    r.AddDash(5, 5);
    if (offset > 0) r.DrawLine(nullptr, X + S / 2, T, X + S / 2, m + S + 0.5);
    r.DrawLine(nullptr, X + S / 2, T + thumb + 0.5, X + S / 2, Y1 - 0.5);
    r.ResetDash(true);
    r.DrawRoundRectXYWH(mVThumb.get(), X + 2, T + 1, S - 4, thumb - 2, radius);
  } else {
    const double Y = height - m - S, X1 = width - m - 2 * S, Lx = m + S + offset;
    strength(mLeftArrow.get(), hpLeft);
    r.DrawCircle(mLeftArrow.get(), m + S / 2, Y + S / 2, S / 2);
    chevron(m + S - 8, Y + 5, m + 6, Y + S / 2, m + S - 8, Y + S - 5);
    strength(mRightArrow.get(), hpRight);
    r.DrawCircle(mRightArrow.get(), X1 + S / 2, Y + S / 2, S / 2);
    chevron(X1 + 8, Y + 5, X1 + S - 6, Y + S / 2, X1 + 8, Y + S - 5);
    strength(mHThumb.get(), hpHThumb);
    r.ResetDash(false);
    r.AddDash(5, 5);
    if (offset > 0) r.DrawLine(nullptr, Lx, Y + S / 2, m + S + 0.5, Y + S / 2);
    r.DrawLine(nullptr, Lx + thumb + 0.5, Y + S / 2, X1 - 0.5, Y + S / 2);
    r.ResetDash(true);
    r.DrawRoundRectXYWH(mHThumb.get(), Lx + 1, Y + 2, thumb - 2, S - 4, radius);
  }
}

// ---- hover and the bar timer ----

void TKVNCompositeCustomControl::UpdateHover(int32_t x, int32_t y, bool& handled) {
  const ui::TForm* form = ParentForm();
  mFormInFront = form != nullptr && form->IsForeground();
  if (handled || mDragScrolling) return;
  // Auto-repeat while an arrow is held.
  const struct {
    cHitTest* part;
    int32_t dx, dy;
  } arrows[] = {{mUpArrow.get(), 0, -Step},
                {mDownArrow.get(), 0, Step},
                {mLeftArrow.get(), -Step, 0},
                {mRightArrow.get(), Step, 0}};
  for (const auto& a : arrows) {
    if (a.part != nullptr && a.part->IsDragging()) {
      ScrollBy(a.dx, a.dy);
      handled = true;
      return;
    }
  }
  uint8_t part = hpNone;
  if (mFormInFront) {
    const std::pair<cHitTest*, uint8_t> parts[] = {{mUpArrow.get(), hpUp},     {mVThumb.get(), hpVThumb},
                                                   {mDownArrow.get(), hpDown}, {mLeftArrow.get(), hpLeft},
                                                   {mHThumb.get(), hpHThumb},  {mRightArrow.get(), hpRight}};
    for (const auto& [hit, id] : parts) {
      if (hit != nullptr && hit->HitTestInt(x, y) > 0) {
        part = id;
        break;
      }
    }
  }
  if (part == hpNone && HideWhenOutside && (x < 0 || y < 0 || x > mBitmap.Width() || y > mBitmap.Height()))
    part = hpOutside;
  if (part != mHoverPart) {
    mHoverPart = part;
    handled = true;
    Repaint();
  }
}

void TKVNCompositeCustomControl::BarTick() {
  bool handled = false;
  TimerHook(handled);
  if (Showing() && ui::Mouse != nullptr) {
    const ui::TPoint p = ScreenToClient(ui::Mouse->CursorPos());
    handled = false;
    UpdateHover(p.X, p.Y, handled);
  }
  // Only a held arrow repeats by itself. Everything else the tick reads
  // changes with pointer input, a window's activation or the layout (which
  // wake sleeping timers) or with a new composition (Paint wakes it).
  if (mBarTimer && !ArrowHeld()) mBarTimer->Sleep();
}

bool TKVNCompositeCustomControl::ArrowHeld() const {
  for (const cHitTest* a : {mUpArrow.get(), mDownArrow.get(), mLeftArrow.get(), mRightArrow.get()})
    if (a != nullptr && a->IsDragging()) return true;
  return false;
}

// ---- messages ----

intptr_t TKVNCompositeCustomControl::WmMouseMove(const ui::TMouseMsg& m) {
  if (mDragScrolling) {
    SetScroll(int64_t(mDragStartScroll.X) + mDragStartPoint.X - m.X,
              int64_t(mDragStartScroll.Y) + mDragStartPoint.Y - m.Y);
    return 0;
  }
  if (mVThumb && mPressed == mVThumb.get() && mVThumb->IsDragging()) {
    mVThumb->DragToInt(m.X, m.Y, nullptr);
    const double b = std::clamp(mVThumb->GetDragY() + mVDragStart, 0.0, std::max(mVFreeTrack, 0.0));
    SetScroll(mScrollX, int64_t(std::nearbyint(b * mVScale)));
    return 0;
  }
  if (mHThumb && mPressed == mHThumb.get() && mHThumb->IsDragging()) {
    mHThumb->DragToInt(m.X, m.Y, nullptr);
    const double b = std::clamp(mHThumb->GetDragX() + mHDragStart, 0.0, std::max(mHFreeTrack, 0.0));
    SetScroll(int64_t(std::nearbyint(b * mHScale)), mScrollY);
    return 0;
  }
  for (cHitTest* h :
       {mVThumb.get(), mUpArrow.get(), mDownArrow.get(), mHThumb.get(), mLeftArrow.get(), mRightArrow.get()})
    if (h != nullptr && h->HitTestInt(m.X, m.Y) > 0) return 0;
  return 1;
}

intptr_t TKVNCompositeCustomControl::WmLButtonDown(const ui::TMouseMsg& m) {
  if (TabStop()) SetFocus();
  const struct {
    cHitTest* part;
    int32_t dx, dy;
  } parts[] = {{mVThumb.get(), 0, 0}, {mUpArrow.get(), 0, -Step},   {mDownArrow.get(), 0, Step},
               {mHThumb.get(), 0, 0}, {mLeftArrow.get(), -Step, 0}, {mRightArrow.get(), Step, 0}};
  for (const auto& p : parts) {
    if (p.part == nullptr || p.part->AnchorInt(m.X, m.Y, nullptr) == 0) continue;
    mPressed = p.part;
    if (p.part == mVThumb.get()) mVDragStart = mVThumbOffset;
    if (p.part == mHThumb.get()) mHDragStart = mHThumbOffset;
    if (p.dx != 0 || p.dy != 0) ScrollBy(p.dx, p.dy);
    ui::SetCapture(this);
    Repaint();
    return 0;
  }
  return 1;
}

intptr_t TKVNCompositeCustomControl::WmLButtonUp(const ui::TMouseMsg&) {
  if (ui::GetCapture() == this) ui::ReleaseCapture();
  return 1;
}

intptr_t TKVNCompositeCustomControl::WmCaptureChanged() {
  intptr_t result = 1;
  BeginUpdate();
  if (mPressed != nullptr) {
    mPressed->EndDrag(false);
    mPressed = nullptr;
    mDragScrolling = false;
    result = 0;
    Repaint();
  } else if (mDragScrolling) {
    mDragScrolling = false;
    result = 0;
  }
  EndUpdate();
  return result;
}

intptr_t TKVNCompositeCustomControl::WmMouseWheel(const ui::TWheelMsg& m) {
  if (mHoverPart == hpOutside) return 0;
  const bool horizontal =
      (mHoverPart >= hpLeft && mHoverPart <= hpRight) || (m.Keys & (ui::ssShift | ui::ssAlt | ui::ssCtrl)) != 0;
  if (horizontal)
    SetScroll(int64_t(mScrollX) - m.Delta, mScrollY);
  else
    SetScroll(mScrollX, int64_t(mScrollY) - m.Delta);
  return 1;
}

intptr_t TKVNCompositeCustomControl::WmSize(int width, int height) {
  BeginUpdate();
  ComputeExtent();
  if (Clamp(width, height)) mDirty = true;
  EndUpdate();
  return 1;
}
