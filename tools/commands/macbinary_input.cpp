#include "macbinary_input.hpp"

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tool_context.hpp"

namespace varnel_tool {
namespace {

// What the read handler is asked to do, and what it found.
struct ReadRequest {
  std::vector<uint8_t> *data = nullptr;  // null: the length is enough
  int64_t fork_end = 0;                  // the data must end by here
  bool called = false;
  bool in_bounds = false;
  bool read_ok = false;
  int64_t length = 0;
};
ReadRequest *active_request = nullptr;

bool read_data_into(TesselFile *file, int64_t length, std::vector<uint8_t> &data) {
  data.assign(static_cast<size_t>(length), 0);
  return length == 0 || fgetm(file, data.data(), length) == 1;
}

int32_t read_resource_data(MacBinChannel *channel, int32_t data_pos, int32_t data_length) noexcept {
  ReadRequest *request = active_request;
  if (request == nullptr) return 0;
  request->called = true;
  request->length = data_length;
  // The length word comes from the file: it must not reach past the fork.
  request->in_bounds = data_length >= 0 && data_pos >= 0 &&
                       int64_t{data_pos} + data_length <= request->fork_end;
  if (!request->in_bounds) return 0;
  request->read_ok = request->data == nullptr || guard_callback(false, [&] {
    return read_data_into(channel->file, data_length, *request->data);
  });
  return 0;
}

}  // namespace

bool register_read_handler() {
  if (MacBin_AddProcessor("****", read_resource_data, nullptr) != 0) {
    Reporter::instance().error("out of memory registering the read handler");
    return false;
  }
  return true;
}

MacBinaryInput::~MacBinaryInput() {
  if (channel_ != nullptr) MacBin_Close(channel_);
}

bool MacBinaryInput::open(const std::string &path) {
  Reporter &reporter = Reporter::instance();
  path_ = path;
  std::error_code code;
  if (!std::filesystem::is_regular_file(path, code)) {
    reporter.error(path + ": no such file");
    return false;
  }
  file_size_ = std::filesystem::file_size(path, code);
  std::array<uint8_t, kMacBinaryHeaderSize> bytes{};
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::string error;
  if (!in || !parse_macbinary_header(bytes, file_size_, header_, error)) {
    reporter.error(path + ": " + (error.empty() ? "not a MacBinary file (shorter than 128 bytes)" : error));
    return false;
  }
  channel_ = MacBin_OpenR(path.c_str());
  if (channel_ == nullptr) {
    reporter.error(path + ": the resource fork cannot be read");
    return false;
  }
  const int32_t type_count = MacBin_GetNrTypes(channel_);
  for (int32_t t = 0; t < type_count && channel_->types != nullptr; ++t) {
    std::array<char, 5> type{};
    MacBin_GetIndType(channel_, type.data(), t);
    const MacBinTypeEntry &entry = channel_->types[t];
    for (int32_t r = 0; r < entry.count && entry.refs != nullptr; ++r) {
      const MacBinRefEntry &reference = entry.refs[r];
      ResourceEntry resource;
      resource.type.assign(type.data(), 4);
      resource.id = reference.id;
      resource.named = reference.name_offset != -1 && reference.name != nullptr;
      if (resource.named)
        resource.name.assign(reference.name->text, strnlen(reference.name->text, sizeof reference.name->text));
      resource.attributes = reference.attributes;
      resource.type_index = t;
      resource.reference_index = r;
      resources_.push_back(resource);
    }
  }
  return true;
}

// MacBin_GetResource2 finds the first reference with the type and ID; any
// later one with the same pair is read at its reference instead.
bool MacBinaryInput::fetched_by_library(const ResourceEntry &entry) const {
  for (const ResourceEntry &other : resources_) {
    if (std::strncmp(other.type.c_str(), entry.type.c_str(), 4) != 0) continue;
    if (other.type_index != entry.type_index) return false;  // an earlier entry of the type wins
    if (other.id == entry.id) return other.reference_index == entry.reference_index;
  }
  return false;
}

bool MacBinaryInput::read_at_reference(const ResourceEntry &entry, std::vector<uint8_t> *data,
                                       int64_t &length) {
  const MacBinRefEntry &reference = channel_->types[entry.type_index].refs[entry.reference_index];
  const int64_t length_position = int64_t{channel_->rdata_pos} + reference.data_offset;
  std::array<uint8_t, 4> word{};
  if (length_position < 0 || length_position + 4 > int64_t{channel_->rsrc_start} + channel_->rsrc_length ||
      fputp(channel_->file, length_position) != length_position || fgetm(channel_->file, word.data(), 4) != 1)
    return false;
  const auto stored = static_cast<int32_t>((uint32_t{word[0]} << 24) | (uint32_t{word[1]} << 16) |
                                           (uint32_t{word[2]} << 8) | uint32_t{word[3]});
  ReadRequest request;
  request.data = data;
  request.fork_end = int64_t{channel_->rsrc_start} + channel_->rsrc_length;
  active_request = &request;
  read_resource_data(channel_, static_cast<int32_t>(length_position + 4), stored);
  active_request = nullptr;
  length = request.length;
  return request.in_bounds && request.read_ok;
}

bool MacBinaryInput::read_resource(const ResourceEntry &entry, std::vector<uint8_t> *data, int64_t &length) {
  bool ok = false;
  if (fetched_by_library(entry)) {
    ReadRequest request;
    request.data = data;
    request.fork_end = std::min<int64_t>(int64_t{channel_->rsrc_start} + channel_->rsrc_length,
                                         static_cast<int64_t>(file_size_));
    active_request = &request;
    const char type[5] = {entry.type[0], entry.type[1], entry.type[2], entry.type[3], '\0'};
    const int32_t found = MacBin_GetResource2(channel_, type, entry.id, nullptr);
    active_request = nullptr;
    length = request.length;
    ok = found == 1 && request.called && request.in_bounds && request.read_ok;
  } else {
    ok = read_at_reference(entry, data, length);
  }
  if (!ok)
    Reporter::instance().error(path_ + ": the data of resource " + entry.type + " " +
                               std::to_string(entry.signed_id()) + " lies outside the resource fork");
  return ok;
}

const ResourceEntry *MacBinaryInput::find(const std::string &type, int32_t id) const {
  for (const ResourceEntry &entry : resources_)
    if (entry.type == type && entry.signed_id() == static_cast<int16_t>(id)) return &entry;
  return nullptr;
}

bool MacBinaryInput::copy_bytes(int64_t offset, int64_t length, FILE *out) const {
  std::ifstream in(path_, std::ios::binary);
  in.seekg(offset);
  std::vector<char> buffer(64 * 1024);
  while (length > 0 && in) {
    const auto chunk = static_cast<std::streamsize>(std::min<int64_t>(length, static_cast<int64_t>(buffer.size())));
    in.read(buffer.data(), chunk);
    if (in.gcount() != chunk) break;
    if (std::fwrite(buffer.data(), 1, static_cast<size_t>(chunk), out) != static_cast<size_t>(chunk)) {
      Reporter::instance().error("write error");
      return false;
    }
    length -= chunk;
  }
  if (length != 0) {
    Reporter::instance().error(path_ + ": read error");
    return false;
  }
  return true;
}

void MacBinaryInput::data_fork(int64_t &offset, int64_t &length) const {
  int32_t fork_offset = 0, fork_length = 0;
  MacBin_GetDataBlockParams(channel_, &fork_offset, &fork_length);
  offset = fork_offset;
  length = fork_length;
}

void MacBinaryInput::resource_fork(int64_t &offset, int64_t &length) const {
  int32_t fork_offset = 0, fork_length = 0;
  MacBin_GetResourceBlockParams(channel_, &fork_offset, &fork_length);
  offset = fork_offset;
  length = fork_length;
}

}  // namespace varnel_tool
