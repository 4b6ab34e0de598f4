#include "support/macbinary_header.hpp"

#include <array>

#include "support/byte_cursor.hpp"

namespace varnel_tool {
namespace {

// MacBinary header offsets.
constexpr size_t kOldVersionOffset = 0;   // always 0
constexpr size_t kNameLengthOffset = 1;   // 1 to 63
constexpr size_t kNameOffset = 2;
constexpr size_t kTypeOffset = 65;
constexpr size_t kCreatorOffset = 69;
constexpr size_t kFlagsHighOffset = 73;
constexpr size_t kZeroByte74 = 74;        // always 0
constexpr size_t kZeroByte82 = 82;        // always 0
constexpr size_t kDataLengthOffset = 83;
constexpr size_t kResourceLengthOffset = 87;
constexpr size_t kFlagsLowOffset = 101;   // MacBinary II and later
constexpr size_t kSignatureOffset = 102;  // "mBIN" in MacBinary III
constexpr size_t kWriterVersionOffset = 122;
constexpr size_t kReaderVersionOffset = 123;
constexpr size_t kCrcOffset = 124;
constexpr size_t kCrcCoveredBytes = 124;
constexpr uint32_t kMaxForkLength = 0x7FFFFFFF;

uint64_t round_up_to_block(uint64_t length) { return (length + 127) / 128 * 128; }

}  // namespace

uint16_t crc16_xmodem(std::span<const uint8_t> bytes) {
  uint16_t crc = 0;
  for (uint8_t byte : bytes) {
    crc = static_cast<uint16_t>(crc ^ (byte << 8));
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

bool parse_macbinary_header(std::span<const uint8_t> header, uint64_t file_size,
                            MacBinaryHeader &parsed, std::string &error) {
  if (header.size() < kMacBinaryHeaderSize || file_size < kMacBinaryHeaderSize) {
    error = "not a MacBinary file (shorter than 128 bytes)";
    return false;
  }
  const uint8_t name_length = header[kNameLengthOffset];
  if (header[kOldVersionOffset] != 0 || header[kZeroByte74] != 0 || header[kZeroByte82] != 0 ||
      name_length < 1 || name_length > 63) {
    error = "not a MacBinary file (header bytes 0, 1, 74 and 82 are wrong)";
    return false;
  }
  parsed.name.assign(reinterpret_cast<const char *>(&header[kNameOffset]), name_length);
  parsed.type.assign(reinterpret_cast<const char *>(&header[kTypeOffset]), 4);
  parsed.creator.assign(reinterpret_cast<const char *>(&header[kCreatorOffset]), 4);
  parsed.data_length = get_be32(header, kDataLengthOffset);
  parsed.resource_length = get_be32(header, kResourceLengthOffset);
  parsed.crc_stored = get_be16(header, kCrcOffset);
  parsed.crc_computed = crc16_xmodem(header.first(kCrcCoveredBytes));
  const bool versioned = header[kWriterVersionOffset] != 0 || header[kReaderVersionOffset] != 0;
  const bool signed_iii = header[kSignatureOffset] == 'm' && header[kSignatureOffset + 1] == 'B' &&
                          header[kSignatureOffset + 2] == 'I' && header[kSignatureOffset + 3] == 'N';
  parsed.format = signed_iii  ? MacBinaryFormat::kMacBinaryIII
                  : versioned ? MacBinaryFormat::kMacBinaryII
                              : MacBinaryFormat::kClassic;
  parsed.finder_flags = static_cast<uint16_t>(
      (header[kFlagsHighOffset] << 8) |
      (parsed.format == MacBinaryFormat::kClassic ? 0 : header[kFlagsLowOffset]));
  if (parsed.data_length > kMaxForkLength || parsed.resource_length > kMaxForkLength) {
    error = "damaged MacBinary header (fork length above 2 GiB)";
    return false;
  }
  const uint64_t resource_start = kMacBinaryHeaderSize + round_up_to_block(parsed.data_length);
  parsed.resource_fork_offset = static_cast<uint32_t>(resource_start);
  const bool data_fits = kMacBinaryHeaderSize + uint64_t{parsed.data_length} <= file_size;
  const bool resources_fit =
      parsed.resource_length == 0 || resource_start + parsed.resource_length <= file_size;
  if (!data_fits || !resources_fit) {
    error = "truncated MacBinary file (the forks need " +
            std::to_string(resource_start + parsed.resource_length) + " bytes, the file has " +
            std::to_string(file_size) + ")";
    return false;
  }
  return true;
}

const char *format_name(MacBinaryFormat format) {
  switch (format) {
    case MacBinaryFormat::kClassic:
      return "classic";
    case MacBinaryFormat::kMacBinaryII:
      return "MacBinary II";
    case MacBinaryFormat::kMacBinaryIII:
      return "MacBinary III";
  }
  return "unknown";
}

std::vector<std::string> finder_flag_names(uint16_t flags) {
  struct NamedFlag {
    uint16_t bit;
    const char *name;
  };
  constexpr std::array<NamedFlag, 10> kFlags = {{
      {0x8000, "isAlias"},
      {0x4000, "isInvisible"},
      {0x2000, "hasBundle"},
      {0x1000, "nameLocked"},
      {0x0800, "isStationery"},
      {0x0400, "hasCustomIcon"},
      {0x0100, "hasBeenInited"},
      {0x0080, "hasNoINITs"},
      {0x0040, "isShared"},
      {0x0020, "requiresSwitchLaunch"},
  }};
  std::vector<std::string> names;
  for (const NamedFlag &flag : kFlags) {
    if ((flags & flag.bit) != 0) names.emplace_back(flag.name);
  }
  if ((flags & 0x000E) != 0) names.push_back("color=" + std::to_string((flags & 0x000E) >> 1));
  if ((flags & 0x0210) != 0) names.push_back("reserved=" + std::to_string(flags & 0x0210));
  if ((flags & 0x0001) != 0) names.emplace_back("isOnDesk");
  return names;
}

}  // namespace varnel_tool
