// varnel list: what MacBinary files hold, as text or JSON.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "library_session.hpp"
#include "macbinary_input.hpp"
#include "common/mac_text.hpp"
#include "common/json_value.hpp"
#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr const char *kListHelp = R"(Usage: varnel list [--json] FILE...

Shows what each Macintosh file holds: its container (classic, MacBinary II
or III, AppleSingle, AppleDouble, BinHex 4.0 or a bare resource fork) and
whether its CRC is valid, where it has one, the Macintosh name, type,
creator, creation and modification dates, Finder flags, the fork lengths,
and every resource with its type, ID, name, size (as stored) and
attributes.  A resource stored compressed also shows its decompressor and
its uncompressed size ("decompressor" and "uncompressed_size" in JSON).
vers, FREF and BNDL resources and the owner resource are decoded.

A file whose resource fork is cut short or damaged is still listed (the
header and the fork lengths, "Resources: not read"), with a warning and
exit status 1; a header whose CRC does not match is listed with a warning.

Dates are ISO 8601 in UTC (2026-12-07T01:43:29Z), as the header stores
them without a time zone; a date of 0 means not known and shows as
"unknown" (null in JSON).

Several files are listed one after another, separated by a blank line; a
file that cannot be listed gets its error and the others are still listed.
FILE may be "-" for standard input, or a pipe: it is read once, up to
2147483647 bytes.

Options:
  --json       JSON on standard output instead of text: one object for one
               file, an array of objects in the order of the arguments for
               several (a file that could not be listed is {"file": FILE,
               "error": TEXT})
  -q, --quiet  no notices
  -h, --help   this text

Exit status: 0 when every file could be listed whole, 1 when any is not a
Macintosh file or any part of one could not be read (or standard output
could not be written), 2 for a usage error.
)";

struct ListedResource {
  const ResourceEntry *entry;
  int64_t size = -1;  // -1 when the data could not be reached
  std::string description;  // the library's, for the resources it describes
  std::optional<JsonValue> fields;  // with --json: the described resource's fields
  std::optional<MacBinCompressionInfo> compression;  // stored compressed
};

std::string join(const std::vector<std::string> &items, const char *separator) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) out += (i == 0 ? "" : separator) + items[i];
  return out;
}

// The container as listings name it.
const char *listed_container(int32_t format) {
  const char *name = MacBin_ContainerName(format, MACBIN_CONTAINER_LISTED);
  return name != nullptr ? name : "unknown";
}

// The library tells whether the CRCs hold (the MacBinary header's; the
// BinHex header's and forks'), not the CRCs themselves.
std::string crc_text(const MacBinFileInfo &info) {
  if (info.crc_state < 0) return info.format == MACBIN_FORMAT_CLASSIC ? "none (classic header)" : "none";
  return info.crc_state == 1 ? "valid" : "INVALID";
}

// A container without Finder information (a bare resource fork) gives four
// NUL bytes: no code at all, not one made of NULs.
bool is_missing_code(const std::string &code) { return code == std::string(4, '\0'); }
std::string code_text(const std::string &code) {
  return is_missing_code(code) ? "none" : mac_roman_to_utf8(code, true);
}

std::string date_text(uint32_t seconds) { return mac_date_text(seconds).value_or("unknown"); }

JsonValue date_json(uint32_t seconds) {
  const std::optional<std::string> date = mac_date_text(seconds);
  return date ? JsonValue(*date) : JsonValue(nullptr);
}

void print_text(const MacBinaryInput &input, const std::vector<ListedResource> &listed) {
  FILE *out = results();
  const MacBinFileInfo &info = input.info();
  char flags[16];
  std::snprintf(flags, sizeof flags, "0x%04X", info.finder_flags);
  const std::vector<std::string> flag_names = finder_flag_names(info.finder_flags);
  std::fprintf(out, "File:          %s\n", input.argument().c_str());
  std::fprintf(out, "Format:        %s, CRC %s\n", listed_container(info.format), crc_text(info).c_str());
  std::fprintf(out, "Name:          %s\n", mac_roman_to_utf8(input.name(), true).c_str());
  std::fprintf(out, "Type:          %s\n", code_text(input.type()).c_str());
  std::fprintf(out, "Creator:       %s\n", code_text(input.creator()).c_str());
  std::fprintf(out, "Created:       %s\n", date_text(info.created).c_str());
  std::fprintf(out, "Modified:      %s\n", date_text(info.modified).c_str());
  std::fprintf(out, "Finder flags:  %s%s%s\n", flags, flag_names.empty() ? "" : " ",
               join(flag_names, " ").c_str());
  std::fprintf(out, "Data fork:     %u bytes\n", info.data_length);
  std::fprintf(out, "Resource fork: %u bytes\n", info.rsrc_length);
  if (input.resource_fork_unread())
    std::fprintf(out, "Resources:     not read (the resource fork is cut short or damaged)\n");
  else
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
    if (resource.compression)
      std::fprintf(out, "        compressed: decompressor %d, %d bytes uncompressed\n",
                   resource.compression->decompressor, resource.compression->uncompressed_length);
    if (!resource.description.empty()) std::fprintf(out, "        %s\n", resource.description.c_str());
  }
}

JsonValue listing_json(const MacBinaryInput &input, const std::vector<ListedResource> &listed) {
  const MacBinFileInfo &info = input.info();
  JsonValue json = JsonValue::object();
  json["file"] = input.argument();
  json["format"] = listed_container(info.format);
  // A classic header has no CRC: null, rather than a CRC that fails.
  json["crc"] = info.crc_state < 0 ? JsonValue(nullptr) : JsonValue{{"valid", info.crc_state == 1}};
  json["name"] = mac_roman_to_utf8(input.name());
  json["type"] = is_missing_code(input.type()) ? JsonValue(nullptr) : JsonValue(mac_roman_to_utf8(input.type()));
  json["creator"] =
      is_missing_code(input.creator()) ? JsonValue(nullptr) : JsonValue(mac_roman_to_utf8(input.creator()));
  json["created"] = date_json(info.created);
  json["modified"] = date_json(info.modified);
  json["finder_flags"] = {{"value", info.finder_flags}, {"names", finder_flag_names(info.finder_flags)}};
  json["data_fork_length"] = info.data_length;
  json["resource_fork_length"] = info.rsrc_length;
  // False when the resource fork was cut short or damaged: its resources
  // are then not listed.
  json["resource_fork_read"] = !input.resource_fork_unread();
  JsonValue resources = JsonValue::array();
  for (const ListedResource &resource : listed) {
    const ResourceEntry &entry = *resource.entry;
    JsonValue item = JsonValue::object();
    item["type"] = mac_roman_to_utf8(entry.type);
    item["id"] = entry.signed_id();
    item["name"] = entry.named ? JsonValue(mac_roman_to_utf8(entry.name)) : JsonValue(nullptr);
    item["size"] = resource.size < 0 ? JsonValue(nullptr) : JsonValue(resource.size);
    item["attributes"] = entry.attributes;
    item["attribute_names"] = resource_attribute_names(entry.attributes);
    if (resource.compression) {
      item["decompressor"] = resource.compression->decompressor;
      item["uncompressed_size"] = resource.compression->uncompressed_length;
    }
    if (resource.fields) item["decoded"] = *resource.fields;
    resources.push_back(std::move(item));
  }
  json["resources"] = std::move(resources);
  return json;
}

using DescribeCall = int32_t (*)(MacBinChannel *, const MacBinRefEntry *, char *, int32_t);

// The library's one-line description or JSON fields ("" for a type it
// does not describe), or nothing when the contents cannot be read (it said
// why).
std::optional<std::string> description_of(const MacBinaryInput &input, const ResourceEntry &entry,
                                          DescribeCall describe) {
  const int32_t length = describe(input.channel(), entry.reference, nullptr, 0);
  if (length < 0) return std::nullopt;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  describe(input.channel(), entry.reference, text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

// Opens and reads one file; nothing when it cannot be opened (after an
// error message).
std::optional<std::vector<ListedResource>> read_listing(MacBinaryInput &input, const std::string &path, bool json) {
  if (!input.open(path)) return std::nullopt;
  std::vector<ListedResource> listed;
  for (const ResourceEntry &entry : input.resources()) {
    ListedResource resource{&entry, -1, "", std::nullopt, input.compression(entry)};
    int64_t length = 0;
    if (input.read_resource(entry, nullptr, length)) {
      resource.size = length;  // as stored
      // Described from the contents, decompressed where need be.
      const std::optional<std::string> description = description_of(input, entry, MacBin_DescribeResource);
      if (!description) Reporter::instance().mark_failed();
      else resource.description = *description;
      if (json && !resource.description.empty()) {
        if (const std::optional<std::string> fields = description_of(input, entry, MacBin_DescribeResourceFields))
          resource.fields = JsonValue::parse(*fields);
      }
    }
    listed.push_back(std::move(resource));
  }
  return listed;
}

void print_json(const JsonValue &json) {
  // File names from the command line need not be UTF-8: such bytes are
  // replaced rather than ending the listing.
  const std::string text = json.dump(2, ' ', false, JsonValue::error_handler_t::replace);
  std::fprintf(results(), "%s\n", text.c_str());
}

}  // namespace

int run_list(const Arguments &arguments) {
  ArgumentWalker walker(arguments);
  std::vector<std::string> paths;
  bool json = false;
  while (walker.next()) {
    if (take_shared_option(walker, kListHelp, kQuietOption)) continue;
    if (walker.is("--json")) {
      walker.expect_no_value();
      json = true;
    } else if (walker.is_positional()) {
      paths.push_back(walker.text());
    } else {
      walker.reject();
    }
  }
  if (paths.empty()) throw UsageError("list needs a MacBinary file");
  if (std::count(paths.begin(), paths.end(), "-") > 1)
    throw UsageError("standard input can be listed only once");
  if (!start_library()) return kExitFailure;
  Reporter &reporter = Reporter::instance();
  JsonValue documents = JsonValue::array();
  bool any_listed = false;
  for (const std::string &path : paths) {
    MacBinaryInput input;
    const std::optional<std::vector<ListedResource>> listed = read_listing(input, path, json);
    if (!listed) {
      documents.push_back(JsonValue{{"file", path}, {"error", reporter.last_error()}});
      continue;
    }
    if (json) {
      documents.push_back(listing_json(input, *listed));
    } else {
      if (any_listed) std::fputc('\n', results());
      print_text(input, *listed);
    }
    any_listed = true;
    flush_results();  // each listing as soon as it is known
  }
  if (json && paths.size() == 1 && any_listed) print_json(documents[0]);
  if (json && paths.size() > 1) print_json(documents);
  return reporter.failed() ? kExitFailure : kExitSuccess;
}

}  // namespace varnel_tool
