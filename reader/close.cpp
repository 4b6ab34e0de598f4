// The read side of MacBin_Close: everything MacBin_OpenR built goes back to
// where it came from.  The file is only closed, never removed: a reader does
// not own the file it reads.
#include <cstddef>

#include "frame/internal.hpp"
#include "reader/internal.hpp"
#include "reader/lookup_index.hpp"

namespace {

// The reference arrays (one zone block, see MacBin_OpenR) and the type
// table, with the sizes they were allocated with (the zone needs them back).
void release_type_table(MacBinChannel *channel, ReaderIndex *index) {
  TesselZone *zone = MacIOControl.zone;
  if (index != nullptr && index->ref_block != nullptr) {
    zfree(zone, index->ref_block, index->ref_count * sizeof(MacBinRefEntry));
    index->ref_block = nullptr;
  }
  if (channel->types != nullptr) {
    zfree(zone, channel->types,
          static_cast<std::size_t>(channel->type_count) * sizeof(MacBinTypeEntry));
  }
  channel->types = nullptr;
  channel->type_count = 0;
}

}  // namespace

void close_read_channel(MacBinChannel *channel) {
  if (channel == nullptr) return;
  ChannelExtension *extension = extension_of(channel);
  auto *index = static_cast<ReaderIndex *>(extension->state);
  release_type_table(channel, index);

  if (index != nullptr) {
    // The reader made the name nodes in one block (the list links them).
    if (index->name_block != nullptr) {
      zfree(MacIOControl.zone, index->name_block, index->name_capacity * sizeof(MacBinNameNode));
      channel->names = nullptr;
    }
    destroy_reader_index(index);
    extension->state = nullptr;
  }

  if (channel->file != nullptr) {
    // A failure to close a file opened only for reading loses nothing.
    fclosx(channel->file);
    fdbfree(channel->file);  // fopenr("STREAM", ...) made this record
    channel->file = nullptr;
  }
  release_names(channel);
  release_channel_record(channel);
}
