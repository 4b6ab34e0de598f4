// Patterns: PAT  (8 x 8 bits), PAT# (a count, then 8-byte patterns), ppat
// (a pixel pattern) and ppt# (a count, then the offsets of its pixel
// patterns).  Set bits are black, clear ones white; all opaque.
//
//   ppat   0 type (2: 0 bits only, 1 pixel map, 2 a colour)   2 pixel map
//          offset (4)   6 pixel data offset (4)   10 expanded data, valid
//          flag, map (10)   20 the 8 x 8 bits (8); then the pixel map (base
//          address, then as in pictures), its colour table and its rows.
// The offsets count from the start of the pattern: in a ppat from the
// resource's start, in a ppt# from the start of each pattern (the list's
// own offsets count from the start of the list).
#include <vector>

#include "decode/internal.hpp"

namespace varnel::decode {
namespace {

constexpr int32_t kPatternSide = 8;
constexpr size_t kPatternBytes = 8;
constexpr size_t kPixelPatternHeaderBytes = 28;

void draw_bits(Canvas &canvas, int32_t x0, std::span<const uint8_t> bits) {
  for (int32_t y = 0; y < kPatternSide; ++y)
    for (int32_t x = 0; x < kPatternSide; ++x)
      canvas.set(x0 + x, y, bit_at(bits, static_cast<size_t>(y * kPatternSide + x)) ? kBlack : kWhite);
}

// One pixel pattern at `start` of `data` as an image of its own.
struct PatternTile {
  int32_t width = kPatternSide, height = kPatternSide;
  std::vector<Rgba> pixels;  // rows top first
};

PatternTile read_pixel_pattern(std::span<const uint8_t> data, size_t start) {
  if (start > data.size()) throw DecodeError("the ppat data is cut short");
  // Every offset in a pattern counts from the pattern's own start.
  Reader reader(data.subspan(start), "the ppat data");
  reader.need(kPixelPatternHeaderBytes);
  const uint32_t type = reader.u16();
  const uint32_t map_offset = reader.u32();
  const uint32_t data_offset = reader.u32();
  reader.skip(10);
  const std::span<const uint8_t> bits = reader.bytes(kPatternBytes);
  PatternTile tile;
  if (type == 0 || map_offset == 0) {
    for (int32_t i = 0; i < kPatternSide * kPatternSide; ++i)
      tile.pixels.push_back(bit_at(bits, static_cast<size_t>(i)) ? kBlack : kWhite);
    return tile;
  }
  // A pattern is a tile of at most 64 x 64 in practice; larger ones are
  // allowed up to the common canvas limit.
  const DetachedPixelMap detached = read_detached_pixel_map(reader, map_offset, "ppat pixel map");
  const PixelMap &map = detached.map;
  reader.seek(data_offset);
  PixelRows rows(map, detached.colours(), false, kBlack, kWhite);
  tile.width = map.bounds.width();
  tile.height = map.bounds.height();
  std::vector<Rgba> row(static_cast<size_t>(tile.width));
  for (int32_t y = 0; y < tile.height; ++y) {
    rows.next(reader, row);
    tile.pixels.insert(tile.pixels.end(), row.begin(), row.end());
  }
  return tile;
}

Canvas strip_of(const std::vector<PatternTile> &tiles) {
  int64_t width = 0;
  int32_t height = 0;
  for (const PatternTile &tile : tiles) {
    width += tile.width;
    height = std::max(height, tile.height);
  }
  if (width > kMaxSidePixels) throw DecodeError("ppt# patterns too wide side by side");
  Canvas canvas(static_cast<int32_t>(width), height, kClear);
  int32_t x0 = 0;
  for (const PatternTile &tile : tiles) {
    for (int32_t y = 0; y < tile.height; ++y)
      for (int32_t x = 0; x < tile.width; ++x)
        canvas.set(x0 + x, y, tile.pixels[static_cast<size_t>(y * tile.width + x)]);
    x0 += tile.width;
  }
  return canvas;
}

}  // namespace

Canvas decode_pattern(std::span<const uint8_t> data) {
  if (data.size() < kPatternBytes)
    throw DecodeError("PAT  data cut short: " + std::to_string(data.size()) + " of 8 bytes");
  Canvas canvas(kPatternSide, kPatternSide, kWhite);
  draw_bits(canvas, 0, data.first(kPatternBytes));
  return canvas;
}

Canvas decode_pattern_list(std::span<const uint8_t> data) {
  Reader reader(data, "the PAT# data");
  const uint32_t count = reader.u16();
  if (count == 0) throw DecodeError("PAT# without patterns");
  reader.need(count * kPatternBytes);
  if (count > static_cast<uint32_t>(kMaxSidePixels / kPatternSide))
    throw DecodeError("PAT# with " + std::to_string(count) + " patterns is too wide");
  Canvas canvas(static_cast<int32_t>(count) * kPatternSide, kPatternSide, kWhite);
  for (uint32_t i = 0; i < count; ++i)
    draw_bits(canvas, static_cast<int32_t>(i) * kPatternSide, reader.bytes(kPatternBytes));
  return canvas;
}

Canvas decode_pixel_pattern(std::span<const uint8_t> data) {
  return strip_of({read_pixel_pattern(data, 0)});
}

Canvas decode_pixel_pattern_list(std::span<const uint8_t> data) {
  Reader reader(data, "the ppt# data");
  const uint32_t count = reader.u16();
  if (count == 0) throw DecodeError("ppt# without patterns");
  reader.need(size_t{count} * 4);
  if (count > static_cast<uint32_t>(kMaxSidePixels)) throw DecodeError("ppt# too wide");
  std::vector<PatternTile> tiles;
  for (uint32_t i = 0; i < count; ++i) tiles.push_back(read_pixel_pattern(data, reader.u32()));
  return strip_of(tiles);
}

}  // namespace varnel::decode
