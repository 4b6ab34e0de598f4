// The compressed-resource header (see compressed_resource.hpp).
#include "format/compressed_resource.hpp"

#include "format/big_endian.hpp"

namespace varnel::format {

namespace {

constexpr size_t kLengthAt = 4;
constexpr size_t kVersionAt = 6;
constexpr size_t kAttributesAt = 7;
constexpr size_t kUncompressedLengthAt = 8;
constexpr size_t kVersion8DecompressorAt = 14;
constexpr size_t kVersion9DecompressorAt = 12;
constexpr size_t kTableCountAt = 16;
constexpr size_t kFlagsAt = 17;

int32_t signed16(uint32_t word) { return static_cast<int32_t>(static_cast<int16_t>(word)); }

}  // namespace

bool has_compressed_signature(std::span<const uint8_t> data) {
  return data.size() >= 4 && get_be32(data.data()) == kCompressedResourceSignature;
}

const char *parse_compressed_header(std::span<const uint8_t> data, CompressedHeader &header) {
  header = CompressedHeader{};
  if (!has_compressed_signature(data)) return "no compressed-resource signature";
  if (data.size() < kCompressedHeaderSize) return "compression header cut short";
  const uint32_t header_length = get_be16(data.data() + kLengthAt);
  if (header_length != kCompressedHeaderSize && header_length != 0)
    return "compression header length is neither 18 nor 0";
  const uint8_t version = data[kVersionAt];
  if (version != 8 && version != 9) return "compression header version is neither 8 nor 9";
  if ((data[kAttributesAt] & 0x01) == 0) return "compression header does not mark the data compressed";
  const uint32_t length = get_be32(data.data() + kUncompressedLengthAt);
  if (length > kMaxUncompressedLength) return "uncompressed length past 16777215 bytes";
  header.version = version;
  header.decompressor = signed16(
      get_be16(data.data() + (version == 8 ? kVersion8DecompressorAt : kVersion9DecompressorAt)));
  header.uncompressed_length = length;
  header.table_count_minus_one = data[kTableCountAt];
  header.flags = data[kFlagsAt];
  return nullptr;
}

}  // namespace varnel::format
