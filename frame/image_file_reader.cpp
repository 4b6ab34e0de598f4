// The image-file readers and the folder image names start from.  A reader
// the host registers is asked first, so that a host can take formats of
// its own or read PNG and netpbm files its own way; a file it calls "not
// mine" (or every file, when none is registered) goes to the library's
// built-in reader of PNG and netpbm files.  The registration and the
// folder are process-wide, set up before any thread starts, like the
// method slots; the built-in reader is always there.
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <string>

#include "frame/internal.hpp"
#include "imagefile/builtin_reader.hpp"
#include "varnel.h"

// Hosts fill these records: their layout is the interface.
static_assert(offsetof(MacBinImageFileInfo, one_bit) == 12 && offsetof(MacBinImageFileInfo, h_res) == 16 &&
              offsetof(MacBinImageFileInfo, v_res) == 24 && offsetof(MacBinImageFileInfo, format) == 32);
static_assert(offsetof(MacBinImageFileReader, open) == 2 * sizeof(void *) &&
              offsetof(MacBinImageFileReader, close) == 4 * sizeof(void *));

namespace {

// The registered reader, its formats text kept apart (the host's may go).
struct RegisteredReader {
  MacBinImageFileReader callbacks;
  std::string formats;
};
std::optional<RegisteredReader> registered_reader;
std::string image_directory;  // "" = the current folder

// The largest side a reader may report: beyond any picture or icon, and
// small enough that a row of four channels stays a few hundred kilobytes.
constexpr int32_t kMaxImageSide = 65535;

void forget_image_files() {
  registered_reader.reset();
  image_directory.clear();
}
ResetStep image_files_reset{forget_image_files, nullptr};
const bool image_files_reset_registered = register_reset_step(image_files_reset);

// The reader's reason, NUL-terminated whatever it wrote.
std::string reason_text(char (&reason)[MACBIN_IMAGE_REASON_BYTES]) {
  reason[MACBIN_IMAGE_REASON_BYTES - 1] = '\0';
  return reason;
}

bool info_in_range(const MacBinImageFileInfo &info) {
  return info.width >= 1 && info.width <= kMaxImageSide && info.height >= 1 && info.height <= kMaxImageSide &&
         info.channels >= 1 && info.channels <= 4;
}

}  // namespace

void set_image_file_reader(const MacBinImageFileReader *reader) {
  if (reader == nullptr) {
    registered_reader.reset();
    return;
  }
  RegisteredReader copy{*reader, reader->formats != nullptr ? reader->formats : ""};
  registered_reader = std::move(copy);
}

std::string image_formats_with_ct() {
  const std::string builtin = varnel::imagefile::kBuiltinImageFormats;
  if (!registered_reader || registered_reader->formats.empty()) return builtin + " or CT";
  return registered_reader->formats + ", " + builtin + " or CT";
}

std::string image_path(std::string_view name) {
  const std::filesystem::path path(name);
  if (path.is_absolute() || image_directory.empty()) return std::string(name);
  return (std::filesystem::path(image_directory) / path).string();
}

ImageFile::~ImageFile() {
  if (open_ && reader_.close != nullptr) reader_.close(handle_);
}

int32_t ImageFile::open(const std::string &path) {
  if (registered_reader) {
    const int32_t result = open_with(registered_reader->callbacks, path);
    if (result != MACBIN_IMAGE_NOT_MINE) return result;
  }
  return open_with(varnel::imagefile::builtin_image_file_reader(), path);
}

int32_t ImageFile::open_with(const MacBinImageFileReader &reader, const std::string &path) {
  reader_ = reader;
  char reason[MACBIN_IMAGE_REASON_BYTES] = "";
  MacBinImageFileInfo info{};
  void *handle = nullptr;
  const int32_t result = reader_.open(path.c_str(), reader_.context, &info, &handle, reason);
  if (result != MACBIN_IMAGE_OPENED) {
    error_ = reason_text(reason);
    if (error_.empty()) error_ = "the image-file reader gives no reason";
    return result == MACBIN_IMAGE_NOT_MINE ? MACBIN_IMAGE_NOT_MINE : MACBIN_IMAGE_FAILED;
  }
  open_ = true;
  handle_ = handle;
  info_ = info;
  if (info_.format == nullptr) info_.format = "image";
  if (!info_in_range(info_)) {
    error_ = "the image-file reader gave " + std::to_string(info_.width) + "x" + std::to_string(info_.height) +
             " pixels of " + std::to_string(info_.channels) + " channels (1 to " + std::to_string(kMaxImageSide) +
             " pixels and 1 to 4 channels are taken)";
    return MACBIN_IMAGE_FAILED;
  }
  return MACBIN_IMAGE_OPENED;
}

bool ImageFile::read_row(uint8_t *row) {
  char reason[MACBIN_IMAGE_REASON_BYTES] = "";
  if (open_ && reader_.read_row(handle_, row, reason) == 1) return true;
  error_ = std::string("damaged ") + info_.format + " data: " + reason_text(reason);
  return false;
}

extern "C" int32_t MacBin_SetImageDirectory(const char *directory) {
  try {
    image_directory = directory != nullptr ? directory : "";
    return 0;
  } catch (const std::bad_alloc &) {
    record_error(MACBIN_ERR_MEMORY, "MacBin_SetImageDirectory: out of memory");
    return 1;
  }
}
