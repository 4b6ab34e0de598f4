// Thumbnails through the public calls: MacBin_DrawThumbnail on files built
// here (support/macbinary.hpp) with icons from MacBin_EncodeResource and
// pictures as hex: the choice in its order, icons enlarged by whole factors
// and centred, pictures reduced keeping their shape, the library's own icon
// and what it says when it stands in; PICT files (MacBin_FindPictFilePicture,
// MacBin_DrawPictFileThumbnail); and the area resampler hosts share
// (MacBin_NewResampler): each target sample the mean of the source area it
// covers, source rows pulled once each and in order, a failure final.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/colour.hpp"
#include "support/enlargement.hpp"
#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::Colour;
using vt::concat;
using vt::expect_enlarged;
using vt::hex;

constexpr Colour kClear{0, 0, 0, 0};
constexpr Colour kWhite{255, 255, 255, 255};
constexpr Colour kRed{255, 0, 0, 255};
constexpr uint32_t kCustomIconId = 0xBFB9;  // -16455 as the map stores it
constexpr uint16_t kCustomIconFlag = 0x0400;

// ---- Images -------------------------------------------------------------------------

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgba;
  Colour at(int32_t x, int32_t y) const {
    const uint8_t *p = &rgba[static_cast<size_t>((y * width + x) * 4)];
    return {p[0], p[1], p[2], p[3]};
  }
};

// Takes pixels the library allocated, and frees them.
Image take(MacBinPixels &pixels) {
  Image image{pixels.width, pixels.height, {}};
  if (pixels.rgba != nullptr)
    image.rgba.assign(pixels.rgba, pixels.rgba + static_cast<size_t>(pixels.width) * pixels.height * 4);
  MacBin_FreePixels(&pixels);
  return image;
}

// A 32 x 32 (or 16 x 16) icon resource of `type` drawn by `paint(x, y)`.
template <typename Paint>
Bytes icon_resource(const std::string &type, int32_t side, Paint paint) {
  std::vector<uint8_t> rgba(static_cast<size_t>(side * side * 4));
  for (int32_t y = 0; y < side; ++y)
    for (int32_t x = 0; x < side; ++x) {
      const Colour c = paint(x, y);
      std::memcpy(&rgba[static_cast<size_t>((y * side + x) * 4)], &c, 4);
    }
  const MacBinPixels pixels{side, side, 0, 0, rgba.data()};
  char error[128] = "";
  Bytes data(2048);
  const int32_t length = MacBin_EncodeResource(type.c_str(), &pixels, MACBIN_ENCODE_NEAREST, data.data(),
                                               static_cast<int32_t>(data.size()), error);
  EXPECT_GT(length, 0) << type << ": " << error;
  data.resize(static_cast<size_t>(length > 0 ? length : 0));
  return data;
}

// Colours in every pixel (so that a pixel out of place shows) inside a round mask.
Colour varied(int32_t x, int32_t y) {
  const int32_t dx = 2 * x - 31, dy = 2 * y - 31;
  if (dx * dx + dy * dy > 32 * 32) return kClear;
  return {static_cast<uint8_t>(x * 8), static_cast<uint8_t>(y * 8), static_cast<uint8_t>(x < 16 ? 0 : 0xFF), 255};
}
Colour checkerboard(int32_t x, int32_t y) { return (x + y) % 2 == 0 ? Colour{0, 0, 0, 255} : kWhite; }
Colour red_left_half(int32_t x, int32_t) { return x < 16 ? kRed : kClear; }

// A version 2 picture `width` x `height` pixels: white, its left half
// painted red, then `more` opcodes.
Bytes half_red_picture(int16_t width, int16_t height, const std::string &more = "") {
  Bytes out = hex("0000 0000 0000");
  vt::append_be16(out, static_cast<uint16_t>(height));
  vt::append_be16(out, static_cast<uint16_t>(width));
  out = concat({out, hex("0011 02FF | version 2\n"
                         "0C00 FFFF FFFF 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 | header\n"
                         "001A FFFF 0000 0000 | foreground red\n"
                         "0031 0000 0000 | paintRect: top, left,")});
  vt::append_be16(out, static_cast<uint16_t>(height));
  vt::append_be16(out, static_cast<uint16_t>(width / 2));
  return concat({out, hex(more), hex("00FF")});
}

// A bundle for TEXT files of VARN: FREF 128 (local 0) and family 129.
const char *const kTextBundle =
    "5641524E 0000 0001 | owner VARN 0, two lists\n"
    "46524546 0000 0000 0080 | FREF: local 0 = 128\n"
    "49434E23 0000 0000 0081 | ICN#: local icon 0 = 129";
const char *const kTextFref = "54455854 0000 00 | TEXT, local icon 0, no name";

// ---- Files ------------------------------------------------------------------------

struct Drawn {
  int32_t result = 0;
  MacBinThumbnail about{};
  Image image;
  int32_t error = MACBIN_ERR_NONE;
};

// Builds the file, opens it and draws its thumbnail at `size`.
Drawn draw(std::vector<vt::MbType> types, int32_t size, uint16_t flags = 0x0100, const std::string &type = "TEXT") {
  vt::init_recording();
  vt::TempDir dir;
  vt::MacBinaryPlan plan;
  plan.format = vt::MbFormat::kII;
  plan.type = type;
  plan.flags = flags;
  plan.types = std::move(types);
  vt::write_file(dir.file("in.bin"), vt::build_macbinary(plan).bytes);
  MacBinChannel *channel = MacBin_OpenR(dir.file("in.bin").c_str());
  EXPECT_NE(channel, nullptr);
  Drawn out;
  MacBinPixels pixels{};
  MacBin_ClearError();
  out.result = MacBin_DrawThumbnail(channel, size, &pixels, &out.about);
  out.error = MacBin_LastError(nullptr);
  out.image = take(pixels);
  if (channel != nullptr) MacBin_Close(channel);
  return out;
}

// The library's drawing of one resource, alone, as the thumbnail should show it.
Image decoded_alone(const std::string &type, const Bytes &data) {
  vt::init_recording();
  vt::TempDir dir;
  vt::MacBinaryPlan plan;
  plan.types = {{type, {{128, std::nullopt, data}}}};
  vt::write_file(dir.file("one.bin"), vt::build_macbinary(plan).bytes);
  MacBinChannel *channel = MacBin_OpenR(dir.file("one.bin").c_str());
  Image image;
  if (channel == nullptr) return image;
  MacBinPixels pixels{};
  char error[128] = "";
  EXPECT_EQ(MacBin_DecodeResource(channel, &channel->types[0].refs[0], &pixels, error), 1) << error;
  image = take(pixels);
  MacBin_Close(channel);
  return image;
}

vt::MbType one(const std::string &type, uint32_t id, const Bytes &data) { return {type, {{id, std::nullopt, data}}}; }

// ---- Enlarging and centring ---------------------------------------------------------------

TEST(ThumbnailIcon, EnlargedByTheLargestWholeFactorAndCentred) {
  const Bytes icl8 = icon_resource("icl8", 32, varied);
  const Bytes icn = icon_resource("ICN#", 32, varied);
  const std::vector<vt::MbType> types = {one("ICN#", kCustomIconId, icn), one("icl8", kCustomIconId, icl8)};
  // What the decoder draws of the icl8 with its mask, here as the only
  // member of its family (ID 128).
  vt::init_recording();
  vt::TempDir dir;
  vt::MacBinaryPlan plan;
  plan.types = {one("ICN#", 128, icn), one("icl8", 128, icl8)};
  vt::write_file(dir.file("icon.bin"), vt::build_macbinary(plan).bytes);
  MacBinChannel *channel = MacBin_OpenR(dir.file("icon.bin").c_str());
  ASSERT_NE(channel, nullptr);
  const MacBinTypeEntry &icl8_entry = std::memcmp(channel->types[0].type, "icl8", 4) == 0 ? channel->types[0]
                                                                                         : channel->types[1];
  MacBinPixels pixels{};
  char error[128] = "";
  ASSERT_EQ(MacBin_DecodeResource(channel, &icl8_entry.refs[0], &pixels, error), 1) << error;
  const Image icon = take(pixels);
  MacBin_Close(channel);
  ASSERT_EQ(icon.at(0, 0), kClear);  // outside the round mask
  ASSERT_EQ(icon.at(16, 16).a, 255);

  struct Case {
    int32_t size, factor, offset;
  };
  // 128 = 4 x 32 exactly; 100 = 3 x 32 + 4, two pixels either side; 127
  // is still 3 (31 left over: 15 before, 16 after); 63 is 1.
  for (const Case c : {Case{128, 4, 0}, Case{100, 3, 2}, Case{127, 3, 15}, Case{63, 1, 15}, Case{1024, 32, 0}}) {
    SCOPED_TRACE(c.size);
    const Drawn drawn = draw(types, c.size, 0x0100 | kCustomIconFlag);
    ASSERT_EQ(drawn.result, MACBIN_THUMBNAIL_CUSTOM);
    EXPECT_EQ(drawn.about.drawn, MACBIN_THUMBNAIL_CUSTOM);
    EXPECT_EQ(drawn.about.rule, MACBIN_FINDER_ICON_CUSTOM);
    EXPECT_STREQ(drawn.about.type, "icl8");
    EXPECT_EQ(drawn.about.id, -16455);
    EXPECT_STREQ(drawn.about.note, "");
    expect_enlarged(drawn.image, icon, c.factor, c.offset, c.offset, c.size);
  }
}

TEST(ThumbnailIcon, SmallIconsEnlargeFromSixteen) {
  // A family of small icons only: ics# 16 x 16, at 40 twice (4 pixels
  // either side), at 16 as it is.
  const Bytes ics = icon_resource("ics#", 16, checkerboard);
  const Image icon = decoded_alone("ics#", ics);
  ASSERT_EQ(icon.width, 16);
  EXPECT_EQ(icon.at(0, 0), (Colour{0, 0, 0, 255}));
  EXPECT_EQ(icon.at(1, 0), kWhite);
  const Drawn at40 = draw({one("ics#", kCustomIconId, ics)}, 40, kCustomIconFlag);
  ASSERT_EQ(at40.result, MACBIN_THUMBNAIL_CUSTOM);
  EXPECT_STREQ(at40.about.type, "ics#");
  expect_enlarged(at40.image, icon, 2, 4, 4, 40);
  expect_enlarged(draw({one("ics#", kCustomIconId, ics)}, 16, kCustomIconFlag).image, icon, 1, 0, 0, 16);
}

// ---- Reducing -------------------------------------------------------------------------------

TEST(ThumbnailIcon, LargerThanTheSizeIsAveragedDown) {
  // Black and white pixels in turn: each 2 x 2 block averages to grey,
  // 127.5 rounded to even.
  const Drawn grey = draw({one("ICN#", kCustomIconId, icon_resource("ICN#", 32, checkerboard))}, 16, kCustomIconFlag);
  ASSERT_EQ(grey.result, MACBIN_THUMBNAIL_CUSTOM);
  ASSERT_EQ(grey.image.width, 16);
  ASSERT_EQ(grey.image.height, 16);
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(grey.image.at(x, y), (Colour{0x80, 0x80, 0x80, 0xFF})) << x << "," << y;

  // Red on the left, transparent on the right; at 17 target column 8
  // covers the edge half and half.  Colours are averaged weighted by their
  // alpha, so the transparent pixels do not darken the red: it stays red,
  // half covered.
  const Bytes icn = icon_resource("ICN#", 32, red_left_half);
  const Bytes icl8 = icon_resource("icl8", 32, red_left_half);
  const Drawn edge = draw({one("ICN#", kCustomIconId, icn), one("icl8", kCustomIconId, icl8)}, 17, kCustomIconFlag);
  ASSERT_EQ(edge.result, MACBIN_THUMBNAIL_CUSTOM);
  ASSERT_EQ(edge.image.width, 17);
  for (int32_t y = 0; y < 17; ++y) {
    SCOPED_TRACE(y);
    EXPECT_EQ(edge.image.at(0, y), kRed);
    EXPECT_EQ(edge.image.at(7, y), kRed);
    const Colour half = edge.image.at(8, y);
    EXPECT_EQ(half.r, 255);
    EXPECT_EQ(half.g, 0);
    EXPECT_NEAR(half.a, 128, 1);
    EXPECT_EQ(edge.image.at(9, y), kClear);
    EXPECT_EQ(edge.image.at(16, y), kClear);
  }
}

TEST(ThumbnailPicture, ReducedKeepingItsShapeAndNotCentred) {
  const Drawn drawn = draw({{"PICT",
                             {{128, std::nullopt, half_red_picture(40, 40)},
                              {129, std::nullopt, half_red_picture(300, 150)}}}},
                           128);
  ASSERT_EQ(drawn.result, MACBIN_THUMBNAIL_PICTURE);
  EXPECT_EQ(drawn.about.rule, MACBIN_FINDER_ICON_PICTURE);
  EXPECT_STREQ(drawn.about.type, "PICT");
  EXPECT_EQ(drawn.about.id, 129);
  ASSERT_EQ(drawn.image.width, 128);
  ASSERT_EQ(drawn.image.height, 64);
  // 300 columns into 128: column 63 covers 147.7 to 150 (red), 64 from 150 on (white).
  for (int32_t y = 0; y < 64; ++y) {
    EXPECT_EQ(drawn.image.at(0, y), kRed);
    EXPECT_EQ(drawn.image.at(63, y), kRed);
    EXPECT_EQ(drawn.image.at(64, y), kWhite);
    EXPECT_EQ(drawn.image.at(127, y), kWhite);
  }
}

TEST(ThumbnailPicture, ThatFitsIsAsDrawnWithItsNote) {
  // 0x00B0 is a reserved opcode without data: parsed, not drawn.
  const Bytes picture = half_red_picture(40, 20, "00B0 | reserved");
  const Drawn drawn = draw({one("PICT", 128, picture)}, 128);
  ASSERT_EQ(drawn.result, MACBIN_THUMBNAIL_PICTURE);
  EXPECT_EQ(std::string(drawn.about.note).find("not drawn: 0x00B0"), 0u) << drawn.about.note;
  const Image alone = decoded_alone("PICT", picture);
  EXPECT_EQ(drawn.image.width, 40);
  EXPECT_EQ(drawn.image.height, 20);
  EXPECT_EQ(drawn.image.rgba, alone.rgba);
  EXPECT_EQ(drawn.image.at(19, 0), kRed);
  EXPECT_EQ(drawn.image.at(20, 0), kWhite);
}

// ---- The choice ------------------------------------------------------------------------

// Everything a file can show: a custom icon, a bundle icon (ICN# 129) and a picture.
std::vector<vt::MbType> everything() {
  return {one("ICN#", kCustomIconId, icon_resource("ICN#", 32, varied)),
          {"ICN#", {{129, std::nullopt, icon_resource("ICN#", 32, checkerboard)}}},
          one("BNDL", 128, hex(kTextBundle)),
          one("FREF", 128, hex(kTextFref)),
          one("PICT", 300, half_red_picture(300, 150))};
}

TEST(ThumbnailChoice, CustomThenBundleThenPictureThenOurOwn) {
  const Drawn custom = draw(everything(), 64, 0x0100 | kCustomIconFlag);
  EXPECT_EQ(custom.result, MACBIN_THUMBNAIL_CUSTOM);
  EXPECT_STREQ(custom.about.type, "ICN#");
  EXPECT_EQ(custom.about.id, -16455);

  const Drawn bundle = draw(everything(), 64, 0x0100);
  EXPECT_EQ(bundle.result, MACBIN_THUMBNAIL_BUNDLE);
  EXPECT_EQ(bundle.about.id, 129);
  expect_enlarged(bundle.image, decoded_alone("ICN#", icon_resource("ICN#", 32, checkerboard)), 2, 0, 0, 64);

  std::vector<vt::MbType> no_bundle = everything();
  no_bundle.erase(no_bundle.begin() + 2);  // the BNDL
  const Drawn picture = draw(no_bundle, 64, 0x0100);
  EXPECT_EQ(picture.result, MACBIN_THUMBNAIL_PICTURE);
  EXPECT_EQ(picture.about.id, 300);
  EXPECT_EQ(picture.image.width, 64);
  EXPECT_EQ(picture.image.height, 32);

  const Drawn own = draw({one("TEXT", 128, vt::bytes_of("words"))}, 64);
  EXPECT_EQ(own.result, MACBIN_THUMBNAIL_DOCUMENT);
  EXPECT_EQ(own.about.rule, 0);
  EXPECT_STREQ(own.about.type, "");
  EXPECT_STREQ(own.about.note, "");
}

// Pixels of the library's own icon darker than half (the outline and the label).
int ink_in(const Image &image, int left, int top, int right, int bottom) {
  int ink = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) ink += image.at(x, y).a == 255 && image.at(x, y).r < 0x80;
  return ink;
}

TEST(ThumbnailChoice, OwnIconsForDocumentsAndApplications) {
  const Drawn text = draw({}, 128, 0x0100, "TEXT");
  ASSERT_EQ(text.result, MACBIN_THUMBNAIL_DOCUMENT);
  ASSERT_EQ(text.image.width, 128);
  ASSERT_EQ(text.image.height, 128);
  EXPECT_EQ(text.image.at(0, 0), kClear);    // left of the page
  EXPECT_EQ(text.image.at(104, 8), kClear);  // the folded corner is cut off
  EXPECT_EQ(text.image.at(40, 30), kWhite);  // paper
  EXPECT_EQ(text.image.at(20, 60), (Colour{0, 0, 0, 255}));  // the page's left edge: 5 units of 4 pixels
  EXPECT_GT(ink_in(text.image, 28, 56, 100, 96), 40);         // the label, 14 to 24 units down
  EXPECT_EQ(ink_in(text.image, 28, 30, 76, 52), 0);
  const Drawn pdoc = draw({}, 128, 0x0100, "PDOC");
  EXPECT_EQ(pdoc.result, MACBIN_THUMBNAIL_DOCUMENT);
  EXPECT_NE(pdoc.image.rgba, text.image.rgba);  // another label

  const Drawn app = draw({}, 128, 0x0100, "APPL");
  ASSERT_EQ(app.result, MACBIN_THUMBNAIL_APPLICATION);
  EXPECT_EQ(app.about.drawn, MACBIN_THUMBNAIL_APPLICATION);
  EXPECT_EQ(app.image.at(4, 4), kClear);  // outside the diamond
  EXPECT_EQ(app.image.at(64, 24), (Colour{0xCC, 0xCC, 0xFF, 0xFF}));
  EXPECT_GT(ink_in(app.image, 34, 50, 94, 78), 40);

  for (const int32_t size : {16, 17, 31, 1024}) {
    const Drawn small = draw({}, size);
    ASSERT_EQ(small.image.width, size);
    ASSERT_EQ(small.image.height, size);
    EXPECT_EQ(small.image.at(size / 2, size / 8), kWhite) << size;  // paper above the label
  }
}

TEST(ThumbnailChoice, ChosenResourceThatCannotBeDrawnGivesOurOwnIconWithTheReason) {
  const Drawn drawn = draw({one("PICT", 128,
                                hex("0000 0000 0000 0010 0010 | frame 16 x 16\n"
                                    "0011 02FF 0C00 FFFF | cut inside the header"))},
                           128);
  ASSERT_EQ(drawn.result, MACBIN_THUMBNAIL_DOCUMENT);
  EXPECT_EQ(drawn.about.rule, MACBIN_FINDER_ICON_PICTURE);
  EXPECT_STREQ(drawn.about.type, "PICT");
  EXPECT_EQ(drawn.about.id, 128);
  const std::string note = drawn.about.note;
  EXPECT_NE(note, "");
  EXPECT_FALSE(note.starts_with("PICT 128: ")) << note;  // the caller names the resource
  EXPECT_EQ(drawn.image.at(40, 30), kWhite);            // the page
  EXPECT_EQ(drawn.image.rgba, draw({}, 128).image.rgba);  // the same page as for a file without resources
}

// ---- Refusals --------------------------------------------------------------------------

TEST(ThumbnailRefusal, SizeChannelAndRecordAreChecked) {
  vt::init_recording();
  MacBinPixels pixels{7, 7, 0, 0, nullptr};
  MacBinThumbnail about{};
  std::memset(&about, 0x55, sizeof about);
  EXPECT_EQ(MacBin_DrawThumbnail(nullptr, 128, &pixels, &about), -1);
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_STATE);
  EXPECT_EQ(pixels.width, 0);
  EXPECT_EQ(pixels.rgba, nullptr);
  EXPECT_EQ(about.drawn, 0);
  EXPECT_STREQ(about.type, "");

  const Drawn too_small = draw({}, MACBIN_THUMBNAIL_MIN_SIZE - 1);
  EXPECT_EQ(too_small.result, -1);
  EXPECT_EQ(too_small.error, MACBIN_ERR_ARGUMENT);
  EXPECT_TRUE(too_small.image.rgba.empty());
  EXPECT_EQ(draw({}, MACBIN_THUMBNAIL_MAX_SIZE + 1).result, -1);
  EXPECT_EQ(draw({}, MACBIN_THUMBNAIL_MAX_SIZE).result, MACBIN_THUMBNAIL_DOCUMENT);

  const char *why = "";
  EXPECT_EQ(MacBin_DrawThumbnail(nullptr, 128, nullptr, nullptr), -1);
  EXPECT_EQ(MacBin_LastError(&why), MACBIN_ERR_ARGUMENT);
  EXPECT_STREQ(why, "a thumbnail needs a pixels record");
}

// ---- PICT files ------------------------------------------------------------------------

TEST(ThumbnailPictFile, WhereThePictureStarts) {
  const Bytes v2 = half_red_picture(300, 150);
  const Bytes v1 = hex("0000 0000 0000 0010 0010 1101 FF | version 1, 13 bytes");
  const Bytes with_header = concat({Bytes(512, 0), v2});
  struct Case {
    const char *what;
    Bytes bytes;
    int32_t start;
  };
  const Case cases[] = {
      {"version 2 after the header", with_header, 512},
      {"version 1 after the header", concat({Bytes(512, 0xAA), v1}), 512},
      {"version 2 without a header", v2, 0},
      {"version 1 without a header, 13 bytes", v1, 0},
      {"both: the header wins", concat({v2, Bytes(512 - v2.size(), 0), v2}), 512},
      {"the probe's 526 bytes alone", Bytes(with_header.begin(), with_header.begin() + 526), 512},
      {"cut inside the version word", concat({Bytes(512, 0), Bytes(v2.begin(), v2.begin() + 13)}), -1},
      {"text", vt::bytes_of("just some text, no picture at all\n"), -1},
      {"version 2 opcode with another version", concat({Bytes(512, 0), hex("0000 0000 0000 0010 0010 0011 02FE")}), -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(MacBin_FindPictFilePicture(c.bytes.data(), static_cast<int64_t>(c.bytes.size())), c.start);
  }
  EXPECT_EQ(MacBin_FindPictFilePicture(nullptr, 600), -1);
  EXPECT_EQ(MacBin_FindPictFilePicture(v2.data(), 0), -1);
  EXPECT_EQ(MacBin_FindPictFilePicture(v2.data(), -5), -1);
  EXPECT_EQ(MACBIN_PICT_FILE_PROBE_BYTES, MACBIN_PICT_FILE_HEADER_BYTES + 14);
}

struct DrawnFile {
  int32_t result = 0;
  MacBinThumbnail about{};
  Image image;
  int32_t error = MACBIN_ERR_NONE;
};

DrawnFile draw_file(const Bytes &file, int32_t size) {
  vt::init_recording();
  DrawnFile out;
  MacBinPixels pixels{};
  MacBin_ClearError();
  out.result = MacBin_DrawPictFileThumbnail(file.data(), static_cast<int32_t>(file.size()), size, &pixels, &out.about);
  out.error = MacBin_LastError(nullptr);
  out.image = take(pixels);
  return out;
}

TEST(ThumbnailPictFile, ReducedWithAndWithoutItsHeader) {
  const Bytes picture = half_red_picture(300, 150);
  for (const Bytes &file : {concat({Bytes(512, 0), picture}), picture}) {
    const DrawnFile drawn = draw_file(file, 64);
    ASSERT_EQ(drawn.result, MACBIN_THUMBNAIL_PICT_FILE);
    EXPECT_EQ(drawn.about.drawn, MACBIN_THUMBNAIL_PICT_FILE);
    EXPECT_EQ(drawn.about.rule, 0);
    EXPECT_STREQ(drawn.about.note, "");
    ASSERT_EQ(drawn.image.width, 64);
    ASSERT_EQ(drawn.image.height, 32);
    EXPECT_EQ(drawn.image.at(31, 10), kRed);
    EXPECT_EQ(drawn.image.at(32, 10), kWhite);
  }
  const DrawnFile small = draw_file(concat({Bytes(512, 0), half_red_picture(40, 20, "00B0")}), 64);
  ASSERT_EQ(small.result, MACBIN_THUMBNAIL_PICT_FILE);
  EXPECT_EQ(small.image.width, 40);
  EXPECT_EQ(std::string(small.about.note).find("not drawn: 0x00B0"), 0u) << small.about.note;
}

TEST(ThumbnailPictFile, RefusalsSayWhy) {
  const DrawnFile text = draw_file(vt::bytes_of("just some text, no picture at all\n"), 128);
  EXPECT_EQ(text.result, -1);
  EXPECT_EQ(text.error, MACBIN_ERR_ARGUMENT);
  EXPECT_STREQ(text.about.note, "not a PICT file");
  EXPECT_TRUE(text.image.rgba.empty());

  const DrawnFile cut = draw_file(concat({Bytes(512, 0), hex("0000 0000 0000 0010 0010 0011 02FF 0C00 FFFF")}), 128);
  EXPECT_EQ(cut.result, -1);
  EXPECT_EQ(cut.error, MACBIN_ERR_DAMAGED);
  const char *why = "";
  MacBin_LastError(&why);
  EXPECT_STREQ(cut.about.note, why);
  EXPECT_NE(std::string(why), "");
  EXPECT_TRUE(cut.image.rgba.empty());

  EXPECT_EQ(draw_file(half_red_picture(30, 30), 15).error, MACBIN_ERR_ARGUMENT);
  MacBinPixels pixels{};
  EXPECT_EQ(MacBin_DrawPictFileThumbnail(nullptr, 100, 128, &pixels, nullptr), -1);
  EXPECT_EQ(MacBin_DrawPictFileThumbnail("x", -1, 128, &pixels, nullptr), -1);
}

// ---- The resampler ---------------------------------------------------------------------

struct Resampled {
  Bytes samples;
  std::vector<int32_t> rows_pulled;  // source rows in the order they were asked for
  bool ok = true;
};

struct RowFeed {
  const Bytes *source;
  size_t row_bytes;
  int32_t rows;
  int32_t fail_at_row;
  Resampled *out;
  int32_t next = 0;
};

int32_t feed_row(void *argument, uint8_t *row) {
  RowFeed &feed = *static_cast<RowFeed *>(argument);
  if (feed.next == feed.fail_at_row || feed.next >= feed.rows) return 0;
  std::memcpy(row, feed.source->data() + static_cast<size_t>(feed.next) * feed.row_bytes, feed.row_bytes);
  feed.out->rows_pulled.push_back(feed.next++);
  return 1;
}

Resampled resample(int32_t source_width, int32_t source_height, int32_t target_width, int32_t target_height,
                   int32_t channels, const Bytes &source, int32_t fail_at_row = -1) {
  Resampled out;
  RowFeed feed{&source, static_cast<size_t>(source_width * channels), source_height, fail_at_row, &out};
  MacBinResampler *resampler =
      MacBin_NewResampler(source_width, source_height, target_width, target_height, channels, feed_row, &feed);
  EXPECT_NE(resampler, nullptr);
  if (resampler == nullptr) return out;
  Bytes row(static_cast<size_t>(target_width * channels));
  for (int32_t y = 0; y < target_height && out.ok; ++y) {
    out.ok = MacBin_ResampleRow(resampler, row.data()) == 1;
    if (out.ok) out.samples.insert(out.samples.end(), row.begin(), row.end());
  }
  if (out.ok) out.ok = MacBin_ResampleRow(resampler, row.data()) == 0;  // no row past the last
  MacBin_FreeResampler(resampler);
  return out;
}

TEST(ThumbnailResampler, EachTargetPixelIsTheMeanOfItsArea) {
  struct Case {
    const char *what;
    int32_t sw, sh, tw, th, channels;
    const char *source;
    const char *target;
  };
  const Case cases[] = {
      {"same size: unchanged", 3, 2, 3, 2, 1, "00 7F FF 01 02 03", "00 7F FF 01 02 03"},
      {"halved across; 127.5 rounds to even", 4, 1, 2, 1, 1, "00 FF 64 C8", "80 96"},
      {"three into two: a half pixel shared", 3, 1, 2, 1, 1, "00 5A B4", "1E 96"},
      {"halved down", 1, 4, 1, 2, 1, "00 64 C8 32", "32 7D"},
      {"enlarged: copies", 1, 1, 3, 2, 1, "0A", "0A 0A 0A 0A 0A 0A"},
      {"channels kept apart", 2, 1, 1, 1, 3, "FF 00 10  00 FF 30", "80 80 20"},
      {"a 2 x 2 block", 2, 2, 1, 1, 2, "00 FF 10 FF  20 FF 30 00", "18 BF"},
      {"four channels", 2, 1, 1, 1, 4, "10 20 30 40  30 40 50 60", "20 30 40 50"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Resampled result = resample(c.sw, c.sh, c.tw, c.th, c.channels, hex(c.source));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(vt::to_hex(result.samples), vt::to_hex(hex(c.target)));
    // Every source row once, top first, whatever the scale.
    std::vector<int32_t> all(static_cast<size_t>(c.sh));
    for (int32_t i = 0; i < c.sh; ++i) all[static_cast<size_t>(i)] = i;
    EXPECT_EQ(result.rows_pulled, all);
  }
}

TEST(ThumbnailResampler, ShrinkingSkipsNoSourceRowAndKeepsTheSum) {
  // 7 rows of 1 .. 7 into 3: each source row's weight is spread, none lost.
  const Resampled result = resample(1, 7, 1, 3, 1, hex("0E 1C 2A 38 46 54 62"));
  ASSERT_TRUE(result.ok);
  // Means over [0, 7/3), [7/3, 14/3), [14/3, 7) of 14, 28, .. 98: the rows
  // on the borders count a third and two thirds: 56 / (7/3) = 24, then 56, 88.
  EXPECT_EQ(vt::to_hex(result.samples), vt::to_hex(hex("18 38 58")));
  EXPECT_EQ(result.rows_pulled.size(), 7u);
}

TEST(ThumbnailResampler, SourceFailureIsFinal) {
  const Resampled result = resample(1, 4, 1, 2, 1, hex("00 64 C8 32"), 2);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(vt::to_hex(result.samples), vt::to_hex(hex("32")));  // the first row, made before the failure

  // After a failure the source is not asked again.
  Resampled pulled;
  const Bytes source = hex("00 64 C8 32");
  RowFeed feed{&source, 1, 4, 1, &pulled};
  MacBinResampler *resampler = MacBin_NewResampler(1, 4, 1, 4, 1, feed_row, &feed);
  ASSERT_NE(resampler, nullptr);
  uint8_t row = 0xEE;
  EXPECT_EQ(MacBin_ResampleRow(resampler, &row), 1);
  EXPECT_EQ(row, 0x00);
  EXPECT_EQ(MacBin_ResampleRow(resampler, &row), 0);
  feed.fail_at_row = -1;  // the source would deliver now
  EXPECT_EQ(MacBin_ResampleRow(resampler, &row), 0);
  EXPECT_EQ(pulled.rows_pulled, (std::vector<int32_t>{0}));
  MacBin_FreeResampler(resampler);
}

TEST(ThumbnailResampler, RefusedArguments) {
  vt::init_recording();
  Resampled unused;
  const Bytes source = hex("00");
  RowFeed feed{&source, 1, 1, -1, &unused};
  struct Case {
    int32_t sw, sh, tw, th, channels;
  };
  for (const Case c : {Case{0, 1, 1, 1, 1}, Case{1, 65536, 1, 1, 1}, Case{1, 1, -1, 1, 1}, Case{1, 1, 1, 70000, 1},
                       Case{1, 1, 1, 1, 0}, Case{1, 1, 1, 1, 5}}) {
    SCOPED_TRACE(std::to_string(c.sw) + " " + std::to_string(c.sh) + " " + std::to_string(c.tw) + " " +
                 std::to_string(c.th) + " " + std::to_string(c.channels));
    MacBin_ClearError();
    EXPECT_EQ(MacBin_NewResampler(c.sw, c.sh, c.tw, c.th, c.channels, feed_row, &feed), nullptr);
    EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_ARGUMENT);
  }
  EXPECT_EQ(MacBin_NewResampler(1, 1, 1, 1, 1, nullptr, &feed), nullptr);
  MacBinResampler *largest = MacBin_NewResampler(65535, 1, 1, 1, 4, feed_row, &feed);
  EXPECT_NE(largest, nullptr);
  EXPECT_EQ(MacBin_ResampleRow(largest, nullptr), 0);
  MacBin_FreeResampler(largest);
  uint8_t row = 0;
  EXPECT_EQ(MacBin_ResampleRow(nullptr, &row), 0);
  MacBin_FreeResampler(nullptr);
}

}  // namespace
