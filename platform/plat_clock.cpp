#include "plat_clock.h"

#include <ctime>

namespace plat {

int64_t clock_counter() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t clock_frequency() { return 1000000000; }

LocalTime clock_local_now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  // The fields of the current whole second, per thread: localtime_r takes the
  // time-zone lock and works through the zone's rules on every call, and log
  // rows ask many times a second (a JPEG decode logs a few dozen). Zone
  // offsets change only at whole seconds; a zone re-read by tzset shows from
  // the next second on.
  thread_local bool cached = false;
  thread_local time_t cached_second = 0;
  thread_local LocalTime fields;
  if (!cached || ts.tv_sec != cached_second) {
    time_t secs = ts.tv_sec;
    tm parts{};
    localtime_r(&secs, &parts);
    fields.year = parts.tm_year + 1900;
    fields.month = parts.tm_mon + 1;
    fields.day = parts.tm_mday;
    fields.weekday = parts.tm_wday;
    fields.hour = parts.tm_hour;
    fields.minute = parts.tm_min;
    fields.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;  // a leap second reads as :59
    cached_second = ts.tv_sec;
    cached = true;
  }
  LocalTime t = fields;
  t.millisecond = int(ts.tv_nsec / 1000000);
  return t;
}

void civil_from_days_1601(int64_t days, int& year, int& month, int& day, int& weekday) {
  // 1 January 1601 was a Monday.
  weekday = int((days % 7 + 7 + 1) % 7);
  // Shift to an era-based count starting 1 March 1600 (a 400-year cycle start).
  const int64_t z = days + 306;  // days from 1600-03-01 to 1601-01-01
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + 1600 + (m <= 2 ? 1 : 0);
  year = int(y);
  month = int(m);
  day = int(d);
}

}  // namespace plat
