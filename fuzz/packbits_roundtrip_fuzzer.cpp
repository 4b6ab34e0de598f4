// PackBits round trip on arbitrary bytes: the packed form fits the worst-case
// bound, both decoders give the source back, and they consume exactly the
// packed length.
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
  // Rows of a preview are at most 16382 bytes; longer inputs add nothing.
  if (size > 65536) return 0;
  const std::vector<uint8_t> source(data, data + size);
  // Exactly the bound: the packer must never write past it.
  std::vector<uint8_t> packed(packbits_worst_case(size));
  const size_t packed_size = pack_bits(source, packed);
  check(packed_size <= packed.size());
  check((size == 0) == (packed_size == 0));

  std::vector<uint8_t> exported(packbits_worst_case(size));
  if (size > 0) {
    const int32_t n = PackBits(source.data(), exported.data(), static_cast<uint32_t>(size));
    check(static_cast<size_t>(n) == packed_size);
    check(std::memcmp(exported.data(), packed.data(), packed_size) == 0);
  }

  packed.resize(packed_size);
  std::vector<uint8_t> unpacked(size);
  const Unpacked bounded = unpack_bits(packed, unpacked);
  check(bounded.status == UnpackStatus::kComplete);
  check(bounded.consumed == packed_size);
  check(unpacked == source);

  std::vector<uint8_t> unchecked(size + 127);
  const int32_t consumed =
      UnPackBits(packed.data(), unchecked.data(), static_cast<int32_t>(size));
  check(static_cast<size_t>(consumed) == packed_size);
  check(size == 0 || std::memcmp(unchecked.data(), source.data(), size) == 0);
  return 0;
}
