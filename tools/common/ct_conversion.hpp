// Turning decoded images into the single-channel CT samples that the icon
// builders and CT-reading hosts take.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/image_reader.hpp"

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

// One-bit icon masks (ICN#, ics#) as CT samples: 255 inside the mask (the
// icon is opaque there), 0 outside.
//
// The icon image's own mask: a pixel whose alpha is at least one half
// (128 of 255) is inside, a more transparent one outside.  Nothing when the
// image has no alpha channel: the whole square is then the icon.
std::optional<std::vector<uint8_t>> mask_from_alpha(const DecodedImage &image);

// A separate mask image: with an alpha channel, its opaque pixels are
// inside, as for the icon's own alpha; without one, its dark pixels
// (luminance below one half) are inside and light ones outside, so a black
// shape on white draws the mask.
std::vector<uint8_t> mask_from_image(const DecodedImage &image);

}  // namespace varnel_tool
