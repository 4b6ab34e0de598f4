// The libtessel stand-in: buffered files, fault injection and a real
// file-size limit, zones, byte order, paths, rounding and CT images.
#include "tessel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "support/support.hpp"
#include "tessel/testing.h"

namespace {

using vt::Bytes;
using vt::hex;

constexpr size_t kBuffer = 64 * 1024;

// Runs `call` with errno cleared and expects its result and the errno it
// leaves (taken before anything else can touch errno).
#define EXPECT_ERRNO(call, result, error) \
  do {                                    \
    errno = 0;                            \
    const auto got_ = (call);             \
    const int errno_ = errno;             \
    EXPECT_EQ(got_, result) << #call;     \
    EXPECT_EQ(errno_, error) << #call;    \
  } while (0)

// A byte pattern that does not repeat at the buffer size.
uint8_t pattern(size_t i) { return static_cast<uint8_t>((i * 7 + i / 251) & 0xFF); }

Bytes pattern_bytes(size_t count, size_t first = 0) {
  Bytes out(count);
  for (size_t i = 0; i < count; ++i) out[i] = pattern(first + i);
  return out;
}

// A description from fdbset opened for writing; fdbfree'd by the caller.
TesselFile *open_write(const std::string &path) {
  TesselFile *description = fdbset(0, "STREAM,SEQUENTIAL");
  if (description == nullptr) return nullptr;
  TesselFile *file = fopenw(description, path.c_str(), "", 0);
  if (file == nullptr) fdbfree(description);
  return file;
}

TesselFile *open_read(const std::string &path) { return fopenr("STREAM", path.c_str(), "", 0); }

// One byte as a putc-like writer puts it: stored straight into the put area
// while it has room, through fputb otherwise.
int32_t put_byte(TesselFile *file, uint8_t byte) {
  TesselPutArea *area = tessel_put_area(file);
  if (area->next < area->end) {
    *area->next++ = byte;
    return 0;
  }
  return fputb(file, byte);
}

// Writes `count` pattern bytes through the put area; returns how many were
// accepted before the first failure.
size_t put_pattern(TesselFile *file, size_t count, size_t first = 0) {
  for (size_t i = 0; i < count; ++i) {
    if (put_byte(file, pattern(first + i)) != 0) return i;
  }
  return count;
}

// Runs `body` in a forked child and returns its exit status, or -1 when the
// child did not exit normally (a signal).
template <typename Body>
int exit_status_of_child(Body body) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return -2;
  if (child == 0) _exit(body());
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Switches injected faults off again when a test ends.
struct FaultsOff {
  ~FaultsOff() {
    tessel_fail_writes_after(-1, 0);
    tessel_fail_seeks_after(-1, 0);
  }
};

// ---- TesselFile -----------------------------------------------------------

TEST(TesselFile, WriteAcrossBuffersPatchAndReadBack) {
  vt::TempDir dir;
  const std::string path = dir.file("round.bin");
  TesselFile *file = open_write(path);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(fgeteof(file), 0);
  // Fast path to one byte short of the boundary, fputb across it, an fputm
  // larger than the buffer while bytes are pending, then the fast path again.
  const size_t end = 5 * kBuffer + 123;
  Bytes expected = pattern_bytes(end + 1000);
  ASSERT_EQ(put_pattern(file, kBuffer - 1), kBuffer - 1);
  for (size_t i = kBuffer - 1; i < kBuffer + 2; ++i) ASSERT_EQ(fputb(file, pattern(i)), 0);
  ASSERT_EQ(fputm(file, expected.data() + kBuffer + 2, 3 * kBuffer + 8), 0);
  ASSERT_EQ(fputm(file, expected.data(), 0), 0);
  const size_t so_far = 4 * kBuffer + 10;
  ASSERT_EQ(fgetp(file), static_cast<int64_t>(so_far));
  ASSERT_EQ(put_pattern(file, end - so_far, so_far), end - so_far);
  EXPECT_EQ(fgetp(file), static_cast<int64_t>(end));
  EXPECT_EQ(fgeteof(file), static_cast<int64_t>(end));  // counts the bytes still buffered
  EXPECT_LT(vt::read_file(path).size(), end);
  // Patching earlier bytes: fputp flushes first; overwriting does not
  // lengthen; back at the end, writing goes on.
  ASSERT_EQ(fputp(file, 10), 10);
  EXPECT_EQ(vt::read_file(path).size(), end);
  const uint8_t patch[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  ASSERT_EQ(fputm(file, patch, 4), 0);
  std::memcpy(expected.data() + 10, patch, 4);
  EXPECT_EQ(fgetp(file), 14);
  EXPECT_EQ(fgeteof(file), static_cast<int64_t>(end));
  ASSERT_EQ(fputp(file, static_cast<int64_t>(end)), static_cast<int64_t>(end));
  ASSERT_EQ(put_pattern(file, 1000, end), 1000u);
  EXPECT_EQ(fgeteof(file), static_cast<int64_t>(expected.size()));
  EXPECT_EQ(fclosx(file), 0);
  fdbfree(file);
  EXPECT_EQ(vt::read_file(path), expected);

  TesselFile *in = open_read(path);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(fgeteof(in), static_cast<int64_t>(expected.size()));
  for (size_t i = 0; i < kBuffer + 5; ++i) ASSERT_EQ(fgetb(in), expected[i]) << "at " << i;
  Bytes rest(expected.size() - (kBuffer + 5));
  ASSERT_EQ(fgetm(in, rest.data(), static_cast<int64_t>(rest.size())), 1);
  EXPECT_EQ(rest, Bytes(expected.begin() + kBuffer + 5, expected.end()));
  EXPECT_EQ(fgetp(in), static_cast<int64_t>(expected.size()));
  EXPECT_EQ(fgetb(in), -1);
  EXPECT_EQ(fclosx(in), 0);
  fdbfree(in);
}

TEST(TesselFile, ReadingPositionsAndTheEnd) {
  vt::TempDir dir;
  const std::string path = dir.file("words.bin");
  vt::write_file(path, hex("34 12 | word\n 78 56 34 12 | long\n AB"));
  TesselFile *in = open_read(path);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(fgetw(in), 0x1234);
  EXPECT_EQ(fgetl(in), 0x12345678u);
  EXPECT_EQ(fgetw(in), 0x00AB);  // the byte past the end reads as 0
  EXPECT_EQ(fgetl(in), 0u);
  EXPECT_EQ(fgetb(in), -1);
  EXPECT_EQ(fgetp(in), 7);
  // fgetm of more than is left: 0 and EIO, the rest zero-filled.
  ASSERT_EQ(fputp(in, 4), 4);
  uint8_t buffer[6];
  std::memset(buffer, 0x55, sizeof buffer);
  EXPECT_ERRNO(fgetm(in, buffer, 6), 0, EIO);
  EXPECT_EQ(Bytes(buffer, buffer + 6), hex("34 12 AB 00 00 00"));
  EXPECT_ERRNO(fgetm(in, buffer, 0), 1, 0);
  fdbfree(in);

  vt::write_file(path, pattern_bytes(3 * kBuffer));
  in = open_read(path);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(fgetb(in), pattern(0));
  const int64_t far = 2 * kBuffer + 5;
  // Inside the buffered bytes, far forward, far back, then skips.
  for (const int64_t at : {int64_t{1000}, far, int64_t{3}}) {
    EXPECT_EQ(fputp(in, at), at);
    EXPECT_EQ(fgetb(in), pattern(static_cast<size_t>(at))) << at;
  }
  EXPECT_EQ(fskipb(in, 96), 100);
  EXPECT_EQ(fgetp(in), 100);
  EXPECT_EQ(fgetb(in), pattern(100));
  EXPECT_ERRNO(fskipb(in, -1000), -1, EINVAL);
  EXPECT_ERRNO(fputp(in, -1), -1, EINVAL);
  EXPECT_EQ(fputp(in, 10 * kBuffer), static_cast<int64_t>(10 * kBuffer));  // past the end
  EXPECT_EQ(fgetb(in), -1);
  fdbfree(in);
}

// A move away from the buffered bytes keeps them: coming back reads the same
// bytes again, also after the file changed underneath (nothing was read
// anew), and a read at the new place shows where the file now stands.
TEST(TesselFile, AMoveAwayKeepsTheBufferedBytesForAMoveBack) {
  vt::TempDir dir;
  const std::string path = dir.file("kept.bin");
  vt::write_file(path, pattern_bytes(3 * kBuffer));
  TesselFile *in = open_read(path);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(fgetb(in), pattern(0));  // buffers the first bytes
  const int64_t far = 2 * kBuffer;
  ASSERT_EQ(fputp(in, far), far);
  EXPECT_EQ(fgetp(in), far);
  Bytes changed = pattern_bytes(3 * kBuffer);
  for (uint8_t &byte : changed) byte = static_cast<uint8_t>(~byte);
  vt::write_file(path, changed);  // same length, every byte different
  ASSERT_EQ(fputp(in, 1), 1);     // back inside the buffered bytes
  EXPECT_EQ(fgetp(in), 1);
  EXPECT_EQ(fgetb(in), pattern(1));  // from the buffer, not read again
  ASSERT_EQ(fputp(in, far), far);
  EXPECT_EQ(fgetb(in), changed[static_cast<size_t>(far)]);  // read where the position is
  EXPECT_EQ(fgetp(in), far + 1);
  ASSERT_EQ(fputp(in, far + 10 * kBuffer), far + 10 * kBuffer);
  uint8_t byte = 0;
  EXPECT_ERRNO(fgetm(in, &byte, 1), 0, EIO);  // past the end, wherever the buffer was
  fdbfree(in);
}

// A pipe cannot be read at an offset: it is read in order, moves inside the
// bytes already buffered still work, and a move beyond them fails rather
// than reading the wrong bytes.
TEST(TesselFile, APipeIsReadInOrder) {
  vt::TempDir dir;
  const std::string path = dir.file("fifo");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  const pid_t writer = ::fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    const Bytes bytes = pattern_bytes(3 * kBuffer);
    const int fd = ::open(path.c_str(), O_WRONLY);
    const ssize_t written = fd < 0 ? -1 : ::write(fd, bytes.data(), bytes.size());
    ::_exit(written == static_cast<ssize_t>(bytes.size()) ? 0 : 1);
  }
  TesselFile *in = open_read(path);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(fgetb(in), pattern(0));
  EXPECT_EQ(fgetb(in), pattern(1));
  EXPECT_EQ(fputp(in, 0), 0);  // inside the buffered bytes
  EXPECT_EQ(fgetb(in), pattern(0));
  EXPECT_ERRNO(fputp(in, 2 * kBuffer), -1, ESPIPE);
  Bytes rest(3 * kBuffer - 1);
  EXPECT_EQ(fgetm(in, rest.data(), static_cast<int64_t>(rest.size())), 1);
  const Bytes all = pattern_bytes(3 * kBuffer);
  const auto differs = std::mismatch(rest.begin(), rest.end(), all.begin() + 1);
  EXPECT_EQ(differs.first - rest.begin(), rest.end() - rest.begin());
  fdbfree(in);
  int status = 0;
  ASSERT_EQ(::waitpid(writer, &status, 0), writer);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(TesselFile, OpeningTruncatesAndDeletingDoesNotFlush) {
  vt::TempDir dir;
  const std::string path = dir.file("old.bin");
  vt::write_file(path, pattern_bytes(5000));
  TesselFile *file = open_write(path);  // truncates
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(put_pattern(file, 500), 500u);
  fdbfree(file);  // flushes and closes
  fdbfree(nullptr);
  EXPECT_EQ(vt::read_file(path), pattern_bytes(500));
  errno = EINTR;  // success never clears errno
  file = open_write(path);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(put_pattern(file, 2 * kBuffer + 10), 2 * kBuffer + 10);
  EXPECT_EQ(fputp(file, 0), 0);
  EXPECT_EQ(fcldelete(file), 0);  // removes without flushing
  EXPECT_EQ(errno, EINTR);
  EXPECT_FALSE(vt::file_exists(path));
  EXPECT_ERRNO(fclosx(file), -1, EBADF);  // already closed: a description again
  fdbfree(file);
}

TEST(TesselFile, ADescriptionOpensForReadingAndAgainForWriting) {
  // fopenr takes an option text (a new record) or a description.
  vt::TempDir dir;
  const std::string path = dir.file("old.bin");
  vt::write_file(path, hex("11 22"));
  errno = EINTR;
  TesselFile *in = fopenr("STREAM", path.c_str(), nullptr, 0);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(fgetb(in), 0x11);
  EXPECT_EQ(errno, EINTR);
  EXPECT_ERRNO(fputb(in, 1), -1, EBADF);
  EXPECT_EQ(fclosx(in), 0);
  fdbfree(in);
  TesselFile *description = fdbset(0, "STREAM");
  ASSERT_NE(description, nullptr);
  EXPECT_ERRNO(fgetb(description), -1, EBADF);
  EXPECT_ERRNO(fgetp(description), -1, EBADF);
  EXPECT_ERRNO(fclosx(description), -1, EBADF);
  EXPECT_EQ(fopenr(description, path.c_str(), nullptr, 0), description);
  EXPECT_EQ(fgetw(description), 0x2211);
  EXPECT_EQ(fclosx(description), 0);
  // The closed record can be opened again, for writing this time.
  EXPECT_EQ(fopenw(description, dir.file("out.bin").c_str(), "", 0), description);
  EXPECT_EQ(fputb(description, 1), 0);
  EXPECT_EQ(fclosx(description), 0);
  EXPECT_EQ(vt::read_file(dir.file("out.bin")), hex("01"));
  fdbfree(description);
}

TEST(TesselFile, FailedOpensSetErrnoAndLeaveTheDescription) {
  vt::TempDir dir;
  TesselFile *description = fdbset(0, "STREAM");
  ASSERT_NE(description, nullptr);
  const std::string missing = dir.file("missing.bin");
  EXPECT_ERRNO(fopenr("STREAM", missing.c_str(), "", 0), nullptr, ENOENT);
  EXPECT_ERRNO(fopenr(description, missing.c_str(), "", 0), nullptr, ENOENT);
  EXPECT_ERRNO(fopenr("STREAM", dir.path().c_str(), "", 0), nullptr, EISDIR);
  EXPECT_ERRNO(fopenw(description, dir.file("no/such/dir.bin").c_str(), "", 0), nullptr, ENOENT);
  EXPECT_EQ(fopenw(description, dir.file("ok.bin").c_str(), "", 0), description);
  errno = 0;
  EXPECT_EQ(fopenw(description, dir.file("again.bin").c_str(), "", 0), nullptr);  // already open
  EXPECT_NE(errno, 0);
  fdbfree(description);  // closes the open file
  EXPECT_TRUE(vt::file_exists(dir.file("ok.bin")));
}

// ---- TesselPutArea and tessel_patch_pending ------------------------------

size_t room_of(TesselFile *file) {
  const TesselPutArea *area = tessel_put_area(file);
  return area->next < area->end ? static_cast<size_t>(area->end - area->next) : 0;
}

// Stores `count` bytes straight into the put area, as far as it has room;
// returns how many were stored.
size_t store_directly(TesselFile *file, const Bytes &bytes) {
  TesselPutArea *area = tessel_put_area(file);
  const size_t n = std::min(bytes.size(), room_of(file));
  std::memcpy(area->next, bytes.data(), n);
  area->next += n;
  return n;
}

TEST(TesselPutArea, RoomOnlyWhileAStoreIsSound) {
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"), hex("01 02 03"));
  TesselFile *description = fdbset(0, "STREAM,SEQUENTIAL");
  TesselFile *in = open_read(dir.file("in.bin"));
  ASSERT_NE(description, nullptr);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(room_of(description), 0u);  // not open
  EXPECT_EQ(room_of(in), 0u);           // open for reading
  ASSERT_EQ(fopenw(description, dir.file("out.bin").c_str(), "", 0), description);
  TesselFile *file = description;
  EXPECT_EQ(room_of(file), kBuffer);
  ASSERT_EQ(put_pattern(file, 10), 10u);
  EXPECT_EQ(room_of(file), kBuffer - 10);
  EXPECT_EQ(fgetp(file), 10);
  EXPECT_EQ(fgeteof(file), 10);
  ASSERT_EQ(fputp(file, 4), 4);  // flushed: the whole buffer is room again
  EXPECT_EQ(room_of(file), kBuffer);
  EXPECT_EQ(fclosx(file), 0);
  EXPECT_EQ(room_of(file), 0u);  // closed
  EXPECT_EQ(vt::read_file(dir.file("out.bin")), pattern_bytes(10));
  fdbfree(file);
  fdbfree(in);
}

TEST(TesselPutArea, DirectStoresStayInOrderWithFputbAndFputm) {
  vt::TempDir dir;
  const std::string path = dir.file("order.bin");
  TesselFile *file = open_write(path);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(put_byte(file, 0x41), 0);
  ASSERT_EQ(fputb(file, 0x42), 0);
  ASSERT_EQ(fputm(file, "CD", 2), 0);
  ASSERT_EQ(store_directly(file, hex("45 46 47")), 3u);
  ASSERT_EQ(fputb(file, 0x48), 0);
  // Fill the buffer to its end directly, then the host's calls flush it and
  // go on behind it; a direct store after them lands after them.
  const Bytes filler = pattern_bytes(kBuffer - 8);
  ASSERT_EQ(store_directly(file, filler), filler.size());
  EXPECT_EQ(room_of(file), 0u);
  EXPECT_EQ(vt::read_file(path).size(), 0u);  // nothing written yet
  ASSERT_EQ(fputb(file, 0x49), 0);
  EXPECT_EQ(vt::read_file(path).size(), kBuffer);
  ASSERT_EQ(put_byte(file, 0x4A), 0);
  ASSERT_EQ(fputm(file, "K", 1), 0);
  ASSERT_EQ(put_byte(file, 0x4C), 0);
  EXPECT_EQ(fgetp(file), static_cast<int64_t>(kBuffer + 4));
  EXPECT_EQ(fclosx(file), 0);
  fdbfree(file);
  EXPECT_EQ(vt::read_file(path),
            vt::concat({hex("41 42 43 44 45 46 47 48"), filler, hex("49 4A 4B 4C")}));
}

// A real file-size limit (1000 bytes), in a child process.  Direct stores
// never fail: the failure belongs to the call that flushes them, whichever
// it is, and every later call fails too.  The child's status names the
// failing step.
TEST(TesselPutArea, FailureIsSeenByTheCallThatFlushes) {
  enum class Flusher { kFputb, kFputm, kFputp, kFclosx };
  for (const Flusher flusher : {Flusher::kFputb, Flusher::kFputm, Flusher::kFputp, Flusher::kFclosx}) {
    SCOPED_TRACE(static_cast<int>(flusher));
    vt::TempDir dir;
    const std::string path = dir.file("limited.bin");
    const int step = exit_status_of_child([&] {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit {};
      limit.rlim_cur = limit.rlim_max = 1000;
      TesselFile *file = setrlimit(RLIMIT_FSIZE, &limit) == 0 ? open_write(path) : nullptr;
      if (file == nullptr) return 10;
      // A full buffer for the writes, 2000 bytes for the move and the close.
      const size_t count = flusher == Flusher::kFputb || flusher == Flusher::kFputm ? kBuffer : 2000;
      if (store_directly(file, pattern_bytes(count)) != count) return 11;
      errno = 0;
      int64_t result = 0;
      switch (flusher) {
        case Flusher::kFputb: result = fputb(file, 0); break;
        case Flusher::kFputm: result = fputm(file, "x", 1); break;
        case Flusher::kFputp: result = fputp(file, 0); break;
        case Flusher::kFclosx: result = fclosx(file); break;
      }
      if (result != -1 || errno != EFBIG) return 12;
      if (flusher != Flusher::kFclosx) {
        if (room_of(file) != 0) return 13;  // failed: no direct stores any more
        errno = 0;
        if (fputb(file, 0) != -1 || errno != EFBIG) return 14;
        errno = 0;
        if (fclosx(file) != -1 || errno != EFBIG) return 15;
      }
      fdbfree(file);
      return 0;
    });
    EXPECT_EQ(step, 0);
    EXPECT_EQ(vt::read_file(path), pattern_bytes(1000));
  }
}

// An injected write budget is met to the byte by direct stores spread over
// two files: each file's room never reaches past what the budget leaves.
TEST(TesselPutArea, InjectedBudgetIsExactAcrossFiles) {
  FaultsOff off;
  vt::TempDir dir;
  TesselFile *a = open_write(dir.file("a.bin"));
  TesselFile *b = open_write(dir.file("b.bin"));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  tessel_fail_writes_after(100, ENOSPC);
  EXPECT_EQ(room_of(a), 0u);  // the next byte asks for a grant
  ASSERT_EQ(put_byte(a, pattern(0)), 0);
  EXPECT_EQ(room_of(a), 99u);
  ASSERT_EQ(store_directly(a, pattern_bytes(59, 1)), 59u);
  ASSERT_EQ(put_byte(b, pattern(0)), 0);  // charges a's 59, leaving 40
  EXPECT_EQ(room_of(a), 0u);
  EXPECT_EQ(room_of(b), 39u);
  EXPECT_EQ(store_directly(b, pattern_bytes(50, 1)), 39u);
  EXPECT_ERRNO(put_byte(a, pattern(60)), -1, ENOSPC);
  EXPECT_ERRNO(put_byte(b, pattern(40)), -1, ENOSPC);
  EXPECT_ERRNO(fclosx(a), -1, ENOSPC);
  EXPECT_ERRNO(fclosx(b), -1, ENOSPC);
  fdbfree(a);
  fdbfree(b);
  EXPECT_EQ(vt::read_file(dir.file("a.bin")), pattern_bytes(60));
  EXPECT_EQ(vt::read_file(dir.file("b.bin")), pattern_bytes(40));
}

TEST(TesselPatchPending, OnlyBytesStillInTheBuffer) {
  FaultsOff off;
  vt::TempDir dir;
  const std::string path = dir.file("patch.bin");
  TesselFile *file = open_write(path);
  ASSERT_NE(file, nullptr);
  const Bytes first = hex("00 01 02 03 04 05 06 07");
  ASSERT_EQ(fputm(file, first.data(), 8), 0);
  const uint8_t patch[4] = {0xAA, 0xBB, 0xCC, 0xDD};
  EXPECT_ERRNO(tessel_patch_pending(file, 2, patch, 2), 1, 0);
  EXPECT_EQ(tessel_patch_pending(file, 6, patch + 2, 2), 1);  // up to the end written
  EXPECT_EQ(tessel_patch_pending(file, 8, patch, 0), 1);      // nothing, at the end
  EXPECT_EQ(fgetp(file), 8);                                  // the position stays
  EXPECT_EQ(vt::read_file(path).size(), 0u);                  // nothing flushed
  EXPECT_ERRNO(tessel_patch_pending(file, 7, patch, 2), 0, 0);  // past the end written
  EXPECT_EQ(tessel_patch_pending(file, 9, patch, 0), 0);
  EXPECT_EQ(tessel_patch_pending(file, -1, patch, 1), 0);
  EXPECT_EQ(tessel_patch_pending(file, 0, nullptr, 1), 0);
  // Bytes 0 to 7 leave the buffer; 8 to 11 are pending at its start.
  ASSERT_EQ(fputp(file, 8), 8);
  ASSERT_EQ(put_pattern(file, 4), 4u);
  EXPECT_EQ(tessel_patch_pending(file, 4, patch, 2), 0);  // flushed already
  EXPECT_EQ(tessel_patch_pending(file, 7, patch, 2), 0);  // straddles the buffer's start
  EXPECT_EQ(tessel_patch_pending(file, 9, patch + 1, 3), 1);
  EXPECT_EQ(tessel_patch_pending(nullptr, 0, patch, 1), 0);
  EXPECT_EQ(fclosx(file), 0);
  EXPECT_EQ(tessel_patch_pending(file, 0, patch, 1), 0);  // closed
  fdbfree(file);
  EXPECT_EQ(vt::read_file(path), vt::concat({hex("00 01 AA BB 04 05 CC DD"),  // the first buffer
                                             pattern_bytes(1), hex("BB CC DD")}));

  // Read files and failed files are never patched.
  vt::write_file(path, hex("01 02 03"));
  TesselFile *in = open_read(path);
  ASSERT_NE(in, nullptr);
  ASSERT_EQ(fgetb(in), 0x01);
  EXPECT_EQ(tessel_patch_pending(in, 0, patch, 1), 0);
  fdbfree(in);
  file = open_write(dir.file("failed.bin"));
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(put_pattern(file, 10), 10u);
  ASSERT_EQ(fputp(file, 10), 10);
  ASSERT_EQ(put_pattern(file, 5, 10), 5u);
  tessel_fail_seeks_after(0, EIO);
  EXPECT_ERRNO(fputp(file, 0), -1, EIO);
  EXPECT_EQ(tessel_patch_pending(file, 12, patch, 1), 0);
  fdbfree(file);
  EXPECT_EQ(vt::read_file(dir.file("failed.bin")), pattern_bytes(15));
}

// A write file whose close failed is incomplete on disk: fcldelete removes
// it through the record, once.  A file closed sound, or one that an open
// failed on, it leaves alone.
TEST(TesselFile, FcldeleteAfterAFailedClose) {
  FaultsOff off;
  vt::TempDir dir;
  const std::string path = dir.file("partial.bin");
  TesselFile *file = open_write(path);
  ASSERT_NE(file, nullptr);
  tessel_fail_writes_after(5, ENOSPC);
  EXPECT_EQ(put_pattern(file, 10), 5u);
  tessel_fail_writes_after(-1, 0);
  EXPECT_ERRNO(fclosx(file), -1, ENOSPC);
  EXPECT_EQ(vt::read_file(path), pattern_bytes(5));
  errno = EINTR;
  EXPECT_EQ(fcldelete(file), 0);
  EXPECT_EQ(errno, EINTR);  // success leaves errno alone
  EXPECT_FALSE(vt::file_exists(path));
  EXPECT_ERRNO(fcldelete(file), -1, EBADF);  // once

  // A sound close: the file stays.
  const std::string kept = dir.file("kept.bin");
  ASSERT_EQ(fopenw(file, kept.c_str(), "", 0), file);
  ASSERT_EQ(put_pattern(file, 3), 3u);
  EXPECT_EQ(fclosx(file), 0);
  EXPECT_ERRNO(fcldelete(file), -1, EBADF);
  // An open that fails does not make the record name its path, nor the
  // file before it.
  EXPECT_EQ(fopenw(file, dir.file("no/such/dir.bin").c_str(), "", 0), nullptr);
  EXPECT_ERRNO(fcldelete(file), -1, EBADF);
  EXPECT_EQ(vt::read_file(kept), pattern_bytes(3));
  fdbfree(file);
  // A description never opened names nothing.
  TesselFile *description = fdbset(0, "STREAM");
  ASSERT_NE(description, nullptr);
  EXPECT_ERRNO(fcldelete(description), -1, EBADF);
  fdbfree(description);
}

// ---- TesselFault ----------------------------------------------------------

TEST(TesselFault, WriteFailsExactlyAtTheByteAndStaysFailed) {
  const struct {
    size_t budget;
    bool block;  // fputm of 600 bytes, then one large fputm; else byte by byte
    int error;
  } cases[] = {{0, false, ENOSPC},
               {kBuffer - 1, false, ENOSPC},
               {kBuffer, false, ENOSPC},
               {kBuffer + 1, false, ENOSPC},
               {200000, false, ENOSPC},
               {1000, true, EDQUOT},
               {2 * kBuffer + 77, true, EDQUOT}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "budget " << c.budget << (c.block ? " fputm" : " bytes"));
    FaultsOff off;
    vt::TempDir dir;
    const std::string path = dir.file("at.bin");
    TesselFile *file = open_write(path);
    ASSERT_NE(file, nullptr);
    tessel_fail_writes_after(static_cast<int64_t>(c.budget), c.error);
    if (c.block) {
      const Bytes data = pattern_bytes(4 * kBuffer);
      EXPECT_EQ(fputm(file, data.data(), 600), 0);
      EXPECT_ERRNO(fputm(file, data.data() + 600, static_cast<int64_t>(data.size() - 600)), -1, c.error);
    } else {
      EXPECT_ERRNO(put_pattern(file, c.budget + 10), c.budget, c.error);
    }
    tessel_fail_writes_after(-1, 0);  // the disk has room again: the file stays failed
    const uint8_t byte = 0;
    EXPECT_ERRNO(fputb(file, 1), -1, c.error);
    EXPECT_ERRNO(put_byte(file, 1), -1, c.error);
    EXPECT_ERRNO(fputm(file, &byte, 1), -1, c.error);
    EXPECT_ERRNO(fputm(file, &byte, 0), -1, c.error);
    EXPECT_ERRNO(fputp(file, 0), -1, c.error);
    EXPECT_EQ(fgetp(file), static_cast<int64_t>(c.budget));
    EXPECT_EQ(fgeteof(file), static_cast<int64_t>(c.budget));
    EXPECT_ERRNO(fclosx(file), -1, c.error);
    fdbfree(file);
    // The bytes accepted before the failing one reached the file, no more.
    EXPECT_EQ(vt::read_file(path), pattern_bytes(c.budget));
  }
}

TEST(TesselFault, SeekFailureFailsTheWriteFileForGood) {
  FaultsOff off;
  vt::TempDir dir;
  const std::string path = dir.file("seek.bin");
  vt::write_file(dir.file("in.bin"), hex("01 02 03"));
  TesselFile *in = open_read(dir.file("in.bin"));
  TesselFile *file = open_write(path);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(put_pattern(file, 20), 20u);
  tessel_fail_seeks_after(2, EIO);
  EXPECT_EQ(fputp(file, 4), 4);
  EXPECT_EQ(fputp(in, 1), 1);  // read files do not count
  EXPECT_EQ(fputp(file, 20), 20);
  ASSERT_EQ(put_pattern(file, 10, 20), 10u);  // pending when the seek fails
  EXPECT_ERRNO(fputp(file, 4), -1, EIO);
  EXPECT_EQ(fgetp(file), 30);  // did not move
  // Later bytes would land at the wrong place.
  EXPECT_ERRNO(fputb(file, 0), -1, EIO);
  EXPECT_ERRNO(fclosx(file), -1, EIO);
  fdbfree(file);
  fdbfree(in);
  EXPECT_EQ(vt::read_file(path), pattern_bytes(30));  // the accepted bytes were written
}

// A real file-size limit, in a child process: the first limit sits inside
// the second buffer, so the flush made by the fputb of byte 131072 is the
// failing call; under the second, everything is still buffered at the close
// and fclosx reports it.  The child's status names the failing step.
TEST(TesselFault, RealFileSizeLimit) {
  vt::TempDir dir;
  const struct {
    rlim_t limit;
    size_t count, accepted;
  } cases[] = {{100000, 3 * kBuffer, 2 * kBuffer}, {10, 50, 50}};
  for (const auto &c : cases) {
    const std::string path = dir.file(std::to_string(c.limit));
    const int step = exit_status_of_child([&] {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit {};
      limit.rlim_cur = limit.rlim_max = c.limit;
      TesselFile *file = setrlimit(RLIMIT_FSIZE, &limit) == 0 ? open_write(path) : nullptr;
      if (file == nullptr) return 10;
      errno = 0;
      if (put_pattern(file, c.count) != c.accepted) return 11;
      if (c.accepted < c.count) {
        if (errno != EFBIG) return 12;
        errno = 0;
        if (fputb(file, 0) != -1 || errno != EFBIG) return 13;  // sticky
        errno = 0;
        if (fputp(file, 0) != -1 || errno != EFBIG) return 14;
      }
      errno = 0;
      return fclosx(file) == -1 && errno == EFBIG ? 0 : 15;
    });
    EXPECT_EQ(step, 0) << "limit " << c.limit;
    EXPECT_EQ(vt::read_file(path), pattern_bytes(static_cast<size_t>(c.limit)));
  }
}

// ---- TesselZone, TesselByteOrder, TesselPath, TesselProcess --------------

TEST(TesselZone, AccountingFillAndLimit) {
  TesselZone *zone = zcreate(0, 0);
  ASSERT_NE(zone, nullptr);
  tessel_zone_set_fill(zone, 0x5A);
  auto *a = static_cast<uint8_t *>(zalloc(zone, 100));
  tessel_zone_set_fill(zone, -1);
  void *b = zalloc(zone, 28);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Bytes(a, a + 100), vt::repeat(0x5A, 100));
  EXPECT_EQ(tessel_zone_in_use(zone), 128u);
  zfree(zone, a, 100);
  zfree(zone, nullptr, 50);  // ignored
  EXPECT_EQ(tessel_zone_in_use(zone), 28u);
  tessel_zone_set_limit(zone, 100);
  EXPECT_ERRNO(zalloc(zone, 73), nullptr, ENOMEM);
  EXPECT_ERRNO(zalloc(zone, SIZE_MAX), nullptr, ENOMEM);
  void *c = zalloc(zone, 72);
  EXPECT_NE(c, nullptr);
  EXPECT_EQ(tessel_zone_in_use(zone), 100u);
  zfree(zone, b, 28);
  zfree(zone, c, 72);
  EXPECT_EQ(tessel_zone_in_use(zone), 0u);
  tessel_zone_set_limit(zone, 0);  // no limit
  void *d = zalloc(zone, 1000);
  EXPECT_NE(d, nullptr);
  zfree(zone, d, 1000);
  errno = 0;
  EXPECT_EQ(zalloc(nullptr, 1), nullptr);
  EXPECT_NE(errno, 0);
}

TEST(TesselByteOrder, FileOrderIsLeastSignificantFirst) {
  const uint16_t w = fwtow(0x1234);
  const uint32_t l = fltol(0x12345678u);
  Bytes memory(6);
  std::memcpy(memory.data(), &w, 2);
  std::memcpy(memory.data() + 2, &l, 4);
  EXPECT_EQ(memory, hex("34 12 78 56 34 12"));
  // fxtox turns the CT header's file order into host values, in place.
  uint8_t record[10] = {0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xAA, 0xBB, 0xCC, 0xDD};
  fxtox(record, "x2");  // not a digit pair: skipped
  fxtox(record, "1");   // a lone character: nothing
  fxtox(record, nullptr);
  fxtox(nullptr, "12");
  EXPECT_EQ(Bytes(record, record + 10), hex("34 12 78 56 34 12 AA BB CC DD"));
  fxtox(record, "12??1411");
  uint16_t word;
  uint32_t longword;
  std::memcpy(&word, record, 2);
  std::memcpy(&longword, record + 2, 4);
  EXPECT_EQ(word, 0x1234);
  EXPECT_EQ(longword, 0x12345678u);
  EXPECT_EQ(Bytes(record + 6, record + 10), hex("AA BB CC DD"));
}

TEST(TesselPath, FparseName) {
  const struct {
    const char *path, *name;
  } cases[] = {{"dir/Sample.bin", "Sample"},
               {"/a/b/c/icon.ct", "icon"},
               {"archive.tar.gz", "archive.tar"},
               {".profile", ".profile"},
               {"dir/.profile", ".profile"},
               {"plain", "plain"},
               {"dir/", ""},
               {"", ""},
               {"name.", "name"},
               {"dir.d/file", "file"}};
  char buffer[256];
  for (const auto &c : cases) {
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(fparse(buffer, c.path, 0, "NAME"), buffer);
    EXPECT_STREQ(buffer, c.name) << "path " << c.path;
  }
  const std::string long_name = "dir/" + std::string(400, 'n') + ".ext";
  fparse(buffer, long_name.c_str(), 0, "NAME");
  EXPECT_EQ(std::string(buffer), std::string(255, 'n'));  // cut to the buffer
  fparse(buffer, "dir/Sample.bin", 0, "TYPE");            // other parts: the base name
  EXPECT_STREQ(buffer, "Sample.bin");
  EXPECT_EQ(fparse(nullptr, "x", 0, "NAME"), nullptr);
}

TEST(TesselProcess, NintAndMovb) {
  const std::pair<double, int32_t> rounded[] = {{2.5, 3},
                                                {-2.5, -3},
                                                {2.4999, 2},
                                                {-0.5, -1},
                                                {0.49, 0},
                                                {72.0, 72},
                                                {1e300, INT32_MAX},
                                                {-1e300, INT32_MIN},
                                                {2147483647.4, INT32_MAX},
                                                {-2147483648.4, INT32_MIN}};
  for (const auto &[value, expected] : rounded) EXPECT_EQ(nint(value), expected) << value;
  // movb copies overlapping regions in either direction; a count <= 0 copies nothing.
  uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  movb(data, data + 2, 5);
  EXPECT_EQ(Bytes(data, data + 8), hex("01 02 01 02 03 04 05 08"));
  movb(data + 2, data, 5);
  EXPECT_EQ(Bytes(data, data + 8), hex("01 02 03 04 05 04 05 08"));
  movb(data, data + 1, 0);
  movb(data, data + 1, -3);
  EXPECT_EQ(Bytes(data, data + 8), hex("01 02 03 04 05 04 05 08"));
}

TEST(TesselProcessDeathTest, ErrexitAndExitsEndTheProcess) {
  EXPECT_EXIT(errexit("\b allocating memory"), testing::ExitedWithCode(1),
              "tessel: fatal:\b allocating memory");
  vt::TempDir dir;
  const std::string path = dir.file("stdout.txt");
  const int status = exit_status_of_child([&]() -> int {
    if (std::freopen(path.c_str(), "w", stdout) == nullptr) return 99;
    std::fputs("buffered text", stdout);  // no newline: still in the stdio buffer
    exits(7);
  });
  EXPECT_EQ(status, 7);
  EXPECT_EQ(vt::read_file(path), vt::bytes_of("buffered text"));  // flushed first
}

// ---- TesselCt -------------------------------------------------------------

// Opens a CT file; its header, converted to host values, goes to `header`.
TesselFile *open_ct(const std::string &path, uint8_t (&header)[512]) {
  TesselFile *file = open_read(path);
  if (file == nullptr) return nullptr;
  if (fgetm(file, header, 512) != 1) {
    fdbfree(file);
    return nullptr;
  }
  fxtox(header, "828434228484");
  return file;
}

template <typename T>
T field(const uint8_t *header, size_t offset) {
  T v;
  std::memcpy(&v, header + offset, sizeof v);
  return v;
}

TEST(TesselCt, WrittenHeaderAndRowsReadBack) {
  vt::TempDir dir;
  const std::string path = dir.file("image.ct");
  const int32_t width = 70;
  const int32_t rows = 1000;  // 70,000 bytes: rows cross the 64 KiB buffer boundary
  const Bytes pixels = pattern_bytes(static_cast<size_t>(width) * rows);
  ASSERT_EQ(tessel_write_ct(path.c_str(), pixels.data(), width, rows, 1), 0);
  const Bytes whole = vt::read_file(path);
  ASSERT_EQ(whole.size(), 512 + pixels.size());
  EXPECT_EQ(Bytes(whole.begin(), whole.begin() + 80),
            hex("00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 | 0: channels at 4\n"
                "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 | 16\n"
                "E8 03 00 00 46 00 00 00 00 00 00 00 00 00 00 00 | 32: rows, width\n"
                "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 | 48\n"
                "00 00 00 00 00 02 00 00 00 00 00 00 00 00 00 00 | 64: data offset at 68\n"));
  EXPECT_EQ(Bytes(whole.begin() + 80, whole.begin() + 512), vt::repeat(0, 432));
  EXPECT_EQ(Bytes(whole.begin() + 512, whole.end()), pixels);
  // Read back as the icon builders do; then the same file cut inside row 3.
  for (const int32_t full_rows : {rows, 2}) {
    SCOPED_TRACE(full_rows);
    if (full_rows != rows) vt::write_file(path, Bytes(whole.begin(), whole.begin() + 512 + 175));
    uint8_t header[512];
    TesselFile *file = open_ct(path, header);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(field<uint16_t>(header, TESSEL_CT_CHANNELS_OFFSET), 1);
    EXPECT_EQ(field<int32_t>(header, TESSEL_CT_ROWS_OFFSET), rows);
    EXPECT_EQ(field<int32_t>(header, TESSEL_CT_WIDTH_OFFSET), width);
    const int32_t data_offset = field<int32_t>(header, TESSEL_CT_DATA_OFFSET);
    TesselCtReader *reader = ct_finit(file, width);
    ASSERT_NE(reader, nullptr);
    EXPECT_ERRNO(fputp(file, data_offset), 512, 0);
    Bytes row(static_cast<size_t>(width));
    for (int32_t r = 0; r < full_rows; ++r) {
      errno = 0;
      ASSERT_EQ(ct_fgetrow(reader, row.data(), width), 0);
      ASSERT_EQ(errno, 0);
      ASSERT_TRUE(std::equal(row.begin(), row.end(), pixels.begin() + r * width)) << "row " << r;
    }
    EXPECT_EQ(ct_fgetrow(reader, row.data(), 0), 0);
    EXPECT_ERRNO(ct_fgetrow(reader, row.data(), width), -1, EIO);  // past the last whole row
    ct_free(reader);
    fdbfree(file);
  }
  ct_free(nullptr);
  // A file shorter than its header fails at the header read.
  vt::write_file(path, Bytes(100, 0));
  uint8_t header[512];
  EXPECT_EQ(open_ct(path, header), nullptr);
}

TEST(TesselCt, WriterFailuresLeaveNoFile) {
  FaultsOff off;
  vt::TempDir dir;
  const uint8_t pixel = 0;
  const std::string path = dir.file("a.ct");
  EXPECT_ERRNO(tessel_write_ct(path.c_str(), &pixel, -1, 1, 1), -1, EINVAL);
  EXPECT_ERRNO(tessel_write_ct(path.c_str(), &pixel, 1, 1, 0), -1, EINVAL);
  EXPECT_ERRNO(tessel_write_ct(path.c_str(), nullptr, 1, 1, 1), -1, EINVAL);
  EXPECT_EQ(tessel_write_ct(nullptr, &pixel, 1, 1, 1), -1);
  EXPECT_ERRNO(tessel_write_ct(dir.file("no/dir/a.ct").c_str(), &pixel, 1, 1, 1), -1, ENOENT);
  EXPECT_EQ(tessel_write_ct(dir.file("empty.ct").c_str(), nullptr, 0, 0, 1), 0);
  EXPECT_EQ(vt::read_file(dir.file("empty.ct")).size(), 512u);
  // A disk that fills up part way: the incomplete file is removed.
  const Bytes pixels = pattern_bytes(1000);
  tessel_fail_writes_after(600, ENOSPC);
  EXPECT_ERRNO(tessel_write_ct(path.c_str(), pixels.data(), 100, 10, 1), -1, ENOSPC);
  EXPECT_FALSE(vt::file_exists(path));
}

}  // namespace
