// PNG output through libpng: a whole 8-bit RGBA image from memory, written
// as RGBA or, dropping its alpha, as RGB (or, at the fast setting, as an
// indexed image when it holds at most 256 distinct pixels), with text chunks ahead of the image data (so that readers that stop at
// the first rows still see them), handed to a writer piece by piece.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/progress_line.hpp"

namespace varnel_tool {

// Takes the PNG's bytes; false when they could not be written (the writer
// says why itself).
using PngBytesWriter = std::function<bool(std::span<const uint8_t>)>;

// PNG text chunks: keyword (1 to 79 printable Latin-1 characters), text.
using PngTexts = std::vector<std::pair<std::string, std::string>>;

struct PngImage {
  int32_t width;
  int32_t height;
  std::span<const uint8_t> pixels;  // RGBA, width x 4 bytes a row, rows top first
  bool with_alpha;                  // false: written as RGB, the alpha bytes left out
  const PngTexts &texts;
  ProgressLine *progress = nullptr;  // counts the RGBA bytes of each row written
};

// How hard zlib works.  kFast, the default, takes zlib's level 4 and only
// the None and Sub row filters, and writes an image of at most 256 colours
// (any 8-bit picture) as an indexed one: a third of the time or less of
// kBest (libpng's own defaults, level 6 and every filter tried on each row,
// always RGB or RGBA), for files about as large or smaller.  Set once for
// the run, as a command's options say.
enum class PngCompression { kFast, kBest };
void set_png_compression(PngCompression compression);

// False when libpng or `write` failed: `error` then holds libpng's reason,
// or is empty when `write` refused the bytes.
bool write_png(const PngImage &image, const PngBytesWriter &write, std::string &error);

}  // namespace varnel_tool
