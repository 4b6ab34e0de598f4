// Closing a channel.  A writing channel gets its owner resource and bundle,
// the resource map, the completed headers, and is then closed - or removed
// when any write of the process failed.  A reading channel is released.
//
// The map's records are declared with the other formats (format/); the
// writer leaves every reserved field zero, gives every resource the
// attributes the host set for it (purgeable unless set) and lays the lists out in the order the records
// were made.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "format/resource_fork.hpp"
#include "frame/internal.hpp"
#include "output/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

// Set by finish_output once the removal was announced; cleared only by
// MacBin_Reset, so that files removed later in the process go without
// repeating it.
int32_t removal_reported = 0;

namespace {

namespace format = varnel::format;

constexpr int32_t kMapHeaderBytes = sizeof(format::ResourceMapHeader);
constexpr int32_t kTypeItemBytes = sizeof(format::ResourceTypeItem);
constexpr int32_t kReferenceItemBytes = sizeof(format::ResourceReferenceItem);

int32_t reference_count(const MacBinChannel *channel) {
  int32_t total = 0;
  for (int32_t t = 0; t <= channel->type_count; ++t) total += channel->types[t].count + 1;
  return total;
}

// A name as the map's name list holds it: whole, also past the 127
// characters of its node.
std::string_view listed_name(const MacBinChannel *channel, const MacBinNameNode *node) {
  const WriterState &state = *writer_state(const_cast<MacBinChannel *>(channel));
  const auto whole = state.long_names.find(node);
  if (whole != state.long_names.end()) return whole->second;
  return std::string_view(node->text, node->length);
}

void trace_msg(const char *line) {
  if (trace_enabled(TRACE_MSG)) std::fputs(line, stdout);
}

// The four values of the resource fork header (and of its copy in the map),
// written at `position`.
// Writes a record as the file holds it.
template <typename Record>
void put_record(const Record &record) {
  MacBin_PutBuf(&record, sizeof record, sizeof record);
}

void write_fork_header(int64_t position, int32_t map_offset, int32_t data_length,
                       int32_t map_length) {
  format::ResourceForkHeader header{};
  header.data_offset.set(static_cast<uint32_t>(kResourceForkHeadSize));
  header.map_offset.set(static_cast<uint32_t>(map_offset));
  header.data_length.set(static_cast<uint32_t>(data_length));
  header.map_length.set(static_cast<uint32_t>(map_length));
  overwrite_output(position, std::span(reinterpret_cast<const uint8_t *>(&header), sizeof header));
}

// The fork header's copy at its start is filled in last, with the other.
void write_map_header(int32_t type_list_offset, int32_t name_list_offset, uint16_t attributes) {
  format::ResourceMapHeader header{};
  header.attributes.set(attributes);
  header.type_list_offset.set(static_cast<uint32_t>(type_list_offset));
  header.name_list_offset.set(static_cast<uint32_t>(name_list_offset));
  put_record(header);
}

void write_type_list(const MacBinChannel *channel, int32_t first_list_offset) {
  MacBin_PutWord(channel->type_count, 2);  // -1 (FFFF): no types
  int32_t list_offset = first_list_offset;
  for (int32_t t = 0; t <= channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    format::ResourceTypeItem item{};
    std::memcpy(item.type, entry.type, 4);  // NUL-padded past a short type (insert_resource)
    item.count_minus_one.set(static_cast<uint32_t>(entry.count));
    item.ref_list_offset.set(static_cast<uint32_t>(list_offset));
    put_record(item);
    list_offset += kReferenceItemBytes * (entry.count + 1);
  }
}

void write_reference_lists(MacBinChannel *channel) {
  int32_t name_offset = 0;
  for (int32_t t = 0; t <= channel->type_count; ++t) {
    for (int32_t r = 0; r <= channel->types[t].count; ++r) {
      MacBinRefEntry &reference = reference_at(channel, t, r);
      format::ResourceReferenceItem item{};
      item.id.set(static_cast<uint32_t>(reference.id));
      if (reference.name_offset == -1) {
        item.name_offset.set(format::kNoName);
      } else {
        item.name_offset.set(static_cast<uint32_t>(name_offset));
        name_offset += static_cast<int32_t>(listed_name(channel, reference.name).size()) + 1;
      }
      item.attributes = static_cast<uint8_t>(reference.attributes);
      reference.data_offset -= channel->rsrc_start + kResourceForkHeadSize;
      item.data_offset.set(static_cast<uint32_t>(reference.data_offset));
      put_record(item);
    }
  }
}

void write_name_list(const MacBinChannel *channel) {
  for (int32_t t = 0; t <= channel->type_count; ++t) {
    for (int32_t r = 0; r <= channel->types[t].count; ++r) {
      const MacBinRefEntry &reference = reference_at(channel, t, r);
      if (reference.name_offset == -1) continue;
      const std::string_view name = listed_name(channel, reference.name);
      const auto length = static_cast<int32_t>(name.size());
      MacBin_PutByte(length);
      MacBin_PutBuf(name.data(), length, length);
    }
  }
}

void announce_removal() {
  if (removal_reported != 0) return;
  removal_reported = 1;
  report("Removing output file(s)", MACBIN_SEVERE, kErrorFollows);
  report("Please check file system !", MACBIN_SEVERE, kErrorFollows);
}

}  // namespace

namespace {

// Whether the host inserted a resource of the creator's type with ID 0: a
// file carried across brings its own owner resource, which then stands
// instead of the one made from the owner text (a second would repeat it).
bool has_owner_resource(const MacBinChannel *channel) {
  // The owner resource goes in under the creator as the channel holds it,
  // so the same text finds it.
  for (int32_t t = 0; t <= channel->type_count; ++t) {
    if (std::strcmp(channel->types[t].type, channel->finder.creator) != 0) continue;
    for (int32_t r = 0; r <= channel->types[t].count; ++r) {
      if (reference_at(channel, t, r).id == 0) return true;
    }
  }
  return false;
}

// The owner resource: the owner text as a Pascal string, ID 0, under the
// creator's type.
void add_owner_resource(MacBinChannel *channel) {
  char owner_param[kOwnerTextBytes + 1] = "~";
  const size_t owner_length = ::strnlen(channel->owner_text, kOwnerTextBytes - 1);
  std::memcpy(owner_param + 1, channel->owner_text, owner_length);
  owner_param[owner_length + 1] = '\0';
  insert_resource(channel->finder.creator, 0, kOwnerResourceName, owner_param);
}

// Adds the owner resource (unless the host gave one) and the bundle and
// writes the map; gives the end of the resource fork.
int64_t write_resources_and_map(MacBinChannel *channel) {
  // Attributes set and never used are not the owner resource's or the bundle's.
  WriterState &state = *writer_state(channel);
  state.next_attributes_set = 0;
  if (state.finder_resources) {
    if (!has_owner_resource(channel)) add_owner_resource(channel);
    // A bundle the host inserted (a file carried across brings its own)
    // stands: a second BNDL 128 would repeat it.
    if (channel->fref_last != -1 && find_type(channel, "BNDL") < 0) {
      warn_about_bundle_icons(channel);
      insert_resource("Bndl", 128, kBundleName, "");
    }
  }
  // Without Finder resources and without a resource of its own the file
  // has no resource fork: not even its head was written.
  if (state.fork_head_pending) return channel->rsrc_start;

  const int64_t map_start = fgetp(outfile);
  const int64_t type_list = map_start + kMapHeaderBytes;
  const int64_t first_reference_list = type_list + 2 + kTypeItemBytes * (channel->type_count + 1);
  const int64_t name_list = first_reference_list + kReferenceItemBytes * reference_count(channel);

  write_map_header(static_cast<int32_t>(type_list - map_start),
                   static_cast<int32_t>(name_list - map_start), state.map_attributes);
  trace_msg("MSG--> resourcemap header created\n");
  write_type_list(channel, static_cast<int32_t>(first_reference_list - type_list));
  trace_msg("MSG--> Typelist created\n");
  write_reference_lists(channel);
  trace_msg("MSG--> Referencelist created\n");
  write_name_list(channel);
  const int64_t map_end = fgetp(outfile);
  trace_msg("MSG--> Namelist created\n");

  const auto map_offset = static_cast<int32_t>(map_start - channel->rsrc_start);
  const auto map_length = static_cast<int32_t>(map_end - map_start);
  const int32_t data_length = map_offset - kResourceForkHeadSize;
  // The fork headers are patched after the padding below has been written:
  // patching moves the output.
  if (writer_state(channel)->format == MACBIN_FORMAT_II) {
    // The forks keep their real lengths; only the file is rounded up.
    MacBin_PutBuf(nullptr, 0, static_cast<int32_t>(format::macbinary_padding(map_end)));
  }
  write_fork_header(channel->rsrc_start, map_offset, data_length, map_length);
  write_fork_header(map_start, map_offset, data_length, map_length);
  return map_end;
}

// Removes a file that was closed already, through its name: opened again
// (which empties it) and removed as a failed output is.
bool remove_closed_output(const char *path) {
  TesselFile *file = path != nullptr ? open_output_file(path) : nullptr;
  if (file == nullptr) return false;
  const bool removed = fcldelete(file) == 0;
  fdbfree(file);
  return removed;
}

// An output MacBin_OpenW made: in place when every write went through,
// else removed (its files went already).
void put_output_in_place(WriterState &state) {
  MacBinOutput *output = state.output;
  state.output = nullptr;
  state.owns_output = false;
  if (output_error != 0) {
    varnel::output::discard_output(output);
    return;
  }
  std::string error;
  errno = 0;
  if (varnel::output::commit_output(output, error)) return;
  // The system's reason is kept for the host when the text names it, and
  // not added a second time.
  if (errno != 0 && error.find(std::strerror(errno)) == std::string::npos) errno = 0;
  report(("Could not put output file " + state.shown_path + " in place: " + error).c_str(), MACBIN_SEVERE,
         MACBIN_ERR_IO);
}

}  // namespace

void close_write_channel(MacBinChannel *channel) {
  if (!is_writing_channel(channel)) {
    report("No open channel to close", MACBIN_ERROR, MACBIN_ERR_STATE);
    return;
  }
  MacBin_CompleteDataFork(channel);  // makes the channel and its file current
  WriterState &state = *writer_state(channel);

  int64_t fork_end = 0;
  if (state.fork_given == 0) {
    fork_end = write_resources_and_map(channel);
  } else {
    fork_end = fgetp(outfile);
    if (state.format == MACBIN_FORMAT_II) {
      MacBin_PutBuf(nullptr, 0, static_cast<int32_t>(format::macbinary_padding(fork_end)));
    }
  }
  if (fork_end > INT32_MAX) record_write_failure(MACBIN_ERR_LIMIT);  // past the 32-bit fork fields
  const auto fork_length = static_cast<int32_t>(fork_end - channel->rsrc_start);
  switch (state.format) {
    case MACBIN_FORMAT_APPLESINGLE:
    case MACBIN_FORMAT_APPLEDOUBLE: complete_apple_header(channel, fork_length); break;
    case MACBIN_FORMAT_BINHEX: encode_binhex(channel, fork_length); break;
    default: complete_header(channel, fork_length); break;
  }
  trace_msg("MSG--> Resource and FILE headers updated\n");

  if (trace_enabled(TRACE_INSERT)) {
    std::printf("\nINSERT--> length = %d\n", static_cast<int32_t>(fgeteof(channel->file)));
  }

  if (MacIOControl.open_writers == 1) call_end();
  --MacIOControl.open_writers;

  finish_channel_outputs(channel);
  release_writer_tables(channel);
  if (MacChannel == channel) MacChannel = nullptr;
  release_names(channel);
  release_channel_record(channel);
}

void finish_channel_outputs(MacBinChannel *channel) {
  WriterState &state = *writer_state(channel);
  TesselFile *file = channel->file;
  TesselFile *companion = state.companion;
  if (companion == nullptr) {
    finish_output(file);
  } else if (state.format == MACBIN_FORMAT_BINHEX) {
    // The forks' file is a scratch file: it goes whatever happens.
    if (fcldelete(file) != 0) report("Could not remove temporary file", MACBIN_WARNING);
    finish_output(companion);
  } else {
    // AppleDouble: the data file, then the header file that describes it.
    TesselFile *const files[] = {companion, file};
    const char *const paths[] = {state.companion_path, state.file_path};
    finish_outputs(files, paths);
  }
  for (TesselFile *each : {file, companion}) {
    if (each == nullptr) continue;
    fdbfree(each);
    if (outfile == each) outfile = nullptr;  // never left pointing at a released file
  }
  channel->file = nullptr;
  state.companion = nullptr;
  if (state.owns_output) put_output_in_place(state);
}

void finish_output(TesselFile *file) {
  TesselFile *const files[] = {file};
  const char *const paths[] = {nullptr};
  finish_outputs(files, paths);
}

void finish_outputs(std::span<TesselFile *const> files, std::span<const char *const> paths) {
  // The close writes what is still buffered: it can fail like any byte, and
  // then the file must not stay behind looking complete.  fcldelete still
  // removes a file whose fclosx failed.
  bool closed[2] = {false, false};
  for (size_t i = 0; i < files.size() && i < 2; ++i) {
    if (output_error != 0) break;
    errno = 0;
    if (fclosx(files[i]) == 0) {
      closed[i] = true;
    } else {
      record_write_failure();
    }
  }
  if (output_error == 0) return;
  announce_removal();
  for (size_t i = 0; i < files.size() && i < 2; ++i) {
    const bool removed =
        closed[i] ? remove_closed_output(paths[i]) : fcldelete(files[i]) == 0;
    if (!removed) report("Could not remove output file", MACBIN_SEVERE, MACBIN_ERR_IO);
  }
}
