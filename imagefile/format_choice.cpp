// The built-in reader's choice of decoder: PNG and netpbm files tell
// themselves by their first byte.  Any other file is someone else's (a CT
// image, or a format the host's reader takes), so it is said to be "not
// mine" rather than damaged.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "imagefile/internal.hpp"
#include "imagefile/open_image.hpp"
#include "varnel.h"

namespace varnel::imagefile {

int32_t open_image_file(const char *path, OpenImage &image, std::string &error) {
  image.file.reset(std::fopen(path, "rb"));
  if (!image.file) {
    error = std::string("cannot open: ") + std::strerror(errno);
    return MACBIN_IMAGE_FAILED;
  }
  FILE *file = image.file.get();
  const int first = std::getc(file);
  if (first == EOF) {
    error = "empty file";
    return MACBIN_IMAGE_NOT_MINE;
  }
  std::ungetc(first, file);
  if (first == kPngFirstByte) {
    image.rows = open_png_rows(file, error);
  } else if (first == kNetpbmFirstByte) {
    image.rows = open_pnm_rows(file, error);
  } else {
    error = "not a PNG or netpbm (PBM/PGM/PPM) image";
    return MACBIN_IMAGE_NOT_MINE;
  }
  return image.rows ? MACBIN_IMAGE_OPENED : MACBIN_IMAGE_FAILED;
}

}  // namespace varnel::imagefile
