// The icon family, SICN and CURS from RGBA pixels: the inverse of what the
// decoder draws from them.  Sizes are the format's and nothing else: an
// image of another size is refused rather than scaled.
#include <string>

#include "format/big_endian.hpp"
#include "format/icon_family.hpp"
#include "icon/rgba_encoding.hpp"

namespace varnel::icon {
namespace {

using format::IconFormat;

constexpr int32_t kMaxSmallIconListWidth = 16384;

void check_size(std::string_view type, const RgbaImage &image, int32_t width, int32_t height) {
  if (image.width() != width || image.height() != height)
    throw EncodeError(std::string(type) + " needs " + std::to_string(width) + " x " + std::to_string(height) +
                      " pixels, not " + std::to_string(image.width()) + " x " + std::to_string(image.height()));
}

// Rows x0 .. x0 + width of the image, one value a pixel from `pixel`,
// packed at `bits` a pixel.
template <typename Pixel>
void append_rows(const RgbaImage &image, int32_t x0, int32_t width, uint32_t bits, Pixel pixel,
                 std::vector<uint8_t> &out) {
  std::vector<uint8_t> row(static_cast<size_t>(width));
  for (int32_t y = 0; y < image.height(); ++y) {
    for (int32_t x = 0; x < width; ++x) row[static_cast<size_t>(x)] = pixel(x0 + x, y);
    pack_row(row, bits, out);
  }
}

void append_mask(const RgbaImage &image, std::vector<uint8_t> &out) {
  append_rows(image, 0, image.width(), 1, [&](int32_t x, int32_t y) -> uint8_t { return image.opaque(x, y) ? 1 : 0; },
              out);
}

std::vector<uint8_t> encode_icon(const IconFormat &format, const RgbaImage &image, ColourMatch match) {
  check_size(format.type, image, format.width, format.height);
  std::vector<uint8_t> out;
  out.reserve(format.pixel_bytes() + (format.own_mask ? format.mask_bytes() : 0));
  const auto bits = static_cast<uint32_t>(format.bits);
  if (format.bits == 1)
    append_rows(image, 0, format.width, bits, [&](int32_t x, int32_t y) { return black_bit(image, x, y, match); },
                out);
  else
    append_rows(image, 0, format.width, bits,
                [&](int32_t x, int32_t y) { return system_index(image, x, y, format.bits, match); }, out);
  if (format.own_mask) append_mask(image, out);
  return out;
}

// SICN: the image is its items side by side, each 16 pixels wide.
std::vector<uint8_t> encode_small_icon_list(const RgbaImage &image, ColourMatch match) {
  const int32_t side = format::kSmallIconSide;
  const int32_t items = image.width() / side;
  if (image.height() != side || image.width() % side != 0 || items < 1)
    throw EncodeError("SICN needs 16 pixels high and a multiple of 16 wide, not " + std::to_string(image.width()) +
                      " x " + std::to_string(image.height()));
  // As many items as the decoder draws side by side.
  if (image.width() > kMaxSmallIconListWidth)
    throw EncodeError("SICN of " + std::to_string(items) + " items: at most " +
                      std::to_string(kMaxSmallIconListWidth / side));
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(items) * format::kSmallIconBytes);
  for (int32_t item = 0; item < items; ++item)
    append_rows(image, item * side, side, 1, [&](int32_t x, int32_t y) { return black_bit(image, x, y, match); },
                out);
  return out;
}

std::vector<uint8_t> encode_cursor(const RgbaImage &image, int32_t hot_x, int32_t hot_y, ColourMatch match) {
  const int32_t side = format::kCursorSide;
  check_size("CURS", image, side, side);
  if (hot_x < 0 || hot_x >= side || hot_y < 0 || hot_y >= side)
    throw EncodeError("CURS hot spot (" + std::to_string(hot_x) + ", " + std::to_string(hot_y) +
                      ") outside its 16 x 16 pixels");
  std::vector<uint8_t> out;
  out.reserve(format::kCursorBytes);
  append_rows(image, 0, side, 1, [&](int32_t x, int32_t y) { return black_bit(image, x, y, match); }, out);
  append_mask(image, out);
  uint8_t hot_spot[4];
  format::put_be16(hot_spot, static_cast<uint32_t>(hot_y));  // vertical first
  format::put_be16(hot_spot + 2, static_cast<uint32_t>(hot_x));
  out.insert(out.end(), hot_spot, hot_spot + 4);
  return out;
}

}  // namespace

bool is_family_type(std::string_view type) {
  return type == "SICN" || type == "CURS" || format::find_icon_format(type) != nullptr;
}

std::vector<uint8_t> encode_family_icon(std::string_view type, const RgbaImage &image, int32_t hot_x,
                                        int32_t hot_y, ColourMatch match) {
  if (type == "SICN") return encode_small_icon_list(image, match);
  if (type == "CURS") return encode_cursor(image, hot_x, hot_y, match);
  const IconFormat *format = format::find_icon_format(type);
  if (format == nullptr) throw EncodeError("cannot encode " + std::string(type));
  return encode_icon(*format, image, match);
}

}  // namespace varnel::icon
