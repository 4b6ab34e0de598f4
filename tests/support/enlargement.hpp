// The check that an image is an icon enlarged by a whole factor, each pixel
// a factor x factor square, `left` and `top` pixels into a transparent
// size x size image: for the library's thumbnails and the tool's PNGs
// alike (any image with width, height and at(x, y) giving a vt::Colour).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "support/colour.hpp"

namespace vt {

template <typename Image, typename Icon>
void expect_enlarged(const Image &image, const Icon &icon, int32_t factor, int32_t left, int32_t top, int32_t size) {
  constexpr Colour kClear{0, 0, 0, 0};
  ASSERT_EQ(image.width, size);
  ASSERT_EQ(image.height, size);
  int differences = 0;
  for (int32_t y = 0; y < size; ++y)
    for (int32_t x = 0; x < size; ++x) {
      const bool inside = x >= left && y >= top && x < left + icon.width * factor && y < top + icon.height * factor;
      const Colour want = inside ? icon.at((x - left) / factor, (y - top) / factor) : kClear;
      if (image.at(x, y) != want && ++differences <= 5)
        ADD_FAILURE() << "pixel " << x << "," << y << " is " << image.at(x, y) << ", not " << want;
    }
  EXPECT_EQ(differences, 0);
}

}  // namespace vt
