#include "container_formats.hpp"

#include <cctype>
#include <filesystem>

#include "common/mac_text.hpp"
#include "varnel.h"

namespace varnel_tool {

std::optional<int32_t> container_format_named(std::string_view name) {
  if (name == "ii" || name == "II" || name == "macbinary") return MACBIN_FORMAT_II;
  if (name == "classic") return MACBIN_FORMAT_CLASSIC;
  if (name == "applesingle") return MACBIN_FORMAT_APPLESINGLE;
  if (name == "appledouble") return MACBIN_FORMAT_APPLEDOUBLE;
  if (name == "binhex") return MACBIN_FORMAT_BINHEX;
  if (name == "rsrc") return MACBIN_FORMAT_RSRC;
  return std::nullopt;
}

std::optional<std::string> container_format_keyword(int32_t format) {
  switch (format) {
    case MACBIN_FORMAT_CLASSIC: return "classic";
    case MACBIN_FORMAT_II: return "ii";
    case MACBIN_FORMAT_APPLESINGLE: return "applesingle";
    case MACBIN_FORMAT_APPLEDOUBLE: return "appledouble";
    case MACBIN_FORMAT_BINHEX: return "binhex";
    default: return std::nullopt;
  }
}

std::string container_format_title(int32_t format) {
  switch (format) {
    case MACBIN_FORMAT_CLASSIC: return "classic MacBinary";
    case MACBIN_FORMAT_II: return "MacBinary II";
    case MACBIN_FORMAT_III: return "MacBinary III";
    case MACBIN_FORMAT_APPLESINGLE: return "AppleSingle";
    case MACBIN_FORMAT_APPLEDOUBLE: return "AppleDouble";
    case MACBIN_FORMAT_RSRC: return "a bare resource fork";
    case MACBIN_FORMAT_BINHEX: return "BinHex 4.0";
    default: return "format " + std::to_string(format);
  }
}

std::string default_macintosh_name(const std::string &path) {
  std::string base = std::filesystem::path(path).filename().string();
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) {
    std::string ending = base.substr(dot);
    for (char &c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ending == ".bin" || ending == ".hqx" || ending == ".as") base.resize(dot);
  }
  // Converted whole when it can be; else character by character, with one
  // '_' for each character MacRoman lacks (or each byte that is no UTF-8).
  std::string name = utf8_to_mac_roman(base).value_or("");
  if (name.empty()) {
    for (size_t at = 0; at < base.size();) {
      size_t length = 1;
      while (at + length < base.size() && (static_cast<unsigned char>(base[at + length]) & 0xC0) == 0x80) ++length;
      name += utf8_to_mac_roman(std::string_view(base).substr(at, length)).value_or("_");
      at += length;
    }
  }
  for (char &c : name)
    if (c == ':') c = '-';
  if (name.size() > kMaxMacintoshNameLength) name.resize(kMaxMacintoshNameLength);
  return name.empty() ? "Untitled" : name;
}

}  // namespace varnel_tool
