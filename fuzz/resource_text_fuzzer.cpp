// The tool's renderers of stored resources on arbitrary bytes: the PICT
// decoder (opcodes, colour table, mask region, PackBits rows), the icon
// renderer for each icon type, and the vers / FREF / BNDL decoders of the
// listing.  Rows go to a sink that checks their size and keeps nothing.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "support/icon_render.hpp"
#include "support/image_sink.hpp"
#include "support/pict_render.hpp"
#include "support/resource_text.hpp"

namespace {

// Checks that rows come as announced: never more rows than the height,
// never a row of another length.
class CheckingSink final : public varnel_tool::ImageSink {
 public:
  bool start(int32_t width, int32_t height, int32_t channels) override {
    if (started_ || width <= 0 || height <= 0 || (channels != 3 && channels != 4)) std::abort();
    started_ = true;
    row_bytes_ = static_cast<size_t>(width) * static_cast<size_t>(channels);
    rows_left_ = height;
    return true;
  }
  bool write_row(std::span<const uint8_t> row) override {
    if (!started_ || rows_left_ <= 0 || row.size() != row_bytes_) std::abort();
    --rows_left_;
    return true;
  }

 private:
  bool started_ = false;
  size_t row_bytes_ = 0;
  int32_t rows_left_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  std::string error;
  {
    CheckingSink sink;
    if (!varnel_tool::render_pict(bytes, sink, error) && error.empty()) std::abort();
  }
  for (const char *type : {"ICN#", "ics#", "icl8", "ics8", "icl4", "ics4"}) {
    const varnel_tool::IconFormat *format = varnel_tool::find_icon_format(type);
    CheckingSink sink;
    // The data as the icon itself, and its head as the icon with the tail as a mask.
    varnel_tool::render_icon(*format, bytes, {}, sink, error);
    if (size >= format->data_bytes) {
      CheckingSink masked;
      const size_t mask_bytes = static_cast<size_t>(format->side_pixels * format->side_pixels / 8);
      const std::span<const uint8_t> mask = size >= format->data_bytes + mask_bytes
                                                ? bytes.subspan(format->data_bytes, mask_bytes)
                                                : std::span<const uint8_t>();
      varnel_tool::render_icon(*format, bytes.first(format->data_bytes), mask, masked, error);
    }
  }
  for (const char *type : {"vers", "FREF", "BNDL", "VARN"})
    if (!varnel_tool::decode_resource(type, 0, bytes, "VARN")) std::abort();
  return 0;
}
