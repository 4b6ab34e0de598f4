// The RGBA canvas every decoder draws into, and the pixels it hands over.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "decode/internal.hpp"

namespace varnel::decode {

static_assert(offsetof(MacBinPixels, width) == 0 && offsetof(MacBinPixels, height) == 4 &&
              offsetof(MacBinPixels, hot_x) == 8 && offsetof(MacBinPixels, hot_y) == 12 &&
              offsetof(MacBinPixels, rgba) == 16, "MacBinPixels: four words, then rgba");
static_assert(sizeof(MacBinPixels) == 16 + sizeof(uint8_t *), "no padding on 32 or 64 bits");

void Canvas::FreeDeleter::operator()(uint8_t *p) const { std::free(p); }

Canvas::Canvas(int32_t width, int32_t height, Rgba fill) {
  if (width <= 0 || height <= 0)
    throw DecodeError("empty image (" + std::to_string(width) + " x " + std::to_string(height) + ")");
  if (width > kMaxSidePixels || height > kMaxSidePixels ||
      int64_t{width} * height > kMaxCanvasPixels)
    throw DecodeError("image too large: " + std::to_string(width) + " x " + std::to_string(height) +
                      " (at most 16384 x 16384)");
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  // Allocated with malloc: the caller frees it with MacBin_FreePixels.
  rgba_.reset(static_cast<uint8_t *>(std::malloc(pixels * 4)));
  if (!rgba_) throw DecodeError("out of memory for a " + std::to_string(width) + " x " +
                                std::to_string(height) + " image");
  width_ = width;
  height_ = height;
  uint8_t *p = rgba_.get();
  for (size_t i = 0; i < pixels; ++i, p += 4)
    p[0] = fill.red, p[1] = fill.green, p[2] = fill.blue, p[3] = fill.alpha;
}

void Canvas::hand_over(MacBinPixels *pixels, int32_t hot_x, int32_t hot_y) {
  pixels->width = width_;
  pixels->height = height_;
  pixels->hot_x = hot_x;
  pixels->hot_y = hot_y;
  pixels->rgba = rgba_.release();
  width_ = height_ = 0;
}

Rect read_rect(Reader &reader) {
  Rect rect;
  rect.top = reader.s16();
  rect.left = reader.s16();
  rect.bottom = reader.s16();
  rect.right = reader.s16();
  return rect;
}

Rect intersect(const Rect &a, const Rect &b) {
  Rect r{std::max(a.top, b.top), std::max(a.left, b.left), std::min(a.bottom, b.bottom),
         std::min(a.right, b.right)};
  if (r.empty()) r = Rect{};
  return r;
}

void set_error(char error[128], std::string_view text) {
  if (error == nullptr) return;
  const size_t length = std::min<size_t>(text.size(), 127);
  std::memcpy(error, text.data(), length);
  error[length] = '\0';
}

}  // namespace varnel::decode

extern "C" void MacBin_FreePixels(MacBinPixels *pixels) {
  if (pixels == nullptr) return;
  std::free(pixels->rgba);
  *pixels = MacBinPixels{};
}
