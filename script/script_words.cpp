// The words of a script's lines and the names of the files beside it, and
// the calls that offer them to hosts.
#include <cstdio>
#include <string>

#include "format/mac_roman.hpp"
#include "frame/internal.hpp"
#include "script/internal.hpp"

namespace varnel::script {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr int kTypeBytes = 4;

bool is_control(uint32_t code_point) { return code_point < 0x20 || code_point == 0x7F; }

// Characters a file name keeps as they are; every other byte is %XX.
bool plain_in_file_name(unsigned char byte) {
  return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || byte == '#' ||
         byte == '-' || byte == '_' || byte == '!' || byte == '@' || byte == '+';
}

}  // namespace

std::string quote_word(std::string_view word) {
  if (word.empty()) return "\"\"";
  // A first word that starts with ';' or '%' would make a comment or a header line.
  if (word.find_first_of(" \t\"") == std::string_view::npos && word[0] != ';' && word[0] != '%')
    return std::string(word);
  // Backslashes at the end stay outside the quotes (inside, the last one
  // would escape the closing quote).
  const size_t body_end = word.find_last_not_of('\\') + 1;
  std::string out = "\"";
  for (size_t i = 0; i < body_end; ++i) {
    if (word[i] == '"') out += '\\';
    out += word[i];
  }
  out += '"';
  out += word.substr(body_end);
  return out;
}

std::string resource_file_name(std::string_view type, int32_t id, int32_t occurrence) {
  std::string name;
  for (const char c : type) {
    const auto byte = static_cast<unsigned char>(c);
    if (plain_in_file_name(byte)) {
      name += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned>(byte));
      name += escaped;
    }
  }
  name += "." + std::to_string(id);
  if (occurrence > 1) name += "." + std::to_string(occurrence);
  return name;
}

std::string one_line(std::string_view text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    uint32_t code_point = 0;
    if (!format::next_code_point(text, at, code_point)) {
      ++at;  // a byte that is not UTF-8
      code_point = kReplacement;
    }
    format::append_utf8(out, is_control(code_point) ? kReplacement : code_point);
  }
  return out;
}

}  // namespace varnel::script

extern "C" {

int32_t MacBin_QuoteWord(const char *word, char *buffer, int32_t capacity) {
  if (word == nullptr || !is_valid_text_buffer(buffer, capacity)) {
    record_error(MACBIN_ERR_ARGUMENT, "MacBin_QuoteWord: no word, or a buffer that does not match its capacity");
    return -1;
  }
  try {
    return copy_text_out(varnel::script::quote_word(word), buffer, capacity);
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (quoting a word)");
    return -1;
  }
}

int32_t MacBin_ResourceFileName(const char type[4], int32_t id, int32_t occurrence, char *buffer, int32_t capacity) {
  if (type == nullptr || occurrence < 1 || !is_valid_text_buffer(buffer, capacity)) {
    record_error(MACBIN_ERR_ARGUMENT,
                 "MacBin_ResourceFileName: no type, an occurrence below 1, or a buffer that does not match its "
                 "capacity");
    return -1;
  }
  try {
    return copy_text_out(
        varnel::script::resource_file_name(std::string_view(type, varnel::script::kTypeBytes), id, occurrence), buffer,
        capacity);
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (naming a resource's file)");
    return -1;
  }
}

}  // extern "C"
