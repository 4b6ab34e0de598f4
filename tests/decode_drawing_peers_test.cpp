// The drawing engine next to netpbm's picttoppm, on pictures built here of
// the features picttoppm draws: lines of every slope and direction with
// thin and thick pens, painted and framed rectangles, patterns in the
// pattern transfer modes, painted polygons and 1-bit images in the source
// modes.  Ours must give the same RGB pixels, with two known differences
// of picttoppm's, left out of the comparison and checked apart:
//   - a painted polygon: picttoppm also paints the pixels on its right and
//     bottom edges, which QuickDraw leaves out (a polygon tracing a
//     rectangle paints as the rectangle does), and steps along slanted
//     edges by a rule of its own; pixels on the polygon's outline and next
//     to it are not compared (the tests of the polygon rule are in
//     decode_drawing_test);
//   - notPatBic: picttoppm draws it as patCopy.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/pict_builder.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::PictBuilder;
using vt::point;
using vt::rect;

Bytes operator+(const Bytes &a, const Bytes &b) { return vt::concat({a, b}); }

struct Rgb {
  int width = 0, height = 0;
  Bytes samples;
  uint32_t at(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    return (uint32_t{samples[i]} << 16) | (uint32_t{samples[i + 1]} << 8) | samples[i + 2];
  }
};

// A binary PPM of 8-bit samples, as picttoppm writes it.
std::optional<Rgb> parse_ppm(const Bytes &ppm) {
  size_t at = 2;
  const auto number = [&]() {
    while (at < ppm.size() && (ppm[at] == ' ' || ppm[at] == '\n' || ppm[at] == '\t' || ppm[at] == '\r')) ++at;
    int value = 0;
    while (at < ppm.size() && ppm[at] >= '0' && ppm[at] <= '9') value = value * 10 + (ppm[at++] - '0');
    return value;
  };
  if (ppm.size() < 2 || ppm[0] != 'P' || ppm[1] != '6') return std::nullopt;
  Rgb image;
  image.width = number(), image.height = number();
  if (number() != 255) return std::nullopt;
  ++at;
  const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3;
  if (ppm.size() - at < count) return std::nullopt;
  image.samples.assign(ppm.begin() + static_cast<ptrdiff_t>(at), ppm.begin() + static_cast<ptrdiff_t>(at + count));
  return image;
}

class DrawingPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    picttoppm_ = vt::require_peer("picttoppm", "netpbm source, built by .ci/install-deps.sh");
    if (picttoppm_.empty()) GTEST_SKIP() << "picttoppm not installed";
  }
  // picttoppm's drawing of `picture` (as a PICT file: 512 bytes first).
  Rgb theirs(const Bytes &picture) {
    const std::string in = dir_.file("in.pict"), out = dir_.file("out.ppm");
    vt::write_file(in, vt::concat({Bytes(512, 0), picture}));
    std::string output;
    EXPECT_EQ(vt::run_command("(" + picttoppm_ + " '" + in + "' > '" + out + "')", &output), 0) << output;
    const std::optional<Rgb> image = parse_ppm(vt::read_file(out));
    EXPECT_TRUE(image.has_value()) << output;
    return image.value_or(Rgb{});
  }
  // Ours and picttoppm's pixels side by side; pixels where `ignore` says
  // so are left out.  Returns the differences, "" when none.
  std::string compare(const PictBuilder &builder, const std::vector<bool> &ignore = {}) {
    const Bytes picture = builder.finish();
    vt::DecodedPicture ours(picture);
    EXPECT_EQ(ours.result, 1) << ours.error;
    EXPECT_STREQ(ours.error, "");
    const Rgb peer = theirs(picture);
    if (peer.width != ours.pixels.width || peer.height != ours.pixels.height) return "sizes differ";
    std::string report;
    int shown = 0;
    for (int y = 0; y < peer.height; ++y)
      for (int x = 0; x < peer.width; ++x) {
        const size_t i = static_cast<size_t>(y) * static_cast<size_t>(peer.width) + static_cast<size_t>(x);
        if (!ignore.empty() && ignore[i]) continue;
        if (peer.at(x, y) != ours.rgb(x, y) && shown++ < 8)
          report += "(" + std::to_string(x) + "," + std::to_string(y) + ") ";
      }
    if (shown > 0) report = std::to_string(shown) + " pixels differ: " + report + "\nours:\n" + ours.rows();
    return report;
  }

  std::string picttoppm_;
  vt::TempDir dir_;
};

TEST_F(DrawingPeers, LinesOfEverySlopeAndDirection) {
  // A fan of lines from the centre to points around a 48 x 48 picture,
  // with a 1 x 1 pen, then with 2 x 3 and 5 x 1 pens.
  for (const auto &[pen_width, pen_height] : {std::pair{1, 1}, {3, 2}, {1, 5}}) {
    PictBuilder picture(48, 48);
    // Short lines, one leaving the picture: with the 1 x 1 pen (picttoppm
    // leaves out a thick pen's pixels from points outside the picture).
    picture.op(0x22, point(5, 5) + vt::hex("F9 04"));
    picture.op(0x23, vt::hex("7F 80"));
    picture.op(0x07, point(pen_width, pen_height));
    for (int i = 0; i < 40; i += 3) {
      picture.op(0x20, point(24, 24) + point(i, 2));
      picture.op(0x20, point(24, 24) + point(45, i));
      picture.op(0x20, point(i + 1, 44) + point(23, 23));
      picture.op(0x20, point(3, i + 1) + point(22, 25));
    }
    EXPECT_EQ(compare(picture), "") << "pen " << pen_width << " x " << pen_height;
  }
}

TEST_F(DrawingPeers, PaintedAndFramedRectangles) {
  PictBuilder picture(40, 40);
  picture.op(0x31, rect(1, 1, 9, 13)).op(0x30, rect(10, 2, 30, 20));
  picture.op(0x07, point(3, 2)).op(0x30, rect(12, 22, 38, 38));
  picture.op(0x07, point(1, 4)).op(0x30, rect(32, 1, 39, 20));
  picture.op(0x39).op(0x38);
  EXPECT_EQ(compare(picture), "");
}

TEST_F(DrawingPeers, PatternsInThePatternModes) {
  // Over a black left half, each mode in a band of its own, two patterns.
  for (const char *pattern : {"CC 33 CC 33 CC 33 CC 33", "81 42 24 18 18 24 42 81"}) {
    PictBuilder picture(7 * 4, 24);
    picture.op(0x31, rect(0, 0, 28, 12));
    picture.op(0x09, vt::hex(pattern));
    for (int mode = 8; mode < 15; ++mode) {
      const int top = (mode - 8) * 4;
      picture.op(0x08, vt::be_words({mode})).op(0x31, rect(top, 3, top + 4, 21));
    }
    EXPECT_EQ(compare(picture), "") << pattern;
  }
}

TEST_F(DrawingPeers, PaintedPolygonsAwayFromTheirOutline) {
  const std::vector<std::vector<std::pair<int, int>>> shapes = {
      {{2, 2}, {30, 6}, {12, 28}},
      {{20, 1}, {38, 20}, {20, 38}, {1, 20}, {20, 1}},
      {{4, 30}, {36, 30}, {36, 38}, {20, 33}, {4, 38}},
  };
  for (const auto &points : shapes) {
    PictBuilder picture(40, 40);
    picture.op(0x71, vt::polygon(points));
    // The outline: the polygon framed, closed, with a 1 x 1 pen.
    PictBuilder outline(40, 40);
    for (size_t i = 0; i < points.size(); ++i) {
      const auto &[x0, y0] = points[i];
      const auto &[x1, y1] = points[(i + 1) % points.size()];
      outline.op(0x20, point(x0, y0) + point(x1, y1));
    }
    vt::DecodedPicture edges(outline.finish());
    ASSERT_EQ(edges.result, 1);
    // Pixels on the outline or next to it are not compared: picttoppm
    // steps along its edges by a rule of its own.
    std::vector<bool> ignore;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x) {
        bool near = false;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            if (x + dx >= 0 && x + dx < 40 && y + dy >= 0 && y + dy < 40 && edges.rgb(x + dx, y + dy) == 0)
              near = true;
        ignore.push_back(near);
      }
    EXPECT_EQ(compare(picture, ignore), "");
  }
}

TEST_F(DrawingPeers, BitImagesInTheSourceModes) {
  // A 16 x 2 bit image (set bits in a checker of pairs) over a black left
  // half, in srcCopy, srcOr, srcXor, srcBic and their not forms.
  for (int mode = 0; mode < 8; ++mode) {
    PictBuilder picture(2, 16);
    picture.op(0x31, rect(0, 0, 2, 8));
    picture.op(0x90, vt::be_words({2}) + rect(0, 0, 2, 16) + rect(0, 0, 2, 16) + rect(0, 0, 2, 16) +
                         vt::be_words({mode}) + vt::hex("CC 3C  33 C3"));
    EXPECT_EQ(compare(picture), "") << "mode " << mode;
  }
}

}  // namespace
