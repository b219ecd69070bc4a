#include "qlm_base_fullstring.h"

#include <cstdlib>
#include <functional>
#include <mutex>

#include "qlm_base_sort.h"
#include "qlm_base_util.h"

cFullStringEntry* gFullStrings = nullptr;

namespace {

// Guards gFullStrings and every registry access. A leaf lock.
std::mutex g_lock;

bool before(const int32_t* a, const int32_t* b) { return std::less<const int32_t*>()(a, b); }

int32_t compare_blocks(const void* a, const void* b) {
  const int32_t* x = static_cast<const rFullStringEntry*>(a)->block;
  const int32_t* y = static_cast<const rFullStringEntry*>(b)->block;
  return int32_t(before(y, x)) - int32_t(before(x, y));
}

// Bytes of a block of the capacity; 0 when it would reach 2^31.
int64_t block_bytes(int64_t capacity) {
  if (capacity < 0 || capacity > cnFullStringMaxCapacity) return 0;
  return (capacity + 2) * int64_t(sizeof(int32_t));
}

}  // namespace

// ---------------------------------------------------------------------------
// The registry

rFullStringEntry* cFullStringEntry::Append(int32_t* block, int32_t capacity) {
  auto* e = static_cast<rFullStringEntry*>(cArray::Append(1));
  if (e != nullptr) {
    e->block = block;
    e->capacity = capacity;
  }
  return e;
}

bool cFullStringEntry::SortByBlock() { return Sort(compare_blocks); }

uint32_t cFullStringEntry::InsertionIndex(const int32_t* block) const {
  int64_t low = 0;
  int64_t high = int64_t(Count());  // the answer lies in low..high (0-based)
  while (low < high) {
    const int64_t probe = low + (high - low) / 2;
    if (before(At(uint32_t(probe + 1))->block, block))
      low = probe + 1;
    else
      high = probe;
  }
  return uint32_t(low + 1);
}

rFullStringEntry* cFullStringEntry::Register(int32_t* block, int32_t capacity) {
  if (mUnsorted) return Append(block, capacity);
  auto* e = static_cast<rFullStringEntry*>(Insert(InsertionIndex(block), 1));
  if (e != nullptr) {
    e->block = block;
    e->capacity = capacity;
  }
  return e;
}

uint32_t cFullStringEntry::Reposition(uint32_t index, int32_t* block, int32_t capacity) {
  rFullStringEntry moved{block, capacity};
  if (mUnsorted) {
    *At(index) = moved;
    return index;
  }
  // Shift the entries between the old and the new place by one and put the
  // moved one into the gap: no entry is created, so nothing can fail.
  cArrayIterator it(this);
  auto* e = static_cast<rFullStringEntry*>(it.GoTo(index));
  uint32_t at = index;
  for (auto* next = static_cast<rFullStringEntry*>(it.Next()); next != nullptr && before(next->block, block);
       next = static_cast<rFullStringEntry*>(it.Next())) {
    *e = *next;
    e = next;
    ++at;
  }
  if (at == index) {
    it.GoTo(index);
    for (auto* prev = static_cast<rFullStringEntry*>(it.Prev()); prev != nullptr && before(block, prev->block);
         prev = static_cast<rFullStringEntry*>(it.Prev())) {
      *e = *prev;
      e = prev;
      --at;
    }
  }
  *e = moved;
  return at;
}

rFullStringEntry* cFullStringEntry::Find(const int32_t* block, uint32_t& index) const {
  index = 0;
  if (mUnsorted) {
    cArrayIterator it(const_cast<cFullStringEntry*>(this));
    for (auto* e = static_cast<rFullStringEntry*>(it.Next()); e != nullptr;
         e = static_cast<rFullStringEntry*>(it.Next())) {
      if (e->block == block) {
        index = it.Index();
        return e;
      }
    }
    return nullptr;
  }
  int64_t low = 0;
  int64_t high = int64_t(Count()) - 1;  // signed: an empty registry ends at once
  while (low <= high) {
    const int64_t probe = low + (high - low) / 2;
    rFullStringEntry* e = At(uint32_t(probe + 1));
    if (e->block == block) {
      index = uint32_t(probe + 1);
      return e;
    }
    if (before(block, e->block))
      high = probe - 1;
    else
      low = probe + 1;
  }
  return nullptr;
}

void fullstring_start() {
  std::lock_guard<std::mutex> guard(g_lock);
  if (gFullStrings == nullptr) gFullStrings = new cFullStringEntry();
}

void fullstring_stop() {
  std::lock_guard<std::mutex> guard(g_lock);
  delete gFullStrings;
  gFullStrings = nullptr;
}

uint32_t fullstring_count() {
  std::lock_guard<std::mutex> guard(g_lock);
  return gFullStrings != nullptr ? gFullStrings->Count() : 0;
}

// ---------------------------------------------------------------------------
// Operations

namespace {

// The registered entry of a handle; the lock is held.
rFullStringEntry* find_locked(const int32_t* handle, uint32_t& index) {
  index = 0;
  if (handle == nullptr || gFullStrings == nullptr) return nullptr;
  return gFullStrings->Find(handle - 1, index);
}

// fullstring_resize with the lock held and the entry found.
bool resize_locked(int32_t*& handle, rFullStringEntry* entry, uint32_t index, int32_t capacity) {
  const int64_t bytes = block_bytes(capacity);
  if (bytes == 0) return false;
  int32_t* block = handle - 1;
  auto* moved = static_cast<int32_t*>(std::realloc(block, size_t(bytes)));
  if (moved == nullptr) return false;
  if (moved[0] > capacity) {
    moved[0] = capacity;
    moved[capacity + 1] = 0;  // the terminator follows the cut text
  }
  if (moved != block)
    gFullStrings->Reposition(index, moved, capacity);
  else
    entry->capacity = capacity;
  handle = moved + 1;
  return true;
}

}  // namespace

int32_t* fullstring_create(int32_t capacity) {
  const int64_t bytes = block_bytes(capacity);
  if (bytes == 0) return nullptr;
  int32_t* block = nullptr;
  if (!mem_alloc(block, bytes)) return nullptr;
  block[0] = 0;
  block[1] = 0;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (gFullStrings != nullptr && gFullStrings->Register(block, capacity) != nullptr) return block + 1;
  }
  mem_free(block);
  return nullptr;
}

bool fullstring_resize(int32_t*& handle, int32_t capacity) {
  if (handle == nullptr || capacity < 0) return false;
  std::lock_guard<std::mutex> guard(g_lock);
  uint32_t index = 0;
  rFullStringEntry* entry = find_locked(handle, index);
  return entry != nullptr && resize_locked(handle, entry, index, capacity);
}

int32_t fullstring_length(const int32_t* handle) { return handle == nullptr ? -1 : handle[-1]; }

int32_t fullstring_get(const int32_t* handle, int32_t index) {
  if (handle == nullptr || index < 1 || index > handle[-1]) return -1;
  return handle[index - 1];
}

bool fullstring_set(int32_t* handle, int32_t index, int32_t value) {
  if (handle == nullptr || index < 1 || index > handle[-1] || value < 0) return false;
  handle[index - 1] = value;
  return true;
}

bool fullstring_setlength(int32_t*& handle, int32_t length, int32_t inc_by) {
  if (handle == nullptr || length < 0) return false;
  std::lock_guard<std::mutex> guard(g_lock);
  uint32_t index = 0;
  rFullStringEntry* entry = find_locked(handle, index);
  if (entry == nullptr) return false;
  if (entry->capacity < length) {
    if (inc_by < 1) return false;
    const int64_t capacity = (int64_t(length) / inc_by + 1) * inc_by - 1;
    if (block_bytes(capacity) == 0) return false;
    if (!resize_locked(handle, entry, index, int32_t(capacity))) return false;
  }
  // handle[i - 1] is cell i.
  for (int32_t i = handle[-1] + 1; i <= length; ++i) handle[i - 1] = 32;
  handle[length] = 0;
  handle[-1] = length;
  return true;
}

bool fullstring_free(int32_t*& handle) {
  if (handle == nullptr) return false;
  int32_t* block = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    uint32_t index = 0;
    rFullStringEntry* entry = find_locked(handle, index);
    if (entry == nullptr) return false;
    block = entry->block;
    if (!gFullStrings->Delete(index, 1)) {
      // The entry stays, emptied; the registry is searched by walking from now on.
      entry->block = nullptr;
      entry->capacity = 0;
      gFullStrings->SetUnsorted();
    }
    // A removal keeps the address order, so no re-sort is needed.
  }
  mem_free(block);
  handle = nullptr;
  return true;
}
