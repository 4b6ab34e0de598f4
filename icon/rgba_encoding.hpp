// Private to icon/: never installed, never included from another folder.
//
// Icon resources from RGBA pixels (MacBin_EncodeResource): the image as
// the encoders see it, how colours become palette indices and bits, and
// one encoder per kind of resource.  Each encoder returns the resource's
// data or throws EncodeError with the one-line reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "format/system_palettes.hpp"

namespace varnel::icon {

class EncodeError : public std::runtime_error {
 public:
  explicit EncodeError(const std::string &reason) : std::runtime_error(reason) {}
};

// Alpha from this value up puts a pixel inside the mask.
inline constexpr uint8_t kOpaqueAlpha = 128;

// The caller's pixels, read only: `width` x `height` RGBA, rows top first.
class RgbaImage {
 public:
  RgbaImage(int32_t width, int32_t height, const uint8_t *rgba) : width_(width), height_(height), rgba_(rgba) {}
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  format::Rgb colour(int32_t x, int32_t y) const {
    const uint8_t *p = at(x, y);
    return format::Rgb{p[0], p[1], p[2]};
  }
  bool opaque(int32_t x, int32_t y) const { return at(x, y)[3] >= kOpaqueAlpha; }

 private:
  const uint8_t *at(int32_t x, int32_t y) const {
    return rgba_ + (static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) * 4;
  }
  int32_t width_, height_;
  const uint8_t *rgba_;
};

// How colours become indices: exact colours refuse one that is not in the
// table; else the nearest one is taken.
enum class ColourMatch { kNearest, kExact };

// The index of the entry of `palette` nearest to `colour`: the smallest
// sum of the squared differences of red, green and blue, the lowest index
// on a tie (so a colour of the table always gives its own index).
uint8_t nearest_index(std::span<const format::Rgb> palette, format::Rgb colour);
// Luminance with the weights 0.299, 0.587 and 0.114, rounded: 0 to 255.
uint8_t luminance(format::Rgb colour);

// The palette index of pixel (x, y) in the system table of `bits` (4 or 8).
// Pixels outside the mask take 0 (white).  Throws for a colour outside the
// table when exact colours are asked.
uint8_t system_index(const RgbaImage &image, int32_t x, int32_t y, int32_t bits, ColourMatch match);
// The bit of pixel (x, y) in a black-and-white image: 1 (black) for a
// luminance below 128, 0 for pixels outside the mask.  Exact colours take
// only pure black and pure white.
uint8_t black_bit(const RgbaImage &image, int32_t x, int32_t y, ColourMatch match);

// Appends one row of `indices` (each below 2^bits; bits 1, 2, 4 or 8) in
// whole bytes, leftmost pixel in the high bits, the last byte's unused low
// bits zero; then zero bytes up to `row_bytes` when that is more.
void pack_row(std::span<const uint8_t> indices, uint32_t bits, std::vector<uint8_t> &out, size_t row_bytes = 0);

// The icon family, SICN and CURS (their layouts in format/icon_family.hpp).
bool is_family_type(std::string_view type);
std::vector<uint8_t> encode_family_icon(std::string_view type, const RgbaImage &image, int32_t hot_x,
                                        int32_t hot_y, ColourMatch match);
// cicn: any size up to kMaxColorIconSide square, its own table.
inline constexpr int32_t kMaxColorIconSide = 256;
std::vector<uint8_t> encode_color_icon(const RgbaImage &image);

}  // namespace varnel::icon
