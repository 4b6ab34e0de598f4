// A picture starts:
//
//   0 size (2, unused)   2 frame: top, left, bottom, right (8)
//   10 version 1: 11 01 (the one-byte opcode and its version)
//      version 2: 00 11 02 FF (the opcode word and the version word)
//   14 (version 2) header opcode 0C 00, then 24 bytes:
//      16 version (FF FF standard, FF FE extended)   18 reserved (2)
//      20 horizontal dpi (4, 16.16)   24 vertical dpi (4, 16.16)
//      28 source rectangle (8)   36 reserved (4)
#include "format/pict_file.hpp"

#include "format/big_endian.hpp"
#include "format/pict_opcodes.hpp"

namespace varnel::format {
namespace {

constexpr size_t kVersionOpcodeOffset = 10;
constexpr size_t kHeaderOpOffset = 14;
constexpr size_t kHeaderVersionOffset = 16;
constexpr size_t kResolutionOffset = 20;
static_assert(kPictureHeaderBytes == 28);

bool starts_with_picture(std::span<const uint8_t> bytes) {
  if (bytes.size() < kVersionOpcodeOffset + 2) return false;
  const std::span<const uint8_t> version = bytes.subspan(kVersionOpcodeOffset);
  if (version[0] == (kPictVersion & 0xFF) && version[1] == 0x01) return true;
  return version.size() >= 4 && version[0] == (kPictVersion >> 8) && version[1] == (kPictVersion & 0xFF) &&
         version[2] == (kPictVersion2 >> 8) && version[3] == (kPictVersion2 & 0xFF);
}

}  // namespace

std::optional<PictureHeader> read_picture_header(std::span<const uint8_t> picture) {
  if (!starts_with_picture(picture)) return std::nullopt;
  PictureHeader header;
  // Version 1's opcode is the byte 11; version 2's is the word 00 11.
  header.version = picture[kVersionOpcodeOffset] == 0 ? 2 : 1;
  header.top = static_cast<int16_t>(get_be16(picture.data() + 2));
  header.left = static_cast<int16_t>(get_be16(picture.data() + 4));
  header.bottom = static_cast<int16_t>(get_be16(picture.data() + 6));
  header.right = static_cast<int16_t>(get_be16(picture.data() + 8));
  if (header.version == 2 && picture.size() >= kPictureHeaderBytes &&
      get_be16(picture.data() + kHeaderOpOffset) == kPictHeaderOp &&
      get_be16(picture.data() + kHeaderVersionOffset) == kPictExtendedHeaderVersion) {
    header.resolution_stated = true;
    header.horizontal_dpi_fixed = static_cast<int32_t>(get_be32(picture.data() + kResolutionOffset));
    header.vertical_dpi_fixed = static_cast<int32_t>(get_be32(picture.data() + kResolutionOffset + 4));
  }
  return header;
}

std::optional<size_t> find_picture_in_pict_file(std::span<const uint8_t> file) {
  if (file.size() > kPictFileHeaderBytes && starts_with_picture(file.subspan(kPictFileHeaderBytes)))
    return kPictFileHeaderBytes;
  if (starts_with_picture(file)) return 0;
  return std::nullopt;
}

}  // namespace varnel::format
