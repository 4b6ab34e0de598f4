// Output primitives against the C library in the same run:
//   (a) MacBin_PutBuf writing 64 MiB in 64 KiB calls vs fwrite in 64 KiB
//       blocks to a file in the same directory (target ratio >= 0.5);
//   (b) a MacBin_PutByte loop vs a putc_unlocked loop that tests errno after
//       every byte, as a careful byte writer must (target ratio >= 0.8).
// Ratios are throughput ours / baseline (baseline time / our time), printed
// after the table.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "varnel.h"

namespace {

constexpr size_t kBlockBytes = 64 * 1024;
constexpr size_t kBulkBytes = 64 * 1024 * 1024;
constexpr size_t kByteLoopBytes = 16 * 1024 * 1024;

std::string scratch_path(const char *name) {
  return (std::filesystem::temp_directory_path() /
          ("varnel-bench-" + std::to_string(::getpid()) + "-" + name))
      .string();
}

std::vector<uint8_t> make_block() {
  std::vector<uint8_t> block(kBlockBytes);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 31 + 7);
  return block;
}

// Opens the output file the primitives write to.
TesselFile *open_outfile(const std::string &path, benchmark::State &state) {
  TesselFile *file = fopenw(fdbset(0, "STREAM,SEQUENTIAL"), path.c_str(), "", 0);
  if (file == nullptr) state.SkipWithError("cannot open the output file");
  outfile = file;
  return file;
}

void close_outfile(TesselFile *file, benchmark::State &state) {
  if (fclosx(file) != 0) state.SkipWithError("close failed");
  fdbfree(file);
  outfile = nullptr;
}

void BM_PutBuf64KiB(benchmark::State &state) {
  const std::string path = scratch_path("putbuf");
  const std::vector<uint8_t> block = make_block();
  for (auto _ : state) {
    TesselFile *file = open_outfile(path, state);
    if (file == nullptr) break;
    for (size_t done = 0; done < kBulkBytes; done += kBlockBytes) {
      if (MacBin_PutBuf(block.data(), static_cast<int32_t>(kBlockBytes),
                        static_cast<int32_t>(kBlockBytes)) != 0) {
        state.SkipWithError("write failed");
        break;
      }
    }
    close_outfile(file, state);
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kBulkBytes));
}

void BM_Fwrite64KiB(benchmark::State &state) {
  const std::string path = scratch_path("fwrite");
  const std::vector<uint8_t> block = make_block();
  for (auto _ : state) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
      state.SkipWithError("cannot open the output file");
      break;
    }
    for (size_t done = 0; done < kBulkBytes; done += kBlockBytes) {
      if (std::fwrite(block.data(), 1, kBlockBytes, file) != kBlockBytes) {
        state.SkipWithError("write failed");
        break;
      }
    }
    if (std::fclose(file) != 0) state.SkipWithError("close failed");
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kBulkBytes));
}

void BM_PutByteLoop(benchmark::State &state) {
  const std::string path = scratch_path("putbyte");
  for (auto _ : state) {
    TesselFile *file = open_outfile(path, state);
    if (file == nullptr) break;
    int32_t failed = 0;
    for (size_t i = 0; i < kByteLoopBytes; ++i) failed |= MacBin_PutByte(static_cast<int32_t>(i));
    if (failed != 0) state.SkipWithError("write failed");
    close_outfile(file, state);
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kByteLoopBytes));
}

void BM_PutcUnlockedLoop(benchmark::State &state) {
  const std::string path = scratch_path("putc");
  for (auto _ : state) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
      state.SkipWithError("cannot open the output file");
      break;
    }
    int failed = 0;
    for (size_t i = 0; i < kByteLoopBytes; ++i) {
      errno = 0;
      putc_unlocked(static_cast<int>(i & 0xFF), file);
      failed |= errno;
    }
    if (std::fclose(file) != 0 || failed != 0) state.SkipWithError("write failed");
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kByteLoopBytes));
}

// Five repetitions each, reported as medians: the machine may be shared,
// and the median shrugs off a repetition that lost the processor.
BENCHMARK(BM_PutBuf64KiB)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5);
BENCHMARK(BM_Fwrite64KiB)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5);
BENCHMARK(BM_PutByteLoop)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5);
BENCHMARK(BM_PutcUnlockedLoop)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5);

// Console output as usual, plus the time per iteration of each benchmark
// (the median when repeated), for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  struct Times {
    double real = 0;
    double cpu = 0;
  };

  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.error_occurred) continue;
      const std::string &name = run.run_name.function_name;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && !has_median_[name];
      if (median || single) times_[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
      if (median) has_median_[name] = true;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Throughput of `ours` relative to `baseline` (baseline time / our time),
  // by wall-clock and by CPU time; 0 when either is missing.
  Times ratio(const std::string &ours, const std::string &baseline) const {
    const auto a = times_.find(ours);
    const auto b = times_.find(baseline);
    if (a == times_.end() || b == times_.end()) return {};
    return {a->second.real > 0 ? b->second.real / a->second.real : 0,
            a->second.cpu > 0 ? b->second.cpu / a->second.cpu : 0};
  }

 private:
  std::map<std::string, Times> times_;
  std::map<std::string, bool> has_median_;
};

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto bulk = reporter.ratio("BM_PutBuf64KiB", "BM_Fwrite64KiB");
  const auto bytes = reporter.ratio("BM_PutByteLoop", "BM_PutcUnlockedLoop");
  std::printf("ratio putbuf/fwrite = %.2f cpu, %.2f real (target >= 0.50)\n", bulk.cpu,
              bulk.real);
  std::printf("ratio putbyte/putc_unlocked = %.2f cpu, %.2f real (target >= 0.80)\n", bytes.cpu,
              bytes.real);
  benchmark::Shutdown();
  return 0;
}
