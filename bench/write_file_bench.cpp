// Writing a full MacBinary file: a 64 MiB data fork and 63 types of 64
// named resources (resource lines through MacBin_AddResource), plus the owner
// resource whose type is the creator - the tables filled to their 64 types.
// Measured against fwrite of the same bytes in 64 KiB blocks to the same
// file system, in the same run; the figure is "x_fwrite" (target: <= 2).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "varnel.h"

namespace {

constexpr int32_t kBlockBytes = 64 * 1024;
constexpr int32_t kDataForkBytes = 64 * 1024 * 1024;
constexpr int kResourceTypes = 63;
constexpr int kResourcesPerType = 64;
constexpr int32_t kResourceBytes = 256;

double fwrite_seconds_per_file = 0;  // set by the baseline, which runs first
std::vector<uint8_t> written_file;   // what the library wrote, for the baseline

std::string scratch_path(const char *name) {
  return (std::filesystem::temp_directory_path() /
          (std::string(name) + "-" + std::to_string(getpid()) + ".bin"))
      .string();
}

int32_t write_resource_bytes(MacBinChannel *, const char *) {
  static const std::vector<uint8_t> bytes(kResourceBytes, 0x5A);
  return MacBin_PutBuf(bytes.data(), kResourceBytes, kResourceBytes);
}

void set_up_library() {
  static const bool ready = [] {
    MacBin_Init();
    // Silent notices: the benchmark measures writing, not printing.
    MacBin_Setmethod(reinterpret_cast<MacBinMethod>(+[](const char *, const char *, int32_t) {}),
                     MACBIN_METHOD_MESSAGE);
    MacBin_Setmethod(reinterpret_cast<MacBinMethod>(+[](MacBinProgress *) {}),
                     MACBIN_METHOD_PROGRESS);
    MacBin_AddProcessor("****", nullptr, write_resource_bytes);
    return true;
  }();
  (void)ready;
}

void write_with_library(const std::string &path, const std::vector<std::string> &lines,
                        const std::vector<uint8_t> &block) {
  char name[] = "Benchmark";
  MacBinChannel *channel = MacBin_OpenW(path.c_str(), name, "OWNR", "BINA");
  for (int32_t done = 0; done < kDataForkBytes; done += kBlockBytes) {
    MacBin_PutBuf(block.data(), kBlockBytes, kBlockBytes);
  }
  for (const std::string &line : lines) MacBin_AddResource(channel, line.c_str());
  MacBin_Close(channel);
}

std::vector<std::string> resource_lines() {
  std::vector<std::string> lines;
  char line[64];
  for (int t = 0; t < kResourceTypes; ++t) {
    for (int r = 0; r < kResourcesPerType; ++r) {
      std::snprintf(line, sizeof line, "R%03d %d Res-%02d-%02d", t, 128 + r, t, r);
      lines.emplace_back(line);
    }
  }
  return lines;
}

void BM_FwriteSameBytes(benchmark::State &state) {
  set_up_library();
  const std::string path = scratch_path("varnel-bench-fwrite");
  if (written_file.empty()) {
    std::vector<uint8_t> block(kBlockBytes, 0x33);
    write_with_library(path, resource_lines(), block);
    std::FILE *in = std::fopen(path.c_str(), "rb");
    written_file.resize(std::filesystem::file_size(path));
    if (in == nullptr || std::fread(written_file.data(), 1, written_file.size(), in) !=
                             written_file.size()) {
      state.SkipWithError("cannot read the written file back");
      return;
    }
    std::fclose(in);
  }
  double total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::FILE *out = std::fopen(path.c_str(), "wb");
    // The same 64 KiB buffer as the library's files: a fair baseline.
    std::setvbuf(out, nullptr, _IOFBF, kBlockBytes);
    for (size_t at = 0; at < written_file.size(); at += kBlockBytes) {
      const size_t n = std::min<size_t>(kBlockBytes, written_file.size() - at);
      std::fwrite(written_file.data() + at, 1, n, out);
    }
    std::fclose(out);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    total += seconds;
    std::remove(path.c_str());
  }
  fwrite_seconds_per_file = total / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(written_file.size()));
}

void BM_WriteFullFile(benchmark::State &state) {
  set_up_library();
  const std::string path = scratch_path("varnel-bench-write");
  const std::vector<std::string> lines = resource_lines();
  const std::vector<uint8_t> block(kBlockBytes, 0x33);
  double total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    write_with_library(path, lines, block);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    total += seconds;
    std::remove(path.c_str());
  }
  const double per_file = total / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(written_file.size()));
  if (fwrite_seconds_per_file > 0) state.counters["x_fwrite"] = per_file / fwrite_seconds_per_file;
}

BENCHMARK(BM_FwriteSameBytes)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFullFile)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
