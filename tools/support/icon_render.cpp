#include "support/icon_render.hpp"

#include <array>
#include <vector>

#include "support/mac_palettes.hpp"

namespace varnel_tool {
namespace {

constexpr std::array<IconFormat, 6> kIconFormats = {{
    {"ICN#", 32, 1, 256},   // 128 bytes of image, 128 of mask
    {"ics#", 16, 1, 64},    // 32 + 32
    {"icl8", 32, 8, 1024},
    {"ics8", 16, 8, 256},
    {"icl4", 32, 4, 512},
    {"ics4", 16, 4, 128},
}};

bool bit_at(std::span<const uint8_t> bits, int32_t side, int32_t x, int32_t y) {
  const size_t index = static_cast<size_t>(y * side + x);
  return ((bits[index / 8] >> (7 - index % 8)) & 1) != 0;
}

}  // namespace

const IconFormat *find_icon_format(std::string_view type) {
  for (const IconFormat &format : kIconFormats)
    if (type == format.type) return &format;
  return nullptr;
}

const char *mask_type_for(const IconFormat &format) {
  return format.side_pixels == 32 ? "ICN#" : "ics#";
}

std::span<const uint8_t> mask_of_one_bit_icon(const IconFormat &format,
                                              std::span<const uint8_t> data) {
  if (format.bits_per_pixel != 1 || data.size() != format.data_bytes) return {};
  return data.subspan(format.data_bytes / 2);
}

bool render_icon(const IconFormat &format, std::span<const uint8_t> data,
                 std::span<const uint8_t> mask, ImageSink &sink, std::string &error) {
  if (data.size() != format.data_bytes) {
    error = std::string(format.type) + " data is " + std::to_string(data.size()) +
            " bytes, expected " + std::to_string(format.data_bytes);
    return false;
  }
  const int32_t side = format.side_pixels;
  const size_t mask_bytes = static_cast<size_t>(side * side / 8);
  if (format.bits_per_pixel == 1) mask = data.subspan(mask_bytes);
  if (!mask.empty() && mask.size() != mask_bytes) {
    error = "icon mask has the wrong size";
    return false;
  }
  if (!sink.start(side, side, 4)) {
    error = "cannot write the image";
    return false;
  }
  const auto &palette_256 = mac_palette_256();
  const auto &palette_16 = mac_palette_16();
  std::vector<uint8_t> row(static_cast<size_t>(side) * 4);
  for (int32_t y = 0; y < side; ++y) {
    for (int32_t x = 0; x < side; ++x) {
      const auto index = static_cast<size_t>(y * side + x);
      Rgb colour{};
      switch (format.bits_per_pixel) {
        case 8:
          colour = palette_256[data[index]];
          break;
        case 4: {
          const uint8_t pair = data[index / 2];
          colour = palette_16[index % 2 == 0 ? pair >> 4 : pair & 0x0F];
          break;
        }
        default:
          colour = bit_at(data, side, x, y) ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
          break;
      }
      const bool opaque = mask.empty() || bit_at(mask, side, x, y);
      uint8_t *pixel = &row[static_cast<size_t>(x) * 4];
      pixel[0] = colour.red;
      pixel[1] = colour.green;
      pixel[2] = colour.blue;
      pixel[3] = opaque ? 255 : 0;
    }
    if (!sink.write_row(row)) {
      error = "cannot write the image";
      return false;
    }
  }
  return true;
}

}  // namespace varnel_tool
