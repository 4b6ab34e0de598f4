// Names of the bits of a file's Finder flags and of a resource's attribute
// byte, as Macintosh programmers know them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnel::format {

// The set Finder flags, high bit first, joined by ",": "isAlias",
// "isInvisible", "hasBundle", ...; the colour label (bits 1 to 3) as
// "color=N", the reserved bits 0x0210 as "reserved=N", and "isOnDesk" last.
std::string finder_flag_names(uint16_t flags);

// The set attribute bits, high bit first, joined by ",": "sysHeap",
// "purgeable", "locked", "protected", "preload", "changed" and
// "compressed" (0x01, data stored compressed).  Bit 0x80 has no name and
// is left out.
std::string attribute_names(uint8_t attributes);

// Those names joined by "," (any order, each bit once or more), or a
// number from 0 to 255, decimal or 0x hexadecimal, back to the byte.
// Nothing for an unknown name, an empty name or a number out of range.
std::optional<uint8_t> parse_attribute_names(std::string_view text);

}  // namespace varnel::format
