#include "common/resource_file_names.hpp"

#include <cstdio>

namespace varnel_tool {

std::string resource_file_stem(const std::string &mac_type, int32_t id, int32_t occurrence) {
  std::string stem;
  for (char c : mac_type) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= 'a' && byte <= 'z') || byte == '#' || byte == '-' || byte == '_' ||
                       byte == '!' || byte == '@' || byte == '+';
    if (plain) {
      stem += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned>(byte));
      stem += escaped;
    }
  }
  stem += "." + std::to_string(id);
  if (occurrence > 1) stem += "." + std::to_string(occurrence);
  return stem;
}

}  // namespace varnel_tool
