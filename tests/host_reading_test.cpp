// Reading for hosts: MacBin_GetFileInfo, MacBin_ReadDataFork and
// MacBin_ReadResourceData, on files from the writer, hand-made files of the
// other header variants, and hostile files.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

// A compact file with a repeated ID: 'STR ' 128 "One" = "a", 'STR ' 128
// (unnamed) = "bc", 'ICON' 5 = 00 FF, and a data fork "Hello".  The map
// lies a few bytes after the data, as some writers leave it.  Data fork at
// 0x80 (5 bytes), resource fork at 0x100 (0x7E bytes), resource data at
// 0x110, map at 0x128.
const Bytes kRepeatedId = hex(
    "00 04 44 65 6D 6F 00 00 00 00 00 00 00 00 00 00"  // 000 name "Demo"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 010
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 020
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 030
    "00 54 45 58 54 56 41 52 4E 01 00 00 00 00 00 00"  // 040 TEXT VARN, flags 0100
    "00 00 00 00 00 00 05 00 00 00 7E 00 00 00 00 00"  // 050 data fork 5, rsrc fork 0x7E
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 060
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 070
    "48 65 6C 6C 6F 00 00 00 00 00 00 00 00 00 00 00"  // 080 "Hello", padding
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 090
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 0A0
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 0B0
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 0C0
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 0D0
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 0E0
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 0F0
    "00 00 00 10 00 00 00 28 00 00 00 11 00 00 00 56"  // 100 fork: data 0x10, map 0x28, 0x11, 0x56
    "00 00 00 01 61 00 00 00 02 62 63 00 00 00 02 00"  // 110 "a" (0), "bc" (5), 00 FF (11)
    "FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 120 map at 128
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 130
    "00 1C 00 52 00 01 53 54 52 20 00 01 00 12 49 43"  // 140 lists 0x1C, 0x52; 2 types; STR 2 at 0x12; IC
    "4F 4E 00 00 00 2A 00 80 00 00 20 00 00 00 00 00"  // 150 ON 1 at 0x2A; 128 "One" data 0
    "00 00 00 80 FF FF 20 00 00 05 00 00 00 00 00 05"  // 160 128 unnamed data 5; 5
    "FF FF 00 00 00 0B 00 00 00 00 03 4F 6E 65"        // 170 unnamed, attributes 00, data 11; "One"
);
constexpr size_t kFirstStrRef = 0x156;  // file position of the first STR reference

class HostReading : public ::testing::Test {
 protected:
  void SetUp() override { vt::init_recording(); }
  void TearDown() override {
    for (MacBinChannel *channel : open_) MacBin_Close(channel);
  }

  MacBinChannel *open(const Bytes &bytes, const std::string &name = "file.bin") {
    const std::string path = dir_.file(name);
    vt::write_file(path, bytes);
    MacBinChannel *channel = MacBin_OpenR(path.c_str());
    if (channel != nullptr) open_.push_back(channel);
    return channel;
  }

  // A file from the writer, in `format`, with a data fork and one resource.
  Bytes written(int32_t format, uint16_t extra_flags = 0) {
    MacBin_SetFormat(format);
    char name[32] = "Report";
    const std::string path = dir_.file("written.bin");
    MacBinChannel *channel = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
    EXPECT_NE(channel, nullptr);
    if (channel == nullptr) return {};
    channel->finder.flags = static_cast<int16_t>(channel->finder.flags | extra_flags);
    MacBin_PutBuf("Hello, Mac\r", 11, 11);
    EXPECT_EQ(MacBin_AddProcessor("****", nullptr, write_param), 0);
    MacBin_AddResource(channel, "TEXT 128 \"Read Me\" some text");
    MacBin_Close(channel);
    MacBin_SetFormat(MACBIN_FORMAT_CLASSIC);
    return vt::read_file(path);
  }

  static int32_t write_param(MacBinChannel * /*channel*/, const char *param) {
    return MacBin_PutBuf(param, static_cast<int32_t>(std::strlen(param)),
                         static_cast<int32_t>(std::strlen(param)));
  }

  vt::TempDir dir_;
  std::vector<MacBinChannel *> open_;
};

MacBinFileInfo info_of(MacBinChannel *channel) {
  MacBinFileInfo info;
  std::memset(&info, 0x5A, sizeof info);  // every field must be set by the call
  EXPECT_EQ(MacBin_GetFileInfo(channel, &info), 1);
  return info;
}

Bytes resource_data(MacBinChannel *channel, const MacBinRefEntry *ref) {
  const int32_t length = MacBin_ReadResourceData(channel, ref, nullptr, 0);
  if (length < 0) return {0xEE};  // never a resource's data: shows the failure
  Bytes data(static_cast<size_t>(length));
  EXPECT_EQ(MacBin_ReadResourceData(channel, ref, data.data(), length), length);
  return data;
}

// ---- MacBin_GetFileInfo ---------------------------------------------------------

TEST_F(HostReading, FileInfoOfAMacBinaryIIFileFromTheWriter) {
  const uint32_t before = static_cast<uint32_t>(std::time(nullptr) + 2082844800);
  const Bytes file = written(MACBIN_FORMAT_II, 0x0020);
  MacBinChannel *channel = open(file);
  ASSERT_NE(channel, nullptr);
  const MacBinFileInfo info = info_of(channel);
  EXPECT_EQ(info.format, MACBIN_FORMAT_II);
  EXPECT_EQ(info.crc_state, 1);
  EXPECT_EQ(info.data_length, 11u);
  EXPECT_EQ(info.rsrc_length, vt::be32(file, 87));
  EXPECT_GE(info.created, before);
  EXPECT_LE(info.created, before + 5);
  EXPECT_EQ(info.modified, vt::be32(file, 95));
  // The inited flag from the writer, and the host's low-byte flag, which only
  // byte 101 of a MacBinary II header carries.
  EXPECT_EQ(info.finder_flags, 0x0120);
  EXPECT_STREQ(info.name, "Report");
  EXPECT_STREQ(info.type, "TEXT");
  EXPECT_STREQ(info.creator, "VARN");
  EXPECT_EQ(info.rsrc_state, 1);
  for (uint32_t word : info.reserved) EXPECT_EQ(word, 0u);
}

TEST_F(HostReading, FileInfoOfAClassicFileHasNoCrcAndNoLowFlagByte) {
  Bytes file = written(MACBIN_FORMAT_CLASSIC, 0x0020);
  file[101] = 0x77;  // part of the classic marker's field: never a flag byte here
  MacBinChannel *channel = open(file);
  ASSERT_NE(channel, nullptr);
  const MacBinFileInfo info = info_of(channel);
  EXPECT_EQ(info.format, MACBIN_FORMAT_CLASSIC);
  EXPECT_EQ(info.crc_state, -1);
  EXPECT_EQ(info.finder_flags, 0x0100);
}

TEST_F(HostReading, FileInfoTellsMacBinaryIIIAndABadCrc) {
  Bytes file = written(MACBIN_FORMAT_II);
  std::memcpy(file.data() + 102, "mBIN", 4);
  file[122] = 130;
  vt::store_header_crc(file);
  MacBinChannel *iii = open(file, "iii.bin");
  ASSERT_NE(iii, nullptr);
  EXPECT_EQ(info_of(iii).format, MACBIN_FORMAT_III);
  EXPECT_EQ(info_of(iii).crc_state, 1);

  file[124] ^= 0x01;
  MacBinChannel *damaged = open(file, "damaged.bin");
  ASSERT_NE(damaged, nullptr);
  EXPECT_EQ(info_of(damaged).format, MACBIN_FORMAT_III);
  EXPECT_EQ(info_of(damaged).crc_state, 0);
}

TEST_F(HostReading, FileInfoOfAFileWithoutResourceFork) {
  Bytes file = kRepeatedId;
  file.resize(0x100);
  file[0x57] = file[0x58] = file[0x59] = file[0x5A] = 0;  // no resource fork
  MacBinChannel *channel = open(file);
  ASSERT_NE(channel, nullptr);
  const MacBinFileInfo info = info_of(channel);
  EXPECT_EQ(info.format, MACBIN_FORMAT_CLASSIC);
  EXPECT_EQ(info.rsrc_state, 0);
  EXPECT_EQ(info.rsrc_length, 0u);
  char data[8] = {};
  EXPECT_EQ(MacBin_ReadDataFork(channel, 0, data, 8), 5);
  EXPECT_STREQ(data, "Hello");
  MacBinRefEntry foreign{};
  EXPECT_EQ(MacBin_ReadResourceData(channel, &foreign, nullptr, 0), -1);
}

TEST_F(HostReading, FileInfoRefusesWhatIsNoReadChannel) {
  MacBinFileInfo info;
  std::memset(&info, 0x5A, sizeof info);
  EXPECT_EQ(MacBin_GetFileInfo(nullptr, &info), 0);
  char name[32] = "";
  MacBinChannel *writing = MacBin_OpenW(dir_.file("w.bin").c_str(), name, "VARN", "TEXT");
  ASSERT_NE(writing, nullptr);
  EXPECT_EQ(MacBin_GetFileInfo(writing, &info), 0);
  EXPECT_EQ(MacBin_ReadDataFork(writing, 0, name, 1), -1);
  EXPECT_EQ(MacBin_ReadResourceData(writing, writing->refs, nullptr, 0), -1);
  MacBin_Close(writing);
  EXPECT_EQ(info.format, 0x5A5A5A5A);  // untouched

  MacBinChannel *reading = open(kRepeatedId);
  ASSERT_NE(reading, nullptr);
  EXPECT_EQ(MacBin_GetFileInfo(reading, nullptr), 0);
}

// ---- MacBin_ReadDataFork ----------------------------------------------------------

TEST_F(HostReading, DataForkOffsetsAndCounts) {
  MacBinChannel *channel = open(kRepeatedId);
  ASSERT_NE(channel, nullptr);
  struct Case {
    int64_t offset;
    int32_t count;
    int32_t result;
    const char *bytes;
  };
  const Case cases[] = {
      {0, 5, 5, "Hello"}, {1, 3, 3, "ell"},  {3, 100, 2, "lo"}, {5, 1, 0, ""},
      {0, 0, 0, ""},      {6, 1, -1, ""},    {-1, 1, -1, ""},   {0, -1, -1, ""},
      {INT64_MAX, 1, -1, ""},
  };
  for (const Case &c : cases) {
    char buffer[8] = {};
    EXPECT_EQ(MacBin_ReadDataFork(channel, c.offset, buffer, c.count), c.result)
        << "offset " << c.offset << " count " << c.count;
    EXPECT_STREQ(buffer, c.bytes) << "offset " << c.offset;
  }
  EXPECT_EQ(MacBin_ReadDataFork(channel, 0, nullptr, 1), -1);
  EXPECT_EQ(MacBin_ReadDataFork(channel, 0, nullptr, 0), 0);
}

TEST_F(HostReading, DataForkLongerThanTheFileRefusesTheFile) {
  Bytes file = kRepeatedId;
  file.resize(0x83);  // the header and three bytes of the data fork
  file[0x57] = file[0x58] = file[0x59] = file[0x5A] = 0;
  EXPECT_EQ(open(file), nullptr);
  ASSERT_EQ(vt::recorded_messages().size(), 1u);
  EXPECT_EQ(vt::recorded_messages()[0].text,
            "Data fork cut short: the file ends at 131, the data fork at 133");
  EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_ERROR);
}

// ---- Damaged resource forks -----------------------------------------------------------

// The header and the data fork of a file whose resource fork is cut or
// damaged, as a host reads them.
void expect_header_and_data_fork(MacBinChannel *channel, uint32_t rsrc_length) {
  const MacBinFileInfo info = info_of(channel);
  EXPECT_EQ(info.rsrc_state, -1);
  EXPECT_EQ(info.format, MACBIN_FORMAT_CLASSIC);
  EXPECT_STREQ(info.name, "Demo");
  EXPECT_STREQ(info.type, "TEXT");
  EXPECT_STREQ(info.creator, "VARN");
  EXPECT_EQ(info.finder_flags, 0x0100);
  EXPECT_EQ(info.data_length, 5u);
  EXPECT_EQ(info.rsrc_length, rsrc_length);
  char data[8] = {};
  EXPECT_EQ(MacBin_ReadDataFork(channel, 0, data, 8), 5);
  EXPECT_STREQ(data, "Hello");
  EXPECT_EQ(MacBin_ReadDataFork(channel, 4, data, 8), 1);
  EXPECT_EQ(data[0], 'o');
  EXPECT_EQ(MacBin_ReadDataFork(channel, 5, data, 8), 0);
  EXPECT_EQ(MacBin_ReadDataFork(channel, 6, data, 8), -1);
  EXPECT_EQ(MacBin_GetNrTypes(channel), 0);
  EXPECT_EQ(channel->types, nullptr);
  EXPECT_EQ(MacBin_CheckResource2(channel, "ICON", 5, nullptr), 0);
  MacBinRefEntry foreign{5, -1, nullptr, 0, 0};
  EXPECT_EQ(MacBin_ReadResourceData(channel, &foreign, nullptr, 0), -1);
  EXPECT_EQ(MacBin_ReadResourceData(channel, channel->refs, nullptr, 0), -1);
}

TEST_F(HostReading, CutResourceForkLeavesHeaderAndDataForkReadable) {
  // At the start of the fork, inside its header, inside the data, one byte
  // short of the end.
  for (size_t size : {size_t{0x100}, size_t{0x108}, size_t{0x118}, size_t{0x17D}}) {
    SCOPED_TRACE(std::to_string(size) + " bytes");
    vt::recorded_messages().clear();
    Bytes file = kRepeatedId;
    file.resize(size);
    MacBinChannel *channel = open(file, "cut-" + std::to_string(size) + ".bin");
    ASSERT_NE(channel, nullptr);
    ASSERT_EQ(vt::recorded_messages().size(), 1u);
    EXPECT_EQ(vt::recorded_messages()[0].text,
              "Resource fork cut short: the file ends at " + std::to_string(size) +
                  ", the resource fork at 382; no resources read");
    EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_WARNING);
    expect_header_and_data_fork(channel, 0x7E);
  }
  // A header claiming more resource fork than the file holds is the same.
  Bytes longer = kRepeatedId;
  longer[0x5A] = 0xFF;
  vt::recorded_messages().clear();
  MacBinChannel *channel = open(longer, "longer.bin");
  ASSERT_NE(channel, nullptr);
  expect_header_and_data_fork(channel, 0xFF);
  EXPECT_EQ(vt::count_messages("Resource fork cut short: the file ends at 382, the resource "
                               "fork at 511; no resources read"),
            1u);
}

TEST_F(HostReading, DamagedMapLeavesHeaderAndDataForkReadable) {
  Bytes file = kRepeatedId;
  file[0x140] = 0x7F;  // the type list offset points far past the map
  MacBinChannel *channel = open(file);
  ASSERT_NE(channel, nullptr);
  ASSERT_EQ(vt::recorded_messages().size(), 1u);
  EXPECT_EQ(vt::recorded_messages()[0].text,
            "Type list lies outside the resource map; no resources read");
  EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_WARNING);
  expect_header_and_data_fork(channel, 0x7E);
  int32_t offset = 0;
  int32_t length = 0;
  MacBin_GetResourceBlockParams(channel, &offset, &length);
  EXPECT_EQ(offset, 0x100);
  EXPECT_EQ(length, 0x7E);
}

// ---- MacBin_ReadResourceData --------------------------------------------------------

TEST_F(HostReading, EveryReferenceGivesItsOwnDataRepeatedIdsIncluded) {
  MacBinChannel *channel = open(kRepeatedId);
  ASSERT_NE(channel, nullptr);
  ASSERT_EQ(channel->type_count, 2);
  const MacBinTypeEntry &strs = channel->types[0];
  ASSERT_EQ(strs.count, 2);
  EXPECT_EQ(strs.refs[0].id, strs.refs[1].id);
  EXPECT_EQ(resource_data(channel, &strs.refs[0]), hex("61"));
  EXPECT_EQ(resource_data(channel, &strs.refs[1]), hex("62 63"));
  EXPECT_EQ(resource_data(channel, &channel->types[1].refs[0]), hex("00 FF"));

  // A buffer smaller than the resource gets its first bytes; the result is
  // still the whole length.
  uint8_t one = 0;
  EXPECT_EQ(MacBin_ReadResourceData(channel, &strs.refs[1], &one, 1), 2);
  EXPECT_EQ(one, 0x62);
  EXPECT_EQ(MacBin_ReadResourceData(channel, &strs.refs[1], nullptr, 1), -1);
  EXPECT_EQ(MacBin_ReadResourceData(channel, &strs.refs[1], &one, -1), -1);
}

TEST_F(HostReading, OnlyTheChannelsOwnReferencesAreRead) {
  MacBinChannel *channel = open(kRepeatedId);
  MacBinChannel *other = open(kRepeatedId, "other.bin");
  ASSERT_NE(channel, nullptr);
  ASSERT_NE(other, nullptr);
  const MacBinRefEntry *own = &channel->types[0].refs[0];
  MacBinRefEntry copy = *own;  // the same contents, but not the channel's
  EXPECT_EQ(MacBin_ReadResourceData(channel, &copy, nullptr, 0), -1);
  EXPECT_EQ(MacBin_ReadResourceData(channel, &other->types[0].refs[0], nullptr, 0), -1);
  EXPECT_EQ(MacBin_ReadResourceData(channel, nullptr, nullptr, 0), -1);
  // One past the last reference of the last type.
  const MacBinTypeEntry &last = channel->types[channel->type_count - 1];
  EXPECT_EQ(MacBin_ReadResourceData(channel, last.refs + last.count, nullptr, 0), -1);
  EXPECT_EQ(MacBin_ReadResourceData(channel, own, nullptr, 0), 1);
}

TEST_F(HostReading, LengthWordsAndDataOutsideTheForkAreRefused) {
  struct Case {
    const char *what;
    size_t at;
    Bytes bytes;
  };
  const Case cases[] = {
      // The first STR reference's data offset moved to the map's end.
      {"length word past the fork", kFirstStrRef + 5, hex("00 00 6C")},
      // The length word says more than the fork holds after it.
      {"data past the fork", 0x110, hex("00 00 01 00")},
      {"length word of 2 GiB", 0x110, hex("80 00 00 00")},
      {"length word of 4 GiB - 1", 0x110, hex("FF FF FF FF")},
  };
  for (const Case &c : cases) {
    Bytes file = kRepeatedId;
    std::copy(c.bytes.begin(), c.bytes.end(), file.begin() + static_cast<long>(c.at));
    MacBinChannel *channel = open(file, std::string(c.what) + ".bin");
    ASSERT_NE(channel, nullptr) << c.what;
    uint8_t buffer[16];
    EXPECT_EQ(MacBin_ReadResourceData(channel, &channel->types[0].refs[0], buffer, 16), -1)
        << c.what;
    // The other resources are still there.
    EXPECT_EQ(resource_data(channel, &channel->types[1].refs[0]), hex("00 FF")) << c.what;
  }
}

TEST_F(HostReading, ResourcesAreReadAsFarAsTheForkGoes) {
  // A header that gives the resource fork less than the map says: what lies
  // past its end is not the fork's.
  Bytes shorter = kRepeatedId;
  shorter[0x5A] = 0x1B;  // the fork ends right after STR's second resource
  MacBinChannel *short_fork = open(shorter, "short-fork.bin");
  ASSERT_NE(short_fork, nullptr);
  EXPECT_EQ(resource_data(short_fork, &short_fork->types[0].refs[1]), hex("62 63"));
  EXPECT_EQ(MacBin_ReadResourceData(short_fork, &short_fork->types[1].refs[0], nullptr, 0), -1);

  // A resource that ends past the end of the file.
  Bytes cut = kRepeatedId;
  cut[0x11E] = 0x7F;  // ICON's length word: 0x7F bytes
  MacBinChannel *short_file = open(cut, "cut.bin");
  ASSERT_NE(short_file, nullptr);
  EXPECT_EQ(MacBin_ReadResourceData(short_file, &short_file->types[1].refs[0], nullptr, 0), -1);
}

// The reading calls leave what the queries and read handlers rely on alone.
std::vector<std::string> &handler_log() {
  static std::vector<std::string> log;
  return log;
}
int32_t log_read(MacBinChannel *channel, int32_t /*data_pos*/, int32_t data_length) {
  handler_log().push_back(std::string(channel->cur_type) + " " + std::to_string(data_length));
  return 0;
}

TEST_F(HostReading, ReadingMovesNothingAndCallsNoHandler) {
  ASSERT_EQ(MacBin_AddProcessor("****", log_read, nullptr), 0);
  handler_log().clear();
  MacBinChannel *channel = open(kRepeatedId);
  ASSERT_NE(channel, nullptr);
  ASSERT_EQ(MacBin_GetResource2(channel, "ICON", 5, nullptr), 1);
  ASSERT_EQ(handler_log().size(), 1u);
  const int64_t position = fgetp(channel->file);
  const std::string cur_type = channel->cur_type;
  const int32_t cur_id = channel->cur_id;
  const char *cur_name = channel->cur_name;

  EXPECT_EQ(resource_data(channel, &channel->types[0].refs[1]), hex("62 63"));
  char data[5];
  EXPECT_EQ(MacBin_ReadDataFork(channel, 0, data, 5), 5);
  MacBinFileInfo info;
  EXPECT_EQ(MacBin_GetFileInfo(channel, &info), 1);

  EXPECT_EQ(fgetp(channel->file), position);
  EXPECT_EQ(fgetb(channel->file), 0x00);  // ICON's first byte, where the handler left it
  EXPECT_EQ(channel->cur_type, cur_type);
  EXPECT_EQ(channel->cur_id, cur_id);
  EXPECT_EQ(channel->cur_name, cur_name);
  EXPECT_EQ(handler_log().size(), 1u);
  EXPECT_TRUE(vt::recorded_messages().empty());
}

}  // namespace

// ---- MacBin_ListResources ---------------------------------------------------------

namespace {

std::string listed_bytes(const void *area, int32_t offset, int32_t length) {
  return std::string(static_cast<const char *>(area) + offset, static_cast<size_t>(length));
}

}  // namespace

TEST_F(HostReading, ListResourcesGivesEveryReferenceInMapOrder) {
  MacBinChannel *in = open(kRepeatedId);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(MacBin_ListResources(in, 0, nullptr, 0, nullptr, 0, nullptr, 0), 3);
  MacBinResourceListing list[4];
  char names[16];
  char data[16];
  ASSERT_EQ(MacBin_ListResources(in, 0, list, 4, names, sizeof names, data, sizeof data), 3);
  // STR  128 "One" = "a" (purgeable), STR  128 unnamed = "bc", ICON 5 = 00 FF (no attributes).
  EXPECT_EQ(list[0].ref, &in->types[0].refs[0]);
  EXPECT_EQ(std::string(list[0].type, 4), "STR ");
  EXPECT_EQ(list[0].id, 128);
  EXPECT_EQ(list[0].attributes, 0x20);
  EXPECT_EQ(list[0].length, 1);
  EXPECT_EQ(list[0].name_length, 3);
  EXPECT_EQ(listed_bytes(names, list[0].name_offset, 3), "One");
  EXPECT_EQ(listed_bytes(data, list[0].data_offset, 1), "a");
  EXPECT_EQ(list[1].ref, &in->types[0].refs[1]);
  EXPECT_EQ(list[1].name_length, -1);
  EXPECT_EQ(list[1].name_offset, -1);
  EXPECT_EQ(listed_bytes(data, list[1].data_offset, 2), "bc");
  EXPECT_EQ(std::string(list[2].type, 4), "ICON");
  EXPECT_EQ(list[2].id, 5);
  EXPECT_EQ(list[2].attributes, 0);
  EXPECT_EQ(listed_bytes(data, list[2].data_offset, 2), std::string("\x00\xFF", 2));
  EXPECT_EQ(list[2].data_offset, 3);  // one after the other
  EXPECT_TRUE(vt::recorded_messages().empty());
}

TEST_F(HostReading, ListResourcesInBatches) {
  MacBinChannel *in = open(kRepeatedId);
  ASSERT_NE(in, nullptr);
  MacBinResourceListing list[3];
  char names[3];  // "One" needs 4 bytes while it is copied: it is left out
  char data[3];   // "a" and "bc"; 00 FF does not fit
  ASSERT_EQ(MacBin_ListResources(in, 0, list, 3, names, sizeof names, data, sizeof data), 3);
  EXPECT_EQ(list[0].name_length, 3);
  EXPECT_EQ(list[0].name_offset, -1);
  EXPECT_EQ(list[0].data_offset, 0);
  EXPECT_EQ(list[1].data_offset, 1);
  EXPECT_EQ(list[2].length, 2);
  EXPECT_EQ(list[2].data_offset, -1);
  // From the second on, one at a time: the count is what is left.
  ASSERT_EQ(MacBin_ListResources(in, 1, list, 1, nullptr, 0, data, sizeof data), 2);
  EXPECT_EQ(list[0].ref, &in->types[0].refs[1]);
  EXPECT_EQ(listed_bytes(data, list[0].data_offset, 2), "bc");
  ASSERT_EQ(MacBin_ListResources(in, 2, list, 3, nullptr, 0, nullptr, 0), 1);
  EXPECT_EQ(list[0].ref, &in->types[1].refs[0]);
  EXPECT_EQ(list[0].data_offset, -1);
  EXPECT_EQ(MacBin_ListResources(in, 3, list, 3, nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(MacBin_ListResources(in, 70000, list, 3, nullptr, 0, nullptr, 0), 0);
}

TEST_F(HostReading, ListResourcesSkipsDataOutsideTheFork) {
  // The ICON's data offset (the 3 bytes after its attribute byte) points
  // far past the fork.
  Bytes bytes = kRepeatedId;
  bytes[0x173] = 0xFF;
  bytes[0x174] = 0xFF;
  MacBinChannel *in = open(bytes);
  ASSERT_NE(in, nullptr);
  MacBinResourceListing list[3];
  char data[16];
  ASSERT_EQ(MacBin_ListResources(in, 0, list, 3, nullptr, 0, data, sizeof data), 3);
  EXPECT_EQ(list[2].length, -1);
  EXPECT_EQ(list[2].data_offset, -1);
  EXPECT_EQ(list[1].data_offset, 1);
}

TEST_F(HostReading, ListResourcesRefusals) {
  MacBinChannel *in = open(kRepeatedId);
  ASSERT_NE(in, nullptr);
  MacBinResourceListing list[1];
  char area[4];
  EXPECT_EQ(MacBin_ListResources(nullptr, 0, list, 1, nullptr, 0, nullptr, 0), -1);
  EXPECT_EQ(MacBin_ListResources(in, -1, list, 1, nullptr, 0, nullptr, 0), -1);
  EXPECT_EQ(MacBin_ListResources(in, 0, nullptr, 1, nullptr, 0, nullptr, 0), -1);
  EXPECT_EQ(MacBin_ListResources(in, 0, list, -1, nullptr, 0, nullptr, 0), -1);
  EXPECT_EQ(MacBin_ListResources(in, 0, list, 1, nullptr, 4, nullptr, 0), -1);
  EXPECT_EQ(MacBin_ListResources(in, 0, list, 1, area, -1, nullptr, 0), -1);
  EXPECT_EQ(MacBin_ListResources(in, 0, list, 1, nullptr, 0, nullptr, 4), -1);
  // A writing channel is no reading one.
  char name[32] = "W";
  const std::string path = dir_.file("w.bin");
  MacBinChannel *out = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(MacBin_ListResources(out, 0, list, 1, nullptr, 0, nullptr, 0), -1);
  MacBin_Close(out);
  // A file without a resource fork lists nothing.
  vt::MacBinaryPlan plan;
  plan.resource_fork = false;
  plan.data_fork = vt::bytes_of("plain");
  MacBinChannel *plain = open(vt::build_macbinary(plan).bytes, "plain.bin");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(MacBin_ListResources(plain, 0, list, 1, nullptr, 0, nullptr, 0), 0);
}
