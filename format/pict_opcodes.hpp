// Private to the library: never installed.
//
// The QuickDraw picture opcodes, as the library's code names them.  Their
// values are published in varnel.h (MACBIN_PICT_*) for hosts that read
// pictures back; this is the one place that ties the two.
#pragma once

#include <cstdint>

#include "varnel.h"

namespace varnel::format {

enum PictOpcode : uint16_t {
  kPictNop = MACBIN_PICT_NOP,
  kPictClipRegion = MACBIN_PICT_CLIP_REGION,
  kPictVersion = MACBIN_PICT_VERSION,
  kPictDefHilite = MACBIN_PICT_DEF_HILITE,
  kPictPackBitsRect = MACBIN_PICT_PACKBITS_RECT,
  kPictPackBitsRegion = MACBIN_PICT_PACKBITS_REGION,
  kPictShortComment = MACBIN_PICT_SHORT_COMMENT,
  kPictLongComment = MACBIN_PICT_LONG_COMMENT,
  kPictOpEndPic = MACBIN_PICT_END,
  kPictHeaderOp = MACBIN_PICT_HEADER,
};
inline constexpr uint16_t kPictVersion2 = MACBIN_PICT_VERSION_2;
// The first word of an extended version 2 header (the opcode 0C00's data).
inline constexpr uint16_t kPictExtendedHeaderVersion = 0xFFFE;
inline constexpr int kPictMinPackedRowBytes = MACBIN_PICT_MIN_PACKED_ROW_BYTES;
inline constexpr int kPictOneByteCountLimit = MACBIN_PICT_ONE_BYTE_COUNT_LIMIT;
inline constexpr uint16_t kPictPixelMapFlag = MACBIN_PICT_PIXEL_MAP_FLAG;
inline constexpr int kPictRectangularRegionBytes = MACBIN_PICT_RECT_REGION_BYTES;
inline constexpr uint16_t kPictRegionEnd = MACBIN_PICT_REGION_END;

// How the data after an opcode is measured: what a reader needs to step
// over an opcode it does not draw, and what a writer must give one.
enum class PictDataRule : uint8_t {
  kFixed,       // `bytes` bytes
  kWordLength,  // a 16-bit length, then that many bytes
  kLongLength,  // a 32-bit length, then that many bytes
  kSized,       // a region or polygon: its first word is its whole size
  kOwn,         // laid out by the opcode itself (pixel data, text, comments, shapes)
};

struct PictDataLength {
  PictDataRule rule;
  uint32_t bytes;  // for kFixed
};

// The rule for `op`, for version 2 pictures (whose version opcode carries
// a word).  Opcodes QuickDraw reserved keep the length their range was
// given, so that later pictures using them can still be read past.
constexpr PictDataLength pict_data_length(uint32_t op) {
  using enum PictDataRule;
  if (op == kPictVersion2) return {kFixed, 2};
  if (op == kPictHeaderOp) return {kFixed, 24};
  if (op >= 0x0100 && op <= 0x7FFF) return {kFixed, (op >> 8) * 2};
  if (op >= 0x8000 && op <= 0x80FF) return {kFixed, 0};
  if (op >= 0x8100) return {kLongLength, 0};
  if (op == kPictClipRegion) return {kSized, 0};
  if ((op >= 0x0024 && op <= 0x0027) || op == 0x002F || (op >= 0x0092 && op <= 0x0097) ||
      (op >= 0x009C && op <= 0x009F) || (op >= 0x00A2 && op <= 0x00AF)) {
    return {kWordLength, 0};
  }
  if (op >= 0x00D0 && op <= 0x00FE) return {kLongLength, 0};
  if ((op >= 0x0017 && op <= 0x0019) || (op >= 0x00B0 && op <= 0x00CF)) return {kFixed, 0};
  return {kOwn, 0};
}

}  // namespace varnel::format
