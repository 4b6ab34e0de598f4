// Icon builders and their CT input: golden icon bytes, the printed texts,
// refusal of images outside the builders' limits, what a failure leaves
// behind (no bytes, no open file, no ended process), and icon families
// through the writer and back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "support/image_host.hpp"
#include "support/support.hpp"
#include "varnel.h"

// While `failing` is set, only `allocations_left` more allocations succeed,
// so that a sweep reaches each allocation of one builder call in turn.
namespace {
bool failing = false;
long allocations_left = 0;

void *allocate(std::size_t size) noexcept {
  if (failing && allocations_left-- <= 0) return nullptr;
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

using vt::Bytes;
using vt::ct_file;
using vt::hex;
using vt::set_le32;

// Pixels of a rows x width image, each pixel given by `pixel(row, column)`.
template <typename Pixel>
Bytes image(int32_t rows, int32_t width, Pixel pixel) {
  Bytes pixels;
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < width; ++c) pixels.push_back(static_cast<uint8_t>(pixel(r, c)));
  return pixels;
}

long open_descriptor_count() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
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
const Bytes kIcnMask = vt::repeat(0xFF, 128);

class IconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::init_recording();
    vt::set_trace_flags(0);
  }
  void TearDown() override { vt::set_trace_flags(0); }

  std::string write_ct(const std::string &name, const Bytes &bytes) {
    const std::string path = dir_.file(name);
    vt::write_file(path, bytes);
    return path;
  }

  // Runs a builder the way the resource inserter does, with `outfile` an open
  // scratch file of its own, so that the file's bytes are exactly what it
  // wrote.  errno holds `stale_errno` at the call, as a host might leave it;
  // with `allowed_allocations` >= 0 every allocation after that many fails.
  // No call may leave a file open.
  Built build(const Builder &builder, const std::string &ct, int stale_errno = 0,
              long allowed_allocations = -1) {
    const long descriptors = open_descriptor_count();
    Built built{};
    {
      vt::ScratchOutput out;
      {
        vt::CaptureStdout capture;
        errno = stale_errno;
        allocations_left = allowed_allocations;
        failing = allowed_allocations >= 0;
        built.result = builder.build(nullptr, ct.c_str());
        failing = false;
        built.printed = capture.text();
      }
      EXPECT_EQ(out.close(), 0);
      built.icon = out.bytes();
    }
    EXPECT_EQ(open_descriptor_count(), descriptors) << builder.name << " on " << ct;
    return built;
  }

  // Expects `result` and what is printed (the trace line first when asked
  // for; other trace bits print nothing) under both trace settings.
  Built expect_built(const Builder &builder, const std::string &ct, int32_t result,
                     const std::string &text, int stale_errno = 0) {
    Built built{};
    for (uint32_t flags : {vt::kTraceCondition | vt::kTraceInsert, vt::kTraceMsg}) {
      vt::set_trace_flags(flags);
      built = build(builder, ct, stale_errno);
      EXPECT_EQ(built.result, result) << builder.name << " on " << ct;
      EXPECT_EQ(built.printed,
                (flags == vt::kTraceMsg ? "MSG--> Opening CT-file " + ct + "\n" : "") + text)
          << builder.name;
    }
    vt::set_trace_flags(0);
    return built;
  }
  // A refusal writes nothing: no rows, no mask.
  void expect_refused(const Builder &builder, const std::string &ct, const std::string &text) {
    EXPECT_EQ(expect_built(builder, ct, 0, text).icon, Bytes{}) << builder.name;
  }

  vt::TempDir dir_;
};

using IconBuilders = IconTest;
using CtInput = IconTest;

TEST_F(IconBuilders, GoldenIcons) {
  // The first row starts at 600 (0x258), after 88 bytes of 0xEE that must
  // not be read as pixels.
  Bytes offset_ct =
      hex("00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00"    // 0x00: channels 1
          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"    // 0x10
          "02 00 00 00 08 00 00 00 00 00 00 00 00 00 00 00"    // 0x20: rows 2, width 8
          "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"    // 0x30
          "00 00 00 00 58 02 00 00 00 00 00 00 00 00 00 00");  // 0x40: data offset 600
  offset_ct.resize(512, 0x00);
  offset_ct.resize(600, 0xEE);
  const Bytes two_rows = hex("00 11 22 33 44 55 66 77  88 99 AA BB CC DD EE FF");
  offset_ct.insert(offset_ct.end(), two_rows.begin(), two_rows.end());
  // 1 is black for ICN but its high nibble is 0 for icon4; (AB, CD) keeps A and C.
  const Bytes row = hex("01 00 AB CD 80 00 00 FF");
  const Bytes large8 = image(255, 255, [](int32_t r, int32_t c) { return r * 7 + c * 3; });
  // icon4 keeps each pixel's high nibble: row number, then column pair.
  const Bytes large4 = image(255, 254, [](int32_t r, int32_t c) {
    return c % 2 == 0 ? (r & 15) << 4 | 0x0F : (c / 2 & 15) << 4 | 0x0A;
  });
  const Bytes large1 = image(255, 248, [](int32_t, int32_t c) { return c / 8 % 2; });
  struct Case {
    const char *what;
    const Builder &builder;
    Bytes ct;
    Bytes icon;
  };
  const Case cases[] = {
      {"all zero", kIcon8, ct_file(32, 32, Bytes(1024, 0)), Bytes(1024, 0)},
      {"all zero", kIcon4, ct_file(32, 32, Bytes(1024, 0)), Bytes(512, 0)},
      {"all zero", kIcn, ct_file(32, 32, Bytes(1024, 0)), vt::concat({Bytes(128, 0), kIcnMask})},
      {"values as they stand", kIcon8, ct_file(1, 8, row), row},
      {"values as they stand", kIcon4, ct_file(1, 8, row), hex("00 AC 80 0F")},
      {"values as they stand", kIcn, ct_file(1, 8, row), vt::concat({hex("B9"), kIcnMask})},
      {"channels 0 is mono", kIcon8, ct_file(1, 8, row, 0), row},
      // The mask's length follows the row width alone.
      {"16 wide", kIcn, ct_file(3, 16, Bytes(48, 1)), vt::repeat(0xFF, 6 + 32)},
      {"24 wide", kIcn, ct_file(16, 24, Bytes(384, 1)), vt::repeat(0xFF, 48 + 128)},
      {"data offset", kIcon8, offset_ct, two_rows},
      {"data offset", kIcon4, offset_ct, hex("01 23 45 67  89 AB CD EF")},
      {"data offset", kIcn, offset_ct, vt::concat({hex("7F FF"), kIcnMask})},
      {"smallest", kIcon8, ct_file(1, 1, hex("9A")), hex("9A")},
      {"smallest", kIcon4, ct_file(1, 2, hex("9A 5B")), hex("95")},
      {"smallest", kIcn, ct_file(1, 8, hex("00 00 00 00 00 00 00 01")),
       vt::concat({hex("01"), kIcnMask})},
      {"largest", kIcon8, ct_file(255, 255, large8), large8},
      {"largest", kIcon4, ct_file(255, 254, large4),
       image(255, 127, [](int32_t r, int32_t k) { return (r & 15) << 4 | (k & 15); })},
      {"largest", kIcn, ct_file(255, 248, large1),
       vt::concat({image(255, 31, [](int32_t, int32_t k) { return k % 2 == 0 ? 0 : 0xFF; }),
                   kIcnMask})},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.builder.name) + ", " + c.what);
    // A stale errno from the host must not fail a sound image.
    EXPECT_EQ(expect_built(c.builder, write_ct("golden.ct", c.ct), 1, "", EIO).icon, c.icon);
  }
  EXPECT_EQ(vt::count_messages("Writing output file"), 0u);
}

TEST_F(CtInput, UnreadableFilesAreRefused) {
  const std::string missing = dir_.file("none.ct");
  Bytes header = ct_file(2, 8, Bytes{});
  header.resize(511);
  const std::string cut = write_ct("cut.ct", header);
  header.resize(512);
  set_le32(header, 68, 0x10000);  // the file ends right after the header
  const std::string far = write_ct("far.ct", header);
  // The header promises 32 rows; the file holds four.
  const std::string short_ct = write_ct("short.ct", ct_file(32, 32, Bytes(4 * 32, 0x11)));
  for (const Builder &builder : kBuilders) {
    expect_refused(builder, missing, "ERROR     opening CT: File " + missing + " not found \a\n");
    expect_refused(builder, cut, "ERROR     reading CT-fileheader from " + cut + " \a\n");
    expect_refused(builder, short_ct, builder.read_error);
    expect_refused(builder, far, builder.read_error);
  }
}

TEST_F(CtInput, DataOffsetPast32BitPositionsIsRefused) {
  // Past what a 32-bit file offset reaches, the position itself may fail.
  Bytes header = ct_file(2, 8, Bytes{});
  set_le32(header, 68, 0xFFFFFFF0);
  const Built farther = build(kIcn, write_ct("farther.ct", header));
  EXPECT_EQ(farther.result, 0);
  EXPECT_TRUE(farther.printed == kIcn.read_error ||
              farther.printed == "ERROR     File-data corrupted \a\n")
      << farther.printed;
  EXPECT_EQ(farther.icon, Bytes{});
}

TEST_F(CtInput, ColourFilesAreRefused) {
  for (const Builder &builder : kBuilders) {
    for (const uint16_t channels : {uint16_t{2}, uint16_t{3}, uint16_t{4}, uint16_t{0xFFFF}}) {
      const std::string colour =
          write_ct("colour.ct", ct_file(1, 8, Bytes(8u * channels, 0), channels));
      expect_refused(builder, colour, "ERROR     File " + colour + " is not a mono CT-file \a\n");
    }
  }
}

TEST_F(CtInput, SizesOutsideEachBuildersLimitsAreRefused) {
  const struct {
    const Builder &builder;
    int32_t rows, width;
  } cases[] = {
      {kIcon8, 32, 256},  {kIcon8, 256, 32},        {kIcon8, 0, 32},
      {kIcon8, 32, 0},    {kIcon8, -1, 32},         {kIcon8, 32, -1},
      {kIcon8, 0x7FFFFFFF, 32}, {kIcon8, 32, 0x7FFFFFFF}, {kIcon8, INT32_MIN, INT32_MIN},
      {kIcon4, 32, 255},  {kIcon4, 32, 256},        {kIcon4, 32, 31},
      {kIcon4, 256, 32},  {kIcon4, 32, -2},         {kIcn, 32, 12},
      {kIcn, 32, 256},    {kIcn, 32, 249},          {kIcn, 32, 4},
      {kIcn, 256, 32},    {kIcn, 32, -8},
  };
  for (const auto &c : cases) {
    // Pixels for a few rows only: nothing may be read, let alone allocated by the header.
    const std::string ct = write_ct("big.ct", ct_file(c.rows, c.width, Bytes(1024, 0x55)));
    expect_refused(c.builder, ct,
                   "ERROR     CT-file " + ct + " has " + std::to_string(c.rows) + " rows of " +
                       std::to_string(c.width) + " pixels; " + c.builder.accepted_sizes + " \a\n");
  }
}

TEST_F(CtInput, AllocationFailuresAreReportedNotFatal) {
  const std::string ct = write_ct("ok.ct", ct_file(32, 32, Bytes(32 * 32, 0x80)));
  const std::vector<std::string> memory_texts = {
      "ERROR     initializing FDB \a\n",
      "ERROR     opening CT: File " + ct + " not found \a\n",  // the file's buffer
      "ERROR     allocating working space (CT_finit) \a\n",
      "ERROR     allocating memory \a\n",
  };
  std::vector<std::string> seen;
  for (long allowed = 0; allowed < 100; ++allowed) {
    SCOPED_TRACE(allowed);
    const Built built = build(kIcon8, ct, 0, allowed);
    seen.push_back(built.printed);
    if (built.result == 1) {
      EXPECT_EQ(built.icon, Bytes(1024, 0x80));
      break;
    }
    EXPECT_EQ(built.result, 0);
    EXPECT_EQ(built.icon, Bytes{});
    EXPECT_NE(std::find(memory_texts.begin(), memory_texts.end(), built.printed),
              memory_texts.end())
        << built.printed;
  }
  EXPECT_EQ(seen.back(), "") << "never succeeded";
  // The first allocation (the file description) and the last (the icon's
  // own buffer) were both reached.
  EXPECT_EQ(seen.front(), memory_texts[0]);
  EXPECT_NE(std::find(seen.begin(), seen.end(), memory_texts[3]), seen.end());
}

// ---- Masked ICN# from a second image -------------------------------------------------

// CT_to_ICN_masked as a Builder: the mask image's path comes from here.
std::string mask_for_build;
int32_t build_masked(MacBinChannel *channel, const char *path) {
  return CT_to_ICN_masked(channel, path, mask_for_build.c_str());
}
const Builder kMasked{"CT_to_ICN_masked", build_masked, "ERROR reading CT-data \a \n",
                      "a 1-bit icon takes 1 to 255 rows of 8 to 248 pixels, a multiple of 8"};

using MaskedIcn = IconTest;

// A 32 x 32 icon with a known shape: a disc of radius 12 around (15.5, 15.5)
// as the mask, and a checkerboard of 2-pixel squares as the icon.  The mask
// pixels use several non-zero values (1, 0x80, 0xFF): all are inside.
int disc_pixel(int32_t r, int32_t c) {
  const int dr = 2 * r - 31;
  const int dc = 2 * c - 31;
  if (dr * dr + dc * dc > 24 * 24) return 0;
  return (r + c) % 3 == 0 ? 1 : (r % 2 == 0 ? 0x80 : 0xFF);
}
int checker_pixel(int32_t r, int32_t c) { return (r / 2 + c / 2) % 2 == 0 ? 0x40 : 0; }

TEST_F(MaskedIcn, TakesItsMaskFromTheSecondImage) {
  const std::string icon = write_ct("icon.ct", ct_file(32, 32, image(32, 32, checker_pixel)));
  mask_for_build = write_ct("mask.ct", ct_file(32, 32, image(32, 32, disc_pixel)));
  // The disc, row by row: rows 4 to 27, symmetric about the middle.
  const Bytes disc_mask = hex(
      "00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00"   // rows 0-3
      "00 07 E0 00  00 3F FC 00  00 7F FE 00  00 FF FF 00"   // rows 4-7
      "01 FF FF 80  03 FF FF C0  07 FF FF E0  07 FF FF E0"   // rows 8-11
      "07 FF FF E0  0F FF FF F0  0F FF FF F0  0F FF FF F0"   // rows 12-15
      "0F FF FF F0  0F FF FF F0  0F FF FF F0  07 FF FF E0"   // rows 16-19
      "07 FF FF E0  07 FF FF E0  03 FF FF C0  01 FF FF 80"   // rows 20-23
      "00 FF FF 00  00 7F FE 00  00 3F FC 00  00 07 E0 00"   // rows 24-27
      "00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00");  // rows 28-31
  const Bytes checker_bits =
      image(32, 4, [](int32_t r, int32_t) { return (r / 2) % 2 == 0 ? 0xCC : 0x33; });
  const Built built = build(kMasked, icon);
  EXPECT_EQ(built.result, 1);
  EXPECT_EQ(built.printed, "");
  ASSERT_EQ(built.icon.size(), 256u);
  EXPECT_EQ(vt::slice(built.icon, 0, 128), checker_bits);
  EXPECT_EQ(vt::slice(built.icon, 128, 128), disc_mask);
  // The icon's half is exactly what CT_to_ICN makes, and CT_to_ICN itself
  // keeps its fully set mask.
  const Built plain = build(kIcn, icon);
  EXPECT_EQ(plain.icon, vt::concat({checker_bits, kIcnMask}));

  // Both images are opened, one after the other; the trace says so.
  vt::set_trace_flags(vt::kTraceMsg);
  const Built traced = build(kMasked, icon);
  vt::set_trace_flags(0);
  EXPECT_EQ(traced.icon, built.icon);
  EXPECT_EQ(traced.printed, "MSG--> Opening CT-file " + icon + "\nMSG--> Opening CT-file " +
                                mask_for_build + "\n");
}

TEST_F(MaskedIcn, IcsAndOtherSizes) {
  const struct {
    const char *what;
    int32_t rows, width;
    Bytes icon_pixels, mask_pixels, data;
  } cases[] = {
      // ics#: 16 x 16, the left half opaque, a diagonal icon.
      {"16 x 16", 16, 16, image(16, 16, [](int32_t r, int32_t c) { return r == c ? 9 : 0; }),
       image(16, 16, [](int32_t, int32_t c) { return c < 8 ? 0xFF : 0; }),
       vt::concat({image(16, 2,
                         [](int32_t r, int32_t k) {
                           return k == r / 8 ? 0x80 >> (r % 8) : 0;
                         }),
                   image(16, 2, [](int32_t, int32_t k) { return k == 0 ? 0xFF : 0; })})},
      // The mask is as long as the image, whatever its size.
      {"3 rows of 16", 3, 16, Bytes(48, 0), Bytes(48, 1),
       vt::concat({Bytes(6, 0), Bytes(6, 0xFF)})},
      {"one row of 8", 1, 8, hex("01 00 AB CD 80 00 00 FF"), hex("00 FF 00 FF 00 00 01 01"),
       hex("B9 53")},
      {"all outside", 32, 32, Bytes(1024, 0xFF), Bytes(1024, 0),
       vt::concat({vt::repeat(0xFF, 128), Bytes(128, 0)})},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string icon = write_ct("icon.ct", ct_file(c.rows, c.width, c.icon_pixels));
    mask_for_build = write_ct("mask.ct", ct_file(c.rows, c.width, c.mask_pixels));
    const Built built = build(kMasked, icon);
    EXPECT_EQ(built.result, 1);
    EXPECT_EQ(built.printed, "");
    EXPECT_EQ(built.icon, c.data);
  }
}

TEST_F(MaskedIcn, WithoutAMaskImageItIsCtToIcn) {
  const std::string icon = write_ct("icon.ct", ct_file(16, 24, Bytes(384, 1)));
  for (const char *none : {"", static_cast<const char *>(nullptr)}) {
    vt::ScratchOutput out;
    vt::CaptureStdout capture;
    EXPECT_EQ(CT_to_ICN_masked(nullptr, icon.c_str(), none), 1);
    EXPECT_EQ(out.close(), 0);
    EXPECT_EQ(out.bytes(), vt::repeat(0xFF, 48 + 128));  // CT_to_ICN's mask of 128 bytes
  }
}

TEST_F(MaskedIcn, RefusesAMaskItCannotUse) {
  const std::string icon = write_ct("icon.ct", ct_file(32, 32, Bytes(1024, 1)));
  const std::string small = write_ct("small.ct", ct_file(16, 16, Bytes(256, 1)));
  const std::string wide = write_ct("wide.ct", ct_file(32, 40, Bytes(1280, 1)));
  const std::string colour = write_ct("colour.ct", ct_file(32, 32, Bytes(3072, 1), 3));
  const std::string short_mask = write_ct("short.ct", ct_file(32, 32, Bytes(4 * 32, 1)));
  const std::string missing = dir_.file("none.ct");
  const std::string odd = write_ct("odd.ct", ct_file(32, 12, Bytes(384, 1)));
  const struct {
    std::string mask;
    std::string text;
  } cases[] = {
      {small, "ERROR     CT-mask " + small + " has 16 rows of 16 pixels; the icon " + icon +
                  " has 32 rows of 32 \a\n"},
      {wide, "ERROR     CT-mask " + wide + " has 32 rows of 40 pixels; the icon " + icon +
                 " has 32 rows of 32 \a\n"},
      {colour, "ERROR     File " + colour + " is not a mono CT-file \a\n"},
      {missing, "ERROR     opening CT: File " + missing + " not found \a\n"},
      {odd, "ERROR     CT-file " + odd + " has 32 rows of 12 pixels; " +
                kMasked.accepted_sizes + " \a\n"},
      {short_mask, "ERROR     reading CT-mask data from " + short_mask + " \a\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.mask);
    mask_for_build = c.mask;
    const Built built = build(kMasked, icon);
    EXPECT_EQ(built.result, 0);
    EXPECT_EQ(built.icon, Bytes{});  // neither the icon's bits nor a mask
    EXPECT_EQ(built.printed, c.text);
  }
  // A sound mask with an icon that cannot be read: the icon's own texts.
  mask_for_build = icon;
  const std::string short_icon = write_ct("short-icon.ct", ct_file(32, 32, Bytes(64, 1)));
  EXPECT_EQ(build(kMasked, short_icon).printed, kMasked.read_error);
  EXPECT_EQ(build(kMasked, missing).printed,
            "ERROR     opening CT: File " + missing + " not found \a\n");
}

// ---- Through the writer and back ---------------------------------------------------

Bytes fetched;  // what capture_resource read last

int32_t capture_resource(MacBinChannel *channel, int32_t /*data_pos*/, int32_t data_length) {
  fetched.assign(static_cast<size_t>(std::max(data_length, 0)), 0);
  if (data_length > 0) {
    EXPECT_EQ(fgetm(channel->file, fetched.data(), data_length), 1);
  }
  return 0;
}

Bytes fetch(MacBinChannel *channel, const char *type, int32_t id) {
  fetched.clear();
  EXPECT_EQ(MacBin_GetResource2(channel, type, id, nullptr), 1) << type << " " << id;
  return fetched;
}

// Six icons from a 32 x 32 and a 16 x 16 image whose pixels show where they
// came from, with a FREF and a bundle, after a data fork; before them, icons
// from images that fail, which must leave nothing behind.
TEST_F(IconBuilders, FamilyThroughTheWriterAndReader) {
  const std::pair<const char *, MacBinWriteHandler> processors[] = {
      {"ICN#", CT_to_ICN}, {"icl8", CT_to_icon8}, {"icl4", CT_to_icon4},
      {"ics#", CT_to_ICN}, {"ics8", CT_to_icon8}, {"ics4", CT_to_icon4},
      {"FREF", add_FREF},  {"BNDL", nullptr},     {"VARN", nullptr}};  // VARN: the owner resource
  for (const auto &[type, writer] : processors)
    ASSERT_EQ(MacBin_AddProcessor(type, capture_resource, writer), 0);
  ASSERT_EQ(MacBin_AddProcessor("Bndl", nullptr, close_BNDL), 0);
  const auto large_pixel = [](int r, int c) { return (r * 32 + c) % 251; };
  const auto small_pixel = [](int r, int c) { return (r + c) % 3 == 0 ? 0 : 0xF0 + r; };
  const std::string large = write_ct("large.ct", ct_file(32, 32, image(32, 32, large_pixel)));
  const std::string small = write_ct("small.ct", ct_file(16, 16, image(16, 16, small_pixel)));
  const std::string short_ct = write_ct("short.ct", ct_file(32, 32, Bytes(4 * 32, 0x11)));
  const std::string missing = dir_.file("none.ct");
  const struct {
    const char *type;
    const Builder &builder;
    const std::string &ct;
    size_t size;
  } icons[] = {{"ICN#", kIcn, large, 256},  {"icl8", kIcon8, large, 1024},
               {"icl4", kIcon4, large, 512}, {"ics#", kIcn, small, 64},
               {"ics8", kIcon8, small, 256}, {"ics4", kIcon4, small, 128}};

  const std::string out = dir_.file("family.bin");
  char apple_name[32] = "Icon Family";
  MacBinChannel *writer = MacBin_OpenW(out.c_str(), apple_name, "VARN", "APPL");
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(MacBin_PutBuf("family", 6, 6), 0);
  vt::CaptureStdout printed;
  for (const char *type : {"icl8", "icl4", "ICN#"})
    MacBin_AddResource(writer, (std::string(type) + " 129 \"\" " + short_ct).c_str());
  MacBin_AddResource(writer, ("icl8 130 \"\" " + missing).c_str());
  for (const auto &icon : icons)
    MacBin_AddResource(writer, (std::string(icon.type) + " 128 \"\" " + icon.ct).c_str());
  MacBin_AddResource(writer, "FREF 128 \"\" APPL 128");
  MacBin_AddResource(writer, "BNDL \"Icon Family 1.0\"");
  MacBin_Close(writer);
  EXPECT_EQ(printed.text(), std::string(kIcon8.read_error) + kIcon4.read_error +
                                kIcn.read_error + "ERROR     opening CT: File " + missing +
                                " not found \a\n");
  const auto &messages = vt::recorded_messages();
  for (const char *text :
       {"resource <icl8>, ID 129 not inserted", "resource <icl4>, ID 129 not inserted",
        "resource <ICN#>, ID 129 not inserted", "resource <icl8>, ID 130 not inserted"}) {
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(), [&](const vt::Message &m) {
                return m.text == text && m.severity == MACBIN_WARNING;
              }), 1) << text;
  }

  MacBinChannel *reader = MacBin_OpenR(out.c_str());
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(MacBin_GetNrTypes(reader), 9);  // six icon types, FREF, owner resource, bundle
  for (const auto &icon : icons) {
    EXPECT_EQ(MacBin_GetNrResources(reader, icon.type), 1) << icon.type;  // no failed one
    const Bytes data = fetch(reader, icon.type, 128);
    EXPECT_EQ(data.size(), icon.size) << icon.type;
    EXPECT_EQ(data, build(icon.builder, icon.ct).icon) << icon.type;
  }
  MacBin_Close(reader);
}

}  // namespace
