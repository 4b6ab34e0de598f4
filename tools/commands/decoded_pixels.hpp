// Images made by the library's decoders (MacBin_DecodeResource,
// MacBin_DecodePicture), owned until they are written out as PNG files by
// the library's encoder (MacBin_EncodePNG).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "varnel.h"

namespace varnel_tool {

// PNG text chunks: keyword (1 to 79 printable Latin-1 characters), text.
using PngTexts = std::vector<std::pair<std::string, std::string>>;

// The decoders allocate the pixels; this hands them back to the library.
class DecodedPixels {
 public:
  DecodedPixels() = default;
  ~DecodedPixels() { MacBin_FreePixels(&pixels_); }
  DecodedPixels(const DecodedPixels &) = delete;
  DecodedPixels &operator=(const DecodedPixels &) = delete;

  // For the decoder to fill.
  MacBinPixels *record() { return &pixels_; }
  const MacBinPixels &pixels() const { return pixels_; }

 private:
  MacBinPixels pixels_{};
};

// How hard the encoder works (MACBIN_PNG_FAST, the default, or
// MACBIN_PNG_BEST): set once for the run, as a command's options say.
void set_png_compression(int32_t compression);

// Writes `pixels` as a PNG file at `path` ("-": standard output), with
// `texts` ahead of the image data: 8-bit RGB when every pixel is opaque,
// else RGBA.  The file appears only when complete.  False after an error
// message naming the path.  With a `progress_label`, the rows written are
// followed on a progress line (the decoders report none of their work).
bool write_pixels_as_png(const std::string &path, const MacBinPixels &pixels, const PngTexts &texts,
                         const std::string &progress_label = {});

}  // namespace varnel_tool
