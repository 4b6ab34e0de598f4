// Inserting one resource into the current channel: a length word, the bytes
// of the type's processor (or a literal Pascal string), the patched length,
// and the entry in the type table and the reference grid that the map is
// written from on close.
//
// Everything that could make the resource unrepresentable in the map (lists
// past the map's 16-bit offsets, a data offset past 24 bits, a name list
// past 16 bits, a name past 255 characters, no memory for the name) is checked before a byte is written, so a
// refused resource leaves the file exactly as valid as it was.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

namespace {

constexpr size_t kMessageBytes = 256;
constexpr uint8_t kLiteralMarker = '~';
constexpr size_t kMaxPascalCharacters = 255;

bool has_name(const char *name) { return name != nullptr && name[0] != '\0'; }

// The resource's name node, found or added (`added` tells which); null with
// `refused` set when the name cannot be recorded.  A name of more than the
// 127 characters a node holds gets a node of its own, with the whole name
// kept beside it for the map.
MacBinNameNode *name_node_for(MacBinChannel *channel, const char *name, const char *type,
                              int32_t id, bool *refused, bool *added) {
  *refused = false;
  *added = false;
  if (!has_name(name)) return nullptr;
  WriterState &state = *writer_state(channel);
  const size_t length = ::strnlen(name, kMaxPascalCharacters + 1);
  if (length > kMaxPascalCharacters) {
    report_not_inserted("Resource name longer than 255 characters: ", type, id, MACBIN_ERR_LIMIT);
    *refused = true;
    return nullptr;
  }
  if (!name_list_has_room(channel, length)) {
    report_not_inserted("Name list full: ", type, id, MACBIN_ERR_LIMIT);
    *refused = true;
    return nullptr;
  }
  const bool long_name = length > static_cast<size_t>(kMaxNameLength);
  MacBinNameNode *node = long_name ? nullptr : find_name_fast(channel, name);
  if (node == nullptr) {
    node = MacBin_InsertName(channel, name);
    *added = node != nullptr;
    if (node != nullptr && long_name) {
      try {
        state.long_names.emplace(node, std::string(name, length));
      } catch (const std::bad_alloc &) {
        drop_newest_name(channel, node);
        node = nullptr;
        *added = false;
      }
    }
  }
  if (node == nullptr) {
    report_not_inserted("Out Of Memory (resource name): ", type, id, MACBIN_ERR_MEMORY);
    *refused = true;
  }
  return node;
}

// A name node's length in the map's name list: the whole name's.
int32_t listed_length(const WriterState &state, const MacBinNameNode *node) {
  const auto whole = state.long_names.find(node);
  return whole != state.long_names.end() ? static_cast<int32_t>(whole->second.size()) : node->length;
}

void forget_name(MacBinChannel *channel, MacBinNameNode *node) {
  writer_state(channel)->long_names.erase(node);
  drop_newest_name(channel, node);
}

// Writes a "~" parameter as the Pascal string of the text after the "~".
void write_literal(const char *param) {
  const char *text = param + 1;
  const size_t length = ::strnlen(text, kMaxPascalCharacters);  // a length byte says no more
  MacBin_PutByte(static_cast<int32_t>(length));
  MacBin_PutBuf(text, static_cast<int32_t>(length), static_cast<int32_t>(length));
}

void run_write_handler(MacBinChannel *channel, const MacBinProcessor *processor, const char *type,
                       int32_t id, const char *name, const char *param) {
  announce_resource(channel, type, id, name);
  processor->write_handler(channel, param);
}

int32_t insert_into(MacBinChannel *channel, const char *given_type, int32_t id, const char *name,
                    const char *param) {
  const bool literal = static_cast<uint8_t>(param[0]) == kLiteralMarker;
  if (trace_enabled(TRACE_INSERT)) {
    if (literal) {
      std::printf("\nINSERT--> inserting copyrightstring\n");
    } else {
      std::printf("\nINSERT--> resource=%s   number=%d   name=%s\n", given_type, id,
                  name != nullptr ? name : "");
    }
  }
  if (::strnlen(given_type, kMaxTypeLength + 1) > kMaxTypeLength) {
    char text[kMessageBytes];
    std::snprintf(text, sizeof text, "Resource type <%s> longer than 7 characters",
                  given_type);
    report(text, MACBIN_ERROR, MACBIN_ERR_ARGUMENT);
    return 1;
  }

  const MacBinProcessor *processor = nullptr;
  if (!literal) {
    processor = MacBin_FindProcessor(given_type);
    if (processor == nullptr) {
      char text[kMessageBytes];
      std::snprintf(text, sizeof text, "Function for resource <%s> unknown)", given_type);
      report(text, MACBIN_ERROR, MACBIN_ERR_ARGUMENT);
      return 1;
    }
  }
  // The bundle's processor stands under "Bndl"; the resource is a BNDL.
  const char *type = std::strcmp(given_type, "Bndl") == 0 ? "BNDL" : given_type;

  PendingResource pending;
  if (!begin_resource(channel, type, id, name, pending)) return 1;
  if (literal) {
    write_literal(param);
  } else if (processor->write_handler != nullptr) {
    run_write_handler(channel, processor, type, id, name, param);
  }
  return end_resource(channel, pending, false, pending_attributes(channel));
}

}  // namespace

bool name_list_has_room(const MacBinChannel *channel, size_t name_length) {
  // Each named reference writes its name again, so the list grows per reference.
  const WriterState &state = *writer_state(const_cast<MacBinChannel *>(channel));
  return state.name_list_length + 1 + static_cast<int64_t>(name_length) <= kMaxNameListBytes;
}

bool begin_resource(MacBinChannel *channel, const char *type, int32_t id, const char *name,
                    PendingResource &pending, int64_t known_length) {
  if (!has_room_for(channel, type, id)) return false;
  const int64_t length_word_position = fgetp(outfile);
  if (length_word_position - channel->rsrc_start - kResourceForkHeadSize > kMaxDataOffset) {
    report_not_inserted("Resource data past 16 MB: ", type, id, MACBIN_ERR_LIMIT);
    return false;
  }
  bool refused = false;
  pending.type = type;
  pending.id = id;
  pending.failures_before = recorded_failures();
  pending.name_node = name_node_for(channel, name, type, id, &refused, &pending.name_added);
  if (refused) return false;
  pending.known_length = known_length;
  MacBin_PutInt(known_length > 0 ? static_cast<int32_t>(known_length) : 0, 4);
  pending.data_start = fgetp(outfile);
  return true;
}

int32_t end_resource(MacBinChannel *channel, PendingResource &pending, bool empty_allowed,
                     uint8_t attributes) {
  const char *type = pending.type;
  const int32_t id = pending.id;
  const int64_t data_end = fgetp(outfile);
  const int64_t data_length = data_end - pending.data_start;
  if (data_end > INT32_MAX) {
    // Past what the 32-bit fork fields can describe: the file cannot be kept.
    record_write_failure();
  }
  if (data_length != pending.known_length) {
    uint8_t length_word[4];
    put_be32(length_word, static_cast<uint32_t>(data_length));
    if (overwrite_output(pending.data_start - 4, length_word)) seek_output(data_end);
  }
  if (trace_enabled(TRACE_INSERT)) {
    std::printf("          length of datablock = %d bytes\n", static_cast<int32_t>(data_length));
  }
  if (data_length < 0 || (data_length == 0 && !empty_allowed)) {
    // A name added for this resource alone goes again: no reference carries it.
    if (pending.name_added) forget_name(channel, pending.name_node);
    // A processor that gave nothing has said why (or output has failed):
    // that reason stays the last error.  One that gave nothing silently
    // could not use its parameter.
    const bool explained = recorded_failures() != pending.failures_before || write_failed != 0;
    report_not_inserted("", type, id, explained ? kErrorFollows : MACBIN_ERR_ARGUMENT);
    return 1;
  }

  if (type[0] == 'B' && std::strcmp(type, "BNDL") == 0) {  // the first letter spares most types the call
    channel->finder.flags = static_cast<int16_t>(channel->finder.flags | kFinderBundleFlag);
    if (trace_enabled(TRACE_CONDITION)) std::printf("CONDITION--> BNDL-bit set\n");
  }

  // Looked up again after a write handler ran (the length was not known
  // before): it may have inserted resources itself.  Should that have used
  // up the room, the entry stays unreferenced, as the entry of a resource
  // that produced nothing does.
  const bool handler_ran = pending.known_length < 0;
  MacBinRefEntry *reference =
      !handler_ran || has_room_for(channel, type, id) ? append_reference(channel, type) : nullptr;
  if (reference == nullptr) {
    if (pending.name_added) forget_name(channel, pending.name_node);
    return 1;
  }
  WriterState &state = *writer_state(channel);
  reference->id = id;
  reference->attributes = attributes;
  reference->data_offset = static_cast<int32_t>(pending.data_start - 4);
  std::memcpy(state.last_type, type, ::strnlen(type, kMaxTypeLength));
  state.last_type[::strnlen(type, kMaxTypeLength)] = '\0';
  state.last_id = id;
  state.last_length = data_length;
  if (pending.name_node != nullptr) {
    reference->name = pending.name_node;
    reference->name_offset = 0;
    state.name_list_length += 1 + listed_length(state, pending.name_node);
    if (pending.name_added && state.long_names.count(pending.name_node) == 0) {
      index_name(channel, pending.name_node);
    }
  } else {
    reference->name = nullptr;
    reference->name_offset = -1;
  }
  return channel->after_insert != nullptr ? channel->after_insert() : 0;
}

void announce_resource(MacBinChannel *channel, const char *type, int32_t id, const char *name) {
  // strnlen and memcpy, inline: this runs for every resource.
  size_t i = 0;
  for (; i < kMaxTypeLength && type[i] != '\0'; ++i) channel->cur_type[i] = type[i];
  for (; i < sizeof channel->cur_type; ++i) channel->cur_type[i] = '\0';
  channel->cur_id = id;
  channel->cur_name = name;
  MacBinProgress progress{};
  progress.percent = -1;
  progress.file = channel->label;
  progress.type = channel->cur_type;
  progress.id = channel->cur_id;
  progress.name = has_name(name) ? name : nullptr;  // an empty name is no name
  call_progress(&progress);
}

uint8_t pending_attributes(MacBinChannel *channel) {
  const WriterState &state = *writer_state(channel);
  return state.next_attributes_set != 0 ? state.next_attributes : kDefaultAttributes;
}

TesselFile *enter_channel(MacBinChannel *channel) {
  TesselFile *host_output = outfile;
  if (channel->data_length == -1) MacBin_CompleteDataFork(channel);
  outfile = channel->file;
  WriterState &state = *writer_state(channel);
  if (state.fork_head_pending) {
    state.fork_head_pending = false;
    MacBin_PutBuf(nullptr, 0, kResourceForkHeadSize);
  }
  return host_output;
}

extern "C" int32_t insert_resource(const char *type, int32_t id, const char *name,
                                   const char *param) {
  MacBinChannel *channel = MacChannel;
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR, MACBIN_ERR_STATE);
    return 1;
  }
  if (writer_state(channel)->fork_given != 0) {
    // The fork was written as given: a resource would land after its map.
    report_not_inserted("Resource fork set whole: ", type != nullptr ? type : "", id, MACBIN_ERR_STATE);
    return 1;
  }
  // The resource goes to the current channel's own file, whatever the host
  // opened since; the host's current output file is given back afterwards.
  TesselFile *host_output = enter_channel(channel);
  int32_t result = 1;
  try {
    result = insert_into(channel, type != nullptr ? type : "", id, name, param != nullptr ? param : "");
  } catch (const std::bad_alloc &) {
    report("Out Of Memory (inserting a resource)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
  }
  // The attributes were for this resource, inserted or not: a later one
  // must not inherit them.
  writer_state(channel)->next_attributes_set = 0;
  outfile = host_output;
  return result;
}
