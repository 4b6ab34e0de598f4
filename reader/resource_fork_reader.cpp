// The resource fork of any container, read into a read channel: the fork
// header, and the whole map into memory, parsed from there.
//
// The file is untrusted.  Everything is read through CheckedFile, the map is
// read once into memory (never more bytes than the map declares and the file
// holds) and parsed from there through CheckedBytes.  Counts are checked
// against the bytes that must hold their items before anything is
// allocated.  A map with any part outside itself is not used at all, with
// one warning: guessing which parts of a damaged map are still right would
// hand the host resources that may not be what the file held.  Such a file,
// and one whose resource fork the file does not wholly hold, still opens,
// without resources, so that its other facts and its data fork can be read.
#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/resource_fork.hpp"
#include "frame/internal.hpp"
#include "reader/checked_cursor.hpp"
#include "reader/lookup_index.hpp"
#include "reader/messages.hpp"
#include "reader/name_nodes.hpp"
#include "reader/open_steps.hpp"
#include "stream/internal.hpp"

namespace {

namespace format = varnel::format;

// Map layout, as offsets into the map bytes read into memory.
constexpr size_t kMapTypeListOffsetPos = offsetof(format::ResourceMapHeader, type_list_offset);
constexpr size_t kMapNameListOffsetPos = offsetof(format::ResourceMapHeader, name_list_offset);
constexpr size_t kMapHeaderSize = sizeof(format::ResourceMapHeader);
constexpr size_t kTypeCountSize = sizeof(format::TypeCountField);
constexpr size_t kTypeItemSize = sizeof(format::ResourceTypeItem);
constexpr size_t kReferenceItemSize = sizeof(format::ResourceReferenceItem);
constexpr int64_t kForkHeaderSize = sizeof(format::ResourceForkHeader);

// The resource fork header: where the resource data and the map lie.
const char *read_fork_header(CheckedFile &file, MacBinChannel &channel) {
  format::ResourceForkHeader fork_header;
  if (!file.contains(channel.rsrc_start, kForkHeaderSize)) return kTextForkOutsideFile;
  if (!file.read_at(channel.rsrc_start, &fork_header, kForkHeaderSize)) return kTextCannotRead;
  const int64_t rdata_pos = channel.rsrc_start + int64_t{fork_header.data_offset.get()};
  const int64_t map_pos = channel.rsrc_start + int64_t{fork_header.map_offset.get()};
  const int64_t rdata_length = fork_header.data_length.get();
  const int64_t map_length = fork_header.map_length.get();
  if (!file.contains(rdata_pos, rdata_length)) return kTextDataOutsideFile;
  if (!file.contains(map_pos, map_length)) return kTextMapOutsideFile;
  if (map_length < static_cast<int64_t>(kMapHeaderSize)) return kTextMapTooShort;
  // CheckedFile never reaches past kMaxPosition, so all four fit.
  channel.rdata_pos = static_cast<int32_t>(rdata_pos);
  channel.map_pos = static_cast<int32_t>(map_pos);
  channel.rdata_length = static_cast<int32_t>(rdata_length);
  channel.map_length = static_cast<int32_t>(map_length);
  return nullptr;
}

// One type list item, as the map holds it.
struct TypeItem {
  size_t pos;       // in the map
  uint32_t count;   // resources (1 to 65536)
  size_t refs_pos;  // first reference item, in the map
};

struct TypeList {
  size_t pos;            // in the map
  size_t name_list_pos;  // in the map; checked per name
  std::vector<TypeItem> items;
  size_t total_refs;
};

// Checks the type list and every reference list against the map before
// anything is allocated for them.
const char *read_type_list(const CheckedBytes &map, TypeList &list) {
  list.pos = map.be16(kMapTypeListOffsetPos);
  list.name_list_pos = map.be16(kMapNameListOffsetPos);
  if (!map.contains(list.pos, 2)) return kTextTypeListOutsideMap;
  const uint32_t count_field = map.be16(list.pos);
  // 0xFFFF is "count - 1" of an empty list.
  const size_t type_count = count_field == format::kNoTypes ? 0 : size_t{count_field} + 1;
  if (!map.contains(list.pos + kTypeCountSize, type_count * kTypeItemSize)) {
    return kTextTypeCountTooLarge;
  }

  list.items.reserve(type_count);
  list.total_refs = 0;
  for (size_t t = 0; t < type_count; ++t) {
    TypeItem item{};
    item.pos = list.pos + kTypeCountSize + t * kTypeItemSize;
    item.count = map.be16(item.pos + offsetof(format::ResourceTypeItem, count_minus_one)) + 1;
    item.refs_pos =
        list.pos + map.be16(item.pos + offsetof(format::ResourceTypeItem, ref_list_offset));
    if (!map.contains(item.refs_pos, size_t{item.count} * kReferenceItemSize)) {
      return kTextRefListOutsideMap;
    }
    list.total_refs += item.count;
    list.items.push_back(item);
  }
  // The reference lists of a sound map are disjoint parts of it.  Lists laid
  // over each other could make a small map describe billions of references.
  if (list.total_refs > map.size() / kReferenceItemSize) return kTextRefCountsTooLarge;
  return nullptr;
}

// The text of the name at name_offset in the name list, as the name list
// keeps it: at most 127 characters, and a C text (up to a NUL).  Returns the
// text to report when the name does not lie inside the map; an empty length
// byte leaves `has_name` false.
const char *read_name_text(const CheckedBytes &map, const TypeList &list, uint32_t name_offset,
                           std::string_view &text, std::string_view &whole, bool &has_name) {
  has_name = false;
  const size_t pos = list.name_list_pos + name_offset;
  if (pos >= map.size()) return kTextNameOutsideMap;
  const size_t length = map.u8(pos);
  if (length >= map.size() - pos) return kTextNameOutsideMap;  // the length byte and the text
  if (length == 0) return nullptr;  // an empty name is no name
  const char *characters = reinterpret_cast<const char *>(map.at(pos + 1));
  const size_t kept = std::min(length, static_cast<size_t>(format::kMaxStoredNameLength));
  text = std::string_view(characters, text_length(characters, kept));
  whole = std::string_view(characters, length);
  has_name = true;
  return nullptr;
}

// The type table and one reference array per type, from the checked type
// list, in one pass over the reference lists: each reference is indexed
// by ID, and its name found or made, as it is read (the name tables wait
// for a lookup that needs them, see name_table).
const char *build_type_table(const CheckedBytes &map, const TypeList &list, MacBinChannel &channel,
                             ReaderIndex &index) {
  const size_t type_count = list.items.size();
  if (type_count == 0) return nullptr;
  TesselZone *zone = MacIOControl.zone;
  channel.types =
      static_cast<MacBinTypeEntry *>(zalloc(zone, type_count * sizeof(MacBinTypeEntry)));
  if (channel.types == nullptr) return kTextOutOfMemory;
  channel.type_count =
      static_cast<int32_t>(type_count);  // close gives the table back with this size

  // All reference arrays in one block: the type entries point into it.
  auto *ref_block =
      static_cast<MacBinRefEntry *>(zalloc(zone, list.total_refs * sizeof(MacBinRefEntry)));
  if (ref_block == nullptr) return kTextOutOfMemory;
  index.ref_block = ref_block;
  index.ref_count = list.total_refs;

  std::vector<uint32_t> counts(type_count);
  for (size_t t = 0; t < type_count; ++t) counts[t] = list.items[t].count;
  prepare_type_tables(index, type_count, counts.data());
  // One zone block is taken for the name nodes before any is made.  Each
  // distinct name has an offset of its own in the name list, and there are
  // no more of those than bytes in the list (nor than 0xFFFF, which means
  // no name) or named references.
  const size_t name_list_bytes =
      list.name_list_pos < map.size() ? map.size() - list.name_list_pos : 0;
  NameNodeMaker names(channel, index);
  if (!names.reserve(std::min({list.total_refs, name_list_bytes, size_t{format::kNoName}}))) {
    return kTextOutOfMemory;
  }

  for (size_t t = 0; t < type_count; ++t) {
    const TypeItem &item = list.items[t];
    MacBinTypeEntry &entry = channel.types[t];
    std::memset(entry.type, 0, sizeof entry.type);
    std::memcpy(entry.type, map.at(item.pos), 4);
    entry.ref_offset = static_cast<int32_t>(item.refs_pos - list.pos);
    MacBinRefEntry *refs = ref_block;
    ref_block += item.count;
    entry.refs = refs;
    entry.count = static_cast<int32_t>(item.count);

    // The references as the map holds them; name_offset keeps the stored
    // offset (0xFFFF: none) until the name has been read.
    uint32_t id_low = 0xFFFF;
    uint32_t id_high = 0;
    for (uint32_t r = 0; r < item.count; ++r) {
      format::ResourceReferenceItem item_bytes;
      std::memcpy(&item_bytes, map.at(item.refs_pos + r * kReferenceItemSize), kReferenceItemSize);
      MacBinRefEntry &ref = refs[r];
      const uint32_t id = item_bytes.id.get();
      ref.id = static_cast<int32_t>(id);
      ref.name_offset = static_cast<int32_t>(item_bytes.name_offset.get());
      ref.name = nullptr;
      ref.attributes = item_bytes.attributes;
      ref.data_offset = static_cast<int32_t>(item_bytes.data_offset.get());
      id_low = std::min(id_low, id);
      id_high = std::max(id_high, id);
    }
    const auto ref_first = static_cast<uint32_t>(refs - index.ref_block);
    const TypeTables tables = begin_type_entry(index, static_cast<int32_t>(t), entry.type,
                                               item.count, id_low, id_high, ref_first);
    for (uint32_t r = 0; r < item.count; ++r) index_reference_id(index, tables, refs, r);

    for (uint32_t r = 0; r < item.count; ++r) {
      MacBinRefEntry &ref = refs[r];
      const auto name_offset = static_cast<uint32_t>(ref.name_offset);
      ref.name_offset = -1;
      if (name_offset == format::kNoName) continue;
      std::string_view text;
      std::string_view whole;
      bool has_name = false;
      if (const char *failure = read_name_text(map, list, name_offset, text, whole, has_name)) {
        return failure;
      }
      if (!has_name) continue;
      // The node keeps 127 characters; MacBin_GetResourceName gives the rest.
      if (whole.size() > text.size()) index.long_names.emplace(ref_first + r, std::string(whole));
      const uint32_t hash = name_hash(text);
      ref.name = names.node_for(text, hash, ref_first + r);
      if (ref.name == nullptr) return kTextOutOfMemory;
      ref.name_offset = static_cast<int32_t>(name_offset);
    }
  }
  return nullptr;
}

}  // namespace

const char *read_resource_map(CheckedFile &file, MacBinChannel &channel, ReaderIndex &index) {
  if (const char *failure = read_fork_header(file, channel)) return failure;

  // Not zero-filled first: every byte is read from the file or the read
  // fails.
  const size_t map_bytes = std::min(static_cast<size_t>(channel.map_length), format::kReachableMapBytes);
  const auto bytes = std::make_unique_for_overwrite<uint8_t[]>(map_bytes);
  if (!file.read_at(channel.map_pos, bytes.get(), static_cast<int64_t>(map_bytes))) {
    return kTextCannotRead;
  }
  const CheckedBytes map(std::span<const uint8_t>(bytes.get(), map_bytes));
  TypeList list{};
  if (const char *failure = read_type_list(map, list)) return failure;
  index.map_attributes = static_cast<uint16_t>(map.be16(offsetof(format::ResourceMapHeader, attributes)));
  return build_type_table(map, list, channel, index);
}


std::string cut_fork_text(const char *what, int64_t file_end, const char *fork, int64_t fork_end) {
  return std::string(what) + ": the file ends at " + std::to_string(file_end) + ", the " + fork +
         " at " + std::to_string(fork_end);
}

// A map (or data) that runs past the fork's declared length into the bytes
// after it (a MacBinary file's padding) is still read: the resources that
// lie inside the fork stay readable, as they always were.  The fork stays
// as long as the header says, so that nothing outside it is taken for it;
// a copy of those bytes alone would not hold its own map, which the host
// is told here.
void warn_of_parts_past_the_fork(const MacBinChannel &channel) {
  const int64_t data_end = int64_t{channel.rdata_pos} + channel.rdata_length;
  const int64_t map_end = int64_t{channel.map_pos} + channel.map_length;
  const int64_t parts_end = std::max(data_end, map_end) - channel.rsrc_start;
  if (parts_end <= int64_t{channel.rsrc_length}) return;
  const std::string text = std::string(kTextForkPastItsLength) + ": its " +
                           (map_end >= data_end ? "map" : "data") + " ends " + std::to_string(parts_end) +
                           " bytes after its start, its length is " + std::to_string(channel.rsrc_length) +
                           " bytes";
  report(text.c_str(), MACBIN_WARNING, MACBIN_ERR_DAMAGED);
}

bool is_read_or_memory_failure(const char *text) {
  return text == kTextCannotRead || text == kTextOutOfMemory;
}

bool read_resource_fork(CheckedFile &file, MacBinChannel &channel, ReaderIndex &index) {
  if (index.header.rsrc_length == 0) {
    // A notice like any other: a library never writes to its host's output.
    report(kTextNoResources, MACBIN_INFO);
    channel.type_count = 0;
    channel.types = nullptr;
    index.rsrc_state = 0;
    return true;
  }
  // A damaged resource fork leaves the file open without resources, so
  // that its other facts and the data fork can still be read; rsrc_state
  // tells the host.
  index.rsrc_state = -1;
  const int64_t fork_end = channel.rsrc_start + int64_t{index.header.rsrc_length};
  if (fork_end > file.length()) {
    const std::string text = cut_fork_text(kTextRsrcForkCut, file.length(), "resource fork",
                                           fork_end) +
                             kTextNoResourcesRead;
    report(text.c_str(), MACBIN_WARNING, MACBIN_ERR_DAMAGED);
    return true;
  }
  const char *failure = read_resource_map(file, channel, index);
  if (failure == nullptr) {
    index.rsrc_state = 1;
    warn_of_parts_past_the_fork(channel);
    return true;
  }
  if (is_read_or_memory_failure(failure)) {
    report(failure, MACBIN_ERROR, failure == kTextOutOfMemory ? MACBIN_ERR_MEMORY : MACBIN_ERR_IO);
    return false;
  }
  discard_resource_map(&channel);
  report((std::string(failure) + kTextNoResourcesRead).c_str(), MACBIN_WARNING, MACBIN_ERR_DAMAGED);
  return true;
}
