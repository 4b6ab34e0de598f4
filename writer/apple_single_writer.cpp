// Writing AppleSingle and AppleDouble (version 2).
//
// AppleSingle, one file:
//   0        header, entries, real name, Finder info, dates (lengths zero
//            until the close)
//   prefix   data fork, written by the host
//            resource fork: head, resource data, map (as in MacBinary)
//
// AppleDouble, two files made together:
//   NAME     the data fork, from its first byte
//   ._NAME   header, entries, real name, Finder info, dates, resource fork
//
// The leading part is written again on close, when the fork lengths and the
// Finder flags are final; its size depends only on the name, which is fixed
// at the open.
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "format/apple_single.hpp"
#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

namespace {

namespace format = varnel::format;

// The name the other formats carry: the Macintosh's 31 characters.
constexpr size_t kNameCharacters = 31;

format::AppleVariant variant_of(const WriterState &state) {
  return state.format == MACBIN_FORMAT_APPLEDOUBLE ? format::AppleVariant::kDouble
                                                   : format::AppleVariant::kSingle;
}

// The leading part as it stands; empty when memory is short.
std::vector<uint8_t> compose_prefix(MacBinChannel *channel, uint32_t data_length,
                                    uint32_t resource_fork_length) {
  const WriterState &state = *writer_state(channel);
  format::AppleFields fields{};
  fields.variant = variant_of(state);
  fields.name = std::string_view(channel->finder.name,
                                 ::strnlen(channel->finder.name, kNameCharacters));
  std::memcpy(fields.type, channel->finder.type, 4);  // NUL-padded when shorter
  std::memcpy(fields.creator, channel->finder.creator, 4);
  fields.finder_flags = static_cast<uint16_t>(channel->finder.flags);
  fields.created = state.created;
  fields.modified = state.modified;
  fields.data_length = data_length;
  fields.rsrc_length = resource_fork_length;
  fields.finder_info = state.finder_info;
  std::vector<uint8_t> prefix(format::apple_prefix_size(fields.variant, fields.name.size()));
  format::write_apple_prefix(fields, prefix);
  return prefix;
}

}  // namespace

bool open_apple_files(MacBinChannel *channel, const char *path, const char *shown) {
  WriterState *state = writer_state(channel);
  const bool is_double = state->format == MACBIN_FORMAT_APPLEDOUBLE;
  state->file_path = strdup(path);
  state->companion_path = is_double ? sibling_path(path, format::kAppleDoublePrefix.data(), "") : nullptr;
  if (state->file_path == nullptr || (is_double && state->companion_path == nullptr)) {
    report("Out Of Memory (in initialisation)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
    return false;
  }
  TesselFile *file = open_output_file(path);
  if (file == nullptr) {
    report_output_open_failure(shown);
    return false;
  }
  TesselFile *header_file = nullptr;
  if (is_double) {
    header_file = open_output_file(state->companion_path);
    if (header_file == nullptr) {
      report("Could not open AppleDouble header file", MACBIN_ERROR, MACBIN_ERR_IO);
      fcldelete(file);  // the data file goes again: neither is left
      fdbfree(file);
      return false;
    }
  }

  std::vector<uint8_t> prefix;
  try {
    prefix = compose_prefix(channel, 0, 0);
  } catch (const std::bad_alloc &) {
    report("Out Of Memory (in initialisation)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
    fcldelete(file);
    fdbfree(file);
    if (header_file != nullptr) {
      fcldelete(header_file);
      fdbfree(header_file);
    }
    return false;
  }
  channel->file = file;
  state->companion = header_file;
  TesselFile *host_output = outfile;
  outfile = is_double ? header_file : file;
  MacBin_PutBuf(prefix.data(), static_cast<int32_t>(prefix.size()),
                static_cast<int32_t>(prefix.size()));
  outfile = host_output;
  state->data_start = is_double ? 0 : static_cast<int64_t>(prefix.size());
  return true;
}

void switch_to_header_file(MacBinChannel *channel) {
  WriterState *state = writer_state(channel);
  TesselFile *data_file = channel->file;
  channel->file = state->companion;
  state->companion = data_file;
  char *data_path = state->file_path;
  state->file_path = state->companion_path;
  state->companion_path = data_path;
  outfile = channel->file;
}

void complete_apple_header(MacBinChannel *channel, int32_t resource_fork_length) {
  std::vector<uint8_t> prefix;
  try {
    prefix = compose_prefix(channel, static_cast<uint32_t>(channel->data_length),
                            static_cast<uint32_t>(resource_fork_length));
  } catch (const std::bad_alloc &) {
    report("Out Of Memory (completing the header)", MACBIN_SEVERE, MACBIN_ERR_MEMORY);
    record_write_failure(kErrorFollows);  // a file with zero lengths must not stay
    return;
  }
  overwrite_output(0, prefix);
}
