// Icon resources (ICN# ics# icl8 ics8 icl4 ics4) from image files, made by
// the library's encoder and inserted as bytes: no temporary file, no
// palette of the tool's own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnel_tool {

// Whether a resource line of `type` (four MacRoman characters) names an
// icon image.
bool is_icon_type(const std::string &type);

// The resource data of the icon `type` from the image file (PNG, netpbm or
// CT) that `param` names and, for ICN# and ics#, an optional mask image;
// relative names are taken from `directory`.  A PNG or netpbm image is
// folded over white by its alpha and takes the nearest system colour; its
// alpha (128 and up inside) or the mask image (opaque, or dark without an
// alpha channel) gives the mask.  A CT image holds the samples as they are
// stored: palette indices (the 16-colour ones in the high four bits), for
// ICN#/ics# non-zero for black or inside.  Nothing, with `error` naming
// the file and the reason, when an image is missing, unreadable or of the
// wrong size.
std::optional<std::vector<uint8_t>> icon_resource_data(const std::string &type, const std::string &param,
                                                       const std::string &directory, std::string &error);

}  // namespace varnel_tool
