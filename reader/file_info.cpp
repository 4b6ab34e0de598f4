// MacBin_GetFileInfo: what the header of a file opened for reading said,
// kept from MacBin_OpenR.
#include <cstring>

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
static_assert(offsetof(MacBinFileInfo, reserved) == 104);

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
  *info = facts;
  return 1;
}
