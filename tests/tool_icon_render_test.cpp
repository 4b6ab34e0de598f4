// The tool's icon renderer: each icon type's size and bit layout, the
// system palettes, masks from the 1-bit icon, and data of the wrong size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/icon_render.hpp"
#include "support/image_sink.hpp"
#include "support/support.hpp"

namespace {

using vt::Bytes;
using vt::hex;

class RecordingSink final : public varnel_tool::ImageSink {
 public:
  bool start(int32_t width, int32_t height, int32_t channels) override {
    shape = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(channels);
    return true;
  }
  bool write_row(std::span<const uint8_t> row) override {
    rows.emplace_back(row.begin(), row.end());
    return true;
  }
  // RGBA of one pixel, as hex.
  std::string pixel(size_t x, size_t y) const {
    return vt::to_hex(Bytes(rows.at(y).begin() + static_cast<std::ptrdiff_t>(x * 4),
                            rows.at(y).begin() + static_cast<std::ptrdiff_t>(x * 4 + 4)));
  }
  std::string shape;
  std::vector<Bytes> rows;
};

const varnel_tool::IconFormat &format_of(const char *type) {
  const varnel_tool::IconFormat *format = varnel_tool::find_icon_format(type);
  if (format == nullptr) throw std::runtime_error(std::string("no icon format ") + type);
  return *format;
}

TEST(ToolIconRender, FormatsOfTheIconTypes) {
  struct Expected {
    const char *type;
    int32_t side, bits;
    size_t bytes;
    const char *mask_type;
  };
  const Expected cases[] = {{"ICN#", 32, 1, 256, "ICN#"},  {"ics#", 16, 1, 64, "ics#"},
                            {"icl8", 32, 8, 1024, "ICN#"}, {"ics8", 16, 8, 256, "ics#"},
                            {"icl4", 32, 4, 512, "ICN#"},  {"ics4", 16, 4, 128, "ics#"}};
  for (const Expected &c : cases) {
    SCOPED_TRACE(c.type);
    const varnel_tool::IconFormat &format = format_of(c.type);
    EXPECT_EQ(format.side_pixels, c.side);
    EXPECT_EQ(format.bits_per_pixel, c.bits);
    EXPECT_EQ(format.data_bytes, c.bytes);
    EXPECT_STREQ(varnel_tool::mask_type_for(format), c.mask_type);
  }
  for (const char *other : {"PICT", "icns", "ICN", "icl8 "})
    EXPECT_EQ(varnel_tool::find_icon_format(other), nullptr) << other;
}

struct PixelCase {
  const char *what;
  const char *type;
  Bytes data;
  Bytes mask;                                                              // empty: none given
  std::vector<std::pair<std::pair<size_t, size_t>, const char *>> pixels;  // (x, y) -> RGBA
};

TEST(ToolIconRender, PixelsThroughPalettesAndMasks) {
  Bytes icl8(1024, 0);  // white
  icl8[0] = 255;        // black
  icl8[1] = 35;         // FF0000 in the 256-colour palette
  icl8[32] = 215;       // EE0000, first of the red ramp
  Bytes ics4(128, 0);
  ics4[0] = 0x3F;  // red, then black: the high nibble is the left pixel
  ics4[127] = 0x6C;
  Bytes icn(256, 0);
  icn[0] = 0x80;    // top left set: black
  icn[128] = 0xC0;  // mask: the first two pixels of the top row
  Bytes mask32(128, 0);
  mask32[0] = 0x40;  // only pixel (1, 0)
  const PixelCase cases[] = {
      {"8-bit, no mask: opaque",
       "icl8",
       icl8,
       {},
       {{{0, 0}, "00 00 00 FF"},
        {{1, 0}, "FF 00 00 FF"},
        {{0, 1}, "EE 00 00 FF"},
        {{31, 31}, "FF FF FF FF"}}},
      {"8-bit with the mask of its 1-bit icon",
       "icl8",
       icl8,
       mask32,
       {{{0, 0}, "00 00 00 00"}, {{1, 0}, "FF 00 00 FF"}, {{2, 0}, "FF FF FF 00"}}},
      {"4-bit: two pixels a byte, high nibble first",
       "ics4",
       ics4,
       {},
       {{{0, 0}, "DD 08 06 FF"},
        {{1, 0}, "00 00 00 FF"},
        {{14, 15}, "00 00 D4 FF"},
        {{15, 15}, "C0 C0 C0 FF"}}},
      {"1-bit: its own mask, whatever mask is given",
       "ICN#",
       icn,
       mask32,
       {{{0, 0}, "00 00 00 FF"}, {{1, 0}, "FF FF FF FF"}, {{2, 0}, "FF FF FF 00"}, {{0, 1}, "FF FF FF 00"}}},
  };
  for (const PixelCase &c : cases) {
    SCOPED_TRACE(c.what);
    const varnel_tool::IconFormat &format = format_of(c.type);
    RecordingSink sink;
    std::string error;
    ASSERT_TRUE(varnel_tool::render_icon(format, c.data, c.mask, sink, error)) << error;
    const std::string side = std::to_string(format.side_pixels);
    EXPECT_EQ(sink.shape, side + "x" + side + "x4");
    ASSERT_EQ(sink.rows.size(), static_cast<size_t>(format.side_pixels));
    for (const auto &[at, rgba] : c.pixels)
      EXPECT_EQ(sink.pixel(at.first, at.second), vt::to_hex(hex(rgba))) << at.first << "," << at.second;
  }
}

TEST(ToolIconRender, MaskHalfOfAOneBitIcon) {
  Bytes icn(256, 0x11);
  for (size_t i = 128; i < 256; ++i) icn[i] = 0x22;
  const std::span<const uint8_t> mask = varnel_tool::mask_of_one_bit_icon(format_of("ICN#"), icn);
  EXPECT_EQ(Bytes(mask.begin(), mask.end()), Bytes(128, 0x22));
  // Wrong size, or a colour icon: no mask.
  EXPECT_TRUE(varnel_tool::mask_of_one_bit_icon(format_of("ICN#"), Bytes(255, 0)).empty());
  EXPECT_TRUE(varnel_tool::mask_of_one_bit_icon(format_of("icl8"), Bytes(1024, 0)).empty());
}

TEST(ToolIconRender, WrongSizesAndRefusingSinks) {
  struct Bad {
    const char *type;
    size_t data_bytes, mask_bytes;
    const char *error;
  };
  const Bad cases[] = {{"icl8", 100, 0, "icl8 data is 100 bytes, expected 1024"},
                       {"ICN#", 257, 0, "ICN# data is 257 bytes, expected 256"},
                       {"ics4", 0, 0, "ics4 data is 0 bytes, expected 128"},
                       {"icl4", 512, 32, "icon mask has the wrong size"}};
  for (const Bad &c : cases) {
    RecordingSink sink;
    std::string error;
    EXPECT_FALSE(varnel_tool::render_icon(format_of(c.type), Bytes(c.data_bytes, 0), Bytes(c.mask_bytes, 0),
                                          sink, error));
    EXPECT_EQ(error, c.error);
    EXPECT_TRUE(sink.rows.empty()) << c.type;
  }
  class Refusing final : public varnel_tool::ImageSink {
   public:
    bool start(int32_t, int32_t, int32_t) override { return true; }
    bool write_row(std::span<const uint8_t>) override { return false; }
  } refusing;
  std::string error;
  EXPECT_FALSE(varnel_tool::render_icon(format_of("ics8"), Bytes(256, 0), {}, refusing, error));
  EXPECT_EQ(error, "cannot write the image");
}

}  // namespace
