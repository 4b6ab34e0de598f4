// Reading every container through the public API: what each writer makes
// read back whole (forks byte for byte, name, type, creator, flags and the
// dates where the format holds them), files other programs make (macutils'
// BinHex, hand-made AppleSingle headers, a bare resource fork, an
// AppleDouble header beside a plain file), and damaged or hostile files
// refused, or opened without resources, with the reason named.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/macbinary.hpp"
#include "support/read_back.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

constexpr uint32_t k2000 = 3029529600u;  // 1904 to 2000, in seconds
constexpr uint32_t kCreated = k2000 + 0x01020304u;
constexpr uint32_t kModified = k2000 + 0x11223344u;

struct Sample {
  std::string name;  // MacRoman
  Bytes data;
  Bytes rsrc;  // empty: no resource fork
  uint16_t flags = 0x2100;
};

// Writes `sample` in `format` with the library's writer.
void write_sample(int32_t format, const std::string &path, const Sample &sample) {
  ASSERT_EQ(MacBin_SetFormat(format), 1);
  std::vector<char> name(sample.name.begin(), sample.name.end());
  name.resize(64, '\0');
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name.data(), "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  ch->finder.flags = static_cast<int16_t>(sample.flags);
  MacBin_PutBuf(sample.data.data(), static_cast<int32_t>(sample.data.size()),
                static_cast<int32_t>(sample.data.size()));
  EXPECT_EQ(MacBin_SetDates(ch, kCreated, kModified), 0);
  EXPECT_EQ(MacBin_SetResourceFork(ch, sample.rsrc.data(), static_cast<int32_t>(sample.rsrc.size())),
            0);
  MacBin_Close(ch);
}

// The data fork through MacBin_ReadDataFork, in pieces of 7 bytes.
Bytes read_data_fork(MacBinChannel *ch) {
  Bytes out;
  uint8_t piece[7];
  for (int64_t at = 0;;) {
    const int32_t got = MacBin_ReadDataFork(ch, at, piece, sizeof piece);
    EXPECT_GE(got, 0);
    if (got <= 0) return out;
    out.insert(out.end(), piece, piece + got);
    at += got;
  }
}

// The resource fork through MacBin_ReadResourceFork, in pieces of 5 bytes;
// checked against the bytes where MacBin_GetResourceBlockParams puts it in
// the channel's own file, as a read handler would find them.
Bytes read_resource_fork(MacBinChannel *ch) {
  Bytes out;
  uint8_t piece[5];
  for (int64_t at = 0;;) {
    const int32_t got = MacBin_ReadResourceFork(ch, at, piece, sizeof piece);
    EXPECT_GE(got, 0);
    if (got <= 0) break;
    out.insert(out.end(), piece, piece + got);
    at += got;
  }
  int32_t offset = -1;
  int32_t length = -1;
  MacBin_GetResourceBlockParams(ch, &offset, &length);
  Bytes in_file(static_cast<size_t>(length));
  if (length > 0) {
    EXPECT_EQ(fputp(ch->file, offset), offset);
    EXPECT_EQ(fgetm(ch->file, in_file.data(), length), 1);
  }
  EXPECT_EQ(out, in_file);
  return out;
}

std::string info_name(const MacBinFileInfo &info) { return info.name; }

struct Formats {
  int32_t format;
  const char *suffix;
  bool holds_dates;
};
const Formats kWritten[] = {{MACBIN_FORMAT_CLASSIC, ".bin", true},
                            {MACBIN_FORMAT_II, ".bin", true},
                            {MACBIN_FORMAT_APPLESINGLE, ".as", true},
                            {MACBIN_FORMAT_APPLEDOUBLE, ".txt", true},
                            {MACBIN_FORMAT_BINHEX, ".hqx", false}};

// ---- What our writer makes ----------------------------------------------------------------

TEST(ContainerRoundTrip, EveryWrittenFormatReadsBackWhole) {
  vt::init_recording();
  const Bytes fork = vt::one_string_resource_fork();
  const std::vector<Sample> samples = {
      {"A", {}, {}},                                            // no forks at all
      {"\xA5", hex("00"), hex("7F")},                            // 1-byte forks (a damaged map)
      {"R\x8Esum\x8E of 31 MacRoman chars \x80\x81\x82", vt::bytes_of("hello"), fork},
      {"Big", vt::repeat(0x90, 1000), fork, 0xFFFF},
  };
  ASSERT_EQ(samples[2].name.size(), 31u);
  for (const Formats &f : kWritten) {
    for (size_t s = 0; s < samples.size(); ++s) {
      const Sample &sample = samples[s];
      vt::TempDir dir;
      const std::string path = dir.file("f" + std::to_string(s) + f.suffix);
      write_sample(f.format, path, sample);
      SCOPED_TRACE("format " + std::to_string(f.format) + ", sample " + std::to_string(s));
      EXPECT_EQ(MacBin_IdentifyFile(path.c_str()), f.format);
      MacBinChannel *ch = MacBin_OpenR(path.c_str());
      ASSERT_NE(ch, nullptr);
      MacBinFileInfo info;
      ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
      EXPECT_EQ(info.format, f.format);
      EXPECT_EQ(info_name(info), sample.name);
      EXPECT_STREQ(info.type, "TEXT");
      EXPECT_STREQ(info.creator, "VARN");
      const uint16_t flags = f.format == MACBIN_FORMAT_CLASSIC ? sample.flags & 0xFF00 : sample.flags;
      EXPECT_EQ(info.finder_flags, flags);
      EXPECT_EQ(info.created, f.holds_dates ? kCreated : 0u);
      EXPECT_EQ(info.modified, f.holds_dates ? kModified : 0u);
      EXPECT_EQ(info.data_length, sample.data.size());
      EXPECT_EQ(info.rsrc_length, sample.rsrc.size());
      EXPECT_EQ(read_data_fork(ch), sample.data);
      EXPECT_EQ(read_resource_fork(ch), sample.rsrc);
      const int32_t expected_state = sample.rsrc.empty() ? 0 : sample.rsrc.size() == 1 ? -1 : 1;
      EXPECT_EQ(info.rsrc_state, expected_state);
      if (expected_state == 1) {
        ASSERT_EQ(MacBin_GetNrTypes(ch), 1);
        const MacBinRefEntry *ref = &ch->types[0].refs[0];
        EXPECT_STREQ(ref->name->text, "Hi");
        char bytes[8] = {};
        EXPECT_EQ(MacBin_ReadResourceData(ch, ref, bytes, sizeof bytes), 3);
        EXPECT_STREQ(bytes, "abc");
      }
      if (f.format == MACBIN_FORMAT_BINHEX) {
        EXPECT_EQ(info.crc_state, 1);
      }
      MacBin_Close(ch);
    }
  }
}

TEST(ContainerRoundTrip, AppleDoubleHeaderFileGivenByItsOwnName) {
  vt::init_recording();
  vt::TempDir dir;
  const Sample sample{"Pair", vt::bytes_of("data fork"), vt::one_string_resource_fork()};
  write_sample(MACBIN_FORMAT_APPLEDOUBLE, dir.file("pair.txt"), sample);
  MacBinChannel *ch = MacBin_OpenR(dir.file("._pair.txt").c_str());
  ASSERT_NE(ch, nullptr);
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
  EXPECT_EQ(info.format, MACBIN_FORMAT_APPLEDOUBLE);
  EXPECT_EQ(read_data_fork(ch), sample.data);
  EXPECT_EQ(MacBin_GetResourceCount(ch, "STR ", 0, 0), 1);
  int32_t offset = -1, length = -1;
  MacBin_GetDataBlockParams(ch, &offset, &length);
  EXPECT_EQ(offset, 0);
  EXPECT_EQ(length, 9);
  MacBin_Close(ch);

  // Without its data file the header file reads with an empty data fork.
  std::filesystem::remove(dir.file("pair.txt"));
  ch = MacBin_OpenR(dir.file("._pair.txt").c_str());
  ASSERT_NE(ch, nullptr);
  ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
  EXPECT_EQ(info.data_length, 0u);
  EXPECT_EQ(info.rsrc_state, 1);
  MacBin_Close(ch);
}

// ---- Files made by hand and by other programs ----------------------------------------------

// An AppleSingle file laid out as another writer might: the forks first,
// the entries in another order, version 1, an entry of an id we do not
// use, a short Finder info entry and dates of which one is unknown.
TEST(ContainerForeign, HandMadeAppleSingle) {
  vt::init_recording();
  vt::TempDir dir;
  const Bytes file = hex(
      "00 05 16 00 00 01 00 00  4D 61 63 69 6E 74 6F 73"   //  0 magic, version 1, filler
      "68 20 20 20 20 20 20 20  00 06"                     // 16 ... 6 entries
      "00 00 00 01 00 00 00 6E  00 00 00 03"               // 26 data fork: 110, 3
      "00 00 00 04 00 00 00 71  00 00 00 02"               // 38 comment (not ours): 113, 2
      "00 00 00 09 00 00 00 73  00 00 00 0A"               // 50 Finder info: 115, 10 (short)
      "00 00 00 03 00 00 00 7D  00 00 00 04"               // 62 real name: 125, 4
      "00 00 00 08 00 00 00 81  00 00 00 08"               // 74 dates: 129, 8 (two of four)
      "00 00 00 02 00 00 00 89  00 00 00 00"               // 86 resource fork: 137, empty
      "00 00 00 00 00 00 00 00  00 00 00 00"               // 98 (gap)
      "41 42 43"                                           // 110 data fork "ABC"
      "7E 7E"                                              // 113 comment
      "41 50 50 4C 3F 3F 3F 3F  40 00"                     // 115 APPL ????, flags 0x4000
      "4E 61 6D 65"                                        // 125 "Name"
      "00 00 00 01 80 00 00 00");                          // 129 created 2000+1s, modified unknown
  vt::write_file(dir.file("hand.as"), file);
  MacBinChannel *ch = MacBin_OpenR(dir.file("hand.as").c_str());
  ASSERT_NE(ch, nullptr);
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
  EXPECT_EQ(info.format, MACBIN_FORMAT_APPLESINGLE);
  EXPECT_EQ(info.crc_state, -1);
  EXPECT_STREQ(info.name, "Name");
  EXPECT_STREQ(info.type, "APPL");
  EXPECT_STREQ(info.creator, "????");
  EXPECT_EQ(info.finder_flags, 0x4000);
  EXPECT_EQ(info.created, k2000 + 1);
  EXPECT_EQ(info.modified, 0u);
  EXPECT_EQ(info.rsrc_state, 0);
  EXPECT_EQ(read_data_fork(ch), vt::bytes_of("ABC"));
  int32_t offset = -1, length = -1;
  MacBin_GetDataBlockParams(ch, &offset, &length);
  EXPECT_EQ(offset, 110);
  EXPECT_EQ(length, 3);
  MacBin_Close(ch);
}

TEST(ContainerForeign, AppleDoubleHeaderBesideAPlainFile) {
  vt::init_recording();
  vt::TempDir dir;
  const Bytes fork = vt::one_string_resource_fork();
  Bytes header = hex(
      "00 05 16 07 00 02 00 00  00 00 00 00 00 00 00 00"   //  0 magic, version 2
      "00 00 00 00 00 00 00 00  00 02"                     // 16 2 entries
      "00 00 00 09 00 00 00 32  00 00 00 20"               // 26 Finder info: 50, 32
      "00 00 00 02 00 00 00 52  00 00 00 00"               // 38 resource fork: 82, (length)
      "00 00 00 00 00 00 00 00  00 00 00 00"               // 50 Finder info: "TEXTttxt",
      "00 00 00 00 00 00 00 00  00 00 00 00"               //    flags 0x0100
      "00 00 00 00 00 00 00 00");
  header = vt::patched(header, 50, vt::concat({vt::bytes_of("TEXTttxt"), hex("01 00")}));
  vt::store_be32(header, 46, static_cast<uint32_t>(fork.size()));
  header = vt::concat({header, fork});
  vt::write_file(dir.file("._notes.txt"), header);
  vt::write_file(dir.file("notes.txt"), vt::bytes_of("plain text\n"));

  EXPECT_EQ(MacBin_IdentifyFile(dir.file("notes.txt").c_str()), MACBIN_FORMAT_APPLEDOUBLE);
  EXPECT_EQ(MacBin_IdentifyFile(dir.file("._notes.txt").c_str()), MACBIN_FORMAT_APPLEDOUBLE);
  MacBinChannel *ch = MacBin_OpenR(dir.file("notes.txt").c_str());
  ASSERT_NE(ch, nullptr);
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
  EXPECT_EQ(info.format, MACBIN_FORMAT_APPLEDOUBLE);
  EXPECT_STREQ(info.name, "notes.txt");  // no name entry: the data file's name
  EXPECT_STREQ(info.type, "TEXT");
  EXPECT_STREQ(info.creator, "ttxt");
  EXPECT_EQ(info.finder_flags, 0x0100);
  EXPECT_EQ(info.created, 0u);
  EXPECT_EQ(read_data_fork(ch), vt::bytes_of("plain text\n"));
  EXPECT_EQ(read_resource_fork(ch), fork);
  EXPECT_EQ(MacBin_CheckResource2(ch, "STR ", 128, nullptr), 1);
  MacBin_Close(ch);

  // A plain file with no header beside it is still read as MacBinary, and
  // refused as one.
  vt::write_file(dir.file("lone.txt"), vt::bytes_of("plain text\n"));
  EXPECT_EQ(MacBin_IdentifyFile(dir.file("lone.txt").c_str()), 0);
  EXPECT_EQ(MacBin_OpenR(dir.file("lone.txt").c_str()), nullptr);
  EXPECT_EQ(vt::count_messages("File too short for a MacBinary header (11 of 128 bytes)"), 1u);
}

TEST(ContainerForeign, BareResourceFork) {
  vt::init_recording();
  vt::TempDir dir;
  const Bytes fork = vt::one_string_resource_fork();
  vt::write_file(dir.file("Tool.rsrc"), fork);
  EXPECT_EQ(MacBin_IdentifyFile(dir.file("Tool.rsrc").c_str()), MACBIN_FORMAT_RSRC);
  MacBinChannel *ch = MacBin_OpenR(dir.file("Tool.rsrc").c_str());
  ASSERT_NE(ch, nullptr);
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
  EXPECT_EQ(info.format, MACBIN_FORMAT_RSRC);
  EXPECT_STREQ(info.name, "Tool");
  EXPECT_EQ(info.type[0], '\0');
  EXPECT_EQ(info.data_length, 0u);
  EXPECT_EQ(info.rsrc_length, fork.size());
  EXPECT_EQ(info.rsrc_state, 1);
  EXPECT_EQ(read_data_fork(ch), Bytes{});
  EXPECT_EQ(read_resource_fork(ch), fork);
  char bytes[4] = {};
  EXPECT_EQ(MacBin_ReadResourceData(ch, &ch->types[0].refs[0], bytes, 3), 3);
  EXPECT_STREQ(bytes, "abc");
  MacBin_Close(ch);
}

TEST(ContainerForeign, ReadsWhatMacutilsBinhexWrites) {
  const std::string binhex = vt::require_peer("binhex", "macutils");
  if (binhex.empty()) GTEST_SKIP() << "macutils not installed";
  vt::init_recording();
  vt::TempDir dir;
  // macutils' binhex takes a MacBinary file: ours, with a resource fork.
  const Sample sample{"From macutils", vt::concat({vt::repeat(0x90, 300), vt::bytes_of("x")}),
                      vt::one_string_resource_fork(), 0x0100};
  write_sample(MACBIN_FORMAT_II, dir.file("in.bin"), sample);
  std::string output;
  ASSERT_EQ(vt::run_command("cd '" + dir.path().string() + "' && '" + binhex +
                                "' in.bin > out.hqx",
                            &output),
            0)
      << output;
  MacBinChannel *ch = MacBin_OpenR(dir.file("out.hqx").c_str());
  ASSERT_NE(ch, nullptr);
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
  EXPECT_EQ(info.format, MACBIN_FORMAT_BINHEX);
  EXPECT_EQ(info.crc_state, 1);
  EXPECT_STREQ(info.name, "From macutils");
  EXPECT_STREQ(info.type, "TEXT");
  EXPECT_STREQ(info.creator, "VARN");
  EXPECT_EQ(read_data_fork(ch), sample.data);
  EXPECT_EQ(read_resource_fork(ch), sample.rsrc);
  EXPECT_EQ(info.rsrc_state, 1);
  MacBin_Close(ch);
}

// ---- Damage -----------------------------------------------------------------------------

struct Refusal {
  const char *label;
  Bytes file;
  const char *message;
};

TEST(ContainerDamage, HostileHeadersAreRefusedWithTheirReason) {
  vt::init_recording();
  vt::TempDir dir;
  const Bytes as_fixed = hex("00 05 16 00 00 02 00 00  00 00 00 00 00 00 00 00"
                             "00 00 00 00 00 00 00 00");
  const std::vector<Refusal> cases = {
      {"short", hex("00 05 16 00 00 02"), "AppleSingle header: file too short for it"},
      {"version", vt::concat({hex("00 05 16 00 00 03 00 00"), Bytes(16), hex("00 00")}),
       "AppleSingle header: unknown version"},
      {"table", vt::concat({as_fixed, hex("FF FF"), Bytes(100)}),
       "AppleSingle header: its entry table runs past the end of the file"},
      {"name", vt::concat({as_fixed, hex("00 01  00 00 00 03 00 00 00 26 00 00 10 00")}),
       "AppleSingle header: its name, Finder info or dates entry lies outside the file"},
      {"twice", vt::concat({as_fixed, hex("00 02  00 00 00 01 00 00 00 00 00 00 00 01"
                                          "       00 00 00 01 00 00 00 00 00 00 00 01")}),
       "AppleSingle header: it lists an entry twice"},
      {"data cut", vt::concat({as_fixed, hex("00 01  00 00 00 01 00 00 00 26 00 00 01 00")}),
       "Data fork cut short: the file ends at 38, the data fork at 294"},
      {"double fork", vt::concat({hex("00 05 16 07 00 02 00 00"), Bytes(16),
                                  hex("00 01  00 00 00 02 00 00 00 26 80 00 00 00")}),
       "AppleDouble header: a fork length is out of range"},
  };
  for (const Refusal &c : cases) {
    SCOPED_TRACE(c.label);
    vt::recorded_messages().clear();
    vt::write_file(dir.file("bad"), c.file);
    EXPECT_EQ(MacBin_OpenR(dir.file("bad").c_str()), nullptr);
    EXPECT_EQ(vt::count_messages(c.message), 1u);
  }
}

TEST(ContainerDamage, AppleSingleResourceForkCutOpensWithoutResources) {
  vt::init_recording();
  vt::TempDir dir;
  const Sample sample{"Cut", vt::bytes_of("data"), vt::one_string_resource_fork()};
  write_sample(MACBIN_FORMAT_APPLESINGLE, dir.file("cut.as"), sample);
  Bytes file = vt::read_file(dir.file("cut.as"));
  file.resize(file.size() - 10);
  vt::write_file(dir.file("cut.as"), file);
  MacBinChannel *ch = MacBin_OpenR(dir.file("cut.as").c_str());
  ASSERT_NE(ch, nullptr);
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
  EXPECT_EQ(info.rsrc_state, -1);
  EXPECT_EQ(MacBin_GetNrTypes(ch), 0);
  EXPECT_EQ(read_data_fork(ch), sample.data);
  // The fork's bytes up to the cut are there; none past it, not even as a
  // short count that a host could take for the fork's end.
  const auto fork_length = static_cast<int64_t>(sample.rsrc.size());
  uint8_t bytes[32];
  EXPECT_EQ(MacBin_ReadResourceFork(ch, 0, bytes, 16), 16);
  EXPECT_EQ(Bytes(bytes, bytes + 16), Bytes(sample.rsrc.begin(), sample.rsrc.begin() + 16));
  EXPECT_EQ(MacBin_ReadResourceFork(ch, fork_length - 20, bytes, 20), -1);
  EXPECT_EQ(MacBin_ReadResourceFork(ch, fork_length - 5, bytes, 5), -1);
  EXPECT_EQ(MacBin_ReadResourceFork(ch, fork_length, bytes, 5), 0);
  EXPECT_EQ(MacBin_ReadResourceFork(ch, fork_length + 1, bytes, 5), -1);
  EXPECT_EQ(MacBin_ReadResourceFork(ch, -1, bytes, 5), -1);
  EXPECT_EQ(MacBin_ReadResourceFork(ch, 0, nullptr, 5), -1);
  const std::string expected = "Resource fork cut short: the file ends at " +
                               std::to_string(file.size()) + ", the resource fork at " +
                               std::to_string(file.size() + 10) + "; no resources read";
  EXPECT_EQ(vt::count_messages(expected), 1u);
  MacBin_Close(ch);
}

// BinHex text of a file with data "hello" and the small fork, as our
// writer makes it, then damaged in the ways a transfer damages text.
TEST(ContainerDamage, BinHexCutOrDamagedText) {
  vt::init_recording();
  vt::TempDir dir;
  const Sample sample{"Text", vt::bytes_of("hello"), vt::one_string_resource_fork()};
  write_sample(MACBIN_FORMAT_BINHEX, dir.file("s.hqx"), sample);
  const Bytes whole = vt::read_file(dir.file("s.hqx"));
  const std::string text(whole.begin(), whole.end());
  const size_t start = text.find("\n:") + 2;  // the first encoded character
  ASSERT_GT(start, 2u);

  // Cut inside the resource fork: opens without resources.
  const std::string cut_rsrc = text.substr(0, text.size() - 40) + ":\n";
  vt::write_text(dir.file("r.hqx"), cut_rsrc);
  MacBinChannel *ch = MacBin_OpenR(dir.file("r.hqx").c_str());
  ASSERT_NE(ch, nullptr);
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
  EXPECT_EQ(info.rsrc_state, -1);
  EXPECT_EQ(info.crc_state, 0);
  EXPECT_EQ(read_data_fork(ch), sample.data);
  MacBin_Close(ch);
  bool warned = false;
  for (const vt::Message &m : vt::recorded_messages()) {
    warned = warned || (m.severity == MACBIN_WARNING &&
                        m.text.rfind("Resource fork cut short: the BinHex text holds ", 0) == 0 &&
                        m.text.find("; no resources read") != std::string::npos);
  }
  EXPECT_TRUE(warned);

  // Cut inside the header, and a character outside the alphabet in it.
  vt::write_text(dir.file("h.hqx"), text.substr(0, start + 6) + ":\n");
  EXPECT_EQ(MacBin_OpenR(dir.file("h.hqx").c_str()), nullptr);
  EXPECT_EQ(vt::count_messages("BinHex text ends inside its header (its closing ':' comes early)"),
            1u);
  std::string bad = text;
  bad[start + 2] = '~';
  vt::write_text(dir.file("b.hqx"), bad);
  EXPECT_EQ(MacBin_OpenR(dir.file("b.hqx").c_str()), nullptr);
  EXPECT_EQ(vt::count_messages(
                "BinHex text ends inside its header (a character outside the BinHex alphabet)"),
            1u);

  // A changed bit of the data fork (its 26-byte header takes the first 35
  // characters, "hello" the next 7): opens, with crc_state 0 and a warning.
  std::string flipped = text;
  const size_t data_char = start + 37;
  flipped[data_char] = flipped[data_char] == 'A' ? 'B' : 'A';
  vt::write_text(dir.file("c.hqx"), flipped);
  ch = MacBin_OpenR(dir.file("c.hqx").c_str());
  ASSERT_NE(ch, nullptr);
  ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
  EXPECT_EQ(info.crc_state, 0);
  EXPECT_EQ(info.rsrc_state, 1);
  EXPECT_NE(read_data_fork(ch), sample.data);
  MacBin_Close(ch);
  EXPECT_EQ(vt::count_messages("BinHex data fork CRC does not match"), 1u);
}

// A MacBinary file whose data fork is a BinHex text stays MacBinary.
TEST(ContainerDetection, MacBinaryHoldingBinHexTextStaysMacBinary) {
  vt::init_recording();
  vt::TempDir dir;
  const std::string text = "(This file must be converted with BinHex 4.0)\n\n:xyz:\n";
  const Sample sample{"doc.hqx", Bytes(text.begin(), text.end()), {}};
  write_sample(MACBIN_FORMAT_II, dir.file("doc.bin"), sample);
  EXPECT_EQ(MacBin_IdentifyFile(dir.file("doc.bin").c_str()), MACBIN_FORMAT_II);
  MacBinChannel *ch = MacBin_OpenR(dir.file("doc.bin").c_str());
  ASSERT_NE(ch, nullptr);
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
  EXPECT_EQ(info.format, MACBIN_FORMAT_II);
  EXPECT_EQ(read_data_fork(ch), sample.data);
  MacBin_Close(ch);
}

// A MacBinary file whose Finder flags have their low byte set (stored at
// 74, which the original definition keeps zero) is still MacBinary, also
// with an AppleDouble header file of its name beside it.
TEST(ContainerDetection, MacBinaryWithLowFinderFlagsBesideAHeaderFile) {
  vt::init_recording();
  vt::TempDir dir;
  const Sample sample{"Flags", vt::bytes_of("data"), vt::one_string_resource_fork(), 0x0140};
  write_sample(MACBIN_FORMAT_II, dir.file("flags.bin"), sample);
  ASSERT_EQ(vt::read_file(dir.file("flags.bin")).at(74), 0x40);
  write_sample(MACBIN_FORMAT_APPLEDOUBLE, dir.file("other"), Sample{"Other", {}, {}});
  std::filesystem::rename(dir.file("._other"), dir.file("._flags.bin"));
  EXPECT_EQ(MacBin_IdentifyFile(dir.file("flags.bin").c_str()), MACBIN_FORMAT_II);
  MacBinChannel *ch = MacBin_OpenR(dir.file("flags.bin").c_str());
  ASSERT_NE(ch, nullptr);
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
  EXPECT_EQ(info.format, MACBIN_FORMAT_II);
  EXPECT_STREQ(info.name, "Flags");
  EXPECT_EQ(info.finder_flags, 0x0140);
  EXPECT_EQ(read_data_fork(ch), sample.data);
  EXPECT_EQ(read_resource_fork(ch), sample.rsrc);
  MacBin_Close(ch);
}

// What cannot be read is told apart from what is no container at all.
TEST(ContainerDetection, IdentifyRefusesWhatItCannotRead) {
  vt::TempDir dir;
  EXPECT_EQ(MacBin_IdentifyFile(dir.file("missing").c_str()), -1);
  EXPECT_EQ(MacBin_IdentifyFile(""), -1);
  EXPECT_EQ(MacBin_IdentifyFile(nullptr), -1);
  vt::write_file(dir.file("empty"), Bytes{});
  EXPECT_EQ(MacBin_IdentifyFile(dir.file("empty").c_str()), 0);
  // A classic header (76 at 99) says so.
  vt::init_recording();
  write_sample(MACBIN_FORMAT_CLASSIC, dir.file("old.bin"), Sample{"Old", vt::bytes_of("x"), {}});
  EXPECT_EQ(MacBin_IdentifyFile(dir.file("old.bin").c_str()), MACBIN_FORMAT_CLASSIC);
}

}  // namespace
