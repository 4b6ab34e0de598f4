// MacBin_ListResources: every reference of a reading channel with its
// name, its stored length and (as far as the host gives room) its stored
// bytes, in one call.  A host in another language pays for each call into
// the library; listing a file of thousands of resources one query at a
// time costs it more than the reading itself.
//
// Every position is checked as MacBin_ReadResourceData checks it (the
// length word and the data inside the resource fork, as far as the file
// holds it); the file is put back where it was once, at the end, rather
// than after each resource, so that references in file order read from
// one buffered window.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "format/resource_fork.hpp"
#include "reader/checked_cursor.hpp"
#include "reader/lookup_index.hpp"
#include "stream/internal.hpp"

static_assert(offsetof(MacBinResourceListing, ref) == 0);
static_assert(offsetof(MacBinResourceListing, type) == sizeof(void *));
static_assert(offsetof(MacBinResourceListing, id) == sizeof(void *) + 4);
static_assert(offsetof(MacBinResourceListing, attributes) == sizeof(void *) + 8);
static_assert(offsetof(MacBinResourceListing, length) == sizeof(void *) + 12);
static_assert(offsetof(MacBinResourceListing, name_offset) == sizeof(void *) + 16);
static_assert(offsetof(MacBinResourceListing, name_length) == sizeof(void *) + 20);
static_assert(offsetof(MacBinResourceListing, data_offset) == sizeof(void *) + 24);
static_assert(sizeof(MacBinResourceListing) == sizeof(void *) + 28 ||
              sizeof(MacBinResourceListing) == sizeof(void *) + 32);

namespace {

namespace format = varnel::format;

bool area_is_usable(const void *area, int32_t capacity) {
  return capacity >= 0 && (area != nullptr || capacity == 0);
}

// The map stores IDs as 16 bits; hosts write them signed.
int32_t signed_id(int32_t stored) { return stored > 32767 ? stored - 65536 : stored; }

// The resource fork as far as the file holds it, and reads inside it.
class ForkReader {
 public:
  ForkReader(MacBinChannel *channel, const ReaderIndex &state)
      : channel_(channel),
        fork_start_(channel->rsrc_start),
        fork_end_(std::min<int64_t>(fork_start_ + channel->rsrc_length, state.file_length_bytes)),
        file_(channel->file, fork_end_),
        kept_(fgetp(channel->file)) {}
  ~ForkReader() {
    if (kept_ >= 0) fputp(channel_->file, kept_);
  }
  ForkReader(const ForkReader &) = delete;
  ForkReader &operator=(const ForkReader &) = delete;

  // The stored length of `ref` (-1 when its length word or data lies
  // outside); its bytes into `into` when that is not null (room for the
  // length is the caller's to check), -1 when they cannot be read.
  int32_t read(const MacBinRefEntry *ref, uint8_t *into) {
    const int64_t length_pos = int64_t{channel_->rdata_pos} + ref->data_offset;
    const int64_t data_pos = length_pos + static_cast<int64_t>(format::kDataLengthWordSize);
    if (length_pos < fork_start_ || data_pos > fork_end_) return -1;
    uint8_t word[format::kDataLengthWordSize];
    if (!file_.read_at(length_pos, word, sizeof word)) return -1;
    const int64_t length = get_be32(word);
    if (length > fork_end_ - data_pos) return -1;
    if (into != nullptr && length > 0 && !file_.read_at(data_pos, into, length)) return -1;
    return static_cast<int32_t>(length);
  }

 private:
  MacBinChannel *channel_;
  int64_t fork_start_;
  int64_t fork_end_;
  CheckedFile file_;
  int64_t kept_;
};

}  // namespace

int32_t MacBin_ListResources(MacBinChannel *channel, int32_t first, MacBinResourceListing *entries,
                             int32_t capacity, char *names, int32_t names_capacity, void *data,
                             int32_t data_capacity) {
  const ReaderIndex *state = reader_state(channel);
  if (state == nullptr || first < 0 || !area_is_usable(entries, capacity) ||
      !area_is_usable(names, names_capacity) || !area_is_usable(data, data_capacity)) {
    return -1;
  }
  int64_t total = 0;
  for (int32_t t = 0; t < channel->type_count; ++t) total += channel->types[t].count;
  if (first >= total) return 0;
  const int64_t remaining = total - first;
  if (capacity == 0) return static_cast<int32_t>(std::min<int64_t>(remaining, INT32_MAX));

  // The map's order, from `first`: what the entries get.
  int32_t listed = 0;
  int64_t number = 0;
  for (int32_t t = 0; t < channel->type_count && listed < capacity; ++t) {
    const MacBinTypeEntry &type = channel->types[t];
    if (number + type.count <= first) {
      number += type.count;
      continue;
    }
    for (int32_t r = static_cast<int32_t>(first > number ? first - number : 0);
         r < type.count && listed < capacity; ++r) {
      const MacBinRefEntry *ref = &type.refs[r];
      MacBinResourceListing &entry = entries[listed++];
      entry = MacBinResourceListing{};
      entry.ref = ref;
      std::memcpy(entry.type, type.type, sizeof entry.type);
      entry.id = signed_id(ref->id);
      entry.attributes = ref->attributes;
      entry.name_offset = -1;
      entry.name_length = -1;
      entry.data_offset = -1;
    }
    number += type.count;
  }

  // Names, in map order.
  int32_t names_used = 0;
  for (int32_t i = 0; i < listed; ++i) {
    MacBinResourceListing &entry = entries[i];
    if (entry.ref->name_offset == -1) continue;
    const int32_t room = names_capacity - names_used;
    // The call writes a NUL after the name: it needs one byte more.
    const int32_t length = MacBin_GetResourceName(channel, entry.ref, room > 0 ? names + names_used : nullptr,
                                                  room > 0 ? room : 0);
    entry.name_length = length < 0 ? -1 : length;
    if (length >= 0 && length < room) {
      entry.name_offset = names_used;
      names_used += length;
    }
  }

  // The file is read in the order of the data (the map's order jumps back
  // and forth through it, a read from another place at each resource).
  std::vector<int32_t> in_file_order(static_cast<size_t>(listed));
  for (int32_t i = 0; i < listed; ++i) in_file_order[static_cast<size_t>(i)] = i;
  std::sort(in_file_order.begin(), in_file_order.end(), [&](int32_t a, int32_t b) {
    return entries[a].ref->data_offset < entries[b].ref->data_offset;
  });
  ForkReader fork(channel, *state);
  for (const int32_t i : in_file_order) entries[i].length = fork.read(entries[i].ref, nullptr);

  // Room in `data`, in map order, up to the first that does not fit (an
  // empty resource fits any area given, even one of 0 bytes).
  int32_t data_used = 0;
  for (int32_t i = 0; i < listed && data != nullptr; ++i) {
    MacBinResourceListing &entry = entries[i];
    if (entry.length < 0) continue;
    if (entry.length > data_capacity - data_used) break;
    entry.data_offset = data_used;
    data_used += entry.length;
  }
  for (const int32_t i : in_file_order) {
    MacBinResourceListing &entry = entries[i];
    if (entry.data_offset < 0) continue;
    auto *at = static_cast<uint8_t *>(data) + entry.data_offset;
    if (fork.read(entry.ref, at) != entry.length) entry.data_offset = -1;
  }
  return static_cast<int32_t>(std::min<int64_t>(remaining, INT32_MAX));
}
