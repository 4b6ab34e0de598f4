// libpng reports errors by longjmp: the one call that may fail sits in a
// function of its own whose frame holds no object with a destructor.
#include "support/png_file.hpp"

#include <png.h>

#include <csetjmp>
#include <cstdio>

namespace vt {
namespace {

void on_error(png_structp png, png_const_charp message) {
  auto *error = static_cast<std::string *>(png_get_error_ptr(png));
  *error = message != nullptr ? message : "libpng failed";
  png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

// Reads the whole image, expanded to 8 bits a sample.
bool read_whole(png_structp png, png_infop info, FILE *file) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_read_png(png, info, PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_PACKING, nullptr);
  return true;
}

}  // namespace

Colour PngFile::at(int32_t x, int32_t y) const {
  const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4;
  return Colour{rgba[at], rgba[at + 1], rgba[at + 2], rgba[at + 3]};
}

std::string PngFile::letters() const {
  std::string text;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const Colour c = at(x, y);
      text += c.a == 0                       ? 'C'
              : c == Colour{255, 255, 255, 255} ? 'W'
              : c == Colour{0, 0, 0, 255}       ? 'K'
              : c == Colour{255, 0, 0, 255}     ? 'R'
              : c == Colour{0, 255, 0, 255}     ? 'G'
              : c == Colour{0, 0, 255, 255}     ? 'B'
                                                : '?';
    }
    text += '\n';
  }
  return text;
}

PngFile read_png_file(const std::string &path) {
  PngFile result;
  FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    result.error = "cannot open " + path;
    return result;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &result.error, on_error, on_warning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info != nullptr && read_whole(png, info, file)) {
    result.width = static_cast<int32_t>(png_get_image_width(png, info));
    result.height = static_cast<int32_t>(png_get_image_height(png, info));
    result.channels = png_get_channels(png, info);
    png_bytepp rows = png_get_rows(png, info);
    const auto width = static_cast<size_t>(result.width);
    for (size_t y = 0; y < static_cast<size_t>(result.height); ++y)
      for (size_t x = 0; x < width; ++x) {
        const png_bytep pixel = rows[y] + x * static_cast<size_t>(result.channels);
        switch (result.channels) {
          case 1: result.rgba.insert(result.rgba.end(), {pixel[0], pixel[0], pixel[0], 255}); break;
          case 2: result.rgba.insert(result.rgba.end(), {pixel[0], pixel[0], pixel[0], pixel[1]}); break;
          case 3: result.rgba.insert(result.rgba.end(), {pixel[0], pixel[1], pixel[2], 255}); break;
          default: result.rgba.insert(result.rgba.end(), {pixel[0], pixel[1], pixel[2], pixel[3]}); break;
        }
      }
    png_textp texts = nullptr;
    const int count = png_get_text(png, info, &texts, nullptr);
    for (int i = 0; i < count; ++i) result.texts[texts[i].key] = texts[i].text != nullptr ? texts[i].text : "";
    result.read = true;
  } else if (result.error.empty()) {
    result.error = "out of memory";
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return result;
}

}  // namespace vt
