#include "support/pict_render.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "support/byte_cursor.hpp"
#include "support/mac_palettes.hpp"
#include "varnel.h"

namespace varnel_tool {
namespace {

// The version 2 header opcode's data: version, resolution and source frame.
constexpr size_t kHeaderOpDataBytes = 24;
constexpr size_t kRectangleRegionSize = MACBIN_PICT_RECT_REGION_BYTES;
// A colour table flagged as a device's is indexed by position, not by value.
constexpr uint16_t kDeviceColourTableFlag = 0x8000;

constexpr const char *kPackedDataEnds = "packed data ends before the row is complete";

// The library's bounded unpacker over spans; `consumed` and `produced` as
// it gives them.
int32_t unpack_bits(std::span<const uint8_t> packed, std::span<uint8_t> unpacked, size_t &consumed,
                    size_t &produced) {
  int32_t in = 0;
  int32_t out = 0;
  const int32_t result =
      MacBin_UnpackBits(packed.data(), static_cast<int32_t>(packed.size()), unpacked.data(),
                        static_cast<int32_t>(unpacked.size()), &in, &out);
  consumed = static_cast<size_t>(std::max(in, 0));
  produced = static_cast<size_t>(std::max(out, 0));
  return result;
}

// Whether the run that starts `packed` needs more bytes than `packed` holds.
bool run_is_cut_short(std::span<const uint8_t> packed) {
  std::array<uint8_t, 128> scratch;  // room for any single run
  size_t consumed = 0;
  size_t produced = 0;
  return unpack_bits(packed, scratch, consumed, produced) == 0 && produced == 0;
}

// Unpacks one row; null when its packed bytes give exactly the row and
// nothing is left over, else what is wrong with them.  A run that both
// crosses the row's end and lacks its bytes is told as the packed data
// ending early, the first thing wrong with it in reading order.
const char *unpack_row(std::span<const uint8_t> packed, std::span<uint8_t> row) {
  size_t consumed = 0;
  size_t produced = 0;
  switch (unpack_bits(packed, row, consumed, produced)) {
    case 1:
      return consumed == packed.size() ? nullptr : "packed data goes on after the row is complete";
    case 0:
      return kPackedDataEnds;
    case -1:
      return run_is_cut_short(packed.subspan(consumed)) ? kPackedDataEnds
                                                        : "a packed run goes past the end of the row";
  }
  return "packed data is damaged";
}

struct Rect {
  int16_t top = 0;
  int16_t left = 0;
  int16_t bottom = 0;
  int16_t right = 0;
};

bool read_rect(ByteCursor &cursor, Rect &rect) {
  return cursor.read_i16(rect.top) && cursor.read_i16(rect.left) && cursor.read_i16(rect.bottom) &&
         cursor.read_i16(rect.right);
}

struct ScanLine {
  int32_t y;
  std::vector<int32_t> points;  // inversion points, ascending x
};

// A region in inversion-point form, turned into row membership one row at
// a time: each scan line flips membership between pairs of points relative
// to the row above.
class RegionRaster {
 public:
  bool parse(ByteCursor &cursor, std::string &error) {
    uint16_t size = 0;
    if (!cursor.read_u16(size) || size < kRectangleRegionSize) {
      error = "mask region is damaged (size below 10 bytes)";
      return false;
    }
    std::span<const uint8_t> body;
    if (!read_rect(cursor, box_) || !cursor.read_bytes(size - kRectangleRegionSize, body)) {
      error = "mask region runs past the end of the picture";
      return false;
    }
    rectangular_ = size == kRectangleRegionSize;
    ByteCursor lines(body);
    int32_t previous_y = -32769;
    while (!rectangular_) {
      uint16_t y = 0;
      if (!lines.read_u16(y)) {
        error = "mask region is damaged (no end mark)";
        return false;
      }
      if (y == MACBIN_PICT_REGION_END) break;
      const int32_t line_y = static_cast<int16_t>(y);
      if (line_y <= previous_y) {
        error = "mask region is damaged (scan lines out of order)";
        return false;
      }
      previous_y = line_y;
      ScanLine line{line_y, {}};
      for (;;) {
        uint16_t x = 0;
        if (!lines.read_u16(x)) {
          error = "mask region is damaged (unterminated scan line)";
          return false;
        }
        if (x == MACBIN_PICT_REGION_END) break;
        line.points.push_back(static_cast<int16_t>(x));
      }
      scan_lines_.push_back(std::move(line));
    }
    return true;
  }

  void start(const Rect &bounds) {
    origin_x_ = bounds.left;
    origin_y_ = bounds.top;
    width_ = bounds.right - bounds.left;
    inside_.assign(static_cast<size_t>(width_), 0);
    flips_.assign(static_cast<size_t>(width_) + 1, 0);
  }

  // Membership (1 inside) of the row `row` counted from the bounds' top;
  // rows must be asked for in order.
  const std::vector<uint8_t> &row_membership(int32_t row) {
    const int32_t y = origin_y_ + row;
    if (rectangular_) {
      const bool in_rows = y >= box_.top && y < box_.bottom;
      for (int32_t x = 0; x < width_; ++x) {
        const int32_t px = origin_x_ + x;
        inside_[static_cast<size_t>(x)] = in_rows && px >= box_.left && px < box_.right;
      }
      return inside_;
    }
    while (next_line_ < scan_lines_.size() && scan_lines_[next_line_].y <= y) {
      apply(scan_lines_[next_line_]);
      ++next_line_;
    }
    return inside_;
  }

 private:
  void apply(const ScanLine &line) {
    // Points come in pairs; an odd last point flips to the right edge.
    std::fill(flips_.begin(), flips_.end(), 0);
    for (size_t i = 0; i < line.points.size(); i += 2) {
      const int32_t from = std::clamp(line.points[i] - origin_x_, 0, width_);
      const int32_t to =
          i + 1 < line.points.size() ? std::clamp(line.points[i + 1] - origin_x_, 0, width_) : width_;
      if (from >= to) continue;
      flips_[static_cast<size_t>(from)] ^= 1;
      flips_[static_cast<size_t>(to)] ^= 1;
    }
    uint8_t flipping = 0;
    for (size_t x = 0; x < inside_.size(); ++x) {
      flipping ^= flips_[x];
      inside_[x] ^= flipping;
    }
  }

  Rect box_;
  bool rectangular_ = false;
  std::vector<ScanLine> scan_lines_;
  size_t next_line_ = 0;
  int32_t origin_x_ = 0;
  int32_t origin_y_ = 0;
  int32_t width_ = 0;
  std::vector<uint8_t> inside_;
  std::vector<uint8_t> flips_;
};

class PictDecoder {
 public:
  PictDecoder(std::span<const uint8_t> picture, ImageSink &sink, std::string &error)
      : picture_(picture), cursor_(picture), sink_(sink), error_(error) {}

  bool run() {
    Rect frame;
    if (!cursor_.skip(2) || !read_rect(cursor_, frame)) return fail("picture shorter than its header");
    uint16_t opcode = 0;
    uint16_t version = 0;
    if (!cursor_.read_u16(opcode) || opcode != MACBIN_PICT_VERSION || !cursor_.read_u16(version) ||
        version != MACBIN_PICT_VERSION_2)
      return fail("not a version 2 picture");
    for (;;) {
      const size_t opcode_offset = cursor_.position();
      if (!cursor_.read_u16(opcode)) return fail("picture ends without its end opcode");
      switch (opcode) {
        case MACBIN_PICT_NOP:
        case MACBIN_PICT_DEF_HILITE:
          break;
        case MACBIN_PICT_HEADER:
          if (!cursor_.skip(kHeaderOpDataBytes)) return fail("picture header opcode is cut short");
          break;
        case MACBIN_PICT_CLIP_REGION: {
          uint16_t size = 0;
          if (!cursor_.read_u16(size) || size < 2 || !cursor_.skip(size - 2u))
            return fail("clip region is damaged");
          break;
        }
        case MACBIN_PICT_SHORT_COMMENT:
          if (!cursor_.skip(2)) return fail("comment is cut short");
          break;
        case MACBIN_PICT_LONG_COMMENT: {
          uint16_t size = 0;
          if (!cursor_.skip(2) || !cursor_.read_u16(size) || !cursor_.skip(size))
            return fail("comment is cut short");
          break;
        }
        case MACBIN_PICT_PACKBITS_RECT:
        case MACBIN_PICT_PACKBITS_REGION:
          if (drawn_) return fail("picture holds more than one pixel map");
          if (!draw_pixel_map(opcode == MACBIN_PICT_PACKBITS_REGION)) return false;
          drawn_ = true;
          skip_alignment_pad();
          break;
        case MACBIN_PICT_END:
          if (!drawn_) return fail("picture holds no pixel map");
          return true;
        default: {
          char text[80];
          std::snprintf(text, sizeof text, "unsupported picture opcode 0x%04X at offset %zu",
                        static_cast<unsigned>(opcode), opcode_offset);
          return fail(text);
        }
      }
    }
  }

 private:
  bool fail(const std::string &text) {
    error_ = text;
    return false;
  }

  // Opcodes start on even offsets from the picture's start.  A writer that
  // aligned to the position in its own file instead may have left the end
  // opcode on an odd offset without a pad byte: accept that too.
  void skip_alignment_pad() {
    if (cursor_.position() % 2 == 0) return;
    const size_t at = cursor_.position();
    if (picture_.size() - at == 2 && ((uint32_t{picture_[at]} << 8) | picture_[at + 1]) == MACBIN_PICT_END) return;
    cursor_.skip(1);
  }

  bool draw_pixel_map(bool with_region) {
    uint16_t row_bytes_word = 0;
    Rect bounds;
    if (!cursor_.read_u16(row_bytes_word) || !read_rect(cursor_, bounds))
      return fail("pixel map header is cut short");
    if ((row_bytes_word & MACBIN_PICT_PIXEL_MAP_FLAG) == 0)
      return fail("1-bit bitmaps are not supported, only pixel maps");
    const int32_t row_bytes = row_bytes_word & kMaxPictRowBytes;
    uint16_t version = 0, pack_type = 0, pixel_type = 0, pixel_size = 0, component_count = 0,
             component_size = 0;
    uint32_t pack_size = 0, h_res = 0, v_res = 0, plane_bytes = 0, table = 0, reserved = 0;
    if (!cursor_.read_u16(version) || !cursor_.read_u16(pack_type) || !cursor_.read_u32(pack_size) ||
        !cursor_.read_u32(h_res) || !cursor_.read_u32(v_res) || !cursor_.read_u16(pixel_type) ||
        !cursor_.read_u16(pixel_size) || !cursor_.read_u16(component_count) ||
        !cursor_.read_u16(component_size) || !cursor_.read_u32(plane_bytes) ||
        !cursor_.read_u32(table) || !cursor_.read_u32(reserved))
      return fail("pixel map header is cut short");
    if (pixel_type != 0 || pixel_size != 8 || component_count != 1)
      return fail("only 8-bit indexed pixel maps are supported");
    if (pack_type > 1) return fail("unsupported pixel map packing");
    width_ = bounds.right - bounds.left;
    height_ = bounds.bottom - bounds.top;
    if (width_ <= 0 || height_ <= 0) return fail("pixel map bounds are empty");
    if (row_bytes < width_) return fail("pixel map rows are narrower than its bounds");
    if (!read_colour_table()) return false;
    Rect source, destination;
    uint16_t mode = 0;
    if (!read_rect(cursor_, source) || !read_rect(cursor_, destination) || !cursor_.read_u16(mode))
      return fail("pixel map rectangles are cut short");
    if (with_region) {
      if (!region_.parse(cursor_, error_)) return false;
      region_.start(bounds);
    }
    return draw_rows(row_bytes, pack_type == 1, with_region);
  }

  bool read_colour_table() {
    uint32_t seed = 0;
    uint16_t flags = 0, size = 0;
    if (!cursor_.read_u32(seed) || !cursor_.read_u16(flags) || !cursor_.read_u16(size))
      return fail("colour table is cut short");
    const size_t entries = size == 0xFFFF ? 0 : static_cast<size_t>(size) + 1;
    if (entries > 256) return fail("colour table has more than 256 entries");
    palette_.fill(Rgb{0, 0, 0});
    for (size_t i = 0; i < entries; ++i) {
      uint16_t value = 0, red = 0, green = 0, blue = 0;
      if (!cursor_.read_u16(value) || !cursor_.read_u16(red) || !cursor_.read_u16(green) ||
          !cursor_.read_u16(blue))
        return fail("colour table is cut short");
      const size_t index = (flags & kDeviceColourTableFlag) != 0 ? i : value;
      if (index < palette_.size())
        palette_[index] = Rgb{static_cast<uint8_t>(red >> 8), static_cast<uint8_t>(green >> 8),
                              static_cast<uint8_t>(blue >> 8)};
    }
    return true;
  }

  bool draw_rows(int32_t row_bytes, bool unpacked, bool with_region) {
    const int32_t channels = with_region ? 4 : 3;
    if (!sink_.start(width_, height_, channels)) return fail("cannot write the image");
    std::vector<uint8_t> indices(static_cast<size_t>(row_bytes));
    std::vector<uint8_t> pixels(static_cast<size_t>(width_) * static_cast<size_t>(channels));
    for (int32_t y = 0; y < height_; ++y) {
      if (unpacked || row_bytes < MACBIN_PICT_MIN_PACKED_ROW_BYTES) {
        std::span<const uint8_t> raw;
        if (!cursor_.read_bytes(indices.size(), raw)) return fail(row_error(y, "pixel data is cut short"));
        std::copy(raw.begin(), raw.end(), indices.begin());
      } else {
        uint16_t count = 0;
        if (row_bytes > MACBIN_PICT_ONE_BYTE_COUNT_LIMIT) {
          if (!cursor_.read_u16(count)) return fail(row_error(y, "pixel data is cut short"));
        } else {
          uint8_t short_count = 0;
          if (!cursor_.read_u8(short_count)) return fail(row_error(y, "pixel data is cut short"));
          count = short_count;
        }
        std::span<const uint8_t> packed;
        if (!cursor_.read_bytes(count, packed)) return fail(row_error(y, "pixel data is cut short"));
        if (const char *damage = unpack_row(packed, indices)) return fail(row_error(y, damage));
      }
      const std::vector<uint8_t> *inside = with_region ? &region_.row_membership(y) : nullptr;
      for (size_t x = 0; x < static_cast<size_t>(width_); ++x) {
        const Rgb colour = palette_[indices[x]];
        uint8_t *pixel = &pixels[x * static_cast<size_t>(channels)];
        pixel[0] = colour.red;
        pixel[1] = colour.green;
        pixel[2] = colour.blue;
        if (inside != nullptr) pixel[3] = (*inside)[x] != 0 ? 255 : 0;
      }
      if (!sink_.write_row(pixels)) return fail("cannot write the image");
    }
    return true;
  }

  static std::string row_error(int32_t row, const char *text) {
    return "row " + std::to_string(row) + ": " + text;
  }

  std::span<const uint8_t> picture_;
  ByteCursor cursor_;
  ImageSink &sink_;
  std::string &error_;
  bool drawn_ = false;
  int32_t width_ = 0;
  int32_t height_ = 0;
  std::array<Rgb, 256> palette_{};
  RegionRaster region_;
};

}  // namespace

bool render_pict(std::span<const uint8_t> picture, ImageSink &sink, std::string &error) {
  PictDecoder decoder(picture, sink, error);
  return decoder.run();
}

}  // namespace varnel_tool
