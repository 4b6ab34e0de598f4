// File names for resources written out one by one ("ICN#.128", "TEXT.-1"):
// the type's characters, with those that a file name cannot or should not
// hold written as %XX.  A map may hold several resources with one type and
// ID; the second is "TEXT.128.2", the third "TEXT.128.3", and so on.  A
// type's "." is always escaped, so no two resources share a name.
#pragma once

#include <cstdint>
#include <string>

namespace varnel_tool {

// `occurrence` counts the resources with this type and ID, from 1.
std::string resource_file_stem(const std::string &mac_type, int32_t id, int32_t occurrence = 1);

}  // namespace varnel_tool
