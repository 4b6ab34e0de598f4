// Resource lines: "TYPE ID NAME [parameter text]", "BNDL owner-text", or a
// comment beginning with ';'.
//
// A line is split into at most three words and the untouched rest (the
// parameter text).  A type shorter than four characters is padded with
// blanks; an FREF line gets "/" and its own ID appended to its parameter
// text, which is how the FREF processor learns the ID.  The words, with
// their NULs and that suffix, must fit in 256 bytes and the line in 511
// characters; anything longer is refused whole rather than cut.
//
// MacBin_AddResource and MacBin_CheckResourceLine both split lines here,
// so the check can never pass a line the writer would read otherwise.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "frame/internal.hpp"
#include "writer/internal.hpp"

namespace {

constexpr int32_t kLineWords = 3;
constexpr size_t kPaddedTypeLength = 4;

// The writer's own texts for a refused line, which hosts have long seen.
constexpr const char *kTextLineError = "ERROR in line ?";
constexpr const char *kTextSyntaxError = "Syntax error in line ?";

// atoi's reading (sign, digits, stop at anything else), without its
// undefined overflow: the value wraps to 32 bits.
int32_t decimal_at(const char *text) {
  return static_cast<int32_t>(std::strtoll(text, nullptr, 10));
}

bool refuse_line(LineFault &fault, int32_t code, const char *message, std::string reason) {
  fault.code = code;
  fault.message = message;
  fault.reason = std::move(reason);
  return false;
}

}  // namespace

bool split_resource_line(const char *line, ResourceLine &out, LineFault &fault) {
  out.kind = ResourceLine::Kind::kNothing;
  if (line == nullptr || line[0] == '\0' || line[0] == ';') return true;
  const size_t line_length = ::strnlen(line, kMaxLineLength + 1);
  if (line_length > kMaxLineLength) {
    return refuse_line(fault, MACBIN_ERR_LIMIT, kTextLineError,
                       "line longer than " + std::to_string(kMaxLineLength) + " characters");
  }

  char *args[kLineWords + 1] = {};
  const int32_t count = MacBin_GetArguments(line, out.words, args, kLineWords);
  const char *rest = args[kLineWords];
  const bool is_fref = std::strcmp(args[0], "FREF") == 0;
  out.word_count = count;
  out.given_param = rest;

  // Bytes the split words take, NULs included, as the 256-byte word buffer
  // of a resource line would hold them.
  const char *last = rest != nullptr ? rest : args[count - 1];
  size_t used = static_cast<size_t>(last - out.words) + std::strlen(last) + 1;
  if (is_fref && count == kLineWords) {
    if (rest == nullptr) {
      // The FREF processor needs a parameter text to append the ID to.
      return refuse_line(fault, MACBIN_ERR_ARGUMENT, kTextSyntaxError,
                         "missing parameter: FREF wants 'TYPE ICON-ID', e.g. 'TEXT 128'");
    }
    used += 1 + std::strlen(args[1]);
  }
  if (used > kLineWordBytes) {
    return refuse_line(fault, MACBIN_ERR_LIMIT, kTextLineError,
                       "line too long: the library holds at most " + std::to_string(kLineWordBytes) +
                           " bytes of a line's words and parameters (one more for each), this line needs " +
                           std::to_string(used) + "; shorten the name or the file names");
  }

  // The type, blank-padded to four characters; a longer word stays whole
  // (insert_resource refuses one of more than seven).
  std::strcpy(out.type, args[0]);
  for (size_t length = std::strlen(out.type); length < kPaddedTypeLength; ++length) {
    out.type[length] = ' ';
    out.type[length + 1] = '\0';
  }

  if (count == 2) {
    if (std::strcmp(out.type, "BNDL") != 0) {
      return refuse_line(fault, MACBIN_ERR_ARGUMENT, kTextSyntaxError,
                         "missing name: a resource line is 'TYPE ID NAME PARAMETERS' (\"\" for no name)");
    }
    out.kind = ResourceLine::Kind::kOwnerText;
    out.owner_text = args[1];
    return true;
  }
  if (count != kLineWords) {
    return refuse_line(fault, MACBIN_ERR_ARGUMENT, kTextLineError,
                       "not a resource line: 'TYPE ID NAME PARAMETERS' or 'BNDL OWNER-TEXT' expected");
  }

  out.kind = ResourceLine::Kind::kResource;
  out.id_word = args[1];
  out.id = decimal_at(args[1]);
  out.name = args[2];
  out.param[0] = '\0';
  if (rest != nullptr) std::strcpy(out.param, rest);
  if (is_fref) {
    std::strcat(out.param, "/");
    std::strcat(out.param, args[1]);
  }
  return true;
}

int32_t unclosed_quote_position(std::string_view text, int32_t max_words, bool utf8) {
  bool quoted = false;
  bool wrote = false;  // separators before the first character start nothing
  size_t opened = std::string_view::npos;
  int32_t words = 0;
  const auto separator = [](char c) { return c == ' ' || c == '\t'; };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size() && text[i + 1] == '"') {
      ++i;
      wrote = true;
    } else if (c == '"') {
      quoted = !quoted;
      opened = i;
    } else if (quoted || !separator(c)) {
      wrote = true;
    } else if (wrote) {
      while (i + 1 < text.size() && separator(text[i + 1])) ++i;
      if (i + 1 < text.size() && ++words >= max_words) return 0;
    }
  }
  if (!quoted) return 0;
  int32_t position = 1;
  for (size_t i = 0; i < opened; ++i) {
    // UTF-8 continuation bytes (10xxxxxx) belong to the character before.
    if (!utf8 || (static_cast<uint8_t>(text[i]) & 0xC0) != 0x80) ++position;
  }
  return position;
}

extern "C" int32_t MacBin_FindUnclosedQuote(const char *text, int32_t max_words, int32_t utf8) {
  if (text == nullptr || max_words < 1 || (utf8 != 0 && utf8 != 1)) {
    record_error(MACBIN_ERR_ARGUMENT, "a text, at least one word and utf8 0 or 1 are needed");
    return -1;
  }
  return unclosed_quote_position(text, max_words, utf8 == 1);
}

void parse_resource_line(const char *line) {
  ResourceLine parsed;
  LineFault fault;
  if (!split_resource_line(line, parsed, fault)) {
    report(fault.message, MACBIN_ERROR, fault.code);
    return;
  }
  switch (parsed.kind) {
    case ResourceLine::Kind::kNothing:
      return;
    case ResourceLine::Kind::kOwnerText: {
      MacBinChannel *channel = MacChannel;
      const size_t length = ::strnlen(parsed.owner_text, kOwnerTextBytes - 1);
      std::memcpy(channel->owner_text, parsed.owner_text, length);
      channel->owner_text[length] = '\0';
      return;
    }
    case ResourceLine::Kind::kResource:
      insert_resource(parsed.type, parsed.id, parsed.name, parsed.param);
      return;
  }
}

extern "C" void MacBin_AddResource(MacBinChannel *channel, const char *line) {
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR, MACBIN_ERR_STATE);
    return;
  }
  MacBin_CompleteDataFork(channel);  // makes the channel and its file current
  if (line == nullptr || line[0] == '\0') return;
  try {
    parse_resource_line(line);
  } catch (const std::bad_alloc &) {
    report("Out Of Memory (reading a resource line)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
  }
  // Attributes set for this line's resource must not pass to the next one
  // when the line was refused before anything was inserted.
  writer_state(channel)->next_attributes_set = 0;
}
