#include "icon_resources.hpp"

#include <array>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/image_reader.hpp"
#include "varnel.h"

namespace varnel_tool {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kOpaque = 255;

// One image of an icon: PNG and netpbm ones as opaque RGBA over white with
// their alpha kept apart; CT ones as their samples.
struct IconImage {
  Bytes rgba;
  std::optional<Bytes> alpha;
  std::optional<Bytes> ct_samples;
};

uint32_t little_endian(const uint8_t *bytes, size_t count) {
  uint32_t value = 0;
  for (size_t i = count; i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

// A CT file of one channel and the icon's size, read whole.
std::optional<Bytes> read_ct_samples(const std::string &path, int32_t side, std::string &error) {
  std::ifstream file(path, std::ios::binary);
  std::array<uint8_t, 512> header{};
  if (!file.read(reinterpret_cast<char *>(header.data()), header.size())) {
    error = "not a PNG, netpbm or CT image";
    return std::nullopt;
  }
  const uint32_t channels = little_endian(&header[4], 2);
  const auto rows = static_cast<int32_t>(little_endian(&header[32], 4));
  const auto width = static_cast<int32_t>(little_endian(&header[36], 4));
  if (channels > 1) {
    error = "a CT icon must have one channel, this one has " + std::to_string(channels);
    return std::nullopt;
  }
  if (rows != side || width != side) {
    error = "the icon must be " + std::to_string(side) + "x" + std::to_string(side) + " pixels, the CT image is " +
            std::to_string(width) + "x" + std::to_string(rows);
    return std::nullopt;
  }
  Bytes samples(static_cast<size_t>(side * side));
  file.seekg(little_endian(&header[68], 4));
  if (!file.read(reinterpret_cast<char *>(samples.data()), static_cast<std::streamsize>(samples.size()))) {
    error = "the CT image ends before its last row";
    return std::nullopt;
  }
  return samples;
}

std::optional<IconImage> read_icon_image(const std::string &path, int32_t side, const char *what,
                                         std::string &error) {
  std::error_code code;
  if (!fs::is_regular_file(path, code)) {
    error = "no such image file";
    return std::nullopt;
  }
  IconImage image;
  char first = 0;
  std::ifstream(path, std::ios::binary).get(first);
  if (first != '\x89' && first != 'P') {
    image.ct_samples = read_ct_samples(path, side, error);
    if (!image.ct_samples) return std::nullopt;
    return image;
  }
  DecodedImage decoded;
  constexpr int64_t kLargestIconPixels = 256 * 256;
  if (!decode_image_file(path, kLargestIconPixels, decoded, error)) return std::nullopt;
  if (decoded.info.width != side || decoded.info.height != side) {
    error = std::string("the ") + what + " must be " + std::to_string(side) + "x" + std::to_string(side) +
            " pixels, the image is " + std::to_string(decoded.info.width) + "x" + std::to_string(decoded.info.height);
    return std::nullopt;
  }
  image.rgba = rgba_over_white(decoded);
  image.alpha = alpha_channel(decoded);
  return image;
}

// The library's encoding of `rgba` (side x side) as `type`.
Bytes encode(const std::string &type, int32_t side, Bytes rgba) {
  MacBinPixels pixels{side, side, 0, 0, rgba.data()};
  Bytes data(static_cast<size_t>(side * side * 2));  // the most any family type takes (icl8)
  std::array<char, 128> reason{};
  const int32_t length = MacBin_EncodeResource(type.c_str(), &pixels, MACBIN_ENCODE_NEAREST, data.data(),
                                               static_cast<int32_t>(data.size()), reason.data());
  if (length < 0) throw std::runtime_error(type + ": " + reason.data());  // sizes are checked before
  data.resize(static_cast<size_t>(length));
  return data;
}

Bytes with_alpha(Bytes rgba, const Bytes &alpha) {
  for (size_t i = 0; i < alpha.size(); ++i) rgba[i * 4 + 3] = alpha[i];
  return rgba;
}

// The mask bits of a mask image: its alpha, a CT's non-zero samples, or
// else its dark pixels (the encoder's black).
Bytes mask_bits(const std::string &type, int32_t side, const IconImage &mask) {
  const size_t half = static_cast<size_t>(side * side / 8);
  if (!mask.alpha && !mask.ct_samples) {
    Bytes data = encode(type, side, mask.rgba);
    data.resize(half);
    return data;
  }
  Bytes alpha = mask.alpha ? *mask.alpha : *mask.ct_samples;
  if (!mask.alpha)
    for (uint8_t &sample : alpha) sample = sample != 0 ? kOpaque : 0;
  const Bytes rgba = mask.alpha ? mask.rgba : Bytes(alpha.size() * 4, kOpaque);
  const Bytes data = encode(type, side, with_alpha(rgba, alpha));
  return Bytes(data.end() - static_cast<std::ptrdiff_t>(half), data.end());
}

// CT samples as the resource stores them: indices as they are, the
// 16-colour ones two to a byte, black-and-white ones as black or white.
Bytes ct_icon_data(const std::string &type, int32_t side, const Bytes &samples) {
  if (type[3] == '8') return samples;
  if (type[3] == '4') {
    Bytes data(samples.size() / 2);
    for (size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<uint8_t>((samples[2 * i] & 0xF0) | samples[2 * i + 1] >> 4);
    return data;
  }
  Bytes rgba(samples.size() * 4, kOpaque);
  for (size_t i = 0; i < samples.size(); ++i)
    if (samples[i] != 0) rgba[i * 4] = rgba[i * 4 + 1] = rgba[i * 4 + 2] = 0;
  return encode(type, side, rgba);
}

std::string trimmed(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The image and, for ICN# and ics#, an optional mask image: one or two
// names (quoted when they hold blanks).  A whole parameter that names an
// existing file is one name, blanks and all, as before masks existed.
std::optional<std::vector<std::string>> icon_file_names(const std::string &type, const std::string &param,
                                                        const std::string &directory, std::string &error) {
  const bool takes_mask = type[3] == '#';
  const std::string whole = trimmed(param);
  const std::string wanted = takes_mask ? " needs an image file (PNG, netpbm or CT), and may add a mask image"
                                        : " needs an image file (PNG, netpbm or CT)";
  std::error_code code;
  if (!whole.empty() && fs::is_regular_file(fs::path(directory) / whole, code)) return std::vector{whole};
  std::vector<char> buffer(whole.size() + 1);
  std::array<char *, 3> words{};
  const int32_t count = whole.empty() ? 0 : MacBin_GetArguments(whole.c_str(), buffer.data(), words.data(), 2);
  std::vector<std::string> names(words.begin(), words.begin() + count);
  if (words[2] != nullptr || (count == 2 && !takes_mask)) {
    error = takes_mask ? type + " takes an image file and at most one mask image"
                       : type + " takes one image file (only ICN# and ics# take a mask image)";
    return std::nullopt;
  }
  if (names.empty() || names[0].empty() || (count == 2 && names[1].empty())) {
    error = type + wanted;
    return std::nullopt;
  }
  return names;
}

}  // namespace

bool is_icon_type(const std::string &type) {
  return type == "ICN#" || type == "ics#" || type == "icl8" || type == "ics8" || type == "icl4" || type == "ics4";
}

std::optional<std::vector<uint8_t>> icon_resource_data(const std::string &type, const std::string &param,
                                                       const std::string &directory, std::string &error) {
  const std::optional<std::vector<std::string>> names = icon_file_names(type, param, directory, error);
  if (!names) return std::nullopt;
  const int32_t side = type.starts_with("ics") ? 16 : 32;
  std::optional<IconImage> mask;
  const std::optional<IconImage> icon = read_icon_image((fs::path(directory) / (*names)[0]).string(), side, "icon", error);
  if (!icon) {
    error = (*names)[0] + ": " + error;
    return std::nullopt;
  }
  if (names->size() == 2) {
    mask = read_icon_image((fs::path(directory) / (*names)[1]).string(), side, "mask", error);
    if (!mask) {
      error = (*names)[1] + ": " + error;
      return std::nullopt;
    }
  }
  Bytes data = icon->ct_samples ? ct_icon_data(type, side, *icon->ct_samples) : encode(type, side, icon->rgba);
  // ICN# and ics#: the encoder gave the full mask for opaque pixels.
  if (!mask && icon->alpha && type[3] == '#') mask = IconImage{icon->rgba, icon->alpha, std::nullopt};
  if (mask) {
    const Bytes bits = mask_bits(type, side, *mask);
    std::copy(bits.begin(), bits.end(), data.end() - static_cast<std::ptrdiff_t>(bits.size()));
  }
  return data;
}

}  // namespace varnel_tool
