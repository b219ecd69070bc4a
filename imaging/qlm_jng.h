// The JNG codec: JPEG-compressed colour data in JDAT chunks with an optional
// alpha channel of PNG-filtered, deflated rows in IDAT chunks, all in the
// chunk layout of PNG behind a JHDR chunk.
//
// cImageJNG derives from cImagePNG and keeps its options, chunk list and
// error table. The JHDR object owns a PNG image header describing the alpha
// channel (grey or colour form by the JNG colour type) and registers it as
// the chunk list's IHDR, so bKGD, tRNS, sBIT and gAMA load as in PNG. The
// colour coder (cJNG_JDAT) drives the JPEG library through the routines of
// qlm_jpeg_lib.h over a chunk source and sink; the alpha coder (cJNG_IDAT)
// reuses the PNG data coder's unfilter, filter choice and deflate steps.
//
// Untrusted chunk lengths are checked against the bytes left in the flow
// and the largest chunk accepted before any buffer is sized from them.
#pragma once

#include <cstdint>
#include <memory>

#include "qlm_png.h"

// ---------------------------------------------------------------------------
// Codes of the module (299-305, read with jng_exception_string).
constexpr int32_t errJNGJHDRNotFirst = 299;
constexpr int32_t errJNGMultipleJHDR = 300;
constexpr int32_t errJNGBuildBitmap = 301;
constexpr int32_t errJNGReadingJPEG = 302;
constexpr int32_t errJNGJHDRNotFound = 303;
constexpr int32_t errJNGInvalidCType = 304;
constexpr int32_t errJNGInvalidDepth = 305;

std::unique_ptr<cExceptionString> jng_exception_string(uint32_t code);
[[noreturn]] void raise_jng_error(int32_t code, std::string_view text,
                                  std::source_location loc = std::source_location::current());

inline constexpr uint8_t cnJNG_Signature[8] = {0x8B, 0x4A, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
// The JNG chunk types, four letters each.
inline constexpr char cnJNG_ChunkTypes[] = "JHDRJDATJSEPJDAA";
// Data bytes of every written JDAT and IDAT chunk but the last.
constexpr int32_t cnJNG_ChunkData = 65520;

class cImageJNG;

// The JHDR data as held in memory (width and height in host order).
struct rJNG_Header {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t ctype = 0;
  uint8_t idepth = 0;
  uint8_t icompr = 0;
  uint8_t iinter = 0;
  uint8_t adepth = 0;
  uint8_t acompr = 0;
  uint8_t afilter = 0;
  uint8_t ainter = 0;
};

class cJNG_JHDR : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
  ~cJNG_JHDR() override;
  // The same header and record with its own alpha header; no owner.
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  // Reads the 16 bytes, builds the alpha header and registers it as the
  // owner's list IHDR.
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  // The record of the owner's mSaveBitmap (colour type 14 and alpha depth 8
  // with alpha, else 10 and 0).
  bool SaveChunk(cFlow* flow) override;

  rJNG_Header mData;
  cPNG_IHDR* mAlphaIHDR = nullptr;  // owned; the chunk list only refers to it
};

// The colour coder: the JPEG stream of consecutive JDAT chunks.
class cJNG_JDAT : public cPNG_Chunk {
 public:
  using cPNG_Chunk::cPNG_Chunk;
  ~cJNG_JDAT() override;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  // Decodes the JPEG stream into the owner's current bitmap; the flow stands
  // at the first JDAT chunk's header.
  bool LoadChunk(cFlow* flow, uint8_t* data, int32_t size, rPNG_ChunkHeader* header = nullptr) override;
  // Encodes the owner's mSaveBitmap as JDAT chunks of cnJNG_ChunkData bytes.
  bool SaveChunk(cFlow* flow) override;
  // Up to `count` bytes of the JPEG stream from the JDAT chunks that follow
  // (IDAT and JDAA chunks among them skipped; any other type ends the data,
  // and so does a failure, which is logged once: later calls give nothing).
  bool ReadData(uint8_t* buffer, int32_t count, int32_t& read);
  // Collects bytes, writing a JDAT chunk whenever the buffer is full, and
  // the rest with `flush`.
  bool WriteData(const uint8_t* data, int32_t count, int32_t& written, bool flush);
  bool FlushOut();

  uint8_t* chunk = nullptr;
  int32_t capacity = 0;
  int32_t filled = 0;
  int32_t consumed = 0;
  cFlow* mFlow = nullptr;
  const uint8_t* grey = nullptr;  // the list IHDR's gamma table
  bool ended = false;             // the colour data has ended (reading)
};

// The JPEG library's source and destination managers over a JDAT coder
// (run inside jpeg_call).
struct jpeg_decompress_struct;
struct jpeg_compress_struct;
void jng_jpeg_source(jpeg_decompress_struct* cinfo, cJNG_JDAT* jdat);
void jng_jpeg_dest(jpeg_compress_struct* cinfo, cJNG_JDAT* jdat);

// The alpha coder: a zlib stream of filtered 1- or 8-bit rows in IDAT chunks.
class cJNG_IDAT : public cPNG_IDAT {
 public:
  cJNG_IDAT(cImagePNG* owner, const rPNG_ChunkHeader& header) : cPNG_IDAT(owner, header) {}
  ~cJNG_IDAT() override;
  std::unique_ptr<cPNG_Chunk> Clone() const override;
  // Decodes the alpha rows into the owner's current bitmap (alpha bytes of a
  // 32-bit bitmap only); the flow stands at the first IDAT chunk's header.
  bool LoadChunk(cFlow* flow, uint8_t* buffer, int32_t size, rPNG_ChunkHeader* header) override;
  // Writes the alpha bytes of the owner's mSaveBitmap as 8-bit rows.
  bool SaveChunk(cFlow* flow) override;
  // Inflates exactly `count` bytes, reading whole IDAT chunks (CRC checked)
  // as needed; JDAT chunks are skipped, any other type fails with 301.
  bool LoadRow(rReadState& state, cFlow* flow, int64_t count, uint8_t* destination);
  void ReleaseBuffers();

  uint8_t* chunk = nullptr;
  int32_t capacity = 0;
  int32_t filled = 0;
  int32_t consumed = 0;
  int64_t row_bytes = 0;
};

// Alpha row decoders: the samples of one row into the alpha bytes of the
// bitmap row (nothing without alpha).
using tJNGAlphaDecoder = void (*)(const cJNG_IDAT& idat, const uint8_t* samples, uint8_t* pixels,
                                  const rChannelOrder& order, bool alpha);
void jng_decode_alpha1(const cJNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool);
void jng_decode_alpha8(const cJNG_IDAT&, const uint8_t*, uint8_t*, const rChannelOrder&, bool);

// ---------------------------------------------------------------------------
// The JNG image.

extern uint32_t id_cImageJNG;
// Takes id_cImageJNG (once per process); call after qlm_png_start.
void qlm_jng_start();
void qlm_jng_stop();

class cImageJNG : public cImagePNG {
 public:
  explicit cImageJNG(ProgressCallback progress = nullptr);
  ~cImageJNG() override;
  bool Identify(uint32_t id) const override;

  // Reads a JNG stream from the flow's position.
  bool Open(cFlow* flow) override;
  // Writes from.Bitmap(0): signature, JHDR, alpha IDAT (bitmaps with alpha),
  // JDAT, IEND. The signature is always written.
  bool SaveFrom(cFlow* flow, cImage* from) override;
  // Creates the common bitmap from the JHDR the first time a coder needs it.
  bool BuildBitmap();

  cJNG_JHDR* JHDR = nullptr;  // belongs to the chunk list
  cJNG_IDAT* IDAT = nullptr;  // during one Open or SaveFrom
  cJNG_JDAT* JDAT = nullptr;
  uint8_t mDctMethod = 0;
  int32_t mQuality = 85;

 protected:
  // Clone (cImagePNG's): a cImageJNG target, the JHDR and its alpha IHDR
  // found in the cloned list, the JPEG settings.
  cImagePNG* CloneTarget(cImage* into, std::unique_ptr<cImagePNG>& made) override;
  void AdoptClonedChunks(cPNG_Entry* list) override;
  void CopyCloneSettings(cImagePNG* target) const override;
};
