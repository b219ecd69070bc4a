// Surfaces: binding, accessor slots, and copying rows out and back in.
#include "qlm_renderer_surface.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "qlm_base_codes.h"
#include "qlm_renderer_buffers.h"

using qlm_agg::target_kind;

cSurface::cSurface() : mBinding(std::make_unique<rSurfaceBinding>()) {}
cSurface::~cSurface() = default;

agg::rendering_buffer& cSurface::RenderingBuffer() { return mBinding->rbuf; }

bool cSurface::Identify(uint32_t id) const { return (id != 0 && id == id_cSurface) || cException::Identify(id); }

qlm_agg::any_rgba_target* cSurface::GetPixelFormat(int32_t index) {
  qlm_agg::any_rgba_target& slot = mBinding->slots[(index >= 1 && index <= 5) ? index : 0];
  return slot.is_attached() ? &slot : nullptr;
}

void cSurface::BindSecondBuffer(agg::rendering_buffer& buffer) {
  if (mCode == 0) return;
  mBinding->slots[cnSurfaceStraightSecond].attach(mCode, target_kind::straight, buffer);
  mBinding->slots[cnSurfacePreSecond].attach(mCode, target_kind::premultiplied, buffer);
  const unsigned op = mBinding->slots[cnSurfaceCustomSecond].comp_op();
  if (!mBinding->slots[cnSurfaceCustomSecond].attach(mCode, target_kind::custom_blend, buffer))
    mBinding->slots[cnSurfaceCustomSecond].detach();
  mBinding->slots[cnSurfaceCustomSecond].comp_op(op);
}

void cSurface::BindMemory(uint8_t* data, int32_t width, int32_t height, int32_t stride, uint8_t code, bool top_down,
                          agg::rendering_buffer* accessor_rbuf) {
  mTopDown = top_down;
  mData = data;
  mWidth = width;
  mHeight = height;
  mStride = stride;
  // AGG finds row 0 itself from the lowest address and a negative stride.
  mBinding->rbuf.attach(data, unsigned(width), unsigned(height), stride);
  mCode = code;
  agg::rendering_buffer& rb = accessor_rbuf ? *accessor_rbuf : mBinding->rbuf;
  mBinding->slots[cnSurfaceStraight].attach(code, target_kind::straight, rb);
  mBinding->slots[cnSurfacePre].attach(code, target_kind::premultiplied, rb);
  const unsigned op = mBinding->slots[cnSurfaceCustom].comp_op();
  mBinding->slots[cnSurfaceCustom].attach(code, target_kind::custom_blend, rb);
  mBinding->slots[cnSurfaceCustom].comp_op(op);
  mAssigned = true;
}

void cSurface::Unbind() {
  mBinding->rbuf = agg::rendering_buffer();
  for (auto& slot : mBinding->slots) slot.detach();
  mAssigned = false;
  mData = nullptr;
  mWidth = 0;
  mHeight = 0;
  mStride = 0;
  mCode = 0;
}

void cSurface::CopyRowsOut(uint8_t* destination, int32_t row_length) const {
  CopyRowsOut(destination, row_length, 0, 0, int32_t(mBinding->rbuf.width()), int32_t(mBinding->rbuf.height()));
}

void cSurface::CopyRowsOut(uint8_t* destination, int32_t row_length, int32_t x1, int32_t y1, int32_t x2,
                           int32_t y2) const {
  const int64_t bpp = BytesPerPixel();
  if (destination == nullptr || bpp == 0 || mBinding->rbuf.buf() == nullptr) return;
  x1 = std::max(x1, 0), y1 = std::max(y1, 0);
  x2 = std::min(x2, int32_t(mBinding->rbuf.width())), y2 = std::min(y2, int32_t(mBinding->rbuf.height()));
  if (x1 >= x2 || y1 >= y2) return;
  const size_t bytes = size_t(x2 - x1) * size_t(bpp);
  for (int32_t y = y1; y < y2; ++y)
    std::memcpy(destination + (int64_t(y) * row_length + x1) * bpp, mBinding->rbuf.row_ptr(y) + x1 * bpp, bytes);
}

void cSurface::MaskedCopyIn(const uint8_t* source, const uint8_t* mask, int32_t row_length, bool blend) {
  MaskedCopyIn(source, mask, row_length, blend, 0, 0, int32_t(mBinding->rbuf.width()),
               int32_t(mBinding->rbuf.height()));
}

void cSurface::MaskedCopyIn(const uint8_t* source, const uint8_t* mask, int32_t row_length, bool blend, int32_t x1,
                            int32_t y1, int32_t x2, int32_t y2) {
  const int32_t bpp = BytesPerPixel();
  if (source == nullptr || mask == nullptr || bpp == 0 || mBinding->rbuf.buf() == nullptr) return;
  x1 = std::max(x1, 0), y1 = std::max(y1, 0);
  x2 = std::min(x2, int32_t(mBinding->rbuf.width())), y2 = std::min(y2, int32_t(mBinding->rbuf.height()));
  if (x1 >= x2 || y1 >= y2) return;
  const unsigned width = unsigned(x2);
  for (int32_t y = y1; y < y2; ++y) {
    uint8_t* s = mBinding->rbuf.row_ptr(y);
    const uint8_t* l = source + int64_t(y) * row_length * bpp;
    const uint8_t* m = mask + int64_t(y) * row_length;
    unsigned x = unsigned(x1);
    while (x < width) {
      // Runs of 0 are skipped and runs of 255 copied whole: a clip region is
      // mostly both, with mixed values only along its edges.
      const uint8_t k = m[x];
      if (k == 0 || k == 255) {
        unsigned end = x + 1;
        while (end < width && m[end] == k) ++end;
        if (k == 255) std::memcpy(s + size_t(x) * bpp, l + size_t(x) * bpp, size_t(end - x) * bpp);
        x = end;
        continue;
      }
      if (blend) {
        // s + floor((256 - k)(s - l) / 256): the shift floors negative
        // differences too.
        uint8_t* sp = s + size_t(x) * bpp;
        const uint8_t* lp = l + size_t(x) * bpp;
        for (int32_t c = 0; c < bpp; ++c) sp[c] = uint8_t(lp[c] + (((256 - k) * (sp[c] - lp[c])) >> 8));
      }
      ++x;
    }
  }
}

// ---------------------------------------------------------------------------

bool cSurfaceBitmap::Identify(uint32_t id) const {
  return (id != 0 && id == id_cSurfaceBitmap) || cSurface::Identify(id);
}

bool cSurfaceBitmap::Attach(cBitmap* bitmap, bool topDown) {
  return log_and_fail(this, false, [&] {
    if (bitmap == nullptr) raise_condition_error(errPreCondition, "{bitmap=NIL}");
    if (!bitmap->IsOpened()) raise_condition_error(errPreCondition, "{not bitmap.IsOpened}");
    const uint8_t code = bitmap->PixelGeometry().pixel_format;
    if (surface_bytes_per_pixel(code) == 0)
      raise_condition_error(errPreCondition, "{bitmap.PixelGeometry.pixel_format is Unsupported}");
    const int32_t stride = topDown ? bitmap->Stride() : -bitmap->Stride();
    if (mAssigned && mBitmap == bitmap && mData == bitmap->Data() && mWidth == bitmap->Width() &&
        mHeight == bitmap->Height() && mStride == stride && mCode == code && mTopDown == topDown)
      return true;
    mBitmap = bitmap;
    BindMemory(bitmap->Data(), bitmap->Width(), bitmap->Height(), stride, code, topDown, nullptr);
    return true;
  });
}

void cSurfaceBitmap::Detach() {
  if (mBitmap != nullptr && mAssigned) mBitmap->Changed();
  mBitmap = nullptr;
  Unbind();
}

bool cSurfaceMemory::Attach(uint8_t* base, int32_t width, int32_t height, int32_t rowStep, uint8_t pixelFormatCode,
                            bool topDown) {
  return log_and_fail(this, false, [&] {
    if (base == nullptr) raise_condition_error(errPreCondition, "{base=NIL}");
    if (width < 1 || height < 1) raise_condition_error(errPreCondition, "{width<1 or height<1}");
    const int32_t bpp = surface_bytes_per_pixel(pixelFormatCode);
    if (bpp == 0) raise_condition_error(errPreCondition, "{pixelFormatCode is Unsupported}");
    if (int64_t(rowStep) < int64_t(width) * bpp) raise_condition_error(errPreCondition, "{rowStep<width*bytes}");
    // The painters store 4-byte pixels as whole words, which needs every
    // pixel on a 4-byte boundary: the base and the row step both.
    if (bpp == 4 && reinterpret_cast<uintptr_t>(base) % 4 != 0)
      raise_condition_error(errPreCondition, "{base mod 4 <> 0}");
    if (bpp == 4 && rowStep % 4 != 0) raise_condition_error(errPreCondition, "{rowStep mod 4 <> 0}");
    BindMemory(base, width, height, topDown ? rowStep : -rowStep, pixelFormatCode, topDown, nullptr);
    return true;
  });
}

void cSurfaceMemory::Detach() { Unbind(); }

bool cSurfacePatternRGBA::Attach(rgba8_tile* tile) {
  mAssigned = false;
  mTile = tile;
  if (tile == nullptr || !tile->IsValid()) return false;
  BindMemory(tile->Memory(), tile->Width(), tile->Height(), tile->Width() * 4, px32RGBA, true, nullptr);
  return true;
}

bool cSurfaceBitmapRGBA::Attach(rgba8_buffer* buffer) {
  mAssigned = false;
  mBuffer = buffer;
  if (buffer == nullptr || !buffer->IsValid()) return false;
  // The surface's own rendering buffer covers the same memory, so that a
  // clipped drawing into this surface can be copied out and written back.
  BindMemory(buffer->PixelPtr(), int32_t(buffer->width()), int32_t(buffer->height()), buffer->stride(), px32RGBA, true,
             nullptr);
  return true;
}
