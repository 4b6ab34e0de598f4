// MacBin_PixelsToSamples: RGBA pixels as the one-byte samples of a CT
// image, in the forms the icon builders read.
#include <cstdint>
#include <new>
#include <string>

#include "format/system_palettes.hpp"
#include "frame/internal.hpp"
#include "icon/rgba_encoding.hpp"
#include "varnel.h"

namespace varnel::icon {
namespace {

// A sample folded over white by its alpha, rounded.
uint8_t over_white(uint32_t value, uint32_t alpha) {
  return static_cast<uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

uint8_t sample_of(format::Rgb colour, int32_t kind) {
  switch (kind) {
    case MACBIN_SAMPLES_MAC256: return nearest_index(format::system_palette(8), colour);
    case MACBIN_SAMPLES_MAC16: return static_cast<uint8_t>(nearest_index(format::system_palette(4), colour) << 4);
    case MACBIN_SAMPLES_GREY: return static_cast<uint8_t>(255 - luminance(colour));
    default: return luminance(colour) < 128 ? 255 : 0;
  }
}

int32_t refuse(const std::string &reason) {
  record_error(MACBIN_ERR_ARGUMENT, ("MacBin_PixelsToSamples: " + reason).c_str());
  return 0;
}

}  // namespace
}  // namespace varnel::icon

extern "C" int32_t MacBin_PixelsToSamples(const MacBinPixels *pixels, int32_t kind, uint8_t *samples,
                                          int64_t capacity) {
  using namespace varnel::icon;
  if (pixels == nullptr || pixels->rgba == nullptr || samples == nullptr) return refuse("no pixels or no buffer");
  if (pixels->width <= 0 || pixels->height <= 0) return refuse("an empty image");
  if (kind < MACBIN_SAMPLES_MAC256 || kind > MACBIN_SAMPLES_MONO)
    return refuse("unknown kind " + std::to_string(kind));
  const int64_t count = int64_t{pixels->width} * pixels->height;
  if (capacity < count)
    return refuse("room for " + std::to_string(capacity) + " samples, not the " + std::to_string(count) + " wanted");
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t *pixel = pixels->rgba + i * 4;
    const uint32_t alpha = pixel[3];
    const varnel::format::Rgb colour{over_white(pixel[0], alpha), over_white(pixel[1], alpha),
                                     over_white(pixel[2], alpha)};
    samples[i] = sample_of(colour, kind);
  }
  return 1;
}
