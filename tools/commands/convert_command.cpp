// varnel convert: a Macintosh file from one container into another, its
// forks carried byte for byte (the resource fork whole, as the file holds
// it: no resource is rebuilt), with its type, creator, Finder flags, name
// and dates where the new container holds them.
#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "library_output.hpp"
#include "library_session.hpp"
#include "macbinary_input.hpp"
#include "common/mac_text.hpp"
#include "common/progress_line.hpp"
#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr const char *kConvertHelp = R"(Usage: varnel convert IN OUT --to FORMAT

Writes the Macintosh file IN, in any container varnel reads, as OUT in
FORMAT: both forks byte for byte, and the type, creator, Finder flags, name
and dates wherever FORMAT holds them.  FORMAT is one of
  ii, macbinary  MacBinary II
  classic        the classic MacBinary header
  applesingle    AppleSingle: one file
  appledouble    AppleDouble: the data fork in OUT, the rest in ._OUT
                 beside it (both appear, or neither)
  binhex         BinHex 4.0 text
  rsrc           the bare resource fork alone; OUT must end in ".rsrc"
IN may be MacBinary (I, II or III), AppleSingle, AppleDouble (the data file
NAME with ._NAME beside it, or ._NAME itself), BinHex 4.0 or a bare resource
fork; "-" or a pipe is read once, up to 2147483647 bytes.

What FORMAT cannot hold is named in a warning: dates in BinHex, the low
byte of the Finder flags in the classic header, dates before December 1931
in AppleSingle and AppleDouble, everything but the resource fork in rsrc.
Macintosh names are cut to 31 characters, with a warning.  A file without
dates (BinHex, a bare fork) gets the time of the conversion.  A BinHex file
whose fork CRC does not match is not converted: its bytes are damaged.

OUT is written under a temporary name beside it and renamed when complete:
an existing OUT keeps its permissions, and when OUT is a symbolic link the
file it points to is replaced.  A device, a FIFO or /dev/stdout is written
into instead (not with appledouble, which needs ._OUT beside it).

Options:
  --to FORMAT  the container to write (required)
  --progress   show the progress line whatever standard error is and
               however short the work (by default it shows on a terminal
               when the forks hold 64 MiB or more, or the copy runs over a
               second: bytes done of total, rate, time left)
  -q, --quiet  no notices, no progress line unless --progress
  -h, --help   this text

Exit status: 0 when OUT was written, 1 when any error was reported (OUT is
then not written), 2 for a usage error.
)";

struct ConvertOptions {
  std::string input;
  std::string output;
  int32_t format = 0;
};

ConvertOptions parse_convert_arguments(const Arguments &arguments) {
  ConvertOptions options;
  ArgumentWalker walker(arguments);
  std::vector<std::string> positional;
  bool format_given = false;
  while (walker.next()) {
    if (take_shared_option(walker, kConvertHelp, kQuietOption | kProgressOption)) continue;
    if (walker.is("--to")) {
      const std::string name = walker.value();
      options.format = MacBin_ContainerNamed(name.c_str());
      if (options.format == 0)
        throw UsageError("--to must be one of " MACBIN_CONTAINER_NAMES ", rsrc; not '" + name + "'");
      format_given = true;
    } else if (walker.is_positional() && positional.size() < 2) {
      positional.push_back(walker.text());
    } else {
      walker.reject();
    }
  }
  if (positional.size() != 2) throw UsageError("convert needs a file to read and a file to write");
  if (!format_given) throw UsageError("convert needs --to FORMAT");
  options.input = positional[0];
  options.output = positional[1];
  if (options.output == "-") throw UsageError("convert writes a file; '-' is not one");
  if (options.format == MACBIN_FORMAT_RSRC && !options.output.ends_with(".rsrc"))
    throw UsageError("--to rsrc writes a bare resource fork, whose name must end in \".rsrc\"; not '" +
                     options.output + "'");
  return options;
}

// Tells what `format` cannot hold of the input, each note naming the file
// it is about, in the library's words.
void warn_of_losses(const MacBinaryInput &input, const ConvertOptions &options) {
  const std::array<uint8_t, 32> finder = input.finder_info();
  const auto tell = [](const MacBinConversionNote *note, void *) {
    guard_callback(0, [note] {
      if (note->severity == MACBIN_WARNING)
        Reporter::instance().warning(note->line);
      else
        Reporter::instance().notice(note->line);
      return 0;
    });
  };
  if (MacBin_ConversionNotes(&input.info(), finder.data(), options.format, input.path().c_str(),
                             options.output.c_str(), tell, nullptr) < 0) {
    const char *why = nullptr;
    MacBin_LastError(&why);
    Reporter::instance().error(options.output + ": " + (why != nullptr ? why : "out of memory"));
  }
}

// The input's name, cut to what the Finder shows; a file that names none
// (an AppleSingle file without a name entry, read from a pipe) is named
// after OUT.
std::string macintosh_name_for(const MacBinaryInput &input, const std::string &output) {
  if (!input.name().empty()) return input.name().substr(0, MACBIN_MAX_FILE_NAME_LENGTH);
  const std::string name = default_macintosh_name(output);
  Reporter::instance().notice(input.path() + " names no file: " + output + " is named \"" +
                              mac_roman_to_utf8(name) + "\"");
  return name;
}

// A resource fork with an empty map: the 256-byte head (data at 256, map
// at 256, no data, a map of 30 bytes) and the map: a copy of the head's
// four values, the handle and attribute fields, the type list at 28 with
// no type (0xFFFF), the name list right after it at 30.
std::vector<uint8_t> empty_resource_fork() {
  std::vector<uint8_t> fork(256 + 30, 0);
  const uint8_t head[16] = {0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 30};
  std::copy(std::begin(head), std::end(head), fork.begin());
  std::copy(std::begin(head), std::end(head), fork.begin() + 256);
  fork[256 + 25] = 28;
  fork[256 + 27] = 30;
  fork[256 + 28] = 0xFF;
  fork[256 + 29] = 0xFF;
  return fork;
}

bool write_bare_fork(const MacBinaryInput &input, const std::string &path) {
  ProgressLine progress("convert", input.info().rsrc_length);
  const bool written = write_output(path, [&](const ByteWriter &out) {
    // A file without a resource fork becomes a fork with no resources: an
    // empty file is no resource fork at all.
    return input.info().rsrc_length == 0 ? out(empty_resource_fork())
                                         : input.copy_resource_fork(progress.counting(out));
  });
  if (written) progress.finish();
  return written;
}

// Through the library's writer: the data fork as the output primitives
// take it, then the resource fork whole, which keeps the writer from
// adding resources of its own.
bool write_container(const MacBinaryInput &input, const ConvertOptions &options) {
  Reporter &reporter = Reporter::instance();
  ProgressLine progress("convert", int64_t{input.info().data_length} + input.info().rsrc_length);
  // The resource fork is read before anything is written: a fork that
  // cannot be read leaves no output behind.
  std::vector<uint8_t> fork;
  if (!input.read_resource_fork(fork)) return false;
  progress.add(static_cast<int64_t>(fork.size()));

  LibraryOutput output;
  std::string error;
  if (!output.create(options.output, options.format, error)) {
    reporter.error(options.output + ": cannot create: " + error);
    return false;
  }
  if (MacBin_SetFormat(options.format) != 1) {
    reporter.error(options.output + ": the library cannot write " + container_title(options.format));
    return false;
  }
  char name[64] = {};
  const std::string mac_name = macintosh_name_for(input, options.output);
  std::memcpy(name, mac_name.data(), mac_name.size());
  MacBinChannel *channel = MacBin_OpenWOutput(output.get(), name, "????", "????");
  if (channel == nullptr) {
    reporter.mark_failed();
    return false;  // the library said why
  }
  // warn_of_losses said what the container does not hold.
  input.give_facts_to(channel);
  bool ok = input.copy_data_fork([&](std::span<const uint8_t> bytes) {
    const auto length = static_cast<int32_t>(bytes.size());
    if (MacBin_PutBuf(bytes.data(), length, length) != 0) return false;
    progress.add(length);
    return true;
  });
  if (ok && MacBin_SetResourceFork(channel, fork.data(), static_cast<int32_t>(fork.size())) != 0) ok = false;
  MacBin_Close(channel);
  if (const std::optional<std::string> write_error = library_write_error())
    reporter.error(options.output + ": " + *write_error);
  if (!ok || reporter.failed()) {
    reporter.mark_failed();
    return false;
  }
  if (!output.commit(error)) {
    reporter.error(options.output + ": " + error);
    return false;
  }
  progress.finish();
  return true;
}

}  // namespace

int run_convert(const Arguments &arguments) {
  const ConvertOptions options = parse_convert_arguments(arguments);
  Reporter &reporter = Reporter::instance();
  if (!start_library()) return kExitFailure;
  MacBinaryInput input;
  // The resource fork goes across whole: a map the library could not read
  // loses nothing here, as long as the fork's bytes are all there.
  if (!input.open(options.input, MacBinaryInput::ResourceNeed::kForkOnly)) return kExitFailure;
  const MacBinFileInfo &info = input.info();
  if (info.format == MACBIN_FORMAT_BINHEX && info.crc_state == 0) {
    reporter.error(input.path() + ": not converted: a fork's CRC does not match, so its bytes are damaged "
                                  "(varnel extract can still copy them)");
    return kExitFailure;
  }
  warn_of_losses(input, options);
  const bool written = options.format == MACBIN_FORMAT_RSRC ? write_bare_fork(input, options.output)
                                                            : write_container(input, options);
  if (!written || reporter.failed()) {
    reporter.notice(options.output + " not written");
    return kExitFailure;
  }
  const std::optional<uint64_t> size = replaced_file_size(options.output);
  reporter.notice("wrote " + options.output + " (" + container_title(options.format) +
                  (size ? ", " + std::to_string(*size) + " bytes)" : ")"));
  return kExitSuccess;
}

}  // namespace varnel_tool
