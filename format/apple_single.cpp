#include "format/apple_single.hpp"

#include <algorithm>
#include <cstring>

namespace varnel::format {
namespace {

constexpr size_t kHeaderBytes = sizeof(AppleSingleHeader);
constexpr size_t kEntryBytes = sizeof(AppleSingleEntry);
constexpr size_t kMaxNameBytes = 255;
constexpr size_t kFactsNameCharacters = sizeof(AppleFacts::name) - 1;

// The entries the writer makes, in the order their bytes follow each other.
constexpr AppleEntryId kSingleEntries[] = {kAppleRealName, kAppleFinderInfo, kAppleFileDates,
                                           kAppleDataFork, kAppleResourceFork};
constexpr AppleEntryId kDoubleEntries[] = {kAppleRealName, kAppleFinderInfo, kAppleFileDates,
                                           kAppleResourceFork};

std::span<const AppleEntryId> entries_of(AppleVariant variant) {
  if (variant == AppleVariant::kSingle) return kSingleEntries;
  return kDoubleEntries;
}

template <typename Record>
void store(std::span<uint8_t> out, size_t at, const Record &record) {
  std::memcpy(out.data() + at, &record, sizeof record);
}

template <typename Record>
Record load(std::span<const uint8_t> bytes, size_t at) {
  Record record;
  std::memcpy(&record, bytes.data() + at, sizeof record);
  return record;
}

}  // namespace

int32_t apple_date_from_macintosh(uint32_t macintosh_date) {
  const int64_t seconds = int64_t{macintosh_date} - kSeconds1904To2000;
  // INT32_MIN itself is the "unknown" marker, so it is no date either.
  if (seconds <= INT32_MIN) return static_cast<int32_t>(kAppleUnknownDate);
  return static_cast<int32_t>(seconds);
}

bool macintosh_date_from_apple(int32_t apple_date, uint32_t *macintosh_date) {
  if (apple_date == static_cast<int32_t>(kAppleUnknownDate)) return false;
  const int64_t seconds = int64_t{apple_date} + kSeconds1904To2000;
  if (seconds < 0 || seconds > int64_t{UINT32_MAX}) return false;
  *macintosh_date = static_cast<uint32_t>(seconds);
  return true;
}

size_t apple_prefix_size(AppleVariant variant, size_t name_length) {
  return kHeaderBytes + kEntryBytes * entries_of(variant).size() +
         std::min(name_length, kMaxNameBytes) + sizeof(AppleFinderInfo) + sizeof(AppleFileDates);
}

bool write_apple_prefix(const AppleFields &fields, std::span<uint8_t> out) {
  const size_t name_length = std::min(fields.name.size(), kMaxNameBytes);
  if (out.size() != apple_prefix_size(fields.variant, name_length)) return false;
  std::fill(out.begin(), out.end(), uint8_t{0});
  const std::span<const AppleEntryId> ids = entries_of(fields.variant);

  AppleSingleHeader header{};
  header.magic.set(fields.variant == AppleVariant::kSingle ? kAppleSingleMagic
                                                           : kAppleDoubleMagic);
  header.version.set(kAppleVersion2);
  header.entry_count.set(static_cast<uint32_t>(ids.size()));
  store(out, 0, header);

  // Each entry's bytes follow the previous entry's.
  uint64_t offset = kHeaderBytes + kEntryBytes * ids.size();
  for (size_t i = 0; i < ids.size(); ++i) {
    uint32_t length = 0;
    switch (ids[i]) {
      case kAppleRealName: length = static_cast<uint32_t>(name_length); break;
      case kAppleFinderInfo: length = sizeof(AppleFinderInfo); break;
      case kAppleFileDates: length = sizeof(AppleFileDates); break;
      case kAppleDataFork: length = fields.data_length; break;
      case kAppleResourceFork: length = fields.rsrc_length; break;
    }
    AppleSingleEntry entry{};
    entry.id.set(ids[i]);
    entry.offset.set(static_cast<uint32_t>(offset));
    entry.length.set(length);
    store(out, kHeaderBytes + kEntryBytes * i, entry);
    offset += length;
  }

  size_t at = kHeaderBytes + kEntryBytes * ids.size();
  std::memcpy(out.data() + at, fields.name.data(), name_length);
  at += name_length;

  AppleFinderInfo finder{};
  static_assert(sizeof finder == kFinderInfoBytes);
  std::memcpy(&finder, fields.finder_info.data(), sizeof finder);
  std::memcpy(finder.type, fields.type, sizeof finder.type);
  std::memcpy(finder.creator, fields.creator, sizeof finder.creator);
  finder.flags.set(fields.finder_flags);
  store(out, at, finder);
  at += sizeof finder;

  AppleFileDates dates{};
  dates.created.set(static_cast<uint32_t>(apple_date_from_macintosh(fields.created)));
  dates.modified.set(static_cast<uint32_t>(apple_date_from_macintosh(fields.modified)));
  dates.backed_up.set(kAppleUnknownDate);
  dates.accessed.set(kAppleUnknownDate);
  store(out, at, dates);
  return true;
}

AppleParseStatus parse_apple_header(std::span<const uint8_t> bytes, uint64_t file_length,
                                    AppleFacts *facts) {
  if (bytes.size() < kHeaderBytes) return AppleParseStatus::kNotApple;
  const auto header = load<AppleSingleHeader>(bytes, 0);
  AppleFacts found{};
  switch (header.magic.get()) {
    case kAppleSingleMagic: found.variant = AppleVariant::kSingle; break;
    case kAppleDoubleMagic: found.variant = AppleVariant::kDouble; break;
    default: return AppleParseStatus::kNotApple;
  }
  found.version = header.version.get();
  if (found.version != kAppleVersion1 && found.version != kAppleVersion2) {
    return AppleParseStatus::kUnknownVersion;
  }
  found.entry_count = static_cast<uint16_t>(header.entry_count.get());
  // At most 65535 entries of 12 bytes: the sum cannot overflow.
  if (kHeaderBytes + kEntryBytes * size_t{found.entry_count} > bytes.size()) {
    return AppleParseStatus::kEntriesTruncated;
  }

  for (size_t i = 0; i < found.entry_count; ++i) {
    const auto entry = load<AppleSingleEntry>(bytes, kHeaderBytes + kEntryBytes * i);
    const uint32_t id = entry.id.get();
    const uint32_t offset = entry.offset.get();
    const uint32_t length = entry.length.get();
    if (uint64_t{offset} + length > file_length) return AppleParseStatus::kEntryOutsideFile;
    const bool in_bytes = uint64_t{offset} + length <= bytes.size();
    const std::span<const uint8_t> content =
        in_bytes ? bytes.subspan(offset, length) : std::span<const uint8_t>();
    switch (id) {
      case kAppleDataFork:
        if (found.has_data_fork) return AppleParseStatus::kDuplicateEntry;
        found.has_data_fork = true;
        found.data_offset = offset;
        found.data_length = length;
        break;
      case kAppleResourceFork:
        if (found.has_rsrc_fork) return AppleParseStatus::kDuplicateEntry;
        found.has_rsrc_fork = true;
        found.rsrc_offset = offset;
        found.rsrc_length = length;
        break;
      case kAppleRealName: {
        if (found.has_name) return AppleParseStatus::kDuplicateEntry;
        if (!in_bytes) return AppleParseStatus::kEntryNotInHeader;
        found.has_name = true;
        const size_t kept = std::min(content.size(), kFactsNameCharacters);
        std::memcpy(found.name, content.data(), kept);
        found.name[kept] = '\0';
        found.name_length = static_cast<uint8_t>(kept);
        break;
      }
      case kAppleFinderInfo: {
        if (found.has_finder_info) return AppleParseStatus::kDuplicateEntry;
        if (!in_bytes) return AppleParseStatus::kEntryNotInHeader;
        found.has_finder_info = true;
        // Short entries exist; what they hold of type, creator and flags counts.
        AppleFinderInfo finder{};
        std::memcpy(&finder, content.data(), std::min(content.size(), sizeof finder));
        std::memcpy(found.finder_info.data(), &finder, sizeof finder);
        std::memcpy(found.type, finder.type, 4);
        std::memcpy(found.creator, finder.creator, 4);
        found.finder_flags = static_cast<uint16_t>(finder.flags.get());
        break;
      }
      case kAppleFileDates: {
        if (found.has_dates) return AppleParseStatus::kDuplicateEntry;
        if (!in_bytes) return AppleParseStatus::kEntryNotInHeader;
        found.has_dates = true;
        AppleFileDates dates{};
        dates.created.set(kAppleUnknownDate);
        dates.modified.set(kAppleUnknownDate);
        std::memcpy(&dates, content.data(), std::min(content.size(), sizeof dates));
        found.created = static_cast<int32_t>(dates.created.get());
        found.modified = static_cast<int32_t>(dates.modified.get());
        break;
      }
      default:
        break;  // comments, icons, file info of other systems: not ours to judge
    }
  }
  if (found.data_length > INT32_MAX || found.rsrc_length > INT32_MAX) {
    return AppleParseStatus::kForkTooLong;
  }
  *facts = found;
  return AppleParseStatus::kOk;
}

}  // namespace varnel::format
