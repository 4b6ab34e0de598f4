// PackBits on the rows a preview packs: photo-like grey rows and dithered
// colour-cube rows, against the packer written plainly from the same rules.
// Both must produce identical bytes (checked before timing).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/picture_reference.hpp"
#include "format/packbits.hpp"
#include "picture/internal.hpp"
#include "varnel.h"

namespace {

using bench_reference::Random;
using varnel::format::packbits_worst_case;

constexpr long kRowBytes = 4096;
constexpr long kRows = 256;

struct Rows {
  std::vector<uint8_t> bytes;  // kRows rows of kRowBytes
  const uint8_t *row(long y) const { return bytes.data() + y * kRowBytes; }
};

Rows photo_rows() {
  Rows rows;
  rows.bytes.resize(kRows * kRowBytes);
  Random random{1};
  for (long y = 0; y < kRows; ++y) {
    bench_reference::photo_like_plane(rows.bytes.data() + y * kRowBytes, kRowBytes, y, 0, random);
  }
  return rows;
}

// What a colour preview packs: photo-like RGB through the error diffusion.
Rows dithered_rows() {
  Rows rows;
  rows.bytes.resize(kRows * kRowBytes);
  Random random{2};
  std::vector<uint8_t> planes(3 * kRowBytes);
  for (long y = 0; y < kRows; ++y) {
    for (int c = 0; c < 3; ++c) {
      bench_reference::photo_like_plane(planes.data() + c * kRowBytes, kRowBytes, y, c, random);
    }
    convert_row(planes.data(), static_cast<int32_t>(kRowBytes), 3, 1, 2);
    std::memcpy(rows.bytes.data() + y * kRowBytes, planes.data(), kRowBytes);
  }
  return rows;
}

const Rows &rows_of(int kind) {
  static const Rows photo = photo_rows();
  static const Rows dithered = dithered_rows();
  return kind == 0 ? photo : dithered;
}

// Identical bytes, or the benchmark means nothing.
void check_identical(const Rows &rows, const char *what) {
  std::vector<uint8_t> a(packbits_worst_case(kRowBytes));
  std::vector<uint8_t> b(packbits_worst_case(kRowBytes));
  size_t packed = 0;
  for (long y = 0; y < kRows; ++y) {
    const int32_t n = PackBits(rows.row(y), a.data(), kRowBytes);
    const size_t m = bench_reference::plain_pack_bits(rows.row(y), kRowBytes, b.data());
    if (static_cast<size_t>(n) != m || std::memcmp(a.data(), b.data(), m) != 0) {
      std::fprintf(stderr, "%s row %ld: PackBits differs from the plain packer\n", what, y);
      std::exit(1);
    }
    packed += m;
  }
  std::printf("%s rows: %ld x %ld bytes pack to %.1f%%, identical to the plain packer\n", what,
              kRows, kRowBytes, 100.0 * static_cast<double>(packed) / (kRows * kRowBytes));
}

void BM_PackBits(benchmark::State &state) {
  const Rows &rows = rows_of(static_cast<int>(state.range(0)));
  std::vector<uint8_t> out(packbits_worst_case(kRowBytes));
  for (auto _ : state) {
    for (long y = 0; y < kRows; ++y) {
      benchmark::DoNotOptimize(PackBits(rows.row(y), out.data(), kRowBytes));
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kRows * kRowBytes);
}

void BM_PlainPacker(benchmark::State &state) {
  const Rows &rows = rows_of(static_cast<int>(state.range(0)));
  std::vector<uint8_t> out(packbits_worst_case(kRowBytes));
  for (auto _ : state) {
    for (long y = 0; y < kRows; ++y) {
      benchmark::DoNotOptimize(bench_reference::plain_pack_bits(rows.row(y), kRowBytes, out.data()));
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kRows * kRowBytes);
}

// 0 = photo-like rows, 1 = dithered preview rows.
BENCHMARK(BM_PackBits)->Arg(0)->Arg(1);
BENCHMARK(BM_PlainPacker)->Arg(0)->Arg(1);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  check_identical(rows_of(0), "photo-like");
  check_identical(rows_of(1), "dithered");
  bench_reference::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratio("BM_PackBits/0", "BM_PlainPacker/0", 1.5);
  reporter.print_ratio("BM_PackBits/1", "BM_PlainPacker/1", 1.5);
  benchmark::Shutdown();
  return 0;
}
