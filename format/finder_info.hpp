// Private to the library: never installed.
//
// The Finder's information about a file as one 32-byte block: FInfo (type,
// creator, flags, the icon's place in its window, the folder) and FXInfo
// (icon ID, script, extended flags, comment, put-away folder).  AppleSingle
// and AppleDouble store it whole; MacBinary holds type, creator, flags,
// place and folder, MacBinary III the script and the extended flags too;
// BinHex type, creator and flags.  Hosts read and write the block as it
// stands (MacBin_GetFinderInfoBytes, MacBin_SetFinderInfoBytes), so this
// layout is part of the interface.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace varnel::format {

inline constexpr size_t kFinderInfoBytes = 32;
using FinderInfoBlock = std::array<uint8_t, kFinderInfoBytes>;

inline constexpr size_t kFinderTypeAt = 0;       // 4 bytes
inline constexpr size_t kFinderCreatorAt = 4;    // 4 bytes
inline constexpr size_t kFinderFlagsAt = 8;      // 2 bytes
inline constexpr size_t kFinderLocationAt = 10;  // vertical, horizontal: 2 bytes each
inline constexpr size_t kFinderFolderAt = 14;    // 2 bytes
inline constexpr size_t kFinderExtendedAt = 16;  // FXInfo, 16 bytes
inline constexpr size_t kFinderScriptAt = 24;    // FXInfo's script code
inline constexpr size_t kFinderExtendedFlagsAt = 25;
// Place and folder: the part of FInfo that MacBinary stores at 75.
inline constexpr size_t kFinderPlaceBytes = 6;

}  // namespace varnel::format
