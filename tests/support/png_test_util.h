// Helpers for the PNG tests: chunk bytes, the test's own row filtering and
// deflating (zlib directly, as an independent encoder), sample packing, and
// a PNG image whose chunk list is filled by hand.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "image_test_util.h"
#include "qlm_png.h"

namespace testenv {

using Bytes = std::vector<uint8_t>;

inline void put_be32(Bytes& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

// One chunk: length, type, data, CRC (zlib's crc32 as the independent routine).
inline Bytes png_chunk_bytes(std::string_view type, const Bytes& data) {
  Bytes out;
  put_be32(out, uint32_t(data.size()));
  for (size_t i = 0; i < 4; ++i) out.push_back(uint8_t(i < type.size() ? type[i] : ' '));
  const size_t at = out.size();
  out.resize(at + data.size());
  if (!data.empty()) std::memcpy(out.data() + at, data.data(), data.size());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), uInt(data.size()));
  put_be32(out, uint32_t(crc));
  return out;
}

inline Bytes ihdr_data(uint32_t w, uint32_t h, uint8_t depth, uint8_t ctype, uint8_t interlace = 0) {
  Bytes d;
  put_be32(d, w);
  put_be32(d, h);
  d.push_back(depth);
  d.push_back(ctype);
  d.push_back(0);
  d.push_back(0);
  d.push_back(interlace);
  return d;
}

inline Bytes zlib_pack(const Bytes& raw, int level = 6) {
  uLongf size = compressBound(uLong(raw.size()));
  Bytes out(size);
  EXPECT_EQ(compress2(out.data(), &size, raw.data(), uLong(raw.size()), level), Z_OK);
  out.resize(size);
  return out;
}

// A zlib stream with the preset-dictionary flag set (FDICT) and a dictionary id.
inline Bytes zlib_with_dictionary() {
  Bytes out = {0x78, 0xBB, 0, 0, 0, 1};  // 0x78BB: FDICT set, header check OK
  return out;
}

// The filter step of an encoder: `type` (0..4, or any other value to store
// the row as it is) applied to `raw` with `prior` the previous raw row.
inline Bytes filter_row(uint8_t type, const Bytes& raw, const Bytes& prior, int b) {
  Bytes out = {type};
  for (size_t i = 0; i < raw.size(); ++i) {
    const int a = i >= size_t(b) ? raw[i - size_t(b)] : 0;
    const int up = prior[i];
    const int c = i >= size_t(b) ? prior[i - size_t(b)] : 0;
    int pred = 0;
    switch (type) {
      case 1: pred = a; break;
      case 2: pred = up; break;
      case 3: pred = (a + up) / 2; break;
      case 4: {
        const int p = a + up - c, pa = std::abs(p - a), pb = std::abs(p - up), pc = std::abs(p - c);
        pred = pa <= pb && pa <= pc ? a : (pb <= pc ? up : c);
        break;
      }
      default: pred = 0;
    }
    out.push_back(uint8_t(raw[i] - pred));
  }
  return out;
}

inline uint32_t s_mask(uint32_t v, int depth) { return v & ((1u << depth) - 1); }

// Packs sample values of `depth` bits into a row: sub-byte samples from the
// most significant bits, 16-bit samples big-endian; the row is padded.
inline Bytes pack_samples(const std::vector<uint32_t>& samples, int depth) {
  Bytes out;
  if (depth >= 8) {
    for (uint32_t s : samples) {
      if (depth == 16) out.push_back(uint8_t(s >> 8));
      out.push_back(uint8_t(s));
    }
    return out;
  }
  out.assign((samples.size() * size_t(depth) + 7) / 8, 0);
  for (size_t k = 0; k < samples.size(); ++k) {
    const size_t bit = k * size_t(depth);
    out[bit / 8] |= uint8_t(s_mask(samples[k], depth) << (8 - depth - int(bit % 8)));
  }
  return out;
}

// A PNG image whose chunk list the test fills: chunks are added and loaded
// from their data as the reader would, and the bitmap is made as the reader
// makes it before the image data.
class cTestPNG : public cImagePNG {
 public:
  cTestPNG() { mChunks = new cPNG_Entry(); }
  // Adds and loads a chunk; answers the entry's object (nil when the add failed).
  template <typename K = cPNG_Chunk>
  K* Load(std::string_view type, Bytes data, bool* loaded = nullptr) {
    rPNG_ChunkHeader h;
    h.dt_size = uint32_t(data.size());
    std::memcpy(h.ch_type, type.data(), 4);
    rPNG_Entry* e = mChunks->AddChunk(h, this, rPNG_ChunkFlags{});
    if (e == nullptr || e->cobj == nullptr) return nullptr;
    const bool ok = e->cobj->LoadChunk(nullptr, data.empty() ? nullptr : data.data(), int32_t(data.size()));
    if (loaded != nullptr) *loaded = ok;
    return static_cast<K*>(e->cobj);
  }
  // The bitmap the reader makes: 32-bit with alpha for colour types 4 and 6
  // and palettes with a tRNS of 2 or more entries, else the native format;
  // transparent and background colours from tRNS and bKGD.
  bool MakeBitmap(int32_t alpha_kind = cnBitmap32BGRA) {
    const cPNG_IHDR* ihdr = mChunks->IHDR;
    if (ihdr == nullptr) return false;
    const bool alpha = ihdr->color_type == cnCM_GreyAlpha || ihdr->color_type == cnCM_RGBA ||
                       (ihdr->color_type == cnCM_Palette && mChunks->tRNS != nullptr && mChunks->tRNS->alpha_count > 1);
    auto b = std::make_unique<cBitmap>(ihdr->width, ihdr->height, alpha ? alpha_kind : cnBitmapNative);
    if (mChunks->tRNS != nullptr) b->SetTransparentColor(mChunks->tRNS->Colour());
    if (mChunks->bKGD != nullptr && mChunks->bKGD->Colour() != 0) b->SetBackground(mChunks->bKGD->Colour());
    if (!b->Create()) return false;
    AdoptCommonBitmap(b.release());
    mAlpha = alpha;
    return true;
  }
  // Decodes image data that starts with an IDAT header inside `stream` (the
  // bytes of one or more chunks), through a buffer of `capacity` bytes.
  bool Decode(const Bytes& stream, int32_t capacity = cnSafeBlock, cFlow** flow_out = nullptr) {
    mFlow = read_flow(stream);
    rPNG_ChunkHeader h;
    uint8_t head[8];
    if (!mFlow->Read(head, 8)) return false;
    h.dt_size = png_get_u32(head);
    std::memcpy(h.ch_type, head + 4, 4);
    mIdat = std::make_unique<cPNG_IDAT>(this, h);
    mIdat->alpha = mAlpha;
    mBuffer.assign(size_t(capacity), 0);
    if (flow_out != nullptr) *flow_out = mFlow.get();
    return mIdat->LoadChunk(mFlow.get(), mBuffer.data(), capacity, &h);
  }
  cFlow* Flow() const { return mFlow.get(); }
  using cImage::AdoptCommonBitmap;

 private:
  bool mAlpha = false;
  std::unique_ptr<cMemoryFlow> mFlow;
  std::unique_ptr<cPNG_IDAT> mIdat;
  Bytes mBuffer;
};

}  // namespace testenv
