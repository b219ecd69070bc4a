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
  // Keep what overlaps when only the size changes.
  if (format == mFormat && bpp > 0 && !mPixels.empty()) {
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

uint8_t* TBitmap::ScanLine(int y) {
  return const_cast<uint8_t*>(static_cast<const TBitmap*>(this)->ScanLine(y));
}

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

void TCanvas::Fill(TRect r, uint32_t rgb) {
  if (!mTarget || !mTarget->HasRows()) return;
  TRect whole{0, 0, mTarget->Width(), mTarget->Height()};
  TRect clip = mClip == TRect{} ? whole : mClip;  // no clip: the whole bitmap
  r = r.Offset(mOrigin.X, mOrigin.Y).Intersect(clip).Intersect(whole);
  if (r.IsEmpty()) return;
  int bpp = mTarget->BytesPerPixel();
  uint8_t px[4] = {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 255};
  for (int y = r.Top; y < r.Bottom; ++y) {
    uint8_t* row = mTarget->ScanLine(y) + size_t(r.Left) * size_t(bpp);
    for (int x = r.Left; x < r.Right; ++x, row += bpp) std::memcpy(row, px, size_t(bpp));
  }
}

void TCanvas::PutPixel(int x, int y, uint32_t rgb) { Fill({x, y, x + 1, y + 1}, rgb); }

void TCanvas::FillRect(const TRect& r) {
  if (Brush.Style == bsClear) return;
  Fill(r, ToBGR(Brush.Color));
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1) return;
  if (Brush.Style != bsClear) Fill({x1 + 1, y1 + 1, x2 - 1, y2 - 1}, ToBGR(Brush.Color));
  if (Pen.Style == psClear) return;
  uint32_t rgb = ToBGR(Pen.Color);
  // Dashes run along the outline as one path: 6 on, 2 off (dots 1 on, 1 off).
  int on = Pen.Style == psDash ? 6 : 1, period = Pen.Style == psDash ? 8 : 2;
  bool solid = Pen.Style == psSolid;
  int step = 0;
  auto plot = [&](int x, int y) {
    if (solid || step % period < on) PutPixel(x, y, rgb);
    ++step;
  };
  for (int x = x1; x < x2 - 1; ++x) plot(x, y1);
  for (int y = y1; y < y2 - 1; ++y) plot(x2 - 1, y);
  for (int x = x2 - 1; x > x1; --x) plot(x, y2 - 1);
  for (int y = y2 - 1; y > y1; --y) plot(x1, y);
  if (x2 - x1 == 1 && y2 - y1 == 1) plot(x1, y1);
}

void TCanvas::LineTo(int x, int y) {
  if (Pen.Style != psClear) {
    uint32_t rgb = ToBGR(Pen.Color);
    if (y == mPen.Y)
      Fill({std::min(x, mPen.X), y, std::max(x, mPen.X) + (x < mPen.X ? 1 : 0), y + 1}, rgb);
    else if (x == mPen.X)
      Fill({x, std::min(y, mPen.Y), x + 1, std::max(y, mPen.Y) + (y < mPen.Y ? 1 : 0)}, rgb);
  }
  mPen = {x, y};
}

void TCanvas::Draw(int x, int y, const TBitmap& source) {
  if (!mTarget || !mTarget->HasRows() || !source.HasRows() || &source == mTarget) return;
  TRect whole{0, 0, mTarget->Width(), mTarget->Height()};
  TRect clip = mClip == TRect{} ? whole : mClip.Intersect(whole);
  TRect dst = Bounds(x + mOrigin.X, y + mOrigin.Y, source.Width(), source.Height()).Intersect(clip);
  if (dst.IsEmpty()) return;
  int sx0 = dst.Left - (x + mOrigin.X), sy0 = dst.Top - (y + mOrigin.Y);
  int sbpp = source.BytesPerPixel(), dbpp = mTarget->BytesPerPixel();
  for (int row = 0; row < dst.Height(); ++row) {
    const uint8_t* s = source.ScanLine(sy0 + row) + size_t(sx0) * size_t(sbpp);
    uint8_t* d = mTarget->ScanLine(dst.Top + row) + size_t(dst.Left) * size_t(dbpp);
    if (sbpp == dbpp && dbpp == 3) {
      std::memcpy(d, s, size_t(dst.Width()) * 3);
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
