// Bitmap builders and comparators shared by the imaging tests and the layers
// above: build a bitmap from a colour function, read pixels as 0xAARRGGBB
// whatever the channel order, and compare bitmaps with the first differing
// pixel named in the failure message.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "qlm_bitmap.h"

namespace testenv {

// The colour of pixel (x, y) as 0xAARRGGBB.
using tPixelFunction = std::function<uint32_t(int32_t x, int32_t y)>;

// Reads a pixel through the bitmap's order; alpha 255 in formats without it.
// No checks: the caller keeps inside the bitmap.
inline uint32_t pixel_argb(const cBitmap& b, int32_t x, int32_t y) {
  const rChannelOrder& o = *b.Order();
  const uint8_t* p = b.Data() + int64_t(y) * b.Stride() + int64_t(x) * b.BytesPerPixel();
  return color_rgba(p[o.red], p[o.green], p[o.blue], b.HasAlpha() ? p[o.alpha] : 255);
}

// Writes a pixel through the bitmap's order (alpha only where there is one).
inline void set_pixel_argb(cBitmap& b, int32_t x, int32_t y, uint32_t argb) {
  const rChannelOrder& o = *b.Order();
  uint8_t* p = b.Data() + int64_t(y) * b.Stride() + int64_t(x) * b.BytesPerPixel();
  uint8_t a = 0;
  color_split_rgba(argb, p[o.red], p[o.green], p[o.blue], a);
  if (b.HasAlpha()) p[o.alpha] = a;
}

// A created bitmap of the kind whose pixels come from the function.
inline std::unique_ptr<cBitmap> make_bitmap(int32_t w, int32_t h, int32_t kind, const tPixelFunction& color) {
  auto b = std::make_unique<cBitmap>(w, h, kind);
  if (!b->Create()) {
    ADD_FAILURE() << "Create " << w << " x " << h << " kind " << kind << ": " << b->LastErrorText();
    return b;
  }
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) set_pixel_argb(*b, x, y, color(x, y));
  return b;
}

// A deterministic pattern where neighbouring pixels differ in every channel.
inline uint32_t pattern_argb(int32_t x, int32_t y, uint32_t seed = 1) {
  uint32_t v = uint32_t(x) * 0x9E3779B1u ^ uint32_t(y) * 0x85EBCA77u ^ seed * 0xC2B2AE3Du;
  v ^= v >> 15;
  v *= 0x2C1B3C6Du;
  v ^= v >> 12;
  return v;
}
inline std::unique_ptr<cBitmap> make_pattern(int32_t w, int32_t h, int32_t kind, uint32_t seed = 1) {
  return make_bitmap(w, h, kind, [seed](int32_t x, int32_t y) { return pattern_argb(x, y, seed); });
}

// Pixels coded by position: red = x, green = y, blue = tag, alpha 255 - x.
inline uint32_t coord_argb(int32_t x, int32_t y, uint8_t tag = 0) {
  return color_rgba(uint8_t(x), uint8_t(y), tag, uint8_t(255 - x));
}

// One row's red bytes (with coord pixels: the source columns it shows).
inline std::vector<int> red_row(const cBitmap& b, int32_t y) {
  std::vector<int> out;
  for (int32_t x = 0; x < b.Width(); ++x) out.push_back(int(pixel_argb(b, x, y) >> 16 & 0xFF));
  return out;
}

inline std::string argb_text(uint32_t v) {
  std::ostringstream s;
  s << "0x" << std::hex << std::uppercase << v;
  return s.str();
}

// Every pixel equals the function's colour (compared with `mask`, by default
// all four channels; formats without alpha read as alpha 255).
inline ::testing::AssertionResult bitmap_matches(const cBitmap& b, const tPixelFunction& expected,
                                                 uint32_t mask = 0xFFFFFFFFu) {
  if (!b.IsOpened() || b.Order() == nullptr) return ::testing::AssertionFailure() << "bitmap not open or without order";
  for (int32_t y = 0; y < b.Height(); ++y)
    for (int32_t x = 0; x < b.Width(); ++x) {
      const uint32_t got = pixel_argb(b, x, y) & mask, want = expected(x, y) & mask;
      if (got != want)
        return ::testing::AssertionFailure() << "first difference at (" << x << ", " << y << "): got " << argb_text(got)
                                             << ", expected " << argb_text(want);
    }
  return ::testing::AssertionSuccess();
}

// Same size and the same pixels read through each one's order (formats may
// differ; without alpha a pixel reads alpha 255).
inline ::testing::AssertionResult bitmaps_equal(const cBitmap& a, const cBitmap& b, uint32_t mask = 0xFFFFFFFFu) {
  if (a.Width() != b.Width() || a.Height() != b.Height())
    return ::testing::AssertionFailure() << "size " << a.Width() << " x " << a.Height() << " against " << b.Width()
                                         << " x " << b.Height();
  if (!b.IsOpened() || b.Order() == nullptr) return ::testing::AssertionFailure() << "second bitmap not open";
  return bitmap_matches(
      a, [&](int32_t x, int32_t y) { return pixel_argb(b, x, y); }, mask);
}

// The bitmap's state that a failed operation must leave alone.
struct BitmapState {
  int32_t width = 0, height = 0, stride = 0, size = 0;
  uint8_t format = 0;
  const uint8_t* data = nullptr;
  const cPalette* palette = nullptr;
  int32_t changes = 0, resizes = 0;
  uint32_t transparent = 0;
  std::vector<uint8_t> bytes;
  static BitmapState Of(const cBitmap& b) {
    BitmapState s;
    s.width = b.Width();
    s.height = b.Height();
    s.stride = b.Stride();
    s.size = b.DataSize();
    s.format = b.PixelFormat();
    s.data = b.Data();
    s.palette = b.Palette();
    s.changes = b.ChangeCount();
    s.resizes = b.ResizeCount();
    s.transparent = b.TransparentColor();
    if (b.Data() != nullptr) s.bytes.assign(b.Data(), b.Data() + b.DataSize());
    return s;
  }
  bool operator==(const BitmapState&) const = default;
};

}  // namespace testenv
