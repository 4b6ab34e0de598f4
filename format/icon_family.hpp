// Private to the library: never installed.
//
// The icon family's resources: 1-, 4- and 8-bit icons of 32 x 32 (ICN#,
// ICON, icl4, icl8), 16 x 16 (ics#, ics4, ics8, kcs#, kcs4, kcs8, and each
// item of a SICN) and 16 x 12 (icm#, icm4, icm8) pixels.  Rows top first,
// each row in whole bytes, leftmost pixel in the high bits.  The # types are
// the 1-bit icon followed by its mask (1 = inside); the colour types take
// their mask from that # type of the same ID.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace varnel::format {

struct IconFormat {
  std::string_view type;
  int32_t width, height, bits;
  bool own_mask;               // the mask follows the icon's bits
  std::string_view mask_type;  // where a colour icon's mask is, else ""

  // Bytes of the icon's pixels (without a mask).
  constexpr size_t pixel_bytes() const { return static_cast<size_t>(width * height * bits / 8); }
  // Bytes of a 1-bit image of the icon's size: one mask.
  constexpr size_t mask_bytes() const { return static_cast<size_t>(width * height / 8); }
};

inline constexpr std::array<IconFormat, 13> kIconFormats = {{
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

// The format of `type`, or null for any other type (SICN included: its
// items are listed below).
constexpr const IconFormat *find_icon_format(std::string_view type) {
  for (const IconFormat &format : kIconFormats)
    if (format.type == type) return &format;
  return nullptr;
}

// The icons the library makes from image files (a resource line names the
// image and, for the 1-bit ones, an optional mask image).
constexpr bool is_icon_made_from_images(std::string_view type) {
  return type == "ICN#" || type == "ics#" || type == "icl8" || type == "ics8" || type == "icl4" || type == "ics4";
}

// SICN: a list of 16 x 16 1-bit items, 32 bytes each, without masks.
inline constexpr int32_t kSmallIconSide = 16;
inline constexpr size_t kSmallIconBytes = 32;

// CURS: 16 x 16 data bits, then the mask, then the hot spot (vertical,
// horizontal: two signed 16-bit numbers).
//    0 data (32)   32 mask (32)   64 hot spot v, h (4)
inline constexpr int32_t kCursorSide = 16;
inline constexpr size_t kCursorBitsBytes = 32;
inline constexpr size_t kCursorBytes = 68;

}  // namespace varnel::format
