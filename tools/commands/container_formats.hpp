// The container names the commands take (--format, --to) and the names
// messages give them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnel_tool {

// MACBIN_FORMAT_* for "ii" (also "II" and "macbinary"), "classic",
// "applesingle", "appledouble", "binhex" and "rsrc"; nothing for others.
std::optional<int32_t> container_format_named(std::string_view name);

// The name container_format_named takes for a container pack writes
// ("ii", "classic", ...); nothing for MacBinary III and a bare fork.
std::optional<std::string> container_format_keyword(int32_t format);

// "MacBinary II", "AppleSingle", "a bare resource fork", ...
std::string container_format_title(int32_t format);

// As listings show it: "classic", "MacBinary II", "resource fork", ...;
// "unknown" for another code.
const char *container_format_listed(int32_t format);

// Macintosh file names of the Finder: at most 31 characters.
inline constexpr size_t kMaxMacintoshNameLength = 31;

// The Macintosh name for a file written as `path` when no other is known:
// its file name without the extension of a container that is one file
// (".bin", ".hqx", ".as"), in MacRoman, ':' made '-', at most 31
// characters; "Untitled" when nothing is left.
std::string default_macintosh_name(const std::string &path);

// Usage text of the names, for option errors.
inline constexpr const char *kContainerFormatNames = "ii (or macbinary), classic, applesingle, appledouble, binhex";

}  // namespace varnel_tool
