// A small input read whole into memory: a file by name, or standard input
// for "-".  For inputs a decoder needs at once (a PICT file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnel_tool {

// Reads `path` ("-": standard input) to its end.  False with `error` set
// ("cannot open: REASON", "read error: REASON", or longer than `max_bytes`);
// the text names no path.
bool read_whole_file(const std::string &path, int64_t max_bytes, std::vector<uint8_t> &bytes,
                     std::string &error);

}  // namespace varnel_tool
