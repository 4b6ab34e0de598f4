// Inserting one resource into the current channel: a length word, the bytes
// of the type's processor (or a literal Pascal string), the patched length,
// and the entry in the type table and the reference grid that the map is
// written from on close.
//
// Everything that could make the resource unrepresentable in the map (a full
// type table or grid row, a data offset past 24 bits, a name list past 16
// bits, no memory for the name) is checked before a byte is written, so a
// refused resource leaves the file exactly as valid as it was.
#include <cstdio>
#include <cstring>

#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

namespace {

constexpr size_t kMessageBytes = 256;
constexpr uint8_t kLiteralMarker = '~';
constexpr size_t kMaxPascalCharacters = 255;

bool has_name(const char *name) { return name != nullptr && name[0] != '\0'; }

int32_t find_type(const MacBinChannel *channel, const char *type) {
  for (int32_t t = 0; t <= channel->type_count; ++t) {
    if (std::strcmp(channel->types[t].type, type) == 0) return t;
  }
  return -1;
}

// Reports a resource that was not inserted, with the reason in front.
void report_not_inserted(const char *reason, const char *type, int32_t id) {
  char text[kMessageBytes];
  std::snprintf(text, sizeof text, "%sresource <%s>, ID %d not inserted", reason, type, id);
  report(text, MACBIN_WARNING);
}

// Whether the type table and the type's grid row can take one more
// reference; reports the resource as not inserted when not.
bool has_room_for(const MacBinChannel *channel, const char *type, int32_t id) {
  const int32_t t = find_type(channel, type);
  if (t < 0 && channel->type_count + 1 >= kMaxResourceTypes) {
    report_not_inserted("Too many resource types: ", type, id);
    return false;
  }
  if (t >= 0 && channel->types[t].count + 1 >= kMaxResourcesPerType) {
    report_not_inserted("Too many resources of one type: ", type, id);
    return false;
  }
  return true;
}

// The resource's name node, found or added (`added` tells which); null with
// `refused` set when the name cannot be recorded.
MacBinNameNode *name_node_for(MacBinChannel *channel, const char *name, const char *type,
                              int32_t id, bool *refused, bool *added) {
  *refused = false;
  *added = false;
  if (!has_name(name)) return nullptr;
  const auto stored_length = static_cast<int32_t>(::strnlen(name, kMaxNameLength));
  // Each named reference writes its name again, so the list grows per reference.
  if (writer_state(channel)->name_list_length + 1 + stored_length > kMaxNameListBytes) {
    report_not_inserted("Name list full: ", type, id);
    *refused = true;
    return nullptr;
  }
  MacBinNameNode *node = find_name_fast(channel, name);
  if (node == nullptr) {
    node = MacBin_InsertName(channel, name);
    *added = node != nullptr;
  }
  if (node == nullptr) {
    report_not_inserted("Out Of Memory (resource name): ", type, id);
    *refused = true;
  }
  return node;
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
  std::memset(channel->cur_type, 0, sizeof channel->cur_type);
  std::memcpy(channel->cur_type, type, ::strnlen(type, kMaxTypeLength));
  channel->cur_id = id;
  channel->cur_name = name;
  MacBinProgress progress{};
  progress.percent = -1;
  progress.file = channel->label;
  progress.type = channel->cur_type;
  progress.id = channel->cur_id;
  progress.name = has_name(name) ? name : nullptr;  // an empty name is no name
  call_progress(&progress);
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
    report(text, MACBIN_ERROR);
    return 1;
  }

  const MacBinProcessor *processor = nullptr;
  if (!literal) {
    processor = MacBin_FindProcessor(given_type);
    if (processor == nullptr) {
      char text[kMessageBytes];
      std::snprintf(text, sizeof text, "Function for resource <%s> unknown)", given_type);
      report(text, MACBIN_ERROR);
      return 1;
    }
  }
  // The bundle's processor stands under "Bndl"; the resource is a BNDL.
  const char *type = std::strcmp(given_type, "Bndl") == 0 ? "BNDL" : given_type;

  if (!has_room_for(channel, type, id)) return 1;
  const int64_t length_word_position = fgetp(outfile);
  if (length_word_position - channel->rsrc_start - kResourceForkHeadSize > kMaxDataOffset) {
    report_not_inserted("Resource data past 16 MB: ", type, id);
    return 1;
  }
  bool refused = false;
  bool name_added = false;
  MacBinNameNode *name_node = name_node_for(channel, name, type, id, &refused, &name_added);
  if (refused) return 1;

  MacBin_PutInt(0, 4);
  const int64_t data_start = fgetp(outfile);
  if (literal) {
    write_literal(param);
  } else if (processor->write_handler != nullptr) {
    run_write_handler(channel, processor, type, id, name, param);
  }
  const int64_t data_end = fgetp(outfile);
  const int64_t data_length = data_end - data_start;
  if (data_end > INT32_MAX) {
    // Past what the 32-bit fork fields can describe: the file cannot be kept.
    record_write_failure();
  }
  uint8_t length_word[4];
  put_be32(length_word, static_cast<uint32_t>(data_length));
  if (overwrite_output(data_start - 4, length_word)) seek_output(data_end);
  if (trace_enabled(TRACE_INSERT)) {
    std::printf("          length of datablock = %d bytes\n", static_cast<int32_t>(data_length));
  }
  if (data_length <= 0) {
    // A name added for this resource alone goes again: no reference carries it.
    if (name_added) drop_newest_name(channel, name_node);
    report_not_inserted("", type, id);
    return 1;
  }

  if (std::strcmp(type, "BNDL") == 0) {
    channel->finder.flags = static_cast<int16_t>(channel->finder.flags | kFinderBundleFlag);
    if (trace_enabled(TRACE_CONDITION)) std::printf("CONDITION--> BNDL-bit set\n");
  }

  // Looked up again: a write handler may have inserted resources itself.
  // Should that have used up the room, the entry stays unreferenced, as the
  // entry of a resource that produced nothing does.
  if (!has_room_for(channel, type, id)) {
    if (name_added) drop_newest_name(channel, name_node);
    return 1;
  }
  const int32_t t = find_type(channel, type);
  int32_t row = 0;
  int32_t column = 0;
  if (t < 0) {
    row = ++channel->type_count;
    MacBinTypeEntry &entry = channel->types[row];
    std::memset(entry.type, 0, sizeof entry.type);
    std::memcpy(entry.type, type, std::strlen(type));
    entry.count = 0;
    if (trace_enabled(TRACE_CONDITION)) {
      std::printf("CONDITION--> new resourcetype (%s) added\n", type);
    }
  } else {
    row = t;
    column = ++channel->types[t].count;
    if (trace_enabled(TRACE_CONDITION)) {
      std::printf("CONDITION--> resourcetype (%s) occurs %d times\n", type, column + 1);
    }
  }

  MacBinRefEntry &reference = channel->refs[row * kMaxResourcesPerType + column];
  reference.id = id;
  reference.attributes = writer_state(channel)->next_attributes_set != 0
                             ? writer_state(channel)->next_attributes
                             : kDefaultAttributes;
  reference.data_offset = static_cast<int32_t>(data_start - 4);
  if (name_node != nullptr) {
    reference.name = name_node;
    reference.name_offset = 0;
    writer_state(channel)->name_list_length += 1 + name_node->length;
    if (name_added) index_name(channel, name_node);
  } else {
    reference.name = nullptr;
    reference.name_offset = -1;
  }

  return channel->after_insert != nullptr ? channel->after_insert() : 0;
}

}  // namespace

extern "C" int32_t insert_resource(const char *type, int32_t id, const char *name,
                                   const char *param) {
  MacBinChannel *channel = MacChannel;
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR);
    return 1;
  }
  if (writer_state(channel)->fork_given != 0) {
    // The fork was written as given: a resource would land after its map.
    report_not_inserted("Resource fork set whole: ", type != nullptr ? type : "", id);
    return 1;
  }
  // The resource goes to the current channel's own file, whatever the host
  // opened since; the host's current output file is given back afterwards.
  TesselFile *host_output = outfile;
  if (channel->data_length == -1) MacBin_CompleteDataFork(channel);
  outfile = channel->file;
  const int32_t result = insert_into(channel, type != nullptr ? type : "", id, name,
                                     param != nullptr ? param : "");
  // The attributes were for this resource, inserted or not: a later one
  // must not inherit them.
  writer_state(channel)->next_attributes_set = 0;
  outfile = host_output;
  return result;
}
