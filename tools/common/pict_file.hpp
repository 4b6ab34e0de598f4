// PICT files: a 512-byte header that belongs to the program that wrote it
// (zeros, as often as not), then the picture exactly as a PICT resource
// holds it.  The tool looks only at the picture's first bytes: where it
// starts, and the resolution an extended version 2 header states; the
// library draws it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace varnel_tool {

inline constexpr size_t kPictFileHeaderBytes = 512;

// Where the picture starts in a PICT file: kPictFileHeaderBytes when a
// picture follows the header (it has the version opcode after its size and
// frame), else 0 when the file itself starts with a picture (some programs
// write PICT files without the header), else nothing.  The header wins
// when both could hold: it is what the format prescribes.
std::optional<size_t> find_picture_in_pict_file(std::span<const uint8_t> file);

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
