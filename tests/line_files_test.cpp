// The processors that take a file named on a resource line: the contents of
// any file as the resource ("****", MacBin_Add_FileData), and the picture
// builder's check of its "IMAGE RESOLUTION [MASK]" parameter.  Each refusal
// is reported with its reason and code, and leaves no resource behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

class LineFiles : public testing::Test {
 protected:
  void SetUp() override {
    vt::init_recording();
    ASSERT_EQ(MacBin_AddProcessor("PICT", nullptr, MacBin_Add_PICT), 0);
    ASSERT_EQ(MacBin_AddProcessor("****", nullptr, MacBin_Add_FileData), 0);
    ASSERT_EQ(MacBin_SetImageDirectory(dir_.path().c_str()), 0);
  }

  // A file of the resources `lines` make (no Finder resources), with the
  // errors reported while they were added, as "CODE|TEXT".
  vt::ParsedMacBinary write_lines(const std::vector<std::string> &lines) {
    const std::string out = dir_.file("out.bin");
    char name[32] = "Files";
    MacBinChannel *channel = MacBin_OpenW(out.c_str(), name, "VARN", "TEXT");
    EXPECT_NE(channel, nullptr);
    if (channel == nullptr) return {};
    EXPECT_EQ(MacBin_SetFinderResources(channel, 0), 0);
    errors_.clear();
    for (const std::string &line : lines) {
      vt::recorded_messages().clear();
      MacBin_AddResource(channel, line.c_str());
      for (const vt::Message &message : vt::recorded_messages())
        if (message.severity == MACBIN_ERROR) errors_.push_back(message.text);
    }
    MacBin_Close(channel);
    return vt::parse_macbinary_file(out);
  }

  vt::TempDir dir_;
  std::vector<std::string> errors_;
};

TEST_F(LineFiles, FileContentsBecomeTheResource) {
  vt::write_file(dir_.file("notes.txt"), hex("48 65 6C 6C 6F 0D 00 FF"));
  std::filesystem::create_directory(dir_.file("sub dir"));
  vt::write_file(dir_.file("sub dir/b.bin"), hex("01"));
  const std::string absolute = dir_.file("notes.txt");

  const vt::ParsedMacBinary file = write_lines({
      "TEXT 128 \"\" notes.txt",          // from the image directory
      "TEXT 129 \"\"   sub dir/b.bin  ",  // blanks around the name dropped, inner ones kept
      "snd  130 \"\" " + absolute,        // any type without its own processor
  });
  EXPECT_EQ(errors_, std::vector<std::string>{});
  EXPECT_EQ(file.get("TEXT", 128).data, hex("48 65 6C 6C 6F 0D 00 FF"));
  EXPECT_EQ(file.get("TEXT", 129).data, hex("01"));
  EXPECT_EQ(file.get("snd ", 130).data, hex("48 65 6C 6C 6F 0D 00 FF"));
}

TEST_F(LineFiles, FilesThatCannotBecomeTheResourceAreRefusedWithTheirReason) {
  vt::write_file(dir_.file("empty.txt"), {});
  std::filesystem::create_directory(dir_.file("folder"));
  // One byte past the 24-bit offsets' reach, without writing 16 MB.
  vt::write_file(dir_.file("big.bin"), {});
  std::filesystem::resize_file(dir_.file("big.bin"), MACBIN_MAX_DATA_OFFSET + 1);

  const vt::ParsedMacBinary file = write_lines({
      "TEXT 1 \"\"  ",
      "TEXT 2 \"\" gone.txt",
      "TEXT 3 \"\" folder",
      "TEXT 4 \"\" empty.txt",
      "TEXT 5 \"\" big.bin",
  });
  EXPECT_EQ(errors_, (std::vector<std::string>{
                         "TEXT needs a file whose contents become the resource",
                         "gone.txt: no such file",
                         "folder: no such file",
                         "empty.txt: the file is empty, and a resource needs at least one byte",
                         "big.bin: 16777216 bytes; resource data is limited to 16777215 bytes",
                     }));
  EXPECT_TRUE(file.resources.empty()) << "a refused file leaves no resource";
}

TEST_F(LineFiles, TheRefusalsCodeIsTheLastError) {
  vt::write_file(dir_.file("empty.txt"), {});
  const std::pair<const char *, int32_t> cases[] = {
      {"TEXT 1 \"\" gone.txt", MACBIN_ERR_IO},
      {"TEXT 2 \"\" empty.txt", MACBIN_ERR_ARGUMENT},
      {"PICT 3 \"\" pic.png 0", MACBIN_ERR_ARGUMENT},
  };
  for (const auto &[line, code] : cases) {
    const std::string out = dir_.file("code.bin");
    char name[32] = "Code";
    MacBinChannel *channel = MacBin_OpenW(out.c_str(), name, "VARN", "TEXT");
    ASSERT_NE(channel, nullptr);
    MacBin_AddResource(channel, line);
    // The resource that was not inserted follows from the processor's refusal.
    const char *reason = nullptr;
    EXPECT_EQ(MacBin_LastError(&reason), code) << line << ": " << (reason != nullptr ? reason : "");
    MacBin_Close(channel);
  }
}

TEST_F(LineFiles, UnreadableFileIsACannotOpen) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads a file without read permission";
  vt::write_file(dir_.file("locked.txt"), hex("01"));
  std::filesystem::permissions(dir_.file("locked.txt"), std::filesystem::perms::none);
  const vt::ParsedMacBinary file = write_lines({"TEXT 1 \"\" locked.txt"});
  EXPECT_EQ(errors_, std::vector<std::string>{"locked.txt: cannot open: Permission denied"});
  EXPECT_TRUE(file.resources.empty());
}

// The picture's parameter is checked before any image file is looked for:
// only a sound one goes on to the image methods (here the library's own,
// which find no such file).
TEST_F(LineFiles, PictureParametersOfTheWrongFormAreRefusedWithTheirReason) {
  const char *kForm = "PICT wants 'IMAGE RESOLUTION [MASK]', e.g. 'preview.png 72 mask.pbm'";
  const vt::ParsedMacBinary file = write_lines({
      "PICT 1 \"\" ",
      "PICT 2 \"\" preview.png",
      "PICT 3 \"\" preview.png 72 mask.pbm extra",
      "PICT 9 \"\" \"\" 72",
      "PICT 4 \"\" preview.png 0",
      "PICT 5 \"\" preview.png 9601",
      "PICT 6 \"\" preview.png 72dpi",
      "PICT 7 \"\" preview.png 123456",
      "PICT 8 \"\" preview.png 9600 mask.pbm",
  });
  EXPECT_EQ(errors_, (std::vector<std::string>{
                         kForm,
                         kForm,
                         kForm,
                         kForm,
                         "PICT resolution '0' must be a whole number of pixels per inch (1 to 9600)",
                         "PICT resolution '9601' must be a whole number of pixels per inch (1 to 9600)",
                         "PICT resolution '72dpi' must be a whole number of pixels per inch (1 to 9600)",
                         "PICT resolution '123456' must be a whole number of pixels per inch (1 to 9600)",
                         "preview.png: cannot open image file",
                     }));
  EXPECT_TRUE(file.resources.empty());
}

}  // namespace
