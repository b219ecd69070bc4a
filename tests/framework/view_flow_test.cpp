// The read-only view flow over caller bytes.
#include <gtest/gtest.h>

#include <string>

#include "qlm_base_view_flow.h"

TEST(ViewFlow, ReadsTheCallersBytesInPlace) {
  const std::string bytes = "IDF100 and more";
  cViewFlow flow(bytes.data(), int64_t(bytes.size()));
  EXPECT_FALSE(flow.IsOpened());
  char buf[16] = {};
  EXPECT_FALSE(flow.Read(buf, 1));  // closed
  ASSERT_TRUE(flow.Open());
  EXPECT_EQ(flow.Size(), int64_t(bytes.size()));
  EXPECT_EQ(flow.Here(), reinterpret_cast<const uint8_t*>(bytes.data()));
  ASSERT_TRUE(flow.Read(buf, 6));
  EXPECT_EQ(std::string(buf, 6), "IDF100");
  EXPECT_EQ(flow.LastIO(), 6u);
  EXPECT_EQ(flow.Curr(), 6);
  EXPECT_EQ(flow.Here(), reinterpret_cast<const uint8_t*>(bytes.data()) + 6);

  // A read past the end moves what there is and fails.
  ASSERT_TRUE(flow.Seek(11));
  EXPECT_FALSE(flow.Read(buf, 8));
  EXPECT_EQ(flow.LastIO(), 4u);
  EXPECT_EQ(std::string(buf, 4), "more");
  EXPECT_TRUE(flow.Eof());
  EXPECT_TRUE(flow.Read(buf, 0));

  EXPECT_TRUE(flow.Seek(int64_t(bytes.size())));
  EXPECT_FALSE(flow.Seek(int64_t(bytes.size()) + 1));
  EXPECT_FALSE(flow.Seek(-1));
  EXPECT_FALSE(flow.Read(nullptr, 1));
  EXPECT_FALSE(flow.Read(buf, -1));

  cViewFlow bad(nullptr, 4);
  EXPECT_FALSE(bad.Open());
  cViewFlow none(nullptr, 0);
  EXPECT_TRUE(none.Open());
  EXPECT_TRUE(none.Eof());
}
