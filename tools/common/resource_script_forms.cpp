#include "common/resource_script_forms.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "common/mac_text.hpp"
#include "varnel.h"

namespace varnel_tool {
namespace {

// The attribute bits with names that a script writes as names.
constexpr int32_t kNamedBits = 0x7E;
constexpr uint8_t kCarriageReturn = 0x0D;
constexpr size_t kMaxPascalBytes = 255;

// The release stages of a version and their letters in the line form.
constexpr std::array<std::pair<uint8_t, char>, 4> kReleaseStages = {{{0x20, 'D'}, {0x40, 'A'}, {0x60, 'B'}, {0x80, 'F'}}};

// What the line form stores: the fixed positions read one digit each (the
// major version, minor, bug fix, pre-release revision), the region as a
// decimal number, then the two texts as Pascal strings.
std::vector<uint8_t> vers_line_bytes(const std::string &mac_line) {
  const auto digit = [&mac_line](size_t at) {
    return at < mac_line.size() ? static_cast<uint8_t>(mac_line[at] - '0') : uint8_t{0};
  };
  std::vector<uint8_t> bytes = {digit(0), static_cast<uint8_t>(digit(2) * 16 + digit(3)), 0, digit(7)};
  for (const auto &[stage, letter] : kReleaseStages)
    if (mac_line.size() > 5 && mac_line[5] == letter) bytes[2] = stage;
  const long region = mac_line.size() > 9 ? std::strtol(mac_line.c_str() + 9, nullptr, 10) : 0;
  bytes.push_back(static_cast<uint8_t>(region >> 8));
  bytes.push_back(static_cast<uint8_t>(region));
  const size_t first = mac_line.find('/', 10);
  const size_t second = first == std::string::npos ? first : mac_line.find('/', first + 1);
  if (second == std::string::npos) return {};
  for (const std::string &text : {mac_line.substr(first + 1, second - first - 1), mac_line.substr(second + 1)}) {
    if (text.size() > kMaxPascalBytes) return {};
    bytes.push_back(static_cast<uint8_t>(text.size()));
    bytes.insert(bytes.end(), text.begin(), text.end());
  }
  return bytes;
}

bool has_control_characters(const std::string &text) {
  for (const char c : text)
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

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

std::optional<std::string> vers_line_text(std::span<const uint8_t> data) {
  if (data.size() < 8) return std::nullopt;
  const size_t short_length = data[6];
  if (data.size() < 8 + short_length) return std::nullopt;
  const size_t long_length = data[7 + short_length];
  if (data.size() != 8 + short_length + long_length) return std::nullopt;
  const std::string short_text(data.begin() + 7, data.begin() + 7 + static_cast<std::ptrdiff_t>(short_length));
  const std::string long_text(data.begin() + 8 + static_cast<std::ptrdiff_t>(short_length), data.end());
  char stage = '\0';
  for (const auto &[value, letter] : kReleaseStages)
    if (data[2] == value) stage = letter;
  // Single digits where the line has one position; texts without the '/'
  // that ends them, nothing a line cannot hold, no blank at the line's end.
  if (data[0] > 9 || data[1] >> 4 > 9 || (data[1] & 0x0F) > 9 || stage == '\0' || data[3] > 9 ||
      (short_text + long_text).find('/') != std::string::npos || has_control_characters(short_text + long_text) ||
      (!long_text.empty() && long_text.back() == ' '))
    return std::nullopt;
  char numbers[32];
  std::snprintf(numbers, sizeof numbers, "%u.%u%u %c %u %u", static_cast<unsigned>(data[0]),
                static_cast<unsigned>(data[1] >> 4), static_cast<unsigned>(data[1] & 0x0F), stage,
                static_cast<unsigned>(data[3]), static_cast<unsigned>(data[4] << 8 | data[5]));
  const std::string mac_line = std::string(numbers) + "/" + short_text + "/" + long_text;
  // Encoded back as the writer reads the line, the bytes must be the same.
  if (vers_line_bytes(mac_line) != std::vector<uint8_t>(data.begin(), data.end())) return std::nullopt;
  const std::string text = mac_roman_to_utf8(mac_line);
  if (utf8_to_mac_roman(text) != mac_line) return std::nullopt;
  return text;
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

std::string text_file_contents(std::span<const uint8_t> mac_text) {
  std::string mac(mac_text.begin(), mac_text.end());
  for (char &c : mac)
    if (static_cast<uint8_t>(c) == kCarriageReturn) c = '\n';
  return mac_roman_to_utf8(mac);
}

std::optional<std::vector<uint8_t>> text_file_bytes(const std::string &utf8, std::string &problem) {
  const std::optional<std::string> mac = utf8_to_mac_roman(utf8, problem);
  if (!mac) return std::nullopt;
  std::vector<uint8_t> bytes(mac->begin(), mac->end());
  for (uint8_t &byte : bytes)
    if (byte == '\n') byte = kCarriageReturn;
  return bytes;
}

std::optional<std::string> string_list_contents(std::span<const uint8_t> data) {
  if (data.size() < 2) return std::nullopt;
  const size_t count = static_cast<size_t>(data[0]) << 8 | data[1];
  size_t at = 2;
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    if (at >= data.size() || data.size() - at - 1 < data[at]) return std::nullopt;
    const size_t length = data[at];
    const std::string text(data.begin() + static_cast<std::ptrdiff_t>(at + 1),
                           data.begin() + static_cast<std::ptrdiff_t>(at + 1 + length));
    // A line end inside a string would make two lines of it.
    if (text.find_first_of("\r\n") != std::string::npos) return std::nullopt;
    out += mac_roman_to_utf8(text) + "\n";
    at += 1 + length;
  }
  if (at != data.size()) return std::nullopt;
  return out;
}

std::optional<std::vector<uint8_t>> string_list_bytes(const std::string &utf8, std::string &problem) {
  std::vector<std::string> strings;
  size_t start = 0;
  while (start < utf8.size()) {
    const size_t end = utf8.find('\n', start);
    std::string line = utf8.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();  // edited on another system
    strings.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (strings.size() > 0xFFFF) {
    problem = "more than 65535 strings";
    return std::nullopt;
  }
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(strings.size() >> 8), static_cast<uint8_t>(strings.size())};
  for (size_t i = 0; i < strings.size(); ++i) {
    const std::optional<std::string> mac = utf8_to_mac_roman(strings[i], problem);
    if (!mac) return std::nullopt;
    if (mac->size() > kMaxPascalBytes) {
      problem = "string " + std::to_string(i + 1) + " has " + std::to_string(mac->size()) +
                " Macintosh characters, a Pascal string at most 255";
      return std::nullopt;
    }
    bytes.push_back(static_cast<uint8_t>(mac->size()));
    bytes.insert(bytes.end(), mac->begin(), mac->end());
  }
  return bytes;
}

}  // namespace varnel_tool
