// varnel pack: a MacBinary file from a data fork and resource lines.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <set>
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
#include "varnel.h"
#include "write_handlers.hpp"

namespace varnel_tool {
namespace {

constexpr const char *kPackHelp = R"(Usage: varnel pack -o OUT --creator CODE --type CODE [options] [SCRIPT|-]
       varnel pack -o OUT SCRIPT     (a script whose header names the file)

Writes the Macintosh file OUT (MacBinary II unless --format says
otherwise): a data fork and the resources of --resources-from FILE, then
those that the resource lines describe, one per line, from SCRIPT (or
standard input for "-") and then from each -e option, in order.

Options:
  -o, --output OUT     the file to write (required)
  --creator CODE       creator code, 1 to 4 characters (required)
  --type CODE          file type, 1 to 4 characters (required); shorter
                       codes are padded with blanks
  --name NAME          Macintosh file name, at most 31 characters (default:
                       OUT's name without ".bin")
  --data FILE|-        the data fork, from FILE or standard input
  --format FORMAT      the container: ii (default; also macbinary) for
                       MacBinary II, classic for the classic header,
                       applesingle, appledouble (the data fork in OUT, the
                       rest in ._OUT beside it) or binhex (BinHex 4.0,
                       which holds no dates)
  -e, --line LINE      one more resource line (repeatable)
  --resources-from FILE  every resource of FILE (any container varnel
                       reads) exactly as stored: name, attributes, repeated
                       IDs, owner resource, bundle and compressed bytes
                       included, and no owner resource or bundle added that
                       FILE lacks; a resource line with the same type and
                       ID replaces them
  --progress           show the progress line whatever standard error is
                       and however short the work (by default it shows on
                       a terminal while a data fork of 64 MiB or more is
                       copied, or any copy or picture that runs over a
                       second: done of total, rate, time left)
  -q, --quiet          no notices, no progress line unless --progress
  -h, --help           this text

Resource lines ("TYPE ID NAME PARAMETERS"; ";" starts a comment; quote a
name with blanks, "" for none):
  vers 1 "" 1.00 F 0 0/1.0/Version 1.0   version resource
  FREF 128 "" TEXT 128                    file reference: file type, icon ID
  BNDL OWNER-TEXT                         text of the owner resource
  icl8 128 "" icon32.png                  icons from PNG, netpbm or CT files:
                                          icl8 ics8 icl4 ics4 ICN# ics#
  ICN# 128 "" icon32.png mask32.png       ICN#/ics# mask: the image's alpha
                                          (below one half is outside), or a
                                          mask image (opaque or dark inside)
  PICT 128 Preview preview.png 72 mask.png  picture at 72 pixels per inch,
                                          with an optional mask image
  STR 128 Greeting ~Hello                 ~TEXT: the text as a Pascal string
  TEXT 128 "Read Me" readme.txt           any other type: the file's bytes
  ICN# 128 "" --raw icon.bin              any type: the file's bytes as they are
  TEXT 128 "" --text readme.txt           UTF-8 text, stored in MacRoman with
                                          CR line ends
  STR# 128 "" --strings list.txt          a string list, one UTF-8 line each
  STR  130(protected,preload) "" --raw s  attributes after the ID: sysHeap,
                                          purgeable, locked, protected,
                                          preload, changed, or a number such
                                          as (0x58) or (0); purgeable when not
                                          given
A resource of the creator's type with ID 0 is the owner resource: the file
then gets no other.  Repeated IDs are kept.  --raw, --text, --strings and
~ resources may have names of up to 255 characters, and a --raw file may be
empty (a resource of no bytes).

Header lines ("%KEYWORD VALUE", as extract --script writes them) give what
the options would, unless the option is given: %creator CODE, %type CODE,
%name NAME, %flags 0xNNNN (the Finder flags, set as given), %created and
%modified (2026-12-07T01:43:29Z in UTC, or seconds since 1904; 0 for
unknown), %data FILE, %format FORMAT (as --format), %finder-resources off
(no owner resource and no bundle added: the file holds exactly the
resources the lines give, and none at all without them), %map-attributes
0xNNNN (the resource map's own attributes), %finder-info HEX (the whole
32-byte Finder information in 64 hexadecimal digits: the window place,
folder and extended information; %type, %creator and %flags go over its
type, creator and flags).
Lines are UTF-8; names, vers, owner and ~ texts are stored in MacRoman
(other characters are refused).  A refused line is quoted in its message.
Relative file names in a script are taken from the script's directory.

OUT is written under a temporary name beside it and renamed when complete:
an existing OUT keeps its permissions, and when OUT is a symbolic link the
file it points to is replaced.

Exit status: 0 when the file was written, 1 when any error was reported
(OUT is then not written), 2 for a usage error.
)";

// Macintosh file names of the Finder: at most 31 characters.
constexpr size_t kMaxMacNameLength = MACBIN_MAX_FILE_NAME_LENGTH;
// Positions are 32-bit, and the resource data after the data fork must
// stay addressable: a data fork longer than this cannot be stored whatever
// else the file holds (the library refuses somewhat shorter ones too).
// Reading stops there rather than copying an endless input.
constexpr int64_t kMaxDataForkBytes = INT32_MAX - int64_t{MACBIN_MAX_DATA_OFFSET};

struct ScriptLine {
  std::string text;
  std::string origin;     // "sample.rsrc:12", "<stdin>:3", "-e #2"
  std::string directory;  // where its relative file names are found
};

struct PackOptions {
  std::string output;
  std::string creator;
  std::string type;
  std::string name;
  bool name_given = false;
  std::string data;
  int32_t format = MACBIN_FORMAT_II;
  bool format_given = false;
  std::string script;
  std::vector<std::string> lines;
  std::string resources_from;
  // From the script's header lines (%flags, %created, %modified) alone.
  std::optional<uint16_t> flags;
  std::optional<uint32_t> created;
  std::optional<uint32_t> modified;
  bool finder_resources = true;  // %finder-resources; off with --resources-from
  std::optional<uint16_t> map_attributes;
  std::optional<std::array<uint8_t, 32>> finder_info;
};

// Pads a code to four characters with blanks, in MacRoman.
std::string parse_code(const std::string &text, const char *what) {
  const std::optional<std::string> code = utf8_to_mac_roman(text);
  if (!code || code->empty() || code->size() > 4)
    throw UsageError(std::string(what) + " '" + text + "' must be 1 to 4 Macintosh characters");
  std::string padded = *code;
  padded.resize(4, ' ');
  return padded;
}

std::string parse_mac_name(const std::string &text) {
  const std::optional<std::string> name = utf8_to_mac_roman(text);
  if (!name) throw UsageError("name '" + text + "' cannot be written in the Macintosh character set");
  if (name->empty() || name->size() > kMaxMacNameLength)
    throw UsageError("name '" + text + "' must be 1 to 31 characters");
  if (name->find(':') != std::string::npos)
    throw UsageError("name '" + text + "' must not contain ':' (the Macintosh path separator)");
  return *name;
}

PackOptions parse_pack_arguments(const Arguments &arguments) {
  PackOptions options;
  ArgumentWalker walker(arguments);
  bool script_given = false;
  while (walker.next()) {
    if (take_shared_option(walker, kPackHelp, kQuietOption | kProgressOption)) continue;
    if (walker.is("--output", "-o")) {
      options.output = walker.value();
    } else if (walker.is("--creator")) {
      options.creator = walker.value();
    } else if (walker.is("--type")) {
      options.type = walker.value();
    } else if (walker.is("--name")) {
      options.name = walker.value();
      options.name_given = true;
    } else if (walker.is("--data")) {
      options.data = walker.value();
    } else if (walker.is("--format")) {
      const std::string format = walker.value();
      options.format = MacBin_ContainerNamed(format.c_str());
      if (options.format == 0 || options.format == MACBIN_FORMAT_RSRC)
        throw UsageError("--format must be one of " MACBIN_CONTAINER_NAMES "; not '" + format + "'");
      options.format_given = true;
    } else if (walker.is("--line", "-e")) {
      options.lines.push_back(walker.value());
    } else if (walker.is("--resources-from")) {
      options.resources_from = walker.value();
    } else if (walker.is_positional() && !script_given) {
      options.script = walker.text();
      script_given = true;
    } else {
      walker.reject();
    }
  }
  if (options.output.empty()) throw UsageError("pack needs an output file (-o OUT)");
  if (options.output == "-") throw UsageError("pack writes a file; standard output is not supported");
  if (options.data == "-" && options.script == "-")
    throw UsageError("the data fork and the script cannot both come from standard input");
  return options;
}

// The checks that wait for the script's header lines, which may give the
// codes and the name.
void finish_pack_options(PackOptions &options) {
  if (options.creator.empty()) throw UsageError("pack needs a creator code (--creator CODE or %creator in the script)");
  if (options.type.empty()) throw UsageError("pack needs a file type (--type CODE or %type in the script)");
  options.creator = parse_code(options.creator, "creator");
  options.type = parse_code(options.type, "file type");
  options.name = options.name_given ? parse_mac_name(options.name) : default_macintosh_name(options.output);
}

// Reads the script's lines; false after an error message.
bool read_script(const std::string &script, std::vector<ScriptLine> &lines) {
  std::ifstream file;
  std::istream *in = &std::cin;
  std::string origin = "<stdin>";
  std::string directory;
  if (script != "-") {
    errno = 0;
    file.open(script, std::ios::binary);
    const int reason = !file ? (errno != 0 ? errno : EIO) : EISDIR;
    if (!file || std::filesystem::is_directory(script)) {
      Reporter::instance().error(script + ": cannot read the script: " + std::strerror(reason));
      return false;
    }
    in = &file;
    origin = script;
    directory = std::filesystem::path(script).parent_path().string();
  }
  std::string text;
  for (int number = 1; std::getline(*in, text); ++number) {
    if (!text.empty() && text.back() == '\r') text.pop_back();  // scripts written on other systems
    lines.push_back({text, origin + ":" + std::to_string(number), directory});
  }
  if (in->bad()) {
    Reporter::instance().error(origin + ": read error");
    return false;
  }
  return true;
}

// The library's reason for the refusal it just gave.
std::string library_reason() {
  const char *reason = "";
  MacBin_LastError(&reason);
  return reason;
}

// What a header line gives, unless an option on the command line gave it:
// the library reads the line, the tool takes %data from the script's
// directory.
void apply_header(const MacBinScriptHeader &header, const ScriptLine &line, PackOptions &options) {
  if ((header.given & MACBIN_SCRIPT_CREATOR) != 0 && options.creator.empty()) options.creator = header.creator;
  if ((header.given & MACBIN_SCRIPT_TYPE) != 0 && options.type.empty()) options.type = header.type;
  if ((header.given & MACBIN_SCRIPT_NAME) != 0 && !options.name_given) {
    options.name = header.name;
    options.name_given = true;
  }
  if ((header.given & MACBIN_SCRIPT_DATA) != 0 && options.data.empty()) {
    const std::filesystem::path path(header.data);
    options.data = path.is_relative() && !line.directory.empty() ? (line.directory / path).string() : header.data;
  }
  if ((header.given & MACBIN_SCRIPT_FORMAT) != 0 && !options.format_given) options.format = header.format;
  if ((header.given & MACBIN_SCRIPT_FLAGS) != 0) options.flags = header.flags;
  if ((header.given & MACBIN_SCRIPT_CREATED) != 0) options.created = header.created;
  if ((header.given & MACBIN_SCRIPT_MODIFIED) != 0) options.modified = header.modified;
  if ((header.given & MACBIN_SCRIPT_FINDER_RESOURCES) != 0) options.finder_resources = header.finder_resources != 0;
  if ((header.given & MACBIN_SCRIPT_MAP_ATTRIBUTES) != 0) options.map_attributes = header.map_attributes;
  if ((header.given & MACBIN_SCRIPT_FINDER_INFO) != 0)
    std::copy(std::begin(header.finder_info), std::end(header.finder_info), options.finder_info.emplace().begin());
}

// Header lines ("%KEYWORD VALUE"): the file's codes, name, Finder flags,
// dates and data fork, so that a script rebuilds a file alone.  They are
// taken out of `lines`; false after an error message.
bool apply_script_header(std::vector<ScriptLine> &lines, PackOptions &options) {
  bool ok = true;
  std::vector<ScriptLine> resource_lines;
  for (const ScriptLine &line : lines) {
    const size_t first = line.text.find_first_not_of(" \t");
    if (first == std::string::npos || line.text[first] != '%') {
      resource_lines.push_back(line);
      continue;
    }
    ReportContext context(line.origin);
    MacBinScriptHeader header{};
    if (MacBin_ReadScriptHeader(line.text.c_str(), &header) == MACBIN_ERR_NONE) {
      apply_header(header, line, options);
    } else {
      Reporter::instance().error(library_reason());
      ok = false;
    }
  }
  lines = std::move(resource_lines);
  return ok;
}

// A resource of the file --resources-from names, as the reader gave it.
struct CopiedResource {
  std::string type;  // MacRoman, four bytes
  int32_t id = 0;    // signed
  std::string name;  // MacRoman; empty: none
  int32_t attributes = 0;
  std::vector<uint8_t> data;
  std::string label;  // "STR  128", "STR  128 #2" (MacRoman)
};

// Reads every resource of `path` (any container the library reads); false
// after an error message.
bool load_resources_from(const std::string &path, std::vector<CopiedResource> &resources) {
  MacBinaryInput input;
  if (!input.open(path)) return false;
  if (input.resource_fork_unread()) {
    Reporter::instance().error(path + ": its resource fork could not be read, so its resources cannot be copied");
    return false;
  }
  for (const ResourceEntry &entry : input.resources()) {
    CopiedResource resource;
    int64_t length = 0;
    if (!input.read_resource(entry, &resource.data, length)) return false;
    resource.type = entry.type;
    resource.id = entry.signed_id();
    resource.name = entry.named ? entry.name : "";
    resource.attributes = entry.attributes;
    resource.label = entry.label();
    resources.push_back(std::move(resource));
  }
  return true;
}

// A word written so that the library's splitter gives it back unchanged.
std::string line_word(const std::string &word) {
  std::vector<char> quoted(2 * word.size() + 3);  // every character escaped, and the quotes
  MacBin_QuoteWord(word.c_str(), quoted.data(), static_cast<int32_t>(quoted.size()));
  return quoted.data();
}

// The type and ID a resource line makes, for telling which copied
// resources the script replaces; nothing for other lines.
std::optional<std::pair<std::string, int32_t>> line_resource(const std::string &text) {
  std::vector<char> buffer(text.size() + 1);
  std::array<char *, 4> words{};
  if (MacBin_GetArguments(text.c_str(), buffer.data(), words.data(), 3) < 3) return std::nullopt;
  const std::optional<std::string> type = utf8_to_mac_roman(words[0]);
  std::string id_word = words[1];
  id_word.erase(std::min(id_word.find('('), id_word.size()));
  if (!type || MacBin_CheckResourceLine(nullptr, (line_word(*type) + " " + id_word + " \"\" ~").c_str()) != 0)
    return std::nullopt;
  std::string padded = *type;
  padded.resize(4, ' ');
  return std::make_pair(padded, static_cast<int32_t>(std::stol(id_word)));
}

class Packer {
 public:
  explicit Packer(MacBinChannel *channel) : channel_(channel) {}

  // Hands one line to the library, which checks and inserts it.
  void add_line(const ScriptLine &line) {
    ReportContext context(line.origin);
    std::string text = line.text;
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return;  // blank
    text.erase(0, first);
    if (text[0] == ';') return;  // comment
    CurrentLine current(text);
    if (text.find('\0') != std::string::npos) {
      line_error("line holds a NUL character");
      return;
    }
    if (data_full_reported_) return;  // said once, for the resource that filled it
    set_image_directory(line.directory);
    set_refusal_explained(false);
    int32_t full = 0;
    const int32_t result = MacBin_AddScriptLine(channel_, text.c_str(), line.directory.c_str(), &full);
    if (result > 0) line_error(library_reason());
    if (result < 0) Reporter::instance().mark_failed();
    if (full != 0) report_data_full();
  }

  // Inserts a resource copied from another file as it is: its bytes, name
  // and attributes.  `source` names that file in messages.
  void add_copy(CopiedResource &resource, const std::string &source) {
    ReportContext context(source + ": " + mac_roman_to_utf8(resource.label, true));
    if (resource.type.find('\0') != std::string::npos || resource.name.find('\0') != std::string::npos) {
      Reporter::instance().error("a type or name holding a NUL character cannot be handed to the writer");
      return;
    }
    if (data_full_reported_) return;
    if (!library_takes_data(resource.type, resource.id, resource.name, resource.data.size())) return;
    set_refusal_explained(false);
    const int32_t refused =
        MacBin_AddResourceData(channel_, resource.type.c_str(), resource.id, resource.name.c_str(),
                               resource.attributes, resource.data.data(), static_cast<int32_t>(resource.data.size()));
    if (refused != 0) {
      Reporter::instance().mark_failed();
      return;
    }
    if (MacBin_CheckClose(channel_) != MACBIN_ERR_NONE) {
      // The copy that leaves no room for what the close adds is the one to name.
      line_error(library_reason());
      report_data_full();
    }
  }

  // Whether what the close adds (the owner resource and the bundle) still
  // fits, as the library judges it; false after an error message.  The
  // library warns about bundle icons the file lacks when it builds the
  // bundle.
  bool ready_to_close() {
    ReportContext context("");
    // A refusal explained for the last line says nothing about what the
    // close adds; a full resource data area does.
    set_refusal_explained(data_full_reported_);
    if (data_full_reported_) return false;
    if (MacBin_CheckClose(channel_) == MACBIN_ERR_NONE) return true;
    Reporter::instance().error(library_reason());
    set_refusal_explained(true);
    return false;
  }

 private:
  // Makes the line current for line_error while it is handled.
  class CurrentLine {
   public:
    explicit CurrentLine(const std::string &text) { set_current_line(text); }
    ~CurrentLine() { set_current_line(""); }
    CurrentLine(const CurrentLine &) = delete;
    CurrentLine &operator=(const CurrentLine &) = delete;
  };

  void report_data_full() {
    data_full_reported_ = true;
    set_refusal_explained(true);  // the owner resource cannot follow; no need to say so again
  }

  // Whether the library's map takes a resource of `length` bytes (with
  // room kept for what the close adds); false after an error giving the
  // library's reason.  A resource refused for its length alone fills the
  // resource data: later ones are not tried.
  bool library_takes_data(const std::string &type, int32_t id, const std::string &name, size_t length) {
    const auto bytes = static_cast<int32_t>(std::min<size_t>(length, INT32_MAX));
    if (MacBin_CheckResourceData(channel_, type.c_str(), id, name.c_str(), bytes) == MACBIN_ERR_NONE) return true;
    line_error(library_reason());
    if (bytes > 0 && MacBin_CheckResourceData(channel_, type.c_str(), id, name.c_str(), 0) == MACBIN_ERR_NONE)
      report_data_full();
    return false;
  }

  MacBinChannel *channel_;
  bool data_full_reported_ = false;
};

struct FileCloser {
  void operator()(FILE *file) const {
    if (file != stdin) std::fclose(file);
  }
};
using DataSource = std::unique_ptr<FILE, FileCloser>;

// Opens the data fork's source before anything is written, so that a
// wrong name fails at once and says why; null after an error message.
// Pipes and devices are fine (--data <(command)); directories are not.
DataSource open_data_fork(const std::string &source) {
  if (source == "-") return DataSource(stdin);
  DataSource file(std::fopen(source.c_str(), "rb"));
  struct stat status {};
  int error_number = errno;
  if (file && fstat(fileno(file.get()), &status) == 0 && S_ISDIR(status.st_mode)) {
    file.reset();
    error_number = EISDIR;
  }
  if (!file) {
    Reporter::instance().error(source + ": cannot read the data fork: " + std::strerror(error_number));
  } else if (S_ISREG(status.st_mode) && status.st_size > kMaxDataForkBytes) {
    // Said before anything is written, not after copying two gigabytes.
    Reporter::instance().error(source + ": a data fork of more than " + std::to_string(kMaxDataForkBytes) +
                               " bytes cannot be stored (this one has " + std::to_string(status.st_size) + ")");
    file.reset();
  }
  return file;
}

// Copies the data fork; false after an error message (a failed write is
// the library's, reported when the file is closed).
bool write_data_fork(const std::string &source, FILE *file) {
  const std::string name = source == "-" ? "<stdin>" : source;
  std::vector<uint8_t> buffer(64 * 1024);
  struct stat status {};
  const bool sized = fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
  ProgressLine progress("pack", sized ? status.st_size : kUnknownTotal);
  int64_t total = 0;
  for (;;) {
    errno = 0;
    const size_t count = std::fread(buffer.data(), 1, buffer.size(), file);
    if (count == 0) break;
    total += static_cast<int64_t>(count);
    if (total > kMaxDataForkBytes) {
      Reporter::instance().error(name + ": a data fork of more than " + std::to_string(kMaxDataForkBytes) +
                                 " bytes cannot be stored");
      return false;
    }
    const auto length = static_cast<int32_t>(count);
    if (MacBin_PutBuf(buffer.data(), length, length) != 0) return false;
    progress.add(length);
  }
  if (std::ferror(file) != 0) {
    Reporter::instance().error(name + ": read error in the data fork: " + std::strerror(errno != 0 ? errno : EIO));
    return false;
  }
  progress.finish();
  return true;
}

// What the script's header lines say of the file as a whole, before its
// data fork: false when the library refused one (it said why).
bool apply_file_settings(MacBinChannel *channel, const PackOptions &options) {
  bool ok = true;
  if (!options.finder_resources) ok = MacBin_SetFinderResources(channel, 0) == 0 && ok;
  if (options.map_attributes) ok = MacBin_SetMapAttributes(channel, *options.map_attributes) == 0 && ok;
  if (options.finder_info) {
    std::array<uint8_t, 32> block = *options.finder_info;
    // The codes are the file's own, from --type/--creator or their lines.
    std::memcpy(block.data(), options.type.data(), 4);
    std::memcpy(block.data() + 4, options.creator.data(), 4);
    ok = MacBin_SetFinderInfoBytes(channel, block.data()) == 0 && ok;
  }
  return ok;
}

// The resources of --resources-from, less those a script line replaces: a
// line for a copied type and ID is how a script edits the file it starts
// from.  The file's resources are carried exactly: nothing it lacks is
// added.
bool load_copies(PackOptions &options, const std::vector<ScriptLine> &lines, std::vector<CopiedResource> &copies) {
  if (options.resources_from.empty()) return true;
  options.finder_resources = false;
  if (!load_resources_from(options.resources_from, copies)) return false;
  std::set<std::pair<std::string, int32_t>> replaced;
  for (const ScriptLine &line : lines)
    if (const auto made = line_resource(line.text)) replaced.insert(*made);
  std::erase_if(copies, [&replaced](const CopiedResource &copy) { return replaced.count({copy.type, copy.id}) != 0; });
  return true;
}

// The data fork, the file's settings and its resources, into an open
// channel; the channel is closed.  The reporter says whether all went in.
void write_channel(MacBinChannel *channel, const PackOptions &options, const std::vector<ScriptLine> &lines,
                   std::vector<CopiedResource> &copies, const DataSource &data) {
  Reporter &reporter = Reporter::instance();
  if (!apply_file_settings(channel, options)) reporter.mark_failed();
  if (!options.data.empty()) {
    ReportContext context("data fork");
    if (!write_data_fork(options.data, data.get())) reporter.mark_failed();
  }
  if (options.created || options.modified) {
    const uint32_t now = MacBin_DateNow();
    MacBin_SetDates(channel, options.created.value_or(now), options.modified.value_or(now));
  }
  Packer packer(channel);
  if (!reporter.failed()) {
    for (CopiedResource &copy : copies) packer.add_copy(copy, options.resources_from);
  }
  if (!reporter.failed()) {
    for (const ScriptLine &line : lines) packer.add_line(line);
  }
  if (!packer.ready_to_close()) reporter.mark_failed();
  // Last: inserting a bundle sets its flag, which the given flags may lack.
  if (options.flags) channel->finder.flags = static_cast<int16_t>(*options.flags);
  MacBin_Close(channel);
  if (const std::optional<std::string> write_error = library_write_error())
    reporter.error(options.output + ": " + *write_error);
}

// Writes the file through the library into `output`'s temporary place:
// nothing when the output or the channel could not be made (the reason is
// given), else whether everything went in.
std::optional<bool> write_packed_file(const PackOptions &options, const std::vector<ScriptLine> &lines,
                       std::vector<CopiedResource> &copies, const DataSource &data, LibraryOutput &output) {
  Reporter &reporter = Reporter::instance();
  std::string error;
  if (!output.create(options.output, options.format, error)) {
    reporter.error(options.output + ": cannot create: " + error);
    return std::nullopt;
  }
  MacBin_SetFormat(options.format);
  std::array<char, 64> mac_name{};
  std::memcpy(mac_name.data(), options.name.data(), options.name.size());
  MacBinChannel *channel =
      MacBin_OpenWOutput(output.get(), mac_name.data(), options.creator.c_str(), options.type.c_str());
  if (channel == nullptr) {
    reporter.mark_failed();
    return std::nullopt;  // the library said why; the output is removed
  }
  write_channel(channel, options, lines, copies, data);
  return !reporter.failed();
}

// Puts the written file in place, or removes it after a failure.
int commit_output(LibraryOutput &output, const std::string &path, bool written) {
  Reporter &reporter = Reporter::instance();
  if (!written) {
    output.discard();
    reporter.notice(path + " not written");
    return kExitFailure;
  }
  std::string error;
  if (!output.commit(error)) {
    reporter.error(path + ": " + error);
    return kExitFailure;
  }
  const std::optional<uint64_t> size = replaced_file_size(path);
  reporter.notice("wrote " + path + (size ? " (" + std::to_string(*size) + " bytes)" : ""));
  return kExitSuccess;
}

}  // namespace

int run_pack(const Arguments &arguments) {
  PackOptions options = parse_pack_arguments(arguments);
  std::vector<ScriptLine> lines;
  if (!options.script.empty() && !read_script(options.script, lines)) return kExitFailure;
  for (size_t i = 0; i < options.lines.size(); ++i)
    lines.push_back({options.lines[i], "-e #" + std::to_string(i + 1), ""});
  if (!apply_script_header(lines, options)) return kExitFailure;
  finish_pack_options(options);
  DataSource data;
  if (!options.data.empty()) {
    data = open_data_fork(options.data);
    if (!data) return kExitFailure;
  }
  if (!start_library()) return kExitFailure;
  if (!register_write_handlers()) return kExitFailure;
  std::vector<CopiedResource> copies;
  if (!load_copies(options, lines, copies)) return kExitFailure;
  LibraryOutput output;
  const std::optional<bool> written = write_packed_file(options, lines, copies, data, output);
  if (!written) return kExitFailure;
  return commit_output(output, options.output, *written);
}

}  // namespace varnel_tool
