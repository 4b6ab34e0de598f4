// The MacBinary reader: MacBin_OpenR, the queries, MacBin_Close of a read
// channel, files from other writers and hostile files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/macbinary.hpp"
#include "reader/lookup_index.hpp"
#include "support/damaged_files.hpp"
#include "support/support.hpp"
#include "tessel/testing.h"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;
using vt::MbFormat;
using vt::patched;

// ---- Reading ----------------------------------------------------------------

// What a read handler saw.
struct HandlerCall {
  int32_t data_pos;
  int32_t data_length;
  int64_t file_pos;  // where the file stood when the handler was called
  Bytes data;        // the bytes it read there
  std::string cur_type;
  int32_t cur_id;
  std::string cur_name;
};

std::vector<HandlerCall> &handler_calls() {
  static std::vector<HandlerCall> calls;
  return calls;
}

int32_t record_read(MacBinChannel *channel, int32_t data_pos, int32_t data_length) {
  HandlerCall call{data_pos,
                   data_length,
                   fgetp(channel->file),
                   Bytes(static_cast<size_t>(data_length)),
                   channel->cur_type,
                   channel->cur_id,
                   channel->cur_name != nullptr ? channel->cur_name : "(null)"};
  if (data_length > 0) fgetm(channel->file, call.data.data(), data_length);
  handler_calls().push_back(call);
  return 0;
}

// Initialises with recording, and a read handler serving every type.
void init_reader() {
  vt::init_recording();
  handler_calls().clear();
  ASSERT_EQ(MacBin_AddProcessor("****", record_read, nullptr), 0);
}

std::string type_at(MacBinChannel *channel, int32_t index) {
  char buffer[5] = "????";
  MacBin_GetIndType(channel, buffer, index);
  return buffer;
}

// The data of a resource as its read handler receives it, or nullopt.
std::optional<Bytes> fetch(MacBinChannel *channel, const char *type, int32_t id,
                           const char *name = nullptr) {
  handler_calls().clear();
  if (MacBin_GetResource2(channel, type, id, name) != 1) return std::nullopt;
  if (handler_calls().size() != 1) return std::nullopt;
  return handler_calls()[0].data;
}

// The data MacBin_GetIndResource hands over, or nullopt.
std::optional<Bytes> fetch_by_index(MacBinChannel *channel, const char *type, int32_t index) {
  handler_calls().clear();
  if (MacBin_GetIndResource(channel, type, index) != 1 || handler_calls().size() != 1)
    return std::nullopt;
  return handler_calls()[0].data;
}

// A small file in the compact layout some writers use (resource data right
// after the 16-byte fork header): 'STR ' 128 "Hi" = "abc", 'vers' 1 unnamed
// = 01 00.  Resource fork at 128, map at 158.
const Bytes kSmallFile = hex(
    "00 04 44 65 6D 6F 00 00 00 00 00 00 00 00 00 00"  // 000 name "Demo"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 010
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 020
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 030
    "00 54 45 58 54 56 41 52 4E 21 00 00 00 00 00 00"  // 040 TEXT VARN, flags 2100
    "00 00 00 00 00 00 00 00 00 00 67 00 00 00 00 00"  // 050 data fork 0 (53), rsrc fork 103 (57)
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 060
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 070
    "00 00 00 10 00 00 00 1E 00 00 00 0E 00 00 00 49"  // 080 fork: data 16, map 30, 14, 73
    "00 00 00 03 61 62 63 00 00 00 02 01 00 00 00 00"  // 090 "abc" (90), 01 00 (97), pad; map 9E
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 0A0
    "00 00 00 00 00 00 00 1C 00 46 00 01 53 54 52 20"  // 0B0 lists at 28, 70; 2 types; STR
    "00 00 00 12 76 65 72 73 00 00 00 1E 00 80 00 00"  // 0C0 1 at 18; 'vers' 1 at 30; 128 "Hi" at 0
    "00 00 00 00 00 00 00 00 00 01 FF FF 20 00 00 07"  // 0D0 attrs 00, data at 0; 1 unnamed at 7
    "00 00 00 00 02 48 69"                             // 0E0 names: "Hi"
);
// File positions of the small file's map fields.
constexpr size_t kSmallMap = 0x9E;
constexpr size_t kSmallTypeCount = kSmallMap + 28;
constexpr size_t kSmallStrType = kSmallMap + 30;   // 'STR ' item
constexpr size_t kSmallVersType = kSmallMap + 38;  // 'vers' item
constexpr size_t kSmallStrRef = kSmallMap + 46;    // reference of STR 128
constexpr size_t kSmallVersRef = kSmallMap + 58;   // reference of vers 1
constexpr size_t kSmallNames = kSmallMap + 70;

// A fresh library with the recording read handler, and a directory for the
// files it opens.  Channels from open_ok are closed when the test ends.
class Reader : public ::testing::Test {
 protected:
  void SetUp() override { init_reader(); }
  void TearDown() override {
    for (MacBinChannel *channel : open_) MacBin_Close(channel);
  }
  MacBinChannel *open(const Bytes &bytes) {
    const std::string path = dir_.file("file.bin");
    vt::write_file(path, bytes);
    return MacBin_OpenR(path.c_str());
  }
  // A channel that must open: a refusal throws, which fails the test.
  MacBinChannel *open_ok(const Bytes &bytes) {
    MacBinChannel *channel = open(bytes);
    if (channel == nullptr) throw std::runtime_error("MacBin_OpenR refused the file");
    open_.push_back(channel);
    return channel;
  }
  MacBinChannel *open_ok(const vt::MacBinaryPlan &plan) {
    return open_ok(vt::build_macbinary(plan).bytes);
  }
  void close(MacBinChannel *channel) {
    open_.erase(std::find(open_.begin(), open_.end(), channel));
    MacBin_Close(channel);
  }
  vt::TempDir dir_;
  std::vector<MacBinChannel *> open_;
};
using ReaderOpen = Reader;
using ReaderQueries = Reader;
using ReaderClose = Reader;
using ReaderCorrupt = Reader;

// ---- Header and map -----------------------------------------------------------

TEST_F(ReaderOpen, SmallFileHeaderFieldsAndForkPositions) {
  MacBinChannel *const channel_before = MacChannel;
  TesselFile *const outfile_before = outfile;
  MacBinChannel *channel = open_ok(kSmallFile);
  EXPECT_TRUE(vt::recorded_messages().empty());
  // A read channel never becomes the current output.
  EXPECT_EQ(MacChannel, channel_before);
  EXPECT_EQ(outfile, outfile_before);
  EXPECT_EQ(channel->mode, 1);
  EXPECT_STREQ(channel->finder.name, "Demo");
  EXPECT_STREQ(channel->finder.type, "TEXT");
  EXPECT_STREQ(channel->finder.creator, "VARN");
  EXPECT_EQ(channel->finder.flags, 0x2100);
  EXPECT_EQ(channel->data_length, 0);
  EXPECT_EQ(channel->rsrc_offset, 0);
  EXPECT_EQ(channel->rsrc_start, 128);
  EXPECT_EQ(channel->rsrc_length, 103);
  EXPECT_EQ(channel->rdata_pos, 144);
  EXPECT_EQ(channel->map_pos, 158);
  EXPECT_EQ(channel->rdata_length, 14);
  EXPECT_EQ(channel->map_length, 73);
}

TEST_F(ReaderOpen, SmallFileTypeAndReferenceTables) {
  MacBinChannel *channel = open_ok(kSmallFile);
  ASSERT_EQ(channel->type_count, 2);
  const MacBinTypeEntry &str = channel->types[0];
  EXPECT_STREQ(str.type, "STR ");
  EXPECT_EQ(str.count, 1);
  EXPECT_EQ(str.ref_offset, 18);
  EXPECT_EQ(str.refs[0].id, 128);
  EXPECT_EQ(str.refs[0].name_offset, 0);
  ASSERT_NE(str.refs[0].name, nullptr);
  EXPECT_STREQ(str.refs[0].name->text, "Hi");
  EXPECT_EQ(str.refs[0].name->length, 2);
  EXPECT_EQ(str.refs[0].attributes, 0);
  EXPECT_EQ(str.refs[0].data_offset, 0);
  const MacBinTypeEntry &vers = channel->types[1];
  EXPECT_STREQ(vers.type, "vers");
  EXPECT_EQ(vers.ref_offset, 30);
  EXPECT_EQ(vers.refs[0].id, 1);
  EXPECT_EQ(vers.refs[0].name_offset, -1);
  EXPECT_EQ(vers.refs[0].attributes, 0x20);
  EXPECT_EQ(vers.refs[0].data_offset, 7);
  ASSERT_NE(channel->names, nullptr);
  EXPECT_EQ(channel->names->next, nullptr);
}

TEST_F(ReaderOpen, SmallFileHandlerReadsAtTheDataPosition) {
  MacBinChannel *channel = open_ok(kSmallFile);
  EXPECT_EQ(fetch(channel, "STR ", 128), vt::bytes_of("abc"));
  EXPECT_EQ(handler_calls()[0].data_pos, 148);
  EXPECT_EQ(handler_calls()[0].data_length, 3);
  EXPECT_EQ(handler_calls()[0].file_pos, 148);
  EXPECT_EQ(fetch(channel, "vers", 1), hex("01 00"));
  EXPECT_EQ(handler_calls()[0].data_pos, 155);
}

TEST_F(ReaderOpen, NoFileNameOrAbsentFileIsRefusedWithAMessage) {
  EXPECT_EQ(MacBin_OpenR(nullptr), nullptr);
  EXPECT_EQ(MacBin_OpenR(""), nullptr);
  EXPECT_EQ(MacBin_OpenR(dir_.file("absent.bin").c_str()), nullptr);
  ASSERT_EQ(vt::recorded_messages().size(), 3u);
  EXPECT_EQ(vt::count_messages("No filename specified"), 2u);
  EXPECT_EQ(vt::recorded_messages()[2].text,
            "Could not open input file (No such file or directory)");
  EXPECT_EQ(vt::recorded_messages()[2].severity, MACBIN_ERROR);
  EXPECT_EQ(vt::recorded_messages()[2].module, "MacBin");
}

TEST_F(ReaderOpen, FileTooShortForItsHeaderIsRefusedWithAMessage) {
  const size_t zone_before = vt::zone_in_use();
  for (size_t size : {size_t{0}, size_t{1}, size_t{83}, size_t{91}, size_t{127}}) {
    SCOPED_TRACE(std::to_string(size) + " bytes");
    vt::recorded_messages().clear();
    Bytes file = vt::slice(kSmallFile, 0, size);
    // Fork lengths of 0 do not make a whole file of the first 91 bytes.
    if (size >= 91) file = patched(file, 87, hex("00 00 00 00"));
    EXPECT_EQ(open(file), nullptr);
    ASSERT_EQ(vt::recorded_messages().size(), 1u);
    EXPECT_EQ(vt::recorded_messages()[0].text,
              "File too short for a MacBinary header (" + std::to_string(size) + " of 128 bytes)");
    EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_ERROR);
  }
  EXPECT_EQ(vt::zone_in_use(), zone_before);
}

// A file without a resource fork gives one notice, through the message
// method: nothing is written to the host's standard output.
void expect_only_the_no_resources_notice(const std::string &standard_output) {
  EXPECT_EQ(standard_output, "");
  ASSERT_EQ(vt::recorded_messages().size(), 1u);
  EXPECT_EQ(vt::recorded_messages()[0].text, "no resources in file");
  EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_INFO);
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_NONE);  // a notice, not a failure
}

TEST_F(ReaderOpen, TheHeaderAloneIsAWholeFileWithoutForks) {
  vt::CaptureStdout out;
  MacBin_ClearError();
  MacBinChannel *channel = open_ok(patched(vt::slice(kSmallFile, 0, 128), 87, hex("00 00 00 00")));
  expect_only_the_no_resources_notice(out.text());
  EXPECT_EQ(MacBin_GetNrTypes(channel), 0);
}

TEST_F(ReaderOpen, NoResourceForkGivesANoticeAndNoTypes) {
  vt::MacBinaryPlan plan;
  plan.resource_fork = false;
  plan.data_fork = vt::bytes_of("plain text");
  vt::CaptureStdout out;
  MacBin_ClearError();
  MacBinChannel *channel = open_ok(plan);
  expect_only_the_no_resources_notice(out.text());
  EXPECT_EQ(channel->types, nullptr);
  EXPECT_EQ(MacBin_GetNrTypes(channel), 0);
  EXPECT_EQ(MacBin_GetNrResources(channel, "TEXT"), 0);
  EXPECT_EQ(MacBin_GetResourceCount(channel, "TEXT", 0, 0), 0);
  EXPECT_EQ(MacBin_CheckResource2(channel, "TEXT", 0, nullptr), 0);
  EXPECT_EQ(MacBin_GetIndResource(channel, "TEXT", 0), 0);
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(MacBin_GetIndType(channel, buffer, 0), 0);
  EXPECT_EQ(std::string(buffer, 4), "xxxx");
  int32_t offset = -1;
  int32_t length = -1;
  MacBin_GetDataBlockParams(channel, &offset, &length);
  EXPECT_EQ(offset, 128);
  EXPECT_EQ(length, 10);
  MacBin_GetResourceBlockParams(channel, &offset, &length);
  EXPECT_EQ(offset, 256);
  EXPECT_EQ(length, 0);
}

TEST_F(ReaderOpen, ResourceForkFollowsDataForkRoundedTo128) {
  const std::pair<size_t, int32_t> cases[] = {
      {0, 128}, {1, 256}, {128, 256}, {129, 384}, {300, 512}};
  for (const auto &[data_size, rsrc_start] : cases) {
    SCOPED_TRACE(data_size);
    vt::MacBinaryPlan plan;
    plan.data_fork = vt::repeat(0xA5, data_size);
    plan.types = {{"vers", {{1, std::nullopt, hex("01 02 03")}}}};
    MacBinChannel *channel = open_ok(plan);
    int32_t offset = -1;
    int32_t length = -1;
    MacBin_GetDataBlockParams(channel, &offset, &length);
    EXPECT_EQ(offset, 128);
    EXPECT_EQ(length, static_cast<int32_t>(data_size));
    MacBin_GetResourceBlockParams(channel, &offset, &length);
    EXPECT_EQ(offset, rsrc_start);
    EXPECT_EQ(channel->rsrc_offset, rsrc_start - 128);
    EXPECT_EQ(fetch(channel, "vers", 1), hex("01 02 03"));
    close(channel);
  }
  EXPECT_TRUE(vt::recorded_messages().empty());
}

TEST_F(ReaderOpen, FinderInfoCopiedWholeAndLongMacNameCut) {
  // A length byte of 200: the name field holds 63 characters.
  Bytes file = kSmallFile;
  file[1] = 200;
  for (size_t i = 2; i < 65; ++i) file[i] = static_cast<uint8_t>('A' + i % 26);
  MacBinChannel *channel = open_ok(file);
  MacBinFinderInfo info;
  std::memset(&info, 0x5A, sizeof info);
  MacBin_GetFinderInfo(channel, &info);
  EXPECT_EQ(std::strlen(info.name), 63u);
  EXPECT_EQ(std::string(info.name, 63), std::string(reinterpret_cast<const char *>(&file[2]), 63));
  EXPECT_STREQ(info.type, "TEXT");
  EXPECT_STREQ(info.creator, "VARN");
  EXPECT_EQ(info.flags, 0x2100);
  EXPECT_EQ(std::memcmp(&info, &channel->finder, sizeof info), 0);
}

TEST_F(ReaderOpen, VersionBytesAndChecksumAreNotChecked) {
  for (MbFormat format : {MbFormat::kII, MbFormat::kIII}) {
    for (bool damaged : {false, true}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(format)) + (damaged ? " damaged" : ""));
      vt::MacBinaryPlan plan;
      plan.types = {{"vers", {{1, "v", hex("01")}}}};
      plan.format = format;
      if (damaged) plan.crc = 0xBAD0;
      vt::BuiltMacBinary file = vt::build_macbinary(plan);
      // The old version byte must be 0; 42 is no known writer.
      if (damaged) file.patch(0, hex("07")).patch(122, hex("2A"));
      MacBinChannel *channel = open_ok(file.bytes);
      EXPECT_EQ(fetch(channel, "vers", 0, "v"), hex("01"));
      EXPECT_EQ(channel->finder.flags, 0x0100);
      close(channel);
    }
  }
  EXPECT_TRUE(vt::recorded_messages().empty());
}

TEST_F(ReaderOpen, MapInForeignOrderWithSharedNameItems) {
  vt::MacBinaryPlan plan;
  plan.order = vt::MapOrder::kForeignOrder;
  plan.format = MbFormat::kII;
  plan.data_fork = vt::bytes_of("data");
  plan.types = {{"ICN#", {{128, "Doc", hex("11 22")}, {129, "App", hex("33")}}},
                {"FREF", {{128, "Doc", hex("44 55 66")}}},
                {"STR ", {{5, std::nullopt, {}}, {6, "App", hex("77")}}}};
  MacBinChannel *channel = open_ok(plan);
  EXPECT_EQ(channel->map_length, 28 + 8 + 2 + 24 + 60);
  ASSERT_EQ(MacBin_GetNrTypes(channel), 3);
  EXPECT_EQ(type_at(channel, 0), "ICN#");
  EXPECT_EQ(type_at(channel, 2), "STR ");
  EXPECT_EQ(fetch(channel, "ICN#", 0, "App"), hex("33"));
  EXPECT_EQ(fetch(channel, "FREF", 128), hex("44 55 66"));
  EXPECT_EQ(fetch(channel, "STR ", 5), Bytes{});
  EXPECT_EQ(fetch(channel, "STR ", 0, "App"), hex("77"));
  // One name item serves two references: one node for both.
  EXPECT_EQ(channel->types[0].refs[0].name, channel->types[1].refs[0].name);
  EXPECT_EQ(channel->types[0].refs[1].name, channel->types[2].refs[1].name);
  EXPECT_EQ(channel->types[0].refs[0].name_offset, 0);
  EXPECT_EQ(channel->types[1].refs[0].name_offset, 0);
  EXPECT_EQ(channel->types[2].refs[1].name_offset, 4);
}

// The record keeps the stored 16 bits; lookups take the signed ID users
// write as well, and ranges up to 32767 compare signed.
TEST_F(ReaderOpen, IdsAreStoredUnsignedAndLookedUpEitherWay) {
  MacBinChannel *channel = open_ok(patched(kSmallFile, kSmallVersRef, hex("F0 74")));  // -3980
  EXPECT_EQ(channel->types[1].refs[0].id, 61556);
  EXPECT_EQ(MacBin_CheckResource2(channel, "vers", 61556, nullptr), 1);
  EXPECT_EQ(MacBin_CheckResource2(channel, "vers", -3980, nullptr), 1);
  EXPECT_EQ(MacBin_CheckResource2(channel, "vers", -3981, nullptr), 0);
  EXPECT_EQ(MacBin_CheckResource2(channel, "vers", 61556 + 65536, nullptr), 0);
  EXPECT_EQ(MacBin_CheckResource2(channel, "vers", -32769, nullptr), 0);
  EXPECT_EQ(MacBin_GetResourceCount(channel, "vers", 0, 65535), 1);
  EXPECT_EQ(MacBin_GetResourceCount(channel, "vers", -3980, -3980), 1);
  EXPECT_EQ(MacBin_GetResourceCount(channel, "vers", -32768, -1), 1);
  EXPECT_EQ(MacBin_GetResourceCount(channel, "vers", 0, 32767), 0);
  EXPECT_EQ(MacBin_GetResourceCount(channel, "vers", 32768, 65535), 1);
  EXPECT_EQ(fetch(channel, "vers", 61556), hex("01 00"));
  EXPECT_EQ(fetch(channel, "vers", -3980), hex("01 00"));
  EXPECT_EQ(channel->cur_id, 61556);
}

TEST_F(ReaderOpen, EmptyNameIsNoName) {
  MacBinChannel *channel = open_ok(patched(kSmallFile, kSmallNames, hex("00")));  // "Hi" of length 0
  EXPECT_EQ(channel->types[0].refs[0].name_offset, -1);
  EXPECT_EQ(channel->types[0].refs[0].name, nullptr);  // never a pointer into the zone's filler
  EXPECT_EQ(channel->names, nullptr);
  EXPECT_EQ(MacBin_CheckResource2(channel, "STR ", 0, "Hi"), 0);
  EXPECT_EQ(MacBin_CheckResource2(channel, "STR ", 0, ""), 0);
  EXPECT_EQ(fetch(channel, "STR ", 128), vt::bytes_of("abc"));
  EXPECT_TRUE(vt::recorded_messages().empty());
}

TEST_F(ReaderOpen, NameWithANulEndsThere) {
  // "Hi" stored as 02 'H' 00: the node holds "H", as a C text would.
  MacBinChannel *channel = open_ok(patched(kSmallFile, kSmallNames + 2, hex("00")));
  EXPECT_STREQ(channel->types[0].refs[0].name->text, "H");
  EXPECT_EQ(channel->types[0].refs[0].name->length, 1);
  EXPECT_EQ(fetch(channel, "STR ", 0, "H"), vt::bytes_of("abc"));
}

TEST_F(ReaderOpen, TypeCountFFFFMeansNoTypes) {
  MacBinChannel *channel = open_ok(patched(kSmallFile, kSmallTypeCount, hex("FF FF")));
  EXPECT_EQ(MacBin_GetNrTypes(channel), 0);
  EXPECT_EQ(channel->types, nullptr);
  EXPECT_EQ(MacBin_CheckResource2(channel, "STR ", 128, nullptr), 0);
  EXPECT_TRUE(vt::recorded_messages().empty());
}

// TEXT 1 to 3 and PICT 1 share "same"; TEXT 3 and PICT 2 a 200-character name.
vt::MacBinaryPlan shared_names_file() {
  const std::string long_name(200, 'n');
  vt::MacBinaryPlan plan;
  plan.types = {
      {"TEXT", {{1, "same", hex("01")}, {2, "same", hex("02")}, {3, long_name, hex("03")}}},
      {"PICT", {{1, "same", hex("04")}, {2, long_name, hex("05")}}},
      {"snd ", {{1, "other", hex("06")}}}};
  return plan;
}

TEST_F(ReaderOpen, SharedNamesShareOneNode) {
  MacBinChannel *channel = open_ok(shared_names_file());
  const MacBinRefEntry *text = channel->types[0].refs;
  const MacBinRefEntry *pict = channel->types[1].refs;
  EXPECT_EQ(text[0].name, text[1].name);
  EXPECT_EQ(text[0].name, pict[0].name);
  EXPECT_EQ(text[2].name, pict[1].name);
  size_t nodes = 0;
  for (MacBinNameNode *node = channel->names; node != nullptr; node = node->next) ++nodes;
  EXPECT_EQ(nodes, 3u);
  // The name list offsets are the stored ones: each reference's own item.
  EXPECT_EQ(text[0].name_offset, 0);
  EXPECT_EQ(text[1].name_offset, 5);
  EXPECT_EQ(text[2].name_offset, 10);
}

TEST_F(ReaderOpen, LongNamesKeep127Characters) {
  MacBinChannel *channel = open_ok(shared_names_file());
  const std::string kept(127, 'n');
  EXPECT_EQ(channel->types[0].refs[2].name->length, 127);
  EXPECT_EQ(std::string(channel->types[0].refs[2].name->text), kept);
  EXPECT_EQ(MacBin_CheckResource2(channel, "TEXT", 0, kept.c_str()), 1);
  EXPECT_EQ(MacBin_CheckResource2(channel, "TEXT", 0, std::string(200, 'n').c_str()), 0);
  EXPECT_EQ(fetch(channel, "PICT", 0, kept.c_str()), hex("05"));
}

// ---- Queries ------------------------------------------------------------------

// Hosts learn names from the records and ask with the nodes' own texts: the
// answers are those for copies of the texts, also when asked again and again
// about one type (after the first question the answers come from that
// type's tables alone).
TEST_F(ReaderQueries, NodeTextsAnswerAsTheirCopies) {
  MacBinChannel *channel = open_ok(shared_names_file());
  const MacBinRefEntry *text = channel->types[0].refs;
  const char *other = channel->types[2].refs[0].name->text;
  EXPECT_EQ(fetch(channel, "PICT", 0, text[0].name->text), hex("04"));
  EXPECT_EQ(fetch(channel, "PICT", 0, text[2].name->text), hex("05"));
  EXPECT_EQ(fetch(channel, "TEXT", 0, text[1].name->text), hex("01"));  // the first "same"
  EXPECT_EQ(MacBin_CheckResource2(channel, "snd ", 0, text[0].name->text), 0);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(MacBin_CheckResource2(channel, "PICT", 0, text[0].name->text), 1);
    EXPECT_EQ(MacBin_CheckResource2(channel, "PICT", 0, text[2].name->text), 1);
    EXPECT_EQ(MacBin_CheckResource2(channel, "PICT", 0, other), 0);  // "other" names no PICT
    EXPECT_EQ(MacBin_CheckResource2(channel, "PICT", 2, nullptr), 1);
    EXPECT_EQ(MacBin_CheckResource2(channel, "PICT", 3, nullptr), 0);
  }
  // A pointer inside a node's text is another text.
  EXPECT_EQ(MacBin_CheckResource2(channel, "TEXT", 0, text[0].name->text + 1), 0);  // "ame"
  EXPECT_EQ(MacBin_CheckResource2(channel, "snd ", 0, other + 2), 0);              // "her"
}

// Two 'ICON' entries (the map repeats the type): first with IDs 1 and 2,
// second with 3, 4 and 5.  One 'snd ' with IDs 5, 5, 9 and 300.
vt::MacBinaryPlan repeated_type_file() {
  vt::MacBinaryPlan plan;
  plan.types = {
      {"ICON", {{1, "one", hex("01")}, {2, std::nullopt, hex("02")}}},
      {"snd ",
       {{5, "five", hex("51")},
        {5, "five again", hex("52")},
        {9, std::nullopt, {}},
        {300, std::nullopt, hex("53")}}},
      {"ICON", {{3, std::nullopt, hex("03")}, {4, "four", hex("04")}, {5, "one", hex("05")}}}};
  return plan;
}

TEST_F(ReaderQueries, RepeatedTypeIsAnsweredFromItsFirstEntry) {
  MacBinChannel *channel = open_ok(repeated_type_file());
  EXPECT_EQ(MacBin_GetNrTypes(channel), 3);
  EXPECT_EQ(type_at(channel, 2), "ICON");
  EXPECT_EQ(MacBin_GetNrResources(channel, "ICON"), 3);          // but this one: the last entry
  EXPECT_EQ(MacBin_GetResourceCount(channel, "ICON", 0, 0), 2);
  EXPECT_EQ(MacBin_CheckResource2(channel, "ICON", 2, nullptr), 1);
  EXPECT_EQ(MacBin_CheckResource2(channel, "ICON", 3, nullptr), 0);  // only in the second
  EXPECT_EQ(MacBin_CheckResource2(channel, "ICON", 0, "four"), 0);   // only in the second
  EXPECT_EQ(fetch(channel, "ICON", 0, "one"), hex("01"));            // the first entry's "one"
  // The same with the nodes' own texts, which name references of either entry.
  const MacBinRefEntry *second_icon = channel->types[2].refs;
  EXPECT_EQ(MacBin_CheckResource2(channel, "ICON", 0, second_icon[1].name->text), 0);  // "four"
  EXPECT_EQ(fetch(channel, "ICON", 0, second_icon[2].name->text), hex("01"));         // "one"
  // Index 2 exists only in the second entry; the fetch then looks its ID (5)
  // up in the first entry, which does not hold it.
  EXPECT_EQ(fetch_by_index(channel, "ICON", 1), hex("02"));
  EXPECT_EQ(fetch_by_index(channel, "ICON", 2), std::nullopt);
  EXPECT_EQ(fetch_by_index(channel, "ICON", 3), std::nullopt);
}

TEST_F(ReaderQueries, OfReferencesSharingAnIdTheFirstWins) {
  MacBinChannel *channel = open_ok(repeated_type_file());
  // By name the ID is ignored.
  EXPECT_EQ(fetch(channel, "snd ", 12345, "five again"), hex("52"));
  EXPECT_EQ(channel->cur_id, 5);
  EXPECT_EQ(fetch(channel, "snd ", 5), hex("51"));
  // By index: the second reference has ID 5 too, so the first is fetched.
  EXPECT_EQ(fetch_by_index(channel, "snd ", 1), hex("51"));
  EXPECT_EQ(MacBin_CheckResource2(channel, "snd ", 70000, nullptr), 0);
}

// ---- The lookup index ----------------------------------------------------------
// IDs in a short run go into a table indexed by the ID itself; scattered
// IDs into a hashed one.  Either way, of references sharing an ID the first
// in the map is the one found.
TEST_F(ReaderQueries, RepeatedIdFindsTheFirstInRunAndScatteredTables) {
  vt::MacBinaryPlan plan;
  plan.types = {{"snd ", {{1, std::nullopt, hex("A1")}, {2, std::nullopt, hex("A2")}, {1, std::nullopt, hex("A3")}}},
                {"PICT",
                 {{1000, std::nullopt, hex("B1")},
                  {30000, std::nullopt, hex("B2")},
                  {1000, std::nullopt, hex("B3")},
                  {65531, std::nullopt, hex("B4")},
                  {30000, std::nullopt, hex("B5")}}}};
  MacBinChannel *channel = open_ok(plan);
  EXPECT_EQ(fetch(channel, "snd ", 1), hex("A1"));
  EXPECT_EQ(fetch(channel, "snd ", 2), hex("A2"));
  EXPECT_EQ(fetch(channel, "PICT", 1000), hex("B1"));
  EXPECT_EQ(fetch(channel, "PICT", 30000), hex("B2"));
  EXPECT_EQ(fetch(channel, "PICT", -5), hex("B4"));
  EXPECT_EQ(MacBin_GetResourceCount(channel, "snd ", 1, 1), 2);
  EXPECT_EQ(MacBin_GetResourceCount(channel, "PICT", 1000, 1000), 2);
}

// Two different names that the index's name hash maps to one value, found
// by search (the hash reads names as machine words, so which names collide
// depends on the machine).
std::pair<std::string, std::string> names_that_hash_alike() {
  std::map<uint32_t, std::string> seen;
  char text[32];
  for (uint32_t i = 0; i < 4000000; ++i) {
    std::snprintf(text, sizeof text, "Sound %07u", i);
    const auto [at, added] = seen.emplace(name_hash(text), text);
    if (!added) return {at->second, text};
  }
  return {};
}

// Lookups by a text that is none of the channel's own name nodes probe the
// name table by hash: a name that merely hashes like a stored one is not it.
TEST_F(ReaderQueries, NamesThatHashAlikeAreToldApart) {
  const auto [first, second] = names_that_hash_alike();
  ASSERT_FALSE(first.empty()) << "no two names with the same hash found";
  ASSERT_NE(first, second);
  ASSERT_EQ(name_hash(first), name_hash(second));
  // Copies, so that the texts are not the channel's own.
  const std::string first_text = first;
  const std::string second_text = second;

  vt::MacBinaryPlan both;
  both.types = {{"snd ", {{1, first, hex("C1")}, {2, second, hex("C2")}, {3, "other", hex("C3")}}}};
  MacBinChannel *channel = open_ok(both);
  EXPECT_EQ(fetch(channel, "snd ", 0, second_text.c_str()), hex("C2"));
  EXPECT_EQ(channel->cur_id, 2);
  EXPECT_EQ(fetch(channel, "snd ", 0, first_text.c_str()), hex("C1"));
  EXPECT_EQ(MacBin_CheckResource2(channel, "snd ", 0, second_text.c_str()), 1);
  // The node texts answer too.
  const MacBinRefEntry *refs = channel->types[0].refs;
  EXPECT_EQ(fetch(channel, "snd ", 0, refs[1].name->text), hex("C2"));

  // Only the first stored: the second is not there.
  vt::MacBinaryPlan one;
  one.types = {{"snd ", {{1, first, hex("D1")}, {3, "other", hex("D3")}}}};
  MacBinChannel *alone = open_ok(one);
  EXPECT_EQ(MacBin_CheckResource2(alone, "snd ", 0, second_text.c_str()), 0);
  EXPECT_EQ(fetch(alone, "snd ", 0, second_text.c_str()), std::nullopt);
  EXPECT_EQ(fetch(alone, "snd ", 0, first_text.c_str()), hex("D1"));
  // Only the second stored: asking for the first finds nothing either.
  vt::MacBinaryPlan other;
  other.types = {{"snd ", {{2, second, hex("E2")}}}};
  MacBinChannel *second_only = open_ok(other);
  EXPECT_EQ(MacBin_CheckResource2(second_only, "snd ", 0, first_text.c_str()), 0);
  EXPECT_EQ(fetch(second_only, "snd ", 0, second_text.c_str()), hex("E2"));
}

TEST_F(ReaderQueries, NamesMatchWholeAndCaseSensitively) {
  MacBinChannel *channel = open_ok(repeated_type_file());
  EXPECT_EQ(MacBin_CheckResource2(channel, "snd ", 9, ""), 0);  // unnamed: "" is no name
  EXPECT_EQ(MacBin_CheckResource2(channel, "snd ", 9, "Five"), 0);
  EXPECT_EQ(MacBin_CheckResource2(channel, "snd ", 9, "fiv"), 0);
  EXPECT_EQ(MacBin_CheckResource2(channel, "snd ", 9, "five"), 1);
}

TEST_F(ReaderQueries, CountRangesAreInclusiveAndSigned) {
  MacBinChannel *channel = open_ok(repeated_type_file());
  const struct {
    const char *type;
    int32_t low, high, count;
  } cases[] = {{"snd ", 0, 0, 4},       // low = high = 0 counts everything
               {"snd ", 5, 5, 2},      {"snd ", 6, 9, 1},   {"snd ", 0, 65535, 4},
               {"snd ", 10, 9, 0},     {"snd ", -100, 8, 2}, {"PICT", 0, 0, 0}};
  for (const auto &c : cases)
    EXPECT_EQ(MacBin_GetResourceCount(channel, c.type, c.low, c.high), c.count)
        << c.type << " " << c.low << ".." << c.high;
  EXPECT_EQ(MacBin_GetNrResources(channel, "PICT"), 0);
}

TEST_F(ReaderQueries, TypeMatchingIsOverFourCharactersAndCaseSensitive) {
  vt::MacBinaryPlan plan;
  plan.types = {
      {std::string("ab\0\0", 4), {{1, std::nullopt, hex("01")}}},
      {"snd ", {{2, std::nullopt, hex("02")}}},
      {std::string("\0xyz", 4), {{3, std::nullopt, hex("03")}, {4, std::nullopt, hex("04")}}}};
  MacBinChannel *channel = open_ok(plan);
  EXPECT_EQ(MacBin_GetNrResources(channel, "ab"), 1);
  EXPECT_EQ(MacBin_GetNrResources(channel, "ab  "), 0);
  EXPECT_EQ(MacBin_GetNrResources(channel, "snd"), 0);
  EXPECT_EQ(MacBin_GetNrResources(channel, "snd extra"), 1);
  EXPECT_EQ(MacBin_GetNrResources(channel, "SND "), 0);
  EXPECT_EQ(fetch(channel, "ab", 1), hex("01"));
  // A type starting with a NUL is the empty text (found by the fuzzer: the
  // empty text once made an undefined 32-bit shift).
  EXPECT_EQ(MacBin_GetNrResources(channel, ""), 2);
  EXPECT_EQ(MacBin_GetResourceCount(channel, "", 4, 4), 1);
  EXPECT_EQ(MacBin_GetNrResources(channel, "x"), 0);
}

TEST_F(ReaderQueries, IndexesOutsideTheTablesFindNothing) {
  MacBinChannel *channel = open_ok(kSmallFile);
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(MacBin_GetIndType(channel, buffer, 0), 0);
  EXPECT_EQ(std::string(buffer, 4), "STR ");
  EXPECT_EQ(MacBin_GetIndType(channel, buffer, 1), 1);
  EXPECT_EQ(std::string(buffer, 4), "vers");
  std::memcpy(buffer, "xxxx", 4);
  for (int32_t index : {2, -1, INT32_MIN}) EXPECT_EQ(MacBin_GetIndType(channel, buffer, index), 0);
  EXPECT_EQ(std::string(buffer, 4), "xxxx");
  EXPECT_EQ(MacBin_GetIndResource(channel, "vers", -1), 0);
  EXPECT_EQ(MacBin_GetIndResource(channel, "vers", 1), 0);
  EXPECT_TRUE(handler_calls().empty());
}

TEST_F(ReaderQueries, CurrentResourceFieldsRecordTheRequestThenTheFind) {
  MacBinChannel *channel = open_ok(kSmallFile);
  // The request is recorded before anything is looked up.
  const char *asked = "nope";
  EXPECT_EQ(MacBin_GetResource2(channel, "STR ", 77, asked), 0);
  EXPECT_STREQ(channel->cur_type, "STR ");
  EXPECT_EQ(channel->cur_id, 77);
  EXPECT_EQ(channel->cur_name, asked);
  // Found: the resource's own ID and name, also for the handler.
  EXPECT_EQ(MacBin_GetResource2(channel, "STR ", 9, "Hi"), 1);
  EXPECT_EQ(channel->cur_id, 128);
  EXPECT_STREQ(channel->cur_name, "Hi");
  EXPECT_EQ(handler_calls().back().cur_id, 128);
  EXPECT_EQ(handler_calls().back().cur_name, "Hi");
  EXPECT_EQ(handler_calls().back().cur_type, "STR ");
  EXPECT_EQ(MacBin_GetResource2(channel, "vers", 1, nullptr), 1);
  ASSERT_NE(channel->cur_name, nullptr);
  EXPECT_STREQ(channel->cur_name, "");
  // A long type text is cut to the field's seven characters.
  EXPECT_EQ(MacBin_GetResource2(channel, std::string(64, 'T').c_str(), 1, nullptr), 0);
  EXPECT_STREQ(channel->cur_type, "TTTTTTT");
  EXPECT_EQ(channel->cur_id, 1);
  EXPECT_EQ(channel->cur_name, nullptr);
}

TEST(ReaderHandlers, NoReadHandlerMeansNoFetchButTheResourceExists) {
  vt::init_recording();
  handler_calls().clear();
  vt::TempDir dir;
  vt::write_file(dir.file("file.bin"), kSmallFile);
  MacBinChannel *channel = MacBin_OpenR(dir.file("file.bin").c_str());
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(MacBin_CheckResource2(channel, "STR ", 128, nullptr), 1);
  EXPECT_EQ(MacBin_GetResource2(channel, "STR ", 128, nullptr), 0);  // no processor at all
  ASSERT_EQ(MacBin_AddProcessor("STR ", nullptr, [](MacBinChannel *, const char *) { return 0; }),
            0);
  EXPECT_EQ(MacBin_GetResource2(channel, "STR ", 128, nullptr), 0);  // write handler only
  EXPECT_STREQ(channel->cur_type, "STR ");
  EXPECT_EQ(channel->cur_id, 128);
  EXPECT_EQ(channel->cur_name, nullptr);
  EXPECT_TRUE(handler_calls().empty());
  // A type's own read handler; the other type has none.
  ASSERT_EQ(MacBin_AddProcessor("STR ", record_read, nullptr), 0);
  EXPECT_EQ(fetch(channel, "STR ", 128), vt::bytes_of("abc"));
  EXPECT_EQ(fetch(channel, "vers", 1), std::nullopt);
  EXPECT_TRUE(vt::recorded_messages().empty());
  MacBin_Close(channel);
}

TEST_F(ReaderQueries, ZeroLengthDataStillCallsTheHandler) {
  vt::MacBinaryPlan plan;
  plan.types = {{"zero", {{0, std::nullopt, {}}}}};
  MacBinChannel *channel = open_ok(plan);
  EXPECT_EQ(fetch(channel, "zero", 0), Bytes{});
  EXPECT_EQ(handler_calls()[0].data_length, 0);
  EXPECT_EQ(handler_calls()[0].data_pos, 128 + 256 + 4);
}

TEST_F(ReaderQueries, NullArgumentsAreRefused) {
  EXPECT_EQ(MacBin_GetNrTypes(nullptr), 0);
  EXPECT_EQ(MacBin_GetNrResources(nullptr, "vers"), 0);
  EXPECT_EQ(MacBin_GetResource2(nullptr, "vers", 1, nullptr), 0);
  EXPECT_EQ(MacBin_CheckResource2(nullptr, "vers", 1, nullptr), 0);
  EXPECT_EQ(MacBin_GetResourceCount(nullptr, "vers", 0, 0), 0);
  EXPECT_EQ(MacBin_GetIndResource(nullptr, "vers", 0), 0);
  MacBin_GetFinderInfo(nullptr, nullptr);
  MacBinChannel *channel = open_ok(kSmallFile);
  EXPECT_EQ(MacBin_GetNrResources(channel, nullptr), 0);
  EXPECT_EQ(MacBin_CheckResource2(channel, nullptr, 1, nullptr), 0);
  EXPECT_EQ(MacBin_GetResource2(channel, nullptr, 1, nullptr), 0);
  EXPECT_STREQ(channel->cur_type, "");
  EXPECT_EQ(MacBin_GetIndType(channel, nullptr, 0), 0);
}

TEST_F(ReaderQueries, WritingChannelsAreLeftAlone) {
  // A writing channel's tables mean something else: the queries leave it
  // alone instead of reading them as a map.
  char apple_name[64] = "Writer";
  MacBinChannel *writer = MacBin_OpenW(dir_.file("w.bin").c_str(), apple_name, "VARN", "TEXT");
  ASSERT_NE(writer, nullptr);
  MacBin_CompleteDataFork(writer);
  ASSERT_EQ(insert_resource("STR ", 5, nullptr, "~text"), 0);
  std::memcpy(writer->cur_type, "keep", 5);
  EXPECT_EQ(MacBin_GetNrTypes(writer), 0);
  EXPECT_EQ(MacBin_GetNrResources(writer, "STR "), 0);
  EXPECT_EQ(MacBin_CheckResource2(writer, "STR ", 5, nullptr), 0);
  EXPECT_EQ(MacBin_GetResource2(writer, "STR ", 5, nullptr), 0);
  EXPECT_EQ(MacBin_GetIndResource(writer, "STR ", 0), 0);
  EXPECT_STREQ(writer->cur_type, "keep");
  MacBin_Close(writer);
}

// ---- Releasing ------------------------------------------------------------------

TEST_F(ReaderClose, GivesEverythingBackAndKeepsTheFile) {
  const size_t zone_before = vt::zone_in_use();
  MacBinChannel *channel = open_ok(repeated_type_file());
  EXPECT_GT(vt::zone_in_use(), zone_before);
  // A write failure earlier in the process must not make the reader remove
  // the file it read.
  {
    vt::ScratchOutput failing;
    vt::fail_writes_after(0, ENOSPC);
    EXPECT_EQ(MacBin_PutByte(1), 1);
    vt::clear_faults();
  }
  vt::recorded_messages().clear();
  close(channel);
  EXPECT_EQ(vt::zone_in_use(), zone_before);
  EXPECT_TRUE(vt::file_exists(dir_.file("file.bin")));
  EXPECT_TRUE(vt::recorded_messages().empty());
  EXPECT_EQ(MacIOControl.open_writers, 0);
}

TEST_F(ReaderClose, OutOfZoneIsReportedNotFatal) {
  const Bytes file = vt::build_macbinary(repeated_type_file()).bytes;
  const size_t zone_before = vt::zone_in_use();
  // Room for the channel and part of the map: each limit fails at another
  // allocation, and none may end the process or leak.
  MacBinChannel *probe = open_ok(file);
  const size_t needed = vt::zone_in_use() - zone_before;
  close(probe);
  size_t failures = 0;
  for (size_t limit = zone_before + 1; limit < zone_before + needed; limit += 8) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    vt::recorded_messages().clear();
    vt::limit_zone(limit);
    MacBinChannel *channel = open(file);
    vt::limit_zone(0);
    ASSERT_EQ(channel, nullptr);
    ASSERT_EQ(vt::recorded_messages().size(), 1u);
    const std::string &text = vt::recorded_messages()[0].text;
    EXPECT_TRUE(text == "Out Of Memory (reading resource map)" ||
                text == "Out Of Memory (in initialisation)")
        << text;
    EXPECT_EQ(vt::zone_in_use(), zone_before);
    ++failures;
  }
  EXPECT_GT(failures, 10u);
}

// ---- Round trips through the writer -----------------------------------------

struct ModelResource {
  std::string type;
  int32_t id;
  std::string name;  // empty: no name
  Bytes data;        // never empty: the writer does not keep empty resources
};

struct WrittenFile {
  std::string path;
  Bytes data_fork;
  std::vector<ModelResource> resources;  // in insertion order, the owner resource last
};

// The writer's start and progress notices arrive as INFO messages; anything
// more serious is a fault.
void expect_no_warnings() {
  for (const vt::Message &m : vt::recorded_messages()) {
    EXPECT_EQ(m.severity, MACBIN_INFO) << m.text;
  }
}

// Write handler: the parameter text is the data in hex.
int32_t write_hex_param(MacBinChannel *, const char *param) {
  const Bytes data = hex(param);
  MacBin_PutBuf(data.data(), static_cast<int32_t>(data.size()), static_cast<int32_t>(data.size()));
  return 0;
}

WrittenFile write_with_writer(const vt::TempDir &dir, const std::string &file_name, int32_t format,
                              const Bytes &data_fork, const std::vector<ModelResource> &resources) {
  WrittenFile written{dir.file(file_name), data_fork, resources};
  EXPECT_EQ(MacBin_SetFormat(format), 1);
  char apple_name[64] = "Round trip";
  MacBinChannel *channel = MacBin_OpenW(written.path.c_str(), apple_name, "VARN", "TEXT");
  EXPECT_NE(channel, nullptr);
  if (channel == nullptr) return written;
  EXPECT_EQ(MacBin_PutBuf(data_fork.data(), static_cast<int32_t>(data_fork.size()),
                          static_cast<int32_t>(data_fork.size())),
            0);
  MacBin_CompleteDataFork(channel);
  for (const ModelResource &r : resources) {
    EXPECT_EQ(insert_resource(r.type.c_str(), r.id, r.name.empty() ? nullptr : r.name.c_str(),
                              vt::to_hex(r.data).c_str()),
              0)
        << r.type << " " << r.id;
  }
  // The owner resource the writer adds on close: its text as a Pascal string.
  const std::string owner(channel->owner_text);
  Bytes owner_data{static_cast<uint8_t>(owner.size())};
  owner_data.insert(owner_data.end(), owner.begin(), owner.end());
  written.resources.push_back({"VARN", 0, "Owner resource", owner_data});
  MacBin_Close(channel);
  return written;
}

// Opens a written file and checks that every query answers what was written.
// hfsutils keeps the Finder flags of its volume, not ours: flags says which.
void expect_reads_back(const WrittenFile &written, const std::string &path,
                       int16_t flags = 0x0100) {
  SCOPED_TRACE(path);
  handler_calls().clear();
  MacBinChannel *channel = MacBin_OpenR(path.c_str());
  ASSERT_NE(channel, nullptr);
  EXPECT_STREQ(channel->finder.name, "Round trip");
  EXPECT_STREQ(channel->finder.type, "TEXT");
  EXPECT_STREQ(channel->finder.creator, "VARN");
  EXPECT_EQ(channel->finder.flags, flags);
  int32_t offset = 0;
  int32_t length = 0;
  MacBin_GetDataBlockParams(channel, &offset, &length);
  ASSERT_EQ(length, static_cast<int32_t>(written.data_fork.size()));
  const Bytes file = vt::read_file(path);
  EXPECT_EQ(vt::slice(file, static_cast<size_t>(offset), static_cast<size_t>(length)),
            written.data_fork);

  // Types in order of first appearance, resources in insertion order.
  std::vector<std::string> types;
  std::map<std::string, std::vector<const ModelResource *>> by_type;
  for (const ModelResource &r : written.resources) {
    if (by_type[r.type].empty()) types.push_back(r.type);
    by_type[r.type].push_back(&r);
  }
  ASSERT_EQ(MacBin_GetNrTypes(channel), static_cast<int32_t>(types.size()));
  for (int32_t t = 0; t < static_cast<int32_t>(types.size()); ++t) {
    const std::string &type = types[static_cast<size_t>(t)];
    const auto &expected = by_type[type];
    EXPECT_EQ(type_at(channel, t), type);
    const auto count = static_cast<int32_t>(expected.size());
    EXPECT_EQ(MacBin_GetNrResources(channel, type.c_str()), count);
    EXPECT_EQ(MacBin_GetResourceCount(channel, type.c_str(), 0, 0), count);
    const MacBinTypeEntry &entry = channel->types[t];
    ASSERT_EQ(entry.count, count);
    std::map<std::string, const ModelResource *> first_named;
    for (size_t r = 0; r < expected.size(); ++r) {
      const ModelResource &m = *expected[r];
      EXPECT_EQ(entry.refs[r].id, m.id);
      if (m.name.empty()) {
        EXPECT_EQ(entry.refs[r].name_offset, -1);
      } else {
        ASSERT_NE(entry.refs[r].name_offset, -1);
        EXPECT_EQ(std::string(entry.refs[r].name->text), m.name);
        first_named.emplace(m.name, &m);
      }
      EXPECT_EQ(MacBin_CheckResource2(channel, type.c_str(), m.id, nullptr), 1);
      EXPECT_EQ(fetch(channel, type.c_str(), m.id), m.data) << type << " " << m.id;
      EXPECT_EQ(std::string(channel->cur_name), m.name);
      EXPECT_EQ(fetch_by_index(channel, type.c_str(), static_cast<int32_t>(r)), m.data);
    }
    for (const auto &[name, m] : first_named) {
      EXPECT_EQ(fetch(channel, type.c_str(), -5, name.c_str()), m->data) << type << " " << name;
      EXPECT_EQ(channel->cur_id, m->id);
    }
  }
  MacBin_Close(channel);
}

Bytes pattern(size_t size, uint8_t seed) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(seed + i * 7);
  return out;
}

std::vector<ModelResource> mixed_resources() {
  return {{"STR ", 0, "zero", pattern(3, 1)},
          {"STR ", 32767, "", pattern(1, 2)},
          {"ICN#", 128, "shared", pattern(256, 3)},
          {"STR ", 128, "shared", pattern(2, 4)},
          {"ICN#", 129, "", pattern(128, 5)},
          {"PICT", 1000, std::string(127, 'p'), pattern(1000, 6)},
          {"snd ", 5, "shared", pattern(9, 7)}};
}

TEST(ReaderRoundTrip, WriterFilesInBothFormatsAndEveryDataForkSize) {
  init_reader();
  ASSERT_EQ(MacBin_AddProcessor("****", record_read, write_hex_param), 0);
  vt::TempDir dir;
  for (int32_t format : {MACBIN_FORMAT_CLASSIC, MACBIN_FORMAT_II}) {
    for (size_t data_size : {size_t{0}, size_t{1}, size_t{128}, size_t{129}}) {
      const std::string name =
          "f" + std::to_string(format) + "_" + std::to_string(data_size) + ".bin";
      const WrittenFile written =
          write_with_writer(dir, name, format, pattern(data_size, 9), mixed_resources());
      expect_reads_back(written, written.path);
    }
  }
  expect_no_warnings();
}

TEST(ReaderRoundTrip, OwnerResourceAloneAfterTheForkHeader) {
  init_reader();
  ASSERT_EQ(MacBin_AddProcessor("****", record_read, write_hex_param), 0);
  vt::TempDir dir;
  const WrittenFile written = write_with_writer(dir, "empty.bin", MACBIN_FORMAT_CLASSIC, {}, {});
  expect_reads_back(written, written.path);
  MacBinChannel *channel = MacBin_OpenR(written.path.c_str());
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(channel->rsrc_start, 128);
  EXPECT_EQ(channel->map_pos - channel->rsrc_start, channel->rsrc_length - channel->map_length);
  EXPECT_EQ(channel->types[0].ref_offset, 10);
  MacBin_Close(channel);
  expect_no_warnings();
}

// The writer's whole capacity: 63 types of 64 resources and the owner
// resource's type, with random IDs, names (some shared, some absent) and data.
TEST(ReaderRoundTrip, RandomFilesOverTheWritersWholeCapacity) {
  init_reader();
  ASSERT_EQ(MacBin_AddProcessor("****", record_read, write_hex_param), 0);
  vt::TempDir dir;
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    std::vector<std::string> name_pool;
    for (int i = 0; i < 400; ++i) {
      std::string name(1 + below(14), ' ');
      for (char &c : name) c = static_cast<char>(0x21 + below(0x5E));
      name_pool.push_back(name);
    }
    std::vector<std::string> types;
    while (types.size() < 63) {
      std::string type(4, ' ');
      for (char &c : type) c = static_cast<char>(0x20 + below(0x5F));
      if (type != "VARN" && std::find(types.begin(), types.end(), type) == types.end()) {
        types.push_back(type);
      }
    }
    std::vector<ModelResource> resources;
    for (const std::string &type : types) {
      std::vector<int32_t> ids;
      while (ids.size() < 64) {
        const auto id = static_cast<int32_t>(below(32768));
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
      }
      for (int32_t id : ids) {
        const std::string name = below(4) == 0 ? "" : name_pool[below(400)];
        resources.push_back(
            {type, id, name, pattern(1 + below(40), static_cast<uint8_t>(below(256)))});
      }
    }
    // Insertion order interleaves the types.
    std::shuffle(resources.begin(), resources.end(), random);
    const WrittenFile written =
        write_with_writer(dir, "full.bin", seed % 2 + 1, pattern(below(300), 1), resources);
    expect_reads_back(written, written.path);
  }
  expect_no_warnings();
}

// A file that has been through another program: hfsutils decodes our
// MacBinary II file into an HFS volume and writes its own MacBinary II file
// from it.
TEST(ReaderRoundTrip, FileRewrittenByHfsutils) {
  const std::string hformat = vt::require_peer("hformat", "hfsutils");
  if (hformat.empty()) GTEST_SKIP() << "hfsutils not installed";
  init_reader();
  ASSERT_EQ(MacBin_AddProcessor("****", record_read, write_hex_param), 0);
  vt::TempDir dir;
  const WrittenFile written =
      write_with_writer(dir, "ours.bin", MACBIN_FORMAT_II, pattern(300, 2), mixed_resources());
  const std::string quoted_dir = "'" + dir.path().string() + "'";
  // hfsutils keeps its current volume in $HOME/.hcwd.
  const std::string env = "cd " + quoted_dir + " && HOME=" + quoted_dir + " ";
  std::string output;
  ASSERT_EQ(vt::run_command(env + "dd if=/dev/zero of=volume.hfs bs=1024 count=1600", &output), 0)
      << output;
  ASSERT_EQ(vt::run_command(env + "hformat -l Peer volume.hfs", &output), 0) << output;
  ASSERT_EQ(vt::run_command(env + "hcopy -m ours.bin :", &output), 0) << output;
  ASSERT_EQ(vt::run_command(env + "hcopy -m ':Round trip' theirs.bin", &output), 0) << output;
  vt::run_command(env + "humount", &output);

  const Bytes ours = vt::read_file(written.path);
  const Bytes theirs = vt::read_file(dir.file("theirs.bin"));
  ASSERT_GE(theirs.size(), 128u);
  EXPECT_EQ(theirs[122], 129);  // hfsutils' own MacBinary II header
  const auto their_flags = static_cast<int16_t>(vt::be16(theirs, 73));
  expect_reads_back(written, dir.file("theirs.bin"), their_flags);

  // Same forks byte for byte, wherever each writer put them.
  MacBinChannel *a = MacBin_OpenR(written.path.c_str());
  MacBinChannel *b = MacBin_OpenR(dir.file("theirs.bin").c_str());
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  auto fork = [](const Bytes &file, int32_t offset, int32_t length) {
    return vt::slice(file, static_cast<size_t>(offset), static_cast<size_t>(length));
  };
  int32_t offset_a = 0, length_a = 0, offset_b = 0, length_b = 0;
  MacBin_GetResourceBlockParams(a, &offset_a, &length_a);
  MacBin_GetResourceBlockParams(b, &offset_b, &length_b);
  EXPECT_EQ(fork(ours, offset_a, length_a), fork(theirs, offset_b, length_b));
  MacBin_Close(a);
  MacBin_Close(b);
  expect_no_warnings();
}

// ---- Hostile files ------------------------------------------------------------
// A file too short for its data fork is refused: null, exactly one error with
// its text, and nothing of the channel left in the zone.  A resource fork
// that the file does not wholly hold, or a map with any part outside its
// place, is not used at all: the file opens without resources, with
// rsrc_state -1 and exactly one warning saying what was not read.

// Eight types of one reference each, all claiming the eight references of
// the first list: 64 references from a 190-byte map.
Bytes overlapping_reference_lists() {
  vt::MacBinaryPlan plan;
  for (int t = 0; t < 8; ++t)
    plan.types.push_back({"TP0" + std::to_string(t), {{1, std::nullopt, hex("01")}}});
  vt::BuiltMacBinary file = vt::build_macbinary(plan);
  for (size_t item : file.at.type_items) file.patch(item + 4, hex("00 07 00 42"));
  return file.bytes;
}

TEST_F(ReaderCorrupt, DataForkOutsideTheFileRefusesIt) {
  const struct {
    const char *what;
    Bytes file;
    std::string text;
  } cases[] = {
      {"data fork past 32-bit positions", patched(kSmallFile, 83, hex("FF FF FF 80")),
       "Fork length in MacBinary header out of range"},
      {"data fork of 256 bytes in a file of 231",
       patched(kSmallFile, 83, hex("00 00 01 00")),
       "Data fork cut short: the file ends at 231, the data fork at 384"},
      {"data fork one byte longer than the file holds",
       patched(vt::slice(kSmallFile, 0, 200), 83, hex("00 00 00 49")),
       "Data fork cut short: the file ends at 200, the data fork at 201"},
  };
  const size_t zone_before = vt::zone_in_use();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    vt::recorded_messages().clear();
    MacBinChannel *channel = open(c.file);
    EXPECT_EQ(channel, nullptr);
    if (channel != nullptr) MacBin_Close(channel);
    ASSERT_EQ(vt::recorded_messages().size(), 1u);
    EXPECT_EQ(vt::recorded_messages()[0].module, "MacBin");
    EXPECT_EQ(vt::recorded_messages()[0].text, c.text);
    EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_ERROR);
    EXPECT_EQ(vt::zone_in_use(), zone_before);
  }
  // The data fork ending exactly at the end of the file is whole.
  vt::recorded_messages().clear();
  MacBinChannel *channel = open_ok(patched(kSmallFile, 83, hex("00 00 00 67 00 00 00 00")));
  int32_t offset = -1;
  int32_t length = -1;
  MacBin_GetDataBlockParams(channel, &offset, &length);
  EXPECT_EQ(length, 103);
  ASSERT_EQ(vt::recorded_messages().size(), 1u);  // the notice of a file without resources
  EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_INFO);
}

// Every query of a channel that has no resources, as the reader answers for
// a file whose resource fork it did not read.
void expect_no_resources(MacBinChannel *channel) {
  EXPECT_EQ(channel->type_count, 0);
  EXPECT_EQ(channel->types, nullptr);
  EXPECT_EQ(channel->names, nullptr);
  EXPECT_EQ(channel->rdata_pos, 0);
  EXPECT_EQ(channel->map_pos, 0);
  EXPECT_EQ(channel->rdata_length, 0);
  EXPECT_EQ(channel->map_length, 0);
  EXPECT_EQ(MacBin_GetNrTypes(channel), 0);
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(MacBin_GetIndType(channel, buffer, 0), 0);
  EXPECT_EQ(std::string(buffer, 4), "xxxx");
  handler_calls().clear();
  for (const char *type : {"STR ", "vers", "TP00"}) {
    EXPECT_EQ(MacBin_GetNrResources(channel, type), 0);
    EXPECT_EQ(MacBin_GetResourceCount(channel, type, 0, 0), 0);
    EXPECT_EQ(MacBin_GetResourceCount(channel, type, 0, 65535), 0);
    EXPECT_EQ(MacBin_CheckResource2(channel, type, 128, nullptr), 0);
    EXPECT_EQ(MacBin_CheckResource2(channel, type, 1, nullptr), 0);
    EXPECT_EQ(MacBin_CheckResource2(channel, type, 0, "Hi"), 0);
    EXPECT_EQ(MacBin_GetResource2(channel, type, 128, nullptr), 0);
    EXPECT_EQ(MacBin_GetResource2(channel, type, 0, "Hi"), 0);
    EXPECT_EQ(MacBin_GetIndResource(channel, type, 0), 0);
  }
  EXPECT_TRUE(handler_calls().empty());
  MacBinFileInfo info{};
  ASSERT_EQ(MacBin_GetFileInfo(channel, &info), 1);
  EXPECT_EQ(info.rsrc_state, -1);
  MacBinRefEntry foreign{128, -1, nullptr, 0, 0};
  EXPECT_EQ(MacBin_ReadResourceData(channel, &foreign, nullptr, 0), -1);
  EXPECT_EQ(MacBin_ReadResourceData(channel, nullptr, nullptr, 0), -1);
}

TEST_F(ReaderCorrupt, DamagedResourceForkOpensWithoutResources) {
  const std::string not_read = "; no resources read";
  const std::string map_outside = "Resource map lies outside the file" + not_read;
  const std::string data_outside = "Resource data lies outside the file" + not_read;
  const std::string type_list = "Type list lies outside the resource map" + not_read;
  const std::string type_count = "Type count does not fit the resource map" + not_read;
  const std::string ref_list = "Reference list lies outside the resource map" + not_read;
  const std::string name = "Resource name lies outside the resource map" + not_read;
  const struct {
    const char *what;
    Bytes file;
    std::string text;
  } cases[] = {
      // The resource fork is cut.
      {"resource fork past 32-bit positions", patched(kSmallFile, 87, hex("80 00 00 00")),
       "Resource fork cut short: the file ends at 231, the resource fork at 2147483776" +
           not_read},
      {"fork header cut short", vt::slice(kSmallFile, 0, 140),
       "Resource fork cut short: the file ends at 140, the resource fork at 231" + not_read},
      {"file ends inside the map", vt::slice(kSmallFile, 0, kSmallFile.size() - 1),
       "Resource fork cut short: the file ends at 230, the resource fork at 231" + not_read},
      {"file ends right after the data fork", vt::slice(patched(kSmallFile, 83, hex("00 00 00 01")), 0, 129),
       "Resource fork cut short: the file ends at 129, the resource fork at 359" + not_read},
      // The fork is whole, its header or map is not.
      {"map length past the end", patched(kSmallFile, 128 + 12, hex("00 00 00 4A")), map_outside},
      {"map offset past the end", patched(kSmallFile, 128 + 4, hex("00 00 00 1F")), map_outside},
      {"map offset wrapping 32 bits", patched(kSmallFile, 128 + 4, hex("FF FF FF F0")),
       map_outside},
      {"map length wrapping 32 bits", patched(kSmallFile, 128 + 12, hex("FF FF FF FF")),
       map_outside},
      {"data area length past the end", patched(kSmallFile, 128 + 8, hex("00 00 00 80")),
       data_outside},
      {"data area offset past the end", patched(kSmallFile, 128, hex("80 00 00 00")),
       data_outside},
      {"map shorter than its header", patched(kSmallFile, 128 + 12, hex("00 00 00 1B")),
       "Resource map too short" + not_read},
      {"type list past the map", patched(kSmallFile, kSmallMap + 24, hex("FF F0")), type_list},
      {"count field half in the map", patched(kSmallFile, kSmallMap + 24, hex("00 48")),
       type_list},
      // Offsets read as signed 16-bit would point before the map.
      {"type list offset FFFE", patched(kSmallFile, kSmallMap + 24, hex("FF FE")), type_list},
      {"name list offset 8000", patched(kSmallFile, kSmallMap + 26, hex("80 00")), name},
      {"reference list offset FFF4", patched(kSmallFile, kSmallStrType + 6, hex("FF F4")),
       ref_list},
      {"type count FFFE", patched(kSmallFile, kSmallTypeCount, hex("FF FE")), type_count},
      {"type count 6", patched(kSmallFile, kSmallTypeCount, hex("00 05")), type_count},
      {"65536 references", patched(kSmallFile, kSmallStrType + 4, hex("FF FF")), ref_list},
      {"two references, room for one", patched(kSmallFile, kSmallVersType + 4, hex("00 01")),
       ref_list},
      {"reference list past the map", patched(kSmallFile, kSmallVersType + 6, hex("00 24")),
       ref_list},
      {"overlapping reference lists", overlapping_reference_lists(),
       "Reference counts do not fit the resource map" + not_read},
      // Found while the type table and the names are being built: what was
      // built goes back.
      {"name offset past the map", patched(kSmallFile, kSmallStrRef + 2, hex("00 03")), name},
      {"name longer than the map", patched(kSmallFile, kSmallNames, hex("03")), name},
      {"name list past the map", patched(kSmallFile, kSmallMap + 26, hex("00 49")), name},
  };
  const size_t zone_before = vt::zone_in_use();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    vt::recorded_messages().clear();
    MacBinChannel *channel = open(c.file);
    ASSERT_NE(channel, nullptr);
    ASSERT_EQ(vt::recorded_messages().size(), 1u);
    EXPECT_EQ(vt::recorded_messages()[0].module, "MacBin");
    EXPECT_EQ(vt::recorded_messages()[0].text, c.text);
    EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_WARNING);
    expect_no_resources(channel);
    // The header is read as it stands.
    EXPECT_STREQ(channel->finder.type, "TEXT");
    MacBinFileInfo info{};
    ASSERT_EQ(MacBin_GetFileInfo(channel, &info), 1);
    EXPECT_EQ(info.rsrc_length, vt::be32(c.file, 87));
    int32_t offset = -1;
    int32_t length = -1;
    MacBin_GetResourceBlockParams(channel, &offset, &length);
    EXPECT_EQ(offset, channel->rsrc_start);
    EXPECT_EQ(length, static_cast<int32_t>(std::min<uint32_t>(info.rsrc_length, 0x7FFFFFFF)));
    EXPECT_EQ(vt::recorded_messages().size(), 1u);  // the queries report nothing
    MacBin_Close(channel);
    EXPECT_EQ(vt::zone_in_use(), zone_before);
  }
}

const Bytes kForkPastItsLength = vt::fork_past_its_length();

TEST_F(ReaderCorrupt, MapRunningPastTheForkIntoThePaddingIsReadWithAWarning) {
  MacBin_ClearError();
  MacBinChannel *channel = open_ok(kForkPastItsLength);
  ASSERT_EQ(vt::recorded_messages().size(), 1u);
  EXPECT_EQ(vt::recorded_messages()[0].text,
            "Resource fork runs past its length: its map ends 73 bytes after its start, its length is 70 bytes");
  EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_WARNING);
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_DAMAGED);
  MacBinFileInfo info{};
  ASSERT_EQ(MacBin_GetFileInfo(channel, &info), 1);
  EXPECT_EQ(info.rsrc_state, 1);
  EXPECT_EQ(info.rsrc_length, 70u);
  EXPECT_EQ(channel->map_pos + channel->map_length - channel->rsrc_start, 73);
  EXPECT_EQ(fetch(channel, "STR ", 128), vt::bytes_of("abc"));
  // The fork is as long as the header says, not as far as the map goes.
  Bytes fork(80, 0xEE);
  ASSERT_EQ(MacBin_ReadResourceFork(channel, 0, fork.data(), 80), 70);
  fork.resize(70);
  EXPECT_EQ(fork, vt::slice(kForkPastItsLength, 128, 70));
}

TEST_F(ReaderCorrupt, AForkThatHoldsItsMapExactlyGivesNoWarning) {
  for (const auto &[length, warned] : {std::pair{0x48, true}, std::pair{0x49, false}}) {
    vt::recorded_messages().clear();
    MacBinChannel *channel = open_ok(patched(kForkPastItsLength, 0x5A, Bytes{static_cast<uint8_t>(length)}));
    EXPECT_EQ(vt::recorded_messages().size(), warned ? 1u : 0u) << length;
    EXPECT_EQ(fetch(channel, "STR ", 128), vt::bytes_of("abc"));
    close(channel);
  }
}

TEST_F(ReaderCorrupt, AFileOpenedDamagedReadsLikeAnyOtherAfterwards) {
  // The discarded map leaves nothing behind that a later channel could meet.
  MacBinChannel *damaged = open_ok(patched(kSmallFile, kSmallNames, hex("03")));
  const std::string path = dir_.file("sound.bin");
  vt::write_file(path, kSmallFile);
  MacBinChannel *sound = MacBin_OpenR(path.c_str());
  ASSERT_NE(sound, nullptr);
  EXPECT_EQ(MacBin_GetNrTypes(sound), 2);
  EXPECT_EQ(fetch(sound, "STR ", 0, "Hi"), vt::bytes_of("abc"));
  EXPECT_EQ(MacBin_CheckResource2(damaged, "STR ", 0, "Hi"), 0);
  MacBin_Close(sound);
}

TEST_F(ReaderCorrupt, NameListOffsetIsOnlyCheckedWhenANameIsRead) {
  // No reference has a name: a name list offset past the map harms nothing.
  MacBinChannel *channel =
      open(patched(patched(kSmallFile, kSmallStrRef + 2, hex("FF FF")), kSmallMap + 26, hex("FF FF")));
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(MacBin_GetNrTypes(channel), 2);
  MacBin_Close(channel);
}

TEST_F(ReaderCorrupt, ResourceDataPastEndRefusesTheFetchOnly) {
  const std::pair<size_t, Bytes> cases[] = {
      {kSmallStrRef + 5, hex("FF FF FF")},  // data offset far past the end
      {kSmallStrRef + 5, hex("00 00 55")},  // length word beyond the end
      {0x90, hex("00 00 10 00")},           // length far past the end
      {0x90, hex("7F FF FF FF")},           // largest length
      {0x90, hex("FF FF FF FF")},           // negative length
  };
  for (const auto &[pos, bytes] : cases) {
    SCOPED_TRACE(vt::to_hex(bytes) + " at " + std::to_string(pos));
    vt::recorded_messages().clear();
    handler_calls().clear();
    MacBinChannel *channel = open(patched(kSmallFile, pos, bytes));
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(MacBin_CheckResource2(channel, "STR ", 128, nullptr), 1);
    EXPECT_EQ(MacBin_GetResource2(channel, "STR ", 128, nullptr), 0);
    EXPECT_TRUE(handler_calls().empty());
    ASSERT_EQ(vt::recorded_messages().size(), 1u);
    EXPECT_EQ(vt::recorded_messages()[0].text, "Resource data lies outside the file");
    // The other resource is still there.
    EXPECT_EQ(fetch(channel, "vers", 1), hex("01 00"));
    MacBin_Close(channel);
  }
}

}  // namespace
