#include "common/flag_names.hpp"

#include <array>
#include <utility>

#include "varnel.h"


namespace varnel_tool {

std::vector<std::string> finder_flag_names(uint16_t flags) {
  constexpr std::array<std::pair<uint16_t, const char *>, 10> kFlags = {{
      {0x8000, "isAlias"},
      {0x4000, "isInvisible"},
      {0x2000, "hasBundle"},
      {0x1000, "nameLocked"},
      {0x0800, "isStationery"},
      {0x0400, "hasCustomIcon"},
      {0x0100, "hasBeenInited"},
      {0x0080, "hasNoINITs"},
      {0x0040, "isShared"},
      {0x0020, "requiresSwitchLaunch"},
  }};
  std::vector<std::string> names;
  for (const auto &[bit, name] : kFlags)
    if ((flags & bit) != 0) names.emplace_back(name);
  if ((flags & 0x000E) != 0) names.push_back("color=" + std::to_string((flags & 0x000E) >> 1));
  if ((flags & 0x0210) != 0) names.push_back("reserved=" + std::to_string(flags & 0x0210));
  if ((flags & 0x0001) != 0) names.emplace_back("isOnDesk");
  return names;
}

std::vector<std::string> resource_attribute_names(int32_t attributes) {
  constexpr std::array<std::pair<uint8_t, const char *>, 7> kAttributes = {{
      {MACBIN_ATTR_SYSTEM_HEAP, "sysHeap"},
      {MACBIN_ATTR_PURGEABLE, "purgeable"},
      {MACBIN_ATTR_LOCKED, "locked"},
      {MACBIN_ATTR_PROTECTED, "protected"},
      {MACBIN_ATTR_PRELOAD, "preload"},
      {MACBIN_ATTR_CHANGED, "changed"},
      {0x01, "compressed"},  // stored compressed (system software)
  }};
  std::vector<std::string> names;
  for (const auto &[bit, name] : kAttributes)
    if ((attributes & bit) != 0) names.emplace_back(name);
  return names;
}

}  // namespace varnel_tool
