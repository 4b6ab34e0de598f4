// Pixel maps and bit maps: their description, and their rows turned into
// colours.  Rows as pictures store them:
//   row bytes < 8            every row unpacked, row bytes long;
//   row bytes 8 to 250       a count byte, then that many PackBits bytes;
//   row bytes > 250          a count word, then the packed bytes.
// Some writers choose the count's size by another limit (netpbm's ppmtopict
// takes a word from 202 pixels a row; ImageMagick a byte for 32-bit rows of
// up to 83 pixels).  So where row bytes are over 200, the first row decides:
// when the count that the row bytes call for does not give a row that
// unpacks exactly, but the other size does, the map's rows use the other.
// Direct pixel maps choose by their packing type:
//   1   unpacked rows (also for any map narrower than 8 row bytes);
//   2   32 bits: 3 bytes (red, green, blue) a pixel, unpacked, no counts;
//   3   16 bits: counted rows of PackBits over 16-bit words (0 means this);
//   4   32 bits: counted rows of PackBits over component planes, the row's
//       reds, then greens, then blues (an alpha plane first when there are
//       4 components) (0 means this).
#include <algorithm>

#include "decode/internal.hpp"
#include "format/packbits.hpp"

namespace varnel::decode {
namespace {

constexpr uint32_t kRowBytesFlags = 0xC000;  // pixel map flag and a reserved bit
constexpr uint32_t kPixelMapFlag = 0x8000;
constexpr uint32_t kReservedRowBytesBit = 0x4000;
constexpr uint32_t kDirectPixelType = 16;
constexpr uint32_t kMinPackedRowBytes = 8;
constexpr uint32_t kOneByteCountLimit = 250;
constexpr uint32_t kCountSizeDoubtLimit = 200;  // rows narrower than this: no writer uses a word

// PackBits over 16-bit words, into `out` (whole words); what the source
// does not give stays as it was.
void unpack_words(std::span<const uint8_t> packed, std::span<uint8_t> out) {
  size_t in = 0, produced = 0;
  while (in < packed.size() && produced + 2 <= out.size()) {
    const auto header = static_cast<int8_t>(packed[in++]);
    if (header >= 0) {
      size_t words = static_cast<size_t>(header) + 1;
      while (words-- > 0 && in + 2 <= packed.size() && produced + 2 <= out.size()) {
        out[produced++] = packed[in++];
        out[produced++] = packed[in++];
      }
    } else if (header != -128) {
      if (in + 2 > packed.size()) break;
      const uint8_t high = packed[in], low = packed[in + 1];
      in += 2;
      for (int n = 1 - header; n > 0 && produced + 2 <= out.size(); --n) {
        out[produced++] = high;
        out[produced++] = low;
      }
    }
  }
}

// Whether the bytes at the start of `rest` are a count of `count_size`
// bytes followed by that many PackBits bytes that unpack to exactly
// `length` bytes, using them all.
bool row_fits(std::span<const uint8_t> rest, size_t count_size, size_t length) {
  if (rest.size() < count_size) return false;
  const size_t count = count_size == 2 ? (size_t{rest[0]} << 8) | rest[1] : rest[0];
  if (rest.size() - count_size < count) return false;
  std::vector<uint8_t> row(length);
  const format::Unpacked unpacked = format::unpack_bits(rest.subspan(count_size, count), row);
  return unpacked.status == format::UnpackStatus::kComplete && unpacked.consumed == count;
}

Rgba from_16(uint32_t value) {
  // x RRRRR GGGGG BBBBB; 5 bits widened by repeating their top bits.
  const auto widen = [](uint32_t five) { return static_cast<uint8_t>((five << 3) | (five >> 2)); };
  return Rgba{widen((value >> 10) & 31), widen((value >> 5) & 31), widen(value & 31), 0xFF};
}

}  // namespace

PixelMap read_pixel_map(Reader &reader, bool force_pixel_map) {
  PixelMap map;
  const uint32_t row_bytes = reader.u16();
  map.is_pixel_map = force_pixel_map || (row_bytes & kPixelMapFlag) != 0;
  map.row_bytes = row_bytes & ~kRowBytesFlags;
  map.bounds = read_rect(reader);
  if (!map.is_pixel_map) return map;
  reader.skip(2);  // pmVersion
  map.pack_type = reader.u16();
  reader.skip(4 + 4 + 4);  // packSize, hRes, vRes
  map.pixel_type = reader.u16();
  map.pixel_size = reader.u16();
  map.component_count = reader.u16();
  map.component_size = reader.u16();
  reader.skip(4);  // planeBytes
  map.table_offset = reader.u32();
  reader.skip(4);  // pmReserved
  // A 32-bit row 4096 pixels wide takes 16384 bytes, one more than the
  // field holds; common writers store it anyway, spilling into the reserved
  // bit.  Where the count without that bit cannot hold a row, the bit is
  // taken as part of the count.
  const uint64_t row_bits = uint64_t{static_cast<uint32_t>(std::max(map.bounds.width(), 0))} * map.pixel_size;
  if ((row_bytes & kReservedRowBytesBit) != 0 && uint64_t{map.row_bytes} * 8 < row_bits)
    map.row_bytes |= kReservedRowBytesBit;
  return map;
}

void check_pixel_map(const PixelMap &map, const std::string &what) {
  const int32_t width = map.bounds.width(), height = map.bounds.height();
  if (width <= 0 || height <= 0 || width > kMaxSidePixels || height > kMaxSidePixels)
    throw DecodeError(what + ": bounds " + std::to_string(width) + " x " + std::to_string(height));
  const uint32_t size = map.pixel_size;
  if (map.pixel_type == kDirectPixelType) {
    if (size != 16 && size != 32)
      throw DecodeError(what + ": direct pixels of " + std::to_string(size) + " bits");
    if (size == 32 && map.component_count != 3 && map.component_count != 4)
      throw DecodeError(what + ": " + std::to_string(map.component_count) + " components");
    // Dropping the pad byte (2) and packing by component (4) are for 32-bit
    // pixels, packing by pixel (3) for 16-bit ones; the row buffer is sized
    // by those rules.
    const uint32_t pack = map.pack_type;
    if (pack > 1 && (size == 32 ? pack != 2 && pack != 4 : pack != 3))
      throw DecodeError(what + ": packing type " + std::to_string(pack) + " for " + std::to_string(size) +
                        "-bit pixels");
  } else if (map.pixel_type != 0 || (size != 1 && size != 2 && size != 4 && size != 8)) {
    throw DecodeError(what + ": pixels of type " + std::to_string(map.pixel_type) + " and " +
                      std::to_string(size) + " bits");
  }
  if (uint64_t{map.row_bytes} * 8 < uint64_t{static_cast<uint32_t>(width)} * size)
    throw DecodeError(what + ": row bytes " + std::to_string(map.row_bytes) + " too few for " +
                      std::to_string(width) + " pixels");
}

DetachedPixelMap read_detached_pixel_map(Reader &reader, uint32_t map_offset, const std::string &what) {
  DetachedPixelMap detached;
  reader.seek(map_offset);
  reader.skip(4);  // base address
  detached.map = read_pixel_map(reader, true);
  check_pixel_map(detached.map, what);
  if (detached.map.pixel_type == 0) {
    reader.seek(detached.map.table_offset);
    detached.table = read_color_table(reader);
  }
  return detached;
}

PixelRows::PixelRows(const PixelMap &map, const ColorTable *table, bool packed, Rgba foreground,
                     Rgba background)
    : map_(map), table_(table), packed_(packed), foreground_(foreground), background_(background) {
  unpacked_.resize(std::max<size_t>(map.row_bytes, static_cast<size_t>(map.bounds.width()) * 4));
}

void PixelRows::next(Reader &reader, std::span<Rgba> row) {
  const auto width = static_cast<size_t>(map_.bounds.width());
  const uint32_t row_bytes = map_.row_bytes;
  const bool direct = map_.pixel_type == kDirectPixelType;
  uint32_t pack_type = map_.pack_type;
  if (direct && pack_type == 0) pack_type = map_.pixel_size == 16 ? 3 : 4;
  if (!direct) pack_type = 0;
  if (!packed_ || row_bytes < kMinPackedRowBytes) pack_type = 1;

  std::span<uint8_t> out(unpacked_.data(), row_bytes);
  if (pack_type == 1) {
    const std::span<const uint8_t> raw = reader.bytes(row_bytes);
    std::copy(raw.begin(), raw.end(), out.begin());
  } else if (pack_type == 2) {
    out = std::span<uint8_t>(unpacked_.data(), width * 3);
    const std::span<const uint8_t> raw = reader.bytes(width * 3);
    std::copy(raw.begin(), raw.end(), out.begin());
  } else {
    if (pack_type == 4) out = std::span<uint8_t>(unpacked_.data(), width * map_.component_count);
    if (!counts_decided_) {
      counts_decided_ = true;
      word_counts_ = row_bytes > kOneByteCountLimit;
      // Rows packed over 16-bit words keep the rule: no writer is known to
      // stray from it there.
      if (row_bytes > kCountSizeDoubtLimit && pack_type != 3) {
        const std::span<const uint8_t> rest = reader.all().subspan(reader.position());
        const size_t standard = word_counts_ ? 2 : 1, other = word_counts_ ? 1 : 2;
        if (!row_fits(rest, standard, out.size()) && row_fits(rest, other, out.size()))
          word_counts_ = !word_counts_;
      }
    }
    const size_t count = word_counts_ ? reader.u16() : reader.u8();
    const std::span<const uint8_t> packed_row = reader.bytes(count);
    // A row that unpacks short keeps zeros; one that runs long is cut: the
    // count alone says where the next row starts.
    std::fill(out.begin(), out.end(), 0);
    if (pack_type == 3)
      unpack_words(packed_row, out);
    else
      format::unpack_bits(packed_row, out);
  }

  const std::span<const uint8_t> bytes(out.data(), out.size());
  if (!direct) {
    const uint32_t bits = map_.pixel_size;
    if (!map_.is_pixel_map) {
      for (size_t x = 0; x < width; ++x) row[x] = bit_at(bytes, x) ? foreground_ : background_;
      return;
    }
    const std::span<const Rgba> standard = system_palette(static_cast<int32_t>(bits));
    for (size_t x = 0; x < width; ++x) {
      const uint32_t index = index_at(bytes, x, bits);
      row[x] = table_ != nullptr ? table_->colours[index] : standard[index];
    }
  } else if (map_.pixel_size == 16) {
    for (size_t x = 0; x < width; ++x) row[x] = from_16((uint32_t{bytes[2 * x]} << 8) | bytes[2 * x + 1]);
  } else if (pack_type == 4) {
    const size_t first = map_.component_count == 4 ? width : 0;  // skip the alpha plane
    for (size_t x = 0; x < width; ++x)
      row[x] = Rgba{bytes[first + x], bytes[first + width + x], bytes[first + 2 * width + x], 0xFF};
  } else if (pack_type == 2) {
    for (size_t x = 0; x < width; ++x)
      row[x] = Rgba{bytes[3 * x], bytes[3 * x + 1], bytes[3 * x + 2], 0xFF};
  } else {
    for (size_t x = 0; x < width; ++x)
      row[x] = Rgba{bytes[4 * x + 1], bytes[4 * x + 2], bytes[4 * x + 3], 0xFF};
  }
}

}  // namespace varnel::decode
