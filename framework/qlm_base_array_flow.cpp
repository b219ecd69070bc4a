// The array in flows: LoadFrom and SaveTo and the base flow hooks.
//
// Flow format (little-endian): a 32-bit count, then the entries in index
// order, each as its WriteEntries hook writes it (base: the payload bytes,
// without the link fields).
#include <algorithm>
#include <climits>

#include "qlm_base_array.h"
#include "qlm_base_flow.h"

namespace {

// Entries appended per step while loading: a corrupt count then costs at
// most one step's entries beyond what the flow really holds, because reading
// stops at the first entry the flow cannot deliver. The read hook of linked
// kinds gets its runs cut at multiples of the step (entries 1-4096,
// 4097-8192, ...), whatever the array held before, so a hook that judges a
// run as a whole (the chunk list's bound on unused allocation) reaches the
// same verdict on a fresh array and on one that is loaded again.
constexpr uint32_t kLoadStep = 4096;

// Entries from `index` (1-based) up to the end of its step.
uint32_t to_step_end(uint32_t index) { return kLoadStep - (index - 1) % kLoadStep; }

// Calls `hook(entry, n)` for the entries index..index+n-1: once for the run
// on linked kinds (1 and 3), once per entry on kinds 0 and 2, walking the
// directory records in index order.
template <typename Hook>
bool for_entries(const cArray& a, uint32_t index, uint32_t n, Hook hook) {
  if (n == 0) return true;
  if (a.LinkKind() == 1 || a.LinkKind() == 3) {
    void* first = a.Get(index);
    return first != nullptr && hook(first, n);
  }
  uint32_t before = 0;
  uint32_t done = 0;
  for (uint32_t r = 0; r < a.RecordCount() && done < n; ++r) {
    const rArrayRecord* rec = a.RecordAt(r);
    if (rec == nullptr) return false;
    for (uint32_t s = 0; s < rec->used && done < n; ++s) {
      if (before + s + 1 < index) continue;
      if (!hook(rec->slots[s], 1)) return false;
      ++done;
    }
    before += rec->used;
  }
  return done == n;
}

}  // namespace

bool cArray::LoadFrom(cFlow* flow) {
  if (flow == nullptr) {
    mLastError = errInvariant;
    return false;
  }
  mLastError = errArrayRead;
  // A step that sets its own code (memory, directory) keeps it; every other
  // failure is 278.
  auto fail = [&] {
    if (mLastError == 0) mLastError = errArrayRead;
    return false;
  };
  try {
    uint8_t raw[4];
    if (!flow->Read(raw, 4)) return fail();
    const int32_t stored = int32_t(get_le32(raw));
    // A negative stored count empties the array.
    const uint32_t wanted = stored > 0 ? uint32_t(stored) : 0;
    if (wanted < mCount && !RemoveLast(mCount - wanted)) return fail();
    auto read = [&](void* entry, uint32_t n) { return ReadEntries(entry, n, flow); };
    mLastError = errArrayRead;
    if (mLinkKind == 1 || mLinkKind == 3) {
      for (uint32_t index = 1; index <= mCount;) {
        const uint32_t run = std::min(mCount - index + 1, to_step_end(index));
        if (!for_entries(*this, index, run, read)) return fail();
        index += run;
      }
    } else if (!for_entries(*this, 1, mCount, read)) {
      return fail();
    }
    while (mCount < wanted) {
      const uint32_t step = std::min(wanted - mCount, to_step_end(mCount + 1));
      const uint32_t index = mCount + 1;
      if (Append(step) == nullptr) return fail();
      mLastError = errArrayRead;
      if (!for_entries(*this, index, step, read)) return fail();
    }
    mLastError = 0;
    return true;
  } catch (...) {
    mLastError = exception_kept_code(std::current_exception());
    return false;
  }
}

bool cArray::SaveTo(cFlow* flow) {
  if (flow == nullptr) {
    mLastError = errInvariant;
    return false;
  }
  mLastError = errArrayWrite;
  try {
    // The count is read back as a signed 32-bit number.
    if (mCount > uint32_t(INT32_MAX)) return false;
    uint8_t raw[4];
    put_le32(raw, mCount);
    if (!flow->Write(raw, 4)) return false;
    auto write = [&](void* entry, uint32_t n) { return WriteEntries(entry, n, flow); };
    if (!for_entries(*this, 1, mCount, write)) {
      mLastError = errArrayWrite;
      return false;
    }
    mLastError = 0;
    return true;
  } catch (...) {
    mLastError = exception_kept_code(std::current_exception());
    return false;
  }
}

bool cArray::ReadEntries(void* first, uint32_t n, cFlow* flow) {
  if (flow == nullptr) return false;
  if ((mLinkKind == 0 || mLinkKind == 2) && n > 1) return false;
  const uint32_t link = LinkBytes();
  const uint32_t payload = mEntrySize > link ? mEntrySize - link : 0;
  if (payload > uint32_t(INT32_MAX)) return false;
  void* entry = first;
  for (uint32_t i = 0; i < n; ++i) {
    if (entry == nullptr) return false;
    if (payload > 0 && !flow->Read(static_cast<uint8_t*>(entry) + link, int32_t(payload))) return false;
    if (i + 1 < n) entry = NextOf(entry);
  }
  return true;
}

bool cArray::WriteEntries(const void* first, uint32_t n, cFlow* flow) {
  if (flow == nullptr) return false;
  if ((mLinkKind == 0 || mLinkKind == 2) && n > 1) return false;
  const uint32_t link = LinkBytes();
  const uint32_t payload = mEntrySize > link ? mEntrySize - link : 0;
  if (payload > uint32_t(INT32_MAX)) return false;
  const void* entry = first;
  for (uint32_t i = 0; i < n; ++i) {
    if (entry == nullptr) return false;
    if (payload > 0 && !flow->Write(static_cast<const uint8_t*>(entry) + link, int32_t(payload))) return false;
    if (i + 1 < n) entry = NextOf(entry);
  }
  return true;
}
