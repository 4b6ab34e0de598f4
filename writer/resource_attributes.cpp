// The attribute byte of the next resource: a file carried across keeps the
// attributes its resources had (protected, preload, ...) instead of the
// writer's purgeable default.
#include <cstdio>

#include "frame/internal.hpp"
#include "writer/internal.hpp"

extern "C" int32_t MacBin_SetNextAttributes(MacBinChannel *channel, int32_t attributes) {
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR, MACBIN_ERR_STATE);
    return 1;
  }
  WriterState *state = writer_state(channel);
  if (attributes < 0 || attributes > 0xFF) {
    // A value that fits no byte must not reach the next resource cut.
    state->next_attributes_set = 0;
    char text[96];
    std::snprintf(text, sizeof text, "Resource attributes %d outside 0 to 255", attributes);
    report(text, MACBIN_ERROR, MACBIN_ERR_ARGUMENT);
    return 1;
  }
  state->next_attributes = static_cast<uint8_t>(attributes);
  state->next_attributes_set = 1;
  return 0;
}
