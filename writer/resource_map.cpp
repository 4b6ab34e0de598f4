// Closing a channel.  A writing channel gets its owner resource and bundle,
// the resource map, the completed headers, and is then closed - or removed
// when any write of the process failed.  A reading channel is released.
//
// The resource map (big-endian, offsets from the map's first byte):
//   0   16  copy of the resource fork header (filled in last)
//   16   4  zero (next-map handle)         24  2  type list offset: 28
//   20   2  zero (file reference number)   26  2  name list offset
//   22   2  zero (attributes)
//   28   2  number of types - 1
//   30      per type, 8 bytes: type, resources - 1, reference list offset
//           from 28
//           per resource, 12 bytes: ID, name offset or FFFF, attributes 0x20,
//           24-bit data offset from the resource data, 4 zero bytes
//           the name list: per named reference, a length byte and the name
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "frame/internal.hpp"
#include "reader/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

// Set by finish_output once the removal was announced; never cleared, so
// that files removed later in the process go without repeating it.
int32_t removal_reported = 0;

namespace {

constexpr int32_t kMapHeaderBytes = 28;
constexpr int32_t kTypeItemBytes = 8;
constexpr int32_t kReferenceItemBytes = 12;
constexpr uint8_t kPurgeableAttribute = 0x20;
constexpr int32_t kForkHeaderBytes = 16;

int32_t reference_count(const MacBinChannel *channel) {
  int32_t total = 0;
  for (int32_t t = 0; t <= channel->type_count; ++t) total += channel->types[t].count + 1;
  return total;
}

void trace_msg(const char *line) {
  if (trace_enabled(TRACE_MSG)) std::fputs(line, stdout);
}

// The four values of the resource fork header (and of its copy in the map),
// written at `position`.
void write_fork_header(int64_t position, int32_t map_offset, int32_t data_length,
                       int32_t map_length) {
  uint8_t values[kForkHeaderBytes];
  put_be32(values, static_cast<uint32_t>(kResourceForkHeadSize));
  put_be32(values + 4, static_cast<uint32_t>(map_offset));
  put_be32(values + 8, static_cast<uint32_t>(data_length));
  put_be32(values + 12, static_cast<uint32_t>(map_length));
  overwrite_output(position, values);
}

void write_map_header(int32_t type_list_offset, int32_t name_list_offset) {
  uint8_t header[kMapHeaderBytes] = {};
  put_be16(header + 24, static_cast<uint32_t>(type_list_offset));
  put_be16(header + 26, static_cast<uint32_t>(name_list_offset));
  MacBin_PutBuf(header, kMapHeaderBytes, kMapHeaderBytes);
}

void write_type_list(const MacBinChannel *channel, int32_t first_list_offset) {
  MacBin_PutWord(channel->type_count, 2);  // -1 (FFFF): no types
  int32_t list_offset = first_list_offset;
  for (int32_t t = 0; t <= channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    uint8_t item[kTypeItemBytes];
    std::memcpy(item, entry.type, 4);  // NUL-padded past a short type (insert_resource)
    put_be16(item + 4, static_cast<uint32_t>(entry.count));
    put_be16(item + 6, static_cast<uint32_t>(list_offset));
    MacBin_PutBuf(item, kTypeItemBytes, kTypeItemBytes);
    list_offset += kReferenceItemBytes * (entry.count + 1);
  }
}

void write_reference_lists(MacBinChannel *channel) {
  int32_t name_offset = 0;
  for (int32_t t = 0; t <= channel->type_count; ++t) {
    for (int32_t r = 0; r <= channel->types[t].count; ++r) {
      MacBinRefEntry &reference = channel->refs[t * kMaxResourcesPerType + r];
      uint8_t item[kReferenceItemBytes] = {};
      put_be16(item, static_cast<uint32_t>(reference.id));
      if (reference.name_offset == -1) {
        put_be16(item + 2, 0xFFFF);
      } else {
        put_be16(item + 2, static_cast<uint32_t>(name_offset));
        name_offset += reference.name->length + 1;
      }
      item[4] = kPurgeableAttribute;
      reference.data_offset -= channel->rsrc_start + kResourceForkHeadSize;
      put_be24(item + 5, static_cast<uint32_t>(reference.data_offset));
      MacBin_PutBuf(item, kReferenceItemBytes, kReferenceItemBytes);
    }
  }
}

void write_name_list(const MacBinChannel *channel) {
  for (int32_t t = 0; t <= channel->type_count; ++t) {
    for (int32_t r = 0; r <= channel->types[t].count; ++r) {
      const MacBinRefEntry &reference = channel->refs[t * kMaxResourcesPerType + r];
      if (reference.name_offset == -1) continue;
      MacBin_PutByte(reference.name->length);
      MacBin_PutBuf(reference.name->text, reference.name->length, reference.name->length);
    }
  }
}

void announce_removal() {
  if (removal_reported != 0) return;
  removal_reported = 1;
  report("Removing output file(s)", MACBIN_SEVERE);
  report("Please check file system !", MACBIN_SEVERE);
}

void close_write_channel(MacBinChannel *channel) {
  MacBin_CompleteDataFork(channel);  // makes the channel and its file current

  char owner_param[kOwnerTextBytes + 1] = "~";
  const size_t owner_length = ::strnlen(channel->owner_text, kOwnerTextBytes - 1);
  std::memcpy(owner_param + 1, channel->owner_text, owner_length);
  owner_param[owner_length + 1] = '\0';
  insert_resource(channel->finder.creator, 0, "Owner resource", owner_param);
  if (channel->fref_last != -1) insert_resource("Bndl", 128, "Bundle", "");

  const int64_t map_start = fgetp(outfile);
  const int64_t type_list = map_start + kMapHeaderBytes;
  const int64_t first_reference_list = type_list + 2 + kTypeItemBytes * (channel->type_count + 1);
  const int64_t name_list = first_reference_list + kReferenceItemBytes * reference_count(channel);

  write_map_header(static_cast<int32_t>(type_list - map_start),
                   static_cast<int32_t>(name_list - map_start));
  trace_msg("MSG--> resourcemap header created\n");
  write_type_list(channel, static_cast<int32_t>(first_reference_list - type_list));
  trace_msg("MSG--> Typelist created\n");
  write_reference_lists(channel);
  trace_msg("MSG--> Referencelist created\n");
  write_name_list(channel);
  const int64_t map_end = fgetp(outfile);
  trace_msg("MSG--> Namelist created\n");

  if (extension_of(channel)->format == MACBIN_FORMAT_II) {
    // The forks keep their real lengths; only the file is rounded up.
    const int64_t padding = (kMacBinaryHeaderSize - map_end % kMacBinaryHeaderSize) %
                            kMacBinaryHeaderSize;
    MacBin_PutBuf(nullptr, 0, static_cast<int32_t>(padding));
  }
  if (map_end > INT32_MAX) record_write_failure();  // past the 32-bit fork fields

  const auto map_offset = static_cast<int32_t>(map_start - channel->rsrc_start);
  const auto map_length = static_cast<int32_t>(map_end - map_start);
  const int32_t data_length = map_offset - kResourceForkHeadSize;
  write_fork_header(channel->rsrc_start, map_offset, data_length, map_length);
  write_fork_header(map_start, map_offset, data_length, map_length);
  complete_header(channel, static_cast<int32_t>(map_end - channel->rsrc_start));
  trace_msg("MSG--> Resource and FILE headers updated\n");

  release_writer_tables(channel);
  if (trace_enabled(TRACE_INSERT)) {
    std::printf("\nINSERT--> length = %d\n", static_cast<int32_t>(fgeteof(channel->file)));
  }

  if (MacIOControl.open_writers == 1) call_end();
  --MacIOControl.open_writers;

  TesselFile *file = channel->file;
  finish_output(file);
  fdbfree(file);
  channel->file = nullptr;
  if (outfile == file) outfile = nullptr;  // never left pointing at a released file
  if (MacChannel == channel) MacChannel = nullptr;
  release_names(channel);
  release_channel_record(channel);
}

}  // namespace

void finish_output(TesselFile *file) {
  if (output_error == 0) {
    // The close writes what is still buffered: it can fail like any byte,
    // and then the file must not stay behind looking complete.  fcldelete
    // still removes a file whose fclosx failed.
    errno = 0;
    if (fclosx(file) == 0) return;
    record_write_failure();
  }
  announce_removal();
  if (fcldelete(file) != 0) report("Could not remove output file", MACBIN_SEVERE);
}

extern "C" void MacBin_Close(MacBinChannel *channel) {
  if (channel == nullptr) return;
  if (channel->mode == 1) {
    close_read_channel(channel);
    return;
  }
  if (!is_writing_channel(channel)) {
    report("No open channel to close", MACBIN_ERROR);
    return;
  }
  close_write_channel(channel);
}
