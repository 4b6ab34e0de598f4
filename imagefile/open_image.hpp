// Private to the library: never installed, never included by hosts.
//
// One image file open through the built-in readers: the file and the
// decoder reading it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "imagefile/internal.hpp"

namespace varnel::imagefile {

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};

struct OpenImage {
  std::unique_ptr<FILE, FileCloser> file;
  std::unique_ptr<ImageRows> rows;  // declared after the file: gone before it closes
};

// Opens `path` and its decoder, chosen by the first byte: one of
// MACBIN_IMAGE_OPENED, _FAILED (a PNG or netpbm file that cannot be used,
// or a file that cannot be opened) and _NOT_MINE (any other file, an empty
// one), with the reason in `error` for the last two.  Throws
// std::bad_alloc.
int32_t open_image_file(const char *path, OpenImage &image, std::string &error);

}  // namespace varnel::imagefile
