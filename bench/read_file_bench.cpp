// Reading a full file: MacBin_OpenR, every query, MacBin_Close, against a
// plain program that reads the same file into memory once and walks every
// map item there (target: at most 3 times its time).  The ratio printed
// last comes from rounds that alternate the two, so that a machine shared
// with other work slows both alike; the ratio of the medians is printed
// beside it.
//
// The file holds what the writer can hold: 63 types of 64 named resources
// plus the owner resource, in two forms: every resource with a name of its
// own (/0: 4033 distinct names, so 4033 name nodes), and the same 64 names
// in every type (/1: 65 distinct names).  The queries are the ones a host
// walking such a file makes: the types, each type's counts, and every
// resource checked by ID and by name.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "varnel.h"

namespace {

constexpr int kTypes = 63;
constexpr int kResourcesPerType = 64;

std::string scratch_path(const std::string &name) {
  return (std::filesystem::temp_directory_path() /
          ("varnel-bench-" + std::to_string(::getpid()) + "-" + name + ".bin"))
      .string();
}

std::string type_name(int t) {
  char type[5];
  std::snprintf(type, sizeof type, "T%03d", t);
  return type;
}

std::string resource_name(int t, int r, bool shared_names) {
  return shared_names ? "Resource " + std::to_string(r)
                      : "Res " + std::to_string(t) + "." + std::to_string(r);
}

std::string write_full_file(bool shared_names) {
  const std::string file = scratch_path(shared_names ? "shared" : "distinct");
  char apple_name[64] = "Full file";
  MacBinChannel *channel = MacBin_OpenW(file.c_str(), apple_name, "VARN", "TEXT");
  if (channel == nullptr) std::exit(1);
  MacBin_CompleteDataFork(channel);
  for (int t = 0; t < kTypes; ++t) {
    for (int r = 0; r < kResourcesPerType; ++r) {
      const std::string name = resource_name(t, r, shared_names);
      const std::string data = "~data of " + name;
      if (insert_resource(type_name(t).c_str(), 128 + r, name.c_str(), data.c_str()) != 0) {
        std::fprintf(stderr, "resource %d.%d not inserted\n", t, r);
        std::exit(1);
      }
    }
  }
  MacBin_Close(channel);
  return file;
}

// The two files, written once per process (index: shared names or not).
const std::string &full_file(int64_t shared_names) {
  static const std::string paths[2] = {write_full_file(false), write_full_file(true)};
  return paths[shared_names != 0 ? 1 : 0];
}

// Everything a host walking the file asks.  Returns the number of positive
// answers, so the work cannot be optimised away (and is checked).
long run_every_query(MacBinChannel *channel) {
  long found = 0;
  const int32_t types = MacBin_GetNrTypes(channel);
  for (int32_t t = 0; t < types; ++t) {
    char type[5] = {0, 0, 0, 0, 0};
    MacBin_GetIndType(channel, type, t);
    const int32_t count = MacBin_GetNrResources(channel, type);
    found += MacBin_GetResourceCount(channel, type, 0, 0) == count;
    const MacBinTypeEntry &entry = channel->types[t];
    for (int32_t r = 0; r < count; ++r) {
      const MacBinRefEntry &ref = entry.refs[r];
      found += MacBin_CheckResource2(channel, type, ref.id, nullptr);
      if (ref.name_offset != -1) found += MacBin_CheckResource2(channel, type, 0, ref.name->text);
    }
  }
  return found;
}

constexpr long kExpectedAnswers = kTypes * (1 + 2 * kResourcesPerType) + (1 + 2);

// One pass of the library: open, every query, close.  The number of
// positive answers, or -1 when the file does not open.
long library_pass(const std::string &path) {
  MacBinChannel *channel = MacBin_OpenR(path.c_str());
  if (channel == nullptr) return -1;
  const long found = run_every_query(channel);
  MacBin_Close(channel);
  return found;
}

void BM_LibraryOpenQueryClose(benchmark::State &state) {
  const std::string &path = full_file(state.range(0));
  for (auto _ : state) {
    const long found = library_pass(path);
    if (found != kExpectedAnswers) {
      state.SkipWithError(found < 0 ? "MacBin_OpenR failed" : "wrong answers");
      break;
    }
    benchmark::DoNotOptimize(found);
  }
}

uint32_t be16(const std::vector<uint8_t> &b, size_t p) {
  return (static_cast<uint32_t>(b[p]) << 8) | b[p + 1];
}
uint32_t be32(const std::vector<uint8_t> &b, size_t p) {
  return (be16(b, p) << 16) | be16(b, p + 2);
}

// The baseline: one read of the whole file, then every type, reference and
// name of the map visited where it lies in memory (trusting the file).
// A checksum of what it visited, or 0 when the file cannot be read.
uint64_t plain_pass(const std::string &path) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  std::fseek(file, 0, SEEK_END);
  std::vector<uint8_t> bytes(static_cast<size_t>(std::ftell(file)));
  std::fseek(file, 0, SEEK_SET);
  const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  if (got != bytes.size()) return 0;
  const size_t data_length = be32(bytes, 83);
  const size_t rsrc_start = (data_length + 127) / 128 * 128 + 128;
  const size_t map = rsrc_start + be32(bytes, rsrc_start + 4);
  const size_t type_list = map + be16(bytes, map + 24);
  const size_t name_list = map + be16(bytes, map + 26);
  const size_t types = be16(bytes, type_list) + 1;
  uint64_t sum = 1;
  for (size_t t = 0; t < types; ++t) {
    const size_t item = type_list + 2 + 8 * t;
    sum += be32(bytes, item);
    const size_t count = be16(bytes, item + 4) + 1;
    const size_t refs = type_list + be16(bytes, item + 6);
    for (size_t r = 0; r < count; ++r) {
      const size_t ref = refs + 12 * r;
      sum += be16(bytes, ref) + be32(bytes, ref + 4);
      const uint32_t name_offset = be16(bytes, ref + 2);
      if (name_offset != 0xFFFF) {
        const size_t name = name_list + name_offset;
        for (size_t i = 0; i <= bytes[name]; ++i) sum += bytes[name + i];
      }
    }
  }
  return sum;
}

void BM_PlainReadAndWalk(benchmark::State &state) {
  const std::string &path = full_file(state.range(0));
  for (auto _ : state) {
    const uint64_t sum = plain_pass(path);
    if (sum == 0) {
      state.SkipWithError("cannot read the file");
      break;
    }
    benchmark::DoNotOptimize(sum);
  }
}

// The ratio on a shared machine: rounds of a few milliseconds of each,
// alternating, so that both sides meet the same load; the median of the
// rounds' ratios, with the quartiles.
struct RatioFigures {
  double median;
  double low_quartile;
  double high_quartile;
};

RatioFigures interleaved_ratio(const std::string &path) {
  using Clock = std::chrono::steady_clock;
  constexpr int kRounds = 31;
  constexpr int kPassesPerRound = 25;
  std::vector<double> ratios;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = Clock::now();
    for (int i = 0; i < kPassesPerRound; ++i) benchmark::DoNotOptimize(library_pass(path));
    const auto middle = Clock::now();
    for (int i = 0; i < kPassesPerRound; ++i) benchmark::DoNotOptimize(plain_pass(path));
    const auto end = Clock::now();
    ratios.push_back(std::chrono::duration<double>(middle - start).count() /
                     std::chrono::duration<double>(end - middle).count());
  }
  std::sort(ratios.begin(), ratios.end());
  return {ratios[kRounds / 2], ratios[kRounds / 4], ratios[kRounds - 1 - kRounds / 4]};
}

// Five repetitions each, reported as medians: the machine may be shared.
BENCHMARK(BM_LibraryOpenQueryClose)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.5)
    ->Repetitions(5);
BENCHMARK(BM_PlainReadAndWalk)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.5)
    ->Repetitions(5);

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

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  MacBin_Init();
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(+[](const char *, const char *, int32_t) {}),
                   MACBIN_METHOD_MESSAGE);
  full_file(0);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const char *forms[2] = {"distinct names", "shared names"};
  for (int form = 0; form < 2; ++form) {
    const std::string arg = "/" + std::to_string(form);
    const auto ratio =
        reporter.slowdown("BM_LibraryOpenQueryClose" + arg, "BM_PlainReadAndWalk" + arg);
    const RatioFigures interleaved = interleaved_ratio(full_file(form));
    std::printf(
        "ratio open+queries+close / plain read and walk, %s = %.2f (interleaved rounds, "
        "quartiles %.2f to %.2f); %.2f cpu from the medians above (target <= 3.00)\n",
        forms[form], interleaved.median, interleaved.low_quartile, interleaved.high_quartile,
        ratio.cpu);
  }
  for (int form = 0; form < 2; ++form) std::filesystem::remove(full_file(form));
  benchmark::Shutdown();
  return 0;
}
