// Starts the library for the tool: MacBin_Init, and the tool's own message,
// start, progress and end methods, which report through the Reporter and
// draw a progress bar on a terminal while a picture is written.
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

}  // namespace varnel_tool
