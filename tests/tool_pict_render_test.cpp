// The tool's PICT renderer on small hand-made pictures: version 2, one 8-bit
// indexed pixel map, unpacked or PackBits-packed rows, colour tables by
// value and by position, mask regions; and damaged pictures, each refused
// with its own text and without a read outside the bytes given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/image_sink.hpp"
#include "support/pict_render.hpp"
#include "support/support.hpp"

namespace {

using vt::Bytes;
using vt::concat;
using vt::hex;

// Keeps what the renderer sends.
class RecordingSink final : public varnel_tool::ImageSink {
 public:
  bool start(int32_t width, int32_t height, int32_t channels) override {
    width_ = width;
    height_ = height;
    channels_ = channels;
    return true;
  }
  bool write_row(std::span<const uint8_t> row) override {
    rows.emplace_back(row.begin(), row.end());
    return true;
  }
  std::string shape() const {
    return std::to_string(width_) + "x" + std::to_string(height_) + "x" + std::to_string(channels_);
  }
  std::vector<Bytes> rows;

 private:
  int32_t width_ = 0, height_ = 0, channels_ = 0;
};

Bytes times(const Bytes &unit, size_t count) {
  Bytes out;
  for (size_t i = 0; i < count; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

Bytes be16(uint32_t value) { return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}; }

Bytes rect(int top, int left, int bottom, int right) {
  return concat({be16(static_cast<uint32_t>(top)), be16(static_cast<uint32_t>(left)),
                 be16(static_cast<uint32_t>(bottom)), be16(static_cast<uint32_t>(right))});
}

// A version 2 picture: size word and frame, the version and header opcodes
// (40 bytes, so `body` starts on an even offset), `body`, the end opcode.
Bytes picture(const Bytes &body, const Bytes &end = hex("00FF")) {
  return concat({hex("0000 | size"), rect(0, 0, 2, 4), hex("0011 02FF | version 2"),
                 hex("0C00 FFFE 0000 00480000 00480000 0000 0000 0002 0004 00000000 | header"), body, end});
}

// The 46 bytes of a pixel map header after its opcode.
Bytes pixel_map(uint32_t row_bytes_word, int width, int height, uint32_t pack_type = 0,
                uint32_t pixel_size = 8) {
  return concat({be16(row_bytes_word), rect(0, 0, height, width), hex("0000 | version"), be16(pack_type),
                 hex("00000000 00480000 00480000 0000 | pack size, resolution, pixel type"), be16(pixel_size),
                 hex("0001 0008 00000000 00000000 00000000")});
}

// A colour table: `entries` are (value, "RRGGBB"), each component stored
// as 16 bits.
Bytes colour_table(uint32_t flags, const std::vector<std::pair<uint32_t, std::string>> &entries) {
  Bytes out = concat({hex("00000000"), be16(flags), be16(static_cast<uint32_t>(entries.size() - 1))});
  for (const auto &[value, rgb] : entries) {
    const Bytes colour = hex(rgb);
    out = concat({out, be16(value)});
    for (uint8_t component : colour) out = concat({out, {component, component}});
  }
  return out;
}

// Source and destination rectangles and the transfer mode.
Bytes rectangles(int width, int height) {
  return concat({rect(0, 0, height, width), rect(0, 0, height, width), hex("0000")});
}

Bytes red_blue() { return colour_table(0, {{0, "FF0000"}, {1, "0000FF"}}); }

// 4 x 2, rows of 4 bytes stored unpacked.
Bytes unpacked_4x2(const Bytes &pixels = hex("00 01 00 01  01 01 00 00"), const Bytes &end = hex("00FF")) {
  return picture(concat({hex("0098"), pixel_map(0x8004, 4, 2), red_blue(), rectangles(4, 2), pixels}), end);
}

// 8 x 2, rows of 8 bytes packed, each after a one-byte count; index i is i
// times 0x11 grey.
Bytes packed_8x2(const Bytes &rows) {
  std::vector<std::pair<uint32_t, std::string>> greys;
  for (uint32_t i = 0; i < 8; ++i) greys.emplace_back(i, std::string(6, "01234567"[i]));
  return picture(
      concat({hex("0098"), pixel_map(0x8008, 8, 2), colour_table(0, greys), rectangles(8, 2), rows}));
}

std::string render(const Bytes &pict, RecordingSink &sink) {
  std::string error;
  const bool ok = varnel_tool::render_pict(pict, sink, error);
  EXPECT_EQ(ok, error.empty()) << error;
  return error;
}

std::vector<std::string> rows_as_hex(const RecordingSink &sink) {
  std::vector<std::string> out;
  for (const Bytes &row : sink.rows) out.push_back(vt::to_hex(row));
  return out;
}

std::vector<std::string> hex_rows(std::initializer_list<const char *> rows) {
  std::vector<std::string> out;
  for (const char *row : rows) out.push_back(vt::to_hex(hex(row)));
  return out;
}

struct GoodCase {
  const char *what;
  Bytes pict;
  const char *shape;
  std::vector<std::string> rows;
};

TEST(ToolPictRender, PicturesItReads) {
  const Bytes opaque_rows = hex("00 01 00 01  01 01 00 00");
  const GoodCase cases[] = {
      {"unpacked rows, colours by value", unpacked_4x2(), "4x2x3",
       hex_rows({"FF0000 0000FF FF0000 0000FF", "0000FF 0000FF FF0000 FF0000"})},
      {"packed rows: a literal, then a no-op and a repeat",
       packed_8x2(hex("09 07 00 01 02 03 04 05 06 07   03 80 F9 03 | count, run(s), per row")), "8x2x3",
       hex_rows({"000000 111111 222222 333333 444444 555555 666666 777777",
                 "333333 333333 333333 333333 333333 333333 333333 333333"})},
      {"a device's colour table is indexed by position",
       picture(
           concat({hex("0098"), pixel_map(0x8002, 2, 1), colour_table(0x8000, {{9, "ABCDEF"}, {5, "123456"}}),
                   rectangles(2, 1), hex("01 00")})),
       "2x1x3", hex_rows({"123456 ABCDEF"})},
      {"comments, a clip region and no-ops before the pixel map",
       picture(
           concat({hex("00A0 0064  00A1 0064 0004 DEADBEEF  0001 000A 0000 0000 0002 0004  0000 001E 0098"),
                   pixel_map(0x8004, 4, 2), red_blue(), rectangles(4, 2), opaque_rows})),
       "4x2x3", hex_rows({"FF0000 0000FF FF0000 0000FF", "0000FF 0000FF FF0000 FF0000"})},
      {"a rectangular mask region gives the alpha",
       picture(concat({hex("0099"), pixel_map(0x8004, 4, 2), red_blue(), rectangles(4, 2),
                       hex("000A 0000 0001 0002 0003 | columns 1 and 2"), opaque_rows})),
       "4x2x4", hex_rows({"FF000000 0000FFFF FF0000FF 0000FF00", "0000FF00 0000FFFF FF0000FF FF000000"})},
      {"a region of inversion points, row by row",
       picture(concat({hex("0099"), pixel_map(0x8004, 4, 2), red_blue(), rectangles(4, 2),
                       hex("0024 0000 0000 0002 0004\n"
                           "0000 0000 0002 7FFF | row 0: columns 0 and 1\n"
                           "0001 0000 0004 7FFF | row 1: flips all four\n"
                           "0002 0002 0004 7FFF  7FFF"),
                       opaque_rows})),
       "4x2x4", hex_rows({"FF0000FF 0000FFFF FF000000 0000FF00", "0000FF00 0000FF00 FF0000FF FF0000FF"})},
      {"rows past 250 bytes carry a two-byte count",
       picture(concat({hex("0098"), pixel_map(0x80FB, 251, 1), colour_table(0, {{5, "123456"}}),
                       rectangles(251, 1), hex("0004 81 05 86 05 | 128 + 123 bytes")})),
       "251x1x3",
       {vt::to_hex(times(hex("123456"), 251))}},
      {"a pad byte after pixel data ending on an odd offset",
       picture(concat({hex("0098"), pixel_map(0x8003, 3, 1), red_blue(), rectangles(3, 1),
                       hex("01 00 01 00 | and the pad")})),
       "3x1x3", hex_rows({"0000FF FF0000 0000FF"})},
      {"the end opcode right after an odd end, as some writers leave it",
       picture(concat({hex("0098"), pixel_map(0x8003, 3, 1), red_blue(), rectangles(3, 1), hex("01 00 01")})),
       "3x1x3", hex_rows({"0000FF FF0000 0000FF"})},
  };
  for (const GoodCase &c : cases) {
    SCOPED_TRACE(c.what);
    RecordingSink sink;
    ASSERT_EQ(render(c.pict, sink), "");
    EXPECT_EQ(sink.shape(), c.shape);
    EXPECT_EQ(rows_as_hex(sink), c.rows);
  }
}

struct BadCase {
  const char *what;
  Bytes pict;
  std::string error;
  size_t rows_sent;
};

TEST(ToolPictRender, DamagedPicturesSayWhat) {
  const Bytes good = unpacked_4x2();
  const Bytes region_head = concat({hex("0099"), pixel_map(0x8004, 4, 2), red_blue(), rectangles(4, 2)});
  const BadCase cases[] = {
      {"nothing", {}, "picture shorter than its header", 0},
      {"a version 1 picture", hex("0010 0000 0000 0001 0001 1101 A000 00FF"), "not a version 2 picture", 0},
      {"no end opcode", Bytes(good.begin(), good.end() - 2), "picture ends without its end opcode", 2},
      {"an opcode it does not know", picture(hex("0030")), "unsupported picture opcode 0x0030 at offset 40",
       0},
      {"no pixel map", picture({}), "picture holds no pixel map", 0},
      {"two pixel maps",
       picture(concat(
           {hex("0098"), pixel_map(0x8004, 4, 2), red_blue(), rectangles(4, 2), Bytes(8, 0), hex("0098")})),
       "picture holds more than one pixel map", 2},
      {"a bitmap", picture(concat({hex("0098"), pixel_map(0x0004, 4, 2)})),
       "1-bit bitmaps are not supported, only pixel maps", 0},
      {"4 bits a pixel", picture(concat({hex("0098"), pixel_map(0x8004, 4, 2, 0, 4)})),
       "only 8-bit indexed pixel maps are supported", 0},
      {"packing type 2", picture(concat({hex("0098"), pixel_map(0x8004, 4, 2, 2)})),
       "unsupported pixel map packing", 0},
      {"empty bounds", picture(concat({hex("0098"), pixel_map(0x8004, 0, 2)})), "pixel map bounds are empty",
       0},
      {"rows narrower than the bounds", picture(concat({hex("0098"), pixel_map(0x8002, 4, 2)})),
       "pixel map rows are narrower than its bounds", 0},
      {"a colour table of 257 entries",
       picture(concat({hex("0098"), pixel_map(0x8004, 4, 2), hex("00000000 0000 0100")})),
       "colour table has more than 256 entries", 0},
      {"a colour table cut short",
       picture(concat({hex("0098"), pixel_map(0x8004, 4, 2), hex("00000000 0000 0001 0000")})),
       "colour table is cut short", 0},
      {"a header opcode cut short", concat({vt::slice(good, 0, 14), hex("0C00 FFFE")}),
       "picture header opcode is cut short", 0},
      {"a clip region below its own size", picture(hex("0001 0001")), "clip region is damaged", 0},
      {"a long comment past the end", picture(hex("00A1 0064 00FF"), {}), "comment is cut short", 0},
      {"a region below 10 bytes", picture(concat({region_head, hex("0008 0000 0000 0002 0004")})),
       "mask region is damaged (size below 10 bytes)", 0},
      {"a region past the picture", picture(concat({region_head, hex("0040 0000 0000 0002 0004")}), {}),
       "mask region runs past the end of the picture", 0},
      {"scan lines out of order",
       picture(concat({region_head, hex("0018 0000 0000 0002 0004  0001 0000 7FFF  0000 0000 7FFF  7FFF")})),
       "mask region is damaged (scan lines out of order)", 0},
      {"a scan line without its end",
       picture(concat({region_head, hex("000E 0000 0000 0002 0004  0000 0000")})),
       "mask region is damaged (unterminated scan line)", 0},
      {"a region without its end mark",
       picture(concat({region_head, hex("0010 0000 0000 0002 0004  0000 0000 7FFF")})),
       "mask region is damaged (no end mark)", 0},
      {"unpacked rows cut short", unpacked_4x2(hex("00 01 00 01  01 01"), {}),
       "row 1: pixel data is cut short", 1},
      {"a count past the picture", packed_8x2(hex("40 07 00")), "row 0: pixel data is cut short", 0},
      {"a repeat run past the row", packed_8x2(hex("02 F8 03 | 9 bytes")),
       "row 0: a packed run goes past the end of the row", 0},
      {"a literal past the row", packed_8x2(hex("0A 08 00 01 02 03 04 05 06 07 00 | 9 bytes")),
       "row 0: a packed run goes past the end of the row", 0},
      {"packed bytes that end early",
       packed_8x2(hex("03 FC 03 00 | 5 bytes, then a literal without its byte")),
       "row 0: packed data ends before the row is complete", 0},
      {"a run both past the row and past its bytes", packed_8x2(hex("02 7F 00 | 128 bytes, 1 of them there")),
       "row 0: packed data ends before the row is complete", 0},
      {"packed bytes left after the row",
       packed_8x2(hex("02 F9 01   04 F9 02 80 80 | two no-ops after the second row")),
       "row 1: packed data goes on after the row is complete", 1},
  };
  for (const BadCase &c : cases) {
    SCOPED_TRACE(c.what);
    RecordingSink sink;
    EXPECT_EQ(render(c.pict, sink), c.error);
    EXPECT_EQ(sink.rows.size(), c.rows_sent);
  }
}

// A sink that refuses stops the picture with an error.
TEST(ToolPictRender, RefusingSinkStopsTheRendering) {
  class Refusing final : public varnel_tool::ImageSink {
   public:
    bool start(int32_t, int32_t, int32_t) override { return true; }
    bool write_row(std::span<const uint8_t>) override { return false; }
  } sink;
  std::string error;
  EXPECT_FALSE(varnel_tool::render_pict(unpacked_4x2(), sink, error));
  EXPECT_EQ(error, "cannot write the image");
}

}  // namespace
