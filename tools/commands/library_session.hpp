// Starts the library for the tool: MacBin_Init, and the tool's own message,
// start, progress and end methods, which report through the Reporter and
// draw a progress bar on a terminal while a picture is written.
#pragma once

namespace varnel_tool {

// False (after an error message) when the library cannot start.
bool start_library();

}  // namespace varnel_tool
