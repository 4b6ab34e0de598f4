#include "write_handlers.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "image_methods.hpp"
#include "common/ct_conversion.hpp"
#include "tool_context.hpp"
#include "varnel.h"

namespace varnel_tool {
namespace {

using IconBuilder = int32_t (*)(MacBinChannel *, const char *);

std::string conversion_directory;
int conversions_made = 0;

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<FILE, FileCloser>;

std::string trimmed(const char *text) {
  std::string value = text != nullptr ? text : "";
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const size_t last = value.find_last_not_of(" \t");
  return value.substr(first, last - first + 1);
}

// Set once a handler has said why its resource fails.
bool refusal_said = false;
std::string current_line;

// Runs a handler's body guarded (no exception may reach the library) and
// notes whether it printed an error.
template <typename Body>
int32_t run_handler(Body body) {
  Reporter &reporter = Reporter::instance();
  const int errors_before = reporter.error_count();
  const int32_t result = guard_callback(int32_t{0}, body);
  if (reporter.error_count() != errors_before) refusal_said = true;
  return result;
}

std::string resource_type_of(const MacBinChannel *channel) {
  return std::string(channel->cur_type, strnlen(channel->cur_type, 4));
}

uint32_t little_endian_32(const uint8_t *bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// A CT file the builder can read whole: one channel, the icon's size, and
// all rows inside the file.  (CT headers are least significant byte first.)
bool check_ct_file(const std::string &path, int32_t side, std::string &error) {
  FilePointer file(std::fopen(path.c_str(), "rb"));
  std::array<uint8_t, TESSEL_CT_HEADER_SIZE> header{};
  if (!file || std::fread(header.data(), 1, header.size(), file.get()) != header.size()) {
    error = "not a PNG, netpbm or CT image";
    return false;
  }
  const uint32_t channels = header[TESSEL_CT_CHANNELS_OFFSET] |
                            (static_cast<uint32_t>(header[TESSEL_CT_CHANNELS_OFFSET + 1]) << 8);
  const auto rows = static_cast<int32_t>(little_endian_32(&header[TESSEL_CT_ROWS_OFFSET]));
  const auto width = static_cast<int32_t>(little_endian_32(&header[TESSEL_CT_WIDTH_OFFSET]));
  const uint32_t data_offset = little_endian_32(&header[TESSEL_CT_DATA_OFFSET]);
  if (channels > 1) {
    error = "a CT icon must have one channel, this one has " + std::to_string(channels);
    return false;
  }
  if (rows != side || width != side) {
    error = "the icon must be " + std::to_string(side) + "x" + std::to_string(side) +
            " pixels, the CT image is " + std::to_string(width) + "x" + std::to_string(rows);
    return false;
  }
  std::error_code code;
  const auto size = std::filesystem::file_size(path, code);
  if (code || uint64_t{data_offset} + static_cast<uint64_t>(side * side) > size) {
    error = "the CT image ends before its last row";
    return false;
  }
  return true;
}

bool looks_like_png_or_pnm(const std::string &path) {
  FilePointer file(std::fopen(path.c_str(), "rb"));
  const int first = file ? std::getc(file.get()) : EOF;
  return first == 0x89 || first == 'P';
}

// Decodes a PNG or netpbm icon (or mask) image of the icon's size; false
// after an error message.
bool decode_icon_image(const std::string &name, const std::string &path, int32_t side, DecodedImage &image,
                       const char *what) {
  std::string error;
  constexpr int64_t kLargestIconPixels = 256 * 256;
  if (!decode_image_file(path, kLargestIconPixels, image, error)) {
    line_error(name + ": " + error);
    return false;
  }
  if (image.info.width != side || image.info.height != side) {
    line_error(name + ": the " + what + " must be " + std::to_string(side) + "x" +
                               std::to_string(side) + " pixels, the image is " +
                               std::to_string(image.info.width) + "x" +
                               std::to_string(image.info.height));
    return false;
  }
  return true;
}

// Writes one-channel samples to a temporary CT file; its path, or "" after
// an error message.
std::string write_temporary_ct(const std::string &name, const std::vector<uint8_t> &samples, int32_t side) {
  const std::string ct_path =
      (std::filesystem::path(conversion_directory) / ("icon-" + std::to_string(++conversions_made) + ".ct"))
          .string();
  errno = 0;
  if (tessel_write_ct(ct_path.c_str(), samples.data(), side, side, 1) != 0) {
    line_error(name + ": cannot write a temporary CT file: " + std::strerror(errno));
    std::remove(ct_path.c_str());
    return "";
  }
  return ct_path;
}

// Removes the CT files converted for one resource.
class TemporaryFiles {
 public:
  TemporaryFiles() = default;
  TemporaryFiles(const TemporaryFiles &) = delete;
  TemporaryFiles &operator=(const TemporaryFiles &) = delete;
  ~TemporaryFiles() {
    for (const std::string &path : paths_) std::remove(path.c_str());
  }
  void add(const std::string &path) { paths_.push_back(path); }

 private:
  std::vector<std::string> paths_;
};

// The icon's image and, for ICN# and ics#, an optional mask image: one or
// two file names (quoted when they hold blanks).  A whole parameter that
// names an existing file is one name, blanks and all, as before masks
// existed.  False after an error message.
bool icon_file_names(const std::string &type, const std::string &param, bool takes_mask,
                     std::vector<std::string> &names) {
  const std::string whole = trimmed(param.c_str());
  const std::string wanted = takes_mask ? " needs an image file (PNG, netpbm or CT), and may add a mask image"
                                        : " needs an image file (PNG, netpbm or CT)";
  if (whole.empty()) {
    line_error(type + wanted);
    return false;
  }
  std::error_code code;
  if (std::filesystem::is_regular_file(resolve_input_path(whole), code)) {
    names = {whole};
    return true;
  }
  std::vector<char> buffer(whole.size() + 1);
  std::array<char *, 3> words{};
  const int32_t count = MacBin_GetArguments(whole.c_str(), buffer.data(), words.data(), 2);
  for (int32_t i = 0; i < count; ++i) names.emplace_back(words[static_cast<size_t>(i)]);
  if (words[2] != nullptr || (count == 2 && !takes_mask)) {
    line_error(takes_mask ? type + " takes an image file and at most one mask image"
                              : type + " takes one image file (only ICN# and ics# take a mask image)");
    return false;
  }
  for (const std::string &name : names) {
    if (name.empty()) {
      line_error(type + wanted);
      return false;
    }
  }
  return true;
}

// One image of an icon resource as a CT file the builder can read: a CT
// file is checked and used as it is; a PNG or netpbm image is converted
// (`samples_of` turns it into samples) into a temporary CT file.  Returns
// the path, or "" after an error message.
template <typename Convert>
std::string icon_ct_file(const std::string &name, int32_t side, const char *what, TemporaryFiles &temporaries,
                         Convert samples_of) {
  const std::string path = resolve_input_path(name);
  std::error_code code;
  if (!std::filesystem::is_regular_file(path, code)) {
    line_error(name + ": no such image file");
    return "";
  }
  if (!looks_like_png_or_pnm(path)) {
    std::string error;
    if (!check_ct_file(path, side, error)) {
      line_error(name + ": " + error);
      return "";
    }
    return path;
  }
  DecodedImage image;
  if (!decode_icon_image(name, path, side, image, what)) return "";
  const std::optional<std::vector<uint8_t>> samples = samples_of(image);
  if (!samples) return "";  // nothing to convert: no file wanted
  const std::string ct_path = write_temporary_ct(name, *samples, side);
  if (!ct_path.empty()) temporaries.add(ct_path);
  return ct_path;
}

// `builder` makes the colour icons; null for ICN# and ics#, whose icon and
// mask CT_to_ICN_masked builds.
int32_t build_icon(MacBinChannel *channel, const char *param, int32_t bits_per_pixel,
                   IconBuilder builder, CtPalette palette) {
  const std::string type = resource_type_of(channel);
  const int32_t side = type.starts_with("ics") ? 16 : 32;
  const bool takes_mask = bits_per_pixel == 1;
  std::vector<std::string> names;
  if (!icon_file_names(type, param != nullptr ? param : "", takes_mask, names)) return 0;
  TemporaryFiles temporaries;
  // The icon's own alpha channel gives its mask when no mask image is named.
  std::optional<std::vector<uint8_t>> alpha_mask;
  const std::string icon_path = icon_ct_file(names[0], side, "icon", temporaries, [&](const DecodedImage &image) {
    if (takes_mask && names.size() == 1) alpha_mask = mask_from_alpha(image);
    return std::optional<std::vector<uint8_t>>(convert_to_ct_samples(image, palette));
  });
  if (icon_path.empty()) return 0;
  std::string mask_path;
  if (names.size() == 2) {
    mask_path = icon_ct_file(names[1], side, "mask", temporaries, [](const DecodedImage &image) {
      return std::optional<std::vector<uint8_t>>(mask_from_image(image));
    });
    if (mask_path.empty()) return 0;
  } else if (alpha_mask) {
    mask_path = write_temporary_ct(names[0], *alpha_mask, side);
    if (mask_path.empty()) return 0;
    temporaries.add(mask_path);
  }
  const int32_t start = MacBin_GetPtrPos();
  // ICN# and ics#: the mask from the second image (non-zero inside); with
  // no mask image the builder gives the fully set mask.
  const int32_t result = builder != nullptr ? builder(channel, icon_path.c_str())
                                            : CT_to_ICN_masked(channel, icon_path.c_str(), mask_path.c_str());
  const int32_t written = MacBin_GetPtrPos() - start;
  const int32_t image_bytes = side * side * bits_per_pixel / 8;
  const int32_t expected = takes_mask ? 2 * image_bytes : image_bytes;
  if (written != expected)
    line_error(type + " data incomplete: " + std::to_string(written) + " of " +
                               std::to_string(expected) + " bytes written");
  return result;
}

int32_t build_icon8(MacBinChannel *channel, const char *param) {
  return run_handler([&] { return build_icon(channel, param, 8, CT_to_icon8, CtPalette::kMac256); });
}
int32_t build_icon4(MacBinChannel *channel, const char *param) {
  return run_handler([&] { return build_icon(channel, param, 4, CT_to_icon4, CtPalette::kMac16); });
}
int32_t build_icon1(MacBinChannel *channel, const char *param) {
  return run_handler([&] { return build_icon(channel, param, 1, nullptr, CtPalette::kMono); });
}

// "****": the parameter names a file whose bytes become the resource.
int32_t copy_file_contents(MacBinChannel *channel, const char *param) {
  const std::string type = resource_type_of(channel);
  const std::string name = trimmed(param);
  if (name.empty()) {
    line_error(type + " needs a file whose contents become the resource");
    return 0;
  }
  const std::string path = resolve_input_path(name);
  std::error_code code;
  if (!std::filesystem::is_regular_file(path, code)) {
    line_error(name + ": no such file");
    return 0;
  }
  const auto size = std::filesystem::file_size(path, code);
  if (code || size > static_cast<uint64_t>(kMaxResourceDataBytes)) {
    line_error(name + ": " + std::to_string(size) + " bytes; resource data is limited to " +
                   std::to_string(kMaxResourceDataBytes) + " bytes");
    return 0;
  }
  if (size == 0) {
    line_error(name + ": the file is empty, and a resource needs at least one byte");
    return 0;
  }
  FilePointer file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    line_error(name + ": cannot open: " + std::strerror(errno));
    return 0;
  }
  std::vector<uint8_t> buffer(64 * 1024);
  uint64_t copied = 0;
  for (;;) {
    const size_t count = std::fread(buffer.data(), 1, buffer.size(), file.get());
    if (count == 0) break;
    const auto length = static_cast<int32_t>(count);
    if (MacBin_PutBuf(buffer.data(), length, length) != 0) return 0;  // the library reports it
    copied += count;
  }
  if (std::ferror(file.get()) != 0 || copied != size) {
    line_error(name + ": read error");
    return 0;
  }
  return 1;
}

// "IMAGE RESOLUTION [MASK]" checked here, so that a mistake gets a clear
// message instead of a picture that silently is not written.
bool check_picture_parameter(const std::string &param) {
  const char *kForm = "PICT wants 'IMAGE RESOLUTION [MASK]', e.g. 'preview.png 72 mask.pbm'";
  if (param.empty()) {
    line_error(kForm);
    return false;
  }
  std::vector<char> buffer(param.size() + 1);
  std::array<char *, 4> words{};
  const int32_t count = MacBin_GetArguments(param.c_str(), buffer.data(), words.data(), 3);
  if (count < 2 || words[3] != nullptr) {
    line_error(kForm);
    return false;
  }
  const std::string resolution = words[1];
  const bool digits_only = !resolution.empty() && resolution.size() <= 5 &&
                           resolution.find_first_not_of("0123456789") == std::string::npos;
  const int value = digits_only ? std::stoi(resolution) : 0;
  if (value < 1 || value > 9600) {
    line_error("PICT resolution '" + resolution + "' must be a whole number of pixels per inch (1 to 9600)");
    return false;
  }
  return true;
}

int32_t insert_file_contents(MacBinChannel *channel, const char *param) {
  return run_handler([&] { return copy_file_contents(channel, param); });
}

int32_t write_picture(MacBinChannel *channel, const char *param) {
  Reporter &reporter = Reporter::instance();
  if (!check_picture_parameter(trimmed(param))) return 0;
  const int errors_before = reporter.error_count();
  const int32_t complete = MacBin_Add_PICT(channel, param);
  if (complete == 0) {
    if (reporter.error_count() == errors_before)
      line_error("the picture could not be written completely");
    reporter.mark_failed();
  }
  return complete;
}

int32_t insert_picture(MacBinChannel *channel, const char *param) {
  return run_handler([&] { return write_picture(channel, param); });
}

}  // namespace


bool register_write_handlers() {
  struct Registration {
    const char *type;
    MacBinWriteHandler handler;
  };
  const std::array<Registration, 11> registrations = {{
      {"vers", add_vers},
      {"FREF", add_FREF},
      {"Bndl", close_BNDL},
      {"icl8", build_icon8},
      {"ics8", build_icon8},
      {"icl4", build_icon4},
      {"ics4", build_icon4},
      {"ICN#", build_icon1},
      {"ics#", build_icon1},
      {"PICT", insert_picture},
      // Last: once "****" exists, registering a new type would change it.
      {"****", insert_file_contents},
  }};
  install_image_methods();
  for (const Registration &registration : registrations) {
    if (MacBin_AddProcessor(registration.type, nullptr, registration.handler) != 0) {
      Reporter::instance().error("out of memory registering the resource processors");
      return false;
    }
  }
  return true;
}

void set_conversion_directory(const std::string &directory) { conversion_directory = directory; }

void set_refusal_explained(bool explained) { refusal_said = explained; }

void set_current_line(const std::string &text) { current_line = text; }

std::string quoted_line(const std::string &text) {
  if (text.empty()) return "";
  // A line of hundreds of characters would bury the message.
  constexpr size_t kLongestQuote = 100;
  constexpr size_t kShortenedQuote = 80;
  if (text.size() <= kLongestQuote) return " (in '" + text + "')";
  size_t cut = kShortenedQuote;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole UTF-8 characters
  size_t characters = 0;
  for (const char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  return " (in '" + text.substr(0, cut) + "...', " + std::to_string(characters) + " characters)";
}

void line_error(const std::string &text) { Reporter::instance().error(text + quoted_line(current_line)); }
bool refusal_explained() { return refusal_said; }

}  // namespace varnel_tool
