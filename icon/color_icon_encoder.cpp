// Colour icons (cicn) from RGBA pixels: the records, the mask and the 1-bit
// icon from alpha and luminance, a colour table of the colours the pixels
// inside the mask use (in the order they first appear, rows top first), and
// the pixel rows at the smallest depth (1, 2, 4 or 8 bits) that indexes
// that table.  Pixels outside the mask take entry 0.  Rows are unpacked and
// each row is an even number of bytes, as QuickDraw's bit maps want.
#include <algorithm>
#include <map>
#include <string>

#include "format/big_endian.hpp"
#include "format/color_icon.hpp"
#include "icon/rgba_encoding.hpp"

namespace varnel::icon {
namespace {

constexpr size_t kMaxColours = 256;

size_t even_row_bytes(int32_t width, uint32_t bits) {
  const size_t bytes = (static_cast<size_t>(width) * bits + 7) / 8;
  return (bytes + 1) & ~size_t{1};
}

uint32_t depth_for(size_t colours) {
  if (colours <= 2) return 1;
  if (colours <= 4) return 2;
  if (colours <= 16) return 4;
  return 8;
}

uint32_t packed_rgb(format::Rgb colour) {
  return (uint32_t{colour.red} << 16) | (uint32_t{colour.green} << 8) | colour.blue;
}

// Appends big-endian fields.
class Fields {
 public:
  explicit Fields(std::vector<uint8_t> &out) : out_(out) {}
  Fields &u16(uint32_t value) {
    uint8_t bytes[2];
    format::put_be16(bytes, value);
    out_.insert(out_.end(), bytes, bytes + 2);
    return *this;
  }
  Fields &u32(uint32_t value) {
    uint8_t bytes[4];
    format::put_be32(bytes, value);
    out_.insert(out_.end(), bytes, bytes + 4);
    return *this;
  }
  Fields &bounds(int32_t width, int32_t height) {
    return u16(0).u16(0).u16(static_cast<uint32_t>(height)).u16(static_cast<uint32_t>(width));
  }

 private:
  std::vector<uint8_t> &out_;
};

}  // namespace

std::vector<uint8_t> encode_color_icon(const RgbaImage &image) {
  const int32_t width = image.width(), height = image.height();
  if (width > kMaxColorIconSide || height > kMaxColorIconSide)
    throw EncodeError("cicn of " + std::to_string(width) + " x " + std::to_string(height) +
                      " pixels: at most 256 x 256");

  // The table: each colour of a pixel inside the mask, once.
  std::vector<format::Rgb> table;
  std::map<uint32_t, uint8_t> index_of;
  std::vector<uint8_t> indices(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      if (!image.opaque(x, y)) continue;
      const format::Rgb colour = image.colour(x, y);
      auto [entry, added] = index_of.try_emplace(packed_rgb(colour), static_cast<uint8_t>(table.size()));
      if (added) {
        if (table.size() == kMaxColours) throw EncodeError("cicn with more than 256 colours");
        table.push_back(colour);
      }
      indices[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = entry->second;
    }
  // An icon with no pixel inside its mask still gets a table to index.
  if (table.empty()) table.push_back(format::Rgb{0xFF, 0xFF, 0xFF});

  const uint32_t depth = depth_for(table.size());
  const size_t pixel_row_bytes = even_row_bytes(width, depth);
  const size_t bit_row_bytes = even_row_bytes(width, 1);
  const auto rows = static_cast<size_t>(height);

  std::vector<uint8_t> out;
  out.reserve(format::kColorIconHeaderBytes + 2 * bit_row_bytes * rows + format::kColorTableHeaderBytes +
              table.size() * format::kColorTableEntryBytes + pixel_row_bytes * rows);
  Fields fields(out);
  // Pixel map.
  fields.u32(0).u16(format::kPixelMapRowBytesFlag | static_cast<uint32_t>(pixel_row_bytes)).bounds(width, height);
  fields.u16(0).u16(0).u32(0);  // version, packing type (rows unpacked), packed size
  fields.u32(format::kResolution72Dpi).u32(format::kResolution72Dpi);
  fields.u16(0).u16(depth).u16(1).u16(depth);  // indexed, pixel size, one component of that size
  fields.u32(0).u32(0).u32(0);                 // plane bytes, colour table handle, reserved
  // Mask and 1-bit bit maps, the icon data handle.
  fields.u32(0).u16(static_cast<uint32_t>(bit_row_bytes)).bounds(width, height);
  fields.u32(0).u16(static_cast<uint32_t>(bit_row_bytes)).bounds(width, height);
  fields.u32(0);

  std::vector<uint8_t> row(static_cast<size_t>(width));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) row[static_cast<size_t>(x)] = image.opaque(x, y) ? 1 : 0;
    pack_row(row, 1, out, bit_row_bytes);
  }
  for (int32_t y = 0; y < height; ++y) {
    // The 1-bit icon is the colours' black and white: it needs no exact match.
    for (int32_t x = 0; x < width; ++x) row[static_cast<size_t>(x)] = black_bit(image, x, y, ColourMatch::kNearest);
    pack_row(row, 1, out, bit_row_bytes);
  }
  fields.u32(0).u16(0).u16(static_cast<uint32_t>(table.size() - 1));  // seed, flags, entries - 1
  for (size_t i = 0; i < table.size(); ++i)
    fields.u16(static_cast<uint32_t>(i))
        .u16(table[i].red * 0x0101U)
        .u16(table[i].green * 0x0101U)
        .u16(table[i].blue * 0x0101U);
  for (size_t y = 0; y < rows; ++y)
    pack_row(std::span<const uint8_t>(indices).subspan(y * static_cast<size_t>(width), static_cast<size_t>(width)),
             depth, out, pixel_row_bytes);
  return out;
}

}  // namespace varnel::icon
