// cRichList: order, counts and links while entries are appended and removed
// across the inside entry and the growing blocks, and what it destroys.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "qlm_rich_list.h"

namespace {

struct Entry {
  Entry* next = nullptr;
  std::unique_ptr<int> value;  // destroyed with the entry (ASan sees a leak)
};

// The values along the links, checked against Count and Last.
std::vector<int> walk(const cRichList<Entry>& list) {
  std::vector<int> values;
  const Entry* last = nullptr;
  for (const Entry* e = list.First(); e != nullptr; e = e->next) {
    values.push_back(*e->value);
    last = e;
  }
  EXPECT_EQ(values.size(), list.Count());
  EXPECT_EQ(last, list.Last());
  return values;
}

}  // namespace

TEST(RichList, AppendAndRemoveAcrossBlocks) {
  // clang-format off
  struct Case {
    int append, remove, append_again;
  } cases[] = {
      {1, 0, 0},  {1, 1, 0},  {1, 1, 2},     {2, 1, 0},   {2, 2, 3},  {3, 1, 1},
      {7, 4, 9},  {8, 8, 1},  {100, 37, 50}, {5000, 4999, 3}, {4, 10, 2},  // more removed than held
  };
  // clang-format on
  for (const Case& c : cases) {
    cRichList<Entry> list;
    std::vector<int> expected;
    std::vector<Entry*> addresses;
    int next = 0;
    for (int i = 0; i < c.append; ++i) {
      Entry* e = list.Append();
      ASSERT_EQ(e->next, nullptr);
      e->value = std::make_unique<int>(next);
      expected.push_back(next++);
      addresses.push_back(e);
    }
    list.RemoveLast(uint32_t(c.remove));
    const size_t kept = expected.size() - std::min<size_t>(expected.size(), size_t(c.remove));
    expected.resize(kept);
    for (int i = 0; i < c.append_again; ++i) {
      list.Append()->value = std::make_unique<int>(next);
      expected.push_back(next++);
    }
    EXPECT_EQ(walk(list), expected) << c.append << " " << c.remove << " " << c.append_again;
    // Entries kept did not move.
    size_t i = 0;
    for (const Entry* e = list.First(); e != nullptr && i < kept; e = e->next, ++i) EXPECT_EQ(e, addresses[i]);
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.First(), nullptr);
    EXPECT_EQ(list.Last(), nullptr);
    list.Append()->value = std::make_unique<int>(7);
    EXPECT_EQ(walk(list), std::vector<int>{7});
  }
}
