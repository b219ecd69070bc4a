// Host clock services: a monotonic high-resolution counter, the local wall
// clock split into calendar fields, and the proleptic Gregorian calendar used
// to turn a file time (100 ns ticks since 1 January 1601) into fields.
#pragma once
#include <cstdint>

namespace plat {

// Ticks of the monotonic counter; the frequency is ticks per second.
int64_t clock_counter();
int64_t clock_frequency();

struct LocalTime {
  int year = 0;
  int month = 0;    // 1..12
  int day = 0;      // 1..31
  int weekday = 0;  // 0 = Sunday .. 6 = Saturday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// The local wall clock, read once.
LocalTime clock_local_now();

// Splits a count of days since 1 January 1601 into year, month and day
// (proleptic Gregorian); weekday 0 = Sunday.
void civil_from_days_1601(int64_t days, int& year, int& month, int& day, int& weekday);

}  // namespace plat
