// The library's built-in image-file reader (PNG through libpng, netpbm),
// through MacBin_ReadImageFile, and its area resampler
// (MacBin_NewResampler) on arbitrary bytes.  The input is written to a
// file of its own and read back as any image file is; the last byte picks
// the resampled size (shrinking, keeping, enlarging), so every decoded row
// also goes through the resampler.  Decoding must end in pixels or an error
// text, never a crash, a hang or a read outside the buffers.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "varnel.h"

namespace {

// Avoid self-made decompression bombs: a tiny file may announce 65535 x
// 65535 pixels, which would take minutes to decode.
constexpr int64_t kMaxPixelsDecoded = 1 << 20;
constexpr size_t kRgbaBytes = 4;

struct ResamplerFreer {
  void operator()(MacBinResampler *resampler) const { MacBin_FreeResampler(resampler); }
};

struct Rows {
  const MacBinPixels *pixels;
  int32_t next;
};

int32_t read_row(void *argument, uint8_t *row) {
  auto &rows = *static_cast<Rows *>(argument);
  if (rows.next >= rows.pixels->height) return 0;
  const size_t bytes = static_cast<size_t>(rows.pixels->width) * kRgbaBytes;
  std::memcpy(row, rows.pixels->rgba + static_cast<size_t>(rows.next++) * bytes, bytes);
  return 1;
}

int32_t scaled(int32_t size, uint8_t choice) {
  switch (choice % 3) {
    case 0:
      return size / 3 + 1;  // shrink
    case 1:
      return size;  // keep
    default:
      return size + size / 2 + 1;  // enlarge
  }
}

// The file the input goes into, one for the process, removed at its end.
const std::string &input_path() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("image_decode_fuzz." + std::to_string(getpid()))).string();
  static const bool removed_at_exit = std::atexit([] { std::remove(input_path().c_str()); }) == 0;
  (void)removed_at_exit;
  return path;
}

bool write_input(const uint8_t *data, size_t size) {
  FILE *file = std::fopen(input_path().c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0 || !write_input(data, size)) return 0;
  MacBinPixels pixels{};
  if (MacBin_ReadImageFile(input_path().c_str(), kMaxPixelsDecoded, &pixels, nullptr) != 1) {
    const char *reason = nullptr;
    if (MacBin_LastError(&reason) == MACBIN_ERR_NONE || reason == nullptr || reason[0] == '\0') std::abort();
    return 0;
  }
  if (pixels.width < 1 || pixels.height < 1 || pixels.rgba == nullptr) std::abort();
  const int32_t target_width = scaled(pixels.width, data[size - 1]);
  const int32_t target_height = scaled(pixels.height, static_cast<uint8_t>(data[size - 1] / 3));
  Rows rows{&pixels, 0};
  // Sides past the resampler's 65535 (an enlarged wide image) are refused.
  const std::unique_ptr<MacBinResampler, ResamplerFreer> resampler(
      MacBin_NewResampler(pixels.width, pixels.height, target_width, target_height, 4, read_row, &rows));
  if (resampler) {
    std::vector<uint8_t> target(static_cast<size_t>(target_width) * kRgbaBytes);
    for (int32_t y = 0; y < target_height; ++y)
      if (MacBin_ResampleRow(resampler.get(), target.data()) != 1) break;
  }
  MacBin_FreePixels(&pixels);
  return 0;
}
