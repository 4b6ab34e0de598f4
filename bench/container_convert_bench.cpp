// Converting a MacBinary file with a large data fork into the other
// containers, as a host copying a file across does it with the public calls:
// MacBin_OpenR, MacBin_GetFileInfo, MacBin_ReadDataFork in 1 MiB pieces,
// the resource fork's bytes where MacBin_GetResourceBlockParams places them,
// then MacBin_SetFormat, MacBin_OpenW, MacBin_PutBuf, MacBin_SetDates,
// MacBin_SetResourceFork and MacBin_Close.
//
//   AppleSingle and AppleDouble  against `cat IN > OUT` of the same file,
//                                 as throughput (cat's time over ours;
//                                 target: at least 0.5), and peak memory
//                                 of the converting process (target: under
//                                 16 MiB whatever the fork's size);
//   BinHex                        against coreutils' `base64 IN > OUT` of
//                                 the same file (target: at least 0.5).
//
// Every side runs as a process of its own (this program again, with
// --convert), started with posix_spawn so that it does not inherit this
// one's memory; its peak resident size comes from wait4.  The rounds
// alternate the baseline and ours, so that a load that comes and goes meets
// both; the median of the rounds' ratios is printed with the lowest and the
// highest.  Before anything is timed, each output is read back through the
// library and compared with the input: same facts, same forks.
//
// The input is made once per run in a folder under $TMPDIR (pseudo-random
// bytes, all written: no sparse file) and removed at the end.  Sizes:
//   VARNEL_BENCH_CONVERT_MIB  data fork for AppleSingle/AppleDouble (1024)
//   VARNEL_BENCH_BINHEX_MIB   data fork for BinHex (256)
//   VARNEL_BENCH_ROUNDS       rounds of each comparison (3)
//
//   container_convert_bench                          the whole comparison
//   container_convert_bench --convert F IN OUT       one conversion, F one of
//                                                    applesingle, appledouble,
//                                                    binhex
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "varnel.h"

extern char **environ;

namespace {

using namespace varnel_bench;

constexpr int32_t kChunkBytes = 1 << 20;
constexpr int kResources = 24;
constexpr int32_t kResourceBytes = 3000;

// ---- The conversion (the child's work) --------------------------------------

int32_t format_named(const std::string &name) {
  if (name == "applesingle") return MACBIN_FORMAT_APPLESINGLE;
  if (name == "appledouble") return MACBIN_FORMAT_APPLEDOUBLE;
  if (name == "binhex") return MACBIN_FORMAT_BINHEX;
  return 0;
}

// The resource fork as the file holds it, or false when it cannot be read.
bool read_resource_fork(MacBinChannel *channel, std::vector<uint8_t> &fork) {
  int32_t offset = 0;
  int32_t length = 0;
  MacBin_GetResourceBlockParams(channel, &offset, &length);
  fork.assign(static_cast<size_t>(std::max(length, 0)), 0);
  if (length <= 0) return true;
  return fputp(channel->file, offset) == offset && fgetm(channel->file, fork.data(), length) == 1;
}

// IN, read as it is, written as OUT in `format`.  0 when OUT is complete.
int convert(int32_t format, const char *in, const char *out) {
  MacBinChannel *reader = MacBin_OpenR(in);
  if (reader == nullptr) return 1;
  MacBinFileInfo info;
  std::vector<uint8_t> fork;
  if (MacBin_GetFileInfo(reader, &info) != 1 || !read_resource_fork(reader, fork) ||
      MacBin_SetFormat(format) != 1) {
    std::fprintf(stderr, "%s: cannot read its facts or its resource fork\n", in);
    MacBin_Close(reader);
    return 1;
  }
  char name[64];
  std::memcpy(name, info.name, sizeof name);
  MacBinChannel *writer = MacBin_OpenW(out, name, info.creator, info.type);
  if (writer == nullptr) {
    MacBin_Close(reader);
    return 1;
  }
  std::vector<uint8_t> chunk(kChunkBytes);
  bool read_ok = true;
  for (int64_t offset = 0;;) {
    const int32_t count = MacBin_ReadDataFork(reader, offset, chunk.data(), kChunkBytes);
    if (count < 0) read_ok = false;
    if (count <= 0) break;
    if (MacBin_PutBuf(chunk.data(), count, count) != 0) break;
    offset += count;
  }
  const bool set_ok = MacBin_SetDates(writer, info.created, info.modified) == 0 &&
                      MacBin_SetResourceFork(writer, fork.data(),
                                             static_cast<int32_t>(fork.size())) == 0;
  MacBin_Close(writer);
  MacBin_Close(reader);
  if (!read_ok || !set_ok) {
    std::fprintf(stderr, "%s: %s\n", in, read_ok ? "the resource fork was refused"
                                                 : "read error in the data fork");
    return 1;
  }
  struct stat st;
  return ::stat(out, &st) == 0 ? 0 : 1;
}

// ---- The input --------------------------------------------------------------

struct Random {
  uint64_t state;
  uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
};

int32_t write_resource_bytes(MacBinChannel *channel, const char *) {
  std::vector<uint8_t> bytes(kResourceBytes);
  for (int32_t i = 0; i < kResourceBytes; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(channel->cur_id * 7 + i);
  return MacBin_PutBuf(bytes.data(), kResourceBytes, kResourceBytes);
}

// A MacBinary II file with a data fork of `bytes` pseudo-random bytes and a
// resource fork of kResources resources, written by the library.
bool make_input(const std::string &path, int64_t bytes) {
  if (MacBin_SetFormat(MACBIN_FORMAT_II) != 1 ||
      MacBin_AddProcessor("****", nullptr, write_resource_bytes) != 0) {
    return false;
  }
  char name[] = "Converted file";
  MacBinChannel *channel = MacBin_OpenW(path.c_str(), name, "VARN", "BINA");
  if (channel == nullptr) return false;
  std::vector<uint8_t> chunk(kChunkBytes);
  Random random{0x9E3779B97F4A7C15ull};
  bool ok = true;
  for (int64_t done = 0; done < bytes && ok; done += kChunkBytes) {
    for (size_t i = 0; i < chunk.size(); i += 8) {
      const uint64_t word = random.next();
      std::memcpy(chunk.data() + i, &word, 8);
    }
    const int32_t count = static_cast<int32_t>(std::min<int64_t>(kChunkBytes, bytes - done));
    ok = MacBin_PutBuf(chunk.data(), count, count) == 0;
  }
  char line[64];
  for (int r = 0; r < kResources && ok; ++r) {
    std::snprintf(line, sizeof line, "DATA %d Piece-%02d", 128 + r, r);
    MacBin_AddResource(channel, line);
  }
  MacBin_SetDates(channel, 3'000'000'000u, 3'100'000'000u);
  MacBin_Close(channel);
  // On the disk before anything is timed: its write-back would otherwise
  // start in the middle of the rounds and slow whichever side it met.
  const int fd = ::open(path.c_str(), O_RDONLY);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  struct stat st;
  return ok && synced && ::stat(path.c_str(), &st) == 0 && st.st_size > bytes;
}

// ---- Checking an output ---------------------------------------------------------

// Empty when OUT holds what IN holds (facts, both forks), else what differs.
std::string compare_containers(const std::string &in, const std::string &out) {
  MacBinChannel *a = MacBin_OpenR(in.c_str());
  MacBinChannel *b = MacBin_OpenR(out.c_str());
  std::string problem;
  MacBinFileInfo ia{};
  MacBinFileInfo ib{};
  if (a == nullptr || b == nullptr || MacBin_GetFileInfo(a, &ia) != 1 ||
      MacBin_GetFileInfo(b, &ib) != 1) {
    problem = "cannot be opened for reading";
  } else if (std::strcmp(ia.name, ib.name) != 0 || std::memcmp(ia.type, ib.type, 4) != 0 ||
             std::memcmp(ia.creator, ib.creator, 4) != 0) {
    problem = "name, type or creator differ";
  } else if (ia.data_length != ib.data_length || ia.rsrc_length != ib.rsrc_length) {
    problem = "fork lengths differ (data " + std::to_string(ia.data_length) + " and " +
              std::to_string(ib.data_length) + ", resources " + std::to_string(ia.rsrc_length) +
              " and " + std::to_string(ib.rsrc_length) + ")";
  } else if (ib.format != MACBIN_FORMAT_BINHEX &&
             (ia.created != ib.created || ia.modified != ib.modified)) {
    problem = "dates differ";
  } else if (ib.rsrc_state != 1 || MacBin_GetNrTypes(b) != MacBin_GetNrTypes(a)) {
    problem = "the resource map does not read back";
  } else {
    std::vector<uint8_t> fa;
    std::vector<uint8_t> fb;
    if (!read_resource_fork(a, fa) || !read_resource_fork(b, fb) || fa != fb) {
      problem = "resource forks differ";
    }
    std::vector<uint8_t> ca(kChunkBytes);
    std::vector<uint8_t> cb(kChunkBytes);
    for (int64_t offset = 0; problem.empty();) {
      const int32_t na = MacBin_ReadDataFork(a, offset, ca.data(), kChunkBytes);
      const int32_t nb = MacBin_ReadDataFork(b, offset, cb.data(), kChunkBytes);
      if (na != nb || na < 0 || std::memcmp(ca.data(), cb.data(), static_cast<size_t>(na)) != 0) {
        problem = "data forks differ from byte " + std::to_string(offset);
      }
      if (na <= 0) break;
      offset += na;
    }
  }
  if (a != nullptr) MacBin_Close(a);
  if (b != nullptr) MacBin_Close(b);
  return problem;
}

void remove_output(const std::string &out) {
  std::filesystem::path p(out);
  std::error_code ignored;
  std::filesystem::remove(p, ignored);
  std::filesystem::remove(p.parent_path() / ("._" + p.filename().string()), ignored);
}

struct Figures {
  std::vector<double> ratios;  // baseline time / our time, one a round
  double our_seconds = 0;      // medians
  double base_seconds = 0;
  double peak_mib = 0;         // the highest of the rounds
  double base_peak_mib = 0;
};

// Rounds of baseline then ours.  False when a run failed.
bool compare_runs(const std::vector<std::string> &baseline, const std::vector<std::string> &ours,
                  const std::string &out, int rounds, Figures &figures) {
  std::vector<double> ours_s;
  std::vector<double> base_s;
  for (int r = 0; r < rounds; ++r) {
    const ProcessRun base = run_process(baseline, out);
    remove_output(out);
    const ProcessRun mine = run_process(ours, "");
    remove_output(out);
    if (!base.ok || !mine.ok) return false;
    figures.ratios.push_back(base.seconds / mine.seconds);
    ours_s.push_back(mine.seconds);
    base_s.push_back(base.seconds);
    figures.peak_mib = std::max(figures.peak_mib, mine.peak_mib);
    figures.base_peak_mib = std::max(figures.base_peak_mib, base.wait4_peak_mib);
    if (mine.peak_mib < 0) {
      std::fprintf(stderr, "the converting process did not report its peak memory\n");
      return false;
    }
  }
  figures.our_seconds = median(ours_s);
  figures.base_seconds = median(base_s);
  return true;
}

void print_figures(const char *what, const char *baseline, int64_t mib, const Figures &f,
                   double peak_limit_mib) {
  const double ratio = median(f.ratios);
  const auto [low, high] = std::minmax_element(f.ratios.begin(), f.ratios.end());
  std::printf("%-12s %5lld MiB: %.2f s, %s %.2f s: throughput ratio %.2f (rounds %.2f to %.2f, "
              "target >= 0.50: %s); %.1f MiB/s\n",
              what, static_cast<long long>(mib), f.our_seconds, baseline, f.base_seconds, ratio,
              *low, *high, ratio >= 0.5 ? "met" : "NOT met",
              static_cast<double>(mib) / f.our_seconds);
  if (peak_limit_mib > 0) {
    std::printf("%-12s peak memory %.1f MiB (%s: at most %.1f MiB; target < %.0f MiB: %s)\n", what,
                f.peak_mib, baseline, f.base_peak_mib, peak_limit_mib,
                f.peak_mib < peak_limit_mib ? "met" : "NOT met");
  } else {
    std::printf("%-12s peak memory %.1f MiB (%s: at most %.1f MiB)\n", what, f.peak_mib, baseline,
                f.base_peak_mib);
  }
}

bool run_all(const std::string &folder) {
  const int64_t convert_mib = env_number("VARNEL_BENCH_CONVERT_MIB", 1024, 1, 2000);
  const int64_t binhex_mib = env_number("VARNEL_BENCH_BINHEX_MIB", 256, 1, 2000);
  const int rounds = static_cast<int>(env_number("VARNEL_BENCH_ROUNDS", 3, 1, 99));
  const std::string self = self_path();
  if (self.empty()) {
    std::fprintf(stderr, "cannot find this program's own path\n");
    return false;
  }
  const std::string big = folder + "/big.bin";
  const std::string small = folder + "/small.bin";
  const std::string out = folder + "/out";
  const auto made = std::chrono::steady_clock::now();
  if (!make_input(big, convert_mib << 20) || !make_input(small, binhex_mib << 20)) {
    std::fprintf(stderr, "cannot make the MacBinary inputs in %s\n", folder.c_str());
    return false;
  }
  std::printf("inputs: MacBinary II, data forks of %lld and %lld MiB, %d resources; made in %.1f s\n",
              static_cast<long long>(convert_mib), static_cast<long long>(binhex_mib), kResources,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - made).count());

  struct Case {
    const char *label;
    const char *format;
    const std::string *input;
    int64_t mib;
    std::vector<std::string> baseline;
    const char *baseline_label;
    double peak_limit_mib;
  };
  const std::vector<Case> cases = {
      {"AppleSingle", "applesingle", &big, convert_mib, {"cat", big}, "cat", 16},
      {"AppleDouble", "appledouble", &big, convert_mib, {"cat", big}, "cat", 16},
      {"BinHex", "binhex", &small, binhex_mib, {"base64", small}, "base64", 0},
  };
  bool ok = true;
  for (const Case &c : cases) {
    // Once, compared with the input, before anything is timed.
    const ProcessRun first = run_process({self, "--convert", c.format, *c.input, out}, "");
    // An AppleDouble pair is opened by its header file, which names the
    // data file beside it.
    const std::string written =
        format_named(c.format) == MACBIN_FORMAT_APPLEDOUBLE ? folder + "/._out" : out;
    const std::string problem = first.ok ? compare_containers(*c.input, written) : "not written";
    remove_output(out);
    if (!problem.empty()) {
      std::printf("%-12s the output does not match its input: %s\n", c.label, problem.c_str());
      ok = false;
      continue;
    }
    Figures figures;
    if (!compare_runs(c.baseline, {self, "--convert", c.format, *c.input, out}, out, rounds,
                      figures)) {
      std::printf("%-12s a run failed; no figures\n", c.label);
      ok = false;
      continue;
    }
    print_figures(c.label, c.baseline_label, c.mib, figures, c.peak_limit_mib);
    std::fflush(stdout);
  }
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  MacBin_Init();
  // Warnings and errors only: the notices of every file written would
  // drown the figures.
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(+[](const char *, const char *text, int32_t severity) {
                     if (severity >= MACBIN_WARNING) std::fprintf(stderr, "varnel: %s\n", text);
                   }),
                   MACBIN_METHOD_MESSAGE);
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(+[](MacBinProgress *) {}), MACBIN_METHOD_PROGRESS);
  if (argc == 5 && std::strcmp(argv[1], "--convert") == 0) {
    const int32_t format = format_named(argv[2]);
    if (format == 0) {
      std::fprintf(stderr, "unknown format %s\n", argv[2]);
      return 2;
    }
    const int status = convert(format, argv[3], argv[4]);
    report_own_peak();
    return status;
  }
  // Takes the usual benchmark flags (bench/run.sh passes some), which have
  // nothing to set here.
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::string pattern =
      (std::filesystem::temp_directory_path() / "varnel-convert-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::fprintf(stderr, "cannot make a folder under %s: %s\n",
                 std::filesystem::temp_directory_path().c_str(), std::strerror(errno));
    return 1;
  }
  ::setenv(kPeakFileVariable, (pattern + "/peak").c_str(), 1);
  const bool ok = run_all(pattern);
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  benchmark::Shutdown();
  return ok ? 0 : 1;
}
