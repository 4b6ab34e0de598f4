#include <stdexcept>
#include <string>

#include "support/support.hpp"

namespace vt {

uint32_t be16(const Bytes &bytes, size_t at) { return uint32_t{bytes.at(at)} << 8 | bytes.at(at + 1); }
uint32_t be24(const Bytes &bytes, size_t at) { return be16(bytes, at) << 8 | bytes.at(at + 2); }
uint32_t be32(const Bytes &bytes, size_t at) { return be16(bytes, at) << 16 | be16(bytes, at + 2); }

void append_be16(Bytes &out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}
void append_be24(Bytes &out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 16));
  append_be16(out, value);
}
void append_be32(Bytes &out, uint32_t value) {
  append_be16(out, value >> 16);
  append_be16(out, value);
}

void store_be16(Bytes &out, size_t at, uint32_t value) {
  out.at(at) = static_cast<uint8_t>(value >> 8);
  out.at(at + 1) = static_cast<uint8_t>(value);
}
void store_be32(Bytes &out, size_t at, uint32_t value) {
  store_be16(out, at, value >> 16);
  store_be16(out, at + 2, value);
}

Bytes slice(const Bytes &bytes, size_t at, size_t count) {
  if (at > bytes.size() || count > bytes.size() - at) {
    throw std::out_of_range("slice of " + std::to_string(count) + " bytes at " + std::to_string(at) +
                            " past the end of " + std::to_string(bytes.size()));
  }
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
               bytes.begin() + static_cast<std::ptrdiff_t>(at + count));
}

Bytes patched(Bytes bytes, size_t at, const Bytes &with) {
  for (size_t i = 0; i < with.size(); ++i) bytes.at(at + i) = with[i];
  return bytes;
}

}  // namespace vt
