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
inline constexpr int kPictMinPackedRowBytes = MACBIN_PICT_MIN_PACKED_ROW_BYTES;
inline constexpr int kPictOneByteCountLimit = MACBIN_PICT_ONE_BYTE_COUNT_LIMIT;
inline constexpr uint16_t kPictPixelMapFlag = MACBIN_PICT_PIXEL_MAP_FLAG;
inline constexpr int kPictRectangularRegionBytes = MACBIN_PICT_RECT_REGION_BYTES;
inline constexpr uint16_t kPictRegionEnd = MACBIN_PICT_REGION_END;

}  // namespace varnel::format
