// The owner of one block from mem_alloc: the block is released with mem_free
// when the owner goes, on every way out, and the owner cannot be copied (a
// copy would release the block twice).
#pragma once

#include "qlm_base_util.h"

template <typename T = uint8_t>
class cMemBlock {
 public:
  cMemBlock() = default;
  ~cMemBlock() { mem_free(mData); }
  cMemBlock(const cMemBlock&) = delete;
  cMemBlock& operator=(const cMemBlock&) = delete;

  // The block, nil until one is set. Ref is what mem_alloc and the readers
  // that hand out a new block fill; a block already held must be released
  // first (Ref does not).
  T* Get() const { return mData; }
  T*& Ref() { return mData; }

 private:
  T* mData = nullptr;
};
