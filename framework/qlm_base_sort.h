// Sorting of an array's entries and the array iterator.
//
// Sorting permutes the slot references of a range of entries by a caller's
// compare function; entries never move, and the links of the range (and of
// its two neighbours) are rebuilt in the new index order. The algorithm is
// chosen by the array's whole count: below 10 insertion sort (stable), below
// 100 shell sort, above 999,999 heap sort, otherwise quicksort. Quicksort
// recurses only into the smaller part of a range, and a range that keeps
// partitioning badly (already sorted or all-equal keys) is finished with
// heap sort, so neither the stack nor the time runs away.
//
// The sorts report failure by false and the array's LastError (203 when the
// temporary list cannot be allocated); they never raise.
#pragma once

#include <cstdint>

#include "qlm_base_array.h"

// The compare function of cArray::Sort and its fixed-algorithm variants
// (cArray::SortInsertion, SortShell, SortQuick, SortHeap), which are defined
// in qlm_base_sort.cpp: negative when a sorts before b, 0 when equal,
// positive when after. Compare addresses with (a > b) - (a < b), never by
// subtracting them.
//
// The sorts answer false for a nil compare, a first above the count, a last
// above the count or below first, a failed temporary list (LastError 203)
// and an aborted sort (a caller set AbortFlag(); the array is then
// unchanged); true for an empty array and for first = last.
using tCompare = cArray::tCompare;

// ---------------------------------------------------------------------------
// cArrayIterator: walks an array in index order through its directory and
// re-finds its place by index when the array changed under it. It does not
// own the array.
//
// Not placed: position 0 before the first entry; after Next stepped past the
// last entry the position stays count + 1, so further Next calls stay nil and
// Prev returns the last entry.

class cArrayIterator : public cBase {
 public:
  explicit cArrayIterator(cArray* array = nullptr) : mArray(array) {}
  bool Identify(uint32_t id) const override;

  // Iterates `array` instead when it is not nil; in any case not placed.
  void Reset(cArray* array = nullptr);
  void* First();
  void* Last();
  // The entry at the 1-based index; nil (not placed) for 0 or less, above
  // the count, or without entries.
  void* GoTo(int64_t index);
  void* Next();
  void* Prev();
  // The position: the 1-based index of the current entry; 0 before the first.
  uint32_t Index() const { return mPosition; }
  // The array's count; 0 without an array.
  uint32_t Count() const { return mArray != nullptr ? mArray->Count() : 0; }

 private:
  void Unplace(uint32_t position);
  void* Place(uint32_t record_index, uint32_t slot_index, uint32_t position);
  // The remembered record, slot and entry still stand where they were.
  bool PlaceValid() const;

  cArray* mArray = nullptr;
  const rArrayRecord* mRecord = nullptr;
  int32_t mRecordIndex = -1;
  int32_t mSlotIndex = -1;
  void* const* mSlot = nullptr;
  void* mEntry = nullptr;
  uint32_t mPosition = 0;
};
