#include "container_formats.hpp"

#include <cctype>
#include <filesystem>

#include "common/mac_text.hpp"
#include "varnel.h"

namespace varnel_tool {

namespace {

// Each container: its MACBIN_FORMAT_* code, the name options take ("" for
// one pack does not write), the name messages give it and the one
// listings show.
struct Container {
  int32_t format;
  const char *keyword;
  const char *title;
  const char *listed;
};
constexpr Container kContainers[] = {
    {MACBIN_FORMAT_CLASSIC, "classic", "classic MacBinary", "classic"},
    {MACBIN_FORMAT_II, "ii", "MacBinary II", "MacBinary II"},
    {MACBIN_FORMAT_III, "", "MacBinary III", "MacBinary III"},
    {MACBIN_FORMAT_APPLESINGLE, "applesingle", "AppleSingle", "AppleSingle"},
    {MACBIN_FORMAT_APPLEDOUBLE, "appledouble", "AppleDouble", "AppleDouble"},
    {MACBIN_FORMAT_RSRC, "", "a bare resource fork", "resource fork"},
    {MACBIN_FORMAT_BINHEX, "binhex", "BinHex 4.0", "BinHex 4.0"},
};

const Container *container_of(int32_t format) {
  for (const Container &container : kContainers)
    if (container.format == format) return &container;
  return nullptr;
}

}  // namespace

std::optional<int32_t> container_format_named(std::string_view name) {
  if (name == "II" || name == "macbinary") return MACBIN_FORMAT_II;
  if (name == "rsrc") return MACBIN_FORMAT_RSRC;
  for (const Container &container : kContainers)
    if (name == container.keyword && !name.empty()) return container.format;
  return std::nullopt;
}

std::optional<std::string> container_format_keyword(int32_t format) {
  const Container *container = container_of(format);
  if (container == nullptr || container->keyword[0] == '\0') return std::nullopt;
  return container->keyword;
}

std::string container_format_title(int32_t format) {
  const Container *container = container_of(format);
  return container != nullptr ? container->title : "format " + std::to_string(format);
}

const char *container_format_listed(int32_t format) {
  const Container *container = container_of(format);
  return container != nullptr ? container->listed : "unknown";
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
