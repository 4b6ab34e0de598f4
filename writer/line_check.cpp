// MacBin_CheckResourceLine: a resource line judged as the writer would take
// it, without writing.  The line is split by split_resource_line and the
// Finder resources' parameters read by read_vers_parameter and
// read_fref_parameter, the very code that inserts them; what the check adds
// are the refusals where the writer would cut or guess silently (a long
// owner text, an ID that is not a number, a parameter out of its form).
#include <cstring>
#include <new>
#include <string>

#include "format/mac_roman.hpp"
#include "frame/internal.hpp"
#include "writer/internal.hpp"

namespace {

constexpr size_t kMaxTypeCharacters = 4;

// A word of the line (MacRoman) for a reason, which hosts show as UTF-8.
std::string shown(std::string_view mac_text) { return varnel::format::mac_roman_to_utf8(mac_text, true); }

// Where a double quote opens that the line never closes among its first
// three words (the rest is taken as it stands, quotes and all), as
// MacBin_GetArguments reads them; npos when every quote closes.
size_t unclosed_quote(std::string_view line) {
  constexpr int kWords = 3;
  bool quoted = false;
  bool wrote = false;  // separators before the first character start nothing
  size_t opened = std::string_view::npos;
  int words = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
      ++i;
      wrote = true;
    } else if (c == '"') {
      quoted = !quoted;
      opened = i;
    } else if (quoted || (c != ' ' && c != '\t')) {
      wrote = true;
    } else if (wrote) {
      while (i + 1 < line.size() && (line[i + 1] == ' ' || line[i + 1] == '\t')) ++i;
      if (i + 1 < line.size() && ++words >= kWords) return std::string_view::npos;
    }
  }
  return quoted ? opened : std::string_view::npos;
}

struct Verdict {
  int32_t code = MACBIN_ERR_NONE;
  std::string reason;
};

Verdict refused(int32_t code, std::string reason) { return {code, std::move(reason)}; }

Verdict check_parameter(const ResourceLine &line, std::string_view type) {
  const std::string_view param = line.param;
  if (!param.empty() && param[0] == '~') {
    // Its length needs no check: the line's 256 bytes of words hold no
    // longer text than a Pascal string does.
    if (type == "FREF") return refused(MACBIN_ERR_ARGUMENT, "FREF builds its data from 'TYPE ICON-ID'; a ~ text is not an FREF");
    return {};
  }
  if (MacBin_FindProcessor(line.type) == nullptr) {
    return refused(MACBIN_ERR_ARGUMENT, "no processor for resource type '" + shown(type) +
                                            "' (MacBin_AddProcessor), and its parameter is not a ~ text");
  }
  if (type == "vers") {
    const VersParameter vers = read_vers_parameter(param);
    if (!vers.problem.empty()) return refused(MACBIN_ERR_ARGUMENT, vers.problem);
  } else if (type == "FREF") {
    const FrefParameter fref = read_fref_parameter(param);
    if (!fref.problem.empty()) return refused(MACBIN_ERR_ARGUMENT, fref.problem);
  }
  return {};
}

// What the channel decides: its state and the room left in its map.
Verdict check_on_channel(MacBinChannel *channel, const ResourceLine &line) {
  if (!is_writing_channel(channel)) return refused(MACBIN_ERR_STATE, "not a channel open for writing");
  if (writer_state(channel)->fork_given != 0)
    return refused(MACBIN_ERR_STATE, "the resource fork was set whole: no resource lines are taken");
  if (line.kind != ResourceLine::Kind::kResource) return {};
  const bool literal = line.param[0] == '~';
  const char *type = !literal && std::strcmp(line.type, "Bndl") == 0 ? "BNDL" : line.type;
  if (const char *fault = map_room_fault(channel, type)) {
    std::string reason(fault);
    reason.resize(reason.size() - 2);  // its ": " led on to the resource
    return refused(MACBIN_ERR_LIMIT, reason);
  }
  const size_t name_length = std::strlen(line.name);
  if (name_length > 0 && !name_list_has_room(channel, name_length))
    return refused(MACBIN_ERR_LIMIT, "Name list full: the map's names must lie within 64 KB");
  if (!literal && std::strcmp(type, "FREF") == 0 && channel->fref_last >= kMaxFrefs - 1)
    return refused(MACBIN_ERR_LIMIT, "too many FREF resources: the bundle takes " + std::to_string(kMaxFrefs));
  return {};
}

Verdict check_line(MacBinChannel *channel, const char *text) {
  if (text == nullptr) return refused(MACBIN_ERR_ARGUMENT, "no line given");
  ResourceLine line;
  LineFault fault;
  if (!split_resource_line(text, line, fault)) return refused(fault.code, fault.reason);
  if (line.kind != ResourceLine::Kind::kNothing) {
    if (const size_t quote = unclosed_quote(text); quote != std::string_view::npos) {
      return refused(MACBIN_ERR_ARGUMENT, "unclosed quote: the '\"' at character " + std::to_string(quote + 1) +
                                              " has no closing '\"', so the rest of the line would become one word");
    }
  }
  switch (line.kind) {
    case ResourceLine::Kind::kNothing:
      break;
    case ResourceLine::Kind::kOwnerText:
      if (const size_t length = std::strlen(line.owner_text); length > kOwnerTextBytes - 1) {
        return refused(MACBIN_ERR_LIMIT, "the owner text must be at most " + std::to_string(kOwnerTextBytes - 1) +
                                             " Macintosh characters (this one has " + std::to_string(length) + ")");
      }
      break;
    case ResourceLine::Kind::kResource: {
      std::string_view type = line.type;
      if (line.words[0] == '\0' || type.size() > kMaxTypeCharacters)
        return refused(MACBIN_ERR_ARGUMENT, "resource type '" + shown(line.words) + "' must be 1 to 4 characters");
      if (!is_resource_id(line.id_word)) {
        return refused(MACBIN_ERR_ARGUMENT,
                       "resource ID '" + shown(line.id_word) + "' must be a whole number from -32768 to 32767");
      }
      if (Verdict verdict = check_parameter(line, type); verdict.code != MACBIN_ERR_NONE) return verdict;
      break;
    }
  }
  if (channel != nullptr) return check_on_channel(channel, line);
  return {};
}

}  // namespace

extern "C" int32_t MacBin_CheckResourceLine(MacBinChannel *channel, const char *line) {
  try {
    const Verdict verdict = check_line(channel, line);
    if (verdict.code != MACBIN_ERR_NONE) record_error(verdict.code, verdict.reason.c_str());
    return verdict.code;
  } catch (const std::bad_alloc &) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (checking a resource line)");
    return MACBIN_ERR_MEMORY;
  }
}
