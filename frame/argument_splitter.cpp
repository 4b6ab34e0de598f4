// Splits a resource line into at most `max` arguments.
//
// Separators are blanks and tabs; "..." groups an argument that holds
// separators (the quotes are dropped); \" is a literal quote inside or outside
// quotes.  Once `max` arguments are complete, the rest of the line after the
// separator run is copied verbatim as one remainder text, quotes and blanks
// included, so a resource line can end in a free parameter text.
//
// Every input character yields at most one output character, a separator run
// one NUL, plus the final NUL: the output never needs more than
// strlen(line) + 1 bytes.
#include <string_view>

#include "frame/internal.hpp"
#include "varnel.h"

namespace {

bool is_separator(char c) { return c == ' ' || c == '\t'; }

}  // namespace

extern "C" int32_t MacBin_GetArguments(const char *line, char *buffer, char **argv,
                                       int32_t max) {
  if (line == nullptr) line = "";
  argv[0] = buffer;
  if (max < 1) {
    // No room for any argument: an empty first argument and nothing else,
    // rather than writing past a one-entry pointer array.
    buffer[0] = '\0';
    return 0;
  }
  argv[max] = nullptr;

  size_t in = 0;
  size_t out = 0;
  int32_t count = 0;
  bool quoted = false;
  while (line[in] != '\0') {
    const char c = line[in];
    if (count >= max) {  // remainder: kept exactly as it stands
      buffer[out++] = c;
      ++in;
    } else if (c == '\\' && line[in + 1] == '"') {
      buffer[out++] = '"';
      in += 2;
    } else if (c == '"') {
      quoted = !quoted;
      ++in;
    } else if (quoted) {
      buffer[out++] = c;
      ++in;
    } else if (is_separator(c)) {
      while (is_separator(line[in])) ++in;
      if (out == 0) continue;  // leading separators start nothing
      buffer[out++] = '\0';
      argv[count + 1] = buffer + out;
      ++count;
      if (line[in] == '\0') {
        // Trailing separators do not start an argument, and with exactly
        // `max` arguments there is no remainder either.
        --count;
        if (count + 1 == max) argv[max] = nullptr;
      }
    } else {
      buffer[out++] = c;
      ++in;
    }
  }
  buffer[out] = '\0';
  if (count < max) ++count;  // the last argument, ended by the end of the line
  return count;
}

std::string_view trim_blanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}
