#include "common/resource_text.hpp"

#include "common/byte_cursor.hpp"
#include "common/mac_text.hpp"

namespace varnel_tool {
namespace {

bool read_pascal_string(ByteCursor &cursor, std::string &text) {
  uint8_t length = 0;
  std::span<const uint8_t> bytes;
  if (!cursor.read_u8(length) || !cursor.read_bytes(length, bytes)) return false;
  text = mac_roman_to_utf8(
      std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
  return true;
}

std::string code_text(std::span<const uint8_t> bytes) {
  return mac_roman_to_utf8(std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
}

// Version numbers are binary-coded decimal.
int from_bcd(uint8_t value) { return (value >> 4) * 10 + (value & 0x0F); }

DecodedResource damaged(std::string_view what) {
  const std::string text = "damaged " + std::string(what) + " data";
  return {"(" + text + ")", JsonValue{{"error", text}}};
}

DecodedResource decode_vers(std::span<const uint8_t> data) {
  ByteCursor cursor(data);
  uint8_t major = 0, minor_and_bugfix = 0, stage = 0, revision = 0;
  uint16_t region = 0;
  std::string short_version, long_version;
  if (!cursor.read_u8(major) || !cursor.read_u8(minor_and_bugfix) || !cursor.read_u8(stage) ||
      !cursor.read_u8(revision) || !cursor.read_u16(region) ||
      !read_pascal_string(cursor, short_version) || !read_pascal_string(cursor, long_version))
    return damaged("vers");
  const int minor = minor_and_bugfix >> 4;
  const int bugfix = minor_and_bugfix & 0x0F;
  const char *stage_name = "unknown";
  const char *stage_letter = "?";
  switch (stage) {
    case 0x20:
      stage_name = "development";
      stage_letter = "d";
      break;
    case 0x40:
      stage_name = "alpha";
      stage_letter = "a";
      break;
    case 0x60:
      stage_name = "beta";
      stage_letter = "b";
      break;
    case 0x80:
      stage_name = "final";
      stage_letter = "f";
      break;
    default:
      break;
  }
  std::string version = std::to_string(from_bcd(major)) + "." + std::to_string(minor);
  if (bugfix != 0) version += "." + std::to_string(bugfix);
  // A final release shows no stage unless it carries a revision.
  if (stage != 0x80 || revision != 0) version += stage_letter + std::to_string(revision);
  DecodedResource out;
  out.text = "version " + version + " (" + stage_name + "), region " + std::to_string(region) +
             ", short " + json_quote(short_version) + ", long " + json_quote(long_version);
  out.json = JsonValue{{"version", version},     {"major", from_bcd(major)}, {"minor", minor},
                       {"bugfix", bugfix},       {"stage", stage_name},      {"revision", revision},
                       {"region", region},       {"short", short_version},   {"long", long_version}};
  return out;
}

DecodedResource decode_fref(std::span<const uint8_t> data) {
  ByteCursor cursor(data);
  std::span<const uint8_t> file_type;
  int16_t local_icon = 0;
  if (!cursor.read_bytes(4, file_type) || !cursor.read_i16(local_icon)) return damaged("FREF");
  std::string file_name;
  // The file name is optional in older files.
  if (cursor.remaining() > 0 && !read_pascal_string(cursor, file_name)) return damaged("FREF");
  DecodedResource out;
  out.text = "file type " + json_quote(code_text(file_type)) + ", local icon " +
             std::to_string(local_icon);
  if (!file_name.empty()) out.text += ", file name " + json_quote(file_name);
  out.json = JsonValue{{"file_type", code_text(file_type)}, {"local_icon", local_icon}, {"file_name", file_name}};
  return out;
}

DecodedResource decode_bndl(std::span<const uint8_t> data) {
  ByteCursor cursor(data);
  std::span<const uint8_t> owner;
  int16_t owner_id = 0;
  uint16_t types_minus_one = 0;
  if (!cursor.read_bytes(4, owner) || !cursor.read_i16(owner_id) || !cursor.read_u16(types_minus_one))
    return damaged("BNDL");
  DecodedResource out;
  out.text = "owner " + json_quote(code_text(owner)) + " " + std::to_string(owner_id);
  out.json = JsonValue{{"owner", code_text(owner)}, {"owner_id", owner_id}, {"types", JsonValue::array()}};
  // Each type takes at least 6 bytes, so a hostile count ends at the data's end.
  for (uint32_t t = 0; t <= types_minus_one; ++t) {
    std::span<const uint8_t> type;
    uint16_t entries_minus_one = 0;
    if (!cursor.read_bytes(4, type) || !cursor.read_u16(entries_minus_one)) return damaged("BNDL");
    out.text += "; " + code_text(type) + ":";
    JsonValue entries = JsonValue::array();
    for (uint32_t e = 0; e <= entries_minus_one; ++e) {
      int16_t local_id = 0, resource_id = 0;
      if (!cursor.read_i16(local_id) || !cursor.read_i16(resource_id)) return damaged("BNDL");
      out.text += " " + std::to_string(local_id) + "=" + std::to_string(resource_id);
      entries.push_back(JsonValue{{"local_id", local_id}, {"id", resource_id}});
    }
    out.json["types"].push_back(JsonValue{{"type", code_text(type)}, {"entries", std::move(entries)}});
  }
  return out;
}

DecodedResource decode_owner(std::span<const uint8_t> data) {
  ByteCursor cursor(data);
  std::string text;
  if (!read_pascal_string(cursor, text)) return damaged("owner resource");
  return {"owner resource " + json_quote(text), JsonValue{{"owner_text", text}}};
}

}  // namespace

std::optional<DecodedResource> decode_resource(std::string_view type, int32_t id,
                                               std::span<const uint8_t> data,
                                               std::string_view creator) {
  if (type == "vers") return decode_vers(data);
  if (type == "FREF") return decode_fref(data);
  if (type == "BNDL") return decode_bndl(data);
  if (type == creator && id == 0) return decode_owner(data);
  return std::nullopt;
}

}  // namespace varnel_tool
