// Salvage rebuilds the resource fork through the library's writer rather
// than copying it: the writer lays out a new map, so a damaged map, data
// out of range or lying over other data do not come across, only the
// resources that read whole.
#include "salvage.hpp"

#include <cstring>
#include <filesystem>
#include <vector>

#include "library_output.hpp"
#include "library_session.hpp"
#include "macbinary_input.hpp"
#include "tool_context.hpp"
#include "varnel.h"

namespace varnel_tool {
namespace {

// The header's facts, the data fork, then each resource that reads whole;
// the number of resources lost, or -1 when the file cannot be written.
int write_parts(MacBinaryInput &input, MacBinChannel *channel) {
  input.give_facts_to(channel);
  MacBin_SetFinderResources(channel, 0);  // only what the file held
  const bool data_ok = input.copy_data_fork([](std::span<const uint8_t> bytes) {
    const auto length = static_cast<int32_t>(bytes.size());
    return MacBin_PutBuf(bytes.data(), length, length) == 0;
  });
  if (!data_ok) return -1;
  int lost = 0;
  std::vector<uint8_t> data;
  for (const ResourceEntry &entry : input.resources()) {
    int64_t length = 0;
    if (!input.read_resource(entry, &data, length)) {  // said which
      ++lost;
      continue;
    }
    const std::string name = entry.named ? entry.name : "";
    if (MacBin_AddResourceData(channel, entry.type.c_str(), entry.signed_id(), name.c_str(), entry.attributes,
                               data.empty() ? nullptr : data.data(), static_cast<int32_t>(data.size())) != 0)
      ++lost;  // the library said why
  }
  return lost;
}

}  // namespace

int salvage_file(const std::string &input_path, const std::string &output_path) {
  Reporter &reporter = Reporter::instance();
  if (!start_library()) return kExitFailure;
  MacBinaryInput input;
  if (!input.open(input_path)) return kExitFailure;
  int32_t format = input.info().format;
  if (format == MACBIN_FORMAT_RSRC) {
    reporter.error(input.path() + ": a bare resource fork cannot be salvaged (the library writes no bare forks)");
    return kExitFailure;
  }
  if (format == MACBIN_FORMAT_III) format = MACBIN_FORMAT_II;  // the library writes no MacBinary III
  if (input.resource_fork_unread())
    reporter.error(input.path() + ": lost: the resource fork (" + std::to_string(input.info().rsrc_length) +
                   " bytes), whose map cannot be read");
  if (format == MACBIN_FORMAT_BINHEX && input.info().crc_state == 0)
    reporter.error(input.path() + ": a fork's CRC does not match: its bytes are kept as read, and some are wrong");
  LibraryOutput output;
  std::string error;
  if (!output.create(output_path, format, error) || MacBin_SetFormat(format) != 1) {
    reporter.error(output_path + ": cannot create: " + (error.empty() ? "format refused" : error));
    return kExitFailure;
  }
  char name[64] = {};
  std::string mac_name = input.name();
  if (mac_name.empty()) mac_name = std::filesystem::path(output_path).filename().string().substr(0, 31);
  std::memcpy(name, mac_name.data(), std::min<size_t>(mac_name.size(), 63));
  MacBinChannel *channel = MacBin_OpenWOutput(output.get(), name, "????", "????");
  if (channel == nullptr) return kExitFailure;  // the library said why
  const int lost = write_parts(input, channel);
  MacBin_Close(channel);
  if (const std::optional<std::string> write_error = library_write_error()) {
    reporter.error(output_path + ": " + *write_error);
    return kExitFailure;
  }
  if (lost < 0 || !output.commit(error)) {
    if (!error.empty()) reporter.error(output_path + ": " + error);
    reporter.notice(output_path + " not written");
    return kExitFailure;
  }
  const size_t kept = input.resources().size() - static_cast<size_t>(lost);
  reporter.notice("wrote " + output_path + " (" + container_title(format) + "): the data fork and " +
                  std::to_string(kept) + " of " + std::to_string(input.resources().size()) + " resources");
  return reporter.failed() ? kExitFailure : kExitSuccess;
}

}  // namespace varnel_tool
