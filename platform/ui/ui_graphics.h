// Colours, rectangles, bitmaps with row access and the canvas that draws on
// them: the picture side of the window layer. Nothing here needs a display.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ui {

struct TPoint {
  int X = 0;
  int Y = 0;
  bool operator==(const TPoint&) const = default;
};

// Left/Top inclusive, Right/Bottom exclusive.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool Contains(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
  TRect Offset(int dx, int dy) const { return {Left + dx, Top + dy, Right + dx, Bottom + dy}; }
  TRect Intersect(const TRect& o) const;
  // The smallest rectangle holding both; an empty side counts as absent.
  TRect Union(const TRect& o) const;
  bool operator==(const TRect&) const = default;
};
inline TRect Bounds(int left, int top, int width, int height) { return {left, top, left + width, top + height}; }

// A colour is 0x00BBGGRR; system colours have the top bit set and the index
// of the system colour in the low byte.
using TColor = int32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TColor clSystemColor = TColor(0x80000000u);
constexpr TColor clScrollBar = clSystemColor | 0;
constexpr TColor clBackground = clSystemColor | 1;
constexpr TColor clActiveCaption = clSystemColor | 2;
constexpr TColor clInactiveCaption = clSystemColor | 3;
constexpr TColor clMenu = clSystemColor | 4;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowFrame = clSystemColor | 6;
constexpr TColor clMenuText = clSystemColor | 7;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clCaptionText = clSystemColor | 9;
constexpr TColor clActiveBorder = clSystemColor | 10;
constexpr TColor clInactiveBorder = clSystemColor | 11;
constexpr TColor clAppWorkSpace = clSystemColor | 12;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clGrayText = clSystemColor | 17;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clInactiveCaptionText = clSystemColor | 19;
constexpr TColor clBtnHighlight = clSystemColor | 20;
constexpr TColor cl3DDkShadow = clSystemColor | 21;
constexpr TColor cl3DLight = clSystemColor | 22;
constexpr TColor clInfoText = clSystemColor | 23;
constexpr TColor clInfoBk = clSystemColor | 24;

// The plain 0x00BBGGRR value of a colour. System colours come from a fixed
// table (never the desktop theme), so pictures are the same on every
// machine; an unknown system index and clNone/clDefault answer black.
uint32_t ColorToRGB(TColor color);
inline TColor RGB(uint8_t r, uint8_t g, uint8_t b) { return TColor(r | (g << 8) | (b << 16)); }

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
using enum TPixelFormat;

class TCanvas;

// A bitmap with rows top-down in one block. pf32bit pixels are in memory
// order B, G, R, A (what cairo reads as RGB24/ARGB32 on little-endian
// hosts, so a back buffer is presented without a copy); pf24bit pixels are
// B, G, R with rows padded to 4 bytes. Every other format keeps its size but
// has no rows: ScanLine fails and drawing on it does nothing.
class TBitmap {
 public:
  // Largest side and largest pixel block a bitmap accepts.
  static constexpr int kMaxSide = 32767;
  static constexpr size_t kMaxBytes = size_t(1) << 30;

  TBitmap();
  ~TBitmap();
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  TPixelFormat PixelFormat() const { return mFormat; }
  void SetPixelFormat(TPixelFormat format);
  int Width() const { return mWidth; }
  int Height() const { return mHeight; }
  void SetWidth(int w) { SetSize(w, mHeight); }
  void SetHeight(int h) { SetSize(mWidth, h); }
  // Keeps the pixels of the overlapping top-left part; new pixels are 0.
  // Refuses a negative size or one beyond the caps (std::invalid_argument).
  void SetSize(int w, int h);
  bool Empty() const { return mWidth <= 0 || mHeight <= 0; }
  bool HasRows() const { return !mPixels.empty(); }
  // Row y (0 = top). Fails (std::out_of_range) outside the bitmap and for a
  // format without rows.
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;
  // Bytes from one row to the next: positive, rows are top-down.
  ptrdiff_t RowStep() const { return mStride; }
  int BytesPerPixel() const;
  TCanvas& Canvas();

  // Pixel access for tests and small helpers; out of range answers clNone.
  TColor Pixel(int x, int y) const;
  void SetPixel(int x, int y, TColor c);

 private:
  void Reallocate(TPixelFormat format, int w, int h);
  TPixelFormat mFormat = pfDevice;
  int mWidth = 0;
  int mHeight = 0;
  ptrdiff_t mStride = 0;
  std::vector<uint8_t> mPixels;
  TCanvas* mCanvas = nullptr;
};

enum class TPenStyle { psSolid, psDash, psDot, psClear };
using enum TPenStyle;
enum class TBrushStyle { bsSolid, bsClear };
using enum TBrushStyle;

struct TPen {
  TColor Color = clBlack;
  TPenStyle Style = psSolid;
  int Width = 1;
};
struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
};
enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
struct TFont {
  std::string Name = "Tahoma";
  int Size = 8;    // points
  int Height = 0;  // pixels when non-zero (wins over Size)
  TColor Color = clWindowText;
  uint8_t Style = 0;  // TFontStyle bits
  bool operator==(const TFont&) const = default;
};

// The font's pixel height: |Height| when set, else Size points at 96 dpi;
// worked out in 64 bits and kept within 0..2^24.
inline int FontPixelHeight(const TFont& f) {
  int64_t px =
      f.Height != 0 ? (f.Height < 0 ? -int64_t(f.Height) : int64_t(f.Height)) : (int64_t(f.Size) * 96 + 36) / 72;
  return int(px < 0 ? 0 : px > (int64_t(1) << 24) ? (int64_t(1) << 24) : px);
}

// The size a one-line text takes without fonts: half the pixel height per
// byte, a quarter more than the pixel height high; within the int range.
inline TPoint PlainTextSize(const TFont& f, size_t bytes) {
  int64_t px = FontPixelHeight(f), w = int64_t(bytes > (size_t(1) << 32) ? (size_t(1) << 32) : bytes) * px / 2;
  return {int(w > INT32_MAX ? INT32_MAX : w), int(px + px / 4)};
}

// Draws on a bitmap through an origin and a clip rectangle (both in the
// bitmap's pixels). A canvas without a bitmap draws nothing.
class TCanvas {
 public:
  TPen Pen;
  TBrush Brush;
  TFont Font;

  TCanvas() = default;
  explicit TCanvas(TBitmap* target);
  void Bind(TBitmap* target, TPoint origin, const TRect& clip);
  void Unbind() { mTarget = nullptr; }
  bool Bound() const { return mTarget != nullptr; }
  TPoint Origin() const { return mOrigin; }
  // Clip in canvas coordinates.
  TRect ClipRect() const { return mClip.Offset(-mOrigin.X, -mOrigin.Y); }

  void FillRect(const TRect& r);
  // Outline with the pen (one pixel wide), inside with the brush.
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  // A plain copy: the source's alpha is not blended.
  void Draw(int x, int y, const TBitmap& source);
  void MoveTo(int x, int y) { mPen = {x, y}; }
  // Horizontal and vertical lines only; the end point is not drawn.
  void LineTo(int x, int y);
  TColor Pixel(int x, int y) const;

 private:
  void PutPixel(int x, int y, uint32_t rgb);
  void Fill(TRect r, uint32_t rgb);
  // Fills canvas coordinates given in 64 bits, so that sides at the ends of
  // the int range and the origin never overflow.
  void Fill64(int64_t left, int64_t top, int64_t right, int64_t bottom, uint32_t rgb);
  // The part of the bitmap the canvas may draw on, in canvas coordinates.
  void Visible(int64_t& left, int64_t& top, int64_t& right, int64_t& bottom) const;
  TBitmap* mTarget = nullptr;
  TPoint mOrigin;
  TRect mClip;
  TPoint mPen;
};

}  // namespace ui
