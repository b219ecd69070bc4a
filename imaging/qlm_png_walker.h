// Walking the chunks of a PNG or JNG stream: one reader for both images, so
// that every header is checked the same way before it is used.
#pragma once

#include <cstdint>

#include "qlm_png.h"

// A chunk's data length checked before a buffer is sized from it: no more
// than the flow still holds, no more than the largest chunk the readers
// accept (errPNGInvalidChunkSize, errPNGTooBigMemRequirement).
void png_check_chunk_length(cFlow* flow, uint32_t length);

// Reads a chunk's `length` bytes of data into `data` and its CRC, and
// compares the CRC (errPNGFlowCorrupted `read_text` on a short read,
// errPNGInvalidCRC on a mismatch).
void png_read_chunk_data(cFlow* flow, const rPNG_ChunkHeader& h, uint8_t* data, int32_t length, const char* read_text);

// What the walker found at the next chunk.
enum class ePNG_Step : uint8_t {
  Chunk,  // a chunk for the chunk list: Load it (or skip it)
  Data,   // one of the caller's image-data chunks: the caller reads it
  End,    // IEND: Load it, then the stream is over
};

// Reads a stream chunk by chunk, only forward, from the flow's position.
// Every header is checked before it is used (its type letters; a length
// before any buffer is sized from it), and every step answers what stands
// there. Failures are raised as the PNG reader's errors.
class cPNG_ChunkWalker {
 public:
  // `data_types`: the image-data chunk types the caller reads itself,
  // nil-terminated.
  cPNG_ChunkWalker(cFlow* flow, const char* const* data_types) : mFlow(flow), mDataTypes(data_types) {}
  ~cPNG_ChunkWalker();
  cPNG_ChunkWalker(const cPNG_ChunkWalker&) = delete;
  cPNG_ChunkWalker& operator=(const cPNG_ChunkWalker&) = delete;

  // Reads the 8-byte signature; another one raises errInvariant `text`.
  void ReadSignature(const uint8_t (&signature)[8], const char* text);
  // Reads the next chunk header and checks its type letters.
  ePNG_Step Next();
  const rPNG_ChunkHeader& Header() const { return mHeader; }
  const rPNG_ChunkFlags& Flags() const { return mFlags; }
  // Loads the current chunk into its list entry: a known chunk's data is
  // read into the walker's buffer, its CRC compared and handed to the chunk
  // object; an unknown chunk is skipped when ancillary and refused when
  // critical.
  void Load(rPNG_Entry* entry);
  // Moves past the current chunk's data and CRC.
  void Skip();
  // The buffer the chunks were read into (nil before any had data), made
  // when there is none yet, for the image data.
  uint8_t* Buffer() const { return mBuffer; }
  int64_t BufferSize() const { return mBufferSize; }
  void EnsureBuffer();

 private:
  void Read(void* into, int64_t n);
  // Sized from the chunk's checked length; the first block at least the
  // flow's size up to cnSafeBlock.
  void Reserve(int64_t length);

  cFlow* mFlow;
  const char* const* mDataTypes;
  rPNG_ChunkHeader mHeader;
  rPNG_ChunkFlags mFlags;
  uint8_t* mBuffer = nullptr;
  int64_t mBufferSize = 0;
};
