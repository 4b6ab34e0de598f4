// Turns icon resources (ICN#, ics#, icl8, ics8, icl4, ics4) into RGBA
// images with the standard palettes; the mask of the 1-bit icon of the same
// size gives the transparency.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "support/image_sink.hpp"

namespace varnel_tool {

struct IconFormat {
  const char *type;     // resource type
  int32_t side_pixels;  // 32 (large) or 16 (small)
  int32_t bits_per_pixel;
  size_t data_bytes;    // exact resource size (1-bit icons include their mask)
};

// The format of an icon resource type, or null for any other type.
const IconFormat *find_icon_format(std::string_view type);

// The 1-bit icon type whose mask serves a colour icon of `format`
// ("ICN#" for the large ones, "ics#" for the small ones).
const char *mask_type_for(const IconFormat &format);

// The mask half of a 1-bit icon resource (empty when `data` has the wrong size).
std::span<const uint8_t> mask_of_one_bit_icon(const IconFormat &format,
                                              std::span<const uint8_t> data);

// Sends the icon to `sink` as RGBA.  `mask` is side x side bits (rows of
// side / 8 bytes, leftmost pixel in the top bit, set = opaque) or empty for
// a fully opaque icon.  A 1-bit icon uses its own mask whatever `mask` is.
// False with `error` set when the data has the wrong size or the sink fails.
bool render_icon(const IconFormat &format, std::span<const uint8_t> data,
                 std::span<const uint8_t> mask, ImageSink &sink, std::string &error);

}  // namespace varnel_tool
