// The byte-stream primitives: golden bytes of the output primitives, write
// failure (injected and a real file-size limit), byte order, the input
// readers and the hex-digit table.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "stream/internal.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

// Opens `path` for writing and makes it the output file, as the writer does.
TesselFile *open_output(const std::string &path) {
  TesselFile *file = fopenw(fdbset(0, "STREAM,SEQUENTIAL"), path.c_str(), "", 0);
  outfile = file;
  return file;
}

void close_output(TesselFile *file) {
  fdbfree(file);
  outfile = nullptr;
}

// The bytes that `write` puts into a fresh output file.
Bytes written_by(const std::function<void()> &write) {
  vt::TempDir dir;
  const std::string path = dir.file("out.bin");
  TesselFile *file = open_output(path);
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return {};
  write();
  EXPECT_EQ(fclosx(file), 0);
  close_output(file);
  return vt::read_file(path);
}

// ---- Output primitives ------------------------------------------------------------

TEST(OutputPrimitives, GoldenBytes) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float infinity = std::numeric_limits<float>::infinity();
  const std::string forty(40, 'x');
  std::string three_hundred;
  for (int i = 0; i < 300; ++i) three_hundred += static_cast<char>('a' + i % 26);
  struct Case {
    const char *what;
    std::function<int32_t()> write;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"PutBuf zeros only", [] { return MacBin_PutBuf(nullptr, 0, 5); }, hex("00 00 00 00 00")},
      {"PutBuf cut", [] { return MacBin_PutBuf("abc", 3, 2); }, hex("61 62")},
      {"PutBuf padded", [] { return MacBin_PutBuf("abc", 3, 5); }, hex("61 62 63 00 00")},
      {"PutBuf empty fields",
       [] { return MacBin_PutBuf("abc", 3, 0) | MacBin_PutBuf("abc", 3, -4) |
                   MacBin_PutBuf(nullptr, 9, 2); },
       hex("00 00")},
      {"PutInt -1", [] { return MacBin_PutInt(-1, 2); }, hex("FF FF")},
      {"PutInt 4", [] { return MacBin_PutInt(0x01020304, 4); }, hex("01 02 03 04")},
      {"PutInt 6", [] { return MacBin_PutInt(0x01020304, 6); }, hex("01 02 03 04 00 00")},
      {"PutWord 1", [] { return MacBin_PutWord(0x1234, 1); }, hex("12")},
      {"PutWord 2", [] { return MacBin_PutWord(0x7FFF1234, 2); }, hex("12 34")},
      {"PutWord 4", [] { return MacBin_PutWord(0, 4); }, hex("00 00 00 00")},
      {"PutByte low 8 bits",
       [] { return MacBin_PutByte(0x41) | MacBin_PutByte(0x1FF) | MacBin_PutByte(-2); },
       hex("41 FF FE")},
      {"PutFixed 72", [] { return MacBin_PutFixed(72.0f, 4); }, hex("00 48 00 00")},
      {"PutFixed 1.5", [] { return MacBin_PutFixed(1.5f, 4); }, hex("00 01 80 00")},
      {"PutFixed 65534", [] { return MacBin_PutFixed(65534.0f, 4); }, hex("FF FE 00 00")},
      {"PutFixed 2 bytes", [] { return MacBin_PutFixed(0.25f, 2); }, hex("00 00")},
      {"PutFixed 6 bytes", [] { return MacBin_PutFixed(72.5f, 6); }, hex("00 48 80 00 00 00")},
      // Outside the range: below 0 and NaN give zero, 65536 and up the largest value.
      {"PutFixed negative", [] { return MacBin_PutFixed(-1.5f, 4); }, hex("00 00 00 00")},
      {"PutFixed NaN", [nan] { return MacBin_PutFixed(nan, 4); }, hex("00 00 00 00")},
      {"PutFixed 65536", [] { return MacBin_PutFixed(65536.0f, 4); }, hex("FF FF FF FF")},
      {"PutFixed 1e30", [] { return MacBin_PutFixed(1e30f, 4); }, hex("FF FF FF FF")},
      {"PutFixed infinity", [infinity] { return MacBin_PutFixed(infinity, 4); },
       hex("FF FF FF FF")},
      {"Pascal padded", [] { return MacBin_PutPascalString("abc", 31); },
       vt::concat({hex("03 61 62 63"), vt::repeat(0, 28)})},
      {"Pascal cut to the field", [&forty] { return MacBin_PutPascalString(forty.c_str(), 31); },
       vt::concat({hex("1F"), vt::repeat('x', 31)})},
      {"Pascal cut to 255",
       [&three_hundred] { return MacBin_PutPascalString(three_hundred.c_str(), 300); },
       vt::concat({hex("FF"), vt::bytes_of(three_hundred.substr(0, 255)), vt::repeat(0, 45)})},
      {"Pascal without a field",
       [] { return MacBin_PutPascalString("abc", 0) | MacBin_PutPascalString("abc", -5); },
       hex("00 00")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(written_by([&c] { EXPECT_EQ(c.write(), 0); }), c.expected);
  }
}

TEST(OutputPrimitives, PositionFollowsTheBytesAndCanBeMoved) {
  const Bytes got = written_by([] {
    EXPECT_EQ(MacBin_GetPtrPos(), 0);
    MacBin_PutInt(0x11223344, 4);
    MacBin_PutPascalString("ab", 3);
    EXPECT_EQ(MacBin_GetPtrPos(), 8);
    EXPECT_EQ(MacBin_SetPtrPos(1, 1), 2);  // overwrite bytes 2 and 3
    MacBin_PutWord(0xAABB, 2);
    EXPECT_EQ(MacBin_GetPtrPos(), 4);
    EXPECT_EQ(MacBin_SetPtrPos(8, 0), 8);
    MacBin_PutByte(0xCC);
  });
  EXPECT_EQ(got, hex("11 22 AA BB 02 61 62 00 CC"));
}

TEST(OutputPrimitives, LargeWritesCrossTheFileBufferIntact) {
  // Several buffers' worth in calls of odd sizes with zero tails, mixed with
  // single bytes: the block copies must give what bytes one by one give.
  Bytes pattern(70001);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + i / 256);
  Bytes expected;
  for (int round = 0; round < 5; ++round) {
    expected.insert(expected.end(), pattern.begin(), pattern.end());
    expected.insert(expected.end(), static_cast<size_t>(round) * 1000, 0);
    expected.push_back(static_cast<uint8_t>(round));
  }
  const Bytes got = written_by([&] {
    for (int round = 0; round < 5; ++round) {
      EXPECT_EQ(MacBin_PutBuf(pattern.data(), 70001, 70001 + round * 1000), 0);
      EXPECT_EQ(MacBin_PutByte(round), 0);
    }
  });
  EXPECT_TRUE(got == expected);
  EXPECT_EQ(write_failed, 0);
  EXPECT_EQ(output_error, 0);
}

// ---- Write failure (each TEST its own process: the failure flags never clear) ----

TEST(OutputFailure, StaleErrnoNeverFailsASoundWrite) {
  vt::init_recording();
  const Bytes got = written_by([] {
    errno = ENOSPC;
    EXPECT_EQ(MacBin_PutByte(0x41), 0);
    // Fill the 64 KiB file buffer exactly, so that the next byte takes the
    // slow path (a flush), where errno is what is judged.
    const Bytes block(64 * 1024 - 1, 0x42);
    EXPECT_EQ(MacBin_PutBuf(block.data(), 65535, 65535), 0);
    errno = ENOSPC;
    EXPECT_EQ(MacBin_PutByte(0x43), 0);
    errno = EIO;
    EXPECT_EQ(MacBin_PutWord(0x4445, 2), 0);
    errno = EBADF;
    EXPECT_EQ(MacBin_PutPascalString("x", 1), 0);
  });
  EXPECT_EQ(got.size(), 64u * 1024 + 1 + 2 + 2);
  EXPECT_EQ(Bytes(got.end() - 5, got.end()), hex("43 44 45 01 78"));
  EXPECT_EQ(write_failed, 0);
  EXPECT_TRUE(vt::recorded_messages().empty());
}

TEST(OutputFailure, InjectedFailureIsReportedOnceAndStopsOutput) {
  vt::init_recording();
  vt::TempDir dir;
  const std::string path = dir.file("out.bin");
  TesselFile *file = open_output(path);
  ASSERT_NE(file, nullptr);
  tessel_fail_writes_after(70000, ENOSPC);  // past the first buffer flush
  Bytes pattern(100000);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i % 251);
  EXPECT_EQ(MacBin_PutBuf(pattern.data(), 100000, 100000), 1);
  EXPECT_EQ(write_failed, 1);
  EXPECT_EQ(output_error, 1);
  EXPECT_EQ(MacBin_GetPtrPos(), 70000);  // nothing after the failing byte
  // Every later primitive is a no-op that fails; the position stays.
  EXPECT_EQ(MacBin_PutByte(0), 1);
  EXPECT_EQ(MacBin_PutWord(1, 2), 1);
  EXPECT_EQ(MacBin_PutInt(1, 4), 1);
  EXPECT_EQ(MacBin_PutFixed(1.0f, 4), 1);
  EXPECT_EQ(MacBin_PutPascalString("a", 3), 1);
  EXPECT_EQ(MacBin_PutBuf(nullptr, 0, 0), 1);
  EXPECT_EQ(MacBin_GetPtrPos(), 70000);
  ASSERT_EQ(vt::recorded_messages().size(), 1u);
  EXPECT_EQ(vt::recorded_messages()[0].module, "MacBin");
  EXPECT_EQ(vt::recorded_messages()[0].text, "Writing output file");
  EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_SEVERE);
  tessel_fail_writes_after(-1, 0);
  EXPECT_NE(fclosx(file), 0);  // the file keeps its failure
  close_output(file);
  EXPECT_TRUE(vt::read_file(path) == Bytes(pattern.begin(), pattern.begin() + 70000));
}

TEST(OutputFailure, FailingLengthByteFailsThePascalString) {
  vt::init_recording();
  vt::TempDir dir;
  TesselFile *file = open_output(dir.file("out.bin"));
  ASSERT_NE(file, nullptr);
  tessel_fail_writes_after(0, EFBIG);
  EXPECT_EQ(MacBin_PutPascalString("abc", 31), 1);
  EXPECT_EQ(MacBin_GetPtrPos(), 0);
  EXPECT_EQ(vt::count_messages("Writing output file"), 1u);
  tessel_fail_writes_after(-1, 0);
  close_output(file);
}

TEST(OutputFailure, FailedSeekIsAWriteFailureReportedOnce) {
  vt::init_recording();
  vt::TempDir dir;
  TesselFile *file = open_output(dir.file("out.bin"));
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(MacBin_PutInt(7, 4), 0);
  tessel_fail_seeks_after(0, EIO);
  EXPECT_EQ(MacBin_SetPtrPos(0, 0), -1);
  EXPECT_EQ(write_failed, 1);
  EXPECT_EQ(MacBin_PutByte(1), 1);
  // A failure found later by the writer (a flush at close) is the same one.
  record_write_failure();
  EXPECT_EQ(vt::recorded_messages().size(), 1u);
  tessel_fail_seeks_after(-1, 0);
  close_output(file);
}

TEST(OutputFailure, RecordWriteFailureBeforeAnyByte) {
  vt::init_recording();
  record_write_failure();
  EXPECT_EQ(write_failed, 1);
  EXPECT_EQ(output_error, 1);
  EXPECT_EQ(MacBin_PutByte(1), 1);  // no output file needed: output is off
  ASSERT_EQ(vt::recorded_messages().size(), 1u);
  EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_SEVERE);
}

// In a child process; returns the number of the first check that failed, 0 if none.
int write_until_the_limit(const std::string &path, rlim_t limit_bytes) {
  std::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG instead
  const rlimit limit{limit_bytes, limit_bytes};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
  vt::init_recording();
  TesselFile *file = open_output(path);
  if (file == nullptr) return 11;
  const Bytes block(1000, 0x5A);
  bool failed = false;
  for (int i = 0; i < 400 && !failed; ++i) failed = MacBin_PutBuf(block.data(), 1000, 1000) != 0;
  if (!failed) return 12;
  if (vt::recorded_messages().size() != 1 ||
      vt::recorded_messages()[0].text != "Writing output file" ||
      vt::recorded_messages()[0].severity != MACBIN_SEVERE) {
    return 13;
  }
  if (write_failed != 1 || output_error != 1) return 14;
  const int32_t position = MacBin_GetPtrPos();
  if (MacBin_PutByte(0) != 1 || MacBin_PutBuf(block.data(), 1000, 1000) != 1) return 15;
  if (MacBin_GetPtrPos() != position || vt::recorded_messages().size() != 1) return 16;
  fclosx(file);
  return vt::read_file(path).size() > limit_bytes ? 17 : 0;
}

TEST(OutputFailure, RealFileSizeLimitIsReportedOnceAndStopsOutput) {
  vt::TempDir dir;
  const std::string path = dir.file("limited.bin");
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(write_until_the_limit(path, 100000));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "see write_until_the_limit for the check";
  EXPECT_EQ(vt::read_file(path), vt::repeat(0x5A, 100000));  // everything up to the limit
}

// ---- Byte order -----------------------------------------------------------------------

TEST(ByteOrder, Swaps) {
  EXPECT_EQ(swapwtow(0x1234), 0x3412);
  EXPECT_EQ(swapwtow(static_cast<int32_t>(0xABCD1234u)), 0x3412);  // upper bits dropped
  EXPECT_EQ(swapwtow(-1), 0xFFFF);
  EXPECT_EQ(swapltol(0x01020304u), 0x04030201u);
  EXPECT_EQ(swapltol(0xFF000080u), 0x800000FFu);
  EXPECT_EQ(swapttot(0x11223344u), 0x00443322u);
  const std::vector<std::pair<const char *, Bytes>> formats = {
      {"1422", hex("01 00 00 00 02 00 03 00")},
      {"14", hex("01 00 00 00 00 02 00 03")},
      {"", hex("00 00 00 01 00 02 00 03")},
      {"2113", hex("00 00 00 01 00 02 00 03")},  // sizes other than 2 and 4 step over
      {"1112", hex("00 00 00 01 00 02 00 03")},  // a byte, then the word 00 00
      {"14x2", hex("01 00 00 00 00 02 00 03")},  // a non-digit ends the format
      {"1", hex("00 00 00 01 00 02 00 03")},
  };
  for (const auto &[format, expected] : formats) {
    SCOPED_TRACE(format);
    Bytes data = hex("00 00 00 01 00 02 00 03");
    swapxtox(data.data(), format);
    EXPECT_EQ(data, expected);
  }
  Bytes data = hex("AA 00 01 00 02");
  swapxtox(data.data(), "1112");
  EXPECT_EQ(data, hex("AA 01 00 00 02"));
}

TEST(ByteOrder, FgettReadsThreeBytesFirstLeastSignificant) {
  vt::TempDir dir;
  const std::string path = dir.file("three.bin");
  vt::write_file(path, hex("00 01 02 FF EE DD"));
  TesselFile *file = fopenr("STREAM", path.c_str(), "", 0);
  ASSERT_NE(file, nullptr);
  const uint32_t value = fgett(file);
  EXPECT_EQ(value, 0x020100u);
  EXPECT_EQ(swapttot(value), 0x000102u);
  EXPECT_EQ(swapttot(fgett(file)), 0xFFEEDDu);
  fdbfree(file);
}

// ---- Input readers ------------------------------------------------------------------------

// A byte source over a global list; -1 when it runs out.
std::vector<int32_t> source_values;
size_t source_calls = 0;
int32_t next_value() {
  return source_calls < source_values.size() ? source_values[source_calls++]
                                             : (++source_calls, -1);
}
void feed(std::vector<int32_t> values) {
  source_values = std::move(values);
  source_calls = 0;
}

TEST(ByteSourceReaders, FixedWordByteAndBuffer) {
  feed({0x00, 0x48, 0x80, 0x00});
  EXPECT_FLOAT_EQ(MacBin_CGetFixed(next_value), 72.5f);
  EXPECT_EQ(source_calls, 4u);
  feed({0xFF, 0xFF, 0x80, 0x00});
  EXPECT_FLOAT_EQ(MacBin_CGetFixed(next_value), 65535.5f);  // unsigned integer half
  feed({0x12, 0x34});
  EXPECT_EQ(MacBin_CGetWord(next_value), 0x1234);
  feed({0x1FF});
  EXPECT_EQ(MacBin_CGetByte(next_value), 0xFF);
  uint8_t buffer[4] = {9, 9, 9, 9};
  feed({1, 2, 0x1FE});
  EXPECT_EQ(MacBin_CGetBuffer(next_value, buffer, 3), 3);
  EXPECT_EQ(Bytes(buffer, buffer + 4), hex("01 02 FE 09"));
  feed({1});
  EXPECT_EQ(MacBin_CGetBuffer(next_value, buffer, 0), 0);
  EXPECT_EQ(MacBin_CGetBuffer(next_value, buffer, -2), -2);
  EXPECT_EQ(source_calls, 0u);
}

TEST(ByteSourceReaders, PascalStringStaysInsideTheBuffer) {
  std::vector<char> buffer(256, '#');  // exactly the contracted size, on the heap
  const auto read = [&buffer](std::vector<int32_t> values) {
    buffer[0] = '#';
    feed(std::move(values));
    return MacBin_CGetPascalString(next_value, buffer.data());
  };
  EXPECT_EQ(read({3, 0x41, 0x42, 0x43, 0x44}), 3);
  EXPECT_STREQ(buffer.data(), "ABC");
  EXPECT_EQ(source_calls, 4u);
  EXPECT_EQ(read({0, 0x41}), 0);
  EXPECT_STREQ(buffer.data(), "");
  // Exhausted source: the negative value passes through, the text is empty.
  EXPECT_EQ(read({}), -1);
  EXPECT_EQ(buffer[0], '\0');
  std::vector<int32_t> longest{255};
  longest.insert(longest.end(), 255, 'z');
  EXPECT_EQ(read(longest), 255);
  EXPECT_EQ(std::string(buffer.data()), std::string(255, 'z'));
  // A "length" above 255 is read as a byte: 300 is 0x2C, 44 characters.
  std::vector<int32_t> oversized{300};
  oversized.insert(oversized.end(), 400, 'q');
  EXPECT_EQ(read(oversized), 44);
  EXPECT_EQ(std::string(buffer.data()), std::string(44, 'q'));
  EXPECT_EQ(source_calls, 45u);
}

TEST(FileReaders, FixedAndPascalStrings) {
  vt::TempDir dir;
  const std::string path = dir.file("in.bin");
  vt::write_file(path, vt::concat({hex("00 48 80 00  FF FF 80 00  03 41 42 43  FF"),
                                   vt::repeat('w', 255), hex("00")}));
  TesselFile *file = fopenr("STREAM", path.c_str(), "", 0);
  ASSERT_NE(file, nullptr);
  EXPECT_FLOAT_EQ(MacBin_FGetFixed(file), 72.5f);
  EXPECT_FLOAT_EQ(MacBin_FGetFixed(file), 65535.5f);
  std::vector<char> buffer(256, '#');
  EXPECT_EQ(MacBin_FGetPascalString(file, buffer.data()), 3);
  EXPECT_STREQ(buffer.data(), "ABC");
  EXPECT_EQ(MacBin_FGetPascalString(file, buffer.data()), 255);
  EXPECT_EQ(std::string(buffer.data()), std::string(255, 'w'));
  EXPECT_EQ(MacBin_FGetPascalString(file, buffer.data()), 0);
  EXPECT_STREQ(buffer.data(), "");
  // At the end of the file: a negative value and an empty text.
  buffer[0] = '#';
  EXPECT_LT(MacBin_FGetPascalString(file, buffer.data()), 0);
  EXPECT_EQ(buffer[0], '\0');
  fdbfree(file);
}

TEST(HexTable, MapsHexDigitsAndNothingElse) {
  const uint8_t *table = GetNibbleCheckArray();
  ASSERT_NE(table, nullptr);
  for (int c = 0; c < 256; ++c) {
    const int expected = c >= '0' && c <= '9'   ? c - '0'
                         : c >= 'a' && c <= 'f' ? c - 'a' + 10
                         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                : 0xFF;
    EXPECT_EQ(table[c], expected) << "code " << c;
  }
}

}  // namespace
