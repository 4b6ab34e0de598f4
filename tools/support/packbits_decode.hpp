// A checked PackBits decoder for untrusted data.  Run kinds, by the signed
// value of the flag byte n:
//   0 .. 127     copy the next n + 1 bytes
//   -127 .. -1   repeat the next byte 1 - n times
//   -128         nothing (a no-op)
#pragma once

#include <cstdint>
#include <span>

namespace varnel_tool {

enum class UnpackResult {
  kComplete,      // `row` filled, every packed byte used
  kPackedEndedEarly,  // the packed bytes ran out before `row` was full
  kRunPastRowEnd,     // a run would write beyond `row`
  kBytesLeftOver      // `row` is full but packed bytes remain
};

// Unpacks `packed` into exactly row.size() bytes; never reads or writes
// outside the two spans.
UnpackResult unpack_bits_checked(std::span<const uint8_t> packed, std::span<uint8_t> row);

const char *describe_unpack_result(UnpackResult result);

}  // namespace varnel_tool
