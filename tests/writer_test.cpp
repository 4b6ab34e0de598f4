// The MacBinary writer through the public API: header (both formats), data
// fork, resource fork and map, Finder resources, resource lines, notices,
// trace lines, limits and write failures.  Files are checked as bytes and
// read back by a small independent parser of the layout.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame/internal.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

// ---- Reading back what was written ----------------------------------------

uint32_t be16(const Bytes &b, size_t at) { return (uint32_t{b.at(at)} << 8) | b.at(at + 1); }
uint32_t be24(const Bytes &b, size_t at) { return (be16(b, at) << 8) | b.at(at + 2); }
uint32_t be32(const Bytes &b, size_t at) { return (be16(b, at) << 16) | be16(b, at + 2); }
Bytes be32_bytes(uint32_t value) {
  return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

Bytes slice(const Bytes &b, size_t at, size_t count) {
  if (at + count > b.size()) throw std::out_of_range("slice past the end of the file");
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at),
               b.begin() + static_cast<std::ptrdiff_t>(at + count));
}

struct Resource {
  std::string type;
  uint32_t id = 0;
  std::optional<std::string> name;
  uint8_t attributes = 0;
  uint32_t data_offset = 0;
  Bytes data;
};

struct MacBinaryFile {
  Bytes bytes;
  uint32_t data_length = 0;
  uint32_t rsrc_length = 0;
  size_t rsrc_start = 0;
  size_t map_start = 0;
  Bytes map;
  std::vector<Resource> resources;  // in map order
  std::vector<std::string> types;
};

// An independent reading of the layout (header, fork header, map), every
// access bounds-checked (an out_of_range fails the test).
MacBinaryFile parse(const Bytes &bytes) {
  MacBinaryFile f;
  f.bytes = bytes;
  f.data_length = be32(bytes, 83);
  f.rsrc_length = be32(bytes, 87);
  f.rsrc_start = 128 + (f.data_length + 127) / 128 * 128;
  const size_t data_start = f.rsrc_start + be32(bytes, f.rsrc_start);
  f.map_start = f.rsrc_start + be32(bytes, f.rsrc_start + 4);
  f.map = slice(bytes, f.map_start, be32(bytes, f.rsrc_start + 12));
  const size_t type_list = be16(f.map, 24);
  const size_t name_list = be16(f.map, 26);
  const uint32_t type_field = be16(f.map, type_list);
  const size_t type_count = type_field == 0xFFFF ? 0 : type_field + 1;
  for (size_t t = 0; t < type_count; ++t) {
    const size_t item = type_list + 2 + 8 * t;
    const std::string type(f.map.begin() + static_cast<std::ptrdiff_t>(item),
                           f.map.begin() + static_cast<std::ptrdiff_t>(item + 4));
    f.types.push_back(type);
    const size_t count = be16(f.map, item + 4) + 1;
    const size_t list = type_list + be16(f.map, item + 6);
    for (size_t r = 0; r < count; ++r) {
      const size_t ref = list + 12 * r;
      Resource res;
      res.type = type;
      res.id = be16(f.map, ref);
      const uint32_t name_offset = be16(f.map, ref + 2);
      if (name_offset != 0xFFFF) {
        const size_t at = name_list + name_offset;
        const Bytes name = slice(f.map, at + 1, f.map.at(at));
        res.name = std::string(name.begin(), name.end());
      }
      res.attributes = f.map.at(ref + 4);
      res.data_offset = be24(f.map, ref + 5);
      const size_t data = data_start + res.data_offset;
      res.data = slice(bytes, data + 4, be32(bytes, data));
      f.resources.push_back(res);
    }
  }
  return f;
}

MacBinaryFile parse_file(const std::string &path) { return parse(vt::read_file(path)); }

const Resource *find(const MacBinaryFile &f, const std::string &type, uint32_t id) {
  for (const Resource &r : f.resources)
    if (r.type == type && r.id == id) return &r;
  return nullptr;
}

// A resource that must be there (a missing one fails the test, through the
// exception, instead of crashing it).
const Resource &get(const MacBinaryFile &f, const std::string &type, uint32_t id) {
  const Resource *r = find(f, type, id);
  if (r == nullptr) throw std::runtime_error("no resource " + type + " " + std::to_string(id));
  return *r;
}

// The CRC of a MacBinary II header, bit by bit (polynomial 0x1021, start 0).
uint16_t bitwise_crc16(const Bytes &bytes, size_t count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc = static_cast<uint16_t>(crc ^ (bytes[i] << 8));
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

// ---- Processors for the tests -----------------------------------------------

// "TEST": the parameter text itself is the resource's data.
int32_t write_parameter(MacBinChannel *, const char *param) {
  const auto n = static_cast<int32_t>(std::strlen(param));
  return MacBin_PutBuf(param, n, n);
}
// "ABC ": the parameter text in angle brackets, so that an empty one shows.
int32_t write_bracketed(MacBinChannel *, const char *param) {
  const std::string text = "<" + std::string(param) + ">";
  return MacBin_PutBuf(text.data(), static_cast<int32_t>(text.size()),
                       static_cast<int32_t>(text.size()));
}
// "NONE": produces nothing.
int32_t write_nothing(MacBinChannel *, const char *) { return 0; }
// "BIG ": big_resource_bytes bytes of 0xAB.
int32_t big_resource_bytes = 0;
int32_t write_big(MacBinChannel *, const char *) {
  Bytes block(65536, 0xAB);
  for (int32_t left = big_resource_bytes; left > 0; left -= 65536) {
    const int32_t n = std::min(left, 65536);
    MacBin_PutBuf(block.data(), n, n);
  }
  return 0;
}

// A fresh library with a recording message method and the processors above
// plus the Finder handlers.
void set_up_library() {
  vt::init_recording();
  ASSERT_EQ(MacBin_AddProcessor("vers", nullptr, add_vers), 0);
  ASSERT_EQ(MacBin_AddProcessor("FREF", nullptr, add_FREF), 0);
  ASSERT_EQ(MacBin_AddProcessor("Bndl", nullptr, close_BNDL), 0);
  ASSERT_EQ(MacBin_AddProcessor("TEST", nullptr, write_parameter), 0);
  ASSERT_EQ(MacBin_AddProcessor("NONE", nullptr, write_nothing), 0);
  ASSERT_EQ(MacBin_AddProcessor("BIG ", nullptr, write_big), 0);
}

void put_text(const std::string &text) {
  ASSERT_EQ(MacBin_PutBuf(text.data(), static_cast<int32_t>(text.size()),
                          static_cast<int32_t>(text.size())),
            0);
}

uint32_t macintosh_now() {
  return static_cast<uint32_t>(static_cast<int64_t>(std::time(nullptr)) + 2082844800);
}

// ---- Header -------------------------------------------------------------------

TEST(WriterHeader, ClassicHeaderBytes) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("sample.bin");
  char name[] = "Sample";
  const uint32_t before = macintosh_now();
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  MacBin_AddResource(ch, "BNDL Owner");
  MacBin_Close(ch);
  const uint32_t after = macintosh_now();

  Bytes header = slice(vt::read_file(path), 0, 128);
  for (size_t date : {91, 95}) {
    EXPECT_GE(be32(header, date), before);
    EXPECT_LE(be32(header, date), after);
    for (size_t i = 0; i < 4; ++i) header[date + i] = 0;
  }
  EXPECT_EQ(vt::to_hex(header), vt::to_hex(hex(R"(
    00 06 53 61 6D 70 6C 65 00 00 00 00 00 00 00 00  | 000 name length 6, "Sample"
    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  | 010
    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  | 020 name field ends at 32
    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  | 030
    00 54 45 58 54 56 41 52 4E 01 00 00 00 00 00 00  | 040 TEXT, VARN, flags 0100
    00 00 00 00 00 00 00 00 00 01 4B 00 00 00 00 00  | 050 data 0, resources 331 (256+10+65), dates
    00 00 00 00 00 00 4C 00 00 00 00 00 00 00 00 00  | 060 the value 76 at 99
    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  | 070
  )")));
}

TEST(WriterHeader, MacBinaryIIHeaderAndPadding) {
  set_up_library();
  ASSERT_EQ(MacBin_SetFormat(MACBIN_FORMAT_II), 1);
  vt::TempDir dir;
  const std::string path = dir.file("sample.bin");
  char name[] = "Sample";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  MacBin_AddResource(ch, "BNDL Owner");
  ch->finder.flags = static_cast<int16_t>(ch->finder.flags | 0x0040);  // a low-byte flag
  MacBin_Close(ch);

  const Bytes file = vt::read_file(path);
  ASSERT_EQ(file.size(), 128u + 256 + 10 + 65 + 53);  // 459 bytes padded to 4 * 128
  EXPECT_EQ(slice(file, file.size() - 53, 53), vt::repeat(0, 53));
  Bytes header = slice(file, 0, 128);
  EXPECT_EQ(be16(header, 124), bitwise_crc16(header, 124));
  for (size_t at : {91, 92, 93, 94, 95, 96, 97, 98, 124, 125}) header[at] = 0;
  EXPECT_EQ(vt::to_hex(header), vt::to_hex(hex(R"(
    00 06 53 61 6D 70 6C 65 00 00 00 00 00 00 00 00  | 000
    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  | 010
    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  | 020
    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  | 030
    00 54 45 58 54 56 41 52 4E 01 40 00 00 00 00 00  | 040 flags 0140
    00 00 00 00 00 00 00 00 00 01 4B 00 00 00 00 00  | 050 resource fork length without the padding
    00 00 00 00 00 40 00 00 00 00 00 00 00 00 00 00  | 060 101: low byte of the flags
    00 00 00 00 00 00 00 00 00 00 81 81 00 00 00 00  | 070 122, 123: 129; CRC (checked above)
  )")));
  // Each channel keeps the format it was opened with; unknown formats change nothing.
  EXPECT_EQ(MacBin_SetFormat(3), 0);
  EXPECT_EQ(MacBin_SetFormat(0), 0);
  const std::string second = dir.file("second.bin");
  MacBinChannel *ch2 = MacBin_OpenW(second.c_str(), name, "VARN", "TEXT");
  ASSERT_EQ(MacBin_SetFormat(MACBIN_FORMAT_CLASSIC), 1);
  MacBin_Close(ch2);
  const Bytes second_file = vt::read_file(second);
  EXPECT_EQ(second_file.size() % 128, 0u);
  EXPECT_EQ(second_file.at(122), 129);
}

TEST(WriterHeader, LongNamesAndCodesAreCut) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("a-file-name-with-a-long-stem.bin");
  std::string forty(40, 'x');
  for (size_t i = 0; i < forty.size(); ++i) forty[i] = static_cast<char>('A' + i % 26);
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), forty.data(), "CREATOR", "TYPEXY");
  ASSERT_NE(ch, nullptr);
  EXPECT_EQ(std::string(ch->finder.name), forty);  // the channel keeps the whole name
  EXPECT_STREQ(ch->finder.type, "TYPE");
  EXPECT_STREQ(ch->finder.creator, "CREA");
  EXPECT_STREQ(ch->label, "a-file-name-with");  // NAME part, 16 characters
  MacBin_Close(ch);
  const Bytes file = vt::read_file(path);
  EXPECT_EQ(file[1], 31);
  EXPECT_EQ(slice(file, 2, 31), vt::bytes_of(forty.substr(0, 31)));
  EXPECT_EQ(slice(file, 33, 32), vt::repeat(0, 32));
  EXPECT_EQ(slice(file, 65, 8), vt::bytes_of("TYPECREA"));
  EXPECT_EQ(parse(file).types, std::vector<std::string>{"CREA"});  // the owner's type

  // A Macintosh name past the 63 characters of the Finder field, and codes
  // shorter than four characters.
  std::string seventy(70, 'n');
  const std::string other = dir.file("other.bin");
  ch = MacBin_OpenW(other.c_str(), seventy.data(), "AB", "C");
  ASSERT_NE(ch, nullptr);
  EXPECT_EQ(std::string(ch->finder.name), seventy.substr(0, 63));
  MacBin_Close(ch);
  EXPECT_EQ(slice(vt::read_file(other), 65, 8), hex("43 00 00 00 41 42 00 00"));
}

TEST(WriterHeader, EmptyNameTakesTheFileNameWithItsDirectory) {
  set_up_library();
  vt::TempDir dir;
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  ASSERT_EQ(mkdir("sub", 0755), 0);
  char name[40];
  std::memset(name, 'Z', sizeof name);
  name[0] = '\0';
  MacBinChannel *ch = MacBin_OpenW("sub/Report.bin", name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  EXPECT_STREQ(name, "sub/Report.bin");
  MacBin_Close(ch);
  const Bytes file = vt::read_file("sub/Report.bin");
  EXPECT_EQ(slice(file, 1, 15), vt::concat({hex("0E"), vt::bytes_of("sub/Report.bin")}));

  // A longer path: its first 31 characters, NUL-terminated in the 32-byte buffer.
  const std::string deep = "sub/abcdefghijklmnopqrstuvwxyz0123456789.bin";
  std::memset(name, 'Z', sizeof name);
  name[0] = '\0';
  ch = MacBin_OpenW(deep.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  EXPECT_EQ(std::string(name), deep.substr(0, 31));
  EXPECT_EQ(std::string(name + 32, 8), std::string(8, 'Z'));  // nothing past the buffer
  MacBin_Close(ch);
  EXPECT_EQ(vt::read_file(deep)[1], 31);
  // A null Macintosh name is missing too, and nothing is copied anywhere.
  ch = MacBin_OpenW("sub/null.bin", nullptr, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  EXPECT_STREQ(ch->finder.name, "sub/null.bin");
  MacBin_Close(ch);
}

TEST(WriterHeader, MissingArgumentsAreReportedInOrder) {
  set_up_library();
  char name[32] = "";
  EXPECT_EQ(MacBin_OpenW("", name, "", ""), nullptr);
  EXPECT_EQ(MacBin_OpenW("x.bin", name, nullptr, ""), nullptr);
  EXPECT_EQ(MacBin_OpenW("x.bin", name, "VARN", ""), nullptr);
  const auto &m = vt::recorded_messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].text, "No filename specified");
  EXPECT_EQ(m[1].text, "No creator specified");
  EXPECT_EQ(m[2].text, "No filetype specified");
  EXPECT_EQ(m[2].severity, MACBIN_ERROR);
  EXPECT_EQ(MacIOControl.open_writers, 0);
}

// ---- Opening: failures and errno ----------------------------------------------

TEST(WriterOpen, FailedOpenLeavesTheCurrentOutputAlone) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("a.bin");
  char name[] = "A";
  MacBinChannel *a = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(a, nullptr);
  TesselFile *a_file = outfile;
  const std::string missing = dir.file("no/such/dir/b.bin");
  EXPECT_EQ(MacBin_OpenW(missing.c_str(), name, "VARN", "TEXT"), nullptr);
  EXPECT_EQ(vt::count_messages("Could not open output file"), 1u);
  EXPECT_EQ(outfile, a_file);
  EXPECT_EQ(MacIOControl.open_writers, 1);
  put_text("still A");  // the data fork of A goes on
  MacBin_Close(a);
  const MacBinaryFile f = parse_file(path);
  EXPECT_EQ(slice(f.bytes, 128, f.data_length), vt::bytes_of("still A"));
  EXPECT_EQ(vt::count_messages("Writing output file"), 0u);
}

TEST(WriterOpen, StaleErrnoDoesNotFailASoundFile) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("a.bin");
  char name[] = "A";
  errno = ENOENT;
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  errno = EIO;
  put_text("data");
  errno = ENOSPC;
  MacBin_AddResource(ch, "TEST 1 n abc");
  errno = EBADF;
  MacBin_Close(ch);
  EXPECT_TRUE(vt::file_exists(path));
  EXPECT_EQ(vt::count_messages("Writing output file"), 0u);
  EXPECT_EQ(vt::count_messages("Removing output file(s)"), 0u);
  EXPECT_EQ(find(parse_file(path), "TEST", 1)->data, vt::bytes_of("abc"));
}

TEST(WriterOpen, NoMemoryForTheTablesCreatesNoFile) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("a.bin");
  vt::write_text(path, "precious");
  char name[] = "A";
  const size_t in_use = tessel_zone_in_use(MacIOControl.zone);
  // Room for the channel record, not for its type table.
  tessel_zone_set_limit(MacIOControl.zone, in_use + sizeof(ChannelExtension));
  EXPECT_EQ(MacBin_OpenW(path.c_str(), name, "VARN", "TEXT"), nullptr);
  EXPECT_EQ(vt::count_messages("Out Of Memory (in initialisation)"), 1u);
  EXPECT_EQ(tessel_zone_in_use(MacIOControl.zone), in_use);  // nothing kept
  EXPECT_EQ(vt::read_file(path), vt::bytes_of("precious"));   // not even truncated
  // No room for the channel itself: reported once as well.
  tessel_zone_set_limit(MacIOControl.zone, in_use + 1);
  EXPECT_EQ(MacBin_OpenW(path.c_str(), name, "VARN", "TEXT"), nullptr);
  EXPECT_EQ(vt::count_messages("Out Of Memory (in initialisation)"), 2u);
  EXPECT_EQ(MacIOControl.open_writers, 0);
}

// ---- Data fork and resource fork head -------------------------------------------

TEST(WriterDataFork, PaddingToMultiplesOf128) {
  set_up_library();
  vt::TempDir dir;
  char name[] = "D";
  struct Case { int32_t length; int32_t rsrc_start; };
  for (const Case c : {Case{0, 128}, Case{1, 256}, Case{128, 256}, Case{129, 384}}) {
    SCOPED_TRACE(c.length);
    const std::string path = dir.file("d" + std::to_string(c.length));
    MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(ch->data_length, -1);
    const Bytes data(static_cast<size_t>(c.length), 0x5A);
    MacBin_PutBuf(data.data(), c.length, c.length);
    MacBin_CompleteDataFork(ch);
    MacBin_CompleteDataFork(ch);  // the second call does nothing
    EXPECT_EQ(ch->data_length, c.length);
    EXPECT_EQ(ch->rsrc_start, c.rsrc_start);
    EXPECT_EQ(ch->rsrc_offset, c.rsrc_start - 128);
    EXPECT_EQ(MacBin_GetPtrPos(), c.rsrc_start + 256);
    MacBin_Close(ch);
    const Bytes file = vt::read_file(path);
    EXPECT_EQ(slice(file, 128, static_cast<size_t>(c.length)), data);
    EXPECT_EQ(slice(file, 128 + static_cast<size_t>(c.length),
                    static_cast<size_t>(c.rsrc_start - 128 - c.length)),
              vt::repeat(0, static_cast<size_t>(c.rsrc_start - 128 - c.length)));
    EXPECT_EQ(parse(file).rsrc_start, static_cast<size_t>(c.rsrc_start));
    EXPECT_EQ(be32(file, 83), static_cast<uint32_t>(c.length));
  }
}

TEST(WriterResourceFork, HeadAndMapOfAFileClosedRightAfterOpening) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("empty.bin");
  char name[] = "E";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  const std::string owner = ch->owner_text;
  ASSERT_FALSE(owner.empty());
  ASSERT_LE(owner.size(), 99u);
  MacBin_Close(ch);

  const Bytes file = vt::read_file(path);
  const auto owner_length = static_cast<uint32_t>(owner.size());
  const uint32_t map_offset = 256 + 4 + 1 + owner_length;
  const uint32_t map_length = 28 + 2 + 8 + 12 + 15;
  ASSERT_EQ(file.size(), 128 + map_offset + map_length);
  const Bytes fork_header = vt::concat({be32_bytes(256), be32_bytes(map_offset),
                                        be32_bytes(map_offset - 256), be32_bytes(map_length)});
  EXPECT_EQ(slice(file, 128, 16), fork_header);
  EXPECT_EQ(slice(file, 144, 240), vt::repeat(0, 240));
  // The owner resource: its text as a Pascal string.
  EXPECT_EQ(be32(file, 384), owner_length + 1);
  EXPECT_EQ(slice(file, 388, 1 + owner.size()),
            vt::concat({Bytes{static_cast<uint8_t>(owner_length)}, vt::bytes_of(owner)}));
  // The map: the fork header again, then offsets 28 and 50, one type with
  // its reference list at 10, and a 15-byte name list.
  const Bytes map = slice(file, 128 + map_offset, map_length);
  EXPECT_EQ(slice(map, 0, 16), fork_header);
  EXPECT_EQ(vt::to_hex(slice(map, 16, map_length - 16)), vt::to_hex(hex(R"(
    00 00 00 00 00 00 00 00 00 1C 00 32              | 010 handle, file ref, attributes, 28, 50
    00 00 56 41 52 4E 00 00 00 0A                    | 01C one type: VARN, 1 resource, refs at 10
    00 00 00 00 20 00 00 00 00 00 00 00              | 026 ID 0, name at 0, 0x20, data at 0
    0E 4F 77 6E 65 72 20 72 65 73 6F 75 72 63 65     | 032 "Owner resource"
  )")));
  EXPECT_EQ(be32(file, 87), map_offset + map_length);  // fork length = map offset + map length
  EXPECT_EQ(MacIOControl.open_writers, 0);
}

TEST(WriterResourceFork, DataOffsetsCountRefusedEntries) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("offsets.bin");
  char name[] = "O";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  MacBin_AddResource(ch, "TEST 1 \"\" abcde");    // offset 0, 5 bytes
  MacBin_AddResource(ch, "NONE 2 \"\" ignored");  // nothing: 4 zero bytes, no reference
  MacBin_AddResource(ch, "TEST 3 \"\" xy");       // offset 5 + 4 + 4 = 13
  EXPECT_EQ(insert_resource("UNKN", 4, "", "z"), 1);  // no processor: nothing written
  MacBin_AddResource(ch, "TEST 5 \"\" q");        // offset 13 + 4 + 2 = 19
  EXPECT_EQ(vt::count_messages("resource <NONE>, ID 2 not inserted"), 1u);
  EXPECT_EQ(vt::count_messages("Function for resource <UNKN> unknown)"), 1u);
  const size_t rsrc_data = static_cast<size_t>(ch->rsrc_start) + 256;
  MacBin_Close(ch);

  const MacBinaryFile f = parse_file(path);
  EXPECT_EQ(slice(f.bytes, rsrc_data + 9, 4), vt::repeat(0, 4));  // the refused entry
  EXPECT_EQ(get(f, "TEST", 1).data_offset, 0u);
  EXPECT_EQ(get(f, "TEST", 3).data_offset, 13u);
  EXPECT_EQ(get(f, "TEST", 5).data_offset, 19u);
  EXPECT_EQ(get(f, "TEST", 5).data, vt::bytes_of("q"));
  EXPECT_EQ(find(f, "NONE", 2), nullptr);
  EXPECT_EQ(f.types, (std::vector<std::string>{"TEST", "VARN"}));
  for (const Resource &r : f.resources) {
    EXPECT_EQ(r.attributes, 0x20);
    EXPECT_EQ(r.name.has_value(), r.type == "VARN");
  }
}

// ---- Finder resources --------------------------------------------------------------

TEST(WriterFinder, VersExampleAndStageLetters) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("vers.bin");
  char name[] = "V";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "APPL");
  ASSERT_NE(ch, nullptr);
  vt::CaptureStdout out;
  MacBin_AddResource(ch, "vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0");
  MacBin_AddResource(ch, "vers 2 \"\" 1.23 B 4 0/x/y");
  MacBin_AddResource(ch, "vers 3 \"\" 1.00 D 0 0/s/long/more");  // long version stops at '/'
  MacBin_AddResource(ch, "vers 4 \"\" 2.10 A 9 258//l");         // empty short version
  const std::string clean = out.text();
  vt::CaptureStdout out2;
  MacBin_AddResource(ch, "vers 5 \"\" 1.00 f 0 0/a/b");  // lower case: invalid
  const std::string diagnostic = out2.text();
  MacBin_Close(ch);

  EXPECT_EQ(clean, "");
  EXPECT_EQ(diagnostic, "ERROR     Invalid Release code \a\n");
  const MacBinaryFile f = parse_file(path);
  EXPECT_EQ(vt::to_hex(get(f, "vers", 1).data), vt::to_hex(hex(R"(
    01 00 80 00 00 00                    | 1.00, final, revision 0, region 0
    03 31 2E 30                          | "1.0"
    0B 56 65 72 73 69 6F 6E 20 31 2E 30  | "Version 1.0"
  )")));
  EXPECT_EQ(get(f, "vers", 2).data, hex("01 23 60 04 00 00 01 78 01 79"));
  EXPECT_EQ(get(f, "vers", 3).data,
            vt::concat({hex("01 00 20 00 00 00 01 73 04"), vt::bytes_of("long")}));
  EXPECT_EQ(get(f, "vers", 4).data, hex("02 10 40 09 01 02 00 01 6C"));
  EXPECT_EQ(get(f, "vers", 5).data, hex("01 00 20 00 00 00 01 61 01 62"));
}

TEST(WriterFinder, ShortTextsStopAtTheirEnd) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("short.bin");
  char name[] = "S";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "APPL");
  ASSERT_NE(ch, nullptr);
  vt::CaptureStdout out;
  MacBin_AddResource(ch, "vers 1 \"\" 1");
  MacBin_AddResource(ch, "vers 2 \"\" 1.00 F 7 1 no separators");
  MacBin_AddResource(ch, "vers 3 \"\" 1.00 F 0 0/only-short");
  MacBin_CompleteDataFork(ch);
  // Direct insertion skips the line handler's "/ID": the FREF text ends early.
  EXPECT_EQ(insert_resource("FREF", 200, "", "AB"), 0);
  const std::string printed = out.text();
  MacBin_Close(ch);

  EXPECT_EQ(printed, "ERROR     Invalid Release code \a\n");  // only the first has no stage
  const MacBinaryFile f = parse_file(path);
  EXPECT_EQ(get(f, "vers", 1).data, hex("01 00 20 00 00 00 00 00"));
  EXPECT_EQ(get(f, "vers", 2).data, hex("01 00 80 07 00 01 00 00"));
  EXPECT_EQ(get(f, "vers", 3).data,
            vt::concat({hex("01 00 80 00 00 00 0A"), vt::bytes_of("only-short"), hex("00")}));
  EXPECT_EQ(get(f, "FREF", 200).data, hex("41 42 00 00 00 00 00"));
  // Its bundle entry carries zeros for both IDs.
  EXPECT_EQ(slice(get(f, "BNDL", 128).data, 14, 4), hex("00 00 00 00"));
}

TEST(WriterFinder, TwoFrefsAndTheirBundle) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("bundle.bin");
  char name[] = "B";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "APPL");
  ASSERT_NE(ch, nullptr);
  EXPECT_EQ(ch->finder.flags, 0x0100);
  MacBin_AddResource(ch, "FREF 128 \"\" APPL 128");
  MacBin_AddResource(ch, "FREF 129 \"\" TEXT 129");
  EXPECT_EQ(ch->fref_last, 1);
  EXPECT_EQ(ch->frefs[1][0], 129);
  EXPECT_EQ(ch->frefs[1][1], 129);
  MacBin_Close(ch);

  const MacBinaryFile f = parse_file(path);
  EXPECT_EQ(get(f, "FREF", 128).data, hex("41 50 50 4C 00 00 00"));  // APPL, local 0, ""
  EXPECT_EQ(get(f, "FREF", 129).data, hex("54 45 58 54 00 01 00"));  // TEXT, local 1, ""
  const Resource *bundle = find(f, "BNDL", 128);
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->name.value(), "Bundle");
  EXPECT_EQ(vt::to_hex(bundle->data), vt::to_hex(hex(R"(
    56 41 52 4E 00 00 00 01              | owner VARN, ID 0, two types
    46 52 45 46 00 01                    | FREF, two entries
    00 00 00 80 00 01 00 81              | (0, 128), (1, 129)
    49 43 4E 23 00 01                    | ICN#, two entries
    00 00 00 80 00 01 00 81              | (0, 128), (1, 129)
  )")));
  EXPECT_EQ(f.types, (std::vector<std::string>{"FREF", "VARN", "BNDL"}));
  EXPECT_EQ(slice(f.bytes, 73, 2), hex("21 00"));  // has-bundle and inited
}

TEST(WriterFinder, NoFrefNoBundleAndTheSixtyFifthFref) {
  set_up_library();
  vt::TempDir dir;
  char name[] = "F";
  const std::string plain = dir.file("plain.bin");
  MacBinChannel *ch = MacBin_OpenW(plain.c_str(), name, "VARN", "APPL");
  ASSERT_NE(ch, nullptr);
  MacBin_Close(ch);
  const MacBinaryFile f = parse_file(plain);
  EXPECT_EQ(f.types, std::vector<std::string>{"VARN"});
  EXPECT_EQ(slice(f.bytes, 73, 2), hex("01 00"));
  // A bundle asked for under "Bndl" without any FREF lists none (counts FFFF).
  const std::string bndl = dir.file("bndl.bin");
  ch = MacBin_OpenW(bndl.c_str(), name, "VARN", "APPL");
  ASSERT_NE(ch, nullptr);
  MacBin_AddResource(ch, "Bndl 200 mine");
  EXPECT_EQ(ch->finder.flags, 0x2100);
  MacBin_Close(ch);
  EXPECT_EQ(get(parse_file(bndl), "BNDL", 200).data,
            hex("56 41 52 4E 00 00 00 01 46 52 45 46 FF FF 49 43 4E 23 FF FF"));

  const std::string many = dir.file("many.bin");
  ch = MacBin_OpenW(many.c_str(), name, "VARN", "APPL");
  ASSERT_NE(ch, nullptr);
  for (int i = 0; i < 64; ++i) {
    MacBin_AddResource(ch, ("FREF " + std::to_string(1000 + i) + " \"\" T" + std::to_string(10 + i) +
                            "x " + std::to_string(2000 + i))
                               .c_str());
  }
  // A 65th FREF resource does not fit the grid row of its type ...
  MacBin_AddResource(ch, "FREF 5000 \"\" LAST 5000");
  EXPECT_EQ(vt::count_messages("Too many resources of one type: resource <FREF>, ID 5000 not inserted"),
            1u);
  // ... and a 65th FREF entry under another type does not fit the FREF table.
  ASSERT_EQ(MacBin_AddProcessor("FRF2", nullptr, add_FREF), 0);
  vt::CaptureStdout out;
  MacBin_AddResource(ch, "FRF2 5001 \"\" LAST 5001");
  EXPECT_EQ(out.text(), "ERROR     out of FREF memory \a\n");
  EXPECT_EQ(ch->fref_last, 63);
  EXPECT_EQ(vt::count_messages("resource <FRF2>, ID 5001 not inserted"), 1u);
  MacBin_Close(ch);
  const MacBinaryFile g = parse_file(many);
  const Resource *bundle = find(g, "BNDL", 128);
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->data.size(), 20u + 8 * 64);
  EXPECT_EQ(be16(bundle->data, 12), 63u);
  EXPECT_EQ(be16(bundle->data, 14 + 4 * 63 + 2), 1063u);  // last FREF ID
  EXPECT_EQ(find(g, "FREF", 5000), nullptr);
  EXPECT_EQ(find(g, "FRF2", 5001), nullptr);
}

// ---- Resource lines -------------------------------------------------------------------

TEST(WriterLines, CommentsWordsTypesAndBndl) {
  set_up_library();
  ASSERT_EQ(MacBin_AddProcessor("ABC ", nullptr, write_bracketed), 0);
  ASSERT_EQ(MacBin_AddProcessor("SEVEN77", nullptr, write_parameter), 0);  // stored as SEVE
  vt::TempDir dir;
  const std::string path = dir.file("lines.bin");
  char name[] = "L";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  vt::recorded_messages().clear();  // the start notice
  MacBin_AddResource(ch, "; TEST 9 comment never inserted");
  MacBin_AddResource(ch, "");
  MacBin_AddResource(ch, nullptr);
  EXPECT_TRUE(vt::recorded_messages().empty());
  MacBin_AddResource(ch, "TEST 1 name two  words");  // five words: "two  words" as one text
  MacBin_AddResource(ch, "ABC 2 three");             // three letters: "ABC ", empty parameter
  MacBin_AddResource(ch, "ABC 7 seven data");
  MacBin_AddResource(ch, "TEST \"3\" \"a name\" \"quoted\" kept");
  MacBin_AddResource(ch, "BNDL \"My owner\"");
  EXPECT_STREQ(ch->owner_text, "My owner");
  EXPECT_EQ(vt::recorded_messages().size(), 4u);  // four progress notices, nothing else
  MacBin_AddResource(ch, "BNDL");
  EXPECT_EQ(vt::count_messages("ERROR in line ?"), 1u);
  MacBin_AddResource(ch, "TEST 4");
  EXPECT_EQ(vt::count_messages("Syntax error in line ?"), 1u);
  MacBin_AddResource(ch, "   \t ");
  EXPECT_EQ(vt::count_messages("ERROR in line ?"), 2u);
  MacBin_AddResource(ch, "TOOLONGTYPE 5 x");
  EXPECT_EQ(vt::count_messages("Resource type <TOOLONGTYPE> longer than 7 characters"), 1u);
  MacBin_AddResource(ch, "SEVEN77 6 x data");  // seven characters are kept whole
  EXPECT_STREQ(ch->types[2].type, "SEVEN77");
  EXPECT_STREQ(ch->types[1].type, "ABC ");
  MacBin_Close(ch);

  const MacBinaryFile f = parse_file(path);
  EXPECT_EQ(get(f, "TEST", 1).data, vt::bytes_of("two  words"));
  EXPECT_EQ(get(f, "TEST", 1).name.value(), "name");
  EXPECT_EQ(get(f, "ABC ", 2).data, vt::bytes_of("<>"));  // an empty parameter text
  EXPECT_EQ(get(f, "ABC ", 7).data, vt::bytes_of("<data>"));
  EXPECT_EQ(get(f, "TEST", 3).data, vt::bytes_of("\"quoted\" kept"));
  EXPECT_EQ(get(f, "TEST", 3).name.value(), "a name");
  EXPECT_EQ(find(f, "TEST", 4), nullptr);
  EXPECT_EQ(get(f, "VARN", 0).data, vt::concat({hex("08"), vt::bytes_of("My owner")}));
  EXPECT_EQ(get(f, "SEVE", 6).data, vt::bytes_of("data"));  // the map takes four characters
}

TEST(WriterLines, LengthLimitsAndFrefWithoutParameter) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("limits.bin");
  char name[] = "L";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  // Words that take exactly 256 bytes: "TEST", "1", "n" and the parameter,
  // NULs included: 5 + 2 + 2 + 247.
  const std::string fits = "TEST 1 n " + std::string(246, 'p');
  MacBin_AddResource(ch, fits.c_str());
  MacBin_AddResource(ch, ("TEST 2 n " + std::string(247, 'p')).c_str());  // 257 bytes
  MacBin_AddResource(ch, ("TEST 3 n" + std::string(502, ' ') + "x").c_str());  // 511 characters
  MacBin_AddResource(ch, ("TEST 4 n" + std::string(503, ' ') + "x").c_str());  // 512 characters
  EXPECT_EQ(vt::count_messages("ERROR in line ?"), 2u);
  // The FREF suffix counts: "FREF 10 n " + 243 characters + "/10" is 257 bytes.
  MacBin_AddResource(ch, ("FREF 10 n " + std::string(243, 'q')).c_str());
  EXPECT_EQ(vt::count_messages("ERROR in line ?"), 3u);
  MacBin_AddResource(ch, "FREF 11 n");
  MacBin_AddResource(ch, "FREF 12");
  EXPECT_EQ(vt::count_messages("Syntax error in line ?"), 2u);
  EXPECT_EQ(ch->fref_last, -1);
  MacBin_Close(ch);

  const MacBinaryFile f = parse_file(path);
  EXPECT_EQ(get(f, "TEST", 1).data, vt::bytes_of(std::string(246, 'p')));
  EXPECT_EQ(find(f, "TEST", 2), nullptr);
  EXPECT_EQ(get(f, "TEST", 3).data, vt::bytes_of("x"));  // blanks collapse as separators
  EXPECT_EQ(find(f, "TEST", 4), nullptr);
  EXPECT_EQ(f.types, (std::vector<std::string>{"TEST", "VARN"}));  // no FREF, no bundle
}

// ---- Capacity -------------------------------------------------------------------------

TEST(WriterCapacity, SixtyFifthTypeAndSixtyFifthResource) {
  set_up_library();
  ASSERT_EQ(MacBin_AddProcessor("****", nullptr, write_parameter), 0);
  vt::TempDir dir;
  const std::string path = dir.file("capacity.bin");
  char name[] = "C";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "T000", "TEXT");
  ASSERT_NE(ch, nullptr);
  char type[8];
  for (int t = 0; t < 64; ++t) {
    std::snprintf(type, sizeof type, "T%03d", t);
    EXPECT_EQ(insert_resource(type, 1, "", "x"), t == 0 ? 1 : 0) << "MacChannel not set yet";
    if (t == 0) {
      MacBin_CompleteDataFork(ch);
      EXPECT_EQ(insert_resource(type, 1, "", "x"), 0);
    }
  }
  EXPECT_EQ(vt::count_messages("No open output channel"), 1u);
  EXPECT_EQ(insert_resource("T064", 1, "", "x"), 1);
  EXPECT_EQ(vt::count_messages("Too many resource types: resource <T064>, ID 1 not inserted"), 1u);
  for (int r = 2; r <= 64; ++r) EXPECT_EQ(insert_resource("T005", r, "", "y"), 0);
  EXPECT_EQ(insert_resource("T005", 65, "", "y"), 1);
  EXPECT_EQ(vt::count_messages("Too many resources of one type: resource <T005>, ID 65 not inserted"),
            1u);
  EXPECT_EQ(ch->type_count, 63);
  EXPECT_EQ(ch->types[5].count, 63);
  MacBin_Close(ch);  // the owner joins T000, which has room

  const MacBinaryFile f = parse_file(path);
  EXPECT_EQ(f.types.size(), 64u);
  EXPECT_EQ(f.resources.size(), 64u + 63 + 1);
  EXPECT_EQ(find(f, "T064", 1), nullptr);
  EXPECT_EQ(get(f, "T005", 64).data, vt::bytes_of("y"));
  EXPECT_EQ(find(f, "T005", 65), nullptr);
  EXPECT_EQ(get(f, "T000", 0).name.value(), "Owner resource");
}

TEST(WriterCapacity, DataOffsetBeyond24Bits) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("big.bin");
  char name[] = "G";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  big_resource_bytes = 0xFFFFFB;  // the next length word lies at 0xFFFFFF: still addressable
  MacBin_AddResource(ch, "BIG  1 \"\"");
  MacBin_AddResource(ch, "TEST 2 \"\" last");
  MacBin_AddResource(ch, "TEST 3 \"\" refused");
  EXPECT_EQ(vt::count_messages("Resource data past 16 MB: resource <TEST>, ID 3 not inserted"), 1u);
  MacBin_Close(ch);  // the owner is refused the same way
  EXPECT_EQ(vt::count_messages("Resource data past 16 MB: resource <VARN>, ID 0 not inserted"), 1u);

  const MacBinaryFile f = parse_file(path);
  EXPECT_EQ(get(f, "TEST", 2).data_offset, 0xFFFFFFu);
  EXPECT_EQ(get(f, "TEST", 2).data, vt::bytes_of("last"));
  EXPECT_EQ(get(f, "BIG ", 1).data.size(), 0xFFFFFBu);
  EXPECT_EQ(f.resources.size(), 2u);
  EXPECT_EQ(f.map_start, f.rsrc_start + 256 + 0xFFFFFF + 8);  // nothing written for the refused
}

TEST(WriterCapacity, NameListBeyond65535Bytes) {
  set_up_library();
  ASSERT_EQ(MacBin_AddProcessor("****", nullptr, write_parameter), 0);
  vt::TempDir dir;
  const std::string path = dir.file("names.bin");
  char name[] = "N";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
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
  EXPECT_EQ(insert_resource("N007", 999, std::string(127, 'z').c_str(), "d"), 1);
  EXPECT_EQ(vt::count_messages("Name list full: resource <N007>, ID 999 not inserted"), 1u);
  const int64_t end_before = MacBin_GetPtrPos();
  EXPECT_EQ(insert_resource("N007", 998, std::string(127, 'z').c_str(), "d"), 1);
  EXPECT_EQ(MacBin_GetPtrPos(), end_before);  // refused before anything was written
  MacBin_Close(ch);  // the owner's 15 bytes still fit: 65423

  const MacBinaryFile f = parse_file(path);
  EXPECT_EQ(f.resources.size(), 512u);
  EXPECT_EQ(f.map.size() - be16(f.map, 26), 65423u);
  EXPECT_EQ(get(f, "VARN", 0).name.value(), "Owner resource");
  EXPECT_EQ(get(f, "N007", 510).name.value().size(), 127u);
  EXPECT_EQ(find(f, "N007", 999), nullptr);
}

// ---- Channels, notices, direct insertion ------------------------------------------------

TEST(WriterNotices, OneStartAndOneEndForNestedFiles) {
  set_up_library();
  vt::TempDir dir;
  char name[] = "X";
  MacBinChannel *a = MacBin_OpenW(dir.file("a.bin").c_str(), name, "VARN", "TEXT");
  MacBinChannel *b = MacBin_OpenW(dir.file("b.bin").c_str(), name, "VARN", "TEXT");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(vt::count_messages("Start Macintosh Resources"), 1u);
  EXPECT_EQ(MacIOControl.open_writers, 2);
  MacBin_AddResource(a, "vers 1 \"\" 1.00 F 0 0/1/1");
  MacBin_AddResource(b, "TEST 7 seven data");
  MacBin_Close(a);
  EXPECT_EQ(vt::count_messages("End Macintosh Resources"), 0u);
  MacBin_AddResource(b, "FREF 128 \"\" TEXT 128");
  MacBin_Close(b);
  EXPECT_EQ(vt::count_messages("End Macintosh Resources"), 1u);
  EXPECT_EQ(MacIOControl.open_writers, 0);

  std::vector<std::string> texts;
  for (const vt::Message &m : vt::recorded_messages()) {
    EXPECT_EQ(m.module, "MacBin");
    EXPECT_EQ(m.severity, MACBIN_INFO);
    texts.push_back(m.text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "Start Macintosh Resources",
                       "Starting Resource vers number 1",
                       "Starting Resource TEST number 7 (seven)",
                       "Starting Resource FREF number 128",
                       "Starting Resource BNDL number 128 (Bundle)",
                       "End Macintosh Resources",
                   }));
  // A second group starts again.
  MacBinChannel *c = MacBin_OpenW(dir.file("c.bin").c_str(), name, "VARN", "TEXT");
  EXPECT_EQ(vt::count_messages("Start Macintosh Resources"), 2u);
  MacBin_Close(c);
}

TEST(WriterChannels, OutputSwitchesBetweenOpenFiles) {
  set_up_library();
  vt::TempDir dir;
  char name[] = "X";
  const std::string pa = dir.file("a.bin");
  const std::string pb = dir.file("b.bin");
  MacBinChannel *a = MacBin_OpenW(pa.c_str(), name, "VARN", "TEXT");
  put_text("A1");
  MacBinChannel *b = MacBin_OpenW(pb.c_str(), name, "VARN", "TEXT");
  put_text("B1");  // the newest file is current
  MacBin_AddResource(a, "");  // makes A current and ends its data fork
  EXPECT_EQ(MacChannel, a);
  EXPECT_EQ(outfile, a->file);
  MacBin_CompleteDataFork(b);
  EXPECT_EQ(MacChannel, b);
  MacBin_AddResource(a, "TEST 1 \"\" to-a");
  // A direct insertion goes to MacChannel's file and leaves the host's
  // current output where it was.
  MacBinChannel *c = MacBin_OpenW(dir.file("c.bin").c_str(), name, "VARN", "TEXT");
  TesselFile *c_file = outfile;
  EXPECT_EQ(insert_resource("TEST", 2, "", "also-a"), 0);
  EXPECT_EQ(outfile, c_file);
  put_text("C1");
  MacBin_Close(b);
  MacBin_Close(a);
  EXPECT_EQ(MacChannel, nullptr);
  MacBin_Close(c);
  EXPECT_EQ(outfile, nullptr);

  const MacBinaryFile fa = parse_file(pa);
  EXPECT_EQ(slice(fa.bytes, 128, fa.data_length), vt::bytes_of("A1"));
  EXPECT_EQ(get(fa, "TEST", 1).data, vt::bytes_of("to-a"));
  EXPECT_EQ(get(fa, "TEST", 2).data, vt::bytes_of("also-a"));
  const MacBinaryFile fb = parse_file(pb);
  EXPECT_EQ(slice(fb.bytes, 128, fb.data_length), vt::bytes_of("B1"));
  const MacBinaryFile fc = parse_file(dir.file("c.bin"));
  EXPECT_EQ(slice(fc.bytes, 128, fc.data_length), vt::bytes_of("C1"));
}

TEST(WriterChannels, DirectInsertionCompletesTheDataFork) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("direct.bin");
  char name[] = "X";
  EXPECT_EQ(insert_resource("TEST", 1, "", "x"), 1);  // no channel at all
  EXPECT_EQ(vt::count_messages("No open output channel"), 1u);
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  put_text("abc");
  MacChannel = ch;  // a host may name the channel itself
  EXPECT_EQ(insert_resource("TEST", 1, "direct", "payload"), 0);
  EXPECT_EQ(ch->data_length, 3);
  EXPECT_EQ(insert_resource("TEST", 2, nullptr, "~pascal"), 0);  // a literal Pascal string
  EXPECT_EQ(insert_resource("TEST", 3, "", "~"), 0);             // the tilde alone: 1 byte
  int32_t hook_calls = 0;
  static int32_t *calls = &hook_calls;
  ch->after_insert = [] { return ++*calls + 40; };
  EXPECT_EQ(insert_resource("TEST", 4, "", "hooked"), 41);
  EXPECT_EQ(insert_resource("NONE", 5, "", ""), 1);  // not inserted: no hook
  EXPECT_EQ(hook_calls, 1);
  ch->after_insert = nullptr;
  // Pascal strings say at most 255 characters: longer texts are cut to that.
  const std::string long_text(300, 'L');
  EXPECT_EQ(insert_resource("TEST", 6, "", ("~" + long_text).c_str()), 0);
  EXPECT_EQ(insert_resource("vers", 7, "", ("1.00 F 0 0/" + long_text + "/x").c_str()), 0);
  MacBin_Close(ch);
  MacBin_Close(nullptr);  // nothing to do

  const MacBinaryFile f = parse_file(path);
  EXPECT_EQ(slice(f.bytes, 128, 3), vt::bytes_of("abc"));
  EXPECT_EQ(f.rsrc_start, 256u);
  EXPECT_EQ(get(f, "TEST", 1).name.value(), "direct");
  EXPECT_EQ(get(f, "TEST", 1).data, vt::bytes_of("payload"));
  EXPECT_EQ(get(f, "TEST", 2).data, vt::concat({hex("06"), vt::bytes_of("pascal")}));
  EXPECT_EQ(get(f, "TEST", 3).data, hex("00"));
  EXPECT_EQ(get(f, "TEST", 6).data, vt::concat({hex("FF"), vt::bytes_of(long_text.substr(0, 255))}));
  EXPECT_EQ(get(f, "vers", 7).data,
            vt::concat({hex("01 00 80 00 00 00 FF"), vt::bytes_of(long_text.substr(0, 255)),
                        hex("01 78")}));
}

TEST(WriterChannels, NoChannelIsRefusedWithAMessage) {
  set_up_library();
  MacBin_AddResource(nullptr, "TEST 1 n x");
  MacBin_CompleteDataFork(nullptr);
  EXPECT_EQ(vt::count_messages("No open output channel"), 2u);
  EXPECT_EQ(MacChannel, nullptr);
  EXPECT_EQ(outfile, nullptr);
}

TEST(WriterChannels, NoMemoryForANameRefusesTheResource) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("names.bin");
  char name[] = "N";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  MacBin_AddResource(ch, "TEST 1 kept a");
  const size_t in_use = tessel_zone_in_use(MacIOControl.zone);
  tessel_zone_set_limit(MacIOControl.zone, in_use);  // no room for another name node
  const int32_t end_before = MacBin_GetPtrPos();
  MacBin_AddResource(ch, "TEST 2 new b");
  EXPECT_EQ(vt::count_messages("Out Of Memory (resource name): resource <TEST>, ID 2 not inserted"),
            1u);
  EXPECT_EQ(MacBin_GetPtrPos(), end_before);
  MacBin_AddResource(ch, "TEST 3 kept c");  // a known name needs no node
  MacBin_AddResource(ch, "TEST 4 \"\" d");   // nor does no name
  tessel_zone_set_limit(MacIOControl.zone, 0);
  MacBin_Close(ch);
  const MacBinaryFile f = parse_file(path);
  EXPECT_EQ(find(f, "TEST", 2), nullptr);
  EXPECT_EQ(get(f, "TEST", 3).name.value(), "kept");
  EXPECT_EQ(get(f, "TEST", 4).data, vt::bytes_of("d"));
}

// ---- Trace lines -------------------------------------------------------------------------

TEST(WriterTrace, LinesOfAWholeFile) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("trace.bin");
  char name[] = "Traced";
  debug_values.trace_flags = TRACE_CONDITION | TRACE_MSG | TRACE_INSERT;
  vt::CaptureStdout out;
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "APPL");
  MacBin_AddResource(ch, "vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0");
  MacBin_AddResource(ch, "vers 2 Second 1.00 F 0 0/1/2");
  MacBin_AddResource(ch, "FREF 128 \"\" APPL 128");
  MacBin_AddResource(ch, "BNDL Owner");
  MacBin_Close(ch);
  const std::string text = out.text();
  debug_values.trace_flags = 0;

  const size_t length = vt::read_file(path).size();
  EXPECT_EQ(text, "INSERT--> Initializing: FILE=" + path +
                      " CREATOR=VARN TYPE=APPL Apple=Traced\n\n"
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
                      std::to_string(length) + "\n");
}

TEST(WriterTrace, MissingMacintoshName) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("t.bin");
  char name[32] = "";
  debug_values.trace_flags = TRACE_MSG;
  vt::CaptureStdout out;
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "APPL");
  const std::string text = out.text();
  debug_values.trace_flags = 0;
  MacBin_Close(ch);
  EXPECT_EQ(text, "MSG--> No name for APPLE-file specified\nMSG--> File header created\n");
}

// ---- Write failures ------------------------------------------------------------------------

// A representative file: data fork, vers, a 100000-byte resource, an FREF
// (so also the owner and the bundle).  The big resource outgrows the 64 KiB
// file buffer, so its length word is patched by moving the file; every
// other length word is still buffered and patched in place.
void write_representative(const std::string &path) {
  char name[] = "Rep";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "APPL");
  ASSERT_NE(ch, nullptr);
  const Bytes data(300, 0x11);
  MacBin_PutBuf(data.data(), 300, 300);
  MacBin_AddResource(ch, "vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0");
  big_resource_bytes = 100000;
  MacBin_AddResource(ch, "BIG  2 Blob");
  MacBin_AddResource(ch, "FREF 128 \"\" APPL 128");
  MacBin_Close(ch);
}

// Closes a second file after the failure: it is removed too, and the
// messages are not given again.
void expect_second_file_removed(const vt::TempDir &dir) {
  char name[] = "Second";
  const std::string second = dir.file("second.bin");
  MacBinChannel *ch = MacBin_OpenW(second.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  EXPECT_EQ(MacBin_PutBuf("more", 4, 4), 1);  // output has stopped for the process
  MacBin_Close(ch);
  EXPECT_FALSE(vt::file_exists(second));
}

void expect_failure_reported_once() {
  EXPECT_EQ(vt::count_messages("Writing output file"), 1u);
  EXPECT_EQ(vt::count_messages("Removing output file(s)"), 1u);
  EXPECT_EQ(vt::count_messages("Please check file system !"), 1u);
  for (const vt::Message &m : vt::recorded_messages()) {
    if (m.text == "Writing output file" || m.text == "Removing output file(s)" ||
        m.text == "Please check file system !") {
      EXPECT_EQ(m.severity, MACBIN_SEVERE);
    }
  }
}

enum class Fault { kWrite, kSeek };
struct FaultCase {
  const char *where;
  Fault fault;
  // Budget from the sound file's layout: bytes accepted or seeks made
  // before the failing one.
  int64_t (*budget)(const MacBinaryFile &sound);
};

// Names the case in test listings (the default would print its bytes).
void PrintTo(const FaultCase &fault_case, std::ostream *os) { *os << fault_case.where; }

class WriterFailure : public testing::TestWithParam<FaultCase> {};

TEST_P(WriterFailure, FileRemovedAndReportedOnce) {
  set_up_library();
  vt::TempDir dir;
  const std::string sound_path = dir.file("sound.bin");
  write_representative(sound_path);
  const MacBinaryFile sound = parse_file(sound_path);
  ASSERT_TRUE(vt::recorded_messages().size() > 0);
  vt::recorded_messages().clear();

  const int64_t budget = GetParam().budget(sound);
  ASSERT_GE(budget, 0);
  if (GetParam().fault == Fault::kWrite) {
    tessel_fail_writes_after(budget, ENOSPC);
  } else {
    tessel_fail_seeks_after(budget, EIO);
  }
  const std::string path = dir.file("failing.bin");
  write_representative(path);
  tessel_fail_writes_after(-1, 0);
  tessel_fail_seeks_after(-1, 0);
  EXPECT_FALSE(vt::file_exists(path));
  EXPECT_EQ(MacIOControl.open_writers, 0);
  expect_failure_reported_once();
  expect_second_file_removed(dir);
  expect_failure_reported_once();
}

// Bytes handed to the file up to a position of the sound file: the bytes
// before it, plus 4 once the big resource's length word was written again
// (patches inside the buffer are not new bytes).  The close then writes the
// fork header twice (16 bytes each) and the MacBinary header (128 bytes),
// all three outside the buffer by then.
int64_t bytes_through(const MacBinaryFile &, size_t file_position, bool after_big_resource) {
  return static_cast<int64_t>(file_position) + (after_big_resource ? 4 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, WriterFailure,
    testing::Values(
        FaultCase{"Header", Fault::kWrite, [](const MacBinaryFile &f) {
                    return bytes_through(f, 50, false);
                  }},
        FaultCase{"DataFork", Fault::kWrite, [](const MacBinaryFile &f) {
                    return bytes_through(f, 128 + 299, false);
                  }},
        FaultCase{"DataForkPadding", Fault::kWrite, [](const MacBinaryFile &f) {
                    return bytes_through(f, 128 + 300, false);
                  }},
        FaultCase{"ResourceData", Fault::kWrite, [](const MacBinaryFile &f) {
                    const size_t blob = f.rsrc_start + 256 + get(f, "BIG ", 2).data_offset;
                    return bytes_through(f, blob + 4 + 500, false);
                  }},
        FaultCase{"Map", Fault::kWrite, [](const MacBinaryFile &f) {
                    return bytes_through(f, f.map_start + 40, true);
                  }},
        FaultCase{"HeaderCompletion", Fault::kWrite, [](const MacBinaryFile &f) {
                    return bytes_through(f, f.bytes.size(), true) + 16 + 16 + 127;
                  }},
        FaultCase{"LengthWordSeek", Fault::kSeek, [](const MacBinaryFile &) {
                    return int64_t{0};
                  }},
        FaultCase{"HeaderCompletionSeek", Fault::kSeek, [](const MacBinaryFile &) {
                    // The big resource's two moves, the fork header, its copy.
                    return int64_t{4};
                  }}),
    [](const testing::TestParamInfo<FaultCase> &case_info) { return std::string(case_info.param.where); });

TEST(WriterFailureBudget, HeaderCompletionBudgetMatchesTheSoundFile) {
  // The last position above is right only if a budget of exactly the
  // accepted bytes lets the file through: a check of the arithmetic.
  set_up_library();
  vt::TempDir dir;
  write_representative(dir.file("sound.bin"));
  const MacBinaryFile sound = parse_file(dir.file("sound.bin"));
  tessel_fail_writes_after(bytes_through(sound, sound.bytes.size(), true) + 16 + 16 + 128, ENOSPC);
  write_representative(dir.file("exact.bin"));
  EXPECT_TRUE(vt::file_exists(dir.file("exact.bin")));
  EXPECT_EQ(vt::count_messages("Writing output file"), 0u);
}

TEST(WriterFailure, FailureDuringTheDataForkEndsThePadding) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("stuck.bin");
  char name[] = "S";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  tessel_fail_writes_after(1, ENOSPC);
  EXPECT_EQ(MacBin_PutBuf("ab", 2, 2), 1);  // the second data byte fails
  MacBin_CompleteDataFork(ch);             // ends although the position stands still
  EXPECT_EQ(ch->data_length, 1);
  EXPECT_EQ(ch->rsrc_start, 256);
  MacBin_AddResource(ch, "TEST 1 \"\" x");
  MacBin_Close(ch);
  tessel_fail_writes_after(-1, 0);
  EXPECT_FALSE(vt::file_exists(path));
  expect_failure_reported_once();
}

TEST(WriterFailure, DataForkBeyondThirtyTwoBitFields) {
  set_up_library();
  vt::TempDir dir;
  const std::string path = dir.file("huge.bin");
  char name[] = "H";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  // A sparse jump to just under 2 GiB stands in for a data fork that long.
  ASSERT_EQ(MacBin_SetPtrPos(0x7FFFF000, 0), 0x7FFFF000);
  MacBin_PutByte(1);
  MacBin_Close(ch);
  EXPECT_EQ(vt::count_messages("Data fork too long"), 1u);
  EXPECT_FALSE(vt::file_exists(path));
  expect_failure_reported_once();
}

// The file-size limit of the system, in a child process (the failure flags
// are process-wide).  The child reports through its exit status.
int run_limited_child(const std::string &path, rlim_t limit, int32_t data_bytes) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit rl{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(90);
    char name[] = "Limited";
    MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
    if (ch == nullptr) _exit(91);
    const Bytes data(static_cast<size_t>(data_bytes), 0x22);
    MacBin_PutBuf(data.data(), data_bytes, data_bytes);
    MacBin_AddResource(ch, "vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0");
    MacBin_Close(ch);
    // A second file closed later goes as well, silently.
    const std::string second = path + ".second";
    ch = MacBin_OpenW(second.c_str(), name, "VARN", "TEXT");
    MacBin_Close(ch);
    int status = 0;
    if (access(path.c_str(), F_OK) == 0) status |= 1;
    if (access(second.c_str(), F_OK) == 0) status |= 2;
    if (vt::count_messages("Writing output file") != 1) status |= 4;
    if (vt::count_messages("Removing output file(s)") != 1) status |= 8;
    if (vt::count_messages("Please check file system !") != 1) status |= 16;
    _exit(status);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(WriterFailure, RealFileSizeLimit) {
  set_up_library();
  vt::TempDir dir;
  // Past the limit in the middle of a buffer flush of the data fork.
  EXPECT_EQ(run_limited_child(dir.file("big.bin"), 100000, 300000), 0);
  EXPECT_FALSE(vt::file_exists(dir.file("big.bin")));
  // A small file stays in the file buffer until the close (its length words
  // and headers are patched in place): the failure shows only at the final
  // flush, when the file is closed.
  EXPECT_EQ(run_limited_child(dir.file("small.bin"), 500, 1000), 0);
  EXPECT_FALSE(vt::file_exists(dir.file("small.bin")));
}

}  // namespace
