#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "qlm_base_fullstring.h"
#include "qlm_base_util.h"

namespace {

// The registry stands in ascending block order and holds every block once.
void expect_registry_sorted() {
  ASSERT_NE(gFullStrings, nullptr);
  for (uint32_t i = 2; i <= gFullStrings->Count(); ++i)
    ASSERT_TRUE(std::less<int32_t*>()(gFullStrings->At(i - 1)->block, gFullStrings->At(i)->block)) << i;
}

int32_t capacity_of(const int32_t* h) {
  uint32_t index = 0;
  const rFullStringEntry* e = gFullStrings->Find(h - 1, index);
  return e != nullptr ? e->capacity : -1;
}

}  // namespace

TEST(FullString, CreateGetSetAndLength) {
  int32_t* h = fullstring_create(0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(fullstring_length(h), 0);
  EXPECT_EQ(h[0], 0);  // cell 1
  EXPECT_EQ(fullchar_length(h), 0);
  EXPECT_EQ(fullstring_create(-1), nullptr);
  EXPECT_EQ(fullstring_create(cnFullStringMaxCapacity + 1), nullptr);
  EXPECT_EQ(fullstring_length(nullptr), -1);

  // setlength(5, 16) on capacity 0: capacity 15, five spaces, terminator.
  ASSERT_TRUE(fullstring_setlength(h, 5, 16));
  EXPECT_EQ(capacity_of(h), 15);
  EXPECT_EQ(fullstring_length(h), 5);
  for (int32_t i = 1; i <= 5; ++i) EXPECT_EQ(fullstring_get(h, i), 32);
  EXPECT_EQ(h[5], 0);  // cell 6
  EXPECT_TRUE(fullstring_set(h, 1, 0x1F600));
  EXPECT_TRUE(fullstring_set(h, 2, 66));
  EXPECT_EQ(fullstring_get(h, 1), 0x1F600);

  struct Case {
    int32_t index;
    int32_t value;
    bool ok;
  };
  for (const Case& c : {Case{0, 1, false}, Case{6, 1, false}, Case{5, -1, false}, Case{5, 0, true}}) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(fullstring_set(h, c.index, c.value), c.ok);
  }
  EXPECT_EQ(fullstring_get(h, 0), -1);
  EXPECT_EQ(fullstring_get(h, 6), -1);
  EXPECT_EQ(fullstring_get(nullptr, 1), -1);
  EXPECT_FALSE(fullstring_set(nullptr, 1, 1));

  // Shrinking keeps the capacity, the first units and moves the terminator.
  ASSERT_TRUE(fullstring_setlength(h, 2, 16));
  EXPECT_EQ(capacity_of(h), 15);
  EXPECT_EQ(fullstring_get(h, 1), 0x1F600);
  EXPECT_EQ(fullstring_get(h, 2), 66);
  EXPECT_EQ(h[2], 0);  // cell 3
  // inc_by 0 fails only when the string must grow.
  EXPECT_TRUE(fullstring_setlength(h, 15, 0));
  EXPECT_FALSE(fullstring_setlength(h, 16, 0));
  EXPECT_EQ(fullstring_length(h), 15);
  // A negative length is refused and the block stays intact.
  EXPECT_FALSE(fullstring_setlength(h, -1, 16));
  EXPECT_EQ(fullstring_length(h), 15);
  EXPECT_EQ(h[15], 0);
  // Growth sizes whose block would reach 2^31 bytes are refused.
  EXPECT_FALSE(fullstring_setlength(h, INT32_MAX - 1, 16));
  EXPECT_FALSE(fullstring_resize(h, cnFullStringMaxCapacity + 1));
  EXPECT_EQ(fullstring_length(h), 15);
  EXPECT_TRUE(fullstring_free(h));
  EXPECT_EQ(h, nullptr);
  EXPECT_FALSE(fullstring_free(h));
}

TEST(FullString, ResizeFollowsTheBlockAndCutsTheText) {
  const uint32_t before = fullstring_count();
  std::vector<int32_t*> others;
  for (int i = 0; i < 50; ++i) others.push_back(fullstring_create(i));
  int32_t* h = fullstring_create(4);
  ASSERT_TRUE(fullstring_setlength(h, 4, 1));
  for (int32_t i = 1; i <= 4; ++i) ASSERT_TRUE(fullstring_set(h, i, 64 + i));
  int32_t* old = h;
  // A large capacity forces the block to move.
  ASSERT_TRUE(fullstring_resize(h, 1 << 20));
  EXPECT_NE(h, old);
  EXPECT_EQ(capacity_of(h), 1 << 20);
  EXPECT_EQ(fullstring_get(h, 4), 68);
  expect_registry_sorted();
  // A shrinking resize cuts the length and writes the terminator after it.
  ASSERT_TRUE(fullstring_resize(h, 2));
  EXPECT_EQ(fullstring_length(h), 2);
  EXPECT_EQ(fullchar_length(h), 2);
  expect_registry_sorted();
  EXPECT_FALSE(fullstring_resize(h, -1));
  int32_t* null_handle = nullptr;
  EXPECT_FALSE(fullstring_resize(null_handle, 4));

  // Pointers that are not registered handles are refused and nothing is freed.
  int32_t local[4] = {0, 0, 0, 0};
  int32_t* fake = local + 1;
  EXPECT_FALSE(fullstring_free(fake));
  EXPECT_EQ(fake, local + 1);
  EXPECT_FALSE(fullstring_resize(fake, 8));
  EXPECT_FALSE(fullstring_setlength(fake, 1, 1));
  int32_t* inside = h + 1;
  EXPECT_FALSE(fullstring_free(inside));

  EXPECT_TRUE(fullstring_free(h));
  for (int32_t*& o : others) EXPECT_TRUE(fullstring_free(o));
  EXPECT_EQ(fullstring_count(), before);
}

TEST(FullString, RegistryFindsSortedAndUnsorted) {
  cFullStringEntry r;
  uint32_t index = 7;
  EXPECT_EQ(r.Find(nullptr, index), nullptr);  // empty: no wrap of the bounds
  EXPECT_EQ(index, 0u);
  std::vector<int32_t> cells(64);
  std::vector<int> order(64);
  for (int i = 0; i < 64; ++i) order[size_t(i)] = (i * 37) % 64;
  for (int i : order) ASSERT_NE(r.Append(&cells[size_t(i)], i), nullptr);
  ASSERT_TRUE(r.SortByBlock());
  for (int i = 0; i < 64; ++i) {
    rFullStringEntry* e = r.Find(&cells[size_t(i)], index);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->capacity, i);
    EXPECT_EQ(index, uint32_t(i + 1));
  }
  int32_t outside = 0;
  EXPECT_EQ(r.Find(&outside, index), nullptr);
  r.SetUnsorted();
  EXPECT_TRUE(r.IsUnsorted());
  ASSERT_NE(r.Register(&outside, 99), nullptr);  // appended while unsorted
  EXPECT_EQ(r.Find(&outside, index)->capacity, 99);
  EXPECT_EQ(index, 65u);
}

// Two threads create, grow, shrink and free strings at once; the registry
// stays consistent and ends as it began.
TEST(FullString, ConcurrentCreateResizeAndFree) {
  const uint32_t before = fullstring_count();
  auto worker = [](unsigned seed, bool* ok) {
    std::mt19937 rng(seed);
    std::vector<int32_t*> live;
    for (int i = 0; i < 20000; ++i) {
      int32_t* h = fullstring_create(int32_t(rng() % 8));
      if (h == nullptr) return;
      const int32_t length = int32_t(rng() % 200);
      if (!fullstring_setlength(h, length, 16) || fullstring_length(h) != length) return;
      if (length > 0 && !fullstring_set(h, length, int32_t(seed))) return;
      live.push_back(h);
      if (live.size() > 50 || rng() % 3 == 0) {
        const size_t k = rng() % live.size();
        if (!fullstring_resize(live[k], int32_t(rng() % 300))) return;
        if (!fullstring_free(live[k])) return;
        live.erase(live.begin() + std::ptrdiff_t(k));
      }
    }
    for (int32_t*& h : live)
      if (!fullstring_free(h)) return;
    *ok = true;
  };
  bool ok1 = false, ok2 = false;
  std::thread t1(worker, 1u, &ok1);
  std::thread t2(worker, 2u, &ok2);
  t1.join();
  t2.join();
  EXPECT_TRUE(ok1);
  EXPECT_TRUE(ok2);
  EXPECT_EQ(fullstring_count(), before);
  expect_registry_sorted();
  EXPECT_FALSE(gFullStrings->IsUnsorted());
}
