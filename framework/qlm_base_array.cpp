#include "qlm_base_array.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

#include "qlm_base_util.h"

// Under AddressSanitizer, deleted entries (beyond their free-list field) and
// the uncarved rest of each pool block are poisoned, so that a use of a
// deleted entry or an overrun past the last entry is reported.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define QLM_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define QLM_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define QLM_POISON(p, n) ((void)(p), (void)(n))
#define QLM_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

constexpr uint32_t kClassCapacity[7] = {16u, 1024u, 65536u, 4194304u, 268435456u, 1073741824u, 4294836225u};
constexpr uint32_t kClassSlots[7] = {4u, 32u, 256u, 2048u, 16384u, 32768u, 65535u};

// Gives a record its zero-filled slot array when it has none yet.
bool ensure_slots(rArrayRecord& rec, uint32_t record_bytes) {
  if (rec.slots != nullptr) return true;
  if (!mem_alloc(rec.slots, int64_t(record_bytes))) return false;
  std::memset(rec.slots, 0, record_bytes);
  rec.bytes = record_bytes;
  return true;
}
constexpr uint32_t kPoolLimit = 65520;
constexpr uint32_t kNone = UINT32_MAX;
// Pool block data starts after the node, rounded so that it is 16-aligned.
constexpr size_t kPoolHeader = (sizeof(rArrayPool) + 15) & ~size_t(15);

uint8_t valid_class(uint8_t c) { return (c < 5 || c > 11) ? 6 : c; }

void* read_ptr(const void* at) {
  void* p;
  std::memcpy(&p, at, sizeof p);
  return p;
}

void write_ptr(void* at, const void* p) { std::memcpy(at, &p, sizeof p); }

}  // namespace

// ---------------------------------------------------------------------------
// Geometry

uint32_t cArray::StrideOf(uint32_t entry_size) {
  if (entry_size == 0) return 1;
  if (entry_size >= 8) return uint32_t(std::min<uint64_t>((uint64_t(entry_size) + 7) & ~uint64_t(7), UINT32_MAX));
  uint32_t s = 1;
  while (s < entry_size) s <<= 1;
  return s;
}

rArrayGeometry cArray::GeometryFor(uint8_t initial_class, uint64_t minimum, uint32_t stride) {
  rArrayGeometry g;
  uint8_t c = valid_class(initial_class);
  while (c <= 11 && kClassCapacity[c - 5] < minimum) ++c;
  if (c > 11) return g;
  g.capacity_class = c;
  g.capacity = kClassCapacity[c - 5];
  g.slots_per_record = kClassSlots[c - 5];
  g.record_bytes = uint32_t(g.slots_per_record * sizeof(void*));
  const uint64_t pool = uint64_t(g.slots_per_record) * stride;
  if (pool <= kPoolLimit)
    g.pool_block_bytes = uint32_t(pool);
  else if (stride > kPoolLimit)
    g.pool_block_bytes = stride;
  else
    g.pool_block_bytes = (kPoolLimit / stride) * stride;
  return g;
}

// ---------------------------------------------------------------------------
// Construction

cArray::cArray(uint32_t entry_size, uint8_t link_kind, uint8_t capacity_class)
    : mInitialClass(valid_class(capacity_class)),
      mLinkKind(link_kind),
      mEntrySize(entry_size),
      mStride(StrideOf(entry_size)) {
  mGeometry = GeometryFor(mInitialClass, 0, mStride);
}

cArray::~cArray() { Clear(); }

bool cArray::Identify(uint32_t id) const { return id == id_cArray || cBase::Identify(id); }

uint32_t cArray::LinkBytes() const {
  switch (mLinkKind) {
    case 1:
    case 2: return sizeof(void*);
    case 3: return 2 * sizeof(void*);
    default: return 0;
  }
}

// The entry size must hold the link fields and the link kind must be known.
bool cArray::ConfigOk() {
  if (mLinkKind > 3 || mEntrySize == 0 || mEntrySize < LinkBytes()) {
    mLastError = errInvariant;
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Links

void* cArray::NextOf(const void* entry) const {
  if (entry == nullptr || (mLinkKind != 1 && mLinkKind != 3)) return nullptr;
  return read_ptr(entry);
}

void* cArray::PrevOf(const void* entry) const {
  if (entry == nullptr) return nullptr;
  if (mLinkKind == 2) return read_ptr(entry);
  if (mLinkKind == 3) return read_ptr(static_cast<const uint8_t*>(entry) + sizeof(void*));
  return nullptr;
}

// Links prev -> next by the link kind; either may be nil.
void cArray::SetLinks(void* prev, void* next) {
  if (mLinkKind == 1 || mLinkKind == 3) {
    if (prev != nullptr) write_ptr(prev, next);
  }
  if (mLinkKind == 2) {
    if (next != nullptr) write_ptr(next, prev);
  } else if (mLinkKind == 3) {
    if (next != nullptr) write_ptr(static_cast<uint8_t*>(next) + sizeof(void*), prev);
  }
}

// ---------------------------------------------------------------------------
// Entries: the free list and the pool blocks

void cArray::PushFree(void* entry) {
  if (mEntrySize < sizeof(void*)) {
    QLM_POISON(entry, mEntrySize);
    return;
  }
  write_ptr(entry, mFreeList);
  mFreeList = entry;
  QLM_POISON(static_cast<uint8_t*>(entry) + sizeof(void*), mEntrySize - sizeof(void*));
}

// A zero-filled entry from the free list or the pool blocks; nil when memory
// fails.
void* cArray::TakeEntry() {
  void* entry = nullptr;
  if (mFreeList != nullptr) {
    entry = mFreeList;
    mFreeList = read_ptr(entry);
  } else {
    if (mCurrentPool == nullptr) mCurrentPool = mPools;
    while (mCurrentPool != nullptr && mCurrentPool->allocated - mCurrentPool->used < mStride) {
      if (mCurrentPool->next == nullptr) break;
      mCurrentPool = mCurrentPool->next;
    }
    if (mCurrentPool == nullptr || mCurrentPool->allocated - mCurrentPool->used < mStride) {
      const uint32_t full = std::max(mGeometry.pool_block_bytes, mStride);
      // Small pools: blocks of 1, 1, 2, 4 ... entries (each as large as all
      // before it), up to a whole block; every size stays a multiple of the
      // stride.
      uint32_t bytes = full;
      if (mSmallPools) {
        uint64_t next = mStride;
        if (mCurrentPool != nullptr)
          next = mCurrentPool == mPools ? mCurrentPool->allocated : uint64_t(mCurrentPool->allocated) * 2;
        bytes = uint32_t(std::min<uint64_t>(full, std::max<uint64_t>(next, mStride)));
      }
      void* block = nullptr;
      if (!mem_alloc(block, int64_t(kPoolHeader) + int64_t(bytes))) return nullptr;
      auto* pool = static_cast<rArrayPool*>(block);
      pool->next = nullptr;
      pool->data = static_cast<uint8_t*>(block) + kPoolHeader;
      pool->allocated = bytes;
      pool->used = 0;
      QLM_POISON(pool->data, bytes);
      if (mCurrentPool == nullptr)
        mPools = pool;
      else
        mCurrentPool->next = pool;
      mCurrentPool = pool;
    }
    entry = mCurrentPool->data + mCurrentPool->used;
    mCurrentPool->used += mStride;
  }
  QLM_UNPOISON(entry, mEntrySize);
  std::memset(entry, 0, mEntrySize);
  return entry;
}

// ---------------------------------------------------------------------------
// Directory

// A one-record directory of one slot is a single block: the slot follows
// the record.
static void** inline_slot(rArrayRecord* dir) { return reinterpret_cast<void**>(dir + 1); }

void cArray::FreeDirectory(rArrayRecord*& dir, uint32_t records) {
  if (dir == nullptr) return;
  const bool one_block = records == 1 && dir[0].slots == inline_slot(dir);
  if (!one_block)
    for (uint32_t i = 0; i < records; ++i) mem_free(dir[i].slots);
  mem_free(dir);
}

bool cArray::EnsureDirectory() {
  if (mDirectory != nullptr) return true;
  const uint32_t b = mGeometry.slots_per_record;
  rArrayRecord* dir = nullptr;
  if (b == 1) {
    static_assert(sizeof(rArrayRecord) % alignof(void*) == 0, "the slot after the record stays aligned");
    if (!mem_alloc(dir, int64_t(sizeof(rArrayRecord) + sizeof(void*)))) {
      mLastError = errNEnoughMem;
      return false;
    }
    *inline_slot(dir) = nullptr;
    dir[0] = rArrayRecord{inline_slot(dir), uint32_t(sizeof(void*)), 0, 1};
    mDirectory = dir;
    mCurrentRecord = 0;
    return true;
  }
  if (!mem_alloc(dir, int64_t(b) * int64_t(sizeof(rArrayRecord)))) {
    mLastError = errNEnoughMem;
    return false;
  }
  for (uint32_t i = 0; i < b; ++i) dir[i] = rArrayRecord{nullptr, 0, 0, b};
  mDirectory = dir;
  mCurrentRecord = 0;
  return true;
}

const rArrayRecord* cArray::RecordAt(uint32_t i) const {
  if (mDirectory == nullptr || i >= mGeometry.slots_per_record) return nullptr;
  return &mDirectory[i];
}

// Where appending continues: the last record with used slots when it has
// free slots, else the record after it (the first record on an array without
// entries); kNone when the directory is full at its end.
uint32_t cArray::TailRecord() const {
  const uint32_t b = mDirectory ? mGeometry.slots_per_record : 0;
  uint32_t last_used = kNone;
  for (uint32_t i = b; i > 0; --i) {
    if (mDirectory[i - 1].used > 0) {
      last_used = i - 1;
      break;
    }
  }
  if (last_used == kNone) return b > 0 ? 0 : kNone;
  if (mDirectory[last_used].free > 0) return last_used;
  return last_used + 1 < b ? last_used + 1 : kNone;
}

// The record and slot of the entry at `index` (1..count).
bool cArray::FindRecord(uint32_t index, uint32_t& record, uint32_t& slot) const {
  if (index == 0 || index > mCount || mDirectory == nullptr) return false;
  uint32_t before = 0;
  for (uint32_t i = 0; i < mGeometry.slots_per_record; ++i) {
    const uint32_t used = mDirectory[i].used;
    if (index <= before + used) {
      record = i;
      slot = index - before - 1;
      return true;
    }
    before += used;
  }
  return false;
}

// Builds a new directory of geometry g holding the present entries in index
// order, packed from the first record. With a gap (gap_n > 0), entries
// 1..gap_index-1 are packed first; then gap_n free slots are counted off the
// rest of that record and whole records after it. With break_after_gap the
// entries from gap_index on start at the next record; otherwise they fill
// only the slots of the record that the gap left, then the following ones.
// On success the old directory is released; on failure it is kept.
bool cArray::Rebuild(const rArrayGeometry& g, uint32_t gap_index, uint32_t gap_n, bool break_after_gap) {
  if (g.capacity == 0) {
    mLastError = errNEnoughMem;
    return false;
  }
  const uint32_t b = g.slots_per_record;
  rArrayRecord* dir = nullptr;
  if (!mem_alloc(dir, int64_t(b) * int64_t(sizeof(rArrayRecord)))) {
    mLastError = errNEnoughMem;
    return false;
  }
  for (uint32_t i = 0; i < b; ++i) dir[i] = rArrayRecord{nullptr, 0, 0, b};

  uint32_t rec = 0;
  uint32_t limit = b;  // slots that entries may take in record `rec`
  uint32_t i = 1;
  auto fail = [&](int32_t code) {
    FreeDirectory(dir, b);
    mLastError = code;
    return false;
  };
  const uint32_t old_b = mDirectory ? mGeometry.slots_per_record : 0;
  for (uint32_t r = 0; r < old_b; ++r) {
    const rArrayRecord& old = mDirectory[r];
    for (uint32_t s = 0; s < old.used; ++s, ++i) {
      if (i == gap_index && gap_n > 0) {
        uint32_t need = gap_n;
        while (need > 0) {
          if (rec >= b) return fail(errArrayNullChunk);
          const uint32_t avail = limit - dir[rec].used;
          if (avail >= need) {
            if (break_after_gap) {
              ++rec;
              limit = b;
            } else {
              limit -= need;
            }
            need = 0;
          } else {
            need -= avail;
            ++rec;
            limit = b;
          }
        }
      }
      while (rec < b && dir[rec].used >= limit) {
        ++rec;
        limit = b;
      }
      if (rec >= b) return fail(errArrayNullChunk);
      rArrayRecord& to = dir[rec];
      if (!ensure_slots(to, g.record_bytes)) return fail(errNEnoughMem);
      to.slots[to.used++] = old.slots[s];
      --to.free;
    }
  }
  FreeDirectory(mDirectory, old_b);
  mDirectory = dir;
  mGeometry = g;
  mCurrentRecord = TailRecord();
  return true;
}

bool cArray::Grow(uint64_t minimum) { return Rebuild(GeometryFor(mInitialClass, minimum, mStride), 0, 0, false); }

bool cArray::Compact() { return Rebuild(mGeometry, 0, 0, false); }

bool cArray::GrowWithGap(uint32_t index, uint32_t n) {
  const uint64_t wanted = uint64_t(mCount) + n;
  rArrayGeometry g = GeometryFor(mInitialClass, wanted, mStride);
  if (g.capacity != 0) g = GeometryFor(mInitialClass, wanted + 2 * uint64_t(g.slots_per_record), mStride);
  return Rebuild(g, index, n, true);
}

bool cArray::OpenGap(uint32_t index, uint32_t n) {
  const uint64_t spare_limit = uint64_t(mCount) + n + 2 * uint64_t(mGeometry.slots_per_record);
  return Rebuild(mGeometry, index, n, spare_limit < mGeometry.capacity);
}

// The free slots available to an insert before `index` (1..count), and the
// record and slot that receive the first new entry. The receiving record is
// the first whose entries reach the index, or whose used end is the index
// while it has a free slot. At a used end the room runs on through the empty
// records after it into the record that holds the entry at the index.
uint64_t cArray::InsertRoom(uint32_t index, uint32_t& record, uint32_t& slot) const {
  if (mDirectory == nullptr) return 0;
  const uint32_t b = mGeometry.slots_per_record;
  uint32_t before = 0;
  for (uint32_t r = 0; r < b; ++r) {
    const rArrayRecord& rec = mDirectory[r];
    const bool inside = rec.used > 0 && index <= before + rec.used;
    const bool at_end = index == before + rec.used + 1 && rec.free > 0;
    if (inside || at_end) {
      record = r;
      slot = index - before - 1;
      if (inside) return rec.free;
      uint64_t room = rec.free;
      for (uint32_t q = r + 1; q < b; ++q) {
        room += mDirectory[q].free;
        if (mDirectory[q].used > 0) break;
      }
      return room;
    }
    before += rec.used;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Access

void* cArray::Get(uint32_t index) const {
  uint32_t r, s;
  if (!FindRecord(index, r, s)) return nullptr;
  return mDirectory[r].slots[s];
}

void* cArray::Last() const {
  if (mDirectory == nullptr) return nullptr;
  for (uint32_t i = mGeometry.slots_per_record; i > 0; --i) {
    const rArrayRecord& rec = mDirectory[i - 1];
    if (rec.used > 0) return rec.slots[rec.used - 1];
  }
  return nullptr;
}

uint32_t cArray::IndexOf(const void* entry) const {
  if (entry == nullptr || mDirectory == nullptr) return 0;
  uint32_t index = 0;
  for (uint32_t r = 0; r < mGeometry.slots_per_record; ++r) {
    const rArrayRecord& rec = mDirectory[r];
    for (uint32_t s = 0; s < rec.used; ++s) {
      ++index;
      if (rec.slots[s] == entry) return index;
    }
  }
  return 0;
}

void** cArray::SlotOf(uint32_t index) {
  uint32_t r, s;
  if (!FindRecord(index, r, s)) return nullptr;
  return &mDirectory[r].slots[s];
}

void cArray::RelinkRange(uint32_t first, uint32_t last) {
  if (mLinkKind == 0 || mLinkKind > 3 || first == 0 || first > last || last > mCount) return;
  void* prev = first > 1 ? Get(first - 1) : nullptr;
  uint32_t r = 0, s = 0;
  if (!FindRecord(first, r, s)) return;
  // Walk the slots first..last+1 in index order.
  const uint32_t end = last < mCount ? last + 1 : last;
  for (uint32_t i = first; i <= end; ++i) {
    while (s >= mDirectory[r].used) {
      ++r;
      s = 0;
    }
    void* e = mDirectory[r].slots[s++];
    SetLinks(prev, e);
    prev = e;
  }
  if (end == mCount) SetLinks(prev, nullptr);
}

// ---------------------------------------------------------------------------
// Hooks

void cArray::InitializeEntries(void* /*first*/, uint32_t /*n*/) {}

void cArray::FinalizeEntries(void* /*first*/, uint32_t /*n*/) {}

bool cArray::CopyEntries(const void* source, void* target, uint32_t n) {
  if ((mLinkKind == 0 || mLinkKind == 2) && n > 1) return false;
  const uint32_t link = LinkBytes();
  const uint32_t payload = mEntrySize > link ? mEntrySize - link : 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (source == nullptr || target == nullptr) return false;
    if (payload > 0)
      std::memcpy(static_cast<uint8_t*>(target) + link, static_cast<const uint8_t*>(source) + link, payload);
    if (i + 1 < n) {
      source = NextOf(source);
      target = NextOf(target);
    }
  }
  return true;
}

// Finalizes entries; an exception of the hook keeps its code and the entries
// count as released.
bool cArray::CallFinalize(void* first, uint32_t n) {
  try {
    FinalizeEntries(first, n);
    return true;
  } catch (...) {
    mLastError = exception_kept_code(std::current_exception());
    return false;
  }
}

// ---------------------------------------------------------------------------
// Append, Insert

void* cArray::Append(uint32_t n) {
  mLastError = 0;
  if (n == 0) return nullptr;
  if (!ConfigOk()) return nullptr;
  // Small pools: an array that starts with a single entry gets a directory
  // of one record of one slot in one block (32 bytes instead of the class's
  // whole directory and first slot block); a second entry grows it to the
  // class as any array grows. Arrays of that kind mostly stay at one entry.
  if (mSmallPools && mCount == 0 && mDirectory == nullptr) {
    if (n == 1) {
      mGeometry.capacity = 1;
      mGeometry.slots_per_record = 1;
      mGeometry.record_bytes = uint32_t(sizeof(void*));
      mGeometry.pool_block_bytes = mStride;
    } else {
      mGeometry = GeometryFor(mInitialClass, 0, mStride);
    }
  }
  if (uint64_t(mGeometry.capacity) < uint64_t(mCount) + n) {
    if (!Grow(uint64_t(mCount) + n)) return nullptr;
  }
  if (!EnsureDirectory()) return nullptr;

  // Appending continues in the current record, which every change leaves at
  // the tail (no used record after it); only when it lacks room are the
  // records scanned for the tail room.
  const bool current_has_room = mCurrentRecord < mGeometry.slots_per_record && mDirectory[mCurrentRecord].free >= n;
  if (!current_has_room) {
    uint32_t tail = TailRecord();
    uint64_t room = 0;
    if (tail != kNone)
      for (uint32_t r = tail; r < mGeometry.slots_per_record; ++r) room += mDirectory[r].free;
    if (room < n) {
      if (!Compact()) return nullptr;
      tail = TailRecord();
    }
    mCurrentRecord = tail;
  }

  void* last = mCurrentRecord < mGeometry.slots_per_record && mDirectory[mCurrentRecord].used > 0
                   ? mDirectory[mCurrentRecord].slots[mDirectory[mCurrentRecord].used - 1]
                   : Last();
  void* first_new = nullptr;
  uint32_t added = 0;
  int32_t error = 0;
  while (added < n) {
    if (mCurrentRecord == kNone || mCurrentRecord >= mGeometry.slots_per_record) {
      error = errArrayNullChunk;
      break;
    }
    rArrayRecord& rec = mDirectory[mCurrentRecord];
    if (!ensure_slots(rec, mGeometry.record_bytes)) {
      error = errNEnoughMem;
      break;
    }
    while (added < n && rec.free > 0) {
      void* e = TakeEntry();
      if (e == nullptr) {
        error = errArrayNoDataSpace;
        break;
      }
      try {
        InitializeEntries(e, 1);
      } catch (...) {
        PushFree(e);
        error = exception_kept_code(std::current_exception());
        break;
      }
      SetLinks(last, e);
      if (mLinkKind == 1 || mLinkKind == 3) write_ptr(e, nullptr);
      rec.slots[rec.used++] = e;
      --rec.free;
      ++mCount;
      ++added;
      if (first_new == nullptr) first_new = e;
      last = e;
    }
    if (error != 0) break;
    if (added < n) ++mCurrentRecord;
  }
  if (error != 0) {
    if (added > 0) RemoveLast(added);
    mCurrentRecord = TailRecord();
    mLastError = error;
    return nullptr;
  }
  return first_new;
}

void* cArray::Insert(uint32_t index, uint32_t n) {
  if (index > mCount) return Append(n);
  mLastError = 0;
  if (index == 0 || n == 0) return nullptr;
  if (!ConfigOk()) return nullptr;
  if (uint64_t(mGeometry.capacity) < uint64_t(mCount) + n) {
    if (!GrowWithGap(index, n)) return nullptr;
  }
  uint32_t rec_i = 0, slot = 0;
  if (InsertRoom(index, rec_i, slot) < n) {
    if (!OpenGap(index, n)) return nullptr;
    if (InsertRoom(index, rec_i, slot) < n) {
      mLastError = errArrayNullChunk;
      return nullptr;
    }
  }

  void* previous = index > 1 ? Get(index - 1) : nullptr;
  void* following = Get(index);
  void* last = previous;
  void* first_new = nullptr;
  uint32_t added = 0;
  int32_t error = 0;
  const uint32_t b = mGeometry.slots_per_record;
  while (added < n) {
    if (rec_i >= b) {
      error = errArrayNullChunk;
      break;
    }
    rArrayRecord& rec = mDirectory[rec_i];
    if (!ensure_slots(rec, mGeometry.record_bytes)) {
      error = errNEnoughMem;
      break;
    }
    const uint32_t k = std::min(n - added, rec.free);
    // Open k slots at the insertion point, then fill them one by one; on a
    // failure the slots not filled are closed again.
    std::memmove(rec.slots + slot + k, rec.slots + slot, size_t(rec.used - slot) * sizeof(void*));
    uint32_t filled = 0;
    for (; filled < k; ++filled) {
      void* e = TakeEntry();
      if (e == nullptr) {
        error = errArrayNoDataSpace;
        break;
      }
      try {
        InitializeEntries(e, 1);
      } catch (...) {
        PushFree(e);
        error = exception_kept_code(std::current_exception());
        break;
      }
      if (last != nullptr) SetLinks(last, e);
      rec.slots[slot + filled] = e;
      if (first_new == nullptr) first_new = e;
      last = e;
    }
    if (filled < k) {
      std::memmove(rec.slots + slot + filled, rec.slots + slot + k, size_t(rec.used - slot) * sizeof(void*));
      std::memset(rec.slots + rec.used + filled, 0, size_t(k - filled) * sizeof(void*));
    }
    rec.used += filled;
    rec.free -= filled;
    mCount += filled;
    added += filled;
    if (error != 0) break;
    ++rec_i;
    slot = 0;
  }
  if (error == 0) {
    SetLinks(last, following);
    mCurrentRecord = TailRecord();
    return first_new;
  }
  if (added > 0) {
    // The new entries are linked among themselves; Delete joins previous to
    // following again.
    SetLinks(last, following);
    Delete(index, added);
  }
  mCurrentRecord = TailRecord();
  mLastError = error;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Delete, Clear

bool cArray::Delete(uint32_t index, uint32_t n) {
  mLastError = 0;
  if (index == 0 || n == 0 || index > mCount) return false;
  n = std::min(n, mCount - index + 1);
  void* before = index > 1 ? Get(index - 1) : nullptr;
  void* after = uint64_t(index) + n <= mCount ? Get(index + n) : nullptr;

  uint32_t rec_i = 0, slot = 0;
  if (!FindRecord(index, rec_i, slot)) {
    mLastError = errArrayNullChunk;
    return false;
  }
  const bool chained = mLinkKind == 1 || mLinkKind == 3;
  void* run_first = nullptr;
  void* run_last = nullptr;
  int32_t hook_error = 0;
  uint32_t remaining = n;
  const uint32_t b = mGeometry.slots_per_record;
  while (remaining > 0) {
    if (rec_i >= b) {
      mLastError = errArrayNullChunk;
      return false;
    }
    rArrayRecord& rec = mDirectory[rec_i];
    const uint32_t k = std::min(remaining, rec.used - slot);
    if (k > 0) {
      void** at = rec.slots + slot;
      if (chained) {
        if (!CallFinalize(at[0], k)) hook_error = mLastError;
        if (run_first == nullptr) run_first = at[0];
        run_last = at[k - 1];
        for (uint32_t j = 0; j < k; ++j)
          QLM_POISON(static_cast<uint8_t*>(at[j]) + sizeof(void*), mEntrySize - sizeof(void*));
      } else {
        for (uint32_t j = 0; j < k; ++j) {
          if (!CallFinalize(at[j], 1)) hook_error = mLastError;
          PushFree(at[j]);
        }
      }
      std::memmove(at, at + k, size_t(rec.used - slot - k) * sizeof(void*));
      std::memset(rec.slots + rec.used - k, 0, size_t(k) * sizeof(void*));
      rec.used -= k;
      rec.free += k;
      mCount -= k;
      remaining -= k;
    }
    ++rec_i;
    slot = 0;
  }
  SetLinks(before, after);
  if (chained && run_first != nullptr && mEntrySize >= sizeof(void*)) {
    write_ptr(run_last, mFreeList);
    mFreeList = run_first;
  }
  mCurrentRecord = TailRecord();
  mLastError = hook_error;
  return true;
}

bool cArray::RemoveLast(uint32_t n) {
  if (mCount == 0) {
    mLastError = 0;
    return true;
  }
  n = std::min(n, mCount);
  if (n == 0) {
    mLastError = 0;
    return false;
  }
  return Delete(mCount - n + 1, n);
}

bool cArray::RemoveAll() {
  if (mCount == 0) {
    mLastError = 0;
    return true;
  }
  return Delete(1, mCount);
}

void cArray::Clear() {
  mLastError = 0;
  if (mCount > 0) {
    if (mLinkKind == 1 || mLinkKind == 3) {
      CallFinalize(First(), mCount);
    } else {
      for (uint32_t r = 0; r < mGeometry.slots_per_record; ++r) {
        const rArrayRecord& rec = mDirectory[r];
        for (uint32_t s = 0; s < rec.used; ++s) CallFinalize(rec.slots[s], 1);
      }
    }
  }
  while (mPools != nullptr) {
    rArrayPool* next = mPools->next;
    QLM_UNPOISON(mPools->data, mPools->allocated);
    mem_free(mPools);
    mPools = next;
  }
  FreeDirectory(mDirectory, mGeometry.slots_per_record);
  mCurrentPool = nullptr;
  mCurrentRecord = kNone;
  mFreeList = nullptr;
  mCount = 0;
  mGeometry = GeometryFor(mInitialClass, 0, mStride);
}

// ---------------------------------------------------------------------------
// Clone

cArray* cArray::NewEmpty() const { return new (std::nothrow) cArray(mEntrySize, mLinkKind, mInitialClass); }

cArray* cArray::Clone(cArray* target) {
  mLastError = 0;
  if (target == this) {
    mLastError = errArrayCloneNew;
    return nullptr;
  }
  cArray* made = nullptr;
  if (target != nullptr) {
    // The copy hook writes the source's entries into the target's: a target
    // with another entry size, link kind or class (whose entries hold other
    // fields) would be written past its entries. Refused, the target as it was.
    if (target->mEntrySize != mEntrySize || target->mLinkKind != mLinkKind || typeid(*target) != typeid(*this)) {
      mLastError = errArrayCloneNew;
      return nullptr;
    }
    target->Clear();
  } else {
    try {
      made = NewEmpty();
    } catch (...) {
      made = nullptr;
    }
    if (made == nullptr) {
      mLastError = errArrayCloneNew;
      return nullptr;
    }
    made->mSmallPools = mSmallPools;
    target = made;
  }
  if (mCount == 0) return target;

  auto fail = [&](int32_t code) -> cArray* {
    delete made;
    mLastError = code;
    return nullptr;
  };
  if (target->Append(mCount) == nullptr) return fail(errArrayCloneAppend);
  try {
    if (mLinkKind == 1 || mLinkKind == 3) {
      if (!CopyEntries(First(), target->First(), mCount)) return fail(errArrayCloneCopy);
    } else {
      // Walk both directories in index order.
      uint32_t tr = 0, ts = 0;
      const uint32_t tb = target->mGeometry.slots_per_record;
      for (uint32_t r = 0; r < mGeometry.slots_per_record; ++r) {
        const rArrayRecord& rec = mDirectory[r];
        for (uint32_t s = 0; s < rec.used; ++s) {
          while (tr < tb && ts >= target->mDirectory[tr].used) {
            ++tr;
            ts = 0;
          }
          if (tr >= tb) return fail(errArrayCloneCopy);
          if (!CopyEntries(rec.slots[s], target->mDirectory[tr].slots[ts++], 1)) return fail(errArrayCloneCopy);
        }
      }
    }
  } catch (...) {
    return fail(exception_kept_code(std::current_exception()));
  }
  return target;
}

// ---------------------------------------------------------------------------
// cExceptionLog

bool cExceptionLog::Identify(uint32_t id) const { return id == id_cExceptionLog || cArray::Identify(id); }
