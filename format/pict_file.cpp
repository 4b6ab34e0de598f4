// A picture starts:
//
//   0 size (2, unused)   2 frame: top, left, bottom, right (8)
//   10 version 1: 11 01 (the one-byte opcode and its version)
//      version 2: 00 11 02 FF (the opcode word and the version word)
#include "format/pict_file.hpp"

#include "format/pict_opcodes.hpp"

namespace varnel::format {
namespace {

constexpr size_t kVersionOpcodeOffset = 10;

bool starts_with_picture(std::span<const uint8_t> bytes) {
  if (bytes.size() < kVersionOpcodeOffset + 2) return false;
  const std::span<const uint8_t> version = bytes.subspan(kVersionOpcodeOffset);
  if (version[0] == (kPictVersion & 0xFF) && version[1] == 0x01) return true;
  return version.size() >= 4 && version[0] == (kPictVersion >> 8) && version[1] == (kPictVersion & 0xFF) &&
         version[2] == (kPictVersion2 >> 8) && version[3] == (kPictVersion2 & 0xFF);
}

}  // namespace

std::optional<size_t> find_picture_in_pict_file(std::span<const uint8_t> file) {
  if (file.size() > kPictFileHeaderBytes && starts_with_picture(file.subspan(kPictFileHeaderBytes)))
    return kPictFileHeaderBytes;
  if (starts_with_picture(file)) return 0;
  return std::nullopt;
}

}  // namespace varnel::format
