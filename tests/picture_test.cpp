// The picture subsystem: PackBits, the preview's colour tables and row
// conversion, the PICT preview and its mask region, and a real reader of what
// we write.  Previews come from a test host that serves synthetic images from
// memory through the image-access methods and records every call.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "format/packbits.hpp"
#include "picture/internal.hpp"
#include "support/image_host.hpp"
#include "support/support.hpp"
#include "tessel/testing.h"
#include "varnel.h"

using varnel::format::packbits_worst_case;
using varnel::format::unpack_bits;
using varnel::format::Unpacked;
using varnel::format::UnpackStatus;

namespace {

using vt::be16;
using vt::Bytes;
using vt::hex;
using vt::HostImage;
using vt::slice;

Bytes ramp(int first, int last) {
  Bytes bytes;
  for (int v = first; v <= last; ++v) bytes.push_back(static_cast<uint8_t>(v));
  return bytes;
}

// ---- PackBits ----------------------------------------------------------------

Bytes pack(const Bytes &source) {
  Bytes packed(packbits_worst_case(source.size()) + 16, 0xEE);
  packed.resize(static_cast<size_t>(
      PackBits(source.data(), packed.data(), static_cast<uint32_t>(source.size()))));
  return packed;
}

// The packing rules written plainly one byte at a time: the reference the
// word-at-a-time packer must agree with on every input.  A literal runs up to
// the next three equal bytes (at most 128; all that is left when fewer than
// 128 remain and no three follow); a run takes up to 128 equal bytes.
Bytes pack_plainly(const Bytes &s) {
  Bytes out;
  long p = 0;
  long n = static_cast<long>(s.size());
  long first = 0;  // 1 after a byte that started no run: the literal takes it
  const auto at = [&](long i) { return s[static_cast<size_t>(p + i)]; };
  while (n > 0) {
    long k = first;
    while (k < std::min(n - 2, 128L) && !(at(k) == at(k + 1) && at(k) == at(k + 2))) ++k;
    if (k >= n - 2 && n < 128) k = n;
    if (k > 0) {
      out.push_back(static_cast<uint8_t>(k - 1));
      for (long i = 0; i < k; ++i) out.push_back(at(i));
      p += k;
      n -= k;
    }
    long j = 0;
    while (n > 0 && j < std::min(n - 1, 127L) && at(j + 1) == at(0)) ++j;
    if (j > 0) {
      out.push_back(static_cast<uint8_t>(256 - j));
      out.push_back(at(0));
      p += j + 1;
      n -= j + 1;
    }
    first = j > 0 ? 0 : 1;
  }
  return out;
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
    EXPECT_EQ(pack(source), packed) << vt::to_hex(source);
    EXPECT_EQ(pack_plainly(source), packed) << vt::to_hex(source);
  }
}

// Runs of every length around the limits after literals of 0 to 130 bytes and
// before tails of 0 to 3; pairs and alternations; then random inputs.  Every
// one packs as the plain packer does, within the bound, and unpacks back with
// both decoders (the bounded one needing no slack).
TEST(PackBits, RoundTripMatchesThePlainPackerAndTheBound) {
  std::vector<Bytes> inputs;
  for (size_t run = 1; run <= 260; ++run) {
    for (int before : {0, 1, 2, 3, 126, 127, 128, 129, 130}) {
      Bytes b;
      for (int v = 0; v < before; ++v) b.push_back(static_cast<uint8_t>(v | 0x80));
      b.insert(b.end(), run, 0x41);
      for (uint8_t tail = 0; tail <= 3; ++tail) inputs.push_back(vt::concat({b, ramp(1, tail)}));
    }
  }
  for (size_t length = 0; length <= 400; ++length) {
    Bytes pairs(length), alternating(length);
    for (size_t i = 0; i < length; ++i) {
      pairs[i] = static_cast<uint8_t>(i / 2);
      alternating[i] = static_cast<uint8_t>(i % 2);
    }
    inputs.insert(inputs.end(), {pairs, alternating});
  }
  std::mt19937 random(20240501);
  for (int i = 0; i < 3000; ++i) {
    Bytes b(random() % 1200);
    const auto alphabet = static_cast<uint32_t>(1 + random() % (i % 3 == 0 ? 256 : 4));
    for (uint8_t &v : b) v = static_cast<uint8_t>(random() % alphabet);
    inputs.push_back(b);
  }
  for (const Bytes &source : inputs) {
    const Bytes packed = pack(source);
    ASSERT_EQ(packed, pack_plainly(source)) << "source:\n" << vt::to_hex(source);
    ASSERT_LE(packed.size(), source.size() + (source.size() + 126) / 127);
    Bytes unpacked(source.size() + 127, 0xEE);
    ASSERT_EQ(static_cast<size_t>(UnPackBits(packed.data(), unpacked.data(),
                                             static_cast<int32_t>(source.size()))),
              packed.size());
    unpacked.resize(source.size());
    ASSERT_EQ(unpacked, source);
    Bytes exact(source.size());
    const Unpacked r = unpack_bits(packed, exact);
    ASSERT_EQ(r.status, UnpackStatus::kComplete);
    ASSERT_EQ(r.consumed, packed.size());
    ASSERT_EQ(exact, source);
  }
}

TEST(PackBits, ExportedDecoderWritesRunsWholeIntoTheSlack) {
  // 80 is a no-op; a run crossing the count is written whole (the caller's
  // slack); no count or no source writes nothing.
  Bytes out(2 + 127, 0xEE);
  EXPECT_EQ(UnPackBits(hex("80 01 41 42").data(), out.data(), 2), 4);
  EXPECT_EQ(slice(out, 0, 3), hex("41 42 EE"));
  EXPECT_EQ(UnPackBits(hex("FD 41").data(), out.data(), 2), 2);
  EXPECT_EQ(slice(out, 0, 5), hex("41 41 41 41 EE"));
  Bytes untouched(4, 0xEE);
  const uint8_t packed[1] = {0x00};
  EXPECT_EQ(UnPackBits(packed, untouched.data(), 0), 0);
  EXPECT_EQ(UnPackBits(packed, untouched.data(), -5), 0);
  EXPECT_EQ(UnPackBits(nullptr, untouched.data(), 0), 0);
  EXPECT_EQ(untouched, vt::repeat(0xEE, 4));
}

TEST(PackBits, BoundedDecoderStaysInsideItsBuffers) {
  // Results: 1 exactly full, 0 the packed bytes ended, -1 a run would cross
  // the end (and is not written).
  const struct {
    Bytes packed;
    int32_t room;
    int32_t result;
    int32_t consumed;
    Bytes out;
  } cases[] = {
      {hex(""), 4, 0, 0, hex("EE EE EE EE")},
      {hex("03 41 42"), 4, 0, 0, hex("EE EE EE EE")},        // literal cut
      {hex("00 41 FD"), 5, 0, 2, hex("41 EE EE EE EE")},     // no run byte
      {hex("00 41 80 80"), 3, 0, 4, hex("41 EE EE")},        // only no-ops
      {hex("01 41 42 FC 43"), 6, -1, 3, hex("41 42 EE EE EE EE")},
      {hex("02 41 42 43"), 2, -1, 0, hex("EE EE")},
      // Exact fill: the trailing 80 and 00 44 are not read.
      {hex("80 FF 41 01 42 43 80 00 44"), 4, 1, 6, hex("41 41 42 43")},
      {hex("00 41"), 0, 1, 0, hex("")},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(vt::to_hex(c.packed));
    Bytes bounded(static_cast<size_t>(c.room), 0xEE);
    int32_t consumed = -7;
    int32_t produced = -7;
    EXPECT_EQ(MacBin_UnpackBits(c.packed.data(), static_cast<int32_t>(c.packed.size()),
                                bounded.data(), c.room, &consumed, &produced),
              c.result);
    EXPECT_EQ(consumed, c.consumed);
    EXPECT_EQ(produced, static_cast<int32_t>(std::count_if(
                            c.out.begin(), c.out.end(), [](uint8_t b) { return b != 0xEE; })));
    EXPECT_EQ(bounded, c.out);
  }
  uint8_t byte = 0xEE;
  EXPECT_EQ(MacBin_UnpackBits(nullptr, 1, &byte, 1, nullptr, nullptr), -2);
  EXPECT_EQ(MacBin_UnpackBits(&byte, 1, nullptr, 1, nullptr, nullptr), -2);
  EXPECT_EQ(MacBin_UnpackBits(&byte, -1, &byte, 1, nullptr, nullptr), -2);
  EXPECT_EQ(MacBin_UnpackBits(&byte, 1, &byte, -1, nullptr, nullptr), -2);
  EXPECT_EQ(byte, 0xEE);
}

// Runs `action` with a scratch file made current the way the writer makes
// its channel current (after `prefix`), so that the output primitives and
// MacBin_Add_PICT write there.  Returns its result and the bytes after the prefix.
std::pair<int32_t, Bytes> written_by(const std::function<int32_t(MacBinChannel *)> &action,
                                     const Bytes &prefix = {}) {
  vt::ScratchOutput out;
  MacBinChannel *channel = out.open_channel("PICT", 128, "preview");
  const auto size = static_cast<int32_t>(prefix.size());
  if (size > 0) MacBin_PutBuf(prefix.data(), size, size);
  const int32_t result = action(channel);
  const Bytes all = out.bytes();
  const size_t start = std::min(prefix.size(), all.size());
  return {result, slice(all, start, all.size() - start)};
}

// ---- Colour tables and row conversion -----------------------------------------

TEST(PictColourTable, GreyRampAndColourCube) {
  vt::init_recording();
  const auto table = [](int32_t kind) {
    return written_by([kind](MacBinChannel *) { return put_pict_clut(kind), 0; }).second;
  };
  const Bytes grey = table(kClutGrey);
  const Bytes cube = table(kClutColourCube);
  const auto entry = [](const Bytes &t, size_t index) { return slice(t, 4 + index * 8, 8); };
  ASSERT_EQ(grey.size(), 4u + 256 * 8);
  EXPECT_EQ(slice(grey, 0, 4), hex("00 00 00 FF"));  // flags, size - 1
  EXPECT_EQ(entry(grey, 0), hex("0000 FFFF FFFF FFFF"));
  EXPECT_EQ(entry(grey, 100), hex("0064 9B9B 9B9B 9B9B"));
  EXPECT_EQ(entry(grey, 255), hex("00FF 0000 0000 0000"));
  ASSERT_EQ(cube.size(), 4u + 245 * 8);
  EXPECT_EQ(slice(cube, 0, 4), hex("00 00 00 F4"));
  EXPECT_EQ(entry(cube, 1), hex("0001 2A2A 0000 0000"));
  EXPECT_EQ(entry(cube, 7), hex("0007 0000 2A2A 0000"));
  EXPECT_EQ(entry(cube, 49), hex("0031 0000 0000 3F3F"));
  EXPECT_EQ(entry(cube, 100), hex("0064 5555 0000 7F7F"));  // 100 = 2 + 0 * 7 + 2 * 49
  EXPECT_EQ(entry(cube, 244), hex("00F4 FFFF FFFF FFFF"));
}

// The error diffusion as defined, in single precision.
struct FloatStep {
  int32_t step;
  float error;
};
FloatStep float_step(float error, int32_t sample, float step_size) {
  const float quotient = (static_cast<float>(sample) + error) / step_size;
  const int32_t step = nint(static_cast<double>(quotient));
  return {step, error + (static_cast<float>(sample) - static_cast<float>(step) * step_size)};
}

Bytes float_cube_indices(const Bytes &planes, size_t count) {
  Bytes indices(count);
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
      ASSERT_GE(f.step, 0);
      ASSERT_LE(f.step, max_step);
      ASSERT_EQ(i.step, f.step) << "error " << error << " sample " << sample;
      ASSERT_EQ(static_cast<float>(i.error), f.error * static_cast<float>(units_per_level))
          << "error " << error << " sample " << sample;
      if (reachable.insert(f.error).second) pending.push_back(f.error);
    }
  }
}

TEST(ErrorDiffusion, IntegerStepsEqualFloatOnEveryReachableState) {
  prove_integer_steps(42.5f, 2, kRedGreenErrorLimitHalves, diffuse_red_green, 6);
  prove_integer_steps(63.75f, 4, kBlueErrorLimitQuarters, diffuse_blue, 4);
}

TEST(ErrorDiffusion, RowsEqualTheFloatDefinition) {
  // Worked by hand: red 21 is half a step, carried; white is the cube's corner.
  Bytes row(3 * 6, 0);
  std::fill(row.begin(), row.begin() + 6, 21);
  convert_row(row.data(), 6, 3, 1, 2);
  EXPECT_EQ(slice(row, 0, 4), hex("00 01 00 01"));
  Bytes white(3 * 40, 255);
  convert_row(white.data(), 40, 3, 1, 2);
  EXPECT_EQ(slice(white, 0, 40), vt::repeat(244, 40));
  std::mt19937 random(7);
  for (int n = 0; n < 300; ++n) {
    const size_t count = 1 + random() % 700;
    Bytes planes(3 * count);
    const bool smooth = n % 2 == 0;  // gradients carry errors along; noise jumps
    for (size_t i = 0; i < planes.size(); ++i) {
      planes[i] = smooth ? static_cast<uint8_t>((i % count) * 255 / count + random() % 3)
                         : static_cast<uint8_t>(random());
    }
    const Bytes expected = float_cube_indices(planes, count);
    const Bytes green_and_blue = slice(planes, count, 2 * count);
    convert_row(planes.data(), static_cast<int32_t>(count), 3, 1, 2);
    ASSERT_EQ(slice(planes, 0, count), expected);
    ASSERT_EQ(slice(planes, count, 2 * count), green_and_blue);
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

// ---- A parser for what we write, from the picture's own rules -------------

// Unpacking written plainly, apart from the decoders under test: a count n
// below 128 copies n + 1 bytes, above 128 repeats the next byte 257 - n
// times, 128 does nothing.  Empty unless `packed` gives exactly `size` bytes.
std::optional<Bytes> unpack_plainly(const Bytes &packed, size_t size) {
  Bytes out;
  for (size_t at = 0; at < packed.size();) {
    const size_t n = packed[at++];
    if (n < 128 && at + n + 1 <= packed.size()) {
      out.insert(out.end(), packed.begin() + static_cast<long>(at),
                 packed.begin() + static_cast<long>(at + n + 1));
      at += n + 1;
    } else if (n > 128 && at < packed.size()) {
      out.insert(out.end(), 257 - n, packed[at++]);
    } else if (n != 128) {
      return std::nullopt;
    }
  }
  if (out.size() != size) return std::nullopt;
  return out;
}

struct ParsedPicture {
  std::string error;  // empty when the picture parsed whole
  Bytes bytes;
  int32_t width = 0, height = 0, row_bytes = 0, opcode = 0;
  std::vector<std::array<uint8_t, 3>> colours;
  Bytes region;                    // with a mask
  std::vector<Bytes> packed_rows;  // each with its count, as written
  Bytes indices;                   // height x row_bytes
  bool padded = false;
};

ParsedPicture parse_picture(const Bytes &p) {
  ParsedPicture r;
  r.bytes = p;
  const auto fail = [&r](const std::string &why) {
    r.error = why;
    return r;
  };
  if (p.size() < 108) return fail("shorter than the picture head");
  r.opcode = static_cast<int32_t>(be16(p, 52));
  r.row_bytes = static_cast<int32_t>(be16(p, 54) & 0x7FFF);
  r.height = static_cast<int32_t>(be16(p, 60));
  r.width = static_cast<int32_t>(be16(p, 62));
  size_t at = 108;
  for (size_t i = 0; i <= be16(p, 106); ++i, at += 8) {
    if (be16(p, at) != i) return fail("colour table entry out of order");
    r.colours.push_back({p.at(at + 2), p.at(at + 4), p.at(at + 6)});
  }
  at += 18;  // source and destination rectangles, transfer mode
  if (r.opcode == 0x99) {
    r.region = slice(p, at, be16(p, at));
    at += r.region.size();
  }
  const auto w = static_cast<size_t>(r.row_bytes);
  for (int32_t y = 0; y < r.height; ++y) {
    const size_t start = at;
    Bytes row(w);
    if (w < 8) {
      if (at + w > p.size()) return fail("row past the end");
      row = slice(p, at, w);
      at += w;
    } else {
      const size_t count = w > 250 ? be16(p, at) : p.at(at);
      at += w > 250 ? 2 : 1;
      if (at + count > p.size()) return fail("packed row past the end");
      const std::optional<Bytes> unpacked = unpack_plainly(slice(p, at, count), w);
      if (!unpacked) return fail("row " + std::to_string(y) + " does not unpack to its row bytes");
      row = *unpacked;
      at += count;
    }
    r.packed_rows.push_back(slice(p, start, at - start));
    r.indices.insert(r.indices.end(), row.begin(), row.end());
  }
  if (at % 2 == 1) {  // the end opcode sits at an even offset from the picture's start
    if (p.at(at) != 0) return fail("pad byte is not 0");
    r.padded = true;
    ++at;
  }
  if (at + 2 != p.size() || be16(p, at) != 0x00FF) return fail("no end opcode at the end");
  return r;
}

class PictTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::init_recording();
    host_.install();
  }
  // Writes a preview after `prefix` bytes; returns the result and what was written.
  std::pair<int32_t, Bytes> write_pict(const std::string &param, const Bytes &prefix = {}) {
    return written_by([&](MacBinChannel *c) { return MacBin_Add_PICT(c, param.c_str()); }, prefix);
  }
  // A preview that must succeed and parse whole.
  ParsedPicture parsed(const std::string &param, const Bytes &prefix = {}) {
    const auto [result, bytes] = write_pict(param, prefix);
    EXPECT_EQ(result, 1) << param;
    ParsedPicture p = parse_picture(bytes);
    EXPECT_EQ(p.error, "") << param;
    return p;
  }
  std::string calls() const { return host_.joined_calls(); }
  long count_calls(const std::string &call) const { return host_.count_calls(call); }

  vt::ImageHost host_;
};

// ---- The preview -------------------------------------------------------------------

TEST_F(PictTest, ThreeByTwoGreyPicture) {
  host_.add_image("grey.img", 3, 2, 1, hex("0A 14 1E  28 32 3C"));
  const auto [result, written] = write_pict("grey.img 72");
  ASSERT_EQ(result, 1);
  ASSERT_EQ(written.size(), 2184u);
  EXPECT_EQ(slice(written, 0, 108),
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
  EXPECT_EQ(slice(written, 108, 8), hex("0000 FFFF FFFF FFFF"));
  EXPECT_EQ(slice(written, written.size() - 36, 36),
            hex("00FF 0000 0000 0000"      // the last grey entry
                "00 00 00 00 00 02 00 03"  // source
                "00 00 00 00 00 02 00 03"  // destination
                "00 00"                    // mode copy
                "0A 14 1E 00 28 32 3C 00"  // rows unpacked (w < 8), final 0 of the odd width
                "00 FF"));                 // end of picture
  EXPECT_EQ(host_.progress, (std::vector<std::string>{"PICT 128 preview 0", "PICT 128 preview 50",
                                                      "PICT 128 preview 100"}));
  EXPECT_EQ(calls(), "prepare grey.img, open, begin, next_row, next_row, end, close, "
                     "release grey.img");
  EXPECT_EQ(host_.last_request.h_res, 72.0f);
  EXPECT_EQ(host_.last_request.kinds, 0x22);
  EXPECT_EQ(host_.last_read_request.kinds, 0x22);
}

TEST_F(PictTest, FrameAndResolutionsFollowTheImageNotTheRequest) {
  // 4 x 2 pixels delivered at 72 ppi across and 36 down: both 4 points.
  host_.add_grey("img", 4, 2).v_size = 2.0f / 36.0f;
  const Bytes p = parsed("img 50").bytes;
  EXPECT_EQ(slice(p, 2, 8), hex("00 00 00 00 00 04 00 04"));
  EXPECT_EQ(slice(p, 20, 8), hex("00 48 00 00  00 24 00 00"));
  EXPECT_EQ(slice(p, 72, 8), hex("00 48 00 00  00 24 00 00"));
  EXPECT_EQ(host_.last_request.h_res, 50.0f);  // what was asked for, not what came
}

TEST_F(PictTest, MaskIsAskedForAtThePictureImagesResolution) {
  host_.add_grey("pic", 8, 2).h_size = 8.0f / 96.0f;
  host_.add_mask("m", 8, {"########", "########"});
  parsed("pic 300 m");
  EXPECT_EQ(host_.last_request.h_res, 96.0f);  // the last open was the mask's
  EXPECT_EQ(host_.last_request.v_res, 72.0f);
  EXPECT_EQ(host_.last_request.kinds, 0x22);
}

TEST_F(PictTest, SizeWordRowsTableAndPaddingOfEveryKindAndWidth) {
  host_.add_grey("grey", 8, 2);
  host_.add_grey("rgb", 8, 2, 3);
  host_.add_grey("cmyk", 8, 2, 4);
  host_.add_mask("mask", 8, {"########", "########"});
  host_.add_image("five", 5, 1, 1, hex("01 01 01 01 01"));
  host_.add_image("eight", 8, 1, 1, hex("01 01 01 01 01 01 01 01"));
  host_.add_grey("narrow", 250, 3);  // the widest with a count byte
  host_.add_grey("wide", 251, 3);    // a count word, 252 row bytes
  host_.add_grey("big", 301, 300);   // more than 65536 bytes
  host_.add_image("literal", 8, 1, 1, hex("01 02 03 04 05 06 07 08"));
  host_.add_image("run", 8, 1, 1, hex("05 05 05 05 05 05 05 05"));
  // Every picture: the size word is the length modulo 65536 (patched at the
  // picture's own start), row bytes are even, grey samples are their own
  // indices.  Where given: the table's seed, flags and size - 1 (a seed only
  // for grey without a mask; 256 entries for grey, 245 for colour), the
  // first row as written (rows narrower than eight bytes are not packed), and
  // whether a pad byte ends the data, counted from the picture's start
  // wherever it is in the file (eight distinct values pack to 9 bytes plus
  // the count, even; a run of 8 to 2 plus the count, odd).
  const struct {
    std::string param;
    size_t prefix;
    const char *table = nullptr, *first_row = nullptr;
    int padded = -1;
  } cases[] = {{"grey 72", 0, "00 43 26 0E 00 00 00 FF"},
               {"grey 72 mask", 0, "00 00 00 00 00 00 00 FF"},
               {"rgb 72", 0, "00 00 00 00 00 00 00 F4"},
               {"cmyk 72 mask", 0, "00 00 00 00 00 00 00 F4"},
               {"five 72", 0, nullptr, "01 01 01 01 01 00"},
               {"eight 72", 0, nullptr, "02 F9 01"},
               {"narrow 72", 0},
               {"wide 72", 0},
               {"big 72", 0},
               {"literal 72", 0, nullptr, nullptr, 0},
               {"literal 72", 7, nullptr, nullptr, 0},
               {"run 72", 0, nullptr, nullptr, 1},
               {"run 72", 7, nullptr, nullptr, 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.param + " after " + std::to_string(c.prefix));
    const ParsedPicture p = parsed(c.param, vt::repeat(0xAA, c.prefix));
    const HostImage &image = host_.images[c.param.substr(0, c.param.find(' '))];
    EXPECT_EQ(be16(p.bytes, 0), p.bytes.size() % 65536);
    EXPECT_EQ(p.row_bytes, image.width + image.width % 2);
    if (c.table != nullptr) {
      EXPECT_EQ(slice(p.bytes, 100, 8), hex(c.table));
    }
    if (c.first_row != nullptr) {
      EXPECT_EQ(p.packed_rows.at(0), hex(c.first_row));
    }
    if (c.padded != -1) {
      EXPECT_EQ(p.padded, c.padded == 1);
    }
    if (image.channels != 1) continue;
    Bytes expected;
    for (size_t y = 0; y < static_cast<size_t>(image.height); ++y) {
      expected = vt::concat({expected, slice(image.rows, y * static_cast<size_t>(p.width), static_cast<size_t>(p.width))});
      if (image.width % 2 == 1) expected.push_back(0);
    }
    EXPECT_EQ(p.indices, expected);
  }
  EXPECT_GT(parsed("big 72").bytes.size(), 65536u);
}

TEST_F(PictTest, ProgressRecordTagged100IsReplacedByTheLibrarysOwn) {
  MacBinAcquireProgress default_tag{100, nullptr, nullptr, nullptr};
  MacBinAcquireProgress own_tag{7, nullptr, nullptr, nullptr};
  host_.add_grey("a", 2, 1).progress_record = &default_tag;
  host_.add_grey("b", 2, 1).progress_record = &own_tag;
  parsed("a 72");
  parsed("b 72");
  const MacBinAcquireProgress *replaced = host_.images["a"].progress_seen_at_open;
  ASSERT_NE(replaced, nullptr);
  EXPECT_NE(replaced, &default_tag);
  EXPECT_EQ(replaced->tag, 100);
  EXPECT_EQ(host_.images["b"].progress_seen_at_open, &own_tag);
}

TEST_F(PictTest, RowsFromTheHostsOwnMemoryAreConvertedInPlace) {
  // First plane only.
  HostImage &s = host_.add_grey("own", 9, 3, 3);
  s.into_row_buffer = false;
  const Bytes original = s.rows;
  parsed("own 72");
  for (size_t y = 0; y < 3; ++y) {
    const Bytes planes = slice(original, y * 27, 27);
    EXPECT_EQ(slice(s.rows, y * 27, 9), float_cube_indices(planes, 9));
    EXPECT_EQ(slice(s.rows, y * 27 + 9, 18), slice(planes, 9, 18));
  }
}

// ---- Method order on success and on every failure ----------------------------------

class PictMethodOrder : public PictTest {
 protected:
  void SetUp() override {
    PictTest::SetUp();
    host_.add_grey("pic", 8, 2, 3);
    host_.add_mask("mask", 8, {"..##....", ".####..."});
  }
};

TEST_F(PictMethodOrder, CloseAndReleaseAlwaysFollowInOrder) {
  enum Mask { kNoMask, kMaskFailed, kMaskRead };  // how far the mask got
  enum Rows { kNoRows, kBeginOnly, kAllRows };     // how far the picture's rows got
  enum Left { kNothing, kHeadOnly, kHeadAndRegion, kSizeZero, kComplete };
  using Image = HostImage;
  const struct {
    const char *what;
    const char *image;             // the image to change, and how
    int32_t Image::*field;
    int32_t value;
    Mask mask;
    Rows rows;
    Left left;
  } cases[] = {
      {"success with mask", "pic", nullptr, 0, kMaskRead, kAllRows, kComplete},
      {"open fails", "pic", &Image::fail_open, 1, kNoMask, kNoRows, kNothing},
      {"neither kind", "pic", &Image::kinds, 0x04, kNoMask, kNoRows, kNothing},
      {"mask open fails", "mask", &Image::fail_open, 1, kMaskFailed, kNoRows, kHeadOnly},
      {"mask not one bit", "mask", &Image::kinds, 0x20, kMaskFailed, kNoRows, kHeadOnly},
      {"mask begin fails", "mask", &Image::fail_begin, 1, kMaskFailed, kNoRows, kHeadOnly},
      {"mask without columns", "mask", &Image::width, 0, kMaskFailed, kNoRows, kHeadOnly},
      {"mask without rows", "mask", &Image::height, 0, kMaskFailed, kNoRows, kHeadOnly},
      {"mask of negative width", "mask", &Image::width, -8, kMaskFailed, kNoRows, kHeadOnly},
      {"null mask row", "mask", &Image::null_row_at, 1, kMaskRead, kNoRows, kHeadOnly},
      {"mask end fails", "mask", &Image::fail_end, 1, kMaskRead, kNoRows, kHeadAndRegion},
      {"mask close fails", "mask", &Image::fail_close, 1, kMaskRead, kNoRows, kHeadAndRegion},
      {"begin fails", "pic", &Image::fail_begin, 1, kNoMask, kBeginOnly, kHeadOnly},
      {"end fails", "pic", &Image::fail_end, 1, kNoMask, kAllRows, kSizeZero},
      {"null row", "pic", &Image::null_row_at, 1, kNoMask, kAllRows, kSizeZero},
      {"close fails", "pic", &Image::fail_close, 1, kNoMask, kAllRows, kComplete},
  };
  const std::string mask_calls[] = {
      "", "prepare mask, mask_open, mask_begin, mask_end, mask_close, release mask, ",
      "prepare mask, mask_open, mask_begin, mask_next_row, mask_next_row, mask_end, mask_close, "
      "release mask, "};
  const std::string row_calls[] = {"", "begin, ", "begin, next_row, next_row, end, "};
  // The head of a colour picture: everything before the region and the rows.
  const size_t head = 108 + 4 + 245 * 8 + 18 - 4;
  const vt::ImageHost pristine = host_;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    host_ = pristine;
    if (c.field != nullptr) host_.images[c.image].*c.field = c.value;
    // Failures of the picture's own open come before the mask is asked for.
    const bool mask = c.mask != kNoMask || c.left == kNothing;
    const auto [result, written] = write_pict(mask ? "pic 72 mask" : "pic 72");
    EXPECT_EQ(result, &c == &cases[0] ? 1 : 0);  // only the first succeeds
    EXPECT_EQ(calls(), "prepare pic, open, " + mask_calls[c.mask] + row_calls[c.rows] +
                           "close, release pic");
    switch (c.left) {
      case kNothing:
        EXPECT_TRUE(written.empty());
        break;
      case kHeadOnly:  // no region, no rows, size left 0
        EXPECT_EQ(written.size(), head);
        EXPECT_EQ(be16(written, 0), 0u);
        break;
      case kHeadAndRegion:
        ASSERT_GT(written.size(), head);
        EXPECT_EQ(written.size() - head, be16(written, head));
        break;
      case kSizeZero:
        EXPECT_EQ(be16(written, 0), 0u);
        break;
      case kComplete:
        EXPECT_EQ(be16(written, 0), written.size());
        break;
    }
  }
}

class PictRefused : public PictMethodOrder {
 protected:
  // The preview is refused before any host call or byte, with `message` (or none).
  void expect_refused(const std::string &param, const char *message) {
    SCOPED_TRACE("[" + param + "]");
    host_.calls.clear();
    vt::recorded_messages().clear();
    const auto [result, written] = write_pict(param);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(calls(), "");
    EXPECT_TRUE(written.empty());
    EXPECT_EQ(vt::recorded_messages().size(), message == nullptr ? 0u : 1u);
    if (message != nullptr) {
      EXPECT_EQ(vt::count_messages(message), 1u);
    }
  }
};

TEST_F(PictRefused, ParameterTextsWithoutImageOrResolution) {
  for (const char *nothing : {"", "   ", "pic", "\"\" 72"})
    expect_refused(nothing, "PICT wants 'IMAGE RESOLUTION [MASK]', e.g. 'preview.png 72 mask.pbm'");
}

TEST_F(PictRefused, ParameterTextOf256Characters) {
  // 255 characters fit the 256-byte buffer; 256 are refused, never overflow it.
  const std::string fits = "pic 72 " + std::string(255 - 7, 'm');
  host_.images[std::string(255 - 7, 'm')] = host_.images["mask"];
  EXPECT_EQ(write_pict(fits).first, 1);
  expect_refused(fits + "m", "PICT parameter text longer than 255 characters");
}

TEST_F(PictRefused, MaskWithoutTheMaskMethods) {
  MacBin_Setmethod(nullptr, MACBIN_METHOD_MASK_END);
  EXPECT_EQ(write_pict("pic 72").first, 1);  // no mask: the mask methods are not needed
  expect_refused("pic 72 mask", "PICT preview needs the image-access methods installed");
}

// Write failures set the process-wide failure flags: one test (process) each.
TEST_F(PictMethodOrder, WriteFailureSkipsTheRemainingRows) {
  host_.add_grey("tall", 64, 40);
  vt::fail_writes_after(2174 + 300, 28 /* ENOSPC */);  // inside the pixel data
  EXPECT_EQ(write_pict("tall 72").first, 0);
  vt::clear_faults();
  EXPECT_GT(count_calls("next_row"), 0);
  EXPECT_LT(count_calls("next_row"), 40);
  EXPECT_EQ(count_calls("end"), 1);
  EXPECT_EQ(host_.calls.back(), "release tall");
  EXPECT_EQ(vt::count_messages("Writing output file"), 1u);
}

TEST_F(PictMethodOrder, FailureOfTheLastByteIsNoSuccess) {
  const auto whole = write_pict("pic 72");
  const int32_t result = whole.first;
  const auto &complete = whole.second;
  ASSERT_EQ(result, 1);
  EXPECT_EQ(written_by([&](MacBinChannel *c) {
              vt::fail_writes_after(static_cast<int64_t>(complete.size()) - 1, 28 /* ENOSPC */);
              const int32_t failed = MacBin_Add_PICT(c, "pic 72");
              vt::clear_faults();
              return failed;
            }).first, 0);
  EXPECT_EQ(vt::count_messages("Writing output file"), 1u);
}

TEST_F(PictMethodOrder, FailedSeekForTheSizePatchIsNoSuccess) {
  EXPECT_EQ(written_by([](MacBinChannel *c) {
              vt::fail_seeks_after(0, 5 /* EIO */);
              const int32_t failed = MacBin_Add_PICT(c, "pic 72");
              vt::clear_faults();
              return failed;
            }).first, 0);
  EXPECT_EQ(host_.calls.back(), "release pic");
}

TEST_F(PictTest, ImagesThatDoNotFitThePictureAreRefusedBeforeAnyByte) {
  const struct {
    const char *why;
    int32_t width, height, channels;
    float h_size, v_size;
  } refusals[] = {
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
  for (const auto &r : refusals) {
    SCOPED_TRACE(r.why);
    host_.calls.clear();
    vt::recorded_messages().clear();
    host_.images["img"] = {.width = r.width, .height = r.height, .channels = r.channels,
                           .h_size = r.h_size, .v_size = r.v_size};
    const auto [result, written] = write_pict("img 72");
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(written.empty());
    EXPECT_EQ(calls(), "prepare img, open, close, release img");
    ASSERT_EQ(vt::recorded_messages().size(), 1u);
    EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_ERROR);
    EXPECT_EQ(vt::recorded_messages()[0].text.rfind("PICT image", 0), 0u);
  }
  // The largest that fit: 16382 x 1 (w = 0x3FFE) and 1 x 32767.
  host_.add_grey("wide", 0x3FFE, 1);
  host_.add_grey("tall", 1, 32767);
  parsed("wide 72");
  parsed("tall 72");
}

// ---- Mask regions ----------------------------------------------------------------------

class PictMask : public PictTest {
 protected:
  // The region of a grey picture width x height with the given mask.
  Bytes region_of(int32_t width, int32_t height, const std::string &mask_name) {
    host_.add_grey("pic", width, height);
    const ParsedPicture p = parsed("pic 72 " + mask_name);
    EXPECT_EQ(p.opcode, 0x99);
    return p.region;
  }
};

TEST_F(PictMask, RegionExamples) {
  const struct {
    const char *what;
    int32_t picture_width, picture_height, mask_width;
    std::vector<std::string> mask;
    Bytes region;
  } cases[] = {
      {"three pixels on rows 2 to 4", 16, 6, 16,
       {"................", "................", ".###............", ".###............",
        ".###............", "................"},
       hex("00 1C 00 02 00 00 00 06 00 10"     // size 28, box
           "00 02 00 01 00 04 7F FF"           // row 2: 1..4 in
           "00 05 00 01 00 04 7F FF 7F FF")},  // row 5: 1..4 out
      {"full, sixteen wide", 16, 4, 16, std::vector<std::string>(4, std::string(16, '#')),
       hex("00 1C 00 00 00 00 00 04 00 10  00 00 00 00 00 10 7F FF"
           "00 04 00 00 00 10 7F FF 7F FF")},
      {"odd picture width closes at the even row bytes", 11, 1, 12, {"############"},
       hex("00 1C 00 00 00 00 00 01 00 0C  00 00 00 00 00 0C 7F FF"
           "00 01 00 00 00 0C 7F FF 7F FF")},
      // The host leaves the four bits past the mask's 12 pixels set.
      {"last run closes at the row width", 12, 2, 12, {"################", "################"},
       hex("00 1C 00 00 00 00 00 02 00 0C  00 00 00 00 00 0C 7F FF"
           "00 02 00 00 00 0C 7F FF 7F FF")},
      // Bits past the mask's width that differ from row to row are no
      // change of row.
      {"bits past the mask's width never count", 12, 2, 12, {"############....", "################"},
       hex("00 1C 00 00 00 00 00 02 00 0C  00 00 00 00 00 0C 7F FF"
           "00 02 00 00 00 0C 7F FF 7F FF")},
      {"no pixel set: the empty region with its box", 16, 3, 16,
       std::vector<std::string>(3, std::string(16, '.')), hex("00 0A 00 00 00 00 00 00 00 00")},
      {"half as tall: output row 0 is all clear", 8, 4, 8, {"########", "########"},
       hex("00 1C 00 01 00 00 00 04 00 08  00 01 00 00 00 08 7F FF"
           "00 04 00 00 00 08 7F FF 7F FF")},
      {"rows that change", 8, 4, 8, {"#.......", "##......", "........", "..####.."},
       hex("00 34 00 00 00 00 00 04 00 08"
           "00 00 00 00 00 01 7F FF  00 01 00 01 00 02 7F FF"
           "00 02 00 00 00 02 7F FF  00 03 00 02 00 06 7F FF"
           "00 04 00 02 00 06 7F FF  7F FF")},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    host_.add_mask("m", c.mask_width, c.mask);
    EXPECT_EQ(region_of(c.picture_width, c.picture_height, "m"), c.region);
  }
}

TEST_F(PictMask, TallerMaskGivesTheRegionOfTheRowsThatStandForThePictures) {
  // Rows 1, 3, 5, 7 of a twice-as-tall mask are the short mask's rows; the
  // rows between are fully set, so using one of them would show.  Every row
  // is read.
  const std::vector<std::string> used = {"#.......", "##......", "........", "..####.."};
  std::vector<std::string> tall;
  for (const std::string &row : used) {
    tall.push_back("########");
    tall.push_back(row);
  }
  host_.add_mask("tall", 8, tall);
  host_.add_mask("short", 8, used);
  const Bytes expected = region_of(8, 4, "short");
  host_.calls.clear();
  EXPECT_EQ(region_of(8, 4, "tall"), expected);
  EXPECT_EQ(count_calls("mask_next_row"), 8);
}

TEST_F(PictMask, HalfHeightWiderMaskServesEachRowTwice) {
  // An 18-wide mask for a 16-wide picture is compacted; with half the rows
  // each mask row serves twice and must give what a full-height mask of
  // repeated rows gives (after an all-clear first row).
  const std::vector<std::string> rows = {"..######..##...###", "#..#..#..#..#..#..",
                                         "###########.......", ".................#"};
  std::vector<std::string> repeated = {std::string(18, '.')};
  for (const std::string &r : rows) repeated.insert(repeated.end(), {r, r});
  repeated.pop_back();
  host_.add_mask("half", 18, rows);
  host_.add_mask("full", 18, repeated);
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
  host_.add_mask("m", 64, rows);
  host_.add_grey("pic", 64, 300);
  const auto [result, written] = write_pict("pic 72 m");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(written.size(), 104 + 2052 + 18u);  // the head only: no region, no rows
  EXPECT_EQ(count_calls("begin"), 0);
  EXPECT_EQ(count_calls("mask_end"), 1);
  EXPECT_EQ(host_.calls.back(), "release pic");
  // Half the rows make a region of 32,767 bytes or less, written whole.
  rows.resize(150);
  host_.add_mask("m", 64, rows);
  const Bytes region = region_of(64, 150, "m");
  ASSERT_GE(region.size(), 2u);
  EXPECT_EQ(be16(region, 0), region.size());
  EXPECT_GT(region.size(), 16000u);
  EXPECT_LE(region.size(), 32767u);
}

// ---- A real reader: ImageMagick decodes what we write -----------------------------------

using PictInterop = PictTest;

TEST_F(PictInterop, ImageMagickDecodesTheTableColours) {
  const std::string convert = vt::require_peer("convert-im6.q16", "imagemagick");
  if (convert.empty()) GTEST_SKIP() << "ImageMagick is not installed";
  // A gradient over all three colours, so that every part of the cube is used.
  Bytes gradient;
  for (int32_t y = 0; y < 21; ++y)
    for (int32_t c = 0; c < 3; ++c)
      for (int32_t x = 0; x < 61; ++x)
        gradient.push_back(static_cast<uint8_t>(c == 0   ? x * 255 / 60
                                                : c == 1 ? y * 255 / 20
                                                         : (x + y) * 3 % 256));
  host_.add_image("rgb", 61, 21, 3, gradient);
  host_.add_image("run", 8, 1, 1, hex("05 05 05 05 05 05 05 05"));  // odd pixel data
  host_.add_mask("m24", 24, {"........................", "...#######.....####.....",
                       "...#######..............", "########################",
                       "..........#####.........", "........................"});
  host_.add_mask("m14", 14, {"..##########..", "..##..........", "..............", "#############."});
  const struct {
    const char *name;
    int32_t width, height, channels;
  } images[] = {{"grey", 40, 9, 1},  {"odd", 37, 5, 1},       {"tiny", 5, 3, 1},
                {"wide", 301, 4, 1}, {"rgb_tiny", 3, 2, 3},   {"rgb_wide", 257, 3, 3},
                {"cmyk", 29, 7, 4},  {"cmyk_small", 7, 2, 4}, {"grey24", 24, 6, 1},
                {"rgb13", 13, 4, 3}};
  std::vector<std::pair<std::string, size_t>> previews = {
      {"rgb 72", 0}, {"grey24 72 m24", 0}, {"rgb13 72 m14", 0},
      {"run 72", 7}, {"rgb13 72", 7}};  // starting at an odd file offset (after a FREF, say)
  for (const auto &i : images) {
    host_.add_grey(i.name, i.width, i.height, i.channels);
    previews.emplace_back(std::string(i.name) + " 72", 0);
  }
  vt::TempDir dir;
  for (const auto &[param, prefix] : previews) {
    SCOPED_TRACE(param + " after " + std::to_string(prefix));
    const ParsedPicture p = parsed(param, vt::repeat(0xAA, prefix));
    vt::write_file(dir.file("in.pict"), vt::concat({vt::repeat(0, 512), p.bytes}));
    std::string output;
    ASSERT_EQ(vt::run_command("'" + convert + "' '" + dir.file("in.pict") + "' -depth 8 'rgb:" +
                                  dir.file("out.rgb") + "'",
                              &output),
              0)
        << output;
    const Bytes rgb = vt::read_file(dir.file("out.rgb"));
    ASSERT_EQ(rgb.size(), static_cast<size_t>(p.width * p.height * 3));
    // Every pixel is the colour its index names in the picture's own table.
    size_t mismatches = 0;
    for (int32_t y = 0; y < p.height; ++y) {
      for (int32_t x = 0; x < p.width; ++x) {
        const uint8_t index = p.indices[static_cast<size_t>(y * p.row_bytes + x)];
        ASSERT_LT(index, p.colours.size());
        const Bytes colour(p.colours[index].begin(), p.colours[index].end());
        if (slice(rgb, static_cast<size_t>(y * p.width + x) * 3, 3) != colour && ++mismatches <= 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " of index " << int{index};
      }
    }
    EXPECT_EQ(mismatches, 0u);
  }
}

}  // namespace
