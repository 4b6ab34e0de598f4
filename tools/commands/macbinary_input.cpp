#include "macbinary_input.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr int32_t kCopyChunkBytes = 64 * 1024;

// The smallest MacBinary file: its header.
constexpr int64_t kHeaderBytes = 128;

}  // namespace

std::string ResourceEntry::label() const {
  std::string text = type + " " + std::to_string(signed_id());
  if (occurrence > 1) text += " #" + std::to_string(occurrence);
  return text;
}

std::string ResourceEntry::file_name() const {
  std::array<char, 64> text{};  // 4 escaped bytes, an ID and an occurrence
  MacBin_ResourceFileName(type.c_str(), signed_id(), occurrence, text.data(), text.size());
  return text.data();
}

MacBinaryInput::~MacBinaryInput() {
  if (channel_ != nullptr) MacBin_Close(channel_);
}

bool MacBinaryInput::open(const std::string &path, ResourceNeed need) {
  argument_ = path;
  const bool standard_input = path == "-";
  path_ = standard_input ? "<stdin>" : path;
  const int fd = standard_input ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Reporter::instance().error(path_ + ": cannot open: " + std::strerror(errno));
    return false;
  }
  const bool ok = find_library_path(fd, standard_input ? "" : path);
  if (!standard_input) close(fd);
  return ok && open_channel(need);
}

// Where the library reads the input: a regular file by its name, anything
// else (standard input, a pipe, a device) from a copy.  `path` is empty for
// standard input.
bool MacBinaryInput::find_library_path(int fd, const std::string &path) {
  Reporter &reporter = Reporter::instance();
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    reporter.error(path_ + ": cannot read: " + std::strerror(errno));
    return false;
  }
  if (S_ISDIR(status.st_mode)) {
    reporter.error(path_ + ": cannot read: " + std::strerror(EISDIR));
    return false;
  }
  if (S_ISREG(status.st_mode) && !path.empty()) {
    library_path_ = path;
    file_size_ = status.st_size;
    return true;
  }
  // Read once, then opened by name like any file.
  copy_ = std::make_unique<InputCopy>();
  std::string error;
  if (!copy_->copy_from(fd, kMaxInputCopyBytes, error)) {
    reporter.error(path_ + ": " + error);
    return false;
  }
  library_path_ = copy_->path();
  file_size_ = copy_->size();
  return true;
}

bool MacBinaryInput::open_channel(ResourceNeed need) {
  Reporter &reporter = Reporter::instance();
  container_ = MacBin_IdentifyFile(library_path_.c_str());
  if (container_ < 0) {
    reporter.error(path_ + ": cannot read: " + std::strerror(errno != 0 ? errno : EIO));
    return false;
  }
  // A file that is no container at all would still be opened as
  // MacBinary, and the library would blame its forks: the few bytes every
  // MacBinary writer sets tell such files apart first, and the message
  // says what the file is not.
  if (container_ == 0 && !looks_like_a_header()) return false;
  // The library says why a file it refuses is unusable (shorter than its
  // data fork, unreadable, a damaged header), and warns when it opens one
  // whose resource fork it could not read; its messages name the file
  // through the context.
  const int warnings_before = reporter.warning_count();
  const int errors_before = reporter.error_count();
  {
    ReportContext context(path_);
    channel_ = MacBin_OpenR(library_path_.c_str());
  }
  const bool library_warned = reporter.warning_count() > warnings_before;
  if (channel_ == nullptr) {
    if (reporter.error_count() == errors_before) reporter.error(path_ + ": not a MacBinary file");
    reporter.mark_failed();
    return false;
  }
  if (MacBin_GetFileInfo(channel_, &info_) != 1) {
    reporter.error(path_ + ": the library gives no header facts for this file");
    return false;
  }
  if (!forks_fit_the_file()) return false;
  warn_of_damage(need, library_warned);
  collect_resources();
  return true;
}

void MacBinaryInput::warn_of_damage(ResourceNeed need, bool library_warned) const {
  Reporter &reporter = Reporter::instance();
  if (info_.crc_state == 0)
    reporter.warning(path_ + (info_.format == MACBIN_FORMAT_BINHEX
                                  ? ": a fork's CRC does not match: its bytes may be damaged"
                                  : ": the header's CRC does not match: its fields may be damaged"));
  if (resource_fork_unread()) {
    // The header and the data fork are still of use; the run fails all the
    // same when the resources were wanted, since part of the file was lost.
    // The library's warning says what it did not read and why.
    if (!library_warned) reporter.warning(path_ + ": the resource fork was not read; no resources were read");
    if (need == ResourceNeed::kResources) reporter.mark_failed();
  }
}

// The library reads any 128 bytes as a header and blames what it cannot
// read on the forks; two bytes every MacBinary writer sets tell most other
// files apart first: the zero byte at 0 and a name length of 1 to 63.
bool MacBinaryInput::looks_like_a_header() const {
  const auto refuse = [&](const std::string &reason) {
    Reporter::instance().error(path_ + ": not a Macintosh file (" + reason +
                               "; nor an AppleSingle, AppleDouble or BinHex file or a resource fork)");
    return false;
  };
  if (file_size_ < kHeaderBytes)
    return refuse("not MacBinary: " + std::to_string(file_size_) + " bytes, shorter than the 128-byte header");
  std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(library_path_.c_str(), "rb"), std::fclose);
  uint8_t header[2] = {};
  if (!file || std::fread(header, 1, sizeof header, file.get()) != sizeof header) {
    Reporter::instance().error(path_ + ": read error: " + std::strerror(errno != 0 ? errno : EIO));
    return false;
  }
  if (header[0] != 0) return refuse("not MacBinary: its first byte is not zero");
  if (header[1] == 0 || header[1] > 63)
    return refuse("not MacBinary: its name length is " + std::to_string(header[1]));
  return true;
}

// The library reads any 128 bytes as a header (and refuses one whose data
// fork the file does not hold); a file of another kind shows itself by
// naming no file.
bool MacBinaryInput::forks_fit_the_file() {
  int32_t rsrc_offset = 0, rsrc_length = 0;
  MacBin_GetResourceBlockParams(channel_, &rsrc_offset, &rsrc_length);
  rsrc_offset_ = rsrc_offset;
  const bool macbinary = info_.format >= MACBIN_FORMAT_CLASSIC && info_.format <= MACBIN_FORMAT_III;
  if (!macbinary || info_.name[0] != '\0') return true;
  Reporter::instance().error(path_ + ": not a MacBinary file (the header names no file)");
  return false;
}

std::string MacBinaryInput::cut_resource_fork_text() const {
  // Where the fork lies in the file the user named, the file tells how
  // much of it is there; AppleDouble keeps it in a file of its own and
  // BinHex in its text.
  const bool in_named_file = info_.format != MACBIN_FORMAT_APPLEDOUBLE && info_.format != MACBIN_FORMAT_BINHEX;
  if (!in_named_file)
    return "the resource fork is cut short (the file holds fewer than its " + std::to_string(info_.rsrc_length) +
           " bytes)";
  return "the resource fork is cut short (the file holds " +
         std::to_string(std::max<int64_t>(file_size_ - rsrc_offset_, 0)) + " of its " +
         std::to_string(info_.rsrc_length) + " bytes)";
}

bool MacBinaryInput::resource_fork_unread() const { return info_.rsrc_state < 0; }

void MacBinaryInput::collect_resources() {
  std::map<std::pair<std::string, int32_t>, int32_t> seen;  // (type, ID) -> resources so far
  const int32_t type_count = MacBin_GetNrTypes(channel_);
  for (int32_t t = 0; t < type_count && channel_->types != nullptr; ++t) {
    const MacBinTypeEntry &entry = channel_->types[t];
    for (int32_t r = 0; r < entry.count && entry.refs != nullptr; ++r) {
      const MacBinRefEntry &reference = entry.refs[r];
      ResourceEntry resource;
      resource.type.assign(entry.type, 4);
      resource.id = reference.id;
      resource.named = reference.name_offset != -1 && reference.name != nullptr;
      if (resource.named) {
        std::array<char, MACBIN_MAX_FULL_NAME_LENGTH + 1> name{};
        const int32_t length = MacBin_GetResourceName(channel_, &reference, name.data(), name.size());
        resource.name.assign(name.data(), static_cast<size_t>(std::clamp(length, 0, MACBIN_MAX_FULL_NAME_LENGTH)));
      }
      resource.attributes = reference.attributes;
      resource.occurrence = ++seen[{resource.type, resource.id}];
      resource.reference = &reference;
      resources_.push_back(std::move(resource));
    }
  }
}

std::string MacBinaryInput::name() const {
  return std::string(info_.name, strnlen(info_.name, sizeof info_.name));
}
std::string MacBinaryInput::type() const { return std::string(info_.type, 4); }
std::array<uint8_t, 32> MacBinaryInput::finder_info() const {
  std::array<uint8_t, 32> block{};
  MacBin_GetFinderInfoBytes(channel_, block.data());
  return block;
}
std::string MacBinaryInput::creator() const { return std::string(info_.creator, 4); }

void MacBinaryInput::give_facts_to(MacBinChannel *channel) const {
  const std::array<uint8_t, 32> finder = finder_info();
  MacBin_SetFinderInfoBytes(channel, finder.data());
  std::memcpy(channel->finder.type, info_.type, 4);
  std::memcpy(channel->finder.creator, info_.creator, 4);
  channel->finder.flags = static_cast<int16_t>(info_.finder_flags);
  if (info_.created != 0 || info_.modified != 0) MacBin_SetDates(channel, info_.created, info_.modified);
}

bool MacBinaryInput::read_resource(const ResourceEntry &entry, std::vector<uint8_t> *data, int64_t &length) {
  const int32_t stored = MacBin_ReadResourceData(channel_, entry.reference, nullptr, 0);
  bool ok = stored >= 0;
  if (ok) {
    length = stored;
    if (data != nullptr) {
      data->assign(static_cast<size_t>(stored), 0);
      ok = MacBin_ReadResourceData(channel_, entry.reference, data->data(), stored) == stored;
    }
  }
  if (!ok)
    Reporter::instance().error(path_ + ": the data of resource " + entry.label() +
                               " lies outside the resource fork");
  return ok;
}

bool MacBinaryInput::read_contents(const ResourceEntry &entry, std::vector<uint8_t> &data) {
  const int32_t length = MacBin_ReadResourceUncompressed(channel_, entry.reference, nullptr, 0);
  if (length >= 0) {
    data.assign(static_cast<size_t>(length), 0);
    if (MacBin_ReadResourceUncompressed(channel_, entry.reference, data.data(), length) == length) return true;
  }
  Reporter::instance().mark_failed();  // the library named the resource and the reason
  return false;
}

std::optional<MacBinCompressionInfo> MacBinaryInput::compression(const ResourceEntry &entry) const {
  MacBinCompressionInfo facts{};
  if (MacBin_GetResourceCompression(channel_, entry.reference, &facts) != 1) return std::nullopt;
  return facts;
}

const ResourceEntry *MacBinaryInput::find(const std::string &type, int32_t id) const {
  for (const ResourceEntry &entry : resources_)
    if (entry.type == type && entry.signed_id() == static_cast<int16_t>(id)) return &entry;
  return nullptr;
}

// Hands a fork to `write` piece by piece through `read` (the library's
// MacBin_ReadDataFork or MacBin_ReadResourceFork); false after an error
// message, `failure` saying why a read failed without a system reason.
template <typename Read>
bool copy_fork(Read read, MacBinChannel *channel, const ByteWriter &write,
               const std::function<std::string()> &failure) {
  std::vector<uint8_t> buffer(kCopyChunkBytes);
  for (int64_t offset = 0;;) {
    errno = 0;
    const int32_t count = read(channel, offset, buffer.data(), kCopyChunkBytes);
    if (count < 0) {
      Reporter::instance().error(failure());
      return false;
    }
    if (count == 0) return true;
    if (!write(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(count)))) return false;
    offset += count;
  }
}

bool MacBinaryInput::copy_data_fork(const ByteWriter &write) const {
  return copy_fork(MacBin_ReadDataFork, channel_, write, [&] {
    return path_ + ": read error in the data fork" + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
  });
}

int64_t MacBinaryInput::resource_parts_end() const {
  if (info_.rsrc_state != 1) return 0;
  const int64_t data_end = int64_t{channel_->rdata_pos} + channel_->rdata_length;
  const int64_t map_end = int64_t{channel_->map_pos} + channel_->map_length;
  return std::max(data_end, map_end) - channel_->rsrc_start;
}

bool MacBinaryInput::copy_resource_fork(const ByteWriter &write) const {
  // A map that runs past the fork's length (the library warned) would be
  // cut off in a copy of the fork, which then held no resources at all:
  // nothing rather than a fork that no reader, this one included, takes.
  if (const int64_t parts_end = resource_parts_end(); parts_end > info_.rsrc_length) {
    Reporter::instance().error(path_ + ": the resource fork is not copied: its data and map end " + std::to_string(parts_end) +
                               " bytes after its start, past its length of " + std::to_string(info_.rsrc_length) +
                               " bytes, so a copy would not hold its own map (extract --all still copies "
                               "each resource)");
    return false;
  }
  // Part of a fork is not the fork: nothing rather than a file that looks whole.
  return copy_fork(MacBin_ReadResourceFork, channel_, write, [&] {
    return errno != 0 ? path_ + ": read error in the resource fork: " + std::strerror(errno)
                      : path_ + ": " + cut_resource_fork_text();
  });
}

bool MacBinaryInput::read_resource_fork(std::vector<uint8_t> &fork) const {
  fork.clear();
  // Room for what the file can hold, not for what a damaged header claims.
  fork.reserve(std::min<int64_t>(info_.rsrc_length, file_size_));
  return copy_resource_fork([&](std::span<const uint8_t> bytes) {
    fork.insert(fork.end(), bytes.begin(), bytes.end());
    return true;
  });
}

}  // namespace varnel_tool
