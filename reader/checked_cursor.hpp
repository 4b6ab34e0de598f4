// Private to the reader.
//
// Every byte of a file handed to the reader is untrusted.  These two cursors
// are the only way the reader touches it: a positioned read names its
// position and size, and fails instead of reading when the bytes asked for do
// not lie wholly inside the file (or the in-memory map).  All bounds are
// worked out in 64-bit arithmetic, so no offset from the file can wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "stream/internal.hpp"
#include "varnel.h"

// An open file of known length.
class CheckedFile {
 public:
  CheckedFile(TesselFile *file, int64_t length_bytes) : file_(file), length_(length_bytes) {}

  int64_t length() const { return length_; }

  // True when [position, position + size) lies inside the file.
  bool contains(int64_t position, int64_t size) const {
    return position >= 0 && size >= 0 && position <= length_ && size <= length_ - position;
  }

  // Reads size bytes at position; false (nothing useful in buffer) when they
  // do not lie inside the file or the file could not deliver them.
  bool read_at(int64_t position, void *buffer, int64_t size);

  // Leaves the file positioned at `position` (inside the file or at its end).
  bool seek_to(int64_t position);

 private:
  TesselFile *file_;
  int64_t length_;
};

// Bytes already read into memory (the resource map).
class CheckedBytes {
 public:
  explicit CheckedBytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t size() const { return bytes_.size(); }

  // True when [position, position + size) lies inside the bytes.
  bool contains(uint64_t position, uint64_t size) const {
    return position <= bytes_.size() && size <= bytes_.size() - position;
  }

  // Unchecked accessors: callers test contains() for the whole item first.
  uint8_t u8(size_t position) const { return bytes_[position]; }
  uint32_t be16(size_t position) const { return get_be16(bytes_.data() + position); }
  const uint8_t *at(size_t position) const { return bytes_.data() + position; }

 private:
  std::span<const uint8_t> bytes_;
};
