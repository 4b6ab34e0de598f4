// Private to the library: never installed.
//
// The buffered file record behind the opaque TesselFile handle, visible to
// the library's own output primitives so that the per-byte path is one
// compare and one store.  Hosts only ever see the opaque handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tessel.h"

enum class TesselMode : int32_t { kDescription = 0, kRead = 1, kWrite = 2 };

struct TesselFile {
  uint32_t magic;        // kTesselFileMagic while the record is alive
  TesselMode mode;       // description (not open), open for reading or writing
  int fd;                // -1 when not open
  int32_t error;         // write side: errno of the first failure, 0 = none (sticky)
  uint8_t *buffer;       // owned, `capacity` bytes
  size_t capacity;
  // Write side: bytes [0, put) are pending; buffer[0] belongs at buffer_pos.
  // put_limit <= capacity is where the fast path must call fputb instead: the
  // buffer end, an injected fault position, or 0 after a failure.
  size_t put;
  size_t put_limit;
  // Read side: bytes [get, fill) are unread; buffer[0] came from buffer_pos.
  size_t get;
  size_t fill;
  int64_t buffer_pos;
  // Read side: bytes the next refill asks for.  Small after opening and
  // after a seek away from the buffered bytes, doubling while reading goes
  // on in order: a reader that looks at a header and then seeks elsewhere
  // does not pay for a whole buffer it never uses.
  size_t read_ahead;
  int64_t high_water;    // write side: largest end of data written so far
  std::string path;      // for fcldelete
  std::string options;
};

inline constexpr uint32_t kTesselFileMagic = 0x54534c46;  // "TSLF"

// One byte to a file open for writing: the library's hot path.
inline int32_t tessel_put_byte(TesselFile *file, uint8_t byte) {
  if (file->put < file->put_limit) {
    file->buffer[file->put++] = byte;
    return 0;
  }
  return fputb(file, byte);
}
