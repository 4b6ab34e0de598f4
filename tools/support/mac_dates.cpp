#include "support/mac_dates.hpp"

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

}  // namespace varnel_tool
