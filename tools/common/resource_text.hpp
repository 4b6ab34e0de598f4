// The Finder resources (vers, FREF, BNDL and the owner resource) as JSON
// objects for `list --json`.  Their one-line texts come from the library
// (MacBin_DescribeResource); their fields, which the library gives only as
// that text, are read here.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string_view>

namespace varnel_tool {

// JSON objects keep their members in the order they are added.
using JsonValue = nlohmann::ordered_json;

// Nothing for a type that is not described.  Damaged data gives
// {"error": "damaged vers data"} (FREF, BNDL, "owner resource" likewise).
// The owner resource is the one whose type is the file's `creator` and
// whose ID is 0.
std::optional<JsonValue> resource_fields(std::string_view type, int32_t id, std::span<const uint8_t> data,
                                         std::string_view creator);

}  // namespace varnel_tool
