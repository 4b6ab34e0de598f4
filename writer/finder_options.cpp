// What a host may say about the file as a whole beyond its name and codes:
// whether the close adds the Finder resources, the resource map's own
// attributes, and the Finder information a file carried across brings
// (the icon's place, its folder, the extended information).
#include <cstdio>
#include <cstring>

#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

namespace {

namespace format = varnel::format;

int32_t refuse(const char *what, const char *reason, int32_t code = MACBIN_ERR_ARGUMENT) {
  char text[160];
  std::snprintf(text, sizeof text, "%s not set: %s", what, reason);
  report(text, MACBIN_ERROR, code);
  return 1;
}

}  // namespace

extern "C" {

int32_t MacBin_SetFinderResources(MacBinChannel *channel, int32_t on) {
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR, MACBIN_ERR_STATE);
    return 1;
  }
  if (on != 0 && on != 1) return refuse("Finder resources", "the value must be 0 or 1");
  // The fork's head goes out with the data fork's end when the close may
  // add resources; after that it is too late to leave the fork out.
  if (channel->data_length != -1) {
    return refuse("Finder resources", "the data fork was completed before", MACBIN_ERR_STATE);
  }
  writer_state(channel)->finder_resources = on == 1;
  return 0;
}

int32_t MacBin_SetMapAttributes(MacBinChannel *channel, int32_t attributes) {
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR, MACBIN_ERR_STATE);
    return 1;
  }
  if (attributes < 0 || attributes > 0xFFFF) {
    return refuse("Resource map attributes", "the value must be 0 to 0xFFFF");
  }
  writer_state(channel)->map_attributes = static_cast<uint16_t>(attributes);
  return 0;
}

int32_t MacBin_SetFinderInfoBytes(MacBinChannel *channel, const uint8_t finder_info[32]) {
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR, MACBIN_ERR_STATE);
    return 1;
  }
  if (finder_info == nullptr) return refuse("Finder information", "none given");
  WriterState &state = *writer_state(channel);
  std::memcpy(state.finder_info.data(), finder_info, format::kFinderInfoBytes);
  // Type, creator and flags are the channel's own fields: every format
  // writes them from there.
  std::memcpy(channel->finder.type, finder_info + format::kFinderTypeAt, 4);
  channel->finder.type[4] = '\0';
  std::memcpy(channel->finder.creator, finder_info + format::kFinderCreatorAt, 4);
  channel->finder.creator[4] = '\0';
  channel->finder.flags = static_cast<int16_t>(get_be16(finder_info + format::kFinderFlagsAt));
  return 0;
}

}  // extern "C"
