// The tool's area-averaging resampler: each target pixel the mean of the
// source area it covers, rows pulled from the source once each and in
// order, and the source's failure passed on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/resample.hpp"
#include "support/support.hpp"

namespace {

using vt::Bytes;
using vt::hex;

struct Resampled {
  Bytes samples;
  std::vector<int32_t> rows_pulled;  // source rows in the order they were asked for
  bool ok = true;
};

Resampled resample(int32_t source_width, int32_t source_height, int32_t target_width, int32_t target_height,
                   int32_t channels, const Bytes &source, int32_t fail_at_row = -1) {
  Resampled out;
  const auto row_bytes = static_cast<size_t>(source_width * channels);
  int32_t next = 0;
  varnel_tool::AreaResampler resampler(
      source_width, source_height, target_width, target_height, channels, [&](std::span<uint8_t> row) {
        if (next == fail_at_row || next >= source_height) return false;
        std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(next) * row_bytes),
                    row_bytes, row.begin());
        out.rows_pulled.push_back(next++);
        return true;
      });
  Bytes row(static_cast<size_t>(target_width * channels));
  for (int32_t y = 0; y < target_height && out.ok; ++y) {
    out.ok = resampler.next_row(row);
    if (out.ok) out.samples.insert(out.samples.end(), row.begin(), row.end());
  }
  if (out.ok) out.ok = !resampler.next_row(row);  // no row past the last
  return out;
}

TEST(ToolResample, EachTargetPixelIsTheMeanOfItsArea) {
  struct Case {
    const char *what;
    int32_t sw, sh, tw, th, channels;
    const char *source;
    const char *target;
  };
  const Case cases[] = {
      {"same size: unchanged", 3, 2, 3, 2, 1, "00 7F FF 01 02 03", "00 7F FF 01 02 03"},
      {"halved across; 127.5 rounds to even", 4, 1, 2, 1, 1, "00 FF 64 C8", "80 96"},
      {"three into two: a half pixel shared", 3, 1, 2, 1, 1, "00 5A B4", "1E 96"},
      {"halved down", 1, 4, 1, 2, 1, "00 64 C8 32", "32 7D"},
      {"enlarged: copies", 1, 1, 3, 2, 1, "0A", "0A 0A 0A 0A 0A 0A"},
      {"channels kept apart", 2, 1, 1, 1, 3, "FF 00 10  00 FF 30", "80 80 20"},
      {"a 2 x 2 block", 2, 2, 1, 1, 2, "00 FF 10 FF  20 FF 30 00", "18 BF"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Resampled result = resample(c.sw, c.sh, c.tw, c.th, c.channels, hex(c.source));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(vt::to_hex(result.samples), vt::to_hex(hex(c.target)));
    // Every source row once, top first, whatever the scale.
    std::vector<int32_t> all(static_cast<size_t>(c.sh));
    for (int32_t i = 0; i < c.sh; ++i) all[static_cast<size_t>(i)] = i;
    EXPECT_EQ(result.rows_pulled, all);
  }
}

TEST(ToolResample, ShrinkingSkipsNoSourceRowAndKeepsTheSum) {
  // 7 rows of 1 .. 7 into 3: each source row's weight is spread, none lost.
  const Resampled result = resample(1, 7, 1, 3, 1, hex("0E 1C 2A 38 46 54 62"));
  ASSERT_TRUE(result.ok);
  // Means over [0, 7/3), [7/3, 14/3), [14/3, 7) of 14, 28, .. 98: the rows
  // on the borders count a third and two thirds: 56 / (7/3) = 24, then 56, 88.
  EXPECT_EQ(vt::to_hex(result.samples), vt::to_hex(hex("18 38 58")));
  EXPECT_EQ(result.rows_pulled.size(), 7u);
}

TEST(ToolResample, SourceFailureStopsTheTarget) {
  const Resampled result = resample(1, 4, 1, 2, 1, hex("00 64 C8 32"), 2);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(vt::to_hex(result.samples), vt::to_hex(hex("32")));  // the first row, made before the failure
}

TEST(ToolResample, ATooSmallTargetRowIsRefused) {
  varnel_tool::AreaResampler resampler(2, 1, 2, 1, 3, [](std::span<uint8_t>) { return true; });
  Bytes row(5);
  EXPECT_FALSE(resampler.next_row(row));
}

}  // namespace
