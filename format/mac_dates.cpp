#include "format/mac_dates.hpp"

#include <cstdio>

namespace varnel::format {
namespace {

constexpr size_t kDateTextLength = 20;  // YYYY-MM-DDTHH:MM:SSZ
constexpr size_t kMostSecondsDigits = 10;
constexpr int64_t kSecondsPerDay = 86400;

// Calendar arithmetic of our own, in 64 bits: the C library's time_t is 32
// bits on some machines, and the dates run to 2040.  Days from 1 January
// 1970 of a date in the proleptic Gregorian calendar, and back (the
// era-based formulas: 400-year eras of 146097 days, years starting in
// March so that the leap day comes last).
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

struct Civil {
  int64_t year, month, day;
};

Civil civil_from_days(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t shifted_month = (5 * day_of_year + 2) / 153;
  const int64_t day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const int64_t month = shifted_month + (shifted_month < 10 ? 3 : -9);
  return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

int64_t days_in_month(int64_t year, int64_t month) {
  return days_from_civil(month == 12 ? year + 1 : year, month == 12 ? 1 : month + 1, 1) -
         days_from_civil(year, month, 1);
}

std::optional<uint32_t> parse_seconds(std::string_view text) {
  if (text.empty() || text.size() > kMostSecondsDigits || text.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  uint64_t value = 0;
  for (const char digit : text) value = value * 10 + static_cast<uint64_t>(digit - '0');
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

// The digits of text[at, at + count) as a number; -1 when any is no digit.
int64_t digits_at(std::string_view text, size_t at, size_t count) {
  int64_t value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::optional<uint32_t> parse_iso8601(std::string_view text) {
  if (text.size() != kDateTextLength || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z')
    return std::nullopt;
  const int64_t year = digits_at(text, 0, 4), month = digits_at(text, 5, 2), day = digits_at(text, 8, 2);
  const int64_t hour = digits_at(text, 11, 2), minute = digits_at(text, 14, 2), second = digits_at(text, 17, 2);
  // A date that does not exist (30 February, 24:00) is no date.
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59)
    return std::nullopt;
  const int64_t seconds =
      days_from_civil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second + kSeconds1904To1970;
  if (seconds < 0 || seconds > int64_t{UINT32_MAX}) return std::nullopt;
  return static_cast<uint32_t>(seconds);
}

}  // namespace

std::optional<std::string> mac_date_text(uint32_t seconds) {
  if (seconds == 0) return std::nullopt;
  const int64_t unix_seconds = int64_t{seconds} - kSeconds1904To1970;
  // Floor division: dates before 1970 count back from it.
  const int64_t days = (unix_seconds >= 0 ? unix_seconds : unix_seconds - (kSecondsPerDay - 1)) / kSecondsPerDay;
  const int64_t in_day = unix_seconds - days * kSecondsPerDay;
  const Civil date = civil_from_days(days);
  char text[128];  // room for any 64-bit field, as the compiler counts; the dates use 20
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(date.year),
                static_cast<long long>(date.month), static_cast<long long>(date.day),
                static_cast<long long>(in_day / 3600), static_cast<long long>(in_day / 60 % 60),
                static_cast<long long>(in_day % 60));
  return std::string(text);
}

std::optional<uint32_t> parse_mac_date(std::string_view text) {
  if (const std::optional<uint32_t> seconds = parse_seconds(text)) return seconds;
  return parse_iso8601(text);
}

}  // namespace varnel::format
