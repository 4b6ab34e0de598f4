// Text in pictures: a FONT strike built here (three glyphs whose pixels
// are known) placed exactly by LongText, DHText, DVText and DHDVText, with
// its styles, spacing and text modes; the fonts of the file a picture is
// in before those a host adds, and those before the built-in font; FONT
// and NFNT resources drawn as sample images.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/macbinary.hpp"
#include "support/pict_builder.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::DecodedPicture;
using vt::hex;
using vt::PictBuilder;
using vt::drawn;
using vt::lines;
using vt::point;

Bytes operator+(const Bytes &a, const Bytes &b) { return vt::concat({a, b}); }

// A FONT strike: characters 'A' to 'C', 3 rows (ascent 2, descent 1).
//   A  #.#  image columns 0-2, advance 4
//      .#.
//      #.#
//   B  ##   columns 3-4, drawn one pixel right of the pen, advance 3
//   C       none: the missing glyph is drawn
//   missing  # (a bar, column 5), advance 2
Bytes tiny_font(bool nfnt_high_word = false) {
  Bytes font = hex(
      "90 00  00 41  00 43  00 04  00 00  FF FF  00 04  00 03 | type, A-C, widMax 4, kernMax 0, nDescent -1, 4 x 3\n"
      "00 0D  00 02  00 01  00 00  00 01 | owTLoc 13 words on, ascent 2, descent 1, leading 0, 1 word a row\n"
      "BC 00  5C 00  BC 00 | the strike's 3 rows\n"
      "00 00  00 03  00 05  00 05  00 06 | where A, B, C, the missing glyph start, and the end\n"
      "00 04  01 03  FF FF  00 02  FF FF | offsets and advances");
  if (nfnt_high_word) vt::store_be16(font, 10, 0);  // an NFNT's high word of owTLoc, here 0
  return font;
}

// Family 200 ("Tiny"), size 9: FONT 200 * 128 + 9, and 200 * 128 naming it.
constexpr int kFamily = 200;
constexpr uint32_t kTinyId = kFamily * 128 + 9;

// A MacBinary file with the tiny font; the host's font list holds it while
// the object lives.
class HostFont {
 public:
  HostFont() {
    vt::init_recording();
    vt::MacBinaryPlan plan;
    plan.types = {vt::MbType{"FONT", {vt::MbResource{kFamily * 128, "Tiny", {}}, vt::MbResource{kTinyId, std::nullopt, tiny_font()}}}};
    const std::string path = dir_.file("font.bin");
    vt::write_file(path, vt::build_macbinary(plan).bytes);
    MacBinChannel *channel = MacBin_OpenR(path.c_str());
    EXPECT_NE(channel, nullptr);
    taken_ = MacBin_AddFontFile(channel);
    MacBin_Close(channel);
  }
  ~HostFont() { MacBin_ClearFonts(); }
  int32_t taken() const { return taken_; }

 private:
  vt::TempDir dir_;
  int32_t taken_ = 0;
};

PictBuilder tiny_text(int height, int width) {
  PictBuilder picture(height, width);
  picture.op(0x03, vt::be_words({kFamily})).op(0x0D, vt::be_words({9}));
  return picture;
}

TEST(DrawText, GlyphsArePlacedOnTheBaselineByTheirOffsetsAndAdvances) {
  HostFont font;
  ASSERT_EQ(font.taken(), 1);
  // "ABCA" from (1, 3): A at 1, B at 5 (+1), the missing glyph at 8, A at 10.
  EXPECT_EQ(drawn(tiny_text(5, 14).op(0x28, point(1, 3) + hex("04") + vt::bytes_of("ABCA"))),
            lines({"..............", ".#.#..###.#.#.", "..#...###..#..", ".#.#..###.#.#.", ".............."}));
  // DHText, DVText and DHDVText move from the last text's place.
  EXPECT_EQ(drawn(tiny_text(8, 12)
                      .op(0x28, point(0, 2) + hex("01 41"))
                      .op(0x29, hex("05 01 42"))
                      .op(0x2A, hex("03 01 41"))
                      .op(0x2B, hex("04 01 01 42"))),
            lines({"#.#...##....", ".#....##....", "#.#...##....", ".....#.#....", "......#...##", ".....#.#..##",
                   "..........##", "............"}));
}

TEST(DrawText, StylesAreDerivedFromThePlainStrike) {
  HostFont font;
  // Bold (each pixel also one to the right, advance + 1) and underline (the
  // row below the baseline, the run's width).
  EXPECT_EQ(drawn(tiny_text(5, 8).op(0x04, hex("05")).op(0x28, point(1, 2) + hex("01 41"))),
            lines({".####...", "..##....", ".####...", ".#####..", "........"}));
  // Condense and extend change the advance only; italic slants the rows
  // above the baseline to the right.
  EXPECT_EQ(drawn(tiny_text(3, 10).op(0x04, hex("20")).op(0x28, point(0, 2) + hex("02 41 41"))),
            lines({"#.##.#....", ".#..#.....", "#.##.#...."}));
  EXPECT_EQ(drawn(tiny_text(3, 10).op(0x04, hex("40")).op(0x28, point(0, 2) + hex("02 41 41"))),
            lines({"#.#..#.#..", ".#....#...", "#.#..#.#.."}));
  // Outline: the pixels around the glyph's, not its own.
  EXPECT_EQ(drawn(tiny_text(6, 6).op(0x04, hex("08")).op(0x28, point(1, 3) + hex("01 42"))),
            lines({".####.", ".#..#.", ".#..#.", ".#..#.", ".####.", "......"}));
}

TEST(DrawText, SpacingAndModes) {
  HostFont font;
  // ChExtra (4.12 fixed point) 2 pixels between characters; srcXor text
  // over black inverts; srcBic clears.
  EXPECT_EQ(drawn(tiny_text(3, 12).op(0x16, vt::be_words({0x2000})).op(0x28, point(0, 2) + hex("02 41 41"))),
            lines({"#.#...#.#...", ".#.....#....", "#.#...#.#..."}));
  EXPECT_EQ(drawn(tiny_text(3, 4).op(0x31, vt::rect(0, 0, 3, 4)).op(0x05, vt::be_words({2})).op(0x28, point(0, 2) + hex("01 41"))),
            lines({".#.#", "#.##", ".#.#"}));
  EXPECT_EQ(drawn(tiny_text(3, 4).op(0x31, vt::rect(0, 0, 3, 4)).op(0x05, vt::be_words({3})).op(0x28, point(0, 2) + hex("01 42"))),
            lines({"#..#", "#..#", "#..#"}));
}

TEST(DrawText, SpaceExtraWidensSpaces) {
  HostFont font;
  // SpExtra 2.5 pixels: the space (the missing glyph here, a bar with an
  // advance of 2) takes 4.5, so the second A starts at 8 (of 8.5) and the
  // next space at 12 (the half is carried).
  EXPECT_EQ(drawn(tiny_text(3, 13).op(0x06, vt::hex("00 02 80 00")).op(0x28, point(0, 2) + hex("04 41 20 41 20"))),
            lines({"#.#.#...#.#.#", ".#..#....#..#", "#.#.#...#.#.#"}));
}

TEST(DrawText, FontNameFindsTheFamilyByName) {
  HostFont font;
  // The picture calls the family 7 and names it "tiny".
  PictBuilder picture(3, 4);
  picture.op(0x2C, vt::be_words({7}) + vt::be_words({7}) + hex("04") + vt::bytes_of("tiny"));
  picture.op(0x03, vt::be_words({7})).op(0x0D, vt::be_words({9})).op(0x28, point(0, 2) + hex("01 41"));
  EXPECT_EQ(drawn(picture), lines({"#.#.", ".#..", "#.#."}));
}

TEST(DrawText, WithoutFontsTheBuiltInFontIsDrawnBySize) {
  MacBin_ClearFonts();
  // "||" at size 12 from (0, 12): two bars 6 pixels apart (the 6 x 13
  // strike), above the baseline, and nothing below the strike's descent.
  DecodedPicture d(PictBuilder(16, 16).op(0x0D, vt::be_words({12})).op(0x28, point(0, 12) + hex("02 7C 7C")).finish());
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_STREQ(d.error, "");
  int first_column = -1, rows = 0;
  for (int x = 0; x < 16 && first_column < 0; ++x)
    for (int y = 0; y < 16; ++y)
      if (d.rgb(x, y) == 0) first_column = x;
  ASSERT_GE(first_column, 0);
  for (int y = 0; y < 16; ++y) {
    EXPECT_EQ(d.rgb(first_column, y), d.rgb(first_column + 6, y)) << y;
    if (d.rgb(first_column, y) == 0) {
      ++rows;
      EXPECT_LT(y, 12 + 3) << "below the descent";
    }
  }
  EXPECT_GE(rows, 8);
  // Hostile text: 255 characters at size 127, and at a place far off.
  PictBuilder far(32, 32);
  far.op(0x0D, vt::be_words({127})).op(0x28, point(-32000, 20) + hex("FF") + Bytes(255, 'W'));
  far.op(0x28, point(20, 20) + hex("FF") + Bytes(255, 'M'));
  DecodedPicture hostile(far.finish());
  EXPECT_EQ(hostile.result, 1) << hostile.error;
}

TEST(DrawText, TheFilesOwnFontsComeFirst) {
  // The host has a font of family 200 whose 'A' is a block; the file's own
  // FONT of that family draws the X.
  Bytes block = tiny_font();
  block[26] = 0xFC, block[28] = 0xFC, block[30] = 0xFC;  // A and B solid
  vt::init_recording();
  vt::TempDir dir;
  vt::MacBinaryPlan host;
  host.types = {vt::MbType{"FONT", {vt::MbResource{kTinyId, std::nullopt, block}}}};
  vt::write_file(dir.file("host.bin"), vt::build_macbinary(host).bytes);
  MacBinChannel *host_channel = MacBin_OpenR(dir.file("host.bin").c_str());
  ASSERT_NE(host_channel, nullptr);
  ASSERT_EQ(MacBin_AddFontFile(host_channel), 1);
  MacBin_Close(host_channel);

  const Bytes picture = tiny_text(3, 4).op(0x28, point(0, 2) + hex("01 41")).finish();
  vt::MacBinaryPlan plan;
  plan.types = {vt::MbType{"FONT", {vt::MbResource{kTinyId, std::nullopt, tiny_font(true)}}},
                vt::MbType{"PICT", {vt::MbResource{128, std::nullopt, picture}}}};
  vt::write_file(dir.file("pict.bin"), vt::build_macbinary(plan).bytes);
  MacBinChannel *channel = MacBin_OpenR(dir.file("pict.bin").c_str());
  ASSERT_NE(channel, nullptr);
  const MacBinRefEntry *pict = nullptr, *font = nullptr;
  for (int32_t t = 0; t < channel->type_count; ++t) {
    if (std::memcmp(channel->types[t].type, "PICT", 4) == 0) pict = &channel->types[t].refs[0];
    if (std::memcmp(channel->types[t].type, "FONT", 4) == 0) font = &channel->types[t].refs[0];
  }
  ASSERT_TRUE(pict != nullptr && font != nullptr);
  MacBinPixels pixels{};
  char error[128];
  ASSERT_EQ(MacBin_DecodeResource(channel, pict, &pixels, error), 1) << error;
  EXPECT_STREQ(error, "");
  EXPECT_EQ(pixels.rgba[1 * 4], 255) << "the file's A has a hole at (1, 0)";
  MacBin_FreePixels(&pixels);
  // Bytes alone: the host's font.
  DecodedPicture bytes_only(picture);
  EXPECT_EQ(bytes_only.rows(), lines({"###.", "###.", "###."}));
  // The FONT itself as an image: its glyphs from '!' to '~' in a row, in a
  // one-pixel white border; here A, B and the missing glyph for the rest.
  ASSERT_EQ(MacBin_DecodeResource(channel, font, &pixels, error), 1) << error;
  EXPECT_EQ(pixels.height, 5);
  EXPECT_EQ(pixels.width, 2 + 2 * 92 + 4 + 3);
  MacBin_FreePixels(&pixels);
  MacBin_Close(channel);
  MacBin_ClearFonts();
}

}  // namespace
