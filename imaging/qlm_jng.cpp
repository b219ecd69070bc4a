// The JNG codec: the JHDR chunk, the colour and alpha coders and the image.
#include "qlm_jng.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "qlm_base_flow.h"
#include "qlm_jpeg.h"
#include "qlm_jpeg_lib.h"
#include "qlm_png_idat_state.h"
#include "qlm_png_walker.h"

// ---------------------------------------------------------------------------
// Messages and module start.

std::unique_ptr<cExceptionString> jng_exception_string(uint32_t code) {
  struct rRow {
    uint32_t code;
    const char* name;
    const char* message;
  };
  static constexpr rRow kRows[] = {
      {299, "errJNGJHDRNotFirst", "JHDR chunk is not first."},
      {300, "errJNGMultipleJHDR", "Multiple occurences of JHDR chunk is not allowed."},
      {301, "errJNGBuildBitmap", "Failed to initialize the internal bitmap."},
      {302, "errJNGReadingJPEG", "Failed reading internal JPEG stream."},
      {303, "errJNGJHDRNotFound", "JHDR chunk not found."},
      {304, "errJNGInvalidCType", "Encountered invalid Color Type."},
      {305, "errJNGInvalidDepth", "Encountered invalid Bit Depth."},
  };
  for (const rRow& row : kRows) {
    if (row.code != code) continue;
    auto answer = std::make_unique<cExceptionString>(int32_t(code), &jng_exception_string);
    answer->Set(row.name, localization_translate(0, row.message, 0, 0));
    return answer;
  }
  return qlm_base_exception_string(code);
}

void raise_jng_error(int32_t code, std::string_view text, std::source_location loc) {
  raise_error(code, &jng_exception_string, text, {}, {}, loc);
}

uint32_t id_cImageJNG = 0;

void qlm_jng_start() {
  qlm_png_start();
  qlm_jpeg_start();
  if (id_cImageJNG == 0) new_type_id(id_cImageJNG);
}

void qlm_jng_stop() {}

namespace {

rPNG_ChunkHeader header_of(const char* type, uint32_t size = 0) {
  rPNG_ChunkHeader h;
  h.dt_size = size;
  std::memcpy(h.ch_type, type, 4);
  return h;
}

// A chunk header read from the flow (299 `text` on a short read).
rPNG_ChunkHeader read_header(cFlow* flow, const char* text) {
  uint8_t b[8];
  if (!flow->Read(b, 8) || flow->LastIO() != 8) raise_png_error(errPNGFlowCorrupted, text);
  return header_of(reinterpret_cast<const char*>(b + 4), png_get_u32(b));
}

// Reads one chunk's data and CRC into the coder's buffer (grown to the
// length when smaller) and compares the CRC.
void load_chunk_data(cFlow* flow, const rPNG_ChunkHeader& h, uint8_t*& chunk, int32_t& capacity, int32_t& filled,
                     int32_t& consumed, const char* read_text) {
  png_check_chunk_length(flow, h.dt_size);
  const int32_t length = int32_t(h.dt_size);
  if (capacity < length || chunk == nullptr) {
    mem_free(chunk);
    capacity = 0;
    if (!mem_alloc(chunk, std::max(length, 1))) raise_base_error(errNEnoughMem, "{mem_alloc}");
    capacity = std::max(length, 1);
  }
  filled = 0;
  consumed = 0;
  png_read_chunk_data(flow, h, chunk, length, read_text);
  filled = length;
}

void skip_chunk(cFlow* flow, const rPNG_ChunkHeader& h, const char* text) {
  if (!flow->Seek(flow->Curr() + int64_t(h.dt_size) + 4)) raise_base_error(errQLMCall, text);
}

// The row progress of the PNG data coder: rounded count / (total / 100),
// -1 when not above 0, at most 100, reported only when it changes.
struct rRowProgress {
  int64_t total = 0;
  int64_t count = 0;
  double last = -1;
  void Step(cImagePNG* png, int64_t rows, const char* text) {
    if (png == nullptr || png->mProgress == nullptr) return;
    count += rows;
    double percent = std::nearbyint(double(count) / (double(total) / 100.0));
    if (!(percent > 0)) percent = -1;
    if (percent > 100) percent = 100;
    if (percent == last) return;
    last = percent;
    progress_report(png->mProgress, png, percent, text);
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// cJNG_JHDR

cJNG_JHDR::~cJNG_JHDR() { delete mAlphaIHDR; }

std::unique_ptr<cPNG_Chunk> cJNG_JHDR::Clone() const {
  try {
    auto made = std::make_unique<cJNG_JHDR>(nullptr, mHdr);
    made->mData = mData;
    if (mAlphaIHDR != nullptr) {
      std::unique_ptr<cPNG_Chunk> ihdr = mAlphaIHDR->Clone();
      if (ihdr == nullptr) return nullptr;
      made->mAlphaIHDR = static_cast<cPNG_IHDR*>(ihdr.release());
    }
    return made;
  } catch (...) {
    return nullptr;
  }
}

bool cJNG_JHDR::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  return Guard(false, [&] {
    uint8_t b[16];
    if (!Read(b, 16)) raise_png_error(errPNGFlowCorrupted, "{Self.Read}");
    mData.width = png_get_u32(b);
    mData.height = png_get_u32(b + 4);
    mData.ctype = b[8];
    mData.idepth = b[9];
    mData.icompr = b[10];
    mData.iinter = b[11];
    mData.adepth = b[12];
    mData.acompr = b[13];
    mData.afilter = b[14];
    mData.ainter = b[15];
    uint8_t color_type = 0;
    switch (mData.ctype) {
      case 8:
      case 12: color_type = cnCM_Grey; break;
      case 10:
      case 14: color_type = cnCM_RGB; break;
      default: raise_jng_error(errJNGInvalidCType, "{" + std::to_string(mData.ctype) + "}");
    }
    // Sizes beyond int32 would turn negative in the bitmap.
    if (mData.width > uint32_t(INT32_MAX) || mData.height > uint32_t(INT32_MAX))
      raise_png_error(errPNGInvalidImageDims, "{dx or dy > 2^31-1}");
    delete mAlphaIHDR;
    mAlphaIHDR = nullptr;
    auto ihdr = std::make_unique<cPNG_IHDR>(mPng, header_of("IHDR", 13));
    ihdr->width = int32_t(mData.width);
    ihdr->height = int32_t(mData.height);
    ihdr->bit_depth = mData.adepth;
    ihdr->color_type = color_type;
    ihdr->compression_method = mData.acompr;
    ihdr->filter_method = mData.afilter;
    ihdr->interlace_method = mData.ainter;
    ihdr->Prepare();
    mAlphaIHDR = ihdr.release();
    if (mPng != nullptr && mPng->mChunks != nullptr) mPng->mChunks->IHDR = mAlphaIHDR;
    return true;
  });
}

bool cJNG_JHDR::SaveChunk(cFlow* flow) {
  return Guard(false, [&] {
    const cBitmap* bitmap = mPng != nullptr ? mPng->mSaveBitmap : nullptr;
    if (bitmap == nullptr) raise_condition_error(errPreCondition, "{mSaveBitmap=NIL}");
    const bool alpha = bitmap->HasAlpha();
    mData = rJNG_Header{};
    mData.width = uint32_t(bitmap->Width());
    mData.height = uint32_t(bitmap->Height());
    mData.ctype = alpha ? 14 : 10;
    mData.idepth = 8;
    mData.icompr = 8;
    mData.adepth = alpha ? 8 : 0;
    uint8_t b[16] = {};
    png_put_u32(b, mData.width);
    png_put_u32(b + 4, mData.height);
    b[8] = mData.ctype;
    b[9] = mData.idepth;
    b[10] = mData.icompr;
    b[12] = mData.adepth;
    std::memcpy(mHdr.ch_type, "JHDR", 4);
    WriteChunk(flow, b, 16);
    return true;
  });
}

// ---------------------------------------------------------------------------
// cJNG_JDAT: the chunk source and sink.

cJNG_JDAT::~cJNG_JDAT() { mem_free(chunk); }

std::unique_ptr<cPNG_Chunk> cJNG_JDAT::Clone() const {
  try {
    auto made = std::make_unique<cJNG_JDAT>(nullptr, mHdr);
    if (chunk != nullptr && capacity > 0) {
      if (!mem_alloc(made->chunk, capacity)) return nullptr;
      std::memcpy(made->chunk, chunk, size_t(capacity));
    }
    made->capacity = capacity;
    made->filled = filled;
    made->consumed = consumed;
    made->mFlow = mFlow;
    return made;
  } catch (...) {
    return nullptr;
  }
}

bool cJNG_JDAT::ReadData(uint8_t* buffer, int32_t count, int32_t& read) {
  read = 0;
  if (buffer == nullptr || count <= 0 || ended) return true;
  try {
    while (read < count) {
      while (consumed >= filled) {
        const rPNG_ChunkHeader h = read_header(mFlow, "{mFlow.Read}");
        if (h.Is("JDAT")) {
          load_chunk_data(mFlow, h, chunk, capacity, filled, consumed, "{mFlow.Read}");
        } else if (h.Is("JDAA") || h.Is("IDAT")) {
          skip_chunk(mFlow, h, "{mFlow.Seek}");
        } else {
          // The end of the colour data: the flow stands behind this header,
          // and later calls read nothing more.
          ended = true;
          return true;
        }
      }
      const int32_t n = std::min(filled - consumed, count - read);
      std::memcpy(buffer + read, chunk + consumed, size_t(n));
      read += n;
      consumed += n;
    }
    return true;
  } catch (...) {
    // Logged once; the bytes already copied are still handed over, and no
    // later call reads on (each would log the same failure again).
    LogOnOwner();
    ended = true;
    return read > 0;
  }
}

bool cJNG_JDAT::FlushOut() {
  return Guard(false, [&] {
    std::memcpy(mHdr.ch_type, "JDAT", 4);
    uint8_t head[8];
    png_put_u32(head, uint32_t(filled));
    std::memcpy(head + 4, mHdr.ch_type, 4);
    uint8_t crc[4];
    png_put_u32(crc, png_chunk_crc(mHdr.ch_type, chunk, filled));
    auto write = [&](const void* bytes, int32_t n) {
      if (!mFlow->Write(bytes, n) || mFlow->LastIO() != uint32_t(n)) raise_png_error(errPNGFlowWrite, "{mFlow.Write}");
    };
    write(head, 8);
    if (filled > 0) write(chunk, filled);
    write(crc, 4);
    return true;
  });
}

bool cJNG_JDAT::WriteData(const uint8_t* data, int32_t count, int32_t& written, bool flush) {
  written = 0;
  return Guard(false, [&] {
    while (written < count) {
      if (filled >= capacity) {
        if (!FlushOut()) raise_base_error(errSubFnCall, "{FlushOut}");
        filled = 0;
      }
      const int32_t n = std::min(count - written, capacity - filled);
      std::memcpy(chunk + filled, data + written, size_t(n));
      filled += n;
      written += n;
    }
    if (flush && filled >= 1) {
      if (!FlushOut()) raise_base_error(errSubFnCall, "{FlushOut}");
      filled = 0;
    }
    return true;
  });
}

namespace {

// ReadData logs its own failures; a false answer counts as no bytes.
int64_t jdat_read(void* context, JOCTET* buffer, int32_t size) {
  int32_t n = 0;
  if (!static_cast<cJNG_JDAT*>(context)->ReadData(buffer, size, n)) n = 0;
  return n;
}

struct rJNGDest {
  jpeg_destination_mgr pub;
  cJNG_JDAT* jdat;
  JOCTET* buffer;
};

void jng_dest_init(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<rJNGDest*>(cinfo->dest);
  dest->buffer = static_cast<JOCTET*>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, cnJPEGBufferSize));
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = cnJPEGBufferSize;
}

boolean jng_dest_empty(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<rJNGDest*>(cinfo->dest);
  int32_t written = 0;
  if (!dest->jdat->WriteData(dest->buffer, cnJPEGBufferSize, written, false) || written != cnJPEGBufferSize)
    ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = cnJPEGBufferSize;
  return TRUE;
}

void jng_dest_term(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<rJNGDest*>(cinfo->dest);
  const int32_t count = cnJPEGBufferSize - int32_t(dest->pub.free_in_buffer);
  int32_t written = 0;
  if (!dest->jdat->WriteData(dest->buffer, count, written, true) || written != count) ERREXIT(cinfo, JERR_FILE_WRITE);
}

}  // namespace

void jng_jpeg_source(jpeg_decompress_struct* cinfo, cJNG_JDAT* jdat) { jpeg_source(cinfo, &jdat_read, jdat); }

void jng_jpeg_dest(jpeg_compress_struct* cinfo, cJNG_JDAT* jdat) {
  auto* dest = static_cast<rJNGDest*>(
      (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(rJNGDest)));
  std::memset(dest, 0, sizeof *dest);
  dest->jdat = jdat;
  dest->pub.init_destination = &jng_dest_init;
  dest->pub.empty_output_buffer = &jng_dest_empty;
  dest->pub.term_destination = &jng_dest_term;
  cinfo->dest = &dest->pub;
}

// ---------------------------------------------------------------------------
// cJNG_JDAT: decoding and encoding.

bool cJNG_JDAT::LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, data, size, header);
  mFlow = flow;
  return Guard(false, [&] {
    if (mPng == nullptr || flow == nullptr) raise_condition_error(errPreCondition, "{mPng=NIL}");
    ended = false;
    filled = consumed = 0;
    const cPNG_IHDR* ihdr = mPng->mChunks != nullptr ? mPng->mChunks->IHDR : nullptr;
    grey = ihdr != nullptr ? ihdr->gamma : nullptr;
    auto* jng = dynamic_cast<cImageJNG*>(mPng);
    const uint8_t dct = jng != nullptr ? jng->mDctMethod : 0;
    if (dct > cnJPEGDctFloat) raise_condition_error(errPreCondition, "{mDctMethod>2}");
    cBitmap* target = mPng->Bitmap(0);
    if (target == nullptr || target->Data() == nullptr || target->Order() == nullptr)
      raise_condition_error(errPreCondition, "{mPng.Bitmap=NIL}");

    rJPEGDecodeSetup setup;
    setup.client = mPng;
    setup.read = &jdat_read;
    setup.context = this;
    setup.dct_method = dct;
    // Grey levels go through the palette (the gamma table).
    setup.grey_levels = grey;
    rRowProgress progress;
    setup.target = [&](const jpeg_decompress_struct& d) {
      // Rows the JPEG stream lacks would be left undecoded, rows beyond the
      // JHDR's height would have nowhere to go: any other size is refused.
      if (int64_t(d.image_width) != target->Width() || int64_t(d.image_height) != target->Height())
        raise_png_error(errPNGInvalidImageDims, "{cinfo:dims<>mPng.Bitmap:dims}");
      progress.total = d.image_height;
      return target;
    };
    setup.rows_read = [&](JDIMENSION rows) { progress.Step(mPng, rows, "{cJNG_JDAT.LoadChunk}"); };
    jpeg_decode_into_bitmap(setup);
    return true;
  });
}

bool cJNG_JDAT::SaveChunk(cFlow* flow) {
  mFlow = flow;
  const bool ok = Guard(false, [&] {
    if (mPng == nullptr || flow == nullptr) raise_condition_error(errPreCondition, "{mPng=NIL}");
    cBitmap* bitmap = mPng->mSaveBitmap;
    if (bitmap == nullptr || bitmap->Order() == nullptr || bitmap->Data() == nullptr)
      raise_condition_error(errPreCondition, "{mSaveBitmap=NIL}");
    mem_free(chunk);
    capacity = 0;
    if (!mem_alloc(chunk, cnJNG_ChunkData)) raise_base_error(errNEnoughMem, "{mem_alloc}");
    capacity = cnJNG_ChunkData;
    filled = 0;
    consumed = 0;
    auto* jng = dynamic_cast<cImageJNG*>(mPng);
    const int32_t quality = jng != nullptr ? jng->mQuality : 85;

    auto state = std::make_unique<rJPEGEncodeState>();
    jpeg_compress_struct* c = &state->c;
    rJPEGReader* reader = &state->reader;
    cJNG_JDAT* self = this;
    jpeg_call(jpeg_common(c), [c] { jpeg_create_compress(c); });
    c->client_data = static_cast<cBase*>(mPng);
    jpeg_call(jpeg_common(c), [c, self, reader, bitmap, quality] {
      jpeg_progress_init(jpeg_common(c), nullptr);
      jng_jpeg_dest(c, self);
      c->in_color_space = JCS_RGB;
      jpeg_set_defaults(c);
      jpeg_bitmap_reader(c, *reader, bitmap, true);
      jpeg_reader_start(c, *reader);
      jpeg_default_colorspace(c);
      jpeg_set_quality(c, quality, TRUE);
      jpeg_start_compress(c, TRUE);
    });
    rRowProgress progress;
    progress.total = c->image_height;
    while (c->next_scanline < c->image_height) {
      jpeg_call(jpeg_common(c), [c, reader] {
        JSAMPROW row = jpeg_get_rows(*reader);
        jpeg_write_scanlines(c, &row, 1);
      });
      try {
        progress.Step(mPng, 1, "{cJNG_JDAT.SaveChunk}");
      } catch (...) {
        jpeg_abort(jpeg_common(c));
        throw;
      }
    }
    jpeg_call(jpeg_common(c), [c] { jpeg_finish_compress(c); });
    return true;
  });
  return ok;
}

// ---------------------------------------------------------------------------
// cJNG_IDAT

cJNG_IDAT::~cJNG_IDAT() { ReleaseBuffers(); }

void cJNG_IDAT::ReleaseBuffers() {
  cPNG_IDAT::ReleaseBuffers();
  mem_free(chunk);
  capacity = filled = consumed = 0;
  row_bytes = 0;
}

std::unique_ptr<cPNG_Chunk> cJNG_IDAT::Clone() const {
  try {
    auto made = std::make_unique<cJNG_IDAT>(nullptr, mHdr);
    made->width = width;
    made->height = height;
    made->bytes_per_pixel = bytes_per_pixel;
    made->row_bytes = row_bytes;
    made->current_row = current_row;
    made->filled = filled;
    made->consumed = consumed;
    if (chunk != nullptr && capacity > 0) {
      if (!mem_alloc(made->chunk, capacity)) return nullptr;
      std::memcpy(made->chunk, chunk, size_t(capacity));
      made->capacity = capacity;
    }
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

void jng_decode_alpha8(const cJNG_IDAT& idat, const uint8_t* s, uint8_t* p, const rChannelOrder& o, bool alpha) {
  if (!alpha) return;
  for (int64_t k = 0; k < idat.width; ++k, p += 4) p[o.alpha] = s[k];
}

void jng_decode_alpha1(const cJNG_IDAT& idat, const uint8_t* s, uint8_t* p, const rChannelOrder& o, bool alpha) {
  if (!alpha) return;
  for (int64_t k = 0; k < idat.width; ++k, p += 4) p[o.alpha] = (s[k >> 3] >> (7 - (k & 7))) & 1 ? 255 : 0;
}

bool cJNG_IDAT::LoadRow(rReadState& st, cFlow* flow, int64_t count, uint8_t* destination) {
  return Guard(false, [&] {
    z_stream& z = st.z;
    z.next_out = destination;
    z.avail_out = uInt(count);
    while (z.avail_out > 0) {
      if (z.avail_in == 0) {
        // Whole IDAT chunks, CRC checked, until one has data to feed.
        while (consumed >= filled) {
          const rPNG_ChunkHeader h = read_header(flow, "{f.Read}");
          if (h.Is("IDAT")) {
            load_chunk_data(flow, h, chunk, capacity, filled, consumed, "{f.Read}");
          } else if (h.Is("JDAT")) {
            skip_chunk(flow, h, "{f.Seek}");
          } else {
            raise_png_error(errPNGInvalidChunkType, "{\"" + std::string(h.ch_type, 4) + "\"}");
          }
        }
        z.next_in = chunk + consumed;
        z.avail_in = uInt(filled - consumed);
        consumed = filled;
      }
      const uInt in_before = z.avail_in, out_before = z.avail_out;
      const int rc = inflate(&z, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END)
        raise_error(errZLibCall, &qlm_base_exception_string, png_zlib_text("inflate", z, rc));
      // A stream that ends, or stops moving, while rows are still wanted is
      // short: waiting for more would never end.
      if ((rc == Z_STREAM_END && z.avail_out > 0) || (z.avail_in == in_before && z.avail_out == out_before))
        raise_png_error(errPNGFlowCorrupted, "{zlib stream ended early}");
    }
    return true;
  });
}

bool cJNG_IDAT::LoadChunk(cFlow* flow, uint8_t* buffer, int32_t size, rPNG_ChunkHeader* header) {
  cPNG_Chunk::LoadChunk(flow, buffer, size, header);
  ReleaseBuffers();
  rReadState st;
  std::memset(&st.z, 0, sizeof st.z);
  st.flow = flow;
  bool inflating = false;
  const bool ok = Guard(false, [&] {
    auto* jng = dynamic_cast<cImageJNG*>(mPng);
    if (jng == nullptr || jng->JHDR == nullptr) raise_jng_error(errJNGJHDRNotFound, "{cImageJNG(mPng).JHDR=NIL}");
    const rJNG_Header& jhdr = jng->JHDR->mData;
    if (jhdr.acompr != 0) raise_condition_error(errInvariant, "{cImageJNG(mPng).JHDR.mData.acompr<>0}");
    tJNGAlphaDecoder decode = nullptr;
    if (jhdr.adepth == 1) decode = &jng_decode_alpha1;
    if (jhdr.adepth == 8) decode = &jng_decode_alpha8;
    if (decode == nullptr) raise_jng_error(errJNGInvalidDepth, "{decode=NIL}");
    const int rc = inflateInit(&st.z);
    if (rc != Z_OK) raise_error(errZLibCall, &qlm_base_exception_string, png_zlib_text("inflateInit", st.z, rc));
    inflating = true;
    // The size comes from the bitmap, which was built from the JHDR.
    cBitmap* bitmap = mPng->Bitmap(0);
    rChannelOrder order;
    if (!bitmap_has_order(bitmap, order) || bitmap->Data() == nullptr)
      raise_condition_error(errPreCondition, "{mPng.Bitmap=NIL}");
    width = bitmap->Width();
    height = bitmap->Height();
    bytes_per_pixel = std::max(jhdr.adepth / 8, 1);
    row_bytes = (int64_t(width) * jhdr.adepth + 7) / 8;
    reader_row_length = row_bytes + 1;
    unfilter_length = row_bytes;
    for (uint8_t*& row : reader_rows)
      if (!mem_alloc(row, reader_row_length)) raise_base_error(errNEnoughMem, "{mem_alloc}");
    current_row = 0;
    std::memset(reader_rows[0], 0, size_t(reader_row_length));
    current_row = 1;
    const bool alpha = bitmap->HasAlpha() && bitmap->BytesPerPixel() == 4;
    uint8_t* pixels = bitmap->Data();
    for (int64_t y = 0; y < height; ++y, pixels += bitmap->Stride()) {
      if (mPng->mProgress != nullptr) progress_report(mPng->mProgress, mPng, -99.99, "{cJNG_IDAT.LoadChunk}");
      if (!LoadRow(st, flow, reader_row_length, reader_rows[current_row]))
        raise_png_error(errPNGLoadRow, "{Self.LoadRow}");
      Unfilter();
      decode(*this, reader_rows[current_row] + 1, pixels, order, alpha);
      current_row ^= 1;
    }
    return true;
  });
  if (inflating) inflateEnd(&st.z);
  ReleaseBuffers();
  return ok;
}

bool cJNG_IDAT::SaveChunk(cFlow* flow) {
  ReleaseBuffers();
  rWriteState st;
  std::memset(&st.z, 0, sizeof st.z);
  st.flow = flow;
  bool deflating = false;
  const bool ok = Guard(false, [&] {
    if (flow == nullptr || mPng == nullptr) raise_condition_error(errPreCondition, "{flow=NIL}");
    compressed_capacity = cnJNG_ChunkData;
    if (!mem_alloc(compressed, compressed_capacity)) raise_base_error(errNEnoughMem, "{mem_alloc}");
    st.z.next_out = compressed;
    st.z.avail_out = uInt(compressed_capacity);
    const int rc = deflateInit(&st.z, mPng->mDeflateLevel);
    if (rc != Z_OK) raise_error(errZLibCall, &qlm_base_exception_string, png_zlib_text("deflateInit", st.z, rc));
    deflating = true;
    const cBitmap* bitmap = mPng->mSaveBitmap;
    rChannelOrder order;
    if (!bitmap_has_order(bitmap, order) || bitmap->Data() == nullptr)
      raise_condition_error(errPreCondition, "{mSaveBitmap=NIL}");
    if (!bitmap->HasAlpha() || bitmap->BytesPerPixel() != 4)
      raise_condition_error(errInvariant, "{mPng.mSaveBitmap.PixelGeometry.pixel_format}");
    width = bitmap->Width();
    height = bitmap->Height();
    bytes_per_pixel = 1;
    row_bytes = width;
    writer_row_length = row_bytes;
    if (writer_row_length < 1) raise_condition_error(errInvariant, "{width<1}");
    for (uint8_t*& row : writer_rows) {
      if (!mem_alloc(row, writer_row_length)) raise_base_error(errNEnoughMem, "{mem_alloc}");
      std::memset(row, 0, size_t(writer_row_length));
    }
    rRowProgress progress;
    progress.total = height;
    for (int64_t y = 0; y < height; ++y) {
      const uint8_t* p = bitmap->Data() + y * bitmap->Stride();
      for (int64_t k = 0; k < width; ++k, p += 4) writer_rows[5][k] = p[order.alpha];
      const uint8_t f = ChooseFilter();
      if (!SaveData(st, 1, &f) || !SaveData(st, writer_row_length, writer_rows[f]))
        raise_png_error(errPNGSaveRow, "{Self.SaveData}");
      progress.Step(mPng, 1, "{cJNG_IDAT.SaveChunk}");
    }
    if (!SaveFinish(st)) raise_png_error(errPNGSaveRow, "{Self.SaveFinish}");
    return true;
  });
  if (deflating) deflateEnd(&st.z);
  ReleaseBuffers();
  return ok;
}

// ---------------------------------------------------------------------------
// cImageJNG

cImageJNG::cImageJNG(ProgressCallback progress) : cImagePNG(progress) {}

cImageJNG::~cImageJNG() {
  delete IDAT;
  delete JDAT;
}

bool cImageJNG::Identify(uint32_t id) const { return id == id_cImageJNG || cImagePNG::Identify(id); }

bool cImageJNG::BuildBitmap() {
  return log_and_fail(this, false, [&] {
    if (mCommonImageSpace != nullptr) return true;
    if (JHDR == nullptr) raise_jng_error(errJNGJHDRNotFound, "{JHDR=NIL}");
    const rJNG_Header& h = JHDR->mData;
    if (h.width == 0 || h.height == 0) raise_png_error(errPNGInvalidImageDims, "{dx or dy = 0}");
    const bool alpha = h.ctype == 12 || h.ctype == 14;
    const int32_t kind =
        alpha ? (platform_pixel_format() == px24RGB ? cnBitmap32RGBA : cnBitmap32BGRA) : cnBitmapNative;
    image_check_read_limits(h.width, h.height, kind);
    // Through Create, whose 64-bit size check refuses what cannot be held.
    auto bitmap = std::make_unique<cBitmap>(int32_t(h.width), int32_t(h.height), kind);
    if (mChunks != nullptr && mChunks->tRNS != nullptr) bitmap->SetTransparentColor(mChunks->tRNS->Colour());
    if (mChunks != nullptr && mChunks->bKGD != nullptr && mChunks->bKGD->Colour() != 0)
      bitmap->SetBackground(mChunks->bKGD->Colour());
    if (!bitmap->Create()) raise_base_error(errQLMCall, "{mCommonImageSpace.Create}");
    const uint32_t fill = bitmap->TransparentColor() != rgb_none ? bitmap->TransparentColor() : bitmap->Background();
    if (fill != 0 && fill != 0xFF000000u && !bitmap->Clear(fill, -1)) raise_base_error(errQLMCall, "{Bitmap.Clear}");
    mWidth = mSpaceWidth = h.width;
    mHeight = mSpaceHeight = h.height;
    mCommonImageSpace = bitmap.release();
    mCurrentFrame = 1;
    return true;
  });
}

bool cImageJNG::Open(cFlow* flow) {
  const bool ok = log_and_fail(this, false, [&] {
    if (IsOpened()) raise_condition_error(errInvariant, "{IsOpened}");
    if (flow == nullptr) raise_condition_error(errPreCondition, "{flow=NIL}");
    if (!flow->IsOpened()) raise_condition_error(errPreCondition, "{not flow.IsOpened}");
    JHDR = nullptr;
    if (mChunks != nullptr)
      mChunks->ClearChunks();
    else
      mChunks = new cPNG_Entry();
    mTextBytes = 0;
    static constexpr const char* kDataTypes[] = {"IDAT", "JDAT", "JDAA", "JSEP", nullptr};
    cPNG_ChunkWalker walker(flow, kDataTypes);
    if (!mSkipReadSignature) walker.ReadSignature(cnJNG_Signature, "{jngh<>cnJNG_Signature}");
    progress_report(mProgress, this, 0, "{cImageJNG.Open}");
    bool idat_read = false, jdat_read = false;
    for (;;) {
      const ePNG_Step step = walker.Next();
      rPNG_ChunkHeader h = walker.Header();
      if (h.Is("JHDR") && mChunks->Count() > 0) raise_jng_error(errJNGJHDRNotFirst, "{mChunks.Count>0}");
      // The first IDAT or JDAT: its coder reads from this chunk's header
      // on; reading goes on behind this chunk. Later ones, JDAA and JSEP
      // are skipped.
      const bool colour = h.Is("JDAT");
      bool& first = colour ? jdat_read : idat_read;
      if (step == ePNG_Step::Data && (first || h.Is("JDAA") || h.Is("JSEP"))) {
        walker.Skip();
      } else if (step == ePNG_Step::Data) {
        first = true;
        const int64_t next = flow->Curr() + int64_t(h.dt_size) + 4;
        if (!flow->Seek(flow->Curr() - 8)) raise_base_error(errQLMCall, "{flow.Seek}");
        if (colour)
          JDAT = new cJNG_JDAT(this, h);
        else
          IDAT = new cJNG_IDAT(this, h);
        if (!BuildBitmap()) raise_jng_error(errJNGBuildBitmap, "{BuildBitmap}");
        if (colour) {
          if (!JDAT->LoadChunk(flow, nullptr, 0, &h)) raise_jng_error(errJNGReadingJPEG, "{JDAT.LoadChunk}");
        } else if (!IDAT->LoadChunk(flow, walker.Buffer(), int32_t(walker.BufferSize()), &h)) {
          raise_jng_error(errJNGReadingJPEG, "{IDAT.LoadChunk}");
        }
        if (!flow->Seek(next)) raise_base_error(errQLMCall, "{flow.Seek}");
      } else {
        cPNG_Chunk* object = nullptr;
        if (h.Is("JHDR")) {
          if (JHDR != nullptr) raise_jng_error(errJNGMultipleJHDR, "{JHDR<>NIL}");
          JHDR = new cJNG_JHDR(this, h);
          object = JHDR;
        }
        rPNG_Entry* e = mChunks->AddChunk(h, this, walker.Flags(), {}, object);
        if (e == nullptr) {
          if (object != nullptr) JHDR = nullptr;  // destroyed by AddChunk
          raise_png_error(errPNGInvalidChunkType, "{mChunks.AddChunk}");
        }
        walker.Load(e);
      }
      if (step == ePNG_Step::End) {
        if (mChunks->bKGD != nullptr && mCommonImageSpace != nullptr && mChunks->bKGD->Colour() != 0)
          mCommonImageSpace->SetBackground(mChunks->bKGD->Colour());
        progress_report(mProgress, this, 100, "{cImageJNG.Open}");
        if (!mKeepChunks) {
          delete mChunks;
          mChunks = nullptr;
        }
        return true;
      }
    }
  });
  delete IDAT;
  delete JDAT;
  IDAT = nullptr;
  JDAT = nullptr;
  if (!mKeepChunks || mChunks == nullptr) JHDR = nullptr;
  return ok;
}

bool cImageJNG::SaveFrom(cFlow* flow, cImage* from) {
  const bool ok = log_and_fail(this, false, [&] {
    if (flow == nullptr) raise_condition_error(errPreCondition, "{flow=NIL}");
    if (!flow->IsOpened()) raise_condition_error(errPreCondition, "{not flow.IsOpened}");
    if (from == nullptr) raise_condition_error(errPreCondition, "{from=NIL}");
    if (!from->IsOpened()) raise_condition_error(errPreCondition, "{not from.IsOpened}");
    cBitmap* bitmap = from->Bitmap(0);
    if (bitmap == nullptr) raise_condition_error(errPreCondition, "{from.Bitmap=NIL}");
    if (bitmap->Order() == nullptr) raise_condition_error(errPreCondition, "{from.Bitmap.Order=NIL}");
    mSaveBitmap = bitmap;
    JHDR = nullptr;
    if (mChunks != nullptr)
      mChunks->ClearChunks();
    else
      mChunks = new cPNG_Entry();
    auto add = [&](const char* type, cPNG_Chunk* object) {
      rPNG_ChunkHeader h = header_of(type);
      rPNG_ChunkFlags flags;
      CheckType(h, flags);
      if (mChunks->AddChunk(h, this, flags, type, object) == nullptr)
        raise_png_error(errPNGInvalidChunkType, "{mChunks.AddChunk}");
    };
    // The list owns the objects; the references last for this call.
    auto* jhdr = new cJNG_JHDR(this, header_of("JHDR"));
    add("JHDR", jhdr);
    JHDR = jhdr;
    if (bitmap->HasAlpha() && bitmap->BytesPerPixel() == 4) add("IDAT", new cJNG_IDAT(this, header_of("IDAT")));
    add("JDAT", new cJNG_JDAT(this, header_of("JDAT")));
    progress_report(mProgress, this, 0, "{cImageJNG.SaveFrom}");
    auto write = [&](const void* bytes, int32_t n) {
      if (!flow->Write(bytes, n) || flow->LastIO() != uint32_t(n)) raise_png_error(errPNGFlowWrite, "{flow.Write}");
    };
    write(cnJNG_Signature, 8);
    for (rPNG_Entry* e = mChunks->First(); e != nullptr; e = e->next)
      if (e->cobj != nullptr && !e->cobj->SaveChunk(flow))
        raise_png_error(errPNGSaveChunkFailed, "{entry.cobj.SaveChunk}");
    JHDR = nullptr;
    delete mChunks;
    mChunks = nullptr;
    static constexpr uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    write(kEnd, 12);
    progress_report(mProgress, this, 100, "{cImageJNG.SaveFrom}");
    return true;
  });
  // On failure the list (and the objects it owns) stays until the next
  // Open or SaveFrom clears it; the references go now.
  JHDR = nullptr;
  mSaveBitmap = nullptr;
  return ok;
}

cImagePNG* cImageJNG::CloneTarget(cImage* into, std::unique_ptr<cImagePNG>& made) {
  return CloneTargetOf<cImageJNG>(into, made, "{into is not cImageJNG}");
}

void cImageJNG::AdoptClonedChunks(cPNG_Entry* list) {
  JHDR = nullptr;
  for (rPNG_Entry* e = list->First(); e != nullptr; e = e->next) {
    auto* jhdr = dynamic_cast<cJNG_JHDR*>(e->cobj);
    if (jhdr == nullptr) continue;
    JHDR = jhdr;
    if (jhdr->mAlphaIHDR != nullptr) {
      jhdr->mAlphaIHDR->SetOwner(this);
      list->IHDR = jhdr->mAlphaIHDR;
    }
  }
}

void cImageJNG::CopyCloneSettings(cImagePNG* target) const {
  auto* t = static_cast<cImageJNG*>(target);
  t->mDctMethod = mDctMethod;
  t->mQuality = mQuality;
}
