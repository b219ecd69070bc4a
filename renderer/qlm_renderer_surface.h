// Render targets: the pixel memory a renderer draws into.
//
// A surface (cSurface) describes pixel memory it does not own: width,
// height, signed stride, orientation and one of six byte orders, plus six
// accessors (straight, custom-blend and pre-multiplied, each over the
// surface's own memory and over a second buffer of the same geometry, the
// clip layer), kept behind a pointer so that this header needs no AGG.
// cSurfaceBitmap binds a cBitmap, cSurfaceMemory rows that the caller owns
// (a window's back buffer). The renderer's own buffers and its internal
// surfaces are in qlm_renderer_buffers.h.
#pragma once

#include <cstdint>
#include <memory>

#include "qlm_agg_forward.h"
#include "qlm_base_object.h"
#include "qlm_bitmap_formats.h"
#include "qlm_renderer_ids.h"

class cBitmap;
struct rSurfaceBinding;

// The largest block, in bytes, that a renderer buffer may take (1 GiB).
constexpr int64_t cnRendererBufferLimit = int64_t(1) << 30;

// Bytes per pixel of a surface format code; 0 for a code outside the six.
constexpr int32_t surface_bytes_per_pixel(uint8_t code) {
  switch (code) {
    case px24RGB:
    case px24BGR: return 3;
    case px32RGBA:
    case px32BGRA:
    case px32ARGB:
    case px32ABGR: return 4;
    default: return 0;
  }
}

// ---------------------------------------------------------------------------
// cSurface

// Accessor slot indexes.
constexpr int32_t cnSurfaceStraight = 0;
constexpr int32_t cnSurfaceStraightSecond = 1;
constexpr int32_t cnSurfaceCustom = 2;
constexpr int32_t cnSurfaceCustomSecond = 3;
constexpr int32_t cnSurfacePre = 4;
constexpr int32_t cnSurfacePreSecond = 5;

class cSurface : public cException {
 public:
  cSurface();
  ~cSurface() override;
  cSurface(const cSurface&) = delete;
  cSurface& operator=(const cSurface&) = delete;
  bool Identify(uint32_t id) const override;

  bool IsAssigned() const { return mAssigned; }
  int32_t GetWidth() const { return mWidth; }
  int32_t GetHeight() const { return mHeight; }
  bool IsTopDown() const { return mTopDown; }
  // Unbinds in the surfaces that bind borrowed objects; nothing here.
  virtual void Detach() {}

  // Slots 1..5 by index, slot 0 for any other index; nil when the slot is
  // not attached.
  qlm_agg::any_rgba_target* GetPixelFormat(int32_t index);
  // Attaches slots 1 and 5 (and 3 for the 32-bit formats; reset for the
  // 24-bit ones) to another buffer of the same geometry. Nothing while the
  // surface has no format.
  void BindSecondBuffer(agg::rendering_buffer& buffer);
  // Copies every row (width x bytes per pixel) to `destination`, rows
  // `row_length` pixels apart.
  void CopyRowsOut(uint8_t* destination, int32_t row_length) const;
  // Writes `source` back through the 8-bit `mask` (both rows `row_length`
  // pixels long, the source in the surface's format). Mask 0 leaves a pixel
  // alone and 255 copies it exactly; with `blend`, any other mask value m
  // mixes every byte (alpha too) as s + floor((256 - m) x (s - l) / 256).
  void MaskedCopyIn(const uint8_t* source, const uint8_t* mask, int32_t row_length, bool blend);
  // The same two limited to the pixels x1..x2-1, y1..y2-1 (cut to the
  // surface); source, destination and mask keep their full-row layout.
  void CopyRowsOut(uint8_t* destination, int32_t row_length, int32_t x1, int32_t y1, int32_t x2, int32_t y2) const;
  void MaskedCopyIn(const uint8_t* source, const uint8_t* mask, int32_t row_length, bool blend, int32_t x1, int32_t y1,
                    int32_t x2, int32_t y2);

  uint8_t FormatCode() const { return mCode; }
  int32_t Stride() const { return mStride; }
  uint8_t* Data() const { return mData; }
  int32_t BytesPerPixel() const { return surface_bytes_per_pixel(mCode); }
  agg::rendering_buffer& RenderingBuffer();

 protected:
  // Binds memory: rendering buffer (when `attach_rbuf`) and slots 0, 4 and 2
  // over `accessor_rbuf`; the caller has checked the code.
  void BindMemory(uint8_t* data, int32_t width, int32_t height, int32_t stride, uint8_t code, bool top_down,
                  agg::rendering_buffer* accessor_rbuf);
  // Forgets the binding; the orientation stays.
  void Unbind();

  bool mAssigned = false;
  int32_t mWidth = 0;
  int32_t mHeight = 0;
  bool mTopDown = true;
  std::unique_ptr<rSurfaceBinding> mBinding;  // the rendering buffer and the slots
  uint8_t* mData = nullptr;
  int32_t mStride = 0;
  uint8_t mCode = 0;
};

class cSurfaceBitmap : public cSurface {
 public:
  cSurfaceBitmap() = default;
  ~cSurfaceBitmap() override = default;
  bool Identify(uint32_t id) const override;

  // Binds the bitmap's pixels; bottom-up (topDown false) negates the stride
  // so that row 0 is the last row in memory. Re-attaching an unchanged
  // binding rebuilds nothing. Errors (279) are logged; the previous binding
  // then stays.
  bool Attach(cBitmap* bitmap, bool topDown);
  // Unbinds and counts a change in the bitmap, so that caches keyed on its
  // change counter see what was drawn.
  void Detach() override;
  cBitmap* Bitmap() const { return mBitmap; }

 private:
  cBitmap* mBitmap = nullptr;
};

// A surface over rows that the caller owns and keeps alive while the
// surface is attached (a window's back buffer, say). `base` is the lowest
// address of the pixels and `rowStep` the bytes from one row to the next in
// memory (at least width x bytes per pixel; for the 4-byte formats the base
// and the step are multiples of 4, since pixels are stored as whole words);
// top-down puts row 0 at `base`,
// bottom-up at the last row in memory, as cSurfaceBitmap does for a
// bitmap. `pixelFormatCode` is one of the six surface formats.
class cSurfaceMemory : public cSurface {
 public:
  // Errors (279: a nil base, a size below 1, a row step too short, a 4-byte
  // format's base or step off a 4-byte boundary, or an unsupported format)
  // are logged; the previous binding then stays.
  bool Attach(uint8_t* base, int32_t width, int32_t height, int32_t rowStep, uint8_t pixelFormatCode, bool topDown);
  void Detach() override;
};
