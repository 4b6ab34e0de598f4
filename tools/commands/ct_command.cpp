// varnel ct: a single-channel CT image from a PNG or netpbm file.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "common/image_reader.hpp"
#include "common/output_file.hpp"
#include "tessel.h"
#include "varnel.h"
#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr const char *kCtHelp = R"(Usage: varnel ct IN OUT.ct [--palette mac256|mac16|grey|mono]

Converts the PNG or netpbm image IN into the single-channel CT file OUT.ct
that the icon builders and other CT-reading hosts take.  Each pixel becomes
one byte (transparent pixels count as white):
  mac256  index of the nearest colour of the Macintosh 256-colour palette
          (for icl8, ics8; the default)
  mac16   index of the nearest colour of the 16-colour palette, in the
          high four bits (for icl4, ics4)
  grey    amount of ink: 0 white to 255 black
  mono    255 for dark pixels, 0 for light ones (for ICN#, ics#)

Options:
  --palette NAME  one of the four above
  -q, --quiet     no notices
  -h, --help      this text

Exit status: 0 on success, 1 when IN cannot be read or OUT.ct written (no
OUT.ct is left behind), 2 for a usage error.
)";

// A CT image is held whole in memory by the writer; this keeps it sane.
constexpr int64_t kMaxCtPixels = 64ll << 20;

enum class CtPalette { kMac256, kMac16, kGrey, kMono };

std::optional<CtPalette> parse_ct_palette(const std::string &name) {
  if (name == "mac256") return CtPalette::kMac256;
  if (name == "mac16") return CtPalette::kMac16;
  if (name == "grey" || name == "gray") return CtPalette::kGrey;
  if (name == "mono") return CtPalette::kMono;
  return std::nullopt;
}

// Luminance (0.299 red + 0.587 green + 0.114 blue, rounded), 0 to 255.
uint8_t luminance(const uint8_t *rgb) {
  return static_cast<uint8_t>((299u * rgb[0] + 587u * rgb[1] + 114u * rgb[2] + 500u) / 1000u);
}

// The system-table indices of the pixels, from the library's icon encoder:
// an icl8 or icl4 holds 1024 pixels in order, whatever the image's shape.
std::vector<uint8_t> palette_indices(const std::vector<uint8_t> &rgba, bool sixteen) {
  constexpr size_t kIconPixels = 32 * 32;
  const size_t pixels = rgba.size() / 4;
  std::vector<uint8_t> indices(pixels);
  std::vector<uint8_t> block(kIconPixels * 4);
  std::vector<uint8_t> data(kIconPixels);
  for (size_t start = 0; start < pixels; start += kIconPixels) {
    const size_t count = std::min(kIconPixels, pixels - start);
    std::fill(block.begin(), block.end(), 255);
    std::copy_n(rgba.begin() + static_cast<std::ptrdiff_t>(start * 4), count * 4, block.begin());
    MacBinPixels icon{32, 32, 0, 0, block.data()};
    if (MacBin_EncodeResource(sixteen ? "icl4" : "icl8", &icon, MACBIN_ENCODE_NEAREST, data.data(),
                              static_cast<int32_t>(data.size()), nullptr) < 0)
      throw std::runtime_error("the icon encoder refused a block of pixels");
    for (size_t i = 0; i < count; ++i)
      indices[start + i] = sixteen ? static_cast<uint8_t>(data[i / 2] << (i % 2 == 0 ? 0 : 4) & 0xF0) : data[i];
  }
  return indices;
}

// One sample a pixel, rows top first; transparent pixels count as white.
std::vector<uint8_t> ct_samples(const DecodedImage &image, CtPalette palette) {
  const std::vector<uint8_t> rgba = rgba_over_white(image);
  if (palette == CtPalette::kMac256 || palette == CtPalette::kMac16)
    return palette_indices(rgba, palette == CtPalette::kMac16);
  std::vector<uint8_t> samples(rgba.size() / 4);
  for (size_t i = 0; i < samples.size(); ++i) {
    const uint8_t light = luminance(&rgba[i * 4]);
    samples[i] = palette == CtPalette::kGrey ? static_cast<uint8_t>(255 - light) : light < 128 ? 255 : 0;
  }
  return samples;
}

}  // namespace

int run_ct(const Arguments &arguments) {
  ArgumentWalker walker(arguments);
  std::vector<std::string> positional;
  CtPalette palette = CtPalette::kMac256;
  while (walker.next()) {
    if (walker.is("--help", "-h")) {
      std::fputs(kCtHelp, results());
      return kExitSuccess;
    } else if (walker.is("--quiet", "-q")) {
      walker.expect_no_value();
      Reporter::instance().set_quiet(true);
    } else if (walker.is("--palette")) {
      const std::string name = walker.value();
      const std::optional<CtPalette> chosen = parse_ct_palette(name);
      if (!chosen) throw UsageError("--palette must be mac256, mac16, grey or mono, not '" + name + "'");
      palette = *chosen;
    } else if (walker.is_positional() && positional.size() < 2) {
      positional.push_back(walker.text());
    } else {
      walker.reject();
    }
  }
  if (positional.size() != 2) throw UsageError("ct needs an input image and an output CT file");
  const std::string &input = positional[0];
  const std::string &output_path = positional[1];
  Reporter &reporter = Reporter::instance();
  DecodedImage image;
  std::string error;
  if (!decode_image_file(input, kMaxCtPixels, image, error)) {
    reporter.error(input + ": " + error);
    return kExitFailure;
  }
  const std::vector<uint8_t> samples = ct_samples(image, palette);
  OutputFile output;
  if (!output.create(output_path, false, error)) {
    reporter.error(output_path + ": cannot create: " + error);
    return kExitFailure;
  }
  errno = 0;
  if (tessel_write_ct(output.temporary_path().c_str(), samples.data(), image.info.width, image.info.height,
                      1) != 0) {
    reporter.error(output_path + ": cannot write: " + std::strerror(errno != 0 ? errno : EIO));
    return kExitFailure;
  }
  if (!output.commit(error)) {
    reporter.error(output_path + ": " + error);
    return kExitFailure;
  }
  reporter.notice("wrote " + output_path + " (" + std::to_string(image.info.width) + "x" +
                  std::to_string(image.info.height) + ")");
  return kExitSuccess;
}

}  // namespace varnel_tool
