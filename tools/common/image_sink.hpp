// Where decoded pictures and icons go: a start with the size, then the rows
// top first.  RGB (3 channels) or RGBA (4), 8 bits each.
#pragma once

#include <cstdint>
#include <span>

namespace varnel_tool {

class ImageSink {
 public:
  virtual ~ImageSink() = default;
  virtual bool start(int32_t width, int32_t height, int32_t channels) = 0;
  virtual bool write_row(std::span<const uint8_t> row) = 0;
};

}  // namespace varnel_tool
