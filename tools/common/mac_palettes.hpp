// The standard Macintosh system palettes: the 256-colour table of 8-bit
// icons (icl8, ics8) and the 16-colour table of 4-bit icons (icl4, ics4).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace varnel_tool {

struct Rgb {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  friend bool operator==(const Rgb &, const Rgb &) = default;
};

const std::array<Rgb, 256> &mac_palette_256();
const std::array<Rgb, 16> &mac_palette_16();

// Index of the palette entry nearest to `colour` (smallest squared distance
// in RGB; the lowest index wins a tie).
uint8_t nearest_palette_index(std::span<const Rgb> palette, Rgb colour);

// Luminance (ITU-R BT.601 weights), 0 to 255.
uint8_t luminance_of(Rgb colour);

}  // namespace varnel_tool
