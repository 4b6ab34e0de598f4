// Resources as texts a person edits, both ways: a TEXT resource as UTF-8
// with LF line ends, a string list as one UTF-8 line a string, a version
// as the vers line's parameter.  A resource is given as text only when
// that text gives back the very same bytes, so a host that stores the text
// in place of the bytes loses nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "format/mac_roman.hpp"
#include "frame/internal.hpp"
#include "writer/internal.hpp"

namespace {

namespace format = varnel::format;

constexpr char kCarriageReturn = '\r';
constexpr size_t kMaxPascalBytes = 255;
constexpr size_t kMaxStrings = 0xFFFF;

// What a conversion gives: the result, or the reason it has none.
struct Converted {
  std::string text;
  std::string problem;
};

Converted refused(std::string problem) { return {"", std::move(problem)}; }

// ---- TEXT -----------------------------------------------------------------

Converted text_resource(std::string_view utf8) {
  Converted out;
  if (!format::utf8_to_mac_roman(utf8, out.text, out.problem)) return refused(out.problem);
  for (char &c : out.text)
    if (c == '\n') c = kCarriageReturn;
  return out;
}

Converted text_of_text(std::string_view data) {
  std::string mac(data);
  for (char &c : mac)
    if (c == kCarriageReturn) c = '\n';
  return {format::mac_roman_to_utf8(mac, false), ""};
}

// ---- STR# -----------------------------------------------------------------

Converted string_list_resource(std::string_view utf8) {
  std::string strings;
  size_t count = 0;
  for (size_t start = 0; start < utf8.size();) {
    const size_t end = std::min(utf8.find('\n', start), utf8.size());
    std::string_view line = utf8.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // edited on another system
    std::string mac;
    std::string problem;
    if (!format::utf8_to_mac_roman(line, mac, problem)) return refused(problem);
    if (mac.size() > kMaxPascalBytes) {
      return refused("string " + std::to_string(count + 1) + " has " + std::to_string(mac.size()) +
                     " Macintosh characters, a Pascal string at most 255");
    }
    if (++count > kMaxStrings) return refused("more than 65535 strings");
    strings += static_cast<char>(mac.size());
    strings += mac;
    start = end + 1;
  }
  return {std::string{static_cast<char>(count >> 8), static_cast<char>(count)} + strings, ""};
}

Converted text_of_string_list(std::string_view data) {
  const char *kNotAList = "not a string list: a count and exactly that many Pascal strings without line ends";
  if (data.size() < 2) return refused(kNotAList);
  const size_t count = static_cast<size_t>(static_cast<uint8_t>(data[0])) << 8 | static_cast<uint8_t>(data[1]);
  Converted out;
  size_t at = 2;
  for (size_t i = 0; i < count; ++i) {
    if (at >= data.size() || data.size() - at - 1 < static_cast<uint8_t>(data[at])) return refused(kNotAList);
    const std::string_view text = data.substr(at + 1, static_cast<uint8_t>(data[at]));
    // A line end inside a string would make two lines of it.
    if (text.find_first_of("\r\n") != std::string_view::npos) return refused(kNotAList);
    out.text += format::mac_roman_to_utf8(text, false) + "\n";
    at += 1 + text.size();
  }
  if (at != data.size()) return refused(kNotAList);
  return out;
}

// ---- vers -----------------------------------------------------------------

Converted version_resource(std::string_view utf8) {
  std::string mac;
  std::string problem;
  if (!format::utf8_to_mac_roman(utf8, mac, problem)) return refused(problem);
  const VersParameter vers = read_vers_parameter(mac);
  if (!vers.problem.empty()) return refused(vers.problem);
  return {vers_resource_bytes(vers), ""};
}

bool has_control_characters(std::string_view text) {
  for (const char c : text)
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

char stage_letter(uint8_t stage) {
  for (const char letter : {'D', 'A', 'B', 'F'})
    if (release_stage_of(letter) == stage) return letter;
  return '\0';
}

// The line form when it can hold these bytes: single digits where the line
// has one position, texts without the '/' that ends them, nothing a line
// cannot hold and no blank at its end.
Converted text_of_version(std::string_view data) {
  const char *kNoLine = "this version has no vers line that gives back its bytes";
  const auto byte = [data](size_t at) { return static_cast<uint8_t>(data[at]); };
  if (data.size() < 8 || data.size() < 8u + byte(6)) return refused(kNoLine);
  const size_t short_length = byte(6);
  const std::string_view short_text = data.substr(7, short_length);
  const std::string_view long_text = data.substr(8 + short_length);
  const char stage = stage_letter(byte(2));
  if (byte(7 + short_length) != long_text.size() || byte(0) > 9 || byte(1) >> 4 > 9 || (byte(1) & 0x0F) > 9 ||
      stage == '\0' || byte(3) > 9 || short_text.find('/') != std::string_view::npos ||
      long_text.find('/') != std::string_view::npos || has_control_characters(short_text) ||
      has_control_characters(long_text) || (!long_text.empty() && long_text.back() == ' '))
    return refused(kNoLine);
  char numbers[32];
  std::snprintf(numbers, sizeof numbers, "%u.%u%u %c %u %u", byte(0), byte(1) >> 4, byte(1) & 0x0Fu, stage, byte(3),
                static_cast<unsigned>(byte(4) << 8 | byte(5)));
  return {format::mac_roman_to_utf8(std::string(numbers) + "/" + std::string(short_text) + "/" +
                                        std::string(long_text), false),
          ""};
}

// ---- Both ways --------------------------------------------------------------

Converted resource_of(int32_t form, std::string_view text) {
  switch (form) {
    case MACBIN_TEXT_FORM_TEXT:
      return text_resource(text);
    case MACBIN_TEXT_FORM_STRING_LIST:
      return string_list_resource(text);
    case MACBIN_TEXT_FORM_VERSION:
      return version_resource(text);
    default:
      return refused("unknown text form " + std::to_string(form));
  }
}

Converted text_of(int32_t form, std::string_view data) {
  Converted out;
  switch (form) {
    case MACBIN_TEXT_FORM_TEXT:
      out = text_of_text(data);
      break;
    case MACBIN_TEXT_FORM_STRING_LIST:
      out = text_of_string_list(data);
      break;
    case MACBIN_TEXT_FORM_VERSION:
      out = text_of_version(data);
      break;
    default:
      return refused("unknown text form " + std::to_string(form));
  }
  // Exact or nothing: the text must give back the very bytes.
  if (out.problem.empty() && resource_of(form, out.text).text != data)
    return refused("its text would not give back the same bytes (line ends or characters it cannot carry)");
  return out;
}

// Texts end with a NUL as the other text calls' do; resource data is bytes.
enum class Output { kText, kBytes };

int32_t hand_over(const char *call, const Converted &converted, Output output, void *buffer, int32_t capacity) {
  if (!converted.problem.empty()) {
    record_error(MACBIN_ERR_ARGUMENT, converted.problem.c_str());
    return -1;
  }
  if (converted.text.size() > INT32_MAX) {
    record_error(MACBIN_ERR_LIMIT, (std::string(call) + ": result too long").c_str());
    return -1;
  }
  if (output == Output::kText) return copy_text_out(converted.text, static_cast<char *>(buffer), capacity);
  if (capacity > 0)
    std::memcpy(buffer, converted.text.data(), std::min(converted.text.size(), static_cast<size_t>(capacity)));
  return static_cast<int32_t>(converted.text.size());
}

template <typename Convert>
int32_t convert_call(const char *call, const void *input, int32_t length, Output output, void *buffer,
                     int32_t capacity, Convert convert) {
  if (length < 0 || (input == nullptr && length > 0) || capacity < 0 || (buffer == nullptr && capacity > 0)) {
    record_error(MACBIN_ERR_ARGUMENT, (std::string(call) + ": a negative length or capacity, or no bytes for "
                                                            "a length or a capacity")
                                          .c_str());
    return -1;
  }
  try {
    const std::string_view bytes(static_cast<const char *>(input != nullptr ? input : ""), static_cast<size_t>(length));
    return hand_over(call, convert(bytes), output, buffer, capacity);
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (converting a resource's text)");
    return -1;
  }
}

}  // namespace

extern "C" {

int32_t MacBin_ResourceToText(int32_t form, const void *data, int32_t length, char *buffer, int32_t capacity) {
  return convert_call("MacBin_ResourceToText", data, length, Output::kText, buffer, capacity,
                      [form](std::string_view bytes) { return text_of(form, bytes); });
}

int32_t MacBin_TextToResource(int32_t form, const char *text, int32_t length, void *buffer, int32_t capacity) {
  return convert_call("MacBin_TextToResource", text, length, Output::kBytes, buffer, capacity,
                      [form](std::string_view utf8) { return resource_of(form, utf8); });
}

}  // extern "C"
