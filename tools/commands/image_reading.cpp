#include "image_reading.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "common/image_reader.hpp"
#include "tool_context.hpp"
#include "varnel.h"

namespace varnel_tool {
namespace {

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};

// One open image: the file and its decoder.
struct OpenImage {
  std::unique_ptr<FILE, FileCloser> file;
  std::unique_ptr<ImageReader> reader;
};

void put_reason(char *reason, const std::string &text) {
  std::snprintf(reason, MACBIN_IMAGE_REASON_BYTES, "%s", text.c_str());
}

int32_t open_image(const char *path, OpenImage &image, MacBinImageFileInfo *info, char *reason) {
  image.file.reset(std::fopen(path, "rb"));
  if (!image.file) {
    put_reason(reason, std::string("cannot open: ") + std::strerror(errno));
    return MACBIN_IMAGE_FAILED;
  }
  // Files that start like neither format are someone else's (a CT image).
  const int first = std::getc(image.file.get());
  if (first != EOF) std::ungetc(first, image.file.get());
  std::string error;
  image.reader = open_image_reader(image.file.get(), error);
  if (!image.reader) {
    put_reason(reason, error);
    return first == 0x89 || first == 'P' ? MACBIN_IMAGE_FAILED : MACBIN_IMAGE_NOT_MINE;
  }
  const ImageInfo &decoded = image.reader->info();
  *info = MacBinImageFileInfo{decoded.width,
                              decoded.height,
                              decoded.channels,
                              decoded.one_bit ? 1 : 0,
                              decoded.physical_size_known ? decoded.pixels_per_inch_x : 0.0,
                              decoded.physical_size_known ? decoded.pixels_per_inch_y : 0.0,
                              decoded.format};
  return MACBIN_IMAGE_OPENED;
}

int32_t open_file(const char *path, void * /*context*/, MacBinImageFileInfo *info, void **handle, char *reason) {
  try {
    auto image = std::make_unique<OpenImage>();
    const int32_t result = open_image(path, *image, info, reason);
    if (result == MACBIN_IMAGE_OPENED) *handle = image.release();
    return result;
  } catch (const std::bad_alloc &) {
    put_reason(reason, "out of memory");
    return MACBIN_IMAGE_FAILED;
  }
}

int32_t read_row(void *handle, uint8_t *row, char *reason) {
  ImageReader &reader = *static_cast<OpenImage *>(handle)->reader;
  const ImageInfo &info = reader.info();
  const std::span<uint8_t> samples(row, static_cast<size_t>(info.width) * static_cast<size_t>(info.channels));
  const int32_t read = guard_callback(int32_t{0}, [&] { return reader.read_row(samples) ? 1 : 0; });
  if (read == 0) put_reason(reason, reader.error());
  return read;
}

void close_file(void *handle) { delete static_cast<OpenImage *>(handle); }

}  // namespace

bool install_image_file_reader() {
  const MacBinImageFileReader reader{"PNG, netpbm", nullptr, open_file, read_row, close_file};
  if (MacBin_SetImageFileReader(&reader) == 0) return true;
  const char *reason = "";
  MacBin_LastError(&reason);
  Reporter::instance().error(reason);
  return false;
}

}  // namespace varnel_tool
