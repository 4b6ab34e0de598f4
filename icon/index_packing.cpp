// Rows of palette indices packed as icons and bit maps store them.
#include "icon/rgba_encoding.hpp"

namespace varnel::icon {

void pack_row(std::span<const uint8_t> indices, uint32_t bits, std::vector<uint8_t> &out, size_t row_bytes) {
  const size_t start = out.size();
  const uint32_t per_byte = 8 / bits;
  uint32_t byte = 0, filled = 0;
  for (const uint8_t index : indices) {
    byte = (byte << bits) | index;
    if (++filled == per_byte) {
      out.push_back(static_cast<uint8_t>(byte));
      byte = 0, filled = 0;
    }
  }
  if (filled != 0) out.push_back(static_cast<uint8_t>(byte << (bits * (per_byte - filled))));
  if (out.size() - start < row_bytes) out.resize(start + row_bytes, 0);
}

}  // namespace varnel::icon
