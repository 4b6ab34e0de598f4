// One RGBA pixel of decoded pixels, comparable and printed as RRGGBB/AA in
// failure messages.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>

namespace vt {

struct Colour {
  uint8_t r, g, b, a;
  bool operator==(const Colour &) const = default;
};
inline std::ostream &operator<<(std::ostream &out, const Colour &c) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X%02X%02X/%02X", c.r, c.g, c.b, c.a);
  return out << text;
}

}  // namespace vt
