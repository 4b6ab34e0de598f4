// The host file order: least significant byte first.  fwtow/fltol give a
// value's least-significant-first memory form; fxtox turns a record's fields
// from that form into host values, byte by byte (portable by composition).
#include <bit>
#include <cstring>

#include "tessel.h"

namespace {

constexpr bool kHostIsLittleEndian = std::endian::native == std::endian::little;

constexpr uint16_t swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

constexpr uint32_t swap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

// Replaces the `size` bytes at `item`, stored least significant first, by
// the same value in host order.  Sizes other than 2, 4 and 8 are left as
// they stand (a single byte has no order).
void item_to_host(uint8_t *item, unsigned size) {
  if (size != 2 && size != 4 && size != 8) return;
  uint64_t value = 0;
  for (unsigned i = size; i-- > 0;) value = (value << 8) | item[i];
  if (size == 2) {
    const auto v = static_cast<uint16_t>(value);
    std::memcpy(item, &v, 2);
  } else if (size == 4) {
    const auto v = static_cast<uint32_t>(value);
    std::memcpy(item, &v, 4);
  } else {
    std::memcpy(item, &value, 8);
  }
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

extern "C" {

uint16_t fwtow(uint16_t value) {
  if constexpr (kHostIsLittleEndian) return value;
  return swap16(value);
}

uint32_t fltol(uint32_t value) {
  if constexpr (kHostIsLittleEndian) return value;
  return swap32(value);
}

void fxtox(void *record, const char *layout) {
  if (record == nullptr || layout == nullptr) return;
  auto *bytes = static_cast<uint8_t *>(record);
  size_t offset = 0;
  // Pairs of characters; a NUL in either one ends the layout, so nothing
  // past its terminator is read.  Pairs that are not two digits are skipped.
  for (const char *pair = layout; pair[0] != '\0' && pair[1] != '\0'; pair += 2) {
    if (!is_digit(pair[0]) || !is_digit(pair[1])) continue;
    const auto count = static_cast<unsigned>(pair[0] - '0');
    const auto size = static_cast<unsigned>(pair[1] - '0');
    for (unsigned i = 0; i < count; ++i) {
      item_to_host(bytes + offset, size);
      offset += size;
    }
  }
}

}  // extern "C"
