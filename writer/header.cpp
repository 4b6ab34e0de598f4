// Opening an output file: the channel, the 128-byte MacBinary header, and the
// end of the data fork with the fixed head of the resource fork.
//
// The output file, from its first byte:
//   0            MacBinary header (128 bytes, below)
//   128          data fork (data_length bytes, written by the host)
//                zero padding to the next multiple of 128
//   rsrc_start   resource fork header: data offset (256), map offset, data
//                length, map length, 32 bits each; zero until the close
//   +16          240 reserved zero bytes
//   +256         resource data: per resource a 32-bit length and its bytes
//                resource map (written on close)
//                MacBinary II only: zero padding to a multiple of 128
//
// The header's layout lives with the other formats (format/); the classic
// header carries no version bytes and no CRC, MacBinary II both.
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

#include "frame/internal.hpp"
#include "format/apple_single.hpp"
#include "format/macbinary_header.hpp"
#include "output/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

namespace {

namespace format = varnel::format;

// The writer keeps the 31 characters that Macintosh file names have.
constexpr size_t kHeaderNameCharacters = 31;
constexpr size_t kCodeCharacters = 4;           // file type and creator
constexpr size_t kFinderNameCharacters = 63;    // MacBinFinderInfo::name holds 63 and a NUL
constexpr size_t kLabelCharacters = 16;
constexpr size_t kPathPartBytes = 256;          // what fparse may fill

constexpr char kOwnerNotice[] = "Written with libvarnel " VARNEL_VERSION_STRING;
static_assert(sizeof kOwnerNotice <= kOwnerTextBytes);

static_assert(sizeof(MacBinFinderInfo) == 76);

// The format of files opened from now on; each channel keeps its own.
int32_t output_format = MACBIN_FORMAT_CLASSIC;

// MacBin_Reset: the format at load, and the removal notice not yet given.
void reset_writer_settings() {
  output_format = MACBIN_FORMAT_CLASSIC;
  removal_reported = 0;
}
ResetStep writer_settings_reset{reset_writer_settings, nullptr};
const bool writer_settings_reset_registered = register_reset_step(writer_settings_reset);


// Copies at most `limit` characters of `text` into `field` and ends it with a
// NUL; `field` holds limit + 1 bytes.
void copy_cut(char *field, const char *text, size_t limit) {
  const size_t length = ::strnlen(text, limit);
  std::memcpy(field, text, length);
  field[length] = '\0';
}

const char *or_empty(const char *text) { return text != nullptr ? text : ""; }

bool is_missing(const char *text) { return text == nullptr || text[0] == '\0'; }

// Whether a folder (or a socket) holds the name of AppleDouble's header
// file "._NAME" beside `path`: the header could never be put in place.
bool apple_double_header_is_taken(const char *path) {
  const std::filesystem::path file(path);
  std::error_code code;
  const auto status = std::filesystem::status(file.parent_path() / ("._" + file.filename().string()), code);
  return std::filesystem::is_directory(status) || std::filesystem::is_socket(status);
}

// The channel's tables, or false after giving back what was obtained.
bool allocate_writer_tables(MacBinChannel *channel) {
  channel->types = static_cast<MacBinTypeEntry *>(
      zalloc(MacIOControl.zone, kMaxResourceTypes * sizeof(MacBinTypeEntry)));
  channel->refs = static_cast<MacBinRefEntry *>(
      std::calloc(static_cast<size_t>(kMaxResourceTypes) * kMaxResourcesPerType,
                  sizeof(MacBinRefEntry)));
  channel->frefs = static_cast<int32_t(*)[2]>(std::calloc(kMaxFrefs, sizeof(int32_t[2])));
  auto *state = new (std::nothrow) WriterState{};
  extension_of(channel)->state = state;
  if (state != nullptr) {
    state->type_capacity = kMaxResourceTypes;
    state->name_index =
        static_cast<MacBinNameNode **>(std::calloc(kNameIndexSlots, sizeof(MacBinNameNode *)));
  }
  if (channel->types != nullptr && channel->refs != nullptr && channel->frefs != nullptr &&
      state != nullptr && state->name_index != nullptr) {
    return true;
  }
  release_writer_tables(channel);
  return false;
}

}  // namespace

void release_writer_tables(MacBinChannel *channel) {
  int32_t type_capacity = kMaxResourceTypes;
  if (WriterState *state = writer_state(channel)) {
    type_capacity = state->type_capacity;
    std::free(state->name_index);
    std::free(state->file_path);
    std::free(state->companion_path);
    if (state->owns_output) varnel::output::discard_output(state->output);
    delete state;
    extension_of(channel)->state = nullptr;
  }
  std::free(channel->refs);
  std::free(channel->frefs);
  if (channel->types != nullptr) {
    zfree(MacIOControl.zone, channel->types,
          static_cast<size_t>(type_capacity) * sizeof(MacBinTypeEntry));
  }
  channel->refs = nullptr;
  channel->frefs = nullptr;
  channel->types = nullptr;
}

bool is_writing_channel(const MacBinChannel *channel) {
  return channel != nullptr && channel->mode == kChannelWriting && channel->file != nullptr &&
         writer_state(const_cast<MacBinChannel *>(channel)) != nullptr && channel->types != nullptr && channel->refs != nullptr && channel->frefs != nullptr;
}

bool seek_output(int64_t position) {
  if (write_failed != 0) return false;  // output has stopped: nothing to move for
  if (fputp(outfile, position) != position) {
    record_write_failure();
    return false;
  }
  return true;
}

bool overwrite_output(int64_t position, std::span<const uint8_t> bytes) {
  if (write_failed != 0) return false;
#if VARNEL_TESSEL_FAST_PATH
  // The common case, a length word patched right after its resource: the
  // bytes have not left the buffer, and moving the file would flush it for
  // every resource.
  if (tessel_patch_pending(outfile, position, bytes.data(), bytes.size()) == 1) return false;
#endif
  if (seek_output(position)) {
    MacBin_PutBuf(bytes.data(), static_cast<int32_t>(bytes.size()),
                  static_cast<int32_t>(bytes.size()));
  }
  return true;
}

TesselFile *open_output_file(const char *path) {
  // errno is cleared right before the open and judged right after it: a
  // value left by an earlier call must not fail a sound open.
  TesselFile *description = fdbset(0, "STREAM,SEQUENTIAL");
  if (description == nullptr) return nullptr;
  errno = 0;
  TesselFile *file = fopenw(description, path, "", 0);
  if (file != nullptr && errno != 0) {
    // Opened, yet the open says it failed: the file is not to be trusted.
    fcldelete(file);
    file = nullptr;
  }
  if (file == nullptr) {
    const int reason = errno;
    fdbfree(description);
    errno = reason;  // for the caller's report
  }
  return file;
}

void report_output_open_failure(const char *path) {
  // The system's words, then which file and why: a host shows the line as
  // it comes, and "could not open" alone leaves its user guessing.
  const int reason = errno;
  std::string text = "Could not open output file";
  if (path != nullptr) text += std::string(" ") + path;
  if (reason != 0) text += std::string(": ") + std::strerror(reason);
  report(text.c_str(), MACBIN_ERROR, MACBIN_ERR_IO);
}

bool writes_macbinary(const WriterState &state) {
  return state.format == MACBIN_FORMAT_CLASSIC || state.format == MACBIN_FORMAT_II;
}

char *sibling_path(const char *path, const char *prefix, const char *suffix) {
  const char *slash = std::strrchr(path, '/');
  const size_t folder_length = slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
  const size_t total =
      std::strlen(path) + std::strlen(prefix) + std::strlen(suffix) + 1;
  auto *out = static_cast<char *>(std::malloc(total));
  if (out == nullptr) return nullptr;
  std::memcpy(out, path, folder_length);
  out[folder_length] = '\0';
  std::strcat(out, prefix);
  std::strcat(out, path + folder_length);
  std::strcat(out, suffix);
  return out;
}

void compose_header(MacBinChannel *channel, uint32_t data_length, uint32_t resource_fork_length,
                    std::span<uint8_t, format::kMacBinaryHeaderSize> out) {
  const WriterState &state = *writer_state(channel);
  format::MacBinaryFields fields{};
  fields.name = std::string_view(channel->finder.name,
                                 ::strnlen(channel->finder.name, kHeaderNameCharacters));
  // Codes shorter than four characters leave zero bytes after them.
  std::memcpy(fields.type, channel->finder.type, kCodeCharacters);
  std::memcpy(fields.creator, channel->finder.creator, kCodeCharacters);
  fields.finder_flags = static_cast<uint16_t>(channel->finder.flags);
  fields.data_length = data_length;
  fields.rsrc_length = resource_fork_length;
  fields.created = state.created;
  fields.modified = state.modified;
  std::memcpy(fields.place, state.finder_info.data() + format::kFinderLocationAt, sizeof fields.place);
  format::write_macbinary_header(fields, static_cast<format::MacBinaryVariant>(state.format), out);
}

void complete_header(MacBinChannel *channel, int32_t resource_fork_length) {
  uint8_t header[format::kMacBinaryHeaderSize];
  compose_header(channel, static_cast<uint32_t>(channel->data_length),
                 static_cast<uint32_t>(resource_fork_length), header);
  overwrite_output(0, header);
}

namespace {

// The output for the channel's files: the host's, or one made for
// `file_name` in the channel's format.  False after reporting why.
bool take_output(MacBinChannel *channel, const char *file_name, MacBinOutput *given) {
  WriterState *state = writer_state(channel);
  state->shown_path = file_name;
  if (given != nullptr) {
    state->output = given;
    state->format = varnel::output::output_kind(*given);
    return true;
  }
  if (state->format == MACBIN_FORMAT_APPLEDOUBLE && apple_double_header_is_taken(file_name)) {
    report("Could not open AppleDouble header file", MACBIN_ERROR, MACBIN_ERR_IO);
    return false;
  }
  std::string error;
  state->output = varnel::output::open_output(file_name, state->format, error);
  if (state->output == nullptr) {
    if (error.find(std::strerror(errno)) == std::string::npos) errno = 0;  // the reason is the library's own
    report(("Could not open output file " + std::string(file_name) + ": " + error).c_str(), MACBIN_ERROR,
           MACBIN_ERR_IO);
    return false;
  }
  state->owns_output = true;
  return true;
}

// Opens the format's files under the output's temporary names; `outfile`
// changes only once they are open, so a failed open never sends another
// channel's data-fork bytes astray.  The formats with a second file open
// it here too: a folder that takes one file but not the other fails now,
// not after the host's work.
bool open_format_files(MacBinChannel *channel) {
  WriterState *state = writer_state(channel);
  const char *path = varnel::output::output_temporary_path(*state->output).c_str();
  const char *shown = state->shown_path.c_str();
  if (state->format == MACBIN_FORMAT_APPLESINGLE || state->format == MACBIN_FORMAT_APPLEDOUBLE) {
    return open_apple_files(channel, path, shown);
  }
  if (state->format == MACBIN_FORMAT_BINHEX) return open_binhex_files(channel, path, shown);
  channel->file = open_output_file(path);
  state->data_start = kMacBinaryHeaderSize;
  if (channel->file == nullptr) report_output_open_failure(shown);
  return channel->file != nullptr;
}

// The names, codes and dates the headers carry, before the files open.
void set_finder_fields(MacBinChannel *channel, const char *macintosh_name, const char *creator,
                       const char *type) {
  WriterState *state = writer_state(channel);
  state->format = output_format;
  state->name_list_length = 0;
  copy_cut(channel->finder.name, macintosh_name, kFinderNameCharacters);
  copy_cut(channel->finder.type, type, kCodeCharacters);
  copy_cut(channel->finder.creator, creator, kCodeCharacters);
  channel->finder.flags = kFinderInitedFlag;
  state->created = MacBin_DateNow();
  state->modified = state->created;
}

// The channel's record as the open leaves it, its files open.
void start_channel(MacBinChannel *channel, const char *file_name) {
  WriterState *state = writer_state(channel);
  channel->mode = kChannelWriting;
  outfile = channel->file;
  if (writes_macbinary(*state)) {
    uint8_t header[format::kMacBinaryHeaderSize];
    compose_header(channel, 0, 0, header);
    MacBin_PutBuf(header, kMacBinaryHeaderSize, kMacBinaryHeaderSize);
  }
  if (trace_enabled(TRACE_MSG)) std::printf("MSG--> File header created\n");

  char name_part[kPathPartBytes];
  fparse(name_part, file_name, 0, "NAME");
  copy_cut(channel->label, name_part, kLabelCharacters);
  channel->type_count = -1;
  channel->fref_last = -1;
  copy_cut(channel->owner_text, kOwnerNotice, kOwnerTextBytes - 1);
  channel->data_length = -1;
  channel->after_insert = nullptr;
  extension_of(channel)->close = close_write_channel;
  if (MacIOControl.open_writers == 0) call_start("Macintosh Resources");
  ++MacIOControl.open_writers;
}

// What a missing name, creator or type refuses; null when all are given.
const char *missing_argument(const char *file_name, const char *creator, const char *type) {
  if (is_missing(file_name)) return "No filename specified";
  if (is_missing(creator)) return "No creator specified";
  if (is_missing(type)) return "No filetype specified";
  return nullptr;
}

MacBinChannel *open_writer(const char *file_name, MacBinOutput *given, char *apple_name, const char *creator,
                           const char *type) {
  if (trace_enabled(TRACE_INSERT)) {
    std::printf("INSERT--> Initializing: FILE=%s CREATOR=%s TYPE=%s Apple=%s\n\n", or_empty(file_name),
                or_empty(creator), or_empty(type), or_empty(apple_name));
  }
  if (const char *missing = missing_argument(file_name, creator, type)) {
    report(missing, MACBIN_ERROR, MACBIN_ERR_ARGUMENT);
    return nullptr;
  }
  // Without a Macintosh name the file name as given stands in (directory part
  // included), and the caller's buffer, which must hold 32 bytes, learns it.
  const char *macintosh_name = apple_name;
  char derived_name[kHeaderNameCharacters + 1];
  if (is_missing(apple_name)) {
    if (trace_enabled(TRACE_MSG)) std::printf("MSG--> No name for APPLE-file specified\n");
    copy_cut(derived_name, file_name, kHeaderNameCharacters);
    if (apple_name != nullptr) std::memcpy(apple_name, derived_name, sizeof derived_name);
    macintosh_name = derived_name;
  }
  // The channel and its tables come first: when memory is short, nothing
  // is made on disk.
  MacBinChannel *channel = MacBin_NewChannel();  // reports a full zone itself
  if (channel == nullptr) return nullptr;
  if (!allocate_writer_tables(channel)) {
    report("Out Of Memory (in initialisation)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
    release_channel_record(channel);
    return nullptr;
  }
  set_finder_fields(channel, macintosh_name, creator, type);
  if (!take_output(channel, file_name, given) || !open_format_files(channel)) {
    channel->file = nullptr;
    release_writer_tables(channel);  // an output made here goes with them
    release_channel_record(channel);
    return nullptr;
  }
  start_channel(channel, file_name);
  return channel;
}

}  // namespace

extern "C" {

int32_t MacBin_SetFormat(int32_t format) {
  switch (format) {
    case MACBIN_FORMAT_CLASSIC:
    case MACBIN_FORMAT_II:
    case MACBIN_FORMAT_APPLESINGLE:
    case MACBIN_FORMAT_APPLEDOUBLE:
    case MACBIN_FORMAT_BINHEX:
      output_format = format;
      return 1;
    default:
      return 0;
  }
}

MacBinChannel *MacBin_OpenW(const char *file_name, char *apple_name, const char *creator,
                            const char *type) {
  return open_writer(file_name, nullptr, apple_name, creator, type);
}

MacBinChannel *MacBin_OpenWOutput(MacBinOutput *output, char *apple_name, const char *creator,
                                  const char *type) {
  const int32_t kind = output != nullptr ? varnel::output::output_kind(*output) : MACBIN_OUTPUT_BYTES;
  if (kind == MACBIN_OUTPUT_BYTES || kind == MACBIN_OUTPUT_FILE) {
    report("No output opened for a format to write into", MACBIN_ERROR, MACBIN_ERR_ARGUMENT);
    return nullptr;
  }
  return open_writer(varnel::output::output_path(*output).c_str(), output, apple_name, creator, type);
}

void MacBin_CompleteDataFork(MacBinChannel *channel) {
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR, MACBIN_ERR_STATE);
    return;
  }
  MacChannel = channel;
  outfile = channel->file;
  if (channel->data_length != -1) return;
  WriterState &state = *writer_state(channel);

  int64_t position = fgetp(outfile);
  if (position < state.data_start) {
    // The host moved back into the header: the data fork is empty.
    seek_output(state.data_start);
    position = state.data_start;
  }
  const int64_t data_length = position - state.data_start;
  // The padding is counted, not waited for: after a write failure the
  // position no longer moves.  Only MacBinary aligns the resource fork.
  const int64_t padding = writes_macbinary(state) ? format::macbinary_padding(data_length) : 0;
  int64_t resource_start = position + padding;
  if (state.format == MACBIN_FORMAT_APPLEDOUBLE) {
    switch_to_header_file(channel);  // the resource fork has a file of its own
    resource_start = fgetp(outfile);
  }
  if (resource_start > INT32_MAX - kResourceForkHeadSize - kMaxDataOffset ||
      data_length > INT32_MAX - kResourceForkHeadSize - kMaxDataOffset) {
    // Fork lengths and positions are 32-bit fields: such a file cannot be
    // described, so it must not survive looking complete.
    report("Data fork too long", MACBIN_SEVERE, MACBIN_ERR_LIMIT);
    record_write_failure(kErrorFollows);
  }
  MacBin_PutBuf(nullptr, 0, static_cast<int32_t>(padding));
  channel->data_length = static_cast<int32_t>(data_length);
  channel->rsrc_offset = static_cast<int32_t>(data_length + padding);
  channel->rsrc_start = static_cast<int32_t>(resource_start);
  // A resource fork given whole brings its own head; without Finder
  // resources the head waits for the first resource (a file given none
  // has no resource fork).
  if (state.fork_given == 0) {
    if (state.finder_resources) {
      MacBin_PutBuf(nullptr, 0, kResourceForkHeadSize);
    } else {
      state.fork_head_pending = true;
    }
  }
}

}  // extern "C"
