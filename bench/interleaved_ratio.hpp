// Ratios of the library's time to a baseline's, measured in the same run.
//
// On a shared machine a load that comes and goes would slow one side of a
// ratio and not the other, so the figure to trust comes from rounds of a
// few milliseconds of each side, alternating: both meet the same load.  The
// median of the rounds' ratios is printed with the quartiles.  The ratio of
// the two benchmarks' median times (RatioReporter) is printed beside it.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace interleaved_ratio {

struct RatioFigures {
  double median;
  double low_quartile;
  double high_quartile;
};

// `passes_per_round` calls of `ours`, then as many of `baseline`, 31 times.
template <typename Ours, typename Baseline>
RatioFigures measure(Ours ours, Baseline baseline, int passes_per_round) {
  using Clock = std::chrono::steady_clock;
  constexpr int kRounds = 31;
  std::vector<double> ratios;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = Clock::now();
    for (int i = 0; i < passes_per_round; ++i) benchmark::DoNotOptimize(ours());
    const auto middle = Clock::now();
    for (int i = 0; i < passes_per_round; ++i) benchmark::DoNotOptimize(baseline());
    const auto end = Clock::now();
    ratios.push_back(std::chrono::duration<double>(middle - start).count() /
                     std::chrono::duration<double>(end - middle).count());
  }
  std::sort(ratios.begin(), ratios.end());
  return {ratios[kRounds / 2], ratios[kRounds / 4], ratios[kRounds - 1 - kRounds / 4]};
}

// Console output as usual, plus the median time of each benchmark, for the
// ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  struct Times {
    double real = 0;
    double cpu = 0;
  };

  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.error_occurred) continue;
      const std::string name = run.run_name.function_name + "/" + run.run_name.args;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && !has_median_[name];
      if (median || single) times_[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
      if (median) has_median_[name] = true;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Time of `ours` over time of `baseline`; 0 when either is missing.
  Times slowdown(const std::string &ours, const std::string &baseline) const {
    const auto a = times_.find(ours);
    const auto b = times_.find(baseline);
    if (a == times_.end() || b == times_.end()) return {};
    return {b->second.real > 0 ? a->second.real / b->second.real : 0,
            b->second.cpu > 0 ? a->second.cpu / b->second.cpu : 0};
  }

 private:
  std::map<std::string, Times> times_;
  std::map<std::string, bool> has_median_;
};

}  // namespace interleaved_ratio
