// varnel ct: a single-channel CT image from a PNG or netpbm file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "decoded_pixels.hpp"
#include "library_output.hpp"
#include "tessel.h"
#include "tool_context.hpp"
#include "varnel.h"

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

// The library's sample kinds (MACBIN_SAMPLES_*) by their option names.
std::optional<int32_t> parse_ct_palette(const std::string &name) {
  if (name == "mac256") return MACBIN_SAMPLES_MAC256;
  if (name == "mac16") return MACBIN_SAMPLES_MAC16;
  if (name == "grey" || name == "gray") return MACBIN_SAMPLES_GREY;
  if (name == "mono") return MACBIN_SAMPLES_MONO;
  return std::nullopt;
}

uint8_t over_white(uint32_t value, uint32_t alpha) {
  return static_cast<uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

// One sample a pixel, rows top first; transparent pixels count as white.
std::vector<uint8_t> ct_samples(const MacBinPixels &image, int32_t palette) {
  const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
  std::vector<uint8_t> rgba(image.rgba, image.rgba + count * 4);
  for (size_t at = 0; at < rgba.size(); at += 4) {
    for (size_t c = 0; c < 3; ++c) rgba[at + c] = over_white(rgba[at + c], rgba[at + 3]);
    rgba[at + 3] = 255;
  }
  MacBinPixels pixels{image.width, image.height, 0, 0, rgba.data()};
  std::vector<uint8_t> samples(count);
  if (MacBin_PixelsToSamples(&pixels, palette, samples.data(), static_cast<int64_t>(samples.size())) != 1) {
    const char *reason = "";
    MacBin_LastError(&reason);
    throw std::runtime_error(reason);
  }
  return samples;
}

}  // namespace

int run_ct(const Arguments &arguments) {
  ArgumentWalker walker(arguments);
  std::vector<std::string> positional;
  int32_t palette = MACBIN_SAMPLES_MAC256;
  while (walker.next()) {
    if (take_shared_option(walker, kCtHelp, kQuietOption)) continue;
    if (walker.is("--palette")) {
      const std::string name = walker.value();
      const std::optional<int32_t> chosen = parse_ct_palette(name);
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
  DecodedPixels decoded;
  if (MacBin_ReadImageFile(input.c_str(), kMaxCtPixels, decoded.record(), nullptr) != 1) {
    const char *reason = "";
    MacBin_LastError(&reason);
    reporter.error(reason);
    return kExitFailure;
  }
  const MacBinPixels &image = decoded.pixels();
  const std::vector<uint8_t> samples = ct_samples(image, palette);
  std::string error;
  LibraryOutput output;
  if (!output.create(output_path, MACBIN_OUTPUT_FILE, error)) {
    reporter.error(output_path + ": cannot create: " + error);
    return kExitFailure;
  }
  errno = 0;
  if (tessel_write_ct(output.temporary_path().c_str(), samples.data(), image.width, image.height, 1) != 0) {
    reporter.error(output_path + ": cannot write: " + std::strerror(errno != 0 ? errno : EIO));
    return kExitFailure;
  }
  if (!output.commit(error)) {
    reporter.error(output_path + ": " + error);
    return kExitFailure;
  }
  reporter.notice("wrote " + output_path + " (" + std::to_string(image.width) + "x" + std::to_string(image.height) +
                  ")");
  return kExitSuccess;
}

}  // namespace varnel_tool
