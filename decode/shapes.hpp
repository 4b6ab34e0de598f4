// Private to decode/: the pixels a QuickDraw shape covers, as runs of
// pixels row by row, in the picture's coordinates.  Coordinates are the
// grid lines between pixels: pixel (x, y) lies between lines x and x + 1,
// y and y + 1, so a rectangle covers the pixels inside its lines, and a
// curved or slanted shape the pixels whose centres it holds.
//
// Every builder takes a window (the part of the picture that can be seen)
// and makes rows and runs inside it only: a shape costs at most the
// window's rows, however large its stated size.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "decode/internal.hpp"

namespace varnel::decode {

struct Point {
  int32_t x = 0, y = 0;
};

// Pixels [left, right) of a row.
struct Span {
  int32_t left = 0, right = 0;
};

// Rows top() to bottom() - 1, each a list of runs, ascending and apart.
class SpanRows {
 public:
  SpanRows() { starts_.push_back(0); }
  explicit SpanRows(int32_t top) : top_(top) { starts_.push_back(0); }

  int32_t top() const { return top_; }
  int32_t bottom() const { return top_ + static_cast<int32_t>(starts_.size() - 1); }
  bool empty() const { return spans_.empty(); }
  std::span<const Span> row(int32_t y) const {
    if (y < top() || y >= bottom()) return {};
    const auto index = static_cast<size_t>(y - top_);
    return std::span<const Span>(spans_).subspan(starts_[index], starts_[index + 1] - starts_[index]);
  }
  // Pixels covered in all.
  int64_t area() const;

  // Building: runs of the current row, left to right, then end_row().
  void add(int32_t left, int32_t right) {
    if (left >= right) return;
    if (spans_.size() > starts_.back() && spans_.back().right >= left) {
      spans_.back().right = std::max(spans_.back().right, right);
      return;
    }
    spans_.push_back(Span{left, right});
  }
  void end_row() { starts_.push_back(static_cast<uint32_t>(spans_.size())); }

 private:
  int32_t top_ = 0;
  std::vector<Span> spans_;
  std::vector<uint32_t> starts_;  // row i's runs: spans_[starts_[i], starts_[i + 1])
};

SpanRows rect_spans(const Rect &rect, const Rect &window);
SpanRows oval_spans(const Rect &rect, const Rect &window);
// Corners are quarters of an oval `oval_width` x `oval_height` (each at
// most the rectangle's side).
SpanRows round_rect_spans(const Rect &rect, int32_t oval_width, int32_t oval_height, const Rect &window);
// The pixels of `shape` whose centres lie in the wedge of `rect`'s oval
// from `start` degrees through `arc` degrees (clockwise from 12 o'clock;
// a negative arc goes the other way).  Angles are scaled to the rectangle:
// 45 degrees points at its top right corner.
SpanRows wedge_of(const SpanRows &shape, const Rect &rect, int32_t start, int32_t arc);
// Pixels whose centres lie inside the polygon, counting crossings of its
// edges (odd: inside); the polygon is closed from its last point to its
// first.  `work` grows by the edge tests made.
SpanRows polygon_spans(std::span<const Point> points, const Rect &window, int64_t &work);
// A line drawn with a pen `pen_width` x `pen_height` that hangs below and
// to the right of each point of the line, both ends included.
SpanRows line_spans(Point from, Point to, int32_t pen_width, int32_t pen_height, const Rect &window);
SpanRows region_spans(Region &region, const Rect &window);
// `shape` less the pixels whose neighbourhood of `dx` columns and `dy` rows
// each way lies wholly inside it: the frame a pen dx x dy draws.
SpanRows inner_edge(const SpanRows &shape, int32_t dx, int32_t dy, const Rect &window);
// Pixels of `a` that are not in `b`.
SpanRows subtract(const SpanRows &a, const SpanRows &b);
// Pixels in both.
SpanRows intersect(const SpanRows &a, const SpanRows &b);

}  // namespace varnel::decode
