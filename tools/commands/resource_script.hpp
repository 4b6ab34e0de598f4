// extract --script: a Macintosh file as a resource script that pack turns
// back into the same file, with the data fork and each resource in a file
// beside it.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "macbinary_input.hpp"

namespace varnel_tool {

// Writes one file whole (only when complete); false after an error message.
using WholeFileWriter = std::function<bool(const std::string &path, std::span<const uint8_t> bytes)>;

// Writes DIR/resources.txt, DIR/data and one file per resource into
// `directory` (made when missing) through `write`; false after an error
// message (the files that could be written stay).
bool write_resource_script(MacBinaryInput &input, const std::string &directory, const WholeFileWriter &write);

}  // namespace varnel_tool
