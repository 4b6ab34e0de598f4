// Private to the reader.
//
// The two cursors the decompressors work through: one over the compressed
// stream, one over the output.  Each checks every step against its span, so
// that no code of a hostile stream can read or write outside either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace varnel::reader {

inline constexpr const char *kTextStreamEndsEarly = "compressed data ends early";
inline constexpr const char *kTextPastLength = "compressed data runs past the uncompressed length";
inline constexpr const char *kTextShortOfLength = "compressed data ends short of the uncompressed length";

class StreamSource {
 public:
  explicit StreamSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t remaining() const { return bytes_.size() - at_; }

  bool byte(uint32_t &value) {
    if (at_ >= bytes_.size()) return false;
    value = bytes_[at_++];
    return true;
  }
  bool word(uint32_t &value) {
    if (remaining() < 2) return false;
    value = static_cast<uint32_t>(bytes_[at_]) << 8 | bytes_[at_ + 1];
    at_ += 2;
    return true;
  }
  // The next `count` bytes, as a view into the stream.
  bool take(uint64_t count, std::span<const uint8_t> &bytes) {
    if (count > remaining()) return false;
    bytes = bytes_.subspan(at_, static_cast<size_t>(count));
    at_ += static_cast<size_t>(count);
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

// The output, filled from its start.  Word codes cannot end on an odd
// length, so the system's decompressors write the last word of an
// odd-length resource whole, one byte past its end; the sink takes that
// one last piece and drops the byte, and nothing may follow it.
class OutputSink {
 public:
  explicit OutputSink(std::span<uint8_t> bytes) : bytes_(bytes) {}

  size_t position() const { return at_; }
  bool full() const { return at_ == bytes_.size(); }

  bool put(const uint8_t *source, uint64_t count) {
    const size_t room = bytes_.size() - at_;
    if (count <= room) {
      if (count > 0 && spilled_) return false;
      if (count > 0) std::memcpy(bytes_.data() + at_, source, static_cast<size_t>(count));
      at_ += static_cast<size_t>(count);
      return true;
    }
    if (count != uint64_t{room} + 1 || spilled_ || bytes_.size() % 2 == 0) return false;
    if (room > 0) std::memcpy(bytes_.data() + at_, source, room);
    at_ = bytes_.size();
    spilled_ = true;
    return true;
  }
  bool put_word(uint32_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return put(bytes, 2);
  }
  bool put_long(uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return put(bytes, 4);
  }
  // `count` bytes again from `offset`, all of which were written before.
  bool put_again(size_t offset, size_t count) {
    if (offset > at_ || count > at_ - offset) return false;
    return put(bytes_.data() + offset, count);
  }
  // `count` copies of a `unit`-byte pattern (1, 2 or 4 bytes).
  bool put_repeated(const uint8_t *unit, size_t unit_bytes, uint64_t count) {
    const uint64_t total = count * unit_bytes;
    if (spilled_ && total > 0) return false;
    if (total > bytes_.size() - at_) {
      // Only the spilled last piece may pass the end: all but the last copy must fit.
      for (uint64_t i = 0; i < count; ++i)
        if (!put(unit, unit_bytes)) return false;
      return true;
    }
    uint8_t *to = bytes_.data() + at_;
    if (unit_bytes == 1) {
      std::memset(to, unit[0], static_cast<size_t>(count));
    } else {
      for (uint64_t i = 0; i < count; ++i, to += unit_bytes) std::memcpy(to, unit, unit_bytes);
    }
    at_ += static_cast<size_t>(total);
    return true;
  }

 private:
  std::span<uint8_t> bytes_;
  size_t at_ = 0;
  bool spilled_ = false;
};

}  // namespace varnel::reader
