// The MacBinary writer through the public API: header (both formats), data
// fork, resource fork and map, Finder resources, resource lines, notices,
// trace lines, limits and write failures.  Files are checked as bytes and
// read back by the tests' own parser of the layout.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "stream/internal.hpp"
#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "tessel/testing.h"
#include "varnel.h"

namespace {

using vt::be16;
using vt::be32;
using vt::Bytes;
using vt::hex;
using vt::slice;
using MacBinaryFile = vt::ParsedMacBinary;

// ---- Processors and set-up ------------------------------------------------------

// "TEST" (and others): vt::write_parameter_text, the parameter text itself.
// "ABC ": the parameter text in angle brackets, so that an empty one shows.
int32_t write_bracketed(MacBinChannel *, const char *param) {
  const std::string text = "<" + std::string(param) + ">";
  const auto n = static_cast<int32_t>(text.size());
  return MacBin_PutBuf(text.data(), n, n);
}
// "NONE": produces nothing.
int32_t write_nothing(MacBinChannel *, const char *) { return 0; }
// "BIG ": big_resource_bytes bytes of 0xAB.
int32_t big_resource_bytes = 0;
int32_t write_big(MacBinChannel *, const char *) {
  const Bytes block(65536, 0xAB);
  for (int32_t left = big_resource_bytes; left > 0; left -= 65536) {
    const int32_t n = std::min(left, 65536);
    MacBin_PutBuf(block.data(), n, n);
  }
  return 0;
}

// A fresh library with a recording message method, the processors above and
// the Finder handlers, and a temporary directory.
struct Writer {
  Writer() {
    vt::init_recording();
    const std::pair<const char *, MacBinWriteHandler> processors[] = {
        {"vers", add_vers},        {"FREF", add_FREF},      {"Bndl", close_BNDL},
        {"TEST", vt::write_parameter_text}, {"NONE", write_nothing}, {"BIG ", write_big},
        {"ABC ", write_bracketed}};
    for (const auto &[type, handler] : processors)
      EXPECT_EQ(MacBin_AddProcessor(type, nullptr, handler), 0) << type;
  }
  std::string file(std::string_view name) const { return dir.file(name); }
  vt::TempDir dir;
};

// Opens a writer (Macintosh name "Sample", creator VARN); a failed open
// throws, which fails the test instead of crashing it.
MacBinChannel *open_writer(const std::string &path, const char *type = "TEXT") {
  static char name[] = "Sample";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", type);
  if (ch == nullptr) throw std::runtime_error("cannot open " + path);
  return ch;
}

// A file with an empty data fork and these resource lines, read back.
MacBinaryFile write_lines(const std::string &path, std::initializer_list<std::string> lines,
                          const char *type = "TEXT") {
  MacBinChannel *ch = open_writer(path, type);
  for (const std::string &line : lines) MacBin_AddResource(ch, line.c_str());
  MacBin_Close(ch);
  return vt::parse_macbinary_file(path);
}

// A Pascal string: length byte and text.
Bytes pascal(const std::string &text) {
  return vt::concat({Bytes{static_cast<uint8_t>(text.size())}, vt::bytes_of(text)});
}

void put_text(const std::string &text) {
  const auto n = static_cast<int32_t>(text.size());
  EXPECT_EQ(MacBin_PutBuf(text.data(), n, n), 0);
}

// Texts of the recorded messages, each checked to come from "MacBin" with `severity`.
std::vector<std::string> message_texts(int32_t severity) {
  std::vector<std::string> texts;
  for (const vt::Message &m : vt::recorded_messages()) {
    EXPECT_EQ(m.module, "MacBin");
    EXPECT_EQ(m.severity, severity) << m.text;
    texts.push_back(m.text);
  }
  return texts;
}

uint32_t macintosh_now() {
  return static_cast<uint32_t>(static_cast<int64_t>(std::time(nullptr)) + 2082844800);
}

// ---- Header -------------------------------------------------------------------------

// A classic file with only the owner resource "Owner": its header with the
// two dates (91 to 98) zero, and its resource fork.
const Bytes kClassicHeader = hex(R"(
    00 06 53 61 6D 70 6C 65 00 00 00 00 00 00 00 00  | 000 name length 6, "Sample"
    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  | 010
    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  | 020 name field ends at 32
    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  | 030
    00 54 45 58 54 56 41 52 4E 01 00 00 00 00 00 00  | 040 TEXT, VARN, flags 0100
    00 00 00 00 00 00 00 00 00 01 4B 00 00 00 00 00  | 050 data 0, resources 331 (256+10+65), dates
    00 00 00 00 00 00 4C 00 00 00 00 00 00 00 00 00  | 060 the 32-bit value 76 at 99
    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  | 070
  )");
// Its header, zeros to 256, the owner resource, and the map: the fork header
// again, then offsets 28 and 50, one type with its reference list at 10, and
// a 15-byte name list.
const Bytes kOwnerFork = vt::concat({hex("00 00 01 00  00 00 01 0A  00 00 00 0A  00 00 00 41"),
                                     vt::repeat(0, 240), hex(R"(
    00 00 00 06 05 4F 77 6E 65 72                    | 100 owner resource: "Owner"
    00 00 01 00 00 00 01 0A 00 00 00 0A 00 00 00 41  | 10A the fork header again
    00 00 00 00 00 00 00 00 00 1C 00 32              | 11A handle, file ref, attributes, 28, 50
    00 00 56 41 52 4E 00 00 00 0A                    | 126 one type: VARN, 1 resource, refs at 10
    00 00 00 00 20 00 00 00 00 00 00 00              | 130 ID 0, name at 0, 0x20, data at 0
    0E 4F 77 6E 65 72 20 72 65 73 6F 75 72 63 65     | 13C "Owner resource"
  )")});

TEST(WriterHeader, ClassicFileByteForByte) {
  Writer w;
  // Unknown formats change nothing: the file below is still the default, classic.
  EXPECT_EQ(MacBin_SetFormat(3), 0);
  EXPECT_EQ(MacBin_SetFormat(0), 0);
  const uint32_t before = macintosh_now();
  const MacBinaryFile f = write_lines(w.file("classic.bin"), {"BNDL Owner"});
  const uint32_t after = macintosh_now();
  for (uint32_t date : {f.created, f.modified}) {
    EXPECT_GE(date, before);
    EXPECT_LE(date, after);
  }
  const Bytes &file = f.bytes;
  ASSERT_EQ(file.size(), 128u + 331);  // ends right after the map
  const Bytes header = vt::patched(slice(file, 0, 128), 91, vt::repeat(0, 8));
  EXPECT_EQ(vt::to_hex(header), vt::to_hex(kClassicHeader));
  EXPECT_EQ(vt::to_hex(slice(file, 128, 331)), vt::to_hex(kOwnerFork));
}

TEST(WriterHeader, MacBinaryIIFileByteForByte) {
  ASSERT_EQ(vt::crc16_xmodem(vt::bytes_of("123456789").data(), 9), 0x31C3);  // the oracle's check value
  Writer w;
  ASSERT_EQ(MacBin_SetFormat(MACBIN_FORMAT_II), 1);
  MacBinChannel *ch = open_writer(w.file("two.bin"));
  // Each channel keeps the format it was opened with.
  ASSERT_EQ(MacBin_SetFormat(MACBIN_FORMAT_CLASSIC), 1);
  MacBin_AddResource(ch, "BNDL Owner");
  ch->finder.flags = static_cast<int16_t>(ch->finder.flags | 0x0040);  // a low-byte flag
  MacBin_Close(ch);

  const Bytes two = vt::read_file(w.file("two.bin"));
  ASSERT_EQ(two.size(), 128u + 256 + 10 + 65 + 53);  // 459 bytes padded to 4 * 128
  EXPECT_EQ(slice(two, 128, 331), kOwnerFork);
  EXPECT_EQ(slice(two, two.size() - 53, 53), vt::repeat(0, 53));
  EXPECT_TRUE(vt::parse_macbinary(two).crc_matches);
  Bytes header = slice(two, 0, 128);
  for (size_t at : std::initializer_list<size_t>{91, 92, 93, 94, 95, 96, 97, 98, 124, 125}) header[at] = 0;
  // As the classic header but: flags 0140, no 76 in 99..102, the flags' low byte
  // at 101, 129 at 122 and 123; the fork length leaves the padding out.
  Bytes expected = kClassicHeader;
  expected[74] = expected[101] = 0x40;
  expected[102] = 0;
  expected[122] = expected[123] = 0x81;
  EXPECT_EQ(vt::to_hex(header), vt::to_hex(expected));
}

TEST(WriterHeader, MissingFileNameCreatorOrTypeIsRefused) {
  Writer w;
  char missing[32] = "";
  const std::string path = w.file("x.bin");
  EXPECT_EQ(MacBin_OpenW("", missing, "", ""), nullptr);
  EXPECT_EQ(MacBin_OpenW(path.c_str(), missing, nullptr, ""), nullptr);
  EXPECT_EQ(MacBin_OpenW(path.c_str(), missing, "VARN", ""), nullptr);
  EXPECT_EQ(message_texts(MACBIN_ERROR),
            (std::vector<std::string>{"No filename specified", "No creator specified",
                                      "No filetype specified"}));
  EXPECT_EQ(MacIOControl.open_writers, 0);
  EXPECT_FALSE(vt::file_exists(path));
}

TEST(WriterHeader, LongNamesAndCodesAreCut) {
  Writer w;
  ASSERT_EQ(chdir(w.dir.path().c_str()), 0);
  // The channel keeps 63 characters of the name, the header 31; codes keep 4.
  std::string forty(40, 'x');
  for (size_t i = 0; i < forty.size(); ++i) forty[i] = static_cast<char>('A' + i % 26);
  MacBinChannel *ch =
      MacBin_OpenW("a-file-name-with-a-long-stem.bin", forty.data(), "CREATOR", "TYPEXY");
  ASSERT_NE(ch, nullptr);
  EXPECT_EQ(std::string(ch->finder.name), forty);
  EXPECT_STREQ(ch->finder.type, "TYPE");
  EXPECT_STREQ(ch->finder.creator, "CREA");
  EXPECT_STREQ(ch->label, "a-file-name-with");  // NAME part, 16 characters
  MacBin_Close(ch);
  const Bytes file = vt::read_file("a-file-name-with-a-long-stem.bin");
  EXPECT_EQ(slice(file, 1, 72), vt::concat({hex("1F"), vt::bytes_of(forty.substr(0, 31)),
                                            vt::repeat(0, 32), vt::bytes_of("TYPECREA")}));
  EXPECT_EQ(vt::parse_macbinary(file).types, std::vector<std::string>{"CREA"});  // the owner's type
  std::string seventy(70, 'n');
  ch = MacBin_OpenW("short-codes.bin", seventy.data(), "AB", "C");
  ASSERT_NE(ch, nullptr);
  EXPECT_EQ(std::string(ch->finder.name), seventy.substr(0, 63));
  MacBin_Close(ch);
  EXPECT_EQ(slice(vt::read_file("short-codes.bin"), 65, 8), hex("43 00 00 00 41 42 00 00"));
}

TEST(WriterHeader, EmptyNameTakesTheFileName) {
  Writer w;
  ASSERT_EQ(chdir(w.dir.path().c_str()), 0);
  ASSERT_EQ(mkdir("sub", 0755), 0);
  // The file name with its directory: at most 31 characters and a NUL in the
  // caller's 32 bytes.  A null name copies nowhere.
  for (const std::string path :
       {"sub/Report.bin", "sub/abcdefghijklmnopqrstuvwxyz0123456789.bin"}) {
    SCOPED_TRACE(path);
    char name[40];
    std::memset(name, 'Z', sizeof name);
    name[0] = '\0';
    MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
    ASSERT_NE(ch, nullptr);
    const std::string expected = path.substr(0, 31);
    EXPECT_EQ(std::string(name), expected);
    EXPECT_EQ(std::string(name + 32, 8), std::string(8, 'Z'));
    MacBin_Close(ch);
    EXPECT_EQ(vt::parse_macbinary_file(path).name, expected);
  }
  MacBinChannel *ch = MacBin_OpenW("sub/null.bin", nullptr, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  EXPECT_STREQ(ch->finder.name, "sub/null.bin");
  MacBin_Close(ch);
}

// ---- Opening: failures and errno --------------------------------------------------

TEST(WriterOpen, OutOfZoneLeavesTheFileUntouched) {
  Writer w;
  const std::string path = w.file("a.bin");
  vt::write_text(path, "precious");
  char name[] = "A";
  const size_t in_use = vt::zone_in_use();
  MacBin_Close(open_writer(w.file("probe.bin")));
  ASSERT_EQ(vt::zone_in_use(), in_use);
  // What an open takes: every smaller room fails at one of its allocations.
  MacBinChannel *probe = open_writer(w.file("probe.bin"));
  const size_t needed = vt::zone_in_use() - in_use;
  MacBin_Close(probe);
  vt::recorded_messages().clear();
  size_t failures = 0;
  for (size_t room = 1; room < needed; room += std::max<size_t>(1, needed / 40), ++failures) {
    SCOPED_TRACE(room);
    vt::limit_zone(in_use + room);
    EXPECT_EQ(MacBin_OpenW(path.c_str(), name, "VARN", "TEXT"), nullptr);
    vt::limit_zone(0);
    EXPECT_EQ(vt::zone_in_use(), in_use);  // nothing kept
  }
  EXPECT_GT(failures, 10u);
  EXPECT_EQ(vt::count_messages("Out Of Memory (in initialisation)"), failures);
  EXPECT_EQ(vt::recorded_messages().size(), failures);
  EXPECT_EQ(vt::read_file(path), vt::bytes_of("precious"));  // not even truncated
  EXPECT_EQ(MacIOControl.open_writers, 0);
}

TEST(WriterOpen, FailedOpenAndStaleErrnoKeepTheCurrentOutput) {
  Writer w;
  const std::string path = w.file("a.bin");
  char name[] = "B";
  // A failed open (and the errno it leaves) keeps the current output and
  // fails nothing; neither does any other stale errno.
  MacBinChannel *a = open_writer(path);
  TesselFile *a_file = outfile;
  EXPECT_EQ(MacBin_OpenW(w.file("no/such/dir/b.bin").c_str(), name, "VARN", "TEXT"), nullptr);
  // The message names the file and the reason.
  EXPECT_EQ(vt::count_messages("Could not open output file " + w.file("no/such/dir/b.bin") +
                               ": No such file or directory"),
            1u);
  EXPECT_EQ(outfile, a_file);
  EXPECT_EQ(MacIOControl.open_writers, 1);
  put_text("still A");
  errno = ENOSPC;
  MacBin_AddResource(a, "TEST 1 n abc");
  errno = EBADF;
  MacBin_Close(a);
  const MacBinaryFile f = vt::parse_macbinary_file(path);
  EXPECT_EQ(f.data_fork(), vt::bytes_of("still A"));
  EXPECT_EQ(f.get("TEST", 1).data, vt::bytes_of("abc"));
  EXPECT_EQ(vt::count_messages("Writing output file"), 0u);
  EXPECT_EQ(vt::count_messages("Removing output file(s)"), 0u);
}

// ---- Data fork and resource fork ------------------------------------------------------

TEST(WriterDataFork, PaddingToMultiplesOf128) {
  Writer w;
  const std::pair<int32_t, int32_t> cases[] = {{0, 128}, {1, 256}, {128, 256}, {129, 384}};
  for (const auto &[length, rsrc_start] : cases) {
    SCOPED_TRACE(length);
    const std::string path = w.file("d" + std::to_string(length));
    MacBinChannel *ch = open_writer(path);
    EXPECT_EQ(ch->data_length, -1);
    const std::string owner = ch->owner_text;  // the default owner text
    EXPECT_FALSE(owner.empty());
    const Bytes data(static_cast<size_t>(length), 0x5A);
    MacBin_PutBuf(data.data(), length, length);
    MacBin_CompleteDataFork(ch);
    MacBin_CompleteDataFork(ch);  // the second call does nothing
    EXPECT_EQ(ch->data_length, length);
    EXPECT_EQ(ch->rsrc_start, rsrc_start);
    EXPECT_EQ(ch->rsrc_offset, rsrc_start - 128);
    EXPECT_EQ(MacBin_GetPtrPos(), rsrc_start + 256);
    MacBin_Close(ch);
    const MacBinaryFile f = vt::parse_macbinary_file(path);
    EXPECT_EQ(f.data_fork(), data);
    const auto padding = static_cast<size_t>(rsrc_start - 128 - length);
    EXPECT_EQ(slice(f.bytes, 128 + data.size(), padding), vt::repeat(0, padding));
    EXPECT_EQ(f.get("VARN", 0).data, pascal(owner));
  }
}

TEST(WriterResourceFork, DataOffsetsCountRefusedEntries) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("offsets.bin"));
  MacBin_AddResource(ch, "TEST 1 \"\" abcde");        // offset 0, 5 bytes
  MacBin_AddResource(ch, "NONE 2 \"\" ignored");      // nothing: 4 zero bytes, no reference
  MacBin_AddResource(ch, "TEST 3 \"\" xy");           // offset 5 + 4 + 4 = 13
  EXPECT_EQ(insert_resource("UNKN", 4, "", "z"), 1);  // no processor: nothing written
  MacBin_AddResource(ch, "TEST 5 \"\" q");            // offset 13 + 4 + 2 = 19
  EXPECT_EQ(vt::count_messages("resource <NONE>, ID 2 not inserted"), 1u);
  EXPECT_EQ(vt::count_messages("Function for resource <UNKN> unknown)"), 1u);
  const size_t rsrc_data = static_cast<size_t>(ch->rsrc_start) + 256;
  MacBin_Close(ch);

  const MacBinaryFile f = vt::parse_macbinary_file(w.file("offsets.bin"));
  EXPECT_EQ(slice(f.bytes, rsrc_data + 9, 4), vt::repeat(0, 4));  // the refused entry
  EXPECT_EQ(f.get("TEST", 1).data_offset, 0u);
  EXPECT_EQ(f.get("TEST", 3).data_offset, 13u);
  EXPECT_EQ(f.get("TEST", 5).data_offset, 19u);
  EXPECT_EQ(f.get("TEST", 5).data, vt::bytes_of("q"));
  EXPECT_EQ(f.find("NONE", 2), nullptr);
  EXPECT_EQ(f.types, (std::vector<std::string>{"TEST", "VARN"}));
  for (const vt::ParsedResource &r : f.resources) {
    EXPECT_EQ(r.attributes, 0x20);
    EXPECT_EQ(r.name.has_value(), r.type == "VARN");
  }
}

// ---- Finder resources --------------------------------------------------------------

TEST(WriterFinder, VersionsAndShortTexts) {
  Writer w;
  const char *clean = "";
  const char *invalid = "ERROR     Invalid Release code \a\n";
  struct Case {
    const char *param;
    const char *printed;
    Bytes data;
  };
  const Case cases[] = {
      {"1.00 F 0 0/1.0/Version 1.0", clean,
       hex("01 00 80 00 00 00  03 31 2E 30  0B 56 65 72 73 69 6F 6E 20 31 2E 30")},
      {"1.23 B 4 0/x/y", clean, hex("01 23 60 04 00 00 01 78 01 79")},
      {"1.00 D 0 0/s/long/more", clean, hex("01 00 20 00 00 00 01 73 04 6C 6F 6E 67")},
      {"2.10 A 9 258//l", clean, hex("02 10 40 09 01 02 00 01 6C")},      // empty short version
      {"1.00 f 0 0/a/b", invalid, hex("01 00 20 00 00 00 01 61 01 62")},  // lower case
      // Short texts stop at their end.
      {"1", invalid, hex("01 00 20 00 00 00 00 00")},
      {"1.00 F 7 1 no separators", clean, hex("01 00 80 07 00 01 00 00")},
      {"1.00 F 0 0/only-short", clean,
       vt::concat({hex("01 00 80 00 00 00 0A"), vt::bytes_of("only-short"), hex("00")})},
  };
  MacBinChannel *ch = open_writer(w.file("vers.bin"), "APPL");
  for (size_t i = 0; i < std::size(cases); ++i) {
    vt::CaptureStdout out;
    MacBin_AddResource(ch, ("vers " + std::to_string(i + 1) + " \"\" " + cases[i].param).c_str());
    EXPECT_EQ(out.text(), cases[i].printed) << cases[i].param;
  }
  MacBin_Close(ch);
  const MacBinaryFile f = vt::parse_macbinary_file(w.file("vers.bin"));
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(vt::to_hex(f.get("vers", static_cast<uint32_t>(i + 1)).data),
              vt::to_hex(cases[i].data))
        << cases[i].param;
}

TEST(WriterFinder, DirectlyInsertedFrefWithoutItsIdHasZeroIds) {
  // Direct insertion skips the line handler's "/ID": the FREF text ends early.
  Writer w;
  MacBinChannel *ch = open_writer(w.file("fref.bin"), "APPL");
  MacBin_CompleteDataFork(ch);
  vt::CaptureStdout out;
  EXPECT_EQ(insert_resource("FREF", 200, "", "AB"), 0);
  EXPECT_EQ(out.text(), "");
  MacBin_Close(ch);
  const MacBinaryFile f = vt::parse_macbinary_file(w.file("fref.bin"));
  EXPECT_EQ(f.get("FREF", 200).data, hex("41 42 00 00 00 00 00"));
  EXPECT_EQ(slice(f.get("BNDL", 128).data, 14, 4), hex("00 00 00 00"));  // both IDs zero
}

TEST(WriterFinder, FrefsMakeABundle) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("bundle.bin"), "APPL");
  EXPECT_EQ(ch->finder.flags, 0x0100);
  MacBin_AddResource(ch, "FREF 128 \"\" APPL 128");
  MacBin_AddResource(ch, "FREF 129 \"\" TEXT 129");
  EXPECT_EQ(ch->fref_last, 1);
  MacBin_Close(ch);
  const MacBinaryFile f = vt::parse_macbinary_file(w.file("bundle.bin"));
  EXPECT_EQ(f.get("FREF", 128).data, hex("41 50 50 4C 00 00 00"));  // APPL, local 0, ""
  EXPECT_EQ(f.get("FREF", 129).data, hex("54 45 58 54 00 01 00"));  // TEXT, local 1, ""
  EXPECT_EQ(f.get("BNDL", 128).name, "Bundle");
  EXPECT_EQ(vt::to_hex(f.get("BNDL", 128).data), vt::to_hex(hex(R"(
    56 41 52 4E 00 00 00 01              | owner VARN, ID 0, two types
    46 52 45 46 00 01                    | FREF, two entries
    00 00 00 80 00 01 00 81              | (0, 128), (1, 129)
    49 43 4E 23 00 01                    | ICN#, two entries
    00 00 00 80 00 01 00 81              | (0, 128), (1, 129)
  )")));
  EXPECT_EQ(f.types, (std::vector<std::string>{"FREF", "VARN", "BNDL"}));
  EXPECT_EQ(f.flags, 0x2100u);  // has-bundle and inited
}

TEST(WriterFinder, NoFrefNoBundleUnlessAskedFor) {
  Writer w;
  const MacBinaryFile plain = write_lines(w.file("plain.bin"), {}, "APPL");
  EXPECT_EQ(plain.types, std::vector<std::string>{"VARN"});
  EXPECT_EQ(plain.flags, 0x0100u);
  // One asked for under "Bndl" lists no entries (FFFF).
  const MacBinaryFile asked = write_lines(w.file("bndl.bin"), {"Bndl 200 mine"}, "APPL");
  EXPECT_EQ(asked.get("BNDL", 200).data,
            hex("56 41 52 4E 00 00 00 01 46 52 45 46 FF FF 49 43 4E 23 FF FF"));
  EXPECT_EQ(asked.flags, 0x2100u);
}

TEST(WriterFinder, SixtyFourFrefsFillTheTable) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("many.bin"), "APPL");
  for (int i = 0; i < 64; ++i) {
    MacBin_AddResource(ch, ("FREF " + std::to_string(1000 + i) + " \"\" T" +
                            std::to_string(10 + i) + "x " + std::to_string(2000 + i))
                               .c_str());
  }
  // Another type with the FREF handler shares the table.
  ASSERT_EQ(MacBin_AddProcessor("FRF2", nullptr, add_FREF), 0);
  vt::CaptureStdout out;
  MacBin_AddResource(ch, "FRF2 5001 \"\" LAST 5001");
  EXPECT_EQ(out.text(), "ERROR     out of FREF memory \a\n");
  EXPECT_EQ(ch->fref_last, 63);
  EXPECT_EQ(vt::count_messages("resource <FRF2>, ID 5001 not inserted"), 1u);
  MacBin_Close(ch);
  const MacBinaryFile many = vt::parse_macbinary_file(w.file("many.bin"));
  const Bytes &bundle = many.get("BNDL", 128).data;
  EXPECT_EQ(bundle.size(), 20u + 8 * 64);
  EXPECT_EQ(be16(bundle, 12), 63u);
  EXPECT_EQ(be16(bundle, 14 + 4 * 63 + 2), 1063u);  // last FREF ID
  EXPECT_EQ(many.find("FRF2", 5001), nullptr);
}

// ---- Resource lines -------------------------------------------------------------------

TEST(WriterLines, CommentsAndEmptyLinesInsertNothing) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("lines.bin"));
  vt::recorded_messages().clear();  // the start notice
  MacBin_AddResource(ch, "; TEST 9 comment never inserted");
  MacBin_AddResource(ch, "");
  MacBin_AddResource(ch, nullptr);
  EXPECT_TRUE(vt::recorded_messages().empty());
  MacBin_Close(ch);
  EXPECT_EQ(vt::parse_macbinary_file(w.file("lines.bin")).types, std::vector<std::string>{"VARN"});
}

TEST(WriterLines, WordsQuotesAndTypes) {
  Writer w;
  ASSERT_EQ(MacBin_AddProcessor("SEVEN77", nullptr, vt::write_parameter_text), 0);  // stored as SEVE
  MacBinChannel *ch = open_writer(w.file("lines.bin"));
  vt::recorded_messages().clear();  // the start notice
  MacBin_AddResource(ch, "TEST 1 name two  words");  // five words: "two  words" as one text
  MacBin_AddResource(ch, "ABC 2 three");             // three letters: "ABC ", empty parameter
  MacBin_AddResource(ch, "ABC 7 seven data");
  MacBin_AddResource(ch, "TEST \"3\" \"a name\" \"quoted\" kept");
  MacBin_AddResource(ch, "BNDL \"My owner\"");
  MacBin_AddResource(ch, "SEVEN77 6 x data");  // seven characters are kept whole
  EXPECT_EQ(vt::recorded_messages().size(), 5u);  // progress notices, nothing else
  EXPECT_STREQ(ch->types[1].type, "ABC ");
  EXPECT_STREQ(ch->types[2].type, "SEVEN77");
  MacBin_Close(ch);

  const MacBinaryFile f = vt::parse_macbinary_file(w.file("lines.bin"));
  EXPECT_EQ(f.get("TEST", 1).data, vt::bytes_of("two  words"));
  EXPECT_EQ(f.get("TEST", 1).name, "name");
  EXPECT_EQ(f.get("ABC ", 2).data, vt::bytes_of("<>"));
  EXPECT_EQ(f.get("ABC ", 7).data, vt::bytes_of("<data>"));
  EXPECT_EQ(f.get("TEST", 3).data, vt::bytes_of("\"quoted\" kept"));
  EXPECT_EQ(f.get("TEST", 3).name, "a name");
  EXPECT_EQ(f.get("VARN", 0).data, pascal("My owner"));
  EXPECT_EQ(f.get("SEVE", 6).data, vt::bytes_of("data"));  // the map takes four characters
  EXPECT_EQ(f.types, (std::vector<std::string>{"TEST", "ABC ", "SEVE", "VARN"}));
}

TEST(WriterLines, MalformedAndOverlongLinesAreRefused) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("lines.bin"));
  // Words that take exactly 256 bytes: "TEST", "11", "n" and the parameter,
  // NULs included: 5 + 3 + 2 + 246; lines of up to 511 characters.  The FREF
  // suffix counts: "FREF 10 n " + 243 characters + "/10" is 257 bytes.
  const std::pair<std::string, const char *> lines[] = {
      {"BNDL", "ERROR in line ?"},
      {"   \t ", "ERROR in line ?"},
      {"TEST 4", "Syntax error in line ?"},
      {"TOOLONGTYPE 5 x", "Resource type <TOOLONGTYPE> longer than 7 characters"},
      {"TEST 11 n " + std::string(245, 'p'), nullptr},
      {"TEST 12 n " + std::string(246, 'p'), "ERROR in line ?"},   // 257 bytes
      {"TEST 13 n" + std::string(501, ' ') + "x", nullptr},        // 511 characters
      {"TEST 14 n" + std::string(502, ' ') + "x", "ERROR in line ?"},  // 512 characters
      {"FREF 10 n " + std::string(243, 'q'), "ERROR in line ?"},
      {"FREF 11 n", "Syntax error in line ?"},
      {"FREF 12", "Syntax error in line ?"},
  };
  for (const auto &[line, error] : lines) {
    SCOPED_TRACE(line.substr(0, 20));
    vt::recorded_messages().clear();
    MacBin_AddResource(ch, line.c_str());
    const bool refused = vt::count_messages(error == nullptr ? "" : error) == 1;
    EXPECT_EQ(refused, error != nullptr);
  }
  EXPECT_EQ(ch->fref_last, -1);
  MacBin_Close(ch);
  const MacBinaryFile f = vt::parse_macbinary_file(w.file("lines.bin"));
  EXPECT_EQ(f.get("TEST", 11).data, vt::bytes_of(std::string(245, 'p')));
  EXPECT_EQ(f.get("TEST", 13).data, vt::bytes_of("x"));  // blanks collapse as separators
  // Nothing else: no bundle either.
  EXPECT_EQ(f.types, (std::vector<std::string>{"TEST", "VARN"}));
  EXPECT_EQ(f.resources.size(), 3u);
}

// ---- Capacity -------------------------------------------------------------------------

// The first tables are the public ones; past them the type table grows and
// a type's references past its grid row are the writer's own.  What stops
// a file is the map's 16-bit offsets: 30 + 8 x types + 12 x resources.
TEST(WriterCapacity, TablesGrowUntilTheMapsOffsetsAreFull) {
  Writer w;
  ASSERT_EQ(MacBin_AddProcessor("****", nullptr, vt::write_parameter_text), 0);
  char name[] = "C";
  MacBinChannel *ch = MacBin_OpenW(w.file("capacity.bin").c_str(), name, "T000", "TEXT");
  ASSERT_NE(ch, nullptr);
  EXPECT_EQ(insert_resource("T000", 1, "", "x"), 1);  // MacChannel not set yet
  EXPECT_EQ(vt::count_messages("No open output channel"), 1u);
  MacBin_CompleteDataFork(ch);
  char type[8];
  for (int t = 0; t < 100; ++t) {
    std::snprintf(type, sizeof type, "T%03d", t);
    EXPECT_EQ(insert_resource(type, 1, "", "x"), 0) << type;
  }
  EXPECT_EQ(ch->type_count, 99);
  EXPECT_STREQ(ch->types[99].type, "T099");
  EXPECT_EQ(ch->refs[99 * MACBIN_MAX_RESOURCES_PER_TYPE].id, 1);  // the grid grew a row per type
  // 100 types leave room for (65535 - 30 - 800) / 12 = 5392 references.
  int inserted = 100;
  for (int r = 2; r < 6000 && inserted < 5392; ++r, ++inserted) {
    ASSERT_EQ(insert_resource("T005", r, "", r == 3000 ? "middle" : "y"), 0) << r;
  }
  EXPECT_EQ(insert_resource("T005", 9999, "", "y"), 1);
  EXPECT_EQ(vt::count_messages(
                "Resource map full (its lists must lie within 64 KB): resource <T005>, ID 9999 not inserted"),
            1u);
  EXPECT_EQ(ch->types[5].count, 5292);
  EXPECT_EQ(ch->refs[5 * MACBIN_MAX_RESOURCES_PER_TYPE + 63].id, 64);  // the grid keeps the first 64
  MacBin_Close(ch);  // the owner resource finds no room either: said, and the file stands

  const MacBinaryFile f = vt::parse_macbinary_file(w.file("capacity.bin"));
  EXPECT_EQ(f.types.size(), 100u);
  EXPECT_EQ(f.resources.size(), 5392u);
  EXPECT_EQ(f.get("T005", 3000).data, vt::bytes_of("middle"));
  EXPECT_EQ(f.get("T099", 1).data, vt::bytes_of("x"));
  EXPECT_EQ(vt::count_messages(
                "Resource map full (its lists must lie within 64 KB): resource <T000>, ID 0 not inserted"),
            1u);
}

TEST(WriterCapacity, DataOffsetBeyond24Bits) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("big.bin"));
  big_resource_bytes = 0xFFFFFB;  // the next length word lies at 0xFFFFFF: still addressable
  MacBin_AddResource(ch, "BIG  1 \"\"");
  MacBin_AddResource(ch, "TEST 2 \"\" last");
  MacBin_AddResource(ch, "TEST 3 \"\" refused");
  EXPECT_EQ(vt::count_messages("Resource data past 16 MB: resource <TEST>, ID 3 not inserted"), 1u);
  MacBin_Close(ch);  // the owner is refused the same way
  EXPECT_EQ(vt::count_messages("Resource data past 16 MB: resource <VARN>, ID 0 not inserted"), 1u);

  const MacBinaryFile f = vt::parse_macbinary_file(w.file("big.bin"));
  EXPECT_EQ(f.get("TEST", 2).data_offset, 0xFFFFFFu);
  EXPECT_EQ(f.get("TEST", 2).data, vt::bytes_of("last"));
  EXPECT_EQ(f.get("BIG ", 1).data.size(), 0xFFFFFBu);
  EXPECT_EQ(f.resources.size(), 2u);
  EXPECT_EQ(f.map_start, f.rsrc_start + 256 + 0xFFFFFF + 8);  // nothing written for the refused
}

TEST(WriterCapacity, NameListBeyond65535Bytes) {
  Writer w;
  ASSERT_EQ(MacBin_AddProcessor("****", nullptr, vt::write_parameter_text), 0);
  MacBinChannel *ch = open_writer(w.file("names.bin"));
  MacBin_CompleteDataFork(ch);
  // 511 names of 127 characters take 511 * 128 = 65408 bytes.
  std::string long_name(127, 'n');
  char type[8];
  for (int i = 0; i < 511; ++i) {
    std::snprintf(type, sizeof type, "N%03d", i / 64);
    long_name[0] = static_cast<char>('A' + i % 26);
    long_name[1] = static_cast<char>('A' + i / 26);
    ASSERT_EQ(insert_resource(type, i, long_name.c_str(), "d"), 0);
  }
  const int32_t end_before = MacBin_GetPtrPos();
  EXPECT_EQ(insert_resource("N007", 999, std::string(127, 'z').c_str(), "d"), 1);
  EXPECT_EQ(vt::count_messages("Name list full: resource <N007>, ID 999 not inserted"), 1u);
  EXPECT_EQ(MacBin_GetPtrPos(), end_before);  // refused before anything was written
  MacBin_Close(ch);                           // the owner's 15 bytes still fit: 65423

  const MacBinaryFile f = vt::parse_macbinary_file(w.file("names.bin"));
  EXPECT_EQ(f.resources.size(), 512u);
  EXPECT_EQ(f.map.size() - f.name_list_offset, 65423u);
  EXPECT_EQ(f.get("VARN", 0).name, "Owner resource");
  EXPECT_EQ(f.get("N007", 510).name.value().size(), 127u);
}

// ---- Channels, notices, direct insertion ----------------------------------------------

TEST(WriterNotices, OneStartAndOneEndForNestedFiles) {
  Writer w;
  MacBinChannel *a = open_writer(w.file("a.bin"));
  MacBinChannel *b = open_writer(w.file("b.bin"));
  EXPECT_EQ(MacIOControl.open_writers, 2);
  MacBin_AddResource(a, "vers 1 \"\" 1.00 F 0 0/1/1");
  MacBin_AddResource(b, "TEST 7 seven data");
  MacBin_Close(a);
  MacBin_AddResource(b, "FREF 128 \"\" TEXT 128");
  // The FREF's icon, so that the bundle gives no warning.
  ASSERT_EQ(MacBin_AddResourceData(b, "ICN#", 128, nullptr, 0, "\x01", 1), 0);
  EXPECT_EQ(vt::count_messages("End Macintosh Resources"), 0u);
  MacBin_Close(b);
  EXPECT_EQ(MacIOControl.open_writers, 0);
  EXPECT_EQ(message_texts(MACBIN_INFO), (std::vector<std::string>{
                                            "Start Macintosh Resources",
                                            "Starting Resource vers number 1",
                                            "Starting Resource TEST number 7 (seven)",
                                            "Starting Resource FREF number 128",
                                            "Starting Resource ICN# number 128",
                                            "Starting Resource BNDL number 128 (Bundle)",
                                            "End Macintosh Resources",
                                        }));
  MacBin_Close(open_writer(w.file("c.bin")));  // a second group starts again
  EXPECT_EQ(vt::count_messages("Start Macintosh Resources"), 2u);
}

TEST(WriterChannels, WithoutAChannelNothingIsWritten) {
  Writer w;
  EXPECT_EQ(insert_resource("TEST", 1, "", "x"), 1);
  MacBin_AddResource(nullptr, "TEST 1 n x");
  MacBin_CompleteDataFork(nullptr);
  MacBin_Close(nullptr);  // nothing to do
  EXPECT_EQ(message_texts(MACBIN_ERROR), std::vector<std::string>(3, "No open output channel"));
  EXPECT_EQ(MacChannel, nullptr);
  EXPECT_EQ(outfile, nullptr);
}

TEST(WriterChannels, OutputFollowsTheChannelNamed) {
  Writer w;
  MacBinChannel *a = open_writer(w.file("a.bin"));
  put_text("A1");
  MacBinChannel *b = open_writer(w.file("b.bin"));
  put_text("B1");             // the newest file is current
  MacBin_AddResource(a, "");  // makes A current and ends its data fork
  EXPECT_EQ(MacChannel, a);
  EXPECT_EQ(outfile, a->file);
  MacBin_CompleteDataFork(b);
  EXPECT_EQ(MacChannel, b);
  MacBin_AddResource(a, "TEST 1 \"\" to-a");
  MacBin_Close(b);
  MacBin_Close(a);
  EXPECT_EQ(MacChannel, nullptr);
  EXPECT_EQ(outfile, nullptr);
  const MacBinaryFile fa = vt::parse_macbinary_file(w.file("a.bin"));
  EXPECT_EQ(fa.data_fork(), vt::bytes_of("A1"));
  EXPECT_EQ(fa.get("TEST", 1).data, vt::bytes_of("to-a"));
  const MacBinaryFile fb = vt::parse_macbinary_file(w.file("b.bin"));
  EXPECT_EQ(fb.data_fork(), vt::bytes_of("B1"));
  EXPECT_EQ(fb.find("TEST", 1), nullptr);
}

TEST(WriterChannels, DirectInsertionGoesToMacChannel) {
  Writer w;
  MacBinChannel *a = open_writer(w.file("a.bin"));
  MacBin_AddResource(a, "");  // A is MacChannel
  // The insertion leaves the host's current output (C) where it was.
  MacBinChannel *c = open_writer(w.file("c.bin"));
  TesselFile *c_file = outfile;
  EXPECT_EQ(insert_resource("TEST", 2, "", "also-a"), 0);
  EXPECT_EQ(outfile, c_file);
  put_text("C1");
  // A host may name the channel itself: the insertion ends its data fork.
  MacChannel = c;
  EXPECT_EQ(insert_resource("TEST", 1, "direct", "payload"), 0);
  EXPECT_EQ(c->data_length, 2);
  MacBin_Close(a);
  MacBin_Close(c);
  EXPECT_EQ(vt::parse_macbinary_file(w.file("a.bin")).get("TEST", 2).data, vt::bytes_of("also-a"));
  const MacBinaryFile fc = vt::parse_macbinary_file(w.file("c.bin"));
  EXPECT_EQ(fc.data_fork(), vt::bytes_of("C1"));
  EXPECT_EQ(fc.get("TEST", 1).name, "direct");
  EXPECT_EQ(fc.get("TEST", 1).data, vt::bytes_of("payload"));
}

TEST(WriterChannels, TildeParametersArePascalStringsOfAtMost255) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("t.bin"));
  MacBin_CompleteDataFork(ch);
  const std::string long_text(300, 'L');
  EXPECT_EQ(insert_resource("TEST", 2, nullptr, "~pascal"), 0);
  EXPECT_EQ(insert_resource("TEST", 3, "", "~"), 0);  // the tilde alone: 1 byte
  EXPECT_EQ(insert_resource("TEST", 6, "", ("~" + long_text).c_str()), 0);
  EXPECT_EQ(insert_resource("vers", 7, "", ("1.00 F 0 0/" + long_text + "/x").c_str()), 0);
  MacBin_Close(ch);
  const MacBinaryFile f = vt::parse_macbinary_file(w.file("t.bin"));
  EXPECT_EQ(f.get("TEST", 2).data, pascal("pascal"));
  EXPECT_EQ(f.get("TEST", 3).data, hex("00"));
  const Bytes cut = vt::bytes_of(long_text.substr(0, 255));
  EXPECT_EQ(f.get("TEST", 6).data, vt::concat({hex("FF"), cut}));
  EXPECT_EQ(f.get("vers", 7).data, vt::concat({hex("01 00 80 00 00 00 FF"), cut, hex("01 78")}));
}

// ---- Attributes and the host's own owner resource ------------------------------

TEST(WriterAttributes, SetForTheNextResourceOnly) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("attr.bin"));
  EXPECT_EQ(MacBin_SetNextAttributes(ch, MACBIN_ATTR_PROTECTED | MACBIN_ATTR_PRELOAD), 0);
  MacBin_AddResource(ch, "TEST 1 one a");
  MacBin_AddResource(ch, "TEST 2 \"\" b");  // back to the default
  EXPECT_EQ(MacBin_SetNextAttributes(ch, 0), 0);
  EXPECT_EQ(insert_resource("ABC ", 3, "", "c"), 0);
  EXPECT_EQ(MacBin_SetNextAttributes(ch, 0x58), 0);
  EXPECT_EQ(insert_resource("NONE", 4, "", ""), 1);  // refused: its attributes go with it
  EXPECT_EQ(insert_resource("TEST", 5, "", "e"), 0);
  EXPECT_EQ(MacBin_SetNextAttributes(ch, 0x58), 0);
  MacBin_AddResource(ch, "TEST 6");  // refused before an insertion
  MacBin_AddResource(ch, "TEST 7 \"\" g");
  EXPECT_EQ(MacBin_SetNextAttributes(ch, 0x40), 0);  // pending at the close
  vt::recorded_messages().clear();
  EXPECT_EQ(MacBin_SetNextAttributes(ch, 256), 1);
  EXPECT_EQ(MacBin_SetNextAttributes(ch, -1), 1);
  EXPECT_EQ(message_texts(MACBIN_ERROR),
            (std::vector<std::string>{"Resource attributes 256 outside 0 to 255",
                                      "Resource attributes -1 outside 0 to 255"}));
  MacBin_Close(ch);
  const MacBinaryFile f = vt::parse_macbinary_file(w.file("attr.bin"));
  EXPECT_EQ(f.get("TEST", 1).attributes, 0x0C);
  EXPECT_EQ(f.get("TEST", 2).attributes, 0x20);
  EXPECT_EQ(f.get("ABC ", 3).attributes, 0x00);
  EXPECT_EQ(f.get("TEST", 5).attributes, 0x20);
  EXPECT_EQ(f.find("TEST", 6), nullptr);
  EXPECT_EQ(f.get("TEST", 7).attributes, 0x20);
  EXPECT_EQ(f.get("VARN", 0).attributes, 0x20);
  // The byte stands in the reference item: ID 1, named at 0, 0C, data at 0.
  const size_t type_list = f.map_start + be16(f.bytes, f.map_start + 24);
  const size_t first_refs = type_list + be16(f.bytes, type_list + 2 + 6);
  EXPECT_EQ(vt::to_hex(slice(f.bytes, first_refs, 8)), vt::to_hex(hex("00 01 00 00 0C 00 00 00")));
  EXPECT_EQ(MacBin_SetNextAttributes(nullptr, 0x20), 1);
}

TEST(WriterFinder, OwnerResourceFromTheHostReplacesTheWritersOwn) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("owner.bin"));
  MacBin_AddResource(ch, "BNDL unused");
  EXPECT_EQ(MacBin_SetNextAttributes(ch, 0x00), 0);
  EXPECT_EQ(insert_resource("VARN", 0, "Mine", "~Carried across"), 0);
  EXPECT_EQ(insert_resource("VARN", 1, "", "~other"), 0);
  MacBin_Close(ch);
  const MacBinaryFile f = vt::parse_macbinary_file(w.file("owner.bin"));
  ASSERT_EQ(f.resources.size(), 2u);
  EXPECT_EQ(f.get("VARN", 0).data, pascal("Carried across"));
  EXPECT_EQ(f.get("VARN", 0).name, "Mine");
  EXPECT_EQ(f.get("VARN", 0).attributes, 0x00);

  // ID 0 of another type is not the owner resource.
  MacBinChannel *other = open_writer(w.file("other.bin"));
  MacBin_CompleteDataFork(other);  // makes it current for insert_resource
  EXPECT_EQ(insert_resource("TEST", 0, "", "zero"), 0);
  MacBin_Close(other);
  const MacBinaryFile g = vt::parse_macbinary_file(w.file("other.bin"));
  EXPECT_EQ(g.types, (std::vector<std::string>{"TEST", "VARN"}));
  EXPECT_EQ(g.get("VARN", 0).name, "Owner resource");
}

TEST(WriterChannels, AfterInsertHookAnswersForInsertedResourcesOnly) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("hook.bin"));
  MacBin_CompleteDataFork(ch);
  static int32_t hook_calls = 0;
  ch->after_insert = [] { return ++hook_calls + 40; };
  EXPECT_EQ(insert_resource("TEST", 4, "", "hooked"), 41);
  EXPECT_EQ(insert_resource("NONE", 5, "", ""), 1);  // not inserted: no hook
  EXPECT_EQ(hook_calls, 1);
  ch->after_insert = nullptr;
  MacBin_Close(ch);
  EXPECT_EQ(vt::parse_macbinary_file(w.file("hook.bin")).get("TEST", 4).data, vt::bytes_of("hooked"));
}

TEST(WriterChannels, NoMemoryForANameRefusesTheResource) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("names.bin"));
  MacBin_AddResource(ch, "TEST 1 kept a");
  vt::limit_zone(vt::zone_in_use());  // no new name node
  const int32_t end_before = MacBin_GetPtrPos();
  MacBin_AddResource(ch, "TEST 2 new b");
  EXPECT_EQ(vt::count_messages("Out Of Memory (resource name): resource <TEST>, ID 2 not inserted"),
            1u);
  EXPECT_EQ(MacBin_GetPtrPos(), end_before);
  MacBin_AddResource(ch, "TEST 3 kept c");  // a known name needs no node
  MacBin_AddResource(ch, "TEST 4 \"\" d");  // nor does no name
  vt::limit_zone(0);
  MacBin_Close(ch);
  const MacBinaryFile f = vt::parse_macbinary_file(w.file("names.bin"));
  EXPECT_EQ(f.find("TEST", 2), nullptr);
  EXPECT_EQ(f.get("TEST", 3).name, "kept");
  EXPECT_EQ(f.get("TEST", 4).data, vt::bytes_of("d"));
}

// ---- Trace lines -------------------------------------------------------------------------

TEST(WriterTrace, LinesOfAWholeFile) {
  Writer w;
  const std::string path = w.file("trace.bin");
  vt::set_trace_flags(vt::kTraceCondition | vt::kTraceMsg | vt::kTraceInsert);
  vt::CaptureStdout out;
  write_lines(path,
              {"vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0", "vers 2 Second 1.00 F 0 0/1/2",
               "FREF 128 \"\" APPL 128", "BNDL Owner"},
              "APPL");
  const std::string text = out.text();
  vt::set_trace_flags(vt::kTraceMsg);
  vt::CaptureStdout unnamed_out;
  char name[32] = "";
  MacBinChannel *unnamed = MacBin_OpenW(w.file("t.bin").c_str(), name, "VARN", "APPL");
  EXPECT_EQ(unnamed_out.text(),
            "MSG--> No name for APPLE-file specified\nMSG--> File header created\n");
  vt::set_trace_flags(0);
  MacBin_Close(unnamed);

  EXPECT_EQ(text, "INSERT--> Initializing: FILE=" + path +
                      " CREATOR=VARN TYPE=APPL Apple=Sample\n\n"
                      "MSG--> File header created\n"
                      "\nINSERT--> resource=vers   number=1   name=\n"
                      "          length of datablock = 22 bytes\n"
                      "CONDITION--> new resourcetype (vers) added\n"
                      "\nINSERT--> resource=vers   number=2   name=Second\n"
                      "          length of datablock = 10 bytes\n"
                      "CONDITION--> resourcetype (vers) occurs 2 times\n"
                      "\nINSERT--> resource=FREF   number=128   name=\n"
                      "MSG--> Creation resource FREF \n"
                      "          length of datablock = 7 bytes\n"
                      "CONDITION--> new resourcetype (FREF) added\n"
                      "\nINSERT--> inserting copyrightstring\n"
                      "          length of datablock = 6 bytes\n"
                      "CONDITION--> new resourcetype (VARN) added\n"
                      "\nINSERT--> resource=Bndl   number=128   name=Bundle\n"
                      "MSG--> Creation resource BNDL \n"
                      "          length of datablock = 28 bytes\n"
                      "CONDITION--> BNDL-bit set\n"
                      "CONDITION--> new resourcetype (BNDL) added\n"
                      "MSG--> resourcemap header created\n"
                      "MSG--> Typelist created\n"
                      "MSG--> Referencelist created\n"
                      "MSG--> Namelist created\n"
                      "MSG--> Resource and FILE headers updated\n"
                      "\nINSERT--> length = " +
                      std::to_string(vt::read_file(path).size()) + "\n");
}

// ---- Write failures ------------------------------------------------------------------------

// A data fork, vers, a 100000-byte resource and an FREF (so also the owner
// and the bundle).  The big resource outgrows the 64 KiB file buffer, so its
// length word is patched by moving the file; every other length word is
// still buffered and patched in place.
void write_representative(const std::string &path) {
  MacBinChannel *ch = open_writer(path, "APPL");
  const Bytes data(300, 0x11);
  MacBin_PutBuf(data.data(), 300, 300);
  MacBin_AddResource(ch, "vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0");
  big_resource_bytes = 100000;
  MacBin_AddResource(ch, "BIG  2 Blob");
  MacBin_AddResource(ch, "FREF 128 \"\" APPL 128");
  MacBin_Close(ch);
}

// The file is gone and the three failure messages came once each, severe.
void expect_failure_reported_once(const std::string &path) {
  EXPECT_FALSE(vt::file_exists(path));
  for (const char *text :
       {"Writing output file", "Removing output file(s)", "Please check file system !"}) {
    EXPECT_EQ(vt::count_messages(text), 1u) << text;
    for (const vt::Message &m : vt::recorded_messages()) {
      if (m.text == text) {
        EXPECT_EQ(m.severity, MACBIN_SEVERE) << text;
      }
    }
  }
}

// Where a fault strikes, counted in bytes handed to the file (or seeks)
// from a point of the sound file's layout.  Bytes handed over are the
// file's bytes, plus 4 once the big resource's length word was written
// again (patches inside the buffer are not new bytes); the close then
// writes the fork header twice (16 bytes each) and the header (128), all
// outside the buffer by then.
enum class Fault { kWrite, kSeek };
enum class From { kStart, kBigResourceData, kMapAfterPatch, kLastByte };
struct FaultCase {
  const char *where;
  Fault fault;
  From from;
  int64_t offset;
};
void PrintTo(const FaultCase &fault_case, std::ostream *os) { *os << fault_case.where; }

int64_t budget(const FaultCase &c, const MacBinaryFile &f) {
  switch (c.from) {
    case From::kStart: return c.offset;
    case From::kBigResourceData:
      return static_cast<int64_t>(f.rsrc_start + 256 + f.get("BIG ", 2).data_offset + 4) +
             c.offset;
    case From::kMapAfterPatch: return static_cast<int64_t>(f.map_start) + 4 + c.offset;
    case From::kLastByte:
      return static_cast<int64_t>(f.bytes.size()) + 4 + 16 + 16 + 128 + c.offset;
  }
  return -1;
}

class WriterFailure : public testing::TestWithParam<FaultCase> {};

TEST_P(WriterFailure, FileRemovedAndReportedOnce) {
  if (!output_uses_tessel_extension()) GTEST_SKIP() << "the budgets count patches made in the buffer";
  Writer w;
  write_representative(w.file("sound.bin"));
  const MacBinaryFile sound = vt::parse_macbinary_file(w.file("sound.bin"));
  // The arithmetic is right: a budget of exactly the bytes of the file lets it through.
  vt::fail_writes_after(budget({"", Fault::kWrite, From::kLastByte, 0}, sound), ENOSPC);
  write_representative(w.file("exact.bin"));
  EXPECT_TRUE(vt::file_exists(w.file("exact.bin")));
  EXPECT_EQ(vt::count_messages("Writing output file"), 0u);
  vt::recorded_messages().clear();

  vt::fail_writes_after(-1, 0);
  if (GetParam().fault == Fault::kWrite)
    vt::fail_writes_after(budget(GetParam(), sound), ENOSPC);
  if (GetParam().fault == Fault::kSeek) vt::fail_seeks_after(budget(GetParam(), sound), EIO);
  write_representative(w.file("failing.bin"));
  vt::clear_faults();
  EXPECT_EQ(MacIOControl.open_writers, 0);
  expect_failure_reported_once(w.file("failing.bin"));
  // A file closed after the failure goes too, without more messages.
  MacBinChannel *ch = open_writer(w.file("second.bin"));
  EXPECT_EQ(MacBin_PutBuf("more", 4, 4), 1);  // output has stopped for the process
  MacBin_Close(ch);
  expect_failure_reported_once(w.file("second.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Positions, WriterFailure,
    testing::Values(FaultCase{"Header", Fault::kWrite, From::kStart, 50},
                    FaultCase{"DataForkPadding", Fault::kWrite, From::kStart, 128 + 300},
                    FaultCase{"ResourceData", Fault::kWrite, From::kBigResourceData, 500},
                    FaultCase{"Map", Fault::kWrite, From::kMapAfterPatch, 40},
                    FaultCase{"HeaderCompletion", Fault::kWrite, From::kLastByte, -1},
                    FaultCase{"LengthWordSeek", Fault::kSeek, From::kStart, 0},
                    // The big resource's two moves, the fork header, its copy.
                    FaultCase{"HeaderCompletionSeek", Fault::kSeek, From::kStart, 4}),
    [](const testing::TestParamInfo<FaultCase> &case_info) {
      return std::string(case_info.param.where);
    });

TEST(WriterFailure, FailureDuringTheDataForkEndsThePadding) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("stuck.bin"));
  vt::fail_writes_after(1, ENOSPC);
  EXPECT_EQ(MacBin_PutBuf("ab", 2, 2), 1);  // the second data byte fails
  MacBin_CompleteDataFork(ch);              // ends although the position stands still
  EXPECT_EQ(ch->data_length, 1);
  EXPECT_EQ(ch->rsrc_start, 256);
  MacBin_AddResource(ch, "TEST 1 \"\" x");
  MacBin_Close(ch);
  vt::fail_writes_after(-1, 0);
  expect_failure_reported_once(w.file("stuck.bin"));
}

TEST(WriterFailure, DataForkBeyondThirtyTwoBitFields) {
  Writer w;
  MacBinChannel *ch = open_writer(w.file("huge.bin"));
  // A sparse jump to just under 2 GiB stands in for a data fork that long.
  ASSERT_EQ(MacBin_SetPtrPos(0x7FFFF000, 0), 0x7FFFF000);
  MacBin_PutByte(1);
  MacBin_Close(ch);
  EXPECT_EQ(vt::count_messages("Data fork too long"), 1u);
  expect_failure_reported_once(w.file("huge.bin"));
}

// The close's own flush fails (a real file-size limit, in a child process):
// with the patches made in the buffer, every byte of a small file waits
// there until fclosx.  The file is removed all the same, with the three
// messages once each.  The child's status names the failing step.
TEST(WriterFailure, FailingCloseRemovesTheFile) {
  if (!output_uses_tessel_extension()) GTEST_SKIP() << "without patches in the buffer a seek flushes first";
  Writer w;
  const std::string path = w.file("limited.bin");
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    MacBinChannel *ch = MacBin_OpenW(path.c_str(), nullptr, "VARN", "TEXT");
    if (ch == nullptr) _exit(10);
    MacBin_PutBuf("data fork", 9, 9);
    MacBin_AddResource(ch, "TEST 1 \"\" payload");
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = 200;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(11);
    // Nothing is under the name before the close, and not one byte reached
    // the disk yet: the file beside it (its temporary name) is empty.
    if (vt::file_exists(path)) _exit(15);
    for (const auto &entry : std::filesystem::directory_iterator(w.dir.path()))
      if (entry.file_size() != 0) _exit(16);
    MacBin_Close(ch);
    if (vt::file_exists(path)) _exit(12);
    for (const char *text :
         {"Writing output file", "Removing output file(s)", "Please check file system !"}) {
      if (vt::count_messages(text) != 1) _exit(13);
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(vt::file_exists(path));
}

}  // namespace
