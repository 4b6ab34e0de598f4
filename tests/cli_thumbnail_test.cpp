// varnel thumbnail, run as a user (and a file manager) runs it
// (support/tool_run.hpp), its PNGs read back with libpng
// (support/png_file.hpp): the same icon from every container, each rule of
// the choice, an icon enlarged 4 times compared pixel by pixel with the
// library's own drawing of it, pictures reduced with their shape, the
// generic icons, --size bounds, and damaged inputs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/enlargement.hpp"
#include "support/macbinary.hpp"
#include "support/png_file.hpp"
#include "support/support.hpp"
#include "support/tool_run.hpp"
#include "varnel.h"

namespace {

using namespace cli;

using vt::Bytes;
using vt::Colour;
using vt::concat;
using vt::hex;

constexpr Colour kClear{0, 0, 0, 0};
constexpr Colour kWhite{255, 255, 255, 255};
constexpr Colour kRed{255, 0, 0, 255};

constexpr uint32_t kCustomIconId = 0xBFB9;  // -16455 as the map stores it

// A 32 x 32 icon with colours and a round mask, as MacBin_EncodeResource
// makes the members of a family from it.
Bytes icon_member(const std::string &type) {
  std::vector<uint8_t> rgba(32 * 32 * 4);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      uint8_t *p = &rgba[static_cast<size_t>((y * 32 + x) * 4)];
      const int dx = 2 * x - 31, dy = 2 * y - 31;
      p[0] = static_cast<uint8_t>(x * 8);
      p[1] = static_cast<uint8_t>(y * 8);
      p[2] = x < 16 ? 0x00 : 0xFF;
      p[3] = dx * dx + dy * dy <= 32 * 32 ? 0xFF : 0x00;
    }
  const MacBinPixels pixels{32, 32, 0, 0, rgba.data()};
  char error[128] = "";
  Bytes data(1024);
  const int32_t length = MacBin_EncodeResource(type.c_str(), &pixels, MACBIN_ENCODE_NEAREST, data.data(),
                                               static_cast<int32_t>(data.size()), error);
  EXPECT_GT(length, 0) << error;
  data.resize(static_cast<size_t>(length > 0 ? length : 0));
  return data;
}

vt::MbType family_type(const std::string &type, uint32_t id) { return {type, {{id, std::nullopt, icon_member(type)}}}; }

// A version 2 picture `width` x `height` pixels: white, its left half
// painted red.
Bytes half_red_picture(int16_t width, int16_t height) {
  Bytes out = hex("0000 0000 0000");
  vt::append_be16(out, static_cast<uint16_t>(height));
  vt::append_be16(out, static_cast<uint16_t>(width));
  out = concat({out, hex("0011 02FF | version 2\n"
                         "0C00 FFFF FFFF 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 | header\n"
                         "001A FFFF 0000 0000 | foreground red\n"
                         "0031 0000 0000 | paintRect: top, left,")});
  vt::append_be16(out, static_cast<uint16_t>(height));
  vt::append_be16(out, static_cast<uint16_t>(width / 2));
  return concat({out, hex("00FF")});
}

// A bundle for TEXT files of VARN: FREF 128 (local 0) and family 129.
Bytes text_bundle() {
  return hex("5641524E 0000 0001 | owner VARN 0, two lists\n"
             "46524546 0000 0000 0080 | FREF: local 0 = 128\n"
             "49434E23 0000 0000 0081 | ICN#: local icon 0 = 129");
}

vt::MacBinaryPlan plan_of(std::vector<vt::MbType> types, uint16_t flags = 0x0100, const std::string &type = "TEXT") {
  vt::MacBinaryPlan plan;
  plan.format = vt::MbFormat::kII;
  plan.type = type;
  plan.flags = flags;
  plan.types = std::move(types);
  return plan;
}

// A file with everything: a custom icon (icl8 and its ICN#), a bundle
// icon (ICN# 129) and a picture.
vt::MacBinaryPlan everything(uint16_t flags) {
  return plan_of({family_type("ICN#", kCustomIconId), family_type("icl8", kCustomIconId),
                  {"ICN#", {{129, std::nullopt, icon_member("ICN#")}}},
                  {"BNDL", {{128, std::nullopt, text_bundle()}}},
                  {"FREF", {{128, std::nullopt, hex("54455854 0000 00 | TEXT, local icon 0, no name")}}},
                  {"PICT", {{300, std::nullopt, half_red_picture(300, 150)}}}},
                 flags);
}

// The library's own drawing of a resource of a file.
vt::PngFile decoded(const std::string &path, const std::string &type, uint32_t id) {
  vt::PngFile image;
  vt::init_recording();
  MacBinChannel *channel = MacBin_OpenR(path.c_str());
  if (channel == nullptr) return image;
  for (int32_t t = 0; t < channel->type_count; ++t)
    for (int32_t r = 0; r < channel->types[t].count; ++r)
      if (std::memcmp(channel->types[t].type, type.data(), 4) == 0 &&
          static_cast<uint32_t>(channel->types[t].refs[r].id) == id) {
        MacBinPixels pixels{};
        char error[128] = "";
        if (MacBin_DecodeResource(channel, &channel->types[t].refs[r], &pixels, error) == 1) {
          image.read = true;
          image.width = pixels.width;
          image.height = pixels.height;
          image.rgba.assign(pixels.rgba, pixels.rgba + static_cast<size_t>(pixels.width * pixels.height * 4));
        }
        MacBin_FreePixels(&pixels);
      }
  MacBin_Close(channel);
  return image;
}

vt::PngFile thumbnail(const vt::TempDir &dir, const std::string &arguments, ToolRun *out = nullptr) {
  const ToolRun run = varnel(dir.path(), "thumbnail " + arguments);
  if (out != nullptr) *out = run;
  EXPECT_EQ(run.status, 0) << run;
  return vt::read_png_file(dir.file("out.png"));
}

// Expects `image` to be `icon` enlarged `factor` times, centred on a
// size x size image, every pixel.
void expect_enlarged(const vt::PngFile &image, const vt::PngFile &icon, int factor, int size) {
  ASSERT_TRUE(image.read) << image.error;
  ASSERT_TRUE(icon.read);
  const int left = (size - icon.width * factor) / 2, top = (size - icon.height * factor) / 2;
  vt::expect_enlarged(image, icon, factor, left, top, size);
}

// ---- The rules ---------------------------------------------------------------------

TEST(CliThumbnailRules, CustomIconEnlargedFourTimesPixelForPixel) {
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"), vt::build_macbinary(everything(0x0500)).bytes);
  ToolRun run;
  const vt::PngFile image = thumbnail(dir, "in.bin out.png", &run);
  EXPECT_NE(run.err.find("in.bin: custom icon icl8 -16455"), std::string::npos) << run;
  const vt::PngFile icon = decoded(dir.file("in.bin"), "icl8", kCustomIconId);
  EXPECT_EQ(image.channels, 4);
  expect_enlarged(image, icon, 4, 128);
  EXPECT_EQ(image.at(0, 0), kClear);  // outside the round mask
}

TEST(CliThumbnailRules, BundleIconWithoutTheCustomFlag) {
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"), vt::build_macbinary(everything(0x0100)).bytes);
  ToolRun run;
  const vt::PngFile image = thumbnail(dir, "--size 100 in.bin out.png", &run);
  EXPECT_NE(run.err.find("in.bin: bundle icon ICN# 129"), std::string::npos) << run;
  // 3 x 32 = 96, two transparent pixels either side.
  expect_enlarged(image, decoded(dir.file("in.bin"), "ICN#", 129), 3, 100);
}

TEST(CliThumbnailRules, PictureReducedKeepingItsShape) {
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"),
                 vt::build_macbinary(plan_of({{"PICT",
                                               {{128, std::nullopt, half_red_picture(40, 40)},
                                                {129, std::nullopt, half_red_picture(300, 150)}}}}))
                     .bytes);
  ToolRun run;
  const vt::PngFile image = thumbnail(dir, "in.bin out.png", &run);
  EXPECT_NE(run.err.find("in.bin: largest picture PICT 129"), std::string::npos) << run;
  ASSERT_TRUE(image.read) << image.error;
  EXPECT_EQ(image.width, 128);
  EXPECT_EQ(image.height, 64);
  EXPECT_EQ(image.channels, 3);  // opaque
  // 300 columns into 128: column 63 covers 147.7 to 150 (red), 64 from 150 on (white).
  for (int y = 0; y < 64; ++y) {
    EXPECT_EQ(image.at(0, y), kRed);
    EXPECT_EQ(image.at(63, y), kRed);
    EXPECT_EQ(image.at(64, y), kWhite);
    EXPECT_EQ(image.at(127, y), kWhite);
  }
}

TEST(CliThumbnailRules, SmallPictureIsNotEnlarged) {
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"),
                 vt::build_macbinary(plan_of({{"PICT", {{128, std::nullopt, half_red_picture(40, 20)}}}})).bytes);
  const vt::PngFile image = thumbnail(dir, "in.bin out.png");
  ASSERT_TRUE(image.read) << image.error;
  EXPECT_EQ(image.width, 40);
  EXPECT_EQ(image.height, 20);
  EXPECT_EQ(image.at(19, 0), kRed);
  EXPECT_EQ(image.at(20, 0), kWhite);
}

// Pixels of the generic icon with less than half red (the ink of the label).
int ink_in(const vt::PngFile &image, int left, int top, int right, int bottom) {
  int ink = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) ink += image.at(x, y).a == 255 && image.at(x, y).r < 0x80;
  return ink;
}

TEST(CliThumbnailRules, GenericDocumentIconMarkedWithTheType) {
  vt::TempDir dir;
  vt::write_file(dir.file("text.bin"),
                 vt::build_macbinary(plan_of({{"TEXT", {{128, std::nullopt, vt::bytes_of("words")}}}})).bytes);
  vt::write_file(dir.file("pdoc.bin"), vt::build_macbinary(plan_of({}, 0x0100, "PDOC")).bytes);
  ToolRun run;
  const vt::PngFile text = thumbnail(dir, "text.bin out.png", &run);
  EXPECT_NE(run.err.find("text.bin: generic document icon"), std::string::npos) << run;
  ASSERT_TRUE(text.read) << text.error;
  EXPECT_EQ(text.width, 128);
  EXPECT_EQ(text.height, 128);
  EXPECT_EQ(text.at(0, 0), kClear);        // left of the page
  EXPECT_EQ(text.at(104, 8), kClear);      // the folded corner is cut off
  EXPECT_EQ(text.at(40, 30), kWhite);      // paper
  EXPECT_EQ(text.at(20, 60).a, 255);       // the page's left edge (5 units, 4 pixels a unit)
  EXPECT_EQ(text.at(20, 60).r, 0);
  // The label lies across the page between 14 and 24 units down.
  EXPECT_GT(ink_in(text, 28, 56, 100, 96), 40);
  EXPECT_EQ(ink_in(text, 28, 30, 76, 52), 0);
  const vt::PngFile pdoc = thumbnail(dir, "pdoc.bin out.png");
  ASSERT_TRUE(pdoc.read);
  EXPECT_NE(pdoc.rgba, text.rgba);  // another label
  EXPECT_EQ(pdoc.at(40, 30), kWhite);
}

TEST(CliThumbnailRules, GenericApplicationIcon) {
  vt::TempDir dir;
  vt::write_file(dir.file("app.bin"), vt::build_macbinary(plan_of({}, 0x0100, "APPL")).bytes);
  ToolRun run;
  const vt::PngFile image = thumbnail(dir, "app.bin out.png", &run);
  EXPECT_NE(run.err.find("app.bin: generic application icon"), std::string::npos) << run;
  ASSERT_TRUE(image.read) << image.error;
  EXPECT_EQ(image.at(4, 4), kClear);  // outside the diamond
  EXPECT_EQ(image.at(64, 24), (Colour{0xCC, 0xCC, 0xFF, 0xFF}));
  EXPECT_GT(ink_in(image, 34, 50, 94, 78), 40);
}

// ---- Containers -------------------------------------------------------------------

TEST(CliThumbnailContainers, EveryContainerGivesTheSameIcon) {
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"), vt::build_macbinary(everything(0x0500)).bytes);
  const vt::PngFile icon = decoded(dir.file("in.bin"), "icl8", kCustomIconId);
  struct Container {
    const char *to;
    const char *file;
    const char *thumbnail_of;
  };
  for (const Container &c : {Container{"classic", "in.classic", "in.classic"}, Container{"applesingle", "in.as", "in.as"},
                             Container{"appledouble", "doc", "doc"}, Container{"appledouble", "doc2", "._doc2"},
                             Container{"binhex", "in.hqx", "in.hqx"}}) {
    SCOPED_TRACE(c.thumbnail_of);
    ASSERT_EQ(varnel(dir.path(), std::string("convert in.bin ") + c.file + " --to " + c.to).status, 0);
    expect_enlarged(thumbnail(dir, std::string(c.thumbnail_of) + " out.png"), icon, 4, 128);
  }
  // A bare resource fork has no Finder information: no flags, type or
  // creator, so the picture is what it shows.
  ASSERT_EQ(varnel(dir.path(), "convert in.bin in.rsrc --to rsrc").status, 0);
  ToolRun run;
  const vt::PngFile picture = thumbnail(dir, "in.rsrc out.png", &run);
  EXPECT_NE(run.err.find("largest picture PICT 300"), std::string::npos) << run;
  EXPECT_EQ(picture.width, 128);
  EXPECT_EQ(picture.height, 64);
}

TEST(CliThumbnailContainers, PictFileWithAndWithoutItsHeader) {
  vt::TempDir dir;
  const Bytes picture = half_red_picture(300, 150);
  vt::write_file(dir.file("picture.pict"), concat({Bytes(512, 0), picture}));
  vt::write_file(dir.file("bare.pict"), picture);
  for (const char *name : {"picture.pict", "bare.pict"}) {
    const vt::PngFile image = thumbnail(dir, std::string("--size 64 ") + name + " out.png");
    ASSERT_TRUE(image.read) << image.error;
    EXPECT_EQ(image.width, 64);
    EXPECT_EQ(image.height, 32);
    EXPECT_EQ(image.at(31, 10), kRed);
    EXPECT_EQ(image.at(32, 10), kWhite);
  }
}

TEST(CliThumbnailContainers, StandardInputAndOutput) {
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"), vt::build_macbinary(everything(0x0500)).bytes);
  const ToolRun run = varnel(dir.path(), "thumbnail -q - -", dir.file("in.bin"));
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_EQ(run.err, "");
  vt::write_file(dir.file("piped.png"), vt::bytes_of(run.out));
  expect_enlarged(vt::read_png_file(dir.file("piped.png")), decoded(dir.file("in.bin"), "icl8", kCustomIconId), 4,
                  128);
}

// ---- Sizes ------------------------------------------------------------------------

TEST(CliThumbnailSize, BoundsOfSize) {
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"), vt::build_macbinary(everything(0x0500)).bytes);
  for (const char *size : {"15", "1025", "0", "-3", "12x", ""}) {
    SCOPED_TRACE(size);
    expect_failure(varnel(dir.path(), std::string("thumbnail --size '") + size + "' in.bin out.png"), 2,
                   "must be a whole number from 16 to 1024");
  }
  EXPECT_FALSE(vt::file_exists(dir.file("out.png")));
  const vt::PngFile icon = decoded(dir.file("in.bin"), "icl8", kCustomIconId);
  expect_enlarged(thumbnail(dir, "--size 1024 in.bin out.png"), icon, 32, 1024);
  expect_enlarged(thumbnail(dir, "--size 63 in.bin out.png"), icon, 1, 63);
  // Below the icon's size it is reduced to fit, still centred.
  const vt::PngFile small = thumbnail(dir, "--size 16 in.bin out.png");
  ASSERT_TRUE(small.read) << small.error;
  EXPECT_EQ(small.width, 16);
  EXPECT_EQ(small.height, 16);
  EXPECT_EQ(small.at(0, 0), kClear);
  EXPECT_EQ(small.at(8, 8).a, 255);
}

TEST(CliThumbnailSize, GenericIconAtEverySizeFits) {
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"), vt::build_macbinary(plan_of({})).bytes);
  for (const int size : {16, 17, 31, 48, 256, 1024}) {
    const vt::PngFile image = thumbnail(dir, "--size " + std::to_string(size) + " in.bin out.png");
    ASSERT_TRUE(image.read) << image.error;
    EXPECT_EQ(image.width, size);
    EXPECT_EQ(image.height, size);
    EXPECT_EQ(image.at(size / 2, size / 8), kWhite) << size;  // paper above the label
  }
}

// ---- Damaged inputs ---------------------------------------------------------------

TEST(CliThumbnailDamage, UnreadableInputsAreNamedWithTheirReason) {
  vt::TempDir dir;
  Bytes cut = vt::build_macbinary(everything(0x0500)).bytes;
  vt::store_be32(cut, 83, 100000);  // a data fork longer than the file
  vt::store_header_crc(cut);
  vt::write_file(dir.file("cut.bin"), cut);
  vt::write_text(dir.file("notes.txt"), "just some text, no Macintosh file at all\n");
  vt::write_file(dir.file("bad.pict"), concat({Bytes(512, 0), hex("0000 0000 0000 0010 0010 0011 02FF 0C00 FFFF")}));
  expect_failure(varnel(dir.path(), "thumbnail cut.bin out.png"), 1, "cut.bin: error: Data fork cut short");
  expect_failure(varnel(dir.path(), "thumbnail notes.txt out.png"), 1, "notes.txt: not a Macintosh file");
  expect_failure(varnel(dir.path(), "thumbnail bad.pict out.png"), 1, "bad.pict: the picture cannot be drawn");
  expect_failure(varnel(dir.path(), "thumbnail missing.bin out.png"), 1, "missing.bin: cannot open");
  expect_failure(varnel(dir.path(), "thumbnail in.bin"), 2, "thumbnail needs an input file and an output PNG file");
  EXPECT_EQ(files_in(dir.path()), (std::vector<std::string>{"bad.pict", "cut.bin", "notes.txt"}));
}

TEST(CliThumbnailDamage, DamagedMapGivesTheGenericIconWithAWarning) {
  vt::TempDir dir;
  vt::BuiltMacBinary built = vt::build_macbinary(everything(0x0500));
  built.patch(built.at.type_list, hex("7FFF"));  // far more types than the map holds
  vt::write_file(dir.file("in.bin"), built.bytes);
  ToolRun run;
  const vt::PngFile image = thumbnail(dir, "in.bin out.png", &run);
  EXPECT_NE(run.err.find("warning"), std::string::npos) << run;
  EXPECT_NE(run.err.find("generic document icon"), std::string::npos) << run;
  ASSERT_TRUE(image.read) << image.error;
  EXPECT_EQ(image.width, 128);
}

TEST(CliThumbnailDamage, PictureThatCannotBeDrawnGivesTheGenericIcon) {
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"),
                 vt::build_macbinary(plan_of({{"PICT",
                                               {{128, std::nullopt,
                                                 hex("0000 0000 0000 0010 0010 | frame 16 x 16\n"
                                                     "0011 02FF 0C00 FFFF | cut inside the header")}}}}))
                     .bytes);
  ToolRun run;
  const vt::PngFile image = thumbnail(dir, "in.bin out.png", &run);
  EXPECT_NE(run.err.find("in.bin: largest picture PICT 128 cannot be drawn ("), std::string::npos) << run;
  EXPECT_NE(run.err.find("); drawing a generic icon\n"), std::string::npos) << run;
  EXPECT_EQ(run.err.find("(PICT 128: "), std::string::npos) << run;  // the resource is named once
  ASSERT_TRUE(image.read) << image.error;
  EXPECT_EQ(image.at(40, 30), kWhite);  // the generic page
}

TEST(CliThumbnailDamage, OutputIntoAMissingFolder) {
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"), vt::build_macbinary(everything(0x0500)).bytes);
  expect_failure(varnel(dir.path(), "thumbnail in.bin no/such/out.png"), 1, "no/such/out.png: cannot create");
}

}  // namespace
