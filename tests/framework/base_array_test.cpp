#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "qlm_base_array.h"
#include "qlm_base_util.h"

namespace {

// A raw array whose entries carry a 64-bit id right after the link fields
// (when the payload has room for it; smaller payloads carry its low bytes).
struct Model {
  cArray& a;
  std::vector<void*> ptrs;
  std::vector<uint64_t> ids;
  uint64_t next_id = 1;

  explicit Model(cArray& array) : a(array) {}

  uint32_t payload() const { return a.EntrySize() - a.LinkBytes(); }
  uint8_t* at(void* e) const { return static_cast<uint8_t*>(e) + a.LinkBytes(); }
  void put(void* e, uint64_t id) const { std::memcpy(at(e), &id, std::min<size_t>(payload(), 8)); }
  uint64_t get(void* e) const {
    uint64_t id = 0;
    std::memcpy(&id, at(e), std::min<size_t>(payload(), 8));
    return id;
  }
  uint64_t mask(uint64_t id) const { return payload() >= 8 ? id : id & ((uint64_t(1) << (8 * payload())) - 1); }

  // Stamps the n new entries from index on (checking they came zero-filled)
  // and mirrors them in the model.
  void Added(uint32_t index, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
      void* e = a.Get(index + i);
      ASSERT_NE(e, nullptr);
      for (uint32_t b = 0; b < payload(); ++b) ASSERT_EQ(at(e)[b], 0) << "entry not zero-filled";
      const uint64_t id = next_id++;
      put(e, id);
      ptrs.insert(ptrs.begin() + (index - 1 + i), e);
      ids.insert(ids.begin() + (index - 1 + i), mask(id));
    }
  }
  void Removed(uint32_t index, uint32_t n) {
    ptrs.erase(ptrs.begin() + (index - 1), ptrs.begin() + (index - 1 + n));
    ids.erase(ids.begin() + (index - 1), ids.begin() + (index - 1 + n));
  }

  // Compares the array with the model: count, entries in index order (same
  // addresses, same payloads), IndexOf, both links, Last, and the directory's
  // own invariants.
  void Check(const char* step) const {
    SCOPED_TRACE(step);
    ASSERT_EQ(a.Count(), ptrs.size());
    uint64_t used_total = 0;
    uint32_t walked = 0;
    for (uint32_t r = 0; r < a.RecordCount(); ++r) {
      const rArrayRecord* rec = a.RecordAt(r);
      ASSERT_EQ(rec->used + rec->free, a.SlotsPerRecord());
      used_total += rec->used;
      if (rec->slots == nullptr) {
        ASSERT_EQ(rec->used, 0u);
        continue;
      }
      for (uint32_t s = 0; s < a.SlotsPerRecord(); ++s) {
        if (s < rec->used) {
          ASSERT_LT(walked, ptrs.size());
          ASSERT_EQ(rec->slots[s], ptrs[walked]) << "slot order at index " << walked + 1;
          ++walked;
        } else {
          ASSERT_EQ(rec->slots[s], nullptr) << "stale slot";
        }
      }
    }
    ASSERT_EQ(used_total, ptrs.size());
    ASSERT_LE(uint64_t(a.Count()), uint64_t(a.Capacity()));
    const uint8_t k = a.LinkKind();
    for (size_t i = 0; i < ptrs.size(); ++i) {
      ASSERT_EQ(get(ptrs[i]), ids[i]) << "payload at index " << i + 1;
      void* next = i + 1 < ptrs.size() ? ptrs[i + 1] : nullptr;
      void* prev = i > 0 ? ptrs[i - 1] : nullptr;
      if (k == 1 || k == 3) {
        ASSERT_EQ(a.NextOf(ptrs[i]), next) << "next at index " << i + 1;
      }
      if (k == 2 || k == 3) {
        ASSERT_EQ(a.PrevOf(ptrs[i]), prev) << "prev at index " << i + 1;
      }
    }
    if (!ptrs.empty()) {
      ASSERT_EQ(a.Get(1), ptrs.front());
      ASSERT_EQ(a.Last(), ptrs.back());
      ASSERT_EQ(a.Get(uint32_t(ptrs.size())), ptrs.back());
      const size_t mid = ptrs.size() / 2;
      ASSERT_EQ(a.IndexOf(ptrs[mid]), mid + 1);
    } else {
      ASSERT_EQ(a.First(), nullptr);
      ASSERT_EQ(a.Last(), nullptr);
    }
    ASSERT_EQ(a.Get(0), nullptr);
    ASSERT_EQ(a.Get(uint32_t(ptrs.size()) + 1), nullptr);
  }
};

struct ArrayCase {
  uint8_t kind;
  uint32_t payload;
  uint8_t capacity_class;
  bool small_pools = false;
};

uint32_t link_bytes(uint8_t kind) { return kind == 3 ? 16 : kind == 0 ? 0 : 8; }

}  // namespace

// ---------------------------------------------------------------------------
// Geometry

TEST(Array, GeometryOfTheCapacityClasses) {
  // clang-format off
  struct Row {
    uint8_t cls;
    uint32_t entry;
    uint8_t want_class;
    uint32_t capacity, b, pool;
  } rows[] = {
      {6, 8, 6, 1024, 32, 256},         {6, 4096, 6, 1024, 32, 61440},  {6, 70000, 6, 1024, 32, 70000},
      {4, 8, 6, 1024, 32, 256},         {12, 8, 6, 1024, 32, 256},      {0, 8, 6, 1024, 32, 256},
      {5, 8, 5, 16, 4, 32},             {7, 8, 7, 65536, 256, 2048},    {8, 8, 8, 4194304, 2048, 16384},
      {9, 8, 9, 268435456, 16384, 65520}, {10, 24, 10, 1073741824, 32768, 65520},
      {11, 1, 11, 4294836225u, 65535, 65520}, {11, 7, 11, 4294836225u, 65535, 65520},  // stride 8
      {6, 65520, 6, 1024, 32, 65520},   {6, 65521, 6, 1024, 32, 65528},  // stride rounds to 8
      {6, 12, 6, 1024, 32, 512},        {6, 3, 6, 1024, 32, 128},
  };
  // clang-format on
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "class " << int(r.cls) << " entry " << r.entry);
    cArray a(r.entry, 0, r.cls);
    EXPECT_EQ(a.CapacityClass(), r.want_class);
    EXPECT_EQ(a.InitialClass(), r.want_class);
    EXPECT_EQ(a.Capacity(), r.capacity);
    EXPECT_EQ(a.SlotsPerRecord(), r.b);
    EXPECT_EQ(a.RecordBytes(), r.b * sizeof(void*));
    EXPECT_EQ(a.PoolBlockBytes(), r.pool);
    EXPECT_EQ(a.Count(), 0u);
    EXPECT_EQ(a.RecordCount(), 0u);  // no directory before the first entry
  }
  EXPECT_EQ(cArray::GeometryFor(5, 17, 8).capacity_class, 6);
  EXPECT_EQ(cArray::GeometryFor(5, 4294836225u, 8).capacity_class, 11);
  EXPECT_EQ(cArray::GeometryFor(5, 4294836226u, 8).capacity, 0u);  // past class 11
  EXPECT_EQ(cArray::StrideOf(1), 1u);
  EXPECT_EQ(cArray::StrideOf(5), 8u);
  EXPECT_EQ(cArray::StrideOf(20), 24u);
}

TEST(Array, GrowsPastItsClassAndClearReturnsToIt) {
  cArray a(8, 0, 5);
  ASSERT_NE(a.Append(16), nullptr);
  EXPECT_EQ(a.CapacityClass(), 5);
  void* first = a.First();
  ASSERT_NE(a.Append(1), nullptr);
  EXPECT_EQ(a.CapacityClass(), 6);
  EXPECT_EQ(a.Capacity(), 1024u);
  EXPECT_EQ(a.First(), first);  // entries do not move when the directory grows
  EXPECT_EQ(a.Count(), 17u);
  a.Clear();
  EXPECT_EQ(a.CapacityClass(), 5);
  EXPECT_EQ(a.Capacity(), 16u);
  EXPECT_EQ(a.Count(), 0u);
  EXPECT_EQ(a.RecordCount(), 0u);
}

// ---------------------------------------------------------------------------
// Edge cases of the operations

TEST(Array, ArgumentEdgeCases) {
  for (uint8_t kind = 0; kind <= 3; ++kind) {
    SCOPED_TRACE(int(kind));
    cArray a(link_bytes(kind) + 8, kind, 5);
    Model m(a);
    EXPECT_TRUE(a.RemoveLast(0));  // empty: true
    EXPECT_TRUE(a.RemoveAll());
    EXPECT_EQ(a.Append(0), nullptr);
    EXPECT_EQ(a.LastError(), 0);
    EXPECT_EQ(a.Insert(0, 2), nullptr);
    EXPECT_FALSE(a.Delete(1, 1));
    ASSERT_NE(a.Append(3), nullptr);
    m.Added(1, 3);
    EXPECT_EQ(a.Insert(0, 2), nullptr);
    EXPECT_EQ(a.Insert(2, 0), nullptr);
    void* appended = a.Insert(a.Count() + 5, 2);  // beyond the count: appends
    ASSERT_NE(appended, nullptr);
    EXPECT_EQ(a.IndexOf(appended), 4u);
    m.Added(4, 2);
    EXPECT_FALSE(a.RemoveLast(0));
    EXPECT_FALSE(a.Delete(0, 1));
    EXPECT_FALSE(a.Delete(2, 0));
    EXPECT_FALSE(a.Delete(a.Count() + 1, 1));
    EXPECT_TRUE(a.Delete(a.Count(), 10));  // cut to one entry
    m.Removed(5, 1);
    void* gone = m.ptrs[1];
    EXPECT_TRUE(a.Delete(2, 1));
    m.Removed(2, 1);
    EXPECT_EQ(a.IndexOf(gone), 0u);
    EXPECT_EQ(a.IndexOf(nullptr), 0u);
    m.Check("after deletes");
    EXPECT_TRUE(a.RemoveLast(100));
    m.Removed(1, 3);
    m.Check("after RemoveLast");
  }
}

TEST(Array, DeleteJoinsBothLinks) {
  cArray a(24, 3, 6);
  auto* e1 = static_cast<uint8_t*>(a.Append(3));
  ASSERT_NE(e1, nullptr);
  void* e3 = a.Get(3);
  EXPECT_TRUE(a.Delete(2, 1));
  EXPECT_EQ(a.NextOf(e1), e3);
  EXPECT_EQ(a.PrevOf(e3), e1);
  EXPECT_EQ(a.PrevOf(e1), nullptr);
  EXPECT_EQ(a.NextOf(e3), nullptr);
}

TEST(Array, DeletedEntriesAreReusedZeroFilledBeforeNewPoolMemory) {
  for (uint8_t kind = 0; kind <= 3; ++kind) {
    SCOPED_TRACE(int(kind));
    cArray a(link_bytes(kind) + 8, kind, 6);
    ASSERT_NE(a.Append(20), nullptr);
    std::vector<void*> deleted;
    for (uint32_t i : {3u, 4u, 5u, 10u, 20u}) deleted.push_back(a.Get(i));
    for (uint32_t i = 1; i <= 20; ++i) std::memset(static_cast<uint8_t*>(a.Get(i)) + a.LinkBytes(), 0xAB, 8);
    ASSERT_TRUE(a.Delete(20, 1));
    ASSERT_TRUE(a.Delete(10, 1));
    ASSERT_TRUE(a.Delete(3, 3));
    mem_alloc_fail_at(1, true);  // no new memory: only the free list can serve
    void* got = a.Append(5);
    mem_alloc_fail_at(0);
    ASSERT_NE(got, nullptr);
    std::vector<void*> reused;
    for (uint32_t i = 16; i <= 20; ++i) {
      void* e = a.Get(i);
      reused.push_back(e);
      for (uint32_t b = a.LinkBytes(); b < a.EntrySize(); ++b) EXPECT_EQ(static_cast<uint8_t*>(e)[b], 0);
    }
    std::sort(reused.begin(), reused.end());
    std::sort(deleted.begin(), deleted.end());
    EXPECT_EQ(reused, deleted);
  }
}

TEST(Array, EntriesSmallerThanAPointerAreNotReused) {
  cArray a(4, 0, 5);
  ASSERT_NE(a.Append(3), nullptr);
  void* second = a.Get(2);
  ASSERT_TRUE(a.Delete(2, 1));
  void* again = a.Append(1);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, second);
  EXPECT_EQ(a.Count(), 3u);
}

TEST(Array, BadConfigurationFailsClearly) {
  cArray too_small(8, 3, 6);  // cannot hold two links
  EXPECT_EQ(too_small.Append(1), nullptr);
  EXPECT_EQ(too_small.LastError(), errInvariant);
  cArray empty(0, 0, 6);
  EXPECT_EQ(empty.Append(1), nullptr);
  EXPECT_EQ(empty.LastError(), errInvariant);
  cArray bad_kind(32, 7, 6);
  EXPECT_EQ(bad_kind.Insert(1, 1), nullptr);
  EXPECT_EQ(bad_kind.LastError(), errInvariant);
}

// ---------------------------------------------------------------------------
// The model test: random operations on every link kind and several classes,
// compared with a vector after every step.

TEST(Array, RandomOperationsMatchAVectorModel) {
  // clang-format off
  const ArrayCase cases[] = {
      {0, 8, 5}, {1, 8, 5}, {2, 8, 5}, {3, 8, 5}, {0, 4, 5}, {3, 1, 5},
      {0, 12, 6}, {1, 24, 6}, {2, 3, 6}, {3, 8, 7},
      {1, 160, 5, true}, {3, 8, 6, true}, {0, 4, 5, true}, {2, 24, 7, true},
  };
  // clang-format on
  std::mt19937 rng(20261210);
  for (const ArrayCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << int(c.kind) << " payload " << c.payload << " class "
                                    << int(c.capacity_class) << (c.small_pools ? " small pools" : ""));
    cArray a(link_bytes(c.kind) + c.payload, c.kind, c.capacity_class);
    a.SetSmallPools(c.small_pools);
    Model m(a);
    auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    const int steps = c.capacity_class == 5 ? 2500 : 800;
    for (int step = 0; step < steps; ++step) {
      const uint32_t count = a.Count();
      const uint32_t op = pick(0, 99);
      const uint32_t big = count > 400 ? 0 : 1;  // keep the size moderate
      if (op < 28 * big + 2) {
        // An empty array often gets a single entry: small pools give it a
        // one-slot directory that the next entry grows.
        const uint32_t n = count == 0 && pick(0, 1) == 0 ? 1 : pick(0, 40);
        void* e = a.Append(n);
        if (n == 0) {
          ASSERT_EQ(e, nullptr);
        } else {
          ASSERT_NE(e, nullptr) << "Append " << n << " error " << a.LastError();
          ASSERT_EQ(a.IndexOf(e), count + 1);
          m.Added(count + 1, n);
        }
      } else if (op < 60) {
        const uint32_t index = pick(0, count + 2);
        const uint32_t n = pick(0, op < 55 ? 6 : 60) * big;
        void* e = a.Insert(index, n);
        if (n == 0 || index == 0) {
          ASSERT_EQ(e, nullptr);
        } else {
          ASSERT_NE(e, nullptr) << "Insert " << index << "," << n << " error " << a.LastError();
          const uint32_t at = index > count ? count + 1 : index;
          ASSERT_EQ(a.IndexOf(e), at);
          m.Added(at, n);
        }
      } else if (op < 85) {
        const uint32_t index = pick(0, count + 1);
        const uint32_t n = pick(0, 30);
        const bool ok = a.Delete(index, n);
        const bool want = index > 0 && n > 0 && index <= count;
        ASSERT_EQ(ok, want);
        if (ok) m.Removed(index, std::min(n, count - index + 1));
      } else if (op < 95) {
        const uint32_t n = pick(0, 20);
        const bool ok = a.RemoveLast(n);
        ASSERT_EQ(ok, count == 0 || n > 0);
        if (count > 0 && n > 0) m.Removed(count - std::min(n, count) + 1, std::min(n, count));
      } else if (op < 98) {
        cArray target(a.EntrySize(), a.LinkKind(), c.capacity_class);
        ASSERT_NE(target.Append(3), nullptr);
        cArray* copy = pick(0, 1) ? a.Clone(&target) : a.Clone();
        ASSERT_NE(copy, nullptr) << a.LastError();
        Model cm(*copy);
        for (uint32_t i = 1; i <= copy->Count(); ++i) {
          cm.ptrs.push_back(copy->Get(i));
          cm.ids.push_back(m.ids[i - 1]);
        }
        cm.Check("clone");
        for (void* p : cm.ptrs) ASSERT_EQ(a.IndexOf(p), 0u);  // fresh entries
        if (copy != &target) delete copy;
      } else {
        a.Clear();
        m.ptrs.clear();
        m.ids.clear();
        ASSERT_EQ(a.CapacityClass(), a.InitialClass());
      }
      m.Check("step");
      if (HasFatalFailure()) {
        ADD_FAILURE() << "at step " << step;
        return;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Failure injection: every allocation of an Append or Insert fails in turn.

namespace {

struct Snapshot {
  std::vector<void*> ptrs;
  std::vector<std::vector<uint8_t>> bytes;
  static Snapshot Of(const cArray& a) {
    Snapshot s;
    for (uint32_t i = 1; i <= a.Count(); ++i) {
      auto* e = static_cast<uint8_t*>(a.Get(i));
      s.ptrs.push_back(e);
      s.bytes.emplace_back(e, e + a.EntrySize());  // links included
    }
    return s;
  }
  bool operator==(const Snapshot&) const = default;
};

// Fills `a` with `n` entries, each payload stamped with its index.
void fill(cArray& a, uint32_t n) {
  ASSERT_NE(a.Append(n), nullptr);
  for (uint32_t i = 1; i <= n; ++i) {
    uint8_t* e = static_cast<uint8_t*>(a.Get(i)) + a.LinkBytes();
    std::memset(e, int(i), a.EntrySize() - a.LinkBytes());
  }
}

}  // namespace

TEST(Array, FailedAllocationsLeaveTheEntriesAsTheyWere) {
  // clang-format off
  struct Op {
    const char* name;
    uint32_t start;   // entries before the operation
    uint32_t index;   // 0: Append
    uint32_t n;
  } ops[] = {
      {"append within class", 3, 0, 5},   {"append growing", 14, 0, 5},  {"append many", 10, 0, 60},
      {"insert front", 10, 1, 40},        {"insert middle", 10, 2, 40}, {"insert small", 9, 5, 2},
      {"insert full", 16, 8, 1},          {"append to empty", 0, 0, 7},
      {"append one to empty", 0, 0, 1},   {"append to one", 1, 0, 1},   {"insert before the only", 1, 1, 3},
  };
  // clang-format on
  for (const bool small_pools : {false, true})
    for (uint8_t kind = 0; kind <= 3; ++kind) {
      for (const Op& op : ops) {
        SCOPED_TRACE(testing::Message() << "kind " << int(kind) << " " << op.name
                                        << (small_pools ? " small pools" : ""));
        bool succeeded = false;
        for (int64_t k = 1; k < 200 && !succeeded; ++k) {
          cArray a(link_bytes(kind) + 8, kind, 5);
          a.SetSmallPools(small_pools);
          if (op.start > 0) fill(a, op.start);
          if (op.start > 2) {
            ASSERT_TRUE(a.Delete(2, 1));  // one entry on the free list
          }
          const Snapshot before = Snapshot::Of(a);
          mem_alloc_fail_at(k);
          void* got = op.index == 0 ? a.Append(op.n) : a.Insert(op.index, op.n);
          const int64_t allocations = mem_alloc_count();
          mem_alloc_fail_at(0);
          if (got != nullptr) {
            ASSERT_LT(allocations, k) << "succeeded although allocation " << k << " failed";
            ASSERT_EQ(a.Count(), before.ptrs.size() + op.n);
            succeeded = true;
            continue;
          }
          const int32_t e = a.LastError();
          ASSERT_TRUE(e == errNEnoughMem || e == errArrayNoDataSpace) << "error " << e << " at k " << k;
          ASSERT_TRUE(Snapshot::Of(a) == before) << "entries changed at k " << k;
          Model m(a);
          m.ptrs = before.ptrs;
          m.ids.clear();
          for (void* p : m.ptrs) m.ids.push_back(m.get(p));
          m.Check("after failure");
          // The array still works.
          ASSERT_NE(op.index == 0 ? a.Append(op.n) : a.Insert(op.index, op.n), nullptr);
          ASSERT_EQ(a.Count(), before.ptrs.size() + op.n);
        }
        EXPECT_TRUE(succeeded);
      }
    }
}

// Small pools: blocks of 1, 1, 2, 4 ... entries up to the class's block.
// Entries of one block lie one stride apart; a new block never starts right
// after the last one (a block header and the allocator's lie between), so
// the runs of adjacent entries show the blocks. Default pools for contrast.
TEST(Array, SmallPoolsGrowFromOneEntry) {
  struct Row {
    uint8_t cls;
    bool small_pools;
    bool one_by_one;  // else one Append of them all
    uint32_t entries;
    std::vector<uint32_t> blocks;  // entries per block, in order
  } rows[] = {
      {6, true, false, 100, {1, 1, 2, 4, 8, 16, 32, 32, 4}},
      {6, true, true, 100, {1, 1, 2, 4, 8, 16, 32, 32, 4}},
      // Class 5 blocks hold at most 4 entries until the class grows to 6;
      // all at once, the class grows before the first entry.
      {5, true, true, 30, {1, 1, 2, 4, 4, 4, 8, 6}},
      {5, true, false, 30, {1, 1, 2, 4, 8, 14}},
      {6, false, true, 70, {32, 32, 6}},
      {5, false, true, 10, {4, 4, 2}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "class " << int(r.cls) << (r.small_pools ? " small" : " default")
                                    << (r.one_by_one ? " one by one" : " at once"));
    cArray a(16, 1, r.cls);
    a.SetSmallPools(r.small_pools);
    EXPECT_EQ(a.SmallPools(), r.small_pools);
    if (r.one_by_one) {
      for (uint32_t i = 0; i < r.entries; ++i) ASSERT_NE(a.Append(1), nullptr);
    } else {
      ASSERT_NE(a.Append(r.entries), nullptr);
    }
    std::vector<uint32_t> blocks{1};
    for (uint32_t i = 2; i <= r.entries; ++i) {
      const auto* prev = static_cast<const uint8_t*>(a.Get(i - 1));
      if (static_cast<const uint8_t*>(a.Get(i)) == prev + 16)
        ++blocks.back();
      else
        blocks.push_back(1);
    }
    EXPECT_EQ(blocks, r.blocks);
    for (uint32_t i = 1; i <= r.entries; ++i) EXPECT_EQ(reinterpret_cast<uintptr_t>(a.Get(i)) % 16, 0u);
  }
  // A clone keeps small pools; Clear starts again from one entry.
  cArray a(16, 1, 6);
  a.SetSmallPools(true);
  fill(a, 5);
  cArray* copy = a.Clone();
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->SmallPools());
  delete copy;
  a.Clear();
  ASSERT_NE(a.Append(4), nullptr);
  EXPECT_NE(static_cast<uint8_t*>(a.Get(2)), static_cast<uint8_t*>(a.Get(1)) + 16);
  EXPECT_EQ(static_cast<uint8_t*>(a.Get(4)), static_cast<uint8_t*>(a.Get(3)) + 16);
  // A single first entry gets a one-slot directory; the next entry grows it
  // to the class, the first entry kept in place.
  a.Clear();
  void* only = a.Append(1);
  ASSERT_NE(only, nullptr);
  EXPECT_EQ(a.Capacity(), 1u);
  EXPECT_EQ(a.RecordCount(), 1u);
  ASSERT_NE(a.Append(1), nullptr);
  EXPECT_EQ(a.Capacity(), 1024u);
  EXPECT_EQ(a.Get(1), only);
  EXPECT_EQ(a.IndexOf(only), 1u);
  EXPECT_EQ(a.NextOf(only), a.Get(2));
}

// ---------------------------------------------------------------------------
// Clone

TEST(Array, CloneCases) {
  cArray empty(16, 1, 5);
  cArray* copy = empty.Clone();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Count(), 0u);
  EXPECT_EQ(copy->InitialClass(), 5);
  delete copy;

  cArray source(16, 0, 6);
  fill(source, 5);
  EXPECT_EQ(source.Clone(&source), nullptr);  // would clear itself
  EXPECT_EQ(source.LastError(), errArrayCloneNew);
  EXPECT_EQ(source.Count(), 5u);

  cArray target(16, 0, 6);
  fill(target, 9);
  ASSERT_EQ(source.Clone(&target), &target);
  ASSERT_EQ(target.Count(), 5u);
  for (uint32_t i = 1; i <= 5; ++i) EXPECT_EQ(std::memcmp(target.Get(i), source.Get(i), 16), 0);

  // A subclass that owns nothing clones into a plain cArray.
  class cBytes : public cArray {
   public:
    cBytes() : cArray(1, 0, 5) {}
  } bytes;
  ASSERT_NE(bytes.Append(2), nullptr);
  cArray* plain = bytes.Clone();
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(typeid(*plain), typeid(cArray));
  EXPECT_EQ(plain->Count(), 2u);
  delete plain;

  mem_alloc_fail_at(1, true);
  EXPECT_EQ(source.Clone(), nullptr);
  mem_alloc_fail_at(0);
  EXPECT_EQ(source.LastError(), errArrayCloneAppend);
}

TEST(Array, FlowOperationsFailUntilFlowsExist) {
  cArray a(8, 0, 6);
  EXPECT_FALSE(a.SaveTo(nullptr));
  EXPECT_EQ(a.LastError(), errInvariant);
  EXPECT_FALSE(a.LoadFrom(nullptr));
  EXPECT_EQ(a.LastError(), errInvariant);
}

// ---------------------------------------------------------------------------
// Typed entries

namespace {

struct rNamed {
  rNamed* next;
  rNamed* prev;
  std::string name;
  int32_t size;
};

class cThrowingCopy : public cArrayOf<rNamed, 3> {
 public:
  cThrowingCopy() : cArrayOf<rNamed, 3>(5) {}
  bool CopyEntries(const void*, void*, uint32_t) override { throw std::bad_alloc(); }
};

std::string long_name(int i) { return "a name long enough to live on the heap #" + std::to_string(i); }

}  // namespace

TEST(Array, TypedEntriesOwnTheirStrings) {
  cArrayOf<rNamed, 3> a(5);
  std::mt19937 rng(7);
  for (int step = 0; step < 300; ++step) {
    const uint32_t count = a.Count();
    if (count < 40 && rng() % 3 != 0) {
      rNamed* e = a.Insert(uint32_t(rng() % (count + 2)) + 1, 3);
      ASSERT_NE(e, nullptr);
      for (int j = 0; j < 3; ++j, e = a.Next(e)) {
        EXPECT_TRUE(e->name.empty());
        e->name = long_name(step * 3 + j);
      }
    } else if (count > 0) {
      ASSERT_TRUE(a.Delete(uint32_t(rng() % count) + 1, 4));
    }
  }
  ASSERT_GT(a.Count(), 0u);
  a.Get(1)->name = long_name(-1);
  auto* copy = static_cast<cArrayOf<rNamed, 3>*>(a.Clone());  // same class: owns its strings
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->Count(), a.Count());
  for (uint32_t i = 1; i <= a.Count(); ++i) EXPECT_EQ(copy->Get(i)->name, a.Get(i)->name);
  a.Get(1)->name = "changed";
  EXPECT_EQ(copy->Get(1)->name, long_name(-1));
  EXPECT_EQ(copy->Get(1)->next, copy->Get(2));  // links are the copy's own
  delete copy;
  // Strings of deleted entries are destroyed, reused entries are fresh.
  ASSERT_TRUE(a.RemoveAll());
  rNamed* again = a.Append(2);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->name.empty());
  again->name = long_name(99);
}

// A target whose entries differ from the source's (size, link kind, class
// and so its hooks) is refused and left as it was: the copy hook would write
// past its entries or into fields of another type.
TEST(Array, CloneRefusesATargetOfAnotherShape) {
  cArray source(16, 0, 6);
  fill(source, 5);
  cArrayOf<rNamed, 3> named(5);
  ASSERT_NE(named.Append(2), nullptr);
  named.Get(1)->name = long_name(1);
  cArray plain_named(uint32_t(sizeof(rNamed)), 3, 5);
  ASSERT_NE(plain_named.Append(2), nullptr);

  cArray smaller(8, 0, 6), larger(64, 0, 6), linked(16, 1, 6), doubly(16, 3, 6);
  struct Case {
    const char* what;
    cArray* from;
    cArray* target;
  } cases[] = {
      {"smaller entries", &source, &smaller},     {"larger entries", &source, &larger},
      {"next links", &source, &linked},           {"both links", &source, &doubly},
      {"typed into plain", &named, &plain_named}, {"plain into typed", &plain_named, &named},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.target->Count() == 0) fill(*c.target, 9);
    const uint32_t count = c.target->Count();
    std::vector<std::string> before;
    for (uint32_t i = 1; i <= count; ++i)
      before.emplace_back(static_cast<const char*>(c.target->Get(i)), c.target->EntrySize());
    EXPECT_EQ(c.from->Clone(c.target), nullptr);
    EXPECT_EQ(c.from->LastError(), errArrayCloneNew);
    ASSERT_EQ(c.target->Count(), count);
    for (uint32_t i = 1; i <= count; ++i)
      EXPECT_EQ(std::string(static_cast<const char*>(c.target->Get(i)), c.target->EntrySize()), before[i - 1]);
  }
  EXPECT_EQ(named.Get(1)->name, long_name(1));
}

TEST(Array, AHookThatThrowsBecomesAFailedClone) {
  cThrowingCopy a;
  rNamed* e = a.Append(2);
  ASSERT_NE(e, nullptr);
  e->name = long_name(1);
  cThrowingCopy target;
  EXPECT_EQ(a.Clone(&target), nullptr);
  EXPECT_EQ(a.LastError(), errNEnoughMem);
  EXPECT_EQ(a.Clone(), nullptr);  // the new copy is released again
}

TEST(Array, EntriesThatCannotBeCopiedFailTheClone) {
  struct rOwner {
    std::unique_ptr<std::string> text;
  };
  cArrayOf<rOwner, 0> a(5);
  rOwner* e = a.Append(1);
  ASSERT_NE(e, nullptr);
  e->text = std::make_unique<std::string>(long_name(3));
  EXPECT_EQ(a.Clone(), nullptr);
  EXPECT_EQ(a.LastError(), errArrayCloneCopy);
}

TEST(Array, FailedTypedAppendReleasesWhatItBuilt) {
  for (int64_t k = 1; k < 20; ++k) {
    cArrayOf<rNamed, 1> a(5);
    rNamed* e = a.Append(10);
    ASSERT_NE(e, nullptr);
    for (; e != nullptr; e = a.Next(e)) e->name = long_name(int(k));
    mem_alloc_fail_at(k);
    rNamed* got = a.Append(30);
    mem_alloc_fail_at(0);
    if (got != nullptr) break;
    EXPECT_EQ(a.Count(), 10u);
    EXPECT_EQ(a.Last()->name, long_name(int(k)));
    EXPECT_EQ(a.Last()->next, nullptr);
  }
}

#if defined(__SANITIZE_ADDRESS__)
// Deleted entries are poisoned beyond their free-list field, so a use after
// Delete is reported.
TEST(ArrayDeathTest, UseOfADeletedEntryIsReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  cArray a(32, 1, 6);
  ASSERT_NE(a.Append(3), nullptr);
  auto* gone = static_cast<volatile uint8_t*>(a.Get(2));
  ASSERT_TRUE(a.Delete(2, 1));
  EXPECT_DEATH(gone[16] = 1, "use-after-poison");
}
#endif

// The sorters permute slot references and relink the range.
TEST(Array, PermutedSlotsAreRelinked) {
  for (uint8_t kind = 0; kind <= 3; ++kind) {
    for (auto [first, last] : {std::pair{1u, 30u}, {4u, 9u}, {1u, 5u}, {25u, 30u}, {7u, 7u}}) {
      SCOPED_TRACE(testing::Message() << "kind " << int(kind) << " range " << first << ".." << last);
      cArray a(link_bytes(kind) + 8, kind, 5);
      Model m(a);
      ASSERT_NE(a.Append(30), nullptr);
      m.Added(1, 30);
      std::reverse(m.ptrs.begin() + (first - 1), m.ptrs.begin() + last);
      std::reverse(m.ids.begin() + (first - 1), m.ids.begin() + last);
      for (uint32_t i = first; i <= last; ++i) *a.SlotOf(i) = m.ptrs[i - 1];
      a.RelinkRange(first, last);
      m.Check("relinked");
    }
  }
  cArray a(16, 1, 5);
  EXPECT_EQ(a.SlotOf(1), nullptr);
  EXPECT_EQ(a.RecordAt(0), nullptr);
  ASSERT_NE(a.Append(1), nullptr);
  EXPECT_NE(a.RecordAt(3), nullptr);
  EXPECT_EQ(a.RecordAt(4), nullptr);
  EXPECT_EQ(a.SlotOf(2), nullptr);
}
