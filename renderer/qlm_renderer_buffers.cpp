// The renderer's own pixel buffers and the small feeders of AGG converters.
#include <algorithm>
#include <cstring>

#include "qlm_base_codes.h"
#include "qlm_base_util.h"
#include "qlm_renderer_buffers.h"

namespace {

// Width x height x bytes in 64 bits; 0 when a factor is not positive or the
// product passes the cap.
int64_t checked_size(int64_t width, int64_t height, int64_t bytes) {
  if (width <= 0 || height <= 0) return 0;
  if (width > cnRendererBufferLimit || height > cnRendererBufferLimit) return 0;
  const int64_t size = width * height * bytes;  // each factor <= 2^30: no overflow
  return size > cnRendererBufferLimit ? 0 : size;
}

}  // namespace

// ---------------------------------------------------------------------------
// gray8_buffer

gray8_buffer::~gray8_buffer() { mem_free(mMemory); }

bool gray8_buffer::Allocate(int64_t width, int64_t height) {
  mem_free(mMemory);
  mAllocWidth = 0;
  mAllocHeight = 0;
  const int64_t size = checked_size(width, height, 1);
  if (size == 0 || !mem_alloc(mMemory, size)) {
    mLastError = errNEnoughMem;
    return false;
  }
  mAllocWidth = int32_t(width);
  mAllocHeight = int32_t(height);
  return true;
}

void gray8_buffer::AttachAccessor() {
  mAccessor.attach(*this);
  mAccessorAttached = true;
}

bool gray8_buffer::Init(int32_t width, int32_t height, bool clear) {
  mValid = false;
  DetachAccessor();
  if (width <= 0 || height <= 0) {
    mLastError = errPreCondition;
    attach(nullptr, 0, 0, 0);
    return false;
  }
  if (mAllocWidth < width || mAllocHeight < height) {
    if (!Allocate(width, height)) {
      attach(nullptr, 0, 0, 0);
      return false;
    }
  }
  attach(mMemory, unsigned(width), unsigned(height), mAllocWidth);
  if (clear)
    for (int32_t y = 0; y < height; ++y) std::memset(row_ptr(y), 0, size_t(width));
  AttachAccessor();
  mValid = true;
  return true;
}

// ---------------------------------------------------------------------------
// gray8_mask_buffer

void gray8_mask_buffer::Reset() {
  mem_free(mMemory);
  mAllocWidth = 0;
  mAllocHeight = 0;
  attach(nullptr, 0, 0, 0);
  DetachAccessor();
  mX1 = mY1 = mX2 = mY2 = 0;
  mValid = false;
  mEmpty = true;
}

bool gray8_mask_buffer::Grow(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t fill) {
  // A refused call keeps the mask as it was, valid flag included: earlier
  // registrations must still answer.
  if (x1 >= x2 || y1 >= y2) return false;
  const int64_t nx1 = mEmpty ? x1 : std::min(mX1, x1);
  const int64_t ny1 = mEmpty ? y1 : std::min(mY1, y1);
  const int64_t nx2 = mEmpty ? x2 : std::max(mX2, x2);
  const int64_t ny2 = mEmpty ? y2 : std::max(mY2, y2);
  const int64_t w = nx2 - nx1;
  const int64_t h = ny2 - ny1;
  if (mEmpty || mAllocWidth < w || mAllocHeight < h) {
    const int64_t size = checked_size(w, h, 1);
    uint8_t* memory = nullptr;
    if (size == 0 || !mem_alloc(memory, size)) {
      mLastError = errNEnoughMem;
      return false;
    }
    if (!mEmpty && mMemory != nullptr) {
      // Old rows move to their place in the new bounds; the new area is
      // zeroed below.
      std::memset(memory, 0, size_t(size));
      for (int32_t y = 0; y < mAllocHeight; ++y)
        std::memcpy(memory + (y + mY1 - ny1) * w + (mX1 - nx1), mMemory + int64_t(y) * mAllocWidth,
                    size_t(mAllocWidth));
    }
    mem_free(mMemory);
    mMemory = memory;
    mAllocWidth = int32_t(w);
    mAllocHeight = int32_t(h);
    if (mEmpty) std::memset(mMemory, fill, size_t(size));
  }
  // While not empty the allocated size equals the bounds, so a grow that
  // needs no new memory covers nothing new.
  mX1 = int32_t(nx1);
  mY1 = int32_t(ny1);
  mX2 = int32_t(nx2);
  mY2 = int32_t(ny2);
  attach(mMemory, unsigned(w), unsigned(h), mAllocWidth);
  AttachAccessor();
  mEmpty = false;
  mValid = true;
  return true;
}

void gray8_mask_buffer::And(const agg::pixfmt_gray8& other) {
  if (mEmpty || mMemory == nullptr) return;
  const int64_t W = other.width();
  const int64_t H = other.height();
  // The true overlap of the mask's bounds with the plane 0..W, 0..H.
  const int64_t cx1 = std::max<int64_t>(mX1, 0), cx2 = std::min<int64_t>(mX2, W);
  const int64_t cy1 = std::max<int64_t>(mY1, 0), cy2 = std::min<int64_t>(mY2, H);
  if (cx1 >= cx2 || cy1 >= cy2) return;
  for (int64_t y = cy1; y < cy2; ++y) {
    const uint8_t* o = other.row_ptr(int(y));
    uint8_t* m = row_ptr(int(y - mY1));
    for (int64_t x = cx1; x < cx2; ++x)
      if (o[x] == 0) m[x - mX1] = 0;
  }
}

// ---------------------------------------------------------------------------
// rgba8_buffer

rgba8_buffer::~rgba8_buffer() { mem_free(mMemory); }

bool rgba8_buffer::Reserve(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) {
    mLastError = errPreCondition;
    return false;
  }
  // Width and height are compared one by one: a block of enough bytes but
  // another shape would be overrun by stride x rows.
  if (mAllocWidth < width || mAllocHeight < height) {
    mem_free(mMemory);
    mAllocWidth = 0;
    mAllocHeight = 0;
    const int64_t size = checked_size(width, height, 4);
    if (size == 0 || !mem_alloc(mMemory, size)) {
      mLastError = errNEnoughMem;
      attach(nullptr, 0, 0, 0);
      return false;
    }
    mAllocWidth = width;
    mAllocHeight = height;
  }
  attach(mMemory, unsigned(width), unsigned(height), mAllocWidth * 4);
  mAccessor.attach(*this);
  return true;
}

bool rgba8_buffer::Init(int32_t width, int32_t height) {
  mValid = false;
  if (!Reserve(width, height)) return false;
  for (int32_t y = 0; y < height; ++y) std::memset(row_ptr(y), 0, size_t(width) * 4);
  mSource = nullptr;
  mSourceChange = -1;
  mSourceResize = -1;
  mValid = true;
  return true;
}

void rgba8_buffer::Swap(rgba8_buffer& other) {
  if (&other == this) return;
  const unsigned w = width(), h = height(), ow = other.width(), oh = other.height();
  const int s = stride(), os = other.stride();
  std::swap(mMemory, other.mMemory);
  std::swap(mAllocWidth, other.mAllocWidth);
  std::swap(mAllocHeight, other.mAllocHeight);
  std::swap(mSource, other.mSource);
  std::swap(mSourceChange, other.mSourceChange);
  std::swap(mSourceResize, other.mSourceResize);
  std::swap(mSourceSerial, other.mSourceSerial);
  std::swap(mConversions, other.mConversions);
  std::swap(mValid, other.mValid);
  std::swap(mLastError, other.mLastError);
  attach(mMemory, mMemory != nullptr ? ow : 0, mMemory != nullptr ? oh : 0, mMemory != nullptr ? os : 0);
  other.attach(other.mMemory, other.mMemory != nullptr ? w : 0, other.mMemory != nullptr ? h : 0,
               other.mMemory != nullptr ? s : 0);
  mAccessor.attach(*this);
  other.mAccessor.attach(other);
}

std::unique_ptr<rgba8_buffer> rgba8_buffer::Clone() const {
  auto copy = std::make_unique<rgba8_buffer>();
  if (mMemory != nullptr) {
    const int64_t size = int64_t(mAllocWidth) * mAllocHeight * 4;
    if (!mem_alloc(copy->mMemory, size)) return nullptr;
    std::memcpy(copy->mMemory, mMemory, size_t(size));
    copy->mAllocWidth = mAllocWidth;
    copy->mAllocHeight = mAllocHeight;
    copy->attach(copy->mMemory, width(), height(), stride());
    copy->mAccessor.attach(*copy);
  }
  copy->mSource = mSource;
  copy->mSourceChange = mSourceChange;
  copy->mSourceResize = mSourceResize;
  copy->mSourceSerial = mSourceSerial;
  copy->mValid = mValid;
  return copy;
}

bool rgba8_buffer::LoadBitmap(cBitmap* bitmap) {
  mValid = false;
  if (bitmap == nullptr || !bitmap->IsOpened()) {
    mLastError = errPreCondition;
    return false;
  }
  const uint8_t code = bitmap->PixelFormat();
  const int32_t bpp = surface_bytes_per_pixel(code);
  const rChannelOrder* order = bitmap->Order();
  if (bpp == 0 || order == nullptr) {
    mLastError = errPreCondition;
    return false;
  }
  if (mSource == bitmap && mSourceSerial == bitmap->PixelsSerial() && mSourceChange != -1 && mSourceResize != -1 &&
      mSourceChange == bitmap->ChangeCount() && mSourceResize == bitmap->ResizeCount() && mMemory != nullptr) {
    mValid = true;
    return true;
  }
  mSource = nullptr;
  if (!Reserve(bitmap->Width(), bitmap->Height())) return false;
  const bool alpha = bpp == 4;
  for (int32_t y = 0; y < bitmap->Height(); ++y) {
    const uint8_t* s = bitmap->Data() + int64_t(y) * bitmap->Stride();
    uint8_t* d = row_ptr(y);
    for (int32_t x = 0; x < bitmap->Width(); ++x, s += bpp, d += 4) {
      d[0] = s[order->red];
      d[1] = s[order->green];
      d[2] = s[order->blue];
      d[3] = alpha ? s[order->alpha] : 255;
    }
  }
  mSource = bitmap;
  mSourceSerial = bitmap->PixelsSerial();
  ++mConversions;
  mSourceChange = bitmap->ChangeCount();
  mSourceResize = bitmap->ResizeCount();
  mValid = true;
  return true;
}

// ---------------------------------------------------------------------------
// rgba8_tile

rgba8_tile::rgba8_tile(int32_t width, int32_t height) : mWidth(std::max(width, 1)), mHeight(std::max(height, 1)) {
  const int64_t size = checked_size(mWidth, mHeight, 4);
  if (size != 0 && mem_alloc(mMemory, size)) std::memset(mMemory, 0, size_t(size));
}

rgba8_tile::~rgba8_tile() { mem_free(mMemory); }

uint32_t rgba8_tile::Pixel(int32_t x, int32_t y) const {
  if (mMemory == nullptr || x < 0 || y < 0 || x >= mWidth || y >= mHeight) return 0;
  const uint8_t* p = mMemory + (int64_t(y) * mWidth + x) * 4;
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// ---------------------------------------------------------------------------
// marker_vertex_source

void marker_vertex_source::rewind(unsigned path_id) {
  mCurrent = path_id < 3 ? mPaths[path_id] : nullptr;
  if (mCurrent != nullptr && mCurrent->empty()) mCurrent = nullptr;
  mIndex = 0;
  mStep = 0;
}

unsigned marker_vertex_source::vertex(double* x, double* y) {
  if (mCurrent == nullptr || mIndex >= mCurrent->size()) return agg::path_cmd_stop;
  const rCustomPathEntry& e = (*mCurrent)[mIndex];
  auto advance = [&] {
    ++mIndex;
    mStep = 0;
  };
  switch (e.command) {
    case cnPathMoveTo:
      *x = e.x1, *y = e.y1;
      advance();
      return agg::path_cmd_move_to;
    case cnPathLineTo:
      *x = e.x1, *y = e.y1;
      advance();
      return agg::path_cmd_line_to;
    case cnPathCurve3:
      if (mStep == 0) {
        *x = e.x1, *y = e.y1;
        mStep = 1;
      } else {
        *x = e.x2, *y = e.y2;
        advance();
      }
      return agg::path_cmd_curve3;
    case cnPathCurve4:
      if (mStep == 0) {
        *x = e.x1, *y = e.y1;
        mStep = 1;
      } else if (mStep == 1) {
        *x = e.x2, *y = e.y2;
        mStep = 2;
      } else {
        *x = e.x3, *y = e.y3;
        advance();
      }
      return agg::path_cmd_curve4;
    case cnPathClose: advance(); return cnMarkerClose;
    default: return agg::path_cmd_stop;
  }
}

// ---------------------------------------------------------------------------
// image_tint_converter

image_tint_converter::image_tint_converter(unsigned op, const agg::rgba8& tint,
                                           const qlm_agg::comp_op_table<agg::order_rgba>::func_type* table)
    : mOp(op >= 1 && op <= qlm_agg::cnCompOpCount ? op : qlm_agg::cnCompOpDst), mTint(tint), mTable(table) {}

void image_tint_converter::generate(agg::rgba8* span, int, int, unsigned len) {
  if (mOp != qlm_agg::cnCompOpDst && mTable != nullptr) {
    const auto blend = mTable[mOp];
    for (unsigned i = 0; i < len; ++i)
      blend(reinterpret_cast<agg::int8u*>(&span[i]), mTint.r, mTint.g, mTint.b, 255, agg::cover_full);
  }
  if (mTint.a < 255) {
    const unsigned a = mTint.a;
    for (unsigned i = 0; i < len; ++i) {
      span[i].r = agg::int8u((span[i].r * a) >> 8);
      span[i].g = agg::int8u((span[i].g * a) >> 8);
      span[i].b = agg::int8u((span[i].b * a) >> 8);
      span[i].a = agg::int8u((span[i].a * a) >> 8);
    }
  }
}

// ---------------------------------------------------------------------------
// bitmap_pattern_source

bitmap_pattern_source::bitmap_pattern_source(cBitmap* bitmap, uint8_t opacity)
    : mOpacity(opacity), mColor(0, 0, 0, opacity) {
  if (bitmap == nullptr || !bitmap->IsOpened() || bitmap->Order() == nullptr) return;
  const int32_t bpp = surface_bytes_per_pixel(bitmap->PixelFormat());
  if (bpp == 0) return;
  mValid = true;
  mWidth = bitmap->Width();
  mHeight = bitmap->Height();
  mStride = bitmap->Stride();
  mStep = bpp;
  mHasAlpha = bpp == 4;
  mOrder = *bitmap->Order();
  mData = bitmap->Data();
}

agg::rgba8 bitmap_pattern_source::pixel(int x, int y) const {
  if (!mValid) return mColor;
  if (x < 0 || y < 0 || x >= mWidth || y >= mHeight) return agg::rgba8(0, 0, 0, 0);
  const uint8_t* p = mData + int64_t(y) * mStride + int64_t(x) * mStep;
  unsigned a = mHasAlpha ? p[mOrder.alpha] : 255;
  if (mOpacity < 255) a = unsigned(double(a) / 255 * mOpacity / 255 * 255 + 0.5);
  return agg::rgba8(p[mOrder.red], p[mOrder.green], p[mOrder.blue], a);
}
