// The preview's two fixed colour tables.
//
// Entry layout as a picture stores it, 8 bytes: value (the entry's index),
// red, green, blue, each a big-endian word that repeats its 8-bit level in
// both bytes (level 42 is 0x2A2A).
//
// Grey, 256 entries: entry i has the level 255 - i, so index 0 is white and a
// grey sample reads as an amount of ink.
// Colour, 245 entries: a cube of 7 red x 7 green x 5 blue steps, index
// r + 7g + 49b, written in index order (blue outermost).  Levels are rounded
// down from the exact steps 255/6 and 255/4; the row conversion measures its
// error against the exact steps.
#include <array>
#include <cstdint>

#include "picture/internal.hpp"
#include "stream/internal.hpp"
#include "varnel.h"

namespace {

constexpr int32_t kCubeRedGreenSteps = 7;
constexpr int32_t kCubeBlueSteps = 5;
constexpr size_t kEntryBytes = 8;
constexpr size_t kTableHeadBytes = 4;  // flags word, size-minus-one word

constexpr uint8_t red_green_level(int32_t step) { return static_cast<uint8_t>(255 * step / 6); }
constexpr uint8_t blue_level(int32_t step) { return static_cast<uint8_t>(255 * step / 4); }

void put_entry(uint8_t *entry, uint32_t index, uint8_t red, uint8_t green, uint8_t blue) {
  put_be16(entry, index);
  const uint8_t levels[3] = {red, green, blue};
  for (size_t c = 0; c < 3; ++c) {
    entry[2 + 2 * c] = levels[c];
    entry[3 + 2 * c] = levels[c];
  }
}

template <size_t Entries>
using TableBytes = std::array<uint8_t, kTableHeadBytes + Entries * kEntryBytes>;

TableBytes<256> make_grey_table() {
  TableBytes<256> table{};
  put_be16(table.data(), 0);    // flags
  put_be16(table.data() + 2, 255);
  for (uint32_t i = 0; i < 256; ++i) {
    const auto level = static_cast<uint8_t>(255 - i);
    put_entry(table.data() + kTableHeadBytes + i * kEntryBytes, i, level, level, level);
  }
  return table;
}

TableBytes<245> make_colour_cube() {
  TableBytes<245> table{};
  put_be16(table.data(), 0);    // flags
  put_be16(table.data() + 2, 244);
  uint32_t index = 0;
  for (int32_t b = 0; b < kCubeBlueSteps; ++b) {
    for (int32_t g = 0; g < kCubeRedGreenSteps; ++g) {
      for (int32_t r = 0; r < kCubeRedGreenSteps; ++r) {
        put_entry(table.data() + kTableHeadBytes + index * kEntryBytes, index,
                  red_green_level(r), red_green_level(g), blue_level(b));
        ++index;
      }
    }
  }
  return table;
}

}  // namespace

void put_pict_clut(int32_t kind) {
  static const TableBytes<256> grey = make_grey_table();
  static const TableBytes<245> cube = make_colour_cube();
  switch (kind) {
    case kClutGrey:
      MacBin_PutBuf(grey.data(), static_cast<int32_t>(grey.size()),
                    static_cast<int32_t>(grey.size()));
      break;
    case kClutColourCube:
      MacBin_PutBuf(cube.data(), static_cast<int32_t>(cube.size()),
                    static_cast<int32_t>(cube.size()));
      break;
    default:
      MacBin_PutWord(0, 2);  // flags only
      break;
  }
}
