// Pictures and icons from image files through a host's image-file reader:
// the library's own image methods behind PICT lines, icons from image
// files (and CT files) behind icon lines and MacBin_MakeIconFromFiles, the
// reader's failures and the library with only its built-in reader.  The reader here
// serves images from memory under the names of placeholder files (the
// library looks for the files before it asks the reader).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

struct MemoryImage {
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 1;
  Bytes samples;             // height rows of width x channels
  std::string open_failure;  // refuse to open with this reason
  int32_t failing_row = -1;  // the row that is cut short
  double resolution = 0.0;   // stated pixels per inch, 0 = none
};

// The images by file name, and what the reader was asked to do.
std::map<std::string, MemoryImage> images;
int opens = 0;
int closes = 0;

struct OpenMemoryImage {
  const MemoryImage *image;
  int32_t next_row;
};

void put_reason(char *reason, const std::string &text) {
  std::snprintf(reason, MACBIN_IMAGE_REASON_BYTES, "%s", text.c_str());
}

int32_t open_image(const char *path, void *context, MacBinImageFileInfo *info, void **handle, char *reason) {
  EXPECT_EQ(context, &images);
  const auto found = images.find(std::filesystem::path(path).filename().string());
  if (found == images.end()) {
    put_reason(reason, "not a memory image");
    return MACBIN_IMAGE_NOT_MINE;
  }
  const MemoryImage &image = found->second;
  if (!image.open_failure.empty()) {
    put_reason(reason, image.open_failure);
    return MACBIN_IMAGE_FAILED;
  }
  ++opens;
  *info = MacBinImageFileInfo{image.width, image.height, image.channels, 0, image.resolution, image.resolution, "MEM"};
  *handle = new OpenMemoryImage{&image, 0};
  return MACBIN_IMAGE_OPENED;
}

int32_t read_row(void *handle, uint8_t *row, char *reason) {
  auto &open = *static_cast<OpenMemoryImage *>(handle);
  const MemoryImage &image = *open.image;
  if (open.next_row == image.failing_row || open.next_row >= image.height) {
    put_reason(reason, "row " + std::to_string(open.next_row) + " is cut short");
    return 0;
  }
  const size_t bytes = static_cast<size_t>(image.width * image.channels);
  std::memcpy(row, image.samples.data() + static_cast<size_t>(open.next_row++) * bytes, bytes);
  return 1;
}

void close_image(void *handle) {
  ++closes;
  delete static_cast<OpenMemoryImage *>(handle);
}

class ImageFiles : public testing::Test {
 protected:
  void SetUp() override {
    images.clear();
    opens = closes = 0;
    vt::init_recording();
  }
  void TearDown() override { EXPECT_EQ(opens, closes) << "every image the reader opened is closed"; }

  void register_reader() {
    const MacBinImageFileReader reader{"MEM", &images, open_image, read_row, close_image};
    ASSERT_EQ(MacBin_SetImageFileReader(&reader), 0);
    ASSERT_EQ(MacBin_SetImageDirectory(dir_.path().c_str()), 0);
  }
  // An image under `name`, with a placeholder file of that name.
  void add_image(const std::string &name, MemoryImage image) {
    vt::write_text(dir_.file(name), "placeholder");
    images[name] = std::move(image);
  }
  // A file of the resources `lines` make; nothing else in it (no Finder resources).
  vt::ParsedMacBinary write_lines(std::initializer_list<std::string> lines) {
    for (const char *type : {"PICT", "ICN#", "ics#", "icl8", "ics8", "icl4", "ics4"})
      EXPECT_EQ(MacBin_AddProcessor(type, nullptr, type[0] == 'P' ? MacBin_Add_PICT : MacBin_Add_Icon), 0);
    const std::string out = dir_.file("out.bin");
    char name[32] = "Images";
    MacBinChannel *channel = MacBin_OpenW(out.c_str(), name, "VARN", "TEXT");
    EXPECT_NE(channel, nullptr);
    if (channel == nullptr) return {};
    EXPECT_EQ(MacBin_SetFinderResources(channel, 0), 0);
    for (const std::string &line : lines) MacBin_AddResource(channel, line.c_str());
    MacBin_Close(channel);
    return vt::parse_macbinary_file(out);
  }
  // The texts of the recorded errors (severity 3).
  std::vector<std::string> errors() const {
    std::vector<std::string> texts;
    for (const vt::Message &message : vt::recorded_messages())
      if (message.severity == MACBIN_ERROR) texts.push_back(message.text);
    return texts;
  }

  vt::TempDir dir_;
};

// A 16 x 16 one-channel image of `row` repeated: bit set = black.
MemoryImage bits_image(uint16_t row, int32_t channels = 1) {
  MemoryImage image;
  image.width = image.height = 16;
  image.channels = channels;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool set = (row >> (15 - x) & 1) != 0;
      if (channels == 1) image.samples.push_back(set ? 0 : 255);
      if (channels == 2) image.samples.insert(image.samples.end(), {128, static_cast<uint8_t>(set ? 255 : 0)});
    }
  return image;
}

Bytes rows_of(const char *row_hex, int rows) {
  Bytes out;
  for (int i = 0; i < rows; ++i) out = vt::concat({out, hex(row_hex)});
  return out;
}

// A picture 4 x 2: red on the left, transparent (white) on the right; at 72
// pixels per inch it keeps its size, at 144 it doubles.
TEST_F(ImageFiles, PictureLineFromARegisteredReader) {
  register_reader();
  MemoryImage picture;
  picture.width = 4;
  picture.height = 2;
  picture.channels = 4;
  for (int i = 0; i < 8; ++i) picture.samples = vt::concat({picture.samples, hex(i % 4 < 2 ? "FF0000FF" : "00FF0000")});
  add_image("pic.img", picture);
  const vt::ParsedMacBinary file = write_lines({"PICT 128 \"\" pic.img 72", "PICT 129 \"\" pic.img 144"});
  EXPECT_EQ(errors(), std::vector<std::string>{});

  const Bytes &data = file.get("PICT", 128).data;
  MacBinPixels pixels{};
  char error[128] = "";
  ASSERT_EQ(MacBin_DecodePicture(data.data(), static_cast<int32_t>(data.size()), &pixels, error), 1) << error;
  ASSERT_EQ(pixels.width, 4);
  ASSERT_EQ(pixels.height, 2);
  const Bytes rgba(pixels.rgba, pixels.rgba + 32);
  MacBin_FreePixels(&pixels);
  EXPECT_EQ(vt::to_hex(rgba), vt::to_hex(vt::concat({rows_of("FF0000FF FF0000FF FFFFFFFF FFFFFFFF", 2)})));

  const Bytes &doubled = file.get("PICT", 129).data;
  MacBinPictureInfo info{};
  ASSERT_EQ(MacBin_GetPictureInfo(doubled.data(), static_cast<int64_t>(doubled.size()), &info), 1);
  EXPECT_EQ(info.horizontal_dpi, 144 << 16);
  EXPECT_EQ(info.right - info.left, 4);  // 8 pixels at 144 per inch: 4 points
  EXPECT_EQ(opens, 2);
}

// An ics# from an icon image and a mask image (bytes that read differently
// when a row's bit order is reversed), an ics# from a CT file beside the
// reader's formats, and the same bytes through MacBin_MakeIconFromFiles.
TEST_F(ImageFiles, IconLinesFromImagesMasksAndCtFiles) {
  register_reader();
  add_image("icon.img", bits_image(0x7F80));
  add_image("mask.img", bits_image(0x8001, 2));
  Bytes ct(512 + 256, 0);
  ct[4] = 1;                                             // one channel
  ct[32] = 16;                                           // rows
  ct[36] = 16;                                           // width
  ct[69] = 2;                                            // data at 512
  for (size_t y = 0; y < 16; ++y) ct[512 + y * 16] = 1;  // the first pixel of each row
  vt::write_file(dir_.file("icon.ct"), ct);

  const vt::ParsedMacBinary file =
      write_lines({"ics# 128 \"\" icon.img mask.img", "ics# 129 \"\" icon.img", "ics# 130 \"\" icon.ct"});
  EXPECT_EQ(errors(), std::vector<std::string>{});
  const Bytes masked = vt::concat({rows_of("7F80", 16), rows_of("8001", 16)});
  EXPECT_EQ(vt::to_hex(file.get("ics#", 128).data), vt::to_hex(masked));
  EXPECT_EQ(vt::to_hex(file.get("ics#", 129).data), vt::to_hex(vt::concat({rows_of("7F80", 16), rows_of("FFFF", 16)})));
  EXPECT_EQ(vt::to_hex(file.get("ics#", 130).data), vt::to_hex(vt::concat({rows_of("8000", 16), rows_of("FFFF", 16)})));

  Bytes direct(64, 0xAA);
  ASSERT_EQ(MacBin_MakeIconFromFiles("ics#", "icon.img", "mask.img", direct.data(), 64), 64);
  EXPECT_EQ(vt::to_hex(direct), vt::to_hex(masked));
  EXPECT_EQ(MacBin_MakeIconFromFiles("ics4", "icon.img", nullptr, nullptr, 0), 128);  // the length alone
}

// Each failure is MACBIN_ERR_IMAGE with the reader's reason, naming the
// file; nothing of a failed icon is written or copied.
TEST_F(ImageFiles, ReaderFailuresAreImageErrorsWithTheReadersReason) {
  register_reader();
  MemoryImage refused = bits_image(0);
  refused.open_failure = "bad header";
  add_image("refused.img", refused);
  MemoryImage cut = bits_image(0x7F80);
  cut.failing_row = 9;
  add_image("cut.img", cut);
  add_image("small.img", bits_image(0x7F80));
  const struct {
    const char *type, *image, *mask;
    int32_t code;
    const char *reason;
  } cases[] = {
      {"ICN#", "refused.img", nullptr, MACBIN_ERR_IMAGE, "refused.img: bad header"},
      {"ics#", "cut.img", nullptr, MACBIN_ERR_IMAGE, "cut.img: damaged MEM data: row 9 is cut short"},
      {"ics#", "small.img", "cut.img", MACBIN_ERR_IMAGE, "cut.img: damaged MEM data: row 9 is cut short"},
      {"icl8", "small.img", nullptr, MACBIN_ERR_IMAGE, "small.img: the icon must be 32x32 pixels, the image is 16x16"},
      {"ics#", "absent.img", nullptr, MACBIN_ERR_IMAGE, "absent.img: no such image file"},
      {"ics8", "small.img", "small.img", MACBIN_ERR_ARGUMENT, "ics8 takes no mask image (only ICN# and ics# do)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.reason);
    Bytes out(1024, 0xAA);
    MacBin_ClearError();
    EXPECT_EQ(MacBin_MakeIconFromFiles(c.type, c.image, c.mask, out.data(), 1024), -1);
    const char *reason = "";
    EXPECT_EQ(MacBin_LastError(&reason), c.code);
    EXPECT_STREQ(reason, c.reason);
    EXPECT_EQ(out, vt::repeat(0xAA, 1024));
  }

  // Through lines: the icons fail before anything is written and are left
  // out.  The picture fails on its row 9 of 16, after the builder wrote its
  // head: the builder keeps what it wrote with the size word left 0, its
  // mark of a picture that is not complete.
  const vt::ParsedMacBinary file = write_lines({"ics# 128 \"\" cut.img", "icl8 128 \"\" small.img small.img",
                                                "ics# 129 \"\" small.img", "PICT 128 \"\" cut.img 72"});
  EXPECT_EQ(file.find("ics#", 128), nullptr);
  EXPECT_EQ(file.find("icl8", 128), nullptr);
  EXPECT_EQ(vt::to_hex(file.get("ics#", 129).data), vt::to_hex(vt::concat({rows_of("7F80", 16), rows_of("FFFF", 16)})));
  EXPECT_EQ(vt::be16(file.get("PICT", 128).data, 0), 0u);
  EXPECT_EQ(errors(), (std::vector<std::string>{"cut.img: damaged MEM data: row 9 is cut short",
                                                "icl8 takes one image file (only ICN# and ics# take a mask image)",
                                                "cut.img: damaged MEM data: row 9 is cut short"}));
  const char *reason = "";
  EXPECT_EQ(MacBin_LastError(&reason), MACBIN_ERR_IMAGE);
}

// Without a host's reader the built-in one reads PNG and netpbm files and
// calls any other file not its own: an icon line then tries CT, a PICT
// line says why.
TEST_F(ImageFiles, WithoutAHostReaderTheBuiltInReaderAnswers) {
  register_reader();
  ASSERT_EQ(MacBin_SetImageFileReader(nullptr), 0);  // the methods stay, the reader goes
  add_image("pic.img", bits_image(0x7F80));
  Bytes icon(64);
  EXPECT_EQ(MacBin_MakeIconFromFiles("ics#", "pic.img", nullptr, icon.data(), 64), -1);
  const char *reason = "";
  EXPECT_EQ(MacBin_LastError(&reason), MACBIN_ERR_IMAGE);
  EXPECT_STREQ(reason, "pic.img: not a PNG, netpbm or CT image");
  const vt::ParsedMacBinary file = write_lines({"PICT 128 \"\" pic.img 72"});
  EXPECT_EQ(file.find("PICT", 128), nullptr);
  EXPECT_EQ(errors(), std::vector<std::string>{"pic.img: not a PNG or netpbm (PBM/PGM/PPM) image"});

  // A PBM file makes the icon with no reader registered: bit 1 is black.
  std::string pbm = "P1 16 16\n";
  for (int y = 0; y < 16; ++y) pbm += "0 1 1 1 1 1 1 1 1 0 0 0 0 0 0 0\n";
  vt::write_text(dir_.file("pic.pbm"), pbm);
  EXPECT_EQ(MacBin_MakeIconFromFiles("ics#", "pic.pbm", nullptr, icon.data(), 64), 64);
  EXPECT_EQ(vt::to_hex(icon), vt::to_hex(vt::concat({rows_of("7F80", 16), rows_of("FFFF", 16)})));

  // A reader without its callbacks is refused, and changes nothing.
  const MacBinImageFileReader partial{"MEM", nullptr, open_image, nullptr, close_image};
  EXPECT_EQ(MacBin_SetImageFileReader(&partial), 1);
  EXPECT_EQ(MacBin_LastError(&reason), MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(MacBin_MakeIconFromFiles("ics#", "pic.img", nullptr, icon.data(), 64), -1);
  EXPECT_EQ(opens, 0);
}

// A host that installed no image method and registered no reader still
// has PICT lines read image files: the line installs the library's methods.
TEST_F(ImageFiles, PictureLineWithNothingInstalled) {
  vt::write_text(dir_.file("grey.pgm"), "P2 4 2 255 0 85 170 255 255 170 85 0");
  ASSERT_EQ(MacBin_SetImageDirectory(dir_.path().c_str()), 0);
  const vt::ParsedMacBinary file = write_lines({"PICT 128 \"\" grey.pgm 72"});
  EXPECT_EQ(errors(), std::vector<std::string>{});
  ASSERT_NE(file.find("PICT", 128), nullptr);
  EXPECT_NE(MacIOControl.methods[MACBIN_METHOD_PREPARE - 1], nullptr);
}

}  // namespace
