// Compressed resources read as their contents.
//
// Throughput: each decompressor (0, 1, 2) on 1 MiB of text-like contents
// and on 1 MiB of contents made of few distinct pieces (for 0 and 1 nearly
// all references to remembered literals; for 2 nearly all table words),
// encoded by the test encoders (tests/support/resource_compression.hpp)
// and read whole through MacBin_ReadResourceUncompressed, which reads the
// stored bytes from the file and decompresses them.  Two copies of each
// resource are read in turn, so that the channel's kept contents never
// answer.  Printed as MB/s of output and as the ratio of the time to a
// memcpy of the same 1 MiB, measured in the same run.
//
// A file of compressed resources: every resource (200 text-like ones of 1
// to 16 KiB, the three decompressors in turn) read as a host does, the
// length first and then the bytes, through MacBin_ReadResourceUncompressed;
// against its uncompressed twin read through MacBin_ReadResourceData.
// Target: at most 2 times its time.  The same resources compressed by one
// decompressor each make three more files, whose ratios say which one
// costs what.  The ratios come from interleaved rounds
// (interleaved_ratio.hpp).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "interleaved_ratio.hpp"
#include "support/macbinary.hpp"
#include "support/resource_compression.hpp"
#include "quiet_library.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;

constexpr size_t kContentsBytes = 1 << 20;
constexpr int kFileResources = 200;

// Text: words of a small vocabulary in a pseudo-random order.
Bytes text_like(size_t size, uint32_t seed) {
  static const char *const kWords[] = {"the ", "resource ", "fork ", "map ", "of ", "a ", "file ",
                                       "Finder ", "icon ", "window ", "menu ", "dialog ", "item ",
                                       "and ", "is ", "to ", "in ", "\r", "Macintosh ", "system ",
                                       "type ", "creator ", "data ", "font ", "sound ", "picture "};
  Bytes out;
  uint32_t state = seed;
  while (out.size() < size) {
    state = state * 1103515245u + 12345u;
    const char *word = kWords[(state >> 16) % (sizeof kWords / sizeof kWords[0])];
    out.insert(out.end(), word, word + std::strlen(word));
  }
  out.resize(size);
  return out;
}

// Few distinct 4-byte pieces (and, for decompressor 2, few distinct words).
Bytes repetitive(size_t size) {
  Bytes out;
  uint32_t state = 7;
  while (out.size() < size) {
    state = state * 1103515245u + 12345u;
    const uint32_t piece = (state >> 16) % 24;
    out.insert(out.end(), {static_cast<uint8_t>(0x40 + piece), 0x00, static_cast<uint8_t>(0x4E),
                           static_cast<uint8_t>(0x70 + piece % 8)});
  }
  out.resize(size);
  return out;
}

struct Case {
  const char *name;
  int32_t decompressor;
  bool text;
};
constexpr Case kCases[] = {{"0/text", 0, true},        {"1/text", 1, true},       {"2/text", 2, true},
                           {"0/repetitive", 0, false}, {"1/repetitive", 1, false}, {"2/repetitive", 2, false}};
constexpr int kCaseCount = sizeof kCases / sizeof kCases[0];

void write_file(const std::string &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string temp_path(const char *name) {
  return (std::filesystem::temp_directory_path() / (std::string("varnel-decompress-") + name)).string();
}

// Everything read, opened once per process.
struct Setup {
  std::string throughput_path = temp_path("throughput.bin");
  std::string compressed_paths[4] = {temp_path("compressed0.bin"), temp_path("compressed1.bin"),
                                     temp_path("compressed2.bin"), temp_path("compressed.bin")};
  std::string plain_path = temp_path("plain.bin");
  MacBinChannel *throughput = nullptr;  // case i: resources 2i and 2i + 1 (IDs 128 + ...)
  MacBinChannel *compressed_by[4] = {};  // by decompressor 0, 1, 2; the three in turn
  MacBinChannel *&compressed = compressed_by[3];
  MacBinChannel *plain = nullptr;
  Bytes contents[kCaseCount];
  size_t stored_bytes[kCaseCount] = {};
  std::vector<uint8_t> output = std::vector<uint8_t>(kContentsBytes);
  std::vector<uint8_t> copy = std::vector<uint8_t>(kContentsBytes);
  std::vector<uint8_t> buffer;

  bool open() {
    vt::MacBinaryPlan plan;
    plan.types = {{"DATA", {}}};
    for (int i = 0; i < kCaseCount; ++i) {
      const Case &c = kCases[i];
      contents[i] = c.text ? text_like(kContentsBytes, 1) : repetitive(kContentsBytes);
      const Bytes stored = vt::compressed_resource(c.decompressor == 2 ? 9 : 8, c.decompressor, contents[i]);
      stored_bytes[i] = stored.size();
      for (int copy_number = 0; copy_number < 2; ++copy_number)
        plan.types[0].resources.push_back(
            {static_cast<uint32_t>(128 + 2 * i + copy_number), std::nullopt, stored, 0x21});
    }
    write_file(throughput_path, vt::build_macbinary(plan).bytes);

    vt::MacBinaryPlan packed[4], twin;
    for (vt::MacBinaryPlan &plan_of : packed) plan_of.types = {{"TEXT", {}}};
    twin.types = {{"TEXT", {}}};
    for (int i = 0; i < kFileResources; ++i) {
      const Bytes text = text_like(1024 + static_cast<size_t>(i * 7919) % (15 * 1024), static_cast<uint32_t>(i));
      for (int32_t d = 0; d < 4; ++d) {
        const int32_t decompressor = d < 3 ? d : i % 3;
        packed[d].types[0].resources.push_back(
            {static_cast<uint32_t>(128 + i), std::nullopt,
             vt::compressed_resource(decompressor == 2 ? 9 : 8, decompressor, text), 0x21});
      }
      twin.types[0].resources.push_back({static_cast<uint32_t>(128 + i), std::nullopt, text, 0x20});
    }
    for (int d = 0; d < 4; ++d) write_file(compressed_paths[d], vt::build_macbinary(packed[d]).bytes);
    write_file(plain_path, vt::build_macbinary(twin).bytes);

    throughput = MacBin_OpenR(throughput_path.c_str());
    for (int d = 0; d < 4; ++d) compressed_by[d] = MacBin_OpenR(compressed_paths[d].c_str());
    plain = MacBin_OpenR(plain_path.c_str());
    if (throughput == nullptr || compressed_by[0] == nullptr || compressed_by[1] == nullptr ||
        compressed_by[2] == nullptr || compressed == nullptr || plain == nullptr) {
      std::fprintf(stderr, "cannot open the benchmark's files\n");
      return false;
    }
    for (int i = 0; i < kCaseCount; ++i) {
      if (read_case(i, 0) != contents[i] || read_case(i, 1) != contents[i]) {
        std::fprintf(stderr, "case %s does not read back its contents\n", kCases[i].name);
        return false;
      }
    }
    const uint64_t theirs = read_file(plain, false);
    for (MacBinChannel *channel : compressed_by) {
      const uint64_t ours = read_file(channel, true);
      if (ours == 0 || ours != theirs) {
        std::fprintf(stderr, "a compressed file and its twin read different contents\n");
        return false;
      }
    }
    return true;
  }

  Bytes read_case(int i, int copy_number) {
    const MacBinRefEntry *ref = &throughput->types[0].refs[2 * i + copy_number];
    if (MacBin_ReadResourceUncompressed(throughput, ref, output.data(), static_cast<int32_t>(output.size())) !=
        static_cast<int32_t>(kContentsBytes))
      return {};
    return output;
  }

  // Every resource, length then bytes; a sum of lengths and bytes, 0 on failure.
  uint64_t read_file(MacBinChannel *channel, bool uncompressed) {
    uint64_t sum = 1;
    const MacBinTypeEntry &entry = channel->types[0];
    for (int32_t r = 0; r < entry.count; ++r) {
      const MacBinRefEntry *ref = &entry.refs[r];
      const auto read = uncompressed ? MacBin_ReadResourceUncompressed : MacBin_ReadResourceData;
      const int32_t length = read(channel, ref, nullptr, 0);
      if (length < 0) return 0;
      if (buffer.size() < static_cast<size_t>(length)) buffer.resize(static_cast<size_t>(length));
      if (read(channel, ref, buffer.data(), length) != length) return 0;
      sum += static_cast<uint64_t>(length) + buffer[0] + buffer[static_cast<size_t>(length) - 1];
    }
    return sum;
  }

  void close() {
    for (MacBinChannel *channel : {throughput, compressed_by[0], compressed_by[1], compressed_by[2], compressed, plain})
      if (channel != nullptr) MacBin_Close(channel);
    for (const std::string &path : compressed_paths) std::remove(path.c_str());
    for (const std::string &path : {throughput_path, plain_path}) std::remove(path.c_str());
  }
};

Setup setup;

// One read of case i, the two copies in turn.
int32_t decompress_once(int i) {
  static int turn = 0;
  turn ^= 1;
  const MacBinRefEntry *ref = &setup.throughput->types[0].refs[2 * i + turn];
  return MacBin_ReadResourceUncompressed(setup.throughput, ref, setup.output.data(),
                                         static_cast<int32_t>(setup.output.size()));
}

void *copy_once() {
  std::memcpy(setup.copy.data(), setup.output.data(), kContentsBytes);
  benchmark::ClobberMemory();
  return setup.copy.data();
}

void BM_Decompress(benchmark::State &state) {
  const int i = static_cast<int>(state.range(0));
  state.SetLabel(kCases[i].name);
  for (auto _ : state) benchmark::DoNotOptimize(decompress_once(i));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kContentsBytes));
}

void BM_Memcpy(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(copy_once());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kContentsBytes));
}

void BM_ReadCompressedFile(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(setup.read_file(setup.compressed, true));
}

void BM_ReadPlainTwin(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(setup.read_file(setup.plain, false));
}

BENCHMARK(BM_Decompress)->DenseRange(0, kCaseCount - 1)->Unit(benchmark::kMicrosecond)->MinTime(0.3);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMicrosecond)->MinTime(0.3);
BENCHMARK(BM_ReadCompressedFile)->Unit(benchmark::kMicrosecond)->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_ReadPlainTwin)->Unit(benchmark::kMicrosecond)->MinTime(0.5)->Repetitions(5);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  start_quiet_library();
  int status = 1;
  if (setup.open()) {
    interleaved_ratio::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (int i = 0; i < kCaseCount; ++i) {
      const interleaved_ratio::RatioFigures figures =
          interleaved_ratio::measure([i] { return decompress_once(i); }, [] { return copy_once(); }, 3);
      std::printf("ratio decompressor %s (stored %zu bytes) / memcpy of 1 MiB = %.1f "
                  "(interleaved rounds, quartiles %.1f to %.1f)\n",
                  kCases[i].name, setup.stored_bytes[i], figures.median, figures.low_quartile,
                  figures.high_quartile);
    }
    const auto ratio = reporter.slowdown("BM_ReadCompressedFile/", "BM_ReadPlainTwin/");
    const interleaved_ratio::RatioFigures file = interleaved_ratio::measure(
        [] { return setup.read_file(setup.compressed, true); },
        [] { return setup.read_file(setup.plain, false); }, 3);
    std::printf("ratio MacBin_ReadResourceUncompressed of %d compressed resources / "
                "MacBin_ReadResourceData of their plain twins = %.2f (interleaved rounds, quartiles "
                "%.2f to %.2f); %.2f cpu from the medians above (target <= 2.00)\n",
                kFileResources, file.median, file.low_quartile, file.high_quartile, ratio.cpu);
    for (int d = 0; d < 3; ++d) {
      const interleaved_ratio::RatioFigures one = interleaved_ratio::measure(
          [d] { return setup.read_file(setup.compressed_by[d], true); },
          [] { return setup.read_file(setup.plain, false); }, 3);
      std::printf("ratio of the same resources all by decompressor %d = %.2f (interleaved rounds, "
                  "quartiles %.2f to %.2f)\n",
                  d, one.median, one.low_quartile, one.high_quartile);
    }
    status = 0;
  }
  setup.close();
  benchmark::Shutdown();
  return status;
}
