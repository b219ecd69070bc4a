#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "plat_path_map.h"
#include "qlm_platform.h"

TEST(Timer, ElapsedIsNonNegativeAndSigned) {
  int64_t start = 0;
  ASSERT_TRUE(timer_counter(start));
  const double ms = timer_elapsed_ms(start);
  EXPECT_GE(ms, 0.0);
  EXPECT_LT(ms, 1000.0);
  // A start taken a second "later" than now gives a negative reading.
  EXPECT_LT(timer_elapsed_ms(start + 1000000000LL * 10), -5000.0);
}

TEST(Dates, FileTimeConversion) {
  struct {
    uint64_t filetime;
    int year, month, day, weekday, hour, minute, second, ms;
  } cases[] = {
      {0, 1601, 1, 1, 1, 0, 0, 0, 0},                      // a Monday
      {116444736000000000ull, 1970, 1, 1, 4, 0, 0, 0, 0},  // the Unix epoch, a Thursday
      {116444736000000000ull + 10000ull * 86399999, 1970, 1, 1, 4, 23, 59, 59, 999},
      {132223104000000000ull, 2020, 1, 1, 3, 0, 0, 0, 0},                          // a Wednesday
      {125911584000000000ull, 2000, 1, 1, 6, 0, 0, 0, 0},                          // Saturday
      {125911584000000000ull + 864000000000ull * 59, 2000, 2, 29, 2, 0, 0, 0, 0},  // leap day, Tuesday
      {134378784000000000ull, 2026, 10, 31, 6, 0, 0, 0, 0},
      {134379648000000000ull, 2026, 11, 1, 0, 0, 0, 0, 0},  // a Sunday stores 0
  };
  for (const auto& c : cases) {
    rDateTime dt;
    ASSERT_TRUE(filetime_to_datetime(dt, c.filetime));
    EXPECT_EQ(dt.year, c.year) << c.filetime;
    EXPECT_EQ(dt.month, c.month) << c.filetime;
    EXPECT_EQ(dt.day, c.day) << c.filetime;
    EXPECT_EQ(dt.weekday, c.weekday) << c.filetime;
    EXPECT_EQ(dt.hour, c.hour);
    EXPECT_EQ(dt.minute, c.minute);
    EXPECT_EQ(dt.second, c.second);
    EXPECT_EQ(dt.millisecond, c.ms);
  }
  rDateTime dt;
  dt.year = 5;
  EXPECT_FALSE(filetime_to_datetime(dt, 0x8000000000000000ull));
  EXPECT_EQ(dt.year, 0);
  // The largest convertible value stays within 16-bit years.
  ASSERT_TRUE(filetime_to_datetime(dt, 0x7FFFFFFFFFFFFFFFull));
  EXPECT_EQ(dt.year, 30828);
}

TEST(Dates, NowMatchesTheLocalClock) {
  rDate d;
  rTime t;
  const uint16_t wd = date_now(d);
  time_now(t);
  const time_t now = time(nullptr);
  tm parts{};
  localtime_r(&now, &parts);
  EXPECT_EQ(wd, d.weekday);
  EXPECT_EQ(d.weekday, parts.tm_wday + 1);  // 1 = Sunday
  EXPECT_EQ(d.year, parts.tm_year + 1900);
  EXPECT_EQ(d.month, parts.tm_mon + 1);
  EXPECT_LE(t.hour, 23);
  EXPECT_LE(t.minute, 59);
  EXPECT_LE(t.second, 59);
  EXPECT_LE(t.millisecond, 999);
  EXPECT_EQ(sizeof(rDate), 6u);
  EXPECT_EQ(sizeof(rTime), 8u);
  EXPECT_EQ(sizeof(rDateTime), 14u);
}

TEST(Params, ProgramPathAndArguments) {
  const std::string self = param_str(0);
  ASSERT_EQ(self.rfind("C:\\", 0), 0u) << self;
  std::string host;
  ASSERT_EQ(plat::to_posix(self, host), 0) << self;
  EXPECT_TRUE(std::filesystem::exists(host)) << host;
  // The mapped name leads back to the same Windows name.
  std::string again;
  ASSERT_TRUE(plat::from_posix(host, again));
  EXPECT_EQ(again, self);
  EXPECT_EQ(param_str(param_count()), "");
  EXPECT_EQ(param_str(-1), "");
}
