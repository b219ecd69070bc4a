#include "qlm_platform.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "plat_clock.h"
#include "plat_path_map.h"
#include "plat_process.h"
#include "plat_shell_link.h"

namespace {

// Counter frequency, 0 until first read; every thread that reads it stores
// the same value.
std::atomic<int64_t> g_frequency{0};

std::mutex g_params_lock;
std::vector<std::string> g_params;

// Link files and their targets are named in the system's form; the link
// writer reaches them through the same drive mapping as every other file.
bool link_name_to_host(const std::string& name, std::string& host) {
  return plat::to_posix(name, host) == plat::kPathOk;
}

}  // namespace

bool timer_counter(int64_t& counter) {
  counter = plat::clock_counter();
  return true;
}

double timer_elapsed_ms(int64_t start) {
  int64_t freq = g_frequency.load(std::memory_order_relaxed);
  if (freq == 0) {
    freq = plat::clock_frequency();
    g_frequency.store(freq, std::memory_order_relaxed);
  }
  const int64_t now = plat::clock_counter();
  const long double diff = (long double)now - (long double)start;
  return double(diff * 1000.0L / (long double)freq);
}

uint16_t date_now(rDate& date) {
  const plat::LocalTime t = plat::clock_local_now();
  date.day = uint8_t(t.day);
  date.month = uint8_t(t.month);
  date.year = uint16_t(t.year);
  date.weekday = uint16_t(t.weekday + 1);
  return date.weekday;
}

void time_now(rTime& time) {
  const plat::LocalTime t = plat::clock_local_now();
  time.hour = uint16_t(t.hour);
  time.minute = uint16_t(t.minute);
  time.second = uint16_t(t.second);
  time.millisecond = uint16_t(t.millisecond);
}

void datetime_now(rDate& date, rTime& time) {
  const plat::LocalTime t = plat::clock_local_now();
  date.day = uint8_t(t.day);
  date.month = uint8_t(t.month);
  date.year = uint16_t(t.year);
  date.weekday = uint16_t(t.weekday + 1);
  time.hour = uint16_t(t.hour);
  time.minute = uint16_t(t.minute);
  time.second = uint16_t(t.second);
  time.millisecond = uint16_t(t.millisecond);
}

bool filetime_to_datetime(rDateTime& dt, uint64_t filetime) {
  dt = rDateTime{};
  if (filetime >= (uint64_t(1) << 63)) return false;
  constexpr uint64_t kTicksPerMs = 10000;
  constexpr uint64_t kMsPerDay = 86400000;
  const uint64_t total_ms = filetime / kTicksPerMs;
  const uint64_t days = total_ms / kMsPerDay;
  uint64_t ms = total_ms % kMsPerDay;
  int year, month, day, weekday;
  plat::civil_from_days_1601(int64_t(days), year, month, day, weekday);
  dt.day = uint8_t(day);
  dt.month = uint8_t(month);
  dt.year = uint16_t(year);
  dt.weekday = uint16_t(weekday);
  dt.hour = uint16_t(ms / 3600000);
  ms %= 3600000;
  dt.minute = uint16_t(ms / 60000);
  ms %= 60000;
  dt.second = uint16_t(ms / 1000);
  dt.millisecond = uint16_t(ms % 1000);
  return true;
}

std::string param_str(int32_t index) {
  std::lock_guard<std::mutex> lock(g_params_lock);
  if (index < 0 || size_t(index) >= g_params.size()) return {};
  return g_params[size_t(index)];
}

int32_t param_count() {
  std::lock_guard<std::mutex> lock(g_params_lock);
  return int32_t(g_params.size());
}

void platform_start(int argc, char** argv) {
  std::lock_guard<std::mutex> lock(g_params_lock);
  g_params.clear();
  // The program's own path, in Windows form; empty when the host cannot
  // tell or the path cannot be written as a Windows name.
  std::string host = plat::process_exe_path();
  if (host.empty() && argc > 0 && argv && argv[0] && argv[0][0] == '/') host = argv[0];
  std::string self;
  if (!plat::from_posix(host, self)) self.clear();
  g_params.push_back(self);
  for (int i = 1; i < argc; ++i) g_params.push_back(argv[i] ? argv[i] : "");
  plat::shell_link_set_path_mapper(&link_name_to_host);
}

void platform_stop() {
  plat::shell_link_set_path_mapper(nullptr);
  std::lock_guard<std::mutex> lock(g_params_lock);
  g_params.clear();
}
