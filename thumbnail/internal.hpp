// Private to thumbnail/: never installed, never included from another folder.
//
// The images a thumbnail is made of (straight RGBA, rows top first), the
// ways they are scaled, and the library's own icon for files that have none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "varnel.h"

namespace varnel::thumbnail {

inline constexpr size_t kRgbaBytes = 4;

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgba;

  Image() = default;
  // Transparent black.
  Image(int32_t w, int32_t h)
      : width(w), height(h), rgba(static_cast<size_t>(w) * static_cast<size_t>(h) * kRgbaBytes, 0) {}
  // A copy of a decoder's pixels.
  explicit Image(const MacBinPixels &pixels)
      : width(pixels.width),
        height(pixels.height),
        rgba(pixels.rgba, pixels.rgba + static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height) *
                                            kRgbaBytes) {}
  uint8_t *at(int32_t x, int32_t y) {
    return &rgba[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * kRgbaBytes];
  }
  const uint8_t *at(int32_t x, int32_t y) const {
    return &rgba[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * kRgbaBytes];
  }
  // A view for the library's records; nothing writes through it.
  MacBinPixels pixels() const { return MacBinPixels{width, height, 0, 0, const_cast<uint8_t *>(rgba.data())}; }
};

// Pixels a decoder allocated, given back to it at the end of the scope.
class DecodedPixels {
 public:
  DecodedPixels() = default;
  ~DecodedPixels() { MacBin_FreePixels(&pixels_); }
  DecodedPixels(const DecodedPixels &) = delete;
  DecodedPixels &operator=(const DecodedPixels &) = delete;
  MacBinPixels *record() { return &pixels_; }
  const MacBinPixels &pixels() const { return pixels_; }
  // Hands the pixels over to a caller, who frees them.
  MacBinPixels release() { return std::exchange(pixels_, MacBinPixels{}); }

 private:
  MacBinPixels pixels_{};
};

// ---- Scaling (scaling.cpp) ----------------------------------------------------
// Each pixel as a factor x factor square.
Image enlarge(const Image &source, int32_t factor);
// Area-averaged to width x height, colours weighted by alpha.
Image reduce(const MacBinPixels &source, int32_t width, int32_t height);
// The size that keeps the shape and fits size x size (never larger than
// the source).
std::pair<int32_t, int32_t> fitting_size(int32_t width, int32_t height, int32_t size);
// An icon: the largest whole factor that fits, centred on size x size.
Image icon_thumbnail(const Image &icon, int32_t size);

// ---- The library's own icon (generic_icon.cpp) ------------------------------------
// A page with a folded corner, or (for applications) a diamond, at size x
// size, with the type's characters across it.
Image generic_icon(std::string_view mac_type, bool application, int32_t size);

}  // namespace varnel::thumbnail
