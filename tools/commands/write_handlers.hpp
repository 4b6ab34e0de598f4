// The tool's write handlers around the library's generators, and their
// registration: file contents for any other type, and the picture builder
// with its result kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "varnel.h"

namespace varnel_tool {

// Largest resource data the map's 24-bit offsets can reach.
inline constexpr int64_t kMaxResourceDataBytes = MACBIN_MAX_DATA_OFFSET;

// Registers vers, FREF, Bndl, PICT (whose image methods the library installs
// itself, reading image files with its built-in reader), the icons made from image
// files (ICN#, ics#, icl8, ics8, icl4, ics4) and the "****" file processor
// (last: registering after it would change it).  False when the library ran
// out of memory.
bool register_write_handlers();


// The directory of the line being handled: its relative file names (data,
// and through the library images) are taken from there.
void set_image_directory(const std::string &directory);
std::string resolve_input_path(const std::string &name);

}  // namespace varnel_tool
