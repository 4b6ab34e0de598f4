// Finder flag and attribute names, and dates as text, for hosts: the entry
// points over the format layer, which give their reasons as the thread's
// last error.
#include <cstdint>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "format/flag_names.hpp"
#include "format/mac_dates.hpp"
#include "frame/internal.hpp"
#include "varnel.h"

namespace {

constexpr int32_t kMostFinderFlags = 0xFFFF;
constexpr int32_t kMostAttributes = 0xFF;

// The names of `value` when it and the buffer are fine; -1 after recording
// why not.
template <typename Names>
int32_t names_out(const char *call, int32_t value, int32_t most, Names names, char *buffer, int32_t capacity) {
  if (value < 0 || value > most || !is_valid_text_buffer(buffer, capacity)) {
    record_error(MACBIN_ERR_ARGUMENT, (std::string(call) + ": a value outside 0 to " + std::to_string(most) +
                                       ", or a buffer that does not match its capacity")
                                          .c_str());
    return -1;
  }
  try {
    return copy_text_out(names(value), buffer, capacity);
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (naming bits)");
    return -1;
  }
}

// What a text-reading call says: its name, what `out` holds, what the
// text is, the form it must have, and what it was reading when memory ran out.
struct Reading {
  const char *call;
  const char *place;
  const char *subject;
  const char *form;
  const char *reading;
};

// Reads `text` with `parse` into `*out`, which a refusal leaves as it was.
template <typename Out, typename Parse>
int32_t parse_into(const Reading &reading, const char *text, Out *out, Parse parse) {
  if (text == nullptr || out == nullptr) {
    const std::string reason = std::string(reading.call) + ": no text or no place for " + reading.place;
    record_error(MACBIN_ERR_ARGUMENT, reason.c_str());
    return MACBIN_ERR_ARGUMENT;
  }
  try {
    const auto parsed = parse(text);
    if (!parsed) {
      const std::string reason = std::string(reading.subject) + " '" + text + "' " + reading.form;
      record_error(MACBIN_ERR_ARGUMENT, reason.c_str());
      return MACBIN_ERR_ARGUMENT;
    }
    *out = *parsed;
    return MACBIN_ERR_NONE;
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, (std::string("Out Of Memory (reading ") + reading.reading + ")").c_str());
    return MACBIN_ERR_MEMORY;
  }
}

}  // namespace

extern "C" {

int32_t MacBin_FinderFlagNames(int32_t flags, char *buffer, int32_t capacity) {
  const auto names = [](int32_t value) { return varnel::format::finder_flag_names(static_cast<uint16_t>(value)); };
  return names_out("MacBin_FinderFlagNames", flags, kMostFinderFlags, names, buffer, capacity);
}

int32_t MacBin_AttributeNames(int32_t attributes, char *buffer, int32_t capacity) {
  const auto names = [](int32_t value) { return varnel::format::attribute_names(static_cast<uint8_t>(value)); };
  return names_out("MacBin_AttributeNames", attributes, kMostAttributes, names, buffer, capacity);
}

int32_t MacBin_ParseAttributes(const char *text, int32_t *attributes) {
  const Reading reading{"MacBin_ParseAttributes", "the attributes", "resource attributes",
                        "must be names joined by ',' (sysHeap, purgeable, locked, protected, preload, changed, "
                        "compressed) or a number from 0 to 255, e.g. 0x58",
                        "attribute names"};
  return parse_into(reading, text, attributes, varnel::format::parse_attribute_names);
}

int32_t MacBin_FormatDate(uint32_t seconds, char text[MACBIN_DATE_TEXT_BYTES]) {
  if (text == nullptr) {
    record_error(MACBIN_ERR_ARGUMENT, "MacBin_FormatDate: no place for the text");
    return -1;
  }
  try {
    return copy_text_out(varnel::format::mac_date_text(seconds).value_or(""), text, MACBIN_DATE_TEXT_BYTES);
  } catch (...) {
    text[0] = '\0';
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (writing a date)");
    return -1;
  }
}

int32_t MacBin_ParseDate(const char *text, uint32_t *seconds) {
  const Reading reading{"MacBin_ParseDate", "the date", "date",
                        "must be like 2026-12-07T01:43:29Z (UTC, 1904 to 2040) or seconds since 1904", "a date"};
  return parse_into(reading, text, seconds, varnel::format::parse_mac_date);
}

uint32_t MacBin_DateNow(void) {
  // Worked out in 64 bits: the sum passes the signed 32-bit range; the
  // date keeps its low 32 bits, as the files do.
  const auto unix_seconds = static_cast<int64_t>(std::time(nullptr));
  return static_cast<uint32_t>(static_cast<uint64_t>(unix_seconds + varnel::format::kSeconds1904To1970));
}

}  // extern "C"
