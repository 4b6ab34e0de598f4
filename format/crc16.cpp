#include "format/crc16.hpp"

#include <array>
#include <cstddef>

namespace varnel::format {
namespace {

// kTables[0][v] is the CRC of the byte v; kTables[k][v] that of v followed
// by k zero bytes.  Eight bytes then take eight lookups that do not wait on
// each other, where a byte at a time waits on the previous byte's result.
using CrcTables = std::array<std::array<uint16_t, 256>, 8>;

constexpr CrcTables make_tables() {
  CrcTables tables{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000u) != 0 ? (crc << 1) ^ 0x1021u : crc << 1;
    tables[0][byte] = static_cast<uint16_t>(crc);
  }
  for (size_t k = 1; k < tables.size(); ++k) {
    for (size_t byte = 0; byte < 256; ++byte) {
      const uint16_t previous = tables[k - 1][byte];
      tables[k][byte] =
          static_cast<uint16_t>((uint32_t{previous} << 8) ^ tables[0][uint32_t{previous} >> 8]);
    }
  }
  return tables;
}
constexpr CrcTables kTables = make_tables();

}  // namespace

uint16_t crc16_xmodem(std::span<const uint8_t> bytes, uint16_t crc) {
  const uint8_t *p = bytes.data();
  size_t left = bytes.size();
  for (; left >= 8; left -= 8, p += 8) {
    // The 16-bit register meets the first two bytes; byte i of the eight is
    // followed by 7 - i more.
    const uint32_t register_bits = crc;
    crc = static_cast<uint16_t>(
        kTables[7][(p[0] ^ (register_bits >> 8)) & 0xFFu] ^
        kTables[6][(p[1] ^ register_bits) & 0xFFu] ^ kTables[5][size_t{p[2]}] ^
        kTables[4][size_t{p[3]}] ^ kTables[3][size_t{p[4]}] ^ kTables[2][size_t{p[5]}] ^
        kTables[1][size_t{p[6]}] ^ kTables[0][size_t{p[7]}]);
  }
  for (; left > 0; --left, ++p) {
    crc = static_cast<uint16_t>((crc << 8) ^ kTables[0][((crc >> 8) ^ *p) & 0xFFu]);
  }
  return crc;
}

}  // namespace varnel::format
