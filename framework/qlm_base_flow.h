// Flows: the framework's byte streams. A flow is a sized, seekable sequence
// of bytes with 64-bit sizes and offsets that may also grow, shrink, and take
// bytes in or out of its middle.
//
// `cFlow` defines the interface and behaves as an always-open, empty flow
// that reads and writes nothing. `cMemoryFlow` keeps its bytes in a list of
// chunks (`cMemoryFlowChunk`); `cWriteFlow` is a memory flow for building
// text that counts what was written through it.
//
// Flows never raise to their callers (only `cWriteFlow::WriteLine` does):
// every public operation runs through log-and-fail, so a failure appends a
// row to the flow's exception log and the operation answers false, nil or -1.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "qlm_base_array.h"
#include "qlm_base_object.h"

// The size that `Size` answers on failure.
constexpr int64_t cnUndefinedValue = -1;
// Default allocation step of a memory flow's chunks.
constexpr int64_t cnMemoryFlowChunkSize = 6552;
// Largest piece that CopyFrom and CopyTo move at once.
constexpr int32_t cnFlowCopyBuffer = 65520;

// Little-endian 32-bit encoding of counts and sizes inside flows.
inline void put_le32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline uint32_t get_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// ---------------------------------------------------------------------------
// cFlow: the interface, with the behaviour of an always-open empty flow.
// Sizes, offsets and positions are signed 64-bit; byte counts of Read, Write,
// Insert, Delete, Crop, CopyFrom and CopyTo are signed 32-bit.

class cFlow : public cException {
 public:
  cFlow() = default;
  bool Identify(uint32_t id) const override;

  // A new flow of the same kind and state, or nil.
  virtual std::unique_ptr<cFlow> Clone() { return nullptr; }
  virtual bool Open() { return true; }
  virtual bool OpenAppend() { return true; }
  virtual bool Create() { return true; }
  virtual bool Close() { return true; }
  // The size; cnUndefinedValue on failure.
  virtual int64_t Size() { return 0; }
  virtual int64_t Curr() { return 0; }
  virtual bool Eof() { return true; }
  virtual bool Seek(int64_t offset) { return offset == 0; }
  virtual bool IsOpened() { return true; }
  virtual bool IsReadable() { return false; }
  virtual bool IsWritable() { return false; }
  // The flow may change its size.
  virtual bool IsScalable() { return false; }
  virtual bool Read(void* /*buffer*/, int32_t /*n*/) { return false; }
  virtual bool Write(const void* /*buffer*/, int32_t /*n*/) { return false; }
  // Inserts n zero bytes before the offset.
  virtual bool Insert(int32_t /*n*/, int64_t /*offset*/) { return false; }
  // Removes n bytes from the offset on.
  virtual bool Delete(int32_t /*n*/, int64_t /*offset*/) { return false; }
  // Drops the last n bytes.
  virtual bool Crop(int32_t /*n*/) { return false; }
  virtual bool SetSize(int64_t /*size*/) { return false; }
  // Copies n bytes from the source's position to this flow's position.
  virtual bool CopyFrom(cFlow* /*source*/, int32_t /*n*/) { return false; }
  // Copies n bytes from this flow's position to the target's position.
  virtual bool CopyTo(cFlow* /*target*/, int32_t /*n*/) { return false; }
  // Bytes moved by the last transfer (low 32 bits); 0 while undefined.
  virtual uint32_t LastIO() { return 0; }
};

// ---------------------------------------------------------------------------
// cMemoryFlowChunk: the chunk list of a memory flow. Each entry owns a data
// block of `allocated` bytes of which the first `used` belong to the flow;
// the bytes between used and allocated are zero. The flow's bytes are the
// used bytes of the chunks in list order.

struct rMemoryFlowChunk {
  rMemoryFlowChunk* next = nullptr;
  uint8_t* block = nullptr;
  int32_t allocated = 0;
  int32_t used = 0;
};

class cMemoryFlowChunk : public cArray {
 public:
  cMemoryFlowChunk();
  ~cMemoryFlowChunk() override;

  rMemoryFlowChunk* FirstChunk() const { return static_cast<rMemoryFlowChunk*>(First()); }
  rMemoryFlowChunk* LastChunk() const { return static_cast<rMemoryFlowChunk*>(Last()); }

 protected:
  // Frees each chunk's block.
  void FinalizeEntries(void* first, uint32_t n) override;
  // Gives each target chunk a new block of the source's allocated size
  // holding a copy of the used bytes.
  bool CopyEntries(const void* source, void* target, uint32_t n) override;
  // Per chunk: allocated (4 bytes LE), used (4 bytes LE), the used bytes.
  bool WriteEntries(const void* first, uint32_t n, cFlow* flow) override;
  // Reads what WriteEntries writes; refuses sizes outside
  // 0 <= used <= allocated <= INT32_MAX, and gives each chunk a block of
  // exactly the stored allocated size.
  bool ReadEntries(void* first, uint32_t n, cFlow* flow) override;
  // Clones without a target are chunk lists too.
  cArray* NewEmpty() const override;
};

// ---------------------------------------------------------------------------
// cMemoryFlow: a flow whose bytes live in memory. Construction leaves it
// closed; Open, OpenAppend and Create lay out the initial size (Open and
// OpenAppend copy the caller's data into the first chunk); Close frees the
// chunks.

class cMemoryFlow : public cFlow {
 public:
  // No data, no initial size, no maximum, chunk size 6,552, scalable.
  static std::unique_ptr<cMemoryFlow> Construct();
  // Initial size = size when positive (then the first `size` bytes of data
  // are copied at Open), else 0; chunk size 6,552.
  static std::unique_ptr<cMemoryFlow> ConstructOnData(const void* data, int64_t size);
  // As ConstructOnData; with `fixed` the flow may overwrite but never change
  // its size, and its chunk size is 0 (exactly what is needed).
  static std::unique_ptr<cMemoryFlow> ConstructReadOnly(bool fixed, int64_t size, const void* data);
  // The same with the arguments in (flag, data, size) order.
  static std::unique_ptr<cMemoryFlow> ConstructReadOnly(bool fixed, const void* data, int64_t size);
  // maximum 0 or less: no limit; an initial size above the maximum is cut to
  // it; chunk size 0 or less: 6,552.
  static std::unique_ptr<cMemoryFlow> ConstructSized(const void* data, int64_t initial_size, int64_t maximum,
                                                     int64_t chunk_size);
  ~cMemoryFlow() override;

  bool Identify(uint32_t id) const override;

  std::unique_ptr<cFlow> Clone() override;
  bool Open() override;
  bool OpenAppend() override;
  bool Create() override;
  bool Close() override;
  int64_t Size() override;
  int64_t Curr() override { return mOffset; }
  bool Eof() override;
  bool Seek(int64_t offset) override;
  bool IsOpened() override { return mChunks != nullptr; }
  bool IsReadable() override { return true; }
  bool IsWritable() override { return true; }
  bool IsScalable() override { return !mReadOnly; }
  bool Read(void* buffer, int32_t n) override;
  bool Write(const void* buffer, int32_t n) override;
  bool Insert(int32_t n, int64_t offset) override;
  bool Delete(int32_t n, int64_t offset) override;
  bool Crop(int32_t n) override;
  bool SetSize(int64_t size) override;
  bool CopyFrom(cFlow* source, int32_t n) override;
  bool CopyTo(cFlow* target, int32_t n) override;
  uint32_t LastIO() override;

  // The chunk list (nil while closed); for tests and diagnostics.
  const cMemoryFlowChunk* Chunks() const { return mChunks; }

 protected:
  cMemoryFlow() = default;
  void InitSized(const void* data, int64_t initial_size, int64_t maximum, int64_t chunk_size);
  void InitReadOnly(bool fixed, int64_t size, const void* data);

 private:
  // The shared part of Open, OpenAppend and Create.
  void LayOut(bool copy_data);
  // Bytes to allocate for a new chunk that must hold r bytes.
  int32_t ChunkAllocation(int64_t r) const;
  // A chunk list holding one chunk of `allocated` bytes; nil chunk when
  // allocated is 0.
  cMemoryFlowChunk* NewSingleChunkList(int64_t allocated, rMemoryFlowChunk*& chunk);
  // The chunk whose used range contains `offset`, and the offset of its
  // first byte; nil when none does.
  rMemoryFlowChunk* ChunkAt(int64_t offset, int64_t& chunk_start) const;
  // Replaces the chunks by one chunk holding the bytes before `offset`,
  // `insert` zero bytes, and the bytes from offset + `remove` on.
  void Rebuild(int64_t size, int64_t offset, int32_t insert, int32_t remove);
  void DestroyChunks();

  const void* mData = nullptr;
  bool mReadOnly = false;
  cMemoryFlowChunk* mChunks = nullptr;
  int64_t mSize = 0;
  int64_t mMaximum = 0;
  int64_t mChunkSize = cnMemoryFlowChunkSize;
  int64_t mOffset = 0;
  int64_t mLastIO = -1;
};

// ---------------------------------------------------------------------------
// cWriteFlow: a memory flow for building text. After Create it holds 1,024
// zero bytes; callers write from position 0 and copy Written bytes, never
// Size, to the destination.

class cWriteFlow : public cMemoryFlow {
 public:
  // ConstructSized(nil, 1024, 0, 1024).
  static std::unique_ptr<cWriteFlow> Construct();
  // ConstructReadOnly(fixed, size, data).
  static std::unique_ptr<cWriteFlow> ConstructOnData(bool fixed, int64_t size, const void* data);

  bool Write(const void* buffer, int32_t n) override;
  // Total bytes written through Write since construction.
  int64_t Written() const { return mWritten; }
  // Writes the text and CR LF. Raises 287 "{not cWriteFlow.Write}" when the
  // write fails: the one flow operation that throws to its caller.
  void WriteLine(std::string_view text);

 private:
  cWriteFlow() = default;
  int64_t mWritten = 0;
};
