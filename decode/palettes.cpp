// The system's standard colour tables as the decoders draw with them: the
// format's tables, opaque.
#include <array>

#include "decode/internal.hpp"
#include "format/system_palettes.hpp"

namespace varnel::decode {
namespace {

template <size_t N>
std::array<Rgba, N> opaque(int32_t bits) {
  const std::span<const format::Rgb> table = format::system_palette(bits);
  std::array<Rgba, N> colours{};
  for (size_t i = 0; i < N && i < table.size(); ++i)
    colours[i] = Rgba{table[i].red, table[i].green, table[i].blue, 0xFF};
  return colours;
}

}  // namespace

std::span<const Rgba> system_palette(int32_t bits) {
  static const std::array<Rgba, 2> k2 = opaque<2>(1);
  static const std::array<Rgba, 4> k4 = opaque<4>(2);
  static const std::array<Rgba, 16> k16 = opaque<16>(4);
  static const std::array<Rgba, 256> k256 = opaque<256>(8);
  switch (bits) {
    case 1: return k2;
    case 2: return k4;
    case 4: return k16;
    default: return k256;
  }
}

}  // namespace varnel::decode
