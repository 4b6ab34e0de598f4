// Private to the library: never installed.
#pragma once

#include <cstdint>
#include <span>

namespace varnel::format {

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final
// XOR.  Guards bytes 0 to 123 of a MacBinary II or III header (and the
// sections of a BinHex file).  Pass `crc` to continue over further bytes.
uint16_t crc16_xmodem(std::span<const uint8_t> bytes, uint16_t crc = 0);

}  // namespace varnel::format
