#include "decoded_pixels.hpp"

#include <optional>
#include <span>

#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr size_t kRgbaBytes = 4;

bool every_pixel_is_opaque(std::span<const uint8_t> rgba) {
  for (size_t at = 3; at < rgba.size(); at += kRgbaBytes)
    if (rgba[at] != 0xFF) return false;
  return true;
}

}  // namespace

bool write_pixels_as_png(const std::string &path, const MacBinPixels &pixels, const PngTexts &texts,
                         const std::string &progress_label) {
  if (pixels.width <= 0 || pixels.height <= 0 || pixels.rgba == nullptr) {
    Reporter::instance().error(path + ": the decoder gave no pixels");
    return false;
  }
  const std::span<const uint8_t> rgba(pixels.rgba, static_cast<size_t>(pixels.width) *
                                                       static_cast<size_t>(pixels.height) * kRgbaBytes);
  std::optional<ProgressLine> progress;
  if (!progress_label.empty()) progress.emplace(progress_label, static_cast<int64_t>(rgba.size()));
  const PngImage image{pixels.width, pixels.height, rgba, !every_pixel_is_opaque(rgba), texts,
                       progress ? &*progress : nullptr};
  const bool written = write_output(path, [&](const ByteWriter &out) {
    std::string error;
    if (write_png(image, out, error)) return true;
    // A refused write has been reported by the writer.
    if (!error.empty()) Reporter::instance().error((path == "-" ? "standard output" : path) + ": " + error);
    return false;
  });
  if (written && progress) progress->finish();
  if (written && path != "-") Reporter::instance().notice("wrote " + path);
  return written;
}

}  // namespace varnel_tool
