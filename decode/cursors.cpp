// Cursors: CURS (16 x 16 bits, mask, hot spot) and crsr (the same, with a
// colour pixel map that colour screens show instead of the bits).
//
//   CURS   0 data (32)   32 mask (32)   64 hot spot v, h (4)
//   crsr   0 type (2: 0x8001 colour, 0x8000 bits only)   2 pixel map offset (4)
//          6 pixel data offset (4)   10 expanded data, valid flag, handle (10)
//          20 data (32)   52 mask (32)   84 hot spot v, h (4)   88 table, ID (8)
//          then the pixel map (base address, then as in pictures), its colour
//          table and its rows, where the offsets say.
// Where the mask is clear and the data set, a cursor inverts the screen
// under it; on the white of an image that is black.
#include "decode/internal.hpp"
#include "format/icon_family.hpp"

namespace varnel::decode {
namespace {

using format::kCursorBytes;
using format::kCursorSide;
constexpr size_t kColorCursorHeaderBytes = 96;
constexpr uint32_t kColorCursorType = 0x8001;

void read_hot_spot(std::span<const uint8_t> at, CursorImage &image) {
  Reader reader(at, "the hot spot");
  image.hot_y = reader.s16();
  image.hot_x = reader.s16();
}

}  // namespace

void draw_masked_bits(Canvas &canvas, int32_t x0, int32_t y0, int32_t side,
                      std::span<const uint8_t> data, std::span<const uint8_t> mask) {
  for (int32_t y = 0; y < side; ++y)
    for (int32_t x = 0; x < side; ++x) {
      const auto at = static_cast<size_t>(y * side + x);
      const bool set = bit_at(data, at) != 0, inside = bit_at(mask, at) != 0;
      if (inside)
        canvas.set(x0 + x, y0 + y, set ? kBlack : kWhite);
      else if (set)
        canvas.set(x0 + x, y0 + y, kBlack);
    }
}

CursorImage decode_cursor(std::span<const uint8_t> data) {
  if (data.size() < kCursorBytes)
    throw DecodeError("CURS data cut short: " + std::to_string(data.size()) + " of 68 bytes");
  CursorImage image;
  image.canvas = Canvas(kCursorSide, kCursorSide, kClear);
  draw_masked_bits(image.canvas, 0, 0, kCursorSide, data.first(32), data.subspan(32, 32));
  read_hot_spot(data.subspan(64, 4), image);
  return image;
}

CursorImage decode_color_cursor(std::span<const uint8_t> data) {
  Reader reader(data, "the crsr data");
  reader.need(kColorCursorHeaderBytes);
  const uint32_t type = reader.u16();
  const uint32_t map_offset = reader.u32();
  const uint32_t data_offset = reader.u32();
  const std::span<const uint8_t> bits = data.subspan(20, 32), mask = data.subspan(52, 32);
  CursorImage image;
  read_hot_spot(data.subspan(84, 4), image);
  image.canvas = Canvas(kCursorSide, kCursorSide, kClear);
  if (type != kColorCursorType) {
    draw_masked_bits(image.canvas, 0, 0, kCursorSide, bits, mask);
    return image;
  }
  const DetachedPixelMap detached = read_detached_pixel_map(reader, map_offset, "crsr pixel map");
  const PixelMap &map = detached.map;
  reader.seek(data_offset);
  PixelRows rows(map, detached.colours(), false, kBlack, kWhite);
  std::vector<Rgba> row(static_cast<size_t>(map.bounds.width()));
  for (int32_t y = 0; y < map.bounds.height(); ++y) {
    rows.next(reader, row);
    if (y >= kCursorSide) continue;
    for (int32_t x = 0; x < kCursorSide && x < map.bounds.width(); ++x) {
      const auto at = static_cast<size_t>(y * kCursorSide + x);
      if (bit_at(mask, at))
        image.canvas.set(x, y, row[static_cast<size_t>(x)]);
      else if (bit_at(bits, at))
        image.canvas.set(x, y, kBlack);
    }
  }
  return image;
}

}  // namespace varnel::decode
