// The library's PNG encoder (MacBin_EncodePNG): at the fast setting an
// image of at most 256 distinct pixels is stored indexed (with the alpha of
// each palette entry when any is not opaque), one more colour makes it RGB;
// the best setting keeps to RGB or RGBA; an opaque image drops its alpha.
// Whatever is stored, libpng reads back the same pixels.  Texts come ahead
// of the image data, rows are counted, and a refusing sink or bad
// arguments fail with a reason.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/png_file.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

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

int32_t append_bytes(const uint8_t *bytes, size_t length, void *context) {
  auto &file = *static_cast<Bytes *>(context);
  file.insert(file.end(), bytes, bytes + length);
  return 0;
}

Bytes encode(int32_t width, int32_t height, Bytes rgba, const MacBinPNGOptions *options) {
  const MacBinPixels pixels{width, height, 0, 0, rgba.data()};
  Bytes file;
  const int32_t written = MacBin_EncodePNG(&pixels, options, append_bytes, &file);
  const char *reason = "";
  if (written != 1) MacBin_LastError(&reason);
  EXPECT_EQ(written, 1) << reason;
  return file;
}

Written write_and_read(const vt::TempDir &dir, int32_t width, int32_t height, const Bytes &rgba, int32_t compression) {
  const MacBinPNGOptions options{compression, 0, nullptr, nullptr, nullptr, nullptr};
  const Bytes file = encode(width, height, rgba, &options);
  Written written;
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

constexpr int kPalette = 3;
constexpr int kRgb = 2;
constexpr int kRgba = 6;

TEST(PngEncoding, StoredFormByColoursAlphaAndSetting) {
  struct Case {
    const char *name;
    int colours;
    bool translucent_zero;
    int32_t compression;
    int colour_type;
    int palette_entries;
    bool palette_alpha;
  };
  const Case cases[] = {
      {"256 colours, fast: indexed", 256, false, MACBIN_PNG_FAST, kPalette, 256, false},
      {"256 colours, best: RGB", 256, false, MACBIN_PNG_BEST, kRgb, 0, false},
      {"the 257th colour makes it RGB", 257, false, MACBIN_PNG_FAST, kRgb, 0, false},
      {"alpha kept per palette entry", 16, true, MACBIN_PNG_FAST, kPalette, 17, true},
      {"alpha, best: RGBA", 16, true, MACBIN_PNG_BEST, kRgba, 0, false},
      {"257 colours, one translucent: RGBA", 257, true, MACBIN_PNG_FAST, kRgba, 0, false},
  };
  vt::TempDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes rgba = image_of(c.colours, c.translucent_zero);
    const Written written = write_and_read(dir, 64, 8, rgba, c.compression);
    EXPECT_EQ(written.stored.depth, 8);
    EXPECT_EQ(written.stored.colour_type, c.colour_type);
    EXPECT_EQ(written.stored.palette_entries, c.palette_entries);
    EXPECT_EQ(written.stored.has_palette_alpha, c.palette_alpha);
    EXPECT_EQ(written.read.rgba, rgba);
  }
}

// Two pixels, one red and one clear: a palette of two with a tRNS chunk,
// and a tEXt chunk ahead of the image data.  The chunks up to the image
// data are fixed by the format; the compressed data are zlib's.
TEST(PngEncoding, IndexedChunkLayoutWithTextAheadOfTheData) {
  const char *keys[] = {"Comment"};
  const char *texts[] = {"hi"};
  const MacBinPNGOptions options{MACBIN_PNG_FAST, 1, keys, texts, nullptr, nullptr};
  const Bytes file = encode(2, 1, hex("FF0000FF 00000000"), &options);
  const Bytes expected_start =
      hex("89504E470D0A1A0A\n"
          "0000000D 49484452 00000002 00000001 08 03 00 00 00 C3FC8FB8 | IHDR 2x1, 8-bit indexed\n"
          "00000006 504C5445 FF0000 000000 41A31203 | PLTE red, black\n"
          "00000002 74524E53 FF 00 E5B7304A | tRNS opaque, clear\n"
          "0000000A 74455874 436F6D6D656E74 00 6869 A2A25866 | tEXt Comment, hi\n");
  ASSERT_GT(file.size(), expected_start.size() + 12);
  EXPECT_EQ(vt::to_hex(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(expected_start.size()))),
            vt::to_hex(expected_start));
  EXPECT_EQ(std::string(file.begin() + static_cast<std::ptrdiff_t>(expected_start.size() + 4),
                        file.begin() + static_cast<std::ptrdiff_t>(expected_start.size() + 8)),
            "IDAT");
  EXPECT_EQ(vt::to_hex(Bytes(file.end() - 12, file.end())), vt::to_hex(hex("00000000 49454E44 AE426082")));
}

TEST(PngEncoding, OneColourAndOnePixel) {
  vt::TempDir dir;
  const Bytes pixel = {0x12, 0x34, 0x56, 0xFF};
  const Written one = write_and_read(dir, 1, 1, pixel, MACBIN_PNG_FAST);
  EXPECT_EQ(one.stored.colour_type, kPalette);
  EXPECT_EQ(one.read.rgba, pixel);
}

struct RowCount {
  std::vector<int32_t> rows;
};

void count_rows(int32_t rows, void *context) { static_cast<RowCount *>(context)->rows.push_back(rows); }

TEST(PngEncoding, RowsCountedAndTextsReadBack) {
  vt::TempDir dir;
  RowCount count;
  const char *keys[] = {"Title", "Hot spot"};
  const char *texts[] = {"A cursor", "3,4"};
  const MacBinPNGOptions options{MACBIN_PNG_BEST, 2, keys, texts, count_rows, &count};
  const Bytes rgba = image_of(300);
  vt::write_file(dir.file("texts.png"), encode(64, 8, rgba, &options));
  EXPECT_EQ(count.rows, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  const vt::PngFile read = vt::read_png_file(dir.file("texts.png"));
  ASSERT_TRUE(read.read) << read.error;
  EXPECT_EQ(read.texts, (std::map<std::string, std::string>{{"Hot spot", "3,4"}, {"Title", "A cursor"}}));
  EXPECT_EQ(read.rgba, rgba);
  // Null options are the fast setting without texts.
  vt::write_file(dir.file("plain.png"), encode(64, 8, rgba, nullptr));
  EXPECT_EQ(vt::read_png_file(dir.file("plain.png")).rgba, rgba);
}

int32_t refuse_after_first(const uint8_t * /*bytes*/, size_t /*length*/, void *context) {
  return (*static_cast<int *>(context))++ == 0 ? 0 : 1;
}

TEST(PngEncoding, RefusalsGiveCodesAndReasons) {
  Bytes rgba(16, 0xFF);
  const MacBinPixels pixels{2, 2, 0, 0, rgba.data()};
  const MacBinPixels empty{0, 2, 0, 0, rgba.data()};
  const MacBinPNGOptions unknown{7, 0, nullptr, nullptr, nullptr, nullptr};
  const char *keys[] = {nullptr};
  const char *texts[] = {"x"};
  const MacBinPNGOptions keyless{MACBIN_PNG_FAST, 1, keys, texts, nullptr, nullptr};
  Bytes sink_bytes;
  struct Case {
    const char *what;
    const MacBinPixels *pixels;
    const MacBinPNGOptions *options;
    MacBinPNGSink sink;
    int32_t code;
    const char *reason;  // the start of it
  };
  const Case cases[] = {
      {"no pixels", nullptr, nullptr, append_bytes, MACBIN_ERR_ARGUMENT, "bad image size"},
      {"an empty image", &empty, nullptr, append_bytes, MACBIN_ERR_ARGUMENT, "bad image size"},
      {"no sink", &pixels, nullptr, nullptr, MACBIN_ERR_ARGUMENT, "no sink"},
      {"an unknown compression", &pixels, &unknown, append_bytes, MACBIN_ERR_ARGUMENT, "no sink, an unknown"},
      {"a text without a key", &pixels, &keyless, append_bytes, MACBIN_ERR_ARGUMENT, "text 0 has no key"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MacBin_ClearError();
    EXPECT_EQ(MacBin_EncodePNG(c.pixels, c.options, c.sink, &sink_bytes), 0);
    const char *reason = "";
    EXPECT_EQ(MacBin_LastError(&reason), c.code);
    EXPECT_EQ(std::string(reason).rfind(c.reason, 0), 0u) << reason;
  }
  // A sink that refuses stops the encoding: an I/O failure.
  int calls = 0;
  MacBin_ClearError();
  EXPECT_EQ(MacBin_EncodePNG(&pixels, nullptr, refuse_after_first, &calls), 0);
  const char *reason = "";
  EXPECT_EQ(MacBin_LastError(&reason), MACBIN_ERR_IO);
  EXPECT_EQ(std::string(reason).rfind("the sink refused the PNG's bytes", 0), 0u) << reason;
  EXPECT_EQ(calls, 2);
}

}  // namespace
