// The PNG codec: chunk objects, the image data coder and the PNG image.
//
// A PNG stream is an 8-byte signature followed by chunks (length, type, data,
// CRC-32, numbers big-endian). Every chunk type the codec knows becomes a
// small chunk object (cPNG_Chunk and its kinds) that decodes, keeps and for a
// few kinds writes that chunk; cPNG_IDAT decodes the image data straight into
// the image's bitmap. Chunk objects are plain polymorphic records, not
// framework objects: their failures are logged on the owner image.
//
// Untrusted sizes are computed in 64 bits; text chunks inflate to at most
// cnPNGTextLimit bytes each and cnPNGImageTextLimit per image (beyond, the
// keyword stays and the text is dropped with a warning row).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qlm_base_array.h"
#include "qlm_base_codes.h"
#include "qlm_image.h"
#include "qlm_progress.h"

class cFlow;
class cImagePNG;
struct z_stream_s;

// ---------------------------------------------------------------------------
// Codes of the module (299-321) and its message function.
constexpr int32_t errPNGFlowCorrupted = 299;
constexpr int32_t errPNGFlowWrite = 300;
constexpr int32_t errPNGInvalidChunkType = 301;
constexpr int32_t errPNGInvalidImageDims = 302;
constexpr int32_t errPNGIHDRNotFirst = 303;
constexpr int32_t errPNGNonConsecutiveIDAT = 304;
constexpr int32_t errPNGMissingNextIDAT = 305;
constexpr int32_t errPNGIHDRNotFound = 306;
constexpr int32_t errPNGInvalidChunkSize = 307;
constexpr int32_t errPNGLoadChunkFailed = 308;
constexpr int32_t errPNGSaveChunkFailed = 309;
constexpr int32_t errPNGUnknownCriticalChunk = 310;
constexpr int32_t errPNGInvalidCRC = 311;
constexpr int32_t errPNGLoadNonInterlaced = 312;
constexpr int32_t errPNGLoadAdam7Interlaced = 313;
constexpr int32_t errPNGLoadRow = 314;
constexpr int32_t errPNGSaveRow = 315;
constexpr int32_t errPNGSaveIDAT = 316;
constexpr int32_t errPNGTooBigMemRequirement = 317;
constexpr int32_t errPNGInvalidCTypeDepth = 318;
constexpr int32_t errPNGFailedCreatingAlpha = 319;
constexpr int32_t errPNGPaletteChunkNF = 320;
constexpr int32_t errPNGInvalidPaletteTrans = 321;

std::unique_ptr<cExceptionString> png_exception_string(uint32_t code);
// Raises a code of the module with its message function.
[[noreturn]] void raise_png_error(int32_t code, std::string_view text,
                                  std::source_location loc = std::source_location::current());

// ---------------------------------------------------------------------------
// Constants.
inline constexpr uint8_t cnPNG_Signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr int32_t cnSafeBlock = 65520;
constexpr int32_t cnPNG_MAXSAFE = 10;
// Colour types.
constexpr uint8_t cnCM_Grey = 0;
constexpr uint8_t cnCM_RGB = 2;
constexpr uint8_t cnCM_Palette = 3;
constexpr uint8_t cnCM_GreyAlpha = 4;
constexpr uint8_t cnCM_RGBA = 6;
// Most bytes one text chunk inflates to, and all text chunks of one image.
constexpr int64_t cnPNGTextLimit = int64_t(8) << 20;
constexpr int64_t cnPNGImageTextLimit = int64_t(32) << 20;
// Longest keyword, language tag or translated keyword kept.
constexpr size_t cnPNGKeywordLength = 79;

// ---------------------------------------------------------------------------
// Helpers.

// Big-endian numbers.
constexpr uint32_t png_get_u32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
constexpr uint16_t png_get_u16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline void png_put_u32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline void png_put_u16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

// Data bytes of one image row without its filter byte, in 64 bits (0 for an
// unknown colour type or a width below 1).
int64_t png_row_bytes(int64_t width, uint8_t color_type, uint8_t bit_depth);
// The filter distance: bytes of one pixel, at least 1 for sub-byte depths.
int32_t png_pixel_bytes(uint8_t color_type, uint8_t bit_depth);
// The Paeth predictor: the one of left, above, upper left nearest to
// left + above - upper left; ties go to left, then above.
uint8_t png_paeth(uint8_t left, uint8_t above, uint8_t upper_left);
// The standard CRC-32 of the type letters followed by the data.
uint32_t png_chunk_crc(const char type[4], const void* data, int32_t size);

// ---------------------------------------------------------------------------
// Chunk objects.

// The header as held in memory: the data length in host order and the four
// type letters as in the stream.
struct rPNG_ChunkHeader {
  uint32_t dt_size = 0;
  char ch_type[4] = {};
  bool Is(const char* type) const;
};

// Property bits of a chunk type (bit 5 of each letter): 0 or 32.
struct rPNG_ChunkFlags {
  uint8_t ancillary = 0;
  uint8_t private_use = 0;
  uint8_t reserved = 0;
  uint8_t safe_to_copy = 0;
};

class cPNG_Chunk {
 public:
  cPNG_Chunk(cImagePNG* owner, const rPNG_ChunkHeader& header) : mPng(owner), mHdr(header) {}
  virtual ~cPNG_Chunk() = default;
  cPNG_Chunk(const cPNG_Chunk&) = delete;
  cPNG_Chunk& operator=(const cPNG_Chunk&) = delete;

  // A new object of the same kind with the decoded fields, no owner and no
  // data; nil when memory fails. Header-only kinds clone into a plain chunk.
  virtual std::unique_ptr<cPNG_Chunk> Clone() const;
  // Decodes the chunk's data (`data`, `size` bytes; not kept beyond the
  // call). `header` is only used by the image data chunk. Failures are logged
  // on the owner and answer false.
  virtual bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr);
  // Writes the chunk; the base writes nothing.
  virtual bool SaveChunk(cFlow* flow);
  // Copies `count` bytes from the data at the read position; false, with
  // nothing copied, when fewer remain (or none).
  bool Read(void* buffer, int32_t count);

  cImagePNG* Owner() const { return mPng; }
  void SetOwner(cImagePNG* owner) { mPng = owner; }
  const rPNG_ChunkHeader& Header() const { return mHdr; }

 protected:
  // Base part of LoadChunk.
  void Attach(uint8_t* data, int32_t size);
  // Read, or 299 "{inherited.Read}".
  void ReadOrFail(void* buffer, int32_t count);
  // Logs the current exception on the owner.
  void LogOnOwner(std::source_location loc = std::source_location::current()) const;
  // Runs `body` (which raises) and logs a failure on the owner.
  template <typename R, typename F>
  R Guard(R failure, F&& body, std::source_location loc = std::source_location::current()) const {
    try {
      return body();
    } catch (...) {
      LogOnOwner(loc);
      return failure;
    }
  }
  // The owner's IHDR object, or 306 "{mPng.mChunks.IHDR=NIL}".
  class cPNG_IHDR& Ihdr() const;
  // Writes header, data and CRC (300 "{f.Write}" on a short write).
  void WriteChunk(cFlow* flow, const uint8_t* data, int32_t size);

  cImagePNG* mPng = nullptr;
  rPNG_ChunkHeader mHdr;
  uint8_t* mChunkData = nullptr;
  int32_t mPos = 0;
  int32_t mSize = 0;
};

class cPNG_IHDR : public cPNG_Chunk {
 public:
  cPNG_IHDR(cImagePNG* owner, const rPNG_ChunkHeader& header);
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  // The header of the owner's mSaveBitmap: 8-bit RGB, or RGBA for bitmaps with alpha.
  bool SaveChunk(cFlow* flow) override;
  // Row bytes from width, colour type and depth; the grey palette of 1-, 2-
  // and 4-bit greyscale images.
  void Prepare();

  int32_t width = 0;
  int32_t height = 0;
  uint8_t bit_depth = 0;
  uint8_t color_type = 0;
  uint8_t compression_method = 0;
  uint8_t filter_method = 0;
  uint8_t interlace_method = 0;
  int64_t row_bytes = 0;
  uint8_t gamma[256] = {};
  int32_t grey_count = 256;
  uint8_t grey[256][3] = {};

 private:
  void CopyFrom(const cPNG_IHDR& other);
};

class cPNG_PLTE : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  int32_t count = 0;
  uint8_t palette[256][3] = {};
};

class cPNG_tRNS : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  // A tRNS for the owner's 24-bit mSaveBitmap and its transparent colour.
  bool SaveChunk(cFlow* flow) override;
  // The transparent colour of a grey or RGB image's key, or 0. A palette
  // image's tRNS defines no colour: its alpha_count entries take their own
  // alpha, the entries beyond are opaque.
  uint32_t Colour() const;

  uint8_t color_type = 255;
  uint8_t grey_sample[2] = {};
  uint8_t red[2] = {};
  uint8_t green[2] = {};
  uint8_t blue[2] = {};
  uint8_t alpha[256] = {};
  int32_t alpha_count = 0;
};

class cPNG_cHRM : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  uint32_t white_x = 0, white_y = 0, red_x = 0, red_y = 0, green_x = 0, green_y = 0, blue_x = 0, blue_y = 0;
};

class cPNG_gAMA : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  uint32_t gamma = 1;
  uint8_t* table = nullptr;  // the IHDR's gamma table it filled
};

class cPNG_sBIT : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  uint8_t color_type = 255;
  uint8_t grey = 0, red = 0, green = 0, blue = 0, alpha = 0;
};

// tEXt: keyword and text (an owned block, not terminated).
class cPNG_tEXt : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
  ~cPNG_tEXt() override;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  std::string keyword;
  uint8_t* text = nullptr;
  int32_t text_size = 0;

 protected:
  // The bytes up to a NUL (consumed) or the data's end, the first 79 kept.
  std::string ReadField();
  // Copies the rest of the data into the text block.
  void CopyRest();
  // Inflates the rest of the data into the text block within the limits; a
  // text over them is dropped with a warning row.
  void InflateRest();
  bool CopyTextTo(cPNG_tEXt& target) const;
};

class cPNG_zTXt : public cPNG_tEXt {
 public:
  using cPNG_tEXt::cPNG_tEXt;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  uint8_t compression_method = 0;
};

class cPNG_iTXt : public cPNG_tEXt {
 public:
  using cPNG_tEXt::cPNG_tEXt;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  uint8_t compression_flag = 0;
  uint8_t compression_method = 0;
  std::string language;
  std::string translated_keyword;
};

class cPNG_bKGD : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  // The background colour the chunk defines (with the owner's overrides), or 0.
  uint32_t Colour() const;
  uint8_t color_type = 255;
  uint8_t grey_sample[2] = {};
  uint8_t red[2] = {};
  uint8_t green[2] = {};
  uint8_t blue[2] = {};
  uint8_t palette_index = 0;
};

class cPNG_pHYs : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  uint32_t x = 0, y = 0;
  uint8_t unit = 0;
};

class cPNG_tIME : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  // The local date and time now.
  bool SaveChunk(cFlow* flow) override;
  uint16_t year = 0;
  uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Kinds that keep only their header.
class cPNG_iCCP : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
};
class cPNG_sRGB : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
};
class cPNG_hIST : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
};
class cPNG_sPLT : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
};

// ---------------------------------------------------------------------------
// The image data chunk. While it decodes, mChunkData and mSize are the
// reader's buffer and its capacity.

class cPNG_IDAT : public cPNG_Chunk {
 public:
  cPNG_IDAT(cImagePNG* owner, const rPNG_ChunkHeader& header) : cPNG_Chunk(owner, header) {}
  ~cPNG_IDAT() override;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  // Decodes the whole image into the owner's current bitmap. The flow stands
  // behind the first IDAT header (`header`, which is overwritten by each
  // following IDAT header); on return it stands behind the CRC of the last
  // IDAT chunk read.
  bool LoadChunk(cFlow* flow, uint8_t* buffer, int32_t capacity, rPNG_ChunkHeader* header) override;

  // Writes the owner's mSaveBitmap (8-bit RGB, or RGBA with alpha) as IDAT
  // chunks of cnSafeBlock bytes of compressed data, the last one shorter.
  bool SaveChunk(cFlow* flow) override;

  // Decoding steps (they raise to LoadChunk).
  struct rReadState;
  bool LoadNI(rReadState& state);
  bool LoadA7(rReadState& state);
  // Inflates exactly `count` bytes into `destination`, moving on to the
  // following IDAT chunks as needed.
  bool LoadRow(rReadState& state, int64_t count, uint8_t* destination);
  // Reverses the filter of the current reader row in place.
  void Unfilter();
  void ReleaseBuffers();
  // Encoding steps (they raise to SaveChunk).
  struct rWriteState;
  // The filter type for the raw writer row: the candidate whose bytes most
  // often repeat one of the two before (ties keep the lower type); 0 with
  // the owner's mNoFilter.
  uint8_t ChooseFilter();
  bool SaveData(rWriteState& state, int64_t count, const uint8_t* data);
  bool SaveFinish(rWriteState& state);
  bool SaveIDAT(cFlow* flow, const uint8_t* data, int32_t count);

  // Decoding state, public for the row decoders.
  int32_t bit_depth = 0;
  int32_t width = 0;
  int32_t height = 0;
  uint8_t* reader_rows[2] = {};
  int64_t reader_row_length = 0;
  uint8_t current_row = 1;
  int32_t bytes_per_pixel = 0;
  int64_t unfilter_length = 0;
  double last_percent = -1;
  double current_percent = 0;
  int64_t progress_total = 0;
  int64_t progress_count = 0;
  const uint8_t* gamma = nullptr;
  bool gamma_identity = false;  // the table maps every value to itself
  const uint8_t (*palette)[3] = nullptr;
  bool alpha = false;  // the bitmap has an alpha channel
  uint8_t background[3] = {};
  const uint8_t* alpha_table = nullptr;
  int32_t alpha_count = 0;
  // The tRNS key of a grey (key[0]) or RGB image at full depth, and the
  // owner's bits, one per pixel in row order, set where a pixel's raw samples
  // equal it; nil without a key.
  uint16_t key[3] = {};
  uint8_t* key_bits = nullptr;
  // Writing: the compressed buffer, the candidate rows of filter types 0-4
  // and the raw row (index 5).
  uint8_t* compressed = nullptr;
  int32_t compressed_capacity = cnSafeBlock;
  uint8_t* writer_rows[6] = {};
  int64_t writer_row_length = 0;

 private:
  void Progress(const char* text);
};

// Row encoders: the bitmap row's pixels into 8-bit RGB or RGBA samples.
using tPNGEncoder = void (*)(const cPNG_IDAT& idat, const uint8_t* pixels, uint8_t* samples, const rChannelOrder& order,
                             bool alpha);
void png_encode_rgb8(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool);
void png_encode_rgba8(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool);

// Row decoders: the samples of one (pass) row into bitmap pixels, through the
// gamma table T and the palette; alpha only when the bitmap has alpha. The
// Adam7 forms write pixel k of pass `pass` (1..7) to column
// first column + k x column step.
using tPNGDecoder = void (*)(const cPNG_IDAT& idat, const uint8_t* samples, uint8_t* pixels, const rChannelOrder& order,
                             bool alpha);
using tPNGDecoderA7 = void (*)(const cPNG_IDAT& idat, const uint8_t* samples, uint8_t* pixels,
                               const rChannelOrder& order, bool alpha, int32_t pass);
void png_decode_indexed(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool);
void png_decode_grey16(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool);
void png_decode_rgb8(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool);
void png_decode_rgb16(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool);
void png_decode_greyalpha8(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool);
void png_decode_greyalpha16(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool);
void png_decode_rgba8(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool);
void png_decode_rgba16(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool);
void png_decode_indexed_a7(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool, int32_t);
void png_decode_grey16_a7(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool, int32_t);
void png_decode_rgb8_a7(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool, int32_t);
void png_decode_rgb16_a7(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool, int32_t);
void png_decode_greyalpha8_a7(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool, int32_t);
void png_decode_greyalpha16_a7(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool, int32_t);
void png_decode_rgba8_a7(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool, int32_t);
void png_decode_rgba16_a7(const cPNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool, int32_t);
// The decoders for a colour type and depth; nil when the pair is not valid.
tPNGDecoder png_decoder(uint8_t color_type, uint8_t bit_depth);
tPNGDecoderA7 png_decoder_a7(uint8_t color_type, uint8_t bit_depth);

// Blends the colours of one (pass) row toward the IDAT's background:
// g + floor((c - g) x a / 256), a the pixel's alpha (255 without alpha).
void png_blend_background(const cPNG_IDAT& idat, uint8_t* pixels, const rChannelOrder& order, bool alpha);
void png_blend_background_a7(const cPNG_IDAT& idat, uint8_t* pixels, const rChannelOrder& order, bool alpha,
                             int32_t pass);

// The Adam7 passes (1..7): first row, first column, row step, column step.
struct rPNGPass {
  int32_t first_row, first_column, row_step, column_step;
};
inline constexpr rPNGPass cnPNGPasses[7] = {{0, 0, 8, 8}, {0, 4, 8, 8}, {4, 0, 8, 4}, {0, 2, 4, 4},
                                            {2, 0, 4, 2}, {0, 1, 2, 2}, {1, 0, 2, 1}};
// Pixels of a pass row of an image `width` wide.
int64_t png_pass_width(int64_t width, int32_t pass);

// ---------------------------------------------------------------------------
// The chunk list: owns one chunk object per entry (nil for a type the codec
// does not know) and keeps one reference for each single-instance kind.

struct rPNG_Entry {
  rPNG_Entry* next = nullptr;
  cPNG_Chunk* cobj = nullptr;
  rPNG_ChunkFlags flags;
};

class cPNG_Entry : public cArrayOf<rPNG_Entry, 1> {
 public:
  cPNG_Entry() : cArrayOf<rPNG_Entry, 1>(5) {}
  ~cPNG_Entry() override { Clear(); }

  // Creates the chunk object for the header's type (the name, when it has 4
  // letters, replaces the type) or adopts `object` for other types, and
  // appends an entry. Nil when a single-instance kind repeats (the new object
  // is destroyed) or the list cannot grow.
  rPNG_Entry* AddChunk(rPNG_ChunkHeader header, cImagePNG* owner, const rPNG_ChunkFlags& flags,
                       std::string_view name = {}, cPNG_Chunk* object = nullptr);
  // Removes every entry and clears the references.
  void ClearChunks();
  // A new list of cloned chunk objects (without owner) with its references
  // set by the objects' types; nil on failure.
  cPNG_Entry* CloneList();

  void FinalizeEntries(void* first, uint32_t n) override;
  bool CopyEntries(const void* source, void* target, uint32_t n) override;

  cPNG_IHDR* IHDR = nullptr;
  cPNG_PLTE* PLTE = nullptr;
  cPNG_Chunk* IEND = nullptr;
  cPNG_tRNS* tRNS = nullptr;
  cPNG_cHRM* cHRM = nullptr;
  cPNG_gAMA* gAMA = nullptr;
  cPNG_iCCP* iCCP = nullptr;
  cPNG_sBIT* sBIT = nullptr;
  cPNG_sRGB* sRGB = nullptr;
  cPNG_bKGD* bKGD = nullptr;
  cPNG_hIST* hIST = nullptr;
  cPNG_pHYs* pHYs = nullptr;
  cPNG_tIME* tIME = nullptr;

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cPNG_Entry(); }
};

// ---------------------------------------------------------------------------
// The PNG image. Options are public fields, set between construction and
// Open or SaveFrom.

extern uint32_t id_cImagePNG;
// Takes id_cImagePNG (once per process); call after qlm_bitmap_start.
void qlm_png_start();
void qlm_png_stop();

// The clock the tIME writer reads (tests set a fixed one).
using tPNGClock = void (*)(rDate& date, rTime& time);

class cImagePNG : public cImage {
 public:
  explicit cImagePNG(ProgressCallback progress = nullptr);
  ~cImagePNG() override;
  bool Identify(uint32_t id) const override;

  // A copy with its own chunk list (when chunks were kept) and the options.
  cImage* Clone(bool deep, cImage* into = nullptr) override;
  // Reads a PNG stream from the flow's position into the common bitmap.
  bool Open(cFlow* flow) override;
  // Writes from.Bitmap(0) as a PNG stream.
  bool SaveFrom(cFlow* flow, cImage* from) override;
  // The type letters must be ASCII letters; flags get their bit 5.
  static bool CheckType(const rPNG_ChunkHeader& header, rPNG_ChunkFlags& flags);

  cPNG_Entry* mChunks = nullptr;
  ProgressCallback mProgress = nullptr;
  bool mSkipReadSignature = false;
  bool mKeepChunks = false;
  bool mBlendOnBackground = true;
  bool mSkipWriteSignature = false;
  bool mNoFilter = false;
  int32_t mDeflateLevel = 1;
  int32_t mBackgroundRed = 0;
  int32_t mBackgroundGreen = 0;
  int32_t mBackgroundBlue = 0;
  cPNG_PLTE* mFallbackPLTE = nullptr;
  cPNG_tRNS* mFallbackTRNS = nullptr;
  cBitmap* mSaveBitmap = nullptr;
  // Inflated text bytes of the image so far (against cnPNGImageTextLimit).
  int64_t mTextBytes = 0;
  tPNGClock mClock = &datetime_now;

 protected:
  // Clone's steps of the cloning class: the target (`into`, or a new image
  // kept in `made`), refused with 279 when it is not of that class; the
  // target taking over the cloned chunk list once every chunk is its own;
  // the class's own settings.
  virtual cImagePNG* CloneTarget(cImage* into, std::unique_ptr<cImagePNG>& made);
  // CloneTarget for the class `Image`: `into` when it is one (279 with
  // `refusal` otherwise), else a new one kept in `made`.
  template <class Image>
  cImagePNG* CloneTargetOf(cImage* into, std::unique_ptr<cImagePNG>& made, std::string_view refusal) const {
    if (into == nullptr) {
      made = std::make_unique<Image>(mProgress);
      return made.get();
    }
    auto* t = dynamic_cast<Image*>(into);
    if (t == nullptr) raise_condition_error(errPreCondition, refusal);
    return t;
  }
  virtual void AdoptClonedChunks(cPNG_Entry*) {}
  virtual void CopyCloneSettings(cImagePNG*) const {}

 private:
  // Creates the bitmap for the first IDAT chunk and decodes the image data.
  void ReadImageData(cFlow* flow, rPNG_ChunkHeader& header, const rPNG_ChunkFlags& flags, uint8_t* buffer,
                     int32_t buffer_size);
  // The pixels whose raw samples match a grey or RGB image's tRNS key (see
  // cPNG_IDAT::key_bits), from the image data to IEND, where they become
  // transparent.
  std::vector<uint8_t> mKeyBits;
};
