#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "qlm_base_sort.h"
#include "qlm_base_util.h"

namespace {

// Entry of kind 3 with a key and its original position.
struct rItem {
  rItem* next;
  rItem* prev;
  int32_t key;
  int32_t tag;
};

int32_t by_key(const void* a, const void* b) {
  const int32_t x = static_cast<const rItem*>(a)->key;
  const int32_t y = static_cast<const rItem*>(b)->key;
  return (x > y) - (x < y);
}

void fill(cArray& a, const std::vector<int32_t>& keys) {
  for (size_t i = 0; i < keys.size(); ++i) {
    auto* e = static_cast<rItem*>(a.Append(1));
    ASSERT_NE(e, nullptr);
    e->key = keys[i];
    e->tag = int32_t(i);
  }
}

std::vector<int32_t> keys_of(cArray& a) {
  std::vector<int32_t> k;
  for (uint32_t i = 1; i <= a.Count(); ++i) k.push_back(static_cast<rItem*>(a.Get(i))->key);
  return k;
}

// Both link chains follow the index order; the ends are nil.
void expect_chains(cArray& a) {
  const uint32_t n = a.Count();
  for (uint32_t i = 1; i <= n; ++i) {
    auto* e = static_cast<rItem*>(a.Get(i));
    ASSERT_EQ(a.NextOf(e), i < n ? a.Get(i + 1) : nullptr) << i;
    if (a.LinkKind() == 3) {
      ASSERT_EQ(a.PrevOf(e), i > 1 ? a.Get(i - 1) : nullptr) << i;
    }
  }
}

using tSort = bool (cArray::*)(tCompare, uint32_t, uint32_t);
struct NamedSort {
  const char* name;
  tSort sort;
};
const NamedSort kSorts[] = {{"chosen", &cArray::Sort},
                            {"insertion", &cArray::SortInsertion},
                            {"shell", &cArray::SortShell},
                            {"quick", &cArray::SortQuick},
                            {"heap", &cArray::SortHeap}};

}  // namespace

TEST(Sort, SortsRandomDataAtEveryAlgorithmSize) {
  std::mt19937 rng(7);
  for (uint32_t count : {9u, 50u, 5000u, 1000u}) {
    for (const NamedSort& s : kSorts) {
      if (count == 5000 && std::string(s.name) == "insertion") continue;
      SCOPED_TRACE(std::string(s.name) + " " + std::to_string(count));
      std::vector<int32_t> keys(count);
      for (auto& k : keys) k = int32_t(rng() % 20);  // many equal keys
      cArray a(sizeof(rItem), 3, 6);
      fill(a, keys);
      ASSERT_TRUE((a.*s.sort)(by_key, 0, 0));
      std::sort(keys.begin(), keys.end());
      EXPECT_EQ(keys_of(a), keys);
      expect_chains(a);
    }
  }
}

TEST(Sort, SmallArraysKeepEqualEntriesInOrder) {
  cArray a(sizeof(rItem), 1, 5);
  fill(a, {3, 1, 3, 2, 1, 3, 2, 1, 3});
  ASSERT_TRUE(a.Sort(by_key));
  std::vector<std::pair<int32_t, int32_t>> got;
  for (uint32_t i = 1; i <= 9; ++i)
    got.push_back({static_cast<rItem*>(a.Get(i))->key, static_cast<rItem*>(a.Get(i))->tag});
  const std::vector<std::pair<int32_t, int32_t>> want = {{1, 1}, {1, 4}, {1, 7}, {2, 3}, {2, 6},
                                                         {3, 0}, {3, 2}, {3, 5}, {3, 8}};
  EXPECT_EQ(got, want);
  expect_chains(a);
}

// Already sorted and all-equal input of 200,000 entries: no stack overflow
// and no quadratic time with any algorithm.
TEST(Sort, LargeSortedAndAllEqualInput) {
  const uint32_t n = 200000;
  for (bool equal : {false, true}) {
    std::vector<int32_t> keys(n);
    for (uint32_t i = 0; i < n; ++i) keys[i] = equal ? 5 : int32_t(i);
    cArray a(sizeof(rItem), 3, 6);
    fill(a, keys);
    for (const NamedSort& s : kSorts) {
      SCOPED_TRACE(std::string(s.name) + (equal ? " equal" : " sorted"));
      ASSERT_TRUE((a.*s.sort)(by_key, 0, 0));
      EXPECT_EQ(keys_of(a), keys);
    }
    // Reversed input too.
    std::reverse(keys.begin(), keys.end());
    cArray b(sizeof(rItem), 3, 6);
    fill(b, keys);
    ASSERT_TRUE(b.SortQuick(by_key, 0, 0));
    std::reverse(keys.begin(), keys.end());
    EXPECT_EQ(keys_of(b), keys);
    expect_chains(b);
  }
}

TEST(Sort, RangesAndRelinking) {
  for (uint8_t kind : {uint8_t(1), uint8_t(3)}) {
    SCOPED_TRACE(int(kind));
    cArray a(sizeof(rItem), kind, 5);
    fill(a, {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 10, 11});
    // A middle range: the neighbours link to the new first and last.
    ASSERT_TRUE(a.Sort(by_key, 3, 8));
    EXPECT_EQ(keys_of(a), (std::vector<int32_t>{9, 8, 2, 3, 4, 5, 6, 7, 1, 0, 10, 11}));
    expect_chains(a);
    // A range from the first entry: the new first has no predecessor.
    ASSERT_TRUE(a.Sort(by_key, 0, 4));
    EXPECT_EQ(keys_of(a), (std::vector<int32_t>{2, 3, 8, 9, 4, 5, 6, 7, 1, 0, 10, 11}));
    expect_chains(a);
    // A range to the last entry: the new last has no successor.
    ASSERT_TRUE(a.Sort(by_key, 9, 0));
    EXPECT_EQ(keys_of(a), (std::vector<int32_t>{2, 3, 8, 9, 4, 5, 6, 7, 0, 1, 10, 11}));
    expect_chains(a);
    ASSERT_TRUE(a.Sort(by_key));
    expect_chains(a);
  }
  // Kind 2 keeps only its previous links, at offset 0.
  struct rBack {
    rBack* prev;
    int32_t key;
  };
  cArray back(sizeof(rBack), 2, 5);
  for (int32_t k : {4, 2, 3, 1}) static_cast<rBack*>(back.Append(1))->key = k;
  ASSERT_TRUE(back.Sort([](const void* a, const void* b) {
    const int32_t x = static_cast<const rBack*>(a)->key, y = static_cast<const rBack*>(b)->key;
    return int32_t((x > y) - (x < y));
  }));
  for (uint32_t i = 1; i <= 4; ++i) {
    EXPECT_EQ(static_cast<rBack*>(back.Get(i))->key, int32_t(i));
    EXPECT_EQ(back.PrevOf(back.Get(i)), i > 1 ? back.Get(i - 1) : nullptr);
  }
}

TEST(Sort, ArgumentsAndFailures) {
  cArray empty(sizeof(rItem), 3, 5);
  EXPECT_TRUE(empty.Sort(by_key));
  EXPECT_FALSE(empty.Sort(nullptr));
  cArray a(sizeof(rItem), 3, 5);
  fill(a, {3, 2, 1});
  EXPECT_FALSE(a.Sort(nullptr));
  EXPECT_FALSE(a.Sort(by_key, 4, 0));  // first above the count
  EXPECT_FALSE(a.Sort(by_key, 1, 4));  // last above the count
  EXPECT_FALSE(a.Sort(by_key, 3, 2));
  EXPECT_TRUE(a.Sort(by_key, 2, 2));
  EXPECT_EQ(keys_of(a), (std::vector<int32_t>{3, 2, 1}));
  mem_alloc_fail_at(1);
  EXPECT_FALSE(a.Sort(by_key));
  mem_alloc_fail_at(0);
  EXPECT_EQ(a.LastError(), errNEnoughMem);
  EXPECT_EQ(keys_of(a), (std::vector<int32_t>{3, 2, 1}));
  // An aborted sort leaves the array unchanged.
  static cArray* target = nullptr;
  target = &a;
  for (const NamedSort& s : kSorts) {
    SCOPED_TRACE(s.name);
    EXPECT_FALSE((a.*s.sort)(
        [](const void* x, const void* y) {
          target->AbortFlag() = true;
          return by_key(x, y);
        },
        0, 0));
    EXPECT_EQ(keys_of(a), (std::vector<int32_t>{3, 2, 1}));
    expect_chains(a);
  }
}

TEST(ArrayIterator, WalksBothWays) {
  cArray a(sizeof(rItem), 1, 5);
  fill(a, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
  ASSERT_TRUE(a.Delete(2, 2));  // leave a hole in the first record
  cArrayIterator it(&a);
  EXPECT_TRUE(object_identify(&it, id_cArrayIterator));
  EXPECT_EQ(it.Count(), 14u);
  std::vector<int32_t> forward;
  for (void* e = it.Next(); e != nullptr; e = it.Next()) {
    forward.push_back(static_cast<rItem*>(e)->key);
    EXPECT_EQ(it.Index(), forward.size());
  }
  std::vector<int32_t> expected = keys_of(a);
  EXPECT_EQ(forward, expected);
  EXPECT_EQ(it.Next(), nullptr);  // stays past the end
  std::vector<int32_t> backward;
  for (void* e = it.Prev(); e != nullptr; e = it.Prev()) backward.push_back(static_cast<rItem*>(e)->key);
  std::reverse(expected.begin(), expected.end());
  EXPECT_EQ(backward, expected);
  EXPECT_EQ(it.Index(), 0u);

  cArrayIterator fresh(&a);
  EXPECT_EQ(fresh.Prev(), nullptr);
  EXPECT_EQ(fresh.Next(), a.Get(1));
  EXPECT_EQ(fresh.Index(), 1u);
  EXPECT_EQ(fresh.Last(), a.Last());
  EXPECT_EQ(fresh.Index(), 14u);
  EXPECT_EQ(fresh.GoTo(5), a.Get(5));
  EXPECT_EQ(fresh.GoTo(15), nullptr);
  EXPECT_EQ(fresh.GoTo(0), nullptr);
  EXPECT_EQ(fresh.Index(), 0u);
  cArrayIterator none;
  EXPECT_EQ(none.First(), nullptr);
  EXPECT_EQ(none.Next(), nullptr);
  EXPECT_EQ(none.Count(), 0u);
  cArray other(sizeof(rItem), 1, 5);
  none.Reset(&other);
  EXPECT_EQ(none.First(), nullptr);
}

// Changes under the iterator: it continues by index and never reads freed
// directory memory (the sanitizer build checks the latter).
TEST(ArrayIterator, SurvivesDeletesAndDirectoryRebuilds) {
  cArray a(sizeof(rItem), 1, 5);
  fill(a, {0, 1, 2, 3, 4, 5});
  cArrayIterator it(&a);
  ASSERT_EQ(it.GoTo(3), a.Get(3));
  ASSERT_TRUE(a.Delete(2, 1));  // the predecessor
  auto* e = static_cast<rItem*>(it.Next());
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->key, 4);  // the entry at the old position + 1
  EXPECT_EQ(it.Index(), 4u);

  // Growing past class 5 rebuilds the directory under the iterator.
  cArray b(sizeof(rItem), 1, 5);
  std::vector<int32_t> keys(16);
  for (int32_t i = 0; i < 16; ++i) keys[size_t(i)] = i;
  fill(b, keys);
  cArrayIterator jt(&b);
  ASSERT_NE(jt.GoTo(10), nullptr);
  ASSERT_NE(b.Insert(2, 40), nullptr);
  EXPECT_EQ(b.CapacityClass(), 6);
  auto* f = static_cast<rItem*>(jt.Next());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f, b.Get(11));
  EXPECT_EQ(jt.Prev(), b.Get(10));
  // Clearing the array entirely: the iterator finds nothing and reads nothing.
  b.Clear();
  EXPECT_EQ(jt.Next(), nullptr);
  EXPECT_EQ(jt.Prev(), nullptr);
}
