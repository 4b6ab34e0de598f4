#include "format/mac_dates.hpp"

#include <cstdio>
#include <ctime>

namespace varnel::format {
namespace {

constexpr size_t kDateTextLength = 20;  // YYYY-MM-DDTHH:MM:SSZ
constexpr size_t kMostSecondsDigits = 10;

std::optional<uint32_t> parse_seconds(std::string_view text) {
  if (text.empty() || text.size() > kMostSecondsDigits || text.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  uint64_t value = 0;
  for (const char digit : text) value = value * 10 + static_cast<uint64_t>(digit - '0');
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<uint32_t> parse_iso8601(std::string_view text) {
  if (text.size() != kDateTextLength) return std::nullopt;
  const std::string copy(text);
  std::tm civil{};
  char zone = '\0';
  int consumed = 0;
  if (std::sscanf(copy.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &civil.tm_year, &civil.tm_mon, &civil.tm_mday,
                  &civil.tm_hour, &civil.tm_min, &civil.tm_sec, &zone, &consumed) != 7 ||
      consumed != static_cast<int>(kDateTextLength) || zone != 'Z')
    return std::nullopt;
  const std::tm asked = civil;
  civil.tm_year -= 1900;
  civil.tm_mon -= 1;
  const time_t unix_seconds = timegm(&civil);
  // timegm carries a day or an hour out of range into the next: a date
  // that comes back different did not exist.
  if (civil.tm_year + 1900 != asked.tm_year || civil.tm_mon + 1 != asked.tm_mon || civil.tm_mday != asked.tm_mday ||
      civil.tm_hour != asked.tm_hour || civil.tm_min != asked.tm_min || civil.tm_sec != asked.tm_sec)
    return std::nullopt;
  const int64_t seconds = int64_t{unix_seconds} + kSeconds1904To1970;
  if (seconds < 0 || seconds > int64_t{UINT32_MAX}) return std::nullopt;
  return static_cast<uint32_t>(seconds);
}

}  // namespace

std::optional<std::string> mac_date_text(uint32_t seconds) {
  if (seconds == 0) return std::nullopt;
  const auto unix_seconds = static_cast<time_t>(int64_t{seconds} - kSeconds1904To1970);
  std::tm civil{};
  char text[32];
  if (gmtime_r(&unix_seconds, &civil) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &civil) != kDateTextLength)
    return std::nullopt;
  return std::string(text);
}

std::optional<uint32_t> parse_mac_date(std::string_view text) {
  if (const std::optional<uint32_t> seconds = parse_seconds(text)) return seconds;
  return parse_iso8601(text);
}

}  // namespace varnel::format
