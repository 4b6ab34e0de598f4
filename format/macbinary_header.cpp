#include "format/macbinary_header.hpp"

#include <algorithm>
#include <cstring>

#include "format/crc16.hpp"

namespace varnel::format {

void write_macbinary_header(const MacBinaryFields &fields, MacBinaryVariant variant,
                            std::span<uint8_t, kMacBinaryHeaderSize> out) {
  MacBinaryHeader header{};
  const size_t name_length = std::min(fields.name.size(), kMacBinaryMaxNameLength);
  header.name_length = static_cast<uint8_t>(name_length);
  std::memcpy(header.name, fields.name.data(), name_length);
  std::memcpy(header.type, fields.type, sizeof header.type);
  std::memcpy(header.creator, fields.creator, sizeof header.creator);
  header.finder_flags_high = static_cast<uint8_t>(fields.finder_flags >> 8);
  // Byte 74 belongs to the Finder flags as well: the original definition
  // keeps it zero, but the whole word goes out as the host set it.
  header.zero_74 = static_cast<uint8_t>(fields.finder_flags);
  header.data_length.set(fields.data_length);
  header.rsrc_length.set(fields.rsrc_length);
  header.created.set(fields.created);
  header.modified.set(fields.modified);
  header.vertical_position.set(get_be16(fields.place));
  header.horizontal_position.set(get_be16(fields.place + 2));
  header.folder_id.set(get_be16(fields.place + 4));
  std::memcpy(out.data(), &header, kMacBinaryHeaderSize);
  if (variant == MacBinaryVariant::kClassic) {
    put_be32(out.data() + kClassicMarkerOffset, kClassicMarker);
    return;
  }
  out[offsetof(MacBinaryHeader, finder_flags_low)] = static_cast<uint8_t>(fields.finder_flags);
  out[offsetof(MacBinaryHeader, version)] = kMacBinaryIIVersion;
  out[offsetof(MacBinaryHeader, minimum_version)] = kMacBinaryIIVersion;
  put_be16(out.data() + offsetof(MacBinaryHeader, crc),
           crc16_xmodem(out.first(kMacBinaryCrcCovered)));
}

MacBinaryFacts read_macbinary_header(std::span<const uint8_t, kMacBinaryHeaderSize> bytes) {
  MacBinaryHeader header;
  std::memcpy(&header, bytes.data(), kMacBinaryHeaderSize);
  MacBinaryFacts facts{};
  const bool signed_iii =
      std::memcmp(header.signature, kMacBinaryIIISignature, sizeof header.signature) == 0;
  const bool versioned = header.version != 0 || header.minimum_version != 0;
  facts.variant = signed_iii  ? MacBinaryVariant::kIII
                  : versioned ? MacBinaryVariant::kII
                              : MacBinaryVariant::kClassic;
  facts.crc_stored = static_cast<uint16_t>(header.crc.get());
  facts.crc_computed = crc16_xmodem(bytes.first(kMacBinaryCrcCovered));
  facts.crc_state = facts.variant == MacBinaryVariant::kClassic ? -1
                    : facts.crc_stored == facts.crc_computed    ? 1
                                                                : 0;
  facts.finder_flags = static_cast<uint16_t>(
      (header.finder_flags_high << 8) |
      (facts.variant == MacBinaryVariant::kClassic ? 0 : header.finder_flags_low));
  facts.data_length = header.data_length.get();
  facts.rsrc_length = header.rsrc_length.get();
  facts.created = header.created.get();
  facts.modified = header.modified.get();
  facts.name_length = header.name_length;
  const size_t name_length = std::min<size_t>(header.name_length, kMacBinaryMaxNameLength);
  std::memcpy(facts.name, header.name, name_length);
  facts.name[name_length] = '\0';
  std::memcpy(facts.type, header.type, 4);
  std::memcpy(facts.creator, header.creator, 4);
  FinderInfoBlock &finder = facts.finder_info;
  std::memcpy(finder.data() + kFinderTypeAt, header.type, 4);
  std::memcpy(finder.data() + kFinderCreatorAt, header.creator, 4);
  put_be16(finder.data() + kFinderFlagsAt, facts.finder_flags);
  std::memcpy(finder.data() + kFinderLocationAt, bytes.data() + offsetof(MacBinaryHeader, vertical_position),
              kFinderPlaceBytes);
  if (facts.variant == MacBinaryVariant::kIII) {
    finder[kFinderScriptAt] = header.script;
    finder[kFinderExtendedFlagsAt] = header.extended_flags;
  }
  // The classic header has its marker where later variants keep this.
  facts.secondary_header_length =
      facts.variant == MacBinaryVariant::kClassic ? 0 : static_cast<uint16_t>(header.secondary_header_length.get());
  return facts;
}

bool macbinary_header_is_plausible(std::span<const uint8_t, kMacBinaryHeaderSize> bytes) {
  const uint8_t name_length = bytes[offsetof(MacBinaryHeader, name_length)];
  return bytes[offsetof(MacBinaryHeader, old_version)] == 0 &&
         bytes[offsetof(MacBinaryHeader, zero_82)] == 0 && name_length >= 1 &&
         name_length <= kMacBinaryMaxNameLength;
}

}  // namespace varnel::format
