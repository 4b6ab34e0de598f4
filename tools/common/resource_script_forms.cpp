#include "common/resource_script_forms.hpp"

#include <cstdio>

#include "varnel.h"

namespace varnel_tool {
namespace {

// The attribute bits with names that a script writes as names.
constexpr int32_t kNamedBits = 0x7E;

}  // namespace

std::string line_word(const std::string &word) {
  if (word.empty()) return "\"\"";
  // A first word that starts with ';' or '%' would make a comment or a header line.
  if (word.find_first_of(" \t\"") == std::string::npos && word[0] != ';' && word[0] != '%') return word;
  // Backslashes at the end stay outside the quotes (inside, the last one
  // would escape the closing quote).
  const size_t body_end = word.find_last_not_of('\\') + 1;
  std::string out = "\"";
  for (size_t i = 0; i < body_end; ++i) out += word[i] == '"' ? std::string("\\\"") : std::string(1, word[i]);
  return out + "\"" + word.substr(body_end);
}

std::string attributes_text(int32_t attributes) {
  // No bit set (real files have such resources) and bits without a name,
  // the compressed bit among them, are written as the number.
  if (attributes == 0 || (attributes & ~kNamedBits) != 0) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(attributes & 0xFF));
    return text;
  }
  char names[128];
  MacBin_AttributeNames(attributes, names, sizeof names);
  return names;
}

std::optional<std::string> resource_text(int32_t form, std::span<const uint8_t> data) {
  const auto length = static_cast<int32_t>(data.size());
  const int32_t needed = MacBin_ResourceToText(form, data.data(), length, nullptr, 0);
  if (needed < 0) return std::nullopt;
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  MacBin_ResourceToText(form, data.data(), length, text.data(), needed + 1);
  text.resize(static_cast<size_t>(needed));
  return text;
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
