// A picture starts:
//
//   0 size (2, unused)   2 frame: top, left, bottom, right (8)
//   10 version 1: 11 01                 version 2: 00 11 02 FF
//   14 (version 2) header opcode 0C 00, then 24 bytes:
//      16 version (2: FF FF standard, FF FE extended)   18 reserved (2)
//      20 horizontal dpi (4, 16.16)   24 vertical dpi (4, 16.16)
//      28 source rectangle (8)   36 reserved (4)
#include "common/pict_file.hpp"

#include <cstdio>

#include "common/byte_cursor.hpp"

namespace varnel_tool {
namespace {

constexpr size_t kVersionOpcodeOffset = 10;

}  // namespace

std::optional<PictureResolution> extended_picture_resolution(std::span<const uint8_t> picture) {
  ByteCursor cursor(picture);
  uint32_t version = 0;
  uint16_t header_opcode = 0, header_version = 0;
  uint32_t horizontal = 0, vertical = 0;
  if (!cursor.skip(kVersionOpcodeOffset) || !cursor.read_u32(version) || version != 0x001102FF ||
      !cursor.read_u16(header_opcode) || header_opcode != 0x0C00 || !cursor.read_u16(header_version) ||
      header_version != 0xFFFE || !cursor.skip(2) || !cursor.read_u32(horizontal) ||
      !cursor.read_u32(vertical))
    return std::nullopt;
  return PictureResolution{static_cast<int32_t>(horizontal), static_cast<int32_t>(vertical)};
}

std::string fixed_point_text(int32_t fixed) {
  // Hundredths, rounded half away from zero, in 64 bits so that the most
  // negative value has a positive counterpart.
  const int64_t value = fixed;
  const int64_t magnitude = value < 0 ? -value : value;
  const int64_t hundredths = (magnitude * 100 + 32768) / 65536;
  std::string text = (value < 0 && hundredths != 0 ? "-" : "") + std::to_string(hundredths / 100);
  const int64_t fraction = hundredths % 100;
  if (fraction != 0) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02d", static_cast<int>(fraction));
    text += '.';
    text += digits[0];
    if (digits[1] != '0') text += digits[1];
  }
  return text;
}

}  // namespace varnel_tool
