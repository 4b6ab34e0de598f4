#include "common/mac_dates.hpp"

#include <cstdio>
#include <ctime>

namespace varnel_tool {
namespace {

// Seconds from 1 January 1904 to 1 January 1970, both at 00:00 UTC.
constexpr int64_t kSecondsFrom1904To1970 = 2082844800;

}  // namespace

std::optional<std::string> mac_date_to_iso8601(uint32_t seconds) {
  if (seconds == 0) return std::nullopt;
  const auto unix_seconds = static_cast<time_t>(int64_t{seconds} - kSecondsFrom1904To1970);
  std::tm civil{};
  char text[32];
  if (gmtime_r(&unix_seconds, &civil) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &civil) == 0)
    return std::nullopt;
  return std::string(text);
}

std::optional<uint32_t> iso8601_to_mac_date(const std::string &text) {
  std::tm civil{};
  char zone = '\0';
  int consumed = 0;
  if (text.size() != 20 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &civil.tm_year, &civil.tm_mon, &civil.tm_mday,
                  &civil.tm_hour, &civil.tm_min, &civil.tm_sec, &zone, &consumed) != 7 ||
      consumed != 20 || zone != 'Z')
    return std::nullopt;
  const std::tm asked = civil;
  civil.tm_year -= 1900;
  civil.tm_mon -= 1;
  const time_t unix_seconds = timegm(&civil);
  // timegm carries a day or an hour out of range into the next: a date
  // that comes back different did not exist (30 February, 24:00).
  if (civil.tm_year + 1900 != asked.tm_year || civil.tm_mon + 1 != asked.tm_mon || civil.tm_mday != asked.tm_mday ||
      civil.tm_hour != asked.tm_hour || civil.tm_min != asked.tm_min || civil.tm_sec != asked.tm_sec)
    return std::nullopt;
  const int64_t seconds = int64_t{unix_seconds} + kSecondsFrom1904To1970;
  if (seconds < 0 || seconds > int64_t{UINT32_MAX}) return std::nullopt;
  return static_cast<uint32_t>(seconds);
}

}  // namespace varnel_tool
