// MacBin_ReadImageFile: a whole image file through the readers, as RGBA,
// for hosts that convert images (the tool's CT maker) rather than build
// resources from them.
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "frame/internal.hpp"
#include "varnel.h"

namespace {

struct FreeDeleter {
  void operator()(uint8_t *bytes) const { std::free(bytes); }
};

// The reader's samples (1 to 4 channels) as RGBA: grey over red, green
// and blue, alpha 255 where the file has none.
void spread_to_rgba(const MacBinImageFileInfo &info, const uint8_t *samples, uint8_t *rgba) {
  const auto channels = static_cast<size_t>(info.channels);
  const bool has_alpha = channels == 2 || channels == 4;
  for (size_t x = 0; x < static_cast<size_t>(info.width); ++x) {
    const uint8_t *pixel = samples + x * channels;
    for (size_t c = 0; c < 3; ++c) rgba[x * 4 + c] = pixel[channels >= 3 ? c : 0];
    rgba[x * 4 + 3] = has_alpha ? pixel[channels - 1] : 255;
  }
}

// Reads the file whole; the reason (naming `name`) as the last error when
// it returns false.
// The format name MacBin_ReadImageFile hands out, kept past the image's close.
thread_local std::string last_format;

bool read_whole(const char *name, int64_t max_pixels, MacBinPixels &pixels, MacBinImageFileInfo *facts) {
  ImageFile file;
  const auto refuse = [name](const std::string &reason) {
    record_error(MACBIN_ERR_IMAGE, (std::string(name) + ": " + reason).c_str());
    return false;
  };
  if (file.open(image_path(name)) != MACBIN_IMAGE_OPENED) return refuse(file.error());
  const MacBinImageFileInfo &info = file.info();
  if (static_cast<int64_t>(info.width) * info.height > max_pixels)
    return refuse("image too large (" + std::to_string(info.width) + "x" + std::to_string(info.height) + ")");
  const auto width = static_cast<size_t>(info.width);
  std::unique_ptr<uint8_t, FreeDeleter> rgba(
      static_cast<uint8_t *>(std::malloc(width * static_cast<size_t>(info.height) * 4)));
  if (!rgba) throw std::bad_alloc();
  std::vector<uint8_t> row(width * static_cast<size_t>(info.channels));
  for (size_t y = 0; y < static_cast<size_t>(info.height); ++y) {
    if (!file.read_row(row.data())) return refuse(file.error());
    spread_to_rgba(info, row.data(), rgba.get() + y * width * 4);
  }
  if (facts != nullptr) {
    last_format = info.format;
    *facts = info;
    facts->format = last_format.c_str();
  }
  pixels = MacBinPixels{info.width, info.height, 0, 0, rgba.release()};
  return true;
}

}  // namespace

extern "C" int32_t MacBin_ReadImageFile(const char *path, int64_t max_pixels, MacBinPixels *pixels,
                                        MacBinImageFileInfo *info) {
  if (path == nullptr || pixels == nullptr) {
    record_error(MACBIN_ERR_ARGUMENT, "MacBin_ReadImageFile: a null path or pixel record");
    return 0;
  }
  try {
    return read_whole(path, max_pixels, *pixels, info) ? 1 : 0;
  } catch (const std::bad_alloc &) {
    record_error(MACBIN_ERR_MEMORY, (std::string(path) + ": out of memory").c_str());
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "MacBin_ReadImageFile: out of memory");
  }
  return 0;
}
