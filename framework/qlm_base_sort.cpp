#include "qlm_base_sort.h"

#include <utility>

#include "qlm_base_util.h"

namespace {

using tSorter = bool (*)(void** list, uint32_t n, tCompare compare, const bool& abort);

// Insertion sort: an element moves only past elements that compare greater,
// so equal elements keep their order.
bool sort_insertion(void** list, uint32_t n, tCompare compare, const bool& abort) {
  for (uint32_t i = 1; i < n; ++i) {
    if (abort) return false;
    void* v = list[i];
    uint32_t j = i;
    while (j > 0) {
      if (abort) return false;
      if (compare(list[j - 1], v) <= 0) break;
      list[j] = list[j - 1];
      --j;
    }
    list[j] = v;
  }
  return true;
}

// Shell sort: gapped insertion passes with gap 3, then gap 1.
bool sort_shell(void** list, uint32_t n, tCompare compare, const bool& abort) {
  for (uint32_t gap : {3u, 1u}) {
    for (uint32_t i = gap; i < n; ++i) {
      if (abort) return false;
      void* v = list[i];
      uint32_t j = i;
      while (j >= gap && compare(list[j - gap], v) > 0) {
        list[j] = list[j - gap];
        j -= gap;
      }
      list[j] = v;
    }
  }
  return true;
}

// Heap sort of list[0..n-1]: a max-heap on 1-based positions (position k
// is list[k - 1]).
bool sort_heap(void** list, uint32_t n, tCompare compare, const bool& abort) {
  auto at = [list](uint32_t k) -> void*& { return list[k - 1]; };
  auto sift = [&](uint32_t k, uint32_t m) {
    void* v = at(k);
    while (k <= m / 2) {
      if (abort) return false;
      uint32_t c = 2 * k;
      if (c < m && compare(at(c), at(c + 1)) < 0) ++c;
      if (compare(v, at(c)) >= 0) break;
      at(k) = at(c);
      k = c;
    }
    at(k) = v;
    return true;
  };
  for (uint32_t k = n / 2; k >= 1; --k) {
    if (abort || !sift(k, n)) return false;
  }
  for (uint32_t m = n; m > 1; --m) {
    if (abort) return false;
    std::swap(at(1), at(m));
    if (!sift(1, m - 1)) return false;
  }
  return true;
}

// Quicksort with the first element of a range as pivot. The smaller part is
// sorted by recursion and the larger one by the loop, so the stack depth is
// at most log2 n; a range still being partitioned after `budget` levels is
// finished with heap sort, which bounds the time on sorted and all-equal
// input.
bool sort_quick_range(void** list, int64_t lo, int64_t hi, tCompare compare, const bool& abort, int budget) {
  while (lo < hi) {
    if (abort) return false;
    if (budget-- <= 0) return sort_heap(list + lo, uint32_t(hi - lo + 1), compare, abort);
    void* pivot = list[lo];
    int64_t i = lo;
    int64_t j = hi;
    while (i < j) {
      while (i < j && compare(list[j], pivot) >= 0) --j;
      if (i != j) list[i++] = list[j];
      while (i < j && compare(list[i], pivot) <= 0) ++i;
      if (i != j) list[j--] = list[i];
    }
    list[i] = pivot;
    if (i - lo < hi - i) {
      if (!sort_quick_range(list, lo, i - 1, compare, abort, budget)) return false;
      lo = i + 1;
    } else {
      if (!sort_quick_range(list, i + 1, hi, compare, abort, budget)) return false;
      hi = i - 1;
    }
  }
  return !abort;
}

bool sort_quick(void** list, uint32_t n, tCompare compare, const bool& abort) {
  int levels = 0;
  for (uint32_t m = n; m > 1; m >>= 1) ++levels;
  return sort_quick_range(list, 0, int64_t(n) - 1, compare, abort, 2 * levels + 2);
}

// Calls `visit(slot)` for the slots of the entries first..last in index order.
template <typename Visit>
void for_slots(cArray& a, uint32_t first, uint32_t last, Visit visit) {
  uint32_t index = 0;
  for (uint32_t r = 0; r < a.RecordCount() && index < last; ++r) {
    const rArrayRecord* rec = a.RecordAt(r);
    for (uint32_t s = 0; s < rec->used && index < last; ++s) {
      ++index;
      if (index >= first) visit(rec->slots[s]);
    }
  }
}

// The driver of all five sorts.
bool sort_range(cArray& a, int32_t& last_error, tSorter sorter, tCompare compare, uint32_t first, uint32_t last) {
  if (compare == nullptr) return false;
  last_error = 0;
  const uint32_t count = a.Count();
  if (count == 0) return true;
  if (first == 0) first = 1;
  if (first > count) return false;
  if (last == 0) last = count;
  if (last > count || last < first) return false;
  if (last == first) return true;
  const uint32_t n = last - first + 1;
  void** list = nullptr;
  if (!mem_alloc(list, int64_t(n) * int64_t(sizeof(void*)))) {
    last_error = errNEnoughMem;
    return false;
  }
  uint32_t k = 0;
  for_slots(a, first, last, [&](void*& slot) { list[k++] = slot; });
  bool& abort = a.AbortFlag();
  abort = false;
  bool ok = k == n;
  if (ok) {
    try {
      ok = sorter(list, n, compare, abort);
    } catch (...) {
      last_error = exception_kept_code(std::current_exception());
      ok = false;
    }
  }
  if (ok) {
    k = 0;
    for_slots(a, first, last, [&](void*& slot) { slot = list[k++]; });
    a.RelinkRange(first, last);
  }
  mem_free(list);
  return ok;
}

}  // namespace

bool cArray::Sort(tCompare compare, uint32_t first, uint32_t last) {
  const tSorter sorter = mCount < 10       ? sort_insertion
                         : mCount < 100    ? sort_shell
                         : mCount > 999999 ? sort_heap
                                           : sort_quick;
  return sort_range(*this, mLastError, sorter, compare, first, last);
}

bool cArray::SortInsertion(tCompare compare, uint32_t first, uint32_t last) {
  return sort_range(*this, mLastError, sort_insertion, compare, first, last);
}

bool cArray::SortShell(tCompare compare, uint32_t first, uint32_t last) {
  return sort_range(*this, mLastError, sort_shell, compare, first, last);
}

bool cArray::SortQuick(tCompare compare, uint32_t first, uint32_t last) {
  return sort_range(*this, mLastError, sort_quick, compare, first, last);
}

bool cArray::SortHeap(tCompare compare, uint32_t first, uint32_t last) {
  return sort_range(*this, mLastError, sort_heap, compare, first, last);
}

// ---------------------------------------------------------------------------
// cArrayIterator

bool cArrayIterator::Identify(uint32_t id) const { return (id != 0 && id == id_cArrayIterator) || cBase::Identify(id); }

void cArrayIterator::Unplace(uint32_t position) {
  mRecord = nullptr;
  mRecordIndex = -1;
  mSlotIndex = -1;
  mSlot = nullptr;
  mEntry = nullptr;
  mPosition = position;
}

void* cArrayIterator::Place(uint32_t record_index, uint32_t slot_index, uint32_t position) {
  mRecord = mArray->RecordAt(record_index);
  mRecordIndex = int32_t(record_index);
  mSlotIndex = int32_t(slot_index);
  mSlot = &mRecord->slots[slot_index];
  mEntry = *mSlot;
  mPosition = position;
  return mEntry;
}

void cArrayIterator::Reset(cArray* array) {
  if (array != nullptr) mArray = array;
  Unplace(0);
}

void* cArrayIterator::First() { return GoTo(1); }

void* cArrayIterator::Last() { return GoTo(mArray != nullptr ? int64_t(mArray->Count()) : 0); }

void* cArrayIterator::GoTo(int64_t index) {
  if (mArray == nullptr || index <= 0 || index > int64_t(mArray->Count())) {
    Unplace(0);
    return nullptr;
  }
  uint32_t before = 0;
  for (uint32_t r = 0; r < mArray->RecordCount(); ++r) {
    const rArrayRecord* rec = mArray->RecordAt(r);
    if (uint64_t(before) + rec->used >= uint64_t(index)) return Place(r, uint32_t(index) - before - 1, uint32_t(index));
    before += rec->used;
  }
  Unplace(0);
  return nullptr;
}

// Addresses are compared before anything is read: after a directory rebuild
// the remembered record may be freed memory, so only the present directory's
// record at the remembered index is dereferenced.
bool cArrayIterator::PlaceValid() const {
  if (mArray == nullptr || mRecord == nullptr || mRecordIndex < 0 || mSlotIndex < 0) return false;
  if (uint32_t(mRecordIndex) >= mArray->RecordCount()) return false;
  const rArrayRecord* rec = mArray->RecordAt(uint32_t(mRecordIndex));
  if (rec != mRecord || rec->slots == nullptr || uint32_t(mSlotIndex) >= rec->used) return false;
  if (&rec->slots[mSlotIndex] != mSlot) return false;
  return *mSlot == mEntry;
}

void* cArrayIterator::Next() {
  if (!PlaceValid()) {
    const int64_t target = int64_t(mPosition) + 1;
    void* e = GoTo(target);
    if (e == nullptr && mArray != nullptr && target > int64_t(mArray->Count())) Unplace(mArray->Count() + 1);
    return e;
  }
  if (uint32_t(mSlotIndex) + 1 < mRecord->used)
    return Place(uint32_t(mRecordIndex), uint32_t(mSlotIndex) + 1, mPosition + 1);
  for (uint32_t r = uint32_t(mRecordIndex) + 1; r < mArray->RecordCount(); ++r)
    if (mArray->RecordAt(r)->used > 0) return Place(r, 0, mPosition + 1);
  Unplace(mArray->Count() + 1);
  return nullptr;
}

void* cArrayIterator::Prev() {
  if (!PlaceValid()) {
    if (mArray != nullptr && mPosition > mArray->Count() + 1) return GoTo(mArray->Count());
    return GoTo(int64_t(mPosition) - 1);
  }
  if (mSlotIndex > 0) return Place(uint32_t(mRecordIndex), uint32_t(mSlotIndex) - 1, mPosition - 1);
  for (uint32_t r = uint32_t(mRecordIndex); r > 0; --r) {
    const rArrayRecord* rec = mArray->RecordAt(r - 1);
    if (rec->used > 0) return Place(r - 1, rec->used - 1, mPosition - 1);
  }
  Unplace(0);
  return nullptr;
}
