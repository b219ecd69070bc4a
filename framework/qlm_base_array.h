// cArray: the framework's general container of fixed-size entries.
//
// An entry is a block of raw bytes handed out by pointer. Entries never move
// once created: they are carved from pool blocks and stay valid until they are
// deleted or the array is cleared. They are addressed by a 1-based index
// through a two-level slot directory (b records of b slots each, b the square
// root of the capacity), may carry next/previous links in their first bytes,
// and are recycled through a free list.
//
// Link kinds: 0 none; 1 a next pointer at offset 0; 2 a previous pointer at
// offset 0; 3 next at offset 0 and previous at offset sizeof(void*). Link
// fields are pointer-sized and count in the entry size; the payload is what
// follows them. The array maintains the links; the first entry's previous and
// the last entry's next are nil.
//
// Stride: entries are carved from a pool block at a stride of the entry size
// rounded up to a multiple of 8 (entries of 8 bytes or more) or to the next
// power of two (smaller entries), so pointers and the fields of typed entries
// stay naturally aligned (alignment up to 16 for typed entries whose size is
// a multiple of 16). Pool block data starts 16-aligned.
//
// Small pools (SetSmallPools): an array that is one of very many (a
// paragraph's runs, a table cell's entries) and mostly holds a few entries
// can have its pool blocks hold 1, 1, 2, 4 ... entries (each block as large
// as all before it) up to the class's pool block size, instead of reserving
// a whole block with the first entry; an array whose first Append is of a
// single entry gets a directory of one record of one slot in one block
// (Capacity 1) that its next entry grows to the class. Off by default; a
// clone made by Clone keeps it.
//
// The array never throws: failures answer nil or false and leave the code in
// LastError() (203 memory, 272 no record where the directory should have one,
// 273 no entry, 274-276 clone, 277 write, 278 read, 281 nil flow or an entry
// size that cannot hold the link fields). Exceptions thrown by entry hooks are
// caught and their code kept. A failed Append or Insert leaves the entries as
// they were (a directory rebuilt on the way stays rebuilt); a failed rebuild
// keeps the old directory.
//
// Entry hooks, for subclasses whose entries own texts or objects. For link
// kinds 1 and 3 a hook is called once for a run of consecutive entries and
// follows the next links itself; for kinds 0 and 2 it is always called with
// one entry (the base hooks fail when asked for more):
//   InitializeEntries  new zero-filled entries (from Append, Insert or the
//                      free list) before they are linked; base: nothing;
//   FinalizeEntries    release what the entries own; base: nothing;
//   CopyEntries        copy payloads (Clone); base: the payload bytes;
//   ReadEntries /      the entries' payloads from and to a flow; base: the
//   WriteEntries       payload bytes (completed by the flows module).
// A subclass that overrides FinalizeEntries must call Clear() in its own
// destructor (the base destructor can no longer reach the override).
// Entries holding C++ objects use the typed container cArrayOf<E, K> below.
//
// Companions (sorting, cArrayIterator) reach the directory through the
// read-only record accessors, SlotOf (the slot that holds an index) and
// RelinkRange; the sort driver polls AbortFlag().
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include "qlm_base_object.h"

class cFlow;

// One directory record: its slot array (nil until the record first receives
// an entry), the slot array's byte size, slots in use (slots 0..used-1) and
// free slots (b - used).
struct rArrayRecord {
  void** slots;
  uint32_t bytes;
  uint32_t used;
  uint32_t free;
};

// One pool block: a node of the pool list; its data follows the node.
struct rArrayPool {
  rArrayPool* next;
  uint8_t* data;
  uint32_t allocated;
  uint32_t used;
};

// The directory geometry of a capacity class.
struct rArrayGeometry {
  uint8_t capacity_class = 0;
  uint32_t capacity = 0;          // b * b; 0 when no class is big enough
  uint32_t slots_per_record = 0;  // b
  uint32_t record_bytes = 0;      // b * sizeof(void*)
  uint32_t pool_block_bytes = 0;  // see cArray::GeometryFor
};

class cArray : public cBase {
 public:
  // Capacity classes 5..11; any other class becomes 6.
  cArray(uint32_t entry_size, uint8_t link_kind, uint8_t capacity_class);
  ~cArray() override;
  bool Identify(uint32_t id) const override;

  // The geometry for at least `minimum` entries: the smallest class from
  // `initial_class` on whose capacity reaches it; empty past class 11. Pool
  // block bytes: b * stride, or when that exceeds 65,520 the largest multiple
  // of the stride not above 65,520 (one stride when a single entry is larger).
  static rArrayGeometry GeometryFor(uint8_t initial_class, uint64_t minimum, uint32_t stride);
  // Bytes between two entries carved from one pool block.
  static uint32_t StrideOf(uint32_t entry_size);

  uint32_t Count() const { return mCount; }
  int32_t LastError() const { return mLastError; }
  uint32_t EntrySize() const { return mEntrySize; }
  uint8_t LinkKind() const { return mLinkKind; }
  uint32_t LinkBytes() const;
  uint8_t InitialClass() const { return mInitialClass; }
  uint8_t CapacityClass() const { return mGeometry.capacity_class; }
  uint32_t Capacity() const { return mGeometry.capacity; }
  uint32_t SlotsPerRecord() const { return mGeometry.slots_per_record; }
  uint32_t RecordBytes() const { return mGeometry.record_bytes; }
  uint32_t PoolBlockBytes() const { return mGeometry.pool_block_bytes; }
  uint32_t FreeSlots() const { return mGeometry.capacity - mCount; }
  // Pool blocks of 1, 1, 2, 4 ... entries up to PoolBlockBytes (see the
  // file comment); takes effect with the next pool block.
  void SetSmallPools(bool on) { mSmallPools = on; }
  bool SmallPools() const { return mSmallPools; }

  // Nil for index 0, beyond the count and on an empty array.
  void* Get(uint32_t index) const;
  void* First() const { return Get(1); }
  void* Last() const;
  // 1-based index of the entry; 0 when absent.
  uint32_t IndexOf(const void* entry) const;

  // n zero-filled entries at the end; the first new one, nil on failure or n 0.
  void* Append(uint32_t n);
  // n zero-filled entries before `index` (beyond the count: Append); nil for
  // index 0, n 0 and on failure.
  void* Insert(uint32_t index, uint32_t n);
  // Removes n entries from `index` on (n cut to what exists).
  bool Delete(uint32_t index, uint32_t n);
  // Removes the last n entries (n cut to the count); true on an empty array.
  bool RemoveLast(uint32_t n);
  // Delete(1, count); pools and directory stay.
  bool RemoveAll();
  // Finalizes every entry, releases all memory, back to the initial class.
  void Clear();

  // Copies this array into `target` (cleared first) or into a new array of
  // NewEmpty(); the copy, or nil (code in this array's LastError). A target
  // equal to this array, or one of another entry size, link kind or class,
  // is refused (274) and left as it was.
  cArray* Clone(cArray* target = nullptr);

  // The array to and from a flow (flow format: 32-bit count, then the
  // entries as WriteEntries writes them). Completed by the flows module.
  bool LoadFrom(cFlow* flow);
  bool SaveTo(cFlow* flow);

  // Sorting, defined with the sorters in their own source file: the entries
  // first..last (first 0 means 1, last 0 means the count) by `compare`
  // (negative: a before b). Sort picks the algorithm by the count; the
  // others use a fixed one. Entries do not move; slots are permuted.
  using tCompare = int32_t (*)(const void* a, const void* b);
  bool Sort(tCompare compare, uint32_t first = 0, uint32_t last = 0);
  bool SortInsertion(tCompare compare, uint32_t first = 0, uint32_t last = 0);
  bool SortShell(tCompare compare, uint32_t first = 0, uint32_t last = 0);
  bool SortQuick(tCompare compare, uint32_t first = 0, uint32_t last = 0);
  bool SortHeap(tCompare compare, uint32_t first = 0, uint32_t last = 0);

  // Entry hooks (see the file comment).
  virtual void InitializeEntries(void* first, uint32_t n);
  virtual void FinalizeEntries(void* first, uint32_t n);
  virtual bool CopyEntries(const void* source, void* target, uint32_t n);
  virtual bool ReadEntries(void* first, uint32_t n, cFlow* flow);
  virtual bool WriteEntries(const void* first, uint32_t n, cFlow* flow);

  // Link fields of an entry (nil for a kind without that link).
  void* NextOf(const void* entry) const;
  void* PrevOf(const void* entry) const;

  // Directory access for the companions: record i (0-based) of the present
  // directory, nil beyond it or without a directory.
  uint32_t RecordCount() const { return mDirectory ? mGeometry.slots_per_record : 0; }
  const rArrayRecord* RecordAt(uint32_t i) const;
  // The slot that holds the entry at `index`; nil when there is none. The
  // sort driver permutes entry references through these slots.
  void** SlotOf(uint32_t index);
  // Links the entries first-1 .. last+1 in index order (by the link kind);
  // used after slots were permuted. The last entry's next becomes nil.
  void RelinkRange(uint32_t first, uint32_t last);
  // Polled by the sorters; set by a caller to stop a running sort.
  bool& AbortFlag() { return mAbort; }

 protected:
  // The array a Clone without target copies into: a plain cArray with this
  // array's entry size, link kind and initial class. Typed containers answer
  // their own class, so their clones keep their hooks.
  virtual cArray* NewEmpty() const;

  int32_t mLastError = 0;

 private:
  friend class cArrayIterator;

  bool ConfigOk();
  void SetLinks(void* prev, void* next);
  void* TakeEntry();
  void PushFree(void* entry);
  bool EnsureDirectory();
  uint32_t TailRecord() const;
  bool FindRecord(uint32_t index, uint32_t& record, uint32_t& slot) const;
  bool Rebuild(const rArrayGeometry& g, uint32_t gap_index, uint32_t gap_n, bool break_after_gap);
  bool Grow(uint64_t minimum);
  bool Compact();
  bool GrowWithGap(uint32_t index, uint32_t n);
  bool OpenGap(uint32_t index, uint32_t n);
  uint64_t InsertRoom(uint32_t index, uint32_t& record, uint32_t& slot) const;
  bool CallFinalize(void* first, uint32_t n);
  void FreeDirectory(rArrayRecord*& dir, uint32_t records);

  // Ordered so that the 32-bit fields fill the words (arrays that hold a
  // few entries are many, and their objects count).
  uint8_t mInitialClass;
  uint8_t mLinkKind;
  uint32_t mEntrySize;
  uint32_t mStride;
  rArrayGeometry mGeometry;
  uint32_t mCurrentRecord = UINT32_MAX;
  rArrayPool* mPools = nullptr;
  rArrayRecord* mDirectory = nullptr;
  rArrayPool* mCurrentPool = nullptr;
  void* mFreeList = nullptr;
  uint32_t mCount = 0;
  bool mAbort = false;
  bool mSmallPools = false;
};

// ---------------------------------------------------------------------------
// cArrayOf<E, K>: a container of entries of type E with link kind K, for
// entries that hold C++ objects (std::string and the like). E is the whole
// entry: for K 1 and 3 its first member is the next pointer (`E* next`), for
// K 3 followed by `E* prev`; for K 2 its first member is `E* prev`. New
// entries are value-constructed (`new (p) E{}`), deleted ones destroyed, and
// Clone copies by assignment with the target's link fields kept. Entries that
// are not trivially copyable are not written to or read from flows unless a
// subclass overrides the flow hooks.
template <typename E, uint8_t K>
class cArrayOf : public cArray {
  static_assert(K <= 3, "link kind 0..3");
  static_assert(alignof(E) <= 16, "entries are aligned to at most 16 bytes");
  static_assert(sizeof(E) >= (K == 3 ? 2 : (K == 0 ? 0 : 1)) * sizeof(void*), "E holds its link fields");

 public:
  explicit cArrayOf(uint8_t capacity_class) : cArray(uint32_t(sizeof(E)), K, capacity_class) {}
  ~cArrayOf() override { Clear(); }

  E* Get(uint32_t index) const { return static_cast<E*>(cArray::Get(index)); }
  E* First() const { return static_cast<E*>(cArray::First()); }
  E* Last() const { return static_cast<E*>(cArray::Last()); }
  E* Append(uint32_t n) { return static_cast<E*>(cArray::Append(n)); }
  E* Insert(uint32_t index, uint32_t n) { return static_cast<E*>(cArray::Insert(index, n)); }
  E* Next(const E* entry) const { return static_cast<E*>(NextOf(entry)); }

  void InitializeEntries(void* first, uint32_t n) override {
    E* p = static_cast<E*>(first);
    for (uint32_t i = 0; i < n && p != nullptr; ++i) {
      E* next = static_cast<E*>(i + 1 < n ? NextOf(p) : nullptr);
      new (p) E{};
      p = next;
    }
  }
  void FinalizeEntries(void* first, uint32_t n) override {
    E* p = static_cast<E*>(first);
    for (uint32_t i = 0; i < n && p != nullptr; ++i) {
      E* next = static_cast<E*>(i + 1 < n ? NextOf(p) : nullptr);
      p->~E();
      p = next;
    }
  }
  // Entries that cannot be copied make Clone fail (276).
  bool CopyEntries(const void* source, void* target, uint32_t n) override {
    if constexpr (!std::is_copy_assignable_v<E>) {
      return false;
    } else {
      const E* s = static_cast<const E*>(source);
      E* t = static_cast<E*>(target);
      const uint32_t link_bytes = LinkBytes();
      for (uint32_t i = 0; i < n; ++i) {
        if (s == nullptr || t == nullptr) return false;
        unsigned char links[2 * sizeof(void*)];
        std::memcpy(links, static_cast<void*>(t), link_bytes);
        *t = *s;
        std::memcpy(static_cast<void*>(t), links, link_bytes);
        if (i + 1 < n) {
          s = static_cast<const E*>(NextOf(s));
          t = static_cast<E*>(NextOf(t));
        }
      }
      return true;
    }
  }
  bool ReadEntries(void* first, uint32_t n, cFlow* flow) override {
    if constexpr (std::is_trivially_copyable_v<E>)
      return cArray::ReadEntries(first, n, flow);
    else
      return false;
  }
  bool WriteEntries(const void* first, uint32_t n, cFlow* flow) override {
    if constexpr (std::is_trivially_copyable_v<E>)
      return cArray::WriteEntries(first, n, flow);
    else
      return false;
  }

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cArrayOf<E, K>(InitialClass()); }
};

// ---------------------------------------------------------------------------
// cExceptionLog: the rows of an object's exception log; capacity class 5,
// no links. Rows own their message; a clone copies it.

class cExceptionLog : public cArrayOf<rExceptionLog, 0> {
 public:
  cExceptionLog() : cArrayOf<rExceptionLog, 0>(5) {}
  bool Identify(uint32_t id) const override;

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cExceptionLog(); }
};
