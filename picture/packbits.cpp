// The exported PackBits codec, over the format layer's packer and
// unpackers.
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

int32_t MacBin_UnpackBits(const uint8_t *packed, int32_t packed_length, uint8_t *unpacked,
                          int32_t length, int32_t *consumed, int32_t *produced) {
  if (packed_length < 0 || length < 0 || (packed == nullptr && packed_length > 0) ||
      (unpacked == nullptr && length > 0)) {
    return -2;
  }
  const format::Unpacked result =
      format::unpack_bits({packed, static_cast<size_t>(packed_length)},
                          {unpacked, static_cast<size_t>(length)});
  if (consumed != nullptr) *consumed = static_cast<int32_t>(result.consumed);
  if (produced != nullptr) *produced = static_cast<int32_t>(result.produced);
  switch (result.status) {
    case format::UnpackStatus::kComplete:
      return 1;
    case format::UnpackStatus::kSourceEnded:
      return 0;
    case format::UnpackStatus::kRunPastEnd:
      return -1;
  }
  return -1;
}

}  // extern "C"
