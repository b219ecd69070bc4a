// Making one bitmap from another: exact copy, nearest and bilinear rescale,
// crop or placement, tiling, blank; and drawing one bitmap into another.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "qlm_base_simd.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__)) && defined(QLM_AVX2_BEGIN)
#define QLM_BITMAP_AVX2 1
#endif

#include "qlm_bitmap.h"
#include "qlm_bitmap_internal.h"

using namespace bitmap_detail;

namespace {

// Both bitmaps open, with an order, in the same format.
bool workers_can_run(const cBitmap* source, const cBitmap* target) {
  return source != nullptr && target != nullptr && source->IsOpened() && target->IsOpened() &&
         source->Order() != nullptr && source->PixelFormat() == target->PixelFormat();
}

// The mathematical remainder: never negative.
int64_t floor_mod(int64_t a, int64_t m) {
  const int64_t r = a % m;
  return r < 0 ? r + m : r;
}

}  // namespace

// ---------------------------------------------------------------------------
// Workers.

namespace {

// One target row of the nearest rescale: pixel k is source pixel map[k] of
// row s, or zeros where map[k] is -1 (a column no source pixel reaches; only
// looked for when `gaps`). The pixel size is fixed, so each copy is a move
// or two.
template <int64_t kBpp, bool kGaps>
void nearest_row(uint8_t* t, const uint8_t* s, const int32_t* map, int64_t n) {
  for (int64_t k = 0; k < n; ++k, t += kBpp) {
    if (kGaps && map[k] < 0)
      std::memset(t, 0, kBpp);
    else
      std::memcpy(t, s + int64_t(map[k]) * kBpp, kBpp);
  }
}

// The formats with a channel order have 3- or 4-byte pixels.
void nearest_row_any(uint8_t* t, const uint8_t* s, const int32_t* map, int64_t n, int64_t bpp, bool gaps) {
  if (bpp == 4) return gaps ? nearest_row<4, true>(t, s, map, n) : nearest_row<4, false>(t, s, map, n);
  return gaps ? nearest_row<3, true>(t, s, map, n) : nearest_row<3, false>(t, s, map, n);
}

}  // namespace

bool bitmap_resize(const cBitmap* source, cBitmap* target) {
  if (!workers_can_run(source, target)) return false;
  const int64_t sw = source->Width(), sh = source->Height();
  const int64_t tw = target->Width(), th = target->Height();
  const int64_t bpp = source->BytesPerPixel();
  const double sx = double(tw) / double(sw);
  const double sy = double(th) / double(sh);
  // The source column of each target column, worked out once.
  void* raw = nullptr;
  if (!mem_alloc(raw, tw * int64_t(sizeof(int32_t)))) return false;
  tMemBlock owned(raw);
  int32_t* map = static_cast<int32_t*>(raw);
  if (sx >= 1 && sy >= 1) {
    // Each source pixel covers rx columns from trunc(x * sx), later ones
    // overwriting earlier ones; a column none covers stays zero. Each built
    // row, with its padding zeroed, goes to ry target rows from
    // trunc(y * sy), later rows overwriting earlier ones.
    const int64_t rx = int64_t(std::nearbyint(sx + 0.5));
    const int64_t ry = int64_t(std::nearbyint(sy + 0.5));
    std::fill(map, map + tw, -1);
    for (int64_t x = 0; x < sw; ++x) {
      const int64_t c0 = int64_t(double(x) * sx);
      const int64_t c1 = std::min(c0 + rx - 1, tw - 1);
      for (int64_t c = c0; c <= c1; ++c) map[c] = int32_t(x);
    }
    const bool gaps = std::find(map, map + tw, -1) != map + tw;
    const int64_t stride = target->Stride(), used = tw * bpp;
    for (int64_t y = 0; y < sh; ++y) {
      const int64_t r0 = int64_t(double(y) * sy);
      const int64_t r1 = std::min(r0 + ry - 1, th - 1);
      if (r0 > r1) continue;
      uint8_t* first = pixel_at(*target, 0, r0);
      nearest_row_any(first, pixel_at(*source, 0, y), map, tw, bpp, gaps);
      std::memset(first + used, 0, size_t(stride - used));
      for (int64_t r = r0 + 1; r <= r1; ++r) std::memcpy(pixel_at(*target, 0, r), first, size_t(stride));
    }
    return true;
  }
  // 16.16 fixed point; 64-bit steps, so no source size overflows them.
  const int64_t step_x = (sw << 16) / tw;
  const int64_t step_y = (sh << 16) / th;
  for (int64_t x = 0; x < tw; ++x) map[x] = int32_t((x * step_x) >> 16);
  for (int64_t y = 0; y < th; ++y)
    nearest_row_any(pixel_at(*target, 0, y), pixel_at(*source, 0, (y * step_y) >> 16), map, tw, bpp, false);
  return true;
}

namespace {

// The four weights of the bilinear rescale (summing to 32768) for the
// fractions ax and ay: w00 for (x0, y0), w01 for (x1, y0), w10 for (x0, y1),
// w11 for (x1, y1).
struct rBilinearWeights {
  int32_t w00, w01, w10, w11;
};
inline rBilinearWeights bilinear_weights(int32_t ax, int32_t ay) {
  const int32_t w01 = ((32768 - ay) * ax) >> 15;
  const int32_t w11 = (ay * ax) >> 15;
  return {32768 - ay - w01, w01, ay - w11, w11};
}

// (w00 p00 + w01 p01 + w10 p10 + w11 p11) >> 15 for every byte of one pixel;
// the ordered formats are 24-bit or 32-bit with alpha, so every byte is a
// channel and the order does not matter.
inline void mix_pixel(uint8_t* t, const uint8_t* p00, const uint8_t* p01, const uint8_t* p10, const uint8_t* p11,
                      const rBilinearWeights& w, int64_t bpp) {
  for (int64_t c = 0; c < bpp; ++c)
    t[c] = uint8_t((w.w00 * p00[c] + w.w01 * p01[c] + w.w10 * p10[c] + w.w11 * p11[c]) >> 15);
}

#if defined(__SSE2__)
// The same sums for 4-byte pixels, exactly, with 16-bit multiplies adding
// pairs into 32 bits (pmaddwd). Every weight but w00 is below 32768 and w00
// is at least 1, so w00 - 1 and the others fit a signed 16-bit lane; the
// missing 1 x p00 is added back.

// One row's weights as the pairs pmaddwd takes: top[x] = (w00 - 1, w01),
// bottom[x] = (w10, w11), from ax2 = 2 ax per column, 8 columns at a time:
// ((32768 - ay) ax) >> 15 is the high half of (32768 - ay) x 2 ax.
void bilinear_row_weights(const uint16_t* ax2, int64_t count, int32_t ay, uint32_t* top, uint32_t* bottom) {
  const __m128i upper = _mm_set1_epi16(int16_t(uint16_t(32768 - ay)));
  const __m128i upper_less_1 = _mm_set1_epi16(int16_t(32767 - ay));
  const __m128i lower = _mm_set1_epi16(int16_t(ay));
  for (int64_t x = 0; x < count; x += 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ax2 + x));
    const __m128i w01 = _mm_mulhi_epu16(upper, a);
    const __m128i w11 = _mm_mulhi_epu16(lower, a);
    const __m128i w00 = _mm_sub_epi16(upper_less_1, w01);
    const __m128i w10 = _mm_sub_epi16(lower, w11);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(top + x), _mm_unpacklo_epi16(w00, w01));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(top + x + 4), _mm_unpackhi_epi16(w00, w01));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bottom + x), _mm_unpacklo_epi16(w10, w11));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bottom + x + 4), _mm_unpackhi_epi16(w10, w11));
  }
}

inline __m128i load_pixel(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}

// Two target pixels: a and b are their (x0, y0) pixels in the upper row r0
// (byte offsets), dx the step to x1 and dy the step to the lower row.
inline void mix_two_pixels(uint8_t* t, const uint8_t* r0, int64_t a, int64_t b, int64_t dx, int64_t dy,
                           const uint32_t* top, const uint32_t* bottom) {
  const __m128i zero = _mm_setzero_si128();
  const uint8_t* r1 = r0 + dy;
  const __m128i p00 = _mm_unpacklo_epi32(load_pixel(r0 + a), load_pixel(r0 + b));
  const __m128i p01 = _mm_unpacklo_epi32(load_pixel(r0 + a + dx), load_pixel(r0 + b + dx));
  const __m128i p10 = _mm_unpacklo_epi32(load_pixel(r1 + a), load_pixel(r1 + b));
  const __m128i p11 = _mm_unpacklo_epi32(load_pixel(r1 + a + dx), load_pixel(r1 + b + dx));
  const __m128i upper = _mm_unpacklo_epi8(p00, p01);
  const __m128i lower = _mm_unpacklo_epi8(p10, p11);
  const __m128i wt = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(top));
  const __m128i wb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom));
  const __m128i p00w = _mm_unpacklo_epi8(p00, zero);
  __m128i sa = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(upper, zero), _mm_shuffle_epi32(wt, 0x00)),
                             _mm_madd_epi16(_mm_unpacklo_epi8(lower, zero), _mm_shuffle_epi32(wb, 0x00)));
  __m128i sb = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi8(upper, zero), _mm_shuffle_epi32(wt, 0x55)),
                             _mm_madd_epi16(_mm_unpackhi_epi8(lower, zero), _mm_shuffle_epi32(wb, 0x55)));
  sa = _mm_srli_epi32(_mm_add_epi32(sa, _mm_unpacklo_epi16(p00w, zero)), 15);
  sb = _mm_srli_epi32(_mm_add_epi32(sb, _mm_unpackhi_epi16(p00w, zero)), 15);
  const __m128i packed = _mm_packs_epi32(sa, sb);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(t), _mm_packus_epi16(packed, packed));
}
#endif

#if defined(QLM_BITMAP_AVX2)
std::atomic<bool> g_bilinear_baseline{false};

bool bilinear_avx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes && !g_bilinear_baseline.load(std::memory_order_relaxed);
}

QLM_AVX2_BEGIN
// The same sums, eight target pixels of one row per step, for 4-byte pixels
// whose right neighbour is the next pixel (a source wider than one pixel):
// each target pixel's two upper and two lower pixels are one 8-byte load
// apiece, their bytes interleaved per channel and widened by one shuffle.
// Two pixels share a register, one per lane. The weights come from 2 ax per
// column (ax2_wide: eight times, one 16-byte lane) without a pass of their
// own: w01 and w11 are the high halves of (32768 - ay) x 2 ax and of
// ay x 2 ax, and the lane pairs (w00 - 1, w01) and (w10, w11) are those
// with their sign turned in the even lanes, plus (32767 - ay, 0) and
// (ay, 0). Returns the number of target pixels done.
int64_t bilinear_row_avx2(uint8_t* t, const uint8_t* r0, int64_t dy, const int64_t* offset, const uint16_t* ax2_wide,
                          int32_t ay, int64_t tw) {
  const uint8_t* r1 = r0 + dy;
  const __m256i upper = _mm256_set1_epi16(int16_t(uint16_t(32768 - ay)));
  const __m256i lower = _mm256_set1_epi16(int16_t(ay));
  const __m256i sign = _mm256_set1_epi32(0x0001FFFF);
  const __m256i top_base = _mm256_set1_epi32(32767 - ay);
  const __m256i bottom_base = _mm256_set1_epi32(ay);
  const __m256i low_half = _mm256_set1_epi32(0xFFFF);
  const __m256i interleave = _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1, 0, -1, 4, -1, 1,
                                              -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1);
  auto pairs = [&](const uint8_t* row, int64_t x) {
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + offset[x]));
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + offset[x + 1]));
    return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1), interleave);
  };
  // Pixels x and x + 1: eight 32-bit channel values.
  auto two = [&](int64_t x) {
    const __m256i a2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ax2_wide + x * 8));
    const __m256i wt = _mm256_add_epi16(_mm256_sign_epi16(_mm256_mulhi_epu16(a2, upper), sign), top_base);
    const __m256i wb = _mm256_add_epi16(_mm256_sign_epi16(_mm256_mulhi_epu16(a2, lower), sign), bottom_base);
    const __m256i top = pairs(r0, x), bottom = pairs(r1, x);
    const __m256i sum = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(top, wt), _mm256_madd_epi16(bottom, wb)),
                                         _mm256_and_si256(top, low_half));
    return _mm256_srli_epi32(sum, 15);
  };
  // Packing puts the pixels in the order x, x + 2, x + 4, x + 6 | x + 1,
  // x + 3, x + 5, x + 7; the permutation restores it.
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  int64_t x = 0;
  for (; x + 8 <= tw; x += 8, t += 32) {
    const __m256i lo = _mm256_packs_epi32(two(x), two(x + 2));
    const __m256i hi = _mm256_packs_epi32(two(x + 4), two(x + 6));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(t), _mm256_permutevar8x32_epi32(_mm256_packus_epi16(lo, hi), order));
  }
  return x;
}
QLM_AVX2_END
#endif

}  // namespace

void bitmap_bilinear_baseline_only(bool on) {
#if defined(QLM_BITMAP_AVX2)
  g_bilinear_baseline.store(on);
#else
  (void)on;
#endif
}

bool bitmap_bilinear(const cBitmap* source, cBitmap* target) {
  if (!workers_can_run(source, target)) return false;
  const int64_t sw = source->Width(), sh = source->Height();
  const int64_t tw = target->Width(), th = target->Height();
  const int64_t bpp = source->BytesPerPixel();
  // 1.15 fixed point in 64 bits, so no source size overflows the steps.
  const int64_t step_x = ((sw - 1) << 15) / tw;
  const int64_t step_y = ((sh - 1) << 15) / th;
  const int64_t dx = sw > 1 ? bpp : 0;
  const int64_t dy = sh > 1 ? source->Stride() : 0;
  // Per column, once: the byte offset of x0 and 2 ax; per row the weights of
  // every column. Counts padded to whole groups of 8. Without memory for
  // them the worker fails, as the nearest enlargement does without its row.
  const int64_t padded = (tw + 8) / 8 * 8;
  void* raw = nullptr;
  if (!mem_alloc(raw, padded * int64_t(sizeof(int64_t) + 9 * sizeof(uint16_t) + 2 * sizeof(uint32_t)))) return false;
  tMemBlock owned(raw);
  auto* offset = static_cast<int64_t*>(raw);
  auto* top = reinterpret_cast<uint32_t*>(offset + padded);
  auto* bottom = top + padded;
  auto* ax2 = reinterpret_cast<uint16_t*>(bottom + padded);
  uint16_t* ax2_wide = ax2 + padded;
  for (int64_t x = 0; x < padded; ++x) {
    const int64_t fx = x < tw ? x * step_x : 0;
    offset[x] = (fx >> 15) * bpp;
    ax2[x] = uint16_t((fx & 0x7FFF) * 2);
    for (int k = 0; k < 8; ++k) ax2_wide[x * 8 + k] = ax2[x];
  }
  for (int64_t y = 0; y < th; ++y) {
    const int64_t fy = y * step_y;
    const int32_t ay = int32_t(fy & 0x7FFF);
    const uint8_t* r0 = pixel_at(*source, 0, fy >> 15);
    uint8_t* t = pixel_at(*target, 0, y);
    int64_t x = 0;
#if defined(QLM_BITMAP_AVX2)
    if (bpp == 4 && dx == 4 && bilinear_avx2()) {
      x = bilinear_row_avx2(t, r0, dy, offset, ax2_wide, ay, tw);
      t += x * 4;
    }
#endif
#if defined(__SSE2__)
    if (bpp == 4 && x + 2 <= tw) {
      bilinear_row_weights(ax2 + x, tw - x, ay, top + x, bottom + x);
      for (; x + 2 <= tw; x += 2, t += 8) mix_two_pixels(t, r0, offset[x], offset[x + 1], dx, dy, top + x, bottom + x);
    }
#endif
    for (; x < tw; ++x, t += bpp) {
      const uint8_t* p = r0 + offset[x];
      mix_pixel(t, p, p + dx, p + dy, p + dy + dx, bilinear_weights(ax2[x] / 2, ay), bpp);
    }
  }
  return true;
}

bool bitmap_crop(const cBitmap* source, cBitmap* target, int32_t x_in, int32_t y_in, int32_t w_in, int32_t h_in,
                 int32_t vertical, int32_t horizontal, bool alpha_zero) {
  if (!workers_can_run(source, target)) return false;
  const int64_t sw = source->Width(), sh = source->Height();
  const int64_t tw = target->Width(), th = target->Height();
  const int64_t bpp = source->BytesPerPixel();
  // 1. The source rectangle inside the source.
  int64_t x = std::clamp<int64_t>(x_in, 0, sw), y = std::clamp<int64_t>(y_in, 0, sh);
  int64_t w = w_in <= 0 ? sw - x : std::min<int64_t>(w_in, sw - x);
  int64_t h = h_in <= 0 ? sh - y : std::min<int64_t>(h_in, sh - y);
  // 2. Its place in the target (centre: division truncating toward zero).
  auto place = [](int32_t align, int64_t room, int64_t size) -> int64_t {
    if (align == cnAlignNear) return 0;
    if (align == cnAlignFar) return room - size;
    return (room - size) / 2;
  };
  int64_t left = place(horizontal, tw, w), top = place(vertical, th, h);
  // 3. A negative place moves into the source rectangle; then cut to the target.
  if (left < 0) {
    x -= left;
    w = std::max<int64_t>(w + left, 0);
    left = 0;
  }
  if (top < 0) {
    y -= top;
    h = std::max<int64_t>(h + top, 0);
    top = 0;
  }
  w = std::max<int64_t>(std::min(w, tw - left), 0);
  h = std::max<int64_t>(std::min(h, th - top), 0);

  // 5. The fill pixel: the source's background through the target's order.
  const rChannelOrder o = *target->Order();
  uint8_t fill[4] = {0, 0, 0, 0};
  uint8_t fa = 0;
  color_split_rgba(source->Background(), fill[o.red], fill[o.green], fill[o.blue], fa);
  if (target->HasAlpha()) fill[o.alpha] = alpha_zero ? 0 : fa;
  auto fill_run = [&](uint8_t* p, int64_t count) {
    for (int64_t i = 0; i < count; ++i, p += bpp) std::memcpy(p, fill, size_t(bpp));
  };
  // 4. Rows above and below are all fill; rows of the rectangle are fill,
  // source pixels, fill.
  for (int64_t r = 0; r < th; ++r) {
    uint8_t* row = pixel_at(*target, 0, r);
    if (r < top || r >= top + h || w == 0) {
      fill_run(row, tw);
      continue;
    }
    fill_run(row, left);
    std::memcpy(row + left * bpp, pixel_at(*source, x, y + (r - top)), size_t(w * bpp));
    fill_run(row + (left + w) * bpp, tw - left - w);
  }
  return true;
}

bool bitmap_tile(const cBitmap* source, cBitmap* target, int64_t ox, int64_t oy) {
  if (!workers_can_run(source, target)) return false;
  const int64_t sw = source->Width(), sh = source->Height();
  const int64_t tw = target->Width(), th = target->Height();
  const int64_t bpp = source->BytesPerPixel();
  // Offsets reduced first, so X + ox never overflows.
  const int64_t mx = floor_mod(ox, sw), my = floor_mod(oy, sh);
  for (int64_t y = 0; y < th; ++y) {
    const int64_t src_y = (y % sh + my) % sh;
    uint8_t* t = pixel_at(*target, 0, y);
    int64_t src_x = mx;
    for (int64_t x = 0; x < tw;) {
      const int64_t run = std::min(sw - src_x, tw - x);
      std::memcpy(t + x * bpp, pixel_at(*source, src_x, src_y), size_t(run * bpp));
      x += run;
      src_x = 0;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Clone and Resize.

std::unique_ptr<cBitmap> cBitmap::Make(Operation op, int32_t width, int32_t height, uint16_t flags, int32_t x,
                                       int32_t y, int32_t w, int32_t h) {
  if (op == Operation::Copy) {
    width = mWidth;
    height = mHeight;
  }
  auto made = std::make_unique<cBitmap>(width, height, 0);
  made->SetFormatCode(mPixel.pixel_format);
  rLayout layout;
  made->mData = allocate_pixels(made->mPixel, made->mWidth, made->mHeight, layout).release();
  switch (op) {
    case Operation::Copy:
      std::memcpy(made->mData, mData, size_t(mDataSize));
      if (mPalette != nullptr) {
        made->mPalette = mPalette->Clone();
        if (made->mPalette == nullptr) raise_base_error(errNEnoughMem, "{mPalette.Clone}");
      }
      break;
    case Operation::Nearest:
      if (!bitmap_resize(this, made.get())) raise_base_error(errSubFnCall, "{bitmap_resize}");
      break;
    case Operation::Bilinear:
      if (!bitmap_bilinear(this, made.get())) raise_base_error(errSubFnCall, "{bitmap_bilinear}");
      break;
    case Operation::Crop: {
      const int32_t vertical = flags & cnResizeTop ? cnAlignNear : flags & cnResizeBottom ? cnAlignFar : cnAlignCenter;
      const int32_t horizontal = flags & cnResizeLeft    ? cnAlignNear
                                 : flags & cnResizeRight ? cnAlignFar
                                                         : cnAlignCenter;
      if (!bitmap_crop(this, made.get(), x, y, w, h, vertical, horizontal, (flags & cnResizeAlphaZero) != 0))
        raise_base_error(errSubFnCall, "{bitmap_crop}");
      break;
    }
    case Operation::Tile:
      if (!bitmap_tile(this, made.get(), x, y)) raise_base_error(errSubFnCall, "{bitmap_tile}");
      break;
    case Operation::Blank: break;
  }
  made->mBackground = mBackground;
  made->mTransparentColor = mTransparentColor;
  made->mChangeCount = mChangeCount;
  made->mResizeCount = mResizeCount;
  return made;
}

std::unique_ptr<cBitmap> cBitmap::Clone(int32_t width, int32_t height, uint16_t flags, int32_t x, int32_t y, int32_t w,
                                        int32_t h) {
  return log_and_fail(this, std::unique_ptr<cBitmap>(), [&] {
    CheckOpenWithOrder();
    Operation op;
    if (flags & cnResizeCopy)
      op = width == mWidth && height == mHeight ? Operation::Copy : Operation::Bilinear;
    else if (flags & cnResizeNearest)
      op = Operation::Nearest;
    else if (flags & cnResizeBilinear)
      op = Operation::Bilinear;
    else if (flags & cnResizeCrop)
      op = Operation::Crop;
    else if (flags & cnResizeTile)
      op = Operation::Tile;
    else if (flags & cnResizeBlank)
      op = Operation::Blank;
    else
      raise_condition_error(errPreCondition, "{wrong_resize_operation}");
    const bool same = (width == 0 && height == 0) || (width == mWidth && height == mHeight);
    if ((op == Operation::Nearest || op == Operation::Bilinear) && same) op = Operation::Copy;
    if (op == Operation::Nearest || op == Operation::Bilinear || op == Operation::Blank) {
      if (width < 1) raise_condition_error(errPreCondition, "{width<1}");
      if (height < 1) raise_condition_error(errPreCondition, "{height<1}");
    }
    return Make(op, width, height, flags, x, y, w, h);
  });
}

bool cBitmap::Resize(int32_t width, int32_t height, uint16_t flags, int32_t x, int32_t y, int32_t w, int32_t h) {
  return log_and_fail(this, false, [&] {
    CheckOpenWithOrder();
    if (width < 1) raise_condition_error(errPreCondition, "{width<1}");
    if (height < 1) raise_condition_error(errPreCondition, "{height<1}");
    Operation op = Operation::Bilinear;
    if (flags & cnResizeCopy)
      op = Operation::Bilinear;
    else if (flags & cnResizeNearest)
      op = Operation::Nearest;
    else if (flags & cnResizeBilinear)
      op = Operation::Bilinear;
    else if (flags & cnResizeCrop)
      op = Operation::Crop;
    else if (flags & cnResizeTile)
      op = Operation::Tile;
    else if (flags & cnResizeBlank)
      op = Operation::Blank;
    if (width == mWidth && height == mHeight) return true;
    std::unique_ptr<cBitmap> made = Make(op, width, height, flags, x, y, w, h);
    TakePixels(*made);
    mPalette.reset();
    if ((flags & cnBitmapNoCount) == 0) ++mResizeCount;
    return true;
  });
}

// ---------------------------------------------------------------------------
// Drawing one bitmap into another.

bool cBitmap::CopyBitmap(cBitmap* from, int32_t x, int32_t y, int32_t opacity, int32_t source_x, int32_t source_y,
                         int32_t width, int32_t height) {
  return log_and_fail(this, false, [&] {
    CheckOpenWithOrder();
    if (from == nullptr) raise_condition_error(errPreCondition, "{from=NIL}");
    if (!from->IsOpened()) raise_condition_error(errPreCondition, "{not from.IsOpened}");
    if (from->mOrder == nullptr) raise_condition_error(errPreCondition, "{from.mOrder=NIL}");
    rBlitPart part{x, y, source_x, source_y, width == 0 ? from->mWidth : width, height == 0 ? from->mHeight : height};
    if (!blit_clip(part, mWidth, mHeight, from->mWidth, from->mHeight, true)) return true;
    const auto [dx, dy, sx, sy, w, h] = part;

    enum class Mode { Copy, Constant, Alpha } mode = Mode::Copy;
    if (opacity == cnOpacityAlpha)
      mode = from->HasAlpha() ? Mode::Alpha : Mode::Copy;
    else if (opacity >= 0 && opacity <= 254)
      mode = Mode::Constant;
    const bool keyed = from->mTransparentColor != rgb_none;

    if (mode == Mode::Copy && !keyed && from->PixelFormat() == PixelFormat()) {
      const size_t bytes = size_t(w * BytesPerPixel());
      // memmove: the source may be this bitmap itself.
      for (int64_t r = 0; r < h; ++r) std::memmove(pixel_at(*this, dx, dy + r), pixel_at(*from, sx, sy + r), bytes);
      return true;
    }

    uint8_t kr = 0, kg = 0, kb = 0;
    color_split_rgb(from->mTransparentColor, kr, kg, kb);
    const rChannelOrder so = *from->mOrder, d = *mOrder;
    const int64_t sb = from->BytesPerPixel(), db = BytesPerPixel();
    const bool both_alpha = from->HasAlpha() && HasAlpha();
    const int32_t k_constant = mode == Mode::Constant ? 256 - opacity : 0;
    for (int64_t r = 0; r < h; ++r) {
      const uint8_t* s = pixel_at(*from, sx, sy + r);
      uint8_t* t = pixel_at(*this, dx, dy + r);
      for (int64_t i = 0; i < w; ++i, s += sb, t += db) {
        if (keyed && s[so.red] == kr && s[so.green] == kg && s[so.blue] == kb) continue;
        if (mode == Mode::Copy) {
          t[d.red] = s[so.red];
          t[d.green] = s[so.green];
          t[d.blue] = s[so.blue];
          if (both_alpha) t[d.alpha] = s[so.alpha];
          continue;
        }
        const int32_t k = mode == Mode::Constant ? k_constant : 256 - s[so.alpha];
        t[d.red] = blend_byte(s[so.red], t[d.red], k);
        t[d.green] = blend_byte(s[so.green], t[d.green], k);
        t[d.blue] = blend_byte(s[so.blue], t[d.blue], k);
      }
    }
    return true;
  });
}
