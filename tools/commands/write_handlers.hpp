// The resource processors the tool registers: the library's own, with the
// picture builder's result kept.
#pragma once

#include <string>

namespace varnel_tool {

// Registers vers, FREF, Bndl, PICT (whose image methods the library installs
// itself, reading image files with its built-in reader), the icons made from image
// files (ICN#, ics#, icl8, ics8, icl4, ics4) and the "****" file processor
// (last: registering after it would change it).  False when the library ran
// out of memory.
bool register_write_handlers();

// The directory of the line being handled: the library's processors take
// its relative file names (data files and images) from there.
void set_image_directory(const std::string &directory);

}  // namespace varnel_tool
