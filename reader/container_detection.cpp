// Telling the containers apart by their content.
#include "reader/container_detection.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "format/apple_single.hpp"
#include "format/binhex.hpp"
#include "format/macbinary_header.hpp"
#include "format/resource_fork.hpp"
#include "stream/internal.hpp"

namespace {

namespace format = varnel::format;

constexpr int64_t kForkHeaderSize = sizeof(format::ResourceForkHeader);
constexpr int64_t kMapHeaderSize = sizeof(format::ResourceMapHeader);

// The start of the line BinHex texts open with; writers finish it in
// their own words ("with BinHex 4.0)", "; you knew that already.)").
constexpr std::string_view kBinHexLineStart = "(This file must be converted";

// The BinHex line, in text: a file with a NUL byte before it is binary (a
// MacBinary file whose data fork is a BinHex text, for one).
bool names_binhex(std::span<const uint8_t> prefix) {
  const std::string_view text(reinterpret_cast<const char *>(prefix.data()), prefix.size());
  const size_t at = text.find(kBinHexLineStart);
  if (at == std::string_view::npos) return false;
  return text.substr(0, at).find('\0') == std::string_view::npos;
}

bool is_macbinary(std::span<const uint8_t> prefix) {
  if (prefix.size() < format::kMacBinaryHeaderSize) return false;
  return format::macbinary_header_is_plausible(
      prefix.first<format::kMacBinaryHeaderSize>());
}

// A fork header whose data and map lie inside the file, apart, with a map
// long enough for its header and a type count, whose copy of the fork
// header agrees (or is zero, as some writers leave it) and whose type list
// lies inside it.
bool is_resource_fork(CheckedFile &file) {
  format::ResourceForkHeader header;
  if (!file.read_at(0, &header, kForkHeaderSize)) return false;
  const int64_t data_offset = header.data_offset.get();
  const int64_t map_offset = header.map_offset.get();
  const int64_t data_length = header.data_length.get();
  const int64_t map_length = header.map_length.get();
  if (data_offset < kForkHeaderSize || map_offset < kForkHeaderSize) return false;
  if (!file.contains(data_offset, data_length) || !file.contains(map_offset, map_length)) {
    return false;
  }
  if (map_length < kMapHeaderSize + 2) return false;
  const bool apart = data_offset + data_length <= map_offset || map_offset + map_length <= data_offset;
  if (!apart) return false;
  format::ResourceMapHeader map;
  if (!file.read_at(map_offset, &map, kMapHeaderSize)) return false;
  static const format::ResourceForkHeader kZero{};
  const bool copy_agrees = std::memcmp(&map.fork_header_copy, &header, kForkHeaderSize) == 0 ||
                           std::memcmp(&map.fork_header_copy, &kZero, kForkHeaderSize) == 0;
  const int64_t type_list = map.type_list_offset.get();
  return copy_agrees && type_list >= kMapHeaderSize && type_list + 2 <= map_length;
}

}  // namespace

bool detect_container(CheckedFile &file, Container *found) {
  const int64_t size = std::min(file.length(), kBinHexSearchBytes);
  std::vector<uint8_t> prefix(static_cast<size_t>(size));
  if (!file.read_at(0, prefix.data(), size)) return false;

  if (prefix.size() >= 4) {
    const uint32_t magic = get_be32(prefix.data());
    if (magic == format::kAppleSingleMagic) {
      *found = Container::kAppleSingle;
      return true;
    }
    if (magic == format::kAppleDoubleMagic) {
      *found = Container::kAppleDouble;
      return true;
    }
  }
  if (names_binhex(prefix)) {
    *found = Container::kBinHex;
  } else if (is_macbinary(prefix)) {
    *found = Container::kMacBinary;
  } else if (is_resource_fork(file)) {
    *found = Container::kResourceFork;
  } else {
    *found = Container::kNone;
  }
  return true;
}
