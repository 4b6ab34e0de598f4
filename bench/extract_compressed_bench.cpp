// `varnel extract FILE --all DIR` of a file of compressed resources against
// the same command on its uncompressed twin, in the same run: what a user
// waits for when unpacking a System file's resources.  Target: at most 2
// times the twin's time.
//
// Both files hold the same 300 resources of 1 to 16 KiB of text-like
// contents (the three decompressors in turn, header versions 8 and 9), made
// by the tests' own encoders and MacBinary builder.  Before anything is
// timed the outputs of both runs are compared: every TYPE.ID file the same.
// Each round runs the tool once on each file, alternating which goes first;
// the median of the rounds' ratios is printed with the lowest and highest.
//
//   VARNEL_BENCH_ROUNDS  rounds (15)
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "support/macbinary.hpp"
#include "support/resource_compression.hpp"

extern char **environ;

namespace {

using namespace varnel_bench;
using vt::Bytes;
namespace fs = std::filesystem;

constexpr int kResources = 300;

Bytes text_like(size_t size, uint32_t seed) {
  static const char *const kWords[] = {"the ", "resource ", "fork ", "map ", "of ", "a ", "file ", "Finder ",
                                       "icon ", "window ", "menu ", "dialog ", "\r", "Macintosh ", "system "};
  Bytes out;
  uint32_t state = seed;
  while (out.size() < size) {
    state = state * 1103515245u + 12345u;
    const char *word = kWords[(state >> 16) % (sizeof kWords / sizeof kWords[0])];
    for (const char *c = word; *c != '\0' && out.size() < size; ++c) out.push_back(static_cast<uint8_t>(*c));
  }
  return out;
}

void write_bytes(const fs::path &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes read_bytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The compressed file and its twin in `folder`.
void make_files(const fs::path &folder) {
  vt::MacBinaryPlan packed;
  vt::MacBinaryPlan twin;
  packed.types = {{"TEXT", {}}};
  twin.types = {{"TEXT", {}}};
  constexpr int32_t kDecompressors[] = {0, 1, 2};
  for (int i = 0; i < kResources; ++i) {
    const Bytes text = text_like(1024 + static_cast<size_t>(i) * 53 % (15 * 1024), static_cast<uint32_t>(i));
    const int32_t decompressor = kDecompressors[i % 3];
    const uint8_t version = decompressor == 2 ? 9 : (i % 2 == 0 ? 8 : 9);
    const auto id = static_cast<uint32_t>(128 + i);
    packed.types[0].resources.push_back({id, std::nullopt, vt::compressed_resource(version, decompressor, text), 0x21});
    twin.types[0].resources.push_back({id, std::nullopt, text, 0x20});
  }
  write_bytes(folder / "packed.bin", vt::build_macbinary(packed).bytes);
  write_bytes(folder / "plain.bin", vt::build_macbinary(twin).bytes);
}

ProcessRun extract_all(const fs::path &folder, const char *file, const char *out) {
  fs::remove_all(folder / out);
  return run_process({VARNEL_TOOL, "extract", "-q", (folder / file).string(), "--all", (folder / out).string()});
}

bool same_outputs(const fs::path &folder) {
  for (int i = 0; i < kResources; ++i) {
    const std::string name = "TEXT." + std::to_string(128 + i);
    if (read_bytes(folder / "out_packed" / name) != read_bytes(folder / "out_plain" / name)) {
      std::fprintf(stderr, "%s differs between the two files\n", name.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main() {
  std::string pattern = (fs::temp_directory_path() / "varnel-extract-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path folder(pattern);
  make_files(folder);
  int status = 0;
  if (!extract_all(folder, "packed.bin", "out_packed").ok || !extract_all(folder, "plain.bin", "out_plain").ok ||
      !same_outputs(folder)) {
    status = 1;
  } else {
    const auto rounds = static_cast<int>(env_number("VARNEL_BENCH_ROUNDS", 15, 3, 1000));
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
      const bool packed_first = round % 2 == 0;
      const ProcessRun first = extract_all(folder, packed_first ? "packed.bin" : "plain.bin", "out_a");
      const ProcessRun second = extract_all(folder, packed_first ? "plain.bin" : "packed.bin", "out_b");
      if (!first.ok || !second.ok) {
        status = 1;
        break;
      }
      ratios.push_back(packed_first ? first.seconds / second.seconds : second.seconds / first.seconds);
    }
    if (status == 0) {
      const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
      std::printf("extract --all of %d compressed resources / of their uncompressed twin = %.2f "
                  "(median of %d rounds; lowest %.2f, highest %.2f; target at most 2)\n",
                  kResources, median(ratios), rounds, *low, *high);
    }
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return status;
}
