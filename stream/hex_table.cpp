// The hexadecimal digit table: character code -> digit value, 0xFF for
// everything that is not a hex digit.
#include <array>

#include "varnel.h"

namespace {

constexpr uint8_t kNotHexDigit = 0xFF;

constexpr std::array<uint8_t, 256> make_nibble_table() {
  std::array<uint8_t, 256> table{};
  for (auto &entry : table) entry = kNotHexDigit;
  for (int c = '0'; c <= '9'; ++c) table[static_cast<size_t>(c)] = static_cast<uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) {
    table[static_cast<size_t>(c)] = static_cast<uint8_t>(c - 'A' + 10);
    table[static_cast<size_t>(c - 'A' + 'a')] = static_cast<uint8_t>(c - 'A' + 10);
  }
  return table;
}

constexpr std::array<uint8_t, 256> kNibbleTable = make_nibble_table();

}  // namespace

extern "C" const uint8_t *GetNibbleCheckArray(void) { return kNibbleTable.data(); }
