// The tool's image files for the library: its PNG and netpbm readers
// (common/image_reader.hpp) registered as the library's image-file reader,
// through which the library reads the images of PICT and icon lines.
#pragma once

namespace varnel_tool {

// Registers the reader; call after the library has started (its start
// empties the method slots the registration fills).  False after an error
// message when the library refused it.
bool install_image_file_reader();

}  // namespace varnel_tool
