// The tool's JSON reports (list --json, check --json).
#pragma once

#include <nlohmann/json.hpp>

namespace varnel_tool {

// JSON objects keep their members in the order they are added.
using JsonValue = nlohmann::ordered_json;

}  // namespace varnel_tool
