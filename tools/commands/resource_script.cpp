#include "resource_script.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "container_formats.hpp"
#include "common/mac_text.hpp"
#include "common/resource_file_names.hpp"
#include "common/resource_script_forms.hpp"
#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr const char *kScriptName = "resources.txt";
constexpr const char *kDataName = "data";
constexpr uint8_t kDefaultAttributes = 0x20;  // the writer's, left unsaid
constexpr uint8_t kCompressedAttribute = 0x01;
// Bytes of the Finder information past type, creator and flags.
constexpr size_t kFinderPlaceAt = 10;

bool has_control_characters(const std::string &text) {
  for (const char c : text)
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

// A MacRoman text a line can carry and give back: UTF-8 with no control
// characters; nothing otherwise.
std::optional<std::string> line_text(const std::string &mac_text) {
  if (has_control_characters(mac_text)) return std::nullopt;
  return mac_roman_to_utf8(mac_text);
}

// A type as its word: trailing blanks go (pack pads them back).
std::optional<std::string> type_word(const std::string &mac_type) {
  std::string type = mac_type;
  while (type.size() > 1 && type.back() == ' ') type.pop_back();
  const std::optional<std::string> text = line_text(type);
  if (!text) return std::nullopt;
  return line_word(*text);
}

std::string date_text(uint32_t seconds) {
  const std::optional<std::string> iso = mac_date_text(seconds);
  return iso ? *iso : "0";
}

// What makes pack write the same file rather than a file like it: the
// container, no resources but the file's own, the map's attributes and the
// Finder information past type, creator and flags.
void append_exactness_lines(const MacBinaryInput &input, std::string &script) {
  const MacBinFileInfo &info = input.info();
  if (const std::optional<std::string> keyword = container_format_keyword(info.format)) {
    script += "%format " + *keyword + "\n";
  } else {
    Reporter::instance().warning(input.path() + ": pack writes " + container_format_title(info.format) +
                                 " as MacBinary II (unless --format says otherwise)");
  }
  script += "%finder-resources off\n";
  if (info.map_attributes != 0) {
    char text[32];
    std::snprintf(text, sizeof text, "%%map-attributes 0x%04X\n", static_cast<unsigned>(info.map_attributes));
    script += text;
  }
  const std::array<uint8_t, 32> finder = input.finder_info();
  if (std::any_of(finder.begin() + kFinderPlaceAt, finder.end(), [](uint8_t byte) { return byte != 0; })) {
    script += "%finder-info ";
    for (const uint8_t byte : finder) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(byte));
      script += digits;
    }
    script += "\n";
  }
}

// The header lines: what pack's options would otherwise give.  False after
// an error message when a code cannot be written in a script.
bool append_header(const MacBinaryInput &input, std::string &script) {
  const MacBinFileInfo &info = input.info();
  script += "; Resource script of " + input.path() + ", written by varnel extract --script.\n";
  script += "; \"varnel pack -o OUT " + std::string(kScriptName) + "\" rebuilds the file; lines are\n";
  script += "; TYPE ID(ATTRIBUTES) NAME PARAMETERS, see varnel pack --help.\n";
  const std::string name = input.name();
  if (!name.empty()) {
    const std::optional<std::string> text = line_text(name);
    if (!text) {
      Reporter::instance().error(input.path() + ": the file name holds control characters, which a script cannot carry");
      return false;
    }
    script += "%name " + line_word(*text) + "\n";
  }
  for (const auto &[keyword, code] : {std::pair<const char *, std::string>{"%creator", input.creator()},
                                      std::pair<const char *, std::string>{"%type", input.type()}}) {
    const std::optional<std::string> word = type_word(code);
    if (!word) {
      // A bare resource fork, or a container without Finder info, has none:
      // pack then wants the code as an option.
      Reporter::instance().warning(input.path() + ": no " + std::string(keyword + 1) +
                                   " code a script can carry; pack will need --" + std::string(keyword + 1));
      continue;
    }
    script += std::string(keyword) + " " + *word + "\n";
  }
  char flags[16];
  std::snprintf(flags, sizeof flags, "0x%04X", static_cast<unsigned>(info.finder_flags));
  script += "%flags " + std::string(flags) + "\n";
  script += "%created " + date_text(info.created) + "\n";
  script += "%modified " + date_text(info.modified) + "\n";
  script += "%data " + std::string(kDataName) + "\n";
  append_exactness_lines(input, script);
  return true;
}

// A resource's parameter in the script and the file (if any) it names.
struct ResourceForm {
  std::string param;
  std::string file_name;             // beside the script; "" for none
  std::vector<uint8_t> file_bytes;
};

// The readable form of a resource when one gives back its bytes, else
// its bytes in a file of their own.
ResourceForm choose_form(const ResourceEntry &entry, const std::vector<uint8_t> &data) {
  const std::string stem = resource_file_stem(entry.type, entry.signed_id(), entry.occurrence);
  if (entry.type == "STR " && !data.empty() && size_t{data[0]} == data.size() - 1) {
    const std::string mac(data.begin() + 1, data.end());
    const std::optional<std::string> text = line_text(mac);
    // A blank at the line's end would not survive an editor.
    if (text && (mac.empty() || mac.back() != ' ') && utf8_to_mac_roman(*text) == mac)
      return {"~" + *text, "", {}};
  }
  if (entry.type == "vers") {
    if (const std::optional<std::string> line = resource_text(MACBIN_TEXT_FORM_VERSION, data)) return {*line, "", {}};
  }
  const bool text = entry.type == "TEXT";
  if (text || entry.type == "STR#") {
    if (const std::optional<std::string> contents =
            resource_text(text ? MACBIN_TEXT_FORM_TEXT : MACBIN_TEXT_FORM_STRING_LIST, data))
      return {(text ? "--text " : "--strings ") + line_word(stem + ".txt"), stem + ".txt",
              std::vector<uint8_t>(contents->begin(), contents->end())};
  }
  return {"--raw " + line_word(stem), stem, data};
}

ResourceForm raw_form(const ResourceEntry &entry, const std::vector<uint8_t> &data) {
  const std::string stem = resource_file_stem(entry.type, entry.signed_id(), entry.occurrence);
  return {"--raw " + line_word(stem), stem, data};
}

// "; stored compressed ..." over the line of a compressed resource.
std::string compression_comment(const MacBinaryInput &input, const ResourceEntry &entry) {
  MacBinCompressionInfo facts{};
  if (MacBin_GetResourceCompression(input.channel(), entry.reference, &facts) != 1)
    return "; stored with the compressed attribute, but not in a form the library reads\n";
  return "; stored compressed: decompressor " + std::to_string(facts.decompressor) + ", " +
         std::to_string(facts.uncompressed_length) + " bytes uncompressed (kept as stored)\n";
}

// Whether pack takes the line as it stands: its length, and the line it
// hands the library (MacRoman, without the attributes), as the library
// checks it.
bool fits_a_line(const std::string &line, const std::string &library_line) {
  const std::optional<std::string> mac_line = utf8_to_mac_roman(library_line);
  if (line.size() > MACBIN_MAX_LINE_LENGTH || !mac_line) return false;
  if (MacBin_CheckResourceLine(nullptr, mac_line->c_str()) == 0) return true;
  MacBin_ClearError();  // a refusal here is no failure of the run
  return false;
}

}  // namespace

bool write_resource_script(MacBinaryInput &input, const std::string &directory, const WholeFileWriter &write) {
  if (!make_directory(directory)) return false;
  // pack hands vers lines to the library's own processor, which the check
  // of such a line (fits_a_line) needs as well.
  if (MacBin_AddProcessor("vers", nullptr, add_vers) != 0) {
    Reporter::instance().error("out of memory registering the vers processor");
    return false;
  }
  const std::filesystem::path base(directory);
  std::string script;
  if (!append_header(input, script)) return false;

  std::vector<uint8_t> data_fork;
  bool ok = input.copy_data_fork([&data_fork](std::span<const uint8_t> bytes) {
    data_fork.insert(data_fork.end(), bytes.begin(), bytes.end());
    return true;
  });
  ok = ok && write((base / kDataName).string(), data_fork);

  for (const ResourceEntry &entry : input.resources()) {
    const std::string label = mac_roman_to_utf8(entry.label(), true);
    std::vector<uint8_t> data;
    int64_t length = 0;
    if (!input.read_resource(entry, &data, length)) {
      ok = false;
      continue;
    }
    const std::optional<std::string> type = type_word(entry.type);
    const std::optional<std::string> name = line_text(entry.name);
    if (!type || !name) {
      Reporter::instance().error(input.path() + ": " + label +
                                 ": its type or name holds control characters, which a script cannot carry");
      ok = false;
      continue;
    }
    std::string id_word = std::to_string(entry.signed_id());
    if (entry.attributes != kDefaultAttributes) id_word += "(" + attributes_text(entry.attributes) + ")";
    const std::string start = *type + " " + id_word + " " + line_word(*name) + " ";
    // Bytes stored compressed stay as they are: the script rebuilds the
    // file, not its contents.
    const bool compressed = (entry.attributes & kCompressedAttribute) != 0;
    ResourceForm form = compressed ? raw_form(entry, data) : choose_form(entry, data);
    // A vers line goes to the library as a line: its name must fit a node.
    const bool library_line = form.file_name.empty() && form.param.rfind('~', 0) != 0;
    const std::string plain_start = *type + " " + std::to_string(entry.signed_id()) + " " + line_word(*name) + " ";
    if ((library_line && entry.name.size() > MACBIN_MAX_NAME_LENGTH) ||
        (form.file_name.empty() && !fits_a_line(start + form.param, plain_start + form.param)))
      form = raw_form(entry, data);
    if (compressed) script += compression_comment(input, entry);
    script += start + form.param + "\n";
    if (!form.file_name.empty()) ok = write((base / form.file_name).string(), form.file_bytes) && ok;
  }
  return write((base / kScriptName).string(), std::vector<uint8_t>(script.begin(), script.end())) && ok;
}

}  // namespace varnel_tool
