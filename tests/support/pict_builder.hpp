// Pictures built opcode by opcode for the drawing tests, and what the
// decoder makes of them as rows of letters.  Kept apart from the library:
// every byte is written here from the picture format's description.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "support/support.hpp"
#include "varnel.h"

namespace vt {

// A version 2 picture (standard 0C00 header) of `height` x `width` with its
// frame at (0, 0), or a version 1 one.
class PictBuilder {
 public:
  PictBuilder(int height, int width, bool version_2 = true) : version_2_(version_2) {
    append_be16(bytes_, 0);
    for (int v : {0, 0, height, width}) append_be16(bytes_, static_cast<uint32_t>(v & 0xFFFF));
    if (version_2)
      bytes_ = concat({bytes_, hex("00 11 02 FF  0C 00 FF FF FF FF  00 00 00 00 00 00 00 00"
                                   "00 00 00 00 00 00 00 00  00 00 00 00")});
    else
      bytes_ = concat({bytes_, hex("11 01")});
  }
  PictBuilder &op(uint32_t opcode, const Bytes &data = {}) {
    if (version_2_) {
      if (bytes_.size() % 2) bytes_.push_back(0);
      append_be16(bytes_, opcode);
    } else {
      bytes_.push_back(static_cast<uint8_t>(opcode));
    }
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return *this;
  }
  Bytes finish() const {
    PictBuilder copy = *this;
    copy.op(0x00FF);
    return copy.bytes_;
  }

 private:
  bool version_2_;
  Bytes bytes_;
};

inline Bytes be_words(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) append_be16(b, static_cast<uint32_t>(v & 0xFFFF));
  return b;
}
inline Bytes rect(int top, int left, int bottom, int right) { return be_words({top, left, bottom, right}); }
// A point as pictures store it: v, then h.
inline Bytes point(int x, int y) { return be_words({y, x}); }
// A polygon: size, bounding box, points.
inline Bytes polygon(const std::vector<std::pair<int, int>> &points) {
  int top = 32767, left = 32767, bottom = -32768, right = -32768;
  Bytes data;
  for (const auto &[x, y] : points) {
    data = concat({data, point(x, y)});
    top = std::min(top, y), left = std::min(left, x), bottom = std::max(bottom, y), right = std::max(right, x);
  }
  return concat({be_words({static_cast<int>(10 + data.size())}), rect(top, left, bottom, right), data});
}
// A region: size, box (top, left, bottom, right), then its scan lines,
// each {y, x1, x2, ...} (the points where a row starts to differ from the
// row above), each ended by 7FFF, and 7FFF to end.
inline Bytes region(int top, int left, int bottom, int right, const std::vector<std::vector<int>> &lines) {
  Bytes data;
  for (const std::vector<int> &line : lines) {
    for (int v : line) append_be16(data, static_cast<uint32_t>(v & 0xFFFF));
    append_be16(data, 0x7FFF);
  }
  if (!lines.empty()) append_be16(data, 0x7FFF);
  return concat({be_words({static_cast<int>(10 + data.size())}), rect(top, left, bottom, right), data});
}

// What MacBin_DecodePicture makes of a picture.
struct DecodedPicture {
  int32_t result = 0;
  MacBinPixels pixels{};
  char error[128] = "unset";
  explicit DecodedPicture(const Bytes &picture) {
    result = MacBin_DecodePicture(picture.data(), static_cast<int32_t>(picture.size()), &pixels, error);
  }
  ~DecodedPicture() { MacBin_FreePixels(&pixels); }
  DecodedPicture(const DecodedPicture &) = delete;
  DecodedPicture &operator=(const DecodedPicture &) = delete;
  const uint8_t *at(int x, int y) const {
    return pixels.rgba + (static_cast<size_t>(y) * static_cast<size_t>(pixels.width) + static_cast<size_t>(x)) * 4;
  }
  uint32_t rgb(int x, int y) const {
    const uint8_t *p = at(x, y);
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  }
  // Rows as letters, one line each: '#' black, '.' white, other colours
  // by `names` (RGB -> letter), '?' for the rest.
  std::string rows(const std::vector<std::pair<uint32_t, char>> &names = {}) const {
    std::string text;
    for (int y = 0; y < pixels.height; ++y) {
      for (int x = 0; x < pixels.width; ++x) {
        const uint32_t c = rgb(x, y);
        char letter = c == 0 ? '#' : c == 0xFFFFFF ? '.' : '?';
        for (const auto &[colour, name] : names)
          if (colour == c) letter = name;
        text += letter;
      }
      text += '\n';
    }
    return text;
  }
};

// Rows of the decoded picture, after checking that it was all drawn.
inline std::string drawn(const PictBuilder &picture) {
  DecodedPicture d(picture.finish());
  EXPECT_EQ(d.result, 1) << d.error;
  EXPECT_STREQ(d.error, "");
  return d.rows();
}

// Expected rows, one text a row.
inline std::string lines(std::initializer_list<const char *> rows) {
  std::string text;
  for (const char *row : rows) text += std::string(row) + "\n";
  return text;
}

}  // namespace vt
