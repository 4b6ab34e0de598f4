// MacBin_CheckFile through the public API: a clean file of each container
// gives no finding; a file damaged in one way gives exactly that finding,
// once; hostile maps give bounded findings; and the BinHex decoding that
// the check and the open share leaves no temporary file behind, also when
// the process is killed in the middle.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

struct Seen {
  int32_t severity;
  int32_t code;
  int64_t offset;
  std::string what;
  std::string action;
};

struct Checked {
  int32_t status = -2;
  MacBinCheckReport report{};
  std::vector<Seen> findings;
  std::vector<int32_t> codes() const {
    std::vector<int32_t> out;
    for (const Seen &f : findings) out.push_back(f.code);
    return out;
  }
};

void collect(const MacBinFinding *finding, void *argument) {
  static_cast<std::vector<Seen> *>(argument)->push_back(
      {finding->severity, finding->code, finding->offset, finding->what, finding->action});
}

Checked check(const std::string &path, int32_t flags = 0) {
  Checked result;
  result.status = MacBin_CheckFile(path.c_str(), flags, collect, &result.findings, &result.report);
  return result;
}

std::string describe(const Checked &c) {
  std::string text = "status " + std::to_string(c.status) + ", container '" + c.report.container + "'";
  for (const Seen &f : c.findings) text += "\n  [" + std::to_string(f.code) + "] " + f.what + " / " + f.action;
  return text;
}

// Exactly one finding, of `code`, with both texts filled in.
void expect_only(const Checked &c, int32_t code) {
  ASSERT_EQ(c.status, 1) << describe(c);
  ASSERT_EQ(c.codes(), std::vector<int32_t>{code}) << describe(c);
  EXPECT_FALSE(c.findings[0].what.empty());
  EXPECT_FALSE(c.findings[0].action.empty());
  EXPECT_EQ(c.report.findings, 1);
  EXPECT_EQ(c.report.worst, c.findings[0].severity);
}

void expect_clean(const Checked &c, int32_t format, int32_t resources) {
  EXPECT_EQ(c.status, 0) << describe(c);
  EXPECT_TRUE(c.findings.empty()) << describe(c);
  EXPECT_EQ(c.report.format, format) << describe(c);
  EXPECT_EQ(c.report.inner_format, 0);
  EXPECT_EQ(c.report.resources, resources);
  EXPECT_EQ(c.report.findings, 0);
  EXPECT_EQ(c.report.worst, 0);
}

// Three resources: a name, a plain one and a second type.
vt::MacBinaryPlan sample_plan() {
  vt::MacBinaryPlan plan;
  plan.format = vt::MbFormat::kII;
  plan.data_fork = vt::bytes_of("The data fork of the sample.");
  plan.types = {{"STR ", {{128, std::string("Greeting"), hex("05 48 65 6C 6C 6F")},
                          {129, std::nullopt, hex("03 41 42 43")}}},
                {"ICN#", {{128, std::nullopt, vt::repeat(0xAA, 256)}}}};
  return plan;
}

Bytes resource_fork_of(const vt::BuiltMacBinary &built) {
  return vt::slice(built.bytes, built.at.rsrc_start, vt::be32(built.bytes, 87));
}

// A file in `format` written by the library, with this data fork and this
// resource fork (none when empty).
void write_container(int32_t format, const std::string &path, const Bytes &data, const Bytes &fork) {
  if (MacBin_SetFormat(format) != 1) throw std::runtime_error("format refused");
  char name[] = "Sample";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  if (ch == nullptr) throw std::runtime_error("cannot open " + path);
  MacBin_PutBuf(data.data(), static_cast<int32_t>(data.size()), static_cast<int32_t>(data.size()));
  if (MacBin_SetResourceFork(ch, fork.data(), static_cast<int32_t>(fork.size())) != 0)
    throw std::runtime_error("fork refused");
  MacBin_Close(ch);
}

class FileCheck : public ::testing::Test {
 protected:
  void SetUp() override { vt::init_recording(); }
  std::string file(std::string_view name) const { return dir_.file(name); }
  std::string write(std::string_view name, const Bytes &bytes) const {
    const std::string path = file(name);
    vt::write_file(path, bytes);
    return path;
  }
  vt::TempDir dir_;
};

// ---- Clean files ----------------------------------------------------------

TEST_F(FileCheck, CleanFileOfEachContainerGivesNoFinding) {
  const vt::BuiltMacBinary built = vt::build_macbinary(sample_plan());
  const Bytes fork = resource_fork_of(built);
  const Bytes data = vt::bytes_of("The data fork of the sample.");
  write_container(MACBIN_FORMAT_CLASSIC, file("Classic.bin"), data, fork);
  write_container(MACBIN_FORMAT_APPLESINGLE, file("Sample.as"), data, fork);
  write_container(MACBIN_FORMAT_APPLEDOUBLE, file("Double"), data, fork);
  write_container(MACBIN_FORMAT_BINHEX, file("Sample.hqx"), data, fork);
  write_container(MACBIN_FORMAT_BINHEX, file("Plain.hqx"), data, {});
  vt::recorded_messages().clear();

  expect_clean(check(write("Sample.bin", built.bytes)), MACBIN_FORMAT_II, 3);
  vt::MacBinaryPlan plan3 = sample_plan();
  plan3.format = vt::MbFormat::kIII;
  expect_clean(check(write("Three.bin", vt::build_macbinary(plan3).bytes)), MACBIN_FORMAT_III, 3);
  expect_clean(check(file("Classic.bin")), MACBIN_FORMAT_CLASSIC, 3);
  expect_clean(check(file("Sample.as")), MACBIN_FORMAT_APPLESINGLE, 3);
  expect_clean(check(file("._Double")), MACBIN_FORMAT_APPLEDOUBLE, 3);
  // The data file of the pair is checked as the pair.
  const Checked pair = check(file("Double"));
  expect_clean(pair, MACBIN_FORMAT_APPLEDOUBLE, 3);
  EXPECT_STREQ(pair.report.container, "AppleDouble data file (its header file is ._Double)");
  const Checked binhex = check(file("Sample.hqx"));
  expect_clean(binhex, MACBIN_FORMAT_BINHEX, 3);
  EXPECT_STREQ(binhex.report.container, "BinHex 4.0");
  expect_clean(check(write("Sample.rsrc", fork)), MACBIN_FORMAT_RSRC, 3);
  // Without a resource fork, and the same with every check of the contents.
  expect_clean(check(file("Plain.hqx"), MACBIN_CHECK_CONTENTS), MACBIN_FORMAT_BINHEX, 0);
  expect_clean(check(file("Sample.bin"), MACBIN_CHECK_CONTENTS), MACBIN_FORMAT_II, 3);
  // The method may be left out; the report still counts.
  MacBinCheckReport report{};
  EXPECT_EQ(MacBin_CheckFile(file("Sample.bin").c_str(), 0, nullptr, nullptr, &report), 0);
  EXPECT_STREQ(report.container, "MacBinary II");
  EXPECT_EQ(MacBin_CheckFile(file("Sample.bin").c_str(), 0, nullptr, nullptr, nullptr), 0);
  // Nothing goes through the message method.
  EXPECT_TRUE(vt::recorded_messages().empty());
}

// A bare resource fork small enough to write out: one STR  128 "Hi", one
// STR  129 with no data of its own, then the map (types at 28, names at
// 62, no names).
const char *const kSmallFork =
    "00 00 00 10  00 00 00 1A  00 00 00 0A  00 00 00 3E |fork header\n"
    "00 00 00 02 48 69  00 00 00 00                     |data: \"Hi\", empty\n"
    "00 00 00 10  00 00 00 1A  00 00 00 0A  00 00 00 3E |map: header copy\n"
    "00 00 00 00 00 00 00 00  00 1C 00 3E                |attributes, type list, name list\n"
    "00 00  53 54 52 20 00 01 00 0A                       |one type, STR , two resources\n"
    "00 80 FF FF 00 00 00 00  00 00 00 00                 |128 at 0\n"
    "00 81 FF FF 00 00 00 06  00 00 00 00                 |129 at 6\n";

TEST_F(FileCheck, SmallForkGoldenBytes) {
  expect_clean(check(write("Small.rsrc", hex(kSmallFork))), MACBIN_FORMAT_RSRC, 2);
  // 129 given 128's ID: one repeated pair, told at its reference item.
  const Checked repeated = check(write("Repeat.rsrc", vt::patched(hex(kSmallFork), 0x1A + 0x1C + 2 + 8 + 12, hex("00 80"))));
  expect_only(repeated, MACBIN_FINDING_REPEATED_ID);
  EXPECT_EQ(repeated.findings[0].offset, 0x1A + 0x1C + 2 + 8 + 12);
  EXPECT_NE(repeated.findings[0].what.find("'STR ' 128 is listed twice"), std::string::npos);
  // 129's data at 128's: overlapping data.
  expect_only(check(write("Overlap.rsrc", vt::patched(hex(kSmallFork), 0x1A + 0x1C + 2 + 8 + 12 + 5, hex("00 00 00")))),
              MACBIN_FINDING_DATA_OVERLAP);
  // 129's data offset past the 10 bytes of data.
  expect_only(check(write("Past.rsrc", vt::patched(hex(kSmallFork), 0x1A + 0x1C + 2 + 8 + 12 + 5, hex("00 00 07")))),
              MACBIN_FINDING_DATA_RANGE);
  // 128's length word past the data.
  expect_only(check(write("Long.rsrc", vt::patched(hex(kSmallFork), 0x10, hex("00 00 00 09")))),
              MACBIN_FINDING_DATA_RANGE);
  // A name at offset 0x20 of an empty name list.
  expect_only(check(write("Name.rsrc", vt::patched(hex(kSmallFork), 0x1A + 0x1C + 2 + 8 + 2, hex("00 20")))),
              MACBIN_FINDING_NAME_RANGE);
}

// ---- Damaged MacBinary files ------------------------------------------------

TEST_F(FileCheck, DamagedMacBinaryGivesExactlyItsFinding) {
  const vt::BuiltMacBinary clean = vt::build_macbinary(sample_plan());
  const Bytes &bytes = clean.bytes;
  const uint32_t rsrc_length = vt::be32(bytes, 87);

  vt::MacBinaryPlan bad_crc = sample_plan();
  bad_crc.crc = 0x1234;
  const Checked crc = check(write("Crc.bin", vt::build_macbinary(bad_crc).bytes));
  expect_only(crc, MACBIN_FINDING_HEADER_CRC);
  EXPECT_EQ(crc.findings[0].offset, 124);
  EXPECT_NE(crc.findings[0].what.find("0x1234"), std::string::npos);

  expect_only(check(write("Data.bin", vt::slice(bytes, 0, 140))), MACBIN_FINDING_DATA_CUT);
  expect_only(check(write("Rsrc.bin", vt::slice(bytes, 0, clean.at.rsrc_start + 100))), MACBIN_FINDING_RSRC_CUT);

  // The header claims 20 bytes less than the fork takes: the map runs past
  // the declared length, the file still holds it.
  Bytes short_fork = bytes;
  vt::store_be32(short_fork, 87, rsrc_length - 20);
  vt::store_header_crc(short_fork);
  expect_only(check(write("Short.bin", short_fork)), MACBIN_FINDING_MAP_PAST_FORK);

  // The map's copy of the fork header differs (a bare fork like that is
  // not told from other data: inside a container it is).
  Bytes copy = bytes;
  copy[clean.at.map + 15] ^= 0x01;
  const Checked copied = check(write("Copy.bin", copy));
  expect_only(copied, MACBIN_FINDING_MAP_COPY);
  EXPECT_EQ(copied.findings[0].severity, MACBIN_WARNING);

  Bytes far_map = bytes;
  vt::store_be32(far_map, clean.at.rsrc_start + 4, 0x00100000);
  expect_only(check(write("Far.bin", far_map)), MACBIN_FINDING_FORK_HEADER);

  Bytes lost_types = bytes;
  vt::store_be16(lost_types, clean.at.map + 24, 0xFFF0);
  expect_only(check(write("Types.bin", lost_types)), MACBIN_FINDING_MAP_DAMAGED);

  Bytes lost_refs = bytes;
  vt::store_be16(lost_refs, clean.at.type_items[1] + 6, 0xFF00);
  const Checked refs = check(write("Refs.bin", lost_refs));
  expect_only(refs, MACBIN_FINDING_MAP_DAMAGED);
  EXPECT_EQ(refs.report.resources, 2);  // the other type's

  vt::MacBinaryPlan repeated_type = sample_plan();
  repeated_type.types.push_back({"STR ", {{200, std::nullopt, hex("00")}}});
  expect_only(check(write("Types2.bin", vt::build_macbinary(repeated_type).bytes)), MACBIN_FINDING_REPEATED_TYPE);
}

// Compressed resources: a damaged header always, an unknown decompressor as
// a warning, a damaged stream only when the contents are checked.
TEST_F(FileCheck, CompressedResourceHeaders) {
  const Bytes header_v9 = hex("A8 9F 65 72  00 12  09  01  00 00 00 40  00 02  00 00 00 00");
  auto with_data = [&](const Bytes &data) {
    vt::MacBinaryPlan plan = sample_plan();
    plan.types.push_back({"snd ", {{1, std::nullopt, data, 0x21}}});
    return vt::build_macbinary(plan).bytes;
  };
  const Checked bad_version = check(write("Version.bin", with_data(vt::patched(header_v9, 6, hex("07")))));
  expect_only(bad_version, MACBIN_FINDING_COMPRESSED);
  EXPECT_EQ(bad_version.findings[0].severity, MACBIN_ERROR);

  const Checked unknown = check(write("Unknown.bin", with_data(vt::patched(header_v9, 12, hex("00 07")))));
  expect_only(unknown, MACBIN_FINDING_COMPRESSED);
  EXPECT_EQ(unknown.findings[0].severity, MACBIN_WARNING);
  EXPECT_NE(unknown.findings[0].what.find("decompressor 7"), std::string::npos);

  // A sound header and no stream: only the contents check finds it.
  const std::string stream_cut = write("Stream.bin", with_data(header_v9));
  expect_clean(check(stream_cut), MACBIN_FORMAT_II, 4);
  expect_only(check(stream_cut, MACBIN_CHECK_CONTENTS), MACBIN_FINDING_COMPRESSED);
  // Without the attribute bit the bytes are plain.
  vt::MacBinaryPlan plain = sample_plan();
  plain.types.push_back({"snd ", {{1, std::nullopt, vt::patched(header_v9, 6, hex("07")), 0x20}}});
  expect_clean(check(write("Plain.bin", vt::build_macbinary(plain).bytes)), MACBIN_FORMAT_II, 4);
}

// ---- Other containers ---------------------------------------------------------

TEST_F(FileCheck, DamagedContainersGiveExactlyTheirFinding) {
  const Bytes fork = resource_fork_of(vt::build_macbinary(sample_plan()));
  Bytes data(3000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>('A' + i % 26);

  write_container(MACBIN_FORMAT_APPLESINGLE, file("Sample.as"), data, fork);
  const Bytes single = vt::read_file(file("Sample.as"));
  expect_only(check(write("Cut.as", vt::slice(single, 0, single.size() - 10))), MACBIN_FINDING_RSRC_CUT);
  expect_only(check(write("Version.as", vt::patched(single, 4, hex("00 03 00 00")))), MACBIN_FINDING_HEADER_DAMAGED);

  write_container(MACBIN_FORMAT_BINHEX, file("Sample.hqx"), data, fork);
  std::string text;
  for (uint8_t b : vt::read_file(file("Sample.hqx"))) text.push_back(static_cast<char>(b));
  // A character in the middle of the data fork's text, changed to another
  // of the alphabet: one byte of the data fork differs.
  const size_t middle = text.find('\n', text.size() / 3) + 10;
  std::string changed = text;
  changed[middle] = changed[middle] == 'A' ? 'B' : 'A';
  const Checked crc = check(write("Crc.hqx", vt::bytes_of(changed)));
  expect_only(crc, MACBIN_FINDING_FORK_CRC);
  EXPECT_NE(crc.findings[0].what.find("data fork"), std::string::npos);
  // The text stops inside the resource fork.
  const std::string cut = text.substr(0, text.size() - 40) + ":\n";
  expect_only(check(write("Cut.hqx", vt::bytes_of(cut))), MACBIN_FINDING_RSRC_CUT);
  expect_only(check(write("Head.hqx", vt::bytes_of(text.substr(0, text.find(':') + 8)))), MACBIN_FINDING_DATA_CUT);

  expect_only(check(write("Text.txt", vt::bytes_of("Just a text file, not from a Macintosh.\n"))),
              MACBIN_FINDING_NOT_A_CONTAINER);
}

// A PICT file is a picture alone, whole as it stands: named as such and
// clean, not "lost its resource fork".  Version 2 after the 512-byte
// header, version 1 from the first byte (the shortest one too); the same
// version bytes one place off are no picture.
TEST_F(FileCheck, PictFilesAreNamedNotBlamed) {
  const Bytes version2 = hex("0040 0000 0000 0010 0010 0011 02FF 0C00 FFFE 0000 0048 0000 0048 0000 00FF");
  const Bytes version1 = hex("0020 0000 0000 0010 0010 1101 A000 82 FF");
  // The smallest version 1 picture: its version opcode and the end opcode,
  // 13 bytes, no more after its version word (MacBin_FindPictFilePicture
  // and the thumbnails take it; the check took it for no picture).
  const Bytes smallest = hex("000D 0000 0000 0001 0001 1101 FF");
  const Bytes files[] = {vt::concat({Bytes(512, 0), version2}), version1, vt::concat({Bytes(512, 0xAB), version1}),
                         smallest};
  for (const Bytes &bytes : files) {
    const Checked picture = check(write("Picture.pict", bytes));
    expect_clean(picture, 0, 0);
    EXPECT_EQ(std::string(picture.report.container).rfind("PICT picture file", 0), 0u) << describe(picture);
  }
  expect_only(check(write("Shifted.pict", vt::concat({Bytes(513, 0), version2}))), MACBIN_FINDING_NOT_A_CONTAINER);
  expect_only(check(write("Short.pict", hex("0020 0000 0000 0010 0010 11"))), MACBIN_FINDING_NOT_A_CONTAINER);
}

TEST_F(FileCheck, WhatIsInsideWhat) {
  const vt::BuiltMacBinary inner = vt::build_macbinary(sample_plan());
  const Bytes fork = resource_fork_of(inner);

  // MacBinary inside BinHex.
  write_container(MACBIN_FORMAT_BINHEX, file("Twice.hqx"), inner.bytes, {});
  const Checked twice = check(file("Twice.hqx"));
  expect_only(twice, MACBIN_FINDING_PACKED_TWICE);
  EXPECT_EQ(twice.report.format, MACBIN_FORMAT_BINHEX);
  EXPECT_EQ(twice.report.inner_format, MACBIN_FORMAT_II);
  EXPECT_STREQ(twice.report.container, "BinHex 4.0 holding MacBinary II");

  // A MacBinary file inside a MacBinary data fork.
  vt::MacBinaryPlan outer;
  outer.format = vt::MbFormat::kII;
  outer.resource_fork = false;
  outer.data_fork = inner.bytes;
  const Checked nested = check(write("Nested.bin", vt::build_macbinary(outer).bytes));
  expect_only(nested, MACBIN_FINDING_PACKED_TWICE);
  EXPECT_EQ(nested.report.inner_format, MACBIN_FORMAT_II);

  // A resource fork saved as the data fork.
  outer.data_fork = fork;
  const Checked saved = check(write("Saved.bin", vt::build_macbinary(outer).bytes));
  expect_only(saved, MACBIN_FINDING_FORK_IN_DATA);
  EXPECT_EQ(saved.report.inner_format, 0);

  // An AppleDouble header named as a bare fork: checked as what it is.
  write_container(MACBIN_FORMAT_APPLEDOUBLE, file("Doc"), vt::bytes_of("data"), fork);
  std::filesystem::rename(file("._Doc"), file("Doc.rsrc"));
  const Checked named = check(file("Doc.rsrc"));
  expect_only(named, MACBIN_FINDING_NAME_MISLEADS);
  EXPECT_EQ(named.report.format, MACBIN_FORMAT_APPLEDOUBLE);
  EXPECT_EQ(named.report.resources, 3);
  EXPECT_NE(named.findings[0].action.find("._Doc"), std::string::npos) << named.findings[0].action;
  // A data fork that merely starts like a MacBinary header is not one.
  outer.data_fork = vt::slice(inner.bytes, 0, 200);
  expect_clean(check(write("Start.bin", vt::build_macbinary(outer).bytes)), MACBIN_FORMAT_II, 0);
}

// ---- Hostile input and arguments -------------------------------------------------

TEST_F(FileCheck, ManyFindingsOfOneCodeAreCounted) {
  vt::MacBinaryPlan plan = sample_plan();
  plan.types = {{"STR ", {}}};
  for (uint32_t id = 0; id < 300; ++id) plan.types[0].resources.push_back({id, std::nullopt, hex("01 41")});
  vt::BuiltMacBinary built = vt::build_macbinary(plan);
  for (size_t pos : built.at.refs[0]) built.patch(pos + 5, hex("FF FF F0"));
  const Checked c = check(write("Many.bin", built.bytes));
  ASSERT_EQ(c.findings.size(), 101u) << describe(c);
  const std::vector<int32_t> codes = c.codes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), MACBIN_FINDING_DATA_RANGE), 100);
  EXPECT_EQ(c.findings.back().code, MACBIN_FINDING_MORE);
  EXPECT_NE(c.findings.back().what.find("200 more"), std::string::npos) << c.findings.back().what;
  EXPECT_EQ(c.report.resources, 300);
}

TEST_F(FileCheck, RefusedArguments) {
  MacBinCheckReport report{};
  report.format = 99;
  MacBin_ClearError();
  EXPECT_EQ(MacBin_CheckFile(nullptr, 0, nullptr, nullptr, &report), -1);
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(report.format, 0);
  EXPECT_EQ(MacBin_CheckFile("", 0, nullptr, nullptr, nullptr), -1);
  const std::string path = write("Any.bin", hex("00"));
  MacBin_ClearError();
  EXPECT_EQ(MacBin_CheckFile(path.c_str(), 2, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_ARGUMENT);
  const char *why = nullptr;
  EXPECT_EQ(MacBin_CheckFile(file("missing").c_str(), 0, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(MacBin_LastError(&why), MACBIN_ERR_IO);
  EXPECT_NE(std::string(why).find("missing"), std::string::npos) << why;
  EXPECT_TRUE(vt::recorded_messages().empty());
}

// ---- The decoded BinHex forks never stay behind ------------------------------------

// The entries of `folder`.
std::vector<std::string> entries(const std::filesystem::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  return names;
}

// Whether process `pid` has a descriptor open on a file that is or was in
// `folder`: the decoding has started.
bool has_file_open_in(pid_t pid, const std::string &folder) {
  std::error_code error;
  for (const auto &fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
    if (!error && target.rfind(folder + "/", 0) == 0) return true;
  }
  return false;
}

TEST_F(FileCheck, KilledWhileDecodingBinHexLeavesNothingBehind) {
  if (!std::filesystem::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc to watch the decoding through";
  // 24 MB of data decode for long enough to be caught in the middle.
  Bytes data(24 << 20);
  uint32_t x = 1;
  for (uint8_t &b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  const std::string path = file("Large.hqx");
  write_container(MACBIN_FORMAT_BINHEX, path, data, {});
  data.clear();
  data.shrink_to_fit();
  const std::string scratch = file("scratch");
  std::filesystem::create_directory(scratch);

  for (const bool opening : {true, false}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      setenv("TMPDIR", scratch.c_str(), 1);
      if (opening) {
        MacBinChannel *channel = MacBin_OpenR(path.c_str());
        if (channel != nullptr) MacBin_Close(channel);
      } else {
        MacBin_CheckFile(path.c_str(), 0, nullptr, nullptr, nullptr);
      }
      _exit(0);
    }
    // Once the child has its temporary file open, it is killed.
    bool caught = false;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      if (has_file_open_in(child, scratch)) {
        kill(child, SIGKILL);
        caught = true;
        break;
      }
      if (waitpid(child, &status, WNOHANG) == child) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (caught) waitpid(child, &status, 0);
    const char *call = opening ? "open" : "check";
    EXPECT_TRUE(caught) << call << ": the decoding ended before it was seen";
    EXPECT_TRUE(entries(scratch).empty()) << call << " left " << entries(scratch)[0];
  }
}

}  // namespace
