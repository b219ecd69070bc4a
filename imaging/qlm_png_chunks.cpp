// The chunk objects of the PNG codec, except the image data chunk.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "qlm_base_flow.h"
#include "qlm_png.h"
#include "qlm_zlib.h"

// ---------------------------------------------------------------------------
// Base.

std::unique_ptr<cPNG_Chunk> cPNG_Chunk::Clone() const {
  try {
    return std::make_unique<cPNG_Chunk>(nullptr, mHdr);
  } catch (...) {
    return nullptr;
  }
}

void cPNG_Chunk::Attach(uint8_t* data, int32_t size) {
  mChunkData = data;
  mSize = data != nullptr ? std::max(size, 0) : 0;
  mPos = 0;
}

bool cPNG_Chunk::LoadChunk(cFlow*, uint8_t* data, int32_t size, rPNG_ChunkHeader*) {
  Attach(data, size);
  return true;
}

bool cPNG_Chunk::SaveChunk(cFlow*) { return true; }

bool cPNG_Chunk::Read(void* buffer, int32_t count) {
  if (count < 0 || mPos >= mSize || count > mSize - mPos) return false;
  if (count > 0) std::memcpy(buffer, mChunkData + mPos, size_t(count));
  mPos += count;
  return true;
}

void cPNG_Chunk::ReadOrFail(void* buffer, int32_t count) {
  if (!Read(buffer, count)) raise_png_error(errPNGFlowCorrupted, "{inherited.Read}");
}

void cPNG_Chunk::LogOnOwner(std::source_location loc) const {
  if (mPng != nullptr) exception_log_append(std::current_exception(), mPng, loc);
}

cPNG_IHDR& cPNG_Chunk::Ihdr() const {
  if (mPng == nullptr || mPng->mChunks == nullptr || mPng->mChunks->IHDR == nullptr)
    raise_png_error(errPNGIHDRNotFound, "{mPng.mChunks.IHDR=NIL}");
  return *mPng->mChunks->IHDR;
}

void cPNG_Chunk::WriteChunk(cFlow* flow, const uint8_t* data, int32_t size) {
  if (flow == nullptr) raise_condition_error(errPreCondition, "{flow=NIL}");
  mHdr.dt_size = uint32_t(size);
  uint8_t head[8];
  png_put_u32(head, uint32_t(size));
  std::memcpy(head + 4, mHdr.ch_type, 4);
  uint8_t crc[4];
  png_put_u32(crc, png_chunk_crc(mHdr.ch_type, data, size));
  auto write = [&](const void* bytes, int32_t n) {
    if (!flow->Write(bytes, n) || flow->LastIO() != uint32_t(n)) raise_png_error(errPNGFlowWrite, "{f.Write}");
  };
  write(head, 8);
  if (size > 0) write(data, size);
  write(crc, 4);
}

namespace {
// The byte of a stored 2-byte sample that matches the decoded pixels: the
// high byte for 16-bit images (the decoder keeps it), else the low byte.
uint8_t sample_byte(const uint8_t sample[2], uint8_t bit_depth) { return bit_depth == 16 ? sample[0] : sample[1]; }

template <typename K>
std::unique_ptr<cPNG_Chunk> clone_fields(const K& source) {
  try {
    auto made = std::make_unique<K>(nullptr, source.Header());
    return made;
  } catch (...) {
    return nullptr;
  }
}
}  // namespace

// ---------------------------------------------------------------------------
// IHDR

cPNG_IHDR::cPNG_IHDR(cImagePNG* owner, const rPNG_ChunkHeader& header) : cPNG_Chunk(owner, header) {
  for (int i = 0; i < 256; ++i) {
    gamma[i] = uint8_t(i);
    grey[i][0] = grey[i][1] = grey[i][2] = uint8_t(i);
  }
}

void cPNG_IHDR::CopyFrom(const cPNG_IHDR& o) {
  width = o.width;
  height = o.height;
  bit_depth = o.bit_depth;
  color_type = o.color_type;
  compression_method = o.compression_method;
  filter_method = o.filter_method;
  interlace_method = o.interlace_method;
  row_bytes = o.row_bytes;
  std::memcpy(gamma, o.gamma, sizeof gamma);
  grey_count = o.grey_count;
  std::memcpy(grey, o.grey, sizeof grey);
}

std::unique_ptr<cPNG_Chunk> cPNG_IHDR::Clone() const {
  auto made = clone_fields(*this);
  if (made != nullptr) static_cast<cPNG_IHDR&>(*made).CopyFrom(*this);
  return made;
}

void cPNG_IHDR::Prepare() {
  row_bytes = png_row_bytes(width, color_type, bit_depth);
  if (color_type == cnCM_Grey && (bit_depth == 1 || bit_depth == 2 || bit_depth == 4)) {
    // The standard's grey levels: k x 255 / (2^depth - 1), so the top level
    // is white (0, 255; 0, 85, 170, 255; 0, 17, ..., 255).
    const int32_t top = (1 << bit_depth) - 1;
    grey_count = top + 1;
    for (int32_t k = 0; k <= top; ++k) grey[k][0] = grey[k][1] = grey[k][2] = uint8_t(k * 255 / top);
  }
}

bool cPNG_IHDR::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    uint8_t b[13];
    ReadOrFail(b, 13);
    const uint32_t w = png_get_u32(b), h = png_get_u32(b + 4);
    // Sizes beyond int32 would turn negative; 0 is refused by the reader
    // when the image data begins.
    if (w > uint32_t(INT32_MAX) || h > uint32_t(INT32_MAX))
      raise_png_error(errPNGInvalidImageDims, "{dx or dy > 2^31-1}");
    width = int32_t(w);
    height = int32_t(h);
    bit_depth = b[8];
    color_type = b[9];
    compression_method = b[10];
    filter_method = b[11];
    interlace_method = b[12];
    Prepare();
    return true;
  });
}

bool cPNG_IHDR::SaveChunk(cFlow* flow) {
  return Guard(false, [&] {
    const cBitmap* bitmap = mPng != nullptr ? mPng->mSaveBitmap : nullptr;
    if (bitmap == nullptr) raise_condition_error(errPreCondition, "{mSaveBitmap=NIL}");
    width = bitmap->Width();
    height = bitmap->Height();
    bit_depth = 8;
    color_type = bitmap->HasAlpha() ? cnCM_RGBA : cnCM_RGB;
    compression_method = filter_method = interlace_method = 0;
    uint8_t b[13] = {};
    png_put_u32(b, uint32_t(width));
    png_put_u32(b + 4, uint32_t(height));
    b[8] = bit_depth;
    b[9] = color_type;
    WriteChunk(flow, b, 13);
    row_bytes = png_row_bytes(width, color_type, 8);
    return true;
  });
}

// ---------------------------------------------------------------------------
// PLTE

std::unique_ptr<cPNG_Chunk> cPNG_PLTE::Clone() const {
  auto made = clone_fields(*this);
  if (made != nullptr) {
    auto& t = static_cast<cPNG_PLTE&>(*made);
    t.count = count;
    std::memcpy(t.palette, palette, sizeof palette);
  }
  return made;
}

bool cPNG_PLTE::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    if (mPng != nullptr && mPng->mFallbackPLTE != nullptr && mPng->mFallbackPLTE != this) {
      count = mPng->mFallbackPLTE->count;
      std::memcpy(palette, mPng->mFallbackPLTE->palette, sizeof palette);
      return true;
    }
    // The entries pass through the gamma table: without a header there is none.
    const uint8_t* T = Ihdr().gamma;
    if (mHdr.dt_size % 3 != 0 || mHdr.dt_size / 3 > 256)
      raise_condition_error(errInvariant, "{mHdr.dt_size div 3 > 256}");
    count = int32_t(mHdr.dt_size / 3);
    ReadOrFail(palette, count * 3);
    for (int32_t i = 0; i < count; ++i)
      for (int c = 0; c < 3; ++c) palette[i][c] = T[palette[i][c]];
    return true;
  });
}

// ---------------------------------------------------------------------------
// tRNS

std::unique_ptr<cPNG_Chunk> cPNG_tRNS::Clone() const {
  auto made = clone_fields(*this);
  if (made != nullptr) {
    auto& t = static_cast<cPNG_tRNS&>(*made);
    t.color_type = color_type;
    std::memcpy(t.grey_sample, grey_sample, 2);
    std::memcpy(t.red, red, 2);
    std::memcpy(t.green, green, 2);
    std::memcpy(t.blue, blue, 2);
    std::memcpy(t.alpha, alpha, sizeof alpha);
    t.alpha_count = alpha_count;
  }
  return made;
}

bool cPNG_tRNS::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    color_type = Ihdr().color_type;
    if (mPng->mFallbackTRNS != nullptr && mPng->mFallbackTRNS != this) {
      const cPNG_tRNS& f = *mPng->mFallbackTRNS;
      std::memcpy(grey_sample, f.grey_sample, 2);
      std::memcpy(red, f.red, 2);
      std::memcpy(green, f.green, 2);
      std::memcpy(blue, f.blue, 2);
      std::memcpy(alpha, f.alpha, sizeof alpha);
      alpha_count = f.alpha_count;
      return true;
    }
    if (color_type == cnCM_Grey) {
      ReadOrFail(grey_sample, 2);
    } else if (color_type == cnCM_RGB) {
      ReadOrFail(red, 2);
      ReadOrFail(green, 2);
      ReadOrFail(blue, 2);
    } else if (color_type == cnCM_Palette) {
      if (mHdr.dt_size > 256) raise_png_error(errPNGInvalidPaletteTrans, "{mHdr.dt_size>256}");
      ReadOrFail(alpha, int32_t(mHdr.dt_size));
      alpha_count = int32_t(mHdr.dt_size);
    }
    return true;
  });
}

uint32_t cPNG_tRNS::Colour() const {
  return Guard(uint32_t(0), [&]() -> uint32_t {
    const cPNG_IHDR& ihdr = Ihdr();
    switch (color_type) {
      case cnCM_Grey: {
        const uint8_t k = sample_byte(grey_sample, ihdr.bit_depth);
        if (k >= ihdr.grey_count) return 0;
        return color_rgb(ihdr.grey[k][0], ihdr.grey[k][1], ihdr.grey[k][2]);
      }
      case cnCM_RGB: {
        const uint8_t* T = ihdr.gamma;
        const uint8_t d = ihdr.bit_depth;
        return color_rgb(T[sample_byte(red, d)], T[sample_byte(green, d)], T[sample_byte(blue, d)]);
      }
      // A palette image's tRNS gives its entries their alpha (see
      // alpha_count), never a colour: entries of the same colour may differ.
      default: return 0;
    }
  });
}

bool cPNG_tRNS::SaveChunk(cFlow* flow) {
  return Guard(false, [&] {
    if (Ihdr().color_type != cnCM_RGB) raise_condition_error(errPreCondition, "{ctype<>cnCM_RGB}");
    const cBitmap* bitmap = mPng->mSaveBitmap;
    if (bitmap == nullptr) raise_condition_error(errPreCondition, "{mSaveBitmap=NIL}");
    uint8_t r = 0, g = 0, b = 0;
    color_split_rgb(bitmap->TransparentColor(), r, g, b);
    const uint8_t data[6] = {0, r, 0, g, 0, b};
    WriteChunk(flow, data, 6);
    return true;
  });
}

// ---------------------------------------------------------------------------
// cHRM, gAMA, sBIT

std::unique_ptr<cPNG_Chunk> cPNG_cHRM::Clone() const {
  auto made = clone_fields(*this);
  if (made != nullptr) {
    auto& t = static_cast<cPNG_cHRM&>(*made);
    t.white_x = white_x, t.white_y = white_y, t.red_x = red_x, t.red_y = red_y;
    t.green_x = green_x, t.green_y = green_y, t.blue_x = blue_x, t.blue_y = blue_y;
  }
  return made;
}

bool cPNG_cHRM::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    uint8_t b[32];
    ReadOrFail(b, 32);
    uint32_t* fields[8] = {&white_x, &white_y, &red_x, &red_y, &green_x, &green_y, &blue_x, &blue_y};
    for (int i = 0; i < 8; ++i) *fields[i] = png_get_u32(b + 4 * i);
    return true;
  });
}

std::unique_ptr<cPNG_Chunk> cPNG_gAMA::Clone() const {
  auto made = clone_fields(*this);
  if (made != nullptr) static_cast<cPNG_gAMA&>(*made).gamma = gamma;
  return made;
}

bool cPNG_gAMA::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    uint8_t b[4];
    ReadOrFail(b, 4);
    gamma = png_get_u32(b);
    cPNG_IHDR& ihdr = Ihdr();
    table = ihdr.gamma;
    // In extended precision (long double overloads of pow and nearbyint),
    // rounded to nearest with ties to even. A gamma of
    // 0 makes the exponent infinite, which IEEE arithmetic carries through
    // (every level but the top becomes 0).
    const long double e = 1.0L / ((static_cast<long double>(gamma) / 100000.0L) * 2.2L);
    for (int i = 0; i < 256; ++i) {
      const long double v = std::nearbyint(255.0L * std::pow(static_cast<long double>(i) / 255.0L, e));
      table[i] = uint8_t(std::clamp(v, 0.0L, 255.0L));
    }
    for (auto& level : ihdr.grey)
      for (uint8_t& c : level) c = table[c];
    return true;
  });
}

std::unique_ptr<cPNG_Chunk> cPNG_sBIT::Clone() const {
  auto made = clone_fields(*this);
  if (made != nullptr) {
    auto& t = static_cast<cPNG_sBIT&>(*made);
    t.color_type = color_type, t.grey = grey, t.red = red, t.green = green, t.blue = blue, t.alpha = alpha;
  }
  return made;
}

bool cPNG_sBIT::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    color_type = Ihdr().color_type;
    switch (color_type) {
      case cnCM_Grey: ReadOrFail(&grey, 1); break;
      case cnCM_RGB:
      case cnCM_Palette:
        ReadOrFail(&red, 1);
        ReadOrFail(&green, 1);
        ReadOrFail(&blue, 1);
        break;
      case cnCM_GreyAlpha:
        ReadOrFail(&grey, 1);
        ReadOrFail(&alpha, 1);
        break;
      case cnCM_RGBA:
        ReadOrFail(&red, 1);
        ReadOrFail(&green, 1);
        ReadOrFail(&blue, 1);
        ReadOrFail(&alpha, 1);
        break;
      default: break;
    }
    return true;
  });
}

// ---------------------------------------------------------------------------
// Text chunks.

cPNG_tEXt::~cPNG_tEXt() { mem_free(text); }

std::string cPNG_tEXt::ReadField() {
  // Up to the NUL or the end of the data, whichever comes first; only the
  // first 79 bytes are kept, and nothing beyond the data is read.
  std::string field;
  while (mPos < mSize) {
    const uint8_t c = mChunkData[mPos++];
    if (c == 0) break;
    if (field.size() < cnPNGKeywordLength) field.push_back(char(c));
  }
  return field;
}

void cPNG_tEXt::CopyRest() {
  const int32_t rest = mSize - mPos;
  if (rest <= 0) return;
  uint8_t* block = nullptr;
  if (!mem_alloc(block, rest)) raise_base_error(errNEnoughMem, "{mem_alloc}");
  std::memcpy(block, mChunkData + mPos, size_t(rest));
  mPos = mSize;
  mem_free(text);
  text = block;
  text_size = rest;
  if (mPng != nullptr) mPng->mTextBytes += rest;
}

void cPNG_tEXt::InflateRest() {
  const int32_t rest = mSize - mPos;
  if (rest <= 0) return;
  // At most 8 MB per chunk and 32 MB for all texts of the image: a small
  // chunk can inflate a thousandfold, and nothing reads the texts.
  const int64_t used = mPng != nullptr ? mPng->mTextBytes : 0;
  const int64_t limit = std::min(cnPNGTextLimit, cnPNGImageTextLimit - used);
  void* result = nullptr;
  int32_t result_size = 0;
  bool over = limit <= 0;
  const bool ok = !over && zlib_decompress(mChunkData + mPos, rest, result, result_size, limit, &over);
  mPos = mSize;
  if (over) {
    mem_free(result);
    // A warning only: the keyword stays, the text is dropped.
    try {
      raise_png_error(errPNGTooBigMemRequirement, "[warning] {text over the limit: dropped}");
    } catch (...) {
      LogOnOwner();
    }
    return;
  }
  if (!ok) raise_base_error(errZLibCall, "{zlib_decompress}");
  mem_free(text);
  text = static_cast<uint8_t*>(result);
  text_size = result_size;
  if (mPng != nullptr) mPng->mTextBytes += result_size;
}

bool cPNG_tEXt::CopyTextTo(cPNG_tEXt& t) const {
  t.keyword = keyword;
  if (text != nullptr && text_size > 0) {
    if (!mem_alloc(t.text, text_size)) return false;
    std::memcpy(t.text, text, size_t(text_size));
    t.text_size = text_size;
  }
  return true;
}

std::unique_ptr<cPNG_Chunk> cPNG_tEXt::Clone() const {
  auto made = clone_fields(*this);
  if (made != nullptr && !CopyTextTo(static_cast<cPNG_tEXt&>(*made))) return nullptr;
  return made;
}

bool cPNG_tEXt::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    keyword = ReadField();
    CopyRest();
    return true;
  });
}

std::unique_ptr<cPNG_Chunk> cPNG_zTXt::Clone() const {
  auto made = clone_fields(*this);
  if (made == nullptr) return nullptr;
  auto& t = static_cast<cPNG_zTXt&>(*made);
  if (!CopyTextTo(t)) return nullptr;
  t.compression_method = compression_method;
  return made;
}

bool cPNG_zTXt::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    keyword = ReadField();
    ReadOrFail(&compression_method, 1);
    InflateRest();
    return true;
  });
}

std::unique_ptr<cPNG_Chunk> cPNG_iTXt::Clone() const {
  auto made = clone_fields(*this);
  if (made == nullptr) return nullptr;
  auto& t = static_cast<cPNG_iTXt&>(*made);
  if (!CopyTextTo(t)) return nullptr;
  t.compression_flag = compression_flag;
  t.compression_method = compression_method;
  t.language = language;
  t.translated_keyword = translated_keyword;
  return made;
}

bool cPNG_iTXt::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    keyword = ReadField();
    ReadOrFail(&compression_flag, 1);
    ReadOrFail(&compression_method, 1);
    language = ReadField();
    translated_keyword = ReadField();
    if (compression_flag == 0)
      CopyRest();
    else
      InflateRest();
    return true;
  });
}

// ---------------------------------------------------------------------------
// bKGD, pHYs, tIME

std::unique_ptr<cPNG_Chunk> cPNG_bKGD::Clone() const {
  auto made = clone_fields(*this);
  if (made != nullptr) {
    auto& t = static_cast<cPNG_bKGD&>(*made);
    t.color_type = color_type;
    std::memcpy(t.grey_sample, grey_sample, 2);
    std::memcpy(t.red, red, 2);
    std::memcpy(t.green, green, 2);
    std::memcpy(t.blue, blue, 2);
    t.palette_index = palette_index;
  }
  return made;
}

bool cPNG_bKGD::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    color_type = Ihdr().color_type;
    switch (color_type) {
      case cnCM_Grey:
      case cnCM_GreyAlpha: ReadOrFail(grey_sample, 2); break;
      case cnCM_RGB:
      case cnCM_RGBA:
        ReadOrFail(red, 2);
        ReadOrFail(green, 2);
        ReadOrFail(blue, 2);
        break;
      case cnCM_Palette: ReadOrFail(&palette_index, 1); break;
      default: break;
    }
    return true;
  });
}

uint32_t cPNG_bKGD::Colour() const {
  return Guard(uint32_t(0), [&]() -> uint32_t {
    const cPNG_IHDR& ihdr = Ihdr();
    const uint8_t* T = ihdr.gamma;
    const uint8_t d = ihdr.bit_depth;
    const int32_t over_r = mPng->mBackgroundRed, over_g = mPng->mBackgroundGreen, over_b = mPng->mBackgroundBlue;
    auto clamp = [](int32_t v) { return uint8_t(int_clamp(v, 0, 255)); };
    uint8_t r = 0, g = 0, b = 0;
    switch (color_type) {
      case cnCM_Grey:
      case cnCM_GreyAlpha: {
        if (over_r != 0 && over_g != 0 && over_b != 0) return color_rgb(clamp(over_r), clamp(over_g), clamp(over_b));
        const uint8_t v = T[sample_byte(grey_sample, d)];
        return color_rgb(v, v, v);
      }
      case cnCM_RGB:
      case cnCM_RGBA:
        r = T[sample_byte(red, d)];
        g = T[sample_byte(green, d)];
        b = T[sample_byte(blue, d)];
        break;
      case cnCM_Palette: {
        // Without a palette there is no background colour.
        const cPNG_PLTE* plte = mPng->mChunks->PLTE;
        if (plte == nullptr) return 0;
        r = plte->palette[palette_index][0];
        g = plte->palette[palette_index][1];
        b = plte->palette[palette_index][2];
        break;
      }
      default: return 0;
    }
    if (over_r != 0) r = clamp(over_r);
    if (over_g != 0) g = clamp(over_g);
    if (over_b != 0) b = clamp(over_b);
    return color_rgb(r, g, b);
  });
}

std::unique_ptr<cPNG_Chunk> cPNG_pHYs::Clone() const {
  auto made = clone_fields(*this);
  if (made != nullptr) {
    auto& t = static_cast<cPNG_pHYs&>(*made);
    t.x = x, t.y = y, t.unit = unit;
  }
  return made;
}

bool cPNG_pHYs::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    uint8_t b[9];
    ReadOrFail(b, 9);
    x = png_get_u32(b);
    y = png_get_u32(b + 4);
    unit = b[8];
    return true;
  });
}

std::unique_ptr<cPNG_Chunk> cPNG_tIME::Clone() const {
  auto made = clone_fields(*this);
  if (made != nullptr) {
    auto& t = static_cast<cPNG_tIME&>(*made);
    t.year = year, t.month = month, t.day = day, t.hour = hour, t.minute = minute, t.second = second;
  }
  return made;
}

bool cPNG_tIME::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    uint8_t b[7];
    ReadOrFail(b, 7);
    year = png_get_u16(b);
    month = b[2], day = b[3], hour = b[4], minute = b[5], second = b[6];
    return true;
  });
}

bool cPNG_tIME::SaveChunk(cFlow* flow) {
  return Guard(false, [&] {
    rDate date;
    rTime time;
    (mPng != nullptr && mPng->mClock != nullptr ? mPng->mClock : &datetime_now)(date, time);
    year = date.year;
    month = uint8_t(date.month), day = uint8_t(date.day);
    hour = uint8_t(time.hour), minute = uint8_t(time.minute), second = uint8_t(time.second);
    uint8_t b[7];
    png_put_u16(b, year);
    b[2] = month, b[3] = day, b[4] = hour, b[5] = minute, b[6] = second;
    WriteChunk(flow, b, 7);
    return true;
  });
}
