// The image data chunk: inflating, unfiltering and decoding PNG rows into the
// image's bitmap.
#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "qlm_base_crc.h"
#include "qlm_base_flow.h"
#include "qlm_png.h"
#include "qlm_png_idat_state.h"

// The read state (qlm_png_idat_state.h): the zlib stream, the flow, the
// running CRC of the current IDAT chunk and where that chunk's data ends.

std::string png_zlib_text(const char* what, const z_stream& z, int rc) {
  const char* msg = z.msg != nullptr ? z.msg : zError(rc);
  return std::string("{") + what + ":" + (msg != nullptr ? msg : "") + "}";
}

namespace {

std::string zlib_text(const char* what, const z_stream& z, int rc) { return png_zlib_text(what, z, rc); }

// Which bitmap columns a (pass) row fills: `count` pixels from `first`, `step` apart.
struct rColumns {
  int64_t count = 0;
  int64_t first = 0;
  int64_t step = 1;
};

rColumns row_columns(const cPNG_IDAT& idat) { return {idat.width, 0, 1}; }
rColumns pass_columns(const cPNG_IDAT& idat, int32_t pass) {
  const rPNGPass& p = cnPNGPasses[pass - 1];
  return {png_pass_width(idat.width, pass), p.first_column, p.column_step};
}

template <typename F>
void for_pixels(const rColumns& c, uint8_t* pixels, bool alpha, F&& pixel) {
  const int64_t bpp = alpha ? 4 : 3;
  uint8_t* p = pixels + c.first * bpp;
  const int64_t advance = c.step * bpp;
  for (int64_t k = 0; k < c.count; ++k, p += advance) pixel(k, p);
}

void put_rgb(uint8_t* p, const rChannelOrder& o, uint8_t r, uint8_t g, uint8_t b) {
  p[o.red] = r;
  p[o.green] = g;
  p[o.blue] = b;
}

// The decoders take the order by value: stores through the pixel pointer
// could otherwise alias a referenced order and force a reload per byte.

// The decoders, once, over any column layout.
void decode_indexed(const cPNG_IDAT& idat, const uint8_t* s, uint8_t* pixels, const rChannelOrder o, bool alpha,
                    const rColumns& c) {
  const int64_t depth = idat.bit_depth;
  const uint32_t mask = (1u << depth) - 1;
  const auto* P = idat.palette;
  const uint8_t* table = alpha ? idat.alpha_table : nullptr;
  const int32_t table_count = idat.alpha_count;
  auto put = [&](uint8_t* p, uint32_t index) {
    put_rgb(p, o, P[index][0], P[index][1], P[index][2]);
    if (table != nullptr && int32_t(index) < table_count) p[o.alpha] = table[index];
  };
  if (depth == 8) {
    for_pixels(c, pixels, alpha, [&](int64_t k, uint8_t* p) { put(p, s[k]); });
    return;
  }
  // Samples from the most significant bits of each byte first.
  for_pixels(c, pixels, alpha, [&](int64_t k, uint8_t* p) {
    const int64_t bit = k * depth;
    put(p, (uint32_t(s[bit >> 3]) >> (8 - depth - (bit & 7))) & mask);
  });
}

void decode_grey16(const cPNG_IDAT& idat, const uint8_t* s, uint8_t* pixels, const rChannelOrder o, bool alpha,
                   const rColumns& c) {
  for_pixels(c, pixels, alpha, [&](int64_t k, uint8_t* p) {
    const uint8_t i = s[2 * k];
    put_rgb(p, o, idat.palette[i][0], idat.palette[i][1], idat.palette[i][2]);
  });
}

void decode_rgb8(const cPNG_IDAT& idat, const uint8_t* s, uint8_t* pixels, const rChannelOrder o, bool alpha,
                 const rColumns& c) {
  const uint8_t* T = idat.gamma;
  if (idat.gamma_identity && c.step == 1) {
    // Without a gamma table the samples are the colours: a plain byte walk.
    const int64_t bpp = alpha ? 4 : 3;
    uint8_t* p = pixels + c.first * bpp;
    for (const uint8_t* end = s + 3 * c.count; s < end; s += 3, p += bpp) put_rgb(p, o, s[0], s[1], s[2]);
    return;
  }
  for_pixels(c, pixels, alpha,
             [&](int64_t k, uint8_t* p) { put_rgb(p, o, T[s[3 * k]], T[s[3 * k + 1]], T[s[3 * k + 2]]); });
}

void decode_rgb16(const cPNG_IDAT& idat, const uint8_t* s, uint8_t* pixels, const rChannelOrder o, bool alpha,
                  const rColumns& c) {
  const uint8_t* T = idat.gamma;
  for_pixels(c, pixels, alpha,
             [&](int64_t k, uint8_t* p) { put_rgb(p, o, T[s[6 * k]], T[s[6 * k + 2]], T[s[6 * k + 4]]); });
}

void decode_greyalpha8(const cPNG_IDAT& idat, const uint8_t* s, uint8_t* pixels, const rChannelOrder o, bool alpha,
                       const rColumns& c) {
  const uint8_t* T = idat.gamma;
  for_pixels(c, pixels, alpha, [&](int64_t k, uint8_t* p) {
    const uint8_t v = T[s[2 * k]];
    put_rgb(p, o, v, v, v);
    if (alpha) p[o.alpha] = s[2 * k + 1];
  });
}

void decode_greyalpha16(const cPNG_IDAT& idat, const uint8_t* s, uint8_t* pixels, const rChannelOrder o, bool alpha,
                        const rColumns& c) {
  const uint8_t* T = idat.gamma;
  for_pixels(c, pixels, alpha, [&](int64_t k, uint8_t* p) {
    const uint8_t v = T[s[4 * k]];
    put_rgb(p, o, v, v, v);
    if (alpha) p[o.alpha] = s[4 * k + 2];
  });
}

void decode_rgba8(const cPNG_IDAT& idat, const uint8_t* s, uint8_t* pixels, const rChannelOrder o, bool alpha,
                  const rColumns& c) {
  const uint8_t* T = idat.gamma;
  if (idat.gamma_identity && c.step == 1 && alpha) {
    uint8_t* p = pixels + c.first * 4;
    const uint8_t* end = s + 4 * c.count;
    if (o.alpha == 3 && o.green == 1 && (o.red == 0 || o.red == 2)) {
      // RGBA is the samples as they are; BGRA swaps bytes 0 and 2 of each
      // pixel, four pixels a step as 32-bit lanes.
      const bool swap = o.red == 2;
#if defined(__SSE2__)
      const __m128i rb = _mm_set1_epi32(0x00FF00FF);
      for (; swap && end - s >= 16; s += 16, p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i red_blue = _mm_and_si128(v, rb);
        const __m128i out = _mm_or_si128(_mm_andnot_si128(rb, v),
                                         _mm_or_si128(_mm_slli_epi32(red_blue, 16), _mm_srli_epi32(red_blue, 16)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), out);
      }
#endif
      if (!swap) {
        std::memcpy(p, s, size_t(end - s));
        return;
      }
    }
    for (; s < end; s += 4, p += 4) {
      put_rgb(p, o, s[0], s[1], s[2]);
      p[o.alpha] = s[3];
    }
    return;
  }
  for_pixels(c, pixels, alpha, [&](int64_t k, uint8_t* p) {
    put_rgb(p, o, T[s[4 * k]], T[s[4 * k + 1]], T[s[4 * k + 2]]);
    if (alpha) p[o.alpha] = s[4 * k + 3];
  });
}

void decode_rgba16(const cPNG_IDAT& idat, const uint8_t* s, uint8_t* pixels, const rChannelOrder o, bool alpha,
                   const rColumns& c) {
  const uint8_t* T = idat.gamma;
  for_pixels(c, pixels, alpha, [&](int64_t k, uint8_t* p) {
    put_rgb(p, o, T[s[8 * k]], T[s[8 * k + 2]], T[s[8 * k + 4]]);
    if (alpha) p[o.alpha] = s[8 * k + 6];
  });
}

#if defined(__SSE2__)
// The blend of `count` 4-byte pixels with alpha at byte 0 or 3, four pixels a
// step in 16-bit lanes. With P = c x a and Q = g x a (both below 65536),
// floor((P - Q) / 256) = (P >> 8) - (Q >> 8) - 1 when the low byte of P is
// below that of Q, else (P >> 8) - (Q >> 8): the scalar step exactly.
// Returns the pixels done.
int64_t blend_words_sse2(uint8_t* p, int64_t count, const rChannelOrder& o, const uint8_t background[3]) {
  const __m128i zero = _mm_setzero_si128(), low = _mm_set1_epi16(0xFF);
  uint8_t g[8] = {};
  g[o.red] = background[0], g[o.green] = background[1], g[o.blue] = background[2];
  std::memcpy(g + 4, g, 4);
  const __m128i g16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(g)), zero);
  const __m128i keep = _mm_set1_epi32(int32_t(0xFFu << (8 * o.alpha)));  // the alpha bytes
  auto half = [&](__m128i c16) {
    const __m128i a16 = o.alpha == 3 ? _mm_shufflehi_epi16(_mm_shufflelo_epi16(c16, 0xFF), 0xFF)
                                     : _mm_shufflehi_epi16(_mm_shufflelo_epi16(c16, 0x00), 0x00);
    const __m128i P = _mm_mullo_epi16(c16, a16), Q = _mm_mullo_epi16(g16, a16);
    const __m128i borrow = _mm_cmpgt_epi16(_mm_and_si128(Q, low), _mm_and_si128(P, low));
    return _mm_add_epi16(_mm_add_epi16(g16, borrow), _mm_sub_epi16(_mm_srli_epi16(P, 8), _mm_srli_epi16(Q, 8)));
  };
  int64_t k = 0;
  for (; k + 4 <= count; k += 4, p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i mixed = _mm_packus_epi16(half(_mm_unpacklo_epi8(v, zero)), half(_mm_unpackhi_epi8(v, zero)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                     _mm_or_si128(_mm_and_si128(keep, v), _mm_andnot_si128(keep, mixed)));
  }
  return k;
}
#endif

void blend(const cPNG_IDAT& idat, uint8_t* pixels, const rChannelOrder o, bool alpha, const rColumns& c) {
  const int32_t gr = idat.background[0], gg = idat.background[1], gb = idat.background[2];
  rColumns rest = c;
#if defined(__SSE2__)
  if (alpha && c.step == 1 && (o.alpha == 0 || o.alpha == 3)) {
    const int64_t done = blend_words_sse2(pixels + c.first * 4, c.count, o, idat.background);
    rest.first += done;
    rest.count -= done;
  }
#endif
  for_pixels(rest, pixels, alpha, [&](int64_t, uint8_t* p) {
    const int32_t a = alpha ? p[o.alpha] : 255;
    // g + floor((c - g) x a / 256): an arithmetic shift of a signed product.
    p[o.red] = uint8_t(gr + (((p[o.red] - gr) * a) >> 8));
    p[o.green] = uint8_t(gg + (((p[o.green] - gg) * a) >> 8));
    p[o.blue] = uint8_t(gb + (((p[o.blue] - gb) * a) >> 8));
  });
}

// Marks in the key bits the pixels of (pass) row y whose raw samples equal
// the key at full depth, as the standard compares them.
void mark_key(const cPNG_IDAT& idat, uint8_t color_type, const uint8_t* s, int64_t y, const rColumns& c) {
  uint8_t* bits = idat.key_bits;
  const int64_t depth = idat.bit_depth;
  auto be16 = [](const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); };
  auto mark = [&](auto&& matches) {
    for (int64_t k = 0, at = y * idat.width + c.first; k < c.count; ++k, at += c.step)
      if (matches(k)) bits[at >> 3] = uint8_t(bits[at >> 3] | 1u << (at & 7));
  };
  const uint16_t* key = idat.key;
  if (color_type == cnCM_RGB && depth == 8)
    mark([&](int64_t k) { return s[3 * k] == key[0] && s[3 * k + 1] == key[1] && s[3 * k + 2] == key[2]; });
  else if (color_type == cnCM_RGB)
    mark([&](int64_t k) {
      return be16(s + 6 * k) == key[0] && be16(s + 6 * k + 2) == key[1] && be16(s + 6 * k + 4) == key[2];
    });
  else if (depth == 16)
    mark([&](int64_t k) { return be16(s + 2 * k) == key[0]; });
  else
    mark([&](int64_t k) {
      const int64_t bit = k * depth;
      return ((uint32_t(s[bit >> 3]) >> (8 - depth - (bit & 7))) & ((1u << depth) - 1)) == key[0];
    });
}

}  // namespace

#define QLM_PNG_DECODER(name)                                                                                        \
  void png_decode_##name(const cPNG_IDAT& idat, const uint8_t* s, uint8_t* px, const rChannelOrder& o, bool alpha) { \
    decode_##name(idat, s, px, o, alpha, row_columns(idat));                                                         \
  }                                                                                                                  \
  void png_decode_##name##_a7(const cPNG_IDAT& idat, const uint8_t* s, uint8_t* px, const rChannelOrder& o,          \
                              bool alpha, int32_t pass) {                                                            \
    decode_##name(idat, s, px, o, alpha, pass_columns(idat, pass));                                                  \
  }
QLM_PNG_DECODER(indexed)
QLM_PNG_DECODER(grey16)
QLM_PNG_DECODER(rgb8)
QLM_PNG_DECODER(rgb16)
QLM_PNG_DECODER(greyalpha8)
QLM_PNG_DECODER(greyalpha16)
QLM_PNG_DECODER(rgba8)
QLM_PNG_DECODER(rgba16)
#undef QLM_PNG_DECODER

void png_blend_background(const cPNG_IDAT& idat, uint8_t* pixels, const rChannelOrder& order, bool alpha) {
  blend(idat, pixels, order, alpha, row_columns(idat));
}

void png_blend_background_a7(const cPNG_IDAT& idat, uint8_t* pixels, const rChannelOrder& order, bool alpha,
                             int32_t pass) {
  blend(idat, pixels, order, alpha, pass_columns(idat, pass));
}

namespace {
struct rDecoders {
  tPNGDecoder plain = nullptr;
  tPNGDecoderA7 a7 = nullptr;
};

rDecoders decoders(uint8_t color_type, uint8_t depth) {
  switch (color_type) {
    case cnCM_Grey:
      if (depth == 1 || depth == 2 || depth == 4 || depth == 8) return {&png_decode_indexed, &png_decode_indexed_a7};
      if (depth == 16) return {&png_decode_grey16, &png_decode_grey16_a7};
      break;
    case cnCM_RGB:
      if (depth == 8) return {&png_decode_rgb8, &png_decode_rgb8_a7};
      if (depth == 16) return {&png_decode_rgb16, &png_decode_rgb16_a7};
      break;
    case cnCM_Palette:
      if (depth == 1 || depth == 2 || depth == 4 || depth == 8) return {&png_decode_indexed, &png_decode_indexed_a7};
      break;
    case cnCM_GreyAlpha:
      if (depth == 8) return {&png_decode_greyalpha8, &png_decode_greyalpha8_a7};
      if (depth == 16) return {&png_decode_greyalpha16, &png_decode_greyalpha16_a7};
      break;
    case cnCM_RGBA:
      if (depth == 8) return {&png_decode_rgba8, &png_decode_rgba8_a7};
      if (depth == 16) return {&png_decode_rgba16, &png_decode_rgba16_a7};
      break;
    default: break;
  }
  return {};
}
}  // namespace

tPNGDecoder png_decoder(uint8_t color_type, uint8_t bit_depth) { return decoders(color_type, bit_depth).plain; }
tPNGDecoderA7 png_decoder_a7(uint8_t color_type, uint8_t bit_depth) { return decoders(color_type, bit_depth).a7; }

// ---------------------------------------------------------------------------
// cPNG_IDAT

cPNG_IDAT::~cPNG_IDAT() { ReleaseBuffers(); }

void cPNG_IDAT::ReleaseBuffers() {
  mem_free(reader_rows[0]);
  mem_free(reader_rows[1]);
  for (uint8_t*& row : writer_rows) mem_free(row);
  mem_free(compressed);
  reader_row_length = 0;
  writer_row_length = 0;
  current_row = 1;
}

std::unique_ptr<cPNG_Chunk> cPNG_IDAT::Clone() const {
  try {
    auto made = std::make_unique<cPNG_IDAT>(nullptr, mHdr);
    made->bit_depth = bit_depth;
    made->width = width;
    made->height = height;
    made->current_row = current_row;
    made->bytes_per_pixel = bytes_per_pixel;
    made->unfilter_length = unfilter_length;
    made->last_percent = last_percent;
    made->current_percent = current_percent;
    made->progress_total = progress_total;
    made->progress_count = progress_count;
    std::memcpy(made->background, background, 3);
    made->alpha_count = alpha_count;
    for (int i = 0; i < 2; ++i)
      if (reader_rows[i] != nullptr) {
        if (!mem_alloc(made->reader_rows[i], reader_row_length)) return nullptr;
        std::memcpy(made->reader_rows[i], reader_rows[i], size_t(reader_row_length));
      }
    made->reader_row_length = reader_row_length;
    return made;
  } catch (...) {
    return nullptr;
  }
}

namespace {
// The Paeth predictor without branches on the data: pa = |b - c|,
// pb = |a - c|, pc = |a + b - 2c|; ties go to a, then b.
inline uint8_t paeth(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return uint8_t(pa <= pb && pa <= pc ? a : (pb <= pc ? b : c));
}
#if defined(__SSE2__)
// Paeth over a row of 3- or 4-byte pixels, one pixel per step in 16-bit
// lanes: the same predictor as paeth(), chosen with compare masks. The last
// pixel of a 3-byte row is done bytewise, so no load passes the row's end.
void paeth_row_sse2(uint8_t* r, const uint8_t* q, int64_t L, int64_t b) {
  const __m128i zero = _mm_setzero_si128();
  auto load = [](const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
  };
  __m128i a = zero, c = zero;  // left and upper-left, 16-bit lanes
  int64_t i = 1;
  for (; i + 3 <= L; i += b) {
    const __m128i up = _mm_unpacklo_epi8(load(q + i), zero);
    const __m128i pa = _mm_sub_epi16(up, c);
    const __m128i pb = _mm_sub_epi16(a, c);
    const __m128i pc = _mm_add_epi16(pa, pb);
    const __m128i apa = _mm_max_epi16(pa, _mm_sub_epi16(zero, pa));
    const __m128i apb = _mm_max_epi16(pb, _mm_sub_epi16(zero, pb));
    const __m128i apc = _mm_max_epi16(pc, _mm_sub_epi16(zero, pc));
    const __m128i use_b = _mm_cmplt_epi16(apb, apa);
    const __m128i use_c = _mm_cmplt_epi16(apc, _mm_min_epi16(apa, apb));
    __m128i pred = _mm_or_si128(_mm_and_si128(use_b, up), _mm_andnot_si128(use_b, a));
    pred = _mm_or_si128(_mm_and_si128(use_c, c), _mm_andnot_si128(use_c, pred));
    const __m128i out = _mm_add_epi8(load(r + i), _mm_packus_epi16(pred, pred));
    int32_t v = _mm_cvtsi128_si32(out);
    std::memcpy(r + i, &v, size_t(b));
    a = _mm_unpacklo_epi8(out, zero);
    c = up;
    if (b == 3) {
      // Lane 3 belongs to the next pixel: keep it out of the next step.
      a = _mm_and_si128(a, _mm_set_epi16(0, 0, 0, 0, 0, -1, -1, -1));
      c = _mm_and_si128(c, _mm_set_epi16(0, 0, 0, 0, 0, -1, -1, -1));
    }
  }
  for (; i <= L; ++i) {
    const uint8_t left = i > b ? r[i - b] : 0, upper_left = i > b ? q[i - b] : 0;
    r[i] = uint8_t(r[i] + paeth(left, q[i], upper_left));
  }
}
#endif
}  // namespace

void cPNG_IDAT::Unfilter() {
  uint8_t* r = reader_rows[current_row];
  const uint8_t* q = reader_rows[current_row ^ 1];
  const int64_t L = unfilter_length, b = std::min<int64_t>(bytes_per_pixel, L);
  switch (r[0]) {
    case 1:
      for (int64_t i = b + 1; i <= L; ++i) r[i] = uint8_t(r[i] + r[i - b]);
      break;
    case 2:
      for (int64_t i = 1; i <= L; ++i) r[i] = uint8_t(r[i] + q[i]);
      break;
    case 3:
      // The first pixel has no left neighbour: a = 0.
      for (int64_t i = 1; i <= b; ++i) r[i] = uint8_t(r[i] + (q[i] >> 1));
      for (int64_t i = b + 1; i <= L; ++i) r[i] = uint8_t(r[i] + ((uint32_t(r[i - b]) + q[i]) >> 1));
      break;
    case 4:
#if defined(__SSE2__)
      if (b == 3 || b == 4) {
        paeth_row_sse2(r, q, L, b);
        break;
      }
#endif
      // The first pixel: a = c = 0, so the predictor is the byte above.
      for (int64_t i = 1; i <= b; ++i) r[i] = uint8_t(r[i] + q[i]);
      for (int64_t i = b + 1; i <= L; ++i) r[i] = uint8_t(r[i] + paeth(r[i - b], q[i], q[i - b]));
      break;
    default:  // 0, and unknown types: the row stays as it is
      break;
  }
}

void cPNG_IDAT::Progress(const char* text) {
  if (mPng == nullptr || mPng->mProgress == nullptr) return;
  ++progress_count;
  // In floating point: a total below 100 rows must not divide by zero.
  double percent = std::nearbyint(double(progress_count) / (double(progress_total) / 100.0));
  if (!(percent > 0)) percent = -1;
  if (percent > 100) percent = 100;
  current_percent = percent;
  if (percent != last_percent) {
    progress_report(mPng->mProgress, mPng, percent, text);
    last_percent = percent;
  }
}

bool cPNG_IDAT::LoadRow(rReadState& st, int64_t count, uint8_t* destination) {
  return Guard(false, [&] {
    z_stream& z = st.z;
    cFlow* flow = st.flow;
    z.next_out = destination;
    z.avail_out = uInt(count);
    while (z.avail_out > 0) {
      if (flow->Curr() >= st.chunk_end && z.avail_in == 0) {
        // The current chunk is used up: its CRC, then the next IDAT header.
        uint8_t b[8];
        if (!flow->Read(b, 4) || flow->LastIO() != 4) raise_png_error(errPNGFlowCorrupted, "{f.Read}");
        if (png_get_u32(b) != ~st.crc) raise_png_error(errPNGInvalidCRC, "{lcrc<>ccrc}");
        if (!flow->Read(b, 8) || flow->LastIO() != 8) raise_png_error(errPNGFlowCorrupted, "{f.Read}");
        st.header->dt_size = png_get_u32(b);
        std::memcpy(st.header->ch_type, b + 4, 4);
        if (!st.header->Is("IDAT")) raise_png_error(errPNGMissingNextIDAT, "{chnk.ch_type<>cnCT_IDAT}");
        st.crc = crc32_update(0xFFFFFFFFu, st.header->ch_type, 4);
        st.chunk_end = flow->Curr() + st.header->dt_size;
      }
      if (z.avail_in == 0) {
        const int64_t n = std::min<int64_t>(st.chunk_end - flow->Curr(), mSize);
        if (n <= 0) raise_png_error(errPNGFlowCorrupted, "{z.avail_in<=0}");
        flow->Read(mChunkData, int32_t(n));
        if (int64_t(flow->LastIO()) != n) raise_png_error(errPNGFlowCorrupted, "{z.avail_in<>f.LastIO}");
        st.crc = crc32_update(st.crc, mChunkData, int32_t(n));
        z.next_in = mChunkData;
        z.avail_in = uInt(n);
      }
      const uInt in_before = z.avail_in, out_before = z.avail_out;
      const int rc = inflate(&z, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END)
        raise_error(errZLibCall, &qlm_base_exception_string, zlib_text("inflate", z, rc));
      if (rc == Z_STREAM_END) st.ended = true;
      // A stream that ends, or stops moving, while rows are still wanted is
      // short: waiting for more would never end.
      if ((rc == Z_STREAM_END && z.avail_out > 0) || (z.avail_in == in_before && z.avail_out == out_before))
        raise_png_error(errPNGFlowCorrupted, "{zlib stream ended early}");
    }
    return true;
  });
}

namespace {
// What LoadNI and LoadA7 share: the bitmap, its order, and the blend choice.
struct rTarget {
  cBitmap* bitmap = nullptr;
  rChannelOrder order;
  bool alpha = false;
  bool blend = false;
};
}  // namespace

static rTarget prepare_target(cPNG_IDAT& idat, cImagePNG& png, const cPNG_IHDR& ihdr) {
  rTarget t;
  const cPNG_Entry& list = *png.mChunks;
  const uint32_t background = list.bKGD != nullptr ? list.bKGD->Colour() : 0;
  const uint32_t transparent = list.tRNS != nullptr ? list.tRNS->Colour() : 0;
  t.blend = idat.alpha && transparent == 0 && background != 0 && png.mBlendOnBackground;
  if (t.blend) color_split_rgb(background, idat.background[0], idat.background[1], idat.background[2]);
  if (idat.alpha && list.tRNS != nullptr && list.tRNS->alpha_count > 0) {
    idat.alpha_table = list.tRNS->alpha;
    idat.alpha_count = list.tRNS->alpha_count;
  }
  t.bitmap = png.Bitmap(0);
  if (t.bitmap == nullptr) raise_condition_error(errInvariant, "{Bitmap=NIL}");
  if (!bitmap_has_order(t.bitmap, t.order)) raise_condition_error(errInvariant, "{Bitmap.Order=NIL}");
  // The decoders write width pixels into height rows: the bitmap must hold them.
  if (t.bitmap->Width() < ihdr.width || t.bitmap->Height() < ihdr.height)
    raise_condition_error(errInvariant, "{Bitmap size<IHDR size}");
  t.alpha = t.bitmap->HasAlpha();
  idat.bit_depth = ihdr.bit_depth;
  idat.width = ihdr.width;
  idat.height = ihdr.height;
  return t;
}

bool cPNG_IDAT::LoadNI(rReadState& st) {
  return Guard(false, [&] {
    const cPNG_IHDR& ihdr = Ihdr();
    const tPNGDecoder decode = png_decoder(ihdr.color_type, ihdr.bit_depth);
    if (decode == nullptr) raise_png_error(errPNGInvalidCTypeDepth, "{decode=NIL}");
    const rTarget t = prepare_target(*this, *mPng, ihdr);
    unfilter_length = reader_row_length - 1;
    progress_total = height;
    progress_count = 0;
    last_percent = -1;
    for (int64_t y = 0; y < height; ++y) {
      if (!LoadRow(st, reader_row_length, reader_rows[current_row])) raise_png_error(errPNGLoadRow, "{LoadRow}");
      Unfilter();
      uint8_t* pixels = t.bitmap->Data() + y * t.bitmap->Stride();
      decode(*this, reader_rows[current_row] + 1, pixels, t.order, t.alpha);
      if (key_bits != nullptr) mark_key(*this, ihdr.color_type, reader_rows[current_row] + 1, y, row_columns(*this));
      if (t.blend) png_blend_background(*this, pixels, t.order, t.alpha);
      Progress("{cPNG_IDAT.LoadNI}");
      current_row ^= 1;
    }
    return true;
  });
}

bool cPNG_IDAT::LoadA7(rReadState& st) {
  return Guard(false, [&] {
    const cPNG_IHDR& ihdr = Ihdr();
    const tPNGDecoderA7 decode = png_decoder_a7(ihdr.color_type, ihdr.bit_depth);
    if (decode == nullptr) raise_png_error(errPNGInvalidCTypeDepth, "{decode=NIL}");
    const rTarget t = prepare_target(*this, *mPng, ihdr);
    progress_total = 7 * int64_t(height);
    progress_count = 0;
    last_percent = -1;
    for (int32_t pass = 1; pass <= 7; ++pass) {
      const rPNGPass& p = cnPNGPasses[pass - 1];
      const int64_t pass_bytes = png_row_bytes(png_pass_width(width, pass), ihdr.color_type, ihdr.bit_depth);
      unfilter_length = pass_bytes;
      // The first row of every pass has an all-zero previous row.
      std::memset(reader_rows[current_row ^ 1], 0, size_t(pass_bytes + 1));
      if (pass_bytes <= 0) continue;
      for (int64_t y = p.first_row; y < height; y += p.row_step) {
        if (!LoadRow(st, pass_bytes + 1, reader_rows[current_row])) raise_png_error(errPNGLoadRow, "{LoadRow}");
        Unfilter();
        uint8_t* pixels = t.bitmap->Data() + y * t.bitmap->Stride();
        decode(*this, reader_rows[current_row] + 1, pixels, t.order, t.alpha, pass);
        if (key_bits != nullptr)
          mark_key(*this, ihdr.color_type, reader_rows[current_row] + 1, y, pass_columns(*this, pass));
        if (t.blend) png_blend_background_a7(*this, pixels, t.order, t.alpha, pass);
        Progress("{cPNG_IDAT.LoadA7}");
        current_row ^= 1;
      }
    }
    return true;
  });
}

bool cPNG_IDAT::LoadChunk(cFlow* flow, uint8_t* buffer, int32_t capacity, rPNG_ChunkHeader* header) {
  Attach(buffer, capacity);
  ReleaseBuffers();
  alpha_table = nullptr;
  alpha_count = 0;
  rReadState st;
  std::memset(&st.z, 0, sizeof st.z);
  bool inflating = false;
  const bool ok = Guard(false, [&] {
    if (flow == nullptr) raise_condition_error(errPreCondition, "{flow=NIL}");
    if (header == nullptr) raise_condition_error(errPreCondition, "{header=NIL}");
    if (mChunkData == nullptr || mSize < 1) raise_condition_error(errPreCondition, "{buffer=NIL}");
    const cPNG_IHDR& ihdr = Ihdr();
    st.flow = flow;
    st.header = header;
    st.crc = crc32_update(0xFFFFFFFFu, header->ch_type, 4);
    st.chunk_end = flow->Curr() + header->dt_size;
    const int rc = inflateInit(&st.z);
    if (rc != Z_OK) raise_error(errZLibCall, &qlm_base_exception_string, zlib_text("inflateInit", st.z, rc));
    inflating = true;
    if (ihdr.width < 1 || ihdr.height < 1) raise_png_error(errPNGInvalidImageDims, "{dx or dy = 0}");
    // Row sizes in 64 bits: a row (with its filter byte) must stay below 2^31 - 1.
    reader_row_length = ihdr.row_bytes + 1;
    if (ihdr.row_bytes < 1 || reader_row_length >= INT32_MAX) raise_base_error(errNEnoughMem, "{mem_alloc}");
    bytes_per_pixel = png_pixel_bytes(ihdr.color_type, ihdr.bit_depth);
    gamma = ihdr.gamma;
    gamma_identity = true;
    for (int i = 0; i < 256; ++i) gamma_identity = gamma_identity && gamma[i] == i;
    for (uint8_t*& row : reader_rows) {
      if (!mem_alloc(row, reader_row_length)) raise_base_error(errNEnoughMem, "{mem_alloc}");
      std::memset(row, 0, size_t(reader_row_length));
    }
    current_row = 1;
    if (ihdr.color_type == cnCM_Grey) {
      palette = ihdr.grey;
    } else if (ihdr.color_type == cnCM_Palette) {
      if (mPng->mChunks->PLTE == nullptr) raise_png_error(errPNGPaletteChunkNF, "{mPalette=NIL}");
      palette = mPng->mChunks->PLTE->palette;
    }
    if (ihdr.interlace_method == 0) {
      if (!LoadNI(st)) raise_png_error(errPNGLoadNonInterlaced, "{LoadNI}");
    } else if (ihdr.interlace_method == 1) {
      if (!LoadA7(st)) raise_png_error(errPNGLoadAdam7Interlaced, "{LoadA7}");
    }
    // The rows may be complete before the current chunk is: the rest of it
    // (the stream's end) is read through the running CRC before the check,
    // and through inflate, so that the stream's own check value is verified
    // when it lies in this chunk. Output beyond the image is dropped.
    uint8_t scratch[512];
    for (;;) {
      if (!st.ended && st.z.avail_in > 0) {
        st.z.next_out = scratch;
        st.z.avail_out = sizeof scratch;
        const uInt in_before = st.z.avail_in;
        const int rc = inflate(&st.z, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) st.ended = true;
        if (rc != Z_OK && rc != Z_STREAM_END)
          raise_error(errZLibCall, &qlm_base_exception_string, zlib_text("inflate", st.z, rc));
        if (rc == Z_OK && st.z.avail_in == in_before && st.z.avail_out == sizeof scratch) break;
        continue;
      }
      if (flow->Curr() >= st.chunk_end) break;
      const int64_t n = std::min<int64_t>(st.chunk_end - flow->Curr(), mSize);
      flow->Read(mChunkData, int32_t(n));
      if (int64_t(flow->LastIO()) != n) raise_png_error(errPNGFlowCorrupted, "{f.Read}");
      st.crc = crc32_update(st.crc, mChunkData, int32_t(n));
      if (!st.ended) {
        st.z.next_in = mChunkData;
        st.z.avail_in = uInt(n);
      }
    }
    uint8_t b[4];
    if (!flow->Read(b, 4) || flow->LastIO() != 4) raise_png_error(errPNGFlowCorrupted, "{f.Read}");
    if (png_get_u32(b) != ~st.crc) raise_png_error(errPNGInvalidCRC, "{lcrc<>ccrc}");
    return true;
  });
  if (inflating) inflateEnd(&st.z);
  ReleaseBuffers();
  mChunkData = nullptr;
  mSize = 0;
  return ok;
}

// ---------------------------------------------------------------------------
// Writing.

void png_encode_rgb8(const cPNG_IDAT& idat, const uint8_t* p, uint8_t* s, const rChannelOrder& o, bool alpha) {
  const int64_t bpp = alpha ? 4 : 3;
  for (int64_t k = 0; k < idat.width; ++k, p += bpp, s += 3) {
    s[0] = p[o.red];
    s[1] = p[o.green];
    s[2] = p[o.blue];
  }
}

void png_encode_rgba8(const cPNG_IDAT& idat, const uint8_t* p, uint8_t* s, const rChannelOrder& o, bool alpha) {
  const int64_t bpp = alpha ? 4 : 3;
  for (int64_t k = 0; k < idat.width; ++k, p += bpp, s += 4) {
    s[0] = p[o.red];
    s[1] = p[o.green];
    s[2] = p[o.blue];
    s[3] = alpha ? p[o.alpha] : uint8_t(255);
  }
}

namespace {
#if defined(__SSE2__)
// The Paeth predictor of 16 bytes at once, in two halves of 16-bit lanes:
// the same choice as paeth(), made with compare masks.
inline __m128i paeth16(__m128i a, __m128i b, __m128i c) {
  const __m128i zero = _mm_setzero_si128();
  auto half = [&](__m128i a16, __m128i b16, __m128i c16) {
    const __m128i pa = _mm_sub_epi16(b16, c16), pb = _mm_sub_epi16(a16, c16), pc = _mm_add_epi16(pa, pb);
    const __m128i apa = _mm_max_epi16(pa, _mm_sub_epi16(zero, pa));
    const __m128i apb = _mm_max_epi16(pb, _mm_sub_epi16(zero, pb));
    const __m128i apc = _mm_max_epi16(pc, _mm_sub_epi16(zero, pc));
    const __m128i use_b = _mm_cmplt_epi16(apb, apa);
    const __m128i use_c = _mm_cmplt_epi16(apc, _mm_min_epi16(apa, apb));
    const __m128i pred = _mm_or_si128(_mm_and_si128(use_b, b16), _mm_andnot_si128(use_b, a16));
    return _mm_or_si128(_mm_and_si128(use_c, c16), _mm_andnot_si128(use_c, pred));
  };
  const __m128i lo = half(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero));
  const __m128i hi = half(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero));
  return _mm_packus_epi16(lo, hi);
}
inline __m128i load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
#endif

// The filter candidates 1-4 of bytes [from, L) of the raw row, whose left and
// upper-left neighbours (b bytes back) exist.
int64_t filter_rows_simd(uint8_t* const rows[6], const uint8_t* prior, int64_t from, int64_t L, int64_t b) {
  int64_t i = from;
#if defined(__SSE2__)
  const uint8_t* raw = rows[5];
  const __m128i one = _mm_set1_epi8(1);
  for (; i + 16 <= L; i += 16) {
    const __m128i r = load16(raw + i), a = load16(raw + i - b), u = load16(prior + i), c = load16(prior + i - b);
    store16(rows[1] + i, _mm_sub_epi8(r, a));
    store16(rows[2] + i, _mm_sub_epi8(r, u));
    // floor((a + u) / 2): the rounded-up average less the odd bit.
    const __m128i average = _mm_sub_epi8(_mm_avg_epu8(a, u), _mm_and_si128(_mm_xor_si128(a, u), one));
    store16(rows[3] + i, _mm_sub_epi8(r, average));
    store16(rows[4] + i, _mm_sub_epi8(r, paeth16(a, u, c)));
  }
#else
  (void)rows, (void)prior, (void)L, (void)b;
#endif
  return i;
}

// The number of positions d from 2 to L - 1 whose byte repeats byte d - 1 or
// byte d - 2.
int64_t repetition_score(const uint8_t* r, int64_t L) {
  int64_t score = 0, d = 2;
#if defined(__SSE2__)
  for (; d + 16 <= L; d += 16) {
    const __m128i x = load16(r + d);
    const __m128i same = _mm_or_si128(_mm_cmpeq_epi8(x, load16(r + d - 1)), _mm_cmpeq_epi8(x, load16(r + d - 2)));
    score += __builtin_popcount(uint32_t(_mm_movemask_epi8(same)));
  }
#endif
  for (; d < L; ++d) score += (r[d] == r[d - 1] || r[d] == r[d - 2]) ? 1 : 0;
  return score;
}
}  // namespace

uint8_t cPNG_IDAT::ChooseFilter() {
  const int64_t L = writer_row_length, b = bytes_per_pixel;
  const uint8_t* raw = writer_rows[5];
  const uint8_t* prior = writer_rows[0];
  if (mPng != nullptr && mPng->mNoFilter) {
    std::memcpy(writer_rows[0], raw, size_t(L));
    return 0;
  }
  // Candidates 1-4 from the raw row and the prior raw row (row 0), then row 0
  // becomes this raw row: the type-0 candidate and the next row's prior.
  auto filter_byte = [&](int64_t i) {
    const uint8_t left = i >= b ? raw[i - b] : 0, up = prior[i], upper_left = i >= b ? prior[i - b] : 0;
    writer_rows[1][i] = uint8_t(raw[i] - left);
    writer_rows[2][i] = uint8_t(raw[i] - up);
    writer_rows[3][i] = uint8_t(raw[i] - ((uint32_t(left) + up) >> 1));
    writer_rows[4][i] = uint8_t(raw[i] - paeth(left, up, upper_left));
  };
  const int64_t head = std::min(b, L);
  for (int64_t i = 0; i < head; ++i) filter_byte(i);
  for (int64_t i = filter_rows_simd(writer_rows, prior, head, L, b); i < L; ++i) filter_byte(i);
  std::memcpy(writer_rows[0], raw, size_t(L));
  uint8_t best = 0;
  int64_t best_score = -1;
  for (uint8_t c = 0; c <= 4; ++c) {
    const int64_t score = repetition_score(writer_rows[c], L);
    if (score > best_score) {
      best_score = score;
      best = c;
    }
  }
  return best;
}

bool cPNG_IDAT::SaveIDAT(cFlow* flow, const uint8_t* data, int32_t count) {
  return Guard(false, [&] {
    std::memcpy(mHdr.ch_type, "IDAT", 4);
    WriteChunk(flow, data, count);
    return true;
  });
}

bool cPNG_IDAT::SaveData(rWriteState& st, int64_t count, const uint8_t* data) {
  return Guard(false, [&] {
    z_stream& z = st.z;
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = uInt(count);
    while (z.avail_in > 0) {
      const int rc = deflate(&z, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END)
        raise_error(errZLibCall, &qlm_base_exception_string, zlib_text("deflate", z, rc));
      if (z.avail_out == 0) {
        if (!SaveIDAT(st.flow, compressed, compressed_capacity)) raise_png_error(errPNGSaveIDAT, "{SaveIDAT}");
        z.next_out = compressed;
        z.avail_out = uInt(compressed_capacity);
      }
    }
    return true;
  });
}

bool cPNG_IDAT::SaveFinish(rWriteState& st) {
  return Guard(false, [&] {
    z_stream& z = st.z;
    z.next_in = nullptr;
    z.avail_in = 0;
    for (;;) {
      const int rc = deflate(&z, Z_FINISH);
      if (rc != Z_OK && rc != Z_STREAM_END)
        raise_error(errZLibCall, &qlm_base_exception_string, zlib_text("deflate", z, rc));
      const int32_t n = compressed_capacity - int32_t(z.avail_out);
      // An empty last piece is not written: an empty IDAT after the others
      // would be read as a separate chunk.
      if (n > 0 && !SaveIDAT(st.flow, compressed, n)) raise_png_error(errPNGSaveIDAT, "{SaveIDAT}");
      z.next_out = compressed;
      z.avail_out = uInt(compressed_capacity);
      if (rc == Z_STREAM_END) break;
    }
    return true;
  });
}

bool cPNG_IDAT::SaveChunk(cFlow* flow) {
  ReleaseBuffers();
  rWriteState st;
  std::memset(&st.z, 0, sizeof st.z);
  st.flow = flow;
  bool deflating = false;
  const bool ok = Guard(false, [&] {
    if (flow == nullptr) raise_condition_error(errPreCondition, "{flow=NIL}");
    if (!mem_alloc(compressed, compressed_capacity)) raise_base_error(errNEnoughMem, "{mem_alloc}");
    st.z.next_out = compressed;
    st.z.avail_out = uInt(compressed_capacity);
    const int rc = deflateInit(&st.z, mPng->mDeflateLevel);
    if (rc != Z_OK) raise_error(errZLibCall, &qlm_base_exception_string, zlib_text("deflateInit", st.z, rc));
    deflating = true;
    const cPNG_IHDR& ihdr = Ihdr();
    writer_row_length = ihdr.row_bytes;
    bytes_per_pixel = png_pixel_bytes(ihdr.color_type, ihdr.bit_depth);
    tPNGEncoder encode = nullptr;
    if (ihdr.bit_depth == 8 && ihdr.color_type == cnCM_RGB) encode = &png_encode_rgb8;
    if (ihdr.bit_depth == 8 && ihdr.color_type == cnCM_RGBA) encode = &png_encode_rgba8;
    if (encode == nullptr) raise_png_error(errPNGInvalidCTypeDepth, "{encode=NIL}");
    const cBitmap* bitmap = mPng->mSaveBitmap;
    rChannelOrder order;
    if (!bitmap_has_order(bitmap, order)) raise_condition_error(errPreCondition, "{mSaveBitmap=NIL}");
    // The header was made from this bitmap; a row must hold its pixels.
    if (writer_row_length != png_row_bytes(bitmap->Width(), ihdr.color_type, 8) || writer_row_length < 1 ||
        writer_row_length >= INT32_MAX)
      raise_condition_error(errInvariant, "{IHDR<>mSaveBitmap}");
    for (uint8_t*& row : writer_rows) {
      if (!mem_alloc(row, writer_row_length)) raise_base_error(errNEnoughMem, "{mem_alloc}");
      std::memset(row, 0, size_t(writer_row_length));
    }
    const bool alpha = bitmap->HasAlpha();
    width = bitmap->Width();
    height = bitmap->Height();
    progress_total = height;
    progress_count = 0;
    last_percent = -1;
    for (int64_t y = 0; y < height; ++y) {
      encode(*this, bitmap->Data() + y * bitmap->Stride(), writer_rows[5], order, alpha);
      const uint8_t f = ChooseFilter();
      if (!SaveData(st, 1, &f) || !SaveData(st, writer_row_length, writer_rows[f]))
        raise_png_error(errPNGSaveRow, "{SaveData}");
      Progress("{cPNG_IDAT.SaveChunk}");
    }
    if (!SaveFinish(st)) raise_png_error(errPNGSaveRow, "{SaveFinish}");
    return true;
  });
  if (deflating) deflateEnd(&st.z);
  ReleaseBuffers();
  return ok;
}
