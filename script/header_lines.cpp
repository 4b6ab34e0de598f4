// A script's header lines ("%KEYWORD VALUE"): the file's codes, name,
// Finder flags, dates and data fork, and what makes packing give the very
// same file (the container, no Finder resources added, the map's
// attributes, the whole Finder information).
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "frame/internal.hpp"
#include "script/internal.hpp"

static_assert(sizeof(MacBinScriptHeader) == 4312);
static_assert(offsetof(MacBinScriptHeader, format) == 16);
static_assert(offsetof(MacBinScriptHeader, finder_info) == 24);
static_assert(offsetof(MacBinScriptHeader, creator) == 56);
static_assert(offsetof(MacBinScriptHeader, name) == 88);
static_assert(offsetof(MacBinScriptHeader, data) == 216);

namespace varnel::script {
namespace {

using Refusal = std::optional<std::string>;

constexpr size_t kFinderInfoBytes = 32;

// A 16-bit number: hexadecimal after 0x, else decimal (never octal: 0100
// is one hundred).
std::optional<uint16_t> word_number(const std::string &value) {
  const bool hexadecimal = value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
  char *end = nullptr;
  const unsigned long number = std::strtoul(value.c_str() + (hexadecimal ? 2 : 0), &end, hexadecimal ? 16 : 10);
  if (value.empty() || *end != '\0' || number > 0xFFFF || value.find_first_of("-+ ") != std::string::npos)
    return std::nullopt;
  return static_cast<uint16_t>(number);
}

bool read_finder_info(const std::string &value, uint8_t (&bytes)[kFinderInfoBytes]) {
  if (value.size() != 2 * kFinderInfoBytes || value.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return false;
  for (size_t i = 0; i < kFinderInfoBytes; ++i)
    bytes[i] = static_cast<uint8_t>(std::strtoul(value.substr(i * 2, 2).c_str(), nullptr, 16));
  return true;
}

// Copies a text value into its field; false when it is longer than the field holds.
template <size_t N>
bool keep_text(const std::string &value, char (&field)[N]) {
  if (value.size() >= N) return false;
  std::memcpy(field, value.c_str(), value.size() + 1);
  return true;
}

// The codes, the name and the data fork: texts as written.
Refusal read_text(const std::string &keyword, const std::string &value, MacBinScriptHeader &header) {
  if (keyword == "%creator") {
    if (!keep_text(value, header.creator)) return "%creator '" + value + "' must be 1 to 4 Macintosh characters";
    header.given |= MACBIN_SCRIPT_CREATOR;
  } else if (keyword == "%type") {
    if (!keep_text(value, header.type)) return "%type '" + value + "' must be 1 to 4 Macintosh characters";
    header.given |= MACBIN_SCRIPT_TYPE;
  } else if (keyword == "%name") {
    if (!keep_text(value, header.name)) return "%name '" + value + "' must be 1 to 31 Macintosh characters";
    header.given |= MACBIN_SCRIPT_NAME;
  } else {
    if (value == "-") return "%data names a file; standard input is for --data -";
    if (!keep_text(value, header.data))
      return "%data names a file of more than " + std::to_string(sizeof header.data - 1) + " bytes";
    header.given |= MACBIN_SCRIPT_DATA;
  }
  return std::nullopt;
}

// The Finder flags and the dates.
Refusal read_facts(const std::string &keyword, const std::string &value, MacBinScriptHeader &header) {
  if (keyword == "%flags") {
    const std::optional<uint16_t> flags = word_number(value);
    if (!flags) return "%flags '" + value + "' must be a number from 0 to 0xFFFF";
    header.flags = *flags;
    header.given |= MACBIN_SCRIPT_FLAGS;
    return std::nullopt;
  }
  // ISO 8601 in UTC, or seconds since 1904 (0: not known, as a container
  // without dates gives).
  const bool created = keyword == "%created";
  if (MacBin_ParseDate(value.c_str(), created ? &header.created : &header.modified) != MACBIN_ERR_NONE)
    return keyword + " '" + value + "' must be a date like 2026-12-07T01:43:29Z (UTC) or seconds since 1904";
  header.given |= created ? MACBIN_SCRIPT_CREATED : MACBIN_SCRIPT_MODIFIED;
  return std::nullopt;
}

// The container and what a real file holds beyond its codes.
Refusal read_exactness(const std::string &keyword, const std::string &value, MacBinScriptHeader &header) {
  if (keyword == "%format") {
    const int32_t format = MacBin_ContainerNamed(value.c_str());
    if (format == 0 || format == MACBIN_FORMAT_RSRC)
      return "%format must be one of " MACBIN_CONTAINER_NAMES "; not '" + value + "'";
    header.format = format;
    header.given |= MACBIN_SCRIPT_FORMAT;
  } else if (keyword == "%finder-resources") {
    if (value != "off" && value != "on")
      return "%finder-resources is 'off' (no owner resource or bundle added) or 'on'; not '" + value + "'";
    header.finder_resources = value == "on" ? 1 : 0;
    header.given |= MACBIN_SCRIPT_FINDER_RESOURCES;
  } else if (keyword == "%map-attributes") {
    const std::optional<uint16_t> attributes = word_number(value);
    if (!attributes) return "%map-attributes '" + value + "' must be a number from 0 to 0xFFFF";
    header.map_attributes = *attributes;
    header.given |= MACBIN_SCRIPT_MAP_ATTRIBUTES;
  } else {
    if (!read_finder_info(value, header.finder_info))
      return "%finder-info '" + value + "' must be 64 hexadecimal digits (32 bytes)";
    header.given |= MACBIN_SCRIPT_FINDER_INFO;
  }
  return std::nullopt;
}

Refusal read_header_line(const char *line, MacBinScriptHeader &header) {
  const std::string text(line);
  const size_t first = text.find_first_not_of(" \t");
  const std::string words_text = first == std::string::npos ? "" : text.substr(first);
  std::vector<char> buffer(words_text.size() + 1);
  char *argv[4] = {};
  const int32_t count = words_text.empty() ? 0 : MacBin_GetArguments(words_text.c_str(), buffer.data(), argv, 3);
  if (count != 2 || argv[3] != nullptr || argv[0][0] != '%')
    return "a header line is '%KEYWORD VALUE' (quote a value with blanks): '" + text + "'";
  const std::string keyword = argv[0];
  const std::string value = argv[1];
  if (keyword == "%creator" || keyword == "%type" || keyword == "%name" || keyword == "%data")
    return read_text(keyword, value, header);
  if (keyword == "%flags" || keyword == "%created" || keyword == "%modified") return read_facts(keyword, value, header);
  if (keyword == "%format" || keyword == "%finder-resources" || keyword == "%map-attributes" ||
      keyword == "%finder-info")
    return read_exactness(keyword, value, header);
  return "unknown header line '" + keyword +
         "': %creator, %type, %name, %flags, %created, %modified, %data, %format, %finder-resources, "
         "%map-attributes and %finder-info are known";
}

}  // namespace
}  // namespace varnel::script

extern "C" int32_t MacBin_ReadScriptHeader(const char *line, MacBinScriptHeader *header) {
  if (line == nullptr || header == nullptr) {
    record_error(MACBIN_ERR_ARGUMENT, "MacBin_ReadScriptHeader: no line or no header");
    return MACBIN_ERR_ARGUMENT;
  }
  try {
    // Read into a copy: a refused line leaves the record as it was.
    MacBinScriptHeader read = *header;
    if (const auto refusal = varnel::script::read_header_line(line, read)) {
      record_error(MACBIN_ERR_ARGUMENT, refusal->c_str());
      return MACBIN_ERR_ARGUMENT;
    }
    *header = read;
    return MACBIN_ERR_NONE;
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (reading a header line)");
    return MACBIN_ERR_MEMORY;
  }
}
