// The readable forms of resources in a resource script: the attribute byte
// as names ("protected,preload"), and through the library a TEXT resource
// as a UTF-8 file, a string list ('STR#') as a UTF-8 file of one string
// per line, a version as its line.  Extract chooses a readable form only
// when encoding it back gives the same bytes, so a script always rebuilds
// the file it came from.
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

// A resource in the library's text form (MACBIN_TEXT_FORM_TEXT, _STRING_LIST
// or _VERSION), only when that text gives back the same bytes; nothing
// otherwise.
std::optional<std::string> resource_text(int32_t form, std::span<const uint8_t> data);
// Such a text back to the resource; nothing, with `problem` set, when it
// cannot make one.
std::optional<std::vector<uint8_t>> resource_from_text(int32_t form, const std::string &text, std::string &problem);

}  // namespace varnel_tool
