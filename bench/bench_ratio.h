// Shared by the benchmark programs: run every benchmark, then print for each
// pair (ours, limit) the ratio of their times per iteration (1.0 = as fast as
// the limit, 2.0 = twice as slow).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) times[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

inline int run_with_ratios(int argc, char** argv, const std::vector<std::pair<std::string, std::string>>& pairs) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const auto& [ours, limit] : pairs) {
    const auto a = reporter.times.find(ours);
    const auto b = reporter.times.find(limit);
    if (a != reporter.times.end() && b != reporter.times.end() && b->second > 0)
      std::printf("%s / %s = %.2f\n", ours.c_str(), limit.c_str(), a->second / b->second);
  }
  return 0;
}

}  // namespace bench
