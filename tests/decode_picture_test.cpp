// QuickDraw pictures decoded through MacBin_DecodePicture: pictures built
// opcode by opcode with known pixels, a walk over every opcode of the
// version 1 and version 2 tables, hostile pictures, and pictures written by
// ImageMagick and netpbm compared pixel for pixel with their source.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/colour.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

using vt::Colour;
constexpr Colour kWhite{255, 255, 255, 255}, kBlack{0, 0, 0, 255};
constexpr Colour kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255};

struct Decoded {
  int32_t result = 0;
  MacBinPixels pixels{};
  char error[128] = "unset";
  explicit Decoded(const Bytes &picture) {
    result = MacBin_DecodePicture(picture.data(), static_cast<int32_t>(picture.size()), &pixels, error);
  }
  ~Decoded() { MacBin_FreePixels(&pixels); }
  Colour at(int x, int y) const {
    const uint8_t *q = pixels.rgba + (static_cast<size_t>(y) * static_cast<size_t>(pixels.width) + static_cast<size_t>(x)) * 4;
    return Colour{q[0], q[1], q[2], q[3]};
  }
  // Rows as letters: W white, K black, R red, G green, B blue, ? other.
  std::string rows() const {
    std::string text;
    for (int y = 0; y < pixels.height; ++y) {
      for (int x = 0; x < pixels.width; ++x) {
        const Colour c = at(x, y);
        text += c == kWhite ? 'W' : c == kBlack ? 'K' : c == kRed ? 'R' : c == kGreen ? 'G' : c == kBlue ? 'B' : '?';
      }
      text += '\n';
    }
    return text;
  }
};

// A version 2 picture of `height` x `width` with a standard header.
Bytes v2_start(int height, int width) {
  Bytes b = hex("00 00  00 00 00 00");
  vt::append_be16(b, static_cast<uint32_t>(height));
  vt::append_be16(b, static_cast<uint32_t>(width));
  return vt::concat({b, hex("00 11 02 FF  0C 00 FF FF FF FF  00 00 00 00 00 00 00 00"
                            "00 00 00 00 00 00 00 00  00 00 00 00")});
}
Bytes v1_start(int height, int width) {
  Bytes b = hex("00 00  00 00 00 00");
  vt::append_be16(b, static_cast<uint32_t>(height));
  vt::append_be16(b, static_cast<uint32_t>(width));
  return vt::concat({b, hex("11 01")});
}
Bytes rect(int top, int left, int bottom, int right) {
  Bytes b;
  for (int v : {top, left, bottom, right}) vt::append_be16(b, static_cast<uint32_t>(v & 0xFFFF));
  return b;
}
// Pads a version 2 picture to an even length, then the end opcode.
Bytes v2_end(Bytes b) {
  if (b.size() % 2) b.push_back(0);
  return vt::concat({b, hex("00 FF")});
}
// The pixel map fields after the row bytes, for an indexed map.
Bytes indexed_map(int height, int width, int bits) {
  Bytes b = vt::concat({rect(0, 0, height, width), hex("00 00 00 00 00 00 00 00  00 48 00 00 00 48 00 00  00 00")});
  vt::append_be16(b, static_cast<uint32_t>(bits));
  b = vt::concat({b, hex("00 01")});
  vt::append_be16(b, static_cast<uint32_t>(bits));
  return vt::concat({b, hex("00 00 00 00  00 00 00 00  00 00 00 00")});
}
// Colour table: white, red, green, blue, black (values 0 to 4).
const Bytes kTable = hex("00 00 00 00 00 00 00 04"
                         "00 00 FF FF FF FF FF FF  00 01 FF FF 00 00 00 00  00 02 00 00 FF FF 00 00"
                         "00 03 00 00 00 00 FF FF  00 04 00 00 00 00 00 00");

TEST(DecodePicture, PackedEightBitRectangleWithItsTable) {
  // 10 x 2, row bytes 10: packed rows with count bytes.
  Bytes p = vt::concat({v2_start(2, 10), hex("00 98 80 0A"), indexed_map(2, 10, 8), kTable,
                        rect(0, 0, 2, 10), rect(0, 0, 2, 10), hex("00 00"),
                        hex("02 F7 01"),                                  // ten 1s
                        hex("0B 09 00 01 02 03 04 00 01 02 03 04")});     // literal
  Decoded d(v2_end(p));
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_STREQ(d.error, "");
  EXPECT_EQ(d.rows(), "RRRRRRRRRR\nWRGBKWRGBK\n");
}

TEST(DecodePicture, NarrowRowsAreUnpackedAndTwoAndFourBitPixels) {
  // 3 x 2 at 8 bits (row bytes 4 < 8: no counts), then 4 x 1 at 2 bits and
  // 4 x 1 at 4 bits below it.
  Bytes p = vt::concat({v2_start(4, 4), hex("00 98 80 04"), indexed_map(2, 3, 8), kTable,
                        rect(0, 0, 2, 3), rect(0, 0, 2, 3), hex("00 00"), hex("01 02 03 00  04 00 01 00")});
  p = vt::concat({p, hex("00 98 80 02"), indexed_map(1, 4, 2), kTable, rect(0, 0, 1, 4), rect(2, 0, 3, 4),
                  hex("00 00"), hex("1B 00")});  // 0 1 2 3
  p = vt::concat({p, hex("00 98 80 02"), indexed_map(1, 4, 4), kTable, rect(0, 0, 1, 4), rect(3, 0, 4, 4),
                  hex("00 00"), hex("43 21")});
  Decoded d(v2_end(p));
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_EQ(d.rows(), "RGBW\nKWRW\nWRGB\nKBGR\n");
}

TEST(DecodePicture, BitMapsInTheFourModes) {
  // Version 1, 8 x 3.  Row 0: copy F0, then xor 3C.  Row 1: copy FF, then
  // bic 0F.  Row 2: or 81 with a red foreground.
  Bytes p = v1_start(3, 8);
  const auto bits = [&](int row, int mode, uint8_t value) {
    p = vt::concat({p, hex("90 00 02"), rect(0, 0, 1, 8), rect(0, 0, 1, 8), rect(row, 0, row + 1, 8)});
    vt::append_be16(p, static_cast<uint32_t>(mode));
    p = vt::concat({p, Bytes{value, 0}});
  };
  bits(0, 0, 0xF0);
  bits(0, 2, 0x3C);
  bits(1, 0, 0xFF);
  bits(1, 3, 0x0F);
  p = vt::concat({p, hex("0E 00 00 00 CD")});  // FgColor red (205)
  bits(2, 1, 0x81);
  p.push_back(0xFF);
  Decoded d(p);
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_STREQ(d.error, "");
  EXPECT_EQ(d.at(0, 2), (Colour{0xDD, 0x08, 0x06, 255}));
  EXPECT_EQ(d.rows(), "KKWWKKWW\nKKKKWWWW\n?WWWWWW?\n");
}

TEST(DecodePicture, ScaledSourceRectangleAndClipRegion) {
  // A 2 x 2 image (R G / B K) scaled to 4 x 4; then clip 0,0,1,1 and a
  // white-free redraw of just the first pixel's source as blue elsewhere.
  Bytes p = vt::concat({v2_start(4, 4), hex("00 98 80 02"), indexed_map(2, 2, 8), kTable,
                        rect(0, 0, 2, 2), rect(0, 0, 4, 4), hex("00 00"), hex("01 02  03 04")});
  Decoded d(v2_end(p));
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_EQ(d.rows(), "RRGG\nRRGG\nBBKK\nBBKK\n");

  // Source rectangle: only the right column, drawn into the left 1 x 2;
  // the clip region keeps the top row only.
  Bytes q = vt::concat({v2_start(2, 2), hex("00 01 00 0A"), rect(0, 0, 1, 2), hex("00 98 80 02"),
                        indexed_map(2, 2, 8), kTable, rect(0, 1, 2, 2), rect(0, 0, 2, 1), hex("00 00"),
                        hex("01 02  03 04")});
  Decoded e(v2_end(q));
  ASSERT_EQ(e.result, 1) << e.error;
  EXPECT_EQ(e.rows(), "GW\nWW\n");
}

TEST(DecodePicture, RegionFormDrawsOnlyInsideItsRegion) {
  // Region {(0,0), (1,0), (0,1)}: scan lines 0: 0 2; 1: 1 2; 2: 0 1.
  const Bytes region = vt::concat({hex("00 24"), rect(0, 0, 2, 2),
                                   hex("00 00 00 00 00 02 7F FF  00 01 00 01 00 02 7F FF"
                                       "00 02 00 00 00 01 7F FF  7F FF")});
  ASSERT_EQ(region.size(), 0x24u);
  Bytes p = vt::concat({v2_start(2, 2), hex("00 99 80 02"), indexed_map(2, 2, 8), kTable,
                        rect(0, 0, 2, 2), rect(0, 0, 2, 2), hex("00 00"), region, hex("04 04 04 04")});
  Decoded d(v2_end(p));
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_EQ(d.rows(), "KK\nKW\n");
}

// Direct pixel map fields after the row bytes.
Bytes direct_map(int height, int width, int pack_type, int bits, int components) {
  Bytes b = vt::concat({rect(0, 0, height, width), hex("00 00")});
  vt::append_be16(b, static_cast<uint32_t>(pack_type));
  b = vt::concat({b, hex("00 00 00 00  00 48 00 00 00 48 00 00  00 10")});
  vt::append_be16(b, static_cast<uint32_t>(bits));
  vt::append_be16(b, static_cast<uint32_t>(components));
  vt::append_be16(b, bits == 16 ? 5u : 8u);
  return vt::concat({b, hex("00 00 00 00  00 00 00 00  00 00 00 00")});
}
Bytes direct_op(int opcode, int row_bytes, const Bytes &map, int height, int width) {
  Bytes b;
  vt::append_be16(b, static_cast<uint32_t>(opcode));
  b = vt::concat({b, hex("00 00 00 FF")});
  vt::append_be16(b, 0x8000u | static_cast<uint32_t>(row_bytes));
  return vt::concat({b, map, rect(0, 0, height, width), rect(0, 0, height, width), hex("00 00")});
}

TEST(DecodePicture, DirectPixelsInEveryPackingType) {
  // 8 x 1 each: red, green, blue, black, white, then 12 34 56 three times.
  const Bytes reds = hex("FF 00 00 00 FF 12 12 12"), greens = hex("00 FF 00 00 FF 34 34 34"),
              blues = hex("00 00 FF 00 FF 56 56 56");
  // Type 4, three planes, a literal run of 24.
  Bytes p = vt::concat({v2_start(1, 8), direct_op(0x9A, 32, direct_map(1, 8, 4, 32, 3), 1, 8),
                        hex("19 17"), reds, greens, blues});
  Decoded d4(v2_end(p));
  ASSERT_EQ(d4.result, 1) << d4.error;
  EXPECT_EQ(d4.rows().substr(0, 5), "RGBKW");
  EXPECT_EQ(d4.at(6, 0), (Colour{0x12, 0x34, 0x56, 255}));

  // Type 4 with an alpha plane first (ignored).
  p = vt::concat({v2_start(1, 8), direct_op(0x9A, 32, direct_map(1, 8, 4, 32, 4), 1, 8),
                  hex("21 1F"), Bytes(8, 0x80), reds, greens, blues});
  Decoded da(v2_end(p));
  ASSERT_EQ(da.result, 1) << da.error;
  EXPECT_EQ(da.rows().substr(0, 5), "RGBKW");

  // Type 1: xRGB words, no counts.
  Bytes raw;
  for (size_t x = 0; x < 8; ++x) raw = vt::concat({raw, Bytes{0, reds[x], greens[x], blues[x]}});
  p = vt::concat({v2_start(1, 8), direct_op(0x9A, 32, direct_map(1, 8, 1, 32, 3), 1, 8), raw});
  Decoded d1(v2_end(p));
  ASSERT_EQ(d1.result, 1) << d1.error;
  EXPECT_EQ(d1.rows().substr(0, 5), "RGBKW");

  // Type 2: RGB triples, no counts.
  Bytes triples;
  for (size_t x = 0; x < 8; ++x) triples = vt::concat({triples, Bytes{reds[x], greens[x], blues[x]}});
  p = vt::concat({v2_start(1, 8), direct_op(0x9A, 32, direct_map(1, 8, 2, 32, 3), 1, 8), triples});
  Decoded d2(v2_end(p));
  ASSERT_EQ(d2.result, 1) << d2.error;
  EXPECT_EQ(d2.at(7, 0), (Colour{0x12, 0x34, 0x56, 255}));

  // 16 bits, type 3: four red words repeated, then 7FFF, 03E0, 001F, 0000 literal.
  p = vt::concat({v2_start(1, 8), direct_op(0x9A, 16, direct_map(1, 8, 3, 16, 3), 1, 8),
                  hex("0C FD 7C 00 03 7F FF 03 E0 00 1F 00 00")});
  Decoded d3(v2_end(p));
  ASSERT_EQ(d3.result, 1) << d3.error;
  EXPECT_EQ(d3.rows(), "RRRRWGBK\n");

  // DirectBitsRgn with a rectangular region over the left half.
  p = vt::concat({v2_start(1, 8), direct_op(0x9B, 32, direct_map(1, 8, 4, 32, 3), 1, 8),
                  hex("00 0A"), rect(0, 0, 1, 4), hex("19 17"), Bytes(8, 0), Bytes(8, 0), Bytes(8, 0)});
  Decoded dr(v2_end(p));
  ASSERT_EQ(dr.result, 1) << dr.error;
  EXPECT_EQ(dr.rows(), "KKKKWWWW\n");
}

TEST(DecodePicture, ThirtyTwoBitRowsOf4096PixelsSpillIntoTheReservedBit) {
  // 4096 x 4 bytes = 16384 row bytes, stored as C000 (flag + 0x4000) as
  // common writers do; each plane is 32 runs of 128 bytes: red, then no
  // green and no blue.
  Bytes planes;
  for (const uint8_t value : {uint8_t{0xFF}, uint8_t{0x00}, uint8_t{0x00}})
    for (int run = 0; run < 32; ++run) planes = vt::concat({planes, Bytes{0x81, value}});
  const Bytes p = vt::concat({v2_start(1, 4096), direct_op(0x9A, 0x4000, direct_map(1, 4096, 4, 32, 3), 1, 4096),
                              hex("00 C0"), planes});
  Decoded d(v2_end(p));
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_EQ(d.at(0, 0), kRed);
  EXPECT_EQ(d.at(4095, 0), kRed);
}

// The data each opcode of the tables takes, written here from the tables
// themselves (not from the decoder): one sample of each.
Bytes operands(uint32_t op, bool v2) {
  const Bytes region = hex("00 0A 00 00 00 00 00 64 00 64");
  if (op == 0x0001 || (op >= 0x80 && op <= 0x87) || (op >= 0x70 && op <= 0x77)) return region;
  if (op == 0x0011) return v2 ? hex("02 FF") : hex("01");
  if (op == 0x0012) return hex("00 00  AA 55 AA 55 AA 55 AA 55");
  if (op == 0x0013) return hex("00 02  AA 55 AA 55 AA 55 AA 55  00 00 00 00 00 00");
  if (op == 0x0014)  // a 1-bit pixel pattern of 8 x 8 with a two-colour table
    return vt::concat({hex("00 01  AA 55 AA 55 AA 55 AA 55  80 02"), indexed_map(8, 8, 1),
                       hex("00 00 00 00 00 00 00 01  00 00 FF FF FF FF FF FF  00 01 00 00 00 00 00 00"),
                       Bytes(16, 0x5A)});
  if (op == 0x000E) return hex("00 00 00 21");  // black
  if (op == 0x000F) return hex("00 00 00 1E");  // white
  if (op == 0x001B) return hex("FF FF FF FF FF FF");
  if (op == 0x0028) return hex("00 01 00 02  03 41 42 43");
  if (op == 0x0029 || op == 0x002A) return hex("05  02 41 42");
  if (op == 0x002B) return hex("05 06  01 41");
  if ((op >= 0x24 && op <= 0x2F) || (op >= 0x92 && op <= 0x97) || (op >= 0x9C && op <= 0x9F) ||
      (op >= 0xA2 && op <= 0xAF))
    return hex("00 03 41 42 43");
  if (op == 0x00A1) return hex("00 64 00 03 41 42 43");
  if ((op >= 0xD0 && op <= 0xFE) || op >= 0x8100) return hex("00 00 00 05 01 02 03 04 05");
  if (op >= 0x8000) return {};
  if (op == 0x02FF) return hex("00 02");
  if (op >= 0x0100) return Bytes((op >> 8) * 2, 0x11);
  size_t size = 0;
  switch (op) {
    case 0x04: size = 1; break;
    case 0x03: case 0x05: case 0x08: case 0x0D: case 0x15: case 0x16: case 0x23: case 0xA0: size = 2; break;
    case 0x06: case 0x07: case 0x0B: case 0x0C: case 0x0E: case 0x0F: case 0x21: size = 4; break;
    case 0x1A: case 0x1B: case 0x1D: case 0x1F: case 0x22: size = 6; break;
    case 0x02: case 0x09: case 0x0A: case 0x10: case 0x20: size = 8; break;
    default:
      if ((op >= 0x30 && op <= 0x37) || (op >= 0x40 && op <= 0x47) || (op >= 0x50 && op <= 0x57)) size = 8;
      if (op >= 0x60 && op <= 0x67) size = 12;
      if (op >= 0x68 && op <= 0x6F) size = 4;
  }
  return Bytes(size, 0);
}

bool draws(uint32_t op) { return op == 0x90 || op == 0x91 || (op >= 0x98 && op <= 0x9B) || op == 0xFF; }

TEST(DecodePictureWalk, EveryVersion2OpcodeIsSkippedByItsLength) {
  Bytes p = v2_start(1, 1);
  std::vector<uint32_t> ops;
  for (uint32_t op = 0; op < 0x100; ++op)
    if (!draws(op)) ops.push_back(op);
  for (uint32_t op : {0x0100u, 0x01FFu, 0x0200u, 0x02FFu, 0x0BFFu, 0x0C00u, 0x0C01u, 0x7F00u, 0x7FFFu,
                      0x8000u, 0x80FFu, 0x8100u, 0x8200u, 0x8201u, 0xFFFFu})
    ops.push_back(op);
  for (uint32_t op : ops) {
    if (p.size() % 2) p.push_back(0);
    vt::append_be16(p, op);
    p = vt::concat({p, operands(op, true)});
  }
  // Still in step: a black pixel drawn after them all.
  if (p.size() % 2) p.push_back(0);
  p = vt::concat({p, hex("00 98 80 02"), indexed_map(1, 1, 8), kTable, rect(0, 0, 1, 1), rect(0, 0, 1, 1),
                  hex("00 00 04 00")});
  Decoded d(v2_end(p));
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_EQ(d.at(0, 0), kBlack);
  EXPECT_EQ(std::string(d.error).substr(0, 42), "not drawn: 0x0017 0x0018 0x0019 0x0024 0x0");
  EXPECT_EQ(std::string(d.error).substr(std::strlen(d.error) - 4), " ...");
}

TEST(DecodePictureWalk, EveryVersion1OpcodeIsSkippedByItsLength) {
  Bytes p = v1_start(1, 8);
  for (uint32_t op = 0; op <= 0xA1; ++op) {
    if (draws(op) || (op >= 0x12 && op <= 0x1F) || op == 0x9A || op == 0x9B) continue;
    p.push_back(static_cast<uint8_t>(op));
    p = vt::concat({p, operands(op, false)});
  }
  p = vt::concat({p, hex("90 00 02"), rect(0, 0, 1, 8), rect(0, 0, 1, 8), rect(0, 0, 1, 8), hex("00 00 A5 00 FF")});
  Decoded d(p);
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_EQ(d.rows(), "KWKWWKWK\n");
  EXPECT_EQ(std::string(d.error).substr(0, 23), "not drawn: 0x0024 0x002");
}

TEST(DecodePictureWalk, OnlyWhatIsLeftUndrawnIsNamed) {
  // QuickTime-compressed image data (a length long, then its bytes), a
  // reserved opcode without data, a reserved rectangle verb; the drawing
  // opcodes around them are not named.
  Bytes p = vt::concat({v2_start(2, 2), hex("00 31"), rect(0, 0, 1, 1), hex("82 00 00 00 00 04 DE AD BE EF"),
                        hex("00 B0  00 37"), rect(0, 0, 2, 2), hex("00 28 00 01 00 00 01 41  00 38")});
  Decoded d(v2_end(p));
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_STREQ(d.error, "not drawn: 0x8200 (QuickTime) 0x00B0 0x0037");
  EXPECT_EQ(d.at(0, 0), kBlack);
}

TEST(DecodePictureWalk, UndefinedModesAreDrawnAsCopiesAndNamed) {
  Bytes p = vt::concat({v2_start(1, 1), hex("00 98 80 02"), indexed_map(1, 1, 8), kTable, rect(0, 0, 1, 1),
                        rect(0, 0, 1, 1), hex("00 2A 01 00")});
  Decoded d(v2_end(p));
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_STREQ(d.error, "not drawn: 0x0098/mode 42");
  EXPECT_EQ(d.at(0, 0), kRed);
}

TEST(DecodePictureRefused, HostilePicturesGiveReasons) {
  const auto refused = [](const Bytes &p, const char *reason) {
    Decoded d(p);
    EXPECT_EQ(d.result, 0) << reason;
    EXPECT_STREQ(d.error, reason);
    EXPECT_EQ(d.pixels.rgba, nullptr);
    EXPECT_EQ(d.pixels.width, 0);
  };
  refused(hex("00 00"), "the picture is cut short");
  refused(hex("00 00 00 00 00 00 00 01 00 01 12 34"), "not a QuickDraw picture: no version opcode after the frame");
  refused(v2_end(v2_start(16385, 2)), "picture frame 2 x 16385 is larger than 16384 x 16384");
  refused(v2_end(v2_start(0, 5)), "picture frame is empty (5 x 0)");
  refused(v2_start(2, 2), "the picture ends before its end opcode");
  refused(v2_end(vt::concat({v2_start(2, 2), hex("00 01 00 04 00 00")})),
          "opcode 0x0001 at offset 40: region of 4 bytes (at least 10)");
  refused(v2_end(vt::concat({v2_start(2, 2), hex("00 01 00 40 00 00 00 00 00 02 00 02")})),
          "opcode 0x0001 at offset 40 is cut short");
  // A pixel map whose rows are missing, and one 40000 rows high.
  refused(v2_end(vt::concat({v2_start(2, 2), hex("00 98 80 02"), indexed_map(2, 2, 8), kTable,
                             rect(0, 0, 2, 2), rect(0, 0, 2, 2), hex("00 00 01")})),
          "the picture ends before its end opcode");
  refused(v2_end(vt::concat({v2_start(2, 2), hex("00 98 80 02"), indexed_map(-25536, 2, 8)})),
          "opcode 0x0098 at offset 40: 0x0098 image: bounds 2 x -25536");
  refused(v2_end(vt::concat({v2_start(2, 2), hex("00 98 80 02"), indexed_map(2, 2, 3)})),
          "opcode 0x0098 at offset 40: 0x0098 image: pixels of type 0 and 3 bits");
  // Packing by component on 16-bit pixels (with 65535 components claimed),
  // and by pixel on 32-bit ones: the row would unpack past its buffer.
  refused(v2_end(vt::concat({v2_start(1, 8), direct_op(0x9A, 16, direct_map(1, 8, 4, 16, 0xFFFF), 1, 8),
                             hex("0C FD 7C 00 03 7F FF 03 E0 00 1F 00 00")})),
          "opcode 0x009A at offset 40: 0x009A image: packing type 4 for 16-bit pixels");
  refused(v2_end(vt::concat({v2_start(1, 8), direct_op(0x9A, 32, direct_map(1, 8, 3, 32, 3), 1, 8),
                             hex("00")})),
          "opcode 0x009A at offset 40: 0x009A image: packing type 3 for 32-bit pixels");
  MacBinPixels pixels{};
  char error[128];
  EXPECT_EQ(MacBin_DecodePicture(nullptr, 5, &pixels, error), 0);
  EXPECT_STREQ(error, "no picture data");
}

// ---- Pictures from other writers ------------------------------------------------

// A small test image as a binary PPM: 9 x 5 of a few colours, written here.
Bytes test_ppm(std::vector<Colour> &pixels) {
  const Colour palette[] = {kRed, kGreen, kBlue, kWhite, kBlack, {0x12, 0x34, 0x56, 255}, {0xFE, 0x80, 0x01, 255}};
  Bytes ppm = vt::bytes_of("P6\n9 5\n255\n");
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 9; ++x) {
      const Colour c = palette[(x * 3 + y * 5 + x * y) % 7];
      pixels.push_back(c);
      ppm.insert(ppm.end(), {c.r, c.g, c.b});
    }
  return ppm;
}

void expect_same_pixels(const Bytes &pict_file, const std::vector<Colour> &expected) {
  ASSERT_GT(pict_file.size(), 512u);
  const Bytes picture(pict_file.begin() + 512, pict_file.end());
  Decoded d(picture);
  ASSERT_EQ(d.result, 1) << d.error;
  ASSERT_EQ(d.pixels.width, 9);
  ASSERT_EQ(d.pixels.height, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(d.at(x, y), expected[static_cast<size_t>(y * 9 + x)]) << x << "," << y;
}

TEST(DecodePicturePeers, NetpbmPictureIsPixelExact) {
  const std::string ppmtopict = vt::require_peer("ppmtopict", "netpbm");
  if (ppmtopict.empty()) GTEST_SKIP() << "netpbm not installed";
  vt::TempDir dir;
  std::vector<Colour> expected;
  vt::write_file(dir.file("in.ppm"), test_ppm(expected));
  std::string output;
  // Its stderr stays out of the picture: run_command adds 2>&1 at the end.
  ASSERT_EQ(vt::run_command("(" + ppmtopict + " " + dir.file("in.ppm") + " > " + dir.file("out.pict") + ")", &output), 0)
      << output;
  expect_same_pixels(vt::read_file(dir.file("out.pict")), expected);
}

TEST(DecodePicturePeers, ImageMagickPicturesArePixelExact) {
  const std::string convert = vt::require_peer("convert", "imagemagick");
  if (convert.empty()) GTEST_SKIP() << "ImageMagick not installed";
  vt::TempDir dir;
  std::vector<Colour> expected;
  vt::write_file(dir.file("in.ppm"), test_ppm(expected));
  std::string output;
  // Seven colours: an 8-bit palette picture; with -type TrueColor a direct one.
  ASSERT_EQ(vt::run_command(convert + " " + dir.file("in.ppm") + " " + dir.file("palette.pict"), &output), 0) << output;
  expect_same_pixels(vt::read_file(dir.file("palette.pict")), expected);
  ASSERT_EQ(vt::run_command(convert + " " + dir.file("in.ppm") + " -type TrueColor " + dir.file("direct.pict"), &output), 0)
      << output;
  expect_same_pixels(vt::read_file(dir.file("direct.pict")), expected);
}

}  // namespace

// The header a host reads without drawing: version, frame as stored
// (negative coordinates included) and the resolution only an extended
// version 2 header states.
TEST(PictureInfo, VersionFrameAndStatedResolution) {
  MacBinPictureInfo info{};
  // Version 1, frame (-2, -3) to (10, 20).
  const Bytes v1 = hex("00 00  FF FE FF FD 00 0A 00 14  11 01  FF");
  ASSERT_EQ(MacBin_GetPictureInfo(v1.data(), static_cast<int64_t>(v1.size()), &info), 1);
  EXPECT_EQ(info.version, 1);
  EXPECT_EQ(info.top, -2);
  EXPECT_EQ(info.left, -3);
  EXPECT_EQ(info.bottom, 10);
  EXPECT_EQ(info.right, 20);
  EXPECT_EQ(info.resolution_stated, 0);
  EXPECT_EQ(info.horizontal_dpi, 0);

  // Extended version 2: 144 x 72.5 dpi.
  const Bytes extended = hex("00 00  00 00 00 00 00 02 00 03  00 11 02 FF  0C 00 FF FE 00 00"
                             "  00 90 00 00  00 48 80 00  00 00 00 00 00 04 00 06  00 00 00 00");
  ASSERT_EQ(MacBin_GetPictureInfo(extended.data(), static_cast<int64_t>(extended.size()), &info), 1);
  EXPECT_EQ(info.version, 2);
  EXPECT_EQ(info.bottom, 2);
  EXPECT_EQ(info.right, 3);
  EXPECT_EQ(info.resolution_stated, 1);
  EXPECT_EQ(info.horizontal_dpi, 144 << 16);
  EXPECT_EQ(info.vertical_dpi, (72 << 16) | 0x8000);

  // A standard version 2 header (-1) states no resolution, nor does an
  // extended one cut short before its vertical resolution ends.
  const Bytes standard = v2_start(2, 3);
  ASSERT_EQ(MacBin_GetPictureInfo(standard.data(), static_cast<int64_t>(standard.size()), &info), 1);
  EXPECT_EQ(info.version, 2);
  EXPECT_EQ(info.resolution_stated, 0);
  ASSERT_EQ(MacBin_GetPictureInfo(extended.data(), 27, &info), 1);
  EXPECT_EQ(info.resolution_stated, 0);
  ASSERT_EQ(MacBin_GetPictureInfo(extended.data(), 28, &info), 1);
  EXPECT_EQ(info.resolution_stated, 1);
}

TEST(PictureInfo, AnythingElseIsNoPictureAndZeroesTheRecord) {
  MacBinPictureInfo info{};
  const Bytes v1 = hex("00 00  00 00 00 00 00 0A 00 14  11 01");
  ASSERT_EQ(MacBin_GetPictureInfo(v1.data(), static_cast<int64_t>(v1.size()), &info), 1);
  // One byte short of the version opcode, a wrong version byte, no bytes.
  EXPECT_EQ(MacBin_GetPictureInfo(v1.data(), 11, &info), 0);
  EXPECT_EQ(info.bottom, 0);
  const Bytes wrong = hex("00 00  00 00 00 00 00 0A 00 14  11 02");
  EXPECT_EQ(MacBin_GetPictureInfo(wrong.data(), static_cast<int64_t>(wrong.size()), &info), 0);
  EXPECT_EQ(MacBin_GetPictureInfo(nullptr, 12, &info), 0);
  EXPECT_EQ(MacBin_GetPictureInfo(v1.data(), 0, &info), 0);
  EXPECT_EQ(MacBin_GetPictureInfo(v1.data(), 12, nullptr), 0);
}
