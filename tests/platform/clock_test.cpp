#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <vector>

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

// The local time's fields are those of localtime_r for a second read just
// before or just after, across a change of second (the fields of a second
// are kept between calls and must be renewed when it passes).
TEST(PlatClock, LocalTimeFollowsTheSecond) {
  auto fields = [](time_t secs) {
    tm parts{};
    localtime_r(&secs, &parts);
    return std::vector<int>{
        parts.tm_year + 1900, parts.tm_mon + 1,          parts.tm_mday, parts.tm_wday, parts.tm_hour,
        parts.tm_min,         std::min(parts.tm_sec, 59)};
  };
  // The second of CLOCK_REALTIME itself (time() may read a coarser clock).
  auto now = [] {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
  };
  const time_t start = now();
  int seconds_seen = 0;
  time_t last = -1;
  while (seconds_seen < 2) {
    const time_t before = now();
    const plat::LocalTime t = plat::clock_local_now();
    const time_t after = now();
    const std::vector<int> got = {t.year, t.month, t.day, t.weekday, t.hour, t.minute, t.second};
    ASSERT_TRUE(got == fields(before) || got == fields(after)) << t.hour << ":" << t.minute << ":" << t.second;
    ASSERT_GE(t.millisecond, 0);
    ASSERT_LE(t.millisecond, 999);
    if (before == after && before != last) {
      ++seconds_seen;
      last = before;
    }
    ASSERT_LT(now() - start, 5);
  }
}
