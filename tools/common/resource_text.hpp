// Readable forms of the Finder resources (vers, FREF, BNDL and the owner
// resource) for listings: one line of text and one JSON object each.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace varnel_tool {

// JSON objects keep their members in the order they are added.
using JsonValue = nlohmann::ordered_json;

struct DecodedResource {
  std::string text;  // UTF-8, one line
  JsonValue json;    // an object
};

// Nothing for a type the tool does not decode.  Damaged data gives a text
// and an object that say so.  The owner resource is the one whose type is
// the file's `creator` and whose ID is 0.
std::optional<DecodedResource> decode_resource(std::string_view type, int32_t id,
                                               std::span<const uint8_t> data,
                                               std::string_view creator);

}  // namespace varnel_tool
