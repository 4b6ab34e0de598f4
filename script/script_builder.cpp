// A resource script of a file open for reading: the text of its header and
// resource lines, the files beside it, and notes of what it cannot carry.
// Every resource keeps its bytes: a readable form is chosen only when it
// gives back the same bytes and a line takes it, else the bytes go into a
// file of their own.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "format/flag_names.hpp"
#include "format/mac_dates.hpp"
#include "format/mac_roman.hpp"
#include "frame/internal.hpp"
#include "script/internal.hpp"

namespace varnel::script {
namespace {

constexpr int32_t kDefaultAttributes = MACBIN_ATTR_PURGEABLE;  // the writer's, left unsaid
constexpr int32_t kCompressedAttribute = 0x01;
constexpr int32_t kNamedAttributes = 0x7E;  // the bits a script writes as names
constexpr size_t kFinderPlaceAt = 10;       // Finder information past type, creator and flags
constexpr int32_t kReadChunk = 64 * 1024;

bool has_controls(std::string_view mac_text) {
  return std::any_of(mac_text.begin(), mac_text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// A MacRoman text a line can carry and give back: UTF-8 with no control
// characters; nothing otherwise.
std::optional<std::string> line_text(std::string_view mac_text) {
  if (has_controls(mac_text)) return std::nullopt;
  return format::mac_roman_to_utf8(mac_text, false);
}

// A type as its word: trailing blanks go (pack pads them back).
std::optional<std::string> type_word(std::string_view mac_type) {
  while (mac_type.size() > 1 && mac_type.back() == ' ') mac_type.remove_suffix(1);
  const std::optional<std::string> text = line_text(mac_type);
  if (!text) return std::nullopt;
  return quote_word(*text);
}

std::string hex_word(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value & 0xFFFF));
  return text;
}

// The attribute byte as names ("protected,preload"); no bit set (real files
// have such resources) and bits without a name, the compressed bit among
// them, as the number ("0x00").
std::string attributes_text(int32_t attributes) {
  if (attributes == 0 || (attributes & ~kNamedAttributes) != 0) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(attributes & 0xFF));
    return text;
  }
  return format::attribute_names(static_cast<uint8_t>(attributes));
}

// A resource of the map, as the script names it.
struct Resource {
  const MacBinRefEntry *ref;
  std::string type;  // four bytes, MacRoman
  int32_t id;        // signed
  int32_t occurrence;
  std::string name;  // MacRoman, whole
  int32_t attributes;
  std::vector<uint8_t> data;
  // "PICT 128", "PICT 128 #2", as notes show it.
  std::string label() const {
    std::string text = type + " " + std::to_string(id);
    if (occurrence > 1) text += " #" + std::to_string(occurrence);
    return format::mac_roman_to_utf8(text, true);
  }
};

// A resource's parameter in the script and the file (if any) it names.
struct Form {
  std::string param;
  std::string file_name;  // beside the script; "" for none
  std::vector<uint8_t> file_bytes;
};

// The resource's text in a MACBIN_TEXT_FORM_*, when it gives back its bytes.
std::optional<std::string> resource_text(int32_t form, const std::vector<uint8_t> &data) {
  const auto length = static_cast<int32_t>(data.size());
  const int32_t needed = MacBin_ResourceToText(form, data.data(), length, nullptr, 0);
  if (needed < 0) return std::nullopt;
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  MacBin_ResourceToText(form, data.data(), length, text.data(), needed + 1);
  text.resize(static_cast<size_t>(needed));
  return text;
}

Form raw_form(const Resource &resource) {
  const std::string file = resource_file_name(resource.type, resource.id, resource.occurrence);
  return {"--raw " + quote_word(file), file, resource.data};
}

// A 'STR ' as "~TEXT" when its text comes back the same; a blank at the
// line's end would not survive an editor.
std::optional<Form> string_form(const Resource &resource) {
  const std::vector<uint8_t> &data = resource.data;
  if (data.empty() || size_t{data[0]} != data.size() - 1) return std::nullopt;
  const std::string mac(data.begin() + 1, data.end());
  const std::optional<std::string> text = line_text(mac);
  std::string back;
  std::string problem;
  if (!text || (!mac.empty() && mac.back() == ' ') || !format::utf8_to_mac_roman(*text, back, problem) || back != mac)
    return std::nullopt;
  return Form{"~" + *text, "", {}};
}

// The readable form of a resource when one gives back its bytes, else its
// bytes in a file of their own.
Form choose_form(const Resource &resource) {
  if (resource.type == "STR ") {
    if (std::optional<Form> form = string_form(resource)) return *form;
  }
  if (resource.type == "vers") {
    if (std::optional<std::string> line = resource_text(MACBIN_TEXT_FORM_VERSION, resource.data))
      return {*line, "", {}};
  }
  const bool text = resource.type == "TEXT";
  if (text || resource.type == "STR#") {
    const std::string file = resource_file_name(resource.type, resource.id, resource.occurrence) + ".txt";
    if (std::optional<std::string> contents =
            resource_text(text ? MACBIN_TEXT_FORM_TEXT : MACBIN_TEXT_FORM_STRING_LIST, resource.data))
      return {(text ? "--text " : "--strings ") + quote_word(file), file,
              std::vector<uint8_t>(contents->begin(), contents->end())};
  }
  return raw_form(resource);
}

// Whether packing takes the line as it stands: its length, and the line it
// hands the library (MacRoman, without the attributes) as the library checks it.
bool fits_a_line(const std::string &line, const std::string &library_line) {
  std::string mac_line;
  std::string problem;
  if (line.size() > MACBIN_MAX_LINE_LENGTH || !format::utf8_to_mac_roman(library_line, mac_line, problem)) return false;
  return MacBin_CheckResourceLine(nullptr, mac_line.c_str()) == MACBIN_ERR_NONE;
}

// "; stored compressed ..." over the line of a compressed resource.
std::string compression_comment(MacBinChannel *channel, const Resource &resource) {
  MacBinCompressionInfo facts{};
  if (MacBin_GetResourceCompression(channel, resource.ref, &facts) != 1)
    return "; stored with the compressed attribute, but not in a form the library reads\n";
  return "; stored compressed: decompressor " + std::to_string(facts.decompressor) + ", " +
         std::to_string(facts.uncompressed_length) + " bytes uncompressed (kept as stored)\n";
}

class Builder {
 public:
  Builder(MacBinChannel *channel, BuiltScript &script) : channel_(channel), script_(script) {
    MacBin_GetFileInfo(channel, &info_);
  }

  bool add_header(std::string_view source, std::string &reason);
  void add_data_fork();
  void add_resources();

 private:
  void note(int32_t severity, std::string text) { script_.notes.push_back({severity, std::move(text)}); }
  bool add_name_line(std::string &reason);
  void add_code_lines();
  void add_exactness_lines();
  std::vector<Resource> read_resources();
  void add_resource(const Resource &resource);

  MacBinChannel *channel_;
  BuiltScript &script_;
  MacBinFileInfo info_{};
};

bool Builder::add_header(std::string_view source, std::string &reason) {
  std::string &text = script_.text;
  text += "; Resource script of " + one_line(source) + ", written by varnel extract --script.\n";
  text += "; \"varnel pack -o OUT " MACBIN_SCRIPT_FILE_NAME "\" rebuilds the file; lines are\n";
  text += "; TYPE ID(ATTRIBUTES) NAME PARAMETERS, see varnel pack --help.\n";
  if (!add_name_line(reason)) return false;
  add_code_lines();
  text += "%flags " + hex_word(info_.finder_flags) + "\n";
  text += "%created " + format::mac_date_text(info_.created).value_or("0") + "\n";
  text += "%modified " + format::mac_date_text(info_.modified).value_or("0") + "\n";
  text += "%data " MACBIN_SCRIPT_DATA_FILE_NAME "\n";
  add_exactness_lines();
  return true;
}

// A name packing takes: at most 31 characters and no ':' (a MacBinary
// header holds up to 63, and a hand-made one anything).
bool Builder::add_name_line(std::string &reason) {
  std::string name(info_.name, ::strnlen(info_.name, sizeof info_.name));
  if (name.empty()) return true;
  if (has_controls(name)) {
    reason = "the file name holds control characters, which a script cannot carry";
    return false;
  }
  if (name.size() > MACBIN_MAX_FILE_NAME_LENGTH) {
    name.resize(MACBIN_MAX_FILE_NAME_LENGTH);
    note(MACBIN_WARNING, "the name is cut to 31 characters: \"" + format::mac_roman_to_utf8(name, false) + "\"");
  }
  if (name.find(':') != std::string::npos) {
    std::replace(name.begin(), name.end(), ':', '-');
    note(MACBIN_WARNING, "the name's ':' (the Macintosh path separator) is written '-': \"" +
                             format::mac_roman_to_utf8(name, false) + "\"");
  }
  script_.text += "%name " + quote_word(format::mac_roman_to_utf8(name, false)) + "\n";
  return true;
}

void Builder::add_code_lines() {
  const std::pair<const char *, std::string_view> codes[] = {{"creator", std::string_view(info_.creator, 4)},
                                                             {"type", std::string_view(info_.type, 4)}};
  for (const auto &[keyword, code] : codes) {
    const std::optional<std::string> word = type_word(code);
    if (!word) {
      // A bare resource fork, or a container without Finder info, has none:
      // packing then wants the code as an option.
      note(MACBIN_WARNING, std::string("no ") + keyword + " code a script can carry; pack will need --" + keyword);
      continue;
    }
    script_.text += std::string("%") + keyword + " " + *word + "\n";
  }
}

// What makes packing write the same file rather than a file like it: the
// container, no resources but the file's own, the map's attributes and the
// Finder information past type, creator and flags.
void Builder::add_exactness_lines() {
  std::string &text = script_.text;
  if (const char *keyword = container_name(info_.format, MACBIN_CONTAINER_KEYWORD)) {
    text += std::string("%format ") + keyword + "\n";
  } else {
    const char *title = container_name(info_.format, MACBIN_CONTAINER_TITLE);
    note(MACBIN_WARNING, std::string("pack writes ") +
                             (title != nullptr ? title : "format " + std::to_string(info_.format)) +
                             " as MacBinary II (unless --format says otherwise)");
  }
  text += "%finder-resources off\n";
  if (info_.map_attributes != 0) text += "%map-attributes " + hex_word(info_.map_attributes) + "\n";
  std::array<uint8_t, 32> finder{};
  MacBin_GetFinderInfoBytes(channel_, finder.data());
  if (std::any_of(finder.begin() + kFinderPlaceAt, finder.end(), [](uint8_t byte) { return byte != 0; })) {
    text += "%finder-info ";
    for (const uint8_t byte : finder) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(byte));
      text += digits;
    }
    text += "\n";
  }
}

void Builder::add_data_fork() {
  ScriptFile data{MACBIN_SCRIPT_DATA_FILE_NAME, {}};
  std::vector<uint8_t> chunk(kReadChunk);
  for (int64_t offset = 0;;) {
    errno = 0;
    const int32_t count = MacBin_ReadDataFork(channel_, offset, chunk.data(), kReadChunk);
    if (count < 0) {
      note(MACBIN_ERROR,
           std::string("read error in the data fork") + (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
      return;
    }
    if (count == 0) break;
    data.bytes.insert(data.bytes.end(), chunk.begin(), chunk.begin() + count);
    offset += count;
  }
  script_.files.push_back(std::move(data));
}

// The map's resources in map order, each with its bytes as stored; those
// whose bytes cannot be read are left out, with an error note.
std::vector<Resource> Builder::read_resources() {
  std::vector<Resource> resources;
  std::map<std::pair<std::string, int32_t>, int32_t> seen;  // (type, ID) -> resources so far
  const int32_t type_count = MacBin_GetNrTypes(channel_);
  for (int32_t t = 0; t < type_count && channel_->types != nullptr; ++t) {
    const MacBinTypeEntry &entry = channel_->types[t];
    for (int32_t r = 0; r < entry.count && entry.refs != nullptr; ++r) {
      const MacBinRefEntry &ref = entry.refs[r];
      Resource resource{
          &ref, std::string(entry.type, 4), static_cast<int16_t>(static_cast<uint16_t>(ref.id)), 0, "", ref.attributes,
          {}};
      resource.occurrence = ++seen[{resource.type, resource.id}];
      std::array<char, MACBIN_MAX_FULL_NAME_LENGTH + 1> name{};
      if (const int32_t length = MacBin_GetResourceName(channel_, &ref, name.data(), name.size()); length > 0)
        resource.name.assign(name.data(), static_cast<size_t>(std::min(length, MACBIN_MAX_FULL_NAME_LENGTH)));
      const int32_t stored = MacBin_ReadResourceData(channel_, &ref, nullptr, 0);
      resource.data.resize(static_cast<size_t>(std::max(stored, 0)));
      if (stored < 0 || MacBin_ReadResourceData(channel_, &ref, resource.data.data(), stored) != stored) {
        note(MACBIN_ERROR, "the data of resource " + resource.label() + " lies outside the resource fork");
        continue;
      }
      resources.push_back(std::move(resource));
    }
  }
  return resources;
}

void Builder::add_resources() {
  for (const Resource &resource : read_resources()) add_resource(resource);
}

void Builder::add_resource(const Resource &resource) {
  const std::optional<std::string> type = type_word(resource.type);
  const std::optional<std::string> name = line_text(resource.name);
  if (!type || !name) {
    note(MACBIN_ERROR, resource.label() + ": its type or name holds control characters, which a script cannot carry");
    return;
  }
  std::string id_word = std::to_string(resource.id);
  if (resource.attributes != kDefaultAttributes) id_word += "(" + attributes_text(resource.attributes) + ")";
  const std::string start = *type + " " + id_word + " " + quote_word(*name) + " ";
  // Bytes stored compressed stay as they are: the script rebuilds the
  // file, not its contents.
  const bool compressed = (resource.attributes & kCompressedAttribute) != 0;
  Form form = compressed ? raw_form(resource) : choose_form(resource);
  // A vers line goes to the library as a line: its name must fit a node.
  const bool library_line = form.file_name.empty() && form.param.rfind('~', 0) != 0;
  const std::string plain_start = *type + " " + std::to_string(resource.id) + " " + quote_word(*name) + " ";
  if ((library_line && resource.name.size() > MACBIN_MAX_NAME_LENGTH) ||
      (form.file_name.empty() && !fits_a_line(start + form.param, plain_start + form.param)))
    form = raw_form(resource);
  if (compressed) script_.text += compression_comment(channel_, resource);
  script_.text += start + form.param + "\n";
  if (!form.file_name.empty()) script_.files.push_back({form.file_name, std::move(form.file_bytes)});
}

}  // namespace

std::optional<BuiltScript> build_script(MacBinChannel *channel, std::string_view source, std::string &reason) {
  BuiltScript script;
  Builder builder(channel, script);
  if (!builder.add_header(source, reason)) return std::nullopt;
  builder.add_data_fork();
  builder.add_resources();
  return script;
}

}  // namespace varnel::script
