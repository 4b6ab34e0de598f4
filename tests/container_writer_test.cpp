// The container writers through the public API: AppleSingle, AppleDouble
// and BinHex files as bytes, the calls that carry a file across whole
// (MacBin_SetDates, MacBin_SetResourceFork) in every format, failures that
// must leave nothing behind, and what unar and macutils make of the files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::be16;
using vt::be32;
using vt::Bytes;
using vt::hex;
using vt::slice;

// Seconds from 1904 to 2000: the dates below are 0x01020304 and 0x11223344
// after 2000.
constexpr uint32_t k2000 = 3029529600u;
constexpr uint32_t kCreated = k2000 + 0x01020304u;
constexpr uint32_t kModified = k2000 + 0x11223344u;

struct Containers {
  Containers() {
    vt::init_recording();
    EXPECT_EQ(MacBin_AddProcessor("TEXT", nullptr, vt::write_parameter_text), 0);
  }
  std::string file(std::string_view name) const { return dir.file(name); }
  vt::TempDir dir;
};

MacBinChannel *open_as(int32_t format, const std::string &path) {
  if (MacBin_SetFormat(format) != 1) throw std::runtime_error("format refused");
  static char name[] = "Sample";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  if (ch == nullptr) throw std::runtime_error("cannot open " + path);
  return ch;
}

// The names in `folder`, sorted: what a close left behind.
std::vector<std::string> entries_in(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// "hello", the given dates and the fork "FORK", written whole.
void write_small(int32_t format, const std::string &path) {
  MacBinChannel *ch = open_as(format, path);
  MacBin_PutBuf("hello", 5, 5);
  EXPECT_EQ(MacBin_SetDates(ch, kCreated, kModified), 0);
  EXPECT_EQ(MacBin_SetResourceFork(ch, "FORK", 4), 0);
  MacBin_Close(ch);
}

// The tests' own reading of an AppleSingle/AppleDouble entry: its bytes.
Bytes apple_entry(const Bytes &file, uint32_t id) {
  const uint32_t count = be16(file, 24);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = 26 + 12 * i;
    if (be32(file, at) == id) return slice(file, be32(file, at + 4), be32(file, at + 8));
  }
  throw std::runtime_error("no entry " + std::to_string(id));
}

std::string quoted(const std::string &text) { return "'" + text + "'"; }

// ---- Formats ---------------------------------------------------------------------------

TEST(ContainerFormats, WritableAndReadOnlyValues) {
  Containers c;
  EXPECT_EQ(MACBIN_FORMAT_APPLESINGLE, 4);
  EXPECT_EQ(MACBIN_FORMAT_APPLEDOUBLE, 5);
  EXPECT_EQ(MACBIN_FORMAT_RSRC, 6);
  EXPECT_EQ(MACBIN_FORMAT_BINHEX, 7);
  for (int32_t format : {4, 5, 7, 2, 1}) EXPECT_EQ(MacBin_SetFormat(format), 1) << format;
  for (int32_t format : {0, 3, 6, 8}) EXPECT_EQ(MacBin_SetFormat(format), 0) << format;
}

// ---- AppleSingle and AppleDouble as bytes ----------------------------------------------

TEST(AppleSingleWriter, SmallFileBytes) {
  Containers c;
  write_small(MACBIN_FORMAT_APPLESINGLE, c.file("s.as"));
  EXPECT_EQ(vt::read_file(c.file("s.as")), hex(R"(
    00 05 16 00 00 02 00 00 00 00 00 00 00 00 00 00 | 0: magic, version, filler
    00 00 00 00 00 00 00 00 00 05 00 00 00 03 00 00 | 24: 5 entries; name
    00 56 00 00 00 06 00 00 00 09 00 00 00 5C 00 00 | 32: Finder info
    00 20 00 00 00 08 00 00 00 7C 00 00 00 10 00 00 | 48: dates
    00 01 00 00 00 8C 00 00 00 05 00 00 00 02 00 00 | 64: data fork, resource fork
    00 91 00 00 00 04 53 61 6D 70 6C 65 54 45 58 54 | 80: "Sample", TEXT
    56 41 52 4E 01 00 00 00 00 00 00 00 00 00 00 00 | 96: VARN, flags 0100
    00 00 00 00 00 00 00 00 00 00 00 00 01 02 03 04 | 112: created
    11 22 33 44 80 00 00 00 80 00 00 00 68 65 6C 6C | 128: modified, backup, access, data
    6F 46 4F 52 4B                                  | 144: the fork as given
  )"));
  EXPECT_EQ(entries_in(c.dir.path()), std::vector<std::string>{"s.as"});
}

TEST(AppleDoubleWriter, SmallFileBytesInTwoFiles) {
  Containers c;
  write_small(MACBIN_FORMAT_APPLEDOUBLE, c.file("d.txt"));
  EXPECT_EQ(vt::read_file(c.file("d.txt")), vt::bytes_of("hello"));
  EXPECT_EQ(vt::read_file(c.file("._d.txt")), hex(R"(
    00 05 16 07 00 02 00 00 00 00 00 00 00 00 00 00 | 0: magic, version, filler
    00 00 00 00 00 00 00 00 00 04 00 00 00 03 00 00 | 24: 4 entries; name
    00 4A 00 00 00 06 00 00 00 09 00 00 00 50 00 00 | 32: Finder info
    00 20 00 00 00 08 00 00 00 70 00 00 00 10 00 00 | 48: dates
    00 02 00 00 00 80 00 00 00 04 53 61 6D 70 6C 65 | 64: resource fork; "Sample"
    54 45 58 54 56 41 52 4E 01 00 00 00 00 00 00 00 | 80: TEXT VARN 0100
    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 | 96
    01 02 03 04 11 22 33 44 80 00 00 00 80 00 00 00 | 112: dates
    46 4F 52 4B                                     | 128: the fork as given
  )"));
}

TEST(AppleDoubleWriter, HeaderFileBesideTheDataFileInItsFolder) {
  Containers c;
  std::filesystem::create_directory(c.file("sub"));
  MacBinChannel *ch = open_as(MACBIN_FORMAT_APPLEDOUBLE, c.file("sub/doc.txt"));
  MacBin_Close(ch);
  EXPECT_TRUE(vt::file_exists(c.file("sub/._doc.txt")));
  EXPECT_EQ(vt::read_file(c.file("sub/doc.txt")).size(), 0u);
}

// Resources from resource lines give the resource fork MacBinary II would
// hold, byte for byte; the entries point at the real forks.
TEST(AppleSingleWriter, BuiltResourceForkEqualsMacBinarys) {
  Containers c;
  const Bytes data = vt::repeat(0x41, 300);
  Bytes forks[3];
  const int32_t formats[] = {MACBIN_FORMAT_II, MACBIN_FORMAT_APPLESINGLE,
                             MACBIN_FORMAT_APPLEDOUBLE};
  for (int i = 0; i < 3; ++i) {
    const std::string path = c.file("f" + std::to_string(i));
    MacBinChannel *ch = open_as(formats[i], path);
    MacBin_PutBuf(data.data(), 300, 300);
    MacBin_AddResource(ch, "TEXT 128 Notes Some text in a resource.");
    MacBin_Close(ch);
    if (i == 0) {
      const vt::ParsedMacBinary m = vt::parse_macbinary_file(path);
      EXPECT_EQ(m.data_fork(), data);
      forks[i] = slice(m.bytes, m.rsrc_start, be32(m.bytes, 87));
    } else if (i == 1) {
      const Bytes file = vt::read_file(path);
      EXPECT_EQ(apple_entry(file, 1), data);
      forks[i] = apple_entry(file, 2);
      EXPECT_EQ(file.size(), 140 + 300 + forks[i].size());  // nothing after the fork
    } else {
      EXPECT_EQ(vt::read_file(path), data);
      forks[i] = apple_entry(vt::read_file(c.file("._f2")), 2);
    }
  }
  EXPECT_GT(forks[0].size(), 256u);
  EXPECT_EQ(forks[1], forks[0]);
  EXPECT_EQ(forks[2], forks[0]);
}

TEST(AppleSingleWriter, DatesBefore1932AreUnknown) {
  Containers c;
  MacBinChannel *ch = open_as(MACBIN_FORMAT_APPLESINGLE, c.file("old.as"));
  // 1 January 1904 and the earliest date 32 signed bits after 2000 hold.
  EXPECT_EQ(MacBin_SetDates(ch, 0, k2000 - 0x7FFFFFFFu), 0);
  MacBin_Close(ch);
  EXPECT_EQ(apple_entry(vt::read_file(c.file("old.as")), 8),
            hex("80 00 00 00 80 00 00 01 80 00 00 00 80 00 00 00"));
}

// ---- BinHex --------------------------------------------------------------------------

TEST(BinHexWriter, SmallFileText) {
  Containers c;
  // A file of the user's with the name a fixed scratch name would have.
  vt::write_file(c.file(".s.hqx.partial"), vt::bytes_of("mine"));
  write_small(MACBIN_FORMAT_BINHEX, c.file("s.hqx"));
  // Header "Sample" TEXT VARN 0100, lengths 5 and 4, then "hello" and "FORK".
  EXPECT_EQ(vt::read_file(c.file("s.hqx")),
            vt::bytes_of("(This file must be converted with BinHex 4.0)\n\n"
                         ":\"P0KEA\"XC3\"849K89N&56J%!N!3&!*!$\"$5*D'9XE'r$BNC28N[Tk`:\n"));
  EXPECT_EQ(entries_in(c.dir.path()), (std::vector<std::string>{".s.hqx.partial", "s.hqx"}));
  EXPECT_EQ(vt::read_file(c.file(".s.hqx.partial")), vt::bytes_of("mine"));
}

// ---- Carrying files across whole -------------------------------------------------------

TEST(WholeFile, MacBinaryTakesDatesAndTheForkAsGiven) {
  Containers c;
  write_small(MACBIN_FORMAT_II, c.file("m.bin"));
  const Bytes file = vt::read_file(c.file("m.bin"));
  ASSERT_EQ(file.size(), 384u);  // header, data padded, the fork padded
  EXPECT_EQ(slice(file, 83, 16), hex("00 00 00 05  00 00 00 04  B5 94 F7 04  C5 B5 27 44"));
  EXPECT_EQ(slice(file, 128, 5), vt::bytes_of("hello"));
  EXPECT_EQ(slice(file, 256, 128), vt::concat({vt::bytes_of("FORK"), vt::repeat(0, 124)}));

  // Classic: the file ends with the fork.
  write_small(MACBIN_FORMAT_CLASSIC, c.file("c.bin"));
  EXPECT_EQ(vt::read_file(c.file("c.bin")).size(), 260u);
}

TEST(WholeFile, EmptyForkGivesAFileWithoutOne) {
  Containers c;
  MacBinChannel *ch = open_as(MACBIN_FORMAT_APPLESINGLE, c.file("e.as"));
  MacBin_PutBuf("x", 1, 1);
  EXPECT_EQ(MacBin_SetResourceFork(ch, nullptr, 0), 0);
  MacBin_Close(ch);
  const Bytes file = vt::read_file(c.file("e.as"));
  EXPECT_EQ(apple_entry(file, 2), Bytes{});
  EXPECT_EQ(apple_entry(file, 1), vt::bytes_of("x"));
  EXPECT_EQ(file.size(), 141u);
}

TEST(WholeFile, RefusalsAreReportedAndChangeNothing) {
  Containers c;
  MacBinChannel *ch = open_as(MACBIN_FORMAT_APPLESINGLE, c.file("r.as"));
  EXPECT_EQ(MacBin_SetResourceFork(ch, nullptr, 3), 1);
  EXPECT_EQ(vt::count_messages("Resource fork not set: no fork bytes given"), 1u);
  EXPECT_EQ(MacBin_SetResourceFork(ch, "x", -1), 1);
  EXPECT_EQ(ch->data_length, -1);  // the data fork is still open
  EXPECT_EQ(MacBin_SetResourceFork(ch, "FORK", 4), 0);
  EXPECT_EQ(MacBin_SetResourceFork(ch, "FORK", 4), 1);
  EXPECT_EQ(vt::count_messages("Resource fork not set: it was set before"), 1u);
  MacBin_AddResource(ch, "TEXT 1 n abc");
  EXPECT_EQ(insert_resource("TEXT", 2, "", "def"), 1);
  EXPECT_EQ(vt::count_messages("Resource fork set whole: resource <TEXT>, ID 1 not inserted"), 1u);
  EXPECT_EQ(vt::count_messages("Resource fork set whole: resource <TEXT>, ID 2 not inserted"), 1u);
  MacBin_Close(ch);
  EXPECT_EQ(apple_entry(vt::read_file(c.file("r.as")), 2), vt::bytes_of("FORK"));

  ch = open_as(MACBIN_FORMAT_II, c.file("r.bin"));
  MacBin_AddResource(ch, "TEXT 1 n abc");
  EXPECT_EQ(MacBin_SetResourceFork(ch, "FORK", 4), 1);
  EXPECT_EQ(vt::count_messages("Resource fork not set: resources were added before"), 1u);
  MacBin_Close(ch);
  EXPECT_EQ(vt::parse_macbinary_file(c.file("r.bin")).get("TEXT", 1).data, vt::bytes_of("abc"));

  ch = open_as(MACBIN_FORMAT_II, c.file("r2.bin"));
  MacBin_CompleteDataFork(ch);
  EXPECT_EQ(MacBin_SetResourceFork(ch, "FORK", 4), 1);
  EXPECT_EQ(vt::count_messages("Resource fork not set: the data fork was completed before"), 1u);
  MacBin_Close(ch);

  EXPECT_EQ(MacBin_SetDates(nullptr, 1, 2), 1);
  EXPECT_EQ(MacBin_SetResourceFork(nullptr, "x", 1), 1);
  EXPECT_EQ(vt::count_messages("No open output channel"), 2u);
}

// ---- Failures leave nothing behind ----------------------------------------------------

struct FailureCase {
  const char *where;
  int32_t format;
  bool in_resource_fork;  // the fault hits the resource fork, else the data fork
};

class ContainerFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ContainerFailure, NoFileStays) {
  const FailureCase &param = GetParam();
  Containers c;
  const std::string path = c.file("out");
  MacBinChannel *ch = open_as(param.format, path);
  const Bytes data(200000, 0x33);  // more than a write buffer
  if (!param.in_resource_fork) vt::fail_writes_after(1000, ENOSPC);
  MacBin_PutBuf(data.data(), static_cast<int32_t>(data.size()),
                static_cast<int32_t>(data.size()));
  if (param.in_resource_fork) vt::fail_writes_after(100, ENOSPC);
  const Bytes fork(100000, 0x44);
  MacBin_SetResourceFork(ch, fork.data(), static_cast<int32_t>(fork.size()));
  MacBin_Close(ch);
  vt::clear_faults();
  EXPECT_EQ(vt::count_messages("Writing output file"), 1u);
  EXPECT_EQ(vt::count_messages("Removing output file(s)"), 1u);
  EXPECT_TRUE(std::filesystem::is_empty(c.dir.path())) << "files left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ContainerFailure,
    testing::Values(FailureCase{"AppleSingleData", MACBIN_FORMAT_APPLESINGLE, false},
                    FailureCase{"AppleSingleFork", MACBIN_FORMAT_APPLESINGLE, true},
                    FailureCase{"AppleDoubleData", MACBIN_FORMAT_APPLEDOUBLE, false},
                    FailureCase{"AppleDoubleFork", MACBIN_FORMAT_APPLEDOUBLE, true},
                    FailureCase{"BinHexData", MACBIN_FORMAT_BINHEX, false},
                    FailureCase{"BinHexFork", MACBIN_FORMAT_BINHEX, true}),
    [](const testing::TestParamInfo<FailureCase> &case_info) { return std::string(case_info.param.where); });

// The header file cannot be made (a folder has its name): the data file,
// already opened, goes again.
TEST(ContainerFailure, AppleDoubleHeaderFileUnwritable) {
  Containers c;
  std::filesystem::create_directory(c.file("._doc"));
  ASSERT_EQ(MacBin_SetFormat(MACBIN_FORMAT_APPLEDOUBLE), 1);
  char name[] = "Doc";
  EXPECT_EQ(MacBin_OpenW(c.file("doc").c_str(), name, "VARN", "TEXT"), nullptr);
  EXPECT_EQ(vt::count_messages("Could not open AppleDouble header file"), 1u);
  EXPECT_FALSE(vt::file_exists(c.file("doc")));
}

TEST(ContainerFailure, BinHexOutputUnwritable) {
  Containers c;
  ASSERT_EQ(MacBin_SetFormat(MACBIN_FORMAT_BINHEX), 1);
  char name[] = "Doc";
  EXPECT_EQ(MacBin_OpenW(c.file("missing/doc.hqx").c_str(), name, "VARN", "TEXT"), nullptr);
  EXPECT_EQ(vt::count_messages("Could not open output file " + c.file("missing/doc.hqx") +
                               ": No such file or directory"),
            1u);
  EXPECT_TRUE(std::filesystem::is_empty(c.dir.path()));
}

// ---- Peers -----------------------------------------------------------------------------

// A file with a 300-byte data fork and resources, in `format`.
void write_sample(int32_t format, const std::string &path) {
  MacBinChannel *ch = open_as(format, path);
  Bytes data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  MacBin_PutBuf(data.data(), 300, 300);
  MacBin_AddResource(ch, "TEXT 128 Notes Some text in a resource.");
  MacBin_Close(ch);
  ASSERT_EQ(vt::count_messages("Writing output file"), 0u);
}

void expect_listing(const std::string &listing, const std::string &fork_length) {
  EXPECT_NE(listing.find("\"XADFileName\": \"Sample\""), std::string::npos) << listing;
  EXPECT_NE(listing.find("\"XADFileType\": 1413830740"), std::string::npos);     // TEXT
  EXPECT_NE(listing.find("\"XADFileCreator\": 1447121486"), std::string::npos);  // VARN
  EXPECT_NE(listing.find("\"XADFinderFlags\": 256"), std::string::npos);
  EXPECT_NE(listing.find("\"XADDataLength\": " + fork_length), std::string::npos);
}

TEST(ContainerPeers, UnarListsAndExtractsAppleSingle) {
  const std::string lsar = vt::require_peer("lsar", "unar");
  const std::string unar = vt::require_peer("unar", "unar");
  if (lsar.empty() || unar.empty()) GTEST_SKIP() << "unar not installed";
  Containers c;
  write_sample(MACBIN_FORMAT_APPLESINGLE, c.file("s.as"));
  const Bytes file = vt::read_file(c.file("s.as"));
  const Bytes rsrc = apple_entry(file, 2);

  std::string listing;
  ASSERT_EQ(vt::run_command(quoted(lsar) + " -j " + quoted(c.file("s.as")), &listing), 0);
  EXPECT_NE(listing.find("\"lsarFormatName\": \"AppleSingle\""), std::string::npos);
  expect_listing(listing, "300");
  expect_listing(listing, std::to_string(rsrc.size()));

  std::string output;
  ASSERT_EQ(vt::run_command(quoted(unar) + " -q -k visible -o " + quoted(c.file("x")) + " " +
                                quoted(c.file("s.as")),
                            &output),
            0)
      << output;
  EXPECT_EQ(vt::read_file(c.file("x/Sample")), apple_entry(file, 1));
  // unar keeps the resource fork and Finder info in an AppleDouble file.
  const Bytes kept = vt::read_file(c.file("x/Sample.rsrc"));
  EXPECT_EQ(apple_entry(kept, 2), rsrc);
  EXPECT_EQ(slice(apple_entry(kept, 9), 0, 10), vt::concat({vt::bytes_of("TEXTVARN"), hex("01 00")}));
}

TEST(ContainerPeers, UnarListsAndExtractsAppleDoubleHeader) {
  const std::string lsar = vt::require_peer("lsar", "unar");
  const std::string unar = vt::require_peer("unar", "unar");
  if (lsar.empty() || unar.empty()) GTEST_SKIP() << "unar not installed";
  Containers c;
  write_sample(MACBIN_FORMAT_APPLEDOUBLE, c.file("d.txt"));
  const Bytes rsrc = apple_entry(vt::read_file(c.file("._d.txt")), 2);
  // unar reads the header file as an archive of the resource fork; the data
  // file is the data fork as it is.
  std::string listing;
  ASSERT_EQ(vt::run_command(quoted(lsar) + " -j " + quoted(c.file("._d.txt")), &listing), 0);
  EXPECT_NE(listing.find("\"XADIsResourceFork\": 1"), std::string::npos);
  expect_listing(listing, std::to_string(rsrc.size()));
  Bytes data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(vt::read_file(c.file("d.txt")), data);

  std::string output;
  ASSERT_EQ(vt::run_command(quoted(unar) + " -q -k visible -o " + quoted(c.file("x")) + " " +
                                quoted(c.file("._d.txt")),
                            &output),
            0)
      << output;
  EXPECT_EQ(apple_entry(vt::read_file(c.file("x/Sample.rsrc")), 2), rsrc);
}

TEST(ContainerPeers, HexbinDecodesOurBinHex) {
  const std::string hexbin = vt::require_peer("hexbin", "macutils");
  if (hexbin.empty()) GTEST_SKIP() << "macutils not installed";
  Containers c;
  // Forks with runs of the marker byte and runs past 255, to test the coding.
  MacBinChannel *ch = open_as(MACBIN_FORMAT_BINHEX, c.file("s.hqx"));
  const Bytes data = vt::concat({vt::repeat(0x90, 700), vt::bytes_of("abc"), vt::repeat(0, 600),
                                 hex("90 90 01 90"), vt::repeat(0x55, 3)});
  MacBin_PutBuf(data.data(), static_cast<int32_t>(data.size()), static_cast<int32_t>(data.size()));
  MacBin_AddResource(ch, "TEXT 128 Notes Some text in a resource.");
  MacBin_Close(ch);

  std::string output;
  ASSERT_EQ(vt::run_command("cd " + quoted(c.dir.path().string()) + " && " + quoted(hexbin) +
                                " -3 s.hqx",
                            &output),
            0)
      << output;
  EXPECT_EQ(vt::read_file(c.file("Sample.data")), data);
  const Bytes info = vt::read_file(c.file("Sample.info"));  // a MacBinary header
  EXPECT_EQ(slice(info, 65, 8), vt::bytes_of("TEXTVARN"));
  const Bytes rsrc = vt::read_file(c.file("Sample.rsrc"));
  EXPECT_EQ(be32(info, 87), rsrc.size());
  // The same resources as MacBinary II would carry.
  MacBinChannel *m = open_as(MACBIN_FORMAT_II, c.file("m.bin"));
  MacBin_PutBuf(data.data(), static_cast<int32_t>(data.size()), static_cast<int32_t>(data.size()));
  MacBin_AddResource(m, "TEXT 128 Notes Some text in a resource.");
  MacBin_Close(m);
  const vt::ParsedMacBinary parsed = vt::parse_macbinary_file(c.file("m.bin"));
  EXPECT_EQ(rsrc, slice(parsed.bytes, parsed.rsrc_start, be32(parsed.bytes, 87)));
}

// Forks longer than the pieces (64 KiB) in which the close reads them back
// from the hidden file: runs and markers reach across the pieces' ends,
// and the resource fork, set whole, does too.  hexbin and the library's
// own reader give back what went in.
TEST(ContainerPeers, HexbinDecodesForksReadBackInPieces) {
  const std::string hexbin = vt::require_peer("hexbin", "macutils");
  if (hexbin.empty()) GTEST_SKIP() << "macutils not installed";
  Containers c;
  // No repeats and no marker: 1 to 127, neighbours always different.
  const auto plain = [](size_t count) {
    Bytes out(count);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(1 + i * 37 % 127);
    return out;
  };
  const Bytes data = vt::concat({plain(65536 - 150), vt::repeat(0x90, 300),  // across 64 KiB
                                 plain(65536 - 150 - 1), hex("90 90"),       // across 128 KiB
                                 plain(65536 - 1 - 255), vt::repeat(0xC3, 256),  // 255 | 1
                                 plain(1000)});
  const Bytes fork = vt::concat({plain(65536 - 3), vt::repeat(0x90, 6), plain(500)});
  MacBinChannel *ch = open_as(MACBIN_FORMAT_BINHEX, c.file("s.hqx"));
  MacBin_PutBuf(data.data(), static_cast<int32_t>(data.size()), static_cast<int32_t>(data.size()));
  ASSERT_EQ(MacBin_SetResourceFork(ch, fork.data(), static_cast<int32_t>(fork.size())), 0);
  MacBin_Close(ch);
  ASSERT_EQ(vt::count_messages("Writing output file"), 0u);

  std::string output;
  ASSERT_EQ(vt::run_command("cd " + quoted(c.dir.path().string()) + " && " + quoted(hexbin) +
                                " -3 s.hqx",
                            &output),
            0)
      << output;
  EXPECT_EQ(vt::read_file(c.file("Sample.data")), data);
  EXPECT_EQ(vt::read_file(c.file("Sample.rsrc")), fork);

  MacBinChannel *reader = MacBin_OpenR(c.file("s.hqx").c_str());
  ASSERT_NE(reader, nullptr);
  Bytes read_back(data.size() + 1);
  EXPECT_EQ(MacBin_ReadDataFork(reader, 0, read_back.data(), static_cast<int32_t>(read_back.size())),
            static_cast<int32_t>(data.size()));
  read_back.resize(data.size());
  EXPECT_EQ(read_back, data);
  MacBin_Close(reader);
}

}  // namespace
