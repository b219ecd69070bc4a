#include "qlm_base_flow.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "qlm_base_util.h"

bool cFlow::Identify(uint32_t id) const { return (id != 0 && id == id_cFlow) || cException::Identify(id); }

// ---------------------------------------------------------------------------
// cMemoryFlowChunk

cMemoryFlowChunk::cMemoryFlowChunk() : cArray(sizeof(rMemoryFlowChunk), 1, 6) {}

cArray* cMemoryFlowChunk::NewEmpty() const { return new (std::nothrow) cMemoryFlowChunk(); }

// The hooks must run while this class is still the dynamic type.
cMemoryFlowChunk::~cMemoryFlowChunk() { Clear(); }

void cMemoryFlowChunk::FinalizeEntries(void* first, uint32_t n) {
  auto* c = static_cast<rMemoryFlowChunk*>(first);
  for (uint32_t i = 0; i < n && c != nullptr; ++i, c = c->next) {
    mem_free(c->block);
    c->allocated = 0;
    c->used = 0;
  }
}

bool cMemoryFlowChunk::CopyEntries(const void* source, void* target, uint32_t n) {
  auto* s = static_cast<const rMemoryFlowChunk*>(source);
  auto* t = static_cast<rMemoryFlowChunk*>(target);
  for (uint32_t i = 0; i < n; ++i, s = s->next, t = t->next) {
    if (s == nullptr || t == nullptr) return false;
    t->block = nullptr;
    t->allocated = 0;
    t->used = 0;
    if (s->block != nullptr && s->allocated > 0) {
      if (!mem_alloc(t->block, s->allocated)) return false;
      std::memcpy(t->block, s->block, size_t(s->used));
      std::memset(t->block + s->used, 0, size_t(s->allocated - s->used));
      t->allocated = s->allocated;
      t->used = s->used;
    }
  }
  return true;
}

bool cMemoryFlowChunk::WriteEntries(const void* first, uint32_t n, cFlow* flow) {
  auto* c = static_cast<const rMemoryFlowChunk*>(first);
  for (uint32_t i = 0; i < n; ++i, c = c->next) {
    if (c == nullptr || flow == nullptr) return false;
    uint8_t header[8];
    put_le32(header, uint32_t(c->allocated));
    put_le32(header + 4, uint32_t(c->used));
    if (!flow->Write(header, 8)) return false;
    if (c->used > 0 && !flow->Write(c->block, c->used)) return false;
  }
  return true;
}

bool cMemoryFlowChunk::ReadEntries(void* first, uint32_t n, cFlow* flow) {
  auto* c = static_cast<rMemoryFlowChunk*>(first);
  // The stored allocation is trusted only as far as the stream backs it: the
  // used bytes must be there to read, and the unused tails (allocated - used,
  // zero-filled here) of the run may add up to no more than the bytes the run
  // read plus one default chunk (LoadFrom cuts runs at fixed entry indexes).
  // A flow's own lists pass (only their last chunk has a tail, at most a
  // chunk long with the default chunk size), while a few headers asking for
  // 2 GiB each are refused before anything is allocated: what a load takes
  // stays within a small multiple of the stream's size.
  int64_t consumed = 0;
  int64_t tails = 0;
  for (uint32_t i = 0; i < n; ++i, c = c->next) {
    if (c == nullptr || flow == nullptr) return false;
    uint8_t header[8];
    if (!flow->Read(header, 8)) return false;
    // Stored as unsigned 32 bits; 2^31 and above read back negative.
    const int32_t allocated = int32_t(get_le32(header));
    const int32_t used = int32_t(get_le32(header + 4));
    if (used < 0 || allocated < used) return false;
    const int64_t size = flow->Size();
    const int64_t at = flow->Curr();
    if (size >= 0 && at >= 0 && used > size - at) return false;
    consumed += 8 + int64_t(used);
    tails += int64_t(allocated) - used;
    if (tails > consumed + cnMemoryFlowChunkSize) return false;
    if (c->block == nullptr || c->allocated != allocated) {
      // A reused block of another size is never written past its end.
      mem_free(c->block);
      c->allocated = 0;
      c->used = 0;
      if (allocated > 0 && !mem_alloc(c->block, allocated)) return false;
      c->allocated = allocated;
    }
    if (used > 0 && !flow->Read(c->block, used)) return false;
    c->used = used;
    if (allocated > used) std::memset(c->block + used, 0, size_t(allocated - used));
  }
  return true;
}

// ---------------------------------------------------------------------------
// cMemoryFlow: construction

std::unique_ptr<cMemoryFlow> cMemoryFlow::Construct() {
  std::unique_ptr<cMemoryFlow> f(new cMemoryFlow());
  f->InitSized(nullptr, 0, 0, cnMemoryFlowChunkSize);
  return f;
}

std::unique_ptr<cMemoryFlow> cMemoryFlow::ConstructOnData(const void* data, int64_t size) {
  std::unique_ptr<cMemoryFlow> f(new cMemoryFlow());
  f->InitReadOnly(false, size, data);
  return f;
}

std::unique_ptr<cMemoryFlow> cMemoryFlow::ConstructReadOnly(bool fixed, int64_t size, const void* data) {
  std::unique_ptr<cMemoryFlow> f(new cMemoryFlow());
  f->InitReadOnly(fixed, size, data);
  return f;
}

std::unique_ptr<cMemoryFlow> cMemoryFlow::ConstructReadOnly(bool fixed, const void* data, int64_t size) {
  return ConstructReadOnly(fixed, size, data);
}

std::unique_ptr<cMemoryFlow> cMemoryFlow::ConstructSized(const void* data, int64_t initial_size, int64_t maximum,
                                                         int64_t chunk_size) {
  std::unique_ptr<cMemoryFlow> f(new cMemoryFlow());
  f->InitSized(data, initial_size, maximum, chunk_size);
  return f;
}

void cMemoryFlow::InitSized(const void* data, int64_t initial_size, int64_t maximum, int64_t chunk_size) {
  mData = data;
  mReadOnly = false;
  mMaximum = maximum > 0 ? maximum : 0;
  mSize = initial_size > 0 ? initial_size : 0;
  if (mMaximum > 0 && mSize > mMaximum) mSize = mMaximum;
  mChunkSize = chunk_size > 0 ? chunk_size : cnMemoryFlowChunkSize;
  mOffset = 0;
  mLastIO = -1;
}

void cMemoryFlow::InitReadOnly(bool fixed, int64_t size, const void* data) {
  mData = data;
  mReadOnly = fixed;
  mSize = size > 0 ? size : 0;
  mMaximum = 0;
  mChunkSize = fixed ? 0 : cnMemoryFlowChunkSize;
  mOffset = 0;
  mLastIO = -1;
}

cMemoryFlow::~cMemoryFlow() { DestroyChunks(); }

bool cMemoryFlow::Identify(uint32_t id) const { return (id != 0 && id == id_cMemoryFlow) || cFlow::Identify(id); }

void cMemoryFlow::DestroyChunks() {
  delete mChunks;
  mChunks = nullptr;
}

// ---------------------------------------------------------------------------
// Helpers

int32_t cMemoryFlow::ChunkAllocation(int64_t r) const {
  int64_t a;
  if (mChunkSize <= 0)
    a = r;
  else if (r < mChunkSize)
    a = mChunkSize;
  else
    a = (r / mChunkSize + 1) * mChunkSize;  // the least multiple of the chunk size above r
  if (a > INT32_MAX) raise_base_error(errNEnoughMem, "{mem_alloc}");
  return int32_t(a);
}

rMemoryFlowChunk* cMemoryFlow::ChunkAt(int64_t offset, int64_t& chunk_start) const {
  int64_t start = 0;
  for (auto* c = mChunks->FirstChunk(); c != nullptr; c = c->next) {
    if (offset >= start && offset < start + c->used) {
      chunk_start = start;
      return c;
    }
    start += c->used;
  }
  chunk_start = start;
  return nullptr;
}

cMemoryFlowChunk* cMemoryFlow::NewSingleChunkList(int64_t allocated, rMemoryFlowChunk*& chunk) {
  chunk = nullptr;
  auto list = std::make_unique<cMemoryFlowChunk>();
  if (allocated > 0) {
    chunk = static_cast<rMemoryFlowChunk*>(list->Append(1));
    if (chunk == nullptr) raise_base_error(errNEnoughMem, "{mChunks.Append=NIL}");
    if (!mem_alloc(chunk->block, allocated)) raise_base_error(errNEnoughMem, "{mem_alloc}");
    std::memset(chunk->block, 0, size_t(allocated));
    chunk->allocated = int32_t(allocated);
  }
  return list.release();
}

// ---------------------------------------------------------------------------
// Opening and closing

void cMemoryFlow::LayOut(bool copy_data) {
  if (IsOpened()) raise_condition_error(errInvariant, "{IsOpened}");
  rMemoryFlowChunk* chunk = nullptr;
  if (mSize > INT32_MAX) raise_base_error(errNEnoughMem, "{mem_alloc}");
  mChunks = NewSingleChunkList(mSize, chunk);
  mOffset = 0;
  mLastIO = 0;
  if (chunk != nullptr) {
    chunk->used = chunk->allocated;
    if (copy_data && mData != nullptr) {
      std::memcpy(chunk->block, mData, size_t(mSize));
      mLastIO = mSize;
    }
  }
}

bool cMemoryFlow::Open() {
  return log_and_fail(this, false, [&] {
    LayOut(true);
    return true;
  });
}

bool cMemoryFlow::OpenAppend() {
  return log_and_fail(this, false, [&] {
    LayOut(true);
    mOffset = mSize;
    return true;
  });
}

bool cMemoryFlow::Create() {
  return log_and_fail(this, false, [&] {
    LayOut(false);
    return true;
  });
}

bool cMemoryFlow::Close() {
  return log_and_fail(this, false, [&] {
    if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
    DestroyChunks();
    mOffset = 0;
    mLastIO = 0;
    return true;
  });
}

std::unique_ptr<cFlow> cMemoryFlow::Clone() {
  return log_and_fail(this, std::unique_ptr<cFlow>(), [&] {
    std::unique_ptr<cMemoryFlow> f(new cMemoryFlow());
    f->mData = mData;
    f->mReadOnly = mReadOnly;
    f->mSize = mSize;
    f->mMaximum = mMaximum;
    f->mChunkSize = mChunkSize;
    f->mOffset = mOffset;
    f->mLastIO = mLastIO;
    if (mChunks != nullptr) {
      // The copy goes into a chunk list of its own kind, so that it frees
      // its blocks and writes their bytes.
      auto copy = std::make_unique<cMemoryFlowChunk>();
      if (mChunks->Clone(copy.get()) == nullptr) raise_base_error(errNEnoughMem, "{mChunks.Clone}");
      f->mChunks = copy.release();
    }
    return std::unique_ptr<cFlow>(std::move(f));
  });
}

// ---------------------------------------------------------------------------
// Size and position

int64_t cMemoryFlow::Size() {
  return log_and_fail(this, cnUndefinedValue, [&] {
    if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
    int64_t size = 0;
    for (auto* c = mChunks->FirstChunk(); c != nullptr; c = c->next) size += c->used;
    return size;
  });
}

bool cMemoryFlow::Eof() {
  return log_and_fail(this, false, [&] {
    const int64_t size = Size();
    if (size == cnUndefinedValue) raise_base_error(errQLMCall, "{sz=cnUndefinedValue}");
    return mOffset == size;
  });
}

bool cMemoryFlow::Seek(int64_t offset) {
  return log_and_fail(this, false, [&] {
    if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
    const int64_t size = Size();
    if (size == cnUndefinedValue) raise_base_error(errQLMCall, "{sz=cnUndefinedValue}");
    if (offset < 0 || offset > size) raise_condition_error(errInvariant, "{offs out_of_range}");
    mOffset = offset;
    return true;
  });
}

uint32_t cMemoryFlow::LastIO() { return mLastIO < 0 ? 0 : uint32_t(uint64_t(mLastIO) & 0xFFFFFFFFu); }

// ---------------------------------------------------------------------------
// Transfers

bool cMemoryFlow::Read(void* buffer, int32_t n) {
  return log_and_fail(this, false, [&] {
    mLastIO = 0;
    if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (buffer == nullptr && n > 0) raise_condition_error(errPreCondition, "{bf=NIL}");
    int64_t start = 0;
    rMemoryFlowChunk* c = ChunkAt(mOffset, start);
    if (c == nullptr) raise_condition_error(errInvariant, "{invalid mOffset}");
    auto* out = static_cast<uint8_t*>(buffer);
    int32_t left = n;
    while (left > 0 && c != nullptr) {
      const int64_t inside = mOffset - start;
      const int32_t piece = int32_t(std::min<int64_t>(left, c->used - inside));
      if (piece > 0) {
        std::memcpy(out, c->block + inside, size_t(piece));
        out += piece;
        left -= piece;
        mOffset += piece;
        mLastIO += piece;
      }
      start += c->used;
      c = c->next;
    }
    if (left > 0) raise_condition_error(errInvariant, "{Eof=true}");
    return true;
  });
}

bool cMemoryFlow::Write(const void* buffer, int32_t n) {
  return log_and_fail(this, false, [&] {
    mLastIO = 0;
    if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (buffer == nullptr && n > 0) raise_condition_error(errPreCondition, "{bf=NIL}");
    const auto* in = static_cast<const uint8_t*>(buffer);
    int32_t left = n;
    // Overwrite through the existing chunks.
    int64_t start = 0;
    for (auto* c = ChunkAt(mOffset, start); left > 0 && c != nullptr; c = c->next) {
      const int64_t inside = mOffset - start;
      const int32_t piece = int32_t(std::min<int64_t>(left, c->used - inside));
      if (piece > 0) {
        std::memcpy(c->block + inside, in, size_t(piece));
        in += piece;
        left -= piece;
        mOffset += piece;
        mLastIO += piece;
      }
      start += c->used;
    }
    if (left == 0) return true;
    // The rest goes past the end.
    if (!IsScalable()) raise_condition_error(errInvariant, "{not IsScalable}");
    int32_t part = left;
    if (mMaximum > 0) {
      const int64_t size = Size();
      if (size == cnUndefinedValue) raise_base_error(errQLMCall, "{Self.Size}");
      part = int32_t(std::clamp<int64_t>(mMaximum - size, 0, left));
    }
    if (part > 0) {
      rMemoryFlowChunk* last = mChunks->LastChunk();
      if (last != nullptr && last->allocated > last->used) {
        const int32_t piece = std::min(part, last->allocated - last->used);
        std::memcpy(last->block + last->used, in, size_t(piece));
        last->used += piece;
        in += piece;
        part -= piece;
        left -= piece;
        mOffset += piece;
        mLastIO += piece;
      }
    }
    if (part > 0) {
      rMemoryFlowChunk* last = mChunks->LastChunk();
      if (last != nullptr && last->next != nullptr) raise_condition_error(errInvariant, "{chnk<>NIL}");
      const int32_t allocation = ChunkAllocation(part);
      uint8_t* block = nullptr;
      if (!mem_alloc(block, allocation)) raise_base_error(errNEnoughMem, "{mem_alloc}");
      auto* c = static_cast<rMemoryFlowChunk*>(mChunks->Append(1));
      if (c == nullptr) {
        mem_free(block);
        raise_base_error(errNEnoughMem, "{mChunks.Append}");
      }
      std::memcpy(block, in, size_t(part));
      std::memset(block + part, 0, size_t(allocation - part));
      c->block = block;
      c->allocated = allocation;
      c->used = part;
      left -= part;
      mOffset += part;
      mLastIO += part;
    }
    if (left > 0) raise_condition_error(errInvariant, "{sz>mMaximum}");
    return true;
  });
}

// Replaces the chunk list by one chunk holding the bytes before `offset`,
// `insert` zero bytes and the bytes from offset + `remove` on. The new list
// is complete before the old one is destroyed, so a failure changes nothing.
void cMemoryFlow::Rebuild(int64_t size, int64_t offset, int32_t insert, int32_t remove) {
  const int64_t new_size = size + insert - remove;
  const int32_t allocation = ChunkAllocation(new_size);
  rMemoryFlowChunk* target = nullptr;
  std::unique_ptr<cMemoryFlowChunk> list(NewSingleChunkList(allocation, target));
  const char* mismatch = insert > 0 ? "{nwch.size<>flsz+sz}" : "{nwch.size<>flsz-sz}";
  int64_t at = 0;  // bytes placed in the new chunk
  // Copies the old bytes [from, to) to the new chunk; answers the old size.
  auto copy_range = [&](int64_t from, int64_t to) {
    int64_t start = 0;
    for (auto* c = mChunks->FirstChunk(); c != nullptr; c = c->next) {
      const int64_t lo = std::max(from, start);
      const int64_t hi = std::min(to, start + c->used);
      if (lo < hi) {
        if (at + (hi - lo) > allocation) raise_condition_error(errInvariant, mismatch);
        std::memcpy(target->block + at, c->block + (lo - start), size_t(hi - lo));
        at += hi - lo;
      }
      start += c->used;
    }
    return start;
  };
  if (copy_range(0, offset) != size) raise_condition_error(errInvariant, "{chnk=NIL}");
  at += insert;  // the new chunk is zero-filled
  copy_range(offset + remove, size);
  if (at != new_size) raise_condition_error(errInvariant, mismatch);
  if (target != nullptr) target->used = int32_t(new_size);
  DestroyChunks();
  mChunks = list.release();
}

bool cMemoryFlow::Insert(int32_t n, int64_t offset) {
  return log_and_fail(this, false, [&] {
    mLastIO = 0;
    if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
    if (!IsScalable()) raise_condition_error(errInvariant, "{not IsScalable}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    const int64_t size = Size();
    if (size == cnUndefinedValue) raise_base_error(errQLMCall, "{Self.Size}");
    if (mMaximum > 0 && size + n > mMaximum) raise_condition_error(errInvariant, "{sz>mMaximum}");
    if (offset < 0) raise_condition_error(errInvariant, "{offs<0}");
    if (offset > size) raise_condition_error(errInvariant, "{offs>size}");
    if (n > 0) {
      int64_t start = 0;
      rMemoryFlowChunk* c = ChunkAt(offset, start);
      if (c != nullptr && c->next == nullptr && c->allocated - c->used >= n) {
        const int64_t inside = offset - start;
        std::memmove(c->block + inside + n, c->block + inside, size_t(c->used - inside));
        std::memset(c->block + inside, 0, size_t(n));
        c->used += n;
      } else {
        Rebuild(size, offset, n, 0);
      }
    }
    mLastIO = n;
    mOffset = offset == size ? size + n : offset;
    return true;
  });
}

bool cMemoryFlow::Delete(int32_t n, int64_t offset) {
  return log_and_fail(this, false, [&] {
    mLastIO = 0;
    if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
    if (!IsScalable()) raise_condition_error(errInvariant, "{not IsScalable}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    const int64_t size = Size();
    if (size == cnUndefinedValue) raise_base_error(errQLMCall, "{Self.Size}");
    if (n > size) raise_condition_error(errInvariant, "{size-sz<0}");
    if (offset < 0) raise_condition_error(errInvariant, "{offs<0}");
    if (offset + n > size) raise_condition_error(errInvariant, "{offs+sz>size}");
    if (n > 0) {
      rMemoryFlowChunk* last = mChunks->LastChunk();
      const int64_t last_start = last != nullptr ? size - last->used : size;
      if (last != nullptr && offset >= last_start) {
        const int64_t inside = offset - last_start;
        std::memmove(last->block + inside, last->block + inside + n, size_t(last->used - inside - n));
        std::memset(last->block + last->used - n, 0, size_t(n));
        last->used -= n;
      } else {
        Rebuild(size, offset, 0, n);
      }
    }
    mLastIO = n;
    mOffset = offset;
    return true;
  });
}

bool cMemoryFlow::Crop(int32_t n) {
  const int64_t size = Size();
  if (size == cnUndefinedValue) return false;
  return Delete(n, size - n);
}

bool cMemoryFlow::SetSize(int64_t size) {
  return log_and_fail(this, false, [&] {
    const int64_t present = Size();
    if (present == cnUndefinedValue) raise_base_error(errQLMCall, "{Self.Size}");
    if (size < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (size == present) return true;
    const int64_t difference = size > present ? size - present : present - size;
    if (difference > INT32_MAX) raise_base_error(errNEnoughMem, "{mem_alloc}");
    const bool ok = size > present ? Insert(int32_t(difference), present) : Delete(int32_t(difference), size);
    if (!ok) return false;
    mOffset = 0;
    return true;
  });
}

bool cMemoryFlow::CopyFrom(cFlow* source, int32_t n) {
  return log_and_fail(this, false, [&] {
    mLastIO = -1;
    if (source == nullptr) raise_condition_error(errPreCondition, "{fl=NIL}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
    if (!source->IsOpened()) raise_condition_error(errInvariant, "{not fl.IsOpened}");
    if (!source->IsReadable()) raise_condition_error(errInvariant, "{not fl.IsReadable}");
    if (source->Curr() + n > source->Size()) raise_condition_error(errInvariant, "{fl.Curr + sz > fl.Size}");
    if (Curr() + n > Size() && !IsScalable()) raise_condition_error(errInvariant, "{not IsScalable}");
    if (n > 0) {
      const int32_t piece_max = std::min(n, cnFlowCopyBuffer);
      std::unique_ptr<uint8_t, void (*)(uint8_t*)> buffer(nullptr, [](uint8_t* p) { mem_free(p); });
      uint8_t* raw = nullptr;
      if (!mem_alloc(raw, piece_max)) raise_base_error(errNEnoughMem, "{mem_alloc}");
      buffer.reset(raw);
      int32_t copied = 0;
      while (copied < n) {
        const int32_t piece = std::min(n - copied, piece_max);
        if (!source->Read(raw, piece)) raise_base_error(errQLMCall, "{fl.Read}");
        if (!Write(raw, piece)) {
          mLastIO = mLastIO + copied;
          raise_base_error(errQLMCall, "{Self.Write}");
        }
        copied += piece;
      }
    }
    mLastIO = n;
    return true;
  });
}

bool cMemoryFlow::CopyTo(cFlow* target, int32_t n) {
  return log_and_fail(this, false, [&] {
    mLastIO = -1;
    if (target == nullptr) raise_condition_error(errPreCondition, "{fl=NIL}");
    if (n < 0) raise_condition_error(errPreCondition, "{sz<0}");
    if (!IsOpened()) raise_condition_error(errInvariant, "{not IsOpened}");
    if (!target->IsOpened()) raise_condition_error(errInvariant, "{not fl.IsOpened}");
    if (!target->IsWritable()) raise_condition_error(errInvariant, "{not fl.IsWritable}");
    if (Curr() + n > Size()) raise_condition_error(errInvariant, "{Curr+sz>Size}");
    if (target->Curr() + n > target->Size() && !target->IsScalable())
      raise_condition_error(errInvariant, "{not fl.IsScalable}");
    if (n > 0) {
      const int32_t piece_max = std::min(n, cnFlowCopyBuffer);
      std::unique_ptr<uint8_t, void (*)(uint8_t*)> buffer(nullptr, [](uint8_t* p) { mem_free(p); });
      uint8_t* raw = nullptr;
      if (!mem_alloc(raw, piece_max)) raise_base_error(errNEnoughMem, "{mem_alloc}");
      buffer.reset(raw);
      int32_t copied = 0;
      while (copied < n) {
        const int32_t piece = std::min(n - copied, piece_max);
        if (!Read(raw, piece)) {
          mLastIO = mLastIO + copied;
          raise_base_error(errQLMCall, "{Self.Read}");
        }
        if (!target->Write(raw, piece)) {
          mLastIO = copied + int64_t(target->LastIO());
          raise_base_error(errQLMCall, "{fl.Write}");
        }
        copied += piece;
      }
    }
    mLastIO = n;
    return true;
  });
}

// ---------------------------------------------------------------------------
// cWriteFlow

std::unique_ptr<cWriteFlow> cWriteFlow::Construct() {
  std::unique_ptr<cWriteFlow> f(new cWriteFlow());
  f->InitSized(nullptr, 1024, 0, 1024);
  return f;
}

std::unique_ptr<cWriteFlow> cWriteFlow::ConstructOnData(bool fixed, int64_t size, const void* data) {
  std::unique_ptr<cWriteFlow> f(new cWriteFlow());
  f->InitReadOnly(fixed, size, data);
  return f;
}

bool cWriteFlow::Write(const void* buffer, int32_t n) {
  if (!cMemoryFlow::Write(buffer, n)) return false;
  mWritten += n;
  return true;
}

void cWriteFlow::WriteLine(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  if (line.size() > size_t(INT32_MAX) || !Write(line.data(), int32_t(line.size())))
    raise_base_error(errQLMCall, "{not cWriteFlow.Write}");
}
