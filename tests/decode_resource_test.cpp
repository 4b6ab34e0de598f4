// Resources decoded to pixels through MacBin_DecodeResource: each icon,
// cursor, pattern and colour table type, built byte by byte here with known
// bits, in a MacBinary file read back with MacBin_OpenR.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "support/macbinary.hpp"
#include "support/colour.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

using vt::Colour;
constexpr Colour kWhite{255, 255, 255, 255}, kBlack{0, 0, 0, 255}, kClear{0, 0, 0, 0};

Colour at(const MacBinPixels &p, int x, int y) {
  const uint8_t *q = p.rgba + (static_cast<size_t>(y) * static_cast<size_t>(p.width) + static_cast<size_t>(x)) * 4;
  return Colour{q[0], q[1], q[2], q[3]};
}

// A file holding `types`, opened for reading; decodes by type and ID.
class ResourceFile {
 public:
  explicit ResourceFile(std::vector<vt::MbType> types) {
    vt::init_recording();
    vt::MacBinaryPlan plan;
    plan.types = std::move(types);
    path_ = dir_.file("icons.bin");
    vt::write_file(path_, vt::build_macbinary(plan).bytes);
    channel_ = MacBin_OpenR(path_.c_str());
  }
  ~ResourceFile() {
    MacBin_FreePixels(&pixels);
    if (channel_ != nullptr) MacBin_Close(channel_);
  }
  const MacBinRefEntry *find(const std::string &type, int32_t id) const {
    for (int32_t t = 0; t < channel_->type_count; ++t)
      if (std::memcmp(channel_->types[t].type, type.data(), 4) == 0)
        for (int32_t r = 0; r < channel_->types[t].count; ++r)
          if (channel_->types[t].refs[r].id == id) return &channel_->types[t].refs[r];
    return nullptr;
  }
  int32_t decode(const std::string &type, int32_t id) {
    MacBin_FreePixels(&pixels);
    const MacBinRefEntry *ref = find(type, id);
    EXPECT_NE(ref, nullptr) << type << " " << id;
    return MacBin_DecodeResource(channel_, ref, &pixels, error);
  }
  MacBinChannel *channel() const { return channel_; }

  MacBinPixels pixels{};
  char error[128] = "unset";

 private:
  vt::TempDir dir_;
  std::string path_;
  MacBinChannel *channel_ = nullptr;
};

vt::MbType one(const std::string &type, uint32_t id, Bytes data) {
  return vt::MbType{type, {vt::MbResource{id, std::nullopt, std::move(data)}}};
}

// `rows` rows of `row` repeated.
Bytes rows_of(const Bytes &row, size_t rows) {
  Bytes out;
  for (size_t i = 0; i < rows; ++i) out.insert(out.end(), row.begin(), row.end());
  return out;
}

TEST(DecodeIcons, IconListWithItsOwnMask) {
  // ICN#: every row F0 00 00 0F; mask: the top 16 rows set, the rest clear.
  const Bytes icon = rows_of(hex("F0 00 00 0F"), 32);
  const Bytes mask = vt::concat({rows_of(hex("FF FF FF FF"), 16), rows_of(hex("00 00 00 00"), 16)});
  ResourceFile file({one("ICN#", 128, vt::concat({icon, mask}))});
  ASSERT_EQ(file.decode("ICN#", 128), 1) << file.error;
  EXPECT_STREQ(file.error, "");
  ASSERT_EQ(file.pixels.width, 32);
  ASSERT_EQ(file.pixels.height, 32);
  EXPECT_EQ(file.pixels.hot_x, 0);
  EXPECT_EQ(at(file.pixels, 0, 0), kBlack);
  EXPECT_EQ(at(file.pixels, 3, 15), kBlack);
  EXPECT_EQ(at(file.pixels, 4, 0), kWhite);
  EXPECT_EQ(at(file.pixels, 28, 7), kBlack);
  EXPECT_EQ(at(file.pixels, 27, 7), kWhite);
  EXPECT_EQ(at(file.pixels, 0, 16), kClear);
  EXPECT_EQ(at(file.pixels, 31, 31), kClear);
}

TEST(DecodeIcons, SmallAndMiniIconListsHaveTheirSizes) {
  // ics# and kcs#: 16 x 16; icm#: 16 x 12.  Icon rows 80 01, masks full.
  ResourceFile file({one("ics#", 1, vt::concat({rows_of(hex("80 01"), 16), rows_of(hex("FF FF"), 16)})),
                     one("kcs#", 2, vt::concat({rows_of(hex("80 01"), 16), rows_of(hex("7F FF"), 16)})),
                     one("icm#", 3, vt::concat({rows_of(hex("80 01"), 12), rows_of(hex("FF FF"), 12)}))});
  ASSERT_EQ(file.decode("ics#", 1), 1) << file.error;
  EXPECT_EQ(file.pixels.width, 16);
  EXPECT_EQ(file.pixels.height, 16);
  EXPECT_EQ(at(file.pixels, 0, 15), kBlack);
  EXPECT_EQ(at(file.pixels, 1, 15), kWhite);
  EXPECT_EQ(at(file.pixels, 15, 0), kBlack);
  ASSERT_EQ(file.decode("kcs#", 2), 1) << file.error;
  EXPECT_EQ(at(file.pixels, 0, 3), kClear);  // outside the mask
  EXPECT_EQ(at(file.pixels, 15, 3), kBlack);
  ASSERT_EQ(file.decode("icm#", 3), 1) << file.error;
  EXPECT_EQ(file.pixels.width, 16);
  EXPECT_EQ(file.pixels.height, 12);
  EXPECT_EQ(at(file.pixels, 0, 11), kBlack);
}

TEST(DecodeIcons, IconAndSmallIconListAreOpaque) {
  Bytes icon = rows_of(hex("00 00 00 00"), 32);
  icon[0] = 0x80;  // pixel (0, 0)
  const Bytes first = vt::concat({hex("C0 00"), rows_of(hex("00 00"), 15)});
  const Bytes second = vt::concat({rows_of(hex("00 00"), 15), hex("00 01")});
  ResourceFile file({one("ICON", 5, icon), one("SICN", 6, vt::concat({first, second}))});
  ASSERT_EQ(file.decode("ICON", 5), 1) << file.error;
  EXPECT_EQ(at(file.pixels, 0, 0), kBlack);
  EXPECT_EQ(at(file.pixels, 1, 0), kWhite);
  EXPECT_EQ(at(file.pixels, 31, 31), kWhite);
  // SICN: its items side by side.
  ASSERT_EQ(file.decode("SICN", 6), 1) << file.error;
  ASSERT_EQ(file.pixels.width, 32);
  ASSERT_EQ(file.pixels.height, 16);
  EXPECT_EQ(at(file.pixels, 0, 0), kBlack);
  EXPECT_EQ(at(file.pixels, 1, 0), kBlack);
  EXPECT_EQ(at(file.pixels, 2, 0), kWhite);
  EXPECT_EQ(at(file.pixels, 31, 15), kBlack);
  EXPECT_EQ(at(file.pixels, 15, 15), kWhite);
}

TEST(DecodeIcons, EightBitIconsUseTheSystemTableAndTheFamilyMask) {
  // icl8 row y holds the indices 0, 5, 35, 215, 245, 255, then zeros.
  Bytes row = hex("00 05 23 D7 F5 FF");
  row.resize(32, 0);
  const Bytes icl8 = rows_of(row, 32);
  // ICN# 128 masks the left half; ICN# 129 (another icon) masks nothing.
  const Bytes mask128 = vt::concat({rows_of(hex("00 00 00 00"), 32), rows_of(hex("FF FF 00 00"), 32)});
  const Bytes mask129 = rows_of(hex("00 00 00 00"), 64);
  ResourceFile file({vt::MbType{"ICN#", {vt::MbResource{129, std::nullopt, mask129},
                                         vt::MbResource{128, std::nullopt, mask128}}},
                     vt::MbType{"icl8", {vt::MbResource{128, std::nullopt, icl8},
                                         vt::MbResource{130, std::nullopt, icl8}}}});
  ASSERT_EQ(file.decode("icl8", 128), 1) << file.error;
  EXPECT_EQ(at(file.pixels, 0, 0), kWhite);
  EXPECT_EQ(at(file.pixels, 1, 0), (Colour{0xFF, 0xFF, 0x00, 255}));
  EXPECT_EQ(at(file.pixels, 2, 9), (Colour{0xFF, 0x00, 0x00, 255}));
  EXPECT_EQ(at(file.pixels, 3, 0), (Colour{0xEE, 0x00, 0x00, 255}));
  EXPECT_EQ(at(file.pixels, 4, 0), (Colour{0xEE, 0xEE, 0xEE, 255}));
  EXPECT_EQ(at(file.pixels, 5, 31), kBlack);
  EXPECT_EQ(at(file.pixels, 16, 0), kClear);  // right half outside the mask
  // Without a mask of its ID the icon is opaque.
  ASSERT_EQ(file.decode("icl8", 130), 1) << file.error;
  EXPECT_EQ(at(file.pixels, 31, 31), kWhite);
}

TEST(DecodeIcons, FourBitIconsOfEverySize) {
  // Indices 0 1 3 6 / 15 ... in the first row: white, yellow, red, blue, black.
  struct Case {
    const char *type, *mask_type;
    int width, height;
  };
  for (const Case &c : {Case{"icl4", "ICN#", 32, 32}, Case{"ics4", "ics#", 16, 16},
                        Case{"icm4", "icm#", 16, 12}, Case{"kcs4", "kcs#", 16, 16}}) {
    SCOPED_TRACE(c.type);
    Bytes row = hex("01 36 F0");
    row.resize(static_cast<size_t>(c.width / 2), 0);
    const size_t mask_bytes = static_cast<size_t>(c.width * c.height / 8);
    Bytes mask(2 * mask_bytes, 0xFF);
    mask[mask_bytes] = 0x7F;  // pixel (0, 0) outside
    ResourceFile file({one(c.type, 200, rows_of(row, static_cast<size_t>(c.height))),
                       one(c.mask_type, 200, mask)});
    ASSERT_EQ(file.decode(c.type, 200), 1) << file.error;
    ASSERT_EQ(file.pixels.width, c.width);
    ASSERT_EQ(file.pixels.height, c.height);
    EXPECT_EQ(at(file.pixels, 0, 0), kClear);
    EXPECT_EQ(at(file.pixels, 0, 1), kWhite);
    EXPECT_EQ(at(file.pixels, 1, 0), (Colour{0xFC, 0xF3, 0x05, 255}));
    EXPECT_EQ(at(file.pixels, 2, 0), (Colour{0xDD, 0x08, 0x06, 255}));
    EXPECT_EQ(at(file.pixels, 3, 0), (Colour{0x00, 0x00, 0xD4, 255}));
    EXPECT_EQ(at(file.pixels, 4, c.height - 1), kBlack);
  }
}

TEST(DecodeIcons, EightBitSmallAndMiniIcons) {
  for (const char *type : {"ics8", "icm8", "kcs8"}) {
    SCOPED_TRACE(type);
    const int height = std::string(type) == "icm8" ? 12 : 16;
    Bytes row(16, 0xFF);
    row[15] = 0x00;
    ResourceFile file({one(type, 7, rows_of(row, static_cast<size_t>(height)))});
    ASSERT_EQ(file.decode(type, 7), 1) << file.error;
    EXPECT_EQ(file.pixels.height, height);
    EXPECT_EQ(at(file.pixels, 0, 0), kBlack);
    EXPECT_EQ(at(file.pixels, 15, height - 1), kWhite);
  }
}

// Mask rows 7F 80 ...: pixel 0 outside, 1 to 8 inside, 9 to 15 outside.  A
// mask read from the low bit first would show pixel 0 and hide 7 and 8.
void expect_mask_7f_80(const MacBinPixels &pixels, int height, Colour inside) {
  for (int y = 0; y < height; ++y) {
    SCOPED_TRACE("row " + std::to_string(y));
    EXPECT_EQ(at(pixels, 0, y), kClear);
    EXPECT_EQ(at(pixels, 1, y), inside);
    EXPECT_EQ(at(pixels, 7, y), inside);
    EXPECT_EQ(at(pixels, 8, y), inside);
    EXPECT_EQ(at(pixels, 9, y), kClear);
    EXPECT_EQ(at(pixels, 15, y), kClear);
  }
}

TEST(DecodeIcons, MaskBitsRunFromTheHighBit) {
  struct Case {
    const char *type;
    int width, height;
  };
  // The # icons: all black, their own masks 7F 80 (then 00 for 32-wide rows).
  for (const Case &c : {Case{"ICN#", 32, 32}, Case{"ics#", 16, 16}, Case{"icm#", 16, 12}, Case{"kcs#", 16, 16}}) {
    SCOPED_TRACE(c.type);
    Bytes mask_row = hex("7F 80");
    mask_row.resize(static_cast<size_t>(c.width / 8), 0);
    const Bytes icon(static_cast<size_t>(c.width * c.height / 8), 0xFF);
    ResourceFile file({one(c.type, 128, vt::concat({icon, rows_of(mask_row, static_cast<size_t>(c.height))}))});
    ASSERT_EQ(file.decode(c.type, 128), 1) << file.error;
    expect_mask_7f_80(file.pixels, c.height, kBlack);
  }
  // The 8-bit icons, all index 5 (FFFF00), masked by their family's # icon.
  struct ColourCase {
    const char *type, *mask_type;
    int width, height;
  };
  for (const ColourCase &c : {ColourCase{"icl8", "ICN#", 32, 32}, ColourCase{"ics8", "ics#", 16, 16},
                              ColourCase{"icm8", "icm#", 16, 12}, ColourCase{"kcs8", "kcs#", 16, 16}}) {
    SCOPED_TRACE(c.type);
    Bytes mask_row = hex("7F 80");
    mask_row.resize(static_cast<size_t>(c.width / 8), 0);
    const Bytes bits(static_cast<size_t>(c.width * c.height / 8), 0x00);
    ResourceFile file({one(c.mask_type, 300, vt::concat({bits, rows_of(mask_row, static_cast<size_t>(c.height))})),
                       one(c.type, 300, Bytes(static_cast<size_t>(c.width * c.height), 0x05))});
    ASSERT_EQ(file.decode(c.type, 300), 1) << file.error;
    expect_mask_7f_80(file.pixels, c.height, Colour{0xFF, 0xFF, 0x00, 255});
  }
}

TEST(DecodeCursors, BlackWhiteClearAndInvertedWithTheHotSpot) {
  // Row 0: data C0 00, mask A0 00 -> (0) black, (1) inverting (black),
  // (2) white, (3) clear.  Hot spot v 5, h 9.
  Bytes data(32, 0), mask(32, 0);
  data[0] = 0xC0;
  mask[0] = 0xA0;
  ResourceFile file({one("CURS", 128, vt::concat({data, mask, hex("00 05 00 09")}))});
  ASSERT_EQ(file.decode("CURS", 128), 1) << file.error;
  ASSERT_EQ(file.pixels.width, 16);
  EXPECT_EQ(file.pixels.hot_x, 9);
  EXPECT_EQ(file.pixels.hot_y, 5);
  EXPECT_EQ(at(file.pixels, 0, 0), kBlack);
  EXPECT_EQ(at(file.pixels, 1, 0), kBlack);
  EXPECT_EQ(at(file.pixels, 2, 0), kWhite);
  EXPECT_EQ(at(file.pixels, 3, 0), kClear);
  EXPECT_EQ(at(file.pixels, 0, 1), kClear);
}

// A colour cursor: 16 x 16, 8 bits a pixel, colour table {0: red, 1: blue}.
Bytes colour_cursor() {
  Bytes bits(32, 0), mask(32, 0xFF);
  bits[32 - 1] = 0x01;  // (15, 15)
  mask[30] = 0x00;      // (0..7, 15) outside the mask
  mask[31] = 0xFE;      // (15, 15) outside: inverting
  Bytes out = vt::concat({hex("80 01   00 00 00 60   00 00 00 AA   00 00 00 00 00 00 00 00 00 00"),
                          bits, mask, hex("00 03 00 04   00 00 00 00 00 00 00 00")});
  // 0x60: pixel map (base address, row bytes 16, bounds 16 x 16, version,
  // pack type, pack size, resolutions, indexed, 8 bits, 1 component of 8,
  // plane bytes, table at 0x92, reserved).
  out = vt::concat({out, hex("00 00 00 00   80 10   00 00 00 00 00 10 00 10   00 00 00 00 00 00 00 00"
                             "00 48 00 00 00 48 00 00   00 00 00 08 00 01 00 08   00 00 00 00"
                             "00 00 00 92   00 00 00 00")});
  // 0x92: colour table, two entries.
  out = vt::concat({out, hex("00 00 00 00 00 00 00 01   00 00 FF FF 00 00 00 00   00 01 00 00 00 00 FF FF")});
  // 0xAA: pixels, row y: sixteen (y % 2).
  for (int y = 0; y < 16; ++y) out = vt::concat({out, Bytes(16, static_cast<uint8_t>(y % 2))});
  return out;
}

TEST(DecodeCursors, ColourCursorDrawsItsPixelMapInsideTheMask) {
  const Bytes crsr = colour_cursor();
  ASSERT_EQ(crsr.size(), 0xAAu + 256);
  ResourceFile file({one("crsr", 129, crsr)});
  ASSERT_EQ(file.decode("crsr", 129), 1) << file.error;
  EXPECT_EQ(file.pixels.hot_x, 4);
  EXPECT_EQ(file.pixels.hot_y, 3);
  EXPECT_EQ(at(file.pixels, 0, 0), (Colour{255, 0, 0, 255}));
  EXPECT_EQ(at(file.pixels, 5, 1), (Colour{0, 0, 255, 255}));
  EXPECT_EQ(at(file.pixels, 3, 15), kClear);
  EXPECT_EQ(at(file.pixels, 15, 15), kBlack);  // inverting
  EXPECT_EQ(at(file.pixels, 14, 15), (Colour{0, 0, 255, 255}));
}

TEST(DecodeCursors, ColourCursorWithItsPixelMapOutsideTheDataIsRefused) {
  Bytes crsr = colour_cursor();
  crsr.resize(0xAA + 100);  // rows cut short
  ResourceFile file({one("crsr", 129, crsr)});
  EXPECT_EQ(file.decode("crsr", 129), 0);
  EXPECT_STREQ(file.error, "crsr 129: the crsr data is cut short");
  EXPECT_EQ(file.pixels.rgba, nullptr);
  EXPECT_EQ(file.pixels.width, 0);
}

TEST(DecodePatterns, PatternAndPatternList) {
  ResourceFile file({one("PAT ", 16, hex("80 00 00 00 00 00 00 01")),
                     one("PAT#", 17, hex("00 02   FF 00 00 00 00 00 00 00   00 00 00 00 00 00 00 80"))});
  ASSERT_EQ(file.decode("PAT ", 16), 1) << file.error;
  ASSERT_EQ(file.pixels.width, 8);
  EXPECT_EQ(at(file.pixels, 0, 0), kBlack);
  EXPECT_EQ(at(file.pixels, 1, 0), kWhite);
  EXPECT_EQ(at(file.pixels, 7, 7), kBlack);
  ASSERT_EQ(file.decode("PAT#", 17), 1) << file.error;
  ASSERT_EQ(file.pixels.width, 16);
  ASSERT_EQ(file.pixels.height, 8);
  EXPECT_EQ(at(file.pixels, 7, 0), kBlack);
  EXPECT_EQ(at(file.pixels, 8, 0), kWhite);
  EXPECT_EQ(at(file.pixels, 8, 7), kBlack);
}

// A pixel pattern at `base` of its resource: 8 x 8, 2 bits a pixel, colour
// table {0: white, 1: green, 2: red, 3: black}; row y all (y % 4).
Bytes pixel_pattern(uint32_t base) {
  Bytes out;
  vt::append_be16(out, 1);
  vt::append_be32(out, base + 28);       // pixel map
  vt::append_be32(out, base + 28 + 50 + 40);  // pixel data
  out = vt::concat({out, hex("00 00 00 00 FF FF 00 00 00 00   AA 55 AA 55 AA 55 AA 55")});
  out = vt::concat({out, hex("00 00 00 00   80 02   00 00 00 00 00 08 00 08   00 00 00 00 00 00 00 00"
                             "00 48 00 00 00 48 00 00   00 00 00 02 00 01 00 02   00 00 00 00")});
  vt::append_be32(out, base + 28 + 50);  // colour table
  out = vt::concat({out, hex("00 00 00 00")});
  out = vt::concat({out, hex("00 00 00 00 00 00 00 03   00 00 FF FF FF FF FF FF   00 01 00 00 FF FF 00 00"
                             "00 02 FF FF 00 00 00 00   00 03 00 00 00 00 00 00")});
  for (int y = 0; y < 8; ++y) out = vt::concat({out, Bytes(2, static_cast<uint8_t>(0x55 * (y % 4)))});
  return out;
}

TEST(DecodePatterns, PixelPatternAndItsList) {
  Bytes list = hex("00 02   00 00 00 0A   00 00 00 00");
  vt::store_be32(list, 6, 10 + static_cast<uint32_t>(pixel_pattern(0).size()));
  // Each pattern's own offsets count from its start, not the list's (as
  // System files store them).
  list = vt::concat({list, pixel_pattern(0), pixel_pattern(0)});
  ResourceFile file({one("ppat", 128, pixel_pattern(0)), one("ppt#", 128, list)});
  ASSERT_EQ(file.decode("ppat", 128), 1) << file.error;
  ASSERT_EQ(file.pixels.width, 8);
  EXPECT_EQ(at(file.pixels, 3, 0), kWhite);
  EXPECT_EQ(at(file.pixels, 3, 1), (Colour{0, 255, 0, 255}));
  EXPECT_EQ(at(file.pixels, 3, 2), (Colour{255, 0, 0, 255}));
  EXPECT_EQ(at(file.pixels, 7, 7), kBlack);
  ASSERT_EQ(file.decode("ppt#", 128), 1) << file.error;
  ASSERT_EQ(file.pixels.width, 16);
  EXPECT_EQ(at(file.pixels, 12, 6), (Colour{255, 0, 0, 255}));
}

TEST(DecodePatterns, OldStylePixelPatternUsesItsBits) {
  const Bytes ppat = hex("00 00   00 00 00 00   00 00 00 00   00 00 00 00 00 00 00 00 00 00"
                         "80 00 00 00 00 00 00 00");
  ResourceFile file({one("ppat", 3, ppat)});
  ASSERT_EQ(file.decode("ppat", 3), 1) << file.error;
  EXPECT_EQ(at(file.pixels, 0, 0), kBlack);
  EXPECT_EQ(at(file.pixels, 1, 0), kWhite);
}

TEST(DecodeColours, ColourTableAndPaletteAsSwatches) {
  const Bytes clut = hex("00 00 00 00 00 00 00 02   00 00 FF FF 00 00 00 00"
                         "00 01 00 00 80 00 00 00   00 02 12 34 56 78 9A BC");
  Bytes pltt = hex("00 11   00 00 00 00 00 00 00 00 00 00 00 00 00 00");
  for (int i = 0; i < 17; ++i)
    pltt = vt::concat({pltt, hex("00 00 00 00"), Bytes{static_cast<uint8_t>(i), 0}, Bytes(10, 0)});
  ResourceFile file({one("clut", 8, clut), one("pltt", 9, pltt)});
  ASSERT_EQ(file.decode("clut", 8), 1) << file.error;
  ASSERT_EQ(file.pixels.width, 24);
  ASSERT_EQ(file.pixels.height, 8);
  EXPECT_EQ(at(file.pixels, 0, 0), (Colour{255, 0, 0, 255}));
  EXPECT_EQ(at(file.pixels, 15, 7), (Colour{0, 0x80, 0, 255}));
  EXPECT_EQ(at(file.pixels, 16, 0), (Colour{0x12, 0x56, 0x9A, 255}));
  // 17 entries: two rows of squares, the second holding one.
  ASSERT_EQ(file.decode("pltt", 9), 1) << file.error;
  ASSERT_EQ(file.pixels.width, 128);
  ASSERT_EQ(file.pixels.height, 16);
  EXPECT_EQ(at(file.pixels, 8 * 15, 0), (Colour{0, 0, 15, 255}));
  EXPECT_EQ(at(file.pixels, 0, 8), (Colour{0, 0, 16, 255}));
  EXPECT_EQ(at(file.pixels, 8, 8), kClear);
}

TEST(DecodeColourIcons, PixelsInsideTheMaskWithTheirOwnTable) {
  // 4 x 2, 8 bits; mask rows A0 / F0; table {0: red, 1: blue}.
  Bytes cicn = hex("00 00 00 00   80 04   00 00 00 00 00 02 00 04   00 00 00 00 00 00 00 00"
                   "00 48 00 00 00 48 00 00   00 00 00 08 00 01 00 08   00 00 00 00   00 00 00 00"
                   "00 00 00 00"
                   "00 00 00 00   00 02   00 00 00 00 00 02 00 04"
                   "00 00 00 00   00 02   00 00 00 00 00 02 00 04"
                   "00 00 00 00"
                   "A0 00 F0 00   F0 00 F0 00"
                   "00 00 00 00 00 00 00 01   00 00 FF FF 00 00 00 00   00 01 00 00 00 00 FF FF"
                   "00 01 00 01   01 01 00 00");
  ResourceFile file({one("cicn", 128, cicn)});
  ASSERT_EQ(file.decode("cicn", 128), 1) << file.error;
  ASSERT_EQ(file.pixels.width, 4);
  ASSERT_EQ(file.pixels.height, 2);
  const Colour red{255, 0, 0, 255}, blue{0, 0, 255, 255};
  EXPECT_EQ(at(file.pixels, 0, 0), red);
  EXPECT_EQ(at(file.pixels, 1, 0), kClear);
  EXPECT_EQ(at(file.pixels, 2, 0), red);
  EXPECT_EQ(at(file.pixels, 3, 0), kClear);
  EXPECT_EQ(at(file.pixels, 0, 1), blue);
  EXPECT_EQ(at(file.pixels, 1, 1), blue);
  EXPECT_EQ(at(file.pixels, 3, 1), red);
}

TEST(DecodeRefused, UnsupportedTypesShortDataAndForeignReferences) {
  ResourceFile file({one("STR ", 1, hex("03 61 62 63")), one("ICN#", 2, hex("00 01 02")),
                     one("PAT#", 3, hex("00 05 00 00")), one("SICN", 4, hex("00 01 02")),
                     one("clut", 5, hex("00 00 00 00 00 00 00 05"))});
  EXPECT_EQ(file.decode("STR ", 1), 0);
  EXPECT_STREQ(file.error, "STR  1: type not supported");
  EXPECT_EQ(file.decode("ICN#", 2), 0);
  EXPECT_STREQ(file.error, "ICN# 2: ICN# data cut short: 3 of 128 bytes");
  EXPECT_EQ(file.decode("PAT#", 3), 0);
  EXPECT_STREQ(file.error, "PAT# 3: the PAT# data is cut short");
  EXPECT_EQ(file.decode("SICN", 4), 0);
  EXPECT_STREQ(file.error, "SICN 4: SICN data of 3 bytes, not a multiple of 32");
  EXPECT_EQ(file.decode("clut", 5), 0);
  EXPECT_STREQ(file.error, "clut 5: the clut data is cut short");
  EXPECT_EQ(file.pixels.rgba, nullptr);

  MacBinRefEntry stranger{};
  EXPECT_EQ(MacBin_DecodeResource(file.channel(), &stranger, &file.pixels, file.error), 0);
  EXPECT_STREQ(file.error, "not a resource of this reading channel");
  EXPECT_EQ(MacBin_DecodeResource(nullptr, &stranger, &file.pixels, file.error), 0);
  EXPECT_STREQ(file.error, "no channel or no resource");
}

}  // namespace
