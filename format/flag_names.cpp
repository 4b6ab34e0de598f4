#include "format/flag_names.hpp"

#include <array>
#include <utility>

namespace varnel::format {
namespace {

constexpr std::array<std::pair<uint16_t, const char *>, 10> kFinderFlags = {{
    {0x8000, "isAlias"},
    {0x4000, "isInvisible"},
    {0x2000, "hasBundle"},
    {0x1000, "nameLocked"},
    {0x0800, "isStationery"},
    {0x0400, "hasCustomIcon"},
    {0x0100, "hasBeenInited"},
    {0x0080, "hasNoINITs"},
    {0x0040, "isShared"},
    {0x0020, "requiresSwitchLaunch"},
}};
constexpr uint16_t kColorBits = 0x000E;
constexpr uint16_t kReservedBits = 0x0210;
constexpr uint16_t kOnDesk = 0x0001;

constexpr std::array<std::pair<uint8_t, const char *>, 7> kAttributes = {{
    {0x40, "sysHeap"},
    {0x20, "purgeable"},
    {0x10, "locked"},
    {0x08, "protected"},
    {0x04, "preload"},
    {0x02, "changed"},
    {0x01, "compressed"},
}};

void append_name(std::string &names, std::string_view name) {
  if (!names.empty()) names += ',';
  names += name;
}

// "88", "0x58": at most four characters.
std::optional<uint8_t> attribute_number(std::string_view text) {
  constexpr size_t kLongestNumber = 4;
  const bool hexadecimal = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string_view digits = hexadecimal ? text.substr(2) : text;
  if (digits.empty() || text.size() > kLongestNumber) return std::nullopt;
  unsigned value = 0;
  for (const char c : digits) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (hexadecimal && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      digit = static_cast<unsigned>((c | 0x20) - 'a' + 10);
    } else {
      return std::nullopt;
    }
    value = value * (hexadecimal ? 16 : 10) + digit;
  }
  if (value > 0xFF) return std::nullopt;
  return static_cast<uint8_t>(value);
}

std::optional<uint8_t> attribute_bit(std::string_view name) {
  for (const auto &[bit, each] : kAttributes)
    if (name == each) return bit;
  return std::nullopt;
}

}  // namespace

std::string finder_flag_names(uint16_t flags) {
  std::string names;
  for (const auto &[bit, name] : kFinderFlags)
    if ((flags & bit) != 0) append_name(names, name);
  if ((flags & kColorBits) != 0) append_name(names, "color=" + std::to_string((flags & kColorBits) >> 1));
  if ((flags & kReservedBits) != 0) append_name(names, "reserved=" + std::to_string(flags & kReservedBits));
  if ((flags & kOnDesk) != 0) append_name(names, "isOnDesk");
  return names;
}

std::string attribute_names(uint8_t attributes) {
  std::string names;
  for (const auto &[bit, name] : kAttributes)
    if ((attributes & bit) != 0) append_name(names, name);
  return names;
}

std::optional<uint8_t> parse_attribute_names(std::string_view text) {
  if (const std::optional<uint8_t> number = attribute_number(text)) return number;
  uint8_t attributes = 0;
  for (size_t start = 0;;) {
    const size_t comma = text.find(',', start);
    const std::optional<uint8_t> bit = attribute_bit(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (!bit) return std::nullopt;
    attributes |= *bit;
    if (comma == std::string_view::npos) return attributes;
    start = comma + 1;
  }
}

}  // namespace varnel::format
