// Scaling for thumbnails.  Icons are made of whole pixels that their
// designers placed one by one, so they are enlarged by whole factors only;
// pictures (and icons too large for the size) are averaged down.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <stdexcept>

#include "thumbnail/area_resampler.hpp"
#include "thumbnail/internal.hpp"

namespace varnel::thumbnail {
namespace {

// `image` in the middle of a transparent size x size image.
Image centred(const Image &image, int32_t size) {
  Image out(size, size);
  const int32_t left = (size - image.width) / 2;
  const int32_t top = (size - image.height) / 2;
  for (int32_t y = 0; y < image.height; ++y)
    std::memcpy(out.at(left, top + y), image.at(0, y), static_cast<size_t>(image.width) * kRgbaBytes);
  return out;
}

}  // namespace

Image enlarge(const Image &source, int32_t factor) {
  Image out(source.width * factor, source.height * factor);
  for (int32_t y = 0; y < out.height; ++y)
    for (int32_t x = 0; x < out.width; ++x) std::memcpy(out.at(x, y), source.at(x / factor, y / factor), kRgbaBytes);
  return out;
}

// Colours are weighted by their alpha (premultiplied) while they are
// averaged, so that the colour of transparent pixels never bleeds into an
// edge.  The source is read a row at a time: a large picture is not copied.
Image reduce(const MacBinPixels &source, int32_t width, int32_t height) {
  const size_t row_bytes = static_cast<size_t>(source.width) * kRgbaBytes;
  int32_t next_row = 0;
  AreaResampler resampler(source.width, source.height, width, height, 4, [&](std::span<uint8_t> row) {
    if (next_row >= source.height) return false;
    std::memcpy(row.data(), source.rgba + static_cast<size_t>(next_row) * row_bytes, row_bytes);
    ++next_row;
    for (size_t at = 0; at < row_bytes; at += kRgbaBytes)
      for (size_t c = 0; c < 3; ++c) row[at + c] = static_cast<uint8_t>((row[at + c] * row[at + 3] + 127) / 255);
    return true;
  });
  Image out(width, height);
  for (int32_t y = 0; y < height; ++y)
    if (!resampler.next_row(std::span<uint8_t>(out.at(0, y), static_cast<size_t>(width) * kRgbaBytes)))
      throw std::logic_error("the resampler ran out of rows");
  for (size_t at = 0; at < out.rgba.size(); at += kRgbaBytes) {
    const uint32_t alpha = out.rgba[at + 3];
    for (size_t c = 0; c < 3; ++c)
      out.rgba[at + c] =
          alpha == 0 ? 0 : static_cast<uint8_t>(std::min<uint32_t>(255, (out.rgba[at + c] * 255 + alpha / 2) / alpha));
  }
  return out;
}

std::pair<int32_t, int32_t> fitting_size(int32_t width, int32_t height, int32_t size) {
  if (width <= size && height <= size) return {width, height};
  const double scale = static_cast<double>(size) / std::max(width, height);
  return {std::clamp(static_cast<int32_t>(std::lround(width * scale)), 1, size),
          std::clamp(static_cast<int32_t>(std::lround(height * scale)), 1, size)};
}

Image icon_thumbnail(const Image &icon, int32_t size) {
  const int32_t factor = std::min(size / icon.width, size / icon.height);
  if (factor >= 1) return centred(enlarge(icon, factor), size);
  const auto [width, height] = fitting_size(icon.width, icon.height, size);
  return centred(reduce(icon.pixels(), width, height), size);
}

}  // namespace varnel::thumbnail
