// The first bytes of a picture, as a PICT file or resource holds it: the
// resolution an extended version 2 header states, which render tells.  The
// library finds the picture in a PICT file (MacBin_FindPictFilePicture) and
// draws it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace varnel_tool {

// The resolution stated by an extended version 2 header (version 2, then
// header opcode 0C00 with version -2), in dots per inch, as 16.16 fixed
// point values; nothing for any other picture.
struct PictureResolution {
  int32_t horizontal_fixed;
  int32_t vertical_fixed;
};
std::optional<PictureResolution> extended_picture_resolution(std::span<const uint8_t> picture);

// A 16.16 fixed point value as a short decimal: "72", "72.5", "-0.25"
// (at most two decimals, trailing zeros dropped).
std::string fixed_point_text(int32_t fixed);

}  // namespace varnel_tool
