// Colour icons (cicn), laid out as format/color_icon.hpp says.  Pixels
// outside the mask are transparent; a mask of no rows makes the icon opaque.
#include <vector>

#include "decode/internal.hpp"
#include "format/color_icon.hpp"

namespace varnel::decode {
namespace {

constexpr size_t kHeaderBytes = format::kColorIconHeaderBytes;

}  // namespace

Canvas decode_color_icon(std::span<const uint8_t> data) {
  Reader reader(data, "the cicn data");
  reader.need(kHeaderBytes);
  reader.skip(4);
  const PixelMap map = read_pixel_map(reader, true);
  check_pixel_map(map, "cicn pixel map");
  reader.skip(4);
  const PixelMap mask_map = read_pixel_map(reader, false);
  reader.skip(4);
  const PixelMap bit_map = read_pixel_map(reader, false);
  reader.seek(kHeaderBytes);

  const int32_t mask_height = std::max(0, mask_map.bounds.height());
  const size_t mask_bytes = size_t{mask_map.row_bytes} * static_cast<size_t>(mask_height);
  const std::span<const uint8_t> mask = reader.bytes(mask_bytes);
  reader.skip(size_t{bit_map.row_bytes} * static_cast<size_t>(std::max(0, bit_map.bounds.height())));
  ColorTable table;
  const bool direct = map.pixel_type != 0;
  if (!direct) table = read_color_table(reader);

  Canvas canvas(map.bounds.width(), map.bounds.height(), kClear);
  PixelRows rows(map, direct ? nullptr : &table, false, kBlack, kWhite);
  std::vector<Rgba> row(static_cast<size_t>(map.bounds.width()));
  const bool masked = mask_bytes > 0;
  const auto mask_width = static_cast<int32_t>(mask_map.row_bytes * 8);
  for (int32_t y = 0; y < canvas.height(); ++y) {
    rows.next(reader, row);
    for (int32_t x = 0; x < canvas.width(); ++x) {
      if (masked) {
        if (y >= mask_height || x >= mask_width) continue;
        const std::span<const uint8_t> mask_row =
            mask.subspan(static_cast<size_t>(y) * mask_map.row_bytes, mask_map.row_bytes);
        if (bit_at(mask_row, static_cast<size_t>(x)) == 0) continue;
      }
      canvas.set(x, y, row[static_cast<size_t>(x)]);
    }
  }
  return canvas;
}

}  // namespace varnel::decode
