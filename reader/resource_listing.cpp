// MacBin_ListResources: every reference of a reading channel with its
// name, its stored length and (as far as the host gives room) its stored
// bytes, in one call.  A host in another language pays for each call into
// the library; listing a file of thousands of resources one query at a
// time costs it more than the reading itself.
//
// Built on the per-reference calls (MacBin_GetResourceName,
// MacBin_ReadResourceData), so that every offset is checked exactly as
// they check it and the channel's file is left where it was.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "reader/lookup_index.hpp"

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

bool area_is_usable(const void *area, int32_t capacity) {
  return capacity >= 0 && (area != nullptr || capacity == 0);
}

// The map stores IDs as 16 bits; hosts write them signed.
int32_t signed_id(int32_t stored) { return stored > 32767 ? stored - 65536 : stored; }

}  // namespace

int32_t MacBin_ListResources(MacBinChannel *channel, int32_t first, MacBinResourceListing *entries,
                             int32_t capacity, char *names, int32_t names_capacity, void *data,
                             int32_t data_capacity) {
  if (reader_state(channel) == nullptr || first < 0 || !area_is_usable(entries, capacity) ||
      !area_is_usable(names, names_capacity) || !area_is_usable(data, data_capacity)) {
    return -1;
  }
  int64_t total = 0;
  for (int32_t t = 0; t < channel->type_count; ++t) total += channel->types[t].count;
  if (first >= total) return 0;
  const int64_t remaining = total - first;

  int32_t names_used = 0;
  int32_t data_used = 0;
  bool data_full = data_capacity == 0;  // once one does not fit, none after it is copied
  int64_t number = 0;
  int32_t listed = 0;
  for (int32_t t = 0; t < channel->type_count && listed < capacity; ++t) {
    const MacBinTypeEntry &type = channel->types[t];
    if (number + type.count <= first) {
      number += type.count;
      continue;
    }
    for (int32_t r = static_cast<int32_t>(first > number ? first - number : 0);
         r < type.count && listed < capacity; ++r) {
      const MacBinRefEntry *ref = &type.refs[r];
      MacBinResourceListing entry{};
      entry.ref = ref;
      std::memcpy(entry.type, type.type, sizeof entry.type);
      entry.id = signed_id(ref->id);
      entry.attributes = ref->attributes;
      entry.name_offset = -1;
      entry.name_length = -1;
      entry.data_offset = -1;
      if (ref->name_offset != -1) {
        const int32_t room = names_capacity - names_used;
        // One byte more than the name, for the terminating NUL the call writes.
        const int32_t length =
            MacBin_GetResourceName(channel, ref, room > 0 ? names + names_used : nullptr, room > 0 ? room : 0);
        entry.name_length = length < 0 ? -1 : length;
        if (length >= 0 && length < room) {
          entry.name_offset = names_used;
          names_used += length;
        }
      }
      entry.length = MacBin_ReadResourceData(channel, ref, nullptr, 0);
      if (!data_full && entry.length >= 0) {
        if (entry.length <= data_capacity - data_used) {
          auto *at = static_cast<uint8_t *>(data) + data_used;
          if (MacBin_ReadResourceData(channel, ref, at, entry.length) == entry.length) {
            entry.data_offset = data_used;
            data_used += entry.length;
          }
        } else {
          data_full = true;
        }
      }
      entries[listed++] = entry;
    }
    number += type.count;
  }
  return static_cast<int32_t>(remaining > INT32_MAX ? INT32_MAX : remaining);
}
