// Starts the library for the tool: MacBin_Init, and the tool's own message,
// start, progress and end methods, which report through the Reporter and
// follow a picture being written on a progress line (common/progress_line.hpp).
#pragma once

#include <optional>
#include <string>

namespace varnel_tool {

// False (after an error message) when the library cannot start.
bool start_library();

// After the library failed to write its output file: "write error: REASON"
// with the system's reason for the first failed write.  The library's own
// messages about that failure are not shown; the caller names the file.
std::optional<std::string> library_write_error();

// Whether the tool has already said why the resource being inserted (or
// the file as a whole) cannot be written: a processor's error was said
// against the line, or the caller set it.  The library's own "not inserted" warning that follows
// such a refusal adds nothing and is left out.  The caller clears it before
// each resource line.
void set_refusal_explained(bool explained);
bool refusal_explained();

}  // namespace varnel_tool
