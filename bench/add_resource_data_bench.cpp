// Adding 10,000 small resources from memory (MacBin_AddResourceData) against
// the line path a host used before it (MacBin_AddResource with a processor
// whose write handler puts the same bytes), measured in the same run.  A map
// holds some 5,000 resources, so a pass writes four files of 2,500: 10 types
// of 250 resources of 16 bytes each, unnamed, no owner resource or bundle.
// The figure is "memory / line" (target: <= 0.5, at least twice as fast).
// Both paths write the same bytes; the first pass checks that they do.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "interleaved_ratio.hpp"
#include "quiet_library.hpp"
#include "varnel.h"

namespace {

constexpr int kFiles = 4;
constexpr int kTypes = 10;
constexpr int kResourcesPerType = 250;
constexpr int kResources = kFiles * kTypes * kResourcesPerType;
constexpr int32_t kResourceBytes = 16;
constexpr uint32_t kDate = 0xB0000000;
constexpr uint8_t kResourceData[kResourceBytes] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                                   0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};

const std::string &scratch_path() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("varnel-bench-add-" + std::to_string(getpid()) + ".bin")).string();
  return path;
}

std::string type_name(int t) {
  char type[8];
  std::snprintf(type, sizeof type, "D%03d", t);
  return type;
}

int32_t write_resource_bytes(MacBinChannel *, const char *) {
  return MacBin_PutBuf(kResourceData, kResourceBytes, kResourceBytes);
}

MacBinChannel *open_output() {
  // A new file each time: replacing a file's bytes makes the file system
  // flush them on close, which would measure the disk, not the writer.
  std::remove(scratch_path().c_str());
  char name[] = "Benchmark";
  MacBinChannel *channel = MacBin_OpenW(scratch_path().c_str(), name, "OWNR", "BINA");
  if (channel != nullptr) {
    MacBin_SetFinderResources(channel, 0);
    MacBin_SetDates(channel, kDate, kDate);  // so that both paths' files compare byte for byte
  }
  return channel;
}

// The resource lines of one file: "D000 128 \"\"", ...
const std::vector<std::string> &resource_lines() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> made;
    for (int t = 0; t < kTypes; ++t)
      for (int r = 0; r < kResourcesPerType; ++r) made.push_back(type_name(t) + " " + std::to_string(128 + r) + " \"\"");
    return made;
  }();
  return lines;
}

int64_t write_with_lines() {
  int64_t files = 0;
  for (int f = 0; f < kFiles; ++f) {
    MacBinChannel *channel = open_output();
    if (channel == nullptr) return 0;
    for (const std::string &line : resource_lines()) MacBin_AddResource(channel, line.c_str());
    MacBin_Close(channel);
    ++files;
  }
  return files;
}

int64_t write_from_memory() {
  static const std::vector<std::string> types = [] {
    std::vector<std::string> made;
    for (int t = 0; t < kTypes; ++t) made.push_back(type_name(t));
    return made;
  }();
  int64_t inserted = 0;
  for (int f = 0; f < kFiles; ++f) {
    MacBinChannel *channel = open_output();
    if (channel == nullptr) return 0;
    for (const std::string &type : types)
      for (int r = 0; r < kResourcesPerType; ++r)
        inserted += MacBin_AddResourceData(channel, type.c_str(), 128 + r, nullptr, MACBIN_ATTR_PURGEABLE,
                                           kResourceData, kResourceBytes) == 0;
    MacBin_Close(channel);
  }
  return inserted;
}

std::vector<char> written_file() {
  std::ifstream in(scratch_path(), std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void BM_AddResourceData(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(write_from_memory());
  state.SetItemsProcessed(state.iterations() * kResources);
}

void BM_AddResourceLines(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(write_with_lines());
  state.SetItemsProcessed(state.iterations() * kResources);
}

BENCHMARK(BM_AddResourceData)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_AddResourceLines)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(5);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  start_quiet_library(true);
  MacBin_AddProcessor("****", nullptr, write_resource_bytes);
  if (write_from_memory() != kResources) {
    std::fprintf(stderr, "MacBin_AddResourceData refused resources\n");
    return 1;
  }
  const std::vector<char> from_memory = written_file();
  write_with_lines();
  const std::vector<char> from_lines = written_file();
  if (from_memory.empty() || from_memory != from_lines) {
    std::fprintf(stderr, "the two paths wrote different files\n");
    return 1;
  }
  interleaved_ratio::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto ratio = reporter.slowdown("BM_AddResourceData/", "BM_AddResourceLines/");
  const interleaved_ratio::RatioFigures interleaved =
      interleaved_ratio::measure(write_from_memory, write_with_lines, 1);
  std::printf(
      "ratio MacBin_AddResourceData / MacBin_AddResource lines, %d resources of %d bytes = %.2f "
      "(interleaved rounds, quartiles %.2f to %.2f); %.2f cpu from the medians above (target <= 0.50)\n",
      kResources, kResourceBytes, interleaved.median, interleaved.low_quartile, interleaved.high_quartile, ratio.cpu);
  std::remove(scratch_path().c_str());
  benchmark::Shutdown();
  return 0;
}
