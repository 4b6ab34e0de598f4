#include "format/mac_roman.hpp"

#include <cstdio>
#include <vector>

namespace varnel::format {

const std::array<uint16_t, 128> kMacRomanHigh = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 0x80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 0x88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 0x90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 0x98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // 0xA0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,  // 0xA8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,  // 0xB0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,  // 0xB8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,  // 0xC0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // 0xC8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,  // 0xD0
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,  // 0xD8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // 0xE0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // 0xE8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // 0xF0 (0xF0: private use)
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // 0xF8
};

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

// A letter and the combining mark after it that MacRoman holds as one
// character: decomposed text (a name from a file system that stores it so)
// composes into these before conversion.
struct Composition {
  uint16_t base;
  uint16_t mark;
  uint16_t composed;
};
constexpr Composition kCompositions[] = {
    {'A', 0x0300, 0x00C0}, {'E', 0x0300, 0x00C8}, {'I', 0x0300, 0x00CC}, {'O', 0x0300, 0x00D2},
    {'U', 0x0300, 0x00D9}, {'a', 0x0300, 0x00E0}, {'e', 0x0300, 0x00E8}, {'i', 0x0300, 0x00EC},
    {'o', 0x0300, 0x00F2}, {'u', 0x0300, 0x00F9},  // grave
    {'A', 0x0301, 0x00C1}, {'E', 0x0301, 0x00C9}, {'I', 0x0301, 0x00CD}, {'O', 0x0301, 0x00D3},
    {'U', 0x0301, 0x00DA}, {'a', 0x0301, 0x00E1}, {'e', 0x0301, 0x00E9}, {'i', 0x0301, 0x00ED},
    {'o', 0x0301, 0x00F3}, {'u', 0x0301, 0x00FA},  // acute
    {'A', 0x0302, 0x00C2}, {'E', 0x0302, 0x00CA}, {'I', 0x0302, 0x00CE}, {'O', 0x0302, 0x00D4},
    {'U', 0x0302, 0x00DB}, {'a', 0x0302, 0x00E2}, {'e', 0x0302, 0x00EA}, {'i', 0x0302, 0x00EE},
    {'o', 0x0302, 0x00F4}, {'u', 0x0302, 0x00FB},  // circumflex
    {'A', 0x0303, 0x00C3}, {'N', 0x0303, 0x00D1}, {'O', 0x0303, 0x00D5}, {'a', 0x0303, 0x00E3},
    {'n', 0x0303, 0x00F1}, {'o', 0x0303, 0x00F5},  // tilde
    {'A', 0x0308, 0x00C4}, {'E', 0x0308, 0x00CB}, {'I', 0x0308, 0x00CF}, {'O', 0x0308, 0x00D6},
    {'U', 0x0308, 0x00DC}, {'Y', 0x0308, 0x0178}, {'a', 0x0308, 0x00E4}, {'e', 0x0308, 0x00EB},
    {'i', 0x0308, 0x00EF}, {'o', 0x0308, 0x00F6}, {'u', 0x0308, 0x00FC}, {'y', 0x0308, 0x00FF},  // diaeresis
    {'A', 0x030A, 0x00C5}, {'a', 0x030A, 0x00E5},  // ring
    {'C', 0x0327, 0x00C7}, {'c', 0x0327, 0x00E7},  // cedilla
    {'=', 0x0338, 0x2260},                         // not equal
};

// Characters that composition replaces by another (Unicode's singletons),
// where MacRoman holds the other: the ohm and angstrom signs, say.
struct Singleton {
  uint16_t given;
  uint16_t canonical;
};
constexpr Singleton kSingletons[] = {
    {0x037E, ';'},    {0x0387, 0x00B7}, {0x1FEF, '`'},    {0x1FFD, 0x00B4},
    {0x2126, 0x03A9}, {0x212A, 'K'},    {0x212B, 0x00C5},
};

uint32_t composed(uint32_t base, uint32_t mark) {
  for (const Composition &each : kCompositions)
    if (each.base == base && each.mark == mark) return each.composed;
  return 0;
}

uint32_t canonical(uint32_t code_point) {
  for (const Singleton &each : kSingletons)
    if (each.given == code_point) return each.canonical;
  return code_point;
}

// The MacRoman byte of a code point, or -1 when MacRoman lacks it.
int mac_roman_byte(uint32_t code_point) {
  if (code_point < 0x80) return static_cast<int>(code_point);
  for (size_t i = 0; i < kMacRomanHigh.size(); ++i)
    if (kMacRomanHigh[i] == code_point) return static_cast<int>(0x80 + i);
  return -1;
}

// A decoded character and where its bytes lie in the text.
struct Character {
  uint32_t code_point;
  size_t start;
  size_t end;
};

}  // namespace

void append_utf8(std::string &out, uint32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

bool next_code_point(std::string_view text, size_t &at, uint32_t &code_point) {
  const auto lead = static_cast<uint8_t>(text[at]);
  size_t length = 0;
  uint32_t value = 0;
  if (lead < 0x80) {
    ++at;
    code_point = lead;
    return true;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1Fu;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0Fu;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07u;
  } else {
    return false;
  }
  if (text.size() - at < length) return false;
  for (size_t i = 1; i < length; ++i) {
    const auto follow = static_cast<uint8_t>(text[at + i]);
    if ((follow & 0xC0) != 0x80) return false;
    value = (value << 6) | (follow & 0x3Fu);
  }
  // Overlong forms, surrogates and values past Unicode are not UTF-8.
  constexpr std::array<uint32_t, 5> kSmallestOfLength = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallestOfLength[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    return false;
  at += length;
  code_point = value;
  return true;
}

std::string mac_roman_to_utf8(std::string_view mac_text, bool replace_controls) {
  std::string out;
  out.reserve(mac_text.size());
  for (const char c : mac_text) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte >= 0x80)
      append_utf8(out, kMacRomanHigh[byte - 0x80u]);
    else if (replace_controls && (byte < 0x20 || byte == 0x7F))
      append_utf8(out, kReplacementCharacter);
    else
      out += c;
  }
  return out;
}

bool utf8_to_mac_roman(std::string_view utf8_text, std::string &out, std::string &problem) {
  std::vector<Character> characters;
  characters.reserve(utf8_text.size());
  for (size_t at = 0; at < utf8_text.size();) {
    const size_t start = at;
    uint32_t code_point = 0;
    if (!next_code_point(utf8_text, at, code_point)) {
      char text[64];
      std::snprintf(text, sizeof text, "byte 0x%02X at position %zu is not UTF-8",
                    static_cast<unsigned>(static_cast<uint8_t>(utf8_text[start])), start + 1);
      problem = text;
      return false;
    }
    // A combining mark joins the letter before it when MacRoman holds the pair.
    if (!characters.empty()) {
      Character &previous = characters.back();
      if (const uint32_t pair = composed(previous.code_point, code_point); pair != 0) {
        previous.code_point = pair;
        previous.end = at;
        continue;
      }
    }
    characters.push_back({canonical(code_point), start, at});
  }
  std::string converted;
  converted.reserve(characters.size());
  for (const Character &each : characters) {
    const int byte = mac_roman_byte(each.code_point);
    if (byte < 0) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(each.code_point));
      problem = "'" + std::string(utf8_text.substr(each.start, each.end - each.start)) + "' (" + code +
                ") is not a Macintosh (MacRoman) character";
      return false;
    }
    converted += static_cast<char>(byte);
  }
  out = std::move(converted);
  return true;
}

}  // namespace varnel::format
