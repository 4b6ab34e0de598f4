#include "decoded_pixels.hpp"

#include <optional>
#include <span>
#include <vector>

#include "common/progress_line.hpp"
#include "library_output.hpp"
#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr int64_t kRgbaBytes = 4;

int32_t compression_chosen = MACBIN_PNG_FAST;

// The encoder's sink and row counter, over the output's writer.
struct PngOutput {
  const ByteWriter *write;
  ProgressLine *progress;
  int64_t row_bytes;
};

int32_t take_bytes(const uint8_t *bytes, size_t length, void *context) {
  const auto &output = *static_cast<PngOutput *>(context);
  // Nothing may be thrown through the encoder.
  try {
    return (*output.write)(std::span<const uint8_t>(bytes, length)) ? 0 : 1;
  } catch (...) {
    return 1;
  }
}

// Progress counts each row as its RGBA bytes, whatever is stored.
void count_row(int32_t /*rows*/, void *context) {
  const auto &output = *static_cast<PngOutput *>(context);
  output.progress->add(output.row_bytes);
}

}  // namespace

void set_png_compression(int32_t compression) { compression_chosen = compression; }

bool write_pixels_as_png(const std::string &path, const MacBinPixels &pixels, const PngTexts &texts,
                         const std::string &progress_label) {
  if (pixels.width <= 0 || pixels.height <= 0 || pixels.rgba == nullptr) {
    Reporter::instance().error(path + ": the decoder gave no pixels");
    return false;
  }
  const int64_t row_bytes = int64_t{pixels.width} * kRgbaBytes;
  std::optional<ProgressLine> progress;
  if (!progress_label.empty()) progress.emplace(progress_label, row_bytes * pixels.height);
  std::vector<const char *> keys;
  std::vector<const char *> values;
  for (const auto &[key, value] : texts) {
    keys.push_back(key.c_str());
    values.push_back(value.c_str());
  }
  const bool written = write_output(path, [&](const ByteWriter &out) {
    PngOutput output{&out, progress ? &*progress : nullptr, row_bytes};
    const MacBinPNGOptions options{compression_chosen, static_cast<int32_t>(keys.size()), keys.data(),
                                   values.data(),      progress ? count_row : nullptr,    &output};
    if (MacBin_EncodePNG(&pixels, &options, take_bytes, &output) == 1) return true;
    const char *reason = "";
    // A refused write has been reported by the writer.
    if (MacBin_LastError(&reason) != MACBIN_ERR_IO)
      Reporter::instance().error((path == "-" ? "standard output" : path) + ": " + reason);
    return false;
  });
  if (written && progress) progress->finish();
  if (written && path != "-") Reporter::instance().notice("wrote " + path);
  return written;
}

}  // namespace varnel_tool
