// The resource fork's part of MacBin_CheckFile: the fork header, the map
// and each resource it lists, each fault told once.
//
// The map is read once into memory (never more than it declares and the
// file holds, and never more than its 16-bit offsets can reach), as the
// open reads it.  The resources' length words are read in the order of
// their data offsets, so that the reads go through the file once, front
// to back, in the file layer's buffer: checking costs about what listing
// costs.
#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "format/compressed_resource.hpp"
#include "format/mac_roman.hpp"
#include "format/resource_fork.hpp"
#include "reader/decompression.hpp"
#include "reader/file_check.hpp"
#include "stream/internal.hpp"

namespace {

namespace format = varnel::format;

constexpr int64_t kForkHeaderSize = sizeof(format::ResourceForkHeader);
constexpr size_t kMapHeaderSize = sizeof(format::ResourceMapHeader);
constexpr size_t kTypeItemSize = sizeof(format::ResourceTypeItem);
constexpr size_t kReferenceItemSize = sizeof(format::ResourceReferenceItem);
constexpr size_t kTypeCountSize = sizeof(format::TypeCountField);

const char *const kLostResources =
    "The resources cannot be found as the map stands: save the data fork and what can be read, "
    "or fetch the file again";

std::string number(int64_t value) { return std::to_string(value); }

// One resource of the map, as the checks need it.
struct Reference {
  char type[4];
  int32_t id;          // signed, as users write it
  uint32_t name_offset;
  uint8_t attributes;
  uint32_t data_offset;
  size_t item_pos;     // in the map
};

std::string resource_text(const Reference &ref) {
  return "Resource '" + type_text(ref.type) + "' " + number(ref.id);
}

class MapCheck {
 public:
  MapCheck(const ForkPlace &fork, int32_t flags, FindingList &findings)
      : fork_(fork), flags_(flags), out_(findings) {}

  int32_t run();

 private:
  // Where a byte of the fork lies, as reported.
  int64_t at(int64_t fork_position) const { return fork_.start + fork_position + fork_.report_shift; }
  bool read_fork_header();
  bool read_map();
  bool read_lists();
  void check_repeats();
  void check_names();
  void check_data();
  void check_compressed(const Reference &ref, int64_t data_pos, uint32_t length);

  const ForkPlace &fork_;
  int32_t flags_;
  FindingList &out_;
  int64_t data_offset_ = 0, map_offset_ = 0, data_length_ = 0, map_length_ = 0;
  std::vector<uint8_t> map_;
  size_t type_list_ = 0, name_list_ = 0;
  std::vector<Reference> refs_;
};

bool MapCheck::read_fork_header() {
  if (fork_.declared < kForkHeaderSize) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_FORK_HEADER, at(0),
             "The resource fork is " + number(fork_.declared) +
                 " bytes long, too short for its 16-byte header",
             kLostResources);
    return false;
  }
  format::ResourceForkHeader header;
  if (!fork_.file->read_at(fork_.start, &header, kForkHeaderSize)) return false;
  data_offset_ = header.data_offset.get();
  map_offset_ = header.map_offset.get();
  data_length_ = header.data_length.get();
  map_length_ = header.map_length.get();
  const int64_t data_end = data_offset_ + data_length_;
  const int64_t map_end = map_offset_ + map_length_;

  std::string fault;
  if (data_offset_ < kForkHeaderSize || map_offset_ < kForkHeaderSize) {
    fault = "The resource fork's header puts the resource data at " + number(data_offset_) +
            " and the map at " + number(map_offset_) + ", inside the header itself";
  } else if (data_end > fork_.held) {
    fault = "The resource data (" + number(data_length_) + " bytes at " + number(data_offset_) +
            ") runs past the end of the resource fork (" + number(fork_.declared) + " bytes)";
  } else if (map_end > fork_.held) {
    fault = "The resource map (" + number(map_length_) + " bytes at " + number(map_offset_) +
            ") runs past the end of the resource fork (" + number(fork_.declared) + " bytes)";
  } else if (map_length_ < static_cast<int64_t>(kMapHeaderSize + kTypeCountSize)) {
    fault = "The resource map is " + number(map_length_) +
            " bytes long, too short for its header and type list";
  } else if (data_offset_ < map_end && map_offset_ < data_end && data_length_ > 0) {
    fault = "The resource data (" + number(data_offset_) + " to " + number(data_end) +
            ") and the map (" + number(map_offset_) + " to " + number(map_end) +
            ") lie over each other";
  }
  if (!fault.empty()) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_FORK_HEADER, at(0), fault, kLostResources);
    return false;
  }
  const int64_t parts_end = std::max(data_end, map_end);
  if (parts_end > fork_.declared) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_MAP_PAST_FORK, at(fork_.declared),
             "The resource fork's data and map run to byte " + number(parts_end) +
                 ", past the fork's declared length (" + number(fork_.declared) +
                 "): programs that read the fork as declared lose its map",
             "The file holds the rest, so the resources can be read: convert the file to write "
             "the right length");
  }
  return true;
}

bool MapCheck::read_map() {
  const size_t bytes = std::min(static_cast<size_t>(map_length_), format::kReachableMapBytes);
  map_.resize(bytes);
  if (!fork_.file->read_at(fork_.start + map_offset_, map_.data(), static_cast<int64_t>(bytes))) {
    return false;
  }
  static const format::ResourceForkHeader kZero{};
  format::ResourceForkHeader header;
  if (!fork_.file->read_at(fork_.start, &header, kForkHeaderSize)) return false;
  if (std::memcmp(map_.data(), &header, kForkHeaderSize) != 0 &&
      std::memcmp(map_.data(), &kZero, kForkHeaderSize) != 0) {
    out_.add(MACBIN_WARNING, MACBIN_FINDING_MAP_COPY, at(map_offset_),
             "The resource map's copy of the fork header differs from the header",
             "Harmless for most readers, which go by the header; converting the file writes a "
             "matching copy");
  }
  type_list_ = format::get_be16(map_.data() + offsetof(format::ResourceMapHeader, type_list_offset));
  name_list_ = format::get_be16(map_.data() + offsetof(format::ResourceMapHeader, name_list_offset));
  return true;
}

bool MapCheck::read_lists() {
  const CheckedBytes map(map_);
  if (!map.contains(type_list_, kTypeCountSize)) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_MAP_DAMAGED, at(map_offset_),
             "The type list (at " + number(static_cast<int64_t>(type_list_)) +
                 " in the map) lies outside the resource map (" + number(map_length_) + " bytes)",
             kLostResources);
    return false;
  }
  const uint32_t count_field = map.be16(type_list_);
  const size_t type_count = count_field == format::kNoTypes ? 0 : size_t{count_field} + 1;
  if (!map.contains(type_list_ + kTypeCountSize, type_count * kTypeItemSize)) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_MAP_DAMAGED, at(map_offset_ + static_cast<int64_t>(type_list_)),
             "The type list counts " + number(static_cast<int64_t>(type_count)) +
                 " types, more than the resource map holds",
             kLostResources);
    return false;
  }
  // Reference lists as ranges of the map, to find lists laid over each
  // other: a small hostile map could otherwise describe billions of
  // references.
  struct ListRange {
    size_t start, end, type;
  };
  std::vector<ListRange> lists;
  size_t total = 0;
  for (size_t t = 0; t < type_count; ++t) {
    const size_t item = type_list_ + kTypeCountSize + t * kTypeItemSize;
    const size_t count = map.be16(item + offsetof(format::ResourceTypeItem, count_minus_one)) + size_t{1};
    const size_t refs = type_list_ + map.be16(item + offsetof(format::ResourceTypeItem, ref_list_offset));
    char type[4];
    std::memcpy(type, map.at(item), 4);
    if (!map.contains(refs, count * kReferenceItemSize)) {
      out_.add(MACBIN_ERROR, MACBIN_FINDING_MAP_DAMAGED, at(map_offset_ + static_cast<int64_t>(item)),
               "The reference list of type '" + type_text(type) + "' (" + number(static_cast<int64_t>(count)) +
                   " resources) lies outside the resource map",
               "The resources of that type cannot be found; the other types can still be read");
      continue;
    }
    lists.push_back({refs, refs + count * kReferenceItemSize, item});
    total += count;
  }
  std::sort(lists.begin(), lists.end(), [](const ListRange &a, const ListRange &b) { return a.start < b.start; });
  for (size_t i = 1; i < lists.size(); ++i) {
    if (lists[i].start < lists[i - 1].end) {
      char first[4], second[4];
      std::memcpy(first, map.at(lists[i - 1].type), 4);
      std::memcpy(second, map.at(lists[i].type), 4);
      out_.add(MACBIN_ERROR, MACBIN_FINDING_MAP_DAMAGED, at(map_offset_ + static_cast<int64_t>(lists[i].start)),
               "The reference lists of types '" + type_text(first) + "' and '" + type_text(second) +
                   "' lie over each other in the resource map",
               kLostResources);
      return false;
    }
  }
  refs_.reserve(total);
  for (const ListRange &list : lists) {
    for (size_t pos = list.start; pos < list.end; pos += kReferenceItemSize) {
      format::ResourceReferenceItem item;
      std::memcpy(&item, map.at(pos), kReferenceItemSize);
      Reference ref{};
      std::memcpy(ref.type, map.at(list.type), 4);
      ref.id = static_cast<int16_t>(item.id.get());
      ref.name_offset = item.name_offset.get();
      ref.attributes = item.attributes;
      ref.data_offset = item.data_offset.get();
      ref.item_pos = pos;
      refs_.push_back(ref);
    }
  }
  // Back in map order, type by type, for findings in the order of the file.
  std::sort(refs_.begin(), refs_.end(), [](const Reference &a, const Reference &b) { return a.item_pos < b.item_pos; });
  return true;
}

void MapCheck::check_repeats() {
  const CheckedBytes map(map_);
  const uint32_t count_field = map.be16(type_list_);
  const size_t type_count = count_field == format::kNoTypes ? 0 : size_t{count_field} + 1;
  std::vector<std::pair<uint32_t, size_t>> types;
  for (size_t t = 0; t < type_count; ++t) {
    const size_t item = type_list_ + kTypeCountSize + t * kTypeItemSize;
    types.emplace_back(format::get_be32(map.at(item)), item);
  }
  std::stable_sort(types.begin(), types.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
  for (size_t i = 1; i < types.size(); ++i) {
    if (types[i].first != types[i - 1].first) continue;
    char type[4];
    std::memcpy(type, map.at(types[i].second), 4);
    out_.add(MACBIN_ERROR, MACBIN_FINDING_REPEATED_TYPE, at(map_offset_ + static_cast<int64_t>(types[i].second)),
             "Type '" + type_text(type) + "' is listed twice in the type list: programs see only the "
             "resources of the first entry",
             "Convert the file to merge the two lists");
  }

  std::vector<size_t> order(refs_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
    const int by_type = std::memcmp(refs_[a].type, refs_[b].type, 4);
    return by_type != 0 ? by_type < 0 : refs_[a].id < refs_[b].id;
  });
  for (size_t i = 1; i < order.size(); ++i) {
    const Reference &first = refs_[order[i - 1]];
    const Reference &again = refs_[order[i]];
    if (std::memcmp(first.type, again.type, 4) != 0 || first.id != again.id) continue;
    out_.add(MACBIN_ERROR, MACBIN_FINDING_REPEATED_ID, at(map_offset_ + static_cast<int64_t>(again.item_pos)),
             resource_text(again) + " is listed twice: programs find only one of the two",
             "Give one of them another ID with a resource editor, or remove the one that is wrong");
  }
}

void MapCheck::check_names() {
  const CheckedBytes map(map_);
  for (const Reference &ref : refs_) {
    if (ref.name_offset == format::kNoName) continue;
    const size_t pos = name_list_ + ref.name_offset;
    const bool inside = pos < map.size() && map.u8(pos) < map.size() - pos;
    if (inside) continue;
    out_.add(MACBIN_ERROR, MACBIN_FINDING_NAME_RANGE, at(map_offset_ + static_cast<int64_t>(ref.item_pos)),
             resource_text(ref) + ": its name (at " + number(ref.name_offset) +
                 " in the name list) lies past the end of the name list",
             "The resource reads without its name; the name is lost");
  }
}

void MapCheck::check_data() {
  // In the order of the data, so that the length words are read front to back.
  std::vector<size_t> order(refs_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [this](size_t a, size_t b) { return refs_[a].data_offset < refs_[b].data_offset; });
  int64_t reach = -1;         // the furthest end of data seen so far
  size_t reach_owner = 0;     // the resource whose data reaches there
  struct Told {
    size_t ref;
    std::string what;
    const char *action;
    int32_t code;
  };
  std::vector<Told> told;
  for (const size_t r : order) {
    const Reference &ref = refs_[r];
    const int64_t offset = ref.data_offset;
    if (offset + int64_t{format::kDataLengthWordSize} > data_length_) {
      told.push_back({r, resource_text(ref) + ": its data offset " + number(offset) +
                             " lies past the resource data (" + number(data_length_) + " bytes)",
                      "Its data is lost; the other resources can still be read",
                      MACBIN_FINDING_DATA_RANGE});
      continue;
    }
    const int64_t data_pos = fork_.start + data_offset_ + offset;
    uint8_t word[4];
    if (!fork_.file->read_at(data_pos, word, 4)) continue;
    const uint32_t length = format::get_be32(word);
    const int64_t end = offset + 4 + int64_t{length};
    if (end > data_length_) {
      told.push_back({r, resource_text(ref) + ": its length " + number(length) +
                             " runs past the resource data (" + number(data_length_) + " bytes, from " +
                             number(offset + 4) + ")",
                      "Its data is cut or its length word damaged; the other resources can still be read",
                      MACBIN_FINDING_DATA_RANGE});
      continue;
    }
    if (offset < reach) {
      told.push_back({r, resource_text(ref) + ": its data (" + number(offset) + " to " + number(end) +
                             ") lies over the data of " + resource_text(refs_[reach_owner]),
                      "At least one of the two holds the other's bytes: look at both "
                      "before trusting them",
                      MACBIN_FINDING_DATA_OVERLAP});
    }
    if (end > reach) {
      reach = end;
      reach_owner = r;
    }
    check_compressed(ref, data_pos + 4, length);
  }
  // Told in map order, as the other findings are.
  std::stable_sort(told.begin(), told.end(), [](const Told &a, const Told &b) { return a.ref < b.ref; });
  for (const Told &t : told) {
    out_.add(MACBIN_ERROR, t.code, at(map_offset_ + static_cast<int64_t>(refs_[t.ref].item_pos)), t.what,
             t.action);
  }
}

void MapCheck::check_compressed(const Reference &ref, int64_t data_pos, uint32_t length) {
  if ((ref.attributes & format::kCompressedAttribute) == 0 || length < 4) return;
  uint8_t head[format::kCompressedHeaderSize];
  const size_t head_size = std::min<size_t>(length, sizeof head);
  if (!fork_.file->read_at(data_pos, head, static_cast<int64_t>(head_size))) return;
  const std::span<const uint8_t> stored_head(head, head_size);
  // Without the signature the bytes are stored plain, as the Resource
  // Manager reads them.
  if (!format::has_compressed_signature(stored_head)) return;
  const int64_t where = at(data_pos - fork_.start);
  format::CompressedHeader header;
  if (const char *reason = format::parse_compressed_header(stored_head, header)) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_COMPRESSED, where,
             resource_text(ref) + " is stored compressed, but its header is damaged: " + reason,
             "Its contents cannot be read; its stored bytes can still be copied across unchanged");
    return;
  }
  if (!varnel::reader::is_known_decompressor(header.decompressor)) {
    out_.add(MACBIN_WARNING, MACBIN_FINDING_COMPRESSED, where,
             resource_text(ref) + " is compressed with decompressor " + number(header.decompressor) +
                 ", which this library does not read",
             "Its stored bytes can be copied across unchanged; a classic system with that "
             "decompressor reads it");
    return;
  }
  if ((flags_ & MACBIN_CHECK_CONTENTS) == 0) return;
  std::vector<uint8_t> stored(length);
  if (!fork_.file->read_at(data_pos, stored.data(), length)) return;
  std::vector<uint8_t> contents(header.uncompressed_length);
  if (const char *reason = varnel::reader::decompress_resource(stored, header, contents)) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_COMPRESSED, where,
             resource_text(ref) + ": its compressed data is damaged: " + reason,
             "Its contents cannot be read; its stored bytes can still be copied across unchanged");
  }
}

int32_t MapCheck::run() {
  if (!read_fork_header() || !read_map() || !read_lists()) return 0;
  check_repeats();
  check_names();
  check_data();
  return static_cast<int32_t>(refs_.size());
}

}  // namespace

std::string type_text(const char type[4]) {
  return format::mac_roman_to_utf8(std::string_view(type, 4), true);
}

int32_t check_resource_fork(const ForkPlace &fork, int32_t flags, FindingList &findings) {
  MapCheck check(fork, flags, findings);
  return check.run();
}

bool holds_resource_fork(const ForkPlace &fork) {
  format::ResourceForkHeader header;
  if (fork.declared < kForkHeaderSize || !fork.file->read_at(fork.start, &header, kForkHeaderSize)) {
    return false;
  }
  const int64_t data_offset = header.data_offset.get();
  const int64_t map_offset = header.map_offset.get();
  const int64_t data_end = data_offset + header.data_length.get();
  const int64_t map_length = header.map_length.get();
  const int64_t map_end = map_offset + map_length;
  if (data_offset < kForkHeaderSize || map_offset < kForkHeaderSize) return false;
  if (data_end > fork.declared || map_end > fork.declared) return false;
  if (map_length < static_cast<int64_t>(kMapHeaderSize + kTypeCountSize)) return false;
  if (!(data_end <= map_offset || map_end <= data_offset)) return false;
  format::ResourceMapHeader map;
  if (!fork.file->read_at(fork.start + map_offset, &map, static_cast<int64_t>(kMapHeaderSize))) return false;
  static const format::ResourceForkHeader kZero{};
  const bool copy_agrees = std::memcmp(&map.fork_header_copy, &header, kForkHeaderSize) == 0 ||
                           std::memcmp(&map.fork_header_copy, &kZero, kForkHeaderSize) == 0;
  const int64_t type_list = map.type_list_offset.get();
  return copy_agrees && type_list >= static_cast<int64_t>(kMapHeaderSize) &&
         type_list + static_cast<int64_t>(kTypeCountSize) <= map_length;
}
