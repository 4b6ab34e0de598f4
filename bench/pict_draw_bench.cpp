// Drawing vector pictures with MacBin_DecodePicture, against netpbm's
// `picttoppm x.pict` on the same file in the same run: a 1024 x 768
// picture of 10,000 shapes (framed and painted rectangles, round
// rectangles, ovals, arcs, lines with thick pens, painted polygons, in
// patterns and transfer modes) and 1,000 runs of text, made here with a
// fixed seed.  Both sides run as processes of their own and alternate
// round by round; the figure is picttoppm's time over ours (target: at
// least 3), the median of the rounds; our peak resident size is set
// against the canvas plus 16 MiB.
//
// Then the bounds, in this process: a 32 KB picture of 1,000 one-pixel
// images each scaled over a 2048 x 2048 frame, and of 100 over a 16384 x
// 16384 frame; a 42-byte picture with an empty 16384 x 16384 frame (the
// time, the result and the reason, and the peak resident size after it);
// and the second again with the memory limit raised to 1 GiB.
//
//   VARNEL_BENCH_ROUNDS      rounds of the comparison (3)
//
//   pict_draw_bench                 the whole run
//   pict_draw_bench --decode FILE   one decoding of a PICT file
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "varnel.h"

namespace {

using namespace varnel_bench;

constexpr int kWidth = 1024, kHeight = 768;

// A version 2 picture, opcode by opcode.
class Picture {
 public:
  Picture(int height, int width) {
    word(0);
    for (int v : {0, 0, height, width}) word(v);
    for (int v : {0x0011, 0x02FF, 0x0C00, 0xFFFF, 0xFFFF}) word(v);
    for (int i = 0; i < 10; ++i) word(0);
  }
  void op(int opcode, std::initializer_list<int> words = {}) {
    if (bytes_.size() % 2) bytes_.push_back(0);
    word(opcode);
    for (int v : words) word(v);
  }
  void byte(int v) { bytes_.push_back(static_cast<uint8_t>(v)); }
  void word(int v) {
    bytes_.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    bytes_.push_back(static_cast<uint8_t>(v & 0xFF));
  }
  std::vector<uint8_t> finish() {
    op(0x00FF);
    return bytes_;
  }

 private:
  std::vector<uint8_t> bytes_;
};

// A fixed sequence of numbers (a linear congruential generator).
class Numbers {
 public:
  int below(int n) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<int>((state_ >> 33) % static_cast<uint64_t>(n));
  }

 private:
  uint64_t state_ = 1;
};

std::vector<uint8_t> vector_picture() {
  Picture p(kHeight, kWidth);
  Numbers n;
  const int patterns[][4] = {{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, {0xAA55, 0xAA55, 0xAA55, 0xAA55},
                             {0x8822, 0x8822, 0x8822, 0x8822}, {0xF0F0, 0x0F0F, 0xF0F0, 0x0F0F}};
  for (int i = 0; i < 10000; ++i) {
    if (i % 500 == 0) {
      const int *pattern = patterns[(i / 500) % 4];
      p.op(0x0009, {pattern[0], pattern[1], pattern[2], pattern[3]});
      p.op(0x0008, {8 + (i / 500) % 4});
      p.op(0x0007, {1 + (i / 500) % 3, 1 + (i / 1000) % 3});
      p.op(0x001A, {n.below(65536), n.below(65536), n.below(65536)});
    }
    const int left = n.below(kWidth - 8), top = n.below(kHeight - 8);
    const int right = std::min(kWidth, left + 4 + n.below(60)), bottom = std::min(kHeight, top + 4 + n.below(40));
    switch (i % 8) {
      case 0: p.op(0x0030, {top, left, bottom, right}); break;
      case 1: p.op(0x0031, {top, left, bottom, right}); break;
      case 2: p.op(0x0020, {top, left, bottom, right}); break;
      case 3: p.op(0x0051, {top, left, bottom, right}); break;
      case 4: p.op(0x000B, {8, 8}); p.op(0x0040, {top, left, bottom, right}); break;
      case 5: p.op(0x0061, {top, left, bottom, right, n.below(360), 45 + n.below(270)}); break;
      case 6: p.op(0x0071, {22, top, left, bottom, right, top, left, bottom, (left + right) / 2, top + 2, right});
        break;
      default: p.op(0x0022, {top, left}); p.byte(n.below(60) - 30); p.byte(n.below(60) - 30); break;
    }
  }
  p.op(0x001A, {0, 0, 0});
  p.op(0x000D, {12});
  const char *words = "The quick brown fox jumps over the lazy dog";
  for (int i = 0; i < 1000; ++i) {
    p.op(0x0028, {12 + n.below(kHeight - 16), n.below(kWidth - 200)});
    const int length = 12 + n.below(20);
    p.byte(length);
    for (int c = 0; c < length; ++c) p.byte(words[(i + c) % 43]);
  }
  return p.finish();
}

// 1-pixel bit images, each scaled over the whole frame.
std::vector<uint8_t> scaled_images(int side, int count) {
  Picture p(side, side);
  for (int i = 0; i < count; ++i)
    p.op(0x0090, {2, 0, 0, 1, 8, 0, 0, 1, 1, 0, 0, side, side, 0, 0x8000});
  return p.finish();
}

bool write_pict(const std::string &path, const std::vector<uint8_t> &picture) {
  std::ofstream out(path, std::ios::binary);
  const std::vector<char> header(512, 0);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  out.write(reinterpret_cast<const char *>(picture.data()), static_cast<std::streamsize>(picture.size()));
  return static_cast<bool>(out);
}

std::vector<uint8_t> read_all(const char *path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One timed decoding in this process: seconds, result and reason.
void time_bound(const char *label, const std::vector<uint8_t> &picture) {
  MacBinPixels pixels{};
  char error[128] = "";
  const auto start = std::chrono::steady_clock::now();
  const int32_t result = MacBin_DecodePicture(picture.data(), static_cast<int32_t>(picture.size()), &pixels, error);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  MacBin_FreePixels(&pixels);
  std::printf("%s (%zu bytes): %.3f s, result %d, \"%s\"; peak resident size so far %.1f MiB\n", label,
              picture.size(), seconds, result, error, static_cast<double>(own_peak_kib()) / 1024);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  MacBin_Init();
  if (argc == 3 && std::strcmp(argv[1], "--decode") == 0) {
    const std::vector<uint8_t> file = read_all(argv[2]);
    if (file.size() <= 512) return 1;
    MacBinPixels pixels{};
    char error[128] = "";
    if (MacBin_DecodePicture(file.data() + 512, static_cast<int32_t>(file.size() - 512), &pixels, error) != 1) {
      std::fprintf(stderr, "%s: %s\n", argv[2], error);
      return 1;
    }
    if (error[0] != '\0') std::fprintf(stderr, "%s: %s\n", argv[2], error);
    benchmark::DoNotOptimize(pixels.rgba[pixels.width * 4 + 1]);
    MacBin_FreePixels(&pixels);
    report_own_peak();
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const int rounds = static_cast<int>(env_number("VARNEL_BENCH_ROUNDS", 3, 1, 99));
  std::string folder = (std::filesystem::temp_directory_path() / "varnel-pict-draw-bench-XXXXXX").string();
  const std::string self = self_path();
  if (self.empty() || ::mkdtemp(folder.data()) == nullptr) {
    std::fprintf(stderr, "cannot make a folder under %s\n", std::filesystem::temp_directory_path().c_str());
    return 1;
  }
  ::setenv(kPeakFileVariable, (folder + "/peak").c_str(), 1);
  const std::string path = folder + "/vector.pict";
  const std::vector<uint8_t> picture = vector_picture();
  bool ok = write_pict(path, picture);
  std::printf("vector picture: %d x %d, 10000 shapes and 1000 text runs, %zu bytes\n", kWidth, kHeight,
              picture.size());

  const std::string picttoppm = access("/usr/local/bin/picttoppm", X_OK) == 0 ? "/usr/local/bin/picttoppm" : "";
  if (ok && picttoppm.empty()) std::printf("picttoppm is not installed: no ratio\n");
  if (ok && !picttoppm.empty()) {
    std::vector<double> ratios, ours_s, peer_s;
    double peak = 0;
    for (int r = 0; r < rounds && ok; ++r) {
      // Its own messages (one a rectangle) go to /dev/null, as its picture does.
      const ProcessRun peer = run_process({"/bin/sh", "-c", picttoppm + " '" + path + "' > /dev/null 2>&1"});
      const ProcessRun ours = run_process({self, "--decode", path});
      if (!peer.ok || !ours.ok) {
        std::printf("a run failed; no figures\n");
        ok = false;
        break;
      }
      ratios.push_back(peer.seconds / ours.seconds);
      ours_s.push_back(ours.seconds);
      peer_s.push_back(peer.seconds);
      peak = std::max(peak, ours.peak_mib);
    }
    if (ok) {
      const double ratio = median(ratios);
      std::printf("vector picture: ours %.3f s, picttoppm %.3f s: picttoppm's time / ours = %.2f "
                  "(target >= 3: %s)\n",
                  median(ours_s), median(peer_s), ratio, ratio >= 3 ? "met" : "NOT met");
      const double limit = static_cast<double>(kWidth) * kHeight * 4 / (1 << 20) + 16;
      std::printf("vector picture: our peak memory %.1f MiB; target < canvas + 16 = %.1f MiB: %s\n", peak,
                  limit, peak < limit ? "met" : "NOT met");
    }
  }
  std::fflush(stdout);
  time_bound("1000 images scaled over 2048 x 2048", scaled_images(2048, 1000));
  time_bound("100 images scaled over 16384 x 16384", scaled_images(16384, 100));
  time_bound("an empty 16384 x 16384 frame", scaled_images(16384, 0));
  // A host that trusts its pictures may allow the largest canvas: the
  // drawing work is still bounded.
  MacBin_SetPictureMemoryLimit(int64_t{1} << 30);
  time_bound("with a 1 GiB limit: 100 images scaled over 16384 x 16384", scaled_images(16384, 100));
  MacBin_SetPictureMemoryLimit(MACBIN_DEFAULT_PICTURE_BYTES);
  std::error_code ignored;
  if (std::getenv("VARNEL_BENCH_KEEP") == nullptr) std::filesystem::remove_all(folder, ignored);
  else std::printf("kept %s\n", folder.c_str());
  benchmark::Shutdown();
  return ok ? 0 : 1;
}
