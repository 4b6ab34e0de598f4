// The exported PackBits codec, over the format layer's packer and
// unpacker.
#include "format/packbits.hpp"
#include "varnel.h"

namespace format = varnel::format;

extern "C" {

// The destination holds the worst case by contract.
int32_t PackBits(const uint8_t *source, uint8_t *destination, uint32_t count) {
  if (count == 0 || source == nullptr || destination == nullptr) return 0;
  return static_cast<int32_t>(
      format::pack_bits({source, count}, {destination, format::packbits_worst_case(count)}));
}

// Unchecked by contract: the caller vouches that `source` holds the runs and
// that `destination` has room for count + 127 bytes.  The library itself
// decodes only with the bounded unpack_bits.
int32_t UnPackBits(const uint8_t *source, uint8_t *destination, int32_t count) {
  if (count <= 0 || source == nullptr || destination == nullptr) return 0;
  return static_cast<int32_t>(
      format::unpack_bits_unchecked(source, destination, static_cast<size_t>(count)));
}

}  // extern "C"
