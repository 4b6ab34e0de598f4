// Buffered files over a raw descriptor: the stand-in for libtessel's file
// layer.
//
// Write side.  Bytes go into a 64 KiB buffer; buffer[0] belongs at file
// position buffer_pos, which is also the descriptor's offset.  The put area
// (put.next) is the one write position: fputb, fputm and direct stores
// through tessel_put_area all append there, so their bytes stay in order.
// A system call happens only when the buffer is full, on fputp (which
// flushes, then moves) and on fclosx.  The first failing write or flush is
// kept in `error` (sticky): the put area closes so that direct stores always
// fall into fputb, and every later write, seek and close of the file fails
// again.
//
// Read side.  Bytes [get, fill) of the buffer are unread; buffer[0] came
// from file position buffer_pos.  Reads are positioned (pread at
// buffer_pos + fill), so a move costs no system call and a reader that
// looks elsewhere and comes back pays only for the bytes it reads; a pipe,
// which cannot be read that way, is read in order.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>

#include "tessel.h"
#include "tessel/fault_injection.hpp"
#include "tessel/file.hpp"

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr size_t kFirstReadAhead = 4 * 1024;

// Every live TesselFile record.  fopenr asks it whether its first argument is
// a record or an option text, without ever reading through an unknown
// pointer.  Never destroyed, so records freed by static destructors of other
// objects still find it.
std::unordered_set<const TesselFile *> &registry() {
  static auto *live = new std::unordered_set<const TesselFile *>();
  return *live;
}
// Guards the registry: each file belongs to one thread, but files are made
// and released by several threads at once (a channel each).  Never
// destroyed either.
std::mutex &registry_lock() {
  static auto *lock = new std::mutex();
  return *lock;
}

bool is_registered(const void *pointer) {
  if (pointer == nullptr) return false;
  const std::lock_guard<std::mutex> guard(registry_lock());
  return registry().count(static_cast<const TesselFile *>(pointer)) != 0;
}

bool is_open_for(const TesselFile *file, TesselMode mode) {
  return file != nullptr && file->magic == kTesselFileMagic && file->mode == mode;
}

// A byte count that a memory block can hold (matters where size_t is 32 bits).
bool fits_in_memory(int64_t count) {
  return static_cast<uint64_t>(count) <= static_cast<uint64_t>(PTRDIFF_MAX);
}

bool is_open(const TesselFile *file) {
  return file != nullptr && file->magic == kTesselFileMagic && file->mode != TesselMode::kDescription;
}

// Writes all `count` bytes, retrying short writes and EINTR.  Returns the
// bytes written; when that is short of count, errno tells why.
size_t write_fully(int fd, const uint8_t *data, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd, data + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n == 0) errno = EIO;  // no progress and no reason: do not spin
      break;
    }
  }
  return done;
}

// Reads up to `count` bytes from `offset` of `file` (in order from a pipe),
// retrying EINTR and short reads until EOF.  Returns the bytes read, or -1
// with errno set on a read error.
ssize_t read_fully(const TesselFile *file, uint8_t *data, size_t count, int64_t offset) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n =
        file->positioned_reads
            ? ::pread(file->fd, data + done, count - done,
                      static_cast<off_t>(offset + static_cast<int64_t>(done)))
            : ::read(file->fd, data + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      return done > 0 ? static_cast<ssize_t>(done) : -1;
    }
  }
  return static_cast<ssize_t>(done);
}

// True when `file` is open for writing and has not failed; else sets errno
// (EBADF, or the file's sticky error).
bool accepts_writes(const TesselFile *file) {
  if (!is_open_for(file, TesselMode::kWrite)) {
    errno = EBADF;
    return false;
  }
  if (file->error != 0) {
    errno = file->error;
    return false;
  }
  return true;
}

// Marks a write file failed for good with `error_number` and sets errno.
void fail_for_good(TesselFile *file, int32_t error_number) {
  tessel::release_holder(file);
  if (file->error == 0) file->error = error_number != 0 ? error_number : EIO;
  close_put_area(file);
  errno = file->error;
}

void note_written(TesselFile *file, size_t count) {
  file->buffer_pos += static_cast<int64_t>(count);
  file->high_water = std::max(file->high_water, file->buffer_pos);
}

// Writes `count` bytes straight to the descriptor at buffer_pos (the buffer
// must be empty).  On failure the file is failed for good.
bool write_direct(TesselFile *file, const uint8_t *data, size_t count) {
  const size_t done = write_fully(file->fd, data, count);
  note_written(file, done);
  if (done < count) {
    fail_for_good(file, errno);
    return false;
  }
  return true;
}

// Writes the pending bytes.  On failure the file is failed for good (the
// bytes that could not be written are dropped) and errno is set.
bool flush_pending(TesselFile *file) {
  tessel::release_holder(file);
  const size_t pending = pending_bytes(file);
  set_pending_closed(file, 0);
  if (pending == 0) return true;
  return write_direct(file, file->buffer, pending);
}

// The injected failure at the byte after the budget: the bytes accepted
// before it reach the file (as on a disk that just filled), the file is
// failed for good.
int32_t fail_injected(TesselFile *file) {
  const int32_t injected = tessel::injected_write_error();
  if (file->error == 0) flush_pending(file);
  fail_for_good(file, injected);
  errno = injected;  // even when the flush itself failed first
  return -1;
}

// Empties the read buffer, which then starts at the read position.
void restart_buffer_at_position(TesselFile *file) {
  file->buffer_pos = file->detached_pos >= 0 ? file->detached_pos
                                             : file->buffer_pos + static_cast<int64_t>(file->fill);
  file->detached_pos = -1;
  file->get = 0;
  file->fill = 0;
}

// Fills the read buffer.  Returns the bytes now buffered: 0 at the end of
// the file (errno kept), -1 on a read error (errno set).
ssize_t refill(TesselFile *file) {
  restart_buffer_at_position(file);
  const size_t wanted = std::min(std::max(file->read_ahead, kFirstReadAhead), file->capacity);
  file->read_ahead = std::min(2 * wanted, file->capacity);
  const ssize_t n = read_fully(file, file->buffer, wanted, file->buffer_pos);
  if (n > 0) file->fill = static_cast<size_t>(n);
  return n;
}

// Closes the descriptor and turns the record back into a description.
// Returns the close(2) result.
int close_descriptor(TesselFile *file) {
  tessel::release_holder(file);
  int result = 0;
  if (file->fd >= 0) result = ::close(file->fd);
  file->fd = -1;
  file->mode = TesselMode::kDescription;
  set_pending_closed(file, 0);
  file->get = file->fill = 0;
  file->buffer_pos = 0;
  file->detached_pos = -1;
  return result;
}

TesselFile *new_record(const char *options) noexcept {
  TesselFile *file = nullptr;
  try {
    file = new TesselFile{};
    file->options = options != nullptr ? options : "";
    file->magic = kTesselFileMagic;
    file->mode = TesselMode::kDescription;
    file->fd = -1;
    const std::lock_guard<std::mutex> guard(registry_lock());
    registry().insert(file);
  } catch (const std::bad_alloc &) {
    delete file;
    errno = ENOMEM;
    return nullptr;
  }
  return file;
}

void delete_record(TesselFile *file) {
  {
    const std::lock_guard<std::mutex> guard(registry_lock());
    registry().erase(file);
  }
  file->magic = 0;
  delete[] file->buffer;
  delete file;
}

// Opens `path` with `open_flags` into the description `file`.
bool open_into(TesselFile *file, const char *path, int open_flags, TesselMode mode) noexcept {
  if (path == nullptr) {
    errno = EINVAL;
    return false;
  }
  // The path is the record's only once the open succeeded: fcldelete must
  // never remove a file that an open failed on.
  std::string opened_path;
  try {
    if (file->buffer == nullptr) {
      file->buffer = new uint8_t[kBufferSize];
      file->capacity = kBufferSize;
    }
    opened_path = path;
  } catch (const std::bad_alloc &) {
    errno = ENOMEM;
    return false;
  }
  int fd;
  do {
    fd = ::open(path, open_flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat info {};
  if (mode == TesselMode::kRead && ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);  // opening a directory "succeeds"; reading it would not
    errno = EISDIR;
    return false;
  }
  file->fd = fd;
  file->mode = mode;
  file->error = 0;
  set_pending_closed(file, 0);
  file->get = file->fill = 0;
  file->buffer_pos = 0;
  file->read_ahead = kFirstReadAhead;
  file->positioned_reads = ::lseek(fd, 0, SEEK_CUR) >= 0;
  file->detached_pos = -1;
  file->high_water = 0;
  file->removable_after_close = false;
  file->path = std::move(opened_path);
  tessel::grant_put_limit(file);
  return true;
}

}  // namespace

namespace tessel {

void recompute_all_put_limits() {
  const std::lock_guard<std::mutex> guard(registry_lock());
  for (const TesselFile *record : registry()) {
    auto *file = const_cast<TesselFile *>(record);
    if (file->mode != TesselMode::kWrite) continue;
    if (file->error != 0 || write_budget_active()) {
      close_put_area(file);  // failed, or the next byte asks for a grant
    } else {
      file->put.end = file->buffer + file->capacity;
    }
  }
}

}  // namespace tessel

extern "C" {

TesselFile *fdbset(int32_t /*reserved*/, const char *options) { return new_record(options); }

void fdbfree(TesselFile *file) {
  if (!is_registered(file)) return;
  if (is_open(file)) {
    const int saved = errno;  // a release has no result to report through
    fclosx(file);
    errno = saved;
  }
  delete_record(file);
}

TesselFile *fopenw(TesselFile *description, const char *path, const char * /*options*/,
                   int32_t /*flags*/) {
  if (!is_registered(description)) {
    errno = EINVAL;
    return nullptr;
  }
  if (description->mode != TesselMode::kDescription) {
    errno = EBUSY;
    return nullptr;
  }
  if (!open_into(description, path, O_WRONLY | O_CREAT | O_TRUNC, TesselMode::kWrite)) {
    return nullptr;
  }
  return description;
}

TesselFile *fopenr(const void *description_or_options, const char *path, const char * /*options*/,
                   int32_t /*flags*/) {
  TesselFile *file;
  bool made_here = false;
  if (is_registered(description_or_options)) {
    file = const_cast<TesselFile *>(static_cast<const TesselFile *>(description_or_options));
    if (file->mode != TesselMode::kDescription) {
      errno = EBUSY;
      return nullptr;
    }
  } else {
    file = new_record(static_cast<const char *>(description_or_options));
    if (file == nullptr) return nullptr;
    made_here = true;
  }
  if (!open_into(file, path, O_RDONLY, TesselMode::kRead)) {
    if (made_here) {
      const int saved = errno;
      delete_record(file);
      errno = saved;
    }
    return nullptr;
  }
  return file;
}

int32_t fclosx(TesselFile *file) {
  if (!is_registered(file) || !is_open(file)) {
    errno = EBADF;
    return -1;
  }
  if (file->mode == TesselMode::kWrite) {
    if (file->error == 0) flush_pending(file);
    const int32_t sticky = file->error;
    const bool closed = close_descriptor(file) == 0;
    // Failed now: the file on disk is incomplete, and fcldelete may still
    // remove it through this record.
    file->removable_after_close = sticky != 0 || !closed;
    if (sticky != 0) {
      errno = sticky;
      return -1;
    }
    if (!closed) {
      file->error = errno;
      return -1;
    }
    return 0;
  }
  return close_descriptor(file) == 0 ? 0 : -1;
}

int32_t fcldelete(TesselFile *file) {
  if (!is_registered(file)) {
    errno = EBADF;
    return -1;
  }
  if (is_open(file)) {
    tessel::release_holder(file);  // the bytes were accepted, though never written
    set_pending_closed(file, 0);
    close_descriptor(file);
  } else if (!file->removable_after_close) {
    errno = EBADF;  // a description, or a file that was closed sound
    return -1;
  }
  file->removable_after_close = false;
  return ::unlink(file->path.c_str()) == 0 ? 0 : -1;
}

int64_t fgetp(TesselFile *file) {
  if (is_open_for(file, TesselMode::kWrite)) {
    return file->buffer_pos + static_cast<int64_t>(pending_bytes(file));
  }
  if (is_open_for(file, TesselMode::kRead)) {
    if (file->detached_pos >= 0) return file->detached_pos;
    return file->buffer_pos + static_cast<int64_t>(file->get);
  }
  errno = EBADF;
  return -1;
}

int64_t fputp(TesselFile *file, int64_t position) {
  if (!is_open(file)) {
    errno = EBADF;
    return -1;
  }
  if (position < 0) {
    errno = EINVAL;
    return -1;
  }
  if (file->mode == TesselMode::kRead) {
    // Inside the buffered window: no system call.
    if (position >= file->buffer_pos &&
        position <= file->buffer_pos + static_cast<int64_t>(file->fill)) {
      file->get = static_cast<size_t>(position - file->buffer_pos);
      file->detached_pos = -1;
      return position;
    }
    // Elsewhere: reads are positioned, so the move itself costs nothing; the
    // next read fetches from there.  A reader that comes back to where it
    // was (a library call that must leave the file as it found it) pays for
    // no system call either way.
    if (!file->positioned_reads) {
      errno = ESPIPE;
      return -1;
    }
    file->detached_pos = position;
    file->get = file->fill;  // the buffered bytes stay for a move back
    file->read_ahead = kFirstReadAhead;
    return position;
  }
  if (file->error != 0) {
    errno = file->error;
    return -1;
  }
  if (!flush_pending(file)) return -1;
  if (const int32_t injected = tessel::injected_seek_error(); injected != 0) {
    fail_for_good(file, injected);
    return -1;
  }
  if (::lseek(file->fd, static_cast<off_t>(position), SEEK_SET) < 0) {
    fail_for_good(file, errno);
    return -1;
  }
  file->buffer_pos = position;
  tessel::count_successful_seek();
  tessel::grant_put_limit(file);
  return position;
}

int64_t fgeteof(TesselFile *file) {
  if (is_open_for(file, TesselMode::kWrite)) {
    return std::max(file->high_water, file->buffer_pos + static_cast<int64_t>(pending_bytes(file)));
  }
  if (is_open_for(file, TesselMode::kRead)) {
    struct stat info {};
    if (::fstat(file->fd, &info) != 0) return -1;
    return static_cast<int64_t>(info.st_size);
  }
  errno = EBADF;
  return -1;
}

int64_t fskipb(TesselFile *file, int64_t count) {
  const int64_t here = fgetp(file);
  if (here < 0) return -1;
  if ((count < 0 && here + count < 0) || (count > 0 && here > INT64_MAX - count)) {
    errno = EINVAL;
    return -1;
  }
  return fputp(file, here + count);
}

int32_t fgetb(TesselFile *file) {
  if (!is_open_for(file, TesselMode::kRead)) {
    errno = EBADF;
    return -1;
  }
  if (file->get == file->fill && refill(file) <= 0) return -1;
  return file->buffer[file->get++];
}

uint16_t fgetw(TesselFile *file) {
  uint8_t bytes[2];
  fgetm(file, bytes, 2);
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t fgetl(TesselFile *file) {
  uint8_t bytes[4];
  fgetm(file, bytes, 4);
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

int32_t fgetm(TesselFile *file, void *buffer, int64_t count) {
  if (count == 0) return 1;
  if (count < 0 || !fits_in_memory(count)) {
    errno = EINVAL;
    return 0;
  }
  auto *out = static_cast<uint8_t *>(buffer);
  if (out == nullptr) {
    errno = EINVAL;
    return 0;
  }
  const auto wanted = static_cast<size_t>(count);
  if (!is_open_for(file, TesselMode::kRead)) {
    std::memset(out, 0, wanted);
    errno = EBADF;
    return 0;
  }
  size_t done = 0;
  bool failed = false;
  while (done < wanted) {
    if (file->get < file->fill) {
      const size_t n = std::min(wanted - done, file->fill - file->get);
      std::memcpy(out + done, file->buffer + file->get, n);
      file->get += n;
      done += n;
    } else if (wanted - done >= file->capacity) {
      // Large remainder: read straight into the caller's buffer.
      restart_buffer_at_position(file);
      const ssize_t n = read_fully(file, out + done, wanted - done, file->buffer_pos);
      if (n < 0) {
        failed = true;
        break;
      }
      file->buffer_pos += n;
      done += static_cast<size_t>(n);
      if (done < wanted) break;  // end of file
    } else if (const ssize_t n = refill(file); n <= 0) {
      failed = n < 0;
      break;
    }
  }
  if (done == wanted) return 1;
  std::memset(out + done, 0, wanted - done);
  if (!failed) errno = EIO;  // the file ended early
  return 0;
}

int32_t fputb(TesselFile *file, int32_t byte) {
  if (!accepts_writes(file)) return -1;
  tessel::settle_write_budget();
  if (tessel::write_budget_active() && tessel::write_budget_left() == 0) {
    return fail_injected(file);
  }
  if (pending_bytes(file) >= file->capacity && !flush_pending(file)) return -1;
  *file->put.next++ = static_cast<uint8_t>(byte);
  tessel::charge_write_budget(1);
  tessel::grant_put_limit(file);
  return 0;
}

int32_t fputm(TesselFile *file, const void *data, int64_t count) {
  if (!accepts_writes(file)) return -1;
  if (count < 0 || !fits_in_memory(count) || (data == nullptr && count > 0)) {
    errno = EINVAL;
    return -1;
  }
  tessel::settle_write_budget();
  auto wanted = static_cast<size_t>(count);
  bool inject = false;
  if (tessel::write_budget_active() && tessel::write_budget_left() < count) {
    wanted = static_cast<size_t>(tessel::write_budget_left());
    inject = true;
  }
  const auto *in = static_cast<const uint8_t *>(data);
  size_t done = 0;
  bool written = true;
  while (written && done < wanted) {
    const size_t pending = pending_bytes(file);
    if (pending == 0 && wanted - done >= file->capacity) {
      // Whole buffers' worth: straight to the descriptor.
      const size_t n = wanted - done - (wanted - done) % file->capacity;
      written = write_direct(file, in + done, n);
      done += n;
    } else if (pending == file->capacity) {
      written = flush_pending(file);
    } else {
      const size_t n = std::min(wanted - done, file->capacity - pending);
      std::memcpy(file->put.next, in + done, n);
      file->put.next += n;
      done += n;
    }
  }
  tessel::charge_write_budget(static_cast<int64_t>(done));
  if (!written) return -1;
  if (inject) return fail_injected(file);
  tessel::grant_put_limit(file);
  return 0;
}

int32_t tessel_patch_pending(TesselFile *file, int64_t position, const void *data, size_t count) {
  if (!is_open_for(file, TesselMode::kWrite) || file->error != 0) return 0;
  if (data == nullptr && count > 0) return 0;
  if (position < file->buffer_pos) return 0;  // flushed already, or straddling the start
  const size_t pending = pending_bytes(file);
  const auto offset = static_cast<uint64_t>(position - file->buffer_pos);
  if (offset > pending || count > pending - offset) return 0;
  if (count > 0) std::memcpy(file->buffer + offset, data, count);
  return 1;
}

}  // extern "C"
