// Colours to the indices and bits that icons store.
#include <limits>
#include <string>

#include "icon/rgba_encoding.hpp"

namespace varnel::icon {
namespace {

std::string hex_colour(format::Rgb colour) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t component : {colour.red, colour.green, colour.blue}) {
    text += kDigits[component >> 4];
    text += kDigits[component & 15];
  }
  return text;
}

[[noreturn]] void refuse_colour(format::Rgb colour, int32_t x, int32_t y, const char *table) {
  throw EncodeError("colour " + hex_colour(colour) + " at (" + std::to_string(x) + ", " + std::to_string(y) +
                    ") is not in the " + table);
}

}  // namespace

uint8_t nearest_index(std::span<const format::Rgb> palette, format::Rgb colour) {
  uint32_t best_distance = std::numeric_limits<uint32_t>::max();
  size_t best = 0;
  for (size_t i = 0; i < palette.size(); ++i) {
    const int32_t dr = palette[i].red - colour.red;
    const int32_t dg = palette[i].green - colour.green;
    const int32_t db = palette[i].blue - colour.blue;
    const auto distance = static_cast<uint32_t>(dr * dr + dg * dg + db * db);
    if (distance < best_distance) {
      best_distance = distance;
      best = i;
    }
  }
  return static_cast<uint8_t>(best);
}

uint8_t luminance(format::Rgb colour) {
  const uint32_t weighted = 299U * colour.red + 587U * colour.green + 114U * colour.blue;
  return static_cast<uint8_t>((weighted + 500U) / 1000U);
}

uint8_t system_index(const RgbaImage &image, int32_t x, int32_t y, int32_t bits, ColourMatch match) {
  if (!image.opaque(x, y)) return 0;
  const std::span<const format::Rgb> palette = format::system_palette(bits);
  const format::Rgb colour = image.colour(x, y);
  const uint8_t index = nearest_index(palette, colour);
  if (match == ColourMatch::kExact && !(palette[index] == colour))
    refuse_colour(colour, x, y, bits == 4 ? "16-colour table" : "256-colour table");
  return index;
}

uint8_t black_bit(const RgbaImage &image, int32_t x, int32_t y, ColourMatch match) {
  if (!image.opaque(x, y)) return 0;
  const format::Rgb colour = image.colour(x, y);
  if (match == ColourMatch::kExact && !(colour == format::Rgb{0, 0, 0}) &&
      !(colour == format::Rgb{0xFF, 0xFF, 0xFF}))
    refuse_colour(colour, x, y, "black-and-white table");
  return luminance(colour) < 128 ? 1 : 0;
}

}  // namespace varnel::icon
