// Full strings: texts of 32-bit code units handed around by a handle.
//
// A full string is a block of capacity + 2 signed 32-bit cells: the length,
// the code units, a terminating 0 and spare cells. The handle is the address
// of cell 1 (the first unit), so the length is handle[-1]. Every block is
// registered with its capacity in `gFullStrings`; the operations that resize
// or free a string check the handle against it. The handle changes when a
// resize moves the block, so those operations take it by reference.
//
// The registry is shared by every thread (the install worker and the window
// thread parse text at the same time), so create, resize, setlength and free
// hold one mutex around their registry work. The lock is a leaf: nothing is
// called under it that takes another lock. get, set and length read only the
// block and take no lock; a handle is used by one thread at a time.
//
// None of the operations raises: they answer nil, false or -1.
#pragma once

#include <cstdint>

#include "qlm_base_array.h"

using tFullString = int32_t*;

// Largest capacity whose block stays below 2^31 bytes.
constexpr int32_t cnFullStringMaxCapacity = int32_t(((int64_t(1) << 31) - 1) / 4 - 2);

struct rFullStringEntry {
  int32_t* block = nullptr;  // cell 0 of the block
  int32_t capacity = 0;
};

// The registry: entries of (block, capacity), no links. While not flagged
// unsorted the entries stand in ascending order of block address; the flag,
// once set, stays.
class cFullStringEntry : public cArray {
 public:
  cFullStringEntry() : cArray(sizeof(rFullStringEntry), 0, 6) {}

  rFullStringEntry* Append(int32_t* block, int32_t capacity);
  // Sorts the whole registry by block address; the sort's result.
  bool SortByBlock();
  // The entry of the block and its 1-based index; nil and 0 when absent.
  // A binary search while sorted, a walk otherwise.
  rFullStringEntry* Find(const int32_t* block, uint32_t& index) const;
  void SetUnsorted() { mUnsorted = true; }
  bool IsUnsorted() const { return mUnsorted; }

  // Registers the block at its place in address order (an append while
  // unsorted); the entry or nil. The same order as Append then SortByBlock.
  rFullStringEntry* Register(int32_t* block, int32_t capacity);
  // The entry at `index` now holds `block`: moves it to its place in address
  // order (while sorted) without allocating. The entry's new index.
  uint32_t Reposition(uint32_t index, int32_t* block, int32_t capacity);

  rFullStringEntry* At(uint32_t index) const { return static_cast<rFullStringEntry*>(Get(index)); }

 private:
  // 1-based index before which a block belongs in address order.
  uint32_t InsertionIndex(const int32_t* block) const;
  bool mUnsorted = false;
};

// The registry; nil before the base module started and after it stopped.
extern cFullStringEntry* gFullStrings;
// Creates the registry unless it exists; the stop destroys it without
// freeing the blocks still registered.
void fullstring_start();
void fullstring_stop();
// Strings registered now (0 without a registry).
uint32_t fullstring_count();

// A new empty string of the capacity; nil for a negative capacity, one
// whose block would reach 2^31 bytes, a missing registry or no memory.
int32_t* fullstring_create(int32_t capacity);
// Reallocates to the capacity keeping the contents; a length above it is
// cut (and the terminator moved). False for nil, a negative or too large
// capacity, an unregistered handle or no memory (the string unchanged).
bool fullstring_resize(int32_t*& handle, int32_t capacity);
// The length; -1 for nil.
int32_t fullstring_length(const int32_t* handle);
// The unit at the 1-based index; -1 for nil or an index outside 1..length.
int32_t fullstring_get(const int32_t* handle, int32_t index);
// Stores a unit; false for nil, an index outside 1..length or a negative value.
bool fullstring_set(int32_t* handle, int32_t index, int32_t value);
// Sets the length to L: grows the capacity when needed to
// (L div inc_by + 1) * inc_by - 1, fills new units with 32 and ends the text
// with 0. False for nil, an unregistered handle, a negative L, an inc_by
// below 1 when the string must grow, or a failed resize.
bool fullstring_setlength(int32_t*& handle, int32_t length, int32_t inc_by);
// Unregisters and frees the block; the handle becomes nil. False for nil or
// an unregistered handle (nothing is freed).
bool fullstring_free(int32_t*& handle);
