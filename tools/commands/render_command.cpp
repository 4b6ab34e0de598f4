// varnel render: the pictures and icons of a MacBinary file as PNG files.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "library_session.hpp"
#include "macbinary_input.hpp"
#include "support/icon_render.hpp"
#include "support/mac_text.hpp"
#include "support/output_file.hpp"
#include "support/pict_render.hpp"
#include "support/png_writer.hpp"
#include "support/resource_file_names.hpp"
#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr const char *kRenderHelp = R"(Usage: varnel render FILE DIR

Writes every PICT resource (the 8-bit indexed, PackBits-packed pictures with
an optional mask region that varnel writes) and every icon resource (ICN#,
ics#, icl8, ics8, icl4, ics4) of the MacBinary file FILE as a PNG file in
DIR, named TYPE.ID.png (TYPE.ID.2.png for a second resource with the same
type and ID): what a Macintosh user sees.  Icons get the standard
Macintosh palettes and the mask of the ICN# or ics# with the same ID; a
picture's mask region becomes transparency.

Options:
  -q, --quiet  no notices
  -h, --help   this text

Exit status: 0 when every picture and icon was written, 1 when any could
not be decoded or written (the others are still written), 2 for a usage
error.
)";

// Renders into a PNG that appears only when complete; false after an
// error message.
template <typename Render>
bool write_png(const std::string &path, const std::string &label, Render render) {
  OutputFile output;
  std::string error;
  if (!output.create(path, true, error)) {
    Reporter::instance().error(path + ": cannot create: " + error);
    return false;
  }
  PngWriter writer(output.stream());
  if (!render(writer, error)) {
    if (std::ferror(output.stream()) != 0) {
      output.note_write_error(errno);
      Reporter::instance().error(path + ": " + output.write_error());
    } else {
      Reporter::instance().error(label + ": " + (writer.error().empty() ? error : writer.error()));
    }
    return false;
  }
  if (!writer.finish()) {
    // libpng writes through the stream: a failed write shows there.
    if (std::ferror(output.stream()) != 0) output.note_write_error(errno);
    Reporter::instance().error(path + ": " +
                               (std::ferror(output.stream()) != 0 ? output.write_error() : writer.error()));
    return false;
  }
  if (!output.commit(error)) {
    Reporter::instance().error(path + ": " + error);
    return false;
  }
  Reporter::instance().notice("wrote " + path);
  return true;
}

}  // namespace

int run_render(const Arguments &arguments) {
  ArgumentWalker walker(arguments);
  std::vector<std::string> positional;
  while (walker.next()) {
    if (walker.is("--help", "-h")) {
      std::fputs(kRenderHelp, results());
      return kExitSuccess;
    } else if (walker.is("--quiet", "-q")) {
      walker.expect_no_value();
      Reporter::instance().set_quiet(true);
    } else if (walker.is_positional() && positional.size() < 2) {
      positional.push_back(walker.text());
    } else {
      walker.reject();
    }
  }
  if (positional.size() != 2) throw UsageError("render needs a MacBinary file and a directory");
  if (positional[1] == "-") throw UsageError("render writes files into a directory; '-' is not one");
  const std::string &path = positional[0];
  const std::filesystem::path directory(positional[1]);
  if (!start_library()) return kExitFailure;
  MacBinaryInput input;
  if (!input.open(path)) return kExitFailure;
  if (!make_directory(directory.string())) return kExitFailure;
  bool ok = true;
  size_t rendered = 0;
  std::vector<uint8_t> data;
  std::vector<uint8_t> mask_data;
  for (const ResourceEntry &entry : input.resources()) {
    const std::string type = mac_roman_to_utf8(entry.type);
    const IconFormat *icon = find_icon_format(type);
    if (type != "PICT" && icon == nullptr) continue;
    const std::string label = mac_roman_to_utf8(entry.label());
    int64_t length = 0;
    if (!input.read_resource(entry, &data, length)) {
      ok = false;
      continue;
    }
    const std::string target =
        (directory / (resource_file_stem(entry.type, entry.signed_id(), entry.occurrence) + ".png")).string();
    if (icon == nullptr) {
      ok = write_png(target, label, [&](PngWriter &writer, std::string &error) {
             return render_pict(data, writer, error);
           }) && ok;
    } else {
      // Colour icons take their mask from the 1-bit icon with the same ID.
      std::span<const uint8_t> mask;
      const IconFormat *mask_format = find_icon_format(mask_type_for(*icon));
      const ResourceEntry *mask_entry =
          icon->bits_per_pixel == 1 ? nullptr : input.find(mask_format->type, entry.signed_id());
      int64_t mask_length = 0;
      if (mask_entry != nullptr && input.read_resource(*mask_entry, &mask_data, mask_length))
        mask = mask_of_one_bit_icon(*mask_format, mask_data);
      ok = write_png(target, label, [&](PngWriter &writer, std::string &error) {
             return render_icon(*icon, data, mask, writer, error);
           }) && ok;
    }
    ++rendered;
  }
  if (rendered == 0) Reporter::instance().notice(path + ": no pictures or icons to render");
  return ok && !Reporter::instance().failed() ? kExitSuccess : kExitFailure;
}

}  // namespace varnel_tool
