#include "support/packbits_decode.hpp"

#include <algorithm>

namespace varnel_tool {

UnpackResult unpack_bits_checked(std::span<const uint8_t> packed, std::span<uint8_t> row) {
  size_t in = 0;
  size_t out = 0;
  while (out < row.size()) {
    if (in >= packed.size()) return UnpackResult::kPackedEndedEarly;
    const auto flag = static_cast<int8_t>(packed[in++]);
    if (flag == -128) continue;
    if (flag >= 0) {
      const auto count = static_cast<size_t>(flag) + 1;
      if (packed.size() - in < count) return UnpackResult::kPackedEndedEarly;
      if (row.size() - out < count) return UnpackResult::kRunPastRowEnd;
      std::copy_n(packed.begin() + static_cast<std::ptrdiff_t>(in), count,
                  row.begin() + static_cast<std::ptrdiff_t>(out));
      in += count;
      out += count;
    } else {
      const auto count = static_cast<size_t>(1 - flag);
      if (in >= packed.size()) return UnpackResult::kPackedEndedEarly;
      if (row.size() - out < count) return UnpackResult::kRunPastRowEnd;
      std::fill_n(row.begin() + static_cast<std::ptrdiff_t>(out), count, packed[in]);
      ++in;
      out += count;
    }
  }
  return in == packed.size() ? UnpackResult::kComplete : UnpackResult::kBytesLeftOver;
}

const char *describe_unpack_result(UnpackResult result) {
  switch (result) {
    case UnpackResult::kComplete:
      return "complete";
    case UnpackResult::kPackedEndedEarly:
      return "packed data ends before the row is complete";
    case UnpackResult::kRunPastRowEnd:
      return "a packed run goes past the end of the row";
    case UnpackResult::kBytesLeftOver:
      return "packed data goes on after the row is complete";
  }
  return "unknown";
}

}  // namespace varnel_tool
