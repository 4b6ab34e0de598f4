// The library's built-in image-file reader on hand-made files, through
// MacBin_ReadImageFile: PNG in every colour type (through libpng, expanded
// to 8-bit samples), netpbm in its six variants, and damaged files of both,
// each refused with a reason rather than read past its end; and the order
// of the readers, a host's first.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/support.hpp"
#include "varnel.h"

#ifdef VARNEL_TEST_WITH_PNG
#include <zlib.h>
#endif

namespace {

using vt::Bytes;
using vt::concat;
using vt::hex;

#ifdef VARNEL_TEST_WITH_PNG
Bytes be32(uint32_t value) {
  return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value)};
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
Bytes png(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour, const Bytes &lines, const Bytes &extra = {},
          uint8_t interlace = 0) {
  return concat({hex("89 50 4E 47 0D 0A 1A 0A"),
                 chunk("IHDR", concat({be32(width), be32(height), {depth, colour, 0, 0, interlace}})), extra,
                 chunk("IDAT", compressed(lines)), chunk("IEND", {})});
}
#endif

// The samples of `rgba` in the reader's layout (1 grey, 2 grey + alpha,
// 3 RGB, 4 RGBA), to compare with what the file holds.
Bytes in_channels(const uint8_t *rgba, size_t pixels, int32_t channels) {
  static const std::vector<size_t> kPicked[] = {{0}, {0, 3}, {0, 1, 2}, {0, 1, 2, 3}};
  Bytes out;
  for (size_t i = 0; i < pixels; ++i)
    for (const size_t c : kPicked[channels - 1]) out.push_back(rgba[i * 4 + c]);
  return out;
}

struct Decoded {
  std::string error;  // empty when the whole image was read
  MacBinImageFileInfo info{};
  std::string format;
  Bytes samples;
};

Decoded read_file(const std::string &path, int64_t budget = int64_t{1} << 30) {
  Decoded out;
  MacBinPixels pixels{};
  if (MacBin_ReadImageFile(path.c_str(), budget, &pixels, &out.info) != 1) {
    const char *reason = "";
    EXPECT_EQ(MacBin_LastError(&reason), MACBIN_ERR_IMAGE);
    out.error = reason;
    EXPECT_EQ(pixels.rgba, nullptr) << "a refusal leaves the record alone";
    return out;
  }
  out.format = out.info.format != nullptr ? out.info.format : "(null)";
  EXPECT_EQ(pixels.width, out.info.width);
  EXPECT_EQ(pixels.height, out.info.height);
  const size_t count = static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height);
  if (out.info.channels < 1 || out.info.channels > 4) {
    out.error = "channels " + std::to_string(out.info.channels);
  } else {
    out.samples = in_channels(pixels.rgba, count, out.info.channels);
  }
  MacBin_FreePixels(&pixels);
  return out;
}

// Writes `bytes` as "image" in a folder of its own and reads it; the
// reasons then start "image: ".
Decoded read_all(const Bytes &bytes) {
  vt::TempDir dir;
  vt::write_file(dir.file("image"), bytes);
  Decoded decoded = read_file(dir.file("image"));
  const std::string prefix = dir.file("image") + ": ";
  if (decoded.error.compare(0, prefix.size(), prefix) == 0) decoded.error.replace(0, prefix.size(), "image: ");
  return decoded;
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
    EXPECT_EQ(decoded.format, c.format);
    EXPECT_EQ(decoded.info.width, c.width);
    EXPECT_EQ(decoded.info.height, c.height);
    EXPECT_EQ(decoded.info.channels, c.channels);
    EXPECT_EQ(decoded.info.one_bit, c.one_bit ? 1 : 0);
    EXPECT_EQ(vt::to_hex(decoded.samples), vt::to_hex(hex(c.samples)));
  }
}

#ifdef VARNEL_TEST_WITH_PNG
TEST(BuiltinImageReader, PngColourTypesBecome8BitSamples) {
  const Bytes palette = chunk("PLTE", hex("FF0000 00FF00"));
  const Bytes ramp = hex("01 02 03 04 05 06 07 08 09");
  expect_images({
      {"grey", png(2, 2, 8, 0, scan_lines(hex("00 40 80 FF"), 2)), "PNG", 2, 2, 1, false, "00 40 80 FF"},
      {"1-bit grey is bilevel", png(3, 1, 1, 0, scan_lines(hex("A0"), 1)), "PNG", 3, 1, 1, true, "FF 00 FF"},
      {"2-bit grey spreads to 0..255", png(4, 1, 2, 0, scan_lines(hex("1B"), 1)), "PNG", 4, 1, 1, false, "00 55 AA FF"},
      {"16-bit RGB is scaled", png(2, 1, 16, 2, scan_lines(hex("FFFF 8080 0000  0000 0000 FFFF"), 12)), "PNG", 2, 1, 3,
       false, "FF 80 00 00 00 FF"},
      {"palette with transparency",
       png(2, 1, 8, 3, scan_lines(hex("00 01"), 2), concat({palette, chunk("tRNS", hex("80"))})), "PNG", 2, 1, 4, false,
       "FF000080 00FF00FF"},
      {"grey with a transparent value", png(2, 1, 8, 0, scan_lines(hex("10 20"), 2), chunk("tRNS", hex("0010"))), "PNG",
       2, 1, 2, false, "10 00 20 FF"},
      {"1-bit grey with tRNS is not bilevel", png(2, 1, 1, 0, scan_lines(hex("80"), 1), chunk("tRNS", hex("0001"))),
       "PNG", 2, 1, 2, false, "FF 00 00 FF"},
      {"grey and alpha", png(2, 1, 8, 4, scan_lines(hex("10 20 30 40"), 4)), "PNG", 2, 1, 2, false, "10 20 30 40"},
      {"RGBA", png(1, 2, 8, 6, scan_lines(hex("01020304 05060708"), 4)), "PNG", 1, 2, 4, false, "01020304 05060708"},
      {"interlaced rows come out in order", png(3, 3, 8, 0, adam7_scan_lines(ramp, 3, 3), {}, 1), "PNG", 3, 3, 1, false,
       "01 02 03 04 05 06 07 08 09"},
  });
}

TEST(BuiltinImageReader, PngResolutionFromPhysicalSize) {
  const Bytes pixel = scan_lines(hex("00"), 1);
  const Decoded without = read_all(png(1, 1, 8, 0, pixel));
  const Decoded with =
      read_all(png(1, 1, 8, 0, pixel, chunk("pHYs", hex("00000B13 00001626 01 | 2835 and 5670 per metre"))));
  const Decoded other_unit = read_all(png(1, 1, 8, 0, pixel, chunk("pHYs", hex("00000B13 00001626 00 | no unit"))));
  ASSERT_EQ(without.error + with.error + other_unit.error, "");
  EXPECT_EQ(without.info.h_res, 0.0) << "not stated";
  EXPECT_EQ(other_unit.info.h_res, 0.0) << "an aspect ratio only";
  EXPECT_NEAR(with.info.h_res, 72.009, 1e-9);
  EXPECT_NEAR(with.info.v_res, 144.018, 1e-9);
}

// An interlaced PNG is decoded whole: one whose samples would pass 256 MiB
// is refused from its header, before anything is allocated.
TEST(BuiltinImageReader, InterlacedPngWithinItsCap) {
  const Bytes header_only =
      concat({hex("89 50 4E 47 0D 0A 1A 0A"), chunk("IHDR", concat({be32(65535), be32(65535), {8, 6, 0, 0, 1}})),
              chunk("IDAT", compressed(Bytes(16, 0))), chunk("IEND", {})});
  EXPECT_EQ(read_all(header_only).error, "image: damaged PNG file: interlaced PNG too large to decode");
}
#endif

#ifndef VARNEL_TEST_WITH_PNG
// A build without libpng refuses PNG output with its own code and reason.
int32_t take_nothing(const uint8_t * /*bytes*/, size_t /*length*/, void * /*context*/) { return 0; }

TEST(BuiltinImageReader, WithoutLibpngPngOutputIsUnsupported) {
  Bytes rgba(4, 0xFF);
  const MacBinPixels pixels{1, 1, 0, 0, rgba.data()};
  EXPECT_EQ(MacBin_EncodePNG(&pixels, nullptr, take_nothing, nullptr), 0);
  const char *reason = "";
  EXPECT_EQ(MacBin_LastError(&reason), MACBIN_ERR_UNSUPPORTED);
  EXPECT_STREQ(reason, "this build of the library writes no PNG files (it was built without libpng)");
}
#endif

TEST(BuiltinImageReader, NetpbmVariants) {
  expect_images({
      {"plain PBM with a comment", vt::bytes_of("P1\n# two rows\n3 2\n1 0 1\n0 1 0\n"), "PBM", 3, 2, 1, true,
       "00 FF 00 FF 00 FF"},
      {"plain PBM digits need no blanks", vt::bytes_of("P1 4 1 0110"), "PBM", 4, 1, 1, true, "FF 00 00 FF"},
      {"raw PBM rows end on a byte", concat({vt::bytes_of("P4 10 2\n"), hex("FF C0  00 3F")}), "PBM", 10, 2, 1, true,
       "00 00 00 00 00 00 00 00 00 00  FF FF FF FF FF FF FF FF FF FF"},
      {"plain PGM scaled from maxval 15", vt::bytes_of("P2 3 1 15 1 7 8"), "PGM", 3, 1, 1, false, "11 77 88"},
      {"raw PGM of two bytes a sample", concat({vt::bytes_of("P5 3 1 65535\n"), hex("0000 8080 FFFF")}), "PGM", 3, 1, 1,
       false, "00 80 FF"},
      {"plain PPM", vt::bytes_of("P3 1 1 255 1 2 3"), "PPM", 1, 1, 3, false, "01 02 03"},
      {"raw PPM", concat({vt::bytes_of("P6 1 1 255\n"), hex("0A0B0C")}), "PPM", 1, 1, 3, false, "0A 0B 0C"},
  });
}

TEST(BuiltinImageReader, DamagedFilesGiveReasons) {
  std::vector<std::pair<const char *, Bytes>> cases = {
      {"image: empty file", {}},
      {"image: not a PNG or netpbm (PBM/PGM/PPM) image", vt::bytes_of("GIF89a")},
      {"image: damaged netpbm file: unsupported netpbm variant", vt::bytes_of("P7 1 1 255\n")},
      {"image: damaged netpbm file: damaged netpbm header", vt::bytes_of("P2 x 1 15")},
      {"image: damaged netpbm file: damaged netpbm header", vt::bytes_of("P5 1 1 255")},
      {"image: damaged netpbm file: netpbm image size out of range", vt::bytes_of("P2 0 1 15")},
      {"image: damaged netpbm file: netpbm image size out of range", vt::bytes_of("P4 65536 1\n")},
      {"image: damaged netpbm file: netpbm maxval out of range", vt::bytes_of("P2 1 1 0 0")},
      {"image: damaged PGM data: netpbm data ends early", concat({vt::bytes_of("P5 4 2 255\n"), Bytes(6, 1)})},
      {"image: damaged PGM data: netpbm data ends early", vt::bytes_of("P2 2 1 15 3")},
      {"image: damaged PGM data: netpbm sample above maxval", vt::bytes_of("P2 1 1 15 16")},
      {"image: damaged PGM data: netpbm sample above maxval", concat({vt::bytes_of("P5 1 1 1000\n"), hex("03E9")})},
      {"image: damaged PBM data: damaged netpbm data", vt::bytes_of("P1 2 1 0 2")},
  };
#ifdef VARNEL_TEST_WITH_PNG
  const Bytes good_png = png(2, 2, 8, 0, scan_lines(hex("00 40 80 FF"), 2));
  Bytes bad_crc = good_png;
  bad_crc[good_png.size() - 12 - 1] ^= 1;  // the last byte of IDAT's CRC
  const std::vector<std::pair<const char *, Bytes>> png_cases = {
      {"image: damaged PNG file: Not a PNG file", hex("89 41 42 43 44 45 46 47 00")},
      {"image: damaged PNG file: PNG file corrupted by ASCII conversion", hex("89 50 4E 47 0D 0A 1A 00 00")},
      // Past the width the reader allows (libpng names the limit in a warning only).
      {"image: damaged PNG file: Invalid IHDR data", png(70000, 1, 8, 0, scan_lines(Bytes(70000, 0), 70000))},
      {"image: damaged PNG file: Invalid IHDR data", png(0, 1, 8, 0, {})},
      // Found at the end of the chunk, before the image is taken.
      {"image: damaged PNG data: IDAT: CRC error", bad_crc},
  };
  cases.insert(cases.end(), png_cases.begin(), png_cases.end());
#else
  cases.push_back({"image: this build of the library reads no PNG files (it was built without libpng)",
                   hex("89 50 4E 47 0D 0A 1A 0A 00000000")});
#endif
  for (const auto &[error, file] : cases) EXPECT_EQ(read_all(file).error, error) << vt::to_hex(file);
}

TEST(BuiltinImageReader, WholeFilesWithinAPixelBudget) {
  vt::TempDir dir;
  vt::write_file(dir.file("six.pgm"), vt::bytes_of("P2 3 2 255 1 2 3 4 5 6"));
  // Relative names start at the image directory.
  ASSERT_EQ(MacBin_SetImageDirectory(dir.path().c_str()), 0);
  const Decoded whole = read_file("six.pgm", 6);
  EXPECT_EQ(whole.error, "");
  EXPECT_EQ(whole.samples, hex("01 02 03 04 05 06"));
  EXPECT_EQ(read_file("six.pgm", 5).error, "six.pgm: image too large (3x2)");
  EXPECT_EQ(read_file("missing.pgm", 100).error, "missing.pgm: cannot open: No such file or directory");
  ASSERT_EQ(MacBin_SetImageDirectory(nullptr), 0);

  MacBinPixels pixels{};
  EXPECT_EQ(MacBin_ReadImageFile(nullptr, 1, &pixels, nullptr), 0);
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_ARGUMENT);
}

// A host's reader is asked first; the built-in reader takes what it calls
// "not mine", and a file it fails stays failed.
struct HostReader {
  int opens = 0;
};

int32_t host_open(const char *path, void *context, MacBinImageFileInfo *info, void **handle, char *reason) {
  auto &host = *static_cast<HostReader *>(context);
  const std::string name = std::strrchr(path, '/') != nullptr ? std::strrchr(path, '/') + 1 : path;
  if (name == "refused.pgm") {
    std::snprintf(reason, MACBIN_IMAGE_REASON_BYTES, "the host refuses it");
    return MACBIN_IMAGE_FAILED;
  }
  if (name != "host.pgm") {
    std::snprintf(reason, MACBIN_IMAGE_REASON_BYTES, "not the host's");
    return MACBIN_IMAGE_NOT_MINE;
  }
  ++host.opens;
  *info = MacBinImageFileInfo{1, 1, 1, 0, 0.0, 0.0, "HOST"};
  *handle = &host;
  return MACBIN_IMAGE_OPENED;
}

int32_t host_row(void * /*handle*/, uint8_t *row, char * /*reason*/) {
  row[0] = 0x42;
  return 1;
}

void host_close(void * /*handle*/) {}

TEST(BuiltinImageReader, AHostReaderComesFirst) {
  vt::TempDir dir;
  for (const char *name : {"host.pgm", "refused.pgm", "other.pgm"})
    vt::write_file(dir.file(name), vt::bytes_of("P2 1 1 255 7"));
  HostReader host;
  const MacBinImageFileReader reader{"HOST", &host, host_open, host_row, host_close};
  ASSERT_EQ(MacBin_SetImageFileReader(&reader), 0);
  const Decoded by_host = read_file(dir.file("host.pgm"));
  const Decoded refused = read_file(dir.file("refused.pgm"));
  const Decoded by_library = read_file(dir.file("other.pgm"));
  ASSERT_EQ(MacBin_SetImageFileReader(nullptr), 0);
  EXPECT_EQ(host.opens, 1);
  EXPECT_EQ(by_host.format, "HOST");
  EXPECT_EQ(by_host.samples, hex("42"));
  EXPECT_EQ(refused.error, dir.file("refused.pgm") + ": the host refuses it");
  EXPECT_EQ(by_library.format, "PGM");
  EXPECT_EQ(by_library.samples, hex("07"));
}

}  // namespace
