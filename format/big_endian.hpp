// Private to the library: never installed.
//
// Big-endian numbers, the only byte order of every Macintosh file format,
// built by composition so that the host's own order never matters; and
// fields of that order for the wire records of the other format headers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnel::format {

inline void put_be16(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void put_be24(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}
inline void put_be32(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline uint32_t get_be16(const uint8_t *p) { return (static_cast<uint32_t>(p[0]) << 8) | p[1]; }
inline uint32_t get_be24(const uint8_t *p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
inline uint32_t get_be32(const uint8_t *p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline uint64_t get_be64(const uint8_t *p) {
  return (static_cast<uint64_t>(get_be32(p)) << 32) | get_be32(p + 4);
}

// An N-byte big-endian field of a wire record.  Made of bytes only, so a
// record of such fields has no padding, alignment 1 and the size its
// layout says, and can be copied to and from file bytes as a whole.
template <size_t N>
struct BigEndian {
  static_assert(N >= 1 && N <= 4);
  uint8_t bytes[N];

  constexpr uint32_t get() const {
    uint32_t value = 0;
    for (size_t i = 0; i < N; ++i) value = (value << 8) | bytes[i];
    return value;
  }
  constexpr void set(uint32_t value) {
    for (size_t i = N; i-- > 0; value >>= 8) bytes[i] = static_cast<uint8_t>(value);
  }
};
using Be16 = BigEndian<2>;
using Be24 = BigEndian<3>;
using Be32 = BigEndian<4>;

}  // namespace varnel::format
