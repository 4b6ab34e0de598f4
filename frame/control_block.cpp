// The control block, the private settings record, initialisation, the method
// slots and channel allocation.
#include <cstddef>
#include <cstring>

#include "frame/internal.hpp"
#include "varnel.h"

namespace {

// The silent acquire-progress callbacks stand in for a host's own whenever an
// image carries the default record (tag 100).
int32_t silent_start(void * /*argument*/) { return 1; }
void silent_progress(void * /*argument*/) {}
void silent_end() {}

constexpr int32_t kDefaultProgressTag = 100;
constexpr int32_t kMethodCount = 16;

}  // namespace

// The control block: all zero at load, set up by MacBin_Init; the writer
// counts open channels in it, every folder reads its zone and method slots.
MacBinControl MacIOControl{};

// Private settings: trace_flags is fixed at build time and only tests write
// it; `initialised` is set by the first successful MacBin_Init.
MacBinDebugValues debug_values{
    VARNEL_TRACE_FLAGS,
    0,
    {kDefaultProgressTag, silent_start, silent_progress, silent_end},
    {"INFO", "WARNING", "ERROR", "SEVERE"},
};

// The public record must sit at the start of the block, so that a channel
// pointer and its extension are the same address.
static_assert(offsetof(ChannelExtension, channel) == 0);

extern "C" {

int32_t MacBin_Setmethod(MacBinMethod method, int32_t id) {
  if (id < 1 || id > kMethodCount) return 0;
  MacIOControl.methods[id - 1] = method;
  return 1;
}

int32_t MacBin_Init(void) {
  if (debug_values.initialised == 1) return 2;

  // The message method goes in first, so that a failing zone can be reported.
  MacIOControl.processors = nullptr;
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(default_message), MACBIN_METHOD_MESSAGE);

  MacIOControl.zone = zcreate(0, 0);
  if (MacIOControl.zone == nullptr) {
    report("Out Of Memory (in function table)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
    return 0;  // not initialised: a later call tries again
  }

  for (int32_t id = 1; id <= kMethodCount; ++id) MacBin_Setmethod(nullptr, id);
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(default_message), MACBIN_METHOD_MESSAGE);
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(default_start), MACBIN_METHOD_START);
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(default_progress), MACBIN_METHOD_PROGRESS);
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(default_end), MACBIN_METHOD_END_NOTICE);

  debug_values.initialised = 1;
  return 1;
}

MacBinChannel *MacBin_NewChannel(void) {
  // Without a zone (MacBin_Init not called or failed) there is nothing to
  // allocate from: the same answer as an exhausted zone.
  void *block = MacIOControl.zone != nullptr
                    ? zalloc(MacIOControl.zone, sizeof(ChannelExtension))
                    : nullptr;
  if (block == nullptr) {
    report("Out Of Memory (in initialisation)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
    return nullptr;
  }
  // Every field starts at zero: the name list is empty, nobody's state, nothing
  // to close.  The opening operation fills in the rest.
  std::memset(block, 0, sizeof(ChannelExtension));
  auto *extension = static_cast<ChannelExtension *>(block);
  extension->channel.mode = kChannelUnopened;
  extension->channel.names = nullptr;
  extension->state = nullptr;
  extension->close = nullptr;
  return &extension->channel;
}

}  // extern "C"

void release_channel_record(MacBinChannel *channel) {
  if (channel == nullptr) return;
  zfree(MacIOControl.zone, extension_of(channel), sizeof(ChannelExtension));
}

MacBinAcquireProgress *MacBin_ReplaceAcquireProgress(MacBinAcquireProgress *record) {
  // An image without a record gets the silent one too: the picture builder
  // then never calls through a null pointer.
  if (record == nullptr || record->tag == debug_values.default_progress.tag) {
    return &debug_values.default_progress;
  }
  return record;
}
