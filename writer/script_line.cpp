// MacBin_AddScriptLine: a resource line as a person writes it in a script,
// in UTF-8, checked word by word so that a refusal names what is wrong in
// the terms of the line, then handed to the writer: as a resource line the
// writer splits itself, or as bytes for the forms that carry them (a ~
// Pascal string, --raw, --text and --strings files).  Every host that reads
// scripts gets the same rules and the same reasons.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "format/icon_family.hpp"
#include "format/mac_roman.hpp"
#include "frame/internal.hpp"
#include "varnel.h"
#include "writer/internal.hpp"

namespace {

constexpr size_t kMaxPascalCharacters = 255;

// A refusal of the line before anything was written.
struct Refusal {
  int32_t code = MACBIN_ERR_ARGUMENT;
  std::string reason;
};

// The line split as the writer splits it: at most three words and the rest.
struct SplitLine {
  int32_t count = 0;
  std::array<std::string, 3> words;
  std::string param;
  bool has_param = false;
};

SplitLine split_line(const std::string &text) {
  std::vector<char> buffer(text.size() + 1);
  std::array<char *, 4> argv{};
  SplitLine split;
  split.count = MacBin_GetArguments(text.c_str(), buffer.data(), argv.data(), 3);
  for (int32_t i = 0; i < split.count && i < 3; ++i) split.words[static_cast<size_t>(i)] = argv[static_cast<size_t>(i)];
  if (argv[3] != nullptr) {
    split.has_param = true;
    split.param = argv[3];
  }
  return split;
}

// A word written so that the splitter gives it back unchanged.
std::string line_word(const std::string &word) {
  std::vector<char> quoted(2 * word.size() + 3);  // every character escaped, and the quotes
  MacBin_QuoteWord(word.c_str(), quoted.data(), static_cast<int32_t>(quoted.size()));
  return quoted.data();
}

// What a resource of this type takes after its name.
std::string parameter_wanted(const std::string &type) {
  if (type == "vers") return "'M.mb S R REGION/short/long', e.g. '1.00 F 0 0/1.0/Version 1.0'";
  if (type == "FREF") return "'TYPE ICON-ID', e.g. 'TEXT 128'";
  if (type == "PICT") return "'IMAGE RESOLUTION [MASK]', e.g. 'preview.png 72'";
  if (type == "ICN#" || type == "ics#") return "an image file (PNG, netpbm or CT) and an optional mask image";
  if (varnel::format::is_icon_made_from_images(type)) return "an image file (PNG, netpbm or CT)";
  return "a file whose contents become the resource (or ~TEXT for a Pascal string)";
}

// The library's reason for the refusal it just recorded.
Refusal last_refusal() {
  const char *reason = "";
  const int32_t code = MacBin_LastError(&reason);
  return {code != MACBIN_ERR_NONE ? code : MACBIN_ERR_ARGUMENT, reason};
}

// The text in MacRoman; the refusal names `what` and the obstacle.
std::optional<std::string> mac_text(const std::string &what, const std::string &text, Refusal &refusal) {
  std::string mac, problem;
  if (varnel::format::utf8_to_mac_roman(text, mac, problem)) return mac;
  refusal = {MACBIN_ERR_ARGUMENT, what + " '" + text + "': " + problem};
  return std::nullopt;
}

// Whether the writer takes `line` (on `channel`; null: the line alone).
bool writer_takes(MacBinChannel *channel, const std::string &line, Refusal &refusal) {
  if (MacBin_CheckResourceLine(channel, line.c_str()) == MACBIN_ERR_NONE) return true;
  refusal = last_refusal();
  return false;
}

// Whether a line gives its resource's bytes rather than a parameter the
// writer reads.
bool carries_bytes(const std::string &text) {
  const SplitLine split = split_line(text);
  return split.count == 3 && (split.param.rfind("--", 0) == 0 || split.param.rfind('~', 0) == 0);
}

// A line that passed the checks: what goes to the writer.
struct Checked {
  std::string writer_line;  // for the writer to split; empty when `bytes` holds the data
  std::string type;         // MacRoman, padded to four characters
  std::string type_mac;     // MacRoman, as written
  std::string type_word;    // as written
  std::string id_word;      // as written, without the attributes
  int32_t id = 0;
  std::string name;  // MacRoman
  std::optional<int32_t> attributes;
  std::optional<std::vector<uint8_t>> bytes;
};

struct LineJob {
  MacBinChannel *channel = nullptr;
  std::filesystem::path directory;  // where relative file names start
  Refusal refusal;
  bool full = false;  // the resource data can take no further resource
};

std::string resolve(const LineJob &job, const std::string &name) {
  const std::filesystem::path path(name);
  if (path.is_absolute() || job.directory.empty()) return name;
  return (job.directory / path).string();
}

bool refuse(LineJob &job, std::string reason, int32_t code = MACBIN_ERR_ARGUMENT) {
  job.refusal = {code, std::move(reason)};
  return false;
}

// The whole contents of a file a --raw, --text or --strings form names.
std::optional<std::string> read_given_file(LineJob &job, const std::string &name) {
  const std::string path = resolve(job, name);
  std::error_code code;
  if (!std::filesystem::is_regular_file(path, code)) {
    refuse(job, name + ": no such file", MACBIN_ERR_IO);
    return std::nullopt;
  }
  const auto size = std::filesystem::file_size(path, code);
  if (code || size > static_cast<uint64_t>(MACBIN_MAX_DATA_OFFSET)) {
    refuse(job,
           name + ": more than the " + std::to_string(MACBIN_MAX_DATA_OFFSET) +
               " bytes of resource data a resource map can address (MACBIN_MAX_DATA_OFFSET)",
           MACBIN_ERR_LIMIT);
    return std::nullopt;
  }
  std::ifstream file(path, std::ios::binary);
  std::string contents((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file.good() && !file.eof()) {
    refuse(job, name + ": read error", MACBIN_ERR_IO);
    return std::nullopt;
  }
  return contents;
}

// The bytes of "--raw FILE", "--text FILE" or "--strings FILE".
std::optional<std::vector<uint8_t>> given_bytes(LineJob &job, const std::string &given) {
  const SplitLine words = split_line(given);
  const std::string &form = words.words[0];
  if ((form != "--raw" && form != "--text" && form != "--strings") || words.count != 2 || words.has_param) {
    refuse(job, "'" + given +
                    "': a resource from a file is '--raw FILE' (its bytes), '--text FILE' (UTF-8 text "
                    "stored in MacRoman) or '--strings FILE' (a string list, one UTF-8 line each)");
    return std::nullopt;
  }
  const std::string &name = words.words[1];
  const std::optional<std::string> contents = read_given_file(job, name);
  if (!contents) return std::nullopt;
  if (form == "--raw") return std::vector<uint8_t>(contents->begin(), contents->end());
  const int32_t text_form = form == "--text" ? MACBIN_TEXT_FORM_TEXT : MACBIN_TEXT_FORM_STRING_LIST;
  const auto length = static_cast<int32_t>(contents->size());
  const int32_t needed = MacBin_TextToResource(text_form, contents->data(), length, nullptr, 0);
  if (needed < 0) {
    refuse(job, name + ": " + last_refusal().reason);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(needed));
  MacBin_TextToResource(text_form, contents->data(), length, bytes.data(), needed);
  return bytes;
}

// "~TEXT": a Pascal string, whatever the type but FREF.
bool check_literal(LineJob &job, const std::string &type, const std::string &given, Checked &checked) {
  if (type == "FREF") return refuse(job, "FREF builds its data from 'TYPE ICON-ID'; a ~ text is not an FREF");
  const std::optional<std::string> literal = mac_text("text", given.substr(1), job.refusal);
  if (!literal) return false;
  if (literal->size() > kMaxPascalCharacters) {
    return refuse(job, "a ~ text is a Pascal string of at most 255 Macintosh characters, this one has " +
                           std::to_string(literal->size()));
  }
  checked.bytes = std::vector<uint8_t>{static_cast<uint8_t>(literal->size())};
  checked.bytes->insert(checked.bytes->end(), literal->begin(), literal->end());
  return true;
}

// The parameter: in MacRoman where it is text the file stores (vers texts,
// the FREF file type), as written where it names files.
bool check_parameter(LineJob &job, const std::string &given, std::string &param, Checked &checked) {
  const std::string &type = checked.type;
  if (given.empty())
    return refuse(job, "missing parameter: after its name, " + checked.type_word + " wants " + parameter_wanted(type));
  if (given.rfind("--", 0) == 0) {
    checked.bytes = given_bytes(job, given);
    return checked.bytes.has_value();
  }
  if (given[0] == '~') return check_literal(job, type, given, checked);
  if (type == "vers" || type == "FREF") {
    const std::optional<std::string> mac =
        mac_text(type == "vers" ? "vers text" : "FREF file type", given, job.refusal);
    if (!mac) return false;
    param = *mac;
    return true;
  }
  // File names, split again by the picture and icon processors.
  const int file_words = type == "PICT" ? 3 : varnel::format::is_icon_made_from_images(type) ? 2 : 0;
  if (file_words > 0) {
    if (const int32_t quote = MacBin_FindUnclosedQuote(given.c_str(), file_words, 1); quote > 0) {
      return refuse(job, "unclosed quote in the parameters: the '\"' at character " + std::to_string(quote) + " of '" +
                             given + "' has no closing '\"'");
    }
  }
  param = given;
  return true;
}

// The words before the name: type and "ID" or "ID(ATTRIBUTES)".
bool check_line_start(LineJob &job, const SplitLine &split, Checked &checked) {
  if (split.count < 3) {
    return refuse(job, split.count == 1
                           ? "not a resource line: 'TYPE ID NAME PARAMETERS' or 'BNDL OWNER-TEXT' expected"
                           : "missing name: a resource line is 'TYPE ID NAME PARAMETERS' (\"\" for no name)");
  }
  std::string id_word = split.words[1];
  if (const size_t open = id_word.find('('); open != std::string::npos) {
    if (id_word.back() != ')')
      return refuse(job, "resource attributes go in parentheses right after the ID, e.g. '130(protected,preload)'");
    const std::string names = id_word.substr(open + 1, id_word.size() - open - 2);
    int32_t attributes = 0;
    if (MacBin_ParseAttributes(names.c_str(), &attributes) != MACBIN_ERR_NONE) {
      job.refusal = last_refusal();
      return false;
    }
    checked.attributes = attributes;
    id_word.erase(open);
  }
  const std::optional<std::string> type_mac = mac_text("resource type", split.words[0], job.refusal);
  if (!type_mac) return false;
  // The type and ID as the writer reads them, in a line of no other
  // consequence (an FREF needs its own form, any other type takes a ~ text).
  const std::string probe = line_word(*type_mac) + " " + id_word + " \"\" " + (*type_mac == "FREF" ? "TEXT 0" : "~");
  if (!writer_takes(nullptr, probe, job.refusal)) return false;
  checked.type_mac = *type_mac;
  checked.type = *type_mac;
  checked.type.resize(4, ' ');
  checked.type_word = split.words[0];
  checked.id_word = id_word;
  checked.id = static_cast<int32_t>(std::stol(id_word));
  return true;
}

// Names a line hands to the writer fit its words; names given with the
// resource's bytes may have all a Pascal string holds.
bool check_name_length(LineJob &job, const std::string &name, size_t longest) {
  if (name.size() <= longest) return true;
  return refuse(
      job,
      "resource name longer than " + std::to_string(longest) + " Macintosh characters (" + std::to_string(name.size()) +
          ")" +
          (longest < MACBIN_MAX_FULL_NAME_LENGTH ? ", the most a resource line takes; --raw, --text, --strings "
                                                   "and ~ resources take 255"
                                                 : ""),
      MACBIN_ERR_LIMIT);
}

// Whether the map takes a resource of `length` bytes (room kept for what
// the close adds).  One refused for its length alone fills the resource
// data: later ones need not be tried.
bool map_takes_data(LineJob &job, const Checked &checked, size_t length) {
  const auto bytes = static_cast<int32_t>(std::min<size_t>(length, INT32_MAX));
  const char *type = checked.type.c_str();
  const char *name = checked.name.c_str();
  if (MacBin_CheckResourceData(job.channel, type, checked.id, name, bytes) == MACBIN_ERR_NONE) return true;
  job.refusal = last_refusal();
  if (bytes > 0 && MacBin_CheckResourceData(job.channel, type, checked.id, name, 0) == MACBIN_ERR_NONE) job.full = true;
  return false;
}

// A line the writer splits itself must be taken (the map's room included)
// and split into the same words.
bool check_writer_line(LineJob &job, const std::string &param, Checked &checked) {
  checked.writer_line =
      line_word(checked.type_mac) + " " + checked.id_word + " " + line_word(checked.name) + " " + param;
  if (!writer_takes(job.channel, checked.writer_line, job.refusal)) return false;
  const SplitLine again = split_line(checked.writer_line);
  if (again.count != 3 || again.words[0] != checked.type_mac || again.words[1] != checked.id_word ||
      again.words[2] != checked.name || again.param != param)
    return refuse(job, "this line cannot be handed over unchanged; quote its words differently");
  return true;
}

bool check_owner_text(LineJob &job, const std::string &owner, Checked &checked) {
  const std::optional<std::string> text = mac_text("owner text", owner, job.refusal);
  if (!text) return false;
  checked.writer_line = "BNDL " + line_word(*text);
  return writer_takes(job.channel, checked.writer_line, job.refusal);
}

bool check_line(LineJob &job, const std::string &text, Checked &checked) {
  if (const int32_t quote = MacBin_FindUnclosedQuote(text.c_str(), 3, 1); quote > 0) {
    return refuse(job, "unclosed quote: the '\"' at character " + std::to_string(quote) +
                           " has no closing '\"', so the rest of the line would become one word");
  }
  const SplitLine split = split_line(text);
  const std::string &first = split.words[0];
  if (split.count == 2 && first == "BNDL") return check_owner_text(job, split.words[1], checked);
  // A bundle's own bytes (--raw) are a resource like any other, also of
  // the type "Bndl" that names the bundle's processor.
  const bool bundle_type = first == "BNDL" || first == "Bndl";
  const bool given_bundle = bundle_type && split.count == 3 && split.param.rfind("--", 0) == 0;
  if (bundle_type && !given_bundle) {
    return refuse(job,
                  "BNDL takes one word, the owner text: quote it when it has blanks "
                  "(BNDL \"Made by me\"); the bundle itself is built from the FREF lines");
  }
  if (!check_line_start(job, split, checked)) return false;
  const std::optional<std::string> name = mac_text("resource name", split.words[2], job.refusal);
  if (!name) return false;
  std::string param;
  if (!check_parameter(job, split.param, param, checked)) return false;
  const size_t longest = checked.bytes ? MACBIN_MAX_FULL_NAME_LENGTH : MACBIN_MAX_NAME_LENGTH;
  if (!check_name_length(job, *name, longest)) return false;
  checked.name = *name;
  if (checked.bytes) return map_takes_data(job, checked, checked.bytes->size());
  return check_writer_line(job, param, checked);
}

// Writes the checked resource; false when writing it failed (reported).
bool insert_checked(LineJob &job, const Checked &checked) {
  const uint32_t failures_before = recorded_failures();
  if (checked.bytes) {
    const std::vector<uint8_t> &bytes = *checked.bytes;
    return MacBin_AddResourceData(job.channel, checked.type.c_str(), checked.id, checked.name.c_str(),
                                  checked.attributes.value_or(MACBIN_ATTR_PURGEABLE), bytes.data(),
                                  static_cast<int32_t>(bytes.size())) == MACBIN_ERR_NONE;
  }
  if (checked.attributes) MacBin_SetNextAttributes(job.channel, *checked.attributes);
  MacBin_AddResource(job.channel, checked.writer_line.c_str());
  return recorded_failures() == failures_before;
}

// After a resource went in: one that leaves no room for what the close
// adds is the one to name, with the writer's figures (and for a picture
// the way to make it smaller).
bool room_left_to_close(LineJob &job, const std::string &type) {
  if (MacBin_CheckClose(job.channel) == MACBIN_ERR_NONE) return true;
  Refusal refusal = last_refusal();
  if (type == "PICT")
    refusal.reason += ": a lower resolution (the number after the image file) makes the picture smaller";
  job.refusal = refusal;
  job.full = true;
  return false;
}

int32_t add_script_line(LineJob &job, const char *line) {
  std::string text = line;
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return MACBIN_ERR_NONE;
  text.erase(0, first);
  if (text[0] == ';') return MACBIN_ERR_NONE;
  if (!is_writing_channel(job.channel)) {
    refuse(job, "not a channel open for writing", MACBIN_ERR_STATE);
    return job.refusal.code;
  }
  // Lines the writer splits are held to its length; lines that carry their
  // bytes may be longer.
  Checked checked;
  if (text.size() > MACBIN_MAX_LINE_LENGTH && !carries_bytes(text)) {
    refuse(job, "line longer than " + std::to_string(MACBIN_MAX_LINE_LENGTH) + " characters", MACBIN_ERR_LIMIT);
    return job.refusal.code;
  }
  if (!check_line(job, text, checked)) return job.refusal.code;
  if (!insert_checked(job, checked)) return -1;
  if (!checked.type.empty() && !room_left_to_close(job, checked.type)) return job.refusal.code;
  return MACBIN_ERR_NONE;
}

}  // namespace

extern "C" int32_t MacBin_AddScriptLine(MacBinChannel *channel, const char *line, const char *directory,
                                        int32_t *full) {
  try {
    if (full != nullptr) *full = 0;
    if (line == nullptr) {
      record_error(MACBIN_ERR_ARGUMENT, "MacBin_AddScriptLine: no line given");
      return MACBIN_ERR_ARGUMENT;
    }
    LineJob job;
    job.channel = channel;
    if (directory != nullptr) job.directory = directory;
    const int32_t result = add_script_line(job, line);
    if (full != nullptr && job.full) *full = 1;
    // The reasons say what failed in their own words, without the system's.
    errno = 0;
    if (result > 0) record_error(result, job.refusal.reason.c_str());
    return result;
  } catch (const std::bad_alloc &) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (adding a script line)");
    return MACBIN_ERR_MEMORY;
  }
}
