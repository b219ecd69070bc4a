// Helpers shared by the bitmap's source files; not part of its public face.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "qlm_base_util.h"
#include "qlm_bitmap.h"

namespace bitmap_detail {

// Owns a mem_alloc block.
struct MemFree {
  void operator()(void* p) const { mem_free(p); }
};
using tPixelBlock = std::unique_ptr<uint8_t, MemFree>;
using tMemBlock = std::unique_ptr<void, MemFree>;

// Stride and size of a format at a size, in 64 bits.
struct rLayout {
  int64_t stride = 0;
  int64_t size = 0;
};
rLayout layout_of(const rPixelGeometry& pixel, int64_t width, int64_t height);

// Pixel memory for the format at the size, row padding zeroed. Raises 203
// "{mem_alloc}" when the size is 0, passes the size cap, or memory fails.
tPixelBlock allocate_pixels(const rPixelGeometry& pixel, int32_t width, int32_t height, rLayout& layout);

inline uint8_t* pixel_at(const cBitmap& bitmap, int64_t x, int64_t y) {
  return bitmap.Data() + y * bitmap.Stride() + x * bitmap.BytesPerPixel();
}

// s + floor(k x (d - s) / 256), k the destination's weight in 256ths (2 to
// 256). The shift of a negative int is arithmetic (C++20), so this is a floor
// division, never a truncation toward zero: 255 over 0 with k = 255 gives 0.
inline uint8_t blend_byte(uint8_t s, uint8_t d, int32_t k) {
  return uint8_t(int32_t(s) + ((k * (int32_t(d) - int32_t(s))) >> 8));
}

// A part of a source to copy onto a target: the target position, the source
// start and the size, in 64 bits, so that negating or adding them cannot
// overflow.
struct rBlitPart {
  int64_t dx = 0, dy = 0, sx = 0, sy = 0, w = 0, h = 0;
};

// Clips the part to the target (target_w x target_h) and the source
// (source_w x source_h). A negative target position moves the source start by
// as much and shrinks the part, so no column or row is copied that was not
// asked for. A negative source start moves the target position likewise when
// `clip_source` is set; otherwise it leaves nothing to copy. False when
// nothing is left.
inline bool blit_clip(rBlitPart& p, int64_t target_w, int64_t target_h, int64_t source_w, int64_t source_h,
                      bool clip_source) {
  auto shift = [](int64_t& moved, int64_t& other, int64_t& size) {
    if (moved >= 0) return;
    other -= moved;
    size += moved;
    moved = 0;
  };
  shift(p.dx, p.sx, p.w);
  shift(p.dy, p.sy, p.h);
  if (!clip_source && (p.sx < 0 || p.sy < 0)) return false;
  shift(p.sx, p.dx, p.w);
  shift(p.sy, p.dy, p.h);
  p.w = std::min({p.w, target_w - p.dx, source_w - p.sx});
  p.h = std::min({p.h, target_h - p.dy, source_h - p.sy});
  return p.w > 0 && p.h > 0;
}

}  // namespace bitmap_detail
