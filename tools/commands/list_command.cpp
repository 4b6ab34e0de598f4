// varnel list: what a MacBinary file holds, as text or JSON.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "library_session.hpp"
#include "macbinary_input.hpp"
#include "support/flag_names.hpp"
#include "support/mac_text.hpp"
#include "support/resource_text.hpp"
#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr const char *kListHelp = R"(Usage: varnel list FILE [--json]

Shows what the MacBinary file FILE holds: its format (classic, MacBinary II
or III) and whether the header CRC is valid, the Macintosh name, type,
creator and Finder flags, the fork lengths, and every resource with its
type, ID, name, size and attributes.  vers, FREF and BNDL resources and the
owner resource are decoded.

Options:
  --json       one JSON object on standard output instead of text
  -q, --quiet  no notices
  -h, --help   this text

Exit status: 0 when the whole file could be listed, 1 when it is not a
MacBinary file or any part of it could not be read, 2 for a usage error.
)";

struct ListedResource {
  const ResourceEntry *entry;
  int64_t size = -1;  // -1 when the data could not be reached
  std::optional<DecodedResource> decoded;
};

std::string join(const std::vector<std::string> &items, const char *separator) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) out += (i == 0 ? "" : separator) + items[i];
  return out;
}

const char *format_name(int32_t format) {
  switch (format) {
    case MACBIN_FORMAT_CLASSIC:
      return "classic";
    case MACBIN_FORMAT_II:
      return "MacBinary II";
    case MACBIN_FORMAT_III:
      return "MacBinary III";
    default:
      return "unknown";
  }
}

// The library tells whether the header's CRC holds, not the CRC itself.
std::string crc_text(const MacBinFileInfo &info) {
  if (info.crc_state < 0) return "none (classic header)";
  return info.crc_state == 1 ? "valid" : "INVALID";
}

void print_text(const MacBinaryInput &input, const std::vector<ListedResource> &listed) {
  FILE *out = results();
  const MacBinFileInfo &info = input.info();
  char flags[16];
  std::snprintf(flags, sizeof flags, "0x%04X", info.finder_flags);
  const std::vector<std::string> flag_names = finder_flag_names(info.finder_flags);
  std::fprintf(out, "File:          %s\n", input.path().c_str());
  std::fprintf(out, "Format:        %s, CRC %s\n", format_name(info.format), crc_text(info).c_str());
  std::fprintf(out, "Name:          %s\n", mac_roman_to_utf8(input.name(), true).c_str());
  std::fprintf(out, "Type:          %s\n", mac_roman_to_utf8(input.type(), true).c_str());
  std::fprintf(out, "Creator:       %s\n", mac_roman_to_utf8(input.creator(), true).c_str());
  std::fprintf(out, "Finder flags:  %s%s%s\n", flags, flag_names.empty() ? "" : " ",
               join(flag_names, " ").c_str());
  std::fprintf(out, "Data fork:     %u bytes\n", info.data_length);
  std::fprintf(out, "Resource fork: %u bytes\n", info.rsrc_length);
  std::fprintf(out, "Resources:     %zu\n", listed.size());
  if (listed.empty()) return;
  std::fprintf(out, "  %-4s  %6s  %8s  %-10s  %s\n", "Type", "ID", "Size", "Attributes", "Name");
  for (const ListedResource &resource : listed) {
    const ResourceEntry &entry = *resource.entry;
    const std::string size = resource.size < 0 ? "?" : std::to_string(resource.size);
    const std::string attributes = join(resource_attribute_names(entry.attributes), ",");
    const std::string name = entry.named ? json_quote(mac_roman_to_utf8(entry.name)) : "";
    char line[128];
    std::snprintf(line, sizeof line, "  %-4s  %6d  %8s  %-10s  ", mac_roman_to_utf8(entry.type, true).c_str(),
                  entry.signed_id(), size.c_str(), attributes.empty() ? "-" : attributes.c_str());
    std::string text = line + name;
    text.erase(text.find_last_not_of(' ') + 1);  // no trailing blanks for unnamed resources
    std::fprintf(out, "%s\n", text.c_str());
    if (resource.decoded) std::fprintf(out, "        %s\n", resource.decoded->text.c_str());
  }
}

void print_json(const MacBinaryInput &input, const std::vector<ListedResource> &listed) {
  const MacBinFileInfo &info = input.info();
  std::string json = "{\n";
  json += "  \"file\": " + json_quote(input.path()) + ",\n";
  json += "  \"format\": " + json_quote(format_name(info.format)) + ",\n";
  // A classic header has no CRC: null, rather than a CRC that fails.
  if (info.crc_state < 0) {
    json += "  \"crc\": null,\n";
  } else {
    json += std::string("  \"crc\": {\"valid\": ") + (info.crc_state == 1 ? "true" : "false") + "},\n";
  }
  json += "  \"name\": " + json_quote(mac_roman_to_utf8(input.name())) + ",\n";
  json += "  \"type\": " + json_quote(mac_roman_to_utf8(input.type())) + ",\n";
  json += "  \"creator\": " + json_quote(mac_roman_to_utf8(input.creator())) + ",\n";
  json += "  \"finder_flags\": {\"value\": " + std::to_string(info.finder_flags) + ", \"names\": [";
  const std::vector<std::string> flag_names = finder_flag_names(info.finder_flags);
  for (size_t i = 0; i < flag_names.size(); ++i) json += (i == 0 ? "" : ", ") + json_quote(flag_names[i]);
  json += "]},\n";
  json += "  \"data_fork_length\": " + std::to_string(info.data_length) + ",\n";
  json += "  \"resource_fork_length\": " + std::to_string(info.rsrc_length) + ",\n";
  json += "  \"resources\": [";
  for (size_t i = 0; i < listed.size(); ++i) {
    const ListedResource &resource = listed[i];
    const ResourceEntry &entry = *resource.entry;
    json += i == 0 ? "\n" : ",\n";
    json += "    {\"type\": " + json_quote(mac_roman_to_utf8(entry.type)) +
            ", \"id\": " + std::to_string(entry.signed_id()) +
            ", \"name\": " + (entry.named ? json_quote(mac_roman_to_utf8(entry.name)) : "null") +
            ", \"size\": " + (resource.size < 0 ? "null" : std::to_string(resource.size)) +
            ", \"attributes\": " + std::to_string(entry.attributes) + ", \"attribute_names\": [";
    const std::vector<std::string> names = resource_attribute_names(entry.attributes);
    for (size_t n = 0; n < names.size(); ++n) json += (n == 0 ? "" : ", ") + json_quote(names[n]);
    json += "]";
    if (resource.decoded) json += ", \"decoded\": " + resource.decoded->json;
    json += "}";
  }
  json += listed.empty() ? "]\n}\n" : "\n  ]\n}\n";
  std::fputs(json.c_str(), results());
}

}  // namespace

int run_list(const Arguments &arguments) {
  ArgumentWalker walker(arguments);
  std::string path;
  bool json = false;
  while (walker.next()) {
    if (walker.is("--help", "-h")) {
      std::fputs(kListHelp, results());
      return kExitSuccess;
    } else if (walker.is("--json")) {
      walker.expect_no_value();
      json = true;
    } else if (walker.is("--quiet", "-q")) {
      walker.expect_no_value();
      Reporter::instance().set_quiet(true);
    } else if (walker.is_positional() && path.empty()) {
      path = walker.text();
    } else {
      walker.reject();
    }
  }
  if (path.empty()) throw UsageError("list needs a MacBinary file");
  if (!start_library()) return kExitFailure;
  MacBinaryInput input;
  if (!input.open(path)) return kExitFailure;
  std::vector<ListedResource> listed;
  std::vector<uint8_t> data;
  const std::string creator = mac_roman_to_utf8(input.creator());
  for (const ResourceEntry &entry : input.resources()) {
    ListedResource resource{&entry, -1, std::nullopt};
    const std::string type = mac_roman_to_utf8(entry.type);
    const bool decodable = type == "vers" || type == "FREF" || type == "BNDL" ||
                           (type == creator && entry.signed_id() == 0);
    int64_t length = 0;
    if (input.read_resource(entry, decodable ? &data : nullptr, length)) {
      resource.size = length;
      if (decodable) resource.decoded = decode_resource(type, entry.signed_id(), data, creator);
    }
    listed.push_back(std::move(resource));
  }
  if (json)
    print_json(input, listed);
  else
    print_text(input, listed);
  return Reporter::instance().failed() ? kExitFailure : kExitSuccess;
}

}  // namespace varnel_tool
