// Drawing into a picture's canvas.  Each canvas pixel stands for the
// picture point at its centre (the same point when the picture's own
// coordinates are its frame, as they nearly always are); a shape or an
// image covers the canvas pixels whose points it covers.
//
// Pixel images: a source row is decoded, then copied to every canvas row
// that the scaling from the source to the destination rectangle gives it
// (nearest neighbour), pixel by pixel through the clip region, the image's
// mask region and the transfer mode.  Only one source row is held at a
// time, whatever the image's size.
#include <algorithm>
#include <vector>

#include "decode/pict_drawing.hpp"

namespace varnel::decode {
namespace {

int64_t floor_div(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
int64_t ceil_div(int64_t a, int64_t b) { return -floor_div(-a, b); }

Rgba inverted(Rgba colour) {
  return Rgba{static_cast<uint8_t>(255 - colour.red), static_cast<uint8_t>(255 - colour.green),
              static_cast<uint8_t>(255 - colour.blue), colour.alpha};
}

uint8_t pin_high(uint32_t sum, uint32_t pin) { return static_cast<uint8_t>(std::min(sum, pin >> 8)); }
uint8_t pin_low(int32_t difference, uint32_t pin) {
  return static_cast<uint8_t>(std::max(difference, static_cast<int32_t>(pin >> 8)));
}
uint8_t blend(uint32_t source, uint32_t destination, uint32_t weight) {
  return static_cast<uint8_t>((source * weight + destination * (65535 - weight) + 32767) / 65535);
}

// Mixes the source colour `ink` (`set`: a set bit of a bit source, or a
// colour that is not white) into the canvas pixel `p` by `mode`, whose
// "not" forms the caller has already applied.
inline void mix(uint8_t *p, Rgba ink, bool set, uint32_t mode, const PortState &state) {
  const Rgba was{p[0], p[1], p[2], p[3]};
  Rgba out = was;
  switch (mode) {
    case kSrcCopy: out = ink; break;
    case kSrcOr: if (set) out = ink; break;
    case kSrcXor: if (set) out = inverted(was); break;
    case kSrcBic: if (set) out = state.background; break;
    case kBlend:
      out = Rgba{blend(ink.red, was.red, state.op_colour.red), blend(ink.green, was.green, state.op_colour.green),
                 blend(ink.blue, was.blue, state.op_colour.blue), 0xFF};
      break;
    case kAddPin:
      out = Rgba{pin_high(uint32_t{ink.red} + was.red, state.op_colour.red),
                 pin_high(uint32_t{ink.green} + was.green, state.op_colour.green),
                 pin_high(uint32_t{ink.blue} + was.blue, state.op_colour.blue), 0xFF};
      break;
    case kAddOver:
      out = Rgba{static_cast<uint8_t>(ink.red + was.red), static_cast<uint8_t>(ink.green + was.green),
                 static_cast<uint8_t>(ink.blue + was.blue), 0xFF};
      break;
    case kSubPin:
      out = Rgba{pin_low(int32_t{was.red} - ink.red, state.op_colour.red),
                 pin_low(int32_t{was.green} - ink.green, state.op_colour.green),
                 pin_low(int32_t{was.blue} - ink.blue, state.op_colour.blue), 0xFF};
      break;
    case kTransparent: if (!(ink == state.background)) out = ink; break;
    case kAddMax:
      out = Rgba{std::max(ink.red, was.red), std::max(ink.green, was.green), std::max(ink.blue, was.blue), 0xFF};
      break;
    case kSubOver:
      out = Rgba{static_cast<uint8_t>(was.red - ink.red), static_cast<uint8_t>(was.green - ink.green),
                 static_cast<uint8_t>(was.blue - ink.blue), 0xFF};
      break;
    case kAddMin:
      out = Rgba{std::min(ink.red, was.red), std::min(ink.green, was.green), std::min(ink.blue, was.blue), 0xFF};
      break;
    case kHilite:
      // Swaps the background colour and the highlight colour where the
      // source is set.
      if (set && was == state.background) out = state.hilite;
      else if (set && was == state.hilite) out = state.background;
      break;
    default: break;
  }
  p[0] = out.red, p[1] = out.green, p[2] = out.blue, p[3] = out.alpha;
}

// The operation of a mode after its "not" form is taken apart: the pattern
// modes become the source ones.
struct Operation {
  uint32_t mode = kSrcCopy;
  bool inverts = false;  // the source is inverted first
};
Operation operation_of(uint32_t mode) {
  mode &= ~kDitherFlag;
  if (mode < 16) return Operation{mode & 3, (mode & 4) != 0};
  if (!is_drawn_mode(mode)) return Operation{};
  return Operation{mode, false};
}

// The canvas columns [first, last) whose picture points fall in [from, to).
struct ColumnRange {
  size_t first = 0, last = 0;
};
ColumnRange columns_of(const std::vector<int32_t> &points, int32_t from, int32_t to) {
  const auto first = std::lower_bound(points.begin(), points.end(), from);
  const auto last = std::lower_bound(first, points.end(), to);
  return ColumnRange{static_cast<size_t>(first - points.begin()), static_cast<size_t>(last - points.begin())};
}

}  // namespace

bool is_drawn_mode(uint32_t mode) {
  mode &= ~kDitherFlag;
  return mode < 16 || (mode >= kBlend && mode <= kAddMin) || mode == kHilite;
}

PictureCanvas::PictureCanvas(const Rect &frame, const Rect &coordinates, int64_t work_per_pixel)
    : coordinates_(coordinates), canvas_(frame.width(), frame.height(), kWhite) {
  identity_ = coordinates_.width() == canvas_.width() && coordinates_.height() == canvas_.height();
  picture_x_.resize(static_cast<size_t>(canvas_.width()));
  picture_y_.resize(static_cast<size_t>(canvas_.height()));
  for (int32_t x = 0; x < canvas_.width(); ++x) picture_x_[static_cast<size_t>(x)] = to_picture_x(x);
  for (int32_t y = 0; y < canvas_.height(); ++y) picture_y_[static_cast<size_t>(y)] = to_picture_y(y);
  // At least a few full-canvas operations' worth for small pictures; for
  // large ones at most about a second's work, but never less than four
  // visits a pixel.
  constexpr int64_t kMinimumBudget = int64_t{1} << 22, kLargeBudget = int64_t{1} << 30;
  const int64_t pixels = int64_t{canvas_.width()} * canvas_.height();
  budget_ = std::clamp(pixels * work_per_pixel, kMinimumBudget, std::max(kLargeBudget, 4 * pixels));
}

void PictureCanvas::spend(int64_t pixels) {
  budget_ -= pixels;
  if (budget_ < 0) throw WorkExhausted();
}

int32_t PictureCanvas::to_canvas_x(int32_t x) const {
  return static_cast<int32_t>(floor_div(int64_t{x - coordinates_.left} * canvas_.width(), coordinates_.width()));
}
int32_t PictureCanvas::to_canvas_y(int32_t y) const {
  return static_cast<int32_t>(floor_div(int64_t{y - coordinates_.top} * canvas_.height(), coordinates_.height()));
}
// The picture point at the centre of a canvas pixel.
int32_t PictureCanvas::to_picture_x(int32_t x) const {
  return coordinates_.left +
         static_cast<int32_t>(floor_div((2 * int64_t{x} + 1) * coordinates_.width(), 2 * int64_t{canvas_.width()}));
}
int32_t PictureCanvas::to_picture_y(int32_t y) const {
  return coordinates_.top +
         static_cast<int32_t>(floor_div((2 * int64_t{y} + 1) * coordinates_.height(), 2 * int64_t{canvas_.height()}));
}

Rect PictureCanvas::visible(PortState &state) const {
  if (state.clip.unbounded()) return coordinates_;
  return intersect(coordinates_, state.clip.box());
}

bool PictureCanvas::fill(const SpanRows &shape, const Pattern &pattern, uint32_t mode, PortState &state) {
  const Operation operation = operation_of(mode);
  const bool exact_clip = state.clip.is_rectangle();
  const bool tiled = !pattern.tile.empty();
  const ColumnRange rows = columns_of(picture_y_, shape.top(), shape.bottom());
  for (size_t cy = rows.first; cy < rows.last; ++cy) {
    const int32_t y = picture_y_[cy];
    const auto pattern_row = static_cast<uint32_t>(y) & 7;
    const uint32_t bits = pattern.bits[pattern_row];
    const Rgba *tile_row = nullptr;
    if (tiled) {
      const int32_t ty = static_cast<int32_t>(floor_div(y, pattern.tile_height) * -pattern.tile_height) + y;
      tile_row = pattern.tile.data() + static_cast<size_t>(ty) * static_cast<size_t>(pattern.tile_width);
    }
    for (const Span &span : shape.row(y)) {
      const ColumnRange columns = columns_of(picture_x_, span.left, span.right);
      spend(static_cast<int64_t>(columns.last - columns.first));
      uint8_t *p = canvas_.pixel(static_cast<int32_t>(columns.first), static_cast<int32_t>(cy));
      for (size_t cx = columns.first; cx < columns.last; ++cx, p += 4) {
        const int32_t x = picture_x_[cx];
        if (!exact_clip && !state.clip.contains(x, y)) continue;
        Rgba ink;
        bool set;
        if (tiled) {
          const int32_t tx = static_cast<int32_t>(floor_div(x, pattern.tile_width) * -pattern.tile_width) + x;
          ink = tile_row[tx];
          set = !(ink == kWhite);
          if (operation.inverts) ink = inverted(ink), set = !set;
        } else {
          set = ((bits >> (7 - (static_cast<uint32_t>(x) & 7))) & 1) != 0;
          if (operation.inverts) set = !set;
          ink = set ? state.foreground : state.background;
        }
        mix(p, ink, set, operation.mode, state);
      }
    }
  }
  return is_drawn_mode(mode);
}

bool PictureCanvas::draw_mask(const std::vector<uint8_t> &bits, int32_t width, int32_t height, int32_t x0,
                              int32_t y0, uint32_t mode, PortState &state) {
  const Operation operation = operation_of(mode);
  const ColumnRange rows = columns_of(picture_y_, y0, y0 + height);
  const ColumnRange columns = columns_of(picture_x_, x0, x0 + width);
  for (size_t cy = rows.first; cy < rows.last; ++cy) {
    const int32_t y = picture_y_[cy];
    spend(static_cast<int64_t>(columns.last - columns.first));
    const uint8_t *row = bits.data() + static_cast<size_t>(y - y0) * static_cast<size_t>(width);
    for (size_t cx = columns.first; cx < columns.last; ++cx) {
      const int32_t x = picture_x_[cx];
      if (!state.clip.contains(x, y)) continue;
      bool set = row[x - x0] != 0;
      if (operation.inverts) set = !set;
      mix(canvas_.pixel(static_cast<int32_t>(cx), static_cast<int32_t>(cy)), set ? state.foreground : state.background,
          set, operation.mode, state);
    }
  }
  return is_drawn_mode(mode);
}

bool PictureCanvas::draw_pixels(Reader &reader, const PixelImage &image, PortState &state) {
  const PixelMap &map = image.map;
  const Operation operation = operation_of(image.mode);
  // What counts as a set source pixel for srcOr, srcXor and srcBic: not the
  // background of a bit map, not white in a pixel map.
  const Rgba clear = map.is_pixel_map ? kWhite : state.background;

  const Rect &src = image.source;
  const Rect dst{to_canvas_y(image.destination.top), to_canvas_x(image.destination.left),
                 to_canvas_y(image.destination.bottom), to_canvas_x(image.destination.right)};
  const bool visible = !src.empty() && !dst.empty();

  // Source column of each canvas column the destination covers.
  const int32_t x_from = std::max(dst.left, 0), x_to = std::min(dst.right, canvas_.width());
  std::vector<int32_t> source_column;
  if (visible)
    for (int32_t x = x_from; x < x_to; ++x)
      source_column.push_back(
          src.left + static_cast<int32_t>(floor_div(int64_t{x - dst.left} * src.width(), dst.width())) -
          map.bounds.left);

  PixelRows rows(map, image.table, image.packed, state.foreground, state.background);
  std::vector<Rgba> row(static_cast<size_t>(map.bounds.width()));
  const int32_t width = map.bounds.width();
  for (int32_t r = map.bounds.top; r < map.bounds.bottom; ++r) {
    rows.next(reader, row);
    if (!visible || r < src.top || r >= src.bottom) continue;
    const int64_t offset = r - src.top;
    const auto y_from = static_cast<int32_t>(
        std::max<int64_t>(dst.top + ceil_div(offset * dst.height(), src.height()), 0));
    const auto y_to = static_cast<int32_t>(
        std::min<int64_t>(dst.top + ceil_div((offset + 1) * dst.height(), src.height()), canvas_.height()));
    if (y_to > y_from) spend(int64_t{y_to - y_from} * (x_to - x_from));
    // A rectangular clip (the usual case) narrows the columns once a row;
    // other clips and mask regions are asked pixel by pixel.
    int32_t clip_from = x_from, clip_to = x_to;
    const bool exact_clip = state.clip.is_rectangle();
    const Rect clip_box = PictureCanvas::visible(state);
    if (exact_clip) {
      const ColumnRange inside = columns_of(picture_x_, clip_box.left, clip_box.right);
      clip_from = std::max(clip_from, static_cast<int32_t>(inside.first));
      clip_to = std::min(clip_to, static_cast<int32_t>(inside.last));
    }
    const bool plain_copy = exact_clip && image.mask == nullptr && operation.mode == kSrcCopy && !operation.inverts;
    for (int32_t y = y_from; y < y_to; ++y) {
      const int32_t picture_y = picture_y_[static_cast<size_t>(y)];
      if (exact_clip && (picture_y < clip_box.top || picture_y >= clip_box.bottom)) continue;
      if (plain_copy) {
        uint8_t *p = canvas_.pixel(clip_from, y);
        for (int32_t x = clip_from; x < clip_to; ++x, p += 4) {
          const int32_t column = source_column[static_cast<size_t>(x - x_from)];
          if (column < 0 || column >= width) continue;
          const Rgba source = row[static_cast<size_t>(column)];
          p[0] = source.red, p[1] = source.green, p[2] = source.blue, p[3] = source.alpha;
        }
        continue;
      }
      for (int32_t x = clip_from; x < clip_to; ++x) {
        const int32_t column = source_column[static_cast<size_t>(x - x_from)];
        if (column < 0 || column >= width) continue;
        const int32_t picture_x = picture_x_[static_cast<size_t>(x)];
        if (!exact_clip && !state.clip.contains(picture_x, picture_y)) continue;
        if (image.mask != nullptr && !image.mask->contains(picture_x, picture_y)) continue;
        Rgba source = row[static_cast<size_t>(column)];
        bool set = !(source == clear);
        if (operation.inverts) {
          // A bit map's set pixels take the background colour, its clear
          // ones the foreground; a pixel map's colours are inverted.
          source = map.is_pixel_map ? inverted(source) : set ? state.background : state.foreground;
          set = !set;
        }
        mix(canvas_.pixel(x, y), source, set, operation.mode, state);
      }
    }
  }
  return is_drawn_mode(image.mode);
}

}  // namespace varnel::decode
