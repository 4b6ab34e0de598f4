// The parameter texts of the Finder resources' processors, read once for
// both the processors (add_vers, add_FREF), which write whatever the text
// gives, and MacBin_CheckResourceLine, which refuses a text not in its form.
#include <cstdlib>
#include <string>

#include "format/mac_roman.hpp"
#include "writer/internal.hpp"

namespace {

constexpr size_t kMaxPascalCharacters = 255;
constexpr int32_t kMaxRegion = 0xFFFF;
constexpr size_t kMaxIdCharacters = 7;  // "-32768" and a '+' too many still fit

// The character at `position`, or NUL past the end.
char char_at(std::string_view text, size_t position) {
  return position < text.size() ? text[position] : '\0';
}

bool is_digit_at(std::string_view text, size_t position) {
  const char c = char_at(text, position);
  return c >= '0' && c <= '9';
}

// The decimal number that begins at `position` (as atoi reads it), 0 past
// the end.  Wraps to 32 bits instead of overflowing.
int32_t decimal_at(std::string_view text, size_t position) {
  if (position >= text.size()) return 0;
  // The view may not end in a NUL: read a copy of the number's characters
  // (more than any number of 64 bits takes, so the reading is atoi's).
  char digits[32] = {};
  text.substr(position, sizeof digits - 1).copy(digits, sizeof digits - 1);
  return static_cast<int32_t>(std::strtoll(digits, nullptr, 10));
}

// Position of the first '/' at or after `from`, or npos.
size_t slash_from(std::string_view text, size_t from) {
  return from < text.size() ? text.find('/', from) : std::string_view::npos;
}

// The text between the slash at `slash` and the next one (or the end).
std::string_view field_after(std::string_view text, size_t slash) {
  const size_t next = slash_from(text, slash + 1);
  return text.substr(slash + 1, next == std::string_view::npos ? std::string_view::npos : next - slash - 1);
}

// A digit character's value, kept to 8 bits; a missing one counts as 0.
uint8_t digit_value(std::string_view text, size_t position) {
  const char c = char_at(text, position);
  return c == '\0' ? 0 : static_cast<uint8_t>(c - '0');
}

std::string vers_problem(std::string_view param, const VersParameter &vers) {
  static const char *const kForm = "vers wants 'M.mb S R REGION/short/long', e.g. '1.00 F 0 0/1.0/Version 1.0'";
  if (param.size() < 10 || !is_digit_at(param, 0) || !is_digit_at(param, 2) || !is_digit_at(param, 3) ||
      !is_digit_at(param, 7) || !is_digit_at(param, 9))
    return kForm;
  if (release_stage_of(vers.stage_letter) == 0) {
    return "vers release stage '" + varnel::format::mac_roman_to_utf8(param.substr(5, 1), true) +
           "' must be D (development), A (alpha), B (beta) or F (final)";
  }
  const size_t first = slash_from(param, 10);
  if (first == std::string_view::npos || slash_from(param, first + 1) == std::string_view::npos) return kForm;
  // Digits only (position 9 holds one): strtoll stops at the first other character.
  const long long region = std::strtoll(std::string(param.substr(9, 24)).c_str(), nullptr, 10);
  if (region > kMaxRegion) return "vers region code " + std::to_string(region) + " does not fit in 16 bits";
  if (vers.short_version.size() > kMaxPascalCharacters || vers.long_version.size() > kMaxPascalCharacters) {
    return "vers version texts must be at most 255 Macintosh characters each (the short one has " +
           std::to_string(vers.short_version.size()) + ", the long one " +
           std::to_string(vers.long_version.size()) + ")";
  }
  return {};
}

}  // namespace

uint8_t release_stage_of(char letter) {
  switch (letter) {
    case 'D': return 0x20;  // development
    case 'A': return 0x40;  // alpha
    case 'B': return 0x60;  // beta
    case 'F': return 0x80;  // final
    default: return 0;
  }
}

// Text layout: 0 major digit, 2 minor digit, 3 bug-fix digit, 5 stage
// letter (D, A, B, F), 7 pre-release revision, 9 region code, then from
// position 10 "/short version/long version[/...]".
VersParameter read_vers_parameter(std::string_view param) {
  VersParameter vers;
  vers.major = digit_value(param, 0);
  vers.minor_and_bugfix = static_cast<uint8_t>(digit_value(param, 2) * 16 + digit_value(param, 3));
  vers.stage_letter = char_at(param, 5);
  vers.revision = decimal_at(param, 7);
  vers.region = decimal_at(param, 9);
  if (const size_t first = slash_from(param, 10); first != std::string_view::npos) {
    vers.short_version = field_after(param, first);
    if (const size_t second = slash_from(param, first + 1); second != std::string_view::npos)
      vers.long_version = field_after(param, second);
  }
  vers.problem = vers_problem(param, vers);
  return vers;
}

std::string vers_resource_bytes(const VersParameter &vers) {
  const uint8_t stage = release_stage_of(vers.stage_letter);
  std::string bytes = {static_cast<char>(vers.major), static_cast<char>(vers.minor_and_bugfix),
                       static_cast<char>(stage != 0 ? stage : release_stage_of('D')),
                       static_cast<char>(vers.revision), static_cast<char>(vers.region >> 8),
                       static_cast<char>(vers.region)};
  for (std::string_view text : {vers.short_version, vers.long_version}) {
    text = text.substr(0, kMaxPascalCharacters);
    bytes += static_cast<char>(text.size());
    bytes += text;
  }
  return bytes;
}

// Text layout: 0..3 the document's file type, 5 the icon resource ID, and
// after the last '/' (from position 6) the FREF's own ID, which the line
// handler appends.
FrefParameter read_fref_parameter(std::string_view param) {
  FrefParameter fref;
  fref.file_type = param.substr(0, 4);
  fref.icon_id = decimal_at(param, 5);
  // The line handler appends the ID last: a '/' in the text before it is
  // not the one that leads to the ID.
  const size_t last_slash = param.rfind('/');
  const size_t slash = last_slash != std::string_view::npos && last_slash >= 6 ? last_slash : std::string_view::npos;
  fref.fref_id = slash != std::string_view::npos ? decimal_at(param, slash + 1) : 0;
  std::string_view icon_text = param.size() > 5 ? param.substr(5, slash == std::string_view::npos
                                                                       ? std::string_view::npos
                                                                       : slash - 5)
                                                : std::string_view();
  while (!icon_text.empty() && (icon_text.back() == ' ' || icon_text.back() == '\t'))
    icon_text.remove_suffix(1);
  if (param.size() < 6 || param[4] != ' ' || !is_resource_id(icon_text))
    fref.problem = "FREF wants 'TYPE ICON-ID' (a 4-character file type, a blank, the icon ID), e.g. 'TEXT 128'";
  return fref;
}

bool is_resource_id(std::string_view text) {
  const size_t digits_start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (digits_start >= text.size() || text.size() > kMaxIdCharacters) return false;
  for (size_t i = digits_start; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  const long value = std::strtol(std::string(text).c_str(), nullptr, 10);
  return value >= -32768 && value <= 32767;
}
