#include "qlm_bitmap.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "qlm_bitmap_internal.h"

// ---------------------------------------------------------------------------
// Module start and the size cap.

uint32_t id_cBitmap = 0;
uint32_t id_cImage = 0;

void qlm_bitmap_start() {
  if (id_cBitmap == 0) {
    new_type_id(id_cBitmap);
    new_type_id(id_cImage);
  }
}

void qlm_bitmap_stop() {}

namespace {
// The source of PixelsSerial numbers (0 is never handed out).
std::atomic<uint64_t> gPixelsSerial{0};
uint64_t next_pixels_serial() { return gPixelsSerial.fetch_add(1, std::memory_order_relaxed) + 1; }
std::atomic<int64_t> g_size_limit{cnBitmapSizeLimit};
}  // namespace

void bitmap_set_size_limit(int64_t bytes) {
  g_size_limit.store(bytes < 1 || bytes > cnBitmapSizeLimit ? cnBitmapSizeLimit : bytes);
}

int64_t bitmap_size_limit() { return g_size_limit.load(); }

namespace bitmap_detail {

rLayout layout_of(const rPixelGeometry& pixel, int64_t width, int64_t height) {
  rLayout l;
  l.stride = pixel_stride(pixel, width);
  // Beyond any cap long before int64 wraps; saturated so it cannot wrap.
  if (height <= 0)
    l.size = 0;
  else if (l.stride > 0 && height > INT64_MAX / l.stride)
    l.size = INT64_MAX;
  else
    l.size = l.stride * height;
  return l;
}

tPixelBlock allocate_pixels(const rPixelGeometry& pixel, int32_t width, int32_t height, rLayout& layout) {
  layout = layout_of(pixel, width, height);
  // The 64-bit size is checked before anything is allocated: a stride or size
  // that passes the cap never reaches a 32-bit field or mem_alloc.
  if (layout.size <= 0 || layout.size > bitmap_size_limit()) raise_base_error(errNEnoughMem, "{mem_alloc}");
  uint8_t* block = nullptr;
  if (!mem_alloc(block, layout.size)) raise_base_error(errNEnoughMem, "{mem_alloc}");
  tPixelBlock owned(block);
  // Padding at the end of each row is zeroed, so rows copied out (printing,
  // writers) carry no stale bytes.
  const int64_t used = int64_t(width) * pixel.bytes_per_group;
  if (pixel.pixels_per_group == 1 && used < layout.stride)
    for (int64_t y = 0; y < height; ++y) std::memset(block + y * layout.stride + used, 0, size_t(layout.stride - used));
  return owned;
}

}  // namespace bitmap_detail

using namespace bitmap_detail;

// ---------------------------------------------------------------------------
// Life and sharing.

cBitmap::cBitmap(int32_t width, int32_t height, int32_t kind) {
  mWidth = std::max(width, 1);
  mHeight = std::max(height, 1);
  SetPixelFormat(kind, false);
  mPixelsSerial = next_pixels_serial();
}

cBitmap::~cBitmap() { mem_free(mData); }

bool cBitmap::Identify(uint32_t id) const { return id == id_cBitmap || cException::Identify(id); }

cBitmap* cBitmap::AddRef() {
  ++mShareCount;
  return this;
}

void cBitmap::Release() {
  if (mShareCount > 0)
    --mShareCount;
  else
    delete this;
}

cBitmap* cBitmap::Unique() {
  if (mShareCount == 0) return this;
  std::unique_ptr<cBitmap> copy = Clone(0, 0, cnResizeCopy);
  if (copy == nullptr) return nullptr;
  --mShareCount;
  return copy.release();
}

void cBitmap::SetPixelFormat(int32_t kind, bool keep) {
  if (mData != nullptr) return;
  uint8_t code = 0;
  if (keep)
    code = mPixel.pixel_format != 0 ? mPixel.pixel_format : platform_pixel_format();
  else
    code = bitmap_kind_format(kind);
  SetFormatCode(code);
}

void cBitmap::SetFormatCode(uint8_t code) {
  mPixel = pixel_geometry(code);
  mOrder = pixel_order(mPixel.pixel_format);
  // Only sizes that a Create could allocate are kept; larger ones are 0, and
  // Create refuses them with 203.
  const rLayout l = layout_of(mPixel, mWidth, mHeight);
  const bool fits = l.size <= cnBitmapSizeLimit;
  mStride = fits ? int32_t(l.stride) : 0;
  mDataSize = fits ? int32_t(l.size) : 0;
}

void cBitmap::TakePixels(cBitmap& other) {
  mem_free(mData);
  mData = std::exchange(other.mData, nullptr);
  mDataSize = other.mDataSize;
  mWidth = other.mWidth;
  mHeight = other.mHeight;
  mStride = other.mStride;
  mPixel = other.mPixel;
  mOrder = other.mOrder;
  mPixelsSerial = next_pixels_serial();
}

bool cBitmap::Create(int32_t width, int32_t height) {
  return log_and_fail(this, false, [&] { return CreatePixels(width, height, true); });
}

bool cBitmap::CreateUnfilled(int32_t width, int32_t height) {
  return log_and_fail(this, false, [&] { return CreatePixels(width, height, false); });
}

// Create's body; raises on failure.
bool cBitmap::CreatePixels(int32_t width, int32_t height, bool fill) {
  if (mData != nullptr) raise_condition_error(errInvariant, "{IsOpened}");
  const int32_t w = width != 0 ? std::max(width, 1) : mWidth;
  const int32_t h = height != 0 ? std::max(height, 1) : mHeight;
  const uint8_t code = mPixel.pixel_format != 0 ? mPixel.pixel_format : platform_pixel_format();
  rLayout layout;
  tPixelBlock block = allocate_pixels(pixel_geometry(code), w, h, layout);
  mWidth = w;
  mHeight = h;
  SetFormatCode(code);
  mData = block.release();
  mPalette.reset();
  if (fill) Fill(mBackground, cnOpacityAlpha, 0, 0, mWidth, mHeight);
  mChangeCount = 0;
  mResizeCount = 0;
  mPixelsSerial = next_pixels_serial();
  return true;
}

bool cBitmap::Close() {
  return log_and_fail(this, false, [&] {
    if (mData == nullptr) raise_condition_error(errInvariant, "{not IsOpened}");
    mem_free(mData);
    mPalette.reset();
    mOrder = nullptr;
    return true;
  });
}

// ---------------------------------------------------------------------------
// Pixel access.

void cBitmap::CheckOpenWithOrder(std::source_location loc) const {
  if (mData == nullptr) raise_condition_error(errInvariant, "{not IsOpened}", {}, {}, loc);
  if (mOrder == nullptr) raise_condition_error(errInvariant, "{mOrder=NIL}", {}, {}, loc);
}

void cBitmap::CheckPixel(int32_t x, int32_t y, std::source_location loc) const {
  CheckOpenWithOrder(loc);
  // Compared as unsigned numbers: a negative coordinate is out of range too.
  if (uint32_t(x) > uint32_t(mWidth - 1)) raise_condition_error(errPreCondition, "{x>mWidth-1}", {}, {}, loc);
  if (uint32_t(y) > uint32_t(mHeight - 1)) raise_condition_error(errPreCondition, "{y>mHeight-1}", {}, {}, loc);
}

bool cBitmap::SetPixel(int32_t x, int32_t y, uint32_t color) {
  return log_and_fail(this, false, [&] {
    CheckPixel(x, y);
    if (color == rgb_none) raise_condition_error(errPreCondition, "{clr=rgb_none}");
    uint8_t* p = pixel_at(*this, x, y);
    color_split_rgb(color, p[mOrder->red], p[mOrder->green], p[mOrder->blue]);
    return true;
  });
}

uint32_t cBitmap::GetPixel(int32_t x, int32_t y) {
  return log_and_fail(this, uint32_t(0), [&] {
    CheckPixel(x, y);
    const uint8_t* p = pixel_at(*this, x, y);
    return color_rgb(p[mOrder->red], p[mOrder->green], p[mOrder->blue]);
  });
}

bool cBitmap::SetAlpha(int32_t x, int32_t y, uint8_t alpha) {
  return log_and_fail(this, false, [&] {
    CheckPixel(x, y);
    if (HasAlpha()) pixel_at(*this, x, y)[mOrder->alpha] = alpha;
    return true;
  });
}

uint8_t cBitmap::GetAlpha(int32_t x, int32_t y) {
  return log_and_fail(this, uint8_t(255), [&] {
    CheckPixel(x, y);
    return HasAlpha() ? pixel_at(*this, x, y)[mOrder->alpha] : uint8_t(255);
  });
}

uint8_t* cBitmap::ScanLine(int32_t y) {
  return log_and_fail(this, static_cast<uint8_t*>(nullptr), [&] {
    if (mData == nullptr) raise_condition_error(errInvariant, "{not IsOpened}");
    if (uint32_t(y) > uint32_t(mHeight - 1)) raise_condition_error(errPreCondition, "{y>mHeight-1}");
    return mData + int64_t(y) * mStride;
  });
}

bool bitmap_has_order(const cBitmap* bitmap, rChannelOrder& order) {
  if (bitmap == nullptr || !bitmap->IsOpened() || bitmap->Order() == nullptr) return false;
  order = *bitmap->Order();
  return true;
}

// ---------------------------------------------------------------------------
// Rows as floats.

void cBitmap::UnpackRow(int32_t count, const uint8_t* pixels, float* out) const {
  if (mOrder == nullptr) return;
  const int32_t bpp = BytesPerPixel();
  const bool alpha = HasAlpha();
  for (int32_t i = 0; i < count; ++i, pixels += bpp, out += 4) {
    out[0] = float(pixels[mOrder->red]) / 255.0f;
    out[1] = float(pixels[mOrder->green]) / 255.0f;
    out[2] = float(pixels[mOrder->blue]) / 255.0f;
    out[3] = alpha ? float(pixels[mOrder->alpha]) / 255.0f : 1.0f;
  }
}

namespace {
// value x 255 rounded to nearest, ties to even, as its low 8 bits. Values
// outside 0..1 are not clamped (1.5 gives 382 & 0xFF); a value that is not
// finite gives 0, and huge values are reduced exactly with fmod, so no
// conversion ever leaves the integer range.
uint8_t pack_value(float value) {
  const double v = double(value) * 255.0;
  if (!std::isfinite(v)) return 0;
  double r = std::fmod(std::nearbyint(v), 256.0);
  if (r < 0) r += 256.0;
  return uint8_t(int32_t(r));
}
}  // namespace

void cBitmap::PackRow(int32_t count, const float* values, uint8_t* pixels) const {
  if (mOrder == nullptr) return;
  const int32_t bpp = BytesPerPixel();
  const bool alpha = HasAlpha();
  for (int32_t i = 0; i < count; ++i, pixels += bpp, values += 4) {
    pixels[mOrder->red] = pack_value(values[0]);
    pixels[mOrder->green] = pack_value(values[1]);
    pixels[mOrder->blue] = pack_value(values[2]);
    if (alpha) pixels[mOrder->alpha] = pack_value(values[3]);
  }
}

// ---------------------------------------------------------------------------
// Clearing.

void cBitmap::Fill(uint32_t color, int32_t opacity, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  uint8_t cr = 0, cg = 0, cb = 0, ca = 0;
  color_split_rgba(color, cr, cg, cb, ca);
  const rChannelOrder o = *mOrder;
  const int32_t bpp = BytesPerPixel();
  const bool blend = opacity >= 0 && opacity <= 254;
  const bool alpha = opacity == cnOpacityAlpha && HasAlpha();
  // The destination's weight in 256ths.
  const int32_t k = blend ? 256 - opacity : 0;
  if (!blend && (alpha || !HasAlpha())) {
    // Every pixel the same bytes: one row by pixel, the others copied.
    uint8_t* first = mData + y1 * mStride + x1 * bpp;
    for (int64_t x = x1; x < x2; ++x) {
      uint8_t* p = first + (x - x1) * bpp;
      p[o.red] = cr;
      p[o.green] = cg;
      p[o.blue] = cb;
      if (alpha) p[o.alpha] = ca;
    }
    const size_t bytes = size_t((x2 - x1) * bpp);
    for (int64_t y = y1 + 1; y < y2; ++y) std::memcpy(mData + y * mStride + x1 * bpp, first, bytes);
    return;
  }
  for (int64_t y = y1; y < y2; ++y) {
    uint8_t* p = mData + y * mStride + x1 * bpp;
    // Plain writes give every row the bytes of the first one: copy them.
    if (!blend && y > y1) {
      std::memcpy(p, mData + y1 * mStride + x1 * bpp, size_t((x2 - x1) * bpp));
      continue;
    }
    for (int64_t x = x1; x < x2; ++x, p += bpp) {
      if (blend) {
        p[o.red] = blend_byte(cr, p[o.red], k);
        p[o.green] = blend_byte(cg, p[o.green], k);
        p[o.blue] = blend_byte(cb, p[o.blue], k);
      } else {
        p[o.red] = cr;
        p[o.green] = cg;
        p[o.blue] = cb;
      }
    }
  }
}

bool cBitmap::Clear(uint32_t color, int32_t opacity, const rRect* rect, uint16_t flags) {
  return log_and_fail(this, false, [&] {
    CheckOpenWithOrder();
    int64_t x1 = 0, y1 = 0, x2 = mWidth, y2 = mHeight;
    if (rect != nullptr) {
      const rRect r = rect_normalize(*rect);
      x1 = std::max<int64_t>(r.x1, 0);
      y1 = std::max<int64_t>(r.y1, 0);
      x2 = std::min<int64_t>(r.x2, mWidth);
      y2 = std::min<int64_t>(r.y2, mHeight);
    }
    if (x1 < x2 && y1 < y2) Fill(color == rgb_none ? mBackground : color, opacity, x1, y1, x2, y2);
    if ((flags & cnBitmapNoCount) == 0) ++mChangeCount;
    return true;
  });
}

// ---------------------------------------------------------------------------
// Converting.

void cBitmap::ConvertTo(uint8_t code) {
  CheckOpenWithOrder();
  if (code == 0) code = platform_pixel_format();
  if (code == mPixel.pixel_format) return;
  cBitmap temp(mWidth, mHeight, 0);
  temp.SetFormatCode(code);
  rLayout layout;
  try {
    temp.mData = allocate_pixels(temp.mPixel, mWidth, mHeight, layout).release();
  } catch (...) {
    raise_base_error(errQLMCall, "{temp.Create}");
  }
  const rChannelOrder s = *mOrder, d = *temp.mOrder;
  const int32_t sb = BytesPerPixel(), db = temp.BytesPerPixel();
  const bool source_alpha = HasAlpha(), target_alpha = temp.HasAlpha();
  for (int64_t y = 0; y < mHeight; ++y) {
    const uint8_t* sp = mData + y * mStride;
    uint8_t* dp = temp.mData + y * temp.mStride;
    for (int32_t x = 0; x < mWidth; ++x, sp += sb, dp += db) {
      dp[d.red] = sp[s.red];
      dp[d.green] = sp[s.green];
      dp[d.blue] = sp[s.blue];
      if (target_alpha) dp[d.alpha] = source_alpha ? sp[s.alpha] : uint8_t(255);
    }
  }
  TakePixels(temp);
}

bool cBitmap::Convert(int32_t kind) {
  return log_and_fail(this, false, [&] {
    ConvertTo(bitmap_kind_format(kind));
    return true;
  });
}

bool cBitmap::ConvertTransparencyToAlpha(uint8_t upper, uint8_t lower, uint16_t flags) {
  return log_and_fail(this, false, [&] {
    CheckOpenWithOrder();
    if (mTransparentColor == rgb_none) raise_condition_error(errInvariant, "{mTransparentColor=rgb_none}");
    const uint8_t code = mPixel.pixel_format;
    if (code == px24RGB || code == px24BGR) {
      try {
        ConvertTo(code == px24RGB ? px32RGBA : px32BGRA);
      } catch (...) {
        raise_base_error(errQLMCall, "{Self.Convert}");
      }
    }
    if (!HasAlpha()) raise_condition_error(errInvariant, "{mPixel.pixel_format}");
    uint8_t kr = 0, kg = 0, kb = 0;
    color_split_rgb(mTransparentColor, kr, kg, kb);
    // Bounds in int: key - lower and key + upper do not wrap.
    auto inside = [&](uint8_t v, uint8_t key) { return int(v) >= int(key) - lower && int(v) <= int(key) + upper; };
    const rChannelOrder o = *mOrder;
    const int32_t bpp = BytesPerPixel();
    for (int64_t y = 0; y < mHeight; ++y) {
      uint8_t* p = mData + y * mStride;
      for (int32_t x = 0; x < mWidth; ++x, p += bpp)
        p[o.alpha] = inside(p[o.red], kr) && inside(p[o.green], kg) && inside(p[o.blue], kb) ? 0 : 255;
    }
    if ((flags & cnBitmapNoCount) == 0) ++mChangeCount;
    mTransparentColor = rgb_none;
    return true;
  });
}

// ---------------------------------------------------------------------------
// Colours and palettes.

namespace {
// One bit per red-green-blue triple: byte red x 8192 + green x 32 + blue / 8,
// bit blue mod 8.
constexpr int64_t cnColorBitsetSize = int64_t(1) << 21;

class cColorBitset {
 public:
  cColorBitset() {
    if (!mem_alloc(mBits, cnColorBitsetSize)) raise_base_error(errNEnoughMem, "{mem_alloc}");
    Reset();
  }
  ~cColorBitset() { mem_free(mBits); }
  void Reset() { std::memset(mBits, 0, size_t(cnColorBitsetSize)); }
  // True when the triple was not set before.
  bool Set(uint8_t r, uint8_t g, uint8_t b) {
    uint8_t& byte = mBits[int32_t(r) * 8192 + int32_t(g) * 32 + b / 8];
    const uint8_t bit = uint8_t(1u << (b % 8));
    if (byte & bit) return false;
    byte |= bit;
    return true;
  }

 private:
  uint8_t* mBits = nullptr;
};

template <typename F>
void for_each_pixel(const cBitmap& bitmap, F&& visit) {
  const rChannelOrder o = *bitmap.Order();
  const int32_t bpp = bitmap.BytesPerPixel();
  for (int64_t y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* p = bitmap.Data() + y * bitmap.Stride();
    for (int32_t x = 0; x < bitmap.Width(); ++x, p += bpp) visit(p[o.red], p[o.green], p[o.blue]);
  }
}
}  // namespace

int32_t cBitmap::ColorsCount() {
  return log_and_fail(this, int32_t(-1), [&] {
    CheckOpenWithOrder();
    cColorBitset bits;
    int32_t count = 0;
    for_each_pixel(*this, [&](uint8_t r, uint8_t g, uint8_t b) { count += bits.Set(r, g, b) ? 1 : 0; });
    return count;
  });
}

bool cBitmap::MakePalette() {
  return log_and_fail(this, false, [&] {
    CheckOpenWithOrder();
    cColorBitset bits;
    int32_t count = 0;
    for_each_pixel(*this, [&](uint8_t r, uint8_t g, uint8_t b) { count += bits.Set(r, g, b) ? 1 : 0; });
    // The new palette is complete before the old one goes, so a failure
    // leaves the bitmap as it was.
    std::unique_ptr<cPalette> palette;
    if (count > 0) {
      palette = std::make_unique<cPalette>();
      if (palette->Create(count) == nullptr) raise_base_error(errNEnoughMem, "{mPalette.Create}");
      bits.Reset();
      uint8_t* entry = palette->Entries();
      for_each_pixel(*this, [&](uint8_t r, uint8_t g, uint8_t b) {
        if (!bits.Set(r, g, b)) return;
        entry[0] = r;
        entry[1] = g;
        entry[2] = b;
        entry[3] = 0;
        entry += 4;
      });
    }
    mPalette = std::move(palette);
    return true;
  });
}

// ---------------------------------------------------------------------------
// Mapping foreign rows.

bool cBitmap::Map(const void* map_data, void* user, int32_t map_width, int32_t map_height,
                  const rPixelGeometry* map_pixel, tBitmapMapImport map_import, float* row_buffer,
                  int64_t row_buffer_size) {
  return log_and_fail(this, false, [&] {
    if (mData != nullptr) raise_condition_error(errInvariant, "{IsOpened}");
    if (map_data == nullptr) raise_condition_error(errPreCondition, "{map_data=NIL}");
    if (map_pixel == nullptr) raise_condition_error(errPreCondition, "{map_pixel=NIL}");
    if (map_width < 1) raise_condition_error(errPreCondition, "{map_width<1}");
    if (map_height < 1) raise_condition_error(errPreCondition, "{map_height<1}");
    const uint8_t code = mPixel.pixel_format != 0 ? mPixel.pixel_format : platform_pixel_format();
    const rPixelGeometry& pixel = pixel_geometry(code);
    const bool same = map_pixel->pixel_format == code;
    if (!same && map_import == nullptr) raise_condition_error(errPreCondition, "{map_import=NIL}");
    rLayout layout;
    tPixelBlock block = allocate_pixels(pixel, map_width, map_height, layout);
    const int64_t foreign_stride = pixel_stride(*map_pixel, map_width);
    const uint8_t* foreign = static_cast<const uint8_t*>(map_data);

    // From here on the bitmap holds the new size and format, so that PackRow
    // works on it; a failure below restores the old ones.
    const int32_t old_width = mWidth, old_height = mHeight;
    const uint8_t old_code = mPixel.pixel_format;
    const rChannelOrder* old_order = mOrder;
    mWidth = map_width;
    mHeight = map_height;
    SetFormatCode(code);
    try {
      float* buffer = row_buffer;
      tMemBlock own;
      if (!same) {
        const int64_t needed = int64_t(map_width) * 16;
        if (buffer == nullptr || row_buffer_size != needed) {
          void* b = nullptr;
          if (!mem_alloc(b, needed)) raise_base_error(errNEnoughMem, "{mem_alloc}");
          own.reset(b);
          buffer = static_cast<float*>(b);
        }
      }
      uint8_t* pixels = block.get();
      for (int64_t y = 0; y < map_height; ++y) {
        const uint8_t* row = foreign + y * foreign_stride;
        uint8_t* out = pixels + y * layout.stride;
        if (same) {
          std::memcpy(out, row, size_t(layout.stride));
        } else {
          map_import(map_width, row, buffer, user);
          PackRow(map_width, buffer, out);
        }
      }
    } catch (...) {
      mWidth = old_width;
      mHeight = old_height;
      SetFormatCode(old_code);
      mOrder = old_order;
      throw;
    }
    mData = block.release();
    mChangeCount = 0;
    mResizeCount = 0;
    mPixelsSerial = next_pixels_serial();
    return true;
  });
}
