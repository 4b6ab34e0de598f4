// Private to the library: never installed.
//
// The standard colour tables of the system for 1, 2, 4 and 8 bits a pixel:
// what an icon or pixel map without a table of its own is drawn with, and
// what the icon encoders map colours onto.  One copy, for both directions.
#pragma once

#include <cstdint>
#include <span>

namespace varnel::format {

struct Rgb {
  uint8_t red, green, blue;
  bool operator==(const Rgb &) const = default;
};

// The table for `bits` (1, 2, 4, 8: 2, 4, 16 and 256 entries, white first
// and black last); any other depth gives the 256-colour table.
std::span<const Rgb> system_palette(int32_t bits);

}  // namespace varnel::format
