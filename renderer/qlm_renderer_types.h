// Types shared by the renderer's interface: the renderer colour, the affine
// matrix record, text alignment, text arguments of any string kind, and the
// callbacks the renderer calls.
#pragma once

#include <cstdint>
#include <string>

#include "qlm_base_fullstring.h"

class cBitmap;
class cRenderer;

// Renderer colour: red in bits 0-7, green 8-15, blue 16-23, alpha 24-31.
constexpr uint32_t renderer_color(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16 | uint32_t(a) << 24;
}
// The framework's 0xAARRGGBB as a renderer colour (red and blue exchanged).
constexpr uint32_t renderer_color_from_argb(uint32_t argb) {
  return (argb & 0xFF00FF00u) | (argb >> 16 & 0xFFu) | (argb & 0xFFu) << 16;
}

// A 2 x 3 affine matrix: x' = x sx + y shx + tx, y' = x shy + y sy + ty.
struct rMatrix {
  double sx = 0;
  double shy = 0;
  double shx = 0;
  double sy = 0;
  double tx = 0;
  double ty = 0;
  bool operator==(const rMatrix&) const = default;
};

enum eAlign : uint8_t {
  ALIGN_NONE = 0,
  ALIGN_LEFT = 1,
  ALIGN_RIGHT = 2,
  ALIGN_CENTER = 3,
  ALIGN_TOP = 4,
  ALIGN_BOTTOM = 5,
  ALIGN_JUSTIFY = 6,
  ALIGN_WIDTH = 7
};

// A text argument of any of the six string kinds: 8-bit and 16-bit strings,
// full strings, and zero-terminated runs of 8-, 16- or 32-bit code units. It
// refers to the caller's text; nothing is copied. A nil pointer is empty.
struct rTextView {
  const void* data = nullptr;
  int64_t length = 0;  // in code units
  uint8_t unit = 1;    // bytes per code unit: 1, 2 or 4

  rTextView() = default;
  rTextView(const std::string& s) : data(s.data()), length(int64_t(s.size())), unit(1) {}
  rTextView(const std::u16string& s) : data(s.data()), length(int64_t(s.size())), unit(2) {}
  rTextView(const char* s) : data(s), length(zero_length(s)), unit(1) {}
  rTextView(const char16_t* s) : data(s), length(zero_length(s)), unit(2) {}
  rTextView(const char32_t* s) : data(s), length(zero_length(s)), unit(4) {}
  // A full string (its length is stored before its first unit).
  static rTextView Full(tFullString s) {
    rTextView v;
    v.data = s;
    v.length = s != nullptr ? fullstring_length(s) : 0;
    v.unit = 4;
    return v;
  }
  // The code unit at i (0 <= i < length).
  uint32_t At(int64_t i) const {
    switch (unit) {
      case 1: return static_cast<const uint8_t*>(data)[i];
      case 2: return static_cast<const char16_t*>(data)[i];
      default: return uint32_t(static_cast<const int32_t*>(data)[i]);
    }
  }

 private:
  template <typename C>
  static int64_t zero_length(const C* s) {
    int64_t n = 0;
    if (s != nullptr)
      while (s[n] != 0) ++n;
    return n;
  }
};

// The per-primitive filter: called with the layer bitmap once the primitive
// is drawn into it; setting keep hands the bitmap to the callee. The user
// value is pointer-sized (callers pass objects).
using tRendererFilterCallback = void (*)(cBitmap* layer, bool& keep, void* user);
// Pattern tiles: the callback draws one tile with the renderer it is given.
using tRendererPatternCallback = void (*)(cRenderer* renderer, void* user);
