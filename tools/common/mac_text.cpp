#include "common/mac_text.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

#include "varnel.h"

namespace varnel_tool {
namespace {

// One piece of text without NULs through the library's conversion.
std::optional<std::string> convert_piece(const std::string &piece, std::string &problem) {
  const int32_t length = MacBin_UTF8ToMacRoman(piece.c_str(), nullptr, 0);
  if (length < 0) {
    const char *reason = nullptr;
    MacBin_LastError(&reason);
    problem = reason != nullptr ? reason : "not a Macintosh (MacRoman) text";
    return std::nullopt;
  }
  std::string out(static_cast<size_t>(length) + 1, '\0');
  MacBin_UTF8ToMacRoman(piece.c_str(), out.data(), length + 1);
  out.resize(static_cast<size_t>(length));
  return out;
}

}  // namespace

std::string mac_roman_to_utf8(std::string_view mac_text, bool replace_controls) {
  const auto length = static_cast<int32_t>(mac_text.size());
  const int32_t needed = MacBin_MacRomanToUTF8(mac_text.data(), length, replace_controls ? 1 : 0, nullptr, 0);
  if (needed <= 0) return "";
  std::string out(static_cast<size_t>(needed) + 1, '\0');
  MacBin_MacRomanToUTF8(mac_text.data(), length, replace_controls ? 1 : 0, out.data(), needed + 1);
  out.resize(static_cast<size_t>(needed));
  return out;
}

std::optional<std::string> utf8_to_mac_roman(std::string_view utf8_text) {
  std::string problem;
  return utf8_to_mac_roman(utf8_text, problem);
}

// The library takes texts that end at a NUL; a NUL is its own character in
// both sets, so the pieces between NULs are converted one by one.  A
// position in a reason counts from the piece's start.
std::optional<std::string> utf8_to_mac_roman(std::string_view utf8_text, std::string &problem) {
  std::string out;
  size_t start = 0;
  while (true) {
    const size_t nul = utf8_text.find('\0', start);
    const std::string piece(utf8_text.substr(start, nul == std::string_view::npos ? std::string_view::npos : nul - start));
    const std::optional<std::string> converted = convert_piece(piece, problem);
    if (!converted) return std::nullopt;
    out += *converted;
    if (nul == std::string_view::npos) return out;
    out += '\0';
    start = nul + 1;
  }
}

std::string utf8_prefix(const std::string &text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

// The same escapes as the library's resource descriptions, so that names
// and descriptions read alike on one listing.  The text is the UTF-8 of a
// MacRoman text: only its ASCII control characters need escaping.
std::string json_quote(std::string_view utf8_text) {
  std::string out = "\"";
  for (const char c : utf8_text) {
    const auto byte = static_cast<uint8_t>(c);
    if (c == '"' || c == '\\') {
      out += {'\\', c};
    } else if (c == '\n' || c == '\r' || c == '\t') {
      out += {'\\', c == '\n' ? 'n' : c == '\r' ? 'r' : 't'};
    } else if (byte < 0x20 || byte == 0x7F) {
      constexpr char kDigits[] = "0123456789abcdef";
      out += {'\\', 'u', '0', '0', kDigits[byte >> 4], kDigits[byte & 0xF]};
    } else {
      out += c;
    }
  }
  return out + '"';
}

namespace {

// Names joined by "," as a list.
std::vector<std::string> split_names(const std::string &joined) {
  std::vector<std::string> names;
  for (size_t start = 0; start < joined.size();) {
    const size_t comma = std::min(joined.find(',', start), joined.size());
    names.push_back(joined.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

}  // namespace

std::vector<std::string> finder_flag_names(uint16_t flags) {
  char names[256];
  MacBin_FinderFlagNames(flags, names, sizeof names);
  return split_names(names);
}

std::vector<std::string> resource_attribute_names(int32_t attributes) {
  char names[128];
  MacBin_AttributeNames(attributes & 0xFF, names, sizeof names);
  return split_names(names);
}

std::optional<std::string> mac_date_text(uint32_t seconds) {
  char text[MACBIN_DATE_TEXT_BYTES];
  if (MacBin_FormatDate(seconds, text) <= 0) return std::nullopt;
  return std::string(text);
}

}  // namespace varnel_tool
