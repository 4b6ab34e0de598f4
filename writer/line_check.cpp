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
constexpr int32_t kLineWords = 3;
constexpr size_t kMaxPascalCharacters = 255;

// A word of the line (MacRoman) for a reason, which hosts show as UTF-8.
std::string shown(std::string_view mac_text) { return varnel::format::mac_roman_to_utf8(mac_text, true); }

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
  const bool builds_fref = !literal && std::strcmp(type, "FREF") == 0;
  if (builds_fref && channel->fref_last >= kMaxFrefs - 1)
    return refused(MACBIN_ERR_LIMIT, "too many FREF resources: the bundle takes " + std::to_string(kMaxFrefs));
  RoomRequest request;
  request.type = type;
  request.id = line.id;
  request.name_length = std::strlen(line.name);
  request.builds_fref = builds_fref;
  // A ~ text's bytes are known now: a length byte and at most 255 characters.
  if (literal) request.data_length = 1 + static_cast<int64_t>(::strnlen(line.param + 1, kMaxPascalCharacters));
  std::string reason;
  if (const int32_t code = room_fault(channel, &request, reason)) return refused(code, reason);
  return {};
}

Verdict check_line(MacBinChannel *channel, const char *text) {
  if (text == nullptr) return refused(MACBIN_ERR_ARGUMENT, "no line given");
  ResourceLine line;
  LineFault fault;
  if (!split_resource_line(text, line, fault)) return refused(fault.code, fault.reason);
  if (line.kind != ResourceLine::Kind::kNothing) {
    if (const int32_t quote = unclosed_quote_position(text, kLineWords, false); quote > 0) {
      return refused(MACBIN_ERR_ARGUMENT, "unclosed quote: the '\"' at character " + std::to_string(quote) +
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
