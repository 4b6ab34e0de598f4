#include "common/mac_palettes.hpp"

#include <limits>

namespace varnel_tool {
namespace {

// The 256-colour table, built by its rule:
//   0 to 214    the 6x6x6 cube with the levels FF CC 99 66 33 00, red
//               outermost and blue innermost, without its last entry
//               (000000, which the table keeps for index 255);
//   215 to 224  red ramp   EE DD BB AA 88 77 55 44 22 11 (no cube levels);
//   225 to 234  green ramp, 235 to 244 blue ramp, 245 to 254 grey ramp;
//   255         black.
std::array<Rgb, 256> build_palette_256() {
  constexpr std::array<uint8_t, 6> kCubeLevels = {0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00};
  constexpr std::array<uint8_t, 10> kRampLevels = {0xEE, 0xDD, 0xBB, 0xAA, 0x88,
                                                   0x77, 0x55, 0x44, 0x22, 0x11};
  std::array<Rgb, 256> table{};
  size_t index = 0;
  for (uint8_t red : kCubeLevels)
    for (uint8_t green : kCubeLevels)
      for (uint8_t blue : kCubeLevels)
        if (index < 215) table[index++] = Rgb{red, green, blue};
  for (uint8_t level : kRampLevels) table[index++] = Rgb{level, 0, 0};
  for (uint8_t level : kRampLevels) table[index++] = Rgb{0, level, 0};
  for (uint8_t level : kRampLevels) table[index++] = Rgb{0, 0, level};
  for (uint8_t level : kRampLevels) table[index++] = Rgb{level, level, level};
  table[index] = Rgb{0, 0, 0};
  return table;
}

}  // namespace

const std::array<Rgb, 256> &mac_palette_256() {
  static const std::array<Rgb, 256> table = build_palette_256();
  return table;
}

const std::array<Rgb, 16> &mac_palette_16() {
  // The system's 16-colour table, from its 16-bit components cut to 8 bits.
  static const std::array<Rgb, 16> table = {{
      {0xFF, 0xFF, 0xFF},  //  0 white
      {0xFC, 0xF3, 0x05},  //  1 yellow
      {0xFF, 0x64, 0x02},  //  2 orange
      {0xDD, 0x08, 0x06},  //  3 red
      {0xF2, 0x08, 0x84},  //  4 magenta
      {0x46, 0x00, 0xA5},  //  5 purple
      {0x00, 0x00, 0xD4},  //  6 blue
      {0x02, 0xAB, 0xEA},  //  7 cyan
      {0x1F, 0xB7, 0x14},  //  8 green
      {0x00, 0x64, 0x11},  //  9 dark green
      {0x56, 0x2C, 0x05},  // 10 brown
      {0x90, 0x71, 0x3A},  // 11 tan
      {0xC0, 0xC0, 0xC0},  // 12 light grey
      {0x80, 0x80, 0x80},  // 13 medium grey
      {0x40, 0x40, 0x40},  // 14 dark grey
      {0x00, 0x00, 0x00},  // 15 black
  }};
  return table;
}

uint8_t nearest_palette_index(std::span<const Rgb> palette, Rgb colour) {
  uint32_t best_distance = std::numeric_limits<uint32_t>::max();
  size_t best = 0;
  for (size_t i = 0; i < palette.size(); ++i) {
    const int dr = palette[i].red - colour.red;
    const int dg = palette[i].green - colour.green;
    const int db = palette[i].blue - colour.blue;
    const auto distance = static_cast<uint32_t>(dr * dr + dg * dg + db * db);
    if (distance < best_distance) {
      best_distance = distance;
      best = i;
    }
  }
  return static_cast<uint8_t>(best);
}

uint8_t luminance_of(Rgb colour) {
  const uint32_t weighted = 299u * colour.red + 587u * colour.green + 114u * colour.blue;
  return static_cast<uint8_t>((weighted + 500u) / 1000u);
}

}  // namespace varnel_tool
