#include "decoded_pixels.hpp"

#include <cerrno>
#include <cstdio>
#include <span>

#include "common/output_file.hpp"
#include "common/png_writer.hpp"
#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr size_t kRgbaBytes = 4;

bool every_pixel_is_opaque(std::span<const uint8_t> rgba) {
  for (size_t at = 3; at < rgba.size(); at += kRgbaBytes)
    if (rgba[at] != 0xFF) return false;
  return true;
}

// Sends the rows to `writer`; false with writer.error() set.
bool write_rows(const MacBinPixels &pixels, const PngTexts &texts, PngWriter &writer) {
  for (const auto &[keyword, text] : texts) writer.add_text(keyword, text);
  const auto width = static_cast<size_t>(pixels.width);
  const auto height = static_cast<size_t>(pixels.height);
  const std::span<const uint8_t> rgba(pixels.rgba, width * height * kRgbaBytes);
  const bool opaque = every_pixel_is_opaque(rgba);
  if (!writer.start(pixels.width, pixels.height, opaque ? 3 : 4)) return false;
  std::vector<uint8_t> rgb(opaque ? width * 3 : 0);
  for (size_t y = 0; y < height; ++y) {
    const std::span<const uint8_t> row = rgba.subspan(y * width * kRgbaBytes, width * kRgbaBytes);
    if (!opaque) {
      if (!writer.write_row(row)) return false;
      continue;
    }
    for (size_t x = 0; x < width; ++x)
      for (size_t channel = 0; channel < 3; ++channel) rgb[x * 3 + channel] = row[x * kRgbaBytes + channel];
    if (!writer.write_row(rgb)) return false;
  }
  return writer.finish();
}

}  // namespace

bool write_pixels_as_png(const std::string &path, const MacBinPixels &pixels, const PngTexts &texts) {
  if (pixels.width <= 0 || pixels.height <= 0 || pixels.rgba == nullptr) {
    Reporter::instance().error(path + ": the decoder gave no pixels");
    return false;
  }
  if (path == "-") {
    // The results stream keeps the reason of a failed write itself.
    PngWriter writer(results());
    if (!write_rows(pixels, texts, writer)) {
      if (std::ferror(results()) == 0) Reporter::instance().error("standard output: " + writer.error());
      flush_results();
      return false;
    }
    return flush_results();
  }
  OutputFile output;
  std::string error;
  if (!output.create(path, true, error)) {
    Reporter::instance().error(path + ": cannot create: " + error);
    return false;
  }
  PngWriter writer(output.stream());
  if (!write_rows(pixels, texts, writer)) {
    // libpng writes through the stream: a failed write shows there.
    if (std::ferror(output.stream()) != 0) output.note_write_error(errno);
    Reporter::instance().error(path + ": " +
                               (std::ferror(output.stream()) != 0 ? output.write_error() : writer.error()));
    return false;
  }
  if (!output.commit(error)) {
    Reporter::instance().error(path + ": " + error);
    return false;
  }
  Reporter::instance().notice("wrote " + path);
  return true;
}

}  // namespace varnel_tool
