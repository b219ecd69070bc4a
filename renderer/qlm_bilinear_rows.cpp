// The two passes of the bilinear filter for plainly scaled pictures: plain
// C++ for the columns next to the picture's edges and for processors
// without SSE2, SSE2 on every x86-64 processor, AVX2 (chosen at run time)
// where there is one.
#include "qlm_bilinear_rows.h"

#include <atomic>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "qlm_base_simd.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__)) && defined(QLM_AVX2_BEGIN)
#define QLM_BILINEAR_AVX2 1
#endif

namespace qlm_agg {

namespace {

std::atomic<bool> g_bilinear_baseline{false};

#if defined(QLM_BILINEAR_AVX2)
bool bilinear_avx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes && !g_bilinear_baseline.load(std::memory_order_relaxed);
}
#endif

// One column whose pixels may lie outside the picture: each of the two
// pixels is transparent black there.
void filter_edge_column(const uint8_t* row, int width, int x, int32_t weight, bool swap_rb, int16_t* out) {
  static constexpr uint8_t kSurround[4] = {0, 0, 0, 0};
  const uint8_t* p0 = x >= 0 && x < width ? row + int64_t(x) * 4 : kSurround;
  const uint8_t* p1 = x + 1 >= 0 && x + 1 < width ? row + int64_t(x + 1) * 4 : kSurround;
  const int w0 = weight & 0xFFFF, w1 = weight >> 16;
  for (int c = 0; c < 4; ++c) out[swap_rb && c != 3 ? 2 - c : c] = int16_t(w0 * p0[c] + w1 * p1[c] - 32768);
}

// Columns [begin, end) of an inside run, one at a time.
void filter_inside_plain(const uint8_t* row, const int32_t* x, const int32_t* weight, unsigned begin, unsigned end,
                         bool swap_rb, int16_t* out) {
  for (unsigned i = begin; i < end; ++i) {
    const uint8_t* p0 = row + int64_t(x[i]) * 4;
    const int w0 = weight[i * 4] & 0xFFFF, w1 = weight[i * 4] >> 16;
    for (int c = 0; c < 4; ++c)
      out[i * 4 + (swap_rb && c != 3 ? 2 - c : c)] = int16_t(w0 * p0[c] + w1 * p0[4 + c] - 32768);
  }
}

void blend_plain(const int16_t* h0, const int16_t* h1, unsigned fy, unsigned begin, unsigned count, uint8_t* out) {
  for (unsigned i = begin * 4; i < count * 4; ++i)
    out[i] = uint8_t(((256 - int(fy)) * h0[i] + int(fy) * h1[i] + 256 * 32768 + 32768) >> 16);
}

#if defined(__SSE2__)
// Two columns per step: the two pixels' bytes interleaved per channel and
// widened to the 16-bit pairs pmaddwd takes.
// With `pairs` (columns two pixels apart) both columns come from one load.
unsigned filter_inside_sse2(const uint8_t* row, const int32_t* x, const int32_t* weight, unsigned begin, unsigned end,
                            bool pairs, bool swap_rb, int16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi32(32768);
  // Column i from its two pixels in the low 8 bytes of a.
  auto column = [&](__m128i a, unsigned i) {
    const __m128i bytes = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, _mm_srli_si128(a, 4)), zero);
    __m128i h = _mm_sub_epi32(
        _mm_madd_epi16(bytes, _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + size_t(i) * 4))), half);
    if (swap_rb) h = _mm_shuffle_epi32(h, _MM_SHUFFLE(3, 0, 1, 2));
    return h;
  };
  auto load = [&](unsigned i) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + int64_t(x[i]) * 4)); };
  unsigned i = begin;
  if (pairs) {
    for (; i + 2 <= end; i += 2) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + int64_t(x[i]) * 4));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t(i) * 4),
                       _mm_packs_epi32(column(a, i), column(_mm_srli_si128(a, 8), i + 1)));
    }
    return i;
  }
  for (; i + 2 <= end; i += 2)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t(i) * 4),
                     _mm_packs_epi32(column(load(i), i), column(load(i + 1), i + 1)));
  return i;
}

unsigned blend_sse2(const int16_t* h0, const int16_t* h1, unsigned fy, unsigned count, uint8_t* out) {
  const __m128i wy = _mm_set1_epi32(int(fy) << 16 | int(256 - fy));
  const __m128i bias = _mm_set1_epi32(256 * 32768 + 32768);
  // Pixels i and i + 1 as 16-bit numbers.
  auto two = [&](unsigned i) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h0 + size_t(i) * 4));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h1 + size_t(i) * 4));
    const __m128i lo = _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), wy), bias), 16);
    const __m128i hi = _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), wy), bias), 16);
    return _mm_packs_epi32(lo, hi);
  };
  unsigned i = 0;
  for (; i + 4 <= count; i += 4)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t(i) * 4), _mm_packus_epi16(two(i), two(i + 2)));
  return i;
}
#endif

#if defined(QLM_BILINEAR_AVX2)
QLM_AVX2_BEGIN
// Four columns per step: two columns' pixel pairs in one register, their
// bytes interleaved per channel (red and blue swapped) and widened by one
// shuffle.
//
// With `pairs` (columns two pixels apart) four columns come from one load:
// its quarters, one column each, are spread so that each lane holds two,
// and the shuffle reads a lane's low or high half.
unsigned filter_inside_avx2(const uint8_t* row, const int32_t* x, const int32_t* weight, unsigned begin, unsigned end,
                            bool pairs, bool swap_rb, int16_t* out) {
  const __m256i order = swap_rb ? _mm256_setr_epi8(2, -1, 6, -1, 1, -1, 5, -1, 0, -1, 4, -1, 3, -1, 7, -1, 2, -1, 6, -1,
                                                   1, -1, 5, -1, 0, -1, 4, -1, 3, -1, 7, -1)
                                : _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1, 0, -1, 4, -1,
                                                   1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1);
  const __m256i half = _mm256_set1_epi32(32768);
  if (pairs) {
    // The same order on each lane's high half (the unused bytes stay clear).
    const __m256i order_high =
        _mm256_or_si256(_mm256_add_epi8(order, _mm256_set1_epi8(8)), _mm256_cmpeq_epi8(order, _mm256_set1_epi8(-1)));
    unsigned i = begin;
    for (; i + 4 <= end; i += 4) {
      const __m256i bytes = _mm256_permute4x64_epi64(
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + int64_t(x[i]) * 4)), _MM_SHUFFLE(3, 1, 2, 0));
      const __m256i w01 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weight + size_t(i) * 4));
      const __m256i w23 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weight + size_t(i + 2) * 4));
      const __m256i h01 = _mm256_sub_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(bytes, order), w01), half);
      const __m256i h23 = _mm256_sub_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(bytes, order_high), w23), half);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + size_t(i) * 4),
                          _mm256_permute4x64_epi64(_mm256_packs_epi32(h01, h23), _MM_SHUFFLE(3, 1, 2, 0)));
    }
    return i;
  }
  auto load = [&](unsigned i) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + int64_t(x[i]) * 4)); };
  // Columns i and i + 1 as 32-bit sums less 32768.
  auto two = [&](unsigned i) {
    const __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(load(i)), load(i + 1), 1);
    const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weight + size_t(i) * 4));
    return _mm256_sub_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(bytes, order), w), half);
  };
  unsigned i = begin;
  for (; i + 4 <= end; i += 4) {
    // Lanes of the pack: (i, i + 2), (i + 1, i + 3); the permutation puts
    // the columns back in order.
    const __m256i packed = _mm256_packs_epi32(two(i), two(i + 2));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + size_t(i) * 4),
                        _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
  }
  return i;
}

unsigned blend_avx2(const int16_t* h0, const int16_t* h1, unsigned fy, unsigned count, uint8_t* out) {
  const __m256i wy = _mm256_set1_epi32(int(fy) << 16 | int(256 - fy));
  const __m256i bias = _mm256_set1_epi32(256 * 32768 + 32768);
  // Pixels i to i + 3 as 16-bit numbers, in the lanes (i, i + 1), (i + 2, i + 3).
  auto four = [&](unsigned i) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h0 + size_t(i) * 4));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h1 + size_t(i) * 4));
    const __m256i lo =
        _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), wy), bias), 16);
    const __m256i hi =
        _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), wy), bias), 16);
    return _mm256_packs_epi32(lo, hi);
  };
  unsigned i = 0;
  for (; i + 8 <= count; i += 8) {
    // Lanes of the pack: (i, i + 1, i + 4, i + 5), (i + 2, i + 3, i + 6, i + 7).
    const __m256i bytes = _mm256_packus_epi16(four(i), four(i + 4));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + size_t(i) * 4),
                        _mm256_permute4x64_epi64(bytes, _MM_SHUFFLE(3, 1, 2, 0)));
  }
  return i;
}
QLM_AVX2_END
#endif

}  // namespace

unsigned store_opaque_groups(uint8_t* row, const uint8_t* pixels, const uint8_t* covers, unsigned begin, unsigned end) {
  unsigned i = begin;
  for (; i + 4 <= end; i += 4) {
    uint32_t cover4;
    std::memcpy(&cover4, covers + i, 4);
#if defined(__SSE2__)
    const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + size_t(i) * 4));
    const bool opaque = (_mm_movemask_epi8(_mm_cmpeq_epi8(four, _mm_set1_epi8(-1))) & 0x8888) == 0x8888;
    if (!opaque || cover4 != 0xFFFFFFFFu) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + size_t(i) * 4), four);
#else
    const uint8_t* p = pixels + size_t(i) * 4;
    if ((p[3] & p[7] & p[11] & p[15]) != 255 || cover4 != 0xFFFFFFFFu) break;
    std::memcpy(row + size_t(i) * 4, p, 16);
#endif
  }
  return i;
}

void bilinear_rows_baseline_only(bool on) { g_bilinear_baseline.store(on); }

void bilinear_columns::assign(const int* x_hr, unsigned count, int source_width) {
  mCount = count;
  mWidth = source_width;
  mX.resize(count);
  mWeight.resize(size_t(count) * 4);
  mRuns.clear();
  for (unsigned i = 0; i < count; ++i) {
    const int x = x_hr[i] >> 8;
    const int32_t fx = x_hr[i] & 255;
    mX[i] = x;
    const int32_t w = fx << 16 | (256 - fx);
    for (int k = 0; k < 4; ++k) mWeight[size_t(i) * 4 + size_t(k)] = w;
    const bool inside = x >= 0 && x + 1 < source_width;
    if (mRuns.empty() || mRuns.back().inside != inside) {
      mRuns.push_back({i, i + 1, inside, true});
    } else {
      mRuns.back().pairs = mRuns.back().pairs && x == mX[i - 1] + 2;
      mRuns.back().end = i + 1;
    }
  }
}

void bilinear_filter_row(const uint8_t* row, const bilinear_columns& columns, bool swap_rb, int16_t* out) {
  if (row == nullptr) {
    for (size_t i = 0; i < size_t(columns.mCount) * 4; ++i) out[i] = -32768;
    return;
  }
  const int32_t* x = columns.mX.data();
  const int32_t* weight = columns.mWeight.data();
  for (const bilinear_columns::run& r : columns.mRuns) {
    if (!r.inside) {
      for (unsigned i = r.begin; i < r.end; ++i)
        filter_edge_column(row, columns.mWidth, x[i], weight[i * 4], swap_rb, out + size_t(i) * 4);
      continue;
    }
    unsigned i = r.begin;
#if defined(QLM_BILINEAR_AVX2)
    if (bilinear_avx2()) i = filter_inside_avx2(row, x, weight, i, r.end, r.pairs, swap_rb, out);
#endif
#if defined(__SSE2__)
    i = filter_inside_sse2(row, x, weight, i, r.end, r.pairs, swap_rb, out);
#endif
    filter_inside_plain(row, x, weight, i, r.end, swap_rb, out);
  }
}

void bilinear_blend_rows(const int16_t* h0, const int16_t* h1, unsigned fy, unsigned count, uint8_t* out) {
  unsigned i = 0;
#if defined(QLM_BILINEAR_AVX2)
  if (bilinear_avx2()) i = blend_avx2(h0, h1, fy, count, out);
#endif
#if defined(__SSE2__)
  if (i + 4 <= count) {
    const unsigned done = blend_sse2(h0 + size_t(i) * 4, h1 + size_t(i) * 4, fy, count - i, out + size_t(i) * 4);
    i += done;
  }
#endif
  blend_plain(h0, h1, fy, i, count, out);
}

}  // namespace qlm_agg
