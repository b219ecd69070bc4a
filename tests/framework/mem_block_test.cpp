#include <gtest/gtest.h>

#include <type_traits>

#include "qlm_mem_block.h"

// The owner holds the block mem_alloc put in it and releases it when it goes
// (the sanitizer build's leak checker would report it otherwise); it cannot
// be copied, as a copy would release the block twice.
TEST(MemBlock, OwnsTheBlockItWasGivenAndCannotBeCopied) {
  static_assert(!std::is_copy_constructible_v<cMemBlock<>> && !std::is_copy_assignable_v<cMemBlock<>>);
  static_assert(!std::is_copy_constructible_v<cMemBlock<void>>);
  cMemBlock<> block;
  EXPECT_EQ(block.Get(), nullptr);
  ASSERT_TRUE(mem_alloc(block.Ref(), 16));
  EXPECT_NE(block.Get(), nullptr);
  block.Get()[15] = 1;
}
