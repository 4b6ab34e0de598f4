#include "format/crc16.hpp"

#include <array>

namespace varnel::format {
namespace {

constexpr std::array<uint16_t, 256> make_table() {
  std::array<uint16_t, 256> table{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000u) != 0 ? (crc << 1) ^ 0x1021u : crc << 1;
    table[byte] = static_cast<uint16_t>(crc);
  }
  return table;
}
constexpr std::array<uint16_t, 256> kTable = make_table();

}  // namespace

uint16_t crc16_xmodem(std::span<const uint8_t> bytes, uint16_t crc) {
  for (const uint8_t byte : bytes) {
    crc = static_cast<uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ byte) & 0xFFu]);
  }
  return crc;
}

}  // namespace varnel::format
