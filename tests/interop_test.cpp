// Files written by the library, read by real MacBinary readers: macutils
// (macunpack) and hfsutils (hcopy onto an HFS image and back).
//
// What these readers make of the two formats, as observed and asserted here:
//   - MacBinary II (MacBin_SetFormat(2)): macunpack splits the file into its
//     forks byte for byte.  (hcopy -m copying it onto an HFS volume and back
//     is the reader's round trip in reader_test.)
//   - Classic (the default: the value 76 at offset 99, no CRC, the file ends
//     right after the map): macunpack stops with "Premature EOF" and writes
//     nothing, since the resource fork is not padded to 128 bytes; hcopy -m
//     refuses it as an "unknown, unsupported, or corrupt MacBinary file".
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::slice;

// A file with a 300-byte data fork (not a multiple of 128), a vers, a TEXT
// resource, an FREF and so the bundle and owner resource.
void write_sample(const std::string &path, int32_t format) {
  vt::init_recording();
  MacBin_AddProcessor("vers", nullptr, add_vers);
  MacBin_AddProcessor("FREF", nullptr, add_FREF);
  MacBin_AddProcessor("Bndl", nullptr, close_BNDL);
  MacBin_AddProcessor("TEXT", nullptr, vt::write_parameter_text);
  ASSERT_EQ(MacBin_SetFormat(format), 1);
  char name[] = "Sample";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  Bytes data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  MacBin_PutBuf(data.data(), 300, 300);
  MacBin_AddResource(ch, "vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0");
  MacBin_AddResource(ch, "TEXT 128 Notes Some text in a resource.");
  MacBin_AddResource(ch, "FREF 128 \"\" TEXT 128");
  MacBin_Close(ch);
  ASSERT_EQ(vt::count_messages("Writing output file"), 0u);
}

std::string shell_quoted(const std::string &path) { return "'" + path + "'"; }

TEST(InteropMacunpack, MacBinaryIIForksSplitExactly) {
  const std::string macunpack = vt::require_peer("macunpack", "macutils");
  if (macunpack.empty()) GTEST_SKIP() << "macutils not installed";
  vt::TempDir dir;
  const std::string path = dir.file("sample.bin");
  write_sample(path, MACBIN_FORMAT_II);
  const vt::ParsedMacBinary written = vt::parse_macbinary_file(path);
  ASSERT_EQ(written.data_fork().size(), 300u);

  std::string output;
  ASSERT_EQ(vt::run_command("cd " + shell_quoted(dir.path().string()) + " && " + macunpack + " -3 " +
                                shell_quoted(path),
                            &output),
            0)
      << output;
  EXPECT_EQ(vt::read_file(dir.file("Sample.data")), written.data_fork());
  EXPECT_EQ(vt::read_file(dir.file("Sample.rsrc")), written.resource_fork());
  const Bytes info = vt::read_file(dir.file("Sample.info"));
  ASSERT_EQ(info.size(), 128u);
  EXPECT_EQ(slice(info, 65, 8), vt::bytes_of("TEXTVARN"));
}

TEST(InteropMacunpack, ClassicFormatEndsPrematurely) {
  const std::string macunpack = vt::require_peer("macunpack", "macutils");
  if (macunpack.empty()) GTEST_SKIP() << "macutils not installed";
  vt::TempDir dir;
  const std::string path = dir.file("sample.bin");
  write_sample(path, MACBIN_FORMAT_CLASSIC);
  ASSERT_NE(vt::read_file(path).size() % 128, 0u);  // the unpadded end is what it trips on

  std::string output;
  EXPECT_NE(vt::run_command("cd " + shell_quoted(dir.path().string()) + " && " + macunpack + " -3 " +
                                shell_quoted(path),
                            &output),
            0);
  EXPECT_NE(output.find("Premature EOF"), std::string::npos) << output;
  EXPECT_FALSE(vt::file_exists(dir.file("Sample.data")));
}

// hfsutils keeps its current volume in ~/.hcwd: the test gets its own HOME.
TEST(InteropHfsutils, ClassicFormatIsRefused) {
  for (const char *program : {"hformat", "hmount", "hcopy", "hls", "humount"}) {
    if (vt::require_peer(program, "hfsutils").empty()) GTEST_SKIP() << "hfsutils not installed";
  }
  vt::TempDir dir;
  std::string output;
  auto run = [&](const std::string &command) {
    return vt::run_command("cd " + shell_quoted(dir.path().string()) + " && HOME=\"$PWD\" " + command,
                           &output);
  };
  ASSERT_EQ(run("dd if=/dev/zero of=volume.hfs bs=1024 count=1600 2>/dev/null"), 0);
  ASSERT_EQ(run("hformat -l Test volume.hfs && hmount volume.hfs"), 0) << output;
  write_sample(dir.file("sample.bin"), MACBIN_FORMAT_CLASSIC);
  EXPECT_NE(run("hcopy -m sample.bin :Sample"), 0);
  EXPECT_NE(output.find("unsupported, or corrupt MacBinary"), std::string::npos) << output;
  ASSERT_EQ(run("hls -l"), 0);
  EXPECT_EQ(output.find("Sample"), std::string::npos) << output;
  run("humount");
}

}  // namespace
