// The words and texts of the resource lines pack reads, through the
// library: a word quoted as the line splitter reads it back, and a
// resource made from its readable text (a TEXT resource from a UTF-8 file,
// a string list from one string per line).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnel_tool {

// A word of a resource line written so that the library's splitter gives
// it back unchanged (MacBin_QuoteWord).
std::string line_word(const std::string &word);

// A text in the library's text form (MACBIN_TEXT_FORM_TEXT, _STRING_LIST)
// back to the resource; nothing, with `problem` set, when it cannot make one.
std::optional<std::vector<uint8_t>> resource_from_text(int32_t form, const std::string &text, std::string &problem);

}  // namespace varnel_tool
