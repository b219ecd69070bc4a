// The chunk walker of the PNG and JNG readers.
#include "qlm_png_walker.h"

#include <algorithm>
#include <cstring>

#include "qlm_base_flow.h"

void png_check_chunk_length(cFlow* flow, uint32_t length) {
  if (int64_t(length) > flow->Size() - flow->Curr()) raise_png_error(errPNGInvalidChunkSize, "{aloc>flow.Size}");
  if (int64_t(length) > int64_t(cnSafeBlock) * cnPNG_MAXSAFE)
    raise_png_error(errPNGTooBigMemRequirement, "{aloc>cnSafeBlock*cnPNG_MAXSAFE}");
}

void png_read_chunk_data(cFlow* flow, const rPNG_ChunkHeader& h, uint8_t* data, int32_t length, const char* read_text) {
  if (length > 0 && (!flow->Read(data, length) || int64_t(flow->LastIO()) != length))
    raise_png_error(errPNGFlowCorrupted, read_text);
  uint8_t crc[4];
  if (!flow->Read(crc, 4) || flow->LastIO() != 4) raise_png_error(errPNGFlowCorrupted, read_text);
  if (png_get_u32(crc) != png_chunk_crc(h.ch_type, data, length)) raise_png_error(errPNGInvalidCRC, "{lcrc<>ccrc}");
}

cPNG_ChunkWalker::~cPNG_ChunkWalker() { mem_free(mBuffer); }

void cPNG_ChunkWalker::Read(void* into, int64_t n) {
  if (n > 0 && (!mFlow->Read(into, int32_t(n)) || int64_t(mFlow->LastIO()) != n))
    raise_png_error(errPNGFlowCorrupted, "{flow.Read}");
}

void cPNG_ChunkWalker::ReadSignature(const uint8_t (&signature)[8], const char* text) {
  uint8_t read[8];
  Read(read, 8);
  if (std::memcmp(read, signature, 8) != 0) raise_condition_error(errInvariant, text);
}

ePNG_Step cPNG_ChunkWalker::Next() {
  uint8_t head[8];
  Read(head, 8);
  mHeader.dt_size = png_get_u32(head);
  std::memcpy(mHeader.ch_type, head + 4, 4);
  mFlags = rPNG_ChunkFlags{};
  if (!cImagePNG::CheckType(mHeader, mFlags)) raise_png_error(errPNGInvalidChunkType, "{CheckType}");
  for (const char* const* type = mDataTypes; *type != nullptr; ++type)
    if (mHeader.Is(*type)) return ePNG_Step::Data;
  return mHeader.Is("IEND") ? ePNG_Step::End : ePNG_Step::Chunk;
}

void cPNG_ChunkWalker::Skip() {
  if (!mFlow->Seek(mFlow->Curr() + int64_t(mHeader.dt_size) + 4)) raise_base_error(errQLMCall, "{flow.Seek}");
}

void cPNG_ChunkWalker::Reserve(int64_t length) {
  if (length == 0 || (mBuffer != nullptr && mBufferSize >= length)) return;
  png_check_chunk_length(mFlow, uint32_t(length));
  const int64_t size =
      mBuffer == nullptr ? std::max<int64_t>(std::min<int64_t>(mFlow->Size(), cnSafeBlock), length) : length;
  mem_free(mBuffer);
  mBufferSize = 0;
  if (!mem_alloc(mBuffer, size)) raise_base_error(errNEnoughMem, "{mem_alloc}");
  mBufferSize = size;
}

void cPNG_ChunkWalker::EnsureBuffer() {
  if (mBuffer != nullptr) return;
  // No chunk before carried data (only a corrupt stream gets here with a
  // header chunk): one block for the image data.
  const int64_t size = std::max<int64_t>(std::min<int64_t>(mFlow->Size(), cnSafeBlock), 1);
  if (!mem_alloc(mBuffer, size)) raise_base_error(errNEnoughMem, "{mem_alloc}");
  mBufferSize = size;
}

void cPNG_ChunkWalker::Load(rPNG_Entry* entry) {
  if (entry->cobj == nullptr) {
    if (mFlags.ancillary == 0) raise_png_error(errPNGUnknownCriticalChunk, "{not flags.ancillary}");
    Skip();
    return;
  }
  const int64_t length = mHeader.dt_size;
  Reserve(length);
  png_read_chunk_data(mFlow, mHeader, mBuffer, int32_t(length), "{flow.Read}");
  if (!entry->cobj->LoadChunk(mFlow, length > 0 ? mBuffer : nullptr, int32_t(length)))
    raise_png_error(errPNGLoadChunkFailed, "{entry.cobj.LoadChunk}");
}
