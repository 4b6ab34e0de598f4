// The tool's image readers on hand-made files: PNG in every colour type the
// tool accepts (through libpng, with the tool's expansions to 8-bit samples),
// netpbm in its six variants, and damaged files of both, each refused with a
// reason rather than read past its end.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/image_reader.hpp"
#include "support/support.hpp"

namespace {

using vt::Bytes;
using vt::concat;
using vt::hex;

Bytes be32(uint32_t value) {
  return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

Bytes chunk(const char *type, const Bytes &data) {
  const Bytes body = concat({vt::bytes_of(type), data});
  return concat({be32(static_cast<uint32_t>(data.size())), body,
                 be32(static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))))});
}

// The filtered scan lines of a PNG: each row of `row_bytes` bytes of
// `pixels` after a filter byte 0.
Bytes scan_lines(const Bytes &pixels, size_t row_bytes) {
  Bytes out;
  for (size_t at = 0; at < pixels.size(); at += row_bytes) {
    out.push_back(0);
    out.insert(out.end(), pixels.begin() + static_cast<std::ptrdiff_t>(at),
               pixels.begin() + static_cast<std::ptrdiff_t>(at + row_bytes));
  }
  return out;
}

// The same 8-bit one-channel pixels in Adam7 order: the seven passes, each
// a small image of its own.
Bytes adam7_scan_lines(const Bytes &pixels, size_t width, size_t height) {
  const size_t passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                               {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  Bytes out;
  for (const auto &[x0, y0, dx, dy] : passes) {
    if (x0 >= width || y0 >= height) continue;
    for (size_t y = y0; y < height; y += dy) {
      out.push_back(0);
      for (size_t x = x0; x < width; x += dx) out.push_back(pixels[y * width + x]);
    }
  }
  return out;
}

Bytes compressed(const Bytes &raw) {
  uLongf length = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(length);
  if (compress(out.data(), &length, raw.data(), static_cast<uLong>(raw.size())) != Z_OK) return {};
  out.resize(length);
  return out;
}

// A PNG of the given header fields and scan lines, with `extra` chunks
// (PLTE, tRNS, pHYs) before the image data.
Bytes png(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour, const Bytes &lines,
          const Bytes &extra = {}, uint8_t interlace = 0) {
  return concat({hex("89 50 4E 47 0D 0A 1A 0A"),
                 chunk("IHDR", concat({be32(width), be32(height), {depth, colour, 0, 0, interlace}})), extra,
                 chunk("IDAT", compressed(lines)), chunk("IEND", {})});
}

// A FILE over bytes, as the readers take it.
struct FileOf {
  explicit FileOf(const Bytes &bytes) : data(bytes) {
    file = data.empty() ? std::tmpfile() : fmemopen(data.data(), data.size(), "rb");
  }
  ~FileOf() {
    if (file != nullptr) std::fclose(file);
  }
  Bytes data;
  FILE *file = nullptr;
};

struct Decoded {
  std::string error;  // empty when the whole image was read
  varnel_tool::ImageInfo info;
  Bytes samples;
};

Decoded read_all(const Bytes &bytes) {
  Decoded out;
  FileOf input(bytes);
  const auto reader = varnel_tool::open_image_reader(input.file, out.error);
  if (!reader) return out;
  out.info = reader->info();
  Bytes row(static_cast<size_t>(out.info.width) * static_cast<size_t>(out.info.channels));
  for (int32_t y = 0; y < out.info.height; ++y) {
    if (!reader->read_row(row)) {
      out.error = "row " + std::to_string(y) + ": " + reader->error();
      return out;
    }
    out.samples.insert(out.samples.end(), row.begin(), row.end());
  }
  // One row too many is refused, not read from whatever follows.
  if (reader->read_row(row) || reader->error() != "read past the last row") out.error = "read past the end";
  return out;
}

struct ImageCase {
  const char *what;
  Bytes file;
  const char *format;
  int32_t width, height, channels;
  bool one_bit;
  const char *samples;
};

void expect_images(const std::vector<ImageCase> &cases) {
  for (const ImageCase &c : cases) {
    SCOPED_TRACE(c.what);
    const Decoded decoded = read_all(c.file);
    ASSERT_EQ(decoded.error, "");
    EXPECT_STREQ(decoded.info.format, c.format);
    EXPECT_EQ(decoded.info.width, c.width);
    EXPECT_EQ(decoded.info.height, c.height);
    EXPECT_EQ(decoded.info.channels, c.channels);
    EXPECT_EQ(decoded.info.one_bit, c.one_bit);
    EXPECT_EQ(vt::to_hex(decoded.samples), vt::to_hex(hex(c.samples)));
  }
}

TEST(ToolImageReader, PngColourTypesBecome8BitSamples) {
  const Bytes palette = chunk("PLTE", hex("FF0000 00FF00"));
  const Bytes ramp = hex("01 02 03 04 05 06 07 08 09");
  expect_images({
      {"grey", png(2, 2, 8, 0, scan_lines(hex("00 40 80 FF"), 2)), "PNG", 2, 2, 1, false, "00 40 80 FF"},
      {"1-bit grey is bilevel", png(3, 1, 1, 0, scan_lines(hex("A0"), 1)), "PNG", 3, 1, 1, true, "FF 00 FF"},
      {"2-bit grey spreads to 0..255", png(4, 1, 2, 0, scan_lines(hex("1B"), 1)), "PNG", 4, 1, 1, false,
       "00 55 AA FF"},
      {"16-bit RGB is scaled", png(2, 1, 16, 2, scan_lines(hex("FFFF 8080 0000  0000 0000 FFFF"), 12)), "PNG",
       2, 1, 3, false, "FF 80 00 00 00 FF"},
      {"palette with transparency",
       png(2, 1, 8, 3, scan_lines(hex("00 01"), 2), concat({palette, chunk("tRNS", hex("80"))})), "PNG", 2, 1,
       4, false, "FF000080 00FF00FF"},
      {"grey with a transparent value",
       png(2, 1, 8, 0, scan_lines(hex("10 20"), 2), chunk("tRNS", hex("0010"))), "PNG", 2, 1, 2, false,
       "10 00 20 FF"},
      {"grey and alpha", png(2, 1, 8, 4, scan_lines(hex("10 20 30 40"), 4)), "PNG", 2, 1, 2, false,
       "10 20 30 40"},
      {"RGBA", png(1, 2, 8, 6, scan_lines(hex("01020304 05060708"), 4)), "PNG", 1, 2, 4, false,
       "01020304 05060708"},
      {"interlaced rows come out in order", png(3, 3, 8, 0, adam7_scan_lines(ramp, 3, 3), {}, 1), "PNG", 3, 3,
       1, false, "01 02 03 04 05 06 07 08 09"},
  });
}

TEST(ToolImageReader, PngResolutionFromPhysicalSize) {
  const Bytes pixel = scan_lines(hex("00"), 1);
  FileOf plain(png(1, 1, 8, 0, pixel));
  FileOf dense(png(1, 1, 8, 0, pixel, chunk("pHYs", hex("00000B13 00001626 01 | 2835 and 5670 per metre"))));
  std::string error;
  const auto without = varnel_tool::open_image_reader(plain.file, error);
  const auto with = varnel_tool::open_image_reader(dense.file, error);
  ASSERT_TRUE(without && with) << error;
  EXPECT_FALSE(without->info().physical_size_known);
  EXPECT_EQ(without->info().pixels_per_inch_x, 72.0);
  EXPECT_TRUE(with->info().physical_size_known);
  EXPECT_NEAR(with->info().pixels_per_inch_x, 72.009, 1e-9);
  EXPECT_NEAR(with->info().pixels_per_inch_y, 144.018, 1e-9);
}

TEST(ToolImageReader, NetpbmVariants) {
  expect_images({
      {"plain PBM with a comment", vt::bytes_of("P1\n# two rows\n3 2\n1 0 1\n0 1 0\n"), "PBM", 3, 2, 1, true,
       "00 FF 00 FF 00 FF"},
      {"plain PBM digits need no blanks", vt::bytes_of("P1 4 1 0110"), "PBM", 4, 1, 1, true, "FF 00 00 FF"},
      {"raw PBM rows end on a byte", concat({vt::bytes_of("P4 10 2\n"), hex("FF C0  00 3F")}), "PBM", 10, 2,
       1, true, "00 00 00 00 00 00 00 00 00 00  FF FF FF FF FF FF FF FF FF FF"},
      {"plain PGM scaled from maxval 15", vt::bytes_of("P2 3 1 15 1 7 8"), "PGM", 3, 1, 1, false, "11 77 88"},
      {"raw PGM of two bytes a sample", concat({vt::bytes_of("P5 3 1 65535\n"), hex("0000 8080 FFFF")}),
       "PGM", 3, 1, 1, false, "00 80 FF"},
      {"plain PPM", vt::bytes_of("P3 1 1 255 1 2 3"), "PPM", 1, 1, 3, false, "01 02 03"},
      {"raw PPM", concat({vt::bytes_of("P6 1 1 255\n"), hex("0A0B0C")}), "PPM", 1, 1, 3, false, "0A 0B 0C"},
  });
}

TEST(ToolImageReader, DamagedFilesGiveReasons) {
  const Bytes good_png = png(2, 2, 8, 0, scan_lines(hex("00 40 80 FF"), 2));
  Bytes bad_crc = good_png;
  bad_crc[good_png.size() - 12 - 1] ^= 1;  // the last byte of IDAT's CRC
  const std::pair<const char *, Bytes> cases[] = {
      {"empty file", {}},
      {"not a PNG or netpbm (PBM/PGM/PPM) image", vt::bytes_of("GIF89a")},
      {"damaged PNG file: Not a PNG file", hex("89 41 42 43 44 45 46 47 00")},
      {"damaged PNG file: PNG file corrupted by ASCII conversion", hex("89 50 4E 47 0D 0A 1A 00 00")},
      // Past the width the reader allows (libpng names the limit in a warning only).
      {"damaged PNG file: Invalid IHDR data", png(70000, 1, 8, 0, scan_lines(Bytes(70000, 0), 70000))},
      {"damaged PNG file: Invalid IHDR data", png(0, 1, 8, 0, {})},
      {"row 1: IDAT: CRC error", bad_crc},  // found at the end of the chunk, before the image is taken
      {"damaged netpbm file: unsupported netpbm variant", vt::bytes_of("P7 1 1 255\n")},
      {"damaged netpbm file: damaged netpbm header", vt::bytes_of("P2 x 1 15")},
      {"damaged netpbm file: damaged netpbm header", vt::bytes_of("P5 1 1 255")},
      {"damaged netpbm file: netpbm image size out of range", vt::bytes_of("P2 0 1 15")},
      {"damaged netpbm file: netpbm image size out of range", vt::bytes_of("P4 65536 1\n")},
      {"damaged netpbm file: netpbm maxval out of range", vt::bytes_of("P2 1 1 0 0")},
      {"row 1: netpbm data ends early", concat({vt::bytes_of("P5 4 2 255\n"), Bytes(6, 1)})},
      {"row 0: netpbm data ends early", vt::bytes_of("P2 2 1 15 3")},
      {"row 0: netpbm sample above maxval", vt::bytes_of("P2 1 1 15 16")},
      {"row 0: netpbm sample above maxval", concat({vt::bytes_of("P5 1 1 1000\n"), hex("03E9")})},
      {"row 0: damaged netpbm data", vt::bytes_of("P1 2 1 0 2")},
  };
  for (const auto &[error, file] : cases) EXPECT_EQ(read_all(file).error, error) << vt::to_hex(file);
}

TEST(ToolImageReader, WholeFilesWithinAPixelBudget) {
  vt::TempDir dir;
  vt::write_file(dir.file("six.pgm"), vt::bytes_of("P2 3 2 255 1 2 3 4 5 6"));
  vt::write_file(dir.file("short.pgm"), vt::bytes_of("P5 4 4 255\nab"));
  struct Case {
    const char *file;
    int64_t budget;
    const char *error;
  };
  const Case cases[] = {{"six.pgm", 6, ""},
                        {"six.pgm", 5, "image too large (3x2)"},
                        {"short.pgm", 100, "damaged PGM data: netpbm data ends early"},
                        {"missing.pgm", 100, "cannot open: No such file or directory"}};
  for (const Case &c : cases) {
    varnel_tool::DecodedImage image;
    std::string error;
    const bool decoded = varnel_tool::decode_image_file(dir.file(c.file), c.budget, image, error);
    EXPECT_EQ(decoded, error.empty());
    EXPECT_EQ(error, c.error) << c.file << " " << c.budget;
    if (error.empty()) {
      EXPECT_EQ(image.samples, hex("01 02 03 04 05 06"));
    }
  }
}

}  // namespace
