// The libtessel stand-in: buffered files, fault injection and a real
// file-size limit, zones, byte order, paths, rounding and CT images.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/support.hpp"
#include "tessel.h"
#include "tessel/file.hpp"

namespace {

using vt::Bytes;
using vt::hex;

constexpr size_t kBuffer = 64 * 1024;

// A byte pattern that does not repeat at the buffer size.
uint8_t pattern(size_t i) { return static_cast<uint8_t>((i * 7 + i / 251) & 0xFF); }

Bytes pattern_bytes(size_t count) {
  Bytes out(count);
  for (size_t i = 0; i < count; ++i) out[i] = pattern(i);
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

// Writes `count` pattern bytes through the inline fast path; returns how
// many were accepted before the first failure.
size_t put_pattern(TesselFile *file, size_t count, size_t first = 0) {
  for (size_t i = 0; i < count; ++i) {
    if (tessel_put_byte(file, pattern(first + i)) != 0) return i;
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

// ---- TesselFile -----------------------------------------------------------

TEST(TesselFile, RoundTripAcrossBufferBoundary) {
  vt::TempDir dir;
  const std::string path = dir.file("round.bin");
  TesselFile *file = open_write(path);
  ASSERT_NE(file, nullptr);
  const size_t total = 3 * kBuffer + 123;
  // Fast path up to one byte short of the boundary, fputb across it, fputm
  // over the next boundary, then the fast path again.
  ASSERT_EQ(put_pattern(file, kBuffer - 1), kBuffer - 1);
  for (size_t i = kBuffer - 1; i < kBuffer + 2; ++i) ASSERT_EQ(fputb(file, pattern(i)), 0);
  Bytes middle = pattern_bytes(2 * kBuffer + 10);
  ASSERT_EQ(fputm(file, middle.data() + kBuffer + 2, kBuffer + 8), 0);
  const size_t so_far = 2 * kBuffer + 10;
  ASSERT_EQ(fgetp(file), static_cast<int64_t>(so_far));
  ASSERT_EQ(put_pattern(file, total - so_far, so_far), total - so_far);
  EXPECT_EQ(fgetp(file), static_cast<int64_t>(total));
  EXPECT_EQ(fgeteof(file), static_cast<int64_t>(total));
  EXPECT_EQ(fclosx(file), 0);
  fdbfree(file);
  EXPECT_EQ(vt::read_file(path), pattern_bytes(total));

  TesselFile *in = open_read(path);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(fgeteof(in), static_cast<int64_t>(total));
  for (size_t i = 0; i < kBuffer + 5; ++i) ASSERT_EQ(fgetb(in), pattern(i)) << "at " << i;
  Bytes rest(total - (kBuffer + 5));
  ASSERT_EQ(fgetm(in, rest.data(), static_cast<int64_t>(rest.size())), 1);
  for (size_t i = 0; i < rest.size(); ++i) ASSERT_EQ(rest[i], pattern(kBuffer + 5 + i));
  EXPECT_EQ(fgetb(in), -1);
  EXPECT_EQ(fclosx(in), 0);
  fdbfree(in);
}

TEST(TesselFile, LargeFputmGoesStraightThrough) {
  vt::TempDir dir;
  const std::string path = dir.file("large.bin");
  TesselFile *file = open_write(path);
  ASSERT_NE(file, nullptr);
  Bytes data = pattern_bytes(5 * kBuffer + 17);
  ASSERT_EQ(fputb(file, 0xEE), 0);  // the buffer is not empty when fputm starts
  ASSERT_EQ(fputm(file, data.data(), static_cast<int64_t>(data.size())), 0);
  ASSERT_EQ(fputm(file, data.data(), 0), 0);
  EXPECT_EQ(fgetp(file), static_cast<int64_t>(data.size() + 1));
  EXPECT_EQ(fclosx(file), 0);
  fdbfree(file);
  EXPECT_EQ(vt::read_file(path), vt::concat({Bytes{0xEE}, data}));

  TesselFile *in = open_read(path);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(fgetb(in), 0xEE);
  Bytes back(data.size());
  ASSERT_EQ(fgetm(in, back.data(), static_cast<int64_t>(back.size())), 1);
  EXPECT_EQ(back, data);
  EXPECT_EQ(fgetp(in), static_cast<int64_t>(data.size() + 1));
  fdbfree(in);
}

TEST(TesselFile, PatchBackAndForth) {
  vt::TempDir dir;
  const std::string path = dir.file("patch.bin");
  TesselFile *file = open_write(path);
  ASSERT_NE(file, nullptr);
  const size_t first = 100 * 1024;
  ASSERT_EQ(put_pattern(file, first), first);
  const int64_t end = fgetp(file);
  ASSERT_EQ(end, static_cast<int64_t>(first));
  ASSERT_EQ(fputp(file, 10), 10);
  EXPECT_EQ(fgetp(file), 10);
  const uint8_t patch[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  ASSERT_EQ(fputm(file, patch, 4), 0);
  EXPECT_EQ(fgetp(file), 14);
  EXPECT_EQ(fgeteof(file), end);  // overwriting does not lengthen
  ASSERT_EQ(fputp(file, end), end);
  ASSERT_EQ(put_pattern(file, 1000, first), 1000u);
  EXPECT_EQ(fgeteof(file), end + 1000);
  EXPECT_EQ(fclosx(file), 0);
  fdbfree(file);

  Bytes expected = pattern_bytes(first + 1000);
  std::memcpy(expected.data() + 10, patch, 4);
  EXPECT_EQ(vt::read_file(path), expected);
}

TEST(TesselFile, ReadersAtTheEndOfTheFile) {
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
  // fgetm of more than is left: 0, errno set, the rest zero-filled.
  ASSERT_EQ(fputp(in, 4), 4);
  uint8_t buffer[6];
  std::memset(buffer, 0x55, sizeof buffer);
  errno = 0;
  EXPECT_EQ(fgetm(in, buffer, 6), 0);
  EXPECT_NE(errno, 0);
  EXPECT_EQ(Bytes(buffer, buffer + 6), hex("34 12 AB 00 00 00"));
  errno = 0;
  EXPECT_EQ(fgetm(in, buffer, 0), 1);
  EXPECT_EQ(errno, 0);
  fdbfree(in);
}

TEST(TesselFile, FgeteofCountsBufferedBytes) {
  vt::TempDir dir;
  const std::string path = dir.file("eof.bin");
  TesselFile *file = open_write(path);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(fgeteof(file), 0);
  ASSERT_EQ(put_pattern(file, 300), 300u);
  EXPECT_EQ(fgeteof(file), 300);
  EXPECT_EQ(vt::read_file(path).size(), 0u);  // still buffered: no system call yet
  ASSERT_EQ(fputp(file, 100), 100);
  EXPECT_EQ(fgeteof(file), 300);
  EXPECT_EQ(vt::read_file(path).size(), 300u);  // fputp flushed
  EXPECT_EQ(fclosx(file), 0);
  fdbfree(file);
}

TEST(TesselFile, ReadPositioningInsideAndOutsideTheBuffer) {
  vt::TempDir dir;
  const std::string path = dir.file("seek.bin");
  vt::write_file(path, pattern_bytes(3 * kBuffer));
  TesselFile *in = open_read(path);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(fgetb(in), pattern(0));
  EXPECT_EQ(fputp(in, 1000), 1000);  // inside the buffered window
  EXPECT_EQ(fgetb(in), pattern(1000));
  EXPECT_EQ(fputp(in, 2 * kBuffer + 5), static_cast<int64_t>(2 * kBuffer + 5));  // outside
  EXPECT_EQ(fgetb(in), pattern(2 * kBuffer + 5));
  EXPECT_EQ(fputp(in, 3), 3);  // backwards, outside
  EXPECT_EQ(fgetb(in), pattern(3));
  EXPECT_EQ(fskipb(in, 96), 100);
  EXPECT_EQ(fgetp(in), 100);
  EXPECT_EQ(fgetb(in), pattern(100));
  errno = 0;
  EXPECT_EQ(fskipb(in, -1000), -1);
  EXPECT_NE(errno, 0);
  errno = 0;
  EXPECT_EQ(fputp(in, -1), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(fputp(in, 10 * kBuffer), static_cast<int64_t>(10 * kBuffer));  // past the end
  EXPECT_EQ(fgetb(in), -1);
  fdbfree(in);
}

TEST(TesselFile, TruncateDeleteAndFree) {
  vt::TempDir dir;
  const std::string path = dir.file("old.bin");
  vt::write_file(path, pattern_bytes(5000));
  TesselFile *file = open_write(path);  // truncates
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(put_pattern(file, 500), 500u);
  fdbfree(file);  // flushes and closes
  fdbfree(nullptr);
  EXPECT_EQ(vt::read_file(path), pattern_bytes(500));
  file = open_write(path);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(put_pattern(file, kBuffer + 10), kBuffer + 10);
  EXPECT_EQ(fcldelete(file), 0);  // removes without flushing
  EXPECT_FALSE(vt::file_exists(path));
  errno = 0;
  EXPECT_EQ(fclosx(file), -1);  // already closed: the record is a description again
  EXPECT_EQ(errno, EBADF);
  fdbfree(file);
}

TEST(TesselFile, OpeningWithOptionTextOrDescription) {
  vt::TempDir dir;
  const std::string path = dir.file("in.bin");
  vt::write_file(path, hex("11 22"));
  TesselFile *in = fopenr("STREAM", path.c_str(), nullptr, 0);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(fgetb(in), 0x11);
  EXPECT_EQ(fclosx(in), 0);
  fdbfree(in);
  TesselFile *description = fdbset(0, "STREAM");
  ASSERT_NE(description, nullptr);
  EXPECT_EQ(fopenr(description, path.c_str(), nullptr, 0), description);
  EXPECT_EQ(fgetw(description), 0x2211);
  EXPECT_EQ(fclosx(description), 0);
  // The closed record can be opened again, for writing this time.
  EXPECT_EQ(fopenw(description, dir.file("out.bin").c_str(), "", 0), description);
  EXPECT_EQ(fputb(description, 1), 0);
  EXPECT_EQ(fclosx(description), 0);
  EXPECT_EQ(vt::read_file(dir.file("out.bin")), hex("01"));
  // Failures set errno and leave the description the caller's.
  errno = 0;
  EXPECT_EQ(fopenr("STREAM", dir.file("missing.bin").c_str(), "", 0), nullptr);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(fopenr(description, dir.file("missing.bin").c_str(), "", 0), nullptr);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(fopenr("STREAM", dir.path().c_str(), "", 0), nullptr);
  EXPECT_EQ(errno, EISDIR);
  errno = 0;
  EXPECT_EQ(fopenw(description, dir.file("no/such/dir.bin").c_str(), "", 0), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(fopenw(description, dir.file("ok.bin").c_str(), "", 0), description);
  errno = 0;
  EXPECT_EQ(fopenw(description, dir.file("again.bin").c_str(), "", 0), nullptr);  // already open
  EXPECT_NE(errno, 0);
  fdbfree(description);  // closes the open file
  EXPECT_TRUE(vt::file_exists(dir.file("ok.bin")));
}

TEST(TesselFile, SuccessNeverClearsErrno) {
  vt::TempDir dir;
  const std::string path = dir.file("errno.bin");
  errno = EINTR;
  TesselFile *file = open_write(path);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(put_pattern(file, 2 * kBuffer), 2 * kBuffer);
  EXPECT_EQ(fputp(file, 0), 0);
  EXPECT_EQ(fclosx(file), 0);
  TesselFile *in = fopenr(file, path.c_str(), "", 0);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(fgetb(in), pattern(0));
  EXPECT_EQ(errno, EINTR);
  fdbfree(in);
}

TEST(TesselFile, WrongModeCallsFailWithErrno) {
  vt::TempDir dir;
  const std::string path = dir.file("mode.bin");
  vt::write_file(path, hex("01"));
  TesselFile *in = open_read(path);
  ASSERT_NE(in, nullptr);
  errno = 0;
  EXPECT_EQ(fputb(in, 1), -1);
  EXPECT_EQ(errno, EBADF);
  TesselFile *description = fdbset(0, "");
  errno = 0;
  EXPECT_EQ(fgetb(description), -1);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(fgetp(description), -1);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(fclosx(description), -1);
  EXPECT_EQ(errno, EBADF);
  fdbfree(description);
  fdbfree(in);
}

// ---- TesselFault ----------------------------------------------------------

// Switches injected faults off again when a test ends.
struct FaultsOff {
  ~FaultsOff() {
    tessel_fail_writes_after(-1, 0);
    tessel_fail_seeks_after(-1, 0);
  }
};

TEST(TesselFault, FailsExactlyAtTheByteAndStaysFailed) {
  for (const size_t budget : {size_t{0}, kBuffer - 1, kBuffer, kBuffer + 1, size_t{200000}}) {
    SCOPED_TRACE(budget);
    FaultsOff off;
    vt::TempDir dir;
    const std::string path = dir.file("at.bin");
    TesselFile *file = open_write(path);
    ASSERT_NE(file, nullptr);
    tessel_fail_writes_after(static_cast<int64_t>(budget), ENOSPC);
    errno = 0;
    EXPECT_EQ(put_pattern(file, budget + 10), budget);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(fgetp(file), static_cast<int64_t>(budget));
    errno = 0;
    EXPECT_EQ(fclosx(file), -1);
    EXPECT_EQ(errno, ENOSPC);
    fdbfree(file);
    // The bytes accepted before the failing one reached the file, no more.
    EXPECT_EQ(vt::read_file(path), pattern_bytes(budget));
  }
}

TEST(TesselFault, FailsInsideFputm) {
  for (const size_t budget : {size_t{1000}, 2 * kBuffer + 77}) {  // small and large blocks
    SCOPED_TRACE(budget);
    FaultsOff off;
    vt::TempDir dir;
    const std::string path = dir.file("fputm.bin");
    TesselFile *file = open_write(path);
    ASSERT_NE(file, nullptr);
    tessel_fail_writes_after(static_cast<int64_t>(budget), EDQUOT);
    const Bytes data = pattern_bytes(4 * kBuffer);
    EXPECT_EQ(fputm(file, data.data(), 600), 0);
    errno = 0;
    EXPECT_EQ(fputm(file, data.data() + 600, static_cast<int64_t>(data.size() - 600)), -1);
    EXPECT_EQ(errno, EDQUOT);
    EXPECT_EQ(fgetp(file), static_cast<int64_t>(budget));
    EXPECT_EQ(fclosx(file), -1);
    fdbfree(file);
    EXPECT_EQ(vt::read_file(path), pattern_bytes(budget));
  }
}

TEST(TesselFault, StickyErrorOnEveryLaterCall) {
  FaultsOff off;
  vt::TempDir dir;
  const std::string path = dir.file("sticky.bin");
  TesselFile *file = open_write(path);
  ASSERT_NE(file, nullptr);
  tessel_fail_writes_after(5, ENOSPC);
  EXPECT_EQ(put_pattern(file, 10), 5u);
  tessel_fail_writes_after(-1, 0);  // the disk has room again: the file stays failed
  const uint8_t byte = 0;
  errno = 0;
  EXPECT_EQ(fputb(file, 1), -1);
  EXPECT_EQ(errno, ENOSPC);
  errno = 0;
  EXPECT_EQ(tessel_put_byte(file, 1), -1);
  EXPECT_EQ(errno, ENOSPC);
  errno = 0;
  EXPECT_EQ(fputm(file, &byte, 1), -1);
  EXPECT_EQ(errno, ENOSPC);
  errno = 0;
  EXPECT_EQ(fputm(file, &byte, 0), -1);
  EXPECT_EQ(errno, ENOSPC);
  errno = 0;
  EXPECT_EQ(fputp(file, 0), -1);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(fgetp(file), 5);
  EXPECT_EQ(fgeteof(file), 5);
  errno = 0;
  EXPECT_EQ(fclosx(file), -1);
  EXPECT_EQ(errno, ENOSPC);
  fdbfree(file);
  EXPECT_EQ(vt::read_file(path), pattern_bytes(5));
}

TEST(TesselFault, SeekFault) {
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
  errno = 0;
  EXPECT_EQ(fputp(file, 4), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(fgetp(file), 30);  // did not move
  // A write file whose seek failed is failed for good: later bytes would
  // land at the wrong place.
  errno = 0;
  EXPECT_EQ(fputb(file, 0), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(fclosx(file), -1);
  EXPECT_EQ(errno, EIO);
  fdbfree(file);
  fdbfree(in);
  EXPECT_EQ(vt::read_file(path), pattern_bytes(30));  // the accepted bytes were written
}

// In a child process: a real file-size limit.  The limit sits inside the
// second buffer, so the flush at byte 131072 (made by the fputb of that
// byte) is the failing call.  Each failed expectation exits with its own code.
int write_past_file_size_limit(const std::string &path) {
  constexpr rlim_t kLimit = 100000;
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit {};
  limit.rlim_cur = kLimit;
  limit.rlim_max = kLimit;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
  TesselFile *file = open_write(path);
  if (file == nullptr) return 11;
  errno = 0;
  const size_t accepted = put_pattern(file, 3 * kBuffer);
  if (accepted != 2 * kBuffer) return 12;
  if (errno != EFBIG) return 13;
  errno = 0;
  if (fputb(file, 0) != -1 || errno != EFBIG) return 14;  // sticky
  errno = 0;
  if (fputp(file, 0) != -1 || errno != EFBIG) return 15;
  errno = 0;
  if (fclosx(file) != -1 || errno != EFBIG) return 16;
  fdbfree(file);
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || info.st_size != static_cast<off_t>(kLimit)) return 17;
  return 0;
}

TEST(TesselFault, RealFileSizeLimit) {
  vt::TempDir dir;
  const std::string path = dir.file("limited.bin");
  EXPECT_EQ(exit_status_of_child([&] { return write_past_file_size_limit(path); }), 0)
      << "see write_past_file_size_limit for the step";
  EXPECT_EQ(vt::read_file(path), pattern_bytes(100000));
  // Everything still buffered at the close: fclosx reports the failure.
  const std::string small = dir.file("close.bin");
  const int status = exit_status_of_child([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = 10;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    TesselFile *file = open_write(small);
    if (file == nullptr) return 11;
    if (put_pattern(file, 50) != 50) return 12;
    errno = 0;
    if (fclosx(file) != -1 || errno != EFBIG) return 13;
    fdbfree(file);
    return 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(vt::read_file(small), pattern_bytes(10));
}

// ---- TesselZone -----------------------------------------------------------

TEST(TesselZone, AccountingZeroFillAndLimit) {
  TesselZone *zone = zcreate(0, 0);
  ASSERT_NE(zone, nullptr);
  auto *a = static_cast<uint8_t *>(zalloc(zone, 100));
  auto *b = static_cast<uint8_t *>(zalloc(zone, 28));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Bytes(a, a + 100), vt::repeat(0, 100));
  EXPECT_EQ(tessel_zone_in_use(zone), 128u);
  zfree(zone, a, 100);
  zfree(zone, nullptr, 50);  // ignored
  EXPECT_EQ(tessel_zone_in_use(zone), 28u);
  tessel_zone_set_limit(zone, 100);
  errno = 0;
  EXPECT_EQ(zalloc(zone, 73), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(zalloc(zone, SIZE_MAX), nullptr);
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

// ---- TesselByteOrder ------------------------------------------------------

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

// ---- TesselPath -----------------------------------------------------------

TEST(TesselPath, FparseName) {
  const struct {
    const char *path;
    const char *name;
  } cases[] = {
      {"dir/Sample.bin", "Sample"},
      {"/a/b/c/icon.ct", "icon"},
      {"archive.tar.gz", "archive.tar"},
      {".profile", ".profile"},
      {"dir/.profile", ".profile"},
      {"plain", "plain"},
      {"dir/", ""},
      {"", ""},
      {"name.", "name"},
      {"dir.d/file", "file"},
  };
  char buffer[256];
  for (const auto &c : cases) {
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(fparse(buffer, c.path, 0, "NAME"), buffer);
    EXPECT_STREQ(buffer, c.name) << "path " << c.path;
  }
  const std::string long_name = "dir/" + std::string(400, 'n') + ".ext";
  fparse(buffer, long_name.c_str(), 0, "NAME");
  EXPECT_EQ(std::string(buffer), std::string(255, 'n'));  // cut to the buffer
  fparse(buffer, "dir/Sample.bin", 0, "TYPE");  // other parts: the base name
  EXPECT_STREQ(buffer, "Sample.bin");
  EXPECT_EQ(fparse(nullptr, "x", 0, "NAME"), nullptr);
}

// ---- TesselProcess --------------------------------------------------------

TEST(TesselProcess, NintHalvesAwayFromZero) {
  EXPECT_EQ(nint(2.5), 3);
  EXPECT_EQ(nint(-2.5), -3);
  EXPECT_EQ(nint(2.4999), 2);
  EXPECT_EQ(nint(-0.5), -1);
  EXPECT_EQ(nint(0.49), 0);
  EXPECT_EQ(nint(72.0), 72);
  EXPECT_EQ(nint(1e300), INT32_MAX);
  EXPECT_EQ(nint(-1e300), INT32_MIN);
  EXPECT_EQ(nint(2147483647.4), INT32_MAX);
  EXPECT_EQ(nint(-2147483648.4), INT32_MIN);
}

TEST(TesselProcess, MovbOverlaps) {
  uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  movb(data, data + 2, 5);
  EXPECT_EQ(Bytes(data, data + 8), hex("01 02 01 02 03 04 05 08"));
  movb(data + 2, data, 5);
  EXPECT_EQ(Bytes(data, data + 8), hex("01 02 03 04 05 04 05 08"));
  movb(data, data + 1, 0);
  movb(data, data + 1, -3);
  EXPECT_EQ(Bytes(data, data + 8), hex("01 02 03 04 05 04 05 08"));
}

TEST(TesselProcessDeathTest, ErrexitPrintsAndExitsWithOne) {
  EXPECT_EXIT(errexit("\b allocating memory"), testing::ExitedWithCode(1),
              "tessel: fatal:\b allocating memory");
}

TEST(TesselProcessDeathTest, ExitsFlushesStandardOutput) {
  vt::TempDir dir;
  const std::string path = dir.file("stdout.txt");
  const int status = exit_status_of_child([&]() -> int {
    if (std::freopen(path.c_str(), "w", stdout) == nullptr) return 99;
    std::fputs("buffered text", stdout);  // no newline: still in the stdio buffer
    exits(7);
  });
  EXPECT_EQ(status, 7);
  EXPECT_EQ(vt::read_file(path), vt::bytes_of("buffered text"));
}

// ---- TesselCt -------------------------------------------------------------

TEST(TesselCt, WriterHeaderBytes) {
  vt::TempDir dir;
  const std::string path = dir.file("small.ct");
  const Bytes pixels = hex("01 02 03 04 05 06");
  ASSERT_EQ(tessel_write_ct(path.c_str(), pixels.data(), 3, 2, 1), 0);
  const Bytes file = vt::read_file(path);
  ASSERT_EQ(file.size(), 512u + 6u);
  const Bytes head(file.begin(), file.begin() + 80);
  EXPECT_EQ(head, hex("00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 | 0: channels at 4\n"
                      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 | 16\n"
                      "02 00 00 00 03 00 00 00 00 00 00 00 00 00 00 00 | 32: rows, width\n"
                      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 | 48\n"
                      "00 00 00 00 00 02 00 00 00 00 00 00 00 00 00 00 | 64: data offset at 68\n"))
      << vt::to_hex(head);
  EXPECT_EQ(Bytes(file.begin() + 80, file.begin() + 512), vt::repeat(0, 432));
  EXPECT_EQ(Bytes(file.begin() + 512, file.end()), pixels);
}

// Opens a CT file the way the icon builders do; returns the file with the header
// converted into `header`.
TesselFile *open_ct(const std::string &path, uint8_t (&header)[512]) {
  TesselFile *block = fdbset(0, "STREAM");
  if (block == nullptr) return nullptr;
  TesselFile *file = fopenr(block, path.c_str(), nullptr, 0);
  if (file == nullptr) {
    fdbfree(block);
    return nullptr;
  }
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

TEST(TesselCt, WriteThenReadRows) {
  vt::TempDir dir;
  const std::string path = dir.file("image.ct");
  const int32_t width = 70;
  const int32_t rows = 1000;  // 70,000 bytes: rows cross the 64 KiB buffer boundary
  const Bytes pixels = pattern_bytes(static_cast<size_t>(width) * rows);
  ASSERT_EQ(tessel_write_ct(path.c_str(), pixels.data(), width, rows, 1), 0);

  uint8_t header[512];
  TesselFile *file = open_ct(path, header);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(field<uint16_t>(header, TESSEL_CT_CHANNELS_OFFSET), 1);
  EXPECT_EQ(field<int32_t>(header, TESSEL_CT_ROWS_OFFSET), rows);
  EXPECT_EQ(field<int32_t>(header, TESSEL_CT_WIDTH_OFFSET), width);
  const int32_t data_offset = field<int32_t>(header, TESSEL_CT_DATA_OFFSET);
  EXPECT_EQ(data_offset, 512);
  TesselCtReader *reader = ct_finit(file, width);
  ASSERT_NE(reader, nullptr);
  errno = 0;
  EXPECT_EQ(fputp(file, data_offset), data_offset);
  EXPECT_EQ(errno, 0);
  Bytes row(static_cast<size_t>(width));
  for (int32_t r = 0; r < rows; ++r) {
    errno = 0;
    ASSERT_EQ(ct_fgetrow(reader, row.data(), width), 0);
    ASSERT_EQ(errno, 0);
    ASSERT_TRUE(std::equal(row.begin(), row.end(), pixels.begin() + r * width)) << "row " << r;
  }
  EXPECT_EQ(ct_fgetrow(reader, row.data(), 0), 0);
  errno = 0;
  EXPECT_EQ(ct_fgetrow(reader, row.data(), width), -1);  // past the last row
  EXPECT_EQ(errno, EIO);
  ct_free(reader);
  EXPECT_EQ(fclosx(file), 0);
  fdbfree(file);
}

TEST(TesselCt, ShortFileGivesEio) {
  vt::TempDir dir;
  const std::string path = dir.file("short.ct");
  const Bytes pixels = pattern_bytes(4 * 10);
  ASSERT_EQ(tessel_write_ct(path.c_str(), pixels.data(), 10, 4, 1), 0);
  Bytes file_bytes = vt::read_file(path);
  file_bytes.resize(512 + 25);  // two and a half rows
  vt::write_file(path, file_bytes);

  uint8_t header[512];
  TesselFile *file = open_ct(path, header);
  ASSERT_NE(file, nullptr);
  TesselCtReader *reader = ct_finit(file, 10);
  ASSERT_NE(reader, nullptr);
  ASSERT_EQ(fputp(file, 512), 512);
  uint8_t row[10];
  EXPECT_EQ(ct_fgetrow(reader, row, 10), 0);
  EXPECT_EQ(ct_fgetrow(reader, row, 10), 0);
  errno = 0;
  EXPECT_EQ(ct_fgetrow(reader, row, 10), -1);
  EXPECT_EQ(errno, EIO);
  ct_free(reader);
  ct_free(nullptr);
  fdbfree(file);

  // A file shorter than its header fails at the header read.
  file_bytes.resize(100);
  vt::write_file(path, file_bytes);
  EXPECT_EQ(open_ct(path, header), nullptr);
}

TEST(TesselCt, WriterRefusesBadArguments) {
  vt::TempDir dir;
  const uint8_t pixel = 0;
  errno = 0;
  EXPECT_EQ(tessel_write_ct(dir.file("a.ct").c_str(), &pixel, -1, 1, 1), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(tessel_write_ct(dir.file("a.ct").c_str(), &pixel, 1, 1, 0), -1);
  EXPECT_EQ(tessel_write_ct(dir.file("a.ct").c_str(), nullptr, 1, 1, 1), -1);
  EXPECT_EQ(tessel_write_ct(nullptr, &pixel, 1, 1, 1), -1);
  errno = 0;
  EXPECT_EQ(tessel_write_ct(dir.file("no/dir/a.ct").c_str(), &pixel, 1, 1, 1), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(tessel_write_ct(dir.file("empty.ct").c_str(), nullptr, 0, 0, 1), 0);
  EXPECT_EQ(vt::read_file(dir.file("empty.ct")).size(), 512u);
}

TEST(TesselCt, WriterFailureLeavesNoFile) {
  FaultsOff off;
  vt::TempDir dir;
  const std::string path = dir.file("full.ct");
  const Bytes pixels = pattern_bytes(1000);
  tessel_fail_writes_after(600, ENOSPC);
  errno = 0;
  EXPECT_EQ(tessel_write_ct(path.c_str(), pixels.data(), 100, 10, 1), -1);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_FALSE(vt::file_exists(path));
}

}  // namespace
