// The picture subsystem: PackBits, the preview's colour tables and row
// conversion, the PICT preview and its mask region, and real readers of what
// we write.  Previews come from a test host that serves synthetic images
// from memory through the image-access methods and records every call.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "frame/internal.hpp"
#include "picture/internal.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;
using Calls = std::vector<std::string>;

// ---- PackBits ----------------------------------------------------------------

Bytes pack(const Bytes &source) {
  Bytes packed(packbits_worst_case(source.size()) + 16, 0xEE);
  const int32_t n = PackBits(source.data(), packed.data(), static_cast<uint32_t>(source.size()));
  EXPECT_GE(n, 0);
  packed.resize(static_cast<size_t>(n));
  return packed;
}

Bytes ramp(int first, int last) {
  Bytes bytes;
  for (int v = first; v <= last; ++v) bytes.push_back(static_cast<uint8_t>(v));
  return bytes;
}

TEST(PackBits, WorkedExamples) {
  const std::vector<std::pair<Bytes, Bytes>> examples = {
      {hex(""), hex("")},
      {hex("41"), hex("00 41")},
      {hex("41 41"), hex("01 41 41")},
      {hex("41 41 41"), hex("FE 41")},
      {hex("41 41 41 41"), hex("FD 41")},
      {hex("41 42 43"), hex("02 41 42 43")},
      {hex("41 41 42"), hex("02 41 41 42")},
      {hex("41 41 41 42"), hex("FE 41 00 42")},
      {hex("41 42 42 42 41"), hex("00 41 FE 42 00 41")},
      {vt::repeat(0, 128), hex("81 00")},
      {vt::repeat(0, 129), hex("81 00 00 00")},
      {vt::repeat(0, 130), hex("81 00 01 00 00")},
      {vt::concat({ramp(0, 0x7F), hex("41 42")}),
       vt::concat({hex("7F"), ramp(0, 0x7F), hex("01 41 42")})},
      {vt::concat({ramp(0, 0x7E), hex("41 41")}),
       vt::concat({hex("7E"), ramp(0, 0x7E), hex("FF 41")})},
  };
  for (const auto &[source, packed] : examples) {
    SCOPED_TRACE(vt::to_hex(source));
    EXPECT_EQ(pack(source), packed);
  }
}

// The packing rules written plainly one byte at a time: the reference the
// word-at-a-time packer must agree with on every input.
Bytes pack_plainly(const Bytes &s) {
  Bytes out;
  long p = 0;
  long n = static_cast<long>(s.size());
  long c = 0;
  while (n > 0) {
    const long lim = std::min(n - 2, 128L);
    long k = c;
    bool found = false;
    while (k < lim) {
      if (s[static_cast<size_t>(p + k)] == s[static_cast<size_t>(p + k + 2)] &&
          s[static_cast<size_t>(p + k)] == s[static_cast<size_t>(p + k + 1)]) {
        found = true;
        break;
      }
      ++k;
    }
    if (!found && k >= n - 2 && n < 128) k = n;
    if (k > 0) {
      out.push_back(static_cast<uint8_t>(k - 1));
      for (long i = 0; i < k; ++i) out.push_back(s[static_cast<size_t>(p + i)]);
      p += k;
      n -= k;
    }
    long j = 0;
    while (n > 0 && j < std::min(n - 1, 127L) &&
           s[static_cast<size_t>(p + j + 1)] == s[static_cast<size_t>(p)]) {
      ++j;
    }
    if (j > 0) {
      out.push_back(static_cast<uint8_t>(256 - j));
      out.push_back(s[static_cast<size_t>(p)]);
      p += j + 1;
      n -= j + 1;
      c = 0;
    } else {
      c = 1;
    }
  }
  return out;
}

// Runs of every length around the limits, pairs inside literals, literals of
// 126 to 130 bytes, tails of 1 to 3 bytes; then random inputs.
std::vector<Bytes> round_trip_inputs() {
  std::vector<Bytes> inputs;
  for (size_t run = 1; run <= 260; ++run) {
    for (size_t before : {0u, 1u, 2u, 3u, 126u, 127u, 128u, 129u, 130u}) {
      Bytes b = ramp(0, static_cast<int>(before) - 1);
      for (uint8_t &v : b) v = static_cast<uint8_t>(v | 0x80);
      b.insert(b.end(), run, 0x41);
      for (size_t tail : {0u, 1u, 2u, 3u}) {
        Bytes c = b;
        for (size_t t = 0; t < tail; ++t) c.push_back(static_cast<uint8_t>(t + 1));
        inputs.push_back(c);
      }
    }
  }
  for (size_t length = 0; length <= 400; ++length) {
    Bytes pairs, alternating;
    for (size_t i = 0; i < length; ++i) {
      pairs.push_back(static_cast<uint8_t>(i / 2));
      alternating.push_back(static_cast<uint8_t>(i % 2));
    }
    inputs.push_back(pairs);
    inputs.push_back(alternating);
  }
  std::mt19937 random(20240501);
  for (int i = 0; i < 3000; ++i) {
    Bytes b(random() % 1200);
    const auto alphabet = static_cast<uint32_t>(1 + random() % (i % 3 == 0 ? 256 : 4));
    for (uint8_t &v : b) v = static_cast<uint8_t>(random() % alphabet);
    inputs.push_back(b);
  }
  return inputs;
}

TEST(PackBits, RoundTripMatchesThePlainPackerAndTheBound) {
  for (const Bytes &source : round_trip_inputs()) {
    const Bytes packed = pack(source);
    ASSERT_EQ(packed, pack_plainly(source)) << "source:\n" << vt::to_hex(source);
    ASSERT_LE(packed.size(), source.size() + (source.size() + 126) / 127);
    Bytes unpacked(source.size() + 127, 0xEE);
    ASSERT_EQ(static_cast<size_t>(UnPackBits(packed.data(), unpacked.data(),
                                             static_cast<int32_t>(source.size()))),
              packed.size());
    unpacked.resize(source.size());
    ASSERT_EQ(unpacked, source);
    // The bounded decoder agrees and needs no slack at all.
    Bytes exact(source.size());
    const UnpackResult r = unpack_bits_into(packed, exact);
    ASSERT_EQ(r.status, UnpackStatus::kComplete);
    ASSERT_EQ(r.consumed, packed.size());
    ASSERT_EQ(exact, source);
  }
}

TEST(UnPackBits, ExportedContract) {
  Bytes out(2 + 127, 0xEE);
  EXPECT_EQ(UnPackBits(hex("80 01 41 42").data(), out.data(), 2), 4);  // 80 is a no-op
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), hex("41 42 EE"));
  // A run crossing the count is written whole (the caller's slack).
  EXPECT_EQ(UnPackBits(hex("FD 41").data(), out.data(), 2), 2);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), hex("41 41 41 41 EE"));
  Bytes untouched(4, 0xEE);
  const uint8_t packed[1] = {0x00};
  EXPECT_EQ(UnPackBits(packed, untouched.data(), 0), 0);
  EXPECT_EQ(UnPackBits(packed, untouched.data(), -5), 0);
  EXPECT_EQ(UnPackBits(nullptr, untouched.data(), 0), 0);
  EXPECT_EQ(untouched, vt::repeat(0xEE, 4));
}

TEST(UnpackBitsInto, NeverReadsOrWritesOutsideItsBuffers) {
  struct Case {
    Bytes packed;
    size_t room;
    UnpackStatus status;
    size_t consumed;
    Bytes out;
  };
  const std::vector<Case> cases = {
      {hex(""), 4, UnpackStatus::kSourceEnded, 0, hex("EE EE EE EE")},
      {hex("03 41 42"), 4, UnpackStatus::kSourceEnded, 0, hex("EE EE EE EE")},  // literal cut
      {hex("00 41 FD"), 5, UnpackStatus::kSourceEnded, 2, hex("41 EE EE EE EE")},  // no run byte
      {hex("00 41 80 80"), 3, UnpackStatus::kSourceEnded, 4, hex("41 EE EE")},  // only no-ops
      {hex("01 41 42 FC 43"), 6, UnpackStatus::kRunPastEnd, 3, hex("41 42 EE EE EE EE")},
      {hex("02 41 42 43"), 2, UnpackStatus::kRunPastEnd, 0, hex("EE EE")},
      // Exact fill: the trailing 80 and 00 44 are not read.
      {hex("80 FF 41 01 42 43 80 00 44"), 4, UnpackStatus::kComplete, 6, hex("41 41 42 43")},
      {hex("00 41"), 0, UnpackStatus::kComplete, 0, hex("")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(vt::to_hex(c.packed));
    Bytes out(c.room, 0xEE);
    const UnpackResult r = unpack_bits_into(c.packed, out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.consumed, c.consumed);
    EXPECT_EQ(out, c.out);
  }
}

// ---- Scratch output: a file made current the way the writer makes its
// channel current, so that the output primitives and MacBin_Add_PICT write there.

class ScratchOutput {
 public:
  explicit ScratchOutput(const Bytes &prefix = {}) : prefix_size_(prefix.size()) {
    path_ = dir_.file("scratch.bin");
    TesselFile *description = fdbset(0, "STREAM,SEQUENTIAL");
    file_ = fopenw(description, path_.c_str(), "", 0);
    EXPECT_NE(file_, nullptr);
    channel_ = MacBin_NewChannel();
    EXPECT_NE(channel_, nullptr);
    channel_->file = file_;
    channel_->mode = 2;
    std::snprintf(channel_->cur_type, sizeof channel_->cur_type, "PICT");
    channel_->cur_id = 128;
    channel_->cur_name = "preview";
    MacChannel = channel_;
    outfile = file_;
    if (!prefix.empty()) {
      MacBin_PutBuf(prefix.data(), static_cast<int32_t>(prefix.size()),
                    static_cast<int32_t>(prefix.size()));
    }
  }
  ~ScratchOutput() {
    close();
    if (channel_ != nullptr) release_channel_record(channel_);
    MacChannel = nullptr;
  }
  ScratchOutput(const ScratchOutput &) = delete;
  ScratchOutput &operator=(const ScratchOutput &) = delete;

  MacBinChannel *channel() { return channel_; }
  int32_t add_pict(const char *param) { return MacBin_Add_PICT(channel_, param); }

  // Everything written after the prefix.
  Bytes written() {
    close();
    const Bytes all = vt::read_file(path_);
    return Bytes(all.begin() + static_cast<long>(std::min(prefix_size_, all.size())), all.end());
  }

 private:
  void close() {
    if (file_ == nullptr) return;
    fclosx(file_);
    fdbfree(file_);
    file_ = nullptr;
    outfile = nullptr;
  }
  vt::TempDir dir_;
  std::string path_;
  size_t prefix_size_;
  TesselFile *file_ = nullptr;
  MacBinChannel *channel_ = nullptr;
};

// ---- Colour tables and row conversion -----------------------------------------

Bytes entry_of(const Bytes &table, size_t index) {
  const size_t at = 4 + index * 8;
  return Bytes(table.begin() + static_cast<long>(at), table.begin() + static_cast<long>(at + 8));
}

TEST(PictColourTable, GreyRampAndColourCube) {
  vt::init_recording();
  Bytes grey, cube;
  {
    ScratchOutput out;
    put_pict_clut(kClutGrey);
    grey = out.written();
  }
  {
    ScratchOutput out;
    put_pict_clut(kClutColourCube);
    cube = out.written();
  }
  ASSERT_EQ(grey.size(), 4u + 256 * 8);
  EXPECT_EQ(Bytes(grey.begin(), grey.begin() + 4), hex("00 00 00 FF"));  // flags, size - 1
  EXPECT_EQ(entry_of(grey, 0), hex("0000 FFFF FFFF FFFF"));
  EXPECT_EQ(entry_of(grey, 100), hex("0064 9B9B 9B9B 9B9B"));
  EXPECT_EQ(entry_of(grey, 255), hex("00FF 0000 0000 0000"));
  ASSERT_EQ(cube.size(), 4u + 245 * 8);
  EXPECT_EQ(Bytes(cube.begin(), cube.begin() + 4), hex("00 00 00 F4"));
  EXPECT_EQ(entry_of(cube, 1), hex("0001 2A2A 0000 0000"));
  EXPECT_EQ(entry_of(cube, 7), hex("0007 0000 2A2A 0000"));
  EXPECT_EQ(entry_of(cube, 49), hex("0031 0000 0000 3F3F"));
  EXPECT_EQ(entry_of(cube, 100), hex("0064 5555 0000 7F7F"));  // 100 = 2 + 0 * 7 + 2 * 49
  EXPECT_EQ(entry_of(cube, 244), hex("00F4 FFFF FFFF FFFF"));
}

// The error diffusion as defined, in single precision.
struct FloatStep {
  int32_t step;
  float error;
};
FloatStep float_step(float error, int32_t sample, float step_size) {
  const float sum = static_cast<float>(sample) + error;
  const float quotient = sum / step_size;
  const int32_t step = nint(static_cast<double>(quotient));
  return {step, error + (static_cast<float>(sample) - static_cast<float>(step) * step_size)};
}

std::vector<uint8_t> float_cube_indices(const Bytes &planes, size_t count) {
  std::vector<uint8_t> indices(count);
  float er = 0, eg = 0, eb = 0;
  for (size_t i = 0; i < count; ++i) {
    const FloatStep r = float_step(er, planes[i], 42.5f);
    const FloatStep g = float_step(eg, planes[count + i], 42.5f);
    const FloatStep b = float_step(eb, planes[2 * count + i], 63.75f);
    er = r.error;
    eg = g.error;
    eb = b.error;
    indices[i] = static_cast<uint8_t>(r.step + 7 * g.step + 49 * b.step);
  }
  return indices;
}

// Walks every error the floating-point definition can carry from a row's
// start (0) over every sample, and checks the integer step on each reachable
// (error, sample) pair.
void prove_integer_steps(float step_size, int32_t units_per_level, int32_t limit,
                         DiffusionStep (*integer_step)(int32_t, int32_t), int32_t max_step) {
  std::set<float> reachable = {0.0f};
  std::deque<float> pending = {0.0f};
  size_t pairs = 0;
  while (!pending.empty()) {
    const float error = pending.front();
    pending.pop_front();
    const float scaled = error * static_cast<float>(units_per_level);
    ASSERT_EQ(scaled, std::floor(scaled)) << "error " << error << " is off the grid";
    const auto units = static_cast<int32_t>(scaled);
    ASSERT_LE(std::abs(units), limit);
    for (int32_t sample = 0; sample <= 255; ++sample) {
      const FloatStep f = float_step(error, sample, step_size);
      const DiffusionStep i = integer_step(units, sample);
      ++pairs;
      ASSERT_GE(f.step, 0);
      ASSERT_LE(f.step, max_step);
      ASSERT_EQ(i.step, f.step) << "error " << error << " sample " << sample;
      ASSERT_EQ(static_cast<float>(i.error), f.error * static_cast<float>(units_per_level))
          << "error " << error << " sample " << sample;
      if (reachable.insert(f.error).second) pending.push_back(f.error);
    }
  }
  EXPECT_EQ(pairs, reachable.size() * 256);
  std::printf("%zu reachable errors, %zu (error, sample) pairs checked\n", reachable.size(), pairs);
}

TEST(ErrorDiffusion, IntegerRedGreenStepsEqualFloatOnEveryReachableState) {
  prove_integer_steps(42.5f, 2, kRedGreenErrorLimitHalves, diffuse_red_green, 6);
}

TEST(ErrorDiffusion, IntegerBlueStepsEqualFloatOnEveryReachableState) {
  prove_integer_steps(63.75f, 4, kBlueErrorLimitQuarters, diffuse_blue, 4);
}

TEST(ErrorDiffusion, WorkedRowAndTheCubeCorners) {
  Bytes row(3 * 6, 0);
  std::fill(row.begin(), row.begin() + 6, 21);  // red 21: half a step, carried
  convert_row(row.data(), 6, 3, 1, 2);
  EXPECT_EQ(Bytes(row.begin(), row.begin() + 4), hex("00 01 00 01"));
  Bytes white(3 * 40, 255);
  convert_row(white.data(), 40, 3, 1, 2);
  EXPECT_EQ(Bytes(white.begin(), white.begin() + 40), vt::repeat(244, 40));
}

TEST(ErrorDiffusion, RowsEqualTheFloatDefinition) {
  std::mt19937 random(7);
  for (int n = 0; n < 300; ++n) {
    const size_t count = 1 + random() % 700;
    Bytes row(3 * count);
    const bool smooth = n % 2 == 0;  // gradients carry errors along; noise jumps
    for (size_t i = 0; i < row.size(); ++i) {
      row[i] = smooth ? static_cast<uint8_t>((i % count) * 255 / count + random() % 3)
                      : static_cast<uint8_t>(random());
    }
    const std::vector<uint8_t> expected = float_cube_indices(row, count);
    const Bytes green_and_blue(row.begin() + static_cast<long>(count), row.end());
    convert_row(row.data(), static_cast<int32_t>(count), 3, 1, 2);
    ASSERT_EQ(Bytes(row.begin(), row.begin() + static_cast<long>(count)), expected);
    ASSERT_EQ(Bytes(row.begin() + static_cast<long>(count), row.end()), green_and_blue);
  }
}

TEST(RowConversion, CmykToRgbAndNothingElse) {
  // Four pixels, planes C, M, Y, K: red = 255 - min(255, C + K).
  Bytes row = hex("C8 64 00 FF   00 64 10 00   00 00 20 01   64 64 00 02");
  convert_row(row.data(), 4, 4, 3, 0);
  EXPECT_EQ(row, hex("00 37 FF 00   9B 37 EF FD   9B 9B DF FC   64 64 00 02"));
  const Bytes original = hex("15 00 00 15 00 00 FF FF FF 01 02 03");
  for (auto [from, to, method, count] : std::vector<std::array<int32_t, 4>>{
           {3, 1, 0, 4}, {3, 1, 1, 4}, {1, 1, 2, 4}, {4, 1, 2, 3}, {3, 1, 2, 0}, {4, 3, 0, -1}}) {
    Bytes same = original;
    convert_row(same.data(), count, from, to, method);
    EXPECT_EQ(same, original) << from << " " << to << " " << method << " " << count;
  }
}

// ---- The test host ---------------------------------------------------------------

struct SyntheticImage {
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 1;    // picture images; masks leave it 0
  int32_t kinds = 0x20;
  float h_size = 0;        // inches
  float v_size = 0;
  Bytes rows;              // height rows: planar samples, or packed mask bits
  // Failures to act out.
  bool fail_open = false;
  bool fail_begin = false;
  bool fail_end = false;
  bool fail_close = false;
  int32_t null_row_at = -1;
  // Deliver rows in the library's row_buffer (else from the host's memory).
  bool into_row_buffer = true;
  int32_t rows_delivered = 0;
  MacBinAcquireProgress *progress_record = nullptr;
  MacBinAcquireProgress *progress_seen_at_open = nullptr;

  size_t row_size() const {
    return channels > 0 ? static_cast<size_t>(channels) * static_cast<size_t>(width)
                        : static_cast<size_t>((width + 7) / 8);
  }
};

struct TestHost {
  std::map<std::string, SyntheticImage> images;
  std::vector<std::string> calls;
  std::vector<int32_t> percents;
  MacBinImageRequest last_request{};
  MacBinReadRequest last_read_request{};
};
TestHost *host = nullptr;

SyntheticImage &image_of(MacBinImage *image) {
  return *static_cast<SyntheticImage *>(image->host_data);
}
std::string name_of(MacBinImage *image) {
  for (auto &[name, synthetic] : host->images) {
    if (&synthetic == image->host_data) return name;
  }
  return "?";
}

int32_t host_prepare(MacBinImage *image, const char *file_name) {
  host->calls.push_back(std::string("prepare ") + file_name);
  auto found = host->images.find(file_name);
  image->host_data = found == host->images.end() ? nullptr : &found->second;
  if (image->host_data != nullptr) image->acquire_progress = image_of(image).progress_record;
  return 0;
}

int32_t open_image(MacBinImage *image, MacBinImageRequest *request, const char *call) {
  host->calls.push_back(call);
  host->last_request = *request;
  if (image->host_data == nullptr) return 1;
  SyntheticImage &s = image_of(image);
  s.progress_seen_at_open = image->acquire_progress;
  s.rows_delivered = 0;
  if (s.fail_open) return 1;
  image->width = s.width;
  image->height = s.height;
  image->channels = s.channels;
  image->kinds = s.kinds;
  image->h_size = s.h_size;
  image->v_size = s.v_size;
  return 0;
}

int32_t begin_image(MacBinImage *image, MacBinReadRequest *request, const char *call) {
  host->calls.push_back(call);
  host->last_read_request = *request;
  return image->host_data == nullptr || image_of(image).fail_begin ? 1 : 0;
}

uint8_t *next_row_of(MacBinImage *image, const char *call) {
  host->calls.push_back(call);
  SyntheticImage &s = image_of(image);
  if (s.rows_delivered == s.null_row_at || s.rows_delivered >= s.height) return nullptr;
  const size_t size = s.row_size();
  uint8_t *source = s.rows.data() + static_cast<size_t>(s.rows_delivered) * size;
  ++s.rows_delivered;
  if (!s.into_row_buffer) return source;
  std::memcpy(image->row_buffer, source, size);
  return image->row_buffer;
}

// end and close: recorded, failing when the image says so.
int32_t finish(MacBinImage *image, const char *call, bool SyntheticImage::*fails) {
  host->calls.push_back(call);
  return image->host_data != nullptr && image_of(image).*fails ? 1 : 0;
}

template <typename Method>
void install(Method method, int32_t id) {
  ASSERT_EQ(MacBin_Setmethod(reinterpret_cast<MacBinMethod>(method), id), 1);
}

void install_host_methods() {
  using Image = MacBinImage;
  install(host_prepare, MACBIN_METHOD_PREPARE);
  install(+[](Image *i, MacBinImageRequest *r) { return open_image(i, r, "open"); },
          MACBIN_METHOD_OPEN);
  install(+[](Image *i, MacBinImageRequest *r) { return open_image(i, r, "mask_open"); },
          MACBIN_METHOD_MASK_OPEN);
  install(+[](Image *i, MacBinReadRequest *r) { return begin_image(i, r, "begin"); },
          MACBIN_METHOD_BEGIN);
  install(+[](Image *i, MacBinReadRequest *r) { return begin_image(i, r, "mask_begin"); },
          MACBIN_METHOD_MASK_BEGIN);
  install(+[](Image *i) { return next_row_of(i, "next_row"); }, MACBIN_METHOD_NEXT_ROW);
  install(+[](Image *i) { return next_row_of(i, "mask_next_row"); }, MACBIN_METHOD_MASK_NEXT_ROW);
  install(+[](Image *i) { return finish(i, "end", &SyntheticImage::fail_end); },
          MACBIN_METHOD_END);
  install(+[](Image *i) { return finish(i, "mask_end", &SyntheticImage::fail_end); },
          MACBIN_METHOD_MASK_END);
  install(+[](Image *i) { return finish(i, "close", &SyntheticImage::fail_close); },
          MACBIN_METHOD_CLOSE);
  install(+[](Image *i) { return finish(i, "mask_close", &SyntheticImage::fail_close); },
          MACBIN_METHOD_MASK_CLOSE);
  install(+[](Image *i) {
    host->calls.push_back("release " + name_of(i));
    return int32_t{0};
  }, MACBIN_METHOD_RELEASE);
  install(+[](MacBinProgress *progress) {
    host->percents.push_back(progress->percent);
    EXPECT_STREQ(progress->type, "PICT");
    EXPECT_EQ(progress->id, 128);
    EXPECT_STREQ(progress->name, "preview");
  }, MACBIN_METHOD_PROGRESS);
}

class PictTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::init_recording();
    host = &host_;
    install_host_methods();
  }
  void TearDown() override { host = nullptr; }

  // An image at 72 pixels per inch, so that frame and bounds agree.
  SyntheticImage &add_image(const std::string &name, int32_t width, int32_t height,
                            int32_t channels, const Bytes &rows) {
    SyntheticImage &s = host_.images[name];
    s.width = width;
    s.height = height;
    s.channels = channels;
    s.h_size = static_cast<float>(width) / 72.0f;
    s.v_size = static_cast<float>(height) / 72.0f;
    s.rows = rows;
    EXPECT_EQ(rows.size(), s.row_size() * static_cast<size_t>(height));
    return s;
  }
  // A mask from text rows, '#' set: "..###...".
  SyntheticImage &add_mask(const std::string &name, int32_t width,
                           const std::vector<std::string> &picture) {
    SyntheticImage &s = host_.images[name];
    s.width = width;
    s.height = static_cast<int32_t>(picture.size());
    s.channels = 0;
    s.kinds = 0x02;
    for (const std::string &line : picture) {
      Bytes row(s.row_size(), 0);
      for (size_t x = 0; x < line.size(); ++x) {
        if (line[x] == '#') row[x / 8] = static_cast<uint8_t>(row[x / 8] | (0x80 >> (x % 8)));
      }
      s.rows.insert(s.rows.end(), row.begin(), row.end());
    }
    return s;
  }
  std::vector<std::string> &calls() { return host_.calls; }

  TestHost host_;
};

// Grey samples that make every row different, with runs and literals.
Bytes grey_rows(int32_t width, int32_t height, int32_t channels = 1) {
  Bytes rows;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t c = 0; c < channels; ++c) {
      for (int32_t x = 0; x < width; ++x) {
        const int32_t v = (x / 5 % 3 == 0) ? 7 * y + c * 50 : (x * 37 + y * 11 + c * 71) % 256;
        rows.push_back(static_cast<uint8_t>(v));
      }
    }
  }
  return rows;
}

// ---- A parser for what we write, from the picture's own rules -------------

struct ParsedPicture {
  std::string error;  // empty when the picture parsed whole
  Bytes head;         // bytes 0..107
  int32_t size_word = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t row_bytes = 0;
  int32_t opcode = 0;
  std::vector<std::array<uint8_t, 3>> colours;
  Bytes region;                      // with a mask
  std::vector<Bytes> packed_rows;    // each with its count, as written
  Bytes indices;                     // height x row_bytes
  size_t end_opcode_offset = 0;
  bool padded = false;
};

uint32_t be16(const Bytes &b, size_t at) {
  return static_cast<uint32_t>(b.at(at) << 8 | b.at(at + 1));
}

ParsedPicture parse_picture(const Bytes &p) {
  ParsedPicture r;
  if (p.size() < 108) {
    r.error = "shorter than the picture head";
    return r;
  }
  r.head = Bytes(p.begin(), p.begin() + 108);
  r.size_word = static_cast<int32_t>(be16(p, 0));
  r.opcode = static_cast<int32_t>(be16(p, 52));
  r.row_bytes = static_cast<int32_t>(be16(p, 54) & 0x7FFF);
  r.height = static_cast<int32_t>(be16(p, 60));
  r.width = static_cast<int32_t>(be16(p, 62));
  size_t at = 106;
  const size_t entries = be16(p, at) + 1u;
  at += 2;
  for (size_t i = 0; i < entries; ++i, at += 8) {
    if (be16(p, at) != i) r.error = "colour table entry out of order";
    r.colours.push_back({p.at(at + 2), p.at(at + 4), p.at(at + 6)});
  }
  at += 18;  // source and destination rectangles, transfer mode
  if (r.opcode == 0x99) {
    const size_t region_size = be16(p, at);
    r.region = Bytes(p.begin() + static_cast<long>(at),
                     p.begin() + static_cast<long>(std::min(p.size(), at + region_size)));
    at += region_size;
  }
  const auto w = static_cast<size_t>(r.row_bytes);
  for (int32_t y = 0; y < r.height; ++y) {
    Bytes row(w);
    const size_t start = at;
    if (w < 8) {
      if (at + w > p.size()) {
        r.error = "row past the end";
        return r;
      }
      std::copy(p.begin() + static_cast<long>(at), p.begin() + static_cast<long>(at + w),
                row.begin());
      at += w;
    } else {
      size_t count;
      if (w > 250) {
        count = be16(p, at);
        at += 2;
      } else {
        count = p.at(at);
        at += 1;
      }
      if (at + count > p.size()) {
        r.error = "packed row past the end";
        return r;
      }
      const UnpackResult u = unpack_bits_into({p.data() + at, count}, row);
      if (u.status != UnpackStatus::kComplete || u.consumed != count) {
        r.error = "row " + std::to_string(y) + " does not unpack to its row bytes";
        return r;
      }
      at += count;
    }
    r.packed_rows.emplace_back(p.begin() + static_cast<long>(start),
                               p.begin() + static_cast<long>(at));
    r.indices.insert(r.indices.end(), row.begin(), row.end());
  }
  if (at % 2 == 1) {
    if (p.at(at) != 0) r.error = "pad byte is not 0";
    r.padded = true;
    ++at;
  }
  r.end_opcode_offset = at;
  if (at + 2 != p.size() || be16(p, at) != 0x00FF) r.error = "no end opcode at the end";
  return r;
}

// ---- The preview -------------------------------------------------------------------

TEST_F(PictTest, ThreeByTwoGreyPicture) {
  add_image("grey.img", 3, 2, 1, hex("0A 14 1E  28 32 3C"));
  ScratchOutput out;
  ASSERT_EQ(out.add_pict("grey.img 72"), 1);
  const Bytes written = out.written();
  ASSERT_EQ(written.size(), 2184u);
  EXPECT_EQ(Bytes(written.begin(), written.begin() + 108),
            hex("08 88"                          // picture size 2184
                "00 00 00 00 00 02 00 03"        // frame
                "00 11 02 FF"                    // version opcode, version 2
                "0C 00 FF FE 00 00 00 48 00 00 00 48 00 00"  // header, 72 x 72 ppi
                "      00 00 00 00 00 02 00 03 00 00 00 00"  //   source rectangle, reserved
                "00 01 00 0A 00 00 00 00 00 02 00 03"        // clip region
                "00 98 80 04"                                // packed pixels, row bytes 4
                "      00 00 00 00 00 02 00 03"              //   bounds
                "      00 00 00 00 00 00 00 00"              //   version, pack type, pack size
                "      00 48 00 00 00 48 00 00"              //   resolutions
                "      00 00 00 08 00 01 00 08"              //   indexed, 8 bits, 1 x 8
                "      00 00 00 00 00 00 00 00 00 00 00 00"  //   plane bytes, table, reserved
                "      00 43 26 0E 00 00 00 FF"))            //   seed, flags, 256 entries
      << vt::to_hex(written);
  EXPECT_EQ(Bytes(written.begin() + 108, written.begin() + 116), hex("0000 FFFF FFFF FFFF"));
  EXPECT_EQ(Bytes(written.end() - 36, written.end()),
            hex("00FF 0000 0000 0000"      // the last grey entry
                "00 00 00 00 00 02 00 03"  // source
                "00 00 00 00 00 02 00 03"  // destination
                "00 00"                    // mode copy
                "0A 14 1E 00 28 32 3C 00"  // rows unpacked (w < 8), final 0 of the odd width
                "00 FF"));                 // end of picture
  EXPECT_EQ(host_.percents, (std::vector<int32_t>{0, 50, 100}));
  EXPECT_EQ(calls(), (Calls{"prepare grey.img", "open", "begin", "next_row", "next_row", "end",
                            "close", "release grey.img"}));
  EXPECT_EQ(host_.last_request.h_res, 72.0f);
  EXPECT_EQ(host_.last_request.kinds, 0x22);
  EXPECT_EQ(host_.last_read_request.kinds, 0x22);
}

TEST_F(PictTest, FrameAndResolutionsFollowTheImageSize) {
  // 4 x 2 pixels delivered at 72 ppi across and 36 down: both 4 points.
  SyntheticImage &s = add_image("img", 4, 2, 1, grey_rows(4, 2));
  s.v_size = 2.0f / 36.0f;
  ScratchOutput out;
  ASSERT_EQ(out.add_pict("img 50"), 1);
  const Bytes p = out.written();
  EXPECT_EQ(Bytes(p.begin() + 2, p.begin() + 10), hex("00 00 00 00 00 04 00 04"));
  EXPECT_EQ(Bytes(p.begin() + 20, p.begin() + 28), hex("00 48 00 00  00 24 00 00"));
  EXPECT_EQ(Bytes(p.begin() + 72, p.begin() + 80), hex("00 48 00 00  00 24 00 00"));
  EXPECT_EQ(host_.last_request.h_res, 50.0f);  // what was asked for, not what came
}

TEST_F(PictTest, ColourTableSeedOnlyForGreyWithoutMask) {
  add_image("grey", 8, 2, 1, grey_rows(8, 2));
  add_image("rgb", 8, 2, 3, grey_rows(8, 2, 3));
  add_image("cmyk", 8, 2, 4, grey_rows(8, 2, 4));
  add_mask("mask", 8, {"########", "########"});
  for (const auto &[param, seed_and_size] : std::vector<std::pair<const char *, Bytes>>{
           {"grey 72", hex("00 43 26 0E 00 00 00 FF")},
           {"grey 72 mask", hex("00 00 00 00 00 00 00 FF")},
           {"rgb 72", hex("00 00 00 00 00 00 00 F4")},
           {"cmyk 72 mask", hex("00 00 00 00 00 00 00 F4")}}) {
    SCOPED_TRACE(param);
    ScratchOutput out;
    ASSERT_EQ(out.add_pict(param), 1);
    const ParsedPicture parsed = parse_picture(out.written());
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(Bytes(parsed.head.begin() + 100, parsed.head.end()), seed_and_size);
  }
}

TEST_F(PictTest, RowCountsAndPacking) {
  // w < 8: unpacked, no count; up to 250: a count byte; from 251: a count word.
  add_image("six", 5, 1, 1, hex("01 01 01 01 01"));
  add_image("eight", 8, 1, 1, hex("01 01 01 01 01 01 01 01"));
  add_image("narrow", 250, 3, 1, grey_rows(250, 3));
  add_image("wide", 251, 3, 1, grey_rows(251, 3));
  const auto first_row = [&](const char *name) {
    ScratchOutput out;
    EXPECT_EQ(out.add_pict((std::string(name) + " 72").c_str()), 1);
    const ParsedPicture p = parse_picture(out.written());
    EXPECT_EQ(p.error, "") << name;
    return p;
  };
  EXPECT_EQ(first_row("six").packed_rows.at(0), hex("01 01 01 01 01 00"));
  EXPECT_EQ(first_row("eight").packed_rows.at(0), hex("02 F9 01"));
  for (const char *name : {"narrow", "wide"}) {
    SCOPED_TRACE(name);
    const bool wide = std::string(name) == "wide";
    const ParsedPicture p = first_row(name);
    ASSERT_EQ(p.packed_rows.size(), 3u);
    EXPECT_EQ(p.row_bytes, wide ? 252 : 250);
    const size_t width = wide ? 251 : 250;
    for (size_t y = 0; y < 3; ++y) {
      const Bytes &row = p.packed_rows[y];
      EXPECT_EQ(row.size(), (wide ? be16(row, 0) + 2 : row[0] + 1u));
      Bytes expected(host_.images[name].rows.begin() + static_cast<long>(y * width),
                     host_.images[name].rows.begin() + static_cast<long>((y + 1) * width));
      if (wide) expected.push_back(0);
      EXPECT_EQ(Bytes(p.indices.begin() + static_cast<long>(y) * p.row_bytes,
                      p.indices.begin() + static_cast<long>(y + 1) * p.row_bytes),
                expected);
    }
  }
}

TEST_F(PictTest, PictureSizeIsTheLengthModulo65536) {
  add_image("big", 301, 300, 1, grey_rows(301, 300));
  ScratchOutput out;
  ASSERT_EQ(out.add_pict("big 72"), 1);
  const Bytes p = out.written();
  ASSERT_GT(p.size(), 65536u);
  EXPECT_EQ(be16(p, 0), p.size() % 65536);
  EXPECT_EQ(parse_picture(p).error, "");
}

TEST_F(PictTest, PadByteKeepsTheEndOpcodeEvenFromThePictureStart) {
  // Eight distinct values pack to 9 bytes plus the count (data ends even);
  // a run of 8 packs to 2 plus the count (odd).  The picture may start at an
  // odd file offset: what counts is the offset from its own start.
  add_image("literal", 8, 1, 1, hex("01 02 03 04 05 06 07 08"));
  add_image("run", 8, 1, 1, hex("05 05 05 05 05 05 05 05"));
  for (const Bytes &prefix : {Bytes{}, vt::repeat(0xAA, 7)}) {
    for (const char *name : {"literal", "run"}) {
      SCOPED_TRACE(std::string(name) + " after " + std::to_string(prefix.size()));
      ScratchOutput out(prefix);
      ASSERT_EQ(out.add_pict((std::string(name) + " 72").c_str()), 1);
      const Bytes p = out.written();
      const ParsedPicture parsed = parse_picture(p);
      ASSERT_EQ(parsed.error, "");
      EXPECT_EQ(parsed.end_opcode_offset % 2, 0u);
      EXPECT_EQ(parsed.padded, std::string(name) == "run");
      EXPECT_EQ(be16(p, 0), p.size());
    }
  }
}

TEST_F(PictTest, HostRowsAndProgressRecords) {
  // Rows from the host's own memory are converted in place, first plane only.
  SyntheticImage &s = add_image("own", 9, 3, 3, grey_rows(9, 3, 3));
  s.into_row_buffer = false;
  const Bytes original = s.rows;
  MacBinAcquireProgress default_tag{100, nullptr, nullptr, nullptr};
  MacBinAcquireProgress own_tag{7, nullptr, nullptr, nullptr};
  s.progress_record = &default_tag;
  SyntheticImage &b = add_image("b", 2, 1, 1, hex("01 02"));
  b.progress_record = &own_tag;
  ScratchOutput out;
  ASSERT_EQ(out.add_pict("own 72"), 1);
  ASSERT_EQ(out.add_pict("b 72"), 1);
  EXPECT_EQ(s.progress_seen_at_open, &debug_values.default_progress);
  EXPECT_EQ(b.progress_seen_at_open, &own_tag);
  for (long y = 0; y < 3; ++y) {
    const Bytes planes(original.begin() + y * 27, original.begin() + y * 27 + 27);
    EXPECT_EQ(Bytes(s.rows.begin() + y * 27, s.rows.begin() + y * 27 + 9),
              float_cube_indices(planes, 9));
    EXPECT_EQ(Bytes(s.rows.begin() + y * 27 + 9, s.rows.begin() + y * 27 + 27),
              Bytes(planes.begin() + 9, planes.end()));
  }
}

TEST_F(PictTest, ResourceLineInsertsThePicture) {
  add_image("pic", 13, 5, 3, grey_rows(13, 5, 3));
  ASSERT_EQ(MacBin_AddProcessor("PICT", nullptr, MacBin_Add_PICT), 0);
  vt::TempDir dir;
  const std::string path = dir.file("with_preview.bin");
  char apple_name[32] = "preview test";
  MacBinChannel *channel = MacBin_OpenW(path.c_str(), apple_name, "VARN", "TEXT");
  ASSERT_NE(channel, nullptr);
  MacBin_AddResource(channel, "PICT 128 preview pic 72");
  MacBin_Close(channel);
  // The first resource data item (after header and fork head) is the picture.
  const Bytes file = vt::read_file(path);
  const size_t data = 128 + 256;
  ASSERT_GT(file.size(), data + 4);
  const size_t length = be16(file, data) << 16 | be16(file, data + 2);
  ASSERT_LE(data + 4 + length, file.size());
  const Bytes picture(file.begin() + data + 4, file.begin() + static_cast<long>(data + 4 + length));
  const ParsedPicture p = parse_picture(picture);
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(be16(picture, 0), picture.size());
  EXPECT_EQ(p.width, 13);
}

// ---- Method order on success and on every failure ----------------------------------

class PictMethodOrder : public PictTest {
 protected:
  void SetUp() override {
    PictTest::SetUp();
    add_image("pic", 8, 2, 3, grey_rows(8, 2, 3));
    add_mask("mask", 8, {"..##....", ".####..."});
  }
  int32_t run(const char *param, Bytes *written = nullptr) {
    ScratchOutput out;
    const int32_t result = out.add_pict(param);
    const Bytes bytes = out.written();
    if (written != nullptr) *written = bytes;
    return result;
  }
};

// The head of a colour picture: everything before the region and the rows.
constexpr size_t kColourHead = 108 + 4 + 245 * 8 + 18 - 4;

enum class Left { kNothing, kHeadOnly, kHeadAndRegion, kSizeZero, kComplete };

TEST_F(PictMethodOrder, CloseAndReleaseAlwaysFollowInOrder) {
  const Calls mask_calls = {"prepare mask", "mask_open",     "mask_begin", "mask_next_row",
                            "mask_next_row", "mask_end",     "mask_close", "release mask"};
  const Calls mask_failed = {"prepare mask", "mask_open", "mask_begin", "mask_end",
                             "mask_close", "release mask"};
  const Calls rows = {"begin", "next_row", "next_row", "end", "close", "release pic"};
  const auto join = [](std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  struct Case {
    const char *what;
    std::function<void(TestHost &)> arrange;
    const char *param;
    int32_t result;
    Calls calls;
    Left left;
  };
  const std::vector<Case> cases = {
      {"success with mask", [](TestHost &) {}, "pic 72 mask", 1,
       join({{"prepare pic", "open"}, mask_calls, rows}), Left::kComplete},
      {"open fails", [](TestHost &h) { h.images["pic"].fail_open = true; }, "pic 72 mask", 0,
       {"prepare pic", "open", "close", "release pic"}, Left::kNothing},
      {"neither kind", [](TestHost &h) { h.images["pic"].kinds = 0x04; }, "pic 72", 0,
       {"prepare pic", "open", "close", "release pic"}, Left::kNothing},
      {"mask open fails", [](TestHost &h) { h.images["mask"].fail_open = true; }, "pic 72 mask",
       0, join({{"prepare pic", "open"}, mask_failed, {"close", "release pic"}}), Left::kHeadOnly},
      {"mask not one bit", [](TestHost &h) { h.images["mask"].kinds = 0x20; }, "pic 72 mask", 0,
       join({{"prepare pic", "open"}, mask_failed, {"close", "release pic"}}), Left::kHeadOnly},
      {"mask begin fails", [](TestHost &h) { h.images["mask"].fail_begin = true; },
       "pic 72 mask", 0, join({{"prepare pic", "open"}, mask_failed, {"close", "release pic"}}),
       Left::kHeadOnly},
      {"null mask row", [](TestHost &h) { h.images["mask"].null_row_at = 1; }, "pic 72 mask", 0,
       join({{"prepare pic", "open", "prepare mask", "mask_open", "mask_begin", "mask_next_row",
              "mask_next_row", "mask_end", "mask_close", "release mask", "close", "release pic"}}),
       Left::kHeadOnly},
      {"mask end fails", [](TestHost &h) { h.images["mask"].fail_end = true; }, "pic 72 mask", 0,
       join({{"prepare pic", "open"}, mask_calls, {"close", "release pic"}}),
       Left::kHeadAndRegion},
      {"mask close fails", [](TestHost &h) { h.images["mask"].fail_close = true; },
       "pic 72 mask", 0, join({{"prepare pic", "open"}, mask_calls, {"close", "release pic"}}),
       Left::kHeadAndRegion},
      {"begin fails", [](TestHost &h) { h.images["pic"].fail_begin = true; }, "pic 72", 0,
       {"prepare pic", "open", "begin", "close", "release pic"}, Left::kHeadOnly},
      {"end fails", [](TestHost &h) { h.images["pic"].fail_end = true; }, "pic 72", 0,
       join({{"prepare pic", "open"}, rows}), Left::kSizeZero},
      {"null row", [](TestHost &h) { h.images["pic"].null_row_at = 1; }, "pic 72", 0,
       join({{"prepare pic", "open"}, rows}), Left::kSizeZero},
      {"close fails", [](TestHost &h) { h.images["pic"].fail_close = true; }, "pic 72", 0,
       join({{"prepare pic", "open"}, rows}), Left::kComplete},
  };
  const TestHost pristine = host_;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    host_ = pristine;
    c.arrange(host_);
    Bytes written;
    EXPECT_EQ(run(c.param, &written), c.result);
    EXPECT_EQ(calls(), c.calls);
    switch (c.left) {
      case Left::kNothing:
        EXPECT_TRUE(written.empty());
        break;
      case Left::kHeadOnly:  // no region, no rows, size left 0
        EXPECT_EQ(written.size(), kColourHead);
        EXPECT_EQ(be16(written, 0), 0u);
        break;
      case Left::kHeadAndRegion:
        ASSERT_GT(written.size(), kColourHead);
        EXPECT_EQ(written.size() - kColourHead, be16(written, kColourHead));
        break;
      case Left::kSizeZero:
        EXPECT_EQ(be16(written, 0), 0u);
        break;
      case Left::kComplete:
        EXPECT_EQ(be16(written, 0), written.size());
        break;
    }
  }
}

// Write failures set the process-wide failure flags: one process each.
TEST_F(PictMethodOrder, WriteFailureSkipsTheRemainingRows) {
  add_image("tall", 64, 40, 1, grey_rows(64, 40));
  tessel_fail_writes_after(2174 + 300, 28 /* ENOSPC */);  // inside the pixel data
  EXPECT_EQ(run("tall 72"), 0);
  tessel_fail_writes_after(-1, 0);
  const auto rows = std::count(calls().begin(), calls().end(), "next_row");
  EXPECT_GT(rows, 0);
  EXPECT_LT(rows, 40);
  EXPECT_EQ(std::count(calls().begin(), calls().end(), "end"), 1);
  EXPECT_EQ(calls().back(), "release tall");
  EXPECT_EQ(vt::count_messages("Writing output file"), 1u);
}

TEST_F(PictMethodOrder, FailureOfTheLastByteIsNoSuccess) {
  Bytes complete;
  ASSERT_EQ(run("pic 72", &complete), 1);
  ScratchOutput last_byte;
  tessel_fail_writes_after(static_cast<int64_t>(complete.size()) - 1, 28 /* ENOSPC */);
  EXPECT_EQ(last_byte.add_pict("pic 72"), 0);
  tessel_fail_writes_after(-1, 0);
  EXPECT_EQ(vt::count_messages("Writing output file"), 1u);
}

TEST_F(PictMethodOrder, FailedSeekForTheSizePatchIsNoSuccess) {
  ScratchOutput out;
  tessel_fail_seeks_after(0, 5 /* EIO */);
  EXPECT_EQ(out.add_pict("pic 72"), 0);
  tessel_fail_seeks_after(-1, 0);
  EXPECT_EQ(calls().back(), "release pic");
}

TEST_F(PictMethodOrder, MissingMethodsAreReportedNotCalled) {
  MacBin_Setmethod(nullptr, MACBIN_METHOD_MASK_END);
  EXPECT_EQ(run("pic 72"), 1);  // no mask: the mask methods are not needed
  calls().clear();
  Bytes written;
  EXPECT_EQ(run("pic 72 mask", &written), 0);
  EXPECT_TRUE(calls().empty());
  EXPECT_TRUE(written.empty());
  EXPECT_EQ(vt::count_messages("PICT preview needs the image-access methods installed"), 1u);
}

TEST_F(PictMethodOrder, ParameterTexts) {
  for (const char *param : {"", "   ", "pic", "\"\" 72"}) {  // asking for nothing
    Bytes written;
    EXPECT_EQ(run(param, &written), 0) << "[" << param << "]";
    EXPECT_TRUE(written.empty()) << "[" << param << "]";
  }
  EXPECT_TRUE(calls().empty());
  EXPECT_TRUE(vt::recorded_messages().empty());
  // 255 characters fit the 256-byte buffer; 256 are refused, never overflow it.
  const std::string fits = "pic 72 " + std::string(255 - 7, 'm');
  host_.images[std::string(255 - 7, 'm')] = host_.images["mask"];
  EXPECT_EQ(run(fits.c_str()), 1);
  calls().clear();
  Bytes written;
  EXPECT_EQ(run((fits + "m").c_str(), &written), 0);
  EXPECT_TRUE(calls().empty());
  EXPECT_TRUE(written.empty());
  EXPECT_EQ(vt::count_messages("PICT parameter text longer than 255 characters"), 1u);
}

// ---- Images that cannot be written correctly ------------------------------------------

TEST_F(PictTest, ImagesThatDoNotFitThePictureAreRefusedBeforeAnyByte) {
  struct Refusal {
    const char *why;
    int32_t width, height, channels;
    float h_size, v_size;
  };
  const std::vector<Refusal> refusals = {
      {"w reaches 0x4000", 0x3FFF, 2, 1, 1.0f, 1.0f},
      {"w beyond 0x4000", 0x4000, 2, 1, 1.0f, 1.0f},
      {"taller than 32767", 8, 32768, 1, 1.0f, 1.0f},
      {"no columns", 0, 2, 1, 1.0f, 1.0f},
      {"no rows", 8, 0, 1, 1.0f, 1.0f},
      {"negative width", -8, 2, 1, 1.0f, 1.0f},
      {"two channels", 8, 2, 2, 1.0f, 1.0f},
      {"five channels", 8, 2, 5, 1.0f, 1.0f},
      {"zero h_size", 8, 2, 1, 0.0f, 1.0f},
      {"negative v_size", 8, 2, 1, 1.0f, -1.0f},
      {"NaN h_size", 8, 2, 1, std::nanf(""), 1.0f},
      {"resolution past the Fixed range", 8, 2, 1, 8.0f / 65536.0f, 1.0f},
      {"infinite resolution", 8, 2, 1, 1e-38f, 1.0f},
      {"frame past 16 bits", 8, 2, 1, 1000.0f, 1.0f},  // 72000 points
      {"frame rounds up to 32768", 8, 2, 1, 1.0f, 455.107f},
  };
  for (const Refusal &r : refusals) {
    SCOPED_TRACE(r.why);
    host_.images.clear();
    calls().clear();
    vt::recorded_messages().clear();
    SyntheticImage &s = host_.images["img"];
    s.width = r.width;
    s.height = r.height;
    s.channels = r.channels;
    s.h_size = r.h_size;
    s.v_size = r.v_size;
    ScratchOutput out;
    EXPECT_EQ(out.add_pict("img 72"), 0);
    EXPECT_TRUE(out.written().empty());
    EXPECT_EQ(calls(), (Calls{"prepare img", "open", "close", "release img"}));
    ASSERT_EQ(vt::recorded_messages().size(), 1u);
    EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_ERROR);
    EXPECT_EQ(vt::recorded_messages()[0].text.rfind("PICT image", 0), 0u);
  }
  // The largest that fit: 16382 x 1 (w = 0x3FFE) and 1 x 32767.
  add_image("wide", 0x3FFE, 1, 1, grey_rows(0x3FFE, 1));
  add_image("tall", 1, 32767, 1, grey_rows(1, 32767));
  for (const char *param : {"wide 72", "tall 72"}) {
    ScratchOutput out;
    ASSERT_EQ(out.add_pict(param), 1) << param;
    EXPECT_EQ(parse_picture(out.written()).error, "") << param;
  }
}

// ---- Mask regions ----------------------------------------------------------------------

class PictMask : public PictTest {
 protected:
  // The region of a grey picture width x height with the given mask.
  Bytes region_of(int32_t width, int32_t height, const std::string &mask_name) {
    if (host_.images.count("pic") == 0 || host_.images["pic"].width != width ||
        host_.images["pic"].height != height) {
      add_image("pic", width, height, 1, grey_rows(width, height));
    }
    ScratchOutput out;
    EXPECT_EQ(out.add_pict(("pic 72 " + mask_name).c_str()), 1);
    const ParsedPicture p = parse_picture(out.written());
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.opcode, 0x99);
    return p.region;
  }
  size_t mask_rows_read() {
    return static_cast<size_t>(std::count(calls().begin(), calls().end(), "mask_next_row"));
  }
};

TEST_F(PictMask, RegionExamples) {
  struct Case {
    const char *what;
    int32_t picture_width, picture_height, mask_width;
    std::vector<std::string> mask;
    Bytes region;
  };
  const std::vector<Case> cases = {
      {"three pixels on rows 2 to 4", 16, 6, 16,
       {"................", "................", ".###............", ".###............",
        ".###............", "................"},
       hex("00 1C 00 02 00 00 00 06 00 10"  // size 28, box
           "00 02 00 01 00 04 7F FF"        // row 2: 1..4 in
           "00 05 00 01 00 04 7F FF 7F FF")},  // row 5: 1..4 out
      {"full, sixteen wide", 16, 4, 16, std::vector<std::string>(4, std::string(16, '#')),
       hex("00 1C 00 00 00 00 00 04 00 10  00 00 00 00 00 10 7F FF"
           "00 04 00 00 00 10 7F FF 7F FF")},
      {"odd picture width closes at the even row bytes", 11, 1, 12, {"############"},
       hex("00 1C 00 00 00 00 00 01 00 0C  00 00 00 00 00 0C 7F FF"
           "00 01 00 00 00 0C 7F FF 7F FF")},
      {"no pixel set: the empty region with its box", 16, 3, 16,
       std::vector<std::string>(3, std::string(16, '.')), hex("00 0A 00 00 00 00 00 00 00 00")},
      {"half as tall: output row 0 is all clear", 8, 4, 8, {"########", "########"},
       hex("00 1C 00 01 00 00 00 04 00 08  00 01 00 00 00 08 7F FF"
           "00 04 00 00 00 08 7F FF 7F FF")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    host_.images.erase("m");
    add_mask("m", c.mask_width, c.mask);
    EXPECT_EQ(region_of(c.picture_width, c.picture_height, "m"), c.region);
  }
}

TEST_F(PictMask, LastRunClosesAtTheRowWidth) {
  // 12 pixels: the host leaves the four bits past the mask's width set.
  SyntheticImage &m = add_mask("m", 12, std::vector<std::string>(2, std::string(12, '#')));
  for (size_t i = 1; i < m.rows.size(); i += 2) m.rows[i] = 0xFF;
  EXPECT_EQ(region_of(12, 2, "m"), hex("00 1C 00 00 00 00 00 02 00 0C"
                                       "00 00 00 00 00 0C 7F FF 00 02 00 00 00 0C 7F FF 7F FF"));
}

TEST_F(PictMask, TwiceAsTallMaskUsesEverySecondRow) {
  // Rows 1, 3, 5, 7 of the tall mask are the short mask's rows; the rows
  // between are fully set, so using one of them would show.
  const std::vector<std::string> used = {"#.......", "##......", "........", "..####.."};
  std::vector<std::string> tall;
  for (const std::string &row : used) {
    tall.push_back("########");
    tall.push_back(row);
  }
  add_mask("tall", 8, tall);
  add_mask("short", 8, used);
  const Bytes expected = region_of(8, 4, "short");
  calls().clear();
  EXPECT_EQ(region_of(8, 4, "tall"), expected);
  EXPECT_EQ(mask_rows_read(), 8u);
  EXPECT_EQ(expected, hex("00 34 00 00 00 00 00 04 00 08"
                          "00 00 00 00 00 01 7F FF  00 01 00 01 00 02 7F FF"
                          "00 02 00 00 00 02 7F FF  00 03 00 02 00 06 7F FF"
                          "00 04 00 02 00 06 7F FF  7F FF"));
}

TEST_F(PictMask, ReusedRowOfAWiderMaskIsScaledOnce) {
  // An 18-wide mask for a 16-wide picture is compacted; with half the rows
  // each mask row serves twice and must give what a full-height mask of
  // repeated rows gives (after an all-clear first row).
  const std::vector<std::string> rows = {"..######..##...###", "#..#..#..#..#..#..",
                                         "###########.......", ".................#"};
  std::vector<std::string> repeated = {std::string(18, '.')};
  for (const std::string &r : rows) {
    repeated.push_back(r);
    repeated.push_back(r);
  }
  repeated.pop_back();
  add_mask("half", 18, rows);
  add_mask("full", 18, repeated);
  EXPECT_EQ(region_of(16, 8, "half"), region_of(16, 8, "full"));
}

TEST_F(PictMask, RegionTooLargeForItsSizeWordFailsTheMask) {
  // Alternating rows of alternating pixels: 64 inversion points a row.
  std::vector<std::string> rows;
  for (int y = 0; y < 300; ++y) {
    std::string row;
    for (int x = 0; x < 64; ++x) row += (y % 2 == 0 && x % 2 == 0) ? '#' : '.';
    rows.push_back(row);
  }
  add_mask("m", 64, rows);
  add_image("pic", 64, 300, 1, grey_rows(64, 300));
  ScratchOutput out;
  EXPECT_EQ(out.add_pict("pic 72 m"), 0);
  EXPECT_EQ(out.written().size(), 104 + 2052 + 18u);  // the head only: no region, no rows
  EXPECT_EQ(std::count(calls().begin(), calls().end(), "begin"), 0);
  EXPECT_EQ(std::count(calls().begin(), calls().end(), "mask_end"), 1);
  EXPECT_EQ(calls().back(), "release pic");
  // Half the rows make a region of 32,767 bytes or less.
  rows.resize(150);
  host_.images.erase("m");
  add_mask("m", 64, rows);
  add_image("pic", 64, 150, 1, grey_rows(64, 150));
  ScratchOutput smaller;
  EXPECT_EQ(smaller.add_pict("pic 72 m"), 1);
}

TEST_F(PictMask, MaskWithoutPixelsFails) {
  add_image("pic", 8, 2, 1, grey_rows(8, 2));
  for (auto [width, height] : std::vector<std::pair<int32_t, int32_t>>{{0, 2}, {8, 0}, {-8, 2}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    SyntheticImage &m = host_.images["m"];
    m = SyntheticImage{};
    m.width = width;
    m.height = height;
    m.channels = 0;
    m.kinds = 0x02;
    calls().clear();
    ScratchOutput out;
    EXPECT_EQ(out.add_pict("pic 72 m"), 0);
    EXPECT_EQ(mask_rows_read(), 0u);
    EXPECT_EQ(calls().back(), "release pic");
  }
}

TEST_F(PictMask, MaskIsAskedAtThePictureResolution) {
  SyntheticImage &s = add_image("pic", 8, 2, 1, grey_rows(8, 2));
  s.h_size = 8.0f / 96.0f;
  add_mask("m", 8, {"########", "########"});
  ScratchOutput out;
  ASSERT_EQ(out.add_pict("pic 300 m"), 1);
  // The last open request was the mask's: the image's own resolution.
  EXPECT_EQ(host_.last_request.h_res, 96.0f);
  EXPECT_EQ(host_.last_request.v_res, 72.0f);
  EXPECT_EQ(host_.last_request.kinds, 0x22);
}

// ---- Real readers: ImageMagick decodes what we write -----------------------------------

struct DecodedImage {
  int32_t width = 0;
  int32_t height = 0;
  Bytes rgb;
};

// Reads a binary PPM (P6, maxval 255).
std::optional<DecodedImage> read_ppm(const Bytes &file) {
  size_t at = 0;
  auto next_token = [&]() -> std::string {
    while (at < file.size()) {
      if (file[at] == '#') {
        while (at < file.size() && file[at] != '\n') ++at;
      } else if (std::isspace(file[at]) != 0) {
        ++at;
      } else {
        break;
      }
    }
    std::string token;
    while (at < file.size() && std::isspace(file[at]) == 0) token += static_cast<char>(file[at++]);
    return token;
  };
  if (next_token() != "P6") return std::nullopt;
  DecodedImage image;
  image.width = std::stoi(next_token());
  image.height = std::stoi(next_token());
  if (next_token() != "255") return std::nullopt;
  ++at;  // the single blank after the maximum value
  const size_t size = static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3;
  if (file.size() < at + size) return std::nullopt;
  image.rgb.assign(file.begin() + static_cast<long>(at),
                   file.begin() + static_cast<long>(at + size));
  return image;
}

class PictInterop : public PictTest {
 protected:
  void SetUp() override {
    PictTest::SetUp();
    convert_ = vt::require_peer("convert-im6.q16", "imagemagick");
  }

  // Writes the preview (after `prefix` bytes of the file), hands it to
  // ImageMagick as a .pict file, and checks every pixel against the colour
  // its index names in the picture's own table.
  void expect_decoded_as_written(const std::string &param, const Bytes &prefix = {}) {
    ScratchOutput out(prefix);
    ASSERT_EQ(out.add_pict(param.c_str()), 1) << param;
    const Bytes picture = out.written();
    const ParsedPicture p = parse_picture(picture);
    ASSERT_EQ(p.error, "") << param;
    const std::string pict = dir_.file("in.pict");
    const std::string ppm = dir_.file("out.ppm");
    vt::write_file(pict, vt::concat({vt::repeat(0, 512), picture}));
    std::string output;
    ASSERT_EQ(vt::run_command("'" + convert_ + "' '" + pict + "' -depth 8 'ppm:" + ppm + "'",
                              &output),
              0)
        << param << ": " << output;
    const std::optional<DecodedImage> decoded = read_ppm(vt::read_file(ppm));
    ASSERT_TRUE(decoded.has_value()) << param;
    ASSERT_EQ(decoded->width, p.width) << param;
    ASSERT_EQ(decoded->height, p.height) << param;
    size_t mismatches = 0;
    for (int32_t y = 0; y < p.height; ++y) {
      for (int32_t x = 0; x < p.width; ++x) {
        const uint8_t index = p.indices[static_cast<size_t>(y * p.row_bytes + x)];
        ASSERT_LT(index, p.colours.size());
        const auto &colour = p.colours[index];
        const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(p.width) +
                           static_cast<size_t>(x)) * 3;
        for (size_t c = 0; c < 3; ++c) {
          if (decoded->rgb[at + c] != colour[c] && ++mismatches <= 5) {
            ADD_FAILURE() << param << ": pixel " << x << "," << y << " channel " << c << " is "
                          << int{decoded->rgb[at + c]} << ", index " << int{index} << " names "
                          << int{colour[c]};
          }
        }
      }
    }
    EXPECT_EQ(mismatches, 0u) << param;
  }

  std::string convert_;
  vt::TempDir dir_;
};

TEST_F(PictInterop, DecodedPixelsAreTheTableColours) {
  if (convert_.empty()) GTEST_SKIP() << "ImageMagick is not installed";
  // A gradient over all three colours, so that every part of the cube is used.
  Bytes gradient;
  for (int32_t y = 0; y < 21; ++y) {
    for (int32_t c = 0; c < 3; ++c) {
      for (int32_t x = 0; x < 61; ++x) {
        gradient.push_back(static_cast<uint8_t>(c == 0 ? x * 255 / 60 : c == 1 ? y * 255 / 20
                                                                               : (x + y) * 3 % 256));
      }
    }
  }
  add_image("rgb", 61, 21, 3, gradient);
  add_image("grey", 40, 9, 1, grey_rows(40, 9));
  add_image("odd", 37, 5, 1, grey_rows(37, 5));
  add_image("tiny", 5, 3, 1, grey_rows(5, 3));
  add_image("wide", 301, 4, 1, grey_rows(301, 4));
  add_image("rgb_tiny", 3, 2, 3, grey_rows(3, 2, 3));
  add_image("rgb_wide", 257, 3, 3, grey_rows(257, 3, 3));
  add_image("cmyk", 29, 7, 4, grey_rows(29, 7, 4));
  add_image("cmyk_small", 7, 2, 4, grey_rows(7, 2, 4));
  add_image("grey24", 24, 6, 1, grey_rows(24, 6));
  add_image("rgb13", 13, 4, 3, grey_rows(13, 4, 3));
  add_image("run", 8, 1, 1, hex("05 05 05 05 05 05 05 05"));  // odd pixel data
  add_mask("m24", 24, {"........................", "...#######.....####.....",
                       "...#######..............", "########################",
                       "..........#####.........", "........................"});
  add_mask("m14", 14, {"..##########..", "..##..........", "..............", "#############."});
  for (const char *param : {"grey 72", "odd 72", "tiny 72", "wide 72", "rgb 72", "rgb_tiny 72",
                            "rgb_wide 72", "cmyk 72", "cmyk_small 72", "grey24 72 m24",
                            "rgb13 72 m14"}) {
    expect_decoded_as_written(param);
  }
  // Pictures that start at an odd file offset (after a 7-byte FREF, say).
  expect_decoded_as_written("run 72", vt::repeat(0xAA, 7));
  expect_decoded_as_written("rgb13 72", vt::repeat(0xAA, 7));
}

}  // namespace
