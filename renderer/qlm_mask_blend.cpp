// The solid-colour mask blend over straight BGRA (see qlm_mask_blend.h).
// With SSE2 four pixels go per step in 16-bit lanes: every product and sum
// stays below 65,536 (p * (255 - a) + c * a + 128 <= 65,153), so the lanes
// hold the exact integer formula.
#include "qlm_mask_blend.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace qlm_agg {

#ifdef __SSE2__

namespace {

struct lanes {
  __m128i zero, k128, k255, k257, alpha, colour, solid;
  bool opaque;
};

// x / 255 rounded, for 0 <= x <= 65,025, in 16-bit lanes: with t = x + 128,
// (t + (t >> 8)) >> 8, which for any t below 65,536 is the high half of
// t x 257.
inline __m128i div255(__m128i x, const lanes& l) { return _mm_mulhi_epu16(_mm_add_epi16(x, l.k128), l.k257); }

// (p * (255 - a) + q * a) / 255 rounded, in 16-bit lanes.
inline __m128i mix(__m128i p, __m128i a, const lanes& l) {
  return div255(_mm_add_epi16(_mm_mullo_epi16(p, _mm_sub_epi16(l.k255, a)), _mm_mullo_epi16(l.colour, a)), l);
}

// Four pixels at p with the four covers in `cover` (first in the low byte).
inline void blend4(uint8_t* p, uint32_t cover, const lanes& l) {
  const __m128i k = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(cover)), l.zero);
  const __m128i a = div255(_mm_mullo_epi16(k, l.alpha), l);
  const __m128i pairs = _mm_unpacklo_epi16(a, a);
  const __m128i a01 = _mm_unpacklo_epi32(pairs, pairs);
  const __m128i a23 = _mm_unpackhi_epi32(pairs, pairs);
  const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i lo = mix(_mm_unpacklo_epi8(d, l.zero), a01, l);
  const __m128i hi = mix(_mm_unpackhi_epi8(d, l.zero), a23, l);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(lo, hi));
}

// The lanes of a colour.
lanes lanes_of(const solid_bgra& c) {
  lanes l;
  l.zero = _mm_setzero_si128();
  l.k128 = _mm_set1_epi16(128);
  l.k255 = _mm_set1_epi16(255);
  l.k257 = _mm_set1_epi16(257);
  l.alpha = _mm_set1_epi16(c.a);
  l.colour = _mm_setr_epi16(c.b, c.g, c.r, 255, c.b, c.g, c.r, 255);
  // A full cover of an opaque colour gives the colour itself.
  l.solid = _mm_set1_epi32(int(uint32_t(c.b) | uint32_t(c.g) << 8 | uint32_t(c.r) << 16 | uint32_t(255) << 24));
  l.opaque = c.a == 255;
  return l;
}

inline void blend_row(uint8_t* dst, const uint8_t* covers, size_t n, const lanes& l) {
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    uint32_t cover;
    std::memcpy(&cover, covers + i, 4);
    if (cover == 0) continue;
    uint8_t* p = dst + 4 * i;
    if (l.opaque && cover == 0xFFFFFFFFu)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p), l.solid);
    else
      blend4(p, cover, l);
  }
  if (i == n) return;
  // The last one to three pixels, through a copy.
  uint8_t* p = dst + 4 * i;
  const uint8_t* k = covers + i;
  uint32_t cover = k[0];
  uint8_t pixels[16];
  switch (n - i) {
    case 3:
      cover |= uint32_t(k[1]) << 8 | uint32_t(k[2]) << 16;
      if (cover == 0) return;
      std::memcpy(pixels, p, 12);
      blend4(pixels, cover, l);
      std::memcpy(p, pixels, 12);
      break;
    case 2:
      cover |= uint32_t(k[1]) << 8;
      if (cover == 0) return;
      std::memcpy(pixels, p, 8);
      blend4(pixels, cover, l);
      std::memcpy(p, pixels, 8);
      break;
    default:
      if (cover == 0) return;
      std::memcpy(pixels, p, 4);
      blend4(pixels, cover, l);
      std::memcpy(p, pixels, 4);
      break;
  }
}

}  // namespace

void blend_solid_bgra(uint8_t* dst, const uint8_t* covers, size_t n, const solid_bgra& c) {
  if (c.a == 0 || n == 0) return;
  blend_row(dst, covers, n, lanes_of(c));
}

void blend_solid_bgra_rows(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* covers, size_t cover_stride,
                           size_t n, size_t rows, const solid_bgra& c) {
  if (c.a == 0 || n == 0) return;
  const lanes l = lanes_of(c);
  for (size_t r = 0; r < rows; ++r, dst += dst_stride, covers += cover_stride) blend_row(dst, covers, n, l);
}

#else

namespace {

// x / 255 rounded to nearest, for 0 <= x <= 65,025.
inline uint32_t div255(uint32_t x) {
  x += 128;
  return (x + (x >> 8)) >> 8;
}

inline void blend_pixel(uint8_t* p, uint32_t cover, const solid_bgra& c) {
  const uint32_t a = div255(cover * c.a);
  const uint32_t keep = 255 - a;
  p[0] = uint8_t(div255(p[0] * keep + c.b * a));
  p[1] = uint8_t(div255(p[1] * keep + c.g * a));
  p[2] = uint8_t(div255(p[2] * keep + c.r * a));
  p[3] = uint8_t(div255(p[3] * keep + 255 * a));
}

}  // namespace

void blend_solid_bgra(uint8_t* dst, const uint8_t* covers, size_t n, const solid_bgra& c) {
  if (c.a == 0) return;
  for (size_t i = 0; i < n; ++i)
    if (covers[i] != 0) blend_pixel(dst + 4 * i, covers[i], c);
}

void blend_solid_bgra_rows(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* covers, size_t cover_stride,
                           size_t n, size_t rows, const solid_bgra& c) {
  for (size_t r = 0; r < rows; ++r, dst += dst_stride, covers += cover_stride) blend_solid_bgra(dst, covers, n, c);
}

#endif

}  // namespace qlm_agg
