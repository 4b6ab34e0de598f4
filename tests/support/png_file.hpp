// PNG files the tool wrote, read back with libpng for the tests: every
// pixel as 8-bit RGBA (an opaque alpha for RGB files) and the text chunks.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "support/colour.hpp"
#include "support/support.hpp"

namespace vt {

struct PngFile {
  bool read = false;  // false: `error` says why
  std::string error;
  int32_t width = 0;
  int32_t height = 0;
  int channels = 0;  // as stored: 3 RGB, 4 RGBA, ...
  Bytes rgba;        // height rows of width x 4 bytes
  std::map<std::string, std::string> texts;  // tEXt, zTXt and iTXt chunks

  Colour at(int32_t x, int32_t y) const;
  // Rows as letters, one line each: W white, K black, C clear (alpha 0),
  // R red, G green, B blue, ? anything else.
  std::string letters() const;
};

PngFile read_png_file(const std::string &path);

}  // namespace vt
