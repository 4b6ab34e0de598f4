// The 128-byte MacBinary header as a reader sees it: which variant wrote it,
// whether its CRC holds, and whether the forks it announces fit the file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varnel_tool {

inline constexpr size_t kMacBinaryHeaderSize = 128;

enum class MacBinaryFormat { kClassic, kMacBinaryII, kMacBinaryIII };

struct MacBinaryHeader {
  MacBinaryFormat format = MacBinaryFormat::kClassic;
  std::string name;     // MacRoman, at most 63 bytes
  std::string type;     // 4 bytes
  std::string creator;  // 4 bytes
  uint16_t finder_flags = 0;  // byte 73 high, byte 101 low (MacBinary II on)
  uint32_t data_length = 0;
  uint32_t resource_length = 0;
  uint32_t resource_fork_offset = 0;  // 128 + data fork rounded up to 128
  uint16_t crc_stored = 0;
  uint16_t crc_computed = 0;
};

// CRC-16/XMODEM (polynomial 0x1021, initial value 0), as MacBinary II uses
// over header bytes 0 to 123.
uint16_t crc16_xmodem(std::span<const uint8_t> bytes);

// False with `error` set when the bytes are no MacBinary header or the
// forks it announces do not fit in a file of `file_size` bytes.
bool parse_macbinary_header(std::span<const uint8_t> header, uint64_t file_size,
                            MacBinaryHeader &parsed, std::string &error);

const char *format_name(MacBinaryFormat format);
// Names of the set Finder flags ("hasBundle", "color=3", ...), high bit first.
std::vector<std::string> finder_flag_names(uint16_t flags);

}  // namespace varnel_tool
