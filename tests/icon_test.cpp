// Icon builders and their CT input: golden icon bytes, the printed texts,
// refusal of images outside the builders' limits, and what a failure leaves
// behind (no bytes, no open file, no ended process).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

void put_le16(Bytes &bytes, size_t offset, uint32_t value) {
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void put_le32(Bytes &bytes, size_t offset, uint32_t value) {
  put_le16(bytes, offset, value);
  put_le16(bytes, offset + 2, value >> 16);
}

// A CT file: 512-byte header (fields least significant byte first), zeros up
// to the data offset, then the pixels.
Bytes ct_file(int32_t rows, int32_t width, const Bytes &pixels, uint32_t channels = 1,
              uint32_t data_offset = 512) {
  Bytes file(std::max<size_t>(512, data_offset), 0);
  put_le16(file, 4, channels);
  put_le32(file, 32, static_cast<uint32_t>(rows));
  put_le32(file, 36, static_cast<uint32_t>(width));
  put_le32(file, 68, data_offset);
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

// Pixels of a rows x width image, each pixel given by `pixel(row, column)`.
template <typename Pixel>
Bytes image(int32_t rows, int32_t width, Pixel pixel) {
  Bytes pixels;
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < width; ++c) pixels.push_back(static_cast<uint8_t>(pixel(r, c)));
  return pixels;
}

struct Built {
  int32_t result;
  Bytes icon;           // what the builder wrote
  std::string printed;  // what it printed to standard output
};

struct Builder {
  const char *name;
  MacBinWriteHandler build;
  const char *read_error;      // the builder's read-error text
  const char *accepted_sizes;  // what its refusal of another size says
};

const Builder kIcon8{"CT_to_icon8", CT_to_icon8, "ERROR     reading CT-data \a \n",
                     "an 8-bit icon takes 1 to 255 rows of 1 to 255 pixels"};
const Builder kIcon4{"CT_to_icon4", CT_to_icon4, "ERROR reading CT-data \a \n",
                     "a 4-bit icon takes 1 to 255 rows of 2 to 254 pixels, an even number"};
const Builder kIcn{"CT_to_ICN", CT_to_ICN, "ERROR reading CT-data \a \n",
                   "a 1-bit icon takes 1 to 255 rows of 8 to 248 pixels, a multiple of 8"};
const Builder kBuilders[] = {kIcon8, kIcon4, kIcn};

// Runs builders the way the resource inserter does: with `outfile` set to an
// open output file (here a scratch file of its own, so that the bytes the
// builder wrote are exactly the file's bytes).
class IconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::init_recording();
    debug_values.trace_flags = 0;
  }
  void TearDown() override { debug_values.trace_flags = 0; }

  std::string write_ct(const std::string &name, const Bytes &bytes) {
    const std::string path = dir_.file(name);
    vt::write_file(path, bytes);
    return path;
  }

  // `stale_errno` is left in errno right before the call, as a host might.
  Built build(const Builder &builder, const std::string &ct_path, int stale_errno = 0) {
    const std::string out_path = dir_.file("icon.out");
    TesselFile *file = fopenw(fdbset(0, "STREAM,SEQUENTIAL"), out_path.c_str(), "", 0);
    Built built{};
    if (file == nullptr) {
      ADD_FAILURE() << "cannot open " << out_path;
      return built;
    }
    outfile = file;
    {
      vt::CaptureStdout capture;
      errno = stale_errno;
      built.result = builder.build(nullptr, ct_path.c_str());
      built.printed = capture.text();
    }
    EXPECT_EQ(fclosx(file), 0);
    fdbfree(file);
    outfile = nullptr;
    built.icon = vt::read_file(out_path);
    return built;
  }

  vt::TempDir dir_;
};

using IconBuilders = IconTest;
using CtInput = IconTest;
using IconLimits = IconTest;

// ---- Golden icon data ---------------------------------------------------------

TEST_F(IconBuilders, AllZeroLargeImageThroughEachBuilder) {
  const std::string ct = write_ct("zero.ct", ct_file(32, 32, Bytes(1024, 0)));

  const Built icon8 = build(kIcon8, ct);
  EXPECT_EQ(icon8.result, 1);
  EXPECT_EQ(icon8.printed, "");
  EXPECT_EQ(icon8.icon, Bytes(1024, 0x00));

  const Built icon4 = build(kIcon4, ct);
  EXPECT_EQ(icon4.result, 1);
  EXPECT_EQ(icon4.icon, Bytes(512, 0x00));

  const Built icn = build(kIcn, ct);
  EXPECT_EQ(icn.result, 1);
  EXPECT_EQ(icn.icon, vt::concat({Bytes(128, 0x00), Bytes(128, 0xFF)}));  // icon, then mask
}

TEST_F(IconBuilders, PixelValuesUsedAsTheyStand) {
  // One row: 1 is black for ICN but its high nibble is 0 for icon4;
  // (AB, CD) keeps the high nibbles A and C.
  const std::string ct = write_ct("row.ct", ct_file(1, 8, hex("01 00 AB CD 80 00 00 FF")));

  EXPECT_EQ(build(kIcon8, ct).icon, hex("01 00 AB CD 80 00 00 FF"));
  EXPECT_EQ(build(kIcon4, ct).icon, hex("00 AC 80 0F"));
  EXPECT_EQ(build(kIcn, ct).icon, vt::concat({hex("B9"),  // 1011 1001
                                              Bytes(128, 0xFF)}));
}

TEST_F(IconBuilders, MaskLengthFollowsRowWidthAlone) {
  const auto icn_of = [&](int32_t rows, int32_t width) {
    const Bytes pixels(static_cast<size_t>(rows * width), 0x01);
    return build(kIcn, write_ct("mask.ct", ct_file(rows, width, pixels))).icon;
  };
  EXPECT_EQ(icn_of(3, 16), vt::concat({Bytes(6, 0xFF), Bytes(32, 0xFF)}));
  EXPECT_EQ(icn_of(16, 24), vt::concat({Bytes(48, 0xFF), Bytes(128, 0xFF)}));
}

// ---- Read errors ------------------------------------------------------------------

TEST_F(CtInput, ReadErrorOnFifthRowWritesNothing) {
  // The header promises 32 rows; the file holds four.
  const std::string ct = write_ct("short.ct", ct_file(32, 32, Bytes(4 * 32, 0x11)));
  for (const Builder &builder : kBuilders) {
    SCOPED_TRACE(builder.name);
    const Built built = build(builder, ct);
    EXPECT_EQ(built.result, 0);
    EXPECT_EQ(built.printed, builder.read_error);
    EXPECT_EQ(built.icon, Bytes{});  // no rows, no mask
  }
}

TEST_F(CtInput, DataOffsetPastEndOfFileIsReadErrorAtFirstRow) {
  Bytes header = ct_file(2, 8, Bytes{});
  put_le32(header, 68, 0x10000);  // the file ends right after the header
  const std::string ct = write_ct("far.ct", header);
  const Built built = build(kIcon8, ct);
  EXPECT_EQ(built.result, 0);
  EXPECT_EQ(built.printed, kIcon8.read_error);
  EXPECT_EQ(built.icon, Bytes{});

  // Past what a 32-bit file offset reaches, the position itself may fail.
  put_le32(header, 68, 0xFFFFFFF0);
  const Built far = build(kIcn, write_ct("farther.ct", header));
  EXPECT_EQ(far.result, 0);
  EXPECT_TRUE(far.printed == kIcn.read_error || far.printed == "ERROR     File-data corrupted \a\n")
      << far.printed;
  EXPECT_EQ(far.icon, Bytes{});
}

// ---- CT input texts -------------------------------------------------------------

TEST_F(CtInput, FailureTextsWithAndWithoutTrace) {
  const std::string missing = dir_.file("none.ct");
  Bytes header = ct_file(1, 8, Bytes{});
  header.resize(511);
  const std::string cut = write_ct("cut.ct", header);
  const std::string sound = write_ct("ok.ct", ct_file(1, 8, Bytes(8, 0)));
  const struct {
    std::string ct;
    std::string error;
  } cases[] = {
      {missing, "ERROR     opening CT: File " + missing + " not found \a\n"},
      {cut, "ERROR     reading CT-fileheader from " + cut + " \a\n"},
      {sound, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.ct);
    for (const Builder &builder : kBuilders) {
      debug_values.trace_flags = TRACE_CONDITION | TRACE_INSERT;  // other bits: no line
      const Built quiet = build(builder, c.ct);
      EXPECT_EQ(quiet.printed, c.error);
      EXPECT_EQ(quiet.result, c.error.empty() ? 1 : 0);
      EXPECT_EQ(quiet.icon.empty(), !c.error.empty());
      debug_values.trace_flags = TRACE_MSG;
      EXPECT_EQ(build(builder, c.ct).printed, "MSG--> Opening CT-file " + c.ct + "\n" + c.error);
    }
  }
}

TEST_F(CtInput, OnlyMonoImagesAccepted) {
  for (uint32_t channels : {0u, 1u}) {
    SCOPED_TRACE(channels);
    const std::string ct =
        write_ct("mono.ct", ct_file(1, 8, hex("10 20 30 40 50 60 70 80"), channels));
    const Built built = build(kIcon8, ct);
    EXPECT_EQ(built.result, 1);
    EXPECT_EQ(built.icon, hex("10 20 30 40 50 60 70 80"));
  }
  for (uint32_t channels : {2u, 3u, 4u, 0xFFFFu}) {
    SCOPED_TRACE(channels);
    const std::string ct = write_ct("colour.ct", ct_file(1, 8, Bytes(8 * channels, 0), channels));
    const Built built = build(kIcon8, ct);
    EXPECT_EQ(built.result, 0);
    EXPECT_EQ(built.printed, "ERROR     File " + ct + " is not a mono CT-file \a\n");
    EXPECT_EQ(built.icon, Bytes{});
  }
}

TEST_F(CtInput, DataOffsetHonoured) {
  // Header fields least significant byte first; the first row starts at 600
  // (0x258), after 88 bytes of 0xEE that must not be read as pixels.
  Bytes file =
      hex("00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00"    // 0x00: channels 1
          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"    // 0x10
          "02 00 00 00 08 00 00 00 00 00 00 00 00 00 00 00"    // 0x20: rows 2, width 8
          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"    // 0x30
          "00 00 00 00 58 02 00 00 00 00 00 00 00 00 00 00");  // 0x40: data offset 600
  file.resize(512, 0x00);
  file.resize(600, 0xEE);
  const Bytes rows = hex("00 11 22 33 44 55 66 77  88 99 AA BB CC DD EE FF");
  file.insert(file.end(), rows.begin(), rows.end());
  const std::string ct = write_ct("offset.ct", file);

  EXPECT_EQ(build(kIcon8, ct).icon, rows);
  EXPECT_EQ(build(kIcon4, ct).icon, hex("01 23 45 67  89 AB CD EF"));
  EXPECT_EQ(build(kIcn, ct).icon, vt::concat({hex("7F FF"), Bytes(128, 0xFF)}));
}

TEST_F(CtInput, StaleErrnoDoesNotFailSoundImage) {
  const std::string ct = write_ct("ok.ct", ct_file(2, 8, Bytes(16, 0x42)));
  for (const Builder &builder : kBuilders) {
    SCOPED_TRACE(builder.name);
    const Built built = build(builder, ct, EIO);
    EXPECT_EQ(built.result, 1);
    EXPECT_EQ(built.printed, "");
    EXPECT_FALSE(built.icon.empty());
  }
  EXPECT_EQ(vt::count_messages("Writing output file"), 0u);
}

size_t open_descriptor_count() {
  size_t count = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

TEST_F(CtInput, NoFailureLeavesTheImageOpen) {
  Bytes cut = ct_file(1, 8, Bytes{});
  cut.resize(100);
  const std::string images[] = {
      dir_.file("none.ct"),                                     // not found
      write_ct("cut.ct", cut),                                  // header cut short
      write_ct("rgb.ct", ct_file(1, 8, Bytes(24, 0), 3)),       // not mono
      write_ct("wide.ct", ct_file(1, 4096, Bytes(4096, 0))),    // too wide
      write_ct("short.ct", ct_file(32, 32, Bytes(4 * 32, 0))),  // read error
      write_ct("ok.ct", ct_file(32, 32, Bytes(32 * 32, 0))),    // sound
  };
  const size_t before = open_descriptor_count();
  for (const std::string &ct : images) {
    for (const Builder &builder : kBuilders) {
      build(builder, ct);
      EXPECT_EQ(open_descriptor_count(), before) << builder.name << " on " << ct;
    }
  }
}

// ---- Limits -------------------------------------------------------------------

struct SizeCase {
  const Builder *builder;
  int32_t rows;
  int32_t width;
};

std::string refusal(const std::string &ct, const SizeCase &c) {
  return "ERROR     CT-file " + ct + " has " + std::to_string(c.rows) + " rows of " +
         std::to_string(c.width) + " pixels; " + c.builder->accepted_sizes + " \a\n";
}

TEST_F(IconLimits, ImagesOutsideLimitsRefusedWithNothingWritten) {
  const SizeCase cases[] = {
      {&kIcon8, 32, 256},        {&kIcon8, 256, 32},        {&kIcon8, 0, 32},
      {&kIcon8, 32, 0},          {&kIcon8, -1, 32},         {&kIcon8, 32, -1},
      {&kIcon8, 0x7FFFFFFF, 32}, {&kIcon8, 32, 0x7FFFFFFF}, {&kIcon8, INT32_MIN, INT32_MIN},
      {&kIcon4, 32, 255},        {&kIcon4, 32, 256},        {&kIcon4, 32, 31},
      {&kIcon4, 256, 32},        {&kIcon4, 32, -2},         {&kIcn, 32, 12},
      {&kIcn, 32, 256},          {&kIcn, 32, 249},          {&kIcn, 32, 4},
      {&kIcn, 256, 32},          {&kIcn, 32, -8},
  };
  for (const SizeCase &c : cases) {
    SCOPED_TRACE(std::string(c.builder->name) + " " + std::to_string(c.rows) + " x " +
                 std::to_string(c.width));
    // Pixels for a few rows only: nothing may be read, let alone allocated by the header.
    const std::string ct = write_ct("big.ct", ct_file(c.rows, c.width, Bytes(1024, 0x55)));
    const Built built = build(*c.builder, ct);
    EXPECT_EQ(built.result, 0);
    EXPECT_EQ(built.printed, refusal(ct, c));
    EXPECT_EQ(built.icon, Bytes{});
  }
}

TEST_F(IconLimits, BoundarySizesAreWrittenWhole) {
  // The smallest image each builder takes.
  EXPECT_EQ(build(kIcon8, write_ct("a.ct", ct_file(1, 1, hex("9A")))).icon, hex("9A"));
  EXPECT_EQ(build(kIcon4, write_ct("b.ct", ct_file(1, 2, hex("9A 5B")))).icon, hex("95"));
  EXPECT_EQ(build(kIcn, write_ct("c.ct", ct_file(1, 8, hex("00 00 00 00 00 00 00 01")))).icon,
            vt::concat({hex("01"), Bytes(128, 0xFF)}));

  // The largest.
  const auto pattern = [](int32_t r, int32_t c) { return (r * 7 + c * 3) & 0xFF; };

  const Bytes pixels8 = image(255, 255, pattern);
  const Built icon8 = build(kIcon8, write_ct("icon8.ct", ct_file(255, 255, pixels8)));
  EXPECT_EQ(icon8.result, 1);
  EXPECT_EQ(icon8.icon, pixels8);

  const Built icon4 =
      build(kIcon4, write_ct("icon4.ct", ct_file(255, 254, image(255, 254, pattern))));
  EXPECT_EQ(icon4.result, 1);
  ASSERT_EQ(icon4.icon.size(), 255u * 127u);
  // Last byte: pixels (254, 252) and (254, 253).
  EXPECT_EQ(icon4.icon.back(), (pattern(254, 252) & 0xF0) | (pattern(254, 253) >> 4));

  const Built icn = build(kIcn, write_ct("icn.ct", ct_file(255, 248, Bytes(255 * 248, 0x00))));
  EXPECT_EQ(icn.result, 1);
  EXPECT_EQ(icn.icon, vt::concat({Bytes(255 * 31, 0x00), Bytes(128, 0xFF)}));
}

// ---- Through the writer and back through the reader ------------------------------

Bytes fetched;  // what capture_resource read last

int32_t capture_resource(MacBinChannel *channel, int32_t /*data_pos*/, int32_t data_length) {
  fetched.assign(static_cast<size_t>(std::max(data_length, 0)), 0);
  if (data_length > 0) {
    EXPECT_EQ(fgetm(channel->file, fetched.data(), data_length), 1);
  }
  return 0;
}

// The data of one resource, read back through the reader's read handler.
Bytes fetch(MacBinChannel *channel, const char *type, int32_t id) {
  fetched.clear();
  EXPECT_EQ(MacBin_GetResource2(channel, type, id, nullptr), 1) << type << " " << id;
  return fetched;
}

void register_icon_processors() {
  EXPECT_EQ(MacBin_AddProcessor("ICN#", capture_resource, CT_to_ICN), 0);
  EXPECT_EQ(MacBin_AddProcessor("icl8", capture_resource, CT_to_icon8), 0);
  EXPECT_EQ(MacBin_AddProcessor("icl4", capture_resource, CT_to_icon4), 0);
  EXPECT_EQ(MacBin_AddProcessor("ics#", capture_resource, CT_to_ICN), 0);
  EXPECT_EQ(MacBin_AddProcessor("ics8", capture_resource, CT_to_icon8), 0);
  EXPECT_EQ(MacBin_AddProcessor("ics4", capture_resource, CT_to_icon4), 0);
  EXPECT_EQ(MacBin_AddProcessor("FREF", capture_resource, add_FREF), 0);
  EXPECT_EQ(MacBin_AddProcessor("Bndl", nullptr, close_BNDL), 0);
  EXPECT_EQ(MacBin_AddProcessor("BNDL", capture_resource, nullptr), 0);
  EXPECT_EQ(MacBin_AddProcessor("VARN", capture_resource, nullptr), 0);  // the owner resource
}

using IconInsertion = IconTest;
using IconFamily = IconTest;

TEST_F(IconInsertion, FailedImageInsertsNothing) {
  register_icon_processors();
  const std::string short_ct = write_ct("short.ct", ct_file(32, 32, Bytes(4 * 32, 0x11)));
  const std::string missing = dir_.file("none.ct");
  const std::string sound = write_ct("ok.ct", ct_file(32, 32, Bytes(32 * 32, 0x22)));
  const std::string out = dir_.file("icons.bin");

  char apple_name[32] = "Icons";
  MacBinChannel *writer = MacBin_OpenW(out.c_str(), apple_name, "VARN", "APPL");
  ASSERT_NE(writer, nullptr);
  std::string printed;
  {
    vt::CaptureStdout capture;
    MacBin_AddResource(writer, ("icl8 128 \"\" " + short_ct).c_str());
    MacBin_AddResource(writer, ("icl4 128 \"\" " + short_ct).c_str());
    MacBin_AddResource(writer, ("ICN# 128 \"\" " + short_ct).c_str());
    MacBin_AddResource(writer, ("icl8 129 \"\" " + missing).c_str());
    MacBin_AddResource(writer, ("icl8 130 \"\" " + sound).c_str());
    printed = capture.text();
  }
  MacBin_Close(writer);

  EXPECT_EQ(printed, std::string(kIcon8.read_error) + kIcon4.read_error + kIcn.read_error +
                         "ERROR     opening CT: File " + missing + " not found \a\n");
  for (const char *text :
       {"resource <icl8>, ID 128 not inserted", "resource <icl4>, ID 128 not inserted",
        "resource <ICN#>, ID 128 not inserted", "resource <icl8>, ID 129 not inserted"}) {
    EXPECT_EQ(vt::count_messages(text), 1u) << text;
  }
  for (const vt::Message &m : vt::recorded_messages()) {
    if (m.text.find("not inserted") != std::string::npos) {
      EXPECT_EQ(m.severity, MACBIN_WARNING);
    }
  }

  MacBinChannel *reader = MacBin_OpenR(out.c_str());
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(MacBin_GetNrResources(reader, "icl8"), 1);  // only the sound image
  EXPECT_EQ(MacBin_GetNrResources(reader, "icl4"), 0);
  EXPECT_EQ(MacBin_GetNrResources(reader, "ICN#"), 0);
  EXPECT_EQ(MacBin_CheckResource2(reader, "icl8", 128, nullptr), 0);
  EXPECT_EQ(fetch(reader, "icl8", 130), Bytes(1024, 0x22));
  MacBin_Close(reader);
}

// A 32 x 32 and a 16 x 16 image whose pixels show where they came from.
struct FamilyImages {
  Bytes large = image(32, 32, [](int32_t r, int32_t c) { return (r * 32 + c) % 251; });
  Bytes small = image(16, 16, [](int32_t r, int32_t c) { return (r + c) % 3 == 0 ? 0 : 0xF0 + r; });
};

// Writes the whole family, FREF and bundle into `out`.
void write_family(const std::string &out, const std::string &large_ct,
                  const std::string &small_ct) {
  char apple_name[32] = "Icon Family";
  MacBinChannel *writer = MacBin_OpenW(out.c_str(), apple_name, "VARN", "APPL");
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(MacBin_PutBuf("family", 6, 6), 0);  // a data fork
  vt::CaptureStdout quiet;                      // nothing should be printed
  for (const std::string &line :
       {"ICN# 128 \"\" " + large_ct, "icl8 128 \"\" " + large_ct, "icl4 128 \"\" " + large_ct,
        "ics# 128 \"\" " + small_ct, "ics8 128 \"\" " + small_ct, "ics4 128 \"\" " + small_ct,
        std::string("FREF 128 \"\" APPL 128"), std::string("BNDL \"Icon Family 1.0\"")})
    MacBin_AddResource(writer, line.c_str());
  MacBin_Close(writer);
  EXPECT_EQ(quiet.text(), "");
}

TEST_F(IconFamily, FullFamilyReadBack) {
  register_icon_processors();
  const FamilyImages images;
  const std::string large_ct = write_ct("large.ct", ct_file(32, 32, images.large));
  const std::string small_ct = write_ct("small.ct", ct_file(16, 16, images.small));
  const std::string out = dir_.file("family.bin");
  write_family(out, large_ct, small_ct);
  EXPECT_EQ(vt::count_messages("resource <ICN#>, ID 128 not inserted"), 0u);

  MacBinChannel *reader = MacBin_OpenR(out.c_str());
  ASSERT_NE(reader, nullptr);
  // Six icon types, FREF, the owner resource and the bundle.
  EXPECT_EQ(MacBin_GetNrTypes(reader), 9);
  // Each resource holds what its builder makes of the image, at the family's size.
  const std::vector<std::tuple<const char *, const Builder *, std::string, size_t>> icons = {
      {"ICN#", &kIcn, large_ct, 256}, {"icl8", &kIcon8, large_ct, 1024},
      {"icl4", &kIcon4, large_ct, 512}, {"ics#", &kIcn, small_ct, 64},
      {"ics8", &kIcon8, small_ct, 256}, {"ics4", &kIcon4, small_ct, 128}};
  for (const auto &[type, builder, ct, size] : icons) {
    const Bytes data = fetch(reader, type, 128);
    EXPECT_EQ(data.size(), size) << type;
    EXPECT_EQ(data, build(*builder, ct).icon) << type;
  }
  EXPECT_EQ(fetch(reader, "icl8", 128), images.large);
  EXPECT_EQ(fetch(reader, "FREF", 128), hex("41 50 50 4C 00 00 00"));  // "APPL", local ID 0, ""
  EXPECT_EQ(
      fetch(reader, "BNDL", 128),
      hex("56 41 52 4E 00 00 00 01 46 52 45 46 00 00 00 00"  // 0x00: "VARN", 0, 1 type, "FREF", 1
                                                             // entry
          "00 80 49 43 4E 23 00 00 00 00 00 80"));  // 0x10: (0, 128), "ICN#", 1 entry, (0, 128)
  EXPECT_EQ(fetch(reader, "VARN", 0), vt::concat({hex("0F"), vt::bytes_of("Icon Family 1.0")}));
  MacBin_Close(reader);
}

// Every resource of a resource fork, as "TYPE id" -> data, read with no
// help from the library: the fork header, the map's type list and each
// type's references.
std::map<std::string, Bytes> resources_of_fork(const Bytes &fork) {
  std::map<std::string, Bytes> resources;
  const auto at = [&](size_t offset, size_t size) {
    if (offset + size > fork.size()) throw std::out_of_range("resource fork too short");
    return fork.data() + offset;
  };
  const size_t data_start = get_be32(at(0, 4));
  const size_t map_start = get_be32(at(4, 4));
  const size_t type_list = map_start + get_be16(at(map_start + 24, 2));
  const size_t type_count = get_be16(at(type_list, 2)) + 1u;
  for (size_t t = 0; t < type_count; ++t) {
    const uint8_t *item = at(type_list + 2 + 8 * t, 8);
    const std::string type(reinterpret_cast<const char *>(item), 4);
    const size_t ref_count = get_be16(item + 4) + 1u;
    const size_t refs = type_list + get_be16(item + 6);
    for (size_t r = 0; r < ref_count; ++r) {
      const uint8_t *ref = at(refs + 12 * r, 12);
      const size_t data = data_start + get_be24(ref + 5);
      const size_t length = get_be32(at(data, 4));
      const uint8_t *bytes = at(data + 4, length);
      resources[type + " " + std::to_string(get_be16(ref))] = Bytes(bytes, bytes + length);
    }
  }
  return resources;
}

TEST_F(IconFamily, SplitByMacunpack) {
  const std::string macunpack = vt::require_peer("macunpack", "macutils");
  if (macunpack.empty()) GTEST_SKIP() << "macutils not installed";
  register_icon_processors();
  const FamilyImages images;
  const std::string large_ct = write_ct("large.ct", ct_file(32, 32, images.large));
  const std::string small_ct = write_ct("small.ct", ct_file(16, 16, images.small));
  ASSERT_EQ(MacBin_SetFormat(MACBIN_FORMAT_II), 1);
  write_family(dir_.file("family.bin"), large_ct, small_ct);

  std::string output;
  ASSERT_EQ(vt::run_command(
                "cd '" + dir_.path().string() + "' && '" + macunpack + "' -3 family.bin", &output),
            0)
      << output;
  EXPECT_EQ(vt::read_file(dir_.file("Icon_Family.data")), vt::bytes_of("family"));
  const Bytes info = vt::read_file(dir_.file("Icon_Family.info"));
  ASSERT_GE(info.size(), 73u);
  EXPECT_EQ(Bytes(info.begin() + 65, info.begin() + 73), vt::bytes_of("APPLVARN"));

  const std::map<std::string, Bytes> resources =
      resources_of_fork(vt::read_file(dir_.file("Icon_Family.rsrc")));
  EXPECT_EQ(resources.size(), 9u);
  for (const auto &[type, builder, ct] :
       std::vector<std::tuple<const char *, const Builder *, std::string>>{
           {"ICN#", &kIcn, large_ct}, {"icl8", &kIcon8, large_ct}, {"icl4", &kIcon4, large_ct},
           {"ics#", &kIcn, small_ct}, {"ics8", &kIcon8, small_ct}, {"ics4", &kIcon4, small_ct}}) {
    EXPECT_EQ(resources.at(std::string(type) + " 128"), build(*builder, ct).icon) << type;
  }
  EXPECT_EQ(resources.at("FREF 128").size(), 7u);
  EXPECT_EQ(resources.at("BNDL 128").size(), 28u);
}

}  // namespace

// ---- Out of memory ----------------------------------------------------------------
// Every allocation from `fail_from` on fails while `failing` is set, so that a
// sweep reaches each allocation of one builder call in turn.

namespace {
bool failing = false;
long allocations_left = 0;

void *allocate(std::size_t size) noexcept {
  if (failing) {
    if (allocations_left <= 0) return nullptr;
    --allocations_left;
  }
  return std::malloc(size == 0 ? 1 : size);
}

// Out of line, so that the compiler does not pair an inlined delete's free
// with the operator new it sees and warn about a mismatch.
[[gnu::noinline]] void release(void *block) noexcept { std::free(block); }
}  // namespace

void *operator new(std::size_t size) {
  void *block = allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return allocate(size); }
void operator delete(void *block) noexcept { release(block); }
void operator delete(void *block, std::size_t) noexcept { release(block); }

namespace {

TEST_F(CtInput, AllocationFailuresAreReportedNotFatal) {
  const std::string ct = write_ct("ok.ct", ct_file(32, 32, Bytes(32 * 32, 0x80)));
  const std::string memory_texts[] = {
      "ERROR     initializing FDB \a\n",
      "ERROR     opening CT: File " + ct + " not found \a\n",  // the file's buffer
      "ERROR     allocating working space (CT_finit) \a\n",
      "ERROR     allocating memory \a\n",
  };
  const size_t descriptors = open_descriptor_count();
  bool succeeded = false;
  std::vector<std::string> seen;
  for (long allowed = 0; allowed < 100 && !succeeded; ++allowed) {
    SCOPED_TRACE(allowed);
    const std::string out_path = dir_.file("icon.out");
    TesselFile *file = fopenw(fdbset(0, "STREAM,SEQUENTIAL"), out_path.c_str(), "", 0);
    ASSERT_NE(file, nullptr);
    outfile = file;
    int32_t result;
    std::string printed;
    {
      vt::CaptureStdout capture;
      allocations_left = allowed;
      failing = true;
      result = CT_to_icon8(nullptr, ct.c_str());
      failing = false;
      printed = capture.text();
    }
    ASSERT_EQ(fclosx(file), 0);
    fdbfree(file);
    outfile = nullptr;
    const Bytes icon = vt::read_file(out_path);
    if (result == 1) {
      succeeded = true;
      EXPECT_EQ(printed, "");
      EXPECT_EQ(icon, Bytes(1024, 0x80));
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(icon, Bytes{});
      EXPECT_NE(std::find(std::begin(memory_texts), std::end(memory_texts), printed),
                std::end(memory_texts))
          << printed;
    }
    EXPECT_EQ(open_descriptor_count(), descriptors);
    seen.push_back(printed);
  }
  EXPECT_TRUE(succeeded);
  // The first allocation (the file description) and the last (the icon's
  // own buffer) were both reached.
  EXPECT_EQ(seen.front(), memory_texts[0]);
  EXPECT_NE(std::find(seen.begin(), seen.end(), memory_texts[3]), seen.end());
}

}  // namespace
