#include "ui_graphics.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace ui {

TRect TRect::Intersect(const TRect& o) const {
  TRect r{std::max(Left, o.Left), std::max(Top, o.Top), std::min(Right, o.Right), std::min(Bottom, o.Bottom)};
  if (r.IsEmpty()) return {};
  return r;
}

TRect TRect::Union(const TRect& o) const {
  if (IsEmpty()) return o;
  if (o.IsEmpty()) return *this;
  return {std::min(Left, o.Left), std::min(Top, o.Top), std::max(Right, o.Right), std::max(Bottom, o.Bottom)};
}

namespace {

// The fixed system colour table, indexed by the low byte of a system colour.
constexpr uint32_t kSystemColors[] = {
    0xC8C8C8,  // scroll bar
    0x000000,  // background
    0xD1B499,  // active caption
    0xDBCDBF,  // inactive caption
    0xF0F0F0,  // menu
    0xFFFFFF,  // window
    0x646464,  // window frame
    0x000000,  // menu text
    0x000000,  // window text
    0x000000,  // caption text
    0xB4B4B4,  // active border
    0xFCF7F4,  // inactive border
    0xABABAB,  // application work space
    0xFF9933,  // highlight
    0xFFFFFF,  // highlight text
    0xF0F0F0,  // button face
    0xA0A0A0,  // button shadow
    0x6D6D6D,  // grey text
    0x000000,  // button text
    0x000000,  // inactive caption text
    0xFFFFFF,  // button highlight
    0x696969,  // 3D dark shadow
    0xE3E3E3,  // 3D light
    0x000000,  // info text
    0xE1FFFF,  // info background
};

inline uint32_t ToBGR(TColor c) { return ColorToRGB(c); }

}  // namespace

uint32_t ColorToRGB(TColor color) {
  if (color < 0) {
    size_t index = uint32_t(color) & 0xFF;
    if ((uint32_t(color) & 0x7FFFFF00u) != 0 || index >= std::size(kSystemColors)) return 0;
    return kSystemColors[index];
  }
  if (color == clNone || color == clDefault) return 0;
  return uint32_t(color) & 0xFFFFFF;
}

// ---- TBitmap ----

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() { delete mCanvas; }

int TBitmap::BytesPerPixel() const {
  switch (mFormat) {
    case pf24bit: return 3;
    case pf32bit: return 4;
    default: return 0;
  }
}

void TBitmap::Reallocate(TPixelFormat format, int w, int h) {
  if (w < 0 || h < 0 || w > kMaxSide || h > kMaxSide)
    throw std::invalid_argument("TBitmap: size " + std::to_string(w) + "x" + std::to_string(h) + " out of range");
  int bpp = format == pf24bit ? 3 : format == pf32bit ? 4 : 0;
  ptrdiff_t stride = bpp == 3 ? ((ptrdiff_t(w) * 3 + 3) & ~ptrdiff_t(3)) : ptrdiff_t(w) * bpp;
  size_t bytes = size_t(stride) * size_t(h);
  if (bytes > kMaxBytes) throw std::invalid_argument("TBitmap: pixel block too large");
  std::vector<uint8_t> pixels(bytes, 0);
  // Keep what overlaps when only the size changes. A side of 0 leaves no
  // block to copy into (and no rows to copy).
  if (format == mFormat && bpp > 0 && !mPixels.empty() && !pixels.empty()) {
    int rows = std::min(h, mHeight);
    size_t row_bytes = size_t(std::min(w, mWidth)) * size_t(bpp);
    for (int y = 0; y < rows; ++y)
      std::memcpy(pixels.data() + size_t(y) * size_t(stride), mPixels.data() + size_t(y) * size_t(mStride), row_bytes);
  }
  mPixels.swap(pixels);
  mFormat = format;
  mWidth = w;
  mHeight = h;
  mStride = stride;
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format != mFormat) Reallocate(format, mWidth, mHeight);
}

void TBitmap::SetSize(int w, int h) {
  if (w != mWidth || h != mHeight) Reallocate(mFormat, w, h);
}

uint8_t* TBitmap::ScanLine(int y) { return const_cast<uint8_t*>(static_cast<const TBitmap*>(this)->ScanLine(y)); }

const uint8_t* TBitmap::ScanLine(int y) const {
  if (mPixels.empty()) throw std::out_of_range("TBitmap.ScanLine: the bitmap has no rows");
  if (y < 0 || y >= mHeight) throw std::out_of_range("TBitmap.ScanLine: row " + std::to_string(y) + " out of range");
  return mPixels.data() + size_t(y) * size_t(mStride);
}

TCanvas& TBitmap::Canvas() {
  if (!mCanvas) mCanvas = new TCanvas(this);
  return *mCanvas;
}

TColor TBitmap::Pixel(int x, int y) const {
  if (mPixels.empty() || x < 0 || y < 0 || x >= mWidth || y >= mHeight) return clNone;
  const uint8_t* p = mPixels.data() + size_t(y) * size_t(mStride) + size_t(x) * size_t(BytesPerPixel());
  return RGB(p[2], p[1], p[0]);
}

void TBitmap::SetPixel(int x, int y, TColor c) {
  if (mPixels.empty() || x < 0 || y < 0 || x >= mWidth || y >= mHeight) return;
  uint32_t rgb = ToBGR(c);
  uint8_t* p = mPixels.data() + size_t(y) * size_t(mStride) + size_t(x) * size_t(BytesPerPixel());
  p[0] = uint8_t(rgb >> 16);
  p[1] = uint8_t(rgb >> 8);
  p[2] = uint8_t(rgb);
  if (mFormat == pf32bit) p[3] = 255;
}

// ---- TCanvas ----

TCanvas::TCanvas(TBitmap* target) : mTarget(target) {}

void TCanvas::Bind(TBitmap* target, TPoint origin, const TRect& clip) {
  mTarget = target;
  mOrigin = origin;
  mClip = clip;
}

void TCanvas::Visible(int64_t& left, int64_t& top, int64_t& right, int64_t& bottom) const {
  TRect whole{0, 0, mTarget->Width(), mTarget->Height()};
  TRect clip = mClip == TRect{} ? whole : mClip.Intersect(whole);  // no clip: the whole bitmap
  left = int64_t(clip.Left) - mOrigin.X;
  top = int64_t(clip.Top) - mOrigin.Y;
  right = int64_t(clip.Right) - mOrigin.X;
  bottom = int64_t(clip.Bottom) - mOrigin.Y;
}

void TCanvas::Fill64(int64_t left, int64_t top, int64_t right, int64_t bottom, uint32_t rgb) {
  if (!mTarget || !mTarget->HasRows()) return;
  int64_t vl, vt, vr, vb;
  Visible(vl, vt, vr, vb);
  left = std::max(left, vl);
  top = std::max(top, vt);
  right = std::min(right, vr);
  bottom = std::min(bottom, vb);
  if (right <= left || bottom <= top) return;
  // Back to bitmap pixels: inside the bitmap, so they fit an int.
  int l = int(left + mOrigin.X), t = int(top + mOrigin.Y), r = int(right + mOrigin.X), b = int(bottom + mOrigin.Y);
  const size_t bpp = size_t(mTarget->BytesPerPixel());
  const uint8_t px[4] = {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 255};
  // The first row: one pixel, then copies of what is filled so far, each
  // twice as long as the last; every other row is a copy of the first.
  const size_t row_bytes = size_t(r - l) * bpp;
  uint8_t* first = mTarget->ScanLine(t) + size_t(l) * bpp;
  std::memcpy(first, px, bpp);
  for (size_t done = bpp; done < row_bytes;) {
    const size_t n = std::min(done, row_bytes - done);
    std::memcpy(first + done, first, n);
    done += n;
  }
  const ptrdiff_t step = mTarget->RowStep();
  uint8_t* row = first;
  for (int y = t + 1; y < b; ++y) {
    row += step;
    std::memcpy(row, first, row_bytes);
  }
}

void TCanvas::Fill(TRect r, uint32_t rgb) { Fill64(r.Left, r.Top, r.Right, r.Bottom, rgb); }

void TCanvas::PutPixel(int x, int y, uint32_t rgb) { Fill64(x, y, int64_t(x) + 1, int64_t(y) + 1, rgb); }

void TCanvas::FillRect(const TRect& r) {
  if (Brush.Style == bsClear) return;
  Fill(r, ToBGR(Brush.Color));
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (int64_t(x2) - x1 < 1 || int64_t(y2) - y1 < 1) return;
  if (Brush.Style != bsClear)
    Fill64(int64_t(x1) + 1, int64_t(y1) + 1, int64_t(x2) - 1, int64_t(y2) - 1, ToBGR(Brush.Color));
  if (Pen.Style == psClear || !mTarget || !mTarget->HasRows()) return;
  uint32_t rgb = ToBGR(Pen.Color);
  // Dashes run along the outline as one path: 6 on, 2 off (dots 1 on, 1 off).
  // Only the part of each side that can show is walked; the path position
  // of its first pixel keeps the pattern where it would be.
  int64_t on = Pen.Style == psDash ? 6 : 1, period = Pen.Style == psDash ? 8 : 2;
  bool solid = Pen.Style == psSolid;
  int64_t vl, vt, vr, vb;
  Visible(vl, vt, vr, vb);
  // One side: n pixels from (x, y) in steps (dx, dy), the first at path
  // position base.
  auto side = [&](int64_t x, int64_t y, int dx, int dy, int64_t n, int64_t base) {
    if (n <= 0) return;
    // The index range whose pixels fall inside the visible part.
    int64_t lo = 0, hi = n;  // [lo, hi)
    auto limit = [&](int64_t start, int d, int64_t min, int64_t max) {
      if (d == 0) {
        if (start < min || start >= max) hi = lo;
        return;
      }
      int64_t a = d > 0 ? min - start : start - (max - 1), b = d > 0 ? max - start : start - min + 1;
      lo = std::max(lo, a);
      hi = std::min(hi, b);
    };
    limit(x, dx, vl, vr);
    limit(y, dy, vt, vb);
    for (int64_t i = lo; i < hi; ++i)
      if (solid || (base + i) % period < on) Fill64(x + dx * i, y + dy * i, x + dx * i + 1, y + dy * i + 1, rgb);
  };
  int64_t w = int64_t(x2) - x1, h = int64_t(y2) - y1;
  side(x1, y1, 1, 0, w - 1, 0);
  side(int64_t(x2) - 1, y1, 0, 1, h - 1, w - 1);
  side(int64_t(x2) - 1, int64_t(y2) - 1, -1, 0, w - 1, w - 1 + h - 1);
  side(x1, int64_t(y2) - 1, 0, -1, h - 1, 2 * (w - 1) + h - 1);
  if (w == 1 && h == 1) Fill64(x1, y1, int64_t(x1) + 1, int64_t(y1) + 1, rgb);
}

void TCanvas::LineTo(int x, int y) {
  if (Pen.Style != psClear) {
    uint32_t rgb = ToBGR(Pen.Color);
    if (y == mPen.Y)
      Fill64(std::min(x, mPen.X), y, int64_t(std::max(x, mPen.X)) + (x < mPen.X ? 1 : 0), int64_t(y) + 1, rgb);
    else if (x == mPen.X)
      Fill64(x, std::min(y, mPen.Y), int64_t(x) + 1, int64_t(std::max(y, mPen.Y)) + (y < mPen.Y ? 1 : 0), rgb);
  }
  mPen = {x, y};
}

void TCanvas::Draw(int x, int y, const TBitmap& source) {
  if (!mTarget || !mTarget->HasRows() || !source.HasRows() || &source == mTarget) return;
  int64_t vl, vt, vr, vb;
  Visible(vl, vt, vr, vb);
  int64_t l = std::max<int64_t>(x, vl), t = std::max<int64_t>(y, vt);
  int64_t r = std::min(int64_t(x) + source.Width(), vr), b = std::min(int64_t(y) + source.Height(), vb);
  if (r <= l || b <= t) return;
  // Inside the bitmap now: back to ints.
  TRect dst{int(l + mOrigin.X), int(t + mOrigin.Y), int(r + mOrigin.X), int(b + mOrigin.Y)};
  int sx0 = int(l - x), sy0 = int(t - y);
  int sbpp = source.BytesPerPixel(), dbpp = mTarget->BytesPerPixel();
  for (int row = 0; row < dst.Height(); ++row) {
    const uint8_t* s = source.ScanLine(sy0 + row) + size_t(sx0) * size_t(sbpp);
    uint8_t* d = mTarget->ScanLine(dst.Top + row) + size_t(dst.Left) * size_t(dbpp);
    if (sbpp == dbpp && dbpp == 3) {
      std::memcpy(d, s, size_t(dst.Width()) * 3);
      continue;
    }
    if (sbpp == 4 && dbpp == 4) {
      // Whole pixels with the alpha byte set: one load and store each.
      for (int i = 0; i < dst.Width(); ++i) {
        uint32_t p;
        std::memcpy(&p, s + size_t(i) * 4, 4);
        p |= 0xFF000000u;
        std::memcpy(d + size_t(i) * 4, &p, 4);
      }
      continue;
    }
    for (int i = 0; i < dst.Width(); ++i, s += sbpp, d += dbpp) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      if (dbpp == 4) d[3] = 255;
    }
  }
}

TColor TCanvas::Pixel(int x, int y) const {
  if (!mTarget) return clNone;
  return mTarget->Pixel(x + mOrigin.X, y + mOrigin.Y);
}

}  // namespace ui
