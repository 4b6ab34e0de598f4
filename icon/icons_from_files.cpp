// Icon resources (ICN# ics# icl8 ics8 icl4 ics4) from image files: files
// the image-file readers open (the host's, the built-in one), encoded with the system colours as
// MacBin_EncodeResource does, and CT files, whose samples are stored as
// they are.  The entry points for hosts (MacBin_MakeIconFromFiles, from a
// line's parameter MacBin_MakeIconFromLine) and the write handler
// MacBin_Add_Icon.
#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "format/icon_family.hpp"
#include "frame/internal.hpp"
#include "tessel.h"
#include "varnel.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kOpaque = 255;
// Largest image read whole for an icon; a bigger one is refused before
// its rows are read.
constexpr int64_t kLargestIconPixels = 256 * 256;

// A refusal: its code and its line, naming the file.
struct IconRefusal : std::runtime_error {
  IconRefusal(int32_t refusal_code, const std::string &text) : std::runtime_error(text), code(refusal_code) {}
  int32_t code;
};

[[noreturn]] void refuse_image(const std::string &name, const std::string &reason) {
  throw IconRefusal(MACBIN_ERR_IMAGE, name + ": " + reason);
}

// One image of an icon: the reader's as opaque RGBA over white with its
// alpha kept apart; CT ones as their samples.
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
Bytes read_ct_samples(const std::string &name, const std::string &path, int32_t side) {
  std::ifstream file(path, std::ios::binary);
  std::array<uint8_t, TESSEL_CT_HEADER_SIZE> header{};
  if (!file.read(reinterpret_cast<char *>(header.data()), header.size()))
    refuse_image(name, "not a " + image_formats_with_ct() + " image");
  const uint32_t channels = little_endian(&header[TESSEL_CT_CHANNELS_OFFSET], 2);
  const auto rows = static_cast<int32_t>(little_endian(&header[TESSEL_CT_ROWS_OFFSET], 4));
  const auto width = static_cast<int32_t>(little_endian(&header[TESSEL_CT_WIDTH_OFFSET], 4));
  if (channels > 1) refuse_image(name, "a CT icon must have one channel, this one has " + std::to_string(channels));
  if (rows != side || width != side)
    refuse_image(name, "the icon must be " + std::to_string(side) + "x" + std::to_string(side) +
                           " pixels, the CT image is " + std::to_string(width) + "x" + std::to_string(rows));
  Bytes samples(static_cast<size_t>(side * side));
  file.seekg(little_endian(&header[TESSEL_CT_DATA_OFFSET], 4));
  if (!file.read(reinterpret_cast<char *>(samples.data()), static_cast<std::streamsize>(samples.size())))
    refuse_image(name, "the CT image ends before its last row");
  return samples;
}

// Folds the reader's rows over white by their alpha, keeping the alpha.
IconImage from_samples(const MacBinImageFileInfo &info, const Bytes &samples) {
  const auto channels = static_cast<size_t>(info.channels);
  const size_t pixels = samples.size() / channels;
  const bool has_alpha = channels == 2 || channels == 4;
  IconImage image{Bytes(pixels * 4, kOpaque), std::nullopt, std::nullopt};
  if (has_alpha) image.alpha = Bytes(pixels);
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t *pixel = &samples[i * channels];
    const uint32_t alpha = has_alpha ? pixel[channels - 1] : 255u;
    for (size_t c = 0; c < 3; ++c) {
      const uint32_t value = pixel[channels >= 3 ? c : 0];
      image.rgba[i * 4 + c] = static_cast<uint8_t>((value * alpha + 255u * (255u - alpha) + 127u) / 255u);
    }
    if (has_alpha) (*image.alpha)[i] = static_cast<uint8_t>(alpha);
  }
  return image;
}

// An image the reader opened, read whole and of the icon's size.
IconImage read_with_reader(ImageFile &file, const std::string &name, int32_t side, const char *what) {
  const MacBinImageFileInfo &info = file.info();
  if (static_cast<int64_t>(info.width) * info.height > kLargestIconPixels)
    refuse_image(name, "image too large (" + std::to_string(info.width) + "x" + std::to_string(info.height) + ")");
  const size_t row_bytes = static_cast<size_t>(info.width) * static_cast<size_t>(info.channels);
  Bytes samples(row_bytes * static_cast<size_t>(info.height));
  for (size_t y = 0; y < static_cast<size_t>(info.height); ++y)
    if (!file.read_row(samples.data() + y * row_bytes)) refuse_image(name, file.error());
  if (info.width != side || info.height != side)
    refuse_image(name, std::string("the ") + what + " must be " + std::to_string(side) + "x" + std::to_string(side) +
                           " pixels, the image is " + std::to_string(info.width) + "x" + std::to_string(info.height));
  return from_samples(info, samples);
}

IconImage read_icon_image(const std::string &name, int32_t side, const char *what) {
  const std::string path = image_path(name);
  std::error_code code;
  if (!fs::is_regular_file(path, code)) refuse_image(name, "no such image file");
  ImageFile file;
  const int32_t opened = file.open(path);
  if (opened == MACBIN_IMAGE_FAILED) refuse_image(name, file.error());
  if (opened == MACBIN_IMAGE_OPENED) return read_with_reader(file, name, side, what);
  return IconImage{{}, std::nullopt, read_ct_samples(name, path, side)};
}

// The library's encoding of `rgba` (side x side) as `type`.
Bytes encode(const std::string &type, int32_t side, Bytes rgba) {
  MacBinPixels pixels{side, side, 0, 0, rgba.data()};
  Bytes data(static_cast<size_t>(side * side * 2));  // the most any of these types takes (icl8)
  std::array<char, 128> reason{};
  const int32_t length = MacBin_EncodeResource(type.c_str(), &pixels, MACBIN_ENCODE_NEAREST, data.data(),
                                               static_cast<int32_t>(data.size()), reason.data());
  // Sizes and types are checked before: a refusal here is the library's fault.
  if (length < 0) throw std::logic_error(type + ": " + reason.data());
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
  const auto half = static_cast<size_t>(side * side / 8);
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

std::string checked_type(const char *type) {
  if (type == nullptr || !varnel::format::is_icon_made_from_images(type))
    throw IconRefusal(MACBIN_ERR_ARGUMENT, "not an icon type made from image files (ICN# ics# icl8 ics8 icl4 ics4)");
  return type;
}

Bytes icon_data(const std::string &type, const std::string &image_name, const std::string &mask_name) {
  const int32_t side = type.starts_with("ics") ? 16 : 32;
  if (!mask_name.empty() && type[3] != '#')
    throw IconRefusal(MACBIN_ERR_ARGUMENT, type + " takes no mask image (only ICN# and ics# do)");
  const IconImage icon = read_icon_image(image_name, side, "icon");
  std::optional<IconImage> mask;
  if (!mask_name.empty()) mask = read_icon_image(mask_name, side, "mask");
  Bytes data = icon.ct_samples ? ct_icon_data(type, side, *icon.ct_samples) : encode(type, side, icon.rgba);
  // ICN# and ics#: the encoder gave the full mask for opaque pixels.
  if (!mask && icon.alpha && type[3] == '#') mask = IconImage{icon.rgba, icon.alpha, std::nullopt};
  if (mask) {
    const Bytes bits = mask_bits(type, side, *mask);
    std::copy(bits.begin(), bits.end(), data.end() - static_cast<std::ptrdiff_t>(bits.size()));
  }
  return data;
}

std::string trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return "";
  return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// The image and, for ICN# and ics#, an optional mask image: one or two
// names (quoted when they hold blanks).  A whole parameter that names an
// existing file is one name, blanks and all, as before masks existed.
// Two names always, the mask's "" for none.
std::vector<std::string> icon_file_names(const std::string &type, const char *param) {
  const bool takes_mask = type[3] == '#';
  const std::string whole = trimmed(param != nullptr ? param : "");
  std::error_code code;
  if (!whole.empty() && fs::is_regular_file(image_path(whole), code)) return {whole, ""};
  std::vector<char> buffer(whole.size() + 1);
  std::array<char *, 3> words{};
  const int32_t count = whole.empty() ? 0 : MacBin_GetArguments(whole.c_str(), buffer.data(), words.data(), 2);
  std::vector<std::string> names(words.begin(), words.begin() + count);
  if (words[2] != nullptr || (count == 2 && !takes_mask))
    throw IconRefusal(MACBIN_ERR_ARGUMENT, takes_mask
                                               ? type + " takes an image file and at most one mask image"
                                               : type + " takes one image file (only ICN# and ics# take a mask image)");
  if (names.empty() || names[0].empty() || (count == 2 && names[1].empty()))
    throw IconRefusal(MACBIN_ERR_ARGUMENT, type + " needs an image file (" + image_formats_with_ct() + ")" +
                                               (takes_mask ? ", and may add a mask image" : ""));
  if (names.size() == 1) names.emplace_back();
  return names;
}

int32_t copy_out(const Bytes &data, void *buffer, int32_t capacity) {
  const size_t copied = std::min(data.size(), static_cast<size_t>(capacity));
  if (copied > 0) std::memcpy(buffer, data.data(), copied);
  return static_cast<int32_t>(data.size());  // at most 1024 bytes (icl8)
}

// Runs `make` for an entry point: the data's length, or -1 with the reason
// recorded.
template <typename Make>
int32_t make_icon(const char *call, void *buffer, int32_t capacity, Make make) {
  try {
    if (capacity < 0 || (buffer == nullptr && capacity > 0))
      throw IconRefusal(MACBIN_ERR_ARGUMENT, std::string(call) + ": no room for the data");
    return copy_out(make(), buffer, capacity);
  } catch (const IconRefusal &refusal) {
    record_error(refusal.code, refusal.what());
  } catch (const std::bad_alloc &) {
    record_error(MACBIN_ERR_MEMORY, (std::string(call) + ": out of memory").c_str());
  } catch (const std::exception &failure) {
    record_error(MACBIN_ERR_ARGUMENT, (std::string(call) + ": internal failure: " + failure.what()).c_str());
  }
  return -1;
}

}  // namespace

extern "C" int32_t MacBin_MakeIconFromFiles(const char *type, const char *image_path, const char *mask_path,
                                            void *buffer, int32_t capacity) {
  return make_icon("MacBin_MakeIconFromFiles", buffer, capacity, [&] {
    const std::string checked = checked_type(type);
    if (image_path == nullptr || image_path[0] == '\0')
      throw IconRefusal(MACBIN_ERR_ARGUMENT, checked + " needs an image file (" + image_formats_with_ct() + ")");
    return icon_data(checked, image_path, mask_path != nullptr ? mask_path : "");
  });
}

extern "C" int32_t MacBin_MakeIconFromLine(const char *type, const char *param, void *buffer, int32_t capacity) {
  return make_icon("MacBin_MakeIconFromLine", buffer, capacity, [&] {
    const std::string checked = checked_type(type);
    const std::vector<std::string> names = icon_file_names(checked, param);
    return icon_data(checked, names[0], names[1]);
  });
}

extern "C" int32_t MacBin_Add_Icon(MacBinChannel *channel, const char *param) {
  if (channel == nullptr || channel->file == nullptr) return 0;
  try {
    const std::string type(channel->cur_type, ::strnlen(channel->cur_type, 4));
    std::array<uint8_t, 1024> data{};  // the most any of the types takes (icl8)
    const int32_t length = MacBin_MakeIconFromLine(type.c_str(), param, data.data(), static_cast<int32_t>(data.size()));
    if (length < 0) {
      const char *reason = "";
      const int32_t code = MacBin_LastError(&reason);
      report(std::string(reason).c_str(), MACBIN_ERROR, code);
      return 0;
    }
    outfile = channel->file;
    return MacBin_PutBuf(data.data(), length, length) == 0 ? 1 : 0;
  } catch (...) {
    report("Out Of Memory (in icon processor)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
    return 0;
  }
}
