// MacBin_GetFileInfo: what the header of a file opened for reading said,
// kept from MacBin_OpenR.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "reader/lookup_index.hpp"

static_assert(sizeof(MacBinFileInfo) == 136);
static_assert(offsetof(MacBinFileInfo, crc_state) == 4);
static_assert(offsetof(MacBinFileInfo, data_length) == 8);
static_assert(offsetof(MacBinFileInfo, rsrc_length) == 12);
static_assert(offsetof(MacBinFileInfo, created) == 16);
static_assert(offsetof(MacBinFileInfo, modified) == 20);
static_assert(offsetof(MacBinFileInfo, finder_flags) == 24);
static_assert(offsetof(MacBinFileInfo, name) == 26);
static_assert(offsetof(MacBinFileInfo, type) == 90);
static_assert(offsetof(MacBinFileInfo, creator) == 95);
static_assert(offsetof(MacBinFileInfo, rsrc_state) == 100);
static_assert(offsetof(MacBinFileInfo, map_attributes) == 104);
static_assert(offsetof(MacBinFileInfo, reserved) == 108);

static_assert(static_cast<int32_t>(varnel::format::MacBinaryVariant::kClassic) ==
              MACBIN_FORMAT_CLASSIC);
static_assert(static_cast<int32_t>(varnel::format::MacBinaryVariant::kII) == MACBIN_FORMAT_II);
static_assert(static_cast<int32_t>(varnel::format::MacBinaryVariant::kIII) == MACBIN_FORMAT_III);

int32_t MacBin_GetFileInfo(MacBinChannel *channel, MacBinFileInfo *info) {
  const ReaderIndex *state = reader_state(channel);
  if (state == nullptr || info == nullptr) return 0;
  const varnel::format::MacBinaryFacts &header = state->header;
  MacBinFileInfo facts{};  // reserved fields stay zero
  facts.format = state->format;
  facts.crc_state = header.crc_state;
  facts.data_length = header.data_length;
  facts.rsrc_length = header.rsrc_length;
  facts.created = header.created;
  facts.modified = header.modified;
  facts.finder_flags = header.finder_flags;
  static_assert(sizeof facts.name == sizeof header.name);
  std::memcpy(facts.name, header.name, sizeof facts.name);
  std::memcpy(facts.type, header.type, sizeof facts.type);
  std::memcpy(facts.creator, header.creator, sizeof facts.creator);
  facts.rsrc_state = state->rsrc_state;
  facts.map_attributes = state->map_attributes;
  *info = facts;
  return 1;
}

int32_t MacBin_GetFinderInfoBytes(MacBinChannel *channel, uint8_t finder_info[32]) {
  const ReaderIndex *state = reader_state(channel);
  if (state == nullptr || finder_info == nullptr) return 0;
  static_assert(sizeof state->header.finder_info == 32);
  std::memcpy(finder_info, state->header.finder_info.data(), 32);
  return 1;
}

int32_t MacBin_GetResourceName(MacBinChannel *channel, const MacBinRefEntry *ref, char *buffer,
                               int32_t capacity) {
  const ReaderIndex *state = reader_state(channel);
  if (state == nullptr || capacity < 0 || (buffer == nullptr && capacity != 0)) return -1;
  const int64_t number = reference_number(*state, ref);
  if (number < 0) return -1;
  std::string_view name;
  if (ref->name_offset != -1 && ref->name != nullptr) {
    const auto whole = state->long_names.find(static_cast<size_t>(number));
    name = whole != state->long_names.end() ? std::string_view(whole->second)
                                             : std::string_view(ref->name->text, ref->name->length);
  }
  if (capacity > 0) {
    const size_t copied = std::min(name.size(), static_cast<size_t>(capacity) - 1);
    std::memcpy(buffer, name.data(), copied);
    buffer[copied] = '\0';
  }
  return static_cast<int32_t>(name.size());
}
