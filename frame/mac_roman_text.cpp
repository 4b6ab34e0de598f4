// MacRoman text for hosts: the entry points over the format layer's
// conversions, which give their reasons as the thread's last error.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "format/mac_roman.hpp"
#include "frame/internal.hpp"
#include "varnel.h"

bool is_valid_text_buffer(const char *buffer, int32_t capacity) {
  return capacity >= 0 && (buffer != nullptr || capacity == 0);
}

int32_t copy_text_out(std::string_view text, char *buffer, int32_t capacity) {
  if (capacity > 0) {
    const size_t copied = std::min(text.size(), static_cast<size_t>(capacity) - 1);
    if (copied > 0) std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
  }
  return static_cast<int32_t>(text.size());
}

extern "C" {

int32_t MacBin_UTF8ToMacRoman(const char *utf8, char *buffer, int32_t capacity) {
  if (utf8 == nullptr || !is_valid_text_buffer(buffer, capacity)) {
    record_error(MACBIN_ERR_ARGUMENT, "MacBin_UTF8ToMacRoman: no text, or a buffer that does not match its capacity");
    return -1;
  }
  try {
    std::string mac;
    std::string problem;
    const std::string_view text(utf8);
    if (text.size() > INT32_MAX || !varnel::format::utf8_to_mac_roman(text, mac, problem)) {
      record_error(MACBIN_ERR_ARGUMENT, problem.empty() ? "text too long" : problem.c_str());
      return -1;
    }
    return copy_text_out(mac, buffer, capacity);
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (converting text)");
    return -1;
  }
}

int32_t MacBin_MacRomanToUTF8(const char *mac_text, int32_t length, int32_t replace_controls, char *buffer,
                              int32_t capacity) {
  if (length < 0 || (mac_text == nullptr && length > 0) || !is_valid_text_buffer(buffer, capacity)) {
    record_error(MACBIN_ERR_ARGUMENT,
                 "MacBin_MacRomanToUTF8: a negative length, no text for a length, or a buffer that does not "
                 "match its capacity");
    return -1;
  }
  try {
    const std::string utf8 = varnel::format::mac_roman_to_utf8(
        std::string_view(mac_text != nullptr ? mac_text : "", static_cast<size_t>(length)), replace_controls != 0);
    // Three UTF-8 bytes a character at most: a 32-bit length keeps the count.
    if (utf8.size() > INT32_MAX) {
      record_error(MACBIN_ERR_LIMIT, "MacBin_MacRomanToUTF8: text too long");
      return -1;
    }
    return copy_text_out(utf8, buffer, capacity);
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (converting text)");
    return -1;
  }
}

}  // extern "C"
