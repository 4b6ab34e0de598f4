// The icon family: 1-, 4- and 8-bit icons of 32 x 32 (ICN#, ICON, icl4,
// icl8), 16 x 16 (ics#, ics4, ics8, kcs#, kcs4, kcs8, SICN) and 16 x 12
// (icm#, icm4, icm8) pixels.  Rows top first, leftmost pixel in the high
// bits.  The # types are the 1-bit icon followed by its mask; the colour
// types take their mask from that # type of the same ID.
#include <algorithm>
#include <array>

#include "decode/internal.hpp"

namespace varnel::decode {
namespace {

struct IconFormat {
  std::string_view type;
  int32_t width, height, bits;
  bool own_mask;               // the mask follows the icon's bits
  std::string_view mask_type;  // where a colour icon's mask is
};

constexpr std::array<IconFormat, 13> kFormats = {{
    {"ICN#", 32, 32, 1, true, ""},
    {"ICON", 32, 32, 1, false, ""},
    {"ics#", 16, 16, 1, true, ""},
    {"icm#", 16, 12, 1, true, ""},
    {"kcs#", 16, 16, 1, true, ""},
    {"icl4", 32, 32, 4, false, "ICN#"},
    {"icl8", 32, 32, 8, false, "ICN#"},
    {"ics4", 16, 16, 4, false, "ics#"},
    {"ics8", 16, 16, 8, false, "ics#"},
    {"icm4", 16, 12, 4, false, "icm#"},
    {"icm8", 16, 12, 8, false, "icm#"},
    {"kcs4", 16, 16, 4, false, "kcs#"},
    {"kcs8", 16, 16, 8, false, "kcs#"},
}};

constexpr int32_t kSmallIconSide = 16;
constexpr size_t kSmallIconBytes = 32;

const IconFormat *find_format(std::string_view type) {
  for (const IconFormat &format : kFormats)
    if (format.type == type) return &format;
  return nullptr;
}

size_t bytes_of(const IconFormat &format) {
  return static_cast<size_t>(format.width * format.height * format.bits / 8);
}

// A strip of SICN's 16 x 16 items, left to right, opaque.
Canvas decode_small_icon_list(std::span<const uint8_t> data) {
  if (data.empty() || data.size() % kSmallIconBytes != 0)
    throw DecodeError("SICN data of " + std::to_string(data.size()) +
                      " bytes, not a multiple of 32");
  const auto items = static_cast<int32_t>(data.size() / kSmallIconBytes);
  if (items > kMaxSidePixels / kSmallIconSide)
    throw DecodeError("SICN with " + std::to_string(items) + " icons is too wide");
  Canvas canvas(items * kSmallIconSide, kSmallIconSide, kWhite);
  for (int32_t item = 0; item < items; ++item) {
    const std::span<const uint8_t> bits = data.subspan(static_cast<size_t>(item) * kSmallIconBytes, kSmallIconBytes);
    for (int32_t y = 0; y < kSmallIconSide; ++y)
      for (int32_t x = 0; x < kSmallIconSide; ++x)
        if (bit_at(bits, static_cast<size_t>(y * kSmallIconSide + x)))
          canvas.set(item * kSmallIconSide + x, y, kBlack);
  }
  return canvas;
}

}  // namespace

bool is_icon_type(std::string_view type) { return type == "SICN" || find_format(type) != nullptr; }

std::string_view icon_mask_type(std::string_view type) {
  const IconFormat *format = find_format(type);
  return format != nullptr ? format->mask_type : std::string_view();
}

Canvas decode_icon(std::string_view type, std::span<const uint8_t> data,
                   std::span<const uint8_t> mask) {
  if (type == "SICN") return decode_small_icon_list(data);
  const IconFormat *format = find_format(type);
  if (format == nullptr) throw DecodeError("not an icon type: " + std::string(type));
  const size_t needed = bytes_of(*format);
  if (data.size() < needed)
    throw DecodeError(std::string(type) + " data cut short: " + std::to_string(data.size()) +
                      " of " + std::to_string(needed) + " bytes");
  const size_t mask_bytes = static_cast<size_t>(format->width * format->height / 8);
  // A # icon's own mask follows its bits; a colour icon's is the second
  // half of its family's # icon.  Without one (or with one cut short) the
  // icon is opaque.
  std::span<const uint8_t> mask_bits;
  if (format->own_mask && data.size() >= 2 * needed)
    mask_bits = data.subspan(needed, mask_bytes);
  else if (!format->own_mask && mask.size() >= 2 * mask_bytes)
    mask_bits = mask.subspan(mask_bytes, mask_bytes);

  const std::span<const Rgba> palette = system_palette(format->bits);
  Canvas canvas(format->width, format->height, kClear);
  const std::span<const uint8_t> bits = data.first(needed);
  for (int32_t y = 0; y < format->height; ++y)
    for (int32_t x = 0; x < format->width; ++x) {
      const auto at = static_cast<size_t>(y * format->width + x);
      if (!mask_bits.empty() && bit_at(mask_bits, at) == 0) continue;
      canvas.set(x, y, palette[index_at(bits, at, static_cast<uint32_t>(format->bits))]);
    }
  return canvas;
}

}  // namespace varnel::decode
