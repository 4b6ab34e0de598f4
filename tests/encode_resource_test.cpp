// Icon resources encoded from RGBA pixels with MacBin_EncodeResource: the
// bytes of one small case of each type, the round trip through a file
// (MacBin_AddResourceData, MacBin_OpenR, MacBin_DecodeResource) of images
// drawn from the tables, and the refusals.  The colour tables are this
// file's own, written down by their rule, not the library's.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "support/colour.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::Colour;
using vt::concat;
using vt::hex;
using vt::repeat;

constexpr Colour kWhite{0xFF, 0xFF, 0xFF, 0xFF}, kBlack{0, 0, 0, 0xFF}, kClear{0, 0, 0, 0};

// The standard 16-colour table, 8 bits a component.
const std::array<Colour, 16> kTable16 = {{{0xFF, 0xFF, 0xFF, 0xFF}, {0xFC, 0xF3, 0x05, 0xFF}, {0xFF, 0x64, 0x02, 0xFF},
                                          {0xDD, 0x08, 0x06, 0xFF}, {0xF2, 0x08, 0x84, 0xFF}, {0x46, 0x00, 0xA5, 0xFF},
                                          {0x00, 0x00, 0xD4, 0xFF}, {0x02, 0xAB, 0xEA, 0xFF}, {0x1F, 0xB7, 0x14, 0xFF},
                                          {0x00, 0x64, 0x11, 0xFF}, {0x56, 0x2C, 0x05, 0xFF}, {0x90, 0x71, 0x3A, 0xFF},
                                          {0xC0, 0xC0, 0xC0, 0xFF}, {0x80, 0x80, 0x80, 0xFF}, {0x40, 0x40, 0x40, 0xFF},
                                          {0x00, 0x00, 0x00, 0xFF}}};

// The standard 256-colour table: the 6 x 6 x 6 cube of FF CC 99 66 33 00
// (red slowest) less black, ramps of red, green, blue and grey through EE DD
// BB AA 88 77 55 44 22 11, then black.
std::vector<Colour> table_256() {
  const uint8_t cube[] = {0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00};
  const uint8_t ramp[] = {0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};
  std::vector<Colour> table;
  for (uint8_t r : cube)
    for (uint8_t g : cube)
      for (uint8_t b : cube) table.push_back(Colour{r, g, b, 0xFF});
  table.pop_back();
  for (uint8_t v : ramp) table.push_back(Colour{v, 0, 0, 0xFF});
  for (uint8_t v : ramp) table.push_back(Colour{0, v, 0, 0xFF});
  for (uint8_t v : ramp) table.push_back(Colour{0, 0, v, 0xFF});
  for (uint8_t v : ramp) table.push_back(Colour{v, v, v, 0xFF});
  table.push_back(kBlack);
  return table;
}

// An RGBA image drawn by a test, filled with `fill`.
struct Image {
  Image(int32_t w, int32_t h, Colour fill) : width(w), height(h) {
    for (int32_t i = 0; i < w * h; ++i) rgba.insert(rgba.end(), {fill.r, fill.g, fill.b, fill.a});
  }
  void set(int32_t x, int32_t y, Colour c) {
    uint8_t *p = &rgba[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4];
    p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = c.a;
  }
  Colour get(int32_t x, int32_t y) const {
    const uint8_t *p = &rgba[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4];
    return Colour{p[0], p[1], p[2], p[3]};
  }
  MacBinPixels pixels() const {
    return MacBinPixels{width, height, hot_x, hot_y, const_cast<uint8_t *>(rgba.data())};
  }
  int32_t width, height, hot_x = 0, hot_y = 0;
  std::vector<uint8_t> rgba;
};

struct Encoded {
  int32_t result;
  Bytes data;
  std::string error;
};

// The length call, then the data call with exactly that room.
Encoded encode(const char *type, const Image &image, int32_t flags = MACBIN_ENCODE_NEAREST) {
  const MacBinPixels pixels = image.pixels();
  char error[128] = "unset";
  Encoded encoded{MacBin_EncodeResource(type, &pixels, flags, nullptr, 0, error), {}, error};
  if (encoded.result > 0) {
    encoded.data.assign(static_cast<size_t>(encoded.result), 0xEE);
    EXPECT_EQ(MacBin_EncodeResource(type, &pixels, flags, encoded.data.data(), encoded.result, error),
              encoded.result);
    EXPECT_STREQ(error, "");
  }
  return encoded;
}

Bytes rows(const Bytes &first, const Bytes &rest, size_t count) {
  Bytes out = first;
  for (size_t i = 1; i < count; ++i) out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

TEST(EncodeGolden, BlackAndWhiteIconsWithTheirMasks) {
  // ICN#: (0, 0) black, (1, 0) white, (2, 0) transparent, (31, 0) dark grey
  // (black by luminance); everything else white.
  Image icn(32, 32, kWhite);
  icn.set(0, 0, kBlack);
  icn.set(2, 0, kClear);
  icn.set(31, 0, Colour{0x40, 0x40, 0x40, 0xFF});
  const Encoded icn_data = encode("ICN#", icn);
  ASSERT_EQ(icn_data.result, 256) << icn_data.error;
  EXPECT_EQ(icn_data.data, concat({rows(hex("80 00 00 01"), hex("00 00 00 00"), 32),
                                   rows(hex("DF FF FF FF"), hex("FF FF FF FF"), 32)}));

  // ics#: alpha 128 is inside the mask, 127 outside; a light grey is white.
  Image ics(16, 16, kWhite);
  ics.set(0, 0, Colour{0, 0, 0, 128});
  ics.set(15, 0, Colour{0, 0, 0, 127});
  ics.set(7, 1, Colour{0x7F, 0x7F, 0x7F, 0xFF});
  ics.set(8, 1, Colour{0x80, 0x80, 0x80, 0xFF});
  const Encoded ics_data = encode("ics#", ics);
  ASSERT_EQ(ics_data.result, 64) << ics_data.error;
  EXPECT_EQ(ics_data.data, concat({hex("80 00  01 00"), repeat(0, 28), hex("FF FE"), repeat(0xFF, 30)}));

  // ICON: no mask; a transparent pixel is white.
  Image icon(32, 32, kWhite);
  icon.set(0, 0, Colour{0, 0, 0, 0});
  icon.set(1, 0, kBlack);
  const Encoded icon_data = encode("ICON", icon);
  ASSERT_EQ(icon_data.result, 128) << icon_data.error;
  EXPECT_EQ(icon_data.data, rows(hex("40 00 00 00"), hex("00 00 00 00"), 32));

  // SICN: two items side by side.
  Image sicn(32, 16, kWhite);
  sicn.set(0, 0, kBlack);
  sicn.set(16, 0, kBlack);
  sicn.set(31, 15, kBlack);
  const Encoded sicn_data = encode("SICN", sicn);
  ASSERT_EQ(sicn_data.result, 64) << sicn_data.error;
  EXPECT_EQ(sicn_data.data, concat({hex("80 00"), repeat(0, 30), hex("80 00"), repeat(0, 28), hex("00 01")}));
}

TEST(EncodeGolden, CursorWithMaskAndHotSpot) {
  Image cursor(16, 16, kWhite);
  cursor.set(0, 0, kBlack);
  cursor.set(2, 0, kClear);
  cursor.set(15, 15, kBlack);
  cursor.hot_x = 3;
  cursor.hot_y = 5;
  const Encoded data = encode("CURS", cursor);
  ASSERT_EQ(data.result, 68) << data.error;
  EXPECT_EQ(data.data, concat({hex("80 00"), repeat(0, 29), hex("01"),  // data
                               hex("DF FF"), repeat(0xFF, 30),         // mask
                               hex("00 05 00 03")}));                  // hot spot: vertical, horizontal
}

TEST(EncodeGolden, ColourIconsIndexTheSystemTables) {
  // icl8 row 0: white, yellow, red, the first red ramp level, the first grey
  // ramp level, black, and a red slightly off the table (nearest: FF0000).
  Image icl8(32, 32, kWhite);
  const Colour first[] = {kWhite, {0xFF, 0xFF, 0x00, 0xFF}, {0xFF, 0x00, 0x00, 0xFF}, {0xEE, 0x00, 0x00, 0xFF},
                          {0xEE, 0xEE, 0xEE, 0xFF}, kBlack, {0xFE, 0x01, 0x01, 0xFF}};
  for (int32_t x = 0; x < 7; ++x) icl8.set(x, 0, first[x]);
  icl8.set(31, 31, kClear);  // outside the mask: entry 0
  const Encoded icl8_data = encode("icl8", icl8);
  ASSERT_EQ(icl8_data.result, 1024) << icl8_data.error;
  EXPECT_EQ(icl8_data.data, concat({hex("00 05 23 D7 F5 FF 23"), repeat(0, 1024 - 7)}));

  // ics8: 16 x 16, the cube's 003333 (index 208 = D0) at (15, 15).
  Image ics8(16, 16, kWhite);
  ics8.set(15, 15, Colour{0x00, 0x33, 0x33, 0xFF});
  const Encoded ics8_data = encode("ics8", ics8);
  ASSERT_EQ(ics8_data.result, 256) << ics8_data.error;
  EXPECT_EQ(ics8_data.data, concat({repeat(0, 255), hex("D0")}));

  // icl4 row 0: white, yellow, red, transparent, black, and FE6503 (nearest: orange).
  Image icl4(32, 32, kWhite);
  const Colour four[] = {kWhite, kTable16[1], kTable16[3], kClear, kBlack, {0xFE, 0x65, 0x03, 0xFF}};
  for (int32_t x = 0; x < 6; ++x) icl4.set(x, 0, four[x]);
  const Encoded icl4_data = encode("icl4", icl4);
  ASSERT_EQ(icl4_data.result, 512) << icl4_data.error;
  EXPECT_EQ(icl4_data.data, concat({hex("01 30 F2"), repeat(0, 512 - 3)}));

  // ics4: blue at (1, 0).
  Image ics4(16, 16, kWhite);
  ics4.set(1, 0, kTable16[6]);
  const Encoded ics4_data = encode("ics4", ics4);
  ASSERT_EQ(ics4_data.result, 128) << ics4_data.error;
  EXPECT_EQ(ics4_data.data, concat({hex("06"), repeat(0, 127)}));
}

TEST(EncodeGolden, ColourIconWithItsOwnTable) {
  // 2 x 2: red, transparent / blue, green.  Three colours: 2 bits a pixel,
  // rows of 2 bytes (even).
  Image cicn(2, 2, kClear);
  cicn.set(0, 0, Colour{0xFF, 0, 0, 0xFF});
  cicn.set(0, 1, Colour{0, 0, 0xFF, 0xFF});
  cicn.set(1, 1, Colour{0, 0xFF, 0, 0xFF});
  const Encoded data = encode("cicn", cicn);
  ASSERT_GT(data.result, 0) << data.error;
  EXPECT_EQ(vt::to_hex(data.data), vt::to_hex(hex(R"(
      00 00 00 00  80 02  00 00 00 00 00 02 00 02  | pixel map: base, row bytes + flag, bounds
      00 00  00 00  00 00 00 00                    | version, packing type, packed size
      00 48 00 00  00 48 00 00                     | 72 dpi
      00 00  00 02  00 01  00 02                   | indexed, 2 bits, one component of 2 bits
      00 00 00 00  00 00 00 00  00 00 00 00        | plane bytes, table, reserved
      00 00 00 00  00 02  00 00 00 00 00 02 00 02  | mask bit map
      00 00 00 00  00 02  00 00 00 00 00 02 00 02  | 1-bit bit map
      00 00 00 00                                  | icon data handle
      80 00  C0 00                                 | mask rows
      80 00  80 00                                 | 1-bit rows: red and blue dark, green light
      00 00 00 00  00 00  00 02                    | table: seed, flags, 3 entries
      00 00  FF FF 00 00 00 00                     | 0 red
      00 01  00 00 00 00 FF FF                     | 1 blue
      00 02  00 00 FF FF 00 00                     | 2 green
      00 00  60 00                                 | pixels: 0 0 / 1 2
  )")));
}

// ---- The round trip ---------------------------------------------------------

// A file written with the public calls from the given resources, read back.
class RoundTrip {
 public:
  struct Resource {
    std::string type;
    int32_t id;
    Bytes data;
  };
  explicit RoundTrip(const std::vector<Resource> &resources) {
    vt::init_recording();
    path_ = dir_.file("encoded.bin");
    char name[] = "Encoded";
    MacBinChannel *out = MacBin_OpenW(path_.c_str(), name, "VARN", "rsrc");
    EXPECT_NE(out, nullptr);
    EXPECT_EQ(MacBin_SetFinderResources(out, 0), 0);
    for (const Resource &r : resources)
      EXPECT_EQ(MacBin_AddResourceData(out, r.type.c_str(), r.id, nullptr, MACBIN_ATTR_PURGEABLE, r.data.data(),
                                       static_cast<int32_t>(r.data.size())),
                0);
    MacBin_Close(out);
    channel_ = MacBin_OpenR(path_.c_str());
    EXPECT_NE(channel_, nullptr);
  }
  ~RoundTrip() {
    MacBin_FreePixels(&pixels);
    if (channel_ != nullptr) MacBin_Close(channel_);
  }
  int32_t decode(const std::string &type, int32_t id) {
    MacBin_FreePixels(&pixels);
    for (int32_t t = 0; channel_ != nullptr && t < channel_->type_count; ++t)
      if (std::memcmp(channel_->types[t].type, type.data(), 4) == 0)
        for (int32_t r = 0; r < channel_->types[t].count; ++r)
          if (channel_->types[t].refs[r].id == id)
            return MacBin_DecodeResource(channel_, &channel_->types[t].refs[r], &pixels, error);
    ADD_FAILURE() << "no " << type << " " << id;
    return 0;
  }
  MacBinPixels pixels{};
  char error[128] = "unset";

 private:
  vt::TempDir dir_;
  std::string path_;
  MacBinChannel *channel_ = nullptr;
};

// The same numbers on every machine and every run.
struct Numbers {
  uint32_t state;
  uint32_t next(uint32_t below) {
    state = state * 1664525U + 1013904223U;
    return (state >> 8) % below;
  }
};

// An image of `colours` (picked at random), with about one pixel in five
// transparent when `holes`.
Image random_image(int32_t w, int32_t h, const std::vector<Colour> &colours, bool holes, uint32_t seed) {
  Numbers numbers{seed};
  Image image(w, h, kWhite);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      image.set(x, y, holes && numbers.next(5) == 0 ? kClear : colours[numbers.next(static_cast<uint32_t>(colours.size()))]);
  return image;
}

// Pixel by pixel, what decoding gives against what was encoded; transparent
// pixels decode as `outside`.
void expect_decoded(const MacBinPixels &decoded, const Image &image, Colour outside) {
  ASSERT_EQ(decoded.width, image.width);
  ASSERT_EQ(decoded.height, image.height);
  int mismatches = 0;
  for (int32_t y = 0; y < image.height; ++y)
    for (int32_t x = 0; x < image.width; ++x) {
      const uint8_t *p = decoded.rgba + (static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)) * 4;
      const Colour got{p[0], p[1], p[2], p[3]};
      const Colour want = image.get(x, y).a == 0 ? outside : image.get(x, y);
      if (got != want && ++mismatches <= 5) ADD_FAILURE() << "(" << x << ", " << y << "): " << got << " not " << want;
    }
  EXPECT_EQ(mismatches, 0);
}

TEST(EncodeRoundTrip, BlackAndWhiteIconsMasksAndCursor) {
  const std::vector<Colour> bw = {kWhite, kBlack};
  struct Case {
    const char *type;
    int32_t width, height;
    bool masked;
  };
  for (const Case &c : {Case{"ICN#", 32, 32, true}, Case{"ics#", 16, 16, true}, Case{"icm#", 16, 12, true},
                        Case{"kcs#", 16, 16, true}, Case{"CURS", 16, 16, true}, Case{"ICON", 32, 32, false},
                        Case{"SICN", 48, 16, false}}) {
    SCOPED_TRACE(c.type);
    Image image = random_image(c.width, c.height, bw, true, 7);
    image.hot_x = 15;
    image.hot_y = 2;
    const Encoded encoded = encode(c.type, image, MACBIN_ENCODE_EXACT);
    ASSERT_GT(encoded.result, 0) << encoded.error;
    RoundTrip file({{c.type, 128, encoded.data}});
    ASSERT_EQ(file.decode(c.type, 128), 1) << file.error;
    expect_decoded(file.pixels, image, c.masked ? kClear : kWhite);
    const bool cursor = std::string(c.type) == "CURS";
    EXPECT_EQ(file.pixels.hot_x, cursor ? 15 : 0);
    EXPECT_EQ(file.pixels.hot_y, cursor ? 2 : 0);
  }
}

TEST(EncodeRoundTrip, ColourIconsWithTheirFamilyMasks) {
  const std::vector<Colour> colours16(kTable16.begin(), kTable16.end());
  const std::vector<Colour> colours256 = table_256();
  struct Case {
    const char *type, *mask_type;
    int32_t width, height;
  };
  for (const Case &c : {Case{"icl4", "ICN#", 32, 32}, Case{"icl8", "ICN#", 32, 32}, Case{"ics4", "ics#", 16, 16},
                        Case{"ics8", "ics#", 16, 16}, Case{"icm4", "icm#", 16, 12}, Case{"icm8", "icm#", 16, 12},
                        Case{"kcs4", "kcs#", 16, 16}, Case{"kcs8", "kcs#", 16, 16}}) {
    SCOPED_TRACE(c.type);
    const bool eight = c.type[3] == '8';
    const Image image = random_image(c.width, c.height, eight ? colours256 : colours16, true, 11);
    const Encoded icon = encode(c.type, image, MACBIN_ENCODE_EXACT);
    const Encoded mask = encode(c.mask_type, image);
    ASSERT_GT(icon.result, 0) << icon.error;
    ASSERT_GT(mask.result, 0) << mask.error;
    // ID 129 has no mask of its own: transparent pixels show as white.
    RoundTrip file({{c.mask_type, 128, mask.data}, {c.type, 128, icon.data}, {c.type, 129, icon.data}});
    ASSERT_EQ(file.decode(c.type, 128), 1) << file.error;
    expect_decoded(file.pixels, image, kClear);
    ASSERT_EQ(file.decode(c.type, 129), 1) << file.error;
    expect_decoded(file.pixels, image, kWhite);
  }
}

TEST(EncodeRoundTrip, EveryEntryOfBothTables) {
  // Each colour of a table in turn, left to right: a colour of the table
  // comes back as itself (no other entry wins it).
  const std::vector<Colour> colours256 = table_256();
  Image big(32, 32, kWhite);
  for (int32_t i = 0; i < 256; ++i) big.set(i % 32, i / 32, colours256[static_cast<size_t>(i)]);
  Image small(16, 16, kWhite);
  for (int32_t i = 0; i < 16; ++i) small.set(i, 3, kTable16[static_cast<size_t>(i)]);
  const Encoded icl8 = encode("icl8", big, MACBIN_ENCODE_EXACT);
  const Encoded ics4 = encode("ics4", small, MACBIN_ENCODE_EXACT);
  ASSERT_EQ(icl8.result, 1024) << icl8.error;
  ASSERT_EQ(ics4.result, 128) << ics4.error;
  for (int32_t i = 0; i < 256; ++i) EXPECT_EQ(icl8.data[static_cast<size_t>(i)], i);
  EXPECT_EQ(vt::slice(ics4.data, 24, 8), hex("01 23 45 67 89 AB CD EF"));
  RoundTrip file({{"icl8", 1, icl8.data}, {"ics4", 2, ics4.data}});
  ASSERT_EQ(file.decode("icl8", 1), 1) << file.error;
  expect_decoded(file.pixels, big, kWhite);
  ASSERT_EQ(file.decode("ics4", 2), 1) << file.error;
  expect_decoded(file.pixels, small, kWhite);
}

TEST(EncodeRoundTrip, ColourIconsOfEveryDepthAndOddSizes) {
  // 1, 2, 3, 5, 17 and 256 colours: 1, 2, 2, 4, 8 and 8 bits a pixel, on
  // sizes whose rows end inside a byte.
  Numbers numbers{3};
  for (const size_t count : {1U, 2U, 3U, 5U, 17U, 256U}) {
    SCOPED_TRACE(count);
    std::vector<Colour> colours;
    for (size_t i = 0; i < count; ++i)
      colours.push_back(Colour{static_cast<uint8_t>(i), static_cast<uint8_t>(numbers.next(256)),
                               static_cast<uint8_t>(numbers.next(256)), 0xFF});
    const int32_t width = count == 256 ? 37 : 13, height = count == 256 ? 31 : 7;
    Image image = random_image(width, height, colours, true, static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; ++i)  // every colour at least once
      image.set(static_cast<int32_t>(i) % width, static_cast<int32_t>(i) / width, colours[i]);
    const Encoded cicn = encode("cicn", image);
    ASSERT_GT(cicn.result, 0) << cicn.error;
    const uint32_t depth = vt::be16(cicn.data, 32);
    EXPECT_EQ(depth, count <= 2 ? 1U : count <= 4 ? 2U : count <= 16 ? 4U : 8U);
    RoundTrip file({{"cicn", 300, cicn.data}});
    ASSERT_EQ(file.decode("cicn", 300), 1) << file.error;
    expect_decoded(file.pixels, image, kClear);
  }
}

// ---- Refusals and the caller's buffer ------------------------------------------

TEST(EncodeRefused, TypesSizesColoursAndArguments) {
  char error[128];
  const auto refused = [&](const char *type, const Image &image, int32_t flags = MACBIN_ENCODE_NEAREST) {
    const MacBinPixels pixels = image.pixels();
    std::strcpy(error, "unset");
    uint8_t buffer[8] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
    const int32_t result = MacBin_EncodeResource(type, &pixels, flags, buffer, sizeof buffer, error);
    if (result != -1) return std::string("accepted");
    EXPECT_EQ(Bytes(buffer, buffer + 8), repeat(0x55, 8)) << "nothing copied on a refusal";
    return std::string(error);
  };
  const Image icon32(32, 32, kWhite), icon16(16, 16, kWhite);
  EXPECT_EQ(refused("PICT", icon32), "cannot encode PICT: not an icon type");
  EXPECT_EQ(refused("crsr", icon16), "cannot encode crsr: not an icon type");
  EXPECT_EQ(refused("ICN", icon32), "the type must be 4 characters");
  EXPECT_EQ(refused("ICN#1", icon32), "the type must be 4 characters");
  EXPECT_EQ(refused("icn#", icon32), "cannot encode icn#: not an icon type");
  EXPECT_EQ(refused("ICN#", icon16), "ICN# needs 32 x 32 pixels, not 16 x 16");
  EXPECT_EQ(refused("icm8", icon16), "icm8 needs 16 x 12 pixels, not 16 x 16");
  EXPECT_EQ(refused("SICN", Image(24, 16, kWhite)), "SICN needs 16 pixels high and a multiple of 16 wide, not 24 x 16");
  EXPECT_EQ(refused("SICN", Image(16, 32, kWhite)), "SICN needs 16 pixels high and a multiple of 16 wide, not 16 x 32");
  EXPECT_EQ(refused("SICN", Image(16400, 16, kWhite)), "SICN of 1025 items: at most 1024");
  EXPECT_EQ(refused("SICN", Image(16384, 16, kWhite)), "accepted");
  EXPECT_EQ(refused("cicn", Image(257, 1, kWhite)), "cicn of 257 x 1 pixels: at most 256 x 256");
  EXPECT_EQ(refused("cicn", Image(1, 257, kWhite)), "cicn of 1 x 257 pixels: at most 256 x 256");
  EXPECT_EQ(refused("ICN#", icon32, 2), "unknown flags 2");

  Image cursor(16, 16, kWhite);
  cursor.hot_x = 16;
  EXPECT_EQ(refused("CURS", cursor), "CURS hot spot (16, 0) outside its 16 x 16 pixels");
  cursor.hot_x = 0;
  cursor.hot_y = -1;
  EXPECT_EQ(refused("CURS", cursor), "CURS hot spot (0, -1) outside its 16 x 16 pixels");

  // Exact colours: one off the table is named with its place; outside the
  // mask its colour does not count.
  Image off(32, 32, kWhite);
  off.set(6, 2, Colour{0xFE, 0x01, 0x01, 0xFF});
  off.set(7, 2, Colour{0x12, 0x34, 0x56, 0x00});
  EXPECT_EQ(refused("icl8", off, MACBIN_ENCODE_EXACT), "colour FE0101 at (6, 2) is not in the 256-colour table");
  EXPECT_EQ(refused("icl4", off, MACBIN_ENCODE_EXACT), "colour FE0101 at (6, 2) is not in the 16-colour table");
  EXPECT_EQ(refused("ICN#", off, MACBIN_ENCODE_EXACT), "colour FE0101 at (6, 2) is not in the black-and-white table");
  EXPECT_EQ(refused("icl8", off), "accepted");
  off.set(6, 2, Colour{0xFE, 0x01, 0x01, 0x7F});
  EXPECT_EQ(refused("icl8", off, MACBIN_ENCODE_EXACT), "accepted");

  // A colour icon holds at most 256 colours.
  // Colour i is i % 256, i / 256, 9; the rest of the image has colour 0.
  Image many(17, 16, Colour{0, 0, 9, 0xFF});
  for (int32_t i = 0; i < 257; ++i)
    many.set(i % 17, i / 17, Colour{static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 9, 0xFF});
  EXPECT_EQ(refused("cicn", many), "cicn with more than 256 colours");
  many.set(256 % 17, 256 / 17, kClear);  // the 257th colour outside the mask
  EXPECT_EQ(refused("cicn", many), "accepted");

  // Arguments.
  const MacBinPixels good = icon32.pixels();
  uint8_t buffer[256];
  EXPECT_EQ(MacBin_EncodeResource(nullptr, &good, 0, nullptr, 0, error), -1);
  EXPECT_STREQ(error, "the type must be 4 characters");
  EXPECT_EQ(MacBin_EncodeResource("ICN#", nullptr, 0, nullptr, 0, error), -1);
  EXPECT_STREQ(error, "no pixels");
  MacBinPixels no_rgba = good;
  no_rgba.rgba = nullptr;
  EXPECT_EQ(MacBin_EncodeResource("ICN#", &no_rgba, 0, nullptr, 0, error), -1);
  EXPECT_STREQ(error, "no pixels");
  MacBinPixels empty = good;
  empty.width = 0;
  EXPECT_EQ(MacBin_EncodeResource("ICN#", &empty, 0, nullptr, 0, error), -1);
  EXPECT_STREQ(error, "empty image (0 x 32)");
  EXPECT_EQ(MacBin_EncodeResource("ICN#", &good, 0, buffer, -1, error), -1);
  EXPECT_STREQ(error, "no room for the data");
  EXPECT_EQ(MacBin_EncodeResource("ICN#", &good, 0, nullptr, 4, error), -1);
  EXPECT_STREQ(error, "no room for the data");
  EXPECT_EQ(MacBin_EncodeResource("ICN#", &good, 0, nullptr, 0, nullptr), 256) << "a null error line is fine";
}

TEST(EncodeBuffer, ShortRoomGetsTheFirstBytesAndTheWholeLength) {
  Image icon(16, 16, kWhite);
  icon.set(0, 0, kBlack);
  const MacBinPixels pixels = icon.pixels();
  uint8_t buffer[6] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
  char error[128] = "unset";
  EXPECT_EQ(MacBin_EncodeResource("ics#", &pixels, 0, buffer, 3, error), 64);
  EXPECT_STREQ(error, "");
  EXPECT_EQ(Bytes(buffer, buffer + 6), hex("80 00 00 55 55 55"));
}

}  // namespace

// CT samples in the four kinds the icon builders read, for five pixels:
// white, black, pure red, transparent black (white once folded) and black
// at alpha 128 (7F7F7F once folded: the 256-colour table's grey 77 is
// nearer than its 88, and ink 128 is just dark enough for black).
TEST(PixelsToSamples, FourKindsFoldedOverWhite) {
  Bytes rgba = hex("FF FF FF FF  00 00 00 FF  FF 00 00 FF  00 00 00 00  00 00 00 80");
  const MacBinPixels pixels{5, 1, 0, 0, rgba.data()};
  const std::array<std::pair<int32_t, const char *>, 4> kinds = {{
      {MACBIN_SAMPLES_MAC256, "00 FF 23 00 FA"},
      {MACBIN_SAMPLES_MAC16, "00 F0 30 00 D0"},
      {MACBIN_SAMPLES_GREY, "00 FF B3 00 80"},
      {MACBIN_SAMPLES_MONO, "00 FF FF 00 FF"},
  }};
  for (const auto &[kind, expected] : kinds) {
    Bytes samples(5, 0x5A);
    ASSERT_EQ(MacBin_PixelsToSamples(&pixels, kind, samples.data(), 5), 1) << kind;
    EXPECT_EQ(samples, hex(expected)) << "kind " << kind;
  }
}

TEST(PixelsToSamples, RefusesWhatItCannotFill) {
  Bytes rgba(2 * 2 * 4, 0xFF);
  const MacBinPixels pixels{2, 2, 0, 0, rgba.data()};
  Bytes samples(4, 0x5A);
  const char *reason = "";
  EXPECT_EQ(MacBin_PixelsToSamples(&pixels, MACBIN_SAMPLES_GREY, samples.data(), 3), 0);
  EXPECT_EQ(MacBin_LastError(&reason), MACBIN_ERR_ARGUMENT);
  EXPECT_NE(std::string(reason).find("not the 4 wanted"), std::string::npos) << reason;
  EXPECT_EQ(samples, hex("5A 5A 5A 5A"));  // nothing written
  EXPECT_EQ(MacBin_PixelsToSamples(&pixels, 4, samples.data(), 4), 0);
  EXPECT_EQ(MacBin_PixelsToSamples(nullptr, MACBIN_SAMPLES_GREY, samples.data(), 4), 0);
  const MacBinPixels empty{0, 2, 0, 0, rgba.data()};
  EXPECT_EQ(MacBin_PixelsToSamples(&empty, MACBIN_SAMPLES_GREY, samples.data(), 4), 0);
  MacBin_ClearError();
}
