// Drawing pixel images into a picture's canvas.  A source row is decoded,
// then copied to every canvas row that the scaling from the source to the
// destination rectangle gives it (nearest neighbour), pixel by pixel
// through the clip region, the image's mask region and the transfer mode.
// Only one source row is held at a time, whatever the image's size.
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

}  // namespace

PictureCanvas::PictureCanvas(const Rect &frame, const Rect &coordinates)
    : coordinates_(coordinates), canvas_(frame.width(), frame.height(), kWhite) {}

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

bool PictureCanvas::draw_pixels(Reader &reader, const PixelImage &image, PortState &state) {
  const PixelMap &map = image.map;
  const uint32_t mode = image.mode & ~kDitherFlag;
  const bool drawn_mode = mode <= kSrcBic;
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
    for (int32_t y = y_from; y < y_to; ++y) {
      const int32_t picture_y = to_picture_y(y);
      for (int32_t x = x_from; x < x_to; ++x) {
        const int32_t column = source_column[static_cast<size_t>(x - x_from)];
        if (column < 0 || column >= width) continue;
        const int32_t picture_x = to_picture_x(x);
        if (!state.clip.contains(picture_x, picture_y)) continue;
        if (image.mask != nullptr && !image.mask->contains(picture_x, picture_y)) continue;
        const Rgba source = row[static_cast<size_t>(column)];
        switch (drawn_mode ? mode : kSrcCopy) {
          case kSrcCopy: canvas_.set(x, y, source); break;
          case kSrcOr:
            if (!(source == clear)) canvas_.set(x, y, source);
            break;
          case kSrcXor:
            if (!(source == clear)) canvas_.set(x, y, inverted(canvas_.get(x, y)));
            break;
          default:  // kSrcBic
            if (!(source == clear)) canvas_.set(x, y, state.background);
            break;
        }
      }
    }
  }
  return drawn_mode;
}

}  // namespace varnel::decode
