// varnel render, run as a user runs it (support/tool_run.hpp): resources
// drawn by the library's decoders into PNG files, read back here with
// libpng (support/png_file.hpp) pixel by pixel; the cursor's hot spot
// chunk; choosing resources with --type and --id; damaged resources named
// with their reasons while the others are written; skipped opcodes; and
// PICT files from ImageMagick and from the library's own writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/macbinary.hpp"
#include "support/png_file.hpp"
#include "support/support.hpp"
#include "support/tool_run.hpp"

namespace {

using namespace cli;

using vt::Bytes;
using vt::Colour;
using vt::hex;
using vt::slice;

constexpr Colour kClear{0, 0, 0, 0};
constexpr Colour kBlack{0, 0, 0, 255};
constexpr Colour kWhite{255, 255, 255, 255};

// A version 2 picture two rows high and eight pixels wide: a 1-bit
// bitmap (0x0090) drawn in srcCopy, KKKKWWWW over WWWWKKKK, then a
// reserved rectangle opcode (0x0035), which is not drawn.
Bytes bitmap_picture() {
  return hex(
      "0000 | size, unused\n"
      "0000 0000 0002 0008 | frame\n"
      "0011 02FF | version 2\n"
      "0C00 FFFF FFFF 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 | standard header\n"
      "0090 0002 | bitmap, 2 bytes a row\n"
      "0000 0000 0002 0008  0000 0000 0002 0008  0000 0000 0002 0008 | bounds, source, destination\n"
      "0000 | srcCopy\n"
      "F000 0F00 | the rows\n"
      "0035 0000 0000 0002 0008 | reserved, a rectangle's data\n"
      "00FF");
}

vt::MacBinaryPlan plan_of(std::vector<vt::MbType> types) {
  vt::MacBinaryPlan plan;
  plan.format = vt::MbFormat::kII;
  plan.types = std::move(types);
  return plan;
}

// ---- What each type looks like ---------------------------------------------------

TEST(CliRenderTypes, IconsCursorPatternAndColourTableAsPixels) {
  vt::TempDir dir;
  // ICN#: the top row black, the rest white; the mask covers the top half.
  const Bytes icn = vt::concat({hex("FFFFFFFF"), Bytes(124, 0), Bytes(64, 0xFF), Bytes(64, 0)});
  // CURS: the data bits F0F0 over the mask FF00, then 0000 over FF00: set
  // inside the mask is black, clear inside is white, set outside inverts
  // (black), clear outside is clear.  Hot spot v 5, h 3.
  const Bytes curs = vt::concat({hex("F0F0 0000"), Bytes(28, 0), hex("FF00 FF00"), Bytes(28, 0), hex("0005 0003")});
  const Bytes clut = hex("00000000 0000 0001 | seed, flags, 2 entries\n"
                         "0000 FFFF 0000 0000 | red\n"
                         "0001 0000 0000 FFFF | blue\n");
  vt::write_file(dir.file("types.bin"),
                 vt::build_macbinary(plan_of({{"ICN#", {{128, std::nullopt, icn}}},
                                              {"icl4", {{128, std::nullopt, Bytes(512, 0x33)}}},
                                              {"ics8", {{1, std::nullopt, Bytes(256, 0xFF)}}},
                                              {"CURS", {{200, std::nullopt, curs}}},
                                              {"PAT ", {{5, std::nullopt, times(hex("AA55"), 4)}}},
                                              {"clut", {{9, std::nullopt, clut}}},
                                              {"TEXT", {{128, std::nullopt, vt::bytes_of("text")}}}}))
                     .bytes);
  const ToolRun run = varnel(dir.path(), "render types.bin out");
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_NE(run.err.find("types.bin: left out 1 resource of types render does not draw: TEXT"), std::string::npos)
      << run;
  EXPECT_EQ(files_in(dir.file("out")),
            (std::vector<std::string>{"CURS.200.png", "ICN#.128.png", "PAT%20.5.png", "clut.9.png", "icl4.128.png",
                                      "ics8.1.png"}));

  const vt::PngFile icon = vt::read_png_file(dir.file("out/ICN#.128.png"));
  ASSERT_TRUE(icon.read) << icon.error;
  EXPECT_EQ(icon.width, 32);
  EXPECT_EQ(icon.channels, 4);
  EXPECT_EQ(icon.at(31, 0), kBlack);
  EXPECT_EQ(icon.at(0, 15), kWhite);
  EXPECT_EQ(icon.at(0, 16), kClear);
  EXPECT_TRUE(icon.texts.empty());  // only cursors have a hot spot

  // The 16-colour table's red, inside the ICN#'s mask of the same ID.
  const vt::PngFile four = vt::read_png_file(dir.file("out/icl4.128.png"));
  ASSERT_TRUE(four.read) << four.error;
  EXPECT_EQ(four.at(5, 5), (Colour{0xDD, 0x08, 0x06, 0xFF}));
  EXPECT_EQ(four.at(5, 20), kClear);

  // Without an ics# 1 the icon is opaque, so the PNG has no alpha channel.
  const vt::PngFile eight = vt::read_png_file(dir.file("out/ics8.1.png"));
  ASSERT_TRUE(eight.read) << eight.error;
  EXPECT_EQ(eight.channels, 3);
  std::string black_rows;
  for (int i = 0; i < 16; ++i) black_rows += "KKKKKKKKKKKKKKKK\n";
  EXPECT_EQ(eight.letters(), black_rows);

  const vt::PngFile cursor = vt::read_png_file(dir.file("out/CURS.200.png"));
  ASSERT_TRUE(cursor.read) << cursor.error;
  EXPECT_EQ(slice(vt::bytes_of(cursor.letters()), 0, 17 * 3),
            vt::bytes_of("KKKKWWWWKKKKCCCC\nWWWWWWWWCCCCCCCC\nCCCCCCCCCCCCCCCC\n"));
  EXPECT_EQ(cursor.texts, (std::map<std::string, std::string>{{"hot-spot", "3,5"}}));

  const vt::PngFile pattern = vt::read_png_file(dir.file("out/PAT%20.5.png"));
  ASSERT_TRUE(pattern.read) << pattern.error;
  EXPECT_EQ(pattern.letters(), "KWKWKWKW\nWKWKWKWK\nKWKWKWKW\nWKWKWKWK\n"
                               "KWKWKWKW\nWKWKWKWK\nKWKWKWKW\nWKWKWKWK\n");

  const vt::PngFile swatch = vt::read_png_file(dir.file("out/clut.9.png"));
  ASSERT_TRUE(swatch.read) << swatch.error;
  std::string eight_rows;
  for (int i = 0; i < 8; ++i) eight_rows += "RRRRRRRRBBBBBBBB\n";
  EXPECT_EQ(swatch.letters(), eight_rows);
}

// ---- Choosing resources -------------------------------------------------------------

class CliRenderChoice : public ::testing::Test {
 protected:
  void SetUp() override {
    const Bytes black = vt::concat({Bytes(128, 0xFF), Bytes(128, 0xFF)});
    const Bytes small = vt::concat({Bytes(32, 0xFF), Bytes(32, 0xFF)});
    vt::write_file(dir.file("many.bin"),
                   vt::build_macbinary(plan_of({{"ICN#", {{128, std::nullopt, black}, {129, std::nullopt, black}}},
                                                {"ics#", {{128, std::nullopt, small}}},
                                                {"PAT ", {{0xFFFF, std::nullopt, Bytes(8, 0)}}},
                                                {"TEXT", {{128, std::nullopt, vt::bytes_of("t")}}}}))
                       .bytes);
  }
  // The files `render OPTIONS many.bin out` writes, in a fresh directory.
  std::vector<std::string> drawn(const std::string &options) {
    fs::remove_all(dir.file("out"));
    const ToolRun run = varnel(dir.path(), "render " + options + " many.bin out");
    EXPECT_EQ(run.status, 0) << options << "\n" << run;
    return files_in(dir.file("out"));
  }
  vt::TempDir dir;
};

TEST_F(CliRenderChoice, TypeAndIdChooseWhatIsDrawn) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(drawn(""), (Names{"ICN#.128.png", "ICN#.129.png", "PAT%20.-1.png", "ics#.128.png"}));
  EXPECT_EQ(drawn("--type ICN#"), (Names{"ICN#.128.png", "ICN#.129.png"}));
  EXPECT_EQ(drawn("--type ICN# --type ics#"), (Names{"ICN#.128.png", "ICN#.129.png", "ics#.128.png"}));
  EXPECT_EQ(drawn("--id 128"), (Names{"ICN#.128.png", "ics#.128.png"}));
  EXPECT_EQ(drawn("--id 129 --id=128 --type ICN#"), (Names{"ICN#.128.png", "ICN#.129.png"}));
  // Types are padded with blanks; IDs are signed.
  EXPECT_EQ(drawn("--type PAT --id -1"), (Names{"PAT%20.-1.png"}));
}

TEST_F(CliRenderChoice, NothingMatchingIsAnErrorAndOtherTypesAreUsageErrors) {
  expect_failure(varnel(dir.path(), "render --type icl8 many.bin out"), 1,
                 "many.bin: no resource to draw matches --type icl8");
  EXPECT_TRUE(files_in(dir.file("out")).empty());
  // TEXT 128 is there, but render does not draw it.
  const ToolRun text_only = varnel(dir.path(), "render --id 128 --type ics# --type ICN# many.bin out");
  EXPECT_EQ(text_only.status, 0) << text_only;
  const std::pair<std::string, std::string> usage[] = {
      {"--type TEXT many.bin out", "render does not draw 'TEXT' resources"},
      {"--type LONGER many.bin out", "resource type 'LONGER' must be 1 to 4"},
      {"--id 32768 many.bin out", "resource ID '32768' must be a whole number"},
      {"--id 12x many.bin out", "resource ID '12x' must be a whole number"},
      {"--picture --id 1 a.pict b.png", "--type and --id choose resources"},
      {"--picture a.pict", "render --picture needs a PICT file and an output PNG file"},
  };
  for (const auto &[arguments, message] : usage) expect_failure(varnel(dir.path(), "render " + arguments), 2, message);
}

// ---- Damaged resources ------------------------------------------------------------------

TEST(CliRenderDamaged, EachIsNamedWithItsReasonWhileTheOthersAreWritten) {
  vt::TempDir dir;
  // A real picture to damage: 16 x 4 grey, each row packed after a count byte.
  vt::write_file(dir.file("pic.png"), png(16, 4, 0, Bytes(64, 200)));
  ASSERT_EQ(pack(dir.path(), "-o pic.bin -e 'PICT 1 p pic.png 72'").status, 0);
  ASSERT_EQ(varnel(dir.path(), "extract pic.bin --resource PICT 1 pict.raw").status, 0);
  const Bytes pict = vt::read_file(dir.file("pict.raw"));
  // The pixel data: after 108 bytes of header, 256 x 8 colour table entries, 18 bytes.
  const size_t pixel_data = 108 + 256 * 8 + 18;
  ASSERT_LT(pixel_data + 1, pict.size());
  Bytes bad_count = pict;
  bad_count[pixel_data] = 0xF0;  // the first row's byte count reaches far beyond its data
  // Bounds of 16382 x 32767 with row bytes to match.
  Bytes huge = pict;
  std::copy_n(hex("BFFE | row bytes 0x3FFE, pixel map flag\n").begin(), 2, huge.begin() + 54);
  std::copy_n(hex("7FFF 3FFE | bottom 32767, right 16382\n").begin(), 4, huge.begin() + 60);
  const Bytes icon = vt::concat({Bytes(128, 0xFF), Bytes(128, 0xFF)});
  vt::write_file(
      dir.file("damaged.bin"),
      vt::build_macbinary(plan_of({{"PICT",
                                    {{1, std::nullopt, slice(pict, 0, 200)},
                                     {2, std::nullopt, bad_count},
                                     {4, std::nullopt, huge},
                                     {5, std::nullopt, hex("0010 0000 0000 0001 0001 1101 A000 00FF")},  // version 1
                                     {6, std::nullopt, {}},
                                     {7, std::nullopt, pict}}},
                                   // A repeated ID and a negative one, named as the map holds them.
                                   {"ICN#", {{9, std::nullopt, icon}, {9, std::nullopt, Bytes(100, 1)}}},
                                   {"icl8", {{0xFFFE, std::nullopt, Bytes(100, 1)}}},
                                   {"CURS", {{3, std::nullopt, Bytes(60, 0)}}}}))
          .bytes);
  const ToolRun run = varnel(dir.path(), "render damaged.bin out");
  for (const char *message :
       {"error: damaged.bin: PICT 1: opcode 0x0098 at offset 52 is cut short\n",
        "error: damaged.bin: PICT 2: opcode 0x0098 at offset 52 is cut short\n",
        "error: damaged.bin: PICT 4: opcode 0x0098 at offset 52: 0x0098 image: bounds 16382 x 32767\n",
        "error: damaged.bin: PICT 6: the picture is cut short\n",
        "error: damaged.bin: ICN# 9 #2: ICN# data cut short: 100 of 128 bytes\n",
        "error: damaged.bin: icl8 -2: icl8 data cut short: 100 of 1024 bytes\n",
        "error: damaged.bin: CURS 3: CURS data cut short: 60 of 68 bytes\n"})
    expect_failure(run, 1, message);
  // The good ones are still written (a version 1 picture too); the bad ones leave nothing.
  EXPECT_EQ(files_in(dir.file("out")), (std::vector<std::string>{"ICN#.9.png", "PICT.5.png", "PICT.7.png"}));
  const vt::PngFile grey = vt::read_png_file(dir.file("out/PICT.7.png"));
  ASSERT_TRUE(grey.read) << grey.error;
  EXPECT_EQ(grey.width, 16);
  EXPECT_EQ(grey.at(15, 3), (Colour{200, 200, 200, 255}));
}

TEST(CliRenderDamaged, ResourceDataPastTheForkIsRefused) {
  vt::TempDir dir;
  vt::BuiltMacBinary file = vt::build_macbinary(plan_of({{"PICT", {{1, std::nullopt, Bytes(600, 0)}}}}));
  file.patch(file.at.data[0][0], hex("00 7F 00 00"));  // the length word
  vt::write_file(dir.file("past.bin"), file.bytes);
  expect_failure(varnel(dir.path(), "render past.bin out"), 1,
                 "the data of resource PICT 1 lies outside the resource fork");
}

// ---- Pictures -------------------------------------------------------------------------

TEST(CliRenderPicture, SkippedOpcodesAreWarnedAboutAndThePngIsStillWritten) {
  vt::TempDir dir;
  vt::write_file(dir.file("pict.bin"), vt::build_macbinary(plan_of({{"PICT", {{1, std::nullopt, bitmap_picture()}}}})).bytes);
  vt::write_file(dir.file("bitmap.pict"), vt::concat({Bytes(512, 0), bitmap_picture()}));
  const std::pair<std::string, std::string> cases[] = {
      {"render pict.bin out", "warning: pict.bin: PICT 1: not drawn: 0x0035\n"},
      {"render --picture bitmap.pict out/file.png", "warning: bitmap.pict: not drawn: 0x0035\n"}};
  for (const auto &[arguments, warning] : cases) {
    const ToolRun run = varnel(dir.path(), arguments);
    EXPECT_EQ(run.status, 0) << run;
    EXPECT_NE(run.err.find(warning), std::string::npos) << run;
  }
  for (const char *file : {"out/PICT.1.png", "out/file.png"}) {
    const vt::PngFile drawn = vt::read_png_file(dir.file(file));
    ASSERT_TRUE(drawn.read) << drawn.error;
    EXPECT_EQ(drawn.letters(), "KKKKWWWW\nWWWWKKKK\n") << file;
  }
}

// --compression reaches zlib: the level class in the zlib header of the
// first IDAT chunk (bits 6-7 of its second byte: 1 for levels 2 to 5, 2 for
// the default 6) tells them apart; the fast setting stores the 8-bit
// picture indexed (colour type 3, a PLTE chunk before the IDAT), the best
// as RGB; the pixels are the same either way.
TEST(CliRenderPicture, CompressionChoosesTheZlibLevelNotThePixels) {
  vt::TempDir dir;
  Bytes grey(64 * 64);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>((i * 7) ^ (i / 64));
  vt::write_file(dir.file("grey.png"), png(64, 64, 0, grey));
  ASSERT_EQ(pack(dir.path(), "-o grey.bin -e 'PICT 128 p grey.png 72'").status, 0);
  ASSERT_EQ(varnel(dir.path(), "extract grey.bin --resource PICT 128 grey.pict").status, 0);
  struct Choice {
    std::string option;
    int level_class;
    int colour_type;
  };
  const Choice choices[] = {{"", 1, 3}, {"--compression fast ", 1, 3}, {"--compression best ", 2, 2}};
  std::vector<Bytes> drawn;
  for (const auto &[option, level_class, colour_type] : choices) {
    const ToolRun run = varnel(dir.path(), "render " + option + "--picture grey.pict out.png");
    ASSERT_EQ(run.status, 0) << run;
    const Bytes file = vt::read_file(dir.file("out.png"));
    ASSERT_GT(file.size(), 43u);
    EXPECT_EQ(file[25], colour_type) << option;
    // The chunks from the IHDR's end (byte 33): length, type, data, CRC.
    size_t chunk = 33;
    while (chunk + 10 <= file.size() && slice(file, chunk + 4, 4) != vt::bytes_of("IDAT"))
      chunk += 12 + vt::be32(file, chunk);
    ASSERT_LE(chunk + 10, file.size()) << option << ": no IDAT chunk";
    EXPECT_EQ(file[chunk + 9] >> 6, level_class) << option;
    const vt::PngFile png_file = vt::read_png_file(dir.file("out.png"));
    ASSERT_TRUE(png_file.read) << png_file.error;
    drawn.push_back(png_file.rgba);
  }
  EXPECT_EQ(drawn[0], drawn[2]);
  EXPECT_EQ(drawn[1], drawn[2]);
  expect_failure(varnel(dir.path(), "render --compression small --picture grey.pict out.png"), 2,
                 "--compression is fast or best, not 'small'");
}

TEST(CliRenderPicture, PictFilesWithAndWithoutTheirHeader) {
  vt::TempDir dir;
  // The library's writer: a greyscale image comes back grey for grey.
  vt::write_file(dir.file("grey.png"), png(4, 2, 0, hex("00 55 AA FF 11 22 33 44")));
  ASSERT_EQ(pack(dir.path(), "-o grey.bin -e 'PICT 128 p grey.png 72'").status, 0);
  ASSERT_EQ(varnel(dir.path(), "extract grey.bin --resource PICT 128 bare.pict").status, 0);
  vt::write_file(dir.file("full.pict"), vt::concat({Bytes(512, 0), vt::read_file(dir.file("bare.pict"))}));
  const std::string no_header = "bare.pict: no 512-byte header; the picture starts at the file's first byte";
  for (const std::string name : {"full", "bare"}) {
    const ToolRun run = varnel(dir.path(), "render --picture " + name + ".pict " + name + ".png");
    ASSERT_EQ(run.status, 0) << run;
    EXPECT_EQ(run.err.find("warning"), std::string::npos) << run;
    EXPECT_EQ(run.err.find(no_header) != std::string::npos, name == "bare") << run;
    // The writer states 72 dpi in an extended version 2 header.
    EXPECT_NE(run.err.find(name + ".pict: extended version 2 picture of 72 x 72 dpi; drawn at its frame's size, "
                                  "4 x 2 pixels"),
              std::string::npos)
        << run;
    const vt::PngFile drawn = vt::read_png_file(dir.file(name + ".png"));
    ASSERT_TRUE(drawn.read) << drawn.error;
    ASSERT_EQ(drawn.width * drawn.height, 8);
    Bytes rgb;
    for (int i = 0; i < 8; ++i) {
      const Colour c = drawn.at(i % 4, i / 4);
      rgb = vt::concat({rgb, {c.r, c.g, c.b}});
    }
    EXPECT_EQ(rgb, hex("000000 555555 AAAAAA FFFFFF 111111 222222 333333 444444")) << name;
  }
  // To standard output, from standard input.
  const ToolRun piped = varnel(dir.path(), "render --picture - -", dir.file("full.pict"));
  ASSERT_EQ(piped.status, 0) << piped;
  vt::write_file(dir.file("piped.png"), vt::bytes_of(piped.out));
  EXPECT_EQ(vt::read_png_file(dir.file("piped.png")).rgba, vt::read_png_file(dir.file("full.png")).rgba);

  // Neither form: refused, nothing written.
  vt::write_file(dir.file("text.pict"), Bytes(600, 'x'));
  expect_failure(varnel(dir.path(), "render --picture text.pict text.png"), 1,
                 "text.pict: not a PICT file (no picture after a 512-byte header, nor at its start)");
  expect_failure(varnel(dir.path(), "render --picture none.pict none.png"), 1, "none.pict: cannot open: ");
  EXPECT_FALSE(vt::file_exists(dir.file("text.png")));
}

TEST(CliRenderPicture, ExtendedHeaderResolutionIsNoticed) {
  vt::TempDir dir;
  // A 2 x 3 frame, then the extended header with the two resolutions.
  const auto picture = [](const char *resolutions) {
    return vt::concat({Bytes(512, 0), hex("0000 0000 0000 0002 0003 0011 02FF 0C00 FFFE 0000"), hex(resolutions),
                       hex("0000 0000 0004 0006  0000 0000 | source rectangle, reserved\n"
                           "00FF")});
  };
  vt::write_file(dir.file("fine.pict"), picture("0090 0000 0048 8000 | 144 and 72.5"));
  vt::write_file(dir.file("zero.pict"), picture("0000 0000 0000 0000"));
  const std::pair<std::string, std::string> cases[] = {
      {"fine", "fine.pict: extended version 2 picture of 144 x 72.5 dpi; drawn at its frame's size, 3 x 2 pixels\n"},
      {"zero", "zero.pict: extended version 2 picture with an unusable resolution (0 x 0 dpi); drawn at its "
               "frame's size, 3 x 2 pixels\n"}};
  for (const auto &[name, notice] : cases) {
    const ToolRun run = varnel(dir.path(), "render --picture " + name + ".pict " + name + ".png");
    ASSERT_EQ(run.status, 0) << run;
    EXPECT_NE(run.err.find(notice), std::string::npos) << run;
    const vt::PngFile drawn = vt::read_png_file(dir.file(name + ".png"));
    ASSERT_TRUE(drawn.read) << drawn.error;
    EXPECT_EQ(drawn.letters(), "WWW\nWWW\n");  // nothing drawn on the white canvas
  }
  // -q silences notices.
  EXPECT_EQ(varnel(dir.path(), "render -q --picture fine.pict quiet.png").err, "");
}

TEST(CliRenderPicture, ImageMagickPictFileIsDrawnPixelForPixel) {
  const std::string convert = vt::require_peer("convert-im6.q16", "imagemagick-6.q16");
  if (convert.empty()) GTEST_SKIP() << "ImageMagick is not available";
  vt::TempDir dir;
  vt::write_file(dir.file("in.png"), png(4, 2, 2, hex("FF0000 00FF00 0000FF FFFFFF  000000 FFFFFF FF0000 0000FF")));
  std::string output;
  ASSERT_EQ(vt::run_command("cd " + quoted(dir.path().string()) + " && " + quoted(convert) + " in.png pict:out.pict",
                            &output),
            0)
      << output;
  const ToolRun run = varnel(dir.path(), "render --picture out.pict out.png");
  ASSERT_EQ(run.status, 0) << run;
  const vt::PngFile drawn = vt::read_png_file(dir.file("out.png"));
  ASSERT_TRUE(drawn.read) << drawn.error;
  EXPECT_EQ(drawn.letters(), "RGBW\nKWRB\n");
}

}  // namespace

namespace fonts {

// A FONT of family 200, size 9, whose 'A' is an X of 3 x 3 pixels with
// its baseline under the second row (the strike of decode_text_test).
Bytes tiny_font() {
  return hex(
      "90 00  00 41  00 43  00 04  00 00  FF FF  00 04  00 03  00 0D  00 02  00 01  00 00  00 01"
      "BC 00  5C 00  BC 00   00 00  00 03  00 05  00 05  00 06   00 04  01 03  FF FF  00 02  FF FF");
}

// A 3 x 4 picture: TxFont 200, TxSize 9, "A" with its baseline at y 2.
Bytes text_picture() {
  return hex(
      "0000  0000 0000 0003 0004  0011 02FF"
      "0C00 FFFF FFFF 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000"
      "0003 00C8  000D 0009  0028 0002 0000 01 41  00FF");
}

}  // namespace fonts

TEST(CliRenderPicture, FontsFromFilesNamedWithFonts) {
  vt::TempDir dir;
  vt::write_file(dir.file("font.bin"),
                 vt::build_macbinary(plan_of({{"FONT", {{200 * 128 + 9, std::nullopt, fonts::tiny_font()}}}})).bytes);
  vt::write_file(dir.file("empty.bin"), vt::build_macbinary(plan_of({{"TEXT", {{1, std::nullopt, hex("41")}}}})).bytes);
  vt::write_file(dir.file("text.pict"), vt::concat({Bytes(512, 0), fonts::text_picture()}));
  vt::write_file(dir.file("pict.bin"),
                 vt::build_macbinary(plan_of({{"PICT", {{1, std::nullopt, fonts::text_picture()}}}})).bytes);
  const ToolRun run = varnel(dir.path(), "render --picture --fonts empty.bin --fonts font.bin text.pict out.png");
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_NE(run.err.find("warning: empty.bin: no FONT or NFNT resources"), std::string::npos) << run;
  EXPECT_NE(run.err.find("font.bin: 1 font strike"), std::string::npos) << run;
  EXPECT_EQ(vt::read_png_file(dir.file("out.png")).letters(), "KWKW\nWKWW\nKWKW\n");
  ASSERT_EQ(varnel(dir.path(), "render --fonts font.bin pict.bin out").status, 0);
  EXPECT_EQ(vt::read_png_file(dir.file("out/PICT.1.png")).letters(), "KWKW\nWKWW\nKWKW\n");
  // The font file's own strike as an image: '!' to '~' in a row.
  ASSERT_EQ(varnel(dir.path(), "render font.bin fonts").status, 0);
  const vt::PngFile strike = vt::read_png_file(dir.file("fonts/FONT.25609.png"));
  ASSERT_TRUE(strike.read) << strike.error;
  EXPECT_EQ(strike.height, 5);
  expect_failure(varnel(dir.path(), "render --picture --fonts missing.bin text.pict out.png"), 1, "missing.bin: ");
}
