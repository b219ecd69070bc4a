// Shared by the benchmark programs: run every benchmark, then print for each
// pair (ours, baseline) the throughput ratio, that is the baseline's time per
// iteration divided by ours (1.00 = as fast as the baseline, 0.50 = half its
// speed, above 1 = faster).
//
// By default every program runs 5 repetitions in random interleaved order
// (--benchmark_repetitions=5 --benchmark_enable_random_interleaving=true),
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

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
      std::string key = r.run_name.function_name;
      if (!r.run_name.args.empty()) key += "/" + r.run_name.args;
      times[key].push_back(r.GetAdjustedRealTime());
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, std::vector<double>> times;
};

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// argv with the interleaved-repetition defaults added where the command line
// does not set them. The strings live as long as the program.
inline std::vector<char*> with_default_repetitions(int argc, char** argv) {
  static std::string repetitions = "--benchmark_repetitions=5";
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

inline int run_with_ratios(int argc_in, char** argv_in,
                           const std::vector<std::pair<std::string, std::string>>& pairs) {
  static std::vector<char*> args = with_default_repetitions(argc_in, argv_in);
  int argc = int(args.size()) - 1;
  char** argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\nthroughput ratios, baseline time / our time (1.00 = as fast as the baseline):\n");
  for (const auto& [ours, baseline] : pairs) {
    const auto a = reporter.times.find(ours);
    const auto b = reporter.times.find(baseline);
    if (a == reporter.times.end() || b == reporter.times.end() || a->second.empty() || b->second.empty()) continue;
    const double ours_time = median(a->second);
    if (ours_time <= 0) continue;
    const double ratio = median(b->second) / ours_time;
    const size_t n = std::min(a->second.size(), b->second.size());
    if (n > 1) {
      double low = 1e300, high = 0;
      for (size_t i = 0; i < n; ++i) {
        if (a->second[i] <= 0) continue;
        const double r = b->second[i] / a->second[i];
        low = std::min(low, r);
        high = std::max(high, r);
      }
      std::printf("%s / %s = %.3f (median of %zu; %.3f to %.3f)\n", ours.c_str(), baseline.c_str(), ratio, n, low,
                  high);
    } else {
      std::printf("%s / %s = %.3f\n", ours.c_str(), baseline.c_str(), ratio);
    }
  }
  return 0;
}

}  // namespace bench
