// The built-in reader as a MacBinImageFileReader record, so that the frame
// treats it exactly as it treats a host's: its callbacks fill the same
// records and write the same one-line reasons.
#include "imagefile/builtin_reader.hpp"

#include <cstdio>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "imagefile/internal.hpp"
#include "imagefile/open_image.hpp"
#include "varnel.h"

namespace varnel::imagefile {
namespace {

void put_reason(char *reason, const std::string &text) {
  std::snprintf(reason, MACBIN_IMAGE_REASON_BYTES, "%s", text.c_str());
}

MacBinImageFileInfo public_info(const RowsInfo &rows) {
  return MacBinImageFileInfo{rows.width,
                             rows.height,
                             rows.channels,
                             rows.one_bit ? 1 : 0,
                             rows.physical_size_known ? rows.pixels_per_inch_x : 0.0,
                             rows.physical_size_known ? rows.pixels_per_inch_y : 0.0,
                             rows.format};
}

int32_t open_file(const char *path, void * /*context*/, MacBinImageFileInfo *info, void **handle, char *reason) {
  try {
    auto image = std::make_unique<OpenImage>();
    std::string error;
    const int32_t result = open_image_file(path, *image, error);
    if (result != MACBIN_IMAGE_OPENED) {
      put_reason(reason, error);
      return result;
    }
    *info = public_info(image->rows->info());
    *handle = image.release();
    return MACBIN_IMAGE_OPENED;
  } catch (const std::bad_alloc &) {
    put_reason(reason, "out of memory");
    return MACBIN_IMAGE_FAILED;
  }
}

int32_t read_row(void *handle, uint8_t *row, char *reason) {
  ImageRows &rows = *static_cast<OpenImage *>(handle)->rows;
  const RowsInfo &info = rows.info();
  const std::span<uint8_t> samples(row, static_cast<size_t>(info.width) * static_cast<size_t>(info.channels));
  try {
    if (rows.read_row(samples)) return 1;
    put_reason(reason, rows.error());
  } catch (const std::bad_alloc &) {
    put_reason(reason, "out of memory");
  }
  return 0;
}

void close_file(void *handle) { delete static_cast<OpenImage *>(handle); }

const MacBinImageFileReader kBuiltinReader{kBuiltinImageFormats, nullptr, open_file, read_row, close_file};

}  // namespace

const MacBinImageFileReader &builtin_image_file_reader() { return kBuiltinReader; }

}  // namespace varnel::imagefile
