// Macintosh dates: seconds since 1 January 1904, 00:00, unsigned 32 bits,
// with no time zone (the files' writers kept local time; we read and write
// them as UTC).  0 is what writers store for "not known".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnel::format {

// Seconds from 1 January 1904 (the Macintosh epoch) to 1 January 1970,
// where a Unix clock starts, and to 1 January 2000, where AppleSingle's
// dates start.
inline constexpr int64_t kSeconds1904To1970 = 2082844800;
inline constexpr int64_t kSeconds1904To2000 = 3029529600;

// "2026-12-07T01:43:29Z"; nothing for 0.
std::optional<std::string> mac_date_text(uint32_t seconds);

// That form back, or a decimal number of seconds since 1904 (at most ten
// digits, at most 0xFFFFFFFF; "0" is "not known").  Nothing for another
// form, a date that does not exist (30 February, 24:00) or one outside
// 1904 to 2040.
std::optional<uint32_t> parse_mac_date(std::string_view text);

}  // namespace varnel::format
