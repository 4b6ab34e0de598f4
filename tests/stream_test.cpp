// The byte-stream primitives: golden bytes of the output primitives, write
// failure, byte order, the input readers and the hex-digit table.  (How the
// file layer meets a real file-size limit is its own test's business; here
// failures are injected at the exact byte.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "stream/internal.hpp"
#include "support/support.hpp"
#include "tessel/testing.h"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

// The bytes that `write` puts into a fresh output file.
Bytes written_by(const std::function<void()> &write) {
  vt::ScratchOutput out;
  write();
  EXPECT_EQ(out.close(), 0);
  return out.bytes();
}

// ---- Output primitives --------------------------------------------------------------

TEST(OutputPrimitives, GoldenBytesAndPosition) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float infinity = std::numeric_limits<float>::infinity();
  std::string three_hundred;
  for (int i = 0; i < 300; ++i) three_hundred += static_cast<char>('a' + i % 26);
  const Bytes got = written_by([&] {
    // Each result is 0 when written: or'ed, they stay 0.  The first byte,
    // a zero of the padding, goes to a file whose buffer is still empty.
    EXPECT_EQ(MacBin_PutBuf(nullptr, 0, 5) | MacBin_PutBuf("abc", 3, 2) |
                  MacBin_PutBuf("abc", 3, 5) | MacBin_PutBuf("abc", 3, 0) |
                  MacBin_PutBuf("abc", 3, -4) | MacBin_PutBuf(nullptr, 9, 2),
              0);
    EXPECT_EQ(MacBin_PutInt(-1, 2) | MacBin_PutInt(0x01020304, 4) | MacBin_PutInt(0x01020304, 6) |
                  MacBin_PutWord(0x1234, 1) | MacBin_PutWord(0x7FFF1234, 2) | MacBin_PutWord(0, 4),
              0);
    EXPECT_EQ(MacBin_PutByte(0x41) | MacBin_PutByte(0x1FF) | MacBin_PutByte(-2), 0);
    EXPECT_EQ(MacBin_PutFixed(72.0f, 4) | MacBin_PutFixed(1.5f, 4) | MacBin_PutFixed(65534.0f, 4) |
                  MacBin_PutFixed(0.25f, 2) | MacBin_PutFixed(72.5f, 6),
              0);
    EXPECT_EQ(MacBin_PutFixed(-1.5f, 4) | MacBin_PutFixed(nan, 4) | MacBin_PutFixed(65536.0f, 4) |
                  MacBin_PutFixed(1e30f, 4) | MacBin_PutFixed(infinity, 4),
              0);
    EXPECT_EQ(MacBin_PutPascalString("abc", 5) | MacBin_PutPascalString("abcdefgh", 3) |
                  MacBin_PutPascalString("abc", 0) | MacBin_PutPascalString("abc", -5) |
                  MacBin_PutPascalString(three_hundred.c_str(), 300),
              0);
    EXPECT_EQ(MacBin_GetPtrPos(), 389);
    EXPECT_EQ(MacBin_SetPtrPos(1, 2), 3);  // overwrite bytes 3 and 4
    EXPECT_EQ(MacBin_PutWord(0xAABB, 2), 0);
    EXPECT_EQ(MacBin_GetPtrPos(), 5);
    EXPECT_EQ(MacBin_SetPtrPos(389, 0), 389);
    EXPECT_EQ(MacBin_PutByte(0xCC), 0);
  });
  EXPECT_EQ(vt::to_hex(got), vt::to_hex(vt::concat({hex(R"(
    00 00 00 AA BB  61 62  61 62 63 00 00  00 00     | PutBuf: zeros (3 and 4 overwritten), cut, padded, none
    FF FF  01 02 03 04  01 02 03 04 00 00            | PutInt -1 in 2 bytes, in 4 and 6
    12  12 34  00 00 00 00                           | PutWord in 1, 2 and 4 bytes
    41 FF FE                                         | PutByte keeps the low 8 bits
    00 48 00 00  00 01 80 00  FF FE 00 00            | PutFixed 72, 1.5, 65534
    00 00  00 48 80 00 00 00                         | PutFixed 0.25 in 2 bytes, 72.5 in 6
    00 00 00 00  00 00 00 00                         | PutFixed below 0, NaN: zero
    FF FF FF FF  FF FF FF FF  FF FF FF FF            | 65536, 1e30, infinity: the largest value
    03 61 62 63 00 00  03 61 62 63  00  00           | Pascal padded, cut to the field, no field
    FF                                               | cut to 255 characters ...
  )"),
                                                    vt::bytes_of(three_hundred.substr(0, 255)),
                                                    vt::repeat(0, 45), hex("CC")})));
}

TEST(OutputPrimitives, LargeWritesAndStaleErrnoGiveTheBytesIntact) {
  vt::init_recording();
  Bytes pattern(70001);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + i / 256);
  Bytes expected = vt::concat(
      {hex("41"), Bytes(pattern.begin(), pattern.begin() + 65535), hex("43 44 45 01 78")});
  for (int round = 0; round < 5; ++round) {
    expected.insert(expected.end(), pattern.begin(), pattern.end());
    expected.insert(expected.end(), static_cast<size_t>(round) * 1000, 0);
    expected.push_back(static_cast<uint8_t>(round));
  }
  const Bytes got = written_by([&] {
    // A stale errno is no failure, also on the slow path: the first two
    // calls fill the 64 KiB file buffer exactly, so the next byte flushes.
    EXPECT_EQ(MacBin_GetPtrPos(), 0);
    errno = ENOSPC;
    EXPECT_EQ(MacBin_PutByte(0x41), 0);
    EXPECT_EQ(MacBin_PutBuf(pattern.data(), 65535, 65535), 0);
    errno = ENOSPC;
    EXPECT_EQ(MacBin_PutByte(0x43), 0);
    errno = EIO;
    EXPECT_EQ(MacBin_PutWord(0x4445, 2), 0);
    errno = EBADF;
    EXPECT_EQ(MacBin_PutPascalString("x", 1), 0);
    // Several buffers' worth in calls of odd sizes with zero tails, mixed
    // with single bytes: block copies must give what bytes one by one give.
    for (int round = 0; round < 5; ++round) {
      errno = ENOSPC;
      EXPECT_EQ(MacBin_PutBuf(pattern.data(), 70001, 70001 + round * 1000), 0);
      EXPECT_EQ(MacBin_PutByte(round), 0);
    }
  });
  EXPECT_TRUE(got == expected);
  EXPECT_EQ(write_failed | output_error, 0);
  EXPECT_TRUE(vt::recorded_messages().empty());
}

// A host may write to the current output file itself, with fputb and
// fputm, between the primitives' bytes: the file holds them all in the order
// they were written, also across a buffer flush.
TEST(OutputPrimitives, HostWritesOnOutfileStayInOrder) {
  Bytes block(70000);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 13 + i / 256);
  const Bytes got = written_by([&] {
    EXPECT_EQ(MacBin_PutByte(0x01), 0);
    EXPECT_EQ(fputb(outfile, 0x02), 0);
    EXPECT_EQ(MacBin_PutBuf("\x03\x04", 2, 3), 0);
    EXPECT_EQ(fputm(outfile, "\x05\x06", 2), 0);
    EXPECT_EQ(MacBin_PutWord(0x0708, 2), 0);
    EXPECT_EQ(fputb(outfile, 0x09), 0);
    EXPECT_EQ(MacBin_PutBuf(block.data(), 70000, 70000), 0);  // past the buffer's end
    EXPECT_EQ(fputb(outfile, 0x0A), 0);
    EXPECT_EQ(MacBin_PutByte(0x0B), 0);
    EXPECT_EQ(fputm(outfile, "\x0C", 1), 0);
    EXPECT_EQ(MacBin_PutPascalString("d", 2), 0);
    EXPECT_EQ(MacBin_GetPtrPos(), 70016);
  });
  EXPECT_EQ(vt::to_hex(got), vt::to_hex(vt::concat({hex("01 02 03 04 00 05 06 07 08 09"), block,
                                                    hex("0A 0B 0C 01 64 00")})));
}

// ---- Write failure (each TEST its own process: the failure flags never clear) ----

// Exactly one message: "Writing output file", severe.
void expect_reported_once() {
  ASSERT_EQ(vt::recorded_messages().size(), 1u);
  EXPECT_EQ(vt::recorded_messages()[0].module, "MacBin");
  EXPECT_EQ(vt::recorded_messages()[0].text, "Writing output file");
  EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_SEVERE);
}

TEST(OutputFailure, InjectedFailureIsReportedOnceAndStopsOutput) {
  vt::init_recording();
  vt::ScratchOutput out;
  vt::fail_writes_after(70000, ENOSPC);  // past the first buffer flush
  Bytes pattern(100000);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i % 251);
  EXPECT_EQ(MacBin_PutBuf(pattern.data(), 100000, 100000), 1);
  EXPECT_EQ(write_failed, 1);
  EXPECT_EQ(output_error, 1);
  EXPECT_EQ(MacBin_GetPtrPos(), 70000);  // nothing after the failing byte
  // Every later primitive is a no-op that fails; the position stays.
  EXPECT_EQ(MacBin_PutByte(0) & MacBin_PutWord(1, 2) & MacBin_PutInt(1, 4) &
                MacBin_PutFixed(1.0f, 4) & MacBin_PutPascalString("a", 3) &
                MacBin_PutBuf(nullptr, 0, 0),
            1);
  EXPECT_EQ(MacBin_GetPtrPos(), 70000);
  expect_reported_once();
  vt::clear_faults();
  EXPECT_NE(out.close(), 0);  // the file keeps its failure
  EXPECT_TRUE(out.bytes() == Bytes(pattern.begin(), pattern.begin() + 70000));
}

TEST(OutputFailure, FailingLengthByteFailsThePascalString) {
  vt::init_recording();
  vt::ScratchOutput out;
  vt::fail_writes_after(0, EFBIG);
  EXPECT_EQ(MacBin_PutPascalString("abc", 31), 1);
  EXPECT_EQ(MacBin_GetPtrPos(), 0);
  expect_reported_once();
  vt::clear_faults();
}

TEST(OutputFailure, FailedSeekIsAWriteFailureReportedOnce) {
  vt::init_recording();
  vt::ScratchOutput out;
  ASSERT_EQ(MacBin_PutInt(7, 4), 0);
  vt::fail_seeks_after(0, EIO);
  EXPECT_EQ(MacBin_SetPtrPos(0, 0), -1);
  EXPECT_EQ(write_failed, 1);
  EXPECT_EQ(MacBin_PutByte(1), 1);
  record_write_failure();  // found again later by the writer (a flush at close): the same one
  expect_reported_once();
  vt::clear_faults();
}

TEST(OutputFailure, RecordWriteFailureBeforeAnyByte) {
  vt::init_recording();
  record_write_failure();
  EXPECT_EQ(write_failed, 1);
  EXPECT_EQ(output_error, 1);
  EXPECT_EQ(MacBin_PutByte(1), 1);  // no output file needed: output is off
  expect_reported_once();
}

// ---- Byte order -----------------------------------------------------------------------

TEST(ByteOrder, Swaps) {
  EXPECT_EQ(swapwtow(0x1234), 0x3412);
  EXPECT_EQ(swapwtow(static_cast<int32_t>(0xABCD1234u)), 0x3412);  // upper bits dropped
  EXPECT_EQ(swapwtow(-1), 0xFFFF);
  EXPECT_EQ(swapltol(0x01020304u), 0x04030201u);
  EXPECT_EQ(swapltol(0xFF000080u), 0x800000FFu);
  EXPECT_EQ(swapttot(0x11223344u), 0x00443322u);
  const std::pair<const char *, Bytes> formats[] = {
      {"1422", hex("01 00 00 00 02 00 03 00")},
      {"14", hex("01 00 00 00 00 02 00 03")},
      {"", hex("00 00 00 01 00 02 00 03")},
      {"2113", hex("00 00 00 01 00 02 00 03")},  // sizes other than 2 and 4 step over
      {"1112", hex("00 00 00 01 00 02 00 03")},  // a byte, then the word 00 00
      {"14x2", hex("01 00 00 00 00 02 00 03")},  // a non-digit ends the format
      {"1", hex("00 00 00 01 00 02 00 03")},
  };
  for (const auto &[format, expected] : formats) {
    Bytes data = hex("00 00 00 01 00 02 00 03");
    swapxtox(data.data(), format);
    EXPECT_EQ(data, expected) << "format " << format;
  }
  Bytes data = hex("AA 00 01 00 02");
  swapxtox(data.data(), "1112");
  EXPECT_EQ(data, hex("AA 01 00 00 02"));
}

// ---- Input readers ------------------------------------------------------------------------

// A byte source over a global list; -1 when it runs out.
std::vector<int32_t> source_values;
size_t source_calls = 0;
int32_t next_value() {
  return source_calls < source_values.size() ? source_values[source_calls++] : (++source_calls, -1);
}
void feed(std::vector<int32_t> values) {
  source_values = std::move(values);
  source_calls = 0;
}

TEST(InputReaders, FromAByteSource) {
  feed({0x00, 0x48, 0x80, 0x00, 0xFF, 0xFF, 0x80, 0x00, 0x12, 0x34, 0x1FF});
  EXPECT_FLOAT_EQ(MacBin_CGetFixed(next_value), 72.5f);
  EXPECT_FLOAT_EQ(MacBin_CGetFixed(next_value), 65535.5f);  // unsigned integer half
  EXPECT_EQ(MacBin_CGetWord(next_value), 0x1234);
  EXPECT_EQ(MacBin_CGetByte(next_value), 0xFF);
  EXPECT_EQ(source_calls, 11u);
  uint8_t bytes[4] = {9, 9, 9, 9};
  feed({1, 2, 0x1FE});
  EXPECT_EQ(MacBin_CGetBuffer(next_value, bytes, 3), 3);
  EXPECT_EQ(Bytes(bytes, bytes + 4), hex("01 02 FE 09"));
  feed({1});
  EXPECT_EQ(MacBin_CGetBuffer(next_value, bytes, 0), 0);
  EXPECT_EQ(MacBin_CGetBuffer(next_value, bytes, -2), -2);
  EXPECT_EQ(source_calls, 0u);
}

TEST(InputReaders, FromAFile) {
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"), hex("00 48 80 00  FF FF 80 00  00 01 02  FF EE DD"));
  TesselFile *file = fopenr("STREAM", dir.file("in.bin").c_str(), "", 0);
  ASSERT_NE(file, nullptr);
  EXPECT_FLOAT_EQ(MacBin_FGetFixed(file), 72.5f);
  EXPECT_FLOAT_EQ(MacBin_FGetFixed(file), 65535.5f);
  EXPECT_EQ(fgett(file), 0x020100u);  // three bytes, the first least significant
  EXPECT_EQ(fgett(file), 0xDDEEFFu);
  fdbfree(file);
}

// The same Pascal strings from a byte source and from a file, each into a
// buffer of exactly the contracted 256 bytes on the heap; at the end of the
// input a negative value and an empty text.
TEST(InputReaders, PascalStringsStayInsideTheBuffer) {
  const Bytes input = vt::concat({hex("03"), vt::bytes_of("ABC"), hex("00 FF"),
                                  vt::repeat('z', 255), hex("2C"), vt::repeat('q', 44)});
  const std::pair<int32_t, std::string> expected[] = {
      {3, "ABC"}, {0, ""}, {255, std::string(255, 'z')}, {44, std::string(44, 'q')}, {-1, ""}};
  std::vector<int32_t> values(input.begin(), input.end());
  values[1 + 3 + 1 + 1 + 255] = 300;  // a source's "length" above 255 is read as a byte: 0x2C
  feed(values);
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"), input);
  TesselFile *file = fopenr("STREAM", dir.file("in.bin").c_str(), "", 0);
  ASSERT_NE(file, nullptr);
  std::vector<char> buffer(256);
  // The text up to its NUL; never past the buffer, even when the NUL is missing.
  const auto text = [&buffer] { return std::string(buffer.data(), strnlen(buffer.data(), 256)); };
  for (const auto &[result, expected_text] : expected) {
    SCOPED_TRACE(result);
    std::fill(buffer.begin(), buffer.end(), '#');
    EXPECT_EQ(MacBin_CGetPascalString(next_value, buffer.data()), result);
    EXPECT_EQ(text(), expected_text);
    std::fill(buffer.begin(), buffer.end(), '#');
    const int32_t from_file = MacBin_FGetPascalString(file, buffer.data());
    EXPECT_EQ(from_file < 0 ? -1 : from_file, result);
    EXPECT_EQ(text(), expected_text);
  }
  EXPECT_EQ(source_calls, values.size() + 1);
  fdbfree(file);
}

TEST(HexTable, DigitsAndTheirNeighbours) {
  // Rows 0x20 to 0x7F of the table; the rest holds no digit.
  const Bytes golden = hex(R"(
    FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF  | 20  !"#$%&'()*+,-./
    00 01 02 03 04 05 06 07 08 09 FF FF FF FF FF FF  | 30 0-9 :;<=>?
    FF 0A 0B 0C 0D 0E 0F FF FF FF FF FF FF FF FF FF  | 40 @ A-F G-O
    FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF  | 50
    FF 0A 0B 0C 0D 0E 0F FF FF FF FF FF FF FF FF FF  | 60 ` a-f g-o
    FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF  | 70
  )");
  const uint8_t *table = GetNibbleCheckArray();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(vt::to_hex(Bytes(table + 0x20, table + 0x80)), vt::to_hex(golden));
  EXPECT_EQ(Bytes(table, table + 0x20), vt::repeat(0xFF, 0x20));
  EXPECT_EQ(Bytes(table + 0x80, table + 0x100), vt::repeat(0xFF, 0x80));
}

}  // namespace
