// The AppleSingle/AppleDouble header parser on arbitrary bytes, with a file
// length taken from the last four bytes (so that entries both inside and
// outside the file are reached).  What it accepts must agree with itself:
// every entry inside the file, names NUL-terminated and cut to 63
// characters, forks within 32-bit positions.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "format/apple_single.hpp"

#define REQUIRE(condition)          \
  do {                              \
    if (!(condition)) std::abort(); \
  } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  namespace format = varnel::format;
  uint64_t file_length = size;
  if (size >= 4) {
    const uint32_t tail = (uint32_t{data[size - 4]} << 24) | (uint32_t{data[size - 3]} << 16) |
                          (uint32_t{data[size - 2]} << 8) | data[size - 1];
    if (tail & 1) file_length = size + (tail >> 1);  // a file longer than the bytes given
  }
  format::AppleFacts facts;
  std::memset(&facts, 0xA5, sizeof facts);
  const format::AppleParseStatus status =
      format::parse_apple_header(std::span<const uint8_t>(data, size), file_length, &facts);
  if (status != format::AppleParseStatus::kOk) return 0;
  REQUIRE(facts.name_length <= 63 && facts.name[facts.name_length] == '\0');
  REQUIRE(facts.type[4] == '\0' && facts.creator[4] == '\0');
  if (facts.has_data_fork) {
    REQUIRE(uint64_t{facts.data_offset} + facts.data_length <= file_length);
    REQUIRE(facts.data_length <= 0x7FFFFFFFu);
  }
  if (facts.has_rsrc_fork) {
    REQUIRE(uint64_t{facts.rsrc_offset} + facts.rsrc_length <= file_length);
    REQUIRE(facts.rsrc_length <= 0x7FFFFFFFu);
  }
  REQUIRE(26 + 12 * size_t{facts.entry_count} <= size);
  uint32_t date = 0;
  if (facts.has_dates) format::macintosh_date_from_apple(facts.created, &date);
  return 0;
}
