#include "common/mac_text.hpp"

#include <cstdint>
#include <string>

#include "varnel.h"

namespace varnel_tool {
namespace {

// Decodes one UTF-8 character at `at` for JSON quoting; nothing for a
// malformed sequence.
std::optional<uint32_t> next_code_point(std::string_view text, size_t &at) {
  const auto lead = static_cast<uint8_t>(text[at]);
  size_t length = 0;
  uint32_t code_point = 0;
  if (lead < 0x80) {
    ++at;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code_point = lead & 0x1Fu;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code_point = lead & 0x0Fu;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code_point = lead & 0x07u;
  } else {
    return std::nullopt;
  }
  if (text.size() - at < length) return std::nullopt;
  for (size_t i = 1; i < length; ++i) {
    const auto follow = static_cast<uint8_t>(text[at + i]);
    if ((follow & 0xC0) != 0x80) return std::nullopt;
    code_point = (code_point << 6) | (follow & 0x3Fu);
  }
  // Overlong forms, surrogates and values past Unicode are not UTF-8.
  constexpr uint32_t kSmallestOfLength[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code_point < kSmallestOfLength[length] || code_point > 0x10FFFF ||
      (code_point >= 0xD800 && code_point <= 0xDFFF))
    return std::nullopt;
  at += length;
  return code_point;
}

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

std::string json_quote(std::string_view utf8_text) {
  std::string out = "\"";
  size_t at = 0;
  while (at < utf8_text.size()) {
    const size_t start = at;
    const std::optional<uint32_t> code_point = next_code_point(utf8_text, at);
    if (!code_point) {
      // Not UTF-8 (a file name from the command line, say): keep JSON valid.
      out += "\xEF\xBF\xBD";  // U+FFFD
      at = start + 1;
      continue;
    }
    switch (*code_point) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (*code_point < 0x20 || *code_point == 0x7F) {
          // Control characters only (below 0x20, and 0x7F): two hex digits.
          constexpr char kDigits[] = "0123456789abcdef";
          out += "\\u00";
          out += kDigits[(*code_point >> 4) & 0xF];
          out += kDigits[*code_point & 0xF];
        } else {
          out.append(utf8_text.substr(start, at - start));
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace varnel_tool
