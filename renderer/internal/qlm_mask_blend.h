// One solid colour painted through a row of 8-bit coverage onto straight
// (not pre-multiplied) BGRA pixels: what AGG's pixfmt_bgra32 computes for
// blend_solid_hspan, pixel for pixel and byte for byte, several pixels per
// step. Kept glyph coverage is painted through it.
//
// For a pixel p, colour c and cover k: a = k * c.a / 255 rounded to
// nearest, then each of blue, green and red becomes
// (p * (255 - a) + c * a) / 255 and alpha becomes (pA * (255 - a) + 255 * a)
// / 255, both rounded to nearest. That is AGG's lerp and prelerp (exact: a
// quotient by 255 of an integer never ends in one half); a cover of 0
// leaves the pixel as it is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qlm_agg {

struct solid_bgra {
  uint8_t b = 0, g = 0, r = 0, a = 0;
};

// Blends `n` pixels at dst (4 bytes each, blue first) with the colour
// through covers[0 .. n).
void blend_solid_bgra(uint8_t* dst, const uint8_t* covers, size_t n, const solid_bgra& colour);

// The same over `rows` rows of `n` pixels: row i at dst + i x dst_stride
// (bytes, may be negative) through covers + i x cover_stride. A multiple of
// 4 for n is the fastest.
void blend_solid_bgra_rows(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* covers, size_t cover_stride, size_t n,
                           size_t rows, const solid_bgra& colour);

// The same at a full cover of every pixel (the inside of a filled box):
// an opaque colour is stored as it is, a translucent one blended with its
// own alpha. Row i at dst + i x dst_stride.
void fill_solid_bgra_rows(uint8_t* dst, ptrdiff_t dst_stride, size_t n, size_t rows, const solid_bgra& colour);

}  // namespace qlm_agg
