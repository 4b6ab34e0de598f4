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

// What the file stores, from its chunks: IHDR's bit depth and colour type,
// the number of PLTE entries and whether a tRNS chunk gives them alpha.
struct Stored {
  int depth = -1;
  int colour_type = -1;
  int palette_entries = 0;
  bool has_palette_alpha = false;
};

Stored stored_in(const Bytes &file) {
  Stored stored;
  for (size_t chunk = 8; chunk + 12 <= file.size(); chunk += 12 + vt::be32(file, chunk)) {
    const std::string type(file.begin() + static_cast<std::ptrdiff_t>(chunk + 4),
                           file.begin() + static_cast<std::ptrdiff_t>(chunk + 8));
    if (type == "IHDR" && chunk + 18 <= file.size()) {
      stored.depth = file[chunk + 16];
      stored.colour_type = file[chunk + 17];
    }
    if (type == "PLTE") stored.palette_entries = static_cast<int>(vt::be32(file, chunk) / 3);
    if (type == "tRNS") stored.has_palette_alpha = true;
  }
  return stored;
}

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
  if (!ok) return written;
  written.stored = stored_in(file);
  vt::write_file(dir.file("out.png"), file);
  written.read = vt::read_png_file(dir.file("out.png"));
  EXPECT_TRUE(written.read.read) << written.read.error;
  return written;
}

// `colours` distinct colours over a 64 x 8 image, repeated in rows so that
// runs and changes both occur.  With `translucent_zero`, colour 0 is
// translucent in every other row of its occurrences and opaque in the
// rest: one more distinct pixel, the same colour.
Bytes image_of(int colours, bool translucent_zero = false) {
  Bytes rgba;
  for (int i = 0; i < 64 * 8; ++i) {
    const int c = (i * 37) % colours;
    const bool translucent = translucent_zero && c == 0 && (i / colours) % 2 == 0;
    rgba.insert(rgba.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8), 0x5A,
                             static_cast<uint8_t>(translucent ? 0x40 : 0xFF)});
  }
  return rgba;
}

Bytes made_opaque(Bytes rgba) {
  for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 0xFF;
  return rgba;
}

constexpr int kPalette = 3;
constexpr int kRgb = 2;
constexpr int kRgba = 6;

TEST(ToolPngWriter, StoredFormByColoursAlphaAndSetting) {
  using varnel_tool::PngCompression;
  struct Case {
    const char *name;
    int colours;
    bool translucent_zero;
    bool with_alpha;
    PngCompression compression;
    int colour_type;
    int palette_entries;
    bool palette_alpha;
  };
  const Case cases[] = {
      {"256 colours, fast: indexed", 256, false, false, PngCompression::kFast, kPalette, 256, false},
      {"256 colours, best: RGB", 256, false, false, PngCompression::kBest, kRgb, 0, false},
      {"the 257th colour makes it RGB", 257, false, false, PngCompression::kFast, kRgb, 0, false},
      {"alpha kept per palette entry", 16, true, true, PngCompression::kFast, kPalette, 17, true},
      // Pixels that differ only in alpha become one entry, read back opaque.
      {"alpha dropped when asked", 16, true, false, PngCompression::kFast, kPalette, 16, false},
      {"alpha, best: RGBA", 16, true, true, PngCompression::kBest, kRgba, 0, false},
  };
  vt::TempDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes rgba = image_of(c.colours, c.translucent_zero);
    const Written written = write_and_read(dir, 64, 8, rgba, c.with_alpha, c.compression);
    EXPECT_EQ(written.stored.depth, 8);
    EXPECT_EQ(written.stored.colour_type, c.colour_type);
    EXPECT_EQ(written.stored.palette_entries, c.palette_entries);
    EXPECT_EQ(written.stored.has_palette_alpha, c.palette_alpha);
    EXPECT_EQ(written.read.rgba, c.with_alpha ? rgba : made_opaque(rgba));
  }
}

TEST(ToolPngWriter, OneColourAndOnePixel) {
  vt::TempDir dir;
  const Bytes pixel = {0x12, 0x34, 0x56, 0xFF};
  const Written one = write_and_read(dir, 1, 1, pixel, false, varnel_tool::PngCompression::kFast);
  EXPECT_EQ(one.stored.colour_type, kPalette);
  EXPECT_EQ(one.read.rgba, pixel);
}

}  // namespace
