// cBitmap: the system's pixel buffer. A rectangle of pixels in one of the
// framework's pixel formats (qlm_bitmap_formats.h), with the channel order of
// that format, an optional palette, a background colour that fills new
// pixels, an optional transparent colour, change and resize counters that
// caches compare, and a share count that lets several holders keep one
// bitmap.
//
// Sizes: stride and pixel-memory size are computed in 64 bits. A bitmap whose
// memory would reach 2^31 bytes (the mem_alloc limit) or pass the process-wide
// cap (bitmap_set_size_limit) is refused with 203 "{mem_alloc}" before
// anything is allocated, so no 32-bit field ever holds a wrapped size.
//
// Errors follow the log-and-fail convention: a failing operation appends a
// row to the bitmap's own log and answers false, nil, 0, -1 or 255 as listed,
// leaving the bitmap as it was.
#pragma once

#include <cstdint>
#include <memory>

#include "qlm_base_object.h"
#include "qlm_base_util.h"
#include "qlm_bitmap_formats.h"
#include "qlm_colors.h"
#include "qlm_platform_ui.h"

static_assert(platform_pixel_format() == px24BGR);

// ---------------------------------------------------------------------------
// Bitmap kinds: the small numbers by which callers choose a format. Any other
// kind gives no format (code 0, stride 0, size 0, no order).
constexpr int32_t cnBitmapNative = 1;  // platform_pixel_format(): px24BGR
constexpr int32_t cnBitmap24RGB = 2;
constexpr int32_t cnBitmap24BGR = 3;
constexpr int32_t cnBitmap32RGBA = 4;
constexpr int32_t cnBitmap32BGRA = 5;
constexpr int32_t cnBitmap32ARGB = 6;
constexpr int32_t cnBitmap32ABGR = 7;

// The format code of a kind; 0 for a kind outside 1..7.
constexpr uint8_t bitmap_kind_format(int32_t kind) {
  switch (kind) {
    case cnBitmapNative: return platform_pixel_format();
    case cnBitmap24RGB: return px24RGB;
    case cnBitmap24BGR: return px24BGR;
    case cnBitmap32RGBA: return px32RGBA;
    case cnBitmap32BGRA: return px32BGRA;
    case cnBitmap32ARGB: return px32ARGB;
    case cnBitmap32ABGR: return px32ABGR;
    default: return 0;
  }
}

// ---------------------------------------------------------------------------
// Flags.

// Clear, ConvertTransparencyToAlpha and Resize: do not count the change.
constexpr uint16_t cnBitmapNoCount = 0x2000;

// Operations of Clone and Resize; the first one present decides, in this order.
constexpr uint16_t cnResizeCopy = 0x1;  // exact copy (another size: bilinear)
constexpr uint16_t cnResizeNearest = 0x2;
constexpr uint16_t cnResizeBilinear = 0x4;
constexpr uint16_t cnResizeCrop = 0x8;  // crop or place, aligned by the flags below
constexpr uint16_t cnResizeTile = 0x10;
constexpr uint16_t cnResizeBlank = 0x20;  // new size, pixels not set
// Alignment of a crop: top / bottom (neither: middle), left / right (neither: centre).
constexpr uint16_t cnResizeTop = 0x40;
constexpr uint16_t cnResizeBottom = 0x100;
constexpr uint16_t cnResizeLeft = 0x200;
constexpr uint16_t cnResizeRight = 0x800;
constexpr uint16_t cnResizeNoCount = cnBitmapNoCount;
// A crop's background fill writes alpha 0 instead of the background's alpha.
constexpr uint16_t cnResizeAlphaZero = 0x4000;

// Alignment arguments of bitmap_crop.
constexpr int32_t cnAlignNear = 0;    // top or left
constexpr int32_t cnAlignCenter = 1;  // middle or centre
constexpr int32_t cnAlignFar = 2;     // bottom or right

// Opacity of Clear and CopyBitmap that means "by the pixels' alpha" (CopyBitmap)
// or "alpha too" (Clear).
constexpr int32_t cnOpacityAlpha = -255;

// ---------------------------------------------------------------------------
// Size cap: the largest pixel memory, in bytes, that a bitmap may take.
// Defaults to the mem_alloc limit (2^31 - 1); fuzz targets lower it. Values
// below 1 or above the default restore the default.
constexpr int64_t cnBitmapSizeLimit = (int64_t(1) << 31) - 1;
void bitmap_set_size_limit(int64_t bytes);
int64_t bitmap_size_limit();

// ---------------------------------------------------------------------------
// Module start: takes the type ids of cBitmap and cImage from the framework's
// counter (once per process). Call it after framework_start.
extern uint32_t id_cBitmap;
extern uint32_t id_cImage;
void qlm_bitmap_start();
void qlm_bitmap_stop();

// The import callback of cBitmap::Map: fills `values` (four floats per pixel,
// red, green, blue, alpha, 0 to 1) from `width` pixels of a foreign row.
using tBitmapMapImport = void (*)(int32_t width, const uint8_t* foreign_row, float* values, void* user);

class cBitmap : public cException {
 public:
  // Construct: no pixel memory; a width or height below 1 becomes 1; the
  // format of the kind; no palette, background opaque black, no transparent
  // colour, counters 0, share count 0.
  explicit cBitmap(int32_t width = 1, int32_t height = 1, int32_t kind = cnBitmapNative);
  ~cBitmap() override;
  bool Identify(uint32_t id) const override;

  // Sharing. AddRef answers the bitmap with its share count raised; Release
  // lowers the count, or deletes the bitmap when it is 0 (so shared bitmaps
  // live on the heap). Unique answers the bitmap itself when it is not
  // shared, otherwise an exact copy (share count 0) after which this one's
  // count drops by 1; nil when the copy fails (the count then stays).
  cBitmap* AddRef();
  void Release();
  cBitmap* Unique();

  // Does nothing while pixel memory exists. Otherwise sets the format: with
  // `keep` the current code's (the native one when the code is 0), without
  // it the kind's; then the order, stride and size for the current size.
  void SetPixelFormat(int32_t kind, bool keep);

  // --- Making one bitmap from another (qlm_bitmap_scale.cpp) -------------
  // A new bitmap made by the operation of `flags` (cnResize*); x, y, w, h are
  // the source rectangle of a crop or the offset (x, y) of a tiling. Nil on
  // failure, with the error in this bitmap's log.
  virtual std::unique_ptr<cBitmap> Clone(int32_t width, int32_t height, uint16_t flags, int32_t x = 0, int32_t y = 0,
                                         int32_t w = 0, int32_t h = 0);

  // Opens a closed bitmap on foreign rows: map_width x map_height pixels of
  // map_pixel's format at map_data, rows apart by that format's stride. The
  // bitmap keeps its own format; rows of the same format are copied, others
  // go through map_import and PackRow, with row_buffer when its size in bytes
  // is exactly map_width x 16, else a buffer of its own.
  virtual bool Map(const void* map_data, void* user, int32_t map_width, int32_t map_height,
                   const rPixelGeometry* map_pixel, tBitmapMapImport map_import, float* row_buffer = nullptr,
                   int64_t row_buffer_size = 0);
  // Allocates the pixel memory and fills it with the background colour. A
  // non-zero width or height replaces the member (values below 1 become 1).
  virtual bool Create(int32_t width = 0, int32_t height = 0);
  // Create without the background fill, for a decoder that writes the rows
  // itself: the pixel memory is allocated (row padding zeroed) and its rows
  // hold whatever the memory held until the caller writes them or Clears
  // them with the background (rgb_none, cnOpacityAlpha, cnBitmapNoCount give
  // exactly what Create's fill gives). Every row must be one or the other
  // before anyone else sees the bitmap.
  bool CreateUnfilled(int32_t width = 0, int32_t height = 0);
  virtual bool Close();
  virtual bool IsOpened() const { return mData != nullptr; }
  // Number of distinct red-green-blue triples; -1 on failure.
  virtual int32_t ColorsCount();
  // Replaces the palette by one entry per distinct colour in first-seen order
  // (rows from the top, pixels from the left), each entry red, green, blue, 0.
  virtual bool MakePalette();
  // Replaces the pixels by the operation of `flags` at the new size (no
  // operation flag: bilinear); the same size does nothing.
  virtual bool Resize(int32_t width, int32_t height, uint16_t flags, int32_t x = 0, int32_t y = 0, int32_t w = 0,
                      int32_t h = 0);
  // Draws `from`'s rectangle (source x, y, width, height; 0 = from's width or
  // height) at (x, y) of this bitmap: opacity cnOpacityAlpha blends by from's
  // alpha (copies when it has none), 0..254 blends with that weight of the
  // destination in 256ths, anything else copies. Pixels of from's transparent
  // colour are skipped. Negative offsets on either side are clipped.
  virtual bool CopyBitmap(cBitmap* from, int32_t x, int32_t y, int32_t opacity, int32_t source_x = 0,
                          int32_t source_y = 0, int32_t width = 0, int32_t height = 0);

  // --- Checked pixel access ---------------------------------------------
  virtual bool SetPixel(int32_t x, int32_t y, uint32_t color);  // red, green, blue
  virtual uint32_t GetPixel(int32_t x, int32_t y);              // opaque colour; 0 on error
  virtual bool SetAlpha(int32_t x, int32_t y, uint8_t alpha);   // nothing without alpha
  virtual uint8_t GetAlpha(int32_t x, int32_t y);               // 255 without alpha or on error
  // The first byte of row y; nil on error.
  uint8_t* ScanLine(int32_t y);

  // --- Unchecked row conversion (the bitmap's format; nothing without an order)
  // Four floats per pixel: red, green, blue, alpha divided by 255 (alpha 1
  // without alpha).
  virtual void UnpackRow(int32_t count, const uint8_t* pixels, float* out) const;
  // Each value x 255 rounded to nearest (ties to even), its low 8 bits stored
  // (not clamped); a NaN or infinite value stores 0.
  virtual void PackRow(int32_t count, const float* values, uint8_t* pixels) const;

  // --- Whole-bitmap operations --------------------------------------------
  // Fills the rectangle (nil: the whole bitmap; normalised and cut to the
  // bitmap, right and bottom exclusive) with the colour (rgb_none: the
  // background): opacity 0..254 blends (the colour's weight in 256ths, alpha
  // kept), cnOpacityAlpha in an alpha format writes alpha too, anything else
  // writes red, green and blue.
  bool Clear(uint32_t color, int32_t opacity, const rRect* rect = nullptr, uint16_t flags = 0);
  // Converts the pixels to the kind's format (an unknown kind: the native
  // format); the same format changes nothing.
  bool Convert(int32_t kind);
  // 24-bit bitmaps become 32-bit with alpha; pixels within the tolerances of
  // the transparent colour get alpha 0, all others 255; the transparent
  // colour is then cleared.
  bool ConvertTransparencyToAlpha(uint8_t upper, uint8_t lower, uint16_t flags = 0);

  // --- Plain accessors ----------------------------------------------------
  uint8_t* Data() const { return mData; }
  int32_t DataSize() const { return mDataSize; }
  int32_t Width() const { return mWidth; }
  int32_t Height() const { return mHeight; }
  int32_t Stride() const { return mStride; }
  const rPixelGeometry& PixelGeometry() const { return mPixel; }
  uint8_t PixelFormat() const { return mPixel.pixel_format; }
  int32_t BytesPerPixel() const { return mPixel.bytes_per_group; }
  bool HasAlpha() const { return pixel_has_alpha(mPixel.pixel_format); }
  const rChannelOrder* Order() const { return mOrder; }
  cPalette* Palette() const { return mPalette.get(); }
  void SetPalette(std::unique_ptr<cPalette> palette) { mPalette = std::move(palette); }
  int32_t ChangeCount() const { return mChangeCount; }
  void Changed() { ++mChangeCount; }
  int32_t ResizeCount() const { return mResizeCount; }
  // A number no other bitmap of the process has had, renewed whenever the
  // bitmap gets new pixel memory (Create, Map, a conversion or resize): with
  // the counters it tells caches that the pixels they hold are these, also
  // when a bitmap is recycled at the address of a freed one or re-created
  // with its counters back at 0.
  uint64_t PixelsSerial() const { return mPixelsSerial; }
  int32_t ShareCount() const { return mShareCount; }
  uint32_t Background() const { return mBackground; }
  void SetBackground(uint32_t color) { mBackground = color; }
  uint32_t TransparentColor() const { return mTransparentColor; }
  void SetTransparentColor(uint32_t color) { mTransparentColor = color; }

 private:
  // The image sets the counters of the bitmaps it makes for its frames.
  friend class cImage;
  enum class Operation { Copy, Nearest, Bilinear, Crop, Tile, Blank };

  void SetFormatCode(uint8_t code);
  bool CreatePixels(int32_t width, int32_t height, bool fill);
  void CheckOpenWithOrder(std::source_location loc = std::source_location::current()) const;
  void CheckPixel(int32_t x, int32_t y, std::source_location loc = std::source_location::current()) const;
  void Fill(uint32_t color, int32_t opacity, int64_t x1, int64_t y1, int64_t x2, int64_t y2);
  void ConvertTo(uint8_t code);
  std::unique_ptr<cBitmap> Make(Operation op, int32_t width, int32_t height, uint16_t flags, int32_t x, int32_t y,
                                int32_t w, int32_t h);
  // Takes over the pixels, size, stride and format of `other`, which is left closed.
  void TakePixels(cBitmap& other);

  uint8_t* mData = nullptr;
  int32_t mDataSize = 0;
  int32_t mWidth = 1;
  int32_t mHeight = 1;
  int32_t mStride = 0;
  rPixelGeometry mPixel;
  uint32_t mBackground = 0xFF000000u;
  uint32_t mTransparentColor = rgb_none;
  int32_t mChangeCount = 0;
  int32_t mResizeCount = 0;
  uint64_t mPixelsSerial = 0;
  std::unique_ptr<cPalette> mPalette;
  int32_t mShareCount = 0;
  const rChannelOrder* mOrder = nullptr;
};

// Copies the bitmap's channel order into `order`; false when the bitmap is
// nil, closed or has no order.
bool bitmap_has_order(const cBitmap* bitmap, rChannelOrder& order);

// ---------------------------------------------------------------------------
// Workers of Clone and Resize: each writes into a target that already has
// pixel memory in the source's format, and answers false when either bitmap
// is nil, closed, without an order or of another format, or when memory for
// a row fails.

// Nearest neighbour: enlarging builds each target row once and copies it to
// all the rows it covers; otherwise 16.16 fixed point.
bool bitmap_resize(const cBitmap* source, cBitmap* target);
// Bilinear in 1.15 fixed point, weights summing to 32768.
bool bitmap_bilinear(const cBitmap* source, cBitmap* target);
// Which kernels bitmap_bilinear runs: the widest the processor has (false),
// or the SSE2 ones every x86-64 processor has (true), so that tests can
// compare both.
void bitmap_bilinear_baseline_only(bool on);
// Places the source rectangle (x, y, w, h; w or h of 0 or less: up to the
// source's edge) in the target by the alignments (cnAlign*), filling the rest
// with the source's background (alpha 0 with alpha_zero).
bool bitmap_crop(const cBitmap* source, cBitmap* target, int32_t x, int32_t y, int32_t w, int32_t h, int32_t vertical,
                 int32_t horizontal, bool alpha_zero);
// Target pixel (X, Y) takes source pixel ((X + ox) mod width, (Y + oy) mod
// height), the remainder never negative.
bool bitmap_tile(const cBitmap* source, cBitmap* target, int64_t ox, int64_t oy);
