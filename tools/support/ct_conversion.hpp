// Turning decoded images into the single-channel CT samples that the icon
// builders and CT-reading hosts take.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "support/image_reader.hpp"

namespace varnel_tool {

enum class CtPalette {
  kMac256,  // index into the 256-colour system palette (icl8, ics8)
  kMac16,   // index into the 16-colour palette, shifted into the high nibble (icl4, ics4)
  kGrey,    // ink amount: 0 white, 255 black (the library's grey convention)
  kMono     // 255 for dark pixels, 0 for light ones (ICN#, ics#: non-zero is black)
};

std::optional<CtPalette> parse_ct_palette(std::string_view name);

// One sample per pixel, rows top first.  Transparent pixels count as white.
std::vector<uint8_t> convert_to_ct_samples(const DecodedImage &image, CtPalette palette);

}  // namespace varnel_tool
