// Shapes as runs of pixels (see shapes.hpp for the pixel rules).
#include <algorithm>
#include <cmath>

#include "decode/shapes.hpp"

namespace varnel::decode {
namespace {

// Rows of `rect` inside `window`, as [first, last).
struct RowRange {
  int32_t first = 0, last = 0;
};
RowRange rows_in(const Rect &rect, const Rect &window) {
  RowRange range{std::max(rect.top, window.top), std::min(rect.bottom, window.bottom)};
  if (range.last < range.first) range.last = range.first;
  return range;
}

void add_clipped(SpanRows &rows, int64_t left, int64_t right, const Rect &window) {
  rows.add(static_cast<int32_t>(std::max<int64_t>(left, window.left)),
           static_cast<int32_t>(std::min<int64_t>(right, window.right)));
}

// How many pixels each end of row `row` (0 = the top row) of an oval
// `width` x `height` leaves out: those whose centres lie outside it.
// Rows mirror about the middle, so the top and bottom rows give the same.
int64_t oval_inset(int64_t row, int64_t width, int64_t height) {
  if (row >= height - row - 1) row = height - 1 - row;  // the nearer half
  const double dy = (static_cast<double>(row) + 0.5 - static_cast<double>(height) / 2) / (static_cast<double>(height) / 2);
  const double t = 1.0 - dy * dy;
  if (t <= 0) return (width + 1) / 2;
  const double half = static_cast<double>(width) / 2 * std::sqrt(t);
  // Pixels with centres at x + 0.5 < width / 2 - half are out.
  const double out = std::ceil(static_cast<double>(width) / 2 - half - 0.5 - 1e-9);
  return std::clamp<int64_t>(static_cast<int64_t>(out), 0, (width + 1) / 2);
}

// Clockwise angle from 12 o'clock, in degrees [0, 360), of a pixel centre
// `dx`, `dy` from the centre of an oval `width` x `height` (scaled so that
// the rectangle's corners are at 45 degrees).
double scaled_angle(double dx, double dy, double width, double height) {
  double degrees = std::atan2(dx / width, -dy / height) * 180.0 / 3.14159265358979323846;
  if (degrees < 0) degrees += 360.0;
  return degrees;
}

}  // namespace

int64_t SpanRows::area() const {
  int64_t total = 0;
  for (const Span &span : spans_) total += span.right - span.left;
  return total;
}

SpanRows rect_spans(const Rect &rect, const Rect &window) {
  const RowRange range = rows_in(rect, window);
  SpanRows rows(range.first);
  if (rect.empty()) return rows;
  for (int32_t y = range.first; y < range.last; ++y) {
    add_clipped(rows, rect.left, rect.right, window);
    rows.end_row();
  }
  return rows;
}

SpanRows round_rect_spans(const Rect &rect, int32_t oval_width, int32_t oval_height, const Rect &window) {
  const RowRange range = rows_in(rect, window);
  SpanRows rows(range.first);
  if (rect.empty()) return rows;
  const int64_t width = rect.width(), height = rect.height();
  const int64_t ow = std::clamp<int64_t>(oval_width, 0, width), oh = std::clamp<int64_t>(oval_height, 0, height);
  for (int32_t y = range.first; y < range.last; ++y) {
    const int64_t from_top = y - rect.top, from_bottom = rect.bottom - 1 - y;
    const int64_t nearer = std::min(from_top, from_bottom);
    int64_t inset = 0;
    if (ow > 0 && oh > 0 && nearer < (oh + 1) / 2) inset = oval_inset(nearer, ow, oh);
    add_clipped(rows, rect.left + inset, rect.right - inset, window);
    rows.end_row();
  }
  return rows;
}

SpanRows oval_spans(const Rect &rect, const Rect &window) {
  return round_rect_spans(rect, rect.width(), rect.height(), window);
}

SpanRows wedge_of(const SpanRows &shape, const Rect &rect, int32_t start, int32_t arc) {
  SpanRows rows(shape.top());
  if (arc == 0) return rows;
  if (arc >= 360 || arc <= -360) return shape;
  // The wedge as [from, from + length) degrees clockwise.
  double from = arc > 0 ? start : start + arc;
  from = std::fmod(from, 360.0);
  if (from < 0) from += 360.0;
  const double length = std::abs(arc);
  const double cx = (static_cast<double>(rect.left) + rect.right) / 2, cy = (static_cast<double>(rect.top) + rect.bottom) / 2;
  const double width = std::max(rect.width(), 1), height = std::max(rect.height(), 1);
  for (int32_t y = shape.top(); y < shape.bottom(); ++y) {
    for (const Span &span : shape.row(y)) {
      int32_t run = span.left;
      for (int32_t x = span.left; x < span.right; ++x) {
        double offset = scaled_angle(x + 0.5 - cx, y + 0.5 - cy, width, height) - from;
        if (offset < 0) offset += 360.0;
        if (offset >= length) {
          rows.add(run, x);
          run = x + 1;
        }
      }
      rows.add(run, span.right);
    }
    rows.end_row();
  }
  return rows;
}

SpanRows polygon_spans(std::span<const Point> points, const Rect &window, int64_t &work) {
  Rect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (const Point &p : points) {
    box.top = std::min(box.top, p.y), box.bottom = std::max(box.bottom, p.y);
    box.left = std::min(box.left, p.x), box.right = std::max(box.right, p.x);
  }
  const RowRange range = points.size() < 3 ? RowRange{} : rows_in(box, window);
  SpanRows rows(range.first);
  struct Edge {
    int64_t x0, y0, x1, y1;  // y0 < y1
  };
  std::vector<Edge> edges;
  for (size_t i = 0; i < points.size() && range.last > range.first; ++i) {
    const Point a = points[i], b = points[(i + 1) % points.size()];
    if (a.y == b.y) continue;
    edges.push_back(a.y < b.y ? Edge{a.x, a.y, b.x, b.y} : Edge{b.x, b.y, a.x, a.y});
  }
  std::sort(edges.begin(), edges.end(), [](const Edge &a, const Edge &b) { return a.y0 < b.y0; });
  std::vector<const Edge *> active;
  std::vector<int64_t> crossings;
  size_t next = 0;
  for (int32_t y = range.first; y < range.last; ++y) {
    // A row's centre line y + 1/2 crosses an edge with y0 <= y < y1.
    while (next < edges.size() && edges[next].y0 <= y) active.push_back(&edges[next++]);
    std::erase_if(active, [y](const Edge *e) { return e->y1 <= y; });
    crossings.clear();
    for (const Edge *e : active) {
      // x where the edge meets y + 1/2; the pixel x is in when its centre
      // x + 1/2 is right of a crossing: x >= ceil(cross - 1/2).
      const int64_t dy = e->y1 - e->y0, num = (2 * (y - e->y0) + 1) * (e->x1 - e->x0) + 2 * e->x0 * dy - dy;
      const int64_t den = 2 * dy;
      crossings.push_back(num >= 0 ? (num + den - 1) / den : -((-num) / den));
    }
    work += static_cast<int64_t>(active.size()) + 1;
    std::sort(crossings.begin(), crossings.end());
    for (size_t i = 0; i + 1 < crossings.size(); i += 2) add_clipped(rows, crossings[i], crossings[i + 1], window);
    rows.end_row();
  }
  return rows;
}

SpanRows line_spans(Point from, Point to, int32_t pen_width, int32_t pen_height, const Rect &window) {
  const Rect box{std::min(from.y, to.y), std::min(from.x, to.x), std::max(from.y, to.y) + pen_height,
                 std::max(from.x, to.x) + pen_width};
  const RowRange range = pen_width <= 0 || pen_height <= 0 ? RowRange{} : rows_in(box, window);
  SpanRows rows(range.first);
  if (range.last <= range.first) return rows;
  // The line's points: one a step along its longer axis, from its start,
  // the other coordinate moved by the step's share of the shorter one,
  // rounded half away from the start.
  const int64_t dx = int64_t{to.x} - from.x, dy = int64_t{to.y} - from.y;
  const int64_t adx = std::abs(dx), ady = std::abs(dy);
  const int64_t sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
  // The leftmost and rightmost x of the points on row `line_y`.
  const auto x_range_at = [&](int64_t line_y, int64_t &low, int64_t &high) {
    const int64_t t = (line_y - from.y) * sy;  // rows from the start
    if (ady == 0) {
      low = std::min(from.x, to.x), high = std::max(from.x, to.x);
    } else if (adx <= ady) {  // one point a row
      low = high = from.x + sx * ((2 * t * adx + ady) / (2 * ady));
    } else {
      // Step s lands on row t when (2t - 1) adx <= 2 s ady < (2t + 1) adx.
      const int64_t first = std::max<int64_t>(0, ((2 * t - 1) * adx + 2 * ady - 1) / (2 * ady));
      const int64_t last = std::min<int64_t>(adx, ((2 * t + 1) * adx + 2 * ady - 1) / (2 * ady) - 1);
      const int64_t xa = from.x + sx * first, xb = from.x + sx * last;
      low = std::min(xa, xb), high = std::max(xa, xb);
    }
  };
  const int64_t line_top = std::min(from.y, to.y), line_bottom = std::max(from.y, to.y);
  for (int32_t y = range.first; y < range.last; ++y) {
    // The pen at line row r covers rows r .. r + pen_height - 1.
    const int64_t first_row = std::max<int64_t>(int64_t{y} - pen_height + 1, line_top);
    const int64_t last_row = std::min<int64_t>(y, line_bottom);
    if (first_row <= last_row) {
      int64_t low_a, high_a, low_b, high_b;
      x_range_at(first_row, low_a, high_a);
      x_range_at(last_row, low_b, high_b);
      add_clipped(rows, std::min(low_a, low_b), std::max(high_a, high_b) + pen_width, window);
    }
    rows.end_row();
  }
  return rows;
}

SpanRows region_spans(Region &region, const Rect &window) {
  if (region.unbounded()) return rect_spans(window, window);
  region.contains(region.box().left, region.box().top);  // makes its bits
  const Rect box = intersect(region.box(), window);
  const RowRange range = rows_in(box, window);
  SpanRows rows(range.first);
  for (int32_t y = range.first; y < range.last; ++y) {
    int32_t run = box.left;
    bool inside = false;
    for (int32_t x = box.left; x < box.right; ++x) {
      const bool in = region.contains(x, y);
      if (in && !inside) run = x;
      if (!in && inside) rows.add(run, x);
      inside = in;
    }
    if (inside) rows.add(run, box.right);
    rows.end_row();
  }
  return rows;
}

SpanRows inner_edge(const SpanRows &shape, int32_t dx, int32_t dy, const Rect &window) {
  if (dx <= 0 || dy <= 0) return SpanRows(shape.top());
  const int32_t top = shape.top(), bottom = shape.bottom();
  int32_t left = window.right, right = window.left;
  for (int32_t y = top; y < bottom; ++y)
    for (const Span &span : shape.row(y)) left = std::min(left, span.left), right = std::max(right, span.right);
  const int64_t rows_count = bottom - top;
  // A pen as wide or as high as the shape leaves nothing inside.
  if (right <= left || 2 * int64_t{dy} + 1 > rows_count || 2 * int64_t{dx} + 1 > int64_t{right} - left)
    return shape;
  // Runs shrunk by dx at each end; a pixel is inner when rows y - dy to
  // y + dy all keep it: the count of kept rows ending at row y + dy is at
  // least 2 dy + 1.  One pass, one count per column.
  const auto width = static_cast<size_t>(right - left);
  std::vector<int64_t> kept(width, 0);
  std::vector<uint8_t> bits(width);
  SpanRows inner(top);
  for (int64_t r = 0; r < rows_count + dy; ++r) {
    std::fill(bits.begin(), bits.end(), 0);
    if (r < rows_count)
      for (const Span &span : shape.row(static_cast<int32_t>(top + r)))
        for (int64_t x = int64_t{span.left} + dx; x < int64_t{span.right} - dx; ++x)
          bits[static_cast<size_t>(x - left)] = 1;
    for (size_t x = 0; x < width; ++x) kept[x] = bits[x] ? kept[x] + 1 : 0;
    if (r < dy) continue;
    int32_t run = 0;
    bool in_run = false;
    for (size_t x = 0; x < width; ++x) {
      const bool in = kept[x] >= 2 * int64_t{dy} + 1;
      const auto px = left + static_cast<int32_t>(x);
      if (in && !in_run) run = px, in_run = true;
      if (!in && in_run) inner.add(run, px), in_run = false;
    }
    if (in_run) inner.add(run, right);
    inner.end_row();
  }
  return subtract(shape, inner);
}

SpanRows subtract(const SpanRows &a, const SpanRows &b) {
  SpanRows rows(a.top());
  for (int32_t y = a.top(); y < a.bottom(); ++y) {
    const std::span<const Span> cut = b.row(y);
    size_t c = 0;
    for (const Span &span : a.row(y)) {
      int32_t from = span.left;
      while (c < cut.size() && cut[c].right <= from) ++c;
      size_t k = c;
      while (k < cut.size() && cut[k].left < span.right) {
        rows.add(from, cut[k].left);
        from = std::max(from, cut[k].right);
        ++k;
      }
      rows.add(from, span.right);
    }
    rows.end_row();
  }
  return rows;
}

SpanRows intersect(const SpanRows &a, const SpanRows &b) {
  SpanRows rows(a.top());
  for (int32_t y = a.top(); y < a.bottom(); ++y) {
    const std::span<const Span> other = b.row(y);
    for (const Span &span : a.row(y))
      for (const Span &o : other) rows.add(std::max(span.left, o.left), std::min(span.right, o.right));
    rows.end_row();
  }
  return rows;
}

}  // namespace varnel::decode
