// The tool's write handlers around the library's generators, and their
// registration: checked icon input (PNG, netpbm or CT), file contents for
// any other type, and the picture builder with its result kept.
#pragma once

#include <cstdint>
#include <string>

#include "varnel.h"

namespace varnel_tool {

// Largest resource data the map's 24-bit offsets can reach.
inline constexpr int64_t kMaxResourceDataBytes = MACBIN_MAX_DATA_OFFSET;

// Registers vers, FREF, Bndl, the icon types, PICT and the "****" file
// processor (last: registering after it would change it).  False when the
// library ran out of memory.
bool register_write_handlers();

// Temporary CT files made from icon images go to this directory.
void set_conversion_directory(const std::string &directory);

}  // namespace varnel_tool
