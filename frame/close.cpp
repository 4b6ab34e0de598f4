// MacBin_Close: the one entry for both kinds of channel.  Whoever opened the
// channel said how it is to be ended.
#include "frame/internal.hpp"

extern "C" void MacBin_Close(MacBinChannel *channel) {
  if (channel == nullptr) return;
  void (*close)(MacBinChannel *) = extension_of(channel)->close;
  if (close == nullptr) {
    report("No open channel to close", MACBIN_ERROR, MACBIN_ERR_STATE);
    return;
  }
  close(channel);
}
