// Streaming readers for the image files the tool accepts (PNG and netpbm
// PBM/PGM/PPM).  Rows come out top first as 8-bit samples, interleaved:
// 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA.  Grey and RGB samples are light
// intensities (0 = black); alpha 255 = opaque.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace varnel_tool {

// Largest width or height accepted from any image header.  Far beyond any
// picture or icon the library can store, small enough that a row of RGBA
// samples stays a few hundred kilobytes.
inline constexpr int32_t kMaxImageSidePixels = 65535;
// Interlaced PNG files must be decoded whole; this caps that buffer.
inline constexpr uint64_t kMaxInterlacedImageBytes = 256ull << 20;

struct ImageInfo {
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 0;         // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
  double pixels_per_inch_x = 72.0;
  double pixels_per_inch_y = 72.0;
  bool physical_size_known = false;  // the file stated its resolution
  bool one_bit = false;              // a bilevel source (PBM, 1-bit grey PNG)
  const char *format = "";           // "PNG", "PBM", "PGM", "PPM"
};

class ImageReader {
 public:
  virtual ~ImageReader() = default;
  const ImageInfo &info() const { return info_; }
  // Fills `row` (width x channels bytes) with the next row.  False once the
  // file turns out to be damaged; error() then says why.  Reading past the
  // last row is an error too.
  virtual bool read_row(std::span<uint8_t> row) = 0;
  const std::string &error() const { return error_; }

 protected:
  ImageInfo info_;
  std::string error_;
};

// Opens a reader on `file` (which must stay open while the reader lives),
// choosing PNG or netpbm by the first bytes.  Null with `error` set when the
// file is neither or its header is unusable.
std::unique_ptr<ImageReader> open_image_reader(FILE *file, std::string &error);

std::unique_ptr<ImageReader> open_png_reader(FILE *file, std::string &error);
std::unique_ptr<ImageReader> open_pnm_reader(FILE *file, std::string &error);

// A whole decoded image, for the small ones (icons).
struct DecodedImage {
  ImageInfo info;
  std::vector<uint8_t> samples;  // height rows of width x channels bytes
};

// Reads a whole image file; false with `error` set (the text names no path).
bool decode_image_file(const std::string &path, int64_t max_pixels, DecodedImage &image,
                       std::string &error);

// Opaque RGBA (4 bytes a pixel) of the image, its colour folded over white
// by its alpha: a transparent pixel is white.
std::vector<uint8_t> rgba_over_white(const DecodedImage &image);

}  // namespace varnel_tool
