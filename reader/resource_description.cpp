// MacBin_DescribeResource: one line of text for the resources a listing
// explains (the version resource, file references, the bundle and the
// owner resource), read from their contents; MacBin_DescribeResourceFields:
// the same fields as a JSON object, for machine-read listings.
//
// The texts are UTF-8; the Macintosh texts inside them are quoted as JSON
// strings, so that a name holding quotes or control characters stays one
// readable line.
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format/mac_roman.hpp"
#include "reader/lookup_index.hpp"

namespace {

namespace format = varnel::format;

// Reads big-endian fields from the front of the contents; each read fails
// once the contents end.
class FieldReader {
 public:
  explicit FieldReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  bool u8(uint8_t &value) {
    if (remaining() < 1) return false;
    value = bytes_[at_++];
    return true;
  }
  bool u16(uint16_t &value) {
    if (remaining() < 2) return false;
    value = static_cast<uint16_t>(bytes_[at_] << 8 | bytes_[at_ + 1]);
    at_ += 2;
    return true;
  }
  bool i16(int16_t &value) {
    uint16_t word = 0;
    if (!u16(word)) return false;
    value = static_cast<int16_t>(word);
    return true;
  }
  bool bytes(size_t count, std::string_view &text) {
    if (remaining() < count) return false;
    text = std::string_view(reinterpret_cast<const char *>(bytes_.data() + at_), count);
    at_ += count;
    return true;
  }
  // A Pascal string, as UTF-8.
  bool pascal(std::string &text) {
    uint8_t length = 0;
    std::string_view mac;
    if (!u8(length) || !bytes(length, mac)) return false;
    text = format::mac_roman_to_utf8(mac, false);
    return true;
  }
  size_t remaining() const { return bytes_.size() - at_; }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

std::string utf8_of(std::string_view mac) { return format::mac_roman_to_utf8(mac, false); }

// A JSON string literal of a UTF-8 text: quotes, backslashes and control
// characters escaped, everything else as it stands.
std::string json_quote(std::string_view utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    const auto byte = static_cast<uint8_t>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          constexpr char kDigits[] = "0123456789abcdef";
          out += "\\u00";
          out += kDigits[byte >> 4];
          out += kDigits[byte & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// The two renderings: the listing's line, or the fields as a JSON object.
enum class Form { kLine, kJson };

// A JSON object of keys and values already written as JSON.
std::string json_object(const std::vector<std::pair<std::string_view, std::string>> &members) {
  std::string out = "{";
  for (const auto &[key, value] : members) out += (out.size() > 1 ? "," : "") + json_quote(key) + ":" + value;
  return out + "}";
}

std::string damaged(std::string_view what, Form form) {
  const std::string text = "damaged " + std::string(what) + " data";
  return form == Form::kJson ? json_object({{"error", json_quote(text)}}) : "(" + text + ")";
}

// Version numbers are binary-coded decimal.
int from_bcd(uint8_t value) { return (value >> 4) * 10 + (value & 0x0F); }

std::string describe_vers(std::span<const uint8_t> data, Form form) {
  FieldReader fields(data);
  uint8_t major = 0, minor_and_bugfix = 0, stage = 0, revision = 0;
  uint16_t region = 0;
  std::string short_version, long_version;
  if (!fields.u8(major) || !fields.u8(minor_and_bugfix) || !fields.u8(stage) || !fields.u8(revision) ||
      !fields.u16(region) || !fields.pascal(short_version) || !fields.pascal(long_version))
    return damaged("vers", form);
  const int minor = minor_and_bugfix >> 4;
  const int bugfix = minor_and_bugfix & 0x0F;
  const char *stage_name = "unknown";
  const char *stage_letter = "?";
  switch (stage) {
    case 0x20: stage_name = "development"; stage_letter = "d"; break;
    case 0x40: stage_name = "alpha"; stage_letter = "a"; break;
    case 0x60: stage_name = "beta"; stage_letter = "b"; break;
    case 0x80: stage_name = "final"; stage_letter = "f"; break;
    default: break;
  }
  std::string version = std::to_string(from_bcd(major)) + "." + std::to_string(minor);
  if (bugfix != 0) version += "." + std::to_string(bugfix);
  // A final release shows no stage unless it carries a revision.
  if (stage != 0x80 || revision != 0) version += stage_letter + std::to_string(revision);
  if (form == Form::kJson) {
    return json_object({{"version", json_quote(version)}, {"major", std::to_string(from_bcd(major))},
                        {"minor", std::to_string(minor)}, {"bugfix", std::to_string(bugfix)},
                        {"stage", json_quote(stage_name)}, {"revision", std::to_string(revision)},
                        {"region", std::to_string(region)}, {"short", json_quote(short_version)},
                        {"long", json_quote(long_version)}});
  }
  return "version " + version + " (" + stage_name + "), region " + std::to_string(region) + ", short " +
         json_quote(short_version) + ", long " + json_quote(long_version);
}

std::string describe_fref(std::span<const uint8_t> data, Form form) {
  FieldReader fields(data);
  std::string_view file_type;
  int16_t local_icon = 0;
  if (!fields.bytes(4, file_type) || !fields.i16(local_icon)) return damaged("FREF", form);
  std::string file_name;
  // The file name is optional in older files.
  if (fields.remaining() > 0 && !fields.pascal(file_name)) return damaged("FREF", form);
  if (form == Form::kJson) {
    return json_object({{"file_type", json_quote(utf8_of(file_type))},
                        {"local_icon", std::to_string(local_icon)},
                        {"file_name", json_quote(file_name)}});
  }
  std::string text = "file type " + json_quote(utf8_of(file_type)) + ", local icon " + std::to_string(local_icon);
  if (!file_name.empty()) text += ", file name " + json_quote(file_name);
  return text;
}

std::string describe_bndl(std::span<const uint8_t> data, Form form) {
  FieldReader fields(data);
  std::string_view owner;
  int16_t owner_id = 0;
  uint16_t types_minus_one = 0;
  if (!fields.bytes(4, owner) || !fields.i16(owner_id) || !fields.u16(types_minus_one)) return damaged("BNDL", form);
  std::string line = "owner " + json_quote(utf8_of(owner)) + " " + std::to_string(owner_id);
  std::string types;  // the JSON array's members
  // Each type takes at least 6 bytes, so a hostile count ends at the data's end.
  for (uint32_t t = 0; t <= types_minus_one; ++t) {
    std::string_view type;
    uint16_t entries_minus_one = 0;
    if (!fields.bytes(4, type) || !fields.u16(entries_minus_one)) return damaged("BNDL", form);
    line += "; " + utf8_of(type) + ":";
    std::string entries;
    for (uint32_t e = 0; e <= entries_minus_one; ++e) {
      int16_t local_id = 0, resource_id = 0;
      if (!fields.i16(local_id) || !fields.i16(resource_id)) return damaged("BNDL", form);
      line += " " + std::to_string(local_id) + "=" + std::to_string(resource_id);
      entries += (entries.empty() ? "" : ",") +
                 json_object({{"local_id", std::to_string(local_id)}, {"id", std::to_string(resource_id)}});
    }
    types += (types.empty() ? "" : ",") +
             json_object({{"type", json_quote(utf8_of(type))}, {"entries", "[" + entries + "]"}});
  }
  if (form == Form::kLine) return line;
  return json_object(
      {{"owner", json_quote(utf8_of(owner))}, {"owner_id", std::to_string(owner_id)}, {"types", "[" + types + "]"}});
}

std::string describe_owner(std::span<const uint8_t> data, Form form) {
  FieldReader fields(data);
  std::string text;
  if (!fields.pascal(text)) return damaged("owner resource", form);
  if (form == Form::kJson) return json_object({{"owner_text", json_quote(text)}});
  return "owner resource " + json_quote(text);
}

enum class Described { kNone, kVers, kFref, kBndl, kOwner };

// The type entry `ref` belongs to, or null when it is none of the channel's.
const MacBinTypeEntry *type_of(MacBinChannel *channel, const MacBinRefEntry *ref) {
  const ReaderIndex *state = reader_state(channel);
  if (state == nullptr || reference_number(*state, ref) < 0) return nullptr;
  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    if (entry.refs != nullptr && ref >= entry.refs && ref < entry.refs + entry.count) return &entry;
  }
  return nullptr;
}

Described kind_of(MacBinChannel *channel, const MacBinTypeEntry &entry, const MacBinRefEntry &ref) {
  const std::string_view type(entry.type, 4);
  if (type == "vers") return Described::kVers;
  if (type == "FREF") return Described::kFref;
  if (type == "BNDL") return Described::kBndl;
  MacBinFileInfo info;
  if (MacBin_GetFileInfo(channel, &info) == 1 && type == std::string_view(info.creator, 4) &&
      static_cast<int16_t>(ref.id) == 0)
    return Described::kOwner;
  return Described::kNone;
}

int32_t describe(MacBinChannel *channel, const MacBinRefEntry *ref, Form form, char *buffer, int32_t capacity) {
  const std::string call = form == Form::kJson ? "MacBin_DescribeResourceFields" : "MacBin_DescribeResource";
  if (capacity < 0 || (buffer == nullptr && capacity != 0)) {
    record_error(MACBIN_ERR_ARGUMENT, (call + ": a buffer that does not match its capacity").c_str());
    return -1;
  }
  const MacBinTypeEntry *entry = type_of(channel, ref);
  if (entry == nullptr) {
    record_error(MACBIN_ERR_ARGUMENT, (call + ": not one of the reading channel's resources").c_str());
    return -1;
  }
  const Described kind = kind_of(channel, *entry, *ref);
  if (kind == Described::kNone) {
    copy_text_out("", buffer, capacity);
    return 0;
  }
  // The contents, decompressed where stored compressed; a refusal has been
  // reported and recorded with its reason.
  const int32_t length = MacBin_ReadResourceUncompressed(channel, ref, nullptr, 0);
  if (length < 0) return -1;
  std::vector<uint8_t> data(static_cast<size_t>(length));
  if (length > 0 && MacBin_ReadResourceUncompressed(channel, ref, data.data(), length) != length) return -1;
  std::string text;
  switch (kind) {
    case Described::kVers: text = describe_vers(data, form); break;
    case Described::kFref: text = describe_fref(data, form); break;
    case Described::kBndl: text = describe_bndl(data, form); break;
    case Described::kOwner: text = describe_owner(data, form); break;
    case Described::kNone: break;
  }
  return copy_text_out(text, buffer, capacity);
}

}  // namespace

extern "C" int32_t MacBin_DescribeResource(MacBinChannel *channel, const MacBinRefEntry *ref, char *buffer,
                                           int32_t capacity) {
  try {
    return describe(channel, ref, Form::kLine, buffer, capacity);
  } catch (const std::bad_alloc &) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (describing a resource)");
    return -1;
  }
}

extern "C" int32_t MacBin_DescribeResourceFields(MacBinChannel *channel, const MacBinRefEntry *ref, char *buffer,
                                                 int32_t capacity) {
  try {
    return describe(channel, ref, Form::kJson, buffer, capacity);
  } catch (const std::bad_alloc &) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (describing a resource)");
    return -1;
  }
}
