#include <cstdio>
#include <stdexcept>

#include "support/support.hpp"

namespace vt {

Bytes hex(std::string_view text) {
  Bytes out;
  int high = -1;
  bool comment = false;
  for (char c : text) {
    if (comment) {
      if (c == '\n') comment = false;
      continue;
    }
    if (c == '|') {
      comment = true;
      continue;
    }
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else if (c == ' ' || c == '\n' || c == '\t' || c == '\r') continue;
    else throw std::invalid_argument("hex: bad character");
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("hex: odd number of digits");
  return out;
}

std::string to_hex(const Bytes &bytes) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
    s += buf;
    s += (i % 16 == 15) ? '\n' : ' ';
  }
  return s;
}

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes repeat(uint8_t value, size_t count) { return Bytes(count, value); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace vt
