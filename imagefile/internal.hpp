// Private to the library: never installed, never included by hosts.
//
// The built-in image-file readers behind builtin_reader.hpp: streaming
// decoders of PNG and netpbm (PBM/PGM/PPM) files.  Rows come out top first
// as 8-bit samples, interleaved: 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA.
// Grey and RGB samples are light intensities (0 = black); alpha 255 =
// opaque.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace varnel::imagefile {

// Largest width or height accepted from any image header.  Far beyond any
// picture or icon the library can store, small enough that a row of RGBA
// samples stays a few hundred kilobytes.
inline constexpr int32_t kMaxImageSidePixels = 65535;
// Interlaced PNG files must be decoded whole; this caps that buffer.
inline constexpr uint64_t kMaxInterlacedImageBytes = 256ull << 20;
// Largest chunk libpng may allocate for a hostile file's ancillary chunks.
inline constexpr size_t kMaxPngChunkBytes = 8u << 20;

struct RowsInfo {
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 0;  // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
  double pixels_per_inch_x = 72.0;
  double pixels_per_inch_y = 72.0;
  bool physical_size_known = false;  // the file stated its resolution
  bool one_bit = false;              // a bilevel source (PBM, 1-bit grey PNG)
  const char *format = "";           // "PNG", "PBM", "PGM", "PPM": static text
};

class ImageRows {
 public:
  virtual ~ImageRows() = default;
  const RowsInfo &info() const { return info_; }
  // Fills `row` (width x channels bytes) with the next row.  False once the
  // file turns out to be damaged; error() then says why.  Reading past the
  // last row is an error too.
  virtual bool read_row(std::span<uint8_t> row) = 0;
  const std::string &error() const { return error_; }

 protected:
  bool fail(const char *text) {
    error_ = text;
    return false;
  }
  RowsInfo info_;
  std::string error_;
};

// The first byte of each format the readers take.
inline constexpr int kPngFirstByte = 0x89;
inline constexpr int kNetpbmFirstByte = 'P';

// Open a reader on `file` (which must stay open while the reader lives),
// positioned at the file's first byte.  Null with `error` set when the
// header is unusable ("damaged PNG file: ...").  Without libpng in the
// build, open_png_rows refuses every file with that reason.
std::unique_ptr<ImageRows> open_png_rows(FILE *file, std::string &error);
std::unique_ptr<ImageRows> open_pnm_rows(FILE *file, std::string &error);

}  // namespace varnel::imagefile
