// A read cursor over untrusted bytes: every read is checked against the end,
// numbers are composed big-endian (the Macintosh order) whatever the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>


namespace varnel_tool {

class ByteCursor {
 public:
  explicit ByteCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t remaining() const { return bytes_.size() - position_; }
  bool has(size_t count) const { return count <= remaining(); }

  // Each read returns false (and moves nothing) when the bytes run out.
  bool read_u8(uint8_t &value) {
    if (!has(1)) return false;
    value = bytes_[position_++];
    return true;
  }
  bool read_u16(uint16_t &value) {
    if (!has(2)) return false;
    value = static_cast<uint16_t>((uint32_t{bytes_[position_]} << 8) | bytes_[position_ + 1]);
    position_ += 2;
    return true;
  }
  bool read_i16(int16_t &value) {
    uint16_t raw = 0;
    if (!read_u16(raw)) return false;
    value = static_cast<int16_t>(raw);
    return true;
  }
  bool read_u32(uint32_t &value) {
    if (!has(4)) return false;
    value = (uint32_t{bytes_[position_]} << 24) | (uint32_t{bytes_[position_ + 1]} << 16) |
            (uint32_t{bytes_[position_ + 2]} << 8) | bytes_[position_ + 3];
    position_ += 4;
    return true;
  }
  bool read_bytes(size_t count, std::span<const uint8_t> &out) {
    if (!has(count)) return false;
    out = bytes_.subspan(position_, count);
    position_ += count;
    return true;
  }
  bool skip(size_t count) {
    if (!has(count)) return false;
    position_ += count;
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t position_ = 0;
};

}  // namespace varnel_tool
