// Reading the bytes of every resource of the full file
// (full_resource_file.hpp, the form with distinct names: 4033 resources)
// through MacBin_ReadResourceData, as a host does: the length first (null
// buffer), then the data into a buffer of that size.  Against a plain
// program that preads the same extents from a descriptor, the length word
// and then the data, at positions it worked out itself from the map bytes
// (resource data start from the fork header plus each reference's 24-bit
// data offset), trusting the file.  Target: at most 1.5 times its time.
//
// The channel and the descriptor are opened once, outside the timing: only
// the reading is measured.  Both sides sum what they read, and the sums
// must agree, so they did the same work.  The ratio printed last comes from
// rounds that alternate the two (interleaved_ratio.hpp).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "full_resource_file.hpp"
#include "interleaved_ratio.hpp"
#include "quiet_library.hpp"
#include "varnel.h"

namespace {

using full_resource_file::full_file;
using full_resource_file::kResources;

constexpr int64_t kDistinctNames = 0;

uint64_t checksum(const uint8_t *bytes, int64_t count) {
  uint64_t sum = static_cast<uint64_t>(count);
  for (int64_t i = 0; i < count; ++i) sum += bytes[i];
  return sum;
}

// Every resource of the channel, type after type as the map lists them.
// The sum of lengths and bytes read, or 0 when a read fails.
uint64_t library_pass(MacBinChannel *channel, std::vector<uint8_t> &buffer) {
  uint64_t sum = 1;
  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    for (int32_t r = 0; r < entry.count; ++r) {
      const MacBinRefEntry *ref = &entry.refs[r];
      const int32_t length = MacBin_ReadResourceData(channel, ref, nullptr, 0);
      if (length < 0) return 0;
      if (buffer.size() < static_cast<size_t>(length)) buffer.resize(static_cast<size_t>(length));
      if (MacBin_ReadResourceData(channel, ref, buffer.data(), length) != length) return 0;
      sum += checksum(buffer.data(), length);
    }
  }
  return sum;
}

uint32_t be16(const std::vector<uint8_t> &b, size_t p) {
  return (static_cast<uint32_t>(b[p]) << 8) | b[p + 1];
}
uint32_t be24(const std::vector<uint8_t> &b, size_t p) {
  return (static_cast<uint32_t>(b[p]) << 16) | be16(b, p + 1);
}
uint32_t be32(const std::vector<uint8_t> &b, size_t p) {
  return (be16(b, p) << 16) | be16(b, p + 2);
}
uint32_t be32(const uint8_t *b) {
  return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
         (static_cast<uint32_t>(b[2]) << 8) | b[3];
}

// The position of every resource's length word, in map order, read from
// the file's own bytes; empty when the file cannot be read.
std::vector<int64_t> length_word_positions(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  std::vector<int64_t> positions;
  if (bytes.size() < 128) return positions;
  const size_t data_length = be32(bytes, 83);
  const size_t rsrc_start = (data_length + 127) / 128 * 128 + 128;
  const size_t resource_data = rsrc_start + be32(bytes, rsrc_start);
  const size_t map = rsrc_start + be32(bytes, rsrc_start + 4);
  const size_t type_list = map + be16(bytes, map + 24);
  const size_t types = be16(bytes, type_list) + 1;
  for (size_t t = 0; t < types; ++t) {
    const size_t item = type_list + 2 + 8 * t;
    const size_t count = be16(bytes, item + 4) + 1;
    const size_t refs = type_list + be16(bytes, item + 6);
    for (size_t r = 0; r < count; ++r) {
      positions.push_back(static_cast<int64_t>(resource_data + be24(bytes, refs + 12 * r + 5)));
    }
  }
  return positions;
}

// The baseline: for each resource, pread of its length word, then of its
// data.  The same sum as library_pass, or 0 when a read fails.
uint64_t plain_pass(int fd, const std::vector<int64_t> &positions, std::vector<uint8_t> &buffer) {
  uint64_t sum = 1;
  for (const int64_t position : positions) {
    uint8_t word[4];
    if (::pread(fd, word, sizeof word, position) != sizeof word) return 0;
    const uint32_t length = be32(word);
    if (buffer.size() < length) buffer.resize(length);
    if (::pread(fd, buffer.data(), length, position + 4) != static_cast<ssize_t>(length)) return 0;
    sum += checksum(buffer.data(), length);
  }
  return sum;
}

// What both sides read, opened once per process.
struct Reading {
  MacBinChannel *channel = nullptr;
  int fd = -1;
  std::vector<int64_t> positions;
  std::vector<uint8_t> library_buffer;
  std::vector<uint8_t> plain_buffer;

  // False, after saying why, when the two sides cannot be compared.
  bool open(const std::string &path) {
    channel = MacBin_OpenR(path.c_str());
    fd = ::open(path.c_str(), O_RDONLY);
    positions = length_word_positions(path);
    if (channel == nullptr || fd < 0) {
      std::fprintf(stderr, "cannot open %s\n", path.c_str());
      return false;
    }
    if (positions.size() != static_cast<size_t>(kResources)) {
      std::fprintf(stderr, "%zu resources found in the map, %d expected\n", positions.size(),
                   kResources);
      return false;
    }
    const uint64_t ours = library_pass(channel, library_buffer);
    const uint64_t theirs = plain_pass(fd, positions, plain_buffer);
    if (ours == 0 || ours != theirs) {
      std::fprintf(stderr, "the two sides read different bytes (sums %llu and %llu)\n",
                   static_cast<unsigned long long>(ours), static_cast<unsigned long long>(theirs));
      return false;
    }
    return true;
  }
  void close() {
    if (channel != nullptr) MacBin_Close(channel);
    if (fd >= 0) ::close(fd);
    channel = nullptr;
    fd = -1;
  }
};

Reading reading;

void BM_LibraryReadEveryResource(benchmark::State &state) {
  for (auto _ : state) {
    const uint64_t sum = library_pass(reading.channel, reading.library_buffer);
    if (sum == 0) {
      state.SkipWithError("MacBin_ReadResourceData failed");
      break;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kResources);
}

void BM_PreadEveryResource(benchmark::State &state) {
  for (auto _ : state) {
    const uint64_t sum = plain_pass(reading.fd, reading.positions, reading.plain_buffer);
    if (sum == 0) {
      state.SkipWithError("pread failed");
      break;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kResources);
}

// Five repetitions each, reported as medians: the machine may be shared.
BENCHMARK(BM_LibraryReadEveryResource)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.5)
    ->Repetitions(5);
BENCHMARK(BM_PreadEveryResource)->Unit(benchmark::kMicrosecond)->MinTime(0.5)->Repetitions(5);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  start_quiet_library();
  const bool ready = reading.open(full_file(kDistinctNames));
  int status = 1;
  if (ready) {
    interleaved_ratio::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto ratio = reporter.slowdown("BM_LibraryReadEveryResource/", "BM_PreadEveryResource/");
    const interleaved_ratio::RatioFigures interleaved = interleaved_ratio::measure(
        [] { return library_pass(reading.channel, reading.library_buffer); },
        [] { return plain_pass(reading.fd, reading.positions, reading.plain_buffer); }, 5);
    std::printf(
        "ratio MacBin_ReadResourceData / pread of the same extents, %d resources = %.2f "
        "(interleaved rounds, quartiles %.2f to %.2f); %.2f cpu from the medians above "
        "(target <= 1.50)\n",
        kResources, interleaved.median, interleaved.low_quartile, interleaved.high_quartile,
        ratio.cpu);
    status = 0;
  }
  reading.close();
  full_resource_file::remove_full_files();
  benchmark::Shutdown();
  return status;
}
