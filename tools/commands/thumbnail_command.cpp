// varnel thumbnail: the icon the Finder would show for a Macintosh file (in
// any container), or a PICT file's picture, as one PNG of at most N x N
// pixels, for file managers' thumbnailers.  The library chooses the
// resource (MacBin_FindFinderIcon) and draws it; the command scales it and
// draws an icon of its own for files that have none.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "decoded_pixels.hpp"
#include "library_session.hpp"
#include "macbinary_input.hpp"
#include "common/mac_text.hpp"
#include "common/pict_file.hpp"
#include "common/resample.hpp"
#include "common/whole_file.hpp"
#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr const char *kThumbnailHelp = R"(Usage: varnel thumbnail [--size N] IN OUT.png

Writes the icon the Finder would show for the Macintosh file IN (any
container varnel reads), or the picture of the PICT file IN, as the PNG
file OUT.png, at most N x N pixels: a thumbnail for file managers.  The
icon is, in this order:
  1. the file's custom icon (the icon family with ID -16455), when its
     custom-icon Finder flag (0x0400) is set;
  2. the icon family the file's own bundle gives its file type (the BNDL
     owned by the file's creator: its FREF for the type names the icon);
  3. the file's largest PICT resource (by the area of its frame);
  4. else a document icon of varnel's own (a diamond for applications,
     type APPL) with the file type's four characters on it.
Of a family the deepest and largest member is drawn: icl8, then icl4,
ICN#, ics8, ics4, ics#, with its mask as transparency.  Icons are enlarged
by the largest whole factor that fits N (each pixel an exact square: a 32 x
32 icon at the default size is 4 x 4 pixels a pixel) and centred on a
transparent N x N image; an icon larger than N is reduced smoothly.
Pictures keep their shape: reduced with an area-averaging filter until
they fit N x N (never enlarged), and written at that size.  A resource that
cannot be drawn gets a warning, and the file's own icon (step 4) is written
instead.

IN may be "-" for standard input (a Macintosh file; a PICT file must be
named).  OUT.png may be "-" for standard output.  The file appears only
when complete.

Options:
  --size N     the largest width and height, 16 to 1024 (default 128)
  -q, --quiet  no notices
  -h, --help   this text

Exit status: 0 when the PNG was written, 1 when IN cannot be read (a PICT
file that cannot be drawn included) or OUT.png cannot be written, 2 for a
usage error.
)";

constexpr int32_t kDefaultSize = 128;
constexpr int32_t kSmallestSize = 16;
constexpr int32_t kLargestSize = 1024;

// A picture is handed to the library with an int32_t length.
constexpr int64_t kMaxPictFileBytes = INT32_MAX;

constexpr size_t kRgbaBytes = 4;

// An RGBA image of the command's own (straight alpha, rows top first).
struct Image {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgba;

  Image() = default;
  Image(int32_t w, int32_t h) : width(w), height(h), rgba(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0) {}
  explicit Image(const MacBinPixels &pixels)
      : width(pixels.width),
        height(pixels.height),
        rgba(pixels.rgba, pixels.rgba + static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height) * 4) {}
  uint8_t *at(int32_t x, int32_t y) {
    return &rgba[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * kRgbaBytes];
  }
  const uint8_t *at(int32_t x, int32_t y) const {
    return &rgba[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * kRgbaBytes];
  }
  // A view for the library's records; nothing writes through it.
  MacBinPixels pixels() const { return MacBinPixels{width, height, 0, 0, const_cast<uint8_t *>(rgba.data())}; }
};

int32_t parse_size(const std::string &text) {
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < kSmallestSize || value > kLargestSize)
    throw UsageError("--size '" + text + "' must be a whole number from " + std::to_string(kSmallestSize) +
                     " to " + std::to_string(kLargestSize));
  return static_cast<int32_t>(value);
}

// ---- Scaling --------------------------------------------------------------------

// Each pixel as a factor x factor square.
Image enlarge(const Image &source, int32_t factor) {
  Image out(source.width * factor, source.height * factor);
  for (int32_t y = 0; y < out.height; ++y)
    for (int32_t x = 0; x < out.width; ++x) std::memcpy(out.at(x, y), source.at(x / factor, y / factor), kRgbaBytes);
  return out;
}

// Area-averaged to width x height.  Colours are weighted by their alpha
// (premultiplied) while they are averaged, so that the colour of transparent
// pixels never bleeds into an edge.  The source is read a row at a time: a
// large picture is not copied.
Image reduce(const MacBinPixels &source, int32_t width, int32_t height) {
  const size_t row_bytes = static_cast<size_t>(source.width) * kRgbaBytes;
  int32_t next_row = 0;
  AreaResampler resampler(source.width, source.height, width, height, 4, [&](std::span<uint8_t> row) {
    if (next_row >= source.height) return false;
    std::memcpy(row.data(), source.rgba + static_cast<size_t>(next_row) * row_bytes, row_bytes);
    ++next_row;
    for (size_t at = 0; at < row_bytes; at += kRgbaBytes)
      for (size_t c = 0; c < 3; ++c) row[at + c] = static_cast<uint8_t>((row[at + c] * row[at + 3] + 127) / 255);
    return true;
  });
  Image out(width, height);
  for (int32_t y = 0; y < height; ++y)
    if (!resampler.next_row(std::span<uint8_t>(out.at(0, y), static_cast<size_t>(width) * kRgbaBytes)))
      throw std::logic_error("the resampler ran out of rows");
  for (size_t at = 0; at < out.rgba.size(); at += kRgbaBytes) {
    const uint32_t alpha = out.rgba[at + 3];
    for (size_t c = 0; c < 3; ++c)
      out.rgba[at + c] =
          alpha == 0 ? 0 : static_cast<uint8_t>(std::min<uint32_t>(255, (out.rgba[at + c] * 255 + alpha / 2) / alpha));
  }
  return out;
}

// The size that keeps the shape and fits size x size (never larger than
// the source).
std::pair<int32_t, int32_t> fitting_size(int32_t width, int32_t height, int32_t size) {
  if (width <= size && height <= size) return {width, height};
  const double scale = static_cast<double>(size) / std::max(width, height);
  return {std::clamp(static_cast<int32_t>(std::lround(width * scale)), 1, size),
          std::clamp(static_cast<int32_t>(std::lround(height * scale)), 1, size)};
}

// `image` in the middle of a transparent size x size image.
Image centred(const Image &image, int32_t size) {
  Image out(size, size);
  const int32_t left = (size - image.width) / 2;
  const int32_t top = (size - image.height) / 2;
  for (int32_t y = 0; y < image.height; ++y)
    std::memcpy(out.at(left, top + y), image.at(0, y), static_cast<size_t>(image.width) * kRgbaBytes);
  return out;
}

// An icon: the largest whole factor that fits, centred on size x size.
Image icon_thumbnail(const Image &icon, int32_t size) {
  const int32_t factor = std::min(size / icon.width, size / icon.height);
  if (factor >= 1) return centred(enlarge(icon, factor), size);
  const auto [width, height] = fitting_size(icon.width, icon.height, size);
  return centred(reduce(icon.pixels(), width, height), size);
}

// A picture that fits is written as drawn; else reduced.
bool write_picture_thumbnail(const std::string &path, const MacBinPixels &picture, int32_t size) {
  const auto [width, height] = fitting_size(picture.width, picture.height, size);
  if (width == picture.width && height == picture.height) return write_pixels_as_png(path, picture, {});
  return write_pixels_as_png(path, reduce(picture, width, height).pixels(), {});
}

// ---- The command's own icon -------------------------------------------------------

// The four characters of a file type as the library draws text: a small
// QuickDraw picture (version 2) of black text on white, drawn by
// MacBin_DecodePicture in its built-in fixed-width font of the nearest
// size (5 x 8, 6 x 13, 9 x 15 or 10 x 20 pixels a character), and cropped
// to the ink.  Coverage comes back as alpha over black.
std::optional<Image> draw_type_text(std::string_view mac_type, int32_t point_size) {
  constexpr int16_t kFrameWidth = 96, kFrameHeight = 48, kBaseline = 32, kLeft = 8;
  std::vector<uint8_t> pict;
  const auto word = [&](int32_t value) {
    pict.push_back(static_cast<uint8_t>(value >> 8));
    pict.push_back(static_cast<uint8_t>(value));
  };
  word(0);  // size: unused
  word(0), word(0), word(kFrameHeight), word(kFrameWidth);  // frame: top, left, bottom, right
  word(0x0011), word(0x02FF);                               // version 2
  word(0x0C00), word(0xFFFF), word(0xFFFF);                 // header, version -1, and 20 bytes unused
  for (int i = 0; i < 10; ++i) word(0);
  word(0x000D), word(point_size);  // TxSize
  word(0x0028), word(kBaseline), word(kLeft);             // LongText at (v, h)
  pict.push_back(static_cast<uint8_t>(mac_type.size()));
  pict.insert(pict.end(), mac_type.begin(), mac_type.end());
  if (pict.size() % 2 != 0) pict.push_back(0);  // opcodes start on even offsets
  word(0x00FF);
  DecodedPixels decoded;
  char reason[128] = "";
  if (MacBin_DecodePicture(pict.data(), static_cast<int32_t>(pict.size()), decoded.record(), reason) != 1)
    return std::nullopt;
  const Image canvas(decoded.pixels());
  int32_t left = canvas.width, right = -1, top = canvas.height, bottom = -1;
  for (int32_t y = 0; y < canvas.height; ++y)
    for (int32_t x = 0; x < canvas.width; ++x)
      if (canvas.at(x, y)[0] < 0x80) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  if (right < 0) return std::nullopt;  // nothing printable
  Image ink(right - left + 1, bottom - top + 1);
  for (int32_t y = 0; y < ink.height; ++y)
    for (int32_t x = 0; x < ink.width; ++x) ink.at(x, y)[3] = static_cast<uint8_t>(255 - canvas.at(left + x, top + y)[0]);
  return ink;
}

// The text, as wide as fits `width` x `height`: of the built-in fonts
// enlarged by whole factors (each pixel a square, like the icons) the one
// that comes widest, the larger font of equals; when even the smallest is
// too wide, it is reduced smoothly.
std::optional<Image> type_label(std::string_view mac_type, int32_t width, int32_t height) {
  std::optional<Image> best;
  int32_t best_factor = 0;
  std::optional<Image> smallest;
  for (const int32_t point_size : {18, 14, 12, 8}) {
    std::optional<Image> text = draw_type_text(mac_type, point_size);
    if (!text) return std::nullopt;
    const int32_t factor = std::min(width / text->width, height / text->height);
    if (factor >= 1 && (!best || text->width * factor > best->width * best_factor)) {
      best = text;
      best_factor = factor;
    }
    smallest = std::move(text);
  }
  if (best) return best_factor == 1 ? *best : enlarge(*best, best_factor);
  const double scale =
      std::min(static_cast<double>(width) / smallest->width, static_cast<double>(height) / smallest->height);
  return reduce(smallest->pixels(), std::max(1, static_cast<int32_t>(smallest->width * scale)),
                std::max(1, static_cast<int32_t>(smallest->height * scale)));
}

void blend(uint8_t *pixel, const uint8_t colour[3], uint32_t coverage) {
  for (size_t c = 0; c < 3; ++c)
    pixel[c] = static_cast<uint8_t>((colour[c] * coverage + pixel[c] * (255 - coverage) + 127) / 255);
  pixel[3] = static_cast<uint8_t>(std::max<uint32_t>(pixel[3], coverage));
}

// A page with a folded corner, or (for applications) a diamond, drawn
// straight at size x size from a 32-unit design, with the type's
// characters across it.
Image generic_icon(std::string_view mac_type, bool application, int32_t size) {
  constexpr uint8_t kBlack[3] = {0, 0, 0};
  constexpr uint8_t kPaper[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  constexpr uint8_t kFold[4] = {0xCC, 0xCC, 0xCC, 0xFF};
  constexpr uint8_t kApplication[4] = {0xCC, 0xCC, 0xFF, 0xFF};
  // The page: 22 x 30 units, the top right corner folded over 7 units.
  constexpr double kLeft = 5, kRight = 27, kTop = 1, kBottom = 31, kFoldSize = 7;
  const double units = size / 32.0;                                   // pixels a unit
  const double line = std::max(1.0, std::round(units)) / units;       // outline width, in units
  Image icon(size, size);
  for (int32_t y = 0; y < size; ++y)
    for (int32_t x = 0; x < size; ++x) {
      const double u = (x + 0.5) / units, v = (y + 0.5) / units;
      uint8_t *pixel = icon.at(x, y);
      if (application) {
        const double distance = std::abs(u - 16) + std::abs(v - 16);
        if (distance > 15) continue;
        std::memcpy(pixel, kApplication, 4);
        if (distance > 15 - line * std::sqrt(2.0)) std::memcpy(pixel, kBlack, 3);
        continue;
      }
      if (u < kLeft || u > kRight || v < kTop || v > kBottom) continue;
      const double past_fold = (u - (kRight - kFoldSize)) - (v - kTop);  // > 0: cut off
      if (past_fold > 0) continue;
      std::memcpy(pixel, kPaper, 4);
      const bool edge = u < kLeft + line || u > kRight - line || v < kTop + line || v > kBottom - line ||
                        past_fold > -line * std::sqrt(2.0);
      const bool in_fold = u >= kRight - kFoldSize && v <= kTop + kFoldSize;
      if (in_fold) std::memcpy(pixel, kFold, 4);
      if (edge || (in_fold && (u < kRight - kFoldSize + line || v > kTop + kFoldSize - line)))
        std::memcpy(pixel, kBlack, 3);
    }
  // The label: across the page below the fold, or across the diamond.
  const double label_left = application ? 8.5 : kLeft + 2.5, label_right = application ? 23.5 : kRight - 2.5;
  const double label_top = application ? 12.5 : 14, label_bottom = application ? 19.5 : 24;
  std::string printable(mac_type);
  while (!printable.empty() && (printable.back() == ' ' || printable.back() == '\0')) printable.pop_back();
  if (printable.empty()) return icon;
  const auto box_width = static_cast<int32_t>((label_right - label_left) * units);
  const auto box_height = static_cast<int32_t>((label_bottom - label_top) * units);
  if (box_width < 1 || box_height < 1) return icon;
  const std::optional<Image> label = type_label(printable, box_width, box_height);
  if (!label) return icon;
  const int32_t left = static_cast<int32_t>(label_left * units) + (box_width - label->width) / 2;
  const int32_t top = static_cast<int32_t>(label_top * units) + (box_height - label->height) / 2;
  for (int32_t y = 0; y < label->height; ++y)
    for (int32_t x = 0; x < label->width; ++x)
      if (left + x >= 0 && left + x < size && top + y >= 0 && top + y < size)
        blend(icon.at(left + x, top + y), kBlack, label->at(x, y)[3]);
  return icon;
}

// ---- Inputs -----------------------------------------------------------------------

bool write_image(const std::string &path, const Image &image) { return write_pixels_as_png(path, image.pixels(), {}); }

// A named regular file that no container claims but that holds a picture
// after a PICT file's header (or from its first byte).
bool is_pict_file(const std::string &path) {
  struct stat status {};
  if (path == "-" || stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  if (MacBin_IdentifyFile(path.c_str()) != 0) return false;
  std::vector<uint8_t> head;
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  head.resize(kPictFileHeaderBytes + 16);
  head.resize(std::fread(head.data(), 1, head.size(), file));
  std::fclose(file);
  return find_picture_in_pict_file(head).has_value();
}

int thumbnail_of_pict_file(const std::string &path, const std::string &target, int32_t size) {
  std::vector<uint8_t> file;
  std::string error;
  if (!read_whole_file(path, kMaxPictFileBytes, file, error)) {
    Reporter::instance().error(path + ": " + error);
    return kExitFailure;
  }
  const std::optional<size_t> start = find_picture_in_pict_file(file);
  if (!start) {
    Reporter::instance().error(path + ": not a PICT file");
    return kExitFailure;
  }
  const std::span<const uint8_t> picture = std::span<const uint8_t>(file).subspan(*start);
  DecodedPixels decoded;
  char reason[128] = "";
  if (MacBin_DecodePicture(picture.data(), static_cast<int32_t>(picture.size()), decoded.record(), reason) != 1) {
    Reporter::instance().error(path + ": the picture cannot be drawn: " + reason);
    return kExitFailure;
  }
  if (reason[0] != '\0') Reporter::instance().warning(path + ": " + reason);
  return write_picture_thumbnail(target, decoded.pixels(), size) ? kExitSuccess : kExitFailure;
}

const char *rule_text(int32_t rule) {
  switch (rule) {
    case MACBIN_FINDER_ICON_CUSTOM: return "custom icon";
    case MACBIN_FINDER_ICON_BUNDLE: return "bundle icon";
    case MACBIN_FINDER_ICON_PICTURE: return "largest picture";
    default: return "icon";
  }
}

int thumbnail_of_mac_file(const std::string &path, const std::string &target, int32_t size) {
  MacBinaryInput input;
  // A file whose resources cannot be read still has a type to show.
  if (!input.open(path, MacBinaryInput::ResourceNeed::kForkOnly)) return kExitFailure;
  const std::string mac_type = input.type();
  char type[5] = "";
  int32_t id = 0;
  const MacBinRefEntry *ref = nullptr;
  const int32_t rule = MacBin_FindFinderIcon(input.channel(), type, &id, &ref);
  if (rule < 0) {
    const char *why = "";
    MacBin_LastError(&why);
    Reporter::instance().error(input.path() + ": " + why);
    return kExitFailure;
  }
  if (rule > 0) {
    const std::string label = mac_roman_to_utf8(std::string(type, 4)) + " " + std::to_string(id);
    DecodedPixels decoded;
    char reason[128] = "";
    if (MacBin_DecodeResource(input.channel(), ref, decoded.record(), reason) == 1) {
      if (reason[0] != '\0') Reporter::instance().warning(input.path() + ": " + label + ": " + reason);
      Reporter::instance().notice(input.path() + ": " + rule_text(rule) + " " + label);
      const bool written = rule == MACBIN_FINDER_ICON_PICTURE
                               ? write_picture_thumbnail(target, decoded.pixels(), size)
                               : write_image(target, icon_thumbnail(Image(decoded.pixels()), size));
      return written ? kExitSuccess : kExitFailure;
    }
    // The decoder's reason may name the resource again, by either form of its ID.
    std::string why = reason;
    for (const uint32_t form : {static_cast<uint32_t>(id), static_cast<uint32_t>(static_cast<uint16_t>(id))}) {
      const std::string prefix = std::string(type, 4) + " " + std::to_string(static_cast<int32_t>(form)) + ": ";
      if (why.starts_with(prefix)) why.erase(0, prefix.size());
    }
    Reporter::instance().warning(input.path() + ": " + rule_text(rule) + " " + label + " cannot be drawn (" +
                                 mac_roman_to_utf8(why) + "); drawing a generic icon");
  }
  const bool application = mac_type == "APPL";
  Reporter::instance().notice(input.path() + ": generic " + (application ? "application" : "document") +
                              " icon");
  return write_image(target, generic_icon(mac_type, application, size)) ? kExitSuccess : kExitFailure;
}

}  // namespace

int run_thumbnail(const Arguments &arguments) {
  ArgumentWalker walker(arguments);
  std::vector<std::string> positional;
  int32_t size = kDefaultSize;
  while (walker.next()) {
    if (walker.is("--help", "-h")) {
      std::fputs(kThumbnailHelp, results());
      return kExitSuccess;
    } else if (walker.is("--quiet", "-q")) {
      walker.expect_no_value();
      Reporter::instance().set_quiet(true);
    } else if (walker.is("--size")) {
      size = parse_size(walker.value());
    } else if (walker.is_positional() && positional.size() < 2) {
      positional.push_back(walker.text());
    } else {
      walker.reject();
    }
  }
  if (positional.size() != 2) throw UsageError("thumbnail needs an input file and an output PNG file");
  if (!start_library()) return kExitFailure;
  if (is_pict_file(positional[0])) return thumbnail_of_pict_file(positional[0], positional[1], size);
  return thumbnail_of_mac_file(positional[0], positional[1], size);
}

}  // namespace varnel_tool
