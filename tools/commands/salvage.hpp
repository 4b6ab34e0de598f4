// varnel check --salvage: what can still be read of a damaged file, written
// as a valid file in the same container.
#pragma once

#include <string>

namespace varnel_tool {

// Writes `output` from `input`: its Finder information, name and dates,
// its data fork and every resource the library can read, through the
// library's writer.  Each part that is lost gets an error message naming
// it.  Returns the exit status: 0 nothing lost, 1 something lost or not
// written (an output is left only when it holds the rest whole).
int salvage_file(const std::string &input, const std::string &output);

}  // namespace varnel_tool
