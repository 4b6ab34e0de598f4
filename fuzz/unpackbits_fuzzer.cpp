// The bounded PackBits decoder on arbitrary bytes.  The first two bytes give
// the number of bytes wanted (big-endian, at most 65535), the rest is the
// packed stream.  The decoder must stay inside both buffers (the sanitizers
// watch the exact-size vectors), report consistent counts, and, whenever it
// completes, agree with the exported unchecked decoder on the same input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "format/packbits.hpp"
#include "picture/internal.hpp"
#include "varnel.h"

using varnel::format::pack_bits;
using varnel::format::packbits_worst_case;
using varnel::format::unpack_bits;
using varnel::format::Unpacked;
using varnel::format::UnpackStatus;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const size_t wanted = static_cast<size_t>(data[0]) << 8 | data[1];
  // Exact sizes: any read or write past either end is caught.
  const std::vector<uint8_t> packed(data + 2, data + size);
  std::vector<uint8_t> unpacked(wanted);
  const Unpacked result = unpack_bits(packed, unpacked);

  check(result.consumed <= packed.size());
  check(result.produced <= wanted);
  switch (result.status) {
    case UnpackStatus::kComplete:
      check(result.produced == wanted);
      break;
    case UnpackStatus::kSourceEnded:
      check(result.produced < wanted);
      break;
    case UnpackStatus::kRunPastEnd:
      check(result.produced < wanted && result.consumed < packed.size());
      break;
  }

  if (result.status == UnpackStatus::kComplete && wanted > 0) {
    // Every run lies inside the consumed bytes, so the unchecked decoder
    // may read them; it needs 127 bytes of slack behind the count.
    std::vector<uint8_t> slack(wanted + 127);
    const int32_t consumed =
        UnPackBits(packed.data(), slack.data(), static_cast<int32_t>(wanted));
    check(static_cast<size_t>(consumed) == result.consumed);
    check(std::memcmp(slack.data(), unpacked.data(), wanted) == 0);
  }
  return 0;
}
