#include "common/resource_text.hpp"

#include "common/byte_cursor.hpp"
#include "common/mac_text.hpp"

namespace varnel_tool {
namespace {

bool read_pascal_string(ByteCursor &cursor, std::string &text) {
  uint8_t length = 0;
  std::span<const uint8_t> bytes;
  if (!cursor.read_u8(length) || !cursor.read_bytes(length, bytes)) return false;
  text = mac_roman_to_utf8(std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
  return true;
}

std::optional<std::string> read_code(ByteCursor &cursor) {
  std::span<const uint8_t> bytes;
  if (!cursor.read_bytes(4, bytes)) return std::nullopt;
  return mac_roman_to_utf8(std::string_view(reinterpret_cast<const char *>(bytes.data()), 4));
}

JsonValue damaged(std::string_view what) { return JsonValue{{"error", "damaged " + std::string(what) + " data"}}; }

// Version numbers are binary-coded decimal.
int from_bcd(uint8_t value) { return (value >> 4) * 10 + (value & 0x0F); }

JsonValue vers_fields(ByteCursor cursor) {
  uint8_t major = 0, minor_and_bugfix = 0, stage = 0, revision = 0;
  uint16_t region = 0;
  std::string short_version, long_version;
  if (!cursor.read_u8(major) || !cursor.read_u8(minor_and_bugfix) || !cursor.read_u8(stage) ||
      !cursor.read_u8(revision) || !cursor.read_u16(region) || !read_pascal_string(cursor, short_version) ||
      !read_pascal_string(cursor, long_version))
    return damaged("vers");
  const int minor = minor_and_bugfix >> 4;
  const int bugfix = minor_and_bugfix & 0x0F;
  const char *stage_name = stage == 0x20   ? "development"
                           : stage == 0x40 ? "alpha"
                           : stage == 0x60 ? "beta"
                           : stage == 0x80 ? "final"
                                           : "unknown";
  std::string version = std::to_string(from_bcd(major)) + "." + std::to_string(minor);
  if (bugfix != 0) version += "." + std::to_string(bugfix);
  // A final release shows no stage unless it carries a revision; the stage
  // letter is its name's initial ('?' when unknown).
  if (stage != 0x80 || revision != 0)
    version += (stage_name[0] == 'u' ? '?' : stage_name[0]) + std::to_string(revision);
  return JsonValue{{"version", version}, {"major", from_bcd(major)}, {"minor", minor},
                   {"bugfix", bugfix},   {"stage", stage_name},      {"revision", revision},
                   {"region", region},   {"short", short_version},   {"long", long_version}};
}

JsonValue fref_fields(ByteCursor cursor) {
  const std::optional<std::string> file_type = read_code(cursor);
  int16_t local_icon = 0;
  std::string file_name;
  // The file name is optional in older files.
  if (!file_type || !cursor.read_i16(local_icon) || (cursor.remaining() > 0 && !read_pascal_string(cursor, file_name)))
    return damaged("FREF");
  return JsonValue{{"file_type", *file_type}, {"local_icon", local_icon}, {"file_name", file_name}};
}

JsonValue bndl_fields(ByteCursor cursor) {
  const std::optional<std::string> owner = read_code(cursor);
  int16_t owner_id = 0;
  uint16_t types_minus_one = 0;
  if (!owner || !cursor.read_i16(owner_id) || !cursor.read_u16(types_minus_one)) return damaged("BNDL");
  JsonValue out{{"owner", *owner}, {"owner_id", owner_id}, {"types", JsonValue::array()}};
  // Each type takes at least 6 bytes, so a hostile count ends at the data's end.
  for (uint32_t t = 0; t <= types_minus_one; ++t) {
    const std::optional<std::string> type = read_code(cursor);
    uint16_t entries_minus_one = 0;
    if (!type || !cursor.read_u16(entries_minus_one)) return damaged("BNDL");
    JsonValue entries = JsonValue::array();
    for (uint32_t e = 0; e <= entries_minus_one; ++e) {
      int16_t local_id = 0, resource_id = 0;
      if (!cursor.read_i16(local_id) || !cursor.read_i16(resource_id)) return damaged("BNDL");
      entries.push_back(JsonValue{{"local_id", local_id}, {"id", resource_id}});
    }
    out["types"].push_back(JsonValue{{"type", *type}, {"entries", std::move(entries)}});
  }
  return out;
}

}  // namespace

std::optional<JsonValue> resource_fields(std::string_view type, int32_t id, std::span<const uint8_t> data,
                                         std::string_view creator) {
  const ByteCursor cursor(data);
  if (type == "vers") return vers_fields(cursor);
  if (type == "FREF") return fref_fields(cursor);
  if (type == "BNDL") return bndl_fields(cursor);
  if (type != creator || id != 0) return std::nullopt;
  ByteCursor owner(data);
  std::string text;
  return read_pascal_string(owner, text) ? JsonValue{{"owner_text", text}} : damaged("owner resource");
}

}  // namespace varnel_tool
