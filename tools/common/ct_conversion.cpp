#include "common/ct_conversion.hpp"

#include "common/mac_palettes.hpp"

namespace varnel_tool {
namespace {

uint8_t over_white(uint32_t value, uint32_t alpha) {
  return static_cast<uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

}  // namespace

std::optional<CtPalette> parse_ct_palette(std::string_view name) {
  if (name == "mac256") return CtPalette::kMac256;
  if (name == "mac16") return CtPalette::kMac16;
  if (name == "grey" || name == "gray") return CtPalette::kGrey;
  if (name == "mono") return CtPalette::kMono;
  return std::nullopt;
}

std::vector<uint8_t> convert_to_ct_samples(const DecodedImage &image, CtPalette palette) {
  const auto channels = static_cast<size_t>(image.info.channels);
  const size_t pixels = static_cast<size_t>(image.info.width) * static_cast<size_t>(image.info.height);
  const bool has_alpha = channels == 2 || channels == 4;
  std::vector<uint8_t> samples(pixels);
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t *pixel = &image.samples[i * channels];
    const uint32_t alpha = has_alpha ? pixel[channels - 1] : 255u;
    Rgb colour{};
    if (channels >= 3) {
      colour = {over_white(pixel[0], alpha), over_white(pixel[1], alpha), over_white(pixel[2], alpha)};
    } else {
      const uint8_t grey = over_white(pixel[0], alpha);
      colour = {grey, grey, grey};
    }
    switch (palette) {
      case CtPalette::kMac256:
        samples[i] = nearest_palette_index(mac_palette_256(), colour);
        break;
      case CtPalette::kMac16:
        // The 4-bit builder keeps the high nibble of each sample.
        samples[i] = static_cast<uint8_t>(nearest_palette_index(mac_palette_16(), colour) << 4);
        break;
      case CtPalette::kGrey:
        samples[i] = static_cast<uint8_t>(255 - luminance_of(colour));
        break;
      case CtPalette::kMono:
        samples[i] = luminance_of(colour) < 128 ? 255 : 0;
        break;
    }
  }
  return samples;
}

namespace {

constexpr uint8_t kInside = 255;
constexpr uint8_t kOutside = 0;
constexpr uint32_t kHalf = 128;  // one half of 255 (127.5), rounded up

bool has_alpha_channel(const DecodedImage &image) { return image.info.channels == 2 || image.info.channels == 4; }

size_t pixel_count(const DecodedImage &image) {
  return static_cast<size_t>(image.info.width) * static_cast<size_t>(image.info.height);
}

std::vector<uint8_t> mask_of_alpha_channel(const DecodedImage &image) {
  const auto channels = static_cast<size_t>(image.info.channels);
  std::vector<uint8_t> samples(pixel_count(image));
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = image.samples[i * channels + channels - 1] >= kHalf ? kInside : kOutside;
  return samples;
}

}  // namespace

std::optional<std::vector<uint8_t>> mask_from_alpha(const DecodedImage &image) {
  if (!has_alpha_channel(image)) return std::nullopt;
  return mask_of_alpha_channel(image);
}

std::vector<uint8_t> mask_from_image(const DecodedImage &image) {
  if (has_alpha_channel(image)) return mask_of_alpha_channel(image);
  const auto channels = static_cast<size_t>(image.info.channels);
  std::vector<uint8_t> samples(pixel_count(image));
  for (size_t i = 0; i < samples.size(); ++i) {
    const uint8_t *pixel = &image.samples[i * channels];
    const Rgb colour = channels >= 3 ? Rgb{pixel[0], pixel[1], pixel[2]} : Rgb{pixel[0], pixel[0], pixel[0]};
    samples[i] = luminance_of(colour) < kHalf ? kInside : kOutside;
  }
  return samples;
}

}  // namespace varnel_tool
