// File names for resources written out one by one ("ICN#.128", "TEXT.-1"):
// the type's characters, with those that a file name cannot or should not
// hold written as %XX.
#pragma once

#include <cstdint>
#include <string>

namespace varnel_tool {

std::string resource_file_stem(const std::string &mac_type, int32_t id);

}  // namespace varnel_tool
