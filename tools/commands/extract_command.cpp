// varnel extract: forks and resources of a Macintosh file, byte for byte.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "library_session.hpp"
#include "macbinary_input.hpp"
#include "common/mac_text.hpp"
#include "common/progress_line.hpp"
#include "library_output.hpp"
#include "tool_context.hpp"

namespace varnel_tool {
namespace {

constexpr const char *kExtractHelp = R"(Usage: varnel extract FILE --data OUT
       varnel extract FILE --rsrc OUT
       varnel extract FILE --resource TYPE ID OUT
       varnel extract FILE --all DIR
       varnel extract FILE --script DIR

Copies part of the Macintosh file FILE (any container varnel reads), byte
for byte.  A resource stored compressed (as system software stores many)
is written as its contents, decompressed; with --stored as the file
stores it:
  --data OUT              the data fork
  --rsrc OUT              the whole resource fork
  --resource TYPE ID OUT  the data of one resource (TYPE is padded with
                          blanks to 4 characters; the first one with that ID)
  --all DIR               all of it into DIR: "data", "rsrc", and one file
                          per resource named TYPE.ID (characters unfit for
                          file names written as %XX, e.g. "PDF%20.128");
                          further resources with the same type and ID, as
                          a damaged map may hold, as TYPE.ID.2, TYPE.ID.3...
  --stored                with --resource and --all: resources as stored,
                          compressed ones not decompressed
  --script DIR            a resource script that "varnel pack -o OUT
                          DIR/resources.txt" turns back into the file: its
                          header lines give name, codes, Finder flags,
                          dates and the data fork (DIR/data); each resource
                          is a line with its ID, attributes and name.
                          STR , STR#, TEXT and vers become text to edit
                          (STR# and TEXT in TYPE.ID.txt files, UTF-8) when
                          that text gives back the same bytes; every other
                          resource is "--raw TYPE.ID", its bytes in a file
                          (a compressed one as stored, with a comment
                          naming its decompressor and uncompressed size).
                          The script rebuilds the file exactly: resource
                          order, attributes, names, empty resources, the
                          container (%format), the map's attributes and the
                          whole Finder information, with nothing added
FILE may be "-" for standard input, or a pipe: it is read once, up to
2147483647 bytes.  OUT may be "-" for standard output.  Files appear only
when complete; an existing OUT keeps its permissions, and a symbolic link
as OUT has the file it points to replaced.  Of a file whose resource fork is
cut short or damaged the data fork is still copied (exit status 1); a cut
fork is not, nor one whose map runs past its length (a copy would not
hold its map; --all still copies each resource).

Options:
  --progress   show the progress line whatever standard error is and
               however short the work (by default it shows on a terminal
               when --data, --rsrc, --resource or --all copy 64 MiB or
               more, or run over a second: bytes done of total, rate, time
               left)
  -q, --quiet  no notices, no progress line unless --progress
  -h, --help   this text

Exit status: 0 on success, 1 when anything could not be read or written,
2 for a usage error.
)";

bool extract_data_fork(const MacBinaryInput &input, const std::string &path, ProgressLine &progress) {
  return write_output(path, [&](const ByteWriter &out) { return input.copy_data_fork(progress.counting(out)); });
}

bool extract_resource_fork(const MacBinaryInput &input, const std::string &path, ProgressLine &progress) {
  return write_output(path,
                      [&](const ByteWriter &out) { return input.copy_resource_fork(progress.counting(out)); });
}

// The bytes the file stores for a resource (0 when they lie outside the
// fork): what its extraction counts on the progress line.
int64_t stored_length(const MacBinaryInput &input, const ResourceEntry &entry) {
  return std::max(0, MacBin_ReadResourceData(input.channel(), entry.reference, nullptr, 0));
}

// A resource's contents (decompressed where it is stored compressed), or
// with `stored` its bytes as the file stores them.
bool extract_resource(MacBinaryInput &input, const ResourceEntry &entry, const std::string &path, bool stored,
                      ProgressLine &progress) {
  std::vector<uint8_t> data;
  int64_t length = 0;
  if (stored ? !input.read_resource(entry, &data, length) : !input.read_contents(entry, data)) return false;
  if (!write_output(path, [&](const ByteWriter &out) { return out(data); })) return false;
  progress.add(stored_length(input, entry));
  return true;
}

bool extract_all(MacBinaryInput &input, const std::string &directory, bool stored, ProgressLine &progress) {
  if (!make_directory(directory)) return false;
  const std::filesystem::path base(directory);
  bool ok = extract_data_fork(input, (base / "data").string(), progress);
  ok = extract_resource_fork(input, (base / "rsrc").string(), progress) && ok;
  for (const ResourceEntry &entry : input.resources()) {
    ok = extract_resource(input, entry, (base / entry.file_name()).string(), stored, progress) && ok;
  }
  return ok;
}

enum class ExtractAction { kNone, kData, kResourceFork, kResource, kAll, kScript };

struct ExtractOptions {
  std::string path;
  ExtractAction action = ExtractAction::kNone;
  std::string target, type_text, id_text;
  bool stored = false;
  std::string type;  // for --resource: the MacRoman type, 4 characters
  int32_t id = 0;
};

void choose_action(ExtractOptions &options, ExtractAction chosen) {
  if (options.action != ExtractAction::kNone)
    throw UsageError("extract does one of --data, --rsrc, --resource, --all and --script");
  options.action = chosen;
}

// One option; false when it is not one of extract's.
bool take_option(ArgumentWalker &walker, ExtractOptions &options) {
  if (take_shared_option(walker, kExtractHelp, kQuietOption | kProgressOption)) return true;
  if (walker.is("--stored")) {
    walker.expect_no_value();
    options.stored = true;
  } else if (walker.is("--resource")) {
    choose_action(options, ExtractAction::kResource);
    try {
      options.type_text = walker.value();
      options.id_text = walker.extra_value();
      options.target = walker.extra_value();
    } catch (const UsageError &) {
      throw UsageError("--resource needs TYPE ID OUT");
    }
  } else {
    static constexpr std::pair<const char *, ExtractAction> kTargets[] = {
        {"--data", ExtractAction::kData}, {"--rsrc", ExtractAction::kResourceFork},
        {"--all", ExtractAction::kAll}, {"--script", ExtractAction::kScript}};
    for (const auto &[name, action] : kTargets) {
      if (!walker.is(name)) continue;
      choose_action(options, action);
      options.target = walker.value();
      return true;
    }
    return false;
  }
  return true;
}

ExtractOptions parse_extract_arguments(const Arguments &arguments) {
  ArgumentWalker walker(arguments);
  ExtractOptions options;
  while (walker.next()) {
    if (take_option(walker, options)) continue;
    if (walker.is_positional() && options.path.empty()) {
      options.path = walker.text();
    } else {
      walker.reject();
    }
  }
  if (options.path.empty()) throw UsageError("extract needs a MacBinary file");
  if (options.action == ExtractAction::kNone)
    throw UsageError("extract needs one of --data, --rsrc, --resource, --all and --script");
  if (options.stored && options.action != ExtractAction::kResource && options.action != ExtractAction::kAll)
    throw UsageError("--stored goes with --resource and --all (--rsrc and --script keep the stored bytes anyway)");
  // "-" is standard output for one file; a directory of files has no such place.
  if ((options.action == ExtractAction::kAll || options.action == ExtractAction::kScript) && options.target == "-")
    throw UsageError(std::string(options.action == ExtractAction::kAll ? "--all" : "--script") +
                     " writes a directory of files, which standard output ('-') cannot hold: name a directory "
                     "(./- for one called '-')");
  if (options.action == ExtractAction::kResource) {
    options.type = resource_type_argument(options.type_text);
    options.id = resource_id_argument(options.id_text);
  }
  return options;
}

// The bytes an action copies, for its progress line: the forks as the
// file's header gives their lengths, each resource as stored.
int64_t bytes_to_extract(const MacBinaryInput &input, const ExtractOptions &options) {
  const MacBinFileInfo &info = input.info();
  switch (options.action) {
    case ExtractAction::kData: return info.data_length;
    case ExtractAction::kResourceFork: return info.rsrc_length;
    case ExtractAction::kResource: {
      const ResourceEntry *entry = input.find(options.type, options.id);
      return entry != nullptr ? stored_length(input, *entry) : 0;
    }
    case ExtractAction::kAll: {
      int64_t total = int64_t{info.data_length} + info.rsrc_length;
      for (const ResourceEntry &entry : input.resources()) total += stored_length(input, entry);
      return total;
    }
    default: return kUnknownTotal;
  }
}

bool extract(MacBinaryInput &input, const ExtractOptions &options, ProgressLine &progress) {
  switch (options.action) {
    case ExtractAction::kData: return extract_data_fork(input, options.target, progress);
    case ExtractAction::kResourceFork: return extract_resource_fork(input, options.target, progress);
    case ExtractAction::kResource: {
      const ResourceEntry *entry = input.find(options.type, options.id);
      if (entry == nullptr) {
        Reporter::instance().error(options.path + ": no resource " + options.type_text + " " +
                                   std::to_string(options.id));
        return false;
      }
      return extract_resource(input, *entry, options.target, options.stored, progress);
    }
    case ExtractAction::kAll: return extract_all(input, options.target, options.stored, progress);
    case ExtractAction::kScript:
    case ExtractAction::kNone: break;
  }
  return false;
}

// Writes one file of a script whole; false after an error message.
bool write_whole(const std::string &path, std::span<const uint8_t> bytes) {
  return write_output(path, [bytes](const ByteWriter &out) { return out(bytes); });
}

// The library builds the script (resources.txt, data and a file per
// resource that its line does not hold) and says what it cannot carry;
// written here into the folder, made when missing.  Many small files, the
// data fork among them read whole first: no progress line.  False after an
// error message (the files that could be written stay).
bool extract_script(MacBinaryInput &input, const ExtractOptions &options) {
  if (!make_directory(options.target)) return false;
  // Packing hands vers lines to the library's own processor, and the
  // library writes one only when that processor takes it.
  if (MacBin_AddProcessor("vers", nullptr, add_vers) != 0) {
    Reporter::instance().error("out of memory registering the vers processor");
    return false;
  }
  const std::unique_ptr<MacBinScript, decltype(&MacBin_FreeScript)> script(
      MacBin_NewScript(input.channel(), input.path().c_str()), MacBin_FreeScript);
  if (!script) {
    const char *reason = "";
    MacBin_LastError(&reason);
    Reporter::instance().error(input.path() + ": " + reason);
    return false;
  }
  bool ok = true;
  const char *text = nullptr;
  for (int32_t i = 0; const int32_t severity = MacBin_GetScriptNote(script.get(), i, &text); ++i) {
    if (severity == MACBIN_WARNING) Reporter::instance().warning(input.path() + ": " + text);
    if (severity != MACBIN_WARNING) Reporter::instance().error(input.path() + ": " + text);
  }
  const std::filesystem::path base(options.target);
  const char *name = nullptr;
  const uint8_t *bytes = nullptr;
  int64_t length = 0;
  for (int32_t i = 0; MacBin_GetScriptFile(script.get(), i, &name, &bytes, &length) == 1; ++i)
    ok = write_whole((base / name).string(), {bytes, static_cast<size_t>(length)}) && ok;
  length = MacBin_GetScriptText(script.get(), &text);
  const auto *script_bytes = reinterpret_cast<const uint8_t *>(text);
  return write_whole((base / MACBIN_SCRIPT_FILE_NAME).string(), {script_bytes, static_cast<size_t>(length)}) && ok;
}

}  // namespace

int run_extract(const Arguments &arguments) {
  const ExtractOptions options = parse_extract_arguments(arguments);
  if (!start_library()) return kExitFailure;
  MacBinaryInput input;
  if (!input.open(options.path)) return kExitFailure;
  bool ok = false;
  if (options.action == ExtractAction::kScript) {
    ok = extract_script(input, options);
  } else {
    ProgressLine progress("extract", bytes_to_extract(input, options));
    ok = extract(input, options, progress);
    if (ok) progress.finish();
  }
  return ok && !Reporter::instance().failed() ? kExitSuccess : kExitFailure;
}

}  // namespace varnel_tool
