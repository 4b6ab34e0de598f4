// The tool's image decoders (PNG through libpng, netpbm) and the library's
// area resampler (MacBin_NewResampler) on arbitrary bytes.  The input is read as a file would be; the
// last byte picks the resampled size (shrinking, keeping, enlarging), so
// every decoded row also goes through the resampler.  Decoding must end in
// rows or an error text, never a crash, a hang or a read outside the buffers.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/image_reader.hpp"
#include "varnel.h"

namespace {

// Avoid self-made decompression bombs: a tiny file may announce 65535 x
// 65535 pixels, which would take minutes to decode.
constexpr int64_t kMaxPixelsDecoded = 1 << 20;

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
struct ResamplerFreer {
  void operator()(MacBinResampler *resampler) const { MacBin_FreeResampler(resampler); }
};

int32_t read_row(void *reader, uint8_t *row) {
  auto &image = *static_cast<varnel_tool::ImageReader *>(reader);
  const auto width = static_cast<size_t>(image.info().width) * static_cast<size_t>(image.info().channels);
  return image.read_row(std::span<uint8_t>(row, width)) ? 1 : 0;
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;  // fmemopen refuses empty buffers
  std::vector<uint8_t> bytes(data, data + size);
  std::unique_ptr<FILE, FileCloser> file(fmemopen(bytes.data(), bytes.size(), "rb"));
  if (!file) return 0;
  std::string error;
  const std::unique_ptr<varnel_tool::ImageReader> reader = varnel_tool::open_image_reader(file.get(), error);
  if (!reader) return 0;
  const varnel_tool::ImageInfo &info = reader->info();
  if (info.width < 1 || info.height < 1 || info.channels < 1 || info.channels > 4) std::abort();
  const int64_t pixels = int64_t{info.width} * info.height;
  if (pixels > kMaxPixelsDecoded) return 0;
  const int32_t target_width = scaled(info.width, data[size - 1]);
  const int32_t target_height = scaled(info.height, static_cast<uint8_t>(data[size - 1] / 3));
  // Sides past the resampler's 65535 (an enlarged wide image) are refused.
  const std::unique_ptr<MacBinResampler, ResamplerFreer> resampler(MacBin_NewResampler(
      info.width, info.height, target_width, target_height, info.channels, read_row, reader.get()));
  if (!resampler) return 0;
  std::vector<uint8_t> target(static_cast<size_t>(target_width) * static_cast<size_t>(info.channels));
  for (int32_t y = 0; y < target_height; ++y)
    if (MacBin_ResampleRow(resampler.get(), target.data()) != 1) break;
  return 0;
}
