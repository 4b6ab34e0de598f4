// Checking a full file against listing it: MacBin_CheckFile of the file
// the writer can hold at most (4033 named resources, full_resource_file.hpp)
// against what a listing does with it: MacBin_OpenR, each resource's type,
// ID, name and data length (MacBin_ReadResourceData), MacBin_Close
// (target: at most 2 times its time).  The ratio printed last comes from
// rounds that alternate the two, so that a machine shared with other work
// slows both alike; the ratio of the medians is printed beside it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "full_resource_file.hpp"
#include "interleaved_ratio.hpp"
#include "quiet_library.hpp"
#include "varnel.h"

namespace {

using full_resource_file::full_file;
using full_resource_file::kResources;

// What a listing reads: every resource's facts and its length.  The number
// of resources listed, or -1 when the file does not open.
long list_pass(const std::string &path) {
  MacBinChannel *channel = MacBin_OpenR(path.c_str());
  if (channel == nullptr) return -1;
  long listed = 0;
  char name[256];
  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    for (int32_t r = 0; r < entry.count; ++r) {
      const MacBinRefEntry &ref = entry.refs[r];
      if (MacBin_ReadResourceData(channel, &ref, nullptr, 0) < 0) continue;
      if (MacBin_GetResourceName(channel, &ref, name, sizeof name) < 0) continue;
      listed += entry.type[0] != 0 && ref.attributes >= 0;
    }
  }
  MacBin_Close(channel);
  return listed;
}

// The check: the number of resources it went through, or -1 when the file
// was not found clean.
long check_pass(const std::string &path) {
  MacBinCheckReport report;
  if (MacBin_CheckFile(path.c_str(), 0, nullptr, nullptr, &report) != 0) return -1;
  return report.resources;
}

void BM_List(benchmark::State &state) {
  const std::string &path = full_file(0);
  for (auto _ : state) {
    const long listed = list_pass(path);
    if (listed != kResources) {
      state.SkipWithError("the file did not list whole");
      break;
    }
    benchmark::DoNotOptimize(listed);
  }
}

void BM_Check(benchmark::State &state) {
  const std::string &path = full_file(0);
  for (auto _ : state) {
    const long checked = check_pass(path);
    if (checked != kResources) {
      state.SkipWithError("the file was not checked clean and whole");
      break;
    }
    benchmark::DoNotOptimize(checked);
  }
}

// Five repetitions each, reported as medians: the machine may be shared.
BENCHMARK(BM_List)->Unit(benchmark::kMicrosecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_Check)->Unit(benchmark::kMicrosecond)->MinTime(0.5)->Repetitions(5);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  start_quiet_library();
  full_file(0);
  interleaved_ratio::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto ratio = reporter.slowdown("BM_Check/", "BM_List/");
  const std::string &path = full_file(0);
  const interleaved_ratio::RatioFigures interleaved = interleaved_ratio::measure(
      [&path] { return check_pass(path); }, [&path] { return list_pass(path); }, 25);
  std::printf(
      "ratio check / list of %d resources = %.2f (interleaved rounds, quartiles %.2f to %.2f); "
      "%.2f cpu from the medians above (target <= 2.00)\n",
      kResources, interleaved.median, interleaved.low_quartile, interleaved.high_quartile, ratio.cpu);
  full_resource_file::remove_full_files();
  benchmark::Shutdown();
  return 0;
}
