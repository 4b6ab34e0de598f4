// The PackBits packer and unpacker.
//
// The packer writes literal runs of 1 to 128 bytes and repeat runs of 2 to 128
// bytes, never 0x80.  Its choice between them is fixed byte for byte: the
// packed rows are part of a preview's bytes, so two builds of one picture must
// agree.  The rules, with p the read position, n the bytes left and c a carry:
//
//   1. scan k from c while k < min(n - 2, 128) for three equal bytes at p + k;
//   2. with no such run, a tail of fewer than 128 bytes goes out whole (k = n);
//   3. k > 0: a literal of k bytes;
//   4. then count the bytes after p equal to it (at most min(n - 1, 127)):
//      j > 0 writes a repeat of j + 1 and clears c; j = 0 sets c = 1, so the
//      byte at p opens the next literal without being tested again.
//
// So two equal bytes stay inside a literal, except right after a literal of
// the full 128 bytes or as the last two of a 128- or 129-byte tail.
//
// The scans look at eight positions at a time; they find the same offsets as
// a byte-by-byte scan, only sooner.
#include <algorithm>
#include <bit>
#include <cstring>

#include "format/packbits.hpp"

namespace varnel::format {
namespace {

constexpr size_t kMaxLiteral = 128;
constexpr size_t kMaxRepeatsAfterFirst = 127;  // a repeat run covers at most 128 bytes

constexpr uint64_t kLowBits = 0x0101010101010101u;
constexpr uint64_t kHighBits = 0x8080808080808080u;

// Eight bytes with the byte at p in the low bits whatever the machine's byte
// order, so that "first in memory" is always "lowest".
inline uint64_t load_bytes(const uint8_t *p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The high bit of the lowest zero byte of `word` is set (and possibly bits of
// higher bytes, which we never look at); 0 when no byte is zero.
inline uint64_t flag_zero_bytes(uint64_t word) { return (word - kLowBits) & ~word & kHighBits; }

inline size_t index_of_lowest_flag(uint64_t flags) {
  return static_cast<size_t>(std::countr_zero(flags)) / 8;
}

// First offset k in [from, limit) where s[k] == s[k + 1] == s[k + 2], or
// `limit` when there is none.  s[limit + 1] must be readable.
size_t find_run_of_three(const uint8_t *s, size_t from, size_t limit) {
  size_t k = from;
  // Offsets k..k+7 read up to s[k + 9] <= s[limit + 1].
  while (k + 8 <= limit) {
    const uint64_t here = load_bytes(s + k);
    const uint64_t differs = (here ^ load_bytes(s + k + 1)) | (here ^ load_bytes(s + k + 2));
    if (const uint64_t flags = flag_zero_bytes(differs); flags != 0) {
      return k + index_of_lowest_flag(flags);
    }
    k += 8;
  }
  for (; k < limit; ++k) {
    if (s[k] == s[k + 2] && s[k] == s[k + 1]) return k;
  }
  return limit;
}

// How many of s[1..most] equal s[0], counting from s[1] until the first that
// differs.
size_t count_repeats(const uint8_t *s, size_t most) {
  const uint64_t pattern = s[0] * kLowBits;
  size_t j = 0;
  while (j + 8 <= most) {
    if (const uint64_t differs = load_bytes(s + 1 + j) ^ pattern; differs != 0) {
      return j + static_cast<size_t>(std::countr_zero(differs)) / 8;
    }
    j += 8;
  }
  while (j < most && s[1 + j] == s[0]) ++j;
  return j;
}

size_t pack(const uint8_t *source, size_t count, uint8_t *destination) {
  const uint8_t *p = source;
  size_t left = count;
  size_t carry = 0;
  uint8_t *out = destination;
  while (left > 0) {
    // 1. and 2.: the literal before the next run of three, or the tail.
    size_t literal;
    if (left >= 3) {
      const size_t limit = std::min(left - 2, kMaxLiteral);
      literal = carry < limit ? find_run_of_three(p, carry, limit) : carry;
      const bool run_found = literal < limit;
      if (!run_found && literal >= left - 2 && left < kMaxLiteral) literal = left;
    } else {
      literal = left;  // one or two bytes: no run of three can start
    }
    // 3.
    if (literal > 0) {
      *out++ = static_cast<uint8_t>(literal - 1);
      std::memcpy(out, p, literal);
      out += literal;
      p += literal;
      left -= literal;
    }
    if (left == 0) break;
    // 4.
    const size_t repeats = count_repeats(p, std::min(left - 1, kMaxRepeatsAfterFirst));
    if (repeats > 0) {
      *out++ = static_cast<uint8_t>(256 - repeats);
      *out++ = *p;
      p += repeats + 1;
      left -= repeats + 1;
      carry = 0;
    } else {
      carry = 1;
    }
  }
  return static_cast<size_t>(out - destination);
}


// The run decoding, once for both forms.  A checked decode knows where the
// packed bytes and the destination end, and stops before a run that would
// cross either; an unchecked one trusts its caller for both and writes the
// run that crosses the end whole.
template <bool kChecked>
Unpacked decode_runs(const uint8_t *packed, size_t packed_size, uint8_t *unpacked, size_t wanted) {
  size_t in = 0;
  size_t out = 0;
  while (out < wanted) {
    if (kChecked && in >= packed_size) return {UnpackStatus::kSourceEnded, in, out};
    const auto header = static_cast<int8_t>(packed[in]);
    if (header == -128) {
      ++in;
      continue;
    }
    const bool literal = header >= 0;
    const size_t length = literal ? static_cast<size_t>(header) + 1 : static_cast<size_t>(1 - header);
    if (kChecked) {
      if (length > wanted - out) return {UnpackStatus::kRunPastEnd, in, out};
      const size_t needs = literal ? length : 1;
      if (needs > packed_size - in - 1) return {UnpackStatus::kSourceEnded, in, out};
    }
    if (literal) {
      std::memcpy(unpacked + out, packed + in + 1, length);
      in += 1 + length;
    } else {
      std::memset(unpacked + out, packed[in + 1], length);
      in += 2;
    }
    out += length;
  }
  return {UnpackStatus::kComplete, in, out};
}

}  // namespace

size_t pack_bits(std::span<const uint8_t> source, std::span<uint8_t> destination) {
  if (destination.size() < packbits_worst_case(source.size())) return 0;
  return pack(source.data(), source.size(), destination.data());
}

Unpacked unpack_bits(std::span<const uint8_t> packed, std::span<uint8_t> unpacked) {
  return decode_runs<true>(packed.data(), packed.size(), unpacked.data(), unpacked.size());
}

size_t unpack_bits_unchecked(const uint8_t *packed, uint8_t *unpacked, size_t count) {
  return decode_runs<false>(packed, 0, unpacked, count).consumed;
}

}  // namespace varnel::format
