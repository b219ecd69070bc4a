#include <gtest/gtest.h>

#include "plat_clock.h"

TEST(PlatClock, CounterIsMonotonic) {
  const int64_t a = plat::clock_counter();
  const int64_t b = plat::clock_counter();
  EXPECT_LE(a, b);
  EXPECT_GT(plat::clock_frequency(), 0);
}

TEST(PlatClock, CalendarWalksEveryDayOfFourCenturies) {
  // Walk day by day from 1601 and check the calendar against a simple model.
  int y = 1601, m = 1, d = 1, wd = 1;
  auto days_in = [](int year, int month) {
    static const int k[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : k[month - 1];
  };
  for (int64_t day = 0; day < 146097 + 400; ++day) {
    int yy, mm, dd, ww;
    plat::civil_from_days_1601(day, yy, mm, dd, ww);
    ASSERT_EQ(yy, y) << day;
    ASSERT_EQ(mm, m) << day;
    ASSERT_EQ(dd, d) << day;
    ASSERT_EQ(ww, wd) << day;
    wd = (wd + 1) % 7;
    if (++d > days_in(y, m)) {
      d = 1;
      if (++m > 12) m = 1, ++y;
    }
  }
}
