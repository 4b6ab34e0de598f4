// varnel render: what the resources of a Macintosh file (in any container),
// or a PICT file, look like, as PNG files.  The library's decoders do the drawing; the
// command chooses the resources, names the files and reports.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "decoded_pixels.hpp"
#include "library_session.hpp"
#include "macbinary_input.hpp"
#include "common/mac_text.hpp"
#include "common/progress_line.hpp"
#include "common/whole_file.hpp"
#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr const char *kRenderHelp = R"(Usage: varnel render [--type TYPE]... [--id ID]... [--fonts FONTFILE]... FILE DIR
       varnel render --picture [--fonts FONTFILE]... PICTFILE OUT.png
       (either with [--compression fast|best])

Draws the resources of the Macintosh file FILE (any container varnel reads)
and writes each as a PNG file in DIR (made when missing), named
TYPE.ID.png; characters unfit for file names are written as %XX
("PAT%20.128.png"), and a second resource with the same type and ID is
TYPE.ID.2.png.  The types drawn:
  icons     ICN# ICON SICN ics# icm# kcs# icl4 icl8 ics4 ics8 icm4 icm8
            kcs4 kcs8 in the standard colours, masked by the family's #
            icon with the same ID; cicn with its own colours and mask
  cursors   CURS crsr, masked; the hot spot is a PNG text chunk with the
            keyword "hot-spot" and the text "X,Y" (pixels from the left
            and the top, as stored)
  patterns  PAT  PAT# ppat ppt#: 8 x 8 tiles, those of a list side by side
  colours   clut pltt: a swatch of 8 x 8 squares, 16 to a row
  fonts     FONT NFNT: the characters '!' to '~' in a row, black on white
  pictures  PICT: on a white canvas the size of the frame, everything
            QuickDraw draws: bit and pixel images; lines, rectangles,
            round rectangles, ovals, arcs, polygons and regions in each
            of their forms, with the pen, patterns (also pixel patterns),
            the transfer modes, the clip region and the origin; text in
            the bitmap fonts of FILE, then of the --fonts files, else in a
            built-in fixed-width font of the nearest size.  Opcodes left
            undrawn (reserved ones, QuickTime-compressed images) get a
            warning naming them while the PNG is still written; so does a
            picture that asks for more drawing than 64 times its canvas
Resources of other types are left out, and one notice names their types.
A resource that cannot be drawn gets an error naming it and the reason;
the others are still written.  Images are RGB when every pixel is opaque,
else RGBA.

With --picture, draws the PICT file PICTFILE (a 512-byte header, then the
picture) as OUT.png.  A file that starts with the picture itself, without
the header, is drawn too, with a notice; a notice also gives the resolution
an extended version 2 picture states (it is drawn at its frame's size, 72
dpi).  PICTFILE and OUT.png may be "-" for standard input and output.

FILE may be "-" for standard input, or a pipe.  Files appear only when
complete.

Options:
  --type TYPE  only resources of this type, one of those above (padded
               with blanks to 4 characters: "PAT" is "PAT "); repeat it for
               more types
  --id ID      only resources with this ID (-32768 to 32767); repeat it for
               more IDs.  With both, a resource must match a --type and an
               --id
  --picture    draw a PICT file instead of resources
  --fonts FONTFILE
               also take the FONT and NFNT resources (and their FOND
               families) of FONTFILE, any container varnel reads (a System
               file, a font suitcase), for pictures' text; repeat it for
               more files
  --compression fast|best
               how hard the PNG files are compressed: fast (the default)
               takes half the time or less of best, for files about as
               large (drawings up to a tenth larger, photographs smaller)
  --progress   show the progress line whatever standard error is and
               however short the work (by default it shows on a terminal
               while a PNG file of 64 MiB of pixels or more is written, or
               one that takes over a second: the rows written, counted in
               RGBA bytes, rate, time left; decoding is not followed)
  -q, --quiet  no notices, no progress line unless --progress
  -h, --help   this text

Exit status: 0 when every chosen resource was drawn and written (skipped
opcodes are warnings; a file with nothing to draw is no error), 1 when any
could not be drawn or written (the others are still written), when FILE
cannot be read or --type and --id match no resource, 2 for a usage error.
)";

// The PNG text keyword of a cursor's hot spot.
constexpr const char *kHotSpotKeyword = "hot-spot";

// A picture is handed to the library with an int32_t length.
constexpr int64_t kMaxPictFileBytes = INT32_MAX;

bool is_drawn_type(const std::string &mac_type) {
  return mac_type.size() == 4 && MacBin_DecodesType(mac_type.c_str()) == 1;
}

bool is_cursor_type(const std::string &mac_type) { return mac_type == "CURS" || mac_type == "crsr"; }

// A 16.16 fixed point value as a short decimal: "72", "72.5", "-0.25"
// (at most two decimals, trailing zeros dropped).
std::string fixed_point_text(int32_t fixed) {
  // Hundredths, rounded half away from zero, in 64 bits so that the most
  // negative value has a positive counterpart.
  const int64_t value = fixed;
  const int64_t magnitude = value < 0 ? -value : value;
  const int64_t hundredths = (magnitude * 100 + 32768) / 65536;
  std::string text = (value < 0 && hundredths != 0 ? "-" : "") + std::to_string(hundredths / 100);
  const int64_t fraction = hundredths % 100;
  if (fraction != 0) {
    text += '.';
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
  }
  return text;
}

// --type and --id; an empty set takes every value.
struct ResourceChoice {
  std::set<std::string> types;  // MacRoman, 4 bytes
  std::set<int32_t> ids;        // signed
  std::string description;      // the options as given, for messages

  bool narrows() const { return !types.empty() || !ids.empty(); }
  bool takes(const ResourceEntry &entry) const {
    return (types.empty() || types.count(entry.type) != 0) && (ids.empty() || ids.count(entry.signed_id()) != 0);
  }
};

std::string parse_type(const std::string &text) {
  const std::string type = resource_type_argument(text);
  if (!is_drawn_type(type))
    throw UsageError("render does not draw '" + text + "' resources (the types it draws are in --help)");
  return type;
}

// The library's reason may start with the resource's type and ID, which
// the tool's own label (signed ID, "#2" for a repeated one) already gives.
std::string reason_without_label(const std::string &reason, const ResourceEntry &entry) {
  for (const int32_t id : {entry.id, entry.signed_id()}) {
    const std::string prefix = entry.type + " " + std::to_string(id) + ": ";
    if (reason.starts_with(prefix)) return reason.substr(prefix.size());
  }
  return reason;
}

// Decodes one resource and writes its PNG; false after an error message.
bool draw_resource(MacBinaryInput &input, const ResourceEntry &entry, const std::filesystem::path &directory) {
  const std::string label = input.path() + ": " + mac_roman_to_utf8(entry.label());
  // The length alone: whether the data lies inside the fork, said as
  // extract says it.
  int64_t length = 0;
  if (!input.read_resource(entry, nullptr, length)) return false;
  DecodedPixels decoded;
  char reason[128] = "";
  if (MacBin_DecodeResource(input.channel(), entry.reference, decoded.record(), reason) != 1) {
    Reporter::instance().error(label + ": " + mac_roman_to_utf8(reason_without_label(reason, entry)));
    return false;
  }
  if (reason[0] != '\0') Reporter::instance().warning(label + ": " + mac_roman_to_utf8(reason));
  PngTexts texts;
  if (is_cursor_type(entry.type)) {
    const MacBinPixels &pixels = decoded.pixels();
    texts.emplace_back(kHotSpotKeyword, std::to_string(pixels.hot_x) + "," + std::to_string(pixels.hot_y));
  }
  const std::string stem = entry.file_name();
  return write_pixels_as_png((directory / (stem + ".png")).string(), decoded.pixels(), texts,
                             "render " + mac_roman_to_utf8(entry.label()));
}

int render_resources(const std::string &path, const std::string &directory_text, const ResourceChoice &choice) {
  if (directory_text == "-") throw UsageError("render writes files into a directory; '-' is not one");
  const std::filesystem::path directory(directory_text);
  if (!start_library()) return kExitFailure;
  MacBinaryInput input;
  if (!input.open(path)) return kExitFailure;
  if (!make_directory(directory.string())) return kExitFailure;
  bool ok = true;
  size_t chosen = 0;
  size_t left_out = 0;
  std::set<std::string> left_out_types;
  for (const ResourceEntry &entry : input.resources()) {
    if (!choice.takes(entry)) continue;
    if (!is_drawn_type(entry.type)) {
      ++left_out;
      left_out_types.insert(mac_roman_to_utf8(entry.type));
      continue;
    }
    ++chosen;
    ok = draw_resource(input, entry, directory) && ok;
  }
  if (left_out > 0) {
    std::string types;
    for (const std::string &type : left_out_types) types += (types.empty() ? "" : ", ") + type;
    Reporter::instance().notice(input.path() + ": left out " + std::to_string(left_out) +
                                (left_out == 1 ? " resource" : " resources") +
                                " of types render does not draw: " + types);
  }
  if (chosen == 0) {
    if (choice.narrows()) {
      Reporter::instance().error(input.path() + ": no resource to draw matches" + choice.description);
      return kExitFailure;
    }
    Reporter::instance().notice(input.path() + ": no resources to draw");
  }
  return ok && !Reporter::instance().failed() ? kExitSuccess : kExitFailure;
}

int render_picture_file(const std::string &path, const std::string &target) {
  const std::string name = path == "-" ? "<stdin>" : path;
  std::vector<uint8_t> file;
  std::string error;
  if (!read_whole_file(path, kMaxPictFileBytes, file, error)) {
    Reporter::instance().error(name + ": " + error);
    return kExitFailure;
  }
  const int32_t start = MacBin_FindPictFilePicture(file.data(), static_cast<int64_t>(file.size()));
  if (start < 0) {
    Reporter::instance().error(name + ": not a PICT file (no picture after a " +
                               std::to_string(MACBIN_PICT_FILE_HEADER_BYTES) + "-byte header, nor at its start)");
    return kExitFailure;
  }
  if (start == 0)
    Reporter::instance().notice(name + ": no " + std::to_string(MACBIN_PICT_FILE_HEADER_BYTES) +
                                "-byte header; the picture starts at the file's first byte");
  const std::span<const uint8_t> picture = std::span<const uint8_t>(file).subspan(static_cast<size_t>(start));
  DecodedPixels decoded;
  char reason[128] = "";
  if (MacBin_DecodePicture(picture.data(), static_cast<int32_t>(picture.size()), decoded.record(), reason) != 1) {
    Reporter::instance().error(name + ": " + reason);
    return kExitFailure;
  }
  MacBinPictureInfo header{};
  if (MacBin_GetPictureInfo(picture.data(), static_cast<int64_t>(picture.size()), &header) == 1 &&
      header.resolution_stated == 1) {
    // Some writers leave the resolution zero; the frame still gives the size.
    const bool usable = header.horizontal_dpi > 0 && header.vertical_dpi > 0;
    const std::string dpi =
        fixed_point_text(header.horizontal_dpi) + " x " + fixed_point_text(header.vertical_dpi) + " dpi";
    Reporter::instance().notice(name + ": extended version 2 picture " +
                                (usable ? "of " + dpi : "with an unusable resolution (" + dpi + ")") +
                                "; drawn at its frame's size, " + std::to_string(decoded.pixels().width) + " x " +
                                std::to_string(decoded.pixels().height) + " pixels");
  }
  if (reason[0] != '\0') Reporter::instance().warning(name + ": " + reason);
  return write_pixels_as_png(target, decoded.pixels(), {}, "render") ? kExitSuccess : kExitFailure;
}

// Hands the fonts of each file to the library; false after an error
// message naming a file that cannot be read.
bool add_font_files(const std::vector<std::string> &paths) {
  if (paths.empty()) return true;
  if (!start_library()) return false;
  for (const std::string &path : paths) {
    MacBinaryInput fonts;
    if (!fonts.open(path)) return false;
    const int32_t taken = MacBin_AddFontFile(fonts.channel());
    if (taken < 0) {
      Reporter::instance().error(fonts.path() + ": its fonts cannot be read");
      return false;
    }
    if (taken == 0) Reporter::instance().warning(fonts.path() + ": no FONT or NFNT resources");
    else
      Reporter::instance().notice(fonts.path() + ": " + std::to_string(taken) +
                                  (taken == 1 ? " font strike" : " font strikes"));
  }
  return true;
}

int32_t png_compression_argument(const std::string &text) {
  if (text == "fast") return MACBIN_PNG_FAST;
  if (text == "best") return MACBIN_PNG_BEST;
  throw UsageError("--compression is fast or best, not '" + text + "'");
}

}  // namespace

int run_render(const Arguments &arguments) {
  ArgumentWalker walker(arguments);
  std::vector<std::string> positional;
  ResourceChoice choice;
  std::vector<std::string> font_files;
  bool picture_file = false;
  while (walker.next()) {
    if (take_shared_option(walker, kRenderHelp, kQuietOption | kProgressOption)) continue;
    if (walker.is("--picture")) {
      walker.expect_no_value();
      picture_file = true;
    } else if (walker.is("--fonts")) {
      font_files.push_back(walker.value());
    } else if (walker.is("--compression")) {
      set_png_compression(png_compression_argument(walker.value()));
    } else if (walker.is("--type")) {
      const std::string text = walker.value();
      choice.types.insert(parse_type(text));
      choice.description += " --type " + text;
    } else if (walker.is("--id")) {
      const std::string text = walker.value();
      choice.ids.insert(resource_id_argument(text));
      choice.description += " --id " + text;
    } else if (walker.is_positional() && positional.size() < 2) {
      positional.push_back(walker.text());
    } else {
      walker.reject();
    }
  }
  if (picture_file) {
    if (choice.narrows()) throw UsageError("--picture draws a whole PICT file: --type and --id choose resources");
    if (positional.size() != 2) throw UsageError("render --picture needs a PICT file and an output PNG file");
    if (!add_font_files(font_files)) return kExitFailure;
    return render_picture_file(positional[0], positional[1]);
  }
  if (positional.size() != 2) throw UsageError("render needs a Macintosh file and a directory");
  if (!add_font_files(font_files)) return kExitFailure;
  return render_resources(positional[0], positional[1], choice);
}

}  // namespace varnel_tool
