// The preview of a 4096 x 4096 RGB image through MacBin_Add_PICT, with image
// methods serving rows from memory, against a straightforward reference that
// takes the same row steps plainly (single-precision error diffusion, the
// plain packer, fwrite).  Both write the same picture; the bytes are compared
// before anything is timed.
//
//   pict_bench                      the benchmarks and their ratio
//   pict_bench --once FILE          one preview into FILE (for /usr/bin/time)
//   pict_bench --reference FILE     the reference's picture into FILE
//   pict_bench --write-ppm FILE     the same image as a binary PPM (for peers)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/picture_reference.hpp"
#include "frame/internal.hpp"
#include "picture/internal.hpp"
#include "stream/internal.hpp"
#include "varnel.h"

namespace {

using bench_reference::Random;

constexpr int32_t kWidth = 4096;
constexpr int32_t kHeight = 4096;
constexpr int32_t kChannels = 3;
// Rows come from a tile of distinct rows held in memory, so that the image
// costs no more memory than a host's row cache would.
constexpr int32_t kTileRows = 64;
constexpr size_t kRowSize = static_cast<size_t>(kChannels) * kWidth;

const std::vector<uint8_t> &tile() {
  static const std::vector<uint8_t> rows = [] {
    std::vector<uint8_t> t(kRowSize * kTileRows);
    Random random{3};
    for (int32_t y = 0; y < kTileRows; ++y) {
      for (int c = 0; c < kChannels; ++c) {
        bench_reference::photo_like_plane(t.data() + static_cast<size_t>(y) * kRowSize + static_cast<size_t>(c) * kWidth, kWidth, y * 37, c,
                                          random);
      }
    }
    return t;
  }();
  return rows;
}
const uint8_t *tile_row(int32_t y) { return tile().data() + static_cast<size_t>(y % kTileRows) * kRowSize; }

// ---- The host's image methods ----------------------------------------------

int32_t rows_served = 0;

int32_t host_prepare(MacBinImage *, const char *) { return 0; }
int32_t host_open(MacBinImage *image, MacBinImageRequest *) {
  image->width = kWidth;
  image->height = kHeight;
  image->channels = kChannels;
  image->kinds = 0x20;
  image->h_size = static_cast<float>(kWidth) / 72.0f;
  image->v_size = static_cast<float>(kHeight) / 72.0f;
  rows_served = 0;
  return 0;
}
int32_t host_begin(MacBinImage *, MacBinReadRequest *) { return 0; }
uint8_t *host_next_row(MacBinImage *image) {
  std::memcpy(image->row_buffer, tile_row(rows_served++), kRowSize);
  return image->row_buffer;
}
int32_t host_status(MacBinImage *) { return 0; }
void silent_progress(MacBinProgress *) {}

void install_host() {
  MacBin_Init();
  auto set = [](auto method, int32_t id) {
    MacBin_Setmethod(reinterpret_cast<MacBinMethod>(method), id);
  };
  set(host_prepare, MACBIN_METHOD_PREPARE);
  set(host_open, MACBIN_METHOD_OPEN);
  set(host_begin, MACBIN_METHOD_BEGIN);
  set(host_next_row, MACBIN_METHOD_NEXT_ROW);
  set(host_status, MACBIN_METHOD_END);
  set(host_status, MACBIN_METHOD_CLOSE);
  set(host_status, MACBIN_METHOD_RELEASE);
  set(silent_progress, MACBIN_METHOD_PROGRESS);
}

// One preview through the library into `path`.  Returns MacBin_Add_PICT's result.
int32_t write_preview(const std::string &path) {
  TesselFile *file = fopenw(fdbset(0, "STREAM,SEQUENTIAL"), path.c_str(), "", 0);
  if (file == nullptr) return 0;
  MacBinChannel *channel = MacBin_NewChannel();
  channel->file = file;
  channel->mode = 2;
  std::snprintf(channel->cur_type, sizeof channel->cur_type, "PICT");
  channel->cur_id = 128;
  MacChannel = channel;
  outfile = file;
  const int32_t result = MacBin_Add_PICT(channel, "photo 72");
  if (fclosx(file) != 0) return 0;
  fdbfree(file);
  outfile = nullptr;
  MacChannel = nullptr;
  release_channel_record(channel);
  return result;
}

// ---- The reference ---------------------------------------------------------------

void put16(std::vector<uint8_t> &b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
void put32(std::vector<uint8_t> &b, uint32_t v) {
  put16(b, v >> 16);
  put16(b, v & 0xFFFF);
}
void put_rect(std::vector<uint8_t> &b, uint32_t bottom, uint32_t right) {
  put32(b, 0);
  put16(b, bottom);
  put16(b, right);
}

// The same picture, every step written out plainly.
bool write_reference(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const uint32_t W = kWidth;
  const uint32_t H = kHeight;
  const uint32_t w = W + (W & 1);
  const uint32_t res72 = 72u << 16;
  std::vector<uint8_t> head;
  put16(head, 0);
  put_rect(head, H, W);  // frame at 72 ppi
  put16(head, 0x0011);
  put16(head, 0x02FF);
  put16(head, 0x0C00);
  put32(head, 0xFFFE0000);
  put32(head, res72);
  put32(head, res72);
  put_rect(head, H, W);
  put32(head, 0);
  put16(head, 0x0001);
  put16(head, 10);
  put_rect(head, H, W);
  put16(head, 0x0098);
  put16(head, w + 0x8000);
  put_rect(head, H, W);
  put16(head, 0);
  put16(head, 0);
  put32(head, 0);
  put32(head, res72);
  put32(head, res72);
  put16(head, 0);
  put16(head, 8);
  put16(head, 1);
  put16(head, 8);
  put32(head, 0);
  put32(head, 0);
  put32(head, 0);
  put32(head, 0);  // seed: colour
  put16(head, 0);
  put16(head, 244);
  const int levels_rg[7] = {0, 42, 85, 127, 170, 212, 255};
  const int levels_b[5] = {0, 63, 127, 191, 255};
  for (uint32_t i = 0; i < 245; ++i) {
    put16(head, i);
    put16(head, static_cast<uint32_t>(levels_rg[i % 7]) * 257);
    put16(head, static_cast<uint32_t>(levels_rg[i / 7 % 7]) * 257);
    put16(head, static_cast<uint32_t>(levels_b[i / 49]) * 257);
  }
  put_rect(head, H, W);
  put_rect(head, H, W);
  put16(head, 0);
  std::fwrite(head.data(), 1, head.size(), f);
  long written = static_cast<long>(head.size());

  std::vector<uint8_t> row(kRowSize);
  std::vector<uint8_t> indices(w, 0);
  std::vector<uint8_t> packed(w + (w + 126) / 127);
  for (uint32_t y = 0; y < H; ++y) {
    std::memcpy(row.data(), tile_row(static_cast<int32_t>(y)), kRowSize);
    bench_reference::plain_rgb_to_cube(row.data(), W);
    std::memcpy(indices.data(), row.data(), W);
    const size_t n = bench_reference::plain_pack_bits(indices.data(), w, packed.data());
    const uint8_t count[2] = {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    std::fwrite(count, 1, 2, f);
    std::fwrite(packed.data(), 1, n, f);
    written += static_cast<long>(2 + n);
  }
  if (written % 2 == 1) {
    std::fputc(0, f);
    ++written;
  }
  const uint8_t end[2] = {0x00, 0xFF};
  std::fwrite(end, 1, 2, f);
  written += 2;
  std::fseek(f, 0, SEEK_SET);
  const uint8_t size[2] = {static_cast<uint8_t>(written >> 8), static_cast<uint8_t>(written)};
  std::fwrite(size, 1, 2, f);
  return std::fclose(f) == 0;
}

bool write_ppm(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", kWidth, kHeight);
  std::vector<uint8_t> rgb(kRowSize);
  for (int32_t y = 0; y < kHeight; ++y) {
    const uint8_t *planes = tile_row(y);
    for (int32_t x = 0; x < kWidth; ++x) {
      for (int c = 0; c < kChannels; ++c) rgb[static_cast<size_t>(x * 3 + c)] = planes[c * kWidth + x];
    }
    std::fwrite(rgb.data(), 1, rgb.size(), f);
  }
  return std::fclose(f) == 0;
}

std::vector<uint8_t> read_all(const std::string &path) {
  std::vector<uint8_t> bytes;
  FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  return bytes;
}

std::string scratch(const char *name) {
  return (std::filesystem::temp_directory_path() / ("varnel_pict_bench_" + std::to_string(getpid()) + "_" + name)).string();
}

void BM_AddPict(benchmark::State &state) {
  const std::string path = scratch("ours.pict");
  for (auto _ : state) {
    if (write_preview(path) != 1) state.SkipWithError("MacBin_Add_PICT failed");
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
  std::filesystem::remove(path);
}

void BM_Reference(benchmark::State &state) {
  const std::string path = scratch("reference.pict");
  for (auto _ : state) {
    if (!write_reference(path)) state.SkipWithError("reference failed");
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
  std::filesystem::remove(path);
}

BENCHMARK(BM_AddPict)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_Reference)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

int main(int argc, char **argv) {
  install_host();
  if (argc == 3 && std::strcmp(argv[1], "--once") == 0) return write_preview(argv[2]) == 1 ? 0 : 1;
  if (argc == 3 && std::strcmp(argv[1], "--reference") == 0) return write_reference(argv[2]) ? 0 : 1;
  if (argc == 3 && std::strcmp(argv[1], "--write-ppm") == 0) return write_ppm(argv[2]) ? 0 : 1;

  benchmark::Initialize(&argc, argv);
  const std::string ours = scratch("check_ours.pict");
  const std::string reference = scratch("check_reference.pict");
  const bool written = write_preview(ours) == 1 && write_reference(reference);
  const std::vector<uint8_t> a = read_all(ours);
  const std::vector<uint8_t> b = read_all(reference);
  std::filesystem::remove(ours);
  std::filesystem::remove(reference);
  if (!written || a.empty() || a != b) {
    std::fprintf(stderr, "the preview differs from the reference (%zu vs %zu bytes)\n", a.size(),
                 b.size());
    return 1;
  }
  std::printf("%d x %d RGB preview: %zu bytes, identical to the reference\n", kWidth, kHeight,
              a.size());
  bench_reference::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratio("BM_AddPict/min_time:3.000", "BM_Reference/min_time:3.000", 2.0);
  benchmark::Shutdown();
  return 0;
}
