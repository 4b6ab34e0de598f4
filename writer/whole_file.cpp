// Carrying a file across whole: its own dates and its resource fork as it
// is, instead of the open's time and a fork built from resource lines.
#include <climits>
#include <cstdio>

#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

namespace {

int32_t refuse_fork(const char *reason, int32_t code) {
  char text[160];
  std::snprintf(text, sizeof text, "Resource fork not set: %s", reason);
  report(text, MACBIN_ERROR, code);
  return 1;
}

}  // namespace

extern "C" {

int32_t MacBin_SetDates(MacBinChannel *channel, uint32_t created, uint32_t modified) {
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR, MACBIN_ERR_STATE);
    return 1;
  }
  // Every format writes its dates (again) on close, from here.
  WriterState *state = writer_state(channel);
  state->created = created;
  state->modified = modified;
  return 0;
}

int32_t MacBin_SetResourceFork(MacBinChannel *channel, const void *fork, int32_t length) {
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR, MACBIN_ERR_STATE);
    return 1;
  }
  WriterState *state = writer_state(channel);
  if (state->fork_given != 0) return refuse_fork("it was set before", MACBIN_ERR_STATE);
  if (channel->type_count >= 0) return refuse_fork("resources were added before", MACBIN_ERR_STATE);
  // The data fork's end has written the head of a fork built from resources.
  if (channel->data_length != -1) return refuse_fork("the data fork was completed before", MACBIN_ERR_STATE);
  if (length < 0 || (fork == nullptr && length > 0)) return refuse_fork("no fork bytes given", MACBIN_ERR_ARGUMENT);

  state->fork_given = 1;
  MacBin_CompleteDataFork(channel);  // makes the channel current; no head of its own
  if (int64_t{channel->rsrc_start} + length > INT32_MAX) {
    // The data fork was ended already: the file cannot be kept.
    report("Resource fork too long", MACBIN_SEVERE, MACBIN_ERR_LIMIT);
    record_write_failure(kErrorFollows);
    return 1;
  }
  MacBin_PutBuf(fork, length, length);
  return 0;
}

}  // extern "C"
