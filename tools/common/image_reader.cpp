#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/image_reader.hpp"

namespace varnel_tool {

std::unique_ptr<ImageReader> open_image_reader(FILE *file, std::string &error) {
  const int first = std::getc(file);
  if (first == EOF) {
    error = "empty file";
    return nullptr;
  }
  std::ungetc(first, file);
  if (first == 0x89) return open_png_reader(file, error);
  if (first == 'P') return open_pnm_reader(file, error);
  error = "not a PNG or netpbm (PBM/PGM/PPM) image";
  return nullptr;
}

namespace {
struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
}  // namespace

bool decode_image_file(const std::string &path, int64_t max_pixels, DecodedImage &image,
                       std::string &error) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  auto reader = open_image_reader(file.get(), error);
  if (!reader) return false;
  image.info = reader->info();
  const int64_t pixels = static_cast<int64_t>(image.info.width) * image.info.height;
  if (pixels > max_pixels) {
    error = "image too large (" + std::to_string(image.info.width) + "x" +
            std::to_string(image.info.height) + ")";
    return false;
  }
  const size_t row_bytes =
      static_cast<size_t>(image.info.width) * static_cast<size_t>(image.info.channels);
  image.samples.assign(row_bytes * static_cast<size_t>(image.info.height), 0);
  for (int32_t y = 0; y < image.info.height; ++y) {
    if (!reader->read_row(std::span<uint8_t>(image.samples).subspan(
            static_cast<size_t>(y) * row_bytes, row_bytes))) {
      error = std::string("damaged ") + image.info.format + " data: " + reader->error();
      return false;
    }
  }
  return true;
}

namespace {

uint8_t over_white(uint32_t value, uint32_t alpha) {
  return static_cast<uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

}  // namespace

std::vector<uint8_t> rgba_over_white(const DecodedImage &image) {
  const auto channels = static_cast<size_t>(image.info.channels);
  const size_t pixels = image.samples.size() / channels;
  const bool has_alpha = channels == 2 || channels == 4;
  std::vector<uint8_t> rgba(pixels * 4, 255);
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t *pixel = &image.samples[i * channels];
    const uint32_t alpha = has_alpha ? pixel[channels - 1] : 255u;
    for (size_t c = 0; c < 3; ++c) rgba[i * 4 + c] = over_white(pixel[channels >= 3 ? c : 0], alpha);
  }
  return rgba;
}

}  // namespace varnel_tool
