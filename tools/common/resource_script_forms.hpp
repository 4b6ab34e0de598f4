// The readable forms of resources in a resource script, both ways: the
// attribute byte as names ("protected,preload"), a TEXT resource as a UTF-8
// file, a string list ('STR#') as a UTF-8 file of one string per line.
// Extract chooses a readable form only when encoding it back gives the
// same bytes, so a script always rebuilds the file it came from.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varnel_tool {

// A word of a resource line written so that the library's splitter gives
// it back unchanged: bare when it can be, else quoted, with \" for a quote.
std::string line_word(const std::string &word);

// "(protected,preload)"-style text without the parentheses: the names
// (sysHeap, purgeable, locked, protected, preload, changed) joined by ",",
// or "0x81" when a bit without a name is set; "" for none.
std::string attributes_text(int32_t attributes);

// TEXT: MacRoman with CR line ends, shown as UTF-8 with LF line ends.
std::string text_file_contents(std::span<const uint8_t> mac_text);
// UTF-8 back to MacRoman; nothing (with `problem` set) when a character is
// not in MacRoman.
std::optional<std::vector<uint8_t>> text_file_bytes(const std::string &utf8, std::string &problem);

// 'STR#': a count word and that many Pascal strings, as UTF-8 lines (each
// ending in LF); nothing when the data is not exactly such a list.
std::optional<std::string> string_list_contents(std::span<const uint8_t> data);
// One string per line back to a list; nothing (with `problem` set) for a
// character not in MacRoman or a string of more than 255 bytes.
std::optional<std::vector<uint8_t>> string_list_bytes(const std::string &utf8, std::string &problem);

// vers in its line form, "M.mb S R REGION/short/long" (UTF-8), when the
// line gives back exactly these bytes; nothing otherwise.
std::optional<std::string> vers_line_text(std::span<const uint8_t> data);

}  // namespace varnel_tool
