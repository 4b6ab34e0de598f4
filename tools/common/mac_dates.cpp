#include "common/mac_dates.hpp"

#include <cstdint>
#include <cstdio>

namespace varnel_tool {

std::optional<std::string> mac_date_to_iso8601(uint32_t seconds) {
  if (seconds == 0) return std::nullopt;
  constexpr int64_t kSecondsPerDay = 86400;
  const auto days_since_1904 = static_cast<int64_t>(seconds / kSecondsPerDay);
  const auto second_of_day = static_cast<int64_t>(seconds % kSecondsPerDay);
  // Days to a civil date in the proleptic Gregorian calendar, counted in
  // 400-year eras from 1 March 0000, of which 1 January 1904 is day 695361.
  const int64_t days = days_since_1904 + 695361;
  const int64_t era = days / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t shifted_month = (5 * day_of_year + 2) / 153;  // 0 = March
  const int64_t day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const int64_t month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day),
                static_cast<long long>(second_of_day / 3600), static_cast<long long>(second_of_day / 60 % 60),
                static_cast<long long>(second_of_day % 60));
  return std::string(text);
}

std::optional<uint32_t> iso8601_to_mac_date(const std::string &text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char zone = '\0';
  int consumed = 0;
  if (text.size() != 20 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &year, &month, &day, &hour, &minute, &second, &zone,
                  &consumed) != 7 ||
      consumed != 20 || zone != 'Z')
    return std::nullopt;
  static constexpr int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month - 1] || hour > 23 || minute > 59 ||
      second > 59)
    return std::nullopt;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return std::nullopt;
  // The civil date's day number in the same 400-year eras as above.
  const int64_t y = month <= 2 ? year - 1 : year;
  const int64_t era = y / 400;
  const int64_t year_of_era = y - era * 400;
  const int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const int64_t days_since_1904 = era * 146097 + day_of_era - 695361;
  const int64_t seconds = days_since_1904 * 86400 + hour * 3600 + minute * 60 + second;
  if (seconds < 0 || seconds > int64_t{UINT32_MAX}) return std::nullopt;
  return static_cast<uint32_t>(seconds);
}

}  // namespace varnel_tool
