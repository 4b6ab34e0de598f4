// Private to the library: never installed.
//
// A colour icon (cicn): three records, then their data.
//
//    0 pixel map (50): base address (4), row bytes with the pixel-map flag
//      0x8000 (2), bounds top, left, bottom, right (8), version (2), packing
//      type (2), packed size (4), horizontal and vertical resolution (16.16
//      fixed, 4 + 4), pixel type (2: 0 indexed), pixel size (2), components
//      (2), component size (2), plane bytes (4), colour table (4), reserved (4)
//   50 mask bit map (14): base address (4), row bytes (2), bounds (8)
//   64 1-bit bit map (14), the icon for screens of one bit a pixel
//   78 icon data handle (4)
//   82 mask rows, then 1-bit rows (row bytes x height each), the colour
//      table (seed 4, flags 2, entries - 1 (2), then per entry its value and
//      red, green, blue as 16-bit components: 8 bytes), then the pixel rows
//      (unpacked, row bytes each).
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnel::format {

inline constexpr size_t kColorIconPixelMapBytes = 50;
inline constexpr size_t kColorIconBitMapBytes = 14;
inline constexpr size_t kColorIconHeaderBytes = 82;
inline constexpr uint32_t kPixelMapRowBytesFlag = 0x8000;
inline constexpr uint32_t kResolution72Dpi = 0x00480000;  // 72.0 as 16.16 fixed
inline constexpr size_t kColorTableHeaderBytes = 8;
inline constexpr size_t kColorTableEntryBytes = 8;

static_assert(kColorIconPixelMapBytes + 2 * kColorIconBitMapBytes + 4 == kColorIconHeaderBytes);

}  // namespace varnel::format
