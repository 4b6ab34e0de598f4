#include "common/resource_script_forms.hpp"

#include "varnel.h"

namespace varnel_tool {

std::string line_word(const std::string &word) {
  std::vector<char> quoted(2 * word.size() + 3);  // every character escaped, and the quotes
  MacBin_QuoteWord(word.c_str(), quoted.data(), static_cast<int32_t>(quoted.size()));
  return quoted.data();
}

std::optional<std::vector<uint8_t>> resource_from_text(int32_t form, const std::string &text, std::string &problem) {
  const auto length = static_cast<int32_t>(text.size());
  const int32_t needed = MacBin_TextToResource(form, text.data(), length, nullptr, 0);
  if (needed < 0) {
    const char *reason = "";
    MacBin_LastError(&reason);
    problem = reason;
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(needed));
  MacBin_TextToResource(form, text.data(), length, bytes.data(), needed);
  return bytes;
}

}  // namespace varnel_tool
