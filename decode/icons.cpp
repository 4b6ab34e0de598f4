// The icon family (its layouts in format/icon_family.hpp) drawn as pixels:
// the system table of the icon's depth, the mask from the icon itself or
// its family's # resource.
#include <algorithm>
#include <array>

#include "decode/internal.hpp"
#include "format/icon_family.hpp"

namespace varnel::decode {
namespace {

using format::IconFormat;
using format::kSmallIconBytes;
using format::kSmallIconSide;

const IconFormat *find_format(std::string_view type) { return format::find_icon_format(type); }

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
  const size_t needed = format->pixel_bytes();
  if (data.size() < needed)
    throw DecodeError(std::string(type) + " data cut short: " + std::to_string(data.size()) +
                      " of " + std::to_string(needed) + " bytes");
  const size_t mask_bytes = format->mask_bytes();
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
