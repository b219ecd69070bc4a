// The renderer's own pixel buffers, its internal surfaces and the feeders
// of AGG converters; and the accessors that a cSurface keeps behind its
// pointer. Inside the renderer only.
//
// The buffers own their memory, keep it between uses and grow only when a
// larger size is asked for. Every size product is computed in 64 bits and
// refused above cnRendererBufferLimit before anything is allocated; a
// refused or failed allocation leaves the buffer not valid and keeps the
// code (LastError: 203 errNEnoughMem).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "qlm_agg_extensions.h"
#include "qlm_bitmap.h"
#include "qlm_renderer_state.h"
#include "qlm_renderer_surface.h"

// What a cSurface binds: its rendering buffer and the accessor slots.
struct rSurfaceBinding {
  agg::rendering_buffer rbuf;
  qlm_agg::any_rgba_target slots[6];  // by slot index
};

class rgba8_tile;
class rgba8_buffer;

class cSurfacePatternRGBA : public cSurface {
 public:
  bool Attach(rgba8_tile* tile);

 private:
  rgba8_tile* mTile = nullptr;
};

class cSurfaceBitmapRGBA : public cSurface {
 public:
  // Binds the buffer's memory; the surface's own rendering buffer is
  // attached too, so copying rows out and back works on this surface.
  bool Attach(rgba8_buffer* buffer);

 private:
  rgba8_buffer* mBuffer = nullptr;
};

// ---------------------------------------------------------------------------
// Buffers

// An 8-bit grey image (shadow masks). Rows follow each other directly: the
// stride is the allocated width.
class gray8_buffer : public agg::rendering_buffer {
 public:
  gray8_buffer() = default;
  gray8_buffer(const gray8_buffer&) = delete;
  gray8_buffer& operator=(const gray8_buffer&) = delete;
  virtual ~gray8_buffer();

  // Sizes the image (memory grows when the allocated width or height is
  // smaller); with `clear` the rows are zeroed. False without memory.
  bool Init(int32_t width, int32_t height, bool clear);
  bool IsValid() const { return mValid; }
  // The grey accessor; nil while detached.
  agg::pixfmt_gray8* GreyAccessor() { return mAccessorAttached ? &mAccessor : nullptr; }
  int32_t AllocatedWidth() const { return mAllocWidth; }
  int32_t AllocatedHeight() const { return mAllocHeight; }
  int32_t LastError() const { return mLastError; }

 protected:
  // Frees the memory and allocates width x height bytes (checked, capped).
  bool Allocate(int64_t width, int64_t height);
  void AttachAccessor();
  void DetachAccessor() { mAccessorAttached = false; }

  uint8_t* mMemory = nullptr;
  int32_t mAllocWidth = 0;
  int32_t mAllocHeight = 0;
  agg::pixfmt_gray8 mAccessor{*this};
  bool mAccessorAttached = false;
  bool mValid = false;
  int32_t mLastError = 0;
};

// An 8-bit coverage mask over a rectangle of a larger plane that grows over
// whatever is registered in it (hit tests). Plane byte (x, y) is at row
// y - OriginY, column x - OriginX.
class gray8_mask_buffer : public gray8_buffer {
 public:
  // Frees the memory: bounds 0, empty, not valid.
  void Reset();
  // Grows the bounds to cover (x1, y1)-(x2, y2) (exclusive): an empty mask
  // is filled with `fill`, otherwise old bytes stay and the newly covered
  // area is zeroed. An empty rectangle or no memory answers false and
  // leaves the mask as it was (valid included).
  bool Grow(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t fill);
  // Clears the mask bytes where `other` (a plane from (0, 0)) holds 0, over
  // the true overlap of the two.
  void And(const agg::pixfmt_gray8& other);
  int32_t OriginX() const { return mX1; }
  int32_t OriginY() const { return mY1; }
  int32_t X2() const { return mX2; }
  int32_t Y2() const { return mY2; }
  bool IsEmpty() const { return mEmpty; }

 private:
  int32_t mX1 = 0;
  int32_t mY1 = 0;
  int32_t mX2 = 0;
  int32_t mY2 = 0;
  bool mEmpty = true;
};

// A 32-bit RGBA image (bytes R, G, B, A): fill patterns, image drawing and
// pattern snapshots.
class rgba8_buffer : public agg::rendering_buffer {
 public:
  rgba8_buffer() = default;
  rgba8_buffer(const rgba8_buffer&) = delete;
  rgba8_buffer& operator=(const rgba8_buffer&) = delete;
  ~rgba8_buffer();

  // Sizes and zeroes the image; forgets the source bitmap.
  bool Init(int32_t width, int32_t height);
  // Exchanges everything with `other` (memory, size, source, counters), so
  // that a buffer made aside takes another's place without allocating.
  void Swap(rgba8_buffer& other);
  // A deep copy of the whole allocated memory and every field; nil without
  // memory.
  std::unique_ptr<rgba8_buffer> Clone() const;
  // Converts a bitmap of one of the six formats to RGBA (alpha 255 for the
  // 24-bit ones). Nothing is converted when the bitmap (its address and its
  // pixels' serial number) and its change and resize counters are the ones
  // of the last conversion.
  bool LoadBitmap(cBitmap* bitmap);
  // Conversions done so far (LoadBitmap calls that converted pixels).
  int64_t ConversionCount() const { return mConversions; }

  bool IsValid() const { return mValid; }
  uint8_t* PixelPtr() const { return mMemory; }
  int32_t AllocatedWidth() const { return mAllocWidth; }
  int32_t AllocatedHeight() const { return mAllocHeight; }
  agg::pixfmt_rgba32& Accessor() { return mAccessor; }
  int32_t LastError() const { return mLastError; }

 private:
  bool Reserve(int32_t width, int32_t height);

  uint8_t* mMemory = nullptr;
  int32_t mAllocWidth = 0;
  int32_t mAllocHeight = 0;
  const cBitmap* mSource = nullptr;
  int32_t mSourceChange = -1;
  int32_t mSourceResize = -1;
  uint64_t mSourceSerial = 0;
  int64_t mConversions = 0;
  agg::pixfmt_rgba32 mAccessor{*this};
  bool mValid = false;
  int32_t mLastError = 0;
};

// The tile that the pen pattern callback draws into: width x height RGBA
// pixels, zero-filled; a width or height below 1 becomes 1.
class rgba8_tile {
 public:
  rgba8_tile(int32_t width, int32_t height);
  rgba8_tile(const rgba8_tile&) = delete;
  rgba8_tile& operator=(const rgba8_tile&) = delete;
  ~rgba8_tile();

  int32_t Width() const { return mWidth; }
  int32_t Height() const { return mHeight; }
  bool IsValid() const { return mMemory != nullptr; }
  uint8_t* Memory() const { return mMemory; }
  // The four bytes of (x, y) as one 32-bit value (R in bits 0-7); 0 outside.
  uint32_t Pixel(int32_t x, int32_t y) const;

 private:
  uint8_t* mMemory = nullptr;
  int32_t mWidth = 1;
  int32_t mHeight = 1;
};

// ---------------------------------------------------------------------------
// Feeders of AGG converters

// The marker shapes as an AGG vertex source: path id 0 reads the
// start-marker commands, 1 the end-marker commands, 2 the vertex-marker
// commands.
class marker_vertex_source {
 public:
  void SetStartPath(const cCustomPath* path) { mPaths[0] = path; }
  void SetEndPath(const cCustomPath* path) { mPaths[1] = path; }
  void SetVertexPath(const cCustomPath* path) { mPaths[2] = path; }

  void rewind(unsigned path_id);
  unsigned vertex(double* x, double* y);

 private:
  const cCustomPath* mPaths[3] = {nullptr, nullptr, nullptr};
  const cCustomPath* mCurrent = nullptr;
  size_t mIndex = 0;
  int mStep = 0;
};

// The end-of-polygon command the marker source gives for a close entry.
constexpr unsigned cnMarkerClose =
    unsigned(agg::path_cmd_end_poly) | unsigned(agg::path_flags_close) | unsigned(agg::path_flags_ccw);
static_assert(cnMarkerClose == 0x5F);

// A span converter that tints image spans: each colour is combined with the
// tint colour through a compositing operation (tint as an opaque source,
// the span colour as destination), then scaled by the tint's alpha.
class image_tint_converter {
 public:
  // `op`: the renderer's operation number 1..28; anything else leaves the
  // colours alone (destination). `table`: the blend functions (nil: none).
  image_tint_converter(unsigned op, const agg::rgba8& tint,
                       const qlm_agg::comp_op_table<agg::order_rgba>::func_type* table);
  void prepare() {}
  void generate(agg::rgba8* span, int x, int y, unsigned len);
  // True when generate leaves every colour as it is (destination operation
  // or no table, and an opaque tint).
  bool is_identity() const { return (mOp == qlm_agg::cnCompOpDst || mTable == nullptr) && mTint.a == 255; }

 private:
  unsigned mOp = qlm_agg::cnCompOpDst;
  agg::rgba8 mTint;
  const qlm_agg::comp_op_table<agg::order_rgba>::func_type* mTable = nullptr;
};

// The pixel source of a line image pattern: a bitmap (scaled by an
// opacity), or without one a single pixel of one colour.
class bitmap_pattern_source {
 public:
  bitmap_pattern_source(cBitmap* bitmap, uint8_t opacity);
  void SetColor(const agg::rgba8& color) { mColor = color; }

  double width() const { return mValid ? mWidth : 1; }
  double height() const { return mValid ? mHeight : 1; }
  agg::rgba8 pixel(int x, int y) const;

 private:
  uint8_t mOpacity = 255;
  bool mValid = false;
  int32_t mWidth = 0;
  int32_t mHeight = 0;
  int32_t mStride = 0;
  int32_t mStep = 0;
  bool mHasAlpha = false;
  rChannelOrder mOrder;
  const uint8_t* mData = nullptr;
  agg::rgba8 mColor{0, 0, 0, 255};
};
