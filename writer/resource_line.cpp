// Resource lines: "TYPE ID NAME [parameter text]", "BNDL owner-text", or a
// comment beginning with ';'.
//
// A line is split into at most three words and the untouched rest (the
// parameter text).  A type shorter than four characters is padded with
// blanks; an FREF line gets "/" and its own ID appended to its parameter
// text, which is how the FREF processor learns the ID.  The words, with
// their NULs and that suffix, must fit in 256 bytes and the line in 511
// characters; anything longer is refused whole rather than cut.
#include <cstdlib>
#include <cstring>

#include "frame/internal.hpp"
#include "writer/internal.hpp"

namespace {

constexpr int32_t kLineWords = 3;
constexpr size_t kPaddedTypeLength = 4;

// atoi's reading (sign, digits, stop at anything else), without its
// undefined overflow: the value wraps to 32 bits.
int32_t decimal_at(const char *text) {
  return static_cast<int32_t>(std::strtoll(text, nullptr, 10));
}

}  // namespace

void parse_resource_line(const char *line) {
  if (line == nullptr || line[0] == ';') return;
  const size_t line_length = ::strnlen(line, kMaxLineLength + 1);
  if (line_length > kMaxLineLength) {
    report("ERROR in line ?", MACBIN_ERROR);
    return;
  }

  char words[kMaxLineLength + 1];
  char *args[kLineWords + 1] = {};
  const int32_t count = MacBin_GetArguments(line, words, args, kLineWords);
  const char *rest = args[kLineWords];
  const bool is_fref = std::strcmp(args[0], "FREF") == 0;

  // Bytes the split words take, NULs included, as the 256-byte word buffer
  // of a resource line would hold them.
  const char *last = rest != nullptr ? rest : args[count - 1];
  size_t used = static_cast<size_t>(last - words) + std::strlen(last) + 1;
  if (is_fref && count == kLineWords) {
    if (rest == nullptr) {
      // The FREF processor needs a parameter text to append the ID to.
      report("Syntax error in line ?", MACBIN_ERROR);
      return;
    }
    used += 1 + std::strlen(args[1]);
  }
  if (used > kLineWordBytes) {
    report("ERROR in line ?", MACBIN_ERROR);
    return;
  }

  // The type, blank-padded to four characters; a longer word stays whole
  // (insert_resource refuses one of more than seven).
  char type[kLineWordBytes + 1];
  std::strcpy(type, args[0]);
  for (size_t length = std::strlen(type); length < kPaddedTypeLength; ++length) {
    type[length] = ' ';
    type[length + 1] = '\0';
  }

  if (count == 2) {
    if (std::strcmp(type, "BNDL") == 0) {
      MacBinChannel *channel = MacChannel;
      const size_t length = ::strnlen(args[1], kOwnerTextBytes - 1);
      std::memcpy(channel->owner_text, args[1], length);
      channel->owner_text[length] = '\0';
    } else {
      report("Syntax error in line ?", MACBIN_ERROR);
    }
    return;
  }
  if (count != kLineWords) {
    report("ERROR in line ?", MACBIN_ERROR);
    return;
  }

  char param[kLineWordBytes + 1] = "";
  if (rest != nullptr) std::strcpy(param, rest);
  if (is_fref) {
    std::strcat(param, "/");
    std::strcat(param, args[1]);
  }
  insert_resource(type, decimal_at(args[1]), args[2], param);
}

extern "C" void MacBin_AddResource(MacBinChannel *channel, const char *line) {
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR);
    return;
  }
  MacBin_CompleteDataFork(channel);  // makes the channel and its file current
  if (line == nullptr || line[0] == '\0') return;
  parse_resource_line(line);
  // Attributes set for this line's resource must not pass to the next one
  // when the line was refused before anything was inserted.
  writer_state(channel)->next_attributes_set = 0;
}
