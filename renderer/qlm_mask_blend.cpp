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

void blend_solid_bgra_rows(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* covers, size_t cover_stride, size_t n,
                           size_t rows, const solid_bgra& c) {
  if (c.a == 0 || n == 0) return;
  const lanes l = lanes_of(c);
  for (size_t r = 0; r < rows; ++r, dst += dst_stride, covers += cover_stride) blend_row(dst, covers, n, l);
}

namespace {

// The last one to three pixels of a row at a full cover, one by one: the
// formula of the lanes in plain integers.
inline void blend_full_tail(uint8_t* p, size_t n, const solid_bgra& c) {
  const uint32_t keep = 255u - c.a;
  const uint32_t add[4] = {c.b * c.a + 128u, c.g * c.a + 128u, c.r * c.a + 128u, 255u * c.a + 128u};
  for (size_t i = 0; i < 4 * n; ++i) {
    const uint32_t t = p[i] * keep + add[i & 3];
    p[i] = uint8_t((t + (t >> 8)) >> 8);
  }
}

}  // namespace

void fill_solid_bgra_rows(uint8_t* dst, ptrdiff_t dst_stride, size_t n, size_t rows, const solid_bgra& c) {
  if (c.a == 0 || n == 0) return;
  if (c.a == 255) {
    const uint32_t word = uint32_t(c.b) | uint32_t(c.g) << 8 | uint32_t(c.r) << 16 | uint32_t(255) << 24;
    const __m128i v = _mm_set1_epi32(int(word));
    for (size_t r = 0; r < rows; ++r, dst += dst_stride) {
      size_t i = 0;
      for (; i + 16 <= n; i += 16) {
        uint8_t* p = dst + 4 * i;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 48), v);
      }
      for (; i + 4 <= n; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), v);
      for (; i < n; ++i) std::memcpy(dst + 4 * i, &word, 4);
    }
    return;
  }
  // Each channel: (p * (255 - a) + c * a + 128) / 255 as in mix(), the
  // colour's term added ahead.
  const __m128i zero = _mm_setzero_si128();
  const __m128i keep = _mm_set1_epi16(short(255 - c.a));
  const __m128i add =
      _mm_setr_epi16(short(c.b * c.a + 128), short(c.g * c.a + 128), short(c.r * c.a + 128), short(255 * c.a + 128),
                     short(c.b * c.a + 128), short(c.g * c.a + 128), short(c.r * c.a + 128), short(255 * c.a + 128));
  const __m128i k257 = _mm_set1_epi16(257);
  auto half = [&](__m128i d) { return _mm_mulhi_epu16(_mm_add_epi16(_mm_mullo_epi16(d, keep), add), k257); };
  for (size_t r = 0; r < rows; ++r, dst += dst_stride) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      uint8_t* p = dst + 4 * i;
      const __m128i d0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i d1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                       _mm_packus_epi16(half(_mm_unpacklo_epi8(d0, zero)), half(_mm_unpackhi_epi8(d0, zero))));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16),
                       _mm_packus_epi16(half(_mm_unpacklo_epi8(d1, zero)), half(_mm_unpackhi_epi8(d1, zero))));
    }
    for (; i + 4 <= n; i += 4) {
      uint8_t* p = dst + 4 * i;
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                       _mm_packus_epi16(half(_mm_unpacklo_epi8(d, zero)), half(_mm_unpackhi_epi8(d, zero))));
    }
    blend_full_tail(dst + 4 * i, n - i, c);
  }
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

void blend_solid_bgra_rows(uint8_t* dst, ptrdiff_t dst_stride, const uint8_t* covers, size_t cover_stride, size_t n,
                           size_t rows, const solid_bgra& c) {
  for (size_t r = 0; r < rows; ++r, dst += dst_stride, covers += cover_stride) blend_solid_bgra(dst, covers, n, c);
}

void fill_solid_bgra_rows(uint8_t* dst, ptrdiff_t dst_stride, size_t n, size_t rows, const solid_bgra& c) {
  if (c.a == 0) return;
  for (size_t r = 0; r < rows; ++r, dst += dst_stride)
    for (size_t i = 0; i < n; ++i) blend_pixel(dst + 4 * i, 255, c);
}

#endif

}  // namespace qlm_agg
