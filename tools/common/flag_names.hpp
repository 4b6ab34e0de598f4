// Names of the bits of the Finder flags and of a resource's attribute byte,
// for listings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnel_tool {

// The set Finder flags, high bit first ("hasBundle", ...); the colour label
// as "color=N" and the reserved bits as "reserved=N".
std::vector<std::string> finder_flag_names(uint16_t flags);

// The set resource attributes, high bit first ("sysHeap", "purgeable", ...).
std::vector<std::string> resource_attribute_names(int32_t attributes);

}  // namespace varnel_tool
