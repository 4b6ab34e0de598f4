// Macintosh dates (seconds since 1 January 1904, 00:00) as ISO 8601 text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace varnel_tool {

// "2026-12-07T01:43:29Z".  The header holds no time zone: the seconds are
// taken as UTC.  0, which writers store for "not known", gives nothing.
std::optional<std::string> mac_date_to_iso8601(uint32_t seconds);

// The other way: "YYYY-MM-DDTHH:MM:SSZ" (as UTC) to seconds since 1904;
// nothing for another form or a date outside 1904 to 2040 (32 bits).
std::optional<uint32_t> iso8601_to_mac_date(const std::string &text);

}  // namespace varnel_tool
