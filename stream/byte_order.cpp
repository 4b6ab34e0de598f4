// Byte-order helpers.  The host library's word and long reads and conversions
// work least significant byte first; each is paired with one of these
// unconditional swaps to give the Macintosh order.  Pure shifts and masks.
#include <utility>

#include "stream/internal.hpp"
#include "varnel.h"

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

extern "C" {

uint16_t swapwtow(int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  return static_cast<uint16_t>(((v & 0xFFu) << 8) | ((v >> 8) & 0xFFu));
}

uint32_t swapltol(uint32_t value) {
  return ((value & 0xFFu) << 24) | ((value & 0xFF00u) << 8) | ((value >> 8) & 0xFF00u) |
         (value >> 24);
}

uint32_t swapttot(uint32_t value) {
  return ((value & 0xFFu) << 16) | (value & 0xFF00u) | ((value >> 16) & 0xFFu);
}

void swapxtox(void *data, const char *format) {
  if (data == nullptr || format == nullptr) return;
  auto *item = static_cast<uint8_t *>(data);
  // Digit pairs: a count, then an item size in bytes.  The format ends at
  // the first NUL - or at any other character that is not a digit, so a
  // malformed format can never walk the record by a bogus count or size.
  for (const char *pair = format; is_digit(pair[0]) && is_digit(pair[1]); pair += 2) {
    const int count = pair[0] - '0';
    const int size = pair[1] - '0';
    for (int i = 0; i < count; ++i, item += size) {
      // Reversing an item's bytes is what swapwtow / swapltol do to its value.
      if (size == 2) {
        std::swap(item[0], item[1]);
      } else if (size == 4) {
        std::swap(item[0], item[3]);
        std::swap(item[1], item[2]);
      }
    }
  }
}

uint32_t fgett(TesselFile *file) {
  uint8_t bytes[3];
  fgetm(file, bytes, 3);  // a short file leaves zeros, as fgetw and fgetl do
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16);
}

}  // extern "C"
