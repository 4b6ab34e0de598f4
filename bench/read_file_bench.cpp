// Reading a full file: MacBin_OpenR, every query, MacBin_Close, against a
// plain program that reads the same file into memory once and walks every
// map item there (target: at most 3 times its time).  The ratio printed
// last comes from rounds that alternate the two, so that a machine shared
// with other work slows both alike; the ratio of the medians is printed
// beside it.
//
// The file (full_resource_file.hpp) holds what the writer can hold: 63
// types of 64 named resources plus the owner resource, in two forms: every
// resource with a name of its own (/0: 4033 distinct names, so 4033 name
// nodes), and the same 64 names in every type (/1: 65 distinct names).  The
// queries are the ones a host walking such a file makes: the types, each
// type's counts, and every resource checked by ID and by name.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "full_resource_file.hpp"
#include "interleaved_ratio.hpp"
#include "quiet_library.hpp"
#include "varnel.h"

namespace {

using full_resource_file::full_file;
using full_resource_file::kResourcesPerType;
using full_resource_file::kTypes;

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

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  start_quiet_library();
  full_file(0);
  interleaved_ratio::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const char *forms[2] = {"distinct names", "shared names"};
  for (int form = 0; form < 2; ++form) {
    const std::string arg = "/" + std::to_string(form);
    const auto ratio =
        reporter.slowdown("BM_LibraryOpenQueryClose" + arg, "BM_PlainReadAndWalk" + arg);
    const std::string &path = full_file(form);
    const interleaved_ratio::RatioFigures interleaved = interleaved_ratio::measure(
        [&path] { return library_pass(path); }, [&path] { return plain_pass(path); }, 25);
    std::printf(
        "ratio open+queries+close / plain read and walk, %s = %.2f (interleaved rounds, "
        "quartiles %.2f to %.2f); %.2f cpu from the medians above (target <= 3.00)\n",
        forms[form], interleaved.median, interleaved.low_quartile, interleaved.high_quartile,
        ratio.cpu);
  }
  full_resource_file::remove_full_files();
  benchmark::Shutdown();
  return 0;
}
