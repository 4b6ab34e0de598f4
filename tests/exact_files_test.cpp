// Files carried exactly: resources from memory with any attribute byte, no
// bytes and long names, no Finder resources added, the map's attributes,
// the whole Finder information, and the MacBinary II secondary header.
// Written through the writer and read back through the reader's public
// calls, in every container the writer makes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

constexpr int32_t kWrittenFormats[] = {MACBIN_FORMAT_CLASSIC, MACBIN_FORMAT_II, MACBIN_FORMAT_APPLESINGLE,
                                       MACBIN_FORMAT_APPLEDOUBLE, MACBIN_FORMAT_BINHEX};

class ExactFiles : public ::testing::TestWithParam<int32_t> {
 protected:
  void SetUp() override { vt::init_recording(); }
  void TearDown() override {
    if (reader_ != nullptr) MacBin_Close(reader_);
    MacBin_SetFormat(MACBIN_FORMAT_CLASSIC);
  }

  MacBinChannel *open_writer(const char *creator = "VARN") {
    MacBin_SetFormat(GetParam());
    char name[32] = "Exact";
    MacBinChannel *channel = MacBin_OpenW(path().c_str(), name, creator, "TEXT");
    EXPECT_NE(channel, nullptr);
    return channel;
  }

  MacBinChannel *reopen() {
    reader_ = MacBin_OpenR(path().c_str());
    EXPECT_NE(reader_, nullptr);
    return reader_;
  }

  std::string path() const { return dir_.file("exact.out"); }

  vt::TempDir dir_;
  MacBinChannel *reader_ = nullptr;
};

struct ReadResource {
  std::string type;
  int32_t id;
  int32_t attributes;
  std::string name;
  Bytes data;
};

std::vector<ReadResource> resources_of(MacBinChannel *channel) {
  std::vector<ReadResource> out;
  for (int32_t t = 0; t < MacBin_GetNrTypes(channel); ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    for (int32_t r = 0; r < entry.count; ++r) {
      const MacBinRefEntry *ref = &entry.refs[r];
      char name[256];
      EXPECT_GE(MacBin_GetResourceName(channel, ref, name, sizeof name), 0);
      const int32_t length = MacBin_ReadResourceData(channel, ref, nullptr, 0);
      Bytes data(static_cast<size_t>(std::max(length, 0)));
      EXPECT_EQ(MacBin_ReadResourceData(channel, ref, data.data(), length), length);
      out.push_back({std::string(entry.type, 4), static_cast<int16_t>(ref->id), ref->attributes, name, data});
    }
  }
  return out;
}

TEST_P(ExactFiles, ResourcesFromMemoryComeBackAsGiven) {
  MacBinChannel *ch = open_writer();
  ASSERT_EQ(MacBin_SetFinderResources(ch, 0), 0);
  MacBin_PutBuf("data", 4, 4);
  const std::string long_name(200, 'n');
  EXPECT_EQ(MacBin_AddResourceData(ch, "STR", -3980, long_name.c_str(), 0x00, "\x02hi", 3), 0);
  EXPECT_EQ(MacBin_AddResourceData(ch, "STR ", -3980, nullptr, 0x21, "\x01x", 2), 0);  // repeated ID
  EXPECT_EQ(MacBin_AddResourceData(ch, "zero", 0, "", 0x58, nullptr, 0), 0);          // no bytes
  MacBin_Close(ch);
  for (const vt::Message &message : vt::recorded_messages()) {
    if (message.severity >= MACBIN_WARNING) ADD_FAILURE() << message.text;
  }

  MacBinChannel *in = reopen();
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(in, &info), 1);
  EXPECT_EQ(info.data_length, 4u);
  const std::vector<ReadResource> got = resources_of(in);
  ASSERT_EQ(got.size(), 3u);  // no owner resource, no bundle
  EXPECT_EQ(got[0].type, "STR ");
  EXPECT_EQ(got[0].id, -3980);
  EXPECT_EQ(got[0].attributes, 0x00);
  EXPECT_EQ(got[0].name, long_name);
  EXPECT_EQ(got[0].data, hex("02 68 69"));
  EXPECT_EQ(in->types[0].refs[0].name->length, MACBIN_MAX_NAME_LENGTH);  // the node keeps 127
  EXPECT_EQ(got[1].id, -3980);
  EXPECT_EQ(got[1].attributes, 0x21);
  EXPECT_EQ(got[1].name, "");
  EXPECT_EQ(got[1].data, hex("01 78"));
  EXPECT_EQ(got[2].type, "zero");
  EXPECT_EQ(got[2].attributes, 0x58);
  EXPECT_TRUE(got[2].data.empty());
}

TEST_P(ExactFiles, NoFinderResourcesAndNoResourcesIsNoResourceFork) {
  MacBinChannel *ch = open_writer();
  ASSERT_EQ(MacBin_SetFinderResources(ch, 0), 0);
  MacBin_PutBuf("only data", 9, 9);
  MacBin_Close(ch);
  MacBinChannel *in = reopen();
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(in, &info), 1);
  EXPECT_EQ(info.rsrc_length, 0u);
  EXPECT_EQ(info.rsrc_state, 0);
  EXPECT_EQ(info.data_length, 9u);
  if (GetParam() == MACBIN_FORMAT_II) {
    EXPECT_EQ(vt::read_file(path()).size(), 256u);  // the header, the data fork padded
  }
}

TEST_P(ExactFiles, MapAttributesAndFinderInformationAreKept) {
  MacBinChannel *ch = open_writer();
  const Bytes finder = hex("41 50 50 4C 4D 41 43 53 21 00 00 10 00 20 00 07"   // APPL MACS, flags, place, folder
                           "00 80 00 00 00 00 00 00 01 02 00 00 00 00 00 05");  // FXInfo
  ASSERT_EQ(MacBin_SetFinderInfoBytes(ch, finder.data()), 0);
  ASSERT_EQ(MacBin_SetMapAttributes(ch, 0x0180), 0);
  MacBin_Close(ch);  // the owner resource goes under the new creator
  MacBinChannel *in = reopen();
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(in, &info), 1);
  EXPECT_EQ(info.map_attributes, 0x0180u);
  EXPECT_STREQ(info.type, "APPL");
  EXPECT_STREQ(info.creator, "MACS");
  EXPECT_EQ(MacBin_CheckResource2(in, "MACS", 0, nullptr), 1);
  Bytes got(32);
  ASSERT_EQ(MacBin_GetFinderInfoBytes(in, got.data()), 1);
  Bytes expected = finder;
  switch (GetParam()) {
    case MACBIN_FORMAT_APPLESINGLE:
    case MACBIN_FORMAT_APPLEDOUBLE: break;  // the whole block
    case MACBIN_FORMAT_BINHEX:             // type, creator and flags only
      std::fill(expected.begin() + 10, expected.end(), 0);
      break;
    default:  // MacBinary: FInfo whole, no FXInfo; classic headers hold no low flag byte
      std::fill(expected.begin() + 16, expected.end(), 0);
      if (GetParam() == MACBIN_FORMAT_CLASSIC) expected[9] = 0;
      break;
  }
  EXPECT_EQ(vt::to_hex(got), vt::to_hex(expected));
}

TEST_P(ExactFiles, ACopiedBundleIsNotBuiltAgain) {
  ASSERT_EQ(MacBin_AddProcessor("FREF", nullptr, add_FREF), 0);
  ASSERT_EQ(MacBin_AddProcessor("Bndl", nullptr, close_BNDL), 0);
  MacBinChannel *ch = open_writer();
  MacBin_AddResource(ch, "FREF 128 \"\" TEXT 128");
  EXPECT_EQ(MacBin_AddResourceData(ch, "BNDL", 128, nullptr, 0x20, "given", 5), 0);
  MacBin_Close(ch);
  MacBinChannel *in = reopen();
  EXPECT_EQ(MacBin_GetNrResources(in, "BNDL"), 1);
  const std::vector<ReadResource> got = resources_of(in);
  for (const ReadResource &r : got) {
    if (r.type == "BNDL") {
      EXPECT_EQ(r.data, vt::bytes_of("given"));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWrittenFormat, ExactFiles, ::testing::ValuesIn(kWrittenFormats));

TEST(ExactFilesWriter, RefusalsAreReportedAndLeaveTheFileSound) {
  vt::init_recording();
  vt::TempDir dir;
  char name[32] = "R";
  MacBinChannel *ch = MacBin_OpenW(dir.file("r.bin").c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  const std::string too_long(256, 'x');
  EXPECT_EQ(MacBin_AddResourceData(ch, "", 1, nullptr, 0, "a", 1), 1);
  EXPECT_EQ(MacBin_AddResourceData(ch, "TOOLONG", 1, nullptr, 0, "a", 1), 1);
  EXPECT_EQ(MacBin_AddResourceData(ch, "STR ", 32768, nullptr, 0, "a", 1), 1);
  EXPECT_EQ(MacBin_AddResourceData(ch, "STR ", 1, too_long.c_str(), 0, "a", 1), 1);
  EXPECT_EQ(MacBin_AddResourceData(ch, "STR ", 1, nullptr, 256, "a", 1), 1);
  EXPECT_EQ(MacBin_AddResourceData(ch, "STR ", 1, nullptr, 0, nullptr, 1), 1);
  EXPECT_EQ(vt::count_messages("Resource <STR >, ID 1 not inserted: the name must be at most 255 characters"), 1u);
  EXPECT_EQ(vt::count_messages("Resource <STR >, ID 32768 not inserted: the ID must be -32768 to 32767"), 1u);
  // Too late to leave the fork out once the data fork has ended.
  MacBin_CompleteDataFork(ch);
  EXPECT_EQ(MacBin_SetFinderResources(ch, 0), 1);
  EXPECT_EQ(vt::count_messages("Finder resources not set: the data fork was completed before"), 1u);
  EXPECT_EQ(MacBin_SetMapAttributes(ch, 0x10000), 1);
  EXPECT_EQ(MacBin_AddResourceData(ch, "STR ", 1, "ok", 0x20, "a", 1), 0);
  MacBin_Close(ch);
  const vt::ParsedMacBinary f = vt::parse_macbinary_file(dir.file("r.bin"));
  EXPECT_EQ(f.resources.size(), 2u);  // STR 1 and the owner resource
  EXPECT_EQ(f.get("STR ", 1).data, vt::bytes_of("a"));
}

// A MacBinary II header may announce a secondary header: the forks follow
// it, each on the next 128 bytes.
TEST(ExactFilesReader, SecondaryHeaderIsSkipped) {
  vt::init_recording();
  vt::TempDir dir;
  char name[32] = "S";
  MacBin_SetFormat(MACBIN_FORMAT_II);
  MacBinChannel *ch = MacBin_OpenW(dir.file("plain.bin").c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  MacBin_PutBuf("payload", 7, 7);
  EXPECT_EQ(MacBin_AddResourceData(ch, "TEXT", 128, nullptr, 0x20, "res", 3), 0);
  MacBin_Close(ch);
  MacBin_SetFormat(MACBIN_FORMAT_CLASSIC);
  const Bytes plain = vt::read_file(dir.file("plain.bin"));
  // The same file with a 20-byte secondary header (padded to 128) after the header.
  Bytes with = vt::slice(plain, 0, 128);
  vt::store_be16(with, 120, 20);
  vt::store_header_crc(with);
  Bytes secondary(128, 0);
  std::memcpy(secondary.data(), "a comment block here", 20);
  with.insert(with.end(), secondary.begin(), secondary.end());
  with.insert(with.end(), plain.begin() + 128, plain.end());
  vt::write_file(dir.file("secondary.bin"), with);

  MacBinChannel *in = MacBin_OpenR(dir.file("secondary.bin").c_str());
  ASSERT_NE(in, nullptr);
  char data[16] = {};
  EXPECT_EQ(MacBin_ReadDataFork(in, 0, data, sizeof data), 7);
  EXPECT_STREQ(data, "payload");
  MacBinFileInfo info;
  ASSERT_EQ(MacBin_GetFileInfo(in, &info), 1);
  EXPECT_EQ(info.rsrc_state, 1);
  EXPECT_EQ(info.crc_state, 1);
  const std::vector<ReadResource> got = resources_of(in);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].data, vt::bytes_of("res"));
  int32_t offset = 0;
  int32_t length = 0;
  MacBin_GetDataBlockParams(in, &offset, &length);
  EXPECT_EQ(offset, 256);
  MacBin_Close(in);
}

}  // namespace
