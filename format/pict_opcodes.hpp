// Private to the library and the tool: never installed.
//
// The QuickDraw picture opcodes that the preview writes and the tool reads.
// Version 2 pictures have 16-bit opcodes, each item word-aligned.
#pragma once

#include <cstdint>

namespace varnel::format {

enum PictOpcode : uint16_t {
  kPictNop = 0x0000,
  kPictClipRegion = 0x0001,
  kPictVersion = 0x0011,         // then 0x02FF in a version 2 picture
  kPictDefHilite = 0x001E,
  kPictPackBitsRect = 0x0098,    // packed pixel map, no region
  kPictPackBitsRegion = 0x0099,  // packed pixel map with a mask region
  kPictShortComment = 0x00A0,
  kPictLongComment = 0x00A1,
  kPictOpEndPic = 0x00FF,
  kPictHeaderOp = 0x0C00,  // version 2 header: 24 bytes of data
};
inline constexpr uint16_t kPictVersion2 = 0x02FF;
// A picture starts with its size word and frame; a PICT file has 512 bytes
// of its own in front.
inline constexpr int kPictFileHeaderSize = 512;
inline constexpr int kPictSizeAndFrameBytes = 10;
// Pixel map rows of fewer than 8 bytes are stored unpacked; longer rows
// carry a byte count of one byte up to 250 bytes a row, else of two.
inline constexpr int kPictMinPackedRowBytes = 8;
inline constexpr int kPictOneByteCountLimit = 250;

}  // namespace varnel::format

namespace varnel::format {

// Row bytes of a pixel map carry this flag (a bitmap's do not).
inline constexpr uint16_t kPictPixelMapFlag = 0x8000;
// A rectangular region is its size word and bounding box alone.
inline constexpr int kPictRectangularRegionBytes = 10;
// Ends the inversion points of a scan line, and the region.
inline constexpr uint16_t kPictRegionEnd = 0x7FFF;

}  // namespace varnel::format
