// fparse: parts of a path name.
#include <strings.h>

#include <cstring>
#include <string_view>

#include "tessel.h"

namespace {

constexpr size_t kPartCapacity = 256;  // the caller's buffer; texts are cut to 255

// The file name: what follows the last '/'.
std::string_view base_name(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The file name without its last extension; a name whose only dot leads
// (".profile") has no extension.
std::string_view name_part(std::string_view base) {
  const size_t dot = base.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? base : base.substr(0, dot);
}

}  // namespace

extern "C" char *fparse(char *buffer, const char *path, int32_t /*reserved*/, const char *part) {
  if (buffer == nullptr) return nullptr;
  const std::string_view base = base_name(path != nullptr ? path : "");
  const bool wants_name = part != nullptr && strcasecmp(part, "NAME") == 0;
  std::string_view result = wants_name ? name_part(base) : base;
  if (result.size() > kPartCapacity - 1) result = result.substr(0, kPartCapacity - 1);
  std::memcpy(buffer, result.data(), result.size());
  buffer[result.size()] = '\0';
  return buffer;
}
