// MacRoman, the character set of the names, codes and strings the files
// hold, and its conversions to and from UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnel::format {

// Unicode code points of the MacRoman bytes 0x80 to 0xFF.
extern const std::array<uint16_t, 128> kMacRomanHigh;

// MacRoman bytes as UTF-8; every byte has a character.  Control characters
// (0x00 to 0x1F, 0x7F) become U+FFFD when `replace_controls` is set.
std::string mac_roman_to_utf8(std::string_view mac_text, bool replace_controls);

// UTF-8 as MacRoman into `out`, letters with combining accents composed
// first.  False, with `problem` naming the first obstacle (the byte that is
// not UTF-8 with its position from 1, or the character MacRoman lacks with
// its code point), when the text cannot be converted.
bool utf8_to_mac_roman(std::string_view utf8_text, std::string &out, std::string &problem);

// One UTF-8 character at `at`, moving `at` past it; false (at unchanged)
// for a malformed, overlong or surrogate sequence or one past U+10FFFF.
bool next_code_point(std::string_view text, size_t &at, uint32_t &code_point);

void append_utf8(std::string &out, uint32_t code_point);

}  // namespace varnel::format
