// MacBin_IdentifyFile: the container MacBin_OpenR would read a file as, by
// the same detection, without opening it or reporting anything.  Hosts use
// it to word their own refusals: a file that is no container at all is
// still opened as MacBinary by MacBin_OpenR, which then blames its forks.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "format/macbinary_header.hpp"
#include "format/pict_file.hpp"
#include "reader/container_detection.hpp"
#include "reader/open_steps.hpp"
#include "stream/internal.hpp"

namespace {

namespace format = varnel::format;

// -1 when the file cannot be opened or read.
int32_t detect_in(const char *path, Container *found, std::array<uint8_t, format::kMacBinaryHeaderSize> *header) {
  FileHandle file(fopenr("STREAM", path, "", 0));
  if (file == nullptr) return -1;
  const int64_t eof = fgeteof(file.get());
  if (eof < 0) return -1;
  CheckedFile checked(file.get(), std::min(eof, kMaxReadPosition));
  if (!detect_container(checked, found)) return -1;
  if (header != nullptr && *found == Container::kMacBinary &&
      !checked.read_at(0, header->data(), static_cast<int64_t>(header->size())))
    return -1;
  return 0;
}

int32_t identify(const char *path) {
  if (path == nullptr || path[0] == '\0') return -1;
  Container container = Container::kNone;
  std::array<uint8_t, format::kMacBinaryHeaderSize> header{};
  if (detect_in(path, &container, &header) != 0) return -1;
  switch (container) {
    case Container::kAppleSingle: return MACBIN_FORMAT_APPLESINGLE;
    case Container::kAppleDouble: return MACBIN_FORMAT_APPLEDOUBLE;
    case Container::kBinHex: return MACBIN_FORMAT_BINHEX;
    case Container::kResourceFork: return MACBIN_FORMAT_RSRC;
    case Container::kMacBinary:
      return static_cast<int32_t>(format::read_macbinary_header(header).variant);
    case Container::kNone: break;
  }
  // The data file of an AppleDouble pair: its header file beside it.
  Container beside = Container::kNone;
  const std::string header_path = apple_double_header_path(path);
  if (detect_in(header_path.c_str(), &beside, nullptr) == 0 && beside == Container::kAppleDouble)
    return MACBIN_FORMAT_APPLEDOUBLE;
  return 0;
}

}  // namespace

int32_t MacBin_IdentifyFile(const char *path) {
  try {
    return identify(path);
  } catch (...) {
    return -1;  // no room for the search buffer
  }
}

int32_t MacBin_FindPictFilePicture(const void *bytes, int64_t length) {
  if (bytes == nullptr || length <= 0) return -1;
  // Only the first bytes decide; a length past the address space is fine.
  const auto deciding = static_cast<size_t>(std::min<int64_t>(length, varnel::format::kPictFileDecidingBytes));
  const std::optional<size_t> start =
      varnel::format::find_picture_in_pict_file(std::span<const uint8_t>(static_cast<const uint8_t *>(bytes), deciding));
  return start ? static_cast<int32_t>(*start) : -1;
}
