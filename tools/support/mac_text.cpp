#include "support/mac_text.hpp"

#include <array>
#include <cstdint>
#include <cstdio>

namespace varnel_tool {
namespace {

// Unicode code points of the MacRoman bytes 0x80 to 0xFF.
constexpr std::array<uint16_t, 128> kMacRomanHigh = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4,
    0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF,
    0x00F1, 0x00F3, 0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020,
    0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4,
    0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202,
    0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1,
    0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3,
    0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A,
    0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC,
    0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC, 0x00AF,
    0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};

void append_utf8(std::string &out, uint32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

// Decodes one UTF-8 character at `at`; nothing for a malformed sequence.
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
  constexpr std::array<uint32_t, 5> kSmallestOfLength = {0, 0, 0x80, 0x800, 0x10000};
  if (code_point < kSmallestOfLength[length] || code_point > 0x10FFFF ||
      (code_point >= 0xD800 && code_point <= 0xDFFF))
    return std::nullopt;
  at += length;
  return code_point;
}

}  // namespace

std::string mac_roman_to_utf8(std::string_view mac_text, bool replace_controls) {
  std::string out;
  out.reserve(mac_text.size());
  for (char c : mac_text) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte >= 0x80)
      append_utf8(out, kMacRomanHigh[byte - 0x80u]);
    else if (replace_controls && (byte < 0x20 || byte == 0x7F))
      append_utf8(out, 0xFFFD);
    else
      out += c;
  }
  return out;
}

std::optional<std::string> utf8_to_mac_roman(std::string_view utf8_text) {
  std::string problem;
  return utf8_to_mac_roman(utf8_text, problem);
}

std::optional<std::string> utf8_to_mac_roman(std::string_view utf8_text, std::string &problem) {
  std::string out;
  size_t at = 0;
  while (at < utf8_text.size()) {
    const size_t start = at;
    const std::optional<uint32_t> code_point = next_code_point(utf8_text, at);
    if (!code_point) {
      constexpr char kDigits[] = "0123456789ABCDEF";
      const auto byte = static_cast<uint8_t>(utf8_text[start]);
      problem = std::string("byte 0x") + kDigits[byte >> 4] + kDigits[byte & 0xF] + " at position " +
                std::to_string(start + 1) + " is not UTF-8";
      return std::nullopt;
    }
    if (*code_point < 0x80) {
      out += static_cast<char>(*code_point);
      continue;
    }
    bool found = false;
    for (size_t i = 0; i < kMacRomanHigh.size() && !found; ++i) {
      if (kMacRomanHigh[i] == *code_point) {
        out += static_cast<char>(0x80 + i);
        found = true;
      }
    }
    if (!found) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(*code_point));
      problem = "'" + std::string(utf8_text.substr(start, at - start)) + "' (" + code +
                ") is not a Macintosh (MacRoman) character";
      return std::nullopt;
    }
  }
  return out;
}

std::string json_quote(std::string_view utf8_text) {
  std::string out = "\"";
  size_t at = 0;
  while (at < utf8_text.size()) {
    const size_t start = at;
    const std::optional<uint32_t> code_point = next_code_point(utf8_text, at);
    if (!code_point) {
      // Not UTF-8 (a file name from the command line, say): keep JSON valid.
      append_utf8(out, 0xFFFD);
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
