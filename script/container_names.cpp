// The containers' names: the keyword options and %format lines take, the
// title messages give them and the name listings show, and the Macintosh
// name a file gets from the path it is written to.
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>

#include "format/mac_roman.hpp"
#include "frame/internal.hpp"
#include "script/internal.hpp"

namespace varnel::script {
namespace {

// Each container: its MACBIN_FORMAT_* code, the keyword ("" for one that
// cannot be written), the title and the listed name.
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

constexpr const char *kUntitled = "Untitled";

// The name without the extension of a container that is one file.
std::string without_container_ending(std::string base) {
  const size_t dot = base.rfind('.');
  if (dot == std::string::npos || dot == 0) return base;
  std::string ending = base.substr(dot);
  for (char &c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ending == ".bin" || ending == ".hqx" || ending == ".as") base.resize(dot);
  return base;
}

bool is_combining(uint32_t code_point) { return code_point >= 0x0300 && code_point <= 0x036F; }

// UTF-8 in MacRoman: whole when it can be, else character by character
// with one '_' for each character MacRoman lacks or byte that is no UTF-8.
std::string mac_roman_or_stand_ins(const std::string &text) {
  std::string name;
  std::string problem;
  if (format::utf8_to_mac_roman(text, name, problem)) return name;
  name.clear();
  for (size_t at = 0; at < text.size();) {
    size_t next = at;
    uint32_t code_point = 0;
    if (!format::next_code_point(text, next, code_point)) next = at + 1;
    // Combining accents go with their letter, which MacRoman may hold composed.
    for (size_t after = next; format::next_code_point(text, after, code_point) && is_combining(code_point);)
      next = after;
    std::string one;
    name += format::utf8_to_mac_roman(std::string_view(text).substr(at, next - at), one, problem) ? one : "_";
    at = next;
  }
  return name;
}

}  // namespace

const char *container_name(int32_t format, int32_t style) {
  for (const Container &container : kContainers) {
    if (container.format != format) continue;
    switch (style) {
      case MACBIN_CONTAINER_KEYWORD:
        return container.keyword[0] != '\0' ? container.keyword : nullptr;
      case MACBIN_CONTAINER_TITLE:
        return container.title;
      case MACBIN_CONTAINER_LISTED:
        return container.listed;
      default:
        return nullptr;
    }
  }
  return nullptr;
}

std::string default_mac_name(const std::string &path) {
  std::string name = mac_roman_or_stand_ins(without_container_ending(std::filesystem::path(path).filename().string()));
  for (char &c : name)
    if (c == ':') c = '-';
  if (name.size() > MACBIN_MAX_FILE_NAME_LENGTH) name.resize(MACBIN_MAX_FILE_NAME_LENGTH);
  return name.empty() ? kUntitled : name;
}

}  // namespace varnel::script

extern "C" {

int32_t MacBin_ContainerNamed(const char *name) {
  if (name == nullptr || name[0] == '\0') return 0;
  const std::string_view text(name);
  if (text == "II" || text == "macbinary") return MACBIN_FORMAT_II;
  if (text == "rsrc") return MACBIN_FORMAT_RSRC;
  for (const auto &container : varnel::script::kContainers)
    if (text == container.keyword) return container.format;
  return 0;
}

const char *MacBin_ContainerName(int32_t format, int32_t style) {
  return varnel::script::container_name(format, style);
}

int32_t MacBin_DefaultMacName(const char *path, char *buffer, int32_t capacity) {
  if (path == nullptr || !is_valid_text_buffer(buffer, capacity)) {
    record_error(MACBIN_ERR_ARGUMENT, "MacBin_DefaultMacName: no path, or a buffer that does not match its capacity");
    return -1;
  }
  try {
    return copy_text_out(varnel::script::default_mac_name(path), buffer, capacity);
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (naming a file)");
    return -1;
  }
}

}  // extern "C"
