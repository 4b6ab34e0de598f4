// Colour tables (clut) and palettes (pltt): read for the pixel maps that
// carry them, and drawn as a swatch when asked for on their own.
#include <algorithm>

#include "decode/internal.hpp"

namespace varnel::decode {
namespace {

constexpr uint32_t kDeviceTableFlag = 0x8000;  // entries are in index order, values unused
constexpr int32_t kSwatchCell = 8;
constexpr int32_t kSwatchColumns = 16;

Rgba read_rgb(Reader &reader) {
  // 16-bit components; their high bytes are the 8-bit ones.
  const uint32_t red = reader.u16(), green = reader.u16(), blue = reader.u16();
  return Rgba{static_cast<uint8_t>(red >> 8), static_cast<uint8_t>(green >> 8),
              static_cast<uint8_t>(blue >> 8), 0xFF};
}

}  // namespace

ColorTable read_color_table(Reader &reader) {
  ColorTable table;
  table.colours.fill(kBlack);
  reader.skip(4);  // ctSeed
  const uint32_t flags = reader.u16();
  const int32_t size = reader.s16();  // entries - 1; -1 for an empty table
  if (size < -1) throw DecodeError("colour table with " + std::to_string(size) + " entries");
  const auto count = static_cast<uint32_t>(size + 1);
  reader.need(size_t{count} * 8);
  table.entries = count;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t value = reader.u16();
    const Rgba colour = read_rgb(reader);
    table.in_order.push_back(colour);
    const uint32_t index = (flags & kDeviceTableFlag) ? i : (value & 0xFF);
    if (index < 256) table.colours[index] = colour;
  }
  return table;
}

ColorTable read_palette(Reader &reader) {
  ColorTable table;
  table.colours.fill(kBlack);
  const uint32_t count = reader.u16();
  reader.skip(14);  // reserved fields of the palette
  reader.need(size_t{count} * 16);
  table.entries = count;
  for (uint32_t i = 0; i < count; ++i) {
    const Rgba colour = read_rgb(reader);
    reader.skip(10);  // usage, tolerance, private fields
    table.in_order.push_back(colour);
    if (i < 256) table.colours[i] = colour;
  }
  return table;
}

Canvas decode_color_swatch(std::string_view type, std::span<const uint8_t> data) {
  Reader reader(data, std::string("the ") + std::string(type) + " data");
  const ColorTable table = type == "pltt" ? read_palette(reader) : read_color_table(reader);
  if (table.entries == 0) throw DecodeError(std::string(type) + " without colours");
  const auto count = static_cast<int32_t>(table.entries);
  const int32_t columns = std::min(count, kSwatchColumns);
  const int32_t rows = (count + kSwatchColumns - 1) / kSwatchColumns;
  Canvas canvas(columns * kSwatchCell, rows * kSwatchCell, kClear);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t x0 = (i % kSwatchColumns) * kSwatchCell, y0 = (i / kSwatchColumns) * kSwatchCell;
    for (int32_t y = 0; y < kSwatchCell; ++y)
      for (int32_t x = 0; x < kSwatchCell; ++x) canvas.set(x0 + x, y0 + y, table.in_order[static_cast<size_t>(i)]);
  }
  return canvas;
}

}  // namespace varnel::decode
