// The tool's PNG writer: at the fast setting an image of at most 256
// distinct pixels is stored indexed (with the alpha of each palette entry
// when any is not opaque), one more colour makes it RGB; the best setting
// keeps to RGB or RGBA.  Whatever is stored, libpng reads back the same
// pixels.
#include <gtest/gtest.h>

#include <string>

#include "common/png_writer.hpp"
#include "support/png_file.hpp"
#include "support/support.hpp"

namespace {

using vt::Bytes;

// Colour type and bit depth as stored in IHDR (bytes 24 and 25 of the file).
struct Stored {
  int depth = -1;
  int colour_type = -1;
  bool has_palette_alpha = false;  // a tRNS chunk
};

struct Written {
  Stored stored;
  vt::PngFile read;
};

Written write_and_read(const vt::TempDir &dir, int32_t width, int32_t height, const Bytes &rgba, bool with_alpha,
                       varnel_tool::PngCompression compression) {
  const varnel_tool::PngTexts texts;
  Bytes file;
  std::string error;
  varnel_tool::set_png_compression(compression);
  const bool ok = varnel_tool::write_png({width, height, rgba, with_alpha, texts},
                                         [&](std::span<const uint8_t> bytes) {
                                           file.insert(file.end(), bytes.begin(), bytes.end());
                                           return true;
                                         },
                                         error);
  varnel_tool::set_png_compression(varnel_tool::PngCompression::kFast);
  Written written;
  EXPECT_TRUE(ok) << error;
  if (!ok || file.size() < 33) return written;
  written.stored.depth = file[24];
  written.stored.colour_type = file[25];
  written.stored.has_palette_alpha = std::string(file.begin(), file.end()).find("tRNS") != std::string::npos;
  vt::write_file(dir.file("out.png"), file);
  written.read = vt::read_png_file(dir.file("out.png"));
  EXPECT_TRUE(written.read.read) << written.read.error;
  return written;
}

// `colours` distinct opaque colours over a 64 x 8 image, repeated in rows
// so that runs and changes both occur.
Bytes image_of(int colours, bool translucent_first = false) {
  Bytes rgba;
  for (int i = 0; i < 64 * 8; ++i) {
    const int c = (i * 37) % colours;
    rgba.insert(rgba.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8), 0x5A,
                             static_cast<uint8_t>(translucent_first && c == 0 ? 0x40 : 0xFF)});
  }
  return rgba;
}

constexpr int kPalette = 3;
constexpr int kRgb = 2;
constexpr int kRgba = 6;

TEST(ToolPngWriter, FewColoursAreIndexedAtTheFastSettingOnly) {
  vt::TempDir dir;
  const Bytes rgba = image_of(256);
  const Written fast = write_and_read(dir, 64, 8, rgba, false, varnel_tool::PngCompression::kFast);
  EXPECT_EQ(fast.stored.colour_type, kPalette);
  EXPECT_EQ(fast.stored.depth, 8);
  EXPECT_FALSE(fast.stored.has_palette_alpha);
  EXPECT_EQ(fast.read.rgba, rgba);

  const Written best = write_and_read(dir, 64, 8, rgba, false, varnel_tool::PngCompression::kBest);
  EXPECT_EQ(best.stored.colour_type, kRgb);
  EXPECT_EQ(best.read.rgba, rgba);
}

TEST(ToolPngWriter, TheTwoHundredAndFiftySeventhColourMakesItRgb) {
  vt::TempDir dir;
  const Bytes rgba = image_of(257);
  const Written fast = write_and_read(dir, 64, 8, rgba, false, varnel_tool::PngCompression::kFast);
  EXPECT_EQ(fast.stored.colour_type, kRgb);
  EXPECT_EQ(fast.read.rgba, rgba);
}

TEST(ToolPngWriter, AlphaIsKeptPerPaletteEntryOrDroppedWhenAsked) {
  vt::TempDir dir;
  const Bytes rgba = image_of(16, true);
  const Written kept = write_and_read(dir, 64, 8, rgba, true, varnel_tool::PngCompression::kFast);
  EXPECT_EQ(kept.stored.colour_type, kPalette);
  EXPECT_TRUE(kept.stored.has_palette_alpha);
  EXPECT_EQ(kept.read.rgba, rgba);

  // Written without alpha, two pixels that differ only in alpha are one
  // palette entry, read back opaque.
  Bytes opaque = rgba;
  for (size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 0xFF;
  const Written dropped = write_and_read(dir, 64, 8, rgba, false, varnel_tool::PngCompression::kFast);
  EXPECT_EQ(dropped.stored.colour_type, kPalette);
  EXPECT_FALSE(dropped.stored.has_palette_alpha);
  EXPECT_EQ(dropped.read.rgba, opaque);

  const Written best = write_and_read(dir, 64, 8, rgba, true, varnel_tool::PngCompression::kBest);
  EXPECT_EQ(best.stored.colour_type, kRgba);
  EXPECT_EQ(best.read.rgba, rgba);
}

TEST(ToolPngWriter, OneColourAndOnePixel) {
  vt::TempDir dir;
  const Bytes pixel = {0x12, 0x34, 0x56, 0xFF};
  const Written one = write_and_read(dir, 1, 1, pixel, false, varnel_tool::PngCompression::kFast);
  EXPECT_EQ(one.stored.colour_type, kPalette);
  EXPECT_EQ(one.read.rgba, pixel);
}

}  // namespace
