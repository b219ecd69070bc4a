// Shared by the benchmark programs: run every benchmark, then print for each
// pair (ours, baseline) the throughput ratio, that is the baseline's time per
// iteration divided by ours (1.00 = as fast as the baseline, 0.50 = half its
// speed, above 1 = faster).
//
// The ratio is one of CPU time: the time the benchmark's thread spent
// running (Google Benchmark's CPU timer reads CLOCK_THREAD_CPUTIME_ID, or the
// process's CPU time for a benchmark declared MeasureProcessCPUTime()). On a
// shared machine wall-clock time spreads by a fifth from one round to the
// next while CPU time stays within a few per cent, so the wall-clock ratio is
// printed beside it for reference only. A pair whose benchmarks declare
// UseRealTime() or UseManualTime() (work in other threads, waiting on a disk)
// is measured by wall-clock time, and says so.
//
// By default every program runs 7 repetitions in random interleaved order
// (--benchmark_repetitions=7 --benchmark_enable_random_interleaving=true),
// so both sides of a pair see the same load of a busy machine; running one
// side to completion before the other can misread a ratio several times
// over. Either flag given on the command line wins over the default.
//
// Runs are grouped by benchmark name without the repetition suffix: the
// ratio is taken from the median time of each side's repetitions, and the
// lowest and highest ratio of the repetitions taken pairwise are printed
// beside it.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// The times per iteration of one benchmark's repetitions.
struct Times {
  std::vector<double> cpu;
  std::vector<double> wall;
  bool wall_by_design = false;  // UseRealTime() or UseManualTime()
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
      std::string key = r.run_name.function_name;
      if (!r.run_name.args.empty()) key += "/" + r.run_name.args;
      Times& t = times[key];
      t.cpu.push_back(r.GetAdjustedCPUTime());
      t.wall.push_back(r.GetAdjustedRealTime());
      const std::string& type = r.run_name.time_type;
      t.wall_by_design = t.wall_by_design || type.find("real_time") != std::string::npos ||
                         type.find("manual_time") != std::string::npos;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, Times> times;
};

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Ratio of medians baseline / ours, and the range of the pairwise ratios of
// the repetitions (low = high = ratio for a single repetition).
struct Ratio {
  double ratio = 0, low = 0, high = 0;
  bool valid = false;
};

inline Ratio ratio_of(const std::vector<double>& ours, const std::vector<double>& baseline) {
  Ratio r;
  if (ours.empty() || baseline.empty()) return r;
  const double ours_time = median(ours);
  if (ours_time <= 0) return r;
  r.ratio = median(baseline) / ours_time;
  r.low = r.high = r.ratio;
  const size_t n = std::min(ours.size(), baseline.size());
  if (n > 1) {
    r.low = 1e300;
    r.high = 0;
    for (size_t i = 0; i < n; ++i) {
      if (ours[i] <= 0) continue;
      const double q = baseline[i] / ours[i];
      r.low = std::min(r.low, q);
      r.high = std::max(r.high, q);
    }
  }
  r.valid = true;
  return r;
}

// argv with the interleaved-repetition defaults added where the command line
// does not set them. The strings live as long as the program.
inline std::vector<char*> with_default_repetitions(int argc, char** argv) {
  static std::string repetitions = "--benchmark_repetitions=7";
  static std::string interleave = "--benchmark_enable_random_interleaving=true";
  bool has_repetitions = false, has_interleave = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    has_repetitions = has_repetitions || a.rfind("--benchmark_repetitions", 0) == 0;
    has_interleave = has_interleave || a.rfind("--benchmark_enable_random_interleaving", 0) == 0;
  }
  std::vector<char*> args(argv, argv + argc);
  if (!has_repetitions) args.push_back(repetitions.data());
  if (!has_interleave) args.push_back(interleave.data());
  args.push_back(nullptr);
  return args;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Prints one line per pair found in the reporter's times.
inline void print_ratios(const RatioReporter& reporter, const Pairs& pairs) {
  for (const auto& [ours, baseline] : pairs) {
    const auto a = reporter.times.find(ours);
    const auto b = reporter.times.find(baseline);
    if (a == reporter.times.end() || b == reporter.times.end()) continue;
    const Ratio wall = ratio_of(a->second.wall, b->second.wall);
    if (!wall.valid) continue;
    const size_t n = std::min(a->second.wall.size(), b->second.wall.size());
    if (a->second.wall_by_design || b->second.wall_by_design) {
      std::printf("%s / %s = %.3f wall-clock by design (median of %zu; %.3f to %.3f)\n", ours.c_str(), baseline.c_str(),
                  wall.ratio, n, wall.low, wall.high);
      continue;
    }
    const Ratio cpu = ratio_of(a->second.cpu, b->second.cpu);
    if (!cpu.valid) continue;
    std::printf("%s / %s = %.3f CPU (median of %zu; %.3f to %.3f), wall %.3f (%.3f to %.3f)\n", ours.c_str(),
                baseline.c_str(), cpu.ratio, n, cpu.low, cpu.high, wall.ratio, wall.low, wall.high);
  }
}

// Runs the benchmarks and prints the ratios of `pairs` (ours, a peer's
// baseline), then those of `own_steps` (two of our own steps, such as a part
// against the whole: a budget, not a comparison with anyone) under their own
// heading.
inline int run_with_ratios(int argc_in, char** argv_in, const Pairs& pairs, const Pairs& own_steps = {}) {
  static std::vector<char*> args = with_default_repetitions(argc_in, argv_in);
  int argc = int(args.size()) - 1;
  char** argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf(
      "\nthroughput ratios, baseline time / our time (1.00 = as fast as the baseline), of CPU time\n"
      "(median; lowest to highest of the repetitions), wall-clock time beside:\n");
  print_ratios(reporter, pairs);
  if (!own_steps.empty()) {
    std::printf("\nratios between two of our own steps (first / second, time of the second / time of the first):\n");
    print_ratios(reporter, own_steps);
  }
  return 0;
}

}  // namespace bench
