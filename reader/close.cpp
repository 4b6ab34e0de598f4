// The read side of MacBin_Close: everything MacBin_OpenR built goes back to
// where it came from.  The file is only closed, never removed: a reader does
// not own the file it reads.
#include <cstddef>

#include "frame/internal.hpp"
#include "reader/internal.hpp"
#include "reader/lookup_index.hpp"
#include "writer/internal.hpp"

namespace {

// The reference arrays and the type table, with the sizes they were
// allocated with (the zone needs them back).
void release_type_table(MacBinChannel *channel) {
  TesselZone *zone = MacIOControl.zone;
  if (channel->types != nullptr) {
    const auto type_count = static_cast<std::size_t>(channel->type_count);
    for (std::size_t t = 0; t < type_count; ++t) {
      MacBinTypeEntry &entry = channel->types[t];
      if (entry.refs != nullptr) {
        zfree(zone, entry.refs, static_cast<std::size_t>(entry.count) * sizeof(MacBinRefEntry));
        entry.refs = nullptr;
      }
    }
    zfree(zone, channel->types, type_count * sizeof(MacBinTypeEntry));
  }
  channel->types = nullptr;
  channel->type_count = 0;
}

}  // namespace

void close_read_channel(MacBinChannel *channel) {
  if (channel == nullptr) return;
  release_type_table(channel);

  ChannelExtension *extension = extension_of(channel);
  if (ReaderIndex *index = extension->reader_index) {
    // The reader made the name nodes in one block (the list links them).
    if (index->name_block != nullptr) {
      zfree(MacIOControl.zone, index->name_block, index->name_capacity * sizeof(MacBinNameNode));
      channel->names = nullptr;
    }
    destroy_reader_index(index);
    extension->reader_index = nullptr;
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
