// varnel thumbnail: the icon the Finder would show for a Macintosh file (in
// any container), or a PICT file's picture, as one PNG of at most N x N
// pixels, for file managers' thumbnailers.  The library chooses, draws and
// scales it (MacBin_DrawThumbnail, MacBin_DrawPictFileThumbnail); the
// command words what it drew and writes the PNG.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "decoded_pixels.hpp"
#include "library_session.hpp"
#include "macbinary_input.hpp"
#include "common/mac_text.hpp"
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

// A picture is handed to the library with an int32_t length.
constexpr int64_t kMaxPictFileBytes = INT32_MAX;

int32_t parse_size(const std::string &text) {
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < MACBIN_THUMBNAIL_MIN_SIZE ||
      value > MACBIN_THUMBNAIL_MAX_SIZE)
    throw UsageError("--size '" + text + "' must be a whole number from " +
                     std::to_string(MACBIN_THUMBNAIL_MIN_SIZE) + " to " + std::to_string(MACBIN_THUMBNAIL_MAX_SIZE));
  return static_cast<int32_t>(value);
}

// A named regular file that no container claims but whose first bytes are
// a PICT file's.
bool is_pict_file(const std::string &path) {
  struct stat status {};
  if (path == "-" || stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  if (MacBin_IdentifyFile(path.c_str()) != 0) return false;
  std::vector<uint8_t> head(MACBIN_PICT_FILE_PROBE_BYTES);
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  head.resize(std::fread(head.data(), 1, head.size(), file));
  std::fclose(file);
  return MacBin_FindPictFilePicture(head.data(), static_cast<int64_t>(head.size())) >= 0;
}

int thumbnail_of_pict_file(const std::string &path, const std::string &target, int32_t size) {
  std::vector<uint8_t> file;
  std::string error;
  if (!read_whole_file(path, kMaxPictFileBytes, file, error)) {
    Reporter::instance().error(path + ": " + error);
    return kExitFailure;
  }
  if (MacBin_FindPictFilePicture(file.data(), static_cast<int64_t>(file.size())) < 0) {
    Reporter::instance().error(path + ": not a PICT file");
    return kExitFailure;
  }
  DecodedPixels thumbnail;
  MacBinThumbnail about{};
  if (MacBin_DrawPictFileThumbnail(file.data(), static_cast<int32_t>(file.size()), size, thumbnail.record(),
                                   &about) < 0) {
    Reporter::instance().error(path + ": the picture cannot be drawn: " + about.note);
    return kExitFailure;
  }
  if (about.note[0] != '\0') Reporter::instance().warning(path + ": " + about.note);
  return write_pixels_as_png(target, thumbnail.pixels(), {}) ? kExitSuccess : kExitFailure;
}

const char *rule_text(int32_t rule) {
  switch (rule) {
    case MACBIN_FINDER_ICON_CUSTOM: return "custom icon";
    case MACBIN_FINDER_ICON_BUNDLE: return "bundle icon";
    case MACBIN_FINDER_ICON_PICTURE: return "largest picture";
    default: return "icon";
  }
}

// What was drawn, in the words of today's notices and warnings.
void report_drawn(const std::string &path, const MacBinThumbnail &about) {
  const std::string label = mac_roman_to_utf8(std::string(about.type, 4)) + " " + std::to_string(about.id);
  if (about.drawn == about.rule) {
    if (about.note[0] != '\0') Reporter::instance().warning(path + ": " + label + ": " + about.note);
    Reporter::instance().notice(path + ": " + rule_text(about.rule) + " " + label);
    return;
  }
  if (about.rule > 0)
    Reporter::instance().warning(path + ": " + rule_text(about.rule) + " " + label + " cannot be drawn (" +
                                 mac_roman_to_utf8(about.note) + "); drawing a generic icon");
  Reporter::instance().notice(path + ": generic " +
                              (about.drawn == MACBIN_THUMBNAIL_APPLICATION ? "application" : "document") + " icon");
}

int thumbnail_of_mac_file(const std::string &path, const std::string &target, int32_t size) {
  MacBinaryInput input;
  // A file whose resources cannot be read still has a type to show.
  if (!input.open(path, MacBinaryInput::ResourceNeed::kForkOnly)) return kExitFailure;
  DecodedPixels thumbnail;
  MacBinThumbnail about{};
  if (MacBin_DrawThumbnail(input.channel(), size, thumbnail.record(), &about) < 0) {
    const char *why = "";
    MacBin_LastError(&why);
    Reporter::instance().error(input.path() + ": " + why);
    return kExitFailure;
  }
  report_drawn(input.path(), about);
  return write_pixels_as_png(target, thumbnail.pixels(), {}) ? kExitSuccess : kExitFailure;
}

}  // namespace

int run_thumbnail(const Arguments &arguments) {
  ArgumentWalker walker(arguments);
  std::vector<std::string> positional;
  int32_t size = kDefaultSize;
  while (walker.next()) {
    if (take_shared_option(walker, kThumbnailHelp, kQuietOption)) continue;
    if (walker.is("--size")) {
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
