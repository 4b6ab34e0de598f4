// Private to the stand-in: never installed.
//
// The buffered file record behind the opaque TesselFile handle.  Hosts see
// only the handle and, through tessel_put_area, the put area it begins with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "tessel.h"

enum class TesselMode : int32_t { kDescription = 0, kRead = 1, kWrite = 2 };

struct TesselFile {
  // First member: tessel_put_area(file) is the record's own address.
  // Write side: bytes [buffer, put.next) are pending; put.end is where
  // direct stores must stop and fputb take over: the buffer end, an injected
  // fault position, or put.next itself when stores are not allowed (not
  // open for writing, failed).
  TesselPutArea put;
  uint32_t magic;        // kTesselFileMagic while the record is alive
  TesselMode mode;       // description (not open), open for reading or writing
  int fd;                // -1 when not open
  int32_t error;         // write side: errno of the first failure, 0 = none (sticky)
  uint8_t *buffer;       // owned, `capacity` bytes
  size_t capacity;
  // Read side: bytes [get, fill) are unread; buffer[0] came from buffer_pos.
  // Write side: buffer[0] belongs at buffer_pos.
  size_t get;
  size_t fill;
  int64_t buffer_pos;
  // Read side: bytes the next refill asks for.  Small after opening and
  // after a seek away from the buffered bytes, doubling while reading goes
  // on in order: a reader that looks at a header and then seeks elsewhere
  // does not pay for a whole buffer it never uses.
  size_t read_ahead;
  // Read side: the descriptor can be read at any offset (a regular file or a
  // device that seeks).  A pipe cannot: it is read in order, and moves
  // outside the buffered bytes fail.
  bool positioned_reads;
  // Read side: the position, while it lies outside the buffered bytes (-1
  // otherwise).  A move away keeps the buffered bytes, so a reader that
  // comes back into them (a lookup that leaves the file where it found it,
  // then the next lookup nearby) reads nothing again.  While it is set,
  // get == fill, so every read takes the refilling path.
  int64_t detached_pos;
  int64_t high_water;    // write side: largest end of data written so far
  // A write file whose fclosx failed: fcldelete still removes it.
  bool removable_after_close;
  std::string path;      // of the file last opened, for fcldelete
  std::string options;
};

// tessel_put_area casts the handle: the put area must sit at its address.
static_assert(std::is_standard_layout_v<TesselFile>);
static_assert(offsetof(TesselFile, put) == 0);

inline constexpr uint32_t kTesselFileMagic = 0x54534c46;  // "TSLF"

// Bytes pending in the write buffer.
inline size_t pending_bytes(const TesselFile *file) {
  return file->put.next != nullptr ? static_cast<size_t>(file->put.next - file->buffer) : 0;
}

// Sets the pending byte count to `count` (<= capacity) with no room for
// direct stores; grant_put_limit opens the room again.
inline void set_pending_closed(TesselFile *file, size_t count) {
  file->put.next = file->buffer != nullptr ? file->buffer + count : nullptr;
  file->put.end = file->put.next;
}

// Takes back the room for direct stores (the pending bytes stay).
inline void close_put_area(TesselFile *file) { file->put.end = file->put.next; }
