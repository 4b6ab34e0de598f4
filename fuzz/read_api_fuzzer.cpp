// Arbitrary bytes as a MacBinary file, read through the functions for hosts:
// MacBin_GetFileInfo, MacBin_ReadDataFork around both ends of the data fork,
// and MacBin_ReadResourceData for every reference of every type and for
// pointers that are not references of the channel (another channel's among
// them), and MacBin_ListResources against those per-reference answers.  Besides the sanitizers, every answer is checked against the input
// bytes themselves (what the header says, where the forks lie, what a length
// word holds), and no call may move the channel's file or change its cur_*
// fields.  Buffers are exactly as large as the call is told, so a byte
// written past them shows.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tessel.h"
#include "fuzz_session.hpp"
#include "tessel/testing.h"
#include "varnel.h"

namespace {

// Invariant violations end the run where libFuzzer sees them.
#define REQUIRE(condition)         \
  do {                             \
    if (!(condition)) std::abort(); \
  } while (0)

constexpr uint8_t kPattern = varnel_fuzz::kZoneFill;
constexpr int64_t kBlock = 128;

// The session, and the file each input is written to.
struct Scratch {
  varnel_fuzz::Session session{"read-api"};
  std::string path = session.file("input.bin");
  Scratch() { varnel_fuzz::silence_messages(); }
};

Scratch &scratch() {
  static Scratch instance;
  return instance;
}

// The input, as the file holds it.
struct Input {
  const uint8_t *bytes;
  int64_t size;
  // The data fork follows the header block and, in MacBinary II and III, a
  // secondary header padded to whole blocks (its length is the word at 120).
  int64_t data_start;

  // A header byte (a file that opens holds all 128; zero past the end).
  uint8_t header_byte(int64_t position) const { return position < size ? bytes[position] : 0; }
  uint32_t header_be32(int64_t position) const {
    return (uint32_t{header_byte(position)} << 24) | (uint32_t{header_byte(position + 1)} << 16) |
           (uint32_t{header_byte(position + 2)} << 8) | header_byte(position + 3);
  }
  // Four bytes that the caller knows to lie inside the input.
  uint32_t be32(int64_t position) const { return header_be32(position); }
  bool holds(int64_t position, int64_t count) const {
    return position >= 0 && count >= 0 && position <= size && count <= size - position;
  }
  bool same_bytes(int64_t position, const void *buffer, int64_t count) const {
    return count == 0 || std::memcmp(bytes + position, buffer, static_cast<size_t>(count)) == 0;
  }
};

// What the channel looks like to a host before a call; the functions under
// test must leave all of it as it was.
struct ChannelSnapshot {
  int64_t position;
  char cur_type[8];
  int32_t cur_id;
  const char *cur_name;

  explicit ChannelSnapshot(MacBinChannel *channel)
      : position(fgetp(channel->file)), cur_id(channel->cur_id), cur_name(channel->cur_name) {
    std::memcpy(cur_type, channel->cur_type, sizeof cur_type);
  }
  void require_unchanged(MacBinChannel *channel) const {
    REQUIRE(fgetp(channel->file) == position);
    REQUIRE(std::memcmp(cur_type, channel->cur_type, sizeof cur_type) == 0);
    REQUIRE(cur_id == channel->cur_id);
    REQUIRE(cur_name == channel->cur_name);
  }
};

int32_t read_data_fork(MacBinChannel *channel, int64_t offset, void *buffer, int32_t count) {
  const ChannelSnapshot before(channel);
  const int32_t result = MacBin_ReadDataFork(channel, offset, buffer, count);
  before.require_unchanged(channel);
  return result;
}

int32_t read_resource_data(MacBinChannel *channel, const MacBinRefEntry *ref, void *buffer,
                           int32_t capacity) {
  const ChannelSnapshot before(channel);
  const int32_t result = MacBin_ReadResourceData(channel, ref, buffer, capacity);
  before.require_unchanged(channel);
  return result;
}

bool has_nul(const char *text, size_t size) { return std::memchr(text, 0, size) != nullptr; }

// GetFileInfo's invariants, and its fields against the header bytes.
MacBinFileInfo check_file_info(MacBinChannel *channel, const Input &input) {
  MacBinFileInfo info;
  std::memset(&info, kPattern, sizeof info);
  const ChannelSnapshot before(channel);
  REQUIRE(MacBin_GetFileInfo(channel, &info) == 1);
  before.require_unchanged(channel);

  REQUIRE(info.format >= MACBIN_FORMAT_CLASSIC && info.format <= MACBIN_FORMAT_III);
  REQUIRE(info.crc_state >= -1 && info.crc_state <= 1);
  REQUIRE((info.crc_state == -1) == (info.format == MACBIN_FORMAT_CLASSIC));
  for (const uint32_t word : info.reserved) REQUIRE(word == 0);
  REQUIRE(has_nul(info.name, sizeof info.name));
  REQUIRE(info.type[4] == '\0' && info.creator[4] == '\0');
  // Every file that opens holds its whole header and data fork.
  REQUIRE(input.holds(0, kBlock) && input.holds(input.data_start, info.data_length));
  if (info.rsrc_length == 0) {
    REQUIRE(info.rsrc_state == 0);
  } else if (info.rsrc_state == 1) {
    // A map is read only from a resource fork the file holds whole.
    REQUIRE(input.holds(input.data_start + (int64_t{info.data_length} + 127) / 128 * 128,
                        info.rsrc_length));
  } else {
    // A fork that was not read leaves no resources behind.
    REQUIRE(info.rsrc_state == -1);
    REQUIRE(channel->type_count == 0 && channel->types == nullptr && channel->names == nullptr);
  }

  REQUIRE(info.data_length == input.header_be32(83));
  REQUIRE(info.rsrc_length == input.header_be32(87));
  REQUIRE(info.created == input.header_be32(91));
  REQUIRE(info.modified == input.header_be32(95));
  REQUIRE(info.finder_flags >> 8 == input.header_byte(73));
  if (info.format == MACBIN_FORMAT_CLASSIC) REQUIRE((info.finder_flags & 0xFF) == 0);
  for (int i = 0; i < 4; ++i) {
    REQUIRE(static_cast<uint8_t>(info.type[i]) == input.header_byte(65 + i));
    REQUIRE(static_cast<uint8_t>(info.creator[i]) == input.header_byte(69 + i));
  }
  // At most 63 characters of the name are kept, however long it says it is.
  const int name_length = std::min<int>(input.header_byte(1), 63);
  for (int i = 0; i < name_length; ++i) {
    REQUIRE(static_cast<uint8_t>(info.name[i]) == input.header_byte(2 + i));
  }
  REQUIRE(info.name[name_length] == '\0');
  REQUIRE(static_cast<int64_t>(info.data_length) == channel->data_length);
  REQUIRE(std::min<int64_t>(info.rsrc_length, std::numeric_limits<int32_t>::max()) ==
          channel->rsrc_length);

  // Refusals leave the record alone.
  MacBinFileInfo untouched;
  std::memset(&untouched, kPattern, sizeof untouched);
  MacBinFileInfo copy = untouched;
  REQUIRE(MacBin_GetFileInfo(nullptr, &copy) == 0);
  REQUIRE(std::memcmp(&copy, &untouched, sizeof copy) == 0);
  REQUIRE(MacBin_GetFileInfo(channel, nullptr) == 0);
  before.require_unchanged(channel);
  return info;
}

// What MacBin_ReadDataFork must answer for this request, from the contract
// and the input alone.
int64_t expected_data_read(const Input &input, int64_t fork_length, int64_t offset,
                           bool null_buffer, int32_t count) {
  if (count < 0 || (null_buffer && count != 0) || offset < 0 || offset > fork_length) return -1;
  const int64_t wanted = std::min<int64_t>(count, fork_length - offset);
  if (wanted == 0) return 0;
  if (!input.holds(input.data_start + offset, wanted)) return -1;
  return wanted;
}

void check_data_read(MacBinChannel *channel, const Input &input, int64_t fork_length,
                     int64_t offset, int32_t count) {
  // A null buffer with this count first.
  REQUIRE(read_data_fork(channel, offset, nullptr, count) ==
          expected_data_read(input, fork_length, offset, true, count));
  // A buffer of exactly `count` bytes, when the count is one a buffer can
  // have and the input could fill.
  if (count < 0 || count > input.size + 1) {
    // Only requests that must fail, so that the one byte is never written.
    const int64_t expected = expected_data_read(input, fork_length, offset, false, count);
    if (expected > 0) return;
    uint8_t byte = kPattern;
    REQUIRE(read_data_fork(channel, offset, &byte, count) == expected);
    REQUIRE(byte == kPattern);
    return;
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(count) + 1, kPattern);
  const int64_t expected = expected_data_read(input, fork_length, offset, false, count);
  const int32_t result = read_data_fork(channel, offset, buffer.data() + 1, count);
  REQUIRE(result == expected);
  REQUIRE(buffer[0] == kPattern);  // nothing written before the buffer
  if (result > 0) {
    REQUIRE(input.same_bytes(input.data_start + offset, buffer.data() + 1, result));
    // Only the bytes delivered are written.
    for (size_t i = static_cast<size_t>(result) + 1; i < buffer.size(); ++i) {
      REQUIRE(buffer[i] == kPattern);
    }
  }
}

void check_data_fork(MacBinChannel *channel, const Input &input, const MacBinFileInfo &info) {
  const int64_t fork_length = info.data_length;
  const int64_t held = std::clamp<int64_t>(input.size - input.data_start, 0, fork_length);
  const int64_t offsets[] = {0,
                             fork_length / 2,
                             std::max<int64_t>(fork_length - 1, 0),
                             fork_length,
                             fork_length + 1,
                             -1,
                             std::numeric_limits<int64_t>::min(),
                             std::numeric_limits<int64_t>::max()};
  for (const int64_t offset : offsets) {
    const int64_t rest = offset >= 0 && offset <= fork_length ? fork_length - offset : 0;
    const int64_t counts[] = {0,   1,        17,       rest, rest + 1, held,
                              -1, std::numeric_limits<int32_t>::min()};
    for (const int64_t count : counts) {
      if (count > std::numeric_limits<int32_t>::max()) continue;
      check_data_read(channel, input, fork_length, offset, static_cast<int32_t>(count));
    }
  }
}

// Where the resource fork and its data lie, worked out from the input.
struct ForkFacts {
  int64_t start;       // first byte of the resource fork
  int64_t end;         // end of the fork as far as the file holds it
  int64_t data_start;  // first byte of the resource data
};

ForkFacts fork_facts(const Input &input, const MacBinFileInfo &info) {
  ForkFacts fork{};
  fork.start = input.data_start + (int64_t{info.data_length} + 127) / 128 * 128;
  fork.end = std::min<int64_t>(fork.start + info.rsrc_length, input.size);
  // The map was read, so the fork header lies inside the file.
  REQUIRE(input.holds(fork.start, 16));
  fork.data_start = fork.start + input.be32(fork.start);
  return fork;
}

// What MacBin_ReadResourceData must answer for one of the channel's
// references: its length, or -1 when its length word or data lies outside
// the fork or the file.
int64_t expected_resource_length(const Input &input, const ForkFacts &fork,
                                 const MacBinRefEntry &ref) {
  const int64_t length_pos = fork.data_start + ref.data_offset;
  if (length_pos < fork.start || length_pos + 4 > fork.end) return -1;
  const int64_t length = input.be32(length_pos);
  if (length > fork.end - (length_pos + 4)) return -1;
  return length;
}

void check_resource(MacBinChannel *channel, const Input &input, const ForkFacts &fork,
                    const MacBinRefEntry &ref) {
  const int64_t expected = expected_resource_length(input, fork, ref);
  REQUIRE(read_resource_data(channel, &ref, nullptr, 0) == expected);
  // A null buffer with room claimed, and a negative capacity.
  REQUIRE(read_resource_data(channel, &ref, nullptr, 1) == -1);
  uint8_t byte = kPattern;
  REQUIRE(read_resource_data(channel, &ref, &byte, -1) == -1);
  REQUIRE(byte == kPattern);
  if (expected < 0) {
    REQUIRE(read_resource_data(channel, &ref, &byte, 1) == -1);
    return;
  }
  // Never a buffer sized by a length the input cannot hold.
  REQUIRE(expected <= input.size);
  const int64_t data_pos = fork.data_start + ref.data_offset + 4;

  // Exactly the length.
  std::vector<uint8_t> exact(static_cast<size_t>(expected));
  REQUIRE(read_resource_data(channel, &ref, exact.data(), static_cast<int32_t>(expected)) ==
          expected);
  REQUIRE(input.same_bytes(data_pos, exact.data(), expected));

  // Less room than the length: the first bytes, and the whole length told.
  if (expected > 0) {
    const int64_t capacity = expected / 2;
    std::vector<uint8_t> part(static_cast<size_t>(capacity));
    REQUIRE(read_resource_data(channel, &ref, part.data(), static_cast<int32_t>(capacity)) ==
            expected);
    REQUIRE(input.same_bytes(data_pos, part.data(), capacity));
  }

  // More room than the length: the bytes after the data are not written.
  std::vector<uint8_t> roomy(static_cast<size_t>(expected) + 8, kPattern);
  REQUIRE(read_resource_data(channel, &ref, roomy.data(), static_cast<int32_t>(roomy.size())) ==
          expected);
  REQUIRE(input.same_bytes(data_pos, roomy.data(), expected));
  for (size_t i = static_cast<size_t>(expected); i < roomy.size(); ++i) {
    REQUIRE(roomy[i] == kPattern);
  }
}

// True when `ref` is the address of one of the channel's references.
bool is_listed(const MacBinChannel *channel, const MacBinRefEntry *ref) {
  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    for (int32_t r = 0; r < entry.count; ++r) {
      if (&entry.refs[r] == ref) return true;
    }
  }
  return false;
}

// Pointers that are not the channel's references must be refused, even when
// they hold a reference's contents or point into the reference block.
void check_foreign_references(MacBinChannel *channel) {
  REQUIRE(read_resource_data(channel, nullptr, nullptr, 0) == -1);
  uint8_t buffer[16];
  if (channel->type_count == 0) {
    const MacBinRefEntry made{128, -1, nullptr, 0, 0};
    REQUIRE(read_resource_data(channel, &made, nullptr, 0) == -1);
    return;
  }
  const MacBinTypeEntry &first = channel->types[0];
  const MacBinRefEntry copy = first.refs[0];  // same contents, another address
  REQUIRE(read_resource_data(channel, &copy, nullptr, 0) == -1);
  REQUIRE(read_resource_data(channel, &copy, buffer, sizeof buffer) == -1);

  // One past the last reference of each type: the next type's first
  // reference when the block goes on, foreign only past its end.
  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    const MacBinRefEntry *past = entry.refs + entry.count;
    if (!is_listed(channel, past)) {
      REQUIRE(read_resource_data(channel, past, nullptr, 0) == -1);
      REQUIRE(read_resource_data(channel, past, buffer, sizeof buffer) == -1);
    }
  }

  // Inside a reference rather than at its start (at an aligned member, so
  // the pointer itself is an ordinary one).
  const auto *inside = reinterpret_cast<const MacBinRefEntry *>(
      reinterpret_cast<const char *>(first.refs) + offsetof(MacBinRefEntry, name));
  REQUIRE(!is_listed(channel, inside));
  REQUIRE(read_resource_data(channel, inside, nullptr, 0) == -1);
}

// The references of another channel on the same file: records of the same
// contents at addresses of another block, refused both ways.
void check_other_channel(MacBinChannel *channel, const char *path) {
  MacBinChannel *other = MacBin_OpenR(path);
  REQUIRE(other != nullptr);  // it opened once already
  REQUIRE(other->type_count == channel->type_count);
  for (int32_t t = 0; t < other->type_count; ++t) {
    const MacBinTypeEntry &entry = other->types[t];
    for (int32_t r = 0; r < entry.count; ++r) {
      REQUIRE(read_resource_data(channel, &entry.refs[r], nullptr, 0) == -1);
      REQUIRE(read_resource_data(other, &channel->types[t].refs[r], nullptr, 0) == -1);
    }
  }
  MacBin_Close(other);
}

void check_resources(MacBinChannel *channel, const Input &input, const MacBinFileInfo &info) {
  check_foreign_references(channel);
  if (info.rsrc_state != 1) return;
  const ForkFacts fork = fork_facts(input, info);
  REQUIRE(channel->rsrc_start == fork.start);
  REQUIRE(channel->rdata_pos == fork.data_start);
  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    REQUIRE(entry.count >= 1);
    for (int32_t r = 0; r < entry.count; ++r) check_resource(channel, input, fork, entry.refs[r]);
  }
}

// MacBin_ListResources agrees with the per-reference calls on every
// reference, in map order, whole and from the middle, with its areas
// exactly as large as it is told (a pattern byte after each shows a write
// past them), and leaves the channel as it was.
void check_listing(MacBinChannel *channel) {
  int64_t total = 0;
  for (int32_t t = 0; t < channel->type_count; ++t) total += channel->types[t].count;
  REQUIRE(MacBin_ListResources(channel, 0, nullptr, 0, nullptr, 0, nullptr, 0) == total);
  if (total == 0) return;
  const int32_t count = static_cast<int32_t>(total);
  int64_t data_bytes = 0;
  for (int32_t t = 0; t < channel->type_count; ++t) {
    for (int32_t r = 0; r < channel->types[t].count; ++r) {
      data_bytes += std::max(MacBin_ReadResourceData(channel, &channel->types[t].refs[r], nullptr, 0), 0);
    }
  }
  // Room for about half the bytes: some are copied, the rest are not.
  const int32_t data_room = static_cast<int32_t>(std::min<int64_t>(data_bytes / 2, 1 << 24));
  for (const int32_t first : {0, count / 2}) {
    std::vector<MacBinResourceListing> entries(static_cast<size_t>(count - first) + 1);
    std::vector<char> names(static_cast<size_t>(channel->map_length) + 2, static_cast<char>(kPattern));
    std::vector<uint8_t> data(static_cast<size_t>(data_room) + 1, kPattern);
    const ChannelSnapshot before(channel);
    const int32_t listed = MacBin_ListResources(channel, first, entries.data(), count - first, names.data(),
                                                static_cast<int32_t>(names.size() - 1), data.data(), data_room);
    before.require_unchanged(channel);
    REQUIRE(listed == count - first);
    REQUIRE(static_cast<uint8_t>(names.back()) == kPattern && data.back() == kPattern);
    int64_t number = 0;
    bool copying = true;
    int32_t next_data = 0;
    for (int32_t t = 0; t < channel->type_count; ++t) {
      for (int32_t r = 0; r < channel->types[t].count; ++r, ++number) {
        if (number < first) continue;
        const MacBinResourceListing &entry = entries[static_cast<size_t>(number - first)];
        const MacBinRefEntry *ref = &channel->types[t].refs[r];
        REQUIRE(entry.ref == ref);
        REQUIRE(std::memcmp(entry.type, channel->types[t].type, 4) == 0);
        REQUIRE(entry.id == (ref->id > 32767 ? ref->id - 65536 : ref->id));
        REQUIRE(entry.attributes == ref->attributes);
        const int32_t length = MacBin_ReadResourceData(channel, ref, nullptr, 0);
        REQUIRE(entry.length == length);
        char name[256];
        const int32_t name_length = MacBin_GetResourceName(channel, ref, name, sizeof name);
        REQUIRE(entry.name_length == (ref->name_offset == -1 ? -1 : name_length));
        if (entry.name_offset >= 0) {
          REQUIRE(std::memcmp(names.data() + entry.name_offset, name, static_cast<size_t>(name_length)) == 0);
        }
        if (length < 0) {
          REQUIRE(entry.data_offset == -1);
          continue;
        }
        if (copying && length <= data_room - next_data) {
          REQUIRE(entry.data_offset == next_data);
          std::vector<uint8_t> bytes(static_cast<size_t>(length) + 1);
          REQUIRE(MacBin_ReadResourceData(channel, ref, bytes.data(), length) == length);
          REQUIRE(length == 0 || std::memcmp(data.data() + next_data, bytes.data(), static_cast<size_t>(length)) == 0);
          next_data += length;
        } else {
          copying = false;
          REQUIRE(entry.data_offset == -1);
        }
      }
    }
  }
  MacBinResourceListing one;
  REQUIRE(MacBin_ListResources(channel, count, &one, 1, nullptr, 0, nullptr, 0) == 0);
  REQUIRE(MacBin_ListResources(channel, -1, &one, 1, nullptr, 0, nullptr, 0) == -1);
  REQUIRE(MacBin_ListResources(channel, 0, nullptr, 1, nullptr, 0, nullptr, 0) == -1);
}

// A host reading from inside a read handler: the file must still be at the
// data afterwards, for the handler's own reads.
MacBinChannel *handler_channel = nullptr;
const Input *handler_input = nullptr;

int32_t read_inside_handler(MacBinChannel *channel, int32_t data_pos, int32_t data_length) {
  if (channel != handler_channel || handler_input == nullptr) std::abort();
  REQUIRE(fgetp(channel->file) == data_pos);
  uint8_t head[8];
  read_data_fork(channel, 0, head, sizeof head);
  if (channel->type_count > 0) {
    read_resource_data(channel, &channel->types[0].refs[0], head, sizeof head);
  }
  const int64_t count = std::min<int64_t>(data_length, sizeof head);
  if (handler_input->holds(data_pos, count)) {
    REQUIRE(fgetm(channel->file, head, count) == 1);
    REQUIRE(handler_input->same_bytes(data_pos, head, count));
  }
  return 0;
}

// Every check once with the channel as MacBin_OpenR left it, and once more
// after a query positioned its file and set its cur_* fields.
void run_every_read(MacBinChannel *channel, const Input &input, const char *path) {
  const MacBinFileInfo info = check_file_info(channel, input);
  check_data_fork(channel, input, info);
  check_resources(channel, input, info);
  check_listing(channel);
  check_other_channel(channel, path);

  REQUIRE(MacBin_ReadDataFork(nullptr, 0, nullptr, 0) == -1);
  REQUIRE(MacBin_ReadResourceData(nullptr, nullptr, nullptr, 0) == -1);

  handler_channel = channel;
  handler_input = &input;
  char type[5] = {0, 0, 0, 0, 0};
  for (int32_t t = 0; t < channel->type_count; ++t) {
    MacBin_GetIndType(channel, type, t);
    MacBin_GetIndResource(channel, type, 0);
  }
  handler_channel = nullptr;
  handler_input = nullptr;
  if (channel->type_count > 0) {
    check_data_fork(channel, input, info);
    check_resources(channel, input, info);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Scratch &files = scratch();
  static const bool registered = MacBin_AddProcessor("****", read_inside_handler, nullptr) == 0;
  if (!registered) std::abort();

  FILE *file = std::fopen(files.path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  MacBinChannel *channel = MacBin_OpenR(files.path.c_str());
  if (channel == nullptr) return 0;
  // The checks below read the input as MacBinary; the other containers
  // have a target of their own (read_containers).
  MacBinFileInfo info;
  if (MacBin_GetFileInfo(channel, &info) != 1 || info.format > MACBIN_FORMAT_III) {
    MacBin_Close(channel);
    return 0;
  }
  const int64_t secondary =
      info.format == MACBIN_FORMAT_CLASSIC ? 0 : (int64_t{data[120]} << 8 | data[121]);
  const Input input{data, static_cast<int64_t>(size),
                    kBlock + (secondary + kBlock - 1) / kBlock * kBlock};
  run_every_read(channel, input, files.path.c_str());
  MacBin_Close(channel);
  return 0;
}
