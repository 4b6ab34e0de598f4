#include "format/system_palettes.hpp"

#include <array>
#include <cstddef>

namespace varnel::format {
namespace {

// The 256-colour table, built by its rule:
//   0 to 214    the 6x6x6 cube with the levels FF CC 99 66 33 00, red
//               outermost and blue innermost, without its last entry
//               (black, which the table keeps for index 255);
//   215 to 224  red ramp   EE DD BB AA 88 77 55 44 22 11 (the levels the
//               cube lacks); 225 to 234 green, 235 to 244 blue and
//               245 to 254 grey ramps of the same levels;
//   255         black.
constexpr std::array<Rgb, 256> build_256() {
  constexpr std::array<uint8_t, 6> kCube = {0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00};
  constexpr std::array<uint8_t, 10> kRamp = {0xEE, 0xDD, 0xBB, 0xAA, 0x88,
                                             0x77, 0x55, 0x44, 0x22, 0x11};
  std::array<Rgb, 256> table{};
  size_t i = 0;
  for (uint8_t red : kCube)
    for (uint8_t green : kCube)
      for (uint8_t blue : kCube)
        if (i < 215) table[i++] = Rgb{red, green, blue};
  for (uint8_t level : kRamp) table[i++] = Rgb{level, 0, 0};
  for (uint8_t level : kRamp) table[i++] = Rgb{0, level, 0};
  for (uint8_t level : kRamp) table[i++] = Rgb{0, 0, level};
  for (uint8_t level : kRamp) table[i++] = Rgb{level, level, level};
  table[i] = Rgb{0, 0, 0};
  return table;
}

constexpr std::array<Rgb, 256> k256 = build_256();
static_assert(k256[0] == Rgb{0xFF, 0xFF, 0xFF} && k256[214] == Rgb{0x00, 0x00, 0x33} &&
              k256[215] == Rgb{0xEE, 0x00, 0x00} && k256[254] == Rgb{0x11, 0x11, 0x11} &&
              k256[255] == Rgb{0x00, 0x00, 0x00});

// The 16-colour table: its 16-bit components cut to their high bytes.
constexpr std::array<Rgb, 16> k16 = {{
    {0xFF, 0xFF, 0xFF},  //  0 white       FFFF FFFF FFFF
    {0xFC, 0xF3, 0x05},  //  1 yellow      FC00 F37D 052F
    {0xFF, 0x64, 0x02},  //  2 orange      FFFF 648A 028C
    {0xDD, 0x08, 0x06},  //  3 red         DD6B 08C2 06A2
    {0xF2, 0x08, 0x84},  //  4 magenta     F2D7 0856 84EC
    {0x46, 0x00, 0xA5},  //  5 purple      46E3 0000 A53E
    {0x00, 0x00, 0xD4},  //  6 blue        0000 0000 D400
    {0x02, 0xAB, 0xEA},  //  7 cyan        0241 AB54 EAFF
    {0x1F, 0xB7, 0x14},  //  8 green       1F21 B793 1431
    {0x00, 0x64, 0x11},  //  9 dark green  0000 64AF 11B0
    {0x56, 0x2C, 0x05},  // 10 brown       5600 2C9D 0524
    {0x90, 0x71, 0x3A},  // 11 tan         90D7 7160 3A34
    {0xC0, 0xC0, 0xC0},  // 12 light grey  C000 C000 C000
    {0x80, 0x80, 0x80},  // 13 medium grey 8000 8000 8000
    {0x40, 0x40, 0x40},  // 14 dark grey   4000 4000 4000
    {0x00, 0x00, 0x00},  // 15 black
}};

// The 4-colour table: white, light grey, dark grey, black.
constexpr std::array<Rgb, 4> k4 = {{{0xFF, 0xFF, 0xFF}, {0xAC, 0xAC, 0xAC}, {0x55, 0x55, 0x55}, {0, 0, 0}}};
constexpr std::array<Rgb, 2> k2 = {{{0xFF, 0xFF, 0xFF}, {0, 0, 0}}};

}  // namespace

std::span<const Rgb> system_palette(int32_t bits) {
  switch (bits) {
    case 1: return k2;
    case 2: return k4;
    case 4: return k16;
    default: return k256;
  }
}

}  // namespace varnel::format
