// Decoding large pictures with MacBin_DecodePicture, against ImageMagick's
// `convert x.pict x.ppm` on the same file in the same run:
//   an 8-bit indexed picture (PackBitsRect, 256 colours)  and
//   a 32-bit direct picture (DirectBitsRect, packing type 4, 3 components),
// both 4096 x 4096 by default, made by ImageMagick itself from a plasma
// (fixed seed) once per run in a folder under $TMPDIR, removed at the end.
//
// Both sides run as processes of their own, started with posix_spawn, and
// alternate round by round; ours (this program with --decode) maps the file
// and decodes it to the RGBA canvas, the peer decodes and writes a PPM.
// The figure is the peer's time over ours (target: at least 3), median of
// the rounds with the lowest and the highest; the peak resident size of our
// process (from wait4) is set against the canvas plus 16 MiB, and printed
// as well without the picture's own bytes, which the process maps whole.
// Before the timing, our pixels are compared with the peer's PPM.
//
// Rows of 32-bit pixels wider than 8191 do not fit a pixel map's row bytes
// word (from 4096 on they spill into its reserved bit, which the decoder
// takes as part of the count); when the 32-bit picture at the full size is
// refused for that, the refusal is printed and the picture is timed again
// 8191 pixels wide.
//
//   VARNEL_BENCH_PICT_SIZE   width and height of both pictures (4096)
//   VARNEL_BENCH_ROUNDS      rounds of each comparison (3)
//
//   pict_decode_bench                 the whole comparison
//   pict_decode_bench --decode FILE   one decoding of a PICT file
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/mman.h>
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
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "varnel.h"

extern char **environ;

namespace {

using namespace varnel_bench;

constexpr int64_t kPictFileHeader = 512;

// ---- Our side ----------------------------------------------------------------

// A PICT file mapped whole; `bytes` null when it cannot be.
struct MappedFile {
  const uint8_t *bytes = nullptr;
  int64_t size = 0;
  explicit MappedFile(const char *path) {
    const int fd = ::open(path, O_RDONLY);
    struct stat st;
    if (fd < 0) return;
    if (::fstat(fd, &st) == 0 && st.st_size > kPictFileHeader) {
      void *m = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (m != MAP_FAILED) {
        bytes = static_cast<const uint8_t *>(m);
        size = st.st_size;
      }
    }
    ::close(fd);
  }
  ~MappedFile() {
    if (bytes != nullptr) ::munmap(const_cast<uint8_t *>(bytes), static_cast<size_t>(size));
  }
  MappedFile(const MappedFile &) = delete;
  MappedFile &operator=(const MappedFile &) = delete;
};

// Decodes the picture of a PICT file into `pixels`; false after saying why.
bool decode_file(const char *path, MacBinPixels &pixels) {
  const MappedFile file(path);
  if (file.bytes == nullptr || file.size - kPictFileHeader > INT32_MAX) {
    std::fprintf(stderr, "%s: cannot be mapped\n", path);
    return false;
  }
  char error[128] = "";
  const int32_t done =
      MacBin_DecodePicture(file.bytes + kPictFileHeader,
                           static_cast<int32_t>(file.size - kPictFileHeader), &pixels, error);
  if (done != 1 || error[0] != '\0') {
    std::fprintf(stderr, "%s: %s%s\n", path, done == 1 ? "decoded, but " : "not decoded: ", error);
    if (done == 1) MacBin_FreePixels(&pixels);
    return false;
  }
  return true;
}

// ---- The pictures ---------------------------------------------------------------

uint32_t be16(const std::vector<uint8_t> &b, size_t p) {
  return p + 1 < b.size() ? (static_cast<uint32_t>(b[p]) << 8) | b[p + 1] : 0;
}

// What the first pixel opcode of an ImageMagick picture says (its pictures
// open with the version, the extended header and a rectangular clip
// region), or why it was not found.
std::string describe_pixel_opcode(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> b(1024);
  in.read(reinterpret_cast<char *>(b.data()), static_cast<std::streamsize>(b.size()));
  b.resize(static_cast<size_t>(in.gcount()));
  size_t p = kPictFileHeader + 10;
  if (be16(b, p) != 0x0011 || be16(b, p + 2) != 0x02FF || be16(b, p + 4) != 0x0C00) {
    return "not a version 2 picture with an extended header";
  }
  p += 6 + 24;
  if (be16(b, p) == 0x0001) p += 2 + be16(b, p + 2);
  const uint32_t opcode = be16(b, p);
  char text[160];
  if (opcode == 0x009A) {  // base address, then the pixel map
    p += 6;
    std::snprintf(text, sizeof text,
                  "opcode 0x009A, row bytes word 0x%04X, packing type %u, pixel size %u, "
                  "%u components of %u bits",
                  be16(b, p), be16(b, p + 12), be16(b, p + 28), be16(b, p + 30), be16(b, p + 32));
  } else if (opcode == 0x0098) {
    p += 2;
    std::snprintf(text, sizeof text,
                  "opcode 0x0098, row bytes word 0x%04X, packing type %u, pixel size %u, "
                  "%u colours",
                  be16(b, p), be16(b, p + 12), be16(b, p + 28), be16(b, p + 52) + 1);
  } else {
    std::snprintf(text, sizeof text, "first drawing opcode 0x%04X", opcode);
  }
  return text;
}

// A binary PPM of 8-bit samples: width, height, RGB bytes; empty when not.
struct Ppm {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
};

Ppm read_ppm(const std::string &path) {
  Ppm ppm;
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return ppm;
  int maxval = 0;
  if (std::fscanf(f, "P6 %d %d %d", &ppm.width, &ppm.height, &maxval) == 3 && maxval == 255 &&
      std::fgetc(f) != EOF && ppm.width > 0 && ppm.height > 0) {
    ppm.rgb.resize(static_cast<size_t>(ppm.width) * static_cast<size_t>(ppm.height) * 3);
    if (std::fread(ppm.rgb.data(), 1, ppm.rgb.size(), f) != ppm.rgb.size()) ppm.rgb.clear();
  }
  std::fclose(f);
  return ppm;
}

// How our pixels differ from the peer's: empty when every sample is within
// 1, else the count of pixels that are not and the largest difference.
std::string compare_with_peer(const MacBinPixels &ours, const Ppm &peer) {
  if (peer.rgb.empty()) return "the peer's PPM cannot be read";
  if (peer.width != ours.width || peer.height != ours.height) {
    return "sizes differ: ours " + std::to_string(ours.width) + " x " +
           std::to_string(ours.height) + ", the peer's " + std::to_string(peer.width) + " x " +
           std::to_string(peer.height);
  }
  int64_t differing = 0;
  int largest = 0;
  int64_t first = -1;
  const int64_t count = static_cast<int64_t>(ours.width) * ours.height;
  for (int64_t i = 0; i < count; ++i) {
    int worst = 0;
    for (int c = 0; c < 3; ++c) {
      worst = std::max(worst, std::abs(static_cast<int>(ours.rgba[i * 4 + c]) - peer.rgb[static_cast<size_t>(i * 3 + c)]));
    }
    if (ours.rgba[i * 4 + 3] != 255) worst = std::max(worst, 255 - ours.rgba[i * 4 + 3]);
    if (worst > 1) {
      if (first < 0) first = i;
      ++differing;
      largest = std::max(largest, worst);
    }
  }
  if (differing == 0) return "";
  return std::to_string(differing) + " pixels differ by more than 1 (largest difference " +
         std::to_string(largest) + ", first at x " + std::to_string(first % ours.width) + ", y " +
         std::to_string(first / ours.width) + ")";
}

std::string find_in_path(const char *name) {
  const char *path = std::getenv("PATH");
  std::string rest = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= rest.size()) {
    const size_t end = std::min(rest.find(':', start), rest.size());
    const std::string candidate = rest.substr(start, end - start) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

struct Picture {
  const char *label;
  const char *im_type;
  std::string path;
};

// Makes, checks and times one picture.  False when something failed.
bool run_picture(const Picture &picture, const std::string &convert, const std::string &self,
                 const std::string &folder, int64_t width, int64_t height, int rounds) {
  const std::string geometry = std::to_string(width) + "x" + std::to_string(height);
  const auto start = std::chrono::steady_clock::now();
  if (!run_process({convert, "-seed", "1", "-size", geometry, "plasma:fractal", "-type",
                    picture.im_type, picture.path})
           .ok) {
    std::printf("%s: ImageMagick could not make the picture\n", picture.label);
    return false;
  }
  struct stat st;
  ::stat(picture.path.c_str(), &st);
  std::printf("%s: %s x %s, %lld bytes, made in %.1f s; %s\n", picture.label,
              std::to_string(width).c_str(), std::to_string(height).c_str(),
              static_cast<long long>(st.st_size),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              describe_pixel_opcode(picture.path).c_str());

  // Our pixels against the peer's, and one in-process decoding time.
  const std::string ppm = folder + "/peer.ppm";
  MacBinPixels pixels{};
  const auto decoding = std::chrono::steady_clock::now();
  const bool decoded = decode_file(picture.path.c_str(), pixels);
  const double in_process =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - decoding).count();
  if (!decoded) {
    std::printf("%s: MacBin_DecodePicture failed (above); no figures\n", picture.label);
    return false;
  }
  const bool peer_ran = run_process({convert, picture.path, ppm}).ok;
  const std::string difference =
      peer_ran ? compare_with_peer(pixels, read_ppm(ppm)) : "the peer failed";
  MacBin_FreePixels(&pixels);
  std::printf("%s: pixels against the peer's PPM: %s; one in-process decoding %.3f s\n",
              picture.label, difference.empty() ? "the same (within 1)" : difference.c_str(),
              in_process);

  std::vector<double> ratios;
  std::vector<double> ours_s;
  std::vector<double> peer_s;
  double peak = 0;
  double peer_peak = 0;
  for (int r = 0; r < rounds; ++r) {
    const ProcessRun peer = run_process({convert, picture.path, ppm});
    std::filesystem::remove(ppm);
    const ProcessRun ours = run_process({self, "--decode", picture.path});
    if (!peer.ok || !ours.ok) {
      std::printf("%s: a run failed; no figures\n", picture.label);
      return false;
    }
    ratios.push_back(peer.seconds / ours.seconds);
    ours_s.push_back(ours.seconds);
    peer_s.push_back(peer.seconds);
    peak = std::max(peak, ours.peak_mib);
    peer_peak = std::max(peer_peak, peer.wait4_peak_mib);
    if (ours.peak_mib < 0) {
      std::printf("%s: the decoding process did not report its peak memory\n", picture.label);
      return false;
    }
  }
  const double ratio = median(ratios);
  const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
  std::printf("%s: ours %.3f s, convert %.3f s: convert's time / ours = %.2f (rounds %.2f to "
              "%.2f; target >= 3: %s)\n",
              picture.label, median(ours_s), median(peer_s), ratio, *low, *high,
              ratio >= 3 ? "met" : "NOT met");
  const double canvas_mib = static_cast<double>(width * height * 4) / (1 << 20);
  const double limit = canvas_mib + 16;
  const double picture_mib = static_cast<double>(st.st_size) / (1 << 20);
  std::printf("%s: peak memory %.1f MiB, %.1f MiB without the mapped picture (%.1f MiB); "
              "target < canvas %.0f + 16 = %.0f MiB: %s with the picture, %s without; "
              "convert's peak at most %.1f MiB\n",
              picture.label, peak, peak - picture_mib, picture_mib, canvas_mib, limit,
              peak < limit ? "met" : "NOT met", peak - picture_mib < limit ? "met" : "NOT met",
              peer_peak);
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  MacBin_Init();
  if (argc == 3 && std::strcmp(argv[1], "--decode") == 0) {
    MacBinPixels pixels{};
    if (!decode_file(argv[2], pixels)) return 1;
    benchmark::DoNotOptimize(pixels.rgba[pixels.width * 4 + 1]);
    MacBin_FreePixels(&pixels);
    report_own_peak();
    return 0;
  }
  // Takes the usual benchmark flags (bench/run.sh passes some), which have
  // nothing to set here.
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::string convert = find_in_path("convert-im6.q16");
  if (convert.empty()) convert = find_in_path("convert");
  if (convert.empty()) {
    std::printf("ImageMagick's convert is not installed: it makes the pictures and is the peer; "
                "skipped\n");
    return 0;
  }
  const std::string self = self_path();
  const int64_t size = env_number("VARNEL_BENCH_PICT_SIZE", 4096, 8, 16384);
  const int rounds = static_cast<int>(env_number("VARNEL_BENCH_ROUNDS", 3, 1, 99));
  std::string folder =
      (std::filesystem::temp_directory_path() / "varnel-pict-decode-bench-XXXXXX").string();
  if (self.empty() || ::mkdtemp(folder.data()) == nullptr) {
    std::fprintf(stderr, "cannot make a folder under %s\n",
                 std::filesystem::temp_directory_path().c_str());
    return 1;
  }
  ::setenv(kPeakFileVariable, (folder + "/peak").c_str(), 1);
  std::printf("peer: %s\n", convert.c_str());
  const Picture pictures[] = {{"8-bit PackBits", "Palette", folder + "/indexed.pict"},
                              {"32-bit direct", "TrueColor", folder + "/direct.pict"}};
  bool ok = true;
  ok = run_picture(pictures[0], convert, self, folder, size, size, rounds);
  if (!run_picture(pictures[1], convert, self, folder, size, size, rounds)) {
    // A pixel map's row bytes word keeps 15 bits for the count at most:
    // rows of 32-bit pixels hold at most 8191 of them.  ImageMagick writes
    // wider ones anyway, which the decoder refuses with its reason (printed
    // above); the widest picture it can hold is timed instead.
    ok = false;
    if (size > 8191) {
      std::printf("32-bit direct: NOT measured at %lld x %lld (refused, above); timed instead at "
                  "8191 x %lld, the widest 32-bit rows whose row bytes fit the word\n",
                  static_cast<long long>(size), static_cast<long long>(size),
                  static_cast<long long>(size));
      ok = run_picture(pictures[1], convert, self, folder, 8191, size, rounds);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  benchmark::Shutdown();
  return ok ? 0 : 1;
}
