// The framework's clock and process helpers: a high-resolution counter with
// millisecond readings, the local date and time as small packed records, the
// conversion of a file time into calendar fields, and the program arguments.
#pragma once

#include <cstdint>
#include <string>

#pragma pack(push, 1)
struct rDate {
  uint8_t day = 0;    // 1..31
  uint8_t month = 0;  // 1..12
  uint16_t year = 0;
  uint16_t weekday = 0;  // 1 = Sunday .. 7 = Saturday
};

struct rTime {
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t millisecond = 0;
};

struct rDateTime {
  uint8_t day = 0;
  uint8_t month = 0;
  uint16_t year = 0;
  uint16_t weekday = 0;  // 0 = Sunday .. 6 = Saturday
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t millisecond = 0;
};
#pragma pack(pop)

// Stores the current high-resolution counter; answers success.
bool timer_counter(int64_t& counter);
// Milliseconds elapsed since `start` (a value stored by timer_counter);
// negative when `start` lies after now.
double timer_elapsed_ms(int64_t start);
// Today's local date; answers the weekday (1 = Sunday .. 7 = Saturday).
uint16_t date_now(rDate& date);
// The local time of day.
void time_now(rTime& time);
// Today's local date and the time of day from one reading of the clock.
void datetime_now(rDate& date, rTime& time);
// Converts a file time (100 ns intervals since 1 January 1601, no time-zone
// conversion). File times of 2^63 and above cannot be converted: the record
// is zeroed and the answer is false.
bool filetime_to_datetime(rDateTime& dt, uint64_t filetime);

// Command-line argument by index: 0 is the program's own absolute path in
// Windows form ("C:\..."), empty when it cannot be written as one; an index
// beyond the last argument gives the empty string.
std::string param_str(int32_t index);
int32_t param_count();

// Switches the platform layer on with the program's arguments, and off.
// The start also makes the shell-link writer map its file names through the
// drive mapping (plat::to_posix); the stop returns it to host names.
void platform_start(int argc, char** argv);
void platform_stop();
