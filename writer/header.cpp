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
// The MacBinary header (big-endian numbers):
//   0    1  zero                        73   2  Finder flags
//   1    1  name length (at most 31)    75   8  zero (window position, folder)
//   2   31  name, zero-padded           83   4  data fork length  (0 until close)
//   33  32  zero                        87   4  resource fork length (0 until close)
//   65   4  file type                   91   4  creation date (seconds since 1904)
//   69   4  creator                     95   4  modification date
//   classic:      99: the 32-bit value 76; 103..127 zero
//   MacBinary II: 99..121 zero except 101 = low byte of the Finder flags;
//                 122 = 123 = 129; 124: CRC-16/XMODEM of bytes 0..123; 126..127 zero
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

namespace {

constexpr size_t kNameLengthOffset = 1;
constexpr size_t kNameOffset = 2;
constexpr size_t kHeaderNameCharacters = 31;
constexpr size_t kTypeOffset = 65;
constexpr size_t kCreatorOffset = 69;
constexpr size_t kFlagsOffset = 73;
constexpr size_t kDataLengthOffset = 83;
constexpr size_t kResourceLengthOffset = 87;
constexpr size_t kCreatedOffset = 91;
constexpr size_t kModifiedOffset = 95;
constexpr size_t kClassicMarkerOffset = 99;
constexpr uint32_t kClassicMarker = 76;
constexpr size_t kFlagsLowByteOffset = 101;
constexpr size_t kVersionOffset = 122;
constexpr size_t kMinimumVersionOffset = 123;
constexpr uint8_t kMacBinaryIIVersion = 129;
constexpr size_t kCrcOffset = 124;
constexpr size_t kCrcCoveredBytes = 124;

constexpr size_t kCodeCharacters = 4;           // file type and creator
constexpr size_t kFinderNameCharacters = 63;    // MacBinFinderInfo::name holds 63 and a NUL
constexpr size_t kLabelCharacters = 16;
constexpr size_t kPathPartBytes = 256;          // what fparse may fill

// Seconds from 1 January 1904 (the Macintosh epoch) to 1 January 1970.
constexpr int64_t kMacintoshEpochOffset = 2082844800;

constexpr char kOwnerNotice[] = "Written with libvarnel " VARNEL_VERSION_STRING;
static_assert(sizeof kOwnerNotice <= kOwnerTextBytes);

static_assert(sizeof(ChannelExtension::header) == static_cast<size_t>(kMacBinaryHeaderSize));
static_assert(sizeof(MacBinFinderInfo) == 76);

// The format of files opened from now on; each channel keeps its own.
int32_t output_format = MACBIN_FORMAT_CLASSIC;

// The host's clock as an unsigned Macintosh date.  Worked out in 64 bits:
// the sum passes the signed 32-bit range; the file keeps its low 32 bits.
uint32_t macintosh_time_now() {
  const int64_t unix_seconds = static_cast<int64_t>(std::time(nullptr));
  return static_cast<uint32_t>(static_cast<uint64_t>(unix_seconds + kMacintoshEpochOffset));
}

constexpr std::array<uint16_t, 256> make_crc_table() {
  std::array<uint16_t, 256> table{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte << 8;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000u) != 0 ? (crc << 1) ^ 0x1021u : crc << 1;
    }
    table[byte] = static_cast<uint16_t>(crc);
  }
  return table;
}
constexpr std::array<uint16_t, 256> kCrcTable = make_crc_table();

// Copies at most `limit` characters of `text` into `field` and ends it with a
// NUL; `field` holds limit + 1 bytes.
void copy_cut(char *field, const char *text, size_t limit) {
  const size_t length = ::strnlen(text, limit);
  std::memcpy(field, text, length);
  field[length] = '\0';
}

const char *or_empty(const char *text) { return text != nullptr ? text : ""; }

bool is_missing(const char *text) { return text == nullptr || text[0] == '\0'; }

// The header as MacBin_OpenW writes it: fork lengths zero, Finder flags as
// they stand.
void compose_header(ChannelExtension *extension, uint32_t created, uint32_t modified) {
  const MacBinChannel &channel = extension->channel;
  uint8_t *header = extension->header;
  std::memset(header, 0, kMacBinaryHeaderSize);
  const size_t name_length = ::strnlen(channel.finder.name, kHeaderNameCharacters);
  header[kNameLengthOffset] = static_cast<uint8_t>(name_length);
  std::memcpy(header + kNameOffset, channel.finder.name, name_length);
  // Codes shorter than four characters leave zero bytes after them.
  std::memcpy(header + kTypeOffset, channel.finder.type, kCodeCharacters);
  std::memcpy(header + kCreatorOffset, channel.finder.creator, kCodeCharacters);
  put_be16(header + kFlagsOffset, static_cast<uint16_t>(channel.finder.flags));
  put_be32(header + kCreatedOffset, created);
  put_be32(header + kModifiedOffset, modified);
  if (extension->format == MACBIN_FORMAT_II) {
    header[kVersionOffset] = kMacBinaryIIVersion;
    header[kMinimumVersionOffset] = kMacBinaryIIVersion;
  } else {
    put_be32(header + kClassicMarkerOffset, kClassicMarker);
  }
}

// MacBinary II repeats the low byte of the Finder flags at 101 and guards
// bytes 0..123 with a CRC; both must be worked out once every field is final.
void seal_header(ChannelExtension *extension) {
  if (extension->format != MACBIN_FORMAT_II) return;
  uint8_t *header = extension->header;
  header[kFlagsLowByteOffset] =
      static_cast<uint8_t>(static_cast<uint16_t>(extension->channel.finder.flags) & 0xFFu);
  put_be16(header + kCrcOffset, crc16_xmodem(std::span<const uint8_t>(header, kCrcCoveredBytes)));
}

// The channel's tables, or false after giving back what was obtained.
bool allocate_writer_tables(MacBinChannel *channel) {
  channel->types = static_cast<MacBinTypeEntry *>(
      zalloc(MacIOControl.zone, kMaxResourceTypes * sizeof(MacBinTypeEntry)));
  channel->refs = static_cast<MacBinRefEntry *>(
      std::calloc(static_cast<size_t>(kMaxResourceTypes) * kMaxResourcesPerType,
                  sizeof(MacBinRefEntry)));
  channel->frefs = static_cast<int32_t(*)[2]>(std::calloc(kMaxFrefs, sizeof(int32_t[2])));
  ChannelExtension *extension = extension_of(channel);
  extension->name_index =
      static_cast<MacBinNameNode **>(std::calloc(kNameIndexSlots, sizeof(MacBinNameNode *)));
  if (channel->types != nullptr && channel->refs != nullptr && channel->frefs != nullptr &&
      extension->name_index != nullptr) {
    return true;
  }
  release_writer_tables(channel);
  return false;
}

}  // namespace

void release_writer_tables(MacBinChannel *channel) {
  ChannelExtension *extension = extension_of(channel);
  std::free(extension->name_index);
  extension->name_index = nullptr;
  std::free(channel->refs);
  std::free(channel->frefs);
  if (channel->types != nullptr) {
    zfree(MacIOControl.zone, channel->types, kMaxResourceTypes * sizeof(MacBinTypeEntry));
  }
  channel->refs = nullptr;
  channel->frefs = nullptr;
  channel->types = nullptr;
}

uint16_t crc16_xmodem(std::span<const uint8_t> bytes) {
  uint16_t crc = 0;
  for (const uint8_t byte : bytes) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ byte) & 0xFFu]);
  }
  return crc;
}

bool is_writing_channel(const MacBinChannel *channel) {
  return channel != nullptr && channel->mode == 2 && channel->file != nullptr &&
         channel->types != nullptr && channel->refs != nullptr && channel->frefs != nullptr;
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

void complete_header(MacBinChannel *channel, int32_t resource_fork_length) {
  ChannelExtension *extension = extension_of(channel);
  uint8_t *header = extension->header;
  put_be16(header + kFlagsOffset, static_cast<uint16_t>(channel->finder.flags));
  put_be32(header + kDataLengthOffset, static_cast<uint32_t>(channel->data_length));
  put_be32(header + kResourceLengthOffset, static_cast<uint32_t>(resource_fork_length));
  seal_header(extension);
  overwrite_output(0, std::span<const uint8_t>(header, kMacBinaryHeaderSize));
}

extern "C" {

int32_t MacBin_SetFormat(int32_t format) {
  if (format != MACBIN_FORMAT_CLASSIC && format != MACBIN_FORMAT_II) return 0;
  output_format = format;
  return 1;
}

MacBinChannel *MacBin_OpenW(const char *file_name, char *apple_name, const char *creator,
                            const char *type) {
  if (trace_enabled(TRACE_INSERT)) {
    std::printf("INSERT--> Initializing: FILE=%s CREATOR=%s TYPE=%s Apple=%s\n\n",
                or_empty(file_name), or_empty(creator), or_empty(type), or_empty(apple_name));
  }
  if (is_missing(file_name)) {
    report("No filename specified", MACBIN_ERROR);
    return nullptr;
  }
  if (is_missing(creator)) {
    report("No creator specified", MACBIN_ERROR);
    return nullptr;
  }
  if (is_missing(type)) {
    report("No filetype specified", MACBIN_ERROR);
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

  // The channel and its tables come first: when memory is short, the file
  // that the name points to is not even truncated.
  MacBinChannel *channel = MacBin_NewChannel();  // reports a full zone itself
  if (channel == nullptr) return nullptr;
  if (!allocate_writer_tables(channel)) {
    report("Out Of Memory (in initialisation)", MACBIN_ERROR);
    release_channel_record(channel);
    return nullptr;
  }

  // errno is cleared right before the open and judged right after it: a
  // value left by an earlier call must not fail a sound open.  `outfile`
  // changes only once the open succeeded, so a failed open never sends
  // another channel's data-fork bytes astray.
  TesselFile *description = fdbset(0, "STREAM,SEQUENTIAL");
  TesselFile *file = nullptr;
  if (description != nullptr) {
    errno = 0;
    file = fopenw(description, file_name, "", 0);
    if (file != nullptr && errno != 0) {
      // Opened, yet the open says it failed: the file is not to be trusted.
      fcldelete(file);
      file = nullptr;
    }
  }
  if (file == nullptr) {
    report("Could not open output file", MACBIN_ERROR);
    fdbfree(description);  // null is ignored
    release_writer_tables(channel);
    release_channel_record(channel);
    return nullptr;
  }

  ChannelExtension *extension = extension_of(channel);
  extension->format = output_format;
  extension->name_list_length = 0;
  channel->mode = 2;
  channel->file = file;
  copy_cut(channel->finder.name, macintosh_name, kFinderNameCharacters);
  copy_cut(channel->finder.type, type, kCodeCharacters);
  copy_cut(channel->finder.creator, creator, kCodeCharacters);
  channel->finder.flags = kFinderInitedFlag;

  outfile = file;
  const uint32_t created = macintosh_time_now();
  const uint32_t modified = macintosh_time_now();
  compose_header(extension, created, modified);
  seal_header(extension);
  MacBin_PutBuf(extension->header, kMacBinaryHeaderSize, kMacBinaryHeaderSize);
  if (trace_enabled(TRACE_MSG)) std::printf("MSG--> File header created\n");

  char name_part[kPathPartBytes];
  fparse(name_part, file_name, 0, "NAME");
  copy_cut(channel->label, name_part, kLabelCharacters);

  channel->type_count = -1;
  channel->fref_last = -1;
  copy_cut(channel->owner_text, kOwnerNotice, kOwnerTextBytes - 1);
  channel->data_length = -1;
  channel->after_insert = nullptr;

  if (MacIOControl.open_writers == 0) call_start("Macintosh Resources");
  ++MacIOControl.open_writers;
  return channel;
}

void MacBin_CompleteDataFork(MacBinChannel *channel) {
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR);
    return;
  }
  MacChannel = channel;
  outfile = channel->file;
  if (channel->data_length != -1) return;

  int64_t position = fgetp(outfile);
  if (position < kMacBinaryHeaderSize) {
    // The host moved back into the header: the data fork is empty.
    seek_output(kMacBinaryHeaderSize);
    position = kMacBinaryHeaderSize;
  }
  const int64_t data_length = position - kMacBinaryHeaderSize;
  // The padding is counted, not waited for: after a write failure the
  // position no longer moves.
  const int64_t padding = (kMacBinaryHeaderSize - data_length % kMacBinaryHeaderSize) %
                          kMacBinaryHeaderSize;
  const int64_t resource_start = position + padding;
  if (resource_start > INT32_MAX - kResourceForkHeadSize - kMaxDataOffset) {
    // Fork lengths and positions are 32-bit fields: such a file cannot be
    // described, so it must not survive looking complete.
    report("Data fork too long", MACBIN_SEVERE);
    record_write_failure();
  }
  MacBin_PutBuf(nullptr, 0, static_cast<int32_t>(padding));
  channel->data_length = static_cast<int32_t>(data_length);
  channel->rsrc_offset = static_cast<int32_t>(data_length + padding);
  channel->rsrc_start = static_cast<int32_t>(resource_start);
  MacBin_PutBuf(nullptr, 0, kResourceForkHeadSize);
}

}  // extern "C"
