// QuickDraw regions:
//    0 size (2, the whole region, this word included)
//    2 bounding box (8)
//   10 scan lines, when the size is more than 10: a row y, the x positions
//      where that row starts to differ from the row above (ascending), and
//      0x7FFF; then 0x7FFF ends the region.
// Each row is the row above with its membership inverted between every
// second pair of points; rows without a scan line repeat the row above.
// Only the part inside a window (the picture's frame) is made into bits,
// so a region costs at most one bit per pixel of the frame.
#include <algorithm>

#include "decode/internal.hpp"

namespace varnel::decode {
namespace {

constexpr size_t kRectangularRegionBytes = 10;
constexpr int32_t kRegionEnd = 0x7FFF;

// Inverts bits [from, to) of a row of 64-bit words.
void invert_bits(uint64_t *row, size_t from, size_t to) {
  while (from < to && from % 64 != 0) {
    row[from / 64] ^= uint64_t{1} << (from % 64);
    ++from;
  }
  while (from + 64 <= to) {
    row[from / 64] = ~row[from / 64];
    from += 64;
  }
  while (from < to) {
    row[from / 64] ^= uint64_t{1} << (from % 64);
    ++from;
  }
}

}  // namespace

Region Region::of_rect(const Rect &rect) {
  Region region;
  region.unbounded_ = false;
  region.box_ = rect;
  return region;
}

Region Region::read(Reader &reader, const Rect &window) {
  const size_t start = reader.position();
  const uint32_t size = reader.u16();
  if (size < kRectangularRegionBytes)
    throw DecodeError("region of " + std::to_string(size) + " bytes (at least 10)");
  reader.need(size - 2);
  Region region = of_rect(read_rect(reader));
  region.window_ = window;
  if (size > kRectangularRegionBytes) {
    region.rectangular_ = false;
    const std::span<const uint8_t> lines = reader.bytes(size - kRectangularRegionBytes);
    region.scan_lines_.assign(lines.begin(), lines.end());
  }
  reader.seek(start + size);
  return region;
}

void Region::rasterise() {
  rasterised_ = true;
  const Rect area = intersect(box_, window_);
  bits_.clear();
  if (area.empty()) {
    box_ = Rect{};
    return;
  }
  const auto columns = static_cast<size_t>(area.width());
  words_per_row_ = (columns + 63) / 64;
  bits_.assign(words_per_row_ * static_cast<size_t>(area.height()), 0);
  std::vector<uint64_t> current(words_per_row_, 0);
  std::vector<int32_t> points;

  Reader reader(scan_lines_, "a region");
  int32_t filled_to = area.top;  // rows above this one hold their bits
  const auto fill_rows_to = [&](int32_t y) {
    for (; filled_to < std::min(y, area.bottom); ++filled_to)
      std::copy(current.begin(), current.end(),
                bits_.begin() + static_cast<ptrdiff_t>(static_cast<size_t>(filled_to - area.top) * words_per_row_));
  };
  int32_t last_y = INT32_MIN;
  while (reader.remaining() >= 2) {
    const int32_t y = reader.s16();
    if (y == kRegionEnd) break;
    if (y < last_y) throw DecodeError("region with scan lines out of order");
    last_y = y;
    points.clear();
    for (;;) {
      const int32_t x = reader.s16();
      if (x == kRegionEnd) break;
      points.push_back(x);
    }
    if (y >= area.top) fill_rows_to(y);
    std::sort(points.begin(), points.end());
    for (size_t i = 0; i < points.size(); i += 2) {
      const int32_t from = std::clamp(points[i], area.left, area.right);
      const int32_t to = i + 1 < points.size() ? std::clamp(points[i + 1], area.left, area.right)
                                               : area.right;
      invert_bits(current.data(), static_cast<size_t>(from - area.left),
                  static_cast<size_t>(to - area.left));
    }
    if (y < area.top) filled_to = area.top;
  }
  fill_rows_to(area.bottom);
  box_ = area;
}

bool Region::contains(int32_t x, int32_t y) {
  if (unbounded_) return true;
  x -= shift_x_, y -= shift_y_;
  if (!rectangular_ && !rasterised_) rasterise();
  if (x < box_.left || x >= box_.right || y < box_.top || y >= box_.bottom) return false;
  if (rectangular_) return true;
  const size_t column = static_cast<size_t>(x - box_.left);
  return (bits_[static_cast<size_t>(y - box_.top) * words_per_row_ + column / 64] >> (column % 64)) & 1;
}

}  // namespace varnel::decode
