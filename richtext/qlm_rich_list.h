// cRichList<E>: the entries of one of the rich-text document's small lists
// (the properties of a style switch, the layout entries of a table cell, the
// layout entries of the document), linked through `E* next` (E's first
// member) in the order they were appended.
//
// A document holds very many of these lists and most hold a single entry, so
// the first entry lives inside the list object itself: a list of one entry
// costs no allocation beyond its owner. Further entries are carved from
// blocks that grow with the list (each holds as many entries as the list
// held before it, up to about 64 KB), so a long list costs a few bytes per
// entry beyond the entries themselves. Entries never move while they live.
//
// New entries are value-initialised (`E{}`); removed ones are destroyed.
// Blocks come from mem_alloc; a failure raises 203 (errNEnoughMem) through
// raise_base_error and leaves the list as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "qlm_base_codes.h"
#include "qlm_base_object.h"
#include "qlm_base_util.h"

template <typename E>
class cRichList {
 public:
  cRichList() = default;
  ~cRichList() { Clear(); }
  cRichList(const cRichList&) = delete;
  cRichList& operator=(const cRichList&) = delete;

  uint32_t Count() const { return mCount; }
  E* First() const { return mCount > 0 ? Inline() : nullptr; }
  E* Last() const { return mLast; }
  E* Next(const E* entry) const { return entry->next; }

  // A new entry at the end.
  E* Append() {
    void* slot = nullptr;
    if (mCount == 0) {
      slot = mInline;
    } else {
      if (mBlocks == nullptr || mBlocks->used == mBlocks->capacity) NewBlock();
      slot = Slots(mBlocks) + mBlocks->used;
      ++mBlocks->used;
    }
    E* entry = new (slot) E{};
    if (mLast != nullptr) mLast->next = entry;
    mLast = entry;
    ++mCount;
    return entry;
  }

  // Removes the last n entries (n cut to the count).
  void RemoveLast(uint32_t n) {
    for (; n > 0 && mCount > 0; --n) {
      mLast->~E();
      --mCount;
      if (mBlocks == nullptr) {
        mLast = nullptr;
        continue;
      }
      if (--mBlocks->used == 0) {
        rBlock* prev = mBlocks->prev;
        FreeBlock(mBlocks);
        mBlocks = prev;
      }
      mLast = mBlocks != nullptr ? Slots(mBlocks) + mBlocks->used - 1 : Inline();
      mLast->next = nullptr;
    }
  }

  void Clear() {
    for (E* e = First(); e != nullptr;) {
      E* next = e->next;
      e->~E();
      e = next;
    }
    while (mBlocks != nullptr) {
      rBlock* prev = mBlocks->prev;
      FreeBlock(mBlocks);
      mBlocks = prev;
    }
    mLast = nullptr;
    mCount = 0;
  }

 private:
  // A block of entries; they follow the header.
  struct rBlock {
    rBlock* prev;
    uint32_t capacity;
    uint32_t used;
  };
  static constexpr size_t kHeader = (sizeof(rBlock) + alignof(E) - 1) / alignof(E) * alignof(E);
  static constexpr uint32_t kMaxBlockEntries = sizeof(E) >= 65536 ? 1 : uint32_t(65536 / sizeof(E));

  static E* Slots(rBlock* b) {
    return std::launder(reinterpret_cast<E*>(reinterpret_cast<unsigned char*>(b) + kHeader));
  }
  E* Inline() const { return std::launder(reinterpret_cast<E*>(const_cast<unsigned char*>(mInline))); }

  void NewBlock() {
    const uint32_t capacity = mCount < kMaxBlockEntries ? mCount : kMaxBlockEntries;
    void* p = nullptr;
    if (!mem_alloc(p, int64_t(kHeader + size_t(capacity) * sizeof(E))))
      raise_base_error(errNEnoughMem, "{not entries.Append}");
    mBlocks = new (p) rBlock{mBlocks, capacity, 0};
  }
  static void FreeBlock(rBlock* b) {
    void* p = b;
    mem_free(p);
  }

  rBlock* mBlocks = nullptr;  // the newest block; nil while the list fits inside
  E* mLast = nullptr;
  uint32_t mCount = 0;
  alignas(E) unsigned char mInline[sizeof(E)];
};
