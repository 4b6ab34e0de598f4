// MacBin_OpenR: which container a file is, then that container's opener.
//
// The order: a file that is itself a container is read as one (the magic
// numbers of AppleSingle and AppleDouble, the BinHex line, the MacBinary
// header checks, a bare resource fork); only a file that is none of them
// is taken as the data fork of an AppleDouble header file "._NAME" beside
// it.  A file that is none of them and has no such header file is read as
// MacBinary, as the reader always has: its first 128 bytes are taken as the
// header, and what does not fit is reported as a cut fork.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "format/apple_single.hpp"
#include "frame/internal.hpp"
#include "reader/container_detection.hpp"
#include "reader/container_openers.hpp"
#include "reader/messages.hpp"
#include "reader/open_steps.hpp"
#include "stream/internal.hpp"

std::string_view base_name(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool open_input_file(const char *path, InputFile &input) {
  errno = 0;
  input.file.reset(fopenr("STREAM", path, "", 0));
  if (input.file == nullptr) {
    const int reason = errno;
    std::string text = kTextCannotOpen;
    if (reason != 0) text += std::string(" (") + std::strerror(reason) + ")";
    errno = reason;
    report(text.c_str(), MACBIN_ERROR, MACBIN_ERR_IO);
    return false;
  }
  errno = 0;
  const int64_t eof = fgeteof(input.file.get());
  if (eof < 0) {
    report(kTextCannotRead, MACBIN_ERROR, MACBIN_ERR_IO);
    input.file.reset();
    return false;
  }
  input.length = std::min(eof, kMaxReadPosition);
  input.size_bytes = eof;
  input.path = path;
  return true;
}

ChannelHandle make_read_channel(InputFile &input) {
  MacBinChannel *fresh = MacBin_NewChannel();  // reports when there is no room
  if (fresh == nullptr) return nullptr;
  fresh->mode = kChannelReading;
  fresh->file = input.file.release();
  extension_of(fresh)->close = close_read_channel;
  ChannelHandle channel(fresh);
  auto *index = new ReaderIndex();
  extension_of(channel.get())->state = index;
  index->file_length_bytes = input.length;
  index->data_file = channel->file;
  index->data_file_length = input.length;
  return channel;
}

void set_file_facts(MacBinChannel &channel, ReaderIndex &index, const FileFacts &facts,
                    int64_t rsrc_start) {
  varnel::format::MacBinaryFacts &header = index.header;
  index.format = facts.format;
  header.crc_state = facts.crc_state;
  const size_t name_length = std::min(facts.name.size(), sizeof header.name - 1);
  std::memcpy(header.name, facts.name.data(), name_length);
  header.name[name_length] = '\0';
  header.name_length = static_cast<uint8_t>(name_length);
  std::memcpy(header.type, facts.type, 4);
  header.type[4] = '\0';
  std::memcpy(header.creator, facts.creator, 4);
  header.creator[4] = '\0';
  header.finder_flags = facts.finder_flags;
  header.created = facts.created;
  header.modified = facts.modified;
  header.data_length = facts.data_length;
  header.rsrc_length = facts.rsrc_length;
  header.finder_info = facts.finder_info;
  namespace format = varnel::format;
  std::memcpy(header.finder_info.data() + format::kFinderTypeAt, facts.type, 4);
  std::memcpy(header.finder_info.data() + format::kFinderCreatorAt, facts.creator, 4);
  format::put_be16(header.finder_info.data() + format::kFinderFlagsAt, facts.finder_flags);

  MacBinFinderInfo &finder = channel.finder;
  std::memcpy(finder.name, header.name, sizeof finder.name);
  std::memcpy(finder.type, header.type, sizeof finder.type);
  std::memcpy(finder.creator, header.creator, sizeof finder.creator);
  finder.flags = static_cast<int16_t>(facts.finder_flags);
  // Callers have checked both lengths against 32-bit positions.
  channel.data_length = static_cast<int32_t>(facts.data_length);
  channel.rsrc_offset = static_cast<int32_t>(
      std::min<int64_t>((int64_t{facts.data_length} + 127) / 128 * 128, kMaxReadPosition));
  channel.rsrc_start = static_cast<int32_t>(rsrc_start);
  channel.rsrc_length = static_cast<int32_t>(facts.rsrc_length);
}

std::string apple_double_header_path(std::string_view path) {
  const std::string_view name = base_name(path);
  std::string folder(path.substr(0, path.size() - name.size()));
  return folder + std::string(varnel::format::kAppleDoublePrefix) + std::string(name);
}

namespace {

MacBinChannel *open_for_reading(const char *path) {
  if (path == nullptr || path[0] == '\0') {
    report(kTextNoFileName, MACBIN_ERROR, MACBIN_ERR_ARGUMENT);
    return nullptr;
  }
  InputFile input;
  if (!open_input_file(path, input)) return nullptr;
  Container container = Container::kNone;
  {
    CheckedFile checked(input.file.get(), input.length);
    if (!detect_container(checked, &container)) {
      report(kTextCannotRead, MACBIN_ERROR, MACBIN_ERR_IO);
      return nullptr;
    }
  }
  switch (container) {
    case Container::kAppleSingle:
    case Container::kAppleDouble: return open_apple_file(input);
    case Container::kBinHex: return open_binhex(input);
    case Container::kMacBinary: return open_macbinary(input);
    case Container::kResourceFork: return open_bare_resource_fork(input);
    case Container::kNone: break;
  }

  // A header file that is not there, or cannot be opened, is no header
  // file: nothing is reported about it.
  const std::string header_path = apple_double_header_path(path);
  InputFile header;
  header.file.reset(fopenr("STREAM", header_path.c_str(), "", 0));
  if (header.file != nullptr) {
    const int64_t eof = fgeteof(header.file.get());
    header.length = std::min(eof, kMaxReadPosition);
    header.size_bytes = eof;
    header.path = header_path;
    if (eof >= 0) {
      bool not_a_header = false;
      MacBinChannel *channel = open_apple_double_pair(header, input, not_a_header);
      if (channel != nullptr || !not_a_header) return channel;
    }
  }
  return open_macbinary(input);
}

}  // namespace

// No exception leaves the library: running out of heap for the map or the
// index is reported like running out of zone (everything built is released
// on the way out).
MacBinChannel *MacBin_OpenR(const char *path) {
  try {
    return open_for_reading(path);
  } catch (...) {
    report(kTextOutOfMemory, MACBIN_ERROR, MACBIN_ERR_MEMORY);
    return nullptr;
  }
}
