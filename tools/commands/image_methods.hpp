// The tool's image-access methods for the picture builder: they open PNG or
// netpbm files, resample them to the resolution the resource line asks for
// and deliver the rows (and the one-bit mask rows) the library asks for.
#pragma once

#include <string>

namespace varnel_tool {

// Installs the methods with ids 1 to 10, 15 and 16.
void install_image_methods();

// Largest picture the format can hold: row bytes (width rounded up to even)
// must stay below 0x4000 and the frame within 16-bit coordinates.
inline constexpr int32_t kMaxPictureWidthPixels = 16382;
inline constexpr int32_t kMaxPictureHeightPixels = 32767;

}  // namespace varnel_tool
