// The resource queries of a read channel.  All but the data fetch answer
// from the map in memory; none of them reports anything except a fetch
// whose data lies outside the file.
#include <cerrno>
#include <cstring>

#include "format/macbinary_header.hpp"
#include "format/resource_fork.hpp"
#include "frame/internal.hpp"
#include "reader/checked_cursor.hpp"
#include "reader/lookup_index.hpp"
#include "reader/messages.hpp"
#include "stream/internal.hpp"

namespace {

// IDs are signed 16-bit numbers on the Macintosh, and the map stores their
// bits: -3980 and 61556 name the same resource.  Either form is taken.
bool is_map_id(int32_t id) { return id >= -0x8000 && id <= 0xFFFF; }
uint32_t stored_id(int32_t id) { return static_cast<uint32_t>(id) & 0xFFFFU; }
int32_t signed_id(int32_t stored) { return static_cast<int16_t>(static_cast<uint16_t>(stored)); }


constexpr size_t kMaxStoredNameLength = varnel::format::kMaxStoredNameLength;
constexpr size_t kCurTypeCapacity = sizeof(MacBinChannel::cur_type);

// The index of a channel opened by MacBin_OpenR with at least one type, or
// null.  A writing channel's tables mean something else and are never read
// here.
ReaderIndex *index_of(MacBinChannel *channel) {
  return channel != nullptr && channel->type_count >= 1 ? reader_state(channel) : nullptr;
}

// The reference of type entry `entry` named `name`, a text that is not
// one of the channel's node texts, or -1.  Out of line: hosts nearly always
// ask with node texts, and the text path would crowd the common ones.
[[gnu::noinline]] int32_t find_by_text(ReaderIndex &index, const MacBinTypeEntry &type,
                                       int32_t entry, const char *name) {
  // A text longer than any stored name (127) cannot match one.
  const size_t length = strnlen(name, kMaxStoredNameLength + 1);
  if (length > kMaxStoredNameLength) return -1;
  return find_ref_by_name(index, type, entry, std::string_view(name, length));
}

// The reference of the first type entry matching `type`: by name (the ID
// ignored) when name is not null, else by ID.  Null when there is none.
[[gnu::always_inline]] inline const MacBinRefEntry *find_reference(MacBinChannel *channel,
                                                                  const char *type, int32_t id,
                                                                  const char *name) {
  ReaderIndex *index = index_of(channel);
  if (index == nullptr || type == nullptr) return nullptr;
  const int32_t entry = find_first_type_entry(*index, type);
  if (entry < 0) return nullptr;
  const MacBinTypeEntry &type_entry = channel->types[entry];
  int32_t found;
  if (name == nullptr) {
    if (!is_map_id(id)) return nullptr;
    found = find_ref_by_id(*index, type_entry, entry, stored_id(id));
  } else if (const int32_t node = own_node_number(*index, name); node >= 0) {
    found = find_ref_by_node(*index, type_entry, entry, node);
  } else {
    found = find_by_text(*index, type_entry, entry, name);
  }
  return found < 0 ? nullptr : &type_entry.refs[found];
}

// MacBin_CheckResource2 in full, with every call it may need.
[[gnu::noinline]] int32_t check_in_full(MacBinChannel *channel, const char *type, int32_t id,
                                        const char *name) {
  return find_reference(channel, type, id, name) != nullptr ? 1 : 0;
}

// MacBin_CheckResource2's answer when it needs no call, or kAskInFull: a
// host walking a file asks about one type many times, by ID or by the text
// of a name node, and those answers come from the tables at hand.  Taking
// no call leaves the common queries without the cost of keeping registers
// across calls.
constexpr int32_t kAskInFull = -1;

[[gnu::always_inline]] inline int32_t check_without_calls(MacBinChannel *channel,
                                                          const char *type, int32_t id,
                                                          const char *name) {
  const ReaderIndex *index = index_of(channel);
  if (index == nullptr || type == nullptr) return 0;
  if (index->cached_key != type_code(type)) return kAskInFull;
  const int32_t entry = index->cached_first_entry;
  const MacBinTypeEntry &type_entry = channel->types[entry];
  if (name == nullptr) {
    if (!is_map_id(id)) return 0;
    return find_ref_by_id(*index, type_entry, entry, stored_id(id)) >= 0 ? 1 : 0;
  }
  const int32_t node = own_node_number(*index, name);
  if (node < 0) return kAskInFull;
  const TypeTables &tables = index->tables[static_cast<size_t>(entry)];
  if (first_naming_offset(*index, tables, node) < static_cast<uint32_t>(type_entry.count)) return 1;
  if (!tables.names_indexed) return kAskInFull;
  return probe_names_for_node(*index, type_entry, tables, node) >= 0 ? 1 : 0;
}

// MacBin_CheckResource2 for a name (not null).
[[gnu::noinline]] int32_t check_by_name(MacBinChannel *channel, const char *type,
                                        const char *name) {
  const int32_t quick = check_without_calls(channel, type, 0, name);
  return quick != kAskInFull ? quick : check_in_full(channel, type, 0, name);
}

// cur_type holds seven characters and a NUL; a longer type text is cut.
void set_cur_type(MacBinChannel *channel, const char *type) {
  const size_t length = type == nullptr ? 0 : strnlen(type, kCurTypeCapacity - 1);
  if (length > 0) std::memcpy(channel->cur_type, type, length);
  std::memset(channel->cur_type + length, 0, kCurTypeCapacity - length);
}

}  // namespace

void MacBin_GetDataBlockParams(MacBinChannel *channel, int32_t *offset, int32_t *length) {
  if (channel == nullptr) return;
  const ReaderIndex *state = reader_state(channel);
  // A writing channel's data fork follows the MacBinary header.
  const int64_t start =
      state != nullptr ? state->data_start : varnel::format::macbinary_data_start();
  if (offset != nullptr) *offset = static_cast<int32_t>(start);
  if (length != nullptr) *length = channel->data_length;
}

void MacBin_GetResourceBlockParams(MacBinChannel *channel, int32_t *offset, int32_t *length) {
  if (channel == nullptr) return;
  if (offset != nullptr) *offset = channel->rsrc_start;
  if (length != nullptr) *length = channel->rsrc_length;
}

void MacBin_GetFinderInfo(MacBinChannel *channel, MacBinFinderInfo *info) {
  if (channel == nullptr || info == nullptr) return;
  std::memcpy(info, &channel->finder, sizeof(MacBinFinderInfo));
}

int32_t MacBin_GetNrTypes(MacBinChannel *channel) {
  if (channel == nullptr || channel->mode != kChannelReading) return 0;
  return channel->type_count;
}

// With a type repeated in the map, the last entry's count.
int32_t MacBin_GetNrResources(MacBinChannel *channel, const char *type) {
  const ReaderIndex *index = index_of(channel);
  if (index == nullptr || type == nullptr) return 0;
  const int32_t entry = find_last_type_entry(*index, type);
  return entry < 0 ? 0 : channel->types[entry].count;
}

// Returns index itself, so index 0 gives 0 either way: callers tell the
// cases apart with MacBin_GetNrTypes.
int32_t MacBin_GetIndType(MacBinChannel *channel, char *buffer, int32_t index) {
  if (index_of(channel) == nullptr || buffer == nullptr) return 0;
  if (index < 0 || index >= channel->type_count) return 0;
  std::memcpy(buffer, channel->types[index].type, 4);
  return index;
}

// The first matching entry with more than index references; the fetch then
// looks the resource up again by its ID (so of two references sharing an
// ID, the first is fetched).
int32_t MacBin_GetIndResource(MacBinChannel *channel, const char *type, int32_t index) {
  ReaderIndex *lookup = index_of(channel);
  if (lookup == nullptr || type == nullptr || index < 0) return 0;
  const int32_t first = find_first_type_entry(*lookup, type);
  if (first < 0) return 0;
  const int32_t last = find_last_type_entry(*lookup, type);
  const uint32_t code = lookup->type_codes[static_cast<size_t>(first)];
  for (int32_t e = first; e <= last; ++e) {
    const MacBinTypeEntry &entry = channel->types[e];
    if (lookup->type_codes[static_cast<size_t>(e)] == code && entry.count > index) {
      return MacBin_GetResource2(channel, type, entry.refs[index].id, nullptr);
    }
  }
  return 0;
}

int32_t MacBin_GetResource2(MacBinChannel *channel, const char *type, int32_t id,
                            const char *name) {
  if (channel == nullptr || channel->mode != kChannelReading) return 0;
  // The request is recorded first, so a handler or a caller sees what was
  // asked for even when nothing is fetched.
  set_cur_type(channel, type);
  channel->cur_id = id;
  channel->cur_name = name;
  const ReaderIndex *index = index_of(channel);
  if (index == nullptr || type == nullptr) return 0;

  const MacBinProcessor *processor = MacBin_FindProcessor(type);
  if (processor == nullptr || processor->read_handler == nullptr) return 0;
  const MacBinRefEntry *ref = find_reference(channel, type, id, name);
  if (ref == nullptr) return 0;
  channel->cur_id = ref->id;
  channel->cur_name = ref->name_offset == -1 ? "" : ref->name->text;

  // The length word and the data must lie inside the file: a handler told
  // of data that is not there could read or allocate without limit.
  CheckedFile file(channel->file, index->file_length_bytes);
  const int64_t length_pos = int64_t{channel->rdata_pos} + ref->data_offset;
  uint8_t length_word[4];
  if (!file.read_at(length_pos, length_word, 4)) {
    report(kTextDataOutsideFile, MACBIN_ERROR, MACBIN_ERR_DAMAGED);
    return 0;
  }
  const auto data_length = static_cast<int32_t>(get_be32(length_word));
  const int64_t data_pos = length_pos + 4;
  if (!file.contains(data_pos, data_length) || !file.seek_to(data_pos)) {
    report(kTextDataOutsideFile, MACBIN_ERROR, MACBIN_ERR_DAMAGED);
    return 0;
  }
  processor->read_handler(channel, static_cast<int32_t>(data_pos), data_length);
  return 1;
}

int32_t MacBin_CheckResource2(MacBinChannel *channel, const char *type, int32_t id,
                              const char *name) {
  // The two forms apart, so that the question by ID, the simpler, is
  // answered with the fewest instructions.
  if (name != nullptr) return check_by_name(channel, type, name);
  const int32_t quick = check_without_calls(channel, type, id, nullptr);
  return quick != kAskInFull ? quick : check_in_full(channel, type, id, nullptr);
}

// Of a repeated type, the first entry (MacBin_GetNrResources gives the
// last).  low = high = 0 counts every reference.
int32_t MacBin_GetResourceCount(MacBinChannel *channel, const char *type, int32_t low,
                                int32_t high) {
  ReaderIndex *index = index_of(channel);
  if (index == nullptr || type == nullptr) return 0;
  const int32_t entry_index = find_first_type_entry(*index, type);
  if (entry_index < 0) return 0;
  const MacBinTypeEntry &entry = channel->types[entry_index];
  if (low == 0 && high == 0) return entry.count;
  // A range reaching past 32767 is one of stored IDs (0 to 65535); any
  // other is of the signed IDs users write (-32768 to 32767).
  const bool as_stored = high > 0x7FFF;
  int32_t count = 0;
  for (int32_t r = 0; r < entry.count; ++r) {
    const int32_t id = as_stored ? entry.refs[r].id : signed_id(entry.refs[r].id);
    if (low <= id && id <= high) ++count;
  }
  return count;
}
