// Shared by the picture benchmarks: straightforward references written
// plainly from the picture's rules (the baselines the library is measured
// against and must agree with byte for byte), synthetic photo-like rows, and
// a reporter that prints each benchmark's time as a ratio to its baseline.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "varnel.h"

namespace bench_reference {

// PackBits as its rules read, one byte at a time.
inline size_t plain_pack_bits(const uint8_t *s, long count, uint8_t *out) {
  uint8_t *start = out;
  long p = 0;
  long n = count;
  long c = 0;
  while (n > 0) {
    const long lim = std::min(n - 2, 128L);
    long k = c;
    bool found = false;
    while (k < lim) {
      if (s[p + k] == s[p + k + 2] && s[p + k] == s[p + k + 1]) {
        found = true;
        break;
      }
      ++k;
    }
    if (!found && k >= n - 2 && n < 128) k = n;
    if (k > 0) {
      *out++ = static_cast<uint8_t>(k - 1);
      for (long i = 0; i < k; ++i) *out++ = s[p + i];
      p += k;
      n -= k;
    }
    long j = 0;
    while (n > 0 && j < std::min(n - 1, 127L) && s[p + j + 1] == s[p]) ++j;
    if (j > 0) {
      *out++ = static_cast<uint8_t>(256 - j);
      *out++ = s[p];
      p += j + 1;
      n -= j + 1;
      c = 0;
    } else {
      c = 1;
    }
  }
  return static_cast<size_t>(out - start);
}

// Red, green, blue planes to cube indices by the single-precision error
// diffusion, as defined.
inline void plain_rgb_to_cube(uint8_t *row, long count) {
  float er = 0.0f;
  float eg = 0.0f;
  float eb = 0.0f;
  for (long i = 0; i < count; ++i) {
    const float r = row[i];
    const float g = row[count + i];
    const float b = row[2 * count + i];
    const int32_t qr = nint(static_cast<double>((r + er) / 42.5f));
    er = er + (r - static_cast<float>(qr) * 42.5f);
    const int32_t qg = nint(static_cast<double>((g + eg) / 42.5f));
    eg = eg + (g - static_cast<float>(qg) * 42.5f);
    const int32_t qb = nint(static_cast<double>((b + eb) / 63.75f));
    eb = eb + (b - static_cast<float>(qb) * 63.75f);
    row[i] = static_cast<uint8_t>(qr + 7 * qg + 49 * qb);
  }
}

// A small deterministic generator, so every run packs the same bytes.
struct Random {
  uint64_t state;
  uint32_t next() {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<uint32_t>(state >> 33);
  }
};

// One channel of a photo-like row: smooth shading with sensor noise, and a
// few flat (saturated) stretches where runs occur.
inline void photo_like_plane(uint8_t *plane, long width, long y, int channel, Random &random) {
  for (long x = 0; x < width; ++x) {
    const double shade = 128.0 + 90.0 * std::sin(static_cast<double>(x) / (53.0 + 7 * channel)) *
                                     std::cos(static_cast<double>(y) / (71.0 + 5 * channel));
    const double noise = static_cast<double>(random.next() % 9) - 4.0;
    const double value = shade + noise + (((x / 300 + y / 200) % 5 == 0) ? 200.0 : 0.0);
    plane[x] = static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
  }
}

// Collects the CPU time of every benchmark (steadier than wall time on a
// shared machine) and prints, after the usual table, chosen pairs as ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.run_type == Run::RT_Iteration) times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
  }
  // Prints time(baseline) / time(subject) for each pair: "N.NNx faster".
  void print_ratio(const std::string &subject, const std::string &baseline, double target) const {
    const auto s = times_.find(subject);
    const auto b = times_.find(baseline);
    if (s == times_.end() || b == times_.end() || s->second <= 0) return;
    const double ratio = b->second / s->second;
    std::printf("ratio %-40s vs %-40s %6.2fx faster (target %.1fx: %s)\n", subject.c_str(),
                baseline.c_str(), ratio, target, ratio >= target ? "met" : "NOT met");
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace bench_reference
