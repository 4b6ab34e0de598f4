// The read side of MacBin_Close: everything MacBin_OpenR built goes back to
// where it came from.  The file is only closed, never removed: a reader does
// not own the file it reads.
#include <cstddef>
#include <utility>

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
    index->ref_count = 0;
  }
  if (channel->types != nullptr) {
    zfree(zone, channel->types,
          static_cast<std::size_t>(channel->type_count) * sizeof(MacBinTypeEntry));
  }
  channel->types = nullptr;
  channel->type_count = 0;
}

// The name nodes: the reader made them in one block (the list links them).
void release_name_block(MacBinChannel *channel, ReaderIndex *index) {
  if (index == nullptr || index->name_block == nullptr) return;
  zfree(MacIOControl.zone, index->name_block, index->name_capacity * sizeof(MacBinNameNode));
  index->name_block = nullptr;
  index->name_capacity = 0;
  index->node_count = 0;
  channel->names = nullptr;
}

}  // namespace

void close_read_channel(MacBinChannel *channel) {
  if (channel == nullptr) return;
  ChannelExtension *extension = extension_of(channel);
  auto *index = static_cast<ReaderIndex *>(extension->state);
  release_type_table(channel, index);
  release_name_block(channel, index);

  if (index != nullptr) {
    if (index->own_data_file && index->data_file != nullptr) {
      fclosx(index->data_file);
      fdbfree(index->data_file);
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

void discard_resource_map(MacBinChannel *channel) {
  if (channel == nullptr) return;
  auto *index = static_cast<ReaderIndex *>(extension_of(channel)->state);
  release_type_table(channel, index);
  release_name_block(channel, index);
  channel->rdata_pos = 0;
  channel->map_pos = 0;
  channel->rdata_length = 0;
  channel->map_length = 0;
  if (index != nullptr) {
    // The lookup tables describe the map just given back: start them afresh,
    // keeping what the header said.
    ReaderIndex fresh;
    fresh.file_length_bytes = index->file_length_bytes;
    fresh.header = index->header;
    fresh.rsrc_state = index->rsrc_state;
    fresh.format = index->format;
    fresh.data_file = index->data_file;
    fresh.own_data_file = index->own_data_file;
    fresh.data_start = index->data_start;
    fresh.data_file_length = index->data_file_length;
    *index = std::move(fresh);
  }
}
