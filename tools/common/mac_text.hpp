// Macintosh texts (names, type codes, version strings) are MacRoman bytes;
// the tool reads and prints UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnel_tool {

// MacRoman bytes as UTF-8.  Control characters become U+FFFD when
// `replace_controls` is set (for terminal listings).
std::string mac_roman_to_utf8(std::string_view mac_text, bool replace_controls = false);

// UTF-8 as MacRoman; nothing when the text is not valid UTF-8 or holds a
// character MacRoman lacks.
std::optional<std::string> utf8_to_mac_roman(std::string_view utf8_text);

// As utf8_to_mac_roman; when the text cannot be converted, `problem` names
// the first obstacle: the character MacRoman lacks, with its code point
// ("'✓' (U+2713) is not a Macintosh character"), or the byte that is
// not UTF-8.
std::optional<std::string> utf8_to_mac_roman(std::string_view utf8_text, std::string &problem);

// The longest start of a UTF-8 text that fits `limit` bytes without
// ending inside a character.
std::string utf8_prefix(const std::string &text, size_t limit);

// A JSON string literal (quotes included) of the UTF-8 form of a MacRoman
// text (mac_roman_to_utf8's result).
std::string json_quote(std::string_view utf8_text);

// The library's names of the set bits of Finder flags ("hasBundle", ...,
// "color=N") and of a resource's attribute byte ("sysHeap", ...), one
// string each, high bit first.
std::vector<std::string> finder_flag_names(uint16_t flags);
std::vector<std::string> resource_attribute_names(int32_t attributes);

// A Macintosh date as "2026-12-07T01:43:29Z" (taken as UTC); nothing for
// 0, which writers store for "not known".
std::optional<std::string> mac_date_text(uint32_t seconds);

}  // namespace varnel_tool
